// The hand-over between the engine's thread and a continuously running audio callback,
// driven here by hand with callback sizes that do not divide the buffers; and the
// lock-free ring under two threads.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/bufferexchange.h"

namespace sonvera {
namespace {

struct Buf {
    std::vector<char> bytes;
    WaveHeader header;
    explicit Buf(std::size_t frames) : bytes(frames * 4)
    {
        header.data = bytes.data();
        header.bufferLength = static_cast<std::uint32_t>(bytes.size());
        header.flags = kWhdrPrepared;
    }
    std::int16_t Left(std::size_t frame) const
    {
        std::int16_t v;
        std::memcpy(&v, bytes.data() + 4 * frame, 2);
        return v;
    }
};

// `frames` stereo 16-bit frames whose left sample is start, start+1, ...
std::vector<char> Ramp(std::size_t frames, int start)
{
    std::vector<char> out(frames * 4);
    for (std::size_t f = 0; f < frames; ++f) {
        const auto v = static_cast<std::int16_t>(start + static_cast<int>(f));
        std::memcpy(out.data() + 4 * f, &v, 2);
        std::memcpy(out.data() + 4 * f + 2, &v, 2);
    }
    return out;
}

std::vector<std::int16_t> Lefts(const std::vector<char>& bytes)
{
    std::vector<std::int16_t> out(bytes.size() / 4);
    for (std::size_t f = 0; f < out.size(); ++f) {
        std::memcpy(&out[f], bytes.data() + 4 * f, 2);
    }
    return out;
}

TEST(BufferExchange, CaptureFillsQueuedBuffersInOrderAcrossCallbackBoundaries)
{
    CompletionSignal signal(0);
    BufferExchange x(true, signal);
    x.Restart(4, 16);
    Buf a(100), b(50);
    ASSERT_TRUE(x.Queue(&a.header));
    ASSERT_TRUE(x.Queue(&b.header));
    EXPECT_EQ(x.InFlight(), 2);
    // Frames before recording starts are not wanted.
    const auto early = Ramp(30, -1000);
    x.Capture(early.data(), 30);
    EXPECT_EQ(x.TakeFinished(), nullptr);
    x.SetRecording(true);
    int next = 0;
    for (unsigned long n : {37ul, 37ul, 37ul, 37ul, 37ul}) {  // 185 frames offered, 150 wanted
        const auto in = Ramp(n, next);
        x.Capture(in.data(), n);
        next += static_cast<int>(n);
    }
    WaveHeader* first = x.TakeFinished();
    WaveHeader* second = x.TakeFinished();
    EXPECT_EQ(x.TakeFinished(), nullptr);
    ASSERT_EQ(first, &a.header);
    ASSERT_EQ(second, &b.header);
    EXPECT_EQ(x.InFlight(), 0);
    EXPECT_EQ(a.header.bytesRecorded, 400u);
    EXPECT_EQ(b.header.bytesRecorded, 200u);
    EXPECT_EQ(a.header.flags & (kWhdrDone | kWhdrInQueue), kWhdrDone);
    for (std::size_t f = 0; f < 100; ++f) {
        ASSERT_EQ(a.Left(f), static_cast<std::int16_t>(f));
    }
    for (std::size_t f = 0; f < 50; ++f) {
        ASSERT_EQ(b.Left(f), static_cast<std::int16_t>(100 + f));
    }
}

TEST(BufferExchange, ResetHandsBackThePartlyFilledAndTheQueuedBuffers)
{
    CompletionSignal signal(0);
    BufferExchange x(true, signal);
    x.Restart(4, 16);
    Buf a(100), b(100);
    x.Queue(&a.header);
    x.Queue(&b.header);
    x.SetRecording(true);
    const auto in = Ramp(30, 0);
    x.Capture(in.data(), 30);
    const std::uint32_t request = x.RequestReset();
    EXPECT_FALSE(x.ResetAcknowledged(request));
    x.ServiceReset();  // the next callback
    EXPECT_TRUE(x.ResetAcknowledged(request));
    EXPECT_EQ(x.TakeFinished(), &a.header);
    EXPECT_EQ(x.TakeFinished(), &b.header);
    EXPECT_EQ(a.header.bytesRecorded, 120u);
    EXPECT_EQ(b.header.bytesRecorded, 0u);
    EXPECT_EQ(x.InFlight(), 0);
    // Reset also stops recording: later frames go nowhere, even into a new buffer.
    Buf c(10);
    x.Queue(&c.header);
    x.Capture(in.data(), 30);
    EXPECT_EQ(x.TakeFinished(), nullptr);
    x.ServiceReset();  // no request pending: nothing happens
    EXPECT_EQ(x.TakeFinished(), nullptr);
    x.ReturnAllStopped(x.RequestReset());
    EXPECT_EQ(x.TakeFinished(), &c.header);
}

TEST(BufferExchange, PlayLoopsABufferItsLoopCountThenPlaysSilence)
{
    CompletionSignal signal(0);
    BufferExchange x(false, signal);
    x.Restart(4, 16);
    Buf loop(7);
    const auto ramp = Ramp(7, 1);
    std::memcpy(loop.bytes.data(), ramp.data(), ramp.size());
    loop.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    loop.header.loops = 3;
    Buf once(4);
    const auto tail = Ramp(4, 100);
    std::memcpy(once.bytes.data(), tail.data(), tail.size());
    once.header.loops = 50;  // no loop flags: played once
    x.Queue(&loop.header);
    x.Queue(&once.header);
    std::vector<char> out;
    for (unsigned long n : {5ul, 5ul, 5ul, 5ul, 5ul, 5ul}) {
        std::vector<char> chunk(n * 4, 0x55);
        x.Play(chunk.data(), n);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    std::vector<std::int16_t> expected;
    for (int pass = 0; pass < 3; ++pass) {
        for (int i = 1; i <= 7; ++i) {
            expected.push_back(static_cast<std::int16_t>(i));
        }
    }
    for (int i = 100; i < 104; ++i) {
        expected.push_back(static_cast<std::int16_t>(i));
    }
    expected.resize(30, 0);  // then silence
    EXPECT_EQ(Lefts(out), expected);
    EXPECT_EQ(x.TakeFinished(), &loop.header);
    EXPECT_EQ(x.TakeFinished(), &once.header);
    EXPECT_EQ(x.TakeFinished(), nullptr);
}

TEST(BufferExchange, TheGainScalesEachChannelByItsHalfOfTheVolume)
{
    // Left 0x8000/65535 = 0.5000076, right 0x4000/65535 = 0.2500038; rounded to nearest.
    const std::uint32_t volume = PackVolume(0x8000, 0x4000);
    std::int16_t s16[] = {20000, -20000, -32768, 32767};
    ScaleFrames(reinterpret_cast<char*>(s16), 2, 4, 16, volume);
    EXPECT_EQ(std::vector<std::int16_t>(s16, s16 + 4), (std::vector<std::int16_t>{10000, -5000, -16384, 8192}));
    std::int32_t s32[] = {2000000000, -2147483647 - 1};
    ScaleFrames(reinterpret_cast<char*>(s32), 1, 8, 32, volume);
    EXPECT_EQ(s32[0], 1000015259);
    EXPECT_EQ(s32[1], -536879104);
    unsigned char u8[] = {128 + 100, 128 - 100};  // unsigned around the mid code
    ScaleFrames(reinterpret_cast<char*>(u8), 1, 2, 8, volume);
    EXPECT_EQ(u8[0], 128 + 50);
    EXPECT_EQ(u8[1], 128 - 25);

    // Played through the exchange: scaled with a gain, bit for bit at full volume.
    CompletionSignal signal(0);
    BufferExchange x(false, signal);
    x.Restart(4, 16);
    Buf buffer(4);
    const auto ramp = Ramp(4, 1000);
    std::memcpy(buffer.bytes.data(), ramp.data(), ramp.size());
    buffer.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    buffer.header.loops = 2;
    x.Queue(&buffer.header);
    std::vector<char> out(4 * 4);
    x.Play(out.data(), 4);
    EXPECT_EQ(Lefts(out), (std::vector<std::int16_t>{1000, 1001, 1002, 1003}));
    x.SetGain(volume);
    x.Play(out.data(), 4);
    EXPECT_EQ(Lefts(out), (std::vector<std::int16_t>{500, 501, 501, 502}));
}

TEST(BufferExchange, EightBitSilenceIsTheMidCode)
{
    CompletionSignal signal(0);
    BufferExchange x(false, signal);
    x.Restart(2, 8);
    std::vector<char> out(20, 0);
    x.Play(out.data(), 10);
    for (char c : out) {
        EXPECT_EQ(static_cast<unsigned char>(c), 0x80);
    }
}

TEST(BufferExchange, OutputResetStopsAnEndlessLoop)
{
    CompletionSignal signal(0);
    BufferExchange x(false, signal);
    x.Restart(4, 16);
    Buf loop(3);
    loop.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    loop.header.loops = 1000000;
    x.Queue(&loop.header);
    std::vector<char> out(64 * 4);
    x.Play(out.data(), 64);
    EXPECT_EQ(x.TakeFinished(), nullptr);
    const auto request = x.RequestReset();
    x.ServiceReset();
    EXPECT_TRUE(x.ResetAcknowledged(request));
    EXPECT_EQ(x.TakeFinished(), &loop.header);
    EXPECT_TRUE(loop.header.flags & kWhdrDone);
}

TEST(BufferExchange, QueueRefusesMoreThanItsCapacity)
{
    CompletionSignal signal(0);
    BufferExchange x(true, signal);
    x.Restart(4, 16);
    std::vector<std::unique_ptr<Buf>> bufs;
    for (std::size_t i = 0; i < BufferExchange::kMaxQueued; ++i) {
        bufs.push_back(std::make_unique<Buf>(1));
        ASSERT_TRUE(x.Queue(&bufs.back()->header)) << i;
    }
    Buf extra(1);
    EXPECT_FALSE(x.Queue(&extra.header));
    EXPECT_FALSE(extra.header.flags & kWhdrInQueue);
    EXPECT_EQ(x.InFlight(), static_cast<int>(BufferExchange::kMaxQueued));
    // All of them, plus none lost, come back on reset.
    x.ReturnAllStopped(x.RequestReset());
    int back = 0;
    while (x.TakeFinished() != nullptr) {
        ++back;
    }
    EXPECT_EQ(back, static_cast<int>(BufferExchange::kMaxQueued));
}

TEST(SpscRing, PassesEveryValueInOrderBetweenTwoThreads)
{
    SpscRing<int, 8> ring;
    constexpr int kCount = 200000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            while (!ring.Push(i)) {
                std::this_thread::yield();
            }
        }
    });
    long long sum = 0;
    int expected = 0;
    bool inOrder = true;
    while (expected < kCount) {
        int v = 0;
        if (ring.Pop(v)) {
            inOrder = inOrder && v == expected;
            sum += v;
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(sum, static_cast<long long>(kCount) * (kCount - 1) / 2);
    EXPECT_TRUE(ring.Empty());
}

TEST(SpscRing, HoldsOneLessThanItsCapacity)
{
    SpscRing<int, 4> ring;
    EXPECT_TRUE(ring.Push(1));
    EXPECT_TRUE(ring.Push(2));
    EXPECT_TRUE(ring.Push(3));
    EXPECT_FALSE(ring.Push(4));
    int v = 0;
    EXPECT_TRUE(ring.Pop(v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(ring.Push(4));
}

}  // namespace
}  // namespace sonvera
