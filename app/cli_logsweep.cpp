// sonvera-cli logsweep: one exponential sine sweep, deconvolved, without a window.
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/cliresult.h"
#include "app/clisession.h"
#include "app/outputfile.h"
#include "app/modeldiagram.h"
#include "app/waitingport.h"
#include "config/profilevalues.h"
#include "diagram/diagrammodel.h"
#include "engine/soundengine.h"
#include "measure/logsweepfile.h"
#include "measure/logsweeprun.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "platform/wavefileinput.h"

namespace sonvera {

const char* const kLogSweepUsage =
    "Usage: sonvera-cli [--config FILE] [--audio virtual|portaudio|jack|auto] [--dut SPEC] logsweep\n"
    "         [--in-device N] [--out-device N] [--from HZ] [--to HZ] [--seconds S] [--level DB]\n"
    "         [--rate HZ] [--bits 8|16|24] [--ref|--stereo] [--points-per-octave N] [--out FILE]\n"
    "         [--sep SEP] [--ir-out FILE.wav] [--png FILE]\n"
    "         [--json] [--limits FILE]\n"
    "       sonvera-cli [--config FILE] logsweep --input REC.wav [--from HZ] [--to HZ] [--seconds S]\n"
    "         [--level DB] [--ref|--stereo|--mono] [--points-per-octave N] [--out FILE] [--sep SEP]\n"
    "         [--ir-out FILE.wav] [--png FILE]\n"
    "Plays one exponential sine sweep and records both inputs; prints '# ' lines (settings,\n"
    "delay, window, band), then one line per frequency: frequency, level dB, phase degrees,\n"
    "H2, H3, H4, H5 and THD in dB relative to the fundamental ('nan' where a harmonic lies\n"
    "above the band). With --stereo each input is measured against the played sweep: the\n"
    "right input's columns, then the left input's (level, phase, H2 .. H5, THD).\n"
    "--input analyses a recording of the file 'generate --wave logsweep' wrote (the same\n"
    "--from, --to, --seconds and --level) at the recording's rate: found by its timing markers,\n"
    "both channels against the sweep (--stereo, the default), the left one (--mono, always for\n"
    "a file whose channels are equal) or the right against the left (--ref).\n"
    "--json prints one JSON document in place of the text; --limits FILE checks the results against\n"
    "the file's limits and adds '# limits: PASS' or '# limits: FAIL n of m points' (exit status 3 on FAIL).\n";

/// The text of a parameter error, naming the option.
std::string LogSweepParamMessage(LogSweepParamError e, const LogSweepParams& p)
{
    switch (e) {
    case LogSweepParamError::None: return "";
    case LogSweepParamError::FromTooLow: return "--from must be at least 1 Hz";
    case LogSweepParamError::FromNotBelowTo: return "--from must be below --to";
    case LogSweepParamError::ToAboveHalfRate:
        return "--to " + FormatReal(p.toHz, 0) + " Hz lies above half the rate (" + std::to_string(p.rateHz / 2) +
               " Hz)";
    case LogSweepParamError::SecondsOutOfRange: return "--seconds must lie between 0.5 and 60";
    case LogSweepParamError::LevelAboveZero: return "--level must not lie above 0 dB";
    case LogSweepParamError::RateOutOfRange: return "--rate must lie between 8000 and 192000 Hz";
    case LogSweepParamError::FromAboveRateShare:
        return "--from " + FormatReal(p.fromHz, 0) + " Hz must lie below " + FormatReal(kLogSweepMaxFromShareOfRate, 2) +
               " of the rate (" + FormatReal(kLogSweepMaxFromShareOfRate * p.rateHz, 0) + " Hz at " +
               std::to_string(p.rateHz) + " Hz)";
    case LogSweepParamError::BandTooNarrow: {
        // Near half the rate the sweep ends the band below --to: say where.
        const double top = DesignLogSweep(p).BandTopHz();
        return "the band is too narrow: it must reach " + FormatReal(kLogSweepMinBandRatio, 1) +
               " times --from (" + FormatReal(kLogSweepMinBandRatio * p.fromHz, 2) + " Hz), but ends at " +
               FormatReal(top, 2) + " Hz" + (top < p.toHz ? " at " + std::to_string(p.rateHz) + " Hz" : std::string());
    }
    }
    return "";
}


namespace {

struct LogSweepOptions {
    std::optional<int> inDevice, outDevice, rate, bits, points;
    std::optional<double> from, to, seconds, level;
    std::optional<bool> withRef;
    bool mono = false;
    std::optional<std::string> out, sep, irOut, png, input;
    ResultOptions result;
};

/// Takes one option of the command; returns "" or the error.
std::string ParseLogSweepOption(OptionCursor& cursor, LogSweepOptions& o)
{
    const std::string& name = cursor.Name();
    if (auto result = ParseResultOption(cursor, o.result, true)) {
        return *result;
    }
    auto integer = [&](std::optional<int>& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    auto real = [&](std::optional<double>& target, const char* what) -> std::string {
        const auto v = cursor.Take();
        const auto x = v ? ParseReal(*v) : std::nullopt;
        if (!x) {
            return name + " needs " + what;
        }
        target = *x;
        return "";
    };
    if (name == "--ref" || name == "--stereo") {
        if ((o.withRef && *o.withRef != (name == "--ref")) || o.mono) {
            return o.mono ? "--mono, --ref and --stereo exclude each other" : "--ref and --stereo exclude each other";
        }
        o.withRef = name == "--ref";
    } else if (name == "--mono") {
        if (o.withRef) {
            return "--mono, --ref and --stereo exclude each other";
        }
        o.mono = true;
    } else if (name == "--in-device") {
        return integer(o.inDevice, 0, 2);
    } else if (name == "--out-device") {
        return integer(o.outDevice, 0, 2);
    } else if (name == "--rate") {
        return integer(o.rate, kLogSweepMinRateHz, kLogSweepMaxRateHz);
    } else if (name == "--bits") {
        const std::string error = integer(o.bits, 8, 24);
        if (error.empty() && *o.bits != 8 && *o.bits != 16 && *o.bits != 24) {
            return "--bits must be 8, 16 or 24";
        }
        return error;
    } else if (name == "--points-per-octave") {
        return integer(o.points, 1, kLogSweepMaxPointsPerOctave);
    } else if (name == "--from") {
        return real(o.from, "a frequency in Hz");
    } else if (name == "--to") {
        return real(o.to, "a frequency in Hz");
    } else if (name == "--seconds") {
        return real(o.seconds, "a duration in seconds");
    } else if (name == "--level") {
        return real(o.level, "a level in dB");
    } else if (name == "--out" || name == "--sep" || name == "--ir-out" || name == "--png" || name == "--input") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return name + " needs a value that is not empty";
        }
        (name == "--out"     ? o.out
         : name == "--sep"   ? o.sep
         : name == "--png"   ? o.png
         : name == "--input" ? o.input
                             : o.irOut) = *v;
    } else {
        return "unknown option '" + cursor.Argument() + "'";
    }
    return "";
}

std::string Number(double v, int decimals)
{
    return std::isfinite(v) ? FormatReal(v, decimals) : std::string("nan");
}

/// The run's result: its settings, the '# ' lines and the points.
CliResult ResultOf(const LogSweepRun& run, const LogSweepSettings& s, int bits, const std::string& recordingLines = {},
                   bool mono = false)
{
    const LogSweepResult& r = run.Result();
    const double rate = r.rateHz;
    CliResult result("logsweep");
    const char* mode = mono ? "mono" : r.mode == LogSweepMode::Reference ? "with reference" : "stereo";
    result.settings["rate_hz"] = r.rateHz;
    result.settings["bits"] = bits;
    result.settings["from_hz"] = s.LogSweepFrom;
    result.settings["to_hz"] = s.LogSweepTo;
    result.settings["seconds"] = s.LogSweepSeconds;
    result.settings["level_db"] = s.LogSweepLevel;
    result.settings["mode"] = mono ? "mono" : r.mode == LogSweepMode::Reference ? "ref" : "stereo";
    result.settings["points_per_octave"] = s.LogSweepPointsPerOctave;
    result.AddReading("", "delay_samples", r.DelaySamples(), 1);
    if (r.mode == LogSweepMode::Stereo) {
        result.AddReading("right", "delay_samples", r.right.delaySamples, 1);
        result.AddReading("left", "delay_samples", r.left.delaySamples, 1);
    }

    std::ostringstream text;
    text << "# logsweep from " << Number(s.LogSweepFrom, 2) << " Hz to " << Number(s.LogSweepTo, 2) << " Hz, "
         << Number(s.LogSweepSeconds, 2) << " s, " << Number(s.LogSweepLevel, 1) << " dB, " << r.rateHz << " Hz, "
         << mode << ", " << s.LogSweepPointsPerOctave << " points per octave\n";
    text << "# delay " << Number(r.DelaySamples(), 1) << " samples " << Number(1000.0 * r.DelaySamples() / rate, 3)
         << " ms\n";
    auto window = [&](const LogSweepChannel& c) {
        text << Number(1000.0 * static_cast<double>(c.windowFrames) / rate, 1) << " ms, " << c.windowFrames
             << " samples from lag " << c.windowStart << "\n";
    };
    text << "# window ";
    window(r.right);
    if (r.mode == LogSweepMode::Stereo) {
        text << "# window left ";
        window(r.left);
        text << "# latency right " << Number(r.right.delaySamples, 1) << " samples, left "
             << Number(r.left.delaySamples, 1) << " samples\n";
    }
    text << "# band " << Number(r.bandLowHz, 0) << " Hz to " << Number(r.bandHighHz, 0) << " Hz\n";
    if (run.Overloads() > 0) {
        text << "# overload " << run.Overloads() << " samples\n";
    }
    if (run.SweptAgain() > 0) {
        text << "# dropped " << run.SweptAgain() << " sweeps with gaps (swept again)\n";
    }
    text << recordingLines;
    result.AddNotices(text.str());

    ResultTable& table = result.points;
    table.columns = {{"frequency_hz", "Hz"}};
    std::vector<const LogSweepChannel*> channels{&r.right};
    if (r.mode == LogSweepMode::Stereo) {
        channels.push_back(&r.left);
    }
    for (const LogSweepChannel* c : channels) {
        const std::string prefix = r.mode != LogSweepMode::Stereo ? "" : c == &r.right ? "right_" : "left_";
        table.columns.push_back({prefix + "level_db", "dB", true});
        table.columns.push_back({prefix + "phase_deg", "deg"});
        for (std::size_t h = 0; h < c->harmonicDb.size(); ++h) {
            table.columns.push_back({prefix + "h" + std::to_string(h + 2) + "_db", "dB"});
        }
        table.columns.push_back({prefix + "thd_db", "dB"});
    }
    std::vector<ResultValue> row;
    for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
        row.assign(1, ResultValue::Number(r.freqHz[i], 2));
        for (const LogSweepChannel* c : channels) {
            row.push_back(ResultValue::Number(c->levelDb[i], 2));
            row.push_back(ResultValue::Number(WrapDegrees(c->phaseDeg[i]), 2));
            for (const auto& h : c->harmonicDb) {
                row.push_back(ResultValue::Number(h[i], 2));
            }
            row.push_back(ResultValue::Number(c->thdDb[i], 2));
        }
        table.AddRow(row);
    }
    return result;
}

/// The '# ' lines, then the table.
std::string TextOf(const CliResult& result, const std::string& sep)
{
    return result.NoticeLines() + result.points.Text(sep, "\n");
}

/// Writes the windowed linear impulse response(s) as 32-bit float to `path`, whole or
/// not at all, from the window's first lag on: one channel, or (stereo) left and right
/// from the earlier of their starts. "" or the reason it failed.
std::string WriteImpulse(const LogSweepResult& r, const std::string& path)
{
    std::vector<const LogSweepChannel*> channels{&r.right};
    if (r.mode == LogSweepMode::Stereo) {
        channels = {&r.left, &r.right};
    }
    long firstLag = channels.front()->windowStart;
    long lastLag = firstLag;
    for (const LogSweepChannel* c : channels) {
        firstLag = std::min(firstLag, c->windowStart);
        lastLag = std::max(lastLag, c->windowStart + static_cast<long>(c->impulse.size()));
    }
    const auto frames = static_cast<std::size_t>(lastLag - firstLag);
    std::vector<float> data(frames * channels.size(), 0.0f);
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const auto offset = static_cast<std::size_t>(channels[c]->windowStart - firstLag);
        for (std::size_t i = 0; i < channels[c]->impulse.size(); ++i) {
            data[(offset + i) * channels.size() + c] = channels[c]->impulse[i];
        }
    }
    return WriteWaveFile(path, data.data(), frames, static_cast<int>(channels.size()), r.rateHz,
                         SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

/// The options that set the sweep's values into the settings.
void ApplyOptions(const LogSweepOptions& o, LogSweepSettings& s)
{
    if (o.from) s.LogSweepFrom = *o.from;
    if (o.to) s.LogSweepTo = *o.to;
    if (o.seconds) s.LogSweepSeconds = *o.seconds;
    if (o.level) s.LogSweepLevel = *o.level;
    if (o.points) s.LogSweepPointsPerOctave = *o.points;
}

/// The outputs checked before anything is measured: 0 or the status.
int CheckOutputsOf(CliSession& session, const LogSweepOptions& o)
{
    std::vector<std::string> outputs;
    for (const auto* target : {&o.out, &o.png}) {
        if (*target) {
            outputs.push_back(**target);
        }
    }
    const std::vector<std::string> waveFiles = o.irOut ? std::vector<std::string>{*o.irOut} : std::vector<std::string>{};
    return session.CheckOutputs(outputs, waveFiles);
}

/// Writes the table (standard output or --out), the impulse response and the picture.
int WriteResults(CliContext& ctx, const LogSweepOptions& o, const CliResult& result, const LogSweepRun& run,
                 SweepModelDiagram& diagram)
{
    const std::string table = TextOf(result, o.sep.value_or(","));
    // Files first, each whole or not at all, then standard output.
    if (o.out && ctx.WriteFile(*o.out, table) != 0) {
        return 1;
    }
    if (o.irOut) {
        if (const std::string error = WriteImpulse(run.Result(), *o.irOut); !error.empty()) {
            return ctx.Fail(1, error);
        }
    }
    if (o.png) {
        std::string pngError;
        const std::string png = DiagramPicture(diagram.model, pngError);
        if (png.empty()) {
            return ctx.Fail(1, pngError);
        }
        if (ctx.WriteFile(*o.png, png) != 0) {
            return 1;
        }
    }
    return PrintResult(ctx, o.result, result, o.out ? std::string() : table);
}

/// Why a recording was not analysed, naming what is missing; the status is 2 for values.
int RecordingFailure(CliContext& ctx, const LogSweepFileOutcome& r, const std::string& path)
{
    switch (r.problem) {
    case LogSweepFileProblem::None: return 0;
    case LogSweepFileProblem::FileUnreadable: return ctx.Fail(1, path + ": " + r.fileError);
    case LogSweepFileProblem::BadParams:
        if (r.paramError == LogSweepParamError::RateOutOfRange) {
            return ctx.Fail(1, path + " is recorded at " + std::to_string(r.fileRateHz) +
                                   " Hz: the log sweep needs 8000 to 192000 Hz");
        }
        return ctx.Fail(2, LogSweepParamMessage(r.paramError, r.design.params) + ", at the recording's rate");
    case LogSweepFileProblem::NoMarker:
        return ctx.Fail(1, path + " holds no timing marker: record the file 'generate --wave logsweep' writes, "
                               "or give --ref when its left channel carries the played sweep");
    case LogSweepFileProblem::OneMarker:
        return ctx.Fail(1, path + " holds one timing marker but not the second one "
                               "0.5 s after it: the recording starts too late or is not of the sweep file");
    case LogSweepFileProblem::RateMismatch:
        return ctx.Fail(1, path + ": its timing markers show a rate of " + FormatReal(r.recorderRateHz, 1) +
                               " Hz, the file says " + std::to_string(r.fileRateHz) +
                               " Hz (more than 1 % apart): record at the sweep file's rate");
    case LogSweepFileProblem::SweepCut:
        return ctx.Fail(1, path + " ends " + FormatReal(r.missingSeconds, 2) +
                               " s before the sweep does: the recording stopped early, or --seconds, --from "
                               "or --to differ from the sweep file's");
    case LogSweepFileProblem::NoSignalLeft:
        return ctx.Fail(1, path + ": no sweep in the left channel (or --seconds, --from, --to differ from the "
                               "sweep file's)");
    case LogSweepFileProblem::NoSignalRight:
        return ctx.Fail(1, path + ": no sweep in the right channel (or --seconds, --from, --to differ from the "
                               "sweep file's)");
    case LogSweepFileProblem::NoMemory: return ctx.Fail(1, "not enough memory for the analysis of " + path);
    }
    return 1;
}

/// logsweep --input: a recording of the sweep file, analysed as a played sweep.
int RunRecording(CliContext& ctx, LogSweepOptions& o)
{
    if (o.inDevice || o.outDevice || o.rate || o.bits) {
        return ctx.Fail(2, "--input takes the place of the devices at the recording's rate and depth: no "
                           "--in-device, --out-device, --rate or --bits");
    }
    CliSession session(ctx);
    if (const int status = session.Start(std::make_unique<LoopbackCard>(DutConfig{}, LoopbackClock::Instant));
        status != 0) {
        return status;
    }
    session.Inputs().Add(*o.input);
    LogSweepSettings& s = session.settings.LogSweep;
    ApplyOptions(o, s);
    const LogSweepInputMode mode = o.mono                  ? LogSweepInputMode::Mono
                                   : o.withRef.value_or(false) ? LogSweepInputMode::Reference
                                                               : LogSweepInputMode::Stereo;
    // Values that are wrong at any rate are refused before the file is read.
    LogSweepParams params = LogSweepParamsFrom(s, 48000);
    if (const LogSweepParamError e = CheckLogSweepParams(params);
        e != LogSweepParamError::None && e != LogSweepParamError::ToAboveHalfRate &&
        e != LogSweepParamError::FromAboveRateShare && e != LogSweepParamError::BandTooNarrow) {
        return ctx.Fail(2, LogSweepParamMessage(e, params));
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Curve, session.Inputs()); status != 0) {
        return status;
    }
    if (const int status = CheckOutputsOf(session, o); status != 0) {
        return status;
    }
    WaveFileInput wave;
    const int bits = wave.Open(*o.input).empty() ? wave.Bits() : 0;

    const int points = std::clamp(s.LogSweepPointsPerOctave, 1, kLogSweepMaxPointsPerOctave);
    LogSweepFileOutcome outcome = AnalyseLogSweepFile(*o.input, LogSweepParamsFrom(s, 0), mode, points);
    if (outcome.problem != LogSweepFileProblem::None) {
        return RecordingFailure(ctx, outcome, *o.input);
    }
    const bool mono = outcome.mode == LogSweepInputMode::Mono;
    std::ostringstream lines;
    lines << "# recording " << *o.input << ", ";
    if (outcome.markersFound) {
        lines << "timing marker at frame " << Number(outcome.markerFrame, 2) << ", sweep " << outcome.offsetFrames
              << " frames after the file's, recorder rate " << Number(outcome.recorderRateHz, 2) << " Hz"
              << (outcome.rateCorrected ? ", corrected to the file's" : "") << "\n";
    } else {
        lines << "no timing marker: the sweep taken from the recording's start\n";
    }

    SweepModelDiagram diagram;
    diagram.model.Activate();
    LogSweepView view;
    LogSweepRun run(session.Engine(), s, diagram, view);
    run.SetLanguage('E');
    if (!run.ShowRecording(std::move(outcome))) {
        return 1;  // the box has said why
    }
    CliResult result = ResultOf(run, s, bits, lines.str(), mono);
    result.settings["input"] = *o.input;
    return WriteResults(ctx, o, result, run, diagram);
}

}  // namespace

int RunLogSweepCommand(CliContext& ctx)
{
    LogSweepOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseLogSweepOption(c, o); }); status >= 0) {
        return status;
    }
    if (o.input) {
        return RunRecording(ctx, o);
    }
    if (o.mono) {
        return ctx.Fail(2, "--mono needs --input: a played sweep records both inputs");
    }
    CliSession session(ctx);
    if (const int status = session.Start(); status != 0) {
        return status;
    }
    if (const int status = session.SelectDevices(o.inDevice, o.outDevice, true); status != 0) {
        return status;
    }
    SoundEngine& engine = session.Engine();
    LogSweepSettings& s = session.settings.LogSweep;
    ApplyOptions(o, s);
    if (o.withRef) s.LogSweepWithRef = *o.withRef;

    // Everything is checked before anything is played or written.
    int rateIn = 0, rateOut = 0;
    engine.GetSampleRates(rateIn, rateOut);
    const int rate = o.rate.value_or(rateOut);
    const LogSweepParams params = LogSweepParamsFrom(s, rate);
    if (const LogSweepParamError e = CheckLogSweepParams(params); e != LogSweepParamError::None) {
        return ctx.Fail(2, LogSweepParamMessage(e, params));
    }
    if (const int status = LoadLimits(ctx, o.result, LimitsUse::Curve, session.Inputs()); status != 0) {
        return status;
    }
    if (const int status = CheckOutputsOf(session, o); status != 0) {
        return status;
    }
    engine.SetSampleRates(rate, rate);
    if (o.bits) {
        engine.SetFormatBits(*o.bits, *o.bits);
    }
    // The virtual card's cable has no mixer behind it: it is swept at full volume.
    if (session.InstantClock()) {
        engine.SetOutputVolume(100);
    }

    SweepModelDiagram diagram;
    diagram.model.Activate();
    LogSweepView view;
    LogSweepRun run(engine, s, diagram, view);
    run.SetLanguage('E');
    if (!run.Start()) {
        return 1;  // the box has said why
    }
    const auto limit = std::chrono::seconds(static_cast<int>(std::ceil(run.RecordingSeconds())) + 20);
    // A recording that lost frames is swept again: each sweep's completion is waited for.
    while (run.Running()) {
        if (!session.Port().DeliverOne(limit)) {
            run.Stop();
            return ctx.Fail(1, "the recording did not come back within " + std::to_string(limit.count()) + " s");
        }
    }
    if (!run.HasResult()) {
        return 1;  // the box has said why
    }

    int bitsIn = 0, bitsOut = 0;
    engine.GetFormatBits(bitsIn, bitsOut);
    return WriteResults(ctx, o, ResultOf(run, s, bitsIn), run, diagram);
}

}  // namespace sonvera
