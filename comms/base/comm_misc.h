// Shared helpers on Win32: the millisecond clock, tick timers on it, the
// one-message pump, the tick delay and the file test (framework/files.h).
#pragma once

#include <cstdint>

#include "comms/base/comm_misc_core.h"
#include "framework/files.h"

namespace qv {

// Calibration of the high-resolution counter, made once at start-up
// (InitializeCommsBase); 0 when no usable counter exists and the multimedia
// millisecond timer serves instead.
extern uint32_t TicksPerMillisecond;
// Derives TicksPerMillisecond from a counter frequency (counts per second):
// low 32 bits div 1000, rounded up when the remainder exceeds 500; 0 when the
// frequency does not fit 32 bits or is 0.
uint32_t CalibrationForFrequency(int64_t frequency);
void CalibrateMillisecondClock();

// Milliseconds from an arbitrary origin, wrapping at 2^32.
uint32_t MillisecondClock();
inline int32_t CurrentTick() { return TickOf(MillisecondClock()); }

void StartTickTimer(TickTimer& timer, int32_t ticks);
bool TickTimerExpired(const TickTimer& timer);

// The comms layer's names for the framework's nested wait
// (framework/nested_wait.h).
//
// Handles at most one pending message of the calling thread. Returns 0 when
// none was pending; otherwise (low 16 bits of its window) * 65536 + low 16
// bits of its message number. A quit request (18) is posted again so the main
// loop still ends, and yields exactly 18.
uint32_t PumpOneMessage();
// Waits min(ticks, MaxTimerTicks) ticks, pumping one message per turn when
// pump is set; stops early (returning 18) when a quit request is seen.
// Returns what the last turn's pump returned.
uint32_t DelayTicks(int32_t ticks, bool pump);

}  // namespace qv
