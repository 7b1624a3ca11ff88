#pragma once
// The running sound server's own sample rate.

#include <cstdint>

namespace sonvera {

/// The sample rate the sound server runs its devices at (PulseAudio's default sample
/// rate, PipeWire's default clock rate through pipewire-pulse), asked through the pulse
/// protocol; 0 when no such server answers within two seconds or its client library is
/// missing.
std::uint32_t SoundServerRate();

}  // namespace sonvera
