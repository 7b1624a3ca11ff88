// sonvera-cli logsweep: one exponential sine sweep, deconvolved, without a window.
#include <QGuiApplication>
#include <QImage>

#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/options.h"
#include "app/waitingport.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"
#include "engine/soundengine.h"
#include "measure/logsweeprun.h"
#include "measure/prompt.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "platform/wavelayer.h"

namespace sonvera {

namespace {

const char* const kLogSweepUsage =
    "Usage: sonvera-cli [--config FILE] [--audio virtual|portaudio|auto] [--dut SPEC] logsweep\n"
    "         [--in-device N] [--out-device N] [--from HZ] [--to HZ] [--seconds S] [--level DB]\n"
    "         [--rate HZ] [--ref|--stereo] [--points-per-octave N] [--out FILE] [--sep SEP]\n"
    "         [--ir-out FILE.wav] [--png FILE]\n"
    "Plays one exponential sine sweep and records both inputs; prints '# ' lines (settings,\n"
    "delay, window, band), then one line per frequency: frequency, level dB, phase degrees,\n"
    "H2, H3, H4, H5 and THD in dB relative to the fundamental ('nan' where a harmonic lies\n"
    "above the band). With --stereo each input is measured against the played sweep: the\n"
    "right input's columns, then the left input's (level, phase, H2 .. H5, THD).\n";

/// The diagram of the run: the model alone.
class ModelDiagram : public SweepDiagram {
public:
    DiagramModel model;

    bool PrepareDiagram(const std::string& c, int last, int fmin, int fmax, float& lmin, float& lmax) override
    {
        return model.PrepareDiagram(c, last, fmin, fmax, lmin, lmax);
    }
    void ClearDiagramData() override { model.ClearDiagramData(); }
    void ResetDiagramScales() override { model.ResetDiagramScales(); }
    void SetCurvesShown(bool a, bool b) override { model.SetCurvesShown(a, b); }
    void SetAxesShown(bool a, bool b) override { model.SetAxesShown(a, b); }
    void SetLevelRange(float max, float min) override { model.SetLevelRange(max, min); }
    void SetSecondRange(float max, float min) override { model.SetSecondRange(max, min); }
    void GetLevelRange(float& min, float& max) const override { model.GetLevelRange(min, max); }
    bool StoreDiagramPoint(const float* v, int mode, int index, float f) override
    {
        return model.StoreDiagramPoint(v, mode, index, f);
    }
    void SetResultLine(const std::string& t) override { model.SetResultLine(t); }
    std::string GetComment() const override { return model.GetComment(); }
    void Repaint() override {}
    void Show(bool) override {}
    void SetSecondAxis(const std::string& unit, bool wrap) override
    {
        model.Axis2Unit = unit;
        model.WrapCurve2OnExport = wrap;
    }
};

/// Boxes become lines on standard error; any box ends the command with status 1.
class CliPrompts : public PromptService {
public:
    CliPrompts() { previous_ = SetPromptService(this); }
    ~CliPrompts() override { SetPromptService(previous_); }
    void Show(const Prompt& p) override
    {
        std::cerr << "sonvera-cli logsweep: " << p.text << "\n";
        ++shown;
    }
    int shown = 0;

private:
    PromptService* previous_ = nullptr;
};

struct LogSweepOptions {
    std::optional<int> inDevice, outDevice, rate, points;
    std::optional<double> from, to, seconds, level;
    std::optional<bool> withRef;
    std::optional<std::string> out, sep, irOut, png;
};

std::string ParseLogSweepOptions(const std::vector<std::string>& args, LogSweepOptions& o)
{
    OptionCursor cursor(args);
    while (cursor.Next()) {
        const std::string& name = cursor.Name();
        auto integer = [&](std::optional<int>& target, int lo, int hi) -> std::string {
            const auto v = cursor.Take();
            const auto n = v ? ParseInteger(*v) : std::nullopt;
            if (!n || *n < lo || *n > hi) {
                return name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            }
            target = *n;
            return "";
        };
        auto real = [&](std::optional<double>& target, const char* what) -> std::string {
            const auto v = cursor.Take();
            const auto x = v ? ParseReal(*v) : std::nullopt;
            if (!x) {
                return name + " needs " + what;
            }
            target = *x;
            return "";
        };
        std::string error;
        if (name == "--ref" || name == "--stereo") {
            if (o.withRef && *o.withRef != (name == "--ref")) {
                error = "--ref and --stereo exclude each other";
            }
            o.withRef = name == "--ref";
        } else if (name == "--in-device") {
            error = integer(o.inDevice, 0, 2);
        } else if (name == "--out-device") {
            error = integer(o.outDevice, 0, 2);
        } else if (name == "--rate") {
            error = integer(o.rate, kLogSweepMinRateHz, kLogSweepMaxRateHz);
        } else if (name == "--points-per-octave") {
            error = integer(o.points, 1, kLogSweepMaxPointsPerOctave);
        } else if (name == "--from") {
            error = real(o.from, "a frequency in Hz");
        } else if (name == "--to") {
            error = real(o.to, "a frequency in Hz");
        } else if (name == "--seconds") {
            error = real(o.seconds, "a duration in seconds");
        } else if (name == "--level") {
            error = real(o.level, "a level in dB");
        } else if (name == "--out" || name == "--sep" || name == "--ir-out" || name == "--png") {
            const auto v = cursor.Take();
            if (!v || (name != "--sep" && v->empty())) {
                error = name + " needs a value";
            } else {
                (name == "--out" ? o.out : name == "--sep" ? o.sep : name == "--png" ? o.png : o.irOut) = *v;
            }
        } else {
            error = "unknown option '" + cursor.Argument() + "'";
        }
        if (!error.empty()) {
            return error;
        }
    }
    return "";
}

/// The text of a parameter error, naming the option.
std::string ParamError(LogSweepParamError e, const LogSweepParams& p)
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
    }
    return "";
}

std::string Number(double v, int decimals)
{
    return std::isfinite(v) ? FormatReal(v, decimals) : std::string("nan");
}

/// The '# ' lines and the table.
std::string Table(const LogSweepRun& run, const LogSweepSettings& s, const std::string& sep)
{
    const LogSweepResult& r = run.Result();
    const double rate = r.rateHz;
    std::ostringstream text;
    text << "# logsweep from " << Number(s.LogSweepFrom, 2) << " Hz to " << Number(s.LogSweepTo, 2) << " Hz, "
         << Number(s.LogSweepSeconds, 2) << " s, " << Number(s.LogSweepLevel, 1) << " dB, " << r.rateHz << " Hz, "
         << (r.mode == LogSweepMode::Reference ? "with reference" : "stereo") << ", "
         << s.LogSweepPointsPerOctave << " points per octave\n";
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
    auto columns = [&](const LogSweepChannel& c, std::size_t i) {
        text << sep << Number(c.levelDb[i], 2) << sep << Number(WrapDegrees(c.phaseDeg[i]), 2);
        for (const auto& h : c.harmonicDb) {
            text << sep << Number(h[i], 2);
        }
        text << sep << Number(c.thdDb[i], 2);
    };
    for (std::size_t i = 0; i < r.freqHz.size(); ++i) {
        text << Number(r.freqHz[i], 2);
        columns(r.right, i);
        if (r.mode == LogSweepMode::Stereo) {
            columns(r.left, i);
        }
        text << "\n";
    }
    return text.str();
}

/// The windowed linear impulse response(s) as 32-bit float, from the window's first
/// lag on: one channel, or (stereo) left and right from the earlier of their starts.
bool WriteImpulse(const LogSweepResult& r, const std::string& path)
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
    SF_INFO info{};
    info.samplerate = r.rateHz;
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return false;
    }
    const auto count = static_cast<sf_count_t>(frames);
    const bool ok = sf_writef_float(file, data.data(), count) == count;
    return sf_close(file) == 0 && ok;
}

int WritePicture(DiagramModel& model, const std::string& path)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char program[] = "sonvera-cli";
    char* argv[] = {program, nullptr};
    QGuiApplication app(argc, argv);
    QImage image;
    DiagramRenderer renderer;
    if (!DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false)) {
        std::cerr << "sonvera-cli logsweep: the diagram could not be laid out\n";
        return 1;
    }
    renderer.RenderDiagram(model, image, true, model.GetComment(), 60);
    if (!image.save(QString::fromStdString(path), "PNG")) {
        std::cerr << "sonvera-cli logsweep: " << path << " could not be written\n";
        return 1;
    }
    return 0;
}

}  // namespace

int RunLogSweepCommand(const CliContext& ctx)
{
    LogSweepOptions o;
    if (!ctx.args.empty() && (ctx.args.front() == "--help" || ctx.args.front() == "-h")) {
        std::cout << kLogSweepUsage;
        return 0;
    }
    if (const std::string error = ParseLogSweepOptions(ctx.args, o); !error.empty()) {
        std::cerr << "sonvera-cli logsweep: " << error << "\n";
        return 2;
    }
    const AudioBackendChoice backend = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!backend.error.empty()) {
        std::cerr << "sonvera-cli logsweep: " << backend.error << "\n";
        return 2;
    }
    DutConfig dut;
    if (const std::string error = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut); !error.empty()) {
        std::cerr << "sonvera-cli logsweep: " << error << "\n";
        return 2;
    }

    // The configuration is only read: the command never writes it.
    ProfileFile profile(ConfigFilePath(ctx.options.configPath));
    Settings settings;
    ReadLogSweepSection(profile, settings.LogSweep);
    LogSweepSettings& s = settings.LogSweep;
    if (o.from) s.LogSweepFrom = *o.from;
    if (o.to) s.LogSweepTo = *o.to;
    if (o.seconds) s.LogSweepSeconds = *o.seconds;
    if (o.level) s.LogSweepLevel = *o.level;
    if (o.withRef) s.LogSweepWithRef = *o.withRef;
    if (o.points) s.LogSweepPointsPerOctave = *o.points;

    const bool virtualCard = backend.backend == AudioBackend::Virtual;
    std::unique_ptr<WaveLayer> layer;
    if (virtualCard) {
        layer = std::make_unique<LoopbackCard>(dut, LoopbackClock::Instant);
    } else {
        std::string error;
        layer = CreateWaveLayer(backend.backend, dut, error);
        if (!layer) {
            std::cerr << "sonvera-cli logsweep: " << error << "\n";
            return 1;
        }
    }
    SoundEngine engine(*layer);
    WaitingPort port(engine);
    engine.SetProfile(&profile);
    int inCount = 0, outCount = 0;
    std::uint32_t formats = 0;
    engine.BuildDeviceReport(inCount, outCount, formats);
    if (const int error = engine.InitSoundEngine(); error != 0) {
        std::cerr << "sonvera-cli logsweep: the sound system could not be started ("
                  << engine.DeviceErrorText(static_cast<std::uint32_t>(error)) << ")\n";
        engine.SetProfile(nullptr);
        return 1;
    }
    engine.SetProfile(nullptr);  // so that the shutdown writes nothing

    MainReadHooks hooks;
    hooks.InDeviceCount = [&] { return inCount; };
    hooks.OutDeviceCount = [&] { return outCount; };
    ReadMainSections(profile, settings, hooks);
    const int inDevice = o.inDevice.value_or(settings.Main.InDeviceIndex);
    const int outDevice = o.outDevice.value_or(settings.Main.OutDeviceIndex);
    if (inDevice >= inCount || outDevice >= outCount) {
        std::cerr << "sonvera-cli logsweep: no such device (" << inCount << " input and " << outCount
                  << " output devices)\n";
        engine.ShutdownSoundEngine();
        return 1;
    }
    engine.SelectInDevice(inDevice);
    engine.SelectOutDevice(outDevice);
    if (engine.CaptureFormats() == 0) {
        std::cerr << "sonvera-cli logsweep: no usable input device\n";
        engine.ShutdownSoundEngine();
        return 1;
    }
    int rateIn = 0, rateOut = 0;
    engine.GetSampleRates(rateIn, rateOut);
    const int rate = o.rate.value_or(rateOut);
    const LogSweepParams params = LogSweepParamsFrom(s, rate);
    if (const LogSweepParamError e = CheckLogSweepParams(params); e != LogSweepParamError::None) {
        std::cerr << "sonvera-cli logsweep: " << ParamError(e, params) << "\n";
        engine.ShutdownSoundEngine();
        return 2;
    }
    engine.SetSampleRates(rate, rate);
    // The virtual card's cable has no mixer behind it: it is swept at full volume.
    if (virtualCard) {
        engine.SetOutputVolume(100);
    }

    ModelDiagram diagram;
    diagram.model.Activate();
    LogSweepView view;
    CliPrompts prompts;
    LogSweepRun run(engine, s, diagram, view);
    run.SetLanguage('E');
    int status = 0;
    if (!run.Start()) {
        status = 1;
    }
    const auto limit = std::chrono::seconds(static_cast<int>(std::ceil(s.LogSweepSeconds)) + 20);
    if (status == 0 && run.Running() && !port.DeliverOne(limit)) {
        std::cerr << "sonvera-cli logsweep: the recording did not come back within " << limit.count() << " s\n";
        run.Stop();
        status = 1;
    }
    if (status == 0 && (!run.HasResult() || prompts.shown > 0)) {
        status = 1;
    }
    engine.ShutdownSoundEngine();
    if (status != 0) {
        return status;
    }

    const std::string table = Table(run, s, o.sep.value_or(","));
    if (o.out) {
        std::ofstream file(*o.out, std::ios::binary | std::ios::trunc);
        file << table;
        file.close();
        if (!file) {
            std::cerr << "sonvera-cli logsweep: " << *o.out << " could not be written\n";
            return 1;
        }
    } else {
        std::cout << table;
    }
    if (o.irOut) {
        if (!WriteImpulse(run.Result(), *o.irOut)) {
            std::cerr << "sonvera-cli logsweep: " << *o.irOut << " could not be written\n";
            return 1;
        }
    }
    if (o.png) {
        return WritePicture(diagram.model, *o.png);
    }
    return 0;
}

}  // namespace sonvera
