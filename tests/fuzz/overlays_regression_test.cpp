// The overlay-folder fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include "fuzz/fuzz_overlays.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

using testing::FuzzInput;
using testing::FuzzInputs;
using testing::ReadInput;

fuzz::OverlaysOutcome Open(const std::string& name)
{
    const auto bytes = ReadInput(FuzzInput("corpus", "overlays", name));
    return fuzz::OpenOverlayIndex(bytes.data(), bytes.size());
}

TEST(OverlaysFuzzInputs, EverySeedAndFindingKeepsTheFolderAsItWas)
{
    const auto files = FuzzInputs("overlays");
    ASSERT_GE(files.size(), 3u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadInput(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

TEST(OverlaysFuzzInputs, WhatTheIndexNamesWellIsReadTheRestRefused)
{
    const auto one = Open("one.ini");
    EXPECT_TRUE(one.problems.empty());
    EXPECT_EQ(one.overlays[1], 1u);
    // The bad table, two names outside the folder and the good table named a second time.
    const auto refused = Open("refused.ini");
    EXPECT_EQ(refused.problems.size(), 3u);
    EXPECT_EQ(refused.overlays[0] + refused.overlays[1], 1u);
}

}  // namespace
}  // namespace sonvera
