// Downloads received beside the installed file, on real files under Wine.
#include "app/staged_download.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/upgrade_names.h"
#include "framework/exception.h"

namespace qv {
namespace {

class StagedDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        folder = std::string(base) + "qv-staged-" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder.c_str(), nullptr);
    }
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
    static void Write(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static std::string Read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool Exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string folder;
};

TEST_F(StagedDownloadTest, CommitPutsExactlyTheReceivedBytesInPlace) {
    const std::string installed = folder + "QVX.exe";
    Write(installed, std::string(5000, 'o'));  // longer than the new file
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    EXPECT_EQ(temporary, StagingFileName(installed));
    EXPECT_FALSE(Exists(temporary));  // the client creates it
    EXPECT_EQ(Read(installed), std::string(5000, 'o'));
    Write(temporary, std::string("new\0bytes", 9) + std::string(100, 'n'));
    d.Commit();
    EXPECT_FALSE(d.Active());
    EXPECT_EQ(Read(installed), std::string("new\0bytes", 9) + std::string(100, 'n'));
    EXPECT_FALSE(Exists(temporary));
}

TEST_F(StagedDownloadTest, CommitCreatesAFileThatWasNotInstalled) {
    const std::string installed = folder + "added.dat";
    StagedDownload d;
    Write(d.Begin(installed), "added");
    d.Commit();
    EXPECT_EQ(Read(installed), "added");
}

TEST_F(StagedDownloadTest, DiscardLeavesTheInstalledFileAndRemovesTheTemporaryOne) {
    const std::string installed = folder + "QVX.exe";
    Write(installed, "installed");
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    Write(temporary, "half a fi");
    d.Discard();
    EXPECT_EQ(Read(installed), "installed");
    EXPECT_FALSE(Exists(temporary));
    d.Commit();  // nothing staged any more
    EXPECT_EQ(Read(installed), "installed");
}

TEST_F(StagedDownloadTest, GoingOutOfScopeDiscards) {
    const std::string installed = folder + "QVX.exe";
    Write(installed, "installed");
    std::string temporary;
    {
        StagedDownload d;
        temporary = d.Begin(installed);
        Write(temporary, "partial");
    }
    EXPECT_EQ(Read(installed), "installed");
    EXPECT_FALSE(Exists(temporary));
}

TEST_F(StagedDownloadTest, ALeftoverTemporaryFileIsRemovedBeforeTheDownloadStarts) {
    // A longer file left by an earlier run would keep its tail: the client
    // writes over an existing file from its start without shortening it.
    const std::string installed = folder + "QVX.exe";
    Write(StagingFileName(installed), std::string(9000, 'x'));
    SetFileAttributesA(StagingFileName(installed).c_str(), FILE_ATTRIBUTE_READONLY);
    StagedDownload d;
    EXPECT_FALSE(Exists(d.Begin(installed)));
}

TEST_F(StagedDownloadTest, BeginningAnotherDownloadDiscardsTheOneStaged) {
    StagedDownload d;
    std::string first = d.Begin(folder + "a.dat");
    Write(first, "partial");
    d.Begin(folder + "b.dat");
    EXPECT_FALSE(Exists(first));
    EXPECT_FALSE(Exists(folder + "a.dat"));
    EXPECT_EQ(d.InstalledFile(), folder + "b.dat");
}

TEST_F(StagedDownloadTest, AnInstalledFileThatCannotBeReplacedStaysAndTheReportNamesIt) {
    // A folder (with something in it) where the file should be.
    const std::string installed = folder + "busy.dll";
    CreateDirectoryA(installed.c_str(), nullptr);
    Write(installed + "\\inside", "keep");
    StagedDownload d;
    std::string temporary = d.Begin(installed);
    Write(temporary, "new");
    try {
        d.Commit();
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + installed);
    }
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(Read(installed + "\\inside"), "keep");
    EXPECT_FALSE(d.Active());
}

TEST_F(StagedDownloadTest, CommitWithoutAReceivedFileRaisesAndChangesNothing) {
    const std::string installed = folder + "QVX.exe";
    Write(installed, "installed");
    StagedDownload d;
    d.Begin(installed);
    EXPECT_THROW(d.Commit(), EFCreateError);
    EXPECT_EQ(Read(installed), "installed");
}

}  // namespace
}  // namespace qv
