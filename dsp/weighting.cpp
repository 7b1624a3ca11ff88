#include "dsp/weighting.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonvera {

namespace {

constexpr CurveTablePoint kNone[] = {{10, 0}, {1000, 0}, {24000, 0}};

constexpr CurveTablePoint kAWeighting[] = {
    {10, -55}, {20, -45},   {90, -20},  {100, -18},  {132, -15},
    {200, -10}, {400, -5},  {500, -3},  {1000, 0},   {1300, 0.5},
    {2000, 1},  {3000, 1},  {5000, 0},  {10000, -5}, {20000, -17}};

constexpr CurveTablePoint kCMessage[] = {
    {20, -77},   {50, -57},    {100, -41},  {200, -25},  {400, -11},   {1000, 0},
    {2000, -1},  {2500, -0.5}, {4000, -15}, {9000, -50}, {20000, -72}};

constexpr CurveTablePoint kCcittFilter[] = {
    {30, -80},  {50, -60},   {100, -39},  {200, -20},  {400, -6},    {1000, 0},
    {2000, -3}, {3000, -6},  {5000, -35}, {6000, -53}, {10000, -90}};

constexpr CurveTablePoint kCcirWtd[] = {
    {20, -32},  {50, -25},    {100, -20},  {200, -14},  {300, -10},
    {400, -7.5}, {600, -4.5}, {1050, 0},   {2000, 5},   {4000, 10},
    {6000, 12}, {10000, 8},   {20000, -30}};

constexpr CurveTablePoint kCcirArm[] = {
    {20, -38},  {50, -31},  {100, -25},  {200, -20},   {500, -12},  {1000, -6},
    {2000, 0},  {5000, 6},  {10000, 2},  {20000, -35}, {24000, -45}};

constexpr CurveTablePoint kRumbleWtd[] = {
    {5, -55},    {20, -39},     {50, -25.5},  {70, -19.5},  {100, -14.5},
    {200, -2.7}, {300, 0},      {1000, -15},  {2000, -27.5}, {3000, -35},
    {5000, -43}, {10000, -55},  {20000, -70}};

constexpr CurveTablePoint kRumbleUnw[] = {
    {5, -2.5},    {20, 0},      {50, 0},      {100, 0},     {200, 0},     {300, 0},
    {1000, -15},  {2000, -27.5}, {3000, -35}, {5000, -43},  {10000, -55}, {24000, -76}};

constexpr CurveTablePoint kIecTuner[] = {
    {20, -60},  {30, -60},  {50, -45},   {100, -20},  {200, -1},    {250, 0},
    {400, 0},   {1000, 0},  {5000, 0},   {8000, 0},   {10000, 0},   {20000, -80}};

constexpr CurveTablePoint kDeem5015[] = {
    {20, 0},     {100, 0},     {500, 0},    {600, 0},     {1000, -0.5},
    {2000, -1.5}, {5000, -4.5}, {10000, -8}, {20000, -9.5}, {24000, -10}};

constexpr CurveTablePoint kDeemph50[] = {
    {20, 0},    {100, 0},    {400, 0},     {1000, -1},    {2000, -3},
    {3000, -5}, {6500, -10}, {10000, -13}, {20000, -17},  {24000, -18}};

constexpr CurveTablePoint kDeemph75[] = {
    {20, 0},    {100, 0},     {400, 0},     {1000, -1}, {2000, -3},
    {3000, -5}, {10000, -13}, {20000, -17}, {24000, -17.5}};

constexpr CurveTablePoint kDeemphJ17[] = {
    {20, 18},    {80, 18},  {500, 16},   {1000, 12},  {3000, 4.2},
    {4000, 3},   {6000, 1.5}, {10000, 0.7}, {20000, 0}, {24000, 0}};

// The poles of the A and C weightings of IEC 61672-1, in Hz.
constexpr double kIecF1 = 20.598997;
constexpr double kIecF2 = 107.65265;
constexpr double kIecF3 = 737.86223;
constexpr double kIecF4 = 12194.217;

double IecAResponse(double f) {
    const double f2 = f * f;
    return kIecF4 * kIecF4 * f2 * f2 /
           ((f2 + kIecF1 * kIecF1) * std::sqrt((f2 + kIecF2 * kIecF2) * (f2 + kIecF3 * kIecF3)) *
            (f2 + kIecF4 * kIecF4));
}

double IecCResponse(double f) {
    const double f2 = f * f;
    return kIecF4 * kIecF4 * f2 / ((f2 + kIecF1 * kIecF1) * (f2 + kIecF4 * kIecF4));
}

// ITU-R BS.468: the amplitude response of its weighting network, k·f / |h1(f) + j·h2(f)|,
// with h1 even and h2 odd polynomials in f (Hz).
constexpr double kItu468Gain = 1.246332637532143e-04;
constexpr double kItu468H1[] = {1.0, -1.363894795463638e-07, 2.043828333606125e-15,
                                -4.737338981378384e-24};  // f^0, f^2, f^4, f^6
constexpr double kItu468H2[] = {5.559488023498642e-04, -2.118150887518656e-11,
                                1.306612257412824e-19};  // f^1, f^3, f^5

double Itu468Response(double f) {
    const double f2 = f * f;
    const double h1 = ((kItu468H1[3] * f2 + kItu468H1[2]) * f2 + kItu468H1[1]) * f2 + kItu468H1[0];
    const double h2 = ((kItu468H2[2] * f2 + kItu468H2[1]) * f2 + kItu468H2[0]) * f;
    return kItu468Gain * f / std::sqrt(h1 * h1 + h2 * h2);
}

// The poles of the BS.468 network: with p = j·f the denominator h1 + j·h2 is the real
// polynomial 1 + d1·p + ... + d6·p^6 (d_2k = |f^2k coefficient|, d_2k+1 likewise), whose
// roots are found in the scaled variable q = p / 10^4 (coefficients near 1) by the
// Durand-Kerner iteration.
std::vector<std::complex<double>> Itu468PolesHz() {
    constexpr double kScale = 1e4;
    double d[7] = {kItu468H1[0], kItu468H2[0], -kItu468H1[1], -kItu468H2[1],
                   kItu468H1[2], kItu468H2[2], -kItu468H1[3]};
    for (int k = 0; k <= 6; ++k) d[k] *= std::pow(kScale, k);
    auto value = [&](std::complex<double> q) {
        std::complex<double> v = d[6];
        for (int k = 5; k >= 0; --k) v = v * q + d[k];
        return v / d[6];
    };
    std::vector<std::complex<double>> roots(6);
    const std::complex<double> seed(0.4, 0.9);
    for (std::size_t i = 0; i < roots.size(); ++i) roots[i] = std::pow(seed, static_cast<double>(i));
    for (int iteration = 0; iteration < 500; ++iteration) {
        double change = 0.0;
        for (std::size_t i = 0; i < roots.size(); ++i) {
            std::complex<double> denominator = 1.0;
            for (std::size_t j = 0; j < roots.size(); ++j) {
                if (j != i) denominator *= roots[i] - roots[j];
            }
            const std::complex<double> step = value(roots[i]) / denominator;
            roots[i] -= step;
            change = std::max(change, std::abs(step));
        }
        if (change < 1e-15) break;
    }
    for (std::complex<double>& r : roots) {
        r *= kScale;
        if (std::abs(r.imag()) < 1e-9 * std::abs(r)) r = r.real();  // a real pole
    }
    return roots;
}

double DbRelativeTo1k(double (*response)(double), double f) {
    if (!(f > 0.0)) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(response(f) / response(1000.0));
}

// The "2 kHz" variant of the ITU-R BS.468 weighting: the same curve 5.6 dB lower, so
// that it passes 0 dB near 2 kHz.
double Itu468At2kDb(double f) { return Itu468WeightingDb(f) - 5.6; }

const std::array<Weighting, kWeightingCount> kWeightings = {{
    {"none", kNone, nullptr},
    {"A Weighting", kAWeighting, nullptr},
    {"C Message", kCMessage, nullptr},
    {"CCITT-Filter", kCcittFilter, nullptr},
    {"CCIR wtd", kCcirWtd, nullptr},
    {"CCIR ARM", kCcirArm, nullptr},
    {"RUMBLE wtd", kRumbleWtd, nullptr},
    {"RUMBLE unw", kRumbleUnw, nullptr},
    {"IEC Tuner IEC 315", kIecTuner, nullptr},
    {"DEEM 50/15", kDeem5015, nullptr},
    {"DEEMPH 50", kDeemph50, nullptr},
    {"DEEMPH 75", kDeemph75, nullptr},
    {"DEEMPH J.17", kDeemphJ17, nullptr},
    {"A (IEC 61672)", {}, IecAWeightingDb, StandardWeighting::IecA},
    {"C (IEC 61672)", {}, IecCWeightingDb, StandardWeighting::IecC},
    {"ITU-R 468", {}, Itu468WeightingDb, StandardWeighting::Itu468},
    {"ITU-R 468 (2 kHz)", {}, Itu468At2kDb, StandardWeighting::Itu468At2k},
}};

}  // namespace

const std::array<Weighting, kWeightingCount>& Weightings() { return kWeightings; }

double IecAWeightingDb(double freqHz) { return DbRelativeTo1k(IecAResponse, freqHz); }
double IecCWeightingDb(double freqHz) { return DbRelativeTo1k(IecCResponse, freqHz); }
double Itu468WeightingDb(double freqHz) { return DbRelativeTo1k(Itu468Response, freqHz); }

WeightingFormula FormulaOf(StandardWeighting weighting) {
    for (const Weighting& w : kWeightings) {
        if (w.standard == weighting && weighting != StandardWeighting::None) return w.formula;
    }
    return nullptr;
}

AnalogWeighting AnalogPrototype(StandardWeighting weighting) {
    AnalogWeighting a;
    switch (weighting) {
    case StandardWeighting::IecA:
        a.zerosAtDc = 4;
        a.polesHz = {-kIecF1, -kIecF1, -kIecF2, -kIecF3, -kIecF4, -kIecF4};
        break;
    case StandardWeighting::IecC:
        a.zerosAtDc = 2;
        a.polesHz = {-kIecF1, -kIecF1, -kIecF4, -kIecF4};
        break;
    case StandardWeighting::Itu468:
    case StandardWeighting::Itu468At2k:
        a.zerosAtDc = 1;
        a.polesHz = Itu468PolesHz();
        break;
    case StandardWeighting::None:
        break;
    }
    return a;
}

WeightingFilter::WeightingFilter() : AnaFilterName("none") {
    SetCurvePoints(FilterCurve, kNone, static_cast<int>(std::size(kNone)));
    FilterCurve.active = true;
}

bool WeightingFilter::SelectFilter(const std::string& name) {
    for (const Weighting& w : kWeightings) {
        if (w.name != name) continue;
        ClearCurve(FilterCurve);
        if (w.formula == nullptr) {
            SetCurvePoints(FilterCurve, w.points.data(), static_cast<int>(w.points.size()));
        }
        FilterCurve.active = true;
        formula_ = w.formula;
        standard_ = w.standard;
        AnaFilterName = name;
        return true;
    }
    return false;
}

void WeightingFilter::SelectUserCurve(CorrectionCurve curve) {
    FilterCurve = std::move(curve);
    FilterCurve.active = true;
    formula_ = nullptr;
    standard_ = StandardWeighting::None;
    AnaFilterName = std::string(kUserFilterName);
}

void WeightingFilter::RestoreFilter(const std::string& name, const std::string& userFile,
                                    CurveFileLoader& loader) {
    if (SelectFilter(name)) return;
    SelectFilter("none");
    // A stored "USER" without a file (as older versions saved it) has nothing to load.
    if (name != kUserFilterName || userFile.empty()) return;
    CorrectionCurve curve;
    if (loader.LoadExistingCurveFile(curve, userFile)) {
        SelectUserCurve(std::move(curve));
    }
}

double WeightingFilter::GainDb(double freqHz) const {
    if (formula_ != nullptr) return formula_(freqHz);
    if (FilterCurve.count <= 0 || !FilterCurve.active) return 0.0;
    return EvalCurve(FilterCurve, freqHz);
}

std::string WeightingFilter::UserFile() const {
    return AnaFilterName == kUserFilterName ? FilterCurve.fileName : std::string();
}

}  // namespace sonvera
