#pragma once
// The headless session every measuring command of sonvera-cli runs in.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/outputfile.h"
#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/weighting.h"
#include "measure/prompt.h"
#include "measure/soundstart.h"

class QGuiApplication;
class QImage;

namespace sonvera {

class DiagramModel;
class LoopbackCard;
class ProfileFile;
class SoundEngine;
class WaitingPort;
class WaveLayer;

/// The sound system of a measuring command, started the way the program starts (see
/// measure/soundstart.h): the configuration read (never written), the engine started on
/// the devices of --audio and --dut, the per-device formats loaded, the stored devices
/// selected, the recording line chosen (no line's volume written), the correction files and
/// the weighting filter loaded. A command then changes what its options ask for and
/// runs its measurement. Boxes and loader warnings become lines on standard error; the
/// engine is shut down (without saving anything) when the session ends.
class CliSession : private CurveMessageSink, private PromptService {
public:
    explicit CliSession(const CliContext& ctx);
    ~CliSession() override;
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    /// Starts the session; `layer` replaces the devices of --audio (a wave file as the
    /// input). Returns 0, or the exit status after saying why (2 for a bad --audio or
    /// --dut, 1 for an unreadable configuration or a sound system that does not start).
    int Start(std::unique_ptr<WaveLayer> layer = nullptr);

    /// Selects the devices a command names (unset: those of the configuration). Returns
    /// 0, or 1 after saying why when there is no such device.
    int SelectDevices(std::optional<int> inDevice, std::optional<int> outDevice, bool needOutput);
    /// 0 when every output can be written: none is one of the files the session and the
    /// command read or names the same file as another output (else 2), and each can take
    /// its output (see OutputTargets: a wave file among `waveFiles` is no pipe or device
    /// (else 2), a pipe has a reader (else 1)); else the status after saying why.
    int CheckOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& waveFiles = {});

    SoundEngine& Engine() { return *engine_; }
    WaitingPort& Port() { return *port_; }
    const SoundDevices& Devices() const { return devices_; }
    /// The virtual card's clock stands still between calls (no waiting).
    bool InstantClock() const { return instant_; }
    /// The virtual card on its instant clock (nullptr on real devices), whose time a
    /// command lets pass where it would wait.
    LoopbackCard* InstantCard();
    /// The files read: the configuration and correction files; commands add their own.
    InputFiles& Inputs() { return inputs_; }
    /// Error boxes shown since the start.
    int ErrorPrompts() const { return errorPrompts_; }

    Settings settings;
    CorrectionCurve InCorrection;
    CorrectionCurve OutCorrection;
    WeightingFilter Filter;

private:
    void Warning(const std::string& text) override;
    void Show(const Prompt& prompt) override;

    const CliContext& ctx_;
    InputFiles inputs_;
    OutputTargets targets_;  // pipes held open until the session ends
    CurveFileLoader loader_;
    std::unique_ptr<ProfileFile> profile_;
    std::unique_ptr<WaveLayer> layer_;
    std::unique_ptr<SoundEngine> engine_;
    std::unique_ptr<WaitingPort> port_;
    PromptService* previousPrompts_ = nullptr;
    SoundDevices devices_;
    bool instant_ = false;
    int errorPrompts_ = 0;
};

/// Why a tone of `freqHz` cannot be played at `rateHz` ("" when it can): at or above
/// half the rate, or, for a looped sine (`bytesPerSample` of the output, 0 when the
/// tone is not looped), a loop of whole periods that would play it there.
std::string ToneProblem(int freqHz, int rateHz, int bytesPerSample);

/// The bytes of `image` as a PNG file ("" when it cannot be encoded).
std::string PngBytes(const QImage& image);

/// While it lives, drawing works without a display (an application object exists).
class OffscreenDrawing {
public:
    OffscreenDrawing();
    ~OffscreenDrawing();
    OffscreenDrawing(const OffscreenDrawing&) = delete;
    OffscreenDrawing& operator=(const OffscreenDrawing&) = delete;

private:
    std::unique_ptr<QGuiApplication> app_;
};

/// The diagram laid out and drawn as printed, 1000 x 700 pixels, as PNG bytes; "" with
/// `error` set when it cannot be drawn.
std::string DiagramPicture(DiagramModel& model, std::string& error);

}  // namespace sonvera
