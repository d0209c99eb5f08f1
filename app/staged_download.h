// One download of an upgrade run, received into a temporary file beside the
// installed file and put in its place only once the transfer completed.
//
// A cancelled, failed or timed-out transfer (or a window closed in the
// middle of one) then leaves the installed file exactly as it was: Discard
// removes the temporary file, and the installed file was never opened.
//
// The caller makes sure the FTP client has released the temporary file
// before Commit or Discard (the client closes its local file before it
// reports the end of a transfer, an error or a time-out, and when it logs
// out or is destroyed).
#pragma once

#include <string>

namespace qv {

class StagedDownload {
public:
    StagedDownload() = default;
    ~StagedDownload();
    StagedDownload(const StagedDownload&) = delete;
    StagedDownload& operator=(const StagedDownload&) = delete;

    // Starts staging the file that will replace `installedFile` and returns
    // the temporary file's name, for the client to write. A temporary file
    // left behind by an earlier run is removed first: the client writes
    // over an existing file without shortening it. Raises EFCreateError
    // (naming the installed file) when that old file cannot be removed.
    // A download still staged is discarded first.
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

    bool Active() const { return active_; }
    const std::string& InstalledFile() const { return installedFile_; }
    const std::string& TemporaryFile() const { return temporaryFile_; }

private:
    bool active_ = false;
    std::string installedFile_;
    std::string temporaryFile_;
};

}  // namespace qv
