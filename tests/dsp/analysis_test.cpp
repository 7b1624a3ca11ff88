// THD+N, band level, fundamental search and the analysis settings checks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/analysis.h"
#include "dsp/spectrum.h"
#include "dsp/weighting.h"
#include "dsp/window.h"

namespace sonvera {
namespace {

// dB of an amplitude ratio and of a power ratio, from the definition.
double Db(double amplitudeRatio) { return 20.0 * std::log10(amplitudeRatio); }
double PowerDb(double powerRatio) { return 10.0 * std::log10(powerRatio); }

struct Sinusoid {
    double freqHz;
    double amplitude;
};

// Magnitude spectrum of a sum of sines, as the spectrum run produces it.
std::vector<float> SpectrumOf(const std::vector<Sinusoid>& tones, double fs, int n, int window) {
    std::vector<float> x(static_cast<std::size_t>(n), 0.0f);
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        for (const Sinusoid& t : tones) v += t.amplitude * std::sin(2.0 * std::numbers::pi * t.freqHz * i / fs + 0.4);
        x[static_cast<std::size_t>(i)] = static_cast<float>(v);
    }
    SpectrumTransform st;
    EXPECT_TRUE(st.BuildWindowTable(window, n));
    EXPECT_TRUE(st.ComputeSpectrum(x.data(), n));
    x.resize(static_cast<std::size_t>(n / 2));
    return x;
}

AnalysisParams Params(double fs, int n, int window = 0) {
    AnalysisParams p;
    p.AnaSampleRate = fs;
    p.AnaFftSize = n;
    p.AnaWindow = window;
    p.AnaFreqLow = 20;
    p.AnaFreqHigh = 20000;
    return p;
}

TEST(Analysis, BinWidthAt44100And4096) {
    const AnalysisParams p = Params(44100, 4096);
    EXPECT_NEAR(AnaBinWidth(p), 10.7666, 1e-4);
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
    EXPECT_NEAR(thd, PowerDb(1e-4 / (1.0 + 1e-4)), 0.001);
    EXPECT_NEAR(thd, -40.0, 0.001);
}

TEST(Analysis, DistortionOffTheBinsIsFoundWithALowLeakageWindow) {
    // 1 kHz at 44.1 kHz with 0.1 % third and 0.1 % fifth harmonic: -57 dB in power sum.
    const std::vector<float> mags =
        SpectrumOf({{1000, 0.5}, {3000, 0.0005}, {5000, 0.0005}}, 44100, 4096, 4);
    WeightingFilter filter;
    AnalysisParams p = Params(44100, 4096, 4);
    const double thd = MeasureThdN(mags, p, filter);
    EXPECT_EQ(p.Fundamental, 1000.0);  // between bins 92 and 93, from the lobe's shape
    EXPECT_NEAR(thd, PowerDb(2 * 0.0005 * 0.0005 / (0.25 + 2 * 0.0005 * 0.0005)), 0.05);
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
    EXPECT_NEAR(thd, Db(4 * 0.0005 / std::sqrt(2.0)), 1e-4);  // the RMS of a sine of amplitude 4·m
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
    EXPECT_NEAR(l1, Db(0.5 / std::sqrt(2.0)), 1e-4);
    EXPECT_NEAR(l2 - l1, PowerDb(2.0), 1e-4);

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
    EXPECT_EQ(MeasureThdN(mags, p, filter, &kind), kZeroMagnitudeDb);
    EXPECT_EQ(kind, ThdNCase::EmptyBand);
    // Band entirely inside the notch: no reading, and it says so.
    p.Fundamental = 1000;
    p.AnaFreqLow = 990;
    p.AnaFreqHigh = 1010;
    EXPECT_EQ(MeasureThdN(mags, p, filter, &kind), kZeroMagnitudeDb);
    EXPECT_EQ(kind, ThdNCase::NotchCoversBand);
    p.AnaFreqHigh = 2000;
    MeasureThdN(mags, p, filter, &kind);
    EXPECT_EQ(kind, ThdNCase::Ratio);
}

TEST(Analysis, EveryWindowReadsASineOnAndOffTheBinsAtItsLevelAndFrequency) {
    // A sine of amplitude 1 at 48 kHz, 4096 points, on bin 88 and 0.37 bin off it: its peak
    // bin reads 0 dBFS (20·log10(4·m)) on the bin in every window, and off it in "Flat-Top";
    // Level reads its RMS, -3.01 dB; the interpolated frequency and magnitude are the sine's.
    const int n = 4096;
    const double bw = 48000.0 / n;
    WeightingFilter filter;
    for (int window = 0; window < 9; ++window) {
        for (double offset : {0.0, 0.37}) {
            const double f = (88 + offset) * bw;
            const std::vector<float> mags = SpectrumOf({{f, 1.0}}, 48000, n, window);
            AnalysisParams p = Params(48000, n, window);
            p.AnaFreqLow = 0;
            p.AnaFreqHigh = 24000;
            const std::string what = std::string(kWindowNames[static_cast<std::size_t>(window)]) + " +" +
                                     std::to_string(offset);
            const double peak = *std::max_element(mags.begin(), mags.end());
            if (offset == 0.0 || window == 5) {
                EXPECT_NEAR(Db(4.0 * peak), 0.0, offset == 0.0 ? 0.01 : 0.05) << what;
            }
            bool tooCoarse = true;
            EXPECT_NEAR(MeasureLevel(mags, p, filter, &tooCoarse), Db(1.0 / std::sqrt(2.0)), 0.01) << what;
            EXPECT_FALSE(tooCoarse) << what;
            const Tone tone = FindTone(mags, p);
            EXPECT_NEAR(tone.freqHz, f, window == 0 ? 0.02 * bw : 0.002 * bw) << what;
            EXPECT_NEAR(Db(4.0 * tone.magnitude), 0.0, 0.01) << what;
        }
    }
}

TEST(Analysis, ThdNOfAHarmonicAt80DbBelowAcrossFundamentalsAndSizes) {
    // Blackman/Harris at 48 kHz: H2 or H3 at -80 dBc reads -80 +-0.5 dB, or the resolution
    // notice where the notch (the lobe's full width, 8 bins, each side) would reach the
    // lobe of 0 Hz or of H2: below 12 bins. Never the harmonic cut away with the fundamental.
    WeightingFilter filter;
    int notices = 0;
    for (int n : {512, 1024, 2048, 4096}) {
        const double bw = 48000.0 / n;
        for (double f0 : {50.0, 100.0, 200.0, 437.0, 1000.0, 3000.0, 6000.0, 10000.0}) {
            for (int harmonic : {2, 3}) {
                if (harmonic * f0 >= 20000.0) continue;
                const std::vector<float> mags = SpectrumOf({{f0, 0.5}, {harmonic * f0, 0.5e-4}}, 48000, n, 4);
                AnalysisParams p = Params(48000, n, 4);
                ThdNCase kind = ThdNCase::Ratio;
                const double thd = MeasureThdN(mags, p, filter, &kind);
                const std::string what = std::to_string(n) + " points, " + std::to_string(f0) + " Hz, H" +
                                         std::to_string(harmonic);
                if (f0 / bw < 12.0) {
                    EXPECT_EQ(kind, ThdNCase::ResolutionTooCoarse) << what;
                    ++notices;
                } else {
                    EXPECT_EQ(p.Fundamental, f0) << what;
                    EXPECT_EQ(kind, ThdNCase::Ratio) << what;
                    EXPECT_NEAR(thd, -80.0, 0.5) << what;
                }
            }
        }
    }
    EXPECT_EQ(notices, 28);  // up to 1000 Hz at 512 points, 437, 200 and 100 Hz at 1024, 2048, 4096
}

TEST(Analysis, ALowToneReadsTheNoticeInsteadOfALevelThatDependsOnItsPhase) {
    // 20 Hz at 48 kHz and 4096 points in "Flat-Top": 1.7 bins from 0 Hz, its lobe (5 bins)
    // overlaps its mirror image, and its level moves by dB with its phase.
    WeightingFilter filter;
    AnalysisParams p = Params(48000, 4096, 5);
    p.AnaFreqLow = 0;
    p.AnaFreqHigh = 24000;
    bool tooCoarse = false;
    MeasureLevel(SpectrumOf({{20.0, 0.5}}, 48000, 4096, 5), p, filter, &tooCoarse);
    EXPECT_TRUE(tooCoarse);
    MeasureLevel(SpectrumOf({{100.0, 0.5}}, 48000, 4096, 5), p, filter, &tooCoarse);
    EXPECT_FALSE(tooCoarse);
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
