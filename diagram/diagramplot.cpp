#include "diagram/diagramplot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "diagram/diagramrenderer.h"

namespace sonvera {

namespace {

constexpr int kFontSize = 8;

// The lowest and highest value of the curves as shown, or false when none has a value.
bool ShownLevels(const DiagramModel& model, double& low, double& high)
{
    low = std::numeric_limits<double>::max();
    high = std::numeric_limits<double>::lowest();
    const auto take = [&](const float* values, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (std::isfinite(values[i])) {
                low = std::min(low, static_cast<double>(values[i]));
                high = std::max(high, static_cast<double>(values[i]));
            }
        }
    };
    const auto used = static_cast<std::size_t>(std::clamp(model.PointCount, 0, model.Capacity()));
    for (int curve = 1; curve <= 2; ++curve) {
        if ((curve == 1 ? model.Options.DrawCurve1 : model.Options.DrawCurve2) != 0) {
            take(model.ShownValues(curve), used);
        }
    }
    for (const ShownCurve& c : model.ShownOverlays()) {
        take(c.values.data(), c.values.size());
    }
    return low <= high;
}

}  // namespace

bool PrepareTablesModel(const std::vector<DiagramTable>& tables, const DiagramPlotOptions& options,
                        const DiagramTextMetrics& metrics, DiagramModel& model, std::string& error)
{
    if (tables.empty() || std::any_of(tables.begin(), tables.end(), [](const DiagramTable& t) {
            return t.freqHz.empty() || t.columns < 2;
        })) {
        error = "the table has no points";
        return false;
    }
    if (options.width < 170 || options.height < 120 || options.width > 20000 || options.height > 20000) {
        error = "the picture must be 170..20000 pixels wide and 120..20000 high";
        return false;
    }
    // Ranges from the data where not given: the frequency span of the points (the lowest
    // positive frequency on a logarithmic axis), levels widened to whole 10 dB; a table
    // of gaps only (no value) gets the axes of -100 .. 0 dB.
    double fLow = std::numeric_limits<double>::max();
    double fHigh = 0.0;
    for (const DiagramTable& t : tables) {
        for (const float f : t.freqHz) {
            if (f > 0.0f) {
                fLow = std::min(fLow, static_cast<double>(f));
                fHigh = std::max(fHigh, static_cast<double>(f));
            }
        }
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

    // One table of one or two curves is the diagram's own; several tables, a wide one
    // or a difference are overlays.
    const bool single = tables.size() == 1 && !options.difference && tables.front().ValueColumns() <= 2;
    const auto nameOf = [&](std::size_t i) {
        if (i < options.names.size() && !options.names[i].empty()) {
            return options.names[i];
        }
        return i < options.fallbackNames.size() ? options.fallbackNames[i] : std::to_string(i + 1);
    };
    model.Activate();
    model.Options.XLog = options.logAxis ? 1 : 0;
    model.Options.Smoothing[0] = static_cast<std::uint8_t>(std::clamp(options.smoothing, 0, 255));
    model.SetScreen(options.width, options.height, metrics);
    model.SetCurvesShown(single, single && tables.front().columns == 3);
    model.SetAxesShown(true, false);
    const int last = single ? static_cast<int>(tables.front().freqHz.size()) - 1 : 0;
    // A first range; the one of the data (or the options) follows once the curves are in.
    float lo = -100.0f;
    float hi = 0.0f;
    if (model.PrepareDiagram(options.comment, last, freqMin, freqMax, lo, hi)) {
        error = "the diagram cannot be laid out at this size and range";
        return false;
    }
    if (single) {
        const DiagramTable& t = tables.front();
        for (int i = 0; i <= last; ++i) {
            const auto s = static_cast<std::size_t>(i);
            const float values[2] = {t.curve1[s], t.curve2[s]};
            model.StoreDiagramPoint(values, 2, i, t.freqHz[s]);
        }
        if (!options.names.empty()) {
            model.MeasurementName = options.names.front();
        }
    } else {
        // A table of gaps draws nothing; the others are drawn. The difference needs values
        // in the table it is taken to.
        if (options.difference && !HasCurveValues(tables.front())) {
            error = "the first table, the reference of --diff, has no point with a value";
            return false;
        }
        for (std::size_t i = 0; i < tables.size(); ++i) {
            if (!HasCurveValues(tables[i])) {
                continue;
            }
            for (Overlay& o : OverlaysFromTable(tables[i], nameOf(i), false, "")) {
                std::uint64_t id = 0;
                if (const OverlayResult r = model.Overlays.Keep(0, std::move(o), &id); !r) {
                    error = OverlayMessage(r, 'E');
                    return false;
                }
                if (i == 0 && model.Overlays.Page(0).referenceId == 0) {
                    model.Overlays.SetReference(0, id);  // the first table's first curve
                }
            }
        }
        model.Overlays.SetDifference(0, options.difference);
    }

    double levelMin = 0.0;
    double levelMax = 0.0;
    const bool values = ShownLevels(model, levelMin, levelMax);
    if (values && options.difference) {
        // The reference's 0 dB line in sight, with room on either side.
        levelMin = std::min(levelMin, -5.0);
        levelMax = std::max(levelMax, 5.0);
    }
    levelMin = options.levelMinDb.value_or(values ? std::floor(levelMin / 10.0) * 10.0 : -100.0);
    levelMax = options.levelMaxDb.value_or(values ? std::ceil(levelMax / 10.0) * 10.0 : 0.0);
    if (!options.levelMinDb && !options.levelMaxDb && levelMax <= levelMin) {
        levelMin -= 10.0;
        levelMax += 10.0;
    }
    if (!(levelMax > levelMin) || std::fabs(levelMin) > 1e6 || std::fabs(levelMax) > 1e6) {
        error = "the level range must satisfy ymin < ymax (within +-1e6 dB)";
        return false;
    }
    model.SetLevelRange(static_cast<float>(levelMax), static_cast<float>(levelMin));
    model.SetSecondRange(static_cast<float>(levelMax), static_cast<float>(levelMin));
    return true;
}

bool PlotDiagramTables(const std::vector<DiagramTable>& tables, const DiagramPlotOptions& options, QImage& image,
                       std::string& error)
{
    if (options.width < 170 || options.height < 120 || options.width > 20000 || options.height > 20000) {
        error = "the picture must be 170..20000 pixels wide and 120..20000 high";
        return false;
    }
    image = QImage(options.width, options.height, QImage::Format_RGB32);
    DiagramModel model;
    if (!PrepareTablesModel(tables, options, DiagramRenderer::Metrics(kFontSize, &image), model, error)) {
        return false;
    }
    // The labels' decimals settle in the first layout; lay out once more for the bands.
    if (!DiagramRenderer::LayoutImage(model, image, options.width, options.height, kFontSize, false) ||
        !DiagramRenderer::LayoutImage(model, image, options.width, options.height, kFontSize, false)) {
        error = "the diagram cannot be laid out at this size and range";
        return false;
    }
    DiagramRenderer renderer;
    renderer.RenderDiagram(model, image, true, options.comment);
    return true;
}

bool PlotDiagramTable(const DiagramTable& table, const DiagramPlotOptions& options, QImage& image,
                      std::string& error)
{
    return PlotDiagramTables({table}, options, image, error);
}

}  // namespace sonvera
