#pragma once

#include <cstdint>

namespace sonvera {

/// Platform volume word for a percentage: trunc(percent x 655.35) in each 16-bit half
/// (left low, right high). Percentages outside 0..100 are clamped first, so the halves
/// never overflow.
std::uint32_t VolumeFromPercent(int percent);

/// Percentage read back from a platform volume word: the left half divided by 655
/// (integer division).
int PercentFromVolume(std::uint32_t volume);

}  // namespace sonvera
