#include "app/install_files.h"

#include <windows.h>

#include <utility>

#include "app/staging_names.h"
#include "framework/files.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

std::function<void(const std::string&)>& ChangeHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

// The journal's temporary file while it is written.
std::string JournalTemporary() { return std::string(kInstallJournalName) + ".new"; }

// Reading a journal: never more than this.
constexpr DWORD kMaxJournal = 1 << 20;

}  // namespace

bool RemoveFileAt(const std::wstring& name) {
    if (DeleteFileW(name.c_str())) return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    // A read-only file: make it writable and try once more.
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileW(name.c_str()) != FALSE;
    }
    return false;
}

WindowsInstallFiles::WindowsInstallFiles(std::string folder)
    : folder_(std::move(folder)), nextNumber_(static_cast<uint16_t>(GetTickCount() ^ (GetCurrentProcessId() * 2654u))) {}

void WindowsInstallFiles::SetChangeHook(std::function<void(const std::string&)> hook) { ChangeHook() = std::move(hook); }

void WindowsInstallFiles::BeforeChange(const std::string& change) {
    if (ChangeHook()) ChangeHook()(change);
}

std::wstring WindowsInstallFiles::Full(const std::string& path) const { return FileApiPath(folder_ + path); }

PathKind WindowsInstallFiles::Kind(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Full(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::None;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
}

int64_t WindowsInstallFiles::FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Full(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WindowsInstallFiles::Rename(const std::string& from, const std::string& to) {
    BeforeChange("rename " + from + " -> " + to);
    // Without REPLACE_EXISTING: a name that is taken stays what it is.
    return MoveFileExW(Full(from).c_str(), Full(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool WindowsInstallFiles::Remove(const std::string& path) {
    if (Kind(path) == PathKind::None) return true;
    BeforeChange("remove " + path);
    return RemoveFileAt(Full(path));
}

bool WindowsInstallFiles::WriteDurably(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    BeforeChange("write " + temporary);
    {
        OwnedFile file(CreateFileW(Full(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.Get())) {
            file.Close();
            RemoveFileAt(Full(temporary));
            return false;
        }
    }
    BeforeChange("rename " + temporary + " -> " + path);
    return MoveFileExW(Full(temporary).c_str(), Full(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}

std::optional<std::string> WindowsInstallFiles::ReadText(const std::string& path) {
    OwnedFile file(CreateFileW(Full(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxJournal) return std::string();
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
                          read != text.size()))
        return std::string();
    return text;
}

bool WindowsInstallFiles::Flush(const std::string& path) {
    OwnedFile file(CreateFileW(Full(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.Get());
}

bool WindowsInstallFiles::InUse(const std::string& path) {
    // Opening it for deletion with no sharing at all fails while any other
    // handle is open on it (a running program's image, a file another
    // program opened without letting it be replaced).
    OwnedFile file(CreateFileW(Full(path).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return false;
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

std::string WindowsInstallFiles::NewKeptName(const std::string& folder) {
    for (unsigned tries = 0; tries <= 0xFFFF; ++tries) {
        std::string name = KeptFileName(folder, nextNumber_++);
        if (Kind(name) == PathKind::None) return name;
    }
    return KeptFileName(folder, nextNumber_++);
}

std::vector<std::string> WindowsInstallFiles::Leftovers() {
    std::vector<std::string> found;
    std::vector<std::string> folders{""};
    const std::string journalTemporary = JournalTemporary();
    while (!folders.empty()) {
        std::string folder = std::move(folders.back());
        folders.pop_back();
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(Full(folder + "*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            std::string name = FromWide(entry.cFileName);
            if (name == "." || name == "..") continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link to elsewhere is not the installation's own.
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) folders.push_back(folder + name + "\\");
                continue;
            }
            if (IsStagingFileName(name) || IsKeptFileName(name) || (folder.empty() && name == journalTemporary))
                found.push_back(folder + name);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return found;
}

}  // namespace qv
