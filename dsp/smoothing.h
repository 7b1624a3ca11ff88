#pragma once
// Fractional-octave smoothing of a curve over frequency: levels as a power average,
// phases averaged around the circle, over a band of 1/N octave centred on each point.

#include <cstddef>

namespace sonvera {

/// Smooths levels in dB over a band of 1/N octave centred on each point, f * 2^(-1/2N)
/// to f * 2^(1/2N): the mean of the power 10^(L/10) over the band in logarithmic
/// frequency, the curve taken as running straight in power between its points, back in
/// dB. Where the band reaches beyond the curve's ends, the part inside counts. A value
/// of NaN (a point without a value) stays NaN and takes no part; neither do points whose
/// frequency is not above 0 (they keep their value). Frequencies need not ascend. O(n log n).
/// `out` may be `levelsDb`. n <= 0 copies.
void SmoothLevels(const float* freqHz, const float* levelsDb, std::size_t count, int n, float* out);

/// Smooths phases in degrees over a band of the same width, centred on each point in
/// frequency (f - w/2 .. f + w/2, w the width of the level band at f), so that a phase
/// running straight in frequency (a pure delay) keeps its values and its slope: the
/// phase is followed around the circle (each step between neighbours the short way
/// round), averaged over the band, and put back into the turn of the point's own value.
void SmoothPhases(const float* freqHz, const float* phasesDeg, std::size_t count, int n, float* out);

}  // namespace sonvera
