#include "dsp/window.h"

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace sonvera {

namespace {

// "None" is the constant term alone; the gain G = kWindowCoherentGain / a0 of FillWindow
// makes it the constant 0.5.
const std::array<WindowCoefficients, kWindowCount> kCoefficients = {{
    {{1.0L, 0.0L, 0.0L, 0.0L, 0.0L}},
    {{0.54L, -0.46L, 0.0L, 0.0L, 0.0L}},
    {{0.5L, -0.5L, 0.0L, 0.0L, 0.0L}},
    {{0.42L, -0.5L, 0.08L, 0.0L, 0.0L}},
    {{0.35875L, -0.48829L, 0.14128L, -0.01168L, 0.0L}},
    {{0.1881L, -0.36923L, 0.28702L, -0.13077L, 0.02488L}},
    {{0.375L, -0.5L, 0.125L, 0.0L, 0.0L}},
    {{0.3125L, -0.46875L, 0.1875L, -0.03125L, 0.0L}},
    {{0.2734375L, -0.4375L, 0.21875L, -0.0625L, 0.0078125L}},
}};

bool IsWindowIndex(int windowIndex) { return windowIndex >= 0 && windowIndex < kWindowCount; }

// Index of the highest cosine term that is not 0.
int HighestTerm(const WindowCoefficients& c) {
    int m = 0;
    for (int term = 1; term < 5; ++term) {
        if (c.a[static_cast<std::size_t>(term)] != 0.0L) m = term;
    }
    return m;
}

// A two-sided sum of complex exponentials, Σ c_k e^(i·k·d) for k = -m..m, c_k at index
// k + m; room for a window (m <= 4) and its square (m <= 8).
struct CosineSum {
    std::array<double, 17> c{};
    int m = 0;
};

CosineSum TwoSided(const WindowCoefficients& coefficients) {
    CosineSum s;
    s.m = HighestTerm(coefficients);
    s.c[static_cast<std::size_t>(s.m)] = static_cast<double>(coefficients.a[0]);
    for (int term = 1; term <= s.m; ++term) {
        const double half = static_cast<double>(coefficients.a[static_cast<std::size_t>(term)]) / 2.0;
        s.c[static_cast<std::size_t>(s.m + term)] = half;
        s.c[static_cast<std::size_t>(s.m - term)] = half;
    }
    return s;
}

// Σ_{j=0}^{n-1} e^(-i·2π·x·j/n), the spectrum of n ones at x bins.
std::complex<double> Dirichlet(int n, double x) {
    const double nearest = std::nearbyint(x / n) * n;
    if (std::abs(x - nearest) < 1e-12) return {static_cast<double>(n), 0.0};
    const double pi = std::numbers::pi;
    const double magnitude = std::sin(pi * x) / std::sin(pi * x / n);
    const double phase = -pi * x * (n - 1) / n;
    return std::polar(magnitude, phase);
}

// Magnitude of the spectrum of a periodic cosine sum of n points at `nu` bins, relative to
// its value at 0 bins.
double KernelOf(const CosineSum& s, int n, double nu) {
    std::complex<double> sum = 0.0;
    for (int k = -s.m; k <= s.m; ++k) {
        sum += s.c[static_cast<std::size_t>(k + s.m)] * Dirichlet(n, nu - k);
    }
    return std::abs(sum) / (s.c[static_cast<std::size_t>(s.m)] * n);
}

}  // namespace

const WindowCoefficients& WindowCoefficientsOf(int windowIndex) {
    if (!IsWindowIndex(windowIndex)) return kCoefficients[0];
    return kCoefficients[static_cast<std::size_t>(windowIndex)];
}

bool IsValidTransformSize(int n) {
    return n >= 2 && n <= kWindowTableSize && (n & (n - 1)) == 0;
}

bool IsValidSpectrumSize(int n) {
    return n >= 2 && n <= kMaxSpectrumSize && (n & (n - 1)) == 0;
}

bool FillWindow(int windowIndex, int n, float* out) {
    if (!IsWindowIndex(windowIndex) || !IsValidSpectrumSize(n) || out == nullptr) {
        return false;
    }
    const WindowCoefficients& c = kCoefficients[static_cast<std::size_t>(windowIndex)];
    // The mean of a periodic cosine sum over its period is a0: this gain makes it exact.
    const long double gain = static_cast<long double>(kWindowCoherentGain) / c.a[0];
    const long double twoPi = 2.0L * std::numbers::pi_v<long double>;
    for (int i = 0; i < n; ++i) {
        const long double d = twoPi * static_cast<long double>(i) / static_cast<long double>(n);
        long double sum = 0.0L;
        for (int term = 0; term < 5; ++term) {
            const long double a = c.a[static_cast<std::size_t>(term)];
            if (a != 0.0L) sum += a * std::cos(static_cast<long double>(term) * d);
        }
        out[i] = static_cast<float>(gain * sum);
    }
    return true;
}

WindowShape ShapeOfWindow(int windowIndex) {
    const WindowCoefficients& c = WindowCoefficientsOf(windowIndex);
    WindowShape shape;
    shape.lobeHalfWidthBins = HighestTerm(c) + 1;
    // Σw² over N is a0² + Σ a_m²/2 (the cosines are orthogonal over the period), (Σw/N)² a0².
    long double power = c.a[0] * c.a[0];
    for (int term = 1; term < 5; ++term) {
        power += c.a[static_cast<std::size_t>(term)] * c.a[static_cast<std::size_t>(term)] / 2.0L;
    }
    shape.noiseBandwidthBins = static_cast<double>(power / (c.a[0] * c.a[0]));
    return shape;
}

double WindowKernel(int windowIndex, int n, double offsetBins) {
    if (n < 2) return 0.0;
    return KernelOf(TwoSided(WindowCoefficientsOf(windowIndex)), n, offsetBins);
}

double WindowMirrorErrorDb(int windowIndex, int n, double bin) {
    if (n < 2) return std::numeric_limits<double>::infinity();
    // A sine and its mirror image at -bin overlap in the bins by the spectrum of w² at twice
    // the sine's frequency (relative to the spectrum of w² at 0): that share of its power
    // comes and goes with the sine's phase.
    const CosineSum w = TwoSided(WindowCoefficientsOf(windowIndex));
    CosineSum squared;
    squared.m = 2 * w.m;
    for (int i = 0; i <= 2 * w.m; ++i) {
        for (int j = 0; j <= 2 * w.m; ++j) {
            squared.c[static_cast<std::size_t>(i + j)] += w.c[static_cast<std::size_t>(i)] * w.c[static_cast<std::size_t>(j)];
        }
    }
    const double share = KernelOf(squared, n, 2.0 * bin);
    if (!(share < 1.0)) return std::numeric_limits<double>::infinity();
    return -10.0 * std::log10(1.0 - share);
}

}  // namespace sonvera
