#include "platform/wavefileinput.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonvera {

namespace {

/// Whether libsndfile's log says the data chunk is shorter than its header claims
/// (its "data : N (should be M)" line).
bool DataChunkCutShort(const char* log)
{
    const char* data = std::strstr(log, "data :");
    if (data == nullptr) {
        return false;
    }
    const char* end = std::strchr(data, '\n');
    const char* should = std::strstr(data, "should be");
    return should != nullptr && (end == nullptr || should < end);
}

}  // namespace

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
    // A file claiming more frames than any analysis can use is refused before it is read.
    if (static_cast<std::uint64_t>(info.frames) > maxFrames) {
        sf_close(file);
        return path + ": holds " + std::to_string(info.frames) + " frames, more than the " +
               std::to_string(maxFrames) + " an analysis can use";
    }
    // A data chunk that claims more than the file holds: libsndfile notes it in its log
    // and reads what there is. Such a file is refused rather than analysed as if whole.
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    // Read in pieces, the frames growing with what arrives: a header that claims more
    // frames than the file holds costs nothing.
    constexpr sf_count_t kChunkFrames = 65536;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    sf_count_t got = 0;
    while (got < info.frames) {
        const sf_count_t n = sf_readf_float(file, chunk.data(), std::min(kChunkFrames, info.frames - got));
        if (n <= 0) {
            break;
        }
        const std::size_t first = frames_.size();
        frames_.resize(first + static_cast<std::size_t>(n) * 2);
        for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k) {
            const float left = chunk[k * channels];
            const float right = channels == 2 ? chunk[k * 2 + 1] : left;
            // Floating-point files can hold infinities and NaNs, which no device could
            // deliver and no sample format can encode.
            if (!std::isfinite(left) || !std::isfinite(right)) {
                sf_close(file);
                frames_.clear();
                return path + ": holds samples that are not finite numbers";
            }
            frames_[first + 2 * k] = left;
            frames_[first + 2 * k + 1] = right;
        }
        got += n;
    }
    sf_close(file);
    if (got != info.frames || DataChunkCutShort(log)) {
        frames_.clear();
        return path + ": the file is truncated or damaged";
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
