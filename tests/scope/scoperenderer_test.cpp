#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include "scope/scopemodel.h"
#include "scope/scoperenderer.h"

namespace sonvera {
namespace {

int argc = 1;
char name[] = "scoperenderer_test";
char* argv[] = {name, nullptr};

class ScopeRendererTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QGuiApplication::instance() == nullptr) {
            app = new QGuiApplication(argc, argv);
        }
    }

    // 260 x 240 px screen area, 1 ms per division, 512 points 1/44100 s apart; both
    // traces flat unless a test stores other values.
    void SetUp() override
    {
        model.PrepareScope("", 512, false, 0.0f, 0.01f, 0.0f, 8.0f);
        model.LayoutScope(260, 270);
        for (int i = 0; i < 512; ++i) {
            model.StoreScopePoint(i, true, 0.5f, 0.5f, static_cast<float>(i) / 44100.0f, 2.2f, 6.5f);
        }
    }

    Colour At(int x, int y) const
    {
        const QRgb c = image.pixel(x, y);
        return static_cast<Colour>(qRed(c)) | (static_cast<Colour>(qGreen(c)) << 8) |
               (static_cast<Colour>(qBlue(c)) << 16);
    }

    static inline QGuiApplication* app = nullptr;
    ScopeModel model;
    ScopeRenderer renderer;
    QImage image;
};

TEST_F(ScopeRendererTest, BandScreenAndGraticuleAtComputedPixels)
{
    renderer.RenderScope(model, image);
    ASSERT_EQ(image.width(), 260);
    ASSERT_EQ(image.height(), 270);
    EXPECT_EQ(At(250, 2), ScopeModel::kMargin);
    EXPECT_EQ(At(250, 29), ScopeModel::kMargin);
    // Vertical lines every 26 px, horizontal every 30 px from row 30 on.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(At(26 * i, 45), ScopeModel::kGrid) << "column " << 26 * i;
        EXPECT_EQ(At(26 * i + 13, 45), ScopeModel::kBackground) << "between lines " << i;
    }
    for (int j = 0; j < 8; ++j) {
        EXPECT_EQ(At(13, 30 + 30 * j), ScopeModel::kGrid) << "row " << 30 + 30 * j;
    }
    EXPECT_EQ(At(13, 45), ScopeModel::kBackground);
    EXPECT_EQ(At(13, 255), ScopeModel::kBackground);
}

TEST_F(ScopeRendererTest, TracesAtTheirMappedRowsInTheirColours)
{
    renderer.RenderScope(model, image);
    // Channel 1 at 6.5 divisions: row 270 - 195 = 75; channel 2 at 2.2: row 204.
    EXPECT_EQ(At(100, 75), ScopeModel::kChannel1);
    EXPECT_EQ(At(100, 204), ScopeModel::kChannel2);
    EXPECT_EQ(At(100, 76), ScopeModel::kBackground);
    EXPECT_EQ(At(100, 205), ScopeModel::kBackground);
    // 512 points of 1/44100 s span 11.6 ms: the trace reaches the right edge (last column).
    EXPECT_EQ(At(259, 75), ScopeModel::kChannel1);
}

TEST_F(ScopeRendererTest, ValuesBeyondTheScreenAreDrawnThreePixelsOutside)
{
    for (int i = 0; i < 512; ++i) {
        model.StoreScopePoint(i, true, 0.5f, 0.5f, static_cast<float>(i) / 44100.0f, -5.0f, 12.0f);
    }
    renderer.RenderScope(model, image);
    // Above 8 divisions: row 27, inside the band; nothing on the screen's top rows.
    EXPECT_EQ(At(100, 27), ScopeModel::kChannel1);
    EXPECT_EQ(At(100, 28), ScopeModel::kMargin);
    EXPECT_EQ(At(100, 31), ScopeModel::kBackground);
    // Below 0: row 273 lies outside the 270-row image, nothing drawn on the last rows.
    EXPECT_EQ(At(100, 269), ScopeModel::kBackground);
    EXPECT_EQ(model.MapY(-5.0f), 273);
}

TEST_F(ScopeRendererTest, TraceStartsAtTheLeftEdgeAtPointZerosHeightThenFollowsThePoints)
{
    // Point 0 at 1 division, the rest at 7: a vertical step in column 0..1.
    model.StoreScopePoint(0, true, 0.5f, 0.5f, 0.0f, 2.0f, 1.0f);
    for (int i = 1; i < 512; ++i) {
        model.StoreScopePoint(i, true, 0.5f, 0.5f, 0.001f + static_cast<float>(i) / 44100.0f, 2.0f, 7.0f);
    }
    renderer.RenderScope(model, image);
    EXPECT_EQ(At(0, 240), ScopeModel::kChannel1);  // 1 division
    EXPECT_EQ(At(150, 60), ScopeModel::kChannel1); // 7 divisions
    // A rising line from (0, 240) to (x(point 1) = 27, 60): its middle lies near (13, 150).
    bool found = false;
    for (int x = 10; x <= 17; ++x) {
        found = found || At(x, 150) == ScopeModel::kChannel1;
    }
    EXPECT_TRUE(found);
}

TEST_F(ScopeRendererTest, CursorLinesOnlyWhenBothEndsArePositive)
{
    model.LeftButtonDown(40);
    renderer.RenderScope(model, image);
    EXPECT_NE(At(40, 100), ScopeModel::kCursor);
    model.MouseMove(66, 100, true, false);
    model.RightButtonDown(100);
    model.MouseMove(66, 160, true, true);
    renderer.RenderScope(model, image);
    EXPECT_EQ(At(40, 100 + 5), ScopeModel::kCursor);
    EXPECT_EQ(At(66, 200), ScopeModel::kCursor);
    EXPECT_EQ(At(5, 100), ScopeModel::kCursor);
    EXPECT_EQ(At(5, 160), ScopeModel::kCursor);
}

TEST_F(ScopeRendererTest, TheTriggerLevelIsAMarkAtTheRightEdgeInTheTriggerChannelsColour)
{
    renderer.RenderScope(model, image);
    const int edge = model.Screen().right - 2;
    const int row = model.MapY(5.0f);
    EXPECT_NE(At(edge, row), ScopeModel::kChannel2);

    model.SetTriggerMark(false, 5.0f);
    renderer.RenderScope(model, image);
    EXPECT_EQ(At(edge, row), ScopeModel::kChannel2);
    EXPECT_EQ(At(model.Screen().right - 8, row), ScopeModel::kChannel2);  // its tip
    EXPECT_NE(At(model.Screen().right - 12, row), ScopeModel::kChannel2);

    model.SetTriggerMark(true, 20.0f);  // above the screen: kept at its top
    renderer.RenderScope(model, image);
    EXPECT_EQ(At(edge, model.Screen().top + 4), ScopeModel::kChannel1);
}

TEST_F(ScopeRendererTest, IlluminationShowsAquaBackground)
{
    model.ToggleIllumination();
    renderer.RenderScope(model, image);
    EXPECT_EQ(At(13, 45), ScopeModel::kBackgroundIllum);
}

TEST_F(ScopeRendererTest, WithoutPointsOnlyBandAndBackground)
{
    model.PrepareScope("", 1, false, 0.0f, 0.01f, 0.0f, 8.0f);  // a single point: no trace
    renderer.RenderScope(model, image);
    EXPECT_EQ(At(0, 45), ScopeModel::kBackground);
    EXPECT_EQ(At(13, 60), ScopeModel::kBackground);
    EXPECT_EQ(At(13, 2), ScopeModel::kMargin);
}

TEST_F(ScopeRendererTest, ScreenTooLowForTheBandDrawsNothing)
{
    model.LayoutScope(100, 20);
    image = QImage();
    renderer.RenderScope(model, image);
    EXPECT_EQ(image.width(), 100);
    EXPECT_EQ(image.height(), 20);
    EXPECT_EQ(At(50, 10), ScopeModel::kMargin);  // the image's initial fill only
}

}  // namespace
}  // namespace sonvera
