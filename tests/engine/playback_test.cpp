#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"

namespace sonvera {
namespace {

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    static GeneratorParams Params(int waveform = kWaveSine)
    {
        GeneratorParams p;
        p.waveform = waveform;
        return p;
    }
    std::vector<std::string> NewReportLines(std::size_t before) const
    {
        const auto& r = engine.DeviceReport();
        return {r.begin() + static_cast<std::ptrdiff_t>(before), r.end()};
    }
    std::string OutText(MmResult code)
    {
        std::string text;
        card.WaveOutGetErrorText(code, text);
        return text;
    }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
};

TEST_F(PlaybackTest, LoopLengthsAt44100SixteenBits)
{
    ASSERT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    EXPECT_TRUE(engine.PlaybackActive());
    EXPECT_EQ(engine.PlaybackLength(), 65268u);
    EXPECT_EQ(engine.LoopResidue(), 0);
    engine.StopPlayback();
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_FALSE(engine.PlaybackOpen());

    ASSERT_EQ(engine.StartPlayback(997, -1, Params()), 0);
    EXPECT_EQ(engine.PlaybackLength(), 63872u);
    EXPECT_EQ(engine.LoopResidue(), 4);
    engine.StopPlayback();

    ASSERT_EQ(engine.StartPlayback(1, -1, Params(kWaveSquare)), 0);
    EXPECT_EQ(engine.PlaybackLength(), 65520u);
    engine.StopPlayback();

    ASSERT_EQ(engine.StartPlayback(1000, -1, Params(kWavePinkNoise)), 0);
    EXPECT_EQ(engine.PlaybackLength(), 65520u);
}

TEST_F(PlaybackTest, BufferHoldsWholePeriodsThatJoinWithoutAPhaseJump)
{
    ASSERT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    const auto* s = reinterpret_cast<const std::int16_t*>(engine.PlaybackBuffer());
    const std::uint32_t frames = engine.PlaybackLength() / 4;
    // Frame 0 starts at phase 0; the frame after the last is again phase 0.
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 0);
    const double step = 2.0 * M_PI * 1000.0 / 44100.0;
    const double lastExpected = 32767.0 * std::sin(step * (frames - 1));
    EXPECT_NEAR(s[2 * (frames - 1)], lastExpected, 1.0);
    EXPECT_NEAR(32767.0 * std::sin(step * frames), 0.0, 1e-6 * 32767.0 * frames);
    // Quarter period in (frame 11 of 44.1): near the peak.
    EXPECT_NEAR(s[2 * 11], 32767.0 * std::sin(step * 11), 1.0);
}

TEST_F(PlaybackTest, ChannelLevelsAndPhasesReachTheBuffer)
{
    GeneratorParams p = Params();
    p.levelLeftDb = -100;  // silent
    p.levelRightDb = -6;
    p.phaseRightDeg = 90;
    ASSERT_EQ(engine.StartPlayback(1000, -1, p), 0);
    const auto* s = reinterpret_cast<const std::int16_t*>(engine.PlaybackBuffer());
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[2 * 100], 0);
    EXPECT_NEAR(s[1], 32767.0 * std::pow(10.0, -0.3), 1.0);  // cos(0) at -6 dB
}

TEST_F(PlaybackTest, StartingWhilePlayingReturnsZeroAndKeepsTheSignal)
{
    ASSERT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    std::vector<char> before(engine.PlaybackBuffer(), engine.PlaybackBuffer() + engine.PlaybackLength());
    EXPECT_EQ(engine.StartPlayback(997, -1, Params(kWaveSquare)), 0);
    EXPECT_EQ(engine.PlaybackLength(), 65268u);
    EXPECT_EQ(std::memcmp(before.data(), engine.PlaybackBuffer(), before.size()), 0);
    EXPECT_EQ(card.PostedOutDone(), 0u);
}

TEST_F(PlaybackTest, StopWhenNothingPlaysDoesNoHarm)
{
    engine.StopPlayback();
    engine.StopPlayback();
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    EXPECT_TRUE(engine.PlaybackActive());
}

TEST_F(PlaybackTest, FormatQueryRefusalReturnsCodeWithoutReportLine)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveOutOpenQuery, kWaveBadFormat);
    EXPECT_EQ(engine.StartPlayback(1000, -1, Params()), 32);
    EXPECT_TRUE(NewReportLines(before).empty());
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_FALSE(engine.PlaybackOpen());
}

TEST_F(PlaybackTest, OpenErrorReportsCodeAndText)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    EXPECT_EQ(engine.StartPlayback(1000, -1, Params()), 4);
    const std::vector<std::string> expected = {"waveOutOpen Error 4", OutText(kMmAllocated)};
    EXPECT_EQ(NewReportLines(before), expected);
    EXPECT_FALSE(engine.PlaybackOpen());
    EXPECT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    EXPECT_TRUE(engine.PlaybackActive());
}

TEST_F(PlaybackTest, PrepareAndWriteErrorsReportAndKeepTheDeviceOpenUntilStop)
{
    const std::pair<WaveCall, std::string> cases[] = {
        {WaveCall::WaveOutPrepareHeader, "waveOutPrepHeader Error 7"},
        {WaveCall::WaveOutWrite, "waveOutWrite Error 7"},
    };
    for (const auto& [call, line] : cases) {
        SCOPED_TRACE(line);
        const std::size_t before = engine.DeviceReport().size();
        card.InjectFault(call, kMmNoMem);
        EXPECT_EQ(engine.StartPlayback(1000, -1, Params()), 7);
        const std::vector<std::string> expected = {line, OutText(kMmNoMem)};
        EXPECT_EQ(NewReportLines(before), expected);
        EXPECT_TRUE(engine.PlaybackOpen());
        EXPECT_FALSE(engine.PlaybackActive());
        // Still open: a new start does nothing.
        EXPECT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
        EXPECT_FALSE(engine.PlaybackActive());
        engine.StopPlayback();
        EXPECT_FALSE(engine.PlaybackOpen());
    }
}

TEST_F(PlaybackTest, FailedResetOrCloseKeepsTheirFlags)
{
    ASSERT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    card.InjectFault(WaveCall::WaveOutReset, kMmError);
    card.InjectFault(WaveCall::WaveOutClose, kWaveStillPlaying);
    engine.StopPlayback();
    EXPECT_TRUE(engine.PlaybackActive());
    EXPECT_TRUE(engine.PlaybackOpen());
    engine.StopPlayback();
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_FALSE(engine.PlaybackOpen());
}

TEST_F(PlaybackTest, SignalsThatCannotBeSynthesisedAreRefused)
{
    EXPECT_EQ(engine.StartPlayback(0, -1, Params()), static_cast<int>(kMmInvalidParam));
    EXPECT_EQ(engine.StartPlayback(-5, -1, Params(kWaveSquare)), static_cast<int>(kMmInvalidParam));
    EXPECT_EQ(engine.StartPlayback(1000, -1, Params(kWaveUserFile)), static_cast<int>(kMmInvalidParam));
    EXPECT_EQ(engine.StartPlayback(1000, -1, Params(9)), static_cast<int>(kMmInvalidParam));
    EXPECT_EQ(engine.StartPlayback(1000000000, -1, Params()), static_cast<int>(kMmInvalidParam));
    EXPECT_FALSE(engine.PlaybackOpen());
    // Noise has no period: any frequency will do.
    EXPECT_EQ(engine.StartPlayback(0, -1, Params(kWaveWhiteNoise)), 0);
}

TEST_F(PlaybackTest, OutputFormatChangesTakeEffectAtTheNextStart)
{
    engine.SetFormatBits(0, 24);
    engine.SetSampleRates(0, 48000);
    ASSERT_EQ(engine.StartPlayback(1000, -1, Params()), 0);
    const WaveFormat& f = engine.OutDeviceFormats()[0].Format;
    EXPECT_EQ(f.BitsPerSample, 32);
    EXPECT_EQ(f.BlockAlign, 8);
    EXPECT_EQ(f.AvgBytesPerSec, 384000u);
    EXPECT_EQ(engine.PlaybackLength(), 65280u);  // 170 periods of 48 frames
    // The input record is untouched.
    EXPECT_EQ(engine.InDeviceFormats()[0].Format.BitsPerSample, 16);
}

TEST(PlaybackWithoutEngineMemory, StartFailsAndStopIsHarmless)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    GeneratorParams p;
    EXPECT_EQ(engine.StartPlayback(1000, -1, p), 3);
    engine.StopPlayback();
    EXPECT_FALSE(engine.PlaybackActive());
}

}  // namespace
}  // namespace sonvera
