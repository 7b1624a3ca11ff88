#pragma once
// A wave file as the input of an analysis: decoded with libsndfile into stereo frames,
// which are then handed out block by block encoded in a capture device's PCM format, so
// that they pass the same conversion as a recording.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"

namespace sonvera {

class WaveFileInput {
public:
    /// Most frames Load reads: 9999 averaged blocks of 4096 points, the longest analysis
    /// there is. Longer files are refused by Load, never read in part.
    static constexpr std::size_t kMaxFrames = 4096u * 9999u;

    /// Opens the file for reading block by block (FillBlock reads each block's frames
    /// when it needs them, so a file of any length costs one block). Only regular files
    /// are read (a pipe or a device would block or never end); the format must be 1 or 2
    /// channels at 1000 to 200000 Hz with at least one frame, and a data chunk claiming
    /// more than the file holds is refused as truncated. Returns "" or the reason.
    std::string Open(const std::string& path);

    /// Opens the file and reads all of it (mono files feed both channels). Returns "" on
    /// success, else the reason (the input then holds no frames). Files with more than
    /// `maxFrames` frames, and files holding samples that are not finite numbers, are
    /// refused.
    std::string Load(const std::string& path, std::size_t maxFrames = kMaxFrames);

    int Rate() const { return rate_; }
    /// The frames of the file (after Open, as its header gives them).
    std::size_t Frames() const { return frames_; }
    /// The depth of the file's samples: 8, 16 or 24 bits, or 32 for 32-bit, floating-point
    /// and other samples finer than 24 bits.
    int Bits() const { return bits_; }
    /// The frames read by Load, interleaved left, right, full scale 1.0.
    const std::vector<float>& Samples() const { return samples_; }

    /// After Open: the next block starts `frames` frames into the file (they are passed
    /// over, not read). Returns "" or the reason (beyond the end, or a failed seek).
    std::string Skip(std::size_t frames);

    /// Overwrites the whole frames of a recorded block (`bytesRecorded` bytes at `data`)
    /// with the next frames of the file in `format` (8, 16 or 32 bits, 2 channels);
    /// after the last frame of the file the block is filled with silence.
    void FillBlock(char* data, std::uint32_t bytesRecorded, const WaveFormat& format);
    /// The first failure of reading an opened file block by block ("" when none): the
    /// file ended before its frames did, or held samples that are not finite numbers.
    const std::string& ReadError() const { return readError_; }

    /// Writes one value (full scale 1.0, clamped) as a PCM sample of `bits` bits:
    /// 8 unsigned with 128 as zero, 16 or 32 signed little-endian.
    static void EncodeSample(char* p, int bits, double x);

private:
    struct Source;
    /// Reads up to `frames` further frames into `samples_` (replacing what it held);
    /// false with the reason in `error` on a read failure.
    bool ReadFrames(std::size_t frames, std::string& error);
    void Reset();

    std::shared_ptr<Source> source_;  // the open file while frames are read from it
    std::string path_;
    std::vector<float> samples_;      // interleaved left, right
    std::size_t next_ = 0;            // next frame of samples_ to hand out
    std::size_t frames_ = 0;
    std::size_t framesRead_ = 0;
    int rate_ = 44100;
    int bits_ = 16;
    std::string readError_;
};

}  // namespace sonvera
