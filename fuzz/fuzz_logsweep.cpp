// Fuzz target: the log sweep's parameter check. The input is the five values a user
// gives (from, to, seconds, rate, points per octave) as text. Whatever passes the check
// must be playable and analysable within the bound the README states: planned here from
// the design alone, so that each input costs microseconds however long its sweep.

#include "fuzz/fuzz_logsweep.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "dsp/logsweepanalysis.h"
#include "fuzz/fuzzsupport.h"

namespace sonvera::fuzz {

namespace {

// The longest delay a device specification of the virtual card allows (delay=SAMPLES).
constexpr std::size_t kLongestKnownDelay = 1000000;

bool ReadNumbers(const std::string& text, double (&values)[5])
{
    const char* p = text.c_str();
    for (double& v : values) {
        char* end = nullptr;
        v = std::strtod(p, &end);
        if (end == p) {
            return false;
        }
        p = end;
    }
    return true;
}

int WholeOrZero(double v)
{
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max() ? static_cast<int>(v) : 0;
}

void CheckPlan(const LogSweepDesign& d, std::size_t knownDelay)
{
    const std::size_t recording = d.RecordingFrames(knownDelay);
    const LogSweepAnalysisPlan plan = PlanLogSweepAnalysis(d, recording);
    Require(plan.transformFrames >= recording, "the transforms hold the recording");
    Require(plan.transformFrames <= LogSweepTransformBound(recording), "the transforms stay within the bound");
    Require(plan.reachFrames + (recording - d.sweepFrames) < plan.transformFrames,
            "the harmonics' lags and the delays the recording covers do not overlap");
    Require(plan.preFrames >= 1 && plan.maxPostFrames >= 1, "the linear window has both parts");
    Require(plan.windowsFit, "every window fits its transform");
    Require(plan.topHarmonic >= 1 && plan.topHarmonic <= 1 + kLogSweepHarmonics, "the harmonics measured");
}

}  // namespace

LogSweepOutcome CheckLogSweepBytes(const std::uint8_t* data, std::size_t size)
{
    LogSweepOutcome out;
    double values[5] = {};
    if (size > 256 || !ReadNumbers(std::string(reinterpret_cast<const char*>(data), size), values)) {
        return out;
    }
    out.parsed = true;
    out.params.fromHz = values[0];
    out.params.toHz = values[1];
    out.params.seconds = values[2];
    out.params.rateHz = WholeOrZero(values[3]);
    out.pointsPerOctave = WholeOrZero(values[4]);
    out.error = CheckLogSweepParams(out.params);
    if (out.error != LogSweepParamError::None) {
        return out;
    }

    const LogSweepDesign d = DesignLogSweep(out.params);
    const double rate = out.params.rateHz;
    // The sweep: frames within the length the parameters ask for (plus its extensions
    // of at most 15 %), starting below and ending above the band.
    Require(d.sweepFrames >= 1, "the sweep has frames");
    Require(static_cast<double>(d.sweepFrames) <= 1.15 * out.params.seconds * rate + 2.0,
            "the sweep is no longer than asked for, with its extensions");
    Require(d.startHz <= out.params.fromHz && d.startHz < d.flatFromHz && d.flatToHz < d.endHz,
            "the fades lie outside the band");
    Require(d.endHz <= 0.48 * rate * (1.0 + 1e-12), "the sweep stays below half the rate");
    Require(d.BandTopHz() >= kLogSweepMinBandRatio * out.params.fromHz * (1.0 - 1e-12), "the band is not too narrow");
    // The grid: never empty, never more points than the band holds at the finest grid.
    const std::size_t points = LogSweepGrid(d, out.pointsPerOctave).size();
    Require(points >= 1, "the table has a row");
    Require(static_cast<double>(points) <= kLogSweepMaxPointsPerOctave * std::log2(rate / 2.0) + 1.0,
            "the table is no longer than the band at the finest grid");
    CheckPlan(d, 0);
    CheckPlan(d, kLongestKnownDelay);
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::CheckLogSweepBytes(data, size);
    return 0;
}
