#pragma once

// The wave layer: numbered wave-in, wave-out, MIDI-out (count only) and auxiliary
// (volume line) devices with the semantics of a classic wave-audio platform API, so the
// sound engine above it can be written as a loop of single blocks:
//
//   open (optionally query-only) -> prepare header -> add buffer / write -> start
//   -> completion posted -> reset -> unprepare -> close
//
// Two implementations exist: the virtual loopback card (loopbackcard.h) and the
// PortAudio backend for real devices (portaudiolayer.h). `CreateWaveLayer` picks one
// from the `--audio` option / `SONVERA_AUDIO`.
//
// Threads: every call below is made from one thread (the engine's, normally the GUI
// thread). Completions are delivered by calling the `WavePost` given at open, from a
// thread owned by the layer (or, for the loopback card's instant clock, from the calling
// thread before the starting call returns). The post callback must only hand the
// message on (for example post an event); it must not call back into the layer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/settings.h"  // WaveFormat: the PCM format record of a device

namespace sonvera {

/// Result code of a wave-layer call: 0 success, else one of the codes below.
using MmResult = std::uint32_t;

// General result codes (the platform's MMSYSERR numbering).
inline constexpr MmResult kMmNoError = 0;
inline constexpr MmResult kMmError = 1;            // unspecified error
inline constexpr MmResult kMmBadDeviceId = 2;      // device number out of range
inline constexpr MmResult kMmNotEnabled = 3;       // driver failed enable
inline constexpr MmResult kMmAllocated = 4;        // device already allocated
inline constexpr MmResult kMmInvalidHandle = 5;    // handle unknown or closed
inline constexpr MmResult kMmNoDriver = 6;         // no device driver present
inline constexpr MmResult kMmNoMem = 7;            // memory allocation error
inline constexpr MmResult kMmNotSupported = 8;     // function not supported
inline constexpr MmResult kMmBadErrNum = 9;        // error number out of range
inline constexpr MmResult kMmInvalidFlag = 10;     // invalid flag passed
inline constexpr MmResult kMmInvalidParam = 11;    // invalid parameter passed
inline constexpr MmResult kMmHandleBusy = 12;      // handle in use on another thread
inline constexpr MmResult kMmLastError = 21;       // last general code with a text
// Wave-specific result codes (the platform's WAVERR numbering, from 32).
inline constexpr MmResult kWaveBadFormat = 32;     // unsupported wave format
inline constexpr MmResult kWaveStillPlaying = 33;  // still something playing / queued
inline constexpr MmResult kWaveUnprepared = 34;    // header not prepared
inline constexpr MmResult kWaveSync = 35;          // device is synchronous

/// Texts of the codes above in our own wording (English). Unknown codes give
/// "Unknown error code N." Input and output texts differ only where the direction
/// matters ("recording" / "playback").
std::string WaveInErrorText(MmResult code);
std::string WaveOutErrorText(MmResult code);

// Standard format bits of a capabilities' `formats` mask: rate 11.025, 22.05, 44.1, 48,
// 96 kHz x mono/stereo x 8/16 bit.
inline constexpr std::uint32_t kFormat1M08 = 0x00001;  // 11025 Hz, mono, 8 bit
inline constexpr std::uint32_t kFormat1S08 = 0x00002;  // 11025 Hz, stereo, 8 bit
inline constexpr std::uint32_t kFormat1M16 = 0x00004;
inline constexpr std::uint32_t kFormat1S16 = 0x00008;
inline constexpr std::uint32_t kFormat2M08 = 0x00010;  // 22050 Hz
inline constexpr std::uint32_t kFormat2S08 = 0x00020;
inline constexpr std::uint32_t kFormat2M16 = 0x00040;
inline constexpr std::uint32_t kFormat2S16 = 0x00080;
inline constexpr std::uint32_t kFormat4M08 = 0x00100;  // 44100 Hz
inline constexpr std::uint32_t kFormat4S08 = 0x00200;
inline constexpr std::uint32_t kFormat4M16 = 0x00400;
inline constexpr std::uint32_t kFormat4S16 = 0x00800;
inline constexpr std::uint32_t kFormat48M08 = 0x01000;  // 48000 Hz
inline constexpr std::uint32_t kFormat48S08 = 0x02000;
inline constexpr std::uint32_t kFormat48M16 = 0x04000;
inline constexpr std::uint32_t kFormat48S16 = 0x08000;
inline constexpr std::uint32_t kFormat96M08 = 0x10000;  // 96000 Hz
inline constexpr std::uint32_t kFormat96S08 = 0x20000;
inline constexpr std::uint32_t kFormat96M16 = 0x40000;
inline constexpr std::uint32_t kFormat96S16 = 0x80000;
inline constexpr std::uint32_t kFormatAllStandard = 0xFFFFF;

/// The formats-mask bit of one standard format, 0 when (rate, channels, bits) is not one.
std::uint32_t StandardFormatBit(std::uint32_t rateHz, int channels, int bits);

// Optional functions of a wave-out device (`WaveOutCaps::support`).
inline constexpr std::uint32_t kWaveCapsPitch = 0x01;
inline constexpr std::uint32_t kWaveCapsPlaybackRate = 0x02;
inline constexpr std::uint32_t kWaveCapsVolume = 0x04;
inline constexpr std::uint32_t kWaveCapsLrVolume = 0x08;  // separate left/right volume
inline constexpr std::uint32_t kWaveCapsSync = 0x10;
inline constexpr std::uint32_t kWaveCapsSampleAccurate = 0x20;

// Auxiliary device technology codes (`AuxCaps::technology`) and support bits.
inline constexpr std::uint16_t kAuxTechCdAudio = 1;  // CD audio line
inline constexpr std::uint16_t kAuxTechAuxIn = 2;    // auxiliary input (line, mic)
inline constexpr std::uint32_t kAuxCapsVolume = 0x01;
inline constexpr std::uint32_t kAuxCapsLrVolume = 0x02;

/// Longest product name a driver reports (the rest is cut off).
inline constexpr std::size_t kMaxProductName = 31;

/// Capabilities of a wave-in device.
struct WaveInCaps {
    std::uint16_t manufacturerId = 0;
    std::uint16_t productId = 0;
    std::uint32_t driverVersion = 0;
    std::string productName;    // at most kMaxProductName characters
    std::uint32_t formats = 0;  // kFormat* bits
    std::uint16_t channels = 0;
    std::uint16_t reserved = 0;  // the driver's reserved field, reported as is
};

/// Capabilities of a wave-out device.
struct WaveOutCaps {
    std::uint16_t manufacturerId = 0;
    std::uint16_t productId = 0;
    std::uint32_t driverVersion = 0;
    std::string productName;
    std::uint32_t formats = 0;
    std::uint16_t channels = 0;
    std::uint16_t reserved = 0;
    std::uint32_t support = 0;  // kWaveCaps* bits
};

/// Capabilities of an auxiliary (volume line) device.
struct AuxCaps {
    std::uint16_t manufacturerId = 0;
    std::uint16_t productId = 0;
    std::uint32_t driverVersion = 0;
    std::string productName;
    std::uint16_t technology = 0;  // kAuxTech* (0: unknown)
    std::uint16_t reserved = 0;
    std::uint32_t support = 0;     // kAuxCaps* bits
};

// Header flags (`WaveHeader::flags`).
inline constexpr std::uint32_t kWhdrDone = 0x01;       // set by the layer when finished
inline constexpr std::uint32_t kWhdrPrepared = 0x02;   // set by prepare, cleared by unprepare
inline constexpr std::uint32_t kWhdrBeginLoop = 0x04;  // output: first buffer of a loop
inline constexpr std::uint32_t kWhdrEndLoop = 0x08;    // output: last buffer of a loop
inline constexpr std::uint32_t kWhdrInQueue = 0x10;    // owned by the layer until done
/// Input: set by the layer when the buffer's frames are not one unbroken stretch of the
/// input (the device or the sound server lost or repeated frames while it was filled).
inline constexpr std::uint32_t kWhdrGap = 0x20;

/// One buffer handed to a device. The memory of `data` and the header itself belong to
/// the caller and must stay valid from prepare until unprepare. While a header is
/// queued (kWhdrInQueue) the layer may write `data` (input), read it (output) and set
/// `bytesRecorded` and `flags` from its own threads; the caller reads them after the
/// completion was posted or after reset.
struct WaveHeader {
    char* data = nullptr;
    std::uint32_t bufferLength = 0;   // bytes
    std::uint32_t bytesRecorded = 0;  // input: bytes filled when done
    std::uintptr_t user = 0;          // the caller's value, carried unchanged
    std::uint32_t flags = 0;          // kWhdr* bits
    std::uint32_t loops = 0;          // output: times to play a looping buffer
    WaveHeader* next = nullptr;       // reserved for the layer
    std::uintptr_t reserved = 0;      // reserved for the layer
    /// Set by the layer: its clock (ClockSeconds) when the buffer's first frame was
    /// recorded (input) or went out to the device (output); negative before that.
    double startSeconds = -1.0;
};

/// Messages a device posts (the platform's numbers).
enum class WaveMessage : std::uint32_t {
    OutOpen = 0x3BB,   // MM_WOM_OPEN
    OutClose = 0x3BC,  // MM_WOM_CLOSE
    OutDone = 0x3BD,   // MM_WOM_DONE: an output buffer has been played (all its loops)
    InOpen = 0x3BE,    // MM_WIM_OPEN
    InClose = 0x3BF,   // MM_WIM_CLOSE
    InData = 0x3C0,    // MM_WIM_DATA: an input buffer is full (or was returned by reset)
};

/// Completion delivery: called with the message and the finished header (nullptr for
/// open/close). Must be thread-safe and must only hand the message on (see top of file).
/// Only InData and OutDone are posted; opens and closes are not.
using WavePost = std::function<void(WaveMessage message, WaveHeader* header)>;

/// `flags` of the open calls.
inline constexpr std::uint32_t kWaveOpenQuery = 0x01;  // only ask whether the format opens

/// Opaque handles of open devices; 0 is never a valid handle.
enum class WaveInHandle : std::uint32_t {};
enum class WaveOutHandle : std::uint32_t {};

/// Volumes: the platform's packed value, left in the low 16 bits, right in the high
/// 16 bits, each 0 (silent) .. 0xFFFF (full).
inline constexpr std::uint32_t PackVolume(std::uint16_t left, std::uint16_t right)
{
    return static_cast<std::uint32_t>(left) | (static_cast<std::uint32_t>(right) << 16);
}

/// The wave-audio device layer the sound engine calls. One implementation per backend.
///
/// Rules common to all implementations:
/// - Device numbers run 0 .. count-1; other numbers give kMmBadDeviceId.
/// - A query-only open (`flags & kWaveOpenQuery`) opens nothing: 0 when the device
///   accepts the format, kWaveBadFormat when not; `handle` and `post` may be null.
/// - Formats: PCM (format tag 1), 1 or 2 channels, 8 (unsigned), 16, or 32 bits (signed;
///   24-bit samples travel in 32-bit containers), block align = channels * bits / 8.
/// - Input: add buffers (prepared, not queued), start; each buffer is filled in order
///   and posted as InData with kWhdrDone set and kWhdrInQueue cleared. Reset stops
///   recording and returns every queued buffer (posted as InData, bytesRecorded = what
///   was filled). Close fails with kWaveStillPlaying while buffers are queued.
/// - Output: write plays at once; a header with kWhdrBeginLoop|kWhdrEndLoop is played
///   `loops` times (a loop count of 0 counts as 1), then posted as OutDone. Reset stops
///   playing and returns the queued buffer (OutDone). Close fails with
///   kWaveStillPlaying while a buffer is queued.
/// - Prepare sets kWhdrPrepared; unprepare fails with kWaveStillPlaying while the
///   header is queued and clears kWhdrPrepared otherwise. Adding or writing an
///   unprepared header gives kWaveUnprepared.
class WaveLayer {
public:
    virtual ~WaveLayer() = default;

    /// A short name of the backend ("virtual", "portaudio") for messages and logs.
    virtual std::string BackendName() const = 0;

    /// The layer's clock in seconds, the one `WaveHeader::startSeconds` is read on (a
    /// steady clock; the virtual card's own time line, which its instant clock moves).
    virtual double ClockSeconds();
    /// The round trip from output `out` to input `in` when the layer knows it without
    /// measuring (the virtual card's cable), seconds; negative when it must be measured.
    virtual double KnownRoundTripSeconds(unsigned /*in*/, unsigned /*out*/) { return -1.0; }
    /// The rate a device runs at without conversion (a sound server's own rate, a JACK
    /// server's rate), Hz; 0 when it has none of its own (a card that runs any of its
    /// rates alike). A first start opens the device at it.
    virtual std::uint32_t DeviceOwnRate(bool /*input*/, unsigned /*deviceId*/) { return 0; }

    // Device counts.
    virtual unsigned WaveInGetNumDevs() = 0;
    virtual unsigned WaveOutGetNumDevs() = 0;
    virtual unsigned MidiOutGetNumDevs() = 0;
    virtual unsigned AuxGetNumDevs() = 0;

    // Capabilities.
    virtual MmResult WaveInGetDevCaps(unsigned deviceId, WaveInCaps& caps) = 0;
    virtual MmResult WaveOutGetDevCaps(unsigned deviceId, WaveOutCaps& caps) = 0;
    virtual MmResult AuxGetDevCaps(unsigned deviceId, AuxCaps& caps) = 0;

    // Wave input.
    virtual MmResult WaveInOpen(WaveInHandle* handle, unsigned deviceId,
                                const WaveFormat& format, WavePost post,
                                std::uint32_t flags) = 0;
    virtual MmResult WaveInPrepareHeader(WaveInHandle handle, WaveHeader* header) = 0;
    virtual MmResult WaveInAddBuffer(WaveInHandle handle, WaveHeader* header) = 0;
    virtual MmResult WaveInStart(WaveInHandle handle) = 0;
    virtual MmResult WaveInReset(WaveInHandle handle) = 0;
    virtual MmResult WaveInUnprepareHeader(WaveInHandle handle, WaveHeader* header) = 0;
    virtual MmResult WaveInClose(WaveInHandle handle) = 0;

    // Wave output.
    virtual MmResult WaveOutOpen(WaveOutHandle* handle, unsigned deviceId,
                                 const WaveFormat& format, WavePost post,
                                 std::uint32_t flags) = 0;
    virtual MmResult WaveOutPrepareHeader(WaveOutHandle handle, WaveHeader* header) = 0;
    virtual MmResult WaveOutWrite(WaveOutHandle handle, WaveHeader* header) = 0;
    virtual MmResult WaveOutReset(WaveOutHandle handle) = 0;
    virtual MmResult WaveOutUnprepareHeader(WaveOutHandle handle, WaveHeader* header) = 0;
    virtual MmResult WaveOutClose(WaveOutHandle handle) = 0;

    // Play and record as one piece (the log sweep): `in` is open with its buffers added
    // and not started, `outHeader` is prepared on `out` and not written. Recording starts
    // no later than the first frame of `outHeader` is played, which plays once; the
    // completions come as for WaveInStart and WaveOutWrite, reset and close as usual.
    // The default starts the input, then writes the output; the backends tie both to one
    // moment of their time line.
    virtual MmResult WavePlayRecord(WaveOutHandle out, WaveHeader* outHeader, WaveInHandle in);

    // How many input frames input device `inDeviceId` records later what output device
    // `outDeviceId` plays, beyond the path's own latency, where the backend knows it (the
    // virtual card's device under test: its delay); 0 where it does not. A recording of
    // what the output plays (the log sweep) lasts this much longer.
    virtual std::uint32_t WaveKnownDelay(unsigned inDeviceId, unsigned outDeviceId);

    // Volumes, addressed by device number (packed left/right, see PackVolume).
    virtual MmResult WaveOutGetVolume(unsigned deviceId, std::uint32_t& volume) = 0;
    virtual MmResult WaveOutSetVolume(unsigned deviceId, std::uint32_t volume) = 0;
    virtual MmResult AuxGetVolume(unsigned deviceId, std::uint32_t& volume) = 0;
    virtual MmResult AuxSetVolume(unsigned deviceId, std::uint32_t volume) = 0;

    // Error texts in the platform's style: 0 and the text when the code is known,
    // kMmBadErrNum and an empty text when not.
    virtual MmResult WaveInGetErrorText(MmResult code, std::string& text);
    virtual MmResult WaveOutGetErrorText(MmResult code, std::string& text);
};

/// Which backend serves the devices.
enum class AudioBackend {
    Auto,       // real devices through PortAudio when any exist, plus the virtual card
    Virtual,    // the virtual loopback card only
    PortAudio,  // real devices through PortAudio (error when PortAudio cannot start)
    Jack,       // PortAudio's JACK host API (a JACK server, or PipeWire's pipewire-jack)
};

/// Result of reading the backend choice.
struct AudioBackendChoice {
    AudioBackend backend = AudioBackend::Auto;
    std::string error;  // non-empty: the text could not be used (backend stays Auto)
};

/// Reads the backend choice: `option` (the `--audio` value) when non-empty, else
/// `environment` (the value of SONVERA_AUDIO, nullptr when unset) when non-empty, else
/// Auto. Accepts "virtual", "portaudio", "jack", "auto" (case-insensitive); anything
/// else is an error naming the bad value and the accepted ones.
AudioBackendChoice ParseAudioBackend(std::string_view option, const char* environment);

/// The simulated device under test between the loopback card's right output and right
/// input. The chain, in order: delay, nonlinearity, gain, high-pass, low-pass, noise.
struct DutConfig {
    double gainDb = 0.0;       // gain=DB
    double highPassHz = 0.0;   // hp=HZ, 2nd-order Butterworth corner; 0: none
    double lowPassHz = 0.0;    // lp=HZ, 2nd-order Butterworth corner; 0: none
    double h2 = 0.0;           // h2=FRACTION: 2nd harmonic amplitude for a full-scale sine
    double h3 = 0.0;           // h3=FRACTION: 3rd harmonic amplitude for a full-scale sine
    bool noise = false;        // noise given?
    double noiseDbfs = -200.0; // noise=DBFS: white noise RMS re full scale 1.0
    int delaySamples = 0;      // delay=SAMPLES (input frames)
    /// xtalk=DB: each input also carries the other input's signal this far down (the
    /// inputs' crosstalk, the same both ways); without it the inputs are independent.
    bool crosstalk = false;
    double crosstalkDb = -200.0;
};

/// The DUT used when neither `--dut` nor SONVERA_DUT gives one: a slight roll-off
/// (hp=10, lp=20000), 0.01 % distortion (h2=0.00008, h3=0.00006) over a -110 dBFS
/// noise floor, no gain, no delay.
DutConfig DefaultDut();

/// Parses a DUT spec ("gain=-3,hp=20,lp=20000,h2=0.001,h3=0.0005,noise=-100,delay=12,xtalk=-90").
/// Names absent from the spec take the ideal value (no gain, filter, distortion, noise
/// or delay). Returns the empty string on success (and sets `dut`), else a clear error
/// text naming the bad item (and leaves `dut` unchanged).
std::string ParseDutSpec(std::string_view spec, DutConfig& dut);

/// The DUT from `--dut` (`option`, when non-empty), else SONVERA_DUT (`environment`,
/// when set and non-empty), else DefaultDut(). Returns the error text or "".
std::string DutFromOptions(std::string_view option, const char* environment, DutConfig& dut);

/// Creates the wave layer for a backend, with the given DUT on the virtual card. Device
/// order: real devices first (the system default first among them), the virtual card
/// after them but never beyond slot 2, the last one the program can select; without real
/// devices it is device 0. Auto falls back to the virtual
/// card alone when PortAudio cannot start. Returns nullptr and sets `error` only when
/// PortAudio (or its JACK host API) was asked for explicitly and cannot start. The virtual card runs on the
/// real-time clock here.
std::unique_ptr<WaveLayer> CreateWaveLayer(AudioBackend backend, const DutConfig& dut,
                                           std::string& error);

}  // namespace sonvera
