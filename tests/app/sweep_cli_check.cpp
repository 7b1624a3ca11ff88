// Runs the built sonvera-cli "sweep" and "generate" as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <sndfile.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "config/sections.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

struct CliResult {
    int status = -1;
    std::vector<std::string> lines;
    std::vector<std::string> notes;  // the '# ' lines
};

CliResult RunCli(const std::string& arguments)
{
    CliResult r;
    const std::string cmd = std::string("'") + SONVERA_CLI + "' " + arguments + " 2>/dev/null";
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
        if (line.rfind("# ", 0) == 0) {  // notes such as clipping are not points
            r.notes.push_back(line);
        } else if (!line.empty()) {
            r.lines.push_back(line);
        }
    }
    return r;
}

CliResult RunSweep(const std::string& dut, const std::string& arguments)
{
    testing::TempDir dir;
    return RunCli("--audio virtual --dut '" + dut + "' --config '" + dir.File("absent.cfg") + "' sweep " + arguments);
}

std::vector<double> Fields(const std::string& line, char sep = ',')
{
    std::vector<double> v;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, sep)) {
        v.push_back(std::atof(field.c_str()));
    }
    return v;
}

/// 2nd-order Butterworth low-pass through the bilinear transform with the corner
/// prewarped, as the virtual card's device under test has it.
std::complex<double> LowPass(double f, double corner, double fs)
{
    const std::complex<double> s(0.0, std::tan(std::numbers::pi * f / fs) / std::tan(std::numbers::pi * corner / fs));
    return 1.0 / (s * s + std::numbers::sqrt2 * s + 1.0);
}

TEST(SweepCommand, BadOptionsAreRefusedWithUsageStatus)
{
    for (const char* args : {"--steps 0", "--steps 1001", "--from 0", "--to 60000", "--from 500 --to 400",
                             "--lin --log", "--ref --stereo", "--stereo --phase", "--level 1", "--level x",
                             "--settle -1", "--lang F", "--bogus", "--in-device 3", "--out"}) {
        EXPECT_EQ(RunSweep("gain=0", args).status, 2) << args;
    }
}

/// True when every line holds the response of a low-pass at `corner` (gain in dB) at the
/// card's rate, level within 0.05 dB and phase within 0.5 degree; the rate is not
/// printed, so either standard rate of the card's default may be the one.
bool FollowsLowPass(const CliResult& r, double corner, double gainDb)
{
    for (double fs : {44100.0, 48000.0}) {
        bool all = !r.lines.empty();
        for (const std::string& line : r.lines) {
            const auto v = Fields(line);
            const auto h = std::pow(10.0, gainDb / 20.0) * LowPass(v[0], corner, fs);
            all = all && v.size() == 3 && std::fabs(v[1] - 20 * std::log10(std::abs(h))) < 0.05 &&
                  std::fabs(v[2] - std::arg(h) * 180 / std::numbers::pi) < 0.5;
        }
        if (all) {
            return true;
        }
    }
    return false;
}

TEST(SweepCommand, ReferenceSweepPrintsTheResponseOfTheDeviceUnderTest)
{
    const CliResult r = RunSweep("gain=-6,lp=3000", "--from 100 --to 10000 --steps 8 --log --phase --level -6");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 9u);
    for (int k = 0; k <= 8; ++k) {
        EXPECT_DOUBLE_EQ(Fields(r.lines[static_cast<std::size_t>(k)])[0], std::nearbyint(100.0 * std::pow(100.0, k / 8.0)));
    }
    EXPECT_TRUE(FollowsLowPass(r, 3000, -6)) << r.lines[4];
    // Lags shorter than a sample read as lags: -0.85 degrees at 1 kHz through 20 kHz.
    const CliResult small = RunSweep("lp=20000,noise=-200", "--from 1000 --to 8000 --steps 3 --log --phase --level -6");
    ASSERT_EQ(small.status, 0);
    EXPECT_TRUE(FollowsLowPass(small, 20000, 0)) << small.lines[0];
    EXPECT_LT(Fields(small.lines[0])[2], 0.0);
}

TEST(SweepCommand, ASilentDeviceReadsNothingWithoutPhaseAndSaysSoInACommentLine)
{
    const CliResult r = RunSweep("gain=-100", "--from 100 --to 1000 --steps 2 --log --phase --level -6 --lang E");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], "100.00,-192.00,nan");
    EXPECT_EQ(r.lines[2], "1000.00,-192.00,nan");
    EXPECT_EQ(r.notes, std::vector<std::string>{"# Input without signal at 3 of 3 steps"});
}

TEST(SweepCommand, DistortionAddsTheSixReadingsUnderAHeaderAndNanAboveTheBand)
{
    const CliResult r = RunSweep("h2=0.001", "--from 1000 --to 8000 --steps 1 --log --phase --level -1 --distortion");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.notes, std::vector<std::string>{"# hz,ratio_db,phase_deg,thd_db,thdn_db,h2_db,h3_db,h4_db,h5_db"});
    ASSERT_EQ(r.lines.size(), 2u);
    for (const std::string& line : r.lines) {
        EXPECT_EQ(Fields(line).size(), 9u) << line;
    }
    // 8 kHz: H2 at 16 kHz lies in the band, H3..H5 above 20 kHz do not.
    EXPECT_NEAR(Fields(r.lines[1])[5], 20.0 * std::log10(0.001 * std::pow(10.0, -1.0 / 20.0)), 0.2) << r.lines[1];
    EXPECT_EQ(r.lines[1].substr(r.lines[1].size() - 12), ",nan,nan,nan") << r.lines[1];
}

TEST(SweepCommand, StereoPrintsRightThenLeftLevelWithTheChosenSeparator)
{
    testing::TempDir dir;
    const std::string png = dir.File("sweep.png");
    const CliResult r =
        RunSweep("gain=-10", "--stereo --lin --from 100 --to 1000 --steps 3 --sep ';' --png '" + png + "'");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 4u);
    const double expectedFreq[] = {100, 400, 700, 1000};
    for (int k = 0; k < 4; ++k) {
        const auto v = Fields(r.lines[static_cast<std::size_t>(k)], ';');
        ASSERT_EQ(v.size(), 3u);
        EXPECT_EQ(v[0], expectedFreq[k]);
        EXPECT_NEAR(v[1], -10.0, 0.1);
        EXPECT_NEAR(v[2], 0.0, 0.1);
    }
    ASSERT_TRUE(std::filesystem::exists(png));
    EXPECT_GT(std::filesystem::file_size(png), 1000u);
}

struct WaveData {
    SF_INFO info{};
    std::vector<int> samples;  // interleaved left, right, full 32-bit scale
};

bool ReadWave(const std::string& path, WaveData& w)
{
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &w.info);
    if (f == nullptr) {
        return false;
    }
    w.samples.resize(static_cast<std::size_t>(w.info.frames) * static_cast<std::size_t>(w.info.channels));
    const sf_count_t got = sf_readf_int(f, w.samples.data(), w.info.frames);
    sf_close(f);
    return got == w.info.frames;
}

/// The buffer the playback engine loops for params, as 32-bit-scale integers.
std::vector<int> EngineLoop(const GeneratorParams& params, int rate, int bits)
{
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    SoundEngine engine(card);
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(in, out, formats);
    EXPECT_EQ(engine.InitSoundEngine(), 0);
    SetDeviceFormat(engine.OutDeviceFormats()[0], bits, false, static_cast<std::uint32_t>(rate));
    EXPECT_EQ(engine.StartPlayback(params.frequencyHz, -1, params), 0);
    const int bytes = bits == 8 ? 1 : bits == 16 ? 2 : 4;
    const std::size_t values = engine.PlaybackLength() / static_cast<std::size_t>(bytes);
    std::vector<int> v(values - values % 2);
    for (std::size_t i = 0; i < v.size(); ++i) {
        const char* p = engine.PlaybackBuffer() + i * static_cast<std::size_t>(bytes);
        if (bits == 8) {
            v[i] = (static_cast<unsigned char>(*p) - 128) * (1 << 24);
        } else if (bits == 16) {
            std::int16_t s = 0;
            std::memcpy(&s, p, 2);
            v[i] = s * (1 << 16);
        } else {
            std::int32_t s = 0;
            std::memcpy(&s, p, 4);
            v[i] = s & ~0xFF;  // the file keeps 24 bits
        }
    }
    engine.StopPlayback();
    engine.ShutdownSoundEngine();
    return v;
}

TEST(GenerateCommand, SineFileIsTheAnalyticSineThroughoutWithLevelsAndPhases)
{
    // 997 Hz has no whole period in one device buffer: the file must hold no phase step.
    testing::TempDir dir;
    const std::string path = dir.File("sine.wav");
    const CliResult r = RunCli("generate --wave sin --freq 997 --level-l -6 --level-r 0 --phase-r 90 --rate 48000 "
                               "--bits 16 --seconds 0.5 --out '" + path + "'");
    ASSERT_EQ(r.status, 0);
    WaveData w;
    ASSERT_TRUE(ReadWave(path, w));
    EXPECT_EQ(w.info.channels, 2);
    EXPECT_EQ(w.info.samplerate, 48000);
    EXPECT_EQ(w.info.frames, 24000);
    EXPECT_EQ(w.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    // Independent of the generator: the analytic sine within two steps of 16 bits (full scale 32767 read
    // over 32768), every frame.
    for (int j = 0; j < 24000; ++j) {
        const double t = 2 * std::numbers::pi * 997.0 * j / 48000.0;
        const double left = w.samples[2 * static_cast<std::size_t>(j)] / 2147483648.0;
        const double right = w.samples[2 * static_cast<std::size_t>(j) + 1] / 2147483648.0;
        ASSERT_NEAR(left, std::pow(10.0, -6.0 / 20.0) * std::sin(t), 1.0 / 16384) << j;
        ASSERT_NEAR(right, std::cos(t), 1.0 / 16384) << j;
    }
}

TEST(GenerateCommand, NoiseInEightAndTwentyFourBitsRepeatsTheEngineBuffer)
{
    for (int bits : {8, 24}) {
        testing::TempDir dir;
        const std::string path = dir.File("noise.wav");
        const CliResult r = RunCli("generate --wave white --level-l -3 --level-r -20 --rate 8000 --bits " +
                                   std::to_string(bits) + " --seconds 10 --out '" + path + "'");
        ASSERT_EQ(r.status, 0) << bits;
        WaveData w;
        ASSERT_TRUE(ReadWave(path, w));
        EXPECT_EQ(w.info.frames, 80000);
        EXPECT_EQ(w.info.format & SF_FORMAT_SUBMASK, bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_24);
        GeneratorParams p;
        p.waveform = kWaveWhiteNoise;
        p.levelLeftDb = -3;
        p.levelRightDb = -20;
        const std::vector<int> loop = EngineLoop(p, 8000, bits);
        ASSERT_FALSE(loop.empty());
        ASSERT_LT(loop.size(), w.samples.size());  // the file holds the buffer more than once
        for (std::size_t i = 0; i < w.samples.size(); ++i) {
            ASSERT_EQ(w.samples[i], loop[i % loop.size()]) << bits << " bits, value " << i;
        }
    }
}

TEST(GenerateCommand, BadOptionsAndUnwritableFilesFail)
{
    testing::TempDir dir;
    const std::string out = " --out '" + dir.File("x.wav") + "'";
    for (const std::string& args : std::vector<std::string>{"--wave sin --seconds 1", "--wave saw --seconds 1" + out, "--wave sin" + out,
                                   "--wave sin --seconds 0" + out, "--wave sin --seconds 4000" + out,
                                   "--wave sin --bits 12 --seconds 1" + out, "--wave sin --level-l 3 --seconds 1" + out,
                                   "--wave sin --freq 30000 --rate 44100 --seconds 1" + out,
                                   "--wave sin --rate 500 --seconds 1" + out}) {
        EXPECT_EQ(RunCli("generate " + args).status, 2) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.wav")));
    EXPECT_EQ(RunCli("generate --wave sin --seconds 1 --out '" + dir.File("no/such/dir.wav") + "'").status, 1);
}

}  // namespace
}  // namespace sonvera
