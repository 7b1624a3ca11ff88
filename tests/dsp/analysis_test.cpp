// THD+N, band level, fundamental search and the analysis settings checks.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/analysis.h"
#include "dsp/spectrum.h"
#include "dsp/weighting.h"

namespace sonvera {
namespace {

constexpr double A = kAnalysisLevelOffset;
constexpr double B = kAnalysisLevelFactor;

struct Tone {
    double freqHz;
    double amplitude;
};

// Magnitude spectrum of a sum of sines, as the spectrum run produces it.
std::vector<float> SpectrumOf(const std::vector<Tone>& tones, double fs, int n, int window) {
    std::vector<float> x(static_cast<std::size_t>(n), 0.0f);
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        for (const Tone& t : tones) v += t.amplitude * std::sin(2.0 * std::numbers::pi * t.freqHz * i / fs + 0.4);
        x[static_cast<std::size_t>(i)] = static_cast<float>(v);
    }
    SpectrumTransform st;
    EXPECT_TRUE(st.BuildWindowTable(window, n));
    EXPECT_TRUE(st.ComputeSpectrum(x.data(), n));
    x.resize(static_cast<std::size_t>(n / 2));
    return x;
}

AnalysisParams Params(double fs, int n) {
    AnalysisParams p;
    p.AnaSampleRate = fs;
    p.AnaFftSize = n;
    p.AnaFreqLow = 20;
    p.AnaFreqHigh = 20000;
    return p;
}

TEST(Analysis, BinWidthAndNotchAt44100And4096) {
    const AnalysisParams p = Params(44100, 4096);
    EXPECT_NEAR(AnaBinWidth(p), 10.7666, 1e-4);
    EXPECT_NEAR(12 * AnaBinWidth(p), 129.2, 0.05);
}

TEST(Analysis, OnePercentSecondHarmonicReadsMinus40Db) {
    // 48 kHz, 4096 points: bin width 11.71875 Hz; bins 85 and 170 carry the tones.
    const double bw = 48000.0 / 4096;
    const std::vector<float> mags = SpectrumOf({{85 * bw, 1.0}, {170 * bw, 0.01}}, 48000, 4096, 0);
    WeightingFilter filter;
    AnalysisParams p = Params(48000, 4096);
    const double thd = MeasureThdN(mags, p, filter);
    EXPECT_EQ(p.Fundamental, 996.0);  // 996.09 Hz rounded to whole hertz
    // rest/total = 0.01^2 / (1 + 0.01^2), without any level offset.
    EXPECT_NEAR(thd, B * std::log(std::sqrt(1e-4 / (1.0 + 1e-4))), 0.01);
    EXPECT_NEAR(thd, -40.17, 0.01);
}

TEST(Analysis, DistortionOffTheBinsIsFoundWithALowLeakageWindow) {
    // 1 kHz at 44.1 kHz with 0.1 % third and 0.1 % fifth harmonic: -57 dB in power sum.
    const std::vector<float> mags =
        SpectrumOf({{1000, 0.5}, {3000, 0.0005}, {5000, 0.0005}}, 44100, 4096, 4);
    WeightingFilter filter;
    AnalysisParams p = Params(44100, 4096);
    const double thd = MeasureThdN(mags, p, filter);
    EXPECT_NEAR(p.Fundamental, 1001.0, 1.0);  // bin 93 at 1001.3 Hz is the largest
    const double expected = B * std::log(std::sqrt(2 * 0.0005 * 0.0005 / (0.25 + 2 * 0.0005 * 0.0005)));
    EXPECT_NEAR(thd, expected, 0.3);
}

TEST(Analysis, ClassicOffsetIsNotAddedToTheRatio) {
    // With a fundamental far outside the spectrum nothing is notched: rest = total -> 0 dB.
    const std::vector<float> mags = SpectrumOf({{1000, 0.3}, {2500, 0.1}}, 48000, 1024, 2);
    WeightingFilter filter;
    AnalysisParams p = Params(48000, 1024);
    p.FundAuto = false;
    p.Fundamental = 90000;
    p.AnaFreqLow = 0;
    p.AnaFreqHigh = 24000;
    EXPECT_NEAR(MeasureThdN(mags, p, filter), 0.0, 1e-9);
    EXPECT_EQ(p.Fundamental, 90000.0);  // manual fundamental is kept
}

TEST(Analysis, SingleBinSignalHasOnlyTheFloorAsRest) {
    std::vector<float> mags(2048, 0.0f);
    mags[100] = 0.25f;
    WeightingFilter filter;
    AnalysisParams p = Params(44100, 4096);
    const double thd = MeasureThdN(mags, p, filter);
    EXPECT_NEAR(p.Fundamental, std::nearbyint(100 * 44100.0 / 4096), 0.0);
    EXPECT_LT(thd, -150.0);
    EXPECT_TRUE(std::isfinite(thd));
}

TEST(Analysis, WithoutFundamentalTheResultIsTheAbsoluteBandLevel) {
    std::vector<float> mags(2048, 0.0f);
    mags[100] = 0.0005f;  // below the threshold of 0.001
    WeightingFilter filter;
    AnalysisParams p = Params(44100, 4096);
    const double thd = MeasureThdN(mags, p, filter);
    EXPECT_EQ(p.Fundamental, 0.0);
    EXPECT_NEAR(thd, A + B * std::log(0.0005), 1e-4);
    EXPECT_NEAR(thd, MeasureLevel(mags, p, filter), 1e-9);
}

TEST(Analysis, FundamentalSearchRules) {
    AnalysisParams p = Params(1000, 100);  // bin width 10 Hz
    std::vector<float> mags(50, 0.0f);
    mags[0] = 0.9f;  // DC is largest: no fundamental
    mags[7] = 0.5f;
    EXPECT_EQ(FindFundamental(mags, p), 0.0);
    mags[0] = 0.0f;
    mags[12] = 0.5f;  // equal peaks: the lowest wins
    EXPECT_EQ(FindFundamental(mags, p), 70.0);
    p.FundThreshold = 0.5;  // must be exceeded, not met
    EXPECT_EQ(FindFundamental(mags, p), 0.0);
    // Only the first N/2 magnitudes count even if more are passed.
    p.FundThreshold = 0.001;
    std::vector<float> longer(80, 0.0f);
    longer[60] = 1.0f;
    longer[5] = 0.01f;
    EXPECT_EQ(FindFundamental(longer, p), 50.0);
}

TEST(Analysis, LevelAddsTonePowersAndAppliesTheWeighting) {
    const double bw = 51200.0 / 512;  // 100 Hz bins
    AnalysisParams p = Params(51200, 512);
    WeightingFilter filter;
    const std::vector<float> one = SpectrumOf({{10 * bw, 0.5}}, 51200, 512, 0);
    const std::vector<float> two = SpectrumOf({{10 * bw, 0.5}, {30 * bw, 0.5}}, 51200, 512, 0);
    const double l1 = MeasureLevel(one, p, filter);
    const double l2 = MeasureLevel(two, p, filter);
    EXPECT_NEAR(l1, A + B * std::log(0.125), 1e-4);
    EXPECT_NEAR(l2 - l1, B * std::log(std::sqrt(2.0)), 1e-4);

    // A 100 Hz tone under A weighting is 18 dB down.
    std::vector<float> mags(256, 0.0f);
    mags[1] = 0.1f;
    const double flat = MeasureLevel(mags, p, filter);
    filter.SelectFilter("A Weighting");
    EXPECT_NEAR(MeasureLevel(mags, p, filter) - flat, -18.0, 1e-6);

    // Band edges are included: a band of exactly 1000..1000 Hz holds bin 10 only.
    p.AnaFreqLow = 1000;
    p.AnaFreqHigh = 1000;
    EXPECT_NEAR(MeasureLevel(one, p, WeightingFilter()), l1, 1e-4);
}

TEST(Analysis, BandWithoutBinsGivesTheFloorNotInfinity) {
    std::vector<float> mags(2048, 0.1f);
    WeightingFilter filter;
    AnalysisParams p = Params(44100, 4096);
    p.AnaFreqLow = 30000;
    p.AnaFreqHigh = 40000;
    EXPECT_EQ(MeasureLevel(mags, p, filter), kZeroMagnitudeDb);
    p.FundAuto = false;
    p.Fundamental = 0;
    ThdNCase kind = ThdNCase::Ratio;
    EXPECT_EQ(MeasureThdN(mags, p, filter, A, B, &kind), kZeroMagnitudeDb);
    EXPECT_EQ(kind, ThdNCase::EmptyBand);
    // Band entirely inside the notch: no reading, and it says so.
    p.Fundamental = 1000;
    p.AnaFreqLow = 990;
    p.AnaFreqHigh = 1010;
    EXPECT_EQ(MeasureThdN(mags, p, filter, A, B, &kind), kZeroMagnitudeDb);
    EXPECT_EQ(kind, ThdNCase::NotchCoversBand);
    p.AnaFreqHigh = 2000;
    MeasureThdN(mags, p, filter, A, B, &kind);
    EXPECT_EQ(kind, ThdNCase::Ratio);
}

TEST(Analysis, LevelOfASineAndOfNoiseIsTheSameThroughEveryWindow) {
    // 1 kHz at -12 dB (amplitude 0.251) off the bins, and white noise of RMS 0.1 (fixed
    // seed), 4096 points at 44.1 kHz, magnitudes averaged over 16 blocks as the run
    // averages them (one block of noise scatters by more than 0.1 dB between windows).
    const int n = 4096;
    const int blocks = 16;
    std::vector<float> sine(n), noise(static_cast<std::size_t>(n) * blocks);
    std::mt19937 random(12345);
    std::normal_distribution<double> gauss(0.0, 0.1);
    for (int i = 0; i < n; ++i) {
        sine[static_cast<std::size_t>(i)] = static_cast<float>(0.251 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 44100.0));
    }
    for (float& v : noise) v = static_cast<float>(gauss(random));
    WeightingFilter filter;
    AnalysisParams p = Params(44100, n);
    p.AnaFreqLow = 0;
    p.AnaFreqHigh = 22050;
    for (const std::vector<float>* signal : {&sine, &noise}) {
        double none = 0.0;
        const int count = static_cast<int>(signal->size()) / n;
        for (int window = 0; window < 9; ++window) {
            SpectrumTransform st;
            ASSERT_TRUE(st.BuildWindowTable(window, n));
            std::vector<float> mean(static_cast<std::size_t>(n / 2), 0.0f);
            for (int b = 0; b < count; ++b) {
                std::vector<float> x(signal->begin() + b * n, signal->begin() + (b + 1) * n);
                ASSERT_TRUE(st.ComputeSpectrum(x.data(), n));
                for (int k = 0; k < n / 2; ++k) mean[static_cast<std::size_t>(k)] += x[static_cast<std::size_t>(k)] / count;
            }
            p.WindowNoiseBandwidth = st.WindowNoiseBandwidth();
            const double level = MeasureLevel(mean, p, filter);
            if (window == 0) {
                none = level;
                EXPECT_EQ(p.WindowNoiseBandwidth, 1.0);
            }
            EXPECT_NEAR(level, none, 0.1) << "window " << window << (signal == &sine ? " sine" : " noise");
        }
    }
}

TEST(Analysis, NotchRemovesTwentyFiveBinsAroundABinFundamental) {
    // Bin width 10 Hz, fundamental at bin 50 (500 Hz): bins 38..62 are notched.
    AnalysisParams p = Params(1000 * 10.0, 1000);
    p.FundAuto = false;
    p.Fundamental = 500;
    p.AnaFreqLow = 0;
    p.AnaFreqHigh = 5000;
    WeightingFilter filter;
    std::vector<float> mags(500, 0.0f);
    mags[50] = 1.0f;
    mags[38] = 0.5f;   // inside the notch (edge)
    mags[37] = 0.01f;  // just outside
    const double thd = MeasureThdN(mags, p, filter);
    EXPECT_NEAR(thd, B * std::log(std::sqrt(1e-4 / (1.0 + 0.25 + 1e-4))), 1e-6);
}

TEST(AnalysisInput, ChecksRunInOrderWithTheirMessages) {
    AnalysisInput ok{"100", "20000", "1000", "-60"};
    AnalysisValidation v = ValidateAnalysisInput(ok, 'E');
    ASSERT_TRUE(v.values.has_value()) << v.message;
    EXPECT_EQ(v.values->AnaFreqLow, 100);
    EXPECT_EQ(v.values->AnaFreqHigh, 20000);
    EXPECT_EQ(v.values->Fundamental, 1000.0);
    EXPECT_NEAR(v.values->FundThreshold, 0.001, 1e-15);

    struct Case {
        AnalysisInput in;
        const char* german;
        const char* english;
    };
    const Case cases[] = {
        {{"abc", "x", "y", "1"}, "Frequenz low nicht korrekt", "Frequency low not correct"},
        {{"100", "20k", "y", "1"}, "Frequenz high nicht korrekt", "Frequency high not correct"},
        {{"500", "500", "1000", "-3"}, "Frequenz high sollte größer low sein",
         "Frequency high must be greater then low value"},
        {{"600", "500", "1000", "-3"}, "Frequenz high sollte größer low sein",
         "Frequency high must be greater then low value"},
        {{"100", "20000", "1000.5", "-3"}, "Grundfrequenz nicht korrekt", "Fundamental not correct"},
        {{"100", "20000", "1000", "0.5"}, "Pegel Schwellwert nicht korrekt", "Treshhold Value not correct"},
        {{"100", "20000", "1000", "-6,5"}, "Pegel Schwellwert nicht korrekt", "Treshhold Value not correct"},
        {{"100", "99999999999", "1000", "-3"}, "Frequenz high nicht korrekt", "Frequency high not correct"},
    };
    for (const Case& c : cases) {
        v = ValidateAnalysisInput(c.in, 'D');
        EXPECT_FALSE(v.values.has_value());
        EXPECT_EQ(v.message, c.german);
        v = ValidateAnalysisInput(c.in, 'E');
        EXPECT_FALSE(v.values.has_value());
        EXPECT_EQ(v.message, c.english);
    }
}

TEST(AnalysisInput, ZeroDbThresholdIsAcceptedAsOne) {
    const AnalysisValidation v = ValidateAnalysisInput({" 20 ", "+24000", "-5", "0"}, 'D');
    ASSERT_TRUE(v.values.has_value()) << v.message;
    EXPECT_EQ(v.values->FundThreshold, 1.0);
    EXPECT_EQ(v.values->AnaFreqLow, 20);
    EXPECT_EQ(v.values->Fundamental, -5.0);
    const AnalysisValidation w = ValidateAnalysisInput({"20", "24000", "1000", "-20.0"}, 'D');
    ASSERT_TRUE(w.values.has_value());
    EXPECT_NEAR(w.values->FundThreshold, 0.1, 1e-15);
}

}  // namespace
}  // namespace sonvera
