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
    std::string audio;               // --audio virtual|portaudio|jack|auto; empty: environment or auto
    std::string dut;                 // --dut SPEC; empty: environment or default
    std::vector<std::string> rest;   // everything else, in order
    std::string error;               // set when the command line cannot be used
};

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
    /// Position of the current argument.
    std::size_t Index() const { return index_; }
    /// The current option's value: the text after "=", else the next argument (which is
    /// then used up, whatever it looks like); nullopt when there is none.
    std::optional<std::string> Take();
    /// Whether the current argument carried an "=value" that Take has not used.
    bool UnusedInlineValue() const { return inlineValue_.has_value() && !taken_; }

private:
    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
    std::size_t index_ = 0;
    std::string name_;
    std::optional<std::string> inlineValue_;
    bool taken_ = false;
};

/// Takes the current argument when it is a common option (--config, --audio, --dut with
/// their values, --help or -h, --version) into `options`; false when it is none. A
/// missing or empty value sets `options.error`.
bool TakeCommonOption(OptionCursor& cursor, CommonOptions& options);

/// Parses the common options in one pass from left to right, each option taking its
/// value. With `stopAtOther` the first other argument (a subcommand) ends the common
/// options: it and everything after it go to `rest` unread. Without it, other arguments
/// are collected in `rest` and the scan goes on.
CommonOptions ParseCommonOptions(int argc, char** argv, bool stopAtOther = false);

/// "Sonvera V 1.3" and the build's version number, one line.
std::string VersionLine(const std::string& program);

}  // namespace sonvera
