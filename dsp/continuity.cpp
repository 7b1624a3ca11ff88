#include "dsp/continuity.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <new>
#include <numbers>
#include <vector>

#include "dsp/realtransform.h"
#include "dsp/sinefit.h"

namespace sonvera {

namespace {

constexpr int kWindow = 7;  // differences a local trend is drawn through; two of them may be steps
constexpr int kMinSegments = kWindow + 1;
constexpr int kScatterWindow = 11;  // differences the scatter around one is taken from
constexpr int kMaxToneSegments = 64;
constexpr int kMinSegmentFrames = 32;
constexpr int kMinSweepSegmentFrames = 256;
constexpr int kMaxSweepSegmentFrames = 8192;
constexpr int kOnsetSegments = 2;
constexpr double kStepSigmas = 8.0;
// Smallest step judged a gap (radians, and the natural log of a level ratio): a tone
// looped over whole periods whose end misses a frame boundary by a fraction of a frame
// turns by less at each join.
constexpr double kPhaseFloor = 3e-3;
constexpr double kLevelFloor = 3e-3;

// One segment's fit: its phasor, the relative uncertainty the fit's residual gives it
// (radians of phase, the same in relative level), and its first frame.
struct Segment {
    std::complex<double> phasor;
    double noise = 0.0;
    long start = 0;
};

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
// kept whole at the ends, where the trend extended beyond the window's middle is trusted
// the less the farther), in units of its noise times the robust scatter in such units
// of the differences around it (at least 1: a smooth response bends the trend more where
// it changes fast); a step below `floor` scores below 1.
std::vector<double> StepScores(const std::vector<double>& d, const std::vector<double>& noise, double floor)
{
    const int n = static_cast<int>(d.size());
    std::vector<double> magnitude(d.size());
    std::vector<double> relative(d.size());
    std::vector<double> reach(d.size());  // 1, more where the trend is extended beyond its middle
    for (int i = 0; i < n; ++i) {
        const int from = std::clamp(i - kWindow / 2, 0, n - kWindow);
        magnitude[i] = std::abs(d[i] - RobustLineAt(d, from, i));
        reach[i] = 1.0 + std::abs(i - (from + kWindow / 2));
        relative[i] = magnitude[i] / (noise[i] * reach[i]);
    }
    std::vector<double> scores(d.size());
    for (int i = 0; i < n; ++i) {
        const int width = std::min(n, kScatterWindow);
        const int from = std::clamp(i - width / 2, 0, n - width);
        const double scatter =
            std::max(1.4826 * Median(std::vector<double>(relative.begin() + from, relative.begin() + from + width)), 1.0);
        scores[i] = magnitude[i] / std::max(kStepSigmas * scatter * noise[i] * reach[i], floor);
    }
    return scores;
}

// The largest step between neighbouring segments, if one scores above 1.
Continuity FindStep(const std::vector<Segment>& s)
{
    Continuity result;
    const int segments = static_cast<int>(s.size());
    if (segments < kMinSegments) {
        return result;
    }
    std::vector<double> turn(segments - 1);
    std::vector<double> rise(segments - 1);
    std::vector<double> noise(segments - 1);
    for (int i = 0; i + 1 < segments; ++i) {
        const double a = std::max(std::abs(s[i].phasor), 1e-300);
        const double b = std::max(std::abs(s[i + 1].phasor), 1e-300);
        turn[i] = std::remainder(std::arg(s[i + 1].phasor) - std::arg(s[i].phasor), 2.0 * std::numbers::pi);
        rise[i] = std::log(b / a);
        // A difference of two fits carries the noise of both; judged by the better one, so
        // that a segment the signal has left (frames lost by the thousand) stands out.
        noise[i] = std::max(std::sqrt(2.0) * std::min(s[i].noise, s[i + 1].noise), 1e-12);
    }
    const std::vector<double> turnScores = StepScores(turn, noise, kPhaseFloor);
    const std::vector<double> riseScores = StepScores(rise, noise, kLevelFloor);
    double worst = 1.0;
    for (int i = 0; i + 1 < segments; ++i) {
        const double score = std::max(turnScores[i], riseScores[i]);
        if (score > worst) {
            worst = score;
            result.frame = s[i + 1].start;
        }
    }
    result.checked = true;
    result.gap = result.frame >= 0;
    return result;
}

// The relative uncertainty of a fitted phasor from the fit's residual; `signalRms`: the
// RMS of the fitted basis signal over the segment.
double FitNoise(const SineFit& fit, double signalRms, int count)
{
    const double amplitude = fit.Amplitude() * signalRms * std::sqrt(2.0);
    return amplitude > 0.0 ? fit.residualRms / amplitude * std::sqrt(2.0 / count) : 1e300;
}

}  // namespace

Continuity CheckToneContinuity(const float* samples, int count, int stride, double freqHz, double rateHz)
{
    if (samples == nullptr || count <= 0 || stride < 1 || !(rateHz > 0.0) || !(freqHz > 0.0) ||
        freqHz > rateHz / 2.0 || !FitSine(samples, count, stride, freqHz, rateHz).CarriesTone()) {
        return {};
    }
    const int length = std::max({kMinSegmentFrames, static_cast<int>(std::ceil(rateHz / freqHz)),
                                 count / kMaxToneSegments});
    const int segments = count / length;
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    std::vector<Segment> fits;
    for (int i = 0; i < segments; ++i) {
        const SineFit fit = FitSine(samples + static_cast<long>(i) * length * stride, length, stride, freqHz, rateHz);
        // The phase at the block's first frame, so that a steady tone gives one value.
        const double turned = -w * (i * length + 0.5 * (length - 1));
        fits.push_back({fit.phasor * std::polar(1.0, turned), FitNoise(fit, std::sqrt(0.5), length),
                        static_cast<long>(i) * length});
    }
    return FindStep(fits);
}

Continuity CheckSweepContinuity(const float* played, std::size_t playedFrames, const float* recorded,
                                std::size_t frames, int stride, double rateHz)
{
    if (played == nullptr || recorded == nullptr || playedFrames < 2 || frames < 2 || stride < 1 ||
        !(rateHz > 0.0)) {
        return {};
    }
    std::vector<std::complex<double>> analytic;  // the played signal and its quadrature
    long lag = 0;
    try {
        RealTransform t(GoodTransformSize(playedFrames + frames));
        const std::size_t n = t.Size();
        std::fill(t.Time(), t.Time() + n, 0.0);
        std::copy(played, played + playedFrames, t.Time());
        t.Forward();
        std::vector<std::complex<double>> p(t.Spectrum(), t.Spectrum() + t.Bins());
        // The quadrature: every bin turned by -90 degrees, 0 Hz and half the rate dropped.
        for (std::size_t k = 0; k < t.Bins(); ++k) {
            const bool edge = k == 0 || 2 * k == n;
            t.Spectrum()[k] = edge ? 0.0 : std::complex<double>(0.0, -1.0) * p[k];
        }
        t.Inverse();
        analytic.resize(playedFrames);
        for (std::size_t i = 0; i < playedFrames; ++i) {
            analytic[i] = {played[i], t.Time()[i]};
        }
        // The lag: the peak of the cross-correlation's envelope.
        for (std::size_t i = 0; i < n; ++i) {
            t.Time()[i] = i < frames ? recorded[i * static_cast<std::size_t>(stride)] : 0.0;
        }
        t.Forward();
        std::vector<std::complex<double>> cross(t.Bins());
        for (std::size_t k = 0; k < t.Bins(); ++k) {
            cross[k] = t.Spectrum()[k] * std::conj(p[k]);
        }
        std::copy(cross.begin(), cross.end(), t.Spectrum());
        t.Inverse();
        std::vector<double> real(t.Time(), t.Time() + n);
        for (std::size_t k = 0; k < t.Bins(); ++k) {
            const bool edge = k == 0 || 2 * k == n;
            t.Spectrum()[k] = edge ? 0.0 : std::complex<double>(0.0, -1.0) * cross[k];
        }
        t.Inverse();
        double best = -1.0;
        for (std::size_t m = 0; m < frames; ++m) {  // the recording starts with the playing
            const double e = real[m] * real[m] + t.Time()[m] * t.Time()[m];
            if (e > best) {
                best = e;
                lag = static_cast<long>(m);
            }
        }
    } catch (const std::bad_alloc&) {
        return {};
    }
    double peak = 0.0;
    for (const auto& a : analytic) {
        peak = std::max(peak, std::norm(a));
    }
    std::vector<Segment> fits;
    long p = 0;
    while (p < static_cast<long>(playedFrames)) {
        // One period of the frequency playing here, from the phase's advance.
        const long probe = std::min<long>(64, static_cast<long>(playedFrames) - p - 1);
        std::complex<double> advance = 0.0;
        for (long i = p; i < p + probe; ++i) {
            advance += analytic[i + 1] * std::conj(analytic[i]);
        }
        const double cycles = std::abs(std::arg(advance)) / (2.0 * std::numbers::pi);
        const long length = std::clamp<long>(cycles > 0.0 ? std::lround(1.0 / cycles) : kMaxSweepSegmentFrames,
                                             kMinSweepSegmentFrames, kMaxSweepSegmentFrames);
        if (p + length > static_cast<long>(playedFrames) || lag + p + length > static_cast<long>(frames)) {
            break;
        }
        double energy = 0.0;
        for (long i = p; i < p + length; ++i) {
            energy += std::norm(analytic[i]);
        }
        energy /= static_cast<double>(length);
        // Only where the signal plays at its full level (not its fades, not its silence).
        if (energy >= 0.25 * peak) {
            const SineFit fit = FitSignal(recorded + (lag + p) * stride, static_cast<int>(length), stride,
                                          analytic.data() + p);
            fits.push_back({fit.phasor, FitNoise(fit, std::sqrt(0.5 * energy), static_cast<int>(length)), lag + p});
        } else if (!fits.empty()) {
            break;
        }
        p += length;
    }
    // The first segments hold how the device started to respond (a filter's onset), which
    // the played signal does not show: judged from the third on.
    fits.erase(fits.begin(), fits.begin() + std::min<std::ptrdiff_t>(kOnsetSegments, std::ssize(fits)));
    return FindStep(fits);
}

}  // namespace sonvera
