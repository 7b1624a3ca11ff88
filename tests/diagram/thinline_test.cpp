#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <random>
#include <string>
#include <vector>

#include "diagram/thinline.h"

using namespace sonvera;

namespace {

void EnsureApp()
{
    static int argc = 1;
    static char name[] = "thinline_test";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) {
        new QGuiApplication(argc, argv);
    }
}

// Random polylines of every kind the rasterizer must get right: short and long segments,
// steep and flat, both directions, repeated points, vertical runs, closed ones, points
// just outside the image and far outside it, on small and diagram-sized images.
std::vector<QPoint> RandomPolyline(std::mt19937& rng, int w, int h)
{
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int count = 1 + (pick(4) == 0 ? pick(300) : pick(9));
    const int margin = pick(3) == 0 ? 2 : (pick(2) == 0 ? 12 : 40);
    std::vector<QPoint> points(static_cast<std::size_t>(count));
    for (QPoint& p : points) {
        p = pick(12) == 0 ? QPoint(pick(400001) - 200000, pick(400001) - 200000)
                          : QPoint(pick(w + 2 * margin) - margin, pick(h + 2 * margin) - margin);
    }
    if (count > 2 && pick(5) == 0) {
        points[1] = points[0];
    }
    if (pick(4) == 0) {  // a curve's columns: straight up and down, then a step
        for (std::size_t i = 1; i < points.size(); ++i) {
            points[i].setX(points[i - 1].x() + (pick(2) == 0 ? 0 : pick(3)));
        }
    }
    if (count > 2 && pick(8) == 0) {
        points.back() = points.front();
    }
    return points;
}

}  // namespace

TEST(ThinPolyline, GivesExactlyThePixelsOfQPaintersCosmeticPolyline)
{
    EnsureApp();
    std::mt19937 rng(20261209);
    const QRgb background = qRgb(0x10, 0x20, 0x30);
    const QRgb colour = qRgb(0x12, 0x34, 0x56);
    int drawn = 0;
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        for (int t = 0; t < 4000; ++t) {
            const bool large = t % 10 == 0;
            const int w = 1 + static_cast<int>(rng() % (large ? 1100U : 60U));
            const int h = 1 + static_cast<int>(rng() % (large ? 800U : 60U));
            const std::vector<QPoint> points = RandomPolyline(rng, w, h);
            QImage painted(w, h, format);
            painted.fill(background);
            QImage direct = painted.copy();
            {
                QPainter p(&painted);
                QPen pen{QColor(colour)};
                pen.setWidth(0);
                p.setPen(pen);
                if (points.size() == 1) {
                    p.drawPoint(points[0]);
                } else {
                    p.drawPolyline(points.data(), static_cast<int>(points.size()));
                }
            }
            DrawThinPolyline(direct, points.data(), static_cast<int>(points.size()), colour);
            if (direct != painted) {
                int differing = 0;
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        differing += painted.pixel(x, y) != direct.pixel(x, y) ? 1 : 0;
                    }
                }
                std::string where;
                for (const QPoint& p : points) {
                    where += " (" + std::to_string(p.x()) + "," + std::to_string(p.y()) + ")";
                }
                FAIL() << differing << " pixels differ on " << w << " x " << h << ":" << where;
            }
            QImage blank(w, h, format);
            blank.fill(background);
            drawn += painted != blank ? 1 : 0;
        }
    }
    // Most polylines cross the image (the others lie wholly outside it).
    EXPECT_GT(drawn, 6000);
}
