// Start-up and shut-down of the socket and dispatcher layer, for program
// entries and test mains (after the CommsBaseStartup, whose message tables it
// uses):
//   start-up: the socket entry table is cleared, the dispatchers' window
//   class "commDispatch" is registered and the process-wide DeviceSocket
//   is created (which loads and starts the socket library; a failure there
//   is kept in its StartupError and raised by its first operation);
//   shut-down: DeviceSocket is destroyed, the class unregistered and the
//   socket library freed.
#pragma once

#include "framework/startup_scope.h"

namespace qv {

void InitializeCommsDispatch();
void FinalizeCommsDispatch();

// The start-up and shut-down as one object, for program entries and test
// mains.
using CommsDispatchStartup = StartupScope<&InitializeCommsDispatch, &FinalizeCommsDispatch>;

}  // namespace qv
