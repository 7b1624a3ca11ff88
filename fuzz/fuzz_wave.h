#pragma once
// The wave-file fuzz target, callable as an ordinary function.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sonvera::fuzz {

/// Most frames the fuzz target lets the analysis input read (keeps each run short).
inline constexpr std::size_t kFuzzMaxInputFrames = 1u << 20;

/// What the two wave-file readers made of a file.
struct WaveOutcome {
    std::string decodeError;            // WaveFilePlayer::Decode ("" when decoded)
    std::vector<std::int16_t> samples;  // its 16-bit stereo frames
    int decodeRate = 0;
    std::string inputError;             // WaveFileInput::Load ("" when loaded)
    std::vector<float> frames;          // its float stereo frames
    int inputRate = 0;
};

/// Decodes the bytes as a wave file with both readers, passes the analysis input
/// through the capture conversion in every sample format, and converts the raw bytes
/// as a recorded block; checks each result (aborts when a promise is broken).
WaveOutcome ReadWaveBytes(const std::uint8_t* data, std::size_t size);

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
