#include "diagram/curvemath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonvera {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Between(double f0, double v0, double f1, double v1, double f)
{
    if (!std::isfinite(v0) || !std::isfinite(v1)) {
        return f == f0 && std::isfinite(v0) ? v0 : (f == f1 && std::isfinite(v1) ? v1 : kNaN);
    }
    return f1 > f0 ? v0 + (v1 - v0) * (f - f0) / (f1 - f0) : v0;
}

}  // namespace

double CurveValueAt(const float* freqHz, const float* values, std::size_t count, double f)
{
    std::size_t previous = count;
    for (std::size_t i = 0; i < count; ++i) {
        if (!(freqHz[i] > 0.0f)) {
            continue;
        }
        if (freqHz[i] == f) {
            return values[i];
        }
        if (previous < count) {
            const double a = freqHz[previous];
            const double b = freqHz[i];
            if ((a < f && f < b) || (b < f && f < a)) {
                return Between(a, values[previous], b, values[i], f);
            }
        }
        previous = i;
    }
    return kNaN;
}

double SortedCurveValueAt(const float* freqHz, const float* values, std::size_t count, double f)
{
    if (count == 0 || !(f >= freqHz[0]) || !(f <= freqHz[count - 1])) {
        return kNaN;
    }
    const std::size_t hi = static_cast<std::size_t>(std::lower_bound(freqHz, freqHz + count, f) - freqHz);
    if (freqHz[hi] == f || hi == 0) {
        return values[hi];
    }
    return Between(freqHz[hi - 1], values[hi - 1], freqHz[hi], values[hi], f);
}

bool CurvePeak(const float* freqHz, const float* values, std::size_t count, double fromHz, double toHz,
               double& peakHz, double& peakValue)
{
    std::size_t best = count;
    for (std::size_t i = 0; i < count; ++i) {
        if (freqHz[i] > 0.0f && freqHz[i] >= fromHz && freqHz[i] <= toHz && std::isfinite(values[i]) &&
            (best == count || values[i] > values[best])) {
            best = i;
        }
    }
    if (best == count) {
        return false;
    }
    peakHz = freqHz[best];
    peakValue = values[best];
    // The neighbours along the curve (empty slots skipped).
    std::size_t before = best;
    while (before > 0 && !(freqHz[before - 1] > 0.0f)) {
        --before;
    }
    std::size_t after = best + 1;
    while (after < count && !(freqHz[after] > 0.0f)) {
        ++after;
    }
    if (before == 0 || after >= count) {
        return true;
    }
    --before;
    const double x0 = freqHz[before], y0 = values[before];
    const double x1 = freqHz[best], y1 = values[best];
    const double x2 = freqHz[after], y2 = values[after];
    if (!std::isfinite(y0) || !std::isfinite(y2) || !(x0 < x1 && x1 < x2)) {
        return true;
    }
    // The vertex of the parabola through the three points; it opens downward, since the
    // middle one is not below the others.
    const double d0 = (y1 - y0) / (x1 - x0);
    const double d1 = (y2 - y1) / (x2 - x1);
    const double a = (d1 - d0) / (x2 - x0);
    if (!(a < 0.0)) {
        return true;
    }
    const double b = d0 - a * (x0 + x1);
    const double x = -b / (2.0 * a);
    if (!(x >= x0 && x <= x2)) {
        return true;  // no top between the neighbours: a curve still rising at the range's end
    }
    peakHz = x;
    // The Newton form of the parabola: y0 + d0 (x - x0) + a (x - x0)(x - x1).
    peakValue = y0 + d0 * (x - x0) + a * (x - x0) * (x - x1);
    return true;
}

void SubtractCurve(const float* freqHz, float* values, std::size_t count, const float* refFreqHz,
                   const float* refValues, std::size_t refCount, bool degrees)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!(freqHz[i] > 0.0f)) {
            continue;
        }
        const double r = SortedCurveValueAt(refFreqHz, refValues, refCount, freqHz[i]);
        double d = static_cast<double>(values[i]) - r;
        if (degrees && std::isfinite(d)) {
            d = std::remainder(d, 360.0);
        }
        values[i] = static_cast<float>(d);
    }
}

}  // namespace sonvera
