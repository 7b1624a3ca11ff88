#include "ui/mainform.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPrinter>
#include <QSpinBox>
#include <QTabWidget>
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
#include "scope/eichdlg.h"
#include "scope/oszidia.h"
#include "ui/analy.h"
#include "ui/diagramlink.h"
#include "ui/distortion.h"
#include "ui/featdlg.h"
#include "ui/generatorpage.h"
#include "ui/helpwindow.h"
#include "ui/iodialog.h"
#include "ui/koredit.h"
#include "ui/logsweep.h"
#include "ui/scopepage.h"
#include "ui/shellwindows.h"
#include "ui/spectrumpage.h"
#include "ui/wavegen.h"
#include "ui/wobbeldlg.h"

namespace sonvera {

using mainpage::Place;
using mainpage::Q;

namespace {

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
    {"Klirranalysator1", "&Klirranalysator …", "&Distortion analyser …"},
    {"DistortionBut", "Klirranalysator …", "Distortion …"},
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
    {"LimitsBut", "Grenzwerte…", "Limits…"},
};

const char* const kPageCaptions[2][3] = {
    {"Spektrumanalyser", "Frequenzgenerator", "Oszilloskop"},
    {"Spectrumanalyzer", "Frequency Generator", "Oszilloscope"},
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

TMainForm::TMainForm(SoundEngine& engine, ProfileFile& profile, ShellState& state)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                               Qt::MSWindowsFixedSizeDialogHint),
      engine_(engine),
      profile_(profile),
      state_(state),
      loader_(std::make_unique<CurveFileLoader>(static_cast<CurveMessageSink&>(*this))),
      diagramLink_(std::make_unique<DiagramLink>()),
      messages_(&kGermanMessages)
{
    setObjectName(QStringLiteral("TMainForm"));
    // Correction files named without a folder live beside the configuration file.
    loader_->SetFolder(ConfigFolder(profile_.Path()));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(8);
    font.setBold(true);
    setFont(font);
    BuildPages();
    BuildMenus();
    qApp->installEventFilter(this);  // F1 in every window (removed with the window)
    // The designed client size; the window opens with it and may only grow.
    centralWidget()->setMinimumSize(kDesignedClient);
    adjustSize();
    centralWidget()->setMinimumSize(0, 0);
}

TMainForm::~TMainForm() = default;

TLogSweep& TMainForm::LogSweep()
{
    return generatorPage_->LogSweep();
}

// ---- Construction of the controls --------------------------------------------------------

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

    PageHost& host = *this;
    spectrumPage_ = std::make_unique<SpectrumPage>(page0, L, engine_, state_, *diagramLink_, host, this);
    generatorPage_ = std::make_unique<GeneratorPage>(page1, L, engine_, profile_, state_, *diagramLink_, host, this);
    scopePage_ = std::make_unique<ScopePage>(page2, L, engine_, state_, host);
    run_ = &spectrumPage_->Run();
    sweep_ = &generatorPage_->Run();
    scope_ = &scopePage_->Run();

    connect(TabbedNotebook1, &QTabWidget::currentChanged, this, &TMainForm::TabbedNotebook1Change);

    // Controls a run may lock; a click on one that is locked says why (see eventFilter).
    lockables_ = spectrumPage_->Lockables();
    for (QWidget* w : generatorPage_->Lockables()) {
        lockables_.push_back(w);
    }
}

// ---- Start ---------------------------------------------------------------------------------

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
    shown.SetAverVal = [this](int v) { spectrumPage_->AverValBox->setValue(v); };
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
    scopePage_->AttachView(windows.oszidia);
    generatorPage_->AttachWindows(windows.wavegen, windows.wobbelDlg);
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
        // "Ana." and the generator page's "Out" set the same output level: what the user
        // set on either stays, also across page changes.
        windows.wavegen->onOutputVolume = [this](int volume) {
            state_.settings.Volume.GenOutVolume = volume;
            generatorPage_->SetOutputSlider(100 - volume);
            generatorPage_->ShowOutputVolume(volume);
        };
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
            spectrumPage_->SetChannelColours(colour(c1), colour(c2));
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
    LogSweep().SetTexts(letter);
    spectrumPage_->Distortion().SetTexts(letter);
    if (generatorPage_) generatorPage_->SetTexts(letter);
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
        flags->setIcon(QIcon(spectrumPage_->Image1->pixmap()));
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
    return spectrumPage_->Image1 ? spectrumPage_->Image1->pixmap() : QPixmap();
}

// ---- Pages ---------------------------------------------------------------------------------

void TMainForm::LeavePage(int page)
{
    switch (page) {
    case 0: spectrumPage_->Leave(); break;
    case 1: LeaveGeneratorPage(); break;
    case 2: LeaveScopePage(); break;
    default: break;
    }
}

void TMainForm::EnterPage(int page)
{
    switch (page) {
    case 0: spectrumPage_->Enter(); break;
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

void TMainForm::EnterGeneratorPage()
{
    generatorPage_->Enter();
}

void TMainForm::LeaveGeneratorPage()
{
    generatorPage_->Leave();
}

void TMainForm::EnterScopePage()
{
    scope_->EnterScopePage();
}

void TMainForm::LeaveScopePage()
{
    scope_->LeaveScopePage();
}

// ---- The status line and the pages' messages -------------------------------------------------

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

void TMainForm::PostToMainWindow(int message)
{
    PostAppMessage(this, message);
}

void TMainForm::CloseMainWindow()
{
    close();
}

void TMainForm::Warning(const std::string& text)
{
    ShowWarningPrompt(text);
}

// ---- Help and the application-wide keys and clicks ----------------------------------------------

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
