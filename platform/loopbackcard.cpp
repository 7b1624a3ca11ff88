#include "platform/loopbackcard.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <numbers>
#include <thread>
#include <utility>
#include <vector>

#include <sys/timerfd.h>
#include <unistd.h>

#include "config/profilefile.h"
#include "platform/dutprocessor.h"

namespace sonvera {

namespace {

// The card's time line counts ticks of 1/705600000 s: every common sample rate (8000,
// 11025, 22050, 32000, 44100, 48000, 88200, 96000, 192000 Hz) divides it, so frame
// boundaries of equal rates fall on the same ticks and no sample is lost or doubled.
constexpr std::int64_t kTicksPerSecond = 705600000;

constexpr std::uint32_t kMinRateHz = 1000;
constexpr std::uint32_t kMaxRateHz = 200000;

// At most this many frames of a gap between two input blocks are run through the DUT to
// carry its filter state across the gap (longer gaps: the filters have settled anyway).
constexpr std::int64_t kMaxWarmUpFrames = 1 << 16;

constexpr unsigned kLineInIndex = 0;
constexpr unsigned kOwnAuxLines = 3;

// Tick of frame `frame` counted from `origin` at `rateHz`. Whole seconds and the
// remainder are scaled apart: frame * kTicksPerSecond overflows 64 bits for a looped
// buffer played a million times, while this form stays exact up to ~1.3e10 s.
std::int64_t FrameTick(std::int64_t origin, std::int64_t frame, std::uint32_t rateHz)
{
    const std::int64_t rate = rateHz;
    return origin + (frame / rate) * kTicksPerSecond + (frame % rate) * kTicksPerSecond / rate;
}

// First tick at or after `tick` that lies on the frame grid of `rateHz` (grid from 0).
std::int64_t SnapUp(std::int64_t tick, std::uint32_t rateHz)
{
    const std::int64_t frames = (tick * rateHz + kTicksPerSecond - 1) / kTicksPerSecond;
    return frames * kTicksPerSecond / rateHz;
}

bool FormatIsUsable(const WaveFormat& f)
{
    if (f.FormatTag != 1 || (f.Channels != 1 && f.Channels != 2)) {
        return false;
    }
    if (f.BitsPerSample != 8 && f.BitsPerSample != 16 && f.BitsPerSample != 32) {
        return false;
    }
    if (f.SamplesPerSec < kMinRateHz || f.SamplesPerSec > kMaxRateHz) {
        return false;
    }
    return f.BlockAlign == f.Channels * f.BitsPerSample / 8;
}

// One PCM sample at `p` as a real, full scale 1.0 (exact in double for every depth).
double ReadSample(const char* p, int bits)
{
    switch (bits) {
    case 8: return (static_cast<double>(static_cast<unsigned char>(*p)) - 128.0) / 128.0;
    case 16: {
        std::int16_t v;
        std::memcpy(&v, p, sizeof v);
        return v / 32768.0;
    }
    default: {
        std::int32_t v;
        std::memcpy(&v, p, sizeof v);
        return v / 2147483648.0;
    }
    }
}

// Writes a real (full scale 1.0) as a PCM sample, rounded to nearest and clipped.
void WriteSample(char* p, int bits, double x)
{
    switch (bits) {
    case 8: {
        const double v = std::clamp(std::nearbyint(x * 128.0) + 128.0, 0.0, 255.0);
        *p = static_cast<char>(static_cast<unsigned char>(v));
        break;
    }
    case 16: {
        const auto v = static_cast<std::int16_t>(
            std::clamp(std::nearbyint(x * 32768.0), -32768.0, 32767.0));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    default: {
        const auto v = static_cast<std::int32_t>(
            std::clamp(std::nearbyint(x * 2147483648.0), -2147483648.0, 2147483647.0));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    }
}

double VolumeFactor(std::uint32_t packed, bool right)
{
    const std::uint32_t half = right ? (packed >> 16) : (packed & 0xFFFF);
    return half / 65535.0;
}

// A driver's name is cut like the platform cuts it, but never inside a UTF-8 sequence.
std::string CutName(const std::string& name)
{
    return CutUtf8(name, kMaxProductName);
}

struct Fault {
    MmResult code = 0;
    bool armed = false;
    bool always = false;
};

// One written output buffer on the time line.
struct Segment {
    WaveHeader* header = nullptr;
    std::int64_t startTick = 0;
    std::uint32_t frames = 0;      // frames in one pass of the buffer
    std::uint64_t totalFrames = 0; // frames * loops
    std::int64_t endTick = 0;
};

struct Posting {
    WavePost post;
    WaveMessage message;
    WaveHeader* header;
};

}  // namespace

struct LoopbackCard::Impl {
    DutConfig dut;
    LoopbackClock clock;
    std::uint32_t noiseSeed;

    std::mutex mutex;
    std::thread worker;
    bool stopping = false;
    // The worker sleeps on this timer (real-time clock). Whoever changes what is due sets
    // it to the next moment the worker has to act; setting it does not wake the worker,
    // so a block costs the card one wake-up, when the block is due.
    int timer = -1;

    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    std::int64_t virtualNow = 0;  // instant clock

    std::array<Fault, static_cast<std::size_t>(WaveCall::Count_)> faults{};
    std::optional<unsigned> inCount, outCount, midiCount, auxCount;
    std::map<unsigned, WaveInCaps> inCaps;
    std::map<unsigned, WaveOutCaps> outCaps;
    std::map<unsigned, AuxCaps> auxCaps;

    // Wave-out volume per device number (full until set); device 0 is the one that plays.
    std::map<unsigned, std::uint32_t> outVolumes;
    std::vector<std::uint32_t> auxVolumes = std::vector<std::uint32_t>(kOwnAuxLines, 0xFFFFFFFF);

    std::uint32_t nextHandle = 1;

    // Input device.
    bool inOpen = false;
    std::uint32_t inHandle = 0;
    WaveFormat inFormat;
    WavePost inPost;
    std::deque<WaveHeader*> inQueue;
    bool inStarted = false;
    std::int64_t inBlockStart = 0;     // tick of the first frame of the front buffer
    std::uint32_t inFilled = 0;        // frames of the front buffer recorded so far
    std::unique_ptr<DutProcessor> dutProc;
    std::int64_t dutNextTick = 0;      // tick of the next frame the DUT expects
    std::uint32_t dutRate = 0;

    // Output device.
    bool outOpen = false;
    std::uint32_t outHandle = 0;
    WaveFormat outFormat;
    WavePost outPost;
    std::deque<Segment> segments;

    std::int64_t latencyTicks = 0;  // of the cable, both channels
    int gapBlocks = 0;              // input buffers still to lose frames
    int gapFrames = 64;
    bool gapFlagged = true;         // the lost frames are reported (kWhdrGap)
    std::int64_t gapSkip = 0;       // ticks the front buffer's frames jump from its middle on

    std::atomic<unsigned> postedInData{0};
    std::atomic<unsigned> postedOutDone{0};

    std::int64_t Now() const
    {
        if (clock == LoopbackClock::Instant) {
            return virtualNow;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now() - epoch)
                            .count();
        return static_cast<std::int64_t>(ns) * 7056 / 10000;
    }

    std::chrono::steady_clock::time_point WallTime(std::int64_t tick) const
    {
        return epoch + std::chrono::nanoseconds(tick * 10000 / 7056 + 1);
    }

    // Consumes an armed fault of `call`: its code, or 0.
    MmResult Failing(WaveCall call)
    {
        Fault& f = faults[static_cast<std::size_t>(call)];
        if (!f.armed) {
            return kMmNoError;
        }
        if (!f.always) {
            f.armed = false;
        }
        return f.code;
    }

    unsigned InCount() const { return inCount.value_or(1); }
    unsigned OutCount() const { return outCount.value_or(1); }
    unsigned AuxCount() const { return auxCount.value_or(kOwnAuxLines); }

    std::uint32_t OutVolume(unsigned deviceId) const
    {
        const auto it = outVolumes.find(deviceId);
        return it == outVolumes.end() ? 0xFFFFFFFFu : it->second;
    }

    double LineInFactor(bool right) const
    {
        return AuxCount() > kLineInIndex ? VolumeFactor(auxVolumes[kLineInIndex], right) : 1.0;
    }

    // One played frame (left, right) of segment `s`; silence outside it.
    std::pair<double, double> FrameOf(const Segment& s, std::int64_t index) const
    {
        if (index < 0 || static_cast<std::uint64_t>(index) >= s.totalFrames || s.frames == 0) {
            return {0.0, 0.0};
        }
        const char* frame = s.header->data + (static_cast<std::uint64_t>(index) % s.frames) * outFormat.BlockAlign;
        const int bits = outFormat.BitsPerSample;
        const double left = ReadSample(frame, bits);
        return {left, outFormat.Channels == 2 ? ReadSample(frame + bits / 8, bits) : left};
    }

    // The output (left, right) at `tick`, volume applied; silence where nothing plays.
    // Input and output at one rate: the frame that plays then. At two rates the cable
    // converts as a sound server does: band-limited interpolation (a Blackman-windowed
    // sinc of kTaps frames, its corner below the lower rate's half), so a tone crosses
    // without the images a held sample would add.
    std::pair<double, double> OutputAt(std::int64_t tick) const
    {
        for (const Segment& s : segments) {
            if (tick < s.startTick || tick >= s.endTick) {
                continue;
            }
            const std::uint32_t rate = outFormat.SamplesPerSec;
            const std::uint32_t inRate = inFormat.SamplesPerSec;
            std::pair<double, double> v;
            if (inRate == 0 || inRate == rate) {
                v = FrameOf(s, static_cast<std::int64_t>((tick - s.startTick) * rate / kTicksPerSecond));
            } else {
                constexpr int kTaps = 32;
                const double position = static_cast<double>(tick - s.startTick) * rate / kTicksPerSecond;
                const auto first = static_cast<std::int64_t>(std::floor(position));
                const double corner = 0.9 * std::min(1.0, static_cast<double>(inRate) / rate);
                for (int k = -kTaps / 2 + 1; k <= kTaps / 2; ++k) {
                    const double x = position - static_cast<double>(first + k);
                    const double a = 2.0 * std::numbers::pi * (x + kTaps / 2.0) / kTaps;
                    const double window = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
                    const double px = std::numbers::pi * corner * x;
                    const double h = corner * window * (px == 0.0 ? 1.0 : std::sin(px) / px);
                    const auto [l, r] = FrameOf(s, first + k);
                    v.first += h * l;
                    v.second += h * r;
                }
            }
            const std::uint32_t volume = OutVolume(0);
            return {v.first * VolumeFactor(volume, false), v.second * VolumeFactor(volume, true)};
        }
        return {0.0, 0.0};
    }

    // Records the input up to now before the output or a volume changes, so that every
    // frame holds what played at its time, however late the worker records it. (The
    // instant clock records whole buffers when they are queued.)
    void CatchUpInput(std::vector<Posting>& out)
    {
        if (clock == LoopbackClock::RealTime) {
            CompleteInput(Now(), out);
        }
    }

    // The DUT's output for the input frame at `tick` (delay applied on the read side).
    double DutAt(std::int64_t tick, std::int64_t delayTicks)
    {
        return dutProc->Process(OutputAt(tick - delayTicks - latencyTicks).second);
    }

    // Records frames [first, last) of the front input buffer, whose frame 0 is at
    // inBlockStart.
    void Record(WaveHeader* h, std::uint32_t first, std::uint32_t last)
    {
        const std::uint32_t rate = inFormat.SamplesPerSec;
        if (!dutProc || dutRate != rate) {
            dutProc = std::make_unique<DutProcessor>(dut, rate, noiseSeed);
            dutRate = rate;
            // A new device has heard what played before this block too (the warm-up
            // below runs it through the gap), so a tone started earlier has settled.
            const std::int64_t firstTick = FrameTick(inBlockStart, first, rate);
            dutNextTick = std::max<std::int64_t>(0, firstTick - kMaxWarmUpFrames * kTicksPerSecond / rate);
        }
        const std::int64_t delayTicks =
            static_cast<std::int64_t>(dut.delaySamples) * kTicksPerSecond / rate;
        const std::int64_t firstTick = FrameTick(inBlockStart, first, rate);
        // Carry the DUT across the time nobody recorded.
        if (firstTick > dutNextTick) {
            std::int64_t gapFrames = (firstTick - dutNextTick) * rate / kTicksPerSecond;
            gapFrames = std::min(gapFrames, kMaxWarmUpFrames);
            for (std::int64_t k = gapFrames; k > 0; --k) {
                DutAt(firstTick - k * kTicksPerSecond / rate, delayTicks);
            }
        }
        const int bits = inFormat.BitsPerSample;
        const double lineLeft = LineInFactor(false);
        const double lineRight = LineInFactor(true);
        const double cross = dut.crosstalk ? std::pow(10.0, dut.crosstalkDb / 20.0) : 0.0;
        // At the common rates a frame is a whole number of ticks: one multiplication a
        // frame instead of FrameTick's divisions (the same ticks).
        const std::int64_t frameTicks = kTicksPerSecond % rate == 0 ? kTicksPerSecond / rate : 0;
        const std::uint32_t half = FramesOf(h) / 2;
        for (std::uint32_t i = first; i < last; ++i) {
            const std::int64_t tick = (frameTicks != 0 ? inBlockStart + i * frameTicks
                                                       : FrameTick(inBlockStart, i, rate)) +
                                      (i >= half ? gapSkip : 0);
            const double wire = OutputAt(tick - latencyTicks).first;
            const double device = DutAt(tick, delayTicks);
            const double left = (wire + cross * device) * lineLeft;
            const double right = (device + cross * wire) * lineRight;
            char* frame = h->data + static_cast<std::size_t>(i) * inFormat.BlockAlign;
            if (inFormat.Channels == 2) {
                WriteSample(frame, bits, left);
                WriteSample(frame + bits / 8, bits, right);
            } else {
                WriteSample(frame, bits, 0.5 * (left + right));
            }
        }
        dutNextTick = FrameTick(inBlockStart, last, rate);
        h->bytesRecorded = last * inFormat.BlockAlign;
    }

    std::uint32_t FramesOf(const WaveHeader* h) const
    {
        return h->bufferLength / inFormat.BlockAlign;
    }

    // Records what is due by `now`: finishes every input buffer whose last frame has
    // passed, and fills the front one up to `now`, as a card's converter would.
    void CompleteInput(std::int64_t now, std::vector<Posting>& out)
    {
        while (inStarted && !inQueue.empty()) {
            WaveHeader* h = inQueue.front();
            const std::uint32_t frames = FramesOf(h);
            const std::int64_t end = FrameTick(inBlockStart, frames, inFormat.SamplesPerSec);
            if (end > now) {
                const std::int64_t elapsed = std::max<std::int64_t>(0, now - inBlockStart);
                const auto due = static_cast<std::uint32_t>(std::min<std::int64_t>(
                    elapsed * inFormat.SamplesPerSec / kTicksPerSecond, frames));
                if (due > inFilled) {
                    Record(h, inFilled, due);
                    inFilled = due;
                }
                break;
            }
            Record(h, inFilled, frames);
            inFilled = 0;
            inQueue.pop_front();
            h->flags = (h->flags & ~kWhdrInQueue) | kWhdrDone | (gapSkip != 0 && gapFlagged ? kWhdrGap : 0);
            h->startSeconds = static_cast<double>(inBlockStart) / kTicksPerSecond;
            inBlockStart = end + gapSkip;
            gapSkip = 0;
            if (!inQueue.empty()) {
                NextBlockGap();  // the next buffer goes on at once
            }
            out.push_back({inPost, WaveMessage::InData, h});
        }
    }

    // Arms the injected gap of the front input buffer, if one is due.
    void NextBlockGap()
    {
        gapSkip = 0;
        if (gapBlocks > 0 && inFormat.SamplesPerSec > 0) {
            --gapBlocks;
            gapSkip = FrameTick(0, gapFrames, inFormat.SamplesPerSec);
        }
    }

    // Whether a played segment is done at `now`: played out, and while the input
    // records, also read by the delayed right channel up to its last frame (the device
    // under test still holds those samples when the output has played them).
    bool SegmentDone(const Segment& s, std::int64_t now) const
    {
        if (s.endTick > now) {
            return false;
        }
        if (!inStarted || inQueue.empty() || dut.delaySamples == 0 || inFormat.SamplesPerSec == 0) {
            return true;
        }
        const std::int64_t delayTicks =
            static_cast<std::int64_t>(dut.delaySamples) * kTicksPerSecond / inFormat.SamplesPerSec;
        return s.endTick + delayTicks <= dutNextTick;
    }

    // Finishes every output segment that is done by `now`.
    void CompleteOutput(std::int64_t now, std::vector<Posting>& out)
    {
        while (!segments.empty() && SegmentDone(segments.front(), now)) {
            WaveHeader* h = segments.front().header;
            segments.pop_front();
            h->flags = (h->flags & ~kWhdrInQueue) | kWhdrDone;
            out.push_back({outPost, WaveMessage::OutDone, h});
        }
    }

    // Instant clock: record every queued input buffer now, moving the clock on.
    void RunInstant(std::vector<Posting>& out)
    {
        if (clock != LoopbackClock::Instant) {
            return;
        }
        while (inStarted && !inQueue.empty()) {
            const std::uint32_t frames = FramesOf(inQueue.front());
            virtualNow = std::max(virtualNow,
                                  FrameTick(inBlockStart, frames, inFormat.SamplesPerSec));
            CompleteInput(virtualNow, out);
        }
        CompleteOutput(virtualNow, out);
    }

    void WorkerLoop()
    {
        std::vector<Posting> postings;
        postings.reserve(16);
        std::unique_lock lock(mutex);
        while (!stopping) {
            const std::int64_t now = Now();
            CompleteInput(now, postings);
            CompleteOutput(now, postings);
            if (!postings.empty()) {
                lock.unlock();
                Deliver(postings);
                lock.lock();
                continue;
            }
            ArmTimer(NextWake(now));
            lock.unlock();
            std::uint64_t expirations = 0;
            if (timer < 0) {
                // No timer to be had (out of descriptors): look every millisecond.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else {
                while (read(timer, &expirations, sizeof expirations) < 0 && errno == EINTR) {
                }
            }
            lock.lock();
        }
    }

    // When the worker has to record or finish something next: when the front input
    // buffer is due (it is recorded whole then), and the end of the playing segment.
    // INT64_MAX: nothing to do.
    std::int64_t NextWake(std::int64_t now) const
    {
        std::int64_t next = INT64_MAX;
        if (inStarted && !inQueue.empty()) {
            next = FrameTick(inBlockStart, FramesOf(inQueue.front()), inFormat.SamplesPerSec);
        }
        if (!segments.empty() && segments.front().endTick > now) {
            // (A segment played out but still read by the recording ends with the
            // recording's steps.)
            next = std::min(next, segments.front().endTick);
        }
        return next;
    }

    // Sets the worker's timer to `tick` (INT64_MAX: no time; a past tick: at once).
    void ArmTimer(std::int64_t tick) const
    {
        itimerspec when{};
        if (tick != INT64_MAX) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                WallTime(tick).time_since_epoch())
                                .count();
            when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
            when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
            if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) {
                when.it_value.tv_nsec = 1;  // zero would disarm it
            }
        }
        timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr);
    }

    // After a change of what the card plays or records: the worker's timer follows.
    void Reschedule()
    {
        if (clock == LoopbackClock::RealTime) {
            ArmTimer(NextWake(Now()));
        }
    }

    // Wakes the worker at once (to stop, or to look at the queues again).
    void WakeNow() const { ArmTimer(0); }

    void Deliver(std::vector<Posting>& postings)
    {
        for (Posting& p : postings) {
            if (p.message == WaveMessage::InData) {
                ++postedInData;
            } else {
                ++postedOutDone;
            }
            if (p.post) {
                p.post(p.message, p.header);
            }
        }
        postings.clear();
    }
};

LoopbackCard::LoopbackCard(const DutConfig& dut, LoopbackClock clock, std::uint32_t noiseSeed)
    : impl_(std::make_unique<Impl>())
{
    impl_->dut = dut;
    impl_->clock = clock;
    impl_->noiseSeed = noiseSeed;
    if (clock == LoopbackClock::RealTime) {
        impl_->timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        impl_->worker = std::thread([this] { impl_->WorkerLoop(); });
    }
}

LoopbackCard::~LoopbackCard()
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        impl_->WakeNow();
    }
    if (impl_->worker.joinable()) {
        impl_->worker.join();
    }
    if (impl_->timer >= 0) {
        close(impl_->timer);
    }
}

std::string LoopbackCard::BackendName() const
{
    return "virtual";
}

double LoopbackCard::ClockSeconds()
{
    std::lock_guard lock(impl_->mutex);
    return static_cast<double>(impl_->Now()) / kTicksPerSecond;
}

double LoopbackCard::KnownRoundTripSeconds(unsigned in, unsigned out)
{
    std::lock_guard lock(impl_->mutex);
    return in == 0 && out == 0 ? static_cast<double>(impl_->latencyTicks) / kTicksPerSecond : -1.0;
}

void LoopbackCard::SetCableLatency(double seconds)
{
    std::lock_guard lock(impl_->mutex);
    impl_->latencyTicks = static_cast<std::int64_t>(std::llround(std::max(0.0, seconds) * kTicksPerSecond));
}

void LoopbackCard::InjectInputGaps(int blocks, int lostFrames, bool flagged)
{
    std::lock_guard lock(impl_->mutex);
    impl_->gapBlocks = std::max(0, blocks);
    impl_->gapFrames = std::max(1, lostFrames);
    impl_->gapFlagged = flagged;
}

void LoopbackCard::InjectFault(WaveCall call, MmResult code, bool always)
{
    if (call == WaveCall::Count_) {
        return;
    }
    std::lock_guard lock(impl_->mutex);
    impl_->faults[static_cast<std::size_t>(call)] = {code, true, always};
}

void LoopbackCard::ClearFaults()
{
    std::lock_guard lock(impl_->mutex);
    impl_->faults = {};
}

void LoopbackCard::SetDeviceCounts(std::optional<unsigned> waveIn, std::optional<unsigned> waveOut,
                                   std::optional<unsigned> midiOut, std::optional<unsigned> aux)
{
    std::lock_guard lock(impl_->mutex);
    impl_->inCount = waveIn;
    impl_->outCount = waveOut;
    impl_->midiCount = midiOut;
    impl_->auxCount = aux;
    if (impl_->AuxCount() > impl_->auxVolumes.size()) {
        impl_->auxVolumes.resize(impl_->AuxCount(), 0xFFFFFFFF);
    }
}

void LoopbackCard::SetWaveInCaps(unsigned deviceId, const WaveInCaps& caps)
{
    std::lock_guard lock(impl_->mutex);
    impl_->inCaps[deviceId] = caps;
}

void LoopbackCard::SetWaveOutCaps(unsigned deviceId, const WaveOutCaps& caps)
{
    std::lock_guard lock(impl_->mutex);
    impl_->outCaps[deviceId] = caps;
}

void LoopbackCard::SetAuxCaps(unsigned deviceId, const AuxCaps& caps)
{
    std::lock_guard lock(impl_->mutex);
    impl_->auxCaps[deviceId] = caps;
}

void LoopbackCard::AdvanceInstantClock(int ms)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (d.clock != LoopbackClock::Instant || ms <= 0) {
            return;
        }
        d.virtualNow += static_cast<std::int64_t>(ms) * (kTicksPerSecond / 1000);
        d.RunInstant(postings);
    }
    d.Deliver(postings);
}

unsigned LoopbackCard::PostedInData() const
{
    return impl_->postedInData.load();
}

unsigned LoopbackCard::PostedOutDone() const
{
    return impl_->postedOutDone.load();
}

unsigned LoopbackCard::WaveInGetNumDevs()
{
    std::lock_guard lock(impl_->mutex);
    return impl_->InCount();
}

unsigned LoopbackCard::WaveOutGetNumDevs()
{
    std::lock_guard lock(impl_->mutex);
    return impl_->OutCount();
}

unsigned LoopbackCard::MidiOutGetNumDevs()
{
    std::lock_guard lock(impl_->mutex);
    return impl_->midiCount.value_or(0);
}

unsigned LoopbackCard::AuxGetNumDevs()
{
    std::lock_guard lock(impl_->mutex);
    return impl_->AuxCount();
}

namespace {

std::string LoopbackName(unsigned deviceId)
{
    return deviceId == 0 ? std::string(LoopbackCard::kProductName)
                         : std::string(LoopbackCard::kProductName) + " " +
                               std::to_string(deviceId + 1);
}

}  // namespace

MmResult LoopbackCard::WaveInGetDevCaps(unsigned deviceId, WaveInCaps& caps)
{
    std::lock_guard lock(impl_->mutex);
    if (const MmResult r = impl_->Failing(WaveCall::WaveInGetDevCaps)) {
        return r;
    }
    if (deviceId >= impl_->InCount()) {
        return kMmBadDeviceId;
    }
    if (const auto it = impl_->inCaps.find(deviceId); it != impl_->inCaps.end()) {
        caps = it->second;
        caps.productName = CutName(caps.productName);
        return kMmNoError;
    }
    caps = WaveInCaps{};
    caps.manufacturerId = 0xFFFF;
    caps.productId = 1;
    caps.driverVersion = 0x0103;
    caps.productName = LoopbackName(deviceId);
    caps.formats = kFormatAllStandard;
    caps.channels = 2;
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutGetDevCaps(unsigned deviceId, WaveOutCaps& caps)
{
    std::lock_guard lock(impl_->mutex);
    if (const MmResult r = impl_->Failing(WaveCall::WaveOutGetDevCaps)) {
        return r;
    }
    if (deviceId >= impl_->OutCount()) {
        return kMmBadDeviceId;
    }
    if (const auto it = impl_->outCaps.find(deviceId); it != impl_->outCaps.end()) {
        caps = it->second;
        caps.productName = CutName(caps.productName);
        return kMmNoError;
    }
    caps = WaveOutCaps{};
    caps.manufacturerId = 0xFFFF;
    caps.productId = 2;
    caps.driverVersion = 0x0103;
    caps.productName = LoopbackName(deviceId);
    caps.formats = kFormatAllStandard;
    caps.channels = 2;
    caps.support = kWaveCapsVolume | kWaveCapsLrVolume;
    return kMmNoError;
}

MmResult LoopbackCard::AuxGetDevCaps(unsigned deviceId, AuxCaps& caps)
{
    std::lock_guard lock(impl_->mutex);
    if (const MmResult r = impl_->Failing(WaveCall::AuxGetDevCaps)) {
        return r;
    }
    if (deviceId >= impl_->AuxCount()) {
        return kMmBadDeviceId;
    }
    if (const auto it = impl_->auxCaps.find(deviceId); it != impl_->auxCaps.end()) {
        caps = it->second;
        caps.productName = CutName(caps.productName);
        return kMmNoError;
    }
    static const char* const kNames[kOwnAuxLines] = {"Line-In", "Mic", "CD"};
    static const std::uint16_t kTech[kOwnAuxLines] = {kAuxTechAuxIn, kAuxTechAuxIn,
                                                      kAuxTechCdAudio};
    caps = AuxCaps{};
    caps.manufacturerId = 0xFFFF;
    caps.productId = static_cast<std::uint16_t>(3 + deviceId);
    caps.driverVersion = 0x0103;
    if (deviceId < kOwnAuxLines) {
        caps.productName = kNames[deviceId];
        caps.technology = kTech[deviceId];
    } else {
        caps.productName = "Aux " + std::to_string(deviceId + 1);
    }
    caps.support = kAuxCapsVolume | kAuxCapsLrVolume;
    return kMmNoError;
}

MmResult LoopbackCard::WaveInOpen(WaveInHandle* handle, unsigned deviceId,
                                  const WaveFormat& format, WavePost post, std::uint32_t flags)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    const bool query = (flags & kWaveOpenQuery) != 0;
    if (const MmResult r = d.Failing(query ? WaveCall::WaveInOpenQuery : WaveCall::WaveInOpen)) {
        return r;
    }
    if (deviceId >= d.InCount()) {
        return kMmBadDeviceId;
    }
    if (!FormatIsUsable(format)) {
        return kWaveBadFormat;
    }
    if (query) {
        return kMmNoError;
    }
    if (handle == nullptr) {
        return kMmInvalidParam;
    }
    if (d.inOpen) {
        return kMmAllocated;
    }
    d.inOpen = true;
    d.inHandle = d.nextHandle++;
    d.inFormat = format;
    d.inPost = std::move(post);
    d.inQueue.clear();
    d.inFilled = 0;
    d.inStarted = false;
    *handle = static_cast<WaveInHandle>(d.inHandle);
    return kMmNoError;
}

namespace {

MmResult CheckHeader(const WaveHeader* header)
{
    if (header == nullptr || header->data == nullptr || header->bufferLength == 0) {
        return kMmInvalidParam;
    }
    return kMmNoError;
}

}  // namespace

MmResult LoopbackCard::WaveInPrepareHeader(WaveInHandle handle, WaveHeader* header)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (const MmResult r = d.Failing(WaveCall::WaveInPrepareHeader)) {
        return r;
    }
    if (!d.inOpen || static_cast<std::uint32_t>(handle) != d.inHandle) {
        return kMmInvalidHandle;
    }
    if (const MmResult r = CheckHeader(header)) {
        return r;
    }
    header->flags |= kWhdrPrepared;
    return kMmNoError;
}

MmResult LoopbackCard::WaveInAddBuffer(WaveInHandle handle, WaveHeader* header)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WaveInAddBuffer)) {
            return r;
        }
        if (!d.inOpen || static_cast<std::uint32_t>(handle) != d.inHandle) {
            return kMmInvalidHandle;
        }
        if (const MmResult r = CheckHeader(header)) {
            return r;
        }
        if ((header->flags & kWhdrPrepared) == 0) {
            return kWaveUnprepared;
        }
        if ((header->flags & kWhdrInQueue) != 0) {
            return kWaveStillPlaying;
        }
        if (header->bufferLength < d.inFormat.BlockAlign) {
            return kMmInvalidParam;
        }
        header->flags = (header->flags | kWhdrInQueue) & ~(kWhdrDone | kWhdrGap);
        header->bytesRecorded = 0;
        header->startSeconds = -1.0;
        if (d.inStarted && d.inQueue.empty()) {
            // What arrived while no buffer was queued is lost, as on a real card.
            d.inBlockStart = std::max(d.inBlockStart, SnapUp(d.Now(), d.inFormat.SamplesPerSec));
            d.inFilled = 0;
            d.NextBlockGap();
        }
        d.inQueue.push_back(header);
        d.RunInstant(postings);
        d.Reschedule();
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::WaveInStart(WaveInHandle handle)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WaveInStart)) {
            return r;
        }
        if (!d.inOpen || static_cast<std::uint32_t>(handle) != d.inHandle) {
            return kMmInvalidHandle;
        }
        if (d.inStarted) {
            return kMmNoError;
        }
        d.inStarted = true;
        d.inBlockStart = SnapUp(d.Now(), d.inFormat.SamplesPerSec);
        d.NextBlockGap();
        d.RunInstant(postings);
        d.Reschedule();
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::WaveInReset(WaveInHandle handle)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WaveInReset)) {
            return r;
        }
        if (!d.inOpen || static_cast<std::uint32_t>(handle) != d.inHandle) {
            return kMmInvalidHandle;
        }
        // Finish what is due, hand the front buffer back with what was recorded so far
        // and the rest empty.
        const std::int64_t now = d.Now();
        d.CompleteInput(now, postings);
        bool front = true;
        for (WaveHeader* h : d.inQueue) {
            if (front && d.inStarted) {
                // CompleteInput has recorded the front buffer up to now.
                h->bytesRecorded = d.inFilled * d.inFormat.BlockAlign;
            } else {
                h->bytesRecorded = 0;
            }
            front = false;
            h->flags = (h->flags & ~kWhdrInQueue) | kWhdrDone;
            postings.push_back({d.inPost, WaveMessage::InData, h});
        }
        d.inQueue.clear();
        d.inFilled = 0;
        d.inStarted = false;
        d.Reschedule();
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::WaveInUnprepareHeader(WaveInHandle handle, WaveHeader* header)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (const MmResult r = d.Failing(WaveCall::WaveInUnprepareHeader)) {
        return r;
    }
    if (!d.inOpen || static_cast<std::uint32_t>(handle) != d.inHandle) {
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

MmResult LoopbackCard::WaveInClose(WaveInHandle handle)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (const MmResult r = d.Failing(WaveCall::WaveInClose)) {
        return r;
    }
    if (!d.inOpen || static_cast<std::uint32_t>(handle) != d.inHandle) {
        return kMmInvalidHandle;
    }
    if (!d.inQueue.empty()) {
        return kWaveStillPlaying;
    }
    d.inOpen = false;
    d.inStarted = false;
    d.inHandle = 0;
    d.inPost = nullptr;
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutOpen(WaveOutHandle* handle, unsigned deviceId,
                                   const WaveFormat& format, WavePost post, std::uint32_t flags)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    const bool query = (flags & kWaveOpenQuery) != 0;
    if (const MmResult r = d.Failing(query ? WaveCall::WaveOutOpenQuery : WaveCall::WaveOutOpen)) {
        return r;
    }
    if (deviceId >= d.OutCount()) {
        return kMmBadDeviceId;
    }
    if (!FormatIsUsable(format)) {
        return kWaveBadFormat;
    }
    if (query) {
        return kMmNoError;
    }
    if (handle == nullptr) {
        return kMmInvalidParam;
    }
    if (d.outOpen) {
        return kMmAllocated;
    }
    d.outOpen = true;
    d.outHandle = d.nextHandle++;
    d.outFormat = format;
    d.outPost = std::move(post);
    d.segments.clear();
    *handle = static_cast<WaveOutHandle>(d.outHandle);
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutPrepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (const MmResult r = d.Failing(WaveCall::WaveOutPrepareHeader)) {
        return r;
    }
    if (!d.outOpen || static_cast<std::uint32_t>(handle) != d.outHandle) {
        return kMmInvalidHandle;
    }
    if (const MmResult r = CheckHeader(header)) {
        return r;
    }
    header->flags |= kWhdrPrepared;
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutWrite(WaveOutHandle handle, WaveHeader* header)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WaveOutWrite)) {
            return r;
        }
        if (!d.outOpen || static_cast<std::uint32_t>(handle) != d.outHandle) {
            return kMmInvalidHandle;
        }
        if (const MmResult r = CheckHeader(header)) {
            return r;
        }
        if ((header->flags & kWhdrPrepared) == 0) {
            return kWaveUnprepared;
        }
        if ((header->flags & kWhdrInQueue) != 0) {
            return kWaveStillPlaying;
        }
        Segment s;
        s.header = header;
        s.frames = header->bufferLength / d.outFormat.BlockAlign;
        const bool looping = (header->flags & (kWhdrBeginLoop | kWhdrEndLoop)) ==
                             (kWhdrBeginLoop | kWhdrEndLoop);
        const std::uint64_t loops = looping ? std::max<std::uint32_t>(header->loops, 1) : 1;
        s.totalFrames = static_cast<std::uint64_t>(s.frames) * loops;
        const std::int64_t now = d.Now();
        s.startTick = SnapUp(d.segments.empty() ? now : std::max(now, d.segments.back().endTick),
                             d.outFormat.SamplesPerSec);
        s.endTick = FrameTick(s.startTick, static_cast<std::int64_t>(s.totalFrames),
                              d.outFormat.SamplesPerSec);
        header->flags = (header->flags | kWhdrInQueue) & ~kWhdrDone;
        header->startSeconds = static_cast<double>(s.startTick) / kTicksPerSecond;
        d.segments.push_back(s);
        d.CompleteOutput(now, postings);
        d.Reschedule();
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutReset(WaveOutHandle handle)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WaveOutReset)) {
            return r;
        }
        if (!d.outOpen || static_cast<std::uint32_t>(handle) != d.outHandle) {
            return kMmInvalidHandle;
        }
        d.CatchUpInput(postings);
        for (const Segment& s : d.segments) {
            s.header->flags = (s.header->flags & ~kWhdrInQueue) | kWhdrDone;
            postings.push_back({d.outPost, WaveMessage::OutDone, s.header});
        }
        d.segments.clear();
        d.Reschedule();
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutUnprepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (const MmResult r = d.Failing(WaveCall::WaveOutUnprepareHeader)) {
        return r;
    }
    if (!d.outOpen || static_cast<std::uint32_t>(handle) != d.outHandle) {
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

MmResult LoopbackCard::WaveOutClose(WaveOutHandle handle)
{
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (const MmResult r = d.Failing(WaveCall::WaveOutClose)) {
        return r;
    }
    if (!d.outOpen || static_cast<std::uint32_t>(handle) != d.outHandle) {
        return kMmInvalidHandle;
    }
    if (!d.segments.empty()) {
        return kWaveStillPlaying;
    }
    d.outOpen = false;
    d.outHandle = 0;
    d.outPost = nullptr;
    return kMmNoError;
}

std::uint32_t LoopbackCard::WaveKnownDelay(unsigned, unsigned)
{
    return static_cast<std::uint32_t>(impl_->dut.delaySamples);
}

MmResult LoopbackCard::WavePlayRecord(WaveOutHandle out, WaveHeader* outHeader, WaveInHandle in)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WavePlayRecord)) {
            return r;
        }
        if (!d.outOpen || static_cast<std::uint32_t>(out) != d.outHandle || !d.inOpen ||
            static_cast<std::uint32_t>(in) != d.inHandle) {
            return kMmInvalidHandle;
        }
        if (const MmResult r = CheckHeader(outHeader)) {
            return r;
        }
        if ((outHeader->flags & kWhdrPrepared) == 0) {
            return kWaveUnprepared;
        }
        if ((outHeader->flags & kWhdrInQueue) != 0 || !d.segments.empty() || d.inStarted) {
            return kWaveStillPlaying;
        }
        // The output starts on its next frame tick; the input on the last of its own
        // frame ticks up to there, so it misses nothing of the output.
        const std::uint32_t outRate = d.outFormat.SamplesPerSec;
        const std::uint32_t inRate = d.inFormat.SamplesPerSec;
        const std::int64_t start = SnapUp(d.Now(), outRate);
        Segment seg;
        seg.header = outHeader;
        seg.frames = outHeader->bufferLength / d.outFormat.BlockAlign;
        seg.totalFrames = seg.frames;
        seg.startTick = start;
        seg.endTick = FrameTick(start, static_cast<std::int64_t>(seg.frames), outRate);
        outHeader->flags = (outHeader->flags | kWhdrInQueue) & ~kWhdrDone;
        outHeader->startSeconds = static_cast<double>(seg.startTick) / kTicksPerSecond;
        d.segments.push_back(seg);
        d.inStarted = true;
        d.inBlockStart = start / kTicksPerSecond * kTicksPerSecond +
                         (start % kTicksPerSecond) * inRate / kTicksPerSecond * kTicksPerSecond / inRate;
        d.inFilled = 0;
        d.NextBlockGap();
        d.RunInstant(postings);
        d.Reschedule();
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutGetVolume(unsigned deviceId, std::uint32_t& volume)
{
    std::lock_guard lock(impl_->mutex);
    if (const MmResult r = impl_->Failing(WaveCall::WaveOutGetVolume)) {
        return r;
    }
    if (deviceId >= impl_->OutCount()) {
        return kMmBadDeviceId;
    }
    volume = impl_->OutVolume(deviceId);
    return kMmNoError;
}

MmResult LoopbackCard::WaveOutSetVolume(unsigned deviceId, std::uint32_t volume)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::WaveOutSetVolume)) {
            return r;
        }
        if (deviceId >= d.OutCount()) {
            return kMmBadDeviceId;
        }
        d.CatchUpInput(postings);
        d.outVolumes[deviceId] = volume;
    }
    d.Deliver(postings);
    return kMmNoError;
}

MmResult LoopbackCard::AuxGetVolume(unsigned deviceId, std::uint32_t& volume)
{
    std::lock_guard lock(impl_->mutex);
    if (const MmResult r = impl_->Failing(WaveCall::AuxGetVolume)) {
        return r;
    }
    if (deviceId >= impl_->AuxCount()) {
        return kMmBadDeviceId;
    }
    volume = impl_->auxVolumes[deviceId];
    return kMmNoError;
}

MmResult LoopbackCard::AuxSetVolume(unsigned deviceId, std::uint32_t volume)
{
    Impl& d = *impl_;
    std::vector<Posting> postings;
    {
        std::lock_guard lock(d.mutex);
        if (const MmResult r = d.Failing(WaveCall::AuxSetVolume)) {
            return r;
        }
        if (deviceId >= d.AuxCount()) {
            return kMmBadDeviceId;
        }
        d.CatchUpInput(postings);
        d.auxVolumes[deviceId] = volume;
    }
    d.Deliver(postings);
    return kMmNoError;
}

}  // namespace sonvera
