#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sonvera {

/// Whether a mixer control of this name selects or amplifies one input source (Line,
/// Mic, CD, Aux, Video, Phone, Tape, Tuner, Radio and numbered forms like "Mic2"), as
/// opposed to a control of the whole recording chain ("Capture", "Master Capture",
/// "Digital", "Input Source") or a boost. Case is ignored.
bool IsInputSourceControl(std::string_view name);

/// The input lines of one ALSA mixer device ("default", "hw:0", ...): the active
/// controls with a capture volume whose name passes IsInputSourceControl. Volumes are
/// exchanged as the wave layer's packed 16-bit halves (left low, right high,
/// 0..0xFFFF), mapped linearly onto the control's raw range. Controls that do not exist
/// are absent, never invented; the output side of the mixer is never looked at.
class AlsaMixer {
public:
    /// Opens the mixer `device`; check Valid() afterwards.
    explicit AlsaMixer(const std::string& device);
    ~AlsaMixer();
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    bool Valid() const;
    const std::string& Device() const { return device_; }

    /// The input lines, by control name.
    std::vector<std::string> CaptureLines() const;
    bool GetCaptureVolume(std::size_t line, std::uint32_t& packed);
    bool SetCaptureVolume(std::size_t line, std::uint32_t packed);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string device_;
};

}  // namespace sonvera
