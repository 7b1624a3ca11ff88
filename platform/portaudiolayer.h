#pragma once

#include <memory>
#include <string>

#include "platform/wavelayer.h"

namespace sonvera {

/// Where the virtual loopback card sits among realCount real devices of one kind: after
/// them, but never beyond the last selectable slot (2), so it can always be chosen.
unsigned LoopbackSlot(unsigned realCount);

/// Which real device (0 .. realCount-1) device number deviceId stands for; -1 for the
/// loopback card's slot, -2 when there is no such device.
int RealDeviceOfSlot(unsigned deviceId, unsigned realCount);

/// Real sound devices through PortAudio (normally its ALSA host API, which reaches
/// PulseAudio or PipeWire through their ALSA plugins), with the virtual loopback card as
/// one device of each kind.
///
/// Device order: the system default device first, then the other real devices of the
/// same host API (ALSA's plugin-only entries such as "surround51" or "dmix" left out),
/// with "Sonvera Loopback" after them, or in slot 2 when there are more than two (the
/// program can select only slots 0..2; the real devices after it keep their place in
/// the report). Auxiliary devices are the input-source controls (Line, Mic, CD, ...) of
/// the ALSA mixer of the default input device; a card without any has none. The
/// wave-out volume is the program's own: a gain the output callback applies to the
/// samples it plays, kept per output device for the lifetime of the layer (full at
/// first). No mixer control of the output is ever touched.
///
/// Persistent streams: opening a PortAudio stream per block is slow, so one stream per
/// direction, device and format is kept running. Opening a device attaches to it (or
/// replaces it when device or format differ); WaveInStart collects the next frames into
/// the queued buffers; closing detaches; the stream itself closes after
/// kIdleCloseSeconds without an open handle, or when the layer is destroyed. Looping
/// output buffers are looped inside the audio callback. The audio callbacks neither
/// allocate nor lock: buffers pass in and out through lock-free single-producer /
/// single-consumer rings, and a completion thread of the layer calls the WavePost.
class PortAudioLayer : public WaveLayer {
public:
    static constexpr double kIdleCloseSeconds = 3.0;

    /// Starts PortAudio and enumerates the devices of its default host API (ALSA), or
    /// with `jack` those of its JACK host API (the server's ports; BackendName "jack").
    /// On failure `error` says why and the object must not be used.
    static std::unique_ptr<PortAudioLayer> Create(const DutConfig& dut, std::string& error, bool jack = false);
    ~PortAudioLayer() override;
    PortAudioLayer(const PortAudioLayer&) = delete;
    PortAudioLayer& operator=(const PortAudioLayer&) = delete;

    std::string BackendName() const override;

    /// Real (non-virtual) devices found, per direction.
    unsigned RealInputCount() const;
    unsigned RealOutputCount() const;

    /// PortAudio streams kept open at this moment (0..2: at most one per direction).
    unsigned OpenStreamCount() const;

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
    /// Both on real devices: the input stream collects from its next callback on, then
    /// the buffer is handed to the output stream; the recording holds the round trip's
    /// latency before the first played frame. Both on the virtual card: its own.
    MmResult WavePlayRecord(WaveOutHandle out, WaveHeader* outHeader, WaveInHandle in) override;
    /// The virtual card's, when both devices are its slot.
    double KnownRoundTripSeconds(unsigned in, unsigned out) override;
    /// JACK: the server's rate; a device of the sound server ("default", "pulse",
    /// "pipewire"): the server's rate asked through the pulse protocol; others 0.
    std::uint32_t DeviceOwnRate(bool input, unsigned deviceId) override;
    /// The virtual card's delay when both devices are the virtual card; 0 for real devices.
    std::uint32_t WaveKnownDelay(unsigned inDeviceId, unsigned outDeviceId) override;
    MmResult WaveOutGetVolume(unsigned deviceId, std::uint32_t& volume) override;
    MmResult WaveOutSetVolume(unsigned deviceId, std::uint32_t volume) override;
    MmResult AuxGetVolume(unsigned deviceId, std::uint32_t& volume) override;
    MmResult AuxSetVolume(unsigned deviceId, std::uint32_t volume) override;

private:
    PortAudioLayer();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sonvera
