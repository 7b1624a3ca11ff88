#pragma once

#include <QImage>
#include <QMargins>
#include <QWidget>

#include "measure/scoperun.h"
#include "scope/scopemodel.h"
#include "scope/scoperenderer.h"

class QLabel;
class QPushButton;
class QFrame;

namespace sonvera {

/// The oscilloscope view: a small window without caption buttons beside the main
/// window. Draws the screen into an off-screen image on every paint and copies it in
/// one block; the mouse drags the time (left button) and voltage (right button)
/// cursors whose readouts show in `Label1` and `Label2`.
class TOszidia : public QWidget, public ScopeDisplay {
public:
    /// Default client size in pixels.
    static constexpr int kDefaultWidth = 320;
    static constexpr int kDefaultHeight = 290;

    explicit TOszidia(QWidget* parent = nullptr);

    // ScopeDisplay.
    bool PrepareScope(const std::string& caption, int points, bool xLog, float xMin, float xMax,
                      float yMin, float yMax) override;
    bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x, float ch2,
                         float ch1) override;
    void RepaintScope() override;

    /// Places the view left of the main window's frame on `screen` (the available area the
    /// main window is on), its own frame being `frame` around its client area; returns the
    /// main window's new left edge (moved right only as far as the view needs when there
    /// was no room). Best called before the view is shown: a window placed while it is
    /// being mapped has its client area, not its frame, put at the place.
    int PlaceBesideMainWindow(const QRect& mainFrame, const QRect& screen, const QMargins& frame);

    /// The off-screen image as last drawn (the clipboard copies it).
    const QImage& Bitmap() const { return bitmap_; }
    /// Draws the current state into the off-screen image and returns it.
    const QImage& RenderNow();

    ScopeModel& Model() { return model_; }
    const ScopeModel& Model() const { return model_; }

    void IllumButClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SyncLabels();
    void FollowSize();

    ScopeModel model_;
    ScopeRenderer renderer_;
    QImage bitmap_;
    QPushButton* illumBut_ = nullptr;
    QFrame* bevel_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
};

}  // namespace sonvera
