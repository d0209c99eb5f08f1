// The upgrade window with its real FTP client against the scripted FTP peer:
// a window made from its resource, an installation folder of real files,
// the boxes and exception reports it shows recorded instead of shown, and
// the client logged in at the peer without the window's own reactions to
// the login (which would list the login folder), so that a test starts the
// downloads the way the run does.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/get_update_file.h"
#include "app/staging_names.h"
#include "framework/application.h"
#include "tests/app/app_test_files.h"
#include "tests/support/peer_scripts.h"

namespace qv::test {

// Handles the thread's messages until done() or the time is up.
inline bool WaitFor(const std::function<bool()>& done, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// Handles the thread's messages for that long.
inline void PumpFor(DWORD milliseconds) { WaitFor([] { return false; }, milliseconds); }

// The names in a folder that have the form of the run's temporary files.
inline std::vector<std::string> StagingFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (IsStagingFileName(found.cFileName)) names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

class WindowRunTest : public ::testing::Test {
protected:
    explicit WindowRunTest(std::string folderPrefix) : folderPrefix_(std::move(folderPrefix)) {}

    void SetUp() override {
        Application& app = Application::Instance();
        app.SetTitle(kApplicationTitle);
        RegisterApplicationClasses();
        app.OnMessageBox = [this](HWND, const std::string& text, const std::string& caption, UINT) {
            boxes.push_back(caption + ": " + text);
            return IDOK;
        };
        app.OnExceptionReport = [this](const std::string& text) { boxes.push_back("exception: " + text); };
        window = CreateForm<GetUpdateFile>();
        // Start-up found no installation here: its message is not part of
        // the test, nor is the end of the program it asked for (a pending
        // quit would keep the timers' messages from ever being taken).
        boxes.clear();
        DrainQuit();
        folder = MakeTestFolder(folderPrefix_);
        InstallFolder = folder;
    }

    void TearDown() override {
        window.reset();
        Application::Instance().OnMessageBox = nullptr;
        Application::Instance().OnExceptionReport = nullptr;
        for (const std::string& name : created) {
            SetFileAttributesA((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA((folder + name).c_str())) RemoveDirectoryA((folder + name).c_str());
        }
        for (const std::string& name : StagingFilesIn(folder)) DeleteFileA((folder + name).c_str());
        RemoveDirectoryA(folder.c_str());
        InstallFolder.clear();
        DrainQuit();
    }

    static void DrainQuit() {
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    // A file of the installation (removed after the test).
    void Install(const std::string& name, const std::string& content) {
        WriteFileBytes(folder + name, content);
        Remember(name);
    }
    // A file the test expects the run to create (removed after the test).
    void Remember(const std::string& name) { created.push_back(name); }

    // Logs the window's client in at the peer on `port` in passive mode.
    void LogIn(uint16_t port, int32_t transferTimeout = 1500) {
        FtpClient* client = window->FtpClient1;
        client->SetServerAddress("127.0.0.1");
        client->SetWsPort(std::to_string(port));
        client->SetUserName("test");
        client->SetPassword("secret");
        client->SetPassiveMode(true);
        client->SetTransferTimeout(transferTimeout);
        FtpStatusEvent handler = client->OnFtpStatus;
        client->OnFtpStatus = nullptr;
        ASSERT_TRUE(client->LogIn());
        ASSERT_TRUE(WaitFor([&] { return client->ProcessState() == FtpState::Ready; }, 10000));
        client->OnFtpStatus = handler;
    }

    // Fills the queue as the listing does and starts the first download.
    void StartDownloads(const std::vector<std::string>& names) {
        window->Run().SetDownloadQueue(names);
        window->Run().StartNextDownload();
    }

    std::vector<std::string> Memo1Lines() const { return window->Memo1->Lines().ToVector(); }
    std::vector<std::string> Queue() const {
        return window->Run().DownloadQueue();
    }

    ComponentPtr<GetUpdateFile> window;
    std::vector<std::string> boxes;
    std::string folder;

private:
    std::string folderPrefix_;
    std::vector<std::string> created;
};

}  // namespace qv::test
