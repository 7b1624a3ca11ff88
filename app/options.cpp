#include "app/options.h"

namespace sonvera {

namespace {

// Takes the value of `--name VALUE` or `--name=VALUE`; returns false when `arg` is not it.
bool TakeValue(const std::string& name, const std::string& arg, int& i, int argc, char** argv,
               std::string& value, std::string& error)
{
    const std::string prefix = "--" + name;
    if (arg == prefix) {
        if (i + 1 >= argc) {
            error = "option " + prefix + " needs a value";
            return true;
        }
        value = argv[++i];
        return true;
    }
    if (arg.rfind(prefix + "=", 0) == 0) {
        value = arg.substr(prefix.size() + 1);
        return true;
    }
    return false;
}

}  // namespace

CommonOptions ParseCommonOptions(int argc, char** argv)
{
    CommonOptions opts;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            opts.help = true;
        } else if (arg == "--version") {
            opts.version = true;
        } else if (TakeValue("config", arg, i, argc, argv, opts.configPath, opts.error) ||
                   TakeValue("audio", arg, i, argc, argv, opts.audio, opts.error) ||
                   TakeValue("dut", arg, i, argc, argv, opts.dut, opts.error)) {
            if (!opts.error.empty()) {
                return opts;
            }
        } else {
            opts.rest.push_back(arg);
        }
    }
    return opts;
}

std::string VersionLine(const std::string& program)
{
    return program + " (Sonvera V 1.3, build " SONVERA_VERSION ")";
}

bool OptionCursor::Next()
{
    if (next_ >= args_.size()) {
        return false;
    }
    index_ = next_++;
    name_ = args_[index_];
    inlineValue_.reset();
    if (const auto eq = name_.find('='); name_.rfind("--", 0) == 0 && eq != std::string::npos) {
        inlineValue_ = name_.substr(eq + 1);
        name_ = name_.substr(0, eq);
    }
    return true;
}

std::optional<std::string> OptionCursor::Take()
{
    if (inlineValue_) {
        return inlineValue_;
    }
    if (next_ >= args_.size()) {
        return std::nullopt;
    }
    return args_[next_++];
}

}  // namespace sonvera
