#include "platform/wavefileplayer.h"

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

/// Times the device repeats the buffer (the loop runs until Stop in practice).
constexpr std::uint32_t kLoopCount = 1000000;

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

WaveFilePlayer::WaveFilePlayer(WaveLayer& layer) : layer_(layer), header_(std::make_unique<WaveHeader>()) {}

WaveFilePlayer::~WaveFilePlayer()
{
    Stop();
}

std::string WaveFilePlayer::Decode(const std::string& path, std::vector<std::int16_t>& samples, int& rate)
{
    // Opened without waiting and refused unless a regular file: a FIFO or a device
    // would hold the program up or never end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return path + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return path + ": not a regular file";
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);  // closes fd
    if (file == nullptr) {
        return path + ": " + sf_strerror(nullptr);
    }
    if (info.channels < 1 || info.channels > 2 || info.frames <= 0 || info.samplerate < 1000 ||
        info.samplerate > 200000) {
        sf_close(file);
        return path + ": needs 1 or 2 channels, at least one frame and 1000 to 200000 Hz";
    }
    const auto frames = static_cast<std::size_t>(info.frames);
    if (frames > kMaxBufferBytes / 4) {
        sf_close(file);
        return path + ": too long to be looped";
    }
    // A data chunk that claims more than the file holds: libsndfile notes it in its log
    // and reads what there is. Such a file is refused rather than looped half.
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    // Every format is read as reals with full scale 1.0 and rounded to 16 bits here:
    // libsndfile's own conversion truncates floating-point samples to -1, 0 or 1, or
    // scales them to the file's peak. Read in pieces, the buffer growing with what
    // arrives: a header that claims more frames than the file holds costs nothing.
    constexpr sf_count_t kChunkFrames = 65536;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<std::int16_t> raw;
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    sf_count_t got = 0;
    bool finite = true;
    while (got < info.frames) {
        const sf_count_t n = sf_readf_float(file, chunk.data(), std::min(kChunkFrames, info.frames - got));
        if (n <= 0) {
            break;
        }
        raw.resize(static_cast<std::size_t>(got + n) * channels);
        std::int16_t* to = raw.data() + static_cast<std::size_t>(got) * channels;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) * channels; ++i) {
            finite = finite && std::isfinite(chunk[i]);
            to[i] = finite ? static_cast<std::int16_t>(std::clamp(std::nearbyint(chunk[i] * 32768.0), -32768.0, 32767.0))
                           : std::int16_t{0};
        }
        got += n;
    }
    sf_close(file);
    if (got != info.frames || DataChunkCutShort(log)) {
        return path + ": the file is truncated or damaged";
    }
    if (!finite) {
        return path + ": holds samples that are not finite numbers";
    }
    samples.resize(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int16_t left = raw[i * static_cast<std::size_t>(info.channels)];
        samples[2 * i] = left;
        samples[2 * i + 1] = info.channels == 2 ? raw[2 * i + 1] : left;
    }
    rate = info.samplerate;
    return "";
}

int WaveFilePlayer::PlayLooped(const std::string& path, unsigned deviceId)
{
    Stop();
    lastError_.clear();
    std::vector<std::int16_t> decoded;
    int rate = 0;
    if (std::string error = Decode(path, decoded, rate); !error.empty()) {
        lastError_ = std::move(error);
        return 1;
    }
    samples_ = std::move(decoded);
    rate_ = rate;

    WaveFormat format;
    format.Channels = 2;
    format.BitsPerSample = 16;
    format.BlockAlign = 4;
    format.SamplesPerSec = static_cast<std::uint32_t>(rate);
    format.AvgBytesPerSec = format.SamplesPerSec * 4;
    MmResult r = layer_.WaveOutOpen(&handle_, deviceId, format, [](WaveMessage, WaveHeader*) {}, 0);
    if (r != kMmNoError) {
        lastError_ = path + ": the output device refused it (" + WaveOutErrorText(r) + ")";
        return 1;
    }
    open_ = true;
    WaveHeader& h = *header_;
    h = WaveHeader{};
    h.data = reinterpret_cast<char*>(samples_.data());
    h.bufferLength = static_cast<std::uint32_t>(samples_.size() * sizeof(std::int16_t));
    h.flags = kWhdrBeginLoop | kWhdrEndLoop;
    h.loops = kLoopCount;
    r = layer_.WaveOutPrepareHeader(handle_, &h);
    if (r == kMmNoError) {
        prepared_ = true;
        r = layer_.WaveOutWrite(handle_, &h);
    }
    if (r != kMmNoError) {
        lastError_ = path + ": the output device refused it (" + WaveOutErrorText(r) + ")";
        Stop();
        return 1;
    }
    playing_ = true;
    return 0;
}

void WaveFilePlayer::Stop()
{
    if (open_) {
        layer_.WaveOutReset(handle_);
        if (prepared_) {
            layer_.WaveOutUnprepareHeader(handle_, header_.get());
        }
        layer_.WaveOutClose(handle_);
    }
    open_ = prepared_ = playing_ = false;
}

}  // namespace sonvera
