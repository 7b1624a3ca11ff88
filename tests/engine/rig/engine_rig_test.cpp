// The sound engine on a real sound server: a private PulseAudio daemon with a null sink
// (the ctest fixture pulse_rig), played through StartPlayback and recorded from the
// sink's monitor through StartCapture. Skipped, with the reason, where the rig is not up.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dsp/logsweep.h"
#include "dsp/logsweepanalysis.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "platform/wavelayer.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

std::string RigProblem()
{
    const char* dir = std::getenv("SONVERA_PULSE_RIG");
    if (dir == nullptr || !std::filesystem::exists(std::string(dir) + "/up")) {
        return "the PulseAudio rig is not up (run through ctest, which starts the fixture "
               "pulse_rig; pulseaudio must be installed)";
    }
    return "";
}

class EngineRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string problem = RigProblem(); !problem.empty()) {
            GTEST_SKIP() << problem;
        }
        std::string error;
        layer_ = CreateWaveLayer(AudioBackend::PortAudio, DutConfig{}, error);
        if (!layer_) {
            GTEST_SKIP() << "PortAudio cannot start: " << error;
        }
        engine_ = std::make_unique<SoundEngine>(*layer_);
        port_ = std::make_unique<test::QueuePort>(*engine_);
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        summary_ = engine_->BuildDeviceReport(in, out, formats);
        ASSERT_GT(in, 0);
        ASSERT_GT(out, 0);
        ASSERT_EQ(engine_->InitSoundEngine(), 0);
        // Device 0 is the server's default device (the null sink and its monitor).
        ASSERT_NE(engine_->DeviceName('I', 0), LoopbackCard::kProductName);
        engine_->SelectInDevice(0);
        engine_->SelectOutDevice(0);
        engine_->SetOutputVolume(100);
    }
    void TearDown() override
    {
        if (engine_) {
            engine_->ShutdownSoundEngine();
        }
    }

    /// One block of frames frames; empty when no completion arrived in time.
    std::vector<float> Capture(int frames)
    {
        std::vector<float> values;
        int calls = 0;
        EXPECT_EQ(engine_->StartCapture(frames, 0, [&] {
            ++calls;
            int count = 0, over = 0;
            std::uint32_t user = 0;
            if (const float* data = engine_->TakeCapturedBlock(count, over, user)) {
                values.assign(data, data + count);
            }
        }), 0);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (calls == 0 && std::chrono::steady_clock::now() < limit) {
            if (port_->Pump() == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        EXPECT_EQ(calls, 1);
        return values;
    }

    std::unique_ptr<WaveLayer> layer_;
    std::unique_ptr<SoundEngine> engine_;
    std::unique_ptr<test::QueuePort> port_;
    std::string summary_;
};

TEST_F(EngineRig, ReportListsTheServerDevices)
{
    const auto& lines = engine_->DeviceReport();
    bool realIn = false;
    for (std::size_t i = 7; i < lines.size() && lines[i] != " "; i += 4) {
        realIn = realIn || lines[i] != LoopbackCard::kProductName;
    }
    EXPECT_TRUE(realIn) << engine_->DeviceReportText();
    EXPECT_NE(summary_.find(" / "), std::string::npos);
    // The rig's daemon runs at PulseAudio's default sample rate, 44100 Hz.
    EXPECT_NE(engine_->DeviceReportText().find("Own rate in 0: 44100 Hz"), std::string::npos)
        << engine_->DeviceReportText();
}

TEST_F(EngineRig, SinePlayedIsRecordedFromTheMonitorAtItsLevelAndFrequency)
{
    GeneratorParams p;
    p.levelLeftDb = -6;
    p.levelRightDb = -12;
    ASSERT_EQ(engine_->StartPlayback(1000, -1, p), 0);
    // Let the stream run in before the block that is measured.
    std::vector<float> v;
    for (int i = 0; i < 5; ++i) {
        v = Capture(4410);
    }
    ASSERT_EQ(v.size(), 8820u);
    const double left = test::ToneAmplitude(v.data(), 1, 4410, 1000.0, 44100.0);
    const double right = test::ToneAmplitude(v.data(), 0, 4410, 1000.0, 44100.0);
    EXPECT_NEAR(20.0 * std::log10(left), -6.0, 0.5);
    EXPECT_NEAR(20.0 * std::log10(right), -12.0, 0.5);
    // The strongest 10 Hz bin between 500 and 1500 Hz is within one bin of 1 kHz.
    double best = 0.0, bestHz = 0.0;
    for (double f = 500.0; f <= 1500.0; f += 10.0) {
        const double a = test::ToneAmplitude(v.data(), 1, 4410, f, 44100.0);
        if (a > best) {
            best = a;
            bestHz = f;
        }
    }
    EXPECT_NEAR(bestHz, 1000.0, 10.0);
    engine_->StopPlayback();
    EXPECT_FALSE(engine_->PlaybackActive());
}

TEST_F(EngineRig, LogSweepThroughTheServerIsFlatAndItsDelayTheSameFromRunToRun)
{
    // 3 s from 20 Hz to 20 kHz at -6 dB, 48 kHz, with the left input as reference: the
    // right input against it. Stereo (each against the played sweep) shows the round
    // trip's latency, which depends on where the two streams' callbacks happen to stand;
    // it is printed for the record.
    engine_->SetSampleRates(48000, 48000);
    LogSweepParams params;
    params.rateHz = 48000;
    const LogSweepDesign design = DesignLogSweep(params);
    const std::vector<float> played = MakeLogSweep(design);
    std::vector<double> delays;
    for (const LogSweepMode mode :
         {LogSweepMode::Reference, LogSweepMode::Reference, LogSweepMode::Stereo, LogSweepMode::Stereo}) {
        std::vector<float> right, left;
        int over = 0;
        // A recording that lost frames (a busy machine) is never handed out: swept again.
        bool taken = false;
        for (int attempt = 0; attempt < 5 && !taken; ++attempt) {
            int done = 0;
            ASSERT_EQ(engine_->StartPlayRecord(played, played.size() + 24000, [&] { ++done; }), 0);
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (done == 0 && std::chrono::steady_clock::now() < limit) {
                if (port_->Pump() == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            ASSERT_EQ(done, 1);
            taken = engine_->TakePlayRecording(right, left, over);
            if (!taken) {
                ASSERT_EQ(engine_->EngineError(), SoundEngine::kEngineFramesLost);
                std::printf("[ rig ] the recording lost frames: swept again\n");
            }
        }
        if (!taken) {
            // Each recording was refused, as a recording with a gap must be; the machine
            // is too busy for this reading now.
            GTEST_SKIP() << "every one of 5 recordings lost frames: the machine is too busy to measure";
        }
        EXPECT_EQ(over, 0);
        const LogSweepResult r =
            AnalyseLogSweep(design, {right.data(), left.data(), right.size(), played.data()}, mode, 48);
        ASSERT_EQ(r.error, LogSweepError::None);
        double deviation = 0.0;
        for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
            if (r.freqHz[i] >= 30.0 && r.freqHz[i] <= 18000.0) {
                deviation = std::max(deviation, std::fabs(r.right.levelDb[i]));
            }
        }
        std::printf("[ rig ] %s: level within %.3f dB, delay %.2f samples (right %.2f, left %.2f)\n",
                    mode == LogSweepMode::Reference ? "reference" : "stereo", deviation, r.DelaySamples(),
                    r.right.delaySamples, r.left.delaySamples);
        if (mode == LogSweepMode::Reference) {
            EXPECT_LT(deviation, 0.1);
            delays.push_back(r.DelaySamples());
        }
    }
    ASSERT_EQ(delays.size(), 2u);
    EXPECT_NEAR(delays[0], delays[1], 0.1);
    EXPECT_NEAR(delays[0], 0.0, 0.1);
}

}  // namespace
}  // namespace sonvera
