// Limits files: what a line means, where the curve lies between its lines (checked
// against values worked out by hand on the logarithmic frequency axis), what is counted,
// and the line each wrong file is refused at.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <string_view>

#include "measure/limits.h"
#include "tests/support/tempdir.h"

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

TEST(Limits, EveryWrongFileIsRefusedInBothLanguagesNamingFileAndLine)
{
    using namespace std::literals;
    testing::TempDir dir;
    const std::string path = dir.File("l.txt");
    const std::string longName = std::string(200, 'x') + "- -80\n";  // named by its start
    struct Case {
        std::string_view text;  // none: the path is not a file of that text
        std::string path;
        LimitsProblem problem;
        int line;
        std::string english;  // the reason's start after "PATH, line N: " or "PATH: "
    } const cases[] = {
        {"100 -1\n", path, LimitsProblem::FrequencyFields, 1, "a frequency line needs three fields"},
        {"# c\n100 -1 1\n50 -1 1\n", path, LimitsProblem::NotRising, 3, "the frequencies must rise"},
        {"100 1 -1\n", path, LimitsProblem::LowerAboveUpper, 1, "the lower bound lies above the upper one"},
        {"100 x 1\n", path, LimitsProblem::BadDbBound, 1, "a bound must be a number of dB or '-'"},
        {"0 -1 1\n", path, LimitsProblem::BadFrequency, 1, "the frequency '0' is not a number of Hz above 0"},
        {"1e999 -1 1\n", path, LimitsProblem::BadFrequency, 1, "the frequency '1e999'"},
        {"100 -1 1\n\0\n"sv, path, LimitsProblem::NotText, 2, "not a text line"},
        {"\n\nthd_db\n", path, LimitsProblem::ReadingFields, 3, "a reading's line is 'KEY MAX' or 'KEY LOWER UPPER'"},
        {"thd_db -\n", path, LimitsProblem::BadMaximum, 1, "a reading's maximum must be a number"},
        {"thd_db x 1\n", path, LimitsProblem::BadBound, 1, "a bound must be a number or '-'"},
        {"center.thd_db -80\n", path, LimitsProblem::BadChannel, 1, "'center.thd_db': a reading's channel is left"},
        {"thd-db -80\n", path, LimitsProblem::NotAName, 1, "'thd-db' is neither"},
        {longName, path, LimitsProblem::NotAName, 1, "'" + std::string(64, 'x') + "...' is neither"},
        {"thd_db -80\nleft.thd_db -80\nthd_db -90\n", path, LimitsProblem::Repeated, 3, "'thd_db' has bounds already"},
        {"thd_db - -\n", path, LimitsProblem::NoBound, 1, "a reading's line needs at least one bound"},
        {"# only a comment\n\n", path, LimitsProblem::NoLimits, 0, "no limits in the file"},
        {{}, dir.Path().string(), LimitsProblem::Directory, 0, "is a directory"},
        {{}, "/nonexistent/limits.txt", LimitsProblem::Unopenable, 0, "No such file or directory"},
        {{}, "/dev/zero", LimitsProblem::TooLarge, 0, "more than 16 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + ": " + std::string(c.text));
        if (c.text.data() != nullptr) {
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                .write(c.text.data(), static_cast<std::streamsize>(c.text.size()));
        }
        Limits limits;
        const LimitsError error = ReadLimits(c.path, limits);
        EXPECT_EQ(error.problem, c.problem);
        EXPECT_EQ(error.line, c.line);
        const std::string where = c.line > 0 ? ", line " + std::to_string(c.line) + ": " : ": ";
        const std::string english = LimitsErrorText(error, 'E');
        EXPECT_EQ(english.rfind(c.path + where + c.english, 0), 0U) << english;
        const std::string wo = c.line > 0 ? ", Zeile " + std::to_string(c.line) + ": " : ": ";
        const std::string german = LimitsErrorText(error, 'D');
        EXPECT_EQ(german.rfind(c.path + wo, 0), 0U) << german;
        EXPECT_NE(german.substr(c.path.size() + wo.size()), english.substr(c.path.size() + where.size()));
        EXPECT_EQ(german.find("%1"), std::string::npos) << german;
        EXPECT_NE(german.find(error.field), std::string::npos) << german;
        // The English command-line text, and whether the file could be read at all.
        bool unreadable = false;
        EXPECT_EQ(ReadLimitsFile(c.path, limits, unreadable), english);
        EXPECT_EQ(unreadable, c.text.data() == nullptr);
    }
    Limits limits;
    EXPECT_EQ(ParseLimits("100 -1\n", limits).rfind("line 1: a frequency line", 0), 0U);
}

}  // namespace
}  // namespace sonvera
