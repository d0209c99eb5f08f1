#include "app/file_api_name.h"

#include <windows.h>

#include "framework/win32_text.h"

namespace qv {

std::string SystemNameFold(std::string_view name) {
    std::wstring wide = ToWide(name);
    if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return FromWide(wide, CP_UTF8);
}

}  // namespace qv
