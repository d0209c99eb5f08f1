// Start-up and shut-down of the socket and dispatcher layer, for program
// entries and test mains (after the CommsBaseUnit, whose message tables it
// uses):
//   start-up: the socket entry table is cleared, the dispatchers' window
//   class "commDispatch" is registered and the process-wide DeviceSocket
//   is created (which loads and starts the socket library; a failure there
//   is kept in its StartupError and raised by its first operation);
//   shut-down: DeviceSocket is destroyed, the class unregistered and the
//   socket library freed.
#pragma once

namespace qv {

void InitializeCommsDispatch();
void FinalizeCommsDispatch();

class CommsDispatchUnit {
public:
    CommsDispatchUnit() { InitializeCommsDispatch(); }
    ~CommsDispatchUnit() { FinalizeCommsDispatch(); }
    CommsDispatchUnit(const CommsDispatchUnit&) = delete;
    CommsDispatchUnit& operator=(const CommsDispatchUnit&) = delete;
};

}  // namespace qv
