#include "comms/ftp/ftp_read_pacer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {
namespace {

constexpr uint32_t kHold = FtpReadPacer::kHoldMs;
constexpr uint32_t kMaxRest = FtpReadPacer::kMaxRestMs;

// One step of a pacing scenario: a read notification, or a pace timer
// (with other timers still queued behind it or not), at a time relative to
// the start, and what the pacer must answer (read now / the rest ended).
struct Step {
    enum Kind { Read, Pace, PaceOthersWaiting } kind;
    uint32_t at;
    bool expected;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    uint32_t rests;
    uint32_t restedMs;
};

void Play(const Scenario& s, uint32_t start) {
    FtpReadPacer pacer;
    pacer.Start(start);
    for (size_t i = 0; i < s.steps.size(); ++i) {
        const Step& step = s.steps[i];
        uint32_t now = start + step.at;
        bool got = step.kind == Step::Read ? pacer.ReadNow(now)
                                           : pacer.PaceTimer(now, step.kind == Step::PaceOthersWaiting);
        EXPECT_EQ(got, step.expected) << s.name << ", step " << i << " at +" << step.at << " ms";
    }
    EXPECT_EQ(pacer.Rests(), s.rests) << s.name;
    EXPECT_EQ(pacer.RestedMs(), s.restedMs) << s.name;
}

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> all{
        {"pace timers keep coming: every notification reads",
         {{Step::Read, 0, true}, {Step::Read, 5, true}, {Step::Pace, 10, false}, {Step::Read, 20, true},
          {Step::Pace, 20, false}, {Step::Read, 20 + kHold - 1, true}},
         0, 0},
        {"no pace timer for the hold: rest until one comes, then read once",
         {{Step::Read, 1, true}, {Step::Read, kHold - 1, true}, {Step::Read, kHold, false},
          // Notifications queued behind the rest are skipped.
          {Step::Read, kHold + 1, false}, {Step::Read, kHold + 2, false}, {Step::Pace, kHold + 4, true},
          // The hold counts afresh from that pace timer.
          {Step::Read, kHold + 5, true}, {Step::Read, 2 * kHold + 3, true}},
         1, 4},
        {"other timers behind the pace timer: the rest goes on for them",
         {{Step::Read, kHold + 2, false}, {Step::PaceOthersWaiting, kHold + 3, false}, {Step::Read, kHold + 4, false},
          {Step::Pace, kHold + 12, true}, {Step::Read, kHold + 13, true}},
         1, 10},
        {"a rest lasts at most its limit, whatever keeps waiting",
         {{Step::Read, kHold, false}, {Step::PaceOthersWaiting, kHold + kMaxRest - 1, false},
          {Step::PaceOthersWaiting, kHold + kMaxRest, true}, {Step::Read, kHold + kMaxRest + 1, true}},
         1, kMaxRest},
        {"a pace timer outside a rest ends nothing",
         {{Step::PaceOthersWaiting, 3, false}, {Step::Pace, 6, false}, {Step::Read, 7, true}}, 0, 0},
        {"two rests in one transfer",
         {{Step::Read, kHold, false}, {Step::Pace, kHold + 1, true}, {Step::Read, 2 * kHold, true},
          {Step::Read, 2 * kHold + 1, false}, {Step::Pace, 2 * kHold + 3, true}},
         2, 3},
    };
    return all;
}

TEST(FtpReadPacer, Scenarios) {
    for (const Scenario& s : Scenarios()) Play(s, 1000);
}

TEST(FtpReadPacer, ScenariosAcrossTheClockWrap) {
    // The millisecond count wraps after 49.7 days; a transfer running then
    // is paced the same.
    for (const Scenario& s : Scenarios()) Play(s, UINT32_MAX - 10);
}

TEST(FtpReadPacer, StartEndsARestAndClearsTheCounts) {
    FtpReadPacer pacer;
    pacer.Start(0);
    EXPECT_FALSE(pacer.ReadNow(kHold));
    EXPECT_TRUE(pacer.Resting());
    EXPECT_TRUE(pacer.PaceTimer(kHold + 2, false));
    EXPECT_FALSE(pacer.ReadNow(3 * kHold));
    // The next transfer, while the last one was resting.
    pacer.Start(5000);
    EXPECT_FALSE(pacer.Resting());
    EXPECT_EQ(pacer.Rests(), 0u);
    EXPECT_EQ(pacer.RestedMs(), 0u);
    EXPECT_TRUE(pacer.ReadNow(5000 + kHold - 1));
}

}  // namespace
}  // namespace qv
