// The upgrade transaction over a file system kept in memory, which can be
// stopped at any change as a kill would stop the program: after a stop at
// every step of the transaction (and at every step of the recovery that
// follows it), the next start leaves exactly the old files or exactly the
// new ones, and nothing of the run.
#include "app/upgrade_transaction.h"

#include <gtest/gtest.h>

#include "tests/app/memory_install_files.h"

#include <algorithm>
#include <map>
#include <set>

namespace qv {
namespace {

using test::Killed;
using test::MemoryFiles;

using Files = std::map<std::string, std::string>;

// An installation with two files to replace and one new one (in a
// sub-folder), staged as a run leaves them.
struct Staging {
    Files oldSet{{"QVX.exe", "old exe"}, {"qvxchart.dll", "old dll"}, {"quotiva.ini", "settings"}};
    Files newSet{{"QVX.exe", "NEW EXE!"}, {"qvxchart.dll", "NEW DLL"}, {"quotiva.ini", "settings"},
                 {"sub/qvxnews.dat", "NEWS"}};
    std::vector<InstallEntry> entries{{"QVX.exe", "~qv0001.tmp", 8},
                                      {"qvxchart.dll", "~qv0002.tmp", 7},
                                      {"sub/qvxnews.dat", "sub/~qv0003.tmp", 4}};

    void Stage(MemoryFiles& fs) const {
        fs.files = oldSet;
        fs.folders = {"sub/"};
        fs.files["~qv0001.tmp"] = "NEW EXE!";
        fs.files["~qv0002.tmp"] = "NEW DLL";
        fs.files["sub/~qv0003.tmp"] = "NEWS";
    }
};

std::string Show(const Files& files) {
    std::string out;
    for (const auto& [name, content] : files) out += name + "=" + content + " ";
    return out;
}

TEST(UpgradeTransaction, InstallsEveryFileAndLeavesNothingOfTheRun) {
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    std::vector<std::string> trace;
    InstallResult result = InstallTogether(fs, s.entries, [&](std::string_view l) { trace.emplace_back(l); });
    EXPECT_EQ(result.kind, InstallResult::Installed);
    EXPECT_EQ(fs.files, s.newSet) << Show(fs.files);
    // The journal comes before the first replace, its done mark after the
    // last, and the kept copies go only then.
    ASSERT_GE(fs.log.size(), 4u);
    EXPECT_EQ(fs.log[0], "write ~qvupgrade.journal.new");
    EXPECT_EQ(fs.log[1], "rename ~qvupgrade.journal.new -> ~qvupgrade.journal");
    EXPECT_EQ(fs.log[2], "rename QVX.exe -> ~qv1000.old");
    EXPECT_EQ(fs.log[3], "rename ~qv0001.tmp -> QVX.exe");
    EXPECT_EQ(fs.log.back(), "remove ~qvupgrade.journal");
}

TEST(UpgradeTransaction, AFileInUseStopsItBeforeAnythingChanged) {
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    fs.inUse = {"qvxchart.dll"};
    const Files before = fs.files;
    InstallResult result = InstallTogether(fs, s.entries);
    EXPECT_EQ(result.kind, InstallResult::InUse);
    EXPECT_EQ(result.file, "qvxchart.dll");
    EXPECT_EQ(fs.files, before);
    EXPECT_TRUE(fs.log.empty());
    // Released: the same staged files install.
    fs.inUse.clear();
    EXPECT_EQ(InstallTogether(fs, s.entries).kind, InstallResult::Installed);
    EXPECT_EQ(fs.files, s.newSet);
}

TEST(UpgradeTransaction, AFileTakenInTheMiddleIsUndoneToTheOldSet) {
    // The check found every file free; then another program took the second
    // file before it was renamed: the first one goes back, and only the
    // staged files stay (the caller removes them or tries again).
    class TakenAfterTheCheck : public MemoryFiles {
    public:
        bool InUse(const std::string&) override { return false; }
    } fs;
    Staging s;
    s.Stage(fs);
    fs.inUse = {"qvxchart.dll"};  // its rename fails
    const Files before = fs.files;
    InstallResult result = InstallTogether(fs, s.entries);
    EXPECT_EQ(result.kind, InstallResult::Failed);
    EXPECT_EQ(result.file, "qvxchart.dll");
    EXPECT_EQ(fs.files, before) << Show(fs.files);
}

TEST(UpgradeTransaction, AStagedFileThatIsNotWholeChangesNothing) {
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    fs.files["~qv0002.tmp"] = "NEW";  // cut short
    const Files before = fs.files;
    InstallResult result = InstallTogether(fs, s.entries);
    EXPECT_EQ(result.kind, InstallResult::Failed);
    EXPECT_EQ(result.file, "qvxchart.dll");
    EXPECT_EQ(fs.files, before);
}

TEST(UpgradeTransaction, AFolderWhereAFileBelongsChangesNothing) {
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    fs.files.erase("QVX.exe");
    fs.folders.insert("QVX.exe");
    const Files before = fs.files;
    InstallResult result = InstallTogether(fs, s.entries);
    EXPECT_EQ(result.kind, InstallResult::Failed);
    EXPECT_EQ(result.file, "QVX.exe");
    EXPECT_EQ(fs.files, before);
}

// ---- a kill at every step -------------------------------------------------------

// How many changes a whole transaction makes.
int ChangesOfAWholeTransaction() {
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    EXPECT_EQ(InstallTogether(fs, s.entries).kind, InstallResult::Installed);
    return fs.changes;
}

TEST(UpgradeTransaction, AKillAtAnyStepLeavesTheOldOrTheNewSetAfterTheNextStart) {
    Staging s;
    const int steps = ChangesOfAWholeTransaction();
    ASSERT_GE(steps, 10);
    int rolledBack = 0, rolledForward = 0;
    for (int kill = 1; kill <= steps; ++kill) {
        MemoryFiles fs;
        s.Stage(fs);
        fs.killAt = kill;
        EXPECT_THROW(InstallTogether(fs, s.entries), Killed) << "step " << kill;
        // The next start.
        fs.killAt = 0;
        std::vector<std::string> trace;
        RecoveryResult r = RecoverInstallation(fs, [&](std::string_view l) { trace.emplace_back(l); });
        const bool isOld = fs.files == s.oldSet, isNew = fs.files == s.newSet;
        EXPECT_TRUE(isOld || isNew) << "killed at step " << kill << " (" << fs.log.back() << "): "
                                    << Show(fs.files);
        EXPECT_NE(r.kind, RecoveryResult::Stuck);
        (isOld ? rolledBack : rolledForward)++;
        // A second start changes nothing more.
        const Files after = fs.files;
        EXPECT_EQ(RecoverInstallation(fs).kind, RecoveryResult::Clean);
        EXPECT_EQ(fs.files, after);
    }
    // Before the journal stood nothing had changed; after it, every staged
    // file being whole, the upgrade is finished.
    EXPECT_EQ(rolledBack, 2);
    EXPECT_EQ(rolledForward, steps - 2);
}

TEST(UpgradeTransaction, AKillDuringTheRecoveryIsRecoveredAtTheStartAfter) {
    Staging s;
    const int steps = ChangesOfAWholeTransaction();
    for (int kill = 1; kill <= steps; ++kill) {
        for (int again = 1;; ++again) {
            MemoryFiles fs;
            s.Stage(fs);
            fs.killAt = kill;
            EXPECT_THROW(InstallTogether(fs, s.entries), Killed);
            fs.changes = 0;
            fs.killAt = again;
            bool killedAgain = false;
            try {
                RecoverInstallation(fs);
            } catch (Killed&) {
                killedAgain = true;
            }
            fs.killAt = 0;
            RecoverInstallation(fs);
            EXPECT_TRUE(fs.files == s.oldSet || fs.files == s.newSet)
                << "killed at step " << kill << ", then at recovery step " << again << ": " << Show(fs.files);
            if (!killedAgain) break;
        }
    }
}

TEST(UpgradeTransaction, ANewFileCutShortAfterTheJournalIsUndoneFromTheKeptCopies) {
    // Killed after the old QVX.exe was kept aside, and the staged
    // qvxchart.dll is no longer whole (its data never reached the disk):
    // the new set cannot be finished, so the old one comes back.
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    fs.killAt = 4;  // journal (2 changes), QVX.exe kept aside, killed before its new file moves
    EXPECT_THROW(InstallTogether(fs, s.entries), Killed);
    fs.killAt = 0;
    fs.files["~qv0002.tmp"] = "NE";
    std::vector<std::string> trace;
    RecoveryResult r = RecoverInstallation(fs, [&](std::string_view l) { trace.emplace_back(l); });
    EXPECT_EQ(r.kind, RecoveryResult::RolledBack);
    EXPECT_EQ(fs.files, s.oldSet) << Show(fs.files);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "not whole: qvxchart.dll"), trace.end());
}

TEST(UpgradeTransaction, AFileHeldAtTheNextStartWaitsWithEverythingInPlaceForTheTryAfter) {
    Staging s;
    MemoryFiles fs;
    s.Stage(fs);
    fs.killAt = 3;  // the journal stands; nothing renamed yet
    EXPECT_THROW(InstallTogether(fs, s.entries), Killed);
    fs.killAt = 0;
    fs.inUse = {"QVX.exe"};  // Quotiva was started meanwhile
    const Files before = fs.files;
    RecoveryResult r = RecoverInstallation(fs);
    EXPECT_EQ(r.kind, RecoveryResult::Stuck);
    EXPECT_EQ(r.file, "QVX.exe");
    EXPECT_EQ(fs.files, before);
    fs.inUse.clear();
    EXPECT_EQ(RecoverInstallation(fs).kind, RecoveryResult::RolledForward);
    EXPECT_EQ(fs.files, s.newSet);
}

TEST(UpgradeTransaction, LeftoversOfAnInterruptedDownloadGoAtTheNextStart) {
    Staging s;
    MemoryFiles fs;
    fs.files = s.oldSet;
    fs.files["~qv00AB.tmp"] = "half a file";
    fs.files["sub/~qv00AC.tmp"] = "another";
    fs.files["~qvother.tmp"] = "not of the program's form";
    EXPECT_EQ(RecoverInstallation(fs).kind, RecoveryResult::Clean);
    Files expected = s.oldSet;
    expected["~qvother.tmp"] = "not of the program's form";
    EXPECT_EQ(fs.files, expected);
}

TEST(UpgradeJournal, PrintsAndReadsBackAndRefusesWhatIsNotWhole) {
    InstallJournal j;
    j.entries.push_back({"QVX.exe", "~qv0001.tmp", "~qv1000.old", 8});
    j.entries.push_back({"sub/new data.dat", "sub/~qv0002.tmp", "", 0});
    const std::string text = JournalText(j);
    EXPECT_EQ(text,
              "quotiva-upgrade-journal 1\nfile 8\tQVX.exe\t~qv0001.tmp\t~qv1000.old\n"
              "file 0\tsub/new data.dat\tsub/~qv0002.tmp\t\nend\n");
    std::optional<InstallJournal> back = ParseJournal(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(JournalText(*back), text);
    j.done = true;
    back = ParseJournal(JournalText(j));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->done);
    for (const std::string& bad : {
             text.substr(0, text.size() - 1),          // the last line end missing
             text.substr(0, text.size() - 4),          // "end" missing: cut short
             std::string("quotiva-upgrade-journal 2\nend\n"),
             std::string("quotiva-upgrade-journal 1\nend\n"),  // no file
             std::string("quotiva-upgrade-journal 1\nfile x\tA\tB\t\nend\n"),
             std::string("quotiva-upgrade-journal 1\nfile 1\tA\tA\t\nend\n"),
             std::string("quotiva-upgrade-journal 1\nfile 1\tA\tB\t\ndone\nfile 1\tC\tD\t\nend\n"),
             std::string("quotiva-upgrade-journal 1\nfile -1\tA\tB\t\nend\n"),
         })
        EXPECT_FALSE(ParseJournal(bad)) << bad;
}

}  // namespace
}  // namespace qv
