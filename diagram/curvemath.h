#pragma once
// Reading curves over frequency: values between their points, the highest point with
// its frequency between two points, one curve taken from another.

#include <cstddef>

namespace sonvera {

/// The value of a curve at `freqHz`, straight between its two neighbouring points, along
/// the points in the order given (points at or below 0 Hz are empty and skipped). NaN
/// outside the curve, or when a neighbour has no value. O(n).
double CurveValueAt(const float* freqHz, const float* values, std::size_t count, double freqHz0);

/// As CurveValueAt for a curve whose frequencies ascend: O(log n).
double SortedCurveValueAt(const float* freqHz, const float* values, std::size_t count, double freqHz0);

/// The highest point of a curve between fromHz and toHz, its frequency and value taken
/// from the parabola through it and its two neighbours (the bins' interpolation of a
/// spectrum's peak); the point itself at a gap, or where that parabola has no top between
/// the neighbours (a curve still rising at the range's end). False when no point in
/// the range has a value.
bool CurvePeak(const float* freqHz, const float* values, std::size_t count, double fromHz, double toHz,
               double& peakHz, double& peakValue);

/// Takes `reference` (ascending frequencies) from each point of `values`: in dB, or for
/// phases in degrees into -180 .. 180. NaN where the reference has no value.
void SubtractCurve(const float* freqHz, float* values, std::size_t count, const float* refFreqHz,
                   const float* refValues, std::size_t refCount, bool degrees);

}  // namespace sonvera
