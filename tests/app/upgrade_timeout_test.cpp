// The window's upgrade run with its real FTP client against a scripted FTP
// peer: a download whose server stalls times out, and the installed file is
// left exactly as it was (a time-out needs a limit shorter than the run's
// 82.5 s, which only a test inside the program can set).
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/app/window_run_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv {
namespace {

using test::StagingFilesIn;
using test::WaitFor;

class UpgradeTimeoutTest : public test::WindowRunTest {
protected:
    UpgradeTimeoutTest() : WindowRunTest("qv-timeout") {}

    void SetUp() override {
        WindowRunTest::SetUp();
        installed = folder + "slow.bin";
        Install("slow.bin", old);
    }

    // Starts the download of slow.bin the way the run does, with a
    // transfer limit of 550 ms.
    void LogInAndStartDownload(uint16_t port) {
        LogIn(port, 10);
        StartDownloads({"slow.bin"});
        ASSERT_FALSE(window->Run().CurrentStaged().empty());
    }

    void ExpectTimedOutAndInstalledFileKept() {
        FtpClient* client = window->FtpClient1;
        ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 15000))
            << "no time-out; received " << client->BytesTransferred() << " bytes";
        EXPECT_EQ(boxes, std::vector<std::string>{"Quotiva Internet Upgrading System: Transfer timed out"});
        EXPECT_GT(client->BytesTransferred(), 0);
        EXPECT_EQ(test::FileBytes(installed), old);
        EXPECT_EQ(StagingFilesIn(folder), std::vector<std::string>{});
        EXPECT_TRUE(window->Run().CurrentStaged().empty());
        EXPECT_EQ(window->Memo1->Lines().Count(), 0);
        EXPECT_EQ(window->Run().DownloadedCount(), 0);
        // Nothing more happens: the run stands until Cancel.
        test::PumpFor(1200);
        EXPECT_EQ(boxes.size(), 1u);
        EXPECT_EQ(window->Run().DownloadQueue().size(), 1u);
        window->btnCancelClick(window.get());
        EXPECT_EQ(test::FileBytes(installed), old);
        EXPECT_FALSE(client->IsConnected());
    }

    std::string installed;
    const std::string old = std::string(200000, 'o');
};

std::string Script(const std::string& data) {
    return std::string(test::kPeerLogin) + test::PeerDownloadStart("slow.bin") + data +
           "data-expect-close 20\n"
           "expect \"QUIT\" 20\n"
           "reply \"221 Goodbye\"\n"
           "expect-close\n";
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
