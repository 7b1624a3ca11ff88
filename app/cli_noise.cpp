// sonvera-cli noise: idle channel noise, dynamic range and signal-to-noise ratio.
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/clicapture.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"
#include "measure/distortionmeter.h"

namespace sonvera {

const char* const kNoiseUsage =
    "Usage: sonvera-cli noise [--weighting none|A|468] [--bandwidth 20k|22k|LO:HI] [--config FILE]\n"
    "         [--audio ...] [--dut SPEC] [--in-device N] [--out-device N] [--points 512|...|1048576]\n"
    "         [--window INDEX|NAME] [--average N] [--rate HZ] [--bits 8|16|24]\n"
    "         [--json] [--limits FILE]\n"
    "Records with the output playing silence, then with 997 Hz at -60 dB, and prints per channel\n"
    "'CHANNEL.KEY VALUE': noise_dbfs (the idle noise's RMS re full scale 1.0 in the band, weighted),\n"
    "dynamic_range_db (60 dB plus the -60 dB tone's THD+N ratio negated) and snr_db (a full-scale\n"
    "sine's RMS over the idle noise). A channel without the tone prints 'CHANNEL.status' and why.\n"
    "Defaults: 65536 points, window Rife-Vinc3, 4 blocks, band 20 Hz..20 kHz, no weighting.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

struct NoiseOptions {
    CaptureOptions capture;
    BandOptions band;
    ResultOptions result;
};

std::string ParseNoiseOption(OptionCursor& cursor, NoiseOptions& o)
{
    if (auto shared = ParseCaptureOption(cursor, o.capture)) {
        return *shared;
    }
    if (auto band = ParseBandOption(cursor, o.band, false)) {
        if (band->empty() && cursor.Name() == "--weighting" && o.band.weighting != "none" &&
            o.band.weighting != "A (IEC 61672)" && o.band.weighting != "ITU-R 468") {
            return "--weighting must be none, A or 468";
        }
        return *band;
    }
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    return "unknown option '" + cursor.Argument() + "'";
}

}  // namespace

int RunNoiseCommand(CliContext& ctx)
{
    NoiseOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseNoiseOption(c, o); }); status >= 0) {
        return status;
    }
    if (o.capture.input || o.capture.skipSeconds) {
        return ctx.Fail(2, "--input has no place here: the noise is read with the output silent, then with a tone");
    }
    o.capture.MeasurementDefaults(4);

    CliCapture capture(ctx);
    if (const int status = capture.Open(o.capture, true); status != 0) {
        return status;
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Readings, capture.Session().Inputs()); status != 0) {
        return status;
    }
    capture.Session().Filter.SelectFilter(o.band.weighting);
    constexpr int kToneHz = kDistortionToneHz;
    constexpr double kToneDb = kDynamicRangeToneDb;
    if (const std::string problem = capture.ToneProblemOf(kToneHz); !problem.empty()) {
        return ctx.Fail(2, problem);
    }
    const SineComponent sine{kToneHz, std::pow(10.0, kToneDb / 20.0)};
    const std::vector<float> tone = SineLoop(std::span<const SineComponent>(&sine, 1), capture.OutputRate());
    const std::vector<float> silence(tone.size(), 0.0f);
    const DistortionParams params = ReadingParams(capture, o.band);
    const WeightingFilter& weighting = capture.Session().Filter;

    if (const int status = capture.Run(silence, silence); status != 0) {
        return status;
    }
    double idle[2];
    for (int c = 0; c < 2; ++c) {
        idle[c] = BandLevelDb(capture.Channel(c), params, weighting);
    }
    if (const int status = capture.Run(tone, tone, kToneHz); status != 0) {
        return status;
    }
    CliResult result("noise");
    CaptureSettings(capture, result);
    BandSettings(o.band, params, result);
    int measured = 0;
    for (int c = 0; c < 2; ++c) {
        const std::string channel = c == 0 ? "left" : "right";
        const DistortionReading r = MeasureDistortion(capture.Channel(c), params, weighting);
        result.AddReading(channel, "noise_dbfs", idle[c], 2);
        if (r.outcome != DistortionOutcome::Measured) {
            result.AddReadingText(channel, "status", OutcomeText(r.outcome));
            continue;
        }
        ++measured;
        result.AddReading(channel, "dynamic_range_db", DynamicRangeDb(r.thdnDb), 2);
        result.AddReading(channel, "snr_db", SnrDb(idle[c]), 2);
    }
    result.AddNotices(BandNote(o.band, params) + capture.Notes());
    const int status = PrintResult(ctx, o.result, result, result.ReadingLines() + result.NoticeLines());
    if (status == 1) {
        return status;
    }
    return measured > 0 ? status : ctx.Fail(1, "neither channel carried the -60 dB tone");
}

}  // namespace sonvera
