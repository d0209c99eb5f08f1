#include "comms/base/comm_misc_core.h"

#include <gtest/gtest.h>

#include "framework/properties.h"

namespace qv {
namespace {

TEST(TickTimer, StartCapsTheIntervalAtMaxTimerTicks) {
    TickTimer t;
    StartTickTimerAt(t, 39045158, 1000);
    EXPECT_EQ(t.StartTicks, 1000);
    EXPECT_EQ(t.ExpireTicks, 1000 + 39045157);
    StartTickTimerAt(t, 18, 1000);
    EXPECT_EQ(t.ExpireTicks, 1018);
}

TEST(TickTimer, ExpiresOnlyAfterItsInterval) {
    TickTimer t;
    StartTickTimerAt(t, 5, 100);
    struct Case {
        int32_t now;
        bool expired;
    } cases[] = {{100, false}, {104, false}, {105, false}, {106, true}, {5000, true}};
    for (const Case& c : cases) EXPECT_EQ(TickTimerExpiredAt(t, c.now), c.expired) << c.now;
}

TEST(TickTimer, AnIntervalAcrossTheClockWrapEndsOnTime) {
    // The last tick before the 32-bit millisecond clock wraps, and a timer of
    // 20 ticks started 5 ticks before it.
    const int32_t lastTick = static_cast<int32_t>(kTicksPerClockWrap - 1);
    TickTimer t;
    StartTickTimerAt(t, 20, lastTick - 5);
    EXPECT_FALSE(TickTimerExpiredAt(t, lastTick));
    EXPECT_FALSE(TickTimerExpiredAt(t, 0));    // 6 ticks passed
    EXPECT_FALSE(TickTimerExpiredAt(t, 13));   // 19 ticks passed
    EXPECT_FALSE(TickTimerExpiredAt(t, 14));   // 20 ticks passed
    EXPECT_TRUE(TickTimerExpiredAt(t, 15));    // 21: over, not weeks later
    EXPECT_TRUE(TickTimerExpiredAt(t, 1000));
}

TEST(Flags, SetClearAndTest) {
    uint32_t flags = 0;
    SetFlags(flags, 0x81);
    EXPECT_TRUE(IsFlagSet(flags, 0x80));
    EXPECT_FALSE(IsFlagSet(flags, 0x02));
    ClearFlags(flags, 0x80);
    EXPECT_EQ(flags, 0x01u);
}

TEST(BaseComponent, VersionIgnoresWrites) {
    BaseComponent c;
    EXPECT_EQ(GetStrProp(c, "Version"), "v3.04");
    SetStrProp(c, "Version", "v9.99");
    EXPECT_EQ(c.Version(), "v3.04");
}

TEST(MessageText, CleanSystemMessage) {
    EXPECT_EQ(CleanSystemMessage("The parameter is incorrect.\r\n"), "The parameter is incorrect. ");
    EXPECT_EQ(CleanSystemMessage("a\t\tb   c"), "a b c");
    EXPECT_EQ(CleanSystemMessage(""), "");
}

TEST(MessageText, FillPlaceholderTakesTheFirstOnly) {
    EXPECT_EQ(FillPlaceholder("String not found: %d", "42"), "String not found: 42");
    EXPECT_EQ(FillPlaceholder("Winsock not initialized - %s", "%d"), "Winsock not initialized - %d");
    EXPECT_EQ(FillPlaceholder("no placeholder", "x"), "no placeholder");
}

}  // namespace
}  // namespace qv
