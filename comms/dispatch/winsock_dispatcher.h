// A TCP connection as the device of a dispatcher.
//
//  - WinsockDispatcher: the device operations for one connection, opened as
//    a client (connect) or a server (listen); trigger passes run from a
//    50 ms timer and from read notifications, all on the thread that opened
//    it. No thread of its own.
//  - DeviceSocket: the process-wide socket component (DeviceSocketInstance)
//    that owns every connection and receives all their notifications. It
//    reports to the owning port's window with MsgSocketEvent, wParam one of
//    the reports below or a socket error number.
//  - WsConnection: one connection's sockets, rings and Telnet state.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "comms/dispatch/comm_socket.h"
#include "comms/dispatch/dispatcher.h"
#include "comms/dispatch/telnet_stream.h"
#include "framework/component.h"
#include "framework/message_window.h"
#include "framework/win32_lock.h"

namespace qv {

// A connection's state (ConnState).
enum ConnectionState : uint8_t { csClosed = 0, csOpen = 1 };

class DeviceSocket;
class WinsockDispatcher;

class WsConnection : public Component, private StreamLink {
public:
    // own: the connection's socket (made by the device socket).
    WsConnection(DeviceSocket* owner, OwnedSocket own, int32_t inSize, int32_t outSize);
    std::string ClassName() const override { return "WsConnection"; }

    // The connection's own socket (connecting or listening).
    SocketHandle OwnSocket() const { return own_.Get(); }
    // The socket that carries the data: the own socket once connected
    // (client), the accepted one (server); -1 when none.
    SocketHandle PeerSocket() const { return peerIsOwn_ ? own_.Get() : accepted_.Get(); }
    // Client: the connect has completed.
    void PeerIsOwnSocket() { peerIsOwn_ = true; }
    // Server: a peer was accepted; the connection owns its socket now.
    void TakeAcceptedPeer(OwnedSocket peer) {
        accepted_ = std::move(peer);
        peerIsOwn_ = false;
    }
    // The peer has gone: no peer socket any more. An accepted socket is
    // handed back, for the caller to close when it sees fit.
    OwnedSocket LetPeerGo() {
        peerIsOwn_ = false;
        return std::move(accepted_);
    }
    // Closes the accepted socket (server), then the own one.
    void CloseSockets();

    // The connection's state. Written only by SetState, so that the
    // carrier-detect bit of its dispatcher's modem status always says the
    // same (the bit is set while the state is csOpen).
    const uint8_t& ConnState = state_;
    void SetState(ConnectionState state);
    // The dispatcher whose device this connection is (none until its
    // setup, and again once the device has closed). Linking shows the
    // connection's state in the dispatcher's modem status; unlinking
    // clears it there.
    WinsockDispatcher* ConnDispatcher() const { return dispatcher_; }
    void SetDispatcher(WinsockDispatcher* d);
    bool IsClient = true;
    int32_t OutPending = 0;

    ConnectionStream& Stream() { return stream_; }

    // Pulls from the socket (while open) and delivers at most size decoded
    // bytes. Bytes received before the connection closed are still
    // delivered after it.
    int32_t ReadFromConnection(uint8_t* buffer, int32_t size);
    // Encodes and stores a block, then sends what is stored (once a peer
    // socket exists). Returns the source bytes accepted.
    int32_t WriteToConnection(const uint8_t* data, int32_t count);
    // Raw bytes waiting (pulls first while open).
    int32_t InputCount();
    // Bytes accepted and not yet known to be sent (tries to send first).
    int32_t OutputCount();
    // Moves on when received bytes were pulled or delivered.
    uint64_t Progress() const { return received_ + delivered_; }

private:
    int32_t LinkReceive(uint8_t* buffer, int32_t size) override;
    int32_t LinkSend(const uint8_t* data, int32_t count) override;
    void LinkLog(uint8_t type, uint8_t subtype, int32_t value, const uint8_t* data, int32_t length) override;

    DeviceSocket* device_;
    uint8_t state_ = csClosed;
    WinsockDispatcher* dispatcher_ = nullptr;
    OwnedSocket own_;
    OwnedSocket accepted_;
    bool peerIsOwn_ = false;
    ConnectionStream stream_;
    uint64_t received_ = 0;
    uint64_t delivered_ = 0;
};

class WinsockDispatcher : public BaseDispatcher {
public:
    explicit WinsockDispatcher(DispatcherOwner* owner);

    // address and port in network order.
    void SetConnectParams(uint32_t address, uint16_t port, bool telnet, bool client);
    const sockaddr_in& RemoteAddr() const { return remote_; }
    const sockaddr_in& LocalAddr() const { return local_; }
    bool IsClient() const { return isClient_; }
    bool TelnetOn() const { return telnetOn_; }
    UINT_PTR TimerId() const { return timerId_; }
    HWND DispatchWindow() const { return window_ ? window_->Handle() : nullptr; }

    // Sends a device report to the owner's window while counting as
    // delivering (a close started there is deferred). The caller holds a
    // use of the dispatcher if it goes on using it (the end of the report
    // may end the dispatcher).
    LRESULT NotifyOwner(WPARAM wParam, LPARAM lParam);
    void ZeroRemoteAddr() { remote_ = sockaddr_in{}; }
    sockaddr_in& RemoteAddrRecord() { return remote_; }

    int32_t DeviceEscape(int32_t function) override;
    int32_t DeviceFlush(int32_t queue) override;
    int32_t DeviceStatus(DeviceCounts& counts) override;
    void DeviceReadFailed(int32_t code) override;
    int32_t DeviceGetLine(LineSettings& settings) override;
    int32_t DeviceRead(uint8_t* buffer, int32_t size) override;
    int32_t DeviceSetLine(const LineSettings& settings) override;
    int32_t DeviceWrite(const uint8_t* buffer, int32_t count) override;
    bool DeviceWaitEvent(uint32_t& mask) override;
    bool DeviceSetup(int32_t inSize, int32_t outSize) override;
    void StartDispatch() override;
    void StopDispatch() override;
    int32_t DeviceOpen(const char* name, int32_t inSize, int32_t outSize) override;
    int32_t DeviceClose() override;
    void DevicePoll() override;

protected:
    ~WinsockDispatcher() override = default;

private:
    friend class WsConnection;  // shows its state as carrier detect
    WsConnection* Connection() const;

    sockaddr_in remote_{};
    sockaddr_in local_{};
    bool isClient_ = true;
    bool telnetOn_ = false;
    UINT_PTR timerId_ = 0;
    std::optional<MessageWindow> window_;  // the "commDispatch" window, while started
    int32_t setupError_ = 0;
};

class DeviceSocket : public CommSocket {
public:
    explicit DeviceSocket(Component* owner = nullptr);
    ~DeviceSocket() override;
    std::string ClassName() const override { return "DeviceSocket"; }

    std::string TerminalType = "vt100";

    WsConnection* ConnectionOf(SocketHandle s);
    SocketHandle OwnSocketOf(SocketHandle s);
    LRESULT NotifyPort(SocketHandle own, WPARAM wParam, LPARAM lParam);
    void WakeDispatcher(SocketHandle own);

    // Device operations of the TCP dispatcher.
    WsConnection* CreateConnection(int32_t inSize, int32_t outSize);  // raises ESocketException
    int32_t CloseConnection(SocketHandle own);
    CriticalSection& ConnLock() { return connLock_; }
    // The code of the latest error notification (the setup reads it back).
    int32_t LastReportedError() const { return lastReportedError_; }
    void ClearReportedError() { lastReportedError_ = 0; }
    void ForgetConnection(WsConnection* c);

    void HandleAccept(SocketHandle s) override;
    void HandleConnect(SocketHandle s) override;
    void HandleClose(SocketHandle s) override;
    void HandleError(SocketHandle s, int32_t errorCode) override;
    void HandleRead(SocketHandle s) override;
    void HandleWrite(SocketHandle s) override;

protected:
    void HandleErrorReport(SocketHandle s, int32_t event, int32_t errorCode) override;

private:
    // The peer of a connection is gone: no remote address, no peer socket,
    // the connection closed. An accepted socket is handed back, for the
    // caller to close (at the latest when it drops it).
    OwnedSocket PeerGone(WsConnection& c);
    // Before a close is acted on, lets the dispatcher take what the
    // connection still holds, so the last bytes a peer sent are delivered.
    void DrainBeforeClose(SocketHandle s);

    CriticalSection connLock_;
    int32_t lastReportedError_ = 0;
};

// The process-wide device socket (none before start-up and after shut-down).
DeviceSocket* DeviceSocketInstance();
void CreateDeviceSocket();
void DestroyDeviceSocket();

// The "commDispatch" window class of the dispatchers' hidden windows.
void RegisterDispatchWindowClass();
void UnregisterDispatchWindowClass();

}  // namespace qv
