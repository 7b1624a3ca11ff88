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

double DutProcessor::NextGaussian()
{
    if (haveSpare_) {
        haveSpare_ = false;
        return spareGaussian_;
    }
    for (;;) {
        noiseState_ += 0x9E3779B97F4A7C15u;
        std::uint64_t z = noiseState_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        z ^= z >> 31;
        constexpr double kScale = 1.0 / 2147483648.0;  // 2^-31: [-1, 1)
        const double u = static_cast<std::int32_t>(static_cast<std::uint32_t>(z)) * kScale;
        const double v = static_cast<std::int32_t>(static_cast<std::uint32_t>(z >> 32)) * kScale;
        const double s = u * u + v * v;
        if (s >= 1.0 || s == 0.0) {
            continue;
        }
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        spareGaussian_ = v * f;
        haveSpare_ = true;
        return u * f;
    }
}

void DutProcessor::ClearState()
{
    highPass_.z1 = highPass_.z2 = 0.0;
    lowPass_.z1 = lowPass_.z2 = 0.0;
}

}  // namespace sonvera
