// Start-up and shut-down of the port layer, for program entries and test
// mains (after CommsBaseStartup and CommsDispatchStartup): start-up creates
// the packet manager list PacketManagers, registers the port window class
// and makes the component classes of this layer known to form resources by
// name (CustomComPort, CustomWinsockPort, DataPacket); shut-down frees the
// list.
#pragma once

#include "framework/startup_scope.h"

namespace qv {

void InitializeCommsPort();
void FinalizeCommsPort();

// The start-up and shut-down as one object, for program entries and test
// mains.
using CommsPortStartup = StartupScope<&InitializeCommsPort, &FinalizeCommsPort>;

}  // namespace qv
