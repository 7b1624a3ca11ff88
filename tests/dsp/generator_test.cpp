// Generator buffer contents: exact values of the periodic waveforms in every sample
// width, the noise sequence, channel handling, clipping, and the pink-noise bank.

#include "dsp/generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <vector>

namespace sonvera {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr long double kPiL = 3.141592653589793238462643383279502884L;

// round(scale·a·sin(arg)), halves to even, the sine in extended precision. Frame j's
// argument is j·Δ with the step Δ = 2π·f/fs formed first; at exact halves such as
// sin 30° the last bit of the argument decides the rounding direction.
double RefSample(double scale, double a, long double arg) {
    return static_cast<double>(std::nearbyint(scale * a * std::sin(arg)));
}

struct Frames16 {
    std::vector<std::int16_t> left, right;
};

GeneratorParams Params(int waveform, int freq = 1000, int levelL = 0, int levelR = 0,
                       int phaseL = 0, int phaseR = 0) {
    GeneratorParams p;
    p.frequencyHz = freq;
    p.levelLeftDb = levelL;
    p.levelRightDb = levelR;
    p.phaseLeftDeg = phaseL;
    p.phaseRightDeg = phaseR;
    p.waveform = waveform;
    return p;
}

Frames16 Fill16(Generator& gen, const GeneratorParams& p, int fs, std::size_t frames) {
    std::vector<std::int16_t> raw(2 * frames);
    EXPECT_TRUE(gen.FillGeneratorBuffer(raw.data(), raw.size() * 2, 16, fs, p));
    Frames16 f;
    for (std::size_t j = 0; j < frames; ++j) {
        f.left.push_back(raw[2 * j]);
        f.right.push_back(raw[2 * j + 1]);
    }
    return f;
}

std::vector<std::int32_t> Fill32(Generator& gen, const GeneratorParams& p, int fs,
                                 std::size_t frames, int bits = 32) {
    std::vector<std::int32_t> raw(2 * frames);
    EXPECT_TRUE(gen.FillGeneratorBuffer(raw.data(), raw.size() * 4, bits, fs, p));
    return raw;
}

std::vector<std::uint8_t> Fill8(Generator& gen, const GeneratorParams& p, int fs,
                                std::size_t frames) {
    std::vector<std::uint8_t> raw(2 * frames);
    EXPECT_TRUE(gen.FillGeneratorBuffer(raw.data(), raw.size(), 8, fs, p));
    return raw;
}

TEST(NoiseGenerator, FollowsTheCongruentialSequenceFromSeedZero) {
    // seed ← seed·134775813 + 1 (mod 2^32), worked out by hand from 0.
    NoiseGenerator g;
    EXPECT_EQ(g.Seed(), 0u);
    const std::uint32_t seeds[] = {1u, 134775814u, 3698175007u, 870078620u, 1172187917u};
    for (std::uint32_t s : seeds) {
        const double u = g.NextUniform();
        EXPECT_EQ(g.Seed(), s);
        EXPECT_EQ(u, s / 4294967296.0);
        EXPECT_GE(u, 0.0);
        EXPECT_LT(u, 1.0);
    }
    NoiseGenerator h;
    EXPECT_DOUBLE_EQ(h.NextSigned(), 2.0 / 4294967296.0 - 1.0);
    EXPECT_DOUBLE_EQ(h.NextSigned(), 2.0 * 134775814.0 / 4294967296.0 - 1.0);
}

TEST(GeneratorSine, ThousandHertzAt48kHasExactPeaksAndStartsAtZero) {
    Generator gen;
    const auto f = Fill16(gen, Params(kWaveSine), 48000, 480);
    EXPECT_EQ(f.left[0], 0);
    EXPECT_EQ(f.left[12], 32767);
    EXPECT_EQ(f.left[36], -32767);
    EXPECT_EQ(f.left[24], 0);
    for (std::size_t j = 0; j < f.left.size(); ++j) {
        const double ref = RefSample(32767, 1.0, j * (2 * kPiL * 1000 / 48000));
        ASSERT_EQ(f.left[j], ref) << j;
        ASSERT_EQ(f.right[j], f.left[j]) << j;
        ASSERT_LE(std::abs(f.left[j]), 32767);
    }
}

TEST(GeneratorSine, LevelAndPhaseArePerChannel) {
    Generator gen;
    // Left −6 dB, right 0 dB with 90°: right starts at the peak, left peaks at half scale.
    const auto f = Fill16(gen, Params(kWaveSine, 1000, -6, 0, 0, 90), 48000, 48);
    EXPECT_EQ(f.right[0], 32767);
    EXPECT_EQ(f.right[24], -32767);
    const double a = std::pow(10.0, -6.0 / 20.0);
    EXPECT_EQ(f.left[12], std::lround(32767 * a));  // 16422
    EXPECT_EQ(f.left[12], 16422);
    for (std::size_t j = 0; j < 48; ++j) {
        const long double arg = j * (2 * kPiL * 1000 / 48000);
        ASSERT_EQ(f.left[j], RefSample(32767, a, arg)) << j;
        ASSERT_EQ(f.right[j], RefSample(32767, 1, arg + kPiL / 2)) << j;
    }
}

TEST(GeneratorSine, MinusHundredDecibelsSilencesOnlyThatChannel) {
    Generator gen;
    const auto f = Fill16(gen, Params(kWaveSine, 1000, 0, -100), 48000, 96);
    EXPECT_EQ(f.left[12], 32767);
    for (auto v : f.right) ASSERT_EQ(v, 0);

    const auto w = Fill32(gen, Params(kWaveSine, 1000, -100, 0), 48000, 96);
    for (std::size_t j = 0; j < 96; ++j) ASSERT_EQ(w[2 * j], 0);
    EXPECT_EQ(w[2 * 12 + 1], 2147483392);

    const auto b = Fill8(gen, Params(kWaveSquare, 1000, -100, 0), 48000, 96);
    for (std::size_t j = 0; j < 96; ++j) ASSERT_EQ(b[2 * j], 128);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[2 * 12 + 1], 255);

    // −99 dB is not silence: a tiny but present signal in 32-bit.
    const auto q = Fill32(gen, Params(kWaveSine, 1000, -99, -99), 48000, 24);
    EXPECT_EQ(q[2 * 12], std::lround(2147483392.0 * std::pow(10.0, -99.0 / 20)));
}

TEST(GeneratorWidths, EightBitIsOffsetBinaryWiderWidthsAreSigned) {
    Generator gen;
    const auto b = Fill8(gen, Params(kWaveSine), 48000, 48);
    EXPECT_EQ(b[0], 128);
    EXPECT_EQ(b[2 * 12], 255);
    EXPECT_EQ(b[2 * 36], 1);
    for (std::size_t j = 0; j < 48; ++j) {
        const double ref = 128 + RefSample(127, 1, j * (2 * kPiL * 1000 / 48000));
        ASSERT_EQ(b[2 * j], ref) << j;
        ASSERT_EQ(b[2 * j + 1], b[2 * j]);
    }

    const auto w = Fill32(gen, Params(kWaveSine), 48000, 48);
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(w[2 * 12], 2147483392);   // 2^31 − 256
    EXPECT_EQ(w[2 * 36], -2147483392);
    EXPECT_EQ(w[2 * 12] & 0xFF, 0);
    // 24-bit formats travel in 32-bit containers.
    const auto w24 = Fill32(gen, Params(kWaveSine), 48000, 48, 24);
    EXPECT_EQ(w24, w);

    // Little-endian byte order in the buffer.
    std::uint8_t raw[8 * 13] = {};
    ASSERT_TRUE(gen.FillGeneratorBuffer(raw, sizeof raw, 32, 48000, Params(kWaveSine)));
    EXPECT_EQ(raw[8 * 12 + 0], 0x00);
    EXPECT_EQ(raw[8 * 12 + 1], 0xFF);
    EXPECT_EQ(raw[8 * 12 + 3], 0x7F);
}

TEST(GeneratorSquare, StartsLowAndTakesOnlyTheTwoFullScaleLevels) {
    Generator gen;
    const auto f = Fill16(gen, Params(kWaveSquare), 48000, 96);
    EXPECT_EQ(f.left[0], -32767);  // sin(0) is not greater than 0
    EXPECT_EQ(f.left[1], 32767);
    EXPECT_EQ(f.left[23], 32767);
    EXPECT_EQ(f.left[25], -32767);
    int high = 0;
    for (auto v : f.left) {
        ASSERT_TRUE(v == 32767 || v == -32767) << v;
        high += v > 0;
    }
    EXPECT_NEAR(high, 48, 2);

    const auto b = Fill8(gen, Params(kWaveSquare), 44100, 441);
    for (auto v : b) ASSERT_TRUE(v == 255 || v == 1) << int(v);
    EXPECT_EQ(b[0], 1);

    // Right at 180°: the opposite level except where the sine crosses zero.
    const auto g = Fill16(gen, Params(kWaveSquare, 1000, -6, -6, 0, 180), 48000, 48);
    const std::int16_t half = static_cast<std::int16_t>(std::lround(32767 * std::pow(10.0, -0.3)));
    EXPECT_EQ(g.left[5], half);
    EXPECT_EQ(g.right[5], -half);
    EXPECT_EQ(g.left[30], -half);
    EXPECT_EQ(g.right[30], half);
}

TEST(GeneratorNoise, WhiteNoiseFollowsTheSequenceOneNumberPerFrame) {
    Generator gen;
    const auto f = Fill16(gen, Params(kWaveWhiteNoise), 44100, 5);
    // round(32767·(2u − 1)) for the first five seeds, worked out by hand.
    const std::int16_t expected[] = {-32767, -30711, 23661, -19491, -14881};
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(f.left[j], expected[j]) << j;
        EXPECT_EQ(f.right[j], expected[j]) << j;
    }
    EXPECT_EQ(gen.Noise().Seed(), 1172187917u);

    // The next buffer goes on with the sequence: never reseeded.
    NoiseGenerator ref;
    for (int i = 0; i < 5; ++i) ref.NextUniform();
    const auto next = Fill8(gen, Params(kWaveWhiteNoise), 44100, 1000);
    for (std::size_t j = 0; j < 1000; ++j) {
        const double x = ref.NextSigned();
        ASSERT_EQ(next[2 * j], 128 + std::lround(127 * x)) << j;
    }
    EXPECT_EQ(gen.Noise().Seed(), ref.Seed());
}

TEST(GeneratorNoise, DifferentPhasesInvertTheRightChannelExactly) {
    for (int waveform : {kWaveWhiteNoise, kWavePinkNoise}) {
        Generator gen;
        const auto f = Fill16(gen, Params(waveform, 1000, 0, 0, 0, 180), 44100, 4000);
        for (std::size_t j = 0; j < f.left.size(); ++j)
            ASSERT_EQ(f.right[j], -f.left[j]) << waveform << " " << j;
        // Phases that are merely different (not 180 apart) do the same.
        Generator again;
        const auto g = Fill16(again, Params(waveform, 1000, 0, 0, 10, 20), 44100, 4000);
        EXPECT_EQ(g.left, f.left);
        EXPECT_EQ(g.right, f.right);
        // Equal phases give identical channels.
        Generator same;
        const auto h = Fill16(same, Params(waveform, 1000, 0, 0, 90, 90), 44100, 4000);
        EXPECT_EQ(h.left, f.left);
        EXPECT_EQ(h.right, h.left);
    }
}

TEST(GeneratorClipping, LevelsAboveFullScaleClipInsteadOfWrapping) {
    Generator gen;
    // +6 dB: the product reaches 1.995 of full scale around the peaks.
    const auto f = Fill16(gen, Params(kWaveSine, 1000, 6, 6), 48000, 48);
    const double a = std::pow(10.0, 6.0 / 20.0);
    int clipped = 0;
    for (std::size_t j = 0; j < 48; ++j) {
        const double ideal = 32767 * a * std::sin(2 * kPi * j / 48.0);
        const double expected = std::round(std::clamp(ideal, -32767.0, 32767.0));
        ASSERT_EQ(f.left[j], expected) << j;
        clipped += std::fabs(ideal) > 32767;
    }
    EXPECT_GT(clipped, 10);
    EXPECT_EQ(f.left[12], 32767);
    EXPECT_EQ(f.left[36], -32767);

    const auto b = Fill8(gen, Params(kWaveSine, 1000, 20, 20), 48000, 48);
    EXPECT_EQ(b[2 * 12], 255);
    EXPECT_EQ(b[2 * 36], 1);
    for (std::size_t j = 1; j < 24; ++j) ASSERT_GT(b[2 * j], 128) << j;
    for (std::size_t j = 25; j < 48; ++j) ASSERT_LT(b[2 * j], 128) << j;

    const auto w = Fill32(gen, Params(kWaveSquare, 1000, 1, 1), 48000, 48);
    for (std::size_t j = 0; j < 96; ++j)
        ASSERT_TRUE(w[j] == 2147483392 || w[j] == -2147483392) << j;

    // Absurd levels (as an output correction might produce) still give full scale.
    const auto huge = Fill32(gen, Params(kWaveSine, 1000, 2000000000, -2000000000), 48000, 48);
    EXPECT_EQ(huge[2 * 12], 2147483392);
    EXPECT_EQ(huge[2 * 36], -2147483392);
    EXPECT_EQ(huge[0], 0);  // sin 0 stays 0 even at an infinite amplitude
    EXPECT_EQ(huge[2 * 12 + 1], 0);
}

TEST(GeneratorClipping, LoudPinkNoiseKeepsTheSignOfEveryValue) {
    Generator loud, ref;
    const auto f = Fill16(loud, Params(kWavePinkNoise, 1000, 30, 30), 44100, 8000);
    const auto r = Fill32(ref, Params(kWavePinkNoise, 1000, 0, 0), 44100, 8000);
    int clipped = 0;
    for (std::size_t j = 0; j < 8000; ++j) {
        const double x = r[2 * j] / 2147483392.0;
        const double ideal = 32767 * std::pow(10.0, 1.5) * x;
        if (std::fabs(ideal) > 32767.5) {
            ++clipped;
            ASSERT_EQ(f.left[j], ideal > 0 ? 32767 : -32767) << j;
        } else {
            ASSERT_NEAR(f.left[j], ideal, 1.0) << j;
        }
    }
    EXPECT_GT(clipped, 100);
}

TEST(GeneratorBuffer, WritesWholeFramesAndRejectsBadFormats) {
    Generator gen;
    std::vector<std::uint8_t> raw(4 * 10 + 3, 0xAB);
    ASSERT_TRUE(gen.FillGeneratorBuffer(raw.data(), raw.size(), 16, 48000, Params(kWaveSine)));
    for (std::size_t i = 40; i < raw.size(); ++i) EXPECT_EQ(raw[i], 0xAB) << i;

    std::vector<std::uint8_t> untouched(64, 0xCD);
    for (int bits : {0, 4, 12, 20, 64, -16}) {
        EXPECT_FALSE(gen.FillGeneratorBuffer(untouched.data(), 64, bits, 48000, Params(kWaveSine)))
            << bits;
    }
    EXPECT_FALSE(gen.FillGeneratorBuffer(untouched.data(), 64, 16, 0, Params(kWaveSine)));
    EXPECT_FALSE(gen.FillGeneratorBuffer(untouched.data(), 64, 16, -44100, Params(kWaveSine)));
    EXPECT_FALSE(gen.FillGeneratorBuffer(nullptr, 64, 16, 44100, Params(kWaveSine)));
    for (auto v : untouched) ASSERT_EQ(v, 0xCD);
    EXPECT_TRUE(gen.FillGeneratorBuffer(untouched.data(), 0, 16, 44100, Params(kWaveSine)));

    // The user-file waveform is not synthesised: the buffer is made silent.
    std::vector<std::uint8_t> b8(32, 7);
    EXPECT_FALSE(gen.FillGeneratorBuffer(b8.data(), 32, 8, 44100, Params(kWaveUserFile)));
    for (auto v : b8) ASSERT_EQ(v, 128);
    std::vector<std::int16_t> b16(16, 7);
    EXPECT_FALSE(gen.FillGeneratorBuffer(b16.data(), 32, 16, 44100, Params(99)));
    for (auto v : b16) ASSERT_EQ(v, 0);
    EXPECT_EQ(gen.Noise().Seed(), 0u);  // nothing drawn for these
}

// ---- pink noise ----

TEST(PinkBank, SectionCountsAndShelfFollowTheRate) {
    struct Expect {
        int fs, peaking, shelfHz;
    };
    const Expect cases[] = {{44100, 11, 18375}, {22050, 10, 9188}, {11025, 9, 4594},
                            {48000, 11, 20000}, {8000, 8, 3333},   {192000, 13, 80000},
                            {40, 0, 17}};
    for (const auto& c : cases) {
        PinkBank bank;
        bank.Setup(c.fs);
        EXPECT_EQ(bank.PeakingCount(), c.peaking) << c.fs;
        EXPECT_EQ(bank.ShelfFrequency(), c.shelfHz) << c.fs;
        EXPECT_EQ(bank.Cascade().count, c.peaking + 1) << c.fs;
    }
    PinkBank none;
    none.Setup(0);
    EXPECT_EQ(none.Cascade().count, 0);
    none.Setup(2);  // no section can be designed below half of 2 Hz
    EXPECT_EQ(none.Cascade().count, 0);
    EXPECT_EQ(none.Process(0.25), 0.25);
}

std::complex<double> SectionResponse(const BiquadCoeffs& c, double f, double fs) {
    const std::complex<double> zi = std::polar(1.0, -2 * kPi * f / fs);
    return (c.b0 + c.b1 * zi + c.b2 * zi * zi) / (1.0 - c.a1 * zi - c.a2 * zi * zi);
}

TEST(PinkBank, EachOctaveSectionCutsItsOwnCentre) {
    PinkBank bank;
    bank.Setup(44100);
    const auto& cascade = bank.Cascade();
    for (int i = 0; i < bank.PeakingCount(); ++i) {
        const double fc = 20.0 * (1 << i);
        EXPECT_NEAR(20 * std::log10(std::abs(SectionResponse(cascade.coeffs[i], fc, 44100))),
                    -(i + 1.0), 1e-9)
            << fc;
    }
    const auto& shelf = cascade.coeffs[bank.PeakingCount()];
    EXPECT_NEAR(std::abs(SectionResponse(shelf, 0, 44100)), 1.0, 1e-9);
    EXPECT_NEAR(20 * std::log10(std::abs(SectionResponse(shelf, 22050, 44100))), -30, 1e-6);
}

// In-place radix-2 FFT, written plainly for the test.
void Fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const auto w = std::polar(1.0, -2 * kPi / len);
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1;
            for (std::size_t k = 0; k < len / 2; ++k, wk *= w) {
                const auto u = a[i + k], v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// Averaged power density of the left channel per bin (Hann window, no overlap).
std::vector<double> AveragedDensity(const std::vector<std::int32_t>& frames, std::size_t n) {
    std::vector<double> sum(n / 2, 0.0);
    const std::size_t blocks = frames.size() / 2 / n;
    std::vector<std::complex<double>> buf(n);
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; i < n; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * kPi * i / n);
            buf[i] = w * frames[2 * (b * n + i)] / 2147483392.0;
        }
        Fft(buf);
        for (std::size_t k = 0; k < n / 2; ++k) sum[k] += std::norm(buf[k]);
    }
    for (auto& s : sum) s /= blocks;
    return sum;
}

// Mean of the density over the third-octave band around fc, in dB.
double BandDb(const std::vector<double>& density, double fc, double binHz) {
    const double lo = fc * std::pow(2.0, -1.0 / 6), hi = fc * std::pow(2.0, 1.0 / 6);
    double sum = 0;
    int count = 0;
    for (std::size_t k = 1; k < density.size(); ++k) {
        const double f = k * binHz;
        if (f >= lo && f <= hi) {
            sum += density[k];
            ++count;
        }
    }
    EXPECT_GT(count, 0) << fc;
    return 10 * std::log10(sum / count);
}

TEST(PinkNoise, SpectrumFallsThreeDecibelsPerOctave) {
    const int fs = 44100;
    const std::size_t n = 8192;
    const std::size_t blocks = 192;
    Generator gen;
    const auto frames = Fill32(gen, Params(kWavePinkNoise), fs, n * blocks);
    const auto density = AveragedDensity(frames, n);
    const double binHz = double(fs) / n;

    // The bank's own response, evaluated from its sections, averaged the same way.
    const auto& cascade = gen.Pink().Cascade();
    auto bankDb = [&](double fc) {
        const double lo = fc * std::pow(2.0, -1.0 / 6), hi = fc * std::pow(2.0, 1.0 / 6);
        double sum = 0;
        int count = 0;
        for (std::size_t k = 1; k < n / 2; ++k) {
            const double f = k * binHz;
            if (f < lo || f > hi) continue;
            double g = 1;
            for (int i = 0; i < cascade.count; ++i)
                g *= std::norm(SectionResponse(cascade.coeffs[i], f, fs));
            sum += g;
            ++count;
        }
        return 10 * std::log10(sum / count);
    };

    const double centres[] = {50, 63, 80, 100, 160, 250, 400, 630, 1000,
                              1600, 2500, 4000, 6300, 8000, 10000};
    const double refMeasured = BandDb(density, 1000, binHz);
    const double refBank = bankDb(1000);
    std::vector<double> residual;
    for (double fc : centres) {
        const double measured = BandDb(density, fc, binHz) - refMeasured;
        const double bank = bankDb(fc) - refBank;
        const double ideal = -10 * std::log10(fc / 1000);  // −3.01 dB per octave
        SCOPED_TRACE(::testing::Message() << fc << " Hz: measured " << measured << " bank "
                                          << bank << " ideal " << ideal);
        // The generated noise has the spectrum of the bank.
        EXPECT_NEAR(measured, bank, 0.5);
        std::printf("%6.0f Hz  measured %6.2f dB  bank %6.2f dB  ideal %6.2f dB\n", fc, measured,
                    bank, ideal);
        residual.push_back(measured - ideal);
    }
    // Against the ideal −3 dB per octave line, its level fitted to the middle of the
    // residuals: the bank's response bends down at both ends of the band, so it keeps
    // within ±1 dB from 100 Hz to 6.3 kHz and within ±1.25 dB from 50 Hz to 10 kHz.
    auto halfSpread = [&](double from, double to) {
        double lo = 1e9, hi = -1e9;
        for (std::size_t i = 0; i < residual.size(); ++i) {
            if (centres[i] < from || centres[i] > to) continue;
            lo = std::min(lo, residual[i]);
            hi = std::max(hi, residual[i]);
        }
        return 0.5 * (hi - lo);
    };
    EXPECT_LE(halfSpread(100, 6300), 1.0);
    EXPECT_LE(halfSpread(50, 10000), 1.25);
    // Octave to octave, the fall stays between 2 and 4 dB over the central range.
    for (double f : {100.0, 250.0, 500.0, 1000.0, 2000.0}) {
        const double fall = BandDb(density, f, binHz) - BandDb(density, 2 * f, binHz);
        EXPECT_GT(fall, 2.0) << f;
        EXPECT_LT(fall, 4.0) << f;
    }
}

TEST(PinkNoise, BankIsSetUpAgainForEachBufferAtItsRate) {
    Generator gen;
    std::vector<std::int16_t> buf(2 * 256);
    ASSERT_TRUE(gen.FillGeneratorBuffer(buf.data(), buf.size() * 2, 16, 22050,
                                        Params(kWavePinkNoise)));
    EXPECT_EQ(gen.Pink().ShelfFrequency(), 9188);
    ASSERT_TRUE(gen.FillGeneratorBuffer(buf.data(), buf.size() * 2, 16, 11025,
                                        Params(kWavePinkNoise)));
    EXPECT_EQ(gen.Pink().PeakingCount(), 9);
    EXPECT_EQ(gen.Pink().ShelfFrequency(), 4594);

    // The first pink value is the first white value through a freshly cleared bank.
    Generator a;
    PinkBank bank;
    bank.Setup(44100);
    NoiseGenerator noise;
    const auto f = Fill32(a, Params(kWavePinkNoise), 44100, 300);
    for (std::size_t j = 0; j < 300; ++j) {
        const double x = bank.Process(noise.NextSigned());
        ASSERT_NEAR(f[2 * j], 2147483392.0 * x, 0.5) << j;
    }
}

TEST(PinkNoise, ShelfStateCarriesOverIntoTheNextBufferWhileOctaveSectionsRestart) {
    // Reference built from the biquad kit directly: eleven octave sections and the
    // shelf at 44100 Hz; between the buffers only the octave sections are cleared.
    BiquadDesigner designer(44100);
    std::vector<BiquadCoeffs> coeffs(12);
    for (int i = 0; i < 11; ++i) {
        ASSERT_TRUE(designer.DesignBiquad(kBiquadPeaking, 20 << i, coeffs[static_cast<std::size_t>(i)],
                                          -(i + 1.0), 1.0));
    }
    ASSERT_TRUE(designer.DesignBiquad(kBiquadHighShelf, 18375, coeffs[11], -30.0, 1.0));
    std::vector<BiquadState> states(12);
    NoiseGenerator noise;

    Generator gen;
    const std::size_t frames = 200;
    const auto first = Fill32(gen, Params(kWavePinkNoise), 44100, frames);
    for (std::size_t j = 0; j < frames; ++j) {
        double x = noise.NextSigned();
        RunBiquadCascade(coeffs, states, x);
        ASSERT_NEAR(first[2 * j], 2147483392.0 * x, 0.5) << j;
    }
    ASSERT_NE(states[11].y0, 0.0);
    for (std::size_t i = 0; i < 11; ++i) states[i] = BiquadState{};

    const auto second = Fill32(gen, Params(kWavePinkNoise), 44100, frames);
    for (std::size_t j = 0; j < frames; ++j) {
        double x = noise.NextSigned();
        RunBiquadCascade(coeffs, states, x);
        ASSERT_NEAR(second[2 * j], 2147483392.0 * x, 0.5) << j;
    }
}

TEST(SineLoop, HoldsWholePeriodsOfEveryToneAndJoinsWithoutAStep)
{
    struct Case {
        std::vector<SineComponent> tones;
        int rate;
        std::size_t frames;  // rate / gcd(rate, every frequency)
    };
    const Case cases[] = {
        {{{997, 0.5}}, 48000, 48000},
        {{{1000, 0.5}}, 44100, 441},
        {{{60, 0.4}, {7000, 0.1}}, 48000, 2400},
        {{{19000, 0.25}, {20000, 0.25}}, 44100, 441},
    };
    for (const Case& c : cases) {
        const std::vector<float> loop = SineLoop(c.tones, c.rate);
        ASSERT_EQ(loop.size(), c.frames) << c.rate;
        // Played twice over, frame j is the sum of the sines at j / rate, across the join too.
        double worst = 0.0;
        for (std::size_t j = 0; j < 2 * loop.size(); j += 7) {
            double x = 0.0;
            for (const SineComponent& t : c.tones) {
                x += t.amplitude * std::sin(2.0 * 3.14159265358979323846 * t.frequencyHz * static_cast<double>(j) / c.rate);
            }
            worst = std::max(worst, std::abs(x - loop[j % loop.size()]));
        }
        EXPECT_LT(worst, 1e-7) << c.rate;
    }
    EXPECT_TRUE(SineLoop({}, 48000).empty());
    const SineComponent zero{0, 1.0};
    EXPECT_TRUE(SineLoop(std::span<const SineComponent>(&zero, 1), 48000).empty());
}

TEST(GeneratorLoop, EachChannelAtItsLevelAndPhaseAndTwoTonesPeakingAtTheLevel)
{
    const double pi = 3.14159265358979323846;
    struct Case {
        std::int32_t waveform;
        std::vector<std::array<double, 3>> tones;  // Hz, share of the level's amplitude, degrees (left)
        std::size_t frames;
    };
    const Case cases[] = {
        {kWaveSine, {{997, 1.0, 30.0}}, 48000},
        {kWaveSmpte, {{60, 0.8, 0}, {7000, 0.2, 0}}, 2400},
        {kWaveDin, {{250, 0.8, 0}, {8000, 0.2, 0}}, 192},
        {kWaveCcif, {{19000, 0.5, 0}, {20000, 0.5, 0}}, 48},
    };
    for (const Case& c : cases) {
        GeneratorParams p;
        p.waveform = c.waveform;
        p.frequencyHz = 997;
        p.levelLeftDb = -6;
        p.levelRightDb = kGeneratorSilentDb;
        p.phaseLeftDeg = 30;
        const std::vector<float> left = GeneratorLoop(p, true, 48000);
        const std::vector<float> right = GeneratorLoop(p, false, 48000);
        ASSERT_EQ(left.size(), c.frames) << c.waveform;
        ASSERT_EQ(right.size(), c.frames) << c.waveform;
        const double a = std::pow(10.0, -6.0 / 20.0);
        double worst = 0.0;
        for (std::size_t j = 0; j < c.frames; ++j) {
            double x = 0.0;
            for (const auto& [f, share, deg] : c.tones) {
                x += a * share * std::sin(2.0 * pi * f * static_cast<double>(j) / 48000.0 + deg * pi / 180.0);
            }
            worst = std::max(worst, std::abs(x - left[j]));
            ASSERT_EQ(right[j], 0.0f) << j;  // "OFF" is silence
        }
        EXPECT_LT(worst, 1e-6) << c.waveform;
    }
    GeneratorParams square;
    square.waveform = kWaveSquare;
    EXPECT_TRUE(GeneratorLoop(square, true, 48000).empty());
}

}  // namespace
}  // namespace sonvera
