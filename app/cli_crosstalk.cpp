// sonvera-cli crosstalk: a tone on one output channel at a time, the undriven input's
// level at the tone's frequency over the driven input's.
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/clicapture.h"
#include "config/profilevalues.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"
#include "measure/distortionmeter.h"
#include "measure/sweeprun.h"

namespace sonvera {

const char* const kCrosstalkUsage =
    "Usage: sonvera-cli crosstalk [--freq HZ | --from HZ --to HZ --steps N] [--level DB] [--config FILE]\n"
    "         [--audio ...] [--dut SPEC] [--in-device N] [--out-device N] [--points 512|...|1048576]\n"
    "         [--window INDEX|NAME] [--average N] [--rate HZ] [--bits 8|16|24]\n"
    "         [--json] [--limits FILE]\n"
    "Plays the tone (1000 Hz at -1 dB unless given) on the left output, then on the right, and reads\n"
    "the undriven input at the tone's frequency over the driven one. One frequency prints\n"
    "'left_to_right_db VALUE' and 'right_to_left_db VALUE'; a sweep (N+1 logarithmic steps) prints\n"
    "'# freq_hz,left_to_right_db,right_to_left_db' and one line per frequency. A crosstalk hidden in\n"
    "the noise prints the measurement floor as '<FLOOR' (it lies below); a driven input without the\n"
    "tone prints 'no signal'. Defaults: 65536 points, window Rife-Vinc3, 1 block.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

struct CrosstalkOptions {
    CaptureOptions capture;
    ResultOptions result;
    std::optional<int> freq, from, to, steps;
    double levelDb = -1.0;
};

std::string ParseCrosstalkOption(OptionCursor& cursor, CrosstalkOptions& o)
{
    if (auto shared = ParseCaptureOption(cursor, o.capture)) {
        return *shared;
    }
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    const std::string& name = cursor.Name();
    if (name == "--freq" || name == "--from" || name == "--to") {
        return TakeWholeNumber(cursor, 1, 100000, name == "--freq" ? o.freq : name == "--from" ? o.from : o.to);
    }
    if (name == "--steps") {
        return TakeWholeNumber(cursor, 1, 1000, o.steps);
    }
    if (name == "--level") {
        return TakeLevelDb(cursor, o.levelDb);
    }
    return "unknown option '" + cursor.Argument() + "'";
}

std::string CheckCrosstalkOptions(const CrosstalkOptions& o)
{
    if (o.capture.input || o.capture.skipSeconds) {
        return "--input has no place here: crosstalk drives one output channel at a time";
    }
    const bool sweep = o.from || o.to || o.steps;
    if (o.freq && sweep) {
        return "--freq and --from/--to/--steps exclude each other";
    }
    if (sweep && !(o.from && o.to && o.steps)) {
        return "a sweep needs --from, --to and --steps";
    }
    if (sweep && *o.from >= *o.to) {
        return "--from must be below --to";
    }
    return "";
}

/// The crosstalk of one direction as printed: dB, "<FLOOR", or "no signal".
ResultValue Ratio(const CrosstalkReading& r)
{
    if (!r.signal) {
        return ResultValue::Text("no signal");
    }
    return r.belowFloor ? ResultValue::Below(r.db, 2) : ResultValue::Number(r.db, 2);
}

}  // namespace

int RunCrosstalkCommand(CliContext& ctx)
{
    CrosstalkOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseCrosstalkOption(c, o); });
        status >= 0) {
        return status;
    }
    if (const std::string error = CheckCrosstalkOptions(o); !error.empty()) {
        return ctx.Fail(2, error);
    }
    o.capture.MeasurementDefaults(1);
    std::vector<int> freqs;
    if (o.steps) {
        SweepSettings sweep;
        sweep.SweepFrom = *o.from;
        sweep.SweepTo = *o.to;
        sweep.SweepSteps = *o.steps;
        for (int i = 0; i <= *o.steps; ++i) {
            freqs.push_back(SweepStepFrequency(sweep, i));
        }
    } else {
        freqs.push_back(o.freq.value_or(1000));
    }

    CliCapture capture(ctx);
    if (const int status = capture.Open(o.capture, true); status != 0) {
        return status;
    }
    if (const int status = LoadLimits(ctx, o.result, o.steps ? LimitsUse::Curve : LimitsUse::Readings,
                                      capture.Session().Inputs());
        status != 0) {
        return status;
    }
    for (const int f : freqs) {
        if (const std::string problem = capture.ToneProblemOf(f); !problem.empty()) {
            return ctx.Fail(2, problem);
        }
    }
    const DistortionParams params = ReadingParams(capture, BandOptions{});
    CliResult result("crosstalk");
    CaptureSettings(capture, result);
    if (o.steps) {
        result.settings["from_hz"] = *o.from;
        result.settings["to_hz"] = *o.to;
        result.settings["steps"] = *o.steps;
        result.points.columns = {{"freq_hz", "Hz"}, {"left_to_right_db", "dB", true}, {"right_to_left_db", "dB", true}};
    } else {
        result.settings["freq_hz"] = freqs.front();
    }
    result.settings["level_db"] = o.levelDb;
    int read = 0;
    for (const int f : freqs) {
        const SineComponent sine{f, std::pow(10.0, o.levelDb / 20.0)};
        const std::vector<float> tone = SineLoop(std::span<const SineComponent>(&sine, 1), capture.OutputRate());
        const std::vector<float> silence(tone.size(), 0.0f);
        ResultValue ratios[2];
        for (int driven = 0; driven < 2; ++driven) {
            if (const int status = driven == 0 ? capture.Run(tone, silence, f) : capture.Run(silence, tone, f); status != 0) {
                return status;
            }
            ratios[driven] = Ratio(MeasureCrosstalk(capture.Channel(driven), capture.Channel(1 - driven), params, f));
            read += ratios[driven].text != "no signal" ? 1 : 0;
        }
        if (o.steps) {
            result.points.AddRow({ResultValue::Number(f, 2), ratios[0], ratios[1]});
        } else {
            result.AddReadingValue("", "left_to_right_db", ratios[0]);
            result.AddReadingValue("", "right_to_left_db", ratios[1]);
        }
    }
    result.AddNotices(capture.Notes());
    const std::string text = o.steps ? "# freq_hz,left_to_right_db,right_to_left_db\n" + result.points.Text(",", "\n")
                                     : result.ReadingLines();
    const int status = PrintResult(ctx, o.result, result, text + result.NoticeLines());
    if (status == 1) {
        return status;
    }
    return read > 0 ? status : ctx.Fail(1, "no input carried the tone it was driven with");
}

}  // namespace sonvera
