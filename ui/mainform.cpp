#include "ui/mainform.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "diagram/diadlg.h"
#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "measure/appmessages.h"
#include "measure/prompt.h"
#include "measure/soundstart.h"
#include "scope/caliblevel.h"
#include "scope/eichdlg.h"
#include "scope/oszidia.h"
#include "ui/analy.h"
#include "ui/featdlg.h"
#include "ui/iodialog.h"
#include "ui/koredit.h"
#include "ui/printing.h"
#include "ui/flagpicture.h"
#include "ui/helpwindow.h"
#include "ui/shellwindows.h"
#include "ui/wavegen.h"
#include "ui/logsweep.h"
#include "ui/windowplacement.h"
#include "ui/wobbeldlg.h"

namespace sonvera {

namespace {

constexpr int kMainHelpContext = 2;
const QSize kDesignedClient(600, 314);
// The diagram window's client size: the limits of a saved size, and the size a first
// start gives it where the screen has room.
const QSize kDiagramMinimum(180, 140);
const QSize kDiagramMaximum(1024, 768);
const QSize kDiagramWanted(800, 500);
// The frame a window manager adds, assumed until a shown window tells its own.
const QMargins kAssumedDecoration(4, 32, 4, 4);
constexpr int kSoundFailureHelpContext = 17;
// Help contexts of the notebook while page 0, 1, 2 is current.
constexpr int kPageHelpContexts[3] = {6, 9, 10};

const MainMessages kGermanMessages{"Problem beim Öffnen des Sounddevice ! Programm stopped (",
                                   "Korrektur Kurve von ",
                                   "Ausgabefreq. > Samplefrequenz/2 ! Wobbeln stoppt ",
                                   " konnte nicht erzeugt werden", "Korrektur aktiv",
                                   "Eingangspegel nach Abbruch zurückgesetzt: "};
const MainMessages kEnglishMessages{"Problems at opening the sounddevice ! Program stop", "Correction curve of ",
                                    "Outfreq. > Samplefreq./2 ! Stop Wobbling ", " could not created",
                                    "Correction active", "Input levels restored after a crash: "};

/// One caption of the main window in both languages. An empty English text keeps the
/// German one.
struct CaptionRow {
    const char* control;
    const char* german;
    const char* english;
};

const CaptionRow kCaptions[] = {
    {"FFTpointsgroup", "FFT-Punkte", "FFT Size"},
    {"RunningGroup", "Betrieb", "Mode"},
    {"RunningGroup0", "einzeln", "single"},
    {"RunningGroup1", "fortlaufend", "continious"},
    {"RunningGroup2", "Trigger", "trigger"},
    {"Filemenu", "&Datei", "&File"},
    {"FilePrintItem", "&Drucken", "&Print"},
    {"FilePrintSetupItem", "Drucker&einrichtung", "Printer &Setup"},
    {"FileExitItem", "&Beenden", "&Exit"},
    {"SpeichernalsText1", "&Speichern als Text", "&Save as text file"},
    {"EditMenu", "&Bearbeiten", "&Edit"},
    {"Kommentar1", "Kommentar", "&Remark"},
    {"EditCopyItem", "&Kopieren", "&Copy"},
    {"Analyse1", "&Analyse", "&Analyze"},
    {"Korrektur1", "&Korrektur", "&Correction"},
    {"LadeEingangskorrekturdatei1", "Lade &Eingangskorrekturdatei", "Open &Input Correction File"},
    {"Eingangskorrekturaktiv1", "Eingangskorrektur aktiv", "Input Correction active"},
    {"EditEingangskorrekturdatei1", "Bearbeite Eingangskorrekturdatei", "Edit Input Correction File"},
    {"LadeAusgangskorrekturdatei1", "Lade &Ausgangskorrekturdatei", "Open &Output Correction File"},
    {"Ausgangskorrekturaktiv1", "Ausgangskorrektur aktiv", "Output Correction active"},
    {"EditAusgangskorrekturdatei1", "Bearbeite Ausgangskorrekturdatei", "Edit Output Correction File"},
    {"Testekorrekturdatei1", "Teste Korrekturdateien", "Test Correction Files"},
    {"MEinstellung", "&Einstellungen", "&Options"},
    {"Eichen1", "&Kalibrierung", "&Calibration"},
    {"ShowFeaturelist1", "&Featureliste", "&Features"},
    {"HelpContentsItem", "&Inhalt", "&Contens"},
    {"MeasureLeft", "links", "left"},
    {"MeasureRight", "rechts", "right"},
    {"Label6", "Mittelwert über", "Averaging over"},
    {"Button1", "zurück", "back"},
};

const char* const kPageCaptions[2][3] = {
    {"Spektrumanalyser", "Frequenzgenerator", "Oszilloskop"},
    {"Spectrumanalyzer", "Frequency Generator", "Oszilloscope"},
};

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

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

/// The menu of the language flags shows its item's picture at the picture's own size
/// (a menu's icons are otherwise squeezed to 16 pixels).
class FlagMenuStyle : public QProxyStyle {
public:
    explicit FlagMenuStyle(int iconWidth) : iconWidth_(iconWidth) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_SmallIconSize) {
            return iconWidth_;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    int iconWidth_;
};

void SetCaption(QObject* object, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(object)) {
        action->setText(text);
    } else if (auto* menu = qobject_cast<QMenu*>(object)) {
        menu->setTitle(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
        group->setTitle(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(object)) {
        label->setText(text);
    }
}

}  // namespace

int StepFrequency(int f1, int f2, int n, int k)
{
    if (f1 == 0 || n == 0) {
        return 333;
    }
    const double f = std::exp(std::log(static_cast<double>(f1)) +
                              k * std::log(static_cast<double>(f2) / static_cast<double>(f1)) / n);
    return static_cast<int>(std::lround(f));
}

const MainMessages* MainMessagesFor(char language)
{
    if (language == 'D') {
        return &kGermanMessages;
    }
    if (language == 'E') {
        return &kEnglishMessages;
    }
    return nullptr;
}

/// The spectrum run's and the sweep's view of the diagram window (nothing happens before
/// it exists).
class TMainForm::DiagramLink : public SpectrumDiagram, public SweepDiagram {
public:
    TDiagramm* window = nullptr;

    bool PrepareDiagram(const std::string& comment, int lastIndex, int freqMin, int freqMax, float& levelMin,
                        float& levelMax) override
    {
        return window == nullptr || window->PrepareDiagram(comment, lastIndex, freqMin, freqMax, levelMin, levelMax);
    }
    void ClearDiagramData() override
    {
        if (window) window->Model().ClearDiagramData();
    }
    void ResetDiagramScales() override
    {
        if (window) window->Model().ResetDiagramScales();
    }
    void SetCurvesShown(bool a, bool b) override
    {
        if (window) window->Model().SetCurvesShown(a, b);
    }
    void SetAxesShown(bool a, bool b) override
    {
        if (window) window->Model().SetAxesShown(a, b);
    }
    void SetLevelRange(float max, float min) override
    {
        if (window) window->Model().SetLevelRange(max, min);
    }
    void SetSecondRange(float max, float min) override
    {
        if (window) window->Model().SetSecondRange(max, min);
    }
    void GetFreqRange(int& min, int& max) const override
    {
        if (window) window->Model().GetFreqRange(min, max);
    }
    void GetLevelRange(float& min, float& max) const override
    {
        if (window) window->Model().GetLevelRange(min, max);
    }
    bool StoreDiagramPoint(const float* values, int mode, int index, float freqHz) override
    {
        return window == nullptr || window->Model().StoreDiagramPoint(values, mode, index, freqHz);
    }
    void SetResultLine(const std::string& text) override
    {
        if (window) window->SetResultLine(text);
    }
    std::string GetComment() const override { return window ? window->GetComment() : std::string(); }
    void Repaint() override
    {
        if (window) window->RepaintCurves();
    }
    void Show(bool visible) override
    {
        if (window == nullptr) {
            return;
        }
        window->setVisible(visible);
        if (visible) {
            // A window shown is activated, and the diagram lays itself out only from its
            // first activation on.
            window->activateWindow();
        }
    }
    void SetSecondAxis(const std::string& unit, bool wrapOnExport) override
    {
        if (window) {
            window->Model().Axis2Unit = unit;
            window->Model().WrapCurve2OnExport = wrapOnExport;
        }
    }
};

/// The oscilloscope run's view of the oscilloscope window (nothing happens before it exists).
class TMainForm::ScopeLink : public ScopeDisplay {
public:
    TOszidia* window = nullptr;

    bool PrepareScope(const std::string& caption, int points, bool xLog, float xMin, float xMax, float yMin,
                      float yMax) override
    {
        return window == nullptr || window->PrepareScope(caption, points, xLog, xMin, xMax, yMin, yMax);
    }
    bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x, float ch2,
                         float ch1) override
    {
        return window == nullptr || window->StoreScopePoint(i, trigCh1, voltsDiv2, voltsDiv1, x, ch2, ch1);
    }
    void RepaintScope() override
    {
        if (window) window->RepaintScope();
    }
};

/// The generator page as the sweep sees it.
class TMainForm::SweepPage : public SweepPageView {
public:
    explicit SweepPage(TMainForm& form) : f(form) {}

    void SetOverloadLabel(const std::string& text) override { f.WobOverload->setText(QString::fromStdString(text)); }
    void SetFreqText(const std::string& text) override { f.FreqText->setText(QString::fromStdString(text)); }
    void SetStartCaption(const std::string& text) override { f.wobbelnBut->setText(QString::fromStdString(text)); }
    void SetSweepLockedControlsEnabled(bool enabled) override
    {
        f.Button2->setEnabled(enabled);
        f.WobDialogBut->setEnabled(enabled);
        f.wobbelnBut->setEnabled(enabled);  // a running sweep shows START greyed
        f.LockMenus(!enabled);
    }
    void SetAnalyseMenuEnabled(bool enabled) override { f.SetAnalyseMenuEnabled(enabled); }
    void SetInputLevel(int percent) override { f.SetInputLevel(percent); }
    void ShowInputLevel(int percent) override { f.ShowInputLevel(percent); }
    void SetOutputSlider(int position) override
    {
        const QSignalBlocker block(f.GenOutSlider);
        f.GenOutSlider->setValue(position);
    }
    void SetOutputLabel(const std::string& text) override { f.Label8->setText(QString::fromStdString(text)); }
    void ShowGeneratorOnPage(bool pageShown) override
    {
        TWavegen* gen = f.windows_.wavegen;
        if (gen == nullptr) {
            return;
        }
        gen->SetStayOnTop(pageShown);
        if (pageShown) {
            // Back over its group, where it stood from there when the page was left.
            if (f.generatorOffset_) {
                gen->move(f.DockPoint() + *f.generatorOffset_);
                f.generatorOffset_.reset();
            }
            gen->show();
        } else if (!f.generatorOffset_) {
            f.generatorOffset_ = gen->pos() - f.DockPoint();
        }
    }
    void PlaceGenerator(bool force) override { f.DockGenerator(force); }
    bool RunSweepDialog(SweepSettings& record) override
    {
        Twobbeldlg* dialog = f.windows_.wobbelDlg;
        if (dialog == nullptr) {
            return false;
        }
        int rateIn = 0, rateOut = 0, bitsIn = 0, bitsOut = 0;
        f.engine_.GetSampleRates(rateIn, rateOut);
        f.engine_.GetFormatBits(bitsIn, bitsOut);
        dialog->ShowSweepDialog(record, f.state_.InCorrection, f.state_.OutCorrection, rateOut, bitsIn);
        if (f.ShowModal(dialog) != QDialog::Accepted) {
            return false;
        }
        dialog->ReadSweepDialog(record);
        return true;
    }
    void ShowOutputFormatDialog() override { f.ShowWaveFormatDialog(false); }
    bool SettleWait(int ms) override
    {
        // Window messages go on meanwhile: STOP, the sliders and repaints all work.
        if (!f.closed_ && ms > 0) {
            QEventLoop wait;
            QTimer::singleShot(ms, Qt::PreciseTimer, &wait, &QEventLoop::quit);
            wait.exec();
        } else if (!f.closed_) {
            QCoreApplication::processEvents();
        }
        return !f.closed_;
    }
    void PostSweepStep() override { PostAppMessage(&f, WM_SWEEP_STEP); }
    void ReportRun(const RunReport& report) override { f.ReportRun(report); }

private:
    TMainForm& f;
};

TMainForm::TMainForm(SoundEngine& engine, ProfileFile& profile, ShellState& state)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                               Qt::MSWindowsFixedSizeDialogHint),
      engine_(engine),
      profile_(profile),
      state_(state),
      loader_(std::make_unique<CurveFileLoader>(static_cast<CurveMessageSink&>(*this))),
      diagramLink_(std::make_unique<DiagramLink>()),
      scopeLink_(std::make_unique<ScopeLink>()),
      messages_(&kGermanMessages)
{
    setObjectName(QStringLiteral("TMainForm"));
    // Correction files named without a folder live beside the configuration file.
    loader_->SetFolder(ConfigFolder(profile_.Path()));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(8);
    font.setBold(true);
    setFont(font);
    run_ = std::make_unique<SpectrumRun>(engine_, state_.settings, *diagramLink_,
                                         static_cast<SpectrumPageView&>(*this), state_.filter,
                                         state_.InCorrection);
    scope_ = std::make_unique<ScopeRun>(engine_, state_.settings, *scopeLink_,
                                        static_cast<ScopePageControls&>(*this));
    sweepPage_ = std::make_unique<SweepPage>(*this);
    sweep_ = std::make_unique<SweepRun>(engine_, state_.settings, static_cast<SweepDiagram&>(*diagramLink_),
                                        *sweepPage_, state_.InCorrection, state_.OutCorrection);
    logSweep_ = new TLogSweep(engine_, profile_, state_.settings.LogSweep,
                              static_cast<SweepDiagram&>(*diagramLink_), this);
    BuildPages();
    BuildMenus();
    qApp->installEventFilter(this);  // F1 in every window (removed with the window)
    // The designed client size; the window opens with it and may only grow.
    centralWidget()->setMinimumSize(kDesignedClient);
    adjustSize();
    centralWidget()->setMinimumSize(0, 0);
}

TMainForm::~TMainForm() = default;

QAction* TMainForm::Item(const char* name) const
{
    return findChild<QAction*>(QString::fromLatin1(name));
}

// ---- Construction of the controls --------------------------------------------------------

namespace {

template <class W>
W* Place(QWidget* parent, std::vector<QWidget*>& list, const char* name, int x, int y, int w, int h)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    list.push_back(widget);
    return widget;
}

}  // namespace

void TMainForm::BuildPages()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);
    client->installEventFilter(this);
    auto& L = layoutControls_;

    TabbedNotebook1 = Place<QTabWidget>(client, L, "TabbedNotebook1", 0, 0, 600, 270);
    auto* page0 = new QWidget;
    page0->setObjectName(QStringLiteral("Page0"));
    auto* page1 = new QWidget;
    page1->setObjectName(QStringLiteral("Page1"));
    auto* page2 = new QWidget;
    page2->setObjectName(QStringLiteral("Page2"));
    TabbedNotebook1->addTab(page0, Q(kPageCaptions[0][0]));
    TabbedNotebook1->addTab(page1, Q(kPageCaptions[0][1]));
    TabbedNotebook1->addTab(page2, Q(kPageCaptions[0][2]));

    // Under the page: what runs or why a command did nothing; below it the devices.
    StatusMessageLine = Place<QLabel>(client, L, "StatusMessage", 0, 272, 600, 20);
    StatusMessageLine->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusLine = Place<QLabel>(client, L, "StatusLine", 0, 294, 600, 20);
    StatusLine->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusLine->setText(QStringLiteral("Sonvera"));

    // Page 0: spectrum analyser.
    FFTwinGroup = Place<QGroupBox>(page0, L, "FFTwinGroup", 6, 4, 124, 232);
    FFTwinGroup->setTitle(QStringLiteral(" FFT-Window "));
    fftWinButtons_ = new QButtonGroup(this);
    const char* const windows[] = {"None",       "Hamming",    "van Hann",   "Blackman",  "Bla/Harris",
                                   "Flat-Top",   "Rife-Vinc1", "Rife-Vinc2", "Rife-Vinc3"};
    for (int i = 0; i < 9; ++i) {
        const std::string name = "FFTwinGroup" + std::to_string(i);
        auto* b = Place<QRadioButton>(FFTwinGroup, L, name.c_str(), 8, 20 + i * 23, 110, 20);
        b->setText(Q(windows[i]));
        fftWinButtons_->addButton(b, i);
    }
    FFTpointsgroup = Place<QGroupBox>(page0, L, "FFTpointsgroup", 136, 4, 104, 118);
    FFTpointsgroup->setTitle(QStringLiteral("FFT-Punkte"));
    fftPointsButtons_ = new QButtonGroup(this);
    const char* const sizes[] = {"512", "1024", "2048", "4096"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "FFTpointsgroup" + std::to_string(i);
        auto* b = Place<QRadioButton>(FFTpointsgroup, L, name.c_str(), 8, 20 + i * 23, 88, 20);
        b->setText(Q(sizes[i]));
        fftPointsButtons_->addButton(b, i);
    }
    RunningGroup = Place<QGroupBox>(page0, L, "RunningGroup", 136, 126, 104, 110);
    RunningGroup->setTitle(QStringLiteral("Betrieb"));
    runningButtons_ = new QButtonGroup(this);
    const char* const modes[] = {"einzeln", "fortlaufend", "Trigger"};
    for (int i = 0; i < 3; ++i) {
        const std::string name = "RunningGroup" + std::to_string(i);
        auto* b = Place<QRadioButton>(RunningGroup, L, name.c_str(), 8, 20 + i * 27, 90, 22);
        b->setText(Q(modes[i]));
        runningButtons_->addButton(b, i);
    }

    MeasureGroup = Place<QGroupBox>(page0, L, "MeasureGroup", 246, 4, 200, 150);
    MeasureGroup->setTitle(QStringLiteral(" Measurement "));
    Overload = Place<QLabel>(MeasureGroup, L, "Overload", 10, 20, 120, 18);
    Overload->setText(QStringLiteral("."));
    Overload->setToolTip(Q("evtl. Übersteuerung"));
    Overload->setStyleSheet(QStringLiteral("color: red"));
    ScrollBar3 = Place<QScrollBar>(MeasureGroup, L, "ScrollBar3", 10, 44, 130, 18);
    ScrollBar3->setOrientation(Qt::Horizontal);
    ScrollBar3->setRange(0, 100);
    ScrollBar3->setToolTip(QStringLiteral("Eingangspegel"));
    InLevelLabel = Place<QLabel>(MeasureGroup, L, "InLevelLabel", 146, 44, 48, 18);
    MeasureLeft = Place<QCheckBox>(MeasureGroup, L, "MeasureLeft", 10, 70, 86, 20);
    MeasureLeft->setText(QStringLiteral("links"));
    MeasureRight = Place<QCheckBox>(MeasureGroup, L, "MeasureRight", 100, 70, 90, 20);
    MeasureRight->setText(QStringLiteral("rechts"));
    Label6 = Place<QLabel>(MeasureGroup, L, "Label6", 10, 100, 110, 18);
    Label6->setText(Q("Mittelwert über"));
    AverValBox = Place<QSpinBox>(MeasureGroup, L, "AverVal", 122, 98, 68, 22);
    AverValBox->setRange(1, 9999);

    InputGroup = Place<QGroupBox>(page0, L, "InputGroup", 246, 158, 200, 78);
    InputGroup->setTitle(QStringLiteral(" Input samples "));
    Binpopt = Place<QPushButton>(InputGroup, L, "Binpopt", 10, 22, 92, 28);
    Binpopt->setText(QStringLiteral("In-Parameter"));
    Lsf = Place<QLabel>(InputGroup, L, "Lsf", 110, 20, 84, 18);
    Ldb = Place<QLabel>(InputGroup, L, "Ldb", 110, 42, 84, 18);

    StartButton = Place<QPushButton>(page0, L, "StartButton", 456, 12, 128, 44);
    StartButton->setText(QStringLiteral("START"));
    StopButton = Place<QPushButton>(page0, L, "StopButton", 456, 64, 128, 44);
    StopButton->setText(QStringLiteral("STOP"));
    coract = Place<QLabel>(page0, L, "coract", 456, 118, 128, 18);
    coract->setText(QStringLiteral("."));
    Image1 = Place<QLabel>(page0, L, "Image1", 456, 200, 58, 18);
    Image1->setPixmap(DrawLanguageFlags());
    Image1->hide();

    BuildGeneratorPage(page1);
    BuildScopePage(page2);

    connect(StartButton, &QPushButton::clicked, this, [this] { run_->StartButtonClick(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { run_->StopButtonClick(); });
    connect(fftWinButtons_, &QButtonGroup::idClicked, this, [this](int i) { run_->FFTwinGroupClick(i); });
    connect(fftPointsButtons_, &QButtonGroup::idClicked, this, [this](int i) { run_->FFTpointsgroupClick(i); });
    connect(runningButtons_, &QButtonGroup::idClicked, this, [this](int i) { run_->RunningGroupClick(i); });
    connect(MeasureLeft, &QCheckBox::clicked, this, [this](bool c) { run_->MeasureLeftClick(c); });
    connect(MeasureRight, &QCheckBox::clicked, this, [this](bool c) { run_->MeasureRightClick(c); });
    // Dragging, the arrows and page clicks all end in a new value.
    connect(ScrollBar3, &QScrollBar::valueChanged, this, [this](int p) {
        if (p != state_.settings.Volume.GenInVolume) {
            state_.settings.Volume.GenInVolume = p;
            SetInputLevel(p);
        }
    });
    connect(Binpopt, &QPushButton::clicked, this, &TMainForm::BinpoptClick);
    connect(TabbedNotebook1, &QTabWidget::currentChanged, this, &TMainForm::TabbedNotebook1Change);

    // Controls a run may lock; a click on one that is locked says why (see eventFilter).
    lockables_ = {StartButton, FFTpointsgroup, AverValBox, Binpopt, wobbelnBut, WobDialogBut, Button2};
}

namespace {

/// A pair of small arrow buttons standing for one up/down control; the pair carries the
/// control's name and hint, the buttons its name with "Up" and "Down".
QWidget* PlaceSpinButtons(QWidget* parent, std::vector<QWidget*>& list, const char* name, const char* hint, int x,
                          int y, QToolButton*& up, QToolButton*& down)
{
    auto* pair = Place<QWidget>(parent, list, name, x, y, 20, 28);
    pair->setToolTip(QString::fromUtf8(hint));
    up = new QToolButton(pair);
    up->setObjectName(QString::fromLatin1(name) + QStringLiteral("Up"));
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(0, 0, 20, 14);
    up->setToolTip(pair->toolTip());
    down = new QToolButton(pair);
    down->setObjectName(QString::fromLatin1(name) + QStringLiteral("Down"));
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(0, 14, 20, 14);
    down->setToolTip(pair->toolTip());
    return pair;
}

QLabel* PlacePanel(QWidget* parent, std::vector<QWidget*>& list, const char* name, int x, int y)
{
    auto* panel = Place<QLabel>(parent, list, name, x, y, 76, 28);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

QScrollBar* PlaceVerticalSlider(QWidget* parent, std::vector<QWidget*>& list, const char* name, const char* hint,
                                int x, int range)
{
    auto* bar = Place<QScrollBar>(parent, list, name, x, 20, 18, 200);
    bar->setOrientation(Qt::Vertical);
    bar->setRange(-range, range);
    bar->setValue(0);
    bar->setToolTip(QString::fromUtf8(hint));
    return bar;
}

}  // namespace

void TMainForm::BuildGeneratorPage(QWidget* page)
{
    auto& L = layoutControls_;
    // The generator window docks over this group.
    Generator = Place<QGroupBox>(page, L, "Generator", 6, 4, 270, 232);
    Generator->setTitle(QStringLiteral(" Generator "));

    WobbelGroup = Place<QGroupBox>(page, L, "WobbelGroup", 284, 4, 180, 150);
    WobbelGroup->setTitle(QStringLiteral("Wobbeln"));
    wobbelnBut = Place<QPushButton>(WobbelGroup, L, "wobbelnBut", 10, 20, 76, 32);
    wobbelnBut->setText(QStringLiteral("START"));
    STOPbut = Place<QPushButton>(WobbelGroup, L, "STOPbut", 94, 20, 76, 32);
    STOPbut->setText(QStringLiteral("STOP"));
    auto* panel = Place<QLabel>(WobbelGroup, L, "Panel2", 10, 60, 160, 28);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FreqText = Place<QLabel>(WobbelGroup, L, "FreqText", 14, 64, 112, 20);
    FreqText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FreqText->setText(QStringLiteral("0"));
    auto* hz = Place<QLabel>(WobbelGroup, L, "FreqUnit", 132, 64, 32, 20);
    hz->setText(QStringLiteral("Hz"));
    WobDialogBut = Place<QPushButton>(WobbelGroup, L, "WobDialogBut", 10, 98, 76, 28);
    WobDialogBut->setText(QStringLiteral("Setup"));
    WobOverload = Place<QLabel>(WobbelGroup, L, "WobOverload", 94, 104, 80, 18);
    WobOverload->setStyleSheet(QStringLiteral("color: red"));
    WobOverload->setToolTip(Q("evtl. Übersteuerung"));

    Button2 = Place<QPushButton>(page, L, "Button2", 284, 164, 86, 28);
    Button2->setText(QStringLiteral("Out-Para"));
    Button1 = Place<QPushButton>(page, L, "Button1", 378, 164, 86, 28);
    Button1->setText(Q("zurück"));
    // The log sweep has a window of its own; this opens it.
    LogSweepBut = Place<QPushButton>(page, L, "LogSweepBut", 284, 200, 180, 28);
    LogSweepBut->setText(QStringLiteral("Log-Sweep ..."));

    LevelGroup = Place<QGroupBox>(page, L, "LevelGroup", 470, 4, 118, 232);
    LevelGroup->setTitle(QStringLiteral("Level"));
    Wobinptxt = Place<QLabel>(LevelGroup, L, "Wobinptxt", 6, 18, 106, 16);
    Wobinptxt->setAlignment(Qt::AlignCenter);
    GenInLabel = Place<QLabel>(LevelGroup, L, "Label7", 4, 36, 54, 16);
    GenInLabel->setAlignment(Qt::AlignCenter);
    Label8 = Place<QLabel>(LevelGroup, L, "Label8", 60, 36, 54, 16);
    Label8->setAlignment(Qt::AlignCenter);
    auto slider = [&](const char* name, const char* hint, int x) {
        auto* bar = Place<QScrollBar>(LevelGroup, L, name, x, 56, 18, 150);
        bar->setOrientation(Qt::Vertical);
        bar->setRange(0, 100);
        bar->setToolTip(QString::fromUtf8(hint));
        return bar;
    };
    GenInSlider = slider("ScrollBar1", "Eingangspegel", 22);
    GenOutSlider = slider("ScrollBar2", "Ausgangspegel", 78);
    auto* inCaption = Place<QLabel>(LevelGroup, L, "InCaption", 4, 208, 54, 16);
    inCaption->setText(QStringLiteral("In"));
    inCaption->setAlignment(Qt::AlignCenter);
    auto* outCaption = Place<QLabel>(LevelGroup, L, "OutCaption", 60, 208, 54, 16);
    outCaption->setText(QStringLiteral("Out"));
    outCaption->setAlignment(Qt::AlignCenter);

    connect(wobbelnBut, &QPushButton::clicked, this, [this] { sweep_->wobbelnButClick(); });
    connect(STOPbut, &QPushButton::clicked, this, [this] { sweep_->STOPbutClick(); });
    connect(WobDialogBut, &QPushButton::clicked, this, [this] { sweep_->WobDialogButClick(); });
    connect(Button2, &QPushButton::clicked, this, [this] { sweep_->Button2Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { sweep_->Button1Click(); });
    connect(LogSweepBut, &QPushButton::clicked, this, [this] {
        logSweep_->show();
        logSweep_->raise();
        logSweep_->activateWindow();
    });
    // Dragging, the arrows and page clicks all end in a new value.
    connect(GenInSlider, &QScrollBar::valueChanged, this, [this](int p) {
        state_.settings.Volume.GenInVolume = 100 - p;
        SetInputLevel(100 - p);
    });
    connect(GenOutSlider, &QScrollBar::valueChanged, this, [this](int p) {
        state_.settings.Volume.GenOutVolume = 100 - p;
        engine_.SetOutputVolume(100 - p);
        ShowOutputVolume(engine_.GetOutputVolume());
    });
}

void TMainForm::ShowOutputVolume(int percent)
{
    Label8->setText(QString::number(percent) + QStringLiteral("%"));
}

void TMainForm::BuildScopePage(QWidget* page)
{
    auto& L = layoutControls_;
    QToolButton* up = nullptr;
    QToolButton* down = nullptr;

    ScopeChannel1 = Place<QGroupBox>(page, L, "GroupBox1", 6, 4, 180, 232);
    ScopeChannel1->setTitle(QStringLiteral("Channel 1"));
    SCRyposCh1 = PlaceVerticalSlider(ScopeChannel1, L, "SCRyposCh1", "Pos Ch.1 ", 10, 80);
    VperDiv1 = PlacePanel(ScopeChannel1, L, "VperDiv1", 40, 40);
    PlaceSpinButtons(ScopeChannel1, L, "SpinButton2", "Y-Achse Kanal 1", 122, 40, up, down);
    connect(up, &QToolButton::clicked, this, [this] { scope_->SpinButton2UpClick(); });
    connect(down, &QToolButton::clicked, this, [this] { scope_->SpinButton2DownClick(); });
    CheckBox1 = Place<QCheckBox>(ScopeChannel1, L, "CheckBox1", 40, 90, 80, 20);
    CheckBox1->setText(QStringLiteral("Gnd"));
    CheckBox1->setToolTip(QStringLiteral("Schaltet Ch. 1auf Masse"));

    ScopeChannel2 = Place<QGroupBox>(page, L, "GroupBox2", 192, 4, 180, 232);
    ScopeChannel2->setTitle(QStringLiteral("Channel 2"));
    SCRyposch2 = PlaceVerticalSlider(ScopeChannel2, L, "SCRyposch2", "Pos. Ch.2", 10, 80);
    VperDiv2 = PlacePanel(ScopeChannel2, L, "VperDiv2", 40, 40);
    PlaceSpinButtons(ScopeChannel2, L, "SpinButton1", "Y-Achse Ch.2", 122, 40, up, down);
    connect(up, &QToolButton::clicked, this, [this] { scope_->SpinButton1UpClick(); });
    connect(down, &QToolButton::clicked, this, [this] { scope_->SpinButton1DownClick(); });
    CheckBox3 = Place<QCheckBox>(ScopeChannel2, L, "CheckBox3", 40, 90, 80, 20);
    CheckBox3->setText(QStringLiteral("Gnd"));
    CheckBox3->setToolTip(QStringLiteral("Schaltet Ch.2 auf Masse"));

    ScopeTimebase = Place<QGroupBox>(page, L, "GroupBox3", 378, 4, 210, 232);
    ScopeTimebase->setTitle(QStringLiteral("Timebase"));
    Panel3 = PlacePanel(ScopeTimebase, L, "Panel3", 10, 40);
    PlaceSpinButtons(ScopeTimebase, L, "SpinButton3", "Zeitablenkung", 92, 40, up, down);
    connect(up, &QToolButton::clicked, this, [this] { scope_->SpinButton3UpClick(); });
    connect(down, &QToolButton::clicked, this, [this] { scope_->SpinButton3DownClick(); });
    SCRtrig = PlaceVerticalSlider(ScopeTimebase, L, "SCRtrig", "Trigger Level", 182, 200);
    auto* trigger = Place<QLabel>(ScopeTimebase, L, "Label1", 10, 84, 80, 18);
    trigger->setText(QStringLiteral("Trigger"));
    CheckBox2 = Place<QCheckBox>(ScopeTimebase, L, "CheckBox2", 10, 106, 80, 20);
    CheckBox2->setText(QStringLiteral("+ / -"));
    CheckBox2->setToolTip(QStringLiteral("Trigg. pos/neg Flanke"));
    RadioButton1 = Place<QRadioButton>(ScopeTimebase, L, "RadioButton1", 10, 132, 60, 20);
    RadioButton1->setText(QStringLiteral("Ch1"));
    RadioButton2 = Place<QRadioButton>(ScopeTimebase, L, "RadioButton2", 80, 132, 60, 20);
    RadioButton2->setText(QStringLiteral("Ch2"));
    ScopeOverload = Place<QLabel>(ScopeTimebase, L, "ScopeOverload", 10, 190, 160, 20);
    ScopeOverload->setStyleSheet(QStringLiteral("color: red"));

    // Dragging, the arrows and page clicks all end in a new value; positions set by the
    // run itself do not come here (see SetPositionSliders).
    connect(SCRyposCh1, &QScrollBar::valueChanged, this, [this](int p) { scope_->SCRyposCh1Scroll(p); });
    connect(SCRyposch2, &QScrollBar::valueChanged, this, [this](int p) { scope_->SCRyposch2Scroll(p); });
    connect(SCRtrig, &QScrollBar::valueChanged, this, [this](int p) { scope_->SCRtrigScroll(p); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this](bool c) { scope_->CheckBox1Click(c); });
    connect(CheckBox3, &QCheckBox::clicked, this, [this](bool c) { scope_->CheckBox3Click(c); });
    connect(CheckBox2, &QCheckBox::clicked, this, [this](bool c) { scope_->CheckBox2Click(c); });
    connect(RadioButton1, &QRadioButton::clicked, this, [this] { scope_->RadioButton1Click(); });
    connect(RadioButton2, &QRadioButton::clicked, this, [this] { scope_->RadioButton2Click(); });
}

void TMainForm::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    auto menu = [&](QMenu* parent, const char* name, const char* caption) {
        QMenu* m = parent ? parent->addMenu(Q(caption)) : bar->addMenu(Q(caption));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    auto item = [&](QMenu* m, const char* name, const char* caption, auto handler) {
        QAction* a = m->addAction(Q(caption));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };

    QMenu* file = menu(nullptr, "Filemenu", "&Datei");
    item(file, "SpeichernalsText1", "&Speichern als Text", [this] { SpeichernalsText1Click(); });
    file->addSeparator();
    item(file, "FilePrintItem", "&Drucken", [this] { FilePrint(); });
    item(file, "FilePrintSetupItem", "Drucker&einrichtung", [this] { FilePrintSetup(); });
    file->addSeparator();
    item(file, "FileExitItem", "&Beenden", [this] { close(); });

    QMenu* edit = menu(nullptr, "EditMenu", "&Bearbeiten");
    item(edit, "Kommentar1", "Kommentar", [this] { Kommentar1Click(); });
    edit->addSeparator();
    QAction* copy = item(edit, "EditCopyItem", "&Kopieren", [this] { EditCopy(); });
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));

    QMenu* analyse = menu(nullptr, "Analyse1", "&Analyse");
    item(analyse, "THDN1", "&THD+Noise", [this] { THDN1Click(); })->setCheckable(true);
    item(analyse, "Noise1", "&Level", [this] { Noise1Click(); })->setCheckable(true);
    item(analyse, "Parameter1", "&Parameter", [this] { Parameter1Click(); });

    QMenu* correction = menu(nullptr, "Korrektur1", "&Korrektur");
    item(correction, "LadeEingangskorrekturdatei1", "Lade &Eingangskorrekturdatei",
         [this] { LadeEingangskorrekturdatei1Click(); });
    item(correction, "Eingangskorrekturaktiv1", "Eingangskorrektur aktiv", [this] {
        Eingangskorrekturaktiv1Click();
    })->setCheckable(true);
    item(correction, "EditEingangskorrekturdatei1", "Edit Eingangskorrekturdatei",
         [this] { EditEingangskorrekturdatei1Click(); });
    correction->addSeparator();
    item(correction, "LadeAusgangskorrekturdatei1", "Lade &Ausgangskorrekturdatei",
         [this] { LadeAusgangskorrekturdatei1Click(); });
    item(correction, "Ausgangskorrekturaktiv1", "Ausgangskorrektur aktiv", [this] {
        Ausgangskorrekturaktiv1Click();
    })->setCheckable(true);
    item(correction, "EditAusgangskorrekturdatei1", "Edit Ausgangskorrekturdatei",
         [this] { EditAusgangskorrekturdatei1Click(); });
    correction->addSeparator();
    item(correction, "Testekorrekturdatei1", "Teste Korrekturdateien", [this] { Testekorrekturdatei1Click(); });

    QMenu* options = menu(nullptr, "MEinstellung", "&Einstellungen");
    QAction* flags = item(options, "deutschEnglish1", "", [this] { DeutschEnglish1Click(); });
    flags->setIcon(QIcon(DrawLanguageFlags()));
    auto* flagStyle = new FlagMenuStyle(DrawLanguageFlags().width());
    flagStyle->setParent(options);
    options->setStyle(flagStyle);
    options->setToolTipsVisible(true);
    item(options, "Eichen1", "&Kalibrierung", [this] { Eichen1Click(); });
    item(options, "ShowFeaturelist1", "&Featureliste", [this] { ShowFeaturelist1Click(); });
    options->addSeparator();
    QMenu* inDevices = menu(options, "AudioDevices1", "Audio-In-Device");
    const char* const inNames[] = {"N11", "N21", "N31"};
    const char* const outNames[] = {"N12", "N22", "N32"};
    for (int i = 0; i < 3; ++i) {
        inDeviceItems_[static_cast<std::size_t>(i)] =
            item(inDevices, inNames[i], inNames[i], [this, i] { SelectInDeviceItem(i); });
        inDeviceItems_[static_cast<std::size_t>(i)]->setCheckable(true);
    }
    item(options, "AudioInParameter1", "Audio-In-Parameter", [this] { AudioInParameter1Click(); });
    options->addSeparator();
    QMenu* outDevices = menu(options, "AudioOutDevice1", "Audio-Out-Device");
    for (int i = 0; i < 3; ++i) {
        outDeviceItems_[static_cast<std::size_t>(i)] =
            item(outDevices, outNames[i], outNames[i], [this, i] { SelectOutDeviceItem(i); });
        outDeviceItems_[static_cast<std::size_t>(i)]->setCheckable(true);
    }
    item(options, "AudioOutParameter1", "Audio-Out-Parameter", [this] { AudioOutParameter1Click(); });
    options->addSeparator();
    QMenu* lines = menu(options, "Eingang1", "&Wave Aux In");
    auto* lineGroup = new QActionGroup(this);  // one radio group over all ten lines
    lineGroup->setObjectName(QStringLiteral("AuxGroup88"));
    for (int i = 0; i < 10; ++i) {
        const std::string name = "auxin" + std::to_string(i);
        QAction* a = item(lines, name.c_str(), name.c_str(), [this, i] { SelectAuxInput(i); });
        a->setCheckable(true);
        lineGroup->addAction(a);
        auxItems_[static_cast<std::size_t>(i)] = a;
    }
    item(options, "Reset1", "&Reset Soundsystem", [this] { Reset1Click(); });

    QMenu* help = menu(nullptr, "HelpMenu", "&?");
    item(help, "HelpContentsItem", "&Inhalt", [this] { HelpContents(); })->setShortcut(QKeySequence(Qt::Key_F1));
    help->addSeparator();
    item(help, "HelpAboutItem", "Inf&o...", [this] { HelpAbout(); });
}

// ---- Start ---------------------------------------------------------------------------------

void TMainForm::RecordLayout()
{
    layoutClient_ = QRect(QPoint(0, 0), kDesignedClient);
    layoutTable_.clear();
    for (QWidget* w : layoutControls_) {
        layoutTable_.push_back({w, w->geometry()});
    }
}

int TMainForm::FormCreate()
{
    RecordLayout();
    setProperty("helpContext", kMainHelpContext);
    ClearCurve(state_.InCorrection);
    ClearCurve(state_.OutCorrection);

    SoundDevices devices;
    const int error = StartSoundSystem(engine_, profile_, devices);
    inDeviceCount_ = devices.inCount;
    outDeviceCount_ = devices.outCount;
    if (error != 0) {
        // The settings are not read yet: the start language is German.
        ShowErrorPrompt(kGermanMessages.soundFailure + engine_.DeviceErrorText(static_cast<std::uint32_t>(error)) + ")",
                        kSoundFailureHelpContext);
        return error;
    }
    // Lines a crashed session left changed get their volumes back before anything else.
    std::string restored;
    for (const std::string& name : engine_.RestoreLinesLeftBehind()) {
        restored += (restored.empty() ? "" : ", ") + name;
    }

    Settings& s = state_.settings;
    // What the window shows of each step of the start (the engine's part is shared).
    MainReadHooks shown;
    // A file that exists but was refused stays named on its curve, switched off.
    shown.LoadInCorrection = [this](const std::string& f) { KeepRefusedCorrectionFile(state_.InCorrection, f); };
    shown.LoadOutCorrection = [this](const std::string& f) { KeepRefusedCorrectionFile(state_.OutCorrection, f); };
    shown.SelectAuxInput = [this](int used) { ShowInputLine(used); };
    shown.SetAverVal = [this](int v) { AverValBox->setValue(v); };
    const StartCurves curves{state_.InCorrection, state_.OutCorrection, *loader_, true, {}};
    ReadStartSettings(profile_, engine_, devices, s, curves, shown);
    // Flags, check marks and `coract` follow the curves actually in force.
    SyncCorrectionFlags();

    engine_.StopPlayback();
    setWindowTitle(QStringLiteral("Sonvera V 1.3"));

    const auto& aux = engine_.AuxLines();
    for (int i = 0; i < 10; ++i) {
        QAction* a = auxItems_[static_cast<std::size_t>(i)];
        const std::string& name = aux[static_cast<std::size_t>(i)].name;
        a->setVisible(!name.empty());
        if (!name.empty()) {
            a->setText(QString::fromStdString(name));
        }
    }
    for (int i = 0; i < 3; ++i) {
        inDeviceItems_[static_cast<std::size_t>(i)]->setVisible(false);
        outDeviceItems_[static_cast<std::size_t>(i)]->setVisible(false);
    }
    for (int i = 0; i < std::min(inDeviceCount_, 3); ++i) {
        inDeviceItems_[static_cast<std::size_t>(i)]->setText(QString::fromStdString(engine_.DeviceName('I', i)));
        inDeviceItems_[static_cast<std::size_t>(i)]->setVisible(true);
    }
    for (int i = 0; i < std::min(outDeviceCount_, 3); ++i) {
        outDeviceItems_[static_cast<std::size_t>(i)]->setText(QString::fromStdString(engine_.DeviceName('O', i)));
        outDeviceItems_[static_cast<std::size_t>(i)]->setVisible(true);
    }
    const int in = s.Main.InDeviceIndex;
    const int out = s.Main.OutDeviceIndex;
    SelectInDeviceItem(in >= 0 && in <= 2 ? in : 0);
    SelectOutDeviceItem(out >= 0 && out <= 2 ? out : 0);
    restoredLines_ = restored;
    UpdateStatusLine();
    return 0;
}

void TMainForm::AttachWindows(const MainFormWindows& windows)
{
    windows_ = windows;
    diagramLink_->window = windows.diagramm;
    scopeLink_->window = windows.oszidia;
    if (windows.korEdit) {
        windows.korEdit->SetSavedHandler(
            [this](CorrectionCurve& curve, const std::string& file) { CorrectionSaved(curve, file); });
    }
    if (windows.ioDialog) {
        windows.ioDialog->SetHelpHandler([](int context) { Help().ShowContext(context); });
    }
    if (windows.eichDlg) {
        windows.eichDlg->SetHelpHandler([](int context) { Help().ShowContext(context); });
    }
    if (windows.wobbelDlg) {
        windows.wobbelDlg->SetHelpHandler([](int context) { Help().ShowContext(context); });
    }
    if (windows.wavegen) {
        windows.wavegen->SetHelpHandler([](int context) { Help().ShowContext(context); });
        windows.wavegen->onOutputFormat = [this] { ShowWaveFormatDialog(false); };
        windows.wavegen->onReport = [this](const RunReport& report) { ReportRun(report); };
    }
    if (windows.featDlg) {
        windows.featDlg->SetReportLines(engine_.DeviceReport());
        windows.featDlg->SetHelpHandler([](int context) { Help().ShowContext(context); });
        windows.featDlg->onSaved = [this](const QString& text) { SetStatusMessage(text); };
    }
    if (windows.diagramm) {
        windows.diagramm->OptionsDialog().showHelp = [](int context) { Help().ShowContext(context); };
        windows.diagramm->onCurveColours = [this](Colour c1, Colour c2) {
            auto colour = [](Colour c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF).name(); };
            MeasureLeft->setStyleSheet(QStringLiteral("color: ") + colour(c1));
            MeasureRight->setStyleSheet(QStringLiteral("color: ") + colour(c2));
        };
        windows.diagramm->onRaiseMainWindow = [this] { raise(); };
    }
}

void TMainForm::FormShow()
{
    Settings& s = state_.settings;
    ApplyLanguage(s.Main.UiLanguage);
    // The windows' places were set before the main window was first shown (PlaceAtStart).
    if (windows_.diagramm) {
        const DiagramOptions& o = windows_.diagramm->Model().Options;
        if (windows_.diagramm->onCurveColours) {
            windows_.diagramm->onCurveColours(o.ColLine1, o.ColLine2);
        }
    }
    setProperty("helpContext", kMainHelpContext);
    TabbedNotebook1Change(TabbedNotebook1->currentIndex());
    UpdateCorrectionLabel();
}

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

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        windowHandle()->installEventFilter(this);
        FormShow();
    }
}

bool TMainForm::event(QEvent* e)
{
    const int message = AppMessageOf(e);
    if (message == WM_SPECTRUM_NEXT) {
        run_->SpectrumNext();
        return true;
    }
    if (message == WM_SCOPE_NEXT) {
        scope_->OnScopeNext();
        return true;
    }
    if (message == WM_SWEEP_STEP) {
        if (!closed_) {
            sweep_->SweepStep();
        }
        return true;
    }
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QMainWindow::event(e);
}

void TMainForm::UpdateCorrectionLabel()
{
    const Settings& s = state_.settings;
    coract->setText(s.Main.InCorrActive || s.Main.OutCorrActive ? QString::fromStdString(messages_->correctionActive)
                                                                : QStringLiteral("."));
}

// ---- Language ------------------------------------------------------------------------------

void TMainForm::ApplyLanguage(char letter)
{
    if (letter == 'D' || letter == 'E') {
        const bool de = letter == 'D';
        messages_ = MainMessagesFor(letter);
        for (int i = 0; i < 3; ++i) {
            TabbedNotebook1->setTabText(i, Q(kPageCaptions[de ? 0 : 1][i]));
        }
        for (const CaptionRow& row : kCaptions) {
            QObject* target = findChild<QObject*>(QString::fromLatin1(row.control));
            if (target != nullptr) {
                SetCaption(target, Q(de || row.english[0] == '\0' ? row.german : row.english));
            }
        }
        saveDialogTitle_ = de ? QStringLiteral("Diagrammwerte als Textdatei")
                              : QStringLiteral("Diagram values as text file");
        run_->SetLanguage(letter);
        sweep_->SetLanguage(letter);
        UpdateCorrectionLabel();
        UpdateStatusLine();
        statusLanguage_ = letter;
        if (lastReport_) {
            StatusMessageLine->setText(QString::fromStdString(RunStatusText(*lastReport_, letter)));
        }
        RefreshLockTips();
    }
    // The other windows' routines, in their order; each ignores other letters itself.
    if (windows_.featDlg) windows_.featDlg->SetTexts(letter);
    if (windows_.wobbelDlg) windows_.wobbelDlg->SetTexts(letter);
    if (windows_.aboutBox) windows_.aboutBox->SetTexts(letter);
    if (windows_.eichDlg) windows_.eichDlg->SetCalibTexts(letter);
    if (windows_.analy) windows_.analy->SetAnalysisTexts(letter);
    if (windows_.korEdit) windows_.korEdit->SetTexts(letter);
    logSweep_->SetTexts(letter);
    loader_->SetCurveMessages(letter);
    if (windows_.diagramm) {
        windows_.diagramm->SetDiagramTexts(letter);
        windows_.diagramm->OptionsDialog().SetOptionsTexts(letter);
    }
    if (windows_.ioDialog) windows_.ioDialog->SetTexts(letter);
    if (windows_.wavegen) windows_.wavegen->SetGeneratorTexts(letter);
    // The language item carries the flag picture whatever the letter.
    if (QAction* flags = Item("deutschEnglish1")) {
        flags->setText(QString());
        flags->setIcon(QIcon(Image1->pixmap()));
    }
}

void TMainForm::DeutschEnglish1Click()
{
    char& language = state_.settings.Main.UiLanguage;
    language = language == 'D' ? 'E' : 'D';
    ApplyLanguage(language);
    if (language == 'E') {
        ShowInformationPrompt("At the moment the help file is only available in german");
    }
    update();
}

QPixmap TMainForm::FlagPicture() const
{
    return Image1 ? Image1->pixmap() : QPixmap();
}

// ---- Pages ---------------------------------------------------------------------------------

void TMainForm::LeavePage(int page)
{
    switch (page) {
    case 0: run_->LeaveSpectrumPage(); break;
    case 1: LeaveGeneratorPage(); break;
    case 2: LeaveScopePage(); break;
    default: break;
    }
}

void TMainForm::EnterPage(int page)
{
    switch (page) {
    case 0: run_->EnterSpectrumPage(); break;
    case 1: EnterGeneratorPage(); break;
    case 2: EnterScopePage(); break;
    default: break;
    }
}

void TMainForm::TabbedNotebook1Change(int newPage)
{
    if (closed_) {
        return;
    }
    if (!skipFirstLeave_) {
        LeavePage(currentPage_);
    }
    skipFirstLeave_ = false;
    currentPage_ = newPage;
    if (newPage >= 0 && newPage < 3) {
        TabbedNotebook1->setProperty("helpContext", kPageHelpContexts[newPage]);
    }
    EnterPage(newPage);
    KeepGeneratorOffThePage();
    if (windows_.diagramm) {
        // A measurement on one page's scale means nothing on the next.
        windows_.diagramm->SetPage(newPage);
        windows_.diagramm->ResetCursor(true);
        windows_.diagramm->update();
    }
    update();
}

bool TMainForm::GeneratorPlays() const
{
    return windows_.wavegen != nullptr && windows_.wavegen->Control().SignalOn();
}

void TMainForm::KeepGeneratorOffThePage()
{
    TWavegen* gen = windows_.wavegen;
    if (gen == nullptr || generatorPageActive_ || !gen->isVisible()) {
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

void TMainForm::EnterGeneratorPage()
{
    generatorPageActive_ = true;
    sweep_->EnterGeneratorPage();
}

void TMainForm::LeaveGeneratorPage()
{
    generatorPageActive_ = false;
    logSweep_->LeavePage();
    sweep_->LeaveGeneratorPage();
}

void TMainForm::EnterScopePage()
{
    scopePageActive_ = true;
    scope_->EnterScopePage();
}

void TMainForm::LeaveScopePage()
{
    scopePageActive_ = false;
    scope_->LeaveScopePage();
}

// ---- Oscilloscope page controls --------------------------------------------------------------

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

void TMainForm::SetScopeMenusEnabled(bool enabled, bool withAnalyse)
{
    LockMenus(!enabled);
    if (withAnalyse) {
        SetAnalyseMenuEnabled(enabled);
    }
}

void TMainForm::SetTimebaseCaption(const std::string& text)
{
    Panel3->setText(QString::fromStdString(text));
}

void TMainForm::SetVoltsPerDivCaption(int channel, const std::string& text)
{
    (channel == 1 ? VperDiv1 : VperDiv2)->setText(QString::fromStdString(text));
}

void TMainForm::SetOverloadText(const std::string& text)
{
    ScopeOverload->setText(QString::fromStdString(text));
}

void TMainForm::SetPositionSliders(int ch1, int ch2)
{
    const QSignalBlocker block1(SCRyposCh1);
    const QSignalBlocker block2(SCRyposch2);
    SCRyposCh1->setValue(ch1);
    SCRyposch2->setValue(ch2);
}

void TMainForm::SetScopeChecks(bool gnd1, bool gnd2, bool rising, bool trigCh1)
{
    CheckBox1->setChecked(gnd1);
    CheckBox3->setChecked(gnd2);
    CheckBox2->setChecked(rising);
    RadioButton1->setChecked(trigCh1);
    RadioButton2->setChecked(!trigCh1);
}

void TMainForm::PostScopeNext()
{
    PostAppMessage(this, WM_SCOPE_NEXT);
}

bool TMainForm::ScopePageCurrent() const
{
    return !closed_ && currentPage_ == 2;
}

// ---- Spectrum page view ----------------------------------------------------------------------

void TMainForm::SetOverloadLabel(const std::string& text)
{
    Overload->setText(QString::fromStdString(text));
}

void TMainForm::ShowAverVal(int value)
{
    // The run shows the count after every block; the box repaints (with the group and
    // page behind it) even for the value it already holds.
    if (AverValBox->value() != value) {
        AverValBox->setValue(value);
    }
}

int TMainForm::AverVal() const
{
    return AverValBox->value();
}

void TMainForm::SetRunLockedControlsEnabled(bool enabled)
{
    FFTpointsgroup->setEnabled(enabled);
    AverValBox->setEnabled(enabled);
    StartButton->setEnabled(enabled);  // a running spectrum shows START greyed
    LockMenus(!enabled);
}

void TMainForm::LockMenus(bool locked)
{
    for (const char* name : {"Eichen1", "AudioInParameter1", "AudioOutParameter1"}) {
        Item(name)->setEnabled(!locked);
    }
    findChild<QMenu*>(QStringLiteral("AudioDevices1"))->setEnabled(!locked);
    findChild<QMenu*>(QStringLiteral("AudioOutDevice1"))->setEnabled(!locked);
    RefreshLockTips();
}

void TMainForm::RefreshLockTips()
{
    const QString locked = QString::fromStdString(LockedDuringMeasurementText(statusLanguage_));
    std::vector<QAction*> items;
    for (const char* name : {"Eichen1", "AudioInParameter1", "AudioOutParameter1"}) {
        items.push_back(Item(name));
    }
    for (const char* name : {"AudioDevices1", "AudioOutDevice1"}) {
        items.push_back(findChild<QMenu*>(QString::fromLatin1(name))->menuAction());
    }
    for (QAction* a : items) {
        a->setToolTip(a->isEnabled() ? QString() : locked);
    }
    for (QWidget* w : lockables_) {
        w->setToolTip(w->isEnabled() ? QString() : locked);
    }
}

void TMainForm::ReportLockedClick(QWidget* control)
{
    QString caption;
    if (control == AverValBox) {
        caption = Label6->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        caption = group->title().trimmed();
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        caption = button->text().remove(QLatin1Char('&')).trimmed();
    }
    RunReport report{Measurement::Spectrum, RunEvent::Refused};  // the caption names it
    report.control = caption.toStdString();
    report.refusal = control == StartButton || control == wobbelnBut ? Refusal::AlreadyRunning
                                                                    : Refusal::MeasurementRunning;
    ReportRun(report);
}

void TMainForm::ReportRun(const RunReport& report)
{
    lastReport_ = report;
    StatusMessageLine->setText(QString::fromStdString(RunStatusText(report, statusLanguage_)));
}

void TMainForm::SetStatusMessage(const QString& text)
{
    lastReport_.reset();
    StatusMessageLine->setText(text);
}

QString TMainForm::StatusMessage() const
{
    return StatusMessageLine->text();
}

void TMainForm::SetBinpoptEnabled(bool enabled)
{
    Binpopt->setEnabled(enabled);
    RefreshLockTips();
}

void TMainForm::SelectRunMode(int index)
{
    if (QAbstractButton* b = runningButtons_->button(index)) {
        b->setChecked(true);
    }
}

void TMainForm::SelectFftWindow(int index)
{
    if (QAbstractButton* b = fftWinButtons_->button(index)) {
        b->setChecked(true);
    }
}

void TMainForm::SelectFftPointsItem(int index)
{
    if (QAbstractButton* b = fftPointsButtons_->button(index)) {
        b->setChecked(true);
    }
}

void TMainForm::SetInputFormatLabels(const std::string& bits, const std::string& rate)
{
    Ldb->setText(QString::fromStdString(bits));
    Lsf->setText(QString::fromStdString(rate));
}

void TMainForm::SetAnalyseMenuEnabled(bool enabled)
{
    findChild<QMenu*>(QStringLiteral("Analyse1"))->setEnabled(enabled);
}

void TMainForm::SetAnalysisChecks(bool thd, bool noise)
{
    Item("THDN1")->setChecked(thd);
    Item("Noise1")->setChecked(noise);
}

void TMainForm::SetChannelChecks(bool left, bool right)
{
    MeasureLeft->setChecked(left);
    MeasureRight->setChecked(right);
}

void TMainForm::PostSpectrumNext()
{
    PostAppMessage(this, WM_SPECTRUM_NEXT);
}

void TMainForm::CloseMainWindow()
{
    close();
}

void TMainForm::Warning(const std::string& text)
{
    ShowWarningPrompt(text);
}

void TMainForm::SetInputLevel(int percent)
{
    engine_.SetLineVolume(percent, engine_.InputLine());
    ShowInputLevel(percent);
}

void TMainForm::ShowInputLevel(int percent)
{
    {
        const QSignalBlocker block(GenInSlider);
        GenInSlider->setValue(100 - percent);
    }
    {
        // Only the slider moves: its handler would write the line.
        const QSignalBlocker block(ScrollBar3);
        ScrollBar3->setValue(percent);
    }
    // The labels show what the line has (the level a run applies is the sliders').
    const QString shown = QString::number(engine_.GetLineVolume(engine_.InputLine())) + QStringLiteral("%");
    InLevelLabel->setText(shown);
    GenInLabel->setText(shown);
}

void TMainForm::SelectAuxInput(int line)
{
    ShowInputLine(SelectInputLine(engine_, state_.settings.Volume, line));
}

void TMainForm::ShowInputLine(int used)
{
    for (int i = 0; i < 10; ++i) {
        auxItems_[static_cast<std::size_t>(i)]->setChecked(i == used);
    }
    const std::string name = engine_.LineName(used);
    if (!name.empty()) {
        MeasureGroup->setTitle(QString::fromStdString(name));
        Wobinptxt->setText(QString::fromStdString(name));
    }
}

void TMainForm::BinpoptClick()
{
    ShowWaveFormatDialog(true);
}

void TMainForm::ShowWaveFormatDialog(bool input)
{
    if (windows_.ioDialog) {
        windows_.ioDialog->SetDirection(input);
        ShowModal(windows_.ioDialog);
    }
    run_->RefreshInputLabels();
}

// ---- Menus ---------------------------------------------------------------------------------

void TMainForm::THDN1Click()
{
    diagramLink_->SetResultLine("");
    AnalysisSettings& a = state_.settings.Analysis;
    a.ThdMeasure = !a.ThdMeasure;
    if (a.ThdMeasure) {
        a.NoiseMeasure = false;
    }
    SetAnalysisChecks(a.ThdMeasure, a.NoiseMeasure);
}

void TMainForm::Noise1Click()
{
    diagramLink_->SetResultLine("");
    AnalysisSettings& a = state_.settings.Analysis;
    a.NoiseMeasure = !a.NoiseMeasure;
    if (a.NoiseMeasure) {
        a.ThdMeasure = false;
    }
    SetAnalysisChecks(a.ThdMeasure, a.NoiseMeasure);
}

void TMainForm::Parameter1Click()
{
    if (windows_.analy) {
        windows_.analy->ShowAnalysisDialog();
    }
}

int TMainForm::ShowModal(QDialog* dialog)
{
    // The main window is never kept on top here, so there is no style to lift and put
    // back around the modal dialog.
    return dialog->exec();
}

void TMainForm::HelpContents()
{
    Help().ShowContext(kMainHelpContext);
}

void TMainForm::HelpAbout()
{
    if (windows_.aboutBox) {
        ShowModal(windows_.aboutBox);
    }
}

void TMainForm::Eichen1Click()
{
    TEichDlg* dialog = windows_.eichDlg;
    if (dialog == nullptr) {
        return;
    }
    if (engine_.CaptureFormats() == 0) {
        RunReport refused{Measurement::Scope, RunEvent::Refused};
        refused.control = Item("Eichen1")->text().remove(QLatin1Char('&')).toStdString();
        refused.refusal = Refusal::NoInputDevice;
        ReportRun(refused);
        return;
    }
    run_->StopButtonClick();
    scope_->StopOrun();
    Settings& s = state_.settings;
    dialog->FillCalibDialog(s.Calib.InCalibValue, s.Calib.OutCalibValue, s.Volume.LevelFactor, s.Volume.LevelOffset);
    if (ShowModal(dialog) == QDialog::Accepted) {
        if (const std::optional<CalibValues> values = dialog->ReadCalibValues()) {
            StoreCalibValues(*values, s.Calib, s.Volume);
            SaveConfiguration();
        }
    }
    scope_->StartOrun();
}

void TMainForm::RefuseWhilePlaying(const char* control)
{
    RunReport refused{Measurement::Generator, RunEvent::Refused};
    refused.control = control;
    refused.refusal = sweep_->SweepToneOn ? Refusal::SweepPlaying : Refusal::SignalPlaying;
    ReportRun(refused);
}

void TMainForm::ShowFeaturelist1Click()
{
    if (windows_.featDlg) {
        windows_.featDlg->SetReportLines(engine_.DeviceReport());
        ShowModal(windows_.featDlg);
    }
}

void TMainForm::AudioInParameter1Click()
{
    ShowWaveFormatDialog(true);
}

void TMainForm::AudioOutParameter1Click()
{
    if (engine_.PlaybackActive()) {
        RefuseWhilePlaying("Audio-Out-Parameter");
        return;
    }
    ShowWaveFormatDialog(false);
}

QFileDialog* TMainForm::TextSaveDialog()
{
    if (SaveDialog == nullptr) {
        SaveDialog = new QFileDialog(this);
        SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
        SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
        SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog->setFileMode(QFileDialog::AnyFile);
    }
    SaveDialog->setWindowTitle(saveDialogTitle_);
    SaveDialog->setDefaultSuffix(QStringLiteral("txt"));
    SaveDialog->setNameFilter(QStringLiteral("Text File (*.txt)"));
    return SaveDialog;
}

void TMainForm::SpeichernalsText1Click()
{
    if (!windows_.diagramm) {
        return;
    }
    QFileDialog* dialog = TextSaveDialog();
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return;
    }
    const std::string file = dialog->selectedFiles().first().toStdString();
    const DiagramModel& model = windows_.diagramm->Model();
    if (model.ExportDiagramText(file, model.Options.Separator) != 0) {
        Prompts().Show(Prompt{PromptKind::Error, file + messages_->exportFailure, false, 0});
    }
}

QPrinter& TMainForm::Printer()
{
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    return *printer_;
}

void TMainForm::FilePrint()
{
    if (!windows_.diagramm) {
        return;
    }
    QPrintDialog dialog(&Printer(), this);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    PrintTo(Printer());
}

bool TMainForm::PrintTo(QPrinter& printer)
{
    if (!windows_.diagramm) {
        return false;
    }
    std::vector<std::string> report;
    const bool printed = PrintDiagram(printer, *windows_.diagramm, report);
    for (std::string& line : report) {
        engine_.AppendReport(std::move(line));
    }
    return printed;
}

void TMainForm::FilePrintSetup()
{
    QPageSetupDialog dialog(&Printer(), this);
    dialog.setObjectName(QStringLiteral("PrintSetupDialog"));
    dialog.exec();
}

void TMainForm::Kommentar1Click()
{
    if (!windows_.diagramm) {
        return;
    }
    if (auto* comment = windows_.diagramm->findChild<QLineEdit*>(QStringLiteral("Edicomment"))) {
        windows_.diagramm->activateWindow();
        comment->setFocus();
    }
}

void TMainForm::EditCopy()
{
    if (windows_.diagramm) {
        windows_.diagramm->repaint();
    }
    if (currentPage_ == 2) {
        if (windows_.oszidia) {
            QApplication::clipboard()->setImage(windows_.oszidia->RenderNow());
        }
        return;
    }
    if (!windows_.diagramm) {
        return;
    }
    QImage image;
    if (windows_.diagramm->RenderForPrint(image, windows_.diagramm->width(), windows_.diagramm->height(), 8)) {
        QApplication::clipboard()->setImage(image);
    }
    windows_.diagramm->repaint();
}

// ---- Correction curves -----------------------------------------------------------------------

QFileDialog* TMainForm::CorrectionOpenDialog()
{
    if (OpenDialog == nullptr) {
        OpenDialog = new QFileDialog(this);
        OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
        OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
        OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog->setFileMode(QFileDialog::AnyFile);  // a new name creates a new file
    }
    OpenDialog->setDefaultSuffix(QStringLiteral("cor"));
    OpenDialog->setNameFilter(QStringLiteral("Correction File (*.cor)"));
    return OpenDialog;
}

void TMainForm::SyncCorrectionFlags()
{
    Settings& s = state_.settings;
    s.Main.InCorrActive = state_.InCorrection.active;
    s.Main.OutCorrActive = state_.OutCorrection.active;
    Item("Eingangskorrekturaktiv1")->setChecked(s.Main.InCorrActive);
    Item("Ausgangskorrekturaktiv1")->setChecked(s.Main.OutCorrActive);
    UpdateCorrectionLabel();
}

bool TMainForm::LoadCorrectionFile(CorrectionCurve& curve, const std::string& file)
{
    if (loader_->LoadCurveFile(curve, file)) {
        return true;
    }
    KeepRefusedCorrectionFile(curve, file);
    return false;
}

void TMainForm::KeepRefusedCorrectionFile(CorrectionCurve& curve, const std::string& file)
{
    // A file that exists but was refused (a line error, no lines) stays the curve's file,
    // switched off: Edit opens it for repair and the configuration keeps naming it, so the
    // next start shows the same state and the same message.
    // A name without a folder means the file beside the configuration, as the loader reads it.
    const std::string path = loader_->Resolve(file);
    if (curve.count == 0 && curve.fileName.empty() && QFileInfo(QString::fromStdString(path)).isFile()) {
        curve.fileName = path;
    }
}

bool TMainForm::EditorHolds(const CorrectionCurve& curve) const
{
    const TKorEdit* editor = windows_.korEdit;
    return editor != nullptr && editor->isVisible() && editor->EditedCurve() == &curve;
}

void TMainForm::LoadCorrection(bool input)
{
    CorrectionCurve& curve = input ? state_.InCorrection : state_.OutCorrection;
    QFileDialog* dialog = CorrectionOpenDialog();
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        const std::string file = dialog->selectedFiles().first().toStdString();
        // The editor's unsaved text of this curve's file is asked about first; Cancel
        // loads nothing.
        const bool editing = EditorHolds(curve);
        if (!editing || windows_.korEdit->AskAboutUnsavedText()) {
            if (LoadCorrectionFile(curve, file)) {
                curve.active = true;
            }
            if (editing && !windows_.korEdit->EditCurve(curve)) {
                windows_.korEdit->hide();  // the new file cannot be shown: no stale text stays
            }
        }
    }
    // A failed load has shown its message; the curve may have been emptied, which also
    // switched it off, and the check mark shows that.
    SyncCorrectionFlags();
}

void TMainForm::ToggleCorrection(bool input)
{
    CorrectionCurve& curve = input ? state_.InCorrection : state_.OutCorrection;
    curve.active = !curve.active && !curve.fileName.empty() && curve.count > 0;
    SyncCorrectionFlags();
}

void TMainForm::EditCorrection(bool input)
{
    CorrectionCurve& curve = input ? state_.InCorrection : state_.OutCorrection;
    if (curve.fileName.empty()) {
        LoadCorrection(input);
    }
    // A file that does not parse opens too, so it can be repaired here.
    if (!curve.fileName.empty() && windows_.korEdit != nullptr && windows_.korEdit->EditCurve(curve)) {
        curve.active = curve.count > 0;
    }
    SyncCorrectionFlags();
}

void TMainForm::CorrectionSaved(CorrectionCurve& curve, const std::string& file)
{
    // The editor's own file, whatever the curve held before; after a line error the
    // curve is off and keeps the file's name, and the editor stays open on it.
    if (LoadCorrectionFile(curve, file)) {
        curve.active = true;
    }
    Testekorrekturdatei1Click();
}

void TMainForm::Testekorrekturdatei1Click()
{
    TDiagramm* diagram = windows_.diagramm;
    if (diagram == nullptr) {
        SyncCorrectionFlags();
        return;
    }
    DiagramModel& model = diagram->Model();
    float levelMin = 0.0f, levelMax = 0.0f;
    int freqMin = 0, freqMax = 0;
    model.GetLevelRange(levelMin, levelMax);
    model.GetFreqRange(freqMin, freqMax);
    model.ResetDiagramScales();
    constexpr int kTestPoints = 1000;
    diagram->PrepareDiagram("", kTestPoints, freqMin, freqMax, levelMin, levelMax);
    model.SetSecondRange(levelMax, levelMin);
    model.SetCurvesShown(true, true);

    std::string names;
    if (state_.InCorrection.active) {
        names = state_.InCorrection.fileName;
    }
    if (state_.OutCorrection.active) {
        names += " & " + state_.OutCorrection.fileName;
    }
    diagram->SetResultLine(messages_->correctionTitle + names);

    for (int i = 1; i <= kTestPoints; ++i) {
        const int f = StepFrequency(1, 28000, kTestPoints, i);
        const float values[2] = {static_cast<float>(ApplyCurve(state_.InCorrection, -1.0, f, 0.0)),
                                 static_cast<float>(ApplyCurve(state_.OutCorrection, -1.0, f, 0.0))};
        model.StoreDiagramPoint(values, 2, i, static_cast<float>(f));
    }
    // The curves are drawn where the user can see them, also from the other pages.
    diagramLink_->Show(true);
    diagram->update();
    SyncCorrectionFlags();
}

void TMainForm::UpdateStatusLine()
{
    StatusLine->setText(QString::fromStdString(StatusText()));
}

std::string TMainForm::StatusText() const
{
    const std::string devices =
        engine_.DeviceName('I', engine_.InDeviceIndex()) + " / " + engine_.DeviceName('O', engine_.OutDeviceIndex());
    // The note comes first: the line is narrow, and the devices are in their menus too.
    return restoredLines_.empty() ? devices : messages_->linesRestored + restoredLines_ + "   " + devices;
}

void TMainForm::SelectInDeviceItem(int index)
{
    if (engine_.PlaybackActive()) {
        RefuseWhilePlaying("Audio-In-Device");
        return;
    }
    for (int i = 0; i < 3; ++i) {
        inDeviceItems_[static_cast<std::size_t>(i)]->setChecked(i == index);
    }
    engine_.SelectInDevice(index < inDeviceCount_ ? index : 0);
    state_.settings.Main.InDeviceIndex = engine_.InDeviceIndex();
    restoredLines_.clear();
    UpdateStatusLine();
    int bitsIn = 0, bitsOut = 0, rateIn = 0, rateOut = 0;
    engine_.GetFormatBits(bitsIn, bitsOut);
    engine_.GetSampleRates(rateIn, rateOut);
    Ldb->setText(QString::number(bitsIn) + QStringLiteral(" Bit"));
    Lsf->setText(QString::number(rateIn) + QStringLiteral(" Hz"));
}

void TMainForm::SelectOutDeviceItem(int index)
{
    if (engine_.PlaybackActive()) {
        RefuseWhilePlaying("Audio-Out-Device");
        return;
    }
    for (int i = 0; i < 3; ++i) {
        outDeviceItems_[static_cast<std::size_t>(i)]->setChecked(i == index);
    }
    engine_.SelectOutDevice(index < outDeviceCount_ ? index : 0);
    state_.settings.Main.OutDeviceIndex = engine_.OutDeviceIndex();
    GetSetAuxVolOut();
    restoredLines_.clear();
    UpdateStatusLine();
}

void TMainForm::GetSetAuxVolOut()
{
    const int volume = engine_.GetOutputVolume();
    if (volume != -1 && volume != 0) {
        {
            const QSignalBlocker block(GenOutSlider);
            GenOutSlider->setValue(100 - volume);
        }
        state_.settings.Volume.GenOutVolume = volume;
        ShowOutputVolume(volume);
    }
}

void TMainForm::Reset1Click()
{
    scope_->StopOrun();
    sweep_->STOPbutClick();
    run_->StopButtonClick();
    if (windows_.wavegen) {
        windows_.wavegen->GstopClick();
    }
    // The shutdown gives the line back what it had; the level the program had set on it
    // comes back after the start, a line the program never wrote stays the user's.
    const bool lineSet = engine_.LineTouched(engine_.InputLine());
    engine_.ShutdownSoundEngine();
    const int error = engine_.InitSoundEngine();
    if (error != 0) {
        // Nothing can be measured until the next reset succeeds; say so instead of
        // leaving a dead engine behind silently.
        ShowErrorPrompt(messages_->soundFailure + engine_.DeviceErrorText(static_cast<std::uint32_t>(error)) + ")",
                        kSoundFailureHelpContext);
        return;
    }
    if (lineSet) {
        SetInputLevel(state_.settings.Volume.GenInVolume);
    }
    // The start set the output to 25 %; the output plays what the "Out" slider shows.
    engine_.SetOutputVolume(state_.settings.Volume.GenOutVolume);
    ShowOutputVolume(engine_.GetOutputVolume());
    // On the oscilloscope page the trace goes on with the new engine (elsewhere this
    // does nothing).
    scope_->StartOrun();
}

// ---- Generator docking and layout ------------------------------------------------------------

QPoint TMainForm::DockPoint() const
{
    return Generator->mapToGlobal(Generator->contentsRect().topLeft());
}

void TMainForm::DockGenerator(bool force)
{
    TWavegen* gen = windows_.wavegen;
    if (gen == nullptr) {
        return;
    }
    const QPoint dock = DockPoint();
    const QPoint at = gen->pos();
    const bool near = std::abs(at.x() - dock.x()) < gen->width() && std::abs(at.y() - dock.y()) < gen->height();
    if (force || near) {
        gen->move(dock);
    }
}

void TMainForm::moveEvent(QMoveEvent* e)
{
    QMainWindow::moveEvent(e);
    // The generator rides along over its group; off its page it keeps its own place
    // beside the main window.
    if (generatorPageActive_) {
        DockGenerator(false);
    }
}

int TMainForm::HelpContextFor(const QWidget* focus) const
{
    // The window that has the focus, where it has a help page of its own (the nearest
    // widget up to that window carrying "helpContext"); the main window and windows
    // without a page: the page shown.
    if (focus != nullptr && focus->window() != this) {
        for (const QWidget* w = focus; w != nullptr; w = w->isWindow() ? nullptr : w->parentWidget()) {
            const int context = w->property("helpContext").toInt();
            if (context > 0) {
                return context;
            }
        }
    }
    return kPageHelpContexts[std::clamp(currentPage_, 0, 2)];
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e)
{
    // F1 anywhere in the program (this filter sits on the application): the help page of
    // what is shown. The menu item "&Inhalt" keeps F1 as its label and opens the contents;
    // taking the shortcut's place here lets the key reach the window that has the focus.
    if (e->type() == QEvent::ShortcutOverride || e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier && watched->isWidgetType()) {
            if (e->type() == QEvent::KeyPress && !key->isAutoRepeat()) {
                Help().ShowContext(HelpContextFor(static_cast<QWidget*>(watched)));
            }
            e->accept();
            return true;
        }
    }
    if (watched == centralWidget() && e->type() == QEvent::Resize) {
        FormResize();
    }
    // A greyed control gets no click, so the click is seen on its way into the window.
    if (watched == windowHandle() && e->type() == QEvent::MouseButtonPress) {
        const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
        for (QWidget* w = childAt(at); w != nullptr && w != this; w = w->parentWidget()) {
            if (!w->isEnabled() && std::find(lockables_.begin(), lockables_.end(), w) != lockables_.end()) {
                ReportLockedClick(w);
                break;
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
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

// ---- Shutdown ----------------------------------------------------------------------------------

bool TMainForm::FormCloseQuery()
{
    if (closed_) {
        return true;
    }
    // Unsaved editor text is asked about before anything is shut down: Cancel (or a save
    // that fails) leaves the whole program running as it was.
    if (windows_.korEdit != nullptr && !windows_.korEdit->AskAboutUnsavedText()) {
        return false;
    }
    Shutdown();
    return true;
}

void TMainForm::Shutdown()
{
    if (closed_) {
        return;
    }
    closed_ = true;
    // Everything the program's end writes (the device formats here, the main sections,
    // then the sections the other windows write when they are destroyed) goes into one
    // save of the file: the program ends this batch once those windows are gone.
    profile_.BeginBatch();
    layoutTable_.clear();
    run_->LeaveSpectrumPage();
    LeaveGeneratorPage();
    LeaveScopePage();
    engine_.ShutdownSoundEngine();
    SaveConfiguration();
    ClearCurve(state_.InCorrection);
    ClearCurve(state_.OutCorrection);

    // The other windows go with the main window.
    for (QWidget* w :
         std::initializer_list<QWidget*>{windows_.wavegen, windows_.diagramm, windows_.oszidia, windows_.korEdit}) {
        if (w != nullptr) {
            w->hide();
        }
    }
}

void TMainForm::SaveConfiguration()
{
    Settings& s = state_.settings;
    s.Main.MainLeft = x();
    s.Main.MainTop = y();
    if (windows_.diagramm) {
        s.Diagram.DiagramWidth = windows_.diagramm->width();
        s.Diagram.DiagramHeight = windows_.diagramm->height();
        s.Diagram.DiagramLeft = windows_.diagramm->x();
        s.Diagram.DiagramTop = windows_.diagramm->y();
    }
    // The correction files and flags in force now, so the next start restores them.
    s.Main.InCorrectionFile = loader_->StoredName(state_.InCorrection.fileName);
    s.Main.OutCorrectionFile = loader_->StoredName(state_.OutCorrection.fileName);
    s.Main.InCorrActive = state_.InCorrection.active;
    s.Main.OutCorrActive = state_.OutCorrection.active;
    WriteMainSections(profile_, s);
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    if (FormCloseQuery()) {
        e->accept();
        if (onClosed) {
            onClosed();
        }
    } else {
        e->ignore();
    }
}

}  // namespace sonvera
