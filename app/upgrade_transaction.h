// The files of one upgrade run installed together, or not at all, free of
// platform calls.
//
// A run's downloads stay staged (each in its temporary file beside the file
// it replaces) until the downloads end. Then InstallTogether puts all of
// them in place as one transaction:
//  1. every installed file that will be replaced must be free: one that
//     another program holds (Quotiva running, a file opened without
//     sharing) stops the transaction before anything changed;
//  2. the staged files are flushed to disk, and a journal is written in the
//     installation folder (what replaces what, and where each old file is
//     kept) and flushed before the first change;
//  3. each old file is renamed aside to a kept copy, and the staged file
//     renamed to its name; if a step fails, the steps done are undone;
//  4. the journal is marked done, then the kept copies and the journal are
//     removed.
// Every change is one rename or removal within one folder, so a kill (a
// power cut, the task manager) can stop the transaction only between two
// of them. RecoverInstallation, run at every start before anything else,
// reads a journal left behind and finishes the transaction when every
// staged file is whole (roll forward), or undoes it from the kept copies
// otherwise; then it removes what runs left behind (temporary files, kept
// copies). Afterwards the installation holds exactly the old files or
// exactly the new ones, and nothing of the run. Recovery is safe to run
// again after a kill in the middle of it.
//
// Paths are relative to the installation folder, as listed ("QVX.exe",
// "sub/new.dll"); the program's 8-bit texts (Big5).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The journal, in the installation folder.
inline constexpr const char* kInstallJournalName = "~qvupgrade.journal";

// One file of the transaction.
struct InstallEntry {
    std::string target;  // the installed file's path
    std::string staged;  // the staged file's path (same folder as the target)
    int64_t size = 0;    // the staged file's size: what "whole" means
};

enum class PathKind : uint8_t { None, File, Folder };

// What the transaction does to the file system, paths relative to the
// installation folder. Every call that changes something is a step where
// the program may be killed.
class InstallFiles {
public:
    virtual PathKind Kind(const std::string& path) = 0;
    // The size of a file; -1 when there is none.
    virtual int64_t FileSize(const std::string& path) = 0;
    // Renames; fails (false) when `to` exists.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    // Removes a file; true when it is gone (or was never there).
    virtual bool Remove(const std::string& path) = 0;
    // Writes the whole text under the path, replacing what was there, and
    // flushes it to disk: afterwards the file holds the old text or the new
    // one, never a part.
    virtual bool WriteDurably(const std::string& path, const std::string& text) = 0;
    virtual std::optional<std::string> ReadText(const std::string& path) = 0;
    // Flushes a file's data to disk.
    virtual bool Flush(const std::string& path) = 0;
    // Whether another program holds the file so that it cannot be replaced
    // now (opened without sharing, a running program's image).
    virtual bool InUse(const std::string& path) = 0;
    // A name for the kept copy of an old file in this folder (its path
    // ends in "/" or "\\" or is empty) that no file has and that no call
    // before gave.
    virtual std::string NewKeptName(const std::string& folder) = 0;
    // Every file below the installation folder that a run leaves behind:
    // temporary files, kept copies and the journal's own temporary file.
    virtual std::vector<std::string> Leftovers() = 0;

protected:
    ~InstallFiles() = default;
};

using InstallTrace = std::function<void(std::string_view line)>;

struct InstallResult {
    enum Kind : uint8_t {
        Installed,  // every file is in place
        InUse,      // `file` is held by another program; nothing changed
        Failed,     // `file` could not be put in place; nothing changed
        Stuck,      // a change could not be undone; the journal stays for the next start
    };
    Kind kind = Installed;
    std::string file;
};

// The transaction. An unfinished journal of an earlier run is recovered
// first (a Stuck recovery stops it).
InstallResult InstallTogether(InstallFiles& files, const std::vector<InstallEntry>& entries,
                              const InstallTrace& trace = {});

struct RecoveryResult {
    enum Kind : uint8_t {
        Clean,          // no journal: leftovers (if any) removed
        RolledForward,  // the new files are in place
        RolledBack,     // the old files are back
        Stuck,          // `file` could not be moved (in use); everything stays for the next try
    };
    Kind kind = Clean;
    std::string file;
};

RecoveryResult RecoverInstallation(InstallFiles& files, const InstallTrace& trace = {});

// The journal's text and its reading (exposed for tests and fuzzing).
struct InstallJournal {
    struct Entry {
        std::string target, staged, kept;  // kept empty: there was no old file
        int64_t size = 0;
    };
    std::vector<Entry> entries;
    bool done = false;
};
std::string JournalText(const InstallJournal& journal);
std::optional<InstallJournal> ParseJournal(std::string_view text);

}  // namespace qv
