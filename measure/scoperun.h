#pragma once

#include <array>
#include <string>

#include "config/settings.h"
#include "measure/runstatus.h"

namespace sonvera {

class SoundEngine;

/// One step of the volts-per-division or time-base tables.
struct ScopeTableEntry {
    float value;          // volts, or seconds per division
    const char* caption;  // as shown on the page
};

/// Volts per division, index 1..14 (entry 0 is index 1).
extern const std::array<ScopeTableEntry, 14> VoltsPerDivTable;
/// Seconds per division, index 1..11; the buttons reach 1..8 only.
extern const std::array<ScopeTableEntry, 11> TimebaseTable;
/// Table entries by their 1-based index; out-of-range indices take the nearest end.
const ScopeTableEntry& VoltsPerDiv(int index);
const ScopeTableEntry& Timebase(int index);

/// Capture rate and block length the oscilloscope uses for a time per division.
struct ScopeCapturePlan {
    int rateHz;
    int frames;
};
ScopeCapturePlan CapturePlanFor(float secondsPerDiv);

/// The oscilloscope screen as the acquisition sees it (the view window implements it).
class ScopeDisplay {
public:
    virtual ~ScopeDisplay() = default;
    /// See the view: caption, point count, x-log flag, x range (s), y range (divisions).
    /// Returns true on a fault.
    virtual bool PrepareScope(const std::string& caption, int points, bool xLog, float xMin,
                              float xMax, float yMin, float yMax) = 0;
    /// Point i: trigger-channel flag, volts per division of channel 2 and 1, x (s),
    /// channel 2 and channel 1 in divisions. Returns true on a fault.
    virtual bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x,
                                 float ch2, float ch1) = 0;
    /// Repaint at once (after a block).
    virtual void RepaintScope() = 0;
    /// Where the trigger level lies on the screen: in the trigger channel (1 or 2), in
    /// divisions from the screen's bottom like the points.
    virtual void ShowTriggerLevel(bool /*channel1*/, float /*divisions*/) {}
};

/// The oscilloscope page's controls and the main window's services the run touches.
/// The main window implements it; tests and the command-line tool use their own.
class ScopePageControls {
public:
    virtual ~ScopePageControls() = default;
    /// Shows or hides the view; showing also places it beside the main window.
    virtual void ShowScopeView(bool show) = 0;
    /// Enables or disables "&Kalibrierung", "Audio-In-Device", "Audio-Out-Device",
    /// "Audio-In-Parameter", "Audio-Out-Parameter", and "&Analyse" when `withAnalyse`.
    virtual void SetScopeMenusEnabled(bool enabled, bool withAnalyse) = 0;
    /// The caption of `Panel3` (time per division).
    virtual void SetTimebaseCaption(const std::string& text) = 0;
    /// The caption of `VperDiv1` (channel 1) or `VperDiv2` (channel 2).
    virtual void SetVoltsPerDivCaption(int channel, const std::string& text) = 0;
    /// The red overload label of the time-base group.
    virtual void SetOverloadText(const std::string& text) = 0;
    /// Positions of `SCRyposCh1` and `SCRyposch2` (without running their handlers).
    virtual void SetPositionSliders(int ch1, int ch2) = 0;
    /// `CheckBox1` (Gnd 1), `CheckBox3` (Gnd 2), `CheckBox2` (rising), and which of
    /// `RadioButton1` ("Ch1") / `RadioButton2` ("Ch2") is checked.
    virtual void SetScopeChecks(bool gnd1, bool gnd2, bool rising, bool trigCh1) = 0;
    /// Posts WM_SCOPE_NEXT to the main window (never calls the handler directly).
    virtual void PostScopeNext() = 0;
    /// Whether the oscilloscope page is the current notebook page.
    virtual bool ScopePageCurrent() const = 0;
    /// The loop started, ended, or could not start (the status line under the page).
    virtual void ReportRun(const RunReport& /*report*/) {}
};

/// The oscilloscope's acquisition loop, time base, trigger search, scaling into
/// divisions and control handlers. Runs on the user-interface thread; one block per
/// StartCapture / ScopeBlockDone cycle, the next requested by a posted WM_SCOPE_NEXT.
/// Device errors go to the prompt service as an error box with help context 17.
class ScopeRun {
public:
    ScopeRun(SoundEngine& engine, Settings& settings, ScopeDisplay& display,
             ScopePageControls& controls);

    void EnterScopePage();
    void LeaveScopePage();
    /// Pauses the loop (it ends at its next block).
    void StopOrun();
    /// Restarts the loop when the oscilloscope page is current.
    void StartOrun();

    /// Handler of WM_SCOPE_NEXT.
    void OnScopeNext();
    /// The capture handler of an oscilloscope block.
    void ScopeBlockDone();
    void ApplyTimebase();

    // Control handlers.
    void SpinButton2UpClick();
    void SpinButton2DownClick();
    void SpinButton1UpClick();
    void SpinButton1DownClick();
    void SpinButton3UpClick();
    void SpinButton3DownClick();
    void SCRyposCh1Scroll(int position);
    void SCRyposch2Scroll(int position);
    void SCRtrigScroll(int position);
    /// Hands the view the trigger level as it lies on the screen now.
    void ShowTriggerLevel();
    void CheckBox1Click(bool checked);
    void CheckBox3Click(bool checked);
    void CheckBox2Click(bool checked);
    void RadioButton1Click();
    void RadioButton2Click();

    /// Frame at which the last block's trace started (its trigger position).
    int LastTriggerFrame() const { return lastTriggerFrame_; }
    /// Whether the last block met the trigger condition.
    bool LastTriggered() const { return lastTriggered_; }

    bool ScopeRunning() const { return running_; }
    int ScopeFrames() const { return frames_; }
    float ScopeSamplePeriod() const { return samplePeriod_; }
    int AppliedTimebase() const { return appliedTimebase_; }
    float ScopeTrigLevel() const { return trigLevel_; }
    float ScopeYPos1() const { return yPos1_; }
    float ScopeYPos2() const { return yPos2_; }
    float ScopeScale() const { return scale_; }

    /// Searches a trigger in an interleaved block of `frames` frames: channel 1 at even,
    /// channel 2 at odd positions, k divisions per unit. Returns the frame, or -1.
    static int FindTrigger(const float* values, int frames, bool channel1, float k, float level,
                           bool rising);

private:
    void PrepareView();
    std::string ErrorLead() const;
    void ReportDeviceError(int code);

    SoundEngine& engine_;
    Settings& settings_;
    ScopeDisplay& display_;
    ScopePageControls& controls_;

    bool running_ = false;
    int frames_ = 1024;
    float samplePeriod_ = 1.0f / 44100.0f;
    int appliedTimebase_ = 999;
    float trigLevel_ = 0.0f;
    float yPos1_ = 5.0f;
    float yPos2_ = 3.0f;
    float scale_ = 0.0f;
    int lastTriggerFrame_ = -1;
    bool lastTriggered_ = false;
};

}  // namespace sonvera
