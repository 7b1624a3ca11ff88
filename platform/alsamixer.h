#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonvera {

/// The volume controls of one ALSA mixer device ("default", "hw:0", ...): the output
/// volume (the first of "Master", "PCM", "Speaker", "Headphone" with a playback volume)
/// and the recording lines (every control with a capture volume). Volumes are exchanged
/// as the wave layer's packed 16-bit halves (left low, right high, 0..0xFFFF), mapped
/// linearly onto the control's raw range. Controls that do not exist are absent, never
/// invented.
class AlsaMixer {
public:
    /// Opens the mixer `device`; check Valid() afterwards.
    explicit AlsaMixer(const std::string& device);
    ~AlsaMixer();
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    bool Valid() const;
    const std::string& Device() const { return device_; }

    bool HasOutputVolume() const;
    bool GetOutputVolume(std::uint32_t& packed);
    bool SetOutputVolume(std::uint32_t packed);

    /// The recording lines, by control name.
    std::vector<std::string> CaptureLines() const;
    bool GetCaptureVolume(std::size_t line, std::uint32_t& packed);
    bool SetCaptureVolume(std::size_t line, std::uint32_t packed);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string device_;
};

}  // namespace sonvera
