#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/continuity.h"

using namespace sonvera;

namespace {

struct Tone {
    double freqHz = 1000.0;
    double rateHz = 48000.0;
    double levelDb = -6.0;
    double noiseDb = -120.0;       // RMS of white noise, dBFS
    double harmonicsDb = -200.0;   // H2 at this level, H3 10 dB below, relative to the tone
    double recordedHz = 0.0;       // the input's own idea of the frequency (0: freqHz)
    double flutterRad = 0.0;       // phase wobble at 4 Hz
};

enum class Fault { None, Lose, Silence, Repeat };

// Loses `length` frames at frame `at`, or inserts as many there: silence, or a repeat of
// the frames before.
void Apply(std::vector<double>& x, Fault fault, int length, int at)
{
    if (fault == Fault::Lose) {
        x.erase(x.begin() + at, x.begin() + at + length);
    } else if (fault == Fault::Silence || fault == Fault::Repeat) {
        std::vector<double> inserted(static_cast<std::size_t>(length), 0.0);
        if (fault == Fault::Repeat) {
            inserted.assign(x.begin() + at - length, x.begin() + at);
        }
        x.insert(x.begin() + at, inserted.begin(), inserted.end());
    }
}

// `frames` frames of the tone, with `length` frames lost at, silence or a repeat of the
// frames before inserted at frame `at`, as an interleaved pair (the tone on channel 1).
std::vector<float> Record(const Tone& t, int frames, Fault fault = Fault::None, int length = 0, int at = 0)
{
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, t.noiseDb / 20.0));
    const double a = std::pow(10.0, t.levelDb / 20.0);
    const double h = std::pow(10.0, t.harmonicsDb / 20.0);
    const double f = t.recordedHz > 0.0 ? t.recordedHz : t.freqHz;
    std::vector<double> x;
    for (int n = 0; n < frames + length; ++n) {
        const double p = 2.0 * std::numbers::pi * f * n / t.rateHz + 0.3 +
                         t.flutterRad * std::sin(2.0 * std::numbers::pi * 4.0 * n / t.rateHz);
        x.push_back(a * (std::cos(p) + h * std::cos(2.0 * p) + 0.3 * h * std::cos(3.0 * p)));
    }
    Apply(x, fault, length, at);
    x.resize(static_cast<std::size_t>(frames));
    std::vector<float> pair;
    for (double v : x) {
        pair.push_back(static_cast<float>(gauss(random)));
        pair.push_back(static_cast<float>(v + gauss(random)));
    }
    return pair;
}

Continuity Check(const std::vector<float>& pair, const Tone& t)
{
    return CheckToneContinuity(pair.data() + 1, static_cast<int>(pair.size() / 2), 2, t.freqHz, t.rateHz);
}

}  // namespace

TEST(ToneContinuity, CleanTonesPassWhateverTheirLevelDistortionDriftOrFlutter)
{
    Tone quiet;
    quiet.levelDb = -60.0;
    Tone distorted;
    distorted.harmonicsDb = -40.0;
    Tone offset;
    offset.recordedHz = 1000.1;  // 100 ppm between the two clocks
    Tone flutter;
    flutter.flutterRad = 0.25;   // 0.1 % of frequency wobble at 4 Hz
    Tone cd{997.0, 44100.0};
    Tone low{200.0, 48000.0};
    Tone weak;
    weak.levelDb = -100.0;       // 20 dB above the noise
    for (const Tone& t : {Tone{}, quiet, distorted, offset, flutter, cd, low, weak}) {
        SCOPED_TRACE(testing::Message() << t.freqHz << " Hz " << t.levelDb << " dB");
        for (int frames : {4096, 8190}) {
            const Continuity c = Check(Record(t, frames), t);
            EXPECT_TRUE(c.checked);
            EXPECT_FALSE(c.gap) << "step near frame " << c.frame;
        }
    }
}

TEST(ToneContinuity, LostOrInsertedFramesAreFoundNearWhereTheyHappened)
{
    Tone quiet;
    quiet.levelDb = -60.0;
    Tone distorted;
    distorted.harmonicsDb = -40.0;
    Tone flutter;
    flutter.flutterRad = 0.25;
    const struct {
        Tone tone;
        Fault fault;
        int length;
    } cases[] = {
        {Tone{}, Fault::Lose, 1},     {Tone{}, Fault::Lose, 7},         {Tone{}, Fault::Lose, 17},
        {Tone{}, Fault::Lose, 64},    {Tone{}, Fault::Lose, 1024},      {quiet, Fault::Lose, 7},
        {distorted, Fault::Lose, 1},  {flutter, Fault::Lose, 17},       {Tone{997.0, 44100.0}, Fault::Lose, 441},
        {Tone{100.0}, Fault::Lose, 64}, {Tone{}, Fault::Silence, 256},  {Tone{}, Fault::Repeat, 100},
        {quiet, Fault::Silence, 32},
    };
    for (const auto& c : cases) {
        for (int at : {1500, 5000}) {
            SCOPED_TRACE(testing::Message() << c.tone.freqHz << " Hz " << c.tone.levelDb << " dB, fault "
                                            << static_cast<int>(c.fault) << " of " << c.length << " at " << at);
            const Continuity r = Check(Record(c.tone, 8190, c.fault, c.length, at), c.tone);
            EXPECT_TRUE(r.checked);
            EXPECT_TRUE(r.gap);
            // Within two segments (128 frames long in this block; 480 at 100 Hz) of the fault.
            EXPECT_NEAR(r.frame, at, (c.tone.freqHz < 500.0 ? 960 : 256) + (c.fault == Fault::Lose ? 0 : c.length));
        }
    }
}

TEST(ToneContinuity, BlocksWithoutTheToneOrWithTooFewPeriodsAreNotJudged)
{
    Tone silent;
    silent.levelDb = -300.0;
    Tone bass{20.0, 48000.0};  // 2.5 periods: too few one-period segments to compare
    for (const Tone& t : {silent, bass}) {
        const Continuity c = Check(Record(t, 6000), t);
        EXPECT_FALSE(c.checked);
        EXPECT_FALSE(c.gap);
    }
}

namespace {

// A second-order section (the bilinear high- or low-pass of Q 0.707) as a device under test.
struct Section {
    double b0, b1, b2, a1, a2, z1 = 0.0, z2 = 0.0;
    double Run(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

Section Pass(bool high, double cornerHz, double rateHz)
{
    const double w = 2.0 * std::numbers::pi * cornerHz / rateHz;
    const double alpha = std::sin(w) / std::sqrt(2.0);
    const double c = std::cos(w);
    const double a0 = 1.0 + alpha;
    const double b = (high ? 1.0 + c : 1.0 - c) / 2.0 / a0;
    return {b, high ? -2.0 * b : 2.0 * b, b, -2.0 * c / a0, (1.0 - alpha) / a0};
}

struct SweepCase {
    bool device = false;  // through a 100 Hz high-pass and a 5 kHz low-pass
    Fault fault = Fault::None;
    int length = 0;
    double atSeconds = 0.0;  // into the sweep
};

// A 1 s exponential sweep 20 Hz .. 20 kHz at 48 kHz with 10 ms fades, recorded after a
// round trip of 1234 frames with noise at -110 dBFS.
Continuity SweepThrough(const SweepCase& c)
{
    constexpr double kRate = 48000.0;
    constexpr int kFrames = 48000;
    constexpr int kTrip = 1234;
    const double k = std::log(1000.0);
    std::vector<float> played(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double fade = std::min({1.0, i / 480.0, (kFrames - i) / 480.0});
        played[i] = static_cast<float>(0.5 * fade * std::sin(2.0 * std::numbers::pi * 20.0 / k * (std::exp(k * i / kRate) - 1.0)));
    }
    Section high = Pass(true, 100.0, kRate);
    Section low = Pass(false, 5000.0, kRate);
    const int frames = kFrames + kTrip + 9600;
    std::vector<double> y;
    for (int i = 0; i < frames + c.length; ++i) {
        const double x = i >= kTrip && i < kTrip + kFrames ? played[i - kTrip] : 0.0;
        y.push_back(c.device ? low.Run(high.Run(x)) : x);
    }
    Apply(y, c.fault, c.length, kTrip + static_cast<int>(c.atSeconds * kRate));
    std::mt19937 random(5);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, -110.0 / 20.0));
    std::vector<float> recorded;
    for (int i = 0; i < frames; ++i) {
        recorded.push_back(static_cast<float>(y[i] + gauss(random)));
    }
    return CheckSweepContinuity(played.data(), played.size(), recorded.data(), recorded.size(), 1, kRate);
}

}  // namespace

TEST(SweepContinuity, CleanSweepsPassStraightAndThroughADevice)
{
    for (bool device : {false, true}) {
        const Continuity c = SweepThrough({device});
        EXPECT_TRUE(c.checked);
        EXPECT_FALSE(c.gap) << "device " << device << ", step near frame " << c.frame;
    }
}

TEST(SweepContinuity, LostOrInsertedFramesAreFoundWhereverTheSweepIsAboveItsLowestOctave)
{
    const SweepCase cases[] = {
        {false, Fault::Lose, 1, 0.5},    {false, Fault::Lose, 64, 0.2},   {true, Fault::Lose, 7, 0.8},
        {true, Fault::Lose, 1024, 0.35}, {false, Fault::Silence, 480, 0.6}, {true, Fault::Silence, 256, 0.95},
    };
    for (const SweepCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "device " << c.device << ", fault " << static_cast<int>(c.fault) << " of "
                                        << c.length << " at " << c.atSeconds << " s");
        const Continuity r = SweepThrough(c);
        EXPECT_TRUE(r.gap);
        EXPECT_NEAR(r.frame, 1234 + c.atSeconds * 48000.0, 2400.0);
    }
}
