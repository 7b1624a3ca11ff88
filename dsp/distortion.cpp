#include "dsp/distortion.h"

#include <algorithm>
#include <array>

#include "dsp/window.h"

namespace sonvera {

namespace {

AnalysisParams AnalysisOf(const DistortionParams& p)
{
    AnalysisParams a;
    a.FundAuto = true;
    a.AnaSampleRate = p.sampleRateHz;
    a.AnaFftSize = p.fftSize;
    a.AnaWindow = p.window;
    a.AnaFreqLow = static_cast<int>(std::ceil(p.bandLowHz));
    a.AnaFreqHigh = static_cast<int>(std::floor(p.bandHighHz));
    // A sine of amplitude A leaves A/4 in its bin.
    a.FundThreshold = 0.25 * std::pow(10.0, p.thresholdDb / 20.0);
    return a;
}

std::size_t BinCount(const ChannelSpectrum& s, const DistortionParams& p)
{
    std::size_t bins = std::min(static_cast<std::size_t>(std::max(p.fftSize, 0) / 2), s.magnitudes.size());
    if (!s.weighted.empty()) bins = std::min(bins, s.weighted.size());
    return bins;
}

// The bins whose frequency lies in the band.
BinRange BandOf(const DistortionParams& p, std::size_t bins)
{
    BinRange band;
    const double width = p.sampleRateHz / p.fftSize;
    if (bins == 0 || !(width > 0.0)) return band;
    band.first = static_cast<int>(std::max(0.0, std::ceil(p.bandLowHz / width)));
    band.last = static_cast<int>(std::min(static_cast<double>(bins - 1), std::floor(p.bandHighHz / width)));
    return band;
}

double Db(double powerRatio) { return powerRatio > 0.0 ? 10.0 * std::log10(powerRatio) : kZeroMagnitudeDb; }

// The mean square of the band's bins outside every range in `skip` (sorted, or not: each
// bin is tested against all), scaled up to the whole band as if the skipped bins held the
// same noise. Returns 0 when every bin is skipped.
double ResidualMeanSquare(const ChannelSpectrum& s, const AnalysisParams& a, const WeightingFilter& w,
                          const BinRange& band, const std::vector<BinRange>& skip)
{
    double sum = 0.0;
    int kept = 0;
    int k = band.first;
    while (k <= band.last) {
        // The next run of bins outside every skipped range.
        auto skipped = [&](int bin) {
            return std::any_of(skip.begin(), skip.end(), [bin](const BinRange& r) { return r.Contains(bin); });
        };
        if (skipped(k)) {
            ++k;
            continue;
        }
        int last = k;
        while (last + 1 <= band.last && !skipped(last + 1)) ++last;
        sum += BinsMeanSquare(s, a, w, k, last);
        kept += last - k + 1;
        k = last + 1;
    }
    if (kept == 0) return 0.0;
    return sum * static_cast<double>(band.last - band.first + 1) / kept;
}

}  // namespace

DistortionReading MeasureDistortion(const ChannelSpectrum& spectrum, const DistortionParams& params,
                                    const WeightingFilter& weighting)
{
    DistortionReading r;
    const AnalysisParams a = AnalysisOf(params);
    const std::size_t bins = BinCount(spectrum, params);
    const ChannelSpectrum flat(spectrum.magnitudes.first(std::min(bins, spectrum.magnitudes.size())));
    const WeightingFilter none;
    const Tone tone = FindTone(spectrum.magnitudes, a);
    if (!tone.found) {
        r.outcome = DistortionOutcome::NoSignal;
        return r;
    }
    if (!ResolvesFundamental(tone.bin, a)) {
        r.outcome = DistortionOutcome::ResolutionTooCoarse;
        return r;
    }
    const BinRange band = BandOf(params, bins);
    if (tone.freqHz < params.bandLowHz || tone.freqHz > params.bandHighHz || band.last < band.first) {
        r.outcome = DistortionOutcome::OutsideBand;
        return r;
    }
    const BinRange lobe = LobeBins(tone.bin, a, bins);
    const double fundamental = BinsMeanSquare(flat, a, none, lobe.first, lobe.last);
    if (!(fundamental > 0.0)) {
        r.outcome = DistortionOutcome::NoSignal;
        return r;
    }
    r.outcome = DistortionOutcome::Measured;
    r.fundamentalHz = tone.freqHz;
    r.fundamentalDb = Db(2.0 * fundamental);

    const BinRange notch = NotchBins(tone.bin, a, bins);
    std::vector<BinRange> skip{notch};
    const int halfWidth = ShapeOfWindow(params.window).lobeHalfWidthBins;
    double harmonicPower = 0.0;
    for (int h = 2; h <= params.harmonics; ++h) {
        const double bin = h * tone.bin;
        if (h * tone.freqHz > params.bandHighHz || bin + halfWidth > static_cast<double>(bins - 1)) {
            r.harmonicsDbc.push_back(NAN);
            continue;
        }
        const BinRange hl = LobeBins(bin, a, bins);
        const double p = BinsMeanSquare(flat, a, none, hl.first, hl.last);
        harmonicPower += p;
        r.harmonicsDbc.push_back(Db(p / fundamental));
        skip.push_back(hl);
    }
    // Without any harmonic in the band there is no THD to tell, not a perfect device.
    const bool anyHarmonic =
        std::any_of(r.harmonicsDbc.begin(), r.harmonicsDbc.end(), [](double h) { return !std::isnan(h); });
    r.thdDb = anyHarmonic ? Db(harmonicPower / fundamental) : NAN;
    r.thdPct = anyHarmonic ? 100.0 * std::sqrt(harmonicPower / fundamental) : NAN;

    // The fundamental counts whole, also where its notch reaches past an edge of the band
    // (a tone at 20 Hz): cut at the edge it would leave THD+N too high.
    const double rest = BinsMeanSquare(spectrum, a, weighting, band.first, band.last, notch);
    const double total = rest + BinsMeanSquare(spectrum, a, weighting, notch.first, notch.last);
    const double ratio = total > 0.0 ? rest / total : 0.0;
    r.thdnDb = Db(ratio);
    r.thdnPct = 100.0 * std::sqrt(ratio);
    r.sinadDb = -r.thdnDb;
    r.enobBits = (r.sinadDb - 1.76) / 6.02;
    r.noiseDb = Db(ResidualMeanSquare(spectrum, a, weighting, band, skip));
    return r;
}

double ToneAmplitude(const ChannelSpectrum& spectrum, const DistortionParams& params, double freqHz)
{
    const AnalysisParams a = AnalysisOf(params);
    const std::size_t bins = BinCount(spectrum, params);
    const double bin = freqHz * params.fftSize / params.sampleRateHz;
    if (!(bin >= 0.0) || bin > static_cast<double>(bins) - 1.0) return 0.0;
    const BinRange lobe = LobeBins(bin, a, bins);
    const ChannelSpectrum flat(spectrum.magnitudes);
    return std::sqrt(2.0 * BinsMeanSquare(flat, a, WeightingFilter(), lobe.first, lobe.last));
}

ToneAtFrequency ToneWithFloor(const ChannelSpectrum& spectrum, const DistortionParams& params, double freqHz)
{
    ToneAtFrequency t;
    t.amplitude = ToneAmplitude(spectrum, params, freqHz);
    const AnalysisParams a = AnalysisOf(params);
    const std::size_t bins = BinCount(spectrum, params);
    const double centre = freqHz * params.fftSize / params.sampleRateHz;
    const int half = ShapeOfWindow(params.window).lobeHalfWidthBins;
    const ChannelSpectrum flat(spectrum.magnitudes);
    double sum = 0.0;
    int count = 0;
    for (const int side : {-1, 1}) {
        const BinRange r = BinsAround(centre + side * 11.5 * half, 8.5 * half, bins);
        if (r.last < r.first || (side < 0 && r.first == 0)) {
            continue;  // 0 Hz holds what is no noise
        }
        sum += BinsMeanSquare(flat, a, WeightingFilter(), r.first, r.last);
        count += r.last - r.first + 1;
    }
    const BinRange lobe = LobeBins(centre, a, bins);
    if (count > 0) {
        const double lobeNoise = sum / count * (lobe.last - lobe.first + 1);
        constexpr double kMarginPower = 10.0;  // 10 dB
        t.floor = std::sqrt(2.0 * lobeNoise * kMarginPower);
    }
    t.aboveFloor = t.amplitude > t.floor;
    return t;
}

double BandLevelDb(const ChannelSpectrum& spectrum, const DistortionParams& params, const WeightingFilter& weighting)
{
    const BinRange band = BandOf(params, BinCount(spectrum, params));
    if (band.last < band.first) return kZeroMagnitudeDb;
    const auto plain = spectrum.magnitudes.subspan(static_cast<std::size_t>(band.first),
                                                   static_cast<std::size_t>(band.last - band.first + 1));
    if (std::all_of(plain.begin(), plain.end(), [](float m) { return m == 0.0f; })) {
        return -INFINITY;  // digital silence
    }
    return Db(BinsMeanSquare(spectrum, AnalysisOf(params), weighting, band.first, band.last));
}

bool TwoToneTestFromName(std::string_view name, TwoToneTest& test)
{
    static constexpr std::array<std::pair<std::string_view, TwoToneTest>, 3> kNames = {
        {{"smpte", TwoToneTest::Smpte}, {"din", TwoToneTest::Din}, {"ccif", TwoToneTest::Ccif}}};
    for (const auto& [n, t] : kNames) {
        if (n == name) {
            test = t;
            return true;
        }
    }
    return false;
}

ImdReading MeasureImd(const ChannelSpectrum& spectrum, const DistortionParams& params, TwoToneTest test)
{
    ImdReading r;
    const std::vector<SineComponent> tones = TwoTones(test, 0.0);
    const struct {
        double lowHz, highHz;
    } t{static_cast<double>(tones[0].frequencyHz), static_cast<double>(tones[1].frequencyHz)};
    const bool ccif = test == TwoToneTest::Ccif;
    const double width = params.sampleRateHz / params.fftSize;
    const int halfWidth = ShapeOfWindow(params.window).lobeHalfWidthBins;
    // Every product lies a whole multiple of the spacing from its neighbours (and from 0 Hz).
    const double spacing = ccif ? t.highHz - t.lowHz : t.lowHz;
    const double highest = ccif ? 2.0 * t.highHz - t.lowHz : t.highHz + 3.0 * t.lowHz;
    const std::size_t bins = BinCount(spectrum, params);
    if (!(width > 0.0) || spacing / width < 2.0 * halfWidth + 1.0 ||
        highest / width + halfWidth > static_cast<double>(bins) - 1.0) {
        r.outcome = DistortionOutcome::ResolutionTooCoarse;
        return r;
    }
    const double threshold = std::pow(10.0, params.thresholdDb / 20.0);
    auto amplitude = [&](double f) { return ToneAmplitude(spectrum, params, f); };
    const double low = amplitude(t.lowHz);
    const double high = amplitude(t.highHz);
    if (!(low > threshold) || !(high > threshold)) {
        r.outcome = DistortionOutcome::NoSignal;
        return r;
    }
    r.outcome = DistortionOutcome::Measured;
    if (ccif) {
        const double sum = low + high;
        r.d2Db = 20.0 * std::log10(std::max(amplitude(t.highHz - t.lowHz), 1e-12) / sum);
        r.d3Db = 20.0 * std::log10(
                            std::max(amplitude(2.0 * t.lowHz - t.highHz) + amplitude(2.0 * t.highHz - t.lowHz), 1e-12) /
                            sum);
        return r;
    }
    double sidebands = 0.0;
    for (int n = 1; n <= 3; ++n) {
        for (const double f : {t.highHz - n * t.lowHz, t.highHz + n * t.lowHz}) {
            const double a = amplitude(f);
            sidebands += a * a;
        }
    }
    r.imdDb = Db(sidebands / (high * high));
    r.imdPct = 100.0 * std::sqrt(sidebands) / high;
    return r;
}

}  // namespace sonvera
