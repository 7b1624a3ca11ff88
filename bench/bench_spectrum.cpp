// Speed of the spectrum step (window, transform, magnitudes) beside FFTW's
// single-precision real transform plus magnitudes, measured in the same run, and the
// analysis of one 1048576-point stereo block against the block's duration at 48 kHz.
// Prints the ratio per size at the end.

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/ratioreporter.h"
#include "dsp/analysis.h"
#include "dsp/spectrum.h"
#include "dsp/weighting.h"
#include "dsp/window.h"

namespace {

std::vector<float> Block(int n) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (float& x : v) x = dist(rng);
    return v;
}

void BM_ComputeSpectrum(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    sonvera::SpectrumTransform st;
    st.BuildWindowTable(4, n);
    const std::vector<float> input = Block(n);
    std::vector<float> work(input.size());
    for (auto _ : state) {
        std::memcpy(work.data(), input.data(), input.size() * sizeof(float));
        st.ComputeSpectrum(work.data(), n);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
}

void BM_FftwRealSpectrum(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<float> window(static_cast<std::size_t>(n));
    sonvera::FillWindow(4, n, window.data());
    const std::vector<float> input = Block(n);
    float* in = fftwf_alloc_real(static_cast<std::size_t>(n));
    fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    std::vector<float> mags(static_cast<std::size_t>(n / 2));
    const float scale = 1.0f / static_cast<float>(n);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) in[i] = input[static_cast<std::size_t>(i)] * window[static_cast<std::size_t>(i)];
        fftwf_execute(plan);
        for (int k = 0; k < n / 2; ++k) {
            mags[static_cast<std::size_t>(k)] =
                scale * std::sqrt(out[k][0] * out[k][0] + out[k][1] * out[k][1]);
        }
        benchmark::DoNotOptimize(mags.data());
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
}

// One stereo block of 1048576 points as the analyser takes it: per channel the window,
// the transform and the magnitudes, the dB of every bin, and THD+N; reported as a share
// of the 21.8 s the block takes to record at 48 kHz.
void BM_AnalyseLongBlock(benchmark::State& state) {
    constexpr int n = 1 << 20;
    constexpr double rate = 48000.0;
    sonvera::SpectrumTransform st;
    st.BuildWindowTable(4, n);
    std::vector<float> input = Block(n);
    for (int i = 0; i < n; ++i) input[static_cast<std::size_t>(i)] += 0.5f * std::sin(2.0 * 3.14159265358979 * 997.0 * i / rate);
    std::vector<float> left(input.size()), right(input.size()), db(n / 2);
    sonvera::WeightingFilter filter;
    for (auto _ : state) {
        for (std::vector<float>* channel : {&left, &right}) {
            std::memcpy(channel->data(), input.data(), input.size() * sizeof(float));
            st.ComputeSpectrum(channel->data(), n);
            for (int k = 0; k < n / 2; ++k) {
                const float m = (*channel)[static_cast<std::size_t>(k)];
                db[static_cast<std::size_t>(k)] = m == 0.0f ? -192.0f : static_cast<float>(8.722 * std::log(m) + 12.6);
            }
            sonvera::AnalysisParams params;
            params.AnaSampleRate = rate;
            params.AnaFftSize = n;
            params.AnaWindow = 4;
            const std::vector<float> spectrum(channel->begin(), channel->begin() + n / 2);
            benchmark::DoNotOptimize(sonvera::MeasureThdN(sonvera::ChannelSpectrum(spectrum), params, filter));
        }
        benchmark::DoNotOptimize(db.data());
    }
    state.counters["share_of_block_%"] = benchmark::Counter(
        n / rate / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AnalyseLongBlock)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ComputeSpectrum)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(BM_FftwRealSpectrum)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    sonvera::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nsize  ComputeSpectrum / FFTW r2c+magnitudes\n");
    for (int n : {512, 1024, 2048, 4096}) {
        const double ratio = reporter.Ratio("BM_ComputeSpectrum/" + std::to_string(n),
                                            "BM_FftwRealSpectrum/" + std::to_string(n));
        if (ratio > 0.0) {
            std::printf("%4d  %.2f\n", n, ratio);
        }
    }
    benchmark::Shutdown();
    return 0;
}
