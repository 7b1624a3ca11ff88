#include "config/sections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "config/profilefile.h"
#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

Settings ReadMain(std::string_view text, const MainReadHooks& hooks = {}, Settings start = {})
{
    const ProfileFile file = ProfileFile::InMemory(text);
    ReadMainSections(file, start, hooks);
    return start;
}

AnalysisSettings ReadAnalysis(std::string_view text)
{
    AnalysisSettings a;
    ReadAnalysisSection(ProfileFile::InMemory(text), a);
    return a;
}

GeneratorSettings ReadGenerator(std::string_view text)
{
    GeneratorSettings g;
    ReadGeneratorSection(ProfileFile::InMemory(text), g);
    return g;
}

DiagramOptions ReadOptions(std::string_view text)
{
    DiagramOptions o;
    ReadDiagramOptions(ProfileFile::InMemory(text), o);
    return o;
}

std::vector<std::string> WrittenKeys(const ProfileFile& file)
{
    std::vector<std::string> keys;
    for (const auto& w : file.Writes()) {
        keys.push_back(w.section + "." + w.key);
    }
    return keys;
}

// ---- the documented edge cases -------------------------------------------------

TEST(MainSections, FftLevelMinimumDefaultsToMinus110AndFallsBackToMinus100)
{
    Settings start;
    start.Fft.FftYMin = 42.0;
    EXPECT_DOUBLE_EQ(ReadMain("", {}, start).Fft.FftYMin, -110.0);
    EXPECT_DOUBLE_EQ(ReadMain("[FFT]\nDIAYMIN=abc\n", {}, start).Fft.FftYMin, -100.0);
    EXPECT_DOUBLE_EQ(ReadMain("[FFT]\nDIAYMIN=-80\n", {}, start).Fft.FftYMin, -80.0);
}

TEST(MainSections, OnlyUpperCaseFalseTurnsABooleanOff)
{
    EXPECT_FALSE(ReadMain("[OSZI]\nTRIPOS=FALSE\n").Scope.ScopeTrigRising);
    EXPECT_TRUE(ReadMain("[OSZI]\nTRIPOS=false\n").Scope.ScopeTrigRising);
    EXPECT_TRUE(ReadMain("[OSZI]\nTRIPOS=0\n").Scope.ScopeTrigRising);
    EXPECT_TRUE(ReadMain("[OSZI]\nTRIPOS=\n").Scope.ScopeTrigRising);
    EXPECT_TRUE(ReadMain("[OSZI]\nGND1=false\n").Scope.ScopeGnd1);
    EXPECT_FALSE(ReadMain("").Scope.ScopeGnd1);  // default "FALSE"
    EXPECT_TRUE(ReadAnalysis("[ANALYSE]\nTHDMESS=0\n").ThdMeasure);
}

TEST(MainSections, NegativeAverageCountsByItsAbsoluteValue)
{
    int shown = 0;
    MainReadHooks hooks;
    hooks.SetAverVal = [&](int v) { shown = v; };
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=-4\n", hooks).Fft.FftAverage, 4);
    EXPECT_EQ(shown, 4);
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=-1\n").Fft.FftAverage, 1);
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=x\n").Fft.FftAverage, 1);
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=16\n").Fft.FftAverage, 16);
    // Kept within the spin box's range 1..9999.
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=0\n").Fft.FftAverage, 1);
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=20000\n").Fft.FftAverage, 9999);
    EXPECT_EQ(ReadMain("[FFT]\nAVERAGE=-2147483648\n").Fft.FftAverage, 1);
}

TEST(MainSections, SweepZerosGiveTheirDefaults)
{
    const Settings s = ReadMain("[WOB]\nFROM=0\nTO=0\nSTEPS=0\n");
    EXPECT_EQ(s.Sweep.SweepFrom, 20);
    EXPECT_EQ(s.Sweep.SweepTo, 20000);
    EXPECT_EQ(s.Sweep.SweepSteps, 50);
    EXPECT_EQ(ReadMain("[WOB]\nFROM=x\nSTEPS=y\n").Sweep.SweepFrom, 20);
    // A stored range keeps what it holds, also above the default.
    EXPECT_EQ(ReadMain("[WOB]\nFROM=5\nTO=28000\n").Sweep.SweepTo, 28000);
    EXPECT_FLOAT_EQ(ReadMain("[WOB]\nPMIN=-90\nPMAX=90\n").Sweep.SweepPhaseMin, -90.0f);
    // Step counts the sweep cannot make (outside 1..1000) give the default too.
    EXPECT_EQ(ReadMain("[WOB]\nSTEPS=-3\n").Sweep.SweepSteps, 50);
    EXPECT_EQ(ReadMain("[WOB]\nSTEPS=1001\n").Sweep.SweepSteps, 50);
    EXPECT_EQ(ReadMain("[WOB]\nSTEPS=1000\n").Sweep.SweepSteps, 1000);
}

TEST(MainSections, SweepLevelMinusOneGivesZero)
{
    EXPECT_FLOAT_EQ(ReadMain("[WOB]\nPEGDIG=-1\n").Sweep.SweepLevel, 0.0f);
    EXPECT_FLOAT_EQ(ReadMain("[WOB]\nPEGDIG=-6.5\n").Sweep.SweepLevel, -6.5f);
    EXPECT_FLOAT_EQ(ReadMain("[WOB]\nPEGDIG=junk\n").Sweep.SweepLevel, 0.0f);
    EXPECT_FLOAT_EQ(ReadMain("").Sweep.SweepLevel, 0.0f);
    EXPECT_FLOAT_EQ(ReadMain("[WOB]\nPEGDIG=-100\n").Sweep.SweepLevel, -100.0f);
    EXPECT_FLOAT_EQ(ReadMain("[WOB]\nPEGDIG=1e300\n").Sweep.SweepLevel, 0.0f);  // beyond a single
}

TEST(MainSections, CalibrationMinusOneKeepsTheStartValue)
{
    Settings s = ReadMain("[EICH]\nINPUT=-1\n");
    EXPECT_DOUBLE_EQ(s.Calib.InCalibValue, 268.0);
    EXPECT_DOUBLE_EQ(s.Calib.OutCalibValue, 123.0);
    Settings start;
    start.Calib.InCalibValue = 300.5;
    start.Calib.OutCalibValue = 99.0;
    s = ReadMain("[EICH]\nINPUT=garbage\n", {}, start);
    EXPECT_DOUBLE_EQ(s.Calib.InCalibValue, 300.5);
    EXPECT_DOUBLE_EQ(s.Calib.OutCalibValue, 99.0);
    s = ReadMain("[EICH]\nINPUT=512.3\nOUTPUT=-2\n", {}, start);
    EXPECT_DOUBLE_EQ(s.Calib.InCalibValue, 512.3);
    EXPECT_DOUBLE_EQ(s.Calib.OutCalibValue, -2.0);
}

TEST(SoundSection, StemReplacesBlanksAndBrackets)
{
    EXPECT_EQ(SoundKeyStem("USB Audio [hw 1] Line In"), "USB_Audio_(hw_1)_Line_In");
    EXPECT_EQ(SoundKeyStem(""), "");
    EXPECT_EQ(SoundKeyStem("Plain"), "Plain");
}

TEST(SoundSection, SwappedSixteenBitsIsWrittenAs1016UnderTheStem)
{
    std::array<DeviceFormat, 3> in{}, out{};
    SetDeviceFormat(in[0], 16, true, 48000);
    in[0].UserRate = 96000;
    ProfileFile file = ProfileFile::InMemory();
    WriteSoundSection(file, in, out, {"Card [A] In", "", ""}, {"", "", ""});
    EXPECT_EQ(WrittenKeys(file),
              (std::vector<std::string>{"SDSOUND.Card_(A)_Indb", "SDSOUND.Card_(A)_Insf", "SDSOUND.Card_(A)_Inusf"}));
    EXPECT_EQ(file.Writes()[0].value, "1016");
    EXPECT_EQ(file.Writes()[1].value, "48000");
    EXPECT_EQ(file.Writes()[2].value, "96000");
}

TEST(DiagramOptionsSection, ZeroColourGivesTheDefaultColour)
{
    DiagramOptions o = ReadOptions("[DIAGPRIV]\nCOLGRID=0\nCOLTEXT=255\nYDIASTEPS=0\n");
    EXPECT_EQ(o.ColGrid, 65535u);  // yellow
    EXPECT_EQ(o.ColText, 255u);
    EXPECT_FLOAT_EQ(o.YStep, 5.0f);
    o = ReadOptions("[DIAGPRIV]\nCOLTEXT=0\nYDIASTEPS=0\n");
    EXPECT_EQ(o.ColText, 0u);
    EXPECT_FLOAT_EQ(o.YStep, 5.0f);
}

TEST(AnalysisSection, FundamentalSurvivesSaveAndRestart)
{
    TempDir dir;
    ProfileFile file(dir.File("snv13.cfg"));
    AnalysisSettings a;
    a.Fundamental = 440.0;
    WriteAnalysisSection(file, a);
    EXPECT_NE(ReadBytes(dir.File("snv13.cfg")).find("FUNDAMENTAL=440\n"), std::string::npos);
    AnalysisSettings back;
    back.Fundamental = 1.0;
    ReadAnalysisSection(ProfileFile(dir.File("snv13.cfg")), back);
    EXPECT_DOUBLE_EQ(back.Fundamental, 440.0);
}

TEST(MainSections, OnlyTheFirstCharacterOfTheLanguageCounts)
{
    EXPECT_EQ(ReadMain("[MAIN]\nSPRACHE=English\n").Main.UiLanguage, 'E');
    EXPECT_EQ(ReadMain("[MAIN]\nSPRACHE=E\n").Main.UiLanguage, 'E');
    EXPECT_EQ(ReadMain("[MAIN]\nSPRACHE=Deutsch\n").Main.UiLanguage, 'D');
    EXPECT_EQ(ReadMain("").Main.UiLanguage, 'D');
    EXPECT_EQ(ReadMain("[MAIN]\nSPRACHE=\n").Main.UiLanguage, 'D');
    EXPECT_EQ(ReadMain("[MAIN]\nSPRACHE=\x01x\n").Main.UiLanguage, 'D');
}

// ---- the other rules of the tables ------------------------------------------------

TEST(MainSections, MissingFileGivesEveryDefault)
{
    Settings start;
    start.Main = {2, 2, 'E', "a.cor", "b.cor", true, true, 1, 2};
    start.Volume = {1, 2, 3.0, 4.0, 7};
    start.Fft = {1, 512, 9, "x", 1, 2, 3, 4, 9};
    start.Sweep.SweepFrom = 1;
    start.Scope = {1, 2, 3, true, true, false, false};
    start.Diagram = {1, 2, 3, 4};
    const Settings s = ReadMain("", {}, start);
    EXPECT_EQ(s.Main.InDeviceIndex, 0);
    EXPECT_EQ(s.Main.OutDeviceIndex, 0);
    EXPECT_EQ(s.Main.UiLanguage, 'D');
    EXPECT_EQ(s.Main.InCorrectionFile, "");
    EXPECT_EQ(s.Main.OutCorrectionFile, "");
    EXPECT_FALSE(s.Main.InCorrActive);
    EXPECT_FALSE(s.Main.OutCorrActive);
    EXPECT_EQ(s.Main.MainLeft, 200);
    EXPECT_EQ(s.Main.MainTop, 200);
    EXPECT_EQ(s.Volume.GenOutVolume, 20);
    EXPECT_EQ(s.Volume.GenInVolume, 100);
    EXPECT_DOUBLE_EQ(s.Volume.LevelFactor, 20.0 / std::log(10.0));
    EXPECT_DOUBLE_EQ(s.Volume.LevelOffset, 20.0 * std::log10(4.0));
    EXPECT_EQ(s.Volume.InChannel, -2);
    EXPECT_EQ(s.Fft.FftWindow, 8);
    EXPECT_EQ(s.Fft.FftPoints, 1024);
    EXPECT_EQ(s.Fft.FftAverage, 1);
    EXPECT_EQ(s.Fft.FftComment, "Kommentar:");
    EXPECT_DOUBLE_EQ(s.Fft.FftYMax, 0.0);
    EXPECT_EQ(s.Fft.FftXMin, 10);
    EXPECT_EQ(s.Fft.FftXMax, 28000);
    EXPECT_DOUBLE_EQ(s.Fft.FftYStep, 5.0);
    EXPECT_EQ(s.Sweep.SweepFrom, 20);
    EXPECT_FALSE(s.Sweep.SweepLinear);
    EXPECT_TRUE(s.Sweep.SweepWithRef);
    EXPECT_FALSE(s.Sweep.SweepPhase);
    EXPECT_EQ(s.Sweep.SweepComment, "Kommentar:");
    EXPECT_DOUBLE_EQ(s.Sweep.SweepYMin, -45.0);
    EXPECT_DOUBLE_EQ(s.Sweep.SweepYMax, 5.0);
    EXPECT_FLOAT_EQ(s.Sweep.SweepPhaseMin, -180.0f);
    EXPECT_FLOAT_EQ(s.Sweep.SweepPhaseMax, 180.0f);
    EXPECT_EQ(s.Sweep.SweepSettleTime, 100);
    EXPECT_EQ(s.Scope.ScopeDiv1, 10);
    EXPECT_EQ(s.Scope.ScopeDiv2, 10);
    EXPECT_EQ(s.Scope.ScopeTimebase, 5);
    EXPECT_FALSE(s.Scope.ScopeGnd1);
    EXPECT_FALSE(s.Scope.ScopeGnd2);
    EXPECT_TRUE(s.Scope.ScopeTrigRising);
    EXPECT_TRUE(s.Scope.ScopeTrigCh1);
    EXPECT_EQ(s.Diagram.DiagramWidth, 450);
    EXPECT_EQ(s.Diagram.DiagramHeight, 320);
    EXPECT_EQ(s.Diagram.DiagramLeft, 0);
    EXPECT_EQ(s.Diagram.DiagramTop, 0);
}

// The texts WriteMainSections gives each SECTION.KEY.
std::map<std::string, std::string> WrittenValues(const Settings& s)
{
    ProfileFile file = ProfileFile::InMemory();
    WriteMainSections(file, s);
    std::map<std::string, std::string> v;
    for (const auto& w : file.Writes()) {
        v[w.section + "." + w.key] = w.value;
    }
    return v;
}

TEST(MainSections, AStoredLevelScaleStaysInForceAndIsWrittenBackAsItWas)
{
    // The pair older versions wrote as their defaults is a stored pair like any other.
    const Settings s = ReadMain("[VOLUME]\nPEGFAK=8.722\nPEGOFS=12.6\n");
    EXPECT_EQ(s.Volume.LevelFactor, 8.722);
    EXPECT_EQ(s.Volume.LevelOffset, 12.6);
    const std::map<std::string, std::string> v = WrittenValues(s);
    EXPECT_EQ(v.at("VOLUME.PEGFAK"), "8.7220");
    EXPECT_EQ(v.at("VOLUME.PEGOFS"), "12.6000");
}

TEST(MainSections, UnparsableValuesGiveTheirFallbacks)
{
    const Settings s = ReadMain(
        "[MAIN]\nINDEV=x\nLEFT=1.5\nTOP=\n[VOLUME]\nFGVOLUME=a\nFGINVOLUME=b\nPEGFAK=8,7\nPEGOFS=\n"
        "[FFT]\nWIN=w\nSAMPLES=s\nDIAYMAX=m\nDIAXMIN=1e1\nDIAXMAX=--\nDIAYSTEP=?\n"
        "[WOB]\nDIAYMIN=a\nDIAYMAX=b\nPMIN=c\nPMAX=d\nSTARTMESS=e\n"
        "[OSZI]\nDIV1=a\nDIV2=b\nTB=c\n[DIAGRAMM]\nWIDTH=a\nHEIGHT=b\nLEFT=c\nTOP=d\n");
    EXPECT_EQ(s.Main.InDeviceIndex, 0);
    EXPECT_EQ(s.Main.MainLeft, 200);
    EXPECT_EQ(s.Main.MainTop, 200);
    EXPECT_EQ(s.Volume.GenOutVolume, 20);
    EXPECT_EQ(s.Volume.GenInVolume, 100);
    EXPECT_DOUBLE_EQ(s.Volume.LevelFactor, 20.0 / std::log(10.0));
    EXPECT_DOUBLE_EQ(s.Volume.LevelOffset, 20.0 * std::log10(4.0));
    EXPECT_EQ(s.Fft.FftWindow, 8);
    EXPECT_EQ(s.Fft.FftPoints, 1024);
    EXPECT_DOUBLE_EQ(s.Fft.FftYMax, 0.0);
    EXPECT_EQ(s.Fft.FftXMin, 10);
    EXPECT_EQ(s.Fft.FftXMax, 28000);
    EXPECT_DOUBLE_EQ(s.Fft.FftYStep, 5.0);
    EXPECT_DOUBLE_EQ(s.Sweep.SweepYMin, -45.0);
    EXPECT_DOUBLE_EQ(s.Sweep.SweepYMax, 5.0);
    EXPECT_FLOAT_EQ(s.Sweep.SweepPhaseMin, -180.0f);
    EXPECT_FLOAT_EQ(s.Sweep.SweepPhaseMax, 180.0f);
    EXPECT_EQ(s.Sweep.SweepSettleTime, 100);
    EXPECT_EQ(s.Scope.ScopeDiv1, 10);
    EXPECT_EQ(s.Scope.ScopeDiv2, 10);
    EXPECT_EQ(s.Scope.ScopeTimebase, 5);
    EXPECT_EQ(s.Diagram.DiagramWidth, 450);
    EXPECT_EQ(s.Diagram.DiagramHeight, 320);
    EXPECT_EQ(s.Diagram.DiagramLeft, 0);
    EXPECT_EQ(s.Diagram.DiagramTop, 0);
}

TEST(MainSections, SpecialValuesOfVolumeAndFft)
{
    Settings s = ReadMain("[VOLUME]\nFGVOLUME=-1\nFGINVOLUME=-1\n[FFT]\nWIN=-1\nSAMPLES=-1\n");
    EXPECT_EQ(s.Volume.GenOutVolume, 20);
    EXPECT_EQ(s.Volume.GenInVolume, 100);
    EXPECT_EQ(s.Fft.FftWindow, 8);
    EXPECT_EQ(s.Fft.FftPoints, 1024);
    s = ReadMain("[VOLUME]\nFGVOLUME=55\nFGINVOLUME=0\n[FFT]\nWIN=0\nSAMPLES=777\n");
    EXPECT_EQ(s.Volume.GenOutVolume, 55);
    EXPECT_EQ(s.Volume.GenInVolume, 0);
    EXPECT_EQ(s.Fft.FftWindow, 0);
    EXPECT_EQ(s.Fft.FftPoints, 777);  // corrected when the spectrum page is entered
    // A window index that names no window counts as unparsable.
    EXPECT_EQ(ReadMain("[FFT]\nWIN=9\n").Fft.FftWindow, 8);
    EXPECT_EQ(ReadMain("[FFT]\nWIN=-2\n").Fft.FftWindow, 8);
}

TEST(MainSections, UnparsableInputLineLeavesItUnchanged)
{
    Settings start;
    start.Volume.InChannel = 3;
    EXPECT_EQ(ReadMain("[VOLUME]\nINCHANNEL=line\n", {}, start).Volume.InChannel, 3);
    EXPECT_EQ(ReadMain("", {}, start).Volume.InChannel, -2);
    EXPECT_EQ(ReadMain("[VOLUME]\nINCHANNEL=7\n", {}, start).Volume.InChannel, 7);
}

TEST(MainSections, SweepKeywords)
{
    EXPECT_FALSE(ReadMain("[WOB]\nMETHODE=LOG\n").Sweep.SweepLinear);
    EXPECT_TRUE(ReadMain("[WOB]\nMETHODE=LIN\n").Sweep.SweepLinear);
    EXPECT_TRUE(ReadMain("[WOB]\nMETHODE=log\n").Sweep.SweepLinear);
    EXPECT_TRUE(ReadMain("[WOB]\nMETHODE=\n").Sweep.SweepLinear);
    EXPECT_TRUE(ReadMain("[WOB]\nREFMESS=Refmess\n").Sweep.SweepWithRef);
    EXPECT_FALSE(ReadMain("[WOB]\nREFMESS=norefmess\n").Sweep.SweepWithRef);
    EXPECT_FALSE(ReadMain("[WOB]\nREFMESS=refmess\n").Sweep.SweepWithRef);
}

TEST(MainSections, DeviceIndicesOutsideTheirRangeGiveZero)
{
    EXPECT_EQ(ReadMain("[MAIN]\nINDEV=2\nOUTDEV=1\n").Main.InDeviceIndex, 2);  // no count: only 0..2
    EXPECT_EQ(ReadMain("[MAIN]\nINDEV=3\n").Main.InDeviceIndex, 0);
    EXPECT_EQ(ReadMain("[MAIN]\nINDEV=-1\n").Main.InDeviceIndex, 0);

    MainReadHooks hooks;
    hooks.InDeviceCount = [] { return 2; };
    hooks.OutDeviceCount = [] { return 1; };
    Settings s = ReadMain("[MAIN]\nINDEV=2\nOUTDEV=1\n", hooks);
    EXPECT_EQ(s.Main.InDeviceIndex, 0);
    EXPECT_EQ(s.Main.OutDeviceIndex, 0);
    s = ReadMain("[MAIN]\nINDEV=1\nOUTDEV=0\n", hooks);
    EXPECT_EQ(s.Main.InDeviceIndex, 1);
    hooks.InDeviceCount = [] { return 0; };  // no input device at all
    EXPECT_EQ(ReadMain("[MAIN]\nINDEV=1\n", hooks).Main.InDeviceIndex, 0);
}

TEST(MainSections, HooksRunInReadingOrderWithTheirValues)
{
    std::vector<std::string> log;
    Settings s;
    MainReadHooks hooks;
    hooks.SelectInDevice = [&](int i) { log.push_back("in " + std::to_string(i)); };
    hooks.SelectOutDevice = [&](int i) { log.push_back("out " + std::to_string(i)); };
    hooks.LoadInCorrection = [&](const std::string& n) { log.push_back("load in " + n); };
    hooks.LoadOutCorrection = [&](const std::string& n) { log.push_back("load out " + n); };
    hooks.SetInCorrActive = [&](bool on) { log.push_back(std::string("in active ") + (on ? "1" : "0")); };
    hooks.SetOutCorrActive = [&](bool on) { log.push_back(std::string("out active ") + (on ? "1" : "0")); };
    hooks.SelectAuxInput = [&](int line) {
        // The record volume is already read when the input line is chosen.
        log.push_back("aux " + std::to_string(line) + " at " + std::to_string(s.Volume.GenInVolume) + "%");
    };
    hooks.SetAverVal = [&](int n) { log.push_back("average " + std::to_string(n)); };

    const ProfileFile file = ProfileFile::InMemory(
        "[MAIN]\nINDEV=1\nOUTDEV=2\nINCONAME=/tmp/in.cor\nOUTCONAME=out.cor\nINCOAKT=TRUE\nOUTCOAKT=FALSE\n"
        "[VOLUME]\nFGINVOLUME=70\nINCHANNEL=3\n[FFT]\nAVERAGE=8\n");
    ReadMainSections(file, s, hooks);
    EXPECT_EQ(log, (std::vector<std::string>{"in 1", "out 2", "load in /tmp/in.cor", "load out out.cor",
                                             "in active 1", "out active 0", "aux 3 at 70%", "average 8"}));
}

TEST(MainSections, EmptyCorrectionNameLoadsNothing)
{
    int loads = 0;
    MainReadHooks hooks;
    hooks.LoadInCorrection = [&](const std::string&) { ++loads; };
    hooks.LoadOutCorrection = [&](const std::string&) { ++loads; };
    ReadMain("[MAIN]\nINCONAME=\n", hooks);
    EXPECT_EQ(loads, 0);
}

TEST(MainSections, TextsAreCutToTheirLengths)
{
    const std::string longText(300, 'c');
    const Settings s = ReadMain("[FFT]\nCOMMENT=" + longText + "\n[WOB]\nCOMMENT=" + longText + "\n[MAIN]\nINCONAME=" +
                                longText + "\n");
    EXPECT_EQ(s.Fft.FftComment, std::string(120, 'c'));
    EXPECT_EQ(s.Sweep.SweepComment, std::string(120, 'c'));
    EXPECT_EQ(s.Main.InCorrectionFile, std::string(152, 'c'));
    EXPECT_EQ(ReadGenerator("[GEN]\nUFNAME=" + longText + "\n").GenUserFile, std::string(120, 'c'));
    EXPECT_EQ(ReadAnalysis("[ANALYSE]\nFILTER=" + longText + "\n").AnaFilterName, std::string(198, 'c'));
    EXPECT_EQ(ReadOptions("[DIAGPRIV]\nSEPARATOR=" + longText + "\n").Separator, std::string(152, 'c'));
}

TEST(MainSections, WritesEveryKeyInTheProgramsOrder)
{
    ProfileFile file = ProfileFile::InMemory();
    WriteMainSections(file, Settings{});
    const std::vector<std::string> expected{
        "MAIN.INDEV",      "MAIN.OUTDEV",      "MAIN.SPRACHE",   "MAIN.INCONAME",   "MAIN.OUTCONAME",
        "MAIN.INCOAKT",    "MAIN.OUTCOAKT",    "EICH.INPUT",     "EICH.OUTPUT",     "VOLUME.FGVOLUME",
        "VOLUME.FGINVOLUME", "VOLUME.PEGFAK",  "VOLUME.PEGOFS",  "VOLUME.INCHANNEL", "FFT.WIN",
        "FFT.SAMPLES",     "FFT.AVERAGE",      "FFT.COMMENT",    "FFT.DIAYMIN",     "FFT.DIAYMAX",
        "FFT.DIAXMIN",     "FFT.DIAXMAX",      "WOB.FROM",       "WOB.TO",          "WOB.STEPS",
        "WOB.METHODE",     "WOB.REFMESS",      "WOB.PHASE",      "WOB.CURVE2",     "WOB.COMMENT",     "WOB.DIAYMIN",
        "WOB.DIAYMAX",     "WOB.PMIN",         "WOB.PMAX",       "WOB.PEGDIG",      "WOB.STARTMESS",
        "OSZI.DIV1",       "OSZI.DIV2",        "OSZI.TB",        "OSZI.GND1",       "OSZI.GND2",
        "OSZI.TRIPOS",     "OSZI.TRICH1",      "DIAGRAMM.WIDTH", "DIAGRAMM.HEIGHT", "DIAGRAMM.LEFT",
        "DIAGRAMM.TOP",    "MAIN.LEFT",        "MAIN.TOP"};
    EXPECT_EQ(WrittenKeys(file), expected);
}

TEST(MainSections, WriteFormats)
{
    Settings s;
    s.Calib.InCalibValue = 268.04;
    s.Volume.LevelFactor = 8.72216;
    s.Fft.FftYMin = -110.5;  // exact half: to even
    s.Fft.FftYMax = -0.2;
    s.Sweep.SweepLinear = true;
    s.Sweep.SweepWithRef = false;
    s.Sweep.SweepPhaseMin = -89.6f;
    s.Sweep.SweepLevel = -6.45f;
    s.Main.UiLanguage = 'E';
    std::map<std::string, std::string> v = WrittenValues(s);
    EXPECT_EQ(v["EICH.INPUT"], "268.0");
    EXPECT_EQ(v["VOLUME.PEGFAK"], "8.72216");  // 4 decimals only where they hold the value
    EXPECT_EQ(v["FFT.DIAYMIN"], "-110");
    EXPECT_EQ(v["FFT.DIAYMAX"], "0");
    EXPECT_EQ(v["WOB.METHODE"], "LIN");
    EXPECT_EQ(v["WOB.REFMESS"], "norefmess");
    EXPECT_EQ(v["WOB.PMIN"], "-90");
    EXPECT_EQ(v["WOB.PEGDIG"], "-6.4");  // the single -6.45 is -6.4499998...
    EXPECT_EQ(v["MAIN.SPRACHE"], "E");
    EXPECT_EQ(v["OSZI.TRIPOS"], "TRUE");
    EXPECT_EQ(v["OSZI.GND1"], "FALSE");
}

TEST(MainSections, DiagramStepIsReadButNeverWritten)
{
    EXPECT_DOUBLE_EQ(ReadMain("[FFT]\nDIAYSTEP=2.5\n").Fft.FftYStep, 2.5);
    ProfileFile file = ProfileFile::InMemory("[FFT]\nDIAYSTEP=2.5\n");
    WriteMainSections(file, Settings{});
    for (const auto& w : file.Writes()) {
        EXPECT_NE(w.key, "DIAYSTEP");
    }
    EXPECT_EQ(file.GetString("FFT", "DIAYSTEP", "", 153), "2.5");
}

// ---- round trips through a real file ---------------------------------------------

TEST(RoundTrip, MainSectionsComeBackUnchanged)
{
    Settings s;
    s.Main = {2, 1, 'E', "/home/u/in card.cor", "out.cor", true, false, -15, 720};
    s.Calib = {301.5, 77.2};
    s.Volume = {35, 80, 8.6859, -3.25, 4};
    s.Fft = {3, 4096, 250, "Messung A: 1 kHz", -120.0, 10.0, 20, 22000, 5.0};
    s.Sweep = {false, true, true, 3, 250, 200, 10, 40000, -180.0f, 45.0f, -12.5f, "Sweep B", -60.0, 12.0};
    s.Scope = {3, 7, 11, true, false, false, true};
    s.Diagram = {800, 600, 33, 44};

    TempDir dir;
    ProfileFile file(dir.File("snv13.cfg"));
    WriteMainSections(file, s);
    ASSERT_TRUE(file.LastWriteOk());

    Settings b;
    ReadMainSections(ProfileFile(dir.File("snv13.cfg")), b, {});
    EXPECT_EQ(b.Main.InDeviceIndex, 2);
    EXPECT_EQ(b.Main.OutDeviceIndex, 1);
    EXPECT_EQ(b.Main.UiLanguage, 'E');
    EXPECT_EQ(b.Main.InCorrectionFile, s.Main.InCorrectionFile);
    EXPECT_EQ(b.Main.OutCorrectionFile, s.Main.OutCorrectionFile);
    EXPECT_TRUE(b.Main.InCorrActive);
    EXPECT_FALSE(b.Main.OutCorrActive);
    EXPECT_EQ(b.Main.MainLeft, -15);
    EXPECT_EQ(b.Main.MainTop, 720);
    EXPECT_DOUBLE_EQ(b.Calib.InCalibValue, 301.5);
    EXPECT_DOUBLE_EQ(b.Calib.OutCalibValue, 77.2);
    EXPECT_EQ(b.Volume.GenOutVolume, 35);
    EXPECT_EQ(b.Volume.GenInVolume, 80);
    EXPECT_DOUBLE_EQ(b.Volume.LevelFactor, 8.6859);
    EXPECT_DOUBLE_EQ(b.Volume.LevelOffset, -3.25);
    EXPECT_EQ(b.Volume.InChannel, 4);
    EXPECT_EQ(b.Fft.FftWindow, 3);
    EXPECT_EQ(b.Fft.FftPoints, 4096);
    EXPECT_EQ(b.Fft.FftAverage, 250);
    EXPECT_EQ(b.Fft.FftComment, s.Fft.FftComment);
    EXPECT_DOUBLE_EQ(b.Fft.FftYMin, -120.0);
    EXPECT_DOUBLE_EQ(b.Fft.FftYMax, 10.0);
    EXPECT_EQ(b.Fft.FftXMin, 20);
    EXPECT_EQ(b.Fft.FftXMax, 22000);
    EXPECT_EQ(b.Sweep.SweepWithRef, false);
    EXPECT_EQ(b.Sweep.SweepLinear, true);
    EXPECT_EQ(b.Sweep.SweepPhase, true);
    EXPECT_EQ(b.Sweep.SweepSettleTime, 250);
    EXPECT_EQ(b.Sweep.SweepSteps, 200);
    EXPECT_EQ(b.Sweep.SweepFrom, 10);
    EXPECT_EQ(b.Sweep.SweepTo, 40000);
    EXPECT_FLOAT_EQ(b.Sweep.SweepPhaseMin, -180.0f);
    EXPECT_FLOAT_EQ(b.Sweep.SweepPhaseMax, 45.0f);
    EXPECT_FLOAT_EQ(b.Sweep.SweepLevel, -12.5f);
    EXPECT_EQ(b.Sweep.SweepComment, "Sweep B");
    EXPECT_DOUBLE_EQ(b.Sweep.SweepYMin, -60.0);
    EXPECT_DOUBLE_EQ(b.Sweep.SweepYMax, 12.0);
    EXPECT_EQ(b.Scope.ScopeDiv1, 3);
    EXPECT_EQ(b.Scope.ScopeDiv2, 7);
    EXPECT_EQ(b.Scope.ScopeTimebase, 11);
    EXPECT_TRUE(b.Scope.ScopeGnd1);
    EXPECT_FALSE(b.Scope.ScopeGnd2);
    EXPECT_FALSE(b.Scope.ScopeTrigRising);
    EXPECT_TRUE(b.Scope.ScopeTrigCh1);
    EXPECT_EQ(b.Diagram.DiagramWidth, 800);
    EXPECT_EQ(b.Diagram.DiagramHeight, 600);
    EXPECT_EQ(b.Diagram.DiagramLeft, 33);
    EXPECT_EQ(b.Diagram.DiagramTop, 44);

    // Saving what was read writes the same file again.
    const std::string first = ReadBytes(dir.File("snv13.cfg"));
    WriteMainSections(file, b);
    EXPECT_EQ(ReadBytes(dir.File("snv13.cfg")), first);
}

TEST(RoundTrip, AnalysisGeneratorAndDiagramOptions)
{
    TempDir dir;
    ProfileFile file(dir.File("snv13.cfg"));
    AnalysisSettings a{true, true, false, 997.0, 22, 15000, 0.0000125, "USER", "/data/filters/mic weighting.cor"};
    GeneratorSettings g{12345, -90, 180, -20, -100, 4, "/data/sounds/test tone.wav"};
    DiagramOptions o;
    o.Separator = "\\t";
    o.ColCur = 0x123456;
    o.ColDia = 0xFFFFFF;
    o.ColGrid = 0x808080;
    o.ColLine1 = 0x00FF00;
    o.ColLine2 = 0xFFFFFFFF;  // not a colour, but kept bit for bit
    o.ColMargin = 1;
    o.ColText = 0x0000FF;
    o.XLog = 0;
    o.YStepAuto = 0;
    o.YStep = 2.5f;
    WriteAnalysisSection(file, a);
    WriteGeneratorSection(file, g);
    WriteDiagramOptions(file, o);

    const ProfileFile again(dir.File("snv13.cfg"));
    AnalysisSettings a2;
    GeneratorSettings g2;
    DiagramOptions o2;
    ReadAnalysisSection(again, a2);
    ReadGeneratorSection(again, g2);
    ReadDiagramOptions(again, o2);

    EXPECT_EQ(a2.ThdMeasure, true);
    EXPECT_EQ(a2.NoiseMeasure, true);
    EXPECT_EQ(a2.FundAuto, false);
    EXPECT_DOUBLE_EQ(a2.Fundamental, 997.0);
    EXPECT_EQ(a2.AnaFreqLow, 22);
    EXPECT_EQ(a2.AnaFreqHigh, 15000);
    EXPECT_DOUBLE_EQ(a2.FundThreshold, 0.0000125);
    EXPECT_EQ(a2.AnaFilterName, "USER");
    EXPECT_EQ(a2.AnaFilterFile, "/data/filters/mic weighting.cor");

    EXPECT_EQ(g2.GenFrequency, 12345);
    EXPECT_EQ(g2.GenPhaseL, -90);
    EXPECT_EQ(g2.GenPhaseR, 180);
    EXPECT_EQ(g2.GenVolL, -20);
    EXPECT_EQ(g2.GenVolR, -100);
    EXPECT_EQ(g2.GenMode, 4);
    EXPECT_EQ(g2.GenUserFile, g.GenUserFile);

    EXPECT_EQ(o2.Separator, "\\t");
    EXPECT_EQ(o2.ColCur, 0x123456u);
    EXPECT_EQ(o2.ColDia, 0xFFFFFFu);
    EXPECT_EQ(o2.ColGrid, 0x808080u);
    EXPECT_EQ(o2.ColLine1, 0x00FF00u);
    EXPECT_EQ(o2.ColLine2, 0xFFFFFFFFu);
    EXPECT_EQ(o2.ColMargin, 1u);
    EXPECT_EQ(o2.ColText, 0x0000FFu);
    EXPECT_EQ(o2.XLog, 0);
    EXPECT_EQ(o2.YStepAuto, 0);
    EXPECT_FLOAT_EQ(o2.YStep, 2.5f);
}

TEST(RoundTrip, SoundFormatsOfAllSixDevices)
{
    std::array<DeviceFormat, 3> in{}, out{};
    SetDeviceFormat(in[0], 24, false, 96000);
    SetDeviceFormat(in[1], 8, true, 8000);
    in[1].UserRate = 11025;
    SetDeviceFormat(out[0], 16, true, 48000);
    SetDeviceFormat(out[2], 32, false, 44100);
    const std::array<std::string, 3> inNames{"In A", "In [B]", ""};
    const std::array<std::string, 3> outNames{"Out A", "", "Out C"};

    TempDir dir;
    ProfileFile file(dir.File("snv13.cfg"));
    WriteSoundSection(file, in, out, inNames, outNames);
    const std::string text = ReadBytes(dir.File("snv13.cfg"));
    EXPECT_NE(text.find("In_Adb=32\n"), std::string::npos);  // 24 bits are held as 32
    EXPECT_NE(text.find("In_(B)db=1008\n"), std::string::npos);
    EXPECT_EQ(text.find("\ndb="), std::string::npos);  // nothing for absent devices

    std::array<DeviceFormat, 3> in2{}, out2{};
    ReadSoundSection(ProfileFile(dir.File("snv13.cfg")), inNames, outNames, in2, out2);
    EXPECT_EQ(in2[0].Format.BitsPerSample, 32);
    EXPECT_EQ(in2[0].Format.BlockAlign, 8);
    EXPECT_EQ(in2[0].Format.AvgBytesPerSec, 96000u * 8u);
    EXPECT_EQ(in2[0].SwapFlag, 0);
    EXPECT_EQ(in2[0].DeviceName, "In A");
    EXPECT_EQ(in2[1].Format.BitsPerSample, 8);
    EXPECT_EQ(in2[1].Format.BlockAlign, 2);
    EXPECT_EQ(in2[1].Format.SamplesPerSec, 8000u);
    EXPECT_EQ(in2[1].Format.AvgBytesPerSec, 16000u);
    EXPECT_EQ(in2[1].SwapFlag, 1);
    EXPECT_EQ(in2[1].UserRate, 11025);
    EXPECT_EQ(out2[0].Format.BitsPerSample, 16);
    EXPECT_EQ(out2[0].Format.AvgBytesPerSec, 48000u * 4u);
    EXPECT_EQ(out2[0].SwapFlag, 1);
    EXPECT_EQ(out2[2].Format.BitsPerSample, 32);
    EXPECT_EQ(out2[2].Format.SamplesPerSec, 44100u);
    EXPECT_EQ(out2[2].Format.Channels, 2);
    EXPECT_EQ(out2[2].Format.FormatTag, 1);
}

TEST(SoundSection, ReadRules)
{
    DeviceFormat start;
    SetDeviceFormat(start, 8, true, 22050);
    start.UserRate = 1;
    const auto readOne = [&](const std::string& text, const std::string& name = "Card", std::uint32_t own = 0) {
        std::array<DeviceFormat, 3> in{start, start, start}, out{start, start, start};
        ReadSoundSection(ProfileFile::InMemory(text), {name, "", ""}, {"", "", ""}, in, out, {own, 0, 0});
        return in[0];
    };
    // Absent keys give 16 bits, 44100 Hz, 55200, no swap.
    DeviceFormat d = readOne("");
    EXPECT_EQ(d.Format.BitsPerSample, 16);
    EXPECT_EQ(d.Format.SamplesPerSec, 44100u);
    EXPECT_EQ(d.UserRate, 55200);
    EXPECT_EQ(d.SwapFlag, 0);
    // A device with a rate of its own (a sound server's) starts at it; a stored rate stays.
    EXPECT_EQ(readOne("", "Card", 48000).Format.SamplesPerSec, 48000u);
    EXPECT_EQ(readOne("", "Card", 48000).Format.AvgBytesPerSec, 48000u * 4u);
    EXPECT_EQ(readOne("[SDSOUND]\nCardsf=96000\n", "Card", 48000).Format.SamplesPerSec, 96000u);
    // 0 leaves bits, swap flag and rate as they were.
    d = readOne("[SDSOUND]\nCarddb=0\nCardsf=0\n");
    EXPECT_EQ(d.Format.BitsPerSample, 8);
    EXPECT_EQ(d.SwapFlag, 1);
    EXPECT_EQ(d.Format.SamplesPerSec, 22050u);
    EXPECT_EQ(d.Format.AvgBytesPerSec, 22050u * 2u);
    // 24 and 32 both give 24-bit samples in 32-bit containers; 1000 + bits sets the swap.
    d = readOne("[SDSOUND]\nCarddb=1024\n");
    EXPECT_EQ(d.Format.BitsPerSample, 32);
    EXPECT_EQ(d.Format.BlockAlign, 8);
    EXPECT_EQ(d.SwapFlag, 1);
    // Unparsable values give the defaults; bit depths no device runs count as unparsable.
    d = readOne("[SDSOUND]\nCarddb=x\nCardsf=fast\nCardusf=?\n");
    EXPECT_EQ(d.Format.BitsPerSample, 16);
    EXPECT_EQ(d.Format.SamplesPerSec, 44100u);
    EXPECT_EQ(d.UserRate, 55200);
    d = readOne("[SDSOUND]\nCarddb=1012\nCardsf=-8000\n");
    EXPECT_EQ(d.Format.BitsPerSample, 16);
    EXPECT_EQ(d.SwapFlag, 0);
    EXPECT_EQ(d.Format.SamplesPerSec, 44100u);
    // A device without a name reads the bare suffixes.
    d = readOne("[SDSOUND]\ndb=8\nsf=11025\nusf=9\n", "");
    EXPECT_EQ(d.Format.BitsPerSample, 8);
    EXPECT_EQ(d.Format.SamplesPerSec, 11025u);
    EXPECT_EQ(d.UserRate, 9);
    EXPECT_EQ(d.DeviceName, "");
    // The section's buffer holds 28 characters: a longer value is cut before it is read.
    d = readOne("[SDSOUND]\nCardusf=" + std::string(27, '0') + "48000\n");
    EXPECT_EQ(d.UserRate, 4);
}

TEST(AnalysisSection, SpecialValues)
{
    AnalysisSettings a = ReadAnalysis("");
    EXPECT_FALSE(a.ThdMeasure);
    EXPECT_FALSE(a.NoiseMeasure);
    EXPECT_TRUE(a.FundAuto);
    EXPECT_DOUBLE_EQ(a.Fundamental, 1000.0);
    EXPECT_EQ(a.AnaFreqLow, 100);
    EXPECT_EQ(a.AnaFreqHigh, 20000);
    EXPECT_DOUBLE_EQ(a.FundThreshold, 0.001);
    EXPECT_EQ(a.AnaFilterName, "none");

    a = ReadAnalysis("[ANALYSE]\nFUNDAMENTAL=0\nFVON=0\nFBIS=0\nFUNDLOW=0\n");
    EXPECT_DOUBLE_EQ(a.Fundamental, 1000.0);
    EXPECT_EQ(a.AnaFreqLow, 100);
    EXPECT_EQ(a.AnaFreqHigh, 20000);
    EXPECT_DOUBLE_EQ(a.FundThreshold, 0.001);

    a = ReadAnalysis("[ANALYSE]\nFUNDAMENTAL=-440\nFVON=-50\nFBIS=-15000\nFUNDLOW=-0.5\n");
    EXPECT_DOUBLE_EQ(a.Fundamental, 440.0);
    EXPECT_EQ(a.AnaFreqLow, 50);
    EXPECT_EQ(a.AnaFreqHigh, 15000);
    EXPECT_DOUBLE_EQ(a.FundThreshold, -0.5);

    a = ReadAnalysis("[ANALYSE]\nFUNDAMENTAL=440.5\nFVON=x\nFBIS=-2147483648\nFUNDLOW=1,5\n");
    EXPECT_DOUBLE_EQ(a.Fundamental, 1000.0);  // an integer key
    EXPECT_EQ(a.AnaFreqLow, 100);
    EXPECT_EQ(a.AnaFreqHigh, 20000);
    EXPECT_DOUBLE_EQ(a.FundThreshold, 0.001);
}

TEST(AnalysisSection, FundamentalIsWrittenInWholeHertzHalvesToEven)
{
    const auto written = [](double hz) {
        AnalysisSettings a;
        a.Fundamental = hz;
        ProfileFile file = ProfileFile::InMemory();
        WriteAnalysisSection(file, a);
        return file.GetString("ANALYSE", "FUNDAMENTAL", "", 199);
    };
    EXPECT_EQ(written(440.4), "440");
    EXPECT_EQ(written(440.6), "441");
    EXPECT_EQ(written(440.5), "440");
    EXPECT_EQ(written(441.5), "442");
}

TEST(GeneratorSection, DefaultsFallbacksAndWaveformRange)
{
    GeneratorSettings g = ReadGenerator("[GEN]\nFGEN=abc\nPHASEL=1.5\nVOLL=\nMODE=x\n");
    EXPECT_EQ(g.GenFrequency, 1000);
    EXPECT_EQ(g.GenPhaseL, 0);
    EXPECT_EQ(g.GenVolL, 0);
    EXPECT_EQ(g.GenMode, 0);
    EXPECT_EQ(g.GenUserFile, "");
    EXPECT_EQ(ReadGenerator("[GEN]\nFGEN=99999\n").GenFrequency, 99999);  // no range check
    EXPECT_EQ(ReadGenerator("[GEN]\nMODE=3\n").GenMode, 3);
    EXPECT_EQ(ReadGenerator("[GEN]\nMODE=7\n").GenMode, 7);  // CCIF, the last waveform
    EXPECT_EQ(ReadGenerator("[GEN]\nMODE=8\n").GenMode, 0);
    EXPECT_EQ(ReadGenerator("[GEN]\nMODE=-1\n").GenMode, 0);
}

TEST(LogSweepSection, ValuesOutsideTheirRangesGiveDefaultsAndWhatIsWrittenReadsBack)
{
    const auto read = [](std::string_view text) {
        LogSweepSettings l;
        ReadLogSweepSection(ProfileFile::InMemory(text), l);
        return l;
    };
    const LogSweepSettings d = read("");
    EXPECT_EQ(d.LogSweepFrom, 20.0);
    EXPECT_EQ(d.LogSweepTo, 20000.0);
    EXPECT_EQ(d.LogSweepSeconds, 3.0);
    EXPECT_EQ(d.LogSweepLevel, -6.0);
    EXPECT_TRUE(d.LogSweepWithRef);
    EXPECT_EQ(d.LogSweepCurve2, LogSweepCurve::Phase);
    EXPECT_EQ(d.LogSweepPointsPerOctave, 48);

    const LogSweepSettings bad = read("[LOGSWEEP]\nFROM=0.5\nSECONDS=61\nLEVEL=0.1\nMODE=mono\nCURVE2=H6\nPOINTS=0\n");
    EXPECT_EQ(bad.LogSweepFrom, 20.0);
    EXPECT_EQ(bad.LogSweepSeconds, 3.0);
    EXPECT_EQ(bad.LogSweepLevel, -6.0);
    EXPECT_TRUE(bad.LogSweepWithRef);
    EXPECT_EQ(bad.LogSweepCurve2, LogSweepCurve::Phase);
    EXPECT_EQ(bad.LogSweepPointsPerOctave, 48);
    // A band that is no band gives both defaults.
    const LogSweepSettings inverted = read("[LOGSWEEP]\nFROM=1000\nTO=100\n");
    EXPECT_EQ(inverted.LogSweepFrom, 20.0);
    EXPECT_EQ(inverted.LogSweepTo, 20000.0);

    LogSweepSettings l;
    l.LogSweepFrom = 20.001;
    l.LogSweepTo = 20.004;  // apart by less than any fixed number of decimals would keep
    l.LogSweepSeconds = 0.5;
    l.LogSweepLevel = -12.25;
    l.LogSweepWithRef = false;
    l.LogSweepCurve2 = LogSweepCurve::H4;
    l.LogSweepPointsPerOctave = 200;
    ProfileFile file = ProfileFile::InMemory();
    WriteLogSweepSection(file, l);
    EXPECT_EQ(file.Text(), "[LOGSWEEP]\nFROM=20.001\nTO=20.004\nSECONDS=0.5\nLEVEL=-12.25\nMODE=STEREO\nCURVE2=H4\n"
                           "POINTS=200\n");
    const LogSweepSettings back = read(file.Text());
    EXPECT_EQ(back.LogSweepFrom, l.LogSweepFrom);
    EXPECT_EQ(back.LogSweepTo, l.LogSweepTo);
    EXPECT_EQ(back.LogSweepLevel, l.LogSweepLevel);
    EXPECT_FALSE(back.LogSweepWithRef);
    EXPECT_EQ(back.LogSweepCurve2, LogSweepCurve::H4);
    EXPECT_EQ(back.LogSweepPointsPerOctave, 200);
}

TEST(DiagramOptionsSection, DefaultsAndWriteOrder)
{
    DiagramOptions o = ReadOptions("[DIAGPRIV]\nCOLDIA=x\nCOLLINE1=0\nXLOG=FALSE\nYDIASTEPS=abc\n");
    EXPECT_EQ(o.Separator, ",");
    EXPECT_EQ(o.ColCur, 0u);
    EXPECT_EQ(o.ColDia, 16776960u);
    EXPECT_EQ(o.ColGrid, 65535u);
    EXPECT_EQ(o.ColLine1, 255u);
    EXPECT_EQ(o.ColLine2, 16711680u);
    EXPECT_EQ(o.ColMargin, 12632256u);
    EXPECT_EQ(o.ColText, 0u);
    EXPECT_EQ(o.XLog, 0);
    EXPECT_EQ(o.YStepAuto, 1);
    EXPECT_FLOAT_EQ(o.YStep, 5.0f);

    ProfileFile file = ProfileFile::InMemory();
    WriteDiagramOptions(file, DiagramOptions{});
    EXPECT_EQ(WrittenKeys(file),
              (std::vector<std::string>{"DIAGPRIV.SEPARATOR", "DIAGPRIV.COLCUR", "DIAGPRIV.COLDIA", "DIAGPRIV.COLGRID",
                                        "DIAGPRIV.COLLINE1", "DIAGPRIV.COLLINE2", "DIAGPRIV.COLMARGIN",
                                        "DIAGPRIV.COLTEXT", "DIAGPRIV.XLOG", "DIAGPRIV.YSTEPAUTO",
                                        "DIAGPRIV.YDIASTEPS", "DIAGPRIV.SMOOTHFFT", "DIAGPRIV.SMOOTHWOB"}));
    EXPECT_EQ(file.Writes()[file.Writes().size() - 3].value, "5.0");
    // The smoothing of each page: only the widths offered read back, anything else is none.
    DiagramOptions smoothed = ReadOptions("[DIAGPRIV]\nSMOOTHFFT=3\nSMOOTHWOB=5\n");
    EXPECT_EQ(smoothed.Smoothing[0], 3);
    EXPECT_EQ(smoothed.Smoothing[1], 0);
}

// ---- the file around the sections ----------------------------------------------------

TEST(SectionWriters, CommentsAndUnknownEntriesSurvive)
{
    TempDir dir;
    const std::string path = dir.File("snv13.cfg");
    WriteBytes(path,
               "; hand-written notes\r\n[MAIN]\r\nINDEV=1\r\nMYKEY=mine\r\n\r\n[PLUGIN]\r\nA=1\r\n; end\r\n");
    ProfileFile file(path);
    WriteMainSections(file, Settings{});
    WriteAnalysisSection(file, AnalysisSettings{});
    const std::string text = ReadBytes(path);
    EXPECT_EQ(text.rfind("; hand-written notes\r\n[MAIN]\r\nINDEV=0\r\nMYKEY=mine\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\n[PLUGIN]\r\nA=1\r\n; end\r\n"), std::string::npos);
    EXPECT_EQ(text.find("INDEV", text.find("INDEV") + 1), std::string::npos);  // replaced, not added
    // One line ending throughout: every LF is preceded by CR.
    for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
        ASSERT_EQ(text[i - 1], '\r') << "at " << i;
    }
    Settings s;
    ReadMainSections(file, s, {});
    EXPECT_EQ(s.Main.InDeviceIndex, 0);
}

TEST(SectionWriters, FailedSaveLeavesNoFileAndNoCrash)
{
    TempDir dir;
    ProfileFile file(dir.File("not-here/snv13.cfg"));
    WriteMainSections(file, Settings{});
    EXPECT_FALSE(file.LastWriteOk());
    WriteDiagramOptions(file, DiagramOptions{});
    EXPECT_FALSE(file.LastWriteOk());
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(SectionReaders, GarbageFileGivesDefaults)
{
    std::string garbage;
    for (int i = 0; i < 5000; ++i) {
        garbage += static_cast<char>((i * 7919) & 0xFF);
    }
    const ProfileFile file = ProfileFile::InMemory("[MAIN]\n" + garbage + "\n[FFT]\n" + garbage);
    Settings s;
    ReadMainSections(file, s, {});
    EXPECT_EQ(s.Main.InDeviceIndex, 0);
    EXPECT_EQ(s.Fft.FftPoints, 1024);
    EXPECT_EQ(s.Fft.FftComment, "Kommentar:");
}

}  // namespace
}  // namespace sonvera
