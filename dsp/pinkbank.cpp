#include "dsp/pinkbank.h"

namespace sonvera {

namespace {

constexpr int kCandidateCount = 13;  // 20 Hz·2^i for i = 0..12 (20 .. 81920 Hz)

// round(fs·5/12) to the nearest integer, halves to even, in integer arithmetic.
int ShelfCorner(int sampleRateHz) {
    const long long num = 5LL * sampleRateHz;
    long long quotient = num / 12;
    const long long rest = num % 12;
    if (rest > 6 || (rest == 6 && (quotient & 1) != 0)) ++quotient;
    return static_cast<int>(quotient);
}

}  // namespace

void PinkBank::Setup(int sampleRateHz) {
    designer_.SetFilterRate(sampleRateHz);
    // New coefficients; the states stay, since the bank's state lives for the whole run:
    // each peaking section designed below starts cleared, while the closing shelf goes
    // on from where the previous buffer left its section.
    cascade_.coeffs.fill(BiquadCoeffs{});
    cascade_.count = 0;
    peakingCount_ = 0;
    shelfHz_ = 0;
    if (sampleRateHz <= 0) return;

    int n = 0;
    for (int i = 0; i < kCandidateCount; ++i) {
        const int candidateHz = 20 << i;
        if (sampleRateHz / 2 <= candidateHz) break;
        if (designer_.DesignBiquad(kBiquadPeaking, candidateHz, cascade_.coeffs[n], -(i + 1.0),
                                   1.0)) {
            cascade_.states[n] = BiquadState{};
            ++n;
        }
    }
    peakingCount_ = n;

    const int shelfHz = ShelfCorner(sampleRateHz);
    if (designer_.DesignBiquad(kBiquadHighShelf, shelfHz, cascade_.coeffs[n], -30.0, 1.0)) {
        shelfHz_ = shelfHz;
        ++n;
    }
    cascade_.count = n;
}

}  // namespace sonvera
