// sonvera-cli scope: records one block as the oscilloscope does and writes its points as
// text (time in seconds, channel 1 and channel 2 in divisions) and the view as a PNG.
#include <QApplication>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>

#include "app/cli.h"
#include "app/cliresult.h"
#include "app/clisession.h"
#include "app/waitingport.h"
#include "config/numberformat.h"
#include "engine/soundengine.h"
#include "measure/scoperun.h"
#include "scope/oszidia.h"
#include "scope/scopemodel.h"

namespace sonvera {

const char* const kScopeUsage =
    "Usage: sonvera-cli [--config FILE] [--audio ...] [--dut SPEC] scope [--timebase 1..8]\n"
    "         [--div1 1..14] [--div2 1..14] [--trigger ch1|ch2] [--slope rising|falling]\n"
    "         [--trigger-level DIV] [--gnd1] [--gnd2] [--tone FREQ[:LEVELDB]]\n"
    "         [--out FILE] [--png FILE]\n"
    "         [--json]\n"
    "  --timebase       time per division: 1 = 50us, 2 = 100us, 3 = 200us, 4 = 500us,\n"
    "                   5 = 1ms, 6 = 2ms, 7 = 5ms, 8 = 10ms (default: the configuration)\n"
    "  --div1, --div2   volts per division of channel 1 (right input) and 2 (left input):\n"
    "                   1 = 100uV .. 10 = 100mV .. 14 = 2V\n"
    "  --trigger-level  -2 .. 2 divisions (default 0)\n"
    "  --gnd1, --gnd2   ground the channel (a flat line at its position)\n"
    "  --tone           play a sine of FREQ Hz (below half the output rate) at LEVELDB\n"
    "                   (0 .. -100, default 0) meanwhile\n"
    "  --out FILE       the points as text (default: standard output)\n"
    "  --png FILE       the oscilloscope view as a picture\n"
    "  --json           one JSON document in place of the text\n";

namespace {

// Longest wait for one block (a real device may take a while to open).
constexpr auto kBlockTimeout = std::chrono::seconds(10);
// Length of the tone; far longer than any block, and it ends by itself.
constexpr int kToneMs = 20000;

/// The page as the command sees it: no widgets, the overload text kept for the report.
class CliControls : public ScopePageControls {
public:
    void ShowScopeView(bool) override {}
    void SetScopeMenusEnabled(bool, bool) override {}
    void SetTimebaseCaption(const std::string& text) override { timebase = text; }
    void SetVoltsPerDivCaption(int channel, const std::string& text) override
    {
        (channel == 1 ? div1 : div2) = text;
    }
    void SetOverloadText(const std::string& text) override { overload = text; }
    void SetPositionSliders(int, int) override {}
    void SetScopeChecks(bool, bool, bool, bool) override {}
    void PostScopeNext() override { ++queued; }
    bool ScopePageCurrent() const override { return true; }

    int queued = 0;
    std::string timebase, div1, div2, overload;
};

/// Counts repaints, so the command knows a block has been drawn.
class CountingView : public ScopeDisplay {
public:
    explicit CountingView(TOszidia& view) : view_(view) {}
    bool PrepareScope(const std::string& caption, int points, bool xLog, float xMin, float xMax,
                      float yMin, float yMax) override
    {
        return view_.PrepareScope(caption, points, xLog, xMin, xMax, yMin, yMax);
    }
    bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x, float ch2,
                         float ch1) override
    {
        return view_.StoreScopePoint(i, trigCh1, voltsDiv2, voltsDiv1, x, ch2, ch1);
    }
    void RepaintScope() override
    {
        ++repaints;
        view_.RepaintScope();
    }
    int repaints = 0;

private:
    TOszidia& view_;
};

struct ScopeOptions {
    int timebase = 0;  // 0: from the configuration
    int div1 = 0;
    int div2 = 0;
    int trigCh = 0;    // 1, 2 or 0 (configuration)
    int slope = 0;     // 1 rising, -1 falling, 0 configuration
    double trigLevelDiv = 0.0;
    bool gnd1 = false;
    bool gnd2 = false;
    int toneHz = 0;    // 0: no tone
    int toneDb = 0;
    std::string outPath;
    std::string pngPath;
    ResultOptions result;
};

/// Takes one option of the command; returns "" or the error.
std::string ParseScopeOption(OptionCursor& cursor, ScopeOptions& o)
{
    const std::string& arg = cursor.Name();
    const auto whole = [&](int lo, int hi, int& out) { return TakeWholeNumber(cursor, lo, hi, out); };
    if (auto result = ParseResultOption(cursor, o.result, false)) {
        return *result;
    }
    if (arg == "--timebase") {
        return whole(1, 8, o.timebase);
    } else if (arg == "--div1") {
        return whole(1, 14, o.div1);
    } else if (arg == "--div2") {
        return whole(1, 14, o.div2);
    } else if (arg == "--trigger") {
        const auto v = cursor.Take();
        if (!v || (*v != "ch1" && *v != "ch2")) {
            return "--trigger is ch1 or ch2";
        }
        o.trigCh = *v == "ch1" ? 1 : 2;
    } else if (arg == "--slope") {
        const auto v = cursor.Take();
        if (!v || (*v != "rising" && *v != "falling")) {
            return "--slope is rising or falling";
        }
        o.slope = *v == "rising" ? 1 : -1;
    } else if (arg == "--trigger-level") {
        const auto v = cursor.Take();
        double d = 0.0;
        const char* begin = v ? v->data() : nullptr;
        const char* end = v ? v->data() + v->size() : nullptr;
        if (v && begin != end && *begin == '+') {
            ++begin;
        }
        const bool parsed = v && begin != end && std::from_chars(begin, end, d).ptr == end;
        if (!parsed || !(d >= -2.0 && d <= 2.0)) {
            return "--trigger-level needs a number from -2 to 2 (divisions, '.' as decimal mark)";
        }
        o.trigLevelDiv = d;
    } else if (arg == "--gnd1") {
        o.gnd1 = true;
    } else if (arg == "--gnd2") {
        o.gnd2 = true;
    } else if (arg == "--tone") {
        const auto v = cursor.Take();
        const std::string text = v.value_or("");
        const auto colon = text.find(':');
        int hz = 0, db = 0;
        if (!v || !ParseWholeNumber(text.substr(0, colon), hz) || hz < 1) {
            return "--tone: the frequency is a whole number of hertz above 0";
        }
        if (colon != std::string::npos && (!ParseWholeNumber(text.substr(colon + 1), db) || db > 0 || db < -100)) {
            return "--tone: the level is a whole number of dB from 0 to -100";
        }
        o.toneHz = hz;
        o.toneDb = db;
    } else if (arg == "--out" || arg == "--png") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return arg + " needs a file name";
        }
        (arg == "--out" ? o.outPath : o.pngPath) = *v;
    } else {
        return "unknown argument '" + cursor.Argument() + "'";
    }
    return "";
}

std::string Num(double v, int decimals)
{
    return FormatFixed(v, decimals);
}

}  // namespace

int RunScopeCommand(CliContext& ctx)
{
    ScopeOptions o;
    if (const int status = ctx.ReadOptions([&](OptionCursor& c) { return ParseScopeOption(c, o); }); status >= 0) {
        return status;
    }

    CliSession session(ctx);
    if (const int status = session.Start(); status != 0) {
        return status;
    }
    SoundEngine& engine = session.Engine();
    Settings& settings = session.settings;
    ScopeSettings& s = settings.Scope;
    if (o.timebase != 0) {
        s.ScopeTimebase = o.timebase;
    }
    if (o.div1 != 0) {
        s.ScopeDiv1 = o.div1;
    }
    if (o.div2 != 0) {
        s.ScopeDiv2 = o.div2;
    }
    if (o.trigCh != 0) {
        s.ScopeTrigCh1 = o.trigCh == 1;
    }
    if (o.slope != 0) {
        s.ScopeTrigRising = o.slope > 0;
    }
    s.ScopeGnd1 = o.gnd1;
    s.ScopeGnd2 = o.gnd2;
    // Values the configuration may hold outside the buttons' reach are brought back.
    s.ScopeTimebase = std::clamp(s.ScopeTimebase, 1, 8);
    s.ScopeDiv1 = std::clamp(s.ScopeDiv1, 1, 14);
    s.ScopeDiv2 = std::clamp(s.ScopeDiv2, 1, 14);

    // Everything is checked before anything is played or written.
    if (o.toneHz != 0) {
        int inRate = 0, outRate = 0;
        engine.GetSampleRates(inRate, outRate);
        if (const std::string problem = ToneProblem(o.toneHz, outRate, 0); !problem.empty()) {
            return ctx.Fail(2, "--tone: " + problem);
        }
    }
    std::vector<std::string> outputs;
    for (const std::string* target : {&o.outPath, &o.pngPath}) {
        if (!target->empty()) {
            outputs.push_back(*target);
        }
    }
    if (const int status = session.CheckOutputs(outputs); status != 0) {
        return status;
    }

    // Drawing needs an application object, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "sonvera-cli";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    if (o.toneHz != 0) {
        engine.SetOutputVolume(100);  // the level asked for is the level played
        GeneratorParams tone;
        tone.frequencyHz = o.toneHz;
        tone.levelLeftDb = o.toneDb;
        tone.levelRightDb = o.toneDb;
        tone.waveform = kWaveSine;
        if (const int r = engine.StartPlayback(o.toneHz, kToneMs, tone); r != 0) {
            return ctx.Fail(1, "the tone could not start: " + engine.DeviceErrorText(static_cast<std::uint32_t>(r)));
        }
    }

    TOszidia view;
    CountingView display(view);
    CliControls controls;
    ScopeRun run(engine, settings, display, controls);
    run.EnterScopePage();
    run.SCRtrigScroll(static_cast<int>(std::lround(-o.trigLevelDiv * 100.0)));

    // One block: the page's first WM_SCOPE_NEXT, then stop before the next.
    bool timedOut = false;
    while (controls.queued > 0 && display.repaints == 0 && run.ScopeRunning()) {
        --controls.queued;
        run.OnScopeNext();
        if (!run.ScopeRunning()) {
            break;  // the device error has been reported
        }
        if (!session.Port().DeliverOne(std::chrono::duration_cast<std::chrono::milliseconds>(kBlockTimeout))) {
            timedOut = true;
            break;
        }
    }
    run.StopOrun();
    engine.StopPlayback();
    if (timedOut) {
        return ctx.Fail(1, "no block arrived from the input device");
    }
    if (display.repaints == 0) {
        return ctx.Fail(1, "no block recorded");
    }

    const ScopeModel& m = view.Model();
    std::ostringstream notes;
    int inRate = 0, outRate = 0, inBits = 0, outBits = 0;
    engine.GetSampleRates(inRate, outRate);
    engine.GetFormatBits(inBits, outBits);
    notes << "# time base " << Timebase(s.ScopeTimebase).caption << "/div, " << inRate << " Hz, "
          << run.ScopeFrames() << " frames; channel 1 " << VoltsPerDiv(s.ScopeDiv1).caption
          << "/div, channel 2 " << VoltsPerDiv(s.ScopeDiv2).caption << "/div\n"
          << "# trigger " << (s.ScopeTrigCh1 ? "ch1" : "ch2") << ' '
          << (s.ScopeTrigRising ? "rising" : "falling") << " at " << Num(run.ScopeTrigLevel(), 2)
          << " div: " << (run.LastTriggered() ? "found at frame " : "not found, trace from frame ")
          << run.LastTriggerFrame() << "\n";
    if (!controls.overload.empty()) {
        notes << "# " << controls.overload << "\n";
    }
    CliResult result("scope");
    result.settings["rate_hz"] = inRate;
    result.settings["bits"] = inBits;
    result.settings["frames"] = run.ScopeFrames();
    result.settings["timebase"] = std::string(Timebase(s.ScopeTimebase).caption) + "/div";
    result.settings["div1"] = std::string(VoltsPerDiv(s.ScopeDiv1).caption) + "/div";
    result.settings["div2"] = std::string(VoltsPerDiv(s.ScopeDiv2).caption) + "/div";
    result.settings["trigger"] = s.ScopeTrigCh1 ? "ch1" : "ch2";
    result.settings["slope"] = s.ScopeTrigRising ? "rising" : "falling";
    result.settings["trigger_level_div"] = run.ScopeTrigLevel();
    result.settings["gnd1"] = s.ScopeGnd1;
    result.settings["gnd2"] = s.ScopeGnd2;
    result.settings["tone_hz"] = o.toneHz != 0 ? nlohmann::ordered_json(o.toneHz) : nlohmann::ordered_json();
    result.settings["tone_db"] = o.toneHz != 0 ? nlohmann::ordered_json(o.toneDb) : nlohmann::ordered_json();
    result.AddReading("", "triggered", run.LastTriggered() ? 1.0 : 0.0, 0);
    result.AddReading("", "trigger_frame", static_cast<double>(run.LastTriggerFrame()), 0);
    result.AddNotices(notes.str());
    result.points.columns = {{"time_s", "s", false, 7}, {"ch1_div", "div", false, 4}, {"ch2_div", "div", false, 4}};
    result.points.Reserve(m.ScopeTime().size(), 3);
    for (std::size_t i = 0; i < m.ScopeTime().size(); ++i) {
        result.points.AddRow({ResultValue::Number(m.ScopeTime()[i], 7), ResultValue::Number(m.ScopeCh1()[i], 4),
                              ResultValue::Number(m.ScopeCh2()[i], 4)});
    }
    const std::string text = notes.str() + "# time_s ch1_div ch2_div\n" + result.points.Text(" ", "\n");
    std::string png;
    if (!o.pngPath.empty()) {
        view.RenderNow();
        png = PngBytes(view.grab().toImage());
        if (png.empty()) {
            return ctx.Fail(1, "the picture could not be encoded");
        }
    }

    // The results: files first, each whole or not at all, then standard output.
    if (!o.outPath.empty() && ctx.WriteFile(o.outPath, text) != 0) {
        return 1;
    }
    if (!o.pngPath.empty() && ctx.WriteFile(o.pngPath, png) != 0) {
        return 1;
    }
    if (!o.outPath.empty() && !o.result.json) {
        return 0;
    }
    return PrintResult(ctx, o.result, result, text);
}

}  // namespace sonvera
