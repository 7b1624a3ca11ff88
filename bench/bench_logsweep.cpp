// The analysis of a 10 s log sweep at 48 kHz (20 Hz .. 20 kHz, with reference), against
// the sweep's own duration. The recording is made once: the played sweep on the left,
// the same through a device under test (band-pass, third harmonic, delay) on the right.
#include <benchmark/benchmark.h>

#include <vector>

#include "dsp/logsweep.h"
#include "dsp/logsweepanalysis.h"
#include "platform/dutprocessor.h"

namespace {

void BM_AnalyseLogSweep10s(benchmark::State& state)
{
    sonvera::LogSweepParams params;
    params.seconds = 10.0;
    params.rateHz = 48000;
    const sonvera::LogSweepDesign design = sonvera::DesignLogSweep(params);
    const std::vector<float> played = sonvera::MakeLogSweep(design);
    const std::size_t frames = played.size() + static_cast<std::size_t>(params.rateHz / 2);
    sonvera::DutConfig dut;
    dut.highPassHz = 100;
    dut.lowPassHz = 5000;
    dut.h3 = 0.003;
    dut.delaySamples = 37;
    sonvera::DutProcessor device(dut, params.rateHz, 1);
    std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = i < played.size() ? played[i] : 0.0f;
        const std::size_t d = static_cast<std::size_t>(dut.delaySamples);
        right[i] = static_cast<float>(device.Process(i >= d && i - d < played.size() ? played[i - d] : 0.0f));
    }
    const sonvera::LogSweepRecording recording{right.data(), left.data(), frames, played.data()};
    for (auto _ : state) {
        const auto result = sonvera::AnalyseLogSweep(design, recording, sonvera::LogSweepMode::Reference, 48);
        benchmark::DoNotOptimize(result.freqHz.data());
    }
    // time per analysis / sweep time, in percent
    state.counters["share_of_sweep_%"] = benchmark::Counter(
        params.seconds / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AnalyseLogSweep10s)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
