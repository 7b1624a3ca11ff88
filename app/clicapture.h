#pragma once
// The spectrum capture the measuring commands share: the analyser's run (its window gains,
// power averaging, long transforms and the engine's rules for blocks with gaps) driven
// headless, on the devices or on a wave file in place of the input device.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/cliresult.h"
#include "app/clisession.h"
#include "app/modeldiagram.h"
#include "dsp/distortion.h"
#include "dsp/generatorparams.h"
#include "measure/spectrumrun.h"
#include "platform/loopbackcard.h"
#include "platform/wavefileinput.h"

namespace sonvera {

/// The virtual card with its input replaced by the frames of a wave file: each recorded
/// buffer is overwritten with the file's next frames, encoded in the device's format,
/// before the engine takes it, so the block passes the same conversion as a recording.
/// The file is read block by block, only as far as the run goes.
class FileInputCard : public LoopbackCard {
public:
    FileInputCard() : LoopbackCard(DutConfig{}, LoopbackClock::Instant) {}

    WaveFileInput input;

    MmResult WaveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat& format, WavePost post,
                        std::uint32_t flags) override;

private:
    WaveFormat format_;
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
    void SetOverloadLabel(const std::string& text) override;
    void PostSpectrumNext() override { ++nextQueued; }
    /// "# Over n (k of m blocks)" with its line end, or "" when no block clipped.
    std::string OverloadNote() const;
};

/// The capture options the measuring commands share.
struct CaptureOptions {
    std::optional<int> inDevice, outDevice, points, window, average, rate, bits;
    std::optional<std::string> input;
    std::optional<double> skipSeconds;
    /// What the distortion measurements take unless told: 65536 points, the window
    /// kDistortionWindow and `average` blocks.
    void MeasurementDefaults(int average);
};

/// Takes the current option's value as a level in dB from -100 to 0: "" or the error
/// ("NAME needs a level in dB from -100 to 0").
std::string TakeLevelDb(OptionCursor& cursor, double& db);

/// Takes one of the shared options (--in-device, --out-device, --points, --window,
/// --average, --rate, --bits, --input, --skip): "" when taken, the error when its value is
/// bad, nullopt when the option is none of them.
std::optional<std::string> ParseCaptureOption(OptionCursor& cursor, CaptureOptions& o);
/// The combinations the shared options refuse ("" when none): --input with a device or
/// format option (or with a tone, `plays`), --skip without --input.
std::string CheckCaptureOptions(const CaptureOptions& o, bool plays);

class CliCapture;

/// The band and weighting options of the distortion, noise and level commands.
struct BandOptions {
    double lowHz = 20.0;
    double highHz = 20000.0;
    std::string weighting = "none";  // the name of a weighting as the analysis lists it
};
/// Takes --bandwidth 20k|22k|80k|LO:HI (20 Hz..20 kHz, 22 Hz..22 kHz, 10 Hz..80 kHz or
/// the edges in Hz) and --weighting none|A|468|NAME (A: IEC 61672 A, 468: ITU-R 468, else
/// the exact name of a weighting): "" when taken, the error, or nullopt for another option.
/// `wide` admits 80k.
std::optional<std::string> ParseBandOption(OptionCursor& cursor, BandOptions& o, bool wide);
/// The tone of --tone FREQ[:LEVELDB] (whole Hz above 0 up to 100000, whole dB from -100 to
/// 0): "" or the error.
std::string ParseToneValue(const std::optional<std::string>& value, int& hz, int& db);
/// The reading's parameters for the capture's last run: its rate, size and window, the
/// band (its top held to the last bin below half the rate).
DistortionParams ReadingParams(CliCapture& capture, const BandOptions& band);
/// "# band ends at H Hz (half the rate)\n" when the band reaches beyond the spectrum, else "".
std::string BandNote(const BandOptions& band, const DistortionParams& params);
/// What a channel without a reading prints in place of numbers.
std::string OutcomeText(DistortionOutcome outcome);
/// A number as the commands print it: `decimals` after the point, "nan" for NaN, "-inf"
/// and "inf" for the infinities.
std::string Number(double v, int decimals);

/// The capture's settings into a result: the wave file read (when one is), the rate and
/// bits of the input, the transform's points, window and blocks averaged.
void CaptureSettings(CliCapture& capture, CliResult& result);
/// The band a reading covers and its weighting into a result.
void BandSettings(const BandOptions& band, const DistortionParams& params, CliResult& result);

/// Starts what plays during a run on the engine: 0 or the engine's error code.
using StartSignal = std::function<int(SoundEngine&)>;

/// Runs `run` once on `session` to its result (RunMode 0: FftAverage blocks), with
/// `play` (when given) started before and stopped after. Returns 0 or the exit status
/// after saying why.
int DriveSpectrumRun(CliContext& ctx, CliSession& session, SpectrumRun& run, CliPage& page, const StartSignal& play);

/// One command's capture: the session started on the devices (or the wave file), the
/// formats and analyser settings applied, then any number of runs of the analyser.
class CliCapture {
public:
    explicit CliCapture(CliContext& ctx) : ctx_(ctx), session_(ctx) {}

    /// Starts the session, selects the devices and applies the formats and the analyser
    /// settings of `o`. Returns 0 or the exit status after saying why.
    int Open(const CaptureOptions& o, bool needOutput);
    /// 1 after saying why when the file is too short for `blocks` blocks of the run's size
    /// after --skip (then skipped), else 0; 0 without a file.
    int CheckFileLength(int blocks);
    /// Why `freqHz` cannot be played on the output ("" when it can).
    std::string ToneProblemOf(int freqHz);

    /// One run of the analyser: plays the frames of `left` and `right` looped (nothing
    /// when they are empty) while the run takes FftAverage blocks, power-averaged. Returns
    /// 0 with the spectra, or the exit status after saying why.
    int Run(const std::vector<float>& left = {}, const std::vector<float>& right = {}, int toneHz = 0);
    /// The output's sample rate.
    int OutputRate();

    CliSession& Session() { return session_; }
    SoundEngine& Engine() { return session_.Engine(); }
    Settings& Config() { return session_.settings; }
    FileInputCard* File() { return fileCard_; }
    int InputRate() const { return inputRate_; }
    const std::optional<std::string>& InputName() const { return inputName_; }
    const std::optional<double>& SkipSeconds() const { return skipSeconds_; }
    /// The averaged magnitudes of the last run (bins 0..N/2-1), and with a standard
    /// weighting those of the filtered samples (else empty).
    const std::vector<float>& Left() const { return left_; }
    const std::vector<float>& Right() const { return right_; }
    const std::vector<float>& WeightedLeft() const { return weightedLeft_; }
    const std::vector<float>& WeightedRight() const { return weightedRight_; }
    /// Channel 0 (left) or 1 (right) of the last run as the readings take it.
    ChannelSpectrum Channel(int channel) const;
    /// The notes of every run so far: clipping and blocks recorded again ("# " lines).
    std::string Notes() const;

private:
    CliContext& ctx_;
    CliSession session_;
    FileInputCard* fileCard_ = nullptr;
    std::optional<std::string> inputName_;
    std::optional<double> skipSeconds_;
    int inputRate_ = 0;
    int dropped_ = 0;
    CliPage notes_;  // overloads of every run
    std::vector<float> left_, right_, weightedLeft_, weightedRight_;
};

}  // namespace sonvera
