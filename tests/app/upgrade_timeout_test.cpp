// The window's upgrade run with its real FTP client against a scripted FTP
// peer: a download whose server stalls times out, and the installed file is
// left exactly as it was (the end-to-end tests cover the other ways a
// download ends; a time-out needs a limit shorter than the run's 82.5 s,
// which only a test inside the program can set).
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "app/get_update_file.h"
#include "app/upgrade_names.h"
#include "framework/application.h"
#include "tests/app/app_test_files.h"
#include "tools/ftp/win/ftp_test_servers.h"

namespace qv {
namespace {

// Handles the thread's messages until done() or the time is up.
bool WaitFor(const std::function<bool()>& done, DWORD milliseconds) {
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

const char* const kLoginAndStalledDownload =
    "reply \"220 Ready\"\n"
    "expect \"USER test\"\n"
    "reply \"331 Password required\"\n"
    "expect \"PASS secret\"\n"
    "reply \"230 Logged in\"\n"
    "expect \"TYPE I\"\n"
    "reply \"200 Type set to I\"\n"
    "expect \"PASV\"\n"
    "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
    "expect \"RETR slow.bin\"\n"
    "data-accept\n"
    "reply \"150 Opening BINARY data connection\"\n"
    "%DATA%"
    "data-expect-close 20\n"
    "expect \"QUIT\" 20\n"
    "reply \"221 Goodbye\"\n"
    "expect-close\n";

class UpgradeTimeoutTest : public ::testing::Test {
protected:
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
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        folder = test::MakeTestFolder("qv-timeout");
        InstallFolder = folder;
        installed = folder + "slow.bin";
        test::WriteFileBytes(installed, old);
    }
    void TearDown() override {
        window.reset();
        Application::Instance().OnMessageBox = nullptr;
        Application::Instance().OnExceptionReport = nullptr;
        DeleteFileA(installed.c_str());
        DeleteFileA(StagingFileName(installed).c_str());
        RemoveDirectoryA(folder.c_str());
        InstallFolder.clear();
    }

    // Logs the window's client in at the peer (without the window's own
    // reactions to the login, which would list the login folder), then
    // starts the download of slow.bin the way the run does.
    void LogInAndStartDownload(uint16_t port) {
        FtpClient* client = window->FtpClient1;
        client->SetServerAddress("127.0.0.1");
        client->SetWsPort(std::to_string(port));
        client->SetUserName("test");
        client->SetPassword("secret");
        client->SetPassiveMode(true);
        client->SetTransferTimeout(10);  // 550 ms
        FtpStatusEvent handler = client->OnFtpStatus;
        client->OnFtpStatus = nullptr;
        ASSERT_TRUE(client->LogIn());
        ASSERT_TRUE(WaitFor([&] { return client->ProcessState() == FtpState::Ready; }, 10000));
        client->OnFtpStatus = handler;
        DownloadQueue->Add("slow.bin");
        window->StartNextDownload();
        ASSERT_TRUE(window->CurrentDownload().Active());
    }

    void ExpectTimedOutAndInstalledFileKept() {
        FtpClient* client = window->FtpClient1;
        ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 15000))
            << "no time-out; received " << client->BytesTransferred() << " bytes";
        EXPECT_EQ(boxes, std::vector<std::string>{"Quotiva Internet Upgrading System: Transfer timed out"});
        EXPECT_GT(client->BytesTransferred(), 0);
        EXPECT_EQ(test::FileBytes(installed), old);
        EXPECT_FALSE(test::PathExists(StagingFileName(installed)));
        EXPECT_FALSE(window->CurrentDownload().Active());
        EXPECT_EQ(window->Memo1->Lines().Count(), 0);
        EXPECT_EQ(window->DownloadedCount, 0);
        // Nothing more happens: the run stands until Cancel.
        WaitFor([] { return false; }, 1200);
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_EQ(DownloadQueue->Count(), 1);
        window->btnCancelClick(window.get());
        EXPECT_EQ(test::FileBytes(installed), old);
        EXPECT_FALSE(client->IsConnected());
    }

    std::unique_ptr<GetUpdateFile> window;
    std::vector<std::string> boxes;
    std::string folder, installed;
    const std::string old = std::string(200000, 'o');
};

std::string Script(const std::string& data) {
    std::string s = kLoginAndStalledDownload;
    s.replace(s.find("%DATA%"), 6, data);
    return s;
}

TEST_F(UpgradeTimeoutTest, AServerThatStallsAfterSomeBlocksTimesTheDownloadOut) {
    test::ScriptedPeer peer;
    uint16_t port = peer.RunScript(Script("data-send-slow \"0123456789\" 5 0.1\n"));
    LogInAndStartDownload(port);
    ExpectTimedOutAndInstalledFileKept();
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
}

TEST_F(UpgradeTimeoutTest, AServerThatStallsAfterALargeBurstTimesTheDownloadOut) {
    test::ScriptedPeer peer;
    uint16_t port = peer.RunScript(Script("data-send-repeat \"0123456789\" 30000\n"));
    LogInAndStartDownload(port);
    ExpectTimedOutAndInstalledFileKept();
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
}

}  // namespace
}  // namespace qv
