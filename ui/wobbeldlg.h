#pragma once
// The sweep settings dialog: frequency range, steps, spacing, digital level, settle time,
// measuring mode and phase measurement with its display range, the active correction
// files and the measuring time of one block. A thin dialog over SweepSettingsModel,
// which holds the working copy of the sweep record.

#include <QDialog>

#include <functional>

#include "config/settings.h"
#include "dsp/curve.h"
#include "measure/sweepsettingsmodel.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace sonvera {

class Twobbeldlg : public QDialog {
public:
    /// Help page of the dialog.
    static constexpr int kHelpContext = 9;

    explicit Twobbeldlg(QWidget* parent = nullptr);

    /// Copies `record` into the working copy and shows it with the names of the
    /// correction files and the measuring time at the output rate and input bits.
    /// The caller then runs the dialog modally.
    void ShowSweepDialog(const SweepSettings& record, const CorrectionCurve& in, const CorrectionCurve& out,
                         int outputRateHz, int inputBits);
    /// After OK: reads every control with the clamping rules into `record`.
    void ReadSweepDialog(SweepSettings& record);
    /// The captions of language 'D' or 'E'; any other letter changes nothing.
    void SetTexts(char language);
    /// Called with the help context when the help button is pressed.
    void SetHelpHandler(std::function<void(int)> handler) { helpHandler_ = std::move(handler); }

    const SweepSettingsModel& Model() const { return model_; }
    /// Shows the model's controls in the widgets without firing their handlers.
    void Refresh();

private:
    void BuildControls();
    void Connect();
    /// Takes what the widgets show into the model's controls.
    void TakeWidgets();

    SweepSettingsModel model_;
    std::function<void(int)> helpHandler_;

    QLabel* label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* messzeit = nullptr;
    QLabel* Label17 = nullptr;  // "Kurve 2:"
    QComboBox* Curve2Box = nullptr;
    QLineEdit* Efrom = nullptr;
    QLineEdit* Eto = nullptr;
    QLineEdit* Esteps = nullptr;
    QLineEdit* digPeg = nullptr;
    QLineEdit* Sstart = nullptr;
    QLineEdit* EPmin = nullptr;
    QLineEdit* EPmax = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QGroupBox* MessungRb = nullptr;
    QButtonGroup* messungItems_ = nullptr;
    QRadioButton* MessungRb0 = nullptr;
    QRadioButton* MessungRb1 = nullptr;
    QRadioButton* linearbut = nullptr;
    QRadioButton* logbutton = nullptr;
    QCheckBox* PhaseBut = nullptr;
    QPushButton* defaultBtn = nullptr;  // object name "default"
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* HelpBtn = nullptr;

    struct Spin {
        QToolButton* up = nullptr;
        QToolButton* down = nullptr;
    };
    Spin SpinButton1, SpinButton2, SpinButton3, SpinButton4, SpinButton5, SpinBpmin, SpinBpmax;
};

}  // namespace sonvera
