// One download of an upgrade run, received into a temporary file beside the
// installed file and put in its place only once the transfer completed.
//
// A cancelled, failed or timed-out transfer (or a window closed in the
// middle of one) then leaves the installed file exactly as it was: Discard
// removes the temporary file, and the installed file was never opened.
//
// The temporary file has a short name of the program's own in the installed
// file's folder (staging_names.h), so that a name the folder can hold never
// fails for the temporary name's sake. Temporary files an interrupted run
// left in a folder are removed before a run first writes into that folder.
//
// The caller makes sure the FTP client has released the temporary file
// before Commit or Discard (the client closes its local file before it
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

    // The transfer completed: the temporary file replaces the installed
    // file (created when there was none). Raises EFCreateError naming the
    // installed file when it cannot be replaced; the temporary file is then
    // removed and the installed file stays as it was. Nothing happens when
    // no download is staged.
    void Commit();

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
