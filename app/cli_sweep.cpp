// sonvera-cli sweep: one frequency sweep of the generator page without a window.
#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <unistd.h>

#include "app/cli.h"
#include "app/options.h"
#include "app/waitingport.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"
#include "dsp/analysis.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "platform/wavelayer.h"

namespace sonvera {

namespace {

const char* const kSweepUsage =
    "Usage: sonvera-cli sweep [--config FILE] [--audio virtual|portaudio|auto] [--dut SPEC]\n"
    "         [--in-device N] [--out-device N] [--from HZ] [--to HZ] [--steps N] [--lin|--log]\n"
    "         [--ref|--stereo] [--phase] [--level DB] [--settle MS] [--lang D|E]\n"
    "         [--out FILE] [--sep SEP] [--png FILE]\n"
    "Prints one line per step: frequency, then level ratio (dB) and phase (degrees) with\n"
    "reference, or the right and left input levels (dB) in stereo.\n";

/// The diagram of the run: the model alone.
class SweepModelDiagram : public SweepDiagram {
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
};

/// The page without widgets: the queued step and, on a real device, the settle wait.
class CliSweepPage : public SweepPageView {
public:
    /// `instantCard`: the virtual card on its instant clock, or nullptr for real devices.
    CliSweepPage(WaitingPort& port, LoopbackCard* instantCard) : port_(port), instant_(instantCard) {}
    int queued = 0;
    std::string overload;
    void PostSweepStep() override { ++queued; }
    void SetOverloadLabel(const std::string& text) override { overload = text; }
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
};

/// Boxes become lines on standard error; errors make the command fail.
class CliPrompts : public PromptService {
public:
    CliPrompts() { previous_ = SetPromptService(this); }
    ~CliPrompts() override { SetPromptService(previous_); }
    void Show(const Prompt& p) override
    {
        std::cerr << "sonvera-cli sweep: " << p.text << "\n";
        errors += p.kind == PromptKind::Error ? 1 : 0;
    }
    int errors = 0;

private:
    PromptService* previous_ = nullptr;
};

struct SweepOptions {
    std::optional<int> inDevice, outDevice, from, to, steps, settle;
    std::optional<bool> linear, withRef;
    bool phase = false;
    std::optional<double> level;
    std::optional<std::string> out, sep, png;
    char lang = 0;
};

std::string ParseSweepOptions(const std::vector<std::string>& args, SweepOptions& o)
{
    OptionCursor cursor(args);
    while (cursor.Next()) {
        const std::string& name = cursor.Name();
        auto take = [&] { return cursor.Take(); };
        auto integer = [&](std::optional<int>& target, int lo, int hi) -> std::string {
            const auto v = take();
            int n = 0;
            if (!v || !ParseDialogInteger(*v, n) || n < lo || n > hi) {
                return name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            }
            target = n;
            return "";
        };
        std::string error;
        if (name == "--lin" || name == "--log") {
            if (o.linear && *o.linear != (name == "--lin")) {
                error = "--lin and --log exclude each other";
            }
            o.linear = name == "--lin";
        } else if (name == "--ref" || name == "--stereo") {
            if (o.withRef && *o.withRef != (name == "--ref")) {
                error = "--ref and --stereo exclude each other";
            }
            o.withRef = name == "--ref";
        } else if (name == "--phase") {
            o.phase = true;
        } else if (name == "--in-device") {
            error = integer(o.inDevice, 0, 2);
        } else if (name == "--out-device") {
            error = integer(o.outDevice, 0, 2);
        } else if (name == "--from") {
            error = integer(o.from, 1, 55199);
        } else if (name == "--to") {
            error = integer(o.to, 2, 55200);
        } else if (name == "--steps") {
            error = integer(o.steps, 1, 1000);
        } else if (name == "--settle") {
            error = integer(o.settle, 0, 100000);
        } else if (name == "--level") {
            const auto v = take();
            const auto parsed = v ? ParseReal(*v) : std::nullopt;
            if (!parsed || *parsed > 0.0 || *parsed < -200.0) {
                error = "--level needs a level in dB from -200 to 0";
            } else {
                o.level = *parsed;
            }
        } else if (name == "--out" || name == "--sep" || name == "--png") {
            const auto v = take();
            if (!v || (name != "--sep" && v->empty())) {
                error = name + " needs a value";
            } else {
                (name == "--out" ? o.out : name == "--sep" ? o.sep : o.png) = *v;
            }
        } else if (name == "--lang") {
            const auto v = take();
            if (!v || (*v != "D" && *v != "E")) {
                error = "--lang must be D or E";
            } else {
                o.lang = (*v)[0];
            }
        } else {
            error = "unknown option '" + cursor.Argument() + "'";
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (o.from && o.to && *o.from >= *o.to) {
        return "--from must be below --to";
    }
    if (o.phase && o.withRef && !*o.withRef) {
        return "--phase needs the reference mode (not --stereo)";
    }
    return "";
}

int WriteTable(const DiagramModel& model, const SweepOptions& o)
{
    const std::string separator = o.sep.value_or(",");
    if (o.out) {
        if (model.ExportDiagramText(*o.out, separator) != 0) {
            std::cerr << "sonvera-cli sweep: " << *o.out << " could not be written\n";
            return 1;
        }
        return 0;
    }
    char name[] = "/tmp/sonvera-sweep-XXXXXX";
    const int fd = mkstemp(name);
    int status = 0;
    if (fd < 0 || model.ExportDiagramText(name, separator) != 0) {
        std::cerr << "sonvera-cli sweep: the table could not be prepared\n";
        status = 1;
    } else {
        std::ifstream table(name, std::ios::binary);
        std::cout << table.rdbuf();
    }
    if (fd >= 0) {
        close(fd);
        std::remove(name);
    }
    return status;
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
        std::cerr << "sonvera-cli sweep: the diagram could not be laid out\n";
        return 1;
    }
    renderer.RenderDiagram(model, image, true, model.GetComment(), 60);
    if (!image.save(QString::fromStdString(path), "PNG")) {
        std::cerr << "sonvera-cli sweep: " << path << " could not be written\n";
        return 1;
    }
    return 0;
}

}  // namespace

int RunSweepCommand(const CliContext& ctx)
{
    SweepOptions o;
    if (const std::string error = ParseSweepOptions(ctx.args, o); !error.empty()) {
        std::cerr << "sonvera-cli sweep: " << error << "\n" << kSweepUsage;
        return 2;
    }
    const AudioBackendChoice backend = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!backend.error.empty()) {
        std::cerr << "sonvera-cli sweep: " << backend.error << "\n";
        return 2;
    }
    DutConfig dut;
    if (const std::string error = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut); !error.empty()) {
        std::cerr << "sonvera-cli sweep: " << error << "\n";
        return 2;
    }

    // The configuration is only read: the command never writes it.
    ProfileFile profile(ConfigFilePath(ctx.options.configPath));
    Settings settings;

    const bool virtualCard = backend.backend == AudioBackend::Virtual;
    std::unique_ptr<WaveLayer> layer;
    LoopbackCard* instantCard = nullptr;
    if (virtualCard) {
        auto card = std::make_unique<LoopbackCard>(dut, LoopbackClock::Instant);
        instantCard = card.get();
        layer = std::move(card);
    } else {
        std::string error;
        layer = CreateWaveLayer(backend.backend, dut, error);
        if (!layer) {
            std::cerr << "sonvera-cli sweep: " << error << "\n";
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
        std::cerr << "sonvera-cli sweep: the sound system could not be started ("
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
        std::cerr << "sonvera-cli sweep: no such device (" << inCount << " input and " << outCount
                  << " output devices)\n";
        engine.ShutdownSoundEngine();
        return 1;
    }
    engine.SelectInDevice(inDevice);
    engine.SelectOutDevice(outDevice);
    if (engine.CaptureFormats() == 0) {
        std::cerr << "sonvera-cli sweep: no usable input device\n";
        engine.ShutdownSoundEngine();
        return 1;
    }

    SweepSettings& s = settings.Sweep;
    if (o.from) s.SweepFrom = *o.from;
    if (o.to) s.SweepTo = *o.to;
    if (s.SweepFrom >= s.SweepTo) {
        std::cerr << "sonvera-cli sweep: the start frequency " << s.SweepFrom << " Hz is not below the end "
                  << s.SweepTo << " Hz\n";
        engine.ShutdownSoundEngine();
        return 2;
    }
    if (o.steps) s.SweepSteps = *o.steps;
    if (o.linear) s.SweepLinear = *o.linear;
    if (o.withRef) s.SweepWithRef = *o.withRef;
    if (o.phase) s.SweepPhase = true;
    if (!s.SweepWithRef) s.SweepPhase = false;
    if (o.level) s.SweepLevel = static_cast<float>(*o.level);
    if (o.settle) s.SweepSettleTime = *o.settle;
    // The virtual card's cable has no mixer behind it: it is swept at full volume.
    if (virtualCard) {
        settings.Volume.GenOutVolume = 100;
    }

    CorrectionCurve inCorrection, outCorrection;  // correction files are the program's business
    SweepModelDiagram diagram;
    diagram.model.Activate();
    CliSweepPage page(port, instantCard);
    CliPrompts prompts;
    SweepRun run(engine, settings, diagram, page, inCorrection, outCorrection);
    run.SetLanguage(o.lang != 0 ? o.lang : settings.Main.UiLanguage);

    run.EnterGeneratorPage();
    run.wobbelnButClick();
    int status = 0;
    if (!run.SweepRunning) {
        std::cerr << "sonvera-cli sweep: the sweep could not be started (is a signal playing?)\n";
        status = 1;
    }
    while (status == 0 && (page.queued > 0 || run.SweepToneOn)) {
        if (page.queued > 0) {
            --page.queued;
            run.SweepStep();
            continue;
        }
        if (!port.DeliverOne(std::chrono::seconds(10))) {
            std::cerr << "sonvera-cli sweep: no block arrived from the input device within 10 s\n";
            run.STOPbutClick();
            status = 1;
        }
    }
    engine.StopPlayback();
    if (status == 0 && prompts.errors > 0) {
        status = 1;
    }
    if (status == 0 && run.PointsStored() == 0) {
        std::cerr << "sonvera-cli sweep: the sweep ended without a point\n";
        status = 1;
    }
    if (status == 0) {
        status = WriteTable(diagram.model, o);
    }
    // The sweep's notice (inputs without signal) follows the table as a comment line.
    if (status == 0 && !diagram.model.ResultLine().empty()) {
        std::cout << "# " << diagram.model.ResultLine() << "\n";
    }
    if (status == 0 && o.png) {
        status = WritePicture(diagram.model, *o.png);
    }
    run.LeaveGeneratorPage();
    engine.ShutdownSoundEngine();
    return status;
}

}  // namespace sonvera
