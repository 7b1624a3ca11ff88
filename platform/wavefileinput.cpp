#include "platform/wavefileinput.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonvera {

std::string WaveFileInput::Load(const std::string& path, std::size_t maxFrames)
{
    frames_.clear();
    next_ = 0;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return path + ": " + sf_strerror(nullptr);
    }
    if (info.channels < 1 || info.channels > 2 || info.frames <= 0 || info.samplerate < 1000 ||
        info.samplerate > 200000) {
        sf_close(file);
        return path + ": needs 1 or 2 channels, at least one frame and 1000 to 200000 Hz";
    }
    // The header's frame count decides the buffer: a file claiming more than any analysis
    // can use is refused before anything is allocated for it.
    if (static_cast<std::uint64_t>(info.frames) > maxFrames) {
        sf_close(file);
        return path + ": holds " + std::to_string(info.frames) + " frames, more than the " +
               std::to_string(maxFrames) + " an analysis can use";
    }
    std::vector<float> raw(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, raw.data(), info.frames);
    sf_close(file);
    // Floating-point files can hold infinities and NaNs, which no device could deliver
    // and no sample format can encode.
    for (std::size_t i = 0; i < static_cast<std::size_t>(got) * static_cast<std::size_t>(info.channels); ++i) {
        if (!std::isfinite(raw[i])) {
            return path + ": holds samples that are not finite numbers";
        }
    }
    frames_.resize(static_cast<std::size_t>(got) * 2);
    for (sf_count_t i = 0; i < got; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const float left = raw[k * static_cast<std::size_t>(info.channels)];
        const float right = info.channels == 2 ? raw[k * 2 + 1] : left;
        frames_[2 * k] = left;
        frames_[2 * k + 1] = right;
    }
    rate_ = info.samplerate;
    return got > 0 ? std::string() : path + ": no frames could be read";
}

void WaveFileInput::FillBlock(char* data, std::uint32_t bytesRecorded, const WaveFormat& format)
{
    const int bits = format.BitsPerSample;
    const int bytes = bits / 8;
    const std::uint32_t frames = bytesRecorded / format.BlockAlign;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const bool have = next_ < Frames();
        for (int c = 0; c < 2; ++c) {
            const double x = have ? frames_[2 * next_ + static_cast<std::size_t>(c)] : 0.0;
            EncodeSample(data + static_cast<std::size_t>(i) * format.BlockAlign + c * bytes, bits, x);
        }
        next_ += have ? 1 : 0;
    }
}

void WaveFileInput::EncodeSample(char* p, int bits, double x)
{
    if (bits == 8) {
        *p = static_cast<char>(static_cast<unsigned char>(std::clamp(std::nearbyint(x * 128.0) + 128.0, 0.0, 255.0)));
    } else if (bits == 16) {
        const auto v = static_cast<std::int16_t>(std::clamp(std::nearbyint(x * 32768.0), -32768.0, 32767.0));
        std::memcpy(p, &v, sizeof v);
    } else {
        const auto v =
            static_cast<std::int32_t>(std::clamp(std::nearbyint(x * 2147483648.0), -2147483648.0, 2147483647.0));
        std::memcpy(p, &v, sizeof v);
    }
}

}  // namespace sonvera
