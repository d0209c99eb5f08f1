// The former name of comms/dispatch/startup.h, kept only until the program
// entry, the benchmark and the application and FTP client tests include
// that one; do not include it in new code.
#pragma once

#include "comms/dispatch/startup.h"

namespace qv {
using CommsDispatchUnit = CommsDispatchStartup;
}  // namespace qv
