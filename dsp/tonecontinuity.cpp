#include "dsp/tonecontinuity.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/sinefit.h"

namespace sonvera {

namespace {

constexpr int kWindow = 7;  // differences a local trend is drawn through; two of them may be steps
constexpr int kMinSegments = kWindow + 1;
constexpr int kMaxSegments = 64;
constexpr int kMinSegmentFrames = 32;
constexpr double kStepSigmas = 8.0;
// Smallest step judged a gap (radians, and the natural log of a level ratio): a tone
// looped over whole periods whose end misses a frame boundary by a fraction of a frame
// turns by less at each join.
constexpr double kPhaseFloor = 3e-3;
constexpr double kLevelFloor = 3e-3;

double Median(std::vector<double> v)
{
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    if (v.size() % 2 != 0) {
        return *mid;
    }
    return 0.5 * (*mid + *std::max_element(v.begin(), mid));
}

// The value at `at` of the line drawn through d[from], ..., d[from + kWindow - 1] by
// repeated medians of the slopes (Siegel): a line that up to half of the points do not
// pull away.
double RobustLineAt(const std::vector<double>& d, int from, int at)
{
    std::vector<double> slopes;
    std::vector<double> others;
    for (int j = from; j < from + kWindow; ++j) {
        others.clear();
        for (int k = from; k < from + kWindow; ++k) {
            if (k != j) {
                others.push_back((d[k] - d[j]) / (k - j));
            }
        }
        slopes.push_back(Median(others));
    }
    const double slope = Median(slopes);
    std::vector<double> offsets;
    for (int j = from; j < from + kWindow; ++j) {
        offsets.push_back(d[j] - slope * j);
    }
    return Median(offsets) + slope * at;
}

// How far each difference stands out of the local trend of its neighbourhood (the window
// kept whole at the ends), in units of the robust scatter of all of them or of the
// noise floor, whichever is larger; a step below `floor` scores below 1.
std::vector<double> StepScores(const std::vector<double>& d, double noise, double floor)
{
    const int n = static_cast<int>(d.size());
    std::vector<double> magnitude(d.size());
    for (int i = 0; i < n; ++i) {
        const int from = std::clamp(i - kWindow / 2, 0, n - kWindow);
        magnitude[i] = std::abs(d[i] - RobustLineAt(d, from, i));
    }
    const double scatter = 1.4826 * Median(magnitude);
    const double limit = std::max(kStepSigmas * std::max(scatter, noise), floor);
    for (double& m : magnitude) {
        m /= limit;
    }
    return magnitude;
}

}  // namespace

ToneContinuity CheckToneContinuity(const float* samples, int count, int stride, double freqHz, double rateHz)
{
    ToneContinuity result;
    if (samples == nullptr || count <= 0 || stride < 1 || !(rateHz > 0.0) || !(freqHz > 0.0) ||
        freqHz > rateHz / 2.0 || !FitSine(samples, count, stride, freqHz, rateHz).CarriesTone()) {
        return result;
    }
    const int length = std::max({kMinSegmentFrames, static_cast<int>(std::ceil(rateHz / freqHz)),
                                 count / kMaxSegments});
    const int segments = count / length;
    if (segments < kMinSegments) {
        return result;
    }
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    std::vector<double> phase(segments);
    std::vector<double> level(segments);
    std::vector<double> noise(segments);
    for (int i = 0; i < segments; ++i) {
        const SineFit fit = FitSine(samples + static_cast<long>(i) * length * stride, length, stride, freqHz, rateHz);
        const double amplitude = std::max(fit.Amplitude(), 1e-12);
        // The phase at the block's first frame, so that a steady tone gives one value.
        phase[i] = std::arg(fit.phasor) - w * (i * length + 0.5 * (length - 1));
        level[i] = std::log(amplitude);
        noise[i] = fit.residualRms / amplitude * std::sqrt(2.0 / length);
    }
    std::vector<double> turn(segments - 1);
    std::vector<double> rise(segments - 1);
    for (int i = 0; i + 1 < segments; ++i) {
        turn[i] = std::remainder(phase[i + 1] - phase[i], 2.0 * std::numbers::pi);
        rise[i] = level[i + 1] - level[i];
    }
    // A difference of two fits carries the noise of both.
    const double noiseOfDifference = std::sqrt(2.0) * Median(noise);
    const std::vector<double> turnScores = StepScores(turn, noiseOfDifference, kPhaseFloor);
    const std::vector<double> riseScores = StepScores(rise, noiseOfDifference, kLevelFloor);
    double worst = 1.0;
    for (int i = 0; i + 1 < segments; ++i) {
        const double score = std::max(turnScores[i], riseScores[i]);
        if (score > worst) {
            worst = score;
            result.frame = (i + 1) * length;
        }
    }
    result.checked = true;
    result.gap = result.frame >= 0;
    return result;
}

}  // namespace sonvera
