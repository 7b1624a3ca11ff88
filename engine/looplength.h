#pragma once

#include <cstdint>

namespace sonvera {

/// Largest buffer a device header ever carries, in bytes (also the capture buffer size).
inline constexpr std::uint32_t kDeviceBufferBytes = 65520;

/// Result of the playback buffer length search.
struct LoopLength {
    std::uint32_t bytes = 0;    // whole frames, never more than kDeviceBufferBytes
    std::uint32_t frames = 0;   // bytes / frame size
    std::int64_t periods = 0;   // m, whole periods in the buffer (sine and square); 0 otherwise
    std::int64_t residue = 0;   // (m x rate) mod frequency of the chosen m; 0 otherwise
};

/// Length of the playback buffer for a stereo signal.
/// waveform 0 (sine) and 1 (square) with durationMs -1 loop: the buffer holds the whole
/// number of periods m whose end lands closest to a frame boundary (smallest residue,
/// the larger m on a tie) so that the loop joins without a phase jump. Noise (2, 3) with
/// durationMs -1 fills the whole buffer. A duration >= 0 gives rate x duration worth of
/// frames. bytesPerSample is 1, 2 or 4; freqHz must be > 0 and rateHz > 0 for the
/// periodic case (callers check). The result never exceeds kDeviceBufferBytes.
LoopLength ComputeLoopLength(int waveform, std::int64_t freqHz, std::int64_t rateHz,
                             int bytesPerSample, int durationMs);

}  // namespace sonvera
