#include "platform/bufferexchange.h"

#include <algorithm>
#include <cstring>

namespace sonvera {

BufferExchange::BufferExchange(bool input, CompletionSignal& signal) : input_(input), signal_(signal) {}

void BufferExchange::Restart(std::uint16_t blockAlign, int bitsPerSample)
{
    blockAlign_ = blockAlign > 0 ? blockAlign : 1;
    bits_ = bitsPerSample;
    current_ = nullptr;
    position_ = 0;
    passesLeft_ = 0;
    resetSeen_ = resetRequest_.load();
    resetAck_.store(resetSeen_);
    recording_.store(false);
}

bool BufferExchange::Queue(WaveHeader* header)
{
    header->flags = (header->flags | kWhdrInQueue) & ~kWhdrDone;
    if (input_) {
        header->bytesRecorded = 0;
    }
    inFlight_.fetch_add(1);
    if (!pending_.Push(header)) {
        inFlight_.fetch_sub(1);
        header->flags &= ~kWhdrInQueue;
        return false;
    }
    return true;
}

std::uint32_t BufferExchange::RequestReset()
{
    recording_.store(false, std::memory_order_release);
    return resetRequest_.fetch_add(1) + 1;
}

bool BufferExchange::ResetAcknowledged(std::uint32_t request) const
{
    return resetAck_.load(std::memory_order_acquire) == request;
}

void BufferExchange::Finish(WaveHeader* h)
{
    done_.Push(h);  // room for every queued buffer plus the current one
    signal_.release();
}

void BufferExchange::ReturnAll()
{
    if (current_ != nullptr) {
        if (input_) {
            current_->bytesRecorded = position_ * blockAlign_;
        }
        Finish(current_);
        current_ = nullptr;
    }
    WaveHeader* h = nullptr;
    while (pending_.Pop(h)) {
        if (input_) {
            h->bytesRecorded = 0;
        }
        Finish(h);
    }
    position_ = 0;
}

void BufferExchange::ServiceReset()
{
    const std::uint32_t request = resetRequest_.load(std::memory_order_acquire);
    if (request != resetSeen_) {
        ReturnAll();
        resetSeen_ = request;
        resetAck_.store(request, std::memory_order_release);
    }
}

void BufferExchange::ReturnAllStopped(std::uint32_t request)
{
    ReturnAll();
    resetSeen_ = request;
    resetAck_.store(request, std::memory_order_release);
}

void BufferExchange::Capture(const char* in, unsigned long frames)
{
    if (in == nullptr || !recording_.load(std::memory_order_acquire)) {
        return;
    }
    unsigned long offset = 0;
    while (offset < frames) {
        if (current_ == nullptr) {
            if (!pending_.Pop(current_)) {
                return;  // nothing queued: these frames are not wanted
            }
            position_ = 0;
        }
        const std::uint32_t room = Frames(current_) - position_;
        const auto n = static_cast<std::uint32_t>(std::min<unsigned long>(room, frames - offset));
        std::memcpy(current_->data + static_cast<std::size_t>(position_) * blockAlign_,
                    in + offset * blockAlign_, static_cast<std::size_t>(n) * blockAlign_);
        position_ += n;
        offset += n;
        if (position_ == Frames(current_)) {
            current_->bytesRecorded = position_ * blockAlign_;
            Finish(current_);
            current_ = nullptr;
            position_ = 0;
        }
    }
}

void BufferExchange::Play(char* out, unsigned long frames)
{
    unsigned long offset = 0;
    while (offset < frames) {
        if (current_ == nullptr) {
            if (!pending_.Pop(current_)) {
                std::memset(out + offset * blockAlign_, bits_ == 8 ? 0x80 : 0,
                            (frames - offset) * blockAlign_);
                return;
            }
            position_ = 0;
            const bool looping = (current_->flags & (kWhdrBeginLoop | kWhdrEndLoop)) ==
                                 (kWhdrBeginLoop | kWhdrEndLoop);
            passesLeft_ = looping ? std::max<std::uint32_t>(current_->loops, 1) : 1;
            if (Frames(current_) == 0) {
                Finish(current_);
                current_ = nullptr;
                continue;
            }
        }
        const std::uint32_t left = Frames(current_) - position_;
        const auto n = static_cast<std::uint32_t>(std::min<unsigned long>(left, frames - offset));
        std::memcpy(out + offset * blockAlign_,
                    current_->data + static_cast<std::size_t>(position_) * blockAlign_,
                    static_cast<std::size_t>(n) * blockAlign_);
        position_ += n;
        offset += n;
        if (position_ == Frames(current_)) {
            position_ = 0;
            if (--passesLeft_ == 0) {
                Finish(current_);
                current_ = nullptr;
            }
        }
    }
}

WaveHeader* BufferExchange::TakeFinished()
{
    WaveHeader* h = nullptr;
    if (!done_.Pop(h)) {
        return nullptr;
    }
    h->flags = (h->flags & ~kWhdrInQueue) | kWhdrDone;
    inFlight_.fetch_sub(1);
    return h;
}

}  // namespace sonvera
