#include "app/clisession.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <cstdlib>
#include <iostream>

#include "app/waitingport.h"
#include "config/configpath.h"
#include "config/profilefile.h"
#include "config/sections.h"
#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"
#include "engine/looplength.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "platform/wavelayer.h"

namespace sonvera {

CliSession::CliSession(const CliContext& ctx) : ctx_(ctx), loader_(*this)
{
    previousPrompts_ = SetPromptService(this);
}

CliSession::~CliSession()
{
    if (engine_) {
        engine_->SetProfile(nullptr);  // the configuration is only read
        engine_->ShutdownSoundEngine();
    }
    port_.reset();
    engine_.reset();
    SetPromptService(previousPrompts_);
}

void CliSession::Warning(const std::string& text)
{
    ctx_.Fail(0, text);
}

void CliSession::Show(const Prompt& prompt)
{
    ctx_.Fail(0, prompt.text);
    errorPrompts_ += prompt.kind == PromptKind::Error ? 1 : 0;
}

int CliSession::Start(std::unique_ptr<WaveLayer> layer)
{
    const AudioBackendChoice backend = ParseAudioBackend(ctx_.options.audio, std::getenv("SONVERA_AUDIO"));
    if (!backend.error.empty()) {
        return ctx_.Fail(2, backend.error);
    }
    DutConfig dut;
    if (const std::string error = DutFromOptions(ctx_.options.dut, std::getenv("SONVERA_DUT"), dut); !error.empty()) {
        return ctx_.Fail(2, error);
    }

    const std::string configPath = ConfigFilePath(ctx_.options.configPath);
    profile_ = std::make_unique<ProfileFile>(configPath);
    FileProblem problem;
    // One read of the file for every reader of the session (it never writes it).
    if (profile_->BeginReading(&problem) == ProfileFile::Status::Unreadable) {
        // Measuring with defaults would pass them off as the file's settings.
        return ctx_.Fail(1, "cannot read '" + configPath + "': " + DescribeFileProblem(problem));
    }
    loader_.SetFolder(ConfigFolder(configPath));  // correction files named without a folder
    inputs_.Add(configPath);

    instant_ = layer != nullptr || backend.backend == AudioBackend::Virtual;
    if (layer) {
        layer_ = std::move(layer);
    } else if (backend.backend == AudioBackend::Virtual) {
        layer_ = std::make_unique<LoopbackCard>(dut, LoopbackClock::Instant);
    } else {
        std::string error;
        layer_ = CreateWaveLayer(backend.backend, dut, error);
        if (!layer_) {
            return ctx_.Fail(1, error);
        }
    }
    engine_ = std::make_unique<SoundEngine>(*layer_);
    port_ = std::make_unique<WaitingPort>(*engine_);

    // The per-device formats are read at the engine's start; nothing is written back.
    engine_->SetProfile(profile_.get());
    const int error = StartSoundSystem(*engine_, *profile_, devices_);
    engine_->SetProfile(nullptr);
    if (error != 0) {
        return ctx_.Fail(1, "the sound system could not be started (" +
                                engine_->DeviceErrorText(static_cast<std::uint32_t>(error)) + ")");
    }
    const StartCurves curves{InCorrection, OutCorrection, loader_, false,
                             [this](const std::string& name) { inputs_.Add(name); }};
    ReadStartSettings(*profile_, *engine_, devices_, settings, curves);
    ReadStartFilter(*profile_, settings.Analysis, Filter, loader_);
    if (!Filter.UserFile().empty()) {
        inputs_.Add(Filter.UserFile());
    }
    ReadLogSweepSection(*profile_, settings.LogSweep);
    if (engine_->CaptureFormats() == 0) {
        return ctx_.Fail(1, "no usable input device");
    }
    return 0;
}

LoopbackCard* CliSession::InstantCard()
{
    return instant_ ? dynamic_cast<LoopbackCard*>(layer_.get()) : nullptr;
}

int CliSession::SelectDevices(std::optional<int> inDevice, std::optional<int> outDevice, bool needOutput)
{
    const int in = inDevice.value_or(engine_->InDeviceIndex());
    const int out = outDevice.value_or(engine_->OutDeviceIndex());
    if (in >= devices_.inCount || (needOutput && out >= devices_.outCount)) {
        return ctx_.Fail(1, "no such device (" + std::to_string(devices_.inCount) + " input and " +
                                std::to_string(devices_.outCount) + " output devices)");
    }
    engine_->SelectInDevice(in);
    engine_->SelectOutDevice(out);
    settings.Main.InDeviceIndex = in;
    settings.Main.OutDeviceIndex = out;
    if (engine_->CaptureFormats() == 0) {
        return ctx_.Fail(1, "no usable input device");
    }
    return 0;
}

int CliSession::CheckOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& waveFiles)
{
    std::vector<std::string> all = outputs;
    all.insert(all.end(), waveFiles.begin(), waveFiles.end());
    InputFiles earlier;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string& out = all[i];
        if (const auto input = inputs_.SameFileAs(out)) {
            return ctx_.Fail(2, "the output " + out + " is the input " + *input + "; name another file");
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (all[k] == out || earlier.SameFileAs(out)) {
                return ctx_.Fail(2, "two outputs name the same file " + out);
            }
        }
        earlier.Add(out);
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::string error;
        if (const int status = targets_.Check(all[i], i >= outputs.size(), error); status != 0) {
            return ctx_.Fail(status, error);
        }
    }
    return 0;
}

std::string ToneProblem(int freqHz, int rateHz, int bytesPerSample)
{
    const std::string tone = "a tone of " + std::to_string(freqHz) + " Hz";
    if (freqHz < 1 || rateHz < 1 || static_cast<long long>(freqHz) * 2 >= rateHz) {
        return tone + " is not below half the sample rate of " + std::to_string(rateHz) + " Hz";
    }
    if (bytesPerSample > 0) {
        // The looped buffer holds whole periods; near half the rate the loop that fits
        // best can be one period in two frames, which plays half the rate instead.
        const LoopLength loop = ComputeLoopLength(0, freqHz, rateHz, bytesPerSample, -1);
        if (loop.frames > 0 && 2 * loop.periods >= static_cast<std::int64_t>(loop.frames)) {
            return tone + " would loop as half the sample rate of " + std::to_string(rateHz) + " Hz";
        }
    }
    return "";
}

std::string PngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        return "";
    }
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

OffscreenDrawing::OffscreenDrawing()
{
    static int argc = 1;
    static char program[] = "sonvera-cli";
    static char* argv[] = {program, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
}

OffscreenDrawing::~OffscreenDrawing() = default;

std::string DiagramPicture(DiagramModel& model, std::string& error)
{
    const OffscreenDrawing drawing;
    QImage image;
    DiagramRenderer renderer;
    if (!DiagramRenderer::LayoutImage(model, image, 1000, 700, 8, false)) {
        error = "the diagram could not be laid out";
        return "";
    }
    renderer.RenderDiagram(model, image, true, model.GetComment(), 60);
    std::string png = PngBytes(image);
    if (png.empty()) {
        error = "the picture could not be encoded";
    }
    return png;
}

}  // namespace sonvera
