#include "app/file_api_name.h"

#include <windows.h>

#include "app/staging_names.h"
#include "framework/win32_text.h"

namespace qv {

std::wstring FileApiName(const std::string& path) {
    std::wstring wide = ToWide(path);
    if (wide.size() >= MAX_PATH - 1) {
        std::string longForm = LongPathForm(path);
        if (!longForm.empty()) return ToWide(longForm);
    }
    return wide;
}

std::string SystemNameFold(std::string_view name) {
    std::wstring wide = ToWide(name);
    if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return FromWide(wide, CP_UTF8);
}

}  // namespace qv
