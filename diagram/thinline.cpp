#include "diagram/thinline.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace sonvera {

namespace {

// Directions of the last segment drawn; a reversal along the same axis gets a cap.
enum Direction : int {
    kNoDirection = 0,
    kTopToBottom = 0x1,
    kBottomToTop = 0x2,
    kLeftToRight = 0x4,
    kRightToLeft = 0x8,
    kVertical = 0x3,
    kHorizontal = 0xc,
};

enum Caps : int { kNoCaps = 0, kCapBegin = 0x1, kCapEnd = 0x2 };

constexpr int kNoPixel = INT_MIN;

struct Pixel {
    int x = kNoPixel;
    int y = kNoPixel;
};

int SwapCaps(int caps)
{
    return ((caps & kCapBegin) << 1) | ((caps & kCapEnd) >> 1);
}

// 26.6 fixed point, truncated towards zero.
int Fixed(double v)
{
    return static_cast<int>(v * 64.);
}

// Quotient in 16.16 fixed point.
int Slope(int num, int den)
{
    if (std::abs(num) > 0x7fff) {
        return static_cast<int>(static_cast<long long>(num) * 65536 / den);
    }
    return num * 65536 / den;
}

// A segment seen along its major axis: `a` the major coordinate (y for a steep segment,
// x otherwise), `b` the minor one, ordered so that a1 <= a2 (`swapped`: the other way
// round in the caller's order).
struct Span {
    bool steep = false;
    bool swapped = false;
    int a1 = 0, b1 = 0, a2 = 0, b2 = 0;
};

Span Orient(int x1, int y1, int x2, int y2)
{
    const bool steep = std::abs(x2 - x1) < std::abs(y2 - y1);
    Span s{steep, false, steep ? y1 : x1, steep ? x1 : y1, steep ? y2 : x2, steep ? x2 : y2};
    if (s.a1 > s.a2) {
        s.swapped = true;
        std::swap(s.a1, s.a2);
        std::swap(s.b1, s.b2);
    }
    return s;
}

// The pixel at major coordinate `a` and minor coordinate `b`.
Pixel At(bool steep, int a, int b)
{
    return steep ? Pixel{b, a} : Pixel{a, b};
}

int& MinorOf(Pixel& p, bool steep)
{
    return steep ? p.x : p.y;
}

int MajorOf(const Pixel& p, bool steep)
{
    return steep ? p.y : p.x;
}

class ThinLines {
public:
    ThinLines(QImage& image, QRgb colour)
        : pixels(reinterpret_cast<quint32*>(image.bits())),
          perLine(image.bytesPerLine() / 4),
          width(image.width()),
          height(image.height()),
          colour(colour | 0xFF000000u),
          // The lines are first clipped, in floating point, to a pixel around the image.
          xmin(-1.0),
          xmax(image.width() + 1.0),
          ymin(-1.0),
          ymax(image.height() + 1.0)
    {
    }

    void Polyline(const QPoint* points, int count);

private:
    void Put(int x, int y)
    {
        if (static_cast<unsigned>(x) < static_cast<unsigned>(width) &&
            static_cast<unsigned>(y) < static_cast<unsigned>(height)) {
            pixels[static_cast<qsizetype>(y) * perLine + x] = colour;
        }
    }
    // The pixels of one segment: along the major axis from `from` to before `to` (at least
    // one), the minor coordinate stepping from `minor` by `step` (16.16).
    void Run(int from, int to, int minor, int step, bool vertical)
    {
        const int last = std::max(from, to - 1);
        const int m0 = minor >> 16;
        const int m1 = (minor + (last - from) * step) >> 16;
        const int majorSize = vertical ? height : width;
        const int minorSize = vertical ? width : height;
        if (from < 0 || last >= majorSize || std::min(m0, m1) < 0 || std::max(m0, m1) >= minorSize) {
            int major = from;
            do {
                if (vertical) {
                    Put(minor >> 16, major);
                } else {
                    Put(major, minor >> 16);
                }
                minor += step;
            } while (++major < to);
            return;
        }
        // Wholly inside the image: no pixel needs its own check.
        quint32* at = vertical ? pixels + static_cast<qsizetype>(from) * perLine
                               : pixels + from;
        const qsizetype majorStride = vertical ? perLine : 1;
        int major = from;
        do {
            const int m = minor >> 16;
            at[vertical ? m : static_cast<qsizetype>(m) * perLine] = colour;
            at += majorStride;
            minor += step;
        } while (++major < to);
    }
    bool Clip(double& x1, double& y1, double& x2, double& y2);
    bool Line(double rx1, double ry1, double rx2, double ry2, int caps);
    void EndOf(double rx1, double ry1, double rx2, double ry2);

    quint32* pixels;
    qsizetype perLine;
    int width;
    int height;
    quint32 colour;
    double xmin;
    double xmax;
    double ymin;
    double ymax;
    Pixel lastPixel;
    int lastDir = kNoDirection;
    bool lastAxisAligned = false;
};

// Clips the line to the rectangle a pixel around the image; true when nothing is left.
// A clipped end forgets the last pixel drawn.
bool ThinLines::Clip(double& x1, double& y1, double& x2, double& y2)
{
    if (x1 < xmin) {
        if (x2 <= xmin) {
            lastPixel.x = kNoPixel;
            return true;
        }
        y1 += (y2 - y1) / (x2 - x1) * (xmin - x1);
        x1 = xmin;
    } else if (x1 > xmax) {
        if (x2 >= xmax) {
            lastPixel.x = kNoPixel;
            return true;
        }
        y1 += (y2 - y1) / (x2 - x1) * (xmax - x1);
        x1 = xmax;
    }
    if (x2 < xmin) {
        lastPixel.x = kNoPixel;
        y2 += (y2 - y1) / (x2 - x1) * (xmin - x2);
        x2 = xmin;
    } else if (x2 > xmax) {
        lastPixel.x = kNoPixel;
        y2 += (y2 - y1) / (x2 - x1) * (xmax - x2);
        x2 = xmax;
    }
    if (y1 < ymin) {
        if (y2 <= ymin) {
            lastPixel.x = kNoPixel;
            return true;
        }
        x1 += (x2 - x1) / (y2 - y1) * (ymin - y1);
        y1 = ymin;
    } else if (y1 > ymax) {
        if (y2 >= ymax) {
            lastPixel.x = kNoPixel;
            return true;
        }
        x1 += (x2 - x1) / (y2 - y1) * (ymax - y1);
        y1 = ymax;
    }
    if (y2 < ymin) {
        lastPixel.x = kNoPixel;
        x2 += (x2 - x1) / (y2 - y1) * (ymin - y2);
        y2 = ymin;
    } else if (y2 > ymax) {
        lastPixel.x = kNoPixel;
        x2 += (x2 - x1) / (y2 - y1) * (ymax - y2);
        y2 = ymax;
    }
    return false;
}

// One segment. Along its major axis it covers the pixel centres from the rounded start
// to before the rounded end (half a pixel more at a capped end); the minor coordinate
// steps in 16.16. The first pixel is left out when the previous segment ended on it, and
// one is added before it when the segments would otherwise leave a gap at a turn.
bool ThinLines::Line(double rx1, double ry1, double rx2, double ry2, int caps)
{
    bool drawn = std::abs(rx2 - rx1) + std::abs(ry2 - ry1) >= 1.0;
    if (Clip(rx1, ry1, rx2, ry2)) {
        return true;
    }
    Span s = Orient(Fixed(rx1), Fixed(ry1), Fixed(rx2), Fixed(ry2));
    if (s.a1 == s.a2) {
        return true;  // shorter than 1/64 pixel
    }
    Pixel last = lastPixel;
    const auto joint = [&](const Pixel& first, int dir, bool axisAligned) {
        // 0: as computed, -1: leave the first pixel out, +1: add one before it.
        if (lastPixel.x == kNoPixel) {
            return 0;
        }
        if (first.x == lastPixel.x && first.y == lastPixel.y) {
            return -1;
        }
        if (lastDir != dir &&
            (((axisAligned && lastAxisAligned) && lastPixel.x != first.x && lastPixel.y != first.y) ||
             std::abs(lastPixel.x - first.x) > 1 || std::abs(lastPixel.y - first.y) > 1)) {
            return 1;
        }
        if (lastDir == dir && std::abs(lastPixel.x - first.x) <= 1 && std::abs(lastPixel.y - first.y) > 1) {
            return 2;
        }
        return 0;
    };

    const bool steep = s.steep;
    const int axis = steep ? kVertical : kHorizontal;
    const int dir = steep ? (s.swapped ? kBottomToTop : kTopToBottom)
                          : (s.swapped ? kRightToLeft : kLeftToRight);
    if (s.swapped) {
        caps = SwapCaps(caps);
    }
    const int inc = Slope(s.b2 - s.b1, s.a2 - s.a1);
    int b = s.b1 * 1024;
    if ((lastDir ^ axis) == dir) {
        caps |= s.swapped ? kCapEnd : kCapBegin;
    }
    if ((caps & kCapBegin) != 0) {
        s.a1 -= 32;
        b -= inc >> 1;
    }
    if ((caps & kCapEnd) != 0) {
        s.a2 += 32;
    }
    int a = (s.a1 + 32) >> 6;
    int as = (s.a2 + 32) >> 6;
    const int round = inc > 0 ? 32 : 0;
    // A cap that moved the start to the pixel before the one the last segment ended on
    // starts it on that pixel again.
    if ((caps & kCapBegin) != 0 && MajorOf(lastPixel, steep) == a + 1) {
        ++a;
    }
    if (a != as) {
        b += ((a * 64) + round - s.a1) * inc >> 6;
        Pixel first = At(steep, a, b >> 16);
        last = At(steep, as - 1, (b + (as - a - 1) * inc) >> 16);
        if (s.swapped) {
            std::swap(first, last);
        }
        const bool axisAligned = std::abs(inc) < (1 << 14);
        const int j = joint(first, dir, axisAligned);
        if (j < 0) {
            if (s.swapped) {
                --as;
            } else {
                ++a;
                b += inc;
            }
        } else if (j == 1) {
            if (s.swapped) {
                ++as;
            } else {
                --a;
                b -= inc;
            }
        } else if (j == 2) {
            b += inc >> 1;
            MinorOf(last, steep) = s.swapped ? b >> 16 : (b + (as - a - 1) * inc) >> 16;
        }
        lastDir = dir;
        lastAxisAligned = axisAligned;
        Run(a, as, b, inc, steep);
        drawn = true;
    }
    lastPixel = last;
    return drawn;
}

// The last pixel and the direction of a segment, as Line leaves them, without drawing:
// a closed polyline's first segment joins its last.
void ThinLines::EndOf(double rx1, double ry1, double rx2, double ry2)
{
    lastPixel = Pixel{};
    if (Clip(rx1, ry1, rx2, ry2)) {
        return;
    }
    const Span s = Orient(Fixed(rx1), Fixed(ry1), Fixed(rx2), Fixed(ry2));
    if (s.a1 == s.a2) {
        return;
    }
    const int inc = Slope(s.b2 - s.b1, s.a2 - s.a1);
    int b = s.b1 * 1024;
    const int a = (s.a1 + 32) >> 6;
    const int as = (s.a2 + 32) >> 6;
    const int round = inc > 0 ? 32 : 0;
    if (a != as) {
        b += ((a * 64) + round - s.a1) * inc >> 6;
        lastPixel = s.swapped ? At(s.steep, a, b >> 16) : At(s.steep, as - 1, (b + (as - a - 1) * inc) >> 16);
        lastDir = s.steep ? (s.swapped ? kBottomToTop : kTopToBottom)
                          : (s.swapped ? kRightToLeft : kLeftToRight);
        lastAxisAligned = std::abs(inc) < (1 << 14);
    }
}

void ThinLines::Polyline(const QPoint* points, int count)
{
    if (count == 1) {
        Put(points[0].x(), points[0].y());
    }
    if (count < 2) {
        return;
    }
    // A polyline that ends where it began is closed: no caps.
    const bool closed = points[0] == points[count - 1];
    int caps = closed ? kNoCaps : kCapBegin;
    if (closed) {
        EndOf(points[count - 2].x(), points[count - 2].y(), points[count - 1].x(), points[count - 1].y());
    }
    double px = points[0].x();
    double py = points[0].y();
    for (int i = 1; i < count; ++i) {
        if (!closed && i == count - 1) {
            caps |= kCapEnd;
        }
        const double qx = points[i].x();
        const double qy = points[i].y();
        Line(px, py, qx, qy, caps);
        px = qx;
        py = qy;
        caps = kNoCaps;
    }
}

}  // namespace

void DrawThinPolyline(QImage& image, const QPoint* points, int count, QRgb colour)
{
    ThinLines(image, colour).Polyline(points, count);
}

}  // namespace sonvera
