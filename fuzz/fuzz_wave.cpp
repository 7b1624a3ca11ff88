// Fuzz target: wave-file input. The input is a file's bytes, decoded by libsndfile
// through the generator's wave-file player and through the analyser's file input; the
// analyser's frames then pass the capture device encoding and the engine's block
// conversion in 8, 16 and 32 bits, which must give them back within one step of the
// format. The bytes themselves also go through the block conversion as a recording.

#include "fuzz/fuzz_wave.h"

#include <algorithm>
#include <cmath>

#include "engine/blockconvert.h"
#include "fuzz/fuzzsupport.h"
#include "platform/wavefileinput.h"
#include "platform/wavefileplayer.h"

namespace sonvera::fuzz {

namespace {

constexpr std::uint32_t kBlockFrames = 256;

void CheckConverted(const float* values, int count)
{
    for (int i = 0; i < count; ++i) {
        Require(std::isfinite(values[i]) && std::fabs(values[i]) <= 1.0f, "converted values lie within full scale");
    }
}

// The analysis input through the device encoding and back, a few blocks per format.
void RoundTripBlocks(const WaveFileInput& loaded)
{
    for (const int bits : {8, 16, 32}) {
        WaveFileInput input = loaded;  // its own cursor, at the first frame
        WaveFormat format;
        format.BitsPerSample = static_cast<std::uint16_t>(bits);
        format.BlockAlign = static_cast<std::uint16_t>(2 * bits / 8);
        std::vector<char> block(kBlockFrames * format.BlockAlign);
        std::vector<float> values(2 * kBlockFrames);
        const double step = bits == 8 ? 1.0 / 128 : bits == 16 ? 1.0 / 32768 : 1e-6;
        const std::size_t frames = std::min<std::size_t>(loaded.Frames(), 3 * kBlockFrames);
        for (std::size_t first = 0; first < frames; first += kBlockFrames) {
            input.FillBlock(block.data(), static_cast<std::uint32_t>(block.size()), format);
            const ConvertedBlock c = ConvertCapturedBlock(reinterpret_cast<const std::uint8_t*>(block.data()),
                                                          block.size(), bits, 1, values.data(), values.size());
            Require(c.valueCount == static_cast<int>(values.size()), "a whole block converts");
            CheckConverted(values.data(), c.valueCount);
            for (std::size_t k = 0; k < kBlockFrames && first + k < frames; ++k) {
                for (std::size_t ch = 0; ch < 2; ++ch) {
                    const double x = loaded.Samples()[2 * (first + k) + ch];
                    const double expected = std::clamp(x, -1.0, 1.0);
                    Require(std::fabs(values[2 * k + ch] - expected) <= step * 1.01,
                            "a frame comes back from the device encoding within one step");
                }
            }
        }
    }
}

}  // namespace

WaveOutcome ReadWaveBytes(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch(".wav");
    scratch.Write(data, size);
    WaveOutcome out;

    out.decodeError = WaveFilePlayer::Decode(scratch.Path(), out.samples, out.decodeRate);
    if (out.decodeError.empty()) {
        Require(!out.samples.empty() && out.samples.size() % 2 == 0, "decoded frames are whole and present");
        Require(out.samples.size() / 2 <= WaveFilePlayer::kMaxBufferBytes / 4, "decoded frames fit the buffer");
        Require(out.decodeRate >= 1000 && out.decodeRate <= 200000, "the decoded rate is usable");
    }

    WaveFileInput input;
    out.inputError = input.Load(scratch.Path(), kFuzzMaxInputFrames);
    if (out.inputError.empty()) {
        Require(input.Frames() >= 1 && input.Frames() <= kFuzzMaxInputFrames, "input frames within the limit");
        Require(input.Rate() >= 1000 && input.Rate() <= 200000, "the input rate is usable");
        for (const float v : input.Samples()) {
            Require(std::isfinite(v), "input samples are finite");
        }
        out.frames = input.Samples();
        out.inputRate = input.Rate();
        if (out.decodeError.empty()) {
            // Both readers decode the same file: the same frames within a 16-bit step.
            Require(out.samples.size() == out.frames.size() && out.decodeRate == out.inputRate,
                    "both readers find the same frames");
            for (std::size_t i = 0; i < out.frames.size(); ++i) {
                const double expected = std::clamp(static_cast<double>(out.frames[i]), -1.0, 1.0);
                Require(std::fabs(out.samples[i] / 32768.0 - expected) <= 2.0 / 32768,
                        "the player's 16-bit samples are the analysis input's values");
            }
        }
        RoundTripBlocks(input);
    } else {
        Require(input.Frames() == 0, "a refused file leaves no frames");
    }

    // The bytes as a recorded block: first byte the format, second the swap flag.
    if (size >= 2) {
        static constexpr int kBits[] = {8, 16, 24, 32};
        const int bits = kBits[data[0] % 4];
        std::vector<float> values(kSampleBufferValues);
        const ConvertedBlock c =
            ConvertCapturedBlock(data + 2, size - 2, bits, data[1] & 1, values.data(), values.size());
        const std::size_t expected = std::min((size - 2) / static_cast<std::size_t>(BytesPerValue(bits)),
                                              values.size()) & ~std::size_t{1};
        Require(static_cast<std::size_t>(c.valueCount) == expected, "only whole frames convert, within capacity");
        Require(c.overloadCount >= 0 && c.overloadCount <= c.valueCount, "overloads are counted among the values");
        CheckConverted(values.data(), c.valueCount);
    }
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::ReadWaveBytes(data, size);
    return 0;
}
