#include <gtest/gtest.h>

#include "engine/looplength.h"

namespace sonvera {
namespace {

// Independent reference: the residue of m periods and the byte count they need.
std::int64_t Residue(std::int64_t m, std::int64_t rate, std::int64_t freq) { return (m * rate) % freq; }

TEST(LoopLength, ThousandHertzAt44100SixteenBitsFillsWholePeriodsWithoutResidue)
{
    const LoopLength l = ComputeLoopLength(0, 1000, 44100, 2, -1);
    EXPECT_EQ(l.periods, 370);
    EXPECT_EQ(l.residue, 0);
    EXPECT_EQ(l.bytes, 65268u);
    EXPECT_EQ(l.frames, 16317u);  // 370 periods of 44.1 frames
}

TEST(LoopLength, NineHundredNinetySevenHertzKeepsSmallestResidue)
{
    const LoopLength l = ComputeLoopLength(0, 997, 44100, 2, -1);
    EXPECT_EQ(l.periods, 361);
    EXPECT_EQ(l.residue, 4);
    EXPECT_EQ(l.bytes, 63872u);
    // No fitting m does better (brute force over every m that fits).
    for (std::int64_t m = 1; 4 * m * 44100 / 997 <= 65520; ++m) {
        EXPECT_GE(Residue(m, 44100, 997), 4) << "m=" << m;
        if (Residue(m, 44100, 997) == 4) {
            EXPECT_LE(m, 361);
        }
    }
}

TEST(LoopLength, SquareWaveUsesTheSameSearchAsSine)
{
    const LoopLength sine = ComputeLoopLength(0, 1000, 44100, 2, -1);
    const LoopLength square = ComputeLoopLength(1, 1000, 44100, 2, -1);
    EXPECT_EQ(square.bytes, sine.bytes);
    EXPECT_EQ(square.periods, sine.periods);
}

TEST(LoopLength, PeriodLongerThanBufferKeepsOnePeriodCutToBufferSize)
{
    const LoopLength l = ComputeLoopLength(0, 1, 44100, 2, -1);
    EXPECT_EQ(l.periods, 1);
    EXPECT_EQ(l.bytes, 65520u);
    EXPECT_EQ(l.frames, 16380u);
}

TEST(LoopLength, BufferLengthIsAlwaysWholeFramesAndWithinLimit)
{
    for (int bytesPerSample : {1, 2, 4}) {
        for (std::int64_t freq : {10, 33, 440, 997, 1000, 12345, 20000, 28000}) {
            for (std::int64_t rate : {8000, 22050, 44100, 48000}) {
                const LoopLength l = ComputeLoopLength(0, freq, rate, bytesPerSample, -1);
                EXPECT_LE(l.bytes, 65520u);
                EXPECT_EQ(l.bytes % (2 * bytesPerSample), 0u);
                EXPECT_EQ(l.bytes, l.frames * 2u * static_cast<unsigned>(bytesPerSample));
                EXPECT_EQ(l.residue, Residue(l.periods, rate, freq));
                // The chosen number of periods must itself fit.
                EXPECT_LE(2 * bytesPerSample * l.periods * rate / freq, 65520);
            }
        }
    }
}

TEST(LoopLength, TwentyFourBitSamplesUseEightByteFrames)
{
    const LoopLength l = ComputeLoopLength(0, 1000, 48000, 4, -1);
    // 48 frames per period: 170 periods = 8160 frames = 65280 bytes; 171 would be 65664.
    EXPECT_EQ(l.residue, 0);
    EXPECT_EQ(l.periods, 170);
    EXPECT_EQ(l.bytes, 65280u);
}

TEST(LoopLength, NoiseFillsTheWholeBuffer)
{
    EXPECT_EQ(ComputeLoopLength(2, 1000, 44100, 2, -1).bytes, 65520u);
    EXPECT_EQ(ComputeLoopLength(3, 1000, 44100, 4, -1).bytes, 65520u);
    EXPECT_EQ(ComputeLoopLength(3, 1000, 44100, 4, -1).residue, 0);
}

TEST(LoopLength, FiniteDurationGivesRateTimesDurationCappedAtBufferSize)
{
    EXPECT_EQ(ComputeLoopLength(0, 1000, 44100, 2, 100).bytes, 17640u);  // 4410 frames
    EXPECT_EQ(ComputeLoopLength(0, 1000, 8000, 1, 1000).bytes, 16000u);
    EXPECT_EQ(ComputeLoopLength(0, 1000, 44100, 2, 10000).bytes, 65520u);
}

}  // namespace
}  // namespace sonvera
