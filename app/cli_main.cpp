// sonvera-cli: the measurements and tools of Sonvera without a window.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "app/cli.h"
#include "app/options.h"
#include "app/outputfile.h"
#include "config/configpath.h"

namespace sonvera {

namespace {

const CliCommand kCommands[] = {
    {"settings", "print every setting as SECTION.KEY=value, as the program would write it", kSettingsUsage,
     &RunSettingsCommand},
    {"plot", "draw saved diagram tables as a PNG picture, several in one", kPlotUsage, &RunPlotCommand},
    {"scope", "record one oscilloscope block; its points as text, the view as PNG", kScopeUsage, &RunScopeCommand},
    {"devices", "print the report of every audio device (wave in, wave out, MIDI, aux)", kDevicesUsage,
     &RunDevicesCommand},
    {"spectrum", "one spectrum run: the table of levels per bin, the result line last", kSpectrumUsage,
     &RunSpectrumCommand},
    {"sweep", "one frequency sweep: level (and phase) per step as a table, the diagram as PNG", kSweepUsage,
     &RunSweepCommand},
    {"generate", "the generator's looped output (sine, square, noise) as a wave file", kGenerateUsage,
     &RunGenerateCommand},
    {"logsweep", "one exponential sine sweep: level, phase, harmonics and delay per frequency", kLogSweepUsage,
     &RunLogSweepCommand},
    {"distortion", "THD, THD+N, SINAD, ENOB, noise and each harmonic of both channels", kDistortionUsage,
     &RunDistortionCommand},
    {"imd", "two-tone intermodulation of both channels: SMPTE, DIN or CCIF", kImdUsage, &RunImdCommand},
    {"noise", "idle channel noise, dynamic range and signal-to-noise ratio of both channels", kNoiseUsage,
     &RunNoiseCommand},
    {"crosstalk", "crosstalk between the channels at one frequency or over a sweep", kCrosstalkUsage,
     &RunCrosstalkCommand},
    {"levelsweep", "THD+N and THD against the output level, and the level where THD+N passes 1 %",
     kLevelSweepUsage, &RunLevelSweepCommand},
};

std::string Usage(const std::string& configOption)
{
    std::string text =
        "Usage: sonvera-cli [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC] COMMAND [ARGS]\n"
        "\n"
        "Commands:\n";
    for (const auto& c : kCommands) {
        text += std::string("  ") + c.name + std::string(12 - std::strlen(c.name), ' ') + c.summary + "\n";
    }
    text +=
        "\n"
        "  --config FILE   configuration file, only read (default: snv13.cfg next to the\n"
        "                  program when it is there, else $XDG_CONFIG_HOME/sonvera/snv13.cfg)\n"
        "  --help          this text; COMMAND --help: the command's usage\n"
        "  --version       the program's version\n"
        "\n"
        "Exit status: 0 done, 1 failed while running (devices, files), 2 bad usage.\n"
        "\n"
        "Configuration file in force: " +
        ConfigFilePath(configOption) + "\n";
    return text;
}

}  // namespace

bool ParseWholeNumber(const std::string& text, int& value)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    const auto result = std::from_chars(begin, end, value);
    return begin != end && result.ec == std::errc() && result.ptr == end;
}

std::string TakeWholeNumber(OptionCursor& cursor, int lo, int hi, int& target)
{
    const auto v = cursor.Take();
    int n = 0;
    if (!v || !ParseWholeNumber(*v, n) || n < lo || n > hi) {
        return cursor.Name() + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
    }
    target = n;
    return "";
}

std::string TakeWholeNumber(OptionCursor& cursor, int lo, int hi, std::optional<int>& target)
{
    int n = 0;
    std::string error = TakeWholeNumber(cursor, lo, hi, n);
    if (error.empty()) {
        target = n;
    }
    return error;
}

int CliContext::ReadOptions(const std::function<std::string(OptionCursor&)>& own)
{
    OptionCursor cursor(args);
    while (cursor.Next()) {
        std::string error;
        if (TakeCommonOption(cursor, options)) {
            error = options.error;
        } else {
            error = own(cursor);
        }
        if (error.empty() && cursor.UnusedInlineValue()) {
            error = cursor.Name() + " takes no value";
        }
        if (!error.empty()) {
            return Fail(2, error);  // one line; the usage stays behind --help
        }
        if (options.help || options.version) {
            break;  // what follows is not used
        }
    }
    if (options.help) {
        return Print(command->usage);
    }
    if (options.version) {
        return Print(VersionLine("sonvera-cli") + "\n");
    }
    return -1;
}

int CliContext::Fail(int status, const std::string& message) const
{
    std::cerr << "sonvera-cli " << command->name << ": " << message << "\n";
    return status;
}

int CliContext::Print(std::string_view text) const
{
    const std::string error = WriteStandardOutput(text);
    return error.empty() ? 0 : Fail(1, error);
}

int CliContext::WriteFile(const std::string& target, std::string_view bytes) const
{
    const std::string error = WriteOutputFile(target, bytes);
    return error.empty() ? 0 : Fail(1, error);
}

}  // namespace sonvera

int main(int argc, char** argv)
{
    sonvera::CliContext ctx;
    // The common options before the command; the command reads the rest itself.
    ctx.options = sonvera::ParseCommonOptions(argc, argv, true);
    if (!ctx.options.error.empty()) {
        std::cerr << "sonvera-cli: " << ctx.options.error << "\n";
        return 2;
    }
    if (ctx.options.rest.empty()) {
        if (ctx.options.version) {
            const std::string error = sonvera::WriteStandardOutput(sonvera::VersionLine("sonvera-cli") + "\n");
            if (!error.empty()) {
                std::cerr << "sonvera-cli: " << error << "\n";
                return 1;
            }
            return 0;
        }
        if (!ctx.options.help) {
            std::cerr << "sonvera-cli: no command given (sonvera-cli --help lists them)\n";
            return 2;
        }
        const std::string error = sonvera::WriteStandardOutput(sonvera::Usage(ctx.options.configPath));
        if (!error.empty()) {
            std::cerr << "sonvera-cli: " << error << "\n";
            return 1;
        }
        return 0;
    }
    const std::string name = ctx.options.rest.front();
    ctx.args.assign(ctx.options.rest.begin() + 1, ctx.options.rest.end());
    for (const auto& c : sonvera::kCommands) {
        if (name == c.name) {
            ctx.command = &c;
            return c.run(ctx);
        }
    }
    std::cerr << "sonvera-cli: unknown command '" << name << "' (sonvera-cli --help lists the commands)\n";
    return 2;
}
