#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "diagram/diagramtable.h"

namespace sonvera {

/// How a saved table is re-plotted; unset ranges follow the data.
struct DiagramPlotOptions {
    bool logAxis = true;
    std::optional<int> freqMinHz;
    std::optional<int> freqMaxHz;
    std::optional<double> levelMinDb;
    std::optional<double> levelMaxDb;
    int width = 1000;
    int height = 700;
    std::string comment;
};

/// Draws a table as the diagram prints it (no cursor, comment above the plot) into a
/// new image. Returns false with a message when the ranges cannot make a diagram.
bool PlotDiagramTable(const DiagramTable& table, const DiagramPlotOptions& options, QImage& image,
                      std::string& error);

}  // namespace sonvera
