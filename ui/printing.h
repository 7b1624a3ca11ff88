#pragma once

#include <string>
#include <vector>

class QPrinter;

namespace sonvera {

class TDiagramm;

/// Where the diagram goes on a printed page, in printer pixels.
/// The narrowest a printed curve may be.
inline constexpr double kMinCurveWidthMm = 0.35;

struct PrintLayout {
    int fontSize = 0;  // the diagram's font size for this resolution
    int x0 = 0;
    int y0 = 0;
    int width = 0;   // printed width (the work picture is a quarter of it, stretched 4x)
    int height = 0;  // printed height
    int curveWidth = 1;  // the curves' width in pixels of the work picture
};

/// The page layout for a printer of `dpi` dots per inch whose printable area is
/// `pageWidth` x `pageHeight` pixels. Portrait pages get the diagram in their upper half
/// with margins; landscape pages the full width between a top and a bottom margin.
PrintLayout ComputePrintLayout(int dpi, int pageWidth, int pageHeight, bool landscape);

/// What one print job adds to the device report (an empty line first).
struct PrinterFacts {
    std::string name;
    int dpi = 0;
    int colours = 0;
    int bitsPerPixel = 0;
    int planes = 1;
    int pageWidth = 0;
    int pageHeight = 0;
};
std::vector<std::string> PrintReportLines(const PrinterFacts& facts, const PrintLayout& layout);

/// Prints the diagram on one page of `printer` (already set up). The report lines are
/// handed to `report`. Returns false when nothing was printed (layout or page failure).
bool PrintDiagram(QPrinter& printer, TDiagramm& diagram, std::vector<std::string>& report);

}  // namespace sonvera
