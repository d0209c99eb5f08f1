#include "comms/port/packet_core.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

constexpr int32_t kBufferStep = 8192;

uint8_t Upper(uint8_t b) { return (b >= 'a' && b <= 'z') ? static_cast<uint8_t>(b - 'a' + 'A') : b; }

}  // namespace

void BuildPattern(const std::string& text, bool ignoreCase, std::string& pattern, std::string& mask) {
    pattern.clear();
    mask.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (ignoreCase) c = static_cast<char>(Upper(static_cast<uint8_t>(c)));
        if (c == '\\') {
            if (++i >= text.size()) break;  // a final "\" is dropped
            char next = text[i];
            if (ignoreCase) next = static_cast<char>(Upper(static_cast<uint8_t>(next)));
            pattern += next;
            mask += '0';
        } else if (c == '?') {
            pattern += c;
            mask += '1';
        } else {
            pattern += c;
            mask += '0';
        }
    }
}

// ---- packet ------------------------------------------------------------

void PacketCore::SetEnabled(bool value) {
    if (value == enabled_) return;
    if (value) {
        Arm();  // an arming error leaves Enabled as it was
        enabled_ = true;
        return;
    }
    // Out of every pass before the disarm can start one (handing the
    // capture on runs a pass, whose handlers may even free this packet).
    enabled_ = false;
    Disarm();
}

void PacketCore::ArmIfPending() {
    if (!enablePending_) return;
    Arm();
    enablePending_ = false;
}

bool PacketCore::MatchesAt(const std::string& pattern, const std::string& mask, int32_t position, uint8_t b) const {
    if (position < 0 || position >= static_cast<int32_t>(pattern.size())) return false;
    if (mask[static_cast<size_t>(position)] == '1') return true;
    uint8_t c = armedIgnoreCase_ ? Upper(b) : b;
    return c == static_cast<uint8_t>(pattern[static_cast<size_t>(position)]);
}

void PacketCore::Arm() {
    if (client_.PacketDesigning()) return;
    if (client_.PacketLoading()) {
        enablePending_ = true;
        return;
    }
    if (manager_ && manager_->active_) {
        if (manager_->inEvent_) {
            enablePending_ = true;
            return;
        }
        // Every check comes before any change, so that a refused packet
        // takes nothing (the capture in particular).
        const PacketSettings& s = Settings;
        if (s.StartCond == scString) {
            if (s.StartString.empty()) manager_->link_.RaisePacketError(kErrStartStringEmpty);
            if ((s.EndCond & kEndPacketSize) && s.PacketSize < static_cast<int32_t>(s.StartString.size()))
                manager_->link_.RaisePacketError(kErrSizeBelowStartString);
        } else if (s.EndCond == 0) {
            manager_->link_.RaisePacketError(kErrNoEndCondition);
        }
        if ((s.EndCond & kEndString) && s.EndString.empty()) manager_->link_.RaisePacketError(kErrEndStringEmpty);
        if ((s.EndCond & kEndPacketSize) && s.PacketSize == 0) manager_->link_.RaisePacketError(kErrPacketSizeZero);

        enablePending_ = false;
        armedIgnoreCase_ = s.IgnoreCase;
        BuildPattern(s.StartCond == scString ? s.StartString : std::string(), s.IgnoreCase, startPattern_, startMask_);
        BuildPattern((s.EndCond & kEndString) ? s.EndString : std::string(), s.IgnoreCase, endPattern_, endMask_);
        manager_->Log(plEnable, *this, std::string());
        if (s.StartCond == scString) {
            manager_->Log(plStartStr, *this, s.StartString);
            SetMatchState(pkWaiting);
        } else if (manager_->capture_ && manager_->capture_ != this) {
            anyDataPending_ = true;
        } else {
            SetMatchState(pkCollecting);
        }
        if (manager_ && (s.EndCond & kEndString)) manager_->Log(plEndStr, *this, s.EndString);
    }
    sizeTarget_ = Settings.PacketSize;
    startMatchPos_ = 1;
    packetStart_ = -1;
    endMatchPos_ = 1;
}

void PacketCore::Disarm() {
    if (!enablePending_ && !anyDataPending_ && matchState_ == pkIdle) return;
    enablePending_ = false;
    anyDataPending_ = false;
    if (!manager_) return;
    PacketManagerCore* m = manager_;
    bool held = ownsCapture_;
    ownsCapture_ = false;  // given up below, after the log entries
    SetMatchState(pkIdle);
    m->Log(plDisable, *this, std::string());
    // Last: the capture handed on runs a pass, after which this packet may
    // no longer exist.
    if (held) m->EndCapture(*this);
}

// Taking the capture is the only change that reaches the manager here;
// giving it up is left to the caller (Disarm), which does it last.
void PacketCore::SetMatchState(PacketState state) {
    if (matchState_ == state || !manager_) return;
    PacketManagerCore* m = manager_;
    static const uint8_t logs[] = {plIdle, plWaiting, plCollecting};
    if (state == pkCollecting) {
        m->StartCapture(*this);
    } else if (ownsCapture_) {
        // Only Disarm leaves the capture (last, see there); should a packet
        // ever be re-armed while it collects, the capture goes without a
        // pass here and the bytes are offered again by the next one.
        m->capture_ = nullptr;
        ownsCapture_ = false;
        m->AskPass(0);
    }
    matchState_ = state;
    m->Log(logs[state], *this, std::string());
}

// ---- manager -----------------------------------------------------------

PacketManagerCore::~PacketManagerCore() {
    for (PacketCore* p : packets_) p->manager_ = nullptr;
}

void PacketManagerCore::AddPacket(PacketCore& p) {
    if (Contains(&p)) return;
    packets_.push_back(&p);
    p.manager_ = this;
    // A packet keeps Enabled while it has no port: joining an open one arms
    // it, or it would hear nothing until some event ends (one that cannot
    // be armed is disabled and its error reported, as at an event's end).
    if (p.enabled_ && active_) Rearm(p);
}

void PacketManagerCore::RemovePacket(PacketCore& p) {
    if (!Contains(&p)) return;
    // Disabled and out of the list before anything can be delivered: no
    // pass may arm it again or hand it bytes.
    bool active = p.enablePending_ || p.anyDataPending_ || p.matchState_ != pkIdle;
    p.enablePending_ = false;
    p.anyDataPending_ = false;
    if (p.matchState_ != pkIdle) {
        p.matchState_ = pkIdle;
        Log(plIdle, p, std::string());
    }
    if (active) Log(plDisable, p, std::string());
    bool held = capture_ == &p;
    if (held) capture_ = nullptr;
    p.ownsCapture_ = false;
    p.manager_ = nullptr;
    std::erase(packets_, &p);
    if (delivering_ == &p) delivering_ = nullptr;
    // The bytes it had collected go to the others.
    if (held) {
        link_.StopCaptureTimer();
        Process(0);
    }
}

bool PacketManagerCore::Contains(const PacketCore* p) const {
    return std::find(packets_.begin(), packets_.end(), p) != packets_.end();
}

void PacketManagerCore::SetActive(bool value) {
    if (value == active_) return;
    if (!value) FreeBuffer();
    active_ = value;
}

void PacketManagerCore::PortOpening() {
    SetActive(true);
    std::vector<PacketCore*> list = packets_;
    for (PacketCore* p : list)
        if (Contains(p) && p->enabled_) p->Arm();
}

void PacketManagerCore::PortClosing() {
    // The bytes go first: the capture ending below would otherwise hand
    // them to the packets not yet disarmed, whose delivery arms every
    // enabled packet again (the ones already disarmed included) on a port
    // that is closing.
    FreeBuffer();
    std::vector<PacketCore*> list = packets_;
    for (PacketCore* p : list)
        if (Contains(p)) p->Disarm();
    SetActive(false);
}

void PacketManagerCore::Log(uint8_t subtype, const void* data, int32_t length) {
    if (link_.LogOn()) link_.Log(subtype, data, length);
}

void PacketManagerCore::Log(uint8_t subtype, const PacketCore& p, const std::string& text) {
    if (!link_.LogOn()) return;
    std::string t = text.empty() ? p.client_.PacketLogLabel() : text;
    link_.Log(subtype, t.data(), static_cast<int32_t>(t.size()));
}

// ---- buffer ------------------------------------------------------------

uint8_t* PacketManagerCore::Reserve(int32_t count) {
    count = std::max(count, 0);
    int64_t need = int64_t(length_) + count;
    if (!buffer_ || need >= capacity_) {
        // Doubles (from 8192 bytes) until the new bytes fit: a packet that
        // keeps growing costs copies in proportion to its size, not to its
        // size times the number of blocks it arrived in.
        auto next = [](int64_t c) { return std::min<int64_t>(std::max(c * 2, c + kBufferStep), INT32_MAX); };
        int64_t capacity = next(capacity_);
        while (capacity <= need && capacity < INT32_MAX) capacity = next(capacity);
        auto grown = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity));
        if (buffer_ && length_ > 0) std::memcpy(grown.get(), buffer_.get(), static_cast<size_t>(length_));
        if (inEvent_ && buffer_) retired_.push_back(std::move(buffer_));
        buffer_ = std::move(grown);
        capacity_ = static_cast<int32_t>(capacity);
    }
    return buffer_.get() + length_;
}

void PacketManagerCore::Commit(int32_t count) {
    if (count <= 0 || !buffer_) return;  // a failed fetch adds nothing
    length_ += std::min(count, capacity_ - length_);
}

void PacketManagerCore::Receive(const uint8_t* data, int32_t count) {
    if (count <= 0) return;
    int32_t old = length_;
    std::memcpy(Reserve(count), data, static_cast<size_t>(count));
    Commit(count);
    Process(old);
}

void PacketManagerCore::FreeBuffer() {
    length_ = 0;
    ++discards_;
    // While an event runs, the bytes handed to it stay where they are;
    // the memory goes when the event ends.
    if (inEvent_) return;
    buffer_.reset();
    capacity_ = 0;
}

void PacketManagerCore::RemoveFront(int32_t count) {
    count = std::clamp(count, 0, length_);
    if (count < length_ && count > 0)
        std::memmove(buffer_.get(), buffer_.get() + count, static_cast<size_t>(length_ - count));
    length_ -= count;
    if (length_ == 0) FreeBuffer();
}

// ---- matching ----------------------------------------------------------

void PacketManagerCore::AskPass(int32_t from) {
    pendingStart_ = dataPending_ ? std::min(pendingStart_, from) : from;
    dataPending_ = true;
}

void PacketManagerCore::Process(int32_t from) {
    AskPass(from);
    RunPasses();
}

// One pass after another, never one inside another: every pass a delivery
// asks for runs here once the delivery has returned, so the stack does not
// grow with the number of packets in the buffer.
void PacketManagerCore::RunPasses() {
    if (inEvent_ || passing_) return;
    passing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{passing_};
    while (dataPending_ && !inEvent_) {
        dataPending_ = false;
        Pass(pendingStart_);
    }
}

void PacketManagerCore::Pass(int32_t from) {
    if (length_ <= 0) return;
    if (capture_) {
        Scan(*capture_, from);
        return;
    }
    std::vector<PacketCore*> list = packets_;
    for (PacketCore* p : list) {
        if (!Contains(p)) continue;
        if (Scan(*p, from)) return;  // the delivery asked for the next pass
        if (capture_ || length_ == 0) break;
    }
    if (capture_ || length_ == 0) return;
    for (PacketCore* p : packets_)
        if (p->enabled_ && (p->matchState_ == pkWaiting || p->matchState_ == pkCollecting) && p->packetStart_ != -1)
            return;
    FreeBuffer();  // nothing has begun to match these bytes
}

bool PacketManagerCore::EndMatches(const PacketCore& p, int32_t i, int32_t collectStart) const {
    int32_t n = static_cast<int32_t>(p.endPattern_.size());
    if (n == 0 || i - collectStart + 1 < n) return false;
    for (int32_t k = 0; k < n; ++k)
        if (!p.MatchesAt(p.endPattern_, p.endMask_, k, buffer_[static_cast<size_t>(i - n + 1 + k)])) return false;
    return true;
}

bool PacketManagerCore::Scan(PacketCore& p, int32_t from) {
    if (!p.enabled_) return false;
    int32_t i = std::max(from, 0);
    const PacketSettings& s = p.Settings;
    while (i < length_) {
        if (p.matchState_ == pkIdle) {
            if (!p.anyDataPending_) return false;
            p.anyDataPending_ = false;
            p.SetMatchState(pkCollecting);
            if (p.matchState_ != pkCollecting) return false;
            continue;
        }
        uint8_t c = buffer_[static_cast<size_t>(i)];
        if (p.matchState_ == pkWaiting) {
            if (p.MatchesAt(p.startPattern_, p.startMask_, p.startMatchPos_ - 1, c)) {
                if (p.packetStart_ == -1) p.packetStart_ = i;
                if (p.startMatchPos_ >= static_cast<int32_t>(p.startPattern_.size())) {
                    if (s.EndCond == 0) {
                        p.packetLength_ = i - p.packetStart_ + 1;
                        Deliver(p, How::BySize);
                        return true;
                    }
                    p.SetMatchState(pkCollecting);  // the start string stays the packet's beginning
                    if (p.matchState_ != pkCollecting) return false;
                } else {
                    ++p.startMatchPos_;
                }
            } else if (p.packetStart_ != -1) {
                // A false start: look again from the byte after its first.
                i = p.packetStart_ + 1;
                p.startMatchPos_ = 1;
                p.packetStart_ = -1;
                continue;
            }
        } else if (p.matchState_ == pkCollecting) {
            if (p.packetStart_ == -1) p.packetStart_ = i;
            int32_t size = i - p.packetStart_ + 1;
            if ((s.EndCond & kEndPacketSize) && size >= p.sizeTarget_) {
                p.packetLength_ = size;
                Deliver(p, How::BySize);
                return true;
            }
            if (s.EndCond & kEndString) {
                int32_t collectStart =
                    p.packetStart_ + (s.StartCond == scString ? static_cast<int32_t>(p.startPattern_.size()) : 0);
                if (i >= collectStart && EndMatches(p, i, collectStart)) {
                    p.packetLength_ = size;
                    Deliver(p, How::ByEndString);
                    return true;
                }
            }
        }
        ++i;
    }
    return false;
}

void PacketManagerCore::Deliver(PacketCore& p, How how) {
    // What is left is offered again from its start once the event is over,
    // whether or not the packet held the capture; this pass ends here.
    AskPass(0);
    SetInEvent(true);
    p.enabled_ = false;
    const PacketSettings& s = p.Settings;
    int32_t start = p.packetStart_;
    int32_t whole = p.packetLength_;
    int32_t offset = start, length = whole;
    if (s.StartCond == scString && !s.IncludeStrings) {
        offset += static_cast<int32_t>(p.startPattern_.size());
        length -= static_cast<int32_t>(p.startPattern_.size());
    }
    if (!s.IncludeStrings && how == How::ByEndString) length -= static_cast<int32_t>(p.endPattern_.size());
    length = std::clamp(length, 0, std::max(0, length_ - offset));
    p.packetLength_ = length;
    const uint8_t* data = buffer_.get() + offset;
    Log(plStringPacket, p, std::string());
    Log(how == How::ByEndString ? plStringPacket : plSizePacket, data, length);
    delivering_ = &p;
    uint32_t discards = discards_;
    p.client_.PacketFound(data, length);
    // The handlers may have detached or destroyed the packet: it is
    // touched again only when it is still the one being delivered. When
    // they closed the port, the packet went with the buffer, and what is
    // there now (received after a reopen) is not its to take.
    if (discards_ == discards) RemoveFront(start + whole);
    if (delivering_ == &p && p.Settings.AutoEnable) p.SetEnabled(true);
    delivering_ = nullptr;
    SetInEvent(false);
}

void PacketManagerCore::CaptureTimerExpired() {
    if (!capture_ || inEvent_) return;
    PacketTimeout(*capture_);
    RunPasses();
}

void PacketManagerCore::PacketTimeout(PacketCore& p) {
    SetInEvent(true);
    Log(plTimeout, p, std::string());
    p.enabled_ = false;
    p.client_.PacketTimedOut();
    SetInEvent(false);
}

// Entering an event disarms every enabled packet (the capture ends and
// asks for a pass from 0); leaving it arms them again. The passes asked
// for meanwhile are run by whoever runs the passes (RunPasses).
void PacketManagerCore::SetInEvent(bool value) {
    if (value == inEvent_) return;
    inEvent_ = value;
    std::vector<PacketCore*> list = packets_;
    if (value) {
        for (PacketCore* p : list)
            if (Contains(p) && p->enabled_) p->Disarm();
        return;
    }
    retired_.clear();
    if (length_ == 0) FreeBuffer();  // memory kept for the event goes now
    for (PacketCore* p : list)
        if (Contains(p) && p->enabled_) Rearm(*p);
}

void PacketManagerCore::Rearm(PacketCore& p) {
    try {
        p.Arm();
    } catch (...) {
        // Arm refuses before it changes anything; an arming put off inside
        // the event is over too, or the disabled packet would still count
        // as armed (a later disarm logs it, a removal reports it active).
        p.enabled_ = false;
        p.enablePending_ = false;
        link_.ReportArmingError(std::current_exception());
    }
}

void PacketManagerCore::StartCapture(PacketCore& p) {
    capture_ = &p;
    if (p.Settings.TimeOut != 0) link_.StartCaptureTimer(p.Settings.TimeOut);
    p.ownsCapture_ = true;
    // The others forget their partial matches (one that cannot be armed
    // again is disabled; the capture is this packet's all the same).
    std::vector<PacketCore*> list = packets_;
    for (PacketCore* o : list) {
        if (o == &p || !Contains(o) || !o->enabled_) continue;
        o->Disarm();
        Rearm(*o);
    }
}

void PacketManagerCore::EndCapture(PacketCore& p) {
    if (capture_ == &p) capture_ = nullptr;
    p.ownsCapture_ = false;
    link_.StopCaptureTimer();
    Process(0);
}

}  // namespace qv
