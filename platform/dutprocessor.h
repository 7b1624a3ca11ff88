#pragma once

#include <cstdint>

#include "platform/wavelayer.h"

namespace sonvera {

/// The simulated device under test of the loopback card, one sample at a time at one
/// sample rate. Chain: nonlinearity y = x + 2*h2*x^2 + 4*h3*x^3 (a full-scale sine
/// x = cos(wt) gets 2nd and 3rd harmonics of amplitude h2 and h3; at amplitude A they
/// fall to h2*A^2 and h3*A^3, plus a DC of h2*A^2 and 3*h3*A^3 added to the fundamental,
/// as with a weakly nonlinear amplifier), gain, 2nd-order Butterworth high-pass and
/// low-pass (bilinear transform with the corner pre-warped, so the corner is exactly
/// -3.01 dB), then white Gaussian noise of the given RMS. The delay is applied by the
/// card when it reads the output, not here.
///
/// Corners at or above 0.49 * fs: a low-pass there is left out (the whole band passes),
/// a high-pass is placed at 0.49 * fs.
class DutProcessor {
public:
    DutProcessor(const DutConfig& dut, double sampleRateHz, std::uint32_t noiseSeed);

    /// One input sample (full scale 1.0) in, one out.
    double Process(double x);

    /// Clears the filter memories (the noise sequence goes on).
    void ClearState();

    const DutConfig& Config() const { return dut_; }
    double SampleRate() const { return rateHz_; }

private:
    /// One second-order section in transposed direct form II.
    struct Section {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
        double z1 = 0.0, z2 = 0.0;
        bool active = false;
        double Run(double x);
    };

    DutConfig dut_;
    double rateHz_;
    double gain_;
    double noiseRms_;
    Section highPass_;
    Section lowPass_;
    /// The noise: a SplitMix64 sequence, shaped into unit Gaussian values by a ziggurat
    /// (a few nanoseconds a sample: the card runs it for every frame it records).
    std::uint64_t NextBits();
    double NextUniform();
    double NextGaussian();

    struct Ziggurat {
        static constexpr int kLayers = 128;
        static constexpr double kEdge = 3.442619855899;  // right edge of the base layer
        std::int64_t k[kLayers];  // |value| below this: inside the layer's rectangle
        double w[kLayers];        // value to x
        double f[kLayers];        // density at the layer's edge
        Ziggurat();
        static const Ziggurat& Table();
    };

    std::uint64_t noiseState_;
};

}  // namespace sonvera
