// sonvera-cli distortion: the fundamental, each harmonic, THD, THD+N, SINAD, ENOB and
// the residual noise of both channels, from one averaged spectrum.
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/clicapture.h"
#include "config/numberformat.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"

namespace sonvera {

const char* const kDistortionUsage =
    "Usage: sonvera-cli distortion [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC]\n"
    "         [--in-device N] [--out-device N] [--tone FREQ[:LEVELDB] | --input FILE.wav [--skip SECONDS]]\n"
    "         [--points 512|...|1048576] [--window INDEX|NAME] [--average N] [--rate HZ] [--bits 8|16|24]\n"
    "         [--bandwidth 20k|22k|80k|LO:HI] [--harmonics K] [--weighting none|A|468|NAME]\n"
    "         [--json] [--limits FILE]\n"
    "Plays the tone (997 Hz at -1 dB unless given) and prints per channel 'CHANNEL.KEY VALUE' lines:\n"
    "fundamental_hz, fundamental_dbfs (the tone's amplitude re full scale), thd_db, thd_pct, thdn_db,\n"
    "thdn_pct, sinad_db, enob_bits, noise_dbfs (RMS re full scale of the band without the tone and its\n"
    "harmonics), h2_dbc .. hK_dbc (nan above the band). A channel without a reading prints\n"
    "'CHANNEL.status' and why. Defaults: 65536 points, window Rife-Vinc3, 1 block, band 20 Hz..20 kHz,\n"
    "K = 10, no weighting. --input analyses a wave file instead of playing.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

struct DistortionOptions {
    CaptureOptions capture;
    ResultOptions result;
    BandOptions band;
    std::optional<int> toneHz;
    int toneDb = -1;
    int harmonics = 10;
};

std::string ParseDistortionOption(OptionCursor& cursor, DistortionOptions& o)
{
    if (auto shared = ParseCaptureOption(cursor, o.capture)) {
        return *shared;
    }
    if (auto band = ParseBandOption(cursor, o.band, true)) {
        return *band;
    }
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    const std::string& name = cursor.Name();
    if (name == "--tone") {
        int hz = 0;
        const std::string error = ParseToneValue(cursor.Take(), hz, o.toneDb);
        if (error.empty()) {
            o.toneHz = hz;
        }
        return error;
    }
    if (name == "--harmonics") {
        return TakeWholeNumber(cursor, 2, 50, o.harmonics);
    }
    return "unknown option '" + cursor.Argument() + "'";
}

void AddDistortionReadings(const std::string& channel, const DistortionReading& r, CliResult& result)
{
    if (r.outcome != DistortionOutcome::Measured) {
        result.AddReadingText(channel, "status", OutcomeText(r.outcome));
        return;
    }
    auto reading = [&](const std::string& key, double v, int decimals) { result.AddReading(channel, key, v, decimals); };
    reading("fundamental_hz", r.fundamentalHz, 2);
    reading("fundamental_dbfs", r.fundamentalDb, 2);
    reading("thd_db", r.thdDb, 2);
    reading("thd_pct", r.thdPct, 6);
    reading("thdn_db", r.thdnDb, 2);
    reading("thdn_pct", r.thdnPct, 6);
    reading("sinad_db", r.sinadDb, 2);
    reading("enob_bits", r.enobBits, 2);
    reading("noise_dbfs", r.noiseDb, 2);
    for (std::size_t h = 0; h < r.harmonicsDbc.size(); ++h) {
        reading("h" + std::to_string(h + 2) + "_dbc", r.harmonicsDbc[h], 2);
    }
}

}  // namespace

int RunDistortionCommand(CliContext& ctx)
{
    DistortionOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseDistortionOption(c, o); });
        status >= 0) {
        return status;
    }
    if (const std::string error = CheckCaptureOptions(o.capture, o.toneHz.has_value()); !error.empty()) {
        return ctx.Fail(2, error);
    }
    const bool plays = !o.capture.input;
    o.capture.MeasurementDefaults(1);

    CliCapture capture(ctx);
    if (const int status = capture.Open(o.capture, plays); status != 0) {
        return status;
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Readings, capture.Session().Inputs()); status != 0) {
        return status;
    }
    capture.Session().Filter.SelectFilter(o.band.weighting);
    if (const int status = capture.CheckFileLength(capture.Config().Fft.FftAverage); status != 0) {
        return status;
    }
    std::vector<float> tone;
    if (plays) {
        const int hz = o.toneHz.value_or(997);
        if (const std::string problem = capture.ToneProblemOf(hz); !problem.empty()) {
            return ctx.Fail(2, "--tone: " + problem);
        }
        const SineComponent sine{hz, Generator::LevelAmplitude(o.toneDb)};
        tone = SineLoop(std::span<const SineComponent>(&sine, 1), capture.OutputRate());
    }
    if (const int status = capture.Run(tone, tone, plays ? o.toneHz.value_or(997) : 0); status != 0) {
        return status;
    }
    DistortionParams params = ReadingParams(capture, o.band);
    params.harmonics = o.harmonics;
    const WeightingFilter& weighting = capture.Session().Filter;
    const DistortionReading left = MeasureDistortion(capture.Channel(0), params, weighting);
    const DistortionReading right = MeasureDistortion(capture.Channel(1), params, weighting);
    CliResult result("distortion");
    CaptureSettings(capture, result);
    BandSettings(o.band, params, result);
    result.settings["tone_hz"] = plays ? nlohmann::ordered_json(o.toneHz.value_or(997)) : nlohmann::ordered_json();
    result.settings["tone_db"] = plays ? nlohmann::ordered_json(o.toneDb) : nlohmann::ordered_json();
    result.settings["harmonics"] = o.harmonics;
    AddDistortionReadings("left", left, result);
    AddDistortionReadings("right", right, result);
    result.AddNotices(BandNote(o.band, params) + capture.Notes());
    const int status = PrintResult(ctx, o.result, result, result.ReadingLines() + result.NoticeLines());
    if (status == 1) {
        return status;
    }
    if (left.outcome != DistortionOutcome::Measured && right.outcome != DistortionOutcome::Measured) {
        return ctx.Fail(1, "neither channel holds a tone to measure");
    }
    return status;
}

}  // namespace sonvera
