#include "diagram/diagramm.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QTime>
#include <QWheelEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>

#include "config/profilefile.h"
#include "config/sections.h"
#include "diagram/diadlg.h"
#include "diagram/overlaydlg.h"
#include "measure/appmessages.h"
#include "measure/prompt.h"

namespace sonvera {

namespace {

constexpr int kMinWidth = 170;
constexpr int kMinHeight = 120;

MouseButton ButtonOf(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton:
        return MouseButton::Left;
    case Qt::RightButton:
        return MouseButton::Right;
    default:
        return MouseButton::Middle;
    }
}

QWidget* MakeSpinButton(QWidget* parent, const char* name, const std::function<void(bool up)>& click)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QString::fromLatin1(name));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (bool up : {true, false}) {
        auto* b = new QToolButton(box);
        b->setObjectName(up ? QStringLiteral("up") : QStringLiteral("down"));
        b->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRaise(false);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        QObject::connect(b, &QToolButton::clicked, box, [click, up] { click(up); });
        row->addWidget(b);
    }
    return box;
}

QScrollBar* MakeScrollBar(QWidget* parent, const char* name, const std::function<void(ScrollCode)>& scroll)
{
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 2);
    bar->setValue(1);
    bar->setFocusPolicy(Qt::NoFocus);
    QObject::connect(bar, &QScrollBar::actionTriggered, bar, [bar, scroll](int action) {
        const ScrollCode code = action == QAbstractSlider::SliderSingleStepSub ? ScrollCode::LineLeft
                                : action == QAbstractSlider::SliderSingleStepAdd ? ScrollCode::LineRight
                                                                                 : ScrollCode::Other;
        scroll(code);
        bar->setSliderPosition(1);  // the bar's own position means nothing
    });
    return bar;
}

}  // namespace

TDiagramm::TDiagramm(std::string path, QWidget* parent)
    : TDiagramm(nullptr, path.empty() ? nullptr : std::make_unique<ProfileFile>(std::move(path)), parent)
{
}

TDiagramm::TDiagramm(ProfileFile& file, QWidget* parent) : TDiagramm(&file, nullptr, parent) {}

TDiagramm::TDiagramm(ProfileFile* file, std::unique_ptr<ProfileFile> own, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinMaxButtonsHint),
      ownProfile(std::move(own)),
      profile(file != nullptr ? file : ownProfile.get())
{
    setObjectName(QStringLiteral("TDiagramm"));
    setWindowTitle(QStringLiteral("Sonvera V 1.3 "));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    QFont windowFont(QStringLiteral("DejaVu Sans"));
    windowFont.setPointSize(8);
    setFont(windowFont);
    resize(580, 370);

    SpinButton1 = MakeSpinButton(this, "SpinButton1", [this](bool up) { SpinButtonClick(1, up); });
    SpinButton2 = MakeSpinButton(this, "SpinButton2", [this](bool up) { SpinButtonClick(2, up); });
    ScrollBarLF = MakeScrollBar(this, "ScrollBarLF", [this](ScrollCode c) { ScrollBarScroll(false, c); });
    ScrollBarHF = MakeScrollBar(this, "ScrollBarHF", [this](ScrollCode c) { ScrollBarScroll(true, c); });

    Edicomment = new QLineEdit(this);
    Edicomment->setObjectName(QStringLiteral("Edicomment"));
    Edicomment->setFrame(false);
    QFont commentFont(QStringLiteral("DejaVu Sans"));
    commentFont.setPixelSize(12);
    commentFont.setBold(true);
    Edicomment->setFont(commentFont);
    Edicomment->setFixedHeight(QFontMetrics(commentFont).height() + 2);
    connect(Edicomment, &QLineEdit::textChanged, this,
            [this](const QString& t) { model.SetComment(t.toStdString()); });

    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setFrame(false);
    QFont resultFont(QStringLiteral("DejaVu Sans"));
    resultFont.setPixelSize(12);
    Edit2->setFont(resultFont);
    // What the user types is the line in either language; what a run writes comes in both.
    connect(Edit2, &QLineEdit::textEdited, this,
            [this](const QString& t) { model.SetResultLine(t.toStdString()); });

    optionsDialog = std::make_unique<Tdiadlg>(this);
    overlayDialog = std::make_unique<TOverlayDlg>(model, this);
    overlayDialog->onChanged = [this](const std::string& problem) { OverlaysChanged(problem); };
    BuildCompareMenu();
    model.onMoveControls = [this] { PlaceControls(); };
    model.onRepaint = [this] { update(); };
    // Bounds and curves set by a run or a page change reach an open options dialog at
    // once (a hidden one is filled when it is opened).
    model.onOptionsChanged = [this] {
        if (optionsDialog->isVisible()) {
            optionsDialog->LoadOptionsDialog(model.Options);
        }
    };

    bitmap = QImage(width(), height(), QImage::Format_RGB32);
    model.SetScreen(width(), height(), DiagramRenderer::Metrics(DiagramModel::kScreenFontSize, &bitmap));
    LoadDiagramOptions();
    OpenOverlays();
    ApplyMarginColour();
    // Creation prepares last index 50 with the diagram's own, still unset ranges.
    float lo = model.LevelMin;
    float hi = model.LevelMax;
    PrepareDiagram("", 50, model.FreqMin, model.FreqMax, lo, hi);
}

TDiagramm::~TDiagramm()
{
    SaveDiagramOptions();
    model.FreeStorage();
}

void TDiagramm::LoadDiagramOptions()
{
    if (profile != nullptr) {
        ReadDiagramOptions(*profile, model.Options);
    }
}

void TDiagramm::SaveDiagramOptions() const
{
    if (profile != nullptr) {
        WriteDiagramOptions(*profile, model.StoredOptions());
    }
}

bool TDiagramm::PrepareDiagram(const std::string& comment, int lastIndex, int freqMin, int freqMax,
                               float& levelMin, float& levelMax)
{
    Edicomment->setText(QString::fromStdString(comment));
    return model.PrepareDiagram(comment, lastIndex, freqMin, freqMax, levelMin, levelMax);
}

void TDiagramm::SetResultLine(const std::string& text)
{
    SetResultLine(text, text);
}

void TDiagramm::SetResultLine(const std::string& german, const std::string& english)
{
    model.SetResultLine(german, english);
    Edit2->setText(QString::fromStdString(model.ResultLine()));
}

void TDiagramm::ShowResult(const DiagramResult& kept)
{
    model.ShowResult(kept);
    Edit2->setText(QString::fromStdString(model.ResultLine()));
    update();
}

std::string TDiagramm::GetComment() const
{
    return model.GetComment();
}

void TDiagramm::SetDiagramTexts(char language)
{
    model.SetDiagramTexts(language);
    Edit2->setText(QString::fromStdString(model.ResultLine()));
    if (language != 'D' && language != 'E') {
        return;
    }
    const bool de = language == 'D';
    const auto text = [](QAction* a, const char* german, const char* english, bool d) {
        a->setText(QString::fromUtf8(d ? german : english));
    };
    CompareButton->setText(de ? QStringLiteral("Vergleich") : QStringLiteral("Compare"));
    CompareButton->setToolTip(de ? QStringLiteral("Überlagerungen, Glättung, Marker, Zoom (Ziehen: Ausschnitt; "
                                                  "Rad: Frequenz, mit Umschalt: Pegel; Doppelklick: zurück)")
                                 : QStringLiteral("Overlays, smoothing, markers, zoom (drag: a rectangle; wheel: "
                                                  "frequency, with Shift: level; double click: back)"));
    text(KeepItem, "Kurven behalten", "Keep curves", de);
    text(LoadItem, "Tabelle laden ...", "Load table ...", de);
    text(OverlaysItem, "Überlagerungen ...", "Overlays ...", de);
    text(DifferenceItem, "Differenz zur Referenz", "Difference to reference", de);
    SmoothMenu->setTitle(de ? QStringLiteral("Glättung") : QStringLiteral("Smoothing"));
    for (std::size_t i = 0; i < smoothItems.size(); ++i) {
        const int n = kSmoothingFractions[i];
        smoothItems[i]->setText(n == 0 ? (de ? QStringLiteral("keine") : QStringLiteral("none"))
                                       : QStringLiteral("1/%1 ").arg(n) +
                                             (de ? QStringLiteral("Oktave") : QStringLiteral("octave")));
    }
    text(PeakItem, "Spitze markieren", "Mark peak", de);
    text(ClearMarkersItem, "Marker löschen", "Clear markers", de);
    text(ResetZoomItem, "Zoom zurück", "Reset zoom", de);
    overlayDialog->SetTexts(language);
    CompareButton->adjustSize();
    update();
}

void TDiagramm::RepaintCurves()
{
    if (!model.Activated()) {
        update();
        return;
    }
    const QRegion changed = renderer.UpdateScreen(model, bitmap);
    if (!changed.isEmpty()) {
        update(changed);
    }
}

void TDiagramm::ResetCursor(bool clearMeasurement)
{
    model.ResetCursor(clearMeasurement);
    if (clearMeasurement) {
        model.ClearMarkers();
    }
}

void TDiagramm::SetPage(int page)
{
    if (page != model.Page() && page >= 0 && page < OverlayStore::kPages) {
        model.SetPage(page);
        overlayDialog->Refresh();
        UpdateCompareMenu();
        update();
    }
}

void TDiagramm::OpenOverlays()
{
    // Beside the program's configuration file; a window without one keeps them in memory.
    if (profile == nullptr || profile->IsInMemory()) {
        return;
    }
    for (const OverlayResult& r : model.Overlays.Open(OverlayStore::FolderFor(profile->Path()))) {
        openProblems.push_back(r);
    }
}

void TDiagramm::OverlaysChanged(const std::string& problem)
{
    UpdateCompareMenu();
    update();
    if (!problem.empty()) {
        ShowWarningPrompt(problem);
    }
}

void TDiagramm::BuildCompareMenu()
{
    CompareButton = new QToolButton(this);
    CompareButton->setObjectName(QStringLiteral("CompareButton"));
    CompareButton->setPopupMode(QToolButton::InstantPopup);
    CompareButton->setFocusPolicy(Qt::NoFocus);
    CompareMenu = new QMenu(CompareButton);
    CompareMenu->setObjectName(QStringLiteral("CompareMenu"));
    CompareButton->setMenu(CompareMenu);
    // Queued: a command that opens a dialog does so once the menu has closed, so the
    // button's next click opens the menu again.
    const auto item = [this](QMenu* menu, const char* name, const std::function<void()>& run) {
        QAction* a = menu->addAction(QString());
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [run] { run(); }, Qt::QueuedConnection);
        return a;
    };
    KeepItem = item(CompareMenu, "KeepItem", [this] { KeepClick(); });
    LoadItem = item(CompareMenu, "LoadItem", [this] { LoadClick(); });
    OverlaysItem = item(CompareMenu, "OverlaysItem", [this] { OverlaysClick(); });
    CompareMenu->addSeparator();
    DifferenceItem = CompareMenu->addAction(QString());
    DifferenceItem->setObjectName(QStringLiteral("DifferenceItem"));
    DifferenceItem->setCheckable(true);
    connect(DifferenceItem, &QAction::triggered, this, [this](bool on) { DifferenceClick(on); },
            Qt::QueuedConnection);
    SmoothMenu = CompareMenu->addMenu(QString());
    SmoothMenu->setObjectName(QStringLiteral("SmoothMenu"));
    auto* smoothGroup = new QActionGroup(SmoothMenu);
    for (const int n : kSmoothingFractions) {
        QAction* a = item(SmoothMenu, "", [this, n] { SmoothingClick(n); });
        a->setObjectName(QStringLiteral("SmoothItem%1").arg(n));
        a->setCheckable(true);
        smoothGroup->addAction(a);
        smoothItems.push_back(a);
    }
    CompareMenu->addSeparator();
    PeakItem = item(CompareMenu, "PeakItem", [this] { PeakClick(); });
    ClearMarkersItem = item(CompareMenu, "ClearMarkersItem", [this] { ClearMarkersClick(); });
    ResetZoomItem = item(CompareMenu, "ResetZoomItem", [this] { ResetZoomClick(); });
    connect(CompareMenu, &QMenu::aboutToShow, this, [this] { UpdateCompareMenu(); });
}

void TDiagramm::UpdateCompareMenu()
{
    DifferenceItem->setChecked(model.DifferenceShown());
    for (std::size_t i = 0; i < smoothItems.size(); ++i) {
        smoothItems[i]->setChecked(kSmoothingFractions[i] == model.Smoothing());
    }
    ResetZoomItem->setEnabled(model.Zoomed());
    ClearMarkersItem->setEnabled(model.MarkerA.set || model.MarkerB.set);
}

std::string TDiagramm::KeepName() const
{
    const bool de = model.Language() != 'E';
    // The comment without the label the runs start it with.
    std::string name = model.GetComment();
    for (const char* label : {"Kommentar:", "Comment:"}) {
        if (name.rfind(label, 0) == 0) {
            name.erase(0, std::char_traits<char>::length(label));
        }
    }
    const std::size_t first = name.find_first_not_of(' ');
    name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(' ') - first + 1);
    if (name.empty()) {
        name = model.Page() == 1 ? (de ? "Wobbeln" : "Sweep") : (de ? "Spektrum" : "Spectrum");
    }
    return name + " " + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
}

void TDiagramm::KeepClick()
{
    OverlaysChanged(OverlayMessage(model.KeepCurves(KeepName()), model.Language()));
    overlayDialog->Refresh();
}

void TDiagramm::LoadClick(const std::string& path)
{
    const bool de = model.Language() != 'E';
    std::string file = path;
    if (file.empty()) {
        if (LoadDialog == nullptr) {
            LoadDialog = new QFileDialog(this);
            LoadDialog->setObjectName(QStringLiteral("LoadDialog"));
            LoadDialog->setOption(QFileDialog::DontUseNativeDialog);
            LoadDialog->setAcceptMode(QFileDialog::AcceptOpen);
            LoadDialog->setFileMode(QFileDialog::ExistingFile);
        }
        LoadDialog->setWindowTitle(de ? QStringLiteral("Tabelle als Überlagerung laden")
                                      : QStringLiteral("Load a table as overlay"));
        LoadDialog->setNameFilters({QStringLiteral("Text File (*.txt *.csv)"), QStringLiteral("* (*)")});
        if (LoadDialog->exec() != QDialog::Accepted || LoadDialog->selectedFiles().isEmpty()) {
            return;
        }
        file = LoadDialog->selectedFiles().first().toStdString();
    }
    const std::string name = QFileInfo(QString::fromStdString(file)).completeBaseName().toStdString();
    const OverlayResult r = model.Overlays.LoadTable(model.Page(), file, name, model.Axis2Shown, model.Axis2Unit);
    overlayDialog->Refresh();
    OverlaysChanged(OverlayMessage(r, model.Language()));
}

void TDiagramm::OverlaysClick()
{
    overlayDialog->Refresh();
    overlayDialog->show();
    overlayDialog->raise();
}

void TDiagramm::DifferenceClick(bool on)
{
    const bool de = model.Language() != 'E';
    const OverlayPage& page = model.Overlays.Page(model.Page());
    if (on && page.referenceId == 0) {
        if (page.overlays.empty()) {
            UpdateCompareMenu();
            ShowWarningPrompt(de ? "Keine Überlagerung als Referenz: erst Kurven behalten oder eine Tabelle laden"
                                 : "No overlay to be the reference: keep the curves or load a table first");
            return;
        }
        model.Overlays.SetReference(model.Page(), page.overlays.front().id);  // the first shown
    }
    const OverlayResult r = model.SetDifference(on);
    optionsDialog->LoadOptionsDialog(model.Options);
    overlayDialog->Refresh();
    OverlaysChanged(OverlayMessage(r, model.Language()));
}

void TDiagramm::SmoothingClick(int n)
{
    model.SetSmoothing(n);
    UpdateCompareMenu();
    update();
}

void TDiagramm::PeakClick()
{
    if (!model.PeakMarker(model.ChosenCurve())) {
        ShowWarningPrompt(model.Language() != 'E' ? "Keine Kurve mit Werten im gezeigten Bereich"
                                                  : "No curve with values in the range shown");
    }
    update();
}

void TDiagramm::ClearMarkersClick()
{
    model.ClearMarkers();
    update();
}

void TDiagramm::ResetZoomClick()
{
    if (model.ResetZoom()) {
        optionsDialog->LoadOptionsDialog(model.Options);
    }
    update();
}

bool TDiagramm::RenderForPrint(QImage& image, int width, int height, int fontSize, int curveWidth)
{
    bool ok = DiagramRenderer::LayoutImage(model, image, width, height, fontSize, false);
    if (ok) {
        renderer.RenderDiagram(model, image, true, GetComment(), Edit2->x(), curveWidth);
    }
    // The layout values are shared: lay the screen out again with the diagram's own ranges.
    float lo = model.LevelMin;
    float hi = model.LevelMax;
    PrepareDiagram(GetComment(), model.GetLastIndex(), static_cast<int>(model.OuterX(model.FreqMin)),
                   static_cast<int>(model.OuterX(model.FreqMax)), lo, hi);
    update();
    return ok;
}

void TDiagramm::PlaceControls()
{
    const DiagramControlPlacement c = model.PlaceControls(Edicomment->height());
    const auto place = [](QWidget* w, const ControlBox& b) {
        w->setGeometry(b.x, b.y, std::max(b.w, 1), std::max(b.h, 1));
    };
    place(SpinButton1, c.SpinButton1);
    place(SpinButton2, c.SpinButton2);
    place(ScrollBarLF, c.ScrollBarLF);
    place(ScrollBarHF, c.ScrollBarHF);
    // On the level axis the frequency bounds do not apply: the bars and the dialog's
    // bounds are disabled, and say why.
    const std::string why = model.FreqBoundsRefusal();
    for (QScrollBar* bar : {ScrollBarLF, ScrollBarHF}) {
        bar->setEnabled(why.empty());
        bar->setToolTip(QString::fromStdString(why));
    }
    if (optionsDialog) {
        optionsDialog->SetFreqBoundsRefusal(why);
    }
    Edicomment->move(c.Edicomment.x, c.Edicomment.y);
    place(Edit2, c.Edit2);
}

void TDiagramm::ApplyMarginColour()
{
    // The two lines fill their own background in the margin colour, as the diagram has it
    // there: their repaints (a new result, the blinking text cursor) leave the diagram be.
    const QColor margin(ToQRgb(model.Options.ColMargin));
    for (QLineEdit* e : {Edicomment, Edit2}) {
        QPalette pal = e->palette();
        pal.setColor(QPalette::Base, margin);
        pal.setColor(QPalette::Window, margin);
        e->setPalette(pal);
        e->setAutoFillBackground(true);
    }
}

void TDiagramm::ResizeHandling()
{
    if (!model.Activated()) {
        return;
    }
    if (width() < kMinWidth || height() < kMinHeight) {
        resize(std::max(width(), kMinWidth), std::max(height(), kMinHeight));
    }
    model.SetScreen(width(), height(), DiagramRenderer::Metrics(DiagramModel::kScreenFontSize, &bitmap));
    if (DiagramRenderer::LayoutImage(model, bitmap, width(), height(), DiagramModel::kScreenFontSize, true)) {
        update();
    }
}

bool TDiagramm::event(QEvent* e)
{
    if (AppMessageOf(e) == WM_DIAGRAM_OPTIONS) {
        DiagramOptionsMessage();
        return true;
    }
    if (e->type() == QEvent::WindowActivate) {
        model.Activate();  // the first activation enables every later layout
        ResizeHandling();
        // What the overlays' folder could not give, once the window is there to say it.
        std::vector<OverlayResult> problems;
        problems.swap(openProblems);
        for (const OverlayResult& r : problems) {
            ShowWarningPrompt(OverlayMessage(r, model.Language()));
        }
    }
    return QWidget::event(e);
}

void TDiagramm::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    if (!model.Activated() || bitmap.isNull()) {
        p.fillRect(rect(), QColor(ToQRgb(model.Options.ColMargin)));
        return;
    }
    QRegion changed;
    const int commentWidth = renderer.PaintScreen(model, bitmap, p, e->region(), changed);
    const QRegion rest = changed - e->region();
    if (!rest.isEmpty()) {
        update(rest);  // the picture changed beyond this paint: the rest follows
    }
    // The button "Vergleich" ends the comment line, left of the title.
    const int buttonWidth = CompareButton->sizeHint().width();
    const int lineWidth = std::max(commentWidth - buttonWidth - 4, 1);
    if (Edicomment->width() != lineWidth) {
        Edicomment->resize(lineWidth, Edicomment->height());
    }
    const QRect button(Edicomment->x() + lineWidth + 4, Edicomment->y(), buttonWidth, Edicomment->height());
    if (CompareButton->geometry() != button) {
        CompareButton->setGeometry(button);
    }
}

void TDiagramm::resizeEvent(QResizeEvent*)
{
    ResizeHandling();
}

void TDiagramm::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    const MouseButton b = ButtonOf(e->button());
    const bool repaint = model.MouseDown(b, pos.x(), pos.y());
    if (b == MouseButton::Left && repaint && onRaiseMainWindow) {
        onRaiseMainWindow();
    }
    if (repaint) {
        update();
    }
}

void TDiagramm::mouseReleaseEvent(QMouseEvent* e)
{
    const MouseButton b = ButtonOf(e->button());
    if (model.MouseUp(b)) {
        optionsDialog->LoadOptionsDialog(model.Options);  // zoomed into a rectangle
    }
    if (b == MouseButton::Right) {
        optionsDialog->LoadOptionsDialog(model.Options);
        optionsDialog->show();
        optionsDialog->raise();
    }
    update();
}

void TDiagramm::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (model.MouseMove(pos.x(), pos.y(), (e->buttons() & Qt::LeftButton) != 0)) {
        update();
    }
}

void TDiagramm::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        model.DoubleClick();
        optionsDialog->LoadOptionsDialog(model.Options);
        update();
    }
}

void TDiagramm::wheelEvent(QWheelEvent* e)
{
    // One notch is 120 eighths of a degree; finer wheels add up to whole notches.
    wheelRest += e->angleDelta().y();
    const int steps = wheelRest / 120;
    wheelRest -= steps * 120;
    const QPoint pos = e->position().toPoint();
    if (steps != 0 && model.WheelZoom(pos.x(), pos.y(), steps, (e->modifiers() & Qt::ShiftModifier) != 0)) {
        optionsDialog->LoadOptionsDialog(model.Options);
        update();
    }
    e->accept();
}

void TDiagramm::closeEvent(QCloseEvent* e)
{
    e->accept();
}

void TDiagramm::SpinButtonClick(int spin, bool up)
{
    const bool ok = model.SpinClick(spin, up);
    optionsDialog->LoadOptionsDialog(model.Options);
    if (ok) {
        update();
    }
}

void TDiagramm::ScrollBarScroll(bool high, ScrollCode code)
{
    const bool ok = model.ScrollClick(high, code);
    optionsDialog->LoadOptionsDialog(model.Options);
    if (ok) {
        update();
    }
}

void TDiagramm::DiagramOptionsMessage()
{
    const DiagramOptions opts = optionsDialog->FetchOptions();
    if (onCurveColours) {
        onCurveColours(opts.ColLine1, opts.ColLine2);
    }
    model.ApplyOptions(opts);
    ApplyMarginColour();
    update();  // also after a failed layout
}

}  // namespace sonvera
