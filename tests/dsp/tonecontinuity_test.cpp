#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/tonecontinuity.h"

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
    if (fault == Fault::Lose) {
        x.erase(x.begin() + at, x.begin() + at + length);
    } else if (fault == Fault::Silence || fault == Fault::Repeat) {
        std::vector<double> inserted(static_cast<std::size_t>(length), 0.0);
        if (fault == Fault::Repeat) {
            inserted.assign(x.begin() + at - length, x.begin() + at);
        }
        x.insert(x.begin() + at, inserted.begin(), inserted.end());
    }
    x.resize(static_cast<std::size_t>(frames));
    std::vector<float> pair;
    for (double v : x) {
        pair.push_back(static_cast<float>(gauss(random)));
        pair.push_back(static_cast<float>(v + gauss(random)));
    }
    return pair;
}

ToneContinuity Check(const std::vector<float>& pair, const Tone& t)
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
            const ToneContinuity c = Check(Record(t, frames), t);
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
            const ToneContinuity r = Check(Record(c.tone, 8190, c.fault, c.length, at), c.tone);
            EXPECT_TRUE(r.checked);
            EXPECT_TRUE(r.gap);
            // Within two segments (128 frames long in this block; 480 at 100 Hz).
            EXPECT_NEAR(r.frame, at, c.tone.freqHz < 500.0 ? 960 : 256);
        }
    }
}

TEST(ToneContinuity, BlocksWithoutTheToneOrWithTooFewPeriodsAreNotJudged)
{
    Tone silent;
    silent.levelDb = -300.0;
    Tone bass{20.0, 48000.0};  // 2.5 periods: too few one-period segments to compare
    for (const Tone& t : {silent, bass}) {
        const ToneContinuity c = Check(Record(t, 6000), t);
        EXPECT_FALSE(c.checked);
        EXPECT_FALSE(c.gap);
    }
}
