#include "comms/ftp/ftp_client.h"

#include <algorithm>
#include <exception>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc.h"
#include "comms/dispatch/socket_binding.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "framework/files.h"
#include "framework/form_reader.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// A listing is read whole into a buffer that grows up to the listing cap
// (and its terminating zero); a listing that goes beyond fails.
constexpr size_t kMaxListingBuffer = static_cast<size_t>(kFtpMaxListingLength) + 1;

// A private copy of a text for a posted message, up to its first zero
// byte; none stays none.
std::unique_ptr<std::string> CopyText(const char* text) {
    return text ? std::make_unique<std::string>(text) : nullptr;
}

// The text a handler is given: zero-terminated, or none.
const char* TextOf(const std::unique_ptr<std::string>& text) { return text ? text->c_str() : nullptr; }

bool EndsLine(const std::string& line) {
    return line.size() >= 2 && line[line.size() - 2] == '\r' && line[line.size() - 1] == '\n';
}

// 32-bit values travel in WPARAM unchanged, negative ones included.
WPARAM CodeParam(int32_t code) { return static_cast<WPARAM>(static_cast<uint32_t>(code)); }
int32_t CodeOf(WPARAM w) { return static_cast<int32_t>(static_cast<uint32_t>(w)); }

}  // namespace

// ---- construction and destruction ---------------------------------------

CustomFtpClient::CustomFtpClient(Component* owner) : CustomWinsockPort(owner) {
    SetDeviceLayer(dlWinsock);
    SetWsMode(wsClient);
    SetWsPort("ftp");
    SetOpenOnDemand(false);

    // The events, each delivered from the message loop; a text copy goes
    // when its handling ends, however it ends (the window owns it until
    // then). What a handler throws goes to the standard exception report.
    window_.On(WM_TIMER, [this](WPARAM wParam, LPARAM) -> LRESULT {
        if (wParam == kFtpConnectTimerId && connectTimerRunning_) engine_.ConnectTimerExpired();
        if (wParam == kFtpPaceTimerId && paceTimerRunning_) PaceTimer();
        return 0;
    });
    window_.On(MsgFtpError, [this](WPARAM wParam, std::unique_ptr<std::string> text) -> LRESULT {
        if (OnFtpError) OnFtpError(this, CodeOf(wParam), TextOf(text));
        return 0;
    });
    window_.On(MsgFtpLog, [this](WPARAM wParam, LPARAM) -> LRESULT {
        auto code = static_cast<FtpLogCode>(wParam & 0x7F);
        if (ftpLog_) ftpLog_->WriteHistory(code);
        else if (OnFtpLog) OnFtpLog(this, code);
        return 0;
    });
    window_.On(MsgFtpReply, [this](WPARAM wParam, std::unique_ptr<std::string> text) -> LRESULT {
        int32_t code = CodeOf(wParam);
        const char* line = text ? text->c_str() : "";
        engine_.ReplyLine(code, line);
        if (OnFtpReply && !Destroying()) OnFtpReply(this, code, line);
        return 0;
    });
    window_.On(MsgFtpStatus, [this](WPARAM wParam, std::unique_ptr<std::string> text) -> LRESULT {
        if (OnFtpStatus) OnFtpStatus(this, static_cast<FtpStatusCode>(wParam), TextOf(text));
        return 0;
    });
    window_.On(MsgFtpTimeout, [this](WPARAM, LPARAM) -> LRESULT {
        engine_.TimeoutMessage();
        return 0;
    });
    window_.On(MsgFtpReplyTooLong, [this](WPARAM, LPARAM) -> LRESULT {
        engine_.ReplyTooLong();
        return 0;
    });

    dataSocket_ = new CommSocket(this);
    dataSocket_->OnAccept = [this](Object* s, SocketHandle h) { DataAccept(s, h); };
    dataSocket_->OnClose = [this](Object* s, SocketHandle h) { DataClose(s, h); };
    dataSocket_->OnError = [this](Object* s, SocketHandle h, int32_t e) { DataError(s, h, e); };
    dataSocket_->OnRead = [this](Object* s, SocketHandle h) { DataRead(s, h); };
    // Writing is never asked for on a data connection that only receives.
    dataSocket_->OnWrite = [](Object*, SocketHandle) {};

    dataBuffer_.assign(kFtpBufferSize, 0);

    replyPacket_ = new DataPacket(this);
    replyPacket_->SetStartCond(scAnyData);
    replyPacket_->SetEndString("\r\n");
    // A line ends with CR LF, or the packet ends when it reaches the
    // longest reply the client takes: what a server sends without a line
    // end is never buffered beyond that.
    replyPacket_->SetEndCond(kEndString | kEndPacketSize);
    replyPacket_->SetPacketSize(kFtpMaxReplyLength);
    replyPacket_->SetTimeOut(0);
    replyPacket_->SetComPort(this);
    replyPacket_->OnStringPacket = [this](Object* s, const std::string& line) { ReplyReader(s, line); };
    replyPacket_->SetEnabled(false);

    // A history log already placed beside this client links with it, as
    // one placed after it does through its own constructor.
    FtpLog::LinkBeside(*this);
}

void CustomFtpClient::BeforeDestruction() {
    // Component::Destroying() holds from here on: no status, error or reply
    // is reported any more.
    StopPaceTimer();
    CloseSockets();
    ReleaseLocalFile(false);
    // Closing runs DisconnectEvent, which still needs the reply packet (it
    // goes with the other owned components, after this).
    CustomWinsockPort::BeforeDestruction();
    StopConnectTimer();
    // The log has heard of this end (above); no line goes to it any more.
    ftpLog_ = nullptr;
}

// ---- properties -----------------------------------------------------------

void CustomFtpClient::SetFtpLog(FtpLog* value) {
    if (value == ftpLog_) return;
    ftpLog_ = value;
    // The log hears of this client's end, and this client of the log's
    // (free notifications go both ways).
    if (value) value->SetFtpClient(this);
}

void CustomFtpClient::Notification(Component* component, Operation operation) {
    CustomWinsockPort::Notification(component, operation);
    if (operation == Operation::opRemove) {
        if (component && component == ftpLog_) ftpLog_ = nullptr;
    } else {
        FtpLog::LinkFree(this, component);
    }
}

FtpHistoryValues CustomFtpClient::HistoryValues() const {
    FtpHistoryValues values;
    values.ServerAddress = ServerAddress();
    values.UserName = UserName();
    values.RemoteFileName = RemoteFileName();
    values.LocalFileName = LocalFileName();
    values.BytesTransferred = BytesTransferred();
    values.RestartOffset = RestartOffset();
    return values;
}

// ---- the control connection ------------------------------------------------

bool CustomFtpClient::ControlOpen() { return State() == psOpen && CurrentDispatcher(); }

bool CustomFtpClient::OpenControl() {
    SetOpen(true);
    return Open();
}

void CustomFtpClient::CloseControl() { SetOpen(false); }

void CustomFtpClient::WriteLine(const std::string& command) {
    // Only an open connection takes commands; a reply handled after the
    // connection went has nothing to answer to.
    if (!ControlOpen()) return;
    PutString(command + "\r\n");
}

void CustomFtpClient::Pause(int32_t ticks) { DelayTicks(ticks, true); }

void CustomFtpClient::ReplyReader(Object*, const std::string& line) {
    if (!EndsLine(line)) {
        // The longest reply the client takes, and still no line end: the
        // session ends (from the message loop, as every reply is handled).
        window_.Post(MsgFtpReplyTooLong, 0, 0);
        return;
    }
    int32_t code = FtpReplyCode(line);
    // The copy ends at the line's first zero byte, as every reader of the
    // zero-terminated text would see it.
    window_.Post(MsgFtpReply, CodeParam(code), CopyText(line.c_str()));
}

void CustomFtpClient::ConnectEvent() {
    if (replyPacket_) replyPacket_->SetEnabled(true);
    if (BaseDispatcher* d = CurrentDispatcher())
        d->AddEventHandler(DispatchMethod::Bind<&CustomFtpClient::TimerHandler>(this));
    engine_.Connected();
}

void CustomFtpClient::DisconnectEvent() {
    StopConnectTimer();
    if (BaseDispatcher* d = CurrentDispatcher())
        d->RemoveEventHandler(DispatchMethod::Bind<&CustomFtpClient::TimerHandler>(this));
    if (replyPacket_) replyPacket_->SetEnabled(false);
    engine_.Disconnected();
}

void CustomFtpClient::ErrorEvent(int32_t errorCode) {
    CustomWinsockPort::ErrorEvent(errorCode);
    // Before the connection stands, an error is the connection attempt
    // failing (refused, unreachable): the login is over.
    engine_.ConnectFailed(errorCode);
}

// ---- reports -------------------------------------------------------------------

void CustomFtpClient::PostStatus(FtpStatusCode code, const char* text) {
    if (Destroying()) return;
    window_.Post(MsgFtpStatus, static_cast<WPARAM>(code), CopyText(text));
}

void CustomFtpClient::PostError(int32_t code, const char* text) {
    if (Destroying()) return;
    window_.Post(MsgFtpError, CodeParam(code), CopyText(text));
}

void CustomFtpClient::PostLog(FtpLogCode code) {
    window_.Post(MsgFtpLog, static_cast<WPARAM>(code & 0x7F), 0);
}

void CustomFtpClient::FireStatus(FtpStatusCode code) {
    if (OnFtpStatus && !Destroying()) OnFtpStatus(this, code, nullptr);
}

void CustomFtpClient::FireError(int32_t code) {
    if (OnFtpError) OnFtpError(this, code, nullptr);
}

void CustomFtpClient::Trace(std::string_view line) {
    if (OnEngineTrace) OnEngineTrace(std::string(line));
}

// ---- timers ------------------------------------------------------------------------

void CustomFtpClient::StartTransferTimer() {
    StopTransferTimer();
    if (transferTimeout_ <= 0) return;
    BaseDispatcher* d = CurrentDispatcher();
    if (!d) return;
    int32_t handle = d->AddTimerTrigger();
    if (handle <= 0) return;
    transferTimer_ = handle;
    d->SetTimerTrigger(handle, transferTimeout_, true);
}

void CustomFtpClient::RefreshTransferTimer() {
    if (transferTimer_ == 0 || transferTimeout_ <= 0) return;
    if (BaseDispatcher* d = CurrentDispatcher()) d->SetTimerTrigger(transferTimer_, transferTimeout_, true);
}

void CustomFtpClient::StopTransferTimer() {
    if (transferTimer_ == 0) return;
    if (BaseDispatcher* d = CurrentDispatcher()) {
        d->SetTimerTrigger(transferTimer_, 0, false);
        d->RemoveTrigger(transferTimer_);
    }
    transferTimer_ = 0;
}

void CustomFtpClient::TimerHandler(UINT msg, WPARAM wParam, LPARAM) {
    if (msg != MsgTriggerTimer || transferTimer_ == 0 || static_cast<int32_t>(wParam) != transferTimer_) return;
    engine_.TransferTimerExpired();
}

void CustomFtpClient::PostTimeout() {
    window_.Post(MsgFtpTimeout, 0, 0);
}

void CustomFtpClient::StartConnectTimer() {
    if (connectTimeout_ <= 0) return;
    SetTimer(window_.Handle(), kFtpConnectTimerId, static_cast<UINT>(connectTimeout_) * kMillisecondsPerTick, nullptr);
    connectTimerRunning_ = true;
}

void CustomFtpClient::StopConnectTimer() {
    if (!connectTimerRunning_) return;
    connectTimerRunning_ = false;
    KillTimer(window_.Handle(), kFtpConnectTimerId);
}

// ---- data connection ------------------------------------------------------------------

FtpDataPrepared CustomFtpClient::PrepareData(bool passive) {
    if (engine_.Operation() == FtpOperation::Listing) {
        // Back to one block, all zeros: a longer listing before may have
        // grown it.
        dataBuffer_.assign(kFtpBufferSize, 0);
        dataBuffer_.shrink_to_fit();
    }
    FtpDataPrepared prepared;
    try {
        prepared = PrepareSteps(passive);
    } catch (const ESocketException& e) {
        prepared.ok = false;
        prepared.error = e.SocketErrorCode();
    } catch (...) {
        prepared.ok = false;
    }
    if (!prepared.ok) CloseSockets();
    return prepared;
}

// Before the connection is made, so that the window it offers follows
// from it. A system that refuses the size keeps its own: nothing fails.
void CustomFtpClient::SetReceiveBuffer(SocketHandle s) {
    const int size = kFtpDataReceiveBuffer;
    sockapi::setsockopt(ToSocket(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

FtpDataPrepared CustomFtpClient::PrepareSteps(bool passive) {
    FtpDataPrepared prepared;
    CloseSockets();
    if (passive) {
        dataHandle_ = dataSocket_->OpenOwned();
        if (!dataHandle_) return prepared;
        SetReceiveBuffer(dataHandle_.Get());
        // The connect is watched too: a refused data connection is known at
        // once, not only from the server's reply (which may never come).
        if (dataSocket_->SockSelectEvents(dataHandle_.Get(), kSockRead | kSockWrite | kSockConnect | kSockClose) != 0)
            return prepared;
        prepared.ok = true;
        return prepared;
    }
    BaseDispatcher* d = CurrentDispatcher();
    if (!d) return prepared;
    // The one host a data connection is taken from.
    sockaddr_in peer{};
    int length = sizeof peer;
    if (sockapi::getpeername(ToSocket(d->DeviceId()), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        prepared.error = sockapi::WSAGetLastError();
        return prepared;
    }
    serverAddress_ = peer.sin_addr.s_addr;
    length = sizeof localAddress_;
    if (sockapi::getsockname(ToSocket(d->DeviceId()), reinterpret_cast<sockaddr*>(&localAddress_), &length) != 0) {
        prepared.error = sockapi::WSAGetLastError();
        return prepared;
    }
    listenHandle_ = dataSocket_->OpenOwned();
    if (!listenHandle_) return prepared;
    SocketHandle listening = listenHandle_.Get();
    // The connection it accepts takes the listening socket's buffer size.
    SetReceiveBuffer(listening);
    dataSocket_->SockSelectEvents(listening, kSockRead | kSockWrite | kSockAccept | kSockClose);
    localAddress_.sin_family = AF_INET;
    localAddress_.sin_port = dataSocket_->PortToNet(0);
    if (dataSocket_->SockBind(listening, localAddress_) != 0) return prepared;
    length = sizeof localAddress_;
    if (sockapi::getsockname(ToSocket(listening), reinterpret_cast<sockaddr*>(&localAddress_), &length) != 0) {
        prepared.error = sockapi::WSAGetLastError();
        return prepared;
    }
    const auto* port = reinterpret_cast<const uint8_t*>(&localAddress_.sin_port);
    prepared.portArgument =
        FtpPortArgument(dataSocket_->AddrToText(localAddress_.sin_addr.s_addr), port[0], port[1]);
    // Listening comes before the command that names the port: a server may
    // connect as soon as it reads PORT, before any transfer command.
    if (dataSocket_->SockListen(listening, 5) != 0) return prepared;
    prepared.ok = true;
    return prepared;
}

void CustomFtpClient::ConnectData(uint16_t port) {
    if (!dataHandle_) return;
    // The data connection goes to the server the control connection talks
    // to: a 227 that names another host (a private address behind NAT, or
    // a server that tries to send the client elsewhere) is not followed.
    sockaddr_in peer{};
    int length = sizeof peer;
    BaseDispatcher* d = CurrentDispatcher();
    if (!d || sockapi::getpeername(ToSocket(d->DeviceId()), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        engine_.DataFailed(dataSocket_->LastSockError());
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = peer.sin_addr;
    address.sin_port = dataSocket_->PortToNet(port);
    dataSocket_->SockConnect(dataHandle_.Get(), address);
}

std::string CustomFtpClient::ListingText() { return std::string(dataBuffer_.data()); }

void CustomFtpClient::KeepArrivedData() {
    // What the server sent before its failure reply, as far as it is here
    // or on its way without a wait: until the data connection's end, a
    // moment with nothing to read, or a bound that a server which keeps
    // sending cannot push back.
    // A data connection that never stood has nothing to give, and its
    // failure to read is no news: the server's reply says what failed.
    constexpr int64_t kMostKept = int64_t(16) << 20;
    int64_t kept = 0;
    closingSockets_ = true;
    while (dataHandle_ && kept < kMostKept) {
        int32_t n = ReadDataOnce();
        if (n <= 0) break;
        kept += n;
    }
    closingSockets_ = false;
}

bool CustomFtpClient::ReplyLinePending() {
    return replyPacket_ && replyPacket_->MatchState() == pkCollecting && replyPacket_->Core().PacketStart() >= 0;
}

int32_t CustomFtpClient::ReadDataOnce() {
    if (!dataHandle_) return 0;
    if (engine_.Operation() == FtpOperation::Download) {
        if (!localFile_ || engine_.AbortFlag()) return 0;
        if (!downloadBlock_) downloadBlock_.reset(new char[kFtpDownloadBlockSize]);
        int32_t n = dataSocket_->SockReceive(dataHandle_.Get(), downloadBlock_.get(),
                                             static_cast<int32_t>(kFtpDownloadBlockSize), 0);
        if (n <= 0) return n;
        // A block the transfer must not take (more than the server said
        // the file holds) is not written: the transfer has failed.
        if (!engine_.DataArriving(n)) return 0;
        DWORD written = 0;
        if (!WriteFile(localFile_.Get(), downloadBlock_.get(), static_cast<DWORD>(n), &written, nullptr) ||
            written != static_cast<DWORD>(n)) {
            DWORD error = GetLastError();
            // Short of an error number (a short write) the disk is full.
            std::string reason = MessageForCode(static_cast<int32_t>(error ? error : ERROR_DISK_FULL));
            while (!reason.empty() && (reason.back() == ' ' || reason.back() == '.')) reason.pop_back();
            engine_.LocalWriteFailed("Cannot write " + engine_.RemoteFileName() + ": " + reason);
            return 0;
        }
        engine_.DataReceived(n);
        return n;
    }
    if (engine_.Operation() == FtpOperation::Listing) {
        // The text stays zero-terminated inside the buffer: there is always
        // one byte after the received ones, and the buffer grows when the
        // listing reaches its end.
        size_t used = static_cast<uint32_t>(engine_.BytesTransferred());
        if (used + 1 >= dataBuffer_.size() && dataBuffer_.size() < kMaxListingBuffer)
            dataBuffer_.resize(std::min(kMaxListingBuffer, dataBuffer_.size() * 2), 0);
        size_t room = dataBuffer_.size() - 1 - used;
        if (room == 0) {
            // The listing fills the cap: one byte more and it is too long
            // to be handed on, whole or cut.
            char probe;
            int32_t n = dataSocket_->SockReceive(dataHandle_.Get(), &probe, 1, 0);
            if (n > 0)
                engine_.TransferRefused(kFtpErrListingTooLong, "Listing too long: more than " +
                                                                    std::to_string(kFtpMaxListingLength) + " bytes");
            return n > 0 ? 0 : n;
        }
        int32_t want = static_cast<int32_t>(std::min(room, kFtpBufferSize));
        int32_t n = dataSocket_->SockReceive(dataHandle_.Get(), dataBuffer_.data() + used, want, 0);
        if (n > 0) {
            dataBuffer_[used + static_cast<size_t>(n)] = '\0';
            engine_.DataReceived(n);
        }
        return n;
    }
    return 0;
}

void CustomFtpClient::CloseData(bool complete) {
    StopPaceTimer();
    CloseSockets();
    ReleaseLocalFile(complete);
}

void CustomFtpClient::CloseSockets() {
    // Closing sockets that never connected, or already failed, is no news:
    // nothing is reported.
    closingSockets_ = true;
    for (OwnedSocket* owned : {&dataHandle_, &listenHandle_}) {
        if (!*owned) continue;
        try {
            dataSocket_->SockSelectEvents(owned->Get(), 0);
        } catch (...) {
        }
        try {
            owned->Close();
        } catch (...) {
        }
    }
    closingSockets_ = false;
}

void CustomFtpClient::OpenLocalFile(const std::string& name, FtpDownloadMode mode, int32_t& restartOffset) {
    ReleaseLocalFile(false);
    // A missing file is made empty first (and closed again at once).
    if (!FileExistsAt(name)) OpenOwnedFile(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_NEW);
    DWORD access = mode == dmReplace ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    OwnedFile file = OpenOwnedFile(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file) throw EFOpenError("Cannot open file " + name);
    LARGE_INTEGER size{};
    GetFileSizeEx(file.Get(), &size);
    LARGE_INTEGER position{};
    if (mode == dmAppend) {
        position = size;
    } else if (mode != dmReplace) {
        // The offset is a 32-bit value: a file beyond its range resumes
        // at the largest offset it can name.
        if (restartOffset < 0 || restartOffset > size.QuadPart)
            restartOffset = static_cast<int32_t>(std::min<int64_t>(size.QuadPart, INT32_MAX));
        position.QuadPart = restartOffset;
    }
    SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN);
    localFile_ = std::move(file);
    replacing_ = mode == dmReplace;
}

void CustomFtpClient::ReleaseLocalFile(bool complete) {
    if (!localFile_) return;
    // A replaced file that was received whole keeps nothing of the old
    // file's tail; one that was not is left as far as it was written.
    if (complete && replacing_) SetEndOfFile(localFile_.Get());
    localFile_.Close();
}

void CustomFtpClient::DataAccept(Object*, SocketHandle) {
    if (!listenHandle_) return;
    OwnedSocket accepted = dataSocket_->AcceptOwned(listenHandle_.Get(), acceptAddress_);
    if (!accepted) return;
    if (acceptAddress_.sin_family != AF_INET || acceptAddress_.sin_addr.s_addr != serverAddress_) {
        // Only the server the control connection talks to may bring the
        // data: another host that reaches the port first (racing the
        // server on the same network) is shut out before a byte is read,
        // and the listening goes on with the transfer's clock running.
        const auto* port = reinterpret_cast<const uint8_t*>(&acceptAddress_.sin_port);
        Trace("data connection from " + dataSocket_->AddrToText(acceptAddress_.sin_addr.s_addr) + ":" +
              std::to_string(port[0] * 256 + port[1]) + " refused: the server is " +
              dataSocket_->AddrToText(serverAddress_));
        closingSockets_ = true;
        try {
            dataSocket_->SockSelectEvents(accepted.Get(), 0);
        } catch (...) {
        }
        accepted.Close();
        closingSockets_ = false;
        return;
    }
    if (dataHandle_) {
        // One data connection per transfer: a second one is not taken.
        closingSockets_ = true;
        accepted.Close();
        closingSockets_ = false;
        return;
    }
    dataHandle_ = std::move(accepted);
}

void CustomFtpClient::DataClose(Object*, SocketHandle s) {
    if (!dataHandle_ || s != dataHandle_.Get() || !engine_.Transferring()) return;
    // What the server sent before it closed belongs to the transfer, even
    // when the close is noticed before the last read.
    while (dataHandle_.Get() == s && ReadDataOnce() > 0) {
    }
    // A read that failed has ended the transfer already.
    if (dataHandle_.Get() == s && engine_.Transferring()) engine_.DataEnded();
}

void CustomFtpClient::DataError(Object*, SocketHandle, int32_t errorCode) {
    if (closingSockets_) return;
    engine_.DataFailed(errorCode);
}

void CustomFtpClient::DataRead(Object*, SocketHandle s) {
    if (!dataHandle_ || s != dataHandle_.Get() || !engine_.Transferring()) return;
    if (engine_.Operation() == FtpOperation::Download) {
        if (!paceTimerRunning_) StartPaceTimer();
        // Resting: the pace timer reads next.
        if (!pacer_.ReadNow(MillisecondClock())) return;
    }
    ReadDataOnce();
}

void CustomFtpClient::StartPaceTimer() {
    pacer_.Start(MillisecondClock());
    paceTimerRunning_ = SetTimer(window_.Handle(), kFtpPaceTimerId, kFtpPaceMilliseconds, nullptr) != 0;
}

void CustomFtpClient::StopPaceTimer() {
    if (!paceTimerRunning_) return;
    paceTimerRunning_ = false;
    KillTimer(window_.Handle(), kFtpPaceTimerId);
}

void CustomFtpClient::PaceTimer() {
    bool othersWaiting = (HIWORD(GetQueueStatus(QS_TIMER)) & QS_TIMER) != 0;
    if (pacer_.PaceTimer(MillisecondClock(), othersWaiting) && dataHandle_ &&
        engine_.Operation() == FtpOperation::Download)
        ReadDataOnce();
}

// ---- published class ----------------------------------------------------------------

// Only what the client publishes, in its order: the TCP port's own settings
// (device layer, role, line settings) stay fixed for an FTP client.
const PropertyTable& FtpClient::StaticProperties() {
    static const std::vector<std::string> states{"tlOff", "tlOn", "tlDump", "tlAppend", "tlClear", "tlPause"};
    using C = FtpClient;
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        StringProperty<C>("Account", &C::Account, &C::SetAccount),
        IntegerProperty<C>("ConnectTimeout", &C::ConnectTimeout, &C::SetConnectTimeout),
        EnumProperty<C, FtpFileType>("FileType", {"ftAscii", "ftBinary"}, &C::FileType, &C::SetFileType),
        ReferenceProperty<C, FtpLog>("FtpLog", &C::GetFtpLog, &C::SetFtpLog),
        StringProperty<C>("Password", &C::Password, &C::SetPassword),
        BooleanProperty<C>("PassiveMode", &C::PassiveMode, &C::SetPassiveMode),
        StringProperty<C>("ServerAddress", &C::ServerAddress, &C::SetServerAddress),
        IntegerProperty<C>("TransferTimeout", &C::TransferTimeout, &C::SetTransferTimeout),
        StringProperty<C>("UserName", &C::UserName, &C::SetUserName),
        EventProperty<CustomFtpClient>("OnFtpError", &CustomFtpClient::OnFtpError),
        EventProperty<CustomFtpClient>("OnFtpLog", &CustomFtpClient::OnFtpLog),
        EventProperty<CustomFtpClient>("OnFtpReply", &CustomFtpClient::OnFtpReply),
        EventProperty<CustomFtpClient>("OnFtpStatus", &CustomFtpClient::OnFtpStatus),
        EnumProperty<C, TraceLogState>("Logging", states, &C::Logging, &C::SetLogging),
        IntegerProperty<C>("LogSize", &C::LogSize, &C::SetLogSize),
        StringProperty<C>("LogName", &C::LogName, &C::SetLogName),
        BooleanProperty<C>("LogHex", &C::LogHex, &C::SetLogHex),
        EnumProperty<C, TraceLogState>("Tracing", states, &C::Tracing, &C::SetTracing),
        IntegerProperty<C>("TraceSize", &C::TraceSize, &C::SetTraceSize),
        StringProperty<C>("TraceName", &C::TraceName, &C::SetTraceName),
        BooleanProperty<C>("TraceHex", &C::TraceHex, &C::SetTraceHex),
        StringProperty<C>("WsPort", &C::WsPort, &C::SetWsPort),
    });
    return table;
}

const PropertyTable& FtpClient::Properties() const { return StaticProperties(); }

void RegisterFtpClasses() {
    RegisterComponentClass<FtpClient>("FtpClient");
    RegisterComponentClass<FtpLog>("FtpLog");
}

}  // namespace qv
