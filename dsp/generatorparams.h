#pragma once
// The parameter record of the signal generator, shared by the generator window, the
// sweep run and the playback engine.

#include <cstdint>
#include <string>

namespace sonvera {

/// Waveforms of the generator (`GeneratorParams::waveform`, the setting `GenMode`).
enum GeneratorWaveform : std::int32_t {
    kWaveSine = 0,
    kWaveSquare = 1,
    kWaveWhiteNoise = 2,
    kWavePinkNoise = 3,
    kWaveUserFile = 4,  // played from a wave file, never synthesised
    // Two tones whose sum peaks at the channel's level, looped over whole periods:
    kWaveSmpte = 5,  // 60 Hz + 7 kHz at 4:1
    kWaveDin = 6,    // 250 Hz + 8 kHz at 4:1
    kWaveCcif = 7,   // 19 kHz + 20 kHz at 1:1
};
/// How many waveforms there are (0 .. kGeneratorWaveformCount - 1).
constexpr std::int32_t kGeneratorWaveformCount = 8;

/// Level that silences a channel completely.
constexpr std::int32_t kGeneratorSilentDb = -100;

/// What the generator plays: frequency, per-channel level and phase, waveform.
struct GeneratorParams {
    std::int32_t frequencyHz = 1000;
    std::int32_t levelLeftDb = 0;     // 0 = full scale, −100 = silent
    std::int32_t levelRightDb = 0;
    std::int32_t phaseLeftDeg = 0;
    std::int32_t phaseRightDeg = 0;
    std::int32_t waveform = kWaveSine;  // GeneratorWaveform
    std::string userFile;               // wave file for kWaveUserFile, up to 120 characters
};

}  // namespace sonvera
