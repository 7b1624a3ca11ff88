#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace sonvera {

/// A rectangle in window pixels; right and bottom are exclusive edges.
struct ScopeRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

/// The data, scales and measuring cursors of the oscilloscope screen, free of any
/// toolkit. The acquisition stores points already scaled to divisions; the renderer
/// maps them to pixels with MapX/MapY; the window feeds mouse events to the cursor
/// handlers and shows the two readout texts.
class ScopeModel {
public:
    /// Height of the band above the screen area that holds the window's controls.
    static constexpr int kBandHeight = 30;
    /// "Unset" marker of the vertical range.
    static constexpr float kRangeUnset = 99.0f;
    static constexpr Colour kBackground = 0x808000;       // teal
    static constexpr Colour kBackgroundIllum = 0xFFFF00;  // aqua
    static constexpr Colour kGrid = 0x00FFFF;             // yellow
    static constexpr Colour kCursor = 0x000000;
    static constexpr Colour kChannel1 = 0x0000FF;         // red
    static constexpr Colour kChannel2 = 0xFF0000;         // blue
    static constexpr Colour kMargin = 0xC0C0C0;           // silver
    /// Readout texts shown while no cursor is dragged.
    static constexpr const char* kTimeIdle = "Time / Frequ.";
    static constexpr const char* kVoltIdle = "Volt";
    /// Texts of the readouts when the window is created.
    static constexpr const char* kTimeInitial = "      Time / Frequ.      ";
    static constexpr const char* kVoltInitial = "      Volt      ";

    /// Creates the model as the window is created: 512 points, x 0..10, y 0..8.
    ScopeModel();

    /// Keeps the caption, (re)allocates `points` zeroed points, takes the vertical range
    /// only while it is unset, takes the horizontal range and axis kind, lays out.
    /// Returns true on a fault (no point count), false on success. Memory exhaustion
    /// ends the process with exit code 1, as a measuring instrument must not go on
    /// without its point storage.
    bool PrepareScope(const std::string& caption, int points, bool xLog, float xMin, float xMax,
                      float yMin, float yMax);

    /// Stores point i (x in seconds, values in divisions) and the readout's volts per
    /// division. Returns true when i is outside the arrays (nothing stored then, and the
    /// volts per division stay as they were).
    bool StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x, float ch2,
                         float ch1);

    /// Lays the screen out for a client area of width x height pixels.
    void LayoutScope(int clientWidth, int clientHeight);

    /// Pixel column of x value t and pixel row of value v (divisions), as drawn.
    int MapX(float t) const;
    int MapY(float v) const;
    /// Pixel column of grid line i (0..10) and row of grid line j (0..8).
    int GridX(int i) const;
    int GridY(int j) const;

    /// Whether the renderer draws anything beyond the background (arrays present, more
    /// than one point, a vertical range).
    bool HasTrace() const;

    // Measuring cursors. Coordinates are window client pixels.
    void LeftButtonDown(int x);
    void RightButtonDown(int y);
    void MouseMove(int x, int y, bool leftHeld, bool rightHeld);
    void LeftButtonUp();
    void RightButtonUp();

    /// Ends both measurements: no cursor lines, the idle readouts (a page change).
    void ClearCursors();

    /// The trigger level to mark at the screen's edge, in the trigger channel's colour.
    void SetTriggerMark(bool channel1, float divisions);
    bool TriggerMarkShown() const { return triggerShown_; }
    bool TriggerMarkChannel1() const { return triggerCh1_; }
    float TriggerMarkLevel() const { return triggerLevel_; }

    /// "Illum.": switches the background between teal and aqua.
    void ToggleIllumination();

    const std::string& Caption() const { return caption_; }
    const std::vector<float>& ScopeCh1() const { return ch1_; }
    const std::vector<float>& ScopeCh2() const { return ch2_; }
    const std::vector<float>& ScopeTime() const { return time_; }
    bool ArraysExist() const { return arraysExist_; }
    std::int32_t ScopeLastIndex() const { return lastIndex_; }
    float ScopeYMin() const { return yMin_; }
    float ScopeYMax() const { return yMax_; }
    float ScopeXMin() const { return xMin_; }
    float ScopeXMax() const { return xMax_; }
    bool ScopeXLog() const { return xLog_; }
    float ScopeYScale() const { return yScale_; }
    float ScopeXScale() const { return xScale_; }
    float ScopeLogScale() const { return logScale_; }
    float ScopeVoltsDiv1() const { return voltsDiv1_; }
    float ScopeVoltsDiv2() const { return voltsDiv2_; }
    bool ScopeUseCh1Volts() const { return useCh1Volts_; }
    int CursorX1() const { return x1_; }
    int CursorX2() const { return x2_; }
    int CursorY1() const { return y1_; }
    int CursorY2() const { return y2_; }
    const std::string& Label1Text() const { return label1_; }
    const std::string& Label2Text() const { return label2_; }

    Colour BackgroundColour() const { return background_; }
    const ScopeRect& Band() const { return band_; }
    const ScopeRect& Screen() const { return screen_; }
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }

private:
    std::string caption_;
    std::vector<float> ch1_, ch2_, time_;
    bool arraysExist_ = false;
    std::int32_t lastIndex_ = -1;
    float yMin_ = kRangeUnset, yMax_ = kRangeUnset;
    float xMin_ = 0.0f, xMax_ = 10.0f;
    bool xLog_ = false;
    Colour background_ = kBackground;
    float yScale_ = 0.0f, xScale_ = 0.0f, logScale_ = 1.0f;
    int x1_ = -1, x2_ = -1, y1_ = -1, y2_ = -1;
    float voltsDiv1_ = 0.0f, voltsDiv2_ = 0.0f;
    bool useCh1Volts_ = false;
    std::string label1_ = kTimeInitial;
    std::string label2_ = kVoltInitial;
    bool triggerShown_ = false;
    bool triggerCh1_ = true;
    float triggerLevel_ = 0.0f;
    int clientWidth_ = 0, clientHeight_ = 0;
    ScopeRect band_;
    ScopeRect screen_;
};

/// Where the oscilloscope view goes beside the main window on `screen` (the main window's
/// screen, its available area): left of the main window with its top and height; when
/// there is no room on the left, the main window moves right only as far as the view
/// needs (the view's width + 1 from the screen's left edge), and not beyond the screen's
/// right edge (on a screen too narrow for both the view then overlaps the main window).
struct ScopePlacement {
    ScopeRect view;     // the view's frame
    int mainLeft = 0;   // the main window's (possibly new) left edge
    bool mainMoved = false;
};
ScopePlacement PlaceScopeBeside(const ScopeRect& mainFrame, int viewWidth, const ScopeRect& screen);

}  // namespace sonvera
