// Start-up and shut-down of the shared communications helpers: the clock is
// calibrated first, then ReaderStrings and ErrorStrings are opened from the
// program's own module; shut-down closes them in reverse order.
#pragma once

namespace qv {

// Raises EStringResourceError when a table cannot be opened.
void InitializeCommsBase();
void FinalizeCommsBase();

// RAII form for program entries and test mains.
class CommsBaseUnit {
public:
    CommsBaseUnit() { InitializeCommsBase(); }
    ~CommsBaseUnit() { FinalizeCommsBase(); }
    CommsBaseUnit(const CommsBaseUnit&) = delete;
    CommsBaseUnit& operator=(const CommsBaseUnit&) = delete;
};

}  // namespace qv
