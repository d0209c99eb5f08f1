// CustomComPort: the component through which the rest of the system uses
// one communications device. It keeps the device settings, creates and
// owns a dispatcher while open, owns a hidden (message-only) window of the
// class "commPortWindow" that turns the dispatcher's trigger messages into
// component events, keeps the trace and dispatch-log switches, offers
// PutString, and tells the objects on its notify list when it opens and
// closes.
//
// Setting Open is the only way to open or close. State has one writer
// (Transition), and every way out of the open state (a close, a close that
// had to wait, a failed open) ends in the same step: the window, then the
// dispatcher go, and the port is psClosed. A close requested while the
// dispatcher is delivering (from inside an event handler) waits in
// psClosing until the dispatcher has been released; the dispatcher then
// posts MsgPortDeferredClose to the port window, once, and the close ends
// there. Open := true in the meantime reopens right after it.
//
// The serial device layer is not built: CreateDispatcher for dlWin32 fails
// with -3001 ("No device layer specified"). CustomWinsockPort supplies the
// TCP layer.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comms/base/comm_misc_core.h"
#include "comms/dispatch/dispatcher.h"
#include "framework/message_window.h"

namespace qv {

enum PortState : uint8_t { psClosed = 0, psClosing = 1, psOpen = 2 };
// Values 0 and 1 have no dispatcher.
enum DeviceLayer : uint8_t { dlWin32 = 2, dlWinsock = 3 };
enum TraceLogState : uint8_t { tlOff = 0, tlOn = 1, tlDump = 2, tlAppend = 3, tlClear = 4, tlPause = 5 };

// Hardware flow options (bits of HardwareFlow).
inline constexpr uint8_t hfUseDTR = 1, hfUseRTS = 2, hfRequireDSR = 4, hfRequireCTS = 8;
// SoftwareFlow values.
inline constexpr uint8_t swfNone = 0, swfReceive = 1, swfTransmit = 2, swfBoth = 3;

inline constexpr uint32_t kMaxTraceSize = 4000000;
inline constexpr uint32_t kMaxLogSize = 16000000;

class CustomComPort;

// Trigger events; the 16-bit values come as received in the window message.
using AnyTriggerEvent = std::function<void(Object* Sender, uint16_t Msg, uint16_t TriggerHandle, uint16_t Data)>;
using TriggerAvailEvent = std::function<void(Object* Sender, uint16_t Count)>;
using TriggerHandleEvent = std::function<void(Object* Sender, uint16_t TriggerHandle)>;
using TriggerLineErrorEvent = std::function<void(Object* Sender, uint16_t LineError, bool LineBreak)>;
using TriggerSpareEvent = std::function<void(Object* Sender, int32_t Value)>;

// A notify-list callback: called as code(object, port, opening). Removal
// compares the code only.
struct PortNotifyCallback {
    using Code = void (*)(void* object, CustomComPort* port, bool opening);
    Code code = nullptr;
    void* object = nullptr;

    template <auto Member, class T>
    static PortNotifyCallback Bind(T* object) {
        return PortNotifyCallback{&Thunk<Member, T>, object};
    }

private:
    template <auto Member, class T>
    static void Thunk(void* object, CustomComPort* port, bool opening) {
        (static_cast<T*>(object)->*Member)(port, opening);
    }
};

class CustomComPort : public BaseComponent, public DispatcherOwner {
public:
    explicit CustomComPort(Component* owner);
    ~CustomComPort() override;
    std::string ClassName() const override { return "CustomComPort"; }

    // Close before delete: an open port closes here (its close events and
    // notify callbacks run, with every override reached), before the
    // destructors release what is left.
    void BeforeDestruction() override;

    HWND DispatcherOwnerWindow() const override { return PortWindow(); }

    // ---- open state ----
    bool Open() const { return open_; }
    void SetOpen(bool value);
    PortState State() const { return state_; }
    bool ReopenPending() const { return reopenPending_; }
    bool OpenWhenLoaded() const { return openWhenLoaded_; }
    bool Force() const { return force_; }
    HWND PortWindow() const { return portWindow_ ? portWindow_->Handle() : nullptr; }
    bool TriggersSaved() const { return triggersSaved_; }
    const TriggerSaveArea& SavedTriggers() const { return savedTriggers_; }

    // The dispatcher; asking while closed opens the port first when
    // OpenOnDemand is set (and the port is neither loading nor designed).
    // May return none.
    BaseDispatcher* Dispatcher();
    // The strict form: raises -2007 ("ie_NOpen - device not open") when
    // there is none (returns none only while loading).
    BaseDispatcher* ValidDispatcher();
    // The dispatcher as it is, without side effects.
    BaseDispatcher* CurrentDispatcher() const { return dispatcher_; }

    // ---- settings ----
    DeviceLayer GetDeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(DeviceLayer value) { deviceLayer_ = value; }
    uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(uint16_t value);
    int32_t Baud() const { return baud_; }
    void SetBaud(int32_t value) { baud_ = value; }
    uint8_t Parity() const { return parity_; }
    void SetParity(uint8_t value) { parity_ = value; }
    uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(uint16_t value) { dataBits_ = value; }
    uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(uint16_t value) { stopBits_ = value; }
    uint16_t InBufferSize() const { return inBufferSize_; }
    void SetInBufferSize(uint16_t value) { inBufferSize_ = value; }
    uint16_t OutBufferSize() const { return outBufferSize_; }
    void SetOutBufferSize(uint16_t value) { outBufferSize_ = value; }
    bool AskForPort() const { return askForPort_; }
    void SetAskForPort(bool value) { askForPort_ = value; }
    bool OpenOnDemand() const { return openOnDemand_; }
    void SetOpenOnDemand(bool value) { openOnDemand_ = value; }
    uint16_t TapiDevice() const { return tapiDevice_; }
    void SetTapiDevice(uint16_t value) { tapiDevice_ = value; }
    uint8_t TapiMode() const { return tapiMode_; }
    void SetTapiMode(uint8_t value) { tapiMode_ = value; }
    bool Rs485Mode() const { return rs485Mode_; }
    void SetRs485Mode(bool value);
    uint8_t DispatchPriority() const { return dispatchPriority_; }
    void SetDispatchPriority(uint8_t value);
    bool DTR() const { return dtr_; }
    void SetDTR(bool value);
    bool RTS() const { return rts_; }
    void SetRTS(bool value);
    uint16_t FlowStopLevel() const { return flowStopLevel_; }
    void SetFlowStopLevel(uint16_t value) { flowStopLevel_ = value; }
    uint16_t FlowResumeLevel() const { return flowResumeLevel_; }
    void SetFlowResumeLevel(uint16_t value) { flowResumeLevel_ = value; }
    uint8_t HardwareFlow() const { return hardwareFlow_; }
    void SetHardwareFlow(uint8_t value);
    uint8_t SoftwareFlow() const { return softwareFlow_; }
    void SetSoftwareFlow(uint8_t value);
    uint8_t XonChar() const { return xonChar_; }
    void SetXonChar(uint8_t value);
    uint8_t XoffChar() const { return xoffChar_; }
    void SetXoffChar(uint8_t value);
    uint16_t TriggerLength() const { return triggerLength_; }
    void SetTriggerLength(uint16_t value);

    // ---- trace and dispatch log ----
    TraceLogState Tracing() const { return tracing_; }
    void SetTracing(TraceLogState value);
    uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(uint32_t value);
    const std::string& TraceName() const { return traceName_; }
    void SetTraceName(const std::string& value) { traceName_ = value.substr(0, 255); }
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool value) { traceHex_ = value; }
    bool TraceAllHex() const { return traceAllHex_; }
    void SetTraceAllHex(bool value) { traceAllHex_ = value; }
    TraceLogState Logging() const { return logging_; }
    void SetLogging(TraceLogState value);
    uint32_t LogSize() const { return logSize_; }
    void SetLogSize(uint32_t value);
    const std::string& LogName() const { return logName_; }
    void SetLogName(const std::string& value) { logName_ = value.substr(0, 255); }
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool value) { logHex_ = value; }
    bool LogAllHex() const { return logAllHex_; }
    void SetLogAllHex(bool value) { logAllHex_ = value; }

    // ---- events ----
    const AnyTriggerEvent& OnAnyTrigger() const { return onAnyTrigger_; }
    void SetOnAnyTrigger(AnyTriggerEvent handler);
    const TriggerAvailEvent& OnDataAvailable() const { return onDataAvailable_; }
    void SetOnDataAvailable(TriggerAvailEvent handler);
    const TriggerHandleEvent& OnDataTrigger() const { return onDataTrigger_; }
    void SetOnDataTrigger(TriggerHandleEvent handler);
    const TriggerHandleEvent& OnStatusTrigger() const { return onStatusTrigger_; }
    void SetOnStatusTrigger(TriggerHandleEvent handler);
    const TriggerHandleEvent& OnTimerTrigger() const { return onTimerTrigger_; }
    void SetOnTimerTrigger(TriggerHandleEvent handler);
    TriggerLineErrorEvent OnLineError;
    NotifyEvent OnModemStatus;
    NotifyEvent OnOutputFree;
    NotifyEvent OnOutputUsed;
    NotifyEvent OnOutputSent;
    NotifyEvent OnPortOpen;
    NotifyEvent OnPortClose;
    TriggerSpareEvent OnSpare;

    // ---- operations ----
    // Sends the text (nothing while closing); -3006 and -3004 raise.
    void PutString(const std::string& text);
    void AddPortNotify(PortNotifyCallback callback);
    // Removes every entry with this callback code, whatever its object.
    void RemovePortNotify(PortNotifyCallback::Code code);
    const std::vector<PortNotifyCallback>& NotifyList() const { return notifyList_; }
    // Line error code and break flag (cleared by reading); 0 and false
    // unless open.
    uint16_t LineError();
    bool LineBreak();
    // Copies another port's settings (see the .cpp); Open becomes false.
    void Assign(const CustomComPort& source);

    void Loaded() override;

    // The first port among a component's owned components, searched depth
    // first; none when there is none.
    static CustomComPort* SearchForPort(Component* component);

    // Slots 19 and 20.
    virtual void ClosePort();
    virtual void ServiceDevice();

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;

protected:
    // Slots, in order.
    virtual BaseDispatcher* CreateDispatcher();
    virtual void DeviceLayerChanged() {}
    virtual int32_t OpenDevice();
    virtual void SetPortWindow(bool create);
    virtual void ValidatePortNumber();
    virtual void ApplyDeviceOption(bool) {}
    virtual void TriggerEvent(uint16_t msg, uint16_t triggerHandle, uint16_t data);
    virtual void AvailEvent(uint16_t count);
    virtual void DataTriggerEvent(uint16_t triggerHandle);
    virtual void StatusTriggerEvent(uint16_t triggerHandle);
    virtual void TimerTriggerEvent(uint16_t triggerHandle);
    virtual void UpdateHandlerFlags();
    virtual void LineErrorEvent(uint16_t lineError, bool lineBreak);
    virtual void ModemStatusEvent();
    virtual void OutputFreeEvent();
    virtual void OutputUsedEvent();
    virtual void OutputSentEvent();
    virtual void SpareEvent(int32_t value);
    // The dynamic operations.
    virtual void PortOpened();
    virtual void PortClosing();
    virtual void OpenPort();

    // The hidden window while the port is open (handlers may be added to
    // it from PortOpened on; it goes at the end of the close).
    MessageWindow* PortMessageWindow() { return portWindow_ ? &*portWindow_ : nullptr; }

private:
    // The only writer of State (see above).
    void Transition(PortState to);
    void HandleTriggerMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void FinishDeferredClose(BaseDispatcher* d);
    void DestroyDispatcher();
    void DeriveFlowLevels(double stop, double resume);
    void NotifyListCall(bool opening);

    bool force_ = false;
    PortState state_ = psClosed;
    bool reopenPending_ = false;
    bool openWhenLoaded_ = false;
    std::vector<PortNotifyCallback> notifyList_;
    bool triggersSaved_ = false;
    TriggerSaveArea savedTriggers_;
    std::optional<MessageWindow> portWindow_;  // "commPortWindow", while open
    DeviceLayer deviceLayer_ = dlWin32;
    BaseDispatcher* dispatcher_ = nullptr;
    uint16_t comNumber_ = 0;
    int32_t baud_ = 19200;
    uint8_t parity_ = 0;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inBufferSize_ = 4096;
    uint16_t outBufferSize_ = 4096;
    bool open_ = false;
    bool askForPort_ = true;
    bool openOnDemand_ = true;
    uint16_t tapiDevice_ = 0;
    uint8_t tapiMode_ = 1;
    bool rs485Mode_ = false;
    uint8_t dispatchPriority_ = 0;
    bool dtr_ = true;
    bool rts_ = true;
    uint16_t flowStopLevel_ = 0;
    uint16_t flowResumeLevel_ = 0;
    uint8_t hardwareFlow_ = 0;
    uint8_t softwareFlow_ = 0;
    uint8_t xonChar_ = 17;
    uint8_t xoffChar_ = 19;
    TraceLogState tracing_ = tlOff;
    uint32_t traceSize_ = 10000;
    std::string traceName_ = "COMMS.TRC";
    bool traceHex_ = true;
    bool traceAllHex_ = false;
    TraceLogState logging_ = tlOff;
    uint32_t logSize_ = 10000;
    std::string logName_ = "COMMS.LOG";
    bool logHex_ = true;
    bool logAllHex_ = false;
    uint16_t triggerLength_ = 1;

    AnyTriggerEvent onAnyTrigger_;
    TriggerAvailEvent onDataAvailable_;
    TriggerHandleEvent onDataTrigger_;
    TriggerHandleEvent onStatusTrigger_;
    TriggerHandleEvent onTimerTrigger_;
};

// The "commPortWindow" class, registered at most once per process.
void RegisterPortWindowClass();

}  // namespace qv
