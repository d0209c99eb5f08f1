// Packet matching over the shared buffer, without a port: the cases of the
// matcher as one table, arming rules, capture rules, and a randomized
// (fixed-seed) check that CR LF lines arrive once, whole and in order
// whatever the chunking.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "comms/port/packet_core.h"

namespace qv {
namespace {

struct PacketErrorRaised {
    int32_t code;
};

struct FakeLink : ManagerLink {
    bool logOn = true;
    std::vector<std::pair<int, std::string>> log;
    std::vector<int32_t> timerStarts;
    int timerStops = 0;
    bool LogOn() override { return logOn; }
    void Log(uint8_t subtype, const void* data, int32_t length) override {
        log.push_back({subtype, std::string(static_cast<const char*>(data), static_cast<size_t>(length))});
    }
    void StartCaptureTimer(int32_t ticks) override { timerStarts.push_back(ticks); }
    void StopCaptureTimer() override { ++timerStops; }
    [[noreturn]] void RaisePacketError(int32_t code) override { throw PacketErrorRaised{code}; }
    std::vector<int32_t> reported;
    void ReportArmingError(std::exception_ptr error) override {
        try {
            std::rethrow_exception(error);
        } catch (const PacketErrorRaised& e) {
            reported.push_back(e.code);
        }
    }
};

struct TestPacket : PacketClient {
    explicit TestPacket(std::string name = "P") : label("Packet:" + std::move(name)) {}
    PacketCore core{*this};
    std::string label;
    std::vector<std::string> packets;
    int timeouts = 0;
    bool designing = false, loading = false;
    std::function<void(const std::string&)> onPacket;

    bool PacketDesigning() const override { return designing; }
    bool PacketLoading() const override { return loading; }
    void PacketFound(const uint8_t* data, int32_t length) override {
        std::string s(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
        packets.push_back(s);
        // A handler may free this packet: it runs from a copy, and nothing
        // of the packet is touched after it.
        if (auto handler = onPacket) handler(s);
    }
    void PacketTimedOut() override { ++timeouts; }
    std::string PacketLogLabel() const override { return label; }
};

struct Fixture {
    FakeLink link;
    std::vector<std::unique_ptr<TestPacket>> packets;  // outlive the manager
    PacketManagerCore manager{link};

    TestPacket& Add(const PacketSettings& s, std::string name = "P") {
        packets.push_back(std::make_unique<TestPacket>(std::move(name)));
        TestPacket& p = *packets.back();
        p.core.Settings = s;
        manager.AddPacket(p.core);
        return p;
    }
    void Open() { manager.PortOpening(); }
    // Detaches and destroys a packet, as a component's destructor does.
    void Free(TestPacket& p) {
        manager.RemovePacket(p.core);
        std::erase_if(packets, [&](const std::unique_ptr<TestPacket>& q) { return q.get() == &p; });
    }
    void Feed(const std::string& s) {
        manager.Receive(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int32_t>(s.size()));
    }
};

PacketSettings ReplyLine() {
    PacketSettings s;
    s.StartCond = scAnyData;
    s.EndCond = kEndString;
    s.EndString = "\r\n";
    s.TimeOut = 0;
    return s;
}
PacketSettings StartEnd(std::string start, std::string end, PacketEndSet cond = kEndString) {
    PacketSettings s;
    s.StartCond = scString;
    s.StartString = std::move(start);
    s.EndString = std::move(end);
    s.EndCond = cond;
    s.TimeOut = 0;
    return s;
}

TEST(PacketMatch, CasesAsOneTable) {
    struct Case {
        const char* name;
        PacketSettings settings;
        std::vector<std::string> chunks;
        std::vector<std::string> packets;
        int32_t left;  // bytes left in the buffer afterwards
    };
    PacketSettings startOnly = StartEnd("AB", "", 0);
    PacketSettings sized = StartEnd("AB", "", kEndPacketSize);
    sized.PacketSize = 2;
    PacketSettings noStrings = StartEnd("<", ">");
    noStrings.IncludeStrings = false;
    PacketSettings noStringsSized = StartEnd("<<", "", kEndPacketSize);
    noStringsSized.PacketSize = 5;
    noStringsSized.IncludeStrings = false;
    PacketSettings anyByte = ReplyLine();
    anyByte.EndString = "?";
    PacketSettings literalQuestion = ReplyLine();
    literalQuestion.EndString = "\\?";
    PacketSettings caseSensitive = StartEnd("AB", "", 0);
    caseSensitive.IgnoreCase = false;
    PacketSettings noAuto = ReplyLine();
    noAuto.AutoEnable = false;
    PacketSettings sizeAndString = ReplyLine();
    sizeAndString.EndCond = kEndString | kEndPacketSize;
    sizeAndString.PacketSize = 4;

    Case cases[] = {
        {"two lines in one block", ReplyLine(), {"220 a\r\n331 b\r\n"}, {"220 a\r\n", "331 b\r\n"}, 0},
        {"CR in one block, LF in the next", ReplyLine(), {"220 ready\r", "\n"}, {"220 ready\r\n"}, 0},
        {"CR CR LF", ReplyLine(), {"x\r\r\n"}, {"x\r\r\n"}, 0},
        {"partial line waits", ReplyLine(), {"220 a\r\n2", "30 "}, {"220 a\r\n"}, 4},
        {"false start", startOnly, {"AAB"}, {"AB"}, 0},
        {"bytes before the start go with the packet", startOnly, {"xyAB"}, {"AB"}, 0},
        {"bytes matching nothing are dropped", startOnly, {"xyz"}, {}, 0},
        {"partial start kept", startOnly, {"xyA"}, {}, 3},
        {"start split across arrivals", startOnly, {"xA", "B"}, {"AB"}, 0},
        {"size equal to the start string", sized, {"ABxy"}, {"ABx"}, 0},
        {"strings left out", noStrings, {"<abc>"}, {"abc"}, 0},
        {"sized, start left out", noStringsSized, {"<<abcd"}, {"abc"}, 0},
        {"end string ?", anyByte, {"xy"}, {"x", "y"}, 0},
        {"end string \\?", literalQuestion, {"ab?c"}, {"ab?"}, 1},
        {"ignore case", startOnly, {"xaB"}, {"aB"}, 0},
        {"case sensitive", caseSensitive, {"ab", "AB"}, {"AB"}, 0},
        {"no auto enable", noAuto, {"1\r\n2\r\n"}, {"1\r\n"}, 0},
        {"size or string, size first", sizeAndString, {"abcdef\r\n"}, {"abcd", "ef\r\n"}, 0},
        // What follows a delivered packet is offered again from its start,
        // also when the packet never held the capture.
        {"start only, what follows is offered again", StartEnd("A", "", 0), {"AA", "xA"}, {"A", "A", "A"}, 0},
    };
    for (const Case& c : cases) {
        Fixture f;
        TestPacket& p = f.Add(c.settings);
        f.Open();
        p.core.SetEnabled(true);
        for (const std::string& chunk : c.chunks) f.Feed(chunk);
        EXPECT_EQ(p.packets, c.packets) << c.name;
        EXPECT_EQ(f.manager.BufferLength(), c.left) << c.name;
    }
}

TEST(PacketMatch, TwoPacketsCompeteForTheCapture) {
    Fixture f;
    TestPacket& first = f.Add(StartEnd("A", "E"), "First");
    TestPacket& second = f.Add(StartEnd("B", "E"), "Second");
    f.Open();
    first.core.SetEnabled(true);
    second.core.SetEnabled(true);
    f.Feed("XBE");
    EXPECT_TRUE(first.packets.empty());
    EXPECT_EQ(second.packets, std::vector<std::string>{"BE"});
    EXPECT_EQ(f.manager.BufferLength(), 0);  // X went with the packet
    // Both armed again; the first one finds its packet now.
    f.Feed("AxE");
    EXPECT_EQ(first.packets, std::vector<std::string>{"AxE"});
    EXPECT_EQ(first.core.MatchState(), pkWaiting);
    EXPECT_EQ(second.core.MatchState(), pkWaiting);
}

TEST(PacketMatch, AnyDataPacketWaitsForARivalsCapture) {
    Fixture f;
    TestPacket& tagged = f.Add(StartEnd("<", ">"), "Tagged");
    TestPacket& lines = f.Add(ReplyLine(), "Lines");
    f.Open();
    lines.core.SetEnabled(true);
    EXPECT_EQ(lines.core.MatchState(), pkCollecting);  // no rival: collects at once
    EXPECT_EQ(f.manager.CapturePacket(), &lines.core);
    tagged.core.SetEnabled(true);
    f.Feed("<a>\r\n");
    // The line packet held the capture: it takes the whole line.
    EXPECT_EQ(lines.packets, std::vector<std::string>{"<a>\r\n"});
    EXPECT_TRUE(tagged.packets.empty());
    // After the delivery both are armed in list order: the tagged packet
    // waits, the line packet collects.
    EXPECT_EQ(tagged.core.MatchState(), pkWaiting);
    EXPECT_EQ(lines.core.MatchState(), pkCollecting);
}

TEST(PacketMatch, ArmingErrors) {
    struct Case {
        const char* name;
        PacketSettings settings;
        int32_t code;
    };
    PacketSettings noStart = StartEnd("", "x");
    PacketSettings small = StartEnd("ABC", "", kEndPacketSize);
    small.PacketSize = 2;
    PacketSettings noEndCond = ReplyLine();
    noEndCond.EndCond = 0;
    PacketSettings noEnd = ReplyLine();
    noEnd.EndString = "";
    PacketSettings zero = ReplyLine();
    zero.EndCond = kEndPacketSize;
    zero.PacketSize = 0;
    Case cases[] = {
        {"start string empty", noStart, kErrStartStringEmpty},
        {"size below start string", small, kErrSizeBelowStartString},
        {"any data without end condition", noEndCond, kErrNoEndCondition},
        {"end string empty", noEnd, kErrEndStringEmpty},
        {"size zero", zero, kErrPacketSizeZero},
    };
    for (const Case& c : cases) {
        // On an open port the error comes from Enabled and leaves it false.
        Fixture open;
        TestPacket& p = open.Add(c.settings);
        open.Open();
        int32_t raised = 0;
        try {
            p.core.SetEnabled(true);
        } catch (const PacketErrorRaised& e) {
            raised = e.code;
        }
        EXPECT_EQ(raised, c.code) << c.name;
        EXPECT_FALSE(p.core.Enabled()) << c.name;
        EXPECT_EQ(open.manager.CapturePacket(), nullptr) << c.name;
        // On a closed port it comes when the port opens.
        Fixture closed;
        TestPacket& q = closed.Add(c.settings);
        q.core.SetEnabled(true);
        EXPECT_TRUE(q.core.Enabled()) << c.name;
        raised = 0;
        try {
            closed.Open();
        } catch (const PacketErrorRaised& e) {
            raised = e.code;
        }
        EXPECT_EQ(raised, c.code) << c.name;
    }
}

TEST(PacketMatch, TimeoutFiresOnceAndLeavesThePacketDisabled) {
    Fixture f;
    PacketSettings s = ReplyLine();
    s.TimeOut = 18;
    TestPacket& p = f.Add(s);
    PacketSettings other = StartEnd("x", "y");
    TestPacket& q = f.Add(other, "Q");
    f.Open();
    p.core.SetEnabled(true);
    q.core.SetEnabled(true);
    EXPECT_EQ(f.link.timerStarts, std::vector<int32_t>{18});
    f.Feed("abxcy");  // no CR LF
    EXPECT_TRUE(p.packets.empty());
    f.manager.CaptureTimerExpired();
    EXPECT_EQ(p.timeouts, 1);
    EXPECT_FALSE(p.core.Enabled());
    // Stopped when the timed-out capture ended, and again when the other
    // packet's capture ended with its delivery.
    EXPECT_EQ(f.link.timerStops, 2);
    // The collected bytes were offered to the other packet.
    EXPECT_EQ(q.packets, std::vector<std::string>{"xcy"});
    f.manager.CaptureTimerExpired();  // nothing collects any more
    EXPECT_EQ(p.timeouts, 1);
    f.Feed("more\r\n");
    EXPECT_TRUE(p.packets.empty());
}

TEST(PacketMatch, LogEntries) {
    Fixture f;
    TestPacket& p = f.Add(StartEnd("AB", "\r\n"), "Reply");
    f.Open();
    p.core.SetEnabled(true);
    f.Feed("ABc\r\n");
    std::vector<std::pair<int, std::string>> expected = {
        {plEnable, "Packet:Reply"},     {plStartStr, "AB"},         {plWaiting, "Packet:Reply"},
        {plEndStr, "\r\n"},             {plCollecting, "Packet:Reply"}, {plIdle, "Packet:Reply"},
        {plDisable, "Packet:Reply"},    {plStringPacket, "Packet:Reply"}, {plStringPacket, "ABc\r\n"},
        {plEnable, "Packet:Reply"},     {plStartStr, "AB"},         {plWaiting, "Packet:Reply"},
        {plEndStr, "\r\n"},
    };
    EXPECT_EQ(f.link.log, expected);
    f.link.log.clear();
    f.link.logOn = false;
    f.Feed("ABd\r\n");
    EXPECT_TRUE(f.link.log.empty());
}

TEST(PacketMatch, DetachingTheCapturingPacketLetsTheCaptureGo) {
    Fixture f;
    TestPacket& lines = f.Add(ReplyLine(), "Lines");
    TestPacket& other = f.Add(ReplyLine(), "Other");
    f.Open();
    lines.core.SetEnabled(true);
    other.core.SetEnabled(true);
    ASSERT_EQ(f.manager.CapturePacket(), &lines.core);
    EXPECT_TRUE(other.core.AnyDataPending());
    f.manager.RemovePacket(lines.core);
    EXPECT_NE(f.manager.CapturePacket(), &lines.core);
    EXPECT_EQ(lines.core.Manager(), nullptr);
    EXPECT_FALSE(lines.core.OwnsCapture());
    f.Feed("x\r\n");
    EXPECT_EQ(other.packets, std::vector<std::string>{"x\r\n"});
    EXPECT_TRUE(lines.packets.empty());
}

TEST(PacketMatch, HandlersMayDisableAndReenable) {
    Fixture f;
    TestPacket& p = f.Add(ReplyLine());
    f.Open();
    p.core.SetEnabled(true);
    // Inside the event the packet is armed only when the event ends.
    p.onPacket = [&](const std::string&) {
        EXPECT_TRUE(f.manager.InEvent());
        EXPECT_EQ(p.core.MatchState(), pkIdle);
    };
    f.Feed("1\r\n2\r\n3\r\n");
    EXPECT_EQ(p.packets, (std::vector<std::string>{"1\r\n", "2\r\n", "3\r\n"}));
    // The port closes in a handler: the rest is dropped, nothing breaks.
    p.onPacket = [&](const std::string&) { f.manager.PortClosing(); };
    f.Feed("4\r\n5\r\n");
    EXPECT_EQ(p.packets.back(), "4\r\n");
    EXPECT_EQ(f.manager.BufferLength(), 0);
    EXPECT_FALSE(f.manager.Active());
}

// A handler closes and reopens the port, and bytes arrive before it
// returns: the delivered packet went with the old buffer, and the new bytes
// are not removed in its place.
TEST(PacketMatch, BytesReceivedAfterAReopenInAHandlerStay) {
    Fixture f;
    TestPacket& p = f.Add(ReplyLine());
    f.Open();
    p.core.SetEnabled(true);
    bool reopened = false;
    p.onPacket = [&](const std::string&) {
        if (reopened) return;
        reopened = true;
        f.manager.PortClosing();
        f.manager.PortOpening();
        f.Feed("XYZW\r\n");
    };
    f.Feed("ab\r\n");
    EXPECT_EQ(p.packets, (std::vector<std::string>{"ab\r\n", "XYZW\r\n"}));
    EXPECT_EQ(f.manager.BufferLength(), 0);
}

// Packets that leave while the matcher works: disabled, detached or freed
// from inside another packet's delivery, or while the capture they hold is
// handed on. A packet on its way out takes no part in any pass.
// A line packet holds the capture and has collected "x"; a start-only
// packet for "x" waits for it.
struct HeldCapture {
    Fixture f;
    TestPacket& lines = f.Add(ReplyLine(), "Lines");
    TestPacket& x = f.Add(StartEnd("x", "", 0), "X");
    HeldCapture() {
        f.Open();
        lines.core.SetEnabled(true);
        x.core.SetEnabled(true);
        f.Feed("x");
    }
};

TEST(PacketLeaving, DisablingTheCapturingPacketDoesNotRearmIt) {
    HeldCapture h;
    ASSERT_EQ(h.f.manager.CapturePacket(), &h.lines.core);
    // Ending the capture offers the byte to the other packet, whose
    // delivery ends with every enabled packet armed again.
    h.lines.core.SetEnabled(false);
    EXPECT_EQ(h.x.packets, std::vector<std::string>{"x"});
    EXPECT_FALSE(h.lines.core.Enabled());
    EXPECT_EQ(h.lines.core.MatchState(), pkIdle);
    EXPECT_EQ(h.f.manager.CapturePacket(), nullptr);
    h.f.Feed("x");  // the port still hears
    EXPECT_EQ(h.x.packets, (std::vector<std::string>{"x", "x"}));
    EXPECT_TRUE(h.lines.packets.empty());
}

TEST(PacketLeaving, APacketIsNotDeliveredDuringItsOwnRemoval) {
    HeldCapture h;
    // A line arrives while the other packet's handler runs; the line packet
    // would take it if it were armed again, and its handler frees it.
    h.x.onPacket = [&](const std::string&) { h.f.Feed("y\r\n"); };
    h.lines.onPacket = [&](const std::string&) { h.f.Free(h.lines); };
    h.f.manager.RemovePacket(h.lines.core);
    EXPECT_TRUE(h.lines.packets.empty());
    EXPECT_EQ(h.lines.core.Manager(), nullptr);
    EXPECT_EQ(h.lines.core.MatchState(), pkIdle);
    EXPECT_EQ(h.x.packets, std::vector<std::string>{"x"});
    EXPECT_EQ(h.f.manager.CapturePacket(), nullptr);
    EXPECT_EQ(h.f.manager.BufferLength(), 0);  // nobody matched "y\r\n"
    h.f.Free(h.lines);
}

TEST(PacketLeaving, PacketsFreedOrDetachedFromInsideDeliveries) {
    struct Case {
        const char* name;
        // What the first line's handler does to the packets (by index).
        std::function<void(Fixture&, std::vector<TestPacket*>&)> act;
        std::vector<std::string> first, second;  // what each packet delivers
    } cases[] = {
        {"frees itself", [](Fixture& f, std::vector<TestPacket*>& p) { f.Free(*p[0]); }, {"1\r\n"}, {"2\r\n"}},
        {"detaches itself", [](Fixture& f, std::vector<TestPacket*>& p) { f.manager.RemovePacket(p[0]->core); },
         {"1\r\n"}, {"2\r\n"}},
        {"frees the other", [](Fixture& f, std::vector<TestPacket*>& p) { f.Free(*p[1]); }, {"1\r\n", "2\r\n"}, {}},
        {"disables itself", [](Fixture&, std::vector<TestPacket*>& p) { p[0]->core.SetEnabled(false); },
         {"1\r\n", "2\r\n"}, {}},  // re-enabled by AutoEnable at the end of the event
        {"disables the other", [](Fixture&, std::vector<TestPacket*>& p) { p[1]->core.SetEnabled(false); },
         {"1\r\n", "2\r\n"}, {}},
    };
    for (const Case& c : cases) {
        Fixture f;
        std::vector<TestPacket*> p = {&f.Add(ReplyLine(), "A"), &f.Add(ReplyLine(), "B")};
        std::vector<std::string> delivered[2];
        bool acted = false;
        for (int i = 0; i < 2; ++i)
            p[static_cast<size_t>(i)]->onPacket = [&, i](const std::string& s) {
                delivered[i].push_back(s);
                if (!acted) {
                    acted = true;
                    c.act(f, p);
                }
            };
        f.Open();
        p[0]->core.SetEnabled(true);
        p[1]->core.SetEnabled(true);
        f.Feed("1\r\n2\r\n");
        EXPECT_EQ(delivered[0], c.first) << c.name;
        EXPECT_EQ(delivered[1], c.second) << c.name;
        EXPECT_EQ(f.manager.BufferLength(), 0) << c.name;
    }
}

// Closing the port while a packet collects: its capture ends, but the bytes
// are not handed to the packets that are not disarmed yet, and nothing is
// left armed on the closed port.
TEST(PacketLeaving, ClosingThePortHandsNoBytesOn) {
    Fixture f;
    PacketSettings timed = ReplyLine();
    timed.TimeOut = 18;
    TestPacket& lines = f.Add(timed, "Lines");
    PacketSettings pairs = ReplyLine();
    pairs.EndCond = kEndPacketSize;
    pairs.PacketSize = 2;
    TestPacket& two = f.Add(pairs, "Two");
    f.Open();
    lines.core.SetEnabled(true);
    two.core.SetEnabled(true);  // waits for the line packet's capture
    f.Feed("xyz");
    ASSERT_EQ(f.manager.CapturePacket(), &lines.core);
    f.manager.PortClosing();
    EXPECT_TRUE(two.packets.empty());
    EXPECT_EQ(f.manager.CapturePacket(), nullptr);
    for (TestPacket* p : {&lines, &two}) {
        EXPECT_EQ(p->core.MatchState(), pkIdle) << p->label;
        EXPECT_FALSE(p->core.AnyDataPending()) << p->label;
        EXPECT_TRUE(p->core.Enabled()) << p->label;  // armed again when the port opens
    }
    EXPECT_EQ(f.manager.BufferLength(), 0);
    // The line packet's capture began once, at its enable, and has ended.
    EXPECT_EQ(f.link.timerStarts, std::vector<int32_t>{18});
    EXPECT_GE(f.link.timerStops, 1);
    f.Open();
    f.Feed("ab\r\n");
    EXPECT_EQ(lines.packets, std::vector<std::string>{"ab\r\n"});
}

// A packet keeps Enabled without a port; attached to an open port it
// listens at once (or, when it cannot be armed, is disabled and its error
// reported).
TEST(PacketLeaving, AnEnabledPacketAttachedToAnOpenPortListens) {
    struct Case {
        const char* name;
        PacketSettings settings;
        std::vector<std::string> packets;
        std::vector<int32_t> reported;
    } cases[] = {
        {"any data", ReplyLine(), {"a\r\n"}, {}},
        {"start string", StartEnd("a", "\n"), {"a\r\n"}, {}},
        {"cannot be armed", StartEnd("", "\n"), {}, {kErrStartStringEmpty}},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.Open();
        TestPacket p;
        p.core.Settings = c.settings;
        p.core.SetEnabled(true);
        EXPECT_TRUE(p.core.Enabled()) << c.name;
        f.manager.AddPacket(p.core);
        f.Feed("a\r\n");
        EXPECT_EQ(p.packets, c.packets) << c.name;
        EXPECT_EQ(f.link.reported, c.reported) << c.name;
        EXPECT_EQ(p.core.Enabled(), c.reported.empty()) << c.name;
        f.manager.RemovePacket(p.core);
    }
}

// A packet that cannot be armed again when another one takes the capture,
// or when an event ends, is disabled and its error reported; the others go
// on, and nobody is left holding the capture without collecting.
TEST(PacketLeaving, ArmingErrorsWhileOthersMatch) {
    {
        Fixture f;
        TestPacket& broken = f.Add(StartEnd("A", "E"), "Broken");
        TestPacket& tagged = f.Add(StartEnd("R", "E"), "Tagged");
        TestPacket& lines = f.Add(ReplyLine(), "Lines");
        f.Open();
        broken.core.SetEnabled(true);
        tagged.core.SetEnabled(true);
        // A setting stored directly takes effect at the next arm, which
        // comes when the line packet takes the capture.
        broken.core.Settings.StartString.clear();
        lines.core.SetEnabled(true);
        EXPECT_EQ(f.link.reported, std::vector<int32_t>{kErrStartStringEmpty});
        EXPECT_FALSE(broken.core.Enabled());
        EXPECT_TRUE(lines.core.Enabled());
        EXPECT_EQ(lines.core.MatchState(), pkCollecting);
        EXPECT_EQ(f.manager.CapturePacket(), &lines.core);
        f.Feed("RzE\r\n");
        EXPECT_EQ(lines.packets, std::vector<std::string>{"RzE\r\n"});
        lines.core.SetEnabled(false);
        f.Feed("RzE");
        EXPECT_EQ(tagged.packets, std::vector<std::string>{"RzE"});
        EXPECT_EQ(f.link.reported.size(), 1u);
    }
    {
        Fixture f;
        TestPacket& lines = f.Add(ReplyLine(), "Lines");
        TestPacket& tagged = f.Add(StartEnd("R", "E"), "Tagged");
        f.Open();
        lines.core.SetEnabled(true);
        tagged.core.SetEnabled(true);
        lines.onPacket = [&](const std::string&) { lines.core.Settings.EndString.clear(); };
        f.Feed("1\r\nRzE");
        EXPECT_EQ(lines.packets, std::vector<std::string>{"1\r\n"});
        EXPECT_EQ(f.link.reported, std::vector<int32_t>{kErrEndStringEmpty});
        EXPECT_FALSE(lines.core.Enabled());
        // Its arming, put off during the event, is over too.
        EXPECT_FALSE(lines.core.EnablePending());
        EXPECT_EQ(tagged.packets, std::vector<std::string>{"RzE"});
    }
}

// Random packets, settings and data in random chunks, with handlers that
// disable, detach, free and add packets: whatever happens, the capture is
// held only by an attached, enabled, collecting packet, and (under the
// address sanitizer) no freed packet is touched.
TEST(PacketLeaving, RandomHandlersKeepTheCaptureConsistent) {
    std::mt19937 rng(4242);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto settings = [&] {
        static const char* starts[] = {"A", "AB", "?", "B"};
        static const char* ends[] = {"\r\n", "E", "?", "BA"};
        PacketSettings s;
        s.StartCond = pick(2) ? scAnyData : scString;
        s.StartString = starts[pick(4)];
        s.EndCond = static_cast<PacketEndSet>(pick(4));
        if (s.StartCond == scAnyData && s.EndCond == 0) s.EndCond = kEndString;
        s.EndString = ends[pick(4)];
        s.PacketSize = 2 + pick(5);
        s.TimeOut = pick(2) ? 0 : 18;
        s.AutoEnable = pick(4) != 0;
        s.IncludeStrings = pick(2) != 0;
        return s;
    };
    for (int round = 0; round < 400; ++round) {
        Fixture f;
        f.link.logOn = round % 7 == 0;
        std::function<void(TestPacket&)> arm;
        auto checkCapture = [&] {
            PacketCore* c = f.manager.CapturePacket();
            int owners = 0;
            for (PacketCore* p : f.manager.Packets()) {
                ASSERT_EQ(p->Manager(), &f.manager);
                owners += p->OwnsCapture();
            }
            if (!c) {
                ASSERT_EQ(owners, 0);
                return;
            }
            ASSERT_EQ(owners, 1);
            ASSERT_TRUE(std::count(f.manager.Packets().begin(), f.manager.Packets().end(), c));
            ASSERT_TRUE(c->OwnsCapture());
            ASSERT_TRUE(c->Enabled());
            ASSERT_EQ(c->MatchState(), pkCollecting);
        };
        auto act = [&](TestPacket& self) {
            std::vector<TestPacket*> all;
            for (auto& q : f.packets) all.push_back(q.get());
            TestPacket& other = *all[static_cast<size_t>(pick(static_cast<int>(all.size())))];
            try {
                switch (pick(9)) {
                    case 0: self.core.SetEnabled(false); break;
                    case 1: other.core.SetEnabled(false); break;
                    case 2: other.core.SetEnabled(true); break;
                    case 3: f.manager.RemovePacket(other.core); break;
                    case 4: f.Free(other); break;
                    case 5: f.Free(self); break;
                    case 6: arm(f.Add(settings())); break;
                    case 7: f.Feed(std::string(1, "AB\r\nE"[pick(5)])); break;
                    default: break;
                }
            } catch (const PacketErrorRaised&) {
            }
        };
        arm = [&](TestPacket& p) {
            p.onPacket = [&](const std::string&) { act(p); };
            try {
                p.core.SetEnabled(true);
            } catch (const PacketErrorRaised&) {
            }
        };
        int count = 1 + pick(4);
        for (int i = 0; i < count; ++i) arm(f.Add(settings()));
        f.Open();
        for (int step = 0; step < 40; ++step) {
            std::string chunk;
            for (int k = pick(12); k >= 0; --k) chunk += "xAB\r\nEz"[pick(7)];
            try {
                switch (pick(8)) {
                    case 0: f.manager.CaptureTimerExpired(); break;
                    case 1: act(*f.packets[static_cast<size_t>(pick(static_cast<int>(f.packets.size())))]); break;
                    default: f.Feed(chunk); break;
                }
            } catch (const PacketErrorRaised&) {
            }
            ASSERT_FALSE(f.manager.InEvent()) << "round " << round;
            checkCapture();
            if (HasFatalFailure()) FAIL() << "round " << round << " step " << step;
            if (f.packets.empty()) break;
        }
    }
}

// Packets found in one arrival are delivered one after another without
// the stack growing with their number.
TEST(PacketMany, EightThousandPacketsInOneArrival) {
    Fixture f;
    f.link.logOn = false;
    PacketSettings oneByte = ReplyLine();
    oneByte.EndString = "?";
    TestPacket& p = f.Add(oneByte);
    f.Open();
    p.core.SetEnabled(true);
    std::string bytes;
    for (int i = 0; i < 8192; ++i) bytes += static_cast<char>('a' + i % 26);
    f.Feed(bytes);
    ASSERT_EQ(p.packets.size(), 8192u);
    for (size_t i = 0; i < p.packets.size(); ++i) ASSERT_EQ(p.packets[i], bytes.substr(i, 1)) << i;
    EXPECT_EQ(f.manager.BufferLength(), 0);
}

TEST(PacketMany, TenThousandLinesReleasedByATimeOut) {
    Fixture f;
    f.link.logOn = false;
    PacketSettings block = ReplyLine();
    block.EndString = "END";
    block.TimeOut = 18;
    TestPacket& holder = f.Add(block, "Block");
    TestPacket& lines = f.Add(ReplyLine(), "Lines");
    f.Open();
    holder.core.SetEnabled(true);
    lines.core.SetEnabled(true);  // waits for the block packet's capture
    std::string stream;
    for (int i = 0; i < 10000; ++i) stream += std::to_string(i) + "\r\n";
    f.Feed(stream);
    EXPECT_TRUE(lines.packets.empty());
    f.manager.CaptureTimerExpired();
    EXPECT_EQ(holder.timeouts, 1);
    ASSERT_EQ(lines.packets.size(), 10000u);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(lines.packets[static_cast<size_t>(i)], std::to_string(i) + "\r\n");
    EXPECT_EQ(f.manager.BufferLength(), 0);
}

TEST(PacketBuffer, GrowsToFitAndAFailedFetchAddsNothing) {
    Fixture f;
    TestPacket& p = f.Add(ReplyLine());
    f.Open();
    p.core.SetEnabled(true);
    std::string big(20000, 'z');
    f.Feed(big);
    EXPECT_EQ(f.manager.BufferLength(), 20000);
    EXPECT_GE(f.manager.BufferCapacity(), 20000);
    EXPECT_EQ(f.manager.BufferCapacity() % 8192, 0);
    f.manager.Reserve(100);
    f.manager.Commit(-3007);
    EXPECT_EQ(f.manager.BufferLength(), 20000);
    f.Feed("\r\n");
    ASSERT_EQ(p.packets.size(), 1u);
    EXPECT_EQ(p.packets[0], big + "\r\n");
    EXPECT_EQ(f.manager.BufferLength(), 0);
    EXPECT_EQ(f.manager.Buffer(), nullptr);  // freed when empty
}

TEST(PacketBuffer, APacketThatKeepsGrowingIsCopiedInProportionToItsSize) {
    // 4 MiB in blocks of 1 KiB without the end string: the buffer doubles,
    // so it is copied a handful of times, never once per block.
    Fixture f;
    TestPacket& p = f.Add(ReplyLine());
    f.Open();
    p.core.SetEnabled(true);
    const std::string block(1024, 'b');
    int growths = 0;
    int32_t capacity = f.manager.BufferCapacity();
    for (int i = 0; i < 4096; ++i) {
        f.Feed(block);
        if (f.manager.BufferCapacity() != capacity) {
            ++growths;
            capacity = f.manager.BufferCapacity();
        }
    }
    EXPECT_EQ(f.manager.BufferLength(), 4 << 20);
    EXPECT_LE(growths, 12);  // 8 KiB doubled up to 8 MiB: 11
    EXPECT_LE(capacity, 2 * (4 << 20));
    // The line still ends where it ends.
    f.Feed("\r\n");
    ASSERT_EQ(p.packets.size(), 1u);
    EXPECT_EQ(p.packets[0].size(), (4u << 20) + 2);
}

TEST(PacketBuffer, ASizeLimitEndsALineThatNeverEnds) {
    // The end string or the size, whichever comes first: what a peer sends
    // without an end is never buffered beyond the size.
    PacketSettings s = ReplyLine();
    s.EndCond = kEndString | kEndPacketSize;
    s.PacketSize = 10;
    Fixture f;
    TestPacket& p = f.Add(s);
    f.Open();
    p.core.SetEnabled(true);
    f.Feed("short\r\nexactly\r\n0123456789abc\r\n");
    EXPECT_EQ(p.packets, (std::vector<std::string>{"short\r\n", "exactly\r\n", "0123456789", "abc\r\n"}));
}

TEST(PacketPattern, EscapesWildcardsAndCase) {
    struct Case {
        const char* text;
        bool ignoreCase;
        const char* pattern;
        const char* mask;
    } cases[] = {
        {"ab?", true, "AB?", "001"}, {"ab\\?", false, "ab?", "000"}, {"a\\\\b", false, "a\\b", "000"},
        {"x\\", false, "x", "0"},    {"\xe4z", true, "\xe4Z", "00"}, {"", true, "", ""},
    };
    for (const Case& c : cases) {
        std::string pattern, mask;
        BuildPattern(c.text, c.ignoreCase, pattern, mask);
        EXPECT_EQ(pattern, c.pattern) << c.text;
        EXPECT_EQ(mask, c.mask) << c.text;
    }
}

// ---- randomized: CR LF lines in any chunking ---------------------------

std::vector<std::string> RandomLines(std::mt19937& rng, int count) {
    static const char alphabet[] = "0123456789 abcdefXYZ-\r\x01\xff";
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        std::string line;
        int length = static_cast<int>(rng() % 40);
        for (int k = 0; k < length; ++k) line += alphabet[rng() % (sizeof alphabet - 1)];
        // A CR at the end would make this line's end CR CR LF, still one line.
        lines.push_back(line + "\r\n");
    }
    return lines;
}

std::vector<std::string> Deliveries(const std::string& stream, const std::vector<size_t>& cuts) {
    Fixture f;
    f.link.logOn = false;
    TestPacket& p = f.Add(ReplyLine());
    f.Open();
    p.core.SetEnabled(true);
    size_t at = 0;
    for (size_t cut : cuts) {
        f.Feed(stream.substr(at, cut - at));
        at = cut;
    }
    f.Feed(stream.substr(at));
    return p.packets;
}

TEST(PacketRandom, EverySplitPointDeliversEveryLineOnceWholeInOrder) {
    std::mt19937 rng(1234);
    std::vector<std::string> lines = RandomLines(rng, 12);
    std::string stream;
    for (const std::string& l : lines) stream += l;
    for (size_t cut = 0; cut <= stream.size(); ++cut)
        ASSERT_EQ(Deliveries(stream, {cut}), lines) << "split at " << cut;
    // Two cuts, every pair around the line ends.
    for (size_t a = 0; a < stream.size(); a += 3)
        for (size_t b = a; b <= stream.size(); b += 7) ASSERT_EQ(Deliveries(stream, {a, b}), lines) << a << "," << b;
}

TEST(PacketRandom, RandomChunkSizes) {
    std::mt19937 rng(98765);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> lines = RandomLines(rng, 1 + static_cast<int>(rng() % 60));
        std::string stream;
        for (const std::string& l : lines) stream += l;
        std::vector<size_t> cuts;
        for (size_t at = 0; at < stream.size();) {
            at += 1 + rng() % (round % 2 ? 5 : 300);
            if (at < stream.size()) cuts.push_back(at);
        }
        ASSERT_EQ(Deliveries(stream, cuts), lines) << "round " << round;
    }
}

}  // namespace
}  // namespace qv
