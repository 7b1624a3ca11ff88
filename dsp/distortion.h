#pragma once
// The standard distortion readings of one channel's averaged magnitude spectrum (as the
// spectrum analyser makes it: SpectrumTransform's window gains, power averaging): the
// fundamental with each harmonic, THD, THD+N, SINAD, ENOB and the residual noise; the
// two-tone intermodulation readings; and a tone's level at a given frequency. Pure
// functions over a spectrum: the command-line tool and a window call them alike.
//
// Scales: a tone's level ("fundamental_dbfs") is its amplitude re full scale, so a sine
// the generator plays at -1 dB reads -1.00; a noise level is its RMS re full scale 1.0,
// as the analyser's Level reading and the virtual card's noise figure (a full-scale sine
// reads -3.01 dB there). Ratios are power ratios in dB (10·log10) and amplitude ratios in
// percent.

#include <cmath>
#include <string_view>
#include <vector>

#include "dsp/analysis.h"
#include "dsp/generator.h"
#include "dsp/weighting.h"

namespace sonvera {

/// The window the distortion readings use unless told otherwise: "Rife-Vinc3", whose
/// leakage beyond the notch lies below -160 dB, far under the -110 dB these readings
/// resolve ("Bla/Harris" leaks about -100 dB there).
constexpr int kDistortionWindow = 8;

/// What one reading is taken over.
struct DistortionParams {
    double sampleRateHz = 48000.0;
    int fftSize = 65536;           // N; the spectrum holds N/2 magnitudes
    int window = kDistortionWindow;  // 0..8, the window the spectrum was made with
    double bandLowHz = 20.0;       // THD+N and noise band, both edges included
    double bandHighHz = 20000.0;   // harmonics above it are not measured
    int harmonics = 10;            // K: H2..HK
    /// A fundamental's amplitude must exceed this (dB re full scale) to count as a signal.
    double thresholdDb = -100.0;
};

/// Why a channel has no reading.
enum class DistortionOutcome {
    Measured,
    NoSignal,             // no tone above the threshold
    ResolutionTooCoarse,  // the bins cannot separate the fundamental from 0 Hz or H2
    OutsideBand,          // the fundamental lies outside the band
};

/// The readings of one channel (valid when outcome is Measured).
struct DistortionReading {
    DistortionOutcome outcome = DistortionOutcome::NoSignal;
    double fundamentalHz = 0.0;    // interpolated between the bins
    double fundamentalDb = 0.0;    // amplitude re full scale
    double thdDb = 0.0;            // power of H2..HK (those in the band) over the fundamental;
                                   // NaN (also thdPct) when no harmonic lies in the band
    double thdPct = 0.0;
    double thdnDb = 0.0;           // band power outside the notch over the band's power
    double thdnPct = 0.0;
    double sinadDb = 0.0;          // -thdnDb
    double enobBits = 0.0;         // (SINAD - 1.76) / 6.02
    double noiseDb = 0.0;          // RMS of the band without fundamental and harmonics
    /// H2..HK in dB re the fundamental, index 0 = H2; NaN for a harmonic above the band
    /// or the spectrum's last bin.
    std::vector<double> harmonicsDbc;
};

/// The readings of a spectrum. `weighted` is applied to THD+N and the noise (the
/// fundamental and the harmonics are read flat): through spectrum.weighted where the
/// samples were filtered, else bin by bin.
DistortionReading MeasureDistortion(const ChannelSpectrum& spectrum, const DistortionParams& params,
                                    const WeightingFilter& weighting);

/// The amplitude (re full scale) of a tone at `freqHz`: the flat power of the window's
/// main lobe around that frequency. 0 when the lobe lies outside the spectrum.
double ToneAmplitude(const ChannelSpectrum& spectrum, const DistortionParams& params, double freqHz);

/// A tone's amplitude at a known frequency beside the noise around it: `floor` is the
/// amplitude the lobe would read from the noise alone, times the margin a tone must stand
/// above it (10 dB), estimated from the mean power of the bins from three to twenty lobe
/// half-widths away on both sides. `aboveFloor` is false when the amplitude does not
/// exceed the floor: the tone is then hidden in the noise and only "below floor" is known.
struct ToneAtFrequency {
    double amplitude = 0.0;
    double floor = 0.0;
    bool aboveFloor = false;
};
ToneAtFrequency ToneWithFloor(const ChannelSpectrum& spectrum, const DistortionParams& params, double freqHz);

/// The flat RMS (re full scale 1.0) of the band, in dB; with the band's noise alone when
/// the signal is silence (the idle channel noise). Weighted as MeasureDistortion's noise.
/// Minus infinity when every bin of the band is exactly 0 (digital silence);
/// kZeroMagnitudeDb for a band without bins.
double BandLevelDb(const ChannelSpectrum& spectrum, const DistortionParams& params, const WeightingFilter& weighting);

/// "smpte", "din", "ccif" (exactly); false for any other name.
bool TwoToneTestFromName(std::string_view name, TwoToneTest& test);

/// The intermodulation readings: SMPTE/DIN the power sum of the sidebands fH ± n·fL
/// (n = 1..3) over the upper tone; CCIF (difference-frequency distortion) d2 =
/// A(f2-f1) / (A(f1)+A(f2)) and d3 = (A(2f1-f2) + A(2f2-f1)) / (A(f1)+A(f2)).
struct ImdReading {
    DistortionOutcome outcome = DistortionOutcome::NoSignal;
    double imdDb = NAN;  // SMPTE, DIN
    double imdPct = NAN;
    double d2Db = NAN;   // CCIF
    double d3Db = NAN;
};
/// NoSignal when a tone lies below the threshold; ResolutionTooCoarse when the bins cannot
/// keep the lobes of neighbouring products apart or a product lies beyond the spectrum.
/// The tones are those TwoTones plays for `test`.
ImdReading MeasureImd(const ChannelSpectrum& spectrum, const DistortionParams& params, TwoToneTest test);

}  // namespace sonvera
