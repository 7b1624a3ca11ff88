#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"

class QLineEdit;
class QScrollBar;
class QToolButton;

namespace sonvera {

class ProfileFile;
class Tdiadlg;

/// The diagram window: keeps the DiagramModel's picture in an off-screen bitmap, brought up
/// to date before each paint (new points redraw only the curves) and copied to the window
/// for the region that changed, with the cursor over it; places the spin buttons, scroll
/// bars and the comment and result lines by the layout, and turns mouse, spin, scroll and
/// option-dialog events into model operations.
class TDiagramm : public QWidget {
public:
    /// configPath: the configuration file whose section DIAGPRIV holds the options.
    explicit TDiagramm(std::string configPath, QWidget* parent = nullptr);
    /// The options in section DIAGPRIV of the program's configuration file.
    explicit TDiagramm(ProfileFile& profile, QWidget* parent = nullptr);
    ~TDiagramm() override;

    DiagramModel& Model() { return model; }
    Tdiadlg& OptionsDialog() { return *optionsDialog; }

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
    void ResetCursor(bool clearMeasurement);
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

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    TDiagramm(ProfileFile* profile, std::unique_ptr<ProfileFile> ownProfile, QWidget* parent);
    void ResizeHandling();
    void PlaceControls();
    void ApplyMarginColour();

    std::unique_ptr<ProfileFile> ownProfile;
    ProfileFile* profile = nullptr;  // none: the options are neither read nor saved
    DiagramModel model;
    DiagramRenderer renderer;
    QImage bitmap;  // the picture without the cursor, copied to the window on each paint
    std::unique_ptr<Tdiadlg> optionsDialog;
    QWidget* SpinButton1 = nullptr;
    QWidget* SpinButton2 = nullptr;
    QLineEdit* Edicomment = nullptr;
    QLineEdit* Edit2 = nullptr;
    QScrollBar* ScrollBarLF = nullptr;
    QScrollBar* ScrollBarHF = nullptr;
};

}  // namespace sonvera
