#pragma once
// Plays a wave file looped on a wave-output device: the generator's "User" waveform.
// The file is decoded whole with libsndfile into one 16-bit stereo buffer at the file's
// rate, which the device loops until Stop.

#include <memory>
#include <string>
#include <vector>

#include "platform/wavelayer.h"

namespace sonvera {

class WaveFilePlayer {
public:
    /// Largest decoded buffer the player accepts, bytes.
    static constexpr std::size_t kMaxBufferBytes = 256u * 1024u * 1024u;

    explicit WaveFilePlayer(WaveLayer& layer);
    ~WaveFilePlayer();
    WaveFilePlayer(const WaveFilePlayer&) = delete;
    WaveFilePlayer& operator=(const WaveFilePlayer&) = delete;

    /// Stops what plays, then decodes `path` and loops it on output device `deviceId`.
    /// Returns 0 when the sound started; 1 when the file is missing, unreadable,
    /// truncated, empty or of an unusable format, or the device refused it (then
    /// LastError() says why and nothing plays).
    int PlayLooped(const std::string& path, unsigned deviceId);
    /// Silences the device and releases it; harmless when nothing plays.
    void Stop();
    bool Playing() const { return playing_; }
    const std::string& LastError() const { return lastError_; }
    /// The decoded frames (interleaved left, right) and their rate, for tests.
    const std::vector<std::int16_t>& Samples() const { return samples_; }
    int Rate() const { return rate_; }

    /// Decodes a wave file into interleaved 16-bit stereo (mono files feed both
    /// channels). Returns "" on success, else the reason.
    static std::string Decode(const std::string& path, std::vector<std::int16_t>& samples, int& rate);

private:
    WaveLayer& layer_;
    WaveOutHandle handle_{};
    std::unique_ptr<WaveHeader> header_;
    std::vector<std::int16_t> samples_;
    int rate_ = 0;
    bool open_ = false;
    bool prepared_ = false;
    bool playing_ = false;
    std::string lastError_;
};

}  // namespace sonvera
