// sonvera-cli spectrum: one spectrum run of the analyser without a window.
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include <unistd.h>

#include "app/cli.h"
#include "app/options.h"
#include "app/waitingport.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"
#include "dsp/analysis.h"
#include "dsp/window.h"
#include "engine/soundengine.h"
#include "measure/spectrumrun.h"
#include "platform/loopbackcard.h"
#include "platform/wavefileinput.h"
#include "platform/wavelayer.h"

namespace sonvera {

namespace {

const char* const kSpectrumUsage =
    "Usage: sonvera-cli spectrum [--config FILE] [--audio virtual|portaudio|auto] [--dut SPEC]\n"
    "         [--in-device N] [--out-device N] [--points 512|1024|2048|4096] [--window INDEX|NAME]\n"
    "         [--average N] [--rate HZ] [--bits 8|16|24] [--tone FREQ[:LEVELDB]] [--input FILE.wav] [--thd | --level]\n"
    "         [--filter NAME] [--fmin HZ] [--fmax HZ] [--lang D|E] [--out FILE] [--sep SEP] [--png FILE]\n";

/// The virtual card with its input replaced by the frames of a wave file: each recorded
/// buffer is overwritten with the file's next frames, encoded in the device's format,
/// before the engine takes it, so the block passes the same conversion as a recording.
class FileInputCard : public LoopbackCard {
public:
    FileInputCard() : LoopbackCard(DutConfig{}, LoopbackClock::Instant) {}

    /// Reads the whole file (mono files feed both channels). Returns an error or "".
    std::string Load(const std::string& path) { return input_.Load(path); }
    int Rate() const { return input_.Rate(); }
    std::size_t Frames() const { return input_.Frames(); }

    MmResult WaveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat& format, WavePost post,
                        std::uint32_t flags) override
    {
        if ((flags & kWaveOpenQuery) != 0) {
            return LoopbackCard::WaveInOpen(handle, deviceId, format, std::move(post), flags);
        }
        format_ = format;
        WavePost fill = [this, post = std::move(post)](WaveMessage message, WaveHeader* header) {
            if (message == WaveMessage::InData && header != nullptr) {
                input_.FillBlock(header->data, header->bytesRecorded, format_);
            }
            if (post) {
                post(message, header);
            }
        };
        return LoopbackCard::WaveInOpen(handle, deviceId, format, std::move(fill), flags);
    }

private:
    WaveFileInput input_;
    WaveFormat format_;
};

/// The diagram of the run: the model alone, laid out for a printed page.
class ModelDiagram : public SpectrumDiagram {
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
    void GetFreqRange(int& min, int& max) const override { model.GetFreqRange(min, max); }
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

/// The page without widgets: remembers the averaging count and the queued next block.
class CliPage : public SpectrumPageView {
public:
    int average = -1;
    int nextQueued = 0;
    std::string overload = ".";
    int AverVal() const override { return average; }
    void SetOverloadLabel(const std::string& text) override { overload = text; }
    void PostSpectrumNext() override { ++nextQueued; }
};

struct SpectrumOptions {
    std::optional<int> inDevice, outDevice, points, window, average, rate, bits, fmin, fmax;
    std::optional<int> toneHz;
    int toneDb = 0;
    bool thd = false, level = false;
    std::optional<std::string> filter, out, sep, png, input;
    char lang = 0;
};

/// The names --filter takes: every built-in weighting, and "USER" (the configuration's
/// user weighting file).
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

/// The correction-file loader's messages become lines on standard error.
class CliCurveMessages : public CurveMessageSink {
public:
    void Warning(const std::string& text) override { std::cerr << "sonvera-cli spectrum: " << text << "\n"; }
};

bool ParseInt(const std::string& text, int& value)
{
    return ParseDialogInteger(text, value) && text.find_first_not_of("+-0123456789") == std::string::npos;
}

/// Parses the command's arguments; returns an error text or "".
std::string ParseSpectrumOptions(const std::vector<std::string>& args, SpectrumOptions& o)
{
    OptionCursor cursor(args);
    while (cursor.Next()) {
        const std::string& name = cursor.Name();
        auto take = [&] { return cursor.Take(); };
        auto integer = [&](std::optional<int>& target, int lo, int hi) -> std::string {
            const auto v = take();
            int n = 0;
            if (!v || !ParseInt(*v, n) || n < lo || n > hi) {
                return name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
            }
            target = n;
            return "";
        };
        std::string error;
        if (name == "--thd") {
            o.thd = true;
        } else if (name == "--level") {
            o.level = true;
        } else if (name == "--in-device") {
            error = integer(o.inDevice, 0, 2);
        } else if (name == "--out-device") {
            error = integer(o.outDevice, 0, 2);
        } else if (name == "--points") {
            error = integer(o.points, 512, 4096);
            if (error.empty() && SpectrumRun::ItemForPoints(*o.points) < 0) {
                error = "--points must be 512, 1024, 2048 or 4096";
            }
        } else if (name == "--window") {
            const auto v = take();
            int n = -1;
            if (v && ParseInt(*v, n) && n >= 0 && n < kWindowCount) {
                o.window = n;
            } else if (v) {
                for (int k = 0; k < kWindowCount; ++k) {
                    if (*v == kWindowNames[static_cast<std::size_t>(k)]) {
                        o.window = k;
                    }
                }
            }
            if (!o.window) {
                error = "--window needs 0..8 or a window name (None, Hamming, van Hann, Blackman, Bla/Harris, "
                        "Flat-Top, Rife-Vinc1, Rife-Vinc2, Rife-Vinc3)";
            }
        } else if (name == "--average") {
            error = integer(o.average, 1, 9999);
        } else if (name == "--rate") {
            error = integer(o.rate, 1000, 200000);
        } else if (name == "--bits") {
            error = integer(o.bits, 8, 24);
            if (error.empty() && *o.bits != 8 && *o.bits != 16 && *o.bits != 24) {
                error = "--bits must be 8, 16 or 24";
            }
        } else if (name == "--fmin") {
            error = integer(o.fmin, 0, 200000);
        } else if (name == "--fmax") {
            error = integer(o.fmax, 1, 200000);
        } else if (name == "--tone") {
            const auto v = take();
            const std::string text = v.value_or("");
            const auto colon = text.find(':');
            int hz = 0, db = 0;
            if (!v || !ParseInt(text.substr(0, colon), hz) || hz < 1 || hz > 100000 ||
                (colon != std::string::npos && (!ParseInt(text.substr(colon + 1), db) || db > 0 || db < -100))) {
                error = "--tone needs FREQ[:LEVELDB] with a frequency in Hz and a level from -100 to 0 dB";
            } else {
                o.toneHz = hz;
                o.toneDb = db;
            }
        } else if (name == "--filter" || name == "--out" || name == "--sep" || name == "--png" || name == "--input") {
            const auto v = take();
            if (!v || (name != "--sep" && v->empty())) {
                error = name + " needs a value";
            } else {
                (name == "--filter" ? o.filter
                 : name == "--out"  ? o.out
                 : name == "--sep"  ? o.sep
                 : name == "--png"  ? o.png
                                    : o.input) = *v;
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
    if (o.filter && !IsFilterName(*o.filter)) {
        return "--filter needs the name of a weighting (exactly): " + FilterNames();
    }
    if (o.thd && o.level) {
        return "--thd and --level exclude each other";
    }
    if (o.input && (o.toneHz || o.rate || o.inDevice)) {
        return "--input takes the place of the input device: no --tone, --rate or --in-device with it";
    }
    if (o.fmin && o.fmax && *o.fmin >= *o.fmax) {
        return "--fmin must be below --fmax";
    }
    return "";
}

}  // namespace

int RunSpectrumCommand(const CliContext& ctx)
{
    SpectrumOptions o;
    if (const std::string error = ParseSpectrumOptions(ctx.args, o); !error.empty()) {
        std::cerr << "sonvera-cli spectrum: " << error << "\n" << kSpectrumUsage;
        return 2;
    }
    const AudioBackendChoice backend = ParseAudioBackend(ctx.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!backend.error.empty()) {
        std::cerr << "sonvera-cli spectrum: " << backend.error << "\n";
        return 2;
    }
    DutConfig dut;
    if (const std::string error = DutFromOptions(ctx.options.dut, std::getenv("SONVERA_DUT"), dut); !error.empty()) {
        std::cerr << "sonvera-cli spectrum: " << error << "\n";
        return 2;
    }

    // The configuration is only read: the command never writes it.
    ProfileFile profile(ConfigFilePath(ctx.options.configPath));
    Settings settings;

    std::unique_ptr<WaveLayer> layer;
    FileInputCard* fileCard = nullptr;
    const bool virtualCard = backend.backend == AudioBackend::Virtual || o.input.has_value();
    if (o.input) {
        auto card = std::make_unique<FileInputCard>();
        if (const std::string error = card->Load(*o.input); !error.empty()) {
            std::cerr << "sonvera-cli spectrum: " << error << "\n";
            return 1;
        }
        o.rate = card->Rate();
        fileCard = card.get();
        layer = std::move(card);
    } else if (virtualCard) {
        layer = std::make_unique<LoopbackCard>(dut, LoopbackClock::Instant);
    } else {
        std::string error;
        layer = CreateWaveLayer(backend.backend, dut, error);
        if (!layer) {
            std::cerr << "sonvera-cli spectrum: " << error << "\n";
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
        std::cerr << "sonvera-cli spectrum: the sound system could not be started ("
                  << engine.DeviceErrorText(static_cast<std::uint32_t>(error)) << ")\n";
        engine.SetProfile(nullptr);
        return 1;
    }
    engine.SetProfile(nullptr);  // so that the shutdown writes nothing

    MainReadHooks hooks;
    hooks.InDeviceCount = [&] { return inCount; };
    hooks.OutDeviceCount = [&] { return outCount; };
    ReadMainSections(profile, settings, hooks);
    ReadAnalysisSection(profile, settings.Analysis);

    const int inDevice = o.inDevice.value_or(settings.Main.InDeviceIndex);
    const int outDevice = o.outDevice.value_or(settings.Main.OutDeviceIndex);
    if (inDevice >= inCount || (o.toneHz && outDevice >= outCount)) {
        std::cerr << "sonvera-cli spectrum: no such device (" << inCount << " input and " << outCount
                  << " output devices)\n";
        engine.ShutdownSoundEngine();
        return 1;
    }
    engine.SelectInDevice(inDevice);
    engine.SelectOutDevice(outDevice);
    if (engine.CaptureFormats() == 0) {
        std::cerr << "sonvera-cli spectrum: no usable input device\n";
        engine.ShutdownSoundEngine();
        return 1;
    }
    if (o.rate || o.bits) {
        int bitsIn = 0, bitsOut = 0, rateIn = 0, rateOut = 0;
        engine.GetFormatBits(bitsIn, bitsOut);
        engine.GetSampleRates(rateIn, rateOut);
        DeviceFormat& in = engine.InDeviceFormats()[static_cast<std::size_t>(inDevice)];
        DeviceFormat& out = engine.OutDeviceFormats()[static_cast<std::size_t>(outDevice)];
        SetDeviceFormat(in, o.bits.value_or(bitsIn), in.SwapFlag != 0, static_cast<std::uint32_t>(o.rate.value_or(rateIn)));
        SetDeviceFormat(out, o.bits.value_or(bitsOut), out.SwapFlag != 0,
                        static_cast<std::uint32_t>(o.rate.value_or(rateOut)));
    }

    FftSettings& fft = settings.Fft;
    if (o.points) fft.FftPoints = *o.points;
    if (o.window) fft.FftWindow = *o.window;
    if (o.average) fft.FftAverage = *o.average;
    if (fileCard != nullptr) {
        const std::size_t needed = static_cast<std::size_t>(fft.FftPoints) * static_cast<std::size_t>(fft.FftAverage);
        if (fileCard->Frames() < needed) {
            std::cerr << "sonvera-cli spectrum: " << *o.input << " holds " << fileCard->Frames()
                      << " frames; " << fft.FftAverage << " blocks of " << fft.FftPoints << " need " << needed << "\n";
            engine.ShutdownSoundEngine();
            return 1;
        }
    }
    if (o.fmin) settings.Analysis.AnaFreqLow = *o.fmin;
    if (o.fmax) settings.Analysis.AnaFreqHigh = *o.fmax;
    if (o.thd || o.level) {
        settings.Analysis.ThdMeasure = o.thd;
        settings.Analysis.NoiseMeasure = o.level;
    }
    // The weighting as the program restores it; one named by --filter must be applied.
    WeightingFilter filter;
    CliCurveMessages curveMessages;
    CurveFileLoader curveLoader(curveMessages);
    curveLoader.SetCurveMessages(o.lang != 0 ? o.lang : settings.Main.UiLanguage);
    const std::string filterName = o.filter.value_or(settings.Analysis.AnaFilterName);
    filter.RestoreFilter(filterName, settings.Analysis.AnaFilterFile, curveLoader);
    if (o.filter && filter.AnaFilterName != *o.filter) {
        if (settings.Analysis.AnaFilterFile.empty()) {
            std::cerr << "sonvera-cli spectrum: the configuration names no user weighting file (ANALYSE/FILTERFILE)\n";
        } else {
            std::cerr << "sonvera-cli spectrum: the user weighting file '" << settings.Analysis.AnaFilterFile
                      << "' could not be loaded\n";
        }
        engine.ShutdownSoundEngine();
        return 1;
    }
    CorrectionCurve inCorrection;  // correction files are the program's business

    ModelDiagram diagram;
    diagram.model.Activate();
    CliPage page;
    page.average = fft.FftAverage;
    SpectrumRun run(engine, settings, diagram, page, filter, inCorrection);
    run.SetLanguage(o.lang != 0 ? o.lang : settings.Main.UiLanguage);

    GeneratorParams tone;
    if (o.toneHz) {
        tone.frequencyHz = *o.toneHz;
        tone.levelLeftDb = o.toneDb;
        tone.levelRightDb = o.toneDb;
        engine.SetOutputVolume(100);
    }
    // The tone loops for the whole run.
    auto startTone = [&] {
        if (!o.toneHz || engine.PlaybackActive()) {
            return 0;
        }
        return engine.StartPlayback(*o.toneHz, -1, tone);
    };
    if (const int error = startTone(); error != 0) {
        std::cerr << "sonvera-cli spectrum: the tone could not be played ("
                  << WaveOutErrorText(static_cast<MmResult>(error)) << ")\n";
        engine.ShutdownSoundEngine();
        return 1;
    }

    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    run.StartButtonClick();
    int status = 0;
    if (!run.Running) {
        std::cerr << "sonvera-cli spectrum: the measurement could not be started\n";
        status = 1;
    }
    while (status == 0 && (run.Running || page.nextQueued > 0)) {
        if (page.nextQueued > 0) {
            --page.nextQueued;
            run.SpectrumNext();
            continue;
        }
        if (!port.DeliverOne(std::chrono::seconds(10))) {
            std::cerr << "sonvera-cli spectrum: no block arrived from the input device within 10 s\n";
            status = 1;
        }
    }
    if (status == 0 && run.ResultsShown() == 0) {
        std::cerr << "sonvera-cli spectrum: the measurement ended without a result\n";
        status = 1;
    }
    engine.StopPlayback();

    if (status == 0) {
        const std::string separator = o.sep.value_or(",");
        if (o.out) {
            if (const int e = diagram.model.ExportDiagramText(*o.out, separator); e != 0) {
                std::cerr << "sonvera-cli spectrum: " << *o.out << " could not be written\n";
                status = 1;
            }
        } else {
            char name[] = "/tmp/sonvera-spectrum-XXXXXX";
            const int fd = mkstemp(name);
            if (fd < 0 || diagram.model.ExportDiagramText(name, separator) != 0) {
                std::cerr << "sonvera-cli spectrum: the table could not be prepared\n";
                status = 1;
            } else {
                std::ifstream table(name, std::ios::binary);
                std::cout << table.rdbuf();
            }
            if (fd >= 0) {
                close(fd);
                std::remove(name);
            }
        }
    }
    if (status == 0 && o.png) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        int argc = 1;
        char program[] = "sonvera-cli";
        char* argv[] = {program, nullptr};
        QGuiApplication app(argc, argv);
        QImage image;
        DiagramRenderer renderer;
        if (!DiagramRenderer::LayoutImage(diagram.model, image, 1000, 700, 8, false)) {
            std::cerr << "sonvera-cli spectrum: the diagram could not be laid out\n";
            status = 1;
        } else {
            renderer.RenderDiagram(diagram.model, image, true, diagram.model.GetComment(), 60);
            if (!image.save(QString::fromStdString(*o.png), "PNG")) {
                std::cerr << "sonvera-cli spectrum: " << *o.png << " could not be written\n";
                status = 1;
            }
        }
    }
    if (status == 0) {
        std::cout << "# " << diagram.model.ResultLine() << "\n";
    }
    run.LeaveSpectrumPage();
    engine.ShutdownSoundEngine();
    return status;
}

}  // namespace sonvera
