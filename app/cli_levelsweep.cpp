// sonvera-cli levelsweep: THD+N and THD of one input against the output level, and the
// level at which THD+N first exceeds 1 %.
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/clicapture.h"
#include "config/profilevalues.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"
#include "measure/levelsweep.h"

namespace sonvera {

const char* const kLevelSweepUsage =
    "Usage: sonvera-cli levelsweep [--freq HZ] [--from DB] [--to DB] [--step DB] [--channel left|right]\n"
    "         [--bandwidth 20k|22k|80k|LO:HI] [--weighting none|A|468|NAME] [--config FILE] [--audio ...]\n"
    "         [--dut SPEC] [--in-device N] [--out-device N] [--points 512|...|1048576] [--window INDEX|NAME]\n"
    "         [--average N] [--rate HZ] [--bits 8|16|24]\n"
    "         [--json] [--limits FILE]\n"
    "Plays the tone (997 Hz unless given) at each output level from --from to --to (dB re full scale,\n"
    "-60 to 0 in steps of 1 unless given) and prints '# level_dbfs,read_dbfs,thdn_db,thd_db', then one\n"
    "line per level: the output level, the level read at the input (--channel, right unless given),\n"
    "THD+N and THD (dB re the fundamental; 'no signal' where the input carries no tone). Last comes\n"
    "'# max_level_dbfs L': the first output level whose THD+N exceeds 1 %, or nan when none does.\n"
    "Defaults: 65536 points, window Rife-Vinc3, 1 block, band 20 Hz..20 kHz.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

struct LevelSweepOptions {
    CaptureOptions capture;
    BandOptions band;
    ResultOptions result;
    LevelSweepPlan plan;
    int channel = 1;
};

std::string ParseLevelSweepOption(OptionCursor& cursor, LevelSweepOptions& o)
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
    if (name == "--freq") {
        return TakeWholeNumber(cursor, 1, 100000, o.plan.freqHz);
    }
    if (name == "--from" || name == "--to") {
        return TakeLevelDb(cursor, name == "--from" ? o.plan.fromDb : o.plan.toDb);
    }
    if (name == "--step") {
        const auto v = cursor.Take();
        const auto db = v ? ParseReal(*v) : std::nullopt;
        if (!db || !std::isfinite(*db) || *db < 0.01 || *db > 100.0) {
            return "--step needs a step in dB from 0.01 to 100";
        }
        o.plan.stepDb = *db;
        return "";
    }
    if (name == "--channel") {
        const auto v = cursor.Take();
        if (!v || (*v != "left" && *v != "right")) {
            return "--channel must be left or right";
        }
        o.channel = *v == "left" ? 0 : 1;
        return "";
    }
    return "unknown option '" + cursor.Argument() + "'";
}

}  // namespace

int RunLevelSweepCommand(CliContext& ctx)
{
    LevelSweepOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseLevelSweepOption(c, o); });
        status >= 0) {
        return status;
    }
    if (o.capture.input || o.capture.skipSeconds) {
        return ctx.Fail(2, "--input has no place here: the sweep plays each level");
    }
    const LevelSweepPlan& plan = o.plan;
    if (plan.fromDb > plan.toDb) {
        return ctx.Fail(2, "--from must not lie above --to");
    }
    if (plan.Count() == 0) {
        return ctx.Fail(2, "--step is too small for the range: more than 10000 levels");
    }
    o.capture.MeasurementDefaults(1);

    CliCapture capture(ctx);
    if (const int status = capture.Open(o.capture, true); status != 0) {
        return status;
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Readings, capture.Session().Inputs()); status != 0) {
        return status;
    }
    capture.Session().Filter.SelectFilter(o.band.weighting);
    if (const std::string problem = capture.ToneProblemOf(plan.freqHz); !problem.empty()) {
        return ctx.Fail(2, "--freq: " + problem);
    }
    const DistortionParams params = ReadingParams(capture, o.band);
    CliResult result("levelsweep");
    CaptureSettings(capture, result);
    BandSettings(o.band, params, result);
    result.settings["freq_hz"] = plan.freqHz;
    result.settings["from_db"] = plan.fromDb;
    result.settings["to_db"] = plan.toDb;
    result.settings["step_db"] = plan.stepDb;
    result.settings["channel"] = o.channel == 0 ? "left" : "right";
    result.points.columns = {{"level_dbfs", "dBFS"}, {"read_dbfs", "dBFS"}, {"thdn_db", "dB"}, {"thd_db", "dB"}};
    LevelSweepResult sweep;
    for (int i = 0; i < plan.Count(); ++i) {
        const double level = plan.LevelAt(i);
        const SineComponent sine{plan.freqHz, std::pow(10.0, level / 20.0)};
        const std::vector<float> tone = SineLoop(std::span<const SineComponent>(&sine, 1), capture.OutputRate());
        if (const int status = capture.Run(tone, tone, plan.freqHz); status != 0) {
            return status;
        }
        const DistortionReading r = MeasureDistortion(capture.Channel(o.channel), params, capture.Session().Filter);
        sweep.Add(level, r);
        if (r.outcome != DistortionOutcome::Measured) {
            result.points.AddRow({ResultValue::Number(level, 2), ResultValue::Text(OutcomeText(r.outcome))});
            continue;
        }
        result.points.AddRow({ResultValue::Number(level, 2), ResultValue::Number(r.fundamentalDb, 2),
                              ResultValue::Number(r.thdnDb, 2), ResultValue::Number(r.thdDb, 2)});
    }
    const std::optional<double> maxLevel = sweep.MaxLevel();
    const ResultValue max = ResultValue::Number(maxLevel.value_or(std::nan("")), 2);
    result.AddReadingValue("", "max_level_dbfs", max);
    result.AddNotices("# max_level_dbfs " + max.Shown() + "\n" + BandNote(o.band, params) + capture.Notes());
    const std::string text = "# level_dbfs,read_dbfs,thdn_db,thd_db\n" + result.points.Text(",", "\n");
    const int status = PrintResult(ctx, o.result, result, text + result.NoticeLines());
    if (status == 1) {
        return status;
    }
    return sweep.Measured() > 0 ? status : ctx.Fail(1, "the input carried the tone at no level");
}

}  // namespace sonvera
