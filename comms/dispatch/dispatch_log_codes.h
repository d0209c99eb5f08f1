// The dispatch log's vocabulary as the dispatcher writes it: record types
// and subtypes (their names are the message-table texts 15001 + type and
// 15100 + subtype).
#pragma once

#include <cstdint>

namespace qv::dispatch_log {

enum : uint8_t {
    ltDispatch = 1, ltTrigger = 2, ltError = 3, ltTrigAlloc = 5, ltTrigDispose = 6, ltHandlerAlloc = 7,
    ltHandlerDispose = 8, ltTriggerChange = 9,
};
enum : uint8_t {
    lsReadCom = 1, lsWriteCom = 2, lsAvail = 5, lsTimer = 6, lsData = 7, lsStatus = 8, lsTimerTrig = 14,
    lsStatusTrig = 15, lsAvailTrig = 16, lsWindow = 17, lsProcedure = 18, lsMethod = 19,
};

}  // namespace qv::dispatch_log
