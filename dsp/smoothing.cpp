#include "dsp/smoothing.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace sonvera {

namespace {

constexpr double kLn2 = 0.69314718055994530942;

/// Means of a curve that runs straight between its points (x ascending, y NaN where a
/// point has no value) over intervals of x. The sums of whole segments come from a tree
/// of partial sums, so a band sums only the few nodes that cover it: no long running sum
/// whose differences would lose the small values beside a large one (a spectrum's floor
/// 150 dB below its peak keeps its digits).
class BandMean {
public:
    BandMean(std::vector<double> x, std::vector<double> y) : x_(std::move(x)), y_(std::move(y))
    {
        const std::size_t segments = x_.size() > 1 ? x_.size() - 1 : 0;
        size_ = segments;
        area_.assign(2 * size_, 0.0);
        width_.assign(2 * size_, 0.0);
        for (std::size_t s = 0; s < segments; ++s) {
            if (Valid(s)) {
                const double w = x_[s + 1] - x_[s];
                area_[size_ + s] = w * (y_[s] + y_[s + 1]) / 2.0;
                width_[size_ + s] = w;
            }
        }
        for (std::size_t i = size_; i-- > 1;) {
            area_[i] = area_[2 * i] + area_[2 * i + 1];
            width_[i] = width_[2 * i] + width_[2 * i + 1];
        }
    }

    /// The mean over [a, b] (clamped to the curve's extent), NaN when no segment with
    /// values lies there.
    double Mean(double a, double b) const
    {
        if (size_ == 0) {
            return std::nan("");
        }
        a = std::max(a, x_.front());
        b = std::min(b, x_.back());
        if (!(b > a)) {
            return std::nan("");
        }
        // The segments holding a and b: x[s] <= a < x[s + 1], x[t] < b <= x[t + 1].
        const auto sa = std::min<std::size_t>(
            static_cast<std::size_t>(std::upper_bound(x_.begin(), x_.end(), a) - x_.begin()) - 1, size_ - 1);
        const auto sb = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<std::ptrdiff_t>(std::lower_bound(x_.begin(), x_.end(), b) - x_.begin(), 1)) - 1,
            size_ - 1);
        double area = 0.0;
        double width = 0.0;
        const auto part = [&](std::size_t s, double from, double to) {
            if (Valid(s) && to > from) {
                area += (to - from) * (At(s, from) + At(s, to)) / 2.0;
                width += to - from;
            }
        };
        if (sa >= sb) {
            part(sa, a, b);
        } else {
            part(sa, a, x_[sa + 1]);
            Sum(sa + 1, sb, area, width);
            part(sb, x_[sb], b);
        }
        return width > 0.0 ? area / width : std::nan("");
    }

private:
    bool Valid(std::size_t s) const { return std::isfinite(y_[s]) && std::isfinite(y_[s + 1]); }

    double At(std::size_t s, double x) const
    {
        const double w = x_[s + 1] - x_[s];
        return w > 0.0 ? y_[s] + (y_[s + 1] - y_[s]) * (x - x_[s]) / w : y_[s];
    }

    // Adds the whole segments l .. r - 1.
    void Sum(std::size_t l, std::size_t r, double& area, double& width) const
    {
        for (l += size_, r += size_; l < r; l /= 2, r /= 2) {
            if (l & 1) {
                area += area_[l];
                width += width_[l++];
            }
            if (r & 1) {
                area += area_[--r];
                width += width_[r];
            }
        }
    }

    std::vector<double> x_;
    std::vector<double> y_;
    std::size_t size_ = 0;
    std::vector<double> area_;
    std::vector<double> width_;
};

/// The points with a frequency above 0, in ascending order of frequency.
std::vector<std::size_t> Order(const float* freqHz, std::size_t count)
{
    std::vector<std::size_t> order;
    order.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (freqHz[i] > 0.0f && std::isfinite(freqHz[i])) {
            order.push_back(i);
        }
    }
    const auto byFreq = [freqHz](std::size_t a, std::size_t b) { return freqHz[a] < freqHz[b]; };
    if (!std::is_sorted(order.begin(), order.end(), byFreq)) {
        std::stable_sort(order.begin(), order.end(), byFreq);
    }
    return order;
}

}  // namespace

void SmoothLevels(const float* freqHz, const float* levelsDb, std::size_t count, int n, float* out)
{
    if (n <= 0) {
        std::copy(levelsDb, levelsDb + count, out);
        return;
    }
    const std::vector<std::size_t> order = Order(freqHz, count);
    std::vector<double> x(order.size());
    std::vector<double> power(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        x[k] = std::log(static_cast<double>(freqHz[order[k]]));
        power[k] = std::pow(10.0, static_cast<double>(levelsDb[order[k]]) / 10.0);
    }
    const BandMean mean(x, power);
    const double half = kLn2 / (2.0 * n);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        if (std::isnan(levelsDb[i])) {
            out[i] = levelsDb[i];
            continue;
        }
        const double m = mean.Mean(x[k] - half, x[k] + half);
        out[i] = m > 0.0 ? static_cast<float>(10.0 * std::log10(m)) : levelsDb[i];
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!(freqHz[i] > 0.0f && std::isfinite(freqHz[i]))) {
            out[i] = levelsDb[i];
        }
    }
}

void SmoothPhases(const float* freqHz, const float* phasesDeg, std::size_t count, int n, float* out)
{
    if (n <= 0) {
        std::copy(phasesDeg, phasesDeg + count, out);
        return;
    }
    const std::vector<std::size_t> order = Order(freqHz, count);
    std::vector<double> x(order.size());
    std::vector<double> unwrapped(order.size());
    double last = std::nan("");
    double previousInput = 0.0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        x[k] = freqHz[order[k]];
        const double p = phasesDeg[order[k]];
        if (!std::isfinite(p)) {
            unwrapped[k] = std::nan("");
            continue;
        }
        last = std::isnan(last) ? p : last + std::remainder(p - previousInput, 360.0);
        previousInput = p;
        unwrapped[k] = last;
    }
    const BandMean mean(x, unwrapped);
    // The width of the level band at f: f (2^(1/2N) - 2^(-1/2N)).
    const double share = (std::exp2(0.5 / n) - std::exp2(-0.5 / n)) / 2.0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        if (std::isnan(unwrapped[k])) {
            out[i] = phasesDeg[i];
            continue;
        }
        const double m = mean.Mean(x[k] * (1.0 - share), x[k] * (1.0 + share));
        if (!std::isfinite(m)) {
            out[i] = phasesDeg[i];
            continue;
        }
        // The band's deviation from the point, added to the point's own value: its turn
        // (wrapped or unwrapped) stays as it was.
        out[i] = static_cast<float>(static_cast<double>(phasesDeg[i]) + (m - unwrapped[k]));
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!(freqHz[i] > 0.0f && std::isfinite(freqHz[i]))) {
            out[i] = phasesDeg[i];
        }
    }
}

}  // namespace sonvera
