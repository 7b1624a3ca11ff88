#pragma once

#include <cstdint>

namespace sonvera {

/// The engine's view of the user-interface thread's message queue. The receiver above
/// the engine (the hidden Tdummy object) implements it; the engine never sees Qt.
class MessagePort {
public:
    virtual ~MessagePort() = default;

    /// Thread-safe: queue the "input buffer done" message for header. It reaches
    /// SoundEngine::OnWaveInData(header, session) later on the user-interface thread,
    /// never inside this call. session tells the engine which of its start-ups the
    /// header belongs to; it is handed back unchanged.
    virtual void PostWaveInData(const void* header, std::uint64_t session) = 0;

    /// User-interface thread: process up to maxMessages pending messages without waiting.
    virtual void DrainMessages(int maxMessages) = 0;
};

}  // namespace sonvera
