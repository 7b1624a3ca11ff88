#include "dsp/timingmarker.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "dsp/realtransform.h"

namespace sonvera {

namespace {

std::size_t FramesAt(double seconds, double rate)
{
    return static_cast<std::size_t>(std::llround(seconds * rate));
}

// The interpolator: a sinc of 2 * kHalfTaps taps under a Kaiser window, tabulated at
// kPhases points per frame and interpolated linearly between them.
constexpr int kHalfTaps = 48;
constexpr int kPhases = 1024;
constexpr double kKaiserBeta = 10.0;

}  // namespace

MarkedSweepLayout LayOutMarkedSweep(const LogSweepDesign& design)
{
    const double rate = design.params.rateHz;
    MarkedSweepLayout l;
    l.markerFrames = FramesAt(kMarkerSeconds, rate);
    l.firstMarker = FramesAt(kMarkerFirstSeconds, rate);
    l.secondMarker = FramesAt(kMarkerFirstSeconds + kMarkerSpacingSeconds, rate);
    l.sweepStart = FramesAt(kMarkerSweepSeconds, rate);
    l.totalFrames = l.sweepStart + design.Frames() + FramesAt(kMarkerTrailSeconds, rate);
    return l;
}

std::vector<float> MakeTimingMarker(double rateHz, double amplitude, bool quadrature)
{
    const std::size_t frames = FramesAt(kMarkerSeconds, rateHz);
    const double length = static_cast<double>(frames) / rateHz;
    const double sweepRate = (kMarkerHighHz - kMarkerLowHz) / length;  // Hz per second
    std::vector<float> out(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rateHz;
        const double phase = 2.0 * std::numbers::pi * (kMarkerLowHz * t + 0.5 * sweepRate * t * t);
        const double edge = std::min(t, length - t) / kMarkerFadeSeconds;
        const double envelope = edge >= 1.0 ? 1.0 : 0.5 - 0.5 * std::cos(std::numbers::pi * std::max(edge, 0.0));
        out[n] = static_cast<float>(amplitude * envelope * (quadrature ? std::cos(phase) : std::sin(phase)));
    }
    return out;
}

std::vector<float> MakeMarkedLogSweep(const LogSweepDesign& design)
{
    const MarkedSweepLayout l = LayOutMarkedSweep(design);
    std::vector<float> out(l.totalFrames, 0.0f);
    const std::vector<float> marker = MakeTimingMarker(design.params.rateHz, design.amplitude);
    std::copy(marker.begin(), marker.end(), out.begin() + static_cast<std::ptrdiff_t>(l.firstMarker));
    std::copy(marker.begin(), marker.end(), out.begin() + static_cast<std::ptrdiff_t>(l.secondMarker));
    const std::vector<float> sweep = MakeLogSweep(design);
    std::copy(sweep.begin(), sweep.end(), out.begin() + static_cast<std::ptrdiff_t>(l.sweepStart));
    return out;
}

MarkerSearch FindTimingMarkers(const float* x, std::size_t frames, std::size_t stride, double markerRateHz,
                               double spacingFrames, double tolerance)
{
    MarkerSearch search;
    const std::vector<float> inPhase = MakeTimingMarker(markerRateHz, 1.0);
    const std::vector<float> inQuadrature = MakeTimingMarker(markerRateHz, 1.0, true);
    const std::size_t m = inPhase.size();
    if (m < 2 || frames < m) {
        return search;
    }
    double templateEnergy = 0.0;
    for (float v : inPhase) {
        templateEnergy += static_cast<double>(v) * v;
    }
    std::vector<double> energy(frames + 1, 0.0);  // energy[k]: sum of squares before frame k
    for (std::size_t k = 0; k < frames; ++k) {
        const double v = x[k * stride];
        energy[k + 1] = energy[k] + v * v;
    }

    // Correlation block by block (overlap-save): each block's lags need m - 1 frames more.
    const std::size_t block = std::size_t{1} << 16;
    const std::size_t n = GoodTransformSize(block + m);
    RealTransform signal(n), phaseT(n), quadT(n), work(n);
    auto load = [n](RealTransform& t, const std::vector<float>& v) {
        std::fill(t.Time(), t.Time() + n, 0.0);
        std::copy(v.begin(), v.end(), t.Time());
        t.Forward();
    };
    load(phaseT, inPhase);
    load(quadT, inQuadrature);
    const std::size_t lags = frames - m + 1;
    std::vector<float> score(lags, 0.0f);
    std::vector<double> inPhaseCorr(block);
    for (std::size_t start = 0; start < lags; start += block) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t k = start + j;
            signal.Time()[j] = j < block + m - 1 && k < frames ? x[k * stride] : 0.0;
        }
        signal.Forward();
        const std::size_t count = std::min(block, lags - start);
        for (int pass = 0; pass < 2; ++pass) {
            const std::complex<double>* t = (pass == 0 ? phaseT : quadT).Spectrum();
            for (std::size_t b = 0; b < signal.Bins(); ++b) {
                work.Spectrum()[b] = signal.Spectrum()[b] * std::conj(t[b]);
            }
            work.Inverse();
            for (std::size_t j = 0; j < count; ++j) {
                const double c = work.Time()[j];
                if (pass == 0) {
                    inPhaseCorr[j] = c;
                    continue;
                }
                const std::size_t k = start + j;
                const double local = energy[k + m] - energy[k];
                // Below about -200 dB re full scale there is nothing to find.
                if (local > 1e-20 * static_cast<double>(m)) {
                    const double e = std::sqrt((inPhaseCorr[j] * inPhaseCorr[j] + c * c) / (templateEnergy * local));
                    score[k] = static_cast<float>(std::min(e, 1.0));
                }
            }
        }
    }

    auto peakIn = [&](std::size_t from, std::size_t to) {  // [from, to), index of the highest
        std::size_t best = from;
        for (std::size_t k = from; k < to; ++k) {
            if (score[k] > score[best]) {
                best = k;
            }
        }
        return best;
    };
    auto refined = [&](std::size_t k) {
        if (k == 0 || k + 1 >= lags) {
            return static_cast<double>(k);
        }
        const double a = score[k - 1], b = score[k], c = score[k + 1];
        const double d = a - 2.0 * b + c;
        return d < 0.0 ? static_cast<double>(k) + 0.5 * (a - c) / d : static_cast<double>(k);
    };
    const std::size_t p = peakIn(0, lags);
    if (score[p] < kMarkerMinScore) {
        return search;
    }
    search.foundOne = true;
    const auto lo = static_cast<std::size_t>(std::floor(spacingFrames * (1.0 - tolerance)));
    const auto hi = static_cast<std::size_t>(std::ceil(spacingFrames * (1.0 + tolerance))) + 1;
    std::size_t other = p;
    if (p + lo < lags) {
        other = peakIn(p + lo, std::min(lags, p + hi));
    }
    if (p >= lo) {
        const std::size_t before = peakIn(p >= hi ? p - hi + 1 : 0, p - lo + 1);
        if (other == p || score[before] > score[other]) {
            other = before;
        }
    }
    if (other == p || score[other] < kMarkerMinScore) {
        search.first = refined(p);
        search.score = score[p];
        return search;
    }
    search.found = true;
    search.first = refined(std::min(p, other));
    search.second = refined(std::max(p, other));
    search.score = std::min(score[p], score[other]);
    return search;
}

std::vector<float> ResampleByRatio(const float* x, std::size_t frames, std::size_t stride, double ratio)
{
    if (frames == 0 || !(ratio > 0.0)) {
        return {};
    }
    const double cutoff = std::min(1.0, 1.0 / ratio);  // of half the rate
    const int half = static_cast<int>(std::ceil(kHalfTaps / cutoff));
    const std::size_t size = static_cast<std::size_t>(2 * half * kPhases) + 2;
    std::vector<double> kernel(size);  // kernel[i] = h(i / kPhases - half)
    const double norm = std::cyl_bessel_i(0.0, kKaiserBeta);
    for (std::size_t i = 0; i < size; ++i) {
        const double u = static_cast<double>(i) / kPhases - half;
        const double v = u / half;
        if (std::fabs(v) >= 1.0) {
            kernel[i] = 0.0;
            continue;
        }
        const double a = std::numbers::pi * cutoff * u;
        const double sinc = a == 0.0 ? 1.0 : std::sin(a) / a;
        kernel[i] = cutoff * sinc * std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - v * v)) / norm;
    }
    const auto outFrames = static_cast<std::size_t>(std::floor(static_cast<double>(frames - 1) / ratio)) + 1;
    std::vector<float> out(outFrames);
    for (std::size_t mIndex = 0; mIndex < outFrames; ++mIndex) {
        const double p = static_cast<double>(mIndex) * ratio;
        const auto base = static_cast<long>(std::floor(p));
        double sum = 0.0;
        for (long i = base - half + 1; i <= base + half; ++i) {
            if (i < 0 || i >= static_cast<long>(frames)) {
                continue;
            }
            const double pos = (p - static_cast<double>(i) + half) * kPhases;  // table index of h(p - i)
            const auto j = static_cast<std::size_t>(pos);
            const double w = pos - static_cast<double>(j);
            if (j + 1 >= size) {
                continue;
            }
            sum += x[static_cast<std::size_t>(i) * stride] * (kernel[j] + w * (kernel[j + 1] - kernel[j]));
        }
        out[mIndex] = static_cast<float>(sum);
    }
    return out;
}

}  // namespace sonvera
