#pragma once
// The log sweep of the generator page: one exponential sine sweep played while both
// inputs record it as one piece, then deconvolved and analysed (dsp/logsweepanalysis.h);
// the level as curve 1 and the phase, THD, a harmonic or the left input's level as
// curve 2 of the diagram, the delay and the band in its result line.

#include <chrono>
#include <string>
#include <vector>

#include "config/settings.h"
#include "dsp/logsweep.h"
#include "dsp/logsweepanalysis.h"
#include "measure/logsweepfile.h"

namespace sonvera {

class SoundEngine;
class SweepDiagram;

/// The log sweep's window as the run sees it (a recorder in tests, nothing headless).
class LogSweepView {
public:
    virtual ~LogSweepView() = default;
    /// START, STOP and the settings: the settings are locked while a sweep runs.
    virtual void SetRunning(bool /*running*/) {}
    /// The line under the controls: the result line, or why the sweep ended.
    virtual void SetStatus(const std::string& /*text*/) {}
};

/// Texts of the log sweep in one language.
struct LogSweepTexts {
    std::string fromTooLow;
    std::string fromNotBelowTo;
    std::string toAboveHalfRate;
    std::string secondsOutOfRange;
    std::string levelAboveZero;
    std::string rateOutOfRange;
    std::string fromAboveRateShare;
    std::string bandTooNarrow;
    std::string noSignalLeft;
    std::string noSignalRight;
    std::string noMemory;
    std::string busy;
    std::string noInput;
    std::string running;
    std::string stopped;
    std::string delay;    // "Delay", before the samples
    std::string samples;  // "samples"
    std::string band;
    std::string window;
    std::string overload;  // before the count of clipped samples
    std::string roundTrip;  // stereo: before the left input's delay against the played sweep
    // A recording analysed from a file ("%1", "%2": the numbers).
    std::string analyseRecording;  // the button
    std::string fileUnreadable;    // %1: the reason
    std::string noMarker;
    std::string oneMarker;
    std::string rateMismatch;      // %1: the recording's rate, %2: the file's
    std::string sweepCut;          // %1: seconds missing
    // After the count of sweeps that lost or gained frames and were swept again.
    std::string sweptAgain;
};

/// Why a recording was not analysed, in the language of `texts` ("" when it was).
std::string LogSweepFileProblemText(const LogSweepFileOutcome& outcome, const LogSweepTexts& texts);

/// German ('D') or English ('E') texts; nullptr for any other letter.
const LogSweepTexts* LogSweepTextsFor(char language);
/// The text of a parameter error (empty for none).
std::string LogSweepParamText(LogSweepParamError error, const LogSweepTexts& texts);

/// The parameters of `settings` at `rateHz`.
LogSweepParams LogSweepParamsFrom(const LogSweepSettings& settings, int rateHz);

/// The run (all on one thread, the completion through the engine's message port).
class LogSweepRun {
public:
    LogSweepRun(SoundEngine& engine, LogSweepSettings& settings, SweepDiagram& diagram, LogSweepView& view);

    /// The language of the texts ('D' or 'E'; others change nothing).
    void SetLanguage(char language);

    /// START: checks the settings at the output's rate (a warning box names what is
    /// wrong), plays and records. False when it did not start.
    bool Start();
    /// STOP: ends a sweep in flight; nothing of it is shown.
    void Stop();
    /// The completion: takes the recording, analyses it and shows the result.
    void Done();

    /// "Analyse recording...": the wave file `path` as a recording of the sweep file made
    /// with the settings (see measure/logsweepfile.h), shown like a played sweep's result.
    /// False when it was not analysed (the status line and a warning box say why).
    bool AnalyseRecording(const std::string& path, LogSweepInputMode mode);
    /// Shows an analysed recording; false (with the status and a warning) for a problem.
    bool ShowRecording(LogSweepFileOutcome outcome);

    /// A sweep is in flight (a restart of the sound engine ends it too).
    bool Running() const;
    /// Share of the sweep in flight done, 0 .. 1, from the time since its start.
    double Progress() const;
    /// How long the recording of the sweep in flight (or the last one) lasts, in seconds.
    double RecordingSeconds() const { return seconds_; }
    /// Whether a result is there to show, and the result.
    bool HasResult() const { return hasResult_; }
    const LogSweepResult& Result() const { return result_; }
    const LogSweepDesign& Design() const { return design_; }
    /// Clipped samples of the last recording.
    int Overloads() const { return overloads_; }
    /// Sweeps of the last start recorded again because frames were lost or inserted.
    int SweptAgain() const { return gapTries_; }
    /// The line under the diagram: delay, band and window length.
    std::string ResultLine() const;
    /// The same in the language of `texts`.
    std::string ResultLineIn(const LogSweepTexts& texts) const;
    /// Stores the result into the diagram with the current choice of the second curve.
    void ShowResult();

private:
    void Fail(const std::string& text, bool deviceError, int code);

    SoundEngine& engine_;
    LogSweepSettings& settings_;
    SweepDiagram& diagram_;
    LogSweepView& view_;
    const LogSweepTexts* texts_;

    bool running_ = false;
    bool withReference_ = true;
    int pointsPerOctave_ = kLogSweepDefaultPointsPerOctave;
    LogSweepDesign design_;
    std::vector<float> signal_;
    std::size_t recordFrames_ = 0; // frames recorded, before the round trip
    int gapTries_ = 0;             // sweeps of this start that lost frames
    std::chrono::steady_clock::time_point started_;
    double seconds_ = 0.0;
    bool hasResult_ = false;
    LogSweepResult result_;
    int overloads_ = 0;
};

}  // namespace sonvera
