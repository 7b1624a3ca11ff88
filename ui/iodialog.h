#pragma once

#include <QDialog>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace sonvera {

class SoundEngine;

/// The wave format dialog: sample rate, bit depth and channel swap of the selected input
/// or output device, offering only the formats the device accepts. Its captions are
/// English in both languages; only the swap check box follows the language.
class TIOdialog : public QDialog {
public:
    /// Help page of the dialog.
    static constexpr int kHelpContext = 14;
    /// The rates of the ten fixed rows; the row after them is the user rate.
    static constexpr std::array<int, 10> kRates{8000, 11025, 22050, 32000, 44100, 48000,
                                                88200, 96000, 176400, 192000};
    static constexpr int kUserRow = static_cast<int>(kRates.size());
    static constexpr int kRowCount = kUserRow + 1;
    /// The user rate's range (a rate outside leaves its buttons disabled).
    static constexpr int kMinUserRate = 8000;
    static constexpr int kMaxUserRate = 192000;
    static constexpr std::array<int, 3> kBits{8, 16, 24};

    explicit TIOdialog(SoundEngine& engine, QWidget* parent = nullptr);

    /// true: the input device, false: the output device. Set before showing.
    void SetDirection(bool input) { input_ = input; }
    bool Direction() const { return input_; }

    /// Loads the direction's format, enables the buttons the device accepts and checks
    /// the current one. Runs whenever the dialog is shown.
    void FormActivate();
    /// A new user rate typed into `Edit1`.
    void Edit1Change(const QString& text);
    /// OK: the last checked button in column order wins; stores this direction only.
    void BitBtn1Click();
    /// The swap check box's text of language 'D' or 'E'; other letters change nothing.
    void SetTexts(char language);

    /// The radio button of a bit depth column (0..2) and row (0..9 fixed rates, 10 user).
    QRadioButton* Button(int column, int row) const;
    int CurrentRate() const { return rate_; }
    int CurrentBits() const { return bits_; }
    int UserRate() const { return userRate_; }

    /// Called with the help context when the help button is pressed.
    void SetHelpHandler(std::function<void(int)> handler) { helpHandler_ = std::move(handler); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    int RowRate(int row) const { return row < kUserRow ? kRates[static_cast<std::size_t>(row)] : userRate_; }
    void EnableUserButtons();
    static bool RateAllowed(int rate) { return rate >= kMinUserRate && rate <= kMaxUserRate; }

    SoundEngine& engine_;
    bool input_ = true;
    int rate_ = 0;
    int bits_ = 0;
    int userRate_ = 0;
    std::function<void(int)> helpHandler_;

    std::array<std::array<QRadioButton*, kRowCount>, 3> buttons_{};
    QLineEdit* Edit1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
};

}  // namespace sonvera
