// Runs the built sonvera-cli as a user would and checks what "settings" prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

struct RunResult {
    int status = -1;
    std::vector<std::string> lines;
    std::map<std::string, std::string> values;  // "SECTION.KEY" -> value
};

RunResult RunSettings(const std::string& arguments)
{
    RunResult result;
    // The virtual card names the sound devices, so the SDSOUND keys are the same everywhere.
    const std::string cmd = std::string("'") + SONVERA_CLI + "' --audio virtual " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::string out;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::size_t start = 0;
    for (std::size_t nl = out.find('\n'); nl != std::string::npos; nl = out.find('\n', start)) {
        const std::string line = out.substr(start, nl - start);
        result.lines.push_back(line);
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            result.values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        start = nl + 1;
    }
    return result;
}

TEST(SettingsCommand, MissingFilePrintsEveryDefaultInWriteOrder)
{
    testing::TempDir dir;
    const RunResult r = RunSettings("--config '" + dir.File("absent.cfg") + "' settings");
    ASSERT_EQ(r.status, 0);
    // 49 main-window keys, 9 analysis, 7 generator, 13 diagram, 7 log sweep, 3 of the
    // virtual card's formats
    ASSERT_EQ(r.lines.size(), 88u);
    EXPECT_EQ(r.lines.front(), "MAIN.INDEV=0");
    EXPECT_EQ(r.lines[46], "DIAGRAMM.TOP=0");
    EXPECT_EQ(r.lines[47], "MAIN.LEFT=200");
    EXPECT_EQ(r.lines[48], "MAIN.TOP=200");
    EXPECT_EQ(r.lines[49], "ANALYSE.THDMESS=FALSE");
    EXPECT_EQ(r.lines[57], "ANALYSE.FILTERFILE=");
    EXPECT_EQ(r.lines[58], "GEN.FGEN=1000");
    EXPECT_EQ(r.lines[75], "DIAGPRIV.YDIASTEPS=5.0");
    EXPECT_EQ(r.lines[77], "DIAGPRIV.SMOOTHWOB=0");
    EXPECT_EQ(r.lines[84], "LOGSWEEP.POINTS=48");
    EXPECT_EQ(r.lines[85], "SDSOUND.Sonvera_Loopbackdb=16");
    EXPECT_EQ(r.values.at("WOB.TO"), "20000");
    EXPECT_EQ(r.values.at("WOB.PMIN"), "-180");
    EXPECT_EQ(r.lines.back(), "SDSOUND.Sonvera_Loopbackusf=55200");
    EXPECT_EQ(r.values.at("EICH.INPUT"), "268.0");
    EXPECT_EQ(r.values.at("VOLUME.PEGFAK"), "8.685889638065037");  // 20/ln 10 in full
    EXPECT_EQ(r.values.at("FFT.DIAYMIN"), "-110");
    EXPECT_EQ(r.values.at("ANALYSE.FUNDLOW"), "0.0010000");
    EXPECT_EQ(r.values.at("DIAGPRIV.COLDIA"), "16776960");
    EXPECT_FALSE(std::filesystem::exists(dir.File("absent.cfg")));  // listing writes nothing
}

TEST(SettingsCommand, UnparsableAndOutOfRangeValuesShowTheirFallbacks)
{
    testing::TempDir dir;
    const std::string path = dir.File("bad.cfg");
    const std::string original =
        "[main]\r\nINDEV=7\r\nOUTDEV=abc\r\nSPRACHE=English\r\nLEFT=x\r\n"
        "[EICH]\r\nINPUT=-1\r\nOUTPUT=zz\r\n"
        "[VOLUME]\r\nFGVOLUME=-1\r\nPEGFAK=8,722\r\nINCHANNEL=q\r\n"
        "[FFT]\r\nWIN=12\r\nAVERAGE=-4\r\nDIAYMIN=abc\r\nCOMMENT=" +
        std::string(130, 'k') +
        "\r\n"
        "[WOB]\r\nFROM=0\r\nPEGDIG=-1\r\nMETHODE=lin\r\nSTEPS=-5\r\nPHASE=false\r\n"
        "[ANALYSE]\r\nFUNDAMENTAL=-440\r\nFUNDLOW=0\r\n"
        "[GEN]\r\nMODE=9\r\nFGEN=1e3\r\n"
        "[DIAGPRIV]\r\nCOLGRID=0\r\nYDIASTEPS=0\r\nXLOG=FALSE";
    testing::WriteBytes(path, original);
    const RunResult r = RunSettings("settings --config '" + path + "'");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 88u);
    const std::map<std::string, std::string> expected{
        {"MAIN.INDEV", "0"},         {"MAIN.OUTDEV", "0"},          {"MAIN.SPRACHE", "E"},
        {"MAIN.LEFT", "200"},        {"EICH.INPUT", "268.0"},       {"EICH.OUTPUT", "123.0"},
        {"VOLUME.FGVOLUME", "20"},   {"VOLUME.PEGFAK", "8.685889638065037"},   {"VOLUME.INCHANNEL", "-2"},
        {"FFT.WIN", "8"},            {"FFT.AVERAGE", "4"},          {"FFT.DIAYMIN", "-100"},
        {"FFT.COMMENT", std::string(120, 'k')},                     {"WOB.FROM", "20"},
        {"WOB.PEGDIG", "0.0"},       {"WOB.METHODE", "LIN"},        {"WOB.STEPS", "50"},
        {"WOB.PHASE", "TRUE"},       {"ANALYSE.FUNDAMENTAL", "440"}, {"ANALYSE.FUNDLOW", "0.0010000"},
        {"GEN.MODE", "0"},           {"GEN.FGEN", "1000"},          {"DIAGPRIV.COLGRID", "65535"},
        {"DIAGPRIV.YDIASTEPS", "5.0"}, {"DIAGPRIV.XLOG", "FALSE"}};
    for (const auto& [key, value] : expected) {
        ASSERT_TRUE(r.values.count(key)) << key;
        EXPECT_EQ(r.values.at(key), value) << key;
    }
    EXPECT_EQ(testing::ReadBytes(path), original);  // listing never changes the file
}

TEST(SettingsCommand, PrintedValuesReadBackToTheSameListing)
{
    testing::TempDir dir;
    const std::string path = dir.File("odd.cfg");
    testing::WriteBytes(path, "[FFT]\nAVERAGE=-4\n[WOB]\nPMIN=-89.6\n[VOLUME]\nPEGOFS=1.23456\n");
    const RunResult first = RunSettings("--config '" + path + "' settings");
    ASSERT_EQ(first.status, 0);

    // Turn the listing into a configuration file and list that.
    std::string text;
    std::string section;
    for (const auto& line : first.lines) {
        const auto dot = line.find('.');
        if (line.substr(0, dot) != section) {
            section = line.substr(0, dot);
            text += "[" + section + "]\n";
        }
        text += line.substr(dot + 1) + "\n";
    }
    const std::string path2 = dir.File("again.cfg");
    testing::WriteBytes(path2, text);
    const RunResult second = RunSettings("--config '" + path2 + "' settings");
    EXPECT_EQ(second.lines, first.lines);
    EXPECT_EQ(first.values.at("WOB.PMIN"), "-90");
    EXPECT_EQ(first.values.at("VOLUME.PEGOFS"), "1.23456");  // kept whole, not cut to 4 decimals
}

TEST(SettingsCommand, SoundFormatsAreListedForTheDevicesPresentOnly)
{
    testing::TempDir dir;
    const std::string path = dir.File("sound.cfg");
    testing::WriteBytes(path, "[SDSOUND]\nSonvera_Loopbackdb=1024\nSonvera_Loopbacksf=0\n"
                              "Sonvera_Loopbackusf=96000\nOther_Carddb=8\n");
    const RunResult r = RunSettings("--config '" + path + "' settings");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 88u);
    EXPECT_EQ(r.values.at("SDSOUND.Sonvera_Loopbackdb"), "1032");  // 24 bits swapped, in 32
    EXPECT_EQ(r.values.at("SDSOUND.Sonvera_Loopbacksf"), "44100");  // 0 keeps the rate
    EXPECT_EQ(r.values.at("SDSOUND.Sonvera_Loopbackusf"), "96000");
    EXPECT_EQ(r.values.count("SDSOUND.Other_Carddb"), 0u);
}

TEST(SettingsCommand, UnreadableFileAndStrayArgumentsAreErrors)
{
    testing::TempDir dir;
    const RunResult onDir = RunSettings("--config '" + dir.Path().string() + "' settings");
    EXPECT_EQ(onDir.status, 1);
    EXPECT_TRUE(onDir.lines.empty());
    EXPECT_EQ(RunSettings("--config '" + dir.File("x.cfg") + "' settings extra").status, 2);
}

}  // namespace
}  // namespace sonvera
