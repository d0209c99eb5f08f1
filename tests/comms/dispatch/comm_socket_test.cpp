// The socket binding and CommSocket on real loopback sockets under Wine.
#include <gtest/gtest.h>

#include <memory>

#include "comms/base/comm_errors.h"
#include "comms/dispatch/comm_socket.h"
#include "comms/dispatch/socket_binding.h"
#include "comms/dispatch/winsock_dispatcher.h"
#include "win_test_support.h"

namespace qv {
namespace {

using namespace test;

TEST(SocketBinding, TableHoldsTheLibraryEntriesInOrder) {
    ASSERT_NE(DeviceSocketInstance(), nullptr);  // start-up bound the library
    HMODULE library = SocketLibraryHandle();
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library, GetModuleHandleA("WSOCK32"));
    for (int i = 0; i < kSocketEntryCount; ++i) {
        ASSERT_NE(SocketEntryTable[i], nullptr) << SocketEntryNames[i];
        EXPECT_EQ(SocketEntryTable[i], GetProcAddress(library, SocketEntryNames[i])) << SocketEntryNames[i];
    }
    EXPECT_EQ(SocketEntryTable[46], nullptr);
    EXPECT_EQ(SocketEntryTable[47], nullptr);
    EXPECT_STREQ(SocketEntryNames[0], "accept");
    EXPECT_STREQ(SocketEntryNames[seGetSockName], "getsockname");
    EXPECT_STREQ(SocketEntryNames[45], "WSAAsyncSelect");
    // Binding again looks everything up again and keeps the same module.
    EXPECT_TRUE(BindSocketLibrary());
    EXPECT_EQ(SocketLibraryHandle(), library);
}

TEST(SocketException, BothConstructors) {
    ESocketException plain(10061);
    EXPECT_EQ(plain.SocketErrorCode(), 10061);
    EXPECT_EQ(plain.Message(), "The attempt to connect was forcibly refused");
    ESocketException startup = ESocketException::Startup(9002);
    EXPECT_EQ(startup.SocketErrorCode(), 9002);
    EXPECT_EQ(startup.Message(), "Winsock not initialized - Error loading Winsock DLL");
    EXPECT_EQ(ESocketException::Startup(9003).Message(), "Winsock not initialized - Incorrect version of Winsock");
    // Not a communications exception: it derives from the base class directly.
    const Exception& base = plain;
    EXPECT_EQ(dynamic_cast<const ECommException*>(&base), nullptr);
}

class CommSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        socket = std::make_unique<CommSocket>(nullptr);
        ASSERT_EQ(socket->StartupError(), 0);
        ASSERT_TRUE(socket->LibraryBound());
        ASSERT_NE(socket->NotifyWindow(), nullptr);
        socket->OnConnect = [this](Object*, SocketHandle s) { events.push_back("connect " + Name(s)); };
        socket->OnAccept = [this](Object*, SocketHandle s) { events.push_back("accept " + Name(s)); };
        socket->OnRead = [this](Object*, SocketHandle s) { events.push_back("read " + Name(s)); };
        socket->OnClose = [this](Object*, SocketHandle s) { events.push_back("close " + Name(s)); };
        socket->OnError = [this](Object*, SocketHandle s, int32_t code) {
            events.push_back("error " + Name(s) + " " + std::to_string(code));
        };
    }
    std::string Name(SocketHandle s) const { return s == mine ? "mine" : s == other ? "other" : "?"; }
    bool Saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    bool WaitFor(const std::string& event) {
        return PumpUntil([&] { return Saw(event); });
    }
    sockaddr_in Loopback(uint16_t port) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = LoopbackAddress();
        return a;
    }

    std::unique_ptr<CommSocket> socket;
    std::vector<std::string> events;
    SocketHandle mine = kInvalidSocket, other = kInvalidSocket;
};

TEST_F(CommSocketTest, Lookups) {
    EXPECT_EQ(socket->TextToAddr("192.168.1.10"), static_cast<uint32_t>(::inet_addr("192.168.1.10")));
    EXPECT_EQ(socket->TextToAddr("localhost"), 0xFFFFFFFFu);
    EXPECT_EQ(socket->ResolveHostName("localhost"), LoopbackAddress());
    EXPECT_EQ(socket->ResolveHostName("no-such-host.invalid"), 0u);
    EXPECT_EQ(socket->ResolveServiceName("ftp"), 21);
    EXPECT_EQ(socket->ResolveServiceName("telnet"), 23);
    EXPECT_EQ(socket->ResolveServiceName("qv-no-such-service"), 0);
    EXPECT_EQ(socket->AddrToText(LoopbackAddress()), "127.0.0.1");
    EXPECT_EQ(socket->PortToNet(21), htons(21));
    EXPECT_EQ(socket->PortFromNet(htons(5001)), 5001);
    EXPECT_TRUE(events.empty());
}

TEST_F(CommSocketTest, ConnectReadWriteAndPeerClose) {
    uint16_t port;
    RawSocket listener = ListenOnLoopback(port);
    mine = socket->SockOpen();
    ASSERT_NE(mine, kInvalidSocket);
    ASSERT_EQ(socket->SockSelectEvents(mine, kSockRead | kSockWrite | kSockConnect | kSockClose), 0);
    // Non-blocking: the connect would block, which is not reported.
    EXPECT_EQ(socket->SockConnect(mine, Loopback(port)), kSocketError);
    EXPECT_EQ(socket->LastSockError(), kWouldBlock);
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(WaitFor("connect mine"));
    RawSocket peer = AcceptPeer(listener.Get());
    ASSERT_TRUE(peer.Valid());

    char buffer[64];
    // Nothing to read yet: would block, not reported.
    EXPECT_EQ(socket->SockReceive(mine, buffer, sizeof buffer, 0), kSocketError);
    SendRaw(peer.Get(), S("hello"));
    ASSERT_TRUE(WaitFor("read mine"));
    EXPECT_EQ(socket->SockReceive(mine, buffer, sizeof buffer, 0), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_EQ(socket->SockSend(mine, "hi", 2, 0), 2);
    EXPECT_EQ(ReceiveRaw(peer.Get(), 2), S("hi"));

    peer.Close();
    ASSERT_TRUE(WaitFor("close mine"));
    for (const std::string& e : events) EXPECT_EQ(e.find("error"), std::string::npos) << e;
    EXPECT_EQ(socket->SockClose(mine), 0);
}

// An owned socket is closed once, through the component: when its owner
// drops it, or early by Close; a moved-from one closes nothing.
TEST_F(CommSocketTest, OwnedSocketsCloseOnce) {
    uint16_t port;
    RawSocket listener = ListenOnLoopback(port);
    RawSocket peer;
    {
        OwnedSocket first = socket->OpenOwned();
        ASSERT_TRUE(first.Valid());
        mine = first.Get();
        socket->SockSelectEvents(mine, kSockConnect | kSockClose);
        socket->SockConnect(mine, Loopback(port));
        peer = AcceptPeer(listener.Get());
        ASSERT_TRUE(peer.Valid());
        OwnedSocket moved = std::move(first);
        EXPECT_FALSE(first.Valid());
        EXPECT_EQ(first.Close(), 0);  // nothing to close
        EXPECT_FALSE(PeerClosed(peer.Get(), 100));
    }
    EXPECT_TRUE(PeerClosed(peer.Get()));  // closed when its owner went
    OwnedSocket second = socket->OpenOwned();
    other = second.Get();
    EXPECT_EQ(second.Close(), 0);
    EXPECT_EQ(second.Close(), 0);  // once only: no second close reported
    PumpFor(50);
    for (const std::string& e : events) EXPECT_EQ(e.find("error"), std::string::npos) << e;
}

TEST_F(CommSocketTest, RefusedConnectArrivesAsErrorNotification) {
    uint16_t port = UnusedLoopbackPort();
    mine = socket->SockOpen();
    socket->SockSelectEvents(mine, kSockRead | kSockWrite | kSockConnect | kSockClose);
    EXPECT_EQ(socket->SockConnect(mine, Loopback(port)), kSocketError);
    ASSERT_TRUE(WaitFor("error mine 10061"));
    EXPECT_FALSE(Saw("connect mine"));
    socket->SockClose(mine);
}

TEST_F(CommSocketTest, ListenAcceptAndTheAcceptedSocketReports) {
    mine = socket->SockOpen();
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = LoopbackAddress();
    ASSERT_EQ(socket->SockBind(mine, any), 0);
    ASSERT_EQ(socket->SockSelectEvents(mine, kSockRead | kSockWrite | kSockAccept | kSockClose), 0);
    ASSERT_EQ(socket->SockListen(mine, 5), 0);
    sockaddr_in bound{};
    int length = sizeof bound;
    ASSERT_EQ(sockapi::getsockname(ToSocket(mine), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    RawSocket peer = ConnectPeer(ntohs(bound.sin_port));
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(WaitFor("accept mine"));
    sockaddr_in from{};
    other = socket->SockAccept(mine, from);
    ASSERT_NE(other, kInvalidSocket);
    EXPECT_EQ(from.sin_addr.s_addr, LoopbackAddress());
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(WaitFor("read other"));  // the selection was inherited
    socket->SockClose(other);
    socket->SockClose(mine);
}

TEST_F(CommSocketTest, ErrorWithoutHandlerIsRaisedAndReported) {
    ReportCapture capture;
    socket->OnError = nullptr;
    uint16_t port = UnusedLoopbackPort();
    mine = socket->SockOpen();
    socket->SockSelectEvents(mine, kSockConnect);
    socket->SockConnect(mine, Loopback(port));
    ASSERT_TRUE(PumpUntil([&] { return !capture.reports.empty(); }));
    EXPECT_EQ(capture.reports[0], MessageForCode(10061));
    EXPECT_EQ(capture.reports[0], "The attempt to connect was forcibly refused");
    socket->SockClose(mine);
    // A failed call with no handler raises to the caller directly.
    try {
        socket->SockClose(mine);
        ADD_FAILURE() << "closing a closed socket did not raise";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.SocketErrorCode(), WSAENOTSOCK);
    }
}

TEST_F(CommSocketTest, ReportWithEventAndErrorCallsOnlyTheErrorHandler) {
    mine = 1234;
    SendMessageW(socket->NotifyWindow(), MsgSocketEvent, 1234, WSAMAKESELECTREPLY(FD_READ, 10054));
    SendMessageW(socket->NotifyWindow(), MsgSocketEvent, 1234, WSAMAKESELECTREPLY(FD_OOB, 0));  // ignored
    EXPECT_EQ(events, std::vector<std::string>{"error mine 10054"});
}

TEST_F(CommSocketTest, WindowAnswers) {
    EXPECT_EQ(SendMessageW(socket->NotifyWindow(), WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_EQ(SendMessageW(socket->NotifyWindow(), WM_USER + 5, 0, 0), 0);
}

// A report queued for a socket that is then closed must not reach a new
// socket that got the same number.
TEST_F(CommSocketTest, ReportsQueuedBeforeACloseAreDropped) {
    mine = socket->SockOpen();
    PostMessageW(socket->NotifyWindow(), MsgSocketEvent, ToSocket(mine), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    ASSERT_EQ(socket->SockClose(mine), 0);
    SocketHandle again = socket->SockOpen();  // under Wine this usually takes the same number
    // A report for the number queued after the close belongs to the new socket.
    PostMessageW(socket->NotifyWindow(), MsgSocketEvent, ToSocket(mine), WSAMAKESELECTREPLY(FD_READ, 0));
    PumpFor(50);
    EXPECT_EQ(events, std::vector<std::string>{"read mine"});
    socket->SockClose(again);
}

}  // namespace
}  // namespace qv
