// The FTP command and reply engine on its own, against a link that records
// what the engine asks for: the reply table row by row, and the rules that
// decide when a transfer is complete, when it failed, and which command a
// reply answers.
#include "comms/ftp/ftp_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qv {
namespace {

// Records every request of the engine as a line of text; the events it
// posts go to `events` (progress left out, counted instead).
class RecordingLink : public FtpEngineLink {
public:
    FtpEngine* engine = nullptr;
    bool open = false;
    bool prepareOk = true;
    int32_t prepareError = 0;      // the number a failed preparation gives
    int32_t prepareReports = 0;    // a socket step reports this on the way
    bool transferTimer = false;
    bool connectTimer = false;
    std::string listing;
    int progress = 0;
    std::vector<std::string> sent;
    std::vector<std::string> events;
    std::vector<std::string> data;  // what was asked of the data side
    std::vector<std::string> trace;
    int timeoutsPosted = 0;

    bool ControlOpen() override { return open; }
    bool OpenControl() override {
        open = true;
        return true;
    }
    // As the real port: closing runs the disconnect handling.
    void CloseControl() override {
        if (!open) return;
        open = false;
        engine->Disconnected();
    }
    void WriteLine(const std::string& command) override { sent.push_back(command); }
    // LogOut's pause: what the server does meanwhile.
    std::function<void()> onPause;
    void Pause(int32_t) override {
        if (onPause) onPause();
    }
    void StartTransferTimer() override { transferTimer = true; }
    void RefreshTransferTimer() override {}
    void StopTransferTimer() override { transferTimer = false; }
    void StartConnectTimer() override { connectTimer = true; }
    void StopConnectTimer() override { connectTimer = false; }
    void PostTimeout() override { ++timeoutsPosted; }
    void OpenLocalFile(const std::string& name, FtpDownloadMode, int32_t& restartOffset) override {
        if (name == "unopenable") throw std::runtime_error("Cannot open file unopenable");
        if (restartOffset < 0) restartOffset = 100;
        data.push_back("open " + name);
    }
    FtpDataPrepared PrepareData(bool passive) override {
        data.push_back(passive ? "prepare passive" : "prepare active");
        FtpDataPrepared p;
        p.ok = prepareOk;
        if (!prepareOk) {
            if (prepareReports != 0) engine->DataFailed(prepareReports);
            p.error = prepareError;
        }
        p.portArgument = "127,0,0,1,4,1";
        return p;
    }
    void ConnectData(uint16_t port) override { data.push_back("connect " + std::to_string(port)); }
    void CloseData(bool complete) override { data.push_back(complete ? "close complete" : "close"); }
    std::string ListingText() override { return listing; }
    void PostStatus(FtpStatusCode code, const char* text) override {
        if (code == scProgress) {
            ++progress;
            return;
        }
        events.push_back(std::string(FtpStatusName(code)) + (text ? " \"" + std::string(text) + "\"" : ""));
    }
    void PostError(int32_t code, const char* text) override {
        events.push_back("error " + std::to_string(code) + (text ? " \"" + std::string(text) + "\"" : ""));
    }
    void PostLog(FtpLogCode code) override { events.push_back("log " + std::to_string(code)); }
    void FireStatus(FtpStatusCode code) override { events.push_back(std::string("fired ") + FtpStatusName(code)); }
    void FireError(int32_t code) override { events.push_back("fired error " + std::to_string(code)); }
    void Trace(std::string_view line) override { trace.emplace_back(line); }

    // Events other than log codes.
    std::vector<std::string> Reports() const {
        std::vector<std::string> out;
        for (const std::string& e : events)
            if (e.rfind("log ", 0) != 0) out.push_back(e);
        return out;
    }
    void Clear() {
        sent.clear();
        events.clear();
        data.clear();
        trace.clear();
        progress = 0;
    }
};

using Lines = std::vector<std::string>;

class FtpEngineTest : public ::testing::Test {
protected:
    FtpEngineTest() {
        link.engine = &engine;
        engine.Settings().UserName = "test";
        engine.Settings().Password = "secret";
        engine.Settings().Account = "acct";
    }

    void Reply(const std::string& line) {
        engine.ReplyLine(FtpReplyCode(line), line + "\r\n");
    }
    void LoggingIn() {
        ASSERT_TRUE(engine.LogIn());
        engine.Connected();
        Reply("220 Ready");
    }
    void LoggedIn() {
        LoggingIn();
        Reply("331 Password required");
        Reply("230 Logged in");
        ASSERT_EQ(engine.State(), FtpState::Ready);
        link.Clear();
    }
    // A passive download up to its 150, the data connection standing.
    void DownloadStarted(const std::string& size = "") {
        engine.Settings().PassiveMode = true;
        ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
        Reply("200 Type set to I");
        Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
        Reply("150 Opening BINARY mode data connection" + size);
        ASSERT_EQ(link.sent, (Lines{"TYPE I", "PASV", "RETR f.bin"}));
    }
    void ListingStarted() {
        engine.Settings().PassiveMode = true;
        ASSERT_TRUE(engine.ListFolder("", false));
        Reply("200 Type set to A");
        Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
        Reply("150 Here comes the listing");
        ASSERT_EQ(link.sent, (Lines{"TYPE A", "PASV", "NLST"}));
    }
    void Into(FtpEngineState state) {
        switch (state) {
            case FtpEngineState::Unconnected: break;
            case FtpEngineState::Connecting: ASSERT_TRUE(engine.LogIn()); break;
            case FtpEngineState::Greeting:
                ASSERT_TRUE(engine.LogIn());
                engine.Connected();
                break;
            case FtpEngineState::User: LoggingIn(); break;
            case FtpEngineState::Pass:
                LoggingIn();
                Reply("331 Password required");
                break;
            case FtpEngineState::Acct:
                Into(FtpEngineState::Pass);
                Reply("332 Need account");
                break;
            case FtpEngineState::LoginRefused:
                Into(FtpEngineState::Pass);
                Reply("530 Login incorrect");
                break;
            case FtpEngineState::Ready: LoggedIn(); break;
            case FtpEngineState::Port:
                LoggedIn();
                ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
                break;
            case FtpEngineState::Type:
                LoggedIn();
                engine.Settings().PassiveMode = true;
                ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
                break;
            case FtpEngineState::Pasv:
                Into(FtpEngineState::Type);
                Reply("200 Type set to I");
                break;
            case FtpEngineState::Rest:
                LoggedIn();
                engine.Settings().PassiveMode = true;
                engine.SetRestartOffset(0);
                ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmRestart));
                Reply("200 Type set to I");
                Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
                break;
            case FtpEngineState::Transfer:
                LoggedIn();
                DownloadStarted();
                break;
            case FtpEngineState::DataEnd:
                Into(FtpEngineState::Transfer);
                Reply("226 Transfer complete");
                break;
            case FtpEngineState::Abort:
                Into(FtpEngineState::DataEnd);
                ASSERT_TRUE(engine.AbortTransfer());
                break;
            case FtpEngineState::CommandAbort:
                Into(FtpEngineState::Transfer);
                ASSERT_TRUE(engine.AbortTransfer());
                break;
            case FtpEngineState::Cwd:
                LoggedIn();
                ASSERT_TRUE(engine.ChangeFolder("pub"));
                break;
            case FtpEngineState::Pwd:
                LoggedIn();
                ASSERT_TRUE(engine.QueryFolder());
                break;
            default: FAIL() << "no reply can reach " << FtpEngineStateName(state);
        }
    }
    // Brings the engine into the state by the commands and replies before
    // it, and runs `check` there: for QUIT's states during LogOut's pause,
    // where the server's answer arrives.
    void At(FtpEngineState state, const std::function<void()>& check) {
        if (state == FtpEngineState::Quit || state == FtpEngineState::QuitLogin) {
            Into(state == FtpEngineState::Quit ? FtpEngineState::Ready : FtpEngineState::User);
            bool checked = false;
            link.onPause = [&] {
                ASSERT_EQ(engine.EngineState(), state);
                check();
                checked = true;
            };
            engine.LogOut();
            link.onPause = nullptr;
            EXPECT_TRUE(checked);
            return;
        }
        Into(state);
        ASSERT_EQ(engine.EngineState(), state);
        check();
    }
    // The transitions of the trace, without the other notes.
    Lines Transitions() const {
        Lines out;
        for (const std::string& line : link.trace)
            if (line.rfind("[", 0) == 0) out.push_back(line);
        return out;
    }

    RecordingLink link;
    FtpEngine engine{link};
};

// ---- the reply table, a row per state ----------------------------------------

using E = FtpEngineState;

struct Row {
    E start;
    const char* reply;
    E after;
    Lines sent;     // commands sent by the reply
    Lines reports;  // events posted by the reply (log codes left out)
    const char* data = "";  // the last request of the data side, if any
};

class FtpReplyTable : public FtpEngineTest, public ::testing::WithParamInterface<Row> {};

TEST_P(FtpReplyTable, Row) {
    const Row& row = GetParam();
    At(row.start, [&] {
        link.Clear();
        Reply(row.reply);
        EXPECT_EQ(FtpEngineStateName(engine.EngineState()), std::string(FtpEngineStateName(row.after)));
        EXPECT_EQ(link.sent, row.sent);
        EXPECT_EQ(link.Reports(), row.reports);
        if (*row.data) {
            ASSERT_FALSE(link.data.empty());
            EXPECT_EQ(link.data.back(), row.data);
        }
    });
}

#define ERROR_OF(reply) "error " + std::string(reply).substr(0, 3) + " \"" reply "\r\n\""

// Preparing has no row: it is entered and left within the call that starts
// a listing or download, before anything is sent.
INSTANTIATE_TEST_SUITE_P(
    Rows, FtpReplyTable,
    ::testing::Values(
        // Unconnected, Connecting and Ready: nothing is out.
        Row{E::Unconnected, "250 Late", E::Unconnected, {}, {ERROR_OF("250 Late")}},
        Row{E::Unconnected, "226 Closing", E::Unconnected, {}, {}},
        Row{E::Connecting, "220 Ready", E::Connecting, {}, {ERROR_OF("220 Ready")}},
        Row{E::Ready, "125 Already open", E::Ready, {}, {}},
        Row{E::Ready, "150 Opening", E::Ready, {}, {}},
        Row{E::Ready, "226 Closing data connection", E::Ready, {}, {}},
        Row{E::Ready, "225 No transfer to abort", E::Ready, {}, {}},
        Row{E::Ready, "500 What?", E::Ready, {}, {ERROR_OF("500 What?")}},
        Row{E::Ready, "421 Shutting down", E::Unconnected, {},
            {ERROR_OF("421 Shutting down"), "scLoggedOut", "scDisconnected"}},
        Row{E::Ready, "221 Goodbye", E::Unconnected, {}, {"scLoggedOut", "scDisconnected"}},
        // The greeting is awaited.
        Row{E::Greeting, "120 Wait", E::Greeting, {}, {}},
        Row{E::Greeting, "202 Superfluous", E::Greeting, {}, {}},
        Row{E::Greeting, "220 Ready", E::User, {"USER test"}, {"scConnected \"Ready\r\n\""}},
        Row{E::Greeting, "230 Logged in", E::Greeting, {}, {ERROR_OF("230 Logged in")}},
        Row{E::Greeting, "331 Password required", E::Greeting, {}, {ERROR_OF("331 Password required")}},
        Row{E::Greeting, "530 Login incorrect", E::Greeting, {}, {ERROR_OF("530 Login incorrect")}},
        Row{E::Greeting, "421 Too many", E::Unconnected, {}, {ERROR_OF("421 Too many"), "scDisconnected"}},
        // USER is out.
        Row{E::User, "331 Password required", E::Pass, {"PASS secret"}, {}},
        Row{E::User, "332 Account required", E::Acct, {"ACCT acct"}, {}},
        Row{E::User, "230 Logged in", E::Ready, {}, {"scLoggedIn"}},
        Row{E::User, "202 Superfluous", E::User, {}, {}},
        Row{E::User, "220 Ready again", E::LoginRefused, {}, {ERROR_OF("220 Ready again")}},
        Row{E::User, "530 Not allowed", E::LoginRefused, {}, {ERROR_OF("530 Not allowed")}},
        // PASS is out.
        Row{E::Pass, "230 Logged in", E::Ready, {}, {"scLoggedIn"}},
        Row{E::Pass, "332 Account required", E::Acct, {"ACCT acct"}, {}},
        Row{E::Pass, "202 Superfluous", E::Pass, {}, {}},
        Row{E::Pass, "331 Password required", E::LoginRefused, {}, {ERROR_OF("331 Password required")}},
        Row{E::Pass, "530 Login incorrect", E::LoginRefused, {}, {ERROR_OF("530 Login incorrect")}},
        // ACCT is out.
        Row{E::Acct, "230 Logged in", E::Ready, {}, {"scLoggedIn"}},
        Row{E::Acct, "202 Superfluous", E::Acct, {}, {}},
        Row{E::Acct, "332 Account required", E::LoginRefused, {}, {ERROR_OF("332 Account required")}},
        // The login was refused: nothing is out.
        Row{E::LoginRefused, "230 Logged in", E::LoginRefused, {}, {ERROR_OF("230 Logged in")}},
        Row{E::LoginRefused, "221 Goodbye", E::Unconnected, {}, {"scDisconnected"}},
        // PORT is out (active mode).
        Row{E::Port, "200 PORT command successful", E::Type, {"TYPE I"}, {}},
        Row{E::Port, "226 Stray", E::Port, {}, {}},
        Row{E::Port, "227 Entering Passive Mode (10,0,0,9,4,1)", E::Ready, {},
            {ERROR_OF("227 Entering Passive Mode (10,0,0,9,4,1)")}, "close"},
        Row{E::Port, "500 Illegal PORT command", E::Ready, {}, {ERROR_OF("500 Illegal PORT command")}, "close"},
        // TYPE is out: only its 200 goes on.
        Row{E::Type, "110 Restart marker", E::Type, {}, {}},
        Row{E::Type, "200 Type set to I", E::Pasv, {"PASV"}, {}},
        Row{E::Type, "350 Go on", E::Ready, {}, {ERROR_OF("350 Go on")}, "close"},
        Row{E::Type, "227 Entering Passive Mode (10,0,0,9,4,1)", E::Ready, {},
            {ERROR_OF("227 Entering Passive Mode (10,0,0,9,4,1)")}, "close"},
        Row{E::Type, "226 Stray", E::Type, {}, {}},
        Row{E::Type, "250 Stray", E::Type, {}, {}},
        Row{E::Type, "504 Type not known", E::Ready, {}, {ERROR_OF("504 Type not known")}, "close"},
        Row{E::Type, "421 Bye", E::Unconnected, {}, {ERROR_OF("421 Bye"), "scLoggedOut", "scDisconnected"}},
        // PASV is out: its 227 names the port.
        Row{E::Pasv, "227 Entering Passive Mode (10,0,0,9,4,1)", E::Transfer, {"RETR f.bin"}, {}, "connect 1025"},
        Row{E::Pasv, "227 Entering Passive Mode (10,0,0,9,0,0)", E::Ready, {},
            {ERROR_OF("227 Entering Passive Mode (10,0,0,9,0,0)")}, "close"},
        Row{E::Pasv, "200 Type set to I", E::Ready, {}, {ERROR_OF("200 Type set to I")}, "close"},
        // REST is out.
        Row{E::Rest, "350 Restarting at 0", E::Transfer, {"RETR f.bin"}, {}},
        Row{E::Rest, "200 Okay", E::Ready, {}, {ERROR_OF("200 Okay")}, "close"},
        Row{E::Rest, "502 REST not implemented", E::Ready, {}, {ERROR_OF("502 REST not implemented")}, "close"},
        // RETR is out (150 seen): the final reply alone does not complete it.
        Row{E::Transfer, "226 Transfer complete", E::DataEnd, {}, {}},
        Row{E::Transfer, "250 Done", E::DataEnd, {}, {}},
        Row{E::Transfer, "426 Connection closed", E::Ready, {}, {ERROR_OF("426 Connection closed")}, "close"},
        Row{E::Transfer, "451 Local error", E::Ready, {}, {ERROR_OF("451 Local error")}, "close"},
        Row{E::Transfer, "200 Odd", E::Ready, {}, {ERROR_OF("200 Odd")}, "close"},
        // The transfer's 226 came; its data has still to end.
        Row{E::DataEnd, "226 Transfer complete", E::DataEnd, {}, {}},
        Row{E::DataEnd, "550 Odd", E::Ready, {}, {ERROR_OF("550 Odd")}, "close"},
        // ABOR is out, and nothing else.
        Row{E::Abort, "150 Odd", E::Abort, {}, {}},
        Row{E::Abort, "225 Abort successful", E::Ready, {}, {}, "close"},
        Row{E::Abort, "500 Unknown command", E::Ready, {}, {ERROR_OF("500 Unknown command")}, "close"},
        // ABOR is out behind RETR, whose reply comes first.
        Row{E::CommandAbort, "426 Transfer aborted", E::Abort, {}, {}},
        Row{E::CommandAbort, "226 Transfer complete", E::Ready, {}, {}, "close"},
        Row{E::CommandAbort, "225 Abort successful", E::Ready, {}, {}, "close"},
        // CWD is out.
        Row{E::Cwd, "250 Okay", E::Ready, {}, {"scOperationComplete"}},
        Row{E::Cwd, "226 Stray", E::Cwd, {}, {}},
        Row{E::Cwd, "257 \"/pub\" is current", E::Ready, {}, {ERROR_OF("257 \"/pub\" is current")}},
        Row{E::Cwd, "550 No such folder", E::Ready, {}, {ERROR_OF("550 No such folder")}},
        // PWD is out.
        Row{E::Pwd, "257 \"/pub/upgrade\" is current", E::Ready, {}, {"scCurrentFolder \"/pub/upgrade\""}},
        Row{E::Pwd, "257 no quotes", E::Ready, {}, {"scCurrentFolder \"\""}},
        Row{E::Pwd, "225 Open", E::Pwd, {}, {}},
        Row{E::Pwd, "226 Closing", E::Pwd, {}, {}},
        Row{E::Pwd, "250 Okay", E::Pwd, {}, {}},
        Row{E::Pwd, "211 Status", E::Ready, {}, {ERROR_OF("211 Status")}},
        Row{E::Pwd, "215 UNIX Type: L8", E::Ready, {}, {ERROR_OF("215 UNIX Type: L8")}},
        Row{E::Pwd, "150 Odd", E::Ready, {}, {ERROR_OF("150 Odd")}},
        Row{E::Pwd, "550 No such folder", E::Ready, {}, {ERROR_OF("550 No such folder")}},
        // QUIT is out, after a login and before one.
        Row{E::Quit, "221 Goodbye", E::Unconnected, {}, {"scLoggedOut", "scDisconnected"}},
        Row{E::Quit, "500 What?", E::Quit, {}, {ERROR_OF("500 What?")}},
        Row{E::QuitLogin, "331 Password required", E::QuitLogin, {}, {}},
        Row{E::QuitLogin, "221 Goodbye", E::Unconnected, {}, {"scDisconnected"}}),
    [](const auto& info) {
        return std::string(FtpEngineStateName(info.param.start)) + "_" + std::string(info.param.reply, 3) + "_" +
               std::to_string(info.index);
    });

#undef ERROR_OF

// ---- the processing state the client publishes ---------------------------------

struct PublishedCase {
    FtpEngineState state;
    FtpState published;
    bool loggedIn;
};

class FtpPublished : public FtpEngineTest, public ::testing::WithParamInterface<PublishedCase> {};

// Each engine state, reached as a session reaches it, publishes one
// processing state; "logged in" follows the engine's state.
TEST_P(FtpPublished, FollowsTheEngineState) {
    const PublishedCase& c = GetParam();
    At(c.state, [&] {
        EXPECT_EQ(engine.State(), c.published);
        EXPECT_EQ(engine.LoggedIn(), c.loggedIn);
        EXPECT_EQ(engine.IsConnected(), c.state != FtpEngineState::Unconnected);
    });
}

INSTANTIATE_TEST_SUITE_P(
    States, FtpPublished,
    ::testing::Values(PublishedCase{E::Unconnected, FtpState::Unconnected, false},
                      PublishedCase{E::Connecting, FtpState::LoggingIn, false},
                      PublishedCase{E::Greeting, FtpState::LoggingIn, false},
                      PublishedCase{E::User, FtpState::LoggingIn, false},
                      PublishedCase{E::Pass, FtpState::LoggingIn, false},
                      PublishedCase{E::Acct, FtpState::LoggingIn, false},
                      PublishedCase{E::LoginRefused, FtpState::LoggingIn, false},
                      PublishedCase{E::Ready, FtpState::Ready, true},
                      PublishedCase{E::Port, FtpState::Downloading, true},
                      PublishedCase{E::Type, FtpState::Downloading, true},
                      PublishedCase{E::Pasv, FtpState::Downloading, true},
                      PublishedCase{E::Rest, FtpState::Downloading, true},
                      PublishedCase{E::Transfer, FtpState::Downloading, true},
                      PublishedCase{E::DataEnd, FtpState::Downloading, true},
                      PublishedCase{E::Abort, FtpState::Downloading, true},
                      PublishedCase{E::CommandAbort, FtpState::Downloading, true},
                      PublishedCase{E::Cwd, FtpState::FolderCommand, true},
                      PublishedCase{E::Pwd, FtpState::FolderCommand, true},
                      // QUIT is out: the connection is being torn down.
                      PublishedCase{E::Quit, FtpState::Unconnected, true},
                      PublishedCase{E::QuitLogin, FtpState::Unconnected, false}),
    [](const auto& info) { return std::string(FtpEngineStateName(info.param.state)); });

// The operation's kind is the engine's to say, through every state of its
// chain and of its abort.
TEST_F(FtpEngineTest, TheOperationIsKnownInEveryStateOfItsChain) {
    LoggedIn();
    engine.Settings().PassiveMode = true;
    ASSERT_TRUE(engine.ListFolder("", true));
    for (const char* reply : {"200 Type set to A", "227 Entering Passive Mode (127,0,0,1,4,1)", "150 Here it comes",
                              "226 Transfer complete"}) {
        EXPECT_EQ(engine.Operation(), FtpOperation::Listing) << reply;
        EXPECT_EQ(engine.State(), FtpState::Listing) << reply;
        Reply(reply);
    }
    EXPECT_EQ(engine.EngineState(), E::DataEnd);
    EXPECT_TRUE(engine.Transferring());
    engine.DataEnded();
    EXPECT_EQ(engine.Operation(), FtpOperation::None);
    EXPECT_FALSE(engine.Transferring());
    EXPECT_EQ(link.sent, (Lines{"TYPE A", "PASV", "LIST"}));

    // An aborted folder command stays a folder command until the abort's
    // reply, and its answer is not reported: the caller gave it up.
    link.Clear();
    ASSERT_TRUE(engine.QueryFolder());
    ASSERT_TRUE(engine.AbortTransfer());
    EXPECT_EQ(engine.EngineState(), E::CommandAbort);
    EXPECT_EQ(engine.State(), FtpState::FolderCommand);
    EXPECT_FALSE(engine.Transferring());
    Reply("257 \"/pub\" is current");
    EXPECT_EQ(engine.EngineState(), E::Abort);
    Reply("225 ABOR command successful");
    EXPECT_EQ(engine.EngineState(), E::Ready);
    EXPECT_EQ(link.sent, (Lines{"PWD", "ABOR"}));
    EXPECT_EQ(link.Reports(), Lines{});
}

// ---- the login started again, and LogOut, while a command is out ---------------

TEST_F(FtpEngineTest, LoggingInAgainMatchesEveryReplyToItsCommand) {
    // PASS is out: USER waits for its answer, which is taken silently.
    Into(E::Pass);
    link.Clear();
    ASSERT_TRUE(engine.LogIn());
    EXPECT_EQ(engine.EngineState(), E::User);
    EXPECT_EQ(link.sent, Lines{});
    Reply("530 Login incorrect");
    EXPECT_EQ(link.sent, (Lines{"USER test"}));
    Reply("331 Password required");
    Reply("230 Logged in");
    EXPECT_EQ(link.sent, (Lines{"USER test", "PASS secret"}));
    EXPECT_EQ(link.Reports(), (Lines{"scLoggedIn"}));
    EXPECT_EQ(engine.EngineState(), E::Ready);
    EXPECT_FALSE(engine.LogIn());
}

TEST_F(FtpEngineTest, LoggingInBeforeTheGreetingSendsUserAtOnce) {
    Into(E::Greeting);
    link.Clear();
    ASSERT_TRUE(engine.LogIn());
    EXPECT_EQ(link.sent, (Lines{"USER test"}));
    // The greeting comes after all: taken, and USER's answer goes on.
    Reply("220 Ready");
    Reply("331 Password required");
    EXPECT_EQ(link.sent, (Lines{"USER test", "PASS secret"}));
    EXPECT_EQ(link.Reports(), Lines{});
    EXPECT_EQ(engine.EngineState(), E::Pass);
}

TEST_F(FtpEngineTest, LogOutInTheMiddleOfADownloadEndsItWithoutAnError) {
    LoggedIn();
    DownloadStarted();
    engine.DataReceived(10);
    link.Clear();
    link.onPause = [this] {
        // The file is closed as QUIT goes out; RETR's answer is owed.
        EXPECT_EQ(link.data, (Lines{"close"}));
        EXPECT_EQ(engine.OwedReplies(), 1);
        Reply("426 Connection closed; transfer aborted.");
        Reply("221 Goodbye");
    };
    EXPECT_TRUE(engine.LogOut());
    EXPECT_EQ(link.sent, (Lines{"QUIT"}));
    EXPECT_EQ(link.Reports(), (Lines{"scLoggedOut", "scDisconnected"}));
    EXPECT_EQ(engine.EngineState(), E::Unconnected);
    EXPECT_EQ(engine.OwedReplies(), 0);
}

// ---- rule 1: both signals complete a transfer, in either order ----------------

struct Order {
    const char* name;
    bool listing;
    const char* final;
    bool dataFirst;
};

class FtpCompletion : public FtpEngineTest, public ::testing::WithParamInterface<Order> {};

TEST_P(FtpCompletion, NeedsTheDataEndAndTheFinalReply) {
    const Order& o = GetParam();
    LoggedIn();
    if (o.listing) ListingStarted();
    else DownloadStarted(" (10 bytes)");
    link.listing = "a.bin\r\n";
    engine.DataReceived(10);
    link.Clear();
    if (o.dataFirst) engine.DataEnded();
    else Reply(o.final);
    // One signal only: nothing reported, the clock keeps running.
    EXPECT_EQ(link.Reports(), Lines{});
    EXPECT_EQ(engine.State(), o.listing ? FtpState::Listing : FtpState::Downloading);
    EXPECT_TRUE(link.transferTimer);
    if (o.dataFirst) Reply(o.final);
    else engine.DataEnded();
    EXPECT_EQ(link.Reports(), (Lines{o.listing ? "scInfoText \"a.bin\r\n\"" : "scTransferComplete"}));
    EXPECT_EQ(engine.State(), FtpState::Ready);
    // A download is committed whole; a listing has no file.
    EXPECT_EQ(link.data.back(), o.listing ? "close" : "close complete");
    EXPECT_EQ(engine.OwedReplies(), 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, FtpCompletion,
                         ::testing::Values(Order{"download_data_then_226", false, "226 Transfer complete", true},
                                           Order{"download_226_then_data", false, "226 Transfer complete", false},
                                           Order{"download_data_then_250", false, "250 Done", true},
                                           Order{"download_250_then_data", false, "250 Done", false},
                                           Order{"listing_data_then_226", true, "226 Transfer complete", true},
                                           Order{"listing_226_then_data", true, "226 Transfer complete", false},
                                           Order{"listing_250_then_data", true, "250 Done", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpEngineTest, TheNextDownloadStartedOnCompletionIsNotEndedByAStray226) {
    LoggedIn();
    DownloadStarted();
    engine.DataReceived(5);
    engine.DataEnded();
    Reply("226 Transfer complete");
    ASSERT_EQ(link.Reports(), (Lines{"scTransferComplete"}));
    // As the upgrade window does from its completion handler.
    link.Clear();
    ASSERT_TRUE(engine.DownloadFile("g.bin", "g.local", dmReplace));
    // A server that answers twice: the second 226 answers nothing out.
    Reply("226 Transfer complete");
    EXPECT_EQ(engine.State(), FtpState::Downloading);
    Reply("200 Type set to I");
    Reply("227 Entering Passive Mode (127,0,0,1,4,2)");
    Reply("150 Opening");
    EXPECT_EQ(link.sent, (Lines{"TYPE I", "PASV", "RETR g.bin"}));
    engine.DataEnded();
    Reply("226 Transfer complete");
    EXPECT_EQ(link.Reports(), (Lines{"scTransferComplete"}));
}

TEST_F(FtpEngineTest, TheTraceOfOneWholeDownload) {
    LoggedIn();
    link.trace.clear();
    DownloadStarted(" (3 bytes)");
    engine.DataReceived(3);
    engine.DataEnded();
    Reply("226 Transfer complete");
    EXPECT_EQ(link.trace, (Lines{"[Ready] -> [Preparing] (DownloadFile)", "[Preparing] -> [Type] (data socket made)",
                                 "[Type] -> [Pasv] (200)", "[Pasv] -> [Transfer] (227)", "waiting for the final reply",
                                 "[Transfer] -> [Ready] (226)"}));
}

// A reply that does not answer the command out is an error, never a step
// forward: a 350 to TYPE ends the download (the chain's next command is
// never sent), and the trace says where it was refused.
TEST_F(FtpEngineTest, TheTraceOfARefusedType) {
    LoggedIn();
    link.trace.clear();
    engine.Settings().PassiveMode = true;
    ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
    Reply("350 Restarting");
    EXPECT_EQ(link.trace, (Lines{"[Ready] -> [Preparing] (DownloadFile)", "[Preparing] -> [Type] (data socket made)",
                                 "[Type] -> [Ready] (350)"}));
    EXPECT_EQ(link.sent, (Lines{"TYPE I"}));
    EXPECT_EQ(link.Reports(), (Lines{"error 350 \"350 Restarting\r\n\""}));
    EXPECT_EQ(engine.OwedReplies(), 0);
    // The server that answered TYPE with it is not owed anything: the next
    // file starts at once.
    link.Clear();
    ASSERT_TRUE(engine.DownloadFile("g.bin", "g.local", dmReplace));
    EXPECT_EQ(link.sent, (Lines{"TYPE I"}));
}

// ---- rule 2: a failure reply after 150 fails the transfer ------------------------

struct FailureCase {
    const char* name;
    bool dataFirst;
    const char* reply;
};

class FtpFailureReply : public FtpEngineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FtpFailureReply, FailsOnceAndKeepsTheFileUncut) {
    LoggedIn();
    DownloadStarted();
    engine.DataReceived(1000);
    link.Clear();
    if (GetParam().dataFirst) engine.DataEnded();
    Reply(GetParam().reply);
    EXPECT_EQ(link.Reports(), (Lines{"error " + std::string(GetParam().reply, 3) + " \"" + GetParam().reply + "\r\n\""}));
    EXPECT_EQ(link.data, (Lines{"close"}));
    EXPECT_EQ(engine.State(), FtpState::Ready);
    // The data end after the failure changes nothing.
    engine.DataEnded();
    EXPECT_EQ(link.Reports().size(), 1u);
    EXPECT_EQ(engine.OwedReplies(), 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, FtpFailureReply,
                         ::testing::Values(FailureCase{"data_closed_then_426", true, "426 Connection closed"},
                                           FailureCase{"data_closed_then_451", true, "451 Local error"},
                                           FailureCase{"426_while_data_open", false, "426 Connection closed"},
                                           FailureCase{"550_after_150", false, "550 Gone"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpEngineTest, TheControlConnectionEndingBeforeTheFinalReplyIsNoCompletion) {
    LoggedIn();
    DownloadStarted();
    engine.DataReceived(100);
    engine.DataEnded();
    link.Clear();
    link.open = false;
    engine.Disconnected();
    EXPECT_EQ(link.Reports(), (Lines{"error -5 \"Connection closed by the server\"", "scLoggedOut"}));
    EXPECT_EQ(engine.State(), FtpState::Unconnected);
    EXPECT_EQ(link.data.front(), "close");
}

// ---- rule 3: the announced size -------------------------------------------------------

struct SizeCase {
    const char* name;
    FtpFileType type;
    FtpDownloadMode mode;
    int32_t restartOffset;
    int received;
    const char* result;
};

class FtpAnnounced : public FtpEngineTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FtpAnnounced, ReceivedBytesMustMatch) {
    const SizeCase& c = GetParam();
    LoggedIn();
    engine.Settings().PassiveMode = true;
    engine.Settings().FileType = c.type;
    engine.SetRestartOffset(c.restartOffset);
    ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", c.mode));
    Reply("200 Type set");
    Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
    if (c.mode == dmRestart) Reply("350 Restarting");
    Reply("150 Opening BINARY mode data connection for f.bin (100000 bytes).");
    engine.DataReceived(c.received);
    engine.DataEnded();
    link.Clear();
    Reply("226 Transfer complete");
    EXPECT_EQ(link.Reports(), (Lines{c.result}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FtpAnnounced,
    ::testing::Values(
        SizeCase{"binary_short", ftBinary, dmReplace, 0, 1000,
                 "error -2 \"Transfer incomplete: 1000 of 100000 bytes\""},
        SizeCase{"binary_long", ftBinary, dmReplace, 0, 100001,
                 "error -2 \"Transfer size mismatch: 100001 bytes received, 100000 announced\""},
        SizeCase{"binary_whole", ftBinary, dmReplace, 0, 100000, "scTransferComplete"},
        SizeCase{"append_short", ftBinary, dmAppend, 0, 99999,
                 "error -2 \"Transfer incomplete: 99999 of 100000 bytes\""},
        SizeCase{"restart_at_0_short", ftBinary, dmRestart, 0, 10, "error -2 \"Transfer incomplete: 10 of 100000 bytes\""},
        SizeCase{"restarted_is_exempt", ftBinary, dmRestart, 50, 10, "scTransferComplete"},
        SizeCase{"ascii_is_exempt", ftAscii, dmReplace, 0, 1000, "scTransferComplete"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- rules 4 and 5: a failure on this side, once; the owed reply ----------------------

TEST_F(FtpEngineTest, AWriteFailureEndsTheTransferAtOnceWithOneReport) {
    LoggedIn();
    DownloadStarted();
    engine.DataReceived(32769);
    link.Clear();
    engine.LocalWriteFailed("Cannot write f.bin: There is not enough space on the disk.");
    // Further blocks and the end of the data are no news.
    engine.LocalWriteFailed("Cannot write f.bin: again");
    engine.DataReceived(100);
    engine.DataEnded();
    EXPECT_EQ(link.Reports(), (Lines{"error -3 \"Cannot write f.bin: There is not enough space on the disk.\""}));
    EXPECT_EQ(link.data, (Lines{"close"}));
    EXPECT_EQ(link.progress, 0);
    EXPECT_EQ(engine.State(), FtpState::Ready);
    EXPECT_EQ(engine.OwedReplies(), 1);

    // The next download waits for the owed reply; the 426 that answers the
    // closed transfer is taken for it and fails nothing.
    link.Clear();
    ASSERT_TRUE(engine.DownloadFile("g.bin", "g.local", dmReplace));
    EXPECT_EQ(link.sent, Lines{});
    EXPECT_TRUE(link.transferTimer);
    Reply("426 Connection closed; transfer aborted.");
    EXPECT_EQ(link.sent, (Lines{"TYPE I"}));
    EXPECT_EQ(link.Reports(), Lines{});
    Reply("200 Type set to I");
    EXPECT_EQ(link.sent, (Lines{"TYPE I", "PASV"}));
}

TEST_F(FtpEngineTest, ADataSocketFailureReportsOnceAndItsLate425IsTaken) {
    LoggedIn();
    ListingStarted();
    link.Clear();
    engine.DataFailed(10061);
    engine.DataFailed(10057);
    EXPECT_EQ(link.Reports(), (Lines{"error 10061"}));
    EXPECT_EQ(engine.State(), FtpState::Ready);
    Reply("425 Cannot open data connection");
    EXPECT_EQ(link.Reports(), (Lines{"error 10061"}));
    EXPECT_EQ(engine.OwedReplies(), 0);

    // The abort flag stays set until a download: the second listing's socket
    // failure is silent, and the server's 425 ends it with one report.
    link.Clear();
    ListingStarted();
    engine.DataFailed(10061);
    EXPECT_EQ(link.Reports(), Lines{});
    Reply("425 Cannot open data connection");
    EXPECT_EQ(link.Reports(), (Lines{"error 425 \"425 Cannot open data connection\r\n\""}));
}

TEST_F(FtpEngineTest, RefusedChainCommandsGiveOneErrorEach) {
    // PASV refused, TYPE refused, 425 after a 227: each is the one report of
    // its file, and the next file's chain goes out normally.
    const char* const refusals[][2] = {{"PASV", "425 Cannot open passive connection"},
                                       {"TYPE", "504 Type not supported"},
                                       {"RETR", "425 Cannot open data connection"}};
    LoggedIn();
    engine.Settings().PassiveMode = true;
    for (const auto& refusal : refusals) {
        link.Clear();
        ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
        if (std::string(refusal[0]) != "TYPE") Reply("200 Type set to I");
        if (std::string(refusal[0]) == "RETR") Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
        Reply(refusal[1]);
        EXPECT_EQ(link.Reports(), (Lines{"error " + std::string(refusal[1], 3) + " \"" + refusal[1] + "\r\n\""}))
            << refusal[0];
        EXPECT_EQ(engine.State(), FtpState::Ready);
        EXPECT_EQ(engine.OwedReplies(), 0);
        EXPECT_EQ(link.sent.back().substr(0, 4), refusal[0]);
    }
}

// A data connection that cannot be prepared: nothing is sent, the client
// is Ready again, and the failure is reported once, so that whoever waits
// for the operation's outcome hears it (by the socket step that failed, by
// the number the preparation gives, or with the client's own code). A
// listing after a data error, whose socket errors are silenced, is no
// exception.
TEST_F(FtpEngineTest, NoDataConnectionMeansNothingSentOneErrorAndReady) {
    struct Case {
        const char* name;
        int32_t error;
        int32_t reportedOnTheWay;
        bool afterADataError;
        std::string expected;
    };
    for (const Case& c : {
             Case{"no number", 0, 0, false, "error -4 \"Cannot prepare the data connection\""},
             Case{"a number", 10024, 0, false, "error 10024"},
             Case{"a step reported it", 10048, 10048, false, "error 10048"},
             Case{"a listing after a data error", 10024, 10024, true, "error 10024"},
         }) {
        for (bool listing : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (listing ? ", listing" : ", download"));
            FtpEngine fresh(link);
            link.engine = &fresh;
            fresh.Settings().UserName = "test";
            fresh.Settings().Password = "secret";
            link.prepareOk = true;
            ASSERT_TRUE(fresh.LogIn());
            fresh.Connected();
            for (const char* line : {"220 Ready", "331 Password required", "230 Logged in"})
                fresh.ReplyLine(FtpReplyCode(line), std::string(line) + "\r\n");
            if (c.afterADataError) {
                ASSERT_TRUE(fresh.ListFolder("", false));
                fresh.DataFailed(10054);
                ASSERT_EQ(fresh.State(), FtpState::Ready);
                ASSERT_TRUE(fresh.AbortFlag());
            }
            link.Clear();
            link.prepareOk = false;
            link.prepareError = c.error;
            link.prepareReports = c.reportedOnTheWay;
            EXPECT_FALSE(listing ? fresh.ListFolder("", false) : fresh.DownloadFile("f.bin", "local.bin", dmReplace));
            EXPECT_EQ(fresh.State(), FtpState::Ready);
            EXPECT_EQ(link.sent, Lines{});
            EXPECT_EQ(fresh.CommandCount(), 0);
            EXPECT_FALSE(link.transferTimer);
            EXPECT_EQ(link.Reports(), Lines{c.expected});
            // The client takes the next operation.
            link.prepareOk = true;
            EXPECT_TRUE(fresh.QueryFolder());
            link.open = false;
        }
    }
    link.engine = &engine;
}

TEST_F(FtpEngineTest, ALocalFileThatCannotBeOpenedLeavesTheClientReady) {
    LoggedIn();
    EXPECT_THROW(engine.DownloadFile("f.bin", "unopenable", dmReplace), std::runtime_error);
    EXPECT_EQ(engine.State(), FtpState::Ready);
    EXPECT_EQ(engine.CommandCount(), 0);
    EXPECT_EQ(link.sent, Lines{});
    EXPECT_TRUE(engine.QueryFolder());
}

// ---- rule 6: never a wait without a clock ----------------------------------------------

TEST_F(FtpEngineTest, TheClockRunsFromTheConnectionUntilReady) {
    ASSERT_TRUE(engine.LogIn());
    EXPECT_FALSE(link.transferTimer);
    engine.Connected();
    EXPECT_TRUE(link.transferTimer);
    // A server that never greets: the timer's expiry resets the login.
    engine.TransferTimerExpired();
    EXPECT_EQ(link.timeoutsPosted, 1);
    engine.TimeoutMessage();
    // The reset closes the connection itself: one scDisconnected.
    EXPECT_EQ(link.Reports(), (Lines{"scDisconnected", "fired scTransferTimedOut"}));
    EXPECT_EQ(engine.State(), FtpState::Unconnected);
}

TEST_F(FtpEngineTest, AFailedConnectionAttemptIsReportedAtOnce) {
    ASSERT_TRUE(engine.LogIn());
    EXPECT_TRUE(link.connectTimer);
    engine.ConnectFailed(10061);
    EXPECT_FALSE(link.connectTimer);
    EXPECT_EQ(link.Reports(), (Lines{"error 10061", "scDisconnected"}));
    EXPECT_EQ(engine.State(), FtpState::Unconnected);
    EXPECT_FALSE(link.open);
    // Once connected, port errors are not the attempt failing.
    LoggingIn();
    link.Clear();
    engine.ConnectFailed(10053);
    EXPECT_EQ(link.Reports(), Lines{});
}

TEST_F(FtpEngineTest, ATimeoutLeavesTheFinalReplyOwedUntilTheNextTimeout) {
    LoggedIn();
    DownloadStarted();
    engine.TimeoutMessage();
    EXPECT_EQ(engine.OwedReplies(), 1);
    link.Clear();
    ASSERT_TRUE(engine.DownloadFile("g.bin", "g.local", dmReplace));
    EXPECT_EQ(link.sent, Lines{});
    // The owed reply never comes: the next timeout gives up waiting for it.
    engine.TimeoutMessage();
    EXPECT_EQ(engine.OwedReplies(), 0);
    EXPECT_EQ(link.Reports(), (Lines{"fired scTransferTimedOut"}));
    ASSERT_TRUE(engine.DownloadFile("g.bin", "g.local", dmReplace));
    EXPECT_EQ(link.sent, (Lines{"TYPE I"}));
}

// ---- rule 7: ABOR ---------------------------------------------------------------------------

struct AbortCase {
    const char* name;
    bool transferOut;  // RETR is out (else the abort comes while TYPE is out)
    Lines replies;
    Lines reports;
    FtpState afterFirst;
};

class FtpAbort : public FtpEngineTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(FtpAbort, EndsWithTheAbortsFinalReply) {
    const AbortCase& c = GetParam();
    LoggedIn();
    if (c.transferOut) {
        DownloadStarted();
        engine.DataReceived(64);
    } else {
        engine.Settings().PassiveMode = true;
        ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
    }
    link.Clear();
    ASSERT_TRUE(engine.AbortTransfer());
    EXPECT_EQ(engine.CommandCount(), 0);
    for (size_t i = 0; i < c.replies.size(); ++i) {
        Reply(c.replies[i]);
        if (i == 0) {
            EXPECT_EQ(engine.State(), c.afterFirst) << c.replies[i];
        }
    }
    // Nothing of the operation goes out after the ABOR.
    EXPECT_EQ(link.sent, (Lines{"ABOR"}));
    EXPECT_EQ(link.Reports(), c.reports);
    EXPECT_EQ(engine.State(), FtpState::Ready);
    // The data end after the abort is no completion.
    engine.DataEnded();
    EXPECT_EQ(link.Reports(), c.reports);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FtpAbort,
    ::testing::Values(
        AbortCase{"426_then_226", true, {"426 Transfer aborted", "226 Abort successful"},
                  {"error 426 \"426 Transfer aborted\r\n\""}, FtpState::Downloading},
        AbortCase{"lone_226", true, {"226 Transfer complete"}, {}, FtpState::Ready},
        AbortCase{"lone_225", true, {"225 ABOR command successful; data channel closed."}, {}, FtpState::Ready},
        AbortCase{"before_the_data_connection", false, {"200 Type set to I", "225 No transfer to abort"}, {},
                  FtpState::Downloading}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpEngineTest, TheAbortsOwnReplyAfterTheTransfersDoesNotEndTheNextOperation) {
    LoggedIn();
    DownloadStarted();
    ASSERT_TRUE(engine.AbortTransfer());
    // The transfer had ended when ABOR arrived: its 226, then the abort's.
    Reply("226 Transfer complete");
    ASSERT_EQ(engine.State(), FtpState::Ready);
    link.Clear();
    ASSERT_TRUE(engine.QueryFolder());
    Reply("226 ABOR command successful");
    EXPECT_EQ(engine.State(), FtpState::FolderCommand);
    Reply("257 \"/pub\" is current");
    EXPECT_EQ(link.Reports(), (Lines{"scCurrentFolder \"/pub\""}));
    // A server that answered once: the next reply is the operation's own.
    link.Clear();
    DownloadStarted();
    ASSERT_TRUE(engine.AbortTransfer());
    Reply("226 Transfer complete");
    link.Clear();
    ASSERT_TRUE(engine.QueryFolder());
    Reply("257 \"/pub\" is current");
    EXPECT_EQ(link.Reports(), (Lines{"scCurrentFolder \"/pub\""}));
}

// ---- rule 8: the 227 host is not followed ----------------------------------------------------

TEST_F(FtpEngineTest, PassiveConnectsToTheControlPeerAtThe227Port) {
    LoggedIn();
    engine.Settings().PassiveMode = true;
    ASSERT_TRUE(engine.ListFolder("", false));
    Reply("200 Type set to A");
    link.data.clear();
    Reply("227 Entering Passive Mode (10,99,1,2,19,137)");
    // Only the port goes to the link: it connects to the control peer.
    EXPECT_EQ(link.data, (Lines{"connect 5001"}));
}

TEST_F(FtpEngineTest, A227WithoutAUsablePortIsOneErrorAndNoConnection) {
    for (const char* reply : {"227 Entering Passive Mode (127,0,0,1,0,0)", "227 Entering Passive Mode (127,0,0,1,4)",
                              "227 Entering Passive Mode (127,0,0,1,256,0)"}) {
        LoggedIn();
        engine.Settings().PassiveMode = true;
        ASSERT_TRUE(engine.ListFolder("", false));
        Reply("200 Type set to A");
        link.Clear();
        Reply(reply);
        EXPECT_EQ(link.Reports(), (Lines{"error 227 \"" + std::string(reply) + "\r\n\""}));
        EXPECT_EQ(link.data, (Lines{"close"})) << reply;
        EXPECT_EQ(link.sent, Lines{});
        link.open = false;
        engine.Disconnected();
    }
}

// ---- the queue -------------------------------------------------------------------------------

TEST_F(FtpEngineTest, CommandsOfAnEndedOperationAreNeverSentLater) {
    LoggedIn();
    engine.Settings().PassiveMode = true;
    ASSERT_TRUE(engine.ListFolder("", false));
    Reply("550 No");
    EXPECT_EQ(engine.CommandCount(), 0);
    link.Clear();
    ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
    Reply("200 Type set to I");
    Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
    Reply("200 Odd second reply");
    EXPECT_EQ(link.sent, (Lines{"TYPE I", "PASV", "RETR f.bin"}));
}

// ---- what a server may do to a session -----------------------------------------

struct SessionEnd {
    const char* name;
    std::function<void(FtpEngine&, RecordingLink&)> act;
    Lines reports;
};

class FtpSessionEnd : public FtpEngineTest, public ::testing::WithParamInterface<SessionEnd> {};

TEST_P(FtpSessionEnd, IsReportedOnceOrNotAtAll) {
    LoggedIn();
    GetParam().act(engine, link);
    EXPECT_EQ(link.Reports(), GetParam().reports);
    EXPECT_EQ(engine.State(), FtpState::Unconnected);
}

// The port closing on its own, as when the server closed the connection.
void ServerCloses(FtpEngine& e, RecordingLink& l) {
    l.open = false;
    e.Disconnected();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, FtpSessionEnd,
    ::testing::Values(
        SessionEnd{"closed_without_a_word", ServerCloses,
                   {"error -5 \"Connection closed by the server\"", "scLoggedOut"}},
        SessionEnd{"reset_by_the_server",
                   [](FtpEngine& e, RecordingLink& l) {
                       e.ConnectFailed(10054);
                       ServerCloses(e, l);
                   },
                   {"error 10054", "scLoggedOut"}},
        SessionEnd{"goodbye_after_our_quit",
                   [](FtpEngine& e, RecordingLink& l) {
                       l.onPause = [&e] { e.ReplyLine(221, "221 Goodbye\r\n"); };
                       e.LogOut();
                   },
                   {"scLoggedOut", "scDisconnected"}},
        SessionEnd{"closed_after_our_quit_without_goodbye",
                   [](FtpEngine& e, RecordingLink& l) {
                       l.onPause = [&e, &l] { ServerCloses(e, l); };
                       e.LogOut();
                   },
                   {"scLoggedOut"}},
        SessionEnd{"goodbye_nobody_asked_for",
                   [](FtpEngine& e, RecordingLink&) { e.ReplyLine(221, "221 Goodbye\r\n"); },
                   {"scLoggedOut", "scDisconnected"}},
        SessionEnd{"reply_too_long", [](FtpEngine& e, RecordingLink&) { e.ReplyTooLong(); },
                   {"error -6 \"Reply too long: more than 65536 bytes\"", "scLoggedOut", "scDisconnected"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpEngineTest, AMultiLineReplyPastTheLimitEndsTheSession) {
    ASSERT_TRUE(engine.LogIn());
    engine.Connected();
    Reply("220-Welcome");
    const std::string line = "220-" + std::string(1000, 'w');
    int fed = 0;
    while (engine.State() != FtpState::Unconnected && fed < 100) {
        Reply(line);
        ++fed;
    }
    // 13 bytes, then lines of 1006: the 66th takes the reply past 65,536.
    EXPECT_EQ(fed, 66);
    EXPECT_EQ(link.Reports(),
              (Lines{"error -6 \"Reply too long: more than 65536 bytes\"", "scDisconnected"}));
    EXPECT_EQ(link.sent, Lines{});
}

TEST_F(FtpEngineTest, ADownloadTakesNoByteBeyondTheAnnouncedSize) {
    LoggedIn();
    DownloadStarted(" (1000 bytes)");
    link.Clear();
    EXPECT_TRUE(engine.DataArriving(600));
    engine.DataReceived(600);
    EXPECT_TRUE(engine.DataArriving(400));  // exactly the size: fine
    engine.DataReceived(400);
    EXPECT_FALSE(engine.DataArriving(1));
    EXPECT_EQ(link.Reports(), (Lines{"error -2 \"Transfer size mismatch: 1001 bytes received, 1000 announced\""}));
    EXPECT_EQ(engine.State(), FtpState::Ready);
    EXPECT_EQ(link.data.back(), "close");
    // The transfer's 226 comes later and is taken silently.
    Reply("226 Transfer complete");
    EXPECT_EQ(link.Reports().size(), 1u);
    EXPECT_EQ(engine.OwedReplies(), 0);
}

TEST_F(FtpEngineTest, BytesBeyondTheSizeBeforeThe150AreCaughtWhenItArrives) {
    LoggedIn();
    engine.Settings().PassiveMode = true;
    ASSERT_TRUE(engine.DownloadFile("f.bin", "local.bin", dmReplace));
    Reply("200 Type set to I");
    Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
    link.Clear();
    ASSERT_TRUE(engine.DataArriving(2000));  // nothing announced yet
    engine.DataReceived(2000);
    Reply("150 Opening BINARY mode data connection (1000 bytes)");
    EXPECT_EQ(link.Reports(), (Lines{"error -2 \"Transfer size mismatch: 2000 bytes received, 1000 announced\""}));
    EXPECT_EQ(engine.State(), FtpState::Ready);
}

TEST_F(FtpEngineTest, TheSizeRuleHoldsOnlyForWholeBinaryDownloads) {
    // ASCII changes line ends, a restart counts from elsewhere: no check.
    LoggedIn();
    engine.Settings().FileType = ftAscii;
    engine.Settings().PassiveMode = true;
    ASSERT_TRUE(engine.DownloadFile("f.txt", "local.txt", dmReplace));
    Reply("200 Type set to A");
    Reply("227 Entering Passive Mode (127,0,0,1,4,1)");
    Reply("150 Opening ASCII mode data connection (10 bytes)");
    EXPECT_TRUE(engine.DataArriving(50));
    EXPECT_EQ(link.Reports(), Lines{});
}

TEST_F(FtpEngineTest, AListingThisSideRefusesFailsOnce) {
    LoggedIn();
    ListingStarted();
    link.Clear();
    engine.TransferRefused(kFtpErrListingTooLong, "Listing too long: more than 67108864 bytes");
    engine.TransferRefused(kFtpErrListingTooLong, "again");
    engine.DataEnded();
    Reply("226 Transfer complete");
    EXPECT_EQ(link.Reports(), (Lines{"error -7 \"Listing too long: more than 67108864 bytes\""}));
    EXPECT_EQ(engine.State(), FtpState::Ready);
}

TEST_F(FtpEngineTest, ATimeoutInTheMiddleOfAReplyEndsTheSession) {
    LoggedIn();
    ASSERT_TRUE(engine.QueryFolder());
    Reply("257-first line of a reply that never ends");
    link.Clear();
    engine.TimeoutMessage();
    EXPECT_EQ(link.Reports(), (Lines{"scLoggedOut", "scDisconnected", "fired scTransferTimedOut"}));
    EXPECT_EQ(engine.State(), FtpState::Unconnected);
}

}  // namespace
}  // namespace qv
