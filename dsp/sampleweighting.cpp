#include "dsp/sampleweighting.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace sonvera {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kFitPoints = 2000;       // frequency grid of the FIR fit, 0 .. half the rate
constexpr double kFitTopShare = 0.9;   // of half the rate, at most kFitTopHz
constexpr double kFitTopHz = 20000.0;
constexpr double kFreeWeight = 0.01;   // above the top the fit only keeps the curve near
constexpr double kSettleTimeConstants = 12.0;  // a double pole's start decays below -80 dB

// Solves the symmetric system m·x = r (m of size k·k, row-major) by Gaussian elimination
// with partial pivoting; m and r are overwritten, x is returned in r.
void Solve(std::vector<double>& m, std::vector<double>& r, int k) {
    for (int col = 0; col < k; ++col) {
        int pivot = col;
        for (int row = col + 1; row < k; ++row) {
            if (std::abs(m[row * k + col]) > std::abs(m[pivot * k + col])) pivot = row;
        }
        if (pivot != col) {
            for (int c = 0; c < k; ++c) std::swap(m[col * k + c], m[pivot * k + c]);
            std::swap(r[col], r[pivot]);
        }
        const double d = m[col * k + col];
        if (d == 0.0) continue;
        for (int row = col + 1; row < k; ++row) {
            const double f = m[row * k + col] / d;
            for (int c = col; c < k; ++c) m[row * k + c] -= f * m[col * k + c];
            r[row] -= f * r[col];
        }
    }
    for (int row = k - 1; row >= 0; --row) {
        double s = r[row];
        for (int c = row + 1; c < k; ++c) s -= m[row * k + c] * r[c];
        const double d = m[row * k + row];
        r[row] = d != 0.0 ? s / d : 0.0;
    }
}

}  // namespace

bool SampleWeighting::Design(StandardWeighting weighting, double rateHz) {
    weighting_ = StandardWeighting::None;
    rateHz_ = rateHz;
    sections_.clear();
    fir_.fill(0.0);
    fir_[kFirHalf] = 1.0;
    const WeightingFormula formula = FormulaOf(weighting);
    if (formula == nullptr || !(rateHz > 0.0) || !std::isfinite(rateHz)) return false;

    const AnalogWeighting analog = AnalogPrototype(weighting);
    std::vector<double> realHz;
    std::vector<std::complex<double>> upperHz;
    double lowestHz = rateHz;
    for (const std::complex<double>& p : analog.polesHz) {
        lowestHz = std::min(lowestHz, std::abs(p));
        if (p.imag() == 0.0) {
            realHz.push_back(-p.real());
        } else if (p.imag() > 0.0) {
            upperHz.push_back(p);
        }
    }
    std::sort(realHz.begin(), realHz.end());
    const double k = 2.0 * rateHz;
    for (std::size_t i = 0; i < realHz.size(); ++i) {
        Section s;
        const double w = 2.0 * kPi * realHz[i];
        if (static_cast<int>(i) < analog.zerosAtDc) {
            // s / (s + w) by the bilinear transform.
            s.b0 = k / (k + w);
            s.b1 = -s.b0;
            s.a1 = (w - k) / (k + w);
        } else {
            s.a1 = -std::exp(-w / rateHz);  // 1 / (1 - e^(-wT)·z^-1)
        }
        sections_.push_back(s);
    }
    for (const std::complex<double>& p : upperHz) {
        const std::complex<double> z = std::exp(2.0 * kPi * p / rateHz);
        Section s;
        s.a1 = -2.0 * z.real();
        s.a2 = std::norm(z);
        sections_.push_back(s);
    }
    weighting_ = weighting;

    // The FIR's zero-phase amplitude Σ c_k·cos(kΩ) fitted to formula / sections, with the
    // relative error weighted (so -50 dB at 20 Hz counts as much as 0 dB at 1 kHz).
    constexpr int kUnknowns = kFirHalf + 1;
    std::vector<double> m(kUnknowns * kUnknowns, 0.0);
    std::vector<double> r(kUnknowns, 0.0);
    const double topHz = std::min(kFitTopShare * rateHz / 2.0, kFitTopHz);
    std::array<double, kUnknowns> basis{};
    // fir_ is still the unit impulse: ResponseDb gives the sections alone.
    for (int j = 0; j < kFitPoints; ++j) {
        const double omega = kPi * (j + 0.5) / kFitPoints;
        const double f = omega * rateHz / (2.0 * kPi);
        const double target = std::pow(10.0, (formula(f) - ResponseDb(f)) / 20.0);
        if (!(target > 0.0) || !std::isfinite(target)) continue;
        const double weight = (f <= topHz ? 1.0 : kFreeWeight) / target;
        for (int c = 0; c < kUnknowns; ++c) basis[static_cast<std::size_t>(c)] = std::cos(c * omega) * weight;
        for (int row = 0; row < kUnknowns; ++row) {
            for (int c = 0; c < kUnknowns; ++c) m[row * kUnknowns + c] += basis[static_cast<std::size_t>(row)] * basis[static_cast<std::size_t>(c)];
            r[row] += basis[static_cast<std::size_t>(row)] * target * weight;
        }
    }
    Solve(m, r, kUnknowns);
    fir_[kFirHalf] = r[0];
    for (int c = 1; c < kUnknowns; ++c) {
        fir_[static_cast<std::size_t>(kFirHalf + c)] = r[static_cast<std::size_t>(c)] / 2.0;
        fir_[static_cast<std::size_t>(kFirHalf - c)] = r[static_cast<std::size_t>(c)] / 2.0;
    }
    // The fit meets 1 kHz to a few thousandths of a dB; this makes it exact there.
    if (1000.0 < topHz) {
        const double g = std::pow(10.0, (formula(1000.0) - ResponseDb(1000.0)) / 20.0);
        for (double& h : fir_) h *= g;
    }
    settleSamples_ = static_cast<int>(std::ceil(kSettleTimeConstants * rateHz / (2.0 * kPi * lowestHz))) + kFirTaps;
    return true;
}

double SampleWeighting::ResponseDb(double freqHz) const {
    const double omega = 2.0 * kPi * freqHz / (rateHz_ > 0.0 ? rateHz_ : 1.0);
    const std::complex<double> z1 = std::polar(1.0, -omega);
    const std::complex<double> z2 = z1 * z1;
    std::complex<double> h = 0.0;
    for (int t = 0; t < kFirTaps; ++t) h += fir_[static_cast<std::size_t>(t)] * std::polar(1.0, -omega * t);
    for (const Section& s : sections_) {
        h *= (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
    }
    return 20.0 * std::log10(std::abs(h));
}

void SampleWeighting::Reset() {
    for (Section& s : sections_) s.x1 = s.x2 = s.y1 = s.y2 = 0.0;
    line_.fill(0.0);
    linePos_ = 0;
}

double SampleWeighting::Step(double x) {
    for (Section& s : sections_) {
        const double y = s.b0 * x + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2;
        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        x = y;
    }
    line_[static_cast<std::size_t>(linePos_)] = x;
    double y = 0.0;
    int at = linePos_;
    for (int t = 0; t < kFirTaps; ++t) {  // h[t] times the input t samples ago
        y += fir_[static_cast<std::size_t>(t)] * line_[static_cast<std::size_t>(at)];
        at = at == 0 ? kFirTaps - 1 : at - 1;
    }
    linePos_ = linePos_ + 1 == kFirTaps ? 0 : linePos_ + 1;
    return y;
}

void SampleWeighting::Apply(std::span<const float> in, std::span<float> out) {
    const std::size_t n = std::min(in.size(), out.size());
    if (n == 0) return;
    if (!Designed()) {
        std::copy_n(in.begin(), n, out.begin());
        return;
    }
    Reset();
    // The output reads kFirHalf samples ahead, wrapping to the block's start, which `out`
    // may already have overwritten: keep the start.
    std::array<float, kFirHalf> head{};
    const std::size_t headCount = std::min<std::size_t>(n, kFirHalf);
    std::copy_n(in.begin(), headCount, head.begin());
    auto at = [&](std::size_t i) { return i < headCount ? head[i] : in[i]; };
    const std::size_t settle = (static_cast<std::size_t>(settleSamples_) + n - 1) / n * n;
    for (std::size_t j = 0; j < settle + kFirHalf; ++j) Step(at(j % n));
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(Step(at((i + kFirHalf) % n)));
}

}  // namespace sonvera
