// A TCP port that records its events, and a loopback server for it.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "comms/dispatch/winsock_dispatcher.h"
#include "comms/port/winsock_port.h"
#include "tests/comms/dispatch/win_test_support.h"

namespace qv::test {

class TestPort : public CustomWinsockPort {
public:
    explicit TestPort(Component* owner = nullptr) : CustomWinsockPort(owner) {
        SetDeviceLayer(dlWinsock);
        SetWsMode(wsClient);
        SetOpenOnDemand(false);
        OnWsConnect = [this](Object*) { events.push_back("connect"); };
        OnWsDisconnect = [this](Object*) { events.push_back("disconnect"); };
        OnWsError = [this](Object*, int32_t code) { events.push_back("error " + std::to_string(code)); };
        OnPortOpen = [this](Object*) { events.push_back("open"); };
        OnPortClose = [this](Object*) { events.push_back("close"); };
    }

    std::vector<std::string> events;
    int triggerMessages = 0;

    bool Saw(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
    int Count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }
    WinsockDispatcher* Winsock() const { return static_cast<WinsockDispatcher*>(CurrentDispatcher()); }

protected:
    void TriggerEvent(uint16_t msg, uint16_t handle, uint16_t data) override {
        ++triggerMessages;
        CustomWinsockPort::TriggerEvent(msg, handle, data);
    }
};

// A listening socket on 127.0.0.1 and the peers it accepts.
class LoopbackServer {
public:
    LoopbackServer() { listener = ListenOnLoopback(port); }
    std::string PortText() const { return std::to_string(port); }
    // Accepts the next peer (pumping messages while waiting).
    RawSocket& Accept() {
        peers.push_back(AcceptPeer(listener.Get()));
        return peers.back();
    }
    uint16_t port = 0;
    RawSocket listener;
    std::vector<RawSocket> peers;
};

// Opens a client port to the server and waits for the connection.
inline RawSocket& Connect(TestPort& port, LoopbackServer& server) {
    port.SetServerAddress("127.0.0.1");
    port.SetWsPort(server.PortText());
    int connects = port.Count("connect");
    port.SetOpen(true);
    RawSocket& peer = server.Accept();
    PumpUntil([&] { return port.Count("connect") > connects; });
    return peer;
}

}  // namespace qv::test
