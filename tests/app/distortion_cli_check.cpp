// Runs the built sonvera-cli distortion, imd, noise and crosstalk as a user would: on the
// virtual card against its device model, and on generated 24-bit wave files against the
// content they were written with.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/runcommand.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

constexpr double kRate = 48000.0;
constexpr double kBand = (20000.0 - 20.0) / (kRate / 2.0);  // share of white noise in 20 Hz..20 kHz

struct Readings {
    int status = -1;
    std::map<std::string, std::string> values;  // "right.thd_db" -> "-60.22"
    std::string output;
    double operator[](const std::string& key) const
    {
        const auto it = values.find(key);
        return it == values.end() ? NAN : std::atof(it->second.c_str());
    }
};

Readings RunCli(const std::string& arguments)
{
    testing::TempDir dir;
    const testing::CommandResult r = testing::RunCommand(std::string("'") + SONVERA_CLI + "' --config '" +
                                                         dir.File("absent.cfg") + "' " + arguments + " 2>/dev/null");
    Readings out;
    out.status = r.status;
    out.output = r.output;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t blank = line.rfind(' ');  // "KEY VALUE", "# KEY VALUE", "left.status no signal"
        const std::size_t split = line.rfind("no signal") != std::string::npos ? line.find(' ') : blank;
        if (split != std::string::npos) {
            out.values[line.substr(0, split)] = line.substr(split + 1);
        }
    }
    return out;
}

double Db(double powerRatio) { return 10.0 * std::log10(powerRatio); }

/// One channel of a generated file: sines (frequency, amplitude) at random phases plus
/// white Gaussian noise; `tone` is how many of the first sines are the signal (the rest
/// is distortion). Holds the written samples (24-bit) and what they hold in the band.
struct Channel {
    std::vector<std::pair<double, double>> sines;
    double noiseDb = -300.0;
    std::size_t tone = 1;
    std::vector<double> written;
    double signalPower = 0.0;   // mean square of the signal sines
    double restPower = 0.0;     // of the rest in the band: distortion sines + the band's share of the error
    void Make(std::size_t frames, unsigned seed)
    {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
        std::normal_distribution<double> noise(0.0, std::pow(10.0, noiseDb / 20.0));
        std::vector<double> phases;
        for (std::size_t k = 0; k < sines.size(); ++k) phases.push_back(phase(rng));
        written.resize(frames);
        double errorPower = 0.0;
        for (std::size_t n = 0; n < frames; ++n) {
            double clean = 0.0;
            for (std::size_t k = 0; k < sines.size(); ++k) {
                clean += sines[k].second * std::sin(2.0 * std::numbers::pi * sines[k].first * n / kRate + phases[k]);
            }
            written[n] = std::nearbyint((clean + noise(rng)) * 8388608.0) / 8388608.0;
            errorPower += (written[n] - clean) * (written[n] - clean);
        }
        for (std::size_t k = 0; k < sines.size(); ++k) {
            (k < tone ? signalPower : restPower) += sines[k].second * sines[k].second / 2.0;
        }
        restPower += errorPower / frames * kBand;  // white: its share of the band
    }
};

void WriteStereo24(const std::string& path, const Channel& left, const Channel& right)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(kRate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<int> frames;
    for (std::size_t n = 0; n < left.written.size(); ++n) {
        for (const Channel* c : {&left, &right}) {
            frames.push_back(static_cast<int>(std::lround(c->written[n] * 8388608.0)) * 256);  // left-justified
        }
    }
    const auto count = static_cast<sf_count_t>(left.written.size());
    ASSERT_EQ(sf_writef_int(f, frames.data(), count), count);
    sf_close(f);
}

const std::string kVirtual = "--audio virtual --dut ";

TEST(DistortionCommands, VirtualCardReadsItsDeviceModel)
{
    // The card's device: y = x + 2·h2·x² + 4·h3·x³, so a sine of amplitude A gains harmonics
    // h2·A² and h3·A³ over a fundamental of A (1 + 3·h3·A²): re the fundamental h2·A and
    // h3·A² (the correction 3·h3·A² is 0.01 dB). Its noise is white, RMS re full scale 1.0.
    const double a = std::pow(10.0, -1.0 / 20.0);
    const double h2 = 20.0 * std::log10(0.001 * a), h3 = 20.0 * std::log10(0.0005 * a * a);
    const Readings d = RunCli(kVirtual + "h2=0.001,h3=0.0005,noise=-120 distortion --points 65536 --rate 48000 --bits 24");
    ASSERT_EQ(d.status, 0) << d.output;
    // -60 dB of tone: the dynamic range is 60 dB plus what the band's noise leaves below
    // a -60 dB sine (its RMS is 3.01 dB below its amplitude).
    const double idle = -110.0 + Db(kBand);
    const Readings n = RunCli(kVirtual + "noise=-110 noise --rate 48000 --bits 24");
    ASSERT_EQ(n.status, 0) << n.output;
    const Readings x = RunCli(kVirtual + "xtalk=-90,noise=-110 crosstalk --freq 1000 --rate 48000 --bits 24");
    ASSERT_EQ(x.status, 0) << x.output;
    const struct {
        const Readings& run;
        const char* key;
        double expected, tolerance;
    } cases[] = {
        {d, "right.fundamental_hz", 997.0, 0.005},
        {d, "right.fundamental_dbfs", -1.0, 0.02},
        {d, "right.h2_dbc", h2, 0.2},
        {d, "right.h3_dbc", h3, 0.2},
        {d, "right.thd_db", 10.0 * std::log10(std::pow(10.0, h2 / 10.0) + std::pow(10.0, h3 / 10.0)), 0.2},
        {d, "right.noise_dbfs", -120.0 + Db(kBand), 1.0},
        {d, "left.thd_db", -140.0, 40.0},  // the wire: nothing but the samples' rounding
        {n, "right.noise_dbfs", idle, 0.5},
        {n, "right.dynamic_range_db", 60.0 - (idle - (-60.0 + Db(0.5))), 0.5},
        {n, "right.snr_db", Db(0.5) - idle, 0.5},
        {x, "left_to_right_db", -90.0, 0.2},
        {x, "right_to_left_db", -90.0, 0.2},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(c.run[c.key], c.expected, c.tolerance) << c.key;
    }
    // Above the band a harmonic is not measured; on its own the card's inputs do not cross
    // at all, and the reading is the floor the noise sets, never a number.
    EXPECT_EQ(RunCli(kVirtual + "gain=0 distortion --tone 5000 --rate 48000").values.at("left.h5_dbc"), "nan");
    // With every harmonic above the band there is no THD, never a perfect -192 dB.
    const Readings high = RunCli(kVirtual + "gain=0 distortion --tone 15000 --rate 48000");
    EXPECT_EQ(high.values.at("left.thd_db"), "nan") << high.output;
    EXPECT_EQ(high.values.at("left.thd_pct"), "nan") << high.output;
    const Readings silent = RunCli(kVirtual + "noise=-110 crosstalk --freq 1000 --rate 48000");
    EXPECT_EQ(silent.values.at("left_to_right_db").substr(0, 2), "<-") << silent.output;
    // THD+N passes 1 % where h3·A² does: between -3 dB (0.95 %) and -2 dB (1.20 %).
    const std::string levels = " levelsweep --from -6 --to 0 --step 1 --points 16384";
    EXPECT_EQ(RunCli(kVirtual + "h3=0.019" + levels).values.at("# max_level_dbfs"), "-2.00");
    EXPECT_EQ(RunCli(kVirtual + "h3=0.001" + levels).values.at("# max_level_dbfs"), "nan");
}

TEST(DistortionCommands, GeneratedFilesReadTheirContent)
{
    // 4 blocks of 65536 frames at 48 kHz, 24 bits: a -1 dB tone at 997 Hz with H2 and H3
    // over noise, down to a THD+N of -110 dB.
    constexpr std::size_t kFrames = 4 * 65536;
    struct Case {
        double h2, h3, noiseDb;
    };
    const Case cases[][2] = {{{3e-3, 1e-3, -90.0}, {1e-5, 0.0, -111.5}},
                             {{0.0, 2e-5, -120.0}, {1e-6, 1e-6, -114.0}}};
    testing::TempDir dir;
    for (const auto& pair : cases) {
        Channel channels[2];
        for (int c = 0; c < 2; ++c) {
            const double a = std::pow(10.0, -1.0 / 20.0);
            channels[c].sines = {{997.0, a}, {1994.0, pair[c].h2 * a}, {2991.0, pair[c].h3 * a}};
            channels[c].noiseDb = pair[c].noiseDb;
            channels[c].Make(kFrames, 11u + static_cast<unsigned>(c));
        }
        const std::string wav = dir.File("tone.wav");
        WriteStereo24(wav, channels[0], channels[1]);
        const Readings r = RunCli("distortion --input '" + wav + "' --average 4");
        ASSERT_EQ(r.status, 0) << r.output;
        for (int c = 0; c < 2; ++c) {
            const Channel& ch = channels[c];
            const std::string name = c == 0 ? "left." : "right.";
            const double harmonics = (ch.sines[1].second * ch.sines[1].second + ch.sines[2].second * ch.sines[2].second) / 2;
            const double thdn = Db(ch.restPower / (ch.signalPower + ch.restPower));
            EXPECT_NEAR(r[name + "thdn_db"], thdn, 0.1) << name;
            EXPECT_NEAR(r[name + "sinad_db"], -thdn, 0.1) << name;
            EXPECT_NEAR(r[name + "enob_bits"], (-thdn - 1.76) / 6.02, 0.02) << name;
            if (harmonics > 1e-13) {  // THD where the harmonics stand above the noise
                EXPECT_NEAR(r[name + "thd_db"], Db(harmonics / ch.signalPower), 0.1) << name;
            }
        }
    }

    // Two-tone files with known products: SMPTE (60 Hz + 7 kHz at 4:1, sidebands at 7 kHz ± n·60 Hz)
    // and CCIF (19 + 20 kHz at 1:1, products at 1, 18 and 21 kHz).
    const double p = std::pow(10.0, -1.0 / 20.0);
    Channel smpte, ccif;
    const double b = 0.2 * p;
    smpte.sines = {{60.0, 0.8 * p}, {7000.0, b}, {6940.0, 1e-3 * b}, {7060.0, 2e-3 * b}, {6880.0, 3e-4 * b},
                   {7120.0, 5e-4 * b}, {6820.0, 1e-4 * b}, {7180.0, 1e-4 * b}};
    smpte.noiseDb = -130.0;
    ccif.sines = {{19000.0, 0.5 * p}, {20000.0, 0.5 * p}, {1000.0, 1e-4 * p}, {18000.0, 2e-5 * p}, {21000.0, 3e-5 * p}};
    ccif.noiseDb = -130.0;
    smpte.Make(65536, 3);
    ccif.Make(65536, 4);
    const std::string wav = dir.File("two.wav");
    WriteStereo24(wav, smpte, ccif);
    const Readings s = RunCli("imd --standard smpte --input '" + wav + "'");
    const Readings c = RunCli("imd --standard ccif --input '" + wav + "'");
    double sidebands = 0.0;
    for (std::size_t k = 2; k < smpte.sines.size(); ++k) sidebands += smpte.sines[k].second * smpte.sines[k].second;
    EXPECT_NEAR(s["left.imd_db"], Db(sidebands / (b * b)), 0.2) << s.output;
    EXPECT_NEAR(s["left.imd_pct"], 100.0 * std::sqrt(sidebands) / b, 0.003 * 100.0 * std::sqrt(sidebands) / b);
    EXPECT_NEAR(c["right.d2_db"], 20.0 * std::log10(1e-4 * p / p), 0.2) << c.output;
    EXPECT_NEAR(c["right.d3_db"], 20.0 * std::log10(5e-5 * p / p), 0.2) << c.output;
}

TEST(DistortionCommands, BadValuesFailuresAndSilentChannels)
{
    for (const char* args : {"distortion --tone 0", "distortion --harmonics 1", "distortion --bandwidth 30k",
                             "distortion --bandwidth 500:400", "distortion --weighting B", "distortion --points 1000",
                             "distortion --input x.wav --tone 1000", "imd", "imd --standard itu",
                             "imd --standard smpte --level 3", "noise --weighting C", "noise --bandwidth 80k",
                             "crosstalk --freq 1000 --steps 3", "crosstalk --from 100 --to 50 --steps 2",
                             "crosstalk --from 100", "distortion --bogus"}) {
        EXPECT_EQ(RunCli(kVirtual + "gain=0 " + args).status, 2) << args;
    }
    testing::TempDir dir;
    EXPECT_EQ(RunCli("distortion --input '" + dir.File("absent.wav") + "'").status, 1);
    Channel silence, tone;
    tone.sines = {{1000.0, 0.5}};
    silence.Make(65536, 1);
    tone.Make(65536, 2);
    const std::string wav = dir.File("half.wav");
    WriteStereo24(wav, silence, tone);
    EXPECT_EQ(RunCli("distortion --input '" + wav + "' --points 131072").status, 1);  // too short
    const Readings r = RunCli("distortion --input '" + wav + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.values.at("left.status"), "no signal") << r.output;
    EXPECT_EQ(r.values.count("left.thd_db"), 0u);
    EXPECT_EQ(RunCli("imd --standard ccif --input '" + wav + "'").status, 1);  // neither channel holds both tones
}

}  // namespace
}  // namespace sonvera
