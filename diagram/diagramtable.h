#pragma once

#include <string>
#include <vector>

namespace sonvera {

/// A table of diagram points read back from a text export: frequencies in Hz and one or
/// two value columns.
struct DiagramTable {
    int columns = 0;  // 2: frequency and one curve, 3: frequency and two curves
    std::vector<float> freqHz;
    std::vector<float> curve1;
    std::vector<float> curve2;
};

/// Reads the text the diagram's export writes: one point per line with any separator
/// between the numbers (",", ";", tab, blanks, ...), LF or CR LF line ends, or one number
/// per line (the "\n" separator). For the latter, `columns` (2 or 3) tells how many numbers
/// make a point; 0 lets the frequencies decide (they never decrease). A value written
/// "nan" is a point without that value (NaN, a gap in the curve). Returns false with a
/// message naming the line when the text is not such a table.
bool ParseDiagramTable(const std::string& text, int columns, DiagramTable& table, std::string& error);

/// Whether any point of the table has a curve value (a table of gaps has none).
bool HasCurveValues(const DiagramTable& table);

}  // namespace sonvera
