#include "dsp/realtransform.h"

#include <fftw3.h>

#include <new>

namespace sonvera {

std::size_t GoodTransformSize(std::size_t n)
{
    for (std::size_t m = n < 2 ? 2 : n;; ++m) {
        std::size_t r = m;
        for (std::size_t p : {2u, 3u, 5u, 7u}) {
            while (r % p == 0) {
                r /= p;
            }
        }
        if (r == 1) {
            return m;
        }
    }
}

struct RealTransform::Plans {
    fftw_plan forward = nullptr;
    fftw_plan inverse = nullptr;
};

RealTransform::RealTransform(std::size_t n) : n_(n < 2 ? 2 : n), plans_(std::make_unique<Plans>())
{
    time_ = static_cast<double*>(fftw_malloc(sizeof(double) * n_));
    spectrum_ = reinterpret_cast<std::complex<double>*>(fftw_malloc(sizeof(fftw_complex) * Bins()));
    if (time_ != nullptr && spectrum_ != nullptr) {
        // Estimated plans: measuring would take longer than the transform itself, and
        // each length is used for one analysis only.
        const int size = static_cast<int>(n_);
        auto* bins = reinterpret_cast<fftw_complex*>(spectrum_);
        plans_->forward = fftw_plan_dft_r2c_1d(size, time_, bins, FFTW_ESTIMATE);
        plans_->inverse = fftw_plan_dft_c2r_1d(size, bins, time_, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
    }
    if (plans_->forward == nullptr || plans_->inverse == nullptr) {
        Release();
        throw std::bad_alloc();
    }
}

RealTransform::~RealTransform()
{
    Release();
}

void RealTransform::Release()
{
    if (plans_) {
        if (plans_->forward != nullptr) {
            fftw_destroy_plan(plans_->forward);
            plans_->forward = nullptr;
        }
        if (plans_->inverse != nullptr) {
            fftw_destroy_plan(plans_->inverse);
            plans_->inverse = nullptr;
        }
    }
    fftw_free(time_);
    fftw_free(spectrum_);
    time_ = nullptr;
    spectrum_ = nullptr;
}

void RealTransform::Forward()
{
    fftw_execute(plans_->forward);
}

void RealTransform::Inverse()
{
    fftw_execute(plans_->inverse);
    const double scale = 1.0 / static_cast<double>(n_);
    for (std::size_t i = 0; i < n_; ++i) {
        time_[i] *= scale;
    }
}

}  // namespace sonvera
