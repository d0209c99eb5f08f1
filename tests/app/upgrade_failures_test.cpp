// How the window's upgrade run takes the outcome of each download, with its
// real FTP client against the scripted FTP peer: a file takes the installed
// file's place only when the server confirmed its transfer; a failed file
// shows its one error box, leaves the installed file byte for byte as it
// was and no temporary file behind, is neither listed nor counted, and is
// the only file dropped from the queue; the completion message comes only
// when a file really arrived.
#include <windows.h>

#include <gtest/gtest.h>

#include "comms/dispatch/socket_binding.h"
#include "tests/app/window_run_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv {
namespace {

using test::StagingFilesIn;
using test::WaitFor;

const std::string kOldQvx = std::string(3000, 'O');   // longer than what a cut transfer brings
const std::string kOldC = "installed c";
const std::string kCompleted = "Quotiva Internet Upgrading System: \xa9\xd2\xbb\xdd\xc0\xc9\xae\xd7\xa4w\xa4U\xb8\xfc\xa7\xb9\xa6\xa8";

struct MiddleCase {
    const char* name;
    // The peer's steps for QVX.exe, the second of three files.
    std::string steps;
    // The boxes of the whole run, the completion message included.
    std::vector<std::string> boxes;
    // QVX.exe arrives (otherwise the installed one stays).
    bool arrives;
    // The server is gone after QVX.exe: c.dat is not fetched and the run
    // stands (no file is left to fetch, and no message says it is over).
    bool connectionLost = false;
};

void PrintTo(const MiddleCase& c, std::ostream* out) { *out << c.name; }

std::vector<MiddleCase> MiddleCases() {
    const std::string cut = test::PeerDownloadStart("QVX.exe") + "data-send-repeat \"0123456789\" 100\n";
    return {
        {"confirmed", test::PeerDownload("QVX.exe", "MZ\\x90\\x00NEW"), {kCompleted}, true},
        {"cut_then_426", cut + "data-close\nreply \"426 Connection closed; transfer aborted.\"\n",
         {"FTP Error: 426: 426 Connection closed; transfer aborted.\r\n", kCompleted}, false},
        {"cut_then_451_late", cut + "data-close\nsleep 0.3\nreply \"451 Local error in processing.\"\n",
         {"FTP Error: 451: 451 Local error in processing.\r\n", kCompleted}, false},
        {"announced_size_not_arriving",
         test::PeerDownloadStart("QVX.exe", "150 Opening BINARY data connection for QVX.exe (100000 bytes)") +
             "data-send-repeat \"0123456789\" 100\ndata-close\nreply \"226 Transfer complete\"\n",
         {"FTP Error: -2: Transfer incomplete: 1000 of 100000 bytes", kCompleted}, false},
        {"refused",
         "expect \"TYPE I\"\nreply \"200 Type set to I\"\nexpect \"PASV\"\n"
         "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
         "expect \"RETR QVX.exe\"\nreply \"550 QVX.exe: permission denied.\"\n",
         {"FTP Error: 550: 550 QVX.exe: permission denied.\r\n", kCompleted}, false},
        {"control_connection_lost", cut + "sleep 0.3\nclose\n", {"FTP Error: -5: Connection closed by the server"},
         false, true},
    };
}

class UpgradeFailures : public test::WindowRunTest, public ::testing::WithParamInterface<MiddleCase> {
protected:
    UpgradeFailures() : WindowRunTest("qv-failures") {}
};

TEST_P(UpgradeFailures, OnlyConfirmedFilesArriveAndAFailedOneChangesNothing) {
    const MiddleCase& c = GetParam();
    Install("QVX.exe", kOldQvx);
    Install("c.dat", kOldC);
    Remember("a.dat");
    // Left by an interrupted run: removed before this run writes here. A
    // file of another form stays.
    Install("~qv0BAD.tmp", "left over");
    SetFileAttributesA((folder + "~qv0BAD.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    Install("~qvBAD.tmp", "not ours");

    std::string script = std::string(test::kPeerLogin) + test::PeerDownload("a.dat", "A-DATA") + c.steps;
    if (!c.connectionLost) script += test::PeerDownload("c.dat", "C-DATA") + test::kPeerQuit;
    test::ScriptedPeer peer;
    LogIn(peer.RunScript(script));
    StartDownloads({"a.dat", "QVX.exe", "c.dat"});

    if (c.connectionLost) {
        ASSERT_TRUE(WaitFor([&] { return !window->FtpClient1->IsConnected() && window->Run().DownloadQueue().empty(); }, 15000))
            << "queue: " << ::testing::PrintToString(Queue());
        test::PumpFor(500);
        EXPECT_FALSE(window->Run().QueueExhausted());
    } else {
        ASSERT_TRUE(WaitFor([&] { return window->Run().QueueExhausted(); }, 15000))
            << "queue: " << ::testing::PrintToString(Queue()) << " boxes: " << ::testing::PrintToString(boxes);
        // What Timer1 does next: log out, then the end of the run.
        window->Timer1Timer(window.get());
    }
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();

    EXPECT_EQ(boxes, c.boxes);
    std::vector<std::string> arrived = {"a.dat"};
    if (c.arrives) arrived.push_back("QVX.exe");
    if (!c.connectionLost) arrived.push_back("c.dat");
    EXPECT_EQ(Memo1Lines(), arrived);
    EXPECT_EQ(window->Run().DownloadedCount(), static_cast<int32_t>(arrived.size()));
    if (c.connectionLost) {
        // The session went before the downloads ended: nothing is installed,
        // and what arrived stays staged until the run ends with the window.
        EXPECT_EQ(GetFileAttributesA((folder + "a.dat").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(test::FileBytes(folder + "QVX.exe"), kOldQvx);
        EXPECT_EQ(test::FileBytes(folder + "c.dat"), kOldC);
        EXPECT_EQ(StagingFilesIn(folder).size(), 1u);
        window.reset();
    } else {
        // Installed together once the downloads ended.
        EXPECT_EQ(test::FileBytes(folder + "a.dat"), "A-DATA");
        EXPECT_EQ(test::FileBytes(folder + "QVX.exe"), c.arrives ? std::string("MZ\x90\x00NEW", 7) : kOldQvx);
        EXPECT_EQ(test::FileBytes(folder + "c.dat"), "C-DATA");
        EXPECT_TRUE(window->Run().CurrentStaged().empty());
    }
    EXPECT_EQ(StagingFilesIn(folder), std::vector<std::string>{});
    EXPECT_EQ(test::FileBytes(folder + "~qvBAD.tmp"), "not ours");
}

INSTANTIATE_TEST_SUITE_P(Cases, UpgradeFailures, ::testing::ValuesIn(MiddleCases()),
                         [](const auto& info) { return std::string(info.param.name); });

class UpgradeRunEnd : public test::WindowRunTest {
protected:
    UpgradeRunEnd() : WindowRunTest("qv-run-end") {}
};

TEST_F(UpgradeRunEnd, WhenNoFileArrivedTheRunEndsWithoutTheCompletionMessage) {
    Install("QVX.exe", kOldQvx);
    test::ScriptedPeer peer;
    LogIn(peer.RunScript(std::string(test::kPeerLogin) + test::PeerDownloadStart("QVX.exe") +
                         "data-send-repeat \"0123456789\" 100\ndata-close\n"
                         "reply \"426 Connection closed; transfer aborted.\"\n" +
                         test::kPeerQuit));
    StartDownloads({"QVX.exe"});
    ASSERT_TRUE(WaitFor([&] { return window->Run().QueueExhausted(); }, 15000));
    window->Timer1Timer(window.get());
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
    EXPECT_EQ(boxes, std::vector<std::string>{"FTP Error: 426: 426 Connection closed; transfer aborted.\r\n"});
    EXPECT_EQ(Memo1Lines(), std::vector<std::string>{});
    EXPECT_EQ(window->Run().DownloadedCount(), 0);
    EXPECT_EQ(test::FileBytes(folder + "QVX.exe"), kOldQvx);
    EXPECT_EQ(StagingFilesIn(folder), std::vector<std::string>{});
}

TEST_F(UpgradeRunEnd, AFileThatCannotBePutInPlaceFailsAloneAndTheOthersAreInstalled) {
    // A folder (not empty) stands where QVX.exe should go: the server
    // confirmed the file, but at the end of the run it cannot replace what
    // is there; it fails alone, and c.dat is installed.
    const std::string blocked = folder + "QVX.exe";
    CreateDirectoryA(blocked.c_str(), nullptr);
    test::WriteFileBytes(blocked + "\\inside", "keep");
    Remember("QVX.exe\\inside");
    Remember("QVX.exe");  // the folder, once it is empty
    Remember("c.dat");
    test::ScriptedPeer peer;
    LogIn(peer.RunScript(std::string(test::kPeerLogin) + test::PeerDownload("QVX.exe", "NEW") +
                         test::PeerDownload("c.dat", "C-DATA") + test::kPeerQuit));
    StartDownloads({"QVX.exe", "c.dat"});
    ASSERT_TRUE(WaitFor([&] { return window->Run().QueueExhausted(); }, 15000)) << ::testing::PrintToString(boxes);
    window->Timer1Timer(window.get());
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
    EXPECT_EQ(boxes, (std::vector<std::string>{"exception: Cannot create file " + blocked, kCompleted}));
    EXPECT_EQ(Memo1Lines(), (std::vector<std::string>{"QVX.exe", "c.dat"}));
    EXPECT_EQ(window->Run().DownloadedCount(), 2);
    EXPECT_EQ(window->Run().InstalledCount(), 1);
    EXPECT_EQ(test::FileBytes(blocked + "\\inside"), "keep");
    EXPECT_EQ(test::FileBytes(folder + "c.dat"), "C-DATA");
    EXPECT_EQ(StagingFilesIn(folder), std::vector<std::string>{});
}

// The socket library's socket() fails once, as when the process is out of
// sockets, then works again; the real entry is back when the scope ends in
// any case (a test that stops early leaves no failing socket() behind).
FARPROC realSocket = nullptr;
SOCKET WSAAPI SocketOutOfSockets(int, int, int) {
    SocketEntryTable[seSocket] = realSocket;
    sockapi::WSASetLastError(WSAEMFILE);
    return INVALID_SOCKET;
}
struct SocketFailsOnce {
    SocketFailsOnce() {
        realSocket = SocketEntryTable[seSocket];
        SocketEntryTable[seSocket] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SocketOutOfSockets));
    }
    ~SocketFailsOnce() { SocketEntryTable[seSocket] = realSocket; }
};

TEST_F(UpgradeRunEnd, AFileWhoseDataConnectionCannotBeMadeFailsAloneAndTheNextFollows) {
    // QVX.exe's data socket cannot be made: the client sends nothing for
    // it and reports the socket error; that file fails, c.dat follows
    // (no run that waits for a download that never began).
    Install("QVX.exe", kOldQvx);
    Remember("c.dat");
    test::ScriptedPeer peer;
    LogIn(peer.RunScript(std::string(test::kPeerLogin) + test::PeerDownload("c.dat", "C-DATA") + test::kPeerQuit));
    SocketFailsOnce failing;
    StartDownloads({"QVX.exe", "c.dat"});
    ASSERT_TRUE(WaitFor([&] { return window->Run().QueueExhausted(); }, 15000)) << ::testing::PrintToString(boxes);
    EXPECT_EQ(SocketEntryTable[seSocket], realSocket);
    window->Timer1Timer(window.get());
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
    EXPECT_EQ(boxes, (std::vector<std::string>{"FTP Error: 10024: ", kCompleted}));
    EXPECT_EQ(Memo1Lines(), std::vector<std::string>{"c.dat"});
    EXPECT_EQ(window->Run().DownloadedCount(), 1);
    EXPECT_EQ(test::FileBytes(folder + "QVX.exe"), kOldQvx);
    EXPECT_EQ(test::FileBytes(folder + "c.dat"), "C-DATA");
    EXPECT_EQ(StagingFilesIn(folder), std::vector<std::string>{});
}

TEST_F(UpgradeRunEnd, TheLoginFoldersRefusedListingStillLetsTheRunGoOn) {
    // Some servers answer an empty folder's names-only listing with 450.
    // That listing only tells the window that the session is ready: no box,
    // and the run may go on to the upgrade folder.
    test::ScriptedPeer peer;
    std::string script = test::kPeerLogin;
    script += "expect \"PWD\"\nreply \"257 \\\"/\\\" is the current directory\"\n"
              "expect \"TYPE A\"\nreply \"200 Type set to A\"\nexpect \"PASV\"\n"
              "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
              "expect \"NLST\"\nreply \"450 No files found\"\n";
    script += test::kPeerQuit;
    FtpClient* client = window->FtpClient1;
    client->SetServerAddress("127.0.0.1");
    client->SetWsPort(std::to_string(peer.RunScript(script)));
    client->SetUserName("test");
    client->SetPassword("secret");
    client->SetPassiveMode(true);
    ASSERT_TRUE(client->LogIn());
    ASSERT_TRUE(WaitFor([&] { return window->Run().ListingReceived(); }, 15000)) << ::testing::PrintToString(boxes);
    EXPECT_TRUE(window->Run().LoggedIn());
    EXPECT_EQ(boxes, std::vector<std::string>{});
    EXPECT_FALSE(window->Run().QueueExhausted());
    client->LogOut();
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
}

TEST_F(UpgradeRunEnd, AnErrorWhileNoFileIsBeingReceivedDropsNoFile) {
    // The queue is filled; the downloads have not begun (Timer2 starts
    // them): an error now failed none of the files.
    window->Run().SetDownloadQueue({"a.dat", "b.dat"});
    window->FtpClient1FtpError(window->FtpClient1, 500, "500 Unknown command.\r\n");
    EXPECT_EQ(boxes, std::vector<std::string>{"FTP Error: 500: 500 Unknown command.\r\n"});
    EXPECT_EQ(Queue(), (std::vector<std::string>{"a.dat", "b.dat"}));
    EXPECT_FALSE(window->Run().QueueExhausted());
    EXPECT_TRUE(window->Run().CurrentStaged().empty());
}

TEST_F(UpgradeRunEnd, AnErrorBeforeTheListingLeavesNoFileAndTheRunEndsOnceItMay) {
    test::ScriptedPeer peer;
    LogIn(peer.RunScript(std::string(test::kPeerLogin) + test::kPeerQuit));
    window->FtpClient1FtpError(window->FtpClient1, 550, nullptr);
    EXPECT_EQ(boxes, std::vector<std::string>{"FTP Error: 550: "});
    EXPECT_TRUE(window->Run().QueueExhausted());
    window->FtpClient1->LogOut();
    test::PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
}

TEST_F(UpgradeRunEnd, AnErrorThatEndedTheSessionLeavesTheRunStandingUntilCancel) {
    // The client is Unconnected when the error arrives (a 421, the server
    // gone): the box, and nothing more; no file is dropped or taken for
    // done, and the run does not end as if it had completed.
    window->Run().SetDownloadQueue({"qvxchart.dll"});
    window->FtpClient1FtpError(window->FtpClient1, 421, "421 Shutting down\r\n");
    EXPECT_EQ(boxes, std::vector<std::string>{"FTP Error: 421: 421 Shutting down\r\n"});
    EXPECT_EQ(Queue(), std::vector<std::string>{"qvxchart.dll"});
    EXPECT_FALSE(window->Run().QueueExhausted());
}

}  // namespace
}  // namespace qv
