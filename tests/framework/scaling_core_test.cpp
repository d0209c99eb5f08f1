// The arithmetic of display scaling: rounding as Win32's MulDiv rounds,
// rectangles scaled by their edges (neighbours keep touching, nothing comes
// to overlap, every size within a pixel of exact), and text sizes taken
// back to layout units so that their controls never cut them off.
#include "framework/scaling_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace qv {
namespace {

// The DPIs of the display scalings Windows offers (100 % to 300 %), and
// one that is no multiple of anything.
constexpr int kDpis[] = {96, 120, 144, 168, 192, 240, 288, 101};

TEST(ScalingCore, ValuesRoundToNearestWithHalvesAwayFromZero) {
    struct Case {
        int v, to, from, expected;
    } cases[] = {
        {16, 144, 96, 24},  {33, 144, 96, 50},  {137, 144, 96, 206}, {-3, 144, 96, -5},
        {0, 144, 96, 0},    {506, 144, 96, 759}, {334, 144, 96, 501}, {11, 120, 96, 14},
        {759, 96, 144, 506}, {1, 96, 144, 1},   {-1, 96, 192, -1},   {7, 96, 96, 7},
        {2147483647 / 3, 3, 1, 2147483646},
    };
    for (const Case& c : cases) EXPECT_EQ(ScaleValue(c.v, c.to, c.from), c.expected) << c.v << " " << c.to << "/" << c.from;
}

TEST(ScalingCore, SpansKeepTouchingNeverOverlapAndStayWithinAPixel) {
    for (int dpi : kDpis) {
        for (int start = -20; start <= 120; ++start) {
            for (int size = 0; size <= 60; ++size) {
                Span a = ScaleSpan({start, size}, dpi, kDesignDpi);
                double exact = size * static_cast<double>(dpi) / kDesignDpi;
                ASSERT_LE(std::fabs(a.size - exact), 1.0) << dpi << " " << start << " " << size;
                ASSERT_NEAR(a.start, start * static_cast<double>(dpi) / kDesignDpi, 0.5);
                // The neighbour that starts where this span ends starts
                // where the scaled span ends; one a pixel further on never
                // overlaps it.
                Span touching = ScaleSpan({start + size, 5}, dpi, kDesignDpi);
                Span apart = ScaleSpan({start + size + 1, 5}, dpi, kDesignDpi);
                ASSERT_EQ(touching.start, a.start + a.size) << dpi << " " << start << " " << size;
                ASSERT_GE(apart.start, a.start + a.size) << dpi << " " << start << " " << size;
            }
        }
    }
}

TEST(ScalingCore, ADesignSizeScaledAndBackIsItself) {
    // Moving a window to another monitor and back gives its layout back
    // exactly: the layout units are kept, and only they are scaled.
    for (int dpi : kDpis)
        for (int v = -50; v <= 1000; ++v) ASSERT_EQ(ScaleValue(ScaleValue(v, dpi, kDesignDpi), kDesignDpi, dpi), v) << dpi;
}

TEST(ScalingCore, ATextSizeTakenBackNeverShrinksWhereverItsControlStarts) {
    for (int dpi : kDpis) {
        for (int device = 0; device <= 400; ++device) {
            int layout = UnscaleSizeUp(device, dpi, kDesignDpi);
            // The least such layout size: one less would cut the text off.
            if (device > 0) {
                ASSERT_LT((layout - 1) * dpi, device * kDesignDpi) << dpi << " " << device;
            }
            for (int start = -10; start <= 40; ++start)
                ASSERT_GE(ScaleSpan({start, layout}, dpi, kDesignDpi).size, device) << dpi << " " << device << " " << start;
        }
    }
}

}  // namespace
}  // namespace qv
