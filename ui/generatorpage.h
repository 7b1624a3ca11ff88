#pragma once

#include <QPoint>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagram/diagrammodel.h"
#include "measure/sweeprun.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QWidget;

namespace sonvera {

class DiagramLink;
class PageHost;
class ProfileFile;
class SoundEngine;
class TLevelSweep;
class TLogSweep;
class TWavegen;
class Twobbeldlg;
struct ShellState;

/// The generator page of the main window: the group the generator window docks over,
/// the sweep's controls and the sweep run they drive, the level sliders, and the button
/// that opens the log sweep's window.
class GeneratorPage : private SweepPageView {
public:
    /// Builds the controls on `page`, adding them to `layout`; the log sweep's window is
    /// a child window of `window` (the main window).
    GeneratorPage(QWidget* page, std::vector<QWidget*>& layout, SoundEngine& engine, ProfileFile& profile,
                  ShellState& state, DiagramLink& diagram, PageHost& host, QWidget* window);
    ~GeneratorPage() override;
    GeneratorPage(const GeneratorPage&) = delete;
    GeneratorPage& operator=(const GeneratorPage&) = delete;

    SweepRun& Run() { return *sweep_; }
    TLogSweep& LogSweep() { return *logSweep_; }
    TLevelSweep& LevelSweep() { return *levelSweep_; }
    /// The captions that follow the language ('D' or 'E'; others change nothing).
    void SetTexts(char language);
    /// The generator window and the sweep settings dialog, once they exist.
    void AttachWindows(TWavegen* generator, Twobbeldlg* sweepDialog);

    /// Entering the page shows the result it had when it was left (the stepped sweep's
    /// or the log sweep's curves and result line; the comment comes back from the
    /// settings); leaving keeps it. One result is kept, until a new run replaces it.
    void Enter();
    void Leave();
    /// Whether the page is the one shown.
    bool Active() const { return active_; }

    /// Screen position of the client origin of the `Generator` group.
    QPoint DockPoint() const;
    /// Moves the generator window to the dock point: always with force, otherwise only
    /// while it lies within its own size of that point.
    void DockGenerator(bool force);

    /// The "Out" slider at `position` (top at 100 %) without calling its handler.
    void SetOutputSlider(int position) override;
    /// The "Out" slider's label: the wave-output volume.
    void ShowOutputVolume(int percent);
    /// The "In" slider at `percent` (its handler not called) and the level the line has.
    void ShowLineLevel(int percent, const QString& lineLevel);
    /// The level group's caption: the name of the recording line.
    void ShowInputLineName(const QString& name);
    /// Reads `path` as the stepped sweep's limits and keeps its name in the configuration:
    /// true, or false after saying in a box why it cannot be used (the limits stay as
    /// they were). An empty path takes the limits away.
    bool LoadLimitsFile(const QString& path);
    /// The page's controls a run may lock.
    std::vector<QWidget*> Lockables() const;

    // Controls.
    QGroupBox* Generator = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* LogSweepBut = nullptr;
    QPushButton* LevelSweepBut = nullptr;  // opens the level sweep's window
    QGroupBox* WobbelGroup = nullptr;
    QPushButton* wobbelnBut = nullptr;
    QPushButton* STOPbut = nullptr;
    QPushButton* WobDialogBut = nullptr;
    QPushButton* LimitsBut = nullptr;  // "Grenzwerte…": the limits file
    QLabel* FreqText = nullptr;
    QLabel* WobOverload = nullptr;
    QGroupBox* LevelGroup = nullptr;
    QLabel* Wobinptxt = nullptr;
    QScrollBar* GenInSlider = nullptr;   // "ScrollBar1", top at 100 %
    QScrollBar* GenOutSlider = nullptr;  // "ScrollBar2", top at 100 %
    QLabel* GenInLabel = nullptr;
    QLabel* Label8 = nullptr;            // the output volume

private:
    void BuildPage(QWidget* page, std::vector<QWidget*>& layout);
    /// The button's tool tip: the limits file in use, or that there is none.
    void ShowLimitsName();

    // SweepPageView.
    void SetOverloadLabel(const std::string& text) override;
    void SetFreqText(const std::string& text) override;
    void SetStartCaption(const std::string& text) override;
    void SetSweepLockedControlsEnabled(bool enabled) override;
    void SetAnalyseMenuEnabled(bool enabled) override;
    void SetInputLevel(int percent) override;
    void ShowInputLevel(int percent) override;
    void SetOutputLabel(const std::string& text) override;
    void ShowGeneratorOnPage(bool pageShown) override;
    void PlaceGenerator(bool force) override;
    bool RunSweepDialog(SweepSettings& record) override;
    void ShowOutputFormatDialog() override;
    bool SettleWait(int ms) override;
    void PostSweepStep() override;
    void ReportRun(const RunReport& report) override;

    SoundEngine& engine_;
    ProfileFile& profile_;
    ShellState& state_;
    std::string limitsPath_;
    PageHost& host_;
    DiagramLink& diagram_;
    std::unique_ptr<SweepRun> sweep_;
    std::optional<DiagramResult> kept_;  // what the diagram showed when the page was left
    TLogSweep* logSweep_ = nullptr;  // a child window of the main window
    TLevelSweep* levelSweep_ = nullptr;  // a child window of the main window
    bool levelSweepPlaced_ = false;
    bool logSweepPlaced_ = false;
    TWavegen* wavegen_ = nullptr;
    Twobbeldlg* wobbelDlg_ = nullptr;
    bool active_ = false;
    // Where the generator window stood from its dock point when the page was left.
    std::optional<QPoint> generatorOffset_;
};

}  // namespace sonvera
