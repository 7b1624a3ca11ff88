#pragma once
// Second-order (biquad) filter sections: design from an analog prototype by the
// bilinear transform with frequency prewarping, and the routines that run sections
// over sample data.

#include <array>
#include <span>

namespace sonvera {

/// Coefficients of one section for
/// y[n] = b0·x[n] + b1·x[n−1] + b2·x[n−2] + a1·y[n−1] + a2·y[n−2]
/// (the feedback coefficients carry their sign already). The default is a pass-through.
struct BiquadCoeffs {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

/// Running state of one section: x[n], x[n−1], x[n−2], y[n], y[n−1], y[n−2].
struct BiquadState {
    double x0 = 0.0;
    double x1 = 0.0;
    double x2 = 0.0;
    double y0 = 0.0;
    double y1 = 0.0;
    double y2 = 0.0;
};

/// Filter types understood by `BiquadDesigner::DesignBiquad`.
enum BiquadType : int {
    kBiquadPassThrough = 0,
    kBiquadLowShelf = 1,
    kBiquadHighShelf = 2,
    kBiquadPeaking = 3,
    kBiquadLowPass = 4,   // Butterworth
    kBiquadHighPass = 5,  // Butterworth
    kBiquadBandPass = 6,
    kBiquadNotch = 7,
    kBiquadAllPass = 8,
};

/// Analog prototype H(s) = (B2·s² + B1·s + B0) / (A2·s² + A1·s + A0) of the last design,
/// with the intermediate values it was built from. Kept for inspection and tests.
struct BiquadPrototype {
    double gainA = 1.0;   // A = 10^(|G|/20)
    double gainK = 1.0;   // K = 10^(|G|/(20·√2))
    double omega = 0.0;   // ω = 2π·p(fc), rad/s, p = prewarped frequency
    double beta = 0.0;    // relative bandwidth in the prewarped domain
    double peakD = 0.0;   // peaking correction d
    double B2 = 0.0, B1 = 0.0, B0 = 0.0;
    double A2 = 0.0, A1 = 0.0, A0 = 0.0;
};

/// Designs biquad sections for one sample rate. Each object carries its own design
/// context (rate, T, T²), so several owners can design at different rates side by side.
class BiquadDesigner {
public:
    BiquadDesigner() = default;
    explicit BiquadDesigner(int sampleRateHz) { SetFilterRate(sampleRateHz); }

    /// Sets the sample rate in Hz for the following designs.
    void SetFilterRate(int sampleRateHz);
    int FilterRate() const { return sampleRateHz_; }

    /// Designs one section of `type` (0..8, see `BiquadType`) at centre or corner
    /// frequency `fcHz`, with gain `gainDb` (shelves, peaking) and quality `q`
    /// (peaking, band-pass, notch). Returns true when `out` was written.
    /// Type 0 always succeeds and writes a pass-through. Any other type needs a rate
    /// set before, 0 < fcHz < rate/2, q > 0 and finite numbers; otherwise, and for
    /// types outside 0..8, `out` is left untouched and the result is false, so a
    /// caller never runs a section with undefined coefficients.
    bool DesignBiquad(int type, int fcHz, BiquadCoeffs& out, double gainDb, double q);

    /// Prototype and intermediate values of the last successful design of types 1..8.
    const BiquadPrototype& LastPrototype() const { return last_; }

private:
    int sampleRateHz_ = 0;
    long double t_ = 0.0L;   // sampling interval T in s
    long double t2_ = 0.0L;  // T²
    BiquadPrototype last_;
};

/// Filters an interleaved stereo block of `frames` frames in place with one section,
/// each channel with its own state starting at zero. The first channel (even
/// positions) is filtered over frames 0..frames−3, its last two frames stay as they
/// were; the second channel is filtered over all frames and every output above +1.0
/// is limited to +1.0 before it is stored and fed back (no lower limit). Outputs are
/// stored in single precision, the state is kept in double precision.
void RunBiquadStereo(const BiquadCoeffs& coeffs, int frames, float* samples);

/// Passes one sample through the sections of a cascade in order, the output of each
/// section being the input of the next; the last output replaces `sample`. The states
/// persist between calls. Uses min(coeffs.size(), states.size()) sections; with none
/// the sample passes unchanged.
void RunBiquadCascade(std::span<const BiquadCoeffs> coeffs, std::span<BiquadState> states,
                      double& sample);

/// A cascade of up to 14 sections with its count, as used by the pink-noise shaper.
struct BiquadCascade {
    static constexpr int kMaxSections = 14;
    std::array<BiquadCoeffs, kMaxSections> coeffs{};
    std::array<BiquadState, kMaxSections> states{};
    int count = 0;

    /// Runs `sample` through sections 0..count−1 (see the free function).
    void Run(double& sample);
    /// Clears the state of every section.
    void ClearStates();
};

}  // namespace sonvera
