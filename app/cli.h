#pragma once

#include <string>
#include <vector>

#include "app/options.h"

namespace sonvera {

/// Everything a subcommand of sonvera-cli gets: the common options and its own arguments.
struct CliContext {
    CommonOptions options;
    std::vector<std::string> args;  // arguments after the subcommand's name
};

/// A subcommand: its name, one line of help, and the routine that runs it
/// (returns the process's exit status: 0 success, 1 failure, 2 bad usage).
struct CliCommand {
    const char* name;
    const char* summary;
    int (*run)(const CliContext&);
};

// The subcommands, each in its own file cli_<name>.cpp.
int RunSettingsCommand(const CliContext& ctx);
int RunPlotCommand(const CliContext& ctx);
int RunScopeCommand(const CliContext& ctx);
int RunDevicesCommand(const CliContext& ctx);
int RunSpectrumCommand(const CliContext& ctx);
int RunSweepCommand(const CliContext& ctx);
int RunGenerateCommand(const CliContext& ctx);
int RunLogSweepCommand(const CliContext& ctx);

}  // namespace sonvera
