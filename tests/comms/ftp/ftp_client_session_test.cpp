// Whole sessions of the FTP client against a real FTP server (pyftpdlib on
// 127.0.0.1): logging in and out, folders, listings and downloads in both
// data-connection modes and the three download modes, with the received
// bytes compared to the served files, and the server's refusals.
#include <gtest/gtest.h>

#include <set>

#include "tests/comms/ftp/ftp_client_test_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        if (end > at) out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

class FtpSession : public ::testing::Test {
protected:
    void SetUp() override {
        server = FtpTestServer::FromEnvironment();
        r.Target(server.port, server.user, server.password);
    }
    void TearDown() override {
        if (r.client && r.client->IsConnected()) r.LogOutAndSettle();
    }
    // Lists and returns the listing text (waits for scInfoText).
    std::string List(const std::string& folder, bool full) {
        size_t from = r.events.size();
        EXPECT_TRUE(r.client->ListFolder(folder, full));
        EXPECT_TRUE(r.WaitStatus(scInfoText, from)) << r.History();
        auto at = r.Find(FtpEvent::Status, scInfoText, from);
        if (!at || !r.events[*at].text) return "<none>";
        EXPECT_EQ(r.events[*at].state, FtpState::Ready);
        return *r.events[*at].text;
    }
    // Downloads and waits for scTransferComplete (or an error).
    bool Download(const std::string& remote, const std::string& local, FtpDownloadMode mode) {
        size_t from = r.events.size();
        EXPECT_TRUE(r.client->DownloadFile(remote, local, mode));
        bool done = r.WaitFor([&] {
            return r.Find(FtpEvent::Status, scTransferComplete, from) || r.Count(FtpEvent::Error, from) > 0;
        });
        return done && r.Find(FtpEvent::Status, scTransferComplete, from).has_value();
    }

    FtpTestServer server;
    RecordedClient r;
    TempFolder local;
};

TEST_F(FtpSession, LogInFoldersAndLogOut) {
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    auto connected = r.Find(FtpEvent::Status, scConnected);
    ASSERT_TRUE(connected);
    // The greeting from its fifth character on (pyftpdlib's banner).
    ASSERT_TRUE(r.events[*connected].text);
    EXPECT_EQ(r.events[*connected].text->substr(r.events[*connected].text->size() - 2), "\r\n");
    EXPECT_TRUE(r.client->LoggedIn());

    size_t from = r.events.size();
    EXPECT_TRUE(r.client->QueryFolder());
    EXPECT_EQ(r.client->ProcessState(), FtpState::FolderCommand);
    EXPECT_FALSE(r.client->QueryFolder());  // one operation at a time
    ASSERT_TRUE(r.WaitStatus(scCurrentFolder, from));
    EXPECT_EQ(r.events[*r.Find(FtpEvent::Status, scCurrentFolder, from)].text, "/");

    // The upgrade folder as the upgrade run names it, with a double slash.
    from = r.events.size();
    EXPECT_TRUE(r.client->ChangeFolder("//QVX_upgrade"));
    ASSERT_TRUE(r.WaitStatus(scOperationComplete, from)) << r.History();
    auto done = r.Find(FtpEvent::Status, scOperationComplete, from);
    EXPECT_FALSE(r.events[*done].text.has_value());
    EXPECT_EQ(r.events[*done].state, FtpState::Ready);

    // An empty folder asks for the current one.
    from = r.events.size();
    EXPECT_TRUE(r.client->ChangeFolder(""));
    ASSERT_TRUE(r.WaitStatus(scCurrentFolder, from));
    auto current = r.Find(FtpEvent::Status, scCurrentFolder, from);
    EXPECT_EQ(r.events[*current].text, "/QVX_upgrade");
    EXPECT_EQ(r.events[*current].state, FtpState::Ready);

    // A missing folder: the server's refusal, back to Ready.
    from = r.events.size();
    EXPECT_TRUE(r.client->ChangeFolder("no_such_folder"));
    ASSERT_TRUE(r.WaitError(from)) << r.History();
    auto error = r.Find(FtpEvent::Error, 550, from);
    ASSERT_TRUE(error) << r.History();
    ASSERT_TRUE(r.events[*error].text);
    EXPECT_EQ(r.events[*error].text->substr(0, 4), "550 ");
    EXPECT_EQ(r.events[*error].text->substr(r.events[*error].text->size() - 2), "\r\n");
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);

    // Logging out: QUIT is answered with 221 during the wait, so the reset
    // closes the port itself: scLoggedOut, then scDisconnected.
    from = r.events.size();
    EXPECT_TRUE(r.client->LogOut());
    PumpFor(100);
    EXPECT_EQ(r.Sequence(from), (std::vector<std::string>{"scLoggedOut", "log 2", "scDisconnected"})) << r.History();
    EXPECT_FALSE(r.client->IsConnected());
    EXPECT_FALSE(r.client->Open());
    EXPECT_FALSE(r.client->LoggedIn());
    // Every event came from the client.
    for (Object* sender : r.senders) {
        EXPECT_EQ(sender, r.client);
    }
}

TEST_F(FtpSession, WrongPasswordKeepsLoggingInWithTheConnectionOpen) {
    r.client->SetPassword("wrong");
    ASSERT_TRUE(r.client->LogIn());
    // pyftpdlib delays its 530 by a few seconds.
    ASSERT_TRUE(r.WaitError(0, 15000)) << r.History();
    auto error = r.Find(FtpEvent::Error, 530);
    ASSERT_TRUE(error) << r.History();
    ASSERT_TRUE(r.events[*error].text);
    EXPECT_EQ(r.events[*error].text->substr(0, 4), "530 ");
    EXPECT_EQ(r.events[*error].state, FtpState::LoggingIn);
    PumpFor(200);
    EXPECT_EQ(r.client->ProcessState(), FtpState::LoggingIn);
    EXPECT_TRUE(r.client->IsConnected());
    EXPECT_TRUE(r.client->Open());
    EXPECT_FALSE(r.client->LoggedIn());
    EXPECT_EQ(r.Count(FtpEvent::Status, scLoggedIn), 0);
    // Logging out from LoggingIn: never logged in, so only disconnections.
    size_t from = r.events.size();
    r.LogOutAndSettle();
    for (int code : r.Statuses(from)) {
        EXPECT_EQ(code, scDisconnected);
    }
    EXPECT_EQ(r.Count(FtpEvent::Log, lcLoggedOut, from), 0);
}

struct ListingCase {
    bool passive;
    bool full;
};

class FtpSessionListing : public FtpSession, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(FtpSessionListing, ListsTheUpgradeFolder) {
    r.client->SetPassiveMode(GetParam().passive);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    const std::set<std::string> names{"QVX.exe", "readme.txt", "empty.bin", "refused.bin"};

    std::string text = List("//QVX_upgrade", GetParam().full);
    std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), names.size()) << text;
    std::set<std::string> listed;
    for (const std::string& line : lines) {
        if (GetParam().full) {
            // A full listing: one line per file ending in its name.
            size_t blank = line.rfind(' ');
            ASSERT_NE(blank, std::string::npos) << line;
            listed.insert(line.substr(blank + 1));
        } else {
            listed.insert(line);
        }
    }
    EXPECT_EQ(listed, names);
    EXPECT_EQ(r.client->BytesTransferred(), static_cast<int32_t>(text.size()));
    EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);
    EXPECT_EQ(r.client->ListeningSocket(), kInvalidSocket);

    // The current folder's listing, and a listing of a missing folder.
    EXPECT_TRUE(r.client->ChangeFolder("//QVX_upgrade"));
    ASSERT_TRUE(r.WaitStatus(scOperationComplete));
    EXPECT_EQ(Lines(List("", GetParam().full)).size(), names.size());
    size_t from = r.events.size();
    EXPECT_TRUE(r.client->ListFolder("no_such_folder", GetParam().full));
    ASSERT_TRUE(r.WaitError(from)) << r.History();
    EXPECT_TRUE(r.Find(FtpEvent::Error, 550, from)) << r.History();
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    EXPECT_EQ(r.Count(FtpEvent::Status, scInfoText, from), 0);
    PumpFor(100);
    EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);
    EXPECT_EQ(r.client->ListeningSocket(), kInvalidSocket);
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpSessionListing,
                         ::testing::Values(ListingCase{true, false}, ListingCase{true, true},
                                           ListingCase{false, false}, ListingCase{false, true}),
                         [](const auto& info) {
                             return std::string(info.param.passive ? "Passive" : "Active") +
                                    (info.param.full ? "List" : "Nlst");
                         });

TEST_F(FtpSession, ListingLongerThanOneBufferArrivesWhole) {
    // A folder of the served tree with enough names for about 80 KB of
    // listing, made beside the server's files.
    std::string folder = server.root + "\\many";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::set<std::string> names;
    for (int i = 0; i < 1500; ++i) {
        char name[80];
        snprintf(name, sizeof name, "upgrade-component-with-a-long-file-name-%04d.bin", i);
        names.insert(name);
        std::string path = folder + "\\" + name;
        if (!FileExistsAt(path)) WriteFileContent(path, "");
    }
    for (bool passive : {true, false}) {
        r.client->SetPassiveMode(passive);
        if (!r.client->LoggedIn()) {
            ASSERT_TRUE(r.LogInAndWait()) << r.History();
        }
        std::string text = List("many", false);
        EXPECT_GT(text.size(), 65536u);
        std::vector<std::string> lines = Lines(text);
        EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), names) << "passive " << passive;
        EXPECT_EQ(lines.size(), names.size());
    }
    // The next listing starts from an empty buffer again.
    EXPECT_EQ(Lines(List("//QVX_upgrade", false)).size(), 4u);
}

struct DownloadCase {
    bool passive;
    FtpDownloadMode mode;
    const char* localBefore;  // "": no local file; "short", "long": content made by the test
    int32_t restartOffset;
};

class FtpSessionDownload : public FtpSession, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(FtpSessionDownload, ReceivedBytesMatchTheServedFile) {
    const DownloadCase& p = GetParam();
    r.client->SetPassiveMode(p.passive);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    ASSERT_TRUE(r.client->ChangeFolder("//QVX_upgrade"));
    ASSERT_TRUE(r.WaitStatus(scOperationComplete));

    const std::string served = server.ServedFile("QVX_upgrade\\QVX.exe");
    ASSERT_EQ(served.size(), 300u * 1024);
    std::string path = local.File("QVX.exe");
    std::string before;
    if (std::string(p.localBefore) == "long") before = std::string(400 * 1024, 'x');
    if (std::string(p.localBefore) == "head") before = served.substr(0, 100000);
    if (std::string(p.localBefore) == "prefix") before = "PREFIX-";
    if (!before.empty()) WriteFileContent(path, before);

    r.client->SetRestartOffset(p.restartOffset);
    size_t from = r.events.size();
    ASSERT_TRUE(Download("QVX.exe", path, p.mode)) << r.History();
    auto complete = r.Find(FtpEvent::Status, scTransferComplete, from);
    EXPECT_EQ(r.events[*complete].state, FtpState::Ready);
    EXPECT_FALSE(r.events[*complete].text.has_value());
    // The file is closed when the completion is reported.
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_TRUE(FileReleased(path));
    EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);

    std::string expected;
    int32_t received = static_cast<int32_t>(served.size());
    switch (p.mode) {
        case dmReplace: expected = served; break;
        case dmAppend: expected = before + served; break;
        default: {
            // Restart: the offset actually used was corrected to the file's
            // size when it was negative or beyond it.
            int32_t offset = p.restartOffset < 0 || p.restartOffset > static_cast<int32_t>(before.size())
                                 ? static_cast<int32_t>(before.size())
                                 : p.restartOffset;
            EXPECT_EQ(r.client->RestartOffset(), offset);
            // "REST " with that offset went out: pyftpdlib names it back.
            auto rest = r.Find(FtpEvent::Reply, 350, from);
            ASSERT_TRUE(rest) << r.History();
            EXPECT_NE(r.events[*rest].text->find("position " + std::to_string(offset) + "."), std::string::npos)
                << *r.events[*rest].text;
            expected = before.substr(0, static_cast<size_t>(offset)) + served.substr(static_cast<size_t>(offset));
            received = static_cast<int32_t>(served.size()) - offset;
            break;
        }
    }
    std::string got = FileContent(path);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "content differs";
    EXPECT_EQ(r.client->BytesTransferred(), received);

    // Every block was reported, with BytesTransferred growing.
    EXPECT_GE(r.Count(FtpEvent::Status, scProgress, from), 1);
    // The log code of the mode.
    bool restart = p.mode != dmReplace && p.mode != dmAppend;
    EXPECT_EQ(r.Count(FtpEvent::Log, restart ? lcRetransfer : lcDownloading, from), 1) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Error, from), 0) << r.History();
    // The 226 that follows is handled in Ready without any event.
    PumpFor(100);
    EXPECT_EQ(r.Statuses(from), (std::vector<int>{scTransferComplete})) << r.History();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FtpSessionDownload,
    ::testing::Values(DownloadCase{true, dmReplace, "", 0}, DownloadCase{false, dmReplace, "", 0},
                      DownloadCase{true, dmReplace, "long", 0}, DownloadCase{false, dmReplace, "long", 0},
                      DownloadCase{true, dmAppend, "", 0}, DownloadCase{false, dmAppend, "prefix", 0},
                      DownloadCase{true, dmAppend, "prefix", 0}, DownloadCase{true, dmRestart, "head", -1},
                      DownloadCase{false, dmRestart, "head", -1}, DownloadCase{true, dmRestart, "head", 0},
                      DownloadCase{false, dmRestart, "head", 5000000}, DownloadCase{true, dmRestart, "head", 4096},
                      DownloadCase{true, static_cast<FtpDownloadMode>(7), "", -1}),
    [](const auto& info) {
        const DownloadCase& p = info.param;
        std::string mode = p.mode == dmReplace ? "Replace" : p.mode == dmAppend ? "Append" : "Restart";
        std::string offset = p.restartOffset < 0 ? "Minus1" : std::to_string(p.restartOffset);
        return std::string(p.passive ? "Passive" : "Active") + mode + "_" +
               (*p.localBefore ? p.localBefore : "none") + "_" + offset + "_" + std::to_string(info.index);
    });

TEST_F(FtpSession, ProgressCountsEveryBlock) {
    r.client->SetPassiveMode(true);
    ASSERT_TRUE(r.LogInAndWait());
    std::vector<int32_t> seen;
    r.onEvent = [&](const FtpEvent& e) {
        if (e.kind == FtpEvent::Status && e.code == scProgress) seen.push_back(r.client->BytesTransferred());
    };
    std::string path = local.File("big.bin");
    ASSERT_TRUE(Download("big.bin", path, dmReplace)) << r.History();
    EXPECT_EQ(FileContent(path), server.ServedFile("big.bin"));
    // Every block is reported, and no block is larger than one read takes:
    // a 3 MiB file takes at least 3 MiB / kFtpDownloadBlockSize of them.
    EXPECT_GE(seen.size(), (3u << 20) / kFtpDownloadBlockSize);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(r.client->BytesTransferred(), 3 * 1024 * 1024);
}

// A window timer of the thread that the client runs on, counting its
// WM_TIMER messages.
class ThreadTimer {
public:
    explicit ThreadTimer(UINT ms) {
        window_.On(WM_TIMER, [this](WPARAM, LPARAM) -> LRESULT {
            ++ticks;
            return 0;
        });
        SetTimer(window_.Handle(), 1, ms, nullptr);
    }
    ~ThreadTimer() { KillTimer(window_.Handle(), 1); }
    int ticks = 0;

private:
    MessageWindow window_{L"QvTestTimerWindow", nullptr};
};

TEST_F(FtpSession, ALargeDownloadLeavesTheThreadsTimersTheirTurn) {
    // A server on the same machine sends faster than the client writes:
    // every read finds the next block waiting and the next read
    // notification is posted at once. The thread's own timer must still
    // come while the download runs (WM_TIMER comes only when no posted
    // message waits), and the pacing must neither lose nor reorder a byte.
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        r.client->SetPassiveMode(passive);
        if (!r.client->LoggedIn()) {
            ASSERT_TRUE(r.LogInAndWait()) << r.History();
        }
        ThreadTimer timer(10);
        int ticksAtFirstBlock = -1, ticksAtLastBlock = -1;
        size_t blocks = 0;
        r.onEvent = [&](const FtpEvent& e) {
            if (e.kind != FtpEvent::Status || e.code != scProgress) return;
            if (ticksAtFirstBlock < 0) ticksAtFirstBlock = timer.ticks;
            ticksAtLastBlock = timer.ticks;
            ++blocks;
        };
        std::string path = local.File(passive ? "large-p.bin" : "large-a.bin");
        ASSERT_TRUE(Download("large.bin", path, dmReplace)) << r.History();
        r.onEvent = nullptr;
        // One report per block read, none of more than a block.
        EXPECT_GE(blocks, (size_t(64) << 20) / kFtpDownloadBlockSize);
        EXPECT_EQ(r.client->BytesTransferred(), 64 << 20);
        EXPECT_GT(ticksAtLastBlock - ticksAtFirstBlock, 0) << "no WM_TIMER between the first and the last block";
        // The pace timer goes with the transfer: an idle client runs none.
        EXPECT_FALSE(r.client->PaceTimerRunning());
        EXPECT_FALSE(r.client->ReadPacer().Resting());
        EXPECT_TRUE(FileContent(path) == server.ServedFile("large.bin")) << "the file differs from the served one";
        EXPECT_TRUE(DeleteFileA(path.c_str()));
    }

    // An abort in the middle of the file stops the pace timer as well.
    r.client->SetPassiveMode(true);
    std::string path = local.File("large-abort.bin");
    size_t from = r.events.size();
    bool aborted = false;
    r.onEvent = [&](const FtpEvent& e) {
        if (e.kind == FtpEvent::Status && e.code == scProgress && !aborted) {
            aborted = true;
            EXPECT_TRUE(r.client->AbortTransfer());
        }
    };
    ASSERT_TRUE(r.client->DownloadFile("large.bin", path, dmReplace));
    ASSERT_TRUE(r.WaitFor([&] { return aborted && r.client->ProcessState() == FtpState::Ready; })) << r.History();
    r.onEvent = nullptr;
    EXPECT_FALSE(r.client->PaceTimerRunning());
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_EQ(r.Count(FtpEvent::Status, scTransferComplete, from), 0) << r.History();
}

TEST_F(FtpSession, MissingAndRefusedFilesLeaveTheClientReadyWithTheFileClosed) {
    for (bool passive : {true, false}) {
        r.client->SetPassiveMode(passive);
        if (!r.client->LoggedIn()) {
            ASSERT_TRUE(r.LogInAndWait()) << r.History();
        }
        for (const char* name : {"no_such_file.bin", "QVX_upgrade/refused.bin"}) {
            std::string path = local.File(passive ? "p.bin" : "a.bin");
            size_t from = r.events.size();
            EXPECT_FALSE(Download(name, path, dmReplace));
            auto error = r.Find(FtpEvent::Error, 550, from);
            ASSERT_TRUE(error) << r.History();
            EXPECT_EQ(r.events[*error].state, FtpState::Ready);
            EXPECT_EQ(r.events[*error].text->substr(0, 4), "550 ");
            EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
            EXPECT_FALSE(r.client->LocalFileOpen());
            EXPECT_TRUE(FileReleased(path));
            EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);
            EXPECT_EQ(r.client->ListeningSocket(), kInvalidSocket);
            EXPECT_EQ(r.Count(FtpEvent::Status, scTransferComplete, from), 0);
            // The local file was made, empty.
            EXPECT_TRUE(FileExistsAt(path));
        }
    }
    // The client goes on: a file that exists arrives.
    std::string path = local.File("readme.txt");
    ASSERT_TRUE(Download("QVX_upgrade/readme.txt", path, dmReplace)) << r.History();
    EXPECT_EQ(FileContent(path), server.ServedFile("QVX_upgrade\\readme.txt"));
}

TEST_F(FtpSession, LocalFileThatCannotBeOpenedRaisesAndLeavesTheClientReady) {
    ASSERT_TRUE(r.LogInAndWait());
    std::string path = local.Path() + "\\missing_folder\\QVX.exe";
    try {
        r.client->DownloadFile("QVX_upgrade/QVX.exe", path, dmReplace);
        ADD_FAILURE() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + path);
    }
    // Nothing was queued or sent: the client can go on at once.
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    EXPECT_EQ(r.client->CommandCount(), 0);
    std::string other = local.File("readme.txt");
    ASSERT_TRUE(Download("QVX_upgrade/readme.txt", other, dmReplace)) << r.History();
    EXPECT_EQ(FileContent(other), server.ServedFile("QVX_upgrade\\readme.txt"));
}

TEST_F(FtpSession, NextOperationStartsFromTheStatusHandler) {
    // As the upgrade run does: each completion starts the next download
    // from inside the handler, which finds the client Ready.
    r.client->SetPassiveMode(false);
    ASSERT_TRUE(r.LogInAndWait());
    ASSERT_TRUE(r.client->ChangeFolder("//QVX_upgrade"));
    ASSERT_TRUE(r.WaitStatus(scOperationComplete));
    std::vector<std::string> queue{"QVX.exe", "readme.txt", "empty.bin"};
    std::vector<bool> accepted;
    size_t next = 0;
    auto start = [&] {
        accepted.push_back(r.client->DownloadFile(queue[next], local.File(queue[next]), dmReplace));
        ++next;
    };
    r.onEvent = [&](const FtpEvent& e) {
        if (e.kind == FtpEvent::Status && e.code == scTransferComplete && next < queue.size()) start();
    };
    size_t from = r.events.size();
    start();
    ASSERT_TRUE(r.WaitFor([&] { return r.Count(FtpEvent::Status, scTransferComplete, from) == 3; })) << r.History();
    EXPECT_EQ(accepted, (std::vector<bool>{true, true, true}));
    for (const std::string& name : queue)
        EXPECT_EQ(FileContent(local.File(name)), server.ServedFile("QVX_upgrade\\" + name)) << name;
}

TEST_F(FtpSession, FileTypeAsciiAsksForTypeA) {
    r.client->SetFileType(ftAscii);
    r.client->SetPassiveMode(true);
    ASSERT_TRUE(r.LogInAndWait());
    std::string path = local.File("readme.txt");
    size_t from = r.events.size();
    ASSERT_TRUE(Download("QVX_upgrade/readme.txt", path, dmReplace)) << r.History();
    // pyftpdlib confirms the type it was asked for.
    bool sawTypeA = false;
    for (size_t i = from; i < r.events.size(); ++i) {
        const FtpEvent& e = r.events[i];
        if (e.kind == FtpEvent::Reply && e.code == 200 && e.text->find("ASCII") != std::string::npos) sawTypeA = true;
    }
    EXPECT_TRUE(sawTypeA) << r.History();
}

TEST_F(FtpSession, ServerEndingTheSessionLogsOut) {
    ASSERT_TRUE(r.LogInAndWait());
    // The server ends the session on a QUIT sent past LogOut: its 221 (or
    // its close, whichever is handled first) resets the client.
    size_t from = r.events.size();
    r.client->PutString("QUIT\r\n");
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); }));
    PumpFor(200);
    std::vector<int> statuses = r.Statuses(from);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses[0], scLoggedOut);
    EXPECT_EQ(r.Count(FtpEvent::Log, lcLoggedOut, from), 1);
    EXPECT_FALSE(r.client->Open());
}

}  // namespace
}  // namespace qv::test
