#include "ui/logsweep.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "config/profilefile.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "measure/prompt.h"
#include "ui/impulse.h"
#include "ui/placing.h"

namespace sonvera {

namespace {

/// The window's own texts in one language.
struct LogSweepWindowTexts {
    const char* caption;
    const char* from;
    const char* to;
    const char* seconds;
    const char* level;
    const char* points;
    const char* mode;
    const char* reference;
    const char* stereo;
    const char* curve2;
    const char* curves[7];  // in the order of LogSweepCurve
    const char* close;
    const char* notANumber;  // followed by the field's name
    const char* impulse;
};

const LogSweepWindowTexts kGerman{
    "Log-Sweep",
    "Frequenz von",
    "bis",
    "Dauer s",
    "Pegel dig. dB",
    "Punkte/Oktave",
    "Messung",
    "Mono, links Ref.",
    "Stereo, keine Ref.",
    "Kurve 2",
    {"Phase", "THD", "H2", "H3", "H4", "H5", "Pegel links"},
    "Schließen",
    "Keine gültige Zahl: ",
    "Impulsantwort",
};

const LogSweepWindowTexts kEnglish{
    "Log sweep",
    "Frequency from",
    "to",
    "Duration s",
    "Level dig. dB",
    "Points/octave",
    "Measurement",
    "Mono, left ref.",
    "Stereo, no ref.",
    "Curve 2",
    {"Phase", "THD", "H2", "H3", "H4", "H5", "Level left"},
    "Close",
    "Not a valid number: ",
    "Impulse resp.",
};

const LogSweepWindowTexts& TextsOf(char language)
{
    return language == 'E' ? kEnglish : kGerman;
}

using placing::Place;

// The value with up to three decimals, trailing zeros left out.
QString Number(double v)
{
    std::string text = FormatReal(v, 3);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return QString::fromStdString(text);
}

}  // namespace

TLogSweep::TLogSweep(SoundEngine& engine, ProfileFile& profile, LogSweepSettings& settings, SweepDiagram& diagram,
                     QWidget* parent)
    : QDialog(parent),
      profile_(profile),
      settings_(settings),
      run_(engine, settings, diagram, static_cast<LogSweepView&>(*this))
{
    setObjectName(QStringLiteral("TLogSweep"));
    setFixedSize(360, 290);

    FromLabel = Place<QLabel>(this, "FromLabel", 10, 10, 100, 20);
    LogFrom = Place<QLineEdit>(this, "LogFrom", 112, 8, 70, 22);
    ToLabel = Place<QLabel>(this, "ToLabel", 190, 10, 32, 20);
    LogTo = Place<QLineEdit>(this, "LogTo", 224, 8, 70, 22);
    Place<QLabel>(this, "HzLabel", 300, 10, 30, 20)->setText(QStringLiteral("Hz"));
    SecondsLabel = Place<QLabel>(this, "SecondsLabel", 10, 38, 100, 20);
    LogSeconds = Place<QLineEdit>(this, "LogSeconds", 112, 36, 70, 22);
    LevelLabel = Place<QLabel>(this, "LevelLabel", 190, 38, 100, 20);
    LogLevel = Place<QLineEdit>(this, "LogLevel", 294, 36, 56, 22);
    PointsLabel = Place<QLabel>(this, "PointsLabel", 10, 66, 100, 20);
    LogPoints = Place<QSpinBox>(this, "LogPoints", 112, 64, 70, 22);
    LogPoints->setRange(1, kLogSweepMaxPointsPerOctave);
    LogRecording = Place<QPushButton>(this, "LogRecording", 190, 63, 160, 24);
    LogMode = Place<QGroupBox>(this, "LogMode", 10, 92, 340, 52);
    LogRef = Place<QRadioButton>(LogMode, "LogRef", 8, 22, 150, 22);
    LogStereo = Place<QRadioButton>(LogMode, "LogStereo", 170, 22, 166, 22);
    Curve2Label = Place<QLabel>(this, "Curve2Label", 10, 154, 100, 20);
    LogCurve2 = Place<QComboBox>(this, "LogCurve2", 112, 152, 120, 22);
    LogImpulse = Place<QPushButton>(this, "LogImpulse", 238, 151, 112, 24);
    impulse_ = new TImpulse(this);
    LogStart = Place<QPushButton>(this, "LogStart", 10, 184, 104, 30);
    LogStart->setText(QStringLiteral("START"));
    LogStop = Place<QPushButton>(this, "LogStop", 124, 184, 104, 30);
    LogStop->setText(QStringLiteral("STOP"));
    LogClose = Place<QPushButton>(this, "LogClose", 238, 184, 112, 30);
    LogProgress = Place<QProgressBar>(this, "LogProgress", 10, 222, 340, 18);
    LogProgress->setRange(0, 100);
    LogProgress->setValue(0);
    LogStatus = Place<QLabel>(this, "LogStatus", 10, 244, 340, 40);
    LogStatus->setWordWrap(true);
    LogStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (int i = 0; i < 7; ++i) {
        LogCurve2->addItem(QString());
    }
    timer_ = new QTimer(this);
    timer_->setInterval(100);

    connect(LogStart, &QPushButton::clicked, this, &TLogSweep::StartClick);
    connect(LogStop, &QPushButton::clicked, this, &TLogSweep::StopClick);
    connect(LogClose, &QPushButton::clicked, this, &QDialog::hide);
    connect(LogCurve2, &QComboBox::activated, this, &TLogSweep::Curve2Change);
    connect(LogImpulse, &QPushButton::clicked, this, &TLogSweep::ImpulseClick);
    connect(LogRecording, &QPushButton::clicked, this, &TLogSweep::RecordingClick);
    connect(LogStereo, &QRadioButton::toggled, this, &TLogSweep::OfferCurves);
    connect(timer_, &QTimer::timeout, this, &TLogSweep::Tick);

    ReadLogSweepSection(profile_, settings_);
    SetTexts('D');
    FillControls();
    SetRunning(false);
}

TLogSweep::~TLogSweep()
{
    if (changed_) {
        ReadControls(false);
        WriteSection();
    }
}

void TLogSweep::WriteSection()
{
    WriteLogSweepSection(profile_, settings_);
    changed_ = false;
}

void TLogSweep::showEvent(QShowEvent* e)
{
    // Shown, the window may change its settings: they are written when it goes.
    changed_ = true;
    QDialog::showEvent(e);
}

void TLogSweep::SetTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const LogSweepWindowTexts& t = TextsOf(language);
    setWindowTitle(QString::fromUtf8(t.caption));
    FromLabel->setText(QString::fromUtf8(t.from));
    ToLabel->setText(QString::fromUtf8(t.to));
    SecondsLabel->setText(QString::fromUtf8(t.seconds));
    LevelLabel->setText(QString::fromUtf8(t.level));
    PointsLabel->setText(QString::fromUtf8(t.points));
    LogMode->setTitle(QString::fromUtf8(t.mode));
    LogRef->setText(QString::fromUtf8(t.reference));
    LogStereo->setText(QString::fromUtf8(t.stereo));
    Curve2Label->setText(QString::fromUtf8(t.curve2));
    for (int i = 0; i < 7; ++i) {
        LogCurve2->setItemText(i, QString::fromUtf8(t.curves[i]));
    }
    LogClose->setText(QString::fromUtf8(t.close));
    LogImpulse->setText(QString::fromUtf8(t.impulse));
    LogRecording->setText(QString::fromStdString(LogSweepTextsFor(language)->analyseRecording));
    impulse_->SetTexts(language);
    run_.SetLanguage(language);
    if (!run_.Running() && run_.HasResult()) {
        LogStatus->setText(QString::fromStdString(run_.ResultLine()));
    }
}

void TLogSweep::FillControls()
{
    LogFrom->setText(Number(settings_.LogSweepFrom));
    LogTo->setText(Number(settings_.LogSweepTo));
    LogSeconds->setText(Number(settings_.LogSweepSeconds));
    LogLevel->setText(Number(settings_.LogSweepLevel));
    LogPoints->setValue(settings_.LogSweepPointsPerOctave);
    LogRef->setChecked(settings_.LogSweepWithRef);
    LogStereo->setChecked(!settings_.LogSweepWithRef);
    LogCurve2->setCurrentIndex(static_cast<int>(settings_.LogSweepCurve2));
    OfferCurves();
}

void TLogSweep::OfferCurves()
{
    // The left input is measured on its own only without the reference: its level is
    // offered in stereo mode alone, and a choice of it falls back to the phase.
    const bool stereo = LogStereo->isChecked();
    auto* items = qobject_cast<QStandardItemModel*>(LogCurve2->model());
    if (items != nullptr) {
        items->item(static_cast<int>(LogSweepCurve::LeftLevel))->setEnabled(stereo);
    }
    if (!stereo && LogCurve2->currentIndex() == static_cast<int>(LogSweepCurve::LeftLevel)) {
        LogCurve2->setCurrentIndex(static_cast<int>(LogSweepCurve::Phase));
        Curve2Change(LogCurve2->currentIndex());
    }
}

bool TLogSweep::ReadControls(bool warn)
{
    const LogSweepWindowTexts& t = TextsOf(language_);
    struct Field {
        QLineEdit* edit;
        QLabel* label;
        double* target;
    };
    const Field fields[] = {{LogFrom, FromLabel, &settings_.LogSweepFrom},
                            {LogTo, ToLabel, &settings_.LogSweepTo},
                            {LogSeconds, SecondsLabel, &settings_.LogSweepSeconds},
                            {LogLevel, LevelLabel, &settings_.LogSweepLevel}};
    for (const Field& f : fields) {
        const auto v = ParseReal(f.edit->text().trimmed().toStdString());
        if (!v) {
            if (warn) {
                ShowWarningPrompt(t.notANumber + f.label->text().toStdString());
                f.edit->setFocus();
            }
            return false;
        }
        *f.target = *v;
    }
    settings_.LogSweepPointsPerOctave = LogPoints->value();
    settings_.LogSweepWithRef = LogRef->isChecked();
    settings_.LogSweepCurve2 = static_cast<LogSweepCurve>(LogCurve2->currentIndex());
    return true;
}

void TLogSweep::StartClick()
{
    if (run_.Running() || !ReadControls(true)) {
        return;
    }
    LogProgress->setValue(0);
    run_.Start();
}

void TLogSweep::StopClick()
{
    run_.Stop();
}

void TLogSweep::Curve2Change(int index)
{
    settings_.LogSweepCurve2 = static_cast<LogSweepCurve>(index);
    if (!run_.Running()) {
        run_.ShowResult();
    }
}

void TLogSweep::ImpulseClick()
{
    if (run_.Running() || !run_.HasResult()) {
        return;
    }
    impulse_->SetResult(run_.Result());
    impulse_->show();
    impulse_->raise();
}

void TLogSweep::RecordingClick()
{
    if (run_.Running() || !ReadControls(true)) {
        return;
    }
    const QString path = QFileDialog::getOpenFileName(
        this, QString::fromStdString(LogSweepTextsFor(language_)->analyseRecording), QString(),
        QStringLiteral("Wave (*.wav *.WAV);;* (*)"));
    if (!path.isEmpty()) {
        AnalyseRecordingFile(path);
    }
}

bool TLogSweep::AnalyseRecordingFile(const QString& path)
{
    if (run_.Running() || !ReadControls(false)) {
        return false;
    }
    return run_.AnalyseRecording(path.toStdString(),
                                 settings_.LogSweepWithRef ? LogSweepInputMode::Reference : LogSweepInputMode::Stereo);
}

void TLogSweep::LeavePage()
{
    run_.Stop();
    impulse_->hide();
    hide();
}

void TLogSweep::hideEvent(QHideEvent* e)
{
    run_.Stop();
    ReadControls(false);  // what was typed last counts, as far as it is a number
    WriteSection();
    QDialog::hideEvent(e);
}

void TLogSweep::SetRunning(bool running)
{
    runningShown_ = running;
    for (QWidget* w : std::initializer_list<QWidget*>{LogFrom, LogTo, LogSeconds, LogLevel, LogPoints, LogMode,
                                                      LogStart, LogRecording}) {
        w->setEnabled(!running);
    }
    LogStop->setEnabled(running);
    LogImpulse->setEnabled(!running && run_.HasResult());
    if (running) {
        timer_->start();
    } else {
        timer_->stop();
        LogProgress->setValue(run_.HasResult() ? 100 : 0);
        if (impulse_->isVisible() && run_.HasResult()) {
            impulse_->SetResult(run_.Result());  // the new result's response
        }
    }
}

void TLogSweep::SetStatus(const std::string& text)
{
    LogStatus->setText(QString::fromStdString(text));
}

void TLogSweep::Tick()
{
    if (runningShown_ && !run_.Running()) {
        // Ended without its completion (the sound system was restarted meanwhile).
        run_.Stop();
        SetRunning(false);
        return;
    }
    LogProgress->setValue(static_cast<int>(std::lround(100.0 * run_.Progress())));
}

}  // namespace sonvera
