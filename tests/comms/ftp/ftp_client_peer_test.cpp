// The FTP client against the scripted peer: exact reply sequences that a
// real server will not produce on demand (multi-line greetings, the login
// variants, 421 in every state, silence, aborts, refused and odd data
// connections) and servers that misbehave. Each scenario also checks what
// the client sent; its verdict is part of every test.
#include <gtest/gtest.h>

#include "tests/comms/ftp/ftp_client_test_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv::test {
namespace {

class FtpPeer : public ::testing::Test {
protected:
    void Start(const std::string& scenario) { r.Target(peer.Run(scenario)); }
    void StartScript(const std::string& text) { r.Target(peer.RunScript(text)); }
    // The peer's verdict, once the client is done with it.
    void ExpectPeerPassed(double seconds = 30) {
        PeerVerdict verdict = peer.Wait(seconds);
        EXPECT_TRUE(verdict.passed) << verdict.Report() << "\nclient events:\n" << r.History();
    }
    std::optional<std::string> TextOf(FtpEvent::Kind kind, int32_t code, size_t from = 0) {
        auto at = r.Find(kind, code, from);
        if (!at) return std::string("<no such event>");
        return r.events[*at].text;
    }

    ScriptedPeer peer;
    RecordedClient r;
    TempFolder local;
};


TEST_F(FtpPeer, GreetingOfThreeLines) {
    Start("greeting_three_lines");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Status, scConnected), 1);
    EXPECT_EQ(TextOf(FtpEvent::Status, scConnected), "Welcome\r\n220-Hello\r\n");
    EXPECT_EQ(r.Count(FtpEvent::Reply, 220), 3);
    std::vector<std::string> lines;
    for (const FtpEvent& e : r.events)
        if (e.kind == FtpEvent::Reply && e.code == 220) lines.push_back(*e.text);
    EXPECT_EQ(lines, (std::vector<std::string>{"220-Welcome\r\n", "220-Hello\r\n", "220 Ready\r\n"}));
    // Each reply is delivered before the status it caused.
    size_t lastGreetingLine = 0, loggedInReply = 0;
    for (size_t i = 0; i < r.events.size(); ++i) {
        if (r.events[i].kind == FtpEvent::Reply && r.events[i].code == 220) lastGreetingLine = i;
        if (r.events[i].kind == FtpEvent::Reply && r.events[i].code == 230) loggedInReply = i;
    }
    EXPECT_LT(lastGreetingLine, *r.Find(FtpEvent::Status, scConnected));
    EXPECT_LT(loggedInReply, *r.Find(FtpEvent::Status, scLoggedIn));
    EXPECT_EQ(r.Count(FtpEvent::Error), 0);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

struct LoginCase {
    const char* scenario;
    const char* account;
};

class FtpPeerLogin : public FtpPeer, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(FtpPeerLogin, LogsIn) {
    r.client->SetAccount(GetParam().account);
    Start(GetParam().scenario);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Error), 0) << r.History();
    EXPECT_TRUE(r.client->LoggedIn());
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

INSTANTIATE_TEST_SUITE_P(Variants, FtpPeerLogin,
                         ::testing::Values(LoginCase{"login_230_after_user", ""}, LoginCase{"login_332_acct", "acct1"},
                                           LoginCase{"login_202", ""}, LoginCase{"telnet_iac_in_reply", ""}),
                         [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(FtpPeer, WrongPasswordReportsTheReplyAndKeepsTheConnection) {
    Start("login_530");
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitError()) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Error, 530), "530 Login incorrect.\r\n");
    // The peer checks that nothing is sent for a second.
    PumpFor(1200);
    EXPECT_EQ(r.client->ProcessState(), FtpState::LoggingIn);
    EXPECT_TRUE(r.client->Open());
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, TelnetCommandsAreTakenOutOfReplies) {
    Start("telnet_iac_in_reply");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Status, scConnected), "Hello \xff world\r\n");
    EXPECT_EQ(TextOf(FtpEvent::Reply, 220), "220 Hello \xff world\r\n");
    EXPECT_EQ(TextOf(FtpEvent::Reply, 331), "331 Password required\r\n");
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

enum class Setup { None, LogIn, LoggedIn, List, Download, Folder };

struct Reply421Case {
    const char* scenario;
    Setup setup;
    std::vector<int> statuses;  // every status of the session, in order
    const char* text;           // of the one error: the 421 as received
};

class FtpPeer421 : public FtpPeer, public ::testing::WithParamInterface<Reply421Case> {};

TEST_P(FtpPeer421, ReportsOnceThenResetsAndCloses) {
    const Reply421Case& p = GetParam();
    r.client->SetPassiveMode(true);
    Start(p.scenario);
    std::string path = local.File("f.bin");
    if (p.setup == Setup::None || p.setup == Setup::LogIn) {
        ASSERT_TRUE(r.client->LogIn());
    } else {
        ASSERT_TRUE(r.LogInAndWait()) << r.History();
        if (p.setup == Setup::List) {
            EXPECT_TRUE(r.client->ListFolder("", false));
        }
        if (p.setup == Setup::Download) {
            EXPECT_TRUE(r.client->DownloadFile("f.bin", path, dmReplace));
        }
        if (p.setup == Setup::Folder) {
            EXPECT_TRUE(r.client->QueryFolder());
        }
    }
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); })) << r.History();
    PumpFor(200);
    EXPECT_EQ(r.Statuses(), p.statuses) << r.History();
    bool wasLoggedIn = p.setup != Setup::None && p.setup != Setup::LogIn;
    EXPECT_EQ(r.Count(FtpEvent::Log, lcLoggedOut), wasLoggedIn ? 1 : 0);
    // The session the server ends is never silent: one error with the 421,
    // handled when the client is already Unconnected, before the reset's
    // reports.
    ASSERT_EQ(r.Count(FtpEvent::Error), 1) << r.History();
    auto error = r.Find(FtpEvent::Error, 421);
    ASSERT_TRUE(error) << r.History();
    EXPECT_EQ(r.events[*error].text, std::string(p.text) + "\r\n");
    EXPECT_EQ(r.events[*error].state, FtpState::Unconnected);
    auto firstEnd = std::find_if(r.events.begin() + static_cast<std::ptrdiff_t>(*error), r.events.end(), [](const FtpEvent& e) {
        return e.kind == FtpEvent::Status && (e.code == scLoggedOut || e.code == scDisconnected);
    });
    EXPECT_NE(firstEnd, r.events.end()) << r.History();
    EXPECT_FALSE(r.client->Open());
    EXPECT_FALSE(r.client->LoggedIn());
    EXPECT_EQ(r.client->CommandCount(), 0);
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);
    ExpectPeerPassed();
}

INSTANTIATE_TEST_SUITE_P(
    States, FtpPeer421,
    ::testing::Values(
        // The reset closes the port itself: one scDisconnected before the
        // login, scLoggedOut and scDisconnected after it.
        Reply421Case{"reply_421_greeting", Setup::None, {scDisconnected},
                     "421 Service not available, closing control connection"},
        Reply421Case{"reply_421_logging_in", Setup::LogIn, {scConnected, scDisconnected},
                     "421 Too many users"},
        Reply421Case{"reply_421_ready", Setup::LoggedIn, {scConnected, scLoggedIn, scLoggedOut, scDisconnected},
                     "421 Idle timeout, closing control connection"},
        Reply421Case{"reply_421_listing", Setup::List, {scConnected, scLoggedIn, scLoggedOut, scDisconnected},
                     "421 Shutting down"},
        Reply421Case{"reply_421_downloading", Setup::Download, {scConnected, scLoggedIn, scLoggedOut, scDisconnected},
                     "421 Shutting down"},
        Reply421Case{"reply_421_folder_command", Setup::Folder,
                     {scConnected, scLoggedIn, scLoggedOut, scDisconnected}, "421 Shutting down"}),
    [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(FtpPeer, SilenceWhileLoggingInTimesOutThenResets) {
    r.client->SetTransferTimeout(10);  // 550 ms
    Start("silence_after_user");
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitStatus(scConnected));
    DWORD start = GetTickCount();
    ASSERT_TRUE(r.WaitStatus(scTransferTimedOut, 0, 5000)) << r.History();
    EXPECT_GE(GetTickCount() - start, 450u);
    PumpFor(200);
    // Fired directly while the timeout is handled: before the report the
    // reset posted.
    EXPECT_EQ(r.Statuses(), (std::vector<int>{scConnected, scTransferTimedOut, scDisconnected}))
        << r.History();
    EXPECT_FALSE(TextOf(FtpEvent::Status, scTransferTimedOut).has_value());
    EXPECT_FALSE(r.client->IsConnected());
    EXPECT_TRUE(r.client->AbortFlag());
    ExpectPeerPassed();
}

class FtpPeerSilence : public FtpPeer, public ::testing::WithParamInterface<int32_t> {};

TEST_P(FtpPeerSilence, SilenceAfterAFolderCommand) {
    int32_t timeout = GetParam();
    r.client->SetTransferTimeout(timeout);
    Start("silence_after_command");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->QueryFolder());
    if (timeout > 0) {
        ASSERT_TRUE(r.WaitStatus(scTransferTimedOut, from, 5000)) << r.History();
        auto at = r.Find(FtpEvent::Status, scTransferTimedOut, from);
        EXPECT_EQ(r.events[*at].state, FtpState::Ready);
        EXPECT_TRUE(r.client->AbortFlag());
        PumpFor(200);
        EXPECT_EQ(r.Statuses(from), (std::vector<int>{scTransferTimedOut}));
        EXPECT_TRUE(r.client->Open());  // the connection stays
    } else {
        // No limit: nothing happens, the client keeps waiting.
        PumpFor(1500);
        EXPECT_EQ(r.Statuses(from), (std::vector<int>{}));
        EXPECT_EQ(r.client->ProcessState(), FtpState::FolderCommand);
    }
    r.LogOutAndSettle();
    ExpectPeerPassed(90);
}

INSTANTIATE_TEST_SUITE_P(Limits, FtpPeerSilence, ::testing::Values(10, 0));

TEST_F(FtpPeer, ConnectTimerRestartedByLogInAfterTheConnectionStands) {
    StartScript("expect \"USER test\"\nexpect-close 10\n");
    r.client->SetTransferTimeout(0);
    ASSERT_TRUE(r.client->LogIn());
    // Connected, but the server sends no greeting.
    ASSERT_TRUE(r.WaitFor([&] { return r.client->ReplyPacket()->Enabled(); }));
    r.client->SetConnectTimeout(10);
    DWORD start = GetTickCount();
    EXPECT_TRUE(r.client->LogIn());  // "USER" again, and the timer runs
    ASSERT_TRUE(r.WaitError(0, 5000)) << r.History();
    EXPECT_GE(GetTickCount() - start, 500u);
    PumpFor(200);
    EXPECT_EQ(r.Sequence(), (std::vector<std::string>{"error -1", "scDisconnected"})) << r.History();
    EXPECT_FALSE(r.client->Open());
    ExpectPeerPassed();
}

TEST_F(FtpPeer, AbortDuringADownload) {
    r.client->SetPassiveMode(true);
    Start("abort_426_226");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    std::string path = local.File("big.bin");
    int32_t atAbort = -1;
    r.onEvent = [&](const FtpEvent& e) {
        if (e.kind == FtpEvent::Status && e.code == scProgress && atAbort < 0) {
            EXPECT_TRUE(r.client->AbortTransfer());
            atAbort = r.client->BytesTransferred();
        }
    };
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("big.bin", path, dmReplace));
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 426, from)) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Error, 426, from), "426 Connection closed; transfer aborted.\r\n");
    auto error = r.Find(FtpEvent::Error, 426, from);
    EXPECT_EQ(r.events[*error].state, FtpState::Ready);
    // Nothing was read after the abort; the file holds what came before it
    // and is closed.
    EXPECT_EQ(r.client->BytesTransferred(), atAbort);
    EXPECT_EQ(FileContent(path).size(), static_cast<size_t>(atAbort));
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_TRUE(FileReleased(path));
    // The abort is logged; no completion is reported; the 226 that follows
    // is handled in Ready without an event.
    PumpFor(300);
    EXPECT_EQ(r.Count(FtpEvent::Log, lcAbortedByUser, from), 1);
    EXPECT_EQ(r.Count(FtpEvent::Status, scTransferComplete, from), 0) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Error, from), 1) << r.History();
    EXPECT_TRUE(r.Find(FtpEvent::Reply, 226, from));
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    EXPECT_FALSE(r.client->AbortTransfer());  // nothing under way any more
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, EveryBlockRefreshesTheTransferTimerUntilTheDataStalls) {
    // Ten blocks 0.2 s apart (2 s in all) against a 550 ms limit: each block
    // starts the limit again; then the server stalls.
    std::string script = kPeerLogin;
    script +=
        "expect \"TYPE I\"\nreply \"200 Type set to I\"\n"
        "expect \"PASV\"\n"
        "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
        "expect \"RETR slow.bin\"\n"
        "data-accept\n"
        "reply \"150 Opening BINARY data connection\"\n"
        "data-send-slow \"0123456789\" 10 0.2\n"
        "data-expect-close 10\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    r.client->SetTransferTimeout(10);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    std::string path = local.File("slow.bin");
    size_t from = r.events.size();
    // One operation at a time: no listing while the download runs.
    r.onEvent = [&](const FtpEvent& e) {
        if (e.kind == FtpEvent::Status && e.code == scProgress) {
            int before = r.client->CommandCount();
            EXPECT_FALSE(r.client->ListFolder("", false));
            EXPECT_FALSE(r.client->QueryFolder());
            EXPECT_EQ(r.client->CommandCount(), before);
            EXPECT_EQ(r.client->ProcessState(), FtpState::Downloading);
        }
    };
    DWORD start = GetTickCount();
    ASSERT_TRUE(r.client->DownloadFile("slow.bin", path, dmReplace));
    ASSERT_TRUE(r.WaitStatus(scTransferTimedOut, from, 10000)) << r.History();
    EXPECT_GE(GetTickCount() - start, 2000u);
    auto timedOut = r.Find(FtpEvent::Status, scTransferTimedOut, from);
    EXPECT_EQ(r.events[*timedOut].state, FtpState::Ready);
    EXPECT_EQ(r.Count(FtpEvent::Status, scProgress, from), 10);
    EXPECT_EQ(r.client->BytesTransferred(), 100);
    std::string expected;
    for (int i = 0; i < 10; ++i) expected += "0123456789";
    EXPECT_EQ(FileContent(path), expected);
    EXPECT_TRUE(FileReleased(path));
    EXPECT_EQ(r.Count(FtpEvent::Status, scTransferComplete, from), 0);
    EXPECT_EQ(r.Count(FtpEvent::Error, from), 0) << r.History();
    r.onEvent = nullptr;
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, RefusedDataConnectionThenASilentOne) {
    r.client->SetPassiveMode(true);
    Start("data_connection_refused");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->ListFolder("", false));
    ASSERT_TRUE(r.WaitError(from)) << r.History();
    size_t firstError = from;
    while (r.events[firstError].kind != FtpEvent::Error) ++firstError;
    const FtpEvent first = r.events[firstError];
    // The socket library's number (which one depends on how the refusal is
    // noticed: the connect itself is not watched, a read or close is).
    EXPECT_GE(first.code, 10000);
    EXPECT_LT(first.code, 12000);
    EXPECT_FALSE(first.text.has_value());
    EXPECT_EQ(first.state, FtpState::Ready);
    // The server's 425 answers the NLST of the listing that already failed:
    // taken without a second report.
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Reply, 425, from)) << r.History();
    PumpFor(200);
    EXPECT_EQ(r.Count(FtpEvent::Error, from), 1) << r.History();

    // The second listing's refusal stays silent (the abort flag stays set
    // until a download clears it); the 425 ends it, its one report.
    size_t second = r.events.size();
    ASSERT_TRUE(r.client->ListFolder("", false));
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 425, second)) << r.History();
    PumpFor(200);
    EXPECT_EQ(r.Sequence(second), (std::vector<std::string>{"error 425"})) << r.History();
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    EXPECT_EQ(r.Count(FtpEvent::Status, scInfoText), 0);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

struct PassiveCase {
    const char* scenario;
    const char* listing;  // none: the 227 names no usable port
};

class FtpPeerPassive : public FtpPeer, public ::testing::WithParamInterface<PassiveCase> {};

TEST_P(FtpPeerPassive, ConnectsToTheServerAtThe227Port) {
    r.client->SetPassiveMode(true);
    Start(GetParam().scenario);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->ListFolder("", false));
    if (GetParam().listing) {
        ASSERT_TRUE(r.WaitStatus(scInfoText, from)) << r.History();
        EXPECT_EQ(TextOf(FtpEvent::Status, scInfoText, from), GetParam().listing);
        EXPECT_EQ(r.Count(FtpEvent::Error, from), 0) << r.History();
    } else {
        // One report, the 227 itself; no connection is tried and NLST is
        // not sent (the peer checks both).
        ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 227, from)) << r.History();
        PumpFor(300);
        EXPECT_EQ(r.Sequence(from), (std::vector<std::string>{"error 227"})) << r.History();
        EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
        EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);
    }
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

INSTANTIATE_TEST_SUITE_P(Forms, FtpPeerPassive,
                         ::testing::Values(PassiveCase{"pasv_with_parentheses", "a.bin\r\nb.bin\r\n"},
                                           PassiveCase{"pasv_without_parentheses", "a.bin\r\n"},
                                           PassiveCase{"pasv_other_host", "elsewhere.bin\r\n"},
                                           PassiveCase{"pasv_too_few_numbers", nullptr},
                                           PassiveCase{"pasv_port_zero", nullptr}),
                         [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(FtpPeer, ActiveListingNamesTheControlConnectionsAddress) {
    r.client->SetPassiveMode(false);
    Start("active_listing");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    ASSERT_TRUE(r.client->ListFolder("", false));
    ASSERT_TRUE(r.WaitStatus(scInfoText)) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Status, scInfoText), "a.bin\r\nb.bin\r\n");
    EXPECT_EQ(r.client->ListeningSocket(), kInvalidSocket);
    r.LogOutAndSettle();
    // The peer checked the form "PORT 127,0,0,1,p1,p2" and connected there.
    ExpectPeerPassed();
}

TEST_F(FtpPeer, DataConnectionClosingAtOnce) {
    r.client->SetPassiveMode(true);
    Start("data_closes_at_once");
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->ListFolder("", false));
    ASSERT_TRUE(r.WaitStatus(scInfoText, from)) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Status, scInfoText, from), "");  // empty, not none
    // The 150 and 226 that follow are handled in Ready.
    PumpFor(300);
    EXPECT_EQ(r.Count(FtpEvent::Error, from), 0) << r.History();

    // An empty download over an old, longer local file leaves it empty.
    std::string path = local.File("empty.bin");
    WriteFileContent(path, "old content");
    from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("empty.bin", path, dmReplace));
    ASSERT_TRUE(r.WaitStatus(scTransferComplete, from)) << r.History();
    EXPECT_TRUE(FileReleased(path));
    EXPECT_EQ(FileContent(path), "");
    EXPECT_EQ(r.Count(FtpEvent::Status, scProgress, from), 0);
    PumpFor(300);
    EXPECT_EQ(r.Count(FtpEvent::Error, from), 0) << r.History();
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, ListingClosedRightAfterItsLastBytesArrivesWhole) {
    // 200 KB of names sent at once and the data connection closed at once:
    // the close may be noticed before the last bytes are read.
    std::string script = kPeerLogin;
    script +=
        "expect \"TYPE A\"\nreply \"200 Type set to A\"\n"
        "expect \"PASV\"\n"
        "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
        "expect \"NLST\"\n"
        "data-accept\n"
        "reply \"150 Opening data connection\"\n"
        "data-send-repeat \"a-rather-long-name-of-an-upgrade-file.bin\\r\\n\" 5000\n"
        "data-close\n"
        "reply \"226 Transfer complete\"\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    ASSERT_TRUE(r.client->ListFolder("", false));
    ASSERT_TRUE(r.WaitStatus(scInfoText)) << r.History();
    auto text = TextOf(FtpEvent::Status, scInfoText);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 5000u * 43);
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "a-rather-long-name-of-an-upgrade-file.bin\r\n";
    EXPECT_TRUE(*text == expected);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, ReplyCutOffByTheConnectionsEndDoesNotCarryOver) {
    // The first connection ends in the middle of a multi-line reply; the
    // next connection's greeting is a reply of its own.
    std::string script =
        "send \"120-Service ready in a while\\r\\n120-still starting\\r\\n\"\n"
        "close\n"
        "accept\n";
    script += kPeerLogin;
    script += kPeerQuit;
    StartScript(script);
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitStatus(scDisconnected)) << r.History();
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Status, scConnected), "Ready\r\n");
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

struct FolderCase {
    const char* scenario;
    const char* folder;
};

class FtpPeerFolder : public FtpPeer, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FtpPeerFolder, CurrentFolderFromThe257) {
    Start(GetParam().scenario);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->QueryFolder());
    ASSERT_TRUE(r.WaitStatus(scCurrentFolder, from)) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Status, scCurrentFolder, from), GetParam().folder);
    // The reply buffer now holds the folder name.
    EXPECT_STREQ(r.client->ReplyText(), GetParam().folder);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

INSTANTIATE_TEST_SUITE_P(Forms, FtpPeerFolder,
                         ::testing::Values(FolderCase{"pwd_257_quoted", "/pub/upgrade"},
                                           FolderCase{"pwd_257_unquoted", ""}),
                         [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(FtpPeer, FolderRepliesAreMatchedToTheirCommand) {
    // A reply that does not answer CWD or PWD is an error (a help text), or,
    // as the end of a transfer answered twice, passed over while the
    // command's own answer is awaited.
    std::string script = kPeerLogin;
    script +=
        "expect \"CWD a\"\nreply \"214 Some help text\"\n"
        "expect \"CWD b\"\nreply \"226 Closing\"\nreply \"250 Okay\"\n"
        "expect \"PWD\"\nreply \"225 Data connection open\"\nreply \"257 \\\"/b\\\" is current\"\n"
        "expect \"CWD d\"\nreply \"550 No such folder\"\n";
    script += kPeerQuit;
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->ChangeFolder("a"));
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 214, from)) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Error, 214, from), "214 Some help text\r\n");
    ASSERT_TRUE(r.client->ChangeFolder("b"));
    ASSERT_TRUE(r.WaitStatus(scOperationComplete, from)) << r.History();
    ASSERT_TRUE(r.client->ChangeFolder(""));
    ASSERT_TRUE(r.WaitStatus(scCurrentFolder, from)) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Status, scCurrentFolder, from), "/b");
    ASSERT_TRUE(r.client->ChangeFolder("d"));
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 550, from)) << r.History();
    EXPECT_EQ(r.Sequence(from), (std::vector<std::string>{"error 214", "scOperationComplete", "scCurrentFolder",
                                                          "error 550"}))
        << r.History();
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, UnsolicitedRepliesInReady) {
    // 125, 150 and 226 do nothing visible in Ready; anything else is
    // rejected with its text.
    std::string script = kPeerLogin;
    script +=
        "reply \"226 Closing data connection\"\n"
        "reply \"150 Opening\"\n"
        "reply \"125 Already open\"\n"
        "reply \"500 What?\"\n";
    script += kPeerQuit;
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 500, from)) << r.History();
    EXPECT_EQ(r.Sequence(from), (std::vector<std::string>{"error 500"})) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Error, 500, from), "500 What?\r\n");
    EXPECT_EQ(r.Count(FtpEvent::Reply, from), 4);
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, RepliesWithoutLineEndsAreNoLines) {
    Start("reply_without_crlf");
    ASSERT_TRUE(r.client->LogIn());
    PumpFor(700);
    EXPECT_EQ(r.Count(FtpEvent::Reply), 0) << r.History();
    // The peer closes after its last text, which never became a line.
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); }, 10000)) << r.History();
    PumpFor(200);
    EXPECT_EQ(r.Count(FtpEvent::Reply), 1) << r.History();
    EXPECT_EQ(TextOf(FtpEvent::Reply, 220), "220 Ready\n331 Not a line of its own\n\r\n");
    // Closed by the server while logging in: one report, and one error that
    // says so.
    EXPECT_EQ(r.Statuses(), (std::vector<int>{scConnected, scDisconnected})) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Error, kFtpErrConnectionClosed), 1) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Error), 1) << r.History();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, MultiLineFloodIsCutAtTheBufferEnd) {
    Start("multiline_flood");
    ASSERT_TRUE(r.LogInAndWait(60000)) << r.History().substr(0, 2000);
    auto text = TextOf(FtpEvent::Status, scConnected);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, 18), "Welcome\r\n220-flood");
    // The reply buffer holds 32,768 characters of text; the status has it
    // from the fifth on.
    EXPECT_EQ(text->size(), 32768u - 4);
    EXPECT_EQ(r.Count(FtpEvent::Reply, 220), 602);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpPeer, BinaryGarbageBeforeTheGreeting) {
    Start("binary_garbage");
    ReportCapture reports;
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    // Each garbage line is rejected while logging in (code 0).
    EXPECT_GE(r.Count(FtpEvent::Error, 0), 5) << r.History();
    for (const FtpEvent& e : r.events)
        if (e.kind == FtpEvent::Error) {
            EXPECT_EQ(e.state, FtpState::LoggingIn);
        }
    EXPECT_TRUE(reports.reports.empty());
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

}  // namespace
}  // namespace qv::test
