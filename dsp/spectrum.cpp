#include "dsp/spectrum.h"

#include <fftw3.h>

#include <cmath>
#include <new>

#include "dsp/fft.h"
#include "dsp/window.h"

namespace sonvera {

// One size's real-to-complex plan with its own arrays (FFTW plans are bound to them).
struct SpectrumTransform::LongPlan {
    int n = 0;
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;

    ~LongPlan() {
        if (plan != nullptr) fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
};

SpectrumTransform::SpectrumTransform() = default;
SpectrumTransform::~SpectrumTransform() = default;

bool SpectrumTransform::BuildWindowTable(int windowIndex, int n) {
    if (windowIndex < 0 || windowIndex >= kWindowCount || !IsValidSpectrumSize(n)) {
        return false;
    }
    try {
        // At least the own transform's table; grown (never per block) for longer sizes.
        const auto need = static_cast<std::size_t>(n > kWindowTableSize ? n : kWindowTableSize);
        if (windowTable_.size() < need) windowTable_.resize(need, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    FillWindow(windowIndex, n, windowTable_.data());
    tableSize_ = n;
    tableIndex_ = windowIndex;
    return true;
}

SpectrumTransform::LongPlan* SpectrumTransform::PlanFor(int n) {
    if (auto it = plans_.find(n); it != plans_.end()) return it->second.get();
    auto plan = std::make_unique<LongPlan>();
    plan->n = n;
    plan->in = static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<std::size_t>(n)));
    plan->out = static_cast<fftwf_complex*>(
        fftwf_malloc(sizeof(fftwf_complex) * (static_cast<std::size_t>(n) / 2 + 1)));
    if (plan->in == nullptr || plan->out == nullptr) return nullptr;
    // Estimated: measuring a million-point plan would take longer than many transforms.
    plan->plan = fftwf_plan_dft_r2c_1d(n, plan->in, plan->out, FFTW_ESTIMATE);
    if (plan->plan == nullptr) return nullptr;
    return plans_.emplace(n, std::move(plan)).first->second.get();
}

bool SpectrumTransform::ComputeSpectrum(float* samples, int n) {
    if (samples == nullptr || !IsValidSpectrumSize(n) || n != tableSize_) return false;
    try {
        if (n > kOwnTransformMaxSize) {
            LongPlan* plan = PlanFor(n);
            if (plan == nullptr) return false;
            const float* window = windowTable_.data();
            for (int i = 0; i < n; ++i) plan->in[i] = samples[i] * window[i];
            fftwf_execute(plan->plan);
            // FFTW leaves the transform unscaled: the 1/N of the own transform is applied to
            // the magnitude (in double, so small components neither underflow nor round).
            const double scale = 1.0 / static_cast<double>(n);
            for (int k = 0; k < n / 2; ++k) {
                const double re = plan->out[k][0];
                const double im = plan->out[k][1];
                samples[k] = static_cast<float>(std::sqrt(re * re + im * im) * scale);
            }
            return true;
        }
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
