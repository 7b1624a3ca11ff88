// Rendering the diagram with 2048 points on both curves into 1000 x 700 pixels, against
// the time one 4096-point block takes to record at 44100 Hz (92.9 ms).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>

#include "diagram/diagramrenderer.h"

namespace {

constexpr double kBlockSeconds = 4096.0 / 44100.0;

void BM_RenderDiagram2048(benchmark::State& state)
{
    int argc = 1;
    char name[] = "bench_diagram";
    char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    sonvera::DiagramModel model;
    model.Activate();
    QImage image(1000, 700, QImage::Format_RGB32);
    model.SetScreen(1000, 700, sonvera::DiagramRenderer::Metrics(8, &image));
    model.SetCurvesShown(true, true);
    float lo = -110.0f;
    float hi = 0.0f;
    model.PrepareDiagram("", 2047, 10, 22050, lo, hi);
    for (int i = 0; i < 2048; ++i) {
        const float f = static_cast<float>(i) * 44100.0f / 4096.0f;
        const float v[2] = {-60.0f + 30.0f * std::sin(i * 0.05f), -70.0f + 20.0f * std::cos(i * 0.013f)};
        model.StoreDiagramPoint(v, 2, i, f);
    }
    sonvera::DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false);
    sonvera::DiagramRenderer renderer;
    for (auto _ : state) {
        renderer.RenderDiagram(model, image, false, "");
        benchmark::DoNotOptimize(image.constBits());
    }
    // time per render / block time, in percent: (seconds / iterations) / (block / 100)
    state.counters["share_of_block_%"] = benchmark::Counter(
        kBlockSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RenderDiagram2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
