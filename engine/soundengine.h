#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "dsp/generator.h"
#include "dsp/generatorparams.h"
#include "engine/looplength.h"
#include "engine/messageport.h"
#include "platform/wavelayer.h"

namespace sonvera {

class ProfileFile;

/// One auxiliary (volume line) device as found at engine start, and what the engine
/// changed on it.
struct AuxLine {
    std::string name;            // empty when the device did not answer
    std::uint8_t flag = 0;
    std::uint32_t volume = 0;    // packed volume found before the engine first wrote the line
    bool touched = false;        // the engine wrote the line; `volume` goes back at shutdown
    bool counted = false;        // the entry was filled (its capabilities could be read)
    AuxCaps caps;
};

/// The sound device engine: device catalogue and report, block capture with sample
/// conversion, looped playback of one generated buffer, start and shutdown, per-device
/// formats and volumes. Runs on one thread (the user-interface thread); the only thing
/// that crosses threads is the completion the wave layer hands to the MessagePort.
///
/// Error codes are the wave layer's (0 = success), plus 3 (engine memory could not be
/// obtained, or the engine is not started) and 9 (the input device could not be closed).
class SoundEngine {
public:
    /// The routine called (through the message port) when a captured block is done.
    using CaptureHandlerFn = std::function<void()>;

    /// Argument of SetLineVolume for every line.
    static constexpr int kAllLines = -1;
    /// Number of auxiliary lines the engine keeps.
    static constexpr int kAuxLineCount = 10;
    /// Number of selectable devices of each kind.
    static constexpr int kDeviceSlots = 3;
    /// Largest frame count of one captured block. The capture and sample buffers start
    /// at 65520 bytes and 16380 values and grow when a longer block or a wider format
    /// asks for more (never per block: only when the size or the format changes).
    static constexpr int kMaxCaptureFrames = 1 << 20;
    /// Engine error: the input device could not be closed after a block.
    static constexpr int kEngineCloseFailed = 9;
    /// Engine error: the input device kept losing frames (kMaxLostBlocksInRow blocks in
    /// a row had a gap). No platform call returns this code.
    static constexpr int kEngineFramesLost = 90;
    /// Blocks with a gap recorded again, in a row, before a capture gives up.
    static constexpr int kMaxLostBlocksInRow = 10;
    /// How long a signal the engine plays settles after its arrival at the input before
    /// a block is taken (the device under test's own transients; the sweep sets its own).
    static constexpr double kDefaultSignalSettleSeconds = 0.25;

    explicit SoundEngine(WaveLayer& layer);
    ~SoundEngine();
    SoundEngine(const SoundEngine&) = delete;
    SoundEngine& operator=(const SoundEngine&) = delete;

    /// Where completions go (the hidden Tdummy receiver); nullptr drops them.
    void SetMessagePort(MessagePort* port);
    /// The configuration file LoadSoundSettings/SaveSoundSettings use; nullptr: none.
    void SetProfile(ProfileFile* profile);

    WaveLayer& Layer() { return layer_; }

    // ---- Device catalogue and report ------------------------------------------------

    /// Builds the report of all devices (once per run). Returns the summary
    /// "last input name / last output name / last aux name".
    std::string BuildDeviceReport(int& inputCount, int& outputCount, std::uint32_t& captureFormats);
    const std::vector<std::string>& DeviceReport() const { return deviceReport_; }
    /// The report as text, one line per report line.
    std::string DeviceReportText() const;

    /// Product name of wave-in ('I') or wave-out ('O') device i; empty when i is not a device.
    std::string DeviceName(char kind, int i);
    void SelectInDevice(int i);
    void SelectOutDevice(int i);
    int InDeviceIndex() const { return inDeviceIndex_; }
    int OutDeviceIndex() const { return outDeviceIndex_; }
    /// The layer's error text for code: input texts up to 1000, output texts above.
    std::string DeviceErrorText(std::uint32_t code);
    /// Whether the current input (input true) or output device accepts 2-channel PCM at
    /// rate and bits (24 taken as 32).
    bool QueryFormat(int rate, int bits, bool input);
    /// Formats mask of the last input device that answered; 0: no usable capture device.
    std::uint32_t CaptureFormats() const { return captureFormats_; }
    /// Formats mask input device i reported (0..2), 0 when unknown.
    std::uint32_t InputFormatsMask(int i) const;

    // ---- Capture ----------------------------------------------------------------------

    /// Starts recording frames frames of the current input format; handler is called
    /// when the block is done. Returns 0 when started, or when a block is already in
    /// flight (then nothing happens but the handler is replaced).
    int StartCapture(int frames, std::uint32_t userValue, CaptureHandlerFn handler);
    /// Ends the cycle (resets and closes the device) and converts the block. Returns the
    /// sample buffer (valueCount values, interleaved right/left pairs, full scale 1.0),
    /// or nullptr when the device could not be closed (EngineError 9) or the engine is
    /// not started.
    const float* TakeCapturedBlock(int& valueCount, int& overloadCount, std::uint32_t& userValue);
    /// The completion: called on the user-interface thread by the message receiver with
    /// what the port was given. Completions from before the last start-up are ignored.
    void OnWaveInData(const void* header, std::uint64_t session);

    /// Blocks recorded again because frames were missing in them (an overflow of the
    /// device or the sound server, a short block), since the last ResetDroppedBlocks.
    /// Such a block never reaches a handler.
    int DroppedBlocks() const { return droppedBlocks_; }
    void ResetDroppedBlocks() { droppedBlocks_ = 0; }
    /// Blocks recorded again since the engine was made, for either reason (for tests
    /// that count what the device completed).
    int BlocksRecordedAgain() const { return recordedAgain_; }
    /// No block is taken from before the signal playing has reached the input (its
    /// start on the output plus the round trip) and `seconds` more have passed: such a
    /// block is recorded again, silently.
    void SetSignalSettle(double seconds) { signalSettleSeconds_ = seconds; }
    /// Seconds from now until a block recorded from now on holds the signal playing
    /// settled (0 when nothing plays or it has settled). The sweep waits this long.
    double SecondsUntilSignalSettled();

    // ---- Round trip (engine/roundtrip.cpp) ----------------------------------------------

    /// Measures the time from the output to the input of the current devices at their
    /// formats with a short burst, once per device pair and format (again after a
    /// restart of the engine), and adds a line about it to the report. 0 when measured
    /// (or known), kMmAllocated while a device is in use, else the failing call's code;
    /// a burst that does not come back (nothing connected) leaves it unknown (0 s is
    /// assumed then).
    /// A layer that knows its round trip (the virtual card) is not probed unless `probe`.
    int MeasureRoundTrip(bool probe = false);
    /// The last round trip measured for the current devices and formats, seconds; a
    /// negative value when unknown.
    double RoundTripSeconds() const;
    /// STOP during a block: resets and closes the input device at once and drops the
    /// block; its completion, if still on its way, is ignored. Nothing happens when no
    /// block is in flight.
    void CancelCapture();
    /// Of the block in flight: its length and how much of it has been recorded, in
    /// seconds at the block's rate (the device records in real time from its start);
    /// both 0 when no block is in flight.
    double CaptureSeconds() const;
    double CaptureSecondsRecorded() const;

    const float* SampleBuffer() const { return sampleBuffer_.get(); }
    int BlockValueCount() const { return blockValueCount_; }
    int OverloadCount() const { return overloadCount_; }
    int EngineError() const { return engineError_; }
    bool CaptureOpen() const { return captureOpen_; }
    bool CaptureStarted() const { return captureStarted_; }

    // Formats of the current devices, each as (input, output).
    void GetSampleRates(int& in, int& out) const;
    void SetSampleRates(int in, int out);
    void GetFormatBits(int& in, int& out) const;
    void SetFormatBits(int in, int out);
    void GetSwapFlags(bool& in, bool& out) const;
    void SetSwapFlags(bool in, bool out);
    void GetUserRates(int& in, int& out) const;
    void SetUserRates(int in, int out);

    std::array<DeviceFormat, 3>& InDeviceFormats() { return inDeviceFormats_; }
    std::array<DeviceFormat, 3>& OutDeviceFormats() { return outDeviceFormats_; }

    // ---- Playback ---------------------------------------------------------------------

    /// Plays params (sine, square, white or pink noise) at freqHz on the current output
    /// device; durationMs -1 loops. Returns 0 when playing, or when a signal already
    /// plays (then nothing changes).
    int StartPlayback(int freqHz, int durationMs, const GeneratorParams& params);
    /// Plays the frames of `left` and `right` (full scale 1.0, as many of each) looped on
    /// the current output device until StopPlayback, in the device's format with the
    /// generator's full scale: a signal that must loop without a phase step (a tone whose
    /// whole periods need more than one device buffer, two tones). Measurements wait for
    /// its arrival as for a looped tone. Returns 0 (also while something plays: nothing
    /// changes then), 3 when the engine is not started or the memory cannot be had,
    /// kMmInvalidParam for channels of no or unequal length or beyond 4 GiB, else the
    /// failing call's code. `toneHz`: the one tone the signal holds, if it is one (its
    /// blocks are then checked for steps like the generator's tone's); 0 for any other.
    int StartLoopedSignal(const std::vector<float>& left, const std::vector<float>& right, int toneHz = 0);
    void StopPlayback();
    bool PlaybackActive() const { return playbackActive_; }
    bool PlaybackOpen() const { return playbackOpen_; }
    std::int64_t LoopResidue() const { return loopResidue_; }
    /// Length in bytes of the buffer that plays (or played last).
    std::uint32_t PlaybackLength() const { return playbackLength_; }
    const char* PlaybackBuffer() const { return playbackBuffer_.get(); }

    // ---- Play and record (engine/playrecord.cpp) --------------------------------------

    /// Plays `signal` (mono, full scale 1.0) once on both channels of the current output
    /// device and records both inputs of the current input device from the same moment
    /// on, `recordFrames` frames (at least the signal's length) without a gap; the input
    /// takes the output's rate. `handler` is called through the message port when the
    /// recording is complete. Returns 0 when started (also when one is already running:
    /// nothing changes then), kMmAllocated while a block is captured or a signal plays,
    /// kMmInvalidParam for an empty signal or one beyond the buffer's 4 GiB, 3 when the
    /// engine is not started or the memory cannot be had, else the failing call's code,
    /// with the report lines of the other calls and every device it opened closed again.
    int StartPlayRecord(const std::vector<float>& signal, std::size_t recordFrames, CaptureHandlerFn handler);
    /// Ends it (resets and closes both devices) and converts what was recorded into the
    /// right and left input (full scale 1.0; the swap flag applied). False, with nothing
    /// converted, when a device could not be closed (EngineError 9; the next start or the
    /// shutdown tries again), when frames were lost (kEngineFramesLost, counted in
    /// DroppedBlocks: the device said so, or an input steps against the signal played)
    /// or nothing ran.
    bool TakePlayRecording(std::vector<float>& right, std::vector<float>& left, int& overloadCount);
    /// STOP: resets and closes both devices and drops the recording.
    void StopPlayRecord();
    /// A play-and-record was started and not yet taken or stopped.
    bool PlayRecordRunning() const { return playRecordRunning_; }
    /// Either of its devices is still open (a close failed).
    bool PlayRecordOpen() const { return playRecordInOpen_ || playRecordOutOpen_; }
    /// Input frames by which the selected input records later what the selected output
    /// plays, where the wave layer knows it (the virtual card's device under test), else 0.
    std::uint32_t KnownDelayFrames() const
    {
        return layer_.WaveKnownDelay(static_cast<unsigned>(inDeviceIndex_), static_cast<unsigned>(outDeviceIndex_));
    }

    // ---- Start, shutdown, settings, volumes -------------------------------------------

    /// Reads the auxiliary lines (writing none of them), sets the output volume of the
    /// current output device to 25 %, allocates the buffers, loads the device formats.
    /// 0 or 3.
    int InitSoundEngine();
    /// Saves the formats, stops playback, gives every output device and line the engine
    /// wrote the volume it had before, closes the capture, drains pending completions and
    /// frees the buffers.
    void ShutdownSoundEngine();
    bool Started() const { return captureHeader_ != nullptr; }

    /// Section SDSOUND of the configuration file set by SetProfile (nothing without one).
    void LoadSoundSettings();
    void SaveSoundSettings();
    /// The same with an explicit file, keyed by the names of the devices present now.
    void LoadSoundSettings(const ProfileFile& file);
    void SaveSoundSettings(ProfileFile& file);

    const std::array<AuxLine, kAuxLineCount>& AuxLines() const { return auxLines_; }
    /// Output volume of the current output device. The volume the device had before the
    /// engine first wrote it is kept and given back when the device is left
    /// (SelectOutDevice) and at shutdown.
    void SetOutputVolume(int percent);
    int GetOutputVolume();
    /// Volume of one line or of every line (kAllLines). Before the engine first writes a
    /// line it reads the line's volume and records it in the configuration (section
    /// kLineRecordSection), so that it goes back at shutdown, or at the next start after
    /// a crash (RestoreLinesLeftBehind); a line whose volume cannot be read is not written.
    void SetLineVolume(int percent, int line);
    int GetLineVolume(int line);
    /// Whether the engine has written the line since it started (and not yet put back).
    bool LineTouched(int line) const;
    /// Puts back the lines recorded in the configuration by a session that ended without
    /// its shutdown (a crash, a kill), on this backend, where a line of the same number
    /// and name exists; clears their records. Returns the names of the lines put back.
    /// Call after InitSoundEngine, before anything writes a line.
    std::vector<std::string> RestoreLinesLeftBehind();
    /// Configuration section of the line records: keys "LINE0".."LINE9", each
    /// "BACKEND HEXVOLUME NAME" while the line is changed, empty once it is back.
    static constexpr const char* kLineRecordSection = "AUXRESTORE";
    void ChooseInputLine(int i);
    int InputLine() const { return inputLine_; }
    /// Name of auxiliary line i, empty when i is not below the auxiliary device count.
    std::string LineName(int i);

    /// Test hook: the allocation of block index (0 capture header, 1 capture buffer,
    /// 2 playback header, 3 playback buffer, 4 sample buffer) fails; -1 none.
    void SetFailingAllocationForTest(int blockIndex) { failingAllocation_ = blockIndex; }

    /// Adds a line at the end of the report (the print jobs add the printer's details).
    void AppendReport(std::string line);

private:
    /// Opens the current output device for a signal (playbackOpen_); 0 or the error.
    int OpenPlayback();
    /// Queues `bytes` of `data` on the open output, looped or once, and starts it.
    int WritePlayback(char* data, std::uint32_t bytes, bool looped);
    /// Opens, queues and starts one block (StartCapture after its checks).
    int OpenCapture(int frames, std::uint32_t userValue);
    /// Whether a finished block may go to its handler; else it is recorded again.
    bool BlockUsable(const WaveHeader& h);
    /// The engine's own periodic signal plays and the block's tone turns or steps in level
    /// at one instant on either input: frames went missing or were inserted on the way.
    bool ToneStepped(const WaveHeader& h);
    /// Closes the device after a block that is not used and records the block again.
    void RecordAgain();
    /// A looped signal plays (the one the arrival rule waits for).
    bool SignalPlays() const;
    /// The key of the current device pair and formats, for the round trip.
    std::string RoundTripKey() const;
    void ReportDeviceError(const char* what, std::uint32_t code, bool input);
    std::string ErrorText(std::uint32_t code, bool input, std::size_t maxChars);
    DeviceFormat& CurrentIn() { return inDeviceFormats_[static_cast<std::size_t>(inDeviceIndex_)]; }
    DeviceFormat& CurrentOut() { return outDeviceFormats_[static_cast<std::size_t>(outDeviceIndex_)]; }
    const DeviceFormat& CurrentIn() const { return inDeviceFormats_[static_cast<std::size_t>(inDeviceIndex_)]; }
    const DeviceFormat& CurrentOut() const { return outDeviceFormats_[static_cast<std::size_t>(outDeviceIndex_)]; }
    void CloseCaptureForShutdown();
    /// Resets, unprepares and closes what play-and-record holds open; false when a
    /// device stays open.
    bool ClosePlayRecord();
    /// The recorded inputs of a play-and-record run step against the signal played (still
    /// in its buffer): frames went missing or were inserted on the way.
    bool RecordingStepped(const std::vector<float>& right, const std::vector<float>& left) const;
    void FreeBuffers();
    void DeviceNames(std::array<std::string, 3>& in, std::array<std::string, 3>& out);
    void RestoreOutputVolume(int device);
    bool TouchLine(unsigned line, const std::string& name);
    void RestoreLines();
    void ClearLineRecords(const std::vector<unsigned>& lines);

    WaveLayer& layer_;
    std::atomic<MessagePort*> port_{nullptr};
    ProfileFile* profile_ = nullptr;

    // Catalogue.
    unsigned inCount_ = 0, outCount_ = 0, midiCount_ = 0, auxCount_ = 0;
    std::array<std::uint32_t, 3> inputFormatsTable_{};
    std::uint32_t captureFormats_ = 0;
    std::vector<std::string> deviceReport_;
    int inDeviceIndex_ = 0;
    int outDeviceIndex_ = 0;

    // Formats.
    std::array<DeviceFormat, 3> inDeviceFormats_;
    std::array<DeviceFormat, 3> outDeviceFormats_;

    // Capture.
    std::unique_ptr<WaveHeader> captureHeader_;
    std::unique_ptr<char[]> captureBuffer_;
    std::unique_ptr<float[]> sampleBuffer_;
    std::uint32_t captureCapacityBytes_ = 0;  // of captureBuffer_
    std::size_t sampleCapacity_ = 0;          // values of sampleBuffer_
    std::chrono::steady_clock::time_point captureStartedAt_{};
    double captureSeconds_ = 0.0;  // length of the block in flight
    WaveInHandle inHandle_{};
    bool captureOpen_ = false;
    bool captureStarted_ = false;
    // A block was started and its completion has not been taken yet.
    bool blockInFlight_ = false;
    CaptureHandlerFn captureHandler_;
    const void* lastCompletedHeader_ = nullptr;
    int capturedBits_ = 16;  // bits per sample of the block in flight
    int captureFrames_ = 0;  // frames and user value of the block in flight
    std::uint32_t captureUser_ = 0;
    int pendingError_ = 0;   // a block recorded again could not be started
    int droppedBlocks_ = 0;
    int recordedAgain_ = 0;
    int lostInRow_ = 0;
    double signalSettleSeconds_ = kDefaultSignalSettleSeconds;
    double firstTrySeconds_ = -1.0;  // clock of the first try of the block in flight
    int blockValueCount_ = 0;
    int overloadCount_ = 0;
    int engineError_ = 0;

    // Playback.
    std::unique_ptr<WaveHeader> playbackHeader_;
    std::unique_ptr<char[]> playbackBuffer_;
    std::vector<char> loopedSignal_;  // the frames of StartLoopedSignal
    WaveOutHandle outHandle_{};
    bool playbackOpen_ = false;
    bool playbackActive_ = false;
    GeneratorParams playbackParams_;
    int playbackFreqHz_ = 0;             // of the periodic signal playing; 0: none known
    std::vector<float> toneCheckBuffer_;  // a finished block converted for ToneStepped
    std::int64_t loopResidue_ = 0;
    std::uint32_t playbackLength_ = 0;
    Generator generator_;

    // Play and record: its own headers (kept for the engine's life, so a completion of
    // an earlier run never meets freed memory) and the buffers of the run.
    std::unique_ptr<WaveHeader> playRecordInHeader_;
    std::unique_ptr<WaveHeader> playRecordOutHeader_;
    std::vector<char> playRecordInBuffer_;
    std::vector<char> playRecordOutBuffer_;
    WaveInHandle playRecordIn_{};
    WaveOutHandle playRecordOut_{};
    bool playRecordInOpen_ = false;
    bool playRecordOutOpen_ = false;
    bool playRecordRunning_ = false;
    int playRecordBits_ = 16;
    CaptureHandlerFn playRecordHandler_;

    // Volumes.
    std::array<AuxLine, kAuxLineCount> auxLines_;
    int inputLine_ = 0;
    // Per output device: the volume it had before the engine first wrote it.
    std::array<std::optional<std::uint32_t>, kDeviceSlots> outputFound_{};

    // Round trip: the pair and formats it was measured for, and the seconds.
    std::string roundTripKey_;
    double roundTripSeconds_ = -1.0;

    int failingAllocation_ = -1;
    std::uint64_t session_ = 0;  // counts start-ups; tags completions
};

}  // namespace sonvera
