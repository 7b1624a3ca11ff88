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

/// Why parameters cannot be swept (the callers word it in their language).
enum class LogSweepParamError {
    None,
    FromTooLow,        // below kLogSweepMinFromHz (or not a number)
    FromNotBelowTo,
    ToAboveHalfRate,
    SecondsOutOfRange, // outside kLogSweepMinSeconds .. kLogSweepMaxSeconds
    LevelAboveZero,    // above 0 dB (or not a number)
    RateOutOfRange,    // outside kLogSweepMinRateHz .. kLogSweepMaxRateHz
};

/// The first rule `params` break, in the order of the enumeration.
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

}  // namespace sonvera
