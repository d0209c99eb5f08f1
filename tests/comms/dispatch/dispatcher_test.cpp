// The dispatcher core over a scripted device: ring, deliveries to handlers,
// triggers, registry, line operations, trace and log files.
#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc.h"
#include "comms/dispatch/dispatcher.h"
#include "source_files.h"
#include "win_test_support.h"

namespace qv {
namespace {

using namespace test;

// A device whose input the test scripts and whose output it records.
class FakeDispatcher : public BaseDispatcher {
public:
    explicit FakeDispatcher(DispatcherOwner* owner = nullptr) : BaseDispatcher(owner) {}
    // A test double lives on the stack: its device holds nothing to close.
    ~FakeDispatcher() override = default;

    std::deque<uint8_t> device;  // bytes waiting in the device
    std::vector<int32_t> readSizes;
    Bytes written;
    int32_t writeLimit = -1;  // bytes one write takes (-1: all)
    int32_t pendingOut = 0;
    int32_t status = 0;
    std::vector<int32_t> escapes;
    int closes = 0, flushes = 0;
    bool running = false;

    int32_t Open(int32_t in = 4096, int32_t out = 4096) { return OpenSocketDevice(in, out); }
    void Feed(const Bytes& b) { device.insert(device.end(), b.begin(), b.end()); }
    // A poll as the socket device runs it.
    void Poll() { ServicePoll(false); }

    int32_t DeviceEscape(int32_t f) override {
        escapes.push_back(f);
        return 0;
    }
    int32_t DeviceFlush(int32_t) override {
        ++flushes;
        return 0;
    }
    int32_t DeviceStatus(DeviceCounts& c) override {
        c.InputCount = static_cast<int32_t>(device.size());
        c.OutputCount = pendingOut;
        return status;
    }
    void DeviceReadFailed(int32_t) override {}
    int32_t DeviceGetLine(LineSettings& s) override {
        s.Baud = 19200;
        return 0;
    }
    int32_t DeviceRead(uint8_t* buffer, int32_t size) override {
        readSizes.push_back(size);
        int32_t n = std::min<int32_t>(size, static_cast<int32_t>(device.size()));
        for (int32_t i = 0; i < n; ++i) {
            buffer[i] = device.front();
            device.pop_front();
        }
        return n;
    }
    int32_t DeviceSetLine(const LineSettings&) override { return 0; }
    int32_t DeviceWrite(const uint8_t* b, int32_t count) override {
        int32_t n = writeLimit < 0 ? count : std::min(count, writeLimit);
        written.insert(written.end(), b, b + n);
        return n;
    }
    bool DeviceWaitEvent(uint32_t&) override { return true; }
    bool DeviceSetup(int32_t, int32_t) override { return true; }
    void StartDispatch() override {
        SetStarted(true);
        running = true;
    }
    void StopDispatch() override {
        SetStarted(false);
        running = false;
    }
    int32_t DeviceOpen(const char*, int32_t, int32_t) override { return 5; }
    int32_t DeviceClose() override {
        ++closes;
        return 0;
    }
    void DevicePoll() override {}
};

// An event handler that records what it was given and fetches as told.
struct Recorder {
    BaseDispatcher* d = nullptr;
    int32_t fetch = 0;  // bytes to fetch per data message (-1: all announced)
    std::vector<std::pair<UINT, WPARAM>> messages;
    std::vector<Bytes> fetched;
    std::function<void()> also;
    void Handler(UINT msg, WPARAM w, LPARAM) {
        messages.push_back({msg, w});
        if (msg == MsgTriggerAvail) {
            int32_t n = fetch < 0 ? static_cast<int32_t>(w) : std::min<int32_t>(fetch, static_cast<int32_t>(w));
            Bytes b(static_cast<size_t>(n));
            if (n > 0) {
                EXPECT_EQ(d->FetchBlock(b.data(), n), n);
            }
            fetched.push_back(b);
        }
        if (also) also();
    }
    DispatchMethod Method() { return DispatchMethod::Bind<&Recorder::Handler>(this); }
};

// A second, distinct method (handlers are compared by code).
struct OtherRecorder : Recorder {
    void Other(UINT msg, WPARAM w, LPARAM l) { Handler(msg, w, l); }
    DispatchMethod Method() { return DispatchMethod::Bind<&OtherRecorder::Other>(this); }
};

TEST(Dispatcher, TwoHandlersShareTheSameBytes) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    Recorder a;
    OtherRecorder b;
    a.d = b.d = &d;
    a.fetch = 10;
    b.fetch = 4;
    d.AddEventHandler(a.Method());
    d.AddEventHandler(b.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("0123456789"));
    d.Poll();
    ASSERT_EQ(a.fetched.size(), 1u);
    ASSERT_EQ(b.fetched.size(), 1u);
    EXPECT_EQ(a.fetched[0], S("0123456789"));
    EXPECT_EQ(b.fetched[0], S("0123"));
    EXPECT_EQ(a.messages[0], (std::pair<UINT, WPARAM>{MsgTriggerAvail, 10}));
    EXPECT_EQ(d.Ring().tail, 10);
    EXPECT_EQ(d.BytesAvailable(), 0);
}

TEST(Dispatcher, UnreadBytesAreAnnouncedAgainOnlyWithNewOnes) {
    FakeDispatcher d;
    d.Open();
    Recorder a;
    a.d = &d;
    d.AddEventHandler(a.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("0123456789"));
    d.Poll();
    d.Poll();  // nothing new: no announcement
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_EQ(d.Ring().tail, 0);
    d.Feed(S("abcde"));
    d.Poll();
    ASSERT_EQ(a.messages.size(), 2u);
    EXPECT_EQ(a.messages[1].second, 15u);
    // The fetch-nothing delivery returns false, so one pass per poll.
    FakeDispatcher e;
    e.Open();
    Recorder r;
    r.d = &e;
    e.AddEventHandler(r.Method());
    e.SetAvailThreshold(1);
    e.Feed(S("x"));
    EXPECT_TRUE(e.FillRing());
    EXPECT_FALSE(e.RunTriggerPass());
    EXPECT_FALSE(e.RunTriggerPass());
}

TEST(Dispatcher, FetchBlockLimits) {
    FakeDispatcher d;
    d.Open();
    Bytes out(16);
    EXPECT_EQ(d.FetchBlock(out.data(), 1), kErrBufferIsEmpty);
    d.Feed(S("abc"));
    d.FillRing();
    EXPECT_EQ(d.FetchBlock(out.data(), 4), kErrBufferIsEmpty);
    EXPECT_EQ(d.Ring().tail, 0);
    EXPECT_EQ(d.FetchBlock(out.data(), 2), 2);
    EXPECT_EQ(d.Ring().tail, 2);
    EXPECT_EQ(d.FetchBlock(out.data(), 0), 0);
    // During a delivery a handler continues where it stopped and can never
    // read past the stored bytes.
    Recorder a;
    a.d = &d;
    std::vector<int32_t> results;
    a.also = [&] {
        Bytes b(8);
        results.push_back(d.FetchBlock(b.data(), 2));
        results.push_back(d.FetchBlock(b.data(), 2));
        results.push_back(d.FetchBlock(b.data(), 1));
        results.push_back(d.BytesAvailable());
    };
    d.AddEventHandler(a.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("defg"));
    d.Poll();  // announces 5 (c + defg), handler fetches 0 via fetch=0, then 2, 2, 1
    EXPECT_EQ(results, (std::vector<int32_t>{2, 2, 1, 0}));
    EXPECT_EQ(d.BytesAvailable(), 0);
}

TEST(Dispatcher, SendBlockResults) {
    struct Case {
        const char* name;
        int32_t pendingOut, writeLimit, count, result, writtenCount;
    } cases[] = {
        {"nothing to send", 0, -1, 0, 0, 0},
        {"all taken", 0, -1, 10, 0, 10},
        {"exactly the free space", 4086, -1, 10, 0, 10},
        {"larger than the free space", 4090, -1, 10, kErrOutputBufferTooSmall, 0},
        {"device took nothing", 0, 0, 10, kErrPutBlockFail, 0},
        {"device took part", 0, 6, 10, kErrPutBlockFail, 6},
    };
    std::string path = TempPath("qv_sendblock.log");
    for (const Case& c : cases) {
        DeleteFileA(path.c_str());
        FakeDispatcher d;
        d.Open();
        d.StartLog(1000);
        d.pendingOut = c.pendingOut;
        d.writeLimit = c.writeLimit;
        Bytes block(static_cast<size_t>(c.count), 'x');
        EXPECT_EQ(d.SendBlock(block.data(), c.count), c.result) << c.name;
        EXPECT_EQ(static_cast<int32_t>(d.written.size()), c.writtenCount) << c.name;
        // An empty or refused block writes no log record (and an empty log
        // makes no file).
        bool logged = c.count > 0 && c.result != kErrOutputBufferTooSmall;
        EXPECT_EQ(d.DumpLog(path, true, false), 0) << c.name;
        EXPECT_EQ(FileExistsAt(path), logged) << c.name;
    }
    DeleteFileA(path.c_str());
}

TEST(Dispatcher, TriggerHandles) {
    FakeDispatcher d;
    d.Open();
    EXPECT_EQ(d.AddTimerTrigger(), 8);
    EXPECT_EQ(d.AddTimerTrigger(), 16);
    EXPECT_EQ(d.SetTimerTrigger(24, 5, true), kErrBadTriggerHandle);
    EXPECT_EQ(d.RemoveTrigger(0), kErrBadTriggerHandle);
    EXPECT_EQ(d.RemoveTrigger(99), kErrBadTriggerHandle);
    d.SetAvailThreshold(3);
    EXPECT_EQ(d.RemoveTrigger(kAvailTriggerHandle), 0);
    EXPECT_EQ(d.AvailThreshold(), 0);
    EXPECT_EQ(d.RemoveTrigger(8), 0);
    EXPECT_EQ(d.RemoveTrigger(8), kErrBadTriggerHandle);
    int32_t status = d.AddStatusTrigger(kStatusOutputSent);
    EXPECT_EQ(status, 24 + kStatusOutputSent);
    EXPECT_EQ(BaseDispatcher::StatusKindOf(status), kStatusOutputSent);
    EXPECT_EQ(d.AddDataTrigger("OK", false), 32);

    // Triggers carried to a new dispatcher keep their handles; new ones
    // never take a handle in use.
    TriggerSaveArea saved;
    d.SaveTriggers(saved);
    FakeDispatcher next;
    next.Open();
    next.RestoreTriggers(saved);
    EXPECT_EQ(next.TimerTriggerCount(), 1);
    EXPECT_EQ(next.RemoveTrigger(16), 0);
    EXPECT_EQ(next.AddTimerTrigger(), 8);
    EXPECT_EQ(next.AddTimerTrigger(), 16);
    EXPECT_EQ(next.AddTimerTrigger(), 40);  // 24 and 32 are the restored status and data triggers
    BaseDispatcher::DiscardSavedTriggers(saved);
    EXPECT_FALSE(saved.Saved);
}

TEST(Dispatcher, TimerTriggerFiresOnceAfterExpiry) {
    FakeDispatcher d;
    d.Open();
    Recorder a;
    a.d = &d;
    d.AddEventHandler(a.Method());
    int32_t t = d.AddTimerTrigger();
    int32_t off = d.AddTimerTrigger();
    EXPECT_EQ(d.SetTimerTrigger(t, 1, true), 0);
    EXPECT_EQ(d.SetTimerTrigger(off, 1, true), 0);
    EXPECT_EQ(d.SetTimerTrigger(off, 0, false), 0);
    d.Poll();
    EXPECT_TRUE(a.messages.empty());
    Sleep(2 * 55 + 20);
    d.Poll();
    d.Poll();
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_EQ(a.messages[0], (std::pair<UINT, WPARAM>{MsgTriggerTimer, static_cast<WPARAM>(t)}));
    EXPECT_FALSE(d.TimerTriggerActive(t));
    // Reactivating with ticks 0 keeps the last length.
    EXPECT_EQ(d.SetTimerTrigger(t, 0, true), 0);
    EXPECT_TRUE(d.TimerTriggerActive(t));
}

TEST(Dispatcher, DataAndStatusTriggers) {
    FakeDispatcher d;
    d.Open();
    Recorder a;
    a.d = &d;
    d.AddEventHandler(a.Method());
    int32_t data = d.AddDataTrigger("ok", true);
    int32_t sent = d.AddStatusTrigger(kStatusOutputSent);
    d.SetStatusTrigger(sent, 0, 0, true);
    d.Feed(S("xxO"));
    d.Poll();
    d.Feed(S("Kyy"));
    d.Poll();
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_EQ(a.messages[0], (std::pair<UINT, WPARAM>{MsgTriggerData, static_cast<WPARAM>(data)}));
    d.SendBlock("z", 1);
    d.Poll();
    ASSERT_EQ(a.messages.size(), 2u);
    EXPECT_EQ(a.messages[1], (std::pair<UINT, WPARAM>{MsgTriggerStatus, static_cast<WPARAM>(sent)}));
    d.Poll();  // fired once per activation
    EXPECT_EQ(a.messages.size(), 2u);
}

TEST(Dispatcher, HandlerFlags) {
    RecordingOwner port;
    FakeDispatcher d(&port);
    d.Open();
    d.AddWindowHandler(port.Window());
    d.SetAvailThreshold(1);
    // Only the port's window, port-handler flag clear: still served, but
    // the window is skipped and nobody takes the bytes.
    EXPECT_TRUE(d.HandlerService());
    d.Feed(S("abc"));
    d.FillRing();
    EXPECT_FALSE(d.RunTriggerPass());
    EXPECT_EQ(port.Count(MsgTriggerAvail), 0);
    // Switched off: nobody is called and the delivery counts as done.
    d.AdjustHandlerFlags(hcPortHandlerOff);
    EXPECT_FALSE(d.HandlerService());
    d.Feed(S("d"));
    d.FillRing();
    EXPECT_TRUE(d.RunTriggerPass());
    EXPECT_FALSE(d.RunTriggerPass());  // announced once
    EXPECT_EQ(port.Count(MsgTriggerAvail), 0);
    // Port handler on: the window gets the messages.
    d.AdjustHandlerFlags(hcPortHandlerOn);
    EXPECT_TRUE(d.HandlerService());
    EXPECT_TRUE(d.PortHandler());
    d.Feed(S("e"));
    d.Poll();
    EXPECT_EQ(port.Count(MsgTriggerAvail), 1);
    EXPECT_EQ(port.messages.back().lParam, static_cast<LPARAM>(d.Handle()) << 16);
    d.AdjustHandlerFlags(hcPortHandlerOff);
    RecordingOwner second;
    d.AddWindowHandler(second.Window());  // a second window: both are served
    d.Feed(S("f"));
    d.Poll();
    EXPECT_EQ(port.Count(MsgTriggerAvail), 2);
    EXPECT_EQ(second.Count(MsgTriggerAvail), 1);
}

TEST(Dispatcher, RemovalDuringDeliveryIsDeferred) {
    RecordingOwner port, extra;
    FakeDispatcher d(&port);
    d.Open();
    d.AddWindowHandler(port.Window());
    d.AddWindowHandler(extra.Window());
    Recorder a;
    OtherRecorder b;
    a.d = b.d = &d;
    a.also = [&] {
        d.RemoveWindowHandler(extra.Window());
        d.RemoveEventHandler(b.Method());
    };
    d.AddEventHandler(a.Method());
    d.AddEventHandler(b.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("1"));
    d.Poll();
    EXPECT_EQ(a.messages.size(), 1u);
    EXPECT_EQ(b.messages.size(), 0u);  // removed before its turn
    EXPECT_EQ(extra.Count(MsgTriggerAvail), 0);
    EXPECT_EQ(port.Count(MsgTriggerAvail), 0);  // one window left, port-handler flag clear
    a.also = nullptr;
    d.AdjustHandlerFlags(hcPortHandlerOn);
    d.Feed(S("2"));
    d.Poll();
    EXPECT_EQ(extra.Count(MsgTriggerAvail), 0);  // gone for good
    EXPECT_EQ(port.Count(MsgTriggerAvail), 1);
    EXPECT_EQ(b.messages.size(), 0u);
}

TEST(Dispatcher, CloseFromAHandlerIsDeferredUntilTheDeliveryEnds) {
    RecordingOwner port;
    FakeDispatcher d(&port);
    d.Open();
    Recorder a;
    OtherRecorder b;
    a.d = b.d = &d;
    bool startedInHandler = false, pendingInHandler = false;
    a.also = [&] {
        d.CloseDevice();
        startedInHandler = d.Started();
        pendingInHandler = d.ClosePending();
    };
    d.AddEventHandler(a.Method());
    d.AddEventHandler(b.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("bye"));
    d.Poll();
    EXPECT_TRUE(startedInHandler);  // not released while delivering
    EXPECT_TRUE(pendingInHandler);
    EXPECT_TRUE(b.messages.empty());
    EXPECT_FALSE(d.ClosePending());  // released when the delivery ended
    EXPECT_FALSE(d.Started());
    EXPECT_FALSE(d.Ring().Allocated());
    EXPECT_EQ(d.closes, 1);
    PumpPending();
    EXPECT_EQ(port.Count(MsgPortDeferredClose), 1);
    EXPECT_EQ(port.messages.back().lParam, static_cast<LPARAM>(d.Handle()) << 16);
}

TEST(Dispatcher, DestroyedDuringADeliveryIsFreedAfterIt) {
    auto* d = new FakeDispatcher();
    d->Open();
    int32_t handle = d->Handle();
    Recorder a;
    a.d = d;
    a.also = [&] { d->Destroy(); };
    d->AddEventHandler(a.Method());
    d->SetAvailThreshold(1);
    d->Feed(S("x"));
    d->Poll();  // frees d at its end
    EXPECT_EQ(BaseDispatcher::DispatcherAt(handle), nullptr);
}

TEST(Dispatcher, HandlerExceptionsLeaveTheDispatcherConsistent) {
    FakeDispatcher d;
    d.Open();
    Recorder a;
    a.d = &d;
    a.also = [&] {
        d.RemoveEventHandler(a.Method());
        throw Exception("handler failed");
    };
    d.AddEventHandler(a.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("x"));
    EXPECT_THROW(d.Poll(), Exception);
    EXPECT_FALSE(d.Dispatching());
    d.Feed(S("y"));
    d.Poll();  // the removal was completed: nobody is called
    EXPECT_EQ(a.messages.size(), 1u);
}

TEST(Dispatcher, BurstLargerThanTheRingWaitsInTheDevice) {
    FakeDispatcher d;
    d.Open();
    Recorder a;
    a.d = &d;
    a.fetch = 0;
    d.AddEventHandler(a.Method());
    d.SetAvailThreshold(1);
    // Move the positions so that the free space wraps.
    d.Feed(Bytes(100, '-'));
    d.Poll();
    a.fetch = -1;
    d.Feed(S("+"));
    d.Poll();
    ASSERT_EQ(d.Ring().head, 101);
    ASSERT_EQ(d.Ring().tail, 101);
    a.fetch = 0;
    Bytes burst(9000);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 13);
    d.Feed(burst);
    d.readSizes.clear();
    d.Poll();
    EXPECT_EQ(d.readSizes, (std::vector<int32_t>{8192 - 101, 101}));
    EXPECT_TRUE(d.Ring().full);
    EXPECT_EQ(d.BytesAvailable(), 8192);
    EXPECT_EQ(d.device.size(), 808u);
    // The full ring was announced (its positions came back to the start).
    EXPECT_EQ(a.messages.back(), (std::pair<UINT, WPARAM>{MsgTriggerAvail, 8192}));
    a.fetch = -1;
    d.Feed(Bytes());
    d.Poll();  // a full ring reads nothing; the old bytes are not new
    a.fetched.clear();
    Bytes b(8192);
    ASSERT_EQ(d.FetchBlock(b.data(), 8192), 8192);
    d.Poll();
    ASSERT_EQ(a.fetched.size(), 1u);
    Bytes all = b + a.fetched[0];
    EXPECT_EQ(all, burst);
}

TEST(Dispatcher, RegistryReusesHandles) {
    std::vector<std::unique_ptr<FakeDispatcher>> list;
    int32_t base = BaseDispatcher::RegistryLength();
    for (int i = 0; i < 3; ++i) list.push_back(std::make_unique<FakeDispatcher>());
    EXPECT_EQ(list[0]->Handle(), base);
    EXPECT_EQ(list[2]->Handle(), base + 2);
    int32_t middle = list[1]->Handle();
    list[1].reset();
    EXPECT_EQ(BaseDispatcher::DispatcherAt(middle), nullptr);
    auto again = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(again->Handle(), middle);
    list[2].reset();
    EXPECT_EQ(BaseDispatcher::RegistryLength(), base + 2);  // empty slots at the end go
    // Lookups by device id and class, cached, forgotten at close.
    list[0]->Open();
    EXPECT_EQ(BaseDispatcher::FindDispatcher(5, &BaseDispatcher::IsA<FakeDispatcher>), list[0].get());
    EXPECT_EQ(BaseDispatcher::FindDispatcher(5, &BaseDispatcher::IsA<FakeDispatcher>), list[0].get());
    EXPECT_EQ(BaseDispatcher::FindDispatcher(6, nullptr), nullptr);
    list[0]->CloseDevice();
    EXPECT_EQ(BaseDispatcher::FindDispatcher(5, nullptr), nullptr);
}

TEST(Dispatcher, LineOperations) {
    FakeDispatcher d;
    d.Open(4096, 4096);
    EXPECT_EQ(d.ConfigHardwareFlow(10, 20, 1), kErrBadArgument);
    EXPECT_EQ(d.ConfigHardwareFlow(5000, 20, 1), kErrBadArgument);
    EXPECT_EQ(d.ConfigHardwareFlow(3686, 410, 3), 0);
    EXPECT_EQ(d.CurrentLineSettings().XoffLimit, 4096 - 3686);
    EXPECT_EQ(d.CurrentLineSettings().XonLimit, 410);
    EXPECT_EQ(d.CurrentLineSettings().FlowFlags & (kFlowDtrHandshake | kFlowRtsHandshake),
              kFlowDtrHandshake | kFlowRtsHandshake);
    EXPECT_EQ(d.ConfigSoftwareFlow(3072, 1024, 2), 0);
    EXPECT_EQ(d.CurrentLineSettings().XonChar, 17);
    EXPECT_EQ(d.CurrentLineSettings().XoffChar, 19);
    EXPECT_TRUE(d.CurrentLineSettings().FlowFlags & kFlowXonXoffIn);
    EXPECT_EQ(d.StopSoftwareFlow(), 0);
    EXPECT_FALSE(d.CurrentLineSettings().FlowFlags & (kFlowXonXoffIn | kFlowXonXoffOut));
    d.escapes.clear();
    EXPECT_EQ(d.SetDtrLine(false), 0);
    EXPECT_EQ(d.SetRtsLine(true), 0);
    EXPECT_EQ(d.escapes, (std::vector<int32_t>{leClearDtr, leSetRts}));
    d.SetDtrAutomatic(true);
    EXPECT_EQ(d.SetDtrLine(true), 1);
    d.SetPortOption(4);
    EXPECT_EQ(d.PortOptions(), 4u);
    d.ClearPortOption(4);
    EXPECT_EQ(d.PortOptions(), 0u);
    // Line errors come from the device status, highest priority first.
    d.status = 16 | 8 | 2;
    d.RefreshStatus();
    EXPECT_EQ(d.TakeLineError(), 2);
    EXPECT_EQ(d.TakeLineError(), 9);
    EXPECT_TRUE(d.TakeBreakFlag());
    EXPECT_FALSE(d.TakeBreakFlag());
    EXPECT_EQ(d.TakeLineError(), 0);
}

// ---- trace and log files -----------------------------------------------

TEST(DispatcherTrace, DumpAndAppendFiles) {
    std::string path = TempPath("qv_dispatch_test.trc");
    DeleteFileA(path.c_str());
    FakeDispatcher d;
    d.Open();
    EXPECT_EQ(d.StartTrace(4000001), kErrBadArgument);
    EXPECT_FALSE(d.TraceExists());
    ASSERT_EQ(d.StartTrace(100), 0);
    EXPECT_EQ(d.DumpTrace(path, true, false), 0);  // empty: no file
    EXPECT_FALSE(FileExistsAt(path));
    EXPECT_FALSE(d.TraceExists());

    d.StartTrace(100);
    ASSERT_EQ(d.SendBlock("US\r\n", 4), 0);
    d.Feed(S("220"));
    d.FillRing();
    Bytes b(3);
    ASSERT_EQ(d.FetchBlock(b.data(), 3), 3);
    EXPECT_EQ(d.DumpTrace(path, true, false), 0);
    EXPECT_FALSE(d.TraceExists());
    EXPECT_EQ(ReadFileText(path), test::ReadSourceFile("tests/comms/dispatch/golden/trace_transmit_receive_hex.txt"));

    d.StartTrace(100);
    d.SendBlock("Q", 1);
    EXPECT_EQ(d.AppendTrace(path, true, false), 0);
    EXPECT_EQ(ReadFileText(path),
              test::ReadSourceFile("tests/comms/dispatch/golden/trace_transmit_receive_hex.txt") + "Transmit: \r\nQ");

    d.StartTrace(100);
    d.SendBlock("Q", 1);
    EXPECT_EQ(d.DumpTrace(TempPath("no-such-folder\\x.trc"), true, false), -3);  // path not found
    EXPECT_FALSE(d.TraceExists());
    DeleteFileA(path.c_str());
}

TEST(DispatcherLog, DumpWritesHeaderAndRecords) {
    std::string path = TempPath("qv_dispatch_test.log");
    DeleteFileA(path.c_str());
    FakeDispatcher d;
    d.Open();
    d.StartLog(1000);
    EXPECT_EQ(d.DumpLog(path, true, false), 0);  // empty: no file
    EXPECT_FALSE(FileExistsAt(path));
    EXPECT_FALSE(d.LogExists());

    d.StartLog(10000);
    Recorder a;
    a.d = &d;
    a.fetch = -1;
    d.AddEventHandler(a.Method());
    d.SetAvailThreshold(1);
    d.Feed(S("abc"));
    d.Poll();
    int32_t t = d.AddTimerTrigger();
    d.SetTimerTrigger(t, 18, true);
    d.SetTimerTrigger(t, 0, false);
    d.RemoveTrigger(t);
    d.RemoveEventHandler(a.Method());
    EXPECT_EQ(d.DumpLog(TempPath("no-such-folder\\x.log"), true, false), -3);
    EXPECT_TRUE(d.LogExists());  // kept after a failed dump
    ASSERT_EQ(d.DumpLog(path, true, false), 0);
    EXPECT_FALSE(d.LogExists());

    std::string text = ReadFileText(path);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "COMMS v3.04");
    EXPECT_EQ(lines[1].rfind("Compiler : GNU C++ ", 0), 0u);
    EXPECT_NE(lines[1].find("mingw-w64"), std::string::npos);
    EXPECT_EQ(lines[2].rfind("Operating System : ", 0), 0u);
    EXPECT_LE(lines[2].size(), 80u);
    EXPECT_EQ(lines[3], "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(lines[4], "--------  --------  ------------  --------  ---------");
    // The records, their times cut off (they depend on the clock).
    std::vector<std::string> records;
    for (size_t i = 5; i < lines.size(); ++i) {
        ASSERT_GE(lines[i].size(), 10u);
        EXPECT_EQ(lines[i][4], '.') << lines[i];
        records.push_back(lines[i].substr(10));
    }
    std::vector<std::string> expected = {
        "TrgHdAlc  Method        00000000  ",
        "TrDatChg  Avail         00000001  ",
        "Dispatch  ReadCom       00000003  abc",
        "Trigger   Avail         00000003  ",
        "TrigAllc  Timer         00000008  ",
        "TrDatChg  Timer         00000008  [12][00][00][00]",
        "TrDatChg  Timer         00000008  Deactivated",
        "TrigDisp  Timer         00000008  ",
        "TrgHdDsp  Method        00000000  ",
    };
    EXPECT_EQ(records, expected);
    DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace qv
