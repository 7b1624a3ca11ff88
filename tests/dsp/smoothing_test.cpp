#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/smoothing.h"

using namespace sonvera;

namespace {

// A table at 1/48-octave spacing from 20 Hz to 20 kHz.
std::vector<float> OctaveGrid()
{
    std::vector<float> f;
    for (int k = 0; 20.0 * std::exp2(k / 48.0) <= 20000.0; ++k) {
        f.push_back(static_cast<float>(20.0 * std::exp2(k / 48.0)));
    }
    return f;
}

// +6 dB at 1 kHz, a Gaussian in log frequency 1/6 octave wide at half its height.
double Peak(double freqHz)
{
    const double sigma = (1.0 / 6.0) / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const double octaves = std::log2(freqHz / 1000.0);
    return 6.0 * std::exp(-0.5 * octaves * octaves / (sigma * sigma));
}

// The power average of the analytic curve over [lo, hi] octaves (Simpson's rule).
double BandPowerAverageDb(double loOct, double hiOct)
{
    const int steps = 4000;
    const double h = (hiOct - loOct) / steps;
    double sum = 0.0;
    for (int i = 0; i <= steps; ++i) {
        const double weight = (i == 0 || i == steps) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
        sum += weight * std::pow(10.0, Peak(std::exp2(loOct + i * h)) / 10.0);
    }
    return 10.0 * std::log10(sum * h / 3.0 / (hiOct - loOct));
}

}  // namespace

TEST(Smoothing, ThirdOctaveOfAPeakIsTheBandsPowerAverage)
{
    const std::vector<float> f = OctaveGrid();
    std::vector<float> level(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) {
        level[i] = static_cast<float>(Peak(f[i]));
    }
    std::vector<float> smoothed(f.size());
    SmoothLevels(f.data(), level.data(), f.size(), 3, smoothed.data());
    const double lowest = std::log2(f.front());
    const double highest = std::log2(f.back());
    double worst = 0.0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        const double centre = std::log2(f[i]);
        const double expected =
            BandPowerAverageDb(std::max(centre - 1.0 / 6.0, lowest), std::min(centre + 1.0 / 6.0, highest));
        worst = std::max(worst, std::fabs(smoothed[i] - expected));
        ASSERT_NEAR(smoothed[i], expected, 0.15) << f[i] << " Hz";
    }
    // The peak is broadened and lowered: 1/3 octave holds it about twice.
    const auto at1k = static_cast<std::size_t>(std::lround(48.0 * std::log2(1000.0 / 20.0)));
    EXPECT_LT(smoothed[at1k], 4.5);
    EXPECT_GT(smoothed[at1k], 2.0);
    RecordProperty("worst_deviation_db", std::to_string(worst));
}

TEST(Smoothing, APureDelaysPhaseKeepsItsValuesAndSlope)
{
    // 1 ms, wrapped into -180 .. 180 as the sweep shows it.
    const std::vector<float> f = OctaveGrid();
    std::vector<float> phase(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) {
        phase[i] = static_cast<float>(std::remainder(-360.0 * f[i] * 0.001, 360.0));
    }
    for (int n : {1, 3, 48}) {
        std::vector<float> smoothed(f.size());
        SmoothPhases(f.data(), phase.data(), f.size(), n, smoothed.data());
        // Away from the table's ends (where the band is cut) every value stays.
        const double edge = std::exp2(1.0 / n);
        for (std::size_t i = 0; i < f.size(); ++i) {
            if (f[i] > f.front() * edge && f[i] < f.back() / edge) {
                ASSERT_NEAR(smoothed[i], phase[i], 0.05) << "1/" << n << " at " << f[i] << " Hz";
            }
        }
    }
}

TEST(Smoothing, GapsStayAndAFloorFarBelowAPeakKeepsItsDigits)
{
    // Linear bins as a spectrum has them, 150 dB below a single 0 dB line.
    std::vector<float> f;
    std::vector<float> level;
    for (int k = 0; k < 4096; ++k) {
        f.push_back(static_cast<float>(k * 10.0));
        level.push_back(k == 100 ? 0.0f : -150.0f);
    }
    level[3000] = std::nanf("");
    std::vector<float> smoothed(f.size());
    SmoothLevels(f.data(), level.data(), f.size(), 6, smoothed.data());
    EXPECT_EQ(smoothed[0], -150.0f);  // 0 Hz takes no part and keeps its value
    EXPECT_TRUE(std::isnan(smoothed[3000]));
    for (int k = 400; k < 4096; ++k) {
        if (k != 3000) {
            ASSERT_NEAR(smoothed[static_cast<std::size_t>(k)], -150.0, 0.01) << k;
        }
    }
}
