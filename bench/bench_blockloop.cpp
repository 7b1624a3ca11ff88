// The continuous block loop of every measurement: open, record, complete, post, close,
// next, at 1024 frames and 44100 Hz for 10 s. Reported: blocks per second divided by
// fs/N (1.0 means no time is lost between blocks). Runs on the virtual card's real-time
// clock and, when a PulseAudio server with a real device is reachable, through PortAudio.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>

#include "engine/soundengine.h"
#include "measure/appmessages.h"
#include "measure/tdummy.h"
#include "platform/loopbackcard.h"
#include "platform/wavelayer.h"

namespace {

constexpr int kFrames = 1024;
constexpr int kRateHz = 44100;
constexpr double kSeconds = 10.0;

/// Receives WM_SPECTRUM_NEXT and starts the next block, as the main window does.
class NextBlock : public QObject {
public:
    std::function<void()> start;

protected:
    bool event(QEvent* e) override
    {
        if (sonvera::AppMessageOf(e) == sonvera::WM_SPECTRUM_NEXT) {
            start();
            return true;
        }
        return QObject::event(e);
    }
};

struct LoopResult {
    long blocks = 0;
    double seconds = 0.0;
    int error = 0;
    double Ratio() const { return seconds > 0 ? blocks / (seconds * kRateHz / kFrames) : 0.0; }
};

LoopResult RunBlockLoop(sonvera::WaveLayer& layer, int inDevice)
{
    using namespace sonvera;
    SoundEngine engine(layer);
    Tdummy dummy(engine);
    NextBlock next;
    LoopResult result;
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(in, out, formats);
    if ((result.error = engine.InitSoundEngine()) != 0) {
        return result;
    }
    engine.SelectInDevice(inDevice);
    engine.SetSampleRates(kRateHz, kRateHz);
    engine.SetFormatBits(16, 16);
    GeneratorParams tone;  // 1 kHz sine on both channels, as a sweep step plays
    tone.frequencyHz = 1000;
    engine.StartPlayback(1000, -1, tone);

    QElapsedTimer clock;
    QEventLoop loop;  // the loop sleeps here between blocks, as the program does
    bool done = false;
    bool warm = false;
    auto finish = [&] {
        result.seconds = clock.nsecsElapsed() * 1e-9;
        done = true;
        loop.quit();
    };
    std::function<void()> blockDone = [&] {
        int count = 0, overloads = 0;
        std::uint32_t user = 0;
        if (engine.TakeCapturedBlock(count, overloads, user) == nullptr || count != 2 * kFrames) {
            result.error = engine.EngineError() != 0 ? engine.EngineError() : -1;
            finish();
            return;
        }
        if (!warm) {
            // The first block opens the device (a real backend may stall here once per
            // process); the steady loop is timed from its end.
            warm = true;
            clock.restart();
        } else {
            ++result.blocks;
        }
        if (clock.nsecsElapsed() * 1e-9 >= kSeconds) {
            finish();
            return;
        }
        PostAppMessage(&next, WM_SPECTRUM_NEXT);
    };
    next.start = [&] {
        if (const int r = engine.StartCapture(kFrames, 0, blockDone)) {
            result.error = r;
            finish();
        }
    };
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        if (!done && clock.nsecsElapsed() * 1e-9 > 3 * kSeconds + 5) {
            result.error = -2;  // the loop stalled
            finish();
        }
    });
    watchdog.start(500);
    clock.start();
    next.start();
    if (!done) {
        loop.exec();
    }
    engine.ShutdownSoundEngine();
    return result;
}

void Report(benchmark::State& state, const LoopResult& r)
{
    state.counters["blocks"] = static_cast<double>(r.blocks);
    state.counters["seconds"] = r.seconds;
    state.counters["ratio"] = r.Ratio();
    if (r.error != 0) {
        state.SkipWithError(("the block loop ended with error " + std::to_string(r.error)).c_str());
    }
}

void BM_BlockLoopVirtualRealTime(benchmark::State& state)
{
    for (auto _ : state) {
        sonvera::LoopbackCard card(sonvera::DefaultDut(), sonvera::LoopbackClock::RealTime);
        Report(state, RunBlockLoop(card, 0));
    }
}
BENCHMARK(BM_BlockLoopVirtualRealTime)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_BlockLoopPulseAudioRig(benchmark::State& state)
{
    for (auto _ : state) {
        std::string error;
        std::unique_ptr<sonvera::WaveLayer> layer =
            sonvera::CreateWaveLayer(sonvera::AudioBackend::PortAudio, sonvera::DefaultDut(), error);
        int device = -1;
        if (layer) {
            sonvera::WaveInCaps caps;
            const unsigned count = layer->WaveInGetNumDevs();
            for (unsigned i = 0; i < count && i < 3 && device < 0; ++i) {
                if (layer->WaveInGetDevCaps(i, caps) == sonvera::kMmNoError &&
                    caps.productName != sonvera::LoopbackCard::kProductName) {
                    device = static_cast<int>(i);
                }
            }
        }
        if (device < 0) {
            state.SkipWithError(
                ("skipped: no PulseAudio rig (no real input device through PortAudio" +
                 (error.empty() ? std::string(")") : ": " + error + ")")).c_str());
            continue;
        }
        Report(state, RunBlockLoop(*layer, device));
    }
}
BENCHMARK(BM_BlockLoopPulseAudioRig)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
