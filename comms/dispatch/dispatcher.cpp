#include "comms/dispatch/dispatcher.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc.h"
#include "framework/files.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

CriticalSection& RegistryLock() {
    static CriticalSection lock;
    return lock;
}

// Log vocabulary: types and subtypes this layer writes.
enum : uint8_t {
    ltDispatch = 1, ltTrigger = 2, ltError = 3, ltTrigAlloc = 5, ltTrigDispose = 6, ltHandlerAlloc = 7,
    ltHandlerDispose = 8, ltTriggerChange = 9,
};
enum : uint8_t {
    lsReadCom = 1, lsWriteCom = 2, lsAvail = 5, lsTimer = 6, lsData = 7, lsStatus = 8, lsTimerTrig = 14,
    lsStatusTrig = 15, lsAvailTrig = 16, lsWindow = 17, lsProcedure = 18, lsMethod = 19,
};

struct TextLookup {
    std::string operator()(int32_t id) const { return MessageForCode(id); }
};

}  // namespace

std::vector<BaseDispatcher*>& DispatcherRegistry() {
    static std::vector<BaseDispatcher*> registry;
    return registry;
}

// ---- life cycle --------------------------------------------------------

BaseDispatcher::BaseDispatcher(DispatcherOwner* owner) : owner_(owner) {
    LockGuard guard(RegistryLock());
    auto& registry = DispatcherRegistry();
    auto empty = std::find(registry.begin(), registry.end(), nullptr);
    if (empty != registry.end()) {
        *empty = this;
        handle_ = static_cast<int32_t>(empty - registry.begin());
    } else {
        registry.push_back(this);
        handle_ = static_cast<int32_t>(registry.size() - 1);
    }
}

BaseDispatcher::~BaseDispatcher() {
    {
        LockGuard guard(RegistryLock());
        auto& registry = DispatcherRegistry();
        if (handle_ >= 0 && handle_ < static_cast<int32_t>(registry.size()) && registry[handle_] == this)
            registry[handle_] = nullptr;
        while (!registry.empty() && registry.back() == nullptr) registry.pop_back();
    }
    ring_.Free();
    trace_.reset();
    log_.reset();
}

int32_t BaseDispatcher::OpenSocketDevice(int32_t inSize, int32_t outSize) {
    int32_t id = DeviceOpen(nullptr, inSize, outSize);
    if (id < 0) {
        CloseDevice();
        return id;
    }
    deviceId_ = id;
    if (!DeviceSetup(0, 0)) {
        DeviceCounts counts;
        int32_t code = DeviceStatus(counts);
        if (code <= 0) code = -kErrNoDeviceLayer;  // a setup must never fail silently
        CloseDevice();
        return -code;
    }
    ring_.Allocate();
    inSize_ = inSize;
    outSize_ = outSize;
    modemStatus_ = 0;
    RefreshStatus();
    timeBase_ = MillisecondClock();
    StartDispatch();
    return 0;
}

void BaseDispatcher::CloseDevice() {
    if (Retiring()) return;
    if (deviceId_ >= 0) {
        FlushOutput();
        FlushInput();
        DeviceClose();
        // The number is the socket's; once closed it may be reused by
        // another connection, which this dispatcher must never reach.
        deviceId_ = -1;
    }
    releaseDeferred_ = InUse();
    Retire();
}

void BaseDispatcher::ReleaseDevice() {
    if (started_) StopDispatch();
    LockGuard guard(bufferLock_);
    ring_.Free();
}

void BaseDispatcher::Endgame() {
    ReleaseDevice();
    if (destroyed_) {
        delete this;
        return;
    }
    // A close that had to wait: the owner finishes its own close now.
    HWND window = owner_ ? owner_->DispatcherOwnerWindow() : nullptr;
    if (releaseDeferred_ && window) PostMessageW(window, MsgPortDeferredClose, 0, static_cast<LPARAM>(handle_) << 16);
}

void BaseDispatcher::Destroy() {
    owner_ = nullptr;
    destroyed_ = true;
    if (!Retiring()) {
        CloseDevice();  // the endgame frees it (now, or when the use ends)
    } else if (Ended()) {
        delete this;
    }
    // Otherwise: closed while in use; the endgame, still to come, frees it.
}

// ---- data --------------------------------------------------------------

int32_t BaseDispatcher::FetchBlock(void* buffer, int32_t count) {
    int32_t result;
    {
        LockGuard guard(bufferLock_);
        if (!ring_.Allocated() || count < 0) return kErrBufferIsEmpty;
        int32_t taken = inDataMessage_ ? fetched_ : 0;
        // Counted from where this handler goes on, so that no handler can
        // read past the stored bytes.
        if (count > ring_.Unread() - taken) return kErrBufferIsEmpty;
        int32_t start = DispatchRing::Wrap(ring_.tail + taken);
        ring_.CopyOut(start, static_cast<uint8_t*>(buffer), count);
        result = count;
        if (result > 0) {
            if (inDataMessage_) {
                fetched_ += result;
            } else {
                ring_.tail = DispatchRing::Wrap(start + result);
                ring_.full = false;
            }
        }
    }
    LockGuard guard(dataLock_);
    if (tracing_ && trace_)
        for (int32_t i = 0; i < result; ++i) trace_->Add(kTraceReceive, static_cast<uint8_t*>(buffer)[i]);
    return result;
}

int32_t BaseDispatcher::SendBlock(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    int32_t k, result = 0;
    {
        LockGuard guard(outputLock_);
        DeviceCounts counts;
        lineErrors_ = static_cast<uint32_t>(DeviceStatus(counts));
        counts_ = counts;
        int32_t free = outSize_ - counts.OutputCount;
        if (count > free) return kErrOutputBufferTooSmall;
        if (count == free) outputFull_ = true;
        k = DeviceWrite(static_cast<const uint8_t*>(buffer), count);
        if (k <= 0) {
            k = -k;
            result = kErrPutBlockFail;
            lineErrors_ = static_cast<uint32_t>(DeviceStatus(counts));
            counts_ = counts;
        } else if (k < count) {
            // Part of the block was refused: the caller must hear of it.
            result = kErrPutBlockFail;
        }
        k = std::min(k, count);
        outputSent_ = true;
    }
    LockGuard guard(dataLock_);
    if (logging_) AddLogEntry(ltDispatch, lsWriteCom, k, buffer, k);
    if (tracing_ && trace_)
        for (int32_t i = 0; i < k; ++i) trace_->Add(kTraceTransmit, static_cast<const uint8_t*>(buffer)[i]);
    return result;
}

int32_t BaseDispatcher::BytesAvailable() {
    LockGuard guard(bufferLock_);
    if (!ring_.Allocated()) return 0;
    return std::max(0, ring_.Unread() - (inDataMessage_ ? fetched_ : 0));
}

int32_t BaseDispatcher::OutputUsed() {
    LockGuard guard(outputLock_);
    RefreshStatus();
    return counts_.OutputCount;
}

int32_t BaseDispatcher::OutputFree() {
    LockGuard guard(outputLock_);
    RefreshStatus();
    return outSize_ - counts_.OutputCount;
}

int32_t BaseDispatcher::FlushInput() {
    LockGuard guard(bufferLock_);
    int32_t r = DeviceFlush(1);
    if (ring_.Allocated()) {
        if (inDataMessage_) {
            maxFetched_ = ring_.Unread();
        } else {
            ring_.tail = ring_.head;
            fetched_ = 0;
        }
        ring_.full = false;
    }
    LockGuard data(dataLock_);
    for (DataTrigger& t : dataTriggers_) t.Matched = 0;
    return r;
}

int32_t BaseDispatcher::FlushOutput() { return DeviceFlush(0); }

uint32_t BaseDispatcher::ElapsedMs() const { return MillisecondClock() - timeBase_; }

// ---- handlers ----------------------------------------------------------

template <class Entry, class Match>
void BaseDispatcher::RemoveHandler(std::vector<Entry>& list, Match match) {
    auto it = std::find_if(list.begin(), list.end(), [&](const Entry& h) { return match(h) && !h.Deleted; });
    if (it == list.end()) {
        AdjustHandlerFlags(hcRecount);
    } else if (Dispatching()) {
        // A delivery walks the list: only marked now, freed when it ends.
        it->Deleted = true;
        handlersDeleted_ = true;
    } else {
        list.erase(it);
    }
}

void BaseDispatcher::AddWindowHandler(HWND window) {
    LockGuard guard(dataLock_);
    windowHandlers_.push_back({window, false});
    handlerService_ = true;
    if (logging_) AddLogEntry(ltHandlerAlloc, lsWindow, 0, nullptr, static_cast<int32_t>(reinterpret_cast<intptr_t>(window)));
}

void BaseDispatcher::RemoveWindowHandler(HWND window) {
    LockGuard guard(dataLock_);
    if (logging_)
        AddLogEntry(ltHandlerDispose, lsWindow, 0, nullptr, static_cast<int32_t>(reinterpret_cast<intptr_t>(window)));
    RemoveHandler(windowHandlers_, [&](const WindowHandler& h) { return h.Window == window; });
}

void BaseDispatcher::AddProcHandler(DispatchProc proc) {
    LockGuard guard(dataLock_);
    procHandlers_.push_back({proc, false});
    handlerService_ = true;
    if (logging_) AddLogEntry(ltHandlerAlloc, lsProcedure, 0, nullptr, 0);
}

void BaseDispatcher::RemoveProcHandler(DispatchProc proc) {
    LockGuard guard(dataLock_);
    if (logging_) AddLogEntry(ltHandlerDispose, lsProcedure, 0, nullptr, 0);
    RemoveHandler(procHandlers_, [&](const ProcHandler& h) { return h.Proc == proc; });
}

void BaseDispatcher::AddEventHandler(DispatchMethod method) {
    LockGuard guard(dataLock_);
    eventHandlers_.push_back({method, false});
    handlerService_ = true;
    if (logging_) AddLogEntry(ltHandlerAlloc, lsMethod, 0, nullptr, 0);
}

void BaseDispatcher::RemoveEventHandler(DispatchMethod method) {
    LockGuard guard(dataLock_);
    if (logging_) AddLogEntry(ltHandlerDispose, lsMethod, 0, nullptr, 0);
    RemoveHandler(eventHandlers_, [&](const EventHandler& h) { return h.Method.SameCode(method); });
}

void BaseDispatcher::AdjustHandlerFlags(HandlerFlagChange kind) {
    LockGuard guard(dataLock_);
    auto live = [](const auto& list) {
        return std::count_if(list.begin(), list.end(), [](const auto& h) { return !h.Deleted; });
    };
    bool others = live(windowHandlers_) > 1 || live(procHandlers_) > 0 || live(eventHandlers_) > 0;
    switch (kind) {
        case hcPortHandlerOn:
            portHandler_ = true;
            handlerService_ = true;
            break;
        case hcPortHandlerOff:
            portHandler_ = false;
            handlerService_ = others;
            break;
        case hcRecount:
        default:
            handlerService_ = others || portHandler_;
            break;
    }
}

template <class Entry>
void BaseDispatcher::FreeDeleted(std::vector<Entry>& list) {
    std::erase_if(list, [](const Entry& e) { return e.Deleted; });
}

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

// ---- registry ----------------------------------------------------------

BaseDispatcher* BaseDispatcher::FindDispatcher(int32_t deviceId, ClassTest ofClass) {
    if (deviceId < 0) return nullptr;
    return FirstRegistered([&](BaseDispatcher* d) { return d->deviceId_ == deviceId && (!ofClass || ofClass(d)); });
}

BaseDispatcher* BaseDispatcher::DispatcherAt(int32_t handle) {
    LockGuard guard(RegistryLock());
    auto& registry = DispatcherRegistry();
    if (handle < 0 || handle >= static_cast<int32_t>(registry.size())) return nullptr;
    return registry[handle];
}

int32_t BaseDispatcher::RegistryLength() {
    LockGuard guard(RegistryLock());
    return static_cast<int32_t>(DispatcherRegistry().size());
}

void BaseDispatcher::LockDispatcherList() { RegistryLock().Enter(); }
void BaseDispatcher::UnlockDispatcherList() { RegistryLock().Leave(); }

// ---- passes ------------------------------------------------------------

void BaseDispatcher::ServicePoll(bool readOnly) {
    if (polling_) return;
    Use use(*this);  // a report met while reading, or a handler, may close the device
    polling_ = true;
    struct PollEnd {
        bool& polling;
        ~PollEnd() { polling = false; }
    } pollEnd{polling_};
    if (Retiring()) return;
    RefreshStatus();
    if (counts_.InputCount > 0 && !Retiring()) FillRing();
    if (!readOnly && !Dispatching() && !Retiring()) RunTriggerPasses();
    else if (LoggingOn()) AddLogEntry(ltError, 0, 0, nullptr, 0);  // the passes were skipped
}

void BaseDispatcher::RefreshStatus() {
    DeviceCounts counts;
    int32_t flags = DeviceStatus(counts);
    counts_ = counts;
    lineErrors_ |= static_cast<uint32_t>(flags) & 0x1F;
}

void BaseDispatcher::StoreFetched(int32_t k, int32_t at) {
    if (logging_) {
        LockGuard guard(dataLock_);
        AddLogEntry(ltDispatch, lsReadCom, k, ring_.data.get() + at, k);
    }
}

bool BaseDispatcher::FillRing() {
    LockGuard guard(bufferLock_);
    if (!ring_.Allocated()) return false;
    if (ring_.full) return true;
    RefreshStatus();
    int32_t n = counts_.InputCount;
    if (n <= 0) return false;
    int32_t free, first;
    ring_.FreePieces(free, first);
    free = std::min(free, n);
    // Up to two contiguous pieces: the first up to the end of the ring (or
    // to tail), the second from the start, read only when the first was
    // filled completely.
    const int32_t pieces[2] = {first, first < free ? free - first : 0};
    int32_t total = 0;
    for (int32_t piece : pieces) {
        if (piece <= 0) continue;
        int32_t at = ring_.head;
        int32_t k = DeviceRead(ring_.data.get() + at, piece);
        if (!ring_.Allocated()) return false;  // released by a report met while reading
        if (k < 0) {
            DeviceReadFailed(-1);
            k = 0;
        }
        k = std::min(k, piece);
        StoreFetched(k, at);
        ring_.head = DispatchRing::Wrap(ring_.head + k);
        total += k;
        if (k > 0) ring_.full = ring_.head == ring_.tail;
        if (k < piece) break;
    }
    unscanned_ = std::min(kDispatchRingSize, unscanned_ + total);
    return true;
}

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

bool BaseDispatcher::DeliverEvent(UINT msg, WPARAM wParam, int32_t value) {
    if (!handlerService_) return true;
    DeliveryScope delivery(*this);
    maxFetched_ = 0;
    inDataMessage_ = msg == MsgTriggerAvail || msg == MsgTriggerData;
    LPARAM lParam = static_cast<LPARAM>(static_cast<int32_t>(static_cast<uint32_t>(handle_) * 65536u +
                                                             static_cast<uint32_t>(value)));
    // Whatever the handlers did (also when one raised): the message is over
    // for the ring, and the handlers removed meanwhile go when the outermost
    // delivery ends.
    struct Finish {
        BaseDispatcher& d;
        ~Finish() {
            LockGuard guard(d.dataLock_);
            d.inDataMessage_ = false;
            d.fetched_ = 0;
            if (d.delivering_ == 1 && d.handlersDeleted_) {
                d.FreeDeleted(d.windowHandlers_);
                d.FreeDeleted(d.procHandlers_);
                d.FreeDeleted(d.eventHandlers_);
                d.handlersDeleted_ = false;
                d.AdjustHandlerFlags(hcRecount);
            }
        }
    } finish{*this};
    bool stopped = false;
    // Each live entry present when the list's turn came is called, until a
    // close is asked for; call reads what it needs from the entry before
    // calling out (a handler may add to the list).
    auto callEach = [&](auto& list, auto call) {
        for (size_t i = 0, n = list.size(); i < n && i < list.size() && !stopped; ++i) {
            fetched_ = 0;
            if (!list[i].Deleted) call(list[i]);
            if (Retiring()) stopped = true;
            else maxFetched_ = std::max(maxFetched_, fetched_);
        }
    };
    callEach(eventHandlers_, [&](const EventHandler& h) {
        DispatchMethod method = h.Method;
        method(msg, wParam, lParam);
    });
    callEach(procHandlers_, [&](const ProcHandler& h) {
        DispatchProc proc = h.Proc;
        proc(msg, wParam, lParam);
    });
    auto liveWindows = std::count_if(windowHandlers_.begin(), windowHandlers_.end(),
                                     [](const WindowHandler& h) { return !h.Deleted; });
    if (!stopped && (liveWindows > 1 || portHandler_)) {
        callEach(windowHandlers_, [&](const WindowHandler& h) {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(h.Window, msg, wParam, lParam, SMTO_BLOCK, 3000, &answer);
        });
    }
    if (stopped) return false;
    bool result = true;
    if (inDataMessage_) {
        LockGuard guard(bufferLock_);
        inDataMessage_ = false;
        if (ring_.Allocated()) {
            ring_.tail = DispatchRing::Wrap(ring_.tail + maxFetched_);
            if (maxFetched_ != 0) ring_.full = false;
        }
        if (msg == MsgTriggerAvail && maxFetched_ != static_cast<int32_t>(wParam)) result = false;
    }
    return result;
}

// ---- line operations ---------------------------------------------------

int32_t BaseDispatcher::SetDtrLine(bool state) {
    LockGuard guard(dataLock_);
    if (dtrAuto_) return 1;
    int32_t r = DeviceEscape(state ? leSetDtr : leClearDtr);
    dtrState_ = state;
    return r < 0 ? kErrBadArgument : r;
}

int32_t BaseDispatcher::SetRtsLine(bool state) {
    LockGuard guard(dataLock_);
    if (rtsAuto_) return 1;
    int32_t r = DeviceEscape(state ? leSetRts : leClearRts);
    rtsState_ = state;
    return r < 0 ? kErrBadArgument : r;
}

int32_t BaseDispatcher::ConfigHardwareFlow(int32_t fullMark, int32_t resumeMark, uint32_t options) {
    if (fullMark < resumeMark || fullMark > inSize_) return kErrBadArgument;
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.FlowFlags &= ~(kFlowDtrHandshake | kFlowRtsHandshake | kFlowWaitDsr | kFlowWaitCts);
        if (options & 1) line_.FlowFlags |= kFlowDtrHandshake;
        if (options & 2) line_.FlowFlags |= kFlowRtsHandshake;
        if (options & 4) line_.FlowFlags |= kFlowWaitDsr;
        if (options & 8) line_.FlowFlags |= kFlowWaitCts;
        line_.XoffLimit = inSize_ - fullMark;
        line_.XonLimit = resumeMark;
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::ConfigSoftwareFlow(int32_t fullMark, int32_t resumeMark, uint32_t options) {
    if (fullMark < resumeMark || fullMark > inSize_) return kErrBadArgument;
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.FlowFlags &= ~(kFlowXonXoffIn | kFlowXonXoffOut);
        if (options & 2) {
            line_.FlowFlags |= kFlowXonXoffIn;
            line_.XoffLimit = inSize_ - fullMark;
            line_.XonLimit = resumeMark;
        }
        if (options & 1) line_.FlowFlags |= kFlowXonXoffOut;
        line_.XonChar = 17;
        line_.XoffChar = 19;
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::StopSoftwareFlow() {
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.FlowFlags &= ~(kFlowXonXoffIn | kFlowXonXoffOut);
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::ChangeFlowChars(uint8_t xon, uint8_t xoff) {
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.XonChar = xon;
        line_.XoffChar = xoff;
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::ApplyLineSettings(const LineSettings& settings) {
    LockGuard guard(dataLock_);
    LineSettings s = settings;
    if (!dtrAuto_) s.FlowFlags = dtrState_ ? (s.FlowFlags | kFlowDtrOn) : (s.FlowFlags & ~kFlowDtrOn);
    if (!rtsAuto_) s.FlowFlags = rtsState_ ? (s.FlowFlags | kFlowRtsOn) : (s.FlowFlags & ~kFlowRtsOn);
    int32_t r = DeviceSetLine(s);
    line_ = s;
    SetDtrLine(dtrState_);
    if (!rs485_) SetRtsLine(rtsState_);
    return r;
}

int32_t BaseDispatcher::ReadLineSettings(LineSettings& settings) {
    LockGuard guard(dataLock_);
    int32_t r = DeviceGetLine(line_);
    settings = line_;
    return r;
}

int32_t BaseDispatcher::ReadFlowSettings(uint32_t& flowFlags, uint8_t& xon, uint8_t& xoff) {
    LockGuard guard(dataLock_);
    int32_t r = DeviceGetLine(line_);
    flowFlags = line_.FlowFlags;
    xon = line_.XonChar;
    xoff = line_.XoffChar;
    return r;
}

int32_t BaseDispatcher::TakeLineError() {
    LockGuard guard(dataLock_);
    int32_t code = 0;
    if (lineErrors_ & 1) code = 1;
    else if (lineErrors_ & 2) code = 2;
    else if (lineErrors_ & 4) code = 3;
    else if (lineErrors_ & 8) code = 4;
    else if (lineErrors_ & 16) code = 9;
    if (code != 0) lineErrors_ &= ~0x0Fu;
    return code;
}

bool BaseDispatcher::TakeBreakFlag() {
    LockGuard guard(dataLock_);
    bool set = (lineErrors_ & 16) != 0;
    lineErrors_ &= ~16u;
    return set;
}

void BaseDispatcher::SetPortOption(uint32_t bit) {
    LockGuard guard(dataLock_);
    portOptions_ |= bit;
}

void BaseDispatcher::ClearPortOption(uint32_t bit) {
    LockGuard guard(dataLock_);
    portOptions_ &= ~bit;
}

// ---- trace -------------------------------------------------------------

int32_t BaseDispatcher::StartTrace(int32_t capacity) {
    LockGuard guard(dataLock_);
    if (trace_) {
        trace_->Clear();
    } else {
        if (capacity > kMaxTraceCapacity) return kErrBadArgument;
        trace_ = std::make_unique<TraceRing>(capacity);
    }
    tracing_ = true;
    return 0;
}

int32_t BaseDispatcher::ClearTrace() {
    LockGuard guard(dataLock_);
    if (trace_) trace_->Clear();
    return 0;
}

void BaseDispatcher::StopTrace() {
    LockGuard guard(dataLock_);
    tracing_ = false;
    trace_.reset();
}

void BaseDispatcher::PauseTrace() {
    LockGuard guard(dataLock_);
    tracing_ = false;
}

void BaseDispatcher::ResumeTrace() {
    LockGuard guard(dataLock_);
    tracing_ = trace_ != nullptr;
}

void BaseDispatcher::AddTraceEntry(uint8_t kind, uint8_t byte) {
    LockGuard guard(dataLock_);
    if (trace_) trace_->Add(kind, byte);
}

namespace {

// Opens for writing: appending when asked and the file exists, otherwise
// created or emptied. Returns the I/O error code (0 = opened).
DWORD OpenDumpFile(const std::string& fileName, bool append, OwnedFile& file) {
    bool exists = append && FileExistsAt(fileName);
    file = OpenOwnedFile(fileName, GENERIC_WRITE, FILE_SHARE_READ, exists ? OPEN_EXISTING : CREATE_ALWAYS);
    if (!file) {
        DWORD e = GetLastError();
        return e ? e : ERROR_ACCESS_DENIED;
    }
    if (exists) SetFilePointer(file.Get(), 0, nullptr, FILE_END);
    return 0;
}

// Writes in pieces of 512 bytes, the size of the text buffer; returns the
// first error (0 = none).
DWORD WriteDumpText(HANDLE file, const std::string& text) {
    size_t at = 0;
    while (at < text.size()) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(512, text.size() - at)), written = 0;
        if (!WriteFile(file, text.data() + at, piece, &written, nullptr) || written != piece) {
            DWORD e = GetLastError();
            return e ? e : ERROR_WRITE_FAULT;
        }
        at += piece;
    }
    return 0;
}

}  // namespace

int32_t BaseDispatcher::WriteTraceFile(const std::string& fileName, bool hex, bool allHex, bool append) {
    if (!trace_) return 0;
    tracing_ = false;
    LockGuard guard(dataLock_);
    if (trace_->Empty()) {
        StopTrace();
        return 0;
    }
    OwnedFile file;
    DWORD error = OpenDumpFile(fileName, append, file);
    if (error) {
        StopTrace();
        return -static_cast<int32_t>(error);
    }
    error = WriteDumpText(file.Get(), trace_->Format(hex, allHex));
    DWORD closeError = file.Close();
    if (!error) error = closeError;
    StopTrace();
    return -static_cast<int32_t>(error);
}

int32_t BaseDispatcher::DumpTrace(const std::string& fileName, bool hex, bool allHex) {
    return WriteTraceFile(fileName, hex, allHex, false);
}

int32_t BaseDispatcher::AppendTrace(const std::string& fileName, bool hex, bool allHex) {
    return WriteTraceFile(fileName, hex, allHex, true);
}

// ---- dispatch log ------------------------------------------------------

void BaseDispatcher::StartLog(int32_t capacity) {
    LockGuard guard(dataLock_);
    if (log_) {
        log_->Clear();
        return;
    }
    log_ = std::make_unique<LogRing>(capacity, std::max(inSize_, outSize_));
    logging_ = true;
}

void BaseDispatcher::ClearLog() {
    LockGuard guard(dataLock_);
    if (log_) log_->Clear();
}

void BaseDispatcher::StopLog() {
    LockGuard guard(dataLock_);
    logging_ = false;
    log_.reset();
}

void BaseDispatcher::PauseLog() {
    LockGuard guard(dataLock_);
    logging_ = false;
}

void BaseDispatcher::ResumeLog() {
    LockGuard guard(dataLock_);
    logging_ = log_ != nullptr;
}

void BaseDispatcher::AddLogEntry(uint8_t type, uint8_t subtype, int32_t length, const void* data, int32_t value) {
    LockGuard guard(dataLock_);
    if (logging_ && log_) log_->Add(type, subtype, ElapsedMs(), value, data, length);
}

int32_t BaseDispatcher::WriteLogFile(const std::string& fileName, bool hex, bool allHex, bool append) {
    if (!log_ || log_->Empty()) {
        StopLog();
        return 0;
    }
    logging_ = false;
    LockGuard guard(dataLock_);
    OwnedFile file;
    DWORD error = OpenDumpFile(fileName, append, file);
    if (error) return -static_cast<int32_t>(error);
    TextLookup texts;
    std::string text = FormatLogHeader(CompilerDescription(), OperatingSystemDescription(), texts);
    LogRecordHeader header;
    std::vector<uint8_t> data;
    while (!error && log_->Take(header, data)) {
        text += FormatLogRecord(header, data.data(), hex, allHex, texts);
        if (text.size() >= 512) {
            error = WriteDumpText(file.Get(), text);
            text.clear();
        }
    }
    if (!error) error = WriteDumpText(file.Get(), text);
    DWORD closeError = file.Close();
    if (!error) error = closeError;
    StopLog();
    return -static_cast<int32_t>(error);
}

int32_t BaseDispatcher::DumpLog(const std::string& fileName, bool hex, bool allHex) {
    return WriteLogFile(fileName, hex, allHex, false);
}

int32_t BaseDispatcher::AppendLog(const std::string& fileName, bool hex, bool allHex) {
    return WriteLogFile(fileName, hex, allHex, true);
}

// ---- header texts ------------------------------------------------------

std::string CompilerDescription() {
#if defined(__MINGW64__)
    return "GNU C++ " __VERSION__ " (mingw-w64, x86-64)";
#else
    return "GNU C++ " __VERSION__;
#endif
}

std::string OperatingSystemDescription() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) {
        info.dwPlatformId = VER_PLATFORM_WIN32_NT;
        info.dwMajorVersion = 0;
    }
    std::string text;
    switch (info.dwPlatformId) {
        case VER_PLATFORM_WIN32s: text = "Win32s on Windows "; break;
        case VER_PLATFORM_WIN32_WINDOWS: text = "Win32 on Windows "; break;
        case VER_PLATFORM_WIN32_NT: text = "Windows NT "; break;
        default: text = "Unknown"; break;
    }
    text += std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + " " +
            FromWide(info.szCSDVersion);
    if (text.size() > 80) text.resize(80);
    return text;
}

}  // namespace qv
