#include "comms/port/winsock_port.h"

#include "comms/dispatch/winsock_dispatcher.h"
#include "framework/text.h"

namespace qv {

CustomWinsockPort::CustomWinsockPort(Component* owner) : CustomComPort(owner) {}

void CustomWinsockPort::SetServerAddress(const std::string& value) {
    if (value == serverAddress_) return;
    if (State() == psOpen) throw ESocketException(kErrChangeWhileConnected);
    serverAddress_ = Trim(value);
}

void CustomWinsockPort::SetWsPort(const std::string& value) {
    if (value == wsPort_) return;
    if (State() == psOpen) throw ESocketException(kErrChangeWhileConnected);
    wsPort_ = Trim(value);
}

BaseDispatcher* CustomWinsockPort::CreateDispatcher() {
    if (GetDeviceLayer() == dlWinsock) return new WinsockDispatcher(this);
    return CustomComPort::CreateDispatcher();
}

void CustomWinsockPort::DeviceLayerChanged() { SetTapiMode(GetDeviceLayer() == dlWinsock ? 3 : 1); }

void CustomWinsockPort::ValidatePortNumber() {
    if (GetDeviceLayer() != dlWinsock) CustomComPort::ValidatePortNumber();
}

void CustomWinsockPort::ApplyDeviceOption(bool) {}

int32_t CustomWinsockPort::OpenDevice() {
    // Only reached with the dispatcher CreateDispatcher made: a TCP one.
    DeviceSocket* ds = DeviceSocketInstance();
    if (!ds) throw ESocketException::Startup(kErrWinsockNotInitialized);
    uint32_t address = 0;
    if (wsMode_ == wsClient) {
        if (serverAddress_.empty()) throw ESocketException(kErrAddressRequired);
        address = ds->TextToAddr(serverAddress_);
        if (address == 0xFFFFFFFFu) address = ds->ResolveHostName(serverAddress_);
        if (address == 0) throw ESocketException(kErrCannotResolve);
    }
    int32_t number;
    if (std::optional<int32_t> parsed = TryStrToInt(wsPort_)) number = *parsed;
    else number = ds->ResolveServiceName(wsPort_);
    uint16_t port = static_cast<uint16_t>(number & 0xFFFF);
    if (port == 0) throw ESocketException(kErrBadPort);
    auto* d = static_cast<WinsockDispatcher*>(CurrentDispatcher());
    d->SetConnectParams(address, ds->PortToNet(port), wsTelnet_, wsMode_ == wsClient);
    int32_t r = d->OpenSocketDevice(InBufferSize(), OutBufferSize());
    if (r < 0) throw ESocketException(-r);
    return r;
}

void CustomWinsockPort::PortOpened() {
    // The device socket's reports and the port's own close request come to
    // the port window; the trigger messages and the deferred close keep the
    // handlers the port component gave it.
    if (MessageWindow* window = PortMessageWindow()) {
        window->On(MsgSocketEvent, [this](WPARAM wParam, LPARAM lParam) { return SocketReport(wParam, lParam); });
        window->On(MsgPortClose, [this](WPARAM, LPARAM) {
            SetOpen(false);
            return LRESULT(0);
        });
    }
    CustomComPort::PortOpened();
}

void CustomWinsockPort::PortClosing() {
    CustomComPort::PortClosing();
    DisconnectEvent();
}

LRESULT CustomWinsockPort::SocketReport(WPARAM report, LPARAM data) {
    switch (report) {
        case kReportPeerWaiting: return AcceptEvent(static_cast<uint32_t>(data)) ? 1 : 0;
        case kReportConnected: ConnectEvent(); break;
        case kReportOwnSocketClosed: PostMessageW(PortWindow(), MsgPortClose, 0, 0); break;
        case kReportAcceptedPeerClosed: DisconnectEvent(); break;
        default: ErrorEvent(static_cast<int32_t>(report)); break;
    }
    return 0;
}

bool CustomWinsockPort::AcceptEvent(uint32_t addr) {
    bool accept = true;
    if (OnWsAccept) OnWsAccept(this, addr, accept);
    return accept;
}

void CustomWinsockPort::ConnectEvent() {
    if (OnWsConnect) OnWsConnect(this);
}

void CustomWinsockPort::DisconnectEvent() {
    if (OnWsDisconnect) OnWsDisconnect(this);
}

void CustomWinsockPort::ErrorEvent(int32_t errorCode) {
    if (errorCode >= 10052 && errorCode <= 10054) {
        if (wsMode_ == wsClient) PostMessageW(PortWindow(), MsgPortClose, 0, 0);
        else DisconnectEvent();
    }
    if (OnWsError) OnWsError(this, errorCode);
}

const PropertyTable& CustomWinsockPort::StaticProperties() {
    static const PropertyTable table(&CustomComPort::StaticProperties(), {
        StringProperty<CustomWinsockPort>("ServerAddress", &CustomWinsockPort::ServerAddress,
                                          &CustomWinsockPort::SetServerAddress),
        StringProperty<CustomWinsockPort>("WsPort", &CustomWinsockPort::WsPort, &CustomWinsockPort::SetWsPort),
        EnumProperty<CustomWinsockPort, WsMode>("WsMode", {"wsClient", "wsServer"}, &CustomWinsockPort::GetWsMode,
                                                &CustomWinsockPort::SetWsMode),
        BooleanProperty<CustomWinsockPort>("WsTelnet", &CustomWinsockPort::WsTelnet, &CustomWinsockPort::SetWsTelnet),
        EventProperty<CustomWinsockPort>("OnWsAccept", &CustomWinsockPort::OnWsAccept),
        EventProperty<CustomWinsockPort>("OnWsConnect", &CustomWinsockPort::OnWsConnect),
        EventProperty<CustomWinsockPort>("OnWsDisconnect", &CustomWinsockPort::OnWsDisconnect),
        EventProperty<CustomWinsockPort>("OnWsError", &CustomWinsockPort::OnWsError),
    });
    return table;
}

const PropertyTable& CustomWinsockPort::Properties() const { return StaticProperties(); }

}  // namespace qv
