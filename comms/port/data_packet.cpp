#include "comms/port/data_packet.h"

#include "comms/base/comm_errors.h"
#include "framework/application.h"

namespace qv {

DataPacketManagerList* PacketManagers = nullptr;

namespace {

// For catch blocks around a packet's handlers.
void ReportHandlerException() {
    if (Application::Instance().IsMainThread()) Application::Instance().HandleCurrentException();
}

DataPacketManagerList& ManagerList() {
    if (!PacketManagers) PacketManagers = new DataPacketManagerList;
    return *PacketManagers;
}

}  // namespace

// ---- packet ------------------------------------------------------------

DataPacket::DataPacket(Component* owner) : BaseComponent(owner) {
    if (Designing()) {
        SetComPort(CustomComPort::SearchForPort(owner));
        core_.SetEnabled(true);  // shown enabled; nothing is armed while designing
    }
}

// Detached while whole; the destructor does it again for a plain delete.
void DataPacket::BeforeDestruction() {
    SetComPort(nullptr);
    BaseComponent::BeforeDestruction();
}

DataPacket::~DataPacket() { SetComPort(nullptr); }

void DataPacket::SetEnabled(bool value) {
    // Disarming hands the capture on, which can deliver other packets,
    // whose handlers may free this one or the last packet of the manager.
    Use packet(*this);
    if (!manager_) {
        core_.SetEnabled(value);
        return;
    }
    Use manager(*manager_);
    core_.SetEnabled(value);
}

void DataPacket::SetEndString(const std::string& value) {
    bool was = Enabled();
    SetEnabled(false);
    core_.Settings.EndString = value;
    SetEnabled(was);
}

void DataPacket::SetEndCond(PacketEndSet value) {
    bool was = Enabled();
    SetEnabled(false);
    core_.Settings.EndCond = value & (kEndString | kEndPacketSize);
    SetEnabled(was);
}

void DataPacket::SetComPort(CustomComPort* value) {
    if (value == comPort_) return;
    Use use(*this);  // leaving a manager can deliver the others' packets
    if (manager_) manager_->RemovePacket(this);
    if (comPort_) RemoveFreeNotification(comPort_);
    comPort_ = nullptr;
    if (!value || Retiring()) return;  // freed meanwhile: it joins nothing
    comPort_ = value;
    FreeNotification(value);
    DataPacketManager* m = ManagerList().FindByPort(value);
    if (!m) m = new DataPacketManager(value);
    m->AddPacket(this);
}

void DataPacket::PacketFound(const uint8_t* data, int32_t length) {
    // The text is taken before any handler runs: a handler may close the
    // port, after which the bytes may no longer be where they were.
    std::string text(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    Use use(*this);
    try {
        if (OnPacket) OnPacket(this, data, length);
        // A packet freed by its packet event gets no string event.
        if (use.Alive() && !Retiring() && OnStringPacket) OnStringPacket(this, text);
    } catch (...) {
        ReportHandlerException();
    }
}

void DataPacket::PacketTimedOut() {
    Use use(*this);
    try {
        if (OnTimeout) OnTimeout(this);
    } catch (...) {
        ReportHandlerException();
    }
}

void DataPacket::Loaded() {
    BaseComponent::Loaded();
    logLabel_ = "Packet:" + Name();
    if (manager_) manager_->ManagerLoaded();
    Use use(*this);
    if (manager_) {
        Use manager(*manager_);
        core_.ArmIfPending();
    } else {
        core_.ArmIfPending();
    }
}

void DataPacket::Notification(Component* component, Operation operation) {
    BaseComponent::Notification(component, operation);
    if (operation == Operation::opRemove && component == comPort_) {
        SetComPort(nullptr);
    } else if (operation == Operation::opInsert && !comPort_) {
        if (auto* port = dynamic_cast<CustomComPort*>(component)) SetComPort(port);
    }
}

const PropertyTable& DataPacket::StaticProperties() {
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        EnumProperty<DataPacket, PacketStartCond>("StartCond", {"scString", "scAnyData"}, &DataPacket::StartCond,
                                                  &DataPacket::SetStartCond),
        SetProperty<DataPacket, uint8_t>("EndCond", {"ecString", "ecPacketSize"}, &DataPacket::GetEndCondBits,
                                         &DataPacket::SetEndCondBits),
        StringProperty<DataPacket>("StartString", &DataPacket::StartString, &DataPacket::SetStartString),
        StringProperty<DataPacket>("EndString", &DataPacket::EndString, &DataPacket::SetEndString),
        ReferenceProperty<DataPacket, CustomComPort>("ComPort", &DataPacket::ComPort, &DataPacket::SetComPort),
        IntegerProperty<DataPacket>("PacketSize", &DataPacket::PacketSize, &DataPacket::SetPacketSize),
        EventProperty<DataPacket>("OnPacket", &DataPacket::OnPacket),
        EventProperty<DataPacket>("OnStringPacket", &DataPacket::OnStringPacket),
        EventProperty<DataPacket>("OnTimeout", &DataPacket::OnTimeout),
        IntegerProperty<DataPacket>("TimeOut", &DataPacket::TimeOut, &DataPacket::SetTimeOut),
        BooleanProperty<DataPacket>("AutoEnable", &DataPacket::AutoEnable, &DataPacket::SetAutoEnable),
        BooleanProperty<DataPacket>("IgnoreCase", &DataPacket::IgnoreCase, &DataPacket::SetIgnoreCase),
        BooleanProperty<DataPacket>("Enabled", &DataPacket::Enabled, &DataPacket::SetEnabled),
        BooleanProperty<DataPacket>("IncludeStrings", &DataPacket::IncludeStrings, &DataPacket::SetIncludeStrings),
    });
    return table;
}

const PropertyTable& DataPacket::Properties() const { return StaticProperties(); }

// ---- manager -----------------------------------------------------------

DataPacketManager::DataPacketManager(CustomComPort* port) : port_(port) {
    port->AddPortNotify(PortNotifyCallback::Bind<&DataPacketManager::PortNotify>(this));
    ManagerList().AddManager(this);
    SetActive(port->Open() && !port->Loading() && !port->Designing());
    activateWhenLoaded_ = !port->Designing() && !core_.Active() && port->Open();
}

DataPacketManager::~DataPacketManager() {
    LeavePort();
    for (DataPacket* p : packets_) p->manager_ = nullptr;
}

void DataPacketManager::LeavePort() {
    if (PacketManagers) PacketManagers->RemoveManager(this);
    if (!port_) return;
    SetActive(false);
    port_->RemovePortNotify(PortNotifyCallback::Bind<&DataPacketManager::PortNotify>(this).code);
    port_ = nullptr;
}

void DataPacketManager::AddPacket(DataPacket* packet) {
    packets_.push_back(packet);
    packet->manager_ = this;
    core_.AddPacket(packet->core_);
}

void DataPacketManager::RemovePacket(DataPacket* packet) {
    Use use(*this);  // handing the capture on can run the others' handlers
    packet->manager_ = nullptr;
    std::erase(packets_, packet);
    core_.RemovePacket(packet->core_);
    if (!packets_.empty() || Retiring()) return;
    // The last packet has gone: the manager leaves its port and the list
    // now (no other packet can find it), and its memory goes when nothing
    // of it runs any more.
    LeavePort();
    Retire();
}

void DataPacketManager::ManagerLoaded() {
    if (!activateWhenLoaded_) return;
    SetActive(true);
    activateWhenLoaded_ = false;
}

void DataPacketManager::SetActive(bool value) {
    if (value) {
        if (!handlerInstalled_) {
            if (BaseDispatcher* d = PortDispatcher()) {
                d->AddEventHandler(Handler());
                timerHandle_ = d->AddTimerTrigger();
                handlerInstalled_ = true;
            }
        }
        core_.SetActive(true);
        return;
    }
    core_.SetActive(false);
    if (handlerInstalled_) {
        if (BaseDispatcher* d = PortDispatcher()) {
            d->RemoveTrigger(timerHandle_);
            d->RemoveEventHandler(Handler());
        }
        handlerInstalled_ = false;
    }
}

void DataPacketManager::PortNotify(CustomComPort*, bool opening) {
    Use use(*this);
    if (opening) {
        SetActive(true);
        core_.PortOpening();
    } else {
        core_.PortClosing();
        if (!Retiring()) SetActive(false);
    }
}

void DataPacketManager::DataHandler(UINT msg, WPARAM wParam, LPARAM) {
    Use use(*this);  // the packets' handlers may detach the last packet
    if (msg == MsgTriggerAvail) {
        BaseDispatcher* d = PortDispatcher();
        int32_t count = static_cast<int32_t>(wParam);
        if (!d || count <= 0) return;
        int32_t old = core_.BufferLength();
        uint8_t* at = core_.Reserve(count);
        core_.Commit(d->FetchBlock(at, count));  // a failed fetch adds nothing
        core_.Process(old);
    } else if (msg == MsgTriggerTimer && static_cast<int32_t>(wParam) == timerHandle_ && core_.CapturePacket()) {
        core_.CaptureTimerExpired();
    }
}

bool DataPacketManager::LogOn() {
    BaseDispatcher* d = PortDispatcher();
    return d && d->LoggingOn();
}

void DataPacketManager::Log(uint8_t subtype, const void* data, int32_t length) {
    if (BaseDispatcher* d = PortDispatcher()) d->AddLogEntry(kPacketLogType, subtype, length, data, 0);
}

void DataPacketManager::StartCaptureTimer(int32_t ticks) {
    BaseDispatcher* d = PortDispatcher();
    if (d && handlerInstalled_) d->SetTimerTrigger(timerHandle_, ticks, true);
}

void DataPacketManager::StopCaptureTimer() {
    BaseDispatcher* d = PortDispatcher();
    if (d && handlerInstalled_) CheckErrorCode(port_, d->SetTimerTrigger(timerHandle_, 0, false));
}

void DataPacketManager::RaisePacketError(int32_t code) { throw EInvalidProperty(code); }

void DataPacketManager::ReportArmingError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (...) {
        ReportHandlerException();
    }
}

DataPacketManager* DataPacketManagerList::FindByPort(const CustomComPort* port) const {
    for (DataPacketManager* m : Managers)
        if (m->Port() == port) return m;
    return nullptr;
}

}  // namespace qv
