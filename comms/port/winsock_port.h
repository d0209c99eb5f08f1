// CustomWinsockPort: the port component over one TCP connection. It adds
// the peer's address and TCP port, the client or server role, Telnet
// processing and four connection events, and turns the device socket's
// reports (MsgSocketEvent on the port window) into those events.
//
// While open, the port window also handles MsgSocketEvent (the device
// socket's reports) and MsgPortClose for this port; every other message
// (the trigger messages, the deferred close) is handled as for any port.
#pragma once

#include <functional>
#include <string>

#include "comms/dispatch/comm_socket.h"
#include "comms/port/port.h"

namespace qv {

inline constexpr UINT MsgPortClose = 0x0B12;

enum WsMode : uint8_t { wsClient = 0, wsServer = 1 };

using WsAcceptEvent = std::function<void(Object* Sender, uint32_t Addr, bool& Accept)>;
using WsErrorEvent = std::function<void(Object* Sender, int32_t ErrorCode)>;

// Socket codes of this component.
inline constexpr int32_t kErrBadPort = 9005;
inline constexpr int32_t kErrChangeWhileConnected = 9006;
inline constexpr int32_t kErrCannotResolve = 9007;
inline constexpr int32_t kErrAddressRequired = 10039;

class CustomWinsockPort : public CustomComPort {
public:
    explicit CustomWinsockPort(Component* owner);
    std::string ClassName() const override { return "CustomWinsockPort"; }

    WsAcceptEvent OnWsAccept;
    NotifyEvent OnWsConnect;
    NotifyEvent OnWsDisconnect;
    WsErrorEvent OnWsError;

    // Stored without leading and trailing blanks and control characters;
    // changing them while open raises ESocketException 9006.
    const std::string& ServerAddress() const { return serverAddress_; }
    void SetServerAddress(const std::string& value);
    const std::string& WsPort() const { return wsPort_; }
    void SetWsPort(const std::string& value);
    WsMode GetWsMode() const { return wsMode_; }
    void SetWsMode(WsMode value) { wsMode_ = value; }
    bool WsTelnet() const { return wsTelnet_; }
    void SetWsTelnet(bool value) { wsTelnet_ = value; }

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;

protected:
    BaseDispatcher* CreateDispatcher() override;
    void DeviceLayerChanged() override;
    int32_t OpenDevice() override;
    void ValidatePortNumber() override;
    void ApplyDeviceOption(bool value) override;
    void PortOpened() override;
    void PortClosing() override;

    // Added slots, in order.
    virtual bool AcceptEvent(uint32_t addr);
    virtual void ConnectEvent();
    virtual void DisconnectEvent();
    virtual void ErrorEvent(int32_t errorCode);

private:
    LRESULT SocketReport(WPARAM report, LPARAM data);

    std::string serverAddress_;
    WsMode wsMode_ = wsClient;
    std::string wsPort_ = "telnet";
    bool wsTelnet_ = true;
};

}  // namespace qv
