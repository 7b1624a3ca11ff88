#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <functional>
#include <optional>

#include "config/settings.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace sonvera {

/// The diagram's options dialog: not modal, works on its own copy of DiagramOptions and
/// posts WM_DIAGRAM_OPTIONS to the diagram window after every change, keystroke by
/// keystroke for the edits.
class Tdiadlg : public QDialog {
public:
    /// receiver: the diagram window that gets WM_DIAGRAM_OPTIONS.
    explicit Tdiadlg(QObject* receiver, QWidget* parent = nullptr);

    /// Takes the diagram's record and shows it; every control whose text or state
    /// changes runs its handler (which posts the message), as if the user had changed it.
    void LoadOptionsDialog(const DiagramOptions& options);
    /// The dialog's whole record.
    DiagramOptions FetchOptions() const { return opts; }
    /// 'D' German, 'E' English; other letters change nothing.
    void SetOptionsTexts(char language);
    /// Why the frequency bounds and the logarithmic axis do not apply now ("" when they
    /// do): the controls are disabled and the reason is shown beneath them.
    void SetFreqBoundsRefusal(const std::string& why);

    /// The colour picker: gets the current colour, returns the chosen one or nothing when
    /// cancelled. Replaceable for tests; the default opens QColorDialog.
    std::function<std::optional<Colour>(Colour current)> pickColour;
    /// Opens help page 16 (the help button); unset: the button does nothing.
    std::function<void(int context)> showHelp;

private:
    void Post();
    void ColourButtonClick(int row);
    void ColdefaultClick();
    void FillShapes();
    void MessVonClick();
    void Edit1Change();
    void Edit2Change();
    void Edit3Change();
    void Edit4Change();
    void Edit5Change();
    void Edit6Change();

    QObject* receiver;
    DiagramOptions opts;
    // Colour rows in the order Label1/Shape1/Button1 .. 5: diagram, grid, line 1, margin, line 2.
    std::array<QLabel*, 5> labels{};
    std::array<QFrame*, 5> shapes{};
    std::array<QPushButton*, 5> buttons{};
    QPushButton* coldefault = nullptr;
    QCheckBox* LogDia = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* FreqRefusal = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* Label14 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QGroupBox* MessVon = nullptr;
    std::array<QRadioButton*, 3> messItems{};
    QButtonGroup* messGroup = nullptr;
    QPushButton* CloseBut = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

}  // namespace sonvera
