#include "dsp/spectrum.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "dsp/fft.h"
#include "dsp/window.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define SONVERA_SPECTRUM_X86 1
#endif

namespace sonvera {

namespace {

// sqrt(re^2 + im^2) in double so that very small components do not underflow to 0,
// rounded once to single precision.
void MagnitudesScalar(float* re, const float* im, int count, int start) {
    for (int k = start; k < count; ++k) {
        const double r = re[k];
        const double i = im[k];
        re[k] = static_cast<float>(std::sqrt(r * r + i * i));
    }
}

#if SONVERA_SPECTRUM_X86
// The same arithmetic four bins at a time (IEEE square root, no fused operations).
__attribute__((target("avx"))) void MagnitudesAvx(float* re, const float* im, int count) {
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m256d r = _mm256_cvtps_pd(_mm_loadu_ps(re + k));
        const __m256d i = _mm256_cvtps_pd(_mm_loadu_ps(im + k));
        const __m256d sum = _mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(i, i));
        _mm_storeu_ps(re + k, _mm256_cvtpd_ps(_mm256_sqrt_pd(sum)));
    }
    MagnitudesScalar(re, im, count, k);
}
#endif

}  // namespace

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
        Fft(samples, im, n);
    } catch (const std::bad_alloc&) {
        return false;  // the shared twiddle table could not be obtained
    }
#if SONVERA_SPECTRUM_X86
    if (HasAvx()) {
        MagnitudesAvx(samples, im, n / 2);
        return true;
    }
#endif
    MagnitudesScalar(samples, im, n / 2, 0);
    return true;
}

}  // namespace sonvera
