// TMainForm: the correction menu. Loading, switching and editing the input and output
// correction files (the editor window hands a saved file back here), and the test that
// draws both curves in the diagram.
#include "ui/mainform.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>

#include "diagram/diagramm.h"
#include "ui/diagramlink.h"
#include "ui/koredit.h"
#include "ui/spectrumpage.h"

namespace sonvera {

void TMainForm::UpdateCorrectionLabel()
{
    const Settings& s = state_.settings;
    spectrumPage_->coract->setText(s.Main.InCorrActive || s.Main.OutCorrActive
                                       ? QString::fromStdString(messages_->correctionActive)
                                       : QStringLiteral("."));
}

QFileDialog* TMainForm::CorrectionOpenDialog()
{
    if (OpenDialog == nullptr) {
        OpenDialog = new QFileDialog(this);
        OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
        OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
        OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog->setFileMode(QFileDialog::AnyFile);  // a new name creates a new file
    }
    OpenDialog->setDefaultSuffix(QStringLiteral("cor"));
    OpenDialog->setNameFilter(QStringLiteral("Correction File (*.cor)"));
    return OpenDialog;
}

void TMainForm::SyncCorrectionFlags()
{
    Settings& s = state_.settings;
    s.Main.InCorrActive = state_.InCorrection.active;
    s.Main.OutCorrActive = state_.OutCorrection.active;
    Item("Eingangskorrekturaktiv1")->setChecked(s.Main.InCorrActive);
    Item("Ausgangskorrekturaktiv1")->setChecked(s.Main.OutCorrActive);
    UpdateCorrectionLabel();
}

bool TMainForm::LoadCorrectionFile(CorrectionCurve& curve, const std::string& file)
{
    if (loader_->LoadCurveFile(curve, file)) {
        return true;
    }
    KeepRefusedCorrectionFile(curve, file);
    return false;
}

void TMainForm::KeepRefusedCorrectionFile(CorrectionCurve& curve, const std::string& file)
{
    // A file that exists but was refused (a line error, no lines) stays the curve's file,
    // switched off: Edit opens it for repair and the configuration keeps naming it, so the
    // next start shows the same state and the same message.
    // A name without a folder means the file beside the configuration, as the loader reads it.
    const std::string path = loader_->Resolve(file);
    if (curve.count == 0 && curve.fileName.empty() && QFileInfo(QString::fromStdString(path)).isFile()) {
        curve.fileName = path;
    }
}

bool TMainForm::EditorHolds(const CorrectionCurve& curve) const
{
    const TKorEdit* editor = windows_.korEdit;
    return editor != nullptr && editor->isVisible() && editor->EditedCurve() == &curve;
}

void TMainForm::LoadCorrection(bool input)
{
    CorrectionCurve& curve = input ? state_.InCorrection : state_.OutCorrection;
    QFileDialog* dialog = CorrectionOpenDialog();
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        const std::string file = dialog->selectedFiles().first().toStdString();
        // The editor's unsaved text of this curve's file is asked about first; Cancel
        // loads nothing.
        const bool editing = EditorHolds(curve);
        if (!editing || windows_.korEdit->AskAboutUnsavedText()) {
            if (LoadCorrectionFile(curve, file)) {
                curve.active = true;
            }
            if (editing && !windows_.korEdit->EditCurve(curve)) {
                windows_.korEdit->hide();  // the new file cannot be shown: no stale text stays
            }
        }
    }
    // A failed load has shown its message; the curve may have been emptied, which also
    // switched it off, and the check mark shows that.
    SyncCorrectionFlags();
}

void TMainForm::ToggleCorrection(bool input)
{
    CorrectionCurve& curve = input ? state_.InCorrection : state_.OutCorrection;
    curve.active = !curve.active && !curve.fileName.empty() && curve.count > 0;
    SyncCorrectionFlags();
}

void TMainForm::EditCorrection(bool input)
{
    CorrectionCurve& curve = input ? state_.InCorrection : state_.OutCorrection;
    if (curve.fileName.empty()) {
        LoadCorrection(input);
    }
    // A file that does not parse opens too, so it can be repaired here.
    if (!curve.fileName.empty() && windows_.korEdit != nullptr && windows_.korEdit->EditCurve(curve)) {
        curve.active = curve.count > 0;
    }
    SyncCorrectionFlags();
}

void TMainForm::CorrectionSaved(CorrectionCurve& curve, const std::string& file)
{
    // The editor's own file, whatever the curve held before; after a line error the
    // curve is off and keeps the file's name, and the editor stays open on it.
    if (LoadCorrectionFile(curve, file)) {
        curve.active = true;
    }
    Testekorrekturdatei1Click();
}

void TMainForm::Testekorrekturdatei1Click()
{
    TDiagramm* diagram = windows_.diagramm;
    if (diagram == nullptr) {
        SyncCorrectionFlags();
        return;
    }
    DiagramModel& model = diagram->Model();
    float levelMin = 0.0f, levelMax = 0.0f;
    int freqMin = 0, freqMax = 0;
    model.GetLevelRange(levelMin, levelMax);
    model.GetFreqRange(freqMin, freqMax);
    model.ResetDiagramScales();
    constexpr int kTestPoints = 1000;
    diagram->PrepareDiagram("", kTestPoints, freqMin, freqMax, levelMin, levelMax);
    model.SetSecondRange(levelMax, levelMin);
    model.SetCurvesShown(true, true);

    std::string names;
    if (state_.InCorrection.active) {
        names = state_.InCorrection.fileName;
    }
    if (state_.OutCorrection.active) {
        names += " & " + state_.OutCorrection.fileName;
    }
    diagram->SetResultLine(messages_->correctionTitle + names);

    for (int i = 1; i <= kTestPoints; ++i) {
        const int f = StepFrequency(1, 28000, kTestPoints, i);
        const float values[2] = {static_cast<float>(ApplyCurve(state_.InCorrection, -1.0, f, 0.0)),
                                 static_cast<float>(ApplyCurve(state_.OutCorrection, -1.0, f, 0.0))};
        model.StoreDiagramPoint(values, 2, i, static_cast<float>(f));
    }
    // The curves are drawn where the user can see them, also from the other pages.
    diagramLink_->Show(true);
    diagram->update();
    SyncCorrectionFlags();
}

}  // namespace sonvera
