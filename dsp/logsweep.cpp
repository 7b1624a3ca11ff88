#include "dsp/logsweep.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sonvera {

namespace {

// The sweep reaches below fromHz by at most an octave (a tenth of the band in log
// frequency for narrow bands); the fade-in takes the lower half of that.
constexpr double kLowExtensionOctaves = 1.0;
constexpr double kLowExtensionShare = 0.1;
// Above toHz by at most a quarter octave (a twentieth of the band); the fade-out takes
// 1/12 octave, less (down to 1/24) when half the sample rate leaves no more room.
constexpr double kHighExtensionOctaves = 0.25;
constexpr double kHighExtensionShare = 0.05;
constexpr double kFadeOutOctaves = 1.0 / 12.0;
// The sweep stays this far below half the sample rate.
constexpr double kHighestShareOfRate = 0.48;
// Silence after the sweep for the decay of the device under test.
constexpr double kTailSeconds = 0.5;

double Raised(double x)
{
    return 0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(x, 0.0, 1.0));
}

}  // namespace

LogSweepParamError CheckLogSweepParams(const LogSweepParams& p)
{
    if (!(p.fromHz >= kLogSweepMinFromHz)) {
        return LogSweepParamError::FromTooLow;
    }
    if (!(p.fromHz < p.toHz)) {
        return LogSweepParamError::FromNotBelowTo;
    }
    if (!(p.rateHz >= kLogSweepMinRateHz && p.rateHz <= kLogSweepMaxRateHz)) {
        return LogSweepParamError::RateOutOfRange;
    }
    if (p.toHz > p.rateHz / 2.0) {
        return LogSweepParamError::ToAboveHalfRate;
    }
    if (!(p.fromHz < kLogSweepMaxFromShareOfRate * p.rateHz)) {
        return LogSweepParamError::FromAboveRateShare;
    }
    if (!(p.seconds >= kLogSweepMinSeconds && p.seconds <= kLogSweepMaxSeconds)) {
        return LogSweepParamError::SecondsOutOfRange;
    }
    // The band's top depends on the design (half the rate may cut it) but not on the
    // duration; any valid duration gives the same.
    if (!(DesignLogSweep(p).BandTopHz() >= kLogSweepMinBandRatio * p.fromHz * (1.0 - 1e-12))) {
        return LogSweepParamError::BandTooNarrow;
    }
    if (!(p.levelDb <= 0.0)) {
        return LogSweepParamError::LevelAboveZero;
    }
    return LogSweepParamError::None;
}

double LogSweepDesign::HarmonicAdvance(int k) const
{
    return rateConstantS * std::log(static_cast<double>(k)) * params.rateHz;
}

std::size_t LogSweepDesign::RecordingFrames(std::size_t knownDelayFrames) const
{
    return Frames() + static_cast<std::size_t>(std::ceil(kLatencySeconds * params.rateHz)) + knownDelayFrames;
}

double LogSweepDesign::BandTopHz() const
{
    return std::min(params.toHz, flatToHz);
}

LogSweepDesign DesignLogSweep(const LogSweepParams& p)
{
    LogSweepDesign d;
    d.params = p;
    const double band = std::log(p.toHz / p.fromHz);  // in natural-log units
    d.rateConstantS = p.seconds / band;

    const double low = std::min(kLowExtensionOctaves * std::numbers::ln2, kLowExtensionShare * band);
    d.startHz = p.fromHz * std::exp(-low);
    d.flatFromHz = p.fromHz * std::exp(-low / 2.0);

    const double high = std::min(kHighExtensionOctaves * std::numbers::ln2, kHighExtensionShare * band);
    d.endHz = std::min(p.toHz * std::exp(high), kHighestShareOfRate * p.rateHz);
    const double fade = std::min(kFadeOutOctaves * std::numbers::ln2, 2.0 / 3.0 * high);
    d.flatToHz = std::max(d.endHz * std::exp(-fade), std::min(p.toHz, d.endHz * std::exp(-fade / 2.0)));

    d.startTimeS = d.rateConstantS * std::log(d.startHz / p.fromHz);
    const double endTimeS = d.rateConstantS * std::log(d.endHz / p.fromHz);
    d.sweepFrames = static_cast<std::size_t>(std::ceil((endTimeS - d.startTimeS) * p.rateHz));
    d.tailFrames = static_cast<std::size_t>(std::ceil(kTailSeconds * p.rateHz));
    d.amplitude = std::pow(10.0, p.levelDb / 20.0);
    return d;
}

std::vector<double> LogSweepGrid(const LogSweepDesign& d, int pointsPerOctave)
{
    const int perOctave = std::clamp(pointsPerOctave, 1, kLogSweepMaxPointsPerOctave);
    const double top = d.BandTopHz() * (1.0 + 1e-9);
    std::vector<double> grid{d.params.fromHz};
    for (int i = 1;; ++i) {
        const double f = d.params.fromHz * std::exp2(static_cast<double>(i) / perOctave);
        if (f > top) {
            return grid;
        }
        grid.push_back(f);
    }
}

std::vector<float> MakeLogSweep(const LogSweepDesign& d)
{
    std::vector<float> out(d.Frames(), 0.0f);
    const double rate = d.params.rateHz;
    const double l = d.rateConstantS;
    const double f1 = d.params.fromHz;
    const double tFlatFrom = l * std::log(d.flatFromHz / f1);
    const double tFlatTo = l * std::log(d.flatToHz / f1);
    const double tEnd = l * std::log(d.endHz / f1);
    for (std::size_t n = 0; n < d.sweepFrames; ++n) {
        const double t = d.startTimeS + static_cast<double>(n) / rate;
        // The phase of f(t) = f1 exp(t / L), zero at t = 0; the k-th harmonic's phase k
        // times it is the same law shifted by L ln k (plus a constant).
        const double phase = 2.0 * std::numbers::pi * f1 * l * std::expm1(t / l);
        double envelope = 1.0;
        if (t < tFlatFrom) {
            envelope = Raised((t - d.startTimeS) / (tFlatFrom - d.startTimeS));
        } else if (t > tFlatTo) {
            envelope = Raised((tEnd - t) / (tEnd - tFlatTo));
        }
        out[n] = static_cast<float>(d.amplitude * envelope * std::sin(phase));
    }
    return out;
}

}  // namespace sonvera
