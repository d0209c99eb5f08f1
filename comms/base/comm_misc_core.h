// The platform-free half of the shared helpers: flag masks, tick timers
// (55 ms ticks), the root component of the communications components and the
// clean-up of operating-system message texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/component.h"

namespace qv {

// ---- flags ----
inline bool IsFlagSet(uint32_t flags, uint32_t mask) { return (flags & mask) != 0; }
inline void SetFlags(uint32_t& flags, uint32_t mask) { flags |= mask; }
inline void ClearFlags(uint32_t& flags, uint32_t mask) { flags &= ~mask; }

// ---- tick timers ----
inline constexpr uint32_t kMillisecondsPerTick = 55;
// The largest interval a timer accepts: 55 ms ticks in 2^31 - 1 milliseconds.
inline constexpr int32_t MaxTimerTicks = 39045157;
// Number of distinct tick values before the 32-bit millisecond clock wraps
// (ticks 0 .. 2^32 div 55).
inline constexpr int64_t kTicksPerClockWrap = (int64_t(1) << 32) / kMillisecondsPerTick + 1;

struct TickTimer {
    int32_t StartTicks = 0;
    int32_t ExpireTicks = 0;
};

inline int32_t TickOf(uint32_t milliseconds) { return static_cast<int32_t>(milliseconds / kMillisecondsPerTick); }

// The clock-free forms; the Win32 side supplies the current tick.
void StartTickTimerAt(TickTimer& timer, int32_t ticks, int32_t nowTick);
// True once more ticks than the interval have passed. A timer whose interval
// runs across the wrap of the 32-bit millisecond clock expires when its
// interval has passed too, not weeks later.
bool TickTimerExpiredAt(const TickTimer& timer, int32_t nowTick);

// ---- root component ----
class BaseComponent : public Component {
public:
    using Component::Component;
    // Always "v3.04"; writes are accepted and change nothing.
    std::string Version() const { return "v3.04"; }
    void SetVersion(const std::string&) {}

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;
};

// ---- message texts ----
// Every character below 32 becomes a blank; then, while two blanks stand
// together, the first of the first pair is deleted.
std::string CleanSystemMessage(std::string_view text);

// Replaces the first "%d" or "%s" placeholder of a table text with the
// argument. Table texts are data, never a printf format.
std::string FillPlaceholder(std::string_view text, std::string_view argument);

}  // namespace qv
