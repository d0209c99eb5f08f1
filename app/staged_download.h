// The temporary file a download of an upgrade run is received into, beside
// the installed file it will replace.
//
// The temporary file has a short name of the program's own in the installed
// file's folder (staging_names.h), so that a name the folder can hold never
// fails for the temporary name's sake. Temporary files an interrupted run
// left in a folder are removed before a run first writes into that folder.
// A download that arrived stays staged (Keep) until the run installs its
// files together (upgrade_transaction.h); one that did not is discarded,
// and the installed file was never opened.
//
// The caller makes sure the FTP client has released the temporary file
// before Keep or Discard (the client closes its local file before it
// reports the end of a transfer, an error, a time-out or the loss of its
// connection, and when it logs out or is destroyed).
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace qv {

class StagedDownload {
public:
    StagedDownload();
    // Tries names from this number on (for tests).
    explicit StagedDownload(uint16_t firstNumber) : nextNumber_(firstNumber) {}
    ~StagedDownload();
    StagedDownload(const StagedDownload&) = delete;
    StagedDownload& operator=(const StagedDownload&) = delete;

    // Starts staging the file that will replace `installedFile`: removes
    // the leftovers of earlier runs from its folder when this run has not
    // written there yet, then creates an empty temporary file under a name
    // no other file has, and returns that name for the client to write.
    // Raises EFOpenError "Cannot open file " + installedFile when the
    // temporary file cannot be made there (a missing folder, say). A
    // download still staged is discarded first.
    std::string Begin(const std::string& installedFile);

    // The transfer completed: its temporary file stays where it is, for the
    // run to install; this object forgets it. Returns its name.
    std::string Keep();

    // The transfer did not complete: the temporary file is removed; the
    // installed file is not touched. Nothing happens when no download is
    // staged. Never raises.
    void Discard();

    // A new upgrade run: every folder is cleared of leftovers again before
    // the run's first download into it.
    void NewRun() { cleanedFolders_.clear(); }

    bool Active() const { return active_; }
    const std::string& InstalledFile() const { return installedFile_; }
    const std::string& TemporaryFile() const { return temporaryFile_; }

private:
    void RemoveLeftovers(const std::string& folder);

    bool active_ = false;
    std::string installedFile_;
    std::string temporaryFile_;
    // Where the next name search starts; varies between processes so that
    // two programs writing into one folder rarely try the same names.
    uint16_t nextNumber_;
    std::set<std::string> cleanedFolders_;
};

}  // namespace qv
