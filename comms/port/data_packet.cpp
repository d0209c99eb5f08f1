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

// A port is being destroyed: its managers must not ask it for anything.
void ForgetPort(CustomComPort* port) {
    if (!PacketManagers) return;
    std::vector<DataPacketManager*> managers = PacketManagers->Managers;
    for (DataPacketManager* m : managers)
        if (m->Port() == port) m->PortGone();
}

DataPacketManagerList& ManagerList() {
    if (!PacketManagers) PacketManagers = new DataPacketManagerList;
    CustomComPort::PortDestroyingHook = &ForgetPort;
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

DataPacket::~DataPacket() { SetComPort(nullptr); }

void DataPacket::SetEnabled(bool value) {
    if (!manager_) {
        core_.SetEnabled(value);
        return;
    }
    DataPacketManager::Use use(*manager_);
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
    if (manager_) manager_->RemovePacket(this);
    if (comPort_) RemoveFreeNotification(comPort_);
    comPort_ = value;
    if (!value) return;
    FreeNotification(value);
    DataPacketManager* m = ManagerList().FindByPort(value);
    if (!m) m = new DataPacketManager(value);
    m->AddPacket(this);
}

void DataPacket::PacketFound(const uint8_t* data, int32_t length) {
    // The text is taken before any handler runs: a handler may close the
    // port, after which the bytes may no longer be where they were.
    std::string text(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    try {
        if (OnPacket) OnPacket(this, data, length);
        if (OnStringPacket) OnStringPacket(this, text);
    } catch (...) {
        ReportHandlerException();
    }
}

void DataPacket::PacketTimedOut() {
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
    if (manager_) {
        DataPacketManager::Use use(*manager_);
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

DataPacketManager::Use::~Use() {
    if (--m_.uses_ == 0 && m_.destroyWhenUnused_ && m_.packets_.empty()) delete &m_;
}

DataPacketManager::DataPacketManager(CustomComPort* port) : port_(port) {
    port->AddPortNotify(PortNotifyCallback::Bind<&DataPacketManager::PortNotify>(this));
    ManagerList().AddManager(this);
    SetActive(port->Open() && !port->Loading() && !port->Designing());
    activateWhenLoaded_ = !port->Designing() && !core_.Active() && port->Open();
}

DataPacketManager::~DataPacketManager() {
    if (PacketManagers) PacketManagers->RemoveManager(this);
    SetActive(false);
    if (port_) port_->RemovePortNotify(PortNotifyCallback::Bind<&DataPacketManager::PortNotify>(this).code);
    for (DataPacket* p : packets_) p->manager_ = nullptr;
}

void DataPacketManager::AddPacket(DataPacket* packet) {
    destroyWhenUnused_ = false;  // a packet came back before the manager went
    packets_.push_back(packet);
    packet->manager_ = this;
    core_.AddPacket(packet->core_);
}

void DataPacketManager::RemovePacket(DataPacket* packet) {
    {
        Use use(*this);
        destroyWhenUnused_ = false;
        packet->manager_ = nullptr;
        core_.RemovePacket(packet->core_);
        std::erase(packets_, packet);
        if (!packets_.empty()) return;
        destroyWhenUnused_ = true;  // goes as soon as nothing of it runs
    }
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
        SetActive(false);
    }
}

void DataPacketManager::PortGone() {
    Use use(*this);
    SetActive(false);
    port_ = nullptr;
}

void DataPacketManager::DataHandler(UINT msg, WPARAM wParam, LPARAM) {
    Use use(*this);
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
