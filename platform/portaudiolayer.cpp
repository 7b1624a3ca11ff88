#include "platform/portaudiolayer.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <vector>

#include "config/profilefile.h"
#include "platform/alsamixer.h"
#include "platform/bufferexchange.h"
#include "platform/loopbackcard.h"
#include "platform/serverrate.h"

namespace sonvera {

namespace {

using Clock = std::chrono::steady_clock;

// Loopback handles carry this bit so the layer knows where a handle belongs.
constexpr std::uint32_t kLoopbackTag = 0x80000000u;

// How long reset waits for the audio callback to hand its buffers back before it stops
// the stream by force.
constexpr auto kResetTimeout = std::chrono::milliseconds(2000);

// The least buffering asked of a stream: several periods of a sound server (PipeWire's
// default period is 1024 frames, 21 ms at 48 kHz), so a callback held up for a moment on
// a busy machine finds the server still fed.
constexpr double kMinStreamLatencySeconds = 0.2;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// ALSA plugin entries that are not devices of their own for a measuring program.
bool IsPluginOnlyName(const std::string& name)
{
    static const char* const kSkip[] = {
        "front",     "rear",    "center_lfe", "side",     "surround", "iec958",
        "spdif",     "hdmi",    "dmix",       "dsnoop",   "modem",    "phoneline",
        "lavrate",   "samplerate", "speexrate", "upmix",  "vdownmix", "jack",
        "oss",       "a52",     "usbstream",  "null"};
    for (const char* prefix : kSkip) {
        if (name.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

// The ALSA mixer that belongs to a PortAudio device name.
std::string MixerNameFor(const std::string& deviceName)
{
    const std::size_t hw = deviceName.find("(hw:");
    if (hw != std::string::npos) {
        const std::size_t comma = deviceName.find_first_of(",)", hw);
        return deviceName.substr(hw + 1, comma - hw - 1);
    }
    if (deviceName == "pulse" || deviceName == "pipewire" || deviceName == "default") {
        return deviceName;
    }
    return "default";
}

PaSampleFormat SampleFormatOf(int bits)
{
    switch (bits) {
    case 8: return paUInt8;
    case 16: return paInt16;
    case 32: return paInt32;
    default: return 0;
    }
}

MmResult FromPaError(PaError e)
{
    switch (e) {
    case paNoError: return kMmNoError;
    case paInvalidDevice: return kMmBadDeviceId;
    case paDeviceUnavailable: return kMmAllocated;
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount: return kWaveBadFormat;
    case paInsufficientMemory: return kMmNoMem;
    case paNotInitialized: return kMmNoDriver;
    default: return kMmError;
    }
}

bool SameFormat(const WaveFormat& a, const WaveFormat& b)
{
    return a.FormatTag == b.FormatTag && a.Channels == b.Channels &&
           a.SamplesPerSec == b.SamplesPerSec && a.BitsPerSample == b.BitsPerSample &&
           a.BlockAlign == b.BlockAlign;
}

bool FormatIsPcm(const WaveFormat& f)
{
    return f.FormatTag == 1 && (f.Channels == 1 || f.Channels == 2) &&
           SampleFormatOf(f.BitsPerSample) != 0 && f.SamplesPerSec >= 1000 &&
           f.SamplesPerSec <= 384000 && f.BlockAlign == f.Channels * f.BitsPerSample / 8;
}

// Runs `fn` with the process's stderr pointed at /dev/null: PortAudio's start-up probes
// every host API (JACK, OSS) and those libraries print to stderr when their servers are
// absent, which is normal and not the user's concern.
template <typename Fn>
auto WithQuietStderr(Fn fn)
{
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && devNull >= 0) {
        ::dup2(devNull, STDERR_FILENO);
    }
    auto result = fn();
    std::fflush(stderr);
    if (saved >= 0) {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    if (devNull >= 0) {
        ::close(devNull);
    }
    return result;
}

// One direction's persistent stream and the buffers passing through it.
struct Stream {
    Stream(bool isInput, CompletionSignal& signal) : input(isInput), exchange(isInput, signal) {}

    bool input;
    PaStream* pa = nullptr;
    PaDeviceIndex paDevice = paNoDevice;
    WaveFormat format;
    bool broken = false;  // stopped by force or by an error: reopen on the next open
    BufferExchange exchange;
    // Set by the output callback when its device ran dry while playing, taken by the input
    // callback: the layer's one flag of its own pair of streams.
    std::atomic<bool>* playedGap = nullptr;

    // Engine side.
    std::uint32_t handle = 0;  // 0: no open handle attached
    std::mutex postMutex;      // engine thread vs. completion thread, never the callback
    WavePost post;
    Clock::time_point detachedAt = Clock::now();

    void SetPost(WavePost p)
    {
        std::lock_guard lock(postMutex);
        post = std::move(p);
    }
};

double SteadySeconds()
{
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// A played gap (the output ran dry) reaches the input a round trip later: the input
// marks the buffer it fills while one was reported as broken too.
int InputCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                  PaStreamCallbackFlags status, void* user)
{
    auto& s = *static_cast<Stream*>(user);
    BufferExchange& x = s.exchange;
    x.ServiceReset();
    const bool lost = (status & (paInputOverflow | paInputUnderflow)) != 0 || s.playedGap->exchange(false);
    x.Capture(static_cast<const char*>(input), frames, lost, SteadySeconds());
    return paContinue;
}

int OutputCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags status, void* user)
{
    auto& s = *static_cast<Stream*>(user);
    BufferExchange& x = s.exchange;
    x.ServiceReset();
    if ((status & (paOutputUnderflow | paOutputOverflow)) != 0 && x.Playing()) {
        s.playedGap->store(true);
    }
    x.Play(static_cast<char*>(output), frames, SteadySeconds());
    return paContinue;
}

struct RealDevice {
    PaDeviceIndex index = paNoDevice;
    std::string name;
    std::string mixer;
    std::optional<std::uint32_t> formats;  // computed on the first capabilities request
    std::uint32_t gain = 0xFFFFFFFFu;      // output: the wave-out volume, packed
};

}  // namespace

struct PortAudioLayer::Impl {
    bool paStarted = false;
    std::string backendName = "portaudio";
    bool jack = false;
    std::optional<std::uint32_t> serverRate;  // asked once, when first needed
    std::vector<RealDevice> inputs;
    std::vector<RealDevice> outputs;
    std::unique_ptr<LoopbackCard> loopback;

    std::mutex apiMutex;  // engine calls vs. the idle closing; never taken by a callback
    CompletionSignal wake{0};
    Stream in{true, wake};
    Stream out{false, wake};
    std::uint32_t nextHandle = 1;
    std::atomic<bool> playedGap{false};

    std::map<std::string, std::unique_ptr<AlsaMixer>> mixers;
    std::string auxMixer;  // the mixer whose recording controls are the aux devices

    std::atomic<bool> stopping{false};
    std::thread completion;

    Impl()
    {
        in.playedGap = &playedGap;
        out.playedGap = &playedGap;
    }

    AlsaMixer* Mixer(const std::string& name)
    {
        auto& m = mixers[name];
        if (!m) {
            m = std::make_unique<AlsaMixer>(name);
        }
        return m->Valid() ? m.get() : nullptr;
    }

    std::uint32_t FormatsOf(RealDevice& d, bool input)
    {
        if (d.formats) {
            return *d.formats;
        }
        std::uint32_t mask = 0;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(d.index);
        for (std::uint32_t rate : {11025u, 22050u, 44100u, 48000u, 96000u}) {
            for (int channels : {1, 2}) {
                for (int bits : {8, 16}) {
                    PaStreamParameters p{};
                    p.device = d.index;
                    p.channelCount = channels;
                    p.sampleFormat = SampleFormatOf(bits);
                    p.suggestedLatency = info ? (input ? info->defaultHighInputLatency
                                                       : info->defaultHighOutputLatency)
                                              : 0.05;
                    const PaError e = input ? Pa_IsFormatSupported(&p, nullptr, rate)
                                            : Pa_IsFormatSupported(nullptr, &p, rate);
                    if (e == paFormatIsSupported) {
                        mask |= StandardFormatBit(rate, channels, bits);
                    }
                }
            }
        }
        d.formats = mask;
        return mask;
    }

    PaStreamParameters Parameters(PaDeviceIndex device, const WaveFormat& f, bool input) const
    {
        PaStreamParameters p{};
        p.device = device;
        p.channelCount = f.Channels;
        p.sampleFormat = SampleFormatOf(f.BitsPerSample);
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        // A measurement wants no dropouts on a busy machine more than it wants a fast
        // reaction (blocks are timed by the engine, signals counted from their arrival).
        // The device's "high" latency is not enough behind a sound server: its ALSA path
        // offers about 35 ms, less than two of the server's periods, and when the
        // callback comes late the server plays silence without telling the client.
        const double high = info ? (input ? info->defaultHighInputLatency : info->defaultHighOutputLatency) : 0.05;
        p.suggestedLatency = std::max(high, kMinStreamLatencySeconds);
        return p;
    }

    // Stops and closes a stream; the callback no longer runs afterwards.
    void CloseStream(Stream& s)
    {
        if (s.pa != nullptr) {
            Pa_AbortStream(s.pa);
            Pa_CloseStream(s.pa);
            s.pa = nullptr;
        }
        s.paDevice = paNoDevice;
        s.broken = false;
    }

    MmResult OpenStream(Stream& s, PaDeviceIndex device, const WaveFormat& f)
    {
        CloseStream(s);
        s.exchange.Restart(f.BlockAlign, f.BitsPerSample);
        const PaStreamParameters p = Parameters(device, f, s.input);
        PaStream* pa = nullptr;
        PaError e = Pa_OpenStream(&pa, s.input ? &p : nullptr, s.input ? nullptr : &p,
                                  f.SamplesPerSec, paFramesPerBufferUnspecified, paNoFlag,
                                  s.input ? &InputCallback : &OutputCallback, &s);
        if (e != paNoError) {
            return FromPaError(e);
        }
        s.format = f;
        e = Pa_StartStream(pa);
        if (e != paNoError) {
            Pa_CloseStream(pa);
            return FromPaError(e);
        }
        s.pa = pa;
        s.paDevice = device;
        return kMmNoError;
    }

    // Asks the callback to hand all buffers back and waits until they are taken for
    // posting.
    void ResetStream(Stream& s)
    {
        s.exchange.SetRecording(false);
        if (s.exchange.InFlight() == 0) {
            return;
        }
        const std::uint32_t request = s.exchange.RequestReset();
        const auto deadline = Clock::now() + kResetTimeout;
        bool acknowledged = false;
        while (Clock::now() < deadline) {
            if (s.exchange.ResetAcknowledged(request)) {
                acknowledged = true;
                break;
            }
            if (s.pa == nullptr || Pa_IsStreamActive(s.pa) != 1) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!acknowledged) {
            // The callback does not run (stream failed or stalled): stop it for good and
            // hand the buffers back from here.
            if (s.pa != nullptr) {
                Pa_AbortStream(s.pa);
            }
            s.exchange.ReturnAllStopped(request);
            s.broken = true;
        }
        while (s.exchange.InFlight() > 0 && Clock::now() < deadline + kResetTimeout) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    void Deliver(Stream& s, WaveMessage message)
    {
        while (true) {
            WavePost post;
            WaveHeader* h = nullptr;
            {
                std::lock_guard lock(s.postMutex);
                h = s.exchange.TakeFinished();
                if (h == nullptr) {
                    return;
                }
                post = s.post;  // once taken, the engine may close and reopen
            }
            if (post) {
                post(message, h);
            }
        }
    }

    void CompletionLoop()
    {
        while (!stopping.load()) {
            wake.try_acquire_for(std::chrono::milliseconds(250));
            Deliver(in, WaveMessage::InData);
            Deliver(out, WaveMessage::OutDone);
            // Close streams nobody has used for a while.
            std::unique_lock lock(apiMutex, std::try_to_lock);
            if (lock.owns_lock()) {
                const auto idle = std::chrono::duration<double>(kIdleCloseSeconds);
                for (Stream* s : {&in, &out}) {
                    if (s->pa != nullptr && s->handle == 0 && s->exchange.InFlight() == 0 &&
                        Clock::now() - s->detachedAt > idle) {
                        CloseStream(*s);
                    }
                }
            }
        }
    }
};

unsigned LoopbackSlot(unsigned realCount)
{
    constexpr unsigned kLastSelectableSlot = 2;
    return std::min(realCount, kLastSelectableSlot);
}

int RealDeviceOfSlot(unsigned deviceId, unsigned realCount)
{
    const unsigned slot = LoopbackSlot(realCount);
    if (deviceId == slot) {
        return -1;
    }
    if (deviceId > realCount) {
        return -2;
    }
    return static_cast<int>(deviceId < slot ? deviceId : deviceId - 1);
}

PortAudioLayer::PortAudioLayer() : impl_(std::make_unique<Impl>()) {}

std::unique_ptr<PortAudioLayer> PortAudioLayer::Create(const DutConfig& dut, std::string& error, bool jack)
{
    std::unique_ptr<PortAudioLayer> layer(new PortAudioLayer());
    Impl& d = *layer->impl_;
    snd_lib_error_set_handler(&QuietAlsa);
    const PaError e = WithQuietStderr([] { return Pa_Initialize(); });
    if (e != paNoError) {
        error = std::string("PortAudio could not start: ") + Pa_GetErrorText(e);
        return nullptr;
    }
    d.paStarted = true;
    const PaHostApiIndex api = jack ? Pa_HostApiTypeIdToHostApiIndex(paJACK) : Pa_GetDefaultHostApi();
    const PaHostApiInfo* apiInfo = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    if (apiInfo == nullptr) {
        error = jack ? "PortAudio finds no JACK server (is one running? Under PipeWire, pipewire-jack serves "
                       "it: start the program through pw-jack)"
                     : "PortAudio has no host API";
        return nullptr;
    }
    d.backendName = jack ? "jack" : "portaudio";
    d.jack = jack;
    const PaDeviceIndex defaultIn = apiInfo->defaultInputDevice;
    const PaDeviceIndex defaultOut = apiInfo->defaultOutputDevice;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    auto collect = [&](bool input, PaDeviceIndex defaultDevice, std::vector<RealDevice>& list) {
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info == nullptr || info->hostApi != api ||
                (input ? info->maxInputChannels : info->maxOutputChannels) < 1) {
                continue;
            }
            const std::string name = info->name ? info->name : "";
            if (i != defaultDevice && !jack && IsPluginOnlyName(name)) {
                continue;
            }
            RealDevice dev{i, name, MixerNameFor(name), std::nullopt};
            if (i == defaultDevice) {
                list.insert(list.begin(), dev);
            } else {
                list.push_back(dev);
            }
        }
    };
    collect(true, defaultIn, d.inputs);
    collect(false, defaultOut, d.outputs);
    d.auxMixer = d.inputs.empty() ? std::string() : d.inputs.front().mixer;
    d.loopback = std::make_unique<LoopbackCard>(dut, LoopbackClock::RealTime);
    d.completion = std::thread([&d] { d.CompletionLoop(); });
    return layer;
}

PortAudioLayer::~PortAudioLayer()
{
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.apiMutex);
        d.CloseStream(d.in);
        d.CloseStream(d.out);
    }
    d.stopping = true;
    d.wake.release();
    if (d.completion.joinable()) {
        d.completion.join();
    }
    d.mixers.clear();
    if (d.paStarted) {
        Pa_Terminate();
    }
}

std::string PortAudioLayer::BackendName() const
{
    return impl_->backendName;
}

unsigned PortAudioLayer::RealInputCount() const
{
    return static_cast<unsigned>(impl_->inputs.size());
}

unsigned PortAudioLayer::RealOutputCount() const
{
    return static_cast<unsigned>(impl_->outputs.size());
}

unsigned PortAudioLayer::OpenStreamCount() const
{
    std::lock_guard lock(impl_->apiMutex);
    return (impl_->in.pa != nullptr ? 1u : 0u) + (impl_->out.pa != nullptr ? 1u : 0u);
}

unsigned PortAudioLayer::WaveInGetNumDevs()
{
    return RealInputCount() + 1;
}

unsigned PortAudioLayer::WaveOutGetNumDevs()
{
    return RealOutputCount() + 1;
}

unsigned PortAudioLayer::MidiOutGetNumDevs()
{
    return 0;
}

unsigned PortAudioLayer::AuxGetNumDevs()
{
    std::lock_guard lock(impl_->apiMutex);
    if (impl_->auxMixer.empty()) {
        return 0;
    }
    AlsaMixer* m = impl_->Mixer(impl_->auxMixer);
    return m ? static_cast<unsigned>(m->CaptureLines().size()) : 0;
}

MmResult PortAudioLayer::WaveInGetDevCaps(unsigned deviceId, WaveInCaps& caps)
{
    Impl& d = *impl_;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(d.inputs.size()));
    if (real == -1) {
        return d.loopback->WaveInGetDevCaps(0, caps);
    }
    if (real < 0) {
        return kMmBadDeviceId;
    }
    std::lock_guard lock(d.apiMutex);
    RealDevice& dev = d.inputs[static_cast<std::size_t>(real)];
    caps = WaveInCaps{};
    caps.productName = CutUtf8(dev.name, kMaxProductName);
    caps.formats = d.FormatsOf(dev, true);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(dev.index);
    caps.channels = static_cast<std::uint16_t>(info ? std::min(info->maxInputChannels, 2) : 2);
    return kMmNoError;
}

MmResult PortAudioLayer::WaveOutGetDevCaps(unsigned deviceId, WaveOutCaps& caps)
{
    Impl& d = *impl_;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(d.outputs.size()));
    if (real == -1) {
        return d.loopback->WaveOutGetDevCaps(0, caps);
    }
    if (real < 0) {
        return kMmBadDeviceId;
    }
    std::lock_guard lock(d.apiMutex);
    RealDevice& dev = d.outputs[static_cast<std::size_t>(real)];
    caps = WaveOutCaps{};
    caps.productName = CutUtf8(dev.name, kMaxProductName);
    caps.formats = d.FormatsOf(dev, false);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(dev.index);
    caps.channels = static_cast<std::uint16_t>(info ? std::min(info->maxOutputChannels, 2) : 2);
    caps.support = kWaveCapsVolume | kWaveCapsLrVolume;  // the program's own gain
    return kMmNoError;
}

MmResult PortAudioLayer::AuxGetDevCaps(unsigned deviceId, AuxCaps& caps)
{
    std::lock_guard lock(impl_->apiMutex);
    AlsaMixer* m = impl_->auxMixer.empty() ? nullptr : impl_->Mixer(impl_->auxMixer);
    if (m == nullptr) {
        return kMmBadDeviceId;
    }
    const auto lines = m->CaptureLines();
    if (deviceId >= lines.size()) {
        return kMmBadDeviceId;
    }
    caps = AuxCaps{};
    caps.productName = CutUtf8(lines[deviceId], kMaxProductName);
    caps.technology = lines[deviceId].find("CD") != std::string::npos ? kAuxTechCdAudio
                                                                        : kAuxTechAuxIn;
    caps.support = kAuxCapsVolume | kAuxCapsLrVolume;
    return kMmNoError;
}

// --- wave input --------------------------------------------------------------------

namespace {

bool IsLoopback(std::uint32_t handle)
{
    return (handle & kLoopbackTag) != 0;
}

}  // namespace

MmResult PortAudioLayer::WaveInOpen(WaveInHandle* handle, unsigned deviceId,
                                    const WaveFormat& format, WavePost post, std::uint32_t flags)
{
    Impl& d = *impl_;
    const bool query = (flags & kWaveOpenQuery) != 0;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(d.inputs.size()));
    if (real == -1) {
        WaveInHandle inner{};
        const MmResult r = d.loopback->WaveInOpen(query || handle == nullptr ? nullptr : &inner, 0, format,
                                                  std::move(post), flags);
        if (r == kMmNoError && !query && handle != nullptr) {
            *handle = static_cast<WaveInHandle>(static_cast<std::uint32_t>(inner) | kLoopbackTag);
        }
        return r;
    }
    if (real < 0) {
        return kMmBadDeviceId;
    }
    if (!FormatIsPcm(format)) {
        return kWaveBadFormat;
    }
    std::lock_guard lock(d.apiMutex);
    Stream& s = d.in;
    const PaDeviceIndex device = d.inputs[static_cast<std::size_t>(real)].index;
    const bool running = s.pa != nullptr && !s.broken && s.paDevice == device &&
                         SameFormat(s.format, format);
    if (query) {
        if (running) {
            return kMmNoError;
        }
        if (s.pa != nullptr && s.handle == 0) {
            d.CloseStream(s);  // an idle stream may hold the device
        }
        const PaStreamParameters p = d.Parameters(device, format, true);
        return Pa_IsFormatSupported(&p, nullptr, format.SamplesPerSec) == paFormatIsSupported
                   ? kMmNoError
                   : kWaveBadFormat;
    }
    if (handle == nullptr) {
        return kMmInvalidParam;
    }
    if (s.handle != 0) {
        return kMmAllocated;
    }
    if (!running) {
        if (const MmResult r = d.OpenStream(s, device, format)) {
            return r;
        }
    }
    s.handle = d.nextHandle++ & ~kLoopbackTag;
    s.SetPost(std::move(post));
    s.exchange.SetRecording(false);
    *handle = static_cast<WaveInHandle>(s.handle);
    return kMmNoError;
}

MmResult PortAudioLayer::WaveInPrepareHeader(WaveInHandle handle, WaveHeader* header)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveInPrepareHeader(static_cast<WaveInHandle>(h & ~kLoopbackTag),
                                                    header);
    }
    std::lock_guard lock(impl_->apiMutex);
    if (h == 0 || h != impl_->in.handle) {
        return kMmInvalidHandle;
    }
    if (header == nullptr || header->data == nullptr || header->bufferLength == 0) {
        return kMmInvalidParam;
    }
    header->flags |= kWhdrPrepared;
    return kMmNoError;
}

MmResult PortAudioLayer::WaveInAddBuffer(WaveInHandle handle, WaveHeader* header)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveInAddBuffer(static_cast<WaveInHandle>(h & ~kLoopbackTag), header);
    }
    std::lock_guard lock(impl_->apiMutex);
    Stream& s = impl_->in;
    if (h == 0 || h != s.handle) {
        return kMmInvalidHandle;
    }
    if (header == nullptr || header->data == nullptr || header->bufferLength < s.format.BlockAlign) {
        return kMmInvalidParam;
    }
    if ((header->flags & kWhdrPrepared) == 0) {
        return kWaveUnprepared;
    }
    if ((header->flags & kWhdrInQueue) != 0) {
        return kWaveStillPlaying;
    }
    return s.exchange.Queue(header) ? kMmNoError : kMmNoMem;
}

MmResult PortAudioLayer::WaveInStart(WaveInHandle handle)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveInStart(static_cast<WaveInHandle>(h & ~kLoopbackTag));
    }
    std::lock_guard lock(impl_->apiMutex);
    Stream& s = impl_->in;
    if (h == 0 || h != s.handle) {
        return kMmInvalidHandle;
    }
    if (s.pa == nullptr || s.broken || Pa_IsStreamActive(s.pa) != 1) {
        return kMmError;  // the stream stopped; closing and opening again starts a new one
    }
    s.exchange.SetRecording(true);
    return kMmNoError;
}

MmResult PortAudioLayer::WaveInReset(WaveInHandle handle)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveInReset(static_cast<WaveInHandle>(h & ~kLoopbackTag));
    }
    std::lock_guard lock(impl_->apiMutex);
    if (h == 0 || h != impl_->in.handle) {
        return kMmInvalidHandle;
    }
    impl_->ResetStream(impl_->in);
    return kMmNoError;
}

MmResult PortAudioLayer::WaveInUnprepareHeader(WaveInHandle handle, WaveHeader* header)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveInUnprepareHeader(static_cast<WaveInHandle>(h & ~kLoopbackTag),
                                                      header);
    }
    std::lock_guard lock(impl_->apiMutex);
    if (h == 0 || h != impl_->in.handle) {
        return kMmInvalidHandle;
    }
    if (header == nullptr) {
        return kMmInvalidParam;
    }
    if ((header->flags & kWhdrInQueue) != 0) {
        return kWaveStillPlaying;
    }
    header->flags &= ~kWhdrPrepared;
    return kMmNoError;
}

MmResult PortAudioLayer::WaveInClose(WaveInHandle handle)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveInClose(static_cast<WaveInHandle>(h & ~kLoopbackTag));
    }
    std::lock_guard lock(impl_->apiMutex);
    Stream& s = impl_->in;
    if (h == 0 || h != s.handle) {
        return kMmInvalidHandle;
    }
    if (s.exchange.InFlight() > 0) {
        return kWaveStillPlaying;
    }
    s.exchange.SetRecording(false);
    s.handle = 0;
    s.SetPost(nullptr);
    s.detachedAt = Clock::now();
    if (s.broken) {
        impl_->CloseStream(s);
    }
    return kMmNoError;
}

// --- wave output -------------------------------------------------------------------

MmResult PortAudioLayer::WaveOutOpen(WaveOutHandle* handle, unsigned deviceId,
                                     const WaveFormat& format, WavePost post, std::uint32_t flags)
{
    Impl& d = *impl_;
    const bool query = (flags & kWaveOpenQuery) != 0;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(d.outputs.size()));
    if (real == -1) {
        WaveOutHandle inner{};
        const MmResult r = d.loopback->WaveOutOpen(query || handle == nullptr ? nullptr : &inner, 0, format,
                                                   std::move(post), flags);
        if (r == kMmNoError && !query && handle != nullptr) {
            *handle = static_cast<WaveOutHandle>(static_cast<std::uint32_t>(inner) | kLoopbackTag);
        }
        return r;
    }
    if (real < 0) {
        return kMmBadDeviceId;
    }
    if (!FormatIsPcm(format)) {
        return kWaveBadFormat;
    }
    std::lock_guard lock(d.apiMutex);
    Stream& s = d.out;
    const PaDeviceIndex device = d.outputs[static_cast<std::size_t>(real)].index;
    const bool running = s.pa != nullptr && !s.broken && s.paDevice == device &&
                         SameFormat(s.format, format);
    if (query) {
        if (running) {
            return kMmNoError;
        }
        if (s.pa != nullptr && s.handle == 0) {
            d.CloseStream(s);
        }
        const PaStreamParameters p = d.Parameters(device, format, false);
        return Pa_IsFormatSupported(nullptr, &p, format.SamplesPerSec) == paFormatIsSupported
                   ? kMmNoError
                   : kWaveBadFormat;
    }
    if (handle == nullptr) {
        return kMmInvalidParam;
    }
    if (s.handle != 0) {
        return kMmAllocated;
    }
    if (!running) {
        if (const MmResult r = d.OpenStream(s, device, format)) {
            return r;
        }
    }
    s.exchange.SetGain(d.outputs[static_cast<std::size_t>(real)].gain);
    s.handle = d.nextHandle++ & ~kLoopbackTag;
    s.SetPost(std::move(post));
    *handle = static_cast<WaveOutHandle>(s.handle);
    return kMmNoError;
}

MmResult PortAudioLayer::WaveOutPrepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveOutPrepareHeader(static_cast<WaveOutHandle>(h & ~kLoopbackTag),
                                                     header);
    }
    std::lock_guard lock(impl_->apiMutex);
    if (h == 0 || h != impl_->out.handle) {
        return kMmInvalidHandle;
    }
    if (header == nullptr || header->data == nullptr || header->bufferLength == 0) {
        return kMmInvalidParam;
    }
    header->flags |= kWhdrPrepared;
    return kMmNoError;
}

MmResult PortAudioLayer::WaveOutWrite(WaveOutHandle handle, WaveHeader* header)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveOutWrite(static_cast<WaveOutHandle>(h & ~kLoopbackTag), header);
    }
    std::lock_guard lock(impl_->apiMutex);
    Stream& s = impl_->out;
    if (h == 0 || h != s.handle) {
        return kMmInvalidHandle;
    }
    if (header == nullptr || header->data == nullptr || header->bufferLength < s.format.BlockAlign) {
        return kMmInvalidParam;
    }
    if ((header->flags & kWhdrPrepared) == 0) {
        return kWaveUnprepared;
    }
    if ((header->flags & kWhdrInQueue) != 0) {
        return kWaveStillPlaying;
    }
    if (s.pa == nullptr || s.broken || Pa_IsStreamActive(s.pa) != 1) {
        return kMmError;
    }
    return s.exchange.Queue(header) ? kMmNoError : kMmNoMem;
}

MmResult PortAudioLayer::WaveOutReset(WaveOutHandle handle)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveOutReset(static_cast<WaveOutHandle>(h & ~kLoopbackTag));
    }
    std::lock_guard lock(impl_->apiMutex);
    if (h == 0 || h != impl_->out.handle) {
        return kMmInvalidHandle;
    }
    impl_->ResetStream(impl_->out);
    return kMmNoError;
}

MmResult PortAudioLayer::WaveOutUnprepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveOutUnprepareHeader(
            static_cast<WaveOutHandle>(h & ~kLoopbackTag), header);
    }
    std::lock_guard lock(impl_->apiMutex);
    if (h == 0 || h != impl_->out.handle) {
        return kMmInvalidHandle;
    }
    if (header == nullptr) {
        return kMmInvalidParam;
    }
    if ((header->flags & kWhdrInQueue) != 0) {
        return kWaveStillPlaying;
    }
    header->flags &= ~kWhdrPrepared;
    return kMmNoError;
}

MmResult PortAudioLayer::WaveOutClose(WaveOutHandle handle)
{
    const auto h = static_cast<std::uint32_t>(handle);
    if (IsLoopback(h)) {
        return impl_->loopback->WaveOutClose(static_cast<WaveOutHandle>(h & ~kLoopbackTag));
    }
    std::lock_guard lock(impl_->apiMutex);
    Stream& s = impl_->out;
    if (h == 0 || h != s.handle) {
        return kMmInvalidHandle;
    }
    if (s.exchange.InFlight() > 0) {
        return kWaveStillPlaying;
    }
    s.handle = 0;
    s.SetPost(nullptr);
    s.detachedAt = Clock::now();
    if (s.broken) {
        impl_->CloseStream(s);
    }
    return kMmNoError;
}

std::uint32_t PortAudioLayer::WaveKnownDelay(unsigned inDeviceId, unsigned outDeviceId)
{
    Impl& d = *impl_;
    const bool virtualPair = RealDeviceOfSlot(inDeviceId, static_cast<unsigned>(d.inputs.size())) == -1 &&
                             RealDeviceOfSlot(outDeviceId, static_cast<unsigned>(d.outputs.size())) == -1;
    return virtualPair ? d.loopback->WaveKnownDelay(0, 0) : 0;
}

MmResult PortAudioLayer::WavePlayRecord(WaveOutHandle out, WaveHeader* outHeader, WaveInHandle in)
{
    const auto ho = static_cast<std::uint32_t>(out);
    const auto hi = static_cast<std::uint32_t>(in);
    if (IsLoopback(ho) && IsLoopback(hi)) {
        return impl_->loopback->WavePlayRecord(static_cast<WaveOutHandle>(ho & ~kLoopbackTag), outHeader,
                                               static_cast<WaveInHandle>(hi & ~kLoopbackTag));
    }
    if (IsLoopback(ho) || IsLoopback(hi)) {
        return WaveLayer::WavePlayRecord(out, outHeader, in);  // two cards: no common clock
    }
    std::lock_guard lock(impl_->apiMutex);
    Stream& si = impl_->in;
    Stream& so = impl_->out;
    if (hi == 0 || hi != si.handle || ho == 0 || ho != so.handle) {
        return kMmInvalidHandle;
    }
    if (outHeader == nullptr || outHeader->data == nullptr || outHeader->bufferLength < so.format.BlockAlign) {
        return kMmInvalidParam;
    }
    if ((outHeader->flags & kWhdrPrepared) == 0) {
        return kWaveUnprepared;
    }
    if ((outHeader->flags & kWhdrInQueue) != 0) {
        return kWaveStillPlaying;
    }
    for (Stream* s : {&si, &so}) {
        if (s->pa == nullptr || s->broken || Pa_IsStreamActive(s->pa) != 1) {
            return kMmError;  // a stream stopped; closing and opening again starts a new one
        }
    }
    si.exchange.SetRecording(true);
    return so.exchange.Queue(outHeader) ? kMmNoError : kMmNoMem;
}

std::uint32_t PortAudioLayer::DeviceOwnRate(bool input, unsigned deviceId)
{
    Impl& d = *impl_;
    std::vector<RealDevice>& list = input ? d.inputs : d.outputs;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(list.size()));
    if (real < 0) {
        return 0;
    }
    const RealDevice& dev = list[static_cast<std::size_t>(real)];
    if (d.jack) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(dev.index);
        return info != nullptr && info->defaultSampleRate >= 1000.0
                   ? static_cast<std::uint32_t>(std::lround(info->defaultSampleRate))
                   : 0;
    }
    if (dev.name != "default" && dev.name != "pulse" && dev.name != "pipewire") {
        return 0;
    }
    if (!d.serverRate) {
        d.serverRate = SoundServerRate();
    }
    return *d.serverRate;
}

double PortAudioLayer::KnownRoundTripSeconds(unsigned in, unsigned out)
{
    Impl& d = *impl_;
    if (RealDeviceOfSlot(in, static_cast<unsigned>(d.inputs.size())) == -1 &&
        RealDeviceOfSlot(out, static_cast<unsigned>(d.outputs.size())) == -1) {
        return d.loopback->KnownRoundTripSeconds(0, 0);
    }
    return -1.0;
}

// --- volumes -----------------------------------------------------------------------

// The wave-out volume is the program's own: a gain on what it plays, per device and for
// this session only. The desktop's mixer ("Master", "PCM") belongs to the user and is
// never written.
MmResult PortAudioLayer::WaveOutGetVolume(unsigned deviceId, std::uint32_t& volume)
{
    Impl& d = *impl_;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(d.outputs.size()));
    if (real == -1) {
        return d.loopback->WaveOutGetVolume(0, volume);
    }
    if (real < 0) {
        return kMmBadDeviceId;
    }
    std::lock_guard lock(d.apiMutex);
    volume = d.outputs[static_cast<std::size_t>(real)].gain;
    return kMmNoError;
}

MmResult PortAudioLayer::WaveOutSetVolume(unsigned deviceId, std::uint32_t volume)
{
    Impl& d = *impl_;
    const int real = RealDeviceOfSlot(deviceId, static_cast<unsigned>(d.outputs.size()));
    if (real == -1) {
        return d.loopback->WaveOutSetVolume(0, volume);
    }
    if (real < 0) {
        return kMmBadDeviceId;
    }
    std::lock_guard lock(d.apiMutex);
    RealDevice& dev = d.outputs[static_cast<std::size_t>(real)];
    dev.gain = volume;
    if (d.out.pa != nullptr && d.out.paDevice == dev.index) {
        d.out.exchange.SetGain(volume);
    }
    return kMmNoError;
}

MmResult PortAudioLayer::AuxGetVolume(unsigned deviceId, std::uint32_t& volume)
{
    std::lock_guard lock(impl_->apiMutex);
    AlsaMixer* m = impl_->auxMixer.empty() ? nullptr : impl_->Mixer(impl_->auxMixer);
    if (m == nullptr || deviceId >= m->CaptureLines().size()) {
        return kMmBadDeviceId;
    }
    return m->GetCaptureVolume(deviceId, volume) ? kMmNoError : kMmError;
}

MmResult PortAudioLayer::AuxSetVolume(unsigned deviceId, std::uint32_t volume)
{
    std::lock_guard lock(impl_->apiMutex);
    AlsaMixer* m = impl_->auxMixer.empty() ? nullptr : impl_->Mixer(impl_->auxMixer);
    if (m == nullptr || deviceId >= m->CaptureLines().size()) {
        return kMmBadDeviceId;
    }
    return m->SetCaptureVolume(deviceId, volume) ? kMmNoError : kMmError;
}

// --- choosing the backend ------------------------------------------------------------

std::unique_ptr<WaveLayer> CreateWaveLayer(AudioBackend backend, const DutConfig& dut,
                                           std::string& error)
{
    error.clear();
    if (backend == AudioBackend::Virtual) {
        return std::make_unique<LoopbackCard>(dut, LoopbackClock::RealTime);
    }
    std::string paError;
    auto layer = PortAudioLayer::Create(dut, paError, backend == AudioBackend::Jack);
    if (backend == AudioBackend::PortAudio || backend == AudioBackend::Jack) {
        if (!layer) {
            error = paError;
        }
        return layer;
    }
    if (layer && (layer->RealInputCount() > 0 || layer->RealOutputCount() > 0)) {
        return layer;
    }
    return std::make_unique<LoopbackCard>(dut, LoopbackClock::RealTime);
}

}  // namespace sonvera
