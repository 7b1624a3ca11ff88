// sonvera-cli plot: re-plots saved diagram tables as a PNG, the way the diagram prints;
// several in one diagram, as differences to the first, smoothed; the table as shown.
#include <QImage>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/clisession.h"
#include "app/outputfile.h"
#include "config/configpath.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramplot.h"
#include "diagram/diagramtable.h"

namespace sonvera {

const char* const kPlotUsage =
    "Usage: sonvera-cli plot TABLE [TABLE ...] [--png FILE] [--out FILE] [--diff]\n"
    "                        [--smooth 1/N] [--legend NAME,...] [--log|--lin]\n"
    "                        [--fmin HZ --fmax HZ] [--ymin DB --ymax DB]\n"
    "                        [--width W --height H] [--comment TEXT] [--columns 2|3]\n"
    "  TABLE       a diagram table saved as text (frequency and its curves),\n"
    "              a regular file of at most 64 MiB and 524290 points; several tables are\n"
    "              drawn in one diagram, each in its own colour, named in a legend\n"
    "  --png FILE  the picture to write (default: the first TABLE with the extension\n"
    "              .png, unless --out is given)\n"
    "  --out FILE  the table as drawn (smoothed, differences), with a header line\n"
    "  --diff      each table drawn as its difference to the first (dB)\n"
    "  --smooth    1/1, 1/2, 1/3, 1/6, 1/12, 1/24 or 1/48 octave (0: none)\n"
    "  --legend    the tables' names in the legend, in order (default: the file names)\n"
    "  --width W, --height H   170..20000 x 120..20000 pixels (default 1000 x 700)\n"
    "  --columns   numbers per point when the table has one number per line\n";

namespace {

/// A whole number of --fmin, --fmax, --width, --height, --columns; a real of --ymin, --ymax.
template <typename T>
bool ParseNumber(const std::string& text, T& value)
{
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    const auto res = std::from_chars(begin, end, value);
    return res.ec == std::errc() && res.ptr == end && begin != end;
}

struct PlotOptions {
    std::vector<std::string> tablePaths;
    std::string pngPath;
    std::string outPath;
    int columns = 0;
    DiagramPlotOptions plot;
};

/// Takes one argument of the command; returns "" or the error.
std::string ParsePlotArgument(OptionCursor& cursor, PlotOptions& o)
{
    const std::string& arg = cursor.Name();
    if (arg == "--log" || arg == "--lin") {
        o.plot.logAxis = arg == "--log";
    } else if (arg == "--diff") {
        o.plot.difference = true;
    } else if (arg == "--png" || arg == "--out" || arg == "--comment") {
        const auto v = cursor.Take();
        if (!v || (arg != "--comment" && v->empty())) {
            return arg + " needs a value";
        }
        (arg == "--png" ? o.pngPath : arg == "--out" ? o.outPath : o.plot.comment) = *v;
    } else if (arg == "--smooth") {
        const auto v = cursor.Take();
        if (!v || !ParseSmoothing(*v, o.plot.smoothing)) {
            return "--smooth is 1/1, 1/2, 1/3, 1/6, 1/12, 1/24 or 1/48 (0: none)";
        }
    } else if (arg == "--legend") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return "--legend needs names separated by ','";
        }
        o.plot.names.clear();
        for (std::size_t from = 0;;) {
            const std::size_t end = v->find(',', from);
            o.plot.names.push_back(v->substr(from, end == std::string::npos ? std::string::npos : end - from));
            if (end == std::string::npos) {
                break;
            }
            from = end + 1;
        }
    } else if (arg == "--fmin" || arg == "--fmax" || arg == "--width" || arg == "--height" || arg == "--columns") {
        const auto v = cursor.Take();
        int n = 0;
        if (!v || !ParseNumber(*v, n)) {
            return arg + " needs a whole number";
        }
        if (arg == "--fmin") {
            o.plot.freqMinHz = n;
        } else if (arg == "--fmax") {
            o.plot.freqMaxHz = n;
        } else if (arg == "--width") {
            o.plot.width = n;
        } else if (arg == "--height") {
            o.plot.height = n;
        } else {
            o.columns = n;
        }
    } else if (arg == "--ymin" || arg == "--ymax") {
        const auto v = cursor.Take();
        double d = 0.0;
        if (!v || !ParseNumber(*v, d)) {
            return arg + " needs a number (with '.' as decimal mark)";
        }
        (arg == "--ymin" ? o.plot.levelMinDb : o.plot.levelMaxDb) = d;
    } else if (arg.size() > 1 && arg[0] == '-') {
        return "unknown option '" + cursor.Argument() + "'";
    } else {
        if (cursor.Argument().empty()) {
            return "TABLE needs a name that is not empty";
        }
        o.tablePaths.push_back(cursor.Argument());
    }
    return "";
}

std::string CheckPlotOptions(const PlotOptions& o)
{
    const DiagramPlotOptions& p = o.plot;
    if (o.tablePaths.empty()) {
        return "no TABLE given";
    }
    if (o.plot.difference && o.tablePaths.size() < 2) {
        return "--diff needs two tables or more (each is drawn against the first)";
    }
    if (o.tablePaths.size() > static_cast<std::size_t>(OverlayStore::kMaxPerPage)) {
        return "at most " + std::to_string(OverlayStore::kMaxPerPage) + " tables";
    }
    if (o.plot.names.size() > o.tablePaths.size()) {
        return "--legend names more tables than given";
    }
    if (o.columns != 0 && o.columns != 2 && o.columns != 3) {
        return "--columns is 2 or 3";
    }
    if (p.width < 170 || p.height < 120 || p.width > 20000 || p.height > 20000) {
        return "the picture must be 170..20000 pixels wide and 120..20000 high";
    }
    if ((p.freqMinHz && *p.freqMinHz < 1) || (p.freqMinHz && p.freqMaxHz && *p.freqMinHz >= *p.freqMaxHz)) {
        return "the frequency range must satisfy 1 <= fmin < fmax";
    }
    for (const auto& level : {p.levelMinDb, p.levelMaxDb}) {
        if (level && !(std::fabs(*level) <= 1e6)) {
            return "--ymin and --ymax lie within +-1e6 dB";
        }
    }
    if (p.levelMinDb && p.levelMaxDb && !(*p.levelMinDb < *p.levelMaxDb)) {
        return "the level range must satisfy ymin < ymax";
    }
    return "";
}

}  // namespace

int RunPlotCommand(CliContext& ctx)
{
    PlotOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParsePlotArgument(c, o); }); status >= 0) {
        return status;
    }
    if (const std::string error = CheckPlotOptions(o); !error.empty()) {
        return ctx.Fail(2, error);
    }
    if (o.pngPath.empty() && o.outPath.empty()) {
        o.pngPath = std::filesystem::path(o.tablePaths.front()).replace_extension(".png").native();
    }
    // No measurement is ever overwritten by what is made of it, nor one output by the other.
    InputFiles inputs;
    for (const std::string& path : o.tablePaths) {
        inputs.Add(path);
    }
    for (const std::string* output : {&o.pngPath, &o.outPath}) {
        if (output->empty()) {
            continue;
        }
        const bool named = std::find(o.tablePaths.begin(), o.tablePaths.end(), *output) != o.tablePaths.end();
        if (named || inputs.SameFileAs(*output)) {
            return ctx.Fail(2, "the output " + *output + " would overwrite a table; name another file with " +
                                   (output == &o.pngPath ? "--png" : "--out"));
        }
    }
    if (!o.pngPath.empty() && !o.outPath.empty()) {
        InputFiles picture;
        picture.Add(o.pngPath);
        if (o.pngPath == o.outPath || picture.SameFileAs(o.outPath)) {
            return ctx.Fail(2, "--png and --out name the same file " + o.outPath);
        }
    }
    InputFiles configuration;
    configuration.Add(ConfigFilePath(ctx.options.configPath));
    OutputTargets targets;
    for (const std::string* output : {&o.pngPath, &o.outPath}) {
        if (output->empty()) {
            continue;
        }
        const char* const option = output == &o.pngPath ? "--png" : "--out";
        if (const auto config = configuration.SameFileAs(*output)) {
            return ctx.Fail(2, "the " + std::string(output == &o.pngPath ? "picture " : "table ") + *output +
                                   " is the configuration file " + *config + "; name another file with " + option);
        }
        if (std::string error; const int status = targets.Check(*output, false, error)) {
            return ctx.Fail(status, error);
        }
    }

    std::vector<DiagramTable> tables;
    for (const std::string& path : o.tablePaths) {
        std::string text;
        if (const std::string error = ReadTableFile(path, text); !error.empty()) {
            return ctx.Fail(1, path + ": " + error);
        }
        DiagramTable table;
        std::string error;
        const bool read = o.columns != 0 ? ParseDiagramTable(text, o.columns, table, error)
                                         : ParseWideTable(text, table, error);
        if (!read) {
            return ctx.Fail(1, path + ": " + error);
        }
        tables.push_back(std::move(table));
        o.plot.fallbackNames.push_back(std::filesystem::path(path).stem().string());
    }

    std::string png;
    std::string shown;
    {
        const OffscreenDrawing drawing;
        std::string error;
        if (!o.pngPath.empty()) {
            QImage image;
            if (!PlotDiagramTables(tables, o.plot, image, error)) {
                return ctx.Fail(1, error);
            }
            png = PngBytes(image);
            if (png.empty()) {
                return ctx.Fail(1, "the picture could not be encoded");
            }
        }
        if (!o.outPath.empty()) {
            DiagramModel model;
            if (!PrepareTablesModel(tables, o.plot, DiagramTextMetrics{}, model, error)) {
                return ctx.Fail(1, error);
            }
            shown = model.DiagramText(",");
        }
    }
    if (!o.pngPath.empty() && ctx.WriteFile(o.pngPath, png) != 0) {
        return 1;
    }
    if (!o.outPath.empty() && ctx.WriteFile(o.outPath, shown) != 0) {
        return 1;
    }
    std::string report;
    if (!o.pngPath.empty()) {
        // A table of gaps is a valid table: its axes are drawn, and the line says why there
        // is no curve.
        const bool valued = std::any_of(tables.begin(), tables.end(), HasCurveValues);
        report += o.pngPath + ": " +
                  (tables.size() == 1 ? std::to_string(tables.front().freqHz.size()) + " points"
                                      : std::to_string(tables.size()) + " tables") +
                  (valued ? "" : ", none with a value (only the axes are drawn)");
        for (std::size_t i = 0; valued && tables.size() > 1 && i < tables.size(); ++i) {
            report += HasCurveValues(tables[i]) ? "" : "; " + o.tablePaths[i] + ": none with a value";
        }
        report += "\n";
    }
    if (!o.outPath.empty()) {
        std::size_t rows = 0;
        for (std::size_t at = 0; at < shown.size(); at = shown.find('\n', at) + 1) {
            rows += shown[at] != '#' ? 1 : 0;
            if (shown.find('\n', at) == std::string::npos) {
                break;
            }
        }
        report += o.outPath + ": " + std::to_string(rows) + " points\n";
    }
    return ctx.Print(report);
}

}  // namespace sonvera
