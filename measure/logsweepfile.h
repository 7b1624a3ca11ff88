#pragma once
// The analysis of a recording of the log sweep file (dsp/timingmarker.h) made elsewhere:
// the wave file is read, the timing markers found and the recorder's rate read from their
// distance (corrected by resampling when it lies within kLogSweepMaxRateDeviation of the
// file's rate, refused beyond), the sweep cut out and analysed as a played sweep. The
// delays count against the file's timing: a recording that starts with the file's first
// frame reads the device's own delay.

#include <string>

#include "dsp/logsweep.h"
#include "dsp/logsweepanalysis.h"

namespace sonvera {

/// Which channels of the recording are measured.
enum class LogSweepInputMode {
    Reference,  // the left channel carries the played signal, the right the device's output
    Stereo,     // both channels against the sweep
    Mono,       // the left (or only) channel against the sweep
};

/// A recorder's rate may differ from the file's by this share and still be corrected.
inline constexpr double kLogSweepMaxRateDeviation = 0.01;

/// Why a recording was not analysed.
enum class LogSweepFileProblem {
    None,
    FileUnreadable,  // fileError says why
    BadParams,       // paramError (at the file's rate)
    NoMarker,        // no timing marker stands out (without --ref)
    OneMarker,       // one marker, not its companion
    RateMismatch,    // the markers' distance shows recorderRateHz, too far from the file's
    SweepCut,        // the recording ends before the sweep does
    NoSignalLeft,
    NoSignalRight,
    NoMemory,
};

struct LogSweepFileOutcome {
    LogSweepFileProblem problem = LogSweepFileProblem::None;
    std::string fileError;
    LogSweepParamError paramError = LogSweepParamError::None;
    LogSweepInputMode mode = LogSweepInputMode::Stereo;
    int fileRateHz = 0;
    bool markersFound = false;
    double markerFrame = 0.0;     // the first marker's start in the recording (its frames)
    double recorderRateHz = 0.0;  // the file's rate times the markers' distance over theirs
    bool rateCorrected = false;
    long offsetFrames = 0;        // the recording's sweep against the file's (whole frames)
    double missingSeconds = 0.0;  // SweepCut: how much of the sweep is not in the recording
    LogSweepDesign design;
    /// The analysis; with Mono its mode is Reference against the sweep itself.
    LogSweepResult result;
};

/// Reads and analyses `path` as a recording of the sweep of `params` (its rate is taken
/// from the file) on a grid of `pointsPerOctave`. With Reference the markers are used
/// when present; without them the recording is taken to start with the sweep.
LogSweepFileOutcome AnalyseLogSweepFile(const std::string& path, LogSweepParams params, LogSweepInputMode mode,
                                        int pointsPerOctave);

}  // namespace sonvera
