#include "comms/port/comms_port_unit.h"

#include "comms/port/com_port.h"
#include "comms/port/data_packet.h"

namespace qv {

void InitializeCommsPort() {
    if (!PacketManagers) PacketManagers = new DataPacketManagerList;
    RegisterPortWindowClass();
}

void FinalizeCommsPort() {
    delete PacketManagers;
    PacketManagers = nullptr;
}

}  // namespace qv
