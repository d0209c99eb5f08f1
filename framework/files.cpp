#include "framework/files.h"

#include "framework/win32_text.h"

namespace qv {

bool FileExistsAt(const std::string& path) {
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    SetErrorMode(oldMode);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

OwnedFile OpenOwnedFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
    return OwnedFile(CreateFileW(ToWide(path).c_str(), access, share, nullptr, disposition, attributes, nullptr));
}

DWORD FileCloser::Close(HANDLE h) const {
    if (CloseHandle(h)) return 0;
    DWORD e = GetLastError();
    return e ? e : ERROR_WRITE_FAULT;
}

}  // namespace qv
