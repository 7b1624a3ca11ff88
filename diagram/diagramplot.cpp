#include "diagram/diagramplot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "diagram/diagramrenderer.h"

namespace sonvera {

bool PlotDiagramTable(const DiagramTable& table, const DiagramPlotOptions& options, QImage& image,
                      std::string& error)
{
    if (table.freqHz.empty() || table.columns < 2) {
        error = "the table has no points";
        return false;
    }
    if (options.width < 170 || options.height < 120 || options.width > 20000 ||
        options.height > 20000) {
        error = "the picture must be 170..20000 pixels wide and 120..20000 high";
        return false;
    }

    // Ranges from the data where not given: the frequency span of the points (the lowest
    // positive frequency on a logarithmic axis), levels widened to whole 10 dB; a table
    // of gaps only (no value) gets the axes of -100 .. 0 dB.
    double fLow = std::numeric_limits<double>::max();
    double fHigh = 0.0;
    double vLow = std::numeric_limits<double>::max();
    double vHigh = std::numeric_limits<double>::lowest();
    for (std::size_t i = 0; i < table.freqHz.size(); ++i) {
        const double f = table.freqHz[i];
        if (f > 0.0) {
            fLow = std::min(fLow, f);
            fHigh = std::max(fHigh, f);
        }
        for (const float v : {table.curve1[i], table.columns == 3 ? table.curve2[i] : table.curve1[i]}) {
            if (!std::isnan(v)) {
                vLow = std::min(vLow, static_cast<double>(v));
                vHigh = std::max(vHigh, static_cast<double>(v));
            }
        }
    }
    if (!HasCurveValues(table)) {
        vLow = -100.0;
        vHigh = 0.0;
    }
    if (fHigh <= 0.0 && !(options.freqMinHz && options.freqMaxHz)) {
        error = "the table has no point with a frequency above 0 Hz";
        return false;
    }
    const int freqMin = options.freqMinHz.value_or(std::max(1, static_cast<int>(std::floor(fLow))));
    int freqMax = options.freqMaxHz.value_or(static_cast<int>(std::ceil(fHigh)));
    if (!options.freqMaxHz && freqMax <= freqMin) {
        freqMax = freqMin + 1;
    }
    if (freqMin < 1 || freqMax <= freqMin) {
        error = "the frequency range must satisfy 1 <= fmin < fmax";
        return false;
    }
    double levelMin = options.levelMinDb.value_or(std::floor(vLow / 10.0) * 10.0);
    double levelMax = options.levelMaxDb.value_or(std::ceil(vHigh / 10.0) * 10.0);
    if (!options.levelMinDb && !options.levelMaxDb && levelMax <= levelMin) {
        levelMin -= 10.0;
        levelMax += 10.0;
    }
    if (!(levelMax > levelMin) || std::fabs(levelMin) > 1e6 || std::fabs(levelMax) > 1e6) {
        error = "the level range must satisfy ymin < ymax (within +-1e6 dB)";
        return false;
    }

    DiagramModel model;
    model.Activate();
    model.Options.XLog = options.logAxis ? 1 : 0;
    image = QImage(options.width, options.height, QImage::Format_RGB32);
    model.SetScreen(options.width, options.height, DiagramRenderer::Metrics(8, &image));
    model.SetCurvesShown(true, table.columns == 3);
    model.SetAxesShown(true, false);
    const int last = static_cast<int>(table.freqHz.size()) - 1;
    float lo = static_cast<float>(levelMin);
    float hi = static_cast<float>(levelMax);
    if (model.PrepareDiagram(options.comment, last, freqMin, freqMax, lo, hi)) {
        error = "the diagram cannot be laid out at this size and range";
        return false;
    }
    for (int i = 0; i <= last; ++i) {
        const auto s = static_cast<std::size_t>(i);
        const float values[2] = {table.curve1[s], table.curve2[s]};
        model.StoreDiagramPoint(values, 2, i, table.freqHz[s]);
    }
    // The labels' decimals settle in the first layout; lay out once more for the bands.
    if (!DiagramRenderer::LayoutImage(model, image, options.width, options.height, 8, false)) {
        error = "the diagram cannot be laid out at this size and range";
        return false;
    }
    DiagramRenderer renderer;
    renderer.RenderDiagram(model, image, true, options.comment);
    return true;
}

}  // namespace sonvera
