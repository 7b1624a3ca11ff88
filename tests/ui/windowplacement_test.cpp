#include <gtest/gtest.h>

#include <QList>
#include <QRect>

#include "ui/windowplacement.h"

namespace sonvera::placement {
namespace {

const QSize kMain(608, 352);  // the main window's frame
const QSize kDiagramMin(188, 176);
const QSize kDiagramMax(1032, 804);
const QSize kWanted(808, 536);

TEST(WindowPlacement, FirstStartPutsBothWindowsWholeOnTheScreenSideBySide)
{
    struct Row {
        QRect screen;
        bool roomForWanted;
    };
    const Row rows[] = {
        {QRect(0, 0, 1600, 1000), true},
        {QRect(0, 0, 1280, 720), false},   // neither beside nor below holds 800 x 500
        {QRect(0, 0, 1024, 1400), true},   // a portrait screen: below
        {QRect(1600, 30, 1920, 1050), true},  // a second screen, below a panel
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.screen.width() << "x" << r.screen.height());
        const FirstStart layout = FirstStartLayout(r.screen, kMain, kDiagramMin, kDiagramMax, kWanted);
        EXPECT_EQ(layout.main.size(), kMain);
        EXPECT_TRUE(r.screen.contains(layout.main) && r.screen.contains(layout.diagram));
        EXPECT_FALSE(layout.main.intersects(layout.diagram));
        EXPECT_TRUE(kDiagramMax.expandedTo(layout.diagram.size()) == kDiagramMax);
        EXPECT_EQ(layout.diagram.width() >= kWanted.width() && layout.diagram.height() >= kWanted.height(),
                  r.roomForWanted);
        // Without room for the wanted size the diagram still takes a useful share.
        EXPECT_GT(layout.diagram.width() * layout.diagram.height(), r.screen.width() * r.screen.height() / 4);
    }
}

TEST(WindowPlacement, SavedPlacesOffEveryScreenMoveOntoTheNearestKeepingTheirSize)
{
    const QRect left(0, 0, 1600, 1000);
    const QRect right(1600, 0, 1280, 720);
    const QList<QRect> one{left};
    const QList<QRect> two{left, right};
    const QSize minimum(188, 176);
    struct Row {
        const char* what;
        QList<QRect> screens;
        QRect saved;
        QRect expected;  // empty: moved, check the rules below
    };
    const Row rows[] = {
        {"on the screen", one, QRect(200, 200, 608, 352), QRect(200, 200, 608, 352)},
        {"second monitor gone", one, QRect(2200, 100, 458, 352), {}},
        {"damaged", one, QRect(-5000, 32767, 608, 352), {}},
        {"half off the top", one, QRect(300, -100, 458, 352), {}},
        {"larger than the screen", one, QRect(0, 0, 2000, 1200), {}},
        {"second monitor there", two, QRect(2200, 100, 458, 352), QRect(2200, 100, 458, 352)},
        {"across both monitors", two, QRect(1400, 100, 458, 352), QRect(1400, 100, 458, 352)},
        {"below the smaller monitor", two, QRect(2200, 600, 458, 352), {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const QRect placed = OntoScreens(r.saved, r.screens, minimum);
        if (!r.expected.isNull()) {
            EXPECT_EQ(placed, r.expected);
            continue;
        }
        const QRect screen = NearestScreen(r.saved, r.screens);
        EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y();
        EXPECT_EQ(placed.size(), r.saved.size().boundedTo(screen.size()));
    }
    // Never smaller than the minimum: then at least the title bar (top-left) is on screen.
    const QRect tiny(0, 0, 150, 100);
    const QRect big = OntoScreens(QRect(40, 40, 300, 300), {tiny}, QSize(200, 160));
    EXPECT_EQ(big.size(), QSize(200, 160));
    EXPECT_EQ(big.topLeft(), tiny.topLeft());
}

TEST(WindowPlacement, AWindowBesideAnotherCoversNeitherItNorTheOthersWhereThereIsRoom)
{
    const QRect screen(0, 0, 1280, 720);
    const QRect main(4, 4, 608, 352);
    const QSize generator(272, 232);
    // Room below the main window; the diagram fills the right.
    const QRect diagram(616, 4, 660, 712);
    QRect placed = BesideAnchor(main, generator, screen, {diagram});
    EXPECT_TRUE(screen.contains(placed));
    EXPECT_FALSE(placed.intersects(main) || placed.intersects(diagram));
    EXPECT_EQ(placed.size(), generator);
    // The diagram below: the generator goes right of the main window.
    placed = BesideAnchor(main, generator, screen, {QRect(4, 360, 1024, 356)});
    EXPECT_FALSE(placed.intersects(main) || placed.intersects(QRect(4, 360, 1024, 356)));
    // No free room at all: still never over the main window.
    placed = BesideAnchor(main, generator, screen, {QRect(0, 0, 1280, 720)});
    EXPECT_FALSE(placed.intersects(main));
    EXPECT_TRUE(screen.contains(placed));
}

}  // namespace
}  // namespace sonvera::placement
