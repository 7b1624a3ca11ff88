// TMainForm: where the windows and the controls stand. The main window and the diagram
// at the start, the generator window off its page, the oscilloscope view beside the main
// window (the decisions are ui/windowplacement.h's), the generator riding along over its
// group, and the proportional layout that scales the controls with the window.
#include "ui/mainform.h"

#include <QGuiApplication>
#include <QMoveEvent>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include "config/profilefile.h"
#include "config/sections.h"
#include "diagram/diagramm.h"
#include "scope/oszidia.h"
#include "ui/generatorpage.h"
#include "ui/wavegen.h"
#include "ui/windowplacement.h"

namespace sonvera {

namespace {

// The diagram window's client size: the limits of a saved size, and the size a first
// start gives it where the screen has room.
const QSize kDiagramMinimum(180, 140);
const QSize kDiagramMaximum(1024, 768);
const QSize kDiagramWanted(800, 500);
// The frame a window manager adds, assumed until a shown window tells its own.
const QMargins kAssumedDecoration(4, 32, 4, 4);

/// The frame of top-level window `w` around its client area: the real one once shown
/// with a frame, else the assumed one.
QMargins Decoration(const QWidget* w)
{
    const QRect frame = w->frameGeometry();
    const QRect inner = w->geometry();
    if (frame == inner) {
        return kAssumedDecoration;
    }
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                    frame.bottom() - inner.bottom());
}

/// The available areas of all screens.
QList<QRect> AvailableScreens()
{
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas.append(screen->availableGeometry());
    }
    return areas;
}

}  // namespace

bool TMainForm::Saved(const char* section, const char* key) const
{
    const std::string absent = "\x01";  // no configuration value holds it
    return profile_.GetString(section, key, absent, 153) != absent;
}

QRect TMainForm::MainScreen() const
{
    return placement::NearestScreen(frameGeometry(), AvailableScreens());
}

void TMainForm::setVisible(bool visible)
{
    // Placed before the window exists on the screen: a window placed while it is being
    // shown has its client area, not its frame, put at the place.
    if (visible && !placed_) {
        placed_ = true;
        PlaceAtStart();
    }
    QMainWindow::setVisible(visible);
}

void TMainForm::PlaceAtStart()
{
    Settings& s = state_.settings;
    DiagramGeometry& g = s.Diagram;
    g.DiagramWidth = std::clamp(g.DiagramWidth, kDiagramMinimum.width(), kDiagramMaximum.width());
    g.DiagramHeight = std::clamp(g.DiagramHeight, kDiagramMinimum.height(), kDiagramMaximum.height());
    const QList<QRect> screens = AvailableScreens();
    const QSize mainFrame = size().grownBy(Decoration(this));
    const bool mainSaved = Saved("MAIN", "LEFT") || Saved("MAIN", "TOP");
    bool diagramSaved = false;
    for (const char* key : {"WIDTH", "HEIGHT", "LEFT", "TOP"}) {
        diagramSaved = diagramSaved || Saved("DIAGRAMM", key);
    }
    TDiagramm* diagram = windows_.diagramm;
    const QMargins diagramFrame = diagram ? Decoration(diagram) : QMargins();
    const QSize minimum = kDiagramMinimum.grownBy(diagramFrame);
    const QSize maximum = kDiagramMaximum.grownBy(diagramFrame);
    const QSize wanted = kDiagramWanted.grownBy(diagramFrame);

    QRect mainRect;
    QRect diagramRect;
    if (!mainSaved && !diagramSaved && !screens.isEmpty()) {
        // A first start: every window whole on the screen, none over another.
        const QScreen* primary = QGuiApplication::primaryScreen();
        const QRect area = primary ? primary->availableGeometry() : screens.first();
        const placement::FirstStart layout =
            placement::FirstStartLayout(area, mainFrame, minimum, maximum, wanted);
        mainRect = layout.main;
        diagramRect = layout.diagram;
    } else {
        // Saved places come back as they were while a screen shows them.
        mainRect = placement::OntoScreens(QRect(QPoint(s.Main.MainLeft, s.Main.MainTop), mainFrame), screens,
                                          mainFrame);
        if (diagramSaved || screens.isEmpty()) {
            const QRect saved(QPoint(g.DiagramLeft, g.DiagramTop),
                              QSize(g.DiagramWidth, g.DiagramHeight).grownBy(diagramFrame));
            diagramRect = placement::OntoScreens(saved, screens, minimum);
            if (diagramRect != saved && diagramRect.intersects(mainRect)) {
                // Brought back from off the screens onto the main window: beside it instead,
                // at its saved size where that fits.
                const QRect beside = placement::DiagramNextTo(mainRect, placement::NearestScreen(mainRect, screens),
                                                              minimum, saved.size(), saved.size());
                if (!beside.intersects(mainRect)) {
                    diagramRect = beside;
                }
            }
        } else {
            diagramRect = placement::DiagramNextTo(mainRect, placement::NearestScreen(mainRect, screens), minimum,
                                                   maximum, wanted);
        }
    }
    move(mainRect.topLeft());
    if (diagram) {
        diagram->move(diagramRect.topLeft());
        diagram->resize(diagramRect.size().shrunkBy(diagramFrame));
    }
}

void TMainForm::FormActivate()
{
    if (!generatorDockedOnce_) {
        DockGenerator(true);
    }
    generatorDockedOnce_ = true;
}

bool TMainForm::GeneratorPlays() const
{
    return windows_.wavegen != nullptr && windows_.wavegen->Control().SignalOn();
}

void TMainForm::KeepGeneratorOffThePage()
{
    TWavegen* gen = windows_.wavegen;
    if (gen == nullptr || generatorPage_->Active() || !gen->isVisible()) {
        return;
    }
    if (!GeneratorPlays()) {
        gen->hide();
        return;
    }
    // It plays: it stays in sight (Stop must be at hand) but off this page's controls
    // and off the other windows shown.
    QList<QRect> others;
    for (QWidget* w : std::initializer_list<QWidget*>{windows_.diagramm, windows_.oszidia}) {
        if (w != nullptr && w->isVisible()) {
            others.append(w->frameGeometry());
        }
    }
    const QRect mainFrame = frameGeometry();
    const QRect genFrame(gen->pos(), gen->size().grownBy(Decoration(gen)));
    const QRect screen = MainScreen();
    bool clear = !genFrame.intersects(mainFrame) && screen.contains(genFrame);
    for (const QRect& other : others) {
        clear = clear && !genFrame.intersects(other);
    }
    if (!clear) {
        gen->move(placement::BesideAnchor(mainFrame, genFrame.size(), screen, others).topLeft());
    }
}

void TMainForm::PlaceBesideMainWindow(QWidget* window)
{
    QList<QRect> others;
    for (QWidget* w : std::initializer_list<QWidget*>{windows_.diagramm, windows_.oszidia, windows_.wavegen}) {
        if (w != nullptr && w != window && w->isVisible()) {
            others.append(w->frameGeometry());
        }
    }
    const QSize frame = window->size().grownBy(Decoration(window));
    window->move(placement::BesideAnchor(frameGeometry(), frame, MainScreen(), others).topLeft());
}

void TMainForm::ShowScopeView(bool show)
{
    TOszidia* view = windows_.oszidia;
    if (view == nullptr) {
        return;
    }
    if (!show) {
        view->hide();
        if (scopeMovedMain_ && pos() == scopeMovedMain_->second) {
            move(scopeMovedMain_->first);
        }
        scopeMovedMain_.reset();
        return;
    }
    // Placed before it is shown, so that its frame (not its client area) goes there.
    const int left = view->PlaceBesideMainWindow(frameGeometry(), MainScreen(), Decoration(view));
    if (left != frameGeometry().left()) {
        // No room on the left: the main window makes room, and goes back when the page
        // is left (unless the user has moved it meanwhile).
        const QPoint from = pos();
        move(left, y());
        scopeMovedMain_ = std::make_pair(from, pos());
    }
    view->show();
}

QPoint TMainForm::DockPoint() const
{
    return generatorPage_->DockPoint();
}

void TMainForm::DockGenerator(bool force)
{
    generatorPage_->DockGenerator(force);
}

void TMainForm::moveEvent(QMoveEvent* e)
{
    QMainWindow::moveEvent(e);
    // The generator rides along over its group; off its page it keeps its own place
    // beside the main window.
    if (generatorPage_->Active()) {
        DockGenerator(false);
    }
}

void TMainForm::RecordLayout()
{
    layoutClient_ = QRect(QPoint(0, 0), kDesignedClient);
    layoutTable_.clear();
    for (QWidget* w : layoutControls_) {
        layoutTable_.push_back({w, w->geometry()});
    }
}

void TMainForm::FormResize()
{
    if (layoutTable_.empty() || layoutClient_.isEmpty()) {
        return;
    }
    const QSize now = centralWidget()->size();
    const int w0 = layoutClient_.width();
    const int h0 = layoutClient_.height();
    if (now.width() < w0 || now.height() < h0) {
        return;
    }
    auto scale = [](int v, int n, int d) { return static_cast<int>(std::lrint(static_cast<double>(v) * n / d)); };
    for (const LayoutEntry& e : layoutTable_) {
        if (e.control) {
            e.control->setGeometry(scale(e.bounds.left(), now.width(), w0), scale(e.bounds.top(), now.height(), h0),
                                   scale(e.bounds.width(), now.width(), w0),
                                   scale(e.bounds.height(), now.height(), h0));
        }
    }
}

}  // namespace sonvera
