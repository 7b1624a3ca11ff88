#pragma once
// The filter bank that shapes white noise into pink noise (−3 dB per octave).

#include "dsp/biquad.h"

namespace sonvera {

/// Cascade of peaking sections one octave apart (20 Hz·2^i, gain −(i+1) dB, Q 1) for
/// every candidate below half the sample rate, closed by a −30 dB high shelf at 5/12 of
/// the rate that tames the top octave. At 44100 Hz: eleven peaking sections
/// (20..20480 Hz) and the shelf at 18375 Hz.
class PinkBank {
public:
    /// Designs the bank for `sampleRateHz` and clears the state of every peaking
    /// section; the closing shelf keeps its state from the previous buffer. Sections
    /// that cannot be designed at this rate (a rate below 3 Hz) are left out.
    void Setup(int sampleRateHz);

    /// Shapes one value; the state carries over between calls.
    double Process(double value) {
        cascade_.Run(value);
        return value;
    }

    const BiquadCascade& Cascade() const { return cascade_; }
    int PeakingCount() const { return peakingCount_; }
    /// Corner of the closing shelf in Hz, 0 when there is none.
    int ShelfFrequency() const { return shelfHz_; }

private:
    BiquadDesigner designer_;
    BiquadCascade cascade_;
    int peakingCount_ = 0;
    int shelfHz_ = 0;
};

}  // namespace sonvera
