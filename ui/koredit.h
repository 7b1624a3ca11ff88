#pragma once

#include <QMainWindow>

#include <functional>
#include <string>

class QAction;
class QPlainTextEdit;

namespace sonvera {

struct CorrectionCurve;

/// The correction-file editor: the text of one correction file in a plain text area and
/// a one-item menu bar, "Save &Test", that saves the text, loads it into its curve and
/// draws the curves. Closing with unsaved typing asks once whether to save.
class TKorEdit : public QMainWindow {
public:
    /// Called after a save with the curve to reload (the main window loads it, switches
    /// it on and runs the correction test).
    using SavedHandler = std::function<void(CorrectionCurve& curve)>;

    explicit TKorEdit(QWidget* parent = nullptr);

    /// The caption and the question of language 'D' or 'E'; other letters change nothing.
    void SetTexts(char language);
    void SetSavedHandler(SavedHandler handler) { onSaved_ = std::move(handler); }

    /// Opens `curve`'s file in the text area and shows the window (not modally). Returns
    /// false when the file could not be read (the window is not shown then).
    bool EditCurve(CorrectionCurve& curve);
    /// The caption with the edited file's name; runs whenever the window is activated.
    void FormActivate();
    /// "Save &Test": saves the text, then hands the curve to the saved handler. Returns
    /// false when the file could not be written (a warning has been shown).
    bool testClick();
    /// Asks about unsaved typing; returns whether the window may close.
    bool FormCloseQuery();

    bool EditorModified() const { return modified_; }
    CorrectionCurve* EditedCurve() const { return curve_; }
    QPlainTextEdit* Memo() const { return Memo1; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CorrectionCurve* curve_ = nullptr;
    bool modified_ = false;
    bool singleByte_ = false;  // the file is not UTF-8: one character per byte
    std::string question_;
    std::string writeFailure_;
    SavedHandler onSaved_;
    QPlainTextEdit* Memo1 = nullptr;
    QAction* test = nullptr;
};

}  // namespace sonvera
