// Option parsing of the wave layer (backend choice, device under test), error texts and
// the standard format bits.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/wavelayer.h"

namespace sonvera {
namespace {

TEST(DutSpec, ParsesEveryName)
{
    DutConfig dut;
    ASSERT_EQ(ParseDutSpec("gain=-3.5,hp=20,lp=20000,h2=0.001,h3=0.0005,noise=-100,delay=12", dut),
              "");
    EXPECT_DOUBLE_EQ(dut.gainDb, -3.5);
    EXPECT_DOUBLE_EQ(dut.highPassHz, 20.0);
    EXPECT_DOUBLE_EQ(dut.lowPassHz, 20000.0);
    EXPECT_DOUBLE_EQ(dut.h2, 0.001);
    EXPECT_DOUBLE_EQ(dut.h3, 0.0005);
    EXPECT_TRUE(dut.noise);
    EXPECT_DOUBLE_EQ(dut.noiseDbfs, -100.0);
    EXPECT_EQ(dut.delaySamples, 12);
}

TEST(DutSpec, AbsentNamesAreIdealAndBlanksAndCaseAreTolerated)
{
    DutConfig dut = DefaultDut();
    ASSERT_EQ(ParseDutSpec(" GAIN = +6 , Delay=0 ", dut), "");
    EXPECT_DOUBLE_EQ(dut.gainDb, 6.0);
    EXPECT_EQ(dut.highPassHz, 0.0);
    EXPECT_EQ(dut.lowPassHz, 0.0);
    EXPECT_EQ(dut.h2, 0.0);
    EXPECT_EQ(dut.h3, 0.0);
    EXPECT_FALSE(dut.noise);
    EXPECT_EQ(dut.delaySamples, 0);
}

TEST(DutSpec, BadSpecsAreRejectedWithAReasonAndLeaveTheConfigAlone)
{
    struct Case {
        const char* spec;
        const char* mentions;
    };
    const Case cases[] = {
        {"", "empty"},
        {"   ", "empty"},
        {"gain=1,", "empty item"},
        {",gain=1", "empty item"},
        {"gain", "not name=value"},
        {"volume=3", "unknown name 'volume'"},
        {"gain=abc", "bad value 'abc' for gain"},
        {"gain=", "bad value '' for gain"},
        {"gain=3dB", "bad value '3dB'"},
        {"gain=1e400", "bad value"},
        {"gain=nan", "bad value"},
        {"gain=99", "for gain"},
        {"hp=0", "for hp"},
        {"lp=-5", "for lp"},
        {"h2=1.5", "for h2"},
        {"h3=-0.1", "for h3"},
        {"noise=3", "for noise"},
        {"noise=-inf", "for noise"},
        {"delay=1.5", "for delay"},
        {"delay=-1", "for delay"},
        {"delay=2000000", "for delay"},
        {"xtalk=1", "for xtalk"},
        {"gain=1,gain=2", "given twice"},
        {"gain=1;hp=3", "bad value"},
        {"gain=1,0", "not name=value"},
        {"gain=1.5.2", "bad value"},
    };
    for (const Case& c : cases) {
        DutConfig dut;
        dut.gainDb = 42.0;
        const std::string error = ParseDutSpec(c.spec, dut);
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.spec << " -> " << error;
        EXPECT_NE(error.find("device under test"), std::string::npos) << error;
        EXPECT_EQ(dut.gainDb, 42.0) << c.spec;
    }
}

TEST(DutSpec, DecimalPointIsReadWhateverTheLocale)
{
    DutConfig dut;
    EXPECT_EQ(ParseDutSpec("gain=0.25", dut), "");
    EXPECT_DOUBLE_EQ(dut.gainDb, 0.25);
    EXPECT_NE(ParseDutSpec("gain=0,25", dut), "");
}

TEST(DutSpec, OptionWinsOverEnvironmentWhichWinsOverDefault)
{
    DutConfig dut;
    ASSERT_EQ(DutFromOptions("gain=-1", "gain=-2", dut), "");
    EXPECT_DOUBLE_EQ(dut.gainDb, -1.0);
    ASSERT_EQ(DutFromOptions("", "gain=-2", dut), "");
    EXPECT_DOUBLE_EQ(dut.gainDb, -2.0);
    ASSERT_EQ(DutFromOptions("", nullptr, dut), "");
    EXPECT_DOUBLE_EQ(dut.lowPassHz, DefaultDut().lowPassHz);
    EXPECT_TRUE(dut.noise);
    ASSERT_EQ(DutFromOptions("", "", dut), "");
    EXPECT_DOUBLE_EQ(dut.noiseDbfs, -110.0);

    EXPECT_EQ(DutFromOptions("bogus=1", nullptr, dut).rfind("--dut: ", 0), 0u);
    EXPECT_EQ(DutFromOptions("", "bogus=1", dut).rfind("SONVERA_DUT: ", 0), 0u);
}

TEST(AudioBackendOption, AcceptsTheThreeNamesFromOptionOrEnvironment)
{
    EXPECT_EQ(ParseAudioBackend("virtual", nullptr).backend, AudioBackend::Virtual);
    EXPECT_EQ(ParseAudioBackend("PortAudio", nullptr).backend, AudioBackend::PortAudio);
    EXPECT_EQ(ParseAudioBackend("jack", nullptr).backend, AudioBackend::Jack);
    EXPECT_EQ(ParseAudioBackend("auto", "virtual").backend, AudioBackend::Auto);
    EXPECT_EQ(ParseAudioBackend("", "virtual").backend, AudioBackend::Virtual);
    EXPECT_EQ(ParseAudioBackend("", nullptr).backend, AudioBackend::Auto);
    EXPECT_EQ(ParseAudioBackend("", "").backend, AudioBackend::Auto);
    EXPECT_TRUE(ParseAudioBackend("virtual", "garbage").error.empty());
}

TEST(AudioBackendOption, UnknownNameIsAnErrorNamingSourceAndChoices)
{
    const auto fromOption = ParseAudioBackend("oss", nullptr);
    EXPECT_EQ(fromOption.error, "--audio: unknown audio backend 'oss' (use virtual, portaudio, jack or auto)");
    const auto fromEnv = ParseAudioBackend("", "alsa");
    EXPECT_EQ(fromEnv.error,
              "SONVERA_AUDIO: unknown audio backend 'alsa' (use virtual, portaudio, jack or auto)");
}

TEST(WaveErrorTexts, KnownCodesHaveTheirOwnTextAndUnknownCodesSaySo)
{
    std::set<std::string> texts;
    for (MmResult code : {kMmError, kMmBadDeviceId, kMmNotEnabled, kMmAllocated, kMmInvalidHandle,
                          kMmNoDriver, kMmNoMem, kMmNotSupported, kMmBadErrNum, kMmInvalidFlag,
                          kMmInvalidParam, kMmHandleBusy, kWaveBadFormat, kWaveStillPlaying,
                          kWaveUnprepared, kWaveSync}) {
        const std::string text = WaveInErrorText(code);
        EXPECT_FALSE(text.empty());
        EXPECT_LE(text.size(), 128u);
        EXPECT_EQ(text.find("Unknown"), std::string::npos) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 16u);  // no two codes share a text
    EXPECT_EQ(WaveInErrorText(1234), "Unknown error code 1234.");
    EXPECT_EQ(WaveOutErrorText(40), "Unknown error code 40.");
    EXPECT_NE(WaveInErrorText(kWaveStillPlaying), WaveOutErrorText(kWaveStillPlaying));
    EXPECT_NE(WaveOutErrorText(kWaveBadFormat).find("output"), std::string::npos);
    EXPECT_NE(WaveInErrorText(kWaveBadFormat).find("input"), std::string::npos);
}

TEST(StandardFormats, BitsFollowRateChannelsAndDepth)
{
    EXPECT_EQ(StandardFormatBit(11025, 1, 8), kFormat1M08);
    EXPECT_EQ(StandardFormatBit(22050, 2, 8), kFormat2S08);
    EXPECT_EQ(StandardFormatBit(44100, 2, 16), kFormat4S16);
    EXPECT_EQ(StandardFormatBit(44100, 1, 16), kFormat4M16);
    EXPECT_EQ(StandardFormatBit(48000, 2, 16), kFormat48S16);
    EXPECT_EQ(StandardFormatBit(96000, 2, 16), kFormat96S16);
    EXPECT_EQ(StandardFormatBit(96000, 1, 8), kFormat96M08);
    EXPECT_EQ(StandardFormatBit(44100, 2, 24), 0u);
    EXPECT_EQ(StandardFormatBit(32000, 2, 16), 0u);
    EXPECT_EQ(StandardFormatBit(44100, 3, 16), 0u);
    EXPECT_EQ(PackVolume(0x1234, 0xABCD), 0xABCD1234u);
}

}  // namespace
}  // namespace sonvera
