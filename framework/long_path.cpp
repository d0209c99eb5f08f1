#include "framework/long_path.h"

namespace qv {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::wstring ExtendedLengthPath(std::wstring_view path) {
    if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != L':' || !IsSeparator(path[2])) return {};
    std::wstring out = L"\\\\?\\";
    out += path.substr(0, 2);
    // The parts between separators, in order; UTF-16 text has no byte that
    // could be taken for a separator inside a character.
    size_t start = 3;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::wstring_view part = path.substr(start, end - start);
        if (part == L"..") return {};
        if (!part.empty() && part != L".") {
            out += L'\\';
            out += part;
        }
        start = end + 1;
    }
    if (IsSeparator(path.back()) || out.size() == 6) out += L'\\';
    return out;
}

std::wstring FileFunctionPath(std::wstring_view path) {
    if (path.size() < kExtendedFromLength) return std::wstring(path);
    std::wstring extended = ExtendedLengthPath(path);
    return extended.empty() ? std::wstring(path) : extended;
}

}  // namespace qv
