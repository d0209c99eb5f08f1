// Start-up and shut-down of the port layer, for program entries and test
// mains (after CommsBaseUnit and CommsDispatchUnit): the packet manager
// list PacketManagers is created at start-up and freed at shut-down.
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
