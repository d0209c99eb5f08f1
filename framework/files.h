// Files of the Win32 side: whether a path names an existing file, and the
// owned file handle.
#pragma once

#include <windows.h>

#include <string>

namespace qv {

// True only for an existing file (a folder of that name does not count).
// An empty removable drive answers false at once, without the system's
// "insert a disk" box.
bool FileExistsAt(const std::string& path);

// An open file that closes itself: the one way this program holds a file
// handle (the download file, the history file, the trace and log dumps).
// Move-only, so no path can close it twice or leak it. Get() lends the
// handle (a plain HANDLE is always borrowed); Close() ends it early and
// says whether the close succeeded, which matters for a file just written.
//
//   OwnedFile file = OwnedFile::Open(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
//   if (!file) return GetLastError();
//   WriteFile(file.Get(), ...);
//   return file.Close();   // 0, or the error the close met
class OwnedFile {
public:
    OwnedFile() = default;
    explicit OwnedFile(HANDLE handle) : handle_(handle) {}
    OwnedFile(OwnedFile&& other) noexcept : handle_(other.Release()) {}
    OwnedFile& operator=(OwnedFile&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.Release();
        }
        return *this;
    }
    ~OwnedFile() { Close(); }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    // CreateFileW with the path converted from the program's code page;
    // not valid when it failed (GetLastError says why).
    static OwnedFile Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                          DWORD attributes = FILE_ATTRIBUTE_NORMAL);

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    // Closes now (nothing when not open): 0, or the error of the close.
    DWORD Close();
    // Gives the handle up without closing it.
    HANDLE Release() {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return h;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace qv
