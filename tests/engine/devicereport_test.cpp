#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"

namespace sonvera {
namespace {

using Lines = std::vector<std::string>;

WaveInCaps InCaps(const std::string& name, std::uint32_t formats, std::uint16_t channels, std::uint16_t reserved)
{
    WaveInCaps c;
    c.productName = name;
    c.formats = formats;
    c.channels = channels;
    c.reserved = reserved;
    return c;
}

WaveOutCaps OutCaps(const std::string& name, std::uint32_t formats, std::uint32_t support, std::uint16_t channels)
{
    WaveOutCaps c;
    c.productName = name;
    c.formats = formats;
    c.support = support;
    c.channels = channels;
    return c;
}

AuxCaps Aux(const std::string& name, std::uint16_t technology, std::uint32_t support = 3)
{
    AuxCaps c;
    c.productName = name;
    c.technology = technology;
    c.support = support;
    return c;
}

struct Report {
    std::string summary;
    int inputs = -1;
    int outputs = -1;
    std::uint32_t formats = 0xDEAD;
    Lines lines;
};

Report Build(SoundEngine& engine)
{
    Report r;
    r.summary = engine.BuildDeviceReport(r.inputs, r.outputs, r.formats);
    r.lines = engine.DeviceReport();
    return r;
}

TEST(DeviceReport, ListsEveryDeviceWithItsExactLines)
{
    LoopbackCard card;
    card.SetDeviceCounts(2, 1, 4, 2);
    card.SetWaveInCaps(0, InCaps("Card A In", 0xfff, 2, 0));
    card.SetWaveInCaps(1, InCaps("Card B In", 0x8a0, 1, 0x1234));
    card.SetWaveOutCaps(0, OutCaps("Card A Out", 0xfffff, 0x0c, 2));
    card.SetAuxCaps(0, Aux("Line-In", 2, 3));
    card.SetAuxCaps(1, Aux("CD", 1, 1));
    SoundEngine engine(card);
    const Report r = Build(engine);

    const Lines expected = {
        "--- Programm Version Win32  1.3c ---",
        "WaveInNumDevs  : 2",
        "WaveOutNumDevs : 1",
        "MidiNumDevs    : 4",
        "AuxNumDevs     : 2",
        " ",
        "WaveIn´s ----------",
        "Card A In",
        "Wave-In Formats        fff",
        "Wave-In Channels         2",
        "Wave-In wReserved        0",
        "Card B In",
        "Wave-In Formats        8a0",
        "Wave-In Channels         1",
        "Wave-In wReserved     1234",
        " ",
        "WaveOut´s ---------",
        "Card A Out",
        "Wave-Out Formats      fffff",
        "Wave-Out Support          c",
        "Wave-Out Channnels        2",
        " ",
        "WaveAux´s ---------",
        "0   Line-In dwTec.:2 dwSup.:3",
        "1   CD dwTec.:1 dwSup.:1",
    };
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(r.summary, "Card B In / Card A Out / CD");
    EXPECT_EQ(r.inputs, 2);
    EXPECT_EQ(r.outputs, 1);
    EXPECT_EQ(r.formats, 0x8a0u);  // the last input that answered
    EXPECT_EQ(engine.CaptureFormats(), 0x8a0u);
    EXPECT_EQ(engine.InputFormatsMask(0), 0xfffu);
    EXPECT_EQ(engine.InputFormatsMask(1), 0x8a0u);
    EXPECT_EQ(engine.InputFormatsMask(2), 0u);
}

TEST(DeviceReport, VirtualCardReportNamesItsDevicesAndLines)
{
    LoopbackCard card;
    SoundEngine engine(card);
    const Report r = Build(engine);
    EXPECT_EQ(r.summary, "Sonvera Loopback / Sonvera Loopback / CD");
    ASSERT_GE(r.lines.size(), 8u);
    EXPECT_EQ(r.lines[7], "Sonvera Loopback");
    EXPECT_EQ(r.lines[8], "Wave-In Formats      fffff");
    EXPECT_EQ(r.lines.back().rfind("2   CD dwTec.:1 dwSup.:", 0), 0u);
    EXPECT_NE(r.formats, 0u);
}

TEST(DeviceReport, NoAuxiliaryDevicesLeavesOnlyTheAuxHeader)
{
    LoopbackCard card;
    card.SetDeviceCounts(std::nullopt, std::nullopt, std::nullopt, 0);
    SoundEngine engine(card);
    const Report r = Build(engine);
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[r.lines.size() - 2], " ");
    EXPECT_EQ(r.lines.back(), "WaveAux´s ---------");
    EXPECT_EQ(r.lines[4], "AuxNumDevs     : 0");
    EXPECT_EQ(r.summary, "Sonvera Loopback / Sonvera Loopback / ");
}

TEST(DeviceReport, NoInputDeviceStopsAfterTheInputHeaderWithAnErrorSummary)
{
    LoopbackCard card;
    card.SetDeviceCounts(0, 2, 0, 3);
    SoundEngine engine(card);
    const Report r = Build(engine);
    const Lines expected = {
        "--- Programm Version Win32  1.3c ---",
        "WaveInNumDevs  : 0",
        "WaveOutNumDevs : 2",
        "MidiNumDevs    : 0",
        "AuxNumDevs     : 3",
        " ",
        "WaveIn´s ----------",
    };
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(r.summary, "Error: no Wave In/Out Devices /  / ");
    EXPECT_EQ(r.formats, 0u);
    EXPECT_EQ(r.inputs, 0);
    EXPECT_EQ(r.outputs, 2);
}

TEST(DeviceReport, CapabilityErrorsBecomeOneLineByCode)
{
    const std::pair<MmResult, std::string> inCases[] = {
        {kMmBadDeviceId, "(in:) Ungültige Geräte IDDriver"},
        {kMmNoDriver, "(in:) Kein Treiber"},
        {kMmNoMem, "(in:) Kein Speicher"},
        {kMmError, "(in:) unkown Error"},
    };
    for (const auto& [code, line] : inCases) {
        LoopbackCard card;
        card.InjectFault(WaveCall::WaveInGetDevCaps, code);
        SoundEngine engine(card);
        const Report r = Build(engine);
        ASSERT_GE(r.lines.size(), 9u);
        EXPECT_EQ(r.lines[7], line);
        EXPECT_EQ(r.lines[8], " ");  // nothing else for the failed device
        EXPECT_EQ(r.formats, 0u);
        EXPECT_EQ(r.summary.rfind(" / Sonvera Loopback / CD"), 0u);
    }
    const std::pair<MmResult, std::string> outCases[] = {
        {kMmBadDeviceId, "(out:) Ungültige Geräte IDDriver"},
        {kMmNoDriver, "(out:) Kein Treiber"},
        {kMmNoMem, "(out:) Kein Speicher"},
        {kWaveBadFormat, "(out:) unkown Error"},
    };
    for (const auto& [code, line] : outCases) {
        LoopbackCard card;
        card.InjectFault(WaveCall::WaveOutGetDevCaps, code);
        SoundEngine engine(card);
        const Report r = Build(engine);
        ASSERT_GE(r.lines.size(), 15u);
        EXPECT_EQ(r.lines[13], line);
        EXPECT_EQ(r.lines[14], " ");
        EXPECT_EQ(r.summary, "Sonvera Loopback /  / CD");
    }
    // A failing auxiliary device adds no line at all.
    LoopbackCard card;
    card.InjectFault(WaveCall::AuxGetDevCaps, kMmNoDriver);
    SoundEngine engine(card);
    const Report r = Build(engine);
    EXPECT_EQ(r.lines.back().rfind("2   CD", 0), 0u);
    EXPECT_EQ(r.lines[r.lines.size() - 2].rfind("1   Mic", 0), 0u);
    EXPECT_EQ(r.lines[r.lines.size() - 3], "WaveAux´s ---------");
}

TEST(DeviceCatalogue, SelectingADeviceBeyondTheCountSelectsDeviceZero)
{
    LoopbackCard card;
    card.SetDeviceCounts(2, 3, std::nullopt, std::nullopt);
    SoundEngine engine(card);
    engine.SelectInDevice(1);
    EXPECT_EQ(engine.InDeviceIndex(), 1);
    engine.SelectInDevice(5);
    EXPECT_EQ(engine.InDeviceIndex(), 0);
    engine.SelectInDevice(-1);
    EXPECT_EQ(engine.InDeviceIndex(), 0);
    engine.SelectOutDevice(2);
    EXPECT_EQ(engine.OutDeviceIndex(), 2);
    engine.SelectOutDevice(3);
    EXPECT_EQ(engine.OutDeviceIndex(), 0);
}

TEST(DeviceCatalogue, OnlyTheFirstThreeDevicesAreSelectable)
{
    LoopbackCard card;
    card.SetDeviceCounts(5, 5, std::nullopt, std::nullopt);
    SoundEngine engine(card);
    engine.SelectInDevice(3);
    EXPECT_EQ(engine.InDeviceIndex(), 0);
    engine.SelectOutDevice(4);
    EXPECT_EQ(engine.OutDeviceIndex(), 0);
}

TEST(DeviceCatalogue, DeviceNameIsEmptyOutsideTheCountAndCutToThirtyOneCharacters)
{
    LoopbackCard card;
    card.SetDeviceCounts(2, 1, std::nullopt, std::nullopt);
    card.SetWaveInCaps(1, InCaps(std::string(40, 'x'), 0, 2, 0));
    SoundEngine engine(card);
    EXPECT_EQ(engine.DeviceName('I', 0), "Sonvera Loopback");
    EXPECT_EQ(engine.DeviceName('O', 0), "Sonvera Loopback");
    EXPECT_EQ(engine.DeviceName('I', 1).size(), 31u);
    EXPECT_EQ(engine.DeviceName('I', 2), "");
    EXPECT_EQ(engine.DeviceName('O', 1), "");
    EXPECT_EQ(engine.DeviceName('O', -1), "");
    EXPECT_EQ(engine.DeviceName('X', 0), "");
}

/// A card whose error texts tell which side produced them.
class SidedTextCard : public LoopbackCard {
public:
    MmResult WaveInGetErrorText(MmResult code, std::string& text) override
    {
        text = "in " + std::to_string(code);
        return kMmNoError;
    }
    MmResult WaveOutGetErrorText(MmResult code, std::string& text) override
    {
        text = "out " + std::to_string(code) + std::string(300, '.');
        return kMmNoError;
    }
};

TEST(DeviceCatalogue, ErrorTextUsesInputTextsUpToThousandAndOutputTextsAbove)
{
    SidedTextCard card;
    SoundEngine engine(card);
    EXPECT_EQ(engine.DeviceErrorText(4), "in 4");
    EXPECT_EQ(engine.DeviceErrorText(1000), "in 1000");
    const std::string out = engine.DeviceErrorText(1001);
    EXPECT_EQ(out.rfind("out 1001", 0), 0u);
    EXPECT_EQ(out.size(), 255u);
}

TEST(DeviceCatalogue, ErrorTextOfAnUnknownCodeIsNeverEmpty)
{
    LoopbackCard card;
    SoundEngine engine(card);
    EXPECT_FALSE(engine.DeviceErrorText(999).empty());
    EXPECT_FALSE(engine.DeviceErrorText(1001).empty());
    EXPECT_FALSE(engine.DeviceErrorText(9).empty());
}

TEST(DeviceCatalogue, QueryFormatAsksTheCurrentDeviceWithTwentyFourAsThirtyTwo)
{
    LoopbackCard card;
    SoundEngine engine(card);
    EXPECT_TRUE(engine.QueryFormat(44100, 16, true));
    EXPECT_TRUE(engine.QueryFormat(48000, 24, false));
    EXPECT_TRUE(engine.QueryFormat(8000, 8, true));
    EXPECT_FALSE(engine.QueryFormat(44100, 12, true));
    EXPECT_FALSE(engine.QueryFormat(500, 16, false));  // below what the card plays
    card.InjectFault(WaveCall::WaveInOpenQuery, kWaveBadFormat);
    EXPECT_FALSE(engine.QueryFormat(44100, 16, true));
    EXPECT_TRUE(engine.QueryFormat(44100, 16, true));
}

}  // namespace
}  // namespace sonvera
