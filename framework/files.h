// Files of the Win32 side: the name a path is given to the file functions
// by, whether a path names an existing file, and the owned file handle.
#pragma once

#include <windows.h>

#include <string>

#include "framework/owned_handle.h"

namespace qv {

// The UTF-16 name the file functions take for a path of the program's text:
// the one rule for paths beyond the classic length limit
// (framework/long_path.h). Every function here goes through it; code that
// calls a file function itself (FindFirstFileW, MoveFileExW ...) passes
// FileApiPath(path).c_str().
std::wstring FileApiPath(const std::string& path);

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

// CreateFileW with FileApiPath(path); not valid when it failed
// (GetLastError says why).
OwnedFile OpenOwnedFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                        DWORD attributes = FILE_ATTRIBUTE_NORMAL);

}  // namespace qv
