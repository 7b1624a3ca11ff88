#pragma once
// Uniform random numbers for the noise waveforms of the signal generator.

#include <cstdint>

namespace sonvera {

/// 32-bit linear congruential generator: seed ← seed·134775813 + 1 (mod 2^32),
/// u = seed / 2^32. It starts at seed 0 and is never reseeded, so every run of the
/// program plays the same noise sequence.
class NoiseGenerator {
public:
    /// Advances the seed and returns u in [0, 1).
    double NextUniform() {
        seed_ = seed_ * 134775813u + 1u;
        return static_cast<double>(seed_) * (1.0 / 4294967296.0);
    }
    /// Advances the seed and returns 2u − 1 in [−1, 1).
    double NextSigned() { return 2.0 * NextUniform() - 1.0; }

    std::uint32_t Seed() const { return seed_; }

private:
    std::uint32_t seed_ = 0;
};

}  // namespace sonvera
