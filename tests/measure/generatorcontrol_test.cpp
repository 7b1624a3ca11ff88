#include <gtest/gtest.h>

#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "config/profilefile.h"
#include "config/sections.h"
#include "dsp/distortion.h"
#include "dsp/spectrum.h"
#include "engine/soundengine.h"
#include "measure/generatorcontrol.h"
#include "measure/prompt.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

class RecordingPrompts : public PromptService {
public:
    RecordingPrompts() { previous = SetPromptService(this); }
    ~RecordingPrompts() override { SetPromptService(previous); }
    void Show(const Prompt& p) override { shown.push_back(p); }
    std::vector<Prompt> shown;
    PromptService* previous = nullptr;
};

class GeneratorControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
    }
    void TearDown() override
    {
        control.GstopClick();
        engine.ShutdownSoundEngine();
    }
    void Load(const std::string& text)
    {
        ProfileFile file = ProfileFile::InMemory(text);
        control.LoadGeneratorSettings(file);
    }
    /// A 0.1 s stereo sine file in a fresh folder.
    std::string WaveFile()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "sonvera-gen-XXXXXX").string();
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        const std::string path = dir_ + "/tone.wav";
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        std::vector<short> v(8820);
        for (std::size_t i = 0; i < 4410; ++i) {
            v[2 * i] = v[2 * i + 1] = static_cast<short>(10000 * std::sin(2 * std::numbers::pi * 1000.0 * i / 44100));
        }
        sf_writef_short(f, v.data(), 4410);
        sf_close(f);
        return path;
    }
    ~GeneratorControlTest() override
    {
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    GeneratorSettings settings;
    CorrectionCurve outCorrection;
    RecordingPrompts prompts;
    GeneratorControl control{engine, settings, outCorrection};
    std::string dir_;
};

TEST_F(GeneratorControlTest, CoarseAndFineStepsStayWithinTheRangeWithoutClamping)
{
    settings.GenFrequency = 50;
    control.GrobSpinDown();
    EXPECT_EQ(settings.GenFrequency, 50);
    control.FeinSpinDown();
    EXPECT_EQ(settings.GenFrequency, 49);
    control.GrobSpinUp();
    EXPECT_EQ(settings.GenFrequency, 149);
    EXPECT_EQ(control.Display.freqText, "149Hz");
    settings.GenFrequency = 27950;
    control.GrobSpinUp();
    EXPECT_EQ(settings.GenFrequency, 27950);
    settings.GenFrequency = 28000;
    control.FeinSpinUp();
    EXPECT_EQ(settings.GenFrequency, 28000);
    settings.GenFrequency = 10;
    control.FeinSpinDown();
    EXPECT_EQ(settings.GenFrequency, 10);
    // Stopped: only the stored value changes.
    EXPECT_FALSE(engine.PlaybackActive());
}

TEST(GeneratorRange, HighRatesReachTo045OfTheRateAndTheCommonRatesKeep28000)
{
    struct Row {
        int rate;
        int maxHz;
    };
    for (const Row r : {Row{44100, 28000}, Row{48000, 28000}, Row{96000, 43200}, Row{192000, 86400}}) {
        EXPECT_EQ(GeneratorMaxHz(r.rate), r.maxHz) << r.rate;
        const int maxHz = GeneratorMaxHz(r.rate);
        EXPECT_EQ(GeneratorControl::ParseTypedFrequency(std::to_string(r.maxHz), maxHz), r.maxHz) << r.rate;
        EXPECT_FALSE(GeneratorControl::ParseTypedFrequency(std::to_string(r.maxHz + 1), maxHz)) << r.rate;
    }
}

TEST_F(GeneratorControlTest, ATypedFrequencyIsReadWithOrWithoutItsUnitAndOnlyInTheRange)
{
    struct Row {
        const char* text;
        int hz;  // 0: refused
    };
    const Row rows[] = {
        {"1500", 1500}, {"1500Hz", 1500}, {"1500 Hz", 1500}, {" 1500hz ", 1500}, {"2800", 2800},
        {"12345", 12345}, {"10Hz", 10},   {"28000", 28000},  {"9Hz", 0},         {"28001", 0},
        {"28001Hz", 0},   {"", 0},        {"Hz", 0},         {"abcHz", 0},       {"12 kHz", 0},
        {"1.5k", 0},      {"15 00", 0},   {"-100", 0},
    };
    for (const Row& r : rows) {
        settings.GenFrequency = 1000;
        control.GfreqTextChange(r.text);  // a keystroke changes only the text
        EXPECT_EQ(settings.GenFrequency, 1000) << r.text;
        EXPECT_EQ(control.GfreqTextCommit(r.text), r.hz != 0) << r.text;
        EXPECT_EQ(settings.GenFrequency, r.hz != 0 ? r.hz : 1000) << r.text;
    }
}

TEST_F(GeneratorControlTest, ChangesWhilePlayingRestartWithTheNewSettings)
{
    settings.GenFrequency = 1000;
    control.GstartClick();
    ASSERT_TRUE(engine.PlaybackActive());
    EXPECT_EQ(control.Display.panelColour, kColourDarkRed);
    EXPECT_FALSE(control.Display.optEnabled);
    EXPECT_FALSE(control.WOoptButAllowed());
    control.ScrollBar4Scroll(12);
    EXPECT_EQ(control.Display.labelLeft, "-12dB");
    EXPECT_EQ(control.LastPlayed().levelLeftDb, -12);
    control.ScrollBar1Scroll(100);
    EXPECT_EQ(control.Display.labelRight, "OFF");
    EXPECT_EQ(control.LastPlayed().levelRightDb, -100);
    control.PhLChange("45");
    EXPECT_EQ(control.LastPlayed().phaseLeftDeg, 45);
    control.PhRChange("x");
    EXPECT_EQ(settings.GenPhaseR, 0);
    control.FeinSpinUp();
    EXPECT_EQ(control.LastPlayed().frequencyHz, 1001);
    EXPECT_TRUE(engine.PlaybackActive());
    control.GstopClick();
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_EQ(control.Display.panelColour, kColourBlack);
    EXPECT_TRUE(control.Display.optEnabled);
}

TEST_F(GeneratorControlTest, SineAndTwoTonesLoopOverWholePeriodsAndReadCleanOnTheIdealWire)
{
    test::QueuePort port{engine};
    SetDeviceFormat(engine.InDeviceFormats()[0], 24, false, 48000);
    SetDeviceFormat(engine.OutDeviceFormats()[0], 24, false, 48000);
    settings.GenFrequency = 997;  // no whole period fits the engine's own buffer
    control.ScrollBar4Scroll(1);
    control.ScrollBar1Scroll(1);
    control.ScrollBar2Scroll(0);  // the card's volume at 100 %
    const struct {
        int waveform;
        const char* text;
    } cases[] = {{kWaveSine, "997Hz"}, {kWaveSmpte, "SMPTE"}, {kWaveDin, "DIN"}, {kWaveCcif, "CCIF"}};
    for (const auto& c : cases) {
        control.RadioGroup1Click(c.waveform);
        if (!engine.PlaybackActive()) {
            control.GstartClick();
        }
        ASSERT_TRUE(engine.PlaybackActive()) << c.text;
        EXPECT_EQ(control.Display.freqText, c.text);
        EXPECT_EQ(control.Display.precOut, "0");
        constexpr int n = 65536;
        bool done = false;
        ASSERT_EQ(engine.StartCapture(n, 0, [&] { done = true; }), 0);
        for (int i = 0; i < 100 && !done; ++i) {
            card.AdvanceInstantClock(100);
            port.Pump();
        }
        ASSERT_TRUE(done) << c.text;
        int count = 0, overload = 0;
        std::uint32_t user = 0;
        const float* block = engine.TakeCapturedBlock(count, overload, user);
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(count, 2 * n);
        std::vector<float> right(n);
        for (int i = 0; i < n; ++i) {
            right[static_cast<std::size_t>(i)] = block[2 * i];
        }
        SpectrumTransform transform;
        ASSERT_TRUE(transform.BuildWindowTable(kDistortionWindow, n));
        ASSERT_TRUE(transform.ComputeSpectrum(right.data(), n));
        const ChannelSpectrum spectrum(std::span<const float>(right.data(), n / 2));
        DistortionParams params;
        params.fftSize = n;
        if (c.waveform == kWaveSine) {
            const DistortionReading r = MeasureDistortion(spectrum, params, WeightingFilter());
            ASSERT_EQ(r.outcome, DistortionOutcome::Measured);
            EXPECT_NEAR(r.fundamentalDb, -1.0, 0.01);
            EXPECT_LT(r.thdnDb, -125.0);  // 24 bits; a phase step at each join reads about -71 dB
        } else {
            TwoToneTest test = c.waveform == kWaveSmpte ? TwoToneTest::Smpte
                               : c.waveform == kWaveDin ? TwoToneTest::Din
                                                        : TwoToneTest::Ccif;
            const ImdReading r = MeasureImd(spectrum, params, test);
            ASSERT_EQ(r.outcome, DistortionOutcome::Measured) << c.text;
            EXPECT_LT(test == TwoToneTest::Ccif ? std::max(r.d2Db, r.d3Db) : r.imdDb, -120.0) << c.text;
            // The sum peaks at the level: the tones stand at 4:1 or 1:1 of -1 dB.
            const double upper = test == TwoToneTest::Ccif ? 0.5 : 0.2;
            const double f = test == TwoToneTest::Smpte ? 7000 : test == TwoToneTest::Din ? 8000 : 20000;
            EXPECT_NEAR(20.0 * std::log10(ToneAmplitude(spectrum, params, f)),
                        20.0 * std::log10(upper * std::pow(10.0, -1.0 / 20.0)), 0.01)
                << c.text;
        }
    }
}

TEST_F(GeneratorControlTest, OutputCorrectionRaisesTheSineOnlyAndOffStaysOff)
{
    const CurveTablePoint flat[] = {{10.0, -3.0}, {1000.0, -3.0}, {30000.0, -3.0}};
    ASSERT_TRUE(SetCurvePoints(outCorrection, flat, 3));
    outCorrection.active = true;
    settings.GenFrequency = 1000;
    control.ScrollBar1Scroll(100);
    control.GstartClick();
    EXPECT_EQ(control.LastPlayed().levelLeftDb, 3);
    EXPECT_EQ(control.LastPlayed().levelRightDb, -100);
    EXPECT_EQ(settings.GenVolL, 0);  // the setting keeps the scroll bar's level
    control.RadioGroup1Click(1);
    EXPECT_EQ(control.LastPlayed().levelLeftDb, 0);
    control.RadioGroup1Click(2);
    EXPECT_EQ(control.LastPlayed().levelLeftDb, 0);
    outCorrection.active = false;
    control.RadioGroup1Click(0);
    EXPECT_EQ(control.LastPlayed().levelLeftDb, 0);
}

TEST_F(GeneratorControlTest, FreqTextShowsFrequencyNoiseOrTheBareFileName)
{
    settings.GenFrequency = 440;
    control.RadioGroup1Click(1);
    EXPECT_EQ(control.Display.freqText, "440Hz");
    EXPECT_EQ(control.Display.freqColour, kColourWhite);
    control.RadioGroup1Click(2);
    EXPECT_EQ(control.Display.freqText, "Noise");
    EXPECT_EQ(control.Display.freqColour, kColourWhite);
    control.RadioGroup1Click(3);
    EXPECT_EQ(control.Display.freqText, "Noise");
    EXPECT_EQ(control.Display.freqColour, kColourMagenta);
    control.UserButChosen("C:\\klang\\test.wav");
    control.RadioGroup1Click(4);
    EXPECT_EQ(control.Display.freqText, "test.wav");
    EXPECT_EQ(GeneratorControl::BareFileName("/home/u/sounds/a.wav"), "a.wav");
    EXPECT_EQ(GeneratorControl::BareFileName("plain.wav"), "plain.wav");
    control.UserButChosen(std::string(200, 'x'));
    EXPECT_EQ(settings.GenUserFile.size(), 120u);
}

TEST_F(GeneratorControlTest, UserWhilePlayingSwitchesToTheLoopedFileAndStopSilencesIt)
{
    settings.GenFrequency = 1000;
    control.GstartClick();
    ASSERT_TRUE(engine.PlaybackActive());
    control.UserButChosen(WaveFile());
    control.RadioGroup1Click(4);
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_TRUE(control.UserWavePlaying());
    EXPECT_TRUE(control.Player().Playing());
    EXPECT_FALSE(control.Display.levelControlsEnabled);
    // Back to the sine: the file stops and the engine plays again.
    control.RadioGroup1Click(0);
    EXPECT_FALSE(control.Player().Playing());
    EXPECT_TRUE(engine.PlaybackActive());
    EXPECT_TRUE(control.Display.levelControlsEnabled);
    control.RadioGroup1Click(4);
    control.GstopClick();
    EXPECT_FALSE(control.Player().Playing());
    EXPECT_FALSE(control.UserWavePlaying());
    EXPECT_TRUE(control.Display.levelControlsEnabled);
}

TEST_F(GeneratorControlTest, MissingUserFileGivesTheErrorBoxAndNothingPlays)
{
    control.SetGeneratorTexts('E');
    control.UserButChosen("/no/such/file.wav");
    control.RadioGroup1Click(4);
    control.GstartClick();
    EXPECT_FALSE(control.UserWavePlaying());
    EXPECT_FALSE(engine.PlaybackActive());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text.rfind("Error at frequency output (/no/such/file.wav", 0), 0u);
    EXPECT_EQ(prompts.shown[0].text.substr(prompts.shown[0].text.size() - 2), " )");
    EXPECT_EQ(control.Display.panelColour, kColourBlack);
}

TEST_F(GeneratorControlTest, DeviceErrorOnStartShowsTheDeviceText)
{
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    control.GstartClick();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Fehler bei Frequenzausgabe (" + engine.DeviceErrorText(kMmAllocated) + " )");
}

TEST_F(GeneratorControlTest, LoadedLevelsPlaceTheScrollBarsAndSurviveTheFirstTouch)
{
    Load("[GEN]\nFGEN=2000\nVOLL=-20\nVOLR=-100\nPHASEL=30\nMODE=0\n");
    EXPECT_EQ(control.Display.labelLeft, "-20dB");
    EXPECT_EQ(control.Display.scrollLeft, 20);
    EXPECT_EQ(control.Display.scrollRight, 100);
    EXPECT_EQ(control.Display.phaseLeft, "30");
    EXPECT_EQ(control.Display.freqText, "2000Hz");
    control.PhRChange("10");
    EXPECT_EQ(settings.GenVolL, -20);
    EXPECT_EQ(settings.GenVolR, -100);
    control.GstartClick();
    EXPECT_EQ(control.LastPlayed().levelLeftDb, -20);
    EXPECT_EQ(control.LastPlayed().phaseRightDeg, 10);
}

TEST_F(GeneratorControlTest, ZeroFrequencyFromTheFileMakesStartDoNothing)
{
    Load("[GEN]\nFGEN=0\n");
    control.GstartClick();
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(GeneratorControlTest, SettingsRoundTripThroughTheGenSection)
{
    settings.GenFrequency = 1234;
    control.ScrollBar4Scroll(7);
    settings.GenPhaseR = -90;
    settings.GenMode = 3;
    settings.GenUserFile = "/tmp/x.wav";
    ProfileFile file = ProfileFile::InMemory();
    control.SaveGeneratorSettings(file);
    GeneratorSettings copy;
    ReadGeneratorSection(file, copy);
    EXPECT_EQ(copy.GenFrequency, 1234);
    EXPECT_EQ(copy.GenVolL, -7);
    EXPECT_EQ(copy.GenPhaseR, -90);
    EXPECT_EQ(copy.GenMode, 3);
    EXPECT_EQ(copy.GenUserFile, "/tmp/x.wav");
}

TEST_F(GeneratorControlTest, AnalogVolumeShowsTheVolumeReadBack)
{
    control.ScrollBar2Scroll(25);
    EXPECT_EQ(control.Display.volumeLabel, std::to_string(engine.GetOutputVolume()) + "%");
    EXPECT_NEAR(engine.GetOutputVolume(), 75, 1);
}

}  // namespace
}  // namespace sonvera
