#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "config/sections.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

/// Records what the sweep hands to the diagram.
class RecordingDiagram : public SweepDiagram {
public:
    bool PrepareDiagram(const std::string& c, int lastIndex, int fmin, int fmax, float&, float&) override
    {
        comment = c;
        preparedLast = lastIndex;
        preparedMin = fmin;
        preparedMax = fmax;
        return false;
    }
    void ClearDiagramData() override
    {
        ++clears;
        points.clear();
    }
    void ResetDiagramScales() override { ++resets; }
    void SetCurvesShown(bool a, bool b) override { curve1 = a, curve2 = b; }
    void SetAxesShown(bool a, bool b) override { axis1 = a, axis2 = b; }
    void SetLevelRange(float max, float min) override { levelMax = max, levelMin = min; }
    void SetSecondRange(float max, float min) override { secondMax = max, secondMin = min; }
    void GetLevelRange(float& min, float& max) const override { min = levelMin, max = levelMax; }
    bool StoreDiagramPoint(const float* v, int mode, int index, float f) override
    {
        EXPECT_EQ(mode, 2);
        points[index] = {f, v[0], v[1]};
        return false;
    }
    void SetResultLine(const std::string& t) override { resultLine = t; }
    std::string GetComment() const override { return "Kommentar: sweep"; }
    void Repaint() override { ++repaints; }
    void Show(bool v) override { visible = v; }
    void SetLimitCurves(const LimitCurves* c) override { limitPoints = c != nullptr ? c->freqHz.size() : 0; }

    struct Point {
        float f, v1, v2;
    };
    std::map<int, Point> points;
    std::size_t limitPoints = 0;
    std::string comment, resultLine = "x";
    int preparedLast = 0, preparedMin = 0, preparedMax = 0, clears = 0, resets = 0, repaints = 0;
    bool curve1 = false, curve2 = false, axis1 = false, axis2 = false, visible = false;
    float levelMin = -45, levelMax = 5, secondMin = 0, secondMax = 0;
};

class RecordingView : public SweepPageView {
public:
    void SetOverloadLabel(const std::string& t) override { overload = t; }
    void SetFreqText(const std::string& t) override { freqTexts.push_back(t); }
    void SetStartCaption(const std::string& t) override { startCaption = t; }
    void SetSweepLockedControlsEnabled(bool e) override { lockedEnabled = e; }
    void SetOutputLabel(const std::string& t) override { outputLabel = t; }
    void SetOutputSlider(int p) override { outputSlider = p; }
    bool SettleWait(int ms) override
    {
        waits.push_back(ms);
        if (card != nullptr) {
            card->AdvanceInstantClock(ms);  // the device under test settles meanwhile
        }
        if (onWait) {
            onWait();
        }
        return !engineGone;
    }
    bool RunSweepDialog(SweepSettings& record) override
    {
        ++dialogs;
        if (dialogAccepts) {
            record.SweepPhase = true;
            record.SweepPhaseMin = -45;
            record.SweepPhaseMax = 45;
        }
        return dialogAccepts;
    }
    void PostSweepStep() override { ++queued; }

    bool engineGone = false;
    LoopbackCard* card = nullptr;
    std::string overload = "-", startCaption, outputLabel;
    std::vector<std::string> freqTexts;
    std::vector<int> waits;
    std::function<void()> onWait;
    bool lockedEnabled = true, dialogAccepts = false;
    int outputSlider = -1, queued = 0, dialogs = 0;
};

class RecordingPrompts : public PromptService {
public:
    RecordingPrompts() { previous = SetPromptService(this); }
    ~RecordingPrompts() override { SetPromptService(previous); }
    void Show(const Prompt& p) override { shown.push_back(p); }
    std::vector<Prompt> shown;
    PromptService* previous = nullptr;
};

DutConfig IdealDut()
{
    return DutConfig{};
}

/// Response of the card's device under test at f: gain, 2nd-order Butterworth high- and
/// low-pass mapped by the bilinear transform with the corners prewarped (the analog
/// prototype evaluated at the warped frequency), and the delay.
std::complex<double> DutResponse(const DutConfig& dut, double f, double fs)
{
    using C = std::complex<double>;
    const double w = std::tan(std::numbers::pi * f / fs);
    C h = std::pow(10.0, dut.gainDb / 20.0);
    if (dut.lowPassHz > 0 && dut.lowPassHz < 0.49 * fs) {
        const C s = C(0, w / std::tan(std::numbers::pi * dut.lowPassHz / fs));
        h *= 1.0 / (s * s + std::numbers::sqrt2 * s + 1.0);
    }
    if (dut.highPassHz > 0) {
        const C s = C(0, w / std::tan(std::numbers::pi * dut.highPassHz / fs));
        h *= s * s / (s * s + std::numbers::sqrt2 * s + 1.0);
    }
    h *= std::polar(1.0, -2.0 * std::numbers::pi * f * dut.delaySamples / fs);
    return h;
}

double WrapDegrees(double d)
{
    while (d > 180.0) d -= 360.0;
    while (d <= -180.0) d += 360.0;
    return d;
}

class SweepRunTest : public ::testing::Test {
protected:
    explicit SweepRunTest(DutConfig dut = IdealDut()) : dut_(dut), card(dut, LoopbackClock::Instant) {}

    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        SetDeviceFormat(engine.InDeviceFormats()[0], 16, false, 44100);
        SetDeviceFormat(engine.OutDeviceFormats()[0], 16, false, 48000);
        settings.Volume.GenOutVolume = 100;
        settings.Sweep.SweepLevel = -6.0f;
        view.card = &card;
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    /// Delivers completions and queued WM_SWEEP_STEP messages like the event loop does.
    void RunLoop(int maxSteps = 2000)
    {
        port.Pump();
        while (view.queued > 0 && maxSteps-- > 0) {
            --view.queued;
            run.SweepStep();
            port.Pump();
        }
    }

    DutConfig dut_;
    LoopbackCard card;
    SoundEngine engine{card};
    test::QueuePort port{engine};
    Settings settings;
    RecordingDiagram diagram;
    RecordingView view;
    RecordingPrompts prompts;
    CorrectionCurve inCorrection, outCorrection;
    SweepRun run{engine, settings, diagram, view, inCorrection, outCorrection};
};

TEST(SweepStepFrequency, LogarithmicTwentyToTwentyThousandInThirtyStepsFollowsThePowerLaw)
{
    SweepSettings s;
    s.SweepFrom = 20;
    s.SweepTo = 20000;
    s.SweepSteps = 30;
    s.SweepLinear = false;
    for (int k = 0; k <= 30; ++k) {
        const double expected = std::nearbyint(20.0 * std::pow(1000.0, k / 30.0));
        EXPECT_EQ(SweepStepFrequency(s, k), static_cast<int>(expected)) << k;
    }
    EXPECT_EQ(SweepStepFrequency(s, 0), 20);
    EXPECT_EQ(SweepStepFrequency(s, 10), 200);
    EXPECT_EQ(SweepStepFrequency(s, 30), 20000);
}

TEST(SweepStepFrequency, LinearStepsRoundHalvesToEvenAndDegenerateSettingsStayDefined)
{
    SweepSettings s;
    s.SweepLinear = true;
    s.SweepFrom = 100;
    s.SweepTo = 1000;
    s.SweepSteps = 3;
    EXPECT_EQ(SweepStepFrequency(s, 0), 100);
    EXPECT_EQ(SweepStepFrequency(s, 1), 400);
    EXPECT_EQ(SweepStepFrequency(s, 2), 700);
    EXPECT_EQ(SweepStepFrequency(s, 3), 1000);
    // 100 + 1/4 * 10 = 102.5 -> 102; 100 + 3/4 * 10 = 107.5 -> 108.
    s.SweepTo = 110;
    s.SweepSteps = 4;
    EXPECT_EQ(SweepStepFrequency(s, 1), 102);
    EXPECT_EQ(SweepStepFrequency(s, 3), 108);
    s.SweepSteps = 0;
    EXPECT_EQ(SweepStepFrequency(s, 0), 100);
    s.SweepLinear = false;
    EXPECT_EQ(SweepStepFrequency(s, 0), 333);
    s.SweepSteps = 5;
    s.SweepFrom = 0;
    EXPECT_EQ(SweepStepFrequency(s, 2), 333);
}

TEST(SweepFramesFor, MillisecondsOfOneBlockAsFrames)
{
    EXPECT_EQ(SweepFramesFor(44100, 2), 8158);  // 185 ms
    EXPECT_EQ(SweepFramesFor(48000, 2), 8160);  // 170 ms
    EXPECT_EQ(SweepFramesFor(8000, 1), 8184);   // 1023 ms
    EXPECT_EQ(SweepFramesFor(48000, 4), 8160);
    EXPECT_EQ(SweepFramesFor(0, 2), 0);
}

/// An interleaved (right, left) block of two sines.
std::vector<float> TwoSines(int frames, double f, double fs, double ampRight, double phaseRightDeg, double ampLeft)
{
    std::vector<float> v(static_cast<std::size_t>(frames) * 2);
    for (int n = 0; n < frames; ++n) {
        const double w = 2.0 * std::numbers::pi * f * n / fs;
        v[2 * static_cast<std::size_t>(n)] = static_cast<float>(ampRight * std::sin(w + phaseRightDeg * std::numbers::pi / 180.0));
        v[2 * static_cast<std::size_t>(n) + 1] = static_cast<float>(ampLeft * std::sin(w));
    }
    return v;
}

TEST(MeasureSweepBlock, IdenticalInputsGiveZeroAndInvertedGiveMinus180)
{
    CorrectionCurve none;
    auto same = TwoSines(8160, 1000, 48000, 0.5, 0, 0.5);
    const SweepPoint p = MeasureSweepBlock(same.data(), 8160, 1000, 48000, true, none);
    EXPECT_FLOAT_EQ(p.v1, 0.0f);
    EXPECT_FLOAT_EQ(p.v2, 0.0f);

    auto inverted = TwoSines(8160, 1000, 48000, 0.5, 180, 0.5);
    const SweepPoint q = MeasureSweepBlock(inverted.data(), 8160, 1000, 48000, true, none);
    EXPECT_NEAR(q.v1, 0.0, 0.001);
    EXPECT_NEAR(q.v2, -180.0, 0.01);
    EXPECT_LT(q.v2, 180.0f);
}

TEST(MeasureSweepBlock, PhaseAndLevelRatioFromAFewPeriodsUpToNearHalfTheRate)
{
    CorrectionCurve none;
    // Sub-sample lags, leads, both signs near the seam, and blocks holding 3.4 periods
    // (20 Hz) up to 0.45 of the rate; the right input a quarter of the left in level.
    const double phases[] = {-179.0, -135.0, -20.0, -0.85, -0.2, 0.3, 30.0, 90.0, 179.5};
    for (double f : {20.0, 25.0, 1000.0, 1999.0, 4000.0, 21600.0}) {
        for (double phase : phases) {
            auto block = TwoSines(8160, f, 48000, 0.125, phase, 0.5);
            const SweepPoint p = MeasureSweepBlock(block.data(), 8160, static_cast<int>(f), 48000, true, none);
            EXPECT_NEAR(p.v1, 20.0 * std::log10(0.25), 0.001) << f << " Hz, " << phase;
            EXPECT_NEAR(WrapDegrees(p.v2 - phase), 0.0, 0.01) << f << " Hz, " << phase;
            EXPECT_FALSE(p.leftSilent || p.rightSilent);
        }
    }
}

TEST(MeasureSweepBlock, StereoLevelsAreTheSinesAmplitudeInDbAndSilentInputsNeverReadAsAPerfectDevice)
{
    CorrectionCurve none;
    auto block = TwoSines(8160, 1000, 48000, 0.1, 0, 1.0);
    const SweepPoint p = MeasureSweepBlock(block.data(), 8160, 1000, 48000, false, none);
    // 20·log10 of the amplitude: full scale reads 0 dB, as the spectrum's peak does.
    EXPECT_NEAR(p.v1, 20.0 * std::log10(0.1), 0.001);
    EXPECT_NEAR(p.v2, 0.0, 0.001);

    const float nothing = -192.0f;
    auto silentLeft = TwoSines(8160, 1000, 48000, 0.5, 0, 0.0);
    const SweepPoint s = MeasureSweepBlock(silentLeft.data(), 8160, 1000, 48000, false, none);
    EXPECT_NEAR(s.v1, 20.0 * std::log10(0.5), 0.001);
    EXPECT_EQ(s.v2, nothing);
    EXPECT_TRUE(s.leftSilent);
    EXPECT_FALSE(s.rightSilent);

    auto silentRight = TwoSines(8160, 1000, 48000, 0.0, 0, 0.5);
    const SweepPoint r = MeasureSweepBlock(silentRight.data(), 8160, 1000, 48000, true, none);
    EXPECT_EQ(r.v1, nothing);
    EXPECT_TRUE(std::isnan(r.v2));
    EXPECT_TRUE(r.rightSilent);
    // The reference silent: no point.
    const SweepPoint q = MeasureSweepBlock(silentLeft.data(), 8160, 1000, 48000, true, none);
    EXPECT_TRUE(std::isnan(q.v1) && std::isnan(q.v2));
    EXPECT_TRUE(q.leftSilent);
    // Noise without the tone (RMS 0.01, fixed seed) is no signal either.
    std::vector<float> noise = TwoSines(8160, 1000, 48000, 0.0, 0, 0.5);
    unsigned seed = 7;
    for (int n = 0; n < 8160; ++n) {
        seed = seed * 1103515245u + 12345u;
        noise[2 * static_cast<std::size_t>(n)] = 0.01f * static_cast<float>((seed >> 8) / 8388608.0 - 1.0);
    }
    EXPECT_TRUE(MeasureSweepBlock(noise.data(), 8160, 1000, 48000, true, none).rightSilent);
}

TEST_F(SweepRunTest, EnterPreparesTheDiagramAndOutputAndLeaveKeepsTheLevelRange)
{
    settings.Sweep.SweepYMin = 3;  // not below the maximum: replaced
    settings.Sweep.SweepYMax = 3;
    settings.Sweep.SweepSteps = 30;
    settings.Sweep.SweepPhase = true;
    settings.Volume.GenOutVolume = 60;
    run.EnterGeneratorPage();
    EXPECT_EQ(settings.Sweep.SweepYMax, 5.0);
    EXPECT_EQ(settings.Sweep.SweepYMin, -40.0);
    EXPECT_EQ(diagram.preparedLast, 31);
    EXPECT_TRUE(diagram.visible);
    EXPECT_TRUE(diagram.curve2);
    EXPECT_TRUE(diagram.axis2);
    EXPECT_EQ(view.startCaption, "START");
    EXPECT_EQ(view.outputSlider, 40);
    EXPECT_EQ(view.outputLabel, std::to_string(engine.GetOutputVolume()) + "%");
    EXPECT_EQ(diagram.resultLine, "");
    EXPECT_TRUE(run.GeneratorPageActive);

    diagram.levelMin = -60;
    diagram.levelMax = 10;
    run.LeaveGeneratorPage();
    EXPECT_EQ(settings.Sweep.SweepYMin, -60.0);
    EXPECT_EQ(settings.Sweep.SweepYMax, 10.0);
    EXPECT_FALSE(diagram.visible);
    EXPECT_FALSE(diagram.curve2);
    EXPECT_FALSE(run.GeneratorPageActive);
}

TEST_F(SweepRunTest, LinearSweepWithIdenticalInputsMeasuresZeroGainAndPhaseAtEveryStep)
{
    settings.Sweep.SweepLinear = true;
    settings.Sweep.SweepFrom = 100;
    settings.Sweep.SweepTo = 1000;
    settings.Sweep.SweepSteps = 3;
    settings.Sweep.SweepPhase = true;
    settings.Sweep.SweepSettleTime = 250;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    EXPECT_TRUE(run.SweepRunning);
    EXPECT_FALSE(view.lockedEnabled);
    EXPECT_EQ(diagram.preparedLast, 5);
    EXPECT_EQ(diagram.comment, "Kommentar: sweep");
    RunLoop();

    EXPECT_FALSE(run.SweepRunning);
    EXPECT_TRUE(view.lockedEnabled);
    EXPECT_FALSE(engine.PlaybackActive());
    ASSERT_EQ(diagram.points.size(), 4u);
    const float expected[] = {100, 400, 700, 1000};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(diagram.points[k].f, expected[k]);
        EXPECT_NEAR(diagram.points[k].v1, 0.0, 0.01) << k;
        EXPECT_NEAR(diagram.points[k].v2, 0.0, 0.5) << k;
    }
    EXPECT_EQ(view.waits, (std::vector<int>{250, 250, 250, 250}));
    EXPECT_EQ(view.freqTexts.back(), "0");
    EXPECT_EQ(view.overload, "");
    // The input now records at the output's rate.
    int in = 0, out = 0;
    engine.GetSampleRates(in, out);
    EXPECT_EQ(in, 48000);
}

TEST_F(SweepRunTest, StepAboveHalfTheRateStopsWithTheNoticeAndKeepsEarlierPoints)
{
    run.SetLanguage('E');
    settings.Sweep.SweepLinear = true;
    settings.Sweep.SweepFrom = 10000;
    settings.Sweep.SweepTo = 40000;
    settings.Sweep.SweepSteps = 3;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    RunLoop();
    ASSERT_EQ(diagram.points.size(), 2u);
    EXPECT_EQ(diagram.points[0].f, 10000.0f);
    EXPECT_EQ(diagram.points[1].f, 20000.0f);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Information);
    EXPECT_EQ(prompts.shown[0].text, "Outfreq. > Samplefreq./2 ! Stop Wobbling ");
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_TRUE(view.lockedEnabled);
    EXPECT_EQ(view.freqTexts.back(), "30000 ");
    EXPECT_FALSE(engine.PlaybackActive());
}

TEST_F(SweepRunTest, StopAfterTheNextStepWasPostedStillMeasuresThatStepThenEnds)
{
    settings.Sweep.SweepLinear = true;
    settings.Sweep.SweepFrom = 100;
    settings.Sweep.SweepTo = 1000;
    settings.Sweep.SweepSteps = 3;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    --view.queued;
    run.SweepStep();
    port.Pump();
    ASSERT_EQ(view.queued, 1);  // the next step is posted
    run.STOPbutClick();
    EXPECT_FALSE(run.SweepRunning);
    RunLoop();
    EXPECT_EQ(diagram.points.size(), 2u);
    EXPECT_EQ(diagram.points[1].f, 400.0f);
    EXPECT_NEAR(diagram.points[1].v1, 0.0, 0.01);
    EXPECT_EQ(view.queued, 0);
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_TRUE(view.lockedEnabled);
}

TEST_F(SweepRunTest, StopDuringTheSettleWaitStoresThatStepAndPostsNoOther)
{
    settings.Sweep.SweepFrom = 100;
    settings.Sweep.SweepTo = 10000;
    settings.Sweep.SweepSteps = 10;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    view.onWait = [&] { run.STOPbutClick(); };
    RunLoop();
    EXPECT_EQ(diagram.points.size(), 1u);
    EXPECT_EQ(view.waits.size(), 1u);
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_FALSE(run.SweepToneOn);
}

TEST_F(SweepRunTest, AnEngineGoneDuringTheSettleWaitEndsTheStepWithoutRecordingOrError)
{
    settings.Sweep.SweepSteps = 5;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    view.engineGone = true;
    RunLoop();
    EXPECT_TRUE(diagram.points.empty());
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_FALSE(run.SweepToneOn);
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_FALSE(engine.CaptureStarted());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SweepRunTest, StartDoesNothingWhileASignalPlaysOrASweepRunsAndKeepsThePoints)
{
    settings.Sweep.SweepSteps = 3;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    --view.queued;
    run.SweepStep();
    port.Pump();
    ASSERT_EQ(diagram.points.size(), 1u);
    run.wobbelnButClick();  // pressed again while the sweep runs
    EXPECT_EQ(diagram.points.size(), 1u);
    EXPECT_EQ(diagram.clears, 1);
    EXPECT_EQ(view.queued, 1);
    run.STOPbutClick();
    RunLoop();

    GeneratorParams p;
    ASSERT_EQ(engine.StartPlayback(1000, -1, p), 0);
    const auto before = diagram.points.size();
    run.wobbelnButClick();
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_EQ(view.queued, 0);
    EXPECT_EQ(diagram.points.size(), before);
    engine.StopPlayback();
}

TEST_F(SweepRunTest, BlockThatCannotBeTakenEndsTheSweepWithTheErrorBox)
{
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    card.InjectFault(WaveCall::WaveInClose, kMmError, true);
    RunLoop();
    card.ClearFaults();
    EXPECT_TRUE(diagram.points.empty());
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_FALSE(run.SweepToneOn);
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_TRUE(view.lockedEnabled);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text.rfind("ERROR at Frequency Output (", 0), 0u);
}

TEST_F(SweepRunTest, OutputErrorStopsWithTheErrorBox)
{
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    RunLoop();
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_FALSE(run.SweepToneOn);
    EXPECT_TRUE(view.lockedEnabled);
    EXPECT_TRUE(diagram.points.empty());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.shown[0].helpButton);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text,
              "ERROR at Frequency Output (" + engine.DeviceErrorText(kMmAllocated) + ")");
}

TEST_F(SweepRunTest, InputErrorAtAStepStopsTheToneAndShowsTheSameBox)
{
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    RunLoop();
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_FALSE(engine.PlaybackActive());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text.rfind("ERROR at Frequency Output (", 0), 0u);
}

TEST_F(SweepRunTest, SetupIsRefusedWhileRunningAndAcceptedSettingsReachTheAxes)
{
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    run.WobDialogButClick();
    EXPECT_EQ(view.dialogs, 0);
    run.STOPbutClick();
    RunLoop();
    view.dialogAccepts = true;
    run.WobDialogButClick();
    EXPECT_EQ(view.dialogs, 1);
    EXPECT_TRUE(diagram.curve2);
    EXPECT_TRUE(diagram.axis2);
    EXPECT_EQ(diagram.secondMax, 45.0f);
    EXPECT_EQ(diagram.secondMin, -45.0f);
    EXPECT_EQ(view.startCaption, "START ");
}

/// A device under test with gain, a 5 kHz low-pass and a delay of 3 frames on the right.
class SweepLowPassTest : public SweepRunTest {
protected:
    static DutConfig LowPass()
    {
        DutConfig d;
        d.gainDb = 6.0;
        d.lowPassHz = 5000.0;
        d.delaySamples = 3;
        return d;
    }
    SweepLowPassTest() : SweepRunTest(LowPass()) {}
};

TEST_F(SweepLowPassTest, LogSweepTwentyToTwentyThousandLevelFollowsTheResponseAtEveryStep)
{
    settings.Sweep.SweepFrom = 20;
    settings.Sweep.SweepTo = 20000;
    settings.Sweep.SweepSteps = 30;
    settings.Sweep.SweepPhase = true;
    settings.Sweep.SweepLevel = -12.0f;
    run.EnterGeneratorPage();
    run.wobbelnButClick();
    RunLoop();
    ASSERT_EQ(diagram.points.size(), 31u);
    for (const auto& [k, p] : diagram.points) {
        const double f = std::nearbyint(20.0 * std::pow(1000.0, k / 30.0));
        EXPECT_EQ(p.f, static_cast<float>(f));
        const auto h = DutResponse(dut_, f, 48000.0);
        EXPECT_NEAR(p.v1, 20.0 * std::log10(std::abs(h)), 0.05) << f;
        EXPECT_NEAR(WrapDegrees(p.v2 - std::arg(h) * 180.0 / std::numbers::pi), 0.0, 0.5) << f;
    }
}

TEST_F(SweepLowPassTest, LimitsAreDrawnAndTheResultLineCountsTheStepsOutsideThem)
{
    settings.Sweep.SweepFrom = 20;
    settings.Sweep.SweepTo = 20000;
    settings.Sweep.SweepSteps = 30;
    run.SetLanguage('E');
    // The response is +6 dB up to a few kHz, then falls: the first file holds it, the
    // second one's band reaches beyond the low-pass's corner.
    for (const auto& [text, to] : {std::pair{"20 5 7\n2000 5 7\n", 2000.0}, std::pair{"20 5 7\n20000 5 7\n", 20000.0}}) {
        Limits limits;
        ASSERT_EQ(ParseLimits(text, limits), "");
        run.SetLimits(limits);
        run.EnterGeneratorPage();
        run.wobbelnButClick();
        EXPECT_GT(diagram.limitPoints, 0U);
        RunLoop();
        int checked = 0, outside = 0;
        for (int k = 0; k <= 30; ++k) {
            const double f = std::nearbyint(20.0 * std::pow(1000.0, k / 30.0));
            const double db = 20.0 * std::log10(std::abs(DutResponse(dut_, f, 48000.0)));
            checked += f <= to ? 1 : 0;
            outside += f <= to && (db < 5.0 || db > 7.0) ? 1 : 0;
        }
        EXPECT_EQ(diagram.resultLine, outside == 0 ? std::string("limits: PASS")
                                                   : "limits: FAIL " + std::to_string(outside) + " of " +
                                                         std::to_string(checked) + " points");
        run.LeaveGeneratorPage();
        EXPECT_EQ(diagram.limitPoints, 0U);  // another page's diagram shows no limits
    }
}

/// A band: high-pass 100 Hz, low-pass 5 kHz, a delay of 3 frames.
class SweepBandTest : public SweepRunTest {
protected:
    static DutConfig Band()
    {
        DutConfig d;
        d.highPassHz = 100.0;
        d.lowPassHz = 5000.0;
        d.delaySamples = 3;
        return d;
    }
    SweepBandTest() : SweepRunTest(Band()) {}
};

TEST_F(SweepBandTest, LevelAndPhaseFollowTheButterworthResponseFromTwentyHertzToNearHalfTheRate)
{
    settings.Sweep.SweepPhase = true;
    settings.Sweep.SweepLinear = true;
    settings.Sweep.SweepSteps = 1;
    // 20 and 25 Hz hold 3.4 and 4.3 periods per block; 21600 Hz is 0.45 of 48 kHz.
    for (const auto& [from, to] : {std::pair{20, 25}, std::pair{1000, 4000}, std::pair{21599, 21600}}) {
        settings.Sweep.SweepFrom = from;
        settings.Sweep.SweepTo = to;
        run.EnterGeneratorPage();
        run.wobbelnButClick();
        RunLoop();
        ASSERT_EQ(diagram.points.size(), 2u);
        for (const auto& [k, p] : diagram.points) {
            const auto h = DutResponse(dut_, p.f, 48000.0);
            EXPECT_NEAR(p.v1, 20.0 * std::log10(std::abs(h)), 0.05) << p.f;
            EXPECT_NEAR(WrapDegrees(p.v2 - std::arg(h) * 180.0 / std::numbers::pi), 0.0, 0.5) << p.f;
        }
        run.LeaveGeneratorPage();
    }
    EXPECT_EQ(diagram.resultLine, "");  // every input carried the tone
}

class SweepStereoTest : public SweepRunTest {
protected:
    static DutConfig Silent()
    {
        DutConfig d;
        d.gainDb = -400.0;
        return d;
    }
    SweepStereoTest() : SweepRunTest(Silent()) {}
};

TEST_F(SweepStereoTest, ASilentRightInputReadsNothingAndTheNoticeCountsTheSteps)
{
    settings.Sweep.SweepLinear = true;
    settings.Sweep.SweepFrom = 1000;
    settings.Sweep.SweepTo = 2000;
    settings.Sweep.SweepSteps = 1;
    for (bool stereo : {true, false}) {
        settings.Sweep.SweepWithRef = !stereo;
        settings.Sweep.SweepPhase = !stereo;
        run.SetLanguage(stereo ? 'D' : 'E');
        run.EnterGeneratorPage();
        run.wobbelnButClick();
        EXPECT_EQ(diagram.resultLine, "");
        RunLoop();
        ASSERT_EQ(diagram.points.size(), 2u);
        for (const auto& [k, p] : diagram.points) {
            EXPECT_EQ(p.v1, -192.0f) << k;
            if (stereo) {
                EXPECT_NEAR(p.v2, -6.0, 0.01) << k;  // the live input keeps its level
            } else {
                EXPECT_TRUE(std::isnan(p.v2)) << k;  // no phase: a gap
            }
        }
        EXPECT_TRUE(diagram.curve2);
        EXPECT_EQ(diagram.resultLine, stereo ? "Eingang ohne Signal bei 2 von 2 Schritten"
                                             : "Input without signal at 2 of 2 steps");
        run.LeaveGeneratorPage();
    }
}

/// The virtual card's nonlinearity: y = x + 2·h2·x² + 4·h3·x³ on the right input, so a
/// sine of amplitude A gets H2 = h2·A and H3 = h3·A² relative to its fundamental.
class SweepDistortionTest : public SweepRunTest {
protected:
    static DutConfig Nonlinear()
    {
        DutConfig d;
        d.h2 = 0.001;
        d.h3 = 0.0005;
        return d;
    }
    SweepDistortionTest() : SweepRunTest(Nonlinear()) {}
};

TEST_F(SweepDistortionTest, EachStepReadsTheModelsHarmonicsWithNanAboveTheBand)
{
    const double a = std::pow(10.0, -1.0 / 20.0);
    const double h2 = 20.0 * std::log10(0.001 * a), h3 = 20.0 * std::log10(0.0005 * a * a);
    const double thd = 10.0 * std::log10(std::pow(10.0, h2 / 10.0) + std::pow(10.0, h3 / 10.0));
    settings.Sweep.SweepLevel = -1.0f;
    settings.Sweep.SweepLinear = true;
    settings.Sweep.SweepSteps = 0;  // a linear sweep without steps plays its start
    run.MeasureDistortionEachStep = true;
    // 997 Hz has no whole period in any buffer of the old tone loop; 7 kHz has H3 at
    // 21 kHz, above the band.
    for (const int f : {20, 997, 7000}) {
        settings.Sweep.SweepFrom = f;
        settings.Sweep.SweepTo = f + 1;
        run.EnterGeneratorPage();
        run.wobbelnButClick();
        RunLoop();
        ASSERT_EQ(run.StoredSteps().size(), 1u) << f;
        const SweepDistortion d = run.StoredSteps()[0].point.distortion;
        EXPECT_NEAR(d[2], h2, 0.2) << f;
        if (f < 7000) {
            EXPECT_NEAR(d[0], thd, 0.2) << f;
            EXPECT_NEAR(d[3], h3, 0.2) << f;
            EXPECT_NEAR(d[1], thd, 0.05) << f;  // 16 bits: the harmonics alone, also at the band edge
        } else {
            EXPECT_NEAR(d[0], h2, 0.2);
            EXPECT_TRUE(std::isnan(d[3]) && std::isnan(d[4]) && std::isnan(d[5]));
        }
        // The level reading stays the sine fit's: the fundamental passes with gain 1.
        EXPECT_NEAR(run.StoredSteps()[0].point.v1, 0.0, 0.02) << f;
        run.LeaveGeneratorPage();
    }
}

TEST_F(SweepDistortionTest, CurveTwoShowsTheChosenReadingOnADecibelAxis)
{
    settings.Sweep.SweepLevel = -1.0f;
    settings.Sweep.SweepFrom = 1000;
    settings.Sweep.SweepTo = 2000;
    settings.Sweep.SweepSteps = 1;
    settings.Sweep.SweepPhase = true;
    settings.Sweep.SweepCurve2 = kSweepCurve2Thd + 3;  // H3
    run.EnterGeneratorPage();
    EXPECT_EQ(diagram.secondMax, 0.0f);
    EXPECT_LT(diagram.secondMin, -100.0f);
    run.wobbelnButClick();
    RunLoop();
    ASSERT_EQ(diagram.points.size(), 2u);
    for (const auto& [k, p] : diagram.points) {
        EXPECT_EQ(p.v2, run.StoredSteps()[static_cast<std::size_t>(k)].point.distortion[3]);
        EXPECT_NEAR(p.v2, 20.0 * std::log10(0.0005 * std::pow(10.0, -2.0 / 20.0)), 0.2);
    }
}

}  // namespace
}  // namespace sonvera
