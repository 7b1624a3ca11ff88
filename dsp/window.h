#pragma once
// The nine FFT windows of the spectrum analyser and the shape of their spectra: gains,
// noise bandwidths, lobe widths and the kernel a sine leaves in the bins, all derived from
// each window's definition (so they hold for every transform size).

#include <array>
#include <string_view>

namespace sonvera {

constexpr int kWindowCount = 9;
/// Largest size of the program's own transform (fft.h).
constexpr int kWindowTableSize = 8192;
/// Sizes of the spectrum analyser: its own transform up to kOwnTransformMaxSize points,
/// single-precision FFTW above, up to kMaxSpectrumSize.
constexpr int kMinSpectrumSize = 512;
constexpr int kOwnTransformMaxSize = 4096;
constexpr int kMaxSpectrumSize = 1 << 20;

/// Item texts of the window choice, in index order.
constexpr std::array<std::string_view, kWindowCount> kWindowNames = {
    "None", "Hamming", "van Hann", "Blackman", "Bla/Harris",
    "Flat-Top", "Rife-Vinc1", "Rife-Vinc2", "Rife-Vinc3"};

/// Cosine-sum coefficients a0..a4 of one window: w = G·Σ a_m·cos(m·2πi/N). "None" is the
/// constant a0 alone.
struct WindowCoefficients {
    std::array<long double, 5> a;  // extended precision, as the weights are computed
};

/// Coefficients of window 0..8 (an index outside gives those of "None").
const WindowCoefficients& WindowCoefficientsOf(int windowIndex);

/// Every window's coherent gain (the mean of its weights): that of "None", so a sine on a
/// bin reads the same magnitude through all nine (a sine of amplitude A gives A/4).
constexpr double kWindowCoherentGain = 0.5;

/// True for a power of two from 2 up to kWindowTableSize.
bool IsValidTransformSize(int n);
/// True for a power of two from 2 up to kMaxSpectrumSize (a window or spectrum size).
bool IsValidSpectrumSize(int n);

/// Writes the n weights of the periodic window (divisor n) into out[0..n-1], scaled to the
/// coherent gain kWindowCoherentGain exactly. Returns false (out untouched) for an index
/// outside 0..8 or a size IsValidSpectrumSize refuses.
bool FillWindow(int windowIndex, int n, float* out);

/// The shape of a window's spectrum, from its coefficients (exact for periodic windows of
/// more points than twice the number of terms).
struct WindowShape {
    /// Bins from a sine's peak to the first null of its main lobe: the number of cosine
    /// terms (1 for "None", 4 for "Bla/Harris"). The notch of THD+N covers this much on
    /// each side of the fundamental.
    int lobeHalfWidthBins = 1;
    /// Equivalent noise bandwidth in bins: the power white noise leaves in the bins, over
    /// the power a bin-centred sine of the same RMS leaves in its peak bin
    /// (N·Σw²/(Σw)²; 1 for "None", 2.0044 for "Bla/Harris").
    double noiseBandwidthBins = 1.0;
};
WindowShape ShapeOfWindow(int windowIndex);

/// The magnitude a sine leaves in a bin `offsetBins` away from its frequency, relative to
/// the magnitude it leaves in its own bin when it lies on one (1 at 0, 0 at the lobe's
/// nulls), for the periodic window of n points.
double WindowKernel(int windowIndex, int n, double offsetBins);

/// How far a sine's power summed over the bins can move with its phase when its lobe meets
/// its mirror image at 0 Hz, in dB (the largest excursion of 10·log10(1 ± share)): 0 for a
/// sine well clear of 0 Hz, large for one whose lobe reaches below 0 Hz. `bin` is the
/// sine's frequency in bins, n the transform size.
double WindowMirrorErrorDb(int windowIndex, int n, double bin);

}  // namespace sonvera
