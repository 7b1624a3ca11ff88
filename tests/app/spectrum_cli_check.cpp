// Runs the built sonvera-cli "spectrum" on the virtual card as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

struct SpectrumResult {
    int status = -1;
    std::vector<std::string> lines;  // table lines, line ends removed
    std::string resultLine;          // the last line without "# "
};

SpectrumResult RunSpectrum(const std::string& arguments, const std::string& dut = "ideal")
{
    SpectrumResult r;
    testing::TempDir dir;
    const std::string dutOption = dut == "ideal" ? std::string("gain=0") : dut;
    const std::string cmd = std::string("'") + SONVERA_CLI + "' --audio virtual --dut '" + dutOption +
                            "' --config '" + dir.File("absent.cfg") + "' spectrum " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    std::string out;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("# ", 0) == 0) {
            r.resultLine = line.substr(2);
        } else if (!line.empty()) {
            r.lines.push_back(line);
        }
    }
    return r;
}

std::vector<double> Fields(const std::string& line, char sep)
{
    std::vector<double> v;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, sep)) {
        v.push_back(std::atof(field.c_str()));
    }
    return v;
}

TEST(SpectrumCommand, BadOptionsAreRefusedWithUsageStatus)
{
    for (const char* args : {"--points 300", "--points", "--window 9", "--window Hanning", "--average 0",
                             "--average 10000", "--bits 12", "--tone 1000:3", "--tone x", "--thd --level",
                             "--fmin 500 --fmax 400", "--lang F", "--bogus", "--in-device 3",
                             "--filter 'a weighting'", "--filter 'A Weighting '", "--filter user"}) {
        EXPECT_EQ(RunSpectrum(args).status, 2) << args;
    }
}

TEST(SpectrumCommand, ToneShowsAtItsBinAndLevelWithOneLinePerBin)
{
    // 11025 Hz is bin 1024 of 4096 points at 44100 Hz; window "None" (0.5) gives a
    // magnitude of a/4, shown as the peak in dBFS, 20 log10(a).
    const SpectrumResult r = RunSpectrum("--tone 11025:-6 --points 4096 --window None");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 2048u);  // bins 0..2047, whatever range the diagram shows
    std::size_t peak = 0;
    double best = -1e9;
    for (std::size_t i = 0; i < r.lines.size(); ++i) {
        const std::vector<double> f = Fields(r.lines[i], ',');
        ASSERT_EQ(f.size(), 3u) << r.lines[i];
        if (f[1] > best) {
            best = f[1];
            peak = i;
        }
    }
    const std::vector<double> top = Fields(r.lines[peak], ',');
    EXPECT_NEAR(top[0], 11025.0, 0.01);
    const double a = std::round(32767.0 * std::pow(10.0, -6.0 / 20.0)) / 32768.0;
    EXPECT_NEAR(top[1], 20.0 * std::log10(a), 0.01);
    EXPECT_NEAR(top[2], top[1], 0.05);
    EXPECT_EQ(r.resultLine, "");  // neither THD+N nor level asked for
}

TEST(SpectrumCommand, ThdOfADeviceWithACubicTermInBothLanguages)
{
    // x + 4*h3*x^3 at x = 0.5: third harmonic h3/8 against 0.5 + 3*h3/8.
    const double x = std::pow(10.0, -6.0 / 20.0);
    const double ratio = 0.04 * x * x * x / (x + 3 * 0.04 * x * x * x);
    const SpectrumResult de = RunSpectrum("--tone 1000:-6 --thd --points 4096 --window 4", "h3=0.04");
    ASSERT_EQ(de.status, 0);
    ASSERT_EQ(de.resultLine.rfind("THD+N:  LI ", 0), 0u) << de.resultLine;
    const std::size_t re = de.resultLine.find(" |  RE ");
    ASSERT_NE(re, std::string::npos) << de.resultLine;
    const std::string right = de.resultLine.substr(re + 7);
    const double thd = std::atof(right.c_str() + right.find("Hz ") + 3);
    EXPECT_NEAR(thd, 20.0 * std::log10(ratio), 0.1) << de.resultLine;

    const SpectrumResult en = RunSpectrum("--tone 1000:-6 --thd --points 4096 --window 4 --lang E", "h3=0.04");
    ASSERT_EQ(en.status, 0);
    EXPECT_EQ(en.resultLine.rfind("THD+N:  le ", 0), 0u) << en.resultLine;
}

TEST(SpectrumCommand, AToneWhosePeriodDoesNotFitABufferPlaysWithoutAPhaseJump)
{
    // 997 Hz at 48 kHz repeats whole only after 48000 frames: a loop cut shorter jumps
    // in phase at every join, which read -71.5 dB of THD+N on the ideal wire.
    for (const char* hz : {"997", "1000"}) {
        const SpectrumResult r =
            RunSpectrum(std::string("--tone ") + hz + ":-1 --thd --rate 48000 --bits 24 --points 65536 --window 8");
        ASSERT_EQ(r.status, 0);
        const double thd = std::atof(r.resultLine.c_str() + r.resultLine.find("Hz ") + 3);
        EXPECT_LT(thd, -130.0) << hz << " Hz: " << r.resultLine;
    }
}

TEST(SpectrumCommand, LevelLineSeparatorFileAndPicture)
{
    testing::TempDir dir;
    const std::string txt = dir.File("table.txt");
    const std::string png = dir.File("diagram.png");
    const SpectrumResult r =
        RunSpectrum("--tone 1000 --level --sep ';' --points 1024 --average 3 --out '" + txt + "' --png '" + png + "'");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.lines.empty());  // the table went to the file
    EXPECT_EQ(r.resultLine.rfind("Level:  LI ", 0), 0u) << r.resultLine;
    EXPECT_NE(r.resultLine.find("dB   Filter: none"), std::string::npos) << r.resultLine;
    std::ifstream t(txt);
    std::string first;
    std::getline(t, first);
    EXPECT_EQ(Fields(first, ';').size(), 3u) << first;
    std::ifstream p(png, std::ios::binary);
    char magic[8] = {};
    p.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

/// Writes a mono 16-bit wave file of `frames` frames: 0.5 at 1 kHz plus h3 at 3 kHz.
void WriteToneWave(const std::string& path, int frames, double h3)
{
    auto u32 = [](std::ofstream& o, std::uint32_t v) { o.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](std::ofstream& o, std::uint16_t v) { o.write(reinterpret_cast<const char*>(&v), 2); };
    std::ofstream o(path, std::ios::binary);
    o.write("RIFF", 4);
    u32(o, 36 + 2 * static_cast<std::uint32_t>(frames));
    o.write("WAVEfmt ", 8);
    u32(o, 16);
    u16(o, 1);
    u16(o, 1);
    u32(o, 44100);
    u32(o, 88200);
    u16(o, 2);
    u16(o, 16);
    o.write("data", 4);
    u32(o, 2 * static_cast<std::uint32_t>(frames));
    for (int n = 0; n < frames; ++n) {
        const double w = 2.0 * 3.14159265358979323846 * n / 44100.0;
        const double x = 0.5 * std::sin(1000.0 * w) + h3 * std::sin(3000.0 * w);
        u16(o, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(x * 32767.0))));
    }
}

TEST(SpectrumCommand, WaveFileInputIsAnalysedLikeARecording)
{
    testing::TempDir dir;
    const std::string wav = dir.File("tone.wav");
    WriteToneWave(wav, 20000, 0.005);  // 1 % third harmonic
    const SpectrumResult r = RunSpectrum("--input '" + wav + "' --thd --points 4096 --window 4 --average 4");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.lines.size(), 2048u);
    ASSERT_EQ(r.resultLine.rfind("THD+N:  LI ", 0), 0u) << r.resultLine;
    const double left = std::atof(r.resultLine.c_str() + r.resultLine.find("Hz ") + 3);
    EXPECT_NEAR(left, -40.0, 0.05) << r.resultLine;  // 1 % reads -40.0 dB
    // A mono file feeds both channels alike.
    const std::size_t re = r.resultLine.find(" |  RE ");
    ASSERT_NE(re, std::string::npos);
    EXPECT_EQ(r.resultLine.substr(11, re - 11), r.resultLine.substr(re + 7, re - 11)) << r.resultLine;
}

/// Writes a stereo 24-bit wave file at 96 kHz: 997 Hz at -1 dBFS plus white noise of RMS
/// noiseDb on both channels (the same on both). Returns the THD+N an ideal analyser reads
/// in the band 100 .. 20000 Hz and the mean power of the noise as written (quantised).
struct NoisyTone {
    double thdnDb = 0.0;
    double noisePower = 0.0;
};
NoisyTone WriteNoisyTone96(const std::string& path, int frames, double noiseDb)
{
    auto u32 = [](std::ofstream& o, std::uint32_t v) { o.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](std::ofstream& o, std::uint16_t v) { o.write(reinterpret_cast<const char*>(&v), 2); };
    const double rate = 96000.0;
    std::ofstream o(path, std::ios::binary);
    const auto bytes = static_cast<std::uint32_t>(frames) * 6u;
    o.write("RIFF", 4);
    u32(o, 36 + bytes);
    o.write("WAVEfmt ", 8);
    u32(o, 16);
    u16(o, 1);
    u16(o, 2);
    u32(o, 96000);
    u32(o, 96000 * 6);
    u16(o, 6);
    u16(o, 24);
    o.write("data", 4);
    u32(o, bytes);
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0.0, std::pow(10.0, noiseDb / 20.0));
    const double amplitude = std::pow(10.0, -1.0 / 20.0);
    const double full = 8388608.0;
    double tonePower = 0.0, noisePower = 0.0;
    for (int n = 0; n < frames; ++n) {
        const double t = amplitude * std::sin(2.0 * 3.14159265358979323846 * 997.0 * n / rate);
        const auto v = static_cast<std::int32_t>(std::lround((t + noise(rng)) * full));
        const double e = v / full - t;  // the noise as written
        tonePower += t * t;
        noisePower += e * e;
        for (int c = 0; c < 2; ++c) o.write(reinterpret_cast<const char*>(&v), 3);  // little-endian
    }
    tonePower /= frames;
    noisePower /= frames;
    // White noise holds its power evenly from 0 to half the rate.
    const double inBand = noisePower * (20000.0 - 100.0) / (rate / 2.0);
    return {10.0 * std::log10(inBand / (tonePower + noisePower)), noisePower};
}

TEST(SpectrumCommand, NoiseFloorAndThdNOfA24BitFileAt96kHzWith65536Points)
{
    // -130 dBFS of noise under a -1 dBFS tone, 16 averages of 65536 points through
    // "Rife-Vinc3" (whose leakage lies far below the noise): THD+N within 0.5 dB of the
    // samples' own ratio, and the mean power of the bins from 5 to 15 kHz within 1 dB of
    // what the noise leaves in a bin: 4 * ENBW / N of its power on the scale where a sine's
    // peak bin reads its amplitude.
    testing::TempDir dir;
    const std::string wav = dir.File("f96.wav");
    constexpr int n = 65536;
    const NoisyTone ref = WriteNoisyTone96(wav, 16 * n + 1000, -130.0);
    const SpectrumResult r = RunSpectrum("--input '" + wav + "' --thd --points 65536 --average 16 --window 8");
    ASSERT_EQ(r.status, 0) << r.resultLine;
    ASSERT_EQ(r.lines.size(), static_cast<std::size_t>(n / 2));
    const double thdn = std::atof(r.resultLine.c_str() + r.resultLine.find("Hz ") + 3);
    EXPECT_NEAR(thdn, ref.thdnDb, 0.5) << r.resultLine << " reference " << ref.thdnDb;
    double power = 0.0;
    int bins = 0;
    for (const std::string& line : r.lines) {
        const std::vector<double> f = Fields(line, ',');
        if (f[0] >= 5000.0 && f[0] <= 15000.0) {
            const double m = std::exp((f[1] - 12.6) / 8.722);  // back from the default scale
            power += 16.0 * m * m;
            ++bins;
        }
    }
    const double enbw = 2.6265306;  // of Rife-Vinc3, from its coefficients
    const double expected = 10.0 * std::log10(ref.noisePower * 4.0 * enbw / n);
    EXPECT_NEAR(10.0 * std::log10(power / bins), expected, 1.0) << bins;
}

TEST(SpectrumCommand, ShortMissingOrBrokenWaveFilesAreFailures)
{
    testing::TempDir dir;
    const std::string wav = dir.File("short.wav");
    WriteToneWave(wav, 3000, 0.0);
    EXPECT_EQ(RunSpectrum("--input '" + wav + "' --points 4096").status, 1);
    EXPECT_EQ(RunSpectrum("--input '" + dir.File("absent.wav") + "'").status, 1);
    const std::string text = dir.File("text.wav");
    std::ofstream(text) << "not a wave file\n";
    EXPECT_EQ(RunSpectrum("--input '" + text + "'").status, 1);
    EXPECT_EQ(RunSpectrum("--input '" + wav + "' --tone 1000").status, 2);
}

double LeftLevel(const SpectrumResult& r)
{
    EXPECT_EQ(r.resultLine.rfind("Level:  LI ", 0), 0u) << r.resultLine;
    return std::atof(r.resultLine.c_str() + 11);
}

TEST(SpectrumCommand, LevelOfAToneIsTheSameThroughEveryWindow)
{
    const double none = LeftLevel(RunSpectrum("--tone 1000:-12 --level --points 4096 --window 0"));
    for (int window = 1; window < 9; ++window) {
        const SpectrumResult r = RunSpectrum("--tone 1000:-12 --level --points 4096 --window " + std::to_string(window));
        ASSERT_EQ(r.status, 0);
        EXPECT_NEAR(LeftLevel(r), none, 0.1) << r.resultLine;
    }
}

TEST(SpectrumCommand, IecAWeightingTakesNineteenPointOneDecibelsOffAHundredHertzSine)
{
    testing::TempDir dir;
    const std::string wav = dir.File("100hz.wav");
    // 8 kHz: bins of 2 Hz keep the tone's window lobe where the weighting is one value.
    const std::string generate = std::string("'") + SONVERA_CLI + "' generate --wave sin --freq 100 --level-l -10 "
                                 "--level-r -10 --rate 8000 --bits 24 --seconds 3 --out '" + wav + "' 2>/dev/null";
    ASSERT_EQ(std::system(generate.c_str()), 0);
    const std::string common = "--input '" + wav + "' --level --fmin 10 --points 4096 --window 4 --filter ";
    const SpectrumResult weighted = RunSpectrum(common + "'A (IEC 61672)'");
    ASSERT_EQ(weighted.status, 0);
    EXPECT_NE(weighted.resultLine.find("Filter: A (IEC 61672)"), std::string::npos) << weighted.resultLine;
    EXPECT_NEAR(LeftLevel(weighted) - LeftLevel(RunSpectrum(common + "none")), -19.1, 0.1);
}

TEST(SpectrumCommand, UnwritableOutputIsAFailure)
{
    EXPECT_EQ(RunSpectrum("--out /nonexistent-dir/table.txt").status, 1);
}

}  // namespace
}  // namespace sonvera
