#pragma once
// Sample synthesis of the signal generator: sine, square, white and pink noise in the
// output device's PCM format.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dsp/generatorparams.h"
#include "dsp/noisegenerator.h"
#include "dsp/pinkbank.h"

namespace sonvera {

/// Fills the generator's output buffer. One object lives for the whole run: it owns the
/// noise generator (seeded once with 0, never reseeded) and the pink-noise bank, whose
/// states carry over from buffer to buffer.
/// One sine of a sum the generator loops: whole Hz, amplitude re full scale, phase in
/// degrees at frame 0.
struct SineComponent {
    int frequencyHz = 1000;
    double amplitude = 1.0;
    double phaseDeg = 0.0;
};

/// The shortest loop that holds whole periods of every component: rateHz / gcd(rateHz,
/// f1, f2, ...) frames (one second at most), frame j the sum of the sines at j/rateHz, so
/// that the loop joins without a phase step however the tones divide the rate. Empty for
/// no component, a frequency not above 0 or a rate not above 0.
std::vector<float> SineLoop(std::span<const SineComponent> components, int rateHz);

/// The two tones of an intermodulation test, the lower first: SMPTE 60 Hz + 7 kHz and DIN
/// 250 Hz + 8 kHz at 4:1, CCIF 19 kHz + 20 kHz at 1:1, their sum peaking at `peakDb` re
/// full scale.
enum class TwoToneTest { Smpte, Din, Ccif };
std::vector<SineComponent> TwoTones(TwoToneTest test, double peakDb);

/// One channel of what the generator window loops for a sine or a two-tone waveform of
/// `params` (the left channel's level and phase, or the right's): SineLoop of the sine at
/// the channel's level and phase, or of the two tones peaking at the channel's level (their
/// phase is 0); a channel at kGeneratorSilentDb or below is silence of the same length.
/// Both channels have the same length. Empty for other waveforms or no valid loop.
std::vector<float> GeneratorLoop(const GeneratorParams& params, bool left, int rateHz);

class Generator {
public:
    /// Writes interleaved stereo frames (left sample first) into `buffer`: as many whole
    /// frames as fit into `bufferBytes`; bytes after the last whole frame are not touched.
    /// `bitsPerSample` is 8 (unsigned, silence 128), 16 or 32 (signed, little-endian);
    /// 24 means 24-bit samples carried in 32-bit containers and is written as 32.
    /// Frame j of a sine is sin(2π·f·j/fs + phase); the frequency is
    /// `params.frequencyHz`. Levels are dB re full scale, −100 gives digital silence;
    /// values beyond full scale (levels above 0 dB, pink peaks) are clipped to ±full
    /// scale rather than wrapped.
    /// Returns false without writing when the buffer is null, the width is not one of
    /// the above or the rate is not positive; returns false after writing silence when
    /// the waveform is not one that is synthesised (0..3).
    bool FillGeneratorBuffer(void* buffer, std::size_t bufferBytes, int bitsPerSample,
                             int sampleRateHz, const GeneratorParams& params);

    /// Amplitude factor of a level: 10^(dB/20), exactly 0 for −100 dB.
    static double LevelAmplitude(std::int32_t levelDb);

    const NoiseGenerator& Noise() const { return noise_; }
    const PinkBank& Pink() const { return pink_; }

private:
    NoiseGenerator noise_;
    PinkBank pink_;
};

}  // namespace sonvera
