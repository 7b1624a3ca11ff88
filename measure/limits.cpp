#include "measure/limits.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "config/profilefile.h"
#include "config/profilevalues.h"

namespace sonvera {

namespace {

// A bound: a number, or "-" for none. False when the field is neither.
bool ParseBound(const std::string& field, std::optional<double>& bound)
{
    if (field == "-") {
        bound.reset();
        return true;
    }
    const auto v = ParseReal(field);
    if (!v || !std::isfinite(*v)) {
        return false;
    }
    bound = *v;
    return true;
}

bool IsKeyName(const std::string& key)
{
    if (key.empty() || !std::isalpha(static_cast<unsigned char>(key[0]))) {
        return false;
    }
    for (const char c : key) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
            return false;
        }
    }
    return true;
}

// A field is named by its first kMaxFieldBytes: a line of one long word stays a short
// message.
constexpr std::size_t kMaxFieldBytes = 64;

LimitsError Wrong(LimitsProblem problem, const std::string& field = {})
{
    LimitsError e;
    e.problem = problem;
    e.field = field.size() > kMaxFieldBytes ? CutUtf8(field, kMaxFieldBytes) + "..." : field;
    return e;
}

LimitsError ParseLine(const std::vector<std::string>& fields, Limits& limits, std::set<std::string>& named)
{
    const std::string& first = fields[0];
    const bool frequency = std::isdigit(static_cast<unsigned char>(first[0])) || first[0] == '.' || first[0] == '+' ||
                           first[0] == '-';
    if (frequency) {
        LimitPoint p;
        const auto hz = ParseReal(first);
        if (!hz || !std::isfinite(*hz) || *hz <= 0.0) {
            return Wrong(LimitsProblem::BadFrequency, first);
        }
        p.hz = *hz;
        if (fields.size() != 3) {
            return Wrong(LimitsProblem::FrequencyFields);
        }
        if (!ParseBound(fields[1], p.lower) || !ParseBound(fields[2], p.upper)) {
            return Wrong(LimitsProblem::BadDbBound);
        }
        if (p.lower && p.upper && *p.lower > *p.upper) {
            return Wrong(LimitsProblem::LowerAboveUpper);
        }
        if (!limits.curve.empty() && p.hz <= limits.curve.back().hz) {
            return Wrong(LimitsProblem::NotRising);
        }
        limits.curve.push_back(p);
        return {};
    }
    ReadingLimit r;
    r.key = first;
    if (const auto dot = first.find('.'); dot != std::string::npos) {
        r.channel = first.substr(0, dot);
        r.key = first.substr(dot + 1);
        if (r.channel != "left" && r.channel != "right") {
            return Wrong(LimitsProblem::BadChannel, first);
        }
    }
    if (!IsKeyName(r.key)) {
        return Wrong(LimitsProblem::NotAName, first);
    }
    if (fields.size() == 2) {
        if (!ParseBound(fields[1], r.upper) || !r.upper) {
            return Wrong(LimitsProblem::BadMaximum);
        }
    } else if (fields.size() == 3) {
        if (!ParseBound(fields[1], r.lower) || !ParseBound(fields[2], r.upper)) {
            return Wrong(LimitsProblem::BadBound);
        }
        if (!r.lower && !r.upper) {
            return Wrong(LimitsProblem::NoBound);
        }
        if (r.lower && r.upper && *r.lower > *r.upper) {
            return Wrong(LimitsProblem::LowerAboveUpper);
        }
    } else {
        return Wrong(LimitsProblem::ReadingFields);
    }
    // A set, not a search through the readings so far: a file of many reading lines
    // stays linear.
    if (!named.insert(first).second) {
        return Wrong(LimitsProblem::Repeated, first);
    }
    limits.readings.push_back(r);
    return {};
}

// The reasons in English and German; %1 stands for the error's field or detail.
struct ProblemText {
    LimitsProblem problem;
    const char* english;
    const char* german;
};

static_assert(kMaxLimitsBytes == 16u << 20, "the texts name the size");

constexpr ProblemText kProblemTexts[] = {
    {LimitsProblem::Directory, "is a directory", "ist ein Ordner"},
    {LimitsProblem::Unopenable, "%1", "nicht lesbar (%1)"},
    {LimitsProblem::Unreadable, "cannot be read", "nicht lesbar"},
    {LimitsProblem::TooLarge, "more than 16 MiB, larger than any limits file; not read further",
     "mehr als 16 MiB, größer als jede Grenzwertdatei; nicht weiter gelesen"},
    {LimitsProblem::NotText, "not a text line", "keine Textzeile"},
    {LimitsProblem::BadFrequency, "the frequency '%1' is not a number of Hz above 0",
     "die Frequenz '%1' ist keine Zahl in Hz über 0"},
    {LimitsProblem::FrequencyFields,
     "a frequency line needs three fields: frequency, lower and upper bound in dB ('-' for none)",
     "eine Frequenzzeile braucht drei Felder: Frequenz, untere und obere Grenze in dB ('-' für keine)"},
    {LimitsProblem::BadDbBound, "a bound must be a number of dB or '-'",
     "eine Grenze muss eine Zahl in dB oder '-' sein"},
    {LimitsProblem::LowerAboveUpper, "the lower bound lies above the upper one",
     "die untere Grenze liegt über der oberen"},
    {LimitsProblem::NotRising, "the frequencies must rise from line to line",
     "die Frequenzen müssen von Zeile zu Zeile steigen"},
    {LimitsProblem::BadChannel, "'%1': a reading's channel is left or right",
     "'%1': der Kanal eines Messwerts ist left oder right"},
    {LimitsProblem::NotAName, "'%1' is neither a frequency nor the name of a reading",
     "'%1' ist weder eine Frequenz noch der Name eines Messwerts"},
    {LimitsProblem::BadMaximum, "a reading's maximum must be a number", "das Maximum eines Messwerts muss eine Zahl sein"},
    {LimitsProblem::BadBound, "a bound must be a number or '-'", "eine Grenze muss eine Zahl oder '-' sein"},
    {LimitsProblem::NoBound, "a reading's line needs at least one bound",
     "die Zeile eines Messwerts braucht mindestens eine Grenze"},
    {LimitsProblem::ReadingFields, "a reading's line is 'KEY MAX' or 'KEY LOWER UPPER'",
     "die Zeile eines Messwerts lautet 'NAME MAX' oder 'NAME UNTEN OBEN'"},
    {LimitsProblem::Repeated, "'%1' has bounds already", "'%1' hat schon Grenzen"},
    {LimitsProblem::NoLimits, "no limits in the file", "keine Grenzwerte in der Datei"},
};

}  // namespace

Bounds Limits::At(double hz) const
{
    Bounds b;
    if (curve.empty() || !(hz >= curve.front().hz && hz <= curve.back().hz)) {
        return b;
    }
    b.covered = true;
    // The last line at or below hz (the first line is, as hz lies within the curve).
    const auto after =
        std::upper_bound(curve.begin(), curve.end(), hz, [](double f, const LimitPoint& p) { return f < p.hz; });
    const std::size_t i = static_cast<std::size_t>(after - curve.begin()) - 1;
    const LimitPoint& a = curve[i];
    if (a.hz == hz) {
        b.lower = a.lower;
        b.upper = a.upper;
        return b;
    }
    const LimitPoint& c = curve[i + 1];
    const double t = std::log(hz / a.hz) / std::log(c.hz / a.hz);
    auto between = [t](const std::optional<double>& x, const std::optional<double>& y) -> std::optional<double> {
        if (!x || !y) {
            return std::nullopt;
        }
        return *x + t * (*y - *x);
    };
    b.lower = between(a.lower, c.lower);
    b.upper = between(a.upper, c.upper);
    return b;
}

LimitCurves Limits::Sample(double fromHz, double toHz, int points) const
{
    LimitCurves out;
    if (curve.empty()) {
        return out;
    }
    const double lo = std::max(fromHz, curve.front().hz);
    const double hi = std::min(toHz, curve.back().hz);
    if (!(lo <= hi) || points < 2) {
        return out;
    }
    std::vector<double> at;
    for (int i = 0; i < points; ++i) {
        at.push_back(lo * std::pow(hi / lo, static_cast<double>(i) / (points - 1)));
    }
    for (const LimitPoint& p : curve) {
        if (p.hz > lo && p.hz < hi) {
            at.push_back(p.hz);
        }
    }
    std::sort(at.begin(), at.end());
    const float none = std::nanf("");
    for (const double hz : at) {
        const Bounds b = At(hz);
        out.freqHz.push_back(static_cast<float>(hz));
        out.lower.push_back(b.lower ? static_cast<float>(*b.lower) : none);
        out.upper.push_back(b.upper ? static_cast<float>(*b.upper) : none);
    }
    return out;
}

bool LimitsError::Unreadable() const
{
    return problem == LimitsProblem::Directory || problem == LimitsProblem::Unopenable ||
           problem == LimitsProblem::Unreadable || problem == LimitsProblem::TooLarge;
}

std::string LimitsErrorText(const LimitsError& error, char language)
{
    if (!error) {
        return {};
    }
    const bool de = language == 'D';
    std::string reason;
    for (const ProblemText& t : kProblemTexts) {
        if (t.problem == error.problem) {
            reason = de ? t.german : t.english;
        }
    }
    if (const auto at = reason.find("%1"); at != std::string::npos) {
        reason.replace(at, 2, error.problem == LimitsProblem::Unopenable ? error.detail : error.field);
    }
    std::string where = error.path;
    if (error.line > 0) {
        where += (where.empty() ? "" : ", ") + std::string(de ? "Zeile " : "line ") + std::to_string(error.line);
    }
    return where.empty() ? reason : where + ": " + reason;
}

LimitsError ParseLimitsText(std::string_view text, Limits& limits)
{
    limits = Limits{};
    std::set<std::string> named;
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        ++number;
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string line(text.substr(at, end - at));
        at = end + 1;
        if (const auto hash = line.find('#'); hash != std::string::npos) {
            line.resize(hash);
        }
        LimitsError error;
        if (line.find('\0') != std::string::npos) {
            error = Wrong(LimitsProblem::NotText);
        } else {
            std::istringstream fields(line);
            std::vector<std::string> parts{std::istream_iterator<std::string>(fields),
                                           std::istream_iterator<std::string>()};
            if (parts.empty()) {
                continue;
            }
            error = ParseLine(parts, limits, named);
        }
        if (error) {
            error.line = number;
            limits = Limits{};  // a refused file leaves no limits
            return error;
        }
    }
    if (limits.curve.empty() && limits.readings.empty()) {
        return Wrong(LimitsProblem::NoLimits);
    }
    return {};
}

LimitsError ReadLimits(const std::string& path, Limits& limits)
{
    limits = Limits{};
    LimitsError error;
    error.path = path;
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) {
        error.problem = LimitsProblem::Directory;
        return error;
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error.problem = errno != 0 ? LimitsProblem::Unopenable : LimitsProblem::Unreadable;
        error.detail = errno != 0 ? std::strerror(errno) : "";
        return error;
    }
    // Read in pieces up to one byte beyond the limit: a device or pipe that never ends
    // is refused instead of filling the memory.
    std::string bytes;
    char buffer[65536];
    while (bytes.size() <= kMaxLimitsBytes && file.read(buffer, sizeof buffer).gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad()) {
        error.problem = LimitsProblem::Unreadable;
        return error;
    }
    if (bytes.size() > kMaxLimitsBytes) {
        error.problem = LimitsProblem::TooLarge;
        return error;
    }
    error = ParseLimitsText(bytes, limits);
    if (error) {
        error.path = path;
    }
    return error;
}

std::string ParseLimits(std::string_view text, Limits& limits)
{
    return LimitsErrorText(ParseLimitsText(text, limits), 'E');
}

std::string ReadLimitsFile(const std::string& path, Limits& limits, bool& unreadable)
{
    const LimitsError error = ReadLimits(path, limits);
    unreadable = error.Unreadable();
    return LimitsErrorText(error, 'E');
}

std::string LimitsOutcome::Summary() const
{
    if (Passed()) {
        return "limits: PASS";
    }
    return "limits: FAIL " + std::to_string(failures.size()) + " of " + std::to_string(checked) + " points";
}

void LimitsOutcome::Check(const std::string& what, double hz, double value, bool below,
                          const std::optional<double>& lower, const std::optional<double>& upper)
{
    ++checked;
    // NaN fails: a point without a value cannot be said to lie within its bounds; nor can
    // a value known only to lie below a level pass a lower bound.
    const bool inside =
        !std::isnan(value) && (!lower || (!below && value >= *lower)) && (!upper || value <= *upper);
    if (!inside) {
        failures.push_back({what, hz, value, lower, upper});
    }
}

void LimitsOutcome::CheckPoint(const Limits& limits, const std::string& what, double hz, double value, bool below)
{
    const Bounds b = limits.At(hz);
    if (b.covered && (b.lower || b.upper)) {
        Check(what, hz, value, below, b.lower, b.upper);
    }
}

void LimitsOutcome::CheckReading(const ReadingLimit& limit, const std::string& what, std::optional<double> value,
                                 bool below)
{
    Check(what, 0.0, value.value_or(std::nan("")), below, limit.lower, limit.upper);
}

}  // namespace sonvera
