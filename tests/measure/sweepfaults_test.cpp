// Device faults at every step of a running sweep: each playback and capture call of
// the step failing with each error code, on the first step and in the middle of the
// sweep. The sweep ends with "ERROR at Frequency Output (" + text + ")", the tone is off,
// the controls are unlocked through the view, and after a restart of the engine (what
// "&Reset Soundsystem" does) a new sweep measures every point again.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "config/sections.h"
#include "engine/soundengine.h"
#include "measure/generatorcontrol.h"
#include "measure/prompt.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

class PointDiagram : public SweepDiagram {
public:
    bool PrepareDiagram(const std::string&, int, int, int, float&, float&) override { return false; }
    void ClearDiagramData() override { points.clear(); }
    void ResetDiagramScales() override {}
    void SetCurvesShown(bool, bool) override {}
    void SetAxesShown(bool, bool) override {}
    void SetLevelRange(float, float) override {}
    void SetSecondRange(float, float) override {}
    void GetLevelRange(float& min, float& max) const override { min = -45, max = 5; }
    bool StoreDiagramPoint(const float* v, int, int index, float f) override
    {
        points[index] = {f, v[0], v[1]};
        return false;
    }
    void SetResultLine(const std::string&) override {}
    std::string GetComment() const override { return "Kommentar:"; }
    void Repaint() override {}
    void Show(bool) override {}

    struct Point {
        float f, v1, v2;
    };
    std::map<int, Point> points;
};

class LockView : public SweepPageView {
public:
    void SetSweepLockedControlsEnabled(bool e) override { lockedEnabled = e; }
    void SetFreqText(const std::string& t) override { freqText = t; }
    void PostSweepStep() override { ++queued; }
    /// The settle wait: what the user does meanwhile.
    bool SettleWait(int) override
    {
        if (onWait) onWait();
        return true;
    }
    std::function<void()> onWait;
    bool lockedEnabled = true;
    std::string freqText;
    int queued = 0;
};

class Recorder : public PromptService {
public:
    Recorder() { previous = SetPromptService(this); }
    ~Recorder() override { SetPromptService(previous); }
    void Show(const Prompt& p) override { shown.push_back(p); }
    std::vector<Prompt> shown;
    PromptService* previous = nullptr;
};

// A general code, a device code and a wave code: the texts differ, the paths do not
// (the engine's own matrix runs every code through every call).
constexpr MmResult kCodes[] = {kMmError, kMmAllocated, kWaveBadFormat};

/// The calls a step makes to start its tone and its block.
struct StepCall {
    WaveCall call;
    const char* name;
};
constexpr StepCall kStepCalls[] = {
    {WaveCall::WaveOutOpenQuery, "output open (format query)"},
    {WaveCall::WaveOutOpen, "output open"},
    {WaveCall::WaveOutPrepareHeader, "output prepare"},
    {WaveCall::WaveOutWrite, "output write"},
    {WaveCall::WaveInOpenQuery, "input open (format query)"},
    {WaveCall::WaveInOpen, "input open"},
    {WaveCall::WaveInPrepareHeader, "input prepare"},
    {WaveCall::WaveInAddBuffer, "input add buffer"},
    {WaveCall::WaveInStart, "input start"},
};

class SweepFaultTest : public ::testing::Test {
protected:
    explicit SweepFaultTest(const DutConfig& dut = DutConfig{}) : card(dut, LoopbackClock::Instant) {}

    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        settings.Volume.GenOutVolume = 100;
        SweepSettings& s = settings.Sweep;
        s.SweepLinear = true;
        s.SweepFrom = 1000;
        s.SweepTo = 5000;
        s.SweepSteps = 4;  // 1000, 2000, 3000, 4000, 5000 Hz
        s.SweepWithRef = true;
        s.SweepLevel = -6.0f;
        s.SweepSettleTime = 0;
        run.EnterGeneratorPage();
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    /// Delivers completions and posted steps like the event loop, with `beforeStep` run
    /// before each step is handled (the step's number, counted from 0).
    void RunLoop(const std::function<void(int)>& beforeStep = {})
    {
        port.Pump();
        int step = 0;
        while (view.queued > 0 && step < 50) {
            --view.queued;
            if (beforeStep) beforeStep(step);
            ++step;
            run.SweepStep();
            port.Pump();
        }
    }

    /// The sweep is idle, the tone off, the controls unlocked.
    void ExpectIdle()
    {
        EXPECT_FALSE(run.SweepRunning);
        EXPECT_FALSE(run.SweepToneOn);
        EXPECT_FALSE(engine.PlaybackActive());
        EXPECT_TRUE(view.lockedEnabled);
        EXPECT_EQ(view.freqText, "0");
        EXPECT_EQ(view.queued, 0);
    }

    void ExpectErrorBox(int code)
    {
        ASSERT_EQ(prompts.shown.size(), 1u);
        const Prompt& p = prompts.shown[0];
        EXPECT_EQ(p.kind, PromptKind::Error);
        EXPECT_TRUE(p.helpButton);
        EXPECT_EQ(p.helpContext, 17);
        // Codes up to 1000 are looked up as input texts, whichever device failed; the
        // engine's own 9 (the input device stayed open) has a text of its own.
        std::string text;
        ASSERT_EQ(card.WaveInGetErrorText(static_cast<MmResult>(code), text), kMmNoError);
        if (code == SoundEngine::kEngineCloseFailed) {
            text = "The input device could not be closed.";
        }
        EXPECT_EQ(p.text, "ERROR at Frequency Output (" + text + ")");
    }

    /// What "&Reset Soundsystem" does to the engine, then a whole sweep: five points of
    /// 0 dB gain and 0 degrees through the ideal card.
    void ResetAndSweepAgain()
    {
        engine.ShutdownSoundEngine();
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        prompts.shown.clear();
        run.wobbelnButClick();
        EXPECT_FALSE(view.lockedEnabled);
        RunLoop();
        EXPECT_TRUE(prompts.shown.empty());
        ASSERT_EQ(diagram.points.size(), 5u);
        for (const auto& [index, p] : diagram.points) {
            EXPECT_FLOAT_EQ(p.f, 1000.0f * static_cast<float>(index + 1)) << index;
            EXPECT_NEAR(p.v1, 0.0, 0.01) << index;
            EXPECT_NEAR(p.v2, 0.0, 1.0) << index;
        }
        ExpectIdle();
    }

    LoopbackCard card;
    SoundEngine engine{card};
    test::QueuePort port{engine};
    Settings settings;
    PointDiagram diagram;
    LockView view;
    Recorder prompts;
    CorrectionCurve inCorrection, outCorrection;
    SweepRun run{engine, settings, diagram, view, inCorrection, outCorrection};
};

TEST_F(SweepFaultTest, EveryCallOfAStepFailingEndsTheSweepWithTheErrorBoxAndResetRecovers)
{
    for (const StepCall& c : kStepCalls) {
        for (MmResult code : kCodes) {
            for (int failingStep : {0, 2}) {
                SCOPED_TRACE(testing::Message() << c.name << " code " << code << " step " << failingStep);
                prompts.shown.clear();
                run.wobbelnButClick();
                ASSERT_TRUE(run.SweepRunning);
                EXPECT_FALSE(view.lockedEnabled);
                RunLoop([&](int step) {
                    if (step == failingStep) card.InjectFault(c.call, code);
                });
                // The steps before the failing one keep their points; none after it.
                EXPECT_EQ(diagram.points.size(), static_cast<std::size_t>(failingStep));
                ExpectErrorBox(static_cast<int>(code));
                ExpectIdle();
                ResetAndSweepAgain();
            }
        }
    }
}

TEST_F(SweepFaultTest, ABlockThatCannotBeClosedEndsTheSweepWithoutItsPoint)
{
    for (MmResult code : kCodes) {
        for (int failingStep : {0, 3}) {
            SCOPED_TRACE(testing::Message() << "code " << code << " step " << failingStep);
            prompts.shown.clear();
            run.wobbelnButClick();
            RunLoop([&](int step) {
                if (step == failingStep) card.InjectFault(WaveCall::WaveInClose, code);
            });
            EXPECT_EQ(diagram.points.size(), static_cast<std::size_t>(failingStep));
            EXPECT_EQ(engine.EngineError(), 9);
            ExpectErrorBox(9);
            ExpectIdle();
            ResetAndSweepAgain();
        }
    }
}

TEST_F(SweepFaultTest, UnprepareFailingOnceAfterABlockIsRetriedAndTheSweepCompletes)
{
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        prompts.shown.clear();
        run.wobbelnButClick();
        RunLoop([&](int step) {
            if (step == 1) card.InjectFault(WaveCall::WaveInUnprepareHeader, code);
        });
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_EQ(diagram.points.size(), 5u);
        ExpectIdle();
    }
}

TEST_F(SweepFaultTest, ACaptureResetFailingAfterABlockDoesNotStallTheSweep)
{
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        prompts.shown.clear();
        diagram.points.clear();
        run.wobbelnButClick();
        RunLoop([&](int step) {
            if (step == 1) card.InjectFault(WaveCall::WaveInReset, code);
        });
        // The block of step 1 arrived whole; the capture left marked started has no
        // block in flight, so the next step's start clears the mark and records: every
        // point is there and right, and nothing is shown.
        ASSERT_EQ(diagram.points.size(), 5u);
        for (const auto& [index, p] : diagram.points) {
            EXPECT_FLOAT_EQ(p.f, 1000.0f * static_cast<float>(index + 1)) << index;
            EXPECT_NEAR(p.v1, 0.0, 0.01) << index;
        }
        EXPECT_TRUE(prompts.shown.empty());
        ExpectIdle();
        ResetAndSweepAgain();
    }
}

// ---- The tone of a step that cannot be stopped ------------------------------------------

/// The card's right channel through a low-pass, so that every step has its own gain.
class SweepStopFaultTest : public SweepFaultTest {
protected:
    SweepStopFaultTest() : SweepFaultTest(LowPass()) {}
    static DutConfig LowPass()
    {
        DutConfig dut;
        dut.lowPassHz = 2500.0;
        return dut;
    }

    /// The gains of a sweep without faults, one per step.
    std::vector<float> CleanSweep()
    {
        run.wobbelnButClick();
        RunLoop();
        std::vector<float> gains;
        for (const auto& [index, p] : diagram.points) {
            gains.push_back(p.v1);
        }
        return gains;
    }
};

TEST_F(SweepStopFaultTest, AToneThatCouldNotBeStoppedOnceIsStoppedBeforeTheNextStepAndEveryPointIsRight)
{
    const std::vector<float> clean = CleanSweep();
    ASSERT_EQ(clean.size(), 5u);
    // Each step has a gain of its own, so a point measured with the previous step's tone
    // would show.
    ASSERT_GT(clean[1] - clean[2], 2.0f);
    for (WaveCall call : {WaveCall::WaveOutReset, WaveCall::WaveOutUnprepareHeader, WaveCall::WaveOutClose}) {
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << " code " << code);
            prompts.shown.clear();
            run.wobbelnButClick();
            RunLoop([&](int step) {
                if (step == 1) card.InjectFault(call, code);  // hits the stop of step 1's tone
            });
            EXPECT_TRUE(prompts.shown.empty());
            ASSERT_EQ(diagram.points.size(), 5u);
            for (const auto& [index, p] : diagram.points) {
                EXPECT_NEAR(p.v1, clean[static_cast<std::size_t>(index)], 0.05) << index;
            }
            ExpectIdle();
            EXPECT_FALSE(engine.PlaybackOpen());
        }
    }
}

TEST_F(SweepStopFaultTest, AToneThatCannotBeStoppedEndsTheSweepWithTheErrorBoxInsteadOfAWrongPoint)
{
    const std::vector<float> clean = CleanSweep();
    ASSERT_EQ(clean.size(), 5u);
    for (WaveCall call : {WaveCall::WaveOutReset, WaveCall::WaveOutClose}) {
        SCOPED_TRACE(static_cast<int>(call));
        prompts.shown.clear();
        run.wobbelnButClick();
        RunLoop([&](int step) {
            if (step == 1) card.InjectFault(call, kWaveStillPlaying, true);
        });
        // Steps 0 and 1 measured; step 2 could not start its own tone.
        EXPECT_EQ(diagram.points.size(), 2u);
        ExpectErrorBox(static_cast<int>(kMmError));
        EXPECT_FALSE(run.SweepRunning);
        EXPECT_TRUE(view.lockedEnabled);
        card.ClearFaults();
        // The reset stops the tone; the next sweep measures every step again.
        engine.ShutdownSoundEngine();
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        EXPECT_FALSE(engine.PlaybackActive());
        prompts.shown.clear();
        const std::vector<float> again = CleanSweep();
        ASSERT_EQ(again.size(), 5u);
        for (std::size_t i = 0; i < again.size(); ++i) {
            EXPECT_NEAR(again[i], clean[i], 0.05) << i;
        }
        EXPECT_TRUE(prompts.shown.empty());
        ExpectIdle();
    }
}

// ---- The generator's controls during a sweep step --------------------------------------------

TEST_F(SweepFaultTest, GeneratorControlsTouchedDuringASweepStepLeaveTheSweepsToneAlone)
{
    GeneratorSettings generatorSettings;
    GeneratorControl generator{engine, generatorSettings, outCorrection};
    // The user moves the generator's left level and its frequency while a step settles.
    view.onWait = [&] {
        generator.ScrollBar4Scroll(20);
        generator.GrobSpinUp();
    };
    run.wobbelnButClick();
    RunLoop();
    view.onWait = nullptr;
    EXPECT_TRUE(prompts.shown.empty());
    ASSERT_EQ(diagram.points.size(), 5u);
    for (const auto& [index, p] : diagram.points) {
        // Still the sweep's own tone on both channels: 0 dB through the ideal card.
        EXPECT_NEAR(p.v1, 0.0, 0.01) << index;
    }
    ExpectIdle();
    EXPECT_NE(generator.Display.panelColour, kColourDarkRed);
}

}  // namespace
}  // namespace sonvera
