#include "app/waitingport.h"

namespace sonvera {

WaitingPort::WaitingPort(SoundEngine& engine) : engine_(engine)
{
    engine_.SetMessagePort(this);
}

WaitingPort::~WaitingPort()
{
    engine_.SetMessagePort(nullptr);
}

void WaitingPort::PostWaveInData(const void* header, std::uint64_t session)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({header, session});
    }
    wake_.notify_one();
}

void WaitingPort::DrainMessages(int maxMessages)
{
    for (int i = 0; i < maxMessages && DeliverOne(std::chrono::milliseconds(0)); ++i) {
    }
}

bool WaitingPort::DeliverOne(std::chrono::milliseconds wait)
{
    Item item;
    {
        std::unique_lock lock(mutex_);
        if (!wake_.wait_for(lock, wait, [this] { return !queue_.empty(); })) {
            return false;
        }
        item = queue_.front();
        queue_.pop_front();
    }
    engine_.OnWaveInData(item.header, item.session);
    return true;
}

}  // namespace sonvera
