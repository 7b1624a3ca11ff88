// The correction-file fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include <cmath>

#include "fuzz/fuzz_curve.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

using testing::FuzzInput;
using testing::FuzzInputs;
using testing::ReadInput;

fuzz::CurveOutcome Load(const std::vector<std::uint8_t>& bytes)
{
    return fuzz::LoadCurveBytes(bytes.data(), bytes.size());
}

fuzz::CurveOutcome Load(const std::string& text)
{
    return fuzz::LoadCurveBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(CurveFuzzInputs, EverySeedAndFindingLoadsOrIsRefusedWithAWarning)
{
    const auto files = FuzzInputs("curve");
    ASSERT_GE(files.size(), 4u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadInput(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

TEST(CurveFuzzInputs, TheSeedsLoadWithTheirPoints)
{
    const auto mic = Load(ReadInput(FuzzInput("corpus", "curve", "mic.txt")));
    ASSERT_TRUE(mic.loaded);
    ASSERT_EQ(mic.curve.count, 5);
    EXPECT_DOUBLE_EQ(mic.curve.points[0].x, 20.0);
    EXPECT_DOUBLE_EQ(mic.curve.points[0].y, -3.5);
    EXPECT_DOUBLE_EQ(mic.curve.points[4].x, 20000.0);
    EXPECT_DOUBLE_EQ(EvalCurve(mic.curve, 1000.0), 0.0);

    // Blanks around the numbers, a blank line, CR LF, exponents and a plus sign.
    const auto crlf = Load(ReadInput(FuzzInput("corpus", "curve", "crlf.txt")));
    ASSERT_TRUE(crlf.loaded);
    ASSERT_EQ(crlf.curve.count, 3);
    EXPECT_DOUBLE_EQ(crlf.curve.points[0].y, 1.5);
    EXPECT_DOUBLE_EQ(crlf.curve.points[2].x, 1000.0);
    EXPECT_DOUBLE_EQ(crlf.curve.points[2].y, -0.001);

    // No line end after the last line.
    const auto weighting = Load(ReadInput(FuzzInput("corpus", "curve", "a-weighting.txt")));
    ASSERT_TRUE(weighting.loaded);
    EXPECT_EQ(weighting.curve.count, 10);
    EXPECT_DOUBLE_EQ(weighting.curve.points[9].y, -6.6);
}

TEST(CurveFuzzInputs, BrokenFilesAreRefusedWithTheirMessage)
{
    const auto* english = CurveMessagesFor('E');
    ASSERT_NE(english, nullptr);
    for (const std::string& text : std::vector<std::string>{"1000 0\n100 1\n", "1000 0\n1000 1\n", "1000 x\n", "1000 nan\n", "1e999 0\n",
                                   "1000 1e999\n", std::string("1000 0\0 5\n", 10)}) {
        SCOPED_TRACE(text);
        const auto out = Load(text);
        EXPECT_FALSE(out.loaded);
        EXPECT_EQ(out.curve.count, 0);
        ASSERT_EQ(out.warnings.size(), 1u);
        EXPECT_EQ(out.warnings[0].rfind(english->lineError + english->lineAt, 0), 0u) << out.warnings[0];
    }
    const auto empty = Load(std::string("\n  \n"));
    ASSERT_EQ(empty.warnings.size(), 1u);
    EXPECT_EQ(empty.warnings[0], english->noLines);
}

TEST(CurveFuzzInputs, FilesWhoseSplineWouldOverflowAreRefusedAsLineErrors)
{
    const auto* english = CurveMessagesFor('E');
    ASSERT_NE(english, nullptr);
    // A value near the largest double, and frequencies 1e-300 Hz apart: both parse, but
    // the spline through them is infinite, which would correct every level to infinity.
    for (const char* name : {"value-near-the-double-limit.txt", "frequencies-1e-300-apart.txt"}) {
        SCOPED_TRACE(name);
        const auto out = Load(ReadInput(FuzzInput("regressions", "curve", name)));
        EXPECT_FALSE(out.loaded);
        EXPECT_EQ(out.curve.count, 0);
        ASSERT_EQ(out.warnings.size(), 1u);
        EXPECT_EQ(out.warnings[0], english->lineError);
    }
    // Large but usable values still load.
    const auto large = Load(std::string("10 1e300\n100 2\n1000 -1e300\n"));
    EXPECT_TRUE(large.loaded);
    EXPECT_EQ(large.curve.count, 3);
}

TEST(CurveFuzzInputs, ValuesManyDecadesApartLoadAndThePointsAreKept)
{
    const auto out = Load(ReadInput(FuzzInput("regressions", "curve", "values-27-decades-apart.txt")));
    ASSERT_TRUE(out.loaded);
    ASSERT_EQ(out.curve.count, 3);
    EXPECT_DOUBLE_EQ(out.curve.points[0].y, 777777777777777777777777770.0);
    EXPECT_DOUBLE_EQ(out.curve.points[1].y, 2.0);
    EXPECT_DOUBLE_EQ(out.curve.points[2].y, -0.001);
    EXPECT_DOUBLE_EQ(EvalCurve(out.curve, 100.0), 2.0);

    // Two points 1e-300 Hz apart before one at 315 Hz: the spline is finite and loads.
    const auto steep = Load(ReadInput(FuzzInput("regressions", "curve", "steep-first-interval.txt")));
    ASSERT_TRUE(steep.loaded);
    EXPECT_EQ(steep.curve.count, 3);
    EXPECT_DOUBLE_EQ(EvalCurve(steep.curve, 2e-300), 1.0);

    // A last point at 6.7e90 Hz loads; within any spectrum's range the curve is the
    // natural spline through the first points, exact at them.
    const auto far = Load(ReadInput(FuzzInput("regressions", "curve", "last-frequency-1e90.txt")));
    ASSERT_TRUE(far.loaded);
    ASSERT_EQ(far.curve.count, 3);
    EXPECT_DOUBLE_EQ(EvalCurve(far.curve, 10.0), 1.5);
    EXPECT_DOUBLE_EQ(EvalCurve(far.curve, 100.0), 2.0);
    EXPECT_TRUE(std::isfinite(EvalCurve(far.curve, 20000.0)));
}

}  // namespace
}  // namespace sonvera
