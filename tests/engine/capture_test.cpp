#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "dsp/generator.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

constexpr double kRate = 44100.0;

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.SetOutputVolume(100);  // the engine starts the output at 25 %
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    /// Records one block of frames frames through the message path; the copy of the
    /// sample buffer taken in the handler, valueCount and overloads.
    std::vector<float> Capture(int frames, int* overloads = nullptr, std::uint32_t user = 0)
    {
        std::vector<float> values;
        int calls = 0;
        const int r = engine.StartCapture(frames, user, [&] {
            ++calls;
            int count = 0, over = 0;
            std::uint32_t u = 0;
            const float* data = engine.TakeCapturedBlock(count, over, u);
            if (data != nullptr) {
                values.assign(data, data + count);
            }
            if (overloads != nullptr) {
                *overloads = over;
            }
        });
        EXPECT_EQ(r, 0);
        port.Pump();
        EXPECT_EQ(calls, 1);
        return values;
    }

    GeneratorParams Sine(int leftDb, int rightDb, int waveform = kWaveSine)
    {
        GeneratorParams p;
        p.frequencyHz = 1000;
        p.levelLeftDb = leftDb;
        p.levelRightDb = rightDb;
        p.waveform = waveform;
        return p;
    }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    test::QueuePort port{engine};
};

TEST_F(CaptureTest, SinePlayedAndRecordedComesBackAtLevelAndFrequencyRightOnEvenPositions)
{
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, -6)), 0);
    const std::vector<float> v = Capture(4410);  // exactly 100 periods
    ASSERT_EQ(v.size(), 8820u);

    const double left = test::ToneAmplitude(v.data(), 1, 4410, 1000.0, kRate);
    const double right = test::ToneAmplitude(v.data(), 0, 4410, 1000.0, kRate);
    EXPECT_NEAR(left, 32767.0 / 32768.0, 1e-3);
    EXPECT_NEAR(right, std::pow(10.0, -6.0 / 20.0), 1e-3);
    EXPECT_NEAR(20.0 * std::log10(left), 0.0, 0.01);
    EXPECT_NEAR(20.0 * std::log10(right), -6.0, 0.01);
    // Nothing but the tone: the whole RMS belongs to 1 kHz, no energy one bin aside.
    EXPECT_NEAR(test::ChannelRms(v.data(), 1, 4410), left / std::sqrt(2.0), 1e-4);
    EXPECT_LT(test::ToneAmplitude(v.data(), 1, 4410, 990.0, kRate), 1e-3);
    EXPECT_LT(test::ToneAmplitude(v.data(), 1, 4410, 1010.0, kRate), 1e-3);
    EXPECT_LT(test::ToneAmplitude(v.data(), 0, 4410, 2000.0, kRate), 1e-3);
}

TEST_F(CaptureTest, BlockStartsOnlyAfterTheToneArrivedThroughTheCableAndSettled)
{
    // A round trip of 50 ms: a block begun with the tone would hold 50 ms of silence.
    card.SetCableLatency(0.05);
    engine.MeasureRoundTrip(true);  // probed with the burst, though the card knows it
    EXPECT_NEAR(engine.RoundTripSeconds(), 0.05, 1.0 / kRate);
    // A restart forgets it until it is measured again.
    engine.ShutdownSoundEngine();
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    engine.SetOutputVolume(100);
    EXPECT_LT(engine.RoundTripSeconds(), 0.0);
    engine.MeasureRoundTrip(true);
    EXPECT_NEAR(engine.RoundTripSeconds(), 0.05, 1.0 / kRate);
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, 0)), 0);
    const std::vector<float> v = Capture(4410);
    ASSERT_EQ(v.size(), 8820u);
    // Its first and last 10 periods carry the tone alike.
    const double first = test::ToneAmplitude(v.data(), 1, 441, 1000.0, kRate);
    const double last = test::ToneAmplitude(v.data() + 2 * (4410 - 441), 1, 441, 1000.0, kRate);
    EXPECT_NEAR(first, 32767.0 / 32768.0, 1e-3);
    EXPECT_NEAR(last, first, 1e-4);
    EXPECT_EQ(engine.DroppedBlocks(), 0);  // too early is no gap
}

TEST_F(CaptureTest, BlocksWithGapsAreRecordedAgainAndCountedUntilTheEngineGivesUpNamingTheDevice)
{
    // Unflagged: frames lost on the way without a word, found in the played tone itself,
    // the generator's or a loop of the tone's whole periods.
    const struct {
        int gaps;
        bool flagged;
        bool block;
        bool loop = false;
    } cases[] = {{3, true, true},
                 {SoundEngine::kMaxLostBlocksInRow + 1, true, false},
                 {3, false, true},
                 {SoundEngine::kMaxLostBlocksInRow + 1, false, false},
                 {3, false, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gaps << " gaps, flagged " << c.flagged << ", loop " << c.loop);
        if (c.loop) {
            const SineComponent sine{1000, 1.0};
            const std::vector<float> tone = SineLoop(std::span<const SineComponent>(&sine, 1), 44100);
            ASSERT_EQ(engine.StartLoopedSignal(tone, tone, 1000), 0);
        } else {
            ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, 0)), 0);
        }
        Capture(4410);  // the tone has arrived: what is lost now is lost from it
        engine.ResetDroppedBlocks();
        card.InjectInputGaps(c.gaps, 17, c.flagged);  // 17 frames: not a whole period of 1 kHz
        const std::vector<float> v = Capture(4410);
        EXPECT_EQ(engine.DroppedBlocks(), std::min(c.gaps, SoundEngine::kMaxLostBlocksInRow + 1));
        if (c.block) {
            // One unbroken stretch: exactly the sine, 100 whole periods, nothing beside it.
            ASSERT_EQ(v.size(), 8820u);
            EXPECT_NEAR(test::ChannelRms(v.data(), 1, 4410),
                        test::ToneAmplitude(v.data(), 1, 4410, 1000.0, kRate) / std::sqrt(2.0), 1e-5);
        } else {
            EXPECT_TRUE(v.empty());
            EXPECT_EQ(engine.EngineError(), SoundEngine::kEngineFramesLost);
            EXPECT_NE(engine.DeviceErrorText(SoundEngine::kEngineFramesLost).find("\"Sonvera Loopback\""),
                      std::string::npos);
        }
        engine.StopPlayback();
    }
}

TEST_F(CaptureTest, CleanBlocksOfThePlayedToneAreNeverTakenForBlocksWithGaps)
{
    for (int db : {0, -20, -60}) {
        for (int waveform : {kWaveSine, kWaveSquare}) {
            SCOPED_TRACE(testing::Message() << db << " dB, waveform " << waveform);
            ASSERT_EQ(engine.StartPlayback(997, -1, Sine(db, db - 6, waveform)), 0);
            engine.ResetDroppedBlocks();
            for (int frames : {4096, 8190}) {
                EXPECT_EQ(Capture(frames).size(), 2u * frames);
            }
            EXPECT_EQ(engine.DroppedBlocks(), 0);
            engine.StopPlayback();
        }
    }
}

TEST_F(CaptureTest, SwapFlagPutsTheLeftInputOnEvenPositions)
{
    engine.SetSwapFlags(true, false);
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, -20)), 0);
    const std::vector<float> v = Capture(4410);
    ASSERT_EQ(v.size(), 8820u);
    EXPECT_NEAR(test::ToneAmplitude(v.data(), 0, 4410, 1000.0, kRate), 1.0, 1e-3);
    EXPECT_NEAR(test::ToneAmplitude(v.data(), 1, 4410, 1000.0, kRate), 0.1, 1e-3);
}

TEST_F(CaptureTest, EightAndTwentyFourBitFormatsConvertToFullScaleOne)
{
    for (int bits : {8, 24}) {
        SCOPED_TRACE(bits);
        engine.StopPlayback();
        engine.SetFormatBits(bits, bits);
        int in = 0, out = 0;
        engine.GetFormatBits(in, out);
        EXPECT_EQ(in, bits);
        ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, -6)), 0);
        const std::vector<float> v = Capture(4410);
        ASSERT_EQ(v.size(), 8820u);
        const double tolerance = bits == 8 ? 0.01 : 1e-4;
        EXPECT_NEAR(test::ToneAmplitude(v.data(), 1, 4410, 1000.0, kRate), 1.0, tolerance);
        EXPECT_NEAR(test::ToneAmplitude(v.data(), 0, 4410, 1000.0, kRate), std::pow(10.0, -0.3), tolerance);
    }
    EXPECT_EQ(engine.InDeviceFormats()[0].Format.BitsPerSample, 32);
    EXPECT_EQ(engine.InDeviceFormats()[0].Format.BlockAlign, 8);
}

TEST_F(CaptureTest, FullScaleSquareCountsOverloadsOnlyAtTheRawExtremes)
{
    // 8 bits: +1 is stored as 255 (an overload), -1 as 1 (not one).
    engine.SetFormatBits(8, 8);
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, 0, kWaveSquare)), 0);
    int overloads = -1;
    std::vector<float> v = Capture(4410, &overloads);
    ASSERT_EQ(v.size(), 8820u);
    int positive = 0;
    for (float x : v) {
        ASSERT_GT(std::fabs(x), 0.9f);
        positive += x > 0.0f ? 1 : 0;
    }
    EXPECT_GT(positive, 4000);
    EXPECT_EQ(overloads, positive);

    // 16 bits: +1 is 32767 (an overload), -1 is -32767 (not one).
    engine.StopPlayback();
    engine.SetFormatBits(16, 16);
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, 0, kWaveSquare)), 0);
    v = Capture(4410, &overloads);
    positive = 0;
    for (float x : v) {
        positive += x > 0.0f ? 1 : 0;
    }
    EXPECT_GT(positive, 4000);
    EXPECT_EQ(overloads, positive);

    // 24 bits: +1 is the largest 24-bit sample (2^31 - 256 in its container), an
    // overload like the others.
    engine.StopPlayback();
    engine.SetFormatBits(24, 24);
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(0, 0, kWaveSquare)), 0);
    v = Capture(4410, &overloads);
    EXPECT_EQ(v.size(), 8820u);
    positive = 0;
    for (float x : v) {
        positive += x > 0.0f ? 1 : 0;
    }
    EXPECT_GT(positive, 4000);
    EXPECT_EQ(overloads, positive);
}

TEST_F(CaptureTest, SilenceRecordsZerosWithoutOverload)
{
    int overloads = -1;
    const std::vector<float> v = Capture(1024, &overloads);
    ASSERT_EQ(v.size(), 2048u);
    EXPECT_EQ(overloads, 0);
    for (float x : v) {
        ASSERT_EQ(x, 0.0f);
    }
}

TEST_F(CaptureTest, SecondStartWhileInFlightReturnsZeroAndOnlyTheSecondHandlerGetsTheBlock)
{
    int first = 0, second = 0, count = 0, over = 0;
    std::uint32_t user = 0;
    ASSERT_EQ(engine.StartCapture(1024, 7, [&] { ++first; }), 0);
    ASSERT_EQ(engine.StartCapture(2048, 9, [&] {
        ++second;
        engine.TakeCapturedBlock(count, over, user);
    }), 0);
    EXPECT_EQ(card.PostedInData(), 1u);
    port.Pump();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    // The header was left as the first call set it up.
    EXPECT_EQ(count, 2048);
    EXPECT_EQ(user, 7u);
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_FALSE(engine.CaptureStarted());
}

TEST_F(CaptureTest, UserValueTravelsWithTheBlock)
{
    std::uint32_t user = 0;
    int count = 0, over = 0;
    ASSERT_EQ(engine.StartCapture(512, 0x12345678u, [&] { engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    EXPECT_EQ(user, 0x12345678u);
    EXPECT_EQ(count, 1024);
    EXPECT_EQ(engine.BlockValueCount(), 1024);
}

TEST_F(CaptureTest, LateCompletionReachesTheLastHandlerWhichCanStillTakeTheBlock)
{
    int calls = 0;
    const void* header = nullptr;
    std::uint64_t session = 0;
    struct Spy : MessagePort {
        const void** seen;
        std::uint64_t* seenSession;
        Spy(const void** s, std::uint64_t* n) : seen(s), seenSession(n) {}
        void PostWaveInData(const void* h, std::uint64_t n) override
        {
            *seen = h;
            *seenSession = n;
        }
        void DrainMessages(int) override {}
    } spy(&header, &session);
    engine.SetMessagePort(&spy);
    ASSERT_EQ(engine.StartCapture(256, 0, [&] {
        ++calls;
        int c = 0, o = 0;
        std::uint32_t u = 0;
        EXPECT_NE(engine.TakeCapturedBlock(c, o, u), nullptr);
        EXPECT_EQ(c, 512);
    }), 0);
    ASSERT_NE(header, nullptr);
    engine.OnWaveInData(header, session);
    engine.OnWaveInData(header, session);  // a repeated, late message
    EXPECT_EQ(calls, 2);
    // A header the engine does not own, or one from an earlier start-up, is ignored.
    int foreign = 0;
    engine.OnWaveInData(&foreign, session);
    engine.OnWaveInData(header, session + 1);
    EXPECT_EQ(calls, 2);
    engine.SetMessagePort(&port);
}

TEST_F(CaptureTest, BlockThatDoesNotFitIsRefusedWithInvalidParameter)
{
    EXPECT_EQ(engine.StartCapture(0, 0, [] {}), static_cast<int>(kMmInvalidParam));
    EXPECT_EQ(engine.StartCapture(SoundEngine::kMaxCaptureFrames + 1, 0, [] {}), static_cast<int>(kMmInvalidParam));
    EXPECT_EQ(engine.EngineError(), static_cast<int>(kMmInvalidParam));
    EXPECT_FALSE(engine.CaptureOpen());
}

TEST_F(CaptureTest, LongBlocksAtEveryDepthComeBackWholeWithTheTone)
{
    // The buffers grow to a block far beyond the first 65520 bytes, for 8, 16 and 24 bits.
    ASSERT_EQ(engine.StartPlayback(1000, -1, Sine(-6, -6)), 0);
    for (int bits : {24, 16, 8}) {
        engine.SetFormatBits(bits, bits);
        const int frames = 176400;  // 4 s, exactly 4000 periods
        const std::vector<float> v = Capture(frames);
        ASSERT_EQ(v.size(), 2u * frames) << bits;
        const double last = test::ToneAmplitude(v.data() + 2 * (frames - 4410), 1, 4410, 1000.0, kRate);
        EXPECT_NEAR(20.0 * std::log10(last), -6.0, 0.05) << bits;
    }
    engine.StopPlayback();
}

TEST_F(CaptureTest, CancelledBlockClosesTheDeviceAndNeverReachesTheHandler)
{
    int calls = 0;
    ASSERT_EQ(engine.StartCapture(SoundEngine::kMaxCaptureFrames, 0, [&] { ++calls; }), 0);
    EXPECT_NEAR(engine.CaptureSeconds(), SoundEngine::kMaxCaptureFrames / kRate, 1e-9);
    EXPECT_LE(engine.CaptureSecondsRecorded(), engine.CaptureSeconds());
    engine.CancelCapture();
    port.Pump();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_EQ(engine.CaptureSeconds(), 0.0);
    EXPECT_EQ(Capture(1024).size(), 2048u);  // the next block records as usual
}

// ---- Failure paths ---------------------------------------------------------------------

class CaptureFailureTest : public CaptureTest {
protected:
    std::vector<std::string> NewReportLines(std::size_t before) const
    {
        const auto& r = engine.DeviceReport();
        return {r.begin() + static_cast<std::ptrdiff_t>(before), r.end()};
    }
    std::string InText(MmResult code)
    {
        std::string text;
        card.WaveInGetErrorText(code, text);
        return text;
    }
};

TEST_F(CaptureFailureTest, RefusedFormatReportsQueryErrorAndReturnsItsCode)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveInOpenQuery, kWaveBadFormat);
    EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 32);
    EXPECT_EQ(engine.EngineError(), 32);
    EXPECT_EQ(NewReportLines(before), std::vector<std::string>{"InFormatQuery Error "});
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_EQ(Capture(64).size(), 128u);  // nothing stays in the way
}

TEST_F(CaptureFailureTest, OpenErrorReportsCodeAndTextAndLeavesDeviceClosed)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 4);
    EXPECT_EQ(engine.EngineError(), 4);
    const std::vector<std::string> expected = {"waveinOpen Error 4", InText(kMmAllocated)};
    EXPECT_EQ(NewReportLines(before), expected);
    EXPECT_FALSE(expected[1].empty());
    EXPECT_FALSE(engine.CaptureOpen());
}

TEST_F(CaptureFailureTest, PrepareErrorReturnsCodeWithoutReportAndTheNextStartRecovers)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveInPrepareHeader, kMmNoMem);
    EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 7);
    EXPECT_EQ(engine.EngineError(), 7);
    EXPECT_TRUE(NewReportLines(before).empty());
    EXPECT_TRUE(engine.CaptureOpen());
    // The device stays open, but no block is in flight: the next start closes it and
    // records.
    int count = 0, over = 0;
    std::uint32_t user = 0;
    EXPECT_EQ(engine.StartCapture(1024, 0, [&] { engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    EXPECT_EQ(card.PostedInData(), 1u);
    EXPECT_EQ(count, 2048);
    // A reset of the sound system leaves capture working.
    engine.ShutdownSoundEngine();
    EXPECT_FALSE(engine.CaptureOpen());
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    EXPECT_EQ(Capture(64).size(), 128u);
}

TEST_F(CaptureFailureTest, AddBufferErrorReportsCodeAndText)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveInAddBuffer, kMmInvalidParam);
    EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 11);
    const std::vector<std::string> expected = {"waveInAddBuffer Error 11", InText(kMmInvalidParam)};
    EXPECT_EQ(NewReportLines(before), expected);
    EXPECT_TRUE(engine.CaptureOpen());
    EXPECT_FALSE(engine.CaptureStarted());
    engine.ShutdownSoundEngine();
    EXPECT_FALSE(engine.CaptureOpen());
    ASSERT_EQ(engine.InitSoundEngine(), 0);
}

TEST_F(CaptureFailureTest, StartErrorReportsCodeAndText)
{
    const std::size_t before = engine.DeviceReport().size();
    card.InjectFault(WaveCall::WaveInStart, kMmError);
    EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 1);
    EXPECT_EQ(engine.EngineError(), 1);
    const std::vector<std::string> expected = {"waveInStart Error 1", InText(kMmError)};
    EXPECT_EQ(NewReportLines(before), expected);
    EXPECT_TRUE(engine.CaptureOpen());
    EXPECT_FALSE(engine.CaptureStarted());
    engine.ShutdownSoundEngine();
    EXPECT_FALSE(engine.CaptureOpen());
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    EXPECT_EQ(Capture(64).size(), 128u);
}

TEST_F(CaptureFailureTest, CloseFailureGivesNoDataErrorNineAndTheNextStartClosesTheDeviceAndRecords)
{
    card.InjectFault(WaveCall::WaveInClose, kMmInvalidHandle);
    const float* data = reinterpret_cast<const float*>(1);
    int count = -1, over = -1, calls = 0;
    std::uint32_t user = 0;
    ASSERT_EQ(engine.StartCapture(1024, 0, [&] {
        ++calls;
        data = engine.TakeCapturedBlock(count, over, user);
    }), 0);
    port.Pump();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(engine.EngineError(), 9);
    EXPECT_TRUE(engine.CaptureOpen());
    EXPECT_EQ(engine.DeviceErrorText(9), "The input device could not be closed.");

    // No block is in flight for the device left open: the next start closes it and
    // records, instead of answering 0 and recording nothing.
    const unsigned posted = card.PostedInData();
    ASSERT_EQ(engine.StartCapture(64, 0, [&] {
        ++calls;
        data = engine.TakeCapturedBlock(count, over, user);
    }), 0);
    port.Pump();
    EXPECT_EQ(card.PostedInData(), posted + 1);
    EXPECT_EQ(calls, 2);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(count, 128);
    EXPECT_FALSE(engine.CaptureOpen());
}

TEST_F(CaptureFailureTest, ADeviceThatStaysOpenMakesTheNextStartFailWithErrorNine)
{
    int count = 0, over = 0, calls = 0;
    std::uint32_t user = 0;
    card.InjectFault(WaveCall::WaveInClose, kMmInvalidHandle, true);
    ASSERT_EQ(engine.StartCapture(64, 0, [&] { ++calls; engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    ASSERT_EQ(engine.EngineError(), 9);
    const unsigned posted = card.PostedInData();
    EXPECT_EQ(engine.StartCapture(64, 0, [&] { ++calls; }), 9);
    EXPECT_EQ(engine.EngineError(), 9);
    EXPECT_EQ(card.PostedInData(), posted);

    // Once the device closes again, capture works without a restart.
    card.ClearFaults();
    ASSERT_EQ(engine.StartCapture(64, 0, [&] { ++calls; engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(count, 128);
}

TEST_F(CaptureFailureTest, ResetFailureKeepsTheCaptureMarkedStartedUntilTheNextStart)
{
    card.InjectFault(WaveCall::WaveInReset, kMmError);
    int count = 0, over = 0;
    std::uint32_t user = 0;
    ASSERT_EQ(engine.StartCapture(128, 0, [&] { engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    EXPECT_EQ(count, 256);  // the device closed, the block is there
    EXPECT_TRUE(engine.CaptureStarted());
    EXPECT_FALSE(engine.CaptureOpen());
    // The mark outlives the closed device, but no block is in flight: the next start
    // clears it and records.
    count = 0;
    EXPECT_EQ(engine.StartCapture(128, 0, [&] { engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    EXPECT_EQ(count, 256);
    EXPECT_FALSE(engine.CaptureStarted());
    EXPECT_FALSE(engine.CaptureOpen());
}

TEST(CaptureWithoutEngineMemory, StartAndTakeFailCleanly)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 3);
    int count = -1, over = -1;
    std::uint32_t user = 1;
    EXPECT_EQ(engine.TakeCapturedBlock(count, over, user), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(engine.EngineError(), 3);
}

}  // namespace
}  // namespace sonvera
