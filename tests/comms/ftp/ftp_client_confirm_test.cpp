// The FTP client against servers that end transfers badly: files cut short,
// final replies that come early, late, or not at all, connections that die
// in the middle, refused commands, a refused or silent connection, and a
// local file that cannot be written. Each case checks the events, the bytes
// on disk and what the client sent (the scripted peer's verdict), and goes
// on with a next file started from the handler of the first file's outcome,
// as the upgrade window does.
#include <gtest/gtest.h>

#include "tests/comms/ftp/ftp_client_test_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv::test {
namespace {

// A whole good download of next.bin ("NEXT-FILE").
std::string NextFile(bool passive) {
    return PeerChain(passive, "next.bin") + "data-send \"NEXT-FILE\"\ndata-close\nreply \"226 Transfer complete\"\n";
}

const std::string kBlock = "0123456789";  // sent 100 times: 1000 bytes

std::string Thousand() {
    std::string s;
    for (int i = 0; i < 100; ++i) s += kBlock;
    return s;
}

class FtpConfirm : public ::testing::Test {
protected:
    void StartScript(const std::string& text) { r.Target(peer.RunScript(text)); }
    void ExpectPeerPassed(double seconds = 30) {
        PeerVerdict verdict = peer.Wait(seconds);
        EXPECT_TRUE(verdict.passed) << verdict.Report() << "\nclient events:\n" << r.History();
    }
    // Starts next.bin from the handler of the first file's outcome (its
    // completion, its error, or the timeout), as the upgrade window does.
    void NextFromHandler() {
        r.onEvent = [this](const FtpEvent& e) {
            bool outcome = (e.kind == FtpEvent::Status && (e.code == scTransferComplete || e.code == scTransferTimedOut)) ||
                           e.kind == FtpEvent::Error;
            if (!outcome || startedNext) return;
            startedNext = true;
            nextFrom = r.events.size();
            EXPECT_EQ(r.client->ProcessState(), FtpState::Ready) << Describe(e);
            EXPECT_TRUE(r.client->DownloadFile("next.bin", local.File("next.bin"), dmReplace));
        };
    }
    // Waits until next.bin is complete or failed.
    bool WaitNext(size_t from) {
        return r.WaitFor([&] {
            return startedNext && (r.Find(FtpEvent::Status, scTransferComplete, nextFrom) ||
                                   r.Count(FtpEvent::Error, from) > 1);
        }, 15000);
    }
    // The outcome events (completions, errors, timeouts) from `from` on.
    std::vector<std::string> Outcomes(size_t from = 0) const {
        std::vector<std::string> out;
        for (size_t i = from; i < r.events.size(); ++i) {
            const FtpEvent& e = r.events[i];
            if (e.kind == FtpEvent::Error) out.push_back("error " + std::to_string(e.code));
            if (e.kind == FtpEvent::Status &&
                (e.code == scTransferComplete || e.code == scTransferTimedOut || e.code == scInfoText ||
                 e.code == scLoggedOut || e.code == scDisconnected))
                out.push_back(FtpStatusName(e.code));
        }
        return out;
    }

    ScriptedPeer peer;
    RecordedClient r;
    TempFolder local;
    bool startedNext = false;
    size_t nextFrom = 0;
};

// ---- how a transfer ends --------------------------------------------------

struct EndCase {
    const char* name;
    const char* ending;                     // the steps after 150 and 1000 bytes
    std::vector<std::string> outcomes;      // for the first file
    const char* errorText;                  // of its error, if any
    bool complete;                          // the first file arrives whole
    // Another first outcome that is as right (how a reset is noticed
    // depends on timing: as an error, or as the end of the data).
    const char* alternative = nullptr;
};

struct EndParam {
    EndCase c;
    bool passive;
};

class FtpConfirmEnding : public FtpConfirm, public ::testing::WithParamInterface<EndParam> {};

TEST_P(FtpConfirmEnding, CountsOnlyWhatTheServerConfirmed) {
    const EndCase& c = GetParam().c;
    bool passive = GetParam().passive;
    std::string script = kPeerLogin + PeerChain(passive, "f.bin") + "data-send-repeat \"" + kBlock + "\" 100\n" + c.ending;
    script += NextFile(passive);
    script += kPeerQuit;
    r.client->SetPassiveMode(passive);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    // An old, longer file in place: a failed replace must not be cut to the
    // received length, a complete one must.
    std::string path = local.File("f.bin");
    std::string old(3000, 'X');
    WriteFileContent(path, old);
    NextFromHandler();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", path, dmReplace));
    ASSERT_TRUE(WaitNext(from)) << r.History();
    PumpFor(300);
    std::vector<std::string> expected = c.outcomes;
    expected.push_back("scTransferComplete");  // next.bin
    std::vector<std::string> outcomes = Outcomes(from);
    bool alternative = c.alternative && !outcomes.empty() && outcomes[0] == c.alternative;
    if (alternative) expected[0] = c.alternative;
    EXPECT_EQ(outcomes, expected) << r.History();
    if (c.errorText && !alternative) {
        auto at = r.Find(FtpEvent::Error, std::stoi(c.outcomes[0].substr(6)), from);
        ASSERT_TRUE(at);
        EXPECT_EQ(r.events[*at].text.value_or("<none>"), c.errorText);
    }
    EXPECT_EQ(FileContent(path), c.complete ? Thousand() : Thousand() + old.substr(1000));
    EXPECT_EQ(FileContent(local.File("next.bin")), "NEXT-FILE");
    EXPECT_TRUE(FileReleased(path));
    r.onEvent = nullptr;
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

const EndCase kEndings[] = {
    {"data_closed_then_426", "data-close\nreply \"426 Connection closed; transfer aborted.\"\n", {"error 426"},
     "426 Connection closed; transfer aborted.\r\n", false},
    {"data_closed_then_451_late", "data-close\nsleep 0.3\nreply \"451 Local error in processing.\"\n", {"error 451"},
     "451 Local error in processing.\r\n", false},
    {"data_reset_then_426", "sleep 0.3\ndata-reset\nsleep 0.3\nreply \"426 Connection reset.\"\n", {"error 426"},
     "426 Connection reset.\r\n", false, "error 10054"},
    {"226_before_the_data_close", "reply \"226 Transfer complete\"\nsleep 0.3\ndata-close\n", {"scTransferComplete"},
     nullptr, true},
    {"226_after_the_data_close", "data-close\nsleep 0.3\nreply \"226 Transfer complete\"\n", {"scTransferComplete"},
     nullptr, true},
    {"250_before_the_data_close", "reply \"250 Done\"\nsleep 0.3\ndata-close\n", {"scTransferComplete"}, nullptr, true},
    {"250_after_the_data_close", "data-close\nsleep 0.3\nreply \"250 Done\"\n", {"scTransferComplete"}, nullptr, true},
};

std::vector<EndParam> EndParams() {
    std::vector<EndParam> out;
    for (bool passive : {true, false})
        for (const EndCase& c : kEndings) out.push_back({c, passive});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpConfirmEnding, ::testing::ValuesIn(EndParams()), [](const auto& info) {
    return std::string(info.param.c.name) + (info.param.passive ? "_passive" : "_active");
});

TEST_F(FtpConfirm, AnnouncedSizeThatDoesNotArriveFailsTheFile) {
    std::string script = kPeerLogin;
    script += PeerChain(true, "f.bin", "150 Opening BINARY mode data connection for f.bin (100000 bytes).");
    script += "data-send-repeat \"" + kBlock + "\" 100\ndata-close\nreply \"226 Transfer complete\"\n";
    script += NextFile(true);
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    NextFromHandler();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", local.File("f.bin"), dmReplace));
    ASSERT_TRUE(WaitNext(from)) << r.History();
    EXPECT_EQ(Outcomes(from), (std::vector<std::string>{"error " + std::to_string(kFtpErrIncomplete), "scTransferComplete"}))
        << r.History();
    auto at = r.Find(FtpEvent::Error, kFtpErrIncomplete, from);
    ASSERT_TRUE(at);
    EXPECT_EQ(r.events[*at].text, "Transfer incomplete: 1000 of 100000 bytes");
    r.onEvent = nullptr;
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, BothConnectionsDroppedMidFile) {
    std::string script = kPeerLogin + PeerChain(true, "f.bin") + "data-send-repeat \"" + kBlock + "\" 100\ndata-close\nclose\n";
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    std::string path = local.File("f.bin");
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", path, dmReplace));
    ASSERT_TRUE(r.WaitFor([&] { return !r.client->IsConnected(); })) << r.History();
    PumpFor(300);
    // Lost through the reset, never complete; the server's close is
    // reported once.
    EXPECT_EQ(Outcomes(from), (std::vector<std::string>{"error -5", "scLoggedOut"})) << r.History();
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_TRUE(FileReleased(path));
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, PassiveRefusedAmongThreeFilesCostsOnlyThatFile) {
    std::string script = kPeerLogin;
    script += PeerChain(true, "a.bin") + "data-send \"AAAA\"\ndata-close\nreply \"226 Transfer complete\"\n";
    script += "expect \"TYPE I\"\nreply \"200 Type set to I\"\nexpect \"PASV\"\nreply \"425 Cannot open passive connection\"\n";
    script += PeerChain(true, "c.bin") + "data-send \"CCCC\"\ndata-close\nreply \"226 Transfer complete\"\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    // Each outcome starts the next name, as the upgrade window's queue does.
    std::vector<std::string> names{"a.bin", "b.bin", "c.bin"};
    size_t next = 1;
    r.onEvent = [&](const FtpEvent& e) {
        bool outcome = (e.kind == FtpEvent::Status && e.code == scTransferComplete) || e.kind == FtpEvent::Error;
        if (outcome && next < names.size()) {
            std::string name = names[next++];
            EXPECT_TRUE(r.client->DownloadFile(name, local.File(name), dmReplace));
        }
    };
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("a.bin", local.File("a.bin"), dmReplace));
    ASSERT_TRUE(r.WaitFor([&] { return FileContent(local.File("c.bin")) == "CCCC"; })) << r.History();
    PumpFor(300);
    EXPECT_EQ(Outcomes(from), (std::vector<std::string>{"scTransferComplete", "error 425", "scTransferComplete"}))
        << r.History();
    EXPECT_EQ(FileContent(local.File("a.bin")), "AAAA");
    r.onEvent = nullptr;
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, AServerThatNeverGreetsTimesOut) {
    StartScript("expect-close 10\n");
    r.client->SetTransferTimeout(10);  // 550 ms
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitStatus(scTransferTimedOut, 0, 5000)) << r.History();
    PumpFor(200);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"scTransferTimedOut", "scDisconnected"}))
        << r.History();
    EXPECT_FALSE(r.client->IsConnected());
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, ARefusedConnectionIsReportedAtOnce) {
    r.Target(peer.Run("control_refused"));
    r.client->SetConnectTimeout(0);
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitError(0, 5000)) << r.History();
    PumpFor(300);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"error 10061", "scDisconnected"}))
        << r.History();
    EXPECT_FALSE(r.client->IsConnected());
    EXPECT_FALSE(r.client->Open());
    ExpectPeerPassed();
    // With a connect timer as well: one report, the timer stops with it.
    r.events.clear();
    r.Target(peer.Run("control_refused"));
    r.client->SetConnectTimeout(10);
    ASSERT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitError(0, 5000)) << r.History();
    PumpFor(1000);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"error 10061", "scDisconnected"}))
        << r.History();
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, AFullDiskEndsTheTransferWithOneReport) {
    // Wine writes to the Unix file /dev/full as to any file; every write
    // fails with the disk full.
    std::string script = kPeerLogin + PeerChain(true, "f.bin") + "data-send-repeat \"" + kBlock + "\" 10\n";
    // The client closes the data connection; the server says so.
    script += "data-expect-close 10\nreply \"426 Connection closed; transfer aborted.\"\n";
    script += NextFile(true);
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    NextFromHandler();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", "Z:\\dev\\full", dmReplace));
    ASSERT_TRUE(WaitNext(from)) << r.History();
    PumpFor(300);
    EXPECT_EQ(Outcomes(from), (std::vector<std::string>{"error " + std::to_string(kFtpErrLocalWrite), "scTransferComplete"}))
        << r.History();
    auto at = r.Find(FtpEvent::Error, kFtpErrLocalWrite, from);
    ASSERT_TRUE(at);
    ASSERT_TRUE(r.events[*at].text);
    EXPECT_EQ(*r.events[*at].text, "Cannot write f.bin: Disk full");
    EXPECT_EQ(r.Count(FtpEvent::Status, scProgress, from), 1);  // next.bin's one block
    EXPECT_EQ(FileContent(local.File("next.bin")), "NEXT-FILE");
    r.onEvent = nullptr;
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, AbortBeforeTheDataConnectionSendsNothingAfterIt) {
    std::string script = kPeerLogin;
    script += "expect \"TYPE I\"\nexpect \"ABOR\"\nreply \"200 Type set to I\"\nreply \"225 No transfer to abort.\"\n";
    script += "expect-silence 0.5\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", local.File("f.bin"), dmReplace));
    ASSERT_TRUE(r.client->AbortTransfer());
    ASSERT_TRUE(r.WaitFor([&] { return r.client->ProcessState() == FtpState::Ready; })) << r.History();
    PumpFor(700);
    EXPECT_EQ(Outcomes(from), std::vector<std::string>{}) << r.History();
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, TheTraceShowsEveryTransition) {
    std::string script =
        kPeerLogin + PeerChain(true, "f.bin") + "data-send \"abc\"\ndata-close\nsleep 0.3\nreply \"226 Transfer complete\"\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    std::vector<std::string> trace;
    r.client->OnEngineTrace = [&](const std::string& line) { trace.push_back(line); };
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", local.File("f.bin"), dmReplace));
    ASSERT_TRUE(r.WaitStatus(scTransferComplete)) << r.History();
    std::vector<std::string> transitions;
    for (const std::string& line : trace)
        if (line[0] == '[') transitions.push_back(line);
    EXPECT_EQ(transitions,
              (std::vector<std::string>{"[Unconnected] -> [Connecting] (LogIn)", "[Connecting] -> [Greeting] (connected)",
                                        "[Greeting] -> [User] (220)", "[User] -> [Pass] (331)", "[Pass] -> [Ready] (230)",
                                        "[Ready] -> [Preparing] (DownloadFile)",
                                        "[Preparing] -> [Type] (data socket made)", "[Type] -> [Pasv] (200)",
                                        "[Pasv] -> [Transfer] (227)", "[Transfer] -> [Ready] (226)"}))
        << ::testing::PrintToString(trace);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "waiting for the final reply"), trace.end());
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

TEST_F(FtpConfirm, AReplyThatDoesNotAnswerTypeIsAnErrorAndNothingFollows) {
    // A 350 answers REST, not TYPE: the download ends with it, and neither
    // PASV nor RETR goes out (the peer checks the silence).
    std::string script = kPeerLogin;
    script += "expect \"TYPE I\"\nreply \"350 Restarting at 0\"\nexpect-silence 0.5\n";
    script += kPeerQuit;
    r.client->SetPassiveMode(true);
    std::vector<std::string> trace;
    r.client->OnEngineTrace = [&](const std::string& line) { trace.push_back(line); };
    StartScript(script);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    trace.clear();
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("f.bin", local.File("f.bin"), dmReplace));
    ASSERT_TRUE(r.WaitEvent(FtpEvent::Error, 350, from)) << r.History();
    PumpFor(700);
    EXPECT_EQ(Outcomes(from), (std::vector<std::string>{"error 350"})) << r.History();
    EXPECT_EQ(r.client->ProcessState(), FtpState::Ready);
    EXPECT_FALSE(r.client->LocalFileOpen());
    EXPECT_EQ(trace, (std::vector<std::string>{"[Ready] -> [Preparing] (DownloadFile)",
                                               "[Preparing] -> [Type] (data socket made)", "[Type] -> [Ready] (350)"}))
        << ::testing::PrintToString(trace);
    r.LogOutAndSettle();
    ExpectPeerPassed();
}

}  // namespace
}  // namespace qv::test
