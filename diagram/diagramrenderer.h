#pragma once

#include <QFont>
#include <QImage>
#include <vector>

#include "diagram/diagrammodel.h"

class QPaintDevice;

namespace sonvera {

/// QColor-free conversion of a 0x00BBGGRR colour to Qt's 0xAARRGGBB.
QRgb ToQRgb(Colour c);
/// The other way round (alpha dropped).
Colour FromQRgb(QRgb c);

/// Draws the diagram of a DiagramModel into a QImage: margins, axes, grid, labels, the
/// two curves, the measuring cursor (screen) or comment and result line (print), title.
/// Holds the fixed vertex buffer, so drawing allocates nothing per paint.
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
    int RenderDiagram(DiagramModel& model, QImage& image, bool print, const std::string& comment,
                      int resultLineLeft = -1);

private:
    std::vector<QPoint> vertices;
};

}  // namespace sonvera
