#pragma once
// What the measurements and the generator tell the user about their state: a run has
// started, the step a sweep is at, how a run ended, or why a command was refused. The
// main window shows it in the status line under the page; a headless user may ignore it.

#include <string>

namespace sonvera {

enum class Measurement { Spectrum, Sweep, Scope, Generator };

enum class RunEvent {
    Running,         // the run (or the generator's signal) goes on
    Step,            // a sweep step: `freqHz`, `step` of `steps`
    Stopped,         // ended by the user or by leaving the page (a sweep: at `freqHz`, `step`)
    Finished,        // ended by itself: a single run's mean, a sweep's last step (`steps`)
    TriggerReached,  // a trigger run ended on a block at or above the threshold
    AboveHalfRate,   // a sweep step at `freqHz` lies above half the sample rate
    DeviceError,     // ended by the sound device; `detail` holds the device's error text
    Refused,         // a command did nothing; `refusal` says why, `control` names it
    Recording,       // a long block: `recordedSeconds` of `totalSeconds` are recorded
};

enum class Refusal {
    None,
    NoInputDevice,       // there is no usable input device
    AlreadyRunning,      // the run is going already
    MeasurementRunning,  // the control is locked while a measurement runs
    SignalPlaying,       // the control is locked while the generator plays
    SweepPlaying,        // the output plays the sweep's tone
    NoFrequency,         // the generator has no frequency to play
    InvalidFrequency,    // `detail` is not a frequency the generator takes
};

/// One message for the status line.
struct RunReport {
    RunReport() = default;
    RunReport(Measurement w, RunEvent e) : what(w), event(e) {}

    Measurement what = Measurement::Spectrum;
    RunEvent event = RunEvent::Running;
    int freqHz = 0;
    int step = 0;   // 1-based
    int steps = 0;
    Refusal refusal = Refusal::None;
    std::string control;  // caption of the refused control; empty: the measurement's name
    std::string detail;
    double recordedSeconds = 0.0;
    double totalSeconds = 0.0;
};

/// The text of `report` in German ('D') or English (any other letter).
std::string RunStatusText(const RunReport& report, char language);

/// The tooltip of controls and menu items locked while a measurement runs.
std::string LockedDuringMeasurementText(char language);

}  // namespace sonvera
