#pragma once
// The weightings of the THD+N and level analysis: the built-in tables (short point
// lists joined by the correction curves' spline), the standard weightings computed from
// their defining formulas, and a user curve loaded from a correction file.

#include <array>
#include <complex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/curve.h"

namespace sonvera {

/// A weighting's response in dB at a frequency in Hz, from its defining formula.
using WeightingFormula = double (*)(double freqHz);

/// The weightings defined by a standard, which the Level and THD+N readings apply to the
/// samples as filters (the tables and a user curve weight each bin of the spectrum).
enum class StandardWeighting { None, IecA, IecC, Itu468, Itu468At2k };

/// One built-in weighting: its name (matched exactly) and either its table points or
/// its formula (with the standard it comes from).
struct Weighting {
    std::string_view name;
    std::span<const CurveTablePoint> points;  // empty for a formula
    WeightingFormula formula = nullptr;
    StandardWeighting standard = StandardWeighting::None;
};

/// The thirteen tables, then the weightings exact to their standards.
constexpr int kWeightingTableCount = 13;
constexpr int kWeightingCount = 17;
/// Last item of the filter list: a response loaded from a correction file.
constexpr std::string_view kUserFilterName = "USER";

/// Every built-in weighting in list order ("none" first; the tables keep their places).
const std::array<Weighting, kWeightingCount>& Weightings();

/// The frequency weightings A and C of IEC 61672-1 (its analytic expressions, 0 dB at
/// 1 kHz) and the noise weighting of ITU-R BS.468 (its analytic response, 0 dB at 1 kHz,
/// +12.2 dB at 6.3 kHz), in dB. At 0 Hz (and below) they give minus infinity.
double IecAWeightingDb(double freqHz);
double IecCWeightingDb(double freqHz);
double Itu468WeightingDb(double freqHz);
/// The formula of a standard weighting (nullptr for None).
WeightingFormula FormulaOf(StandardWeighting weighting);

/// A standard weighting as the analog network its formula describes: zeros at 0 Hz and
/// poles (s/2π, in Hz; left half-plane), normalised by the formula to its value at 1 kHz.
struct AnalogWeighting {
    int zerosAtDc = 0;
    std::vector<std::complex<double>> polesHz;
};
/// The network of a standard weighting; no zeros and no poles for None. The poles of
/// ITU-R BS.468 are the roots of the denominator of its response.
AnalogWeighting AnalogPrototype(StandardWeighting weighting);

/// The weighting the analysis applies: `FilterCurve` and `AnaFilterName`. The name always
/// names what is applied. Starts as the flat "none" table.
class WeightingFilter {
public:
    WeightingFilter();

    /// Selects the built-in weighting with exactly this name (case and blanks matter).
    /// Any other name, "USER" included, changes nothing and gives false.
    bool SelectFilter(const std::string& name);

    /// Applies a curve loaded from a correction file (its file name kept) as "USER".
    void SelectUserCurve(CorrectionCurve curve);

    /// Restores a stored selection: a built-in name, or "USER" with the file it was loaded
    /// from, which is loaded again (never created). Whatever cannot be restored falls
    /// back to "none"; a user file that cannot be loaded reports why through the loader.
    void RestoreFilter(const std::string& name, const std::string& userFile, CurveFileLoader& loader);

    /// The response in dB at `freqHz`: the formula, or the curve (0 for an empty curve).
    double GainDb(double freqHz) const;

    /// The correction file of the "USER" weighting; empty for the built-in ones.
    std::string UserFile() const;

    /// The standard the selected weighting comes from (None for a table or a user curve).
    StandardWeighting Standard() const { return standard_; }

    CorrectionCurve FilterCurve;
    std::string AnaFilterName;

private:
    WeightingFormula formula_ = nullptr;
    StandardWeighting standard_ = StandardWeighting::None;
};

}  // namespace sonvera
