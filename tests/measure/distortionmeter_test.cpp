// The distortion analyser's model: what each mode plays in which phase, and the texts of
// the readings (a channel without a tone says so, never a number). The readings
// themselves are checked against their models in the command-line tests.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dsp/spectrum.h"
#include "measure/distortionmeter.h"

namespace sonvera {
namespace {

constexpr int kRate = 48000;
constexpr int kPoints = 65536;

struct Sine {
    double hz, amplitude;
};

/// The magnitude spectrum (bins 0..N/2-1) of a sum of sines, made as the analyser makes it.
std::vector<float> SpectrumOf(const std::vector<Sine>& sines)
{
    std::vector<float> x(kPoints, 0.0f);
    for (int i = 0; i < kPoints; ++i) {
        double v = 0.0;
        for (const Sine& s : sines) {
            v += s.amplitude * std::sin(2.0 * M_PI * s.hz * i / kRate + 0.3);
        }
        x[static_cast<std::size_t>(i)] = static_cast<float>(v);
    }
    SpectrumTransform transform;
    EXPECT_TRUE(transform.BuildWindowTable(kDistortionWindow, kPoints));
    EXPECT_TRUE(transform.ComputeSpectrum(x.data(), kPoints));
    x.resize(kPoints / 2);
    return x;
}

const DistortionParams kParams = DistortionParamsFor(kRate, kPoints, kDistortionWindow, 20.0, 20000.0);

MeterRow Row(const std::vector<MeterRow>& rows, const std::string& label)
{
    for (const MeterRow& r : rows) {
        if (r.label == label) return r;
    }
    return {"missing", "", ""};
}

TEST(DistortionMeter, ThdReadsHarmonicsOfTheToneAndNamesTheSilentChannel)
{
    DistortionMeter meter;
    meter.Configure({});
    const double a = std::pow(10.0, -1.0 / 20.0);
    // H2 at -60 dBc, H3 at -70 dBc: THD = 10·log10(1e-6 + 1e-7) = -59.59 dB, 0.105 %.
    const std::vector<float> left = SpectrumOf({{997, a}, {1994, a * 1e-3}, {2991, a * std::sqrt(1e-7)}});
    const std::vector<float> right(kPoints / 2, 0.0f);
    EXPECT_FALSE(meter.Take(ChannelSpectrum(left), ChannelSpectrum(right), kParams, WeightingFilter{}));

    const std::vector<MeterRow> de = meter.Rows('D');
    EXPECT_EQ(Row(de, "Grundwelle").left, "997.00 Hz");
    EXPECT_EQ(Row(de, "Pegel").left, "-1.00 dBFS");
    EXPECT_EQ(Row(de, "THD").left, "-59.59 dB  0.105 %");
    EXPECT_EQ(Row(de, "Grundwelle").right, "keine Grundwelle");
    EXPECT_EQ(Row(de, "THD").right, "–");
    EXPECT_EQ(Row(meter.Rows('E'), "Fundamental").right, "no fundamental");

    const std::vector<MeterRow> h = meter.HarmonicRows('D');
    ASSERT_EQ(h.size(), 9u);  // H2..H10
    EXPECT_EQ(h[0].label, "H2");
    EXPECT_EQ(h[0].left, "-60.00 dBc");
    EXPECT_EQ(h[1].left, "-70.00 dBc");
    EXPECT_EQ(h[0].right, "keine Grundwelle");
    // The copy holds every row under a header of the channels.
    const std::string text = meter.Text('E');
    EXPECT_EQ(text.rfind("\tLeft\tRight\n", 0), 0u);
    EXPECT_NE(text.find("H3\t-70.00 dBc\t–\n"), std::string::npos);
    EXPECT_EQ(meter.Summary().english.rfind("Fundamental 997.00 Hz / no fundamental | THD -59.59 dB", 0), 0u);
}

TEST(DistortionMeter, CcifReadsTheDifferenceToneAndNamesTheStandard)
{
    DistortionMeterSettings s;
    s.mode = DistortionMode::Imd;
    s.imdTest = TwoToneTest::Ccif;
    DistortionMeter meter;
    meter.Configure(s);
    // 19 and 20 kHz at 0.5 each, the difference tone at 1 kHz 1e-3: d2 = 1e-3 / 1 = -60 dB.
    const std::vector<float> left = SpectrumOf({{19000, 0.5}, {20000, 0.5}, {1000, 1e-3}});
    const std::vector<float> right(kPoints / 2, 0.0f);
    meter.Take(ChannelSpectrum(left), ChannelSpectrum(right), kParams, WeightingFilter{});
    const std::vector<MeterRow> rows = meter.Rows('E');
    EXPECT_EQ(Row(rows, "Standard").left, "CCIF 19 kHz + 20 kHz 1:1");
    EXPECT_EQ(Row(rows, "d2").left, "-60.00 dB");
    EXPECT_EQ(Row(rows, "d2").right, "no signal");
    EXPECT_EQ(Row(rows, "d3").right, "–");
}

TEST(DistortionMeter, TwoPartReadingsAlternateWhatTheOutputPlays)
{
    // Noise: the output silent (idle noise), then the 997 Hz tone at -60 dB; crosstalk: the
    // tone on the left, then on the right.
    struct Case {
        DistortionMode mode;
        double peakLeft[2], peakRight[2];  // per phase
    } cases[] = {
        {DistortionMode::Noise, {0.0, 1e-3}, {0.0, 1e-3}},
        {DistortionMode::Crosstalk, {std::pow(10.0, -1.0 / 20.0), 0.0}, {0.0, std::pow(10.0, -1.0 / 20.0)}},
    };
    for (const Case& c : cases) {
        DistortionMeter meter;
        meter.Configure({c.mode});
        const std::vector<float> silence(kPoints / 2, 0.0f);
        for (int phase = 0; phase < 2; ++phase) {
            ASSERT_EQ(meter.Phase(), phase);
            const DistortionMeter::Signal s = meter.SignalOf(kRate);
            ASSERT_FALSE(s.left.empty());
            float left = 0.0f, right = 0.0f;
            for (std::size_t i = 0; i < s.left.size(); ++i) {
                left = std::max(left, std::abs(s.left[i]));
                right = std::max(right, std::abs(s.right[i]));
            }
            EXPECT_NEAR(left, c.peakLeft[phase], 1e-6) << phase;
            EXPECT_NEAR(right, c.peakRight[phase], 1e-6) << phase;
            EXPECT_TRUE(meter.Take(ChannelSpectrum(silence), ChannelSpectrum(silence), kParams, WeightingFilter{}));
        }
        EXPECT_EQ(meter.Phase(), 0);
    }
}

TEST(DistortionMeter, NoiseReadsIdleNoiseDynamicRangeAndSnr)
{
    DistortionMeter meter;
    meter.Configure({DistortionMode::Noise});
    EXPECT_EQ(Row(meter.Rows('D'), "Dynamikumfang").left, "–");
    // Idle: a residue of amplitude 1e-4 (RMS -83.01 dB): SNR 80.00 dB. The tone arrives 6.02 dB
    // below -60 dB (a half-volume output) with a residue 60 dB under it: full scale over the
    // residue, 126.02 dB. The right input stays silent.
    const std::vector<float> idle = SpectrumOf({{5000, 1e-4}});
    const std::vector<float> tone = SpectrumOf({{997, 0.5e-3}, {5000, 0.5e-6}});
    const std::vector<float> silence(kPoints / 2, 0.0f);
    meter.Take(ChannelSpectrum(idle), ChannelSpectrum(silence), kParams, WeightingFilter{});
    EXPECT_EQ(Row(meter.Rows('D'), "Dynamikumfang").left, "wird gemessen …");
    meter.Take(ChannelSpectrum(tone), ChannelSpectrum(silence), kParams, WeightingFilter{});
    const std::vector<MeterRow> rows = meter.Rows('D');
    EXPECT_EQ(Row(rows, "Ruhegeräusch").left, "-83.01 dBFS");
    EXPECT_EQ(Row(rows, "Ruhegeräusch").right, "−∞ dBFS");
    EXPECT_EQ(Row(rows, "Dynamikumfang").left, "126.02 dB");
    EXPECT_EQ(Row(rows, "Störabstand").left, "80.00 dB");
    EXPECT_EQ(Row(rows, "Dynamikumfang").right, "keine Grundwelle");
    EXPECT_EQ(Row(rows, "Störabstand").right, "–");
}

TEST(DistortionMeter, CrosstalkReadsEachDirectionOrItsFloor)
{
    DistortionMeter meter;
    meter.Configure({DistortionMode::Crosstalk});
    const double a = std::pow(10.0, -1.0 / 20.0);
    // Left driven: the right input carries the tone 80 dB down; right driven: the left
    // input holds only noise-like residue 40 dB down at another frequency, so only its
    // floor is known.
    meter.Take(ChannelSpectrum(SpectrumOf({{1000, a}})), ChannelSpectrum(SpectrumOf({{1000, a * 1e-4}})), kParams,
               WeightingFilter{});
    EXPECT_EQ(Row(meter.Rows('E'), "Crosstalk").right, "R→L measuring …");
    meter.Take(ChannelSpectrum(SpectrumOf({{1300, a * 1e-2}})), ChannelSpectrum(SpectrumOf({{1000, a}})), kParams,
               WeightingFilter{});
    const MeterRow row = Row(meter.Rows('E'), "Crosstalk");
    EXPECT_EQ(row.left, "L→R -80.00 dB");
    EXPECT_EQ(row.right.rfind("R→L < ", 0), 0u) << row.right;
}

}  // namespace
}  // namespace sonvera
