#include "app/staged_download.h"

#include <windows.h>

#include "app/install_files.h"
#include "app/staging_names.h"
#include "framework/exception.h"
#include "framework/files.h"
#include "framework/win32_text.h"

namespace qv {

StagedDownload::StagedDownload()
    : nextNumber_(static_cast<uint16_t>(GetTickCount() ^ (GetCurrentProcessId() * 40503u))) {}

StagedDownload::~StagedDownload() { Discard(); }

void StagedDownload::RemoveLeftovers(const std::string& folder) {
    if (!cleanedFolders_.insert(folder).second) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(FileApiPath(folder + "~qv*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name = FromWide(found.cFileName);
        // Only names of exactly the program's form; a file another running
        // copy of the program is writing is open and stays.
        if (IsStagingFileName(name)) RemoveFileAt(FileApiPath(folder + name));
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
        OwnedFile file(CreateFileW(FileApiPath(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
        if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(FileApiPath(temporary).c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        break;
    }
    // The message the runtime gives for a file that cannot be opened for
    // writing, naming the file as the user knows it.
    throw EFOpenError("Cannot open file " + installedFile);
}

std::string StagedDownload::Keep() {
    active_ = false;
    return temporaryFile_;
}

void StagedDownload::Discard() {
    if (!active_) return;
    active_ = false;
    RemoveFileAt(FileApiPath(temporaryFile_));
}

}  // namespace qv
