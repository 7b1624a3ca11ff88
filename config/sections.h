#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/profilefile.h"
#include "config/settings.h"

namespace sonvera {

// The readers and writers of the configuration file's sections. Every reader applies
// the file's rules (defaults for absent keys, fallbacks for unparsable values, the
// special values) and every writer writes the fixed formats, so that writing and
// reading back gives the same settings.

/// Reader buffer sizes (including the terminating zero, see ProfileFile::GetString).
inline constexpr std::size_t kMainBufferSize = 153;     // MAIN .. DIAGRAMM and DIAGPRIV
inline constexpr std::size_t kDialogBufferSize = 199;   // ANALYSE and GEN
inline constexpr std::size_t kSoundBufferSize = 29;     // SDSOUND
inline constexpr std::size_t kCommentMaxChars = 120;    // COMMENT of FFT and WOB, UFNAME

/// Side effects of reading the main window's sections, supplied by the main window.
/// An empty function is skipped.
struct MainReadHooks {
    /// Number of wave-input / wave-output devices. Without it, 0..2 is the only limit.
    std::function<int()> InDeviceCount;
    std::function<int()> OutDeviceCount;
    /// Called with the device index read from "INDEV" / "OUTDEV" (after its checks).
    std::function<void(int)> SelectInDevice;
    std::function<void(int)> SelectOutDevice;
    /// Called with a non-empty correction file name right after it is read, before the
    /// active flags are read (loading a curve clears its active flag).
    std::function<void(const std::string&)> LoadInCorrection;
    std::function<void(const std::string&)> LoadOutCorrection;
    /// Called with the active flag read from "INCOAKT" / "OUTCOAKT" (menu check marks).
    std::function<void(bool)> SetInCorrActive;
    std::function<void(bool)> SetOutCorrActive;
    /// Called with `InChannel` once "FGINVOLUME" and "INCHANNEL" are read; the main
    /// window chooses the line and updates `InChannel` to the line in use itself.
    std::function<void(int)> SelectAuxInput;
    /// Called with `FftAverage` after "AVERAGE" is read (the spin box `AverVal`).
    std::function<void(int)> SetAverVal;
};

/// Reads MAIN, EICH, VOLUME, FFT, DIAGRAMM, MAIN's LEFT and TOP, WOB and OSZI, in
/// that order, into `settings`.
void ReadMainSections(const ProfileFile& file, Settings& settings, const MainReadHooks& hooks);

/// The output device "OUTDEV" of section MAIN names, checked as ReadMainSections does
/// (0 when not 0..2 or not below `outDeviceCount`).
int ReadOutDeviceIndex(const ProfileFile& file, int outDeviceCount);

/// Writes MAIN, EICH, VOLUME, FFT, WOB, OSZI, DIAGRAMM and last MAIN's LEFT and TOP.
void WriteMainSections(ProfileFile& file, const Settings& settings);

/// Section ANALYSE.
void ReadAnalysisSection(const ProfileFile& file, AnalysisSettings& analysis);
void WriteAnalysisSection(ProfileFile& file, const AnalysisSettings& analysis);

/// Section GEN.
void ReadGeneratorSection(const ProfileFile& file, GeneratorSettings& generator);
void WriteGeneratorSection(ProfileFile& file, const GeneratorSettings& generator);

/// The key stem of a device in section SDSOUND: its product name with every blank
/// replaced by "_", every "[" by "(" and every "]" by ")".
std::string SoundKeyStem(std::string_view productName);

/// Section SDSOUND: the formats of wave-input devices 0..2 and wave-output devices
/// 0..2. An empty name means the device does not exist: it is read with the bare
/// suffixes as keys, and nothing is written for it. Reading sets each record's
/// `DeviceName` to the name given. A device without a stored rate gets its own rate
/// (`inOwnRates`, `outOwnRates`: a sound server's rate), or 44100 Hz where that is 0.
void ReadSoundSection(const ProfileFile& file, const std::array<std::string, 3>& inNames,
                      const std::array<std::string, 3>& outNames, std::array<DeviceFormat, 3>& in,
                      std::array<DeviceFormat, 3>& out, const std::array<std::uint32_t, 3>& inOwnRates = {},
                      const std::array<std::uint32_t, 3>& outOwnRates = {});
void WriteSoundSection(ProfileFile& file, const std::array<DeviceFormat, 3>& in,
                       const std::array<DeviceFormat, 3>& out, const std::array<std::string, 3>& inNames,
                       const std::array<std::string, 3>& outNames);

/// Section DIAGPRIV: the diagram options (a colour of 0 means its default colour).
void ReadDiagramOptions(const ProfileFile& file, DiagramOptions& options);
void WriteDiagramOptions(ProfileFile& file, const DiagramOptions& options);

/// Section LOGSWEEP. A value that is unparsable or outside its range (from below 1 Hz,
/// to not above from, seconds outside 0.5 .. 60, a level above 0 dB, points per octave
/// outside 1 .. 200, an unknown MODE or CURVE2) reads as its default; from and to are
/// checked as a pair. MODE is "REF" or "STEREO"; CURVE2 one of "PHASE", "THD", "H2",
/// "H3", "H4", "H5", "LEFT".
void ReadLogSweepSection(const ProfileFile& file, LogSweepSettings& logSweep);
void WriteLogSweepSection(ProfileFile& file, const LogSweepSettings& logSweep);
/// Section LIMITS, key SWEEP: the limits file of the stepped sweep ("" none).
std::string ReadSweepLimitsFile(const ProfileFile& file);
void WriteSweepLimitsFile(ProfileFile& file, const std::string& path);
/// The CURVE2 word of a curve, and the curve of a word (nullopt for an unknown one).
std::string_view LogSweepCurveName(LogSweepCurve curve);
std::optional<LogSweepCurve> LogSweepCurveFromName(std::string_view name);

/// Sets bits, swap flag and rate of a device format and recomputes BlockAlign and
/// AvgBytesPerSec (2 channels, PCM; 24 bits travel in 32-bit containers).
void SetDeviceFormat(DeviceFormat& device, int bits, bool swap, std::uint32_t rateHz);

}  // namespace sonvera
