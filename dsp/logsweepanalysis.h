#pragma once
// The analysis of a recorded exponential sine sweep: deconvolution in the frequency
// domain, the linear impulse response windowed in time from its decay, the frequency
// response in level and phase on a logarithmic grid, the delay, and the 2nd to 5th
// harmonic responses cut out at their time advances.

#include <array>
#include <cstddef>
#include <vector>

#include "dsp/logsweep.h"

namespace sonvera {

/// With reference: the transfer function right / left (the left input carries the
/// played signal, so the card's own response and latency cancel). Stereo: each input
/// against the played sweep.
enum class LogSweepMode { Reference, Stereo };

/// Why a recording could not be analysed.
enum class LogSweepError {
    None,
    NoSignalLeft,   // the left input shows no sweep
    NoSignalRight,  // the right input shows no sweep
    NoMemory,       // the transforms could not be allocated
};

/// Harmonics measured: 2nd to 5th.
inline constexpr int kLogSweepHarmonics = 4;

/// The results of one input.
struct LogSweepChannel {
    std::vector<double> levelDb;   // per grid frequency
    std::vector<double> phaseDeg;  // after removing the delay, unwrapped along the grid
    /// H2..H5 in dB relative to the fundamental at the grid frequency (the excitation);
    /// NaN where k times the frequency lies above the measured band.
    std::array<std::vector<double>, kLogSweepHarmonics> harmonicDb;
    std::vector<double> thdDb;     // from the harmonics in band; NaN where there is none
    double delaySamples = 0.0;     // pure delay (against the left input or the played sweep)
    long windowStart = 0;          // lag of the window's first sample (samples)
    std::size_t windowFrames = 0;  // length of the window of the linear response
    /// The windowed linear impulse response, first sample at lag windowStart, unscaled:
    /// its sum is the gain at 0 Hz.
    std::vector<float> impulse;
};

/// Everything the analysis found.
struct LogSweepResult {
    LogSweepError error = LogSweepError::None;
    LogSweepMode mode = LogSweepMode::Reference;
    int rateHz = 0;
    std::vector<double> freqHz;  // the grid: fromHz * 2^(i / points per octave)
    double bandLowHz = 0.0;
    double bandHighHz = 0.0;
    LogSweepChannel right;  // with reference: right against left
    LogSweepChannel left;   // stereo only

    /// The delay of the right input against the left, in samples.
    double DelaySamples() const
    {
        return mode == LogSweepMode::Reference ? right.delaySamples : right.delaySamples - left.delaySamples;
    }
};

/// One recording to analyse: both inputs of `frames` frames, recorded from the moment
/// the first sample of `played` (design.Frames() samples, as MakeLogSweep gave them) went
/// out.
struct LogSweepRecording {
    const float* right = nullptr;
    const float* left = nullptr;
    std::size_t frames = 0;
    const float* played = nullptr;
};

/// What the analysis of one recording of `design` will transform, decided from the design
/// and the recording's length before anything is analysed: the bound of its memory and
/// time. Every harmonic response the sweep's band holds lies at most the sweep's length
/// before the linear one, so the deconvolution needs no room beyond the recording: its
/// transforms are the recording's length (plus a margin), whatever the band.
struct LogSweepAnalysisPlan {
    std::size_t transformFrames = 0;   // length of the deconvolution's transforms
    int topHarmonic = 1;               // the highest harmonic with a grid point in band (1: none)
    std::size_t reachFrames = 0;       // lags before the linear response kept clear for the harmonics
    std::size_t leadFrames = 0;        // how far before lag 0 the linear response is looked for
    long preFrames = 0;                // the linear window's part before the peak
    long maxPostFrames = 0;            // the longest part after it
    std::size_t largestWindow = 0;     // the longest windowed response (linear or harmonic)
    std::size_t largestWindowTransform = 0;  // and the longest transform of a windowed response
    bool windowsFit = true;            // every window fits into its transform
};

/// The plan for a recording of `recordingFrames` frames of `design` (valid parameters).
LogSweepAnalysisPlan PlanLogSweepAnalysis(const LogSweepDesign& design, std::size_t recordingFrames);

/// The bound the plan keeps: the transforms of the deconvolution are at most this long.
std::size_t LogSweepTransformBound(std::size_t recordingFrames);

/// Wraps degrees into -180 .. 180.
double WrapDegrees(double degrees);

/// Analyses a recording of the sweep `design` on a grid of `pointsPerOctave` (1 ..
/// kLogSweepMaxPointsPerOctave) from fromHz to the band's top.
LogSweepResult AnalyseLogSweep(const LogSweepDesign& design, const LogSweepRecording& recording,
                               LogSweepMode mode, int pointsPerOctave);

}  // namespace sonvera
