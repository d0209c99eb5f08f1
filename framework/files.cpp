#include "framework/files.h"

#include <windows.h>

#include "framework/win32_text.h"

namespace qv {

bool FileExistsAt(const std::string& path) {
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    SetErrorMode(oldMode);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace qv
