#include "scope/scoperenderer.h"

#include <QPainter>
#include <QPen>
#include <algorithm>

namespace sonvera {

QRgb ScopeQRgb(Colour c)
{
    return qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

namespace {

QPen Pen(Colour c)
{
    QPen pen{QColor(ScopeQRgb(c))};
    pen.setWidth(0);  // cosmetic: one pixel
    return pen;
}

constexpr int kTriggerMarkHalf = 4;    // half the mark's height in pixels
constexpr int kTriggerMarkLength = 8;  // its length into the screen

}  // namespace

QFont ScopeRenderer::ScopeFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

void ScopeRenderer::RenderScope(const ScopeModel& model, QImage& image)
{
    const int w = std::max(model.ClientWidth(), 1);
    const int h = std::max(model.ClientHeight(), 1);
    if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32) {
        image = QImage(w, h, QImage::Format_RGB32);
        image.fill(ScopeQRgb(ScopeModel::kMargin));
    }
    const ScopeRect& s = model.Screen();
    const ScopeRect& b = model.Band();
    if (s.bottom < s.top) {
        return;
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(s.left, s.top, s.Width(), s.Height()), QColor(ScopeQRgb(model.BackgroundColour())));
    p.fillRect(QRect(b.left, b.top, b.Width(), b.Height()), QColor(ScopeQRgb(ScopeModel::kMargin)));
    if (!model.HasTrace()) {
        return;
    }

    p.setFont(ScopeFont());
    p.setPen(Pen(0x000000));
    p.drawText(QPoint(s.left, 10 + p.fontMetrics().ascent()), QString::fromStdString(model.Caption()));

    p.setPen(Pen(ScopeModel::kGrid));
    for (int i = 0; i <= 10; ++i) {
        const int x = model.GridX(i);
        p.drawLine(x, s.top, x, s.bottom);
    }
    for (int j = 0; j <= 8; ++j) {
        const int y = model.GridY(j);
        p.drawLine(s.left, y, s.right, y);
    }

    p.setPen(Pen(ScopeModel::kCursor));
    if (model.CursorX1() > 0 && model.CursorX2() > 0) {
        p.drawLine(model.CursorX1(), s.top, model.CursorX1(), s.bottom);
        p.drawLine(model.CursorX2(), s.top, model.CursorX2(), s.bottom);
    }
    if (model.CursorY1() > 0 && model.CursorY2() > 0) {
        p.drawLine(s.left, model.CursorY1(), s.right, model.CursorY1());
        p.drawLine(s.left, model.CursorY2(), s.right, model.CursorY2());
    }

    const auto count = static_cast<std::size_t>(model.ScopeLastIndex()) + 1;
    if (vertices_.size() < count + 1) {
        vertices_.resize(count + 1);
    }
    const auto& t = model.ScopeTime();
    const auto drawTrace = [&](const std::vector<float>& v, Colour c) {
        // The trace starts at the left edge at point 0's height, then runs through
        // every point from 1 on.
        vertices_[0] = QPoint(s.left, model.MapY(v[0]));
        for (std::size_t i = 1; i < count; ++i) {
            vertices_[i] = QPoint(model.MapX(t[i]), model.MapY(v[i]));
        }
        p.setPen(Pen(c));
        p.drawPolyline(vertices_.data(), static_cast<int>(count));
    };
    drawTrace(model.ScopeCh1(), ScopeModel::kChannel1);
    drawTrace(model.ScopeCh2(), ScopeModel::kChannel2);

    if (model.TriggerMarkShown()) {
        // A small triangle at the right edge pointing at the trigger level, kept on the
        // screen when the level lies beyond it.
        const int y = std::clamp(model.MapY(model.TriggerMarkLevel()), s.top + kTriggerMarkHalf,
                                 s.bottom - 1 - kTriggerMarkHalf);
        const int tip = s.right - 1 - kTriggerMarkLength;
        const QPoint mark[3] = {QPoint(tip, y), QPoint(s.right - 1, y - kTriggerMarkHalf),
                                QPoint(s.right - 1, y + kTriggerMarkHalf)};
        const QColor colour(ScopeQRgb(model.TriggerMarkChannel1() ? ScopeModel::kChannel1 : ScopeModel::kChannel2));
        p.setPen(Pen(model.TriggerMarkChannel1() ? ScopeModel::kChannel1 : ScopeModel::kChannel2));
        p.setBrush(colour);
        p.drawPolygon(mark, 3);
    }
}

}  // namespace sonvera
