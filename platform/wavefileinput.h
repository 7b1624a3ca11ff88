#pragma once
// A wave file as the input of an analysis: decoded with libsndfile into stereo frames,
// which are then handed out block by block encoded in a capture device's PCM format, so
// that they pass the same conversion as a recording.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace sonvera {

class WaveFileInput {
public:
    /// Most frames a file may hold: 9999 averaged blocks of 4096 points, the longest
    /// analysis there is. Longer files are refused, never read in part.
    static constexpr std::size_t kMaxFrames = 4096u * 9999u;

    /// Reads the whole file (mono files feed both channels). Returns "" on success, else
    /// the reason (the input then holds no frames). Files with more than `maxFrames`
    /// frames, and files holding samples that are not finite numbers, are refused.
    std::string Load(const std::string& path, std::size_t maxFrames = kMaxFrames);

    int Rate() const { return rate_; }
    std::size_t Frames() const { return frames_.size() / 2; }
    /// The decoded frames, interleaved left, right, full scale 1.0.
    const std::vector<float>& Samples() const { return frames_; }

    /// Overwrites the whole frames of a recorded block (`bytesRecorded` bytes at `data`)
    /// with the next frames of the file in `format` (8, 16 or 32 bits, 2 channels);
    /// after the last frame of the file the block is filled with silence.
    void FillBlock(char* data, std::uint32_t bytesRecorded, const WaveFormat& format);

    /// Writes one value (full scale 1.0, clamped) as a PCM sample of `bits` bits:
    /// 8 unsigned with 128 as zero, 16 or 32 signed little-endian.
    static void EncodeSample(char* p, int bits, double x);

private:
    std::vector<float> frames_;  // interleaved left, right
    std::size_t next_ = 0;
    int rate_ = 44100;
};

}  // namespace sonvera
