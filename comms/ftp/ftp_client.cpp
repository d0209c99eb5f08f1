#include "comms/ftp/ftp_client.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc.h"
#include "comms/dispatch/socket_binding.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "framework/form_reader.h"
#include "framework/win32_text.h"

namespace qv {

LRESULT CALLBACK FtpClientWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

namespace {

constexpr wchar_t kFtpWindowClass[] = L"commFtpWindow";

// A listing is read whole into a buffer that grows; beyond this size the
// rest of it is received and dropped, so a server that never stops sending
// cannot exhaust the memory.
constexpr size_t kMaxListingSize = size_t(64) << 20;

bool RegisterFtpWindowClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSW wc{};
    wc.lpfnWndProc = FtpClientWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kFtpWindowClass;
    registered = RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

// A private, zero-terminated copy of a text for a posted message; none
// stays none.
char* CopyText(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

bool CarriesText(UINT msg) { return msg == MsgFtpStatus || msg == MsgFtpError || msg == MsgFtpReply; }

// 32-bit values travel in WPARAM unchanged, negative ones included.
WPARAM CodeParam(int32_t code) { return static_cast<WPARAM>(static_cast<uint32_t>(code)); }
int32_t CodeOf(WPARAM w) { return static_cast<int32_t>(static_cast<uint32_t>(w)); }

}  // namespace

// ---- hidden window -------------------------------------------------------

LRESULT CALLBACK FtpClientWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* client = reinterpret_cast<CustomFtpClient*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!client) {
        // A message that outlived its client: only its text is left to free.
        if (CarriesText(msg)) delete[] reinterpret_cast<char*>(lParam);
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    try {
        return client->WindowMessage(msg, wParam, lParam);
    } catch (...) {
        // A handler's exception (or the history log's I/O error) must not
        // cross the window system: it goes to the standard report.
        Application::Instance().HandleCurrentException();
        return 0;
    }
}

LRESULT CustomFtpClient::WindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // The text copy goes when the handling ends, however it ends.
    std::unique_ptr<char[]> text(CarriesText(msg) ? reinterpret_cast<char*>(lParam) : nullptr);
    switch (msg) {
        case WM_TIMER:
            if (wParam == kFtpConnectTimerId) {
                if (connectTimerRunning_) ConnectTimerExpired();
                return 0;
            }
            break;
        case MsgFtpError:
            if (OnFtpError) OnFtpError(this, CodeOf(wParam), text.get());
            return 0;
        case MsgFtpLog: {
            auto code = static_cast<FtpLogCode>(wParam & 0x7F);
            if (ftpLog_) ftpLog_->WriteHistory(code);
            else if (OnFtpLog) OnFtpLog(this, code);
            return 0;
        }
        case MsgFtpReply: {
            int32_t code = CodeOf(wParam);
            const char* line = text ? text.get() : "";
            ReplyStateMachine(code, line);
            if (OnFtpReply && !destroying_) OnFtpReply(this, code, line);
            return 0;
        }
        case MsgFtpStatus:
            if (OnFtpStatus) OnFtpStatus(this, static_cast<FtpStatusCode>(wParam), text.get());
            return 0;
        case MsgFtpTimeout:
            TimeoutMessage();
            return 0;
        default: break;
    }
    return DefWindowProcW(messageWindow_, msg, wParam, lParam);
}

// ---- construction and destruction ---------------------------------------

CustomFtpClient::CustomFtpClient(Component* owner) : CustomWinsockPort(owner) {
    SetDeviceLayer(dlWinsock);
    SetWsMode(wsClient);
    SetWsPort("ftp");
    SetOpenOnDemand(false);

    if (RegisterFtpWindowClass()) {
        messageWindow_ = CreateWindowExW(0, kFtpWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         GetModuleHandleW(nullptr), nullptr);
        if (messageWindow_) SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    dataSocket_ = new CommSocket(this);
    dataSocket_->OnAccept = [this](Object* s, SocketHandle h) { DataAccept(s, h); };
    dataSocket_->OnClose = [this](Object* s, SocketHandle h) { DataClose(s, h); };
    dataSocket_->OnError = [this](Object* s, SocketHandle h, int32_t e) { DataError(s, h, e); };
    dataSocket_->OnRead = [this](Object* s, SocketHandle h) { DataRead(s, h); };
    dataSocket_->OnWrite = [this](Object* s, SocketHandle h) { DataWrite(s, h); };

    dataBuffer_.assign(kFtpBufferSize, 0);

    replyPacket_ = new DataPacket(this);
    replyPacket_->SetStartCond(scAnyData);
    replyPacket_->SetEndString("\r\n");
    replyPacket_->SetEndCond(kEndString);
    replyPacket_->SetTimeOut(0);
    replyPacket_->SetComPort(this);
    replyPacket_->OnStringPacket = [this](Object* s, const std::string& line) { ReplyReader(s, line); };
    replyPacket_->SetEnabled(false);

    // A history log already placed beside this client links itself to it,
    // as one placed after it does through Notification.
    if (Owner())
        for (int i = 0; i < Owner()->ComponentCount() && !ftpLog_; ++i)
            if (auto* log = dynamic_cast<FtpLog*>(Owner()->Components(i)); log && !log->GetFtpClient())
                SetFtpLog(log);
}

CustomFtpClient::~CustomFtpClient() {
    destroying_ = true;
    try {
        CloseSocketsAndFile();
    } catch (...) {
    }
    // Closing runs DisconnectEvent, which still needs the reply packet.
    CloseOnDestroy();
    KillConnectTimer();
    if (ftpLog_ && ftpLog_->GetFtpClient() == this) ftpLog_->SetFtpClient(nullptr);
    ftpLog_ = nullptr;
    delete replyPacket_;
    replyPacket_ = nullptr;
    if (messageWindow_) {
        // Texts of messages that will never be handled are freed here.
        SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, 0);
        MSG m;
        while (PeekMessageW(&m, messageWindow_, 0, 0, PM_REMOVE))
            if (CarriesText(m.message)) delete[] reinterpret_cast<char*>(m.lParam);
        DestroyWindow(messageWindow_);
        messageWindow_ = nullptr;
    }
    delete dataSocket_;
    dataSocket_ = nullptr;
}

// ---- properties -----------------------------------------------------------

void CustomFtpClient::SetFtpLog(FtpLog* value) {
    if (value == ftpLog_) return;
    ftpLog_ = value;
    if (value) {
        FreeNotification(value);
        value->SetFtpClient(this);
    }
}

void CustomFtpClient::Notification(Component* component, Operation operation) {
    CustomWinsockPort::Notification(component, operation);
    if (operation == Operation::opRemove) {
        if (component == ftpLog_) ftpLog_ = nullptr;
    } else if (!ftpLog_ && component != this) {
        if (auto* log = dynamic_cast<FtpLog*>(component); log && !log->GetFtpClient()) SetFtpLog(log);
    }
}

// ---- operations ------------------------------------------------------------

bool CustomFtpClient::LogIn() {
    if (state_ >= FtpState::Ready) return false;
    if (connectTimeout_ > 0 && messageWindow_) {
        SetTimer(messageWindow_, kFtpConnectTimerId, static_cast<UINT>(connectTimeout_) * kMillisecondsPerTick,
                 nullptr);
        connectTimerRunning_ = true;
    }
    bool result;
    if (state_ == FtpState::Unconnected) {
        SetOpen(true);
        result = Open();
    } else {
        SendCommand("USER " + userName_);
        result = true;
    }
    state_ = FtpState::LoggingIn;
    return result;
}

bool CustomFtpClient::LogOut() {
    bool wasOpen = Open();
    if (wasOpen) SendCommand("QUIT");
    DelayTicks(5, true);
    SetOpen(false);
    return wasOpen;
}

bool CustomFtpClient::ChangeFolder(const std::string& folder) {
    if (state_ != FtpState::Ready) return false;
    SetState(FtpState::FolderCommand);
    SendCommand(folder.empty() ? std::string("PWD") : "CWD " + folder);
    return true;
}

bool CustomFtpClient::QueryFolder() {
    if (state_ != FtpState::Ready) return false;
    SetState(FtpState::FolderCommand);
    SendCommand("PWD");
    return true;
}

bool CustomFtpClient::ListFolder(const std::string& folder, bool full) {
    if (state_ != FtpState::Ready) return false;
    SetState(FtpState::Listing);
    std::string command = full ? "LIST" : "NLST";
    if (!folder.empty()) command += " " + folder;
    QueueCommand(command);
    // Back to one block, all zeros: a longer listing before may have grown it.
    dataBuffer_.assign(kFtpBufferSize, 0);
    dataBuffer_.shrink_to_fit();
    bytesTransferred_ = 0;
    if (passiveMode_) QueueCommand("PASV");
    QueueCommand(std::string("TYPE ") + FtpTypeLetter(ftAscii));
    return PrepareDataConnection();
}

bool CustomFtpClient::DownloadFile(const std::string& remoteName, const std::string& localName,
                                   FtpDownloadMode mode) {
    if (state_ != FtpState::Ready || remoteName.empty() || localName.empty()) return false;
    SetState(FtpState::Downloading);
    QueueCommand("RETR " + remoteName);
    remoteFileName_ = remoteName;
    localFileName_ = localName;
    OpenLocalFile(localName, mode);
    bytesTransferred_ = 0;
    abortFlag_ = false;
    if (passiveMode_) QueueCommand("PASV");
    QueueCommand(std::string("TYPE ") + FtpTypeLetter(fileType_));
    return PrepareDataConnection();
}

bool CustomFtpClient::AbortTransfer() {
    if (state_ <= FtpState::Ready) return false;
    abortFlag_ = true;
    userAborted_ = true;
    SendCommand("ABOR");
    ReportLog(lcAbortedByUser);
    return true;
}

// ---- commands ----------------------------------------------------------------

void CustomFtpClient::SendCommand(const std::string& text) {
    StartTransferTimer();
    // Only an open connection takes commands; a reply handled after the
    // connection went has nothing to answer to.
    if (State() != psOpen || !CurrentDispatcher()) return;
    PutString(text + "\r\n");
}

void CustomFtpClient::QueueCommand(const std::string& text) { commands_.Push(text); }

void CustomFtpClient::SendNextCommand() {
    if (std::optional<std::string> next = commands_.PopNext()) SendCommand(*next);
}

// ---- replies ----------------------------------------------------------------

void CustomFtpClient::ReplyReader(Object*, const std::string& line) {
    int32_t code = FtpReplyCode(line);
    // The copy ends at the line's first zero byte, as every reader of the
    // zero-terminated text would see it.
    char* copy = CopyText(line.c_str());
    if (!messageWindow_ || !PostMessageW(messageWindow_, MsgFtpReply, CodeParam(code), reinterpret_cast<LPARAM>(copy)))
        delete[] copy;
}

void CustomFtpClient::ReplyStateMachine(int32_t code, std::string_view line) {
    if (!reply_.Feed(line, code)) return;
    switch (state_) {
        case FtpState::Unconnected:
        case FtpState::Ready:
            if (code == 125 || code == 150) break;
            if (code == 226) CloseDataConnection(true);
            else ErrorRoutine(code);
            break;
        case FtpState::LoggingIn:
            switch (code) {
                case 202: break;
                case 220:
                    ReportStatus(scConnected, std::string(reply_.TextFromFifth()).c_str());
                    SendCommand("USER " + userName_);
                    break;
                case 230:
                    SetState(FtpState::Ready);
                    loggedIn_ = true;
                    ReportStatus(scLoggedIn, nullptr);
                    break;
                case 331: SendCommand("PASS " + password_); break;
                case 332: SendCommand("ACCT " + account_); break;
                default: ErrorRoutine(code); break;
            }
            break;
        case FtpState::Listing:
        case FtpState::Downloading:
            if (code < 200) break;
            switch (code) {
                case 200: SendNextCommand(); break;
                case 226: break;
                case 227:
                    ConnectPassive();
                    SendNextCommand();
                    break;
                case 250: SetState(FtpState::Ready); break;
                case 350: SendNextCommand(); break;
                default: ErrorRoutine(code); break;
            }
            break;
        case FtpState::FolderCommand:
            if (code >= 211 && code <= 215) {
                ReportStatus(scInfoText, std::string(reply_.TextFromFifth()).c_str());
            } else if (code == 225 || code == 226) {
                SetState(FtpState::Ready);
            } else if (code == 250) {
                ReportStatus(scOperationComplete, nullptr);
            } else if (code == 257) {
                reply_.ReplaceText(FtpFolderFromReply(reply_.TextView()));
                ReportStatus(scCurrentFolder, reply_.Text());
            } else {
                ErrorRoutine(code);
            }
            break;
    }
}

void CustomFtpClient::ErrorRoutine(int32_t code) {
    commands_.Clear();
    if (code == 221 || code == 421) SetState(FtpState::Unconnected);
    else ReportError(code, reply_.Text());
}

// ---- state and reports ----------------------------------------------------------

void CustomFtpClient::SetState(FtpState state) {
    userAborted_ = false;
    if (state == FtpState::Ready) {
        try {
            CloseDataConnection(true);
        } catch (...) {
            // The data connection is gone all the same (sockets and file are
            // released whatever fails); the client must not stay in a
            // transfer that no longer exists.
            state_ = FtpState::Ready;
            throw;
        }
        state_ = FtpState::Ready;
    } else if (state == FtpState::Unconnected) {
        Reset();
    } else {
        state_ = state;
    }
}

void CustomFtpClient::Reset() {
    userAborted_ = false;
    StopTransferTimer();
    CloseSocketsAndFile();
    // Closing the port runs DisconnectEvent, which runs this reset once
    // more inside: that inner run reports by the state it finds, and this
    // outer one then reports from Unconnected.
    std::exception_ptr failure;
    try {
        SetOpen(false);
    } catch (...) {
        failure = std::current_exception();
    }
    loggedIn_ = false;
    commands_.Clear();
    // A reply being assembled when the connection went is over with it: the
    // next connection starts with a fresh greeting.
    reply_.Reset();
    if (state_ == FtpState::Unconnected || state_ == FtpState::LoggingIn) {
        ReportStatus(scDisconnected, nullptr);
    } else {
        ReportStatus(scLoggedOut, nullptr);
        ReportLog(lcLoggedOut);
    }
    state_ = FtpState::Unconnected;
    if (failure) std::rethrow_exception(failure);
}

void CustomFtpClient::ReportStatus(FtpStatusCode code, const char* text) {
    // The copy is taken first: setting Ready drains the data connection.
    std::unique_ptr<char[]> copy(CopyText(text));
    if (code == scOperationComplete || code == scCurrentFolder || code == scInfoText || code == scTransferComplete)
        SetState(FtpState::Ready);
    if (destroying_) return;
    PostText(MsgFtpStatus, static_cast<WPARAM>(code), copy.release());
}

void CustomFtpClient::ReportError(int32_t code, const char* text) {
    std::unique_ptr<char[]> copy(CopyText(text));
    if (state_ > FtpState::Ready) SetState(FtpState::Ready);
    if (destroying_) return;
    PostText(MsgFtpError, CodeParam(code), copy.release());
}

void CustomFtpClient::ReportLog(FtpLogCode code) {
    if (messageWindow_) PostMessageW(messageWindow_, MsgFtpLog, static_cast<WPARAM>(code & 0x7F), 0);
}

void CustomFtpClient::PostText(UINT msg, WPARAM code, const char* text) {
    if (!messageWindow_ || !PostMessageW(messageWindow_, msg, code, reinterpret_cast<LPARAM>(text)))
        delete[] text;
}

// ---- port notifications -------------------------------------------------------

void CustomFtpClient::ConnectEvent() {
    KillConnectTimer();
    if (replyPacket_) replyPacket_->SetEnabled(true);
    if (BaseDispatcher* d = CurrentDispatcher())
        d->AddEventHandler(DispatchMethod::Bind<&CustomFtpClient::TimerHandler>(this));
    SetState(FtpState::LoggingIn);
}

void CustomFtpClient::DisconnectEvent() {
    KillConnectTimer();
    if (BaseDispatcher* d = CurrentDispatcher())
        d->RemoveEventHandler(DispatchMethod::Bind<&CustomFtpClient::TimerHandler>(this));
    if (replyPacket_) replyPacket_->SetEnabled(false);
    Reset();
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
    StopTransferTimer();
    if (state_ != FtpState::Ready && messageWindow_) PostMessageW(messageWindow_, MsgFtpTimeout, 0, 0);
}

void CustomFtpClient::TimeoutMessage() {
    abortFlag_ = true;
    if (state_ > FtpState::LoggingIn) SetState(FtpState::Ready);
    else Reset();
    // Fired here directly: the statuses the reset posted come after it.
    if (OnFtpStatus && !destroying_) OnFtpStatus(this, scTransferTimedOut, nullptr);
}

void CustomFtpClient::KillConnectTimer() {
    if (!connectTimerRunning_) return;
    connectTimerRunning_ = false;
    if (messageWindow_) KillTimer(messageWindow_, kFtpConnectTimerId);
}

void CustomFtpClient::ConnectTimerExpired() {
    Reset();
    KillConnectTimer();
    if (OnFtpError) OnFtpError(this, -1, nullptr);
}

// ---- data connection ------------------------------------------------------------------

bool CustomFtpClient::PrepareDataConnection() {
    try {
        return PrepareSteps();
    } catch (...) {
        try {
            CloseSocketsAndFile();
        } catch (...) {
        }
        commands_.Clear();
        return false;
    }
}

bool CustomFtpClient::PrepareSteps() {
    if (passiveMode_) {
        dataHandle_ = dataSocket_->SockOpen();
        bool result = dataHandle_ != kInvalidSocket;
        dataSocket_->SockSelectEvents(dataHandle_, kSockRead | kSockWrite | kSockClose);
        SendNextCommand();
        return result;
    }
    BaseDispatcher* d = CurrentDispatcher();
    if (!d) return false;
    int length = sizeof localAddress_;
    if (sockapi::getsockname(ToSocket(d->DeviceId()), reinterpret_cast<sockaddr*>(&localAddress_), &length) != 0)
        return false;
    if (listenHandle_ == kInvalidSocket) {
        listenHandle_ = dataSocket_->SockOpen();
        if (listenHandle_ == kInvalidSocket) return false;
    }
    dataSocket_->SockSelectEvents(listenHandle_, kSockRead | kSockWrite | kSockAccept | kSockClose);
    localAddress_.sin_family = AF_INET;
    localAddress_.sin_port = dataSocket_->PortToNet(0);
    if (dataSocket_->SockBind(listenHandle_, localAddress_) != 0) return false;
    length = sizeof localAddress_;
    if (sockapi::getsockname(ToSocket(listenHandle_), reinterpret_cast<sockaddr*>(&localAddress_), &length) != 0)
        return false;
    const auto* port = reinterpret_cast<const uint8_t*>(&localAddress_.sin_port);
    std::string argument = FtpPortArgument(dataSocket_->AddrToText(localAddress_.sin_addr.s_addr), port[0], port[1]);
    // Listening comes before the command that names the port: a server may
    // connect as soon as it reads PORT, before any transfer command.
    if (dataSocket_->SockListen(listenHandle_, 5) != 0) return false;
    SendCommand("PORT " + argument);
    return true;
}

void CustomFtpClient::ConnectPassive() {
    FtpPassiveAddress passive = FtpParsePassiveAddress(reply_.TextView());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = dataSocket_->TextToAddr(passive.host);
    address.sin_port = dataSocket_->PortToNet(passive.port);
    dataSocket_->SockConnect(dataHandle_, address);
}

int32_t CustomFtpClient::ReadDataOnce() {
    if (dataHandle_ == kInvalidSocket) return 0;
    if (state_ == FtpState::Downloading) {
        if (localFile_ == INVALID_HANDLE_VALUE || abortFlag_) return 0;
        RefreshTransferTimer();
        if (dataBuffer_.size() < kFtpBufferSize) dataBuffer_.assign(kFtpBufferSize, 0);
        int32_t n = dataSocket_->SockReceive(dataHandle_, dataBuffer_.data(), static_cast<int32_t>(kFtpBufferSize), 0);
        if (n > 0) {
            // Counted as the 32-bit value it is published as; past 2 GiB it
            // wraps instead of overflowing.
            bytesTransferred_ = static_cast<int32_t>(static_cast<uint32_t>(bytesTransferred_) + static_cast<uint32_t>(n));
            WriteLocalFile(dataBuffer_.data(), n);
            ReportStatus(scProgress, nullptr);
        }
        return n;
    }
    if (state_ == FtpState::Listing) {
        // The text stays zero-terminated inside the buffer: there is always
        // one byte after the received ones, and the buffer grows when the
        // listing reaches its end.
        size_t used = static_cast<size_t>(bytesTransferred_);
        if (used + 1 >= dataBuffer_.size() && dataBuffer_.size() < kMaxListingSize)
            dataBuffer_.resize(std::min(kMaxListingSize, dataBuffer_.size() * 2), 0);
        size_t room = dataBuffer_.size() - 1 - used;
        if (room == 0) {
            // Past the limit: received and dropped.
            char scrap[4096];
            return dataSocket_->SockReceive(dataHandle_, scrap, sizeof scrap, 0);
        }
        int32_t want = static_cast<int32_t>(std::min(room, kFtpBufferSize));
        int32_t n = dataSocket_->SockReceive(dataHandle_, dataBuffer_.data() + used, want, 0);
        if (n > 0) {
            bytesTransferred_ += n;
            dataBuffer_[static_cast<size_t>(bytesTransferred_)] = '\0';
        }
        return n;
    }
    return 0;
}

void CustomFtpClient::CloseDataConnection(bool draining) {
    std::exception_ptr failure;
    if (dataHandle_ != kInvalidSocket) {
        try {
            dataSocket_->SockSelectEvents(dataHandle_, 0);
            dataSocket_->SockShutdown(dataHandle_, 1);
            if (draining && (state_ == FtpState::Listing || state_ == FtpState::Downloading))
                while (ReadDataOnce() > 0) {
                }
            if (dataHandle_ != kInvalidSocket) dataSocket_->SockShutdown(dataHandle_, 2);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    CloseSocketsAndFile();
    if (failure) std::rethrow_exception(failure);
}

void CustomFtpClient::CloseSocketsAndFile() {
    // Failures of the closes are of no interest: nothing is reported.
    closingSockets_ = true;
    for (SocketHandle* handle : {&dataHandle_, &listenHandle_}) {
        SocketHandle s = *handle;
        *handle = kInvalidSocket;
        if (s == kInvalidSocket || !dataSocket_) continue;
        try {
            dataSocket_->SockClose(s);
        } catch (...) {
        }
    }
    closingSockets_ = false;
    ReleaseLocalFile();
}

void CustomFtpClient::OpenLocalFile(const std::string& name, FtpDownloadMode mode) {
    ReleaseLocalFile();
    std::wstring wide = ToWide(name);
    if (!FileExistsAt(name)) {
        HANDLE created = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) CloseHandle(created);
    }
    DWORD access = mode == dmReplace ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    HANDLE file = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw EFOpenError("Cannot open file " + name);
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    LARGE_INTEGER position{};
    switch (mode) {
        case dmReplace:
            downloadMode_ = dmReplace;
            position.QuadPart = 0;
            break;
        case dmAppend:
            downloadMode_ = dmAppend;
            position = size;
            break;
        default:
            downloadMode_ = dmRestart;
            // The offset is a 32-bit value: a file beyond its range resumes
            // at the largest offset it can name.
            if (restartOffset_ < 0 || restartOffset_ > size.QuadPart)
                restartOffset_ = static_cast<int32_t>(std::min<int64_t>(size.QuadPart, INT32_MAX));
            position.QuadPart = restartOffset_;
            break;
    }
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    localFile_ = file;
    if (downloadMode_ == dmRestart) {
        QueueCommand("REST " + std::to_string(restartOffset_));
        ReportLog(lcRetransfer);
    } else {
        ReportLog(lcDownloading);
    }
}

void CustomFtpClient::WriteLocalFile(const void* data, int32_t count) {
    DWORD written = 0;
    if (!WriteFile(localFile_, data, static_cast<DWORD>(count), &written, nullptr) ||
        written != static_cast<DWORD>(count))
        throw EWriteError("Stream write error");
}

void CustomFtpClient::ReleaseLocalFile() {
    HANDLE file = localFile_;
    localFile_ = INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return;
    // A replaced file that was received whole keeps nothing of the old
    // file's tail.
    if (cutAtRelease_) SetEndOfFile(file);
    cutAtRelease_ = false;
    CloseHandle(file);
}

void CustomFtpClient::DataAccept(Object*, SocketHandle) {
    if (listenHandle_ == kInvalidSocket) return;
    SocketHandle accepted = dataSocket_->SockAccept(listenHandle_, acceptAddress_);
    if (accepted == kInvalidSocket) return;
    if (dataHandle_ != kInvalidSocket) {
        // One data connection per transfer: a second one is not taken.
        closingSockets_ = true;
        dataSocket_->SockClose(accepted);
        closingSockets_ = false;
        return;
    }
    dataHandle_ = accepted;
}

void CustomFtpClient::DataClose(Object*, SocketHandle s) {
    if (s != dataHandle_ || s == kInvalidSocket) return;
    // An aborted transfer ends with the server's replies (426, 226) or the
    // transfer timer, never as complete.
    if (userAborted_) return;
    if (state_ == FtpState::Listing) {
        // What the server sent before it closed belongs to the listing,
        // even when the close is noticed before the last read.
        while (ReadDataOnce() > 0) {
        }
        ReportStatus(scInfoText, dataBuffer_.data());
    } else if (state_ == FtpState::Downloading) {
        cutAtRelease_ = downloadMode_ == dmReplace;
        ReportStatus(scTransferComplete, nullptr);
    }
}

void CustomFtpClient::DataError(Object*, SocketHandle, int32_t errorCode) {
    if (closingSockets_) return;
    // The flag is set before the report: reporting closes the data
    // connection, whose own failures must then stay silent.
    bool report = !abortFlag_;
    abortFlag_ = true;
    if (report) ReportError(errorCode, nullptr);
}

void CustomFtpClient::DataRead(Object*, SocketHandle s) {
    if (s == dataHandle_ && s != kInvalidSocket &&
        (state_ == FtpState::Listing || state_ == FtpState::Downloading))
        ReadDataOnce();
}

void CustomFtpClient::DataWrite(Object*, SocketHandle) {}

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

// ---- history log ------------------------------------------------------------------------

FtpLog::FtpLog(Component* owner) : BaseComponent(owner) {
    // A client already placed beside this log links itself to it, as one
    // placed after it does through Notification.
    if (Owner())
        for (int i = 0; i < Owner()->ComponentCount() && !ftpClient_; ++i)
            if (auto* client = dynamic_cast<CustomFtpClient*>(Owner()->Components(i)); client && !client->GetFtpLog())
                client->SetFtpLog(this);
}

FtpLog::~FtpLog() {
    if (ftpClient_ && ftpClient_->GetFtpLog() == this) ftpClient_->SetFtpLog(nullptr);
    ftpClient_ = nullptr;
}

void FtpLog::SetFtpClient(CustomFtpClient* value) {
    if (value == ftpClient_) return;
    ftpClient_ = value;
    if (value) FreeNotification(value);
}

void FtpLog::Notification(Component* component, Operation operation) {
    BaseComponent::Notification(component, operation);
    if (operation == Operation::opRemove) {
        if (component == ftpClient_) ftpClient_ = nullptr;
    } else if (!ftpClient_ && component != this) {
        if (auto* client = dynamic_cast<CustomFtpClient*>(component); client && !client->GetFtpLog())
            client->SetFtpLog(this);
    }
}

namespace {

std::string LocaleText(LCTYPE type) {
    char buffer[128];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
}

[[noreturn]] void RaiseIoError(DWORD code) {
    int32_t number = static_cast<int32_t>(code ? code : ERROR_WRITE_FAULT);
    throw EInOutError(MessageForCode(-number), number);
}

// Opens the history file for appending as the runtime's text files do: at
// its end, where a Ctrl-Z in the last 128 bytes marks the end and what
// follows it is cut. Returns the open file or the I/O error number.
HANDLE OpenForAppend(const std::wstring& name, DWORD& error) {
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return file;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart > 128 ? size.QuadPart - 128 : 0;
    SetFilePointerEx(file, from, nullptr, FILE_BEGIN);
    char tail[128];
    DWORD got = 0;
    if (ReadFile(file, tail, sizeof tail, &got, nullptr)) {
        for (DWORD i = 0; i < got; ++i)
            if (tail[i] == 0x1A) {
                LARGE_INTEGER at{};
                at.QuadPart = from.QuadPart + i;
                SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
                SetEndOfFile(file);
                break;
            }
    }
    LARGE_INTEGER zero{};
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    error = 0;
    return file;
}

}  // namespace

FtpDateTimeFormat FtpLog::SystemDateTimeFormat() {
    FtpDateTimeFormat format;
    format.ShortDateFormat = "mm/dd/yy";
    if (std::string separator = LocaleText(LOCALE_SDATE); !separator.empty()) format.DateSeparator = separator[0];
    if (std::string time = LocaleText(LOCALE_STIMEFORMAT); !time.empty()) format.LongTimeFormat = time;
    format.AmDesignator = LocaleText(LOCALE_S1159);
    format.PmDesignator = LocaleText(LOCALE_S2359);
    return format;
}

std::string FtpLog::DateTimeText(const SYSTEMTIME& when) {
    FtpDateTimeParts parts;
    parts.Year = when.wYear;
    parts.Month = when.wMonth;
    parts.Day = when.wDay;
    parts.Hour = when.wHour;
    parts.Minute = when.wMinute;
    parts.Second = when.wSecond;
    parts.Millisecond = when.wMilliseconds;
    return FtpFormatDateTime(parts, SystemDateTimeFormat());
}

void FtpLog::WriteHistory(FtpLogCode logCode) {
    if (!enabled_ || ftpHistoryName_.empty()) return;
    std::wstring name = ToWide(ftpHistoryName_);
    DWORD error = 0;
    HANDLE file = OpenForAppend(name, error);
    if (file == INVALID_HANDLE_VALUE) {
        // Missing, or held by another program: made anew, empty.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_SHARING_VIOLATION) RaiseIoError(error);
        file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) RaiseIoError(GetLastError());
    }
    FtpHistoryValues values;
    if (ftpClient_) {
        values.ServerAddress = ftpClient_->ServerAddress();
        values.UserName = ftpClient_->UserName();
        values.RemoteFileName = ftpClient_->RemoteFileName();
        values.LocalFileName = ftpClient_->LocalFileName();
        values.BytesTransferred = ftpClient_->BytesTransferred();
        values.RestartOffset = ftpClient_->RestartOffset();
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string line = FtpHistoryLine(DateTimeText(now), logCode, values);
    DWORD written = 0;
    DWORD failure = 0;
    if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        failure = GetLastError();
    else if (written != line.size())
        failure = 101;  // the runtime's "Disk write error"
    if (!CloseHandle(file) && !failure) failure = GetLastError();
    if (failure) RaiseIoError(failure);
}

const PropertyTable& FtpLog::StaticProperties() {
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        BooleanProperty<FtpLog>("Enabled", &FtpLog::Enabled, &FtpLog::SetEnabled),
        StringProperty<FtpLog>("FtpHistoryName", &FtpLog::FtpHistoryName, &FtpLog::SetFtpHistoryName),
        ReferenceProperty<FtpLog, CustomFtpClient>("FtpClient", &FtpLog::GetFtpClient, &FtpLog::SetFtpClient),
    });
    return table;
}

const PropertyTable& FtpLog::Properties() const { return StaticProperties(); }

void RegisterFtpClasses() {
    RegisterComponentClass<FtpClient>("FtpClient");
    RegisterComponentClass<FtpLog>("FtpLog");
}

}  // namespace qv
