// The dispatcher's life (open, close, release, destroy), the data it hands
// in and out, and the device poll that fills its ring.
#include "comms/dispatch/dispatcher.h"

#include <algorithm>

#include "comms/base/comm_misc.h"
#include "comms/dispatch/dispatch_log_codes.h"

namespace qv {

using namespace dispatch_log;

// ---- life cycle --------------------------------------------------------

BaseDispatcher::BaseDispatcher(DispatcherOwner* owner) : owner_(owner), handle_(Register(this)) {}

BaseDispatcher::~BaseDispatcher() {
    Unregister(this);
    ring_.Free();
    trace_.reset();
    log_.reset();
}

int32_t BaseDispatcher::OpenSocketDevice(int32_t inSize, int32_t outSize) {
    modemStatus_ = 0;  // what the device shows is set from its setup on
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
    // A close that had to wait: the owner finishes its own close now. This
    // is the one place the message is posted.
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

void BaseDispatcher::SetModemStatusBit(uint8_t bit, bool on) {
    modemStatus_ = on ? static_cast<uint8_t>(modemStatus_ | bit) : static_cast<uint8_t>(modemStatus_ & ~bit);
}

uint32_t BaseDispatcher::ElapsedMs() const { return MillisecondClock() - timeBase_; }

// ---- the device poll ---------------------------------------------------

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

}  // namespace qv
