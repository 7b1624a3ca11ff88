#pragma once
// Magnitude spectrum of one channel block: window, transform, magnitudes.

#include <map>
#include <memory>
#include <vector>

namespace sonvera {

/// Owns the window table and the transform's work buffers of the spectrum analyser. Both
/// are obtained when the size first needs them and then reused; nothing is allocated per
/// block. Sizes up to kOwnTransformMaxSize (window.h) go through the program's own
/// transform; larger ones, up to kMaxSpectrumSize, through single-precision FFTW, planned
/// once per size (the plan and its arrays are kept for the life of this object), with the
/// same window, the same 1/N scaling and so the same magnitudes. Not thread-safe (FFTW's
/// planner is not): use it from one thread.
class SpectrumTransform {
public:
    /// Size of the imaginary work buffer of the own transform, in values.
    static constexpr int kImagBufferSize = 16380;

    SpectrumTransform();
    ~SpectrumTransform();
    SpectrumTransform(const SpectrumTransform&) = delete;
    SpectrumTransform& operator=(const SpectrumTransform&) = delete;

    /// Fills entries 0..n-1 of the window table for window 0..8 and size n (power of
    /// two, 2..kMaxSpectrumSize). An index above 8, an invalid size or a table that
    /// cannot be had leaves the table as it was and returns false.
    bool BuildWindowTable(int windowIndex, int n);

    /// In place: windows samples[0..n-1], transforms them (imaginary parts 0) and
    /// writes the magnitudes of bins 0..n/2-1 over samples[0..n/2-1] (bin k stands for
    /// k*fs/n). Entries n/2..n-1 are not part of the result (they keep the samples).
    /// Returns false without touching the samples when the window table was not built
    /// for this n, or when a work buffer or plan cannot be obtained.
    bool ComputeSpectrum(float* samples, int n);

    /// The window table's entries (empty before the first build).
    const std::vector<float>& WindowTable() const { return windowTable_; }
    /// Size and window the table was last built for (0 and -1 before the first build).
    int WindowTableSize() const { return tableSize_; }
    int WindowTableIndex() const { return tableIndex_; }
    /// How many FFTW plans were made so far (one per size above the own transform's).
    int PlansMade() const { return static_cast<int>(plans_.size()); }

private:
    struct LongPlan;
    LongPlan* PlanFor(int n);

    std::vector<float> windowTable_;
    std::vector<float> imag_;
    std::vector<float> real_;  // the transform works here; the caller's block is only read
    std::map<int, std::unique_ptr<LongPlan>> plans_;
    int tableSize_ = 0;
    int tableIndex_ = -1;
};

}  // namespace sonvera
