#pragma once
// THD+N and weighted band level of a magnitude spectrum, the search for the fundamental
// (interpolated between bins), the bins of a tone's lobe, the mean square of bins, and the
// validation of the analysis settings typed by the user.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dsp/curve.h"
#include "dsp/weighting.h"

namespace sonvera {

/// Level of a magnitude of exactly 0, and of an empty sum, in dB.
constexpr double kZeroMagnitudeDb = -192.0;
/// A reading is refused ("resolution too coarse") when the window lets a tone's level
/// move by more than this with its phase.
constexpr double kResolutionLimitDb = 0.1;

/// Analysis settings and run-time inputs of one analysis (dsp-side copy of the
/// ANALYSE settings plus the sample rate, transform size and window of the spectrum).
struct AnalysisParams {
    bool FundAuto = true;
    double Fundamental = 1000.0;  // Hz, whole; overwritten by each automatic search
    int AnaFreqLow = 100;         // Hz, band edges, both included
    int AnaFreqHigh = 20000;      // Hz
    double FundThreshold = 0.001; // linear magnitude a fundamental must exceed
    double AnaSampleRate = 44100.0;  // Hz
    int AnaFftSize = 4096;           // N; the spectrum holds N/2 magnitudes
    int AnaWindow = 0;               // the window of the spectrum, 0..8
};

/// One channel's spectrum as the analysis reads it: the magnitudes of the block as it was
/// recorded (searched for the fundamental), and, when the weighting is a filter run over
/// the samples, the magnitudes of the weighted block (whose powers are summed). Without
/// the weighted spectrum the weighting is applied to each bin.
struct ChannelSpectrum {
    ChannelSpectrum(std::span<const float> plain, std::span<const float> weightedBlock = {})
        : magnitudes(plain), weighted(weightedBlock) {}
    ChannelSpectrum(const std::vector<float>& plain) : magnitudes(plain) {}
    std::span<const float> magnitudes;
    std::span<const float> weighted;
};

/// What a THD+N or level reading is.
enum class ThdNCase {
    Ratio,             // the distortion and noise relative to the whole signal
    AbsoluteLevel,     // no fundamental: the weighted level of the band
    NotchCoversBand,   // every bin of the band lies in the notch: nothing to measure
    EmptyBand,         // the band holds no bin: kZeroMagnitudeDb ("nothing")
    ResolutionTooCoarse,  // the bins cannot tell the tone from 0 Hz (or the fundamental
                          // from its second harmonic): no number
};

/// Bin spacing in Hz: AnaSampleRate / AnaFftSize (0 for a size of 0 or less).
double AnaBinWidth(const AnalysisParams& params);

/// The strongest tone of a spectrum: the largest bin above FundThreshold (the lowest of
/// equal peaks; none when it is bin 0), its frequency placed between the bins from the
/// ratio of the peak bin to its larger neighbour through the window's kernel, and the
/// magnitude it would give on a bin (A/4 for a sine of amplitude A).
struct Tone {
    bool found = false;
    double bin = 0.0;        // fractional bin
    double freqHz = 0.0;
    double magnitude = 0.0;
};
Tone FindTone(std::span<const float> magnitudes, const AnalysisParams& params);

/// FindTone's frequency, or 0 when there is no tone. The weighting is not applied.
double FindFundamental(std::span<const float> magnitudes, const AnalysisParams& params);

/// Bins first..last (inclusive; empty when last < first).
struct BinRange {
    int first = 0;
    int last = -1;
    bool Contains(int k) const { return k >= first && k <= last; }
    bool Overlaps(const BinRange& o) const { return first <= last && o.first <= o.last && first <= o.last && o.first <= last; }
};
/// The bins within `halfWidthBins` of `centreBin`, inside 0..binCount-1.
BinRange BinsAround(double centreBin, double halfWidthBins, std::size_t binCount);
/// The main lobe of a tone at `centreBin`: the window's lobe half-width on each side.
BinRange LobeBins(double centreBin, const AnalysisParams& params, std::size_t binCount);
/// The notch of THD+N around a fundamental at `fundamentalBin`: as far on each side as it
/// can go without reaching the main lobes of 0 Hz and of the second harmonic, from two to
/// three lobe half-widths (8 to 12 bins for "Bla/Harris"), so it takes the fundamental's
/// near side lobes with it (beyond 12 bins the leakage of "Bla/Harris" lies below -98 dB).
BinRange NotchBins(double fundamentalBin, const AnalysisParams& params, std::size_t binCount);

/// True when the bins measure a tone at `bin`: its level cannot move by more than
/// kResolutionLimitDb with its phase (its lobe is clear of its mirror image at 0 Hz).
bool ResolvesTone(double bin, const AnalysisParams& params);
/// True when a fundamental at `bin` can be notched: ResolvesTone, and its notch stays clear
/// of the main lobes of 0 Hz and of its second harmonic (bin >= three lobe half-widths).
bool ResolvesFundamental(double bin, const AnalysisParams& params);

/// The mean-square value (full scale 1.0) that the bins first..last of a spectrum stand
/// for, weighted: the powers of the bins (bin 0 counted half, as its power is not split
/// with negative frequencies) over the window's noise bandwidth. Bins in `skip` are left
/// out. Magnitudes of exactly 0 count as kZeroMagnitudeDb.
double BinsMeanSquare(const ChannelSpectrum& spectrum, const AnalysisParams& params,
                      const WeightingFilter& filter, int first, int last, BinRange skip = {});

/// The weighted RMS of the band [AnaFreqLow, AnaFreqHigh] in dBFS: a sine of amplitude 1
/// reads -3.01 dB, white noise of RMS r reads r minus the share of the spectrum outside the
/// band, through every window. A band without any bin gives kZeroMagnitudeDb. When the
/// strongest component above FundThreshold cannot be resolved (ResolvesTone; a peak at
/// bin 0 never is) and its lobe reaches into the band, `tooCoarse` (when given) is set and
/// the number is only a guess.
double MeasureLevel(const ChannelSpectrum& spectrum, const AnalysisParams& params,
                    const WeightingFilter& filter, bool* tooCoarse = nullptr);

/// THD+N in dB. With FundAuto the fundamental is searched first and stored (whole Hz)
/// in params.Fundamental. With a fundamental the result is 10·log10 of the ratio of the
/// in-band power outside the notch (NotchBins, centred on the interpolated frequency) to
/// the power of all bins, so 1 % distortion reads -40.0 dB and all power outside the notch
/// 0 dB; without one it is the absolute band level, as MeasureLevel. A band without any
/// bin gives kZeroMagnitudeDb; so do a band the notch covers whole, a fundamental the
/// resolution cannot notch (ResolvesFundamental), and a strongest component at 0 Hz whose
/// lobe reaches into the band (params.Fundamental stays 0); `kind` (when given) tells them
/// apart.
double MeasureThdN(const ChannelSpectrum& spectrum, AnalysisParams& params,
                   const WeightingFilter& filter, ThdNCase* kind = nullptr);

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
