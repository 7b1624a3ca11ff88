#pragma once

#include <QDialog>
#include <functional>

#include "scope/caliblevel.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sonvera {

class SoundEngine;

/// The calibration dialog: a live level display to find the input voltage that just
/// reaches digital full scale ("Begin" / "End"), the typed calibration value in mV, and
/// the spectrum's level factor and offset. The level loop records one block of 8000
/// frames per posted WM_CALIB_NEXT. Message boxes go through the prompt service.
class TEichDlg : public QDialog {
public:
    /// Help page of the dialog.
    static constexpr int kHelpContext = 3;
    /// Frames per level block.
    static constexpr int kCalibFrames = 8000;

    explicit TEichDlg(SoundEngine& engine, QWidget* parent = nullptr);

    /// Shows the values and resets the loop state (the output value is not used).
    void FillCalibDialog(double inCalib, double outCalib, double levelFactor, double levelOffset);
    /// Reads the three entries; empty when one does not parse or the value is not above 0.
    std::optional<CalibValues> ReadCalibValues() const;
    /// The texts of language 'D' or 'E'; any other letter is ignored.
    void SetCalibTexts(char language);

    void Button1Click();  // "Begin"
    void Button2Click();  // "End"
    void OKBtnClick();
    void HelpBtnClick();
    /// The capture handler of a level block.
    void CalibBlockDone();

    bool CalibRunning() const { return calibRunning_; }
    bool CalibReading() const { return calibReading_; }

    /// Called with the help context when the help button is pressed.
    void SetHelpHandler(std::function<void(int)> handler) { helpHandler_ = std::move(handler); }

protected:
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnCalibNext();

    SoundEngine& engine_;
    bool calibRunning_ = false;
    bool calibReading_ = false;
    char language_ = 'D';
    // The level numbers the dialog was filled with, kept whole while their text is unchanged.
    double shownFactor_ = 0.0;
    double shownOffset_ = 0.0;
    std::function<void(int)> helpHandler_;

    QGroupBox* groupBox1_ = nullptr;
    QLabel* label1_ = nullptr;
    QLineEdit* edit1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* button2_ = nullptr;
    QGroupBox* groupBox2_ = nullptr;
    QLabel* label4_ = nullptr;
    QLineEdit* edit2_ = nullptr;
    QLabel* label5_ = nullptr;
    QLineEdit* edit3_ = nullptr;
    QLabel* label6_ = nullptr;
    QLabel* label8_ = nullptr;
    QLabel* label9_ = nullptr;
    QPushButton* okBtn_ = nullptr;
    QPushButton* cancelBtn_ = nullptr;
    QPushButton* helpBtn_ = nullptr;
};

}  // namespace sonvera
