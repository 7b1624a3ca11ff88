// Time to fill one 65520-byte generator buffer (44100 Hz, 16 bit, stereo), reported as
// a share of the time that buffer takes to play (wall-clock, measured in this run).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "dsp/generator.h"

namespace {

constexpr std::size_t kBufferBytes = 65520;  // the playback buffer
constexpr int kRateHz = 44100;
constexpr int kBits = 16;

void FillOnce(benchmark::State& state, std::int32_t waveform) {
    sonvera::Generator gen;
    sonvera::GeneratorParams params;
    params.waveform = waveform;
    std::vector<std::uint8_t> buffer(kBufferBytes);
    double busySeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        gen.FillGeneratorBuffer(buffer.data(), buffer.size(), kBits, kRateHz, params);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
        busySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                           .count();
    }
    const double frames = double(kBufferBytes) / (2 * kBits / 8);
    const double playSeconds = frames / kRateHz;
    const double fillSeconds = busySeconds / double(state.iterations());
    // How many times faster than it plays the buffer is filled; its inverse is the share.
    state.counters["x_realtime"] = playSeconds / fillSeconds;
    char label[96];
    std::snprintf(label, sizeof label, "fill = %.3f %% of the %.4f s the buffer plays",
                  100.0 * fillSeconds / playSeconds, playSeconds);
    state.SetLabel(label);
}

void BM_FillPinkNoise(benchmark::State& state) { FillOnce(state, sonvera::kWavePinkNoise); }
void BM_FillWhiteNoise(benchmark::State& state) { FillOnce(state, sonvera::kWaveWhiteNoise); }
void BM_FillSine(benchmark::State& state) { FillOnce(state, sonvera::kWaveSine); }

}  // namespace

BENCHMARK(BM_FillPinkNoise)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FillWhiteNoise)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FillSine)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
