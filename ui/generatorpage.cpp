#include "ui/generatorpage.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <cstdlib>

#include "config/sections.h"
#include "engine/soundengine.h"
#include "measure/limits.h"
#include "measure/prompt.h"
#include "measure/appmessages.h"
#include "ui/diagramlink.h"
#include "ui/levelsweepwindow.h"
#include "ui/logsweep.h"
#include "ui/mainpage.h"
#include "ui/shellstate.h"
#include "ui/wavegen.h"
#include "ui/wobbeldlg.h"

namespace sonvera {

using mainpage::Place;
using mainpage::Q;

GeneratorPage::GeneratorPage(QWidget* page, std::vector<QWidget*>& layout, SoundEngine& engine, ProfileFile& profile,
                             ShellState& state, DiagramLink& diagram, PageHost& host, QWidget* window)
    : engine_(engine), profile_(profile), state_(state), host_(host), diagram_(diagram)
{
    sweep_ = std::make_unique<SweepRun>(engine_, state_.settings, static_cast<SweepDiagram&>(diagram),
                                        static_cast<SweepPageView&>(*this), state_.InCorrection,
                                        state_.OutCorrection);
    logSweep_ = new TLogSweep(engine_, profile, state_.settings.LogSweep, static_cast<SweepDiagram&>(diagram), window);
    levelSweep_ = new TLevelSweep(engine_, static_cast<SweepDiagram&>(diagram), [this](int ms) { return SettleWait(ms); },
                                  window);
    levelSweep_->OtherRunBusy = [this] { return sweep_->SweepRunning || sweep_->SweepToneOn; };
    BuildPage(page, layout);
    // The limits chosen last come back; a file that went away or went wrong since is
    // left unused (the button's tip says none are in use).
    Limits limits;
    if (const std::string path = ReadSweepLimitsFile(profile_);
        !path.empty() && !ReadLimits(path, limits) && !limits.curve.empty()) {
        limitsPath_ = path;
        sweep_->SetLimits(std::move(limits));
    }
    ShowLimitsName();
}

GeneratorPage::~GeneratorPage() = default;

void GeneratorPage::BuildPage(QWidget* page, std::vector<QWidget*>& L)
{
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
    WobDialogBut = Place<QPushButton>(WobbelGroup, L, "WobDialogBut", 10, 98, 62, 28);
    WobDialogBut->setText(QStringLiteral("Setup"));
    LimitsBut = Place<QPushButton>(WobbelGroup, L, "LimitsBut", 78, 98, 92, 28);
    LimitsBut->setText(Q("Grenzwerte…"));
    // Its menu opens on a click; the caption needs the arrow's room.
    LimitsBut->setStyleSheet(QStringLiteral("QPushButton::menu-indicator { image: none; width: 0px; }"));
    WobOverload = Place<QLabel>(WobbelGroup, L, "WobOverload", 10, 128, 160, 18);
    WobOverload->setStyleSheet(QStringLiteral("color: red"));
    WobOverload->setToolTip(Q("evtl. Übersteuerung"));

    Button2 = Place<QPushButton>(page, L, "Button2", 284, 164, 86, 28);
    Button2->setText(QStringLiteral("Out-Para"));
    Button1 = Place<QPushButton>(page, L, "Button1", 378, 164, 86, 28);
    Button1->setText(Q("zurück"));
    // The log sweep has a window of its own; this opens it.
    LogSweepBut = Place<QPushButton>(page, L, "LogSweepBut", 284, 200, 86, 28);
    LogSweepBut->setText(QStringLiteral("Log-Sweep ..."));
    // So has the level sweep (THD+N against the output level).
    LevelSweepBut = Place<QPushButton>(page, L, "LevelSweepBut", 378, 200, 86, 28);

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

    QObject::connect(wobbelnBut, &QPushButton::clicked, page, [this] { sweep_->wobbelnButClick(); });
    QObject::connect(STOPbut, &QPushButton::clicked, page, [this] { sweep_->STOPbutClick(); });
    QObject::connect(WobDialogBut, &QPushButton::clicked, page, [this] { sweep_->WobDialogButClick(); });
    auto* limitsMenu = new QMenu(LimitsBut);
    QAction* chooseLimits = limitsMenu->addAction(QString());
    chooseLimits->setObjectName(QStringLiteral("LimitsChooseItem"));
    QAction* noLimits = limitsMenu->addAction(QString());
    noLimits->setObjectName(QStringLiteral("LimitsNoneItem"));
    LimitsBut->setMenu(limitsMenu);
    QObject::connect(limitsMenu, &QMenu::aboutToShow, page, [this, chooseLimits, noLimits] {
        const bool de = state_.settings.Main.UiLanguage != 'E';
        chooseLimits->setText(de ? Q("Datei wählen…") : QStringLiteral("Choose file…"));
        noLimits->setText(de ? QStringLiteral("Keine Grenzwerte") : QStringLiteral("No limits"));
        noLimits->setEnabled(!limitsPath_.empty());
    });
    QObject::connect(chooseLimits, &QAction::triggered, page, [this] {
        const bool de = state_.settings.Main.UiLanguage != 'E';
        const QString path = QFileDialog::getOpenFileName(LimitsBut, de ? QStringLiteral("Grenzwerte") : QStringLiteral("Limits"),
                                                          QFile::decodeName(limitsPath_.c_str()),
                                                          QStringLiteral("* (*)"));
        if (!path.isEmpty()) {
            LoadLimitsFile(path);
        }
    });
    QObject::connect(noLimits, &QAction::triggered, page, [this] { LoadLimitsFile(QString()); });
    QObject::connect(Button2, &QPushButton::clicked, page, [this] { sweep_->Button2Click(); });
    QObject::connect(Button1, &QPushButton::clicked, page, [this] { sweep_->Button1Click(); });
    QObject::connect(LogSweepBut, &QPushButton::clicked, page, [this] {
        // The first time beside the main window, not over its device line; after that
        // where the user left it.
        if (!logSweepPlaced_) {
            host_.PlaceBesideMainWindow(logSweep_);
            logSweepPlaced_ = true;
        }
        logSweep_->show();
        logSweep_->raise();
        logSweep_->activateWindow();
    });
    QObject::connect(LevelSweepBut, &QPushButton::clicked, page, [this] {
        if (!levelSweepPlaced_) {
            host_.PlaceBesideMainWindow(levelSweep_);
            levelSweepPlaced_ = true;
        }
        levelSweep_->show();
        levelSweep_->raise();
        levelSweep_->activateWindow();
    });
    SetTexts('D');
    // Dragging, the arrows and page clicks all end in a new value.
    QObject::connect(GenInSlider, &QScrollBar::valueChanged, page, [this](int p) {
        state_.settings.Volume.GenInVolume = 100 - p;
        SetInputLevel(100 - p);
    });
    QObject::connect(GenOutSlider, &QScrollBar::valueChanged, page, [this](int p) {
        state_.settings.Volume.GenOutVolume = 100 - p;
        engine_.SetOutputVolume(100 - p);
        ShowOutputVolume(engine_.GetOutputVolume());
        if (wavegen_ != nullptr) {
            wavegen_->ShowOutputVolume();
        }
    });
}

void GeneratorPage::AttachWindows(TWavegen* generator, Twobbeldlg* sweepDialog)
{
    wavegen_ = generator;
    wobbelDlg_ = sweepDialog;
}

void GeneratorPage::Enter()
{
    active_ = true;
    sweep_->EnterGeneratorPage();
    diagram_.ShowKeptResult(kept_);
}

void GeneratorPage::SetTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    LevelSweepBut->setText(language == 'D' ? Q("Pegelsweep …") : Q("Level sweep …"));
    levelSweep_->SetTexts(language);
}

void GeneratorPage::Leave()
{
    active_ = false;
    logSweep_->LeavePage();
    levelSweep_->Run().Stop();
    // The stepped sweep or the log sweep, whichever ran last; of a sweep in flight what
    // it measured so far (the step recording now is not stored any more).
    if (sweep_->GeneratorPageActive) {
        kept_ = diagram_.KeepResult();
    }
    sweep_->LeaveGeneratorPage();
}

std::vector<QWidget*> GeneratorPage::Lockables() const
{
    return {wobbelnBut, WobDialogBut, Button2, LimitsBut};
}

bool GeneratorPage::LoadLimitsFile(const QString& path)
{
    std::optional<Limits> limits;
    const std::string name = QFile::encodeName(path).toStdString();  // the file's name byte for byte
    if (!name.empty()) {
        limits.emplace();
        if (const LimitsError error = ReadLimits(name, *limits)) {
            ShowErrorPrompt(LimitsErrorText(error, state_.settings.Main.UiLanguage != 'E' ? 'D' : 'E'), 0);
            return false;
        }
        if (limits->curve.empty()) {
            ShowErrorPrompt(name + (state_.settings.Main.UiLanguage != 'E'
                                        ? ": keine Zeilen FREQUENZ UNTEN OBEN, die der Sweep prüfen kann"
                                        : ": no lines FREQUENCY LOWER UPPER the sweep can check"),
                            0);
            return false;
        }
    }
    limitsPath_ = name;
    sweep_->SetLimits(std::move(limits));
    WriteSweepLimitsFile(profile_, limitsPath_);
    ShowLimitsName();
    return true;
}

void GeneratorPage::ShowLimitsName()
{
    const bool de = state_.settings.Main.UiLanguage != 'E';
    LimitsBut->setToolTip(limitsPath_.empty() ? (de ? QStringLiteral("Keine Grenzwerte") : QStringLiteral("No limits"))
                                              : QFile::decodeName(limitsPath_.c_str()));
}

void GeneratorPage::ShowOutputVolume(int percent)
{
    Label8->setText(QString::number(percent) + QStringLiteral("%"));
}

void GeneratorPage::ShowLineLevel(int percent, const QString& lineLevel)
{
    {
        const QSignalBlocker block(GenInSlider);
        GenInSlider->setValue(100 - percent);
    }
    GenInLabel->setText(lineLevel);
}

void GeneratorPage::ShowInputLineName(const QString& name)
{
    Wobinptxt->setText(name);
}

// ---- Generator docking -------------------------------------------------------------------------

QPoint GeneratorPage::DockPoint() const
{
    return Generator->mapToGlobal(Generator->contentsRect().topLeft());
}

void GeneratorPage::DockGenerator(bool force)
{
    TWavegen* gen = wavegen_;
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

// ---- The generator page as the sweep sees it ---------------------------------------------------

void GeneratorPage::SetOverloadLabel(const std::string& text)
{
    WobOverload->setText(QString::fromStdString(text));
}

void GeneratorPage::SetFreqText(const std::string& text)
{
    FreqText->setText(QString::fromStdString(text));
}

void GeneratorPage::SetStartCaption(const std::string& text)
{
    wobbelnBut->setText(QString::fromStdString(text));
}

void GeneratorPage::SetSweepLockedControlsEnabled(bool enabled)
{
    Button2->setEnabled(enabled);
    LimitsBut->setEnabled(enabled);
    WobDialogBut->setEnabled(enabled);
    wobbelnBut->setEnabled(enabled);  // a running sweep shows START greyed
    host_.LockMenus(!enabled);
}

void GeneratorPage::SetAnalyseMenuEnabled(bool enabled)
{
    host_.SetAnalyseMenuEnabled(enabled);
}

void GeneratorPage::SetInputLevel(int percent)
{
    host_.SetInputLevel(percent);
}

void GeneratorPage::ShowInputLevel(int percent)
{
    host_.ShowInputLevel(percent);
}

void GeneratorPage::SetOutputSlider(int position)
{
    const QSignalBlocker block(GenOutSlider);
    GenOutSlider->setValue(position);
}

void GeneratorPage::SetOutputLabel(const std::string& text)
{
    Label8->setText(QString::fromStdString(text));
}

void GeneratorPage::ShowGeneratorOnPage(bool pageShown)
{
    TWavegen* gen = wavegen_;
    if (gen == nullptr) {
        return;
    }
    if (pageShown) {
        // Back over its group, where it stood from there when the page was left.
        if (generatorOffset_) {
            gen->move(DockPoint() + *generatorOffset_);
            generatorOffset_.reset();
        }
        gen->show();
        gen->raise();
    } else if (!generatorOffset_) {
        generatorOffset_ = gen->pos() - DockPoint();
    }
}

void GeneratorPage::PlaceGenerator(bool force)
{
    DockGenerator(force);
}

bool GeneratorPage::RunSweepDialog(SweepSettings& record)
{
    Twobbeldlg* dialog = wobbelDlg_;
    if (dialog == nullptr) {
        return false;
    }
    int rateIn = 0, rateOut = 0, bitsIn = 0, bitsOut = 0;
    engine_.GetSampleRates(rateIn, rateOut);
    engine_.GetFormatBits(bitsIn, bitsOut);
    dialog->ShowSweepDialog(record, state_.InCorrection, state_.OutCorrection, rateOut, bitsIn);
    if (host_.ShowModal(dialog) != QDialog::Accepted) {
        return false;
    }
    dialog->ReadSweepDialog(record);
    return true;
}

void GeneratorPage::ShowOutputFormatDialog()
{
    host_.ShowWaveFormatDialog(false);
}

bool GeneratorPage::SettleWait(int ms)
{
    // Window messages go on meanwhile: STOP, the sliders and repaints all work.
    if (!host_.Closed() && ms > 0) {
        QEventLoop wait;
        QTimer::singleShot(ms, Qt::PreciseTimer, &wait, &QEventLoop::quit);
        wait.exec();
    } else if (!host_.Closed()) {
        QCoreApplication::processEvents();
    }
    return !host_.Closed();
}

void GeneratorPage::PostSweepStep()
{
    host_.PostToMainWindow(WM_SWEEP_STEP);
}

void GeneratorPage::ReportRun(const RunReport& report)
{
    host_.ReportRun(report);
}

}  // namespace sonvera
