#include "measure/sweepsettingsmodel.h"

#include <algorithm>
#include <cmath>

#include "config/numberformat.h"
#include "config/profilevalues.h"
#include "dsp/analysis.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"

namespace sonvera {

namespace {

const SweepDialogTexts kGerman{"Wobbel Dialog",
                               "Frequenz von                 bis",
                               "Anzahl Steps",
                               "Frequenzerzeugung",
                               "logarithmisch",
                               "Messung",
                               "Messung",
                               "Mono, links Ref.",
                               "Stereo, keine Ref.",
                               "Korrektur Dateien",
                               "Eingang:",
                               "Ausgang:",
                               "Pegel dig.",
                               "Kurve 2:"};
const SweepDialogTexts kEnglish{"Wobbel dialog",
                                "Frequency from                to",
                                "Step count",
                                "Frequencygenerating",
                                "logarithm",
                                "measurement",
                                "Measurement",
                                "Mono, left ref.",
                                "Stereo, no ref.",
                                "Correction files",
                                "Input:",
                                "Output:",
                                "Level dig.",
                                "Curve 2:"};

bool ReadInteger(const std::string& text, int& value)
{
    return ParseDialogInteger(text, value);
}

bool ReadReal(const std::string& text, double& value)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return false;
    }
    const auto last = text.find_last_not_of(' ');
    const auto parsed = ParseReal(std::string_view(text).substr(first, last - first + 1));
    if (!parsed) {
        return false;
    }
    value = *parsed;
    return true;
}

/// A level on the 0.1 dB grid of the spin button, so that repeated steps end exactly
/// on -100 ("OFF") and 0 rather than a hair beside them.
float TenthOf(double level)
{
    return static_cast<float>(std::round(level * 10.0) / 10.0);
}

}  // namespace

const std::array<const char*, 7> kSweepCurve2Items = {"Phase", "THD", "THD+N", "H2", "H3", "H4", "H5"};

const SweepDialogTexts* SweepDialogTextsFor(char language)
{
    if (language == 'D') {
        return &kGerman;
    }
    if (language == 'E') {
        return &kEnglish;
    }
    return nullptr;
}

std::string MeasuringTimeText(int outputRateHz, int inputBits)
{
    const long long r = outputRateHz;
    const long long b = inputBits == 32 ? 24 : inputBits;
    if (r <= 0 || b <= 0 || 2 * r * b / 8 == 0) {
        return "-ms";
    }
    const long long ms = std::min(65520000LL / (2 * r * b / 8), 65520000LL / (8 * r));
    return std::to_string(ms) + "ms";
}

void SweepSettingsModel::ShowSweepDialog(const SweepSettings& record, const CorrectionCurve& inCorrection,
                                         const CorrectionCurve& outCorrection, int outputRateHz, int inputBits)
{
    work_ = record;
    ShowSweepValues();
    InFileLabel = inCorrection.fileName;
    InFileLabelEnabled = inCorrection.active;
    OutFileLabel = outCorrection.fileName;
    OutFileLabelEnabled = outCorrection.active;
    outputRateHz_ = outputRateHz;
    inputBits_ = inputBits;
}

std::string SweepSettingsModel::MeasuringTime() const
{
    if (!outputRateHz_) {
        return "300";
    }
    const int rate = *outputRateHz_;
    if (rate <= 0 || !SweepShowsDistortion(work_)) {
        return MeasuringTimeText(rate, inputBits_);
    }
    // The steps as the sweep plays them, up to the first outside 1 Hz .. half the rate,
    // which ends it.
    long long shortest = 0, longest = 0;
    const int steps = std::clamp(work_.SweepSteps, 0, 1000);
    for (int index = 0; index <= steps; ++index) {
        const int f = SweepStepFrequency(work_, index);
        if (f < 1 || f > rate / 2) {
            break;
        }
        const long long frames = SweepStepFrames(rate, std::max(inputBits_, 8) / 8, f, true);
        const long long ms = (frames * 1000 + rate / 2) / rate;
        shortest = index == 0 ? ms : std::min(shortest, ms);
        longest = std::max(longest, ms);
    }
    if (longest == 0) {
        return MeasuringTimeText(rate, inputBits_);  // the first step ends the sweep
    }
    return shortest == longest ? std::to_string(shortest) + "ms"
                               : std::to_string(shortest) + "\u2013" + std::to_string(longest) + "ms";
}

void SweepSettingsModel::ShowSweepValues()
{
    Controls.messungItem = work_.SweepWithRef ? 0 : 1;
    Controls.linear = work_.SweepLinear;
    Controls.phase = work_.SweepPhase;
    Controls.curve2 = work_.SweepCurve2;
    Controls.from = std::to_string(work_.SweepFrom);
    Controls.to = std::to_string(work_.SweepTo);
    Controls.steps = std::to_string(work_.SweepSteps);
    Controls.settle = std::to_string(work_.SweepSettleTime);
    Controls.phaseMin = FormatReal(work_.SweepPhaseMin, 0);
    Controls.phaseMax = FormatReal(work_.SweepPhaseMax, 0);
    Controls.level = work_.SweepLevel == -100.0f ? "OFF" : FormatFixed(work_.SweepLevel, 1);
}

void SweepSettingsModel::FromDown()
{
    work_.SweepFrom = std::max(1, work_.SweepFrom - 10);
    ShowSweepValues();
}

void SweepSettingsModel::FromUp()
{
    const int before = work_.SweepFrom;
    if (work_.SweepFrom < work_.SweepTo) {
        work_.SweepFrom += 10;
    }
    work_.SweepFrom -= work_.SweepFrom % 10;
    // Rounding down never leaves the start at 0 Hz: then it stays where it was.
    if (work_.SweepFrom < 1) {
        work_.SweepFrom = before;
    }
    ShowSweepValues();
}

void SweepSettingsModel::ToDown()
{
    if (work_.SweepFrom + 100 < work_.SweepTo) {
        work_.SweepTo -= 100;
    }
    ShowSweepValues();
}

void SweepSettingsModel::ToUp()
{
    if (work_.SweepTo < kMaxFrequency) {
        work_.SweepTo += 100;
    }
    ShowSweepValues();
}

void SweepSettingsModel::StepsDown()
{
    if (work_.SweepSteps > 1) {
        --work_.SweepSteps;
    }
    ShowSweepValues();
}

void SweepSettingsModel::StepsUp()
{
    if (work_.SweepSteps < 1000) {
        ++work_.SweepSteps;
    }
    ShowSweepValues();
}

void SweepSettingsModel::PhaseMinDown()
{
    if (work_.SweepPhaseMin > -180.0f) {
        work_.SweepPhaseMin -= 1.0f;
    }
    ShowSweepValues();
}

void SweepSettingsModel::PhaseMinUp()
{
    if (work_.SweepPhaseMin < 0.0f) {
        work_.SweepPhaseMin += 1.0f;
    }
    ShowSweepValues();
}

void SweepSettingsModel::PhaseMaxDown()
{
    if (work_.SweepPhaseMax > 0.0f) {
        work_.SweepPhaseMax -= 1.0f;
    }
    ShowSweepValues();
}

void SweepSettingsModel::PhaseMaxUp()
{
    if (work_.SweepPhaseMax < 180.0f) {
        work_.SweepPhaseMax += 1.0f;
    }
    ShowSweepValues();
}

void SweepSettingsModel::LevelDown()
{
    if (work_.SweepLevel > -100.0f) {
        work_.SweepLevel = std::max(-100.0f, TenthOf(work_.SweepLevel - 0.1));
    }
    ShowSweepValues();
}

void SweepSettingsModel::LevelUp()
{
    if (work_.SweepLevel < 0.0f) {
        work_.SweepLevel = std::min(0.0f, TenthOf(work_.SweepLevel + 0.1));
    }
    ShowSweepValues();
}

void SweepSettingsModel::SettleDown()
{
    if (work_.SweepSettleTime > 0) {
        --work_.SweepSettleTime;
    }
    ShowSweepValues();
}

void SweepSettingsModel::SettleUp()
{
    if (work_.SweepSettleTime < 100000) {
        ++work_.SweepSettleTime;
    }
    ShowSweepValues();
}

void SweepSettingsModel::FromChanged(const std::string& text)
{
    Controls.from = text;
    int v = 0;
    if (ReadInteger(text, v) && v > 0 && v < work_.SweepTo) {
        work_.SweepFrom = v;
    }
}

void SweepSettingsModel::ToChanged(const std::string& text)
{
    Controls.to = text;
    int v = 0;
    if (ReadInteger(text, v) && v > work_.SweepFrom) {
        work_.SweepTo = v;
    }
}

void SweepSettingsModel::StepsChanged(const std::string& text)
{
    Controls.steps = text;
    int v = 0;
    if (ReadInteger(text, v) && v >= 1 && v <= 1000) {
        work_.SweepSteps = v;
    }
}

void SweepSettingsModel::PhaseMinChanged(const std::string& text)
{
    Controls.phaseMin = text;
    int v = 0;
    if (ReadInteger(text, v) && v >= -360 && static_cast<float>(v) < work_.SweepPhaseMax) {
        work_.SweepPhaseMin = static_cast<float>(v);
    }
}

void SweepSettingsModel::PhaseMaxChanged(const std::string& text)
{
    Controls.phaseMax = text;
    int v = 0;
    if (ReadInteger(text, v) && v <= 360 && static_cast<float>(v) > work_.SweepPhaseMin) {
        work_.SweepPhaseMax = static_cast<float>(v);
    }
}

void SweepSettingsModel::LevelChanged(const std::string& text)
{
    Controls.level = text;
    double v = 0.0;
    if (ReadReal(text, v)) {
        work_.SweepLevel = static_cast<float>(v);
    }
}

void SweepSettingsModel::SettleChanged(const std::string& text)
{
    Controls.settle = text;
    int v = 0;
    if (ReadInteger(text, v)) {
        work_.SweepSettleTime = v;
    }
}

void SweepSettingsModel::LinearClicked(bool linearChecked)
{
    Controls.linear = linearChecked;
    work_.SweepLinear = linearChecked;
}

void SweepSettingsModel::MessungClicked(int item)
{
    Controls.messungItem = item;
    if (item == 0) {
        work_.SweepWithRef = true;
    } else if (item == 1) {
        work_.SweepWithRef = false;
        work_.SweepPhase = false;
        Controls.phase = false;
    }
}

void SweepSettingsModel::PhaseButClicked(bool checked)
{
    Controls.phase = checked && work_.SweepWithRef;
    work_.SweepPhase = Controls.phase;
}

void SweepSettingsModel::Curve2Chosen(int item)
{
    if (item >= 0 && item < static_cast<int>(kSweepCurve2Items.size())) {
        Controls.curve2 = item;
        work_.SweepCurve2 = item;
    }
}

void SweepSettingsModel::DefaultClicked()
{
    work_.SweepFrom = 10;
    work_.SweepTo = 20000;
    work_.SweepSteps = 50;
    SweepFrames = 8000;
    work_.SweepPhase = false;
    work_.SweepCurve2 = 0;
    work_.SweepPhaseMin = -90.0f;
    work_.SweepPhaseMax = 90.0f;
    work_.SweepLevel = 0.0f;
    work_.SweepSettleTime = 100;
    work_.SweepWithRef = true;
    ShowSweepValues();
}

void SweepSettingsModel::ReadSweepDialog(SweepSettings& record)
{
    SweepSettings& w = work_;
    w.SweepLinear = Controls.linear;
    // The phase measurement exists only with the reference mode.
    w.SweepPhase = Controls.phase && w.SweepWithRef;
    w.SweepCurve2 = std::clamp(Controls.curve2, 0, static_cast<int>(kSweepCurve2Items.size()) - 1);

    double pmin = w.SweepPhaseMin, pmax = w.SweepPhaseMax;
    ReadReal(Controls.phaseMin, pmin);
    ReadReal(Controls.phaseMax, pmax);
    if (pmin < -180.0) pmin = -180.0;
    if (pmax > 180.0) pmax = 180.0;
    if (pmin >= pmax) pmin = pmax - 1.0;
    if (pmax <= pmin) pmax = pmin + 1.0;
    w.SweepPhaseMin = static_cast<float>(pmin);
    w.SweepPhaseMax = static_cast<float>(pmax);

    double level = w.SweepLevel;
    ReadReal(Controls.level, level);
    w.SweepLevel = static_cast<float>(std::clamp(level, -200.0, 0.0));

    int settle = w.SweepSettleTime;
    ReadInteger(Controls.settle, settle);
    w.SweepSettleTime = std::clamp(settle, 0, 100000);

    int from = w.SweepFrom, to = w.SweepTo;
    ReadInteger(Controls.from, from);
    ReadInteger(Controls.to, to);
    if (from <= 0) from = 1;
    if (to > kMaxFrequency) to = kMaxFrequency;
    if (from >= to) to = from + 100;
    w.SweepFrom = from;
    w.SweepTo = to;

    int steps = w.SweepSteps;
    ReadInteger(Controls.steps, steps);
    // The dialog's range: more steps than 1000 would outgrow the diagram's points.
    w.SweepSteps = std::clamp(steps, 1, 1000);

    Controls.messungItem = w.SweepWithRef ? 0 : 1;
    record = w;
}

}  // namespace sonvera
