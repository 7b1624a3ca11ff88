#pragma once

#include <QFont>
#include <QImage>
#include <vector>

#include "scope/scopemodel.h"

namespace sonvera {

/// Draws the oscilloscope screen of a ScopeModel into a QImage: band, background,
/// caption, 10 x 8 division graticule, measuring cursor lines and both traces. Keeps its
/// vertex buffer, so a repaint allocates nothing once the point count is known.
class ScopeRenderer {
public:
    /// The screen's small sans font (about 8 points).
    static QFont ScopeFont();

    /// Sizes the image to the model's client area (32-bit RGB) and draws. Nothing is
    /// drawn when the screen area has a negative height.
    void RenderScope(const ScopeModel& model, QImage& image);

private:
    std::vector<QPoint> vertices_;
};

/// 0x00BBGGRR colour to Qt's 0xAARRGGBB.
QRgb ScopeQRgb(Colour c);

}  // namespace sonvera
