#include "app/options.h"

namespace sonvera {

bool TakeCommonOption(OptionCursor& cursor, CommonOptions& options)
{
    const std::string& name = cursor.Name();
    if (name == "--help" || name == "-h") {
        options.help = true;
        return true;
    }
    if (name == "--version") {
        options.version = true;
        return true;
    }
    std::string* target = name == "--config" ? &options.configPath
                          : name == "--audio" ? &options.audio
                          : name == "--dut"   ? &options.dut
                                              : nullptr;
    if (target == nullptr) {
        return false;
    }
    const auto value = cursor.Take();
    if (!value) {
        options.error = "option " + name + " needs a value";
    } else if (value->empty()) {
        // An empty name would quietly fall back to the default file or device.
        options.error = "option " + name + " needs a value that is not empty";
    } else {
        *target = *value;
    }
    return true;
}

CommonOptions ParseCommonOptions(int argc, char** argv, bool stopAtOther)
{
    CommonOptions opts;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    OptionCursor cursor(args);
    while (cursor.Next()) {
        if (TakeCommonOption(cursor, opts)) {
            if (opts.error.empty() && cursor.UnusedInlineValue()) {
                opts.error = "option " + cursor.Name() + " takes no value";
            }
            if (!opts.error.empty()) {
                return opts;
            }
            continue;
        }
        if (stopAtOther) {
            opts.rest.assign(args.begin() + static_cast<std::ptrdiff_t>(cursor.Index()), args.end());
            break;
        }
        opts.rest.push_back(cursor.Argument());
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
    taken_ = false;
    if (const auto eq = name_.find('='); name_.rfind("--", 0) == 0 && eq != std::string::npos) {
        inlineValue_ = name_.substr(eq + 1);
        name_ = name_.substr(0, eq);
    }
    return true;
}

std::optional<std::string> OptionCursor::Take()
{
    if (inlineValue_) {
        taken_ = true;
        return inlineValue_;
    }
    if (next_ >= args_.size()) {
        return std::nullopt;
    }
    return args_[next_++];
}

}  // namespace sonvera
