#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/scoperun.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

constexpr int kToneMs = 3000;

/// Stores what the run hands to the oscilloscope screen.
class RecordingDisplay : public ScopeDisplay {
public:
    bool PrepareScope(const std::string&, int points, bool xLog, float xMin, float xMax, float,
                      float) override
    {
        ++prepares;
        this->points = points;
        this->xLog = xLog;
        this->xMin = xMin;
        this->xMax = xMax;
        ch1.assign(static_cast<std::size_t>(std::max(points, 0)), 0.0f);
        ch2 = ch1;
        time = ch1;
        return points <= 0;
    }
    bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x, float c2,
                         float c1) override
    {
        ++stores;
        if (i < 0 || i >= points) {
            return true;
        }
        const auto k = static_cast<std::size_t>(i);
        ch1[k] = c1;
        ch2[k] = c2;
        time[k] = x;
        useCh1 = trigCh1;
        vpd1 = voltsDiv1;
        vpd2 = voltsDiv2;
        return false;
    }
    void RepaintScope() override { ++repaints; }

    int prepares = 0, stores = 0, repaints = 0, points = 0;
    bool xLog = true, useCh1 = false;
    float xMin = -1.0f, xMax = -1.0f, vpd1 = 0.0f, vpd2 = 0.0f;
    std::vector<float> ch1, ch2, time;
};

/// The page's controls; WM_SCOPE_NEXT is queued as a count.
class FakeControls : public ScopePageControls {
public:
    void ShowScopeView(bool show) override { viewShown = show; }
    void SetScopeMenusEnabled(bool enabled, bool withAnalyse) override
    {
        menusEnabled = enabled;
        analyseTouched = withAnalyse;
    }
    void SetTimebaseCaption(const std::string& text) override { panel3 = text; }
    void SetVoltsPerDivCaption(int channel, const std::string& text) override
    {
        (channel == 1 ? vperDiv1 : vperDiv2) = text;
    }
    void SetOverloadText(const std::string& text) override { overload = text; }
    void SetPositionSliders(int a, int b) override
    {
        slider1 = a;
        slider2 = b;
    }
    void SetScopeChecks(bool g1, bool g2, bool rising, bool ch1) override
    {
        gnd1 = g1;
        gnd2 = g2;
        risingChecked = rising;
        ch1Checked = ch1;
    }
    void PostScopeNext() override { ++queued; }
    bool ScopePageCurrent() const override { return pageCurrent; }

    bool viewShown = false, menusEnabled = true, analyseTouched = false;
    bool gnd1 = false, gnd2 = false, risingChecked = false, ch1Checked = false;
    bool pageCurrent = true;
    int slider1 = 0, slider2 = 0, queued = 0;
    std::string panel3, vperDiv1, vperDiv2, overload = "unset";
};

class RecordingPrompts : public PromptService {
public:
    void Show(const Prompt& p) override { shown.push_back(p); }
    std::vector<Prompt> shown;
};

class ScopeRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.SetOutputVolume(100);
        engine.SetLineVolume(100, SoundEngine::kAllLines);
        previousPrompts = SetPromptService(&prompts);
    }
    void TearDown() override
    {
        SetPromptService(previousPrompts);
        engine.ShutdownSoundEngine();
    }

    /// Handles queued WM_SCOPE_NEXT messages and the completions they cause, at most
    /// `blocks` of them. Returns how many were handled.
    int Process(int blocks)
    {
        int handled = 0;
        while (controls.queued > 0 && handled < blocks) {
            --controls.queued;
            run.OnScopeNext();
            port.Pump();
            ++handled;
        }
        return handled;
    }

    void PlaySine(int freqHz, int leftDb, int rightDb, int leftPhase = 0, int rightPhase = 0)
    {
        GeneratorParams p;
        p.frequencyHz = freqHz;
        p.levelLeftDb = leftDb;
        p.levelRightDb = rightDb;
        p.phaseLeftDeg = leftPhase;
        p.phaseRightDeg = rightPhase;
        // A tone of a few seconds outlasts every test's blocks on the instant clock.
        ASSERT_EQ(engine.StartPlayback(freqHz, kToneMs, p), 0);
    }

    int InRate()
    {
        int in = 0, out = 0;
        engine.GetSampleRates(in, out);
        return in;
    }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    test::QueuePort port{engine};
    Settings settings;
    RecordingDisplay display;
    FakeControls controls;
    RecordingPrompts prompts;
    PromptService* previousPrompts = nullptr;
    ScopeRun run{engine, settings, display, controls};
};

TEST(ScopeTables, CaptionsAndValuesOfBothTables)
{
    EXPECT_EQ(VoltsPerDiv(1).value, 0.0001f);
    EXPECT_STREQ(VoltsPerDiv(1).caption, "100\u00b5V");
    EXPECT_STREQ(VoltsPerDiv(10).caption, "100mV");
    EXPECT_EQ(VoltsPerDiv(14).value, 2.0f);
    EXPECT_STREQ(VoltsPerDiv(0).caption, "100\u00b5V");  // out of range: nearest end
    EXPECT_STREQ(VoltsPerDiv(99).caption, "2V");
    EXPECT_STREQ(Timebase(1).caption, "50\u00b5s");
    EXPECT_STREQ(Timebase(5).caption, "1ms");
    EXPECT_EQ(Timebase(8).value, 0.01f);
    EXPECT_STREQ(Timebase(11).caption, "100ms");
}

TEST(ScopeTables, RateAndFramesPerTimeBase)
{
    struct Row {
        int index, rate, frames;
    };
    const Row rows[] = {{1, 44100, 1024}, {2, 44100, 1024}, {3, 44100, 1024}, {4, 44100, 1024},
                        {5, 44100, 1024}, {6, 22050, 1024}, {7, 11025, 1300}, {8, 11025, 2448},
                        {9, 8000, 2448},  {10, 8000, 2448}, {11, 8000, 2448}};
    for (const Row& r : rows) {
        const ScopeCapturePlan plan = CapturePlanFor(Timebase(r.index).value);
        EXPECT_EQ(plan.rateHz, r.rate) << "time base " << r.index;
        EXPECT_EQ(plan.frames, r.frames) << "time base " << r.index;
    }
}

TEST_F(ScopeRunTest, EnteringShowsTheViewSetsThePageAndAsksForTheFirstBlock)
{
    settings.Scope.ScopeDiv1 = 12;
    settings.Scope.ScopeDiv2 = 3;
    settings.Scope.ScopeTrigCh1 = false;
    settings.Scope.ScopeGnd2 = true;
    run.EnterScopePage();
    EXPECT_TRUE(controls.viewShown);
    EXPECT_FALSE(controls.menusEnabled);
    EXPECT_TRUE(controls.analyseTouched);
    EXPECT_EQ(controls.slider1, -10);
    EXPECT_EQ(controls.slider2, 10);
    EXPECT_FLOAT_EQ(run.ScopeYPos1(), 5.0f);
    EXPECT_FLOAT_EQ(run.ScopeYPos2(), 3.0f);
    EXPECT_EQ(controls.panel3, "1ms");
    EXPECT_EQ(controls.vperDiv1, "500mV");
    EXPECT_EQ(controls.vperDiv2, "500\u00b5V");
    EXPECT_FALSE(controls.ch1Checked);
    EXPECT_TRUE(controls.gnd2);
    EXPECT_TRUE(run.ScopeRunning());
    EXPECT_FLOAT_EQ(run.ScopeScale(), 268.0f * 0.0015f);
    EXPECT_EQ(controls.queued, 1);

    run.LeaveScopePage();
    EXPECT_FALSE(controls.viewShown);
    EXPECT_TRUE(controls.menusEnabled);
    EXPECT_FALSE(controls.analyseTouched);
    EXPECT_FALSE(run.ScopeRunning());
}

TEST_F(ScopeRunTest, TimeBase1msRecords512PointsOver11Point6MsOnA10MsView)
{
    settings.Scope.ScopeTimebase = 5;
    run.EnterScopePage();
    EXPECT_EQ(InRate(), 44100);
    EXPECT_EQ(run.ScopeFrames(), 1024);
    EXPECT_EQ(display.points, 512);
    EXPECT_FALSE(display.xLog);
    EXPECT_EQ(display.xMin, 0.0f);
    EXPECT_FLOAT_EQ(display.xMax, 0.01f);
    ASSERT_EQ(Process(1), 1);
    EXPECT_NEAR(display.time[511], 511.0 / 44100.0, 1e-7);
    EXPECT_NEAR(512.0 / 44100.0, 0.0116, 0.0001);
    EXPECT_EQ(display.repaints, 1);
    EXPECT_EQ(controls.queued, 1);  // the loop goes on
}

TEST_F(ScopeRunTest, TimeBaseChangesApplyAtTheNextBlock)
{
    run.EnterScopePage();
    Process(1);
    run.SpinButton3UpClick();  // 2 ms
    run.SpinButton3UpClick();  // 5 ms
    EXPECT_EQ(run.ScopeFrames(), 1024);
    ASSERT_EQ(Process(1), 1);
    EXPECT_EQ(controls.panel3, "5ms");
    EXPECT_EQ(InRate(), 11025);
    EXPECT_EQ(run.ScopeFrames(), 1300);
    EXPECT_EQ(display.points, 650);
    EXPECT_FLOAT_EQ(display.xMax, 0.05f);
    EXPECT_NEAR(display.time[649], 649.0 / 11025.0, 1e-6);  // 59 ms drawn
    run.SpinButton3UpClick();
    run.SpinButton3UpClick();  // stays at 10 ms
    Process(1);
    EXPECT_EQ(settings.Scope.ScopeTimebase, 8);
    EXPECT_EQ(run.ScopeFrames(), 2448);
    EXPECT_EQ(display.points, 1224);
    for (int i = 0; i < 10; ++i) {
        run.SpinButton3DownClick();
    }
    EXPECT_EQ(settings.Scope.ScopeTimebase, 1);
}

TEST_F(ScopeRunTest, EveryEntryAppliesTheTimeBaseAgain)
{
    settings.Scope.ScopeTimebase = 7;  // 5 ms
    run.EnterScopePage();
    EXPECT_EQ(run.ScopeFrames(), 1300);
    run.LeaveScopePage();
    engine.SetSampleRates(48000, 48000);  // the spectrum page sets its own rate
    run.EnterScopePage();
    EXPECT_EQ(InRate(), 11025);
    EXPECT_EQ(run.ScopeFrames(), 1300);
    EXPECT_EQ(display.points, 650);
    EXPECT_NEAR(run.ScopeSamplePeriod(), 1.0 / 11025.0, 1e-9);
}

TEST_F(ScopeRunTest, FlatInputNeverTriggersAndTheTraceStartsAtFrame511)
{
    run.EnterScopePage();
    ASSERT_EQ(Process(1), 1);
    EXPECT_FALSE(run.LastTriggered());
    EXPECT_EQ(run.LastTriggerFrame(), 511);
    EXPECT_EQ(controls.overload, "");
}

TEST_F(ScopeRunTest, SineAppearsWithThePeakToPeakHeightTheCalibrationPredicts)
{
    settings.Calib.InCalibValue = 268.0;
    settings.Scope.ScopeDiv1 = 12;  // 0.5 V/div
    settings.Scope.ScopeDiv2 = 11;  // 0.2 V/div
    PlaySine(441, -6, 0);           // left (channel 2) at -6 dB, right (channel 1) at 0 dB
    run.EnterScopePage();
    ASSERT_EQ(Process(1), 1);
    // Full scale is 268 mV * 0.0015 = 0.402 V: channel 1 swings 2 * 0.402 / 0.5 divisions.
    const auto [min1, max1] = std::minmax_element(display.ch1.begin(), display.ch1.end());
    const auto [min2, max2] = std::minmax_element(display.ch2.begin(), display.ch2.end());
    const double full = 32767.0 / 32768.0;
    EXPECT_NEAR(*max1 - *min1, 2.0 * full * 0.402 / 0.5, 0.002);
    EXPECT_NEAR(*max2 - *min2, 2.0 * std::pow(10.0, -6.0 / 20.0) * 0.402 / 0.2, 0.002);
    // Centred on the positions 5 and 3.
    EXPECT_NEAR((*max1 + *min1) / 2.0, 5.0, 0.002);
    EXPECT_NEAR((*max2 + *min2) / 2.0, 3.0, 0.002);
    EXPECT_FLOAT_EQ(display.vpd1, 0.5f);
    EXPECT_FLOAT_EQ(display.vpd2, 0.2f);
}

TEST_F(ScopeRunTest, PointsAreTheBlocksValuesTimesCalibrationOverVoltsPerDivisionPlusPosition)
{
    settings.Calib.InCalibValue = 100.0;  // 0.15 V per unit
    settings.Scope.ScopeDiv1 = 9;         // 0.05 V/div: k1 = 3
    settings.Scope.ScopeDiv2 = 13;        // 1 V/div: k2 = 0.15
    PlaySine(1000, -20, -3);
    run.EnterScopePage();
    run.SCRyposCh1Scroll(20);   // position 2
    run.SCRyposch2Scroll(-30);  // position 7
    ASSERT_EQ(Process(1), 1);
    const float* raw = engine.SampleBuffer();
    const int start = run.LastTriggerFrame();
    for (int e : {0, 1, 100, 511}) {
        const int i = start + e;
        EXPECT_NEAR(display.ch1[static_cast<std::size_t>(e)], raw[2 * i] * 3.0 + 2.0, 1e-5) << e;
        EXPECT_NEAR(display.ch2[static_cast<std::size_t>(e)], raw[2 * i + 1] * 0.15 + 7.0, 1e-5) << e;
    }
}

TEST_F(ScopeRunTest, RisingTriggerPutsTheCrossingAtTheStartOfTheTrace)
{
    settings.Scope.ScopeDiv1 = 10;  // 0.1 V/div: 4.02 divisions of amplitude
    PlaySine(500, 0, 0);
    run.EnterScopePage();
    ASSERT_EQ(Process(1), 1);
    ASSERT_TRUE(run.LastTriggered());
    const float a = display.ch1[0] - run.ScopeYPos1();
    const float b = display.ch1[1] - run.ScopeYPos1();
    EXPECT_GT(a, 0.0f);
    EXPECT_LT(a, 0.1f);
    EXPECT_GT(b, a);
    // The first such frame of the block: no earlier frame meets the condition.
    const float* raw = engine.SampleBuffer();
    const float k = 0.402f / 0.1f;
    for (int i = 0; i < run.LastTriggerFrame(); ++i) {
        const float x = k * raw[2 * i], y = k * raw[2 * i + 2];
        EXPECT_FALSE(x > 0.0f && x < 0.1f && y > x) << i;
    }
}

TEST_F(ScopeRunTest, FallingTriggerAtALevelOnChannel2)
{
    settings.Scope.ScopeDiv2 = 10;
    settings.Scope.ScopeTrigRising = true;
    PlaySine(500, 0, 0, 90, 0);  // channel 2 leads by a quarter period
    run.EnterScopePage();
    run.RadioButton2Click();
    run.CheckBox2Click(false);
    run.SCRtrigScroll(-150);  // +1.5 divisions
    EXPECT_FALSE(settings.Scope.ScopeTrigCh1);
    EXPECT_FALSE(controls.ch1Checked);
    ASSERT_EQ(Process(1), 1);
    ASSERT_TRUE(run.LastTriggered());
    const float a = display.ch2[0] - run.ScopeYPos2();
    EXPECT_GT(a, 1.4f);
    EXPECT_LT(a, 1.5f);
    EXPECT_LT(display.ch2[1], display.ch2[0]);
    EXPECT_FALSE(display.useCh1);  // the voltage cursor will use channel 2's scale
}

TEST_F(ScopeRunTest, GroundedChannelDrawsAFlatLineAtItsPosition)
{
    PlaySine(1000, 0, 0);
    run.EnterScopePage();
    run.CheckBox1Click(true);
    ASSERT_EQ(Process(1), 1);
    for (float v : display.ch1) {
        ASSERT_EQ(v, run.ScopeYPos1());
    }
    const auto [mn, mx] = std::minmax_element(display.ch2.begin(), display.ch2.end());
    EXPECT_GT(*mx - *mn, 1.0f);  // channel 2 still shows the sine
}

TEST_F(ScopeRunTest, OverloadedBlockShowsTheCount)
{
    GeneratorParams p;
    p.waveform = kWaveSquare;
    ASSERT_EQ(engine.StartPlayback(1000, kToneMs, p), 0);
    run.EnterScopePage();
    ASSERT_EQ(Process(1), 1);
    ASSERT_GT(engine.OverloadCount(), 0);
    EXPECT_EQ(controls.overload, "Over " + std::to_string(engine.OverloadCount()));
}

TEST_F(ScopeRunTest, StoppedLoopEndsAtTheNextBlockAndTheTimeBaseButtonRestartsIt)
{
    run.EnterScopePage();
    Process(2);
    run.StopOrun();
    Process(5);
    EXPECT_EQ(controls.queued, 0);
    EXPECT_FALSE(run.ScopeRunning());
    run.SpinButton3DownClick();
    EXPECT_TRUE(run.ScopeRunning());
    EXPECT_EQ(controls.queued, 1);
    EXPECT_EQ(Process(3), 3);
    EXPECT_EQ(controls.queued, 1);
}

TEST_F(ScopeRunTest, StartOrunOnlyOnTheOscilloscopePage)
{
    controls.pageCurrent = false;
    run.StartOrun();
    EXPECT_FALSE(run.ScopeRunning());
    EXPECT_EQ(controls.queued, 0);
    controls.pageCurrent = true;
    run.StartOrun();
    EXPECT_TRUE(run.ScopeRunning());
    EXPECT_EQ(controls.queued, 1);
}

TEST_F(ScopeRunTest, QueuedMessageAfterLeavingAppliesTheTimeBaseButRecordsNothing)
{
    run.EnterScopePage();
    run.LeaveScopePage();
    settings.Scope.ScopeTimebase = 6;
    const unsigned before = card.PostedInData();
    --controls.queued;
    run.OnScopeNext();
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_EQ(card.PostedInData(), before);
    EXPECT_EQ(controls.panel3, "2ms");
    EXPECT_EQ(InRate(), 22050);
}

TEST_F(ScopeRunTest, WithoutACaptureDeviceEnteringAsksForNothing)
{
    LoopbackCard noInput{DutConfig{}, LoopbackClock::Instant};
    noInput.SetDeviceCounts(0u, std::nullopt, std::nullopt, std::nullopt);
    SoundEngine e2{noInput};
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    e2.BuildDeviceReport(in, out, formats);
    ASSERT_EQ(e2.CaptureFormats(), 0u);
    FakeControls c2;
    ScopeRun r2{e2, settings, display, c2};
    r2.EnterScopePage();
    EXPECT_EQ(c2.queued, 0);
    EXPECT_TRUE(c2.viewShown);
}

TEST_F(ScopeRunTest, DeviceErrorAtTheStartStopsTheLoopWithTheErrorBox)
{
    settings.Main.UiLanguage = 'E';
    run.EnterScopePage();
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    ASSERT_EQ(Process(1), 1);
    EXPECT_FALSE(run.ScopeRunning());
    EXPECT_EQ(controls.queued, 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.shown[0].helpButton);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text,
              "Problems at Open Sampling (" + engine.DeviceErrorText(kMmAllocated) + ")");

    settings.Main.UiLanguage = 'D';
    run.StartOrun();
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    Process(1);
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].text.rfind("Probleme beim Beginn Samplen (", 0), 0u);
}

TEST_F(ScopeRunTest, BlockThatCannotBeTakenIsNotReadAndEndsTheLoopWhenTheDeviceStaysOpen)
{
    run.EnterScopePage();
    Process(1);
    const int repaints = display.repaints;
    card.InjectFault(WaveCall::WaveInClose, kMmError);
    ASSERT_EQ(Process(1), 1);
    EXPECT_EQ(engine.EngineError(), 9);
    EXPECT_EQ(display.repaints, repaints);  // nothing drawn
    EXPECT_FALSE(run.ScopeRunning());
    EXPECT_EQ(controls.queued, 0);
}

TEST(ScopeTrigger, RisingAndFallingSearchOnEitherChannel)
{
    // Channel 1 (even positions) ramps up 0, 0.05, 0.1, ...; channel 2 ramps down.
    std::vector<float> block(2 * 64);
    for (int i = 0; i < 64; ++i) {
        block[2 * i] = -0.5f + 0.05f * i;
        block[2 * i + 1] = 0.5f - 0.05f * i;
    }
    // Level 0, k = 1: the first rising value in (0, 0.1) is frame 11 (0.05).
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 64, true, 1.0f, 0.0f, true), 11);
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 64, true, 1.0f, 0.0f, false), -1);
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 64, false, 1.0f, 0.0f, false), 11);
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 64, false, 1.0f, 0.0f, true), -1);
    // k = 10: values in divisions step by 0.5, so the 0.1 band is met only on the dot.
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 64, true, 10.0f, 0.94f, true), 12);
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 64, true, 10.0f, 1.2f, true), -1);
}

TEST(ScopeTrigger, OnlyTheFirstHalfOfTheBlockIsSearched)
{
    std::vector<float> block(2 * 20, -1.0f);
    block[2 * 8] = 0.05f;  // frame 8: last searched start is 20/2 - 2 = 8
    block[2 * 9] = 0.5f;
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 20, true, 1.0f, 0.0f, true), 8);
    block[2 * 8] = -1.0f;
    block[2 * 9] = 0.05f;  // frame 9 is beyond the search
    block[2 * 10] = 0.5f;
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 20, true, 1.0f, 0.0f, true), -1);
    EXPECT_EQ(ScopeRun::FindTrigger(block.data(), 3, true, 1.0f, 0.0f, true), -1);
}

}  // namespace
}  // namespace sonvera
