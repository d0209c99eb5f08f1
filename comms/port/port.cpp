#include "comms/port/port.h"

#include <cmath>
#include <exception>

#include "comms/base/comm_errors.h"
#include "framework/application.h"

namespace qv {

namespace {

constexpr wchar_t kPortWindowClass[] = L"commPortWindow";

// Codes of the port layer.
constexpr int32_t kErrBadId = -2001;
constexpr int32_t kErrNotOpen = -2007;
constexpr int32_t kErrAlreadyOpen = -2008;
constexpr int32_t kErrNoPortSelected = -2011;
constexpr int32_t kErrNotOpenedByTapi = -2012;

// For catch blocks: the standard report, on the main thread only.
void ReportOnMainThread() {
    if (Application::Instance().IsMainThread()) Application::Instance().HandleCurrentException();
}

// The dispatcher registry's lock, held while a dispatcher's message is
// handled.
struct DispatcherListLock {
    DispatcherListLock() { BaseDispatcher::LockDispatcherList(); }
    ~DispatcherListLock() { BaseDispatcher::UnlockDispatcherList(); }
    DispatcherListLock(const DispatcherListLock&) = delete;
    DispatcherListLock& operator=(const DispatcherListLock&) = delete;
};

}  // namespace

void RegisterPortWindowClass() { MessageWindow::RegisterClass(kPortWindowClass, 4); }

// ---- life cycle --------------------------------------------------------

CustomComPort::CustomComPort(Component* owner) : BaseComponent(owner) {}

void CustomComPort::BeforeDestruction() {
    // Closed while whole: every subclass's closing still runs.
    if (state_ == psOpen) {
        try {
            ClosePort();
        } catch (...) {
            ReportOnMainThread();
        }
    }
    BaseComponent::BeforeDestruction();
}

CustomComPort::~CustomComPort() {
    // Nothing that refers to this port may outlive its members (after a
    // plain delete nobody has been told yet).
    ForgetReferrers();
    // A close still deferred: the dispatcher goes when its delivery ends,
    // and nothing points at this port any more.
    if (dispatcher_ && portWindow_) dispatcher_->RemoveWindowHandler(portWindow_->Handle());
    DestroyDispatcher();
    portWindow_.reset();
    BaseDispatcher::DiscardSavedTriggers(savedTriggers_);
}

void CustomComPort::SetOpen(bool value) {
    Use use(*this);  // the open and the close run handlers, which may free the port
    // Open asked for during a deferred close, then closed again: the last
    // word wins (the stored Open is already false, so it is not a change).
    if (!value && reopenPending_ && !Designing() && !Loading()) {
        reopenPending_ = false;
        return;
    }
    if (value == open_) return;
    if (Designing() || Loading()) {
        open_ = value;
        if (value) openWhenLoaded_ = true;
        return;
    }
    if (value) {
        if (state_ == psClosed) OpenPort();
        else reopenPending_ = true;
    } else {
        ClosePort();
    }
}

void CustomComPort::Loaded() {
    Use use(*this);
    BaseComponent::Loaded();
    if (Designing()) return;
    if (openWhenLoaded_) open_ = true;
    if (!open_) return;
    openWhenLoaded_ = false;
    try {
        OpenPort();
    } catch (...) {
        open_ = false;
        Application::Instance().HandleCurrentException();
    }
}

BaseDispatcher* CustomComPort::CreateDispatcher() {
    // The serial layer is not part of this build.
    throw ENullApi(kErrNoDeviceLayer);
}

int32_t CustomComPort::OpenDevice() {
    // The serial form, as the slot of a port without a layer of its own:
    // this build has no serial layer (CreateDispatcher refused it already).
    return kErrNoDeviceLayer;
}

void CustomComPort::ValidatePortNumber() {
    if (comNumber_ != 0) return;
    // No port selection dialog in this build: asking is the same as a
    // cancelled selection.
    throw ENoPortSelected(kErrNoPortSelected);
}

void CustomComPort::OpenPort() {
    if (tapiMode_ != 2) ValidatePortNumber();
    dispatcher_ = CreateDispatcher();
    bool restored = false, notified = false;
    try {
        if (tapiMode_ == 2) CheckErrorCode(this, kErrNotOpenedByTapi);
        int32_t r = OpenDevice();
        if (r == -5) r = kErrAlreadyOpen;
        else if (r == -2 || r == -3) r = kErrBadId;
        if (r != 0) {
            CheckErrorCode(this, r);
            throw ECommException(r);  // a positive result (no layer gives one) fails the open too
        }
        Transition(psOpen);
        UpdateHandlerFlags();
        force_ = true;
        SetTracing(tracing_);
        SetLogging(logging_);
        SetHardwareFlow(hardwareFlow_);
        SetSoftwareFlow(softwareFlow_);
        SetXonChar(xonChar_);
        SetXoffChar(xoffChar_);
        SetTriggerLength(triggerLength_);
        SetDTR(dtr_);
        SetRTS(rts_);
        ApplyDeviceOption(false);
        SetRs485Mode(rs485Mode_);
        SetDispatchPriority(dispatchPriority_);
        force_ = false;
        open_ = true;
        SetPortWindow(true);
        if (triggersSaved_) {
            triggersSaved_ = false;
            dispatcher_->RestoreTriggers(savedTriggers_);
            restored = true;
        }
        notified = true;
        PortOpened();
    } catch (...) {
        force_ = false;
        open_ = false;
        if (notified) {
            // Those told of the open hear of its end, so that nothing stays
            // attached to the dispatcher that goes now.
            try {
                NotifyListCall(false);
            } catch (...) {
            }
        }
        if (restored && dispatcher_) {
            dispatcher_->SaveTriggers(savedTriggers_);
            triggersSaved_ = true;
        }
        Transition(psClosed);
        throw;
    }
}

void CustomComPort::Transition(PortState to) {
    // Into psClosed from wherever the port was: what the open made goes
    // first, the window (off the dispatcher), then the dispatcher.
    if (to == psClosed) {
        SetPortWindow(false);
        DestroyDispatcher();
    }
    state_ = to;
}

void CustomComPort::DestroyDispatcher() {
    BaseDispatcher* d = dispatcher_;
    dispatcher_ = nullptr;
    if (d) d->Destroy();
}

void CustomComPort::ClosePort() {
    open_ = false;
    if (state_ != psOpen) return;
    // The close goes through to its end whatever fails on the way; the
    // first failure is raised afterwards.
    std::exception_ptr failure;
    auto guarded = [&](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    guarded([&] { SetTracing(tlDump); });
    guarded([&] { SetLogging(tlDump); });
    Transition(psClosing);
    guarded([&] { PortClosing(); });
    if (dispatcher_) {
        dispatcher_->SaveTriggers(savedTriggers_);
        triggersSaved_ = true;
        dispatcher_->CloseDevice();
    }
    // Closed from inside the dispatcher's own delivery: it is released when
    // that ends, and its MsgPortDeferredClose ends the close then.
    if (!dispatcher_ || !dispatcher_->ClosePending()) Transition(psClosed);
    if (failure) std::rethrow_exception(failure);
}

void CustomComPort::FinishDeferredClose(BaseDispatcher* d) {
    // The dispatcher posts this once its release has run; a message for
    // another close (an earlier dispatcher) finds nothing to do.
    if (state_ != psClosing || d != dispatcher_ || !d->Ended()) return;
    Transition(psClosed);
    if (reopenPending_) {
        reopenPending_ = false;
        OpenPort();
    }
}

void CustomComPort::SetPortWindow(bool create) {
    if (create) {
        portWindow_.emplace(kPortWindowClass, this);
        // The dispatcher's trigger messages and the deferred close name the
        // dispatcher by its handle; the registry is locked while one is
        // handled, and a message for no dispatcher of this port is dropped.
        auto handleFor = [this](UINT msg) {
            return [this, msg](WPARAM wParam, LPARAM lParam) {
                DispatcherListLock lock;
                int32_t handle = static_cast<int32_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
                BaseDispatcher* d = BaseDispatcher::DispatcherAt(handle);
                if (!d || d->Owner() != this) return LRESULT(0);
                if (msg == MsgPortDeferredClose) FinishDeferredClose(d);
                else HandleTriggerMessage(msg, wParam, lParam);
                return LRESULT(0);
            };
        };
        for (UINT msg : {MsgTriggerAvail, MsgTriggerData, MsgTriggerTimer, MsgTriggerStatus, MsgPortDeferredClose})
            portWindow_->On(msg, handleFor(msg));
        if (dispatcher_) dispatcher_->AddWindowHandler(portWindow_->Handle());
        return;
    }
    if (dispatcher_ && portWindow_) dispatcher_->RemoveWindowHandler(portWindow_->Handle());
    portWindow_.reset();
}

void CustomComPort::NotifyListCall(bool opening) {
    std::vector<PortNotifyCallback> list = notifyList_;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->code) it->code(it->object, this, opening);
}

void CustomComPort::PortOpened() {
    NotifyListCall(true);
    if (OnPortOpen) OnPortOpen(this);
}

void CustomComPort::PortClosing() {
    NotifyListCall(false);
    if (OnPortClose) OnPortClose(this);
}

// ---- dispatcher access -------------------------------------------------

BaseDispatcher* CustomComPort::Dispatcher() {
    if (!dispatcher_ && !Designing() && !Loading() && state_ != psOpen && openOnDemand_) SetOpen(true);
    return dispatcher_;
}

BaseDispatcher* CustomComPort::ValidDispatcher() {
    BaseDispatcher* d = Dispatcher();
    if (!d) CheckErrorCode(this, kErrNotOpen);
    return d;
}

void CustomComPort::PutString(const std::string& text) {
    Use use(*this);  // opening on demand runs handlers
    if (state_ == psClosing) return;
    BaseDispatcher* d = ValidDispatcher();
    if (!d || text.empty()) return;
    CheckErrorCode(this, d->SendBlock(text.data(), static_cast<int32_t>(text.size())));
}

void CustomComPort::ServiceDevice() {
    Use use(*this);
    if (state_ == psClosing) return;
    if (BaseDispatcher* d = ValidDispatcher()) d->DevicePoll();
}

void CustomComPort::AddPortNotify(PortNotifyCallback callback) { notifyList_.push_back(callback); }

void CustomComPort::RemovePortNotify(PortNotifyCallback::Code code) {
    for (size_t i = notifyList_.size(); i-- > 0;)
        if (notifyList_[i].code == code) notifyList_.erase(notifyList_.begin() + static_cast<ptrdiff_t>(i));
}

uint16_t CustomComPort::LineError() {
    if (state_ != psOpen || !dispatcher_) return 0;
    return static_cast<uint16_t>(dispatcher_->TakeLineError());
}

bool CustomComPort::LineBreak() {
    if (state_ != psOpen || !dispatcher_) return false;
    return dispatcher_->TakeBreakFlag();
}

// ---- trigger events ----------------------------------------------------

void CustomComPort::HandleTriggerMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    uint16_t handle = static_cast<uint16_t>(wParam & 0xFFFF);
    uint16_t data = msg == MsgTriggerAvail ? handle : static_cast<uint16_t>(lParam & 0xFFFF);
    TriggerEvent(static_cast<uint16_t>(msg), handle, data);
    switch (msg) {
        case MsgTriggerAvail: AvailEvent(handle); break;
        case MsgTriggerData: DataTriggerEvent(handle); break;
        case MsgTriggerTimer: TimerTriggerEvent(handle); break;
        case MsgTriggerStatus:
            StatusTriggerEvent(handle);
            switch (BaseDispatcher::StatusKindOf(handle)) {
                case kStatusModem: ModemStatusEvent(); break;
                case kStatusLine: {
                    uint16_t error = LineError();
                    LineErrorEvent(error, LineBreak());
                    break;
                }
                case kStatusOutputFree: OutputFreeEvent(); break;
                case kStatusOutputUsed: OutputUsedEvent(); break;
                case kStatusOutputSent: OutputSentEvent(); break;
                default: break;
            }
            break;
        default: break;
    }
}

void CustomComPort::TriggerEvent(uint16_t msg, uint16_t triggerHandle, uint16_t data) {
    if (onAnyTrigger_) onAnyTrigger_(this, msg, triggerHandle, data);
}
void CustomComPort::AvailEvent(uint16_t count) {
    if (onDataAvailable_) onDataAvailable_(this, count);
}
void CustomComPort::DataTriggerEvent(uint16_t triggerHandle) {
    if (onDataTrigger_) onDataTrigger_(this, triggerHandle);
}
void CustomComPort::StatusTriggerEvent(uint16_t triggerHandle) {
    if (onStatusTrigger_) onStatusTrigger_(this, triggerHandle);
}
void CustomComPort::TimerTriggerEvent(uint16_t triggerHandle) {
    if (onTimerTrigger_) onTimerTrigger_(this, triggerHandle);
}
void CustomComPort::LineErrorEvent(uint16_t lineError, bool lineBreak) {
    if (OnLineError) OnLineError(this, lineError, lineBreak);
}
void CustomComPort::ModemStatusEvent() {
    if (OnModemStatus) OnModemStatus(this);
}
void CustomComPort::OutputFreeEvent() {
    if (OnOutputFree) OnOutputFree(this);
}
void CustomComPort::OutputUsedEvent() {
    if (OnOutputUsed) OnOutputUsed(this);
}
void CustomComPort::OutputSentEvent() {
    if (OnOutputSent) OnOutputSent(this);
}
void CustomComPort::SpareEvent(int32_t value) {
    if (OnSpare) OnSpare(this, value);
}

void CustomComPort::UpdateHandlerFlags() {
    if (state_ != psOpen || !dispatcher_) return;
    bool any = onAnyTrigger_ || onDataAvailable_ || onDataTrigger_ || onStatusTrigger_ || onTimerTrigger_ ||
               OnLineError || OnModemStatus || OnOutputFree || OnOutputUsed || OnOutputSent;
    dispatcher_->AdjustHandlerFlags(any ? hcPortHandlerOn : hcPortHandlerOff);
}

void CustomComPort::SetOnAnyTrigger(AnyTriggerEvent handler) {
    onAnyTrigger_ = std::move(handler);
    UpdateHandlerFlags();
}
void CustomComPort::SetOnDataAvailable(TriggerAvailEvent handler) {
    onDataAvailable_ = std::move(handler);
    UpdateHandlerFlags();
}
void CustomComPort::SetOnDataTrigger(TriggerHandleEvent handler) {
    onDataTrigger_ = std::move(handler);
    UpdateHandlerFlags();
}
void CustomComPort::SetOnStatusTrigger(TriggerHandleEvent handler) {
    onStatusTrigger_ = std::move(handler);
    UpdateHandlerFlags();
}
void CustomComPort::SetOnTimerTrigger(TriggerHandleEvent handler) {
    onTimerTrigger_ = std::move(handler);
    UpdateHandlerFlags();
}

// ---- trace and log switches --------------------------------------------

void CustomComPort::SetTracing(TraceLogState value) {
    if (value == tracing_ && !force_) return;
    if (state_ != psOpen || !dispatcher_) {
        tracing_ = (value == tlOff || value == tlOn) ? value : tlOff;
        return;
    }
    TraceLogState old = tracing_;
    bool running = old == tlOn || old == tlPause;
    BaseDispatcher* d = dispatcher_;
    switch (value) {
        case tlOff:
            if (running) d->StopTrace();
            tracing_ = tlOff;
            break;
        case tlOn:
            if (old == tlPause) d->ResumeTrace();
            else CheckErrorCode(this, d->StartTrace(static_cast<int32_t>(traceSize_)));
            tracing_ = tlOn;
            break;
        case tlDump:
        case tlAppend:
            if (running) {
                d->ResumeTrace();
                int32_t r = value == tlDump ? d->DumpTrace(traceName_, traceHex_, traceAllHex_)
                                            : d->AppendTrace(traceName_, traceHex_, traceAllHex_);
                tracing_ = tlOff;
                CheckErrorCode(this, r);
            }
            break;
        case tlClear:
            if (running) CheckErrorCode(this, d->ClearTrace());
            break;
        case tlPause:
            if (old == tlOn) {
                d->PauseTrace();
                tracing_ = tlPause;
            }
            break;
    }
}

void CustomComPort::SetLogging(TraceLogState value) {
    if (value == logging_ && !force_) return;
    if (state_ != psOpen || !dispatcher_) {
        logging_ = (value == tlOff || value == tlOn) ? value : tlOff;
        return;
    }
    TraceLogState old = logging_;
    bool running = old == tlOn || old == tlPause;
    BaseDispatcher* d = dispatcher_;
    switch (value) {
        case tlOff:
            if (running) d->StopLog();
            logging_ = tlOff;
            break;
        case tlOn:
            if (old == tlPause) d->ResumeLog();
            else d->StartLog(static_cast<int32_t>(logSize_));
            logging_ = tlOn;
            break;
        case tlDump:
        case tlAppend:
            if (running) {
                d->ResumeLog();
                int32_t r = value == tlDump ? d->DumpLog(logName_, logHex_, logAllHex_)
                                            : d->AppendLog(logName_, logHex_, logAllHex_);
                logging_ = tlOff;
                CheckErrorCode(this, r);
            }
            break;
        case tlClear:
            if (running) d->ClearLog();
            break;
        case tlPause:
            if (old == tlOn) {
                d->PauseLog();
                logging_ = tlPause;
            }
            break;
    }
}

void CustomComPort::SetTraceSize(uint32_t value) {
    if (value == traceSize_) return;
    traceSize_ = std::min(value, kMaxTraceSize);
    if (state_ == psOpen && dispatcher_ && (tracing_ == tlOn || tracing_ == tlPause)) {
        TraceLogState previous = tracing_;
        dispatcher_->StopTrace();
        tracing_ = tlOff;
        SetTracing(previous);
    }
}

void CustomComPort::SetLogSize(uint32_t value) {
    if (value == logSize_) return;
    logSize_ = std::min(value, kMaxLogSize);
    if (state_ == psOpen && dispatcher_ && (logging_ == tlOn || logging_ == tlPause)) {
        TraceLogState previous = logging_;
        dispatcher_->StopLog();
        logging_ = tlOff;
        SetLogging(previous);
    }
}

// ---- serial settings ---------------------------------------------------

void CustomComPort::DeriveFlowLevels(double stop, double resume) {
    if (flowStopLevel_ == 0 || flowStopLevel_ > inBufferSize_)
        flowStopLevel_ = static_cast<uint16_t>(std::lround(inBufferSize_ * stop));
    if (flowResumeLevel_ == 0 || flowResumeLevel_ > flowStopLevel_)
        flowResumeLevel_ = static_cast<uint16_t>(std::lround(inBufferSize_ * resume));
}

void CustomComPort::SetHardwareFlow(uint8_t value) {
    if (value == hardwareFlow_ && !force_) return;
    if (value != 0) DeriveFlowLevels(0.9, 0.1);
    if (value & (hfUseRTS | hfRequireCTS)) SetRs485Mode(false);
    if (state_ == psOpen && dispatcher_)
        CheckErrorCode(this, dispatcher_->ConfigHardwareFlow(flowStopLevel_, flowResumeLevel_, value));
    hardwareFlow_ = value;
}

void CustomComPort::SetSoftwareFlow(uint8_t value) {
    if (value == softwareFlow_ && !force_) return;
    if (value != 0) DeriveFlowLevels(0.75, 0.25);
    if (state_ == psOpen && dispatcher_) {
        if (value == swfNone) {
            CheckErrorCode(this, dispatcher_->StopSoftwareFlow());
        } else {
            uint32_t options = value == swfReceive ? 2 : value == swfTransmit ? 1 : 3;
            CheckErrorCode(this, dispatcher_->ConfigSoftwareFlow(flowStopLevel_, flowResumeLevel_, options));
        }
    }
    softwareFlow_ = value;
}

void CustomComPort::SetXonChar(uint8_t value) {
    if (value == xonChar_ && !force_) return;
    if (state_ == psOpen && dispatcher_) CheckErrorCode(this, dispatcher_->ChangeFlowChars(value, xoffChar_));
    xonChar_ = value;
}

void CustomComPort::SetXoffChar(uint8_t value) {
    if (value == xoffChar_ && !force_) return;
    if (state_ == psOpen && dispatcher_) CheckErrorCode(this, dispatcher_->ChangeFlowChars(xonChar_, value));
    xoffChar_ = value;
}

void CustomComPort::SetDTR(bool value) {
    if (value == dtr_ && !force_) return;
    if (state_ != psOpen || !dispatcher_) {
        dtr_ = value;
        return;
    }
    int32_t r = CheckErrorCode(this, dispatcher_->SetDtrLine(value));
    if (r == 0) dtr_ = value;
}

void CustomComPort::SetRTS(bool value) {
    if (value == rts_ && !force_) return;
    if (state_ != psOpen || !dispatcher_) {
        rts_ = value;
        return;
    }
    int32_t r = CheckErrorCode(this, dispatcher_->SetRtsLine(value));
    if (r == 0) rts_ = value;
}

void CustomComPort::SetRs485Mode(bool value) {
    if (value == rs485Mode_ && !force_) return;
    if (state_ == psOpen && dispatcher_) dispatcher_->SetRs485(value);
    rs485Mode_ = value;
    if (value) {
        hardwareFlow_ &= static_cast<uint8_t>(~(hfUseRTS | hfRequireCTS));
        SetRTS(false);
    }
}

void CustomComPort::SetDispatchPriority(uint8_t value) {
    if (value == dispatchPriority_ && !force_) return;
    if (state_ == psOpen && dispatcher_) dispatcher_->SetThreadBoost(value);
    dispatchPriority_ = value;
}

void CustomComPort::SetTriggerLength(uint16_t value) {
    if (value == triggerLength_ && !force_) return;
    if (state_ == psOpen && dispatcher_) dispatcher_->SetAvailThreshold(value);
    triggerLength_ = value;
}

void CustomComPort::SetComNumber(uint16_t value) {
    if (value == comNumber_) return;
    if (state_ != psOpen) {
        comNumber_ = value;
        return;
    }
    // Reopened on the new device with its triggers and recorder switches.
    Use use(*this);
    TriggerSaveArea triggers;
    dispatcher_->SaveTriggers(triggers);
    TraceLogState tracing = tracing_, logging = logging_;
    SetOpen(false);
    comNumber_ = value;
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (dispatcher_) dispatcher_->RestoreTriggers(triggers);
}

// ---- assign, search ----------------------------------------------------

void CustomComPort::Assign(const CustomComPort& source) {
    if (&source == this) return;
    notifyList_ = source.notifyList_;
    if (source.state_ == psOpen && source.dispatcher_) {
        source.dispatcher_->SaveTriggers(savedTriggers_);
        triggersSaved_ = true;
    }
    force_ = source.force_;
    deviceLayer_ = source.deviceLayer_;
    comNumber_ = source.comNumber_;
    baud_ = source.baud_;
    parity_ = source.parity_;
    dataBits_ = source.dataBits_;
    stopBits_ = source.stopBits_;
    inBufferSize_ = source.inBufferSize_;
    outBufferSize_ = source.outBufferSize_;
    openOnDemand_ = source.openOnDemand_;
    askForPort_ = source.askForPort_;
    rs485Mode_ = source.rs485Mode_;
    dispatchPriority_ = source.dispatchPriority_;
    dtr_ = source.dtr_;
    rts_ = source.rts_;
    flowStopLevel_ = source.flowStopLevel_;
    flowResumeLevel_ = source.flowResumeLevel_;
    hardwareFlow_ = source.hardwareFlow_;
    softwareFlow_ = source.softwareFlow_;
    xonChar_ = source.xonChar_;
    xoffChar_ = source.xoffChar_;
    tracing_ = source.tracing_;
    traceSize_ = source.traceSize_;
    traceName_ = source.traceName_;
    traceHex_ = source.traceHex_;
    traceAllHex_ = source.traceAllHex_;
    logging_ = source.logging_;
    logSize_ = source.logSize_;
    logName_ = source.logName_;
    logHex_ = source.logHex_;
    logAllHex_ = source.logAllHex_;
    triggerLength_ = source.triggerLength_;
    SetOnAnyTrigger(source.onAnyTrigger_);
    SetOnDataAvailable(source.onDataAvailable_);
    SetOnDataTrigger(source.onDataTrigger_);
    SetOnStatusTrigger(source.onStatusTrigger_);
    SetOnTimerTrigger(source.onTimerTrigger_);
    OnPortOpen = source.OnPortOpen;
    OnPortClose = source.OnPortClose;
    tapiMode_ = source.tapiMode_;
    open_ = false;
}

CustomComPort* CustomComPort::SearchForPort(Component* component) {
    if (!component) return nullptr;
    for (int i = 0; i < component->ComponentCount(); ++i) {
        Component* c = component->Components(i);
        if (auto* port = dynamic_cast<CustomComPort*>(c)) return port;
        if (CustomComPort* port = SearchForPort(c)) return port;
    }
    return nullptr;
}

// ---- published properties ----------------------------------------------

const PropertyTable& CustomComPort::StaticProperties() {
    static const std::vector<std::string> states = {"tlOff", "tlOn", "tlDump", "tlAppend", "tlClear", "tlPause"};
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        EnumProperty<CustomComPort, TraceLogState>("Tracing", states, &CustomComPort::Tracing, &CustomComPort::SetTracing),
        IntegerProperty<CustomComPort>("TraceSize", &CustomComPort::TraceSize, &CustomComPort::SetTraceSize),
        StringProperty<CustomComPort>("TraceName", &CustomComPort::TraceName, &CustomComPort::SetTraceName),
        BooleanProperty<CustomComPort>("TraceHex", &CustomComPort::TraceHex, &CustomComPort::SetTraceHex),
        EnumProperty<CustomComPort, TraceLogState>("Logging", states, &CustomComPort::Logging, &CustomComPort::SetLogging),
        IntegerProperty<CustomComPort>("LogSize", &CustomComPort::LogSize, &CustomComPort::SetLogSize),
        StringProperty<CustomComPort>("LogName", &CustomComPort::LogName, &CustomComPort::SetLogName),
        BooleanProperty<CustomComPort>("LogHex", &CustomComPort::LogHex, &CustomComPort::SetLogHex),
    });
    return table;
}

const PropertyTable& CustomComPort::Properties() const { return StaticProperties(); }

}  // namespace qv
