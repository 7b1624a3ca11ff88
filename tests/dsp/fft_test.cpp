// Transform, windows and magnitude spectrum against independent references.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/fft.h"
#include "dsp/spectrum.h"
#include "dsp/window.h"

namespace sonvera {
namespace {

// The transform read literally: reversed-counter bit reversal, then for each pass the
// twiddle rotated after every q, the butterflies of one q strided by 2m, then division
// by N. The optimised transform must give the same bits.
void PlainFft(float* re, float* im, int n) {
    int j = 0;
    for (int i = 1; i <= n - 1; ++i) {
        int k = n / 2;
        while (j + k > n - 1) k = k / 2;
        j = (j % k) + k;
        if (j > i) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int m = 1; m <= n / 2; m *= 2) {
        const double theta = std::numbers::pi / m;
        const double ct = std::cos(theta);
        const double st = std::sin(theta);
        double wr = 1.0;
        double wi = 0.0;
        for (int q = 0; q <= m - 1; ++q) {
            for (int i = q; i < n; i += 2 * m) {
                const int jj = i + m;
                const double tr = wr * re[jj] - wi * im[jj];
                const double ti = wr * im[jj] + wi * re[jj];
                const double xr = re[i];
                const double xi = im[i];
                re[jj] = static_cast<float>(xr - tr);
                im[jj] = static_cast<float>(xi - ti);
                re[i] = static_cast<float>(xr + tr);
                im[i] = static_cast<float>(xi + ti);
            }
            const double wr2 = wr * ct - wi * st;
            const double wi2 = wi * ct + wr * st;
            wr = wr2;
            wi = wi2;
        }
    }
    for (int i = 0; i < n; ++i) {
        re[i] = re[i] / static_cast<float>(n);
        im[i] = im[i] / static_cast<float>(n);
    }
}

std::vector<float> RandomBlock(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (float& x : v) x = dist(rng);
    return v;
}

class FftPaths : public ::testing::TestWithParam<FftPath> {
protected:
    void SetUp() override { SetFftPath(GetParam()); }
    void TearDown() override { SetFftPath(FftPath::Auto); }
};

INSTANTIATE_TEST_SUITE_P(AllInstructionSets, FftPaths,
                         ::testing::Values(FftPath::Auto, FftPath::Avx, FftPath::Sse2,
                                           FftPath::Scalar));

TEST_P(FftPaths, EqualsThePlainAlgorithmBitForBitAtEverySize) {
    for (int n = 2; n <= kWindowTableSize; n *= 2) {
        std::vector<float> re = RandomBlock(n, 11u + static_cast<unsigned>(n));
        std::vector<float> im = RandomBlock(n, 97u + static_cast<unsigned>(n));
        // Some special values: zeros of both signs and tiny numbers.
        re[0] = -0.0f;
        im[n - 1] = 1e-40f;
        if (n >= 8) {
            re[3] = 0.0f;
            im[3] = -0.0f;
            re[5] = 3e38f;  // large values stay finite through the passes
        }
        std::vector<float> refRe = re;
        std::vector<float> refIm = im;
        ASSERT_TRUE(Fft(re.data(), im.data(), n));
        PlainFft(refRe.data(), refIm.data(), n);
        ASSERT_EQ(0, std::memcmp(re.data(), refRe.data(), re.size() * sizeof(float))) << n;
        ASSERT_EQ(0, std::memcmp(im.data(), refIm.data(), im.size() * sizeof(float))) << n;
    }
}

TEST_P(FftPaths, SpectrumEqualsWindowPlainTransformAndMagnitudesBitForBit) {
    SpectrumTransform st;
    for (int n = 2; n <= kOwnTransformMaxSize; n *= 2) {
        for (int window : {0, 4}) {
            ASSERT_TRUE(st.BuildWindowTable(window, n));
            std::vector<float> x = RandomBlock(n, 1234u + static_cast<unsigned>(n));
            x[0] = 1e-30f;  // magnitude of tiny values must not underflow to 0
            std::vector<float> re = x;
            std::vector<float> im(static_cast<std::size_t>(n), 0.0f);
            for (int i = 0; i < n; ++i) re[static_cast<std::size_t>(i)] *= st.WindowTable()[static_cast<std::size_t>(i)];
            PlainFft(re.data(), im.data(), n);
            ASSERT_TRUE(st.ComputeSpectrum(x.data(), n));
            for (int k = 0; k < n / 2; ++k) {
                const double r = re[static_cast<std::size_t>(k)];
                const double i = im[static_cast<std::size_t>(k)];
                const float expected = static_cast<float>(std::sqrt(r * r + i * i));
                ASSERT_EQ(std::memcmp(&expected, &x[static_cast<std::size_t>(k)], sizeof(float)), 0)
                    << "n " << n << " window " << window << " bin " << k;
            }
        }
    }
}

TEST(Fft, MatchesDirectDftWithPositiveExponentAndOneOverN) {
    for (int n : {2, 8, 64, 1024}) {
        const std::vector<float> inRe = RandomBlock(n, 3u);
        const std::vector<float> inIm = RandomBlock(n, 5u);
        std::vector<float> re = inRe;
        std::vector<float> im = inIm;
        ASSERT_TRUE(Fft(re.data(), im.data(), n));
        double maxErr = 0.0;
        for (int k = 0; k < n; ++k) {
            std::complex<long double> sum = 0.0L;
            for (int t = 0; t < n; ++t) {
                const long double arg = 2.0L * std::numbers::pi_v<long double> *
                                        static_cast<long double>((static_cast<long long>(t) * k) % n) / n;
                sum += std::complex<long double>(inRe[static_cast<std::size_t>(t)],
                                                 inIm[static_cast<std::size_t>(t)]) *
                       std::complex<long double>(std::cos(arg), std::sin(arg));
            }
            sum /= static_cast<long double>(n);
            maxErr = std::max(maxErr, static_cast<double>(std::abs(
                                          sum - std::complex<long double>(re[static_cast<std::size_t>(k)],
                                                                          im[static_cast<std::size_t>(k)]))));
        }
        // Inputs are within +-1, so outputs are of order 1/sqrt(n); single precision.
        EXPECT_LT(maxErr, 2e-7) << n;
    }
}

TEST(Fft, RejectsSizesThatAreNotPowersOfTwoInRange) {
    std::vector<float> re(16384, 1.0f);
    std::vector<float> im(16384, 0.0f);
    for (int n : {0, 1, 3, 1000, 16384, -4}) {
        EXPECT_FALSE(Fft(re.data(), im.data(), n)) << n;
    }
    EXPECT_EQ(re[0], 1.0f);  // untouched
    EXPECT_FALSE(Fft(nullptr, im.data(), 8));
}

// Window weights from the closed form, independently in double precision.
double ClosedFormWindow(int index, int i, int n) {
    static const double a[9][5] = {
        {0.5, 0, 0, 0, 0},
        {0.54, -0.46, 0, 0, 0},
        {0.5, -0.5, 0, 0, 0},
        {0.42, -0.5, 0.08, 0, 0},
        {0.35875, -0.48829, 0.14128, -0.01168, 0},
        {0.1881, -0.36923, 0.28702, -0.13077, 0.02488},
        {0.375, -0.5, 0.125, 0, 0},
        {0.3125, -0.46875, 0.1875, -0.03125, 0},
        {0.2734375, -0.4375, 0.21875, -0.0625, 0.0078125}};
    if (index == 0) return 0.5;
    const double d = 2.0 * std::numbers::pi * i / n;
    double s = 0.0;
    for (int t = 0; t < 5; ++t) s += a[index][t] * std::cos(t * d);
    return 0.5 / a[index][0] * s;  // the mean of the cosine sum is a0: coherent gain 1/2
}

TEST(Window, AllNineWindowsFollowThePeriodicClosedForm) {
    std::vector<float> w(kWindowTableSize);
    for (int index = 0; index < kWindowCount; ++index) {
        for (int n : {2, 512, 4096, 8192}) {
            ASSERT_TRUE(FillWindow(index, n, w.data()));
            for (int i = 0; i < n; ++i) {
                ASSERT_NEAR(w[static_cast<std::size_t>(i)], ClosedFormWindow(index, i, n), 2e-6)
                    << "window " << index << " n " << n << " i " << i;
            }
        }
    }
}

TEST(Window, KnownValuesAtTheEdgesAndTheMiddle) {
    std::vector<float> w(1024);
    ASSERT_TRUE(FillWindow(1, 1024, w.data()));
    EXPECT_NEAR(w[0], 0.08 * 0.5 / 0.54, 5e-7);  // 0.0740741
    EXPECT_NEAR(w[512], 0.5 / 0.54, 5e-7);       // 0.925926
    for (int index : {2, 6, 7, 8}) {
        ASSERT_TRUE(FillWindow(index, 1024, w.data()));
        EXPECT_EQ(w[0], 0.0f) << index;
    }
    ASSERT_TRUE(FillWindow(0, 1024, w.data()));
    for (float x : w) ASSERT_EQ(x, 0.5f);
}

TEST(SpectrumTransform, WindowIndexAboveEightLeavesThePreviousTable) {
    SpectrumTransform st;
    ASSERT_TRUE(st.BuildWindowTable(2, 1024));
    const std::vector<float> before = st.WindowTable();
    EXPECT_FALSE(st.BuildWindowTable(9, 1024));
    EXPECT_FALSE(st.BuildWindowTable(12, 512));
    EXPECT_FALSE(st.BuildWindowTable(1, 1000));
    EXPECT_EQ(st.WindowTable(), before);
    EXPECT_EQ(st.WindowTableIndex(), 2);
    EXPECT_EQ(st.WindowTableSize(), 1024);
}

TEST(SpectrumTransform, ConstantBlockGivesHalfTheValueAtDcOnly) {
    SpectrumTransform st;
    ASSERT_TRUE(st.BuildWindowTable(0, 512));
    std::vector<float> x(512, 0.8f);
    ASSERT_TRUE(st.ComputeSpectrum(x.data(), 512));
    EXPECT_NEAR(x[0], 0.4f, 1e-7);
    for (int k = 1; k < 256; ++k) ASSERT_NEAR(x[static_cast<std::size_t>(k)], 0.0f, 1e-7) << k;
}

std::vector<float> Sine(int n, double bin, double amplitude, double phase = 0.3) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        x[static_cast<std::size_t>(i)] =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * bin * i / n + phase));
    }
    return x;
}

TEST(SpectrumTransform, SineOnABinGivesAQuarterOfItsAmplitude) {
    SpectrumTransform st;
    ASSERT_TRUE(st.BuildWindowTable(0, 1024));
    std::vector<float> x = Sine(1024, 64, 1.0);
    ASSERT_TRUE(st.ComputeSpectrum(x.data(), 1024));
    EXPECT_NEAR(x[64], 0.25f, 1e-6);
    for (int k = 0; k < 512; ++k) {
        if (k != 64) {
            ASSERT_NEAR(x[static_cast<std::size_t>(k)], 0.0f, 2e-6) << k;
        }
    }

    ASSERT_TRUE(st.BuildWindowTable(2, 1024));  // "van Hann"
    x = Sine(1024, 64, 1.0);
    ASSERT_TRUE(st.ComputeSpectrum(x.data(), 1024));
    EXPECT_NEAR(x[64], 0.25f, 1e-6);
    EXPECT_NEAR(x[63], 0.125f, 1e-6);
    EXPECT_NEAR(x[65], 0.125f, 1e-6);
    for (int k = 0; k < 512; ++k) {
        if (k < 63 || k > 65) {
            ASSERT_NEAR(x[static_cast<std::size_t>(k)], 0.0f, 2e-6) << k;
        }
    }
}

TEST(SpectrumTransform, NyquistComponentIsNeverReported) {
    SpectrumTransform st;
    ASSERT_TRUE(st.BuildWindowTable(0, 512));
    std::vector<float> x(512);
    for (int i = 0; i < 512; ++i) x[static_cast<std::size_t>(i)] = (i % 2 == 0) ? 1.0f : -1.0f;
    ASSERT_TRUE(st.ComputeSpectrum(x.data(), 512));
    for (int k = 0; k < 256; ++k) ASSERT_NEAR(x[static_cast<std::size_t>(k)], 0.0f, 1e-7) << k;
}

TEST(SpectrumTransform, RefusesABlockWhenTheTableWasBuiltForAnotherSize) {
    SpectrumTransform st;
    std::vector<float> x(1024, 1.0f);
    EXPECT_FALSE(st.ComputeSpectrum(x.data(), 1024));  // no table yet
    ASSERT_TRUE(st.BuildWindowTable(3, 512));
    EXPECT_FALSE(st.ComputeSpectrum(x.data(), 1024));
    for (float v : x) ASSERT_EQ(v, 1.0f);
    EXPECT_TRUE(st.ComputeSpectrum(x.data(), 512));
}

TEST(SpectrumTransform, RepeatedBlocksGiveIdenticalResults) {
    // The work buffer is reused: a second call must not see the first call's data.
    SpectrumTransform st;
    ASSERT_TRUE(st.BuildWindowTable(4, 4096));
    const std::vector<float> block = RandomBlock(4096, 42u);
    std::vector<float> a = block;
    std::vector<float> b = block;
    ASSERT_TRUE(st.ComputeSpectrum(a.data(), 4096));
    ASSERT_TRUE(st.ComputeSpectrum(b.data(), 4096));
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), 2048 * sizeof(float)));
}

TEST(Window, GainNoiseBandwidthLobeAndKernelFollowFromTheWeights) {
    // Against each window's own weights: the coherent gain (their mean) is 1/2 for all nine,
    // the noise bandwidth is N·Σw²/(Σw)², a tone d bins off a bin leaves the kernel at j - d
    // in the bin j away, and the lobe's first null lies at its half-width.
    const int n = 1024;
    std::vector<float> w(static_cast<std::size_t>(n));
    for (int index = 0; index < kWindowCount; ++index) {
        ASSERT_TRUE(FillWindow(index, n, w.data()));
        double sum = 0.0;
        double squares = 0.0;
        for (float v : w) {
            sum += v;
            squares += static_cast<double>(v) * v;
        }
        const WindowShape shape = ShapeOfWindow(index);
        EXPECT_NEAR(sum / n, 0.5, 1e-7) << index;
        EXPECT_NEAR(shape.noiseBandwidthBins, n * squares / (sum * sum), 1e-6) << index;
        for (double d : {0.0, 0.37}) {
            for (int j : {0, 1, 2, -1, shape.lobeHalfWidthBins, shape.lobeHalfWidthBins + 3}) {
                // Direct DFT at bin 100 + j of the window times e^(i·2π·(100 + d)·t/N), over
                // the coherent gain: what a tone on a bin leaves in its own bin.
                std::complex<double> z = 0.0;
                for (int i = 0; i < n; ++i) {
                    z += static_cast<double>(w[static_cast<std::size_t>(i)]) *
                         std::polar(1.0, 2.0 * std::numbers::pi * (d - j) * i / n);
                }
                EXPECT_NEAR(WindowKernel(index, n, j - d), std::abs(z) / n / 0.5, 1e-6)
                    << kWindowNames[static_cast<std::size_t>(index)] << " d " << d << " j " << j;
            }
        }
        EXPECT_LT(WindowKernel(index, n, shape.lobeHalfWidthBins), 1e-6) << index;
    }
}

TEST(Window, MirrorErrorIsTheSpreadOfASinesPowerOverItsPhase) {
    // The power of a sine summed over the one-sided bins (bin 0 counted half), for 32 phases:
    // its largest departure from the mean, against the predicted excursion.
    const int n = 512;
    SpectrumTransform st;
    struct Case {
        int window;
        double bin;
    };
    for (const Case c : {Case{0, 1.71}, Case{0, 20.5}, Case{4, 1.71}, Case{4, 2.69}, Case{5, 3.1}, Case{2, 1.2}}) {
        ASSERT_TRUE(st.BuildWindowTable(c.window, n));
        double lo = 1e9;
        double hi = 0.0;
        for (int p = 0; p < 32; ++p) {
            std::vector<float> x = Sine(n, c.bin, 1.0, std::numbers::pi * p / 32);
            ASSERT_TRUE(st.ComputeSpectrum(x.data(), n));
            double power = 0.5 * x[0] * x[0];
            for (int k = 1; k < n / 2; ++k) power += static_cast<double>(x[static_cast<std::size_t>(k)]) * x[static_cast<std::size_t>(k)];
            lo = std::min(lo, power);
            hi = std::max(hi, power);
        }
        const double mean = 0.5 * (lo + hi);
        const double spread = std::max(10.0 * std::log10(mean / lo), 10.0 * std::log10(hi / mean));
        EXPECT_NEAR(WindowMirrorErrorDb(c.window, n, c.bin), spread, 0.02 + 0.05 * spread)
            << "window " << c.window << " bin " << c.bin;
    }
}


// |sum x[i] w[i] e^(-2 pi i k i / n)| / n, directly in double with the test's own window.
double DirectBin(const std::vector<float>& x, int window, int k) {
    const auto n = static_cast<int>(x.size());
    std::complex<double> sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double phase = -2.0 * std::numbers::pi * static_cast<double>((static_cast<long long>(k) * i) % n) / n;
        sum += static_cast<double>(x[static_cast<std::size_t>(i)]) * ClosedFormWindow(window, i, n) *
               std::polar(1.0, phase);
    }
    return std::abs(sum) / n;
}

TEST(SpectrumTransform, ToneReadsTheSameLevelAtEverySize) {
    // A -6 dBFS tone at 1000.5 Hz, 48 kHz, through the Flat-Top window: its peak bin gives
    // the amplitude (a quarter of it) within 0.05 dB at every size, own transform and FFTW
    // alike; the peak bin and its neighbours equal a direct DFT of the windowed block.
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    const double rate = 48000.0;
    SpectrumTransform st;
    for (int n = 512; n <= kMaxSpectrumSize; n *= 2) {
        if (n == 524288) continue;  // the longest two take the most time under checks
        ASSERT_TRUE(st.BuildWindowTable(5, n)) << n;
        const std::vector<float> block = Sine(n, 1000.5 * n / rate, amplitude);
        std::vector<float> x = block;
        ASSERT_TRUE(st.ComputeSpectrum(x.data(), n)) << n;
        int peak = 0;
        for (int k = 1; k < n / 2; ++k) {
            if (x[static_cast<std::size_t>(k)] > x[static_cast<std::size_t>(peak)]) peak = k;
        }
        EXPECT_NEAR(20.0 * std::log10(4.0 * x[static_cast<std::size_t>(peak)]), -6.0, 0.05) << n;
        for (int k : {peak - 3, peak, peak + 1}) {
            const double direct = DirectBin(block, 5, k);
            EXPECT_NEAR(x[static_cast<std::size_t>(k)], direct, 2e-6 * amplitude) << n << " bin " << k;
        }
    }
    EXPECT_EQ(st.PlansMade(), 7);  // 8192..1048576 without 524288, each planned once
}

TEST(SpectrumTransform, BinCentredToneAgreesWithinAHundredthOfADbAcrossTheTwoTransforms) {
    // The same tone on bin 64 of every size, every window: own transform up to 4096, FFTW
    // above, the same magnitude; a size beyond the largest is refused.
    SpectrumTransform st;
    for (int window = 0; window < kWindowCount; ++window) {
        for (int n : {4096, 8192, 16384}) {
            ASSERT_TRUE(st.BuildWindowTable(window, n));
            std::vector<float> x = Sine(n, 64.0 * n / 4096, 1.0);
            ASSERT_TRUE(st.ComputeSpectrum(x.data(), n));
            EXPECT_NEAR(20.0 * std::log10(4.0 * x[static_cast<std::size_t>(64 * n / 4096)]), 0.0, 0.01)
                << "window " << window << " n " << n;
        }
    }
    EXPECT_FALSE(st.BuildWindowTable(5, 2 * kMaxSpectrumSize));
    EXPECT_EQ(st.WindowTableSize(), 16384);
}

TEST(SpectrumTransform, HumAndItsHarmonicsReadTheirAmplitudesAt65536Points) {
    // 50 Hz with harmonics at 100, 150 and 200 Hz, 48 kHz, 65536 points (0.73 Hz a bin):
    // every peak within 0.1 dB of its amplitude through the Flat-Top window.
    constexpr int n = 65536;
    constexpr double rate = 48000.0;
    const double amplitudes[] = {0.5, 0.05, 0.02, 0.005};
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        for (int h = 0; h < 4; ++h) v += amplitudes[h] * std::sin(2.0 * std::numbers::pi * 50.0 * (h + 1) * i / rate + h);
        x[static_cast<std::size_t>(i)] = static_cast<float>(v);
    }
    SpectrumTransform st;
    ASSERT_TRUE(st.BuildWindowTable(5, n));
    ASSERT_TRUE(st.ComputeSpectrum(x.data(), n));
    for (int h = 0; h < 4; ++h) {
        const int centre = static_cast<int>(std::lround(50.0 * (h + 1) * n / rate));
        float peak = 0.0f;
        for (int k = centre - 2; k <= centre + 2; ++k) peak = std::max(peak, x[static_cast<std::size_t>(k)]);
        EXPECT_NEAR(20.0 * std::log10(4.0 * peak / amplitudes[h]), 0.0, 0.1) << "harmonic " << h + 1;
    }
}

}  // namespace
}  // namespace sonvera
