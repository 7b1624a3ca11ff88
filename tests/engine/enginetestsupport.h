#pragma once
// Test helpers for the sound engine: a message port that queues completions until the
// test delivers them, and measurements of a captured sine by direct DFT.

#include <cmath>
#include <deque>
#include <mutex>
#include <numbers>
#include <utility>

#include "engine/messageport.h"
#include "engine/soundengine.h"

namespace sonvera::test {

/// Queues posted completions like a window message queue; Pump delivers them.
class QueuePort : public MessagePort {
public:
    explicit QueuePort(SoundEngine& engine) : engine_(engine) { engine_.SetMessagePort(this); }
    ~QueuePort() override { engine_.SetMessagePort(nullptr); }

    void PostWaveInData(const void* header, std::uint64_t session) override
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({header, session});
        ++posted_;
    }

    void DrainMessages(int maxMessages) override
    {
        ++drainCalls_;
        lastDrainLimit_ = maxMessages;
        for (int i = 0; i < maxMessages && Pending() > 0; ++i) {
            DeliverOne();
        }
    }

    /// Delivers every queued completion (and those posted while delivering).
    int Pump()
    {
        int delivered = 0;
        while (Pending() > 0) {
            DeliverOne();
            ++delivered;
        }
        return delivered;
    }

    int Pending()
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(queue_.size());
    }

    int posted_ = 0;
    int drainCalls_ = 0;
    int lastDrainLimit_ = 0;

private:
    void DeliverOne()
    {
        std::pair<const void*, std::uint64_t> message;
        {
            std::lock_guard lock(mutex_);
            message = queue_.front();
            queue_.pop_front();
        }
        engine_.OnWaveInData(message.first, message.second);
    }

    SoundEngine& engine_;
    std::mutex mutex_;
    std::deque<std::pair<const void*, std::uint64_t>> queue_;
};

/// Amplitude of the component at freqHz in every second value of samples starting at
/// first (one channel of an interleaved block), by direct DFT over `frames` frames.
inline double ToneAmplitude(const float* samples, int first, int frames, double freqHz, double rateHz)
{
    double re = 0.0;
    double im = 0.0;
    for (int n = 0; n < frames; ++n) {
        const double x = samples[2 * n + first];
        const double w = 2.0 * std::numbers::pi * freqHz * n / rateHz;
        re += x * std::cos(w);
        im -= x * std::sin(w);
    }
    return 2.0 * std::hypot(re, im) / frames;
}

/// RMS of one channel of an interleaved block.
inline double ChannelRms(const float* samples, int first, int frames)
{
    double sum = 0.0;
    for (int n = 0; n < frames; ++n) {
        sum += static_cast<double>(samples[2 * n + first]) * samples[2 * n + first];
    }
    return std::sqrt(sum / frames);
}

}  // namespace sonvera::test
