#pragma once
// Built-in weighting and de-emphasis curves for the THD+N and level analysis.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "dsp/curve.h"

namespace sonvera {

/// One built-in weighting table: its name (matched exactly) and its points.
struct WeightingTable {
    std::string_view name;
    std::span<const CurveTablePoint> points;
};

constexpr int kWeightingTableCount = 13;
/// Last item of the filter list: a response loaded from a correction file.
constexpr std::string_view kUserFilterName = "USER";
/// Longest filter name kept, in bytes.
constexpr std::size_t kMaxFilterNameLength = 255;

/// The thirteen tables in list order ("none" first).
const std::array<WeightingTable, kWeightingTableCount>& WeightingTables();

/// The selected weighting filter of the analysis: `FilterCurve` and `AnaFilterName`.
/// Starts as the flat "none" table, active.
class WeightingFilter {
public:
    WeightingFilter();

    /// Selects the table with exactly this name (case and blanks matter). Any other
    /// name ("USER" or typed text) keeps the current points. Either way the name
    /// becomes `AnaFilterName` (at most 255 bytes) and the curve is made active.
    void SelectFilter(const std::string& name);

    CorrectionCurve FilterCurve;
    std::string AnaFilterName;
};

}  // namespace sonvera
