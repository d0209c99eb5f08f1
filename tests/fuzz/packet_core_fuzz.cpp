// The packet matcher over one port's shared receive buffer: packets with
// any settings, data in any chunks, and handlers that disable, re-enable,
// detach, re-attach, free and add packets, change their settings, feed more
// data or close and reopen the port from inside deliveries and time-outs.
//
// Invariants:
//  - one packet alone delivers the same packets whether its data comes
//    whole, in random chunks or byte by byte, and those are the packets of
//    a plain model (earliest start match, first end by size or end string,
//    what is left offered again from its start; an arming error gives the
//    model's code and nothing);
//  - every packet delivered has the shape the model gives for its settings
//    at the place in the buffer where it lies (start string there, the
//    first end after it), lies inside the buffer, and is removed with
//    everything before it once its event is over;
//  - the buffer always holds the latest bytes received since the port
//    opened, consumed only from the front;
//  - deliveries never nest; no packet is delivered while it is being
//    removed, after it was freed, while detached, or after it was disabled
//    (by a handler, a time-out, a delivery without AutoEnable or a failed
//    re-arm) until someone enables it again; a packet is never enabled by
//    anyone but its owner or its own AutoEnable;
//  - at most one packet holds the capture, and it is a listed, enabled,
//    collecting one; the capture timer runs exactly while a packet with a
//    time-out holds the capture, and a time-out goes only to that packet;
//  - outside an event, on an open port, every listed enabled packet is
//    armed (waiting, collecting, or waiting for a rival's capture): the
//    port never goes deaf; inside an event every packet is disarmed; on a
//    closed port nothing is armed and the buffer is empty.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comms/port/packet_core.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::Show;
using qv::PacketCore;
using qv::PacketManagerCore;
using qv::PacketSettings;

// QV_FUZZ_TRACE=1 in the environment prints what happens, for reading a
// finding.
void Trace(const std::string& line) {
    static const bool on = std::getenv("QV_FUZZ_TRACE") != nullptr;
    if (on) std::fprintf(stderr, "%s\n", line.c_str());
}

std::string Describe(const PacketSettings& s) {
    std::string d = s.StartCond == qv::scString ? "start " + Show(s.StartString) : std::string("any data");
    if (s.EndCond & qv::kEndString) d += ", end " + Show(s.EndString);
    if (s.EndCond & qv::kEndPacketSize) d += ", size " + std::to_string(s.PacketSize);
    if (s.TimeOut) d += ", time-out " + std::to_string(s.TimeOut);
    if (!s.AutoEnable) d += ", no auto enable";
    if (!s.IgnoreCase) d += ", case";
    if (!s.IncludeStrings) d += ", strings left out";
    return d;
}

std::string Str(const uint8_t* data, int32_t length) {
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

// ---- the model ---------------------------------------------------------

uint8_t Fold(uint8_t b) { return b >= 'a' && b <= 'z' ? static_cast<uint8_t>(b - 32) : b; }

// A pattern position: a byte, or any byte.
struct Position {
    uint8_t byte;
    bool any;
};
using Pattern = std::vector<Position>;

// Letters folded first (when the case is ignored), then "\" takes the next
// character as it is and "?" stands for any byte.
Pattern MakePattern(const std::string& text, bool ignoreCase) {
    std::string folded = text;
    if (ignoreCase)
        for (char& c : folded) c = static_cast<char>(Fold(static_cast<uint8_t>(c)));
    Pattern p;
    for (size_t i = 0; i < folded.size(); ++i) {
        if (folded[i] == '\\') {
            if (i + 1 < folded.size()) p.push_back({static_cast<uint8_t>(folded[++i]), false});
        } else {
            p.push_back({static_cast<uint8_t>(folded[i]), folded[i] == '?'});
        }
    }
    return p;
}

// The pattern lies at `at` in the bytes (an empty pattern lies nowhere: a
// start or end string of escapes alone never matches).
bool PatternAt(const Pattern& p, bool ignoreCase, std::string_view bytes, size_t at) {
    if (p.empty() || at + p.size() > bytes.size()) return false;
    for (size_t k = 0; k < p.size(); ++k) {
        uint8_t b = static_cast<uint8_t>(bytes[at + k]);
        if (!p[k].any && (ignoreCase ? Fold(b) : b) != p[k].byte) return false;
    }
    return true;
}

int32_t ModelArmError(const PacketSettings& s) {
    bool bySize = s.EndCond & qv::kEndPacketSize, byString = s.EndCond & qv::kEndString;
    if (s.StartCond == qv::scString) {
        if (s.StartString.empty()) return qv::kErrStartStringEmpty;
        if (bySize && s.PacketSize < static_cast<int32_t>(s.StartString.size())) return qv::kErrSizeBelowStartString;
    } else if (s.EndCond == 0) {
        return qv::kErrNoEndCondition;
    }
    if (byString && s.EndString.empty()) return qv::kErrEndStringEmpty;
    if (bySize && s.PacketSize == 0) return qv::kErrPacketSizeZero;
    return 0;
}

struct ModelPacket {
    PacketSettings s;
    Pattern start, end;
    explicit ModelPacket(const PacketSettings& settings)
        : s(settings),
          start(settings.StartCond == qv::scString ? MakePattern(settings.StartString, settings.IgnoreCase)
                                                   : Pattern()),
          end(settings.EndCond & qv::kEndString ? MakePattern(settings.EndString, settings.IgnoreCase)
                                                : Pattern()) {}

    struct Found {
        bool found = false;
        size_t last = 0;  // index of the packet's last byte
        std::string delivered;
    };

    // The packet that begins at `begin` (its start string lies there for
    // a start-string packet): where it ends and what is delivered.
    Found PacketAt(std::string_view bytes, size_t begin) const {
        Found f;
        size_t collect = begin + start.size();
        bool byEndString = false;
        if (s.StartCond == qv::scString && s.EndCond == 0) {
            if (collect > bytes.size()) return f;
            f.last = collect - 1;
        } else {
            size_t i = collect;
            for (; i < bytes.size(); ++i) {
                // The size counts from the packet's first byte, the end
                // string only over collected bytes; the size first.
                if ((s.EndCond & qv::kEndPacketSize) && int64_t(i - begin) + 1 >= s.PacketSize) break;
                if ((s.EndCond & qv::kEndString) && i + 1 >= collect + end.size() &&
                    PatternAt(end, s.IgnoreCase, bytes, i + 1 - end.size())) {
                    byEndString = true;
                    break;
                }
            }
            if (i >= bytes.size()) return f;
            f.last = i;
        }
        f.found = true;
        size_t from = begin, to = f.last + 1;
        if (!s.IncludeStrings) {
            if (s.StartCond == qv::scString) from += start.size();
            if (byEndString) to -= end.size();
        }
        f.delivered = std::string(bytes.substr(from, to - from));
        return f;
    }

    // Everything one packet alone delivers from a stream.
    std::vector<std::string> Deliveries(std::string_view stream) const {
        std::vector<std::string> out;
        if (ModelArmError(s) != 0) return out;
        size_t pos = 0;
        for (;;) {
            size_t begin = pos;
            if (s.StartCond == qv::scString) {
                while (begin < stream.size() && !PatternAt(start, s.IgnoreCase, stream, begin)) ++begin;
            }
            if (begin >= stream.size()) break;
            Found f = PacketAt(stream, begin);
            if (!f.found) break;
            out.push_back(f.delivered);
            pos = f.last + 1;
            if (!s.AutoEnable) break;
        }
        return out;
    }
};

// ---- the fuzzed world --------------------------------------------------

struct ArmingError {
    int32_t code;
};

class World;

struct FuzzPacket final : qv::PacketClient {
    FuzzPacket(World& world, int id) : world(world), id(id) {}
    World& world;
    const int id;
    PacketCore core{*this};
    bool mayDeliver = false;         // enabled by its owner and not disabled since
    bool autoEnableExpected = false; // its delivery ended; AutoEnable may have enabled it
    bool removing = false;           // RemovePacket for it is under way
    bool dying = false;              // being freed
    int attachments = 0;             // how often it was removed (a handler may remove it)

    bool PacketDesigning() const override { return false; }
    bool PacketLoading() const override { return false; }
    void PacketFound(const uint8_t* data, int32_t length) override;
    void PacketTimedOut() override;
    std::string PacketLogLabel() const override { return "Packet:" + std::to_string(id); }
};

class World final : public qv::ManagerLink {
public:
    World(Input& in, bool actions) : in_(in), actions_(actions) {}
    ~World() {
        manager_.reset();
        packets_.clear();
    }

    // Everything the packets delivered, in order (single packet runs).
    std::vector<std::string> delivered;

    FuzzPacket& Add(const PacketSettings& s) {
        packets_.push_back(std::make_unique<FuzzPacket>(*this, nextId_++));
        FuzzPacket& p = *packets_.back();
        Trace(Indent() + "add " + std::to_string(p.id) + ": " + Describe(s));
        p.core.Settings = s;
        manager_->AddPacket(p.core);
        return p;
    }

    std::string Indent() const { return std::string(static_cast<size_t>(depth_) * 4, ' '); }

    void Open() {
        Trace(Indent() + "open");
        QV_FUZZ_CHECK(!manager_->Active(), "");
        try {
            manager_->PortOpening();
        } catch (const ArmingError& e) {
            // The port's open fails: whoever heard of it hears of the close.
            bool explained = false;
            for (auto& p : packets_)
                if (Listed(*p) && p->core.Enabled() && ModelArmError(p->core.Settings) == e.code) explained = true;
            QV_FUZZ_CHECK(explained, "the open failed with " + std::to_string(e.code) + ", no enabled packet has it");
            Close();
            return;
        }
        // Inside an event the arming waits for its end.
        if (!manager_->InEvent())
            for (auto& p : packets_)
                if (Listed(*p) && p->core.Enabled())
                    QV_FUZZ_CHECK(ModelArmError(p->core.Settings) == 0, "an unarmable packet was armed at the open");
    }

    void Close() {
        Trace(Indent() + "close");
        manager_->PortClosing();
        QV_FUZZ_CHECK(!manager_->Active() && manager_->BufferLength() == 0, "the port closed with bytes kept");
        fed_.clear();
        consumed_ = 0;
        lastEnd_.reset();
        closes_++;
    }

    void Enable(FuzzPacket& p) {
        Trace(Indent() + "enable " + std::to_string(p.id));
        bool was = p.mayDeliver;
        p.mayDeliver = true;
        bool armsNow = p.core.Manager() && manager_->Active() && !manager_->InEvent() && !p.core.Enabled();
        try {
            p.core.SetEnabled(true);
        } catch (const ArmingError& e) {
            p.mayDeliver = was;
            QV_FUZZ_CHECK(armsNow, "an arming error where nothing was armed");
            QV_FUZZ_CHECK(e.code == ModelArmError(p.core.Settings),
                          std::to_string(e.code) + " raised, " + std::to_string(ModelArmError(p.core.Settings)) +
                              " expected");
            QV_FUZZ_CHECK(!p.core.Enabled(), "an arming error left the packet enabled");
            return;
        }
        QV_FUZZ_CHECK(p.core.Enabled(), "");
        if (armsNow) QV_FUZZ_CHECK(ModelArmError(p.core.Settings) == 0, "an unarmable packet was armed");
    }

    void Disable(FuzzPacket& p) {
        Trace(Indent() + "disable " + std::to_string(p.id));
        p.mayDeliver = false;
        p.autoEnableExpected = false;
        int runs = handlerRuns_;
        p.core.SetEnabled(false);
        // Handing the capture on may run handlers that enable it again.
        if (runs == handlerRuns_) QV_FUZZ_CHECK(!p.core.Enabled(), "");
    }

    void Detach(FuzzPacket& p) {
        Trace(Indent() + (p.dying ? "free " : "detach ") + std::to_string(p.id));
        p.mayDeliver = false;
        p.autoEnableExpected = false;
        p.removing = true;
        p.attachments++;
        manager_->RemovePacket(p.core);
        p.removing = false;
        QV_FUZZ_CHECK(!Listed(p) && p.core.Manager() == nullptr, "");
    }

    void Attach(FuzzPacket& p) {
        Trace(Indent() + "attach " + std::to_string(p.id));
        manager_->AddPacket(p.core);
        // A packet keeps Enabled while detached.
        p.mayDeliver = p.core.Enabled();
    }

    void Free(FuzzPacket& p) {
        p.dying = true;
        Detach(p);
        std::erase_if(packets_, [&](const std::unique_ptr<FuzzPacket>& q) { return q.get() == &p; });
    }

    void Feed(const std::string& bytes) {
        Trace(Indent() + "feed " + Show(bytes));
        QV_FUZZ_CHECK(manager_->Active(), "");
        fed_ += bytes;
        manager_->Receive(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    }

    void TimerFires() {
        Trace(Indent() + "timer");
        QV_FUZZ_CHECK(timerRunning_, "");
        timerRunning_ = false;  // a timer trigger fires once
        timeoutFor_ = manager_->CapturePacket();
        manager_->CaptureTimerExpired();
        timeoutFor_ = nullptr;
    }

    // ---- the link ----
    bool LogOn() override { return logOn; }
    void Log(uint8_t subtype, const void*, int32_t length) override {
        QV_FUZZ_CHECK(subtype >= qv::plEnable && subtype <= qv::plCollecting && length >= 0, "");
    }
    void StartCaptureTimer(int32_t ticks) override {
        QV_FUZZ_CHECK(ticks != 0, "a capture timer without a time-out");
        timerRunning_ = true;
        timerTicks_ = ticks;
    }
    void StopCaptureTimer() override { timerRunning_ = false; }
    [[noreturn]] void RaisePacketError(int32_t code) override { throw ArmingError{code}; }
    void ReportArmingError(std::exception_ptr error) override {
        try {
            std::rethrow_exception(error);
        } catch (const ArmingError& e) {
            QV_FUZZ_CHECK(e.code <= qv::kErrStartStringEmpty && e.code >= qv::kErrPacketSizeZero, "");
        }
    }

    bool logOn = false;

    // ---- the events ----
    void Delivered(int id, const uint8_t* data, int32_t length);
    void TimedOut(int id);

    // ---- invariants ----
    void Check(bool inEvent);

    // One operation from outside any event.
    void Step();

private:
    bool Listed(const FuzzPacket& p) const {
        const auto& list = manager_->Packets();
        return std::find(list.begin(), list.end(), &p.core) != list.end();
    }
    FuzzPacket* Find(int id) {
        for (auto& p : packets_)
            if (p->id == id) return p.get();
        return nullptr;
    }
    // A packet to act on (none while every packet is being freed).
    FuzzPacket* Pick() {
        std::vector<FuzzPacket*> alive;
        for (auto& p : packets_)
            if (!p->dying) alive.push_back(p.get());
        if (alive.empty()) return nullptr;
        return alive[static_cast<size_t>(in_.Range(0, static_cast<int64_t>(alive.size()) - 1))];
    }
    void Act(FuzzPacket* self);
    void ChangeSettings(FuzzPacket& p);

    Input& in_;
    bool actions_;
    std::vector<std::unique_ptr<FuzzPacket>> packets_;
    std::unique_ptr<PacketManagerCore> manager_ = std::make_unique<PacketManagerCore>(*this);
    int nextId_ = 1;
    bool timerRunning_ = false;
    int32_t timerTicks_ = 0;
    PacketCore* timeoutFor_ = nullptr;
    int depth_ = 0;        // handlers running
    int handlerRuns_ = 0;  // handlers begun so far
    int closes_ = 0;
    // What the buffer must hold: a suffix of the bytes received since the
    // port opened, of which consumed_ are gone; bytes go with a delivered
    // packet (up to its end, lastEnd_) or all at once.
    std::string fed_;
    size_t consumed_ = 0;
    std::optional<size_t> lastEnd_;

public:
    PacketSettings RandomSettings();
    std::string RandomBytes(size_t n);
};

void FuzzPacket::PacketFound(const uint8_t* data, int32_t length) {
    // The handler may free this packet: nothing of it is touched after.
    World& w = world;
    w.Delivered(id, data, length);
}

void FuzzPacket::PacketTimedOut() {
    World& w = world;
    w.TimedOut(id);
}

// Bytes for strings and data: mostly from a few characters that the
// patterns use, so that packets are found; now and then any byte.
std::string World::RandomBytes(size_t n) {
    static const char common[] = "aAbB?\\\r\nxy";
    std::string s;
    for (size_t i = 0; i < n && !in_.Empty(); ++i) {
        uint8_t b = in_.Byte();
        s += b >= 0xF0 ? static_cast<char>(in_.Byte()) : common[b % (sizeof common - 1)];
    }
    return s;
}

PacketSettings World::RandomSettings() {
    PacketSettings s;
    uint8_t flags = in_.Byte();
    s.StartCond = flags & 1 ? qv::scAnyData : qv::scString;
    s.EndCond = static_cast<qv::PacketEndSet>((flags >> 1) & 3);
    s.AutoEnable = (flags >> 3 & 3) != 0;
    s.IgnoreCase = flags & 0x20;
    s.IncludeStrings = flags & 0x40;
    s.TimeOut = flags & 0x80 ? static_cast<int32_t>(in_.Range(1, 3000)) : 0;
    s.StartString = RandomBytes(static_cast<size_t>(in_.Range(0, 4)));
    s.EndString = RandomBytes(static_cast<size_t>(in_.Range(0, 3)));
    s.PacketSize = static_cast<int32_t>(in_.Range(-2, 12));
    return s;
}

void World::ChangeSettings(FuzzPacket& p) {
    PacketSettings& s = p.core.Settings;
    struct Show {
        FuzzPacket& p;
        ~Show() { Trace(p.world.Indent() + "settings of " + std::to_string(p.id) + ": " + Describe(p.core.Settings)); }
    } show{p};
    switch (in_.Byte() % 8) {
        case 0: s.StartString = RandomBytes(static_cast<size_t>(in_.Range(0, 3))); break;
        case 1: s.EndString = RandomBytes(static_cast<size_t>(in_.Range(0, 3))); break;
        case 2: s.PacketSize = static_cast<int32_t>(in_.Range(-2, 12)); break;
        case 3: s.EndCond = static_cast<qv::PacketEndSet>(in_.Byte() % 4); break;
        case 4: s.IgnoreCase = !s.IgnoreCase; break;
        case 5: s.IncludeStrings = !s.IncludeStrings; break;
        case 6: s.AutoEnable = !s.AutoEnable; break;
        case 7: s.TimeOut = s.TimeOut ? 0 : 18; break;
    }
}

void World::Delivered(int id, const uint8_t* data, int32_t length) {
    PacketManagerCore& m = *manager_;
    Trace(Indent() + "delivered " + std::to_string(id) + ": " + Show(Str(data, length)));
    FuzzPacket* p = Find(id);
    QV_FUZZ_CHECK(p, "a freed packet was delivered");
    QV_FUZZ_CHECK(depth_ == 0, "a delivery inside a handler");
    QV_FUZZ_CHECK(m.InEvent() && m.Active(), "");
    QV_FUZZ_CHECK(!p->removing, "a packet was delivered during its own removal");
    QV_FUZZ_CHECK(!p->dying, "a packet was delivered while being freed");
    QV_FUZZ_CHECK(Listed(*p) && p->core.Manager() == &m, "a detached packet was delivered");
    QV_FUZZ_CHECK(p->mayDeliver || p->autoEnableExpected, "a packet was delivered after it was disabled");
    QV_FUZZ_CHECK(!p->core.Enabled(), "a packet stays enabled during its delivery");
    p->mayDeliver = false;
    p->autoEnableExpected = false;
    Check(true);

    // The packet lies inside the buffer and has the model's shape there.
    const uint8_t* buffer = m.Buffer();
    int32_t held = m.BufferLength();
    QV_FUZZ_CHECK(buffer && length >= 0 && data >= buffer && data + length <= buffer + held,
                  "delivered bytes outside the buffer");
    std::string_view bytes(reinterpret_cast<const char*>(buffer), static_cast<size_t>(held));
    ModelPacket model(p->core.Settings);
    size_t at = static_cast<size_t>(data - buffer);
    if (model.s.StartCond == qv::scString && !model.s.IncludeStrings) {
        QV_FUZZ_CHECK(at >= model.start.size(), "no room for the start string before the packet");
        at -= model.start.size();
    }
    if (model.s.StartCond == qv::scString)
        QV_FUZZ_CHECK(PatternAt(model.start, model.s.IgnoreCase, bytes, at),
                      "no start string at the packet: " + Show(bytes.substr(at)));
    ModelPacket::Found f = model.PacketAt(bytes, at);
    std::string got = Str(data, length);
    QV_FUZZ_CHECK(f.found && f.delivered == got,
                  "packet " + Show(got) + " at " + std::to_string(at) + " of " + Show(bytes) + ", model " +
                      (f.found ? Show(f.delivered) : std::string("none")));
    lastEnd_ = consumed_ + f.last + 1;
    delivered.push_back(got);

    int closesBefore = closes_;
    int attachments = p->attachments;
    depth_++;
    handlerRuns_++;
    if (actions_) Act(p);
    depth_--;
    // The bytes handed over stay readable for the whole event (and stay
    // what they were, unless the port closed meanwhile).
    if (closes_ == closesBefore) QV_FUZZ_CHECK(Str(data, length) == got, "delivered bytes changed in the event");
    // Still here and not removed meanwhile: AutoEnable may enable it again.
    if ((p = Find(id)) && p->attachments == attachments) p->autoEnableExpected = p->core.Settings.AutoEnable;
}

void World::TimedOut(int id) {
    Trace(Indent() + "timed out " + std::to_string(id));
    FuzzPacket* p = Find(id);
    QV_FUZZ_CHECK(p && timeoutFor_ == &p->core, "a time-out for a packet that did not hold the capture");
    QV_FUZZ_CHECK(p->core.Settings.TimeOut != 0, "a time-out for a packet without one");
    QV_FUZZ_CHECK(depth_ == 0 && manager_->InEvent() && !p->core.Enabled(), "");
    timeoutFor_ = nullptr;  // one time-out per expiry
    p->mayDeliver = false;
    p->autoEnableExpected = false;
    Check(true);
    depth_++;
    handlerRuns_++;
    if (actions_) Act(p);
    depth_--;
}

void World::Check(bool inEvent) {
    PacketManagerCore& m = *manager_;
    QV_FUZZ_CHECK(m.InEvent() == inEvent, "");
    PacketCore* capture = m.CapturePacket();
    int owners = 0;
    for (auto& up : packets_) {
        FuzzPacket& q = *up;
        const PacketCore& c = q.core;
        owners += c.OwnsCapture();
        if (!Listed(q)) {
            QV_FUZZ_CHECK(c.Manager() == nullptr && c.MatchState() == qv::pkIdle && !c.OwnsCapture() &&
                              !c.AnyDataPending() && !c.EnablePending(),
                          "a detached packet is armed");
            continue;
        }
        QV_FUZZ_CHECK(c.Manager() == &m, "");
        // Who may have changed Enabled since the last look.
        if (q.autoEnableExpected) {
            q.autoEnableExpected = false;
            if (c.Enabled()) q.mayDeliver = true;
            else
                QV_FUZZ_CHECK(ModelArmError(c.Settings) != 0, "AutoEnable did not enable a packet that can be armed");
        } else if (q.mayDeliver && !c.Enabled()) {
            QV_FUZZ_CHECK(ModelArmError(c.Settings) != 0, "a packet was disabled without an arming error");
            q.mayDeliver = false;
        } else if (!q.mayDeliver && c.Enabled()) {
            QV_FUZZ_CHECK(false, "packet " + std::to_string(q.id) + " was enabled by nobody");
        }
        bool armed = c.MatchState() != qv::pkIdle || c.AnyDataPending();
        if (inEvent || !m.Active() || !c.Enabled()) {
            QV_FUZZ_CHECK(!armed && !c.OwnsCapture(),
                          "packet " + std::to_string(q.id) + " is armed while " +
                              (inEvent ? "in an event" : !m.Active() ? "the port is closed" : "disabled"));
            if (!inEvent) QV_FUZZ_CHECK(!c.EnablePending(), "");
            continue;
        }
        // Open port, outside an event, enabled: listening.
        QV_FUZZ_CHECK(!c.EnablePending(), "an arming put off outside an event");
        if (c.Settings.StartCond == qv::scString)
            QV_FUZZ_CHECK(c.MatchState() == qv::pkWaiting || c.MatchState() == qv::pkCollecting,
                          "an enabled start-string packet is deaf (packet " + std::to_string(q.id) + ")");
        else
            QV_FUZZ_CHECK(c.MatchState() == qv::pkCollecting || c.AnyDataPending(),
                          "an enabled any-data packet is deaf (packet " + std::to_string(q.id) + ")");
        QV_FUZZ_CHECK((c.MatchState() == qv::pkCollecting) == c.OwnsCapture(), "collecting without the capture");
    }
    QV_FUZZ_CHECK(owners == (capture ? 1 : 0), std::to_string(owners) + " packets own the capture");
    if (capture) {
        QV_FUZZ_CHECK(!inEvent && m.Active(), "a capture inside an event or on a closed port");
        FuzzPacket* holder = nullptr;
        for (auto& up : packets_)
            if (&up->core == capture) holder = up.get();
        QV_FUZZ_CHECK(holder && Listed(*holder), "the capture is held by a packet that is not listed");
        QV_FUZZ_CHECK(capture->OwnsCapture() && capture->Enabled() && capture->MatchState() == qv::pkCollecting, "");
    }
    int32_t timeOut = capture ? capture->Settings.TimeOut : 0;
    QV_FUZZ_CHECK(timerRunning_ == (timeOut != 0),
                  std::string("the capture timer ") + (timerRunning_ ? "runs" : "does not run") +
                      (capture ? " for a capture with time-out " + std::to_string(timeOut) : " with no capture"));
    if (timerRunning_) QV_FUZZ_CHECK(timerTicks_ == timeOut, "");

    // The buffer: the latest bytes received, consumed from the front.
    auto held = static_cast<size_t>(m.BufferLength());
    QV_FUZZ_CHECK(held <= fed_.size(), "");
    if (!m.Active()) QV_FUZZ_CHECK(held == 0, "bytes kept on a closed port");
    if (held) QV_FUZZ_CHECK(fed_.compare(fed_.size() - held, held, Str(m.Buffer(), m.BufferLength())) == 0,
                            "the buffer is not the latest bytes received");
    size_t consumed = fed_.size() - held;
    QV_FUZZ_CHECK(consumed >= consumed_, "consumed bytes came back");
    if (consumed != consumed_)
        QV_FUZZ_CHECK(held == 0 || consumed == lastEnd_, "bytes went that no packet took: " + std::to_string(consumed) +
                                                           " of " + std::to_string(fed_.size()) + " consumed");
    consumed_ = consumed;
    if (lastEnd_) QV_FUZZ_CHECK(consumed_ >= *lastEnd_, "a delivered packet was not removed");
}

// What a handler, or the world outside, does.
void World::Act(FuzzPacket* self) {
    int count = depth_ ? static_cast<int>(in_.Byte() % 4) : 1;
    for (int k = 0; k < count; ++k) {
        uint8_t op = in_.Byte();
        // Outside events, feeding data is the common case.
        if (!depth_ && op < 0x80) op = 0;
        else op = static_cast<uint8_t>(op % 12 + 1);
        if (self && self->dying) self = nullptr;
        FuzzPacket* other = Pick();
        FuzzPacket* target = (in_.Bool() || !other) && self ? self : other;
        switch (op) {
            case 0:
                if (manager_->Active()) Feed(RandomBytes(static_cast<size_t>(in_.Range(0, 24))));
                break;
            case 1: break;
            case 2:
                if (target) Disable(*target);
                break;
            case 3:
                if (target) Enable(*target);
                break;
            case 4:
                if (target && !target->removing && Listed(*target)) Detach(*target);
                break;
            case 5:
                if (target && !target->removing && !Listed(*target)) Attach(*target);
                break;
            case 6:
                if (target && !target->removing) {
                    if (target == self) self = nullptr;
                    Free(*target);
                }
                break;
            case 7:
                if (packets_.size() < 6) {
                    FuzzPacket& p = Add(RandomSettings());
                    if (in_.Bool()) Enable(p);
                }
                break;
            case 8:
                // Settings stored directly take effect at the next arm,
                // which inside an event is the event's end.
                if (depth_ && target) ChangeSettings(*target);
                break;
            case 9:
                if (manager_->Active() && depth_) Feed(RandomBytes(static_cast<size_t>(in_.Range(0, 8))));
                break;
            case 10:
                if (!manager_->Active()) {
                    Open();
                } else {
                    Close();
                    if (in_.Bool()) Open();  // the port opens again at once
                }
                break;
            case 11:
                if (!depth_ && timerRunning_) TimerFires();
                break;
            case 12:
                logOn = !logOn;
                break;
        }
    }
}

void World::Step() {
    Act(nullptr);
    Check(false);
}

// One packet, its data whole, in chunks and byte by byte, against the model.
void SinglePacket(const Input& in) {
    std::vector<std::string> results[3];
    std::string stream;
    PacketSettings settings;
    for (int run = 0; run < 3; ++run) {
        Input replay = in;  // the same settings and stream each time
        World w(replay, false);
        settings = w.RandomSettings();
        stream = w.RandomBytes(replay.Byte());
        w.logOn = run == 1;
        FuzzPacket& p = w.Add(settings);
        w.Open();
        w.Enable(p);
        w.Check(false);
        if (run == 0) {
            w.Feed(stream);
            w.Check(false);
        } else {
            for (size_t at = 0; at < stream.size();) {
                size_t n = run == 2 ? 1 : static_cast<size_t>(replay.Range(1, 16));
                w.Feed(stream.substr(at, n));
                w.Check(false);
                at += n;
            }
        }
        results[run] = w.delivered;
    }
    std::vector<std::string> expected = ModelPacket(settings).Deliveries(stream);
    auto show = [](const std::vector<std::string>& v) {
        std::string s = "[";
        for (const std::string& x : v) s += Show(x) + " ";
        return s + "]";
    };
    const char* names[] = {"whole", "in chunks", "byte by byte"};
    for (int run = 0; run < 3; ++run)
        QV_FUZZ_CHECK(results[run] == expected, std::string(names[run]) + " " + Show(stream) + " gave " +
                                                    show(results[run]) + ", model " + show(expected));
}

// Several packets, and the world acting from outside and from handlers.
void ManyPackets(Input& in) {
    World w(in, true);
    int count = static_cast<int>(in.Range(1, 4));
    std::vector<FuzzPacket*> made;
    for (int i = 0; i < count; ++i) made.push_back(&w.Add(w.RandomSettings()));
    bool openFirst = in.Bool();
    if (openFirst) w.Open();
    for (FuzzPacket* p : made) w.Enable(*p);
    if (!openFirst) w.Open();
    w.Check(false);
    for (int steps = 0; !in.Empty() && steps < 400; ++steps) w.Step();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    if (in.Byte() % 4 == 0) SinglePacket(in);
    else ManyPackets(in);
    return 0;
}
