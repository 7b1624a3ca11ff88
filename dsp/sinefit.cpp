#include "dsp/sinefit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>

namespace sonvera {

namespace {

constexpr int kTerms = 3;  // constant, cosine, sine

/// Solves the symmetric normal equations g·θ = r by elimination with the largest
/// remaining pivot. A pivot that has vanished (the sine column at half the rate, or a
/// block too short to tell the terms apart) drops its term: θ of it stays 0.
std::array<double, kTerms> SolveNormalEquations(std::array<std::array<double, kTerms>, kTerms> g,
                                                std::array<double, kTerms> r)
{
    std::array<int, kTerms> order{0, 1, 2};
    std::array<bool, kTerms> used{};
    double scale = 0.0;
    for (int i = 0; i < kTerms; ++i) {
        scale = std::max(scale, g[i][i]);
    }
    const double tiny = 1e-12 * scale;
    int rank = 0;
    for (int step = 0; step < kTerms; ++step) {
        int best = -1;
        for (int i = 0; i < kTerms; ++i) {
            if (!used[i] && (best < 0 || g[i][i] > g[best][best])) {
                best = i;
            }
        }
        if (best < 0 || !(g[best][best] > tiny)) {
            break;
        }
        used[best] = true;
        order[rank++] = best;
        for (int i = 0; i < kTerms; ++i) {
            if (used[i]) {
                continue;
            }
            const double f = g[i][best] / g[best][best];
            for (int j = 0; j < kTerms; ++j) {
                g[i][j] -= f * g[best][j];
            }
            r[i] -= f * r[best];
        }
    }
    std::array<double, kTerms> theta{};
    for (int s = rank - 1; s >= 0; --s) {
        const int p = order[s];
        double v = r[p];
        for (int t = s + 1; t < rank; ++t) {
            v -= g[p][order[t]] * theta[order[t]];
        }
        theta[p] = v / g[p][p];
    }
    return theta;
}

}  // namespace

bool SineFit::CarriesTone() const
{
    if (count <= 0) {
        return false;
    }
    const double noiseAmplitude = residualRms * std::sqrt(2.0 / count);
    return Amplitude() > 5.0 * noiseAmplitude;
}

namespace {

// The least-squares fit of dc + a·c(n) + b·q(n) to the samples; basis(n) gives c(n) and
// q(n) as a pair.
template <typename Basis>
SineFit FitBasis(const float* samples, int count, int stride, Basis basis)
{
    SineFit fit;
    std::array<std::array<double, kTerms>, kTerms> g{};
    std::array<double, kTerms> r{};
    for (int n = 0; n < count; ++n) {
        const double x = samples[static_cast<long>(n) * stride];
        const auto [c, q] = basis(n);
        const std::array<double, kTerms> b{1.0, c, q};
        for (int i = 0; i < kTerms; ++i) {
            r[i] += b[i] * x;
            for (int j = i; j < kTerms; ++j) {
                g[i][j] += b[i] * b[j];
            }
        }
    }
    for (int i = 0; i < kTerms; ++i) {
        for (int j = 0; j < i; ++j) {
            g[i][j] = g[j][i];
        }
    }
    const auto theta = SolveNormalEquations(g, r);
    fit.dc = theta[0];
    // a·c + b·q = Re((a - jb)·(c + jq)).
    fit.phasor = {theta[1], -theta[2]};
    double residual = 0.0;
    for (int n = 0; n < count; ++n) {
        const auto [c, q] = basis(n);
        const double e = samples[static_cast<long>(n) * stride] - theta[0] - theta[1] * c - theta[2] * q;
        residual += e * e;
    }
    fit.residualRms = std::sqrt(residual / count);
    fit.count = count;
    return fit;
}

}  // namespace

SineFit FitSine(const float* samples, int count, int stride, double freqHz, double rateHz)
{
    if (samples == nullptr || count < kTerms || stride < 1 || !(rateHz > 0.0) || !(freqHz > 0.0) ||
        freqHz > rateHz / 2.0) {
        return {};
    }
    const double w = 2.0 * std::numbers::pi * freqHz / rateHz;
    // Time counted from the middle keeps the cosine and sine columns nearly orthogonal
    // to the constant one, whatever the number of periods.
    const double middle = 0.5 * (count - 1);
    return FitBasis(samples, count, stride, [&](int n) {
        const double t = w * (n - middle);
        return std::pair{std::cos(t), std::sin(t)};
    });
}

SineFit FitSignal(const float* samples, int count, int stride, const std::complex<double>* signal)
{
    if (samples == nullptr || signal == nullptr || count < kTerms || stride < 1) {
        return {};
    }
    return FitBasis(samples, count, stride, [&](int n) { return std::pair{signal[n].real(), signal[n].imag()}; });
}

}  // namespace sonvera
