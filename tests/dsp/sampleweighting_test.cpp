// The standard weightings as filters over the samples: their response against the
// standards' formulas, and A-weighted tone levels through the whole analysis.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/analysis.h"
#include "dsp/sampleweighting.h"
#include "dsp/spectrum.h"
#include "dsp/weighting.h"

namespace sonvera {
namespace {

// IEC 61672-1, equations (E.1) to (E.6): the C and A weightings from their pole
// frequencies, normalised to 0 dB at 1 kHz.
double IecDb(double f, bool a) {
    const double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
    auto c = [&](double x) { return f4 * f4 * x * x / ((x * x + f1 * f1) * (x * x + f4 * f4)); };
    auto aw = [&](double x) { return c(x) * x * x / std::sqrt((x * x + f2 * f2) * (x * x + f3 * f3)); };
    return a ? 20.0 * std::log10(aw(f) / aw(1000.0)) : 20.0 * std::log10(c(f) / c(1000.0));
}

TEST(SampleWeighting, FollowsTheFormulasFrom20HzTo16kHzAndStaysInClass1AboveAtBothRates) {
    struct Case {
        StandardWeighting w;
        const char* name;
    };
    const Case cases[] = {{StandardWeighting::IecA, "A"},
                          {StandardWeighting::IecC, "C"},
                          {StandardWeighting::Itu468, "468"},
                          {StandardWeighting::Itu468At2k, "468 2k"}};
    for (double rate : {44100.0, 48000.0}) {
        for (const Case& c : cases) {
            SampleWeighting filter;
            ASSERT_TRUE(filter.Design(c.w, rate));
            auto reference = [&](double f) {
                if (c.w == StandardWeighting::IecA || c.w == StandardWeighting::IecC) {
                    return IecDb(f, c.w == StandardWeighting::IecA);
                }
                return FormulaOf(c.w)(f);
            };
            for (double f = 20.0; f <= 16000.0; f *= 1.01) {
                ASSERT_NEAR(filter.ResponseDb(f), reference(f), 0.02) << c.name << " " << rate << " Hz, at " << f;
            }
            // Above 16 kHz: IEC 61672-1 class 1 allows +3.5 dB at 16 kHz and +4.0 at 20 kHz.
            for (double f = 16000.0; f < rate / 2; f *= 1.01) {
                ASSERT_LT(filter.ResponseDb(f) - reference(f), 3.5) << c.name << " " << rate << " Hz, at " << f;
            }
        }
    }
    SampleWeighting none;
    EXPECT_FALSE(none.Design(StandardWeighting::None, 48000.0));
    EXPECT_FALSE(none.Design(StandardWeighting::IecA, 0.0));
    EXPECT_FALSE(none.Designed());
}

TEST(SampleWeighting, ABlockIsFilteredAsOnePeriodOfARepeatingSignal) {
    // A sine on a bin repeats with the block: the weighted block is the steady state, so its
    // DFT at the bin is the input's times the response, in magnitude, at any bin, block length
    // and in place; a constant gives nothing through A.
    SampleWeighting filter;
    ASSERT_TRUE(filter.Design(StandardWeighting::IecA, 48000.0));
    for (int n : {512, 4096}) {
        for (int bin : {1, 3, 40, 200}) {
            std::vector<float> x(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                x[static_cast<std::size_t>(i)] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * bin * i / n + 1.0));
            }
            std::vector<float> y(x.size());
            filter.Apply(x, y);
            std::complex<double> sum = 0.0;
            for (int i = 0; i < n; ++i) sum += static_cast<double>(y[static_cast<std::size_t>(i)]) * std::polar(1.0, -2.0 * std::numbers::pi * bin * i / n);
            const double gain = 20.0 * std::log10(std::abs(sum) / n / 0.25);
            EXPECT_NEAR(gain, filter.ResponseDb(48000.0 * bin / n), 0.001) << n << " points, bin " << bin;
            filter.Apply(x, x);
            EXPECT_EQ(x, y) << "in place, " << n << " points, bin " << bin;
        }
    }
    std::vector<float> dc(1024, 0.3f);
    filter.Apply(dc, dc);
    for (float v : dc) ASSERT_NEAR(v, 0.0f, 1e-6f);
}

TEST(SampleWeighting, AWeightedTonesReadTheStandardsLevelOrTheResolutionNotice) {
    // A sine of amplitude 0.5 off the bins through the A filter, "Bla/Harris", the band
    // 0 .. half the rate: Level reads its RMS plus the weighting within 0.1 dB, or the notice
    // where the tone's lobe meets its mirror image at 0 Hz (20 Hz at 4096 points, below
    // 250 Hz at 512).
    WeightingFilter weighting;
    ASSERT_TRUE(weighting.SelectFilter("A (IEC 61672)"));
    for (double rate : {44100.0, 48000.0}) {
        SampleWeighting filter;
        ASSERT_TRUE(filter.Design(StandardWeighting::IecA, rate));
        for (int n : {512, 4096}) {
            SpectrumTransform st;
            ASSERT_TRUE(st.BuildWindowTable(4, n));
            for (double f : {20.0, 31.5, 63.0, 125.0, 250.0, 1000.0, 4000.0, 8000.0, 12500.0, 16000.0}) {
                std::vector<float> plain(static_cast<std::size_t>(n));
                for (int i = 0; i < n; ++i) {
                    plain[static_cast<std::size_t>(i)] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * f * i / rate + 0.7));
                }
                std::vector<float> weighted(plain.size());
                filter.Apply(plain, weighted);
                ASSERT_TRUE(st.ComputeSpectrum(plain.data(), n));
                ASSERT_TRUE(st.ComputeSpectrum(weighted.data(), n));
                AnalysisParams p;
                p.AnaSampleRate = rate;
                p.AnaFftSize = n;
                p.AnaWindow = 4;
                p.AnaFreqLow = 0;
                p.AnaFreqHigh = static_cast<int>(rate / 2);
                const auto half = static_cast<std::size_t>(n / 2);
                const ChannelSpectrum spectrum(std::span<const float>(plain.data(), half),
                                               std::span<const float>(weighted.data(), half));
                bool tooCoarse = false;
                const double level = MeasureLevel(spectrum, p, weighting, &tooCoarse);
                const bool notice = n == 4096 ? f < 30.0 : f < 200.0;
                const std::string what = std::to_string(rate) + " Hz, " + std::to_string(n) + " points, " + std::to_string(f);
                EXPECT_EQ(tooCoarse, notice) << what;
                if (!notice) {
                    EXPECT_NEAR(level, 20.0 * std::log10(0.5 / std::sqrt(2.0)) + IecDb(f, true), 0.1) << what;
                }
            }
        }
    }
}

}  // namespace
}  // namespace sonvera
