#include "ui/wavegen.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdint>
#include <string>

#include "config/profilefile.h"
#include "engine/soundengine.h"
#include "ui/placing.h"

namespace sonvera {

using namespace placing;

namespace {

constexpr int kClientWidth = 264;
constexpr int kClientHeight = 196;

QColor ToQColor(std::uint32_t bgr)
{
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

QString Text(const std::string& s)
{
    return QString::fromStdString(s);
}

QScrollBar* PlaceLevelBar(QWidget* parent, const char* name, int x)
{
    auto* bar = Place<QScrollBar>(parent, name, x, 22, 16, 150);
    bar->setOrientation(Qt::Vertical);  // 0 at the top
    bar->setRange(0, 100);
    bar->setSingleStep(1);
    bar->setPageStep(10);
    bar->setValue(0);
    return bar;
}

}  // namespace

TWavegen::TWavegen(SoundEngine& engine, GeneratorSettings& settings, CorrectionCurve& outCorrection,
                   ProfileFile& profile, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      engine_(engine),
      settings_(settings),
      control_(engine, settings, outCorrection),
      profile_(profile)
{
    setObjectName(QStringLiteral("TWavegen"));
    setProperty("helpContext", kHelpContext);  // the page F1 opens
    setWindowTitle(QStringLiteral("Generator"));
    setFixedSize(kClientWidth, kClientHeight);
    BuildControls();
    Connect();
    control_.LoadGeneratorSettings(profile_);
    Refresh();
}

TWavegen::~TWavegen()
{
    // The controls die after this body; one that loses the focus then (an edit finishing)
    // must not call back into the half-destroyed window.
    for (QObject* child : findChildren<QObject*>()) {
        child->disconnect(this);
    }
    control_.SaveGeneratorSettings(profile_);
}

void TWavegen::BuildControls()
{
    Panel1 = Place<QFrame>(this, "Panel1", 4, 4, 112, 30);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    GfreqText = Place<QLineEdit>(Panel1, "GfreqText", 3, 3, 106, 24);
    GfreqText->setFrame(false);
    GfreqText->setAutoFillBackground(true);
    GfreqText->setAlignment(Qt::AlignCenter);
    QFont big = GfreqText->font();
    big.setPointSize(12);
    big.setBold(true);
    GfreqText->setFont(big);

    PlaceSpinButtons(this, "GrobSpin", 118, 4, 16, 30, GrobSpinUp, GrobSpinDown)
        ->setToolTip(QString::fromUtf8("\u00b1100 Hz"));
    PlaceSpinButtons(this, "FeinSpin", 136, 4, 16, 30, FeinSpinUp, FeinSpinDown)
        ->setToolTip(QString::fromUtf8("\u00b11 Hz"));

    Gstart = Place<QPushButton>(this, "Gstart", 4, 38, 48, 24);
    Gstart->setText(QStringLiteral("Start"));
    Gstop = Place<QPushButton>(this, "Gstop", 54, 38, 48, 24);
    Gstop->setText(QStringLiteral("Stop"));
    WOoptBut = Place<QPushButton>(this, "WOoptBut", 104, 38, 48, 24);
    WOoptBut->setText(QStringLiteral("Opt."));

    RadioGroup1 = Place<QGroupBox>(this, "RadioGroup1", 4, 66, 76, 128);
    RadioGroup1->setTitle(QStringLiteral("Form"));
    waveforms_ = new QButtonGroup(this);
    // Eight waveforms in the group's height: the rows stand closer than the other controls'.
    const char* const items[kGeneratorWaveformCount] = {"Sin", "Sqr", "white", "pink", "User", "SMPTE", "DIN", "CCIF"};
    for (int i = 0; i < kGeneratorWaveformCount; ++i) {
        const std::string name = "RadioGroup1" + std::to_string(i);
        auto* b = Place<QRadioButton>(RadioGroup1, name.c_str(), 6, 16 + i * 14, 68, 14);
        b->setText(QString::fromLatin1(items[i]));
        waveforms_->addButton(b, i);
    }

    Label5 = PlaceLabel(this, "Label5", QString::fromUtf8("Phase\u00b0"), 84, 66, 68, 16, Qt::AlignCenter);
    phL = Place<QLineEdit>(this, "phL", 84, 84, 33, 22);
    phR = Place<QLineEdit>(this, "phR", 119, 84, 33, 22);
    for (QLineEdit* e : {phL, phR}) {
        e->setText(QStringLiteral("0"));
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    PrecOut = PlaceLabel(this, "PrecOut", QStringLiteral("0"), 84, 110, 68, 16, Qt::AlignCenter);
    UserBut = Place<QPushButton>(this, "UserBut", 84, 142, 68, 24);
    UserBut->setText(QStringLiteral("User"));
    wghelp = Place<QPushButton>(this, "wghelp", 84, 170, 68, 24);
    wghelp->setText(QStringLiteral("Hilfe"));
    for (QPushButton* b : {Gstart, Gstop, WOoptBut, UserBut, wghelp}) {
        b->setAutoDefault(false);
    }

    // Two digital level bars and the analog volume bar, each with its value below.
    Label1 = PlaceLabel(this, "Label1", QStringLiteral("L dig. R"), 156, 4, 74, 16, Qt::AlignCenter);
    ScrollBar4 = PlaceLevelBar(this, "ScrollBar4", 166);
    ScrollBar1 = PlaceLevelBar(this, "ScrollBar1", 206);
    Label2 = PlaceLabel(this, "Label2", QStringLiteral("Ana."), 230, 4, 34, 16, Qt::AlignCenter);
    ScrollBar2 = PlaceLevelBar(this, "ScrollBar2", 241);
    Label4 = PlaceLabel(this, "Label4", QStringLiteral("0dB"), 154, 176, 40, 16, Qt::AlignCenter);
    Label6 = PlaceLabel(this, "Label6", QStringLiteral("0dB"), 194, 176, 40, 16, Qt::AlignCenter);
    Label3 = PlaceLabel(this, "Label3", QStringLiteral("100%"), 234, 176, 30, 16, Qt::AlignCenter);
    QFont small = Label4->font();
    small.setPointSize(std::max(6, small.pointSize() - 1));
    for (QLabel* value : {Label4, Label6, Label3}) {
        value->setFont(small);
    }
}

void TWavegen::Connect()
{
    // The arrows count at once and from the frequency in force: text typed and not yet
    // taken is dropped.
    auto step = [this](auto handler) {
        return [this, handler] {
            typingPause_->stop();
            freqTyped_ = false;
            handler();
            control_.UpdateFreqText();
            Refresh();
        };
    };
    connect(GrobSpinUp, &QToolButton::clicked, this, step([this] { control_.GrobSpinUp(); }));
    connect(GrobSpinDown, &QToolButton::clicked, this, step([this] { control_.GrobSpinDown(); }));
    connect(FeinSpinUp, &QToolButton::clicked, this, step([this] { control_.FeinSpinUp(); }));
    connect(FeinSpinDown, &QToolButton::clicked, this, step([this] { control_.FeinSpinDown(); }));
    connect(Gstart, &QPushButton::clicked, this, [this] { StartClicked(); });
    connect(Gstop, &QPushButton::clicked, this, [this] { GstopClick(); });
    connect(WOoptBut, &QPushButton::clicked, this, [this] {
        if (control_.WOoptButAllowed() && onOutputFormat) {
            onOutputFormat();
        }
    });
    // A typed frequency counts when the field is left, on Enter, or after a pause in
    // typing, and only when it is valid; no keystroke on the way plays anything.
    typingPause_ = new QTimer(this);
    typingPause_->setObjectName(QStringLiteral("TypingPause"));
    typingPause_->setSingleShot(true);
    typingPause_->setInterval(kTypingPauseMs);
    connect(typingPause_, &QTimer::timeout, this, [this] { CommitTypedFrequency(false); });
    connect(GfreqText, &QLineEdit::textEdited, this, [this](const QString& text) {
        control_.GfreqTextChange(text.toStdString());
        freqTyped_ = true;
        typingPause_->start();
        Refresh();
    });
    connect(phL, &QLineEdit::textEdited, this, [this](const QString& text) {
        control_.PhLChange(text.toStdString());
        Refresh();
    });
    connect(phR, &QLineEdit::textEdited, this, [this](const QString& text) {
        control_.PhRChange(text.toStdString());
        Refresh();
    });
    connect(GfreqText, &QLineEdit::editingFinished, this, [this] { CommitTypedFrequency(true); });
    // A phase counts at every keystroke that leaves a number; when the user leaves the
    // field it shows the value in force again.
    connect(phL, &QLineEdit::editingFinished, this, [this] {
        control_.Display.phaseLeft = std::to_string(settings_.GenPhaseL);
        Refresh();
    });
    connect(phR, &QLineEdit::editingFinished, this, [this] {
        control_.Display.phaseRight = std::to_string(settings_.GenPhaseR);
        Refresh();
    });
    connect(ScrollBar4, &QScrollBar::valueChanged, this, [this](int p) {
        control_.ScrollBar4Scroll(p);
        Refresh();
    });
    connect(ScrollBar1, &QScrollBar::valueChanged, this, [this](int p) {
        control_.ScrollBar1Scroll(p);
        Refresh();
    });
    connect(ScrollBar2, &QScrollBar::valueChanged, this, [this](int p) {
        control_.ScrollBar2Scroll(p);
        Refresh();
        const int volume = engine_.GetOutputVolume();
        if (onOutputVolume && volume >= 0) {
            onOutputVolume(volume);
        }
    });
    connect(waveforms_, &QButtonGroup::idClicked, this, [this](int id) {
        control_.RadioGroup1Click(id);
        Refresh();
    });
    connect(UserBut, &QPushButton::clicked, this, [this] { UserButClick(); });
    connect(wghelp, &QPushButton::clicked, this, [this] {
        if (helpHandler_) {
            helpHandler_(kHelpContext);
        }
    });
}

void TWavegen::Refresh()
{
    const GeneratorDisplay& d = control_.Display;

    const QSignalBlocker b1(GfreqText), b2(phL), b3(phR), b4(ScrollBar4), b5(ScrollBar1), b6(waveforms_);
    ShowText(GfreqText, Text(d.freqText));
    QPalette panel = Panel1->palette();
    panel.setColor(QPalette::Window, ToQColor(d.panelColour));
    Panel1->setPalette(panel);
    QPalette edit = GfreqText->palette();
    edit.setColor(QPalette::Base, ToQColor(d.panelColour));
    edit.setColor(QPalette::Window, ToQColor(d.panelColour));
    edit.setColor(QPalette::Text, ToQColor(d.freqColour));
    GfreqText->setPalette(edit);

    if (QAbstractButton* item = waveforms_->button(d.waveformItem)) {
        item->setChecked(true);
    }
    ScrollBar4->setValue(d.scrollLeft);
    ScrollBar1->setValue(d.scrollRight);
    Label4->setText(Text(d.labelLeft));
    Label6->setText(Text(d.labelRight));
    ShowText(phL, Text(d.phaseLeft));
    ShowText(phR, Text(d.phaseRight));
    for (QWidget* w : std::initializer_list<QWidget*>{ScrollBar4, ScrollBar1, phL, phR}) {
        w->setEnabled(d.levelControlsEnabled);
    }
    WOoptBut->setEnabled(d.optEnabled);
    PrecOut->setText(Text(d.precOut));
    Label3->setText(Text(d.volumeLabel));
}

void TWavegen::SetGeneratorTexts(char language)
{
    control_.SetGeneratorTexts(language);
}

void TWavegen::CommitTypedFrequency(bool leaving)
{
    typingPause_->stop();
    if (freqTyped_) {
        const std::string typed = GfreqText->text().toStdString();
        freqTyped_ = false;
        if (!control_.GfreqTextCommit(typed)) {
            Report(RunEvent::Refused, Refusal::InvalidFrequency, typed);
            freqTyped_ = !leaving;  // still being typed: the text stays as it is
        }
    }
    if (leaving) {
        control_.UpdateFreqText();
    }
    Refresh();
}

void TWavegen::Report(RunEvent event, Refusal refusal, const std::string& detail)
{
    if (onReport) {
        RunReport report{Measurement::Generator, event};
        report.refusal = refusal;
        report.control = event == RunEvent::Refused && refusal != Refusal::InvalidFrequency ? "Start" : "";
        report.detail = detail;
        if (refusal == Refusal::InvalidFrequency) {
            report.freqHz = control_.MaxHz();  // the range named in the refusal
        }
        onReport(report);
    }
}

void TWavegen::StartClicked()
{
    const bool on = control_.Display.panelColour == kColourDarkRed || control_.UserWavePlaying();
    if (on) {
        Report(RunEvent::Refused, Refusal::AlreadyRunning);
    } else if (engine_.PlaybackActive()) {
        Report(RunEvent::Refused, Refusal::SweepPlaying);
    } else if (settings_.GenFrequency == 0) {
        Report(RunEvent::Refused, Refusal::NoFrequency);
    } else {
        control_.GstartClick();
        if (control_.Display.panelColour == kColourDarkRed) {
            Report(RunEvent::Running, Refusal::None, control_.Display.freqText);
        }
    }
    Refresh();
}

void TWavegen::GstopClick()
{
    const bool wasOn = control_.Display.panelColour == kColourDarkRed;
    control_.GstopClick();
    if (wasOn && control_.Display.panelColour != kColourDarkRed) {
        Report(RunEvent::Stopped);
    }
    Refresh();
}

QFileDialog* TWavegen::UserOpenDialog()
{
    if (OpenDialog1 == nullptr) {
        OpenDialog1 = new QFileDialog(this);
        OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
        OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
        OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog1->setFileMode(QFileDialog::ExistingFile);
        OpenDialog1->setNameFilter(QStringLiteral("Wave File (*.wav)"));
    }
    return OpenDialog1;
}

void TWavegen::UserButClick()
{
    QFileDialog* dialog = UserOpenDialog();
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return;
    }
    control_.UserButChosen(dialog->selectedFiles().first().toStdString());
    // Nothing restarts, but in "User" mode the display names the file that Start plays.
    control_.UpdateFreqText();
    Refresh();
}

void TWavegen::ShowOutputVolume()
{
    // The bar shows the device's volume as it is now rather than the designed 100 %
    // (the volume may have been set elsewhere since).
    const int volume = engine_.GetOutputVolume();
    if (volume < 0) {
        return;
    }
    const QSignalBlocker block(ScrollBar2);
    ScrollBar2->setValue(100 - std::clamp(volume, 0, 100));
    control_.Display.volumeLabel = std::to_string(volume) + "%";
    Refresh();
}

void TWavegen::closeEvent(QCloseEvent* event)
{
    control_.SaveGeneratorSettings(profile_);
    QWidget::closeEvent(event);
}

void TWavegen::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The sweep writes the same settings while it runs; show what is in force now.
    control_.UpdateFreqText();
    ShowOutputVolume();
    Refresh();
}

}  // namespace sonvera
