// The port component and its TCP form over real loopback connections.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc.h"
#include "framework/text.h"
#include "port_test_support.h"

namespace qv {
namespace {

using namespace test;

int32_t SocketCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.SocketErrorCode();
    }
    return 0;
}

TEST(WinsockPort, Defaults) {
    TestPort port;
    EXPECT_EQ(port.State(), psClosed);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.WsPort(), "telnet");
    EXPECT_TRUE(port.WsTelnet());
    EXPECT_EQ(port.InBufferSize(), 4096);
    EXPECT_EQ(port.OutBufferSize(), 4096);
    EXPECT_EQ(port.TraceName(), "COMMS.TRC");
    EXPECT_EQ(port.LogName(), "COMMS.LOG");
    EXPECT_EQ(port.TraceSize(), 10000u);
    EXPECT_TRUE(port.TraceHex());
    EXPECT_EQ(port.TriggerLength(), 1);
    EXPECT_EQ(port.Version(), "v3.04");
    CustomWinsockPort plain(nullptr);
    EXPECT_EQ(plain.GetDeviceLayer(), dlWin32);
    EXPECT_TRUE(plain.OpenOnDemand());
}

// Every form of address and port that opens, and where the dispatcher was
// told to connect.
TEST(WinsockPort, OpensByAddressNameNumberAndService) {
    LoopbackServer server;
    struct Case {
        std::string address, port;
    } cases[] = {
        {"127.0.0.1", server.PortText()},
        {"localhost", server.PortText()},
        {"  127.0.0.1\t", " " + server.PortText()},
        {"127.0.0.1", "$" + [&] {
             char hex[8];
             std::snprintf(hex, sizeof hex, "%X", server.port);
             return std::string(hex);
         }()},
        {"127.0.0.1", "0x" + [&] {
             char hex[8];
             std::snprintf(hex, sizeof hex, "%x", server.port);
             return std::string(hex);
         }()},
    };
    for (const Case& c : cases) {
        TestPort port;
        port.SetServerAddress(c.address);
        port.SetWsPort(c.port);
        EXPECT_EQ(port.ServerAddress(), Trim(c.address));
        port.SetOpen(true);
        EXPECT_EQ(port.State(), psOpen) << c.address << ":" << c.port;
        RawSocket& peer = server.Accept();
        EXPECT_TRUE(peer.Valid()) << c.address << ":" << c.port;
        EXPECT_TRUE(PumpUntil([&] { return port.Saw("connect"); })) << c.address << ":" << c.port;
        EXPECT_EQ(port.Winsock()->RemoteAddr().sin_port, htons(server.port));
        port.SetOpen(false);
        EXPECT_EQ(port.State(), psClosed);
    }
}

TEST(WinsockPort, ServiceNameGivesItsPort) {
    TestPort port;
    port.SetServerAddress("127.0.0.1");
    port.SetWsPort("ftp");
    port.SetOpen(true);  // nothing needs to listen: the address is what counts
    ASSERT_EQ(port.State(), psOpen);
    EXPECT_EQ(port.Winsock()->RemoteAddr().sin_port, htons(21));
    EXPECT_EQ(port.Winsock()->RemoteAddr().sin_addr.s_addr, LoopbackAddress());
    port.SetOpen(false);
}

TEST(WinsockPort, OpenErrorsLeaveThePortClosed) {
    struct Case {
        const char* name;
        std::string address, wsPort;
        int32_t code;
    } cases[] = {
        {"no address", "", "21", 10039},
        {"unresolvable host", "no-such-host.invalid", "21", 9007},
        {"port zero", "127.0.0.1", "0", 9005},
        {"empty port", "127.0.0.1", "", 9005},
        {"unknown service", "127.0.0.1", "qv-no-such-service", 9005},
        {"port number 65536", "127.0.0.1", "65536", 9005},
    };
    for (const Case& c : cases) {
        TestPort port;
        port.SetServerAddress(c.address);
        port.SetWsPort(c.wsPort);
        EXPECT_EQ(SocketCode([&] { port.SetOpen(true); }), c.code) << c.name;
        EXPECT_EQ(port.State(), psClosed) << c.name;
        EXPECT_FALSE(port.Open()) << c.name;
        EXPECT_EQ(port.CurrentDispatcher(), nullptr) << c.name;
        EXPECT_EQ(port.PortWindow(), nullptr) << c.name;
        EXPECT_TRUE(port.events.empty()) << c.name;
    }
    // The texts come from the message table.
    try {
        TestPort port;
        port.SetServerAddress("no-such-host.invalid");
        port.SetWsPort("21");
        port.SetOpen(true);
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Cannot resolve destination address");
    }
}

TEST(WinsockPort, ServerRoleNeedsNoAddress) {
    uint16_t free = UnusedLoopbackPort();
    TestPort port;
    port.SetWsMode(wsServer);
    port.SetWsPort(std::to_string(free));
    bool refuse = false;
    port.OnWsAccept = [&](Object*, uint32_t addr, bool& accept) {
        EXPECT_EQ(addr, LoopbackAddress());
        accept = !refuse;
        port.events.push_back("accept");
    };
    port.SetOpen(true);
    ASSERT_EQ(port.State(), psOpen);
    RawSocket first = ConnectPeer(free);
    ASSERT_TRUE(PumpUntil([&] { return port.Saw("accept"); }));
    first.Close();
    ASSERT_TRUE(PumpUntil([&] { return port.Saw("disconnect"); }));  // an accepted peer closed: the port stays open
    EXPECT_EQ(port.State(), psOpen);
    refuse = true;
    RawSocket second = ConnectPeer(free);
    ASSERT_TRUE(PumpUntil([&] { return port.Count("accept") == 2; }));
    EXPECT_TRUE(PeerClosed(second.Get()));
    port.SetOpen(false);
}

TEST(WinsockPort, ParametersCannotChangeWhileOpen) {
    LoopbackServer server;
    TestPort port;
    Connect(port, server);
    EXPECT_EQ(SocketCode([&] { port.SetWsPort("23"); }), 9006);
    EXPECT_EQ(port.WsPort(), server.PortText());
    EXPECT_EQ(SocketCode([&] { port.SetServerAddress("10.0.0.1"); }), 9006);
    EXPECT_EQ(SocketCode([&] { port.SetServerAddress("127.0.0.1"); }), 0);  // the same text: nothing happens
    port.SetOpen(true);  // already open: nothing happens
    EXPECT_EQ(port.Count("open"), 1);
    port.SetOpen(false);
    port.SetWsPort("23");  // closed again: allowed
    EXPECT_EQ(port.WsPort(), "23");
}

TEST(WinsockPort, RefusedConnectIsOnlyAnError) {
    TestPort port;
    port.SetServerAddress("127.0.0.1");
    port.SetWsPort(std::to_string(UnusedLoopbackPort()));
    port.SetOpen(true);
    ASSERT_TRUE(PumpUntil([&] { return port.Saw("error 10061"); }));
    PumpFor(100);
    EXPECT_EQ(port.State(), psOpen);
    EXPECT_FALSE(port.Saw("disconnect"));
    EXPECT_FALSE(port.Saw("connect"));
    port.SetOpen(false);
    EXPECT_EQ(port.events, (std::vector<std::string>{"open", "error 10061", "close", "disconnect"}));
}

TEST(WinsockPort, PeerCloseClosesTheClientPort) {
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return port.State() == psClosed; }));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.events, (std::vector<std::string>{"open", "connect", "close", "disconnect"}));
    EXPECT_EQ(port.CurrentDispatcher(), nullptr);
}

TEST(WinsockPort, ConnectionResetClosesAfterTheErrorIsHandled) {
    LoopbackServer server;
    TestPort port;
    Connect(port, server);
    port.OnWsError = [&](Object*, int32_t code) {
        port.events.push_back("error " + std::to_string(code));
        EXPECT_EQ(port.State(), psOpen);  // the close comes later, posted
    };
    SendMessageW(port.PortWindow(), MsgSocketEvent, 10054, 0);
    EXPECT_EQ(port.events.back(), "error 10054");
    ASSERT_TRUE(PumpUntil([&] { return port.State() == psClosed; }));
    EXPECT_EQ(port.events, (std::vector<std::string>{"open", "connect", "error 10054", "close", "disconnect"}));
}

TEST(WinsockPort, RealResetFromThePeer) {
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    linger hard{1, 0};
    ::setsockopt(peer.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return port.State() == psClosed; }));
    EXPECT_EQ(port.events.back(), "disconnect");
}

TEST(WinsockPort, SerialLayerIsNotBuilt) {
    CustomWinsockPort port(nullptr);
    port.SetComNumber(1);
    EXPECT_THROW(port.SetOpen(true), ENullApi);
    EXPECT_EQ(port.State(), psClosed);
    port.SetComNumber(0);
    port.SetAskForPort(false);
    EXPECT_THROW(port.SetOpen(true), ENoPortSelected);
}

TEST(ComPort, PutStringAndTheStrictDispatcher) {
    LoopbackServer server;
    TestPort port;
    port.SetServerAddress("127.0.0.1");
    port.SetWsPort(server.PortText());
    // Closed, no open on demand: -2007 and nothing opens.
    try {
        port.PutString("x");
        ADD_FAILURE() << "nothing raised";
    } catch (const ECommNotOpen& e) {
        EXPECT_EQ(e.ErrorCode(), -2007);
        EXPECT_EQ(e.Message(), "ie_NOpen - device not open");
    }
    EXPECT_EQ(port.State(), psClosed);
    // With open on demand the port opens first.
    port.SetOpenOnDemand(true);
    port.PutString("USER x\r\n");
    EXPECT_EQ(port.State(), psOpen);
    RawSocket& peer = server.Accept();
    PumpUntil([&] { return port.Saw("connect"); });
    port.PutString("NOOP\r\n");
    port.PutString("");
    EXPECT_EQ(ReceiveRaw(peer.Get(), 14), S("USER x\r\nNOOP\r\n"));
    // Larger than the free output space: raises, sends nothing.
    EXPECT_THROW(port.PutString(std::string(5000, 'x')), EOutputBufferTooSmall);
    port.SetOpen(false);
}

TEST(ComPort, NotifyList) {
    struct Listener {
        std::vector<std::string>* log;
        std::string name;
        void Notify(CustomComPort*, bool opening) { log->push_back(name + (opening ? " open" : " close")); }
        void Other(CustomComPort*, bool) { log->push_back(name + " other"); }
    };
    std::vector<std::string> log;
    Listener a{&log, "a"}, b{&log, "b"};
    LoopbackServer server;
    TestPort port;
    port.AddPortNotify(PortNotifyCallback::Bind<&Listener::Notify>(&a));
    port.AddPortNotify(PortNotifyCallback::Bind<&Listener::Other>(&a));
    port.AddPortNotify(PortNotifyCallback::Bind<&Listener::Notify>(&b));
    Connect(port, server);
    // Last to first, then the event.
    EXPECT_EQ(log, (std::vector<std::string>{"b open", "a other", "a open"}));
    // Every entry with that code goes, whatever its object.
    port.RemovePortNotify(PortNotifyCallback::Bind<&Listener::Notify>(&a).code);
    ASSERT_EQ(port.NotifyList().size(), 1u);
    log.clear();
    port.SetOpen(false);
    EXPECT_EQ(log, (std::vector<std::string>{"a other"}));
}

TEST(ComPort, TriggerMessagesOnlyWhenATriggerEventIsAssigned) {
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    SendRaw(peer.Get(), S("abc"));
    PumpFor(150);
    EXPECT_EQ(port.triggerMessages, 0);  // yet the socket reports came: connect was seen
    std::vector<uint16_t> counts;
    port.SetOnDataAvailable([&](Object*, uint16_t count) {
        counts.push_back(count);
        std::vector<uint8_t> b(count);
        port.CurrentDispatcher()->FetchBlock(b.data(), count);
    });
    SendRaw(peer.Get(), S("de"));
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    EXPECT_EQ(counts[0], 5);  // the old bytes with the new ones
    // A message naming no dispatcher is ignored.
    int before = port.triggerMessages;
    EXPECT_EQ(SendMessageW(port.PortWindow(), MsgTriggerAvail, 5, static_cast<LPARAM>(900) << 16), 0);
    EXPECT_EQ(port.triggerMessages, before);
    port.SetOpen(false);
}

TEST(ComPort, CloseInsideATriggerHandlerIsDeferredAndReopens) {
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    PortState stateInHandler = psOpen;
    bool reopenAsked = false;
    port.SetOnDataAvailable([&](Object*, uint16_t) {
        port.SetOpen(false);
        stateInHandler = port.State();
        port.SetOpen(true);  // during the deferred close
        reopenAsked = port.ReopenPending();
    });
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(PumpUntil([&] { return port.Count("open") == 2; }));
    EXPECT_EQ(stateInHandler, psClosing);
    EXPECT_TRUE(reopenAsked);
    EXPECT_FALSE(port.ReopenPending());
    EXPECT_EQ(port.State(), psOpen);
    EXPECT_TRUE(PeerClosed(peer.Get()));
    RawSocket& second = server.Accept();
    EXPECT_TRUE(second.Valid());
    ASSERT_TRUE(PumpUntil([&] { return port.Count("connect") == 2; }));
    port.SetOnDataAvailable(nullptr);
    port.SetOpen(false);
    EXPECT_EQ(port.State(), psClosed);
}

// A queue that always holds a posted message starves the window timers;
// the deferred close must finish all the same.
TEST(ComPort, DeferredCloseFinishesWhileTheQueueIsNeverEmpty) {
    auto busy = std::make_unique<MessageWindow>(L"qvBusyTestWindow", nullptr);
    busy->On(WM_USER + 1, [&](WPARAM, LPARAM) {
        busy->Post(WM_USER + 1, 0, 0);
        return LRESULT(0);
    });
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    port.SetOnDataAvailable([&](Object*, uint16_t) {
        port.SetOpen(false);
        // A nested message loop (a message box, say) handles the close's
        // own message while the delivery still runs.
        for (int i = 0; i < 1000; ++i) {
            MSG m;
            if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        }
        EXPECT_EQ(port.State(), psClosing);
    });
    busy->Post(WM_USER + 1, 0, 0);
    SendRaw(peer.Get(), S("x"));
    for (int i = 0; i < 200000 && port.State() != psClosed; ++i) {
        MSG m;
        if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    EXPECT_EQ(port.State(), psClosed);
    EXPECT_EQ(port.CurrentDispatcher(), nullptr);
    busy.reset();
    PumpPending();
}

TEST(ComPort, DeferredCloseThenCloseAgainStaysClosed) {
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    port.SetOnDataAvailable([&](Object*, uint16_t) {
        port.SetOpen(false);
        port.SetOpen(true);
        port.SetOpen(false);  // the last word: closed
    });
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(PumpUntil([&] { return port.State() == psClosed; }));
    PumpFor(100);
    EXPECT_EQ(port.State(), psClosed);
    EXPECT_EQ(port.Count("open"), 1);
}

// Counts the messages of one number that the thread takes from its queue
// (a message hook sees every one, whoever takes it).
class TakenMessages {
public:
    explicit TakenMessages(UINT message) : message_(message) {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_GETMESSAGE, &Hook, nullptr, GetCurrentThreadId());
    }
    ~TakenMessages() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    bool Hooked() const { return hook_ != nullptr; }
    int count = 0;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        auto* m = reinterpret_cast<const MSG*>(lParam);
        if (code >= 0 && wParam == PM_REMOVE && current_ && m->message == current_->message_) ++current_->count;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline TakenMessages* current_ = nullptr;
    UINT message_;
    HHOOK hook_ = nullptr;
};

// A close from inside a handler runs nothing else on the way (no message of
// anyone else's is handled inside SetOpen) and ends with one message, which
// the dispatcher posts once it has been released.
TEST(ComPort, ADeferredCloseRunsNoOtherMessageAndEndsWithOne) {
    constexpr UINT kOthers = WM_USER + 21;
    MessageWindow others(L"qvOthersTestWindow", nullptr);
    int othersHandled = 0;
    others.On(kOthers, [&](WPARAM, LPARAM) {
        ++othersHandled;
        return LRESULT(0);
    });
    LoopbackServer server;
    TestPort port;
    RawSocket& peer = Connect(port, server);
    PumpPending();
    TakenMessages closes(MsgPortDeferredClose);
    ASSERT_TRUE(closes.Hooked());
    int othersInsideClose = -1;
    bool closeQueuedInHandler = true;
    port.SetOnDataAvailable([&](Object*, uint16_t) {
        others.Post(kOthers, 0, 0);
        port.SetOpen(false);
        othersInsideClose = othersHandled;
        MSG m;
        closeQueuedInHandler = PeekMessageW(&m, nullptr, MsgPortDeferredClose, MsgPortDeferredClose, PM_NOREMOVE);
    });
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(PumpUntil([&] { return port.State() == psClosed; }));
    PumpFor(100);
    EXPECT_EQ(othersInsideClose, 0);
    EXPECT_FALSE(closeQueuedInHandler);  // nothing is posted before the release
    EXPECT_EQ(closes.count, 1);
    EXPECT_EQ(othersHandled, 1);
    EXPECT_EQ(port.CurrentDispatcher(), nullptr);
    EXPECT_EQ(port.events, (std::vector<std::string>{"open", "connect", "close", "disconnect"}));
}

TEST(ComPort, DestroyingAPortWhoseCloseIsDeferred) {
    LoopbackServer server;
    auto* port = new TestPort;
    RawSocket& peer = Connect(*port, server);
    int32_t handle = port->CurrentDispatcher()->Handle();
    HWND window = port->PortWindow();
    port->SetOnDataAvailable([&](Object*, uint16_t) {
        port->SetOpen(false);
        Free(port);  // inside the delivery that is still running
        port = nullptr;
    });
    SendRaw(peer.Get(), S("x"));
    ASSERT_TRUE(PumpUntil([&] { return port == nullptr; }));
    ASSERT_TRUE(PumpUntil([&] { return BaseDispatcher::DispatcherAt(handle) == nullptr; }));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(PeerClosed(peer.Get()));
    PumpFor(100);  // late messages find nothing
}

TEST(ComPort, TriggersAreCarriedAcrossAClose) {
    LoopbackServer server;
    TestPort port;
    Connect(port, server);
    int32_t timer = port.CurrentDispatcher()->AddTimerTrigger();
    port.SetTriggerLength(3);
    port.SetOpen(false);
    EXPECT_TRUE(port.TriggersSaved());
    Connect(port, server);
    ASSERT_NE(port.CurrentDispatcher(), nullptr);
    EXPECT_FALSE(port.TriggersSaved());
    EXPECT_EQ(port.CurrentDispatcher()->SetTimerTrigger(timer, 1, true), 0);
    EXPECT_EQ(port.CurrentDispatcher()->AvailThreshold(), 3);
    std::vector<uint16_t> fired;
    port.SetOnTimerTrigger([&](Object*, uint16_t handle) { fired.push_back(handle); });
    ASSERT_TRUE(PumpUntil([&] { return !fired.empty(); }));
    EXPECT_EQ(fired[0], timer);
    port.SetOpen(false);
}

TEST(ComPort, TraceWrittenOnClose) {
    std::string path = TempPath("qv_port_test.trc");
    DeleteFileA(path.c_str());
    LoopbackServer server;
    TestPort port;
    port.SetTracing(tlDump);  // closed: only off or on are kept
    EXPECT_EQ(port.Tracing(), tlOff);
    port.SetTraceName(path);
    port.SetTracing(tlOn);
    RawSocket& peer = Connect(port, server);
    port.PutString("US\r\n");
    ReceiveRaw(peer.Get(), 4);
    port.SetOnDataAvailable([&](Object*, uint16_t count) {
        std::vector<uint8_t> b(count);
        port.CurrentDispatcher()->FetchBlock(b.data(), count);
    });
    SendRaw(peer.Get(), S("220"));
    PumpFor(150);
    port.SetOpen(false);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(ReadFileText(path), "Transmit: \r\nUS[0D][0A]\r\n\r\nReceive: \r\n220");
    // A new open does not start it again.
    Connect(port, server);
    EXPECT_FALSE(port.CurrentDispatcher()->TraceExists());
    port.SetOpen(false);
    DeleteFileA(path.c_str());
}

TEST(ComPort, RecorderSwitchesWhileOpen) {
    std::string logPath = TempPath("qv_port_test.log");
    DeleteFileA(logPath.c_str());
    LoopbackServer server;
    TestPort port;
    port.SetTraceSize(5000000);
    EXPECT_EQ(port.TraceSize(), 4000000u);
    port.SetLogSize(20000000);
    EXPECT_EQ(port.LogSize(), 16000000u);
    port.SetTraceSize(100);
    port.SetLogName(logPath);
    Connect(port, server);
    BaseDispatcher* d = port.CurrentDispatcher();
    port.SetTracing(tlOn);
    EXPECT_TRUE(d->TracingOn());
    port.SetTracing(tlPause);
    EXPECT_FALSE(d->TracingOn());
    EXPECT_TRUE(d->TraceExists());
    port.SetTracing(tlOn);
    EXPECT_TRUE(d->TracingOn());
    port.SetTraceSize(200);  // a running trace restarts with the new size
    EXPECT_EQ(port.Tracing(), tlOn);
    EXPECT_TRUE(d->TracingOn());
    port.SetTracing(tlOff);
    EXPECT_FALSE(d->TraceExists());
    port.SetLogging(tlOn);
    port.PutString("hello");
    port.SetLogging(tlDump);
    EXPECT_EQ(port.Logging(), tlOff);
    std::string log = ReadFileText(logPath);
    EXPECT_NE(log.find("Dispatch  WriteCom      00000005  hello"), std::string::npos) << log;
    port.SetOpen(false);
    DeleteFileA(logPath.c_str());
}

TEST(ComPort, OpenAppliedWhenLoaded) {
    LoopbackServer server;
    {
        TestPort port;
        port.SetLoading(true);
        port.SetServerAddress("127.0.0.1");
        port.SetWsPort(server.PortText());
        port.SetOpen(true);  // from the stream: stored only
        EXPECT_EQ(port.State(), psClosed);
        EXPECT_TRUE(port.OpenWhenLoaded());
        port.Loaded();
        EXPECT_EQ(port.State(), psOpen);
        EXPECT_FALSE(port.OpenWhenLoaded());
        port.SetOpen(false);
    }
    {
        TestPort port;
        port.SetDesigning(true);
        port.SetServerAddress("127.0.0.1");
        port.SetWsPort(server.PortText());
        port.SetOpen(true);
        port.Loaded();
        EXPECT_EQ(port.State(), psClosed);  // never opens at design time
    }
    {
        ReportCapture capture;
        TestPort port;
        port.SetLoading(true);
        port.SetServerAddress("no-such-host.invalid");
        port.SetWsPort("21");
        port.SetOpen(true);
        port.Loaded();  // the failure is reported, not raised
        EXPECT_FALSE(port.Open());
        ASSERT_EQ(capture.reports.size(), 1u);
        EXPECT_EQ(capture.reports[0], "Cannot resolve destination address");
    }
}

TEST(ComPort, AssignCopiesSettingsNotTheOpenState) {
    LoopbackServer server;
    TestPort source;
    source.SetTraceName("x.trc");
    source.SetLogSize(777);
    source.SetInBufferSize(1024);
    bool called = false;
    source.SetOnDataAvailable([&](Object*, uint16_t) { called = true; });
    Connect(source, server);
    int32_t timer = source.CurrentDispatcher()->AddTimerTrigger();
    TestPort copy;
    copy.Assign(source);
    EXPECT_EQ(copy.TraceName(), "x.trc");
    EXPECT_EQ(copy.LogSize(), 777u);
    EXPECT_EQ(copy.InBufferSize(), 1024);
    EXPECT_FALSE(copy.Open());
    EXPECT_TRUE(copy.TriggersSaved());
    ASSERT_EQ(copy.SavedTriggers().Timers.size(), 1u);
    EXPECT_EQ(copy.SavedTriggers().Timers[0].Handle, timer);
    ASSERT_TRUE(static_cast<bool>(copy.OnDataAvailable()));
    source.SetOpen(false);
    EXPECT_FALSE(called);
}

TEST(ComPort, PublishedPropertiesByName) {
    TestPort port;
    SetOrdProp(port, "Tracing", tlOn);
    EXPECT_EQ(port.Tracing(), tlOn);
    SetStrProp(port, "ServerAddress", " example.test ");
    EXPECT_EQ(port.ServerAddress(), "example.test");
    SetStrProp(port, "WsPort", "ftp");
    EXPECT_EQ(GetStrProp(port, "WsPort"), "ftp");
    SetOrdProp(port, "WsMode", wsServer);
    EXPECT_EQ(port.GetWsMode(), wsServer);
    SetBoolProp(port, "WsTelnet", false);
    EXPECT_FALSE(port.WsTelnet());
    SetOrdProp(port, "LogSize", 123);
    EXPECT_EQ(port.LogSize(), 123u);
    EXPECT_EQ(FindProperty(port, "Logging")->valueNames[5], "tlPause");
    EXPECT_TRUE(IsEventAssigned(port, "OnWsConnect"));
}

}  // namespace
}  // namespace qv
