#include "dsp/spectrum.h"

#include <cmath>
#include <new>

#include "dsp/fft.h"
#include "dsp/window.h"

namespace sonvera {

bool SpectrumTransform::BuildWindowTable(int windowIndex, int n) {
    if (windowIndex < 0 || windowIndex >= kWindowCount || !IsValidTransformSize(n)) {
        return false;
    }
    try {
        if (windowTable_.empty()) windowTable_.assign(kWindowTableSize, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    FillWindow(windowIndex, n, windowTable_.data());
    tableSize_ = n;
    tableIndex_ = windowIndex;
    return true;
}

bool SpectrumTransform::ComputeSpectrum(float* samples, int n) {
    if (samples == nullptr || !IsValidTransformSize(n) || n != tableSize_) return false;
    try {
        if (imag_.empty()) imag_.assign(kImagBufferSize, 0.0f);
        if (real_.empty()) real_.assign(kImagBufferSize, 0.0f);
        // The window, the transform with imaginary parts 0 and the magnitudes (in double,
        // so very small components do not underflow to 0), in one go.
        WindowedMagnitudes(samples, windowTable_.data(), real_.data(), imag_.data(), samples, n);
    } catch (const std::bad_alloc&) {
        return false;  // a work buffer or the shared twiddle tables could not be obtained
    }
    return true;
}

}  // namespace sonvera
