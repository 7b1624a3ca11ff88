// Cost of the continuity check that runs on every captured block while a tone plays,
// against the analyser's transform of the same block (window, transform, magnitudes),
// measured in the same run; prints the ratio per block size at the end. The check's
// counter gives its share of the block's duration at 48 kHz.
//
// The block is stereo and interleaved as the capture path hands it over: a 997 Hz tone
// at 48 kHz, -6 dBFS, with noise 80 dB below it, so that the check fits every segment
// (a block without the tone stops after its first fit). Both sides treat one channel.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/ratioreporter.h"
#include "dsp/continuity.h"
#include "dsp/spectrum.h"

namespace {

constexpr double kRateHz = 48000.0;
constexpr double kToneHz = 997.0;
constexpr int kSizes[] = {4096, 16384, 65536};

// n frames of two interleaved channels carrying the same tone.
std::vector<float> StereoTone(int n)
{
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 5e-5f);
    std::vector<float> v(2 * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const float tone = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * kToneHz * i / kRateHz));
        v[2 * static_cast<std::size_t>(i)] = tone + noise(rng);
        v[2 * static_cast<std::size_t>(i) + 1] = tone + noise(rng);
    }
    return v;
}

void BM_ToneContinuity(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<float> block = StereoTone(n);
    if (!sonvera::CheckToneContinuity(block.data(), n, 2, kToneHz, kRateHz).checked) {
        state.SkipWithError("the tone was not judged: the bench would time the early return");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(sonvera::CheckToneContinuity(block.data(), n, 2, kToneHz, kRateHz));
    }
    // One channel's check as a share of the time the block takes to record.
    state.counters["share_of_block_%"] = benchmark::Counter(
        n / kRateHz / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_AnalyserTransform(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<float> block = StereoTone(n);
    std::vector<float> channel(static_cast<std::size_t>(n));
    std::vector<float> work(channel.size());
    for (int i = 0; i < n; ++i) {
        channel[static_cast<std::size_t>(i)] = block[2 * static_cast<std::size_t>(i)];
    }
    sonvera::SpectrumTransform transform;
    transform.BuildWindowTable(4, n);
    for (auto _ : state) {
        std::memcpy(work.data(), channel.data(), channel.size() * sizeof(float));
        transform.ComputeSpectrum(work.data(), n);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_ToneContinuity)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2])->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AnalyserTransform)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2])->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    sonvera::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n points  continuity check / analyser's transform (one channel)\n");
    for (const int n : kSizes) {
        const double ratio = reporter.Ratio("BM_ToneContinuity/" + std::to_string(n),
                                            "BM_AnalyserTransform/" + std::to_string(n));
        if (ratio > 0.0) {
            std::printf("%7d  %.2f\n", n, ratio);
        }
    }
    benchmark::Shutdown();
    return 0;
}
