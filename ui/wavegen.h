#pragma once
// The generator window: frequency with coarse and fine steps, a digital level and a phase
// per channel, the waveform, a user wave file, the analog output volume, Start and Stop.
// A thin window over GeneratorControl: every control calls its handler, then the window
// shows the control's `Display`.

#include <QWidget>

#include <functional>

#include "measure/generatorcontrol.h"
#include "measure/runstatus.h"

class QButtonGroup;
class QCloseEvent;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QShowEvent;
class QTimer;
class QToolButton;

namespace sonvera {

class ProfileFile;
class SoundEngine;

class TWavegen : public QWidget {
public:
    /// Help page of the window.
    static constexpr int kHelpContext = 15;

    /// Reads section GEN of `profile`; closing the window and destroying it write it back.
    TWavegen(SoundEngine& engine, GeneratorSettings& settings, CorrectionCurve& outCorrection, ProfileFile& profile,
             QWidget* parent = nullptr);
    ~TWavegen() override;
    TWavegen(const TWavegen&) = delete;
    TWavegen& operator=(const TWavegen&) = delete;

    /// The error box's lead-in: "D" German, "E" English, any other letter changes nothing.
    void SetGeneratorTexts(char language);
    /// Stops the generator output (engine and user wave).
    void GstopClick();

    GeneratorControl& Control() { return control_; }
    /// Shows the control's `Display` in the widgets without firing their handlers.
    void Refresh();

    /// Called with the help context when `wghelp` is pressed.
    void SetHelpHandler(std::function<void(int)> handler) { helpHandler_ = std::move(handler); }
    /// `WOoptBut`: shows the wave format dialog for the output; called only while
    /// nothing plays.
    std::function<void()> onOutputFormat;

    /// The open dialog of `UserBut`, created on first use.
    QFileDialog* UserOpenDialog();

    /// Called with the output volume in percent as the device has it after the user moved
    /// "Ana.", so that the level set here stays the program's output level.
    std::function<void(int)> onOutputVolume;
    /// Shows the device's output volume as it is now on "Ana." (set elsewhere since).
    void ShowOutputVolume();

    /// Called with what the generator did or why Start was refused (the status line).
    std::function<void(const RunReport&)> onReport;
    /// The typed frequency takes effect now (what the field's pause timer does); with
    /// `leaving` the field shows the frequency in force afterwards.
    void CommitTypedFrequency(bool leaving);
    /// The timer that takes a typed frequency after a pause in typing.
    QTimer* TypingPause() const { return typingPause_; }
    /// Milliseconds without a keystroke after which a typed frequency counts.
    static constexpr int kTypingPauseMs = 700;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void Connect();
    void UserButClick();
    void StartClicked();
    void Report(RunEvent event, Refusal refusal = Refusal::None, const std::string& detail = {});

    SoundEngine& engine_;
    GeneratorSettings& settings_;
    GeneratorControl control_;
    ProfileFile& profile_;
    std::function<void(int)> helpHandler_;

    QFrame* Panel1 = nullptr;
    QLineEdit* GfreqText = nullptr;
    QToolButton* GrobSpinUp = nullptr;
    QToolButton* GrobSpinDown = nullptr;
    QToolButton* FeinSpinUp = nullptr;
    QToolButton* FeinSpinDown = nullptr;
    QPushButton* Gstart = nullptr;
    QPushButton* Gstop = nullptr;
    QPushButton* WOoptBut = nullptr;
    QScrollBar* ScrollBar4 = nullptr;
    QScrollBar* ScrollBar1 = nullptr;
    QScrollBar* ScrollBar2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* phL = nullptr;
    QLineEdit* phR = nullptr;
    QLabel* PrecOut = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QButtonGroup* waveforms_ = nullptr;  // the five items of RadioGroup1
    QPushButton* UserBut = nullptr;
    QPushButton* wghelp = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QTimer* typingPause_ = nullptr;
    bool freqTyped_ = false;  // GfreqText holds typed text not yet taken
};

}  // namespace sonvera
