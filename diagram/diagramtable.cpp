#include "diagram/diagramtable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
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
// `separator` receives the text between the first two numbers.
bool SplitNumbers(const std::string& line, std::vector<double>& out, std::string& error, std::string& separator)
{
    out.clear();
    separator.clear();
    std::size_t i = 0;
    std::size_t firstEnd = 0;
    // Notes where a number began and ended.
    const auto took = [&](std::size_t begin, std::size_t end) {
        if (out.size() == 1) {
            firstEnd = end;
        } else if (out.size() == 2) {
            separator = line.substr(firstEnd, begin - firstEnd);
        }
    };
    while (i < line.size()) {
        const char c = line[i];
        if (IsNoValue(line, i)) {
            out.push_back(std::numeric_limits<double>::quiet_NaN());  // a point without a value
            took(i, i + 3);
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
        took(i, static_cast<std::size_t>(res.ptr - line.data()));
        i = static_cast<std::size_t>(res.ptr - line.data());
        if (i < line.size() && (IsLetter(line[i]) || line[i] == '.')) {
            error = "not a number: '" + line.substr(start, 12) + "'";
            return false;
        }
    }
    return true;
}

// A line whose first character that is no blank is '#': its text after the '#' and one
// blank.
bool IsNote(const std::string& line, std::string& note)
{
    const std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#') {
        return false;
    }
    std::size_t from = at + 1;
    if (from < line.size() && line[from] == ' ') {
        ++from;
    }
    note = line.substr(from);
    return true;
}

// The names of the first header "Hz<sep>name<sep>name...".
std::vector<std::string> HeaderNames(const std::vector<std::string>& notes, const std::string& separator)
{
    if (separator.empty()) {
        return {};
    }
    for (const std::string& note : notes) {
        if (note.rfind("Hz" + separator, 0) != 0) {
            continue;
        }
        std::vector<std::string> names;
        std::size_t from = 2 + separator.size();
        while (true) {
            const std::size_t end = note.find(separator, from);
            names.push_back(note.substr(from, end == std::string::npos ? std::string::npos : end - from));
            if (end == std::string::npos) {
                return names;
            }
            from = end + separator.size();
        }
    }
    return {};
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

const std::vector<float>& DiagramTable::Values(int k) const
{
    return k == 0 ? curve1 : (k == 1 ? curve2 : more.at(static_cast<std::size_t>(k - 2)));
}

namespace {

// The reader of both forms: at most `maxWidth` numbers per line.
bool ParseTable(const std::string& text, int columns, int maxWidth, DiagramTable& table, std::string& error)
{
    table = DiagramTable{};
    std::vector<double> flat;
    std::vector<double> numbers;
    std::vector<std::string> notes;
    std::string separator;
    std::string lineSeparator;
    std::string note;
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
        if (IsNote(line, note)) {
            notes.push_back(note);
            continue;
        }
        std::string why;
        if (!SplitNumbers(line, numbers, why, lineSeparator)) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
        if (numbers.empty()) {
            continue;  // blank line
        }
        const int n = static_cast<int>(numbers.size());
        if (n > maxWidth) {
            error = "line " + std::to_string(lineNo) + ": " + std::to_string(n) + " numbers, a point has at most " +
                    std::to_string(maxWidth) +
                    (maxWidth == 3 ? " (frequency and two curves)" : " (frequency and its curves)");
            return false;
        }
        if (width >= 0 && n != width) {
            error = "line " + std::to_string(lineNo) + ": " + std::to_string(n) +
                    " numbers where the lines before have " + std::to_string(width);
            return false;
        }
        if (width < 0) {
            separator = lineSeparator;
        }
        width = n;
        flat.insert(flat.end(), numbers.begin(), numbers.end());
    }
    if (width < 0) {
        error = "the table holds no numbers";
        return false;
    }
    int group = width;
    std::vector<std::string> names = HeaderNames(notes, width == 1 ? std::string("\t") : separator);
    if (width == 1) {
        const int named = static_cast<int>(names.size()) + 1;
        if (columns == 0 && maxWidth > 3 && named >= 2 && named <= maxWidth) {
            columns = named;  // a wide table of one number per line, told by its header
        }
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
    table.more.assign(static_cast<std::size_t>(std::max(group - 3, 0)), {});
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
        table.curve2.push_back(group >= 3 ? static_cast<float>(row[2]) : 0.0f);
        for (int k = 3; k < group; ++k) {
            table.more[static_cast<std::size_t>(k - 3)].push_back(static_cast<float>(row[k]));
        }
    }
    if (static_cast<int>(names.size()) == group - 1) {
        table.names = std::move(names);
    }
    table.notes = std::move(notes);
    return true;
}

}  // namespace

bool ParseDiagramTable(const std::string& text, int columns, DiagramTable& table, std::string& error)
{
    if (columns != 0 && columns != 2 && columns != 3) {
        table = DiagramTable{};
        error = "a point has 2 or 3 columns";
        return false;
    }
    return ParseTable(text, columns, 3, table, error);
}

std::string ReadTableFile(const std::string& path, std::string& text)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    std::string error;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file (a table is read from a disk, not from a pipe or device)";
    }
    char buffer[65536];
    while (error.empty()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
        } else if (n == 0) {
            break;
        } else if (text.size() + static_cast<std::size_t>(n) > kMaxTableBytes) {
            error = "more than " + std::to_string(kMaxTableBytes >> 20) + " MiB, larger than any table of " +
                    std::to_string(DiagramModel::MaxDiagramPoints) + " points; not read further";
        } else {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return error;
}

bool ParseWideTable(const std::string& text, DiagramTable& table, std::string& error)
{
    return ParseTable(text, 0, kMaxTableColumns, table, error);
}

bool HasCurveValues(const DiagramTable& table)
{
    const auto valued = [](float v) { return !std::isnan(v); };
    for (int k = 0; k < table.ValueColumns(); ++k) {
        const std::vector<float>& values = table.Values(k);
        if (std::any_of(values.begin(), values.end(), valued)) {
            return true;
        }
    }
    return false;
}

}  // namespace sonvera
