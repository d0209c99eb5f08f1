#include "framework/win32_text.h"

namespace qv {

namespace {
UINT Usable(UINT codePage) { return IsValidCodePage(codePage) ? codePage : CP_ACP; }
}  // namespace

std::wstring ToWide(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    UINT cp = Usable(codePage);
    int n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string FromWide(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    UINT cp = Usable(codePage);
    int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace qv
