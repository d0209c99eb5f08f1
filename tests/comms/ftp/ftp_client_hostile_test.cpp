// The FTP client against hostile and broken servers: another host racing
// the server to the data port, replies that never end, a download larger
// than its 150 announced, a listing past its cap, sessions the server ends
// with or without a word, and the preliminary 120 greeting. Each case
// checks the events, the bytes on disk where there are any, and what the
// client sent and closed (the scripted peer's verdict).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/comms/ftp/ftp_client_test_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv::test {
namespace {

class FtpHostile : public ::testing::Test {
protected:
    FtpHostile() {
        r.client->OnEngineTrace = [this](const std::string& line) { trace.push_back(line); };
    }
    void StartScript(const std::string& text) { r.Target(peer.RunScript(text)); }
    void ExpectPeerPassed(double seconds = 30) {
        PeerVerdict verdict = peer.Wait(seconds);
        EXPECT_TRUE(verdict.passed) << verdict.Report() << "\nclient events:\n" << r.History();
    }
    // The errors from `from` on, as "code text".
    std::vector<std::string> Errors(size_t from = 0) const {
        std::vector<std::string> out;
        for (size_t i = from; i < r.events.size(); ++i)
            if (r.events[i].kind == FtpEvent::Error)
                out.push_back(std::to_string(r.events[i].code) + " " + r.events[i].text.value_or("<none>"));
        return out;
    }
    bool Traced(const std::string& part) const {
        for (const std::string& line : trace)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }

    ScriptedPeer peer;
    RecordedClient r;
    TempFolder local;
    std::vector<std::string> trace;
};

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

// "send" steps of the peer's script for these bytes, in pieces.
std::string SendSteps(const std::string& bytes) {
    std::string steps;
    for (size_t at = 0; at < bytes.size(); at += 50000) {
        steps += "send \"";
        for (char c : bytes.substr(at, 50000)) {
            auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                steps += '\\';
                steps += c;
            } else if (u < 32 || u > 126) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", u);
                steps += hex;
            } else {
                steps += c;
            }
        }
        steps += "\"\n";
    }
    return steps;
}

// ---- active mode: the data connection comes from the server or from nobody

struct IntruderCase {
    const char* name;
    bool download;
};

class FtpHostileIntruder : public FtpHostile, public ::testing::WithParamInterface<IntruderCase> {};

TEST_P(FtpHostileIntruder, AnotherHostReachingThePortFirstIsShutOut) {
    const bool download = GetParam().download;
    // The intruder connects from 127.0.0.2 as soon as PORT names the port,
    // before the server does; the peer checks that the client closes that
    // connection without a word.
    std::string script = kPeerLogin;
    script += "expect-port\n";
    script += download ? "data-intrude \"" + Repeat("EVIL", 250) + "\"\n" : "data-intrude \"evil.dll\\r\\n\"\n";
    script += "reply \"200 PORT command successful\"\n";
    if (download) {
        script += "expect \"TYPE I\"\nreply \"200 Type set to I\"\nexpect \"RETR f.bin\"\ndata-connect\n"
                  "reply \"150 Opening BINARY mode data connection for f.bin (9 bytes)\"\n"
                  "data-send \"GOODBYTES\"\n";
    } else {
        script += "expect \"TYPE A\"\nreply \"200 Type set to A\"\nexpect \"NLST\"\ndata-connect\n"
                  "reply \"150 Here comes the listing\"\ndata-send \"QVX.exe\\r\\n\"\n";
    }
    script += "data-close\nreply \"226 Transfer complete\"\n";
    script += kPeerQuit;
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    const std::string path = local.File("f.bin");
    size_t from = r.events.size();
    if (download) {
        ASSERT_TRUE(r.client->DownloadFile("f.bin", path, dmReplace));
        ASSERT_TRUE(r.WaitStatus(scTransferComplete, from)) << r.History();
        EXPECT_EQ(FileContent(path), "GOODBYTES");
    } else {
        ASSERT_TRUE(r.client->ListFolder("", false));
        ASSERT_TRUE(r.WaitStatus(scInfoText, from)) << r.History();
        auto at = r.Find(FtpEvent::Status, scInfoText, from);
        EXPECT_EQ(r.events[*at].text, "QVX.exe\r\n");
    }
    EXPECT_EQ(Errors(from), std::vector<std::string>{}) << r.History();
    EXPECT_TRUE(Traced("data connection from 127.0.0.2:")) << ::testing::PrintToString(trace);
    EXPECT_TRUE(Traced("refused: the server is 127.0.0.1")) << ::testing::PrintToString(trace);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

INSTANTIATE_TEST_SUITE_P(Transfers, FtpHostileIntruder,
                         ::testing::Values(IntruderCase{"listing", false}, IntruderCase{"download", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- replies are bounded ------------------------------------------------------

struct LongReplyCase {
    const char* name;
    bool loggedIn;       // the reply answers PWD; otherwise it is the greeting
    std::string reply;   // the bytes the server sends
    bool ends;           // the session ends with error -6
};

class FtpHostileLongReply : public FtpHostile, public ::testing::WithParamInterface<LongReplyCase> {};

TEST_P(FtpHostileLongReply, ALongerReplyEndsTheSessionWithOneError) {
    const LongReplyCase& c = GetParam();
    std::string script;
    if (c.loggedIn) script += kPeerLogin + std::string("expect \"PWD\"\n");
    script += SendSteps(c.reply);
    if (c.ends) {
        script += "expect-close\n";
    } else {
        script += "expect \"USER test\"\nreply \"230 Logged in\"\n";
        script += kPeerQuit;
    }
    StartScript(script);
    ASSERT_TRUE(r.client->LogIn());
    if (c.loggedIn) {
        ASSERT_TRUE(r.WaitStatus(scLoggedIn)) << r.History();
        ASSERT_TRUE(r.client->QueryFolder());
    }
    if (!c.ends) {
        ASSERT_TRUE(r.WaitStatus(scLoggedIn)) << r.History();
        auto at = r.Find(FtpEvent::Status, scConnected);
        ASSERT_TRUE(at);
        // The reply buffer keeps what fits of it.
        EXPECT_EQ(r.events[*at].text->size(), kFtpBufferSize - 1 - 4);
        EXPECT_EQ(Errors(), std::vector<std::string>{}) << r.History();
        r.LogOutAndSettle();
        ExpectPeerPassed();
        return;
    }
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); })) << r.History();
    PumpFor(300);
    EXPECT_EQ(Errors(), std::vector<std::string>{"-6 Reply too long: more than 65536 bytes"}) << r.History();
    // The error comes before the reports of the reset.
    auto error = r.Find(FtpEvent::Error, kFtpErrReplyTooLong);
    ASSERT_TRUE(error);
    EXPECT_EQ(r.events[*error].state, FtpState::Unconnected);
    const std::vector<int> ends = c.loggedIn ? std::vector<int>{scLoggedOut, scDisconnected}
                                             : std::vector<int>{scDisconnected};
    std::vector<int> statuses = r.Statuses(*error);
    EXPECT_EQ(statuses, ends) << r.History();
    EXPECT_FALSE(r.client->Open());
    ExpectPeerPassed();
}

const std::string kFill = std::string(1000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Replies, FtpHostileLongReply,
    ::testing::Values(
        // CR LF within the limit: still a line (65,536 bytes in all).
        LongReplyCase{"greeting_at_the_limit", false, "220 " + Repeat(kFill, 65) + std::string(530, 'y') + "\r\n",
                      false},
        // One byte more: the line end comes too late.
        LongReplyCase{"greeting_one_byte_over", false, "220 " + Repeat(kFill, 65) + std::string(531, 'y') + "\r\n",
                      true},
        // No line end at all, after a command.
        LongReplyCase{"endless_reply_to_pwd", true, "257 \"/" + Repeat(kFill, 70), true},
        // Lines that end, but a multi-line reply that does not stop.
        LongReplyCase{"multi_line_reply_past_the_limit", false,
                      "220-Welcome\r\n" + Repeat("220-" + std::string(76, 'z') + "\r\n", 900), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpHostile, AReplyTricklingWithoutLineEndTimesOutOnTimeAndIsNotBufferedFurther) {
    // 10 ticks = 550 ms; the server sends a byte every 50 ms for 5 s, never a
    // line end. Bytes arriving on the control connection are no answer: the
    // clock runs out, and a server stuck in the middle of a reply loses its
    // session (the peer sees the close while it is still sending).
    std::string script = kPeerLogin;
    script += "expect \"PWD\"\nsend \"257 \"\nsend-slow \"x\" 100 0.05\nexpect-close 10\n";
    r.client->SetTransferTimeout(10);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    const DWORD start = GetTickCount();
    ASSERT_TRUE(r.client->QueryFolder());
    ASSERT_TRUE(r.WaitStatus(scTransferTimedOut, from, 10000)) << r.History();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 3000u) << "the time-out came late";
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); })) << r.History();
    PumpFor(200);
    EXPECT_EQ(r.Statuses(from), (std::vector<int>{scTransferTimedOut, scLoggedOut, scDisconnected})) << r.History();
    EXPECT_EQ(Errors(from), std::vector<std::string>{}) << r.History();
    EXPECT_EQ(r.Count(FtpEvent::Reply, from), 0) << r.History();
    ExpectPeerPassed();
}

// ---- a download larger than announced ---------------------------------------

TEST_F(FtpHostile, ADownloadLargerThanAnnouncedStopsAtTheFirstByteTooMany) {
    // 1000 bytes as announced, a pause (the 150 is read by then), then 5000
    // more: not one of them is written, and the client closes the data
    // connection at once instead of reading on.
    std::string script = kPeerLogin;
    script += PeerChain(true, "f.bin", "150 Opening BINARY mode data connection for f.bin (1000 bytes).");
    script += "data-send-repeat \"0123456789\" 100\nsleep 0.5\ndata-send-repeat \"ABCDEFGHIJ\" 500\n"
              "data-expect-close 10\nreply \"226 Transfer complete\"\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    const std::string path = local.File("f.bin");
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", path, dmReplace));
    ASSERT_TRUE(r.WaitError(from)) << r.History();
    PumpFor(500);
    std::vector<std::string> errors = Errors(from);
    ASSERT_EQ(errors.size(), 1u) << r.History();
    EXPECT_EQ(errors[0].rfind("-2 Transfer size mismatch: ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find(" bytes received, 1000 announced"), std::string::npos) << errors[0];
    EXPECT_EQ(FileContent(path), Repeat("0123456789", 100));
    EXPECT_EQ(r.client->BytesTransferred(), 1000);
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_EQ(r.client->DataSocket(), kInvalidSocket);
    EXPECT_EQ(r.Count(FtpEvent::Status, scTransferComplete, from), 0) << r.History();
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

// ---- a listing past its cap ---------------------------------------------------

TEST_F(FtpHostile, AListingPastItsCapIsOneErrorAndNeverACutListing) {
    // 64 MiB of names, then one byte more.
    std::string script = kPeerLogin;
    script += "expect \"TYPE A\"\nreply \"200 Type set to A\"\nexpect \"PASV\"\n"
              "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
              "expect \"NLST\"\ndata-accept\nreply \"150 Here comes the listing\"\n";
    script += "data-send-repeat \"" + std::string(1022, 'n') + "\\r\\n\" 65536\ndata-send \"x\"\n";
    script += "data-expect-close 60\nreply \"226 Transfer complete\"\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->ListFolder("", false));
    ASSERT_TRUE(r.WaitError(from, 60000)) << r.History();
    PumpFor(500);
    EXPECT_EQ(Errors(from), std::vector<std::string>{"-7 Listing too long: more than 67108864 bytes"});
    EXPECT_EQ(r.Count(FtpEvent::Status, scInfoText, from), 0);
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    r.LogOutAndSettle();
    ExpectPeerPassed(90);
}

// ---- the greeting ---------------------------------------------------------------

TEST_F(FtpHostile, A120IsPreliminaryAndTheGreetingFollows) {
    std::string script = "reply \"120 Service ready in 1 minute.\"\nsleep 0.3\n";
    script += kPeerLogin;
    script += kPeerQuit;
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    EXPECT_EQ(Errors(), std::vector<std::string>{}) << r.History();
    auto at = r.Find(FtpEvent::Status, scConnected);
    ASSERT_TRUE(at);
    EXPECT_EQ(r.events[*at].text, "Ready\r\n");
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpHostile, A120WithoutGreetingTimesOutWithTheClockThatStartedWithTheConnection) {
    r.client->SetTransferTimeout(10);
    StartScript("reply \"120 Service ready in 10 minutes.\"\nexpect-close 10\n");
    const DWORD start = GetTickCount();
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitStatus(scTransferTimedOut, 0, 10000)) << r.History();
    EXPECT_LT(GetTickCount() - start, 3000u);
    PumpFor(200);
    EXPECT_EQ(Errors(), std::vector<std::string>{}) << r.History();
    EXPECT_FALSE(r.client->IsConnected());
    ExpectPeerPassed();
}

// ---- sessions the server ends ---------------------------------------------------

enum class When { LoggingIn, LoggedIn, Downloading, LoggingOut };

struct ClosedCase {
    const char* name;
    const char* script;       // after the connection stands
    When setup;
    std::vector<std::string> sequence;  // errors and statuses, replies and progress left out
};

class FtpHostileClosed : public FtpHostile, public ::testing::WithParamInterface<ClosedCase> {};

TEST_P(FtpHostileClosed, TheServerClosingIsReportedOnceThenUnconnected) {
    const ClosedCase& c = GetParam();
    r.client->SetPassiveMode(true);
    StartScript(c.script);
    const std::string path = local.File("f.bin");
    if (c.setup == When::LoggingIn) {
        ASSERT_TRUE(r.client->LogIn());
    } else {
        ASSERT_TRUE(r.LogInAndWait()) << r.History();
        if (c.setup == When::Downloading) {
            ASSERT_TRUE(r.client->DownloadFile("f.bin", path, dmReplace));
        }
        if (c.setup == When::LoggingOut) r.client->LogOut();
    }
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); })) << r.History();
    PumpFor(300);
    EXPECT_EQ(r.Sequence(), c.sequence) << r.History();
    EXPECT_FALSE(r.client->LocalFileOpen());
    ExpectPeerPassed();
}

const std::string kClosedMidFile = std::string(kPeerLogin) + PeerDownloadStart("f.bin") +
                                   "data-send \"0123456789\"\nclose\ndata-close\n";
const std::string kLoggedInThenClosed = std::string(kPeerLogin) + "sleep 0.3\nclose\n";
const std::string kQuitWithoutGoodbye = std::string(kPeerLogin) + "expect \"QUIT\"\nclose\n";

INSTANTIATE_TEST_SUITE_P(
    Moments, FtpHostileClosed,
    ::testing::Values(
        ClosedCase{"before_the_greeting", "close\n", When::LoggingIn, {"error -5", "scDisconnected"}},
        ClosedCase{"after_user", "reply \"220 Ready\"\nexpect \"USER test\"\nclose\n", When::LoggingIn,
                   {"scConnected", "error -5", "scDisconnected"}},
        ClosedCase{"logged_in", kLoggedInThenClosed.c_str(), When::LoggedIn,
                   {"scConnected", "scLoggedIn", "error -5", "scLoggedOut", "log 2"}},
        ClosedCase{"in_the_middle_of_a_file", kClosedMidFile.c_str(), When::Downloading,
                   {"scConnected", "scLoggedIn", "log 6", "error -5", "scLoggedOut", "log 2"}},
        // Our own QUIT: the server may close without its 221.
        ClosedCase{"after_quit_without_221", kQuitWithoutGoodbye.c_str(), When::LoggingOut,
                   {"scConnected", "scLoggedIn", "scLoggedOut", "log 2"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::test
