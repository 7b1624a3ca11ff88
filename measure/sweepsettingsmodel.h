#pragma once
// The sweep settings dialog without its widgets: a working copy of the sweep record,
// what every control shows, the spin button and edit rules, "default", and the clamping
// of the values when the dialog is closed with OK.

#include <array>
#include <optional>
#include <string>

#include "config/settings.h"
#include "dsp/curve.h"

namespace sonvera {

/// Captions of the sweep settings dialog that depend on the language.
struct SweepDialogTexts {
    std::string caption;
    std::string label1;     // "Frequenz von ... bis"
    std::string label2;     // steps
    std::string groupBox1;  // spacing group
    std::string logbutton;
    std::string phaseBut;
    std::string messungRb;
    std::string messungItem0;
    std::string messungItem1;
    std::string groupBox3;  // correction files
    std::string label6;     // input
    std::string label7;     // output
    std::string label8;     // digital level
    std::string curve2Label;  // what curve 2 shows with reference
};

/// The choices of curve 2 with reference, in SweepSettings::SweepCurve2's order: the
/// phase, then the right input's distortion readings (the same in both languages).
extern const std::array<const char*, 7> kSweepCurve2Items;

/// German ('D') or English ('E') captions; nullptr for any other letter.
const SweepDialogTexts* SweepDialogTextsFor(char language);

/// What the dialog's controls show (and, for the edits, what the user typed there).
struct SweepDialogControls {
    int messungItem = 0;  // 0 mono with left reference, 1 stereo
    bool linear = false;  // `linearbut` checked; `logbutton` shows the opposite
    bool phase = false;   // `PhaseBut`
    int curve2 = 0;       // `Curve2Box`: an index of kSweepCurve2Items, enabled with `PhaseBut`
    std::string from, to, steps, settle, phaseMin, phaseMax, level;
};

/// The measuring time label: the milliseconds of one block of 65520 bytes at the output
/// rate and input bits (32 counted as 24), followed by "ms".
std::string MeasuringTimeText(int outputRateHz, int inputBits);

/// The dialog's logic on a working copy of the sweep record.
class SweepSettingsModel {
public:
    /// Highest sweep frequency the dialog accepts, Hz: 0.45 of the highest rate, 192000 Hz
    /// (a sweep still ends at half the rate it runs at).
    static constexpr int kMaxFrequency = 86400;

    /// Copies `record` into the working copy, shows it, fills the correction file labels
    /// and the measuring time.
    void ShowSweepDialog(const SweepSettings& record, const CorrectionCurve& inCorrection,
                         const CorrectionCurve& outCorrection, int outputRateHz, int inputBits);
    /// Shows the working copy in the controls.
    void ShowSweepValues();
    /// After OK: reads every control with the clamping rules and copies the working copy
    /// into `record`.
    void ReadSweepDialog(SweepSettings& record);

    // Spin buttons (each redisplays the values).
    void FromDown();
    void FromUp();
    void ToDown();
    void ToUp();
    void StepsDown();
    void StepsUp();
    void PhaseMinDown();
    void PhaseMinUp();
    void PhaseMaxDown();
    void PhaseMaxUp();
    void LevelDown();
    void LevelUp();
    void SettleDown();
    void SettleUp();

    // Edit fields: the new text of the field; unreadable or out-of-rule values are
    // ignored (the text stays as typed).
    void FromChanged(const std::string& text);
    void ToChanged(const std::string& text);
    void StepsChanged(const std::string& text);
    void PhaseMinChanged(const std::string& text);
    void PhaseMaxChanged(const std::string& text);
    void LevelChanged(const std::string& text);
    void SettleChanged(const std::string& text);

    // Other controls.
    void LinearClicked(bool linearChecked);
    void MessungClicked(int item);
    void PhaseButClicked(bool checked);
    /// An item of `Curve2Box` (others change nothing).
    void Curve2Chosen(int item);
    void DefaultClicked();

    const SweepSettings& Work() const { return work_; }
    SweepDialogControls Controls;
    /// The correction file labels `Label4` (input) and `Label5` (output).
    std::string InFileLabel, OutFileLabel;
    bool InFileLabelEnabled = false, OutFileLabelEnabled = false;
    /// `messzeit`: the time a step records, MeasuringTimeText, unless the working copy
    /// measures distortion at every step: then the shortest and the longest block of the
    /// steps the sweep plays, "341ms" or "341–1365ms" when they differ.
    std::string MeasuringTime() const;
    /// The record's frames-per-step field ("default" sets 8000; the sweep recomputes it).
    int SweepFrames = 8000;

private:
    SweepSettings work_;
    std::optional<int> outputRateHz_;  // none until the dialog is shown
    int inputBits_ = 0;
};

}  // namespace sonvera
