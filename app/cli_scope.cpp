// sonvera-cli scope: records one block as the oscilloscope does and writes its points as
// text (time in seconds, channel 1 and channel 2 in divisions) and the view as a PNG.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "app/cli.h"
#include "app/waitingport.h"
#include "config/configpath.h"
#include "config/numberformat.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "config/settings.h"
#include "engine/messageport.h"
#include "engine/soundengine.h"
#include "measure/scoperun.h"
#include "platform/wavelayer.h"
#include "scope/oszidia.h"
#include "scope/scopemodel.h"

namespace sonvera {

namespace {

constexpr const char* kScopeUsage =
    "Usage: sonvera-cli [--config FILE] [--audio ...] [--dut SPEC] scope [--timebase 1..8]\n"
    "         [--div1 1..14] [--div2 1..14] [--trigger ch1|ch2] [--slope rising|falling]\n"
    "         [--trigger-level DIV] [--gnd1] [--gnd2] [--tone FREQ[:LEVELDB]]\n"
    "         [--out FILE] [--png FILE]\n"
    "  --timebase       time per division: 1 = 50us, 2 = 100us, 3 = 200us, 4 = 500us,\n"
    "                   5 = 1ms, 6 = 2ms, 7 = 5ms, 8 = 10ms (default: the configuration)\n"
    "  --div1, --div2   volts per division of channel 1 (right input) and 2 (left input):\n"
    "                   1 = 100uV .. 10 = 100mV .. 14 = 2V\n"
    "  --trigger-level  -2 .. 2 divisions (default 0)\n"
    "  --gnd1, --gnd2   ground the channel (a flat line at its position)\n"
    "  --tone           play a sine of FREQ Hz at LEVELDB (0 .. -100, default 0) meanwhile\n"
    "  --out FILE       the points as text (default: standard output)\n"
    "  --png FILE       the oscilloscope view as a picture\n";

// Longest wait for one block (a real device may take a while to open).
constexpr auto kBlockTimeout = std::chrono::seconds(10);
// Length of the tone; far longer than any block, and it ends by itself.
constexpr int kToneMs = 20000;

int Usage(const std::string& message)
{
    std::cerr << "sonvera-cli scope: " << message << "\n" << kScopeUsage;
    return 2;
}

template <typename T>
bool ParseNumber(const std::string& text, T& value)
{
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    const auto res = std::from_chars(begin, end, value);
    return begin != end && res.ec == std::errc() && res.ptr == end;
}

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
};

// Parses the arguments; returns an error text or "".
std::string ParseScopeArgs(const std::vector<std::string>& a, ScopeOptions& o, bool& help)
{
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::string& arg = a[i];
        std::string v;
        const auto value = [&]() {
            if (i + 1 >= a.size()) {
                return false;
            }
            v = a[++i];
            return true;
        };
        const auto whole = [&](int lo, int hi, int& out) -> std::string {
            int n = 0;
            if (!value() || !ParseNumber(v, n) || n < lo || n > hi) {
                return arg + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            }
            out = n;
            return "";
        };
        std::string err;
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--timebase") {
            err = whole(1, 8, o.timebase);
        } else if (arg == "--div1") {
            err = whole(1, 14, o.div1);
        } else if (arg == "--div2") {
            err = whole(1, 14, o.div2);
        } else if (arg == "--trigger") {
            if (!value() || (v != "ch1" && v != "ch2")) {
                return "--trigger is ch1 or ch2";
            }
            o.trigCh = v == "ch1" ? 1 : 2;
        } else if (arg == "--slope") {
            if (!value() || (v != "rising" && v != "falling")) {
                return "--slope is rising or falling";
            }
            o.slope = v == "rising" ? 1 : -1;
        } else if (arg == "--trigger-level") {
            double d = 0.0;
            if (!value() || !ParseNumber(v, d) || !(d >= -2.0 && d <= 2.0)) {
                return "--trigger-level needs a number from -2 to 2 (divisions, '.' as decimal mark)";
            }
            o.trigLevelDiv = d;
        } else if (arg == "--gnd1") {
            o.gnd1 = true;
        } else if (arg == "--gnd2") {
            o.gnd2 = true;
        } else if (arg == "--tone") {
            if (!value()) {
                return "--tone needs FREQ[:LEVELDB]";
            }
            const auto colon = v.find(':');
            const std::string f = v.substr(0, colon);
            int hz = 0, db = 0;
            if (!ParseNumber(f, hz) || hz < 1) {
                return "--tone: the frequency is a whole number of hertz above 0";
            }
            if (colon != std::string::npos) {
                const std::string l = v.substr(colon + 1);
                const bool negative = !l.empty() && l[0] == '-';
                if (!ParseNumber(negative ? l.substr(1) : l, db) || db < 0 || db > 100) {
                    return "--tone: the level is a whole number of dB from 0 to -100";
                }
                db = negative ? -db : db;
                if (db > 0) {
                    return "--tone: the level is a whole number of dB from 0 to -100";
                }
            }
            o.toneHz = hz;
            o.toneDb = db;
        } else if (arg == "--out" || arg == "--png") {
            if (!value() || v.empty()) {
                return arg + " needs a file name";
            }
            (arg == "--out" ? o.outPath : o.pngPath) = v;
        } else {
            return "unknown argument '" + arg + "'";
        }
        if (!err.empty()) {
            return err;
        }
    }
    return "";
}

std::string Num(double v, int decimals)
{
    return FormatFixed(v, decimals);
}

}  // namespace

int RunScopeCommand(const CliContext& ctx)
{
    ScopeOptions o;
    bool help = false;
    const std::string argError = ParseScopeArgs(ctx.args, o, help);
    if (help) {
        std::cout << kScopeUsage;
        return 0;
    }
    if (!argError.empty()) {
        return Usage(argError);
    }
    const AudioBackendChoice backend = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!backend.error.empty()) {
        return Usage(backend.error);
    }
    DutConfig dut;
    const std::string dutError = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut);
    if (!dutError.empty()) {
        return Usage(dutError);
    }

    // Settings: read only; the command never writes the configuration file.
    const std::string configPath = ConfigFilePath(ctx.options.configPath);
    const ProfileFile file(configPath);
    if (file.Probe() == ProfileFile::Status::Unreadable) {
        std::cerr << "sonvera-cli scope: cannot read '" << configPath << "'\n";
        return 1;
    }
    Settings settings;
    ReadMainSections(file, settings, MainReadHooks{});
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

    std::string layerError;
    std::unique_ptr<WaveLayer> layer = CreateWaveLayer(backend.backend, dut, layerError);
    if (!layer) {
        std::cerr << "sonvera-cli scope: " << layerError << "\n";
        return 1;
    }

    // Drawing needs an application object, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "sonvera-cli";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    SoundEngine engine(*layer);
    WaitingPort port(engine);
    int inCount = 0, outCount = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(inCount, outCount, formats);
    if (settings.Main.InDeviceIndex < inCount) {
        engine.SelectInDevice(settings.Main.InDeviceIndex);
    }
    if (settings.Main.OutDeviceIndex < outCount) {
        engine.SelectOutDevice(settings.Main.OutDeviceIndex);
    }
    if (engine.InitSoundEngine() != 0) {
        std::cerr << "sonvera-cli scope: the sound engine could not start\n";
        return 1;
    }
    struct Shutdown {
        SoundEngine& e;
        ~Shutdown() { e.ShutdownSoundEngine(); }
    } shutdown{engine};
    if (engine.CaptureFormats() == 0) {
        std::cerr << "sonvera-cli scope: no usable input device\n";
        return 1;
    }

    if (o.toneHz != 0) {
        int inRate = 0, outRate = 0;
        engine.GetSampleRates(inRate, outRate);
        if (o.toneHz >= outRate / 2) {
            std::cerr << "sonvera-cli scope: --tone " << o.toneHz << " Hz is not below half the output rate ("
                      << outRate << " Hz)\n";
            return 2;
        }
        engine.SetOutputVolume(100);  // the level asked for is the level played
        GeneratorParams tone;
        tone.frequencyHz = o.toneHz;
        tone.levelLeftDb = o.toneDb;
        tone.levelRightDb = o.toneDb;
        tone.waveform = kWaveSine;
        const int r = engine.StartPlayback(o.toneHz, kToneMs, tone);
        if (r != 0) {
            std::cerr << "sonvera-cli scope: the tone could not start: " << engine.DeviceErrorText(static_cast<std::uint32_t>(r))
                      << "\n";
            return 1;
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
        if (!port.DeliverOne(std::chrono::duration_cast<std::chrono::milliseconds>(kBlockTimeout))) {
            timedOut = true;
            break;
        }
    }
    run.StopOrun();
    engine.StopPlayback();
    if (timedOut) {
        std::cerr << "sonvera-cli scope: no block arrived from the input device\n";
        return 1;
    }
    if (display.repaints == 0) {
        std::cerr << "sonvera-cli scope: no block recorded\n";
        return 1;
    }

    const ScopeModel& m = view.Model();
    std::ostringstream text;
    int inRate = 0, outRate = 0;
    engine.GetSampleRates(inRate, outRate);
    text << "# time base " << Timebase(s.ScopeTimebase).caption << "/div, " << inRate << " Hz, "
         << run.ScopeFrames() << " frames; channel 1 " << VoltsPerDiv(s.ScopeDiv1).caption
         << "/div, channel 2 " << VoltsPerDiv(s.ScopeDiv2).caption << "/div\n"
         << "# trigger " << (s.ScopeTrigCh1 ? "ch1" : "ch2") << ' '
         << (s.ScopeTrigRising ? "rising" : "falling") << " at " << Num(run.ScopeTrigLevel(), 2)
         << " div: " << (run.LastTriggered() ? "found at frame " : "not found, trace from frame ")
         << run.LastTriggerFrame() << "\n";
    if (!controls.overload.empty()) {
        text << "# " << controls.overload << "\n";
    }
    text << "# time_s ch1_div ch2_div\n";
    for (std::size_t i = 0; i < m.ScopeTime().size(); ++i) {
        text << Num(m.ScopeTime()[i], 7) << ' ' << Num(m.ScopeCh1()[i], 4) << ' ' << Num(m.ScopeCh2()[i], 4)
             << '\n';
    }
    if (o.outPath.empty()) {
        std::cout << text.str();
        std::cout.flush();
        if (!std::cout) {
            return 1;
        }
    } else {
        std::ofstream out(o.outPath, std::ios::binary | std::ios::trunc);
        out << text.str();
        out.close();
        if (!out) {
            std::cerr << "sonvera-cli scope: cannot write " << o.outPath << "\n";
            return 1;
        }
    }
    if (!o.pngPath.empty()) {
        view.RenderNow();
        const QImage image = view.grab().toImage();
        if (!image.save(QString::fromStdString(o.pngPath), "PNG")) {
            std::cerr << "sonvera-cli scope: cannot write " << o.pngPath << "\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace sonvera
