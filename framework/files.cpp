#include "framework/files.h"

#include "framework/long_path.h"
#include "framework/win32_text.h"

namespace qv {

std::wstring FileApiPath(const std::string& path) { return FileFunctionPath(ToWide(path)); }

bool FileExistsAt(const std::string& path) {
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD attributes = GetFileAttributesW(FileApiPath(path).c_str());
    SetErrorMode(oldMode);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

OwnedFile OpenOwnedFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
    return OwnedFile(CreateFileW(FileApiPath(path).c_str(), access, share, nullptr, disposition, attributes, nullptr));
}

DWORD FileCloser::Close(HANDLE h) const {
    if (CloseHandle(h)) return 0;
    DWORD e = GetLastError();
    return e ? e : ERROR_WRITE_FAULT;
}

}  // namespace qv
