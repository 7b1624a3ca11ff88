// sonvera-cli sweep: one frequency sweep of the generator page without a window.
#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <thread>

#include "app/cli.h"
#include "app/clicapture.h"
#include "app/cliresult.h"
#include "app/clisession.h"
#include "app/modeldiagram.h"
#include "app/waitingport.h"
#include "config/profilevalues.h"
#include "diagram/diagrammodel.h"
#include "engine/soundengine.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"

namespace sonvera {

const char* const kSweepUsage =
    "Usage: sonvera-cli sweep [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC]\n"
    "         [--in-device N] [--out-device N] [--from HZ] [--to HZ] [--steps N] [--lin|--log]\n"
    "         [--ref|--stereo] [--phase] [--level DB] [--settle MS] [--lang D|E]\n"
    "         [--out FILE] [--sep SEP] [--png FILE]\n"
    "         [--json] [--limits FILE]\n"
    "Prints one line per step: frequency, then level ratio (dB) and phase (degrees) with\n"
    "reference, or the right and left input levels (dB) in stereo; then a '# ' line naming\n"
    "the steps whose block clipped. The end frequency must lie below half the output rate.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

/// The page without widgets: the queued step, the steps that clipped and, on a real
/// device, the settle wait.
class CliSweepPage : public SweepPageView {
public:
    /// `instantCard`: the virtual card on its instant clock, or nullptr for real devices.
    CliSweepPage(WaitingPort& port, LoopbackCard* instantCard, const SweepRun*& run)
        : port_(port), instant_(instantCard), run_(run)
    {
    }
    int queued = 0;
    std::string clipped;  // "1000 Hz (Over 12), ..."
    int clippedSteps = 0;
    void PostSweepStep() override { ++queued; }
    void SetOverloadLabel(const std::string& text) override
    {
        if (text.empty() || run_ == nullptr) {
            return;
        }
        clipped += (clippedSteps++ == 0 ? "" : ", ") + std::to_string(run_->SweepFrequency) + " Hz (" + text + ")";
    }
    bool SettleWait(int ms) override
    {
        if (instant_ != nullptr) {
            // The card's own time passes, so the device under test settles as it would.
            instant_->AdvanceInstantClock(ms);
            return true;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            port_.DrainMessages(10);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    WaitingPort& port_;
    LoopbackCard* instant_;
    const SweepRun*& run_;
};

struct SweepOptions {
    std::optional<int> inDevice, outDevice, from, to, steps, settle;
    std::optional<bool> linear, withRef;
    bool phase = false;
    bool distortion = false;
    std::optional<double> level;
    std::optional<std::string> out, sep, png;
    char lang = 0;
    ResultOptions result;
};

/// Takes one option of the command; returns "" or the error.
std::string ParseSweepOption(OptionCursor& cursor, SweepOptions& o)
{
    const std::string& name = cursor.Name();
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    auto integer = [&](std::optional<int>& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    if (name == "--lin" || name == "--log") {
        if (o.linear && *o.linear != (name == "--lin")) {
            return "--lin and --log exclude each other";
        }
        o.linear = name == "--lin";
    } else if (name == "--ref" || name == "--stereo") {
        if (o.withRef && *o.withRef != (name == "--ref")) {
            return "--ref and --stereo exclude each other";
        }
        o.withRef = name == "--ref";
    } else if (name == "--phase") {
        o.phase = true;
    } else if (name == "--distortion") {
        o.distortion = true;
    } else if (name == "--in-device") {
        return integer(o.inDevice, 0, 2);
    } else if (name == "--out-device") {
        return integer(o.outDevice, 0, 2);
    } else if (name == "--from") {
        return integer(o.from, 1, 55199);
    } else if (name == "--to") {
        return integer(o.to, 2, 55200);
    } else if (name == "--steps") {
        return integer(o.steps, 1, 1000);
    } else if (name == "--settle") {
        return integer(o.settle, 0, 100000);
    } else if (name == "--level") {
        const auto v = cursor.Take();
        const auto parsed = v ? ParseReal(*v) : std::nullopt;
        if (!parsed || *parsed > 0.0 || *parsed < -200.0) {
            return "--level needs a level in dB from -200 to 0";
        }
        o.level = *parsed;
    } else if (name == "--out" || name == "--sep" || name == "--png") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return name + " needs a value that is not empty";
        }
        (name == "--out" ? o.out : name == "--sep" ? o.sep : o.png) = *v;
    } else if (name == "--lang") {
        const auto v = cursor.Take();
        if (!v || (*v != "D" && *v != "E")) {
            return "--lang must be D or E";
        }
        o.lang = (*v)[0];
    } else {
        return "unknown option '" + cursor.Argument() + "'";
    }
    return "";
}

std::string CheckSweepOptions(const SweepOptions& o)
{
    if (o.from && o.to && *o.from >= *o.to) {
        return "--from must be below --to";
    }
    if (o.phase && o.withRef && !*o.withRef) {
        return "--phase needs the reference mode (not --stereo)";
    }
    return "";
}

/// Curve 2's column: the left level in stereo; with reference the phase, or the distortion
/// reading curve 2 shows.
ResultColumn SecondColumn(const SweepSettings& s)
{
    if (!s.SweepWithRef) {
        return {"left_db", "dB", true};
    }
    if (s.SweepCurve2 >= kSweepCurve2Thd) {
        return {kSweepDistortionNames[static_cast<std::size_t>(std::min(s.SweepCurve2, kSweepDistortionReadings) - 1)],
                "dB"};
    }
    return {"phase_deg", "deg"};
}

/// The points of a sweep that measured distortion: per stored step the diagram's values
/// (as its table shows them) and the six readings; the header names the columns.
void AddDistortionPoints(const SweepRun& run, const SweepSettings& s, ResultTable& table)
{
    const bool second = !s.SweepWithRef || s.SweepPhase;
    table.columns = {{"hz", "Hz"}, {s.SweepWithRef ? "ratio_db" : "right_db", "dB", true}};
    if (second) {
        table.columns.push_back(SecondColumn(s));
    }
    for (const char* name : kSweepDistortionNames) {
        table.columns.push_back({name, "dB"});
    }
    for (const SweepStepRecord& step : run.StoredSteps()) {
        const SweepPoint& p = step.point;
        if (!std::isfinite(p.v1) && !(second && std::isfinite(p.v2))) {
            continue;  // a step without a reference has no line, as in the diagram's table
        }
        std::vector<ResultValue> row{ResultValue::Number(step.freqHz, 2), ResultValue::Number(p.v1, 2)};
        if (second) {
            row.push_back(ResultValue::Number(p.v2, 2));
        }
        for (const float v : p.distortion) {
            row.push_back(ResultValue::Number(v, 2));
        }
        table.AddRow(row);
    }
}

/// The text of a sweep that measured distortion: a header naming the columns, then the rows.
std::string DistortionTable(const ResultTable& table, const std::string& separator)
{
    const std::string sep = separator == "\\t" ? "\t" : separator == "\\n" ? "\r\n" : separator;
    std::string text = "#";
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        text += (c == 0 ? " " : sep) + table.columns[c].name;
    }
    return text + "\r\n" + table.Text(sep, "\r\n");
}

/// The sweep's points as the diagram's text export holds them: the frequency, then the
/// measurement's curves (the level ratio and the phase with reference, the right and left
/// levels in stereo) and any overlay shown.
void AddSweepPoints(const DiagramModel& model, const SweepSettings& s, ResultTable& table)
{
    const ExportedTable exported = model.ExportTable();
    table.columns = {{"frequency_hz", "Hz"}};
    for (std::size_t c = 0; c < exported.curves.size(); ++c) {
        switch (exported.curves[c]) {
        case 1: table.columns.push_back(s.SweepWithRef ? ResultColumn{"level_db", "dB", true} : ResultColumn{"right_db", "dB", true}); break;
        case 2: table.columns.push_back(SecondColumn(s)); break;
        default: table.columns.push_back({exported.names[c], ""}); break;
        }
    }
    table.Reserve(exported.rows.size(), table.columns.size());
    for (std::size_t r = 0; r < exported.rows.size(); ++r) {
        std::vector<ResultValue> row{ResultValue::Number(exported.freqHz[r], 2)};
        for (const double v : exported.rows[r]) {
            row.push_back(ResultValue::Number(v, 2));
        }
        table.AddRow(row);
    }
}

}  // namespace

int RunSweepCommand(CliContext& ctx)
{
    SweepOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseSweepOption(c, o); }); status >= 0) {
        return status;
    }
    if (const std::string error = CheckSweepOptions(o); !error.empty()) {
        return ctx.Fail(2, error);
    }

    CliSession session(ctx);
    if (const int status = session.Start(); status != 0) {
        return status;
    }
    if (const int status = session.SelectDevices(o.inDevice, o.outDevice, true); status != 0) {
        return status;
    }
    SoundEngine& engine = session.Engine();
    Settings& settings = session.settings;
    SweepSettings& s = settings.Sweep;
    if (o.from) s.SweepFrom = *o.from;
    if (o.to) s.SweepTo = *o.to;
    if (o.steps) s.SweepSteps = *o.steps;
    if (o.linear) s.SweepLinear = *o.linear;
    if (o.withRef) s.SweepWithRef = *o.withRef;
    if (o.phase) {
        s.SweepPhase = true;
        s.SweepCurve2 = kSweepCurve2Phase;
    }
    if (!s.SweepWithRef) s.SweepPhase = false;
    if (o.level) s.SweepLevel = static_cast<float>(*o.level);
    if (o.settle) s.SweepSettleTime = *o.settle;
    // The virtual card's cable has no mixer behind it: it is swept at full volume.
    if (session.InstantClock()) {
        settings.Volume.GenOutVolume = 100;
    }

    // Everything is checked before anything is played or written.
    if (s.SweepFrom >= s.SweepTo) {
        return ctx.Fail(2, "the start frequency " + std::to_string(s.SweepFrom) + " Hz is not below the end " +
                               std::to_string(s.SweepTo) + " Hz");
    }
    int rateIn = 0, rateOut = 0, bitsIn = 0, bitsOut = 0;
    engine.GetSampleRates(rateIn, rateOut);
    engine.GetFormatBits(bitsIn, bitsOut);
    for (int step = 0; step <= s.SweepSteps; ++step) {
        const int freq = SweepStepFrequency(s, step);
        if (const std::string problem = ToneProblem(freq, rateOut, bitsOut == 24 ? 4 : bitsOut / 8);
            !problem.empty()) {
            return ctx.Fail(2, "step " + std::to_string(step + 1) + ": " + problem +
                                   (o.to ? "" : " (the end frequency is the configuration's; give --to)"));
        }
    }
    std::vector<std::string> outputs;
    for (const auto* target : {&o.out, &o.png}) {
        if (*target) {
            outputs.push_back(**target);
        }
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Curve, session.Inputs()); status != 0) {
        return status;
    }
    if (const int status = session.CheckOutputs(outputs); status != 0) {
        return status;
    }

    SweepModelDiagram diagram;
    diagram.model.Activate();
    const SweepRun* runShown = nullptr;
    CliSweepPage page(session.Port(), session.InstantCard(), runShown);
    SweepRun run(engine, settings, diagram, page, session.InCorrection, session.OutCorrection);
    runShown = &run;
    run.SetLanguage(o.lang != 0 ? o.lang : settings.Main.UiLanguage);
    run.MeasureDistortionEachStep = o.distortion;

    run.EnterGeneratorPage();
    run.wobbelnButClick();
    int status = 0;
    if (!run.SweepRunning) {
        status = ctx.Fail(1, "the sweep could not be started (is a signal playing?)");
    }
    while (status == 0 && (page.queued > 0 || run.SweepToneOn)) {
        if (page.queued > 0) {
            --page.queued;
            run.SweepStep();
            continue;
        }
        if (!session.Port().DeliverOne(std::chrono::seconds(10))) {
            run.STOPbutClick();
            status = ctx.Fail(1, "no block arrived from the input device within 10 s");
        }
    }
    engine.StopPlayback();
    if (status == 0 && session.ErrorPrompts() > 0) {
        status = 1;
    }
    if (status == 0 && run.PointsStored() == 0) {
        status = ctx.Fail(1, "the sweep ended without a point");
    }
    CliResult result("sweep");
    result.settings["rate_hz"] = rateIn;
    result.settings["bits"] = bitsIn;
    result.settings["from_hz"] = s.SweepFrom;
    result.settings["to_hz"] = s.SweepTo;
    result.settings["steps"] = s.SweepSteps;
    result.settings["spacing"] = s.SweepLinear ? "lin" : "log";
    result.settings["mode"] = s.SweepWithRef ? "ref" : "stereo";
    result.settings["phase"] = s.SweepPhase;
    result.settings["level_db"] = s.SweepLevel;
    result.settings["settle_ms"] = s.SweepSettleTime;
    result.settings["distortion"] = o.distortion;
    if (o.distortion) {
        AddDistortionPoints(run, s, result.points);
    } else {
        AddSweepPoints(diagram.model, s, result.points);
    }
    const std::string table = o.distortion ? DistortionTable(result.points, o.sep.value_or(","))
                                           : diagram.model.DiagramText(o.sep.value_or(","));
    std::string png, pngError;
    if (o.result.limitsPath) {
        // The picture shows the limits the points are checked against.
        const LimitCurves curves = o.result.limits.Sample(s.SweepFrom, s.SweepTo, 256);
        diagram.SetLimitCurves(&curves);
    }
    if (status == 0 && o.png) {
        png = DiagramPicture(diagram.model, pngError);
    }
    run.LeaveGeneratorPage();
    if (status != 0) {
        return status;
    }

    // The results: files first, each whole or not at all, then standard output.
    if (page.clippedSteps > 0) {
        result.notices.push_back("clipped at " + std::to_string(page.clippedSteps) + " of " +
                                 std::to_string(run.PointsStored()) + " steps: " + page.clipped);
    }
    // The sweep's notice (inputs without signal) follows as a comment line.
    if (!diagram.model.ResultLine().empty()) {
        result.notices.push_back(diagram.model.ResultLine());
    }
    if (o.out && ctx.WriteFile(*o.out, table) != 0) {
        return 1;
    }
    if (o.png && png.empty()) {
        return ctx.Fail(1, pngError);
    }
    if (o.png && ctx.WriteFile(*o.png, png) != 0) {
        return 1;
    }
    return PrintResult(ctx, o.result, result, (o.out ? std::string() : table) + result.NoticeLines());
}

}  // namespace sonvera
