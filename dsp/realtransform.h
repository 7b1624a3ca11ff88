#pragma once
// Long real transforms for the measurements beyond the spectrum analyser (the log
// sweep's deconvolution), done by FFTW in double precision. The analyser keeps its own
// transform (fft.h).

#include <complex>
#include <cstddef>
#include <memory>

namespace sonvera {

/// The smallest length at or above `n` whose prime factors are 2, 3, 5 and 7 only: the
/// lengths FFTW transforms fastest.
std::size_t GoodTransformSize(std::size_t n);

/// One real transform of a fixed length n with its two arrays: `Time()` holds n reals,
/// `Spectrum()` n/2 + 1 complex bins (bin k stands for k/n of the sample rate).
/// Construction throws std::bad_alloc when the arrays cannot be had. Not thread-safe
/// (FFTW's planner is not): use it from one thread.
class RealTransform {
public:
    explicit RealTransform(std::size_t n);
    ~RealTransform();
    RealTransform(const RealTransform&) = delete;
    RealTransform& operator=(const RealTransform&) = delete;

    std::size_t Size() const { return n_; }
    std::size_t Bins() const { return n_ / 2 + 1; }
    double* Time() { return time_; }
    std::complex<double>* Spectrum() { return spectrum_; }

    /// Spectrum = sum over j of Time[j] * exp(-2 pi i j k / n), unscaled.
    void Forward();
    /// Time = the inverse, scaled by 1/n (so Forward then Inverse gives the input back).
    /// The spectrum is used up.
    void Inverse();

private:
    void Release();

    struct Plans;
    std::size_t n_;
    double* time_ = nullptr;
    std::complex<double>* spectrum_ = nullptr;
    std::unique_ptr<Plans> plans_;
};

}  // namespace sonvera
