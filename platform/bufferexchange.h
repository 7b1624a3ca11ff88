#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <semaphore>

#include "platform/spscring.h"
#include "platform/wavelayer.h"

namespace sonvera {

/// Semaphore the exchanges release once per finished buffer.
using CompletionSignal = std::counting_semaphore<1 << 20>;

/// Scales `frames` PCM frames in place by a packed volume (left half for the first
/// channel, right half for the second, each 0..0xFFFF for a gain of 0..1, linear), as a
/// sound card's wave-out volume scales what it plays. `bits` 8 (unsigned), 16 or 32
/// (signed); results are rounded to the nearest step.
void ScaleFrames(char* data, std::size_t frames, std::uint16_t blockAlign, int bits, std::uint32_t packedVolume);

/// The hand-over of wave buffers between the engine's thread and an audio callback that
/// runs continuously (one direction of a persistent stream). The engine's side queues
/// buffers and asks for resets; the callback side fills (input) or plays (output) them
/// and hands finished ones to a completion thread. The callback side never allocates,
/// locks or waits: it talks through two single-producer/single-consumer rings and a few
/// atomics.
///
/// Threads: Queue, RequestReset, ResetAcknowledged, Recording: engine thread.
/// Capture, Play, ServiceReset: the audio callback (or, once the stream is stopped for
/// good, the engine thread). TakeFinished: the completion thread.
class BufferExchange {
public:
    static constexpr std::size_t kMaxQueued = 63;

    BufferExchange(bool input, CompletionSignal& signal);

    /// The frame layout of the stream; only while the callback does not run.
    void Restart(std::uint16_t blockAlign, int bitsPerSample);

    // Engine side.
    /// Queues a buffer (flags kWhdrInQueue set, kWhdrDone cleared). False when full.
    bool Queue(WaveHeader* header);
    /// Buffers queued and not yet taken by the completion thread.
    int InFlight() const { return inFlight_.load(); }
    void SetRecording(bool on) { recording_.store(on, std::memory_order_release); }
    /// Asks the callback to hand every buffer back; returns the request number.
    std::uint32_t RequestReset();
    bool ResetAcknowledged(std::uint32_t request) const;

    // Callback side.
    /// Answers a pending reset request: the current buffer is handed back with what it
    /// holds (input: bytesRecorded = frames filled), the queued ones empty.
    void ServiceReset();
    /// Input: copies `frames` frames into the queued buffers while recording. `lost`:
    /// frames were lost just before these (the device reported an overflow), so a
    /// buffer already begun gets kWhdrGap. `nowSeconds` stamps a buffer's first frame.
    void Capture(const char* in, unsigned long frames, bool lost = false, double nowSeconds = -1.0);
    /// Output: writes `frames` frames from the queued buffers (a buffer flagged
    /// kWhdrBeginLoop|kWhdrEndLoop is played `loops` times, 0 counting as 1), silence
    /// when nothing is queued, scaled by the gain last set. `nowSeconds` stamps the first
    /// frame of a buffer that starts.
    void Play(char* out, unsigned long frames, double nowSeconds = -1.0);
    /// Output: a buffer is being played (callback side).
    bool Playing() const { return current_ != nullptr; }
    /// Output gain as a packed volume (see ScaleFrames); full (0xFFFFFFFF) plays the
    /// buffers bit for bit. Any thread; the callback picks it up at its next call.
    void SetGain(std::uint32_t packedVolume) { gain_.store(packedVolume, std::memory_order_relaxed); }
    /// Hands back every buffer at once; only when the callback no longer runs.
    void ReturnAllStopped(std::uint32_t request);

    // Completion side.
    /// The next finished buffer (flags set: kWhdrDone, kWhdrInQueue cleared), or nullptr.
    /// Counts it out of InFlight() before returning it.
    WaveHeader* TakeFinished();

private:
    void Finish(WaveHeader* h);
    void ReturnAll();
    std::uint32_t Frames(const WaveHeader* h) const { return h->bufferLength / blockAlign_; }

    bool input_;
    CompletionSignal& signal_;
    std::uint16_t blockAlign_ = 4;
    int bits_ = 16;

    SpscRing<WaveHeader*, kMaxQueued + 1> pending_;
    SpscRing<WaveHeader*, kMaxQueued + 2> done_;  // pending + the current buffer fit
    std::atomic<bool> recording_{false};
    std::atomic<std::uint32_t> resetRequest_{0};
    std::atomic<std::uint32_t> resetAck_{0};
    std::atomic<int> inFlight_{0};
    std::atomic<std::uint32_t> gain_{0xFFFFFFFFu};

    // Callback-owned.
    std::uint32_t resetSeen_ = 0;
    WaveHeader* current_ = nullptr;
    std::uint32_t position_ = 0;    // frames filled / played in this pass
    std::uint64_t passesLeft_ = 0;
};

}  // namespace sonvera
