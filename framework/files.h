// Files of the Win32 side: whether a path names an existing file, and the
// owned file handle.
#pragma once

#include <windows.h>

#include <string>

#include "framework/owned_handle.h"

namespace qv {

// True only for an existing file (a folder of that name does not count).
// An empty removable drive answers false at once, without the system's
// "insert a disk" box.
bool FileExistsAt(const std::string& path);

// An open file that closes itself (framework/owned_handle.h): the one way
// this program holds a file handle (the download file, the history file,
// the trace and log dumps).
//
//   OwnedFile file = OpenOwnedFile(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
//   if (!file) return GetLastError();
//   WriteFile(file.Get(), ...);
//   return file.Close();   // 0, or the error the close met
struct FileCloser {
    using Handle = HANDLE;
    using Result = DWORD;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    Result Close(Handle h) const;  // 0, or the error of the close
};
using OwnedFile = OwnedHandle<FileCloser>;

// CreateFileW with the path converted from the program's code page; not
// valid when it failed (GetLastError says why).
OwnedFile OpenOwnedFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                        DWORD attributes = FILE_ATTRIBUTE_NORMAL);

}  // namespace qv
