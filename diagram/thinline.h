#pragma once

#include <QImage>
#include <QPoint>

namespace sonvera {

/// Draws a polyline of one-pixel lines straight into `image` (RGB32 or
/// ARGB32_Premultiplied), giving exactly the pixels that QPainter::drawPolyline gives on
/// that image for the same points with a cosmetic solid pen of width 0 and square caps,
/// aliased, without transform or clip: the same fixed-point stepping (26.6 end points,
/// 16.16 slope), the same half-pixel caps at the ends and at reversals, the same joints
/// (no pixel twice, a missing corner pixel added) and the same clipping to the image.
/// One point gives the pixel QPainter::drawPoint gives. `colour` is written opaque.
void DrawThinPolyline(QImage& image, const QPoint* points, int count, QRgb colour);

}  // namespace sonvera
