#pragma once
// The distortion analyser without widgets: what the output plays for each kind of reading,
// and the readings of the analyser's averaged spectra as the texts a window shows (both
// channels, German or English). The readings themselves are the pure functions of
// dsp/distortion.h, which the command-line tool prints as well.

#include <string>
#include <vector>

#include "dsp/analysis.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"
#include "dsp/weighting.h"
#include "measure/resultline.h"

namespace sonvera {

/// The tone of the THD and noise readings (a frequency whose period shares no common
/// factor with the usual rates, so every sample meets another point of the wave).
inline constexpr int kDistortionToneHz = 997;
/// The tone of the dynamic range reading, dB re full scale.
inline constexpr double kDynamicRangeToneDb = -60.0;
/// The tone of the crosstalk reading.
inline constexpr int kCrosstalkToneHz = 1000;

/// The reading's parameters for a spectrum of `fftSize` points at `rateHz` made with
/// `window`: the band's top held to the last bin below half the rate.
DistortionParams DistortionParamsFor(double rateHz, int fftSize, int window, double bandLowHz, double bandHighHz);

/// Dynamic range of a channel whose tone, arriving at `toneDb` re full scale (nominally
/// -60 dB), reads `thdnDb`: full scale over the residue, -toneDb - thdnDb.
double DynamicRangeDb(double thdnDb, double toneDb = kDynamicRangeToneDb);
/// Signal-to-noise ratio: a full-scale sine (RMS -3.01 dB re full scale) over the idle noise.
double SnrDb(double idleNoiseDb);

/// One direction's crosstalk: the undriven input's tone over the driven input's.
struct CrosstalkReading {
    bool signal = false;      // the driven input carried the tone
    bool belowFloor = false;  // the undriven input's tone is hidden in its noise: db is the floor
    double db = 0.0;
};
CrosstalkReading MeasureCrosstalk(const ChannelSpectrum& driven, const ChannelSpectrum& undriven,
                                  const DistortionParams& params, double freqHz);

/// What the window measures.
enum class DistortionMode { Thd, Imd, Noise, Crosstalk };

/// The window's choices.
struct DistortionMeterSettings {
    DistortionMode mode = DistortionMode::Thd;
    TwoToneTest imdTest = TwoToneTest::Smpte;
    /// THD and IMD: the output plays the test signal; false measures what arrives.
    bool play = true;
    double toneDb = -1.0;  // THD: the tone's level; IMD: the peak of the two tones' sum
};

/// One line of readings: its label and the value of each channel.
struct MeterRow {
    std::string label;
    std::string left;
    std::string right;
};

/// The distortion analyser's state: the mode, the phase of a two-part reading (noise:
/// silent output, then the -60 dB tone; crosstalk: tone on the left, then on the right)
/// and the readings taken so far, shown as rows of text.
class DistortionMeter {
public:
    void Configure(const DistortionMeterSettings& settings);
    const DistortionMeterSettings& Settings() const { return settings_; }

    /// What the output plays in the current phase, frames at `rateHz` looped (both empty:
    /// nothing plays).
    struct Signal {
        std::vector<float> left, right;
    };
    Signal SignalOf(int rateHz) const;
    /// The frequencies the output plays in this mode (checked against the output's rate).
    std::vector<int> PlayedFrequencies() const;
    /// 0 or 1; noise and crosstalk alternate between two.
    int Phase() const { return phase_; }

    /// Takes one averaged result of the analyser. Returns true when the phase moved on and
    /// the output must play SignalOf the new one.
    bool Take(const ChannelSpectrum& left, const ChannelSpectrum& right, const DistortionParams& params,
              const WeightingFilter& weighting);
    /// Results taken since Configure.
    int Results() const { return results_; }

    /// The large readings, and the table of harmonics (THD only), in 'D' or 'E'.
    std::vector<MeterRow> Rows(char language) const;
    std::vector<MeterRow> HarmonicRows(char language) const;
    /// Every row, the table's included, as tab-separated lines with a header (for the
    /// clipboard and the diagram's export).
    std::string Text(char language) const;
    /// The main readings on one line for the diagram.
    ResultLine Summary() const;

private:
    std::string Outcome(DistortionOutcome outcome, char language) const;

    DistortionMeterSettings settings_;
    int phase_ = 0;
    int results_ = 0;
    DistortionParams params_;
    DistortionReading thd_[2];
    ImdReading imd_[2];
    bool idleRead_ = false, toneRead_ = false;
    double idleDb_[2] = {0.0, 0.0};
    DistortionReading lowTone_[2];
    bool crossRead_[2] = {false, false};
    CrosstalkReading cross_[2];  // 0: left to right, 1: right to left
};

}  // namespace sonvera
