// The log sweep on the virtual card against the analytic response of its device under
// test: level, phase and delay through filters, harmonics through the nonlinearity; a
// silent input; STOP.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/soundengine.h"
#include "measure/logsweeprun.h"
#include "measure/prompt.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

/// Keeps the points, ranges and texts the run hands to the diagram.
class Diagram : public SweepDiagram {
public:
    bool PrepareDiagram(const std::string&, int last, int, int, float&, float&) override
    {
        lastIndex = last;
        return false;
    }
    void ClearDiagramData() override {}
    void ResetDiagramScales() override {}
    void SetCurvesShown(bool, bool) override {}
    void SetAxesShown(bool, bool) override {}
    void SetLevelRange(float, float) override {}
    void SetSecondRange(float, float) override {}
    void GetLevelRange(float&, float&) const override {}
    bool StoreDiagramPoint(const float* v, int, int index, float) override
    {
        stored = std::max(stored, index + 1);
        curve2.resize(static_cast<std::size_t>(stored));
        curve2[static_cast<std::size_t>(index)] = v[1];
        return false;
    }
    void SetResultLine(const std::string& t) override { resultLine = t; }
    std::string GetComment() const override { return {}; }
    void Repaint() override {}
    void Show(bool) override {}
    void SetSecondAxis(const std::string& u, bool wrap) override { unit = u, wrapped = wrap; }

    int lastIndex = -1, stored = 0;
    std::vector<float> curve2;
    std::string resultLine, unit;
    bool wrapped = false;
};

class Prompts : public PromptService {
public:
    Prompts() { previous = SetPromptService(this); }
    ~Prompts() override { SetPromptService(previous); }
    void Show(const Prompt& p) override { texts.push_back(p.text); }
    std::vector<std::string> texts;
    PromptService* previous = nullptr;
};

/// An engine on the virtual card at 48 kHz (or `rateHz`), 16 bits (or `bits`), full output volume.
struct Bench {
    explicit Bench(const DutConfig& dut, LoopbackClock clock = LoopbackClock::Instant, int rateHz = 48000,
                   int bits = 16)
        : card(dut, clock)
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        engine.InitSoundEngine();
        engine.SetOutputVolume(100);
        engine.SetSampleRates(rateHz, rateHz);
        engine.SetFormatBits(bits, bits);
        run.SetLanguage('E');
    }
    ~Bench() { engine.ShutdownSoundEngine(); }

    LoopbackCard card;
    SoundEngine engine{card};
    test::QueuePort port{engine};
    LogSweepSettings settings;  // 20 Hz .. 20 kHz, 3 s, -6 dB, with reference
    Diagram diagram;
    LogSweepView view;
    LogSweepRun run{engine, settings, diagram, view};
};

/// The card's device under test: a 2nd-order Butterworth high-pass and low-pass, each
/// the analog prototype 1/(s^2 + sqrt2 s + 1) (s^2/(...) for the high-pass) at the
/// frequency the bilinear transform warps f to, tan(pi f/fs) / tan(pi fc/fs).
std::complex<double> Butterworth(double f, double fs, double highHz, double lowHz)
{
    using C = std::complex<double>;
    const auto s = [&](double fc) { return C(0.0, std::tan(std::numbers::pi * f / fs) / std::tan(std::numbers::pi * fc / fs)); };
    const C sh = s(highHz), sl = s(lowHz);
    return sh * sh / (sh * sh + std::numbers::sqrt2 * sh + 1.0) / (sl * sl + std::numbers::sqrt2 * sl + 1.0);
}

TEST(LogSweepRun, LevelPhaseAndDelayThroughFiltersMatchTheAnalyticResponse)
{
    DutConfig dut;
    dut.highPassHz = 100;
    dut.lowPassHz = 5000;
    dut.delaySamples = 37;
    Bench b(dut);
    ASSERT_TRUE(b.run.Start());
    b.port.Pump();
    ASSERT_TRUE(b.run.HasResult());
    const LogSweepResult& r = b.run.Result();
    EXPECT_NEAR(r.DelaySamples(), 37.0, 0.1);
    int checked = 0;
    for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
        const double f = r.freqHz[i];
        if (f < 30.0 || f > 18000.0) {
            continue;
        }
        const std::complex<double> h = Butterworth(f, 48000.0, 100.0, 5000.0);
        EXPECT_NEAR(r.right.levelDb[i], 20.0 * std::log10(std::abs(h)), 0.05) << f << " Hz";
        EXPECT_NEAR(std::remainder(r.right.phaseDeg[i] - std::arg(h) * 180.0 / std::numbers::pi, 360.0), 0.0, 0.5)
            << f << " Hz";
        ++checked;
    }
    EXPECT_EQ(checked, 443);  // points 29 .. 471 of 20 Hz * 2^(i/48)
    EXPECT_EQ(b.diagram.stored, static_cast<int>(r.freqHz.size()));
    EXPECT_EQ(b.diagram.unit, "\u00B0");
    EXPECT_TRUE(b.diagram.wrapped);
    EXPECT_EQ(b.diagram.resultLine.rfind("Delay 37.0 samples (0.771 ms), band 20 - 20000 Hz, window ", 0), 0u)
        << b.diagram.resultLine;
}

TEST(LogSweepRun, DelayPhaseAndHarmonicsOfDevicesWithoutPureDelayMatchTheirModel)
{
    // y = x + 2 h2 x^2 + 4 h3 x^3 ahead of the filters: relative to the fundamental at f,
    // the k-th harmonic is hk A^(k-1) |H(k f)| / |H(f)| (A = -6 dB). The bands keep every
    // harmonic the device makes below half the rate (above it, it would alias), except on
    // the card's default device (its usual filters, faint distortion and noise).
    struct Row {
        int rateHz;
        double highHz, lowHz, h2, h3, toHz;
        bool stereo;
        bool defaultDevice = false;
        int bits = 16;
    };
    const DutConfig usual = DefaultDut();
    const Row rows[] = {
        {44100, 10, 20000, 0.0, 0.0, 20000, false},  // the card's usual filters
        {48000, 10, 20000, 0.01, 0.0, 20000, true},  // H2 through them
        {48000, 0, 0, 0.003, 0.0, 20000, false},
        {48000, 0, 0, 0.0, 0.005, 6000, true},        // H3
        // At 24 bits: its noise, not the quantisation, lies under its harmonics.
        {48000, usual.highPassHz, usual.lowPassHz, usual.h2, usual.h3, 20000, false, true, 24},
    };
    const double a = std::pow(10.0, -6.0 / 20.0);
    const auto sweep = [](const DutConfig& dut, const Row& row) {
        auto b = std::make_unique<Bench>(dut, LoopbackClock::Instant, row.rateHz, row.bits);
        b->settings.LogSweepTo = row.toHz;
        b->settings.LogSweepWithRef = !row.stereo;
        EXPECT_TRUE(b->run.Start());
        b->port.Pump();
        EXPECT_TRUE(b->run.HasResult());
        return b;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.rateHz << " Hz, hp " << row.highHz << ", h2 " << row.h2 << ", h3 "
                                        << row.h3 << (row.stereo ? ", stereo" : ", with reference")
                                        << (row.defaultDevice ? ", the default device" : ""));
        DutConfig dut = row.defaultDevice ? usual : DutConfig{};
        dut.highPassHz = row.highHz;
        dut.lowPassHz = row.lowHz;
        dut.h2 = row.h2;
        dut.h3 = row.h3;
        const auto b = sweep(dut, row);
        if (!b->run.HasResult()) {
            continue;
        }
        const LogSweepResult& r = b->run.Result();
        // What the device's noise reads as a harmonic: the same noise on a device with
        // neither filters nor distortion (the noise comes after the filters, the same
        // sequence). A reading lies within that of the harmonic, so the noise n (re the
        // harmonic) widens the limit at a point to 20 lg(1 + n) above and -20 lg(1 - n) below.
        std::unique_ptr<Bench> noiseOnly;
        if (dut.noise) {
            DutConfig twin;
            twin.noise = true;
            twin.noiseDbfs = dut.noiseDbfs;
            noiseOnly = sweep(twin, row);
            ASSERT_TRUE(noiseOnly->run.HasResult());
        }
        EXPECT_NEAR(r.DelaySamples(), 0.0, 0.05);
        if (row.stereo) {
            EXPECT_NEAR(r.left.delaySamples, 0.0, 0.05);
            EXPECT_NE(b->diagram.resultLine.find(", round trip 0.0 samples (0.000 ms)"), std::string::npos)
                << b->diagram.resultLine;
            // Each language's line names the round trip in its own words.
            EXPECT_NE(b->run.ResultLineIn(*LogSweepTextsFor('D')).find(", Umlaufzeit 0.0 Samples (0.000 ms)"),
                      std::string::npos);
        }
        const auto response = [&](double f) {
            return row.highHz > 0 ? Butterworth(f, row.rateHz, row.highHz, row.lowHz) : std::complex<double>(1.0);
        };
        const double hk[] = {row.h2, row.h3 * a};
        for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
            const double f = r.freqHz[i];
            EXPECT_NEAR(std::remainder(r.right.phaseDeg[i] - std::arg(response(f)) * 180.0 / std::numbers::pi, 360.0),
                        0.0, 0.5)
                << f << " Hz";
            for (int k = 2; k <= 3; ++k) {
                const double h = r.right.harmonicDb[static_cast<std::size_t>(k - 2)][i];
                // The device's third harmonic of f aliases to the rate less 3 f; near a fifth
                // of the rate that lies close to 2 f, in the 2nd harmonic's reach: the model
                // without aliasing holds for H2 below 0.3 of the rate.
                if (k * f > row.toHz * (1 + 1e-9) || !(hk[k - 2] > 0.0) ||
                    (k == 2 && row.h3 > 0.0 && 2.0 * f > 0.3 * row.rateHz)) {
                    continue;
                }
                const double model = hk[k - 2] * a * std::abs(response(k * f)) / std::abs(response(f));
                double noise = 0.0;  // re the harmonic
                if (noiseOnly) {
                    noise = std::pow(10.0, noiseOnly->run.Result().right.harmonicDb[static_cast<std::size_t>(k - 2)][i] /
                                               20.0) /
                            std::abs(response(f)) / model;
                }
                const double above = 0.5 + 20.0 * std::log10(1.0 + noise);
                const double below = noise < 1.0 ? 0.5 - 20.0 * std::log10(1.0 - noise) : 1e9;
                EXPECT_LE(h - 20.0 * std::log10(model), above) << "H" << k << " at " << f << " Hz";
                EXPECT_GE(h - 20.0 * std::log10(model), -below) << "H" << k << " at " << f << " Hz";
            }
        }
    }
}

TEST(LogSweepRun, TheNarrowestBandReadsTheLevelOfTheDevice)
{
    DutConfig dut;
    dut.highPassHz = 100;
    dut.lowPassHz = 5000;
    Bench b(dut);
    b.settings.LogSweepFrom = 1000;
    b.settings.LogSweepTo = 1100;
    ASSERT_TRUE(b.run.Start());
    b.port.Pump();
    ASSERT_TRUE(b.run.HasResult());
    const LogSweepResult& r = b.run.Result();
    ASSERT_EQ(r.freqHz.size(), 7u);  // 1000 Hz * 2^(i/48) up to 1100 Hz
    for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
        const std::complex<double> h = Butterworth(r.freqHz[i], 48000.0, 100.0, 5000.0);
        EXPECT_NEAR(r.right.levelDb[i], 20.0 * std::log10(std::abs(h)), 0.05) << r.freqHz[i] << " Hz";
    }
}

TEST(LogSweepRun, ADelayLongerThanTheSweepIsRecordedAndMeasured)
{
    DutConfig dut;
    dut.delaySamples = 5 * 48000;  // the card's device under test says how long
    Bench b(dut);
    b.settings.LogSweepSeconds = 1;
    ASSERT_TRUE(b.run.Start());
    b.port.Pump();
    ASSERT_TRUE(b.run.HasResult());
    EXPECT_NEAR(b.run.Result().DelaySamples(), 5 * 48000, 0.1);
}

TEST(LogSweepRun, SecondAndThirdHarmonicMatchTheNonlinearity)
{
    // y = x + 2 h2 x^2 + 4 h3 x^3: a sine of amplitude A gets h2 A^2 and h3 A^3, that is
    // h2 A and h3 A^2 relative to the fundamental.
    DutConfig dut;
    dut.h2 = 0.01;
    dut.h3 = 0.005;
    Bench b(dut);
    b.settings.LogSweepCurve2 = LogSweepCurve::H3;
    ASSERT_TRUE(b.run.Start());
    b.port.Pump();
    ASSERT_TRUE(b.run.HasResult());
    const LogSweepResult& r = b.run.Result();
    const double a = std::pow(10.0, -6.0 / 20.0);
    for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
        const double f = r.freqHz[i];
        if (f >= 50.0 && f <= 20000.0 / 3.0) {
            EXPECT_NEAR(r.right.harmonicDb[0][i], 20.0 * std::log10(0.01 * a), 0.5) << f << " Hz";
            EXPECT_NEAR(r.right.harmonicDb[1][i], 20.0 * std::log10(0.005 * a * a), 0.5) << f << " Hz";
        }
        // A harmonic above the band is not measured, and says so.
        EXPECT_EQ(std::isnan(r.right.harmonicDb[1][i]), 3.0 * f > 20000.0 * (1 + 1e-9)) << f << " Hz";
    }
    EXPECT_EQ(b.diagram.unit, "dB");
    EXPECT_FALSE(b.diagram.wrapped);
}

TEST(LogSweepRun, AnInputWithoutSignalIsAnErrorNamingItAndShowsNothing)
{
    DutConfig silent;
    silent.gainDb = -200;
    Bench b(silent);
    Prompts prompts;
    ASSERT_TRUE(b.run.Start());
    b.port.Pump();
    EXPECT_FALSE(b.run.HasResult());
    EXPECT_FALSE(b.run.Running());
    EXPECT_EQ(b.diagram.stored, 0);
    EXPECT_EQ(prompts.texts, std::vector<std::string>{"No signal at the right input ! "});
}

TEST(LogSweepRun, SweepsThatLoseFramesAreSweptAgainAndCountedUntilTheRunGivesUpNamingTheDevice)
{
    // Unflagged: frames lost without a word, found against the played sweep.
    const struct {
        int gaps;
        bool flagged;
    } cases[] = {{1, true}, {2, false}, {3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gaps << " gaps, flagged " << c.flagged);
        Bench b(DutConfig{});
        b.settings.LogSweepSeconds = 1.0;
        Prompts prompts;
        b.card.InjectInputGaps(c.gaps, 17, c.flagged);
        ASSERT_TRUE(b.run.Start());
        b.port.Pump();
        EXPECT_EQ(b.engine.DroppedBlocks(), c.gaps);
        if (c.gaps < 3) {
            ASSERT_TRUE(b.run.HasResult());
            EXPECT_NEAR(b.run.Result().DelaySamples(), 0.0, 0.1);
            const std::string tail = ", " + std::to_string(c.gaps) + " sweeps with gaps swept again";
            EXPECT_EQ(b.diagram.resultLine.substr(b.diagram.resultLine.size() - tail.size()), tail);
        } else {
            EXPECT_FALSE(b.run.HasResult());
            ASSERT_EQ(prompts.texts.size(), 1u);
            EXPECT_NE(prompts.texts[0].find("\"Sonvera Loopback\" keeps losing frames"), std::string::npos)
                << prompts.texts[0];
        }
    }
}

TEST(LogSweepRun, StopEndsASweepInFlightAndTheNextOneMeasures)
{
    Bench b(DutConfig{}, LoopbackClock::RealTime);
    b.settings.LogSweepSeconds = 0.5;
    ASSERT_TRUE(b.run.Start());
    EXPECT_TRUE(b.engine.PlayRecordRunning());
    b.run.Stop();
    EXPECT_FALSE(b.run.Running());
    EXPECT_FALSE(b.engine.PlayRecordOpen());
    b.port.Pump();  // what the reset handed back reaches nobody
    EXPECT_FALSE(b.run.HasResult());

    ASSERT_TRUE(b.run.Start());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (b.run.Running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.port.Pump();
    }
    ASSERT_TRUE(b.run.HasResult());
    EXPECT_NEAR(b.run.Result().DelaySamples(), 0.0, 0.1);
}

}  // namespace
}  // namespace sonvera
