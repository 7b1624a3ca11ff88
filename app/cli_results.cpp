// The options and the printing that every measuring command shares for its results.
#include "app/cli.h"
#include "app/cliresult.h"
#include "app/outputfile.h"

namespace sonvera {

std::optional<std::string> ParseResultOption(OptionCursor& cursor, ResultOptions& o, bool limits)
{
    const std::string& name = cursor.Name();
    if (name == "--json") {
        o.json = true;
        return "";
    }
    if (limits && name == "--limits") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return "--limits needs a value that is not empty";
        }
        o.limitsPath = *v;
        return "";
    }
    return std::nullopt;
}

int LoadLimits(CliContext& ctx, ResultOptions& o, LimitsUse use, InputFiles& inputs)
{
    if (!o.limitsPath) {
        return 0;
    }
    const std::string& path = *o.limitsPath;
    bool unreadable = false;
    if (const std::string error = ReadLimitsFile(path, o.limits, unreadable); !error.empty()) {
        // A file that cannot be read fails as any input does; a wrong line is bad usage.
        return ctx.Fail(unreadable ? 1 : 2, error);
    }
    inputs.Add(path);
    const bool curve = use != LimitsUse::Readings && !o.limits.curve.empty();
    const bool readings = use != LimitsUse::Curve && !o.limits.readings.empty();
    if (!curve && !readings) {
        return ctx.Fail(2, path + " holds no limits this command checks (it checks " +
                               (use == LimitsUse::Curve      ? "'FREQUENCY LOWER UPPER' lines"
                                : use == LimitsUse::Readings ? "'KEY MAX' and 'KEY LOWER UPPER' lines"
                                                             : "frequency and reading lines") +
                               ")");
    }
    if (use == LimitsUse::Curve) {
        o.limits.readings.clear();
    } else if (use == LimitsUse::Readings) {
        o.limits.curve.clear();
    }
    return 0;
}

int PrintResult(CliContext& ctx, const ResultOptions& o, const CliResult& result, const std::string& text)
{
    std::optional<LimitsOutcome> outcome;
    if (o.limitsPath) {
        outcome = result.Check(o.limits);
    }
    const std::string out =
        o.json ? result.Json(outcome ? &*outcome : nullptr) : text + (outcome ? "# " + outcome->Summary() + "\n" : "");
    if (ctx.Print(out) != 0) {
        return 1;
    }
    return outcome && !outcome->Passed() ? 3 : 0;
}

}  // namespace sonvera
