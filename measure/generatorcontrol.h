#pragma once
// The generator window's logic without its widgets: frequency with coarse and fine
// steps and the typed frequency, a level and phase per channel, the waveform, a user
// wave file, the analog output volume, Start and Stop, and the GEN section. What the
// controls show is kept in `Display`; the window copies it after every call.

#include <cstdint>
#include <optional>
#include <string>

#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/generatorparams.h"
#include "platform/wavefileplayer.h"

namespace sonvera {

class ProfileFile;
class SoundEngine;

/// Colours as 0x00BBGGRR.
inline constexpr std::uint32_t kColourBlack = 0x000000;
inline constexpr std::uint32_t kColourWhite = 0xFFFFFF;
inline constexpr std::uint32_t kColourMagenta = 0xFF00FF;
inline constexpr std::uint32_t kColourDarkRed = 0x000080;

/// What the generator window's controls show.
struct GeneratorDisplay {
    std::string freqText;                   // `GfreqText`
    std::uint32_t freqColour = kColourWhite;  // its font colour
    std::uint32_t panelColour = kColourBlack; // `Panel1` and the edit's background
    int waveformItem = 0;                   // `RadioGroup1`
    int scrollLeft = 0, scrollRight = 0;    // `ScrollBar4`, `ScrollBar1`: 0..100
    std::string labelLeft = "0dB", labelRight = "0dB";  // `Label4`, `Label6`
    std::string phaseLeft = "0", phaseRight = "0";      // `phL`, `phR`
    bool levelControlsEnabled = true;       // both level scroll bars and phase edits
    bool optEnabled = true;                 // `WOoptBut`
    std::string precOut = "0";              // `PrecOut`
    std::string volumeLabel = "100%";       // `Label3`
};

/// Lowest and highest frequency the window sets, Hz; at output rates above 62222 Hz the
/// highest is 0.45 of the rate instead (86400 Hz at 192000 Hz).
inline constexpr int kGeneratorMinHz = 10;
inline constexpr int kGeneratorMaxHz = 28000;
int GeneratorMaxHz(int outputRateHz);

/// The generator window's logic.
class GeneratorControl {
public:
    /// Help context of the error box.
    static constexpr int kErrorHelpContext = 17;

    GeneratorControl(SoundEngine& engine, GeneratorSettings& settings, CorrectionCurve& outCorrection);

    /// Reads section GEN and shows the values (the level scroll bars are placed at the
    /// loaded levels, so the first touch of a control keeps them).
    void LoadGeneratorSettings(const ProfileFile& file);
    void SaveGeneratorSettings(ProfileFile& file) const;
    /// The error box's lead-in: "D" German, "E" English, others change nothing.
    void SetGeneratorTexts(char language);

    /// The operation every control calls; 0 on success or an error code.
    int ApplyGenerator(bool start);
    void UpdateFreqText();

    // Control handlers.
    void GstartClick();
    void GstopClick();
    void GrobSpinUp() { StepFrequency(100); }
    void GrobSpinDown() { StepFrequency(-100); }
    void FeinSpinUp() { StepFrequency(1); }
    void FeinSpinDown() { StepFrequency(-1); }
    /// A keystroke in `GfreqText`: the text changes, nothing plays yet.
    void GfreqTextChange(const std::string& text);
    /// The typed text takes effect (the field was left, Enter, or a pause in typing):
    /// a frequency of 10..MaxHz() Hz, with or without the unit "Hz", becomes
    /// `GenFrequency` and restarts a playing signal. Returns false for any other text,
    /// which changes nothing.
    bool GfreqTextCommit(const std::string& text);
    /// The frequency `text` names, or nothing when it names none the window takes.
    static std::optional<int> ParseTypedFrequency(const std::string& text, int maxHz = kGeneratorMaxHz);
    /// The highest frequency the window sets at the current output rate.
    int MaxHz() const;
    void ScrollBar4Scroll(int position);  // left level
    void ScrollBar1Scroll(int position);  // right level
    void PhLChange(const std::string& text);
    void PhRChange(const std::string& text);
    void RadioGroup1Click(int index);
    /// The file chosen in the open dialog (cut to 120 characters); no restart.
    void UserButChosen(const std::string& fileName);
    /// `WOoptBut`: true when the wave format dialog may be shown (nothing plays).
    bool WOoptButAllowed() const;
    void ScrollBar2Scroll(int position);  // analog output volume

    GeneratorDisplay Display;
    bool UserWavePlaying() const { return userWave_; }
    /// The generator's own signal (or its user wave) plays, from Start until Stop.
    bool SignalOn() const { return signalOn_ || userWave_; }
    const WaveFilePlayer& Player() const { return player_; }
    /// The parameters the engine was last started with.
    const GeneratorParams& LastPlayed() const { return lastPlayed_; }

    /// The user file's name without its directory.
    static std::string BareFileName(const std::string& path);
    static std::string LevelLabel(int position);

private:
    void StepFrequency(int delta);
    /// Starts `params` on the engine: a sine or two tones as a loop of whole periods, the
    /// other waveforms as the engine synthesises them. 0 or the engine's error code.
    int StartSignal(const GeneratorParams& params);
    void SetLevelControlsEnabled(bool enabled) { Display.levelControlsEnabled = enabled; }

    SoundEngine& engine_;
    GeneratorSettings& gen_;
    CorrectionCurve& outCorrection_;
    WaveFilePlayer player_;
    bool userWave_ = false;
    // The generator's own signal plays (from a successful Start until Stop). Changes
    // restart only this signal, never another user's (a sweep step's tone).
    bool signalOn_ = false;
    std::string errorPrefix_ = "Fehler bei Frequenzausgabe (";
    GeneratorParams lastPlayed_;
};

}  // namespace sonvera
