#pragma once
// The frequency sweep of the generator page: for each step a sine tone is played, a
// settle time waited, one block recorded, and one point (level ratio and phase with the
// left input as reference, or the level of each input in stereo) stored in the diagram.
// The next step is requested by a posted message, never from inside the completion.

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "dsp/curve.h"
#include "dsp/spectrum.h"
#include "measure/limits.h"
#include "measure/resultline.h"
#include "measure/runstatus.h"

namespace sonvera {

class SoundEngine;
struct GeneratorParams;

/// The diagram operations the sweep needs (the diagram window's model in the program,
/// a recorder in tests). Failure flags are true on failure.
class SweepDiagram {
public:
    virtual ~SweepDiagram() = default;
    virtual bool PrepareDiagram(const std::string& comment, int lastIndex, int freqMin, int freqMax,
                                float& levelMin, float& levelMax) = 0;
    virtual void ClearDiagramData() = 0;
    virtual void ResetDiagramScales() = 0;
    virtual void SetCurvesShown(bool curve1, bool curve2) = 0;
    virtual void SetAxesShown(bool axis1, bool axis2) = 0;
    virtual void SetLevelRange(float max, float min) = 0;
    virtual void SetSecondRange(float max, float min) = 0;
    virtual void GetLevelRange(float& min, float& max) const = 0;
    virtual bool StoreDiagramPoint(const float* values, int mode, int index, float freqHz) = 0;
    virtual void SetResultLine(const std::string& text) = 0;
    /// The result line in both languages: shown in `language`, unless the diagram follows
    /// the interface's language itself (the program's diagram window does).
    virtual void SetResultLines(const ResultLine& line, char language) { SetResultLine(line.In(language)); }
    virtual std::string GetComment() const = 0;
    virtual void Repaint() = 0;
    virtual void Show(bool visible) = 0;
    /// The right axis' unit and whether the text export wraps curve 2 into -180 .. 180
    /// (the stepped sweep: degrees, not wrapped; the log sweep sets its own).
    virtual void SetSecondAxis(const std::string& /*unit*/, bool /*wrapOnExport*/) {}
    /// The limits the sweep checks, drawn as two dashed curves; nullptr takes them away.
    virtual void SetLimitCurves(const LimitCurves* /*curves*/) {}
    /// The horizontal axis shows the output level in dBFS (the level sweep) instead of
    /// frequency; a change resets the scales.
    virtual void SetLevelAxis(bool /*level*/) {}
};

/// The controls of the generator page the sweep reads and writes. Every routine but the
/// posting has a harmless default, so a headless user overrides only what it needs.
class SweepPageView {
public:
    virtual ~SweepPageView() = default;
    /// The red overload label of the group "Wobbeln": "Over N" or empty.
    virtual void SetOverloadLabel(const std::string& /*text*/) {}
    /// `FreqText`, the frequency of the current step.
    virtual void SetFreqText(const std::string& /*text*/) {}
    /// The caption of `wobbelnBut`.
    virtual void SetStartCaption(const std::string& /*text*/) {}
    /// "Out-Para", "Setup", "&Kalibrierung", "Audio-In-Device", "Audio-Out-Device",
    /// "Audio-In-Parameter" and "Audio-Out-Parameter": disabled while a sweep runs.
    virtual void SetSweepLockedControlsEnabled(bool /*enabled*/) {}
    virtual void SetAnalyseMenuEnabled(bool /*enabled*/) {}
    /// The main window's SetInputLevel (sliders, line volume, labels): a run applies the
    /// level saved for it when it starts.
    virtual void SetInputLevel(int /*percent*/) {}
    /// The sliders and labels only; the line keeps its volume (entering the page).
    virtual void ShowInputLevel(int /*percent*/) {}
    /// The output slider's position and its label.
    virtual void SetOutputSlider(int /*position*/) {}
    virtual void SetOutputLabel(const std::string& /*text*/) {}
    /// Shows the generator window over the group " Generator " and keeps it on top
    /// (true), or returns it to the normal window order (false).
    virtual void ShowGeneratorOnPage(bool /*pageShown*/) {}
    /// `PlaceGenerator` at the screen position of the group " Generator ".
    virtual void PlaceGenerator(bool /*force*/) {}
    /// Whether the main window stays on top (switched off around modal dialogs).
    virtual void SetMainStayOnTop(bool /*onTop*/) {}
    /// Shows the sweep settings dialog modally on `record`; on OK it has taken the
    /// values over (clamped) and the result is true.
    virtual bool RunSweepDialog(SweepSettings& /*record*/) { return false; }
    /// The wave format dialog for the output side, modally.
    virtual void ShowOutputFormatDialog() {}
    /// Waits `ms` milliseconds between the tone's start and the capture, keeping the
    /// window responsive (the program processes its messages meanwhile; the command-line
    /// tool and tests on an instant clock need not wait at all). Returns false when the
    /// sound engine went away meanwhile (the program is closing): the step then ends
    /// without recording.
    virtual bool SettleWait(int /*ms*/) { return true; }
    /// Posts WM_SWEEP_STEP to the main window (never handled inside this call).
    virtual void PostSweepStep() = 0;
    /// The sweep's step, how it ended, or why a command was refused (the status line).
    virtual void ReportRun(const RunReport& /*report*/) {}
};

/// Texts of the sweep that depend on the interface language.
struct SweepTexts {
    std::string aboveHalfRate;
    // The notice after a sweep in which an input carried no signal at some steps:
    // lead, silent steps, middle, measured steps, tail.
    std::string silentLead;
    std::string silentMiddle;
    std::string silentTail;
    // The limits' verdict: lead, "PASS" or "FAIL n", of, checked, points.
    std::string limitsLead;
    std::string limitsOf;
    std::string limitsPoints;
};

/// German ('D') or English ('E') texts; nullptr for any other letter.
const SweepTexts* SweepTextsFor(char language);

/// Frequency of step `index` of a sweep, rounded to the nearest Hz (halves to even).
/// Logarithmic sweeps with no steps or a start of 0 Hz play 333 Hz; a linear sweep with
/// no steps plays its start. Values that cannot be represented give -1.
int SweepStepFrequency(const SweepSettings& sweep, int index);

/// Frames recorded per step at output rate `rateHz`: the milliseconds of 65520 bytes at
/// 8 bytes per frame (at most those at `bytesPerSample` × 2), as frames. 0 for a rate
/// that is not positive.
int SweepFramesFor(int rateHz, int bytesPerSample);

/// The distortion readings of a step, in this order: THD, THD+N, H2, H3, H4, H5, each in
/// dB re the fundamental. NaN where there is no reading: a harmonic above the band
/// (20 kHz, or the last bin below half the rate), THD without any harmonic in the band,
/// and every reading of an input without a tone the readings can resolve.
constexpr int kSweepDistortionReadings = 6;
using SweepDistortion = std::array<float, kSweepDistortionReadings>;
/// The columns' names as the text tables print them.
extern const std::array<const char*, kSweepDistortionReadings> kSweepDistortionNames;

/// SweepSettings::SweepCurve2: curve 2 shows the phase, or distortion reading
/// SweepCurve2 - 1 (kSweepCurve2Thd .. kSweepCurve2Thd + 5).
constexpr int kSweepCurve2Phase = 0;
constexpr int kSweepCurve2Thd = 1;

/// One step's measurement on an interleaved (right, left) block of `frames` frames.
/// A value that does not exist is NaN: the phase of a silent right input, and both
/// values of a step whose reference (left) input was silent, which has no point.
struct SweepPoint {
    float v1 = 0.0f;
    float v2 = 0.0f;
    bool rightSilent = false;  // the input carried no tone at the step frequency
    bool leftSilent = false;
    /// The right input's distortion, when the step measured it (else all NaN).
    SweepDistortion distortion = NoDistortion();
    static SweepDistortion NoDistortion()
    {
        SweepDistortion d;
        d.fill(std::numeric_limits<float>::quiet_NaN());
        return d;
    }
};

/// One stored step: its frequency and its measurement.
struct SweepStepRecord {
    int freqHz = 0;
    SweepPoint point;
};

/// Frames of a step at `freqHz` that measures distortion at `rateHz`: the power of two at
/// or above a third of a second and 20 periods' worth of bins (so that the transform's bins
/// part the fundamental from 0 Hz and from its harmonics), at most 262144: 16384 at 48 kHz
/// from 60 Hz up, 65536 at 20 Hz. 0 for a rate or frequency not above 0.
int SweepDistortionFrames(int rateHz, int freqHz);

/// Whether the steps of a sweep set up as `sweep` measure the right input's distortion:
/// with reference and phase, curve 2 showing a distortion reading.
bool SweepShowsDistortion(const SweepSettings& sweep);

/// Frames a step at `freqHz` records at `rateHz`: SweepFramesFor, and when it measures
/// distortion at least SweepDistortionFrames. 0 for a rate that is not positive.
int SweepStepFrames(int rateHz, int bytesPerSample, int freqHz, bool distortion);

/// The distortion readings of one input (`offset` 0 right, 1 left) of an interleaved block
/// with a tone at `freqHz`: the first SweepDistortionFrames frames (fewer frames: no
/// reading) windowed with the distortion readings' window, band 20 Hz .. 20 kHz (held below
/// half the rate, and widened by 1 Hz to hold a tone at its edge), harmonics up to H5.
/// `transform` is reused from step to step.
SweepDistortion MeasureSweepDistortion(const float* block, int frames, int offset, int freqHz, int rateHz,
                                       SpectrumTransform& transform);

/// Measures the tone at `freqHz` in each input by a least-squares sine fit of the whole
/// block (constant removed), so level and phase hold from a few periods per block up to
/// half the rate. With reference: level ratio right/left in dB and phase of the right
/// input against the left in degrees (-180..180, a lag negative); a silent right input
/// gives -192 dB and no phase, a silent left input no point. Stereo: the levels of the
/// right and left input (a sine of amplitude a reads 20·log10(a) within 0.01 dB),
/// corrected by `inCorrection`; a silent input reads -192 dB. An input is silent when
/// its tone cannot be told from the rest of its block (an all-zero input never can).
SweepPoint MeasureSweepBlock(const float* block, int frames, int freqHz, int rateHz, bool withReference,
                             const CorrectionCurve& inCorrection);

/// The sweep run of the generator page (all on one thread).
class SweepRun {
public:
    SweepRun(SoundEngine& engine, Settings& settings, SweepDiagram& diagram, SweepPageView& view,
             CorrectionCurve& inCorrection, CorrectionCurve& outCorrection);

    /// The language of the notices ('D' or 'E'; others change nothing).
    void SetLanguage(char language);

    void EnterGeneratorPage();
    void LeaveGeneratorPage();

    /// START.
    void wobbelnButClick();
    /// STOP.
    void STOPbutClick();
    /// Setup: the sweep settings dialog.
    void WobDialogButClick();
    /// "Out-Para": the output's wave format dialog.
    void Button2Click();
    /// "zurück": the generator window back over its group.
    void Button1Click();

    /// The handler of WM_SWEEP_STEP: starts one step.
    void SweepStep();
    /// The capture handler of a step.
    void SweepStepDone();
    /// Reports an output error and stops.
    void dowoberr(int code);

    // Run state, readable by windows and tests.
    bool SweepRunning = false;
    bool SweepToneOn = false;
    int SweepIndex = 0;
    int SweepFrequency = 0;
    int SweepFrames = 8000;
    bool GeneratorPageActive = false;

    /// Whether every step also measures the right input's distortion (curve 2 showing a
    /// distortion reading measures it too). Such a step plays its tone as a loop of whole
    /// periods, so that no phase step at the loop's joins reads as distortion, and records
    /// SweepDistortionFrames at least.
    bool MeasureDistortionEachStep = false;
    bool MeasuresDistortion() const;
    /// The limits each step's levels are checked against (the level ratio with reference,
    /// both levels in stereo), drawn in the diagram; the result line says at the end
    /// whether the sweep passed. nullopt: none.
    void SetLimits(std::optional<Limits> limits);
    const std::optional<Limits>& CurrentLimits() const { return limits_; }
    /// What the checks of the last sweep found.
    const LimitsOutcome& LimitsResult() const { return limitsOutcome_; }

    /// Points stored since construction (for tests and the command-line tool).
    int PointsStored() const { return pointsStored_; }
    /// The steps of the current (or last) sweep that stored a point, in order.
    const std::vector<SweepStepRecord>& StoredSteps() const { return steps_; }
    /// The last point measured.
    SweepPoint LastPoint() const { return lastPoint_; }

private:
    void SetUpCurves();
    /// Curve 2's axis: degrees with the phase range, or dB for a distortion reading.
    void SetUpSecondAxis();
    /// Plays the step's tone at `levelDb`: 0 or the engine's error code.
    int StartStepTone(const GeneratorParams& params);
    int OutputRate() const;
    /// Writes the notice about silent inputs and the limits' verdict into the result line
    /// (nothing when there is neither).
    void ReportSilentSteps();
    /// Draws the limits over the sweep's range, or takes them away.
    void ShowLimitCurves();
    /// A report on step `step` (1-based) at the current frequency; 0: on no step (a sweep
    /// finished, or stopped before its first step).
    RunReport StepReport(RunEvent event, int step) const;

    SoundEngine& engine_;
    Settings& settings_;
    SweepDiagram& diagram_;
    SweepPageView& view_;
    CorrectionCurve& inCorrection_;
    CorrectionCurve& outCorrection_;
    const SweepTexts* texts_;
    // The step in flight, as started (the user value carries it too, but only 16 bits
    // of frequency; rates above 131 kHz allow more).
    std::optional<Limits> limits_;
    LimitsOutcome limitsOutcome_;
    int pendingIndex_ = 0;
    int pendingFrequency_ = 0;
    int pendingRate_ = 0;
    int pointsStored_ = 0;
    int stepsMeasured_ = 0;  // steps of the current sweep with a block
    int stepsSilent_ = 0;    // of these, steps at which an input carried no signal
    SweepPoint lastPoint_;
    std::vector<SweepStepRecord> steps_;
    SpectrumTransform transform_;
    int shownStep_ = 0;  // the step the status line shows (1-based), 0 before the first
};

}  // namespace sonvera
