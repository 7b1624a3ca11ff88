#pragma once
// The results of one run of a measuring command, as both its printers read them: the
// text printer (the tables and lines the command has always printed) and the JSON
// printer (--json). A number goes into the model once, as the run computed it; the text
// shows it rounded to its column's decimals, the JSON document in full.

#include <cmath>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure/limits.h"

namespace sonvera {

/// One value: a number, or a text where the run has no number to give ("no signal",
/// "<-96.20" for a level below the noise floor).
struct ResultValue {
    double number = 0.0;
    std::string text;  // shown as is when not empty
    int decimals = 2;
    bool below = false;  // the value lies below `number` (text "<NUMBER")

    static ResultValue Number(double v, int decimals) { return {v, {}, decimals, false}; }
    static ResultValue Text(std::string t) { return {std::nan(""), std::move(t), 0, false}; }
    /// A level known only to lie below `v`: shown "<V".
    static ResultValue Below(double v, int decimals);
    /// The value as the text output shows it ("nan", "inf" and "-inf" for those).
    std::string Shown() const;
};

struct ResultColumn {
    std::string name;
    std::string unit;
    /// A level in dB over the first column's frequency in Hz: the limit curve checks it.
    bool level = false;
    int decimals = 2;  // in the text
};

/// The points of a run: a table whose first column is the frequency (or time, or level).
/// A row may be shorter than the columns (a level without a reading ends in its reason).
/// The numbers are kept packed: a spectrum of a million points stays small.
class ResultTable {
public:
    std::vector<ResultColumn> columns;

    void AddRow(std::span<const ResultValue> row);
    void AddRow(std::initializer_list<ResultValue> row) { AddRow(std::span<const ResultValue>(row.begin(), row.size())); }
    void Reserve(std::size_t rows, std::size_t cellsPerRow);
    std::size_t Rows() const { return rowStart_.size(); }
    std::size_t RowSize(std::size_t row) const;
    /// The cell as it was added (its decimals those of its column).
    ResultValue Cell(std::size_t row, std::size_t column) const;

    /// The rows as text: the values joined by `sep`, each row ended by `lineEnd`.
    std::string Text(const std::string& sep, const std::string& lineEnd) const;

private:
    struct CellText {
        std::string text;
        bool below = false;
    };
    std::vector<double> numbers_;
    std::vector<std::size_t> rowStart_;
    std::vector<std::pair<std::size_t, CellText>> texts_;  // by rising cell index
};

/// One reading of a run ("left.thd_db"); `channel` is empty for a reading of no channel.
struct ResultReading {
    std::string channel;
    std::string key;
    ResultValue value;
    std::string Name() const { return channel.empty() ? key : channel + "." + key; }
};

class CliResult {
public:
    explicit CliResult(std::string command) : command_(std::move(command)) {}

    /// Every setting that shaped the result, in the order they are given.
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    std::vector<ResultReading> readings;
    ResultTable points;
    std::vector<std::string> notices;  // the "# " lines' contents, in order

    void AddReading(const std::string& channel, const std::string& key, double v, int decimals);
    void AddReadingText(const std::string& channel, const std::string& key, const std::string& text);
    void AddReadingValue(const std::string& channel, const std::string& key, ResultValue v);
    /// Takes "# " lines ("# a\n# b\n") as notices.
    void AddNotices(std::string_view lines);

    /// "CHANNEL.KEY VALUE" (or "KEY VALUE") per reading, in order, each with "\n".
    std::string ReadingLines() const;
    /// "# NOTICE\n" per notice.
    std::string NoticeLines() const;

    /// Checks the run's level columns against the limits' curve and its readings against
    /// the readings' bounds (a plain key checks each channel that has the reading, or the
    /// reading without a channel). A reading's bounds that match no reading of the run fail.
    LimitsOutcome Check(const Limits& limits) const;

    /// The whole document: command, version, settings, results per channel, points,
    /// notices and, when checked, the limits with their failing points. NaN and the
    /// infinities are null; numbers keep their full precision.
    std::string Json(const LimitsOutcome* limits = nullptr) const;

private:
    std::string command_;
};

struct CliContext;
class InputFiles;
class OptionCursor;

/// The options that choose how a measuring command gives its results: --json, and
/// --limits FILE with what the command checks of the file.
struct ResultOptions {
    bool json = false;
    std::optional<std::string> limitsPath;
    Limits limits;
};

/// Takes --json, and --limits FILE when `limits`: "" when taken, the error when its value
/// is missing, nullopt for another option.
std::optional<std::string> ParseResultOption(OptionCursor& cursor, ResultOptions& o, bool limits);

/// What a command checks of a limits file: the curve over its table's levels, the bounds
/// of its readings.
enum class LimitsUse { Curve, Readings, Both };

/// Reads the --limits file, before anything is measured: 0, 1 when it cannot be read, 2
/// when a line is wrong or it holds nothing the command checks (each after saying why).
/// The file joins `inputs`, so that no output overwrites it.
int LoadLimits(CliContext& ctx, ResultOptions& o, LimitsUse use, InputFiles& inputs);

/// Prints the result on standard output: the JSON document, or `text` followed by the
/// limits' line. 1 when it could not be written, 3 when the limits failed, else 0.
int PrintResult(CliContext& ctx, const ResultOptions& o, const CliResult& result, const std::string& text);

}  // namespace sonvera
