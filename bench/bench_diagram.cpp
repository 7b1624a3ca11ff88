// The diagram against the time one block takes to record at 44100 Hz (4096 points:
// 92.9 ms): the whole picture with 2048 points on both curves into 1000 x 700 pixels
// (what printing and the clipboard draw), and one update of the window at 4096 and 1024
// points (the curves over the background kept from the previous paint).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <memory>

#include "diagram/diagramrenderer.h"

namespace {

constexpr double kRateHz = 44100.0;
constexpr int kWidth = 1000;
constexpr int kHeight = 700;

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "bench_diagram";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app;
    if (!app) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
}

// A diagram laid out for 1000 x 700 holding the N/2 bins of an N-point spectrum on both
// curves; `phase` shifts the curves, so that consecutive updates show different spectra.
void Fill(sonvera::DiagramModel& model, QImage& image, int points, float phase)
{
    const int bins = points / 2;
    if (!model.Activated()) {
        model.Activate();
        image = QImage(kWidth, kHeight, QImage::Format_RGB32);
        model.SetScreen(kWidth, kHeight, sonvera::DiagramRenderer::Metrics(8, &image));
        model.SetCurvesShown(true, true);
        float lo = -110.0f;
        float hi = 0.0f;
        model.PrepareDiagram("", bins - 1, 10, 22050, lo, hi);
    }
    for (int i = 0; i < bins; ++i) {
        const float f = static_cast<float>(i * kRateHz / points);
        const float v[2] = {-60.0f + 30.0f * std::sin(i * 0.05f + phase),
                            -70.0f + 20.0f * std::cos(i * 0.013f + phase)};
        model.StoreDiagramPoint(v, 2, i, f);
    }
    sonvera::DiagramRenderer::LayoutImage(model, image, kWidth, kHeight, 8, false);
}

// Time per iteration / block time, in percent: (seconds / iterations) / (block / 100).
void ShareOfBlock(benchmark::State& state, int points)
{
    state.counters["share_of_block_%"] = benchmark::Counter(
        points / kRateHz / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_RenderDiagram2048(benchmark::State& state)
{
    EnsureApplication();
    sonvera::DiagramModel model;
    QImage image;
    Fill(model, image, 4096, 0.0f);
    sonvera::DiagramRenderer renderer;
    for (auto _ : state) {
        renderer.RenderDiagram(model, image, false, "");
        benchmark::DoNotOptimize(image.constBits());
    }
    ShareOfBlock(state, 4096);
}
BENCHMARK(BM_RenderDiagram2048)->Unit(benchmark::kMillisecond);

// One update of the window after a new spectrum: the background kept from the first
// paint, the old curves put back to it where they lay and the new ones drawn, with the
// region that changed (without copying that region to the window). The points change
// between updates as in a running analyser.
void BM_DiagramUpdate(benchmark::State& state)
{
    EnsureApplication();
    const int points = static_cast<int>(state.range(0));
    sonvera::DiagramModel model;
    QImage screen;
    Fill(model, screen, points, 0.0f);
    sonvera::DiagramRenderer renderer;
    renderer.UpdateScreen(model, screen);
    const int bins = points / 2;
    int k = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const float phase = (++k & 1) ? 0.5f : 0.0f;
        for (int i = 0; i < bins; ++i) {
            const float v[2] = {-60.0f + 30.0f * std::sin(i * 0.05f + phase),
                                -70.0f + 20.0f * std::cos(i * 0.013f + phase)};
            model.StoreDiagramPoint(v, 2, i, model.FreqArray[static_cast<std::size_t>(i)]);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(renderer.UpdateScreen(model, screen));
    }
    if (renderer.BackgroundDraws() != 1) {
        state.SkipWithError("the background was drawn again during the updates");
    }
    ShareOfBlock(state, points);
}
BENCHMARK(BM_DiagramUpdate)->Arg(4096)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The text export of a 1048576-point spectrum: 524288 lines of frequency and both levels,
// in seconds per export (the goal is under one).
void BM_ExportLongSpectrum(benchmark::State& state)
{
    EnsureApplication();
    sonvera::DiagramModel model;
    QImage image;
    Fill(model, image, 1 << 20, 0.0f);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = model.DiagramText(",");
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ExportLongSpectrum)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
