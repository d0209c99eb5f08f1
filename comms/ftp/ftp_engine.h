// The FTP client's command and reply engine, free of any platform type.
//
// The engine owns everything the control connection decides: which command
// is out and what its answer leads to, the reply being assembled, the
// replies still owed to operations that have ended, and the two signals
// that together complete a transfer (the data connection ended with every
// byte written, and the server's final 226/250). It does no I/O of its
// own: the component around it (CustomFtpClient) implements FtpEngineLink
// to write command lines, run the timers, handle the data sockets and the
// local file, and deliver the events, and calls the engine's inputs when
// replies and socket notifications arrive.
//
// Its state names the command that is out (FtpEngineState): a chain of
// commands goes from state to state, one command each, and a reply is
// matched to the command of the state it arrives in. A reply that does not
// answer that command is an error, never a step forward; the only replies
// let pass are preliminary ones where a command has them, and the end of a
// transfer (225, 226, 250) that a server sends twice, which answers no
// command of a chain.
//
// Rules the engine holds to:
//  - A listing or download completes only when both signals are in, in
//    either order; a 4xx/5xx final reply, a data socket failure, a local
//    write failure, a size that differs from the one the 150 reply
//    announced, a timeout or the loss of the control connection fails it.
//  - One failure gives one error report.
//  - When an operation ends before its command's final reply has arrived
//    (a data failure, a timeout, LogOut), that reply is owed: it is taken
//    silently when it comes, and the next operation's first command waits
//    for it, so a late 426 can never fail the file after.
//  - From the TCP connection until Ready, and while an operation runs, the
//    transfer timer runs.
//  - A session the server ends is never silent: a 421 is reported with
//    its text, and a connection the server closed without its 221 with the
//    socket's error number or kFtpErrConnectionClosed; then the client is
//    Unconnected.
//  - What a server sends is bounded: a reply longer than
//    kFtpMaxReplyLength ends the session; a binary download that receives
//    more than its 150 reply announced stops at once.
//  - The reset to Unconnected runs once: it leaves the state first, so
//    the end of the connection it closes is no news, and it reports
//    scLoggedOut from a logged-in state (then scDisconnected as well when
//    it closed the connection itself), scDisconnected otherwise.
//
// The state's only writer is Transition(), and every call of it is
// reported to the trace hook as "[From] -> [To] (why)".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "comms/ftp/ftp_reply.h"
#include "comms/ftp/ftp_types.h"

namespace qv {

// What the client publishes as its processing state; only the order of the
// values matters ("logged in" is Ready or any state after it).
enum class FtpState : uint8_t { Unconnected, LoggingIn, Ready, Listing, Downloading, FolderCommand };

// The engine's own state: what is out, or awaited.
enum class FtpEngineState : uint8_t {
    Unconnected,   // no control connection
    Connecting,    // LogIn opened the port; the TCP connection does not stand yet
    Greeting,      // connected; the server's greeting (220) is awaited
    User,          // USER is out
    Pass,          // PASS is out
    Acct,          // ACCT is out
    LoginRefused,  // the server refused the login: nothing is out, LogIn starts it again
    Ready,         // logged in, nothing under way
    Preparing,     // a listing or download makes its data connection; nothing is out yet
    Port,          // PORT is out (active mode)
    Type,          // TYPE is out
    Pasv,          // PASV is out (passive mode)
    Rest,          // REST is out (a restarted download)
    Transfer,      // RETR, LIST or NLST is out
    DataEnd,       // the transfer's 226/250 came; its data connection has still to end
    Abort,         // ABOR is out, and nothing else
    CommandAbort,  // ABOR is out behind the operation's command, whose reply comes first
    Cwd,           // CWD is out
    Pwd,           // PWD is out
    Quit,          // QUIT is out, after a login
    QuitLogin,     // QUIT is out, before a login was complete
};

// What the operation under way is; None outside one.
enum class FtpOperation : uint8_t { None, Listing, Download, Folder };

const char* FtpEngineStateName(FtpEngineState state);
// "[Transfer] -> [Ready] (226)"
std::string FtpTransitionText(FtpEngineState from, FtpEngineState to, std::string_view why);
// The one mapping of the engine's state to the processing state the client
// publishes: a login state is LoggingIn, a state of an operation is that
// operation's (Listing, Downloading, FolderCommand), and QUIT's states,
// where the connection is being torn down, are Unconnected.
FtpState FtpProcessState(FtpEngineState state, FtpOperation operation);

// The outcome of preparing a data connection.
struct FtpDataPrepared {
    bool ok = false;
    // Active mode: the argument of the PORT command to send.
    std::string portArgument;
    // On failure: the socket library's error number, when one is known.
    int32_t error = 0;
};

// What the engine needs from the component around it. Every call happens
// on the client's thread; calls marked "may call back" can re-enter the
// engine.
class FtpEngineLink {
public:
    // ---- control connection ----
    virtual bool ControlOpen() = 0;
    // Opens the connection (LogIn from Unconnected); raises what opening
    // raises; the result is whether the port is open afterwards.
    virtual bool OpenControl() = 0;
    // Closes the connection; may call back Disconnected().
    virtual void CloseControl() = 0;
    // Writes one command line; the link adds CR LF.
    virtual void WriteLine(const std::string& command) = 0;
    // LogOut's pause, handling messages meanwhile (may call back anything).
    virtual void Pause(int32_t ticks) = 0;

    // ---- timers ----
    // Starts the transfer timer afresh (nothing when TransferTimeout <= 0).
    virtual void StartTransferTimer() = 0;
    // Starts it again on the same trigger when it runs.
    virtual void RefreshTransferTimer() = 0;
    virtual void StopTransferTimer() = 0;
    // Starts the connect timer when ConnectTimeout > 0 (restarts a running one).
    virtual void StartConnectTimer() = 0;
    virtual void StopConnectTimer() = 0;
    // The transfer timer ran out while an operation ran: deliver
    // TimeoutMessage() later, from the message loop.
    virtual void PostTimeout() = 0;

    // ---- data connection and local file ----
    // Opens (creating when missing) the local file for a download and sets
    // its position; may correct restartOffset (dmRestart). Raises when the
    // file cannot be opened.
    virtual void OpenLocalFile(const std::string& name, FtpDownloadMode mode, int32_t& restartOffset) = 0;
    // Makes the data socket (passive) or the listening socket (active).
    // Never raises; on failure everything it made is released. A socket
    // step that fails may report through DataFailed() on the way.
    virtual FtpDataPrepared PrepareData(bool passive) = 0;
    // Passive mode: connects the data socket to the control connection's
    // peer at this port. A failure arrives later as DataFailed().
    virtual void ConnectData(uint16_t port) = 0;
    // Closes the data and listening sockets without reporting anything and
    // releases the local file; `complete` cuts a replaced file to the
    // received length first.
    virtual void CloseData(bool complete) = 0;
    // The listing received so far.
    virtual std::string ListingText() = 0;
    // A download the server failed (426, 451 ...) while its data still
    // arrived: the bytes already received are taken before the data
    // connection closes (a caller may resume from them), no more.
    virtual void KeepArrivedData() {}
    // Whether bytes of a reply line wait for their line end (a server in
    // the middle of a reply).
    virtual bool ReplyLinePending() { return false; }

    // ---- reports ----
    // Delivered later, from the message loop, in the order posted.
    virtual void PostStatus(FtpStatusCode code, const char* text) = 0;
    virtual void PostError(int32_t code, const char* text) = 0;
    virtual void PostLog(FtpLogCode code) = 0;
    // Delivered now (the timeout and the connect timer fire their events
    // directly, ahead of what the reset posted).
    virtual void FireStatus(FtpStatusCode code) = 0;
    virtual void FireError(int32_t code) = 0;

    // Every transition and every reply taken silently, as a line of text.
    virtual void Trace(std::string_view line) { (void)line; }

protected:
    ~FtpEngineLink() = default;
};

// Settings the engine sends or acts on.
struct FtpSettings {
    std::string UserName;
    std::string Password;
    std::string Account;
    bool PassiveMode = false;
    FtpFileType FileType = ftBinary;
};

class FtpEngine {
public:
    explicit FtpEngine(FtpEngineLink& link) : link_(link) {}
    FtpEngine(const FtpEngine&) = delete;
    FtpEngine& operator=(const FtpEngine&) = delete;

    FtpSettings& Settings() { return settings_; }
    const FtpSettings& Settings() const { return settings_; }

    // ---- operations (the component's public operations) ----
    bool LogIn();
    bool LogOut();
    bool ChangeFolder(const std::string& folder);
    bool QueryFolder();
    bool ListFolder(const std::string& folder, bool full);
    bool DownloadFile(const std::string& remoteName, const std::string& localName, FtpDownloadMode mode);
    bool AbortTransfer();
    bool IsConnected() const { return state_ != FtpEngineState::Unconnected; }

    // ---- inputs from the component ----
    // The TCP connection stands / is gone (every close of the port).
    void Connected();
    void Disconnected();
    // The control connection reported this socket error number: before it
    // stood, the connection attempt failed; after, it is the reason the
    // connection is about to close.
    void ConnectFailed(int32_t errorCode);
    // One reply line (CR LF included) with the number of its first three
    // characters.
    void ReplyLine(int32_t code, std::string_view line);
    // A reply line went past kFtpMaxReplyLength without its line end.
    void ReplyTooLong();
    // A block of `count` bytes arrived on the data connection and is about
    // to be written: false when it must not be (a binary download that
    // would exceed the size its 150 reply announced; the transfer has
    // failed then, and its data connection is closed).
    bool DataArriving(int32_t count);
    // A block of `count` bytes arrived on the data connection and was
    // written to the local file (download) or kept (listing).
    void DataReceived(int32_t count);
    // The server closed the data connection and every byte was read.
    void DataEnded();
    // A data socket failed with this socket error number.
    void DataFailed(int32_t errorCode);
    // Writing the local file failed; `text` says why.
    void LocalWriteFailed(const std::string& text);
    // This side refuses the transfer under way (a listing over its cap):
    // it fails with this client code and text.
    void TransferRefused(int32_t code, const std::string& text);
    // The transfer timer ran out / its posted message is handled now.
    void TransferTimerExpired();
    void TimeoutMessage();
    void ConnectTimerExpired();

    // ---- state ----
    FtpEngineState EngineState() const { return state_; }
    // What the client publishes (FtpProcessState of the engine's state).
    FtpState State() const { return FtpProcessState(state_, operation_); }
    FtpOperation Operation() const { return operation_; }
    // A listing or download is under way (its data connection may carry data).
    bool Transferring() const { return operation_ == FtpOperation::Listing || operation_ == FtpOperation::Download; }
    // From the 230 until the reset.
    bool LoggedIn() const;
    bool AbortFlag() const { return abortFlag_; }
    int32_t BytesTransferred() const { return bytesTransferred_; }
    int32_t RestartOffset() const { return restartOffset_; }
    void SetRestartOffset(int32_t value) { restartOffset_ = value; }
    // The commands of the current chain still to go out after the one of
    // its state.
    int CommandCount() const;
    const FtpReplyAssembler& Reply() const { return reply_; }
    const std::string& RemoteFileName() const { return remoteFileName_; }
    const std::string& LocalFileName() const { return localFileName_; }
    // Final replies still owed to operations that have ended.
    int OwedReplies() const { return owed_.count; }

private:
    // What the current listing or download is and has seen, fixed when it
    // starts (a setting changed meanwhile does not change its chain).
    struct Transfer {
        bool passive = false;
        bool restart = false;
        char typeLetter = 'A';
        int32_t restartAt = 0;
        std::string command;  // RETR, LIST or NLST with its argument
        bool dataEnded = false;
        bool checkSize = false;
        int64_t announced = -1;  // the size the 150 reply named
        uint64_t received = 0;
    };

    // Replies owed to commands of operations that have ended: each is
    // taken when it comes and goes no further.
    struct Owed {
        // Final replies certain to come; a command of the next operation
        // waits for them.
        int count = 0;
        // An abort that ended with the transfer's own 226 or 250: ABOR's
        // own 225/226/250 may follow it or not (servers differ). It is
        // taken when it comes and forgotten at any other final reply; no
        // command waits for it.
        bool abortEnd = false;
    };

    void Transition(FtpEngineState to, std::string_view why, FtpOperation operation = FtpOperation::None);
    void Reset(std::string_view why);
    void EnterReady(std::string_view why, bool complete = false);
    void EnterQuit();

    // Sends the command of the state just entered; it waits while replies
    // are owed. SendAtOnce never waits (QUIT, ABOR).
    void SendCommand(const std::string& text);
    void SendAtOnce(const std::string& text);
    void SendHeld();
    // Final replies the state waits for from the server (0 while its
    // command is held back).
    int Awaited() const;

    bool StartTransfer(std::string_view why, FtpOperation operation);
    FtpEngineState ChainAfter(FtpEngineState state) const;
    std::string ChainCommand(FtpEngineState state) const;
    void SendNextInChain(std::string_view why);

    void ReplyIdle(int32_t code, std::string_view why);
    void ReplyLogin(int32_t code, std::string_view why);
    void ReplyChain(int32_t code, std::string_view why);
    void ReplyTransfer(int32_t code, std::string_view why);
    void ReplyAbort(int32_t code, std::string_view why);
    void ReplyFolder(int32_t code, std::string_view why);

    void Refuse(int32_t code, std::string_view why);
    void EndedByServer(int32_t code, std::string_view why);
    void SessionEnded(int32_t code, const std::string& text, std::string_view why);
    void CheckAnnouncedSize();
    void Fail(int32_t code, const std::string& text, std::string_view why);
    void Finish(std::string_view why);
    void EndAbort(std::string_view why);
    void ReportStatus(FtpStatusCode code, const char* text, std::string_view why);
    void ReportError(int32_t code, const char* text, std::string_view why);
    void Note(const std::string& line) { link_.Trace(line); }

    FtpEngineLink& link_;
    FtpSettings settings_;
    FtpEngineState state_ = FtpEngineState::Unconnected;
    FtpOperation operation_ = FtpOperation::None;
    FtpReplyAssembler reply_;
    bool abortFlag_ = false;
    // The control connection's socket error, kept for the report of its end.
    int32_t controlError_ = 0;

    Owed owed_;
    // The command of the current state, held back until the owed replies
    // have come.
    std::string held_;
    // The failure the abort reports when it ends: the answer to the
    // command that was out before ABOR.
    int32_t abortErrorCode_ = 0;
    std::string abortErrorText_;
    // Errors reported so far: preparing a data connection reports its
    // failure only when no socket step did already.
    uint32_t errorsReported_ = 0;

    Transfer transfer_;
    int32_t bytesTransferred_ = 0;
    int32_t restartOffset_ = 0;
    std::string remoteFileName_;
    std::string localFileName_;
};

}  // namespace qv
