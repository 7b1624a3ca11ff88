#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/profilefile.h"
#include "engine/soundengine.h"
#include "engine/volume.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

AuxCaps Aux(const std::string& name, std::uint16_t technology)
{
    AuxCaps c;
    c.productName = name;
    c.technology = technology;
    c.support = kAuxCapsVolume;
    return c;
}

std::uint32_t RawAux(LoopbackCard& card, unsigned line)
{
    std::uint32_t v = 0;
    EXPECT_EQ(card.AuxGetVolume(line, v), kMmNoError);
    return v;
}

std::uint32_t RawOut(LoopbackCard& card, unsigned device = 0)
{
    std::uint32_t v = 0;
    EXPECT_EQ(card.WaveOutGetVolume(device, v), kMmNoError);
    return v;
}

void BuildReport(SoundEngine& engine)
{
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(in, out, formats);
}

TEST(EngineStart, WritesNoLineAndShutdownGivesBackOnlyWhatTheEngineWrote)
{
    LoopbackCard card;
    card.AuxSetVolume(1, 0x12341234);
    card.AuxSetVolume(2, 0x00FF00FF);
    card.WaveOutSetVolume(0, 0x80008000);
    ProfileFile file = ProfileFile::InMemory();
    SoundEngine engine(card);
    engine.SetProfile(&file);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);

    EXPECT_EQ(engine.GetOutputVolume(), 25);
    EXPECT_EQ(RawOut(card), 0x3FFF3FFFu);  // trunc(25 x 655.35) = 16383
    EXPECT_EQ(RawAux(card, 0), 0xFFFFFFFFu);
    EXPECT_EQ(RawAux(card, 1), 0x12341234u);
    EXPECT_EQ(RawAux(card, 2), 0x00FF00FFu);
    EXPECT_TRUE(file.Writes().empty());
    const auto& lines = engine.AuxLines();
    EXPECT_EQ(lines[0].name, "Line-In");
    EXPECT_EQ(lines[1].name, "Mic");
    EXPECT_EQ(lines[2].name, "CD");
    EXPECT_EQ(lines[2].caps.technology, kAuxTechCdAudio);
    EXPECT_EQ(lines[3].name, "");
    EXPECT_FALSE(lines[3].counted);

    // The first write records what the line had, in the configuration, before writing.
    engine.SetLineVolume(40, 1);
    EXPECT_EQ(RawAux(card, 1), 0x66666666u);  // trunc(40 x 655.35) = 26214
    EXPECT_EQ(file.GetString(SoundEngine::kLineRecordSection, "LINE1", "", 200), "virtual 12341234 Mic");
    engine.SetLineVolume(60, 1);
    card.AuxSetVolume(2, 0x00AA00AA);  // the user, in another mixer, meanwhile
    EXPECT_TRUE(engine.LineTouched(1));
    EXPECT_FALSE(engine.LineTouched(2));

    engine.ShutdownSoundEngine();
    EXPECT_FALSE(engine.Started());
    EXPECT_EQ(RawOut(card), 0x80008000u);
    EXPECT_EQ(RawAux(card, 0), 0xFFFFFFFFu);
    EXPECT_EQ(RawAux(card, 1), 0x12341234u);  // the value found before the first write
    EXPECT_EQ(RawAux(card, 2), 0x00AA00AAu);  // never written, never "restored"
    EXPECT_EQ(file.GetString(SoundEngine::kLineRecordSection, "LINE1", "-", 200), "");
}

TEST(EngineStart, EachOutputDeviceGetsItsOwnVolumeBackWhenLeftAndAtShutdown)
{
    LoopbackCard card;
    card.SetDeviceCounts(std::nullopt, 2, std::nullopt, std::nullopt);
    card.WaveOutSetVolume(0, 0xC000C000);
    card.WaveOutSetVolume(1, 0x40004000);
    SoundEngine engine(card);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);  // device 0 at 25 %
    engine.SelectOutDevice(1);               // chosen after the start, as the command-line tool does
    EXPECT_EQ(RawOut(card, 0), 0xC000C000u);
    engine.SetOutputVolume(60);
    EXPECT_EQ(RawOut(card, 1), VolumeFromPercent(60));
    engine.SelectOutDevice(0);
    EXPECT_EQ(RawOut(card, 1), 0x40004000u);
    engine.SetOutputVolume(70);
    engine.ShutdownSoundEngine();
    EXPECT_EQ(RawOut(card, 0), 0xC000C000u);
    EXPECT_EQ(RawOut(card, 1), 0x40004000u);
}

TEST(EngineStart, LinesACrashedSessionLeftChangedComeBackOnThisBackendOnly)
{
    LoopbackCard card;
    ProfileFile file = ProfileFile::InMemory(
        "[AUXRESTORE]\n"
        "LINE0=portaudio 11111111 Line-In\n"  // another backend's: kept for a start there
        "LINE1=virtual 12341234 Mic\n"        // put back
        "LINE2=virtual 00FF00FF Capture\n"    // no such line here now: kept
        "LINE3=virtual nonsense\n");          // not a record: dropped
    SoundEngine engine(card);
    engine.SetProfile(&file);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    EXPECT_EQ(engine.RestoreLinesLeftBehind(), std::vector<std::string>{"Mic"});
    EXPECT_EQ(RawAux(card, 0), 0xFFFFFFFFu);
    EXPECT_EQ(RawAux(card, 1), 0x12341234u);
    EXPECT_EQ(RawAux(card, 2), 0xFFFFFFFFu);
    auto record = [&](const char* key) { return file.GetString(SoundEngine::kLineRecordSection, key, "-", 200); };
    EXPECT_EQ(record("LINE0"), "portaudio 11111111 Line-In");
    EXPECT_EQ(record("LINE1"), "");
    EXPECT_EQ(record("LINE2"), "virtual 00FF00FF Capture");
    EXPECT_EQ(record("LINE3"), "");
}

TEST(EngineStart, EachFailedAllocationGivesErrorThreeAndNothingHalfStarted)
{
    for (int block = 0; block < 5; ++block) {
        SCOPED_TRACE(block);
        LoopbackCard card;
        SoundEngine engine(card);
        BuildReport(engine);
        engine.SetFailingAllocationForTest(block);
        EXPECT_EQ(engine.InitSoundEngine(), 3);
        EXPECT_EQ(engine.EngineError(), 3);
        EXPECT_FALSE(engine.Started());
        EXPECT_EQ(engine.SampleBuffer(), nullptr);
        EXPECT_EQ(engine.StartCapture(1024, 0, [] {}), 3);
        engine.ShutdownSoundEngine();  // harmless
        engine.SetFailingAllocationForTest(-1);
        EXPECT_EQ(engine.InitSoundEngine(), 0);
        EXPECT_TRUE(engine.Started());
        EXPECT_NE(engine.SampleBuffer(), nullptr);
    }
}

TEST(EngineShutdown, DeliversPendingCompletionsBeforeTheBuffersGo)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine(card);
    test::QueuePort port(engine);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    int calls = 0;
    bool gotData = false;
    ASSERT_EQ(engine.StartCapture(512, 0, [&] {
        ++calls;
        int c = 0, o = 0;
        std::uint32_t u = 0;
        gotData = engine.TakeCapturedBlock(c, o, u) != nullptr;
    }), 0);
    EXPECT_EQ(port.Pending(), 1);
    engine.ShutdownSoundEngine();
    EXPECT_EQ(port.drainCalls_, 1);
    EXPECT_EQ(port.lastDrainLimit_, 1001);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(gotData);  // the handler ran while the buffers still existed
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_FALSE(engine.CaptureStarted());
    EXPECT_EQ(port.Pending(), 0);
}

TEST(EngineShutdown, SkipsTheDrainWhenTheInputDeviceReportedNoFormats)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    WaveInCaps caps;
    caps.productName = "Silent In";
    caps.formats = 0;
    caps.channels = 2;
    card.SetWaveInCaps(0, caps);
    SoundEngine engine(card);
    test::QueuePort port(engine);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    engine.ShutdownSoundEngine();
    EXPECT_EQ(port.drainCalls_, 0);
}

TEST(EngineShutdown, StopsPlaybackAndClosesACaptureInFlight)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::RealTime};
    SoundEngine engine(card);
    test::QueuePort port(engine);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    GeneratorParams p;
    ASSERT_EQ(engine.StartPlayback(1000, -1, p), 0);
    ASSERT_EQ(engine.StartCapture(8000, 0, [] {}), 0);  // 181 ms: still recording below
    EXPECT_TRUE(engine.CaptureStarted());
    engine.ShutdownSoundEngine();
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_FALSE(engine.PlaybackOpen());
    EXPECT_FALSE(engine.CaptureStarted());
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_FALSE(engine.Started());
}

class VolumeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BuildReport(engine);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
    }
    LoopbackCard card;
    SoundEngine engine{card};
};

TEST_F(VolumeTest, OutputVolumeOfFiftyPercentIs32767PerHalf)
{
    engine.SetOutputVolume(50);
    EXPECT_EQ(RawOut(card), 0x7FFF7FFFu);
    EXPECT_EQ(engine.GetOutputVolume(), 50);
    engine.SetOutputVolume(100);
    EXPECT_EQ(engine.GetOutputVolume(), 100);
}

TEST_F(VolumeTest, FailingVolumeCallsAreIgnoredAndReadsGiveMinusOne)
{
    card.InjectFault(WaveCall::WaveOutGetVolume, kMmNotSupported);
    EXPECT_EQ(engine.GetOutputVolume(), -1);
    card.InjectFault(WaveCall::AuxGetVolume, kMmNotSupported);
    EXPECT_EQ(engine.GetLineVolume(0), -1);
    card.InjectFault(WaveCall::WaveOutSetVolume, kMmNotSupported);
    engine.SetOutputVolume(10);
    EXPECT_EQ(engine.GetOutputVolume(), 25);
    EXPECT_EQ(engine.GetLineVolume(7), -1);
    EXPECT_EQ(engine.GetLineVolume(-1), -1);
}

TEST_F(VolumeTest, AllLinesSkipsTechnologiesZeroAndEightButSingleLinesOnlyZero)
{
    card.SetAuxCaps(0, Aux("Line-In", 8));
    card.SetAuxCaps(1, Aux("Mic", 0));
    card.SetAuxCaps(2, Aux("CD", 1));
    for (unsigned d = 0; d < 3; ++d) {
        card.AuxSetVolume(d, 0);
    }
    engine.SetLineVolume(50, SoundEngine::kAllLines);
    EXPECT_EQ(RawAux(card, 0), 0u);
    EXPECT_EQ(RawAux(card, 1), 0u);
    EXPECT_EQ(RawAux(card, 2), 0x7FFF7FFFu);

    engine.SetLineVolume(40, 0);  // technology 8 is left out of "all" only
    EXPECT_EQ(engine.GetLineVolume(0), 40);
    engine.SetLineVolume(40, 1);  // technology 0 never gets a volume
    EXPECT_EQ(RawAux(card, 1), 0u);
    engine.SetLineVolume(40, 9);  // no such line: nothing happens
    card.InjectFault(WaveCall::AuxGetDevCaps, kMmNoDriver);
    engine.SetLineVolume(60, 2);  // capabilities unreadable: skipped
    EXPECT_EQ(RawAux(card, 2), 0x7FFF7FFFu);
}

TEST(InputLine, ChoosingAnAbsentLinePrefersLineInputs)
{
    LoopbackCard card;
    card.SetAuxCaps(0, Aux("CD", 1));
    card.SetAuxCaps(1, Aux("Line-In", 2));
    card.SetAuxCaps(2, Aux("Mic", 2));
    SoundEngine engine(card);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);

    engine.ChooseInputLine(7);
    EXPECT_EQ(engine.InputLine(), 1);
    engine.ChooseInputLine(2);
    EXPECT_EQ(engine.InputLine(), 2);
    engine.ChooseInputLine(0);
    EXPECT_EQ(engine.InputLine(), 0);
    engine.ChooseInputLine(-2);
    EXPECT_EQ(engine.InputLine(), 1);
    EXPECT_EQ(engine.LineName(1), "Line-In");
    EXPECT_EQ(engine.LineName(3), "");
}

TEST(InputLine, FallsBackByNameThenByTechnologyThenToZero)
{
    struct Case {
        AuxCaps a, b, c;
        int expected;
    };
    const Case cases[] = {
        {Aux("CD", 1), Aux("Mic", 1), Aux("aux line", 1), 2},     // name only (any case)
        {Aux("CD", 1), Aux("Mic", 2), Aux("Video", 2), 1},        // technology 2 only
        {Aux("CD", 1), Aux("Mic", 1), Aux("Video", 3), 0},        // nothing fits
        {Aux("Line 1", 1), Aux("CD", 2), Aux("LINE 2", 2), 2},    // both beats name only
    };
    for (const Case& c : cases) {
        LoopbackCard card;
        card.SetAuxCaps(0, c.a);
        card.SetAuxCaps(1, c.b);
        card.SetAuxCaps(2, c.c);
        SoundEngine engine(card);
        BuildReport(engine);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.ChooseInputLine(-1);
        EXPECT_EQ(engine.InputLine(), c.expected) << c.a.productName << "," << c.b.productName;
    }
}

TEST(InputLine, WithoutAuxiliaryDevicesStaysAtZeroAndReadsMinusOne)
{
    LoopbackCard card;
    card.SetDeviceCounts(std::nullopt, std::nullopt, std::nullopt, 0);
    SoundEngine engine(card);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    engine.ChooseInputLine(3);
    EXPECT_EQ(engine.InputLine(), 0);
    EXPECT_EQ(engine.LineName(0), "");
    // What the main window's level labels show.
    EXPECT_EQ(std::to_string(engine.GetLineVolume(engine.InputLine())) + "%", "-1%");
}

// ---- Per-device formats in the configuration file -------------------------------------

WaveInCaps NamedIn(const std::string& name)
{
    WaveInCaps c;
    c.productName = name;
    c.formats = kFormatAllStandard;
    c.channels = 2;
    return c;
}

WaveOutCaps NamedOut(const std::string& name)
{
    WaveOutCaps c;
    c.productName = name;
    c.formats = kFormatAllStandard;
    c.channels = 2;
    return c;
}

TEST(SoundSettings, DefaultsWithoutAnySetting)
{
    LoopbackCard card;
    SoundEngine engine(card);
    ProfileFile file = ProfileFile::InMemory();
    engine.SetProfile(&file);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    for (const auto* records : {&engine.InDeviceFormats(), &engine.OutDeviceFormats()}) {
        const DeviceFormat& d = (*records)[0];
        EXPECT_EQ(d.Format.BitsPerSample, 16);
        EXPECT_EQ(d.Format.SamplesPerSec, 44100u);
        EXPECT_EQ(d.Format.BlockAlign, 4);
        EXPECT_EQ(d.Format.AvgBytesPerSec, 176400u);
        EXPECT_EQ(d.UserRate, 55200);
        EXPECT_EQ(d.SwapFlag, 0);
    }
    EXPECT_EQ(engine.InDeviceFormats()[0].DeviceName, "Sonvera Loopback");
}

TEST(SoundSettings, FormatsSurviveShutdownAndStartThroughTheFile)
{
    LoopbackCard card;
    card.SetWaveInCaps(0, NamedIn("Mic Array [USB]"));
    card.SetWaveOutCaps(0, NamedOut("Speakers"));
    ProfileFile file = ProfileFile::InMemory();
    {
        SoundEngine engine(card);
        engine.SetProfile(&file);
        BuildReport(engine);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.SetFormatBits(24, 8);
        engine.SetSampleRates(48000, 22050);
        engine.SetSwapFlags(true, false);
        engine.SetUserRates(96000, 0);  // 0 leaves the output's user rate
        engine.ShutdownSoundEngine();
    }
    const std::string text = file.Text();
    EXPECT_NE(text.find("[SDSOUND]"), std::string::npos);
    EXPECT_NE(text.find("Mic_Array_(USB)db=1032"), std::string::npos) << text;
    EXPECT_NE(text.find("Mic_Array_(USB)sf=48000"), std::string::npos) << text;
    EXPECT_NE(text.find("Mic_Array_(USB)usf=96000"), std::string::npos) << text;
    EXPECT_NE(text.find("Speakersdb=8"), std::string::npos) << text;
    EXPECT_NE(text.find("Speakerssf=22050"), std::string::npos) << text;
    EXPECT_NE(text.find("Speakersusf=55200"), std::string::npos) << text;

    SoundEngine again(card);
    again.SetProfile(&file);
    BuildReport(again);
    ASSERT_EQ(again.InitSoundEngine(), 0);
    int in = 0, out = 0;
    again.GetFormatBits(in, out);
    EXPECT_EQ(in, 24);
    EXPECT_EQ(out, 8);
    again.GetSampleRates(in, out);
    EXPECT_EQ(in, 48000);
    EXPECT_EQ(out, 22050);
    bool swapIn = false, swapOut = true;
    again.GetSwapFlags(swapIn, swapOut);
    EXPECT_TRUE(swapIn);
    EXPECT_FALSE(swapOut);
    again.GetUserRates(in, out);
    EXPECT_EQ(in, 96000);
    EXPECT_EQ(out, 55200);
    EXPECT_EQ(again.InDeviceFormats()[0].Format.BlockAlign, 8);
    EXPECT_EQ(again.InDeviceFormats()[0].Format.AvgBytesPerSec, 384000u);
}

TEST(SoundSettings, ReadsAHandWrittenSectionForTheCurrentDevice)
{
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    ProfileFile file = ProfileFile::InMemory(
        "[SDSOUND]\nSonvera_Loopbackdb=1008\nSonvera_Loopbacksf=22050\nSonvera_Loopbackusf=nonsense\n");
    SoundEngine engine(card);
    engine.SetProfile(&file);
    BuildReport(engine);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    int in = 0, out = 0;
    engine.GetFormatBits(in, out);
    EXPECT_EQ(in, 8);
    engine.GetSampleRates(in, out);
    EXPECT_EQ(in, 22050);
    engine.GetUserRates(in, out);
    EXPECT_EQ(in, 55200);
    bool swapIn = false, swapOut = false;
    engine.GetSwapFlags(swapIn, swapOut);
    EXPECT_TRUE(swapIn);
    // A capture uses the loaded format: 8-bit frames of 2 bytes.
    test::QueuePort port(engine);
    int count = 0, over = 0;
    std::uint32_t user = 0;
    ASSERT_EQ(engine.StartCapture(100, 0, [&] { engine.TakeCapturedBlock(count, over, user); }), 0);
    port.Pump();
    EXPECT_EQ(count, 200);
    EXPECT_EQ(engine.InDeviceFormats()[0].Format.BlockAlign, 2);
}

TEST(SoundSettings, AccessorsIgnoreValuesThatCannotBeUsed)
{
    LoopbackCard card;
    SoundEngine engine(card);
    engine.SetSampleRates(-1, 0);
    engine.SetFormatBits(0, 12);
    engine.SetUserRates(-5, 0);
    int in = 0, out = 0;
    engine.GetSampleRates(in, out);
    EXPECT_EQ(in, 44100);
    EXPECT_EQ(out, 44100);
    engine.GetFormatBits(in, out);
    EXPECT_EQ(in, 16);
    EXPECT_EQ(out, 16);
    engine.GetUserRates(in, out);
    EXPECT_EQ(in, 55200);
    engine.SetFormatBits(32, 24);
    engine.GetFormatBits(in, out);
    EXPECT_EQ(in, 24);  // 32 is reported as 24
    EXPECT_EQ(out, 24);
}

}  // namespace
}  // namespace sonvera
