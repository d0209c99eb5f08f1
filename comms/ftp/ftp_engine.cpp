#include "comms/ftp/ftp_engine.h"

namespace qv {

const char* FtpStateName(FtpState state) {
    switch (state) {
        case FtpState::Unconnected: return "Unconnected";
        case FtpState::LoggingIn: return "LoggingIn";
        case FtpState::Ready: return "Ready";
        case FtpState::Listing: return "Listing";
        case FtpState::Downloading: return "Downloading";
        case FtpState::FolderCommand: return "FolderCommand";
    }
    return "?";
}

std::string FtpTransitionText(FtpState from, FtpState to, std::string_view why) {
    std::string text = "[";
    text += FtpStateName(from);
    text += "] -> [";
    text += FtpStateName(to);
    text += "] (";
    text += why;
    text += ")";
    return text;
}

namespace {

std::string CodeWhy(int32_t code) { return std::to_string(code); }

bool IsFinalOk(int32_t code) { return code == 226 || code == 250; }

}  // namespace

// ---- the one writer of the state ------------------------------------------

void FtpEngine::Transition(FtpState to, std::string_view why) {
    FtpState from = state_;
    state_ = to;
    link_.Trace(FtpTransitionText(from, to, why));
}

// Ready: the data connection and the local file are released (cut to the
// received length only when the transfer completed) and nothing of the
// operation is left waiting.
void FtpEngine::EnterReady(std::string_view why, bool complete) {
    link_.CloseData(complete);
    commands_.Clear();
    aborting_ = false;
    transfer_ = Transfer{};
    Transition(FtpState::Ready, why);
}

// The reset. Closing the port runs Disconnected(), which runs this reset
// once more inside: that inner run reports by the state it finds, and this
// outer one then reports from Unconnected.
void FtpEngine::Reset(std::string_view why) {
    link_.StopTransferTimer();
    link_.CloseData(false);
    std::exception_ptr failure;
    try {
        CloseOwnControl();
    } catch (...) {
        failure = std::current_exception();
    }
    loggedIn_ = false;
    connected_ = false;
    quitSent_ = false;
    controlError_ = 0;
    commands_.Clear();
    // A reply being assembled when the connection went is over with it, and
    // nothing sent on it will be answered.
    reply_.Reset();
    inFlight_ = false;
    owedReplies_ = 0;
    lateAbortReplies_ = 0;
    deferred_.clear();
    aborting_ = false;
    transfer_ = Transfer{};
    if (state_ == FtpState::Unconnected || state_ == FtpState::LoggingIn) {
        link_.PostStatus(scDisconnected, nullptr);
    } else {
        link_.PostStatus(scLoggedOut, nullptr);
        link_.PostLog(lcLoggedOut);
    }
    Transition(FtpState::Unconnected, why);
    if (failure) std::rethrow_exception(failure);
}

// ---- operations -------------------------------------------------------------

bool FtpEngine::LogIn() {
    if (state_ >= FtpState::Ready) return false;
    link_.StartConnectTimer();
    bool result;
    if (state_ == FtpState::Unconnected) {
        result = link_.OpenControl();
    } else {
        SendCommand("USER " + settings_.UserName);
        result = true;
    }
    Transition(FtpState::LoggingIn, "LogIn");
    return result;
}

bool FtpEngine::LogOut() {
    bool wasOpen = link_.ControlOpen();
    if (wasOpen) SendCommand("QUIT", CommandKind::Quit);
    link_.Pause(5);
    CloseOwnControl();
    return wasOpen;
}

bool FtpEngine::ChangeFolder(const std::string& folder) {
    if (state_ != FtpState::Ready) return false;
    Transition(FtpState::FolderCommand, "ChangeFolder");
    SendCommand(folder.empty() ? std::string("PWD") : "CWD " + folder);
    return true;
}

bool FtpEngine::QueryFolder() {
    if (state_ != FtpState::Ready) return false;
    Transition(FtpState::FolderCommand, "QueryFolder");
    SendCommand("PWD");
    return true;
}

bool FtpEngine::ListFolder(const std::string& folder, bool full) {
    if (state_ != FtpState::Ready) return false;
    Transition(FtpState::Listing, "ListFolder");
    transfer_ = Transfer{};
    std::string command = full ? "LIST" : "NLST";
    if (!folder.empty()) command += " " + folder;
    QueueCommand(command);
    bytesTransferred_ = 0;
    if (settings_.PassiveMode) QueueCommand("PASV");
    QueueCommand(std::string("TYPE ") + FtpTypeLetter(ftAscii));
    return StartDataConnection();
}

bool FtpEngine::DownloadFile(const std::string& remoteName, const std::string& localName, FtpDownloadMode mode) {
    if (state_ != FtpState::Ready || remoteName.empty() || localName.empty()) return false;
    // The file first: when it cannot be opened the error goes to the caller
    // and the client stays Ready, with nothing queued.
    int32_t offset = restartOffset_;
    link_.OpenLocalFile(localName, mode, offset);
    restartOffset_ = offset;
    downloadMode_ = mode == dmAppend || mode == dmReplace ? mode : dmRestart;
    Transition(FtpState::Downloading, "DownloadFile");
    transfer_ = Transfer{};
    // A restarted download is not checked against the announced size:
    // servers differ on whether it counts the whole file or the rest.
    transfer_.checkSize = settings_.FileType == ftBinary && !(downloadMode_ == dmRestart && restartOffset_ > 0);
    QueueCommand("RETR " + remoteName);
    remoteFileName_ = remoteName;
    localFileName_ = localName;
    if (downloadMode_ == dmRestart) {
        QueueCommand("REST " + std::to_string(restartOffset_));
        link_.PostLog(lcRetransfer);
    } else {
        link_.PostLog(lcDownloading);
    }
    bytesTransferred_ = 0;
    abortFlag_ = false;
    if (settings_.PassiveMode) QueueCommand("PASV");
    QueueCommand(std::string("TYPE ") + FtpTypeLetter(settings_.FileType));
    return StartDataConnection();
}

bool FtpEngine::AbortTransfer() {
    if (state_ <= FtpState::Ready) return false;
    abortFlag_ = true;
    // Nothing of the operation goes out after the ABOR.
    commands_.Clear();
    link_.PostLog(lcAbortedByUser);
    if (!deferred_.empty()) {
        // Its first command never went out: there is nothing to abort.
        deferred_.clear();
        EnterReady("ABOR");
        return true;
    }
    aborting_ = true;
    abortErrorCode_ = 0;
    abortErrorText_.clear();
    SendCommand("ABOR", CommandKind::Abort);
    return true;
}

// ---- commands ------------------------------------------------------------------

void FtpEngine::CloseOwnControl() {
    const bool was = closingControl_;
    closingControl_ = true;
    try {
        link_.CloseControl();
    } catch (...) {
        closingControl_ = was;
        throw;
    }
    closingControl_ = was;
}

void FtpEngine::SendCommand(const std::string& text, CommandKind kind) {
    link_.StartTransferTimer();
    if (kind == CommandKind::Quit) quitSent_ = true;
    if (kind == CommandKind::Operation) {
        if (owedReplies_ > 0) {
            // A reply to an ended operation is still on its way: this
            // command goes out once it has arrived, so that no reply is
            // taken for the answer to another command.
            deferred_.push_back(text);
            Note("deferred: " + text);
            return;
        }
        inFlight_ = true;
    }
    if (link_.ControlOpen()) link_.WriteLine(text);
}

void FtpEngine::SendNextCommand() {
    std::optional<std::string> next = commands_.PopNext();
    if (!next) return;
    // A transfer's chain ends with its transfer command (RETR, LIST, NLST),
    // queued first and so sent last.
    if (Transferring() && commands_.Empty()) transfer_.commandSent = true;
    SendCommand(*next);
}

void FtpEngine::SendDeferred() {
    std::vector<std::string> commands;
    commands.swap(deferred_);
    for (const std::string& command : commands) SendCommand(command);
}

// Passive mode: the data socket is made and the chain starts with its first
// command. Active mode: the listening socket is made and PORT goes out at
// once; its 200 releases the chain.
bool FtpEngine::StartDataConnection() {
    const uint32_t reported = errorsReported_;
    FtpDataPrepared prepared = link_.PrepareData(settings_.PassiveMode);
    if (!prepared.ok) {
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
    if (settings_.PassiveMode) SendNextCommand();
    else SendCommand("PORT " + prepared.portArgument);
    return true;
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
        ErrorRoutine(code, why);
        return;
    }
    if (lateAbortReplies_ > 0) {
        // The abort's own reply after the transfer's (a server that closed
        // the transfer normally before it read ABOR answers both).
        if (code == 225 || code == 226 || code == 250) {
            --lateAbortReplies_;
            Note("taken for the abort: " + why);
            return;
        }
        if (code >= 200) lateAbortReplies_ = 0;
    }
    if (owedReplies_ > 0) {
        // A reply owed to an operation that ended before it arrived
        // (preliminary ones included) is taken here and goes no further.
        if (code >= 200) {
            --owedReplies_;
            Note("taken for an ended operation: " + why);
            if (owedReplies_ == 0) SendDeferred();
        }
        return;
    }
    switch (state_) {
        case FtpState::Unconnected:
        case FtpState::Ready: ReplyIdle(code, why); break;
        case FtpState::LoggingIn: ReplyLoggingIn(code, why); break;
        case FtpState::Listing:
        case FtpState::Downloading:
            if (aborting_) ReplyAborting(code, why);
            else ReplyTransfer(code, why);
            break;
        case FtpState::FolderCommand: ReplyFolder(code, why); break;
    }
}

void FtpEngine::ReplyIdle(int32_t code, std::string_view why) {
    inFlight_ = false;
    // Preliminary replies and the end of a transfer that is over already
    // (a second 226, the 225 of an abort answered twice) change nothing.
    if (code == 125 || code == 150 || code == 225 || code == 226) return;
    ErrorRoutine(code, why);
}

void FtpEngine::ReplyLoggingIn(int32_t code, std::string_view why) {
    if (code >= 200) inFlight_ = false;
    switch (code) {
        case 120:
            // "Service ready in nnn minutes": the greeting is still to come,
            // and the clock that started with the connection keeps running.
            Note("preliminary: " + std::string(why));
            break;
        case 202: break;
        case 220: {
            std::string text(reply_.TextFromFifth());
            link_.PostStatus(scConnected, text.c_str());
            SendCommand("USER " + settings_.UserName);
            break;
        }
        case 230:
            EnterReady(why);
            loggedIn_ = true;
            link_.PostStatus(scLoggedIn, nullptr);
            break;
        case 331: SendCommand("PASS " + settings_.Password); break;
        case 332: SendCommand("ACCT " + settings_.Account); break;
        default: ErrorRoutine(code, why); break;
    }
}

void FtpEngine::ReplyTransfer(int32_t code, std::string_view why) {
    if (code < 200) {
        // 125/150 to the transfer command: the size it may announce.
        if (transfer_.commandSent && (code == 125 || code == 150)) {
            transfer_.announced = FtpAnnouncedSize(reply_.TextView());
            CheckAnnouncedSize();
        }
        return;
    }
    inFlight_ = false;
    if (!transfer_.commandSent) {
        // The reply answers a command of the chain.
        switch (code) {
            case 200:
            case 350: SendNextCommand(); return;
            case 227: {
                FtpPassiveAddress address = FtpParsePassiveAddress(reply_.TextView());
                if (!address.PortUsable()) {
                    // Nowhere to connect to: the reply itself is the error.
                    ErrorRoutine(code, why);
                    return;
                }
                link_.ConnectData(static_cast<uint16_t>(address.port));
                SendNextCommand();
                return;
            }
            case 225:
            case 226:
            case 250:
                // The end of a transfer that is not this one (a server that
                // answers twice): it answers nothing that is out.
                inFlight_ = true;
                Note("ignored: " + std::string(why));
                return;
            default: ErrorRoutine(code, why); return;
        }
    }
    if (IsFinalOk(code)) {
        transfer_.finalOk = true;
        TryComplete(why);
        return;
    }
    // 4xx/5xx (or anything else) to RETR/LIST/NLST: the transfer failed,
    // whatever the data connection delivered.
    ErrorRoutine(code, why);
}

// After ABOR: the abort is over with its own final reply (225 or 226, or a
// 4xx/5xx when nothing else was out); a 426 or other failure reply to the
// transfer command comes first and is the error the abort reports.
void FtpEngine::ReplyAborting(int32_t code, std::string_view why) {
    if (code < 200) return;
    bool ends = code == 225 || code == 226 || code == 250 || !inFlight_;
    if (code >= 400 && abortErrorCode_ == 0) {
        abortErrorCode_ = code;
        abortErrorText_ = reply_.Text();
    }
    if (!ends) {
        // The answer to the command that was out before ABOR.
        inFlight_ = false;
        return;
    }
    // A transfer end while the transfer command was still out may be the
    // transfer's own: the abort's may follow it.
    if (inFlight_ && code != 225) lateAbortReplies_ = 1;
    inFlight_ = false;
    aborting_ = false;
    if (abortErrorCode_ != 0) {
        int32_t errorCode = abortErrorCode_;
        std::string text = abortErrorText_;
        abortErrorCode_ = 0;
        ReportError(errorCode, text.c_str(), why);
    } else {
        EnterReady(why);
    }
}

void FtpEngine::ReplyFolder(int32_t code, std::string_view why) {
    if (code >= 200) inFlight_ = false;
    if (code >= 211 && code <= 215) {
        std::string text(reply_.TextFromFifth());
        ReportStatus(scInfoText, text.c_str(), why);
    } else if (code == 225 || code == 226) {
        EnterReady(why);
    } else if (code == 250) {
        ReportStatus(scOperationComplete, nullptr, why);
    } else if (code == 257) {
        reply_.ReplaceText(FtpFolderFromReply(reply_.TextView()));
        ReportStatus(scCurrentFolder, reply_.Text(), why);
    } else {
        ErrorRoutine(code, why);
    }
}

// ---- failures and completion ------------------------------------------------------

void FtpEngine::ErrorRoutine(int32_t code, std::string_view why) {
    commands_.Clear();
    if (code == 421) {
        // The server ends the session: the user hears why, then the client
        // is Unconnected.
        SessionEnded(code, reply_.Text(), why);
        return;
    }
    if (code == 221) {
        // The server's goodbye: the session ends as the server says.
        Reset(why);
        return;
    }
    // A preliminary or stray line that ends an operation leaves the final
    // reply of its command owed.
    if (inFlight_ && state_ > FtpState::Ready) {
        inFlight_ = false;
        ++owedReplies_;
    }
    std::string text = reply_.Text();
    if (state_ == FtpState::Downloading && !abortFlag_ && transfer_.commandSent) link_.KeepArrivedData();
    ReportError(code, text.c_str(), why);
}

// A failure found on this side while the operation's command may still be
// waiting for its final reply: that reply is owed and will be taken when it
// comes.
void FtpEngine::Fail(int32_t code, const std::string& text, std::string_view why) {
    if (inFlight_ && state_ > FtpState::Ready) {
        inFlight_ = false;
        ++owedReplies_;
    }
    ReportError(code, text.empty() ? nullptr : text.c_str(), why);
}

void FtpEngine::TryComplete(std::string_view why) {
    if (!transfer_.dataEnded || !transfer_.finalOk) {
        Note(std::string("waiting for ") + (transfer_.dataEnded ? "the final reply" : "the end of the data"));
        return;
    }
    if (state_ == FtpState::Listing) {
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
        Fail(kFtpErrIncomplete, text, "size");
        return;
    }
    link_.StopTransferTimer();
    EnterReady(why, true);
    link_.PostStatus(scTransferComplete, nullptr);
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
    if (state_ > FtpState::Ready) EnterReady(why);
    link_.PostError(code, text ? copy.c_str() : nullptr);
}

// ---- the connection ------------------------------------------------------------------

void FtpEngine::Connected() {
    link_.StopConnectTimer();
    connected_ = true;
    quitSent_ = false;
    controlError_ = 0;
    // The greeting is awaited with the clock running.
    inFlight_ = true;
    link_.StartTransferTimer();
    Transition(FtpState::LoggingIn, "connected");
}

void FtpEngine::SessionEnded(int32_t code, const std::string& text, std::string_view why) {
    ++errorsReported_;
    link_.PostError(code, text.empty() ? nullptr : text.c_str());
    Reset(why);
}

void FtpEngine::Disconnected() {
    link_.StopConnectTimer();
    if (!closingControl_ && !quitSent_ && state_ != FtpState::Unconnected) {
        // The server closed the connection without a reply that says so.
        const int32_t code = controlError_ != 0 ? controlError_ : kFtpErrConnectionClosed;
        SessionEnded(code, code == kFtpErrConnectionClosed ? "Connection closed by the server" : "",
                     "closed by the server");
        return;
    }
    Reset("disconnected");
}

void FtpEngine::ReplyTooLong() {
    if (state_ == FtpState::Unconnected) return;
    SessionEnded(kFtpErrReplyTooLong,
                 "Reply too long: more than " + std::to_string(kFtpMaxReplyLength) + " bytes", "reply too long");
}

void FtpEngine::ConnectFailed(int32_t errorCode) {
    if (connected_) {
        // The connection is about to close for this reason.
        controlError_ = errorCode;
        return;
    }
    if (state_ != FtpState::LoggingIn) return;
    link_.StopConnectTimer();
    link_.PostError(errorCode, nullptr);
    Reset("connect failed " + std::to_string(errorCode));
}

// ---- the data connection -----------------------------------------------------------------

void FtpEngine::CheckAnnouncedSize() {
    if (state_ != FtpState::Downloading || !transfer_.checkSize || transfer_.announced < 0 ||
        transfer_.received <= static_cast<uint64_t>(transfer_.announced))
        return;
    abortFlag_ = true;
    Fail(kFtpErrIncomplete,
         "Transfer size mismatch: " + std::to_string(transfer_.received) + " bytes received, " +
             std::to_string(transfer_.announced) + " announced",
         "size");
}

bool FtpEngine::DataArriving(int32_t count) {
    if (count <= 0 || state_ != FtpState::Downloading || abortFlag_ || !transfer_.checkSize ||
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
    if (state_ == FtpState::Downloading) link_.PostStatus(scProgress, nullptr);
}

void FtpEngine::DataEnded() {
    if (!Transferring() || aborting_) return;
    transfer_.dataEnded = true;
    TryComplete("data end");
}

void FtpEngine::DataFailed(int32_t errorCode) {
    // Sockets that already failed, or whose operation is over, have
    // nothing more to say.
    if (!Transferring() || abortFlag_) return;
    abortFlag_ = true;
    Fail(errorCode, std::string(), "data error " + std::to_string(errorCode));
}

void FtpEngine::LocalWriteFailed(const std::string& text) {
    if (state_ != FtpState::Downloading || abortFlag_) return;
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
    if (state_ != FtpState::Ready) link_.PostTimeout();
}

void FtpEngine::TimeoutMessage() {
    abortFlag_ = true;
    if (!deferred_.empty()) {
        // The owed reply never came in all that time: nothing waits for it
        // any longer.
        deferred_.clear();
        owedReplies_ = 0;
    } else if (state_ > FtpState::Ready) {
        // What was out is still owed its final reply; after ABOR, the
        // abort's own as well.
        if (inFlight_) ++owedReplies_;
        if (aborting_) ++owedReplies_;
        inFlight_ = false;
    }
    // A server that stalled in the middle of a reply is out of step with
    // the client for good: the session ends, and nothing more is buffered.
    const bool midReply = reply_.Assembling() || link_.ReplyLinePending();
    if (state_ > FtpState::LoggingIn && !midReply) EnterReady("timeout");
    else Reset(midReply ? "timeout in the middle of a reply" : "timeout");
    link_.FireStatus(scTransferTimedOut);
}

void FtpEngine::ConnectTimerExpired() {
    Reset("connect timeout");
    link_.StopConnectTimer();
    link_.FireError(kFtpErrConnectTimeout);
}

}  // namespace qv
