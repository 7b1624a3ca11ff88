#pragma once

#include <string>
#include <vector>

namespace sonvera {

/// Options common to both executables, parsed from the command line.
/// Options a program does not know are left in `rest` for its subcommands.
struct CommonOptions {
    bool help = false;
    bool version = false;
    std::string configPath;          // --config FILE; empty: next to the program
    std::string audio;               // --audio virtual|portaudio|auto; empty: environment or auto
    std::string dut;                 // --dut SPEC; empty: environment or default
    std::vector<std::string> rest;   // everything else, in order
    std::string error;               // set when the command line cannot be used
};

/// Parses the common options; `--opt=value` and `--opt value` are both accepted.
CommonOptions ParseCommonOptions(int argc, char** argv);

/// "Sonvera V 1.3" and the build's version number, one line.
std::string VersionLine(const std::string& program);

}  // namespace sonvera
