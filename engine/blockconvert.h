#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvera {

/// Number of single-precision values the sample buffer holds (65520 bytes).
inline constexpr std::size_t kSampleBufferValues = 16380;

/// Outcome of converting one recorded block.
struct ConvertedBlock {
    int valueCount = 0;     // values written, both channels together
    int overloadCount = 0;  // raw values at or beyond full scale
};

/// Converts a recorded block of interleaved stereo PCM (each frame left first) into
/// reals with full scale 1.0. With swapFlag 0 every stored pair is (right, left): even
/// positions hold the right input, odd positions the left input; swapFlag 1 keeps the
/// device's order. bits is 8 (unsigned, 128 = zero), 16 or 24/32 (24-bit samples travel
/// in 32-bit containers). Only whole frames are converted and never more than capacity
/// values (rounded down to whole frames). Raw values at full scale count as overloads:
/// 8 bits 0 or 255, 16 bits -32768 or 32767, 24 bits in 32 at most -2147483647 or at
/// least 0x7FFFFF00 (the largest 24-bit sample in its container).
ConvertedBlock ConvertCapturedBlock(const std::uint8_t* data, std::size_t bytesRecorded, int bits,
                                    std::uint8_t swapFlag, float* out, std::size_t capacity);

/// Bytes one value of the given bit depth occupies in a recorded block: 1, 2 or 4.
int BytesPerValue(int bits);

/// One value (full scale 1.0) as a PCM sample of `bytes` bytes (1, 2, else 4), with the
/// generator's full scales (127, 32767, 2^31 - 256), rounded to nearest and clipped.
void StoreSample(char* p, int bytes, double x);

}  // namespace sonvera
