#include "measure/generatorcontrol.h"

#include <algorithm>
#include <cmath>

#include "config/profilefile.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "dsp/analysis.h"
#include "dsp/generator.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"

namespace sonvera {

namespace {

constexpr std::size_t kUserFileMaxChars = 120;

int PositionForLevel(int levelDb)
{
    return std::clamp(-levelDb, 0, 100);
}

}  // namespace

GeneratorControl::GeneratorControl(SoundEngine& engine, GeneratorSettings& settings, CorrectionCurve& outCorrection)
    : engine_(engine), gen_(settings), outCorrection_(outCorrection), player_(engine.Layer())
{
}

std::string GeneratorControl::BareFileName(const std::string& path)
{
    // Drive and folder separators of the stored name, and "/" of this platform's paths.
    const auto cut = path.find_last_of(":\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string GeneratorControl::LevelLabel(int position)
{
    return position == 100 ? "OFF" : std::to_string(-position) + "dB";
}

void GeneratorControl::LoadGeneratorSettings(const ProfileFile& file)
{
    userWave_ = false;
    gen_ = GeneratorSettings{};
    ReadGeneratorSection(file, gen_);
    Display.waveformItem = gen_.GenMode;
    UpdateFreqText();
    Display.labelLeft = std::to_string(gen_.GenVolL) + "dB";
    Display.labelRight = std::to_string(gen_.GenVolR) + "dB";
    Display.phaseLeft = std::to_string(gen_.GenPhaseL);
    Display.phaseRight = std::to_string(gen_.GenPhaseR);
    // The scroll bars stand at the loaded levels, so that the first control touched
    // plays what the labels show rather than 0 dB.
    Display.scrollLeft = PositionForLevel(gen_.GenVolL);
    Display.scrollRight = PositionForLevel(gen_.GenVolR);
}

void GeneratorControl::SaveGeneratorSettings(ProfileFile& file) const
{
    WriteGeneratorSection(file, gen_);
}

void GeneratorControl::SetGeneratorTexts(char language)
{
    if (language == 'D') {
        errorPrefix_ = "Fehler bei Frequenzausgabe (";
    } else if (language == 'E') {
        errorPrefix_ = "Error at frequency output (";
    }
}

int GeneratorControl::ApplyGenerator(bool start)
{
    gen_.GenVolL = -Display.scrollLeft;
    gen_.GenVolR = -Display.scrollRight;
    SetLevelControlsEnabled(true);
    int result = 0;
    if (signalOn_ || start || userWave_) {
        engine_.StopPlayback();
        player_.Stop();
        userWave_ = false;
        if (gen_.GenMode == kWaveUserFile) {
            SetLevelControlsEnabled(false);
            result = player_.PlayLooped(gen_.GenUserFile, static_cast<unsigned>(engine_.OutDeviceIndex()));
            userWave_ = result == 0;
        } else {
            GeneratorParams params;
            params.frequencyHz = gen_.GenFrequency;
            params.levelLeftDb = gen_.GenVolL;
            params.levelRightDb = gen_.GenVolR;
            params.phaseLeftDeg = gen_.GenPhaseL;
            params.phaseRightDeg = gen_.GenPhaseR;
            params.waveform = gen_.GenMode;
            // The output correction applies to the sine only. The played level is
            // corrected, the setting stays the scroll bar's level (so that saving and
            // loading never correct twice), and "OFF" stays off.
            if (gen_.GenMode == kWaveSine && outCorrection_.active && outCorrection_.count > 0) {
                auto corrected = [&](std::int32_t level) {
                    if (level <= kGeneratorSilentDb) {
                        return level;
                    }
                    const double v = RoundHalfEven(ApplyCurve(outCorrection_, 1.0, gen_.GenFrequency, level));
                    return static_cast<std::int32_t>(std::isfinite(v) ? std::clamp(v, -99.0, 100.0) : level);
                };
                params.levelLeftDb = corrected(params.levelLeftDb);
                params.levelRightDb = corrected(params.levelRightDb);
            }
            lastPlayed_ = params;
            result = StartSignal(params);
        }
    }
    UpdateFreqText();
    Display.precOut = std::to_string(engine_.LoopResidue());
    if (!start && result != 0) {
        // A running signal was stopped for the change and the new one could not start.
        // Showing the generator on while nothing plays would pass silence off as the
        // signal: it shows itself off and says why, as Start does.
        signalOn_ = false;
        Display.panelColour = kColourBlack;
        Display.optEnabled = true;
        SetLevelControlsEnabled(true);
        const std::string reason = gen_.GenMode == kWaveUserFile && !player_.LastError().empty()
                                       ? player_.LastError()
                                       : engine_.DeviceErrorText(static_cast<std::uint32_t>(result));
        ShowErrorPrompt(errorPrefix_ + reason + " )", kErrorHelpContext);
    }
    return result;
}

int GeneratorControl::StartSignal(const GeneratorParams& params)
{
    if (params.waveform != kWaveSine && params.waveform != kWaveSmpte && params.waveform != kWaveDin &&
        params.waveform != kWaveCcif) {
        return engine_.StartPlayback(params.frequencyHz, -1, params);
    }
    // Whole periods of every tone, so the loop joins without a phase step at any frequency.
    int rateIn = 0, rateOut = 0;
    engine_.GetSampleRates(rateIn, rateOut);
    const std::vector<float> left = GeneratorLoop(params, true, rateOut);
    const std::vector<float> right = GeneratorLoop(params, false, rateOut);
    // A sine's blocks are checked for steps in its phase (frames lost on the way).
    return engine_.StartLoopedSignal(left, right, params.waveform == kWaveSine ? params.frequencyHz : 0);
}

void GeneratorControl::UpdateFreqText()
{
    Display.freqColour = kColourWhite;
    switch (gen_.GenMode) {
    case kWaveWhiteNoise:
        Display.freqText = "Noise";
        break;
    case kWavePinkNoise:
        Display.freqText = "Noise";
        Display.freqColour = kColourMagenta;
        break;
    case kWaveUserFile:
        Display.freqText = BareFileName(gen_.GenUserFile);
        break;
    case kWaveSmpte:
        Display.freqText = "SMPTE";
        break;
    case kWaveDin:
        Display.freqText = "DIN";
        break;
    case kWaveCcif:
        Display.freqText = "CCIF";
        break;
    default:
        Display.freqText = std::to_string(gen_.GenFrequency) + "Hz";
        break;
    }
}

void GeneratorControl::GstartClick()
{
    if (engine_.PlaybackActive() || gen_.GenFrequency == 0) {
        return;
    }
    const int code = ApplyGenerator(true);
    if (code != 0) {
        // A user file that cannot be played says why; device errors give the device's text.
        const std::string reason = gen_.GenMode == kWaveUserFile && !player_.LastError().empty()
                                       ? player_.LastError()
                                       : engine_.DeviceErrorText(static_cast<std::uint32_t>(code));
        ShowErrorPrompt(errorPrefix_ + reason + " )", kErrorHelpContext);
        return;
    }
    signalOn_ = true;
    Display.panelColour = kColourDarkRed;
    Display.optEnabled = false;
}

void GeneratorControl::GstopClick()
{
    engine_.StopPlayback();
    if (engine_.PlaybackActive() || engine_.PlaybackOpen()) {
        engine_.StopPlayback();  // a device call that failed once is tried again
    }
    player_.Stop();
    userWave_ = false;
    if (engine_.PlaybackActive()) {
        // The signal still plays: the generator goes on showing it, so that Stop can be
        // pressed again (or the sound system reset) instead of a silent-looking panel.
        return;
    }
    signalOn_ = false;
    Display.panelColour = kColourBlack;
    Display.optEnabled = true;
    SetLevelControlsEnabled(true);
}

int GeneratorMaxHz(int outputRateHz)
{
    return std::max(kGeneratorMaxHz, static_cast<int>(0.45 * outputRateHz));
}

int GeneratorControl::MaxHz() const
{
    int in = 0, out = 0;
    engine_.GetSampleRates(in, out);
    return GeneratorMaxHz(out);
}

void GeneratorControl::StepFrequency(int delta)
{
    const int f = gen_.GenFrequency + delta;
    if (f >= kGeneratorMinHz && f <= MaxHz()) {
        gen_.GenFrequency = f;
    }
    ApplyGenerator(false);
}

std::optional<int> GeneratorControl::ParseTypedFrequency(const std::string& text, int maxHz)
{
    std::string number = text;
    while (!number.empty() && (number.back() == ' ' || number.back() == '\t')) {
        number.pop_back();
    }
    // The unit may follow, with or without a blank before it, in any case.
    if (number.size() >= 2) {
        const std::string unit = number.substr(number.size() - 2);
        if ((unit[0] == 'H' || unit[0] == 'h') && (unit[1] == 'Z' || unit[1] == 'z')) {
            number.resize(number.size() - 2);
        }
    }
    int f = 0;
    if (!ParseDialogInteger(number, f) || f < kGeneratorMinHz || f > maxHz) {
        return std::nullopt;
    }
    return f;
}

void GeneratorControl::GfreqTextChange(const std::string& text)
{
    // A keystroke only edits the text: "1500" typed while a tone plays must not play
    // 1, 15 and 150 Hz on the way (a full-level 1 Hz tone can damage a loudspeaker).
    Display.freqText = text;
}

bool GeneratorControl::GfreqTextCommit(const std::string& text)
{
    const std::optional<int> f = ParseTypedFrequency(text, MaxHz());
    if (!f) {
        return false;
    }
    gen_.GenFrequency = *f;
    ApplyGenerator(false);
    UpdateFreqText();
    return true;
}

void GeneratorControl::ScrollBar4Scroll(int position)
{
    Display.scrollLeft = std::clamp(position, 0, 100);
    gen_.GenVolL = -Display.scrollLeft;
    Display.labelLeft = LevelLabel(Display.scrollLeft);
    ApplyGenerator(false);
}

void GeneratorControl::ScrollBar1Scroll(int position)
{
    Display.scrollRight = std::clamp(position, 0, 100);
    gen_.GenVolR = -Display.scrollRight;
    Display.labelRight = LevelLabel(Display.scrollRight);
    ApplyGenerator(false);
}

void GeneratorControl::PhLChange(const std::string& text)
{
    Display.phaseLeft = text;
    int v = 0;
    if (ParseDialogInteger(text, v)) {
        gen_.GenPhaseL = v;
        ApplyGenerator(false);
    }
}

void GeneratorControl::PhRChange(const std::string& text)
{
    Display.phaseRight = text;
    int v = 0;
    if (ParseDialogInteger(text, v)) {
        gen_.GenPhaseR = v;
        ApplyGenerator(false);
    }
}

void GeneratorControl::RadioGroup1Click(int index)
{
    if (index < kWaveSine || index >= kGeneratorWaveformCount) {
        return;
    }
    gen_.GenMode = index;
    Display.waveformItem = index;
    ApplyGenerator(false);
}

void GeneratorControl::UserButChosen(const std::string& fileName)
{
    gen_.GenUserFile = CutUtf8(fileName, kUserFileMaxChars);
}

bool GeneratorControl::WOoptButAllowed() const
{
    return !engine_.PlaybackActive();
}

void GeneratorControl::ScrollBar2Scroll(int position)
{
    const int p = std::clamp(position, 0, 100);
    engine_.SetOutputVolume(100 - p);
    Display.volumeLabel = std::to_string(engine_.GetOutputVolume()) + "%";
}

}  // namespace sonvera
