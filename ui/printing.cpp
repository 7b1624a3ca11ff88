#include "ui/printing.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <cmath>

#include "diagram/diagramm.h"

namespace sonvera {

PrintLayout ComputePrintLayout(int dpi, int pageWidth, int pageHeight, bool landscape)
{
    PrintLayout p;
    p.fontSize = dpi / 75 * 2;
    // A curve one pixel of the work picture wide is four printer dots: a hairline on a
    // fine printer. Curves print at least 0.35 mm wide, and always wider than the grid's
    // one pixel.
    const double dotsPerCurve = kMinCurveWidthMm / 25.4 * std::max(dpi, 1);
    p.curveWidth = std::max(2, static_cast<int>(std::ceil(dotsPerCurve / 4.0)));
    const int m = dpi * 2 / 3;
    if (landscape) {
        p.x0 = 0;
        p.y0 = m;
        p.width = pageWidth;
        p.height = pageHeight - 2 * m;
    } else {
        p.x0 = m;
        p.y0 = dpi / 2;
        p.width = pageWidth - m - dpi / 4;
        p.height = pageHeight / 2;
    }
    return p;
}

std::vector<std::string> PrintReportLines(const PrinterFacts& f, const PrintLayout& p)
{
    auto n = [](int v) { return std::to_string(v); };
    return {"",
            "Printer      : " + f.name,
            "Auflösung DPI: " + n(f.dpi),
            "NUMCOLORS    : " + n(f.colours),
            "BITSPIXEL    : " + n(f.bitsPerPixel),
            "PLANES       : " + n(f.planes),
            "Seitenbreite : " + n(f.pageWidth),
            "Seitenhöhe   : " + n(f.pageHeight),
            "Druckreite   : " + n(p.width),
            "Druckhöhe    : " + n(p.height),
            "Druck x0     : " + n(p.x0),
            "Druck y0     : " + n(p.y0)};
}

bool PrintDiagram(QPrinter& printer, TDiagramm& diagram, std::vector<std::string>& report)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    PrinterFacts facts;
    facts.name = printer.printerName().toStdString();
    facts.dpi = printer.logicalDpiY();
    facts.colours = printer.colorCount();
    facts.bitsPerPixel = printer.depth();
    facts.planes = 1;
    facts.pageWidth = printer.width();
    facts.pageHeight = printer.height();
    const bool landscape = printer.pageLayout().orientation() == QPageLayout::Landscape;
    const PrintLayout layout = ComputePrintLayout(facts.dpi, facts.pageWidth, facts.pageHeight, landscape);
    report = PrintReportLines(facts, layout);

    bool printed = false;
    QImage work;
    // The work picture is drawn at a quarter of the print size and stretched four times.
    if (layout.width >= 4 && layout.height >= 4 &&
        diagram.RenderForPrint(work, layout.width / 4, layout.height / 4, layout.fontSize, layout.curveWidth)) {
        printer.setDocName(QStringLiteral("Sonvera V1.3"));
        QPainter painter;
        if (painter.begin(&printer)) {
            painter.drawImage(QRect(layout.x0, layout.y0, 4 * work.width(), 4 * work.height()), work);
            printed = painter.end();
        }
    }
    QApplication::restoreOverrideCursor();
    return printed;
}

}  // namespace sonvera
