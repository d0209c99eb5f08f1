#include "comms/base/comm_misc_core.h"

#include <algorithm>

namespace qv {

void StartTickTimerAt(TickTimer& timer, int32_t ticks, int32_t nowTick) {
    timer.StartTicks = nowTick;
    timer.ExpireTicks = nowTick + std::min(ticks, MaxTimerTicks);
}

bool TickTimerExpiredAt(const TickTimer& timer, int32_t nowTick) {
    if (nowTick > timer.ExpireTicks) return true;
    if (nowTick < timer.StartTicks) {
        // The millisecond clock wrapped since the start: count the ticks up
        // to the wrap and after it.
        int64_t elapsed = (kTicksPerClockWrap - timer.StartTicks) + nowTick;
        return elapsed > int64_t(timer.ExpireTicks) - timer.StartTicks;
    }
    return false;
}

const PropertyTable& BaseComponent::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        StringProperty<BaseComponent>("Version", &BaseComponent::Version, &BaseComponent::SetVersion),
    });
    return table;
}

const PropertyTable& BaseComponent::Properties() const { return StaticProperties(); }

std::string CleanSystemMessage(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    for (size_t p; (p = s.find("  ")) != std::string::npos;) s.erase(p, 1);
    return s;
}

std::string FillPlaceholder(std::string_view text, std::string_view argument) {
    std::string s(text);
    size_t d = s.find("%d"), t = s.find("%s");
    size_t p = std::min(d, t);
    if (p != std::string::npos) s.replace(p, 2, argument);
    return s;
}

}  // namespace qv
