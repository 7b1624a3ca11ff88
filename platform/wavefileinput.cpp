#include "platform/wavefileinput.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

int SampleBits(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    default:
        return 32;
    }
}

constexpr std::size_t kChunkFrames = 65536;

}  // namespace

/// The open file: its descriptor and libsndfile's handle, closed together.
struct WaveFileInput::Source {
    int fd = -1;
    SNDFILE* file = nullptr;
    int channels = 1;
    ~Source()
    {
        if (file != nullptr) {
            sf_close(file);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

void WaveFileInput::Reset()
{
    source_.reset();
    samples_.clear();
    next_ = 0;
    frames_ = 0;
    framesRead_ = 0;
    readError_.clear();
}

std::string WaveFileInput::Open(const std::string& path)
{
    Reset();
    path_ = path;
    auto source = std::make_shared<Source>();
    // Non-blocking, so that a pipe without a writer is refused rather than waited for.
    source->fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (source->fd < 0) {
        return path + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(source->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return path + ": not a regular file (a wave file is read from a disk, not from a pipe or device)";
    }
    SF_INFO info{};
    source->file = sf_open_fd(source->fd, SFM_READ, &info, SF_FALSE);
    if (source->file == nullptr) {
        return path + ": " + sf_strerror(nullptr);
    }
    if (info.channels < 1 || info.channels > 2 || info.frames <= 0 || info.samplerate < 1000 ||
        info.samplerate > 200000) {
        return path + ": needs 1 or 2 channels, at least one frame and 1000 to 200000 Hz";
    }
    // A data chunk that claims more than the file holds: libsndfile notes it in its log
    // and reads what there is. Such a file is refused rather than analysed as if whole.
    char log[4096] = {};
    sf_command(source->file, SFC_GET_LOG_INFO, log, sizeof log);
    if (DataChunkCutShort(log)) {
        return path + ": the file is truncated or damaged";
    }
    source->channels = info.channels;
    source_ = std::move(source);
    frames_ = static_cast<std::size_t>(info.frames);
    rate_ = info.samplerate;
    bits_ = SampleBits(info.format);
    return "";
}

bool WaveFileInput::ReadFrames(std::size_t frames, std::string& error)
{
    samples_.clear();
    next_ = 0;
    frames = std::min(frames, frames_ - framesRead_);
    const auto channels = static_cast<std::size_t>(source_->channels);
    std::vector<float> chunk(std::min(frames, kChunkFrames) * channels);
    std::size_t got = 0;
    while (got < frames) {
        const auto want = static_cast<sf_count_t>(std::min(frames - got, kChunkFrames));
        const sf_count_t n = sf_readf_float(source_->file, chunk.data(), want);
        if (n <= 0) {
            break;
        }
        const std::size_t first = samples_.size();
        samples_.resize(first + static_cast<std::size_t>(n) * 2);
        for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k) {
            const float left = chunk[k * channels];
            const float right = channels == 2 ? chunk[k * 2 + 1] : left;
            // Floating-point files can hold infinities and NaNs, which no device could
            // deliver and no sample format can encode.
            if (!std::isfinite(left) || !std::isfinite(right)) {
                samples_.clear();
                error = path_ + ": holds samples that are not finite numbers";
                return false;
            }
            samples_[first + 2 * k] = left;
            samples_[first + 2 * k + 1] = right;
        }
        got += static_cast<std::size_t>(n);
    }
    framesRead_ += got;
    if (got != frames) {
        samples_.clear();
        error = path_ + ": the file is truncated or damaged";
        return false;
    }
    return true;
}

std::string WaveFileInput::Load(const std::string& path, std::size_t maxFrames)
{
    if (std::string error = Open(path); !error.empty()) {
        Reset();
        return error;
    }
    // A file claiming more frames than any analysis can use is refused before it is read.
    if (frames_ > maxFrames) {
        const std::string error = path + ": holds " + std::to_string(frames_) + " frames, more than the " +
                                  std::to_string(maxFrames) + " an analysis can use";
        Reset();
        return error;
    }
    std::string error;
    const bool ok = ReadFrames(frames_, error);
    source_.reset();
    if (!ok) {
        Reset();
        return error;
    }
    return "";
}

std::string WaveFileInput::Skip(std::size_t frames)
{
    if (!source_ || frames > frames_) {
        return path_ + ": cannot start " + std::to_string(frames) + " frames in (the file holds " +
               std::to_string(frames_) + ")";
    }
    if (sf_seek(source_->file, static_cast<sf_count_t>(frames), SEEK_SET) < 0) {
        return path_ + ": cannot start " + std::to_string(frames) + " frames in (" + sf_strerror(source_->file) + ")";
    }
    samples_.clear();
    next_ = 0;
    framesRead_ = frames;
    return "";
}

void WaveFileInput::FillBlock(char* data, std::uint32_t bytesRecorded, const WaveFormat& format)
{
    const int bits = format.BitsPerSample;
    const int bytes = bits / 8;
    const std::uint32_t frames = format.BlockAlign == 0 ? 0 : bytesRecorded / format.BlockAlign;
    if (source_ && readError_.empty()) {
        ReadFrames(frames, readError_);
    }
    for (std::uint32_t i = 0; i < frames; ++i) {
        const bool have = next_ < samples_.size() / 2;
        for (int c = 0; c < 2; ++c) {
            const double x = have ? samples_[2 * next_ + static_cast<std::size_t>(c)] : 0.0;
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
