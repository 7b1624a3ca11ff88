#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "diagram/diagrammodel.h"

class QPaintDevice;
class QPainter;

namespace sonvera {

/// QColor-free conversion of a 0x00BBGGRR colour to Qt's 0xAARRGGBB.
QRgb ToQRgb(Colour c);
/// The other way round (alpha dropped).
Colour FromQRgb(QRgb c);

/// Draws the diagram of a DiagramModel: margins, axes, grid, labels, the two curves, the
/// measuring cursor (screen) or comment and result line (print), title. The whole picture
/// goes into an image at once (printing, pictures, the clipboard). For the window it keeps
/// what does not change with the points in a background image, redrawn only when the
/// layout, a range, the axes, a colour, the axis kind or the language changed; new points
/// redraw the curves in the window's picture only where the old ones were and report the
/// region that changed. Holds fixed buffers, so drawing allocates nothing per update.
class DiagramRenderer {
public:
    DiagramRenderer();

    /// The diagram's font for size F: DejaVu Sans Condensed, plain, 1.25 F pixels high.
    static QFont DiagramFont(int fontSize);
    /// Sizes of "8" and "20.00k" and a text measure in the diagram font of size F on the device.
    static DiagramTextMetrics Metrics(int fontSize, const QPaintDevice* device);

    /// Sizes the image to W x H (32-bit RGB) and lays the model out for it. Returns the
    /// layout's success; before the first activation the image is left alone.
    static bool LayoutImage(DiagramModel& model, QImage& image, int width, int height,
                            int fontSize, bool moveControls);

    /// Draws everything; print mode leaves out the cursor and draws comment and result
    /// line (the latter at column resultLineLeft, or where the window's result line sits
    /// when negative). Returns the width the comment line may take left of the title.
    /// The curves are `curveWidth` pixels wide (a print's picture needs wider ones than
    /// the screen's one pixel); grid and axes stay one pixel.
    int RenderDiagram(DiagramModel& model, QImage& image, bool print, const std::string& comment,
                      int resultLineLeft = -1, int curveWidth = 1);

    /// Brings the window's picture without the cursor (`screen`, an image laid out for
    /// the window) up to date with the model and returns the region that changed: all of
    /// it after a change of the background or of the image, the strips of columns where
    /// old or new curves lie after new points, nothing when nothing changed.
    QRegion UpdateScreen(DiagramModel& model, QImage& screen);
    /// Paints `region` of the window onto `target`: UpdateScreen, the picture, then the
    /// cursor. `changed` receives what UpdateScreen changed, for the caller to repaint
    /// where it lies outside `region`. Returns the width the comment line may take left of
    /// the title.
    int PaintScreen(DiagramModel& model, QImage& screen, QPainter& target, const QRegion& region,
                    QRegion& changed);
    /// How often the background has been drawn (for tests of the cache).
    int BackgroundDraws() const { return backgroundDraws; }

private:
    // Everything the background's pixels depend on.
    struct BackgroundKey {
        DiagramLayout layout;
        std::int32_t freqMin = 0;
        std::int32_t freqMax = 0;
        float levelMin = 0.0f;
        float levelMax = 0.0f;
        float level2Min = 0.0f;
        float level2Max = 0.0f;
        bool axis1 = false;
        bool axis2 = false;
        bool hasPoints = false;
        bool log = false;
        Colour colours[6] = {};
        char language = 0;
        std::uint64_t overlays = 0;
        bool operator==(const BackgroundKey&) const = default;
    };
    // What the curves depend on besides the background's key.
    struct CurvesKey {
        std::uint64_t points = 0;
        std::int32_t pointCount = 0;
        bool draw1 = false;
        bool draw2 = false;
        bool operator==(const CurvesKey&) const = default;
    };
    // Rows the curves cover in one column (empty while top > bottom).
    struct RowSpan {
        int top = INT_MAX;
        int bottom = INT_MIN;
        void Add(int a, int b)
        {
            top = std::min(top, std::min(a, b));
            bottom = std::max(bottom, std::max(a, b));
        }
    };
    static constexpr int kStripWidth = 32;  // columns per rectangle of a changed region
    static constexpr int kRowStep = 8;      // its rows in whole steps

    static BackgroundKey KeyOf(const DiagramModel& model);
    static CurvesKey CurvesOf(const DiagramModel& model);

    int DrawBackground(DiagramModel& model, QPainter& p, bool print, const std::string& comment,
                       int resultLineLeft);
    // Draws the curves; with `strips` also notes, per strip of kStripWidth columns from
    // PlotRect.left - 1 on, the rows their lines may touch.
    void DrawCurves(DiagramModel& model, QImage& image, std::vector<RowSpan>* strips, int curveWidth = 1);
    void DrawCursor(const DiagramModel& model, QPainter& p);
    // The overlays' curves, under the diagram's own (part of the background).
    void DrawOverlays(const DiagramModel& model, QPainter& p);
    // The legend at the plot's top right, over the curves; returns where it lies (empty
    // when there is none).
    QRect DrawLegend(const DiagramModel& model, QImage& image);
    // The markers on the curves with their readouts, the rectangle being dragged.
    void DrawMarkers(const DiagramModel& model, QPainter& p);
    static bool HasCursor(const DiagramModel& model);
    void MarkStrips(const DiagramModel& model, int n, std::vector<RowSpan>& strips) const;
    // The union of stripRects as a region.
    QRegion RegionOfStrips();
    // The rectangle of strip k holding the given rows, in whole row steps, within the image.
    QRect StripRect(const DiagramModel& model, std::size_t k, const RowSpan& rows) const;

    std::vector<QPoint> vertices;
    std::vector<PixelPoint> overlayPoints;
    int overlayWidth = 1;  // the pen of the overlays while a picture is rendered
    QImage background;
    BackgroundKey backgroundKey;
    bool backgroundDrawn = false;
    int commentWidth = 0;
    int backgroundDraws = 0;
    // The picture last left in the window's image: its keys, the image's own cache key
    // (it changes when anybody else paints the image) and the rows its curves cover.
    BackgroundKey screenKey;
    CurvesKey screenCurves;
    qint64 screenImage = 0;
    bool screenDrawn = false;
    std::vector<RowSpan> strips;
    std::vector<RowSpan> newStrips;
    std::vector<QRect> stripRects;
    std::vector<int> bounds;
    std::vector<QRect> regionRects;
};

}  // namespace sonvera
