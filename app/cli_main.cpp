// sonvera-cli: the measurements and tools of Sonvera without a window.
#include <cstring>
#include <iostream>

#include "app/cli.h"
#include "app/options.h"

namespace {

const sonvera::CliCommand kCommands[] = {
    {"settings", "print every setting as SECTION.KEY=value, as the program would write it",
     &sonvera::RunSettingsCommand},
    {"plot", "draw a saved diagram table as a PNG picture", &sonvera::RunPlotCommand},
    {"scope", "record one oscilloscope block; its points as text, the view as PNG", &sonvera::RunScopeCommand},
    {"devices", "print the report of every audio device (wave in, wave out, MIDI, aux)", &sonvera::RunDevicesCommand},
    {"spectrum", "one spectrum run: the table of levels per bin, the result line last", &sonvera::RunSpectrumCommand},
    {"sweep", "one frequency sweep: level (and phase) per step as a table, the diagram as PNG", &sonvera::RunSweepCommand},
    {"generate", "the generator's looped output (sine, square, noise) as a wave file", &sonvera::RunGenerateCommand},
    {"logsweep", "one exponential sine sweep: level, phase, harmonics, delay per frequency", &sonvera::RunLogSweepCommand},
};

void PrintUsage(std::ostream& out)
{
    out << "Usage: sonvera-cli [--config FILE] [--audio virtual|portaudio|auto] [--dut SPEC] COMMAND [ARGS]\n"
           "\n"
           "Commands:\n";
    for (const auto& c : kCommands) {
        out << "  " << c.name << std::string(12 - std::strlen(c.name), ' ') << c.summary << "\n";
    }
    out << "\n"
           "  --config FILE   configuration file (default: snv13.cfg next to the program)\n"
           "  --help          this text\n"
           "  --version       the program's version\n";
}

}  // namespace

int main(int argc, char** argv)
{
    sonvera::CliContext ctx;
    ctx.options = sonvera::ParseCommonOptions(argc, argv);
    if (!ctx.options.error.empty()) {
        std::cerr << "sonvera-cli: " << ctx.options.error << "\n";
        PrintUsage(std::cerr);
        return 2;
    }
    if (ctx.options.version) {
        std::cout << sonvera::VersionLine("sonvera-cli") << "\n";
        return 0;
    }
    if (ctx.options.rest.empty()) {
        PrintUsage(ctx.options.help ? std::cout : std::cerr);
        return ctx.options.help ? 0 : 2;
    }
    const std::string name = ctx.options.rest.front();
    ctx.args.assign(ctx.options.rest.begin() + 1, ctx.options.rest.end());
    for (const auto& c : kCommands) {
        if (name == c.name) {
            return c.run(ctx);
        }
    }
    std::cerr << "sonvera-cli: unknown command '" << name << "'\n";
    PrintUsage(std::cerr);
    return 2;
}
