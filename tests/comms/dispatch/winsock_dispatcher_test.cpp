// The TCP dispatcher and the device socket over real loopback connections,
// with a stand-in for the owning port's window.
#include <gtest/gtest.h>

#include <memory>

#include "comms/dispatch/winsock_dispatcher.h"
#include "tests/support/quarantine_heap.h"
#include "win_test_support.h"

namespace qv {
namespace {

using namespace test;

// Takes every announced byte and keeps it.
struct Collector {
    BaseDispatcher* d = nullptr;
    Bytes data;
    int announcements = 0;
    bool take = true;
    std::function<void()> also;
    void Handler(UINT msg, WPARAM w, LPARAM) {
        if (msg != MsgTriggerAvail) return;
        ++announcements;
        if (take) {
            Bytes b(w);
            if (w > 0 && d->FetchBlock(b.data(), static_cast<int32_t>(w)) == static_cast<int32_t>(w))
                data.insert(data.end(), b.begin(), b.end());
        }
        if (also) also();
    }
    DispatchMethod Method() { return DispatchMethod::Bind<&Collector::Handler>(this); }
};

class WinsockTest : public ::testing::Test {
protected:
    // Opens a client dispatcher to a fresh listener and accepts the peer.
    void OpenClient(bool telnet = true) {
        uint16_t port;
        listener = ListenOnLoopback(port);
        d = new WinsockDispatcher(&owner);
        d->SetConnectParams(LoopbackAddress(), htons(port), telnet, true);
        ASSERT_EQ(d->OpenSocketDevice(4096, 4096), 0);
        collector.d = d;
        d->AddEventHandler(collector.Method());
        d->SetAvailThreshold(1);
        peer = AcceptPeer(listener.Get());
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportConnected) == 1; }));
    }
    void TearDown() override {
        if (d) d->Destroy();
        PumpPending();
    }
    Bytes Received(size_t n) {
        PumpUntil([&] { return collector.data.size() >= n; });
        return collector.data;
    }

    RecordingOwner owner;
    WinsockDispatcher* d = nullptr;
    Collector collector;
    RawSocket listener, peer;
};

TEST_F(WinsockTest, ClientConnectsAndDataFlowsBothWays) {
    OpenClient();
    EXPECT_EQ(owner.Count(MsgSocketEvent, kReportConnected), 1);
    EXPECT_TRUE(d->ModemStatus() & 0x80);
    EXPECT_EQ(d->RemoteAddr().sin_addr.s_addr, LoopbackAddress());
    EXPECT_NE(d->DeviceId(), -1);
    WsConnection* c = DeviceSocketInstance()->ConnectionOf(d->DeviceId());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->PeerSocket(), c->OwnSocket());
    EXPECT_EQ(c->ConnState, csOpen);

    SendRaw(peer.Get(), S("220 ready\r\n"));
    EXPECT_EQ(Received(11), S("220 ready\r\n"));
    EXPECT_EQ(d->SendBlock("USER x\r\n", 8), 0);
    EXPECT_EQ(ReceiveRaw(peer.Get(), 8), S("USER x\r\n"));
}

TEST_F(WinsockTest, TelnetOnTheWire) {
    OpenClient(true);
    struct Case {
        const char* name;
        Bytes fromPeer, delivered, answer;
    } cases[] = {
        {"doubled IAC", B({0xFF, 0xFF, 0x41}), B({0xFF, 0x41}), {}},
        {"DO terminal type", B({255, 253, 24}), {}, B({255, 251, 24})},
        {"terminal type request", B({255, 250, 24, 1, 255, 240}), {},
         B({255, 250, 24, 0}) + S("vt100") + B({255, 240})},
        {"WILL echo", B({255, 251, 1}), {}, B({255, 253, 1})},
        {"DO echo", B({255, 253, 1}), {}, B({255, 252, 1})},
        {"CR NUL", S("a\r") + B({0}) + S("b"), S("a\rb"), {}},
    };
    for (const Case& c : cases) {
        collector.data.clear();
        SendRaw(peer.Get(), c.fromPeer + S("."));  // a marker byte shows the data has passed
        Bytes expected = c.delivered + S(".");
        EXPECT_EQ(Received(expected.size()), expected) << c.name;
        EXPECT_EQ(ReceiveRaw(peer.Get(), c.answer.size(), c.answer.empty() ? 100 : 5000), c.answer) << c.name;
    }
    struct Out {
        const char* name;
        Bytes block, wire;
    } outs[] = {
        {"IAC doubled", B({0xFF}), B({0xFF, 0xFF})},
        {"bare CR", B({0x41, 0x0D, 0x42}), B({0x41, 0x0D, 0x00, 0x42})},
    };
    for (const Out& o : outs) {
        ASSERT_EQ(d->SendBlock(o.block.data(), static_cast<int32_t>(o.block.size())), 0) << o.name;
        EXPECT_EQ(ReceiveRaw(peer.Get(), o.wire.size()), o.wire) << o.name;
    }
    // Binary mode offered by the peer: CR goes alone from then on.
    SendRaw(peer.Get(), B({255, 251, 0}));
    EXPECT_EQ(ReceiveRaw(peer.Get(), 3), B({255, 253, 0}));
    ASSERT_EQ(d->SendBlock("\r", 1), 0);
    EXPECT_EQ(ReceiveRaw(peer.Get(), 1), B({0x0D}));
    EXPECT_TRUE(ReceiveRaw(peer.Get(), 1, 100).empty());
}

TEST_F(WinsockTest, TelnetOffPassesEverything) {
    OpenClient(false);
    SendRaw(peer.Get(), B({0xFF, 0xFF, 0x41, 255, 253, 24}));
    EXPECT_EQ(Received(6), B({0xFF, 0xFF, 0x41, 255, 253, 24}));
    EXPECT_TRUE(ReceiveRaw(peer.Get(), 1, 100).empty());
}

TEST_F(WinsockTest, RefusedConnectArrivesAtTheOwnerLater) {
    d = new WinsockDispatcher(&owner);
    d->SetConnectParams(LoopbackAddress(), htons(UnusedLoopbackPort()), true, true);
    EXPECT_EQ(d->OpenSocketDevice(4096, 4096), 0);  // the connect would block
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, WSAECONNREFUSED) == 1; }));
    EXPECT_EQ(owner.Count(MsgSocketEvent, kReportConnected), 0);
    EXPECT_TRUE(d->Started());
}

TEST_F(WinsockTest, PeerCloseOnAClientConnection) {
    OpenClient();
    // The last bytes before the close still reach the handlers first.
    owner.onSocketEvent = [&](WPARAM w, LPARAM) {
        if (w == kReportOwnSocketClosed) {
            EXPECT_EQ(collector.data, S("221 bye\r\n"));
        }
    };
    SendRaw(peer.Get(), S("221 bye\r\n"));
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportOwnSocketClosed) == 1; }));
    EXPECT_EQ(collector.data, S("221 bye\r\n"));
    EXPECT_EQ(d->RemoteAddr().sin_addr.s_addr, 0u);
    EXPECT_EQ(d->RemoteAddr().sin_port, 0);
    EXPECT_FALSE(d->ModemStatus() & 0x80);
}

TEST_F(WinsockTest, ServerAcceptsOnePeerAndHearsItsClose) {
    uint16_t port = UnusedLoopbackPort();
    d = new WinsockDispatcher(&owner);
    d->SetConnectParams(0, htons(port), true, false);
    ASSERT_EQ(d->OpenSocketDevice(4096, 4096), 0);
    collector.d = d;
    d->AddEventHandler(collector.Method());
    d->SetAvailThreshold(1);
    EXPECT_EQ(d->LocalAddr().sin_port, htons(port));
    RawSocket first = ConnectPeer(port);
    ASSERT_TRUE(first.Valid());
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportPeerWaiting) == 1; }));
    EXPECT_EQ(owner.messages.back().lParam, static_cast<LPARAM>(LoopbackAddress()));
    EXPECT_TRUE(d->ModemStatus() & 0x80);
    SendRaw(first.Get(), S("hello"));
    EXPECT_EQ(Received(5), S("hello"));
    d->SendBlock("back", 4);
    EXPECT_EQ(ReceiveRaw(first.Get(), 4), S("back"));

    // A second peer is let go at once; the owner hears nothing of it.
    RawSocket second = ConnectPeer(port);
    ASSERT_TRUE(second.Valid());
    EXPECT_TRUE(PeerClosed(second.Get()));
    EXPECT_EQ(owner.Count(MsgSocketEvent, kReportPeerWaiting), 1);

    first.Close();
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportAcceptedPeerClosed) == 1; }));
    EXPECT_FALSE(d->ModemStatus() & 0x80);
    // The listening socket takes the next peer.
    RawSocket third = ConnectPeer(port);
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportPeerWaiting) == 2; }));
}

// A reset peer is reported as a close carrying an error code: the
// accepted socket goes all the same, and the next peer is taken.
TEST_F(WinsockTest, ServerLetsGoOfAPeerReportedClosedWithAnError) {
    uint16_t port = UnusedLoopbackPort();
    d = new WinsockDispatcher(&owner);
    d->SetConnectParams(0, htons(port), true, false);
    ASSERT_EQ(d->OpenSocketDevice(4096, 4096), 0);
    RawSocket first = ConnectPeer(port);
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportPeerWaiting) == 1; }));
    WsConnection* c = DeviceSocketInstance()->ConnectionOf(d->DeviceId());
    ASSERT_NE(c, nullptr);
    SocketHandle accepted = c->PeerSocket();
    ASSERT_NE(accepted, c->OwnSocket());
    PostMessageW(DeviceSocketInstance()->NotifyWindow(), MsgSocketEvent, ToSocket(accepted),
                 WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET));
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, WSAECONNRESET) == 1; }));
    EXPECT_EQ(c->PeerSocket(), kInvalidSocket);
    EXPECT_FALSE(d->ModemStatus() & 0x80);
    EXPECT_TRUE(PeerClosed(first.Get()));  // the accepted socket was closed
    RawSocket second = ConnectPeer(port);
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportPeerWaiting) == 2; }));
    EXPECT_TRUE(d->ModemStatus() & 0x80);
    PumpFor(100);
    EXPECT_FALSE(PeerClosed(second.Get(), 100));
}

TEST_F(WinsockTest, ServerRefusesAPeerTheOwnerDoesNotWant) {
    uint16_t port = UnusedLoopbackPort();
    owner.acceptAnswer = 0;
    d = new WinsockDispatcher(&owner);
    d->SetConnectParams(0, htons(port), true, false);
    ASSERT_EQ(d->OpenSocketDevice(4096, 4096), 0);
    RawSocket peer1 = ConnectPeer(port);
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportPeerWaiting) == 1; }));
    EXPECT_TRUE(PeerClosed(peer1.Get()));
    EXPECT_FALSE(d->ModemStatus() & 0x80);
    EXPECT_EQ(d->RemoteAddr().sin_addr.s_addr, 0u);
}

// The carrier-detect bit says what the connection's state says, whoever
// changes the state: also when the device's own close ends the connection
// (a dispatcher outlives its device until its owner destroys it).
TEST_F(WinsockTest, TheCarrierBitEndsWithTheConnection) {
    struct Case {
        const char* name;
        bool server;
    } cases[] = {{"client", false}, {"server with an accepted peer", true}};
    for (const Case& c : cases) {
        RawSocket serverPeer;
        if (c.server) {
            uint16_t port = UnusedLoopbackPort();
            d = new WinsockDispatcher(&owner);
            d->SetConnectParams(0, htons(port), true, false);
            ASSERT_EQ(d->OpenSocketDevice(4096, 4096), 0) << c.name;
            serverPeer = ConnectPeer(port);
            ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgSocketEvent, kReportPeerWaiting) == 1; })) << c.name;
        } else {
            OpenClient();
        }
        WsConnection* connection = DeviceSocketInstance()->ConnectionOf(d->DeviceId());
        ASSERT_NE(connection, nullptr) << c.name;
        EXPECT_EQ(connection->ConnState, csOpen) << c.name;
        EXPECT_TRUE(d->ModemStatus() & kModemCarrierDetect) << c.name;
        d->CloseDevice();
        EXPECT_EQ(d->DeviceId(), -1) << c.name;
        EXPECT_FALSE(d->ModemStatus() & kModemCarrierDetect) << c.name;
        d->Destroy();
        d = nullptr;
        owner.messages.clear();
        PumpPending();
    }
}

TEST_F(WinsockTest, BurstLargerThanTheRings) {
    OpenClient(false);
    collector.take = false;
    Bytes burst(9000);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7 + 1);
    SendRaw(peer.Get(), burst);
    // Nobody takes anything: the ring fills up and the rest waits.
    ASSERT_TRUE(PumpUntil([&] { return d->BytesAvailable() == 8192; }));
    PumpFor(200);
    EXPECT_EQ(d->BytesAvailable(), 8192);
    // Taking the bytes lets the rest in, in order.
    Bytes all(8192);
    ASSERT_EQ(d->FetchBlock(all.data(), 8192), 8192);
    collector.take = true;
    ASSERT_TRUE(PumpUntil([&] { return collector.data.size() >= 808; }));
    EXPECT_EQ(all + collector.data, burst);
}

TEST_F(WinsockTest, CloseFromAHandlerIsFinishedAfterTheDelivery) {
    OpenClient();
    bool pendingInHandler = false;
    collector.also = [&] {
        d->CloseDevice();
        pendingInHandler = d->ClosePending() && d->Started();
    };
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(MsgPortDeferredClose) == 1; }));
    EXPECT_TRUE(pendingInHandler);
    EXPECT_FALSE(d->Started());
    EXPECT_FALSE(d->ClosePending());
    EXPECT_TRUE(PeerClosed(peer.Get()));
    EXPECT_EQ(d->DeviceId(), -1);
}

// The device's status asks the connection for its input and then for its
// output count. A receive that fails on the way is reported to the owner,
// whose handler may close the device: the connection goes, and nothing of
// it may be used (or freed) again by the rest of the status.
TEST_F(WinsockTest, ACloseDuringTheStatusLeavesTheConnectionAlone) {
    {
        GuardedAllocations guarded;  // the connection faults if used once freed
        OpenClient();
    }
    WsConnection* c = DeviceSocketInstance()->ConnectionOf(d->DeviceId());
    ASSERT_NE(c, nullptr);
    int closes = 0;
    owner.onSocketEvent = [&](WPARAM w, LPARAM) {
        if (w != kReportConnected && !d->ClosePending() && d->DeviceId() != -1) {
            ++closes;
            d->CloseDevice();
        }
    };
    // The next receive fails: its socket is gone under the connection.
    ::closesocket(ToSocket(c->OwnSocket()));
    d->ServicePoll(false);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(d->DeviceId(), -1);
    EXPECT_FALSE(d->Started());
    EXPECT_EQ(DeviceSocketInstance()->ComponentCount(), 0);
}

TEST_F(WinsockTest, DestroyedDuringADeliveryIsFreedAfterIt) {
    OpenClient();
    int32_t handle = d->Handle();
    collector.also = [&] {
        d->Destroy();
        d = nullptr;
    };
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(PumpUntil([&] { return BaseDispatcher::DispatcherAt(handle) == nullptr; }));
    EXPECT_TRUE(PeerClosed(peer.Get()));
    EXPECT_EQ(owner.Count(MsgPortDeferredClose), 0);  // nobody to tell
}

// A close report queued for a socket that was closed since must not reach a
// new connection, whether or not it took the same socket number (the
// socket component's own test posts to a reused number directly).
TEST_F(WinsockTest, StaleReportsDoNotReachANewConnection) {
    OpenClient();
    int32_t old = d->DeviceId();
    PostMessageW(DeviceSocketInstance()->NotifyWindow(), MsgSocketEvent, ToSocket(old),
                 WSAMAKESELECTREPLY(FD_CLOSE, 0));
    d->Destroy();
    d = nullptr;
    owner.messages.clear();
    OpenClient();
    PumpFor(100);
    EXPECT_EQ(owner.Count(MsgSocketEvent, kReportOwnSocketClosed), 0);
    EXPECT_TRUE(d->ModemStatus() & 0x80);
}

TEST_F(WinsockTest, AnIdleConnectionLeavesNothingQueued) {
    OpenClient();
    PumpFor(200);
    // Between timer ticks nothing re-posts itself: the queue is empty.
    PumpPending();
    EXPECT_EQ(HIWORD(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE)), 0);
    EXPECT_TRUE(d->Started());
    EXPECT_NE(d->TimerId(), 0u);
}

TEST_F(WinsockTest, OpenFailsWithTheSetupError) {
    // Listening on a port that is taken fails at the listen (or bind) step.
    uint16_t port;
    RawSocket taken = ListenOnLoopback(port);
    d = new WinsockDispatcher(&owner);
    // Bound to the same address and port as the listener: refused.
    d->SetConnectParams(0, htons(port), true, false);
    int32_t result = d->OpenSocketDevice(4096, 4096);
    if (result == 0) GTEST_SKIP() << "the platform let a second socket listen on the port";
    // The code of the failed step, also reported to the owner's window.
    EXPECT_LT(result, -10000);
    EXPECT_EQ(owner.Count(MsgSocketEvent, static_cast<WPARAM>(-result)), 1);
    EXPECT_FALSE(d->Started());
    EXPECT_EQ(d->DeviceId(), -1);
}

}  // namespace
}  // namespace qv
