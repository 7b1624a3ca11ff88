// The limits-file fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include "fuzz/fuzz_limits.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

using testing::FuzzInputs;
using testing::ReadInput;

TEST(LimitsFuzzInputs, EverySeedIsAcceptedAndEveryFindingReadOrRefused)
{
    const auto files = FuzzInputs("limits");
    ASSERT_GE(files.size(), 4u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadInput(path);
        const fuzz::LimitsOutcomeOfText out = fuzz::ParseLimitsBytes(bytes.data(), bytes.size());
        if (path.parent_path().parent_path().filename() == "corpus") {
            EXPECT_FALSE(out.error) << LimitsErrorText(out.error, 'E');
        }
    }
}

}  // namespace
}  // namespace sonvera
