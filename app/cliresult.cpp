#include "app/cliresult.h"

#include <algorithm>
#include <cmath>

#include "config/numberformat.h"

namespace sonvera {

namespace {

using Document = nlohmann::ordered_json;

Document Value(double v)
{
    return std::isfinite(v) ? Document(v) : Document(nullptr);
}

Document Value(const ResultValue& v)
{
    return v.text.empty() ? Value(v.number) : Document(v.text);
}

Document Bound(const std::optional<double>& b)
{
    return b ? Document(*b) : Document(nullptr);
}

}  // namespace

ResultValue ResultValue::Below(double v, int decimals)
{
    return {v, "<" + FormatFixed(v, decimals), decimals, true};
}

std::string ResultValue::Shown() const
{
    return text.empty() ? FormatFixed(number, decimals) : text;
}

void ResultTable::AddRow(std::span<const ResultValue> row)
{
    rowStart_.push_back(numbers_.size());
    for (const ResultValue& v : row) {
        if (!v.text.empty()) {
            texts_.push_back({numbers_.size(), {v.text, v.below}});
        }
        numbers_.push_back(v.number);
    }
}

void ResultTable::Reserve(std::size_t rows, std::size_t cellsPerRow)
{
    rowStart_.reserve(rows);
    numbers_.reserve(rows * cellsPerRow);
}

std::size_t ResultTable::RowSize(std::size_t row) const
{
    const std::size_t end = row + 1 < rowStart_.size() ? rowStart_[row + 1] : numbers_.size();
    return end - rowStart_[row];
}

ResultValue ResultTable::Cell(std::size_t row, std::size_t column) const
{
    const std::size_t at = rowStart_[row] + column;
    ResultValue v = ResultValue::Number(numbers_[at], column < columns.size() ? columns[column].decimals : 2);
    const auto text = std::lower_bound(texts_.begin(), texts_.end(), at,
                                       [](const auto& entry, std::size_t index) { return entry.first < index; });
    if (text != texts_.end() && text->first == at) {
        v.text = text->second.text;
        v.below = text->second.below;
    }
    return v;
}

std::string ResultTable::Text(const std::string& sep, const std::string& lineEnd) const
{
    std::string text;
    text.reserve(Rows() * 26);
    for (std::size_t r = 0; r < Rows(); ++r) {
        const std::size_t size = RowSize(r);
        for (std::size_t c = 0; c < size; ++c) {
            if (c > 0) {
                text += sep;
            }
            text += Cell(r, c).Shown();
        }
        text += lineEnd;
    }
    return text;
}

void CliResult::AddReading(const std::string& channel, const std::string& key, double v, int decimals)
{
    readings.push_back({channel, key, ResultValue::Number(v, decimals)});
}

void CliResult::AddReadingText(const std::string& channel, const std::string& key, const std::string& text)
{
    readings.push_back({channel, key, ResultValue::Text(text)});
}

void CliResult::AddReadingValue(const std::string& channel, const std::string& key, ResultValue v)
{
    readings.push_back({channel, key, std::move(v)});
}

void CliResult::AddNotices(std::string_view lines)
{
    while (!lines.empty()) {
        std::size_t end = lines.find('\n');
        std::string_view line = lines.substr(0, end);
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
        if (line.rfind("# ", 0) == 0) {
            line.remove_prefix(2);
        }
        notices.emplace_back(line);
    }
}

std::string CliResult::ReadingLines() const
{
    std::string text;
    for (const ResultReading& r : readings) {
        text += r.Name() + " " + r.value.Shown() + "\n";
    }
    return text;
}

std::string CliResult::NoticeLines() const
{
    std::string text;
    for (const std::string& n : notices) {
        text += "# " + n + "\n";
    }
    return text;
}

LimitsOutcome CliResult::Check(const Limits& limits) const
{
    LimitsOutcome outcome;
    if (!limits.curve.empty()) {
        for (std::size_t r = 0; r < points.Rows(); ++r) {
            const std::size_t size = std::min(points.RowSize(r), points.columns.size());
            for (std::size_t c = 1; c < size; ++c) {
                if (points.columns[c].level) {
                    const ResultValue v = points.Cell(r, c);
                    outcome.CheckPoint(limits, points.columns[c].name, points.Cell(r, 0).number, v.number, v.below);
                }
            }
        }
    }
    for (const ReadingLimit& limit : limits.readings) {
        bool found = false;
        for (const ResultReading& r : readings) {
            if (r.key != limit.key || (!limit.channel.empty() && r.channel != limit.channel)) {
                continue;
            }
            found = true;
            outcome.CheckReading(limit, r.Name(), r.value.number, r.value.below);
        }
        if (!found) {
            // A channel without a tone has no such reading: it cannot pass.
            const std::vector<std::string> channels =
                limit.channel.empty() ? std::vector<std::string>{""} : std::vector<std::string>{limit.channel};
            for (const std::string& channel : channels) {
                outcome.CheckReading(limit, channel.empty() ? limit.key : channel + "." + limit.key, std::nullopt);
            }
        }
    }
    return outcome;
}

std::string CliResult::Json(const LimitsOutcome* limits) const
{
    // Laid out for both readers: one member a line, one row of the points a line. A name
    // from outside (a file name) may hold bytes that are no UTF-8: they are replaced.
    const auto dump = [](const Document& v) { return v.dump(-1, ' ', false, Document::error_handler_t::replace); };
    std::string out = "{\n";
    const auto member = [&](const char* key, const std::string& value) {
        out += std::string(out.size() > 2 ? ",\n" : "") + "  \"" + key + "\": " + value;
    };
    member("command", dump(command_));
    member("version", dump(SONVERA_VERSION));
    member("settings", dump(settings));
    Document results = Document::object();
    for (const ResultReading& r : readings) {
        if (r.channel.empty()) {
            results[r.key] = Value(r.value);
        } else {
            results[r.channel][r.key] = Value(r.value);
        }
    }
    member("results", dump(results));
    Document columns = Document::array(), units = Document::array();
    for (const ResultColumn& c : points.columns) {
        columns.push_back(c.name);
        units.push_back(c.unit);
    }
    std::string rows;
    for (std::size_t r = 0; r < points.Rows(); ++r) {
        Document values = Document::array();
        for (std::size_t c = 0; c < points.RowSize(r); ++c) {
            values.push_back(Value(points.Cell(r, c)));
        }
        rows += (r == 0 ? "\n    " : ",\n    ") + dump(values);
    }
    member("points", "{\"columns\": " + dump(columns) + ", \"units\": " + dump(units) + ", \"rows\": [" + rows +
                         (rows.empty() ? "]}" : "\n  ]}"));
    member("notices", dump(notices));
    if (limits != nullptr) {
        Document failing = Document::array();
        for (const LimitFailure& f : limits->failures) {
            Document point = {{"what", f.what}};
            if (f.hz > 0.0) {
                point["frequency_hz"] = f.hz;
            }
            point["value"] = Value(f.value);
            point["lower"] = Bound(f.lower);
            point["upper"] = Bound(f.upper);
            failing.push_back(std::move(point));
        }
        member("limits", dump(Document{{"passed", limits->Passed()},
                                       {"checked", limits->checked},
                                       {"failed", limits->failures.size()},
                                       {"failures", failing}}));
    }
    return out + "\n}\n";
}

}  // namespace sonvera
