// Biquad designs checked against the analog prototype evaluated at the prewarped
// frequency, and the run routines against a plain difference-equation reference.

#include "dsp/biquad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace sonvera {
namespace {

using Cplx = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// Digital response of one section at f Hz.
Cplx DigitalResponse(const BiquadCoeffs& c, double f, double fs) {
    const Cplx zi = std::polar(1.0, -2.0 * kPi * f / fs);  // z⁻¹
    return (c.b0 + c.b1 * zi + c.b2 * zi * zi) / (1.0 - c.a1 * zi - c.a2 * zi * zi);
}

struct Analog {
    double B2, B1, B0, A2, A1, A0;
};

// The analog prototypes written out from their textbook definitions.
Analog Prototype(int type, double fc, double g, double q, double fs) {
    const double prewarp = fs / kPi * std::tan(kPi * fc / fs);
    const double w = 2 * kPi * prewarp;
    const double A = std::pow(10.0, std::fabs(g) / 20);
    const double K = std::pow(10.0, std::fabs(g) / (20 * std::sqrt(2.0)));
    // Band of width fc/Q centred geometrically on fc; its edges prewarped.
    const double fl = std::sqrt(fc * fc / (4 * q * q) + fc * fc) - fc / (2 * q);
    const double fh = fl + fc / q;
    EXPECT_NEAR(fl * fh, fc * fc, 1e-6 * fc * fc);
    const double pl = fs / kPi * std::tan(kPi * fl / fs);
    const double beta = (prewarp * prewarp / pl - pl) / prewarp;
    const double d = g != 0 ? std::sqrt((K * K - 1) / (A * A - K * K)) : std::sqrt(2.0);
    const double w2 = w * w;
    switch (type) {
    case 1:
        return g >= 0 ? Analog{1, 2 * std::sqrt(A) * w, A * w2, 1, (A + 1) * w / K, w2}
                      : Analog{1, (A + 1) * w / K, w2, 1, 2 * std::sqrt(A) * w, A * w2};
    case 2:
        return g >= 0 ? Analog{A, 2 * std::sqrt(A) * w, w2, 1, (A + 1) * w / K, w2}
                      : Analog{1, (A + 1) * w / K, w2, A, 2 * std::sqrt(A) * w, w2};
    case 3:
        return g > 0 ? Analog{1, A * d * beta * w, w2, 1, d * beta * w, w2}
                     : Analog{1, d * beta * w, w2, 1, A * d * beta * w, w2};
    case 4: return {0, 0, w2, 1, std::sqrt(2.0) * w, w2};
    case 5: return {1, 0, 0, 1, std::sqrt(2.0) * w, w2};
    case 6: return {0, beta * w, 0, 1, beta * w, w2};
    case 7: return {1, 0, w2, 1, beta * w, w2};
    case 8: return {1, -2 * w, w2, 1, 2 * w, w2};
    default: return {0, 0, 1, 0, 0, 1};
    }
}

// Analog response at the prewarped image of f: the bilinear transform maps f exactly there.
Cplx AnalogResponse(const Analog& p, double f, double fs) {
    const Cplx s(0.0, 2 * kPi * fs / kPi * std::tan(kPi * f / fs));
    return (p.B2 * s * s + p.B1 * s + p.B0) / (p.A2 * s * s + p.A1 * s + p.A0);
}

double Db(Cplx h) { return 20 * std::log10(std::abs(h)); }

struct DesignCase {
    int type;
    int fcHz;
    double gainDb;
    double q;
    int fsHz;
};

TEST(BiquadDesign, EveryTypeMatchesAnalogPrototypeInMagnitudeAndPhase) {
    const DesignCase cases[] = {
        {1, 1000, 6, 1, 48000},    {1, 200, -12, 1, 44100},  {2, 5000, 9, 1, 48000},
        {2, 18375, -30, 1, 44100}, {3, 1000, 10, 2, 48000},  {3, 320, -5, 1, 44100},
        {3, 3000, 0, 0.7, 32000},  {4, 1000, 0, 1, 48000},   {4, 11025, 0, 1, 44100},
        {5, 150, 0, 1, 22050},     {5, 7000, 0, 1, 48000},   {6, 1000, 0, 40, 48000},
        {6, 3000, 0, 0.5, 44100},  {7, 1000, 0, 2, 48000},   {7, 60, 0, 10, 8000},
        {8, 1000, 0, 1, 48000},    {8, 12000, 0, 1, 44100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type << " fc " << c.fcHz << " G "
                                          << c.gainDb << " Q " << c.q << " fs " << c.fsHz);
        BiquadDesigner designer(c.fsHz);
        BiquadCoeffs coeffs{};
        ASSERT_TRUE(designer.DesignBiquad(c.type, c.fcHz, coeffs, c.gainDb, c.q));
        const Analog proto = Prototype(c.type, c.fcHz, c.gainDb, c.q, c.fsHz);
        const double freqs[] = {5.0,          50.0,         0.5 * c.fcHz, 0.9 * c.fcHz,
                                1.0 * c.fcHz, 1.1 * c.fcHz, 2.0 * c.fcHz, 0.45 * c.fsHz};
        for (double f : freqs) {
            if (f >= 0.5 * c.fsHz) continue;
            SCOPED_TRACE(::testing::Message() << "f " << f);
            const Cplx hd = DigitalResponse(coeffs, f, c.fsHz);
            const Cplx ha = AnalogResponse(proto, f, c.fsHz);
            if (std::abs(ha) < 1e-6) {  // notch centre: both vanish
                EXPECT_LT(std::abs(hd), 1e-6);
                continue;
            }
            EXPECT_NEAR(Db(hd), Db(ha), 1e-6);
            EXPECT_NEAR(std::remainder(std::arg(hd) - std::arg(ha), 2 * kPi), 0.0, 1e-7);
        }
    }
}

TEST(BiquadDesign, NamedShapesHaveTheirCharacteristicGains) {
    const int fs = 48000;
    BiquadDesigner designer(fs);
    BiquadCoeffs c{};

    // Butterworth low-pass at fs/4: unity at DC, −3.01 dB at the corner, ~zero at fs/2.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadLowPass, fs / 4, c, 0, 1));
    EXPECT_NEAR(std::abs(DigitalResponse(c, 0, fs)), 1.0, 1e-12);
    EXPECT_NEAR(Db(DigitalResponse(c, fs / 4.0, fs)), -3.0103, 1e-4);
    EXPECT_LT(std::abs(DigitalResponse(c, 0.4999 * fs, fs)), 1e-4);

    // Butterworth high-pass: zero at DC, −3.01 dB at the corner, unity at fs/2.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadHighPass, 1000, c, 0, 1));
    EXPECT_LT(std::abs(DigitalResponse(c, 0, fs)), 1e-12);
    EXPECT_NEAR(Db(DigitalResponse(c, 1000, fs)), -3.0103, 1e-4);
    EXPECT_NEAR(std::abs(DigitalResponse(c, fs / 2.0, fs)), 1.0, 1e-9);

    // Low shelf +6 dB: DC gain A = 10^(6/20) = 1.995, tending to 1 towards fs/2.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadLowShelf, 1000, c, 6, 1));
    EXPECT_NEAR(std::abs(DigitalResponse(c, 0, fs)), 1.99526, 1e-5);
    EXPECT_NEAR(std::abs(DigitalResponse(c, fs / 2.0, fs)), 1.0, 1e-9);
    EXPECT_NEAR(std::abs(DigitalResponse(c, 20000, fs)), 1.0, 0.01);

    // High shelf −30 dB: unity at DC, 1/A at fs/2.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadHighShelf, 5000, c, -30, 1));
    EXPECT_NEAR(std::abs(DigitalResponse(c, 0, fs)), 1.0, 1e-9);
    EXPECT_NEAR(Db(DigitalResponse(c, fs / 2.0, fs)), -30.0, 1e-6);

    // Peaking: exactly G at the centre, unity at DC and fs/2.
    for (double g : {-11.0, -1.0, 4.0, 12.0}) {
        ASSERT_TRUE(designer.DesignBiquad(kBiquadPeaking, 2000, c, g, 1));
        EXPECT_NEAR(Db(DigitalResponse(c, 2000, fs)), g, 1e-9);
        EXPECT_NEAR(std::abs(DigitalResponse(c, 0, fs)), 1.0, 1e-9);
        EXPECT_NEAR(std::abs(DigitalResponse(c, fs / 2.0, fs)), 1.0, 1e-9);
    }

    // Band-pass: unity with zero phase at the centre, −3.01 dB at the band edges.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadBandPass, 1000, c, 0, 2));
    const Cplx centre = DigitalResponse(c, 1000, fs);
    EXPECT_NEAR(centre.real(), 1.0, 1e-9);
    EXPECT_NEAR(centre.imag(), 0.0, 1e-9);
    const double fl = std::sqrt(1000.0 * 1000.0 / 16 + 1000.0 * 1000.0) - 1000.0 / 4;
    const double fh = fl + 500.0;
    // The edges are exact in the prewarped domain; at 48 kHz they shift a little.
    EXPECT_NEAR(Db(DigitalResponse(c, fl, fs)), -3.0103, 0.02);
    EXPECT_NEAR(Db(DigitalResponse(c, fh, fs)), -3.0103, 0.02);

    // Notch: zero at the centre, unity far away.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadNotch, 1000, c, 0, 2));
    EXPECT_LT(std::abs(DigitalResponse(c, 1000, fs)), 1e-9);
    EXPECT_NEAR(std::abs(DigitalResponse(c, 0, fs)), 1.0, 1e-9);

    // All-pass: unity everywhere, phase −180° at the corner.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadAllPass, 3000, c, 0, 1));
    for (double f : {10.0, 1000.0, 3000.0, 15000.0})
        EXPECT_NEAR(std::abs(DigitalResponse(c, f, fs)), 1.0, 1e-9) << f;
    EXPECT_NEAR(std::fabs(std::arg(DigitalResponse(c, 3000, fs))), kPi, 1e-9);
}

TEST(BiquadDesign, PeakingWithZeroGainIsFlat) {
    BiquadDesigner designer(44100);
    BiquadCoeffs c{};
    ASSERT_TRUE(designer.DesignBiquad(kBiquadPeaking, 1000, c, 0, 1));
    EXPECT_DOUBLE_EQ(designer.LastPrototype().B1, designer.LastPrototype().A1);
    for (double f : {20.0, 500.0, 1000.0, 5000.0, 21000.0})
        EXPECT_NEAR(std::abs(DigitalResponse(c, f, 44100)), 1.0, 1e-12) << f;
    // A gain too small to tell A from K numerically still yields a usable flat section.
    ASSERT_TRUE(designer.DesignBiquad(kBiquadPeaking, 1000, c, 1e-300, 1));
    EXPECT_NEAR(std::abs(DigitalResponse(c, 1000, 44100)), 1.0, 1e-12);
}

TEST(BiquadDesign, TypeZeroIsPassThroughAndUnknownTypesLeaveCoefficientsAlone) {
    BiquadDesigner designer(48000);
    BiquadCoeffs c{0.5, 0.25, 0.125, 0.1, -0.2};
    ASSERT_TRUE(designer.DesignBiquad(kBiquadPassThrough, 1000, c, 6, 1));
    EXPECT_EQ(c.b0, 1.0);
    EXPECT_EQ(c.b1, 0.0);
    EXPECT_EQ(c.b2, 0.0);
    EXPECT_EQ(c.a1, 0.0);
    EXPECT_EQ(c.a2, 0.0);

    const BiquadCoeffs marker{0.5, 0.25, 0.125, 0.1, -0.2};
    for (int type : {9, 42, -1}) {
        c = marker;
        EXPECT_FALSE(designer.DesignBiquad(type, 1000, c, 6, 1)) << type;
        EXPECT_EQ(c.b0, 0.5);
        EXPECT_EQ(c.a2, -0.2);
    }
}

TEST(BiquadDesign, RejectsFrequenciesOutsideTheBandAndBadParameters) {
    const BiquadCoeffs marker{0.5, 0.25, 0.125, 0.1, -0.2};
    BiquadDesigner noRate;
    BiquadCoeffs c = marker;
    EXPECT_FALSE(noRate.DesignBiquad(kBiquadLowPass, 1000, c, 0, 1));

    BiquadDesigner designer(44100);
    struct Bad {
        int fc;
        double g;
        double q;
    };
    const Bad bad[] = {{0, 0, 1},     {-100, 0, 1},       {22050, 0, 1},
                       {30000, 0, 1}, {1000, 0, 0},       {1000, 0, -1},
                       {1000, NAN, 1}, {1000, 0, INFINITY}, {1000, 1e6, 1}};
    for (int type = 1; type <= 8; ++type) {
        for (const auto& b : bad) {
            // A gain beyond any number only matters to the types that use a gain.
            if (b.g == 1e6 && type > kBiquadPeaking) continue;
            c = marker;
            EXPECT_FALSE(designer.DesignBiquad(type, b.fc, c, b.g, b.q))
                << "type " << type << " fc " << b.fc << " g " << b.g << " q " << b.q;
            EXPECT_EQ(c.b0, 0.5);
            EXPECT_EQ(c.b1, 0.25);
            EXPECT_EQ(c.a1, 0.1);
        }
    }
    // Just below half an odd rate is still a valid corner.
    BiquadDesigner odd(11025);
    EXPECT_TRUE(odd.DesignBiquad(kBiquadLowPass, 5512, c, 0, 1));
    EXPECT_TRUE(std::isfinite(c.b0) && std::isfinite(c.a2));
}

TEST(BiquadDesign, EachDesignerKeepsItsOwnRate) {
    BiquadDesigner at44(44100);
    BiquadDesigner at48(48000);
    BiquadCoeffs c44{}, c48{}, ref{};
    ASSERT_TRUE(at44.DesignBiquad(kBiquadBandPass, 1000, c44, 0, 40));
    ASSERT_TRUE(at48.DesignBiquad(kBiquadBandPass, 1000, c48, 0, 40));
    BiquadDesigner shared;
    shared.SetFilterRate(48000);
    shared.SetFilterRate(44100);
    ASSERT_TRUE(shared.DesignBiquad(kBiquadBandPass, 1000, ref, 0, 40));
    EXPECT_EQ(c44.b0, ref.b0);
    EXPECT_EQ(c44.a1, ref.a1);
    EXPECT_NE(c44.a1, c48.a1);
    EXPECT_NEAR(std::abs(DigitalResponse(c48, 1000, 48000)), 1.0, 1e-9);
}

// ---- run routines ----

// y[n] = b0·x[n] + b1·x[n−1] + b2·x[n−2] + a1·y[n−1] + a2·y[n−2] over a whole signal,
// optionally limiting outputs above `ceiling`.
std::vector<double> DirectForm(const BiquadCoeffs& c, const std::vector<double>& x,
                               double ceiling = INFINITY) {
    std::vector<double> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double x1 = n >= 1 ? x[n - 1] : 0.0, x2 = n >= 2 ? x[n - 2] : 0.0;
        const double y1 = n >= 1 ? y[n - 1] : 0.0, y2 = n >= 2 ? y[n - 2] : 0.0;
        y[n] = std::min(ceiling, c.b0 * x[n] + c.b1 * x1 + c.b2 * x2 + c.a1 * y1 + c.a2 * y2);
    }
    return y;
}

std::vector<float> TestBlock(int frames, double ampFirst, double ampSecond) {
    std::vector<float> block(2 * frames);
    unsigned s = 12345;
    for (int j = 0; j < frames; ++j) {
        s = s * 1103515245u + 12345u;
        const double noise = ((s >> 8) & 0xFFFF) / 65536.0 - 0.5;
        block[2 * j] = static_cast<float>(ampFirst * (std::sin(0.05 * j) + 0.3 * noise));
        block[2 * j + 1] = static_cast<float>(ampSecond * (std::cos(0.031 * j) + 0.2 * noise));
    }
    return block;
}

TEST(RunBiquadStereo, MatchesDifferenceEquationPerChannel) {
    BiquadDesigner designer(48000);
    BiquadCoeffs c{};
    ASSERT_TRUE(designer.DesignBiquad(kBiquadBandPass, 400, c, 0, 2));
    const int frames = 500;
    const std::vector<float> input = TestBlock(frames, 0.4, 0.4);
    std::vector<float> block = input;
    RunBiquadStereo(c, frames, block.data());

    std::vector<double> first(frames), second(frames);
    for (int j = 0; j < frames; ++j) {
        first[j] = input[2 * j];
        second[j] = input[2 * j + 1];
    }
    const auto yFirst = DirectForm(c, first);
    const auto ySecond = DirectForm(c, second, 1.0);
    for (int j = 0; j < frames - 2; ++j)
        ASSERT_FLOAT_EQ(block[2 * j], static_cast<float>(yFirst[j])) << j;
    // The last two frames of the first channel keep their input.
    EXPECT_EQ(block[2 * (frames - 2)], input[2 * (frames - 2)]);
    EXPECT_EQ(block[2 * (frames - 1)], input[2 * (frames - 1)]);
    EXPECT_NE(block[2 * (frames - 3)], input[2 * (frames - 3)]);
    for (int j = 0; j < frames; ++j)
        ASSERT_FLOAT_EQ(block[2 * j + 1], static_cast<float>(ySecond[j])) << j;
}

TEST(RunBiquadStereo, SecondChannelIsLimitedToPlusOneBeforeFeedback) {
    // A low shelf of +12 dB lifts a 0.9 DC level well above 1.0.
    BiquadDesigner designer(48000);
    BiquadCoeffs c{};
    ASSERT_TRUE(designer.DesignBiquad(kBiquadLowShelf, 2000, c, 12, 1));
    const int frames = 400;
    std::vector<float> block(2 * frames);
    std::vector<double> second(frames);
    for (int j = 0; j < frames; ++j) {
        block[2 * j] = 0.9f;
        block[2 * j + 1] = (j / 50) % 2 == 0 ? 0.9f : -0.9f;
        second[j] = block[2 * j + 1];
    }
    RunBiquadStereo(c, frames, block.data());
    const auto ref = DirectForm(c, second, 1.0);
    int limited = 0;
    float lowest = 0;
    for (int j = 0; j < frames; ++j) {
        ASSERT_LE(block[2 * j + 1], 1.0f);
        ASSERT_FLOAT_EQ(block[2 * j + 1], static_cast<float>(ref[j])) << j;
        if (block[2 * j + 1] == 1.0f) ++limited;
        lowest = std::min(lowest, block[2 * j + 1]);
    }
    EXPECT_GT(limited, 50);
    EXPECT_LT(lowest, -1.0f);  // no lower limit
    // The first channel is not limited.
    EXPECT_GT(block[2 * 300], 1.5f);
}

TEST(RunBiquadStereo, PassThroughLeavesEverySampleAndTinyBlocksAreSafe) {
    const BiquadCoeffs pass{};
    std::vector<float> block = TestBlock(64, 0.9, 0.9);
    const std::vector<float> input = block;
    RunBiquadStereo(pass, 64, block.data());
    EXPECT_EQ(block, input);

    float two[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    BiquadDesigner designer(8000);
    BiquadCoeffs c{};
    ASSERT_TRUE(designer.DesignBiquad(kBiquadLowPass, 1000, c, 0, 1));
    RunBiquadStereo(c, 2, two);
    EXPECT_EQ(two[0], 0.1f);  // first channel: n − 2 = 0 frames filtered
    EXPECT_EQ(two[2], 0.3f);
    EXPECT_FLOAT_EQ(two[1], static_cast<float>(c.b0 * 0.2));
    RunBiquadStereo(c, 0, two);
    RunBiquadStereo(c, -5, two);
    RunBiquadStereo(c, 10, nullptr);
    EXPECT_EQ(two[0], 0.1f);
}

TEST(RunBiquadCascade, EqualsSectionsAppliedOneAfterAnother) {
    BiquadDesigner designer(44100);
    std::vector<BiquadCoeffs> coeffs(3);
    ASSERT_TRUE(designer.DesignBiquad(kBiquadPeaking, 100, coeffs[0], -3, 1));
    ASSERT_TRUE(designer.DesignBiquad(kBiquadLowPass, 5000, coeffs[1], 0, 1));
    ASSERT_TRUE(designer.DesignBiquad(kBiquadHighShelf, 12000, coeffs[2], -20, 1));
    std::vector<double> x(700);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = std::sin(0.3 * n) + (n == 10 ? 1.0 : 0.0);

    std::vector<double> ref = x;
    for (const auto& c : coeffs) ref = DirectForm(c, ref);

    std::vector<BiquadState> states(3);
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = x[n];
        RunBiquadCascade(coeffs, states, v);  // state persists from call to call
        ASSERT_NEAR(v, ref[n], 1e-12) << n;
    }
    EXPECT_NEAR(states[2].y0, ref.back(), 1e-12);

    // The same through the fixed-size cascade type.
    BiquadCascade cascade;
    cascade.count = 3;
    for (int i = 0; i < 3; ++i) cascade.coeffs[i] = coeffs[i];
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = x[n];
        cascade.Run(v);
        ASSERT_NEAR(v, ref[n], 1e-12) << n;
    }
    cascade.ClearStates();
    double v = x[0];
    cascade.Run(v);
    EXPECT_NEAR(v, ref[0], 1e-15);
}

TEST(RunBiquadCascade, EmptyCascadePassesTheSampleUnchanged) {
    double v = 0.123456789;
    RunBiquadCascade({}, {}, v);
    EXPECT_EQ(v, 0.123456789);
    BiquadCascade cascade;
    cascade.count = 0;
    cascade.coeffs[0] = BiquadCoeffs{2, 0, 0, 0, 0};
    cascade.Run(v);
    EXPECT_EQ(v, 0.123456789);
    cascade.count = 99;  // out of range: limited to the array
    cascade.Run(v);
    EXPECT_EQ(v, 2 * 0.123456789);
}

}  // namespace
}  // namespace sonvera
