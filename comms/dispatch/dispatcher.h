// BaseDispatcher: the engine behind a port. It reads what its device
// received into a fixed 8192-byte ring, runs trigger passes (timer, status,
// data-match and availability triggers), delivers each fired trigger to its
// handlers (event handlers = methods, procedure handlers, window handlers),
// hands output blocks to the device and feeds the trace and dispatch log.
// The device is reached only through the virtual Device* operations of a
// subclass (WinsockDispatcher for a TCP connection).
//
// Ownership and life (a Lifetime, see framework/lifetime.h):
//  - A dispatcher is created by its owner (the port; see DispatcherOwner)
//    and registered in the process-wide registry; its handle is its index
//    there (small, reused).
//  - It is opened once (OpenSocketDevice) and closed once (CloseDevice).
//    Closing is the dispatcher's Retire: the device closes at once, and
//    the release (dispatch machinery stopped, ring freed) is its endgame,
//    which runs at once or, when the close was asked for while its own
//    code is on the stack (a delivery, a poll, a report to the owner),
//    when that ends; only then, once, the owner's window is posted
//    MsgPortDeferredClose to finish its own close (ClosePending tells the
//    owner, right after CloseDevice, that this message is to come).
//  - Every delivery, poll and report to the owner holds a use (the scopes
//    below); a handler may call anything, including CloseDevice.
//  - The owner destroys it with Destroy (never delete): it closes what is
//    still open while the object is whole, forgets the owner and frees the
//    dispatcher at once, or when the use running ends.
//
// Everything runs on the thread that owns the windows involved (the user
// interface thread). The three locks are re-entrant and taken as the order
// rule says: the dispatch-buffer or output lock first, then the data lock;
// no lock is held while handlers are called.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comms/dispatch/byte_ring.h"
#include "comms/dispatch/dispatch_records.h"
#include "comms/dispatch/trace_log.h"
#include "framework/lifetime.h"
#include "framework/win32_lock.h"

namespace qv {

// ---- event messages ----------------------------------------------------
// wParam: unread count (Avail) or trigger handle; lParam: dispatcher handle
// * 65536 + value.
inline constexpr UINT MsgTriggerAvail = 0x7E01;
inline constexpr UINT MsgTriggerData = 0x7E02;
inline constexpr UINT MsgTriggerTimer = 0x7E03;
inline constexpr UINT MsgTriggerStatus = 0x7E04;
// A close that had to wait for the dispatcher's release is over: posted
// once, by the dispatcher, to its owner's window (lParam: handle * 65536).
inline constexpr UINT MsgPortDeferredClose = 0x7E0A;

// Result codes of this layer.
inline constexpr int32_t kErrBadArgument = -1002;
inline constexpr int32_t kErrNoDeviceLayer = -3001;
inline constexpr int32_t kErrPutBlockFail = -3004;
inline constexpr int32_t kErrOutputBufferTooSmall = -3006;
inline constexpr int32_t kErrBufferIsEmpty = -3007;
inline constexpr int32_t kErrBadTriggerHandle = -5003;

// The availability trigger's handle.
inline constexpr int32_t kAvailTriggerHandle = 1;

// The modem-status byte's carrier-detect bit. A socket device has no modem
// lines: it sets this bit while its connection is open.
inline constexpr uint8_t kModemCarrierDetect = 0x80;

// ---- owner link --------------------------------------------------------
// What the dispatcher knows of its owner (the port component): the window
// that the device socket sends its reports to and that hears of a finished
// deferred close. The port implements it; tests stand in for it.
class DispatcherOwner {
public:
    virtual HWND DispatcherOwnerWindow() const = 0;

protected:
    ~DispatcherOwner() = default;
};

class BaseDispatcher : public Lifetime {
public:
    explicit BaseDispatcher(DispatcherOwner* owner);

    DispatcherOwner* Owner() const { return owner_; }
    int32_t Handle() const { return handle_; }
    int32_t DeviceId() const { return deviceId_; }
    int32_t InputSize() const { return inSize_; }
    int32_t OutputSize() const { return outSize_; }
    bool Started() const { return started_; }
    // A delivery or a report to the owner runs (handler removals wait).
    bool Dispatching() const { return delivering_ > 0; }
    // Closed while in use; the release waits for the use to end.
    bool ClosePending() const { return Retiring() && !Ended(); }
    uint8_t ModemStatus() const { return modemStatus_; }
    uint32_t LineErrorFlags() const { return lineErrors_; }
    bool HandlerService() const { return handlerService_; }
    bool PortHandler() const { return portHandler_; }
    int32_t AvailThreshold() const { return availThreshold_; }
    const DispatchRing& Ring() const { return ring_; }

    // ---- life cycle ----
    // 0, or a negative error (the device is closed and released again).
    int32_t OpenSocketDevice(int32_t inSize, int32_t outSize);
    // Closes the device now; the release follows at once or when the use
    // running ends (see above). Once only.
    void CloseDevice();
    // Close before delete: the owner's way to end a dispatcher (see above).
    // The caller must not touch it afterwards.
    void Destroy();

    // ---- data ----
    int32_t FetchBlock(void* buffer, int32_t count);
    int32_t SendBlock(const void* buffer, int32_t count);
    int32_t BytesAvailable();
    int32_t OutputUsed();
    int32_t OutputFree();
    int32_t FlushInput();
    int32_t FlushOutput();
    uint32_t ElapsedMs() const;

    // ---- handlers ----
    void AddWindowHandler(HWND window);
    void RemoveWindowHandler(HWND window);
    void AddProcHandler(DispatchProc proc);
    void RemoveProcHandler(DispatchProc proc);
    void AddEventHandler(DispatchMethod method);
    void RemoveEventHandler(DispatchMethod method);
    virtual void AdjustHandlerFlags(HandlerFlagChange kind);

    // ---- triggers ----
    void SetAvailThreshold(int32_t count);
    int32_t AddTimerTrigger();
    int32_t SetTimerTrigger(int32_t handle, int32_t ticks, bool activate);
    int32_t AddDataTrigger(const std::string& pattern, bool ignoreCase);
    int32_t AddStatusTrigger(int32_t kind);
    // Activates (with the kind's value and mask) or deactivates.
    int32_t SetStatusTrigger(int32_t handle, int32_t value, uint32_t mask, bool activate);
    int32_t RemoveTrigger(int32_t handle);
    void SaveTriggers(TriggerSaveArea& area);
    void RestoreTriggers(const TriggerSaveArea& area);
    static void DiscardSavedTriggers(TriggerSaveArea& area);
    static int32_t StatusKindOf(int32_t handle) { return handle & 7; }
    int32_t TimerTriggerCount() const { return static_cast<int32_t>(timers_.size()); }
    bool TimerTriggerActive(int32_t handle) const;

    // ---- registry ----
    using ClassTest = bool (*)(const BaseDispatcher*);
    template <class T>
    static bool IsA(const BaseDispatcher* d) {
        return dynamic_cast<const T*>(d) != nullptr;
    }
    // The first registered dispatcher with this device id and class (a
    // walk of the registry: there are only a few).
    static BaseDispatcher* FindDispatcher(int32_t deviceId, ClassTest ofClass);
    // The dispatcher registered under handle, or none (under the registry lock).
    static BaseDispatcher* DispatcherAt(int32_t handle);
    static int32_t RegistryLength();
    static void LockDispatcherList();
    static void UnlockDispatcherList();
    // Calls fn for each registered dispatcher in order until it returns true.
    template <class F>
    static BaseDispatcher* FirstRegistered(F fn);

    // ---- passes (device subclasses) ----
    // One poll of the device: reads what it holds into the ring and, unless
    // readOnly or a delivery runs, runs the trigger passes. A poll started
    // from inside one (a handler's nested message loop) returns at once.
    void ServicePoll(bool readOnly);
    void RefreshStatus();
    bool FillRing();
    bool RunTriggerPass();
    // Passes until one returns false or a close is pending; then re-arms
    // the status triggers that were hit.
    void RunTriggerPasses();
    bool DeliverEvent(UINT msg, WPARAM wParam, int32_t value);

    // ---- line operations ----
    int32_t SetDtrLine(bool state);
    int32_t SetRtsLine(bool state);
    void SetDtrAutomatic(bool value) { dtrAuto_ = value; }
    void SetRtsAutomatic(bool value) { rtsAuto_ = value; }
    int32_t ConfigHardwareFlow(int32_t fullMark, int32_t resumeMark, uint32_t options);
    int32_t ConfigSoftwareFlow(int32_t fullMark, int32_t resumeMark, uint32_t options);
    int32_t StopSoftwareFlow();
    int32_t ChangeFlowChars(uint8_t xon, uint8_t xoff);
    int32_t ApplyLineSettings(const LineSettings& settings);
    int32_t ReadLineSettings(LineSettings& settings);
    int32_t ReadFlowSettings(uint32_t& flowFlags, uint8_t& xon, uint8_t& xoff);
    int32_t TakeLineError();
    bool TakeBreakFlag();
    void SetPortOption(uint32_t bit);
    void ClearPortOption(uint32_t bit);
    uint32_t PortOptions() const { return portOptions_; }
    void SetRs485(bool value) { rs485_ = value; }
    // No device of this system runs a dispatch thread of its own: nothing
    // to raise.
    virtual void SetThreadBoost(int32_t) {}
    const LineSettings& CurrentLineSettings() const { return line_; }

    // ---- trace and dispatch log ----
    int32_t StartTrace(int32_t capacity);
    int32_t ClearTrace();
    void StopTrace();
    void PauseTrace();
    void ResumeTrace();
    void AddTraceEntry(uint8_t kind, uint8_t byte);
    int32_t DumpTrace(const std::string& fileName, bool hex, bool allHex);
    int32_t AppendTrace(const std::string& fileName, bool hex, bool allHex);
    bool TracingOn() const { return tracing_; }
    bool TraceExists() const { return trace_ != nullptr; }

    void StartLog(int32_t capacity);
    void ClearLog();
    void StopLog();
    void PauseLog();
    void ResumeLog();
    void AddLogEntry(uint8_t type, uint8_t subtype, int32_t length, const void* data, int32_t value);
    int32_t DumpLog(const std::string& fileName, bool hex, bool allHex);
    int32_t AppendLog(const std::string& fileName, bool hex, bool allHex);
    bool LoggingOn() const { return logging_; }
    bool LogExists() const { return log_ != nullptr; }

    // ---- device operations, in slot order ----
    virtual int32_t DeviceEscape(int32_t function) = 0;
    virtual int32_t DeviceFlush(int32_t queue) = 0;
    virtual int32_t DeviceStatus(DeviceCounts& counts) = 0;
    virtual void DeviceReadFailed(int32_t code) = 0;
    virtual int32_t DeviceGetLine(LineSettings& settings) = 0;
    virtual int32_t DeviceRead(uint8_t* buffer, int32_t size) = 0;
    virtual int32_t DeviceSetLine(const LineSettings& settings) = 0;
    virtual int32_t DeviceWrite(const uint8_t* buffer, int32_t count) = 0;
    virtual bool DeviceWaitEvent(uint32_t& mask) = 0;
    virtual bool DeviceSetup(int32_t inSize, int32_t outSize) = 0;
    virtual void ReleaseDevice();
    virtual void StartDispatch() = 0;
    virtual void StopDispatch() = 0;
    virtual int32_t DeviceOpen(const char* name, int32_t inSize, int32_t outSize) = 0;
    virtual int32_t DeviceClose() = 0;
    virtual void DevicePoll() = 0;

protected:
    // Only Destroy frees a dispatcher; by then its device is closed, so
    // the destructors only release.
    ~BaseDispatcher() override;
    // The one writer of a modem-status bit after the open.
    void SetModemStatusBit(uint8_t bit, bool on);
    // The release (see above); frees the dispatcher when it has no owner.
    void Endgame() override;
    void SetStarted(bool value) { started_ = value; }

    // A delivery (or a report to the owner) under way: a use of the
    // dispatcher, counted so that handler removals wait for its end.
    class DeliveryScope {
    public:
        explicit DeliveryScope(BaseDispatcher& d) : use_(d), depth_(d.delivering_) { ++depth_; }
        ~DeliveryScope() { --depth_; }
        DeliveryScope(const DeliveryScope&) = delete;
        DeliveryScope& operator=(const DeliveryScope&) = delete;

    private:
        Lifetime::Use use_;  // constructed first, ends last
        int& depth_;
    };

    DispatcherOwner* owner_;
    int32_t deviceId_ = -1;
    int delivering_ = 0;
    bool polling_ = false;          // a ServicePoll is on the stack
    bool releaseDeferred_ = false;  // closed while in use: the owner hears of the release
    bool destroyed_ = false;        // Destroy was called: the endgame frees it
    DeviceCounts counts_;
    uint8_t modemStatus_ = 0;
    CriticalSection dataLock_;
    CriticalSection outputLock_;
    CriticalSection bufferLock_;

private:
    // A new dispatcher's slot in the registry (its handle), and leaving it.
    static int32_t Register(BaseDispatcher* d);
    static void Unregister(BaseDispatcher* d);
    int32_t NewTriggerHandle();
    bool TriggerHandleUsed(int32_t base) const;
    // Each check returns whether it delivered; result is that delivery's.
    bool CheckTimers(bool& result);
    bool CheckStatus(bool& result);
    bool CheckDataAndAvail();
    bool StatusCondition(StatusTrigger& t, int32_t& value);
    void StoreFetched(int32_t k, int32_t at);
    int32_t SetControlLine(const bool& automatic, bool& stored, bool state, LineEscape set, LineEscape clear);
    int32_t WriteTraceFile(const std::string& fileName, bool hex, bool allHex, bool append);
    int32_t WriteLogFile(const std::string& fileName, bool hex, bool allHex, bool append);

    // Takes the first live entry that matches out of a handler list; with
    // none, brings the handler flags up to date.
    template <class Entry, class Match>
    void RemoveHandler(std::vector<Entry>& list, Match match);
    template <class Entry>
    void FreeDeleted(std::vector<Entry>& list);

    struct WindowHandler {
        HWND Window;
        bool Deleted;
    };
    struct ProcHandler {
        DispatchProc Proc;
        bool Deleted;
    };
    struct EventHandler {
        DispatchMethod Method;
        bool Deleted;
    };

    int32_t handle_ = -1;
    int32_t inSize_ = 0;
    int32_t outSize_ = 0;
    uint32_t lineErrors_ = 0;
    LineSettings line_;
    bool dtrState_ = true, rtsState_ = true, dtrAuto_ = false, rtsAuto_ = false;
    uint32_t portOptions_ = 0;
    bool rs485_ = false;

    DispatchRing ring_;
    std::vector<WindowHandler> windowHandlers_;
    std::vector<ProcHandler> procHandlers_;
    std::vector<EventHandler> eventHandlers_;
    bool portHandler_ = false;
    bool handlerService_ = false;

    int32_t availThreshold_ = 0;
    std::vector<TimerTrigger> timers_;
    std::vector<DataTrigger> dataTriggers_;
    std::vector<StatusTrigger> statusTriggers_;
    int32_t scanPos_ = 0;
    int32_t notifyPos_ = 0;
    // New bytes have arrived since the last availability delivery (tracked
    // apart from the positions, which coincide after exactly one full ring).
    bool arrived_ = false;
    int32_t unscanned_ = 0;                   // bytes stored since the last scan
    std::vector<int32_t> pendingDataFires_;   // data-match triggers matched, not yet delivered
    int32_t triggerCounter_ = 1;

    bool handlersDeleted_ = false;
    bool inDataMessage_ = false;
    int32_t fetched_ = 0;
    int32_t maxFetched_ = 0;
    bool statusHit_ = false;
    bool outputSent_ = false;
    bool outputFull_ = false;

    bool started_ = false;
    uint32_t timeBase_ = 0;

    std::unique_ptr<TraceRing> trace_;
    bool tracing_ = false;
    std::unique_ptr<LogRing> log_;
    bool logging_ = false;
};

// The registry, for FirstRegistered.
std::vector<BaseDispatcher*>& DispatcherRegistry();

template <class F>
BaseDispatcher* BaseDispatcher::FirstRegistered(F fn) {
    LockDispatcherList();
    BaseDispatcher* found = nullptr;
    for (BaseDispatcher* d : DispatcherRegistry())
        if (d && fn(d)) {
            found = d;
            break;
        }
    UnlockDispatcherList();
    return found;
}

// Texts of the dispatch log's header.
std::string CompilerDescription();
std::string OperatingSystemDescription();

}  // namespace qv
