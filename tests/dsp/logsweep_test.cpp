// The log sweep's parameter check: which bands it lets through and which it refuses,
// with the rule each breaks; among them the values that once crashed or returned an
// empty table, and bands too narrow to be read within the usual accuracy.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/logsweep.h"

namespace sonvera {
namespace {

struct BandRow {
    double fromHz;
    double toHz;
    double seconds;
    int rateHz;
    LogSweepParamError expected;
};

TEST(LogSweepParams, BandsAreAcceptedOrRefusedWithTheRuleTheyBreak)
{
    using E = LogSweepParamError;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const BandRow rows[] = {
        {20, 20000, 3, 48000, E::None},
        {1, 96000, 60, 192000, E::None},      // the widest band at the highest rate
        {1000, 1100, 60, 8000, E::None},      // the narrowest band, the longest sweep
        {19000, 22050, 0.5, 44100, E::None},  // a start just below 0.45 of the rate
        // Starts above about 0.48 of the rate once crashed the sweep's design.
        {21169, 21170, 3, 44100, E::FromAboveRateShare},
        {21500, 22050, 3, 44100, E::FromAboveRateShare},
        {23500, 24000, 3, 48000, E::FromAboveRateShare},
        {3900, 4000, 3, 8000, E::FromAboveRateShare},
        {21999, 22050, 3, 44100, E::FromAboveRateShare},
        // Once an empty table reported as success.
        {21170, 21300, 3, 44100, E::FromAboveRateShare},
        // Narrow bands once ran out of memory or read wrong levels.
        {1000, 1001, 3, 44100, E::BandTooNarrow},
        {1000, 1000.5, 3, 44100, E::BandTooNarrow},
        {1000, 1002, 1, 44100, E::BandTooNarrow},
        {1000, 1099, 3, 48000, E::BandTooNarrow},
        // Below 0.45 of the rate, but half the rate ends the band before 1.1 times it.
        {19800, 22050, 3, 44100, E::BandTooNarrow},
        // The inverted band, and values that are no numbers.
        {2000, 1000, 3, 48000, E::FromNotBelowTo},
        {1000, 1000, 3, 48000, E::FromNotBelowTo},
        {nan, 1000, 3, 48000, E::FromTooLow},
        {100, nan, 3, 48000, E::FromNotBelowTo},
        {0.5, 1000, 3, 48000, E::FromTooLow},
        {100, 24001, 3, 48000, E::ToAboveHalfRate},
        {100, 1000, 0.4, 48000, E::SecondsOutOfRange},
        {100, 1000, nan, 48000, E::SecondsOutOfRange},
        {100, 1000, 3, 7999, E::RateOutOfRange},
        {100, 1000, 3, 192001, E::RateOutOfRange},
    };
    for (const BandRow& row : rows) {
        LogSweepParams p;
        p.fromHz = row.fromHz;
        p.toHz = row.toHz;
        p.seconds = row.seconds;
        p.rateHz = row.rateHz;
        EXPECT_EQ(CheckLogSweepParams(p), row.expected)
            << row.fromHz << " .. " << row.toHz << " Hz, " << row.seconds << " s, " << row.rateHz << " Hz";
    }
}

}  // namespace
}  // namespace sonvera
