#pragma once
// Pass/fail limits of a measurement: a curve of lower and upper bounds in dB over
// frequency, and bounds of single readings, read from a plain text file and checked
// against a run's results.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonvera {

/// One line "FREQUENCY LOWER UPPER" of a limits file: either bound may be absent ("-").
struct LimitPoint {
    double hz = 0.0;
    std::optional<double> lower, upper;
};

/// One line "KEY MAX" or "KEY LOWER UPPER": the bounds of a reading. `channel` is "left"
/// or "right" for "left.KEY", empty for a plain key (every channel, or a reading without
/// a channel).
struct ReadingLimit {
    std::string channel;
    std::string key;
    std::optional<double> lower, upper;
};

/// The bounds at one frequency; `covered` is false outside the curve's frequency range,
/// where nothing is checked.
struct Bounds {
    bool covered = false;
    std::optional<double> lower, upper;
};

/// The curve's bounds at frequencies for drawing: NaN where a bound is absent.
struct LimitCurves {
    std::vector<float> freqHz, lower, upper;
};

struct Limits {
    std::vector<LimitPoint> curve;  // by rising frequency
    std::vector<ReadingLimit> readings;

    /// The bounds from `fromHz` to `toHz` (where the curve reaches): `points` frequencies
    /// spaced evenly on a logarithmic axis and the curve's own lines among them.
    LimitCurves Sample(double fromHz, double toHz, int points) const;

    /// The curve's bounds at `hz`: a line's own values at its frequency, between two lines
    /// the bound both give interpolated linearly over the logarithm of the frequency
    /// (absent where either line has none), nothing outside the first and last line.
    Bounds At(double hz) const;
};

/// Why a limits file was not used.
enum class LimitsProblem {
    None,
    Directory,        // the path names a folder
    Unopenable,       // detail: the system's reason
    Unreadable,       // reading broke off
    TooLarge,         // more than kMaxLimitsBytes
    NotText,          // a line holds a NUL byte
    BadFrequency,     // field: the line's first field
    FrequencyFields,  // a frequency line without exactly three fields
    BadDbBound,       // a curve's bound is neither a number nor "-"
    LowerAboveUpper,
    NotRising,        // a frequency not above the line's before
    BadChannel,       // field: the reading's name with a channel other than left/right
    NotAName,         // field: neither a frequency nor a reading's name
    BadMaximum,       // "KEY MAX" without a number
    BadBound,         // a reading's bound is neither a number nor "-"
    NoBound,          // "KEY - -"
    ReadingFields,    // a reading's line with other than two or three fields
    Repeated,         // field: the reading has bounds already
    NoLimits,         // no line with a limit
};

/// A limits file is refused beyond this size (its lines are a few dozen bytes each).
inline constexpr std::size_t kMaxLimitsBytes = 16u << 20;

/// What went wrong with a limits file, to be put into words by LimitsErrorText.
struct LimitsError {
    LimitsProblem problem = LimitsProblem::None;
    std::string path;    // "" for a text not read from a file
    int line = 0;        // the first line that cannot be used; 0: the file as a whole
    std::string field;   // the field the reason names
    std::string detail;  // Unopenable: the system's reason
    explicit operator bool() const { return problem != LimitsProblem::None; }
    /// The file could not be read at all (as against a file with a wrong line).
    bool Unreadable() const;
};

/// The error in German for 'D', in English otherwise: "PATH, line N: reason" or
/// "PATH: reason" ("line N: reason" / "reason" without a path).
std::string LimitsErrorText(const LimitsError& error, char language);

/// Reads the text of a limits file: one limit per line, "#" to the line's end a comment,
/// blank lines allowed, fields separated by blanks or tabs. Fills `limits`, or names the
/// first line that cannot be used and leaves `limits` empty.
LimitsError ParseLimitsText(std::string_view text, Limits& limits);

/// Reads and parses the file `path` (at most kMaxLimitsBytes of it).
LimitsError ReadLimits(const std::string& path, Limits& limits);

/// ParseLimitsText's error in English: "" or "line N: reason".
std::string ParseLimits(std::string_view text, Limits& limits);

/// ReadLimits's error in English: "" or "PATH: reason" / "PATH, line N: reason", with
/// `unreadable` set when the file could not be read at all.
std::string ReadLimitsFile(const std::string& path, Limits& limits, bool& unreadable);

/// One value that lies outside its bounds (or has none to compare: NaN, no reading).
struct LimitFailure {
    std::string what;   // the column or reading ("level_db", "left.thd_db")
    double hz = 0.0;    // the frequency of a curve point (0 for a reading)
    double value = 0.0; // NaN when there was no number
    std::optional<double> lower, upper;
};

/// What a check found: `checked` values, the ones outside their bounds.
struct LimitsOutcome {
    int checked = 0;
    std::vector<LimitFailure> failures;
    bool Passed() const { return failures.empty(); }
    /// "limits: PASS" or "limits: FAIL n of m points".
    std::string Summary() const;

    /// Checks `value` of curve `what` at `hz` against the curve; a point outside its
    /// range is not counted. `below`: the value is only known to lie below `value` (a
    /// level hidden in the noise floor), which passes an upper bound at most.
    void CheckPoint(const Limits& limits, const std::string& what, double hz, double value, bool below = false);
    /// Checks one reading against its bounds; nullopt stands for a reading the run did not
    /// give (a channel without a tone), which fails.
    void CheckReading(const ReadingLimit& limit, const std::string& what, std::optional<double> value,
                      bool below = false);

private:
    void Check(const std::string& what, double hz, double value, bool below, const std::optional<double>& lower,
               const std::optional<double>& upper);
};

}  // namespace sonvera
