#include <gtest/gtest.h>

#include <cmath>

#include "scope/scopemodel.h"

namespace sonvera {
namespace {

// A 260 x 240 pixel screen area under the 30-pixel band, 1 ms per division.
ScopeModel ModelWith1msTimebase()
{
    ScopeModel m;
    m.PrepareScope("", 512, false, 0.0f, 0.01f, 0.0f, 8.0f);
    m.LayoutScope(260, 30 + 240);
    return m;
}

TEST(ScopeModel, CreatedWith512ZeroPointsAndTheVerticalRangeFixedAt0To8)
{
    ScopeModel m;
    EXPECT_TRUE(m.ArraysExist());
    EXPECT_EQ(m.ScopeLastIndex(), 511);
    ASSERT_EQ(m.ScopeCh1().size(), 512u);
    EXPECT_EQ(m.ScopeYMin(), 0.0f);
    EXPECT_EQ(m.ScopeYMax(), 8.0f);
    EXPECT_EQ(m.ScopeXMax(), 10.0f);
    EXPECT_EQ(m.CursorX1(), -1);
    EXPECT_EQ(m.CursorY2(), -1);
    EXPECT_EQ(m.Label1Text(), "      Time / Frequ.      ");
    EXPECT_EQ(m.Label2Text(), "      Volt      ");

    // Later vertical bounds are not taken: the range stays 0..8.
    EXPECT_FALSE(m.PrepareScope("x", 650, false, 0.0f, 0.05f, -3.0f, 3.0f));
    EXPECT_EQ(m.ScopeYMin(), 0.0f);
    EXPECT_EQ(m.ScopeYMax(), 8.0f);
    EXPECT_EQ(m.ScopeLastIndex(), 649);
    EXPECT_EQ(m.ScopeXMax(), 0.05f);
    EXPECT_EQ(m.Caption(), "x");
}

TEST(ScopeModel, PrepareZeroesEveryPointAgain)
{
    ScopeModel m;
    ASSERT_FALSE(m.StoreScopePoint(3, true, 0.5f, 0.2f, 1.0f, 2.0f, 3.0f));
    EXPECT_EQ(m.ScopeCh1()[3], 3.0f);
    EXPECT_EQ(m.ScopeCh2()[3], 2.0f);
    EXPECT_EQ(m.ScopeTime()[3], 1.0f);
    m.PrepareScope("", 512, false, 0.0f, 10.0f, 0.0f, 8.0f);
    EXPECT_EQ(m.ScopeCh1()[3], 0.0f);
    EXPECT_EQ(m.ScopeCh2()[3], 0.0f);
    EXPECT_EQ(m.ScopeTime()[3], 0.0f);
}

TEST(ScopeModel, StoreOutsideTheArraysFailsAndKeepsEverything)
{
    ScopeModel m;
    ASSERT_FALSE(m.StoreScopePoint(0, false, 0.5f, 0.2f, 0.0f, 1.0f, 1.0f));
    EXPECT_TRUE(m.StoreScopePoint(512, true, 2.0f, 1.0f, 9.0f, 9.0f, 9.0f));
    EXPECT_TRUE(m.StoreScopePoint(-1, true, 2.0f, 1.0f, 9.0f, 9.0f, 9.0f));
    EXPECT_EQ(m.ScopeVoltsDiv1(), 0.2f);
    EXPECT_EQ(m.ScopeVoltsDiv2(), 0.5f);
    EXPECT_FALSE(m.ScopeUseCh1Volts());
    EXPECT_FALSE(m.StoreScopePoint(511, true, 2.0f, 1.0f, 9.0f, 8.0f, 7.0f));
    EXPECT_EQ(m.ScopeCh1()[511], 7.0f);
    EXPECT_TRUE(m.ScopeUseCh1Volts());
}

TEST(ScopeModel, WithoutPointsNothingIsStoredButTheVoltsPerDivisionAre)
{
    ScopeModel m;
    EXPECT_TRUE(m.PrepareScope("", 0, false, 0.0f, 10.0f, 0.0f, 8.0f));
    EXPECT_FALSE(m.ArraysExist());
    EXPECT_FALSE(m.HasTrace());
    EXPECT_FALSE(m.StoreScopePoint(0, true, 0.5f, 0.1f, 0.0f, 1.0f, 1.0f));
    EXPECT_EQ(m.ScopeVoltsDiv1(), 0.1f);
    EXPECT_EQ(m.ScopeVoltsDiv2(), 0.5f);
}

TEST(ScopeModel, LayoutGivesPixelsPerDivisionAndPerSecond)
{
    const ScopeModel m = ModelWith1msTimebase();
    EXPECT_EQ(m.Band().bottom, 30);
    EXPECT_EQ(m.Screen().top, 30);
    EXPECT_EQ(m.Screen().bottom, 270);
    EXPECT_FLOAT_EQ(m.ScopeYScale(), 30.0f);        // 240 px over 8 divisions
    EXPECT_NEAR(m.ScopeXScale(), 26000.0f, 0.01f);  // 260 px over 10 ms
    EXPECT_EQ(m.ScopeLogScale(), 1.0f);             // x starts at 0: no log scale
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(m.GridX(i), 26 * i);
    }
    for (int j = 0; j <= 8; ++j) {
        EXPECT_EQ(m.GridY(j), 30 + 30 * j);
    }
}

TEST(ScopeModel, LinearMappingOfTimeAndDivisionsWithClampingThreePixelsOutside)
{
    const ScopeModel m = ModelWith1msTimebase();
    EXPECT_EQ(m.MapX(0.0f), 0);
    EXPECT_EQ(m.MapX(0.005f), 130);
    EXPECT_EQ(m.MapX(0.0116f), 260);   // beyond the right edge: the edge
    EXPECT_EQ(m.MapX(-0.001f), 0);
    EXPECT_EQ(m.MapY(0.0f), 270);
    EXPECT_EQ(m.MapY(4.0f), 150);
    EXPECT_EQ(m.MapY(8.0f), 30);
    EXPECT_EQ(m.MapY(8.5f), 27);       // above the screen: 3 pixels into the band
    EXPECT_EQ(m.MapY(1e30f), 27);
    EXPECT_EQ(m.MapY(-0.2f), 273);     // below the screen: 3 pixels under the bottom
    EXPECT_EQ(m.MapY(-1e30f), 273);
}

TEST(ScopeModel, HalfPixelsRoundToTheEvenPixel)
{
    ScopeModel m;
    m.LayoutScope(100, 30 + 32);  // 4 px per division
    EXPECT_EQ(m.MapY(0.125f), 62);  // 0.5 px -> 0
    EXPECT_EQ(m.MapY(0.375f), 60);  // 1.5 px -> 2
    EXPECT_EQ(m.MapY(0.625f), 60);  // 2.5 px -> 2
}

TEST(ScopeModel, LogarithmicMappingFromXMinWithZeroAtTheRightEdge)
{
    ScopeModel m;
    m.PrepareScope("", 10, true, 1.0f, 100.0f, 0.0f, 8.0f);
    m.LayoutScope(200, 230);
    EXPECT_NEAR(m.ScopeLogScale(), 200.0 / std::log(100.0), 1e-3);
    EXPECT_EQ(m.MapX(1.0f), 0);
    EXPECT_EQ(m.MapX(10.0f), 100);
    EXPECT_EQ(m.MapX(100.0f), 200);
    EXPECT_EQ(m.MapX(0.0f), 200);
    EXPECT_EQ(m.MapX(0.5f), 0);
    EXPECT_EQ(m.MapX(-4.0f), 0);
}

TEST(ScopeModel, TimeCursorReadoutsInMillisecondsAndKilohertz)
{
    ScopeModel m = ModelWith1msTimebase();
    m.LeftButtonDown(40);
    m.MouseMove(66, 100, true, false);  // 26 px = 1 ms
    EXPECT_EQ(m.CursorX2(), 66);
    EXPECT_EQ(m.Label1Text(), "1.000ms / 1.000kHz");
    m.MouseMove(105, 100, true, false);  // 65 px = 2.5 ms
    EXPECT_EQ(m.Label1Text(), "2.500ms / 0.400kHz");
    m.MouseMove(14, 100, true, false);  // left of the start: the distance counts
    EXPECT_EQ(m.Label1Text(), "1.000ms / 1.000kHz");
    // Released, the lines and the reading stay; the next click starts anew.
    m.LeftButtonUp();
    EXPECT_EQ(m.CursorX1(), 40);
    EXPECT_EQ(m.CursorX2(), 14);
    EXPECT_EQ(m.Label1Text(), "1.000ms / 1.000kHz");
    m.LeftButtonDown(50);
    EXPECT_EQ(m.CursorX2(), -1);
    EXPECT_EQ(m.Label1Text(), "Time / Frequ.");
    m.LeftButtonUp();  // a click without a drag leaves nothing
    EXPECT_EQ(m.CursorX1(), -1);
}

TEST(ScopeModel, MovingBackToTheStartColumnLeavesTheTimeReadout)
{
    ScopeModel m = ModelWith1msTimebase();
    m.LeftButtonDown(40);
    m.MouseMove(66, 100, true, false);
    m.MouseMove(40, 100, true, false);
    EXPECT_EQ(m.CursorX2(), 40);
    EXPECT_EQ(m.Label1Text(), "1.000ms / 1.000kHz");
}

TEST(ScopeModel, ZeroTimeDistanceAlsoSkipsTheVoltagePartOfTheMove)
{
    ScopeModel m = ModelWith1msTimebase();
    m.StoreScopePoint(0, true, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
    m.LeftButtonDown(40);
    m.RightButtonDown(100);
    m.MouseMove(40, 130, true, true);
    EXPECT_EQ(m.Label2Text(), "      Volt      ");
    EXPECT_EQ(m.CursorY2(), -1);
    m.MouseMove(41, 130, true, true);
    EXPECT_EQ(m.Label2Text(), "1000.000mV");
}

TEST(ScopeModel, ClickAtColumnZeroNeverStartsATimeCursor)
{
    ScopeModel m = ModelWith1msTimebase();
    m.LeftButtonDown(0);
    m.MouseMove(26, 100, true, false);
    EXPECT_EQ(m.CursorX2(), -1);
    EXPECT_EQ(m.Label1Text(), "      Time / Frequ.      ");
}

TEST(ScopeModel, VoltageCursorUsesTheTriggerChannelsVoltsPerDivision)
{
    ScopeModel m = ModelWith1msTimebase();
    // Channel 2 triggers: channel 2's 0.5 V/div, although channel 1 is at 0.1 V/div.
    m.StoreScopePoint(0, false, 0.5f, 0.1f, 0.0f, 4.0f, 4.0f);
    m.RightButtonDown(100);
    m.MouseMove(5, 130, false, true);  // 30 px = 1 division
    EXPECT_EQ(m.Label2Text(), "500.000mV");
    m.StoreScopePoint(0, true, 0.5f, 0.1f, 0.0f, 4.0f, 4.0f);
    m.MouseMove(5, 70, false, true);
    EXPECT_EQ(m.Label2Text(), "100.000mV");
    m.MouseMove(5, 100, false, true);  // back at the start row: unchanged
    EXPECT_EQ(m.Label2Text(), "100.000mV");
    m.RightButtonUp();
    EXPECT_EQ(m.CursorY1(), 100);
    EXPECT_EQ(m.Label2Text(), "100.000mV");
    m.ClearCursors();  // a page change
    EXPECT_EQ(m.CursorY1(), -1);
    EXPECT_EQ(m.CursorY2(), -1);
    EXPECT_EQ(m.Label2Text(), "Volt");
}

TEST(ScopeModel, WithoutAHorizontalScaleTheTimeReadoutStays)
{
    ScopeModel m;  // never laid out: 0 pixels wide
    EXPECT_EQ(m.ScopeXScale(), 0.0f);
    m.LeftButtonDown(10);
    m.MouseMove(30, 40, true, false);
    EXPECT_EQ(m.CursorX2(), 30);
    EXPECT_EQ(m.Label1Text(), "      Time / Frequ.      ");
}

TEST(ScopeModel, IlluminationSwitchesTheBackgroundBackAndForth)
{
    ScopeModel m;
    EXPECT_EQ(m.BackgroundColour(), 0x808000u);
    m.ToggleIllumination();
    EXPECT_EQ(m.BackgroundColour(), 0xFFFF00u);
    m.ToggleIllumination();
    EXPECT_EQ(m.BackgroundColour(), 0x808000u);
}

TEST(ScopePlacement, LeftOfTheMainWindowOrTheMainWindowMovesRightOnlyAsFarAsNeeded)
{
    const ScopeRect desk{0, 0, 1600, 1000};
    const ScopePlacement roomy = PlaceScopeBeside(ScopeRect{500, 100, 900, 500}, 320, desk);
    EXPECT_FALSE(roomy.mainMoved);
    EXPECT_EQ(roomy.mainLeft, 500);
    EXPECT_EQ(roomy.view.left, 179);
    EXPECT_EQ(roomy.view.right, 499);
    EXPECT_EQ(roomy.view.top, 100);
    EXPECT_EQ(roomy.view.Height(), 400);

    const ScopePlacement tight = PlaceScopeBeside(ScopeRect{200, 50, 600, 350}, 320, desk);
    EXPECT_TRUE(tight.mainMoved);
    EXPECT_EQ(tight.mainLeft, 321);
    EXPECT_EQ(tight.view.left, 0);
    EXPECT_EQ(tight.view.top, 50);

    // A second screen right of the first: room is counted from that screen's left edge.
    const ScopePlacement second = PlaceScopeBeside(ScopeRect{1700, 50, 2100, 350}, 320, {1600, 0, 2880, 720});
    EXPECT_EQ(second.mainLeft, 1600 + 321);
    EXPECT_EQ(second.view.left, 1600);

    // Too narrow for both: the main window stops at the screen's right edge.
    const ScopePlacement narrow = PlaceScopeBeside(ScopeRect{0, 0, 600, 300}, 320, {0, 0, 800, 600});
    EXPECT_EQ(narrow.mainLeft, 200);
    EXPECT_EQ(narrow.view.left, 0);
}

}  // namespace
}  // namespace sonvera
