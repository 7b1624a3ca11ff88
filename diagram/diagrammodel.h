#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "config/settings.h"
#include "diagram/overlaystore.h"

namespace sonvera {

/// Sizes of the texts the layout needs, measured in the target's font by the caller, so
/// that the model itself never touches fonts.
/// The stored points in range, as the text export writes them: what was done to the
/// values, the value columns' curve names, and one row per point that has a value.
struct ExportedTable {
    std::vector<std::string> notes;  // smoothing, difference: one line each
    std::vector<std::string> names;  // the curve of each value column
    std::vector<int> curves;         // of each value column: 1 or 2 the measurement's, 0 an overlay
    bool plain = true;               // the measurement alone: the export has no header
    std::vector<float> freqHz;
    std::vector<std::vector<double>> rows;
};

struct DiagramTextMetrics {
    int charWidth = 7;        // width of "8"
    int charHeight = 13;      // height of "8"
    int freqLabelWidth = 42;  // width of "20.00k", the widest linear frequency label
    /// Width of a UTF-8 text in the target's font; unset: charWidth per character.
    std::function<int(const std::string&)> textWidth;
};

/// A rectangle in pixels of the target bitmap; right and bottom are the edge columns/rows.
struct DiagramRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const DiagramRect&) const = default;
};

/// One vertex of the polyline a curve is drawn from.
struct PixelPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

/// The coordinates of a vertex that is no vertex but a gap in the curve.
inline constexpr std::int32_t kCurveBreak = INT32_MIN;

/// Everything the last layout computed: bands, plot rectangle, scales and label steps.
struct DiagramLayout {
    int width = 0;
    int height = 0;
    int fontSize = 8;
    int topBand = 0;     // T
    int bottomBand = 0;  // B
    int leftBand = 0;    // L
    int rightBand = 0;   // R
    DiagramRect PlotRect;
    int CharWidth = 0;
    int CharHeight = 0;
    double LevelScale1 = 1.0;  // pixels per dB of the left axis
    double LevelScale2 = 1.0;  // pixels per unit of the right axis
    double PointScale = 1.0;
    double LogScale = 1.0;     // pixels per natural-log unit of frequency
    double LinScale = 1.0;     // pixels per Hz
    int FirstLogTick = 1;      // 1-based position in FreqTickTable
    int FreqStep = 0;          // Hz
    float LevelStep1 = 0.0f;
    float LevelStep2 = 0.0f;
    int LabelDecimals = 1;

    bool operator==(const DiagramLayout&) const = default;
};

/// One control's place: x, y, width and height in pixels of the window's client area.
struct ControlBox {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};
/// Where the window's child controls go for the current layout (the comment line's width
/// is set by each rendering, so it stays 0 here).
struct DiagramControlPlacement {
    ControlBox SpinButton1, SpinButton2, ScrollBarLF, ScrollBarHF, Edicomment, Edit2;
};

/// Which mouse button an event concerns.
enum class MouseButton { Left, Right, Middle };

/// Scroll codes of the two frequency scroll bars; only the arrows move a bound.
enum class ScrollCode { LineLeft, LineRight, Other };

/// A curve the diagram shows: curve 1 or 2 of the measurement (overlay 0) or of an overlay.
struct CurveRef {
    std::uint64_t overlay = 0;
    int curve = 1;
    bool operator==(const CurveRef&) const = default;
};

/// A marker on a curve, at a frequency; its value is read from the curve as shown.
struct CurveMarker {
    bool set = false;
    CurveRef ref;
    double freqHz = 0.0;
    /// A value found for it (a peak's, between the points); NaN: the curve's at freqHz.
    double value = std::numeric_limits<double>::quiet_NaN();
};

/// An overlay's curve as the diagram shows it (smoothed, or as its difference to the
/// reference), over the overlay's own frequencies.
struct ShownCurve {
    CurveRef ref;
    Colour colour = 0;
    bool dashed = false;
    bool secondAxis = false;
    std::vector<float> freqHz;
    std::vector<float> values;
};

/// One line of the legend: a curve (with the look of its line) or a note.
struct LegendLine {
    enum class Kind { Solid, Dashed, Note };
    Kind kind = Kind::Note;
    Colour colour = 0;
    std::string text;
};

/// What the horizontal axis shows: frequency in Hz (logarithmic or linear, as the options
/// say) or an output level in dBFS (always linear, negative values allowed; the level
/// sweep draws against it). The level axis keeps its bounds in FreqMin/FreqMax (whole dB).
enum class XQuantity { Frequency, LevelDbfs };

/// The range the window had before it was zoomed, to go back to.
struct ZoomHome {
    bool active = false;
    std::int32_t freqMin = 0;
    std::int32_t freqMax = 0;
    float levelMin = 0.0f;
    float levelMax = 0.0f;
    float level2Min = 0.0f;
    float level2Max = 0.0f;
};

/// "1/3" for 3; "" for 0 (no smoothing).
std::string SmoothingName(int n);
/// Reads "1/N" (or "N") of kSmoothingFractions; "0", "none" and "" are 0. False otherwise.
bool ParseSmoothing(const std::string& text, int& n);

/// What the diagram shows of one measurement: its points, ranges, the curves and axes
/// shown and the result line. A notebook page keeps it while another page uses the
/// diagram, and shows it again when it comes back.
struct DiagramResult {
    std::vector<float> freq, curve1, curve2;  // the slots in use
    std::int32_t PointCount = 0;
    std::int32_t FreqMin = 99;
    std::int32_t FreqMax = 99;
    float LevelMin = 99.0f;
    float LevelMax = 99.0f;
    float Level2Min = -90.0f;
    float Level2Max = 90.0f;
    bool Axis1Shown = true;
    bool Axis2Shown = false;
    bool DrawCurve1 = true;
    bool DrawCurve2 = false;
    std::string Axis2Unit;
    bool WrapCurve2OnExport = false;
    XQuantity Quantity = XQuantity::Frequency;
    std::string resultGerman, resultEnglish;
};

/// The diagram's data, ranges, layout and measuring cursor, free of any toolkit: the
/// window draws and forwards events, this class decides. It also holds what compares
/// measurements: the overlays of each page, the smoothing and the difference to a
/// reference overlay of the curves shown, zooming, and markers on the curves.
class DiagramModel {
public:
    /// Most points per curve: the 524288 bins of a 1048576-point spectrum and the two
    /// slots the spectrum run prepares beyond them. The storage starts at kInitialPoints
    /// and grows (once per longer measurement, in PrepareDiagram) up to this.
    static constexpr int MaxDiagramPoints = 524288 + 2;
    static constexpr int kInitialPoints = 8182;
    static constexpr int kPolylineCapacity = 16384;
    static constexpr float kUnset = 99.0f;  // a range with both bounds 99 is not set yet
    static constexpr int kScreenFontSize = 8;

    /// Allocates and clears the point storage; a failed allocation ends the program (exit 1).
    DiagramModel();

    // --- data and ranges -------------------------------------------------------------
    bool PrepareDiagram(const std::string& comment, int lastIndex, int freqMinIn, int freqMaxIn,
                        float& levelMinIo, float& levelMaxIo);
    void ClearDiagramData();
    void ResetDiagramScales();
    /// Mode 2 stores values[0] and values[1]; mode 1 stores values[0] into the curves
    /// chosen by StoreCurve1/StoreCurve2. Returns true on failure (no storage, bad index).
    bool StoreDiagramPoint(const float* values, int mode, int index, float freqHz);
    void SetCurvesShown(bool draw1, bool draw2);
    void SetAxesShown(bool axis1, bool axis2);
    void SetLevelRange(float max, float min);
    void SetSecondRange(float max, float min);
    void GetLevelRange(float& min, float& max) const;
    void GetFreqRange(int& min, int& max) const;
    int GetLastIndex() const { return PointCount - 1; }
    std::string GetComment() const;
    void SetComment(const std::string& text) { comment = text; }
    /// A result line that reads the same in both languages (or was typed by the user).
    void SetResultLine(const std::string& text) { SetResultLine(text, text); }
    /// The result line in both languages: the one of the diagram's language is shown,
    /// also after a switch.
    void SetResultLine(const std::string& german, const std::string& english)
    {
        resultGerman = german;
        resultEnglish = english;
    }
    const std::string& ResultLine() const { return language == 'E' ? resultEnglish : resultGerman; }
    /// What is shown now, to be shown again by ShowResult (the comment is not part of it).
    DiagramResult KeepResult() const;
    /// Shows a kept result: its points, ranges, curves, axes and result line, laid out
    /// for the screen.
    void ShowResult(const DiagramResult& kept);
    /// Frees the point storage (window destruction); stores and exports fail afterwards.
    void FreeStorage();
    bool HasStorage() const { return !FreqArray.empty(); }
    /// Grows every point array to `points` (never shrinks); false, sizes unchanged, when
    /// the memory is not there.
    bool GrowStorage(std::size_t points);
    /// Points the storage holds now.
    int Capacity() const { return static_cast<int>(FreqArray.size()); }
    /// Counts the changes of the stored points (stores, clearing, freeing), so that a
    /// picture of them knows when it is out of date.
    std::uint64_t PointsGeneration() const { return pointsGeneration; }

    /// The horizontal quantity. A change ends zoom, markers and the difference; on the
    /// level axis overlays (kept over frequency) are hidden and none can be kept, there is
    /// no smoothing, and the options dialog's and scroll bars' frequency bounds do not apply.
    void SetXQuantity(XQuantity q);
    XQuantity Quantity() const { return xQuantity; }
    bool LevelAxis() const { return xQuantity == XQuantity::LevelDbfs; }
    /// The horizontal axis is logarithmic (frequency with the options' XLog).
    bool LogX() const { return Options.XLog != 0 && !LevelAxis(); }
    /// "Hz" or "dBFS".
    const char* XUnit() const { return LevelAxis() ? "dBFS" : "Hz"; }
    /// The level axis keeps its x values (points, bounds, zoom) as level + kLevelOffset, so
    /// that a stored slot's x stays above 0 as on the frequency axis (0 marks a slot never
    /// stored); PrepareDiagram, StoreDiagramPoint and GetFreqRange take and give dBFS, and
    /// every text shows dBFS. Levels at or below -kLevelOffset are held just above it.
    static constexpr double kLevelOffset = 1000.0;
    /// The x of the axis' quantity (Hz or dBFS) kept internally, and back.
    double InnerX(double x) const;
    double OuterX(double inner) const { return LevelAxis() ? inner - kLevelOffset : inner; }
    /// Why the frequency bounds of the options dialog and the scroll bars do not apply now,
    /// in the diagram's language; "" when they do.
    std::string FreqBoundsRefusal() const;
    /// Options as the configuration stores them: on the level axis with the frequency
    /// bounds the diagram had before it switched, so no level range is stored as one in Hz.
    DiagramOptions StoredOptions() const;

    // --- layout and mappings ------------------------------------------------------------
    /// Lays out a W x H target whose font has size F (points, also the pixel unit of the
    /// bands). Returns false when the window was never activated or a scale is undefined.
    bool LayoutDiagram(int width, int height, int fontSize, const DiagramTextMetrics& metrics,
                       bool moveControls);
    /// The diagram's current range is a zoom of the page's range: the runs read and keep
    /// the page's (GetFreqRange, GetLevelRange, PrepareDiagram hand it back).
    bool Zoomed() const { return zoom.active; }
    /// Shows the given range (frequencies in whole Hz, at least 1 Hz apart; levels with
    /// three decimals, as the options dialog shows them); the right axis follows in step.
    bool ZoomTo(double freqMinHz, double freqMaxHz, double levelMin, double levelMax);
    /// Back to the page's range. Returns whether there was a zoom to leave.
    bool ResetZoom();
    /// The mouse wheel at (x, y): `steps` notches in (positive) or out, around the
    /// pointer's frequency or, with `levelAxis`, its level.
    bool WheelZoom(int x, int y, int steps, bool levelAxis);

    /// LayoutDiagram of the window's own bitmap (screen size, font size 8).
    bool LayoutScreen(bool moveControls);
    void SetScreen(int width, int height, const DiagramTextMetrics& metrics);
    const DiagramLayout& Layout() const { return layout; }
    DiagramControlPlacement PlaceControls(int commentHeight) const;

    double FreqToX(double freqHz) const;
    float XToFreq(int x) const;
    int LevelToY1(double v) const;
    int LevelToY2(double v) const;
    double YToLevel(int y) const;

    /// Visits the frequency-axis ticks in drawing order with their column and label (empty
    /// for the unlabelled ticks of the logarithmic axis; the last tick carries the unit).
    void ForEachFreqTick(const std::function<void(int x, const std::string& label)>& visit) const;

    /// Collects the polyline of curve 1 or 2 into PolylineBuffer; returns the vertex count
    /// (0: nothing to draw). A pixel column gets at most two vertices, the lowest and the
    /// highest point of the slots mapped to it, in the order the slots reach them, so a
    /// column of many bins keeps its peak and its dip; the range's last point ends the line.
    /// A vertex {kCurveBreak, kCurveBreak} separates the pieces around points without a
    /// value (NaN), which are drawn as gaps.
    int CollectCurve(int curve);
    /// The same for a shown overlay curve, into `out` (grown as needed).
    int CollectOverlay(const ShownCurve& curve, std::vector<PixelPoint>& out) const;
    const std::vector<PixelPoint>& Polyline() const { return PolylineBuffer; }

    /// The stored points in range as a table: what the text export prints and the command
    /// line's results hold.
    ExportedTable ExportTable() const;
    /// The stored points in range as text, one line each (CR LF): the frequency and the
    /// curves shown, separated by `separator` ("\\t" is a tab, "\\n" a line break).
    std::string DiagramText(const std::string& separator) const;
    /// Writes the stored points in range as text; 0 on success, 1000 without storage,
    /// otherwise the system's error number.
    int ExportDiagramText(const std::string& fileName, const std::string& separator) const;

    // --- interaction --------------------------------------------------------------------
    void Activate() { activated = true; }
    bool Activated() const { return activated; }
    void ResetCursor(bool clearMeasurement);
    void SetDiagramTexts(char language);
    /// 'D' or 'E', the language of the last SetDiagramTexts.
    char Language() const { return language; }
    /// Returns true when a repaint is wanted. A left click also puts marker A on the
    /// curve nearest to it at its frequency (the second click of a measurement marker B),
    /// and its readout then reads that curve.
    bool MouseDown(MouseButton button, int x, int y);
    /// Returns true when the release ended a drag that zoomed into its rectangle.
    bool MouseUp(MouseButton button);
    /// `leftHeld`: the left button is down; moved more than kDragPixels from where it
    /// went down, it drags a rectangle to zoom into instead of measuring.
    bool MouseMove(int x, int y, bool leftHeld = false);
    /// A double click: back to the page's range, markers and measurement ended.
    bool DoubleClick();
    static constexpr int kDragPixels = 4;
    bool Dragging() const { return dragging; }
    /// The rectangle dragged so far (screen pixels).
    DiagramRect DragRect() const;

    // --- pages, overlays, smoothing, difference, markers --------------------------------
    /// The page whose overlays and smoothing are shown: 0 spectrum, 1 sweep (others are
    /// ignored). Markers end with a change of page.
    void SetPage(int page);
    int Page() const { return page; }
    /// The smoothing of the page shown (the N of 1/N octave; 0 none), kept in Options.
    int Smoothing() const { return LevelAxis() ? 0 : Options.Smoothing[static_cast<std::size_t>(page)]; }
    void SetSmoothing(int n);
    /// The curves show their difference to the page's reference overlay.
    bool DifferenceShown() const;
    /// Switches the difference on (the level range then fits it, as a zoom) or off
    /// (back to the page's range). Returns the store's result.
    OverlayResult SetDifference(bool on);
    /// Keeps the curves shown (with their values as stored) as an overlay named `name`.
    OverlayResult KeepCurves(const std::string& name, std::uint64_t* id = nullptr);

    /// The values of the measurement's curve 1 or 2 as shown, slot by slot (the stored
    /// ones unless smoothing or the difference change them).
    const float* ShownValues(int curve) const;
    /// The visible overlays' curves as shown, in drawing order.
    const std::vector<ShownCurve>& ShownOverlays() const;
    /// The bounds a measurement is checked against, drawn as dashed curves in the text's
    /// colour (NaN where a bound is absent); not part of the table or the export.
    void SetLimitCurves(const std::vector<float>& freqHz, const std::vector<float>& lower,
                        const std::vector<float>& upper);
    void ClearLimitCurves();
    const std::vector<ShownCurve>& LimitCurves() const { return limitCurves; }
    /// Changes whenever what ShownOverlays or LimitCurves give changes.
    std::uint64_t OverlaysGeneration() const;
    /// The value of a shown curve at a frequency, straight between its points; NaN
    /// where it has none.
    double ShownValueAt(const CurveRef& ref, double freqHz) const;
    /// Whether a curve is shown now, and on the right axis.
    bool CurveShown(const CurveRef& ref, bool* secondAxis = nullptr) const;
    /// The name of a curve for the legend and the readouts.
    std::string CurveName(const CurveRef& ref) const;
    /// The name of the measurement's curves in the legend and the export (curve 2 with
    /// " (2)" after it, as an overlay's); "" names them "Messung" ("Measurement").
    std::string MeasurementName;
    /// What the legend lists; empty when only the measurement's curves are shown.
    std::vector<LegendLine> Legend() const;

    /// The curve nearest to (x, y) at the column's frequency, among those shown.
    bool CurveAt(int x, int y, CurveMarker& marker) const;
    /// Marker A on the highest point of `ref` within the frequency range shown (marker
    /// B removed); false when the curve has no point there.
    bool PeakMarker(const CurveRef& ref);
    /// The curve a peak search takes: marker A's, else the first curve shown.
    CurveRef ChosenCurve() const;
    void ClearMarkers();
    CurveMarker MarkerA;
    CurveMarker MarkerB;
    /// The markers' readout lines: A, B and their difference (Δf, Δ value).
    std::vector<std::string> MarkerTexts() const;
    /// spin 1 moves LevelMax, spin 2 LevelMin; returns the success of the new layout.
    bool SpinClick(int spin, bool up);
    /// high: ScrollBarHF (FreqMax), else ScrollBarLF (FreqMin); returns the layout's success.
    bool ScrollClick(bool high, ScrollCode code);
    /// Takes a whole options record from the options dialog; returns the layout's success.
    bool ApplyOptions(const DiagramOptions& opts);

    // --- state (read by the renderer and the window) -------------------------------------
    /// The overlays of both pages; in memory until the window opens their folder.
    OverlayStore Overlays;
    std::vector<float> FreqArray;
    std::vector<float> Curve1Array;
    std::vector<float> Curve2Array;
    std::vector<PixelPoint> PolylineBuffer;

    std::int32_t PointCount = 51;
    std::int32_t FreqMin = 99;
    std::int32_t FreqMax = 99;
    float LevelMin = kUnset;
    float LevelMax = kUnset;
    float Level2Min = -90.0f;
    float Level2Max = 90.0f;
    bool Axis1Shown = true;
    bool Axis2Shown = false;
    /// The unit after the right axis' labels: the degree sign unless a run shows levels.
    std::string Axis2Unit = "\u00B0";
    /// The text export writes curve 2 wrapped into -180 .. 180 (an unwrapped phase).
    bool WrapCurve2OnExport = false;
    DiagramOptions Options;

    // Measuring cursor
    int startColumn = -1;
    int startRow = -1;
    int currentColumn = -1;
    int currentRow = -1;
    int mouseX = 0;
    int mouseY = 0;
    int CursorMode = 0;  // 0 none, 1 frequency, 2 level, 3 slope, 4 point
    std::string PointReadout;
    std::string LevelReadout;
    std::string FreqReadout;
    bool MeasureActive = false;
    std::string ratioWord = "fach";

    /// Called by layouts with the move flag, after the bands are known: the window places
    /// its controls (PlaceControls) there.
    std::function<void()> onMoveControls;
    /// Called when cleared points want the picture redrawn: the window requests a repaint.
    std::function<void()> onRepaint;
    /// Called when the bounds or the curves shown in Options change by anything but
    /// ApplyOptions (a run, a page change, the spin buttons): the window shows them in an
    /// open options dialog, so the dialog never hands back values it did not show.
    std::function<void()> onOptionsChanged;

private:
    void MirrorRanges();
    // The readouts of the measuring cursor for a move (the measurement's own rules).
    bool MeasureMove(int x, int y);
    // The second axis in step with a zoom of the first.
    void FollowZoom();
    // The smoothing, the difference, the shown overlays: recomputed when what they
    // depend on changed.
    void UpdateShown() const;
    bool ShownChanged() const;
    const ShownCurve* FindShown(const CurveRef& ref) const;
    std::string UnitOf(bool secondAxis) const;
    int RightAxisBand(int width, int fontSize, const DiagramTextMetrics& metrics) const;
    void FollowLeftAxis(bool upper);
    int SlotColumn(int i);

    // What the column of a frequency depends on; the cached columns hold while it stays.
    struct ColumnScale {
        std::int32_t freqMin = 0;
        std::int32_t freqMax = 0;
        int left = 0;
        int right = 0;
        double logScale = 0.0;
        double linScale = 0.0;
        bool log = false;
        bool operator==(const ColumnScale&) const = default;
    };
    // Pixel column of each slot and the frequency it was computed for: a spectrum stores
    // the same frequencies block after block, so their logarithms are taken once.
    std::vector<std::int32_t> slotColumn;
    std::vector<float> slotColumnFreq;
    ColumnScale columnScale;

    ZoomHome zoom;
    int page = 0;
    // Drag to zoom.
    bool pressed = false;
    bool dragging = false;
    int pressX = 0;
    int pressY = 0;
    bool swallowRelease = false;
    CurveMarker savedA;
    CurveMarker savedB;

    // What the shown curves were computed for.
    struct ShownKey {
        std::uint64_t points = 0;
        std::int32_t pointCount = 0;
        std::uint64_t overlays = 0;
        int page = 0;
        int smoothing = 0;
        bool difference = false;
        bool axis2 = false;
        std::string unit2;
        bool levelAxis = false;
        bool operator==(const ShownKey&) const = default;
    };
    mutable bool shownValid = false;
    mutable ShownKey shownKey;
    mutable bool shownTransformed = false;
    mutable std::vector<float> shownCurve1;
    mutable std::vector<float> shownCurve2;
    mutable std::vector<ShownCurve> shownOverlays;
    std::vector<ShownCurve> limitCurves;
    std::uint64_t limitGeneration = 0;  // counts changes of the limit curves
    mutable std::uint64_t shownGeneration = 0;

    XQuantity xQuantity = XQuantity::Frequency;
    std::int32_t freqAxisMin = 0;  // Options' frequency bounds when the level axis came
    std::int32_t freqAxisMax = 0;
    DiagramLayout layout;
    int screenWidth = 580;
    int screenHeight = 370;
    DiagramTextMetrics screenMetrics;
    bool activated = false;
    char language = 'D';
    std::uint64_t pointsGeneration = 0;
    std::string comment;
    std::string resultGerman;
    std::string resultEnglish;
};

/// The level readout of the measuring cursor for a difference of d dB, for example
/// "6.0dB / 2.0fach" or "-40.0dB / 1.00000%".
std::string LevelReadoutText(double d, const std::string& ratioWord);

}  // namespace sonvera
