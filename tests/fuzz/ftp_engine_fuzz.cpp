// Fuzz target: the FTP command and reply engine driven by a byte script of
// operations, server replies and data-connection events.
//
// Invariants checked after every step:
//  - the state is always one of the named states, and the trace is one
//    chain of transitions (each starts where the one before ended);
//  - every command written is the command of the state the engine is in
//    (USER in User, TYPE in Type, ABOR in an abort state ...);
//  - a reply moves a chain or the login forward only when it is the
//    answer its state waits for (a 200 to TYPE, a 227 to PASV, a 350 to
//    REST, a 230 to the login's commands ...);
//  - "logged in" and the published processing state agree with the
//    engine's state, and the published state is Ready exactly when the
//    engine is;
//  - a reset reports scDisconnected at most once;
//  - a listing or download never completes unless, since it began, the data
//    connection ended and a final 226/250 arrived;
//  - one input never gives more than one outcome (error, completion,
//    listing, timeout), and a transfer that goes back to Ready on its own
//    gives exactly one (unless it was aborted); one taken in Ready that
//    cannot start (no data connection) gives exactly one error;
//  - while an operation runs after the connection stands, the transfer
//    timer runs (or its expiry is on its way);
//  - a session that ends from the server's side (its close, an overlong
//    reply) is reported exactly once and leaves the engine Unconnected;
//  - a data block the engine refuses ends the transfer with exactly one
//    outcome.
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "comms/ftp/ftp_engine.h"
#include "fuzz_support.h"

namespace {

using namespace qv;
using qv::fuzz::Input;

class FuzzLink : public FtpEngineLink {
public:
    FtpEngine* engine = nullptr;
    bool open = false;
    bool connected = false;
    bool prepareOk = true;
    bool prepareReports = false;  // a failing socket step reports on the way
    bool timer = false;
    bool timeoutPending = false;
    int outcomes = 0;  // in the current step
    int disconnects = 0;  // scDisconnected in the current step
    bool leftTransfer = false;
    bool completed = false;
    // The state the last transition ended in, and the operation then.
    std::string lastState = "Unconnected";
    FtpOperation lastOperation = FtpOperation::None;
    std::string failure;  // a broken rule seen inside a call

    bool ControlOpen() override { return open; }
    bool OpenControl() override {
        open = true;
        return true;
    }
    void CloseControl() override {
        if (!open) return;
        open = false;
        connected = false;
        engine->Disconnected();
    }
    void WriteLine(const std::string& command) override {
        const std::string word = command.substr(0, command.find(' '));
        const FtpEngineState s = engine->EngineState();
        const bool matches =
            (word == "USER" && s == FtpEngineState::User) || (word == "PASS" && s == FtpEngineState::Pass) ||
            (word == "ACCT" && s == FtpEngineState::Acct) || (word == "PORT" && s == FtpEngineState::Port) ||
            (word == "TYPE" && s == FtpEngineState::Type) || (word == "PASV" && s == FtpEngineState::Pasv) ||
            (word == "REST" && s == FtpEngineState::Rest) ||
            ((word == "RETR" || word == "LIST" || word == "NLST") && s == FtpEngineState::Transfer) ||
            (word == "CWD" && s == FtpEngineState::Cwd) || (word == "PWD" && s == FtpEngineState::Pwd) ||
            (word == "ABOR" && (s == FtpEngineState::Abort || s == FtpEngineState::CommandAbort)) ||
            (word == "QUIT" && (s == FtpEngineState::Quit || s == FtpEngineState::QuitLogin));
        if (!matches && failure.empty())
            failure = command + " written in state " + FtpEngineStateName(s);
    }
    // LogOut's pause: the server may answer meanwhile (QUIT is out then).
    std::string pauseReply;
    void Pause(int32_t) override {
        if (pauseReply.empty()) return;
        std::string line;
        line.swap(pauseReply);
        engine->ReplyLine(FtpReplyCode(line), line + "\r\n");
    }
    void StartTransferTimer() override { timer = true; }
    void RefreshTransferTimer() override {}
    void StopTransferTimer() override { timer = false; }
    void StartConnectTimer() override {}
    void StopConnectTimer() override {}
    void PostTimeout() override { timeoutPending = true; }
    void OpenLocalFile(const std::string& name, FtpDownloadMode, int32_t& restartOffset) override {
        if (name == "bad") throw std::runtime_error("Cannot open file bad");
        if (restartOffset < 0) restartOffset = 0;
    }
    FtpDataPrepared PrepareData(bool) override {
        FtpDataPrepared p;
        p.ok = prepareOk;
        p.portArgument = "127,0,0,1,4,1";
        if (!prepareOk && prepareReports) engine->DataFailed(10048);
        return p;
    }
    void ConnectData(uint16_t port) override {
        QV_FUZZ_CHECK(port != 0, "a data connection to port 0");
    }
    void CloseData(bool) override {}
    std::string ListingText() override { return "a\r\n"; }
    void PostStatus(FtpStatusCode code, const char*) override {
        if (code == scTransferComplete || code == scInfoText) Outcome(code == scTransferComplete);
        if (code == scDisconnected) ++disconnects;
    }
    void PostError(int32_t, const char*) override { Outcome(false); }
    void PostLog(FtpLogCode) override {}
    void FireStatus(FtpStatusCode code) override {
        if (code == scTransferTimedOut) Outcome(false);
    }
    void FireError(int32_t) override { Outcome(false); }
    void Trace(std::string_view line) override {
        if (line.rfind("[", 0) != 0) return;
        // "[From] -> [To] (why)"
        const size_t fromEnd = line.find("] -> [");
        const size_t toEnd = line.find("] (", fromEnd);
        if (fromEnd == std::string_view::npos || toEnd == std::string_view::npos) {
            Broken("a transition not in its form: " + std::string(line));
            return;
        }
        const std::string from(line.substr(1, fromEnd - 1));
        const std::string to(line.substr(fromEnd + 6, toEnd - fromEnd - 6));
        const std::string why(line.substr(toEnd + 3, line.size() - toEnd - 4));
        if (from != lastState) Broken("a transition from " + from + " after one to " + lastState);
        if (!Forward(from, to, why)) Broken("a step forward on the wrong reply: " + std::string(line));
        lastState = to;
        const bool wasTransfer =
            lastOperation == FtpOperation::Listing || lastOperation == FtpOperation::Download;
        lastOperation = engine->Operation();
        if (wasTransfer && lastOperation == FtpOperation::None) leftTransfer = true;
    }

    // A login or chain state goes forward only on the answer it waits for.
    static bool Forward(const std::string& from, const std::string& to, const std::string& why) {
        auto is = [&](const char* f, const char* t) { return from == f && to == t; };
        if (is("Greeting", "User") && why != "LogIn") return why == "220";
        if (is("User", "Pass")) return why == "331";
        if ((is("User", "Acct") || is("Pass", "Acct"))) return why == "332";
        if (is("User", "Ready") || is("Pass", "Ready") || is("Acct", "Ready")) return why == "230";
        if (is("Port", "Type")) return why == "200";
        if (is("Type", "Pasv") || is("Type", "Rest") || is("Type", "Transfer")) return why == "200";
        if (is("Pasv", "Rest") || is("Pasv", "Transfer")) return why == "227";
        if (is("Rest", "Transfer")) return why == "350";
        if (is("Transfer", "DataEnd")) return why == "226" || why == "250";
        return true;
    }

    void Broken(const std::string& what) {
        if (failure.empty()) failure = what;
    }

    void Outcome(bool complete) {
        ++outcomes;
        QV_FUZZ_CHECK(outcomes <= 1, "more than one outcome for one input");
        if (complete) completed = true;
    }
};

// What the harness saw of the current transfer.
struct Seen {
    bool running = false;
    bool listing = false;
    bool dataEnded = false;
    bool finalOk = false;
    bool aborted = false;
};

const char* const kReplies[] = {
    "220 Ready", "230 Logged in", "331 Password", "332 Account", "202 Superfluous", "200 OK",
    "227 Entering Passive Mode (127,0,0,1,4,1)", "227 Entering Passive Mode (127,0,0,1,0,0)",
    "227 (1,2,3)", "350 Restarting", "125 Open", "150 Opening (10 bytes)", "150 Opening",
    "226 Transfer complete", "250 Done", "225 No transfer", "257 \"/a\"\"b\"", "211 Status",
    "421 Bye", "221 Goodbye", "425 No data", "426 Aborted", "451 Local error", "500 What",
    "550 No", "530 Login", "120-wait", "120 wait", "xyz garbage", "",
};
constexpr size_t kReplyCount = sizeof(kReplies) / sizeof(kReplies[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    FuzzLink link;
    FtpEngine engine(link);
    link.engine = &engine;
    Seen seen;
    std::string steps;  // what was done, for a failure's message
    while (!in.Empty()) {
        uint8_t op = in.Byte();
        link.outcomes = 0;
        link.disconnects = 0;
        link.leftTransfer = false;
        link.completed = false;
        bool wasTransfer = engine.Transferring();
        bool wasReady = engine.State() == FtpState::Ready;
        bool startedOp = false;
        bool triedToStart = false;  // a listing or download was asked for and took its local file
        steps += std::to_string(op % 27) + " ";
        const FtpState before = engine.State();
        try {
            switch (op % 27) {
                case 0: engine.LogIn(); break;
                case 1:
                    if (link.open && !link.connected) {
                        link.connected = true;
                        engine.Connected();
                    }
                    break;
                case 2:
                    link.open = false;
                    link.connected = false;
                    engine.Disconnected();
                    QV_FUZZ_CHECK(before == FtpState::Unconnected || link.outcomes == 1,
                                  "the server's close was not reported exactly once after " + steps);
                    break;
                case 3: engine.ConnectFailed(10061); break;
                case 4:
                case 5:
                case 6:
                case 7:
                case 8:
                case 9: {
                    std::string line = kReplies[in.Byte() % kReplyCount];
                    int32_t code = FtpReplyCode(line);
                    if (seen.running && (code == 226 || code == 250)) seen.finalOk = true;
                    engine.ReplyLine(code, line + "\r\n");
                    break;
                }
                case 10: engine.DataReceived(1 + in.Byte() % 20); break;
                case 11:
                    if (seen.running) seen.dataEnded = true;
                    engine.DataEnded();
                    break;
                case 12: engine.DataFailed(10054); break;
                case 13: engine.LocalWriteFailed("disk full"); break;
                case 14:
                    if (link.timer) {
                        link.timer = false;
                        engine.TransferTimerExpired();
                    }
                    break;
                case 15:
                    if (link.timeoutPending) {
                        link.timeoutPending = false;
                        engine.TimeoutMessage();
                    }
                    break;
                case 16:
                case 17: {
                    uint8_t arg = in.Byte();
                    startedOp = engine.DownloadFile(arg & 1 ? "f" : "g", arg & 2 ? "bad" : "local",
                                                    static_cast<FtpDownloadMode>(arg % 3));
                    triedToStart = true;
                    break;
                }
                case 18:
                    startedOp = engine.ListFolder("", in.Bool());
                    triedToStart = true;
                    break;
                case 19: engine.QueryFolder(); break;
                case 20: engine.ChangeFolder(in.Bool() ? "" : "x"); break;
                case 21:
                    if (engine.AbortTransfer()) seen.aborted = true;
                    break;
                case 22: {
                    const uint8_t arg = in.Byte();
                    if (arg & 1) link.pauseReply = kReplies[(arg >> 1) % kReplyCount];
                    engine.LogOut();
                    link.pauseReply.clear();
                    break;
                }
                case 24: {
                    const int32_t count = 1 + in.Byte() % 20;
                    if (engine.DataArriving(count)) {
                        engine.DataReceived(count);
                    } else {
                        QV_FUZZ_CHECK(link.outcomes == 1 && engine.State() == FtpState::Ready,
                                      "a refused block did not end the transfer once after " + steps);
                    }
                    break;
                }
                case 25:
                    engine.ReplyTooLong();
                    QV_FUZZ_CHECK(engine.State() == FtpState::Unconnected, "an overlong reply left a session");
                    QV_FUZZ_CHECK(before == FtpState::Unconnected || link.outcomes == 1,
                                  "an overlong reply was not reported exactly once after " + steps);
                    break;
                case 26: engine.TransferRefused(kFtpErrListingTooLong, "too long"); break;
                case 23: {
                    uint8_t arg = in.Byte();
                    link.prepareOk = arg & 1;
                    link.prepareReports = arg & 16;
                    engine.Settings().PassiveMode = arg & 2;
                    engine.Settings().FileType = arg & 4 ? ftAscii : ftBinary;
                    engine.SetRestartOffset(arg & 8 ? 5 : 0);
                    break;
                }
            }
        } catch (const std::exception&) {
            // Opening the local file failed: that is the caller's to report.
        }
        if (startedOp) seen = Seen{true, engine.Operation() == FtpOperation::Listing};
        QV_FUZZ_CHECK(!(triedToStart && wasReady && !startedOp && link.outcomes != 1),
                      "an operation that could not start did not say so exactly once after " + steps);
        QV_FUZZ_CHECK(std::strcmp(FtpEngineStateName(engine.EngineState()), "?") != 0, steps);
        QV_FUZZ_CHECK(link.failure.empty(), link.failure + " after " + steps);
        QV_FUZZ_CHECK(link.disconnects <= 1, "scDisconnected reported twice after " + steps);
        QV_FUZZ_CHECK(link.lastState == FtpEngineStateName(engine.EngineState()),
                      "the state changed without a transition after " + steps);
        const FtpState published = engine.State();
        QV_FUZZ_CHECK((published == FtpState::Ready) == (engine.EngineState() == FtpEngineState::Ready),
                      "published Ready and the engine's Ready differ after " + steps);
        QV_FUZZ_CHECK(!(published >= FtpState::Ready && !engine.LoggedIn()) &&
                          !(published == FtpState::LoggingIn && engine.LoggedIn()),
                      "logged in and the published state differ after " + steps);
        QV_FUZZ_CHECK((engine.Operation() != FtpOperation::None) == (published > FtpState::Ready),
                      "an operation and the published state differ after " + steps);
        QV_FUZZ_CHECK(engine.OwedReplies() >= 0, "owed replies below zero after " + steps);
        QV_FUZZ_CHECK(!link.completed || (seen.dataEnded && seen.finalOk),
                      "a transfer completed without both signals after " + steps);
        // A transfer that went back to Ready by what the server or the
        // sockets did says so exactly once (an abort may end silently).
        QV_FUZZ_CHECK(!(wasTransfer && link.leftTransfer && engine.State() == FtpState::Ready && !seen.aborted &&
                        link.open && link.outcomes != 1),
                      "a transfer ended without exactly one outcome after " + steps);
        if (link.leftTransfer) seen.running = false;
        bool operationRunning =
            engine.State() > FtpState::Ready || (engine.State() == FtpState::LoggingIn && link.connected);
        QV_FUZZ_CHECK(!(operationRunning && link.open && !link.timer && !link.timeoutPending),
                      "waiting without a clock after " + steps);
    }
    return 0;
}
