#include "ui/impulse.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

#include "config/numberformat.h"
#include "diagram/diagramrenderer.h"
#include "diagram/diagramscale.h"
#include "measure/impulseplot.h"

namespace sonvera {

namespace {

// The diagram's colours as it starts (0x00BBGGRR).
constexpr Colour kPlotColour = 0xFFFF00;
constexpr Colour kGridColour = 0x00FFFF;
constexpr Colour kCurveColour = 0x0000FF;
constexpr Colour kWindowColour = 0xFF0000;
constexpr Colour kMarginColour = 0xC0C0C0;

}  // namespace

/// The plot itself.
class TImpulse::View : public QWidget {
public:
    View(TImpulse& owner, QWidget* parent) : QWidget(parent), owner_(owner)
    {
        setObjectName(QStringLiteral("ImpulseView"));
        setMinimumSize(360, 220);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    void Draw(QPainter& p, const QSize& size) const;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        Draw(p, size());
    }

private:
    TImpulse& owner_;
};

void TImpulse::View::Draw(QPainter& p, const QSize& size) const
{
    p.fillRect(QRect(QPoint(0, 0), size), QColor(ToQRgb(kMarginColour)));
    const QFont font = DiagramRenderer::DiagramFont(8);
    p.setFont(font);
    const QFontMetrics fm(font);
    const int ch = fm.height();
    const QRect plot(QPoint(fm.horizontalAdvance(QStringLiteral("-120")) + 8, ch),
                     QPoint(size.width() - 12, size.height() - 2 * ch - 4));
    p.fillRect(plot, QColor(ToQRgb(kPlotColour)));
    const ImpulsePlot* data = owner_.plot_.get();
    if (data == nullptr || data->Empty() || plot.width() < 10 || plot.height() < 10) {
        return;
    }
    const bool db = owner_.ImpulseDb->isChecked();
    const int columns = plot.width();
    std::vector<double> low;
    std::vector<double> high;
    data->Columns(columns, db, low, high);
    // Levels: amplitude -1 .. 1, or dB from a floor in whole 20 dB to 0.
    double bottom = -1.0;
    double top = 1.0;
    if (db) {
        double least = 0.0;
        for (const double v : low) {
            least = std::min(least, v);
        }
        bottom = std::max(ImpulsePlot::kFloorDb, std::floor(least / 20.0) * 20.0);
        bottom = std::min(bottom, -20.0);
        top = 0.0;
    }
    const auto yOf = [&](double v) {
        const double clamped = std::clamp(v, bottom, top);
        return plot.bottom() - static_cast<int>(std::lround((clamped - bottom) / (top - bottom) * plot.height()));
    };
    const double t0 = data->StartMs();
    const double t1 = data->EndMs();
    const auto xOf = [&](double ms) { return plot.left() + static_cast<int>(std::lround((ms - t0) / (t1 - t0) * columns)); };

    // Grid and labels.
    p.setPen(QPen(QColor(ToQRgb(kGridColour)), 0));
    const double levelStep = db ? 20.0 : 0.5;
    for (double v = bottom; v <= top + 1e-9; v += levelStep) {
        const int y = yOf(v);
        p.setPen(QPen(QColor(ToQRgb(kGridColour)), 0));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(Qt::black);
        const QString label = QString::fromStdString(FormatFixed(v, db ? 0 : 1));
        p.drawText(plot.left() - fm.horizontalAdvance(label) - 4, y + fm.ascent() / 2, label);
    }
    const double timeStep = NiceStep((t1 - t0) / std::max(1, columns / (fm.horizontalAdvance(QStringLiteral("-000.0")) * 2)));
    for (double t = std::ceil(t0 / timeStep) * timeStep; t <= t1; t += timeStep) {
        const int x = xOf(t);
        p.setPen(QPen(QColor(ToQRgb(kGridColour)), 0));
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(Qt::black);
        const QString label = QString::fromStdString(FormatFixed(t, timeStep < 1.0 ? 1 : 0));
        p.drawText(x - fm.horizontalAdvance(label) / 2, plot.bottom() + ch, label);
    }
    p.drawText(plot.left(), plot.bottom() + 2 * ch, owner_.language_ == 'E' ? QStringLiteral("ms from the peak")
                                                                            : QStringLiteral("ms ab der Spitze"));
    p.drawText(4, ch - fm.descent(), db ? QStringLiteral("dB") : QString());

    // The response: each column from its lowest to its highest value, joined to the next.
    p.setClipRect(plot.adjusted(0, -1, 0, 1));
    p.setPen(QPen(QColor(ToQRgb(kCurveColour)), 0));
    for (int k = 0; k < columns; ++k) {
        const auto i = static_cast<std::size_t>(k);
        double a = low[i];
        double b = high[i];
        if (k > 0) {
            a = std::min(a, high[i - 1]);
            b = std::max(b, low[i - 1]);
        }
        p.drawLine(plot.left() + k, yOf(a), plot.left() + k, yOf(b));
    }
    // The window over it, dashed.
    QPen dashed(QColor(ToQRgb(kWindowColour)), 0);
    dashed.setStyle(Qt::DashLine);
    p.setPen(dashed);
    QPolygon window;
    for (int k = 0; k <= columns; ++k) {
        const double t = t0 + (t1 - t0) * k / columns;
        window << QPoint(plot.left() + k, yOf(data->WindowAt(t, db)));
    }
    p.drawPolyline(window);
    p.setClipping(false);
    const QString caption = owner_.language_ == 'E' ? QStringLiteral("window") : QStringLiteral("Fenster");
    const int wx = std::clamp(xOf(data->WindowEndMs()) - fm.horizontalAdvance(caption) - 2, plot.left() + 2,
                              plot.right() - fm.horizontalAdvance(caption));
    p.drawText(wx, plot.top() + ch, caption);
}

TImpulse::TImpulse(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TImpulse"));
    setModal(false);
    ImpulseView = new View(*this, this);
    ImpulseAmplitude = new QRadioButton(this);
    ImpulseAmplitude->setObjectName(QStringLiteral("ImpulseAmplitude"));
    ImpulseDb = new QRadioButton(QStringLiteral("dB"), this);
    ImpulseDb->setObjectName(QStringLiteral("ImpulseDb"));
    ImpulseAmplitude->setChecked(true);
    ImpulseChannel = new QComboBox(this);
    ImpulseChannel->setObjectName(QStringLiteral("ImpulseChannel"));
    ImpulseChannel->addItem(QString());
    ImpulseChannel->addItem(QString());
    auto* controls = new QHBoxLayout;
    controls->addWidget(ImpulseAmplitude);
    controls->addWidget(ImpulseDb);
    controls->addStretch();
    controls->addWidget(ImpulseChannel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(ImpulseView, 1);
    column->addLayout(controls);
    resize(560, 340);
    for (QRadioButton* b : {ImpulseAmplitude, ImpulseDb}) {
        connect(b, &QRadioButton::toggled, this, [this] { ImpulseView->update(); });
    }
    connect(ImpulseChannel, &QComboBox::activated, this, [this] { ChannelChange(); });
    SetTexts('D');
}

TImpulse::~TImpulse() = default;

void TImpulse::SetTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const bool de = language == 'D';
    setWindowTitle(de ? QStringLiteral("Impulsantwort") : QStringLiteral("Impulse response"));
    ImpulseAmplitude->setText(QStringLiteral("Amplitude"));
    ImpulseChannel->setItemText(0, de ? QStringLiteral("Eingang rechts") : QStringLiteral("Right input"));
    ImpulseChannel->setItemText(1, de ? QStringLiteral("Eingang links") : QStringLiteral("Left input"));
    ImpulseView->update();
}

void TImpulse::SetResult(const LogSweepResult& result)
{
    result_ = result;
    const bool stereo = result.mode == LogSweepMode::Stereo;
    ImpulseChannel->setVisible(stereo);
    if (!stereo) {
        ImpulseChannel->setCurrentIndex(0);
    }
    ChannelChange();
}

void TImpulse::ChannelChange()
{
    const LogSweepChannel& c = ImpulseChannel->currentIndex() == 1 ? result_.left : result_.right;
    plot_ = std::make_unique<ImpulsePlot>(c, result_.rateHz);
    ImpulseView->update();
}

QImage TImpulse::Picture() const
{
    QImage image(ImpulseView->size(), QImage::Format_RGB32);
    QPainter p(&image);
    ImpulseView->Draw(p, image.size());
    return image;
}

}  // namespace sonvera
