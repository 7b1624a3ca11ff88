#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagram/diagrammodel.h"
#include "measure/spectrumrun.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QTimer;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QWidget;

namespace sonvera {

class DiagramLink;
class PageHost;
class SoundEngine;
class TDistortion;
struct ShellState;

/// The spectrum analyser's page of the main window: its controls (named as in the
/// window layout) and the spectrum run they drive.
class SpectrumPage : private SpectrumPageView {
public:
    /// Builds the controls on `page`, adding them to `layout`.
    SpectrumPage(QWidget* page, std::vector<QWidget*>& layout, SoundEngine& engine, ShellState& state,
                 DiagramLink& diagram, PageHost& host, QWidget* window);
    ~SpectrumPage() override;
    SpectrumPage(const SpectrumPage&) = delete;
    SpectrumPage& operator=(const SpectrumPage&) = delete;

    SpectrumRun& Run() { return *run_; }
    /// The distortion analyser over this page's run (a window of its own).
    TDistortion& Distortion() { return *distortion_; }
    /// "Klirranalysator ...": shows it, the first time beside the main window.
    void ShowDistortion();

    /// Entering the page shows the result it had when it was left (curves, result line;
    /// the comment comes back from the settings); leaving keeps it. One result is kept,
    /// until a new run of this page replaces it.
    void Enter();
    void Leave();

    /// The page's controls a run may lock.
    std::vector<QWidget*> Lockables() const;
    /// "In-Parameter": the input's wave format dialog.
    void BinpoptClick();
    /// The input slider at `percent` (its handler not called) and the level the line has.
    void ShowLineLevel(int percent, const QString& lineLevel);
    /// The measure group titled with the name of the recording line.
    void ShowInputLineName(const QString& name);
    /// The channel boxes in the colours of their curves (colour names such as "#ff0000").
    void SetChannelColours(const QString& left, const QString& right);

    // Controls.
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QPushButton* DistortionBut = nullptr;
    QGroupBox* FFTwinGroup = nullptr;
    QGroupBox* FFTpointsgroup = nullptr;
    /// The sizes beyond 4096: the fifth choice of the group with its list of sizes.
    QComboBox* FFTpointsCombo = nullptr;
    QGroupBox* RunningGroup = nullptr;
    QGroupBox* MeasureGroup = nullptr;
    QLabel* Overload = nullptr;
    QScrollBar* ScrollBar3 = nullptr;
    QLabel* InLevelLabel = nullptr;
    QCheckBox* MeasureLeft = nullptr;
    QCheckBox* MeasureRight = nullptr;
    QLabel* Label6 = nullptr;
    QSpinBox* AverValBox = nullptr;
    QGroupBox* InputGroup = nullptr;
    QPushButton* Binpopt = nullptr;
    QLabel* Lsf = nullptr;
    QLabel* Ldb = nullptr;
    QLabel* coract = nullptr;
    QLabel* Image1 = nullptr;  // the flag picture of the language menu item, hidden

private:
    void BuildPage(QWidget* page, std::vector<QWidget*>& layout);
    /// The status line's progress of a block longer than a second.
    void ShowBlockProgress();

    // SpectrumPageView.
    void SetOverloadLabel(const std::string& text) override;
    void ShowAverVal(int value) override;
    int AverVal() const override;
    void SetRunLockedControlsEnabled(bool enabled) override;
    void SetBinpoptEnabled(bool enabled) override;
    void SelectRunMode(int index) override;
    void SelectFftWindow(int index) override;
    void SelectFftPointsItem(int index) override;
    void SetInputFormatLabels(const std::string& bits, const std::string& rate) override;
    void SetAnalyseMenuEnabled(bool enabled) override;
    void SetAnalysisChecks(bool thd, bool noise) override;
    void SetChannelChecks(bool left, bool right) override;
    void SetInputLevel(int percent) override;
    void ShowInputLevel(int percent) override;
    void PostSpectrumNext() override;
    void CloseMainWindow() override;
    void ReportRun(const RunReport& report) override;

    ShellState& state_;
    PageHost& host_;
    DiagramLink& diagram_;
    std::unique_ptr<SpectrumRun> run_;
    std::optional<DiagramResult> kept_;  // what the diagram showed when the page was left
    QButtonGroup* fftWinButtons_ = nullptr;
    QButtonGroup* fftPointsButtons_ = nullptr;
    QButtonGroup* runningButtons_ = nullptr;
    QTimer* progressTimer_ = nullptr;
    TDistortion* distortion_ = nullptr;
    bool distortionPlaced_ = false;
};

}  // namespace sonvera
