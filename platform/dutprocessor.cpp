#include "platform/dutprocessor.h"

#include <cmath>
#include <numbers>

namespace sonvera {

namespace {

constexpr double kButterworthQ = std::numbers::sqrt2 / 2.0;

}  // namespace

double DutProcessor::Section::Run(double x)
{
    if (!active) {
        return x;
    }
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}

DutProcessor::DutProcessor(const DutConfig& dut, double sampleRateHz, std::uint32_t noiseSeed)
    : dut_(dut),
      rateHz_(sampleRateHz > 0.0 ? sampleRateHz : 44100.0),
      gain_(std::pow(10.0, dut.gainDb / 20.0)),
      noiseRms_(dut.noise ? std::pow(10.0, dut.noiseDbfs / 20.0) : 0.0),
      noiseState_(noiseSeed)
{
    const double nyquistLimit = 0.49 * rateHz_;
    if (dut_.highPassHz > 0.0) {
        const double fc = std::min(dut_.highPassHz, nyquistLimit);
        const double k = std::tan(std::numbers::pi * fc / rateHz_);
        const double norm = 1.0 / (1.0 + k / kButterworthQ + k * k);
        highPass_.b0 = norm;
        highPass_.b1 = -2.0 * norm;
        highPass_.b2 = norm;
        highPass_.a1 = 2.0 * (k * k - 1.0) * norm;
        highPass_.a2 = (1.0 - k / kButterworthQ + k * k) * norm;
        highPass_.active = true;
    }
    if (dut_.lowPassHz > 0.0 && dut_.lowPassHz < nyquistLimit) {
        const double k = std::tan(std::numbers::pi * dut_.lowPassHz / rateHz_);
        const double norm = 1.0 / (1.0 + k / kButterworthQ + k * k);
        lowPass_.b0 = k * k * norm;
        lowPass_.b1 = 2.0 * lowPass_.b0;
        lowPass_.b2 = lowPass_.b0;
        lowPass_.a1 = 2.0 * (k * k - 1.0) * norm;
        lowPass_.a2 = (1.0 - k / kButterworthQ + k * k) * norm;
        lowPass_.active = true;
    }
}

double DutProcessor::Process(double x)
{
    double y = x + 2.0 * dut_.h2 * x * x + 4.0 * dut_.h3 * x * x * x;
    y *= gain_;
    y = highPass_.Run(y);
    y = lowPass_.Run(y);
    if (noiseRms_ > 0.0) {
        y += noiseRms_ * NextGaussian();
    }
    return y;
}

std::uint64_t DutProcessor::NextBits()
{
    noiseState_ += 0x9E3779B97F4A7C15u;
    std::uint64_t z = noiseState_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

double DutProcessor::NextUniform()
{
    return (static_cast<double>(NextBits() >> 11) + 0.5) * 0x1.0p-53;  // in (0, 1)
}

double DutProcessor::NextGaussian()
{
    // The ziggurat of Marsaglia and Tsang with 128 layers under the density exp(-x^2/2):
    // 32 bits of a draw give the value, 7 others the layer. Nearly every draw lies inside
    // its layer's rectangle and costs one multiplication; the rest are settled against
    // the density, and the tail beyond the base layer's edge is drawn by
    // Marsaglia's method.
    const Ziggurat& z = Ziggurat::Table();
    for (;;) {
        const std::uint64_t bits = NextBits();
        const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
        const auto layer = static_cast<int>(bits >> 57);
        const double x = value * z.w[layer];
        if (std::abs(static_cast<std::int64_t>(value)) < z.k[layer]) {
            return x;
        }
        if (layer == 0) {
            double t = 0.0;
            double y = 0.0;
            do {
                t = -std::log(NextUniform()) / Ziggurat::kEdge;
                y = -std::log(NextUniform());
            } while (y + y < t * t);
            return value > 0 ? Ziggurat::kEdge + t : -Ziggurat::kEdge - t;
        }
        if (z.f[layer] + NextUniform() * (z.f[layer - 1] - z.f[layer]) < std::exp(-0.5 * x * x)) {
            return x;
        }
    }
}

const DutProcessor::Ziggurat& DutProcessor::Ziggurat::Table()
{
    static const Ziggurat table;
    return table;
}

DutProcessor::Ziggurat::Ziggurat()
{
    constexpr double kM = 2147483648.0;  // 2^31
    constexpr double kArea = 9.91256303526217e-3;  // of each layer
    double d = kEdge;
    double t = d;
    const double q = kArea / std::exp(-0.5 * d * d);
    k[0] = static_cast<std::int64_t>(d / q * kM);
    k[1] = 0;
    w[0] = q / kM;
    w[kLayers - 1] = d / kM;
    f[0] = 1.0;
    f[kLayers - 1] = std::exp(-0.5 * d * d);
    for (int i = kLayers - 2; i >= 1; --i) {
        d = std::sqrt(-2.0 * std::log(kArea / d + std::exp(-0.5 * d * d)));
        k[i + 1] = static_cast<std::int64_t>(d / t * kM);
        t = d;
        f[i] = std::exp(-0.5 * d * d);
        w[i] = d / kM;
    }
}

void DutProcessor::ClearState()
{
    highPass_.z1 = highPass_.z2 = 0.0;
    lowPass_.z1 = lowPass_.z2 = 0.0;
}

}  // namespace sonvera
