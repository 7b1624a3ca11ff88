#pragma once
// The exponential sine sweep: its parameters, their limits, the sweep's time law and the
// samples played. The analysis of a recorded sweep is in logsweepanalysis.h.

#include <cstddef>
#include <vector>

namespace sonvera {

/// What the user asks for: a sweep from `fromHz` to `toHz` in `seconds`, at `levelDb`
/// re digital full scale, played at `rateHz`.
struct LogSweepParams {
    double fromHz = 20.0;
    double toHz = 20000.0;
    double seconds = 3.0;
    double levelDb = -6.0;
    int rateHz = 48000;
};

/// Limits of the parameters.
inline constexpr double kLogSweepMinFromHz = 1.0;
inline constexpr double kLogSweepMinSeconds = 0.5;
inline constexpr double kLogSweepMaxSeconds = 60.0;
inline constexpr int kLogSweepMinRateHz = 8000;
inline constexpr int kLogSweepMaxRateHz = 192000;
/// The start lies below this share of the rate: the sweep ends at 0.48 of the rate at
/// the most, and the band needs room above its start.
inline constexpr double kLogSweepMaxFromShareOfRate = 0.45;
/// The band measured (from the start to the band's top, see BandTopHz) spans at least
/// this ratio: narrower bands are not read within the usual accuracy (the delay, and so
/// the phase, cannot be told apart from the device's own phase slope).
inline constexpr double kLogSweepMinBandRatio = 1.1;
/// Default and limits of the grid's points per octave.
inline constexpr int kLogSweepDefaultPointsPerOctave = 48;
inline constexpr int kLogSweepMaxPointsPerOctave = 200;

/// Why parameters cannot be swept (the callers word it in their language).
enum class LogSweepParamError {
    None,
    FromTooLow,        // below kLogSweepMinFromHz (or not a number)
    FromNotBelowTo,
    RateOutOfRange,    // outside kLogSweepMinRateHz .. kLogSweepMaxRateHz
    ToAboveHalfRate,
    FromAboveRateShare, // not below kLogSweepMaxFromShareOfRate of the rate
    SecondsOutOfRange,  // outside kLogSweepMinSeconds .. kLogSweepMaxSeconds
    BandTooNarrow,      // the band measured spans less than kLogSweepMinBandRatio
    LevelAboveZero,     // above 0 dB (or not a number)
};

/// The first rule `params` break, in the order of the enumeration. Parameters that pass
/// can be swept and analysed: the sweep has frames, its band at least one grid point,
/// and the analysis stays within its bound (see PlanLogSweepAnalysis).
LogSweepParamError CheckLogSweepParams(const LogSweepParams& params);

/// The sweep as played. Its instantaneous frequency is f(t) = fromHz * exp(t / rate
/// constant), t = 0 at fromHz. It starts below fromHz and ends above toHz (as far as half
/// the sample rate allows), so that the fades at both ends lie outside the band and the
/// sweep's spectrum is flat (apart from its 3 dB per octave slope) over fromHz..toHz.
/// A silent tail follows for the device's decay.
struct LogSweepDesign {
    LogSweepParams params;
    double rateConstantS = 0.0;   // L = seconds / ln(to / from)
    double startHz = 0.0;         // first frequency played (the fade-in begins here)
    double flatFromHz = 0.0;      // the fade-in is over here
    double flatToHz = 0.0;        // the fade-out begins here
    double endHz = 0.0;           // last frequency played
    double startTimeS = 0.0;      // t of the first sample (negative: before fromHz)
    std::size_t sweepFrames = 0;  // frames of the sweep itself
    std::size_t tailFrames = 0;   // frames of silence after it
    double amplitude = 0.0;       // 10^(levelDb / 20), full scale 1.0

    std::size_t Frames() const { return sweepFrames + tailFrames; }
    /// The frames recorded while it plays: the played signal, then kLatencySeconds for
    /// the round trip of a real card, then `knownDelayFrames` (the delay of a device the
    /// wave layer knows, see SoundEngine::KnownDelayFrames), so that every delay up to
    /// that is measured.
    std::size_t RecordingFrames(std::size_t knownDelayFrames) const;
    static constexpr double kLatencySeconds = 0.5;
    /// How much earlier than the fundamental the k-th harmonic appears in the
    /// deconvolved response, in samples: L ln k times the rate.
    double HarmonicAdvance(int k) const;
    /// The upper edge of what the sweep measures: toHz, or flatToHz when half the
    /// sample rate left no room for the fade above toHz.
    double BandTopHz() const;
};

/// The design for valid `params` (checked with CheckLogSweepParams first).
LogSweepDesign DesignLogSweep(const LogSweepParams& params);

/// The samples played on both channels: the faded sweep, then the silent tail.
std::vector<float> MakeLogSweep(const LogSweepDesign& design);

/// The grid of the results: fromHz * 2^(i / pointsPerOctave) up to the band's top
/// (at least fromHz itself); `pointsPerOctave` is clamped to 1 .. kLogSweepMaxPointsPerOctave.
std::vector<double> LogSweepGrid(const LogSweepDesign& design, int pointsPerOctave);

}  // namespace sonvera
