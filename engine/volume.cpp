#include "engine/volume.h"

#include <algorithm>

namespace sonvera {

std::uint32_t VolumeFromPercent(int percent)
{
    const int p = std::clamp(percent, 0, 100);
    // p x 655.35 in integers: p x 65535 / 100 truncates exactly like the real product.
    const auto half = static_cast<std::uint32_t>(p * 65535 / 100);
    return half | (half << 16);
}

int PercentFromVolume(std::uint32_t volume)
{
    return static_cast<int>((volume & 0xFFFFu) / 655u);
}

}  // namespace sonvera
