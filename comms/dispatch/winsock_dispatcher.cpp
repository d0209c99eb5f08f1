#include "comms/dispatch/winsock_dispatcher.h"

#include <algorithm>

#include "framework/application.h"
#include "framework/exception.h"

namespace qv {

namespace {

constexpr wchar_t kDispatchWindowClass[] = L"commDispatch";
constexpr UINT kPollPeriodMs = 50;

DeviceSocket* g_deviceSocket = nullptr;

WinsockDispatcher* WinsockByTimer(UINT_PTR id) {
    return static_cast<WinsockDispatcher*>(BaseDispatcher::FirstRegistered([id](BaseDispatcher* d) {
        auto* w = dynamic_cast<WinsockDispatcher*>(d);
        return w && w->TimerId() == id;
    }));
}

// The TCP dispatcher of a connection's own socket, or none.
WinsockDispatcher* WinsockByDevice(SocketHandle own) {
    return static_cast<WinsockDispatcher*>(
        BaseDispatcher::FindDispatcher(own, &BaseDispatcher::IsA<WinsockDispatcher>));
}

void CALLBACK DispatcherTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    try {
        if (WinsockDispatcher* d = WinsockByTimer(id)) d->ServicePoll(false);
    } catch (...) {
        Application::Instance().HandleCurrentException();
    }
}

}  // namespace

// ---- connection --------------------------------------------------------

WsConnection::WsConnection(DeviceSocket* owner, OwnedSocket own, int32_t inSize, int32_t outSize)
    : Component(owner), device_(owner), own_(std::move(own)), stream_(inSize, outSize + 4096, *this) {
    stream_.TerminalType = owner->TerminalType;
}

void WsConnection::SetState(ConnectionState state) {
    state_ = state;
    if (dispatcher_) dispatcher_->SetModemStatusBit(kModemCarrierDetect, state == csOpen);
}

void WsConnection::SetDispatcher(WinsockDispatcher* d) {
    if (dispatcher_ && dispatcher_ != d) dispatcher_->SetModemStatusBit(kModemCarrierDetect, false);
    dispatcher_ = d;
    if (d) d->SetModemStatusBit(kModemCarrierDetect, state_ == csOpen);
}

void WsConnection::CloseSockets() {
    OwnedSocket peer = LetPeerGo();
    peer.Close();
    own_.Close();
}

int32_t WsConnection::LinkReceive(uint8_t* buffer, int32_t size) {
    SocketHandle peer = PeerSocket();
    if (peer == kInvalidSocket || Retiring()) return 0;
    int32_t r = device_->SockReceive(peer, buffer, size, 0);
    if (r > 0) received_ += static_cast<uint64_t>(r);
    return r > 0 ? r : 0;
}

int32_t WsConnection::LinkSend(const uint8_t* data, int32_t count) {
    SocketHandle peer = PeerSocket();
    if (peer == kInvalidSocket || Retiring()) return 0;
    int32_t r = device_->SockSend(peer, data, count, 0);
    return r > 0 ? r : 0;
}

void WsConnection::LinkLog(uint8_t type, uint8_t subtype, int32_t value, const uint8_t* data, int32_t length) {
    if (dispatcher_ && dispatcher_->LoggingOn()) dispatcher_->AddLogEntry(type, subtype, length, data, value);
}

int32_t WsConnection::ReadFromConnection(uint8_t* buffer, int32_t size) {
    Use use(*this);  // a report met on the socket may close the connection
    if (ConnState == csOpen) stream_.Pull();
    if (size <= 0) return 0;
    int32_t n = stream_.Deliver(buffer, size);
    delivered_ += static_cast<uint64_t>(n);
    return n;
}

int32_t WsConnection::WriteToConnection(const uint8_t* data, int32_t count) {
    Use use(*this);  // a report met on the socket may close the connection
    int32_t accepted = stream_.Store(data, count);
    OutPending += accepted;
    if (PeerSocket() != kInvalidSocket) stream_.SendStored();
    return accepted;
}

int32_t WsConnection::InputCount() {
    Use use(*this);  // a report met on the socket may close the connection
    if (stream_.InputFull()) return stream_.InputSize();
    if (ConnState == csOpen) stream_.Pull();
    return stream_.InputRaw();
}

int32_t WsConnection::OutputCount() {
    Use use(*this);  // a report met on the socket may close the connection
    if (ConnState == csOpen) {
        if (!stream_.OutputEmpty()) {
            if (PeerSocket() != kInvalidSocket) stream_.SendStored();
        } else {
            OutPending = 0;
        }
    }
    return OutPending;
}

// ---- dispatcher --------------------------------------------------------

WinsockDispatcher::WinsockDispatcher(DispatcherOwner* owner) : BaseDispatcher(owner) {}

void WinsockDispatcher::SetConnectParams(uint32_t address, uint16_t port, bool telnet, bool client) {
    remote_ = sockaddr_in{};
    remote_.sin_family = AF_INET;
    remote_.sin_port = port;
    remote_.sin_addr.s_addr = address;
    local_.sin_family = AF_INET;
    if (!client) local_.sin_port = port;
    telnetOn_ = telnet;
    isClient_ = client;
}

WsConnection* WinsockDispatcher::Connection() const {
    DeviceSocket* ds = DeviceSocketInstance();
    if (!ds || deviceId_ < 0) return nullptr;
    WsConnection* c = ds->ConnectionOf(deviceId_);
    return c && c->OwnSocket() == deviceId_ ? c : nullptr;
}

LRESULT WinsockDispatcher::NotifyOwner(WPARAM wParam, LPARAM lParam) {
    DeliveryScope report(*this);
    HWND window = owner_ ? owner_->DispatcherOwnerWindow() : nullptr;
    return window ? SendMessageW(window, MsgSocketEvent, wParam, lParam) : 0;
}

int32_t WinsockDispatcher::DeviceEscape(int32_t) { return 0; }

int32_t WinsockDispatcher::DeviceFlush(int32_t queue) {
    if (WsConnection* c = Connection()) {
        if (queue == 0) c->Stream().FlushOutput();
        else if (queue == 1) c->Stream().FlushInput();
    }
    return 0;
}

int32_t WinsockDispatcher::DeviceStatus(DeviceCounts& counts) {
    if (setupError_ != 0) return setupError_;
    if (WsConnection* c = Connection()) {
        // Pulling the input may meet a failure whose report closes the
        // device: the connection is then on its way out and not asked again.
        Use use(*c);
        counts.InputCount = c->InputCount();
        if (!c->Retiring()) counts.OutputCount = c->OutputCount();
    }
    DeviceSocket* ds = DeviceSocketInstance();
    if (!ds || ds->StartupError() != 0) return 0;
    return ds->LastSockError();
}

void WinsockDispatcher::DeviceReadFailed(int32_t) {}

int32_t WinsockDispatcher::DeviceGetLine(LineSettings& settings) {
    settings.Baud = 19200;
    settings.DataBits = 8;
    settings.Parity = 0;
    settings.StopBits = 1;
    return 0;
}

int32_t WinsockDispatcher::DeviceRead(uint8_t* buffer, int32_t size) {
    WsConnection* c = Connection();
    return c ? c->ReadFromConnection(buffer, size) : 0;
}

int32_t WinsockDispatcher::DeviceSetLine(const LineSettings&) { return 0; }

int32_t WinsockDispatcher::DeviceWrite(const uint8_t* buffer, int32_t count) {
    WsConnection* c = Connection();
    return c ? c->WriteToConnection(buffer, count) : 0;
}

bool WinsockDispatcher::DeviceWaitEvent(uint32_t&) { return true; }

int32_t WinsockDispatcher::DeviceOpen(const char*, int32_t inSize, int32_t outSize) {
    DeviceSocket* ds = DeviceSocketInstance();
    if (!ds) return kErrNoDeviceLayer;
    try {
        return ds->CreateConnection(inSize, outSize)->OwnSocket();
    } catch (const ESocketException& e) {
        return -e.SocketErrorCode();
    }
}

bool WinsockDispatcher::DeviceSetup(int32_t, int32_t) {
    DeviceSocket* ds = DeviceSocketInstance();
    WsConnection* c = Connection();
    if (!ds || !c) {
        setupError_ = WSAENOTSOCK;
        return false;
    }
    SocketHandle own = c->OwnSocket();
    // Runs one setup call; false when it failed with a code other than
    // would-block (the code is kept: later calls may change the library's
    // last error before the caller reads it).
    auto step = [&](int32_t r) {
        if (r != kSocketError) return true;
        int32_t code = ds->LastReportedError();
        if (code == 0) code = ds->LastSockError();
        if (code == kWouldBlock) return true;
        setupError_ = code;
        return false;
    };
    int32_t reuse = -1;
    ds->ClearReportedError();
    if (!step(ds->SockSetOption(own, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse))) return false;
    ds->ClearReportedError();
    if (!step(ds->SockBind(own, local_))) return false;
    ds->ClearReportedError();
    if (!step(ds->SockSelectEvents(own, kSockRead | kSockWrite | kSockAccept | kSockConnect | kSockClose)))
        return false;
    ds->ClearReportedError();
    if (!step(isClient_ ? ds->SockConnect(own, remote_) : ds->SockListen(own, 5))) return false;
    // The report of a failed call may have closed the device meanwhile.
    c = Connection();
    if (!c) {
        setupError_ = WSAENOTSOCK;
        return false;
    }
    c->IsClient = isClient_;
    c->Stream().TelnetOn = telnetOn_;
    c->SetDispatcher(this);
    return true;
}

void WinsockDispatcher::StartDispatch() {
    if (Started()) throw Exception("Dispatcher already started");
    SetStarted(true);
    timerId_ = SetTimer(nullptr, 0, kPollPeriodMs, DispatcherTimerProc);
    if (timerId_ == 0) throw Exception("Resource not available");
    window_.emplace(kDispatchWindowClass, this);
    // The device socket wakes the dispatcher of a connection that has data.
    window_->On(MsgSocketEvent, [this](WPARAM wParam, LPARAM) {
        if (FromSocket(static_cast<SOCKET>(wParam)) == deviceId_) ServicePoll(false);
        return LRESULT(0);
    });
}

void WinsockDispatcher::StopDispatch() {
    if (!Started()) return;
    if (timerId_) KillTimer(nullptr, timerId_);
    timerId_ = 0;
    window_.reset();
    SetStarted(false);
}

int32_t WinsockDispatcher::DeviceClose() {
    DeviceSocket* ds = DeviceSocketInstance();
    return ds ? ds->CloseConnection(deviceId_) : -1;
}

void WinsockDispatcher::DevicePoll() { ServicePoll(true); }

// ---- device socket -----------------------------------------------------

DeviceSocket::DeviceSocket(Component* owner) : CommSocket(owner) {}

DeviceSocket::~DeviceSocket() {
    // Connections are normally freed by their ports before this.
    DestroyComponents();
}

WsConnection* DeviceSocket::ConnectionOf(SocketHandle s) {
    if (s == kInvalidSocket) return nullptr;
    LockGuard guard(connLock_);
    // A walk of the open connections (one per open TCP port); a closed
    // one has left the list already.
    for (int i = 0; i < ComponentCount(); ++i) {
        auto* c = dynamic_cast<WsConnection*>(Components(i));
        if (c && (c->PeerSocket() == s || c->OwnSocket() == s)) return c;
    }
    return nullptr;
}

SocketHandle DeviceSocket::OwnSocketOf(SocketHandle s) {
    WsConnection* c = ConnectionOf(s);
    return c ? c->OwnSocket() : kInvalidSocket;
}

LRESULT DeviceSocket::NotifyPort(SocketHandle own, WPARAM wParam, LPARAM lParam) {
    WinsockDispatcher* d = WinsockByDevice(own);
    return d ? d->NotifyOwner(wParam, lParam) : 0;
}

void DeviceSocket::WakeDispatcher(SocketHandle own) {
    WinsockDispatcher* d = WinsockByDevice(own);
    if (d && d->DispatchWindow()) SendMessageW(d->DispatchWindow(), MsgSocketEvent, ToSocket(own), 0);
}

WsConnection* DeviceSocket::CreateConnection(int32_t inSize, int32_t outSize) {
    LockGuard guard(connLock_);
    return new WsConnection(this, OpenOwned(), inSize, outSize);
}

void DeviceSocket::ForgetConnection(WsConnection* c) {
    LockGuard guard(connLock_);
    c->SetDispatcher(nullptr);
    Free(c);  // leaves the list at once; goes when its running operation ends
}

int32_t DeviceSocket::CloseConnection(SocketHandle own) {
    LockGuard guard(connLock_);
    WsConnection* c = ConnectionOf(own);
    if (!c || c->OwnSocket() != own) return -1;
    Use use(*c);  // its sockets close after it has left every lookup
    c->SetState(csClosed);
    ForgetConnection(c);
    c->CloseSockets();
    return 0;
}

void DeviceSocket::DrainBeforeClose(SocketHandle s) {
    for (int round = 0; round < 64; ++round) {
        WsConnection* c = ConnectionOf(s);
        if (!c || !c->ConnDispatcher() || c->ConnState != csOpen) return;
        uint64_t before = c->Progress();
        WakeDispatcher(c->OwnSocket());
        c = ConnectionOf(s);
        if (!c || c->Progress() == before) return;
    }
}

void DeviceSocket::HandleAccept(SocketHandle s) {
    WsConnection* c = ConnectionOf(s);
    WinsockDispatcher* d = c ? c->ConnDispatcher() : nullptr;
    if (!c || !d || s != c->OwnSocket()) {
        CommSocket::HandleAccept(s);
        return;
    }
    if (c->PeerSocket() != kInvalidSocket) {
        // One peer per connection: a second one is accepted and let go.
        sockaddr_in other{};
        AcceptOwned(s, other).Close();
        return;
    }
    OwnedSocket peer = AcceptOwned(s, d->RemoteAddrRecord());
    if (!peer) {
        d->ZeroRemoteAddr();
        return;
    }
    c->TakeAcceptedPeer(std::move(peer));
    uint32_t address = d->RemoteAddr().sin_addr.s_addr;
    Use connection(*c), dispatcher(*d);  // the port may close while it decides
    LRESULT answer = NotifyPort(s, kReportPeerWaiting, static_cast<LPARAM>(address));
    if (c->Retiring() || d->Retiring()) return;  // closed meanwhile; its close closed the peer
    if (answer == 1) {
        c->SetState(csOpen);
    } else {
        c->LetPeerGo().Close();
        d->ZeroRemoteAddr();
    }
    CommSocket::HandleAccept(s);
}

void DeviceSocket::HandleConnect(SocketHandle s) {
    WsConnection* c = ConnectionOf(s);
    if (!c) return;
    c->SetState(csOpen);
    if (c->IsClient) c->PeerIsOwnSocket();
    NotifyPort(s, kReportConnected, 0);
    CommSocket::HandleConnect(s);
}

void DeviceSocket::HandleClose(SocketHandle s) {
    DrainBeforeClose(s);
    if (WsConnection* c = ConnectionOf(s)) {
        SocketHandle own = c->OwnSocket();
        // An accepted peer's socket is closed once the port has heard of it.
        OwnedSocket accepted = PeerGone(*c);
        NotifyPort(own, s == own ? kReportOwnSocketClosed : kReportAcceptedPeerClosed, 0);
    }
    CommSocket::HandleClose(s);
}

OwnedSocket DeviceSocket::PeerGone(WsConnection& c) {
    if (WinsockDispatcher* d = WinsockByDevice(c.OwnSocket())) d->ZeroRemoteAddr();
    c.SetState(csClosed);
    return c.LetPeerGo();
}

void DeviceSocket::HandleErrorReport(SocketHandle s, int32_t event, int32_t errorCode) {
    WsConnection* c = event == kSockClose ? ConnectionOf(s) : nullptr;
    if (!c || c->IsClient || s != c->PeerSocket() || s == c->OwnSocket()) {
        CommSocket::HandleErrorReport(s, event, errorCode);
        return;
    }
    // A peer of a server connection reset: the close comes with an error
    // code. The accepted socket goes as at any close (the next peer is
    // taken); the port hears the error.
    lastReportedError_ = errorCode;
    SocketHandle own = c->OwnSocket();
    OwnedSocket accepted = PeerGone(*c);
    NotifyPort(own, static_cast<WPARAM>(errorCode), 0);
    accepted.Close();
    if (OnError) OnError(this, s, errorCode);
}

void DeviceSocket::HandleError(SocketHandle s, int32_t errorCode) {
    lastReportedError_ = errorCode;
    SocketHandle own = OwnSocketOf(s);
    if (own != kInvalidSocket) NotifyPort(own, static_cast<WPARAM>(errorCode), 0);
    if (OnError) OnError(this, s, errorCode);
}

void DeviceSocket::HandleRead(SocketHandle s) {
    SocketHandle own = OwnSocketOf(s);
    if (own != kInvalidSocket) WakeDispatcher(own);
    CommSocket::HandleRead(s);
}

void DeviceSocket::HandleWrite(SocketHandle s) { CommSocket::HandleWrite(s); }

// ---- process-wide ------------------------------------------------------

DeviceSocket* DeviceSocketInstance() { return g_deviceSocket; }

void CreateDeviceSocket() {
    if (!g_deviceSocket) g_deviceSocket = new DeviceSocket(nullptr);
}

void DestroyDeviceSocket() {
    Free(g_deviceSocket);
    g_deviceSocket = nullptr;
}

void RegisterDispatchWindowClass() { MessageWindow::RegisterClass(kDispatchWindowClass); }

void UnregisterDispatchWindowClass() { MessageWindow::UnregisterClass(kDispatchWindowClass); }

}  // namespace qv
