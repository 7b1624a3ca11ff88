// The configuration fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include "fuzz/fuzz_config.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

using testing::FuzzInput;
using testing::FuzzInputs;
using testing::ReadInput;

fuzz::ConfigOutcome Read(const std::vector<std::uint8_t>& bytes)
{
    return fuzz::ReadConfigBytes(bytes.data(), bytes.size());
}

fuzz::ConfigOutcome Read(const std::string& text)
{
    return fuzz::ReadConfigBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(ConfigFuzzInputs, EverySeedAndFindingReadsAndSurvivesASave)
{
    const auto files = FuzzInputs("config");
    ASSERT_GE(files.size(), 5u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadInput(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

TEST(ConfigFuzzInputs, TheWritersOwnFileReadsBackByteForByte)
{
    const auto bytes = ReadInput(FuzzInput("corpus", "config", "defaults.cfg"));
    const auto out = Read(bytes);
    EXPECT_EQ(out.written, std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(out.settings.Fft.FftPoints, 1024);
    EXPECT_EQ(out.settings.Main.UiLanguage, 'D');

    const auto changed = Read(ReadInput(FuzzInput("corpus", "config", "changed.cfg")));
    EXPECT_EQ(changed.settings.Main.UiLanguage, 'E');
    EXPECT_EQ(changed.settings.Main.InCorrectionFile, "/home/user/mic.cor");
    EXPECT_EQ(changed.settings.Fft.FftComment, "Verstärker 1 kHz");
    EXPECT_EQ(changed.settings.Generator.GenMode, 4);
    EXPECT_EQ(changed.settings.DiagramOpts.Separator, ";");
    EXPECT_EQ(changed.settings.DiagramOpts.ColDia, 0x123456u);
}

TEST(ConfigFuzzInputs, AHandEditedCrlfFileKeepsItsReadableValuesAndFallsBackOnTheRest)
{
    const auto out = Read(ReadInput(FuzzInput("corpus", "config", "hand-crlf.cfg")));
    EXPECT_EQ(out.status, ProfileFile::Status::Ok);
    // INDEV=2 with two input devices and OUTDEV=-1 are no devices: the first one.
    EXPECT_EQ(out.settings.Main.InDeviceIndex, 0);
    EXPECT_EQ(out.settings.Main.OutDeviceIndex, 0);
    EXPECT_EQ(out.settings.Main.UiLanguage, 'E');
    EXPECT_EQ(out.settings.Main.InCorrectionFile, "C:\\mess\\mic.cor");
    EXPECT_TRUE(out.settings.Main.InCorrActive);  // only "FALSE" is false
    // LEFT and TOP stand in a second [MAIN] section: the first section of a name counts.
    EXPECT_EQ(out.settings.Main.MainLeft, 200);
    EXPECT_EQ(out.settings.Main.MainTop, 200);
    EXPECT_EQ(out.settings.Fft.FftWindow, 8);   // "Hanning" is no index
    EXPECT_EQ(out.settings.Fft.FftAverage, 5);  // negative counts by absolute value
    EXPECT_DOUBLE_EQ(out.settings.Fft.FftYMin, -1000.0);
    EXPECT_DOUBLE_EQ(out.settings.Calib.InCalibValue, 268.0);  // -1 keeps the value held
    EXPECT_DOUBLE_EQ(out.settings.Calib.OutCalibValue, 150.0);
    EXPECT_EQ(out.settings.Sweep.SweepSteps, 50);                // 0 steps cannot be swept
    EXPECT_FLOAT_EQ(out.settings.Sweep.SweepPhaseMin, -180.0f);  // 1e40 is beyond single precision
    EXPECT_EQ(out.settings.InDeviceFormats[0].Format.SamplesPerSec, 192000u);
}

TEST(ConfigFuzzInputs, AFundamentalThresholdBelowSevenDecimalsSurvivesASave)
{
    const auto out = Read(ReadInput(FuzzInput("regressions", "config", "fundlow-below-seven-decimals.cfg")));
    EXPECT_DOUBLE_EQ(out.settings.Analysis.FundThreshold, 1e-9);
    EXPECT_NE(out.written.find("FUNDLOW=1e-09\n"), std::string::npos) << out.written;

    // Ordinary thresholds keep the seven decimals of the file format.
    const auto usual = Read(std::string("[ANALYSE]\nFUNDLOW=0.00031622776\n"));
    EXPECT_NE(usual.written.find("FUNDLOW=0.0003162\n"), std::string::npos) << usual.written;
    // 0 is no threshold: the default, written as such.
    const auto zero = Read(std::string("[ANALYSE]\nFUNDLOW=0\n"));
    EXPECT_DOUBLE_EQ(zero.settings.Analysis.FundThreshold, 0.001);
    EXPECT_NE(zero.written.find("FUNDLOW=0.0010000\n"), std::string::npos) << zero.written;
}

TEST(ConfigFuzzInputs, ValuesWhoseRoundedTextIsASpecialValueAreWrittenWithTheirDigits)
{
    // PEGDIG -1 means 0 dB: a level of -1.04 dB written "-1.0" would come back as 0 dB.
    const auto sweep = Read(ReadInput(FuzzInput("regressions", "config", "sweep-level-rounds-to-minus-one.cfg")));
    EXPECT_FLOAT_EQ(sweep.settings.Sweep.SweepLevel, -1.04f);
    EXPECT_NE(sweep.written.find("PEGDIG=-1.04\n"), std::string::npos) << sweep.written;
    EXPECT_FLOAT_EQ(Read(sweep.written).settings.Sweep.SweepLevel, -1.04f);

    // EICH -1 keeps the calibration held.
    const auto calib = Read(ReadInput(FuzzInput("regressions", "config", "calibration-rounds-to-minus-one.cfg")));
    EXPECT_NE(calib.written.find("INPUT=-1.04\n"), std::string::npos) << calib.written;
    EXPECT_NE(calib.written.find("OUTPUT=-0.96\n"), std::string::npos) << calib.written;
    EXPECT_DOUBLE_EQ(Read(calib.written).settings.Calib.InCalibValue, -1.04);

    // YDIASTEPS 0 is the default step of 5 dB.
    const auto step = Read(ReadInput(FuzzInput("regressions", "config", "level-step-rounds-to-zero.cfg")));
    EXPECT_NE(step.written.find("YDIASTEPS=0.04\n"), std::string::npos) << step.written;
    EXPECT_FLOAT_EQ(Read(step.written).settings.DiagramOpts.YStep, 0.04f);

    // Values away from the special ones keep the file's one decimal.
    const auto usual = Read(std::string("[WOB]\nPEGDIG=-3.04\n[EICH]\nINPUT=-1.06\n[DIAGPRIV]\nYDIASTEPS=0.06\n"));
    EXPECT_NE(usual.written.find("PEGDIG=-3.0\n"), std::string::npos) << usual.written;
    EXPECT_NE(usual.written.find("INPUT=-1.1\n"), std::string::npos) << usual.written;
    EXPECT_NE(usual.written.find("YDIASTEPS=0.1\n"), std::string::npos) << usual.written;
}

TEST(ConfigFuzzInputs, HugeRealsAreRefusedForTheDiagramAndOtherwiseWrittenSoTheyReadBack)
{
    const auto out = Read(ReadInput(FuzzInput("regressions", "config", "reals-too-long-for-the-buffer.cfg")));
    // Diagram bounds beyond single precision are unparsable: their defaults.
    EXPECT_DOUBLE_EQ(out.settings.Fft.FftYMax, 0.0);
    EXPECT_DOUBLE_EQ(out.settings.Sweep.SweepYMin, -45.0);
    EXPECT_DOUBLE_EQ(out.settings.Sweep.SweepYMax, 3e38);  // within single precision
    // 1e300 with four decimals would be 305 characters, cut to 152 when read back.
    EXPECT_DOUBLE_EQ(out.settings.Volume.LevelFactor, 1e300);
    EXPECT_NE(out.written.find("PEGFAK=1e+300\n"), std::string::npos) << out.written;
    EXPECT_NE(out.written.find("INPUT=1e+300\n"), std::string::npos) << out.written;
    const auto again = Read(out.written);
    EXPECT_DOUBLE_EQ(again.settings.Volume.LevelFactor, 1e300);
    EXPECT_DOUBLE_EQ(again.settings.Calib.InCalibValue, 1e300);
    EXPECT_DOUBLE_EQ(again.settings.Sweep.SweepYMax, 3e38);
}

TEST(ConfigFuzzInputs, ANameCutToItsLengthBeforeSomeTabsReadsBackWithoutThem)
{
    const auto out = Read(ReadInput(FuzzInput("regressions", "config", "cut-name-ends-in-tabs.cfg")));
    // UFNAME keeps 120 bytes: 26 bytes 0xFF, "AXM" and 91 of the tabs that follow.
    const std::string name = out.settings.Generator.GenUserFile;
    ASSERT_EQ(name.size(), 120u);
    EXPECT_EQ(name.substr(26, 3), "AXM");
    EXPECT_EQ(name.find_first_not_of('\t', 29), std::string::npos);
    // Read back from what is written, the tabs at the end of the line are gone.
    const auto again = Read(out.written);
    EXPECT_EQ(again.settings.Generator.GenUserFile, name.substr(0, 29));
}

}  // namespace
}  // namespace sonvera
