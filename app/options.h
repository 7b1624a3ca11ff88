#pragma once

#include <cstddef>
#include <optional>
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

/// Walks a subcommand's arguments; "--name value" and "--name=value" read alike.
class OptionCursor {
public:
    explicit OptionCursor(const std::vector<std::string>& args) : args_(args) {}
    /// Moves to the next argument; false when none is left.
    bool Next();
    /// The current option without its "=value".
    const std::string& Name() const { return name_; }
    /// The current argument as given.
    const std::string& Argument() const { return args_[index_]; }
    /// The current option's value: the text after "=", else the next argument (which is
    /// then used up); nullopt when there is none.
    std::optional<std::string> Take();

private:
    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
    std::size_t index_ = 0;
    std::string name_;
    std::optional<std::string> inlineValue_;
};

/// "Sonvera V 1.3" and the build's version number, one line.
std::string VersionLine(const std::string& program);

}  // namespace sonvera
