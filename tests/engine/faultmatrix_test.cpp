// Every wave-layer call of capture, playback and the volumes failing with each error
// code the layer uses, at the first block and after good blocks: the exact return code,
// EngineError and report lines, the state left behind, and recovery by a restart of
// the engine (what "&Reset Soundsystem" does).

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "engine/volume.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

/// The codes a wave layer gives for a failing call (general MMSYSERR and WAVERR codes).
constexpr MmResult kCodes[] = {
    kMmError,         kMmBadDeviceId, kMmNotEnabled,    kMmAllocated,    kMmInvalidHandle, kMmNoDriver,
    kMmNoMem,         kMmNotSupported, kMmInvalidFlag,  kMmInvalidParam, kMmHandleBusy,    kWaveBadFormat,
    kWaveStillPlaying, kWaveUnprepared, kWaveSync,
};

/// Good blocks recorded before the fault: the very first block, and one in a running loop.
constexpr int kSteps[] = {0, 3};

/// One engine on the virtual card's instant clock, started as the main window does.
struct Rig {
    Rig()
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        started = engine.InitSoundEngine();
        engine.SetOutputVolume(100);
    }
    ~Rig() { engine.ShutdownSoundEngine(); }

    /// Records one block through the message path. True when the handler got values.
    bool CaptureOne(int frames = 256)
    {
        int count = -1;
        const int r = engine.StartCapture(frames, 0, [&] {
            int over = 0;
            std::uint32_t user = 0;
            const float* data = engine.TakeCapturedBlock(count, over, user);
            if (data == nullptr) {
                count = -1;
            }
        });
        port.Pump();
        return r == 0 && count == 2 * frames;
    }

    /// The restart of "&Reset Soundsystem".
    bool Restart()
    {
        engine.ShutdownSoundEngine();
        const bool ok = engine.InitSoundEngine() == 0;
        engine.SetOutputVolume(100);  // the start sets the output to 25 %
        return ok;
    }

    std::vector<std::string> ReportSince(std::size_t before) const
    {
        const auto& r = engine.DeviceReport();
        return {r.begin() + static_cast<std::ptrdiff_t>(before), r.end()};
    }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    test::QueuePort port{engine};
    int started = -1;
};

std::string InText(MmResult code)
{
    LoopbackCard card;
    std::string text;
    EXPECT_EQ(card.WaveInGetErrorText(code, text), kMmNoError) << code;
    return text;
}

std::string OutText(MmResult code)
{
    LoopbackCard card;
    std::string text;
    EXPECT_EQ(card.WaveOutGetErrorText(code, text), kMmNoError) << code;
    return text;
}

GeneratorParams Tone()
{
    GeneratorParams p;
    p.frequencyHz = 1000;
    p.levelLeftDb = -6;
    p.levelRightDb = -6;
    p.waveform = kWaveSine;
    return p;
}

// ---- Capture: the calls of StartCapture ------------------------------------------------

struct StartCall {
    WaveCall call;
    const char* reportLead;  // first report line before the code; nullptr: no line
    bool withCodeAndText;    // the lead is followed by the code, then a line with the text
    bool deviceStaysOpen;    // a failure after the open leaves the device open
};

constexpr StartCall kCaptureStartCalls[] = {
    {WaveCall::WaveInOpenQuery, "InFormatQuery Error ", false, false},
    {WaveCall::WaveInOpen, "waveinOpen Error ", true, false},
    {WaveCall::WaveInPrepareHeader, nullptr, false, true},
    {WaveCall::WaveInAddBuffer, "waveInAddBuffer Error ", true, true},
    {WaveCall::WaveInStart, "waveInStart Error ", true, true},
};

TEST(CaptureFaultMatrix, EveryStartCallFailingGivesItsCodeReportLinesAndRecoversAfterARestart)
{
    for (const StartCall& c : kCaptureStartCalls) {
        for (MmResult code : kCodes) {
            for (int step : kSteps) {
                SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(c.call) << " code " << code
                                                << " step " << step);
                Rig rig;
                ASSERT_EQ(rig.started, 0);
                for (int i = 0; i < step; ++i) {
                    ASSERT_TRUE(rig.CaptureOne());
                }
                const std::size_t before = rig.engine.DeviceReport().size();
                const unsigned posted = rig.card.PostedInData();
                int calls = 0;
                rig.card.InjectFault(c.call, code);
                EXPECT_EQ(rig.engine.StartCapture(256, 0, [&] { ++calls; }), static_cast<int>(code));
                EXPECT_EQ(rig.engine.EngineError(), static_cast<int>(code));

                std::vector<std::string> expected;
                if (c.reportLead != nullptr && c.withCodeAndText) {
                    expected = {c.reportLead + std::to_string(code), InText(code)};
                    EXPECT_FALSE(expected[1].empty());
                    EXPECT_LE(expected[1].size(), 128u);
                } else if (c.reportLead != nullptr) {
                    expected = {c.reportLead};
                }
                EXPECT_EQ(rig.ReportSince(before), expected);
                // The callers' dialogs use the input text for every code up to 1000.
                EXPECT_EQ(rig.engine.DeviceErrorText(code), InText(code));

                EXPECT_EQ(rig.engine.CaptureOpen(), c.deviceStaysOpen);
                EXPECT_FALSE(rig.engine.CaptureStarted());
                rig.port.Pump();
                EXPECT_EQ(calls, 0);  // no completion of a block that never started
                EXPECT_EQ(rig.card.PostedInData(), posted);

                if (c.deviceStaysOpen) {
                    // Left open with no block in flight: the next start closes it first
                    // and records, without a restart of the engine. A buffer the close
                    // hands back never reaches the new capture's handler.
                    EXPECT_TRUE(rig.CaptureOne());
                    EXPECT_FALSE(rig.engine.CaptureOpen());
                    EXPECT_EQ(calls, 0);
                }
                // The very next block records.
                EXPECT_TRUE(rig.CaptureOne());
                EXPECT_EQ(rig.engine.EngineError(), 0);
            }
        }
    }
}

// ---- Capture: the calls of TakeCapturedBlock --------------------------------------------

TEST(CaptureFaultMatrix, UnprepareFailingOnceIsRetriedAfterTheResetAndTheBlockArrives)
{
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        Rig rig;
        ASSERT_TRUE(rig.CaptureOne());
        const std::size_t before = rig.engine.DeviceReport().size();
        rig.card.InjectFault(WaveCall::WaveInUnprepareHeader, code);
        EXPECT_TRUE(rig.CaptureOne());
        EXPECT_EQ(rig.engine.EngineError(), 0);
        EXPECT_FALSE(rig.engine.CaptureOpen());
        EXPECT_FALSE(rig.engine.CaptureStarted());
        EXPECT_TRUE(rig.ReportSince(before).empty());
        EXPECT_TRUE(rig.CaptureOne());
    }
}

TEST(CaptureFaultMatrix, ResetFailingKeepsTheCaptureStartedUntilTheNextStartClearsIt)
{
    for (MmResult code : kCodes) {
        for (int step : kSteps) {
            SCOPED_TRACE(testing::Message() << "code " << code << " step " << step);
            Rig rig;
            for (int i = 0; i < step; ++i) {
                ASSERT_TRUE(rig.CaptureOne());
            }
            rig.card.InjectFault(WaveCall::WaveInReset, code);
            EXPECT_TRUE(rig.CaptureOne());  // the block itself is complete and closed
            EXPECT_EQ(rig.engine.EngineError(), 0);
            EXPECT_TRUE(rig.engine.CaptureStarted());
            EXPECT_FALSE(rig.engine.CaptureOpen());

            // No block is in flight for the mark: the next start clears it and records,
            // and a restart is not needed.
            EXPECT_TRUE(rig.CaptureOne());
            EXPECT_FALSE(rig.engine.CaptureStarted());
            EXPECT_EQ(rig.engine.EngineError(), 0);

            ASSERT_TRUE(rig.Restart());
            EXPECT_FALSE(rig.engine.CaptureStarted());
            EXPECT_TRUE(rig.CaptureOne());
        }
    }
}

TEST(CaptureFaultMatrix, CloseFailingGivesNoBlockAndErrorNineAndTheNextStartClosesTheDevice)
{
    for (MmResult code : kCodes) {
        for (int step : kSteps) {
            SCOPED_TRACE(testing::Message() << "code " << code << " step " << step);
            Rig rig;
            for (int i = 0; i < step; ++i) {
                ASSERT_TRUE(rig.CaptureOne());
            }
            const std::size_t before = rig.engine.DeviceReport().size();
            rig.card.InjectFault(WaveCall::WaveInClose, code);
            const float* data = reinterpret_cast<const float*>(&rig);
            int count = -1, over = -1, calls = 0;
            std::uint32_t user = 1;
            ASSERT_EQ(rig.engine.StartCapture(256, 0, [&] {
                ++calls;
                data = rig.engine.TakeCapturedBlock(count, over, user);
            }), 0);
            rig.port.Pump();
            EXPECT_EQ(calls, 1);
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(count, 0);
            EXPECT_EQ(over, 0);
            EXPECT_EQ(rig.engine.EngineError(), 9);
            EXPECT_EQ(rig.engine.BlockValueCount(), 0);
            EXPECT_TRUE(rig.engine.CaptureOpen());
            EXPECT_TRUE(rig.ReportSince(before).empty());

            // The device left open has no block in flight: the next start closes it
            // and records; the old handler is not called again.
            EXPECT_TRUE(rig.CaptureOne());
            EXPECT_EQ(calls, 1);
            EXPECT_FALSE(rig.engine.CaptureOpen());

            // A device that cannot be closed at all: the start says so with 9.
            ASSERT_EQ(rig.engine.StartCapture(256, 0, [&] {
                ++calls;
                data = rig.engine.TakeCapturedBlock(count, over, user);
            }), 0);
            rig.card.InjectFault(WaveCall::WaveInClose, code, true);
            rig.port.Pump();
            EXPECT_EQ(data, nullptr);
            const unsigned posted = rig.card.PostedInData();
            EXPECT_EQ(rig.engine.StartCapture(256, 0, [&] { ++calls; }), SoundEngine::kEngineCloseFailed);
            EXPECT_EQ(rig.engine.EngineError(), 9);
            EXPECT_EQ(rig.engine.DeviceErrorText(9), "The input device could not be closed.");
            rig.port.Pump();
            EXPECT_EQ(calls, 2);
            EXPECT_EQ(rig.card.PostedInData(), posted);
            rig.card.ClearFaults();

            ASSERT_TRUE(rig.Restart());
            EXPECT_FALSE(rig.engine.CaptureOpen());
            EXPECT_TRUE(rig.CaptureOne());
        }
    }
}

TEST(CaptureFaultMatrix, ARestartWhileAFailedDeviceIsOpenEndsTheQueuedBufferBeforeTheMemoryGoes)
{
    // A buffer queued, then the start failing: the restart's reset returns the buffer,
    // and its completion is delivered while the shutdown drains the queue, as an empty
    // block, before the buffers are freed. Nothing of it arrives after the restart.
    Rig rig;
    int calls = 0, count = -1;
    rig.card.InjectFault(WaveCall::WaveInStart, kMmError);
    ASSERT_EQ(rig.engine.StartCapture(256, 0, [&] {
        ++calls;
        int over = 0;
        std::uint32_t user = 0;
        const float* data = rig.engine.TakeCapturedBlock(count, over, user);
        EXPECT_NE(data, nullptr);
    }), 1);
    rig.engine.ShutdownSoundEngine();
    EXPECT_LE(calls, 1);
    if (calls == 1) {
        EXPECT_EQ(count, 0);
    }
    ASSERT_EQ(rig.engine.InitSoundEngine(), 0);
    const int before = calls;
    rig.port.Pump();
    EXPECT_EQ(calls, before);
    EXPECT_TRUE(rig.CaptureOne());
}

// ---- Playback -----------------------------------------------------------------------------

constexpr StartCall kPlaybackStartCalls[] = {
    {WaveCall::WaveOutOpenQuery, nullptr, false, false},
    {WaveCall::WaveOutOpen, "waveOutOpen Error ", true, false},
    {WaveCall::WaveOutPrepareHeader, "waveOutPrepHeader Error ", true, true},
    {WaveCall::WaveOutWrite, "waveOutWrite Error ", true, true},
};

TEST(PlaybackFaultMatrix, EveryStartCallFailingGivesItsCodeReportLinesAndRecovers)
{
    for (const StartCall& c : kPlaybackStartCalls) {
        for (MmResult code : kCodes) {
            for (bool stopInsteadOfRestart : {true, false}) {
                SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(c.call) << " code " << code
                                                << (stopInsteadOfRestart ? " stop" : " restart"));
                Rig rig;
                ASSERT_EQ(rig.started, 0);
                // A signal that played and stopped before: the fault hits a later start.
                ASSERT_EQ(rig.engine.StartPlayback(1000, -1, Tone()), 0);
                rig.engine.StopPlayback();

                const std::size_t before = rig.engine.DeviceReport().size();
                rig.card.InjectFault(c.call, code);
                EXPECT_EQ(rig.engine.StartPlayback(1000, -1, Tone()), static_cast<int>(code));
                EXPECT_EQ(rig.engine.EngineError(), static_cast<int>(code));
                std::vector<std::string> expected;
                if (c.reportLead != nullptr) {
                    expected = {c.reportLead + std::to_string(code), OutText(code)};
                    EXPECT_FALSE(expected[1].empty());
                }
                EXPECT_EQ(rig.ReportSince(before), expected);
                EXPECT_FALSE(rig.engine.PlaybackActive());
                EXPECT_EQ(rig.engine.PlaybackOpen(), c.deviceStaysOpen);

                if (c.deviceStaysOpen) {
                    // Still open: a start does nothing until the device is stopped.
                    EXPECT_EQ(rig.engine.StartPlayback(1000, -1, Tone()), 0);
                    EXPECT_FALSE(rig.engine.PlaybackActive());
                }
                if (stopInsteadOfRestart) {
                    rig.engine.StopPlayback();
                } else {
                    ASSERT_TRUE(rig.Restart());
                }
                EXPECT_FALSE(rig.engine.PlaybackOpen());
                ASSERT_EQ(rig.engine.StartPlayback(1000, -1, Tone()), 0);
                EXPECT_TRUE(rig.engine.PlaybackActive());
                // And the tone is really heard at the input.
                std::vector<float> block;
                ASSERT_EQ(rig.engine.StartCapture(4410, 0, [&] {
                    int count = 0, over = 0;
                    std::uint32_t user = 0;
                    const float* data = rig.engine.TakeCapturedBlock(count, over, user);
                    if (data != nullptr) block.assign(data, data + count);
                }), 0);
                rig.port.Pump();
                ASSERT_EQ(block.size(), 8820u);
                EXPECT_NEAR(test::ToneAmplitude(block.data(), 1, 4410, 1000.0, 44100.0), 0.5, 0.01);
            }
        }
    }
}

TEST(PlaybackFaultMatrix, StopCallsFailingKeepTheirFlagsAndASecondStopOrARestartEndsTheSignal)
{
    struct StopCase {
        WaveCall call;
        bool activeAfter;  // the flags after the first, partly failed stop
        bool openAfter;
    };
    // A failed reset leaves the looping buffer queued, so the close fails as well.
    const StopCase cases[] = {
        {WaveCall::WaveOutReset, true, true},
        {WaveCall::WaveOutUnprepareHeader, false, false},
        {WaveCall::WaveOutClose, false, true},
    };
    for (const StopCase& c : cases) {
        for (MmResult code : kCodes) {
            for (bool secondStop : {true, false}) {
                SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(c.call) << " code " << code);
                Rig rig;
                ASSERT_EQ(rig.engine.StartPlayback(1000, -1, Tone()), 0);
                const std::size_t before = rig.engine.DeviceReport().size();
                rig.card.InjectFault(c.call, code);
                rig.engine.StopPlayback();
                EXPECT_EQ(rig.engine.PlaybackActive(), c.activeAfter);
                EXPECT_EQ(rig.engine.PlaybackOpen(), c.openAfter);
                EXPECT_TRUE(rig.ReportSince(before).empty());
                if (secondStop) {
                    rig.engine.StopPlayback();
                } else {
                    ASSERT_TRUE(rig.Restart());
                }
                EXPECT_FALSE(rig.engine.PlaybackActive());
                EXPECT_FALSE(rig.engine.PlaybackOpen());
                EXPECT_EQ(rig.engine.StartPlayback(500, -1, Tone()), 0);
                EXPECT_TRUE(rig.engine.PlaybackActive());
            }
        }
    }
}

// ---- Volumes ------------------------------------------------------------------------------

TEST(VolumeFaultMatrix, FailingVolumeCallsAreIgnoredAndReadsGiveMinusOne)
{
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        Rig rig;
        for (WaveCall call : {WaveCall::WaveOutGetVolume, WaveCall::AuxGetVolume, WaveCall::WaveOutSetVolume,
                              WaveCall::AuxSetVolume}) {
            rig.card.InjectFault(call, code, true);
        }
        EXPECT_EQ(rig.engine.GetOutputVolume(), -1);
        EXPECT_EQ(rig.engine.GetLineVolume(0), -1);
        rig.engine.SetOutputVolume(50);
        rig.engine.SetLineVolume(50, SoundEngine::kAllLines);
        rig.engine.SetLineVolume(50, 0);
        // The engine goes on recording.
        EXPECT_TRUE(rig.CaptureOne());
        rig.card.ClearFaults();
        EXPECT_EQ(rig.engine.GetOutputVolume(), 100);
    }
}

TEST(VolumeFaultMatrix, EngineStartsWhatEverVolumeCallFailsAndRestoresOnlyWhatItCouldRead)
{
    // The user's own volumes before the program starts.
    const std::uint32_t userOut = PackVolume(0x4000, 0x4000);
    const std::uint32_t userLine[3] = {PackVolume(0x1111, 0x1111), PackVolume(0x2222, 0x2222),
                                       PackVolume(0x3333, 0x3333)};
    for (WaveCall call : {WaveCall::WaveOutGetVolume, WaveCall::WaveOutSetVolume, WaveCall::AuxGetVolume,
                          WaveCall::AuxSetVolume, WaveCall::AuxGetDevCaps}) {
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << " code " << code);
            LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
            ASSERT_EQ(card.WaveOutSetVolume(0, userOut), kMmNoError);
            for (unsigned d = 0; d < 3; ++d) {
                ASSERT_EQ(card.AuxSetVolume(d, userLine[d]), kMmNoError);
            }
            {
                SoundEngine engine{card};
                test::QueuePort port{engine};
                int in = 0, out = 0;
                std::uint32_t formats = 0;
                engine.BuildDeviceReport(in, out, formats);
                card.InjectFault(call, code, true);
                ASSERT_EQ(engine.InitSoundEngine(), 0);
                EXPECT_NE(engine.CaptureFormats(), 0u);
                engine.SetLineVolume(40, 0);  // what a run does with its saved level
                engine.ShutdownSoundEngine();
                card.ClearFaults();
            }
            std::uint32_t v = 0;
            ASSERT_EQ(card.WaveOutGetVolume(0, v), kMmNoError);
            if (call == WaveCall::WaveOutGetVolume) {
                // Never read, so never "restored": the program's 25 % stays.
                EXPECT_EQ(v, VolumeFromPercent(25));
            } else {
                EXPECT_EQ(v, userOut);
            }
            // A line whose volume cannot be read is never written (it could not be given
            // back); one that was read gets its volume back.
            for (unsigned d = 0; d < 3; ++d) {
                ASSERT_EQ(card.AuxGetVolume(d, v), kMmNoError);
                EXPECT_EQ(v, userLine[d]) << d;
            }
        }
    }
}

// ---- Play and record --------------------------------------------------------------------

struct PlayRecordCall {
    WaveCall call;
    const char* reportLead;  // the first report line; nullptr: none
    bool withCodeAndText;    // the lead is followed by the code, then a line with the text
    bool input;              // that text is the input's (else the output's)
};

constexpr PlayRecordCall kPlayRecordCalls[] = {
    {WaveCall::WaveOutOpenQuery, nullptr, false, false},
    {WaveCall::WaveInOpenQuery, "InFormatQuery Error ", false, true},
    {WaveCall::WaveOutOpen, "waveOutOpen Error ", true, false},
    {WaveCall::WaveInOpen, "waveinOpen Error ", true, true},
    {WaveCall::WaveOutPrepareHeader, "waveOutPrepHeader Error ", true, false},
    {WaveCall::WaveInPrepareHeader, nullptr, false, true},
    {WaveCall::WaveInAddBuffer, "waveInAddBuffer Error ", true, true},
    {WaveCall::WavePlayRecord, "wavePlayRecord Error ", true, false},
};

/// 0.1 s of a 1 kHz sine at half scale, recorded with 10 ms to spare.
struct PlayRecordRig : Rig {
    PlayRecordRig()
    {
        engine.SetSampleRates(48000, 48000);
        for (std::size_t i = 0; i < signal.size(); ++i) {
            signal[i] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0));
        }
    }
    int Start() { return engine.StartPlayRecord(signal, 5280, [this] { ++done; }); }
    /// A whole run: true when both inputs came back as long as asked, the left one the
    /// signal itself.
    bool PlayRecordOne()
    {
        const int before = done;
        if (Start() != 0) {
            return false;
        }
        port.Pump();
        std::vector<float> right, left;
        int over = 0;
        if (done != before + 1 || !engine.TakePlayRecording(right, left, over) || left.size() != 5280) {
            return false;
        }
        for (std::size_t i = 0; i < signal.size(); ++i) {
            if (std::fabs(left[i] - signal[i]) > 1e-4f) {
                return false;
            }
        }
        return !engine.PlayRecordOpen();
    }
    std::vector<float> signal = std::vector<float>(4800);
    int done = 0;
};

TEST(PlayRecordFaultMatrix, EveryStartCallFailingGivesItsCodeLeavesNothingOpenAndTheNextRunWorks)
{
    for (const PlayRecordCall& c : kPlayRecordCalls) {
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(c.call) << " code " << code);
            PlayRecordRig rig;
            ASSERT_TRUE(rig.PlayRecordOne());
            const std::size_t before = rig.engine.DeviceReport().size();
            rig.card.InjectFault(c.call, code);
            EXPECT_EQ(rig.Start(), static_cast<int>(code));
            EXPECT_EQ(rig.engine.EngineError(), static_cast<int>(code));
            std::vector<std::string> expected;
            if (c.reportLead != nullptr && c.withCodeAndText) {
                expected = {c.reportLead + std::to_string(code), c.input ? InText(code) : OutText(code)};
            } else if (c.reportLead != nullptr) {
                expected = {c.reportLead};
            }
            EXPECT_EQ(rig.ReportSince(before), expected);
            EXPECT_FALSE(rig.engine.PlayRecordRunning());
            EXPECT_FALSE(rig.engine.PlayRecordOpen());
            rig.port.Pump();
            EXPECT_EQ(rig.done, 1);  // what the cleanup handed back reaches nobody
            EXPECT_TRUE(rig.PlayRecordOne());
            EXPECT_TRUE(rig.CaptureOne());  // and the block capture still works
        }
    }
}

TEST(PlayRecordFaultMatrix, CloseFailingGivesErrorNineAndTheNextStartClosesFirst)
{
    for (const WaveCall call : {WaveCall::WaveInClose, WaveCall::WaveOutClose}) {
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << " code " << code);
            PlayRecordRig rig;
            ASSERT_EQ(rig.Start(), 0);
            rig.port.Pump();
            rig.card.InjectFault(call, code);
            std::vector<float> right, left;
            int over = 0;
            EXPECT_FALSE(rig.engine.TakePlayRecording(right, left, over));
            EXPECT_EQ(rig.engine.EngineError(), SoundEngine::kEngineCloseFailed);
            EXPECT_TRUE(left.empty());
            EXPECT_TRUE(rig.engine.PlayRecordOpen());
            EXPECT_TRUE(rig.PlayRecordOne());

            // A device that cannot be closed at all: the start says so with 9.
            ASSERT_EQ(rig.Start(), 0);
            rig.port.Pump();
            rig.card.InjectFault(call, code, true);
            EXPECT_FALSE(rig.engine.TakePlayRecording(right, left, over));
            EXPECT_EQ(rig.Start(), SoundEngine::kEngineCloseFailed);
            rig.card.ClearFaults();
            ASSERT_TRUE(rig.Restart());
            EXPECT_FALSE(rig.engine.PlayRecordOpen());
            EXPECT_TRUE(rig.PlayRecordOne());
        }
    }
}

TEST(PlayRecordFaultMatrix, IsRefusedWhileABlockIsInFlightWhichStillArrives)
{
    PlayRecordRig rig;
    int count = -1;
    ASSERT_EQ(rig.engine.StartCapture(256, 0, [&] {
        int over = 0;
        std::uint32_t user = 0;
        rig.engine.TakeCapturedBlock(count, over, user);
    }), 0);
    EXPECT_EQ(rig.Start(), static_cast<int>(kMmAllocated));
    EXPECT_FALSE(rig.engine.PlayRecordOpen());
    rig.port.Pump();
    EXPECT_EQ(count, 512);
    EXPECT_TRUE(rig.PlayRecordOne());
}

}  // namespace
}  // namespace sonvera
