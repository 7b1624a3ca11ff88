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
#include "measure/runstatus.h"
#include "measure/scoperun.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"
#include "ui/mainpage.h"
#include "ui/shellstate.h"

class QAction;
class QFileDialog;
class QLabel;
class QPrinter;
class QTabWidget;

namespace sonvera {

class DiagramLink;
class GeneratorPage;
class ProfileFile;
class ScopePage;
class SoundEngine;
class SpectrumPage;
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

/// The main window: the notebook with the spectrum analyser, generator and oscilloscope
/// pages (each a page object of its own file), the main menu, the language switch, page
/// changes, the locks during a measurement, the status lines, the proportional layout
/// and the orderly start and shutdown. Its commands are implemented by concern:
/// mainformmenus.cpp (the menu bar, its locks, the Analyse and help items),
/// mainformcorrections.cpp (the correction menu), mainformdevices.cpp (devices, input
/// lines, volumes, calibration, reset), mainformexport.cpp (text export, printing,
/// copy) and mainformplaces.cpp (where the windows and controls stand).
class TMainForm : public QMainWindow, private PageHost, private CurveMessageSink {
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
    bool Closed() const override { return closed_; }

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
    void ShowWaveFormatDialog(bool input) override;

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
    TLogSweep& LogSweep();
    GeneratorPage& Generator() { return *generatorPage_; }
    CurveFileLoader* CurveLoader() { return loader_.get(); }
    Settings& AppSettings() { return state_.settings; }
    int CurrentPage() const override { return currentPage_; }
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
    // PageHost (the rest of it is public above).
    void LockMenus(bool locked) override;
    void RefreshLockTips() override;
    void SetAnalyseMenuEnabled(bool enabled) override;
    void SetAnalysisChecks(bool thd, bool noise) override;
    int ShowModal(QDialog* dialog) override;
    void ReportRun(const RunReport& report) override;
    void PostToMainWindow(int message) override;
    void CloseMainWindow() override;
    void ShowScopeView(bool show) override;
    void PlaceBesideMainWindow(QWidget* window) override;
    // CurveMessageSink.
    void Warning(const std::string& text) override;

    void BuildMenus();
    void BuildPages();
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
    /// A click on a locked control says why in the status line.
    void ReportLockedClick(QWidget* control);
    /// `control` did nothing because a signal plays.
    void RefuseWhilePlaying(const char* control);

    // The client size the controls are designed for; the window opens with it.
    static constexpr QSize kDesignedClient{600, 314};
    // Help contexts of the main window and of the sound device failure box.
    static constexpr int kMainHelpContext = 2;
    static constexpr int kSoundFailureHelpContext = 17;

    SoundEngine& engine_;
    ProfileFile& profile_;
    ShellState& state_;
    std::unique_ptr<CurveFileLoader> loader_;
    std::unique_ptr<DiagramLink> diagramLink_;
    std::unique_ptr<SpectrumPage> spectrumPage_;
    std::unique_ptr<GeneratorPage> generatorPage_;
    std::unique_ptr<ScopePage> scopePage_;
    // The pages' runs.
    SpectrumRun* run_ = nullptr;
    ScopeRun* scope_ = nullptr;
    SweepRun* sweep_ = nullptr;
    MainFormWindows windows_;
    const MainMessages* messages_;

    int inDeviceCount_ = 0;
    int outDeviceCount_ = 0;
    int currentPage_ = 0;
    bool skipFirstLeave_ = true;
    bool generatorDockedOnce_ = false;
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
    QString saveDialogTitle_;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    std::unique_ptr<QPrinter> printer_;
    std::array<QAction*, 3> inDeviceItems_{};
    std::array<QAction*, 3> outDeviceItems_{};
    std::array<QAction*, 10> auxItems_{};
};

}  // namespace sonvera
