// Fuzz target: the text-table readers of "sonvera-cli plot" and of the diagram's
// overlays. The input is the text; it is read with each column setting and as a wide
// table. A table that is accepted has 2 or 3 columns (a wide one 2 to kMaxTableColumns),
// as many values in each, frequencies within the diagram's range, finite or missing
// (NaN) values and a name for every curve or none; a refusal says why and leaves no table.

#include "fuzz/fuzz_table.h"

#include <algorithm>
#include <cmath>

#include "diagram/diagrammodel.h"
#include "fuzz/fuzzsupport.h"

namespace sonvera::fuzz {

TableOutcome ReadTableBytes(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TableOutcome out;
    for (std::size_t i = 0; i < TableOutcome::kColumns.size(); ++i) {
        const int columns = TableOutcome::kColumns[i];
        DiagramTable& t = out.table[i];
        out.ok[i] = ParseDiagramTable(text, columns, t, out.error[i]);
        if (!out.ok[i]) {
            Require(!out.error[i].empty(), "a refusal says why");
            Require(t.columns == 0 && t.freqHz.empty() && t.curve1.empty() && t.curve2.empty(),
                    "a refusal leaves no table");
            continue;
        }
        Require(columns != 1, "one column is never a table");
        Require(t.columns == 2 || t.columns == 3, "a table has 2 or 3 columns");
        Require(columns == 0 || t.columns == columns, "the columns asked for are the columns read");
        Require(!t.freqHz.empty() && t.freqHz.size() == t.curve1.size() && t.freqHz.size() == t.curve2.size(),
                "every point has all its values");
        Require(t.freqHz.size() <= static_cast<std::size_t>(DiagramModel::MaxDiagramPoints),
                "no more points than the diagram holds");
        for (std::size_t p = 0; p < t.freqHz.size(); ++p) {
            Require(t.freqHz[p] >= 0.0f && t.freqHz[p] <= 1e7f, "frequencies within 0 .. 10 MHz");
            // NaN is a point without that value ("nan" in the export); nothing is infinite.
            Require(!std::isinf(t.curve1[p]) && !std::isinf(t.curve2[p]), "values are finite or missing");
            Require(t.columns == 3 || t.curve2[p] == 0.0f, "a two-column table has no second curve");
        }
    }
    out.wideOk = ParseWideTable(text, out.wide, out.wideError);
    const DiagramTable& w = out.wide;
    if (!out.wideOk) {
        Require(!out.wideError.empty(), "a refusal of a wide table says why");
        Require(w.columns == 0 && w.freqHz.empty() && w.more.empty(), "a refused wide table leaves nothing");
        return out;
    }
    Require(w.columns >= 2 && w.columns <= kMaxTableColumns, "a wide table has 2 .. kMaxTableColumns columns");
    Require(w.names.empty() || static_cast<int>(w.names.size()) == w.ValueColumns(), "a name for every curve or none");
    Require(w.more.size() == static_cast<std::size_t>(std::max(w.columns - 3, 0)), "the columns after the third");
    for (int k = 0; k < w.ValueColumns(); ++k) {
        Require(w.Values(k).size() == w.freqHz.size(), "every curve has a value at every point");
    }
    // Whatever it read as a narrow table it reads alike (unless a header told the wide
    // reader how many numbers a point of one number per line has).
    if (out.ok[0] && (w.names.empty() || !out.table[0].names.empty())) {
        Require(w.columns == out.table[0].columns && w.freqHz == out.table[0].freqHz, "narrow tables read alike");
    }
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::ReadTableBytes(data, size);
    return 0;
}
