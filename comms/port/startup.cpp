#include "comms/port/startup.h"

#include "comms/port/port.h"
#include "comms/port/data_packet.h"
#include "comms/port/winsock_port.h"
#include "framework/form_reader.h"

namespace qv {

void InitializeCommsPort() {
    if (!PacketManagers) PacketManagers = new DataPacketManagerList;
    RegisterPortWindowClass();
    RegisterComponentClass<CustomComPort>("CustomComPort");
    RegisterComponentClass<CustomWinsockPort>("CustomWinsockPort");
    RegisterComponentClass<DataPacket>("DataPacket");
}

void FinalizeCommsPort() {
    delete PacketManagers;
    PacketManagers = nullptr;
}

}  // namespace qv
