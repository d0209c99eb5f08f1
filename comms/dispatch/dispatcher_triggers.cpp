// The dispatcher's triggers (availability, timer, data match, status), kept
// across a close in a save area, and the passes that fire them.
#include "comms/dispatch/dispatcher.h"

#include <algorithm>
#include <cctype>

#include "comms/base/comm_misc.h"
#include "comms/dispatch/dispatch_log_codes.h"

namespace qv {

using namespace dispatch_log;

// ---- triggers ----------------------------------------------------------

void BaseDispatcher::SetAvailThreshold(int32_t count) {
    LockGuard guard(dataLock_);
    availThreshold_ = count;
    if (logging_) AddLogEntry(ltTriggerChange, lsAvailTrig, 0, nullptr, count);
}

bool BaseDispatcher::TriggerHandleUsed(int32_t base) const {
    auto same = [base](int32_t h) { return (h & ~7) == base; };
    return std::any_of(timers_.begin(), timers_.end(), [&](const TimerTrigger& t) { return same(t.Handle); }) ||
           std::any_of(dataTriggers_.begin(), dataTriggers_.end(), [&](const DataTrigger& t) { return same(t.Handle); }) ||
           std::any_of(statusTriggers_.begin(), statusTriggers_.end(),
                       [&](const StatusTrigger& t) { return same(t.Handle); });
}

int32_t BaseDispatcher::NewTriggerHandle() {
    // Fresh handles count up from 8; a handle that restored triggers
    // already use is passed over, so no two triggers ever share one.
    while (triggerCounter_ < 4096) {
        int32_t handle = triggerCounter_++ * 8;
        if (!TriggerHandleUsed(handle)) return handle;
    }
    for (int32_t handle = 8;; handle += 8)
        if (!TriggerHandleUsed(handle)) return handle;
}

int32_t BaseDispatcher::AddTimerTrigger() {
    LockGuard guard(dataLock_);
    TimerTrigger t;
    t.Handle = NewTriggerHandle();
    timers_.push_back(t);
    if (logging_) AddLogEntry(ltTrigAlloc, lsTimerTrig, 0, nullptr, t.Handle);
    return t.Handle;
}

int32_t BaseDispatcher::SetTimerTrigger(int32_t handle, int32_t ticks, bool activate) {
    LockGuard guard(dataLock_);
    auto it = std::find_if(timers_.begin(), timers_.end(), [&](const TimerTrigger& t) { return t.Handle == handle; });
    if (it == timers_.end()) return kErrBadTriggerHandle;
    if (activate) {
        if (ticks != 0) it->Ticks = ticks;
        StartTickTimer(it->Timer, it->Ticks);
        if (logging_) AddLogEntry(ltTriggerChange, lsTimerTrig, 4, &ticks, handle);
    } else {
        if (logging_) AddLogEntry(ltTriggerChange, lsTimerTrig, 11, "Deactivated", handle);
    }
    it->Active = activate;
    return 0;
}

bool BaseDispatcher::TimerTriggerActive(int32_t handle) const {
    for (const TimerTrigger& t : timers_)
        if (t.Handle == handle) return t.Active;
    return false;
}

int32_t BaseDispatcher::AddDataTrigger(const std::string& pattern, bool ignoreCase) {
    if (pattern.empty()) return kErrBadArgument;
    LockGuard guard(dataLock_);
    DataTrigger t;
    t.Handle = NewTriggerHandle();
    t.IgnoreCase = ignoreCase;
    t.Pattern = pattern;
    if (ignoreCase)
        for (char& c : t.Pattern) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    dataTriggers_.push_back(t);
    if (logging_) AddLogEntry(ltTrigAlloc, lsData, 0, nullptr, t.Handle);
    return t.Handle;
}

int32_t BaseDispatcher::AddStatusTrigger(int32_t kind) {
    if (kind < kStatusModem || kind > kStatusOutputSent) return kErrBadArgument;
    LockGuard guard(dataLock_);
    StatusTrigger t;
    t.Handle = NewTriggerHandle() + kind;
    statusTriggers_.push_back(t);
    uint8_t k = static_cast<uint8_t>(kind);
    if (logging_) AddLogEntry(ltTrigAlloc, lsStatusTrig, 1, &k, t.Handle);
    return t.Handle;
}

int32_t BaseDispatcher::SetStatusTrigger(int32_t handle, int32_t value, uint32_t mask, bool activate) {
    LockGuard guard(dataLock_);
    auto it = std::find_if(statusTriggers_.begin(), statusTriggers_.end(),
                           [&](const StatusTrigger& t) { return t.Handle == handle; });
    if (it == statusTriggers_.end()) return kErrBadTriggerHandle;
    it->Value = value;
    it->Mask = mask;
    it->ModemSnapshot = modemStatus_;
    it->Active = activate;
    it->Hit = false;
    if (activate && StatusKindOf(handle) == kStatusOutputSent) outputSent_ = false;
    if (logging_) AddLogEntry(ltTriggerChange, lsStatusTrig, 0, nullptr, handle);
    return 0;
}

int32_t BaseDispatcher::RemoveTrigger(int32_t handle) {
    LockGuard guard(dataLock_);
    if (handle == kAvailTriggerHandle) {
        availThreshold_ = 0;
        return 0;
    }
    if (handle < 2) return kErrBadTriggerHandle;
    if (auto it = std::find_if(timers_.begin(), timers_.end(), [&](const TimerTrigger& t) { return t.Handle == handle; });
        it != timers_.end()) {
        timers_.erase(it);
        if (logging_) AddLogEntry(ltTrigDispose, lsTimer, 0, nullptr, handle);
        return 0;
    }
    if (auto it = std::find_if(statusTriggers_.begin(), statusTriggers_.end(),
                               [&](const StatusTrigger& t) { return t.Handle == handle; });
        it != statusTriggers_.end()) {
        statusTriggers_.erase(it);
        uint8_t kind = static_cast<uint8_t>(handle & 7);
        if (logging_) AddLogEntry(ltTrigDispose, lsStatusTrig, 1, &kind, handle);
        return 0;
    }
    if (auto it = std::find_if(dataTriggers_.begin(), dataTriggers_.end(),
                               [&](const DataTrigger& t) { return t.Handle == handle; });
        it != dataTriggers_.end()) {
        dataTriggers_.erase(it);
        if (logging_) AddLogEntry(ltTrigDispose, lsData, 0, nullptr, handle);
        return 0;
    }
    return kErrBadTriggerHandle;
}

void BaseDispatcher::SaveTriggers(TriggerSaveArea& area) {
    LockGuard guard(dataLock_);
    DiscardSavedTriggers(area);
    area.AvailThreshold = availThreshold_;
    area.Timers = timers_;
    area.DataTriggers = dataTriggers_;
    area.StatusTriggers = statusTriggers_;
    area.Saved = true;
}

void BaseDispatcher::RestoreTriggers(const TriggerSaveArea& area) {
    LockGuard guard(dataLock_);
    availThreshold_ = area.AvailThreshold;
    timers_.clear();
    dataTriggers_.clear();
    statusTriggers_.clear();
    if (!area.Saved) return;
    timers_ = area.Timers;
    dataTriggers_ = area.DataTriggers;
    statusTriggers_ = area.StatusTriggers;
}

void BaseDispatcher::DiscardSavedTriggers(TriggerSaveArea& area) {
    area.Timers.clear();
    area.DataTriggers.clear();
    area.StatusTriggers.clear();
    area.Saved = false;
}

// ---- trigger passes ----------------------------------------------------

bool BaseDispatcher::RunTriggerPass() {
    bool result = false;
    if (CheckTimers(result)) return result;
    if (CheckStatus(result)) return result;
    return CheckDataAndAvail();
}

void BaseDispatcher::RunTriggerPasses() {
    statusHit_ = false;
    while (RunTriggerPass() && !Retiring()) {
    }
    if (statusHit_) {
        LockGuard guard(dataLock_);
        for (StatusTrigger& t : statusTriggers_) t.Hit = false;
        statusHit_ = false;
    }
}

bool BaseDispatcher::CheckTimers(bool& result) {
    int32_t handle = 0;
    {
        LockGuard guard(dataLock_);
        for (TimerTrigger& t : timers_) {
            if (t.Active && TickTimerExpired(t.Timer)) {
                t.Active = false;
                handle = t.Handle;
                if (logging_) AddLogEntry(ltTrigger, lsTimer, 0, nullptr, handle);
                break;
            }
        }
    }
    if (handle == 0) return false;
    result = DeliverEvent(MsgTriggerTimer, static_cast<WPARAM>(handle), 0);
    return true;
}

bool BaseDispatcher::StatusCondition(StatusTrigger& t, int32_t& value) {
    switch (StatusKindOf(t.Handle)) {
        case kStatusModem:
            value = modemStatus_;
            return ((modemStatus_ ^ t.ModemSnapshot) & t.Mask) != 0;
        case kStatusLine:
            value = static_cast<int32_t>(lineErrors_);
            return (lineErrors_ & t.Mask) != 0;
        case kStatusOutputFree:
            value = OutputFree();
            return value >= t.Value;
        case kStatusOutputUsed:
            value = OutputUsed();
            return value <= t.Value;
        case kStatusOutputSent:
            value = 0;
            return outputSent_;
        default:
            return false;
    }
}

bool BaseDispatcher::CheckStatus(bool& result) {
    int32_t handle = 0, value = 0;
    for (size_t i = 0; i < statusTriggers_.size(); ++i) {
        if (!statusTriggers_[i].Active || statusTriggers_[i].Hit) continue;
        StatusTrigger probe = statusTriggers_[i];
        // Reading the output counts can reach the device and, through a
        // report, a handler that changes the list: look the trigger up again.
        if (!StatusCondition(probe, value)) continue;
        LockGuard guard(dataLock_);
        auto it = std::find_if(statusTriggers_.begin(), statusTriggers_.end(),
                               [&](const StatusTrigger& t) { return t.Handle == probe.Handle; });
        if (it == statusTriggers_.end()) continue;
        StatusTrigger& hit = *it;
        hit.Hit = true;
        hit.Active = false;
        statusHit_ = true;
        if (StatusKindOf(hit.Handle) == kStatusOutputSent) outputSent_ = false;
        handle = hit.Handle;
        if (logging_) AddLogEntry(ltTrigger, lsStatus, 0, nullptr, handle);
        break;
    }
    if (handle == 0) return false;
    result = DeliverEvent(MsgTriggerStatus, static_cast<WPARAM>(handle), value);
    return true;
}

bool BaseDispatcher::CheckDataAndAvail() {
    {
        LockGuard guard(bufferLock_);
        if (!ring_.Allocated()) return false;
        if (unscanned_ > 0) arrived_ = true;
        LockGuard data(dataLock_);
        // Every new byte is matched before any handler can take bytes, so
        // a match is never lost to a fetch.
        while (unscanned_ > 0) {
            uint8_t b = ring_.data[scanPos_];
            scanPos_ = DispatchRing::Wrap(scanPos_ + 1);
            --unscanned_;
            for (DataTrigger& t : dataTriggers_) {
                uint8_t c = t.IgnoreCase ? static_cast<uint8_t>(std::toupper(b)) : b;
                if (static_cast<uint8_t>(t.Pattern[t.Matched]) == c) {
                    if (++t.Matched == static_cast<int32_t>(t.Pattern.size())) {
                        t.Matched = 0;
                        pendingDataFires_.push_back(t.Handle);
                    }
                } else {
                    t.Matched = static_cast<uint8_t>(t.Pattern[0]) == c ? 1 : 0;
                }
            }
        }
    }
    if (!pendingDataFires_.empty()) {
        int32_t handle = pendingDataFires_.front();
        pendingDataFires_.erase(pendingDataFires_.begin());
        int32_t length = 0;
        {
            LockGuard guard(dataLock_);
            for (const DataTrigger& t : dataTriggers_)
                if (t.Handle == handle) length = static_cast<int32_t>(t.Pattern.size());
            if (length == 0) return true;  // removed meanwhile: nothing to deliver, look again
            if (logging_) AddLogEntry(ltTrigger, lsData, 0, nullptr, handle);
        }
        return DeliverEvent(MsgTriggerData, static_cast<WPARAM>(handle), length);
    }
    int32_t count = BytesAvailable();
    if (availThreshold_ == 0 || !arrived_ || count < availThreshold_) return false;
    {
        LockGuard guard(dataLock_);
        if (logging_) AddLogEntry(ltTrigger, lsAvail, 0, nullptr, count);
    }
    arrived_ = false;
    bool result = DeliverEvent(MsgTriggerAvail, static_cast<WPARAM>(count), 0);
    notifyPos_ = scanPos_;
    return result;
}

}  // namespace qv
