#pragma once
// The start of the sound system that every measurement stands on, shared by the
// program's main window and the command-line tool: the device report and the engine
// started, the main settings read with their effects on the engine (devices selected,
// correction files loaded, the recording line chosen and set), and the weighting filter.

#include <cstdint>
#include <functional>
#include <string>

#include "config/profilefile.h"
#include "config/sections.h"
#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/weighting.h"

namespace sonvera {

class SoundEngine;

/// The devices found when the sound system started.
struct SoundDevices {
    int inCount = 0;
    int outCount = 0;
    std::uint32_t captureFormats = 0;
};

/// The correction curves the start fills and the loader that reads their files.
struct StartCurves {
    CorrectionCurve& in;
    CorrectionCurve& out;
    CurveFileLoader& loader;
    /// The program creates a correction file that is missing (holding "1000 0", which
    /// corrects nothing); a user that only reads leaves it missing and the curve empty,
    /// which corrects the same.
    bool createMissing = true;
    /// Told every correction file name the start hands to the loader.
    std::function<void(const std::string&)> fileRead;
};

/// Builds the device report and starts the engine: volumes saved, buffers allocated,
/// per-device formats read from the engine's configuration file. Returns the engine's
/// error code, 0 when it started.
int StartSoundSystem(SoundEngine& engine, SoundDevices& devices);

/// Reads MAIN .. OSZI as the program starts: the devices stored are selected (index 0
/// when the stored one is not there), the correction files loaded and switched on as
/// stored, the recording line chosen and set to its volume. Each hook of `shown` that
/// is set is called after the engine's part of its step (for what a window shows);
/// its device and correction hooks receive what was chosen.
void ReadStartSettings(const ProfileFile& file, SoundEngine& engine, const SoundDevices& devices,
                       Settings& settings, StartCurves curves, const MainReadHooks& shown = {});

/// Chooses recording line `line` (the engine's own choice when it names none), silences
/// the other lines and sets the chosen one to `GenInVolume`; `InChannel` becomes the
/// line in use, which is returned.
int SelectInputLine(SoundEngine& engine, VolumeSettings& volume, int line);

/// Section ANALYSE and the weighting filter it names.
void ReadStartFilter(const ProfileFile& file, AnalysisSettings& analysis, WeightingFilter& filter);

}  // namespace sonvera
