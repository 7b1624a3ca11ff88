#pragma once
// Radix-2 decimation-in-time complex transform on separate real and imaginary
// single-precision arrays, scaled by 1/N.

namespace sonvera {

/// In-place transform X[k] = (1/N) * sum x[n] * exp(+2*pi*i*n*k/N) of re/im, N a power
/// of two from 2 to 8192. Bit reversal by a reversed counter, then butterfly passes
/// with a double-precision twiddle advanced by rotation, then division by N. The
/// twiddles of every pass are precomputed once per process (by the same rotation), so
/// each pass does the same arithmetic in the same order as the rotating form.
/// Returns false (arrays untouched) for an invalid size or null arrays.
bool Fft(float* re, float* im, int n);

/// The magnitude spectrum of a real block: the transform of samples[i] * window[i]
/// (single-precision products) with imaginary parts 0, magnitudes of bins 0..n/2-1 into
/// out. re and im (n values each) are work arrays; samples and window are only read
/// (out may be samples). Bit for bit the values of windowing in place, Fft and
/// magnitudes. Returns false for an invalid size or null arrays.
bool WindowedMagnitudes(const float* samples, const float* window, float* re, float* im,
                        float* out, int n);

/// Which instruction set the transform uses. All give identical results; the choice
/// exists so that tests can check the portable forms on a processor with vectors.
enum class FftPath { Auto, Avx, Sse2, Scalar };
void SetFftPath(FftPath path);

/// True when the processor offers 256-bit (512-bit) vector instructions and the path
/// allows them (used for speed only; results are the same either way).
bool HasAvx();
bool HasAvx512();

}  // namespace sonvera
