// Fuzz target: the reader of limits files. The input is the file's text.

#include "fuzz/fuzz_limits.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/fuzzsupport.h"

namespace sonvera::fuzz {

namespace {

bool Ordered(const std::optional<double>& lower, const std::optional<double>& upper)
{
    return (!lower || std::isfinite(*lower)) && (!upper || std::isfinite(*upper)) &&
           (!lower || !upper || *lower <= *upper);
}

}  // namespace

LimitsOutcomeOfText ParseLimitsBytes(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LimitsOutcomeOfText out;
    out.error = ParseLimitsText(text, out.limits);
    const Limits& l = out.limits;
    if (out.error) {
        const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        Require(out.error.line >= 0 && out.error.line <= lines, "a refusal names a line of the text");
        Require(out.error.line > 0 || out.error.problem == LimitsProblem::NoLimits, "only an empty file has no line");
        Require(l.curve.empty() && l.readings.empty(), "a refusal leaves no limits");
        for (const char language : {'D', 'E'}) {
            const std::string words = LimitsErrorText(out.error, language);
            Require(words.size() > out.error.field.size() && words.find(out.error.field) != std::string::npos,
                    "a refusal says why, naming the field");
            Require(out.error.field.size() <= 67, "a field is named by its start");
        }
        return out;
    }
    Require(!l.curve.empty() || !l.readings.empty(), "an accepted file has limits");
    for (std::size_t i = 0; i < l.curve.size(); ++i) {
        const LimitPoint& p = l.curve[i];
        Require(std::isfinite(p.hz) && p.hz > 0.0, "frequencies are finite and above 0");
        Require(i == 0 || p.hz > l.curve[i - 1].hz, "frequencies rise");
        Require(Ordered(p.lower, p.upper), "a line's bounds are finite and ordered");
        const Bounds at = l.At(p.hz);
        Require(at.covered && at.lower == p.lower && at.upper == p.upper, "a line's own bounds at its frequency");
    }
    if (!l.curve.empty()) {
        const double from = l.curve.front().hz;
        const double to = l.curve.back().hz;
        Require(!l.At(std::nextafter(from, 0.0)).covered && !l.At(std::nextafter(to, HUGE_VAL)).covered,
                "nothing is checked outside the curve");
        const LimitCurves drawn = l.Sample(from, to, 16);
        Require(drawn.freqHz.size() >= 16 && drawn.lower.size() == drawn.freqHz.size() &&
                    drawn.upper.size() == drawn.freqHz.size(),
                "the drawn curve has both bounds at every frequency");
        Require(std::is_sorted(drawn.freqHz.begin(), drawn.freqHz.end()), "the drawn curve's frequencies rise");
    }
    std::set<std::string> names;
    for (const ReadingLimit& r : l.readings) {
        Require(r.channel.empty() || r.channel == "left" || r.channel == "right", "a channel is left or right");
        Require(!r.key.empty() && r.key.find('.') == std::string::npos, "a reading has a name");
        Require(r.lower || r.upper, "a reading has a bound");
        Require(Ordered(r.lower, r.upper), "a reading's bounds are finite and ordered");
        Require(names.insert(r.channel + "." + r.key).second, "a reading has bounds once");
    }
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::ParseLimitsBytes(data, size);
    return 0;
}
