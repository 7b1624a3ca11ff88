// sonvera-cli spectrum: one spectrum run of the analyser without a window.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/cli.h"
#include "app/clicapture.h"
#include "app/clisession.h"
#include "app/waitingport.h"
#include "config/numberformat.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "diagram/diagrammodel.h"
#include "dsp/generator.h"
#include "dsp/window.h"
#include "engine/soundengine.h"
#include "measure/spectrumrun.h"
#include "platform/loopbackcard.h"
#include "platform/wavefileinput.h"

namespace sonvera {

const char* const kSpectrumUsage =
    "Usage: sonvera-cli spectrum [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC]\n"
    "         [--in-device N] [--out-device N] [--points 512|1024|...|1048576] [--window INDEX|NAME]\n"
    "         [--average N] [--rate 8000..192000] [--bits 8|16|24] [--tone FREQ[:LEVELDB]]\n"
    "         [--input FILE.wav [--skip SECONDS]] [--thd | --level]\n"
    "         [--filter NAME] [--fmin HZ] [--fmax HZ] [--lang D|E] [--out FILE] [--sep SEP] [--png FILE]\n"
    "         [--json] [--limits FILE]\n"
    "Prints one line per bin from 0 Hz (frequency, left and right level in dB), then '# ' lines: clipping\n"
    "('Over n') and the result line. --input analyses a wave file at its own rate and depth,\n"
    "--skip starting that many seconds into it.\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

namespace {

struct SpectrumOptions {
    CaptureOptions capture;
    ResultOptions result;
    std::optional<int> fmin, fmax;
    std::optional<int> toneHz;
    int toneDb = 0;
    bool thd = false, level = false;
    std::optional<std::string> filter, out, sep, png;
    char lang = 0;
};

/// Takes one option of the command; returns "" or the error.
std::string ParseSpectrumOption(OptionCursor& cursor, SpectrumOptions& o)
{
    const std::string& name = cursor.Name();
    auto integer = [&](std::optional<int>& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    if (auto shared = ParseCaptureOption(cursor, o.capture)) {
        return *shared;
    }
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    if (name == "--thd") {
        o.thd = true;
    } else if (name == "--level") {
        o.level = true;
    } else if (name == "--fmin") {
        return integer(o.fmin, 0, 200000);
    } else if (name == "--fmax") {
        return integer(o.fmax, 1, 200000);
    } else if (name == "--tone") {
        int hz = 0;
        const std::string error = ParseToneValue(cursor.Take(), hz, o.toneDb);
        if (!error.empty()) {
            return error;
        }
        o.toneHz = hz;
    } else if (name == "--filter" || name == "--out" || name == "--sep" || name == "--png") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return name + " needs a value that is not empty";
        }
        (name == "--filter" ? o.filter
         : name == "--out"  ? o.out
         : name == "--sep"  ? o.sep
                            : o.png) = *v;
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

/// The names --filter takes: every built-in weighting, and "USER" (the user weighting
/// of the configuration).
bool IsFilterName(const std::string& name)
{
    if (name == kUserFilterName) {
        return true;
    }
    for (const Weighting& w : Weightings()) {
        if (w.name == name) {
            return true;
        }
    }
    return false;
}

std::string FilterNames()
{
    std::string list;
    for (const Weighting& w : Weightings()) {
        list += "\"" + std::string(w.name) + "\", ";
    }
    return list + "\"" + std::string(kUserFilterName) + "\"";
}

std::string CheckSpectrumOptions(const SpectrumOptions& o)
{
    if (o.filter && !IsFilterName(*o.filter)) {
        return "--filter needs the name of a weighting (exactly): " + FilterNames();
    }
    if (o.thd && o.level) {
        return "--thd and --level exclude each other";
    }
    if (const std::string error = CheckCaptureOptions(o.capture, o.toneHz.has_value()); !error.empty()) {
        return error;
    }
    if (o.fmin && o.fmax && *o.fmin >= *o.fmax) {
        return "--fmin must be below --fmax";
    }
    return "";
}

/// Every bin of the spectrum the run stored, 0 Hz up to the last below half the rate,
/// whatever frequency range the diagram shows: the frequency and both levels.
void AddBins(const DiagramModel& model, int bins, ResultTable& table)
{
    table.columns = {{"frequency_hz", "Hz"}, {"left_db", "dB", true}, {"right_db", "dB", true}};
    const auto count = static_cast<std::size_t>(std::clamp(bins, 0, model.Capacity()));
    table.Reserve(count, 3);
    for (std::size_t i = 0; i < count; ++i) {
        table.AddRow({ResultValue::Number(model.FreqArray[i], 2), ResultValue::Number(model.Curve1Array[i], 2),
                              ResultValue::Number(model.Curve2Array[i], 2)});
    }
}

}  // namespace

int RunSpectrumCommand(CliContext& ctx)
{
    SpectrumOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseSpectrumOption(c, o); });
        status >= 0) {
        return status;
    }
    if (const std::string error = CheckSpectrumOptions(o); !error.empty()) {
        return ctx.Fail(2, error);
    }

    CliCapture capture(ctx);
    if (const int status = capture.Open(o.capture, o.toneHz.has_value()); status != 0) {
        return status;
    }
    CliSession& session = capture.Session();
    SoundEngine& engine = session.Engine();
    FileInputCard* fileCard = capture.File();

    Settings& settings = session.settings;
    FftSettings& fft = settings.Fft;
    if (o.fmin) settings.Analysis.AnaFreqLow = *o.fmin;
    if (o.fmax) settings.Analysis.AnaFreqHigh = *o.fmax;
    if (o.thd || o.level) {
        settings.Analysis.ThdMeasure = o.thd;
        settings.Analysis.NoiseMeasure = o.level;
    }
    // The result line names the weighting applied: a user weighting must have loaded.
    if (o.filter && *o.filter == kUserFilterName && session.Filter.AnaFilterName != kUserFilterName) {
        return ctx.Fail(1, "the configuration holds no user weighting that can be loaded (ANALYSE/FILTER=USER "
                           "with its FILTERFILE)");
    }
    if (o.filter && *o.filter != kUserFilterName) {
        session.Filter.SelectFilter(*o.filter);
    }

    // Everything is checked before anything is measured or written.
    if (const int status = capture.CheckFileLength(fft.FftAverage); status != 0) {
        return status;
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Curve, session.Inputs()); status != 0) {
        return status;
    }
    if (o.toneHz) {
        if (const std::string problem = capture.ToneProblemOf(*o.toneHz); !problem.empty()) {
            return ctx.Fail(2, "--tone: " + problem);
        }
    }
    std::vector<std::string> outputs;
    for (const auto* target : {&o.out, &o.png}) {
        if (*target) {
            outputs.push_back(**target);
        }
    }
    if (const int status = session.CheckOutputs(outputs); status != 0) {
        return status;
    }

    ModelDiagram diagram;
    diagram.model.Activate();
    CliPage page;
    page.average = fft.FftAverage;
    SpectrumRun run(engine, settings, diagram, page, session.Filter, session.InCorrection);
    run.SetLanguage(o.lang != 0 ? o.lang : settings.Main.UiLanguage);

    StartSignal play;
    if (o.toneHz) {
        // Whole periods looped: a tone whose period does not fit the generator's one
        // buffer (997 Hz at 48 kHz repeats only after 48000 frames) would jump in phase
        // at every join and read its own loop as distortion.
        int rateIn = 0, rateOut = 0;
        engine.GetSampleRates(rateIn, rateOut);
        const SineComponent sine{*o.toneHz, Generator::LevelAmplitude(o.toneDb)};
        const std::vector<float> tone = SineLoop(std::span<const SineComponent>(&sine, 1), rateOut);
        play = [tone, hz = *o.toneHz](SoundEngine& e) { return e.StartLoopedSignal(tone, tone, hz); };
    }
    int status = DriveSpectrumRun(ctx, session, run, page, play);
    if (status == 0 && fileCard != nullptr && !fileCard->input.ReadError().empty()) {
        status = ctx.Fail(1, fileCard->input.ReadError());
    }
    if (status != 0) {
        run.LeaveSpectrumPage();
        return status;
    }

    // The results: files first, each whole or not at all, then standard output. The bins
    // are written in the form of the diagram's text export (two decimals, CR LF).
    CliResult result("spectrum");
    CaptureSettings(capture, result);
    result.settings["filter"] = session.Filter.AnaFilterName;
    result.settings["fmin_hz"] = settings.Analysis.AnaFreqLow;
    result.settings["fmax_hz"] = settings.Analysis.AnaFreqHigh;
    result.settings["reading"] = settings.Analysis.ThdMeasure ? "thd" : settings.Analysis.NoiseMeasure ? "level" : "none";
    result.settings["tone_hz"] = o.toneHz ? nlohmann::ordered_json(*o.toneHz) : nlohmann::ordered_json();
    result.settings["tone_db"] = o.toneHz ? nlohmann::ordered_json(o.toneDb) : nlohmann::ordered_json();
    AddBins(diagram.model, fft.FftPoints / 2, result.points);
    const std::string separator = o.sep.value_or(",");
    const std::string table =
        result.points.Text(separator == "\\t" ? "\t" : separator == "\\n" ? "\r\n" : separator, "\r\n");
    std::string png, pngError;
    if (o.png) {
        png = DiagramPicture(diagram.model, pngError);
    }
    run.LeaveSpectrumPage();
    std::string notes = page.OverloadNote();
    if (engine.DroppedBlocks() > 0) {
        notes += "# dropped " + std::to_string(engine.DroppedBlocks()) + " blocks with gaps (recorded again)\n";
    }
    notes += "# " + diagram.model.ResultLine() + "\n";
    result.AddNotices(notes);
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
