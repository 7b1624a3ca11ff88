#pragma once

#include <QImage>
#include <optional>
#include <string>
#include <vector>

#include "diagram/diagrammodel.h"
#include "diagram/diagramtable.h"

namespace sonvera {

/// How saved tables are re-plotted; unset ranges follow the data.
struct DiagramPlotOptions {
    bool logAxis = true;
    std::optional<int> freqMinHz;
    std::optional<int> freqMaxHz;
    std::optional<double> levelMinDb;
    std::optional<double> levelMaxDb;
    int width = 1000;
    int height = 700;
    std::string comment;
    /// Each table drawn as its difference to the first.
    bool difference = false;
    /// The N of 1/N octave (0: none).
    int smoothing = 0;
    /// The tables' names in the legend (and the export's header), in order; a table
    /// without one is named by `fallbackNames`.
    std::vector<std::string> names;
    std::vector<std::string> fallbackNames;
};

/// Fills `model` (laid out for W x H with `metrics`) with the tables as the plot shows
/// them: one table of one or two curves as the diagram's own curves (red and blue), or
/// with several tables (or a difference) each table as an overlay in a colour of its
/// own, named in the legend. Returns false with a message when the ranges cannot make a
/// diagram.
bool PrepareTablesModel(const std::vector<DiagramTable>& tables, const DiagramPlotOptions& options,
                        const DiagramTextMetrics& metrics, DiagramModel& model, std::string& error);

/// Draws tables as the diagram prints them (no cursor, comment above the plot, the
/// legend) into a new image. Returns false with a message when the ranges cannot make a
/// diagram.
bool PlotDiagramTables(const std::vector<DiagramTable>& tables, const DiagramPlotOptions& options, QImage& image,
                       std::string& error);

/// One table, as PlotDiagramTables.
bool PlotDiagramTable(const DiagramTable& table, const DiagramPlotOptions& options, QImage& image,
                      std::string& error);

}  // namespace sonvera
