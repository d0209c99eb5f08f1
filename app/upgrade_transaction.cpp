#include "app/upgrade_transaction.h"

#include <algorithm>
#include <charconv>

namespace qv {

namespace {

constexpr std::string_view kJournalFormat = "quotiva-upgrade-journal 1";

void Note(const InstallTrace& trace, const std::string& line) {
    if (trace) trace(line);
}

std::string FolderPart(const std::string& path) {
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// Where one entry of a journal stands on disk.
struct EntryState {
    bool stagedWhole = false;  // the staged file is still there, whole
    bool stagedThere = false;
    bool keptThere = false;
    int64_t targetSize = -1;
};

EntryState Look(InstallFiles& files, const InstallJournal::Entry& e) {
    EntryState s;
    int64_t staged = files.FileSize(e.staged);
    s.stagedThere = staged >= 0;
    s.stagedWhole = staged == e.size;
    s.keptThere = !e.kept.empty() && files.Kind(e.kept) == PathKind::File;
    s.targetSize = files.FileSize(e.target);
    return s;
}

// The new file of an entry is whole somewhere: still staged, or already in
// the target's place (which needs the old file, if any, kept aside first).
bool NewFileWhole(const InstallJournal::Entry& e, const EntryState& s) {
    if (s.stagedWhole) return true;
    if (s.stagedThere) return false;
    return s.targetSize == e.size && (e.kept.empty() || s.keptThere);
}

// Puts one entry's new file in place (both renames, as far as not done).
bool Forward(InstallFiles& files, const InstallJournal::Entry& e) {
    EntryState s = Look(files, e);
    if (!s.stagedThere) return true;  // moved already
    if (!e.kept.empty() && !s.keptThere && s.targetSize >= 0 && !files.Rename(e.target, e.kept)) return false;
    return files.Rename(e.staged, e.target);
}

// Puts one entry's old file back (or removes the new one where there was
// none), as far as it was changed.
bool Back(InstallFiles& files, const InstallJournal::Entry& e) {
    EntryState s = Look(files, e);
    if (!e.kept.empty()) {
        if (!s.keptThere) return true;  // the old file was never moved
        if (s.targetSize >= 0 && !s.stagedThere) {
            // The new file is in the target's place: it goes back to being
            // staged (removed below with the leftovers).
            if (!files.Rename(e.target, e.staged) && !files.Remove(e.target)) return false;
        } else if (s.targetSize >= 0 && !files.Remove(e.target)) {
            return false;
        }
        return files.Rename(e.kept, e.target);
    }
    if (!s.stagedThere && s.targetSize >= 0) return files.Rename(e.target, e.staged) || files.Remove(e.target);
    return true;
}

void RemoveLeftovers(InstallFiles& files, const InstallTrace& trace) {
    for (const std::string& path : files.Leftovers()) {
        if (files.Remove(path)) Note(trace, "removed " + path);
        else Note(trace, "could not remove " + path);
    }
}

// Ends a transaction whose new files are all in place: done, then the
// kept copies and the journal go.
bool Finish(InstallFiles& files, InstallJournal journal, const InstallTrace& trace) {
    if (!journal.done) {
        journal.done = true;
        if (!files.WriteDurably(kInstallJournalName, JournalText(journal))) return false;
        Note(trace, "journal: done");
    }
    for (const InstallJournal::Entry& e : journal.entries)
        if (!e.kept.empty()) files.Remove(e.kept);
    files.Remove(kInstallJournalName);
    Note(trace, "journal removed");
    return true;
}

}  // namespace

// ---- the journal ------------------------------------------------------------

std::string JournalText(const InstallJournal& journal) {
    std::string text(kJournalFormat);
    text += '\n';
    for (const InstallJournal::Entry& e : journal.entries)
        text += "file " + std::to_string(e.size) + '\t' + e.target + '\t' + e.staged + '\t' + e.kept + '\n';
    if (journal.done) text += "done\n";
    text += "end\n";
    return text;
}

std::optional<InstallJournal> ParseJournal(std::string_view text) {
    InstallJournal journal;
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return std::nullopt;  // every line ends
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // The format line first, "end" last: a journal cut short is no journal.
    if (lines.size() < 2 || lines.front() != kJournalFormat || lines.back() != "end") return std::nullopt;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (line == "done") {
            if (journal.done || i + 2 != lines.size()) return std::nullopt;
            journal.done = true;
            continue;
        }
        if (journal.done || line.substr(0, 5) != "file ") return std::nullopt;
        line.remove_prefix(5);
        InstallJournal::Entry e;
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos || tab == 0) return std::nullopt;
        auto [end, error] = std::from_chars(line.data(), line.data() + tab, e.size);
        if (error != std::errc() || end != line.data() + tab || e.size < 0) return std::nullopt;
        line.remove_prefix(tab + 1);
        std::string_view fields[3];
        for (int f = 0; f < 3; ++f) {
            size_t next = f < 2 ? line.find('\t') : line.size();
            if (next == std::string_view::npos) return std::nullopt;
            fields[f] = line.substr(0, next);
            line.remove_prefix(std::min(line.size(), next + (f < 2 ? 1 : 0)));
        }
        e.target = fields[0];
        e.staged = fields[1];
        e.kept = fields[2];
        if (e.target.empty() || e.staged.empty() || e.target == e.staged || e.target == e.kept ||
            e.staged == e.kept || e.kept.find('\t') != std::string::npos)
            return std::nullopt;
        journal.entries.push_back(std::move(e));
    }
    if (journal.entries.empty()) return std::nullopt;
    return journal;
}

// ---- recovery -------------------------------------------------------------------

RecoveryResult RecoverInstallation(InstallFiles& files, const InstallTrace& trace) {
    RecoveryResult result;
    std::optional<std::string> text = files.ReadText(kInstallJournalName);
    if (!text) {
        RemoveLeftovers(files, trace);
        return result;
    }
    std::optional<InstallJournal> journal = ParseJournal(*text);
    if (!journal) {
        // Not ours, or damaged from outside: nothing it names can be
        // trusted to be undone, and nothing is removed.
        Note(trace, "journal unreadable: left as it is");
        result.kind = RecoveryResult::Stuck;
        result.file = kInstallJournalName;
        return result;
    }
    if (journal->done) {
        Note(trace, "journal done: removing the kept copies");
        Finish(files, *journal, trace);
        RemoveLeftovers(files, trace);
        result.kind = RecoveryResult::RolledForward;
        return result;
    }
    bool whole = true;
    for (const InstallJournal::Entry& e : journal->entries)
        if (!NewFileWhole(e, Look(files, e))) {
            Note(trace, "not whole: " + e.target);
            whole = false;
        }
    if (whole) {
        Note(trace, "every new file is whole: finishing the upgrade");
        for (const InstallJournal::Entry& e : journal->entries) {
            if (!Forward(files, e)) {
                // Another program holds a file now: nothing more moves
                // until the next try.
                Note(trace, "cannot move " + e.target);
                result.kind = RecoveryResult::Stuck;
                result.file = e.target;
                return result;
            }
            Note(trace, "in place: " + e.target);
        }
        if (!Finish(files, *journal, trace)) {
            result.kind = RecoveryResult::Stuck;
            result.file = kInstallJournalName;
            return result;
        }
        RemoveLeftovers(files, trace);
        result.kind = RecoveryResult::RolledForward;
        return result;
    }
    Note(trace, "undoing the upgrade from the kept copies");
    for (auto e = journal->entries.rbegin(); e != journal->entries.rend(); ++e) {
        if (!Back(files, *e)) {
            Note(trace, "cannot restore " + e->target);
            result.kind = RecoveryResult::Stuck;
            result.file = e->target;
            return result;
        }
        Note(trace, "restored: " + e->target);
    }
    files.Remove(kInstallJournalName);
    Note(trace, "journal removed");
    RemoveLeftovers(files, trace);
    result.kind = RecoveryResult::RolledBack;
    return result;
}

// ---- the transaction -----------------------------------------------------------

InstallResult InstallTogether(InstallFiles& files, const std::vector<InstallEntry>& entries,
                              const InstallTrace& trace) {
    InstallResult result;
    if (files.Kind(kInstallJournalName) != PathKind::None) {
        // A transaction of an earlier run was not finished: it is, first.
        RecoveryResult recovered = RecoverInstallation(files, trace);
        if (recovered.kind == RecoveryResult::Stuck) {
            result.kind = InstallResult::InUse;
            result.file = recovered.file;
            return result;
        }
    }
    // Nothing changes unless every file can change.
    for (const InstallEntry& e : entries) {
        if (files.FileSize(e.staged) != e.size) {
            Note(trace, "staged file not whole: " + e.target);
            result.kind = InstallResult::Failed;
            result.file = e.target;
            return result;
        }
        PathKind kind = files.Kind(e.target);
        if (kind == PathKind::Folder) {
            result.kind = InstallResult::Failed;
            result.file = e.target;
            return result;
        }
        if (kind == PathKind::File && files.InUse(e.target)) {
            Note(trace, "in use: " + e.target);
            result.kind = InstallResult::InUse;
            result.file = e.target;
            return result;
        }
    }
    InstallJournal journal;
    for (const InstallEntry& e : entries) {
        if (!files.Flush(e.staged)) {
            result.kind = InstallResult::Failed;
            result.file = e.target;
            return result;
        }
        InstallJournal::Entry j;
        j.target = e.target;
        j.staged = e.staged;
        j.size = e.size;
        if (files.Kind(e.target) == PathKind::File) j.kept = files.NewKeptName(FolderPart(e.target));
        journal.entries.push_back(std::move(j));
    }
    if (!files.WriteDurably(kInstallJournalName, JournalText(journal))) {
        files.Remove(kInstallJournalName);
        result.kind = InstallResult::Failed;
        result.file = kInstallJournalName;
        return result;
    }
    Note(trace, "journal written: " + std::to_string(journal.entries.size()) + " files");
    for (size_t i = 0; i < journal.entries.size(); ++i) {
        const InstallJournal::Entry& e = journal.entries[i];
        if (Forward(files, e)) {
            Note(trace, "in place: " + e.target);
            continue;
        }
        // Something took the file meanwhile: what was done is undone.
        const bool inUse = files.InUse(e.target);
        Note(trace, std::string(inUse ? "in use: " : "cannot replace: ") + e.target + "; undoing");
        for (size_t k = i + 1; k-- > 0;) {
            if (!Back(files, journal.entries[k])) {
                Note(trace, "cannot restore " + journal.entries[k].target + "; the next start finishes it");
                result.kind = InstallResult::Stuck;
                result.file = journal.entries[k].target;
                return result;
            }
        }
        files.Remove(kInstallJournalName);
        result.kind = inUse ? InstallResult::InUse : InstallResult::Failed;
        result.file = e.target;
        return result;
    }
    if (!Finish(files, journal, trace)) {
        // Every new file is in place; the next start removes what is left.
        Note(trace, "journal not marked done; the next start finishes it");
    }
    return result;
}

}  // namespace qv
