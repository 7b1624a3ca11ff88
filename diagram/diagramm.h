#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"

class QAction;
class QFileDialog;
class QLineEdit;
class QMenu;
class QScrollBar;
class QToolButton;

namespace sonvera {

class ProfileFile;
class Tdiadlg;
class TOverlayDlg;

/// The diagram window: keeps the DiagramModel's picture in an off-screen bitmap, brought up
/// to date before each paint (new points redraw only the curves) and copied to the window
/// for the region that changed, with the cursor over it; places the spin buttons, scroll
/// bars and the comment and result lines by the layout, and turns mouse, spin, scroll and
/// option-dialog events into model operations. The button "Vergleich" ("Compare") in
/// the top band offers what compares measurements: keeping the curves as an overlay,
/// loading a table as one, the overlays' dialog, the difference to the reference, the
/// smoothing, the peak marker and leaving a zoom. Dragging zooms into a rectangle, the
/// wheel around the pointer, a double click goes back. The overlays persist in the
/// folder beside the configuration file.
class TDiagramm : public QWidget {
public:
    /// configPath: the configuration file whose section DIAGPRIV holds the options.
    explicit TDiagramm(std::string configPath, QWidget* parent = nullptr);
    /// The options in section DIAGPRIV of the program's configuration file.
    explicit TDiagramm(ProfileFile& profile, QWidget* parent = nullptr);
    ~TDiagramm() override;

    DiagramModel& Model() { return model; }
    Tdiadlg& OptionsDialog() { return *optionsDialog; }
    TOverlayDlg& OverlayDialog() { return *overlayDialog; }

    // The operations the runs call; they keep the edit controls in step with the model.
    bool PrepareDiagram(const std::string& comment, int lastIndex, int freqMin, int freqMax,
                        float& levelMin, float& levelMax);
    void SetResultLine(const std::string& text);
    /// The result line in both languages; the window shows the one of its language.
    void SetResultLine(const std::string& german, const std::string& english);
    /// Shows a result a page kept (DiagramModel::ShowResult) and repaints.
    void ShowResult(const DiagramResult& kept);
    std::string GetComment() const;
    void SetDiagramTexts(char language);
    /// Ends the measurement of the cursor; with the flag (a page change) the markers too.
    void ResetCursor(bool clearMeasurement);
    /// The main window's page: 0 spectrum, 1 sweep (each with its overlays and its
    /// smoothing); other pages leave the diagram as it is.
    void SetPage(int page);
    /// Shows new points: redraws the curves in the window's picture and repaints the
    /// region that changed (the whole window when more than the curves did).
    void RepaintCurves();

    /// Draws the diagram for printing or copying into `image` (W x H, font size F), then
    /// lays out the screen bitmap again. Returns false when the layout failed.
    bool RenderForPrint(QImage& image, int width, int height, int fontSize, int curveWidth = 1);

    void LoadDiagramOptions();
    void SaveDiagramOptions() const;

    /// The main window's hooks: the colours of its channel check boxes, and bringing it
    /// to the front on a click into the diagram.
    std::function<void(Colour line1, Colour line2)> onCurveColours;
    std::function<void()> onRaiseMainWindow;

    /// Handlers, public so that tests can drive them like the controls do.
    void SpinButtonClick(int spin, bool up);
    void ScrollBarScroll(bool high, ScrollCode code);
    void DiagramOptionsMessage();
    /// The commands of the button "Vergleich".
    void KeepClick();
    /// Loads the table file `path` as an overlay; empty: asks for the file first.
    void LoadClick(const std::string& path = {});
    void OverlaysClick();
    void DifferenceClick(bool on);
    void SmoothingClick(int n);
    void PeakClick();
    void ClearMarkersClick();
    void ResetZoomClick();
    /// The name a kept overlay gets: the comment (or the page's measurement) and the time.
    std::string KeepName() const;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    TDiagramm(ProfileFile* profile, std::unique_ptr<ProfileFile> ownProfile, QWidget* parent);
    void ResizeHandling();
    void PlaceControls();
    void ApplyMarginColour();
    void BuildCompareMenu();
    void UpdateCompareMenu();
    // Shows a problem of an overlay operation (nothing when there is none) and redraws.
    void OverlaysChanged(const std::string& problem);
    void OpenOverlays();

    std::unique_ptr<ProfileFile> ownProfile;
    ProfileFile* profile = nullptr;  // none: the options are neither read nor saved
    DiagramModel model;
    DiagramRenderer renderer;
    QImage bitmap;  // the picture without the cursor, copied to the window on each paint
    std::unique_ptr<Tdiadlg> optionsDialog;
    std::unique_ptr<TOverlayDlg> overlayDialog;
    QToolButton* CompareButton = nullptr;
    QMenu* CompareMenu = nullptr;
    QMenu* SmoothMenu = nullptr;
    QAction* KeepItem = nullptr;
    QAction* LoadItem = nullptr;
    QAction* OverlaysItem = nullptr;
    QAction* DifferenceItem = nullptr;
    QAction* PeakItem = nullptr;
    QAction* ClearMarkersItem = nullptr;
    QAction* ResetZoomItem = nullptr;
    std::vector<QAction*> smoothItems;
    QFileDialog* LoadDialog = nullptr;
    std::vector<OverlayResult> openProblems;  // shown at the first activation
    int wheelRest = 0;                      // eighths of a degree short of a notch
    QWidget* SpinButton1 = nullptr;
    QWidget* SpinButton2 = nullptr;
    QLineEdit* Edicomment = nullptr;
    QLineEdit* Edit2 = nullptr;
    QScrollBar* ScrollBarLF = nullptr;
    QScrollBar* ScrollBarHF = nullptr;
};

}  // namespace sonvera
