#include "app/clicapture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "app/waitingport.h"
#include "config/numberformat.h"
#include "config/profilevalues.h"
#include "dsp/window.h"
#include "engine/soundengine.h"
#include "measure/distortionmeter.h"

namespace sonvera {

MmResult FileInputCard::WaveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat& format, WavePost post,
                                   std::uint32_t flags)
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

void CliPage::SetOverloadLabel(const std::string& text)
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

std::string CliPage::OverloadNote() const
{
    if (worstOverload.empty()) {
        return "";
    }
    std::string text = "# " + worstOverload;
    if (blocks > 1) {
        text += " (" + std::to_string(clippedBlocks) + " of " + std::to_string(blocks) + " blocks)";
    }
    return text + "\n";
}

void CaptureOptions::MeasurementDefaults(int blocks)
{
    points = points.value_or(65536);
    window = window.value_or(kDistortionWindow);
    average = average.value_or(blocks);
}

std::string TakeLevelDb(OptionCursor& cursor, double& db)
{
    const auto v = cursor.Take();
    const auto level = v ? ParseReal(*v) : std::nullopt;
    if (!level || !std::isfinite(*level) || *level > 0.0 || *level < -100.0) {
        return cursor.Name() + " needs a level in dB from -100 to 0";
    }
    db = *level;
    return "";
}

std::optional<std::string> ParseCaptureOption(OptionCursor& cursor, CaptureOptions& o)
{
    const std::string& name = cursor.Name();
    auto integer = [&](std::optional<int>& target, int lo, int hi) { return TakeWholeNumber(cursor, lo, hi, target); };
    if (name == "--in-device") {
        return integer(o.inDevice, 0, 2);
    }
    if (name == "--out-device") {
        return integer(o.outDevice, 0, 2);
    }
    if (name == "--points") {
        const auto v = cursor.Take();
        int n = 0;
        if (!v || !ParseWholeNumber(*v, n) || SpectrumRun::ItemForPoints(n) < 0) {
            return "--points must be a power of two from 512 to 1048576";
        }
        o.points = n;
        return "";
    }
    if (name == "--skip") {
        const auto v = cursor.Take();
        const auto seconds = v ? ParseReal(*v) : std::nullopt;
        if (!seconds || !std::isfinite(*seconds) || *seconds < 0.0 || *seconds > 1e6) {
            return "--skip needs a number of seconds from 0 up";
        }
        o.skipSeconds = *seconds;
        return "";
    }
    if (name == "--window") {
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
        return "";
    }
    if (name == "--average") {
        return integer(o.average, 1, 9999);
    }
    if (name == "--rate") {
        return integer(o.rate, 8000, 192000);
    }
    if (name == "--bits") {
        const std::string error = integer(o.bits, 8, 24);
        if (error.empty() && *o.bits != 8 && *o.bits != 16 && *o.bits != 24) {
            return "--bits must be 8, 16 or 24";
        }
        return error;
    }
    if (name == "--input") {
        const auto v = cursor.Take();
        if (!v || v->empty()) {
            return name + " needs a value that is not empty";
        }
        o.input = *v;
        return "";
    }
    return std::nullopt;
}

std::string CheckCaptureOptions(const CaptureOptions& o, bool plays)
{
    if (o.input && (plays || o.rate || o.inDevice || o.bits)) {
        return "--input takes the place of the input device at the file's rate and depth: no --tone, --rate, "
               "--bits or --in-device with it";
    }
    if (o.skipSeconds && !o.input) {
        return "--skip needs --input: it starts the analysis later in the file";
    }
    return "";
}

int CliCapture::Open(const CaptureOptions& o, bool needOutput)
{
    std::unique_ptr<FileInputCard> card;
    if (o.input) {
        card = std::make_unique<FileInputCard>();
        if (const std::string error = card->input.Open(*o.input); !error.empty()) {
            return ctx_.Fail(1, error);
        }
        fileCard_ = card.get();
        session_.Inputs().Add(*o.input);
    }
    inputName_ = o.input;
    skipSeconds_ = o.skipSeconds;
    if (const int status = session_.Start(std::move(card)); status != 0) {
        return status;
    }
    if (const int status = session_.SelectDevices(o.inDevice, o.outDevice, needOutput); status != 0) {
        return status;
    }
    SoundEngine& engine = session_.Engine();
    DeviceFormat& in = engine.InDeviceFormats()[static_cast<std::size_t>(engine.InDeviceIndex())];
    DeviceFormat& out = engine.OutDeviceFormats()[static_cast<std::size_t>(engine.OutDeviceIndex())];
    if (fileCard_ != nullptr) {
        // The file's samples reach the analysis as they are: captured at the file's own
        // depth and rate, whatever the configuration holds for the device.
        SetDeviceFormat(in, fileCard_->input.Bits(), false, static_cast<std::uint32_t>(fileCard_->input.Rate()));
    } else if (o.rate || o.bits) {
        int bitsIn = 0, bitsOut = 0, rateIn = 0, rateOut = 0;
        engine.GetFormatBits(bitsIn, bitsOut);
        engine.GetSampleRates(rateIn, rateOut);
        SetDeviceFormat(in, o.bits.value_or(bitsIn), in.SwapFlag != 0, static_cast<std::uint32_t>(o.rate.value_or(rateIn)));
        SetDeviceFormat(out, o.bits.value_or(bitsOut), out.SwapFlag != 0,
                        static_cast<std::uint32_t>(o.rate.value_or(rateOut)));
    }
    int rateIn = 0, rateOut = 0;
    engine.GetSampleRates(rateIn, rateOut);
    inputRate_ = rateIn;
    FftSettings& fft = session_.settings.Fft;
    if (o.points) fft.FftPoints = *o.points;
    if (o.window) fft.FftWindow = *o.window;
    if (o.average) fft.FftAverage = *o.average;
    return 0;
}

int CliCapture::CheckFileLength(int blocks)
{
    if (fileCard_ == nullptr) {
        return 0;
    }
    const FftSettings& fft = session_.settings.Fft;
    const std::size_t needed = static_cast<std::size_t>(fft.FftPoints) * static_cast<std::size_t>(blocks);
    const std::size_t frames = fileCard_->input.Frames();
    const auto skip = static_cast<std::size_t>(std::llround(skipSeconds_.value_or(0.0) * fileCard_->input.Rate()));
    const std::string need =
        std::to_string(blocks) + " blocks of " + std::to_string(fft.FftPoints) + " need " + std::to_string(needed);
    if (skip >= frames) {
        return ctx_.Fail(1, *inputName_ + " holds " + std::to_string(frames) + " frames (" +
                                FormatFixed(static_cast<double>(frames) / fileCard_->input.Rate(), 3) +
                                " s): --skip " + FormatFixed(*skipSeconds_, 3) + " s lies beyond its end");
    }
    if (frames - skip < needed) {
        return ctx_.Fail(1, *inputName_ + " holds " + std::to_string(frames) + " frames" +
                                (skip > 0 ? ", " + std::to_string(frames - skip) + " after --skip" : std::string()) +
                                "; " + need);
    }
    if (const std::string error = fileCard_->input.Skip(skip); !error.empty()) {
        return ctx_.Fail(1, error);
    }
    return 0;
}

std::string CliCapture::ToneProblemOf(int freqHz)
{
    int rateIn = 0, rateOut = 0, bitsIn = 0, bitsOut = 0;
    Engine().GetSampleRates(rateIn, rateOut);
    Engine().GetFormatBits(bitsIn, bitsOut);
    return ToneProblem(freqHz, rateOut, bitsOut == 24 ? 4 : bitsOut / 8);
}

int DriveSpectrumRun(CliContext& ctx, CliSession& session, SpectrumRun& run, CliPage& page, const StartSignal& play)
{
    SoundEngine& engine = session.Engine();
    if (play) {
        engine.SetOutputVolume(100);
        // The signal loops for the whole run.
        if (const int error = play(engine); error != 0) {
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
    if (status == 0 && run.ResultsShown() == 0) {
        status = ctx.Fail(1, "the measurement ended without a result");
    }
    return status;
}

int CliCapture::OutputRate()
{
    int rateIn = 0, rateOut = 0;
    Engine().GetSampleRates(rateIn, rateOut);
    return rateOut;
}

int CliCapture::Run(const std::vector<float>& left, const std::vector<float>& right, int toneHz)
{
    Settings& settings = session_.settings;
    ModelDiagram diagram;
    diagram.model.Activate();
    CliPage page;
    page.average = settings.Fft.FftAverage;
    SpectrumRun run(Engine(), settings, diagram, page, session_.Filter, session_.InCorrection);
    StartSignal play;
    if (!left.empty()) {
        play = [&](SoundEngine& engine) { return engine.StartLoopedSignal(left, right, toneHz); };
    }
    int status = DriveSpectrumRun(ctx_, session_, run, page, play);
    if (status == 0 && fileCard_ != nullptr && !fileCard_->input.ReadError().empty()) {
        status = ctx_.Fail(1, fileCard_->input.ReadError());
    }
    if (status == 0) {
        const auto half = static_cast<std::size_t>(settings.Fft.FftPoints / 2);
        const bool weighted = session_.Filter.Standard() != StandardWeighting::None;
        left_.assign(run.SpectrumLeft.begin(), run.SpectrumLeft.begin() + static_cast<std::ptrdiff_t>(half));
        right_.assign(run.SpectrumRight.begin(), run.SpectrumRight.begin() + static_cast<std::ptrdiff_t>(half));
        weightedLeft_.clear();
        weightedRight_.clear();
        if (weighted && run.WeightedLeft.size() >= half && run.WeightedRight.size() >= half) {
            weightedLeft_.assign(run.WeightedLeft.begin(), run.WeightedLeft.begin() + static_cast<std::ptrdiff_t>(half));
            weightedRight_.assign(run.WeightedRight.begin(),
                                  run.WeightedRight.begin() + static_cast<std::ptrdiff_t>(half));
        }
        dropped_ += Engine().DroppedBlocks();
        for (int b = 0; b < page.blocks; ++b) {
            notes_.SetOverloadLabel(b < page.clippedBlocks ? page.worstOverload : ".");
        }
    }
    run.LeaveSpectrumPage();
    return status;
}

ChannelSpectrum CliCapture::Channel(int channel) const
{
    const std::vector<float>& plain = channel == 0 ? left_ : right_;
    const std::vector<float>& weighted = channel == 0 ? weightedLeft_ : weightedRight_;
    return ChannelSpectrum(std::span<const float>(plain), std::span<const float>(weighted));
}

std::optional<std::string> ParseBandOption(OptionCursor& cursor, BandOptions& o, bool wide)
{
    const std::string& name = cursor.Name();
    if (name == "--bandwidth") {
        const auto v = cursor.Take();
        const std::string text = v.value_or("");
        const std::string error = wide ? "--bandwidth needs 20k, 22k, 80k or LO:HI in Hz (LO below HI, HI up to 200000)"
                                       : "--bandwidth needs 20k, 22k or LO:HI in Hz (LO below HI, HI up to 200000)";
        if (text == "20k") {
            o.lowHz = 20.0, o.highHz = 20000.0;
        } else if (text == "22k") {
            o.lowHz = 22.0, o.highHz = 22000.0;
        } else if (text == "80k" && wide) {
            o.lowHz = 10.0, o.highHz = 80000.0;
        } else {
            const auto colon = text.find(':');
            const auto lo = colon == std::string::npos ? std::nullopt : ParseReal(text.substr(0, colon));
            const auto hi = colon == std::string::npos ? std::nullopt : ParseReal(text.substr(colon + 1));
            if (!lo || !hi || !std::isfinite(*lo) || !std::isfinite(*hi) || *lo < 0.0 || *hi <= *lo || *hi > 200000.0) {
                return error;
            }
            o.lowHz = *lo, o.highHz = *hi;
        }
        return "";
    }
    if (name == "--weighting") {
        const auto v = cursor.Take();
        const std::string text = v.value_or("");
        const std::string chosen = text == "A" ? "A (IEC 61672)" : text == "468" ? "ITU-R 468" : text;
        for (const Weighting& w : Weightings()) {
            if (w.name == chosen) {
                o.weighting = chosen;
                return "";
            }
        }
        return "--weighting needs none, A, 468 or the exact name of a weighting";
    }
    return std::nullopt;
}

std::string ParseToneValue(const std::optional<std::string>& value, int& hz, int& db)
{
    const std::string text = value.value_or("");
    const auto colon = text.find(':');
    int h = 0, d = db;
    if (!value || !ParseWholeNumber(text.substr(0, colon), h) || h < 1 || h > 100000 ||
        (colon != std::string::npos && (!ParseWholeNumber(text.substr(colon + 1), d) || d > 0 || d < -100))) {
        return "--tone needs FREQ[:LEVELDB] with a frequency in Hz and a level from -100 to 0 dB";
    }
    hz = h;
    db = d;
    return "";
}

DistortionParams ReadingParams(CliCapture& capture, const BandOptions& band)
{
    const FftSettings& fft = capture.Config().Fft;
    return DistortionParamsFor(capture.InputRate(), fft.FftPoints, fft.FftWindow, band.lowHz, band.highHz);
}

std::string BandNote(const BandOptions& band, const DistortionParams& params)
{
    if (params.bandHighHz >= band.highHz) {
        return "";
    }
    return "# band ends at " + FormatFixed(params.bandHighHz, 0) + " Hz (half the rate)\n";
}

std::string OutcomeText(DistortionOutcome outcome)
{
    switch (outcome) {
    case DistortionOutcome::Measured:
        break;
    case DistortionOutcome::NoSignal:
        return "no signal";
    case DistortionOutcome::ResolutionTooCoarse:
        return "resolution too coarse";
    case DistortionOutcome::OutsideBand:
        return "fundamental outside the band";
    }
    return "";
}

std::string Number(double v, int decimals)
{
    if (std::isnan(v)) {
        return "nan";
    }
    if (std::isinf(v)) {
        return v > 0 ? "inf" : "-inf";
    }
    return FormatFixed(v, decimals);
}

void CaptureSettings(CliCapture& capture, CliResult& result)
{
    if (capture.File() != nullptr && capture.InputName()) {
        result.settings["input"] = *capture.InputName();
        result.settings["skip_s"] = capture.SkipSeconds().value_or(0.0);
    }
    int bitsIn = 0, bitsOut = 0;
    capture.Engine().GetFormatBits(bitsIn, bitsOut);
    const FftSettings& fft = capture.Config().Fft;
    result.settings["rate_hz"] = capture.InputRate();
    result.settings["bits"] = bitsIn;
    result.settings["points"] = fft.FftPoints;
    result.settings["window"] = std::string(kWindowNames[static_cast<std::size_t>(std::clamp(fft.FftWindow, 0, kWindowCount - 1))]);
    result.settings["average"] = fft.FftAverage;
}

void BandSettings(const BandOptions& band, const DistortionParams& params, CliResult& result)
{
    result.settings["band_low_hz"] = params.bandLowHz;
    result.settings["band_high_hz"] = params.bandHighHz;
    result.settings["weighting"] = band.weighting;
}

std::string CliCapture::Notes() const
{
    std::string text = notes_.OverloadNote();
    if (dropped_ > 0) {
        text += "# dropped " + std::to_string(dropped_) + " blocks with gaps (recorded again)\n";
    }
    return text;
}

}  // namespace sonvera
