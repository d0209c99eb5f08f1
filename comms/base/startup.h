// Start-up and shut-down of the shared communications helpers: the clock is
// calibrated first, then ReaderStrings and ErrorStrings are opened from the
// program's own module; shut-down closes them in reverse order.
#pragma once

#include "framework/startup_scope.h"

namespace qv {

// Raises EStringResourceError when a table cannot be opened.
void InitializeCommsBase();
void FinalizeCommsBase();

// The start-up and shut-down as one object, for program entries and test
// mains.
using CommsBaseStartup = StartupScope<&InitializeCommsBase, &FinalizeCommsBase>;

}  // namespace qv
