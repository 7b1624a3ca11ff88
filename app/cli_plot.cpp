// sonvera-cli plot: re-plots a saved diagram table as a PNG, the way the diagram prints.
#include <QImage>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/cli.h"
#include "app/clisession.h"
#include "app/outputfile.h"
#include "config/configpath.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramplot.h"
#include "diagram/diagramtable.h"

namespace sonvera {

const char* const kPlotUsage =
    "Usage: sonvera-cli plot TABLE [--png FILE] [--log|--lin] [--fmin HZ --fmax HZ]\n"
    "                        [--ymin DB --ymax DB] [--width W --height H] [--comment TEXT]\n"
    "                        [--columns 2|3]\n"
    "  TABLE       a diagram table saved as text (frequency and one or two curves),\n"
    "              a regular file of at most 64 MiB and 524290 points\n"
    "  --png FILE  the picture to write (default: TABLE with the extension .png)\n"
    "  --width W, --height H   170..20000 x 120..20000 pixels (default 1000 x 700)\n"
    "  --columns   numbers per point when the table has one number per line\n";

namespace {

/// Longest table read: the 524288 bins of the longest spectrum's export (about 25 bytes a
/// line) with room for wider separators and blanks (128 bytes a point); more cannot be a
/// table the diagram can hold.
constexpr std::size_t kMaxTableBytes = 64u << 20;

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
    std::string tablePath;
    std::string pngPath;
    int columns = 0;
    DiagramPlotOptions plot;
};

/// Takes one argument of the command; returns "" or the error.
std::string ParsePlotArgument(OptionCursor& cursor, PlotOptions& o)
{
    const std::string& arg = cursor.Name();
    if (arg == "--log" || arg == "--lin") {
        o.plot.logAxis = arg == "--log";
    } else if (arg == "--png" || arg == "--comment") {
        const auto v = cursor.Take();
        if (!v || (arg == "--png" && v->empty())) {
            return arg + " needs a value";
        }
        (arg == "--png" ? o.pngPath : o.plot.comment) = *v;
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
    } else if (o.tablePath.empty()) {
        o.tablePath = cursor.Argument();
        if (o.tablePath.empty()) {
            return "TABLE needs a name that is not empty";
        }
    } else {
        return "only one TABLE";
    }
    return "";
}

std::string CheckPlotOptions(const PlotOptions& o)
{
    const DiagramPlotOptions& p = o.plot;
    if (o.tablePath.empty()) {
        return "no TABLE given";
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

/// Reads the table: a regular file, at most kMaxTableBytes. "" or the reason.
std::string ReadTable(const std::string& path, std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    std::string error;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file (a table is read from a disk, not from a pipe or device)";
    }
    char buffer[65536];
    while (error.empty()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
        } else if (n == 0) {
            break;
        } else if (text.size() + static_cast<std::size_t>(n) > kMaxTableBytes) {
            error = "more than " + std::to_string(kMaxTableBytes >> 20) + " MiB, larger than any table of " +
                    std::to_string(DiagramModel::MaxDiagramPoints) + " points; not read further";
        } else {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return error;
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
    if (o.pngPath.empty()) {
        o.pngPath = std::filesystem::path(o.tablePath).replace_extension(".png").native();
    }
    // The measurement must never be overwritten by its own picture, nor the
    // configuration the command names.
    InputFiles tableFile;
    tableFile.Add(o.tablePath);
    if (o.pngPath == o.tablePath || tableFile.SameFileAs(o.pngPath)) {
        return ctx.Fail(2, "the picture " + o.pngPath + " would overwrite the table; name another file with --png");
    }
    InputFiles configuration;
    configuration.Add(ConfigFilePath(ctx.options.configPath));
    if (const auto config = configuration.SameFileAs(o.pngPath)) {
        return ctx.Fail(2, "the picture " + o.pngPath + " is the configuration file " + *config +
                               "; name another file with --png");
    }
    OutputTargets targets;
    if (std::string error; const int status = targets.Check(o.pngPath, false, error)) {
        return ctx.Fail(status, error);
    }

    std::string text;
    if (const std::string error = ReadTable(o.tablePath, text); !error.empty()) {
        return ctx.Fail(1, o.tablePath + ": " + error);
    }
    DiagramTable table;
    std::string error;
    if (!ParseDiagramTable(text, o.columns, table, error)) {
        return ctx.Fail(1, o.tablePath + ": " + error);
    }

    std::string png;
    {
        const OffscreenDrawing drawing;
        QImage image;
        if (!PlotDiagramTable(table, o.plot, image, error)) {
            return ctx.Fail(1, error);
        }
        png = PngBytes(image);
    }
    if (png.empty()) {
        return ctx.Fail(1, "the picture could not be encoded");
    }
    if (ctx.WriteFile(o.pngPath, png) != 0) {
        return 1;
    }
    // A table of gaps is a valid table: its axes are drawn, and the line says why there
    // is no curve.
    return ctx.Print(o.pngPath + ": " + std::to_string(table.freqHz.size()) + " points" +
                     (HasCurveValues(table) ? "" : ", none with a value (only the axes are drawn)") + "\n");
}

}  // namespace sonvera
