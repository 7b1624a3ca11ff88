#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"

namespace sonvera {

enum class LogSweepParamError;
struct LogSweepParams;

struct CliCommand;

/// Everything a subcommand of sonvera-cli gets: the common options and its own arguments,
/// and the ways it reports: one line on standard error per failure, its results on
/// standard output or in files, each checked.
struct CliContext {
    CommonOptions options;
    std::vector<std::string> args;  // arguments after the subcommand's name
    const CliCommand* command = nullptr;

    /// Reads the subcommand's arguments in one pass from left to right, each option
    /// taking its value whatever it looks like: the common options here, every other
    /// argument through `own`, which returns "" when it took it, else the error. Returns
    /// -1 to go on, else the exit status: 0 after printing the usage (--help) or the
    /// version, 2 after printing the error's one line.
    int ReadOptions(const std::function<std::string(OptionCursor&)>& own);

    /// Prints "sonvera-cli COMMAND: message" on standard error and returns `status`.
    int Fail(int status, const std::string& message) const;
    /// Writes to standard output: 0, or 1 after saying why.
    int Print(std::string_view text) const;
    /// Writes a whole file output (see OutputFile): 0, or 1 after saying why.
    int WriteFile(const std::string& target, std::string_view bytes) const;
};

/// A subcommand: its name, one line of help, its usage text, and the routine that runs
/// it (returns the process's exit status: 0 success, 1 failure, 2 bad usage).
struct CliCommand {
    const char* name;
    const char* summary;
    const char* usage;
    int (*run)(CliContext&);
};

// The subcommands, each in its own file cli_<name>.cpp with its usage text.
int RunSettingsCommand(CliContext& ctx);
int RunPlotCommand(CliContext& ctx);
int RunScopeCommand(CliContext& ctx);
int RunDevicesCommand(CliContext& ctx);
int RunSpectrumCommand(CliContext& ctx);
int RunSweepCommand(CliContext& ctx);
int RunGenerateCommand(CliContext& ctx);
int RunLogSweepCommand(CliContext& ctx);
int RunDistortionCommand(CliContext& ctx);
int RunImdCommand(CliContext& ctx);
int RunCrosstalkCommand(CliContext& ctx);
int RunNoiseCommand(CliContext& ctx);
int RunLevelSweepCommand(CliContext& ctx);
extern const char* const kSettingsUsage;
extern const char* const kPlotUsage;
extern const char* const kScopeUsage;
extern const char* const kDevicesUsage;
extern const char* const kSpectrumUsage;
extern const char* const kSweepUsage;
extern const char* const kGenerateUsage;
extern const char* const kLogSweepUsage;
extern const char* const kDistortionUsage;
extern const char* const kImdUsage;
extern const char* const kCrosstalkUsage;
extern const char* const kNoiseUsage;
extern const char* const kLevelSweepUsage;

/// The text of a log sweep parameter error, naming the option.
std::string LogSweepParamMessage(LogSweepParamError error, const LogSweepParams& params);

/// A whole number in decimal digits with an optional sign (nothing else).
bool ParseWholeNumber(const std::string& text, int& value);

/// Takes the current option's value as a whole number from `lo` to `hi` into `target`;
/// returns "" or the error ("--name needs a whole number from lo to hi").
std::string TakeWholeNumber(OptionCursor& cursor, int lo, int hi, int& target);
std::string TakeWholeNumber(OptionCursor& cursor, int lo, int hi, std::optional<int>& target);

}  // namespace sonvera
