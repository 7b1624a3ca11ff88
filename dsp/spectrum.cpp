#include "dsp/spectrum.h"

#include <algorithm>
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
    } catch (const std::bad_alloc&) {
        return false;
    }
    float* im = imag_.data();
    std::fill(im, im + n, 0.0f);
    const float* w = windowTable_.data();
    for (int i = 0; i < n; ++i) samples[i] *= w[i];
    try {
        // Magnitudes in double, so very small components do not underflow to 0.
        FftMagnitudes(samples, im, n);
    } catch (const std::bad_alloc&) {
        return false;  // the shared twiddle tables could not be obtained
    }
    return true;
}

}  // namespace sonvera
