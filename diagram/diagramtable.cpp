#include "diagram/diagramtable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

#include "diagram/diagrammodel.h"
#include "diagram/diagramscale.h"

namespace sonvera {

namespace {

bool IsNumberStart(char c)
{
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "nan" standing alone at `i`: the export's word for a value a point does not have.
bool IsNoValue(const std::string& line, std::size_t i)
{
    return line.compare(i, 3, "nan") == 0 && (i + 3 == line.size() || !IsLetter(line[i + 3])) &&
           (i == 0 || !IsLetter(line[i - 1]));
}

// The numbers of one line; false (with a message) for text that is no number.
bool SplitNumbers(const std::string& line, std::vector<double>& out, std::string& error)
{
    out.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsNoValue(line, i)) {
            out.push_back(std::numeric_limits<double>::quiet_NaN());  // a point without a value
            i += 3;
            continue;
        }
        if (IsLetter(c)) {
            error = "unexpected text '" + line.substr(i, 12) + "'";
            return false;
        }
        if (!IsNumberStart(c)) {
            ++i;  // part of a separator
            continue;
        }
        std::size_t start = i;
        if (line[start] == '+') {
            ++start;  // from_chars takes no plus sign
        }
        double v = 0.0;
        const auto res = std::from_chars(line.data() + start, line.data() + line.size(), v);
        // The diagram holds single-precision values: larger magnitudes are no usable number.
        if (res.ec != std::errc() || !std::isfinite(v) ||
            std::fabs(v) > std::numeric_limits<float>::max()) {
            error = "not a number: '" + line.substr(i, 12) + "'";
            return false;
        }
        out.push_back(v);
        i = static_cast<std::size_t>(res.ptr - line.data());
        if (i < line.size() && (IsLetter(line[i]) || line[i] == '.')) {
            error = "not a number: '" + line.substr(start, 12) + "'";
            return false;
        }
    }
    return true;
}

bool FrequenciesAscend(const std::vector<double>& flat, std::size_t group)
{
    for (std::size_t i = group; i < flat.size(); i += group) {
        if (flat[i] < flat[i - group]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseDiagramTable(const std::string& text, int columns, DiagramTable& table, std::string& error)
{
    table = DiagramTable{};
    if (columns != 0 && columns != 2 && columns != 3) {
        error = "a point has 2 or 3 columns";
        return false;
    }
    std::vector<double> flat;
    std::vector<double> numbers;
    int width = -1;  // numbers per line, the same on every line
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string why;
        if (!SplitNumbers(line, numbers, why)) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
        if (numbers.empty()) {
            continue;  // blank line
        }
        const int n = static_cast<int>(numbers.size());
        if (n > 3) {
            error = "line " + std::to_string(lineNo) + ": " + std::to_string(n) +
                    " numbers, a point has at most 3 (frequency and two curves)";
            return false;
        }
        if (width >= 0 && n != width) {
            error = "line " + std::to_string(lineNo) + ": " + std::to_string(n) +
                    " numbers where the lines before have " + std::to_string(width);
            return false;
        }
        width = n;
        flat.insert(flat.end(), numbers.begin(), numbers.end());
    }
    if (width < 0) {
        error = "the table holds no numbers";
        return false;
    }
    int group = width;
    if (width == 1) {
        if (columns != 0) {
            group = columns;
            if (flat.size() % static_cast<std::size_t>(group) != 0) {
                error = std::to_string(flat.size()) + " numbers do not make points of " +
                        std::to_string(group);
                return false;
            }
        } else {
            const bool two = flat.size() % 2 == 0 && FrequenciesAscend(flat, 2);
            const bool three = flat.size() % 3 == 0 && FrequenciesAscend(flat, 3);
            if (two == three) {
                error = two ? "one number per line: cannot tell 2 from 3 columns, give --columns"
                            : "one number per line, but neither 2 nor 3 columns make a table";
                return false;
            }
            group = two ? 2 : 3;
        }
    } else if (columns != 0 && columns != width) {
        error = "the lines have " + std::to_string(width) + " columns, not " + std::to_string(columns);
        return false;
    }
    if (group < 2) {
        error = "the table has frequencies only, no curve to draw";
        return false;
    }
    const std::size_t points = flat.size() / static_cast<std::size_t>(group);
    if (points > static_cast<std::size_t>(DiagramModel::MaxDiagramPoints)) {
        error = std::to_string(points) + " points; the diagram holds at most " +
                std::to_string(DiagramModel::MaxDiagramPoints);
        return false;
    }
    table.columns = group;
    for (std::size_t p = 0; p < points; ++p) {
        const double* row = flat.data() + p * static_cast<std::size_t>(group);
        if (!(row[0] >= 0.0 && row[0] <= 1e7)) {
            error = "point " + std::to_string(p + 1) + ": frequency " + FormatFixed(row[0], 2) +
                    " Hz is outside 0 .. 10 MHz";
            table = DiagramTable{};
            return false;
        }
        table.freqHz.push_back(static_cast<float>(row[0]));
        table.curve1.push_back(static_cast<float>(row[1]));
        table.curve2.push_back(group == 3 ? static_cast<float>(row[2]) : 0.0f);
    }
    return true;
}

bool HasCurveValues(const DiagramTable& table)
{
    const auto valued = [](float v) { return !std::isnan(v); };
    return std::any_of(table.curve1.begin(), table.curve1.end(), valued) ||
           (table.columns == 3 && std::any_of(table.curve2.begin(), table.curve2.end(), valued));
}

}  // namespace sonvera
