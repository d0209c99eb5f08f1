// Display scaling arithmetic: layout units (pixels at a form's design DPI,
// 96 unless the form says otherwise) to device pixels at the DPI of the
// monitor the form is on, and back. Portable; the Win32 side that asks the
// system for its DPI is scaling.h.
#pragma once

namespace qv {

inline constexpr int kDesignDpi = 96;

// v * to / from, rounded to the nearest integer, halves away from zero
// (the rounding of Win32's MulDiv, so that both sides agree).
int ScaleValue(int v, int to, int from);

// A run of pixels [start, start + size) on one axis.
struct Span {
    int start = 0;
    int size = 0;
    bool operator==(const Span&) const = default;
};

// A span scaled by its two edges rather than by its start and its size:
// spans that touch at design size still touch when scaled, and spans that
// do not overlap never come to overlap through rounding. Each edge is
// within half a pixel of its exact place, so the size within one pixel.
Span ScaleSpan(Span design, int to, int from);

// A device size (a text measured in the device's pixels) in layout units,
// rounded up: scaled back as the size of a span, wherever that span
// starts, it is never smaller than the device size it came from, so a
// control sized to its text never cuts the text off.
int UnscaleSizeUp(int deviceSize, int to, int from);

}  // namespace qv
