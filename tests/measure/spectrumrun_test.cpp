#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/sections.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/spectrumrun.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

/// Records what the run hands to the diagram.
class RecordingDiagram : public SpectrumDiagram {
public:
    bool PrepareDiagram(const std::string& c, int lastIndex, int fmin, int fmax, float& lmin, float& lmax) override
    {
        comment = c;
        preparedLast = lastIndex;
        preparedMin = fmin;
        preparedMax = fmax;
        lmin = static_cast<float>(levelMin);
        lmax = static_cast<float>(levelMax);
        ++prepares;
        return failPrepare;
    }
    void ClearDiagramData() override { ++clears; }
    void ResetDiagramScales() override { ++resets; }
    void SetCurvesShown(bool a, bool b) override { curve1 = a, curve2 = b; }
    void SetAxesShown(bool a, bool b) override { axis1 = a, axis2 = b; }
    void SetLevelRange(float max, float min) override { levelMax = max, levelMin = min; }
    void GetFreqRange(int& min, int& max) const override { min = freqMin, max = freqMax; }
    void GetLevelRange(float& min, float& max) const override
    {
        min = static_cast<float>(levelMin);
        max = static_cast<float>(levelMax);
    }
    bool StoreDiagramPoint(const float* v, int mode, int index, float f) override
    {
        if (index >= refuseFrom) {
            return true;
        }
        EXPECT_EQ(mode, 2);
        if (index >= static_cast<int>(left.size())) {
            left.resize(static_cast<std::size_t>(index) + 1);
            right.resize(left.size());
            freq.resize(left.size());
        }
        left[static_cast<std::size_t>(index)] = v[0];
        right[static_cast<std::size_t>(index)] = v[1];
        freq[static_cast<std::size_t>(index)] = f;
        ++stores;
        return false;
    }
    void SetResultLine(const std::string& t) override { resultLine = t; }
    std::string GetComment() const override { return "Kommentar: test"; }
    void Repaint() override { ++repaints; }
    void Show(bool v) override { visible = v; }

    std::string comment, resultLine;
    int preparedLast = 0, preparedMin = 0, preparedMax = 0;
    int prepares = 0, clears = 0, resets = 0, repaints = 0, stores = 0;
    bool failPrepare = false;
    int refuseFrom = 1 << 30;
    bool curve1 = false, curve2 = false, axis1 = false, axis2 = true, visible = false;
    double levelMin = -110, levelMax = 0;
    int freqMin = 20, freqMax = 20000;
    std::vector<float> left, right, freq;
};

class RecordingView : public SpectrumPageView {
public:
    void SetOverloadLabel(const std::string& t) override { overload = t; }
    void ShowAverVal(int v) override { averShown.push_back(v); }
    int AverVal() const override { return typedAverage; }
    void SetRunLockedControlsEnabled(bool e) override { lockedEnabled = e; }
    void SetBinpoptEnabled(bool e) override { binpopt = e; }
    void SelectFftPointsItem(int i) override { pointsItem = i; }
    void SetInputFormatLabels(const std::string& b, const std::string& r) override { bits = b, rate = r; }
    void PostSpectrumNext() override { ++queuedNext; }

    std::string overload, bits, rate;
    std::vector<int> averShown;
    int typedAverage = -1;
    bool lockedEnabled = true, binpopt = true;
    int pointsItem = -1;
    int queuedNext = 0;
};

class RecordingPrompts : public PromptService {
public:
    RecordingPrompts() { previous = SetPromptService(this); }
    ~RecordingPrompts() override { SetPromptService(previous); }
    void Show(const Prompt& p) override { shown.push_back(p); }
    std::vector<Prompt> shown;
    PromptService* previous = nullptr;
};

class SpectrumRunTest : public ::testing::Test {
protected:
    explicit SpectrumRunTest(DutConfig dut = DutConfig{}) : card(dut, LoopbackClock::Instant) {}

    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.SetOutputVolume(100);

        SetDeviceFormat(engine.InDeviceFormats()[0], 16, false, 48000);
        SetDeviceFormat(engine.OutDeviceFormats()[0], 16, false, 48000);
        settings.Fft.FftWindow = 0;  // "None": a constant 0.5, so a bin's magnitude is a*N/4
        settings.Fft.FftPoints = 1024;
        settings.Fft.FftAverage = 1;
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    void PlayTone(int freqHz, int leftDb, int rightDb)
    {
        GeneratorParams p;
        p.frequencyHz = freqHz;
        p.levelLeftDb = leftDb;
        p.levelRightDb = rightDb;
        // A finite tone (the engine keeps one buffer of it: a few tenths of a second),
        // enough for the blocks of one test on the instant clock.
        ASSERT_EQ(engine.StartPlayback(freqHz, 3000, p), 0);
    }

    /// Delivers completions and queued WM_SPECTRUM_NEXT messages like the event loop
    /// does, at most maxMessages of the latter.
    void RunLoop(int maxMessages = 1000)
    {
        port.Pump();
        while (view.queuedNext > 0 && maxMessages-- > 0) {
            --view.queuedNext;
            run.SpectrumNext();
            port.Pump();
        }
    }

    /// A sine of amplitude a on a bin under the constant window 0.5: the transform gives
    /// 0.5 * a * N / 2, and the magnitudes are scaled by 1/N, so m = a / 4, which the default
    /// scale shows as the sine's peak in dB of full scale.
    static double PredictedDb(double amplitude) { return 20.0 * std::log10(amplitude); }

    /// Amplitudes of freqHz on the left and right input, by direct DFT over an exact
    /// number of periods recorded straight from the engine.
    std::pair<double, double> DirectAmplitudes(double freqHz, int frames)
    {
        std::vector<float> values;
        engine.StartCapture(frames, 0, [&] {
            int count = 0, over = 0;
            std::uint32_t user = 0;
            const float* data = engine.TakeCapturedBlock(count, over, user);
            values.assign(data, data + count);
        });
        port.Pump();
        return {test::ToneAmplitude(values.data(), 1, frames, freqHz, 48000.0),
                test::ToneAmplitude(values.data(), 0, frames, freqHz, 48000.0)};
    }

    LoopbackCard card;
    SoundEngine engine{card};
    test::QueuePort port{engine};
    Settings settings;
    RecordingDiagram diagram;
    RecordingView view;
    WeightingFilter filter;
    CorrectionCurve inCorrection;
    RecordingPrompts prompts;
    SpectrumRun run{engine, settings, diagram, view, filter, inCorrection};
};

TEST_F(SpectrumRunTest, SingleModeWithFourAveragesCountsDownStopsAndShowsTheMeanAtThePredictedLevel)
{
    PlayTone(3000, 0, -6);  // bin 64 of 1024 points at 48 kHz
    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    view.typedAverage = 4;
    view.averShown.clear();
    run.StartButtonClick();
    ASSERT_TRUE(run.Running);
    EXPECT_FALSE(view.lockedEnabled);
    EXPECT_FALSE(view.binpopt);
    RunLoop();

    EXPECT_FALSE(run.Running);
    EXPECT_TRUE(view.lockedEnabled);
    EXPECT_EQ(run.BlocksTaken(), 4);
    // SetRunning(true) shows 4, then the blocks 3, 2, 1 (and 0 for an instant before the
    // completed mean resets it to 4), then the stop 4.
    EXPECT_EQ(view.averShown, (std::vector<int>{4, 3, 2, 1, 0, 4, 4}));
    ASSERT_EQ(diagram.left.size(), 512u);
    EXPECT_EQ(diagram.preparedMin, 22);  // 24000 / 1024 = 23, rounded down to even
    EXPECT_EQ(diagram.preparedMax, 24000);
    EXPECT_FLOAT_EQ(diagram.freq[64], 3000.0f);

    const double amplitude = 32767.0 / 32768.0;
    EXPECT_NEAR(diagram.left[64], PredictedDb(amplitude), 0.01);
    EXPECT_NEAR(diagram.right[64], PredictedDb(amplitude * std::pow(10.0, -6.0 / 20.0)), 0.01);
    int peak = 0;
    for (int i = 1; i < 512; ++i) {
        if (diagram.left[static_cast<std::size_t>(i)] > diagram.left[static_cast<std::size_t>(peak)]) {
            peak = i;
        }
    }
    EXPECT_EQ(peak, 64);
    EXPECT_TRUE(diagram.curve1 && diagram.curve2 && diagram.axis1 && !diagram.axis2);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SpectrumRunTest, AveragingOneShowsEveryBlockWithoutCountingDown)
{
    PlayTone(3000, 0, 0);
    run.EnterSpectrumPage();
    view.averShown.clear();
    run.StartButtonClick();
    RunLoop(4);  // continuous mode: four more blocks, then we stop delivering
    EXPECT_TRUE(run.Running);
    EXPECT_EQ(run.BlocksTaken(), 5);
    EXPECT_EQ(run.ResultsShown(), 5);
    for (int v : view.averShown) {
        EXPECT_EQ(v, 1);
    }
    EXPECT_EQ(view.queuedNext, 1);  // continuous mode always asks for the next block
}

TEST_F(SpectrumRunTest, StopWhileNextBlockIsQueuedRecordsOneMoreBlockAndIgnoresIt)
{
    PlayTone(3000, 0, 0);
    run.EnterSpectrumPage();
    run.StartButtonClick();
    port.Pump();
    ASSERT_EQ(view.queuedNext, 1);
    const int stored = diagram.stores;
    run.StopButtonClick();
    EXPECT_TRUE(view.binpopt);
    RunLoop();
    EXPECT_EQ(card.PostedInData(), 2u);  // the queued message still started a block
    EXPECT_EQ(diagram.stores, stored);   // and nothing of it was drawn
    EXPECT_EQ(run.BlocksTaken(), 1);
    EXPECT_EQ(view.queuedNext, 0);
}

TEST_F(SpectrumRunTest, TriggerModeRepeatsBelowTheThresholdAndStopsOnTheFirstBlockAbove)
{
    settings.Analysis.FundThreshold = 0.001;  // -60 dB
    settings.Fft.FftAverage = 3;
    run.EnterSpectrumPage();
    run.RunningGroupClick(2);
    EXPECT_EQ(settings.Fft.FftAverage, 1);  // trigger mode forces single blocks
    EXPECT_EQ(view.averShown.back(), 1);
    run.StartButtonClick();
    RunLoop(3);  // silence: far below the trigger level
    EXPECT_TRUE(run.Running);
    EXPECT_NEAR(run.TriggerLevel(), -60.0, 1e-9);
    EXPECT_LT(run.CurrentLevel(), -100.0);
    EXPECT_EQ(diagram.resultLine.rfind("act. level ", 0), 0u) << diagram.resultLine;
    EXPECT_NE(diagram.resultLine.find("dB    trigg level -60.0dB"), std::string::npos) << diagram.resultLine;

    PlayTone(3000, 0, 0);
    RunLoop();
    EXPECT_FALSE(run.Running);
    EXPECT_GT(run.CurrentLevel(), -60.0);
    EXPECT_EQ(view.queuedNext, 0);
}

TEST_F(SpectrumRunTest, ChannelsSwitchedOffPlotMinus192)
{
    PlayTone(3000, 0, 0);
    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    run.MeasureLeftClick(false);
    run.MeasureRightClick(false);
    run.StartButtonClick();
    RunLoop();
    ASSERT_EQ(diagram.left.size(), 512u);
    for (std::size_t i = 0; i < 512; ++i) {
        EXPECT_EQ(diagram.left[i], -192.0f);
        EXPECT_EQ(diagram.right[i], -192.0f);
    }
    EXPECT_FALSE(diagram.curve1);
    EXPECT_FALSE(diagram.curve2);
}

TEST_F(SpectrumRunTest, EnteringWithAnUnknownSizeUses1024AndRepairsEmptyRanges)
{
    settings.Fft.FftPoints = 3000;
    settings.Fft.FftYMin = 5;
    settings.Fft.FftYMax = 5;
    settings.Fft.FftXMin = 500;
    settings.Fft.FftXMax = 400;
    run.EnterSpectrumPage();
    EXPECT_EQ(settings.Fft.FftPoints, 1024);
    EXPECT_EQ(view.pointsItem, 1);
    EXPECT_EQ(settings.Fft.FftYMax, 0.0);
    EXPECT_EQ(settings.Fft.FftYMin, -110.0);
    EXPECT_EQ(settings.Fft.FftXMin, 10);
    EXPECT_EQ(settings.Fft.FftXMax, 28000);
    EXPECT_EQ(diagram.preparedLast, 513);
    EXPECT_EQ(view.bits, "16 Bits");
    EXPECT_EQ(view.rate, "48000 Hz");
    EXPECT_TRUE(diagram.visible);
    EXPECT_TRUE(run.SpectrumPageActive);

    diagram.freqMin = 100;
    diagram.freqMax = 5000;
    diagram.levelMin = -80;
    diagram.levelMax = -10;
    run.LeaveSpectrumPage();
    EXPECT_EQ(settings.Fft.FftXMin, 100);
    EXPECT_EQ(settings.Fft.FftXMax, 5000);
    EXPECT_EQ(settings.Fft.FftYMin, -80.0);
    EXPECT_EQ(settings.Fft.FftYMax, -10.0);
    EXPECT_EQ(diagram.resets, 1);
    EXPECT_FALSE(diagram.visible);
    EXPECT_TRUE(run.SpectrumLeft.empty());
}

TEST_F(SpectrumRunTest, DeviceErrorAtStartShowsTheStartLeadInAndUnlocks)
{
    run.EnterSpectrumPage();
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    run.StartButtonClick();
    EXPECT_FALSE(run.Running);
    EXPECT_TRUE(view.lockedEnabled);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.shown[0].helpButton);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text, "Probleme beim Sample (" + engine.DeviceErrorText(kMmAllocated) + ")");
}

TEST_F(SpectrumRunTest, DeviceErrorOnTheNextBlockShowsTheOpenLeadInInEnglish)
{
    run.SetLanguage('E');
    run.EnterSpectrumPage();
    run.StartButtonClick();
    port.Pump();
    card.InjectFault(WaveCall::WaveInOpen, kMmNoDriver);
    RunLoop();
    EXPECT_FALSE(run.Running);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Problems at Open Sampling (" + engine.DeviceErrorText(kMmNoDriver) + ")");
}

TEST_F(SpectrumRunTest, DiagramRefusalsGiveTheirWarningsAndEndTheRun)
{
    run.EnterSpectrumPage();
    diagram.failPrepare = true;
    run.StartButtonClick();
    EXPECT_FALSE(run.Running);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Warning);
    EXPECT_EQ(prompts.shown[0].text, "Diagram Error");

    diagram.failPrepare = false;
    diagram.refuseFrom = 100;
    run.StartButtonClick();
    RunLoop();
    EXPECT_FALSE(run.Running);
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].text, "Diagram error");
    EXPECT_EQ(diagram.stores, 100);
    EXPECT_EQ(card.PostedInData(), 1u);
}

TEST_F(SpectrumRunTest, NoCaptureDeviceMakesStartDoNothing)
{
    LoopbackCard empty(DutConfig{}, LoopbackClock::Instant);
    empty.SetDeviceCounts(0u, 1u, std::nullopt, std::nullopt);
    SoundEngine bare(empty);
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    bare.BuildDeviceReport(in, out, formats);
    ASSERT_EQ(bare.InitSoundEngine(), 0);
    ASSERT_EQ(bare.CaptureFormats(), 0u);
    SpectrumRun idle(bare, settings, diagram, view, filter, inCorrection);
    idle.EnterSpectrumPage();
    idle.StartButtonClick();
    EXPECT_FALSE(idle.Running);
    EXPECT_EQ(empty.PostedInData(), 0u);
    bare.ShutdownSoundEngine();
}

TEST_F(SpectrumRunTest, LevelLineShowsBothChannelsTheirDifferenceAndTheFilter)
{
    PlayTone(3000, 0, -6);
    settings.Analysis.NoiseMeasure = true;
    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    run.StartButtonClick();
    RunLoop();
    const std::string& line = diagram.resultLine;
    ASSERT_EQ(line.rfind("Level:  LI ", 0), 0u) << line;
    ASSERT_NE(line.find("dB   Filter: none"), std::string::npos) << line;
    const double vl = std::atof(line.c_str() + 11);
    const std::size_t re = line.find(" RE ");
    ASSERT_NE(re, std::string::npos);
    const double vr = std::atof(line.c_str() + re + 4);
    EXPECT_NEAR(vl - vr, 6.0, 0.02);
    EXPECT_NEAR(vl, PredictedDb(32767.0 / 32768.0) - 10.0 * std::log10(2.0), 0.02);  // the RMS of the sine
}

/// The right input carries white noise of -20 dBFS RMS from the device under test.
class SpectrumRunNoiseTest : public SpectrumRunTest {
protected:
    SpectrumRunNoiseTest() : SpectrumRunTest(MakeDut()) {}
    static DutConfig MakeDut()
    {
        DutConfig dut;
        dut.noise = true;
        dut.noiseDbfs = -20.0;
        return dut;
    }
    double RightLevelAfter(int averages)
    {
        settings.Fft.FftAverage = averages;
        run.StartButtonClick();
        RunLoop();
        const std::size_t re = diagram.resultLine.find(" RE ");
        EXPECT_NE(re, std::string::npos) << diagram.resultLine;
        return std::atof(diagram.resultLine.c_str() + re + 4);
    }
};

TEST_F(SpectrumRunNoiseTest, NoiseReadsItsLevelFromOneBlockAndFromAHundred)
{
    // Power averaging: the mean of the squared magnitudes keeps the noise's level; a mean of
    // the magnitudes would read it 1.05 dB low (the Rayleigh mean).
    settings.Analysis.NoiseMeasure = true;
    settings.Analysis.AnaFreqLow = 0;
    settings.Analysis.AnaFreqHigh = 24000;
    settings.Fft.FftWindow = 4;
    settings.Fft.FftPoints = 4096;
    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    EXPECT_NEAR(RightLevelAfter(1), -20.0, 0.4);  // one block of 2048 bins scatters by 0.1 dB
    EXPECT_NEAR(RightLevelAfter(100), -20.0, 0.1);
}

TEST_F(SpectrumRunTest, LongSizesAreKeptRecordedWholeAndReadTheToneAtTheSameLevel)
{
    // The peak of a 1 kHz tone through the Flat-Top window, at 4096 points and beyond: the
    // same level within 0.05 dB, every bin stored; a size is kept in the settings as it is.
    GeneratorParams tone;
    tone.frequencyHz = 1000;
    tone.levelLeftDb = -6;
    tone.levelRightDb = -6;
    ASSERT_EQ(engine.StartPlayback(1000, -1, tone), 0);  // looped for all the blocks
    settings.Fft.FftWindow = 5;
    std::vector<double> peaks;
    for (int points : {4096, 16384, 131072}) {
        settings.Fft.FftPoints = points;
        diagram = RecordingDiagram{};
        run.EnterSpectrumPage();
        EXPECT_EQ(view.pointsItem, SpectrumRun::ItemForPoints(points));
        EXPECT_EQ(SpectrumRun::PointsForItem(view.pointsItem), points);
        run.RunningGroupClick(0);
        run.StartButtonClick();
        RunLoop();
        EXPECT_EQ(settings.Fft.FftPoints, points);
        ASSERT_EQ(diagram.stores, points / 2) << points;
        peaks.push_back(*std::max_element(diagram.left.begin(), diagram.left.end()));
        run.LeaveSpectrumPage();
    }
    engine.StopPlayback();
    for (double peak : peaks) EXPECT_NEAR(peak, peaks[0], 0.05);
}

TEST_F(SpectrumRunTest, StopEndsALongBlockAtOnceAndNothingOfItIsShown)
{
    settings.Fft.FftPoints = 1 << 20;
    run.EnterSpectrumPage();
    run.RunningGroupClick(1);
    run.StartButtonClick();
    ASSERT_TRUE(run.Running);
    EXPECT_NEAR(run.BlockSeconds(), (1 << 20) / 48000.0, 1e-9);
    run.StopButtonClick();
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_EQ(run.BlockSeconds(), 0.0);
    RunLoop();
    EXPECT_EQ(run.BlocksTaken(), 0);
    EXPECT_EQ(diagram.stores, 0);
}

/// The right channel passes a device under test with a cubic term: a sine of amplitude x
/// leaves it with h3*x^3 at three times its frequency (x + 4*h3*x^3 as a polynomial).
class SpectrumRunDistortionTest : public SpectrumRunTest {
protected:
    SpectrumRunDistortionTest() : SpectrumRunTest(MakeDut()) {}
    static DutConfig MakeDut()
    {
        DutConfig dut;
        dut.h3 = 0.04;
        return dut;
    }
};

TEST_F(SpectrumRunDistortionTest, ThdLineReadsTheDistortionOfTheDeviceUnderTestInEnglish)
{
    PlayTone(1000, -6, -6);  // half scale: the cubic term stays clear of clipping
    settings.Analysis.ThdMeasure = true;
    settings.Fft.FftWindow = 4;  // Blackman/Harris: leakage far below the harmonic
    settings.Fft.FftPoints = 4096;
    run.SetLanguage('E');
    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    run.StartButtonClick();
    RunLoop();
    const std::string& line = diagram.resultLine;
    ASSERT_EQ(line.rfind("THD+N:  le ", 0), 0u) << line;
    ASSERT_NE(line.find(" |   Filter: none"), std::string::npos) << line;
    // The automatic search places the fundamental between the bins (bin width 11.72 Hz).
    const std::size_t ri = line.find(" |  ri ");
    ASSERT_NE(ri, std::string::npos) << line;
    const std::string rightPart = line.substr(ri + 7);
    const double fund = std::atof(rightPart.c_str());
    EXPECT_EQ(fund, 1000.0);
    const double thd = std::atof(rightPart.c_str() + rightPart.find("Hz ") + 3);
    // The reference: the third harmonic against the fundamental of the same device, by
    // direct DFT over 100 periods.
    engine.StopPlayback();
    PlayTone(1000, -6, -6);
    const double a1 = DirectAmplitudes(1000.0, 4800).second;
    engine.StopPlayback();
    PlayTone(1000, -6, -6);
    const double a3 = DirectAmplitudes(3000.0, 4800).second;
    const double x = std::pow(10.0, -6.0 / 20.0);
    ASSERT_NEAR(a1, x + 3.0 * 0.04 * x * x * x, 0.002);
    EXPECT_NEAR(a3, 0.04 * x * x * x, 0.0002);
    EXPECT_NEAR(thd, 20.0 * std::log10(a3 / a1), 0.1) << line;
    const double leftThd = std::atof(line.c_str() + line.find("Hz ") + 3);
    EXPECT_LT(leftThd, -80.0) << line;
    EXPECT_EQ(settings.Analysis.Fundamental, fund);
}

TEST_F(SpectrumRunDistortionTest, ThdLineReadsARealZeroAndSaysWhenTheNotchCoversTheBandOrTheBinsAreTooCoarse)
{
    PlayTone(1000, -6, -6);
    settings.Analysis.ThdMeasure = true;
    settings.Fft.FftPoints = 4096;
    // A fundamental far outside the spectrum notches nothing: all power is "rest".
    settings.Analysis.FundAuto = false;
    settings.Analysis.Fundamental = 90000;
    settings.Analysis.AnaFreqLow = 0;
    settings.Analysis.AnaFreqHigh = 24000;
    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    run.StartButtonClick();
    RunLoop();
    EXPECT_EQ(diagram.resultLine, "THD+N:  LI 90000Hz 0.0dB |  RE 90000Hz 0.0dB |   Filter: none");

    // 990..1010 Hz around 1 kHz: the notch (two bins of 11.7 Hz each side for "None")
    // covers it.
    settings.Analysis.FundAuto = true;
    settings.Analysis.AnaFreqLow = 990;
    settings.Analysis.AnaFreqHigh = 1010;
    run.StartButtonClick();
    RunLoop();
    EXPECT_EQ(diagram.resultLine,
              "THD+N:  LI 1000Hz Band schmaler als Notch |  RE 1000Hz Band schmaler als Notch |   Filter: none");

    // 100 Hz is 8.5 bins up: the notch of "Bla/Harris" (8 bins each side) would reach the
    // lobes of 0 Hz and of 200 Hz.
    engine.StopPlayback();
    PlayTone(100, -6, -6);
    settings.Fft.FftWindow = 4;
    run.FFTwinGroupClick(4);
    settings.Analysis.AnaFreqLow = 20;
    settings.Analysis.AnaFreqHigh = 20000;
    run.SetLanguage('E');
    run.StartButtonClick();
    RunLoop();
    EXPECT_EQ(diagram.resultLine,
              "THD+N:  le 100Hz resolution too coarse |  ri 100Hz resolution too coarse |   Filter: none");
}

TEST(SpectrumTexts, BothLanguagesAndNothingForOtherLetters)
{
    ASSERT_NE(SpectrumTextsFor('D'), nullptr);
    EXPECT_EQ(SpectrumTextsFor('E')->noFundamental, " no fundamental ");
    EXPECT_EQ(SpectrumTextsFor('D')->noFundamental, " keine Grundwelle ");
    EXPECT_EQ(SpectrumTextsFor('E')->bandInNotch, "band narrower than notch");
    EXPECT_EQ(SpectrumTextsFor('E')->resolutionTooCoarse, "resolution too coarse");
    EXPECT_EQ(SpectrumTextsFor('D')->resolutionTooCoarse, "Auflösung zu grob");
    EXPECT_EQ(SpectrumTextsFor('x'), nullptr);
}

}  // namespace
}  // namespace sonvera
