#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "diagram/diagramrenderer.h"
#include "diagram/diagramscale.h"

using namespace sonvera;

namespace {

// Colours chosen so that no two overlap: background, margin, grid, curves, cursor, text.
constexpr Colour kDia = 0xFFFF00;
constexpr Colour kMargin = 0xC0C0C0;
constexpr Colour kGrid = 0x00FFFF;
constexpr Colour kLine1 = 0x0000FF;
constexpr Colour kLine2 = 0xFF0000;
constexpr Colour kCur = 0x00FF00;

class DiagramRenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "diagramrenderer_test";
        static char* argv[] = {name, nullptr};
        if (QGuiApplication::instance() == nullptr) {
            app = new QGuiApplication(argc, argv);
        }
    }

    void Prepare(int fmin, int fmax, float lmin, float lmax, bool log = true, int lastIndex = 99)
    {
        model.Activate();
        model.Options.XLog = log ? 1 : 0;
        model.Options.ColCur = kCur;
        // The first layout only sizes the image: the ranges are not set yet.
        DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false);
        model.SetScreen(1000, 700, DiagramRenderer::Metrics(8, &image));
        float lo = lmin;
        float hi = lmax;
        ASSERT_FALSE(model.PrepareDiagram("", lastIndex, fmin, fmax, lo, hi));
        ASSERT_TRUE(DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false));
    }

    QRgb At(int x, int y) const { return image.pixel(x, y) & 0xFFFFFF; }
    static QRgb Rgb(Colour c) { return ToQRgb(c) & 0xFFFFFF; }

    static QGuiApplication* app;
    DiagramModel model;
    DiagramRenderer renderer;
    QImage image;
};

QGuiApplication* DiagramRenderTest::app = nullptr;

}  // namespace

TEST(DiagramColours, ConvertBetweenRedLowAndQtOrder)
{
    EXPECT_EQ(ToQRgb(0x0000FF) & 0xFFFFFF, 0xFF0000u);  // red
    EXPECT_EQ(ToQRgb(0xFF0000) & 0xFFFFFF, 0x0000FFu);  // blue
    EXPECT_EQ(ToQRgb(0x008080) & 0xFFFFFF, 0x808000u);  // olive
    EXPECT_EQ(FromQRgb(qRgb(0x12, 0x34, 0x56)), 0x563412u);
}

TEST_F(DiagramRenderTest, EmptyDiagramHasMarginsPlotAndGridButNoCurve)
{
    Prepare(10, 28000, -110, 0);
    renderer.RenderDiagram(model, image, false, "");
    const DiagramRect r = model.Layout().PlotRect;
    EXPECT_EQ(At(1, r.top + 5), Rgb(kMargin));               // left band
    EXPECT_EQ(At(r.right + 3, (r.top + r.bottom) / 2), Rgb(kMargin));  // right band
    EXPECT_EQ(At(r.left + 3, 2), Rgb(kMargin));              // top band, left of the title
    EXPECT_EQ(At(r.left + 7, r.top + 3), Rgb(kDia));         // inside the plot, off the grid
    // Every level label row has a grid line at its computed pixel.
    const DiagramLayout& g = model.Layout();
    ASSERT_EQ(g.LevelStep1, 5.0f);
    for (int k = 0; k <= 22; ++k) {
        const int y = std::abs(DiagramRound(k * 5.0 * g.LevelScale1) - r.bottom);
        if (y < r.bottom) {
            EXPECT_EQ(At(r.left + 3, y), Rgb(kGrid)) << "row " << k;
        }
    }
    // No pixel of either curve colour anywhere.
    int curvePixels = 0;
    for (int y = r.top; y <= r.bottom + 5; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            curvePixels += At(x, y) == Rgb(kLine1) ? 1 : 0;
        }
    }
    EXPECT_EQ(curvePixels, 0);
    // Tick at 1 kHz spans the plot in the grid colour.
    const int x1k = DiagramRound(model.FreqToX(1000));
    EXPECT_EQ(At(x1k, r.top + 10), Rgb(kGrid));
    // The right edge line.
    EXPECT_EQ(At(r.right, (r.top + r.bottom) / 2 + 1), Rgb(kGrid));
}

TEST_F(DiagramRenderTest, StoredPointsAreDrawnWhereTheyMapAndOutsideValuesJustOutside)
{
    Prepare(100, 10000, -100, 0, false, 3);
    model.SetCurvesShown(true, true);
    const float a[2] = {-50, -20};
    const float b[2] = {-50, -20};
    const float c[2] = {20, -200};  // curve 1 above the range, curve 2 below
    model.StoreDiagramPoint(a, 2, 0, 1000.0f);
    model.StoreDiagramPoint(b, 2, 1, 3000.0f);
    model.StoreDiagramPoint(c, 2, 2, 3000.0f);
    model.StoreDiagramPoint(c, 2, 3, 5000.0f);
    renderer.RenderDiagram(model, image, true, "");
    const DiagramRect r = model.Layout().PlotRect;
    const int o = model.Layout().CharHeight / 8;
    const int x2k = DiagramRound(model.FreqToX(2000));
    EXPECT_EQ(At(x2k, model.LevelToY1(-50)), Rgb(kLine1));
    EXPECT_EQ(At(x2k, model.LevelToY2(-20)), Rgb(kLine2));
    const int x4k = DiagramRound(model.FreqToX(4000));
    EXPECT_EQ(At(x4k, r.top - o), Rgb(kLine1));
    EXPECT_EQ(At(x4k, r.bottom + o), Rgb(kLine2));
    // Nothing of the curves left of the first point's column (1000 Hz).
    const int x1k = DiagramRound(model.FreqToX(1000));
    for (int x = r.left; x < x1k - 1; ++x) {
        EXPECT_NE(At(x, model.LevelToY1(-50)), Rgb(kLine1));
    }
}

TEST_F(DiagramRenderTest, WideCurvesForPrintKeepTheGridAtOnePixel)
{
    Prepare(100, 10000, -100, 0, false, 1);
    const float a[2] = {-50, -20};
    model.StoreDiagramPoint(a, 2, 0, 1000.0f);
    model.StoreDiagramPoint(a, 2, 1, 3000.0f);
    const int x = DiagramRound(model.FreqToX(2000));
    const int y = model.LevelToY1(-50);
    const auto thickness = [&](QRgb colour, int column, int from, int to) {
        int rows = 0;
        for (int row = from; row <= to; ++row) {
            rows += At(column, row) == colour ? 1 : 0;
        }
        return rows;
    };
    for (const int width : {1, 5}) {
        renderer.RenderDiagram(model, image, true, "", -1, width);
        EXPECT_EQ(thickness(Rgb(kLine1), x, y - 10, y + 10), width) << width;
    }
    // The first horizontal grid line under the top is still one row.
    const QRgb gridColour = Rgb(model.Options.ColGrid);
    const int column = x + 3;  // beside a vertical grid line at 2 kHz
    int grid = model.Layout().PlotRect.top + 2;
    while (grid < y && At(column, grid) != gridColour) {
        ++grid;
    }
    ASSERT_LT(grid, y);
    EXPECT_EQ(thickness(gridColour, column, grid - 3, grid + 3), 1);
}

TEST_F(DiagramRenderTest, EmptySlotsBetweenPointsAreSkipped)
{
    Prepare(100, 10000, -100, 0, false, 4);
    const float lowV[2] = {-80, 0};
    model.StoreDiagramPoint(lowV, 2, 0, 1000.0f);
    model.StoreDiagramPoint(lowV, 2, 4, 5000.0f);
    renderer.RenderDiagram(model, image, true, "");
    // Slots 1..3 are empty (frequency 0): the line runs straight from 1 kHz to 5 kHz at
    // -80 dB and never drops to the left edge.
    const int y = model.LevelToY1(-80);
    EXPECT_EQ(At(DiagramRound(model.FreqToX(3000)), y), Rgb(kLine1));
    const DiagramRect r = model.Layout().PlotRect;
    for (int yy = r.top; yy <= r.bottom; ++yy) {
        EXPECT_NE(At(r.left, yy), Rgb(kLine1));
    }
}

TEST_F(DiagramRenderTest, CursorOnlyOnScreen)
{
    Prepare(100, 10000, -100, 0);
    const DiagramRect r = model.Layout().PlotRect;
    model.MouseDown(MouseButton::Left, r.left + 200, r.top + 100);
    model.MouseUp(MouseButton::Left);
    model.MouseMove(r.left + 300, r.top + 200);
    ASSERT_EQ(model.CursorMode, 2);
    renderer.RenderDiagram(model, image, false, "");
    EXPECT_EQ(At(r.left + 50, r.top + 100), Rgb(kCur));
    EXPECT_EQ(At(r.left + 50, r.top + 200), Rgb(kCur));
    renderer.RenderDiagram(model, image, true, "");
    EXPECT_NE(At(r.left + 50, r.top + 100), Rgb(kCur));
    EXPECT_NE(At(r.left + 50, r.top + 200), Rgb(kCur));
}

TEST_F(DiagramRenderTest, RightAxisGridOnlyWithoutTheLeftAxis)
{
    Prepare(100, 10000, -100, 0, false);
    model.SetAxesShown(false, true);
    model.SetSecondRange(90, -90);
    ASSERT_TRUE(DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false));
    renderer.RenderDiagram(model, image, false, "");
    const DiagramLayout& g = model.Layout();
    const DiagramRect r = g.PlotRect;
    // Room for its labels, measured in the picture's font (" -90.0°" is the widest).
    EXPECT_GE(g.rightBand, g.CharWidth / 2 + DiagramRenderer::Metrics(8, &image).textWidth(" -90.0\u00B0"));
    const int y = std::abs(DiagramRound(g.LevelStep2 * g.LevelScale2) - r.bottom);
    EXPECT_EQ(At(r.left + 3, y), Rgb(kGrid));
}

TEST_F(DiagramRenderTest, RightBandFitsLabelsInDecibels)
{
    Prepare(20, 20000, -40, 5);
    model.SetAxesShown(true, true);
    model.SetSecondRange(-40, -120);
    model.Axis2Unit = "dB";
    ASSERT_TRUE(DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false));
    const DiagramLayout& g = model.Layout();
    EXPECT_GE(g.rightBand, g.CharWidth / 2 + DiagramRenderer::Metrics(8, &image).textWidth("-120.0dB"));
}

TEST_F(DiagramRenderTest, WritesAReferencePicture)
{
    Prepare(10, 28000, -110, 0, true, 511);
    model.SetCurvesShown(true, true);
    for (int i = 0; i < 512; ++i) {
        const float f = 10.0f * std::pow(2800.0f, i / 511.0f);
        const float v[2] = {-20.0f - 10.0f * std::log10(f / 10.0f) * 3.0f,
                            -60.0f + 20.0f * std::sin(i / 30.0f)};
        model.StoreDiagramPoint(v, 2, i, f);
    }
    model.SetResultLine("THD+N: 0.01 %");
    const int commentWidth = renderer.RenderDiagram(model, image, true, "Kommentar: reference");
    EXPECT_GT(commentWidth, 0);
    if (const char* dir = std::getenv("SONVERA_RENDER_DIR")) {
        ASSERT_TRUE(image.save(QString::fromUtf8(dir) + "/diagram_reference.png"));
    }
}

TEST_F(DiagramRenderTest, CommentAndResultLineAreDrawnOnlyInPrintMode)
{
    Prepare(10, 28000, -110, 0);
    model.SetResultLine("THD+N 0.1 %");
    const DiagramLayout& g = model.Layout();
    const DiagramRect r = g.PlotRect;
    const int x0 = model.PlaceControls(0).Edit2.x;
    // Counts the pixels of a band that are not in the margin colour (ink of text).
    const auto inked = [&](int left, int top, int width, int height) {
        int n = 0;
        for (int y = top; y < top + height; ++y) {
            for (int x = left; x < left + width; ++x) {
                n += At(x, y) != Rgb(kMargin) ? 1 : 0;
            }
        }
        return n;
    };
    const int commentTop = (g.topBand - g.CharHeight) / 2;
    const int resultTop = r.bottom + g.CharHeight * 7 / 4;
    renderer.RenderDiagram(model, image, false, "Kommentar");
    EXPECT_EQ(inked(r.left, commentTop, 60, g.CharHeight), 0);
    EXPECT_EQ(inked(x0, resultTop, 60, g.CharHeight), 0);
    renderer.RenderDiagram(model, image, true, "Kommentar");
    EXPECT_GT(inked(r.left, commentTop, 60, g.CharHeight), 20);
    EXPECT_GT(inked(x0, resultTop, 60, g.CharHeight), 20);
    // The title sits right-aligned with the plot in the top band, in olive.
    int olive = 0;
    for (int y = 0; y < g.topBand; ++y) {
        for (int x = r.right - 100; x <= r.right; ++x) {
            olive += At(x, y) == 0x808000u ? 1 : 0;
        }
    }
    EXPECT_GT(olive, 30);
}

TEST_F(DiagramRenderTest, TheWindowsBackgroundIsDrawnAgainOnlyWhenWhatItShowsChanges)
{
    struct Case {
        const char* change;
        std::function<void(DiagramModel&, QImage&)> apply;
        int draws;  // background drawings after the change, the first included
    };
    const Case cases[] = {
        {"new points", [](DiagramModel& m, QImage&) {
             const float v[2] = {-20, -30};
             m.StoreDiagramPoint(v, 2, 5, 1000.0f);
         }, 1},
        {"a cursor", [](DiagramModel& m, QImage&) { m.MouseDown(MouseButton::Left, 300, 200); }, 1},
        {"the level range", [](DiagramModel& m, QImage&) { m.SetLevelRange(10, -100); }, 2},
        {"the frequency range", [](DiagramModel& m, QImage&) { m.ScrollClick(true, ScrollCode::LineLeft); }, 2},
        {"the size", [](DiagramModel& m, QImage& image) {
             m.SetScreen(900, 600, DiagramRenderer::Metrics(8, &image));
             DiagramRenderer::LayoutImage(m, image, 900, 600, 8, false);
         }, 2},
        {"the language", [](DiagramModel& m, QImage&) { m.SetDiagramTexts('E'); }, 2},
        {"the grid colour", [](DiagramModel& m, QImage&) { m.Options.ColGrid = 0x808080; }, 2},
        {"the axis kind", [](DiagramModel& m, QImage&) {
             m.Options.XLog = 0;
             m.LayoutScreen(false);
         }, 2},
    };
    for (const Case& c : cases) {
        DiagramModel fresh;
        model = std::move(fresh);
        Prepare(100, 10000, -100, 0);
        DiagramRenderer r;
        r.UpdateScreen(model, image);
        r.UpdateScreen(model, image);
        ASSERT_EQ(r.BackgroundDraws(), 1) << c.change;
        c.apply(model, image);
        const QRegion changed = r.UpdateScreen(model, image);
        EXPECT_EQ(r.BackgroundDraws(), c.draws) << c.change;
        if (c.draws == 2) {
            EXPECT_EQ(changed, QRegion(image.rect())) << c.change;
        }
    }
}

TEST_F(DiagramRenderTest, NewPointsRedrawOnlyTheCurvesAndTheWindowShowsTheWholeDiagram)
{
    // Noisy spectra with peaks, on both axis kinds: after every update the window's image
    // is the picture a whole rendering gives, and every pixel that changed lies in the
    // region reported.
    for (const bool log : {true, false}) {
        DiagramModel fresh;
        model = std::move(fresh);
        Prepare(10, 22050, -110, 0, log, 2047);
        model.SetCurvesShown(true, true);
        std::mt19937 rng(7);
        std::normal_distribution<float> noise(0.0f, 6.0f);
        DiagramRenderer r;
        QImage whole(image.size(), QImage::Format_RGB32);
        for (int update = 0; update < 12; ++update) {
            const float floor = update % 3 == 2 ? -125.0f : -95.0f;  // sometimes below the plot
            for (int i = 0; i < 2048; ++i) {
                const float peak = i % 181 == update ? 60.0f : 0.0f;
                const float v[2] = {floor + noise(rng) + peak, floor - 8.0f + noise(rng)};
                model.StoreDiagramPoint(v, 2, i, static_cast<float>(i) * 44100.0f / 4096.0f);
            }
            const QImage before = image.copy();
            const QRegion changed = r.UpdateScreen(model, image);
            r.RenderDiagram(model, whole, false, "");
            ASSERT_EQ(image, whole) << "log " << log << ", update " << update;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (before.pixel(x, y) != image.pixel(x, y)) {
                        ASSERT_TRUE(changed.contains(QPoint(x, y))) << x << "," << y;
                    }
                }
            }
            if (update > 0) {
                EXPECT_FALSE(changed.contains(QPoint(2, 2)));  // the margins stay
            }
        }
        EXPECT_EQ(r.BackgroundDraws(), 1);
    }
}

TEST_F(DiagramRenderTest, OverlaysLieUnderTheCurvesAndTheLegendOverThemInEveryUpdate)
{
    Prepare(100, 10000, -60, 0, true, 2);
    // The measurement: -30 dB from 100 Hz to 10 kHz; an overlay 20 dB below it.
    model.SetCurvesShown(true, false);
    for (int i = 0; i <= 2; ++i) {
        const float v[2] = {-30.0f, 0.0f};
        model.StoreDiagramPoint(v, 2, i, 100.0f * static_cast<float>(std::pow(10.0, i)));
    }
    constexpr Colour kOverlay = 0x008C00;
    Overlay o;
    o.name = "Box A";
    o.colour = kOverlay;
    o.freqHz = {100.0f, 10000.0f};
    o.curve1 = {-50.0f, -50.0f};
    ASSERT_TRUE(model.Overlays.Keep(0, o));
    ASSERT_TRUE(DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false));
    renderer.RenderDiagram(model, image, true, "");
    const DiagramRect r = model.Layout().PlotRect;
    const int x = (r.left + r.right) / 2;
    EXPECT_EQ(At(x, model.LevelToY1(-50.0)), Rgb(kOverlay));
    EXPECT_EQ(At(x, model.LevelToY1(-30.0)), Rgb(kLine1));
    // The legend at the top right names both, each beside a stroke of its colour.
    const auto count = [&](QRgb colour, int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y <= y1; ++y) {
            for (int xx = x0; xx <= x1; ++xx) {
                n += At(xx, y) == colour ? 1 : 0;
            }
        }
        return n;
    };
    const int corner = r.right - 150;
    EXPECT_GT(count(Rgb(kOverlay), corner, r.top, r.right, r.top + 60), 10);
    EXPECT_GT(count(Rgb(kLine1), corner, r.top, r.right, r.top + 60), 10);
    EXPECT_GT(count(0x000000, corner, r.top, r.right, r.top + 60), 100);  // frame and names

    // On screen new points redraw the curves, and the legend again over them.
    QImage screen;
    ASSERT_TRUE(DiagramRenderer::LayoutImage(model, screen, 1000, 700, 8, false));
    renderer.UpdateScreen(model, screen);
    for (int i = 0; i <= 2; ++i) {
        const float v[2] = {-2.0f, 0.0f};  // now through the legend's rows
        model.StoreDiagramPoint(v, 2, i, 100.0f * static_cast<float>(std::pow(10.0, i)));
    }
    const QRegion changed = renderer.UpdateScreen(model, screen);
    image = screen;
    EXPECT_GT(count(0x000000, corner, r.top, r.right, r.top + 60), 100);
    EXPECT_TRUE(changed.intersects(QRect(corner, r.top, r.right - corner, 60)));
    EXPECT_EQ(At(x, model.LevelToY1(-50.0)), Rgb(kOverlay));  // the overlay stays in the picture
}

TEST_F(DiagramRenderTest, TheBandsHoldTheWidestLabelOfEachAxisInThePicturesFont)
{
    // A level range with two decimals, a second axis in decibels, and the last frequency
    // label centred on the plot's right edge.
    struct Case {
        float levelMin, levelMax;
        bool axis2;
    };
    for (const Case c : {Case{-100.5f, -99.9f, false}, Case{-100.0f, 0.0f, true}}) {
        Prepare(20, 20000, -100, 0);
        const DiagramTextMetrics font = DiagramRenderer::Metrics(8, &image);
        model.SetAxesShown(true, c.axis2);
        model.SetSecondRange(0, -100);
        model.Axis2Unit = "dB";
        model.LevelMin = c.levelMin;
        model.LevelMax = c.levelMax;
        // The second layout uses the decimals the first found.
        ASSERT_TRUE(DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false));
        ASSERT_TRUE(DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false));
        const DiagramLayout& g = model.Layout();
        const int cw = g.CharWidth;
        const std::string left = FormatFixed(c.levelMin, g.LabelDecimals, 3);
        EXPECT_GE(g.leftBand, font.textWidth(left) + cw / 2) << left;
        EXPECT_GE(g.width - g.PlotRect.right, font.textWidth("20kHz") / 2) << c.levelMin;
        if (c.axis2) {
            EXPECT_GE(g.rightBand, cw / 2 + font.textWidth("-100.0dB"));
        }
        renderer.RenderDiagram(model, image, false, "");
        if (const char* dir = std::getenv("SONVERA_RENDER_DIR")) {
            image.save(QString::fromUtf8(dir) + QStringLiteral("/diagram_labels_%1.png").arg(c.axis2));
        }
    }
}
