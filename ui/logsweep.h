#pragma once

#include <QDialog>

#include <memory>

#include "config/settings.h"
#include "measure/logsweeprun.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace sonvera {

class ProfileFile;
class SoundEngine;
class SweepDiagram;
class TImpulse;

/// The log sweep window of the generator page ("Log-Sweep"): band, duration, level,
/// points per octave, reference or stereo, what the diagram's second curve shows;
/// START, STOP, a progress bar and the result line; "Analyse recording..." analyses a
/// recording of the sweep file made elsewhere; "Impulsantwort" shows the last
/// result's impulse response with its window (TImpulse). Thin over LogSweepRun; reads section
/// LOGSWEEP when created and writes it when it is hidden, or destroyed after being shown.
class TLogSweep : public QDialog, private LogSweepView {
public:
    TLogSweep(SoundEngine& engine, ProfileFile& profile, LogSweepSettings& settings, SweepDiagram& diagram,
              QWidget* parent = nullptr);
    ~TLogSweep() override;

    /// The language routine: 'D' or 'E', any other letter changes nothing.
    void SetTexts(char language);
    /// The generator page is left: a sweep in flight ends, the window goes.
    void LeavePage();

    void StartClick();
    void StopClick();
    void Curve2Change(int index);
    void ImpulseClick();
    /// "Analyse recording...": asks for a wave file, then AnalyseRecordingFile.
    void RecordingClick();
    /// The file as a recording of the sweep file of the typed settings, in the chosen
    /// mode (a file with equal channels as one channel); the result shows as a sweep's.
    bool AnalyseRecordingFile(const QString& path);
    TImpulse& ImpulseWindow() { return *impulse_; }
    void OfferCurves();

    LogSweepRun& Run() { return run_; }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    // LogSweepView.
    void SetRunning(bool running) override;
    void SetStatus(const std::string& text) override;

    void FillControls();
    /// The typed values into the settings; false when one is not a number (with a
    /// warning naming the field when `warn`).
    bool ReadControls(bool warn);
    void Tick();
    void WriteSection();

    ProfileFile& profile_;
    LogSweepSettings& settings_;
    LogSweepRun run_;
    char language_ = 'D';
    bool runningShown_ = false;
    bool changed_ = false;  // shown since the section was last written

    QLabel* FromLabel;
    QLabel* ToLabel;
    QLabel* SecondsLabel;
    QLabel* LevelLabel;
    QLabel* PointsLabel;
    QLabel* Curve2Label;
    QLineEdit* LogFrom;
    QLineEdit* LogTo;
    QLineEdit* LogSeconds;
    QLineEdit* LogLevel;
    QSpinBox* LogPoints;
    QGroupBox* LogMode;
    QRadioButton* LogRef;
    QRadioButton* LogStereo;
    QComboBox* LogCurve2;
    QPushButton* LogStart;
    QPushButton* LogStop;
    QPushButton* LogClose;
    QProgressBar* LogProgress;
    QLabel* LogStatus;
    QPushButton* LogImpulse;
    QPushButton* LogRecording;
    TImpulse* impulse_;
    QTimer* timer_;
};

}  // namespace sonvera
