#pragma once
// The nine FFT windows of the spectrum analyser.

#include <array>
#include <string_view>

namespace sonvera {

constexpr int kWindowCount = 9;
/// Largest transform size the window table (and the transform) supports.
constexpr int kWindowTableSize = 8192;

/// Item texts of the window choice, in index order.
constexpr std::array<std::string_view, kWindowCount> kWindowNames = {
    "None", "Hamming", "van Hann", "Blackman", "Bla/Harris",
    "Flat-Top", "Rife-Vinc1", "Rife-Vinc2", "Rife-Vinc3"};

/// Cosine-sum coefficients a0..a4 and the fixed gain correction (dB) of one window.
struct WindowCoefficients {
    std::array<long double, 5> a;  // extended precision, as the weights are computed
    float gainDb;
};

/// Coefficients of window 1..8 (index 0, "None", is the constant 0.5).
const WindowCoefficients& WindowCoefficientsOf(int windowIndex);

/// True for a power of two from 2 up to kWindowTableSize.
bool IsValidTransformSize(int n);

/// Writes the n weights of the periodic window (divisor n) into out[0..n-1].
/// Returns false (out untouched) for an index outside 0..8 or an invalid size.
bool FillWindow(int windowIndex, int n, float* out);

}  // namespace sonvera
