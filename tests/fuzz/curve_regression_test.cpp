// The correction-file fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include <utility>


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

TEST(CurveFuzzInputs, FilesWhoseSplineLeavesAThousandDecibelsAreLineErrorsNamingTheLine)
{
    const auto* english = CurveMessagesFor('E');
    ASSERT_NE(english, nullptr);
    // Values far beyond any correction, points 1e-300 Hz apart (the spline between them
    // overflows), or so far apart that the spline swings beyond 1000 dB between them:
    // every level such a curve corrected would be made up. The line named is the point's
    // where it leaves the limit, or that of the point ending the interval where it does.
    const std::pair<const char*, int> files[] = {{"value-near-the-double-limit.txt", 1},
                                                 {"frequencies-1e-300-apart.txt", 2},
                                                 {"values-27-decades-apart.txt", 1},
                                                 {"steep-first-interval.txt", 4},  // a lone CR ends line 3
                                                 {"last-frequency-1e90.txt", 4}};
    for (const auto& [name, line] : files) {
        SCOPED_TRACE(name);
        const auto out = Load(ReadInput(FuzzInput("regressions", "curve", name)));
        EXPECT_FALSE(out.loaded);
        EXPECT_EQ(out.curve.count, 0);
        EXPECT_EQ(out.warnings, std::vector<std::string>{english->lineError + english->lineAt + std::to_string(line)});
    }
    const auto user = Load(std::string("1000 1e200\n2000 -1e200\n3000 1e200\n"));
    EXPECT_EQ(user.warnings, std::vector<std::string>{english->lineError + english->lineAt + "1"});
    // Up to the limit a curve loads.
    const auto steep = Load(std::string("1000 -1000\n2000 1000\n"));
    EXPECT_TRUE(steep.loaded);
    EXPECT_EQ(steep.curve.count, 2);
}

}  // namespace
}  // namespace sonvera
