// sonvera-cli plot: re-plots a saved diagram table as a PNG, the way the diagram prints.
#include <QGuiApplication>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/cli.h"
#include "diagram/diagramplot.h"
#include "diagram/diagramtable.h"

namespace sonvera {

namespace {

constexpr const char* kPlotUsage =
    "Usage: sonvera-cli plot TABLE [--png FILE] [--log|--lin] [--fmin HZ --fmax HZ]\n"
    "                        [--ymin DB --ymax DB] [--width W --height H] [--comment TEXT]\n"
    "                        [--columns 2|3]\n"
    "  TABLE       a diagram table saved as text (frequency and one or two curves)\n"
    "  --png FILE  the picture to write (default: TABLE with the extension .png)\n"
    "  --columns   numbers per point when the table has one number per line\n";

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

int Usage(const std::string& message)
{
    std::cerr << "sonvera-cli plot: " << message << "\n" << kPlotUsage;
    return 2;
}

}  // namespace

int RunPlotCommand(const CliContext& ctx)
{
    if (ctx.options.help) {
        std::cout << kPlotUsage;
        return 0;
    }
    std::string tablePath;
    std::string pngPath;
    int columns = 0;
    DiagramPlotOptions options;
    const auto& a = ctx.args;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::string& arg = a[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= a.size()) {
                return false;
            }
            out = a[++i];
            return true;
        };
        std::string v;
        if (arg == "--log" || arg == "--lin") {
            options.logAxis = arg == "--log";
        } else if (arg == "--png" || arg == "--comment") {
            if (!value(v)) {
                return Usage(arg + " needs a value");
            }
            (arg == "--png" ? pngPath : options.comment) = v;
        } else if (arg == "--fmin" || arg == "--fmax" || arg == "--width" || arg == "--height" ||
                   arg == "--columns") {
            int n = 0;
            if (!value(v) || !ParseNumber(v, n)) {
                return Usage(arg + " needs a whole number");
            }
            if (arg == "--fmin") {
                options.freqMinHz = n;
            } else if (arg == "--fmax") {
                options.freqMaxHz = n;
            } else if (arg == "--width") {
                options.width = n;
            } else if (arg == "--height") {
                options.height = n;
            } else {
                columns = n;
            }
        } else if (arg == "--ymin" || arg == "--ymax") {
            double d = 0.0;
            if (!value(v) || !ParseNumber(v, d)) {
                return Usage(arg + " needs a number (with '.' as decimal mark)");
            }
            (arg == "--ymin" ? options.levelMinDb : options.levelMaxDb) = d;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kPlotUsage;
            return 0;
        } else if (!arg.empty() && arg[0] == '-' && arg.size() > 1) {
            return Usage("unknown option '" + arg + "'");
        } else if (tablePath.empty()) {
            tablePath = arg;
        } else {
            return Usage("only one TABLE");
        }
    }
    if (tablePath.empty()) {
        return Usage("no TABLE given");
    }
    if (columns != 0 && columns != 2 && columns != 3) {
        return Usage("--columns is 2 or 3");
    }
    if (pngPath.empty()) {
        pngPath = std::filesystem::path(tablePath).replace_extension(".png").string();
    }
    {
        // The measurement must never be overwritten by its own picture.
        std::error_code ec;
        if (pngPath == tablePath || std::filesystem::equivalent(pngPath, tablePath, ec)) {
            return Usage("the picture would overwrite the table; name another file with --png");
        }
    }

    std::ifstream in(tablePath, std::ios::binary);
    if (!in) {
        std::cerr << "sonvera-cli plot: cannot read " << tablePath << "\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    DiagramTable table;
    std::string error;
    if (!ParseDiagramTable(text.str(), columns, table, error)) {
        std::cerr << "sonvera-cli plot: " << tablePath << ": " << error << "\n";
        return 1;
    }

    // Drawing needs a GUI application object, but never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "sonvera-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    QImage image;
    if (!PlotDiagramTable(table, options, image, error)) {
        std::cerr << "sonvera-cli plot: " << error << "\n";
        return 1;
    }
    if (!image.save(QString::fromStdString(pngPath), "PNG")) {
        std::cerr << "sonvera-cli plot: cannot write " << pngPath << "\n";
        return 1;
    }
    std::cout << pngPath << ": " << table.freqHz.size() << " points\n";
    return 0;
}

}  // namespace sonvera
