#pragma once
// The spectrum analyser's measurement loop: one captured block at a time, transformed,
// averaged, converted to calibrated dB and handed to the diagram; the next block is
// requested by a posted message, never from inside the completion handler.

#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "dsp/analysis.h"
#include "dsp/curve.h"
#include "dsp/sampleweighting.h"
#include "dsp/spectrum.h"
#include "dsp/weighting.h"
#include "measure/resultline.h"
#include "measure/runstatus.h"

namespace sonvera {

class SoundEngine;

/// The diagram operations the spectrum run needs (the diagram window's model in the
/// program, a recorder in tests). Failure flags are true on failure.
class SpectrumDiagram {
public:
    virtual ~SpectrumDiagram() = default;
    virtual bool PrepareDiagram(const std::string& comment, int lastIndex, int freqMin, int freqMax,
                                float& levelMin, float& levelMax) = 0;
    virtual void ClearDiagramData() = 0;
    virtual void ResetDiagramScales() = 0;
    virtual void SetCurvesShown(bool curve1, bool curve2) = 0;
    virtual void SetAxesShown(bool axis1, bool axis2) = 0;
    virtual void SetLevelRange(float max, float min) = 0;
    virtual void GetFreqRange(int& min, int& max) const = 0;
    virtual void GetLevelRange(float& min, float& max) const = 0;
    virtual bool StoreDiagramPoint(const float* values, int mode, int index, float freqHz) = 0;
    virtual void SetResultLine(const std::string& text) = 0;
    /// The result line in both languages: shown in `language`, unless the diagram follows
    /// the interface's language itself (the program's diagram window does).
    virtual void SetResultLines(const ResultLine& line, char language) { SetResultLine(line.In(language)); }
    virtual std::string GetComment() const = 0;
    virtual void Repaint() = 0;
    virtual void Show(bool visible) = 0;
};

/// The controls of the spectrum page the run reads and writes. Every routine has a
/// harmless default so that a headless user (the command-line tool) overrides only
/// what it shows.
class SpectrumPageView {
public:
    virtual ~SpectrumPageView() = default;
    /// The red overload label: "Over N" or ".".
    virtual void SetOverloadLabel(const std::string& /*text*/) {}
    /// The spin edit `AverVal`: what it shows, and what the user typed there.
    virtual void ShowAverVal(int /*value*/) {}
    virtual int AverVal() const { return -1; }  // -1: keep FftAverage
    /// The controls locked during a run: calibration, device and format menu items,
    /// the FFT size group and `AverVal`.
    virtual void SetRunLockedControlsEnabled(bool /*enabled*/) {}
    virtual void SetBinpoptEnabled(bool /*enabled*/) {}
    virtual void SelectRunMode(int /*index*/) {}
    virtual void SelectFftWindow(int /*index*/) {}
    virtual void SelectFftPointsItem(int /*index*/) {}
    /// `Ldb` and `Lsf`.
    virtual void SetInputFormatLabels(const std::string& /*bits*/, const std::string& /*rate*/) {}
    virtual void SetAnalyseMenuEnabled(bool /*enabled*/) {}
    virtual void SetAnalysisChecks(bool /*thd*/, bool /*noise*/) {}
    virtual void SetChannelChecks(bool /*left*/, bool /*right*/) {}
    /// The main window's SetInputLevel (sliders, line volume, labels): a run applies the
    /// level saved for it when it starts.
    virtual void SetInputLevel(int /*percent*/) {}
    /// The sliders and labels only; the line keeps its volume (entering the page).
    virtual void ShowInputLevel(int /*percent*/) {}
    /// Posts WM_SPECTRUM_NEXT to the main window (never handled inside this call).
    virtual void PostSpectrumNext() = 0;
    /// The page's arrays could not be obtained: the main window closes.
    virtual void CloseMainWindow() {}
    /// The run started, ended, or refused a command (the status line under the page).
    virtual void ReportRun(const RunReport& /*report*/) {}
};

/// Texts of the run that depend on the interface language.
struct SpectrumTexts {
    std::string leftLabel = " LI ";
    std::string rightLabel = " RE ";
    std::string noFundamental = " keine Grundwelle ";
    std::string startFailure = "Probleme beim Sample (";
    std::string openFailure = "Probleme beim Beginn Samplen (";
    /// In place of a THD+N reading when every bin of the band lies in the notch.
    std::string bandInNotch = "Band schmaler als Notch";
    /// In place of a reading whose tone the bins cannot resolve: a fundamental whose lobe
    /// meets that of 0 Hz or of its second harmonic, a tone whose lobe meets its mirror.
    std::string resolutionTooCoarse = "Auflösung zu grob";
    /// After the reading when blocks with gaps were recorded again: lead, count, tail.
    std::string droppedLead = " | ";
    std::string droppedTail = " Blöcke mit Lücken verworfen";
};

/// German ('D') or English ('E') texts; nullptr for any other letter.
const SpectrumTexts* SpectrumTextsFor(char language);

/// Help context of the device error boxes.
inline constexpr int kDeviceErrorHelpContext = 17;

/// The spectrum measurement run of the analyser page (all on one thread).
class SpectrumRun {
public:
    /// Values in the page's arrays at least (16380 single-precision reals each); sizes
    /// beyond get arrays of their own length, made when the size changes.
    static constexpr int kArrayValues = 16380;
    /// Items of the FFT size choice: 512, 1024, ..., 1048576 points.
    static constexpr int kPointsItemCount = 12;
    /// Longest result line and comment, in characters.
    static constexpr std::size_t kLineMaxChars = 120;

    SpectrumRun(SoundEngine& engine, Settings& settings, SpectrumDiagram& diagram,
                SpectrumPageView& view, WeightingFilter& filter, CorrectionCurve& inCorrection);

    /// The language of result lines and error boxes ('D' or 'E'; others change nothing).
    void SetLanguage(char language);

    void EnterSpectrumPage();
    void LeaveSpectrumPage();
    void SetRunning(bool flag);

    void StartButtonClick();
    void StopButtonClick();
    /// The handler of WM_SPECTRUM_NEXT.
    void SpectrumNext();
    /// The capture handler registered with StartCapture.
    void SpectrumBlockDone();

    void RunningGroupClick(int index);
    void FFTpointsgroupClick(int index);
    void FFTwinGroupClick(int index);
    void MeasureLeftClick(bool checked) { LeftOn = checked; }
    void MeasureRightClick(bool checked) { RightOn = checked; }
    /// Refreshes `Ldb` and `Lsf` from the input device's current format.
    void RefreshInputLabels();

    // State, readable by windows and tests.
    bool Running = false;
    int RunMode = 1;
    int AverageRemaining = 1;
    bool LeftOn = true;
    bool RightOn = true;
    bool SpectrumPageActive = false;
    /// Per channel: the block, then its magnitude spectrum, then the averaged spectrum
    /// (the root of the mean of the squared magnitudes).
    std::vector<float> SpectrumLeft, SpectrumRight;
    /// The sums of the squared magnitudes while an average is collected.
    std::vector<double> SumLeft, SumRight;
    /// With a standard weighting: the same for the block through its filter (the Level and
    /// THD+N readings sum these powers), with their sums.
    std::vector<float> WeightedLeft, WeightedRight;
    std::vector<double> WeightedSumLeft, WeightedSumRight;

    /// The levels of the last trigger-mode evaluation, dB.
    double CurrentLevel() const { return currentLevel_; }
    double TriggerLevel() const { return triggerLevel_; }
    /// Blocks analysed since construction (for tests and the command-line tool).
    int BlocksTaken() const { return blocksTaken_; }
    /// Results shown since construction (completed averages).
    int ResultsShown() const { return resultsShown_; }
    /// Called after each completed average has been shown, before the run asks for its
    /// next block (a window that reads the averaged spectra, such as the distortion
    /// analyser, and may change what the output plays in between).
    std::function<void()> ResultTaken;

    /// The items of the FFT size choice (0 = 512 .. 11 = 1048576) and the sizes they stand
    /// for; an item outside stands for 1024, a size that is no item gives -1.
    static int PointsForItem(int index);
    static int ItemForPoints(int points);

    /// The block being recorded for the run: its length and how much of it is recorded,
    /// in seconds (0 and 0 while none is).
    double BlockSeconds() const;
    double BlockSecondsRecorded() const;

private:
    int InputRate() const;
    int InputBits() const;
    /// (Re)makes the page's arrays for a size; false when they cannot be had.
    bool SizeArrays(int points);
    void ComposeResultLines();
    /// What follows the reading when blocks with gaps were recorded again ("" if none).
    static std::string DroppedText(const SpectrumTexts& t, int dropped);
    void TakeChannel(const float* block, int frames, int offset, std::vector<float>& spectrum,
                     std::vector<float>& weighted);
    void AddToAverage();
    void StoreSpectrum();
    void DeviceErrorBox(const std::string& prefix, int code);
    void ReportDeviceError(int code);
    void ApplyAnalysisSettings(AnalysisParams& params) const;

    SoundEngine& engine_;
    Settings& settings_;
    SpectrumDiagram& diagram_;
    SpectrumPageView& view_;
    WeightingFilter& filter_;
    CorrectionCurve& inCorrection_;
    SpectrumTransform transform_;
    SampleWeighting sampleWeighting_;
    // The weighting the weighted spectra of the current average were filtered with, and how
    // many blocks they hold (the weighting may change while an average is collected).
    StandardWeighting weightedWith_ = StandardWeighting::None;
    int weightedBlocks_ = 0;
    const SpectrumTexts* texts_;
    double currentLevel_ = -192.0;
    double triggerLevel_ = -60.0;
    int blocksTaken_ = 0;
    int resultsShown_ = 0;
};

}  // namespace sonvera
