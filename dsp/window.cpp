#include "dsp/window.h"

#include <cmath>
#include <numbers>

namespace sonvera {

namespace {

// The gain corrections bring every window's coherent gain near the 0.5 of "None";
// they are fixed numbers handed over in single precision (so -0.8 is -0.800000011920929).
const std::array<WindowCoefficients, kWindowCount> kCoefficients = {{
    {{0.5L, 0.0L, 0.0L, 0.0L, 0.0L}, 0.0f},  // "None": constant, not a cosine sum
    {{0.54L, -0.46L, 0.0L, 0.0L, 0.0L}, -0.8f},
    {{0.5L, -0.5L, 0.0L, 0.0L, 0.0L}, 0.0f},
    {{0.42L, -0.5L, 0.08L, 0.0L, 0.0L}, 1.5f},
    {{0.35875L, -0.48829L, 0.14128L, -0.01168L, 0.0L}, 2.7f},
    {{0.1881L, -0.36923L, 0.28702L, -0.13077L, 0.02488L}, 8.3f},
    {{0.375L, -0.5L, 0.125L, 0.0L, 0.0L}, 2.2f},
    {{0.3125L, -0.46875L, 0.1875L, -0.03125L, 0.0L}, 4.0f},
    {{0.2734375L, -0.4375L, 0.21875L, -0.0625L, 0.0078125L}, 5.0f},
}};

}  // namespace

const WindowCoefficients& WindowCoefficientsOf(int windowIndex) {
    if (windowIndex < 0 || windowIndex >= kWindowCount) return kCoefficients[0];
    return kCoefficients[static_cast<std::size_t>(windowIndex)];
}

bool IsValidTransformSize(int n) {
    return n >= 2 && n <= kWindowTableSize && (n & (n - 1)) == 0;
}

bool FillWindow(int windowIndex, int n, float* out) {
    if (windowIndex < 0 || windowIndex >= kWindowCount || !IsValidTransformSize(n) ||
        out == nullptr) {
        return false;
    }
    if (windowIndex == 0) {
        for (int i = 0; i < n; ++i) out[i] = 0.5f;
        return true;
    }
    const WindowCoefficients& c = kCoefficients[static_cast<std::size_t>(windowIndex)];
    const long double gain =
        std::pow(10.0L, static_cast<long double>(c.gainDb) / 20.0L);
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

}  // namespace sonvera
