// Data packets: components that watch what a port receives and cut packets
// out of it (see packet_core.h for the matching). The packets of one port
// share a DataPacketManager, which takes the received bytes from the port's
// dispatcher as an event handler and keeps one timer trigger for the
// collecting time limit; the process-wide PacketManagers finds the manager
// of a port.
//
// Events run on the thread the dispatcher delivers on (the user-interface
// thread for the TCP port). A handler's exception is reported through the
// application's exception report and the delivery goes on.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "comms/base/comm_misc_core.h"
#include "comms/port/port.h"
#include "comms/port/packet_core.h"

namespace qv {

class DataPacketManager;

using PacketNotifyEvent = std::function<void(Object* Sender, const void* Data, int32_t Size)>;
using StringPacketNotifyEvent = std::function<void(Object* Sender, const std::string& Data)>;

class DataPacket : public BaseComponent, private PacketClient {
public:
    explicit DataPacket(Component* owner);
    ~DataPacket() override;
    std::string ClassName() const override { return "DataPacket"; }
    // Leaves its port while whole.
    void BeforeDestruction() override;

    PacketStartCond StartCond() const { return core_.Settings.StartCond; }
    void SetStartCond(PacketStartCond value) { core_.Settings.StartCond = value; }
    PacketEndSet EndCond() const { return core_.Settings.EndCond; }
    void SetEndCond(PacketEndSet value);  // re-arms an enabled packet
    const std::string& StartString() const { return core_.Settings.StartString; }
    void SetStartString(const std::string& value) { core_.Settings.StartString = value; }
    const std::string& EndString() const { return core_.Settings.EndString; }
    void SetEndString(const std::string& value);  // re-arms an enabled packet
    CustomComPort* ComPort() const { return comPort_; }
    void SetComPort(CustomComPort* value);
    int32_t PacketSize() const { return core_.Settings.PacketSize; }
    void SetPacketSize(int32_t value) { core_.Settings.PacketSize = value; }
    int32_t TimeOut() const { return core_.Settings.TimeOut; }
    void SetTimeOut(int32_t value) { core_.Settings.TimeOut = value; }
    bool AutoEnable() const { return core_.Settings.AutoEnable; }
    void SetAutoEnable(bool value) { core_.Settings.AutoEnable = value; }
    bool IgnoreCase() const { return core_.Settings.IgnoreCase; }
    void SetIgnoreCase(bool value) { core_.Settings.IgnoreCase = value; }
    bool IncludeStrings() const { return core_.Settings.IncludeStrings; }
    void SetIncludeStrings(bool value) { core_.Settings.IncludeStrings = value; }
    bool Enabled() const { return core_.Enabled(); }
    // Arms (may raise the arming errors -5501..-5505, leaving Enabled as
    // it was) or disarms.
    void SetEnabled(bool value);

    PacketNotifyEvent OnPacket;
    StringPacketNotifyEvent OnStringPacket;
    NotifyEvent OnTimeout;
    // Events through a dispatch thread's synchronised call when there is
    // one; this system's dispatcher has none.
    bool SyncEvents = true;

    DataPacketManager* Manager() const { return manager_; }
    PacketState MatchState() const { return core_.MatchState(); }
    int32_t PacketLength() const { return core_.PacketLength(); }
    const std::string& LogLabel() const { return logLabel_; }
    const PacketCore& Core() const { return core_; }

    void Loaded() override;
    void Notification(Component* component, Operation operation) override;

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;

private:
    friend class DataPacketManager;
    bool PacketDesigning() const override { return Designing(); }
    bool PacketLoading() const override { return Loading(); }
    void PacketFound(const uint8_t* data, int32_t length) override;
    void PacketTimedOut() override;
    std::string PacketLogLabel() const override { return logLabel_; }
    uint8_t GetEndCondBits() const { return core_.Settings.EndCond; }
    void SetEndCondBits(uint8_t value) { SetEndCond(value); }

    PacketCore core_{*this};
    CustomComPort* comPort_ = nullptr;
    DataPacketManager* manager_ = nullptr;
    std::string logLabel_;
};

// A manager lives as long as packets watch its port: the last one to go
// makes it leave the port at once and free itself (a Lifetime) when
// nothing of it runs any more.
class DataPacketManager : public Object, public Lifetime, private ManagerLink {
public:
    explicit DataPacketManager(CustomComPort* port);

    CustomComPort* Port() const { return port_; }
    bool HandlerInstalled() const { return handlerInstalled_; }
    bool Active() const { return core_.Active(); }
    int32_t TimerHandle() const { return timerHandle_; }
    bool ActivateWhenLoaded() const { return activateWhenLoaded_; }
    const PacketManagerCore& Core() const { return core_; }

    void AddPacket(DataPacket* packet);
    // Detaches a packet; the last one ends the manager (see above).
    void RemovePacket(DataPacket* packet);
    void ManagerLoaded();
    void SetActive(bool value);

    // The dispatcher's event handler.
    void DataHandler(UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    ~DataPacketManager() override;
    void Endgame() override { delete this; }

private:
    friend class DataPacket;
    // Out of the manager list and off the port (its handler, its timer, its
    // notify entry); once.
    void LeavePort();
    void PortNotify(CustomComPort* port, bool opening);
    bool LogOn() override;
    void Log(uint8_t subtype, const void* data, int32_t length) override;
    void StartCaptureTimer(int32_t ticks) override;
    void StopCaptureTimer() override;
    [[noreturn]] void RaisePacketError(int32_t code) override;
    void ReportArmingError(std::exception_ptr error) override;
    BaseDispatcher* PortDispatcher() const { return port_ ? port_->CurrentDispatcher() : nullptr; }
    DispatchMethod Handler() { return DispatchMethod::Bind<&DataPacketManager::DataHandler>(this); }

    PacketManagerCore core_{*this};
    std::vector<DataPacket*> packets_;  // attached, in attach order; not owned
    CustomComPort* port_;
    bool handlerInstalled_ = false;
    int32_t timerHandle_ = 0;
    bool activateWhenLoaded_ = false;
};

class DataPacketManagerList : public Object {
public:
    std::vector<DataPacketManager*> Managers;  // not owned
    void AddManager(DataPacketManager* m) { Managers.push_back(m); }
    void RemoveManager(DataPacketManager* m) { std::erase(Managers, m); }
    DataPacketManager* FindByPort(const CustomComPort* port) const;
};

// The process-wide manager list (created by the port layer's start-up).
extern DataPacketManagerList* PacketManagers;

}  // namespace qv
