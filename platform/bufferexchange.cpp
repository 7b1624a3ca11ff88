#include "platform/bufferexchange.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonvera {

void ScaleFrames(char* data, std::size_t frames, std::uint16_t blockAlign, int bits, std::uint32_t packedVolume)
{
    const int bytes = bits / 8;
    if (bytes != 1 && bytes != 2 && bytes != 4) {
        return;
    }
    const std::size_t channels = blockAlign / static_cast<std::size_t>(bytes);
    const double left = static_cast<double>(packedVolume & 0xFFFFu) / 65535.0;
    const double right = static_cast<double>(packedVolume >> 16) / 65535.0;
    for (std::size_t f = 0; f < frames; ++f) {
        char* frame = data + f * blockAlign;
        for (std::size_t c = 0; c < channels; ++c) {
            char* p = frame + c * static_cast<std::size_t>(bytes);
            const double gain = c == 1 ? right : left;
            // A gain of at most 1 keeps every result inside the sample's range.
            if (bytes == 1) {
                const int v = static_cast<unsigned char>(*p) - 128;
                *p = static_cast<char>(static_cast<int>(std::lround(v * gain)) + 128);
            } else if (bytes == 2) {
                std::int16_t v;
                std::memcpy(&v, p, sizeof v);
                v = static_cast<std::int16_t>(std::lround(v * gain));
                std::memcpy(p, &v, sizeof v);
            } else {
                std::int32_t v;
                std::memcpy(&v, p, sizeof v);
                v = static_cast<std::int32_t>(std::llround(v * gain));
                std::memcpy(p, &v, sizeof v);
            }
        }
    }
}

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
    header->flags = (header->flags | kWhdrInQueue) & ~(kWhdrDone | kWhdrGap);
    header->startSeconds = -1.0;
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

void BufferExchange::Capture(const char* in, unsigned long frames, bool lost, double nowSeconds)
{
    if (in == nullptr || !recording_.load(std::memory_order_acquire)) {
        return;
    }
    if (lost && current_ != nullptr && position_ > 0) {
        current_->flags |= kWhdrGap;
    }
    unsigned long offset = 0;
    while (offset < frames) {
        if (current_ == nullptr) {
            if (!pending_.Pop(current_)) {
                return;  // nothing queued: these frames are not wanted
            }
            position_ = 0;
            current_->flags &= ~kWhdrGap;
            current_->startSeconds = nowSeconds;
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

void BufferExchange::Play(char* out, unsigned long frames, double nowSeconds)
{
    const std::uint32_t gain = gain_.load(std::memory_order_relaxed);
    unsigned long offset = 0;
    while (offset < frames) {
        if (current_ == nullptr) {
            if (!pending_.Pop(current_)) {
                std::memset(out + offset * blockAlign_, bits_ == 8 ? 0x80 : 0,
                            (frames - offset) * blockAlign_);
                return;
            }
            position_ = 0;
            current_->startSeconds = nowSeconds;
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
        if (gain != 0xFFFFFFFFu) {
            ScaleFrames(out + offset * blockAlign_, n, blockAlign_, bits_, gain);
        }
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
