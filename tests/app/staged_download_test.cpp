// Downloads received beside the installed file, on real files under Wine.
#include "app/staged_download.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "app/upgrade_names.h"
#include "framework/exception.h"
#include "tests/app/app_test_files.h"

namespace qv {
namespace {

class StagedDownloadTest : public ::testing::Test {
protected:
    void SetUp() override { folder = test::MakeTestFolder("qv-staged"); }
    void TearDown() override {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteFileA((folder + name + "\\inside").c_str());
                    RemoveDirectoryA((folder + name).c_str());
                } else {
                    SetFileAttributesA((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA((folder + name).c_str());
                }
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(folder.c_str());
    }
    std::string folder;
};

TEST_F(StagedDownloadTest, CommitPutsExactlyTheReceivedBytesInPlace) {
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(installed, std::string(5000, 'o'));  // longer than the new file
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    EXPECT_EQ(temporary, StagingFileName(installed));
    EXPECT_FALSE(test::PathExists(temporary));  // the client creates it
    EXPECT_EQ(test::FileBytes(installed), std::string(5000, 'o'));
    test::WriteFileBytes(temporary, std::string("new\0bytes", 9) + std::string(100, 'n'));
    d.Commit();
    EXPECT_FALSE(d.Active());
    EXPECT_EQ(test::FileBytes(installed), std::string("new\0bytes", 9) + std::string(100, 'n'));
    EXPECT_FALSE(test::PathExists(temporary));
}

TEST_F(StagedDownloadTest, CommitCreatesAFileThatWasNotInstalled) {
    const std::string installed = folder + "added.dat";
    StagedDownload d;
    test::WriteFileBytes(d.Begin(installed), "added");
    d.Commit();
    EXPECT_EQ(test::FileBytes(installed), "added");
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
    d.Commit();  // nothing staged any more
    EXPECT_EQ(test::FileBytes(installed), "installed");
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

TEST_F(StagedDownloadTest, ALeftoverTemporaryFileIsRemovedBeforeTheDownloadStarts) {
    // A longer file left by an earlier run would keep its tail: the client
    // writes over an existing file from its start without shortening it.
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(StagingFileName(installed), std::string(9000, 'x'));
    SetFileAttributesA(StagingFileName(installed).c_str(), FILE_ATTRIBUTE_READONLY);
    StagedDownload d;
    EXPECT_FALSE(test::PathExists(d.Begin(installed)));
}

TEST_F(StagedDownloadTest, BeginningAnotherDownloadDiscardsTheOneStaged) {
    StagedDownload d;
    std::string first = d.Begin(folder + "a.dat");
    test::WriteFileBytes(first, "partial");
    d.Begin(folder + "b.dat");
    EXPECT_FALSE(test::PathExists(first));
    EXPECT_FALSE(test::PathExists(folder + "a.dat"));
    EXPECT_EQ(d.InstalledFile(), folder + "b.dat");
}

TEST_F(StagedDownloadTest, AnInstalledFileThatCannotBeReplacedStaysAndTheReportNamesIt) {
    // A folder (with something in it) where the file should be.
    const std::string installed = folder + "busy.dll";
    CreateDirectoryA(installed.c_str(), nullptr);
    test::WriteFileBytes(installed + "\\inside", "keep");
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    test::WriteFileBytes(temporary, "new");
    try {
        d.Commit();
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + installed);
    }
    EXPECT_FALSE(test::PathExists(temporary));
    EXPECT_EQ(test::FileBytes(installed + "\\inside"), "keep");
    EXPECT_FALSE(d.Active());
}

TEST_F(StagedDownloadTest, CommitWithoutAReceivedFileRaisesAndChangesNothing) {
    const std::string installed = folder + "QVX.exe";
    test::WriteFileBytes(installed, "installed");
    StagedDownload d;
    d.Begin(installed);
    EXPECT_THROW(d.Commit(), EFCreateError);
    EXPECT_EQ(test::FileBytes(installed), "installed");
}

}  // namespace
}  // namespace qv
