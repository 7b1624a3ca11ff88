#include "diagram/diagramrenderer.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "diagram/diagramscale.h"
#include "diagram/thinline.h"

namespace sonvera {

QRgb ToQRgb(Colour c)
{
    return qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

Colour FromQRgb(QRgb c)
{
    return static_cast<Colour>(qRed(c)) | (static_cast<Colour>(qGreen(c)) << 8) |
           (static_cast<Colour>(qBlue(c)) << 16);
}

namespace {

constexpr Colour kTitleColour = 0x008080;  // olive

QString Text(const std::string& s)
{
    return QString::fromStdString(s);
}

// Draws text with its top-left corner at (x, y), as the diagram's positions are given.
void DrawTextAt(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QPoint(x, y + p.fontMetrics().ascent()), text);
}

QPen Pen(Colour c)
{
    QPen pen{QColor(ToQRgb(c))};
    pen.setWidth(0);  // cosmetic: always one pixel
    return pen;
}

}  // namespace

DiagramRenderer::DiagramRenderer() : vertices(DiagramModel::kPolylineCapacity) {}

QFont DiagramRenderer::DiagramFont(int fontSize)
{
    // A narrow sans at 1.25 pixels per unit of F: the left band (3F plus F per decimal)
    // then holds labels such as "-110" without clipping.
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(fontSize * 5 / 4, 1));
    return font;
}

DiagramTextMetrics DiagramRenderer::Metrics(int fontSize, const QPaintDevice* device)
{
    const QFontMetrics fm(DiagramFont(fontSize), device);
    DiagramTextMetrics m;
    m.charWidth = fm.horizontalAdvance(QStringLiteral("8"));
    m.charHeight = fm.height();
    m.freqLabelWidth = fm.horizontalAdvance(QStringLiteral("20.00k"));
    m.textWidth = [fm](const std::string& text) { return fm.horizontalAdvance(QString::fromStdString(text)); };
    return m;
}

bool DiagramRenderer::LayoutImage(DiagramModel& model, QImage& image, int width, int height,
                                  int fontSize, bool moveControls)
{
    if (!model.Activated()) {
        return false;
    }
    const int w = std::max(width, 1);
    const int h = std::max(height, 1);
    if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32) {
        image = QImage(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);
    }
    return model.LayoutDiagram(width, height, fontSize, Metrics(fontSize, &image), moveControls);
}

int DiagramRenderer::RenderDiagram(DiagramModel& m, QImage& image, bool print,
                                   const std::string& comment, int resultLineLeft, int curveWidth)
{
    const DiagramRect r = m.Layout().PlotRect;
    if (r.bottom < r.top || image.isNull()) {
        return 0;
    }
    QPainter p(&image);
    // The curves and the cursor never reach the texts of the bands, so drawing them after
    // the title gives the same picture as drawing them before it.
    overlayWidth = curveWidth;
    const int width = DrawBackground(m, p, print, comment, resultLineLeft);
    overlayWidth = 1;
    p.end();
    DrawCurves(m, image, nullptr, curveWidth);
    DrawLegend(m, image);
    if (!print && HasCursor(m)) {
        p.begin(&image);
        DrawCursor(m, p);
    }
    return width;
}

DiagramRenderer::BackgroundKey DiagramRenderer::KeyOf(const DiagramModel& m)
{
    BackgroundKey k;
    k.layout = m.Layout();
    k.freqMin = m.FreqMin;
    k.freqMax = m.FreqMax;
    k.levelMin = m.LevelMin;
    k.levelMax = m.LevelMax;
    k.level2Min = m.Level2Min;
    k.level2Max = m.Level2Max;
    k.axis1 = m.Axis1Shown;
    k.axis2 = m.Axis2Shown;
    k.hasPoints = m.PointCount != 0;
    k.log = m.LogX();
    const DiagramOptions& o = m.Options;
    const Colour colours[6] = {o.ColDia, o.ColMargin, o.ColGrid, o.ColLine1, o.ColLine2, o.ColText};
    std::copy(std::begin(colours), std::end(colours), std::begin(k.colours));
    k.language = m.Language();
    k.overlays = m.OverlaysGeneration();
    return k;
}

DiagramRenderer::CurvesKey DiagramRenderer::CurvesOf(const DiagramModel& m)
{
    return {m.PointsGeneration(), m.PointCount, m.Options.DrawCurve1 != 0, m.Options.DrawCurve2 != 0};
}

QRegion DiagramRenderer::UpdateScreen(DiagramModel& m, QImage& screen)
{
    const DiagramLayout& g = m.Layout();
    if (g.PlotRect.bottom < g.PlotRect.top || screen.isNull() || screen.width() != g.width ||
        screen.height() != g.height || screen.format() != QImage::Format_RGB32) {
        return {};
    }
    const BackgroundKey key = KeyOf(m);
    if (!backgroundDrawn || !(key == backgroundKey)) {
        if (background.size() != screen.size()) {
            background = QImage(screen.size(), QImage::Format_RGB32);
        }
        QPainter p(&background);
        commentWidth = DrawBackground(m, p, false, std::string(), -1);
        p.end();
        backgroundKey = key;
        backgroundDrawn = true;
        ++backgroundDraws;
    }
    const CurvesKey curves = CurvesOf(m);
    const std::size_t count =
        static_cast<std::size_t>(g.PlotRect.right - g.PlotRect.left + 2 + kStripWidth - 1) / kStripWidth;
    QRegion changed;
    if (!screenDrawn || !(screenKey == key) || screen.cacheKey() != screenImage) {
        std::memcpy(screen.bits(), background.constBits(), static_cast<std::size_t>(screen.sizeInBytes()));
        strips.assign(count, RowSpan{});
        DrawCurves(m, screen, &strips);
        DrawLegend(m, screen);
        changed = QRegion(screen.rect());
    } else if (!(curves == screenCurves)) {
        // The background goes back where the old curves lie, the new ones are drawn over
        // it; the region covers both.
        uchar* to = screen.bits();
        const uchar* from = background.constBits();
        const qsizetype line = screen.bytesPerLine();
        for (std::size_t k = 0; k < strips.size(); ++k) {
            const QRect r = StripRect(m, k, strips[k]);
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const qsizetype at = y * line + static_cast<qsizetype>(r.left()) * 4;
                std::memcpy(to + at, from + at, static_cast<std::size_t>(r.width()) * 4);
            }
        }
        newStrips.assign(count, RowSpan{});
        DrawCurves(m, screen, &newStrips);
        stripRects.clear();
        for (std::size_t k = 0; k < count; ++k) {
            RowSpan rows = strips[k];
            if (newStrips[k].top <= newStrips[k].bottom) {
                rows.Add(newStrips[k].top, newStrips[k].bottom);
            }
            stripRects.push_back(StripRect(m, k, rows));
        }
        changed = RegionOfStrips();
        // The legend lies over the curves: drawn again, and shown again where it is.
        const QRect legend = DrawLegend(m, screen);
        if (!legend.isEmpty()) {
            changed += legend;
        }
        strips.swap(newStrips);
    }
    screenKey = key;
    screenCurves = curves;
    screenImage = screen.cacheKey();
    screenDrawn = true;
    return changed;
}

int DiagramRenderer::PaintScreen(DiagramModel& m, QImage& screen, QPainter& target,
                                 const QRegion& region, QRegion& changed)
{
    changed = UpdateScreen(m, screen);
    for (const QRect& part : region) {
        target.drawImage(part.topLeft(), screen, part);
    }
    if (HasCursor(m)) {
        target.save();
        target.setClipRegion(region, Qt::IntersectClip);
        DrawCursor(m, target);
        target.restore();
    }
    return commentWidth;
}

QRect DiagramRenderer::StripRect(const DiagramModel& m, std::size_t k, const RowSpan& rows) const
{
    if (rows.top > rows.bottom) {
        return {};
    }
    const int left = m.Layout().PlotRect.left - 1 + static_cast<int>(k) * kStripWidth;
    const int top = rows.top - ((rows.top % kRowStep) + kRowStep) % kRowStep;
    const int bottom = rows.bottom + kRowStep - 1 - ((rows.bottom % kRowStep) + kRowStep) % kRowStep;
    return QRect(QPoint(left, top), QPoint(left + kStripWidth - 1, bottom)) &
           QRect(0, 0, m.Layout().width, m.Layout().height);
}

QRegion DiagramRenderer::RegionOfStrips()
{
    // The union of the strips' rectangles (side by side, each its own columns), put
    // together as QRegion keeps a region: bands of rows, each with its runs of columns
    // left to right, neighbouring bands with the same runs joined. Uniting the
    // rectangles one by one gives the same region at many times the cost.
    bounds.clear();
    for (const QRect& r : stripRects) {
        if (!r.isEmpty()) {
            bounds.push_back(r.top());
            bounds.push_back(r.bottom() + 1);
        }
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    regionRects.clear();
    std::size_t bandStart = 0;  // first rectangle of the last band
    std::size_t bandRuns = 0;   // its number of runs
    for (std::size_t b = 0; b + 1 < bounds.size(); ++b) {
        const int y0 = bounds[b];
        const int y1 = bounds[b + 1] - 1;
        const std::size_t start = regionRects.size();
        for (const QRect& r : stripRects) {
            if (r.isEmpty() || r.top() > y0 || r.bottom() < y1) {
                continue;
            }
            if (regionRects.size() > start && regionRects.back().right() + 1 == r.left()) {
                regionRects.back().setRight(r.right());
            } else {
                regionRects.emplace_back(QPoint(r.left(), y0), QPoint(r.right(), y1));
            }
        }
        const std::size_t runs = regionRects.size() - start;
        bool joined = runs != 0 && runs == bandRuns && regionRects[bandStart].bottom() + 1 == y0;
        for (std::size_t i = 0; joined && i < runs; ++i) {
            joined = regionRects[bandStart + i].left() == regionRects[start + i].left() &&
                     regionRects[bandStart + i].right() == regionRects[start + i].right();
        }
        if (joined) {
            for (std::size_t i = 0; i < runs; ++i) {
                regionRects[bandStart + i].setBottom(y1);
            }
            regionRects.resize(start);
        } else if (runs != 0) {
            bandStart = start;
            bandRuns = runs;
        }
    }
    QRegion region;
    region.setRects(regionRects.data(), static_cast<int>(regionRects.size()));
    return region;
}

void DiagramRenderer::MarkStrips(const DiagramModel& m, int n, std::vector<RowSpan>& spans) const
{
    // A cosmetic line's pixels lie within half a pixel of the ideal line; a row more above
    // and below, and the neighbour columns of every vertex, also cover the caps at the
    // ends and what the rasterizer adds at joints.
    const int first = m.Layout().PlotRect.left - 1;
    const int last = static_cast<int>(spans.size()) - 1;
    const auto markStrip = [&](int k, int a, int b) {
        spans[static_cast<std::size_t>(std::clamp(k, 0, last))].Add(a - 1, b + 1);
    };
    const auto mark = [&](int x, int a, int b) { markStrip((x - first) / kStripWidth, a, b); };
    for (int i = 0; i < n; ++i) {
        const QPoint a = vertices[static_cast<std::size_t>(i)];
        mark(a.x() - 1, a.y(), a.y());
        mark(a.x() + 1, a.y(), a.y());
        if (i + 1 == n) {
            break;
        }
        const QPoint b = vertices[static_cast<std::size_t>(i) + 1];
        const QPoint l = a.x() <= b.x() ? a : b;
        const QPoint r = a.x() <= b.x() ? b : a;
        const int sl = (l.x() - first) / kStripWidth;
        const int sr = (r.x() - first) / kStripWidth;
        if (sl == sr) {
            mark(l.x(), a.y(), b.y());
            continue;
        }
        // A line across strips: in each, the rows of the line from a column before its
        // first column in the strip to a column after its last (the rasterizer may put a
        // pixel up to a column away from where the ideal line crosses its row).
        const int dx = r.x() - l.x();
        const int dy = r.y() - l.y();
        for (int k = std::max(sl, 0); k <= std::min(sr, last); ++k) {
            const int x0 = std::max(first + k * kStripWidth - 1 - l.x(), 0);
            const int x1 = std::min(first + (k + 1) * kStripWidth - l.x(), dx);
            const int y0 = l.y() + dy * x0 / dx;
            const int y1 = l.y() + dy * x1 / dx;
            markStrip(k, std::min(y0, y1) - 1, std::max(y0, y1) + 1);
        }
    }
}

int DiagramRenderer::DrawBackground(DiagramModel& m, QPainter& p, bool print,
                                    const std::string& comment, int resultLineLeft)
{
    const DiagramLayout& g = m.Layout();
    const DiagramRect r = g.PlotRect;
    const DiagramOptions& o = m.Options;
    const int s = g.fontSize;
    p.setFont(DiagramFont(s));
    const int cw = g.CharWidth;
    const int ch = g.CharHeight;

    // 1. Background and the four margin bands.
    p.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), QColor(ToQRgb(o.ColDia)));
    p.setBackgroundMode(Qt::TransparentMode);
    const QColor margin(ToQRgb(o.ColMargin));
    p.fillRect(QRect(0, 0, g.width, g.topBand), margin);
    p.fillRect(QRect(0, g.height - g.bottomBand, g.width, g.bottomBand), margin);
    p.fillRect(QRect(0, g.topBand, g.leftBand, g.height - g.bottomBand - g.topBand), margin);
    p.fillRect(QRect(g.width - g.rightBand, g.topBand, g.rightBand,
                     g.height - g.bottomBand - g.topBand),
               margin);

    const double span1 = static_cast<double>(m.LevelMax) - m.LevelMin;
    const double span2 = static_cast<double>(m.Level2Max) - m.Level2Min;

    // 2. Left axis: labels in the curve-1 colour and the horizontal grid.
    if (m.PointCount != 0 && span1 != 0.0 && m.Axis1Shown) {
        p.setPen(Pen(o.ColLine1));
        if (g.LevelStep1 != 0.0f) {
            const int rows = DiagramRound(std::fabs(span1) / g.LevelStep1);
            for (int k = 0; k <= rows && k <= 10000; ++k) {
                const double v = k == 0 ? m.LevelMin : m.LevelMin + k * static_cast<double>(g.LevelStep1);
                const int y = std::abs(DiagramRound((v - m.LevelMin) * g.LevelScale1) - r.bottom);
                if (y >= r.top) {
                    const QString label = Text(FormatFixed(v, g.LabelDecimals, 3));
                    p.setPen(Pen(o.ColLine1));
                    DrawTextAt(p, r.left - p.fontMetrics().horizontalAdvance(label) - cw / 2,
                               y - ch / 2, label);
                    p.setPen(Pen(o.ColGrid));
                    p.drawLine(r.left, y, r.right, y);
                }
            }
        }
        p.setPen(Pen(o.ColLine1));
        DrawTextAt(p, r.left - g.leftBand + 2, r.bottom + ch / 2, QStringLiteral("dB"));
    }

    // 3. Right axis (phase or a second level), labels ending in its unit (a degree sign
    // unless a run set another).
    if (m.PointCount != 0 && span2 != 0.0 && m.Axis2Shown && g.LevelStep2 != 0.0f &&
        g.LevelStep1 != 0.0f) {
        const int rows = DiagramRound(std::fabs(span1) / g.LevelStep1);
        for (int k = 0; k <= rows && k <= 10000; ++k) {
            const double v = k == 0 ? m.Level2Min : m.Level2Min + k * static_cast<double>(g.LevelStep2);
            const int y = std::abs(DiagramRound((v - m.Level2Min) * g.LevelScale2) - r.bottom);
            if (y >= r.top) {
                p.setPen(Pen(o.ColLine2));
                DrawTextAt(p, r.right + cw / 2, y - ch / 2,
                           Text(FormatFixed(v, 1, 5)) + Text(m.Axis2Unit));
                if (!m.Axis1Shown) {
                    p.setPen(Pen(o.ColGrid));
                    p.drawLine(r.left, y, r.right, y);
                }
            }
        }
    }

    // 4. Frequency axis: centred labels below the plot, tick lines up to the top.
    const auto tick = [&](int x, const QString& label) {
        p.setPen(Pen(o.ColText));
        DrawTextAt(p, x - p.fontMetrics().horizontalAdvance(label) / 2, r.bottom + ch / 2, label);
        p.setPen(Pen(o.ColGrid));
        p.drawLine(x, r.top, x, label.isEmpty() ? r.bottom : r.bottom + ch / 3);
    };
    m.ForEachFreqTick([&](int x, const std::string& label) { tick(x, Text(label)); });

    // 5. The right edge of the plot.
    p.setPen(Pen(o.ColGrid));
    p.drawLine(r.right, r.top, r.right, r.bottom);

    // The overlays lie on the grid, under the diagram's own curves.
    DrawOverlays(m, p);

    // 8. Comment and result line (print only; on screen they are edit controls).
    if (print) {
        p.setPen(Pen(o.ColText));
        DrawTextAt(p, r.left, (g.topBand - ch) / 2, Text(comment));
        const int x0 = resultLineLeft >= 0 ? resultLineLeft : m.PlaceControls(0).Edit2.x;
        DrawTextAt(p, x0, r.bottom + ch * 7 / 4, Text(m.ResultLine()));
    }

    // 9. The title.
    QFont title = DiagramFont(2 * s);
    title.setBold(true);
    title.setItalic(true);
    p.setFont(title);
    p.setPen(Pen(kTitleColour));
    const QString name = QStringLiteral("Sonvera");
    const int titleWidth = p.fontMetrics().horizontalAdvance(name);
    DrawTextAt(p, r.right - titleWidth, r.top - 4 * s, name);
    p.setFont(DiagramFont(s));
    p.setPen(Pen(o.ColText));
    return r.right - titleWidth - r.left - 8;
}

void DiagramRenderer::DrawCurves(DiagramModel& m, QImage& image, std::vector<RowSpan>* spans, int curveWidth)
{
    // 6. The curves, one polyline each (one per piece where a curve has gaps). On the
    // 32-bit formats of the diagram's images one-pixel lines go straight into the pixels,
    // with the pixels QPainter gives them; wider lines and other images are painted.
    const bool direct = curveWidth <= 1 && (image.format() == QImage::Format_RGB32 ||
                                            image.format() == QImage::Format_ARGB32_Premultiplied);
    std::optional<QPainter> p;
    if (!direct) {
        p.emplace(&image);
    }
    const DiagramOptions& o = m.Options;
    for (int curve = 1; curve <= 2; ++curve) {
        if ((curve == 1 ? o.DrawCurve1 : o.DrawCurve2) == 0 || !m.HasStorage()) {
            continue;
        }
        const int n = m.CollectCurve(curve);
        if (n == 0) {
            continue;
        }
        const auto& src = m.Polyline();
        const Colour colour = curve == 1 ? o.ColLine1 : o.ColLine2;
        if (p) {
            QPen pen = Pen(colour);
            if (curveWidth > 1) {
                pen.setWidth(curveWidth);
                pen.setCapStyle(Qt::RoundCap);
                pen.setJoinStyle(Qt::RoundJoin);
            }
            p->setPen(pen);
        }
        // Each piece between two gaps is one polyline (a lone vertex one point).
        int piece = 0;
        for (int i = 0; i <= n; ++i) {
            if (i < n && src[static_cast<std::size_t>(i)].x != kCurveBreak) {
                vertices[static_cast<std::size_t>(piece++)] =
                    QPoint(src[static_cast<std::size_t>(i)].x, src[static_cast<std::size_t>(i)].y);
                continue;
            }
            if (direct) {
                DrawThinPolyline(image, vertices.data(), piece, ToQRgb(colour));
            } else if (piece == 1) {
                p->drawPoint(vertices[0]);
            } else if (piece > 1) {
                p->drawPolyline(vertices.data(), piece);
            }
            if (piece > 0 && spans != nullptr) {
                MarkStrips(m, piece, *spans);
            }
            piece = 0;
        }
    }
}

bool DiagramRenderer::HasCursor(const DiagramModel& m)
{
    return m.CursorMode != 0 || m.Dragging() || m.MarkerA.set || m.MarkerB.set;
}

void DiagramRenderer::DrawCursor(const DiagramModel& m, QPainter& p)
{
    DrawMarkers(m, p);
    // 7. The measuring cursor (screen only).
    if (m.CursorMode == 0) {
        return;
    }
    const DiagramOptions& o = m.Options;
    const DiagramRect r = m.Layout().PlotRect;
    p.setFont(DiagramFont(m.Layout().fontSize));
    const auto readout = [&](const std::string& text, int dy) {
        const QString t = Text(text);
        p.setPen(Pen(o.ColText));
        DrawTextAt(p, m.mouseX - p.fontMetrics().horizontalAdvance(t) - 2, m.mouseY + dy, t);
    };
    p.setPen(Pen(o.ColCur));
    switch (m.CursorMode) {
    case 1:
        p.drawLine(m.currentColumn, r.top, m.currentColumn, r.bottom);
        readout(m.FreqReadout, 1);
        break;
    case 2:
        p.drawLine(r.left, m.startRow, r.right, m.startRow);
        p.drawLine(r.left, m.currentRow, r.right, m.currentRow);
        readout(m.LevelReadout, 2);
        break;
    case 3:
        p.drawLine(m.startColumn, m.startRow, m.currentColumn, m.currentRow);
        readout(m.FreqReadout, 1);
        break;
    case 4:
        readout(m.PointReadout, 1);
        break;
    default:
        break;
    }
}

void DiagramRenderer::DrawOverlays(const DiagramModel& m, QPainter& p)
{
    const DiagramRect r = m.Layout().PlotRect;
    std::vector<const ShownCurve*> curves;
    for (const ShownCurve& c : m.ShownOverlays()) {
        curves.push_back(&c);
    }
    for (const ShownCurve& c : m.LimitCurves()) {
        curves.push_back(&c);
    }
    for (const ShownCurve* shown : curves) {
        const ShownCurve& c = *shown;
        const int n = m.CollectOverlay(c, overlayPoints);
        QPen pen = Pen(c.colour);
        if (overlayWidth > 1) {
            pen.setWidth(overlayWidth);  // a print's curves, as wide as the diagram's own
        }
        if (c.dashed) {
            pen.setStyle(Qt::DashLine);
        }
        p.setPen(pen);
        p.setClipRect(QRect(QPoint(r.left, r.top - m.Layout().CharHeight), QPoint(r.right, r.bottom + m.Layout().CharHeight)));
        QPolygon piece;
        for (int i = 0; i <= n; ++i) {
            const PixelPoint& v = overlayPoints[static_cast<std::size_t>(std::min(i, std::max(n - 1, 0)))];
            if (i < n && v.x != kCurveBreak) {
                piece << QPoint(v.x, v.y);
                continue;
            }
            if (piece.size() == 1) {
                p.drawPoint(piece[0]);
            } else if (piece.size() > 1) {
                p.drawPolyline(piece);
            }
            piece.clear();
        }
        p.setClipping(false);
    }
}

QRect DiagramRenderer::DrawLegend(const DiagramModel& m, QImage& image)
{
    const std::vector<LegendLine> lines = m.Legend();
    const DiagramLayout& g = m.Layout();
    const DiagramRect r = g.PlotRect;
    if (lines.empty() || r.bottom - r.top < 2 * g.CharHeight) {
        return {};
    }
    QPainter p(&image);
    p.setFont(DiagramFont(g.fontSize));
    const QFontMetrics fm = p.fontMetrics();
    const int swatch = 3 * g.CharWidth;
    const int pad = std::max(3, g.CharWidth * 2 / 3);
    const int rowHeight = fm.height();
    // As many lines as the plot holds; the box's right edge a little inside the plot's.
    const int rows = std::min(static_cast<int>(lines.size()), (r.bottom - r.top - 2 * pad) / rowHeight);
    int textWidth = 0;
    for (int i = 0; i < rows; ++i) {
        const LegendLine& line = lines[static_cast<std::size_t>(i)];
        const int w = fm.horizontalAdvance(Text(line.text)) + (line.kind == LegendLine::Kind::Note ? 0 : swatch + pad);
        textWidth = std::max(textWidth, w);
    }
    const int width = std::min(textWidth + 2 * pad, r.right - r.left - 2 * pad);
    const QRect box(r.right - pad - width, r.top + pad, width, rows * rowHeight + 2 * pad);
    p.fillRect(box, QColor(ToQRgb(m.Options.ColDia)));
    p.setPen(Pen(m.Options.ColText));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    p.setClipRect(box.adjusted(1, 1, -1, -1));
    for (int i = 0; i < rows; ++i) {
        const LegendLine& line = lines[static_cast<std::size_t>(i)];
        const int top = box.top() + pad + i * rowHeight;
        int x = box.left() + pad;
        if (line.kind != LegendLine::Kind::Note) {
            QPen pen = Pen(line.colour);
            if (line.kind == LegendLine::Kind::Dashed) {
                pen.setStyle(Qt::DashLine);
            }
            p.setPen(pen);
            const int y = top + rowHeight / 2;
            p.drawLine(x, y, x + swatch - 1, y);
            x += swatch + pad;
        }
        p.setPen(Pen(m.Options.ColText));
        DrawTextAt(p, x, top, Text(line.text));
    }
    return box;
}

void DiagramRenderer::DrawMarkers(const DiagramModel& m, QPainter& p)
{
    const DiagramLayout& g = m.Layout();
    const DiagramRect r = g.PlotRect;
    const DiagramOptions& o = m.Options;
    p.setFont(DiagramFont(g.fontSize));
    if (m.Dragging()) {
        const DiagramRect d = m.DragRect();
        QPen pen = Pen(o.ColCur);
        pen.setStyle(Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom)));
    }
    const int arm = std::max(3, g.CharHeight / 3);
    const CurveMarker* markers[2] = {&m.MarkerA, &m.MarkerB};
    for (int k = 0; k < 2; ++k) {
        const CurveMarker& marker = *markers[k];
        bool second = false;
        if (!marker.set || !m.CurveShown(marker.ref, &second)) {
            continue;
        }
        const double v = std::isfinite(marker.value) ? marker.value : m.ShownValueAt(marker.ref, marker.freqHz);
        if (!std::isfinite(v)) {
            continue;
        }
        const int x = DiagramRound(m.FreqToX(marker.freqHz));
        if (x < r.left || x > r.right) {
            continue;  // zoomed away: only its readout stays
        }
        const int y = std::clamp(second ? m.LevelToY2(v) : m.LevelToY1(v), r.top, r.bottom);
        p.setPen(Pen(o.ColCur));
        p.drawLine(x - arm, y, x + arm, y);
        p.drawLine(x, y - arm, x, y + arm);
        p.drawRect(QRect(x - arm / 2, y - arm / 2, arm, arm));
        DrawTextAt(p, x + arm + 1, y - arm - g.CharHeight, QString::fromLatin1(k == 0 ? "A" : "B"));
    }
    const std::vector<std::string> texts = m.MarkerTexts();
    if (texts.empty()) {
        return;
    }
    // The readouts in a box at the plot's top left.
    const QFontMetrics fm = p.fontMetrics();
    int width = 0;
    for (const std::string& t : texts) {
        width = std::max(width, fm.horizontalAdvance(Text(t)));
    }
    const int pad = std::max(2, g.CharWidth / 2);
    const QRect box(r.left + pad, r.top + pad, width + 2 * pad, static_cast<int>(texts.size()) * fm.height() + 2 * pad);
    p.fillRect(box, QColor(ToQRgb(o.ColDia)));
    p.setPen(Pen(o.ColText));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        DrawTextAt(p, box.left() + pad, box.top() + pad + static_cast<int>(i) * fm.height(), Text(texts[i]));
    }
}

}  // namespace sonvera
