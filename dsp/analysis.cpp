#include "dsp/analysis.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace sonvera {

namespace {

// Power of one bin after weighting: the level L = A + B*ln(m) + filter(f) (or -192 dB
// for m = 0), back to a linear amplitude a = exp((L - A)/B), squared.
double BinPower(float magnitude, double freqHz, const WeightingFilter& filter, double A,
                double B) {
    double level = kZeroMagnitudeDb;
    if (magnitude != 0.0f) {
        level = A + B * std::log(static_cast<double>(magnitude)) + filter.GainDb(freqHz);
    }
    const double a = std::exp((level - A) / B);
    return a * a;
}

std::size_t BinCount(std::span<const float> magnitudes, const AnalysisParams& params) {
    const std::size_t half =
        params.AnaFftSize > 0 ? static_cast<std::size_t>(params.AnaFftSize / 2) : 0;
    return std::min(half, magnitudes.size());
}

// The window's noise bandwidth as a divisor (a value that is none divides by 1).
double NoiseBandwidth(const AnalysisParams& params) {
    const double b = params.WindowNoiseBandwidth;
    return b > 0.0 && std::isfinite(b) ? b : 1.0;
}

bool InBand(double f, const AnalysisParams& params) {
    return f >= static_cast<double>(params.AnaFreqLow) &&
           f <= static_cast<double>(params.AnaFreqHigh);
}

std::string TrimBlanks(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

struct AnalysisMessages {
    const char* lowBad;
    const char* highBad;
    const char* order;
    const char* fundamentalBad;
    const char* thresholdBad;
};

const AnalysisMessages kGerman{"Frequenz low nicht korrekt", "Frequenz high nicht korrekt",
                               "Frequenz high sollte größer low sein",
                               "Grundfrequenz nicht korrekt",
                               "Pegel Schwellwert nicht korrekt"};
const AnalysisMessages kEnglish{"Frequency low not correct", "Frequency high not correct",
                                "Frequency high must be greater then low value",
                                "Fundamental not correct", "Treshhold Value not correct"};

}  // namespace

double AnaBinWidth(const AnalysisParams& params) {
    if (params.AnaFftSize <= 0) return 0.0;
    return params.AnaSampleRate / static_cast<double>(params.AnaFftSize);
}

double FindFundamental(std::span<const float> magnitudes, const AnalysisParams& params) {
    const std::size_t bins = BinCount(magnitudes, params);
    bool found = false;
    std::size_t best = 0;
    float bestMagnitude = 0.0f;
    for (std::size_t k = 0; k < bins; ++k) {
        const float m = magnitudes[k];
        if (static_cast<double>(m) > params.FundThreshold && (!found || m > bestMagnitude)) {
            found = true;
            best = k;
            bestMagnitude = m;
        }
    }
    if (!found || best == 0) return 0.0;
    return static_cast<double>(best) * AnaBinWidth(params);
}

double MeasureLevel(std::span<const float> magnitudes, const AnalysisParams& params,
                    const WeightingFilter& filter, double A, double B) {
    const std::size_t bins = BinCount(magnitudes, params);
    const double binWidth = AnaBinWidth(params);
    double sum = 0.0;
    for (std::size_t k = 0; k < bins; ++k) {
        const double f = static_cast<double>(k) * binWidth;
        if (InBand(f, params)) sum += BinPower(magnitudes[k], f, filter, A, B);
    }
    if (!(sum > 0.0) || !std::isfinite(sum)) return kZeroMagnitudeDb;
    return A + B * std::log(std::sqrt(sum / NoiseBandwidth(params)));
}

double MeasureThdN(std::span<const float> magnitudes, AnalysisParams& params,
                   const WeightingFilter& filter, double A, double B, ThdNCase* kind) {
    ThdNCase ignored = ThdNCase::Ratio;
    ThdNCase& outcome = kind != nullptr ? *kind : ignored;
    if (params.FundAuto) {
        params.Fundamental = std::nearbyint(FindFundamental(magnitudes, params));
    }
    const std::size_t bins = BinCount(magnitudes, params);
    const double binWidth = AnaBinWidth(params);
    const double fund = params.Fundamental;
    const double notchLow = fund - 12.0 * binWidth;
    const double notchHigh = fund + 12.0 * binWidth;
    double total = 0.0;
    double rest = 0.0;
    int bandBins = 0;
    int restBins = 0;
    for (std::size_t k = 0; k < bins; ++k) {
        const double f = static_cast<double>(k) * binWidth;
        const double p = BinPower(magnitudes[k], f, filter, A, B);
        total += p;
        const bool inNotch = fund != 0.0 && f >= notchLow && f <= notchHigh;
        if (InBand(f, params)) {
            ++bandBins;
            if (!inNotch) {
                rest += p;
                ++restBins;
            }
        }
    }
    if (bandBins == 0) {
        outcome = ThdNCase::EmptyBand;
        return kZeroMagnitudeDb;
    }
    if (restBins == 0) {
        outcome = ThdNCase::NotchCoversBand;
        return kZeroMagnitudeDb;
    }
    outcome = fund != 0.0 ? ThdNCase::Ratio : ThdNCase::AbsoluteLevel;
    if (!(rest > 0.0) || !std::isfinite(rest)) return kZeroMagnitudeDb;
    if (fund != 0.0) {
        if (!(total > 0.0) || !std::isfinite(total)) return kZeroMagnitudeDb;
        // A ratio: no level offset, so rest = total reads 0 dB.
        return B * std::log(std::sqrt(rest / total));
    }
    return A + B * std::log(std::sqrt(rest / NoiseBandwidth(params)));
}

bool ParseDialogInteger(const std::string& text, int& value) {
    const std::string t = TrimBlanks(text);
    if (t.empty()) return false;
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (*first == '+') {
        ++first;
        if (first == last || *first == '-') return false;
    }
    int parsed = 0;
    const auto [ptr, ec] = std::from_chars(first, last, parsed);
    if (ec != std::errc() || ptr != last) return false;
    value = parsed;
    return true;
}

AnalysisValidation ValidateAnalysisInput(const AnalysisInput& input, char language) {
    const AnalysisMessages& msg = language == 'E' ? kEnglish : kGerman;
    AnalysisValidation result;
    AnalysisValues values;
    if (!ParseDialogInteger(input.low, values.AnaFreqLow)) {
        result.message = msg.lowBad;
        return result;
    }
    if (!ParseDialogInteger(input.high, values.AnaFreqHigh)) {
        result.message = msg.highBad;
        return result;
    }
    if (!(values.AnaFreqLow < values.AnaFreqHigh)) {
        result.message = msg.order;
        return result;
    }
    int fundamental = 0;
    if (!ParseDialogInteger(input.fundamental, fundamental)) {
        result.message = msg.fundamentalBad;
        return result;
    }
    values.Fundamental = fundamental;
    double thresholdDb = 0.0;
    if (!ParseStrictReal(TrimBlanks(input.thresholdDb), thresholdDb) || thresholdDb > 0.0) {
        result.message = msg.thresholdBad;
        return result;
    }
    values.FundThreshold = std::pow(10.0, thresholdDb / 20.0);
    result.values = values;
    return result;
}

}  // namespace sonvera
