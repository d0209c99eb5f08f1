#include "comms/ftp/ftp_engine.h"

#include <exception>

namespace qv {

namespace {

using S = FtpEngineState;

// How a state stands to the session: the processing state it publishes
// (an operation's state publishes that operation instead) and whether the
// client is logged in.
enum class Stage : uint8_t { Off, Login, Ready, Operation, Quit };

struct StateRow {
    FtpEngineState state;
    const char* name;
    Stage stage;
    bool loggedIn;
    // Final replies the server owes the state once its command is out.
    int awaited;
};

constexpr StateRow kStates[] = {
    {S::Unconnected, "Unconnected", Stage::Off, false, 0},
    {S::Connecting, "Connecting", Stage::Login, false, 0},
    {S::Greeting, "Greeting", Stage::Login, false, 1},
    {S::User, "User", Stage::Login, false, 1},
    {S::Pass, "Pass", Stage::Login, false, 1},
    {S::Acct, "Acct", Stage::Login, false, 1},
    {S::LoginRefused, "LoginRefused", Stage::Login, false, 0},
    {S::Ready, "Ready", Stage::Ready, true, 0},
    {S::Preparing, "Preparing", Stage::Operation, true, 0},
    {S::Port, "Port", Stage::Operation, true, 1},
    {S::Type, "Type", Stage::Operation, true, 1},
    {S::Pasv, "Pasv", Stage::Operation, true, 1},
    {S::Rest, "Rest", Stage::Operation, true, 1},
    {S::Transfer, "Transfer", Stage::Operation, true, 1},
    {S::DataEnd, "DataEnd", Stage::Operation, true, 0},
    {S::Abort, "Abort", Stage::Operation, true, 1},
    {S::CommandAbort, "CommandAbort", Stage::Operation, true, 2},
    {S::Cwd, "Cwd", Stage::Operation, true, 1},
    {S::Pwd, "Pwd", Stage::Operation, true, 1},
    {S::Quit, "Quit", Stage::Quit, true, 1},
    {S::QuitLogin, "QuitLogin", Stage::Quit, false, 1},
};

constexpr bool RowsInOrder() {
    for (size_t i = 0; i < sizeof kStates / sizeof kStates[0]; ++i)
        if (static_cast<size_t>(kStates[i].state) != i) return false;
    return true;
}
static_assert(RowsInOrder() && static_cast<size_t>(S::QuitLogin) + 1 == sizeof kStates / sizeof kStates[0],
              "one row per state, in the order of the enumeration");

const StateRow& Row(FtpEngineState state) { return kStates[static_cast<size_t>(state)]; }
bool InOperation(FtpEngineState state) { return Row(state).stage == Stage::Operation; }

std::string CodeWhy(int32_t code) { return std::to_string(code); }

bool IsFinalOk(int32_t code) { return code == 226 || code == 250; }
// The end of a transfer, or of an abort: what a server that answers a
// transfer twice sends once more.
bool IsTransferEnd(int32_t code) { return code == 225 || code == 226 || code == 250; }

}  // namespace

const char* FtpEngineStateName(FtpEngineState state) {
    return static_cast<size_t>(state) < sizeof kStates / sizeof kStates[0] ? Row(state).name : "?";
}

std::string FtpTransitionText(FtpEngineState from, FtpEngineState to, std::string_view why) {
    std::string text = "[";
    text += FtpEngineStateName(from);
    text += "] -> [";
    text += FtpEngineStateName(to);
    text += "] (";
    text += why;
    text += ")";
    return text;
}

FtpState FtpProcessState(FtpEngineState state, FtpOperation operation) {
    switch (Row(state).stage) {
        case Stage::Login: return FtpState::LoggingIn;
        case Stage::Ready: return FtpState::Ready;
        case Stage::Operation:
            switch (operation) {
                case FtpOperation::Listing: return FtpState::Listing;
                case FtpOperation::Download: return FtpState::Downloading;
                case FtpOperation::Folder:
                case FtpOperation::None: return FtpState::FolderCommand;
            }
            break;
        case Stage::Off:
        case Stage::Quit: break;
    }
    return FtpState::Unconnected;
}

bool FtpEngine::LoggedIn() const { return Row(state_).loggedIn; }

int FtpEngine::Awaited() const { return held_.empty() ? Row(state_).awaited : 0; }

// ---- the one writer of the state ------------------------------------------

void FtpEngine::Transition(FtpEngineState to, std::string_view why, FtpOperation operation) {
    const FtpEngineState from = state_;
    state_ = to;
    // Only an operation's states belong to an operation.
    operation_ = InOperation(to) ? operation : FtpOperation::None;
    link_.Trace(FtpTransitionText(from, to, why));
}

// Ready: the data connection and the local file are released (cut to the
// received length only when the transfer completed) and nothing of the
// operation is left waiting.
void FtpEngine::EnterReady(std::string_view why, bool complete) {
    link_.CloseData(complete);
    held_.clear();
    transfer_ = Transfer{};
    Transition(FtpEngineState::Ready, why);
}

// The reset. It leaves the state first: the end of the connection it
// closes then finds the client Unconnected and is no news.
void FtpEngine::Reset(std::string_view why) {
    const bool loggedIn = LoggedIn();
    link_.StopTransferTimer();
    link_.CloseData(false);
    controlError_ = 0;
    // A reply being assembled when the connection went is over with it, and
    // nothing sent on it will be answered.
    reply_.Reset();
    owed_ = Owed{};
    held_.clear();
    transfer_ = Transfer{};
    const bool closesConnection = link_.ControlOpen();
    Transition(FtpEngineState::Unconnected, why);
    std::exception_ptr failure;
    try {
        link_.CloseControl();
    } catch (...) {
        failure = std::current_exception();
    }
    if (loggedIn) {
        link_.PostStatus(scLoggedOut, nullptr);
        link_.PostLog(lcLoggedOut);
    }
    // A session that ends with the connection this reset closes reports
    // that end too.
    if (!loggedIn || closesConnection) link_.PostStatus(scDisconnected, nullptr);
    if (failure) std::rethrow_exception(failure);
}

// LogOut's QUIT ends what was under way: what it was waiting for is owed,
// and its data connection goes.
void FtpEngine::EnterQuit() {
    owed_.count += Awaited();
    held_.clear();
    link_.CloseData(false);
    transfer_ = Transfer{};
    Transition(LoggedIn() ? FtpEngineState::Quit : FtpEngineState::QuitLogin, "LogOut");
    SendAtOnce("QUIT");
}

// ---- operations -------------------------------------------------------------

bool FtpEngine::LogIn() {
    switch (Row(state_).stage) {
        case Stage::Ready:
        case Stage::Operation:
        case Stage::Quit: return false;
        case Stage::Off: {
            link_.StartConnectTimer();
            Transition(FtpEngineState::Connecting, "LogIn");
            try {
                return link_.OpenControl();
            } catch (...) {
                // Nothing was opened: the client stays as it was.
                if (state_ == FtpEngineState::Connecting) Transition(FtpEngineState::Unconnected, "open failed");
                throw;
            }
        }
        case Stage::Login: break;
    }
    link_.StartConnectTimer();
    // Until the connection stands there is nobody to send USER to; the
    // greeting will start the login.
    if (state_ == FtpEngineState::Connecting) return true;
    if (state_ == FtpEngineState::Greeting) {
        // The login starts over at once; the greeting still to come is
        // taken when it arrives.
        ++owed_.count;
        Transition(FtpEngineState::User, "LogIn");
        SendAtOnce("USER " + settings_.UserName);
        return true;
    }
    // What is out is owed; USER follows its answer.
    owed_.count += Awaited();
    Transition(FtpEngineState::User, "LogIn");
    SendCommand("USER " + settings_.UserName);
    return true;
}

bool FtpEngine::LogOut() {
    const bool wasOpen = link_.ControlOpen();
    if (wasOpen && state_ != FtpEngineState::Unconnected && Row(state_).stage != Stage::Quit) EnterQuit();
    link_.Pause(5);
    // After QUIT the end of the connection resets quietly (with or without
    // the server's 221); without it the reset is this side's own.
    if (Row(state_).stage == Stage::Quit) link_.CloseControl();
    if (state_ != FtpEngineState::Unconnected) Reset("LogOut");
    return wasOpen;
}

bool FtpEngine::ChangeFolder(const std::string& folder) {
    if (state_ != FtpEngineState::Ready) return false;
    if (folder.empty()) {
        Transition(FtpEngineState::Pwd, "ChangeFolder", FtpOperation::Folder);
        SendCommand("PWD");
    } else {
        Transition(FtpEngineState::Cwd, "ChangeFolder", FtpOperation::Folder);
        SendCommand("CWD " + folder);
    }
    return true;
}

bool FtpEngine::QueryFolder() {
    if (state_ != FtpEngineState::Ready) return false;
    Transition(FtpEngineState::Pwd, "QueryFolder", FtpOperation::Folder);
    SendCommand("PWD");
    return true;
}

bool FtpEngine::ListFolder(const std::string& folder, bool full) {
    if (state_ != FtpEngineState::Ready) return false;
    transfer_ = Transfer{};
    transfer_.passive = settings_.PassiveMode;
    transfer_.typeLetter = FtpTypeLetter(ftAscii);
    transfer_.command = full ? "LIST" : "NLST";
    if (!folder.empty()) transfer_.command += " " + folder;
    bytesTransferred_ = 0;
    return StartTransfer("ListFolder", FtpOperation::Listing);
}

bool FtpEngine::DownloadFile(const std::string& remoteName, const std::string& localName, FtpDownloadMode mode) {
    if (state_ != FtpEngineState::Ready || remoteName.empty() || localName.empty()) return false;
    // The file first: when it cannot be opened the error goes to the caller
    // and the client stays Ready.
    int32_t offset = restartOffset_;
    link_.OpenLocalFile(localName, mode, offset);
    restartOffset_ = offset;
    const bool restart = mode != dmAppend && mode != dmReplace;
    transfer_ = Transfer{};
    transfer_.passive = settings_.PassiveMode;
    transfer_.restart = restart;
    transfer_.restartAt = restartOffset_;
    transfer_.typeLetter = FtpTypeLetter(settings_.FileType);
    transfer_.command = "RETR " + remoteName;
    // A restarted download is not checked against the announced size:
    // servers differ on whether it counts the whole file or the rest.
    transfer_.checkSize = settings_.FileType == ftBinary && !(restart && restartOffset_ > 0);
    remoteFileName_ = remoteName;
    localFileName_ = localName;
    link_.PostLog(restart ? lcRetransfer : lcDownloading);
    bytesTransferred_ = 0;
    abortFlag_ = false;
    return StartTransfer("DownloadFile", FtpOperation::Download);
}

bool FtpEngine::AbortTransfer() {
    if (!InOperation(state_)) return false;
    abortFlag_ = true;
    if (state_ == FtpEngineState::Abort || state_ == FtpEngineState::CommandAbort) return true;  // ABOR is out
    link_.PostLog(lcAbortedByUser);
    if (!held_.empty()) {
        // Its command never went out: there is nothing to abort.
        EnterReady("ABOR");
        return true;
    }
    abortErrorCode_ = 0;
    abortErrorText_.clear();
    // Nothing of the operation goes out after the ABOR.
    Transition(Awaited() > 0 ? FtpEngineState::CommandAbort : FtpEngineState::Abort, "AbortTransfer", operation_);
    SendAtOnce("ABOR");
    return true;
}

// ---- commands ------------------------------------------------------------------

void FtpEngine::SendCommand(const std::string& text) {
    link_.StartTransferTimer();
    if (owed_.count > 0) {
        // A reply to an ended operation is still on its way: this command
        // goes out once it has arrived, so that no reply is taken for the
        // answer to another command.
        held_ = text;
        Note("deferred: " + text);
        return;
    }
    if (link_.ControlOpen()) link_.WriteLine(text);
}

void FtpEngine::SendAtOnce(const std::string& text) {
    link_.StartTransferTimer();
    if (link_.ControlOpen()) link_.WriteLine(text);
}

void FtpEngine::SendHeld() {
    if (held_.empty()) return;
    std::string command;
    command.swap(held_);
    SendCommand(command);
}

// A listing's or download's chain: the data connection first, then (active
// mode) PORT, TYPE, (passive mode) PASV, (a restart) REST, and the transfer
// command last.
bool FtpEngine::StartTransfer(std::string_view why, FtpOperation operation) {
    Transition(FtpEngineState::Preparing, why, operation);
    const uint32_t reported = errorsReported_;
    FtpDataPrepared prepared = link_.PrepareData(transfer_.passive);
    if (!prepared.ok || state_ != FtpEngineState::Preparing) {
        // Nothing was sent: the operation ends here, and its caller has the
        // result. The failure is reported too, once (a socket step may have
        // reported it on the way), so that a caller that waits for the
        // operation's outcome hears it; the report ends the operation.
        link_.StopTransferTimer();
        if (errorsReported_ == reported) {
            if (prepared.error != 0) ReportError(prepared.error, nullptr, "no data connection");
            else ReportError(kFtpErrNoDataConnection, "Cannot prepare the data connection", "no data connection");
        }
        return false;
    }
    if (transfer_.passive) {
        SendNextInChain("data socket made");
    } else {
        // The listening socket stands: PORT names it.
        Transition(FtpEngineState::Port, "listening", operation_);
        SendCommand("PORT " + prepared.portArgument);
    }
    return true;
}

FtpEngineState FtpEngine::ChainAfter(FtpEngineState state) const {
    switch (state) {
        case FtpEngineState::Preparing:
        case FtpEngineState::Port: return FtpEngineState::Type;
        case FtpEngineState::Type:
            if (transfer_.passive) return FtpEngineState::Pasv;
            [[fallthrough]];
        case FtpEngineState::Pasv:
            if (transfer_.restart) return FtpEngineState::Rest;
            [[fallthrough]];
        default: return FtpEngineState::Transfer;
    }
}

std::string FtpEngine::ChainCommand(FtpEngineState state) const {
    switch (state) {
        case FtpEngineState::Type: return std::string("TYPE ") + transfer_.typeLetter;
        case FtpEngineState::Pasv: return "PASV";
        case FtpEngineState::Rest: return "REST " + std::to_string(transfer_.restartAt);
        default: return transfer_.command;
    }
}

int FtpEngine::CommandCount() const {
    switch (state_) {
        case FtpEngineState::Preparing:
        case FtpEngineState::Port:
        case FtpEngineState::Type:
        case FtpEngineState::Pasv:
        case FtpEngineState::Rest: break;
        default: return 0;
    }
    int count = 0;
    for (FtpEngineState next = ChainAfter(state_);; next = ChainAfter(next)) {
        ++count;
        if (next == FtpEngineState::Transfer) return count;
    }
}

void FtpEngine::SendNextInChain(std::string_view why) {
    const FtpEngineState next = ChainAfter(state_);
    Transition(next, why, operation_);
    SendCommand(ChainCommand(next));
}

// ---- replies -----------------------------------------------------------------------

void FtpEngine::ReplyLine(int32_t code, std::string_view line) {
    const bool complete = reply_.Feed(line, code);
    if (reply_.Overlong()) {
        ReplyTooLong();
        return;
    }
    if (!complete) return;
    std::string why = CodeWhy(code);
    // The server closes the session: whatever was under way ends with it.
    if (code == 221 || code == 421) {
        EndedByServer(code, why);
        return;
    }
    if (owed_.abortEnd && code >= 200) {
        // The abort's own reply after the transfer's (a server that closed
        // the transfer normally before it read ABOR answers both).
        owed_.abortEnd = false;
        if (IsTransferEnd(code)) {
            Note("taken for the abort: " + why);
            return;
        }
    }
    if (owed_.count > 0) {
        // A reply owed to an operation that ended before it arrived
        // (preliminary ones included) is taken here and goes no further.
        if (code >= 200) {
            --owed_.count;
            Note("taken for an ended operation: " + why);
            if (owed_.count == 0) SendHeld();
        }
        return;
    }
    switch (state_) {
        case FtpEngineState::Unconnected:
        case FtpEngineState::Connecting:
        case FtpEngineState::Ready:
        case FtpEngineState::DataEnd:
        case FtpEngineState::Quit:
        case FtpEngineState::QuitLogin: ReplyIdle(code, why); break;
        case FtpEngineState::Greeting:
        case FtpEngineState::User:
        case FtpEngineState::Pass:
        case FtpEngineState::Acct:
        case FtpEngineState::LoginRefused: ReplyLogin(code, why); break;
        case FtpEngineState::Preparing:
        case FtpEngineState::Port:
        case FtpEngineState::Type:
        case FtpEngineState::Pasv:
        case FtpEngineState::Rest: ReplyChain(code, why); break;
        case FtpEngineState::Transfer: ReplyTransfer(code, why); break;
        case FtpEngineState::Abort:
        case FtpEngineState::CommandAbort: ReplyAbort(code, why); break;
        case FtpEngineState::Cwd:
        case FtpEngineState::Pwd: ReplyFolder(code, why); break;
    }
}

// Nothing of an operation is out (QUIT waits for 221 alone, taken above).
// Preliminary replies and the end of a transfer that is over already (a
// second 226, the 225 of an abort answered twice) change nothing; anything
// else answers nothing and is an error.
void FtpEngine::ReplyIdle(int32_t code, std::string_view why) {
    if (code == 125 || code == 150 || code == 225 || code == 226) return;
    if (state_ == FtpEngineState::DataEnd && (code < 200 || IsTransferEnd(code))) return;
    Refuse(code, why);
}

void FtpEngine::ReplyLogin(int32_t code, std::string_view why) {
    // 202 (a command superfluous at this site) changes nothing: what is
    // out still has its answer to come.
    if (code == 202) return;
    switch (state_) {
        case FtpEngineState::Greeting:
            if (code == 120) {
                // "Service ready in nnn minutes": the greeting is still to
                // come, and the clock that started with the connection keeps
                // running.
                Note("preliminary: " + std::string(why));
                return;
            }
            if (code == 220) {
                std::string text(reply_.TextFromFifth());
                link_.PostStatus(scConnected, text.c_str());
                Transition(FtpEngineState::User, why);
                SendCommand("USER " + settings_.UserName);
                return;
            }
            break;
        case FtpEngineState::User:
        case FtpEngineState::Pass:
        case FtpEngineState::Acct:
            if (code == 230) {
                EnterReady(why);
                link_.PostStatus(scLoggedIn, nullptr);
                return;
            }
            if (code == 331 && state_ == FtpEngineState::User) {
                Transition(FtpEngineState::Pass, why);
                SendCommand("PASS " + settings_.Password);
                return;
            }
            if (code == 332 && state_ != FtpEngineState::Acct) {
                Transition(FtpEngineState::Acct, why);
                SendCommand("ACCT " + settings_.Account);
                return;
            }
            break;
        default: break;
    }
    Refuse(code, why);
}

// PORT, TYPE, PASV or REST is out: its one success releases the next
// command of the chain.
void FtpEngine::ReplyChain(int32_t code, std::string_view why) {
    if (code < 200) return;
    if (IsTransferEnd(code)) {
        // The end of a transfer that is not this one (a server that answers
        // twice): it answers nothing that is out.
        Note("ignored: " + std::string(why));
        return;
    }
    switch (state_) {
        case FtpEngineState::Port:
        case FtpEngineState::Type:
            if (code == 200) {
                SendNextInChain(why);
                return;
            }
            break;
        case FtpEngineState::Pasv:
            if (code == 227) {
                FtpPassiveAddress address = FtpParsePassiveAddress(reply_.TextView());
                // Nowhere to connect to: the reply itself is the error.
                if (!address.PortUsable()) break;
                link_.ConnectData(static_cast<uint16_t>(address.port));
                SendNextInChain(why);
                return;
            }
            break;
        case FtpEngineState::Rest:
            if (code == 350) {
                SendNextInChain(why);
                return;
            }
            break;
        default: break;
    }
    Refuse(code, why);
}

// RETR, LIST or NLST is out.
void FtpEngine::ReplyTransfer(int32_t code, std::string_view why) {
    if (code < 200) {
        // 125/150: the size it may announce.
        if (code == 125 || code == 150) {
            transfer_.announced = FtpAnnouncedSize(reply_.TextView());
            CheckAnnouncedSize();
        }
        return;
    }
    if (!IsFinalOk(code)) {
        // 4xx/5xx (or anything else): the transfer failed, whatever the
        // data connection delivered.
        Refuse(code, why);
        return;
    }
    if (transfer_.dataEnded) {
        Finish(why);
        return;
    }
    Transition(FtpEngineState::DataEnd, why, operation_);
}

// After ABOR: the abort is over with its own final reply (225 or 226, or a
// 4xx/5xx when nothing else was out); a 426 or other failure reply to the
// command out before it comes first and is the error the abort reports.
void FtpEngine::ReplyAbort(int32_t code, std::string_view why) {
    if (code < 200) return;
    if (code >= 400 && abortErrorCode_ == 0) {
        abortErrorCode_ = code;
        abortErrorText_ = reply_.Text();
    }
    if (state_ == FtpEngineState::CommandAbort) {
        if (!IsTransferEnd(code)) {
            // The answer to the command that was out before ABOR.
            Transition(FtpEngineState::Abort, why, operation_);
            return;
        }
        // A transfer end while the transfer command was still out may be
        // the transfer's own: the abort's may follow it.
        if (code != 225) owed_.abortEnd = true;
    }
    EndAbort(why);
}

void FtpEngine::ReplyFolder(int32_t code, std::string_view why) {
    if (state_ == FtpEngineState::Cwd && code == 250) {
        ReportStatus(scOperationComplete, nullptr, why);
        return;
    }
    if (state_ == FtpEngineState::Pwd && code == 257) {
        reply_.ReplaceText(FtpFolderFromReply(reply_.TextView()));
        ReportStatus(scCurrentFolder, reply_.Text(), why);
        return;
    }
    if (IsTransferEnd(code)) {
        // A transfer answered twice: nothing that is out.
        Note("ignored: " + std::string(why));
        return;
    }
    Refuse(code, why);
}

// ---- failures and completion ------------------------------------------------------

// A reply the state does not take: the error is reported with the reply.
// A final reply answered the command out; a preliminary one did not, and
// leaves the final reply owed when it ends an operation. A refused login
// leaves nothing out.
void FtpEngine::Refuse(int32_t code, std::string_view why) {
    const bool answers = code >= 200;
    const int awaited = Awaited();
    if (InOperation(state_)) {
        owed_.count += answers && awaited > 0 ? awaited - 1 : awaited;
    } else if (answers && (state_ == FtpEngineState::User || state_ == FtpEngineState::Pass ||
                           state_ == FtpEngineState::Acct)) {
        Transition(FtpEngineState::LoginRefused, why);
    }
    std::string text = reply_.Text();
    // A download the server failed while its data still arrived keeps what
    // came before the data connection closes.
    if (operation_ == FtpOperation::Download && !abortFlag_ &&
        (state_ == FtpEngineState::Transfer || state_ == FtpEngineState::DataEnd))
        link_.KeepArrivedData();
    ReportError(code, text.c_str(), why);
}

void FtpEngine::EndedByServer(int32_t code, std::string_view why) {
    if (code == 421) {
        // The server ends the session: the user hears why, then the client
        // is Unconnected.
        SessionEnded(code, reply_.Text(), why);
        return;
    }
    // The server's goodbye: the session ends as the server says.
    Reset(why);
}

// A failure found on this side while the operation's command may still be
// waiting for its final reply: that reply is owed and will be taken when it
// comes.
void FtpEngine::Fail(int32_t code, const std::string& text, std::string_view why) {
    if (InOperation(state_)) owed_.count += Awaited();
    ReportError(code, text.empty() ? nullptr : text.c_str(), why);
}

// Both signals are in: the data connection ended and the final reply came.
void FtpEngine::Finish(std::string_view why) {
    if (operation_ == FtpOperation::Listing) {
        std::string text = link_.ListingText();
        ReportStatus(scInfoText, text.c_str(), why);
        return;
    }
    if (transfer_.checkSize && transfer_.announced >= 0 &&
        transfer_.received != static_cast<uint64_t>(transfer_.announced)) {
        std::string text = transfer_.received < static_cast<uint64_t>(transfer_.announced)
                               ? "Transfer incomplete: " + std::to_string(transfer_.received) + " of " +
                                     std::to_string(transfer_.announced) + " bytes"
                               : "Transfer size mismatch: " + std::to_string(transfer_.received) +
                                     " bytes received, " + std::to_string(transfer_.announced) + " announced";
        ReportError(kFtpErrIncomplete, text.c_str(), "size");
        return;
    }
    link_.StopTransferTimer();
    EnterReady(why, true);
    link_.PostStatus(scTransferComplete, nullptr);
}

void FtpEngine::EndAbort(std::string_view why) {
    if (abortErrorCode_ != 0) {
        const int32_t code = abortErrorCode_;
        const std::string text = abortErrorText_;
        abortErrorCode_ = 0;
        ReportError(code, text.c_str(), why);
    } else {
        EnterReady(why);
    }
}

void FtpEngine::ReportStatus(FtpStatusCode code, const char* text, std::string_view why) {
    // The copy first: entering Ready may reuse what the text points into.
    std::string copy = text ? text : "";
    if (code == scOperationComplete || code == scCurrentFolder || code == scInfoText || code == scTransferComplete)
        EnterReady(why, code == scTransferComplete);
    link_.PostStatus(code, text ? copy.c_str() : nullptr);
}

void FtpEngine::ReportError(int32_t code, const char* text, std::string_view why) {
    std::string copy = text ? text : "";
    ++errorsReported_;
    if (InOperation(state_)) EnterReady(why);
    link_.PostError(code, text ? copy.c_str() : nullptr);
}

// ---- the connection ------------------------------------------------------------------

void FtpEngine::Connected() {
    link_.StopConnectTimer();
    controlError_ = 0;
    // The greeting is awaited with the clock running.
    link_.StartTransferTimer();
    Transition(FtpEngineState::Greeting, "connected");
}

void FtpEngine::SessionEnded(int32_t code, const std::string& text, std::string_view why) {
    ++errorsReported_;
    link_.PostError(code, text.empty() ? nullptr : text.c_str());
    Reset(why);
}

void FtpEngine::Disconnected() {
    link_.StopConnectTimer();
    switch (Row(state_).stage) {
        case Stage::Off:
            // The reset that closed it has reported already.
            return;
        case Stage::Quit:
            // After QUIT the server may close with or without its 221.
            Reset("disconnected");
            return;
        default: break;
    }
    // The server closed the connection without a reply that says so.
    const int32_t code = controlError_ != 0 ? controlError_ : kFtpErrConnectionClosed;
    SessionEnded(code, code == kFtpErrConnectionClosed ? "Connection closed by the server" : "", "closed by the server");
}

void FtpEngine::ReplyTooLong() {
    if (state_ == FtpEngineState::Unconnected) return;
    SessionEnded(kFtpErrReplyTooLong,
                 "Reply too long: more than " + std::to_string(kFtpMaxReplyLength) + " bytes", "reply too long");
}

void FtpEngine::ConnectFailed(int32_t errorCode) {
    if (state_ != FtpEngineState::Connecting) {
        // Once the connection stands, the connection is about to close for
        // this reason.
        if (state_ != FtpEngineState::Unconnected) controlError_ = errorCode;
        return;
    }
    link_.StopConnectTimer();
    link_.PostError(errorCode, nullptr);
    Reset("connect failed " + std::to_string(errorCode));
}

// ---- the data connection -----------------------------------------------------------------

void FtpEngine::CheckAnnouncedSize() {
    if (operation_ != FtpOperation::Download || !transfer_.checkSize || transfer_.announced < 0 ||
        transfer_.received <= static_cast<uint64_t>(transfer_.announced))
        return;
    abortFlag_ = true;
    Fail(kFtpErrIncomplete,
         "Transfer size mismatch: " + std::to_string(transfer_.received) + " bytes received, " +
             std::to_string(transfer_.announced) + " announced",
         "size");
}

bool FtpEngine::DataArriving(int32_t count) {
    if (count <= 0 || operation_ != FtpOperation::Download || abortFlag_ || !transfer_.checkSize ||
        transfer_.announced < 0)
        return true;
    const uint64_t total = transfer_.received + static_cast<uint64_t>(count);
    if (total <= static_cast<uint64_t>(transfer_.announced)) return true;
    // More than the server said the file holds: not one byte of it is
    // written, and nothing more is read.
    abortFlag_ = true;
    Fail(kFtpErrIncomplete,
         "Transfer size mismatch: " + std::to_string(total) + " bytes received, " +
             std::to_string(transfer_.announced) + " announced",
         "size");
    return false;
}

void FtpEngine::DataReceived(int32_t count) {
    if (count <= 0 || !Transferring()) return;
    transfer_.received += static_cast<uint64_t>(count);
    // Counted as the 32-bit value it is published as; past 2 GiB it wraps.
    bytesTransferred_ =
        static_cast<int32_t>(static_cast<uint32_t>(bytesTransferred_) + static_cast<uint32_t>(count));
    // Data is no silence, for a listing as for a download.
    link_.RefreshTransferTimer();
    if (operation_ == FtpOperation::Download) link_.PostStatus(scProgress, nullptr);
}

void FtpEngine::DataEnded() {
    if (!Transferring() || state_ == FtpEngineState::Abort || state_ == FtpEngineState::CommandAbort) return;
    transfer_.dataEnded = true;
    if (state_ == FtpEngineState::DataEnd) Finish("data end");
    else Note("waiting for the final reply");
}

void FtpEngine::DataFailed(int32_t errorCode) {
    // Sockets that already failed, or whose operation is over, have
    // nothing more to say.
    if (!Transferring() || abortFlag_) return;
    abortFlag_ = true;
    Fail(errorCode, std::string(), "data error " + std::to_string(errorCode));
}

void FtpEngine::LocalWriteFailed(const std::string& text) {
    if (operation_ != FtpOperation::Download || abortFlag_) return;
    abortFlag_ = true;
    Fail(kFtpErrLocalWrite, text, "write failed");
}

void FtpEngine::TransferRefused(int32_t code, const std::string& text) {
    if (!Transferring() || abortFlag_) return;
    abortFlag_ = true;
    Fail(code, text, "refused " + std::to_string(code));
}

// ---- timers ---------------------------------------------------------------------------------

void FtpEngine::TransferTimerExpired() {
    link_.StopTransferTimer();
    if (state_ != FtpEngineState::Ready) link_.PostTimeout();
}

void FtpEngine::TimeoutMessage() {
    abortFlag_ = true;
    if (!held_.empty()) {
        // The owed reply never came in all that time: nothing waits for it
        // any longer.
        held_.clear();
        owed_.count = 0;
    } else if (InOperation(state_)) {
        // What was out is still owed its final reply; after ABOR, the
        // abort's own as well.
        owed_.count += Awaited();
    }
    // A server that stalled in the middle of a reply is out of step with
    // the client for good: the session ends, and nothing more is buffered.
    const bool midReply = reply_.Assembling() || link_.ReplyLinePending();
    const Stage stage = Row(state_).stage;
    if ((stage == Stage::Ready || stage == Stage::Operation) && !midReply) EnterReady("timeout");
    else Reset(midReply ? "timeout in the middle of a reply" : "timeout");
    link_.FireStatus(scTransferTimedOut);
}

void FtpEngine::ConnectTimerExpired() {
    Reset("connect timeout");
    link_.StopConnectTimer();
    link_.FireError(kFtpErrConnectTimeout);
}

}  // namespace qv
