// Built-in weighting tables and the filter selection.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/weighting.h"
#include "tests/support/tempdir.h"

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
    const auto& tables = Weightings();
    const int counts[kWeightingTableCount] = {3, 15, 11, 11, 13, 11, 13, 12, 12, 10, 10, 9, 10};
    for (int t = 0; t < kWeightingTableCount; ++t) {
        const Weighting& table = tables[static_cast<std::size_t>(t)];
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
    for (const Weighting& table : Weightings()) {
        if (table.formula != nullptr) continue;
        ASSERT_TRUE(filter.SelectFilter(std::string(table.name)));
        ASSERT_EQ(filter.FilterCurve.count, static_cast<int>(table.points.size())) << table.name;
        for (const CurveTablePoint& p : table.points) {
            EXPECT_NEAR(filter.GainDb(p.freqHz), p.valueDb, 1e-9) << table.name << " at " << p.freqHz;
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

TEST(WeightingFilter, NamesThatNameNoWeightingChangeNothing) {
    WeightingFilter filter;
    ASSERT_TRUE(filter.SelectFilter("DEEMPH 75"));
    for (const char* name : {"deemph 50", "USER", "A Weighting ", "", "a (iec 61672)"}) {
        EXPECT_FALSE(filter.SelectFilter(name)) << name;
        EXPECT_EQ(filter.AnaFilterName, "DEEMPH 75");
        EXPECT_NEAR(filter.GainDb(24000), -17.5, 1e-12);
    }
}

struct Messages : CurveMessageSink {
    std::vector<std::string> texts;
    void Warning(const std::string& text) override { texts.push_back(text); }
};

TEST(WeightingFilter, AStoredUserFileIsRestoredAndWhatCannotBeFallsBackToNone) {
    const testing::TempDir dir;
    std::ofstream(dir.File("good.cor")) << "100 -6\n1000 0\n";
    std::ofstream(dir.File("bad.cor")) << "100 -6\nnot a line\n";
    Messages messages;
    CurveFileLoader loader(messages);
    const struct {
        std::string name, file, result, message;
    } cases[] = {
        {"USER", dir.File("good.cor"), "USER", ""},
        {"USER", dir.File("bad.cor"), "none", "Zeilenfehler in Zeile 2"},
        {"USER", dir.File("gone.cor"), "none", "Fehler beim Lesen von : " + dir.File("gone.cor")},
        {"USER", "", "none", ""},  // older configurations stored no file
        {"a weighting", "", "none", ""},
    };
    for (const auto& c : cases) {
        WeightingFilter filter;
        ASSERT_TRUE(filter.SelectFilter("CCIR wtd"));
        messages.texts.clear();
        filter.RestoreFilter(c.name, c.file, loader);
        EXPECT_EQ(filter.AnaFilterName, c.result) << c.file;
        EXPECT_EQ(filter.GainDb(100), c.result == "USER" ? -6.0 : 0.0);  // applied, not merely loaded
        EXPECT_EQ(filter.UserFile(), c.result == "USER" ? c.file : "");
        EXPECT_EQ(messages.texts, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("gone.cor")));  // never created
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


// IEC 61672-1, Table 3: the A and C weightings in dB at the nominal frequencies 10 Hz ..
// 20 kHz, tabulated to 0.1 dB for the exact base-ten frequencies 1000 * 10^(k/10).
struct IecRow {
    int k;
    double a, c;
};
const IecRow kIecTable3[] = {
    {-20, -70.4, -14.3}, {-19, -63.4, -11.2}, {-18, -56.7, -8.5}, {-17, -50.5, -6.2}, {-16, -44.7, -4.4},
    {-15, -39.4, -3.0},  {-14, -34.6, -2.0},  {-13, -30.2, -1.3}, {-12, -26.2, -0.8}, {-11, -22.5, -0.5},
    {-10, -19.1, -0.3},  {-9, -16.1, -0.2},   {-8, -13.4, -0.1},  {-7, -10.9, 0.0},   {-6, -8.6, 0.0},
    {-5, -6.6, 0.0},     {-4, -4.8, 0.0},     {-3, -3.2, 0.0},    {-2, -1.9, 0.0},    {-1, -0.8, 0.0},
    {0, 0.0, 0.0},       {1, 0.6, 0.0},       {2, 1.0, -0.1},     {3, 1.2, -0.2},     {4, 1.3, -0.3},
    {5, 1.2, -0.5},      {6, 1.0, -0.8},      {7, 0.5, -1.3},     {8, -0.1, -2.0},    {9, -1.1, -3.0},
    {10, -2.5, -4.4},    {11, -4.3, -6.2},    {12, -6.6, -8.5},   {13, -9.3, -11.2},
};

// ITU-R BS.468: the weighting's response in dB at the frequencies of its table.
const CurveTablePoint kItu468Table[] = {
    {31.5, -29.9}, {63, -23.9},   {100, -19.8},  {200, -13.8},  {400, -7.8},    {800, -1.9},   {1000, 0.0},
    {2000, 5.6},   {3150, 9.0},   {4000, 10.5},  {5000, 11.7},  {6300, 12.2},   {7100, 12.0},  {8000, 11.4},
    {9000, 10.1},  {10000, 8.1},  {12500, 0.0},  {14000, -5.3}, {16000, -11.7}, {20000, -22.2}, {31500, -42.7},
};

TEST(StandardWeightings, FollowTheTablesOfTheirStandards) {
    WeightingFilter a, c, itu, itu2k;
    ASSERT_TRUE(a.SelectFilter("A (IEC 61672)"));
    ASSERT_TRUE(c.SelectFilter("C (IEC 61672)"));
    ASSERT_TRUE(itu.SelectFilter("ITU-R 468"));
    ASSERT_TRUE(itu2k.SelectFilter("ITU-R 468 (2 kHz)"));
    for (const IecRow& row : kIecTable3) {
        const double f = 1000.0 * std::pow(10.0, row.k / 10.0);
        // The table rounds to 0.1 dB: the exact curve lies within half of that.
        EXPECT_NEAR(a.GainDb(f), row.a, 0.05 + 1e-9) << f << " Hz";
        EXPECT_NEAR(c.GainDb(f), row.c, 0.05 + 1e-9) << f << " Hz";
    }
    for (const CurveTablePoint& p : kItu468Table) {
        EXPECT_NEAR(itu.GainDb(p.freqHz), p.valueDb, 0.1) << p.freqHz << " Hz";
        EXPECT_NEAR(itu2k.GainDb(p.freqHz), p.valueDb - 5.6, 0.1) << p.freqHz << " Hz";
    }
    EXPECT_EQ(a.GainDb(0.0), -std::numeric_limits<double>::infinity());  // DC: nothing passes
}

}  // namespace
}  // namespace sonvera
