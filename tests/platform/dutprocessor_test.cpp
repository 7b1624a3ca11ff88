// The simulated device under test against analytic references: the bilinear-transformed
// 2nd-order Butterworth response, the harmonic amplitudes of the power series on a
// cosine, the noise RMS.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "platform/dutprocessor.h"

namespace sonvera {
namespace {

constexpr double kPi = std::numbers::pi;

// Amplitude of the component at `freqHz` over the whole of `x` (direct DFT at one
// frequency; exact when `x` holds a whole number of its periods).
double AmplitudeAt(const std::vector<double>& x, double freqHz, double rateHz)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        sum += x[n] * std::polar(1.0, -2.0 * kPi * freqHz * static_cast<double>(n) / rateHz);
    }
    return 2.0 * std::abs(sum) / static_cast<double>(x.size());
}

// Runs `seconds` of a cosine of amplitude `amp` through `dut` and returns the last half.
std::vector<double> SteadyOutput(DutProcessor& dut, double freqHz, double amp, double rateHz,
                                 int samples)
{
    std::vector<double> out;
    for (int n = 0; n < 2 * samples; ++n) {
        const double y = dut.Process(amp * std::cos(2.0 * kPi * freqHz * n / rateHz));
        if (n >= samples) {
            out.push_back(y);
        }
    }
    return out;
}

// |H| of the bilinear 2nd-order Butterworth low-pass / high-pass with pre-warped corner.
double LowPassMagnitude(double f, double fc, double fs)
{
    const double r = std::tan(kPi * f / fs) / std::tan(kPi * fc / fs);
    return 1.0 / std::sqrt(1.0 + std::pow(r, 4));
}

double HighPassMagnitude(double f, double fc, double fs)
{
    const double r = std::tan(kPi * f / fs) / std::tan(kPi * fc / fs);
    return r * r / std::sqrt(1.0 + std::pow(r, 4));
}

TEST(DutProcessor, IdealWirePassesSamplesUnchanged)
{
    DutProcessor dut(DutConfig{}, 44100.0, 1);
    for (double x : {0.0, 1.0, -1.0, 0.123456789, -0.5}) {
        EXPECT_EQ(dut.Process(x), x);
    }
}

TEST(DutProcessor, GainScalesAmplitude)
{
    DutConfig cfg;
    cfg.gainDb = -6.0;
    DutProcessor dut(cfg, 48000.0, 1);
    const auto y = SteadyOutput(dut, 1000.0, 0.5, 48000.0, 4800);
    EXPECT_NEAR(AmplitudeAt(y, 1000.0, 48000.0), 0.5 * std::pow(10.0, -6.0 / 20.0), 1e-12);
}

TEST(DutProcessor, BandPassFollowsAnalyticButterworthResponse)
{
    const double fs = 48000.0;
    DutConfig cfg;
    cfg.highPassHz = 100.0;
    cfg.lowPassHz = 5000.0;
    for (double f : {20.0, 50.0, 100.0, 300.0, 1000.0, 5000.0, 10000.0, 20000.0}) {
        DutProcessor dut(cfg, fs, 1);
        const auto y = SteadyOutput(dut, f, 1.0, fs, 24000);
        const double expected = HighPassMagnitude(f, 100.0, fs) * LowPassMagnitude(f, 5000.0, fs);
        EXPECT_NEAR(AmplitudeAt(y, f, fs) / expected, 1.0, 1e-4) << "at " << f << " Hz";
    }
}

TEST(DutProcessor, CornersAreThreeDecibelsDown)
{
    for (double fs : {44100.0, 96000.0}) {
        DutConfig lp;
        lp.lowPassHz = 8000.0;
        DutProcessor low(lp, fs, 1);
        const auto yl = SteadyOutput(low, 8000.0, 1.0, fs, static_cast<int>(fs / 2));
        EXPECT_NEAR(20.0 * std::log10(AmplitudeAt(yl, 8000.0, fs)), -3.0103, 1e-3);

        DutConfig hp;
        hp.highPassHz = 400.0;
        DutProcessor high(hp, fs, 1);
        const auto yh = SteadyOutput(high, 400.0, 1.0, fs, static_cast<int>(fs / 2));
        EXPECT_NEAR(20.0 * std::log10(AmplitudeAt(yh, 400.0, fs)), -3.0103, 1e-3);
    }
}

TEST(DutProcessor, LowPassAboveNyquistIsLeftOutAndHighPassIsClamped)
{
    DutConfig cfg;
    cfg.lowPassHz = 30000.0;  // above 0.49 * 44100
    DutProcessor dut(cfg, 44100.0, 1);
    EXPECT_EQ(dut.Process(0.25), 0.25);

    DutConfig hp;
    hp.highPassHz = 50000.0;  // placed at 0.49 * fs: low frequencies vanish, output stays finite
    DutProcessor high(hp, 44100.0, 1);
    const auto y = SteadyOutput(high, 1000.0, 1.0, 44100.0, 22050);
    EXPECT_LT(AmplitudeAt(y, 1000.0, 44100.0), 0.01);
    for (double v : y) {
        ASSERT_TRUE(std::isfinite(v));
    }
}

TEST(DutProcessor, HarmonicsHaveTheGivenAmplitudeAtFullScaleAndFallWithLevel)
{
    const double fs = 48000.0;
    DutConfig cfg;
    cfg.h2 = 0.01;
    cfg.h3 = 0.004;
    for (double amp : {1.0, 0.5}) {
        DutProcessor dut(cfg, fs, 1);
        const auto y = SteadyOutput(dut, 1000.0, amp, fs, 4800);
        EXPECT_NEAR(AmplitudeAt(y, 2000.0, fs), 0.01 * amp * amp, 1e-12) << amp;
        EXPECT_NEAR(AmplitudeAt(y, 3000.0, fs), 0.004 * amp * amp * amp, 1e-12) << amp;
        EXPECT_NEAR(AmplitudeAt(y, 1000.0, fs), amp + 3.0 * 0.004 * amp * amp * amp, 1e-12);
        EXPECT_NEAR(AmplitudeAt(y, 4000.0, fs), 0.0, 1e-12);
    }
}

TEST(DutProcessor, NoiseIsWhiteGaussianOfTheGivenRms)
{
    DutConfig cfg;
    cfg.noise = true;
    cfg.noiseDbfs = -60.0;
    DutProcessor dut(cfg, 48000.0, 7);
    const int n = 400000;
    std::vector<double> y(n);
    for (double& v : y) {
        v = dut.Process(0.0);
    }
    double sum = 0.0;
    double sumSq = 0.0;
    double lag1 = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += y[i];
        sumSq += y[i] * y[i];
        if (i > 0) {
            lag1 += y[i] * y[i - 1];
        }
    }
    const double rms = std::sqrt(sumSq / n);
    EXPECT_NEAR(20.0 * std::log10(rms), -60.0, 0.05);
    EXPECT_NEAR(sum / n, 0.0, 1e-5);  // no DC
    EXPECT_NEAR(lag1 / sumSq, 0.0, 0.01);  // neighbours unrelated: white
    // The share of samples beyond k sigma is that of the normal law, erfc(k / sqrt 2).
    const double sigma = 1e-3;
    for (const double k : {1.0, 2.0, 3.0}) {
        const auto beyond = std::count_if(y.begin(), y.end(),
                                          [&](double v) { return std::abs(v) > k * sigma; });
        const double expected = std::erfc(k / std::sqrt(2.0));
        EXPECT_NEAR(static_cast<double>(beyond) / n, expected, 5.0 * std::sqrt(expected / n) + 1e-4)
            << k << " sigma";
    }
}

TEST(DutProcessor, DefaultDeviceShowsSlightRollOffAndLowDistortion)
{
    const double fs = 48000.0;
    DutConfig cfg = DefaultDut();
    cfg.noise = false;  // the noise would hide the harmonics in a short block
    DutProcessor dut(cfg, fs, 1);
    const auto y = SteadyOutput(dut, 1000.0, 1.0, fs, 24000);
    const double fund = AmplitudeAt(y, 1000.0, fs);
    EXPECT_NEAR(20.0 * std::log10(fund), 0.0, 0.01);
    const double thd = std::hypot(AmplitudeAt(y, 2000.0, fs), AmplitudeAt(y, 3000.0, fs)) / fund;
    EXPECT_NEAR(thd, 0.0001, 0.00001);

    DutProcessor edge(cfg, fs, 1);
    const auto y15k = SteadyOutput(edge, 15000.0, 1.0, fs, 24000);
    const double at15k = 20.0 * std::log10(AmplitudeAt(y15k, 15000.0, fs));
    EXPECT_LT(at15k, -0.05);  // audible-band edge already slightly down
    EXPECT_GT(at15k, -0.5);
}

}  // namespace
}  // namespace sonvera
