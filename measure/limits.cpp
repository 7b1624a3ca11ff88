#include "measure/limits.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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

std::string ParseLine(const std::vector<std::string>& fields, Limits& limits)
{
    const std::string& first = fields[0];
    const bool frequency = std::isdigit(static_cast<unsigned char>(first[0])) || first[0] == '.' || first[0] == '+' ||
                           first[0] == '-';
    if (frequency) {
        LimitPoint p;
        const auto hz = ParseReal(first);
        if (!hz || !std::isfinite(*hz) || *hz <= 0.0) {
            return "the frequency '" + first + "' is not a number of Hz above 0";
        }
        p.hz = *hz;
        if (fields.size() != 3) {
            return "a frequency line needs three fields: frequency, lower and upper bound in dB ('-' for none)";
        }
        if (!ParseBound(fields[1], p.lower) || !ParseBound(fields[2], p.upper)) {
            return "a bound must be a number of dB or '-'";
        }
        if (p.lower && p.upper && *p.lower > *p.upper) {
            return "the lower bound lies above the upper one";
        }
        if (!limits.curve.empty() && p.hz <= limits.curve.back().hz) {
            return "the frequencies must rise from line to line";
        }
        limits.curve.push_back(p);
        return "";
    }
    ReadingLimit r;
    r.key = first;
    if (const auto dot = first.find('.'); dot != std::string::npos) {
        r.channel = first.substr(0, dot);
        r.key = first.substr(dot + 1);
        if (r.channel != "left" && r.channel != "right") {
            return "'" + first + "': a reading's channel is left or right";
        }
    }
    if (!IsKeyName(r.key)) {
        return "'" + first + "' is neither a frequency nor the name of a reading";
    }
    if (fields.size() == 2) {
        if (!ParseBound(fields[1], r.upper) || !r.upper) {
            return "a reading's maximum must be a number";
        }
    } else if (fields.size() == 3) {
        if (!ParseBound(fields[1], r.lower) || !ParseBound(fields[2], r.upper)) {
            return "a bound must be a number or '-'";
        }
        if (!r.lower && !r.upper) {
            return "a reading's line needs at least one bound";
        }
        if (r.lower && r.upper && *r.lower > *r.upper) {
            return "the lower bound lies above the upper one";
        }
    } else {
        return "a reading's line is 'KEY MAX' or 'KEY LOWER UPPER'";
    }
    for (const ReadingLimit& other : limits.readings) {
        if (other.key == r.key && other.channel == r.channel) {
            return "'" + first + "' has bounds already";
        }
    }
    limits.readings.push_back(r);
    return "";
}

}  // namespace

Bounds Limits::At(double hz) const
{
    Bounds b;
    if (curve.empty() || !(hz >= curve.front().hz && hz <= curve.back().hz)) {
        return b;
    }
    b.covered = true;
    std::size_t i = 0;
    while (i + 1 < curve.size() && curve[i + 1].hz <= hz) {
        ++i;
    }
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

std::string ParseLimits(std::string_view text, Limits& limits)
{
    limits = Limits{};
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
        if (line.find('\0') != std::string::npos) {
            return "line " + std::to_string(number) + ": not a text line";
        }
        std::istringstream fields(line);
        std::vector<std::string> parts{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
        if (parts.empty()) {
            continue;
        }
        if (const std::string error = ParseLine(parts, limits); !error.empty()) {
            return "line " + std::to_string(number) + ": " + error;
        }
    }
    if (limits.curve.empty() && limits.readings.empty()) {
        return "no limits in the file";
    }
    return "";
}

std::string ReadLimitsFile(const std::string& path, Limits& limits, bool& unreadable)
{
    unreadable = true;
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) {
        return path + ": is a directory";
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return path + ": " + (errno != 0 ? std::strerror(errno) : "cannot be read");
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad()) {
        return path + ": cannot be read";
    }
    unreadable = false;
    const std::string error = ParseLimits(bytes.str(), limits);
    if (error.empty()) {
        return "";
    }
    return path + (error.rfind("line ", 0) == 0 ? ", " : ": ") + error;
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
