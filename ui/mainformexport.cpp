// TMainForm: the File and Edit menu's commands on the diagram: its values as a text
// file, printing and the printer set-up, the comment and copying the picture.
#include "ui/mainform.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "scope/oszidia.h"
#include "ui/printing.h"

namespace sonvera {

QFileDialog* TMainForm::TextSaveDialog()
{
    if (SaveDialog == nullptr) {
        SaveDialog = new QFileDialog(this);
        SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
        SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
        SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog->setFileMode(QFileDialog::AnyFile);
    }
    SaveDialog->setWindowTitle(saveDialogTitle_);
    SaveDialog->setDefaultSuffix(QStringLiteral("txt"));
    SaveDialog->setNameFilter(QStringLiteral("Text File (*.txt)"));
    return SaveDialog;
}

void TMainForm::SpeichernalsText1Click()
{
    if (!windows_.diagramm) {
        return;
    }
    QFileDialog* dialog = TextSaveDialog();
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return;
    }
    const std::string file = dialog->selectedFiles().first().toStdString();
    const DiagramModel& model = windows_.diagramm->Model();
    if (model.ExportDiagramText(file, model.Options.Separator) != 0) {
        Prompts().Show(Prompt{PromptKind::Error, file + messages_->exportFailure, false, 0});
    }
}

QPrinter& TMainForm::Printer()
{
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    return *printer_;
}

void TMainForm::FilePrint()
{
    if (!windows_.diagramm) {
        return;
    }
    QPrintDialog dialog(&Printer(), this);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    PrintTo(Printer());
}

bool TMainForm::PrintTo(QPrinter& printer)
{
    if (!windows_.diagramm) {
        return false;
    }
    std::vector<std::string> report;
    const bool printed = PrintDiagram(printer, *windows_.diagramm, report);
    for (std::string& line : report) {
        engine_.AppendReport(std::move(line));
    }
    return printed;
}

void TMainForm::FilePrintSetup()
{
    QPageSetupDialog dialog(&Printer(), this);
    dialog.setObjectName(QStringLiteral("PrintSetupDialog"));
    dialog.exec();
}

void TMainForm::Kommentar1Click()
{
    if (!windows_.diagramm) {
        return;
    }
    if (auto* comment = windows_.diagramm->findChild<QLineEdit*>(QStringLiteral("Edicomment"))) {
        windows_.diagramm->activateWindow();
        comment->setFocus();
    }
}

void TMainForm::EditCopy()
{
    if (windows_.diagramm) {
        windows_.diagramm->repaint();
    }
    if (currentPage_ == mainpage::kScopePage) {
        if (windows_.oszidia) {
            QApplication::clipboard()->setImage(windows_.oszidia->RenderNow());
        }
        return;
    }
    if (!windows_.diagramm) {
        return;
    }
    QImage image;
    if (windows_.diagramm->RenderForPrint(image, windows_.diagramm->width(), windows_.diagramm->height(), 8)) {
        QApplication::clipboard()->setImage(image);
    }
    windows_.diagramm->repaint();
}

}  // namespace sonvera
