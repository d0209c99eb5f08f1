// Downloads received beside the installed file and installed together, on
// real files under Wine.
#include "app/staged_download.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "app/install_files.h"
#include "app/staging_names.h"
#include "framework/exception.h"
#include "framework/files.h"
#include "framework/win32_text.h"
#include "tests/app/app_test_files.h"

namespace qv {
namespace {

// Files addressed by their wide (long-form where needed) names, for the
// names the narrow test helpers cannot reach.
std::wstring Wide(const std::string& path) { return FileApiPath(path); }

std::string WideFileBytes(const std::string& path) {
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
    std::string out;
    char block[4096];
    DWORD n = 0;
    while (ReadFile(h, block, sizeof block, &n, nullptr) && n > 0) out.append(block, n);
    CloseHandle(h);
    return out;
}

class StagedDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = test::MakeTestFolder("qv-staged");
        files.SetFolder(folder);
    }
    void TearDown() override { RemoveTree(folder); }
    static void RemoveTree(const std::string& path) {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW(Wide(path + "*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                std::string child = path + FromWide(name);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(child + "\\");
                } else {
                    SetFileAttributesW(Wide(child).c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(Wide(child).c_str());
                }
            } while (FindNextFileW(h, &found));
            FindClose(h);
        }
        RemoveDirectoryW(Wide(path).c_str());
    }
    // Installs the staged files (full paths) in their installed files'
    // places (full paths) as the run does at its end.
    InstallResult InstallStaged(const std::vector<std::pair<std::string, std::string>>& stagedAndInstalled) {
        std::vector<InstallEntry> entries;
        for (const auto& [staged, installed] : stagedAndInstalled) {
            InstallEntry e;
            e.staged = staged.substr(folder.size());
            e.target = installed.substr(folder.size());
            e.size = files.FileSize(e.staged);
            entries.push_back(e);
        }
        return InstallTogether(files, entries);
    }
    // What the run leaves in the folder besides the files: nothing.
    std::vector<std::string> RunLeftovers() {
        std::vector<std::string> left = files.Leftovers();
        if (files.Kind(kInstallJournalName) != PathKind::None) left.push_back(kInstallJournalName);
        return left;
    }
    std::string folder;
    WindowsInstallFiles files{std::string()};
};

TEST_F(StagedDownloadTest, TheReceivedBytesTakeTheInstalledFilesPlaceOnlyWhenInstalled) {
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(installed, std::string(5000, 'o'));  // longer than the new file
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    // A short name of the program's own in the same folder, created empty.
    EXPECT_EQ(FolderOfPath(temporary), folder);
    EXPECT_TRUE(IsStagingFileName(temporary.substr(folder.size()))) << temporary;
    EXPECT_TRUE(test::PathExists(temporary));
    EXPECT_EQ(test::FileBytes(temporary), "");
    EXPECT_EQ(d.TemporaryFile(), temporary);
    EXPECT_EQ(d.InstalledFile(), installed);
    test::WriteFileBytes(temporary, std::string("new\0bytes", 9) + std::string(100, 'n'));
    EXPECT_EQ(test::FileBytes(installed), std::string(5000, 'o'));
    EXPECT_EQ(d.Keep(), temporary);
    EXPECT_FALSE(d.Active());
    EXPECT_TRUE(test::PathExists(temporary));  // kept for the install
    EXPECT_EQ(InstallStaged({{temporary, installed}}).kind, InstallResult::Installed);
    EXPECT_EQ(test::FileBytes(installed), std::string("new\0bytes", 9) + std::string(100, 'n'));
    EXPECT_FALSE(test::PathExists(temporary));
    EXPECT_EQ(RunLeftovers(), std::vector<std::string>{});
}

TEST_F(StagedDownloadTest, InstallingCreatesAFileThatWasNotInstalled) {
    const std::string installed = folder + "added.dat";
    StagedDownload d;
    test::WriteFileBytes(d.Begin(installed), "added");
    EXPECT_EQ(InstallStaged({{d.Keep(), installed}}).kind, InstallResult::Installed);
    EXPECT_EQ(test::FileBytes(installed), "added");
    EXPECT_EQ(RunLeftovers(), std::vector<std::string>{});
}

TEST_F(StagedDownloadTest, DiscardLeavesTheInstalledFileAndRemovesTheTemporaryOne) {
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(installed, "installed");
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    test::WriteFileBytes(temporary, "half a fi");
    d.Discard();
    EXPECT_EQ(test::FileBytes(installed), "installed");
    EXPECT_FALSE(test::PathExists(temporary));
}

TEST_F(StagedDownloadTest, GoingOutOfScopeDiscards) {
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(installed, "installed");
    std::string temporary;
    {
        StagedDownload d;
        temporary = d.Begin(installed);
        test::WriteFileBytes(temporary, "partial");
    }
    EXPECT_EQ(test::FileBytes(installed), "installed");
    EXPECT_FALSE(test::PathExists(temporary));
}

TEST_F(StagedDownloadTest, LeftoversOfThatFormAreRemovedOncePerRunBeforeTheRunWritesIntoTheFolder) {
    const char* const leftovers[] = {"~qv0BAD.tmp", "~QV00ff.TMP"};
    const char* const others[] = {"~qvBAD.tmp", "~qv0BADD.tmp", "x~qv1234.tmp", "~qv1234.tmp.keep", "QVX.exe"};
    for (const char* name : leftovers) test::WriteFileBytes(folder + name, "left over");
    SetFileAttributesA((folder + leftovers[1]).c_str(), FILE_ATTRIBUTE_READONLY);
    for (const char* name : others) test::WriteFileBytes(folder + name, name);
    CreateDirectoryA((folder + "~qv7777.tmp").c_str(), nullptr);  // a folder is no leftover file
    // A sub-folder is cleared only when a download goes there.
    CreateDirectoryA((folder + "sub").c_str(), nullptr);
    test::WriteFileBytes(folder + "sub\\~qv1111.tmp", "left over");

    StagedDownload d(0x0100);  // clear of the names above
    d.Begin(folder + "QVX.exe");
    for (const char* name : leftovers) EXPECT_FALSE(test::PathExists(folder + name)) << name;
    for (const char* name : others) EXPECT_EQ(test::FileBytes(folder + name), name);
    EXPECT_TRUE(test::PathExists(folder + "~qv7777.tmp"));
    EXPECT_TRUE(test::PathExists(folder + "sub\\~qv1111.tmp"));
    d.Discard();

    // Once per folder and run: what appears later in a folder this run has
    // written into is not this run's to remove ...
    test::WriteFileBytes(folder + "~qv2222.tmp", "another copy of the program");
    d.Begin(folder + "a.dat");
    d.Discard();
    EXPECT_TRUE(test::PathExists(folder + "~qv2222.tmp"));
    d.Begin(folder + "sub/new.dll");
    d.Discard();
    EXPECT_FALSE(test::PathExists(folder + "sub\\~qv1111.tmp"));
    // ... until the next run.
    d.NewRun();
    d.Begin(folder + "a.dat");
    d.Discard();
    EXPECT_FALSE(test::PathExists(folder + "~qv2222.tmp"));
}

TEST_F(StagedDownloadTest, ANameInUseIsNeitherTakenNorRemoved) {
    // Another copy of the program receiving into ~qv0010.tmp (open, as the
    // client keeps it), and a folder of the next name.
    const std::string busy = folder + "~qv0010.tmp";
    HANDLE open = CreateFileA(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(open, "theirs", 6, &written, nullptr);
    CreateDirectoryA((folder + "~qv0011.tmp").c_str(), nullptr);
    StagedDownload d(0x0010);
    EXPECT_EQ(d.Begin(folder + "QVX.exe"), folder + "~qv0012.tmp");
    CloseHandle(open);
    EXPECT_EQ(test::FileBytes(busy), "theirs");
}

TEST_F(StagedDownloadTest, BeginningAnotherDownloadDiscardsTheOneStaged) {
    StagedDownload d;
    std::string first = d.Begin(folder + "a.dat");
    test::WriteFileBytes(first, "partial");
    std::string second = d.Begin(folder + "b.dat");
    EXPECT_FALSE(test::PathExists(first));
    EXPECT_FALSE(test::PathExists(folder + "a.dat"));
    EXPECT_NE(second, first);
    EXPECT_EQ(d.InstalledFile(), folder + "b.dat");
}

TEST_F(StagedDownloadTest, AMissingFolderFailsWithTheFileOpenMessageNamingTheInstalledFile) {
    const std::string installed = folder + "missing/new.dll";
    StagedDownload d;
    try {
        d.Begin(installed);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + installed);
    }
    EXPECT_FALSE(d.Active());
    EXPECT_FALSE(test::PathExists(folder + "missing"));
}

TEST_F(StagedDownloadTest, ALongNameIsReceivedUnderAShortOneAndPutInPlace) {
    // 250 characters, the longest the folder takes with room to spare; with
    // the folder the path is beyond the classic limit.
    const std::string name = std::string(246, 'n') + ".dll";
    const std::string installed = folder + name;
    ASSERT_GE(installed.size(), static_cast<size_t>(MAX_PATH));
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    EXPECT_EQ(temporary.size(), folder.size() + 11);
    test::WriteFileBytes(temporary, "long name");
    EXPECT_EQ(InstallStaged({{d.Keep(), installed}}).kind, InstallResult::Installed);
    EXPECT_EQ(WideFileBytes(installed), "long name");
    EXPECT_FALSE(test::PathExists(temporary));
    EXPECT_EQ(RunLeftovers(), std::vector<std::string>{});
}

TEST_F(StagedDownloadTest, ABig5NameWhoseSecondByteIsABackslashStaysInTheFolder) {
    // 功能.dll: the second byte of 功 is 0x5C.
    const std::string installed = folder + "\xa5\x5c\xaf\xe0.dll";
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    EXPECT_EQ(FolderOfPath(temporary), folder);
    test::WriteFileBytes(temporary, "function");
    EXPECT_EQ(InstallStaged({{d.Keep(), installed}}).kind, InstallResult::Installed);
    EXPECT_EQ(WideFileBytes(folder + FromWide(L"\u529f\u80fd.dll")), "function");
}

TEST_F(StagedDownloadTest, AFolderWhereTheFileBelongsChangesNothing) {
    // A folder (with something in it) where the file should be.
    const std::string installed = folder + "busy.dll";
    CreateDirectoryA(installed.c_str(), nullptr);
    test::WriteFileBytes(installed + "\\inside", "keep");
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    test::WriteFileBytes(temporary, "new");
    InstallResult r = InstallStaged({{d.Keep(), installed}});
    EXPECT_EQ(r.kind, InstallResult::Failed);
    EXPECT_EQ(r.file, "busy.dll");
    EXPECT_EQ(test::FileBytes(installed + "\\inside"), "keep");
    EXPECT_EQ(test::FileBytes(temporary), "new");  // the caller's to remove
}

TEST_F(StagedDownloadTest, ATemporaryFileThatWentIsNotInstalledAndChangesNothing) {
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(installed, "installed");
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    test::WriteFileBytes(temporary, "new");
    InstallEntry e{"QVX.exe", temporary.substr(folder.size()), 3};
    DeleteFileA(temporary.c_str());
    EXPECT_EQ(InstallTogether(files, {e}).kind, InstallResult::Failed);
    EXPECT_EQ(test::FileBytes(installed), "installed");
}

TEST_F(StagedDownloadTest, AFileAnotherProgramHoldsStopsTheInstallUntilItIsFree) {
    // Held open without sharing (as a program holds a file it works on), and
    // a read-only one beside it that is to be replaced too.
    const std::string held = folder + "QVX.exe", readOnly = folder + "qvxchart.dll";
    test::WriteFileBytes(held, "old exe");
    test::WriteFileBytes(readOnly, "old dll");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    StagedDownload d;
    std::string first = d.Begin(held);
    test::WriteFileBytes(first, "NEW EXE");
    d.Keep();
    std::string second = d.Begin(readOnly);
    test::WriteFileBytes(second, "NEW DLL");
    d.Keep();
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    InstallResult r = InstallStaged({{first, held}, {second, readOnly}});
    EXPECT_EQ(r.kind, InstallResult::InUse);
    EXPECT_EQ(r.file, "QVX.exe");
    CloseHandle(holder);
    EXPECT_EQ(test::FileBytes(held), "old exe");
    EXPECT_EQ(test::FileBytes(readOnly), "old dll");
    EXPECT_EQ(InstallStaged({{first, held}, {second, readOnly}}).kind, InstallResult::Installed);
    EXPECT_EQ(test::FileBytes(held), "NEW EXE");
    EXPECT_EQ(test::FileBytes(readOnly), "NEW DLL");
    EXPECT_EQ(RunLeftovers(), std::vector<std::string>{});
}

TEST_F(StagedDownloadTest, AStopAtEveryChangeOnDiskIsFinishedOrUndoneAtTheNextStart) {
    // The same transaction as the program's, on real files: stopped before
    // each of its changes in turn, then recovered as the next start does.
    struct Stop {};
    for (int stopAt = 1;; ++stopAt) {
        RemoveTree(folder);
        folder = test::MakeTestFolder("qv-stop");
        files.SetFolder(folder);
        CreateDirectoryA((folder + "sub").c_str(), nullptr);
        test::WriteFileBytes(folder + "QVX.exe", "old exe");
        StagedDownload d;
        std::string a = d.Begin(folder + "QVX.exe");
        test::WriteFileBytes(a, "NEW EXE");
        d.Keep();
        std::string b = d.Begin(folder + "sub\\news.dat");
        test::WriteFileBytes(b, "NEWS");
        d.Keep();
        int changes = 0;
        WindowsInstallFiles::SetChangeHook([&](const std::string&) {
            if (++changes == stopAt) throw Stop{};
        });
        bool stopped = false;
        try {
            EXPECT_EQ(InstallStaged({{a, folder + "QVX.exe"}, {b, folder + "sub\\news.dat"}}).kind,
                      InstallResult::Installed);
        } catch (Stop&) {
            stopped = true;
        }
        WindowsInstallFiles::SetChangeHook(nullptr);
        RecoverInstallation(files);
        const std::string exe = test::FileBytes(folder + "QVX.exe");
        const bool news = test::PathExists(folder + "sub\\news.dat");
        EXPECT_TRUE((exe == "old exe" && !news) || (exe == "NEW EXE" && test::FileBytes(folder + "sub\\news.dat") == "NEWS"))
            << "stopped at change " << stopAt << ": QVX.exe " << exe;
        EXPECT_EQ(RunLeftovers(), std::vector<std::string>{}) << "stopped at change " << stopAt;
        if (!stopped) break;
    }
}

}  // namespace
}  // namespace qv
