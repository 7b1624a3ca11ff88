// Black-box check of "sonvera-cli spectrum --input" with wave files that are cut short or
// whose headers lie about their length: one line on stderr naming the file and why,
// exit status 1, nothing printed as a spectrum; an honest file of the same frames works.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>

#include "tests/support/runcommand.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

void Put16(std::string& s, std::uint16_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void Put32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

/// A mono 16-bit 44100 Hz file of `frames` frames of a 1 kHz sine at half scale, with
/// the data chunk's size field set to `claimedBytes` (-1: the truth).
std::string ToneWave(int frames, std::int64_t claimedBytes = -1)
{
    std::string data;
    for (int n = 0; n < frames; ++n) {
        const double x = 0.5 * std::sin(2.0 * 3.14159265358979323846 * 1000.0 * n / 44100.0);
        Put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(x * 32767.0))));
    }
    std::string body = "WAVEfmt ";
    Put32(body, 16);
    Put16(body, 1);
    Put16(body, 1);
    Put32(body, 44100);
    Put32(body, 88200);
    Put16(body, 2);
    Put16(body, 16);
    body += "data";
    Put32(body, claimedBytes >= 0 ? static_cast<std::uint32_t>(claimedBytes) : static_cast<std::uint32_t>(data.size()));
    body += data;
    std::string file = "RIFF";
    Put32(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

testing::CommandResult Spectrum(const std::string& wav, const std::string& errFile)
{
    return testing::RunCommand(std::string(SONVERA_CLI) + " --audio virtual spectrum --input '" + wav +
                               "' --points 1024 --average 2 2>'" + errFile + "'");
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SpectrumInputFaults, HonestFileIsAnalysed)
{
    testing::TempDir dir;
    const std::string wav = dir.File("honest.wav");
    std::ofstream(wav, std::ios::binary) << ToneWave(4096);
    const testing::CommandResult r = Spectrum(wav, dir.File("err.txt"));
    EXPECT_EQ(r.status, 0) << ReadText(dir.File("err.txt"));
    EXPECT_NE(r.output.find("# "), std::string::npos);
}

TEST(SpectrumInputFaults, FilesCutShortOrClaimingMoreAreRefusedNamingTheFile)
{
    testing::TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::string whole = ToneWave(4096);
    const Case cases[] = {
        {"claims_more.wav", ToneWave(4096, 2 * 8192)},
        {"claims_4g.wav", ToneWave(4096, 0xFFFFFFF0LL)},
        {"cut_short.wav", whole.substr(0, whole.size() - 1000)},
        {"cut_in_header.wav", whole.substr(0, 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir.File(c.name);
        std::ofstream(wav, std::ios::binary) << c.bytes;
        const std::string errFile = dir.File("err.txt");
        const testing::CommandResult r = Spectrum(wav, errFile);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.output.empty()) << r.output.substr(0, 200);
        const std::string err = ReadText(errFile);
        EXPECT_NE(err.find(wav), std::string::npos) << err;
        // One line, no sanitizer report or crash trace.
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }
}

TEST(SpectrumInputFaults, AFileClaimingLessIsAnalysedOnlyWhenTheClaimedFramesSuffice)
{
    testing::TempDir dir;
    const std::string wav = dir.File("claims_less.wav");
    // 4096 frames present, 1000 claimed: too few for two blocks of 1024.
    std::ofstream(wav, std::ios::binary) << ToneWave(4096, 2 * 1000);
    const testing::CommandResult r = Spectrum(wav, dir.File("err.txt"));
    EXPECT_EQ(r.status, 1);
    const std::string err = ReadText(dir.File("err.txt"));
    EXPECT_NE(err.find("holds 1000 frames"), std::string::npos) << err;
}

}  // namespace
}  // namespace sonvera
