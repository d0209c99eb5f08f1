#include "comms/dispatch/comm_socket.h"

#include <cstring>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc_core.h"
#include "comms/dispatch/socket_binding.h"
#include "framework/application.h"

namespace qv {

namespace {

constexpr wchar_t kSocketWindowClass[] = L"commSocketWindow";
// lParam of the marker a close posts behind the reports of its socket; the
// library never reports this event code.
constexpr LPARAM kStaleMarker = 0xFFFF;
constexpr size_t kMaxName = 255;

}  // namespace

// ---- exception ---------------------------------------------------------

ESocketException::ESocketException(int32_t code) : Exception(MessageForCode(code)), socketErrorCode_(code) {}

ESocketException ESocketException::Startup(int32_t code) {
    return ESocketException(FillPlaceholder(MessageForCode(kErrWinsockNotInitialized), MessageForCode(code)), code);
}

// ---- owned socket ------------------------------------------------------

int32_t SocketCloser::Close(SocketHandle s) const { return via ? via->SockClose(s) : 0; }

// ---- life cycle --------------------------------------------------------

CommSocket::CommSocket(Component* owner) : Component(owner) {
    libraryBound_ = BindSocketLibrary();
    if (!libraryBound_) {
        startupError_ = kErrLoadingWinsock;
        return;
    }
    startupError_ = sockapi::WSAStartup(0x0101, &startupInfo_);
    if (startupError_ != 0) return;
    if (LOBYTE(startupInfo_.wVersion) != 1 || HIBYTE(startupInfo_.wVersion) != 1) startupError_ = kErrWinsockVersion;
    // Messages without a handler are answered 0 (not the default
    // procedure); the system may always end the session.
    notifyWindow_.emplace(kSocketWindowClass, this);
    notifyWindow_->SetFallback([](UINT, WPARAM, LPARAM) { return LRESULT(0); });
    notifyWindow_->On(WM_QUERYENDSESSION, [](WPARAM, LPARAM) { return LRESULT(1); });
    notifyWindow_->On(MsgSocketEvent, [this](WPARAM wParam, LPARAM lParam) {
        SocketEvent(wParam, lParam);
        return LRESULT(0);
    });
}

CommSocket::~CommSocket() {
    if (libraryBound_) {
        sockapi::WSACancelBlockingCall();
        sockapi::WSACleanup();
    }
}

// ---- notifications -----------------------------------------------------

void CommSocket::SocketEvent(WPARAM wParam, LPARAM lParam) {
    SocketHandle s = FromSocket(static_cast<SOCKET>(wParam));
    auto stale = staleSockets_.find(s);
    if (lParam == kStaleMarker) {
        if (stale != staleSockets_.end() && --stale->second <= 0) staleSockets_.erase(stale);
        return;
    }
    if (stale != staleSockets_.end()) return;  // queued for a socket closed since
    int32_t event = WSAGETSELECTEVENT(lParam);
    int32_t error = WSAGETSELECTERROR(lParam);
    if (error != 0) {
        HandleErrorReport(s, event, error);
        return;
    }
    switch (event) {
        case kSockRead: HandleRead(s); break;
        case kSockWrite: HandleWrite(s); break;
        case kSockAccept: HandleAccept(s); break;
        case kSockConnect: HandleConnect(s); break;
        case kSockClose: HandleClose(s); break;
        default: break;
    }
}

void CommSocket::HandleErrorReport(SocketHandle s, int32_t, int32_t errorCode) { HandleError(s, errorCode); }

void CommSocket::HandleAccept(SocketHandle s) {
    if (OnAccept) OnAccept(this, s);
}
void CommSocket::HandleConnect(SocketHandle s) {
    if (OnConnect) OnConnect(this, s);
}
void CommSocket::HandleClose(SocketHandle s) {
    if (OnClose) OnClose(this, s);
}
void CommSocket::HandleError(SocketHandle s, int32_t errorCode) {
    if (OnError) OnError(this, s, errorCode);
    else throw ESocketException(errorCode);
}
void CommSocket::HandleRead(SocketHandle s) {
    if (OnRead) OnRead(this, s);
}
void CommSocket::HandleWrite(SocketHandle s) {
    if (OnWrite) OnWrite(this, s);
}

// ---- operations --------------------------------------------------------

void CommSocket::EnsureStarted() const {
    if (startupError_ != 0) throw ESocketException::Startup(startupError_);
}

int32_t CommSocket::LastSockError() {
    EnsureStarted();
    return sockapi::WSAGetLastError();
}

void CommSocket::Report(SocketHandle s, bool wouldBlockExcepted) {
    int32_t code = LastSockError();
    if (wouldBlockExcepted && code == kWouldBlock) return;
    HandleError(s, code);
}

SocketHandle CommSocket::SockOpen() {
    EnsureStarted();
    SOCKET s = sockapi::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) throw ESocketException(LastSockError());
    return FromSocket(s);
}

int32_t CommSocket::SockConnect(SocketHandle s, const sockaddr_in& address) {
    EnsureStarted();
    sockaddr_in local;
    std::memcpy(&local, &address, sizeof local);
    int32_t r = sockapi::connect(ToSocket(s), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    if (r == kSocketError) Report(s, true);
    return r;
}

int32_t CommSocket::SockBind(SocketHandle s, const sockaddr_in& address) {
    EnsureStarted();
    int32_t r = sockapi::bind(ToSocket(s), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (r == kSocketError) Report(s, false);
    return r;
}

int32_t CommSocket::SockListen(SocketHandle s, int32_t backlog) {
    EnsureStarted();
    int32_t r = sockapi::listen(ToSocket(s), backlog);
    if (r == kSocketError) Report(s, true);
    return r;
}

SocketHandle CommSocket::SockAccept(SocketHandle listening, sockaddr_in& address) {
    EnsureStarted();
    int length = sizeof address;
    SOCKET r = sockapi::accept(ToSocket(listening), reinterpret_cast<sockaddr*>(&address), &length);
    if (r == INVALID_SOCKET) {
        Report(listening, false);
        return kInvalidSocket;
    }
    return FromSocket(r);
}

int32_t CommSocket::SockClose(SocketHandle s) {
    EnsureStarted();
    int32_t r = sockapi::closesocket(ToSocket(s));
    if (r == kSocketError) {
        Report(s, false);
    } else if (notifyWindow_ && notifyWindow_->Post(MsgSocketEvent, ToSocket(s), kStaleMarker)) {
        ++staleSockets_[s];
    }
    return r;
}

int32_t CommSocket::SockReceive(SocketHandle s, void* buffer, int32_t size, int32_t flags) {
    EnsureStarted();
    int32_t r = sockapi::recv(ToSocket(s), static_cast<char*>(buffer), size, flags);
    if (r == kSocketError) Report(s, true);
    return r;
}

int32_t CommSocket::SockSend(SocketHandle s, const void* buffer, int32_t length, int32_t flags) {
    EnsureStarted();
    int32_t r = sockapi::send(ToSocket(s), static_cast<const char*>(buffer), length, flags);
    if (r == kSocketError) Report(s, true);
    return r;
}

int32_t CommSocket::SockShutdown(SocketHandle s, int32_t how) {
    EnsureStarted();
    int32_t r = sockapi::shutdown(ToSocket(s), how);
    if (r == kSocketError) Report(s, true);
    return r;
}

int32_t CommSocket::SockSetOption(SocketHandle s, int32_t level, int32_t option, const void* value, int32_t length) {
    EnsureStarted();
    int32_t r = sockapi::setsockopt(ToSocket(s), level, option, static_cast<const char*>(value), length);
    if (r == kSocketError) Report(s, false);
    return r;
}

int32_t CommSocket::SockSelectEvents(SocketHandle s, int32_t mask) {
    EnsureStarted();
    int32_t r = sockapi::WSAAsyncSelect(ToSocket(s), NotifyWindow(), MsgSocketEvent, mask);
    if (r == kSocketError) Report(s, false);
    return r;
}

std::string CommSocket::AddrToText(uint32_t address) {
    EnsureStarted();
    in_addr a;
    a.s_addr = address;
    const char* text = sockapi::inet_ntoa(a);
    return text ? std::string(text).substr(0, 15) : std::string();
}

uint32_t CommSocket::TextToAddr(const std::string& text) {
    EnsureStarted();
    return static_cast<uint32_t>(sockapi::inet_addr(text.substr(0, 15).c_str()));
}

uint32_t CommSocket::ResolveHostName(const std::string& name) {
    EnsureStarted();
    hostent* host = sockapi::gethostbyname(name.substr(0, kMaxName).c_str());
    if (!host || !host->h_addr_list || !host->h_addr_list[0] || host->h_length < 4) return 0;
    uint32_t address;
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return address;
}

uint16_t CommSocket::ResolveServiceName(const std::string& name) {
    EnsureStarted();
    servent* service = sockapi::getservbyname(name.substr(0, kMaxName).c_str(), "tcp");
    if (!service) return 0;
    return sockapi::ntohs(static_cast<u_short>(service->s_port));
}

uint16_t CommSocket::PortToNet(uint16_t port) {
    EnsureStarted();
    return sockapi::htons(port);
}

uint16_t CommSocket::PortFromNet(uint16_t port) {
    EnsureStarted();
    return sockapi::ntohs(port);
}

}  // namespace qv
