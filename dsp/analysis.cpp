#include "dsp/analysis.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "dsp/window.h"

namespace sonvera {

namespace {

// Magnitude that a magnitude of exactly 0 counts as: kZeroMagnitudeDb below a bin-centred
// full-scale sine's magnitude of 1/4.
const double kZeroMagnitude = 0.25 * std::pow(10.0, kZeroMagnitudeDb / 20.0);

std::size_t BinCount(const ChannelSpectrum& spectrum, const AnalysisParams& params) {
    const std::size_t half =
        params.AnaFftSize > 0 ? static_cast<std::size_t>(params.AnaFftSize / 2) : 0;
    std::size_t bins = std::min(half, spectrum.magnitudes.size());
    if (!spectrum.weighted.empty()) bins = std::min(bins, spectrum.weighted.size());
    return bins;
}

bool InBand(double f, const AnalysisParams& params) {
    return f >= static_cast<double>(params.AnaFreqLow) &&
           f <= static_cast<double>(params.AnaFreqHigh);
}

// The bins whose frequency lies in the band (empty when none does).
BinRange BandBins(std::size_t bins, const AnalysisParams& params) {
    BinRange band;
    const double binWidth = AnaBinWidth(params);
    bool any = false;
    for (std::size_t k = 0; k < bins; ++k) {
        if (!InBand(static_cast<double>(k) * binWidth, params)) continue;
        if (!any) band.first = static_cast<int>(k);
        band.last = static_cast<int>(k);
        any = true;
    }
    return band;
}

// 10·log10 of a mean square, kZeroMagnitudeDb for nothing.
double MeanSquareDb(double meanSquare) {
    if (!(meanSquare > 0.0) || !std::isfinite(meanSquare)) return kZeroMagnitudeDb;
    return 10.0 * std::log10(meanSquare);
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

namespace {

// The strongest bin above the threshold (the lowest of equal peaks), or -1.
int StrongestBin(std::span<const float> magnitudes, const AnalysisParams& params) {
    const std::size_t bins = BinCount(ChannelSpectrum(magnitudes), params);
    int best = -1;
    float bestMagnitude = 0.0f;
    for (std::size_t k = 0; k < bins; ++k) {
        const float m = magnitudes[k];
        if (static_cast<double>(m) > params.FundThreshold && (best < 0 || m > bestMagnitude)) {
            best = static_cast<int>(k);
            bestMagnitude = m;
        }
    }
    return best;
}

}  // namespace

Tone FindTone(std::span<const float> magnitudes, const AnalysisParams& params) {
    const std::size_t bins = BinCount(ChannelSpectrum(magnitudes), params);
    const int strongest = StrongestBin(magnitudes, params);
    const std::size_t best = strongest > 0 ? static_cast<std::size_t>(strongest) : 0;
    const float bestMagnitude = strongest >= 0 ? magnitudes[best] : 0.0f;
    Tone tone;
    if (best == 0) return tone;
    // The tone lies between the peak bin and its larger neighbour, where the kernel's
    // ratio K(1 - d) / K(d) equals the neighbour's ratio to the peak (d in 0..1/2; the
    // ratio rises with d).
    const double left = static_cast<double>(magnitudes[best - 1]);
    const double right = best + 1 < bins ? static_cast<double>(magnitudes[best + 1]) : 0.0;
    const double peak = static_cast<double>(bestMagnitude);
    const double ratio = std::max(left, right) / peak;
    const int n = params.AnaFftSize;
    auto kernel = [&](double d) { return WindowKernel(params.AnaWindow, n, d); };
    double offset = 0.0;
    if (ratio > kernel(1.0) / kernel(0.0)) {
        double lo = 0.0;
        double hi = 0.5;
        for (int i = 0; i < 50; ++i) {
            const double mid = 0.5 * (lo + hi);
            if (kernel(1.0 - mid) / kernel(mid) < ratio) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        offset = 0.5 * (lo + hi);
    }
    tone.found = true;
    tone.bin = static_cast<double>(best) + (right > left ? offset : -offset);
    tone.freqHz = tone.bin * AnaBinWidth(params);
    tone.magnitude = peak / kernel(offset);
    return tone;
}

double FindFundamental(std::span<const float> magnitudes, const AnalysisParams& params) {
    const Tone tone = FindTone(magnitudes, params);
    return tone.found ? tone.freqHz : 0.0;
}

BinRange BinsAround(double centreBin, double halfWidthBins, std::size_t binCount) {
    BinRange r;
    if (binCount == 0 || !std::isfinite(centreBin)) return r;
    const double first = std::max(0.0, std::ceil(centreBin - halfWidthBins));
    const double last = std::min(static_cast<double>(binCount - 1), std::floor(centreBin + halfWidthBins));
    if (first > last) return r;
    r.first = static_cast<int>(first);
    r.last = static_cast<int>(last);
    return r;
}

BinRange LobeBins(double centreBin, const AnalysisParams& params, std::size_t binCount) {
    return BinsAround(centreBin, ShapeOfWindow(params.AnaWindow).lobeHalfWidthBins, binCount);
}

BinRange NotchBins(double fundamentalBin, const AnalysisParams& params, std::size_t binCount) {
    const double half = ShapeOfWindow(params.AnaWindow).lobeHalfWidthBins;
    const double room = fundamentalBin - half;  // up to the lobes of 0 Hz and of H2
    return BinsAround(fundamentalBin, std::clamp(room, 2.0 * half, 3.0 * half), binCount);
}

bool ResolvesTone(double bin, const AnalysisParams& params) {
    return WindowMirrorErrorDb(params.AnaWindow, params.AnaFftSize, bin) <= kResolutionLimitDb;
}

bool ResolvesFundamental(double bin, const AnalysisParams& params) {
    return bin >= 3.0 * ShapeOfWindow(params.AnaWindow).lobeHalfWidthBins && ResolvesTone(bin, params);
}

double BinsMeanSquare(const ChannelSpectrum& spectrum, const AnalysisParams& params,
                      const WeightingFilter& filter, int first, int last, BinRange skip) {
    const std::size_t bins = BinCount(spectrum, params);
    const bool perBin = spectrum.weighted.empty();
    const std::span<const float> m = perBin ? spectrum.magnitudes : spectrum.weighted;
    const double binWidth = AnaBinWidth(params);
    double sum = 0.0;
    for (int k = std::max(first, 0); k <= last && static_cast<std::size_t>(k) < bins; ++k) {
        if (skip.Contains(k)) continue;
        const double magnitude = static_cast<double>(m[static_cast<std::size_t>(k)]);
        double p = 0.0;
        if (magnitude == 0.0) {
            p = kZeroMagnitude * kZeroMagnitude;
        } else {
            p = magnitude * magnitude;
            if (perBin) p *= std::pow(10.0, filter.GainDb(static_cast<double>(k) * binWidth) / 10.0);
        }
        sum += k == 0 ? 0.5 * p : p;
    }
    // A sine of amplitude A on a bin gives A/4 (the coherent gain 1/2 and half of its power
    // at negative frequencies), mean square A²/2: eight times the bin's power, shared by
    // the bins of the window's noise bandwidth.
    return 8.0 * sum / ShapeOfWindow(params.AnaWindow).noiseBandwidthBins;
}

namespace {

// True when the strongest component above the threshold cannot be resolved (a peak at
// bin 0 never can: 0 Hz and a tone below one bin look alike) and its lobe reaches the band.
bool UnresolvedInBand(const ChannelSpectrum& spectrum, const AnalysisParams& params, const BinRange& band) {
    const int strongest = StrongestBin(spectrum.magnitudes, params);
    if (strongest < 0) return false;
    const double bin = strongest == 0 ? 0.0 : FindTone(spectrum.magnitudes, params).bin;
    if (ResolvesTone(bin, params)) return false;
    return LobeBins(bin, params, BinCount(spectrum, params)).Overlaps(band);
}

}  // namespace

double MeasureLevel(const ChannelSpectrum& spectrum, const AnalysisParams& params,
                    const WeightingFilter& filter, bool* tooCoarse) {
    const BinRange band = BandBins(BinCount(spectrum, params), params);
    if (tooCoarse != nullptr) *tooCoarse = UnresolvedInBand(spectrum, params, band);
    if (band.last < band.first) return kZeroMagnitudeDb;
    return MeanSquareDb(BinsMeanSquare(spectrum, params, filter, band.first, band.last));
}

double MeasureThdN(const ChannelSpectrum& spectrum, AnalysisParams& params,
                   const WeightingFilter& filter, ThdNCase* kind) {
    ThdNCase ignored = ThdNCase::Ratio;
    ThdNCase& outcome = kind != nullptr ? *kind : ignored;
    const double binWidth = AnaBinWidth(params);
    double fundamentalBin = 0.0;
    if (params.FundAuto) {
        const Tone tone = FindTone(spectrum.magnitudes, params);
        params.Fundamental = tone.found ? std::nearbyint(tone.freqHz) : 0.0;
        fundamentalBin = tone.bin;
    } else if (binWidth > 0.0) {
        fundamentalBin = params.Fundamental / binWidth;
    }
    const std::size_t bins = BinCount(spectrum, params);
    const BinRange band = BandBins(bins, params);
    if (band.last < band.first) {
        outcome = ThdNCase::EmptyBand;
        return kZeroMagnitudeDb;
    }
    const bool withFundamental = params.Fundamental != 0.0;
    if (!withFundamental && UnresolvedInBand(spectrum, params, band)) {
        outcome = ThdNCase::ResolutionTooCoarse;
        return kZeroMagnitudeDb;
    }
    if (!withFundamental) {
        outcome = ThdNCase::AbsoluteLevel;
        return MeanSquareDb(BinsMeanSquare(spectrum, params, filter, band.first, band.last));
    }
    if (!ResolvesFundamental(fundamentalBin, params)) {
        outcome = ThdNCase::ResolutionTooCoarse;
        return kZeroMagnitudeDb;
    }
    const BinRange notch = NotchBins(fundamentalBin, params, bins);
    if (notch.Contains(band.first) && notch.Contains(band.last)) {
        outcome = ThdNCase::NotchCoversBand;
        return kZeroMagnitudeDb;
    }
    outcome = ThdNCase::Ratio;
    const double total = BinsMeanSquare(spectrum, params, filter, 0, static_cast<int>(bins) - 1);
    const double rest = BinsMeanSquare(spectrum, params, filter, band.first, band.last, notch);
    if (!(total > 0.0) || !std::isfinite(total)) return kZeroMagnitudeDb;
    return MeanSquareDb(rest / total);
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
