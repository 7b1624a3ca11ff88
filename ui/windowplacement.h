#pragma once
// Where the program's windows go on the screens, as plain rectangles: the rules of a first
// start, of saved places that no screen shows any more, and of a window that has to stand
// beside another without covering it. All rectangles are window frames (title bar and
// border included) in desktop coordinates; screens are their available areas (without
// panels and docks).

#include <QList>
#include <QRect>
#include <QSize>

namespace sonvera::placement {

/// Pixels left free between two windows placed side by side.
inline constexpr int kGap = 4;

/// The available area among `screens` that `frame` lies on most, or, when it lies on
/// none, the one nearest to it. An empty rectangle when there is no screen.
QRect NearestScreen(const QRect& frame, const QList<QRect>& screens);

/// `frame` as it can be shown: unchanged while it lies wholly on the screens; otherwise
/// moved onto the nearest screen, keeping its size where that fits and never smaller
/// than `minimum`; when even that is larger than the screen, its top-left corner (and so
/// its title bar) lies on the screen.
QRect OntoScreens(const QRect& frame, const QList<QRect>& screens, const QSize& minimum);

/// The diagram beside (right or left of) or below (or above) `mainFrame` on `screen`,
/// not overlapping it: as large as the side allows up to `maximum`, on the side that
/// gives at least `wanted` (or, when none does, the largest area). Where no side holds
/// `minimum`, the diagram lies on the screen over the main window's bottom right.
QRect DiagramNextTo(const QRect& mainFrame, const QRect& screen, const QSize& minimum, const QSize& maximum,
                    const QSize& wanted);

/// The windows of a first start: the main window at the screen's top-left corner (kGap
/// inside it), the diagram next to it (see DiagramNextTo), both kGap off the edges.
struct FirstStart {
    QRect main;
    QRect diagram;
};
FirstStart FirstStartLayout(const QRect& screen, const QSize& mainFrame, const QSize& diagramMinimum,
                            const QSize& diagramMaximum, const QSize& diagramWanted);

/// A place for a window of `size` next to `anchor`, on `screen`: never over `anchor`
/// where the screen has room, and over as little of `others` as possible.
QRect BesideAnchor(const QRect& anchor, const QSize& size, const QRect& screen, const QList<QRect>& others);

}  // namespace sonvera::placement
