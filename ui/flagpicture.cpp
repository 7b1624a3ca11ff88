#include "ui/flagpicture.h"

#include <QPainter>
#include <QPolygon>

namespace sonvera {

namespace {

// Each flag is drawn large enough to be told apart in a menu (at least 24 x 16 pixels).
constexpr int kFlagWidth = 27;
constexpr int kFlagHeight = 18;
constexpr int kFlagGap = 4;

void DrawGermanFlag(QPainter& p, int x)
{
    const int band = kFlagHeight / 3;
    p.fillRect(x, 0, kFlagWidth, band, QColor(0, 0, 0));
    p.fillRect(x, band, kFlagWidth, band, QColor(221, 0, 0));
    p.fillRect(x, 2 * band, kFlagWidth, kFlagHeight - 2 * band, QColor(255, 206, 0));
}

void DrawBritishFlag(QPainter& p, int x)
{
    const QColor blue(1, 33, 105);
    const QColor red(200, 16, 46);
    p.save();
    p.setClipRect(x, 0, kFlagWidth, kFlagHeight);
    p.fillRect(x, 0, kFlagWidth, kFlagHeight, blue);
    // White diagonals with the thinner red ones over them.
    p.setPen(QPen(Qt::white, 3));
    p.drawLine(x, 0, x + kFlagWidth, kFlagHeight);
    p.drawLine(x, kFlagHeight, x + kFlagWidth, 0);
    p.setPen(QPen(red, 1));
    p.drawLine(x, 0, x + kFlagWidth, kFlagHeight);
    p.drawLine(x, kFlagHeight, x + kFlagWidth, 0);
    // White cross, red cross on it.
    const int cx = x + kFlagWidth / 2;
    const int cy = kFlagHeight / 2;
    p.fillRect(cx - 3, 0, 6, kFlagHeight, Qt::white);
    p.fillRect(x, cy - 3, kFlagWidth, 6, Qt::white);
    p.fillRect(cx - 1, 0, 3, kFlagHeight, red);
    p.fillRect(x, cy - 1, kFlagWidth, 3, red);
    p.restore();
}

}  // namespace

QPixmap DrawLanguageFlags()
{
    QPixmap pixmap(2 * kFlagWidth + kFlagGap, kFlagHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    DrawGermanFlag(p, 0);
    DrawBritishFlag(p, kFlagWidth + kFlagGap);
    return pixmap;
}

}  // namespace sonvera
