#pragma once

#include <QMainWindow>

#include <functional>
#include <string>

class QAction;
class QPlainTextEdit;

namespace sonvera {

struct CorrectionCurve;

/// The correction-file editor: the text of one correction file in a plain text area and
/// a one-item menu bar, "Save &Test", that saves the text to the file the editor opened,
/// loads it into its curve and draws the curves. Closing with unsaved typing asks once
/// whether to save.
class TKorEdit : public QMainWindow {
public:
    /// Called after a save with the curve and the file just saved (the main window loads
    /// that file into the curve, switches it on and runs the correction test).
    using SavedHandler = std::function<void(CorrectionCurve& curve, const std::string& fileName)>;

    explicit TKorEdit(QWidget* parent = nullptr);

    /// The caption and the question of language 'D' or 'E'; other letters change nothing.
    void SetTexts(char language);
    void SetSavedHandler(SavedHandler handler) { onSaved_ = std::move(handler); }

    /// Opens `curve`'s file in the text area and shows the window (not modally); the
    /// editor keeps that file until it opens another. Unsaved typing is asked about first
    /// (AskAboutUnsavedText). Returns false when that question was cancelled or the file
    /// could not be read (the editor then stays as it was).
    bool EditCurve(CorrectionCurve& curve);
    /// The caption with the edited file's name; runs whenever the window is activated.
    void FormActivate();
    /// "Save &Test": saves the text to the editor's file, then hands curve and file to the
    /// saved handler. Returns false when the file could not be written (a warning has
    /// been shown; the text stays, still marked as changed).
    bool testClick();
    /// Asks about unsaved typing (Yes and No); returns whether the window may close.
    bool FormCloseQuery();
    /// Before the text is given up for something else (another file, the program's end):
    /// without unsaved typing true at once; otherwise asks with Yes (save; true when the
    /// save worked), No (the typing is given up; true) and Cancel (false).
    bool AskAboutUnsavedText();

    bool EditorModified() const { return modified_; }
    CorrectionCurve* EditedCurve() const { return curve_; }
    /// The file the editor opened and saves to; empty before the first EditCurve.
    const std::string& FileName() const { return fileName_; }
    QPlainTextEdit* Memo() const { return Memo1; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CorrectionCurve* curve_ = nullptr;
    std::string fileName_;
    bool modified_ = false;
    bool singleByte_ = false;  // the file is not UTF-8: one character per byte
    std::string question_;
    std::string writeFailure_;
    SavedHandler onSaved_;
    QPlainTextEdit* Memo1 = nullptr;
    QAction* test = nullptr;
};

}  // namespace sonvera
