// The round trip of the current output and input: a short burst is played once while
// the input records, and found again in the recording. Every measurement that plays its
// own signal counts from that signal's arrival (SoundEngine::BlockUsable), and the log
// sweep records that much longer.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <semaphore>
#include <vector>

#include "config/numberformat.h"
#include "engine/blockconvert.h"
#include "engine/soundengine.h"

namespace sonvera {

namespace {

// The burst: 4 ms of a 3 kHz tone under a Hann window at half full scale, at the start
// of a 40 ms buffer. Its band passes the usual devices under test (a high-pass up to a
// few hundred Hz, a low-pass down to a few kHz) with little change of its shape.
constexpr double kBurstSeconds = 0.004;
constexpr double kBurstHz = 3000.0;
constexpr double kBurstAmplitude = 0.5;
constexpr double kBufferSeconds = 0.04;
// Recorded first, and once more with the longer window when the burst was not found.
constexpr double kRecordSeconds[] = {0.3, 1.2};
// The burst counts as found when the correlation's peak stands this far above its
// median (a recording of noise alone gives a ratio of a few).
constexpr double kFoundRatio = 20.0;

std::vector<double> Burst(double rateHz)
{
    const auto n = static_cast<std::size_t>(std::max(8.0, std::round(kBurstSeconds * rateHz)));
    std::vector<double> b(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rateHz;
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
        b[i] = kBurstAmplitude * w * std::sin(2.0 * std::numbers::pi * kBurstHz * t);
    }
    return b;
}

void StoreValue(char* p, int bits, double x)
{
    if (bits == 8) {
        *p = static_cast<char>(static_cast<unsigned char>(128 + std::lround(x * 127.0)));
    } else if (bits == 16) {
        const auto v = static_cast<std::int16_t>(std::lround(x * 32767.0));
        std::memcpy(p, &v, sizeof v);
    } else {
        const auto v = static_cast<std::int32_t>(std::llround(x * 2147483392.0));
        std::memcpy(p, &v, sizeof v);
    }
}

// Where the burst lies in `x` (frames), or -1 when it cannot be told from the rest.
long FindBurst(const std::vector<float>& x, const std::vector<double>& burst)
{
    if (x.size() < burst.size() * 2) {
        return -1;
    }
    const std::size_t lags = x.size() - burst.size();
    std::vector<double> c(lags);
    for (std::size_t k = 0; k < lags; ++k) {
        double sum = 0.0;
        for (std::size_t i = 0; i < burst.size(); ++i) {
            sum += burst[i] * x[k + i];
        }
        c[k] = std::fabs(sum);
    }
    const auto peak = std::max_element(c.begin(), c.end());
    std::vector<double> sorted(c);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(lags / 2), sorted.end());
    const double median = sorted[lags / 2];
    if (!(*peak > 0.0) || *peak < kFoundRatio * median) {
        return -1;
    }
    return static_cast<long>(peak - c.begin());
}

}  // namespace

std::string SoundEngine::RoundTripKey() const
{
    const WaveFormat& in = CurrentIn().Format;
    const WaveFormat& out = CurrentOut().Format;
    return layer_.BackendName() + " " + std::to_string(inDeviceIndex_) + " " + std::to_string(in.SamplesPerSec) +
           " " + std::to_string(in.BitsPerSample) + " " + std::to_string(outDeviceIndex_) + " " +
           std::to_string(out.SamplesPerSec) + " " + std::to_string(out.BitsPerSample);
}

double SoundEngine::RoundTripSeconds() const
{
    return roundTripKey_ == RoundTripKey() ? roundTripSeconds_ : -1.0;
}

int SoundEngine::MeasureRoundTrip(bool probe)
{
    if (!Started()) {
        return 3;
    }
    const std::string key = RoundTripKey();
    if (key == roundTripKey_ && !probe) {
        return 0;
    }
    const double known = layer_.KnownRoundTripSeconds(static_cast<unsigned>(inDeviceIndex_),
                                                      static_cast<unsigned>(outDeviceIndex_));
    if (known >= 0.0 && !probe) {
        roundTripKey_ = key;
        roundTripSeconds_ = known;
        return 0;
    }
    if (blockInFlight_ || captureOpen_ || captureStarted_ || playbackActive_ || playbackOpen_ ||
        playRecordRunning_ || PlayRecordOpen()) {
        return static_cast<int>(kMmAllocated);
    }
    DeviceFormat& inDevice = CurrentIn();
    DeviceFormat& outDevice = CurrentOut();
    inDevice.Format.FormatTag = outDevice.Format.FormatTag = 1;
    inDevice.Format.Channels = outDevice.Format.Channels = 2;
    for (DeviceFormat* d : {&inDevice, &outDevice}) {
        d->Format.BlockAlign = static_cast<std::uint16_t>(2 * d->Format.BitsPerSample / 8);
        d->Format.AvgBytesPerSec = static_cast<std::uint32_t>(d->Format.BlockAlign) * d->Format.SamplesPerSec;
    }
    const WaveFormat outFormat = outDevice.Format;
    const WaveFormat inFormat = inDevice.Format;
    if (outFormat.BlockAlign == 0 || inFormat.BlockAlign == 0 || outFormat.SamplesPerSec == 0 ||
        inFormat.SamplesPerSec == 0) {
        return static_cast<int>(kWaveBadFormat);
    }
    const double outRate = outFormat.SamplesPerSec;
    const double inRate = inFormat.SamplesPerSec;

    std::vector<char> played(static_cast<std::size_t>(std::ceil(kBufferSeconds * outRate)) * outFormat.BlockAlign,
                             0);
    if (outFormat.BitsPerSample == 8) {
        std::fill(played.begin(), played.end(), static_cast<char>(0x80));
    }
    const std::vector<double> burstOut = Burst(outRate);
    const int outBytes = outFormat.BitsPerSample / 8;
    for (std::size_t i = 0; i < burstOut.size(); ++i) {
        char* frame = played.data() + i * outFormat.BlockAlign;
        StoreValue(frame, outFormat.BitsPerSample, burstOut[i]);
        StoreValue(frame + outBytes, outFormat.BitsPerSample, burstOut[i]);
    }
    const std::vector<double> burstIn = Burst(inRate);

    int result = 0;
    for (const double seconds : kRecordSeconds) {
        std::vector<char> recorded(static_cast<std::size_t>(std::ceil(seconds * inRate)) * inFormat.BlockAlign, 0);
        // The completion comes on the layer's thread (or inside the starting call), and a
        // late one after a timeout must find its semaphore still there.
        auto done = std::make_shared<std::binary_semaphore>(0);
        WaveHeader out;
        out.data = played.data();
        out.bufferLength = static_cast<std::uint32_t>(played.size());
        WaveHeader in;
        in.data = recorded.data();
        in.bufferLength = static_cast<std::uint32_t>(recorded.size());
        WaveOutHandle ho{};
        WaveInHandle hi{};
        const auto outId = static_cast<unsigned>(outDeviceIndex_);
        const auto inId = static_cast<unsigned>(inDeviceIndex_);
        MmResult r = layer_.WaveOutOpen(&ho, outId, outFormat, [](WaveMessage, WaveHeader*) {}, 0);
        if (r != kMmNoError) {
            return static_cast<int>(r);
        }
        r = layer_.WaveInOpen(&hi, inId, inFormat,
                              [done](WaveMessage m, WaveHeader*) {
                                  if (m == WaveMessage::InData) {
                                      done->release();
                                  }
                              },
                              0);
        bool inOpen = r == kMmNoError;
        if (r == kMmNoError) r = layer_.WaveOutPrepareHeader(ho, &out);
        if (r == kMmNoError) r = layer_.WaveInPrepareHeader(hi, &in);
        if (r == kMmNoError) r = layer_.WaveInAddBuffer(hi, &in);
        if (r == kMmNoError) r = layer_.WavePlayRecord(ho, &out, hi);
        const bool came = r == kMmNoError &&
                          done->try_acquire_for(std::chrono::duration<double>(seconds + 3.0));
        if (inOpen) {
            layer_.WaveInReset(hi);
            layer_.WaveInUnprepareHeader(hi, &in);
            layer_.WaveInClose(hi);
        }
        layer_.WaveOutReset(ho);
        layer_.WaveOutUnprepareHeader(ho, &out);
        layer_.WaveOutClose(ho);
        if (r != kMmNoError) {
            return static_cast<int>(r);
        }
        if (!came || (in.flags & kWhdrGap) != 0) {
            result = came ? 0 : static_cast<int>(kMmError);
            continue;  // the longer window, or unknown
        }
        // Both inputs: the stronger one decides (a device may carry one channel only).
        std::vector<float> values(kSampleBufferValues);
        const std::size_t frames = in.bytesRecorded / inFormat.BlockAlign;
        long best = -1;
        for (int channel = 0; channel < 2; ++channel) {
            std::vector<float> x(frames);
            for (std::size_t f = 0; f < frames; ++f) {
                float v[2];
                ConvertCapturedBlock(reinterpret_cast<const std::uint8_t*>(recorded.data()) + f * inFormat.BlockAlign,
                                     inFormat.BlockAlign, inFormat.BitsPerSample, 1, v, 2);
                x[f] = v[channel];
            }
            const long at = FindBurst(x, burstIn);
            if (at >= 0 && (best < 0 || at < best)) {
                best = at;
            }
        }
        if (best >= 0 && in.startSeconds >= 0.0 && out.startSeconds >= 0.0) {
            roundTripKey_ = key;
            roundTripSeconds_ = std::max(0.0, in.startSeconds + static_cast<double>(best) / inRate - out.startSeconds);
            AppendReport("Round trip out " + std::to_string(outDeviceIndex_) + " -> in " +
                         std::to_string(inDeviceIndex_) + " (" + std::to_string(outFormat.SamplesPerSec) + " Hz, " +
                         std::to_string(outFormat.BitsPerSample == 32 ? 24 : outFormat.BitsPerSample) +
                         " Bits): " + FormatFixed(roundTripSeconds_ * 1000.0, 2) + " ms, " +
                         FormatFixed(roundTripSeconds_ * outRate, 1) + " samples");
            return 0;
        }
    }
    // Nothing came back (a device not looped back, or a silent input): the measurements
    // count from the signal's start, as without a round trip.
    roundTripKey_ = key;
    roundTripSeconds_ = -1.0;
    AppendReport("Round trip out " + std::to_string(outDeviceIndex_) + " -> in " + std::to_string(inDeviceIndex_) +
                 ": not measured (the burst did not come back)");
    return result;
}

}  // namespace sonvera
