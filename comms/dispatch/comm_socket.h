// CommSocket: a non-visual component over IPv4 stream sockets of the
// run-time bound socket library. It starts the library for itself, owns a
// message-only notification window, has the library report socket events
// there as MsgSocketEvent, and turns each report into one of six
// overridable notifications, which fire the component's events.
//
// Every operation (except NotifyWindow) first checks start-up and raises
// ESocketException when it failed. Failed calls are reported through
// HandleError (whose default raises unless OnError is assigned), except the
// would-block code 10035 for connect, listen, receive, send and shutdown.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "framework/component.h"
#include "framework/exception.h"
#include "framework/message_window.h"
#include "framework/owned_handle.h"

namespace qv {

// Socket handles are plain 32-bit values; all bits set is the invalid
// handle and the failure result of the socket calls.
using SocketHandle = int32_t;
inline constexpr SocketHandle kInvalidSocket = -1;
inline constexpr int32_t kSocketError = -1;
inline SOCKET ToSocket(SocketHandle s) { return static_cast<SOCKET>(static_cast<intptr_t>(s)); }
inline SocketHandle FromSocket(SOCKET s) { return static_cast<SocketHandle>(static_cast<intptr_t>(s)); }

// The socket library's notification, and the device socket's reports to a
// port's window (the port layer uses the same number).
inline constexpr UINT MsgSocketEvent = 0x0B11;

// The device socket's reports to a port's window (MsgSocketEvent wParam);
// any other value is a socket error number.
inline constexpr WPARAM kReportPeerWaiting = 8;          // lParam: its address; answer 1 keeps it
inline constexpr WPARAM kReportConnected = 16;           // a client connection is up
inline constexpr WPARAM kReportOwnSocketClosed = 32;     // the peer closed the connection's own socket
inline constexpr WPARAM kReportAcceptedPeerClosed = 48;  // a server connection's peer closed

// Event bits of SockSelectEvents.
inline constexpr int32_t kSockRead = 1, kSockWrite = 2, kSockOob = 4, kSockAccept = 8, kSockConnect = 16,
                         kSockClose = 32;

// Start-up codes.
inline constexpr int32_t kErrLoadingWinsock = 9002;
inline constexpr int32_t kErrWinsockVersion = 9003;
inline constexpr int32_t kErrWinsockNotInitialized = 9004;
inline constexpr int32_t kWouldBlock = 10035;

class ESocketException : public Exception {
public:
    // The plain form: the message text of the code.
    explicit ESocketException(int32_t code);
    // The start-up form: "Winsock not initialized - " and the code's text.
    static ESocketException Startup(int32_t code);
    int32_t SocketErrorCode() const { return socketErrorCode_; }

private:
    ESocketException(std::string message, int32_t code) : Exception(std::move(message)), socketErrorCode_(code) {}
    int32_t socketErrorCode_;
};

class CommSocket;

// An open socket that closes itself (framework/owned_handle.h), through the
// component that opened it (which reports a failed close and drops the
// reports still queued for the socket): the one way this program holds a
// socket it must close (a connection's own and accepted sockets, the FTP
// data and listening sockets).
//
//   OwnedSocket data = socket.OpenOwned();          // raises like SockOpen
//   socket.SockConnect(data.Get(), address);
//   data.Close();                                    // or when `data` goes
struct SocketCloser {
    using Handle = SocketHandle;
    using Result = int32_t;
    static Handle Invalid() { return kInvalidSocket; }
    Result Close(Handle s) const;  // SockClose through `via`
    CommSocket* via = nullptr;
};
using OwnedSocket = OwnedHandle<SocketCloser>;

using SocketNotifyEvent = std::function<void(Object* Sender, SocketHandle Socket)>;
using SocketErrorEvent = std::function<void(Object* Sender, SocketHandle Socket, int32_t ErrorCode)>;

class CommSocket : public Component {
public:
    explicit CommSocket(Component* owner);
    ~CommSocket() override;
    std::string ClassName() const override { return "CommSocket"; }

    SocketNotifyEvent OnAccept;
    SocketNotifyEvent OnConnect;
    SocketNotifyEvent OnClose;
    SocketErrorEvent OnError;
    SocketNotifyEvent OnRead;
    SocketNotifyEvent OnWrite;

    bool LibraryBound() const { return libraryBound_; }
    int32_t StartupError() const { return startupError_; }
    const WSADATA& StartupInfo() const { return startupInfo_; }
    HWND NotifyWindow() const { return notifyWindow_ ? notifyWindow_->Handle() : nullptr; }

    // Raises ESocketException (start-up form) unless start-up succeeded.
    void EnsureStarted() const;
    int32_t LastSockError();

    SocketHandle SockOpen();
    // SockOpen and SockAccept with the new socket owned by the caller.
    OwnedSocket OpenOwned() { return OwnedSocket(SockOpen(), SocketCloser{this}); }
    OwnedSocket AcceptOwned(SocketHandle listening, sockaddr_in& address) {
        return OwnedSocket(SockAccept(listening, address), SocketCloser{this});
    }
    int32_t SockConnect(SocketHandle s, const sockaddr_in& address);
    int32_t SockBind(SocketHandle s, const sockaddr_in& address);
    int32_t SockListen(SocketHandle s, int32_t backlog);
    SocketHandle SockAccept(SocketHandle listening, sockaddr_in& address);
    int32_t SockClose(SocketHandle s);
    int32_t SockReceive(SocketHandle s, void* buffer, int32_t size, int32_t flags);
    int32_t SockSend(SocketHandle s, const void* buffer, int32_t length, int32_t flags);
    int32_t SockShutdown(SocketHandle s, int32_t how);
    int32_t SockSetOption(SocketHandle s, int32_t level, int32_t option, const void* value, int32_t length);
    int32_t SockSelectEvents(SocketHandle s, int32_t mask);

    // Lookups: nothing is reported when they fail.
    std::string AddrToText(uint32_t address);           // network order in
    uint32_t TextToAddr(const std::string& text);       // all bits set when not dotted
    uint32_t ResolveHostName(const std::string& name);  // 0 when not found
    uint16_t ResolveServiceName(const std::string& name);  // host order; 0 when not found
    uint16_t PortToNet(uint16_t port);
    uint16_t PortFromNet(uint16_t port);

    // The notifications, in slot order.
    virtual void HandleAccept(SocketHandle s);
    virtual void HandleConnect(SocketHandle s);
    virtual void HandleClose(SocketHandle s);
    virtual void HandleError(SocketHandle s, int32_t errorCode);
    virtual void HandleRead(SocketHandle s);
    virtual void HandleWrite(SocketHandle s);

protected:
    // A report that carries an error code (with the event it came with):
    // only HandleError.
    virtual void HandleErrorReport(SocketHandle s, int32_t event, int32_t errorCode);

private:
    void SocketEvent(WPARAM wParam, LPARAM lParam);
    // Reports a failed call unless its code is excepted.
    void Report(SocketHandle s, bool wouldBlockExcepted);

    // Made only once the socket library has started.
    std::optional<MessageWindow> notifyWindow_;
    bool libraryBound_ = false;
    int32_t startupError_ = 0;
    WSADATA startupInfo_{};
    // Sockets closed here whose queued reports are still to be dropped: a
    // closed socket's number can be reused at once, and a report queued for
    // the old socket must not be taken for the new one. Each close posts a
    // marker behind those reports; until it arrives, reports for that
    // number are stale.
    std::map<SocketHandle, int> staleSockets_;
};

}  // namespace qv
