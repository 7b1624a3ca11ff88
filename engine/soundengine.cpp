#include "engine/soundengine.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "config/profilefile.h"
#include "config/sections.h"
#include "dsp/continuity.h"
#include "engine/blockconvert.h"
#include "engine/volume.h"

namespace sonvera {

namespace {

// Report lines carry at most this much of a platform error text.
constexpr std::size_t kReportErrorChars = 128;
// DeviceErrorText gives at most this many characters.
constexpr std::size_t kErrorTextChars = 255;
// Pending messages processed at shutdown before the buffers go.
constexpr int kShutdownDrainMessages = 1001;
// Highest tone frequency StartPlayback accepts (far above any audio rate's Nyquist
// limit; it bounds the loop-length search).
constexpr int kMaxToneHz = 192000;

std::string Hex8(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%8x", static_cast<unsigned>(value));
    return text;
}

std::string CutText(std::string text, std::size_t maxChars)
{
    return text.size() > maxChars ? CutUtf8(text, maxChars) : text;
}

std::string InCapsError(MmResult code)
{
    switch (code) {
    case kMmBadDeviceId: return "(in:) Ungültige Geräte IDDriver";
    case kMmNoDriver: return "(in:) Kein Treiber";
    case kMmNoMem: return "(in:) Kein Speicher";
    default: return "(in:) unkown Error";
    }
}

std::string OutCapsError(MmResult code)
{
    switch (code) {
    case kMmBadDeviceId: return "(out:) Ungültige Geräte IDDriver";
    case kMmNoDriver: return "(out:) Kein Treiber";
    case kMmNoMem: return "(out:) Kein Speicher";
    default: return "(out:) unkown Error";
    }
}

// Brings a record's derived fields in line with its rate and bits: PCM, 2 channels.
void RefreshFormat(DeviceFormat& device)
{
    WaveFormat& f = device.Format;
    f.FormatTag = 1;
    f.Channels = 2;
    f.BlockAlign = static_cast<std::uint16_t>(f.Channels * f.BitsPerSample / 8);
    f.AvgBytesPerSec = static_cast<std::uint32_t>(f.BlockAlign) * f.SamplesPerSec;
}

WaveFormat MakeFormat(int rate, int bits)
{
    WaveFormat f;
    f.SamplesPerSec = static_cast<std::uint32_t>(std::max(rate, 0));
    f.BitsPerSample = static_cast<std::uint16_t>(bits == 24 ? 32 : std::clamp(bits, 0, 0xFFFF));
    f.FormatTag = 1;
    f.Channels = 2;
    f.BlockAlign = static_cast<std::uint16_t>(2 * f.BitsPerSample / 8);
    f.AvgBytesPerSec = static_cast<std::uint32_t>(f.BlockAlign) * f.SamplesPerSec;
    f.ExtraSize = 0;
    return f;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

}  // namespace

SoundEngine::SoundEngine(WaveLayer& layer) : layer_(layer) {}

SoundEngine::~SoundEngine()
{
    // Leave no device working on memory that is about to go.
    if (Started()) {
        StopPlayback();
        CloseCaptureForShutdown();
    }
    ClosePlayRecord();
}

void SoundEngine::SetMessagePort(MessagePort* port)
{
    port_.store(port);
}

void SoundEngine::SetProfile(ProfileFile* profile)
{
    profile_ = profile;
}

// ---- Device catalogue and report ---------------------------------------------------

void SoundEngine::AppendReport(std::string line)
{
    deviceReport_.push_back(std::move(line));
}

std::string SoundEngine::DeviceReportText() const
{
    std::string text;
    for (const std::string& line : deviceReport_) {
        text += line;
        text += '\n';
    }
    return text;
}

std::string SoundEngine::BuildDeviceReport(int& inputCount, int& outputCount, std::uint32_t& captureFormats)
{
    captureFormats_ = 0;
    inputFormatsTable_.fill(0);
    inCount_ = layer_.WaveInGetNumDevs();
    outCount_ = layer_.WaveOutGetNumDevs();
    midiCount_ = layer_.MidiOutGetNumDevs();
    auxCount_ = layer_.AuxGetNumDevs();
    inputCount = static_cast<int>(inCount_);
    outputCount = static_cast<int>(outCount_);

    deviceReport_.clear();
    AppendReport(std::string("--- Programm Version Win") + "32" + "  " + "1.3" + "c" + " ---");
    AppendReport("WaveInNumDevs  : " + std::to_string(inCount_));
    AppendReport("WaveOutNumDevs : " + std::to_string(outCount_));
    AppendReport("MidiNumDevs    : " + std::to_string(midiCount_));
    AppendReport("AuxNumDevs     : " + std::to_string(auxCount_));
    AppendReport(" ");
    AppendReport("WaveIn´s ----------");

    std::string lastIn, lastOut, lastAux;
    if (inCount_ == 0) {
        lastIn = "Error: no Wave In/Out Devices";
    } else {
        for (unsigned i = 0; i < inCount_; ++i) {
            WaveInCaps caps;
            const MmResult r = layer_.WaveInGetDevCaps(i, caps);
            if (r != kMmNoError) {
                AppendReport(InCapsError(r));
                continue;
            }
            if (i < inputFormatsTable_.size()) {
                inputFormatsTable_[i] = caps.formats;
            }
            captureFormats_ = caps.formats;
            lastIn = caps.productName;
            AppendReport(caps.productName);
            AppendReport("Wave-In Formats   " + Hex8(caps.formats));
            AppendReport("Wave-In Channels  " + Hex8(caps.channels));
            AppendReport("Wave-In wReserved " + Hex8(caps.reserved));
        }

        AppendReport(" ");
        AppendReport("WaveOut´s ---------");
        for (unsigned i = 0; i < outCount_; ++i) {
            WaveOutCaps caps;
            const MmResult r = layer_.WaveOutGetDevCaps(i, caps);
            if (r != kMmNoError) {
                AppendReport(OutCapsError(r));
                continue;
            }
            lastOut = caps.productName;
            AppendReport(caps.productName);
            AppendReport("Wave-Out Formats   " + Hex8(caps.formats));
            AppendReport("Wave-Out Support   " + Hex8(caps.support));
            AppendReport("Wave-Out Channnels " + Hex8(caps.channels));
        }

        AppendReport(" ");
        AppendReport("WaveAux´s ---------");
        for (unsigned i = 0; i < auxCount_; ++i) {
            AuxCaps caps;
            if (layer_.AuxGetDevCaps(i, caps) != kMmNoError) {
                continue;
            }
            lastAux = caps.productName;
            AppendReport(std::to_string(i) + "   " + caps.productName + " dwTec.:" +
                         std::to_string(caps.technology) + " dwSup.:" + std::to_string(caps.support));
        }
        // The rate each device runs without conversion, where it has one of its own.
        for (const bool input : {true, false}) {
            for (unsigned i = 0; i < (input ? inCount_ : outCount_); ++i) {
                if (const std::uint32_t own = layer_.DeviceOwnRate(input, i); own != 0) {
                    AppendReport(std::string("Own rate ") + (input ? "in " : "out ") + std::to_string(i) + ": " +
                                 std::to_string(own) + " Hz");
                }
            }
        }
    }
    captureFormats = captureFormats_;
    return lastIn + " / " + lastOut + " / " + lastAux;
}

std::string SoundEngine::DeviceName(char kind, int i)
{
    if (i < 0) {
        return {};
    }
    const auto id = static_cast<unsigned>(i);
    if (kind == 'I') {
        WaveInCaps caps;
        if (id < layer_.WaveInGetNumDevs() && layer_.WaveInGetDevCaps(id, caps) == kMmNoError) {
            return CutText(caps.productName, kMaxProductName);
        }
    } else if (kind == 'O') {
        WaveOutCaps caps;
        if (id < layer_.WaveOutGetNumDevs() && layer_.WaveOutGetDevCaps(id, caps) == kMmNoError) {
            return CutText(caps.productName, kMaxProductName);
        }
    }
    return {};
}

void SoundEngine::SelectInDevice(int i)
{
    const int count = static_cast<int>(std::min(layer_.WaveInGetNumDevs(), 3u));
    inDeviceIndex_ = (i >= 0 && i < count) ? i : 0;
}

void SoundEngine::SelectOutDevice(int i)
{
    const int count = static_cast<int>(std::min(layer_.WaveOutGetNumDevs(), 3u));
    const int next = (i >= 0 && i < count) ? i : 0;
    if (next != outDeviceIndex_) {
        RestoreOutputVolume(outDeviceIndex_);  // the device left gets its own volume back
    }
    outDeviceIndex_ = next;
}

std::string SoundEngine::ErrorText(std::uint32_t code, bool input, std::size_t maxChars)
{
    std::string text;
    const MmResult r = input ? layer_.WaveInGetErrorText(code, text) : layer_.WaveOutGetErrorText(code, text);
    if (r != kMmNoError || text.empty()) {
        // Never hand the user an empty text: fall back to the layer's generic wording.
        text = input ? WaveInErrorText(code) : WaveOutErrorText(code);
    }
    return CutText(std::move(text), maxChars);
}

std::string SoundEngine::DeviceErrorText(std::uint32_t code)
{
    if (code == kEngineCloseFailed) {
        // The engine's own code (the platform's 9 only answers a bad error number, which
        // no device call returns).
        return "The input device could not be closed.";
    }
    if (code == kEngineFramesLost) {
        return "The input device \"" + DeviceName('I', inDeviceIndex_) +
               "\" keeps losing frames: every recording again had gaps.";
    }
    return ErrorText(code, code <= 1000, kErrorTextChars);
}

void SoundEngine::ReportDeviceError(const char* what, std::uint32_t code, bool input)
{
    AppendReport(std::string(what) + std::to_string(code));
    AppendReport(ErrorText(code, input, kReportErrorChars));
}

bool SoundEngine::QueryFormat(int rate, int bits, bool input)
{
    const WaveFormat format = MakeFormat(rate, bits);
    if (input) {
        return layer_.WaveInOpen(nullptr, static_cast<unsigned>(inDeviceIndex_), format, nullptr,
                                 kWaveOpenQuery) == kMmNoError;
    }
    return layer_.WaveOutOpen(nullptr, static_cast<unsigned>(outDeviceIndex_), format, nullptr,
                              kWaveOpenQuery) == kMmNoError;
}

std::uint32_t SoundEngine::InputFormatsMask(int i) const
{
    if (i < 0 || i >= kDeviceSlots) {
        return 0;
    }
    return inputFormatsTable_[static_cast<std::size_t>(i)];
}

// ---- Capture -------------------------------------------------------------------------

int SoundEngine::StartCapture(int frames, std::uint32_t userValue, CaptureHandlerFn handler)
{
    captureHandler_ = std::move(handler);
    engineError_ = 0;
    if (captureStarted_ || captureOpen_) {
        if (blockInFlight_) {
            return 0;  // one block is already in flight
        }
        // Left behind by a failed start, reset or close: no block will ever come for it.
        // Answering 0 here would stand every measurement still without a word, so the
        // device is closed now; if that fails again the caller gets the error.
        if (!Started()) {
            engineError_ = 3;
            return 3;
        }
        CloseCaptureForShutdown();
        // A buffer the reset handed back is reported like a finished block; its
        // completion is still on its way and must not end the capture started below.
        ++session_;
        if (captureStarted_ || captureOpen_) {
            engineError_ = kEngineCloseFailed;
            return kEngineCloseFailed;
        }
    }
    if (!Started()) {
        engineError_ = 3;
        return 3;
    }
    lostInRow_ = 0;
    firstTrySeconds_ = layer_.ClockSeconds();
    return OpenCapture(frames, userValue);
}

int SoundEngine::OpenCapture(int frames, std::uint32_t userValue)
{
    DeviceFormat& device = CurrentIn();
    RefreshFormat(device);
    const WaveFormat& format = device.Format;
    if (frames <= 0 || frames > kMaxCaptureFrames || format.BlockAlign == 0) {
        engineError_ = static_cast<int>(kMmInvalidParam);
        return engineError_;
    }
    captureFrames_ = frames;
    captureUser_ = userValue;
    // A longer block or a wider format than before: the buffers grow to it once.
    const auto needBytes = static_cast<std::uint64_t>(frames) * format.BlockAlign;
    const auto needValues = static_cast<std::size_t>(frames) * 2u;
    if (needBytes > captureCapacityBytes_) {
        std::unique_ptr<char[]> grown(new (std::nothrow) char[needBytes]());
        if (!grown) {
            engineError_ = 3;
            return 3;
        }
        captureBuffer_ = std::move(grown);
        captureCapacityBytes_ = static_cast<std::uint32_t>(needBytes);
    }
    if (needValues > sampleCapacity_) {
        std::unique_ptr<float[]> grown(new (std::nothrow) float[needValues]());
        if (!grown) {
            engineError_ = 3;
            return 3;
        }
        sampleBuffer_ = std::move(grown);
        sampleCapacity_ = needValues;
    }

    const auto deviceId = static_cast<unsigned>(inDeviceIndex_);
    MmResult r = layer_.WaveInOpen(nullptr, deviceId, format, nullptr, kWaveOpenQuery);
    if (r != kMmNoError) {
        AppendReport("InFormatQuery Error ");
        engineError_ = static_cast<int>(r);
        return engineError_;
    }

    WavePost post = [this, session = session_](WaveMessage message, WaveHeader* header) {
        if (message != WaveMessage::InData) {
            return;  // opens, closes and output completions are of no interest
        }
        if (MessagePort* port = port_.load()) {
            port->PostWaveInData(header, session);
        }
    };
    r = layer_.WaveInOpen(&inHandle_, deviceId, format, std::move(post), 0);
    if (r != kMmNoError) {
        ReportDeviceError("waveinOpen Error ", r, true);
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    captureOpen_ = true;
    capturedBits_ = format.BitsPerSample;

    WaveHeader& h = *captureHeader_;
    h = WaveHeader{};
    h.data = captureBuffer_.get();
    h.bufferLength = static_cast<std::uint32_t>(format.BlockAlign) * static_cast<std::uint32_t>(frames);
    h.bytesRecorded = 0;
    h.user = userValue;
    h.flags = 0;
    h.loops = 1;

    r = layer_.WaveInPrepareHeader(inHandle_, &h);
    if (r != kMmNoError) {
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    r = layer_.WaveInAddBuffer(inHandle_, &h);
    if (r != kMmNoError) {
        ReportDeviceError("waveInAddBuffer Error ", r, true);
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    // Started before the call: the instant clock completes the block inside it.
    captureStarted_ = true;
    blockInFlight_ = true;
    captureStartedAt_ = std::chrono::steady_clock::now();
    captureSeconds_ = format.SamplesPerSec > 0 ? static_cast<double>(frames) / format.SamplesPerSec : 0.0;
    r = layer_.WaveInStart(inHandle_);
    if (r != kMmNoError) {
        captureStarted_ = false;
        blockInFlight_ = false;
        layer_.WaveInUnprepareHeader(inHandle_, &h);
        ReportDeviceError("waveInStart Error ", r, true);
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    engineError_ = 0;
    return 0;
}

double SoundEngine::SecondsUntilSignalSettled()
{
    if (!SignalPlays()) {
        return 0.0;
    }
    const double roundTrip = std::max(0.0, roundTripSeconds_);
    const double now = layer_.ClockSeconds();
    const double start = playbackHeader_->startSeconds;
    // Not out yet: it starts at the latest now. (At most the whole wait, whatever the
    // stamp says: a stamp of another clock must not hold a sweep for ever.)
    const double settled = (start >= 0.0 ? start : now) + roundTrip + signalSettleSeconds_;
    return std::clamp(settled - now, 0.0, roundTrip + signalSettleSeconds_);
}

bool SoundEngine::BlockUsable(const WaveHeader& h)
{
    const bool gap = (h.flags & kWhdrGap) != 0 || h.bytesRecorded < h.bufferLength;
    if (gap) {
        ++droppedBlocks_;
        return ++lostInRow_ > kMaxLostBlocksInRow;  // given up: the handler learns it
    }
    if (!SignalPlays() || h.startSeconds < 0.0) {
        lostInRow_ = 0;
        return true;
    }
    // A signal that never starts playing must not hold the measurement for ever.
    constexpr double kLongestWaitSeconds = 10.0;
    const bool waitedLongest = layer_.ClockSeconds() - firstTrySeconds_ > kLongestWaitSeconds;
    const double start = playbackHeader_->startSeconds;
    if (!waitedLongest &&
        (start < 0.0 || h.startSeconds < start + std::max(0.0, roundTripSeconds_) + signalSettleSeconds_)) {
        lostInRow_ = 0;
        return false;  // from before the arrival: recorded again, not counted
    }
    if (ToneStepped(h)) {
        // Frames lost or inserted that no flag reported (a driver or a sound server on
        // the way): counted like a flagged gap.
        ++droppedBlocks_;
        return ++lostInRow_ > kMaxLostBlocksInRow;
    }
    lostInRow_ = 0;
    return true;
}

bool SoundEngine::ToneStepped(const WaveHeader& h)
{
    // (A looped signal of its own is one tone when its frequency is known; the
    // generator's parameters then hold the sine.)
    const bool periodic = playbackParams_.waveform == kWaveSine || playbackParams_.waveform == kWaveSquare;
    const double rate = CurrentIn().Format.SamplesPerSec;
    if (!periodic || playbackFreqHz_ <= 0 || !(rate > 0.0)) {
        return false;
    }
    toneCheckBuffer_.resize(sampleCapacity_);
    const ConvertedBlock block =
        ConvertCapturedBlock(reinterpret_cast<const std::uint8_t*>(h.data),
                             std::min(h.bytesRecorded, captureCapacityBytes_), capturedBits_,
                             CurrentIn().SwapFlag, toneCheckBuffer_.data(), toneCheckBuffer_.size());
    const int frames = block.valueCount / 2;
    for (int channel = 0; channel < 2; ++channel) {
        // A channel without the tone (an open input, a device that blocks it) is not judged.
        if (CheckToneContinuity(toneCheckBuffer_.data() + channel, frames, 2, playbackFreqHz_, rate).gap) {
            return true;
        }
    }
    return false;
}

bool SoundEngine::SignalPlays() const
{
    // A looped signal is what a measurement plays and waits for; a buffer played once
    // (durations of tests and tools) is taken as it comes.
    return playbackActive_ && playbackHeader_ && (playbackHeader_->flags & kWhdrBeginLoop) != 0;
}

void SoundEngine::RecordAgain()
{
    // Closed as at a shutdown: a reset that fails does not keep the device marked as
    // recording once it is closed, so the block is recorded again all the same.
    CloseCaptureForShutdown();
    const int code = captureOpen_ ? kEngineCloseFailed : OpenCapture(captureFrames_, captureUser_);
    if (code != 0 && captureHandler_) {
        pendingError_ = code;
        CaptureHandlerFn handler = captureHandler_;
        handler();
    }
}

void SoundEngine::CancelCapture()
{
    if (!blockInFlight_ || !Started()) {
        return;
    }
    CloseCaptureForShutdown();
    // The buffer the reset handed back is reported like a finished block; that completion
    // belongs to the cancelled block and must not reach the handler.
    ++session_;
    captureSeconds_ = 0.0;
}

double SoundEngine::CaptureSeconds() const
{
    return blockInFlight_ ? captureSeconds_ : 0.0;
}

double SoundEngine::CaptureSecondsRecorded() const
{
    if (!blockInFlight_) {
        return 0.0;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - captureStartedAt_;
    return std::min(elapsed.count(), captureSeconds_);
}

const float* SoundEngine::TakeCapturedBlock(int& valueCount, int& overloadCount, std::uint32_t& userValue)
{
    engineError_ = 0;
    valueCount = 0;
    overloadCount = 0;
    userValue = 0;
    if (!Started()) {
        engineError_ = 3;
        return nullptr;
    }
    if (pendingError_ != 0 || lostInRow_ > kMaxLostBlocksInRow) {
        // The block was recorded again and that failed, or every try lost frames.
        const int code = pendingError_ != 0 ? pendingError_ : kEngineFramesLost;
        pendingError_ = 0;
        lostInRow_ = 0;
        CloseCaptureForShutdown();
        engineError_ = captureOpen_ ? kEngineCloseFailed : code;
        blockValueCount_ = 0;
        overloadCount_ = 0;
        return nullptr;
    }
    blockInFlight_ = false;
    WaveHeader& h = *captureHeader_;
    userValue = static_cast<std::uint32_t>(h.user);  // the layer never writes it
    bool unprepared = !captureOpen_ || layer_.WaveInUnprepareHeader(inHandle_, &h) == kMmNoError;

    if (captureStarted_) {
        captureStarted_ = layer_.WaveInReset(inHandle_) != kMmNoError;
    }
    if (captureOpen_) {
        if (!unprepared) {
            // Taken before the block was done: the reset has returned the buffer now, and
            // the header must not stay prepared on a device that is about to close.
            layer_.WaveInUnprepareHeader(inHandle_, &h);
        }
        if (layer_.WaveInClose(inHandle_) != kMmNoError) {
            engineError_ = kEngineCloseFailed;
            blockValueCount_ = 0;
            overloadCount_ = 0;
            return nullptr;
        }
        captureOpen_ = false;
    }

    // Read after the reset: a block taken early is then no longer being written.
    const std::uint32_t bytesRecorded = std::min(h.bytesRecorded, captureCapacityBytes_);
    // The depth the block was recorded with, even if the setting changed meanwhile.
    const ConvertedBlock block =
        ConvertCapturedBlock(reinterpret_cast<const std::uint8_t*>(captureBuffer_.get()),
                             bytesRecorded, capturedBits_, CurrentIn().SwapFlag,
                             sampleBuffer_.get(), sampleCapacity_);
    blockValueCount_ = block.valueCount;
    overloadCount_ = block.overloadCount;
    valueCount = block.valueCount;
    overloadCount = block.overloadCount;
    return sampleBuffer_.get();
}

void SoundEngine::OnWaveInData(const void* header, std::uint64_t session)
{
    // A completion of a header this engine no longer owns (freed by a shutdown) must not
    // end the cycle of a newer one, even when the new header sits at the same address.
    if (!Started() || session != session_) {
        return;
    }
    if (header != nullptr && header == playRecordInHeader_.get()) {
        if (playRecordRunning_ && playRecordHandler_) {
            CaptureHandlerFn handler = playRecordHandler_;
            handler();
        }
        return;
    }
    if (header != captureHeader_.get()) {
        return;
    }
    lastCompletedHeader_ = header;
    if (blockInFlight_ && !BlockUsable(*captureHeader_)) {
        ++recordedAgain_;
        RecordAgain();
        return;
    }
    if (captureHandler_) {
        // A copy: the handler may start the next capture and so replace the stored one.
        CaptureHandlerFn handler = captureHandler_;
        handler();
    }
}

void SoundEngine::GetSampleRates(int& in, int& out) const
{
    in = static_cast<int>(CurrentIn().Format.SamplesPerSec);
    out = static_cast<int>(CurrentOut().Format.SamplesPerSec);
}

void SoundEngine::SetSampleRates(int in, int out)
{
    if (in > 0) {
        CurrentIn().Format.SamplesPerSec = static_cast<std::uint32_t>(in);
    }
    if (out > 0) {
        CurrentOut().Format.SamplesPerSec = static_cast<std::uint32_t>(out);
    }
}

void SoundEngine::GetFormatBits(int& in, int& out) const
{
    in = CurrentIn().Format.BitsPerSample == 32 ? 24 : CurrentIn().Format.BitsPerSample;
    out = CurrentOut().Format.BitsPerSample == 32 ? 24 : CurrentOut().Format.BitsPerSample;
}

void SoundEngine::SetFormatBits(int in, int out)
{
    auto store = [](DeviceFormat& device, int bits) {
        if (bits == 24 || bits == 32) {
            device.Format.BitsPerSample = 32;
        } else if (bits == 8 || bits == 16) {
            device.Format.BitsPerSample = static_cast<std::uint16_t>(bits);
        }
        // 0 or less leaves the value; other depths cannot be recorded and are ignored too.
    };
    store(CurrentIn(), in);
    store(CurrentOut(), out);
}

void SoundEngine::GetSwapFlags(bool& in, bool& out) const
{
    in = CurrentIn().SwapFlag != 0;
    out = CurrentOut().SwapFlag != 0;
}

void SoundEngine::SetSwapFlags(bool in, bool out)
{
    CurrentIn().SwapFlag = in ? 1 : 0;
    CurrentOut().SwapFlag = out ? 1 : 0;
}

void SoundEngine::GetUserRates(int& in, int& out) const
{
    in = CurrentIn().UserRate;
    out = CurrentOut().UserRate;
}

void SoundEngine::SetUserRates(int in, int out)
{
    if (in > 0) {
        CurrentIn().UserRate = in;
    }
    if (out > 0) {
        CurrentOut().UserRate = out;
    }
}

// ---- Playback ------------------------------------------------------------------------

int SoundEngine::StartPlayback(int freqHz, int durationMs, const GeneratorParams& params)
{
    engineError_ = 0;
    if (playbackActive_ || playbackOpen_) {
        return 0;
    }
    if (!Started()) {
        engineError_ = 3;
        return 3;
    }
    const bool periodic = params.waveform == kWaveSine || params.waveform == kWaveSquare;
    const bool noise = params.waveform == kWaveWhiteNoise || params.waveform == kWavePinkNoise;
    // Reject what cannot be synthesised instead of playing a wrong or endless search.
    if ((!periodic && !noise) || (periodic && (freqHz <= 0 || freqHz > kMaxToneHz)) || durationMs < -1) {
        engineError_ = static_cast<int>(kMmInvalidParam);
        return engineError_;
    }
    // Measurements count from the tone's arrival; a device in use is measured later.
    MeasureRoundTrip();

    if (const int code = OpenPlayback(); code != 0) {
        return code;
    }
    playbackParams_ = params;
    playbackFreqHz_ = freqHz;
    const WaveFormat& format = CurrentOut().Format;

    const LoopLength length = ComputeLoopLength(params.waveform, freqHz, format.SamplesPerSec,
                                                BytesPerValue(format.BitsPerSample), durationMs);
    loopResidue_ = length.residue;
    playbackLength_ = length.bytes;
    GeneratorParams synth = playbackParams_;
    synth.frequencyHz = freqHz;
    generator_.FillGeneratorBuffer(playbackBuffer_.get(), length.bytes, format.BitsPerSample,
                                   static_cast<int>(format.SamplesPerSec), synth);

    return WritePlayback(playbackBuffer_.get(), length.bytes, durationMs == -1);
}

int SoundEngine::OpenPlayback()
{
    DeviceFormat& device = CurrentOut();
    RefreshFormat(device);
    const WaveFormat& format = device.Format;
    const auto deviceId = static_cast<unsigned>(outDeviceIndex_);
    MmResult r = layer_.WaveOutOpen(nullptr, deviceId, format, nullptr, kWaveOpenQuery);
    if (r != kMmNoError) {
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    // Output completions reach the hidden receiver's queue in the original design and
    // are ignored there; here they are simply not passed on.
    WavePost post = [](WaveMessage, WaveHeader*) {};
    r = layer_.WaveOutOpen(&outHandle_, deviceId, format, std::move(post), 0);
    if (r != kMmNoError) {
        ReportDeviceError("waveOutOpen Error ", r, false);
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    playbackOpen_ = true;
    return 0;
}

int SoundEngine::WritePlayback(char* data, std::uint32_t bytes, bool looped)
{
    WaveHeader& h = *playbackHeader_;
    h = WaveHeader{};
    h.data = data;
    h.bufferLength = bytes;
    if (looped) {
        h.flags = kWhdrBeginLoop | kWhdrEndLoop;
        h.loops = 1000000;
    } else {
        h.flags = 0;  // a finite duration plays once
        h.loops = 1;
    }

    MmResult r = layer_.WaveOutPrepareHeader(outHandle_, &h);
    if (r != kMmNoError) {
        ReportDeviceError("waveOutPrepHeader Error ", r, false);
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    r = layer_.WaveOutWrite(outHandle_, &h);
    if (r != kMmNoError) {
        ReportDeviceError("waveOutWrite Error ", r, false);
        engineError_ = static_cast<int>(r);
        return engineError_;
    }
    playbackActive_ = true;
    engineError_ = 0;
    return 0;
}

void SoundEngine::StopPlayback()
{
    if (playbackActive_) {
        playbackActive_ = layer_.WaveOutReset(outHandle_) != kMmNoError;
    }
    if (playbackHeader_ && playbackOpen_) {
        layer_.WaveOutUnprepareHeader(outHandle_, playbackHeader_.get());
    }
    if (playbackOpen_) {
        playbackOpen_ = layer_.WaveOutClose(outHandle_) != kMmNoError;
    }
}

// ---- Start, shutdown, settings, volumes -----------------------------------------------

int SoundEngine::InitSoundEngine()
{
    engineError_ = 0;

    // The lines' volumes are not read here: a line is read right before the engine first
    // writes it, so that what goes back is what the user had then.
    const std::array<AuxLine, kAuxLineCount> before = auxLines_;
    auxCount_ = layer_.AuxGetNumDevs();
    auxLines_.fill(AuxLine{});
    const unsigned lines = std::min(auxCount_, static_cast<unsigned>(kAuxLineCount));
    for (unsigned d = 0; d < lines; ++d) {
        AuxLine& line = auxLines_[d];
        if (layer_.AuxGetDevCaps(d, line.caps) != kMmNoError) {
            line = AuxLine{};
            continue;
        }
        line.name = CutText(line.caps.productName, 120);
        line.flag = 0;
        line.counted = true;
        // A start without a shutdown before it keeps what a changed line must get back.
        if (before[d].touched && before[d].name == line.name) {
            line.volume = before[d].volume;
            line.touched = true;
        }
    }

    // No line is written at start: the input lines belong to the user until a slider or
    // a run sets one. The output volume is the program's own.
    SetOutputVolume(25);

    if (!Started()) {
        int block = 0;
        auto allocate = [&](auto make) {
            const bool fail = block++ == failingAllocation_;
            return fail ? nullptr : make();
        };
        captureHeader_.reset(allocate([] { return new (std::nothrow) WaveHeader(); }));
        if (captureHeader_) {
            captureBuffer_.reset(allocate([] { return new (std::nothrow) char[kDeviceBufferBytes](); }));
            captureCapacityBytes_ = captureBuffer_ ? kDeviceBufferBytes : 0;
        }
        if (captureBuffer_) {
            playbackHeader_.reset(allocate([] { return new (std::nothrow) WaveHeader(); }));
        }
        if (playbackHeader_) {
            playbackBuffer_.reset(allocate([] { return new (std::nothrow) char[kDeviceBufferBytes](); }));
        }
        if (playbackBuffer_) {
            sampleBuffer_.reset(allocate([] { return new (std::nothrow) float[kSampleBufferValues](); }));
            sampleCapacity_ = sampleBuffer_ ? kSampleBufferValues : 0;
        }
        if (!sampleBuffer_) {
            FreeBuffers();
            engineError_ = 3;
            return 3;
        }
        ++session_;
    }

    LoadSoundSettings();
    return engineError_;
}

void SoundEngine::CloseCaptureForShutdown()
{
    blockInFlight_ = false;
    // An open device is reset even when recording never started: a buffer queued before
    // a failed start must come back, or the device cannot be closed. A device already
    // closed (its reset failed, its close did not) gets no call on its old handle.
    if (captureOpen_) {
        const bool resetOk = layer_.WaveInReset(inHandle_) == kMmNoError;
        if (captureStarted_) {
            captureStarted_ = !resetOk;
        }
    }
    if (captureOpen_) {
        // The header memory goes away with the buffers: it must not stay with the device.
        if (captureHeader_) {
            layer_.WaveInUnprepareHeader(inHandle_, captureHeader_.get());
        }
        captureOpen_ = layer_.WaveInClose(inHandle_) != kMmNoError;
    }
    if (!captureOpen_) {
        // A closed device records nothing. A reset that failed before its close left the
        // capture marked started; the reset here cannot reach the closed handle, so the
        // mark is cleared, or no block could ever be recorded again.
        captureStarted_ = false;
    }
}

void SoundEngine::FreeBuffers()
{
    captureHeader_.reset();
    captureBuffer_.reset();
    playbackHeader_.reset();
    playbackBuffer_.reset();
    sampleBuffer_.reset();
    captureCapacityBytes_ = 0;
    sampleCapacity_ = 0;
    lastCompletedHeader_ = nullptr;
}

void SoundEngine::ShutdownSoundEngine()
{
    if (!Started()) {
        return;
    }
    SaveSoundSettings();
    StopPlayback();

    for (int d = 0; d < kDeviceSlots; ++d) {
        RestoreOutputVolume(d);
    }
    RestoreLines();

    CloseCaptureForShutdown();
    StopPlayRecord();
    if (InputFormatsMask(inDeviceIndex_) != 0) {
        if (MessagePort* port = port_.load()) {
            port->DrainMessages(kShutdownDrainMessages);
        }
    }
    FreeBuffers();
    // The next start measures the round trip again: the server may have changed meanwhile.
    roundTripKey_.clear();
}

void SoundEngine::DeviceNames(std::array<std::string, 3>& in, std::array<std::string, 3>& out)
{
    for (int i = 0; i < kDeviceSlots; ++i) {
        in[static_cast<std::size_t>(i)] = DeviceName('I', i);
        out[static_cast<std::size_t>(i)] = DeviceName('O', i);
    }
}

void SoundEngine::LoadSoundSettings()
{
    if (profile_ != nullptr) {
        LoadSoundSettings(*profile_);
    }
}

void SoundEngine::SaveSoundSettings()
{
    if (profile_ != nullptr) {
        SaveSoundSettings(*profile_);
    }
}

void SoundEngine::LoadSoundSettings(const ProfileFile& file)
{
    std::array<std::string, 3> inNames, outNames;
    DeviceNames(inNames, outNames);
    std::array<std::uint32_t, 3> inRates{}, outRates{};
    for (int i = 0; i < kDeviceSlots; ++i) {
        if (!inNames[static_cast<std::size_t>(i)].empty()) {
            inRates[static_cast<std::size_t>(i)] = layer_.DeviceOwnRate(true, static_cast<unsigned>(i));
        }
        if (!outNames[static_cast<std::size_t>(i)].empty()) {
            outRates[static_cast<std::size_t>(i)] = layer_.DeviceOwnRate(false, static_cast<unsigned>(i));
        }
    }
    ReadSoundSection(file, inNames, outNames, inDeviceFormats_, outDeviceFormats_, inRates, outRates);
    for (auto* records : {&inDeviceFormats_, &outDeviceFormats_}) {
        for (DeviceFormat& device : *records) {
            RefreshFormat(device);
        }
    }
}

void SoundEngine::SaveSoundSettings(ProfileFile& file)
{
    std::array<std::string, 3> inNames, outNames;
    DeviceNames(inNames, outNames);
    WriteSoundSection(file, inDeviceFormats_, outDeviceFormats_, inNames, outNames);
}

void SoundEngine::RestoreOutputVolume(int device)
{
    if (device < 0 || device >= kDeviceSlots) {
        return;
    }
    std::optional<std::uint32_t>& found = outputFound_[static_cast<std::size_t>(device)];
    if (found) {
        layer_.WaveOutSetVolume(static_cast<unsigned>(device), *found);
        found.reset();
    }
}

void SoundEngine::SetOutputVolume(int percent)
{
    const auto device = static_cast<unsigned>(outDeviceIndex_);
    std::optional<std::uint32_t>& found = outputFound_[device];
    if (!found) {
        std::uint32_t volume = 0;
        if (layer_.WaveOutGetVolume(device, volume) == kMmNoError) {
            found = volume;
        }
    }
    layer_.WaveOutSetVolume(device, VolumeFromPercent(percent));
}

int SoundEngine::GetOutputVolume()
{
    std::uint32_t volume = 0;
    if (layer_.WaveOutGetVolume(static_cast<unsigned>(outDeviceIndex_), volume) != kMmNoError) {
        return -1;
    }
    return PercentFromVolume(volume);
}

namespace {

std::string LineRecordKey(unsigned line)
{
    return "LINE" + std::to_string(line);
}

// Longest record the reader takes: backend, volume and a name of at most 120 bytes.
constexpr std::size_t kLineRecordBuffer = 200;

}  // namespace

bool SoundEngine::TouchLine(unsigned line, const std::string& name)
{
    // Lines beyond the table cannot be put back, so they are never written.
    if (line >= static_cast<unsigned>(kAuxLineCount)) {
        return false;
    }
    AuxLine& entry = auxLines_[line];
    if (entry.touched) {
        return true;
    }
    std::uint32_t found = 0;
    if (layer_.AuxGetVolume(line, found) != kMmNoError) {
        return false;  // what the user had could not be given back
    }
    entry.volume = found;
    entry.touched = true;
    if (profile_ != nullptr) {
        // Recorded before the write, so a crash right after it still leaves the way back.
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(found));
        profile_->WriteString(kLineRecordSection, LineRecordKey(line),
                              layer_.BackendName() + " " + hex + " " + CutText(name, 120));
    }
    return true;
}

void SoundEngine::ClearLineRecords(const std::vector<unsigned>& lines)
{
    if (profile_ == nullptr || lines.empty()) {
        return;
    }
    profile_->BeginBatch();
    for (const unsigned line : lines) {
        profile_->WriteString(kLineRecordSection, LineRecordKey(line), "");
    }
    profile_->EndBatch();
}

void SoundEngine::RestoreLines()
{
    std::vector<unsigned> back;
    for (unsigned d = 0; d < auxLines_.size(); ++d) {
        AuxLine& line = auxLines_[d];
        if (!line.touched) {
            continue;  // never written: the user's value is still there
        }
        line.touched = false;
        // A line that cannot be written now keeps its record for the next start.
        if (layer_.AuxSetVolume(d, line.volume) == kMmNoError) {
            back.push_back(d);
        }
    }
    ClearLineRecords(back);
}

bool SoundEngine::LineTouched(int line) const
{
    return line >= 0 && line < kAuxLineCount && auxLines_[static_cast<std::size_t>(line)].touched;
}

std::vector<std::string> SoundEngine::RestoreLinesLeftBehind()
{
    std::vector<std::string> names;
    if (profile_ == nullptr) {
        return names;
    }
    std::vector<unsigned> cleared;
    const std::string backend = layer_.BackendName();
    for (unsigned d = 0; d < static_cast<unsigned>(kAuxLineCount); ++d) {
        const std::string record =
            profile_->GetString(kLineRecordSection, LineRecordKey(d), "", kLineRecordBuffer);
        if (record.empty()) {
            continue;
        }
        // "BACKEND HEXVOLUME NAME"; a record that is not of this form is dropped.
        const std::size_t first = record.find(' ');
        const std::size_t second = first == std::string::npos ? first : record.find(' ', first + 1);
        if (second == std::string::npos || second - first != 9 ||
            record.find_first_not_of("0123456789abcdefABCDEF", first + 1) != second) {
            cleared.push_back(d);
            continue;
        }
        if (record.compare(0, first, backend) != 0) {
            continue;  // another backend's line: left for a start on that backend
        }
        const auto volume = static_cast<std::uint32_t>(std::stoul(record.substr(first + 1, 8), nullptr, 16));
        const std::string name = record.substr(second + 1);
        const AuxLine& line = auxLines_[d];
        if (!line.counted || line.name != name || line.touched) {
            continue;  // not there now (another card): kept until it is
        }
        if (layer_.AuxSetVolume(d, volume) == kMmNoError) {
            names.push_back(name);
            cleared.push_back(d);
        }
    }
    ClearLineRecords(cleared);
    return names;
}

void SoundEngine::SetLineVolume(int percent, int line)
{
    const std::uint32_t value = VolumeFromPercent(percent);
    if (line == kAllLines) {
        const unsigned count = layer_.AuxGetNumDevs();
        for (unsigned d = 0; d < count; ++d) {
            AuxCaps caps;
            if (layer_.AuxGetDevCaps(d, caps) == kMmNoError && caps.technology != 0 && caps.technology != 8 &&
                TouchLine(d, caps.productName)) {
                layer_.AuxSetVolume(d, value);
            }
        }
        return;
    }
    if (line < 0) {
        return;
    }
    const auto d = static_cast<unsigned>(line);
    AuxCaps caps;
    if (layer_.AuxGetDevCaps(d, caps) == kMmNoError && caps.technology != 0 && TouchLine(d, caps.productName)) {
        layer_.AuxSetVolume(d, value);
    }
}

int SoundEngine::GetLineVolume(int line)
{
    std::uint32_t volume = 0;
    if (line < 0 || layer_.AuxGetVolume(static_cast<unsigned>(line), volume) != kMmNoError) {
        return -1;
    }
    return PercentFromVolume(volume);
}

void SoundEngine::ChooseInputLine(int i)
{
    const int count = static_cast<int>(layer_.AuxGetNumDevs());
    if (i >= 0 && i < count) {
        inputLine_ = i;
        return;
    }
    const int lines = std::min(count, kAuxLineCount);
    auto find = [&](bool needLine, bool needAuxIn) {
        for (int d = 0; d < lines; ++d) {
            const AuxLine& line = auxLines_[static_cast<std::size_t>(d)];
            const bool hasLine = Upper(line.name).find("LINE") != std::string::npos;
            const bool isAuxIn = line.counted && line.caps.technology == kAuxTechAuxIn;
            if ((!needLine || hasLine) && (!needAuxIn || isAuxIn)) {
                return d;
            }
        }
        return -1;
    };
    for (const auto& [needLine, needAuxIn] : {std::pair{true, true}, std::pair{true, false}, std::pair{false, true}}) {
        const int d = find(needLine, needAuxIn);
        if (d >= 0) {
            inputLine_ = d;
            return;
        }
    }
    inputLine_ = 0;
}

std::string SoundEngine::LineName(int i)
{
    if (i < 0 || i >= static_cast<int>(layer_.AuxGetNumDevs()) || i >= kAuxLineCount) {
        return {};
    }
    return auxLines_[static_cast<std::size_t>(i)].name;
}

}  // namespace sonvera
