#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "engine/messageport.h"
#include "engine/soundengine.h"

namespace sonvera {

/// The command-line tool's stand-in for the hidden completion window: completions posted
/// by the wave layer (from any thread) wait in a queue until the command's own loop
/// delivers them to the engine on its thread.
class WaitingPort : public MessagePort {
public:
    explicit WaitingPort(SoundEngine& engine);
    ~WaitingPort() override;
    WaitingPort(const WaitingPort&) = delete;
    WaitingPort& operator=(const WaitingPort&) = delete;

    void PostWaveInData(const void* header, std::uint64_t session) override;
    void DrainMessages(int maxMessages) override;

    /// Delivers one completion, waiting up to `wait` for it; false when none came.
    bool DeliverOne(std::chrono::milliseconds wait);

private:
    struct Item {
        const void* header = nullptr;
        std::uint64_t session = 0;
    };
    SoundEngine& engine_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
};

}  // namespace sonvera
