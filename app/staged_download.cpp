#include "app/staged_download.h"

#include <windows.h>

#include "app/upgrade_names.h"
#include "framework/exception.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// Removes a file; true when it is gone (also when it never existed).
bool RemoveFile(const std::string& name) {
    std::wstring wide = ToWide(name);
    if (DeleteFileW(wide.c_str())) return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    // A read-only leftover: make it writable and try once more.
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileW(wide.c_str()) != FALSE;
    }
    return false;
}

// The runtime's message for a file that cannot be made.
[[noreturn]] void CannotCreate(const std::string& name) { throw EFCreateError("Cannot create file " + name); }

}  // namespace

StagedDownload::~StagedDownload() { Discard(); }

std::string StagedDownload::Begin(const std::string& installedFile) {
    Discard();
    std::string temporary = StagingFileName(installedFile);
    if (!RemoveFile(temporary)) CannotCreate(installedFile);
    installedFile_ = installedFile;
    temporaryFile_ = std::move(temporary);
    active_ = true;
    return temporaryFile_;
}

void StagedDownload::Commit() {
    if (!active_) return;
    active_ = false;
    // The temporary file may be missing when the client never created it;
    // then there is nothing to put in place and the installed file stays.
    std::wstring from = ToWide(temporaryFile_);
    if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) CannotCreate(installedFile_);
    // One rename in one folder: the installed file is either the old one or
    // the new one, never a mixture.
    if (!MoveFileExW(from.c_str(), ToWide(installedFile_).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        RemoveFile(temporaryFile_);
        CannotCreate(installedFile_);
    }
}

void StagedDownload::Discard() {
    if (!active_) return;
    active_ = false;
    RemoveFile(temporaryFile_);
}

}  // namespace qv
