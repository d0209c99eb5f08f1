#include "framework/scaling_core.h"

#include <cstdint>

namespace qv {

int ScaleValue(int v, int to, int from) {
    if (from <= 0 || to == from) return v;
    const int64_t product = static_cast<int64_t>(v) * to;
    const int64_t half = from / 2;
    // Integer division truncates towards zero: move the product half a
    // divisor away from zero first.
    const int64_t rounded = product >= 0 ? (product + half) / from : (product - half) / from;
    return static_cast<int>(rounded);
}

Span ScaleSpan(Span design, int to, int from) {
    const int start = ScaleValue(design.start, to, from);
    const int end = ScaleValue(design.start + design.size, to, from);
    return {start, end - start};
}

int UnscaleSizeUp(int deviceSize, int to, int from) {
    if (to <= 0 || to == from || deviceSize <= 0) return deviceSize;
    // The smallest layout size s with s * to / from >= deviceSize: its
    // scaled span is then at least deviceSize wide, since the rounding of
    // both edges moves them by the same whole number when the exact size
    // is a whole number, and never shrinks a larger one below it.
    const int64_t numerator = static_cast<int64_t>(deviceSize) * from;
    return static_cast<int>((numerator + to - 1) / to);
}

}  // namespace qv
