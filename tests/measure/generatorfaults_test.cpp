// The generator's output when the playback calls fail: at Start, when a running signal
// is restarted for a changed frequency, level, phase or waveform, and at Stop. The
// generator never shows itself playing while nothing plays, nor stopped while its
// signal goes on, and the next Start works once the device answers again.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "engine/soundengine.h"
#include "measure/generatorcontrol.h"
#include "measure/prompt.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

class Recorder : public PromptService {
public:
    Recorder() { previous = SetPromptService(this); }
    ~Recorder() override { SetPromptService(previous); }
    void Show(const Prompt& p) override { shown.push_back(p); }
    std::vector<Prompt> shown;
    PromptService* previous = nullptr;
};

constexpr MmResult kCodes[] = {kMmError, kMmAllocated, kMmNoDriver, kMmNoMem, kWaveBadFormat};

constexpr WaveCall kStartCalls[] = {
    WaveCall::WaveOutOpenQuery,
    WaveCall::WaveOutOpen,
    WaveCall::WaveOutPrepareHeader,
    WaveCall::WaveOutWrite,
};

class GeneratorFaultTest : public ::testing::Test {
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
        card.ClearFaults();
        control.GstopClick();
        engine.ShutdownSoundEngine();
    }

    bool ShowsOn() const { return control.Display.panelColour == kColourDarkRed; }

    void ExpectOneBox(MmResult code)
    {
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
        EXPECT_EQ(prompts.shown[0].helpContext, 17);
        std::string text;
        ASSERT_EQ(card.WaveInGetErrorText(code, text), kMmNoError);  // codes up to 1000
        EXPECT_EQ(prompts.shown[0].text, "Fehler bei Frequenzausgabe (" + text + " )");
    }

    /// Shown off, nothing playing, Start plays again.
    void ExpectOffAndStartWorks()
    {
        EXPECT_FALSE(ShowsOn());
        EXPECT_TRUE(control.Display.optEnabled);
        EXPECT_FALSE(engine.PlaybackActive());
        prompts.shown.clear();
        control.GstartClick();
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_TRUE(ShowsOn());
        EXPECT_TRUE(engine.PlaybackActive());
        control.GstopClick();
        EXPECT_FALSE(ShowsOn());
        EXPECT_FALSE(engine.PlaybackActive());
    }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    test::QueuePort port{engine};
    GeneratorSettings settings;
    CorrectionCurve outCorrection;
    Recorder prompts;
    GeneratorControl control{engine, settings, outCorrection};
};

TEST_F(GeneratorFaultTest, StartFailingInAnyCallShowsTheBoxAndStaysOff)
{
    for (WaveCall call : kStartCalls) {
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << " code " << code);
            prompts.shown.clear();
            card.InjectFault(call, code);
            control.GstartClick();
            ExpectOneBox(code);
            ExpectOffAndStartWorks();
        }
    }
}

TEST_F(GeneratorFaultTest, ARestartThatFailsWhileOnShowsTheBoxAndTheGeneratorOff)
{
    using Change = void (*)(GeneratorControl&);
    const Change changes[] = {
        [](GeneratorControl& c) { c.GrobSpinUp(); },
        [](GeneratorControl& c) { c.FeinSpinDown(); },
        [](GeneratorControl& c) { c.GfreqTextCommit("1234Hz"); },
        [](GeneratorControl& c) { c.ScrollBar4Scroll(20); },
        [](GeneratorControl& c) { c.PhRChange("90"); },
        [](GeneratorControl& c) { c.RadioGroup1Click(kWaveSquare); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        for (WaveCall call : kStartCalls) {
            SCOPED_TRACE(testing::Message() << "change " << i << " call " << static_cast<int>(call));
            control.RadioGroup1Click(kWaveSine);
            prompts.shown.clear();
            control.GstartClick();
            ASSERT_TRUE(ShowsOn());
            card.InjectFault(call, kMmAllocated);
            changes[i](control);
            // The old signal was stopped for the change and the new one did not start.
            ExpectOneBox(kMmAllocated);
            ExpectOffAndStartWorks();
        }
    }
}

TEST_F(GeneratorFaultTest, ARestartThatWorksSaysNothing)
{
    control.GstartClick();
    ASSERT_TRUE(ShowsOn());
    control.GrobSpinUp();
    control.ScrollBar1Scroll(30);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(ShowsOn());
    EXPECT_TRUE(engine.PlaybackActive());
    // Changes while off start nothing and say nothing, even when the device is failing.
    control.GstopClick();
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated, true);
    control.GrobSpinUp();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_FALSE(ShowsOn());
    card.ClearFaults();
}

TEST_F(GeneratorFaultTest, AStopWhoseCallsFailOnceStillEndsTheSignal)
{
    for (WaveCall call : {WaveCall::WaveOutReset, WaveCall::WaveOutUnprepareHeader, WaveCall::WaveOutClose}) {
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << " code " << code);
            prompts.shown.clear();
            control.GstartClick();
            ASSERT_TRUE(ShowsOn());
            card.InjectFault(call, code);
            control.GstopClick();
            // Shown off means off: the signal is not left playing behind a stopped panel.
            EXPECT_FALSE(ShowsOn());
            EXPECT_FALSE(engine.PlaybackActive());
            EXPECT_FALSE(engine.PlaybackOpen());
            ExpectOffAndStartWorks();
        }
    }
}

TEST_F(GeneratorFaultTest, AStopThatCannotEndTheSignalKeepsShowingItOn)
{
    control.GstartClick();
    ASSERT_TRUE(ShowsOn());
    card.InjectFault(WaveCall::WaveOutReset, kMmError, true);
    control.GstopClick();
    EXPECT_TRUE(engine.PlaybackActive());
    EXPECT_TRUE(ShowsOn());
    card.ClearFaults();
    control.GstopClick();
    ExpectOffAndStartWorks();
}

}  // namespace
}  // namespace sonvera
