// Data packets on a TCP port over real loopback connections: the cases of
// the matcher as one table, arming errors on open and closed ports,
// time-outs, handler exceptions, the capture, the dispatch log.
#include <gtest/gtest.h>

#include <memory>

#include "comms/base/comm_errors.h"
#include "comms/port/data_packet.h"
#include "framework/form_reader.h"
#include "port_test_support.h"
#include "tests/support/quarantine_heap.h"

namespace qv {
namespace {

using namespace test;

struct PacketSpec {
    PacketStartCond start = scAnyData;
    PacketEndSet end = kEndString;
    std::string startString, endString = "\r\n";
    int32_t size = 0;
    bool includeStrings = true, ignoreCase = true;
};

// A packet that records what it delivers.
struct Watched {
    Watched(Component* owner, TestPort& port, const PacketSpec& shape, const std::string& name) {
        packet = new DataPacket(owner);
        packet->SetName(name);
        packet->SetStartCond(shape.start);
        packet->SetStartString(shape.startString);
        packet->SetEndString(shape.endString);
        packet->SetEndCond(shape.end);
        packet->SetPacketSize(shape.size);
        packet->SetIncludeStrings(shape.includeStrings);
        packet->SetIgnoreCase(shape.ignoreCase);
        packet->SetTimeOut(0);
        packet->SetComPort(&port);
        packet->OnStringPacket = [this](Object*, const std::string& text) { lines.push_back(text); };
    }
    DataPacket* packet;
    std::vector<std::string> lines;
};

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner = std::make_unique<Component>(nullptr);
        port = new TestPort(owner.get());
        port->SetName("Port1");
    }
    void TearDown() override {
        owner.reset();  // destroys the port and the packets
        PumpPending();
        EXPECT_TRUE(PacketManagers->Managers.empty());
    }
    RawSocket& ConnectPort() { return Connect(*port, server); }
    // Sends and waits until the dispatcher has taken the bytes.
    void Send(RawSocket& peer, const std::string& bytes) {
        SendRaw(peer.Get(), S(bytes));
        PumpFor(60);
    }

    std::unique_ptr<Component> owner;
    TestPort* port = nullptr;
    LoopbackServer server;
};

TEST_F(PacketTest, CasesAsOneTable) {
    struct Case {
        const char* name;
        std::vector<PacketSpec> packets;
        std::vector<std::string> chunks;
        std::vector<std::vector<std::string>> expected;  // per packet
    };
    PacketSpec reply;
    PacketSpec start;
    start.start = scString;
    start.startString = "AB";
    start.end = 0;
    PacketSpec sized = start;
    sized.end = kEndPacketSize;
    sized.size = 2;
    PacketSpec tags;
    tags.start = scString;
    tags.startString = "<";
    tags.endString = ">";
    tags.includeStrings = false;
    PacketSpec question;
    question.endString = "?";
    PacketSpec literal;
    literal.endString = "\\?";
    PacketSpec upper = start;
    upper.ignoreCase = false;
    PacketSpec s1 = tags, s2 = tags;
    s1.startString = "A";
    s1.endString = "E";
    s1.includeStrings = true;
    s2.startString = "B";
    s2.endString = "E";
    s2.includeStrings = true;

    Case cases[] = {
        {"two lines in one block", {reply}, {"220 a\r\n331 b\r\n"}, {{"220 a\r\n", "331 b\r\n"}}},
        {"CR then LF", {reply}, {"220 ready\r", "\n"}, {{"220 ready\r\n"}}},
        {"CR CR LF", {reply}, {"x\r\r\n"}, {{"x\r\r\n"}}},
        {"false starts", {start}, {"xAAB", "zA", "B"}, {{"AB", "AB"}}},
        {"size end", {sized}, {"ABcd"}, {{"ABc"}}},
        {"strings left out", {tags}, {"junk<abc>"}, {{"abc"}}},
        {"end string ?", {question}, {"xy"}, {{"x", "y"}}},
        {"end string \\?", {literal}, {"ab?c?"}, {{"ab?", "c?"}}},
        {"ignore case", {start}, {"ab"}, {{"ab"}}},
        {"case kept", {upper}, {"ab", "AB"}, {{"AB"}}},
        {"two packets compete", {s1, s2}, {"XBE", "AxE"}, {{"AxE"}, {"BE"}}},
    };
    for (const Case& c : cases) {
        SetUp();
        std::vector<std::unique_ptr<Watched>> watched;
        for (size_t i = 0; i < c.packets.size(); ++i)
            watched.push_back(std::make_unique<Watched>(owner.get(), *port, c.packets[i], "P" + std::to_string(i)));
        for (auto& w : watched) w->packet->SetEnabled(true);  // closed port: armed when it opens
        RawSocket& peer = ConnectPort();
        for (const std::string& chunk : c.chunks) Send(peer, chunk);
        for (size_t i = 0; i < watched.size(); ++i) EXPECT_EQ(watched[i]->lines, c.expected[i]) << c.name;
        TearDown();
    }
}

TEST_F(PacketTest, LinesSplitAcrossManyArrivals) {
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->SetEnabled(true);
    RawSocket& peer = ConnectPort();
    std::string stream;
    std::vector<std::string> lines;
    for (int i = 0; i < 50; ++i) {
        lines.push_back(std::to_string(200 + i) + std::string(static_cast<size_t>(i * 37 % 300), '-') + "\r\n");
        stream += lines.back();
    }
    for (size_t at = 0; at < stream.size(); at += 97) SendRaw(peer.Get(), S(stream.substr(at, 97)));
    ASSERT_TRUE(PumpUntil([&] { return w.lines.size() == lines.size(); }));
    EXPECT_EQ(w.lines, lines);
}

TEST_F(PacketTest, NoEndConditionFailsOnOpenAndClosedPorts) {
    PacketSpec bad;
    bad.end = 0;
    Watched w(owner.get(), *port, bad, "Bad");
    // Closed port: accepted now, refused when the port opens.
    w.packet->SetEnabled(true);
    EXPECT_TRUE(w.packet->Enabled());
    port->SetServerAddress("127.0.0.1");
    port->SetWsPort(server.PortText());
    try {
        port->SetOpen(true);
        ADD_FAILURE() << "the open did not fail";
    } catch (const EInvalidProperty& e) {
        EXPECT_EQ(e.ErrorCode(), -5503);
        EXPECT_EQ(e.Message(), "CharCount packets must have an end-condition");
    }
    EXPECT_EQ(port->State(), psClosed);
    EXPECT_FALSE(port->Open());
    RawSocket stale = AcceptPeer(server.listener.Get(), 500);  // the failed open had begun to connect
    // Open port: refused at once, the packet stays disabled.
    w.packet->SetEnabled(false);
    ConnectPort();
    EXPECT_THROW(w.packet->SetEnabled(true), EInvalidProperty);
    EXPECT_FALSE(w.packet->Enabled());
    // A good packet on the reopened port still gets its data: nothing was
    // left attached to the dispatcher of the failed open.
    Watched good(owner.get(), *port, PacketSpec{}, "Good");
    port->SetOpen(false);
    good.packet->SetEnabled(true);
    RawSocket& peer = ConnectPort();
    Send(peer, "ok\r\n");
    EXPECT_EQ(good.lines, std::vector<std::string>{"ok\r\n"});
}

TEST_F(PacketTest, TimeoutFiresOnceAndLeavesThePacketDisabled) {
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->SetTimeOut(2);  // about 110 ms
    int timeouts = 0;
    w.packet->OnTimeout = [&](Object*) { ++timeouts; };
    w.packet->SetEnabled(true);
    RawSocket& peer = ConnectPort();
    Send(peer, "no line end");
    ASSERT_TRUE(PumpUntil([&] { return timeouts == 1; }));
    PumpFor(300);
    EXPECT_EQ(timeouts, 1);
    EXPECT_FALSE(w.packet->Enabled());  // whatever AutoEnable says
    EXPECT_TRUE(w.packet->AutoEnable());
    Send(peer, "\r\n");
    EXPECT_TRUE(w.lines.empty());
}

TEST_F(PacketTest, HandlerExceptionIsReportedAndTheNextLineArrives) {
    ReportCapture capture;
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->OnStringPacket = [&](Object*, const std::string& text) {
        w.lines.push_back(text);
        if (text == "bad\r\n") throw Exception("handler failed");
    };
    w.packet->SetEnabled(true);
    RawSocket& peer = ConnectPort();
    Send(peer, "bad\r\ngood\r\n");
    EXPECT_EQ(w.lines, (std::vector<std::string>{"bad\r\n", "good\r\n"}));
    EXPECT_EQ(capture.reports, std::vector<std::string>{"handler failed"});
}

TEST_F(PacketTest, PacketsAreArmedAgainWhenThePortReopens) {
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->SetEnabled(true);
    RawSocket& first = ConnectPort();
    Send(first, "1\r\n");
    port->SetOpen(false);
    EXPECT_TRUE(w.packet->Enabled());
    EXPECT_FALSE(w.packet->Manager()->Active());
    EXPECT_FALSE(w.packet->Manager()->HandlerInstalled());
    RawSocket& second = ConnectPort();
    Send(second, "2\r\n");
    EXPECT_EQ(w.lines, (std::vector<std::string>{"1\r\n", "2\r\n"}));
    EXPECT_TRUE(w.packet->Manager()->HandlerInstalled());
}

TEST_F(PacketTest, DetachingTheCapturingPacket) {
    Watched lines(owner.get(), *port, PacketSpec{}, "Lines");
    Watched other(owner.get(), *port, PacketSpec{}, "Other");
    lines.packet->SetEnabled(true);
    other.packet->SetEnabled(true);
    RawSocket& peer = ConnectPort();
    Send(peer, "partial");
    DataPacketManager* m = lines.packet->Manager();
    ASSERT_EQ(m->Core().CapturePacket(), &lines.packet->Core());
    lines.packet->SetComPort(nullptr);
    EXPECT_EQ(lines.packet->Manager(), nullptr);
    EXPECT_NE(m->Core().CapturePacket(), &lines.packet->Core());
    Free(lines.packet);  // nothing may point at it any more
    lines.packet = nullptr;
    Send(peer, " line\r\n");
    EXPECT_EQ(other.lines, std::vector<std::string>{"partial line\r\n"});
}

// A packet freed by its own packet event gets no string event and is not
// touched again; the next line goes to the packet that is left. Free is
// the way; a plain delete is survived as well.
TEST_F(PacketTest, APacketFreedByItsOwnPacketEvent) {
    for (bool plainDelete : {false, true}) {
        SetUp();
        Watched* doomed;
        {
            GuardedAllocations guarded;  // faults if used once freed
            doomed = new Watched(owner.get(), *port, PacketSpec{}, "Doomed");
        }
        Watched other(owner.get(), *port, PacketSpec{}, "Other");
        doomed->packet->OnPacket = [&, plainDelete](Object*, const void*, int32_t) {
            if (plainDelete) delete doomed->packet;
            else Free(doomed->packet);
        };
        doomed->packet->SetEnabled(true);
        other.packet->SetEnabled(true);
        RawSocket& peer = ConnectPort();
        Send(peer, "1\r\n");
        EXPECT_TRUE(doomed->lines.empty()) << plainDelete;
        Send(peer, "2\r\n");
        EXPECT_EQ(other.lines, std::vector<std::string>{"2\r\n"}) << plainDelete;
        delete doomed;
        TearDown();
    }
}

TEST_F(PacketTest, ClosingThePortFromAPacketHandler) {
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->OnStringPacket = [&](Object*, const std::string& text) {
        w.lines.push_back(text);
        port->SetOpen(false);
    };
    w.packet->SetEnabled(true);
    RawSocket& peer = ConnectPort();
    Send(peer, "221 bye\r\nmore\r\n");
    ASSERT_TRUE(PumpUntil([&] { return port->State() == psClosed; }));
    EXPECT_EQ(w.lines, std::vector<std::string>{"221 bye\r\n"});
}

TEST_F(PacketTest, DestroyingThePortDetachesItsPackets) {
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->SetEnabled(true);
    ConnectPort();
    Free(port);
    port = nullptr;
    EXPECT_EQ(w.packet->ComPort(), nullptr);
    EXPECT_EQ(w.packet->Manager(), nullptr);
    EXPECT_TRUE(PacketManagers->Managers.empty());
}

TEST_F(PacketTest, DispatchLogEntries) {
    std::string path = TempPath("qv_packet_test.log");
    DeleteFileA(path.c_str());
    Watched w(owner.get(), *port, PacketSpec{}, "Reply");
    w.packet->Loaded();  // takes its log label from its name
    EXPECT_EQ(w.packet->LogLabel(), "Packet:Reply");
    w.packet->SetEnabled(true);
    port->SetLogName(path);
    port->SetLogging(tlOn);
    RawSocket& peer = ConnectPort();
    Send(peer, "220 x\r\n");
    port->SetOpen(false);
    std::string log = ReadFileText(path);
    for (const char* entry : {"Packet    Enable        00000000  Packet:Reply", "Packet    EndStr        00000000  [0D][0A]",
                              "Packet    Collecting    00000000  Packet:Reply",
                              "Packet    StringPacket  00000000  220[20]x[0D][0A]",
                              "Packet    Disable       00000000  Packet:Reply"})
        EXPECT_NE(log.find(entry), std::string::npos) << entry << "\n" << log;
    DeleteFileA(path.c_str());
}

TEST_F(PacketTest, PublishedPropertiesByName) {
    DataPacket* p = new DataPacket(owner.get());
    SetOrdProp(*p, "StartCond", scAnyData);
    SetOrdProp(*p, "EndCond", kEndString | kEndPacketSize);
    SetStrProp(*p, "EndString", "\r\n");
    SetReferenceProp(*p, "ComPort", port);
    SetOrdProp(*p, "TimeOut", 0);
    EXPECT_EQ(p->StartCond(), scAnyData);
    EXPECT_EQ(p->EndCond(), kEndString | kEndPacketSize);
    EXPECT_EQ(p->ComPort(), port);
    EXPECT_EQ(GetReferenceProp(*p, "ComPort"), port);
    EXPECT_EQ(FindProperty(*p, "EndCond")->valueNames[1], "ecPacketSize");
    EXPECT_EQ(p->TimeOut(), 0);
    EXPECT_EQ(DataPacket(nullptr).TimeOut(), 2184);
}

// The classes are known to form resources by name: a port and its reply
// packet read from a form work together once the port opens.
TEST(FormResource, PortAndPacketFromAForm) {
    LoopbackServer server;
    Component root(nullptr);
    std::vector<std::string> lines;
    HandlerTable handlers;
    handlers.Add("ReplyReceived", StringPacketNotifyEvent([&](Object*, const std::string& text) {
                     lines.push_back(text);
                 }));
    std::string form = "Component Root {\n"
                       "  CustomWinsockPort Port1 {\n"
                       "    ServerAddress = \" 127.0.0.1 \"\n"
                       "    WsPort = \"" + server.PortText() + "\"\n"
                       "    WsMode = wsClient\n"
                       "    LogSize = 5000\n"
                       "  }\n"
                       "  DataPacket Packet1 {\n"
                       "    StartCond = scAnyData\n"
                       "    EndCond = [ecString]\n"
                       "    EndString = \"\\r\\n\"\n"
                       "    ComPort = Port1\n"
                       "    TimeOut = 0\n"
                       "    Enabled = true\n"
                       "    OnStringPacket = ReplyReceived\n"
                       "  }\n"
                       "}\n";
    ReadForm(root, form, handlers, "test form");
    auto* port = dynamic_cast<CustomWinsockPort*>(root.FindComponent("Port1"));
    auto* packet = dynamic_cast<DataPacket*>(root.FindComponent("Packet1"));
    ASSERT_NE(port, nullptr);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(port->ServerAddress(), "127.0.0.1");
    EXPECT_EQ(port->LogSize(), 5000u);
    EXPECT_EQ(packet->ComPort(), port);
    EXPECT_TRUE(packet->Enabled());
    EXPECT_EQ(packet->LogLabel(), "Packet:Packet1");
    port->SetDeviceLayer(dlWinsock);
    port->SetOpen(true);
    RawSocket& peer = server.Accept();
    SendRaw(peer.Get(), S("220 hello\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(lines[0], "220 hello\r\n");
    port->SetOpen(false);
}

}  // namespace
}  // namespace qv
