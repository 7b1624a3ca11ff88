// sonvera-cli imd: the two-tone intermodulation of both channels (SMPTE, DIN, CCIF).
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/clicapture.h"
#include "config/profilevalues.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"

namespace sonvera {

const char* const kImdUsage =
    "Usage: sonvera-cli imd --standard smpte|din|ccif [--level DB] [--config FILE] [--audio ...] [--dut SPEC]\n"
    "         [--in-device N] [--out-device N] [--input FILE.wav [--skip SECONDS]] [--points 512|...|1048576]\n"
    "         [--window INDEX|NAME] [--average N] [--rate HZ] [--bits 8|16|24]\n"
    "         [--json] [--limits FILE]\n"
    "Plays the standard's two tones, their sum peaking at --level dB re full scale (-1 unless given):\n"
    "SMPTE 60 Hz + 7 kHz and DIN 250 Hz + 8 kHz at 4:1, CCIF 19 kHz + 20 kHz at 1:1; or analyses a wave\n"
    "file holding them. Prints per channel 'CHANNEL.KEY VALUE': SMPTE and DIN imd_db and imd_pct (the\n"
    "sidebands fH +- n*fL, n = 1..3, power-summed, over the upper tone); CCIF d2_db = A(f2-f1) /\n"
    "(A(f1) + A(f2)) and d3_db = (A(2f1-f2) + A(2f2-f1)) / (A(f1) + A(f2)). A channel without both\n"
    "tones prints 'CHANNEL.status' and why. Defaults: 65536 points, window Rife-Vinc3, 1 block.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

struct ImdOptions {
    CaptureOptions capture;
    ResultOptions result;
    std::optional<TwoToneTest> test;
    double levelDb = -1.0;
};

std::string ParseImdOption(OptionCursor& cursor, ImdOptions& o)
{
    if (auto shared = ParseCaptureOption(cursor, o.capture)) {
        return *shared;
    }
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    const std::string& name = cursor.Name();
    if (name == "--standard") {
        const auto v = cursor.Take();
        TwoToneTest test{};
        if (!v || !TwoToneTestFromName(*v, test)) {
            return "--standard must be smpte, din or ccif";
        }
        o.test = test;
        return "";
    }
    if (name == "--level") {
        return TakeLevelDb(cursor, o.levelDb);
    }
    return "unknown option '" + cursor.Argument() + "'";
}

void AddImdReadings(const std::string& channel, const ImdReading& r, TwoToneTest test, CliResult& result)
{
    if (r.outcome != DistortionOutcome::Measured) {
        result.AddReadingText(channel, "status", OutcomeText(r.outcome));
    } else if (test == TwoToneTest::Ccif) {
        result.AddReading(channel, "d2_db", r.d2Db, 2);
        result.AddReading(channel, "d3_db", r.d3Db, 2);
    } else {
        result.AddReading(channel, "imd_db", r.imdDb, 2);
        result.AddReading(channel, "imd_pct", r.imdPct, 6);
    }
}

}  // namespace

int RunImdCommand(CliContext& ctx)
{
    ImdOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseImdOption(c, o); }); status >= 0) {
        return status;
    }
    if (!o.test) {
        return ctx.Fail(2, "--standard is required (smpte, din or ccif)");
    }
    if (const std::string error = CheckCaptureOptions(o.capture, false); !error.empty()) {
        return ctx.Fail(2, error);
    }
    const bool plays = !o.capture.input;
    o.capture.MeasurementDefaults(1);

    CliCapture capture(ctx);
    if (const int status = capture.Open(o.capture, plays); status != 0) {
        return status;
    }
    if (const int status = capture.CheckFileLength(capture.Config().Fft.FftAverage); status != 0) {
        return status;
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Readings, capture.Session().Inputs()); status != 0) {
        return status;
    }
    const std::vector<SineComponent> tones = TwoTones(*o.test, o.levelDb);
    std::vector<float> signal;
    if (plays) {
        for (const SineComponent& tone : tones) {
            if (const std::string problem = capture.ToneProblemOf(tone.frequencyHz); !problem.empty()) {
                return ctx.Fail(2, "--standard: " + problem);
            }
        }
        signal = SineLoop(tones, capture.OutputRate());
    }
    if (const int status = capture.Run(signal, signal); status != 0) {
        return status;
    }
    const DistortionParams params = ReadingParams(capture, BandOptions{});
    const ImdReading left = MeasureImd(capture.Channel(0), params, *o.test);
    const ImdReading right = MeasureImd(capture.Channel(1), params, *o.test);
    CliResult result("imd");
    CaptureSettings(capture, result);
    result.settings["standard"] = *o.test == TwoToneTest::Smpte ? "smpte" : *o.test == TwoToneTest::Din ? "din" : "ccif";
    result.settings["level_db"] = plays ? nlohmann::ordered_json(o.levelDb) : nlohmann::ordered_json();
    AddImdReadings("left", left, *o.test, result);
    AddImdReadings("right", right, *o.test, result);
    result.AddNotices(capture.Notes());
    const int status = PrintResult(ctx, o.result, result, result.ReadingLines() + result.NoticeLines());
    if (status == 1) {
        return status;
    }
    if (left.outcome != DistortionOutcome::Measured && right.outcome != DistortionOutcome::Measured) {
        return ctx.Fail(1, "neither channel holds the two tones to measure");
    }
    return status;
}

}  // namespace sonvera
