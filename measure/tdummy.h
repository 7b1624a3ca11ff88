#pragma once

#include <QObject>

#include <atomic>

#include "engine/messageport.h"

namespace sonvera {

class SoundEngine;

/// The hidden receiver of the wave-input driver's "buffer done" message. Audio threads
/// post MM_WIM_DATA to it through the engine's MessagePort; its event handler then runs
/// the engine's capture completion (and so the registered CaptureHandler) on the thread
/// this object lives on, the user-interface thread. Other wave notifications are ignored.
class Tdummy : public QObject, public MessagePort {
public:
    explicit Tdummy(SoundEngine& engine, QObject* parent = nullptr);
    ~Tdummy() override;

    /// Thread-safe; the handler runs later from the event loop.
    void PostWaveInData(const void* header, std::uint64_t session) override;

    /// Delivers the completions already queued for this object, at most maxMessages
    /// rounds, without waiting for new ones.
    void DrainMessages(int maxMessages) override;

    /// Completions posted and not yet handled.
    int PendingWaveInData() const { return pending_.load(); }

protected:
    bool event(QEvent* event) override;

private:
    SoundEngine& engine_;
    std::atomic<int> pending_{0};
};

}  // namespace sonvera
