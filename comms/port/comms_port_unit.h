// Start-up and shut-down of the port layer, for program entries and test
// mains (after CommsBaseUnit and CommsDispatchUnit): start-up creates the
// packet manager list PacketManagers and makes the component classes of
// this layer known to form resources by name (CustomComPort,
// CustomWinsockPort, DataPacket); shut-down frees the list.
#pragma once

namespace qv {

void InitializeCommsPort();
void FinalizeCommsPort();

class CommsPortUnit {
public:
    CommsPortUnit() { InitializeCommsPort(); }
    ~CommsPortUnit() { FinalizeCommsPort(); }
    CommsPortUnit(const CommsPortUnit&) = delete;
    CommsPortUnit& operator=(const CommsPortUnit&) = delete;
};

}  // namespace qv
