#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QRect>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/weighting.h"
#include "measure/runstatus.h"
#include "measure/scoperun.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"

class QAction;
class QActionGroup;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSpinBox;
class QTabWidget;
class QCheckBox;
class QFileDialog;
class QPrinter;
class QToolButton;

namespace sonvera {

class ProfileFile;
class SoundEngine;
class TAboutBox;
class TAnaly;
class TDiagramm;
class TEichDlg;
class TFeatDlg;
class TIOdialog;
class TKorEdit;
class TLogSweep;
class TOszidia;
class TWavegen;
class Twobbeldlg;

/// The windows the main window works with; filled once all of them exist.
struct MainFormWindows {
    TFeatDlg* featDlg = nullptr;
    Twobbeldlg* wobbelDlg = nullptr;
    TOszidia* oszidia = nullptr;
    TAboutBox* aboutBox = nullptr;
    TEichDlg* eichDlg = nullptr;
    TAnaly* analy = nullptr;
    TKorEdit* korEdit = nullptr;
    TIOdialog* ioDialog = nullptr;
    TDiagramm* diagramm = nullptr;
    TWavegen* wavegen = nullptr;
};

/// The state the main window keeps process-wide: settings, correction curves, the
/// weighting filter and the loader that fills curves from files.
struct ShellState {
    Settings settings;
    CorrectionCurve InCorrection;
    CorrectionCurve OutCorrection;
    WeightingFilter filter;
};

/// Texts of the main window that are not captions (the message variables).
struct MainMessages {
    std::string soundFailure;
    std::string correctionTitle;
    std::string sweepLimit;
    std::string exportFailure;
    std::string correctionActive;
    /// Status line after a start that put back input lines a crashed session left
    /// changed; the lines' names follow.
    std::string linesRestored;
};

/// Frequency of step k of n from f1 to f2 on a logarithmic scale, to the nearest whole
/// hertz; 333 when f1 or n is 0.
int StepFrequency(int f1, int f2, int n, int k);

/// German ('D') or English ('E') message texts; nullptr for other letters.
const MainMessages* MainMessagesFor(char language);

/// The main window: notebook with the spectrum analyser, generator and oscilloscope
/// pages, the main menu, device menus, page changes, the generator docking, the
/// proportional layout and the orderly start and shutdown.
class TMainForm : public QMainWindow,
                  private SpectrumPageView,
                  private ScopePageControls,
                  private CurveMessageSink {
public:
    TMainForm(SoundEngine& engine, ProfileFile& profile, ShellState& state);
    ~TMainForm() override;

    /// The creation steps; returns the engine's error code (0: created). On an error
    /// the sound device failure box has been shown and the program must end with 1.
    int FormCreate();
    /// Hands over the other windows once they all exist.
    void AttachWindows(const MainFormWindows& windows);

    void FormShow();
    void FormActivate();
    /// Asks about unsaved editor text first; Cancel returns false with nothing shut down.
    /// Otherwise runs Shutdown and returns true.
    bool FormCloseQuery();
    /// The shutdown steps without any question: leave routines, sound engine, settings
    /// saved, curves released, the other windows hidden. Runs once.
    void Shutdown();
    bool Closed() const { return closed_; }

    void ApplyLanguage(char letter);
    void DeutschEnglish1Click();

    void TabbedNotebook1Change(int newPage);
    void EnterGeneratorPage();
    void LeaveGeneratorPage();
    void EnterScopePage();
    void LeaveScopePage();

    void THDN1Click();
    void Noise1Click();
    void Parameter1Click();
    void Reset1Click();
    void HelpContents();
    void HelpAbout();
    void Eichen1Click();
    void ShowFeaturelist1Click();
    void AudioInParameter1Click();
    void AudioOutParameter1Click();
    void SpeichernalsText1Click();
    /// "&Drucken": the print dialog, then the diagram on one page.
    void FilePrint();
    /// "Drucker&einrichtung": the page set-up of the printer the print command uses.
    void FilePrintSetup();
    /// Prints the diagram on `printer` and adds the printer's details to the device
    /// report. Returns false when no page was printed.
    bool PrintTo(QPrinter& printer);
    QPrinter& Printer();
    /// The save dialog of the text export (created on first use).
    QFileDialog* TextSaveDialog();
    void Kommentar1Click();
    void EditCopy();
    void SelectInDeviceItem(int index);   // N11Click, N21Click, N31Click
    void SelectOutDeviceItem(int index);  // N12Click, N22Click, N32Click
    void SelectAuxInput(int line);        // auxin0Click .. auxin9Click
    void ShowInputLine(int used);         // the menu checks and group titles of the line in use
    void SetInputLevel(int percent) override;
    void ShowInputLevel(int percent) override;
    void GetSetAuxVolOut();
    void BinpoptClick();

    // The correction menu.
    void LadeEingangskorrekturdatei1Click() { LoadCorrection(true); }
    void Eingangskorrekturaktiv1Click() { ToggleCorrection(true); }
    void EditEingangskorrekturdatei1Click() { EditCorrection(true); }
    void LadeAusgangskorrekturdatei1Click() { LoadCorrection(false); }
    void Ausgangskorrekturaktiv1Click() { ToggleCorrection(false); }
    void EditAusgangskorrekturdatei1Click() { EditCorrection(false); }
    /// Draws both correction curves in the diagram at 1000 points from 1 to 28000 Hz.
    void Testekorrekturdatei1Click();
    /// The open dialog of the correction files (created on first use).
    QFileDialog* CorrectionOpenDialog();
    /// Shows the wave format dialog for the input or output device, then refreshes the
    /// input format labels.
    void ShowWaveFormatDialog(bool input);

    /// Moves the generator window to the dock point: always with force, otherwise only
    /// while it lies within its own size of that point.
    void DockGenerator(bool force);
    /// Screen position of the client origin of the `Generator` group.
    QPoint DockPoint() const;
    /// Proportional layout for the current client size.
    void FormResize();
    /// Size of the client area the layout was recorded with.
    QSize DesignedClientSize() const { return layoutClient_.size(); }

    /// The help context F1 opens with the focus on `focus`: that window's own, where it
    /// has one, else the one of the page shown.
    int HelpContextFor(const QWidget* focus) const;

    /// Called once the main window has closed (the program ends its event loop there).
    std::function<void()> onClosed;

    SpectrumRun& Spectrum() { return *run_; }
    ScopeRun& Scope() { return *scope_; }
    SweepRun& Sweep() { return *sweep_; }
    TLogSweep& LogSweep() { return *logSweep_; }
    CurveFileLoader* CurveLoader() { return loader_.get(); }
    Settings& AppSettings() { return state_.settings; }
    int CurrentPage() const { return currentPage_; }
    bool SkipFirstLeave() const { return skipFirstLeave_; }
    std::string StatusText() const;
    /// The status line under the page: what runs, how a run ended, why a command was
    /// refused. Any window may write it; the next message replaces it.
    void SetStatusMessage(const QString& text);
    QString StatusMessage() const;
    const MainMessages& Messages() const { return *messages_; }
    /// The flag picture of the language menu item.
    QPixmap FlagPicture() const;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void setVisible(bool visible) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
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
    void PostSpectrumNext() override;
    void CloseMainWindow() override;
    // ScopePageControls.
    void ShowScopeView(bool show) override;
    void SetScopeMenusEnabled(bool enabled, bool withAnalyse) override;
    void SetTimebaseCaption(const std::string& text) override;
    void SetVoltsPerDivCaption(int channel, const std::string& text) override;
    void SetOverloadText(const std::string& text) override;
    void SetPositionSliders(int ch1, int ch2) override;
    void SetScopeChecks(bool gnd1, bool gnd2, bool rising, bool trigCh1) override;
    void PostScopeNext() override;
    bool ScopePageCurrent() const override;
    // CurveMessageSink.
    void Warning(const std::string& text) override;
    // SpectrumPageView, ScopePageControls (and the sweep's page through SweepPage).
    void ReportRun(const RunReport& report) override;

    void BuildMenus();
    void BuildPages();
    void BuildScopePage(QWidget* page);
    void BuildGeneratorPage(QWidget* page);
    /// The generator page's "Out" slider: the wave-output volume and its label.
    void ShowOutputVolume(int percent);
    /// Brings the settings the windows keep up to date and writes the configuration.
    void SaveConfiguration();
    void RecordLayout();
    void UpdateStatusLine();
    void UpdateCorrectionLabel();
    void LoadCorrection(bool input);
    void ToggleCorrection(bool input);
    void EditCorrection(bool input);
    /// The editor saved `file`, the file of `curve`: load it, switch it on and test.
    void CorrectionSaved(CorrectionCurve& curve, const std::string& file);
    /// Loads `file` into `curve`; a file that exists but is refused stays the curve's
    /// (switched off). Returns the loader's success.
    bool LoadCorrectionFile(CorrectionCurve& curve, const std::string& file);
    /// After a failed load: a file that exists stays named on the curve (switched off), so
    /// Edit can open it for repair and the configuration keeps it.
    void KeepRefusedCorrectionFile(CorrectionCurve& curve, const std::string& file);
    /// Whether the open editor holds the file of `curve`.
    bool EditorHolds(const CorrectionCurve& curve) const;
    /// Settings flags, menu check marks and `coract` from the curves' active flags.
    void SyncCorrectionFlags();
    int ShowModal(QDialog* dialog);
    void LeavePage(int page);
    void EnterPage(int page);
    QAction* Item(const char* name) const;

    // Window placement.
    /// The main window and the diagram at start: the first start lays them out on the
    /// primary screen; saved places come back where a screen still shows them.
    void PlaceAtStart();
    /// Whether the configuration holds `key` of `section` (a place saved before).
    bool Saved(const char* section, const char* key) const;
    /// The available area of the screen the main window is on.
    QRect MainScreen() const;
    /// Off its page the generator window is hidden, or, while its signal plays, stands
    /// beside the main window without covering it or the other windows shown.
    void KeepGeneratorOffThePage();
    bool GeneratorPlays() const;

    // Locks during a measurement.
    /// Menu items and page controls locked by a run: greyed, with a tooltip saying so;
    /// a click on a locked control says why in the status line.
    void LockMenus(bool locked);
    void RefreshLockTips();
    void ReportLockedClick(QWidget* control);
    /// `control` did nothing because a signal plays.
    void RefuseWhilePlaying(const char* control);

    SoundEngine& engine_;
    ProfileFile& profile_;
    ShellState& state_;
    std::unique_ptr<CurveFileLoader> loader_;
    class DiagramLink;
    std::unique_ptr<DiagramLink> diagramLink_;
    std::unique_ptr<SpectrumRun> run_;
    class ScopeLink;
    std::unique_ptr<ScopeLink> scopeLink_;
    std::unique_ptr<ScopeRun> scope_;
    class SweepPage;
    std::unique_ptr<SweepPage> sweepPage_;
    std::unique_ptr<SweepRun> sweep_;
    MainFormWindows windows_;
    const MainMessages* messages_;

    int inDeviceCount_ = 0;
    int outDeviceCount_ = 0;
    int currentPage_ = 0;
    bool skipFirstLeave_ = true;
    bool generatorDockedOnce_ = false;
    bool generatorPageActive_ = false;
    bool scopePageActive_ = false;
    bool shown_ = false;
    bool placed_ = false;
    bool closed_ = false;
    // Names of the input lines the start put back after a crashed session; shown in the
    // status line until the user chooses a device.
    std::string restoredLines_;

    struct LayoutEntry {
        QPointer<QWidget> control;
        QRect bounds;
    };
    QRect layoutClient_;
    std::vector<LayoutEntry> layoutTable_;
    std::vector<QWidget*> layoutControls_;

    // Controls.
    QTabWidget* TabbedNotebook1 = nullptr;
    QLabel* StatusLine = nullptr;
    QLabel* StatusMessageLine = nullptr;  // the message line under the page
    std::optional<RunReport> lastReport_;  // shown now (again in a new language)
    char statusLanguage_ = 'D';
    std::vector<QWidget*> lockables_;      // page controls a run may lock
    // The oscilloscope page moved the main window from .first to .second.
    std::optional<std::pair<QPoint, QPoint>> scopeMovedMain_;
    // Where the generator window stood from its dock point when its page was left.
    std::optional<QPoint> generatorOffset_;
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QGroupBox* FFTwinGroup = nullptr;
    QGroupBox* FFTpointsgroup = nullptr;
    QGroupBox* RunningGroup = nullptr;
    QButtonGroup* fftWinButtons_ = nullptr;
    QButtonGroup* fftPointsButtons_ = nullptr;
    QButtonGroup* runningButtons_ = nullptr;
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
    QLabel* Image1 = nullptr;
    // Page 1: generator and sweep.
    QGroupBox* Generator = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* LogSweepBut = nullptr;
    TLogSweep* logSweep_ = nullptr;  // a child window of this one
    QGroupBox* WobbelGroup = nullptr;
    QPushButton* wobbelnBut = nullptr;
    QPushButton* STOPbut = nullptr;
    QPushButton* WobDialogBut = nullptr;
    QLabel* FreqText = nullptr;
    QLabel* WobOverload = nullptr;
    QGroupBox* LevelGroup = nullptr;
    QLabel* Wobinptxt = nullptr;
    QScrollBar* GenInSlider = nullptr;   // "ScrollBar1", top at 100 %
    QScrollBar* GenOutSlider = nullptr;  // "ScrollBar2", top at 100 %
    QLabel* GenInLabel = nullptr;
    QLabel* Label8 = nullptr;            // the output volume
    // Page 2: oscilloscope.
    QGroupBox* ScopeChannel1 = nullptr;
    QGroupBox* ScopeChannel2 = nullptr;
    QGroupBox* ScopeTimebase = nullptr;
    QScrollBar* SCRyposCh1 = nullptr;
    QScrollBar* SCRyposch2 = nullptr;
    QScrollBar* SCRtrig = nullptr;
    QLabel* VperDiv1 = nullptr;
    QLabel* VperDiv2 = nullptr;
    QLabel* Panel3 = nullptr;
    QLabel* ScopeOverload = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QString saveDialogTitle_;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    std::unique_ptr<QPrinter> printer_;
    std::array<QAction*, 3> inDeviceItems_{};
    std::array<QAction*, 3> outDeviceItems_{};
    std::array<QAction*, 10> auxItems_{};
};

}  // namespace sonvera
