#include <gtest/gtest.h>

#include <cmath>

#include "measure/impulseplot.h"

using namespace sonvera;

TEST(ImpulsePlot, ShowsTheResponseFromItsPeakWithTheWindowOverIt)
{
    // 48 kHz: the response peaks (-2.0) at lag 100 and decays; the window covers lags
    // 80 .. 479, rising over its first 10 lags; the view shows lags 40 .. 599.
    LogSweepChannel c;
    c.peakLag = 100;
    c.viewStart = 40;
    c.windowStart = 80;
    for (long lag = 40; lag < 600; ++lag) {
        const double t = static_cast<double>(lag - 100);
        c.view.push_back(lag < 100 ? 0.0f : static_cast<float>(-2.0 * std::exp(-t / 50.0) * std::cos(t / 3.0)));
    }
    for (int i = 0; i < 400; ++i) {
        c.window.push_back(i < 10 ? static_cast<float>(i) / 10.0f : 1.0f);
    }
    const ImpulsePlot plot(c, 48000);
    EXPECT_NEAR(plot.StartMs(), -60.0 / 48.0, 1e-9);
    EXPECT_NEAR(plot.EndMs(), 499.0 / 48.0, 1e-9);
    EXPECT_NEAR(plot.WindowStartMs(), -20.0 / 48.0, 1e-9);

    std::vector<double> low;
    std::vector<double> high;
    plot.Columns(56, false, low, high);  // ten samples a column
    ASSERT_EQ(low.size(), 56u);
    EXPECT_DOUBLE_EQ(low[6], -1.0);  // the peak, relative to itself
    EXPECT_DOUBLE_EQ(high[0], 0.0);
    plot.Columns(56, true, low, high);
    EXPECT_DOUBLE_EQ(high[6], 0.0);
    EXPECT_DOUBLE_EQ(low[0], ImpulsePlot::kFloorDb);
    plot.Columns(2000, false, low, high);  // wider than the samples: straight between them
    for (std::size_t k = 0; k < low.size(); ++k) {
        ASSERT_FALSE(std::isnan(low[k]) || std::isnan(high[k])) << k;
    }

    EXPECT_DOUBLE_EQ(plot.WindowAt(plot.StartMs(), false), 0.0);  // before the window
    EXPECT_NEAR(plot.WindowAt(-15.0 / 48.0, false), 0.5, 1e-6);  // halfway up its rise
    EXPECT_DOUBLE_EQ(plot.WindowAt(0.0, false), 1.0);
    EXPECT_DOUBLE_EQ(plot.WindowAt(0.0, true), 0.0);
    EXPECT_DOUBLE_EQ(plot.WindowAt(plot.EndMs(), true), ImpulsePlot::kFloorDb);  // after it
}
