#pragma once

#include <QDialog>

#include <vector>

#include "measure/distortionmeter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace sonvera {

class SoundEngine;
class SpectrumDiagram;
class SpectrumRun;
class WeightingFilter;
struct Settings;

/// The distortion analyser of the spectrum page ("Klirranalysator"): the readings of both
/// channels, large, from each averaged spectrum of the analyser's run (its window, points,
/// average, the analysis band and weighting), in the modes THD, IMD, noise and crosstalk.
/// START plays what the mode needs (or, for THD and IMD without "play", measures what
/// arrives) and runs the analyser continuously; STOP ends both. The diagram shows the
/// spectrum with the readings as its result line; "Kopieren" puts the readings on the
/// clipboard as a table. Thin over DistortionMeter.
class TDistortion : public QDialog {
public:
    TDistortion(SpectrumRun& run, SoundEngine& engine, Settings& settings, WeightingFilter& filter,
                SpectrumDiagram& diagram, QWidget* parent = nullptr);
    ~TDistortion() override;

    /// The language routine: 'D' or 'E', any other letter changes nothing.
    void SetTexts(char language);

    void StartClick();
    void StopClick();
    void DiagramClick();
    void CopyClick();
    /// The analyser's run completed an average: read it.
    void ResultTaken();

    const DistortionMeter& Meter() const { return meter_; }
    bool Started() const { return started_; }

protected:
    void hideEvent(QHideEvent* e) override;

private:
    DistortionMeterSettings ChosenSettings() const;
    /// Plays the meter's signal of the current phase: "" or why not.
    std::string PlaySignal();
    void ShowReadings();
    void ShowStatus(const std::string& german, const std::string& english);
    void ModeChanged();
    void Watch();

    SpectrumRun& run_;
    SoundEngine& engine_;
    Settings& settings_;
    WeightingFilter& filter_;
    SpectrumDiagram& diagram_;
    DistortionMeter meter_;
    char language_ = 'D';
    bool started_ = false;
    bool playing_ = false;
    int previousRunMode_ = 1;
    std::string statusGerman_, statusEnglish_;

    QLabel* ModeLabel;
    QComboBox* DistMode;
    QComboBox* DistStandard;
    QCheckBox* DistPlay;
    QPushButton* DistStart;
    QPushButton* DistStop;
    QPushButton* DistDiagram;
    QPushButton* DistCopy;
    QPushButton* DistClose;
    QLabel* DistSettings;
    QLabel* LeftHeader;
    QLabel* RightHeader;
    std::vector<QLabel*> rowLabels_, leftValues_, rightValues_;
    QTableWidget* DistHarmonics;
    QLabel* DistStatus;
    QTimer* watch_;
};

}  // namespace sonvera
