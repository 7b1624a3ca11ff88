#pragma once

namespace sonvera {

/// The engine's view of the user-interface thread's message queue. The receiver above
/// the engine (the hidden Tdummy object) implements it; the engine never sees Qt.
class MessagePort {
public:
    virtual ~MessagePort() = default;

    /// Thread-safe: queue the "input buffer done" message for header. It reaches
    /// SoundEngine::OnWaveInData(header) later on the user-interface thread, never inside
    /// this call. Must not block or allocate in ways an audio thread cannot afford
    /// beyond one queued event.
    virtual void PostWaveInData(const void* header) = 0;

    /// User-interface thread: process up to maxMessages pending messages without waiting.
    virtual void DrainMessages(int maxMessages) = 0;
};

}  // namespace sonvera
