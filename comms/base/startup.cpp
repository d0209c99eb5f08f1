#include "comms/base/startup.h"

#include "comms/base/comm_misc.h"
#include "comms/base/string_resource.h"

namespace qv {

void InitializeCommsBase() {
    CalibrateMillisecondClock();
    HMODULE self = GetModuleHandleW(nullptr);
    if (!ReaderStrings) ReaderStrings = new StringResource(self, "STRTABLE_STRINGS");
    if (!ErrorStrings) ErrorStrings = new StringResource(self, "COMMS_ERROR_STRINGS_ENGLISH");
}

void FinalizeCommsBase() {
    delete ErrorStrings;
    ErrorStrings = nullptr;
    delete ReaderStrings;
    ReaderStrings = nullptr;
}

}  // namespace qv
