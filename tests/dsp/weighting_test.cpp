// Built-in weighting tables and the filter selection.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/weighting.h"

namespace sonvera {
namespace {

// The tables as printed for users ("Hz: dB" pairs), transcribed separately from the
// code's tables.
const char* const kPrinted[kWeightingTableCount][2] = {
    {"none", "10: 0; 1000: 0; 24000: 0"},
    {"A Weighting", "10: -55; 20: -45; 90: -20; 100: -18; 132: -15; 200: -10; 400: -5; 500: -3; "
                    "1000: 0; 1300: 0.5; 2000: 1; 3000: 1; 5000: 0; 10000: -5; 20000: -17"},
    {"C Message", "20: -77; 50: -57; 100: -41; 200: -25; 400: -11; 1000: 0; 2000: -1; 2500: -0.5; "
                  "4000: -15; 9000: -50; 20000: -72"},
    {"CCITT-Filter", "30: -80; 50: -60; 100: -39; 200: -20; 400: -6; 1000: 0; 2000: -3; 3000: -6; "
                     "5000: -35; 6000: -53; 10000: -90"},
    {"CCIR wtd", "20: -32; 50: -25; 100: -20; 200: -14; 300: -10; 400: -7.5; 600: -4.5; 1050: 0; "
                 "2000: 5; 4000: 10; 6000: 12; 10000: 8; 20000: -30"},
    {"CCIR ARM", "20: -38; 50: -31; 100: -25; 200: -20; 500: -12; 1000: -6; 2000: 0; 5000: 6; "
                 "10000: 2; 20000: -35; 24000: -45"},
    {"RUMBLE wtd", "5: -55; 20: -39; 50: -25.5; 70: -19.5; 100: -14.5; 200: -2.7; 300: 0; "
                   "1000: -15; 2000: -27.5; 3000: -35; 5000: -43; 10000: -55; 20000: -70"},
    {"RUMBLE unw", "5: -2.5; 20: 0; 50: 0; 100: 0; 200: 0; 300: 0; 1000: -15; 2000: -27.5; "
                   "3000: -35; 5000: -43; 10000: -55; 24000: -76"},
    {"IEC Tuner IEC 315", "20: -60; 30: -60; 50: -45; 100: -20; 200: -1; 250: 0; 400: 0; "
                          "1000: 0; 5000: 0; 8000: 0; 10000: 0; 20000: -80"},
    {"DEEM 50/15", "20: 0; 100: 0; 500: 0; 600: 0; 1000: -0.5; 2000: -1.5; 5000: -4.5; "
                   "10000: -8; 20000: -9.5; 24000: -10"},
    {"DEEMPH 50", "20: 0; 100: 0; 400: 0; 1000: -1; 2000: -3; 3000: -5; 6500: -10; 10000: -13; "
                  "20000: -17; 24000: -18"},
    {"DEEMPH 75", "20: 0; 100: 0; 400: 0; 1000: -1; 2000: -3; 3000: -5; 10000: -13; 20000: -17; "
                  "24000: -17.5"},
    {"DEEMPH J.17", "20: 18; 80: 18; 500: 16; 1000: 12; 3000: 4.2; 4000: 3; 6000: 1.5; "
                    "10000: 0.7; 20000: 0; 24000: 0"},
};

std::vector<CurveTablePoint> ParsePrinted(const std::string& text) {
    std::vector<CurveTablePoint> pts;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ';')) {
        std::istringstream pair(item);
        double f = 0;
        double v = 0;
        char colon = 0;
        pair >> f >> colon >> v;
        pts.push_back({f, v});
    }
    return pts;
}

TEST(WeightingTables, NamesOrderAndPointsAreThePrintedOnes) {
    const auto& tables = WeightingTables();
    const int counts[kWeightingTableCount] = {3, 15, 11, 11, 13, 11, 13, 12, 12, 10, 10, 9, 10};
    for (int t = 0; t < kWeightingTableCount; ++t) {
        const WeightingTable& table = tables[static_cast<std::size_t>(t)];
        EXPECT_EQ(table.name, kPrinted[t][0]);
        const std::vector<CurveTablePoint> printed = ParsePrinted(kPrinted[t][1]);
        ASSERT_EQ(table.points.size(), static_cast<std::size_t>(counts[t])) << table.name;
        ASSERT_EQ(printed.size(), table.points.size()) << table.name;
        for (std::size_t i = 0; i < printed.size(); ++i) {
            EXPECT_EQ(table.points[i].freqHz, printed[i].freqHz) << table.name << " " << i;
            EXPECT_EQ(table.points[i].valueDb, printed[i].valueDb) << table.name << " " << i;
        }
    }
}

TEST(WeightingTables, EverySelectedTableMeetsItsPointsExactly) {
    WeightingFilter filter;
    for (const WeightingTable& table : WeightingTables()) {
        filter.SelectFilter(std::string(table.name));
        ASSERT_EQ(filter.FilterCurve.count, static_cast<int>(table.points.size())) << table.name;
        for (const CurveTablePoint& p : table.points) {
            EXPECT_NEAR(EvalCurve(filter.FilterCurve, p.freqHz), p.valueDb, 1e-9)
                << table.name << " at " << p.freqHz;
        }
    }
}

TEST(WeightingFilter, StartsFlatAndActive) {
    WeightingFilter filter;
    EXPECT_EQ(filter.AnaFilterName, "none");
    EXPECT_TRUE(filter.FilterCurve.active);
    EXPECT_TRUE(filter.FilterCurve.fileName.empty());
    for (double f = 10; f <= 24000; f *= 1.1) {
        ASSERT_NEAR(EvalCurve(filter.FilterCurve, f), 0.0, 1e-12) << f;
    }
}

TEST(WeightingFilter, AWeightingHitsItsTablePoints) {
    WeightingFilter filter;
    filter.SelectFilter("A Weighting");
    EXPECT_NEAR(EvalCurve(filter.FilterCurve, 500), -3.0, 1e-12);
    EXPECT_NEAR(EvalCurve(filter.FilterCurve, 1000), 0.0, 1e-12);
    EXPECT_NEAR(EvalCurve(filter.FilterCurve, 1300), 0.5, 1e-12);
    // Weighted level adds the curve: a 100 Hz level of 0 dB reads -18 dB.
    EXPECT_NEAR(ApplyCurve(filter.FilterCurve, -1.0, 100, 0.0), -18.0, 1e-12);
}

TEST(WeightingFilter, UnknownOrMiscasedNamesKeepThePointsButTakeTheName) {
    WeightingFilter filter;
    filter.SelectFilter("DEEMPH 75");
    filter.FilterCurve.active = false;
    filter.SelectFilter("deemph 50");
    EXPECT_EQ(filter.AnaFilterName, "deemph 50");
    EXPECT_TRUE(filter.FilterCurve.active);
    EXPECT_EQ(filter.FilterCurve.count, 9);
    EXPECT_NEAR(EvalCurve(filter.FilterCurve, 24000), -17.5, 1e-12);

    filter.SelectFilter("USER");
    EXPECT_EQ(filter.AnaFilterName, "USER");
    EXPECT_EQ(filter.FilterCurve.count, 9);

    filter.SelectFilter("A Weighting ");  // trailing blank: no match
    EXPECT_EQ(filter.FilterCurve.count, 9);
}

TEST(WeightingFilter, OverlongNamesAreCutTo255Bytes) {
    WeightingFilter filter;
    filter.SelectFilter(std::string(300, 'x'));
    EXPECT_EQ(filter.AnaFilterName.size(), 255u);
    // A two-byte character straddling the limit is dropped whole.
    filter.SelectFilter(std::string(254, 'x') + "\xc3\xa4" + "yy");
    EXPECT_EQ(filter.AnaFilterName, std::string(254, 'x'));
}

TEST(WeightingFilter, CurveContinuesBeyondTheLastPoint) {
    WeightingFilter filter;
    filter.SelectFilter("C Message");
    // The last interval's cubic goes on above 20000 Hz: continuous at the point and
    // not clamped to -72 dB.
    EXPECT_NEAR(EvalCurve(filter.FilterCurve, 20000.001), -72.0, 1e-3);
    EXPECT_NE(EvalCurve(filter.FilterCurve, 23000), -72.0);
    EXPECT_TRUE(std::isfinite(EvalCurve(filter.FilterCurve, 24000)));
}

}  // namespace
}  // namespace sonvera
