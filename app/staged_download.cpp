#include "app/staged_download.h"

#include <windows.h>

#include "app/file_api_name.h"
#include "app/staging_names.h"
#include "framework/exception.h"
#include "framework/files.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// Removes a file; true when it is gone (also when it never existed).
bool RemoveFile(const std::wstring& name) {
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

// The runtime's message for a file that cannot be made.
[[noreturn]] void CannotCreate(const std::string& name) { throw EFCreateError("Cannot create file " + name); }

}  // namespace

StagedDownload::StagedDownload()
    : nextNumber_(static_cast<uint16_t>(GetTickCount() ^ (GetCurrentProcessId() * 40503u))) {}

StagedDownload::~StagedDownload() { Discard(); }

void StagedDownload::RemoveLeftovers(const std::string& folder) {
    if (!cleanedFolders_.insert(folder).second) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(FileApiName(folder + "~qv*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name = FromWide(found.cFileName);
        // Only names of exactly the program's form; a file another running
        // copy of the program is writing is open and stays.
        if (IsStagingFileName(name)) RemoveFile(FileApiName(folder + name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::string StagedDownload::Begin(const std::string& installedFile) {
    Discard();
    const std::string folder(FolderOfPath(installedFile));
    RemoveLeftovers(folder);
    // Creating the file claims its name: no other file is written over.
    for (unsigned tries = 0; tries <= 0xFFFF; ++tries) {
        std::string temporary = StagingFileName(folder, nextNumber_++);
        OwnedFile file(CreateFileW(FileApiName(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            file.Close();
            installedFile_ = installedFile;
            temporaryFile_ = std::move(temporary);
            active_ = true;
            return temporaryFile_;
        }
        DWORD error = GetLastError();
        // Taken (by a file, or a folder): the next name. Anything else is
        // the folder's (missing, not writable): no name will do.
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(FileApiName(temporary).c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        break;
    }
    // The message the runtime gives for a file that cannot be opened for
    // writing, naming the file as the user knows it.
    throw EFOpenError("Cannot open file " + installedFile);
}

void StagedDownload::Commit() {
    if (!active_) return;
    active_ = false;
    std::wstring from = FileApiName(temporaryFile_);
    // The temporary file may be missing when something removed it; then
    // there is nothing to put in place and the installed file stays.
    if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) CannotCreate(installedFile_);
    // One rename in one folder: the installed file is either the old one or
    // the new one, never a mixture.
    if (!MoveFileExW(from.c_str(), FileApiName(installedFile_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        RemoveFile(from);
        CannotCreate(installedFile_);
    }
}

void StagedDownload::Discard() {
    if (!active_) return;
    active_ = false;
    RemoveFile(FileApiName(temporaryFile_));
}

}  // namespace qv
