// Handlers that close the port, reopen it, free their packet or free the
// port, at each event the port, the TCP port and the data packet deliver,
// in both roles, over real loopback connections: as one table. Every case
// runs a whole session (open, connect, data, a packet time-out, a timer
// trigger, a socket error, the peer's close); the objects whose lifetime is
// at stake fault if anything touches them after they are freed (guarded
// allocations of the quarantine heap). Afterwards the action must have
// taken effect and nothing may be left behind: no dispatcher, no connection,
// no packet manager.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "comms/port/data_packet.h"
#include "port_test_support.h"
#include "tests/support/quarantine_heap.h"

namespace qv {
namespace {

using namespace test;

enum class Act { ClosePort, ReopenPort, FreePacket, FreePort };
enum class Role { Client, Server };

const char* ActName(Act a) {
    switch (a) {
        case Act::ClosePort: return "closes the port";
        case Act::ReopenPort: return "reopens the port";
        case Act::FreePacket: return "frees its packet";
        case Act::FreePort: return "frees the port";
    }
    return "?";
}

// Hears when the components it watches go.
class Watcher : public Component {
public:
    void Notification(Component* c, Operation op) override {
        if (op == Operation::opRemove) gone.push_back(c);
        Component::Notification(c, op);
    }
    bool Gone(Component* c) const { return std::find(gone.begin(), gone.end(), c) != gone.end(); }
    std::vector<Component*> gone;
};

class Rig {
public:
    Rig(Role role, std::string event, Act act) : role_(role), event_(std::move(event)), act_(act) {
        GuardedAllocations guarded;  // the port and the packet fault when used once freed
        port = new TestPort(&owner);
        packet = new DataPacket(&owner);
        watcher.FreeNotification(port);
        watcher.FreeNotification(packet);
        if (role == Role::Server) {
            listenPort = UnusedLoopbackPort();
            port->SetWsMode(wsServer);
            port->SetWsPort(std::to_string(listenPort));
        } else {
            listener = ListenOnLoopback(listenPort);
            port->SetServerAddress("127.0.0.1");
            port->SetWsPort(std::to_string(listenPort));
        }
        packet->SetStartCond(scAnyData);
        packet->SetEndString("\r\n");
        packet->SetEndCond(kEndString);
        packet->SetTimeOut(2);  // about 110 ms
        packet->SetComPort(port);
        packet->SetEnabled(true);
        Hook();
    }
    ~Rig() {
        if (!PortGone()) Free(port);
        if (!PacketGone()) Free(packet);
        PumpFor(50);
    }

    bool PortGone() const { return watcher.Gone(port); }
    bool PacketGone() const { return watcher.Gone(packet); }

    // One session; each step is taken only while there is something to
    // take it with.
    void Drive() {
        Step([&] { port->SetOpen(true); });
        if (role_ == Role::Server) {
            peers.push_back(ConnectPeer(listenPort));
            WaitFor("accept");
        } else {
            AcceptPending();
            WaitFor("connect");
        }
        Step([&] {
            if (BaseDispatcher* d = port->CurrentDispatcher()) {
                timer = d->AddTimerTrigger();
                d->SetTimerTrigger(timer, 2, true);
            }
        });
        Send("a\r\n");
        WaitFor("string packet");
        Send("b");  // no line end: the packet times out
        WaitFor("timeout");
        WaitFor("timer");
        Step([&] {
            // A socket error that closes nothing.
            BaseDispatcher* d = port->CurrentDispatcher();
            WsConnection* c = d ? DeviceSocketInstance()->ConnectionOf(d->DeviceId()) : nullptr;
            if (c && c->PeerSocket() != kInvalidSocket)
                PostMessageW(DeviceSocketInstance()->NotifyWindow(), MsgSocketEvent, ToSocket(c->PeerSocket()),
                             WSAMAKESELECTREPLY(FD_READ, WSAETIMEDOUT));
        });
        WaitFor("error");
        AcceptPending();
        if (!peers.empty()) peers.back().Close();
        WaitFor("disconnect");
        Step([&] { port->SetOpen(false); });
        PumpFor(50);
    }

    bool fired = false;
    bool actedWell = true;  // what the handler saw right after acting
    bool reopenNoted = false;
    std::vector<std::string> events;
    Component owner;
    Watcher watcher;
    TestPort* port;
    DataPacket* packet;

private:
    // Every event records itself; the one under test also acts, once.
    void Hook() {
        auto on = [this](const std::string& name) {
            events.push_back(name);
            if (name != event_ || fired) return;
            fired = true;
            Perform();
        };
        port->OnPortOpen = [on](Object*) { on("open"); };
        port->OnPortClose = [on](Object*) { on("close"); };
        port->OnWsConnect = [on](Object*) { on("connect"); };
        port->OnWsDisconnect = [on](Object*) { on("disconnect"); };
        port->OnWsError = [on](Object*, int32_t) { on("error"); };
        port->OnWsAccept = [on](Object*, uint32_t, bool&) { on("accept"); };
        port->SetOnDataAvailable([this, on](Object*, uint16_t) { on("data available"); });
        port->SetOnTimerTrigger([this, on](Object*, uint16_t handle) {
            if (handle == timer) on("timer");
        });
        packet->OnPacket = [on](Object*, const void*, int32_t) { on("packet"); };
        packet->OnStringPacket = [on](Object*, const std::string&) { on("string packet"); };
        packet->OnTimeout = [on](Object*) { on("timeout"); };
    }

    void Perform() {
        switch (act_) {
            case Act::ClosePort:
                port->SetOpen(false);
                actedWell = !port->Open();
                break;
            case Act::ReopenPort:
                port->SetOpen(false);
                port->SetOpen(true);
                reopenNoted = port->ReopenPending();
                actedWell = port->Open() || reopenNoted;
                break;
            case Act::FreePacket: Free(packet); break;
            case Act::FreePort: Free(port); break;
        }
    }

    void Step(const std::function<void()>& step) {
        if (!PortGone()) step();
        AcceptPending();
    }
    void WaitFor(const std::string& name) {
        PumpUntil(
            [&] {
                AcceptPending();
                if (PortGone()) return true;
                bool closedForGood = port->State() == psClosed && !port->Open() && !port->ReopenPending();
                return closedForGood || std::find(events.begin(), events.end(), name) != events.end();
            },
            1500);
    }
    // A client port that reopened connects again: the listener takes it.
    void AcceptPending() {
        if (role_ == Role::Client && listener.Valid() && Readable(listener.Get()))
            peers.push_back(AcceptPeer(listener.Get(), 100));
    }
    void Send(const std::string& bytes) {
        if (PortGone() || peers.empty() || !peers.back().Valid()) return;
        ::send(peers.back().Get(), bytes.data(), static_cast<int>(bytes.size()), 0);
    }

    Role role_;
    std::string event_;
    Act act_;
    uint16_t listenPort = 0;
    RawSocket listener;
    std::deque<RawSocket> peers;
    int32_t timer = 0;
};

TEST(LifetimeStress, EveryHandlerActionAtEveryEvent) {
    struct Case {
        Role role;
        const char* event;
    };
    const Case cases[] = {
        {Role::Client, "open"},          {Role::Client, "connect"},       {Role::Client, "data available"},
        {Role::Client, "packet"},        {Role::Client, "string packet"}, {Role::Client, "timeout"},
        {Role::Client, "timer"},         {Role::Client, "error"},         {Role::Client, "close"},
        {Role::Client, "disconnect"},    {Role::Server, "open"},          {Role::Server, "accept"},
        {Role::Server, "string packet"}, {Role::Server, "timeout"},       {Role::Server, "error"},
        {Role::Server, "disconnect"},    {Role::Server, "close"},
    };
    int32_t registry = BaseDispatcher::RegistryLength();
    for (const Case& c : cases) {
        for (Act act : {Act::ClosePort, Act::ReopenPort, Act::FreePacket, Act::FreePort}) {
            std::string name = std::string(c.role == Role::Client ? "client: " : "server: ") + "the " + c.event +
                               " handler " + ActName(act);
            SCOPED_TRACE(name);
            {
                Rig rig(c.role, c.event, act);
                rig.Drive();
                EXPECT_TRUE(rig.fired) << "the event never came";
                EXPECT_TRUE(rig.actedWell);
                switch (act) {
                    case Act::ClosePort:
                        EXPECT_TRUE(rig.PortGone() || !rig.port->Open());
                        break;
                    case Act::ReopenPort:
                        // Opened again; or, asked for inside a close that was
                        // not deferred, only noted (it takes effect after
                        // the next deferred close, as a port does).
                        EXPECT_TRUE(std::count(rig.events.begin(), rig.events.end(), "open") >= 2 ||
                                    rig.reopenNoted);
                        break;
                    case Act::FreePacket: EXPECT_TRUE(rig.PacketGone()); break;
                    case Act::FreePort: EXPECT_TRUE(rig.PortGone()); break;
                }
            }
            // Nothing is left behind.
            EXPECT_TRUE(PumpUntil([&] { return BaseDispatcher::RegistryLength() <= registry; }, 2000));
            EXPECT_EQ(DeviceSocketInstance()->ComponentCount(), 0);
            EXPECT_TRUE(PacketManagers->Managers.empty());
            if (HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace qv
