#include "comms/dispatch/startup.h"

#include "comms/dispatch/socket_binding.h"
#include "comms/dispatch/winsock_dispatcher.h"

namespace qv {

void InitializeCommsDispatch() {
    ClearSocketEntryTable();
    RegisterDispatchWindowClass();
    CreateDeviceSocket();
}

void FinalizeCommsDispatch() {
    DestroyDeviceSocket();
    UnregisterDispatchWindowClass();
    ReleaseSocketLibrary();
}

}  // namespace qv
