#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace sonvera {

/// A fixed-size lock-free queue for exactly one producer thread and one consumer thread.
/// Neither side allocates or blocks, so an audio callback may be either side.
/// Holds at most Capacity - 1 elements.
template <typename T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity >= 2, "a ring needs room for one element and the gap");

public:
    /// Producer side: false (and nothing stored) when the ring is full.
    bool Push(const T& value)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t next = (head + 1) % Capacity;
        if (next == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        slots_[head] = value;
        head_.store(next, std::memory_order_release);
        return true;
    }

    /// Consumer side: false when the ring is empty.
    bool Pop(T& value)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return false;
        }
        value = slots_[tail];
        tail_.store((tail + 1) % Capacity, std::memory_order_release);
        return true;
    }

    /// Either side: true when nothing is queued (a snapshot).
    bool Empty() const
    {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

private:
    std::array<T, Capacity> slots_{};
    std::atomic<std::size_t> head_{0};  // written by the producer
    std::atomic<std::size_t> tail_{0};  // written by the consumer
};

}  // namespace sonvera
