#include "scope/oszidia.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QHideEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

namespace sonvera {

TOszidia::TOszidia(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Oszidia"));
    setWindowTitle(QStringLiteral("Sonvera V1.3 Oszilloscope"));
    // Opaque: the whole client area is painted from the image, no erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFont(ScopeRenderer::ScopeFont());

    illumBut_ = new QPushButton(QStringLiteral("Illum."), this);
    illumBut_->setObjectName(QStringLiteral("IllumBut"));
    illumBut_->setGeometry(3, 3, 44, 24);
    connect(illumBut_, &QPushButton::clicked, this, &TOszidia::IllumButClick);

    bevel_ = new QFrame(this);
    bevel_->setObjectName(QStringLiteral("Bevel1"));
    bevel_->setFrameShape(QFrame::Panel);
    bevel_->setFrameShadow(QFrame::Sunken);
    bevel_->setGeometry(52, 3, 262, 24);

    label1_ = new QLabel(bevel_);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(3, 2, 160, 20);
    label1_->setStyleSheet(QStringLiteral("color: #800000"));  // maroon
    label2_ = new QLabel(bevel_);
    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->setGeometry(166, 2, 93, 20);
    label2_->setStyleSheet(QStringLiteral("color: #000000"));
    SyncLabels();

    resize(kDefaultWidth, kDefaultHeight);
    model_.LayoutScope(kDefaultWidth, kDefaultHeight);
    update();
}

bool TOszidia::PrepareScope(const std::string& caption, int points, bool xLog, float xMin,
                            float xMax, float yMin, float yMax)
{
    const bool fault = model_.PrepareScope(caption, points, xLog, xMin, xMax, yMin, yMax);
    FollowSize();
    return fault;
}

bool TOszidia::StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x,
                               float ch2, float ch1)
{
    return model_.StoreScopePoint(i, trigCh1, voltsDiv2, voltsDiv1, x, ch2, ch1);
}

void TOszidia::RepaintScope()
{
    if (isVisible()) {
        repaint();
    } else {
        RenderNow();  // keeps the image current for the clipboard copy
    }
}

int TOszidia::PlaceBesideMainWindow(const QRect& mainFrame, const QRect& screen, const QMargins& frame)
{
    auto rect = [](const QRect& r) {
        return ScopeRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    };
    const ScopePlacement p =
        PlaceScopeBeside(rect(mainFrame), width() + frame.left() + frame.right(), rect(screen));
    move(p.view.left, p.view.top);  // positions the frame
    const int frameExtraH = frame.top() + frame.bottom();
    resize(width(), std::max(p.view.Height() - frameExtraH, ScopeModel::kBandHeight + 1));
    return p.mainLeft;
}

void TOszidia::FollowSize()
{
    // A hidden window gets its resize event only when shown; the screen must match
    // the window's size before that already.
    if (model_.ClientWidth() != width() || model_.ClientHeight() != height()) {
        model_.LayoutScope(width(), height());
    }
}

const QImage& TOszidia::RenderNow()
{
    FollowSize();
    renderer_.RenderScope(model_, bitmap_);
    return bitmap_;
}

void TOszidia::IllumButClick()
{
    model_.ToggleIllumination();  // shows with the next repaint
}

void TOszidia::paintEvent(QPaintEvent*)
{
    RenderNow();
    QPainter p(this);
    p.drawImage(QPoint(0, 0), bitmap_);
}

void TOszidia::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    model_.LayoutScope(width(), height());
    update();
}

void TOszidia::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        model_.LayoutScope(width(), height());
        update();
    }
}

void TOszidia::hideEvent(QHideEvent* event)
{
    // Hidden with its page: the cursor readings of this visit end.
    model_.ClearCursors();
    SyncLabels();
    QWidget::hideEvent(event);
}

void TOszidia::closeEvent(QCloseEvent* event)
{
    // The user cannot close the view (the window manager's close key included); the
    // main window shows and hides it with the oscilloscope page.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TOszidia::mousePressEvent(QMouseEvent* event)
{
    FollowSize();
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        model_.LeftButtonDown(pos.x());
    } else if (event->button() == Qt::RightButton) {
        model_.RightButtonDown(pos.y());
    }
}

void TOszidia::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    model_.MouseMove(pos.x(), pos.y(), (event->buttons() & Qt::LeftButton) != 0,
                     (event->buttons() & Qt::RightButton) != 0);
    SyncLabels();
}

void TOszidia::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        model_.LeftButtonUp();
    } else if (event->button() == Qt::RightButton) {
        model_.RightButtonUp();
    }
    SyncLabels();
}

void TOszidia::SyncLabels()
{
    label1_->setText(QString::fromStdString(model_.Label1Text()));
    label2_->setText(QString::fromStdString(model_.Label2Text()));
}

}  // namespace sonvera
