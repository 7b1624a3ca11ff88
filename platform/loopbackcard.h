#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/wavelayer.h"

namespace sonvera {

/// When a virtual card completes its buffers.
enum class LoopbackClock {
    RealTime,  // a block of N frames completes N/fs seconds after start (worker thread)
    Instant,   // completion is posted at once, on the calling thread, before the call returns
};

/// Every call of the wave layer, for fault injection.
enum class WaveCall {
    WaveInGetDevCaps,
    WaveOutGetDevCaps,
    AuxGetDevCaps,
    WaveInOpenQuery,  // query-only open
    WaveInOpen,
    WaveInPrepareHeader,
    WaveInAddBuffer,
    WaveInStart,
    WaveInReset,
    WaveInUnprepareHeader,
    WaveInClose,
    WaveOutOpenQuery,
    WaveOutOpen,
    WaveOutPrepareHeader,
    WaveOutWrite,
    WaveOutReset,
    WaveOutUnprepareHeader,
    WaveOutClose,
    WaveOutGetVolume,
    WaveOutSetVolume,
    AuxGetVolume,
    AuxSetVolume,
    WavePlayRecord,
    Count_,  // number of calls, not a call
};

/// The virtual loopback card "Sonvera Loopback": one wave-in and one wave-out device
/// joined by a virtual cable, and three auxiliary lines "Line-In" (technology 2, the
/// line the cable is connected to), "Mic" (technology 2) and "CD" (technology 1).
///
/// Signal path: the output plays the written buffer (looped as asked), scaled by the
/// wave-out volume (full at creation; every device number has its own, only device 0
/// plays). The input records
///   left  = output left,
///   right = output right through the device under test (DutConfig),
/// both scaled by the Line-In volume (Mic and CD carry silence, so their volumes add
/// nothing). When nothing plays, the input is silence plus the DUT's noise on the right.
/// With equal rates, full volumes and equal bits, left input = left output bit-exact.
/// Output and input share one time line: the input block covers the time from its
/// start to its completion, and reads the output that plays during that time (when
/// the rates differ, converted by band-limited interpolation, as a sound server does).
///
/// Formats: PCM, 1 or 2 channels, 8/16/32 bits, 1000 .. 200000 Hz. The caps report
/// every standard format, 2 channels, wave-out support kWaveCapsVolume|kWaveCapsLrVolume.
///
/// Faults: any call can be made to fail with a chosen code, once or always; device
/// counts and capabilities can be overridden (an overridden count above the real one
/// reports devices whose capabilities succeed but whose opens give kMmBadDeviceId,
/// unless capabilities were set for them). Not thread-safe towards its own caller:
/// call it from one thread; completions come from its worker thread (RealTime).
class LoopbackCard : public WaveLayer {
public:
    explicit LoopbackCard(const DutConfig& dut = DefaultDut(),
                          LoopbackClock clock = LoopbackClock::Instant,
                          std::uint32_t noiseSeed = 12345);
    ~LoopbackCard() override;
    LoopbackCard(const LoopbackCard&) = delete;
    LoopbackCard& operator=(const LoopbackCard&) = delete;

    std::string BackendName() const override;
    /// The card's time line in seconds (the instant clock's own).
    double ClockSeconds() override;
    /// The cable's latency (SetCableLatency) for its own devices.
    double KnownRoundTripSeconds(unsigned in, unsigned out) override;

    /// The product name of both wave devices.
    static constexpr const char* kProductName = "Sonvera Loopback";

    // Fault injection and overrides.
    /// The next call of `call` (once) or every call (always) fails with `code`.
    void InjectFault(WaveCall call, MmResult code, bool always = false);
    void ClearFaults();
    /// Override the reported device counts (nullopt: the card's own).
    void SetDeviceCounts(std::optional<unsigned> waveIn, std::optional<unsigned> waveOut,
                         std::optional<unsigned> midiOut, std::optional<unsigned> aux);
    /// Override the capabilities reported for a device number (any number).
    void SetWaveInCaps(unsigned deviceId, const WaveInCaps& caps);
    void SetWaveOutCaps(unsigned deviceId, const WaveOutCaps& caps);
    void SetAuxCaps(unsigned deviceId, const AuxCaps& caps);
    /// Instant clock: lets `ms` milliseconds pass (what plays meanwhile runs through the
    /// device under test, so its filters settle as on a real card). The real-time clock
    /// keeps its own time: nothing happens.
    void AdvanceInstantClock(int ms);
    /// Latency of the cable: what plays reaches both inputs `seconds` later (0 at
    /// creation), as the round trip of a real card and sound server.
    void SetCableLatency(double seconds);
    /// The next `blocks` input buffers lose frames in their middle (the time line jumps
    /// by `lostFrames` frames there) and are flagged kWhdrGap, as a real device reports
    /// an overflow; `flagged` false leaves the flag off, as a sound server that loses
    /// frames without a word.
    void InjectInputGaps(int blocks, int lostFrames = 64, bool flagged = true);
    /// Counts of completions posted so far (InData, OutDone), for tests.
    unsigned PostedInData() const;
    unsigned PostedOutDone() const;

    // WaveLayer.
    unsigned WaveInGetNumDevs() override;
    unsigned WaveOutGetNumDevs() override;
    unsigned MidiOutGetNumDevs() override;
    unsigned AuxGetNumDevs() override;
    MmResult WaveInGetDevCaps(unsigned deviceId, WaveInCaps& caps) override;
    MmResult WaveOutGetDevCaps(unsigned deviceId, WaveOutCaps& caps) override;
    MmResult AuxGetDevCaps(unsigned deviceId, AuxCaps& caps) override;
    MmResult WaveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat& format,
                        WavePost post, std::uint32_t flags) override;
    MmResult WaveInPrepareHeader(WaveInHandle handle, WaveHeader* header) override;
    MmResult WaveInAddBuffer(WaveInHandle handle, WaveHeader* header) override;
    MmResult WaveInStart(WaveInHandle handle) override;
    MmResult WaveInReset(WaveInHandle handle) override;
    MmResult WaveInUnprepareHeader(WaveInHandle handle, WaveHeader* header) override;
    MmResult WaveInClose(WaveInHandle handle) override;
    MmResult WaveOutOpen(WaveOutHandle* handle, unsigned deviceId, const WaveFormat& format,
                         WavePost post, std::uint32_t flags) override;
    MmResult WaveOutPrepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    MmResult WaveOutWrite(WaveOutHandle handle, WaveHeader* header) override;
    MmResult WaveOutReset(WaveOutHandle handle) override;
    MmResult WaveOutUnprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    MmResult WaveOutClose(WaveOutHandle handle) override;
    /// Input and output start on the same tick of the card's time line: the input's
    /// frame i records what output frame i plays (at equal rates).
    MmResult WavePlayRecord(WaveOutHandle out, WaveHeader* outHeader, WaveInHandle in) override;
    /// The device under test's delay.
    std::uint32_t WaveKnownDelay(unsigned inDeviceId, unsigned outDeviceId) override;
    MmResult WaveOutGetVolume(unsigned deviceId, std::uint32_t& volume) override;
    MmResult WaveOutSetVolume(unsigned deviceId, std::uint32_t volume) override;
    MmResult AuxGetVolume(unsigned deviceId, std::uint32_t& volume) override;
    MmResult AuxSetVolume(unsigned deviceId, std::uint32_t volume) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sonvera
