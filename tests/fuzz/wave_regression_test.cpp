// The wave-file fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include <cmath>

#include "fuzz/fuzz_wave.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

using testing::FuzzInput;
using testing::FuzzInputs;
using testing::ReadInput;

fuzz::WaveOutcome Read(const std::vector<std::uint8_t>& bytes)
{
    return fuzz::ReadWaveBytes(bytes.data(), bytes.size());
}

TEST(WaveFuzzInputs, EverySeedAndFindingDecodesOrIsRefused)
{
    const auto files = FuzzInputs("wave");
    ASSERT_GE(files.size(), 8u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadInput(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

TEST(WaveFuzzInputs, EverySeedFormatDecodesWithBothReaders)
{
    struct Seed {
        const char* name;
        std::size_t frames;
        int rate;
    };
    for (const Seed& seed : {Seed{"pcm16-stereo.wav", 64, 44100}, Seed{"pcm8-mono.wav", 64, 8000},
                             Seed{"pcm24-stereo.wav", 48, 96000}, Seed{"float-stereo.wav", 48, 48000},
                             Seed{"pcm16-mono.aiff", 64, 22050}, Seed{"pcm16-mono.flac", 256, 44100},
                             Seed{"float-mono.au", 32, 44100}, Seed{"pcm32-stereo.w64", 32, 44100}}) {
        SCOPED_TRACE(seed.name);
        const auto out = Read(ReadInput(FuzzInput("corpus", "wave", seed.name)));
        EXPECT_EQ(out.decodeError, "");
        EXPECT_EQ(out.decodeRate, seed.rate);
        EXPECT_EQ(out.samples.size(), 2 * seed.frames);
        EXPECT_EQ(out.inputError, "");
        EXPECT_EQ(out.inputRate, seed.rate);
        ASSERT_EQ(out.frames.size(), 2 * seed.frames);
        // The seeds hold a 1 kHz sine of amplitude 0.5, the right channel a radian ahead.
        EXPECT_NEAR(out.frames[2], 0.5 * std::sin(2 * 3.14159265358979 * 1000.0 / seed.rate), 0.01);
        // The player's 16-bit samples are the same values, floating-point files included.
        EXPECT_NEAR(out.samples[2] / 32768.0, out.frames[2], 1.0 / 32768);
    }
}

TEST(WaveFuzzInputs, AFloatFileWithANanSampleIsRefusedByBothReaders)
{
    const auto out = Read(ReadInput(FuzzInput("regressions", "wave", "nan-sample.au")));
    EXPECT_NE(out.inputError.find(": holds samples that are not finite numbers"), std::string::npos)
        << out.inputError;
    EXPECT_TRUE(out.frames.empty());
    EXPECT_NE(out.decodeError.find(": holds samples that are not finite numbers"), std::string::npos)
        << out.decodeError;
    EXPECT_TRUE(out.samples.empty());
}

}  // namespace
}  // namespace sonvera
