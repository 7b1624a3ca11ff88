#include "ui/windowplacement.h"

#include <QRegion>

#include <algorithm>
#include <limits>

namespace sonvera::placement {

namespace {

long long Area(const QRect& r)
{
    return r.isEmpty() ? 0 : static_cast<long long>(r.width()) * r.height();
}

long long SquaredDistance(const QRect& a, const QRect& b)
{
    const long long dx = std::max({0, b.left() - a.right(), a.left() - b.right()});
    const long long dy = std::max({0, b.top() - a.bottom(), a.top() - b.bottom()});
    return dx * dx + dy * dy;
}

/// `size` placed at `topLeft`, then shifted onto `screen` as far as it fits there (the
/// top-left corner wins when it does not).
QRect ShiftOnto(QPoint topLeft, const QSize& size, const QRect& screen)
{
    const int x = std::max(screen.left(), std::min(topLeft.x(), screen.right() + 1 - size.width()));
    const int y = std::max(screen.top(), std::min(topLeft.y(), screen.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}

}  // namespace

QRect NearestScreen(const QRect& frame, const QList<QRect>& screens)
{
    QRect best;
    long long bestOverlap = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (const QRect& s : screens) {
        const long long overlap = Area(s.intersected(frame));
        const long long distance = SquaredDistance(s, frame);
        if (overlap > bestOverlap || (bestOverlap == 0 && overlap == 0 && distance < bestDistance)) {
            best = s;
            bestOverlap = overlap;
            bestDistance = distance;
        }
    }
    return best;
}

QRect OntoScreens(const QRect& frame, const QList<QRect>& screens, const QSize& minimum)
{
    QRegion all;
    for (const QRect& s : screens) {
        all += s;
    }
    if (screens.isEmpty() || QRegion(frame).subtracted(all).isEmpty()) {
        return frame;
    }
    const QRect screen = NearestScreen(frame, screens);
    const QSize size(std::max(minimum.width(), std::min(frame.width(), screen.width())),
                     std::max(minimum.height(), std::min(frame.height(), screen.height())));
    return ShiftOnto(frame.topLeft(), size, screen);
}

QRect DiagramNextTo(const QRect& mainFrame, const QRect& screen, const QSize& minimum, const QSize& maximum,
                    const QSize& wanted)
{
    // The free band on each side of the main window, over the screen's full width or
    // height: right, below, left, above (the first of equal choices wins).
    const QRect bands[4] = {
        QRect(QPoint(mainFrame.right() + 1 + kGap, screen.top()), screen.bottomRight()),
        QRect(QPoint(screen.left(), mainFrame.bottom() + 1 + kGap), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(mainFrame.left() - 1 - kGap, screen.bottom())),
        QRect(screen.topLeft(), QPoint(screen.right(), mainFrame.top() - 1 - kGap)),
    };
    QRect best;
    bool bestWanted = false;
    for (int side = 0; side < 4; ++side) {
        const QRect band = bands[side].intersected(screen);
        const QSize size = maximum.boundedTo(band.size());
        if (band.isEmpty() || size.width() < minimum.width() || size.height() < minimum.height()) {
            continue;
        }
        // Against the main window, and level with it where the band allows.
        QPoint at(side == 2 ? band.right() + 1 - size.width() : band.left(),
                  side == 3 ? band.bottom() + 1 - size.height() : band.top());
        if (side == 0 || side == 2) {
            at.setY(mainFrame.top());
        } else {
            at.setX(mainFrame.left());
        }
        const QRect candidate = ShiftOnto(at, size, band);
        const bool isWanted = size.width() >= wanted.width() && size.height() >= wanted.height();
        if (best.isNull() || (isWanted && !bestWanted) ||
            (isWanted == bestWanted && Area(candidate) > Area(best))) {
            best = candidate;
            bestWanted = isWanted;
        }
    }
    if (best.isNull()) {
        const QSize size = maximum.boundedTo(screen.size()).expandedTo(minimum);
        best = ShiftOnto(mainFrame.bottomRight() - QPoint(size.width() / 2, size.height() / 2), size, screen);
    }
    return best;
}

FirstStart FirstStartLayout(const QRect& screen, const QSize& mainFrame, const QSize& diagramMinimum,
                            const QSize& diagramMaximum, const QSize& diagramWanted)
{
    // A small margin keeps the windows off the screen's very corner (several window
    // managers take a position of 0, 0 for "no position" and place the window themselves).
    const QRect area = screen.adjusted(kGap, kGap, -kGap, -kGap);
    FirstStart layout;
    layout.main = QRect(area.topLeft(), mainFrame);
    layout.diagram = DiagramNextTo(layout.main, area, diagramMinimum, diagramMaximum, diagramWanted);
    return layout;
}

QRect BesideAnchor(const QRect& anchor, const QSize& size, const QRect& screen, const QList<QRect>& others)
{
    const int w = size.width();
    const int h = size.height();
    const QPoint tries[] = {
        {anchor.left(), anchor.bottom() + 1 + kGap},       // below, left edges level
        {anchor.right() + 1 + kGap, anchor.top()},          // right, top edges level
        {anchor.right() + 1 - w, anchor.bottom() + 1 + kGap},  // below, right edges level
        {anchor.right() + 1 + kGap, anchor.bottom() + 1 - h},  // right, bottom edges level
        {anchor.left() - kGap - w, anchor.top()},            // left
        {anchor.left(), anchor.top() - kGap - h},            // above
    };
    QRect best;
    long long bestCost = std::numeric_limits<long long>::max();
    for (const QPoint& at : tries) {
        const QRect candidate = ShiftOnto(at, size, screen);
        // Covering the anchor costs more than covering all of the others.
        long long cost = Area(candidate.intersected(anchor)) * (1LL << 32);
        for (const QRect& other : others) {
            cost += Area(candidate.intersected(other));
        }
        if (cost < bestCost) {
            best = candidate;
            bestCost = cost;
        }
    }
    return best;
}

}  // namespace sonvera::placement
