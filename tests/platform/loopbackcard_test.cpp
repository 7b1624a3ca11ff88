// The virtual loopback card: what is played comes back (left bit-exact, right through the
// device under test), looping, clocks, volumes, the state rules of the calls, and fault
// injection on every call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <functional>
#include <cstring>
#include <mutex>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "platform/loopbackcard.h"

namespace sonvera {
namespace {

WaveFormat Pcm(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels = 2)
{
    WaveFormat f;
    f.SamplesPerSec = rate;
    f.BitsPerSample = bits;
    f.Channels = channels;
    f.BlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.AvgBytesPerSec = f.BlockAlign * rate;
    return f;
}

// Collects what the card posts, from any thread.
struct Inbox {
    std::mutex mutex;
    std::vector<std::pair<WaveMessage, WaveHeader*>> messages;
    std::vector<std::thread::id> threads;

    WavePost Post()
    {
        return [this](WaveMessage m, WaveHeader* h) {
            std::lock_guard lock(mutex);
            messages.emplace_back(m, h);
            threads.push_back(std::this_thread::get_id());
        };
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return messages.size();
    }
};

// A buffer with its header.
struct Buffer {
    std::vector<char> bytes;
    WaveHeader header;
    explicit Buffer(std::size_t size) : bytes(size)
    {
        header.data = bytes.data();
        header.bufferLength = static_cast<std::uint32_t>(size);
    }
    std::int16_t Int16(std::size_t index) const
    {
        std::int16_t v;
        std::memcpy(&v, bytes.data() + 2 * index, 2);
        return v;
    }
    void SetInt16(std::size_t index, std::int16_t v) { std::memcpy(bytes.data() + 2 * index, &v, 2); }
    std::int32_t Int32(std::size_t index) const
    {
        std::int32_t v;
        std::memcpy(&v, bytes.data() + 4 * index, 4);
        return v;
    }
    void SetInt32(std::size_t index, std::int32_t v) { std::memcpy(bytes.data() + 4 * index, &v, 4); }
};

// Plays `out` (optionally looping) and records `in` on `card`, both in `fmt`.
void PlayAndRecord(LoopbackCard& card, const WaveFormat& fmt, Buffer& out, Buffer& in,
                   std::uint32_t loops = 0, Inbox* inbox = nullptr)
{
    Inbox local;
    Inbox& box = inbox ? *inbox : local;
    WaveOutHandle ho{};
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, box.Post(), 0), kMmNoError);
    out.header.flags = 0;
    ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
    if (loops > 0) {
        out.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
        out.header.loops = loops;
    }
    ASSERT_EQ(card.WaveOutWrite(ho, &out.header), kMmNoError);
    ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, box.Post(), 0), kMmNoError);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    ASSERT_EQ(card.WaveInReset(hi), kMmNoError);
    ASSERT_EQ(card.WaveInUnprepareHeader(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInClose(hi), kMmNoError);
    ASSERT_EQ(card.WaveOutReset(ho), kMmNoError);
    ASSERT_EQ(card.WaveOutUnprepareHeader(ho, &out.header), kMmNoError);
    ASSERT_EQ(card.WaveOutClose(ho), kMmNoError);
}

double Rms(const std::vector<double>& x)
{
    double s = 0.0;
    for (double v : x) {
        s += v * v;
    }
    return std::sqrt(s / static_cast<double>(x.size()));
}

TEST(LoopbackCard, ReportsOneCardWithThreeAuxLines)
{
    LoopbackCard card(DutConfig{});
    EXPECT_EQ(card.BackendName(), "virtual");
    EXPECT_EQ(card.WaveInGetNumDevs(), 1u);
    EXPECT_EQ(card.WaveOutGetNumDevs(), 1u);
    EXPECT_EQ(card.MidiOutGetNumDevs(), 0u);
    ASSERT_EQ(card.AuxGetNumDevs(), 3u);
    WaveInCaps in;
    ASSERT_EQ(card.WaveInGetDevCaps(0, in), kMmNoError);
    EXPECT_EQ(in.productName, "Sonvera Loopback");
    EXPECT_EQ(in.channels, 2);
    EXPECT_EQ(in.formats, kFormatAllStandard);
    WaveOutCaps out;
    ASSERT_EQ(card.WaveOutGetDevCaps(0, out), kMmNoError);
    EXPECT_EQ(out.productName, "Sonvera Loopback");
    EXPECT_EQ(out.support, kWaveCapsVolume | kWaveCapsLrVolume);
    const char* names[] = {"Line-In", "Mic", "CD"};
    const std::uint16_t tech[] = {2, 2, 1};
    for (unsigned i = 0; i < 3; ++i) {
        AuxCaps aux;
        ASSERT_EQ(card.AuxGetDevCaps(i, aux), kMmNoError);
        EXPECT_EQ(aux.productName, names[i]);
        EXPECT_EQ(aux.technology, tech[i]);
    }
    AuxCaps aux;
    EXPECT_EQ(card.AuxGetDevCaps(3, aux), kMmBadDeviceId);
    EXPECT_EQ(card.WaveInGetDevCaps(1, in), kMmBadDeviceId);
    EXPECT_EQ(card.WaveOutGetDevCaps(7, out), kMmBadDeviceId);
}

TEST(LoopbackCard, CountsAndCapabilitiesCanBeOverridden)
{
    LoopbackCard card(DutConfig{});
    card.SetDeviceCounts(3, 0, 2, 0);
    EXPECT_EQ(card.WaveInGetNumDevs(), 3u);
    EXPECT_EQ(card.WaveOutGetNumDevs(), 0u);
    EXPECT_EQ(card.MidiOutGetNumDevs(), 2u);
    EXPECT_EQ(card.AuxGetNumDevs(), 0u);
    WaveInCaps in;
    ASSERT_EQ(card.WaveInGetDevCaps(2, in), kMmNoError);
    EXPECT_EQ(in.productName, "Sonvera Loopback 3");
    WaveInCaps custom;
    custom.productName = "A product name far longer than thirty-one characters";
    custom.formats = 0x0800;
    custom.channels = 1;
    custom.reserved = 0xBEEF;
    card.SetWaveInCaps(1, custom);
    ASSERT_EQ(card.WaveInGetDevCaps(1, in), kMmNoError);
    EXPECT_EQ(in.productName, "A product name far longer than ");
    EXPECT_EQ(in.productName.size(), 31u);
    EXPECT_EQ(in.formats, 0x0800u);
    EXPECT_EQ(in.reserved, 0xBEEF);
    WaveOutHandle ho{};
    EXPECT_EQ(card.WaveOutOpen(&ho, 0, Pcm(44100, 16), nullptr, 0), kMmBadDeviceId);
    WaveInHandle hi{};
    EXPECT_EQ(card.WaveInOpen(&hi, 2, Pcm(44100, 16), nullptr, 0), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
    card.SetDeviceCounts(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(card.AuxGetNumDevs(), 3u);
}

TEST(LoopbackCard, LongProductNamesAreCutWithoutSplittingACharacter)
{
    LoopbackCard card;
    // 30 ASCII characters, then "ä" (2 bytes) in bytes 31 and 32: it must go whole.
    const std::string name = std::string(30, 'n') + "\xC3\xA4" + "rest";
    WaveInCaps in;
    in.productName = name;
    card.SetWaveInCaps(0, in);
    WaveOutCaps out;
    out.productName = std::string(29, 'o') + "\xC3\xA4" + "\xC3\xB6";
    card.SetWaveOutCaps(0, out);
    AuxCaps aux;
    aux.productName = name;
    card.SetAuxCaps(0, aux);

    ASSERT_EQ(card.WaveInGetDevCaps(0, in), kMmNoError);
    EXPECT_EQ(in.productName, std::string(30, 'n'));
    ASSERT_EQ(card.WaveOutGetDevCaps(0, out), kMmNoError);
    EXPECT_EQ(out.productName, std::string(29, 'o') + "\xC3\xA4");  // 31 bytes, whole
    ASSERT_EQ(card.AuxGetDevCaps(0, aux), kMmNoError);
    EXPECT_EQ(aux.productName, std::string(30, 'n'));
}

TEST(LoopbackCard, LeftInputIsLeftOutputBitExactIn16Bit)
{
    LoopbackCard card(DefaultDut());  // the right channel's DUT must not touch the left
    const WaveFormat fmt = Pcm(44100, 16);
    Buffer out(4096 * 4);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    for (std::size_t i = 0; i < 4096 * 2; ++i) {
        out.SetInt16(i, static_cast<std::int16_t>(dist(rng)));
    }
    Buffer in(4096 * 4);
    PlayAndRecord(card, fmt, out, in);
    ASSERT_EQ(in.header.bytesRecorded, 4096u * 4);
    for (std::size_t frame = 0; frame < 4096; ++frame) {
        ASSERT_EQ(in.Int16(2 * frame), out.Int16(2 * frame)) << frame;
    }
}

TEST(LoopbackCard, IdealDeviceReturnsBothChannelsExactlyInEveryDepth)
{
    for (std::uint16_t bits : {8, 16, 32}) {
        LoopbackCard card(DutConfig{});
        const WaveFormat fmt = Pcm(48000, bits);
        Buffer out(1000 * fmt.BlockAlign);
        std::mt19937 rng(bits);
        for (char& c : out.bytes) {
            c = static_cast<char>(rng());
        }
        if (bits == 32) {  // 24-bit samples travel in 32-bit containers, low byte 0
            for (std::size_t i = 0; i < 2000; ++i) {
                out.SetInt32(i, out.Int32(i) & ~0xFF);
            }
        }
        Buffer in(1000 * fmt.BlockAlign);
        PlayAndRecord(card, fmt, out, in);
        EXPECT_EQ(in.bytes, out.bytes) << bits << " bits";
    }
}

TEST(LoopbackCard, LoopingBufferRepeatsForItsLoopCountThenFallsSilent)
{
    LoopbackCard card(DutConfig{});
    const WaveFormat fmt = Pcm(44100, 16);
    Buffer out(100 * 4);
    for (std::size_t i = 0; i < 200; ++i) {
        out.SetInt16(i, static_cast<std::int16_t>(100 * i + 1));
    }
    Buffer in(500 * 4);
    Inbox inbox;
    PlayAndRecord(card, fmt, out, in, 3, &inbox);
    for (std::size_t frame = 0; frame < 500; ++frame) {
        const std::int16_t expected = frame < 300 ? out.Int16(2 * (frame % 100)) : 0;
        ASSERT_EQ(in.Int16(2 * frame), expected) << frame;
        ASSERT_EQ(in.Int16(2 * frame + 1), frame < 300 ? out.Int16(2 * (frame % 100) + 1) : 0);
    }
    // The output buffer was done (posted) once the recording passed its end.
    std::size_t outDone = 0;
    for (const auto& [m, h] : inbox.messages) {
        outDone += (m == WaveMessage::OutDone && h == &out.header) ? 1 : 0;
    }
    EXPECT_EQ(outDone, 1u);
}

TEST(LoopbackCard, BufferWithoutLoopFlagsPlaysOnceWhateverItsLoopCount)
{
    LoopbackCard card(DutConfig{});
    const WaveFormat fmt = Pcm(44100, 16);
    Buffer out(50 * 4);
    for (std::size_t i = 0; i < 100; ++i) {
        out.SetInt16(i, 1000);
    }
    out.header.loops = 10;  // ignored without begin/end loop flags
    Buffer in(200 * 4);
    PlayAndRecord(card, fmt, out, in);
    EXPECT_EQ(in.Int16(2 * 49), 1000);
    EXPECT_EQ(in.Int16(2 * 50), 0);
}

TEST(LoopbackCard, LongLoopKeepsPlayingAcrossManyBlocks)
{
    LoopbackCard card(DutConfig{});
    const WaveFormat fmt = Pcm(44100, 16);
    WaveOutHandle ho{};
    ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, nullptr, 0), kMmNoError);
    Buffer out(441 * 4);  // 10 ms of a 100 Hz square, one period
    for (std::size_t f = 0; f < 441; ++f) {
        out.SetInt16(2 * f, f < 220 ? 8000 : -8000);
        out.SetInt16(2 * f + 1, static_cast<std::int16_t>(f));
    }
    ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
    out.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    out.header.loops = 1000000;
    ASSERT_EQ(card.WaveOutWrite(ho, &out.header), kMmNoError);
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, nullptr, 0), kMmNoError);
    Buffer in(1000 * 4);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &in.header), kMmNoError);
    std::size_t played = 0;  // frames recorded so far: the position in the loop
    for (int block = 0; block < 20; ++block) {
        ASSERT_EQ(card.WaveInAddBuffer(hi, &in.header), kMmNoError);
        ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
        ASSERT_TRUE(in.header.flags & kWhdrDone);
        for (std::size_t f = 0; f < 1000; ++f) {
            ASSERT_EQ(in.Int16(2 * f + 1), static_cast<std::int16_t>((played + f) % 441));
        }
        played += 1000;
        // Stopping between blocks: the time line goes on only while recording.
        ASSERT_EQ(card.WaveInReset(hi), kMmNoError);
    }
    EXPECT_EQ(card.WaveOutClose(ho), kWaveStillPlaying);
    EXPECT_EQ(card.WaveOutReset(ho), kMmNoError);
    EXPECT_EQ(card.WaveOutUnprepareHeader(ho, &out.header), kMmNoError);
    EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &in.header), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
}

TEST(LoopbackCard, AFullSizeBufferLoopedAMillionTimesIsHeardNotSilence)
{
    // 16317 frames (a whole 65268-byte buffer) times a million loops is far beyond the
    // range in which frames * ticks-per-second fits 64 bits.
    LoopbackCard card(DutConfig{});
    const WaveFormat fmt = Pcm(44100, 16);
    WaveOutHandle ho{};
    ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, nullptr, 0), kMmNoError);
    constexpr std::size_t kFrames = 16317;
    Buffer out(kFrames * 4);
    for (std::size_t f = 0; f < kFrames; ++f) {
        out.SetInt16(2 * f, 1000);
        out.SetInt16(2 * f + 1, static_cast<std::int16_t>(f % 30000));
    }
    ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
    out.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    out.header.loops = 1000000;
    ASSERT_EQ(card.WaveOutWrite(ho, &out.header), kMmNoError);
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, nullptr, 0), kMmNoError);
    Buffer in(1000 * 4);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    ASSERT_TRUE(in.header.flags & kWhdrDone);
    for (std::size_t f = 0; f < 1000; ++f) {
        ASSERT_EQ(in.Int16(2 * f + 1), static_cast<std::int16_t>(f));
    }
    EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
    EXPECT_EQ(card.WaveOutReset(ho), kMmNoError);
    EXPECT_EQ(card.WaveOutUnprepareHeader(ho, &out.header), kMmNoError);
    EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &in.header), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
}

TEST(LoopbackCard, RightChannelIsDelayedByTheGivenSamples)
{
    DutConfig dut;
    dut.delaySamples = 7;
    LoopbackCard card(dut);
    const WaveFormat fmt = Pcm(44100, 16);
    Buffer out(300 * 4);
    for (std::size_t f = 0; f < 300; ++f) {
        const auto v = static_cast<std::int16_t>(37 * f - 5000);
        out.SetInt16(2 * f, v);
        out.SetInt16(2 * f + 1, v);
    }
    Buffer in(300 * 4);
    PlayAndRecord(card, fmt, out, in);
    for (std::size_t f = 0; f < 300; ++f) {
        ASSERT_EQ(in.Int16(2 * f), out.Int16(2 * f));
        ASSERT_EQ(in.Int16(2 * f + 1), f < 7 ? 0 : out.Int16(2 * (f - 7))) << f;
    }
}

TEST(LoopbackCard, RightChannelGoesThroughTheDeviceUnderTest)
{
    DutConfig dut;
    dut.gainDb = -6.0;
    dut.lowPassHz = 1000.0;
    LoopbackCard card(dut);
    const double fs = 48000.0;
    const WaveFormat fmt = Pcm(48000, 32);
    const std::size_t frames = 9600;
    Buffer out(frames * 8);
    for (std::size_t f = 0; f < frames; ++f) {
        const double v = 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * f / fs);
        const auto s = static_cast<std::int32_t>(std::lround(v * 2147483647.0));
        out.SetInt32(2 * f, s);
        out.SetInt32(2 * f + 1, s);
    }
    Buffer in(frames * 8);
    PlayAndRecord(card, fmt, out, in);
    // Amplitudes over the second half (filter settled), direct DFT at 1 kHz.
    std::complex<double> left = 0.0, right = 0.0;
    for (std::size_t f = frames / 2; f < frames; ++f) {
        const auto w = std::polar(1.0, -2.0 * std::numbers::pi * 1000.0 * f / fs);
        left += in.Int32(2 * f) / 2147483648.0 * w;
        right += in.Int32(2 * f + 1) / 2147483648.0 * w;
    }
    const double ratioDb = 20.0 * std::log10(std::abs(right) / std::abs(left));
    EXPECT_NEAR(ratioDb, -6.0 - 3.0103, 0.001);  // gain plus the corner's -3 dB
    EXPECT_NEAR(std::arg(right / left), -std::numbers::pi / 2.0, 0.001);  // 2nd-order corner: -90 degrees
}

TEST(LoopbackCard, SilenceWhenNothingPlaysWithTheDeviceNoiseOnTheRight)
{
    DutConfig dut;
    dut.noise = true;
    dut.noiseDbfs = -50.0;
    LoopbackCard card(dut);
    const WaveFormat fmt = Pcm(44100, 16);
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, nullptr, 0), kMmNoError);
    Buffer in(16384 * 4);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &in.header), kMmNoError);
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    std::vector<double> right;
    for (std::size_t f = 0; f < 16384; ++f) {
        ASSERT_EQ(in.Int16(2 * f), 0);
        right.push_back(in.Int16(2 * f + 1) / 32768.0);
    }
    EXPECT_NEAR(20.0 * std::log10(Rms(right)), -50.0, 0.2);
    EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &in.header), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
}

TEST(LoopbackCard, VolumesScaleOutputAndLineInWhileOtherLinesAddNothing)
{
    LoopbackCard card(DutConfig{});
    std::uint32_t v = 0;
    ASSERT_EQ(card.WaveOutGetVolume(0, v), kMmNoError);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    const WaveFormat fmt = Pcm(44100, 16);
    Buffer out(64 * 4);
    for (std::size_t i = 0; i < 128; ++i) {
        out.SetInt16(i, 16000);
    }
    // Wave-out: left at half, right full; Line-In: left full, right at a quarter.
    ASSERT_EQ(card.WaveOutSetVolume(0, PackVolume(32768, 65535)), kMmNoError);
    ASSERT_EQ(card.AuxSetVolume(0, PackVolume(65535, 16384)), kMmNoError);
    ASSERT_EQ(card.AuxSetVolume(1, 0), kMmNoError);  // Mic silent: changes nothing
    ASSERT_EQ(card.AuxSetVolume(2, 0), kMmNoError);  // CD silent: changes nothing
    Buffer in(64 * 4);
    PlayAndRecord(card, fmt, out, in);
    EXPECT_EQ(in.Int16(0), std::lround(16000.0 * 32768.0 / 65535.0));
    EXPECT_EQ(in.Int16(1), std::lround(16000.0 * 16384.0 / 65535.0));
    ASSERT_EQ(card.AuxGetVolume(0, v), kMmNoError);
    EXPECT_EQ(v, PackVolume(65535, 16384));
    ASSERT_EQ(card.WaveOutGetVolume(0, v), kMmNoError);
    EXPECT_EQ(v, PackVolume(32768, 65535));

    ASSERT_EQ(card.AuxSetVolume(0, 0), kMmNoError);  // Line-In down: silence
    PlayAndRecord(card, fmt, out, in);
    EXPECT_EQ(in.Int16(0), 0);
    EXPECT_EQ(in.Int16(1), 0);

    EXPECT_EQ(card.AuxSetVolume(3, 0), kMmBadDeviceId);
    EXPECT_EQ(card.AuxGetVolume(3, v), kMmBadDeviceId);
    EXPECT_EQ(card.WaveOutSetVolume(1, 0), kMmBadDeviceId);
}

TEST(LoopbackCard, InstantClockPostsEveryBufferInOrderBeforeTheCallReturns)
{
    LoopbackCard card(DutConfig{}, LoopbackClock::Instant);
    Inbox inbox;
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, Pcm(44100, 16), inbox.Post(), 0), kMmNoError);
    Buffer a(400), b(800), c(1200);
    for (Buffer* buf : {&a, &b, &c}) {
        buf->header.user = reinterpret_cast<std::uintptr_t>(buf);
        ASSERT_EQ(card.WaveInPrepareHeader(hi, &buf->header), kMmNoError);
        ASSERT_EQ(card.WaveInAddBuffer(hi, &buf->header), kMmNoError);
    }
    EXPECT_EQ(inbox.Count(), 0u);  // nothing before start
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    ASSERT_EQ(inbox.Count(), 3u);
    EXPECT_EQ(inbox.messages[0].second, &a.header);
    EXPECT_EQ(inbox.messages[1].second, &b.header);
    EXPECT_EQ(inbox.messages[2].second, &c.header);
    for (const auto& [m, h] : inbox.messages) {
        EXPECT_EQ(m, WaveMessage::InData);
        EXPECT_EQ(h->bytesRecorded, h->bufferLength);
        EXPECT_EQ(h->flags & (kWhdrDone | kWhdrInQueue), kWhdrDone);
        EXPECT_EQ(h->user, reinterpret_cast<std::uintptr_t>(h == &a.header ? &a : h == &b.header ? &b : &c));
    }
    for (const auto& id : inbox.threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
    EXPECT_EQ(card.PostedInData(), 3u);
    // A buffer added while recording completes at once too.
    ASSERT_EQ(card.WaveInAddBuffer(hi, &a.header), kMmNoError);
    EXPECT_EQ(inbox.Count(), 4u);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
}

TEST(LoopbackCard, RealTimeClockPostsEveryBufferFromItsOwnThread)
{
    LoopbackCard card(DutConfig{}, LoopbackClock::RealTime);
    Inbox inbox;
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, Pcm(44100, 16), inbox.Post(), 0), kMmNoError);
    std::vector<std::unique_ptr<Buffer>> buffers;
    for (int i = 0; i < 4; ++i) {
        buffers.push_back(std::make_unique<Buffer>(441 * 4));  // 10 ms each
        ASSERT_EQ(card.WaveInPrepareHeader(hi, &buffers.back()->header), kMmNoError);
        ASSERT_EQ(card.WaveInAddBuffer(hi, &buffers.back()->header), kMmNoError);
    }
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (inbox.Count() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(inbox.Count(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(inbox.messages[i].second, &buffers[i]->header);
        EXPECT_EQ(inbox.messages[i].second->bytesRecorded, 441u * 4);
        EXPECT_NE(inbox.threads[i], std::this_thread::get_id());
    }
    EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
    EXPECT_EQ(card.PostedInData(), 4u);
}

TEST(LoopbackCard, RealTimeClockPostsAnOutputBufferOnceItHasPlayed)
{
    LoopbackCard card(DutConfig{}, LoopbackClock::RealTime);
    Inbox inbox;
    WaveOutHandle ho{};
    ASSERT_EQ(card.WaveOutOpen(&ho, 0, Pcm(44100, 16), inbox.Post(), 0), kMmNoError);
    Buffer out(441 * 4);  // 10 ms, played twice
    ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
    out.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    out.header.loops = 2;
    ASSERT_EQ(card.WaveOutWrite(ho, &out.header), kMmNoError);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (inbox.Count() < 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(inbox.Count(), 1u);
    EXPECT_EQ(inbox.messages[0].first, WaveMessage::OutDone);
    EXPECT_EQ(inbox.messages[0].second, &out.header);
    EXPECT_NE(inbox.threads[0], std::this_thread::get_id());
    EXPECT_EQ(out.header.flags & (kWhdrDone | kWhdrInQueue), kWhdrDone);
    EXPECT_EQ(card.WaveOutUnprepareHeader(ho, &out.header), kMmNoError);
    EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
    EXPECT_EQ(card.PostedOutDone(), 1u);
}

TEST(LoopbackCard, RealTimeInputRunsOnWhileNoBufferIsQueued)
{
    // The output plays a 1 s ramp, so each recorded frame tells when it was recorded.
    LoopbackCard card(DutConfig{}, LoopbackClock::RealTime);
    const WaveFormat fmt = Pcm(44100, 16);
    Buffer out(44100 * 4);
    for (std::size_t f = 0; f < 44100; ++f) {
        out.SetInt16(2 * f, static_cast<std::int16_t>(f % 30000));
        out.SetInt16(2 * f + 1, static_cast<std::int16_t>(f / 30000));
    }
    WaveOutHandle ho{};
    ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, nullptr, 0), kMmNoError);
    ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
    out.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    out.header.loops = 100;
    ASSERT_EQ(card.WaveOutWrite(ho, &out.header), kMmNoError);
    Inbox inbox;
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, inbox.Post(), 0), kMmNoError);
    Buffer a(100 * 4), b(100 * 4);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &a.header), kMmNoError);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &b.header), kMmNoError);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &a.header), kMmNoError);
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    auto waitFor = [&](std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (inbox.Count() < n && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return inbox.Count() >= n;
    };
    ASSERT_TRUE(waitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing queued meanwhile
    ASSERT_EQ(card.WaveInAddBuffer(hi, &b.header), kMmNoError);
    ASSERT_TRUE(waitFor(2));
    auto position = [](const Buffer& buf, std::size_t frame) {
        return buf.Int16(2 * frame + 1) * 30000 + buf.Int16(2 * frame);
    };
    for (std::size_t f = 1; f < 100; ++f) {  // each block is contiguous in itself
        ASSERT_EQ(position(a, f), position(a, f - 1) + 1);
        ASSERT_EQ(position(b, f), position(b, f - 1) + 1);
    }
    // The second block starts when it was queued, not where the first one ended.
    EXPECT_GT(position(b, 0), position(a, 99) + 1);
    EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
    EXPECT_EQ(card.WaveOutReset(ho), kMmNoError);
    EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
}

TEST(LoopbackCard, RealTimeRecordingHoldsWhatPlayedBeforeAVolumeChangeOrAReset)
{
    // A constant plays on the left; 0.2 s into a 1 s recording the output is silenced.
    // Every frame recorded before the call holds the constant, every frame after it 0,
    // however late the card's own thread gets to record them.
    struct Case {
        const char* change;
        std::function<void(LoopbackCard&, WaveOutHandle)> silence;
    };
    const Case cases[] = {
        {"volume", [](LoopbackCard& c, WaveOutHandle) { ASSERT_EQ(c.WaveOutSetVolume(0, 0), kMmNoError); }},
        {"reset", [](LoopbackCard& c, WaveOutHandle h) { ASSERT_EQ(c.WaveOutReset(h), kMmNoError); }},
    };
    for (const Case& c : cases) {
        LoopbackCard card(DutConfig{}, LoopbackClock::RealTime);
        const WaveFormat fmt = Pcm(8000, 16);
        Buffer out(100 * 4);
        for (std::size_t i = 0; i < 200; ++i) {
            out.SetInt16(i, 10000);
        }
        WaveOutHandle ho{};
        ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, nullptr, 0), kMmNoError);
        ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
        out.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
        out.header.loops = 1000;
        ASSERT_EQ(card.WaveOutWrite(ho, &out.header), kMmNoError);
        Inbox inbox;
        WaveInHandle hi{};
        ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, inbox.Post(), 0), kMmNoError);
        Buffer in(8000 * 4);
        ASSERT_EQ(card.WaveInPrepareHeader(hi, &in.header), kMmNoError);
        ASSERT_EQ(card.WaveInAddBuffer(hi, &in.header), kMmNoError);
        using Clock = std::chrono::steady_clock;
        const auto start0 = Clock::now();
        ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
        const auto start1 = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto change0 = Clock::now();
        c.silence(card, ho);
        const auto change1 = Clock::now();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (inbox.Count() < 1 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(inbox.Count(), 1u) << c.change;
        std::size_t loud = 0;
        while (loud < 8000 && in.Int16(2 * loud) == 10000) {
            ++loud;
        }
        for (std::size_t f = loud; f < 8000; ++f) {
            ASSERT_EQ(in.Int16(2 * f), 0) << c.change << ", frame " << f;
        }
        // The change falls between the frames the calls' times allow (two frames of slack: the card counts whole frames from its start, on a frame grid).
        const auto frames = [](Clock::duration d) {
            return std::chrono::duration<double>(d).count() * 8000.0;
        };
        EXPECT_GE(static_cast<double>(loud), frames(change0 - start1) - 2.0) << c.change;
        EXPECT_LE(static_cast<double>(loud), frames(change1 - start0) + 2.0) << c.change;
        EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
        EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
        EXPECT_EQ(card.WaveOutReset(ho), kMmNoError);
        EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
    }
}

TEST(LoopbackCard, RealTimeResetReturnsTheQueuedBuffers)
{
    LoopbackCard card(DutConfig{}, LoopbackClock::RealTime);
    Inbox inbox;
    WaveInHandle hi{};
    ASSERT_EQ(card.WaveInOpen(&hi, 0, Pcm(8000, 16), inbox.Post(), 0), kMmNoError);
    Buffer a(8000 * 4 * 30), b(4000);  // 30 s: never due during this test
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &a.header), kMmNoError);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &b.header), kMmNoError);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &a.header), kMmNoError);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &b.header), kMmNoError);
    ASSERT_EQ(card.WaveInStart(hi), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kWaveStillPlaying);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &a.header), kWaveStillPlaying);
    ASSERT_EQ(card.WaveInReset(hi), kMmNoError);
    ASSERT_EQ(inbox.Count(), 2u);
    EXPECT_LT(a.header.bytesRecorded, a.header.bufferLength);
    EXPECT_EQ(a.header.bytesRecorded % 4, 0u);
    EXPECT_EQ(b.header.bytesRecorded, 0u);
    EXPECT_TRUE(a.header.flags & kWhdrDone);
    EXPECT_FALSE(b.header.flags & kWhdrInQueue);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &a.header), kMmNoError);
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &b.header), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
}

TEST(LoopbackCard, PlayRecordRecordsFromTheFirstPlayedFrameOnBothClocks)
{
    // Output frame i comes back as input frame i (left bit-exact, right through a delay
    // of 5 frames); after the output's end the input records silence.
    for (const LoopbackClock clock : {LoopbackClock::Instant, LoopbackClock::RealTime}) {
        DutConfig dut;
        dut.delaySamples = 5;
        LoopbackCard card(dut, clock);
        const WaveFormat fmt = Pcm(48000, 16);
        const std::size_t outFrames = 4800;  // 0.1 s
        Buffer out(outFrames * 4);
        Buffer in((outFrames + 960) * 4);
        std::mt19937 rng(7);
        for (std::size_t i = 0; i < 2 * outFrames; ++i) {
            out.SetInt16(i, static_cast<std::int16_t>(rng() % 60000 - 30000));
        }
        Inbox box;
        WaveOutHandle ho{};
        WaveInHandle hi{};
        ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, box.Post(), 0), kMmNoError);
        ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, box.Post(), 0), kMmNoError);
        ASSERT_EQ(card.WaveOutPrepareHeader(ho, &out.header), kMmNoError);
        ASSERT_EQ(card.WaveInPrepareHeader(hi, &in.header), kMmNoError);
        ASSERT_EQ(card.WaveInAddBuffer(hi, &in.header), kMmNoError);
        ASSERT_EQ(card.WavePlayRecord(ho, &out.header, hi), kMmNoError);
        EXPECT_EQ(card.WavePlayRecord(ho, &out.header, hi), kWaveStillPlaying);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((in.header.flags & kWhdrDone) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(in.header.flags & kWhdrDone);
        EXPECT_EQ(in.header.bytesRecorded, in.header.bufferLength);
        std::size_t leftWrong = 0, rightWrong = 0;
        for (std::size_t i = 0; i < outFrames + 960; ++i) {
            const std::int16_t left = i < outFrames ? out.Int16(2 * i) : 0;
            const std::int16_t right = i >= 5 && i - 5 < outFrames ? out.Int16(2 * (i - 5) + 1) : 0;
            leftWrong += in.Int16(2 * i) != left;
            rightWrong += in.Int16(2 * i + 1) != right;
        }
        EXPECT_EQ(leftWrong, 0u) << (clock == LoopbackClock::Instant ? "instant" : "real time");
        EXPECT_EQ(rightWrong, 0u) << (clock == LoopbackClock::Instant ? "instant" : "real time");
        EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
        EXPECT_EQ(card.WaveOutReset(ho), kMmNoError);
        EXPECT_EQ(card.WaveInUnprepareHeader(hi, &in.header), kMmNoError);
        EXPECT_EQ(card.WaveOutUnprepareHeader(ho, &out.header), kMmNoError);
        EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
        EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
    }
}

TEST(LoopbackCard, CallsCheckHandlesHeadersAndFormats)
{
    LoopbackCard card(DutConfig{});
    const WaveFormat fmt = Pcm(44100, 16);
    WaveInHandle hi{};
    // Query-only opens open nothing and need no handle.
    EXPECT_EQ(card.WaveInOpen(nullptr, 0, fmt, nullptr, kWaveOpenQuery), kMmNoError);
    EXPECT_EQ(card.WaveInOpen(nullptr, 0, Pcm(44100, 24), nullptr, kWaveOpenQuery), kWaveBadFormat);
    WaveFormat badAlign = fmt;
    badAlign.BlockAlign = 3;
    EXPECT_EQ(card.WaveOutOpen(nullptr, 0, badAlign, nullptr, kWaveOpenQuery), kWaveBadFormat);
    WaveFormat notPcm = fmt;
    notPcm.FormatTag = 3;
    EXPECT_EQ(card.WaveInOpen(nullptr, 0, notPcm, nullptr, kWaveOpenQuery), kWaveBadFormat);
    EXPECT_EQ(card.WaveInOpen(nullptr, 0, Pcm(500, 16), nullptr, kWaveOpenQuery), kWaveBadFormat);
    EXPECT_EQ(card.WaveInOpen(nullptr, 1, fmt, nullptr, kWaveOpenQuery), kMmBadDeviceId);
    EXPECT_EQ(card.WaveInOpen(nullptr, 0, fmt, nullptr, 0), kMmInvalidParam);

    ASSERT_EQ(card.WaveInOpen(&hi, 0, fmt, nullptr, 0), kMmNoError);
    EXPECT_NE(static_cast<std::uint32_t>(hi), 0u);
    WaveInHandle second{};
    EXPECT_EQ(card.WaveInOpen(&second, 0, fmt, nullptr, 0), kMmAllocated);
    const auto stale = static_cast<WaveInHandle>(static_cast<std::uint32_t>(hi) + 100);
    EXPECT_EQ(card.WaveInStart(stale), kMmInvalidHandle);
    Buffer buf(4096);
    EXPECT_EQ(card.WaveInAddBuffer(hi, &buf.header), kWaveUnprepared);
    EXPECT_EQ(card.WaveInPrepareHeader(hi, nullptr), kMmInvalidParam);
    WaveHeader empty;
    EXPECT_EQ(card.WaveInPrepareHeader(hi, &empty), kMmInvalidParam);
    ASSERT_EQ(card.WaveInPrepareHeader(hi, &buf.header), kMmNoError);
    EXPECT_TRUE(buf.header.flags & kWhdrPrepared);
    ASSERT_EQ(card.WaveInAddBuffer(hi, &buf.header), kMmNoError);
    EXPECT_EQ(card.WaveInAddBuffer(hi, &buf.header), kWaveStillPlaying);
    EXPECT_EQ(card.WaveInClose(hi), kWaveStillPlaying);
    EXPECT_EQ(card.WaveInReset(hi), kMmNoError);
    EXPECT_EQ(buf.header.bytesRecorded, 0u);  // never started: nothing recorded
    EXPECT_EQ(card.WaveInUnprepareHeader(hi, &buf.header), kMmNoError);
    EXPECT_FALSE(buf.header.flags & kWhdrPrepared);
    EXPECT_EQ(card.WaveInClose(hi), kMmNoError);
    EXPECT_EQ(card.WaveInClose(hi), kMmInvalidHandle);

    WaveOutHandle ho{};
    ASSERT_EQ(card.WaveOutOpen(&ho, 0, fmt, nullptr, 0), kMmNoError);
    EXPECT_EQ(card.WaveOutWrite(ho, &buf.header), kWaveUnprepared);
    ASSERT_EQ(card.WaveOutPrepareHeader(ho, &buf.header), kMmNoError);
    buf.header.flags |= kWhdrBeginLoop | kWhdrEndLoop;
    buf.header.loops = 1000000;
    ASSERT_EQ(card.WaveOutWrite(ho, &buf.header), kMmNoError);
    EXPECT_EQ(card.WaveOutUnprepareHeader(ho, &buf.header), kWaveStillPlaying);
    EXPECT_EQ(card.WaveOutClose(ho), kWaveStillPlaying);
    EXPECT_EQ(card.WaveOutReset(ho), kMmNoError);
    EXPECT_EQ(card.WaveOutUnprepareHeader(ho, &buf.header), kMmNoError);
    EXPECT_EQ(card.WaveOutClose(ho), kMmNoError);
    EXPECT_EQ(card.WaveOutReset(ho), kMmInvalidHandle);
}

// Runs a valid sequence of calls that reaches `call`, calling `call` itself `attempts`
// times in a row; returns the results of those attempts.
std::vector<MmResult> RunCall(LoopbackCard& card, WaveCall call, int attempts)
{
    const WaveFormat fmt = Pcm(44100, 16);
    std::vector<char> bytes(4096);
    WaveHeader h;
    h.data = bytes.data();
    h.bufferLength = 4096;
    WaveInCaps ic;
    WaveOutCaps oc;
    AuxCaps ac;
    std::uint32_t v = 0;
    WaveInHandle hi{};
    WaveOutHandle ho{};
    std::vector<MmResult> results;
    auto invoke = [&](WaveCall which, auto fn) {
        if (which != call) {
            return fn();
        }
        MmResult r = kMmNoError;
        for (int a = 0; a < attempts; ++a) {
            r = fn();
            results.push_back(r);
        }
        return r;
    };
    invoke(WaveCall::WaveInGetDevCaps, [&] { return card.WaveInGetDevCaps(0, ic); });
    invoke(WaveCall::WaveOutGetDevCaps, [&] { return card.WaveOutGetDevCaps(0, oc); });
    invoke(WaveCall::AuxGetDevCaps, [&] { return card.AuxGetDevCaps(0, ac); });
    invoke(WaveCall::WaveInOpenQuery,
           [&] { return card.WaveInOpen(nullptr, 0, fmt, nullptr, kWaveOpenQuery); });
    invoke(WaveCall::WaveOutOpenQuery,
           [&] { return card.WaveOutOpen(nullptr, 0, fmt, nullptr, kWaveOpenQuery); });
    invoke(WaveCall::WaveOutGetVolume, [&] { return card.WaveOutGetVolume(0, v); });
    invoke(WaveCall::WaveOutSetVolume, [&] { return card.WaveOutSetVolume(0, 0xFFFFFFFF); });
    invoke(WaveCall::AuxGetVolume, [&] { return card.AuxGetVolume(0, v); });
    invoke(WaveCall::AuxSetVolume, [&] { return card.AuxSetVolume(0, 0xFFFFFFFF); });

    if (invoke(WaveCall::WaveInOpen, [&] { return card.WaveInOpen(&hi, 0, fmt, nullptr, 0); }) ==
        kMmNoError) {
        invoke(WaveCall::WaveInPrepareHeader, [&] { return card.WaveInPrepareHeader(hi, &h); });
        h.flags |= kWhdrPrepared;
        invoke(WaveCall::WaveInAddBuffer, [&] { return card.WaveInAddBuffer(hi, &h); });
        invoke(WaveCall::WaveInStart, [&] { return card.WaveInStart(hi); });
        invoke(WaveCall::WaveInReset, [&] { return card.WaveInReset(hi); });
        invoke(WaveCall::WaveInUnprepareHeader, [&] { return card.WaveInUnprepareHeader(hi, &h); });
        invoke(WaveCall::WaveInClose, [&] { return card.WaveInClose(hi); });
    }
    h.flags = 0;
    if (invoke(WaveCall::WaveOutOpen, [&] { return card.WaveOutOpen(&ho, 0, fmt, nullptr, 0); }) ==
        kMmNoError) {
        invoke(WaveCall::WaveOutPrepareHeader, [&] { return card.WaveOutPrepareHeader(ho, &h); });
        h.flags |= kWhdrPrepared | kWhdrBeginLoop | kWhdrEndLoop;
        h.loops = 5;
        invoke(WaveCall::WaveOutWrite, [&] { return card.WaveOutWrite(ho, &h); });
        invoke(WaveCall::WaveOutReset, [&] { return card.WaveOutReset(ho); });
        invoke(WaveCall::WaveOutUnprepareHeader, [&] { return card.WaveOutUnprepareHeader(ho, &h); });
        invoke(WaveCall::WaveOutClose, [&] { return card.WaveOutClose(ho); });
    }
    // Play and record: both devices open, the input's buffer added, then the one call.
    WaveHeader in;
    in.data = bytes.data();
    in.bufferLength = 4096;
    std::vector<char> played(4096);
    WaveHeader out;
    out.data = played.data();
    out.bufferLength = 4096;
    if (card.WaveInOpen(&hi, 0, fmt, nullptr, 0) == kMmNoError &&
        card.WaveOutOpen(&ho, 0, fmt, nullptr, 0) == kMmNoError) {
        card.WaveInPrepareHeader(hi, &in);
        card.WaveInAddBuffer(hi, &in);
        card.WaveOutPrepareHeader(ho, &out);
        invoke(WaveCall::WavePlayRecord, [&] { return card.WavePlayRecord(ho, &out, hi); });
        card.WaveInReset(hi);
        card.WaveOutReset(ho);
        card.WaveInUnprepareHeader(hi, &in);
        card.WaveOutUnprepareHeader(ho, &out);
        card.WaveInClose(hi);
        card.WaveOutClose(ho);
    }
    return results;
}

TEST(LoopbackCard, EveryCallCanBeMadeToFailOnceOrAlways)
{
    using Results = std::vector<MmResult>;
    for (int i = 0; i < static_cast<int>(WaveCall::Count_); ++i) {
        const auto call = static_cast<WaveCall>(i);
        LoopbackCard card(DutConfig{});
        ASSERT_EQ(RunCall(card, call, 1), (Results{kMmNoError})) << "call " << i;
        card.InjectFault(call, kMmNoMem);
        EXPECT_EQ(RunCall(card, call, 2), (Results{kMmNoMem, kMmNoError})) << "call " << i;
        card.InjectFault(call, kMmNoMem, true);
        card.ClearFaults();
        EXPECT_EQ(RunCall(card, call, 1), (Results{kMmNoError})) << "call " << i;

        LoopbackCard stuck(DutConfig{});  // an always failing close leaves it open for good
        stuck.InjectFault(call, kWaveBadFormat, true);
        EXPECT_EQ(RunCall(stuck, call, 3), (Results{kWaveBadFormat, kWaveBadFormat, kWaveBadFormat}))
            << "call " << i;
    }
}

TEST(LoopbackCard, QueryAndRealOpenFailIndependently)
{
    LoopbackCard card(DutConfig{});
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated, true);
    EXPECT_EQ(card.WaveInOpen(nullptr, 0, Pcm(44100, 16), nullptr, kWaveOpenQuery), kMmNoError);
    WaveInHandle hi{};
    EXPECT_EQ(card.WaveInOpen(&hi, 0, Pcm(44100, 16), nullptr, 0), kMmAllocated);
}

TEST(LoopbackCard, ErrorTextCallsAnswerKnownCodesAndRefuseOthers)
{
    LoopbackCard card(DutConfig{});
    std::string text = "x";
    EXPECT_EQ(card.WaveInGetErrorText(kMmBadDeviceId, text), kMmNoError);
    EXPECT_EQ(text, WaveInErrorText(kMmBadDeviceId));
    EXPECT_EQ(card.WaveOutGetErrorText(kWaveStillPlaying, text), kMmNoError);
    EXPECT_EQ(text, WaveOutErrorText(kWaveStillPlaying));
    EXPECT_EQ(card.WaveInGetErrorText(1000, text), kMmBadErrNum);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(card.WaveOutGetErrorText(25, text), kMmBadErrNum);
}

}  // namespace
}  // namespace sonvera
