#include <gtest/gtest.h>

#include "tests/support/tempdir.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "diagram/curvemath.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramscale.h"

using namespace sonvera;

namespace {

// A diagram laid out on a W x H screen whose "8" is 7 x 13 pixels and "20.00k" 42 wide.
DiagramModel MakeDiagram(int fmin, int fmax, float lmin, float lmax, int lastIndex = 50,
                         int width = 580, int height = 370)
{
    DiagramModel d;
    d.Activate();
    d.SetScreen(width, height, DiagramTextMetrics{7, 13, 42, {}});
    float lo = lmin;
    float hi = lmax;
    EXPECT_FALSE(d.PrepareDiagram("", lastIndex, fmin, fmax, lo, hi));
    return d;
}

std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(NiceStep, ClimbsTheOneTwoFiveLadderStrictlyAboveTheArgument)
{
    EXPECT_DOUBLE_EQ(NiceStep(0.3), 0.5);
    EXPECT_DOUBLE_EQ(NiceStep(1.0), 2.0);
    EXPECT_DOUBLE_EQ(NiceStep(19999.0), 20000.0);
    EXPECT_DOUBLE_EQ(NiceStep(25000.0), 25000.0);
    EXPECT_DOUBLE_EQ(NiceStep(20000.0), 20000.0);
    EXPECT_DOUBLE_EQ(NiceStep(0.0), 0.02);
    EXPECT_DOUBLE_EQ(NiceStep(-7.0), 0.02);
    EXPECT_DOUBLE_EQ(NiceStep(0.02), 0.05);
    EXPECT_DOUBLE_EQ(NiceStep(11.0), 20.0);
    EXPECT_DOUBLE_EQ(NiceStep(1272.0), 2000.0);
}

TEST(DiagramRound, HalvesToEvenAndClamped)
{
    EXPECT_EQ(DiagramRound(2.5), 2);
    EXPECT_EQ(DiagramRound(3.5), 4);
    EXPECT_EQ(DiagramRound(-2.5), -2);
    EXPECT_EQ(DiagramRound(0.49999999999999994), 0);
    EXPECT_EQ(DiagramRound(-999999998.5), -999999998);
    EXPECT_EQ(DiagramRound(1e300), 1000000000);
    EXPECT_EQ(DiagramRound(-1e300), -1000000000);
    EXPECT_EQ(DiagramRound(std::nan("")), 0);
}

TEST(PrepareDiagram, FreshDiagramTakesTheCallersRanges)
{
    DiagramModel d;
    d.Activate();
    float lo = -110.0f;
    float hi = 0.0f;
    EXPECT_FALSE(d.PrepareDiagram("Kommentar:", 512, 10, 28000, lo, hi));
    EXPECT_EQ(d.FreqMin, 10);
    EXPECT_EQ(d.FreqMax, 28000);
    EXPECT_EQ(d.LevelMin, -110.0f);
    EXPECT_EQ(d.LevelMax, 0.0f);
    EXPECT_EQ(d.Level2Min, -110.0f);  // left axis only: curve 2 follows it
    EXPECT_EQ(d.Level2Max, 0.0f);
    EXPECT_EQ(d.PointCount, 513);
    EXPECT_EQ(d.GetLastIndex(), 512);
    EXPECT_EQ(d.GetComment(), "Kommentar:");
    // The mirrors follow every layout.
    EXPECT_EQ(d.Options.FreqMin, 10);
    EXPECT_EQ(d.Options.FreqMax, 28000);
    EXPECT_EQ(d.Options.LevelMin, -110.0f);
}

TEST(PrepareDiagram, SecondCallKeepsTheDiagramsLevelsAndHandsThemBack)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    float lo = -60.0f;
    float hi = 10.0f;
    EXPECT_FALSE(d.PrepareDiagram("", 50, 10, 28000, lo, hi));
    EXPECT_EQ(lo, -110.0f);
    EXPECT_EQ(hi, 0.0f);
    EXPECT_EQ(d.LevelMin, -110.0f);
}

TEST(PrepareDiagram, OtherFrequencyRangeClearsPointsButKeepsTheDiagramsRange)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    const float v[2] = {-3.0f, -4.0f};
    ASSERT_FALSE(d.StoreDiagramPoint(v, 2, 7, 1000.0f));
    float lo = -110.0f;
    float hi = 0.0f;
    EXPECT_FALSE(d.PrepareDiagram("", 50, 20, 20000, lo, hi));
    EXPECT_EQ(d.FreqArray[7], 0.0f);
    EXPECT_EQ(d.Curve1Array[7], 0.0f);
    EXPECT_EQ(d.FreqMin, 10);
    EXPECT_EQ(d.FreqMax, 28000);

    // The same range leaves the points alone.
    ASSERT_FALSE(d.StoreDiagramPoint(v, 2, 7, 1000.0f));
    EXPECT_FALSE(d.PrepareDiagram("", 50, 10, 28000, lo, hi));
    EXPECT_EQ(d.FreqArray[7], 1000.0f);
}

TEST(PrepareDiagram, FailsBeyondTheStorageAndBeforeActivation)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    float lo = -110.0f;
    float hi = 0.0f;
    EXPECT_TRUE(d.PrepareDiagram("", DiagramModel::MaxDiagramPoints, 10, 28000, lo, hi));
    EXPECT_EQ(d.PointCount, 51);  // unchanged
    EXPECT_FALSE(d.PrepareDiagram("", DiagramModel::MaxDiagramPoints - 1, 10, 28000, lo, hi));
    // The storage grew to the longest spectrum: its last slot takes a point and exports it.
    EXPECT_EQ(d.Capacity(), DiagramModel::MaxDiagramPoints);
    const float two[2] = {-1.0f, -2.0f};
    EXPECT_FALSE(d.StoreDiagramPoint(two, 2, DiagramModel::MaxDiagramPoints - 1, 27000.0f));
    EXPECT_NE(d.DiagramText(",").find("27000.00,-1.00"), std::string::npos);

    DiagramModel never;
    EXPECT_TRUE(never.PrepareDiagram("", 50, 10, 28000, lo, hi));
    EXPECT_FALSE(never.LayoutScreen(true));
}

TEST(ResetDiagramScales, UnsetsAllSixBoundsAndClearsThePoints)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    const float v[2] = {1.0f, 2.0f};
    d.StoreDiagramPoint(v, 2, 0, 100.0f);
    d.ResetDiagramScales();
    EXPECT_EQ(d.FreqMin, 99);
    EXPECT_EQ(d.FreqMax, 99);
    EXPECT_EQ(d.LevelMin, 99.0f);
    EXPECT_EQ(d.LevelMax, 99.0f);
    EXPECT_EQ(d.Level2Min, 99.0f);
    EXPECT_EQ(d.Level2Max, 99.0f);
    EXPECT_EQ(d.FreqArray[0], 0.0f);
}

TEST(ClearDiagramData, ClearingThePointsAsksForARepaint)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    int repaints = 0;
    d.onRepaint = [&] { ++repaints; };
    d.ClearDiagramData();
    EXPECT_EQ(repaints, 1);
    d.ResetDiagramScales();
    EXPECT_EQ(repaints, 2);
    // A new frequency range clears the old points, and they must vanish from the screen.
    float lo = -110.0f;
    float hi = 0.0f;
    d.PrepareDiagram("", 50, 20, 20000, lo, hi);
    EXPECT_EQ(repaints, 3);
    d.PrepareDiagram("", 50, 20, 20000, lo, hi);  // same range: points kept, no repaint
    EXPECT_EQ(repaints, 3);
}

TEST(StoreDiagramPoint, ModesAndIndexBounds)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    const float two[2] = {-1.0f, -2.0f};
    EXPECT_FALSE(d.StoreDiagramPoint(two, 2, 8181, 500.0f));
    EXPECT_EQ(d.Curve1Array[8181], -1.0f);
    EXPECT_EQ(d.Curve2Array[8181], -2.0f);
    EXPECT_TRUE(d.StoreDiagramPoint(two, 2, 8182, 500.0f));
    EXPECT_TRUE(d.StoreDiagramPoint(two, 2, -1, 500.0f));

    const float one = -7.0f;
    d.Options.StoreCurve1 = 0;
    d.Options.StoreCurve2 = 1;
    EXPECT_FALSE(d.StoreDiagramPoint(&one, 1, 3, 300.0f));
    EXPECT_EQ(d.Curve1Array[3], 0.0f);
    EXPECT_EQ(d.Curve2Array[3], -7.0f);
    EXPECT_EQ(d.FreqArray[3], 300.0f);
    d.Options.StoreCurve2 = 0;
    EXPECT_FALSE(d.StoreDiagramPoint(&one, 1, 4, 400.0f));
    EXPECT_EQ(d.FreqArray[4], 0.0f);  // neither curve chosen: slot stays empty

    d.FreeStorage();
    EXPECT_TRUE(d.StoreDiagramPoint(two, 2, 0, 500.0f));
}

TEST(LayoutDiagram, BandsAndScalesFollowTheFontSize)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0, 50, 1000, 700);
    const DiagramLayout& g = d.Layout();
    // LabelDecimals starts at 1: the left band holds "-110.0" (6 x 7) and a character;
    // the right band half of "20.00kHz" (8 x 7) and half a character.
    EXPECT_EQ(g.topBand, 32);
    EXPECT_EQ(g.bottomBand, 40);
    EXPECT_EQ(g.rightBand, 32);
    EXPECT_EQ(g.PlotRect.left, 49);
    EXPECT_EQ(g.PlotRect.right, 968);
    EXPECT_EQ(g.PlotRect.bottom, 660);
    const double plotW = 919.0;
    const double plotH = 628.0;
    EXPECT_DOUBLE_EQ(g.LogScale, plotW / std::log(2800.0));
    EXPECT_DOUBLE_EQ(g.LevelScale1, plotH / 110.0);
    EXPECT_DOUBLE_EQ(g.LinScale, plotW / 27990.0);
    EXPECT_EQ(g.FirstLogTick, 10);  // the tick at 10 Hz
    // rows = 628 div 19 = 33; 110 / 33 = 3.33 -> step 5 and no decimals.
    EXPECT_FLOAT_EQ(g.LevelStep1, 5.0f);
    EXPECT_EQ(g.LabelDecimals, 0);
    EXPECT_FLOAT_EQ(g.LevelStep2, 5.0f);
    // A second layout uses the decimals found by the first: "-110" and a character.
    ASSERT_TRUE(d.LayoutScreen(false));
    EXPECT_EQ(d.Layout().leftBand, 35);
}

TEST(LayoutDiagram, TheRightBandHoldsTheWidestLabelOfTheSecondAxisInTheTargetsFont)
{
    DiagramModel d = MakeDiagram(20, 20000, -45, 5, 50, 1000, 700);
    d.SetAxesShown(true, true);
    d.SetSecondRange(1000, -180);  // labels from "-180.0°" to "1000.0°", 7 characters
    const DiagramTextMetrics font{7, 13, 42, [](const std::string& t) { return 9 * static_cast<int>(t.size()); }};
    ASSERT_TRUE(d.LayoutDiagram(1000, 700, 8, font, false));
    EXPECT_GE(d.Layout().rightBand, 7 / 2 + 9 * 8);  // the degree sign is two bytes here
    EXPECT_EQ(d.Layout().PlotRect.right, 1000 - d.Layout().rightBand);
}

TEST(LayoutDiagram, FrequencyLabelStepIs2000For10To28000OnA1000PixelPlot)
{
    DiagramModel d;
    d.Activate();
    d.FreqMin = 10;
    d.FreqMax = 28000;
    d.LevelMin = -110;
    d.LevelMax = 0;
    d.Level2Min = -110;
    d.Level2Max = 0;
    // F = 8, decimals 1: L = 49, R = 32, so a 1081-pixel target has a 1000-pixel plot.
    ASSERT_TRUE(d.LayoutDiagram(1081, 700, 8, DiagramTextMetrics{7, 13, 30, {}}, false));
    EXPECT_EQ(d.Layout().PlotRect.right - d.Layout().PlotRect.left, 1000);
    EXPECT_EQ(d.Layout().FreqStep, 2000);  // 22 slots, raw step 27990 div 22 = 1272
}

TEST(LayoutDiagram, UndefinedScalesFail)
{
    {
        DiagramModel d = MakeDiagram(10, 28000, -110, 0);
        d.LevelMax = d.LevelMin = -20;
        EXPECT_FALSE(d.LayoutScreen(false));
        EXPECT_EQ(d.Options.LevelMax, -20.0f);  // mirrors are written even on failure
    }
    {
        DiagramModel d = MakeDiagram(10, 28000, -110, 0);
        d.FreqMin = 0;
        EXPECT_FALSE(d.LayoutScreen(false));
    }
    {
        DiagramModel d = MakeDiagram(10, 28000, -110, 0);
        d.FreqMin = -10;  // a negative frequency ratio has no logarithm
        EXPECT_FALSE(d.LayoutScreen(false));
    }
    {
        DiagramModel d = MakeDiagram(10, 28000, -110, 0);
        d.Level2Min = d.Level2Max = 5;
        EXPECT_FALSE(d.LayoutScreen(false));
    }
    {
        DiagramModel d = MakeDiagram(10, 28000, -110, 0);
        // Plot shorter than one and a half text heights: no label rows.
        EXPECT_FALSE(d.LayoutDiagram(580, 72 + 18, 8, DiagramTextMetrics{7, 13, 42, {}}, false));
        EXPECT_TRUE(d.LayoutDiagram(580, 72 + 19, 8, DiagramTextMetrics{7, 13, 42, {}}, false));
    }
}

TEST(Mappings, LinearClampsAndLogarithmicDoesNot)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0, 50, 1000, 700);
    const DiagramRect p = d.Layout().PlotRect;
    d.Options.XLog = 0;
    EXPECT_DOUBLE_EQ(d.FreqToX(5), p.left);
    EXPECT_DOUBLE_EQ(d.FreqToX(30000), p.right);
    EXPECT_DOUBLE_EQ(d.FreqToX(10), p.left);
    EXPECT_DOUBLE_EQ(d.FreqToX(28000), p.right);
    EXPECT_NEAR(d.XToFreq(p.left + 480), 10 + 480 * 27990.0 / (p.right - p.left), 1e-2);

    d.Options.XLog = 1;
    EXPECT_LT(d.FreqToX(5), p.left);
    EXPECT_NEAR(d.FreqToX(28000), p.right, 1e-9);
    EXPECT_DOUBLE_EQ(d.FreqToX(0), p.left);
    EXPECT_DOUBLE_EQ(d.FreqToX(-5), p.left);
    EXPECT_NEAR(d.FreqToX(std::sqrt(10.0 * 28000.0)), (p.left + p.right) / 2.0, 1e-9);
    EXPECT_NEAR(d.XToFreq(p.right), 28000.0, 0.05);
    EXPECT_NEAR(d.XToFreq(p.left), 10.0, 1e-5);

    EXPECT_EQ(d.LevelToY1(-110), p.bottom);
    EXPECT_EQ(d.LevelToY1(0), p.top);
    EXPECT_EQ(d.LevelToY1(-55), p.bottom - 314);
    EXPECT_NEAR(d.YToLevel(p.top), 0.0, 1e-9);
    EXPECT_NEAR(d.YToLevel(p.bottom), -110.0, 1e-9);
}

TEST(CollectCurve, CollapsesPixelsKeepsTheLastPointAndClampsOutsideValues)
{
    DiagramModel d = MakeDiagram(100, 1000, -100, 0, 4, 1000, 700);
    d.Options.XLog = 0;
    ASSERT_TRUE(d.LayoutScreen(false));
    const DiagramRect p = d.Layout().PlotRect;
    const int o = 13 / 8;
    const float a[2] = {-50, 0};
    const float above[2] = {20, 0};
    const float below[2] = {-300, 0};
    d.StoreDiagramPoint(a, 2, 0, 100.0f);
    d.StoreDiagramPoint(a, 2, 1, 100.01f);  // same pixel as slot 0: collapsed
    d.StoreDiagramPoint(above, 2, 2, 500.0f);
    d.StoreDiagramPoint(below, 2, 3, 600.0f);
    d.StoreDiagramPoint(below, 2, 4, 600.01f);  // repeats the pixel, but is the last point
    const int n = d.CollectCurve(1);
    ASSERT_EQ(n, 4);
    const auto& b = d.Polyline();
    EXPECT_EQ(b[0].x, p.left);
    EXPECT_EQ(b[0].y, d.LevelToY1(-50));
    EXPECT_EQ(b[1].y, p.top - o);
    EXPECT_EQ(b[1].x, DiagramRound(d.FreqToX(500)));
    EXPECT_EQ(b[2].y, p.bottom + o);
    EXPECT_EQ(b[3].x, b[2].x);
    EXPECT_EQ(b[3].y, b[2].y);
}

TEST(CollectCurve, SkipsEmptySlotsAndNeedsAFrequencyAboveTheMinimum)
{
    DiagramModel d = MakeDiagram(100, 1000, -100, 0, 9, 1000, 700);
    EXPECT_EQ(d.CollectCurve(1), 0);  // nothing stored
    const float v[2] = {-10, -20};
    d.StoreDiagramPoint(v, 2, 2, 200.0f);
    d.StoreDiagramPoint(v, 2, 6, 400.0f);
    // l = 1 (slot before the first above FreqMin, empty but mapped), slots 3..5, 7..9 skipped.
    EXPECT_EQ(d.CollectCurve(2), 3);
    EXPECT_EQ(d.Polyline()[0].x, d.Layout().PlotRect.left);
    EXPECT_EQ(d.Polyline()[2].y, d.LevelToY2(-20));

    // A stale slot behind PointCount is never drawn.
    d.StoreDiagramPoint(v, 2, 10, 800.0f);
    EXPECT_EQ(d.CollectCurve(1), 3);
}

TEST(CollectCurve, APointWithoutAValueLeavesAGapAndTheTableNoLine)
{
    DiagramModel d = MakeDiagram(100, 1000, -100, 0, 5, 1000, 700);
    d.Options.XLog = 0;
    d.Options.DrawCurve2 = 1;
    ASSERT_TRUE(d.LayoutScreen(false));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float points[5][2] = {{-10, 5}, {-20, nan}, {-30, 15}, {nan, nan}, {-50, 25}};
    for (int i = 0; i < 5; ++i) {
        d.StoreDiagramPoint(points[i], 2, i, 100.0f + 200.0f * static_cast<float>(i));
    }
    // Curve 1: two pieces around slot 3; curve 2: the lone slot 0, slot 2, slot 4.
    ASSERT_EQ(d.CollectCurve(1), 5);
    EXPECT_EQ(d.Polyline()[3].x, kCurveBreak);
    EXPECT_EQ(d.Polyline()[4].y, d.LevelToY1(-50));
    ASSERT_EQ(d.CollectCurve(2), 5);
    EXPECT_EQ(d.Polyline()[1].x, kCurveBreak);
    EXPECT_EQ(d.Polyline()[3].x, kCurveBreak);

    const sonvera::testing::TempDir scratch;
    const auto file = scratch.Path() / "gaps.txt";
    ASSERT_EQ(d.ExportDiagramText(file.string(), ","), 0);
    EXPECT_EQ(ReadFile(file), "100.00,-10.00,5.00\r\n300.00,-20.00,nan\r\n500.00,-30.00,15.00\r\n900.00,-50.00,25.00\r\n");
}

TEST(CollectCurve, AColumnOfManyBinsKeepsItsHighestAndLowestBinInTheirOrder)
{
    // 1000 Hz over a linear plot about 950 pixels wide: slots 0.01 Hz apart share a column.
    DiagramModel d = MakeDiagram(100, 1100, -100, 0, 7, 1000, 700);
    d.Options.XLog = 0;
    ASSERT_TRUE(d.LayoutScreen(false));
    const float levels[8] = {-50, -60, -12, -55, -90, -58, -52, -40};
    for (int i = 0; i < 7; ++i) {
        const float v[2] = {levels[i], 0};
        d.StoreDiagramPoint(v, 2, i, 600.0f + 0.01f * static_cast<float>(i));
    }
    const float next[2] = {levels[7], 0};
    d.StoreDiagramPoint(next, 2, 7, 700.0f);
    const int x = DiagramRound(d.FreqToX(600));
    ASSERT_EQ(DiagramRound(d.FreqToX(600.06)), x);
    // The peak (-12 dB) and the dip (-90 dB) in the order the slots reach them, then the
    // next column's point: no bin between them adds a vertex.
    ASSERT_EQ(d.CollectCurve(1), 3);
    const auto& b = d.Polyline();
    EXPECT_EQ(b[0].x, x);
    EXPECT_EQ(b[0].y, d.LevelToY1(-12));
    EXPECT_EQ(b[1].x, x);
    EXPECT_EQ(b[1].y, d.LevelToY1(-90));
    EXPECT_EQ(b[2].x, DiagramRound(d.FreqToX(700)));
}

TEST(ExportDiagramText, WritesTheShownColumnsWithCrLfAndEachSeparator)
{
    const sonvera::testing::TempDir scratch;
    const auto& dir = scratch.Path();
    DiagramModel d = MakeDiagram(20, 20000, -45, 5, 3);
    const float p0[2] = {-1.5f, 12.25f};
    const float p1[2] = {-0.004f, -90.0f};
    d.StoreDiagramPoint(p0, 2, 0, 20.0f);
    d.StoreDiagramPoint(p1, 2, 1, 1000.5f);
    d.StoreDiagramPoint(p0, 2, 2, 25000.0f);  // above FreqMax: left out
    // slot 3 empty: frequency 0 below FreqMin, left out

    const auto file = dir / "a.txt";
    EXPECT_EQ(d.ExportDiagramText(file.string(), ","), 0);
    EXPECT_EQ(ReadFile(file), "20.00,-1.50\r\n1000.50,0.00\r\n");

    d.Options.DrawCurve2 = 1;
    EXPECT_EQ(d.ExportDiagramText(file.string(), ";"), 0);
    EXPECT_EQ(ReadFile(file), "20.00;-1.50;12.25\r\n1000.50;0.00;-90.00\r\n");
    EXPECT_EQ(d.ExportDiagramText(file.string(), "\\t"), 0);
    EXPECT_EQ(ReadFile(file), "20.00\t-1.50\t12.25\r\n1000.50\t0.00\t-90.00\r\n");
    EXPECT_EQ(d.ExportDiagramText(file.string(), "\\n"), 0);
    EXPECT_EQ(ReadFile(file), "20.00\r\n-1.50\r\n12.25\r\n1000.50\r\n0.00\r\n-90.00\r\n");
    EXPECT_EQ(d.ExportDiagramText(file.string(), "\\T"), 0);  // exact comparison only
    EXPECT_EQ(ReadFile(file), "20.00\\T-1.50\\T12.25\r\n1000.50\\T0.00\\T-90.00\r\n");

    d.Options.DrawCurve1 = 0;
    d.Options.DrawCurve2 = 0;
    EXPECT_EQ(d.ExportDiagramText(file.string(), ","), 0);
    EXPECT_EQ(ReadFile(file), "20.00\r\n1000.50\r\n");

    // Empty slots are written only when the range starts at 0 or below.
    d.FreqMin = 0;
    EXPECT_EQ(d.ExportDiagramText(file.string(), ","), 0);
    EXPECT_EQ(ReadFile(file), "20.00\r\n1000.50\r\n0.00\r\n");

    EXPECT_NE(d.ExportDiagramText((dir / "no_such_dir" / "x.txt").string(), ","), 0);
    d.FreeStorage();
    EXPECT_EQ(d.ExportDiagramText(file.string(), ","), 1000);
}

TEST(SpinButtons, AutomaticStepSnapsToTheLadder)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    ASSERT_EQ(d.Options.YStepAuto, 1);
    EXPECT_TRUE(d.SpinClick(1, true));  // s = NiceStep(11) = 20
    EXPECT_EQ(d.LevelMax, 20.0f);
    EXPECT_EQ(d.Level2Max, 20.0f);
    EXPECT_EQ(d.Options.LevelMax, 20.0f);

    DiagramModel e = MakeDiagram(10, 28000, -110, 0);
    e.SpinClick(1, false);
    EXPECT_EQ(e.LevelMax, -20.0f);
    e.SpinClick(2, true);  // s = NiceStep(9) = 10: -110 -> -100
    EXPECT_EQ(e.LevelMin, -100.0f);
    EXPECT_EQ(e.Level2Min, -100.0f);
    e.SpinClick(2, false);
    EXPECT_EQ(e.LevelMin, -110.0f);

    // The lower bound never passes the upper one.
    DiagramModel f = MakeDiagram(10, 28000, -10, 0);
    f.SpinClick(2, true);  // s = 2: -8
    EXPECT_EQ(f.LevelMin, -8.0f);
}

TEST(SpinButtons, ManualStepIsRefusedWhenTheRangeWouldCollapse)
{
    DiagramModel d = MakeDiagram(10, 28000, -10, 0);
    d.Options.YStepAuto = 0;
    d.Options.YStep = 5;
    d.SpinClick(1, false);
    EXPECT_EQ(d.LevelMax, -5.0f);
    d.SpinClick(1, false);
    EXPECT_EQ(d.LevelMax, -5.0f);
    d.SpinClick(2, true);
    EXPECT_EQ(d.LevelMin, -10.0f);
    d.SpinClick(2, false);
    EXPECT_EQ(d.LevelMin, -15.0f);
    d.Options.YStep = 0;
    d.SpinClick(1, true);
    d.SpinClick(2, false);
    EXPECT_EQ(d.LevelMax, -5.0f);
    EXPECT_EQ(d.LevelMin, -15.0f);

    // With a right axis of its own, curve 2 keeps its range.
    d.SetAxesShown(true, true);
    d.Options.YStep = 5;
    d.SpinClick(1, true);
    EXPECT_EQ(d.LevelMax, 0.0f);
    EXPECT_EQ(d.Level2Max, -5.0f);
}

TEST(ScrollBars, MoveTheFrequencyBoundsInSteps)
{
    DiagramModel d = MakeDiagram(15, 28000, -110, 0);
    d.ScrollClick(false, ScrollCode::LineRight);
    EXPECT_EQ(d.FreqMin, 20);
    EXPECT_EQ(d.Options.FreqMin, 20);
    d.FreqMin = 5;
    d.ScrollClick(false, ScrollCode::LineLeft);
    EXPECT_EQ(d.FreqMin, 1);
    d.ScrollClick(false, ScrollCode::LineRight);
    EXPECT_EQ(d.FreqMin, 10);
    d.ScrollClick(false, ScrollCode::LineLeft);
    EXPECT_EQ(d.FreqMin, 1);
    d.ScrollClick(false, ScrollCode::Other);
    EXPECT_EQ(d.FreqMin, 1);

    d.FreqMax = 49800;
    d.ScrollClick(true, ScrollCode::LineRight);
    EXPECT_EQ(d.FreqMax, 50000);
    d.ScrollClick(true, ScrollCode::LineRight);
    EXPECT_EQ(d.FreqMax, 50000);
    d.FreqMin = 1000;
    d.FreqMax = 1200;
    d.ScrollClick(true, ScrollCode::LineLeft);
    EXPECT_EQ(d.FreqMax, 1500);  // below FreqMin: FreqMin + 500
    d.FreqMax = 1000;
    d.FreqMin = 995;
    d.ScrollClick(false, ScrollCode::LineRight);  // 1005 -> 1000, not above FreqMax
    EXPECT_EQ(d.FreqMin, 1000);
    d.FreqMin = 1000;
    d.FreqMax = 1003;
    d.ScrollClick(false, ScrollCode::LineRight);  // 1010 > 1003 -> 993
    EXPECT_EQ(d.FreqMin, 993);
    // A tiny upper bound never drives the lower one to 0 Hz or below.
    d.FreqMin = 1;
    d.FreqMax = 5;
    d.ScrollClick(false, ScrollCode::LineRight);
    EXPECT_EQ(d.FreqMin, 1);
}

TEST(ScrollBars, BoundsAtTheEndsOfTheIntegerRangeStepWithoutWrapping)
{
    // Such bounds come straight from a configuration file.
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    d.FreqMax = kMax;
    d.ScrollClick(true, ScrollCode::LineRight);
    EXPECT_EQ(d.FreqMax, 50000);  // capped, not wrapped to a negative bound

    d.FreqMin = kMin;
    d.FreqMax = 28000;
    d.ScrollClick(false, ScrollCode::LineLeft);
    EXPECT_EQ(d.FreqMin, 1);

    d.FreqMin = kMax - 100;
    d.FreqMax = kMax;
    d.ScrollClick(true, ScrollCode::LineRight);  // 50000 is below FreqMin: FreqMin + 500
    EXPECT_EQ(d.FreqMax, kMax);
    EXPECT_EQ(d.Options.FreqMax, kMax);

    d.FreqMin = 20;
    d.FreqMax = kMin;
    d.ScrollClick(false, ScrollCode::LineRight);  // FreqMax - 10 would wrap
    EXPECT_EQ(d.FreqMin, 1);
}

TEST(CursorReadouts, LevelTextsInBothLanguages)
{
    EXPECT_EQ(LevelReadoutText(20.0 * std::log10(2.0), "fach"), "6.0dB / 2.0fach");
    EXPECT_EQ(LevelReadoutText(-40.0, "fach"), "-40.0dB / 1.00000%");
    EXPECT_EQ(LevelReadoutText(-20.0, "fach"), "-20.0dB / 10.0%");
    EXPECT_EQ(LevelReadoutText(-6.0, "times"), "-6.0dB / 50.1%");
    EXPECT_EQ(LevelReadoutText(-60.0, "times"), "-60.0dB / 0.10000%");
    EXPECT_EQ(LevelReadoutText(20.0, "times"), "20.0dB / 10.0times");
}

TEST(CursorReadouts, PointLevelSlopeAndFaults)
{
    // A plot 2 pixels per dB high, log axis 100..1600 Hz over 400 pixels (100 per octave).
    DiagramModel d;
    d.Activate();
    d.SetScreen(49 + 400 + 32, 32 + 200 + 40, DiagramTextMetrics{7, 13, 42, {}});
    float lo = -100;
    float hi = 0;
    ASSERT_FALSE(d.PrepareDiagram("", 50, 100, 1600, lo, hi));
    const DiagramRect p = d.Layout().PlotRect;
    ASSERT_EQ(p.right - p.left, 400);
    ASSERT_EQ(p.bottom - p.top, 200);

    const int x0 = p.left + 100;  // 200 Hz
    const int y0 = p.top + 40;    // -20 dB
    EXPECT_TRUE(d.MouseDown(MouseButton::Left, x0, y0));
    EXPECT_EQ(d.PointReadout, "200Hz/-20.0dB");
    EXPECT_EQ(d.CursorMode, 4);
    d.MouseUp(MouseButton::Left);
    EXPECT_TRUE(d.MeasureActive);

    // Level cursor (the default): 40 pixels lower is -20 dB.
    EXPECT_TRUE(d.MouseMove(x0 + 3, y0 + 40));
    EXPECT_EQ(d.LevelReadout, "-20.0dB / 10.0%");
    EXPECT_EQ(d.CursorMode, 2);
    // The same row again: no change, no repaint.
    d.MouseMove(x0 + 5, y0 + 40);
    EXPECT_FALSE(d.MouseMove(x0 + 5, y0));

    // Slope: one octave to the right, 6 dB down.
    d.Options.CursorSlope = 1;
    EXPECT_TRUE(d.MouseMove(x0 + 100, y0 + 12));
    EXPECT_EQ(d.FreqReadout, "6.0dB/Okt");
    EXPECT_EQ(d.CursorMode, 3);
    EXPECT_EQ(d.LevelReadout, "-6.0dB / 50.1%");

    // At the start column the frequency ratio is 1: no slope.
    d.MouseMove(x0, y0 + 12);
    EXPECT_EQ(d.FreqReadout, "FP error");
    EXPECT_EQ(d.LevelReadout, "FP error");

    // Frequency cursor only.
    d.Options.CursorSlope = 0;
    d.Options.CursorLevel = 0;
    d.Options.CursorFreq = 1;
    d.MouseMove(x0 + 200, y0 + 12);
    EXPECT_EQ(d.FreqReadout, "800Hz");
    EXPECT_EQ(d.CursorMode, 1);

    // Leaving the plot by more than 4 pixels ends the measurement.
    d.MouseMove(p.left - 4, y0);
    EXPECT_TRUE(d.MeasureActive);
    d.MouseMove(p.left - 5, y0);
    EXPECT_FALSE(d.MeasureActive);
    EXPECT_EQ(d.CursorMode, 0);
    EXPECT_EQ(d.startColumn, -1);

    // Second click ends a running measurement.
    d.MouseDown(MouseButton::Left, x0, y0);
    d.MouseUp(MouseButton::Left);
    d.MouseDown(MouseButton::Left, x0, y0);
    d.MouseUp(MouseButton::Left);
    EXPECT_FALSE(d.MeasureActive);
    EXPECT_EQ(d.CursorMode, 0);
    EXPECT_TRUE(d.PointReadout.empty());

    d.SetDiagramTexts('E');
    EXPECT_EQ(d.ratioWord, "times");
    d.SetDiagramTexts('X');
    EXPECT_EQ(d.ratioWord, "times");
    d.SetDiagramTexts('D');
    EXPECT_EQ(d.ratioWord, "fach");
}

TEST(KeptResult, ComesBackWholeAndItsLineFollowsTheLanguage)
{
    DiagramModel d = MakeDiagram(20, 20000, -60, 10, 9);
    d.Axis2Shown = true;
    d.Options.DrawCurve2 = 1;
    d.Axis2Unit = "dB";
    const float v[2] = {-3.0f, 45.0f};
    ASSERT_FALSE(d.StoreDiagramPoint(v, 2, 4, 1000.0f));
    d.SetResultLine("Verz\xC3\xB6gerung 1", "Delay 1");
    EXPECT_EQ(d.ResultLine(), "Verz\xC3\xB6gerung 1");
    d.SetDiagramTexts('E');
    EXPECT_EQ(d.ResultLine(), "Delay 1");
    const DiagramResult kept = d.KeepResult();

    // Another page uses the diagram: other points, one axis, no line.
    d.ResetDiagramScales();
    d.Axis2Shown = false;
    d.Options.DrawCurve2 = 0;
    float lo = -110.0f, hi = 0.0f;
    ASSERT_FALSE(d.PrepareDiagram("", 50, 10, 28000, lo, hi));
    ASSERT_EQ(d.PointCount, 51);
    d.SetResultLine("");

    d.ShowResult(kept);
    EXPECT_EQ(d.PointCount, 10);
    EXPECT_EQ(d.FreqMin, 20);
    EXPECT_EQ(d.FreqMax, 20000);
    EXPECT_EQ(d.LevelMin, -60.0f);
    EXPECT_EQ(d.FreqArray[4], 1000.0f);
    EXPECT_EQ(d.Curve1Array[4], -3.0f);
    EXPECT_EQ(d.Curve2Array[4], 45.0f);
    EXPECT_TRUE(d.Axis2Shown);
    EXPECT_EQ(d.Options.DrawCurve2, 1);
    EXPECT_EQ(d.Axis2Unit, "dB");
    EXPECT_EQ(d.ResultLine(), "Delay 1");
    d.SetDiagramTexts('D');
    EXPECT_EQ(d.ResultLine(), "Verz\xC3\xB6gerung 1");
}

TEST(ApplyOptions, TakesRangesAndKeepsCurveTwoOnTheLeftScale)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0);
    DiagramOptions o = d.Options;
    o.FreqMin = 100;
    o.FreqMax = 20000;
    o.LevelMin = -60;
    o.LevelMax = 10;
    o.XLog = 0;
    EXPECT_TRUE(d.ApplyOptions(o));
    EXPECT_EQ(d.FreqMin, 100);
    EXPECT_EQ(d.FreqMax, 20000);
    EXPECT_EQ(d.Level2Min, -60.0f);
    EXPECT_EQ(d.Level2Max, 10.0f);
    EXPECT_EQ(d.Options.XLog, 0);
    o.LevelMin = o.LevelMax;
    EXPECT_FALSE(d.ApplyOptions(o));
}

TEST(PlaceControls, FollowsTheBands)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0, 50, 580, 370);
    const DiagramControlPlacement c = d.PlaceControls(16);
    const DiagramLayout& g = d.Layout();
    EXPECT_EQ(c.SpinButton1.x, 1);
    EXPECT_EQ(c.SpinButton1.w, g.leftBand * 2 / 3);
    EXPECT_EQ(c.SpinButton2.y, 370 - 13);
    EXPECT_EQ(c.ScrollBarLF.x, 1 + g.leftBand * 2 / 3 + 2);
    EXPECT_EQ(c.ScrollBarHF.x, 580 - 26);
    EXPECT_EQ(c.Edicomment.y, (32 - 16) / 2 - 2);
    EXPECT_EQ(c.Edit2.h, 40 - 13 - 10);
    EXPECT_EQ(c.Edit2.y, 370 - 17 - 1);
    EXPECT_EQ(c.Edit2.x, c.ScrollBarLF.x + 30);
    EXPECT_EQ(c.Edit2.x + c.Edit2.w + 3, 580 - 26);
}

namespace {

std::vector<std::string> TickLabels(const DiagramModel& d)
{
    std::vector<std::string> labels;
    d.ForEachFreqTick([&](int, const std::string& label) { labels.push_back(label); });
    return labels;
}

std::vector<std::string> Labelled(const std::vector<std::string>& all)
{
    std::vector<std::string> out;
    for (const auto& l : all) {
        if (!l.empty()) {
            out.push_back(l);
        }
    }
    return out;
}

}  // namespace

TEST(FrequencyTicks, LogarithmicAxisFrom10To28000)
{
    DiagramModel d = MakeDiagram(10, 28000, -110, 0, 50, 1000, 700);
    const auto all = TickLabels(d);
    const std::vector<std::string> expected = {"10", "20", "30",  "50", "100", "200", "300",
                                               "500", "1k", "2k", "3k", "5k",  "10k", "20kHz"};
    EXPECT_EQ(Labelled(all), expected);
    // 10..90, 100..900, 1000..9000, 10000 and 20000: 29 ticks, the unlabelled ones included.
    EXPECT_EQ(all.size(), 29u);
    int lastX = -1;
    d.ForEachFreqTick([&](int x, const std::string&) {
        EXPECT_GT(x, lastX);
        lastX = x;
    });
    EXPECT_EQ(lastX, DiagramRound(d.FreqToX(20000)));
}

TEST(FrequencyTicks, LogarithmicAxisEndingBetweenTicksPutsTheUnitOnTheLastOne)
{
    DiagramModel d = MakeDiagram(20, 4500, -110, 0, 50, 1000, 700);
    const auto all = TickLabels(d);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), "Hz");  // the unlabelled 4000 Hz tick
    EXPECT_EQ(all.front(), "20");

    // A range below the first tick of the table still draws that first tick.
    DiagramModel e = MakeDiagram(100000, 100000, -110, 0, 50, 1000, 700);
    EXPECT_EQ(TickLabels(e), std::vector<std::string>{"100kHz"});
}

TEST(FrequencyTicks, LinearAxisLabelsWithThousandsAndUnit)
{
    DiagramModel d = MakeDiagram(20, 20000, -110, 0, 50, 1000, 700);
    d.Options.XLog = 0;
    ASSERT_TRUE(d.LayoutScreen(false));
    ASSERT_EQ(d.Layout().FreqStep, 2000);  // 960 div 63 = 15 slots, 19980 div 15 = 1332
    const std::vector<std::string> expected = {"20",     "2.00k",  "4.00k",  "6.00k",
                                               "8.00k",  "10.00k", "12.00k", "14.00k",
                                               "16.00k", "18.00k", "20.00kHz"};
    EXPECT_EQ(TickLabels(d), expected);

    DiagramModel e = MakeDiagram(10, 900, -110, 0, 50, 1000, 700);
    e.Options.XLog = 0;
    ASSERT_TRUE(e.LayoutScreen(false));
    const auto labels = TickLabels(e);
    ASSERT_FALSE(labels.empty());
    EXPECT_EQ(labels.front(), "10");
    EXPECT_EQ(labels.back().substr(labels.back().size() - 2), "Hz");
}

TEST(CurveMath, APeakBetweenBinsAndValuesBetweenPoints)
{
    // Bins 10.77 Hz apart (a 4096-point spectrum at 44.1 kHz) on a parabola in dB whose
    // top lies between two of them: the parabola's vertex comes back.
    std::vector<float> f;
    std::vector<float> v;
    for (int k = 0; k < 200; ++k) {
        const double freq = k * 10.7666;
        f.push_back(static_cast<float>(freq));
        const double x = (freq - 1003.3) / 10.7666;
        v.push_back(static_cast<float>(-3.0 - 0.5 * x * x));
    }
    double peakHz = 0.0;
    double peak = 0.0;
    ASSERT_TRUE(CurvePeak(f.data(), v.data(), f.size(), 20.0, 20000.0, peakHz, peak));
    EXPECT_NEAR(peakHz, 1003.3, 0.01);
    EXPECT_NEAR(peak, -3.0, 0.001);
    // The highest point at the range's end has no neighbour there: the point itself.
    ASSERT_TRUE(CurvePeak(f.data(), v.data(), f.size(), 20.0, 900.0, peakHz, peak));
    EXPECT_FLOAT_EQ(static_cast<float>(peakHz), f[83]);
    EXPECT_FALSE(CurvePeak(f.data(), v.data(), f.size(), 5000.0, 6000.0, peakHz, peak));

    // Straight between points, skipping empty slots (0 Hz); nothing outside or at a gap.
    const float slotsF[] = {0, 100, 0, 200, 400};
    const float slotsV[] = {9, -10, 9, -20, std::nanf("")};
    EXPECT_DOUBLE_EQ(CurveValueAt(slotsF, slotsV, 5, 150.0), -15.0);
    EXPECT_DOUBLE_EQ(CurveValueAt(slotsF, slotsV, 5, 200.0), -20.0);
    EXPECT_TRUE(std::isnan(CurveValueAt(slotsF, slotsV, 5, 300.0)));
    EXPECT_TRUE(std::isnan(CurveValueAt(slotsF, slotsV, 5, 50.0)));

    // A difference of phases stays within -180 .. 180 degrees.
    const float refF[] = {100, 300};
    const float refV[] = {170, 170};
    float phase[] = {-170, 0};
    const float phaseF[] = {200, 0};
    SubtractCurve(phaseF, phase, 2, refF, refV, 2, true);
    EXPECT_FLOAT_EQ(phase[0], 20.0f);
    EXPECT_FLOAT_EQ(phase[1], 0.0f);  // an empty slot stays
}

TEST(DiagramCompare, CurvesShowTheirDifferenceToTheReferenceAndTheExportNamesThem)
{
    // A sweep with phase on the right axis; the reference 3 dB lower, its phase 170°.
    DiagramModel d = MakeDiagram(100, 1000, -40, 10, 3);
    d.SetCurvesShown(true, true);
    d.SetAxesShown(true, true);
    for (int i = 0; i < 4; ++i) {
        const float v[2] = {-static_cast<float>(i), -170.0f};
        d.StoreDiagramPoint(v, 2, i, 100.0f * static_cast<float>(i + 1));
    }
    Overlay ref;
    ref.name = "Ref";
    ref.secondAxis = true;
    ref.unit2 = "\u00B0";
    ref.freqHz = {50.0f, 1000.0f};
    ref.curve1 = {-3.0f, -3.0f};
    ref.curve2 = {170.0f, 170.0f};
    std::uint64_t id = 0;
    ASSERT_TRUE(d.Overlays.Keep(0, ref, &id));
    const std::string before = d.DiagramText(",");
    EXPECT_EQ(before.rfind("# Hz,Messung,Messung (2),Ref,Ref (2)\r\n100.00,0.00,-170.00,-3.00,170.00\r\n", 0), 0u)
        << before;

    ASSERT_TRUE(d.Overlays.SetReference(0, id));
    ASSERT_TRUE(d.SetDifference(true));
    EXPECT_TRUE(d.DifferenceShown());
    EXPECT_FLOAT_EQ(d.ShownValues(1)[2], 1.0f);    // -2 - (-3)
    EXPECT_FLOAT_EQ(d.ShownValues(2)[2], 20.0f);   // -170 - 170, around the circle
    EXPECT_FLOAT_EQ(d.Curve1Array[2], -2.0f);       // the stored points stay
    EXPECT_TRUE(d.Zoomed());                        // the level axis fits the differences
    EXPECT_LE(d.LevelMin, -5.0f);
    EXPECT_GE(d.LevelMax, 5.0f);
    const std::string shown = d.DiagramText(";");
    EXPECT_EQ(shown.rfind("# Differenz zu Ref\r\n# Hz;Messung;Messung (2);Ref;Ref (2)\r\n100.00;3.00;20.00;0.00;0.00\r\n", 0),
              0u)
        << shown;
    const std::vector<LegendLine> legend = d.Legend();
    ASSERT_EQ(legend.size(), 5u);  // the note, the measurement's two curves, the reference's two
    EXPECT_EQ(legend[0].text, "Differenz zu Ref");
    EXPECT_EQ(legend[4].kind, LegendLine::Kind::Dashed);

    d.SetDifference(false);
    EXPECT_FALSE(d.Zoomed());
    EXPECT_EQ(d.LevelMin, -40.0f);
    // The other page has overlays of its own.
    d.SetPage(1);
    EXPECT_TRUE(d.ShownOverlays().empty());
    EXPECT_EQ(d.DiagramText(","), "100.00,0.00,-170.00\r\n200.00,-1.00,-170.00\r\n300.00,-2.00,-170.00\r\n"
                                  "400.00,-3.00,-170.00\r\n");
}

TEST(DiagramZoom, TheRightAxisFollowsAndTheRunsKeepThePagesRange)
{
    DiagramModel d = MakeDiagram(20, 20000, -40, 10);
    d.SetAxesShown(true, true);
    d.SetSecondRange(180.0f, -180.0f);
    ASSERT_TRUE(d.ZoomTo(100.4, 999.6, -15.0004, 0.0));
    EXPECT_EQ(d.FreqMin, 100);   // whole hertz, outward
    EXPECT_EQ(d.FreqMax, 1000);
    EXPECT_EQ(d.LevelMin, -15.0f);  // three decimals, as the options dialog shows them
    // -15 .. 0 of -40 .. 10 is the half from the middle up to 0.8 of the right axis.
    EXPECT_NEAR(d.Level2Min, 0.0f, 1e-3);
    EXPECT_NEAR(d.Level2Max, 108.0f, 1e-3);
    EXPECT_EQ(d.Options.FreqMin, 100);  // what an open options dialog shows

    float lo = -99.0f;
    float hi = 99.0f;
    d.GetLevelRange(lo, hi);
    EXPECT_EQ(lo, -40.0f);
    EXPECT_EQ(hi, 10.0f);
    int fmin = 0;
    int fmax = 0;
    d.GetFreqRange(fmin, fmax);
    EXPECT_EQ(fmin, 20);
    EXPECT_EQ(fmax, 20000);
    lo = -100.0f;
    hi = 100.0f;
    EXPECT_FALSE(d.PrepareDiagram("", 50, 100, 1000, lo, hi));
    EXPECT_EQ(lo, -40.0f);  // a run learns the page's levels, not the zoom's
    // The sweep sets its phase range meanwhile: the zoom shows the same part of it.
    d.SetSecondRange(90.0f, -90.0f);
    EXPECT_NEAR(d.Level2Max, 54.0f, 1e-3);

    // Out of the wheel's reach beyond 50 kHz; back to the page's range, then nothing to leave.
    for (int i = 0; i < 40; ++i) {
        d.WheelZoom(d.Layout().PlotRect.left, 100, -3, false);
    }
    EXPECT_LE(d.FreqMax, 50000);
    EXPECT_GE(d.FreqMin, 1);
    EXPECT_TRUE(d.ResetZoom());
    EXPECT_EQ(d.FreqMin, 20);
    EXPECT_EQ(d.Level2Max, 90.0f);
    EXPECT_FALSE(d.ResetZoom());
    d.ZoomTo(100, 200, -10, 0);
    d.ResetDiagramScales();  // a page left: no zoom to come back to
    EXPECT_FALSE(d.Zoomed());
}

TEST(DiagramMarkers, PeakOnAnOverlayAndMarkerBFollowingThePointer)
{
    DiagramModel d = MakeDiagram(100, 10000, -60, 0, 50, 1000, 500);
    d.SetCurvesShown(false, false);
    Overlay o;
    o.name = "Box";
    for (int k = 1; k <= 60; ++k) {
        const double f = 100.0 * std::pow(10.0, (k - 1) / 30.0);
        o.freqHz.push_back(static_cast<float>(f));
        const double x = (f - 1234.0) / 50.0;
        o.curve1.push_back(static_cast<float>(-10.0 - x * x));
    }
    ASSERT_TRUE(d.Overlays.Keep(0, o));
    const CurveRef box = d.ChosenCurve();
    EXPECT_NE(box.overlay, 0u);
    ASSERT_TRUE(d.PeakMarker(box));
    EXPECT_GT(d.MarkerA.freqHz, 1150.0);  // between the points around the top
    EXPECT_LT(d.MarkerA.freqHz, 1350.0);
    ASSERT_EQ(d.MarkerTexts().size(), 1u);
    EXPECT_EQ(d.MarkerTexts()[0].rfind("A  Box: ", 0), 0u) << d.MarkerTexts()[0];

    // A click puts A on the curve, moving carries B along it, the readout gives their distance.
    const int x0 = d.Layout().PlotRect.left + 300;
    ASSERT_TRUE(d.MouseDown(MouseButton::Left, x0, 100));
    d.MouseUp(MouseButton::Left);
    ASSERT_TRUE(d.MarkerA.set);
    EXPECT_TRUE(d.MouseMove(x0 + 100, 100));
    ASSERT_TRUE(d.MarkerB.set);
    EXPECT_NEAR(d.MarkerB.freqHz, d.XToFreq(x0 + 100), 1e-3);
    ASSERT_EQ(d.MarkerTexts().size(), 3u);
    EXPECT_EQ(d.MarkerTexts()[2].rfind("\u0394  " + FormatFixed(d.MarkerB.freqHz - d.MarkerA.freqHz, 1) + " Hz", 0), 0u);
    // A drag from there zooms and leaves the markers as they were.
    const CurveMarker a = d.MarkerA;
    d.MouseDown(MouseButton::Left, x0, 100);
    d.MouseMove(x0 + 80, 200, true);
    EXPECT_TRUE(d.Dragging());
    EXPECT_TRUE(d.MouseUp(MouseButton::Left));
    EXPECT_TRUE(d.Zoomed());
    EXPECT_EQ(d.MarkerA.freqHz, a.freqHz);
}

TEST(DiagramLevelAxis, LabelsExportsReadsAndMarksInDbfsAndHidesOverlaysKeptOverFrequency)
{
    DiagramModel d;
    d.Activate();
    d.SetScreen(580, 370, DiagramTextMetrics{7, 13, 42, {}});
    Overlay o;
    o.name = "Box";
    o.freqHz = {100.0f, 1000.0f};
    o.curve1 = {-3.0f, -3.0f};
    ASSERT_TRUE(d.Overlays.Keep(0, o));
    d.Options.FreqMin = 20;  // as read from the configuration
    d.Options.FreqMax = 20000;
    d.SetXQuantity(XQuantity::LevelDbfs);
    float lo = -120.0f, hi = 0.0f;
    ASSERT_FALSE(d.PrepareDiagram("", 2, -60, 0, lo, hi));
    int fmin = 0, fmax = 0;
    d.GetFreqRange(fmin, fmax);
    EXPECT_EQ(fmin, -60);
    EXPECT_EQ(fmax, 0);
    // 0 dBFS is a point like any other, not an empty slot.
    const float a[1] = {-90.0f}, b[1] = {-60.0f}, c[1] = {-20.5f};
    ASSERT_FALSE(d.StoreDiagramPoint(a, 1, 0, -60.0f));
    ASSERT_FALSE(d.StoreDiagramPoint(b, 1, 1, -30.0f));
    ASSERT_FALSE(d.StoreDiagramPoint(c, 1, 2, 0.0f));

    std::vector<std::pair<int, std::string>> ticks;
    d.ForEachFreqTick([&](int x, const std::string& label) { ticks.emplace_back(x, label); });
    ASSERT_GE(ticks.size(), 3u);
    EXPECT_EQ(ticks.front(), std::make_pair(d.Layout().PlotRect.left, std::string("-60")));
    EXPECT_EQ(ticks.back(), std::make_pair(d.Layout().PlotRect.right, std::string("0dBFS")));
    EXPECT_EQ(DiagramRound(d.FreqToX(d.InnerX(-30.0))), (d.Layout().PlotRect.left + d.Layout().PlotRect.right) / 2);

    EXPECT_EQ(d.DiagramText(","), "# dBFS,Messung\r\n-60.00,-90.00\r\n-30.00,-60.00\r\n0.00,-20.50\r\n");
    EXPECT_TRUE(d.ShownOverlays().empty());
    EXPECT_EQ(d.KeepCurves("Keep").problem, OverlayProblem::OtherAxis);
    EXPECT_FALSE(d.FreqBoundsRefusal().empty());
    EXPECT_FALSE(d.ScrollClick(true, ScrollCode::LineRight));
    // The options dialog's frequency bounds do not apply; the configuration keeps those
    // the diagram had before.
    DiagramOptions typed = d.Options;
    typed.FreqMin = 50;
    ASSERT_TRUE(d.ApplyOptions(typed));
    d.GetFreqRange(fmin, fmax);
    EXPECT_EQ(std::make_pair(fmin, fmax), std::make_pair(-60, 0));
    EXPECT_EQ(std::make_pair(d.StoredOptions().FreqMin, d.StoredOptions().FreqMax), std::make_pair(20, 20000));

    const int middle = (d.Layout().PlotRect.left + d.Layout().PlotRect.right) / 2;
    ASSERT_TRUE(d.MouseDown(MouseButton::Left, middle, d.LevelToY1(-60.0)));
    EXPECT_EQ(d.PointReadout.rfind("-30dBFS/-60.", 0), 0u) << d.PointReadout;  // within a pixel
    ASSERT_EQ(d.MarkerTexts().size(), 1u);
    EXPECT_EQ(d.MarkerTexts()[0].rfind("A  Messung: -30.", 0), 0u) << d.MarkerTexts()[0];
    EXPECT_NE(d.MarkerTexts()[0].find(" dBFS  -60."), std::string::npos) << d.MarkerTexts()[0];

    // Back on frequency the overlay is drawn again.
    d.SetXQuantity(XQuantity::Frequency);
    ASSERT_FALSE(d.PrepareDiagram("", 2, 20, 20000, lo, hi));
    EXPECT_EQ(d.ShownOverlays().size(), 1u);
}
