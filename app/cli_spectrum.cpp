// sonvera-cli spectrum: one spectrum run of the analyser without a window.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/clisession.h"
#include "app/waitingport.h"
#include "config/numberformat.h"
#include "config/profilevalues.h"
#include "config/sections.h"
#include "diagram/diagrammodel.h"
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
    "Prints one line per bin from 0 Hz (frequency, left and right level in dB), then '# ' lines: clipping\n"
    "('Over n') and the result line. --input analyses a wave file at its own rate and depth,\n"
    "--skip starting that many seconds into it.\n";

namespace {

/// The virtual card with its input replaced by the frames of a wave file: each recorded
/// buffer is overwritten with the file's next frames, encoded in the device's format,
/// before the engine takes it, so the block passes the same conversion as a recording.
/// The file is read block by block, only as far as the run goes.
class FileInputCard : public LoopbackCard {
public:
    FileInputCard() : LoopbackCard(DutConfig{}, LoopbackClock::Instant) {}

    WaveFileInput input;

    MmResult WaveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat& format, WavePost post,
                        std::uint32_t flags) override
    {
        if ((flags & kWaveOpenQuery) != 0) {
            return LoopbackCard::WaveInOpen(handle, deviceId, format, std::move(post), flags);
        }
        format_ = format;
        WavePost fill = [this, post = std::move(post)](WaveMessage message, WaveHeader* header) {
            if (message == WaveMessage::InData && header != nullptr) {
                input.FillBlock(header->data, header->bytesRecorded, format_);
            }
            if (post) {
                post(message, header);
            }
        };
        return LoopbackCard::WaveInOpen(handle, deviceId, format, std::move(fill), flags);
    }

private:
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

/// The page without widgets: the averaging count, the queued next block, and the
/// largest overload of any block.
class CliPage : public SpectrumPageView {
public:
    int average = -1;
    int nextQueued = 0;
    int blocks = 0;
    int clippedBlocks = 0;
    std::string worstOverload;
    int worstCount = 0;
    int AverVal() const override { return average; }
    void SetOverloadLabel(const std::string& text) override
    {
        ++blocks;
        if (text.rfind("Over ", 0) != 0) {
            return;
        }
        ++clippedBlocks;
        const int count = std::atoi(text.c_str() + 5);
        if (count > worstCount || worstOverload.empty()) {
            worstCount = count;
            worstOverload = text;
        }
    }
    void PostSpectrumNext() override { ++nextQueued; }
};

struct SpectrumOptions {
    std::optional<int> inDevice, outDevice, points, window, average, rate, bits, fmin, fmax;
    std::optional<int> toneHz;
    int toneDb = 0;
    bool thd = false, level = false;
    std::optional<std::string> filter, out, sep, png, input;
    std::optional<double> skipSeconds;
    char lang = 0;
};

/// Takes one option of the command; returns "" or the error.
std::string ParseSpectrumOption(OptionCursor& cursor, SpectrumOptions& o)
{
    const std::string& name = cursor.Name();
    auto integer = [&](std::optional<int>& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    if (name == "--thd") {
        o.thd = true;
    } else if (name == "--level") {
        o.level = true;
    } else if (name == "--in-device") {
        return integer(o.inDevice, 0, 2);
    } else if (name == "--out-device") {
        return integer(o.outDevice, 0, 2);
    } else if (name == "--points") {
        const auto v = cursor.Take();
        int n = 0;
        if (!v || !ParseWholeNumber(*v, n) || SpectrumRun::ItemForPoints(n) < 0) {
            return "--points must be a power of two from 512 to 1048576";
        }
        o.points = n;
    } else if (name == "--skip") {
        const auto v = cursor.Take();
        const auto seconds = v ? ParseReal(*v) : std::nullopt;
        if (!seconds || !std::isfinite(*seconds) || *seconds < 0.0 || *seconds > 1e6) {
            return "--skip needs a number of seconds from 0 up";
        }
        o.skipSeconds = *seconds;
    } else if (name == "--window") {
        const auto v = cursor.Take();
        int n = -1;
        if (v && ParseWholeNumber(*v, n) && n >= 0 && n < kWindowCount) {
            o.window = n;
        } else if (v) {
            for (int k = 0; k < kWindowCount; ++k) {
                if (*v == kWindowNames[static_cast<std::size_t>(k)]) {
                    o.window = k;
                }
            }
        }
        if (!v || !o.window) {
            return "--window needs 0..8 or a window name (None, Hamming, van Hann, Blackman, Bla/Harris, "
                   "Flat-Top, Rife-Vinc1, Rife-Vinc2, Rife-Vinc3)";
        }
    } else if (name == "--average") {
        return integer(o.average, 1, 9999);
    } else if (name == "--rate") {
        return integer(o.rate, 8000, 192000);
    } else if (name == "--bits") {
        const std::string error = integer(o.bits, 8, 24);
        if (error.empty() && *o.bits != 8 && *o.bits != 16 && *o.bits != 24) {
            return "--bits must be 8, 16 or 24";
        }
        return error;
    } else if (name == "--fmin") {
        return integer(o.fmin, 0, 200000);
    } else if (name == "--fmax") {
        return integer(o.fmax, 1, 200000);
    } else if (name == "--tone") {
        const auto v = cursor.Take();
        const std::string text = v.value_or("");
        const auto colon = text.find(':');
        int hz = 0, db = 0;
        if (!v || !ParseWholeNumber(text.substr(0, colon), hz) || hz < 1 || hz > 100000 ||
            (colon != std::string::npos && (!ParseWholeNumber(text.substr(colon + 1), db) || db > 0 || db < -100))) {
            return "--tone needs FREQ[:LEVELDB] with a frequency in Hz and a level from -100 to 0 dB";
        }
        o.toneHz = hz;
        o.toneDb = db;
    } else if (name == "--filter" || name == "--out" || name == "--sep" || name == "--png" || name == "--input") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return name + " needs a value that is not empty";
        }
        (name == "--filter" ? o.filter
         : name == "--out"  ? o.out
         : name == "--sep"  ? o.sep
         : name == "--png"  ? o.png
                            : o.input) = *v;
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
    if (o.input && (o.toneHz || o.rate || o.inDevice || o.bits)) {
        return "--input takes the place of the input device at the file's rate and depth: no --tone, --rate, "
               "--bits or --in-device with it";
    }
    if (o.skipSeconds && !o.input) {
        return "--skip needs --input: it starts the analysis later in the file";
    }
    if (o.fmin && o.fmax && *o.fmin >= *o.fmax) {
        return "--fmin must be below --fmax";
    }
    return "";
}

/// Every bin of the spectrum the run stored, 0 Hz up to the last below half the rate, one
/// line each in the form of the diagram's text export (frequency and both levels with two
/// decimals, CR LF), whatever frequency range the diagram shows.
std::string BinTable(const DiagramModel& model, int bins, const std::string& separator)
{
    const std::string sep = separator == "\\t" ? "\t" : separator == "\\n" ? "\r\n" : separator;
    const auto count = static_cast<std::size_t>(std::clamp(bins, 0, model.Capacity()));
    std::string text;
    text.reserve(count * 26);
    for (std::size_t i = 0; i < count; ++i) {
        text += FormatFixed(model.FreqArray[i], 2);
        text += sep;
        text += FormatFixed(model.Curve1Array[i], 2);
        text += sep;
        text += FormatFixed(model.Curve2Array[i], 2);
        text += "\r\n";
    }
    return text;
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

    CliSession session(ctx);
    std::unique_ptr<FileInputCard> card;
    FileInputCard* fileCard = nullptr;
    if (o.input) {
        card = std::make_unique<FileInputCard>();
        if (const std::string error = card->input.Open(*o.input); !error.empty()) {
            return ctx.Fail(1, error);
        }
        fileCard = card.get();
        session.Inputs().Add(*o.input);
    }
    if (const int status = session.Start(std::move(card)); status != 0) {
        return status;
    }
    if (const int status = session.SelectDevices(o.inDevice, o.outDevice, o.toneHz.has_value()); status != 0) {
        return status;
    }
    SoundEngine& engine = session.Engine();
    const int inDevice = engine.InDeviceIndex();
    const int outDevice = engine.OutDeviceIndex();
    DeviceFormat& in = engine.InDeviceFormats()[static_cast<std::size_t>(inDevice)];
    DeviceFormat& out = engine.OutDeviceFormats()[static_cast<std::size_t>(outDevice)];
    if (fileCard != nullptr) {
        // The file's samples reach the analysis as they are: captured at the file's own
        // depth and rate, whatever the configuration holds for the device.
        SetDeviceFormat(in, fileCard->input.Bits(), false, static_cast<std::uint32_t>(fileCard->input.Rate()));
    } else if (o.rate || o.bits) {
        int bitsIn = 0, bitsOut = 0, rateIn = 0, rateOut = 0;
        engine.GetFormatBits(bitsIn, bitsOut);
        engine.GetSampleRates(rateIn, rateOut);
        SetDeviceFormat(in, o.bits.value_or(bitsIn), in.SwapFlag != 0, static_cast<std::uint32_t>(o.rate.value_or(rateIn)));
        SetDeviceFormat(out, o.bits.value_or(bitsOut), out.SwapFlag != 0,
                        static_cast<std::uint32_t>(o.rate.value_or(rateOut)));
    }

    Settings& settings = session.settings;
    FftSettings& fft = settings.Fft;
    if (o.points) fft.FftPoints = *o.points;
    if (o.window) fft.FftWindow = *o.window;
    if (o.average) fft.FftAverage = *o.average;
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
    if (fileCard != nullptr) {
        const std::size_t needed = static_cast<std::size_t>(fft.FftPoints) * static_cast<std::size_t>(fft.FftAverage);
        const std::size_t frames = fileCard->input.Frames();
        const auto skip = static_cast<std::size_t>(std::llround(o.skipSeconds.value_or(0.0) * fileCard->input.Rate()));
        const std::string blocks =
            std::to_string(fft.FftAverage) + " blocks of " + std::to_string(fft.FftPoints) + " need " + std::to_string(needed);
        if (skip >= frames) {
            return ctx.Fail(1, *o.input + " holds " + std::to_string(frames) + " frames (" +
                                   FormatFixed(static_cast<double>(frames) / fileCard->input.Rate(), 3) +
                                   " s): --skip " + FormatFixed(*o.skipSeconds, 3) + " s lies beyond its end");
        }
        if (frames - skip < needed) {
            return ctx.Fail(1, *o.input + " holds " + std::to_string(frames) + " frames" +
                                   (skip > 0 ? ", " + std::to_string(frames - skip) + " after --skip" : std::string()) +
                                   "; " + blocks);
        }
        if (const std::string error = fileCard->input.Skip(skip); !error.empty()) {
            return ctx.Fail(1, error);
        }
    }
    if (o.toneHz) {
        int rateIn = 0, rateOut = 0, bitsIn = 0, bitsOut = 0;
        engine.GetSampleRates(rateIn, rateOut);
        engine.GetFormatBits(bitsIn, bitsOut);
        if (const std::string problem = ToneProblem(*o.toneHz, rateOut, bitsOut == 24 ? 4 : bitsOut / 8);
            !problem.empty()) {
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

    if (o.toneHz) {
        GeneratorParams tone;
        tone.frequencyHz = *o.toneHz;
        tone.levelLeftDb = o.toneDb;
        tone.levelRightDb = o.toneDb;
        engine.SetOutputVolume(100);
        // The tone loops for the whole run.
        if (const int error = engine.StartPlayback(*o.toneHz, -1, tone); error != 0) {
            return ctx.Fail(1, "the tone could not be played (" + WaveOutErrorText(static_cast<MmResult>(error)) + ")");
        }
    }

    run.EnterSpectrumPage();
    run.RunningGroupClick(0);
    run.StartButtonClick();
    int status = 0;
    if (!run.Running) {
        status = ctx.Fail(1, "the measurement could not be started");
    }
    while (status == 0 && (run.Running || page.nextQueued > 0)) {
        if (page.nextQueued > 0) {
            --page.nextQueued;
            run.SpectrumNext();
            continue;
        }
        if (!session.Port().DeliverOne(std::chrono::seconds(10))) {
            status = ctx.Fail(1, "no block arrived from the input device within 10 s");
        }
    }
    engine.StopPlayback();
    if (status == 0 && fileCard != nullptr && !fileCard->input.ReadError().empty()) {
        status = ctx.Fail(1, fileCard->input.ReadError());
    }
    if (status == 0 && run.ResultsShown() == 0) {
        status = ctx.Fail(1, "the measurement ended without a result");
    }
    if (status != 0) {
        run.LeaveSpectrumPage();
        return status;
    }

    // The results: files first, each whole or not at all, then standard output.
    const std::string table = BinTable(diagram.model, fft.FftPoints / 2, o.sep.value_or(","));
    std::string png, pngError;
    if (o.png) {
        png = DiagramPicture(diagram.model, pngError);
    }
    run.LeaveSpectrumPage();
    std::string text = o.out ? std::string() : table;
    if (!page.worstOverload.empty()) {
        text += "# " + page.worstOverload;
        if (page.blocks > 1) {
            text += " (" + std::to_string(page.clippedBlocks) + " of " + std::to_string(page.blocks) + " blocks)";
        }
        text += "\n";
    }
    if (engine.DroppedBlocks() > 0) {
        text += "# dropped " + std::to_string(engine.DroppedBlocks()) + " blocks with gaps (recorded again)\n";
    }
    text += "# " + diagram.model.ResultLine() + "\n";
    if (o.out && ctx.WriteFile(*o.out, table) != 0) {
        return 1;
    }
    if (o.png && png.empty()) {
        return ctx.Fail(1, pngError);
    }
    if (o.png && ctx.WriteFile(*o.png, png) != 0) {
        return 1;
    }
    return ctx.Print(text);
}

}  // namespace sonvera
