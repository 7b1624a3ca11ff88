// The virtual loopback card's block cycle (open, queue, start, completion posted, reset,
// close), as the capture engine runs it, at 1024 frames and 44100 Hz.
// Reported: on the real-time clock, blocks per second divided by fs/N (1.0 = no time
// lost between blocks); on the instant clock, blocks per second (the cost of the card's
// simulation with the default device under test).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/loopbackcard.h"

namespace {

using sonvera::WaveFormat;
using sonvera::WaveHeader;

constexpr std::uint32_t kFrames = 1024;

// Plays a looping 1 kHz square on the card so the input has something to carry.
struct Playing {
    sonvera::LoopbackCard& card;
    std::vector<char> tone = std::vector<char>(441 * 4);
    WaveHeader header;
    sonvera::WaveOutHandle handle{};

    explicit Playing(sonvera::LoopbackCard& c) : card(c)
    {
        for (std::size_t f = 0; f < 441; ++f) {
            const std::int16_t v = (f % 44) < 22 ? 8000 : -8000;
            std::memcpy(tone.data() + 4 * f, &v, 2);
            std::memcpy(tone.data() + 4 * f + 2, &v, 2);
        }
        header.data = tone.data();
        header.bufferLength = static_cast<std::uint32_t>(tone.size());
        card.WaveOutOpen(&handle, 0, WaveFormat{}, nullptr, 0);
        card.WaveOutPrepareHeader(handle, &header);
        header.flags |= sonvera::kWhdrBeginLoop | sonvera::kWhdrEndLoop;
        header.loops = 1000000;
        card.WaveOutWrite(handle, &header);
    }
    ~Playing()
    {
        card.WaveOutReset(handle);
        card.WaveOutUnprepareHeader(handle, &header);
        card.WaveOutClose(handle);
    }
};

// One block: returns once its completion has been posted.
void OneBlock(sonvera::LoopbackCard& card, std::vector<char>& data, std::atomic<int>& posted)
{
    sonvera::WaveInHandle h{};
    WaveHeader header;
    header.data = data.data();
    header.bufferLength = kFrames * 4;
    const int before = posted.load();
    card.WaveInOpen(&h, 0, WaveFormat{}, [&posted](sonvera::WaveMessage, WaveHeader*) { ++posted; }, 0);
    card.WaveInPrepareHeader(h, &header);
    card.WaveInAddBuffer(h, &header);
    card.WaveInStart(h);
    while (posted.load() == before) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    card.WaveInUnprepareHeader(h, &header);
    card.WaveInReset(h);
    card.WaveInClose(h);
}

void BM_RealTimeBlockLoop(benchmark::State& state)
{
    sonvera::LoopbackCard card(sonvera::DefaultDut(), sonvera::LoopbackClock::RealTime);
    Playing playing(card);
    std::vector<char> data(kFrames * 4);
    std::atomic<int> posted{0};
    const auto start = std::chrono::steady_clock::now();
    std::int64_t blocks = 0;
    for (auto _ : state) {
        OneBlock(card, data, posted);
        ++blocks;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["ratio_to_fs_over_N"] = (blocks / seconds) / (44100.0 / kFrames);
}
BENCHMARK(BM_RealTimeBlockLoop)->Iterations(200)->UseRealTime();

void BM_InstantBlockLoop(benchmark::State& state)
{
    sonvera::LoopbackCard card(sonvera::DefaultDut(), sonvera::LoopbackClock::Instant);
    Playing playing(card);
    std::vector<char> data(kFrames * 4);
    std::atomic<int> posted{0};
    for (auto _ : state) {
        OneBlock(card, data, posted);
    }
    state.counters["blocks_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InstantBlockLoop)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
