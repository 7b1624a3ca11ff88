// Limits files: what a line means, where the curve lies between its lines (checked
// against values worked out by hand on the logarithmic frequency axis), what is counted,
// and the line each wrong file is refused at.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measure/limits.h"

namespace sonvera {
namespace {

TEST(Limits, TheCurveIsInterpolatedOverTheLogarithmOfTheFrequencyAndEndsAtItsLines)
{
    Limits limits;
    ASSERT_EQ(ParseLimits("# a loudspeaker's band\n"
                          "\n"
                          "100  -6  -\t# no upper bound here\n"
                          "1000 -1  1\n"
                          "10000 -3 2\n"
                          "thd_db -80\n"
                          "left.snr_db 90 -\n",
                          limits),
              "");
    ASSERT_EQ(limits.curve.size(), 3U);
    ASSERT_EQ(limits.readings.size(), 2U);
    EXPECT_EQ(limits.readings[0].channel, "");
    EXPECT_EQ(limits.readings[0].key, "thd_db");
    EXPECT_FALSE(limits.readings[0].lower);
    EXPECT_EQ(*limits.readings[0].upper, -80.0);
    EXPECT_EQ(limits.readings[1].channel, "left");
    EXPECT_EQ(*limits.readings[1].lower, 90.0);
    EXPECT_FALSE(limits.readings[1].upper);

    // 316.23 Hz is half way from 100 Hz to 1 kHz in decades: -6 .. -1 gives -3.5; the
    // upper bound is absent on the segment. 2 kHz lies log10(2) = 0.30103 of the way to
    // 10 kHz: -1 + 0.30103 * (-2) = -1.60206 and 1 + 0.30103 * 1 = 1.30103.
    struct Case {
        double hz;
        bool covered;
        double lower, upper;  // NaN: none
    } const cases[] = {
        {99.9, false, NAN, NAN},  {100.0, true, -6.0, NAN},          {316.227766, true, -3.5, NAN},
        {1000.0, true, -1.0, 1.0}, {2000.0, true, -1.60206, 1.30103}, {10000.0, true, -3.0, 2.0},
        {10001.0, false, NAN, NAN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hz);
        const Bounds b = limits.At(c.hz);
        EXPECT_EQ(b.covered, c.covered);
        EXPECT_EQ(b.lower.has_value(), !std::isnan(c.lower));
        EXPECT_EQ(b.upper.has_value(), !std::isnan(c.upper));
        if (b.lower && !std::isnan(c.lower)) {
            EXPECT_NEAR(*b.lower, c.lower, 1e-5);
        }
        if (b.upper && !std::isnan(c.upper)) {
            EXPECT_NEAR(*b.upper, c.upper, 1e-5);
        }
    }
}

TEST(Limits, OnlyPointsInsideTheRangeCountAndAValueWithoutANumberFails)
{
    Limits limits;
    ASSERT_EQ(ParseLimits("100 -1 1\n1000 -1 1\nthd_db -80\n", limits), "");
    LimitsOutcome o;
    o.CheckPoint(limits, "level_db", 50.0, 20.0);     // outside: not counted
    o.CheckPoint(limits, "level_db", 200.0, 0.5);     // inside its bounds
    o.CheckPoint(limits, "level_db", 300.0, -1.5);    // below
    o.CheckPoint(limits, "level_db", 400.0, NAN);     // no value
    o.CheckPoint(limits, "level_db", 500.0, -30.0, true);  // below -30 passes the upper bound, not the lower
    o.CheckReading(limits.readings[0], "left.thd_db", -95.0);
    o.CheckReading(limits.readings[0], "right.thd_db", std::nullopt);  // a channel without a tone
    o.CheckReading(limits.readings[0], "x.thd_db", -100.0, true);
    EXPECT_EQ(o.checked, 7);
    ASSERT_EQ(o.failures.size(), 4U);
    EXPECT_EQ(o.failures[0].hz, 300.0);
    EXPECT_EQ(o.failures[0].value, -1.5);
    EXPECT_EQ(o.failures[2].hz, 500.0);
    EXPECT_EQ(o.failures[3].what, "right.thd_db");
    EXPECT_EQ(o.Summary(), "limits: FAIL 4 of 7 points");
    EXPECT_EQ(LimitsOutcome{}.Summary(), "limits: PASS");
}

TEST(Limits, AWrongLineIsNamedByItsNumber)
{
    struct Case {
        const char* text;
        const char* error;
    } const cases[] = {
        {"100 -1\n", "line 1: a frequency line needs three fields"},
        {"# c\n100 -1 1\n50 -1 1\n", "line 3: the frequencies must rise"},
        {"100 1 -1\n", "line 1: the lower bound lies above the upper one"},
        {"100 x 1\n", "line 1: a bound must be a number of dB or '-'"},
        {"0 -1 1\n", "line 1: the frequency '0' is not a number of Hz above 0"},
        {"1e999 -1 1\n", "line 1: the frequency '1e999'"},
        {"\n\nthd_db\n", "line 3: a reading's line is 'KEY MAX' or 'KEY LOWER UPPER'"},
        {"thd_db -\n", "line 1: a reading's maximum must be a number"},
        {"center.thd_db -80\n", "line 1: 'center.thd_db': a reading's channel is left or right"},
        {"thd-db -80\n", "line 1: 'thd-db' is neither"},
        {"thd_db -80\nthd_db -90\n", "line 2: 'thd_db' has bounds already"},
        {"thd_db - -\n", "line 1: a reading's line needs at least one bound"},
        {"# only a comment\n\n", "no limits in the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Limits limits;
        const std::string error = ParseLimits(c.text, limits);
        EXPECT_EQ(error.rfind(c.error, 0), 0U) << error;
    }
    Limits limits;
    bool unreadable = false;
    EXPECT_EQ(ReadLimitsFile("/nonexistent/limits.txt", limits, unreadable),
              "/nonexistent/limits.txt: No such file or directory");
    EXPECT_TRUE(unreadable);
}

}  // namespace
}  // namespace sonvera
