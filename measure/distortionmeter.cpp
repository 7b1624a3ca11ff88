#include "measure/distortionmeter.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "config/numberformat.h"
#include "measure/spectrumrun.h"

namespace sonvera {

DistortionParams DistortionParamsFor(double rateHz, int fftSize, int window, double bandLowHz, double bandHighHz)
{
    DistortionParams p;
    p.sampleRateHz = rateHz;
    p.fftSize = fftSize;
    p.window = window;
    p.bandLowHz = bandLowHz;
    p.bandHighHz = std::min(bandHighHz, rateHz / 2.0 * (1.0 - 2.0 / fftSize));
    return p;
}

double DynamicRangeDb(double thdnDb, double toneDb)
{
    return -toneDb - thdnDb;
}

double SnrDb(double idleNoiseDb)
{
    // A full-scale sine's RMS is 1/sqrt(2) of full scale: -3.01 dB on the noise's scale.
    return 10.0 * std::log10(0.5) - idleNoiseDb;
}

CrosstalkReading MeasureCrosstalk(const ChannelSpectrum& driven, const ChannelSpectrum& undriven,
                                  const DistortionParams& params, double freqHz)
{
    CrosstalkReading r;
    const double amplitude = ToneAmplitude(driven, params, freqHz);
    if (!(amplitude > std::pow(10.0, params.thresholdDb / 20.0))) {
        return r;
    }
    r.signal = true;
    const ToneAtFrequency other = ToneWithFloor(undriven, params, freqHz);
    r.belowFloor = !other.aboveFloor;
    r.db = 20.0 * std::log10((r.belowFloor ? other.floor : other.amplitude) / amplitude);
    return r;
}

namespace {

struct MeterTexts {
    const char* noSignal;
    const char* outsideBand;
    const char* pending;
    const char* fundamental;
    const char* level;
    const char* noise;
    const char* standard;
    const char* output;
    const char* silent;
    const char* idleNoise;
    const char* dynamicRange;
    const char* snr;
    const char* frequency;
    const char* crosstalk;
    const char* left;
    const char* right;
};

const MeterTexts kGerman{"kein Signal", "Grundwelle außerhalb des Bandes", "wird gemessen …", "Grundwelle",
                         "Pegel", "Rauschen", "Norm", "Ausgang", "stumm", "Ruhegeräusch", "Dynamikumfang",
                         "Störabstand", "Frequenz", "Übersprechen", "Links", "Rechts"};
const MeterTexts kEnglish{"no signal", "fundamental outside the band", "measuring …", "Fundamental", "Level",
                          "Noise", "Standard", "Output", "silent", "Idle noise", "Dynamic range",
                          "Signal-to-noise", "Frequency", "Crosstalk", "Left", "Right"};

const MeterTexts& TextsFor(char language)
{
    return language == 'E' ? kEnglish : kGerman;
}

const char* const kNoValue = "–";

std::string Db(double v, const char* unit)
{
    if (std::isnan(v)) {
        return kNoValue;
    }
    if (std::isinf(v)) {
        return std::string(v > 0 ? "∞ " : "−∞ ") + unit;
    }
    return FormatFixed(v, 2) + " " + unit;
}

/// A percentage with three significant digits (two decimals at least, nine at most), so
/// that a residue of -160 dB does not read as 0.
std::string Percent(double pct)
{
    const int decimals = pct > 0.0 && std::isfinite(pct)
                             ? std::clamp(2 - static_cast<int>(std::floor(std::log10(pct))), 2, 9)
                             : 2;
    return FormatFixed(pct, decimals) + " %";
}

const char* StandardName(TwoToneTest test)
{
    switch (test) {
    case TwoToneTest::Smpte:
        return "SMPTE 60 Hz + 7 kHz 4:1";
    case TwoToneTest::Din:
        return "DIN 250 Hz + 8 kHz 4:1";
    case TwoToneTest::Ccif:
        return "CCIF 19 kHz + 20 kHz 1:1";
    }
    return "";
}

std::vector<float> ToneLoop(int freqHz, double levelDb, int rateHz)
{
    const SineComponent sine{freqHz, std::pow(10.0, levelDb / 20.0)};
    return SineLoop(std::span<const SineComponent>(&sine, 1), rateHz);
}

}  // namespace

void DistortionMeter::Configure(const DistortionMeterSettings& settings)
{
    *this = DistortionMeter{};
    settings_ = settings;
}

std::vector<int> DistortionMeter::PlayedFrequencies() const
{
    switch (settings_.mode) {
    case DistortionMode::Thd:
        return settings_.play ? std::vector<int>{kDistortionToneHz} : std::vector<int>{};
    case DistortionMode::Imd: {
        std::vector<int> f;
        if (settings_.play) {
            for (const SineComponent& c : TwoTones(settings_.imdTest, settings_.toneDb)) {
                f.push_back(c.frequencyHz);
            }
        }
        return f;
    }
    case DistortionMode::Noise:
        return {kDistortionToneHz};
    case DistortionMode::Crosstalk:
        return {kCrosstalkToneHz};
    }
    return {};
}

DistortionMeter::Signal DistortionMeter::SignalOf(int rateHz) const
{
    Signal s;
    switch (settings_.mode) {
    case DistortionMode::Thd:
        if (settings_.play) {
            s.left = ToneLoop(kDistortionToneHz, settings_.toneDb, rateHz);
            s.right = s.left;
        }
        break;
    case DistortionMode::Imd:
        if (settings_.play) {
            s.left = SineLoop(TwoTones(settings_.imdTest, settings_.toneDb), rateHz);
            s.right = s.left;
        }
        break;
    case DistortionMode::Noise:
        // The idle channel noise is read with the output open and silent.
        s.left = ToneLoop(kDistortionToneHz, kDynamicRangeToneDb, rateHz);
        if (phase_ == 0) {
            std::fill(s.left.begin(), s.left.end(), 0.0f);
        }
        s.right = s.left;
        break;
    case DistortionMode::Crosstalk:
        s.left = ToneLoop(kCrosstalkToneHz, settings_.toneDb, rateHz);
        s.right.assign(s.left.size(), 0.0f);
        if (phase_ == 1) {
            std::swap(s.left, s.right);
        }
        break;
    }
    return s;
}

bool DistortionMeter::Take(const ChannelSpectrum& left, const ChannelSpectrum& right, const DistortionParams& params,
                           const WeightingFilter& weighting)
{
    const ChannelSpectrum* spectra[2] = {&left, &right};
    params_ = params;
    ++results_;
    switch (settings_.mode) {
    case DistortionMode::Thd:
        for (int c = 0; c < 2; ++c) {
            thd_[c] = MeasureDistortion(*spectra[c], params, weighting);
        }
        return false;
    case DistortionMode::Imd:
        for (int c = 0; c < 2; ++c) {
            imd_[c] = MeasureImd(*spectra[c], params, settings_.imdTest);
        }
        return false;
    case DistortionMode::Noise:
        for (int c = 0; c < 2; ++c) {
            if (phase_ == 0) {
                idleDb_[c] = BandLevelDb(*spectra[c], params, weighting);
            } else {
                lowTone_[c] = MeasureDistortion(*spectra[c], params, weighting);
            }
        }
        (phase_ == 0 ? idleRead_ : toneRead_) = true;
        phase_ = 1 - phase_;
        return true;
    case DistortionMode::Crosstalk:
        cross_[phase_] = MeasureCrosstalk(*spectra[phase_], *spectra[1 - phase_], params, kCrosstalkToneHz);
        crossRead_[phase_] = true;
        phase_ = 1 - phase_;
        return true;
    }
    return false;
}

std::string DistortionMeter::Outcome(DistortionOutcome outcome, char language) const
{
    const SpectrumTexts* spectrum = SpectrumTextsFor(language == 'E' ? 'E' : 'D');
    auto trimmed = [](std::string s) {
        s.erase(0, s.find_first_not_of(' '));
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    };
    switch (outcome) {
    case DistortionOutcome::Measured:
        break;
    case DistortionOutcome::NoSignal:
        return trimmed(spectrum->noFundamental);
    case DistortionOutcome::ResolutionTooCoarse:
        return spectrum->resolutionTooCoarse;
    case DistortionOutcome::OutsideBand:
        return TextsFor(language).outsideBand;
    }
    return "";
}

std::vector<MeterRow> DistortionMeter::Rows(char language) const
{
    const MeterTexts& t = TextsFor(language);
    std::vector<MeterRow> rows;
    // A row of both channels from one value maker; a channel without a reading shows why
    // in the first row and a dash in the others, never a number.
    auto perChannel = [&](const std::string& label, auto value) {
        MeterRow row{label, {}, {}};
        row.left = value(0);
        row.right = value(1);
        rows.push_back(row);
    };
    const bool read = results_ > 0;
    switch (settings_.mode) {
    case DistortionMode::Thd: {
        auto thd = [&](auto show) {
            return [&, show](int c) -> std::string {
                if (!read) return kNoValue;
                if (thd_[c].outcome != DistortionOutcome::Measured) {
                    return rows.empty() ? Outcome(thd_[c].outcome, language) : kNoValue;
                }
                return show(thd_[c]);
            };
        };
        perChannel(t.fundamental, thd([](const DistortionReading& r) { return FormatFixed(r.fundamentalHz, 2) + " Hz"; }));
        perChannel(t.level, thd([](const DistortionReading& r) { return Db(r.fundamentalDb, "dBFS"); }));
        perChannel("THD", thd([](const DistortionReading& r) { return Db(r.thdDb, "dB") + "  " + Percent(r.thdPct); }));
        perChannel("THD+N",
                   thd([](const DistortionReading& r) { return Db(r.thdnDb, "dB") + "  " + Percent(r.thdnPct); }));
        perChannel("SINAD", thd([](const DistortionReading& r) { return Db(r.sinadDb, "dB"); }));
        perChannel("ENOB", thd([](const DistortionReading& r) { return FormatFixed(r.enobBits, 2) + " bit"; }));
        perChannel(t.noise, thd([](const DistortionReading& r) { return Db(r.noiseDb, "dBFS"); }));
        break;
    }
    case DistortionMode::Imd: {
        const bool ccif = settings_.imdTest == TwoToneTest::Ccif;
        rows.push_back({t.standard, StandardName(settings_.imdTest), StandardName(settings_.imdTest)});
        auto imd = [&](bool first, auto show) {
            return [&, first, show](int c) -> std::string {
                if (!read) return kNoValue;
                if (imd_[c].outcome == DistortionOutcome::NoSignal) return first ? t.noSignal : kNoValue;
                if (imd_[c].outcome != DistortionOutcome::Measured) {
                    return first ? Outcome(imd_[c].outcome, language) : kNoValue;
                }
                return show(imd_[c]);
            };
        };
        if (ccif) {
            perChannel("d2", imd(true, [](const ImdReading& r) { return Db(r.d2Db, "dB"); }));
            perChannel("d3", imd(false, [](const ImdReading& r) { return Db(r.d3Db, "dB"); }));
        } else {
            perChannel("IMD",
                       imd(true, [](const ImdReading& r) { return Db(r.imdDb, "dB") + "  " + Percent(r.imdPct); }));
        }
        break;
    }
    case DistortionMode::Noise: {
        const std::string output =
            phase_ == 0 ? std::string(t.silent) : std::to_string(kDistortionToneHz) + " Hz, -60 dBFS";
        rows.push_back({t.output, output, output});
        // Before the first result nothing is read; then the part still missing is on its way.
        const std::string pending = read ? t.pending : kNoValue;
        perChannel(t.idleNoise, [&](int c) { return idleRead_ ? Db(idleDb_[c], "dBFS") : pending; });
        auto tone = [&](bool first, auto show) {
            return [&, first, show](int c) -> std::string {
                if (!toneRead_ || !idleRead_) return pending;
                if (lowTone_[c].outcome != DistortionOutcome::Measured) {
                    return first ? Outcome(lowTone_[c].outcome, language) : kNoValue;
                }
                return show(c);
            };
        };
        // The residue over the tone as it arrives: an output below full volume or a device
        // with gain moves the tone away from -60 dB, and full scale stays the reference.
        perChannel(t.dynamicRange, tone(true, [&](int c) {
                       return Db(DynamicRangeDb(lowTone_[c].thdnDb, lowTone_[c].fundamentalDb), "dB");
                   }));
        perChannel(t.snr, tone(false, [&](int c) { return Db(SnrDb(idleDb_[c]), "dB"); }));
        break;
    }
    case DistortionMode::Crosstalk: {
        const std::string freq = std::to_string(kCrosstalkToneHz) + " Hz";
        rows.push_back({t.frequency, freq, freq});
        perChannel(t.crosstalk, [&](int c) -> std::string {
            const std::string lead = c == 0 ? "L→R " : "R→L ";
            if (!crossRead_[c]) return lead + (read ? t.pending : kNoValue);
            const CrosstalkReading& x = cross_[c];
            if (!x.signal) return lead + t.noSignal;
            return lead + (x.belowFloor ? "< " : "") + Db(x.db, "dB");
        });
        break;
    }
    }
    return rows;
}

std::vector<MeterRow> DistortionMeter::HarmonicRows(char language) const
{
    std::vector<MeterRow> rows;
    if (settings_.mode != DistortionMode::Thd || results_ == 0) {
        return rows;
    }
    const std::size_t count = std::max(thd_[0].harmonicsDbc.size(), thd_[1].harmonicsDbc.size());
    for (std::size_t h = 0; h < count; ++h) {
        auto value = [&](int c) -> std::string {
            const DistortionReading& r = thd_[c];
            if (r.outcome != DistortionOutcome::Measured) {
                return h == 0 ? Outcome(r.outcome, language) : kNoValue;
            }
            return h < r.harmonicsDbc.size() ? Db(r.harmonicsDbc[h], "dBc") : kNoValue;
        };
        rows.push_back({"H" + std::to_string(h + 2), value(0), value(1)});
    }
    return rows;
}

std::string DistortionMeter::Text(char language) const
{
    const MeterTexts& t = TextsFor(language);
    std::string text = std::string("\t") + t.left + "\t" + t.right + "\n";
    for (const std::vector<MeterRow>& rows : {Rows(language), HarmonicRows(language)}) {
        for (const MeterRow& row : rows) {
            text += row.label + "\t" + row.left + "\t" + row.right + "\n";
        }
    }
    return text;
}

ResultLine DistortionMeter::Summary() const
{
    ResultLine line;
    for (const char language : {'D', 'E'}) {
        const std::vector<MeterRow> rows = Rows(language);
        std::string text;
        // The main readings: fundamental, THD and THD+N; in the other modes every row but
        // the first (the standard, the output, the frequency).
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool shown = settings_.mode == DistortionMode::Thd ? (i == 0 || i == 2 || i == 3) : i > 0;
            if (shown) {
                text += (text.empty() ? "" : " | ") + rows[i].label + " " + rows[i].left + " / " + rows[i].right;
            }
        }
        (language == 'D' ? line.german : line.english) = text;
    }
    return line;
}

}  // namespace sonvera
