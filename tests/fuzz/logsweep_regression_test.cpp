// The log sweep parameter check's fuzz seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include "fuzz/fuzz_logsweep.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

TEST(LogSweepFuzzInputs, EverySeedAndFindingIsReadAndAcceptedOnesPlanWithinTheBound)
{
    const auto files = testing::FuzzInputs("logsweep");
    ASSERT_GE(files.size(), 4u);
    int accepted = 0;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = testing::ReadInput(path);
        // The plan's promises are checked inside; a broken one aborts the test.
        const fuzz::LogSweepOutcome out = fuzz::CheckLogSweepBytes(bytes.data(), bytes.size());
        EXPECT_TRUE(out.parsed);
        accepted += out.error == LogSweepParamError::None;
    }
    EXPECT_GE(accepted, 3);  // the seeds reach the plan, not only the refusals
}

TEST(LogSweepFuzzInputs, ASweepThatHalfTheRateCutsShortIsAnalysedWithinTheRecording)
{
    // Half the rate ends this sweep before its band's start has a quarter of the way
    // to the 2nd harmonic behind it: the lags searched before the peak once reached
    // beyond the recording and made the transforms longer than the bound.
    const auto bytes = testing::ReadInput(testing::FuzzInput("regressions", "logsweep", "sweep-shorter-than-its-lead.txt"));
    EXPECT_EQ(fuzz::CheckLogSweepBytes(bytes.data(), bytes.size()).error, LogSweepParamError::None);
}

}  // namespace
}  // namespace sonvera
