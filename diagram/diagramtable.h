#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sonvera {

/// A table of diagram points read back from a text export: frequencies in Hz and one or
/// more value columns.
struct DiagramTable {
    int columns = 0;  // numbers per point: the frequency and its values (2, 3, or more)
    std::vector<float> freqHz;
    std::vector<float> curve1;
    std::vector<float> curve2;  // 0 for every point of a two-column table
    /// The value columns after the second (wide tables only), each as long as freqHz.
    std::vector<std::vector<float>> more;
    /// The names of the value columns given by a header line ("# Hz", the separator, the
    /// names): one per value column, or none when the table has no such line.
    std::vector<std::string> names;
    /// The text of every line that starts with '#' (without the '#' and one blank).
    std::vector<std::string> notes;

    int ValueColumns() const { return columns - 1; }
    /// Value column k, 0-based (curve1, curve2, then `more`).
    const std::vector<float>& Values(int k) const;
};

/// Longest table file read: the 524288 bins of the longest spectrum's export (about 25
/// bytes a line) with room for wider separators and blanks (128 bytes a point); more cannot
/// be a table the diagram can hold.
inline constexpr std::size_t kMaxTableBytes = 64u << 20;

/// Reads a table file: a regular file (no pipe or device), at most kMaxTableBytes.
/// Returns "" or the reason it could not be read.
std::string ReadTableFile(const std::string& path, std::string& text);

/// Most numbers per point a wide table may have.
inline constexpr int kMaxTableColumns = 65;

/// Reads the text the diagram's export writes: one point per line with any separator
/// between the numbers (",", ";", tab, blanks, ...), LF or CR LF line ends, or one number
/// per line (the "\n" separator). For the latter, `columns` (2 or 3) tells how many numbers
/// make a point; 0 lets the frequencies decide (they never decrease). A value written
/// "nan" is a point without that value (NaN, a gap in the curve). Lines starting with '#'
/// are notes (the command-line tool's result lines, the export's header), not points.
/// Returns false with a message naming the line when the text is not such a table.
bool ParseDiagramTable(const std::string& text, int columns, DiagramTable& table, std::string& error);

/// As ParseDiagramTable, for tables of 2 to kMaxTableColumns numbers per line (the
/// export with overlays, the log sweep's table); one number per line reads as pairs or,
/// with a header naming k curves, as points of k + 1 numbers.
bool ParseWideTable(const std::string& text, DiagramTable& table, std::string& error);

/// Whether any point of the table has a curve value (a table of gaps has none).
bool HasCurveValues(const DiagramTable& table);

}  // namespace sonvera
