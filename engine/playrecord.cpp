// The sound engine's play-and-record operation (the log sweep): one signal played once
// while both inputs record it as one piece. Blocks of the per-block capture cannot hold
// a sweep of seconds, so this runs beside it with buffers of its own, sized per run.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "dsp/continuity.h"
#include "engine/blockconvert.h"
#include "engine/soundengine.h"

namespace sonvera {

namespace {

WaveFormat StereoPcm(std::uint32_t rateHz, std::uint16_t bits)
{
    WaveFormat f;
    f.FormatTag = 1;
    f.Channels = 2;
    f.SamplesPerSec = rateHz;
    f.BitsPerSample = bits;
    f.BlockAlign = static_cast<std::uint16_t>(2 * bits / 8);
    f.AvgBytesPerSec = static_cast<std::uint32_t>(f.BlockAlign) * rateHz;
    return f;
}

// One recorded PCM sample as a real (full scale 1.0); overloads as the block conversion
// counts them.
float LoadSample(const char* p, int bytes, int& overloads)
{
    switch (bytes) {
    case 1: {
        const auto raw = static_cast<unsigned char>(*p);
        overloads += raw == 0 || raw == 255;
        return static_cast<float>(static_cast<int>(raw) - 128) / 128.0f;
    }
    case 2: {
        std::int16_t raw = 0;
        std::memcpy(&raw, p, sizeof raw);
        overloads += raw == -32768 || raw == 32767;
        return static_cast<float>(raw) / 32768.0f;
    }
    default: {
        std::int32_t raw = 0;
        std::memcpy(&raw, p, sizeof raw);
        overloads += raw <= -2147483647 || raw == 2147483647;
        return static_cast<float>(static_cast<double>(raw) / 2147483647.0);
    }
    }
}

}  // namespace

bool SoundEngine::ClosePlayRecord()
{
    const bool wasOpen = PlayRecordOpen();
    if (playRecordInOpen_) {
        layer_.WaveInReset(playRecordIn_);
        layer_.WaveInUnprepareHeader(playRecordIn_, playRecordInHeader_.get());
        playRecordInOpen_ = layer_.WaveInClose(playRecordIn_) != kMmNoError;
    }
    if (playRecordOutOpen_) {
        layer_.WaveOutReset(playRecordOut_);
        layer_.WaveOutUnprepareHeader(playRecordOut_, playRecordOutHeader_.get());
        playRecordOutOpen_ = layer_.WaveOutClose(playRecordOut_) != kMmNoError;
    }
    if (wasOpen && !PlayRecordOpen()) {
        // What the resets handed back is posted like a finished recording; it must not
        // reach the handler of a later run.
        ++session_;
    }
    return !PlayRecordOpen();
}

int SoundEngine::StartPlayRecord(const std::vector<float>& signal, std::size_t recordFrames,
                                 CaptureHandlerFn handler)
{
    engineError_ = 0;
    if (playRecordRunning_) {
        return 0;
    }
    auto fail = [this](int code) {
        ClosePlayRecord();
        playRecordInBuffer_ = {};
        playRecordOutBuffer_ = {};
        engineError_ = code;
        return code;
    };
    if (!Started()) {
        return fail(3);
    }
    // Left open by an earlier run whose close failed: closed now, or the start fails.
    if (PlayRecordOpen() && !ClosePlayRecord()) {
        return fail(kEngineCloseFailed);
    }
    if (blockInFlight_ || captureOpen_ || captureStarted_ || playbackActive_ || playbackOpen_) {
        return fail(static_cast<int>(kMmAllocated));
    }
    // The recording holds the round trip before the signal arrives: it is that much longer.
    MeasureRoundTrip();
    recordFrames += static_cast<std::size_t>(
        std::ceil(std::max(0.0, RoundTripSeconds()) * CurrentOut().Format.SamplesPerSec));

    DeviceFormat& outDevice = CurrentOut();
    DeviceFormat& inDevice = CurrentIn();
    inDevice.Format.SamplesPerSec = outDevice.Format.SamplesPerSec;
    const WaveFormat outFormat = StereoPcm(outDevice.Format.SamplesPerSec, outDevice.Format.BitsPerSample);
    const WaveFormat inFormat = StereoPcm(inDevice.Format.SamplesPerSec, inDevice.Format.BitsPerSample);
    outDevice.Format = outFormat;
    inDevice.Format = inFormat;
    const std::uint64_t outBytes = static_cast<std::uint64_t>(signal.size()) * outFormat.BlockAlign;
    const std::uint64_t inBytes = static_cast<std::uint64_t>(std::max(recordFrames, signal.size())) * inFormat.BlockAlign;
    if (signal.empty() || outFormat.BlockAlign == 0 || inFormat.BlockAlign == 0 ||
        inBytes > std::numeric_limits<std::uint32_t>::max()) {
        return fail(static_cast<int>(kMmInvalidParam));
    }
    try {
        if (!playRecordInHeader_) {
            playRecordInHeader_ = std::make_unique<WaveHeader>();
            playRecordOutHeader_ = std::make_unique<WaveHeader>();
        }
        playRecordOutBuffer_.assign(static_cast<std::size_t>(outBytes), 0);
        playRecordInBuffer_.assign(static_cast<std::size_t>(inBytes), 0);
    } catch (const std::bad_alloc&) {
        return fail(3);
    }
    const int outValueBytes = outFormat.BitsPerSample / 8;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        char* frame = playRecordOutBuffer_.data() + i * outFormat.BlockAlign;
        StoreSample(frame, outValueBytes, signal[i]);
        StoreSample(frame + outValueBytes, outValueBytes, signal[i]);
    }

    const auto outId = static_cast<unsigned>(outDeviceIndex_);
    const auto inId = static_cast<unsigned>(inDeviceIndex_);
    MmResult r = layer_.WaveOutOpen(nullptr, outId, outFormat, nullptr, kWaveOpenQuery);
    if (r != kMmNoError) {
        return fail(static_cast<int>(r));
    }
    r = layer_.WaveInOpen(nullptr, inId, inFormat, nullptr, kWaveOpenQuery);
    if (r != kMmNoError) {
        AppendReport("InFormatQuery Error ");
        return fail(static_cast<int>(r));
    }
    r = layer_.WaveOutOpen(&playRecordOut_, outId, outFormat, [](WaveMessage, WaveHeader*) {}, 0);
    if (r != kMmNoError) {
        ReportDeviceError("waveOutOpen Error ", r, false);
        return fail(static_cast<int>(r));
    }
    playRecordOutOpen_ = true;
    WavePost post = [this, session = session_](WaveMessage message, WaveHeader* header) {
        if (message == WaveMessage::InData) {
            if (MessagePort* port = port_.load()) {
                port->PostWaveInData(header, session);
            }
        }
    };
    r = layer_.WaveInOpen(&playRecordIn_, inId, inFormat, std::move(post), 0);
    if (r != kMmNoError) {
        ReportDeviceError("waveinOpen Error ", r, true);
        return fail(static_cast<int>(r));
    }
    playRecordInOpen_ = true;
    playRecordBits_ = inFormat.BitsPerSample;

    WaveHeader& out = *playRecordOutHeader_;
    out = WaveHeader{};
    out.data = playRecordOutBuffer_.data();
    out.bufferLength = static_cast<std::uint32_t>(outBytes);
    out.loops = 1;
    WaveHeader& in = *playRecordInHeader_;
    in = WaveHeader{};
    in.data = playRecordInBuffer_.data();
    in.bufferLength = static_cast<std::uint32_t>(inBytes);
    in.loops = 1;
    if ((r = layer_.WaveOutPrepareHeader(playRecordOut_, &out)) != kMmNoError) {
        ReportDeviceError("waveOutPrepHeader Error ", r, false);
        return fail(static_cast<int>(r));
    }
    if ((r = layer_.WaveInPrepareHeader(playRecordIn_, &in)) != kMmNoError) {
        return fail(static_cast<int>(r));
    }
    if ((r = layer_.WaveInAddBuffer(playRecordIn_, &in)) != kMmNoError) {
        ReportDeviceError("waveInAddBuffer Error ", r, true);
        return fail(static_cast<int>(r));
    }
    playRecordHandler_ = std::move(handler);
    playRecordRunning_ = true;  // the instant clock completes inside the next call
    if ((r = layer_.WavePlayRecord(playRecordOut_, &out, playRecordIn_)) != kMmNoError) {
        playRecordRunning_ = false;
        ReportDeviceError("wavePlayRecord Error ", r, false);
        return fail(static_cast<int>(r));
    }
    return 0;
}

bool SoundEngine::TakePlayRecording(std::vector<float>& right, std::vector<float>& left, int& overloadCount)
{
    engineError_ = 0;
    right.clear();
    left.clear();
    overloadCount = 0;
    if (!playRecordRunning_) {
        return false;
    }
    playRecordRunning_ = false;
    playRecordHandler_ = nullptr;
    if (!ClosePlayRecord()) {
        playRecordInBuffer_ = {};
        playRecordOutBuffer_ = {};
        engineError_ = kEngineCloseFailed;
        return false;
    }
    if ((playRecordInHeader_->flags & kWhdrGap) != 0 ||
        playRecordInHeader_->bytesRecorded < playRecordInHeader_->bufferLength) {
        // Frames were lost: the recording is not one piece and is not analysed.
        ++droppedBlocks_;
        playRecordInBuffer_ = {};
        playRecordOutBuffer_ = {};
        engineError_ = kEngineFramesLost;
        return false;
    }
    // Read after the reset: nothing writes the buffer any more.
    const int bytes = playRecordBits_ / 8;
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(bytes);
    const std::size_t frames = std::min<std::size_t>(playRecordInHeader_->bytesRecorded,
                                                     playRecordInBuffer_.size()) / frameBytes;
    try {
        right.resize(frames);
        left.resize(frames);
    } catch (const std::bad_alloc&) {
        right.clear();
        left.clear();
        playRecordInBuffer_ = {};
        playRecordOutBuffer_ = {};
        engineError_ = 3;
        return false;
    }
    // The device's frames are (left, right); the swap flag exchanges them.
    const bool swap = CurrentIn().SwapFlag != 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const char* frame = playRecordInBuffer_.data() + i * frameBytes;
        const float first = LoadSample(frame, bytes, overloadCount);
        const float second = LoadSample(frame + bytes, bytes, overloadCount);
        left[i] = swap ? second : first;
        right[i] = swap ? first : second;
    }
    const bool stepped = RecordingStepped(right, left);
    playRecordInBuffer_ = {};
    playRecordOutBuffer_ = {};
    if (stepped) {
        // Frames lost or inserted that no flag reported: as a flagged gap.
        ++droppedBlocks_;
        right.clear();
        left.clear();
        overloadCount = 0;
        engineError_ = kEngineFramesLost;
        return false;
    }
    return true;
}

bool SoundEngine::RecordingStepped(const std::vector<float>& right, const std::vector<float>& left) const
{
    const WaveHeader& out = *playRecordOutHeader_;
    const int bytes = BytesPerValue(CurrentOut().Format.BitsPerSample);
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(bytes);
    std::vector<float> played;
    try {
        played.resize(std::min<std::size_t>(out.bufferLength, playRecordOutBuffer_.size()) / frameBytes);
    } catch (const std::bad_alloc&) {
        return false;  // not judged
    }
    int ignored = 0;
    for (std::size_t i = 0; i < played.size(); ++i) {
        played[i] = LoadSample(playRecordOutBuffer_.data() + i * frameBytes, bytes, ignored);
    }
    const double rate = CurrentIn().Format.SamplesPerSec;
    // An input that does not carry the signal (an open reference) is not judged.
    for (const std::vector<float>* input : {&left, &right}) {
        if (CheckSweepContinuity(played.data(), played.size(), input->data(), input->size(), 1, rate).gap) {
            return true;
        }
    }
    return false;
}

void SoundEngine::StopPlayRecord()
{
    playRecordRunning_ = false;
    playRecordHandler_ = nullptr;
    ClosePlayRecord();
    playRecordInBuffer_ = {};
    playRecordOutBuffer_ = {};
}

int SoundEngine::StartLoopedSignal(const std::vector<float>& left, const std::vector<float>& right, int toneHz)
{
    engineError_ = 0;
    if (playbackActive_ || playbackOpen_) {
        return 0;
    }
    if (!Started()) {
        engineError_ = 3;
        return 3;
    }
    const int valueBytes = BytesPerValue(CurrentOut().Format.BitsPerSample);
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(valueBytes);
    if (left.empty() || left.size() != right.size() || left.size() > 0xFFFFFFFFu / frameBytes) {
        engineError_ = static_cast<int>(kMmInvalidParam);
        return engineError_;
    }
    try {
        loopedSignal_.assign(left.size() * frameBytes, 0);
    } catch (const std::bad_alloc&) {
        engineError_ = 3;
        return 3;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        StoreSample(loopedSignal_.data() + i * frameBytes, valueBytes, left[i]);
        StoreSample(loopedSignal_.data() + i * frameBytes + valueBytes, valueBytes, right[i]);
    }
    // Measurements count from the signal's arrival; a device in use is measured later.
    MeasureRoundTrip();
    if (const int code = OpenPlayback(); code != 0) {
        return code;
    }
    playbackParams_ = GeneratorParams{};
    playbackFreqHz_ = std::max(0, toneHz);
    loopResidue_ = 0;
    playbackLength_ = static_cast<std::uint32_t>(loopedSignal_.size());
    return WritePlayback(loopedSignal_.data(), playbackLength_, true);
}

}  // namespace sonvera
