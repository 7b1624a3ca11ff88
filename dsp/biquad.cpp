#include "dsp/biquad.h"

#include <algorithm>
#include <cmath>

namespace sonvera {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kSqrt2 = 1.414213562373095048801688724209698079L;

bool AllFinite(const BiquadCoeffs& c) {
    return std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) &&
           std::isfinite(c.a1) && std::isfinite(c.a2);
}

// One step of the difference equation on a shifted state.
inline double Step(const BiquadCoeffs& c, BiquadState& s, double in) {
    s.x2 = s.x1;
    s.y2 = s.y1;
    s.x1 = s.x0;
    s.y1 = s.y0;
    s.x0 = in;
    s.y0 = c.b0 * s.x0 + c.b1 * s.x1 + c.b2 * s.x2 + c.a1 * s.y1 + c.a2 * s.y2;
    return s.y0;
}

}  // namespace

void BiquadDesigner::SetFilterRate(int sampleRateHz) {
    sampleRateHz_ = sampleRateHz;
    if (sampleRateHz > 0) {
        t_ = 1.0L / static_cast<long double>(sampleRateHz);
        t2_ = t_ * t_;
    } else {
        t_ = 0.0L;
        t2_ = 0.0L;
    }
}

bool BiquadDesigner::DesignBiquad(int type, int fcHz, BiquadCoeffs& out, double gainDb,
                                  double q) {
    if (type == kBiquadPassThrough) {
        out = BiquadCoeffs{};
        return true;
    }
    if (type < kBiquadLowShelf || type > kBiquadAllPass) return false;
    // The prewarping tangent is only defined and positive for 0 < fc < fs/2; the
    // bandwidth needs q > 0. Outside that the section would be meaningless.
    if (sampleRateHz_ <= 0 || fcHz <= 0 || 2LL * fcHz >= sampleRateHz_) return false;
    if (!std::isfinite(gainDb) || !std::isfinite(q) || q <= 0.0) return false;

    const long double fs = sampleRateHz_;
    const long double fc = fcHz;
    const long double g = std::fabs(static_cast<long double>(gainDb));
    const long double bigA = std::pow(10.0L, g / 20.0L);
    const long double bigK = std::pow(10.0L, g / (20.0L * kSqrt2));

    auto prewarp = [fs](long double f) { return fs / kPi * std::tan(kPi * f / fs); };
    const long double pc = prewarp(fc);
    const long double w = 2.0L * kPi * pc;

    // Lower edge of a band of width fc/Q geometrically centred on fc.
    const long double half = fc / (2.0L * static_cast<long double>(q));
    const long double fl = std::sqrt(half * half + fc * fc) - half;
    const long double pl = prewarp(fl);
    const long double beta = (pc * pc / pl - pl) / pc;

    // Peaking correction. For a gain so small that A² − K² vanishes numerically the
    // section is flat whatever d is, so the value for G = 0 stands in.
    long double d = kSqrt2;
    if (gainDb != 0.0) {
        const long double num = bigK * bigK - 1.0L;
        const long double den = bigA * bigA - bigK * bigK;
        if (num > 0.0L && den > 0.0L) d = std::sqrt(num / den);
    }

    long double b2 = 0, b1 = 0, b0 = 0, a2 = 0, a1 = 0, a0 = 0;
    const long double w2 = w * w;
    const long double sqrtA = std::sqrt(bigA);
    switch (type) {
    case kBiquadLowShelf:
        if (gainDb >= 0) {
            b2 = 1; b1 = 2 * sqrtA * w; b0 = bigA * w2;
            a2 = 1; a1 = (bigA + 1) * w / bigK; a0 = w2;
        } else {
            b2 = 1; b1 = (bigA + 1) * w / bigK; b0 = w2;
            a2 = 1; a1 = 2 * sqrtA * w; a0 = bigA * w2;
        }
        break;
    case kBiquadHighShelf:
        if (gainDb >= 0) {
            b2 = bigA; b1 = 2 * sqrtA * w; b0 = w2;
            a2 = 1; a1 = (bigA + 1) * w / bigK; a0 = w2;
        } else {
            b2 = 1; b1 = (bigA + 1) * w / bigK; b0 = w2;
            a2 = bigA; a1 = 2 * sqrtA * w; a0 = w2;
        }
        break;
    case kBiquadPeaking:
        if (gainDb > 0) {
            b2 = 1; b1 = bigA * d * beta * w; b0 = w2;
            a2 = 1; a1 = d * beta * w; a0 = w2;
        } else {
            b2 = 1; b1 = d * beta * w; b0 = w2;
            a2 = 1; a1 = bigA * d * beta * w; a0 = w2;
        }
        break;
    case kBiquadLowPass:
        b0 = w2;
        a2 = 1; a1 = kSqrt2 * w; a0 = w2;
        break;
    case kBiquadHighPass:
        b2 = 1;
        a2 = 1; a1 = kSqrt2 * w; a0 = w2;
        break;
    case kBiquadBandPass:
        b1 = beta * w;
        a2 = 1; a1 = beta * w; a0 = w2;
        break;
    case kBiquadNotch:
        b2 = 1; b0 = w2;
        a2 = 1; a1 = beta * w; a0 = w2;
        break;
    case kBiquadAllPass:
        b2 = 1; b1 = -2 * w; b0 = w2;
        a2 = 1; a1 = 2 * w; a0 = w2;
        break;
    default:
        return false;
    }

    // Bilinear transform s = (2/T)·(1 − z⁻¹)/(1 + z⁻¹), multiplied through by T²·(1 + z⁻¹)².
    const long double t = t_;
    const long double tt = t2_;
    const long double den = tt * a0 + 2 * t * a1 + 4 * a2;
    BiquadCoeffs c;
    c.b0 = static_cast<double>((tt * b0 + 2 * t * b1 + 4 * b2) / den);
    c.b1 = static_cast<double>((2 * tt * b0 - 8 * b2) / den);
    c.b2 = static_cast<double>((tt * b0 - 2 * t * b1 + 4 * b2) / den);
    c.a1 = static_cast<double>(-(2 * tt * a0 - 8 * a2) / den);
    c.a2 = static_cast<double>(-(tt * a0 - 2 * t * a1 + 4 * a2) / den);
    if (!std::isfinite(den) || den == 0.0L || !AllFinite(c)) return false;

    last_ = BiquadPrototype{static_cast<double>(bigA), static_cast<double>(bigK),
                            static_cast<double>(w),    static_cast<double>(beta),
                            static_cast<double>(d),    static_cast<double>(b2),
                            static_cast<double>(b1),   static_cast<double>(b0),
                            static_cast<double>(a2),   static_cast<double>(a1),
                            static_cast<double>(a0)};
    out = c;
    return true;
}

void RunBiquadStereo(const BiquadCoeffs& coeffs, int frames, float* samples) {
    if (samples == nullptr || frames <= 0) return;
    BiquadState first;
    for (int j = 0; j < frames - 2; ++j) {
        samples[2 * j] = static_cast<float>(Step(coeffs, first, samples[2 * j]));
    }
    BiquadState second;
    for (int j = 0; j < frames; ++j) {
        BiquadState& s = second;
        s.x2 = s.x1;
        s.y2 = s.y1;
        s.x1 = s.x0;
        s.y1 = s.y0;
        s.x0 = samples[2 * j + 1];
        double y = coeffs.b0 * s.x0 + coeffs.b1 * s.x1 + coeffs.b2 * s.x2 + coeffs.a1 * s.y1 +
                   coeffs.a2 * s.y2;
        if (y > 1.0) y = 1.0;
        s.y0 = y;
        samples[2 * j + 1] = static_cast<float>(y);
    }
}

void RunBiquadCascade(std::span<const BiquadCoeffs> coeffs, std::span<BiquadState> states,
                      double& sample) {
    const std::size_t count = std::min(coeffs.size(), states.size());
    double v = sample;
    for (std::size_t i = 0; i < count; ++i) v = Step(coeffs[i], states[i], v);
    sample = v;
}

void BiquadCascade::Run(double& sample) {
    const auto n = static_cast<std::size_t>(std::clamp(count, 0, kMaxSections));
    RunBiquadCascade(std::span<const BiquadCoeffs>(coeffs.data(), n),
                     std::span<BiquadState>(states.data(), n), sample);
}

void BiquadCascade::ClearStates() {
    states.fill(BiquadState{});
}

}  // namespace sonvera
