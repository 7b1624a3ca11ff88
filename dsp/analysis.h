#pragma once
// THD+N and weighted band level of a magnitude spectrum, the automatic search for the
// fundamental, and the validation of the analysis settings typed by the user.

#include <optional>
#include <span>
#include <string>

#include "dsp/curve.h"
#include "dsp/weighting.h"

namespace sonvera {

/// Level offset A and factor B of the analysis (fixed, independent of calibration).
constexpr double kAnalysisLevelOffset = 8.11;
constexpr double kAnalysisLevelFactor = 8.722;
/// Level of a magnitude of exactly 0, and of an empty sum, in dB.
constexpr double kZeroMagnitudeDb = -192.0;

/// Analysis settings and run-time inputs of one analysis (dsp-side copy of the
/// ANALYSE settings plus the sample rate and transform size of the spectrum).
struct AnalysisParams {
    bool FundAuto = true;
    double Fundamental = 1000.0;  // Hz; overwritten by each automatic search
    int AnaFreqLow = 100;         // Hz, band edges, both included
    int AnaFreqHigh = 20000;      // Hz
    double FundThreshold = 0.001; // linear magnitude a fundamental must exceed
    double AnaSampleRate = 44100.0;  // Hz
    int AnaFftSize = 4096;           // N; the spectrum holds N/2 magnitudes
    /// The window's equivalent noise bandwidth in bins, with its gain relative to "None"
    /// (sum of w² over N/4; 1 for "None"): absolute levels divide their power sum by it,
    /// so a sine or noise reads the same level through every window.
    double WindowNoiseBandwidth = 1.0;
};

/// What a THD+N reading is.
enum class ThdNCase {
    Ratio,            // the distortion and noise relative to the whole signal
    AbsoluteLevel,    // no fundamental: the weighted level of the band
    NotchCoversBand,  // every bin of the band lies in the notch: nothing to measure
    EmptyBand,        // the band holds no bin: kZeroMagnitudeDb ("nothing")
};

/// Bin spacing in Hz: AnaSampleRate / AnaFftSize (0 for a size of 0 or less).
double AnaBinWidth(const AnalysisParams& params);

/// Frequency of the largest bin above FundThreshold (the lowest of equal peaks), or 0
/// when no bin qualifies or the largest is bin 0. The weighting is not applied.
double FindFundamental(std::span<const float> magnitudes, const AnalysisParams& params);

/// Weighted level of the band [AnaFreqLow, AnaFreqHigh] in dB:
/// A + B*ln(sqrt(sum p / WindowNoiseBandwidth)). A band without any bin gives
/// kZeroMagnitudeDb.
double MeasureLevel(std::span<const float> magnitudes, const AnalysisParams& params,
                    const WeightingFilter& filter, double A = kAnalysisLevelOffset,
                    double B = kAnalysisLevelFactor);

/// THD+N in dB. With FundAuto the fundamental is searched first and stored (whole Hz)
/// in params.Fundamental. With a fundamental the result is the ratio of the in-band
/// power outside the notch (12 bins each side) to the power of all bins,
/// B*ln(sqrt(rest/total)), so 1 % distortion reads -40 dB and all power outside the notch
/// 0 dB; without one it is the absolute band level, as MeasureLevel. A band without any
/// bin gives kZeroMagnitudeDb; a band the notch covers whole also gives it, and `kind`
/// (when given) tells the two apart.
double MeasureThdN(std::span<const float> magnitudes, AnalysisParams& params,
                   const WeightingFilter& filter, double A = kAnalysisLevelOffset,
                   double B = kAnalysisLevelFactor, ThdNCase* kind = nullptr);

/// The texts of the analysis settings dialog's edit fields.
struct AnalysisInput {
    std::string low;          // band low edge, Hz (integer)
    std::string high;         // band high edge, Hz (integer)
    std::string fundamental;  // manual fundamental, Hz (integer; checked even if unused)
    std::string thresholdDb;  // threshold of the automatic search, dB (real <= 0)
};

/// Validated values of the dialog.
struct AnalysisValues {
    int AnaFreqLow = 0;
    int AnaFreqHigh = 0;
    double Fundamental = 0.0;
    double FundThreshold = 0.0;  // 10^(dB/20)
};

/// Outcome of the validation: values, or the message of the first failed check.
struct AnalysisValidation {
    std::optional<AnalysisValues> values;
    std::string message;
};

/// Checks the dialog fields in order (low, high, low < high, fundamental, threshold)
/// and returns the first failure's message in the language "D" or "E" (any other
/// letter gives German).
AnalysisValidation ValidateAnalysisInput(const AnalysisInput& input, char language);

/// Integer as typed in a dialog field: optional blanks around, optional sign, digits,
/// within 32 bits.
bool ParseDialogInteger(const std::string& text, int& value);

}  // namespace sonvera
