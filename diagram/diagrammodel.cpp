#include "diagram/diagrammodel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "diagram/curvemath.h"
#include "diagram/diagramscale.h"
#include "dsp/smoothing.h"

namespace sonvera {

namespace {

// The width of a UTF-8 text in the target's font; without a measure, a character width
// per character.
int LabelWidth(const DiagramTextMetrics& metrics, const std::string& label)
{
    if (metrics.textWidth) {
        return metrics.textWidth(label);
    }
    int w = 0;
    for (const char c : label) {
        w += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? metrics.charWidth : 0;
    }
    return w;
}

// Cuts a text to at most n bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t n)
{
    if (text.size() <= n) {
        return text;
    }
    std::size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

constexpr std::size_t kReadoutMax = 40;
constexpr const char* kDegree = "\u00B0";

// Levels with three decimals, as the options dialog shows them (a value it hands back is
// the value as shown).
float ThreeDecimals(double v)
{
    return static_cast<float>(std::nearbyint(v * 1000.0) / 1000.0);
}

}  // namespace

std::string SmoothingName(int n)
{
    return n > 0 ? "1/" + std::to_string(n) : std::string();
}

bool ParseSmoothing(const std::string& text, int& n)
{
    if (text.empty() || text == "0" || text == "none") {
        n = 0;
        return true;
    }
    const std::string digits = text.rfind("1/", 0) == 0 ? text.substr(2) : text;
    for (const int offered : kSmoothingFractions) {
        if (offered > 0 && digits == std::to_string(offered)) {
            n = offered;
            return true;
        }
    }
    return false;
}

std::string LevelReadoutText(double d, const std::string& ratioWord)
{
    std::string ratioText;
    if (d >= 0) {
        ratioText = FormatFixed(std::pow(10.0, d / 20.0), 1) + ratioWord;
    } else {
        const double r = 100.0 * std::pow(10.0, d / 20.0);
        ratioText = FormatFixed(r, r > 1 ? 1 : 5) + "%";
    }
    return FormatFixed(d, 1) + "dB / " + ratioText;
}

DiagramModel::DiagramModel()
{
    try {
        FreqArray.assign(kInitialPoints, 0.0f);
        Curve1Array.assign(kInitialPoints, 0.0f);
        Curve2Array.assign(kInitialPoints, 0.0f);
        PolylineBuffer.assign(kPolylineCapacity, PixelPoint{});
        slotColumn.assign(kInitialPoints, 0);
        slotColumnFreq.assign(kInitialPoints, std::numeric_limits<float>::quiet_NaN());
    } catch (const std::bad_alloc&) {
        std::exit(1);  // without point storage the program cannot show any result
    }
}

void DiagramModel::FreeStorage()
{
    FreqArray = {};
    Curve1Array = {};
    Curve2Array = {};
    PolylineBuffer = {};
    slotColumn = {};
    slotColumnFreq = {};
    ++pointsGeneration;
}

bool DiagramModel::PrepareDiagram(const std::string& commentText, int lastIndex, int freqMinIn,
                                  int freqMaxIn, float& levelMinIo, float& levelMaxIo)
{
    comment = commentText;
    if (LevelAxis()) {
        freqMinIn = static_cast<int>(InnerX(freqMinIn));
        freqMaxIn = static_cast<int>(InnerX(freqMaxIn));
    }
    if (LevelMax == kUnset && LevelMin == kUnset) {
        LevelMax = levelMaxIo;
        LevelMin = levelMinIo;
        if (Axis1Shown && !Axis2Shown) {
            Level2Max = LevelMax;
            Level2Min = LevelMin;
        }
    }
    levelMaxIo = zoom.active ? zoom.levelMax : LevelMax;
    levelMinIo = zoom.active ? zoom.levelMin : LevelMin;
    if (freqMinIn != FreqMin || freqMaxIn != FreqMax) {
        ClearDiagramData();
    }
    if (FreqMax == 99 && FreqMin == 99) {
        FreqMin = freqMinIn;
        FreqMax = freqMaxIn;
    }
    // More slots than the storage holds (or a negative count) cannot be laid out.
    if (lastIndex < -1 || lastIndex >= MaxDiagramPoints) {
        return true;
    }
    if (HasStorage() && lastIndex >= Capacity() && !GrowStorage(static_cast<std::size_t>(lastIndex) + 1)) {
        return true;
    }
    PointCount = lastIndex + 1;
    return !LayoutScreen(true);
}

bool DiagramModel::GrowStorage(std::size_t points)
{
    // A longer measurement than any before: the storage grows to it, once.
    const auto kept = static_cast<std::size_t>(Capacity());
    if (points <= kept) {
        return true;
    }
    try {
        FreqArray.resize(points, 0.0f);
        Curve1Array.resize(points, 0.0f);
        Curve2Array.resize(points, 0.0f);
        slotColumn.resize(points, 0);
        slotColumnFreq.resize(points, std::numeric_limits<float>::quiet_NaN());
    } catch (const std::bad_alloc&) {
        // Back to the size every array had (shrinking never allocates).
        for (auto* a : {&FreqArray, &Curve1Array, &Curve2Array, &slotColumnFreq}) {
            a->resize(std::min(a->size(), kept));
        }
        slotColumn.resize(std::min(slotColumn.size(), kept));
        return false;
    }
    return true;
}

void DiagramModel::ClearDiagramData()
{
    std::fill(FreqArray.begin(), FreqArray.end(), 0.0f);
    std::fill(Curve1Array.begin(), Curve1Array.end(), 0.0f);
    std::fill(Curve2Array.begin(), Curve2Array.end(), 0.0f);
    ++pointsGeneration;
    if (onRepaint) {
        onRepaint();
    }
}

void DiagramModel::ResetDiagramScales()
{
    FreqMin = 99;
    FreqMax = 99;
    LevelMin = kUnset;
    LevelMax = kUnset;
    Level2Min = kUnset;
    Level2Max = kUnset;
    zoom.active = false;
    ClearDiagramData();
}

bool DiagramModel::StoreDiagramPoint(const float* values, int mode, int index, float freqHz)
{
    if (!HasStorage() || values == nullptr || index < 0 || index >= Capacity()) {
        return true;
    }
    const auto i = static_cast<std::size_t>(index);
    freqHz = static_cast<float>(InnerX(freqHz));
    if (mode == 2) {
        Curve1Array[i] = values[0];
        Curve2Array[i] = values[1];
        FreqArray[i] = freqHz;
    } else if (mode == 1) {
        if (Options.StoreCurve1) {
            Curve1Array[i] = values[0];
            FreqArray[i] = freqHz;
        }
        if (Options.StoreCurve2) {
            Curve2Array[i] = values[0];
            FreqArray[i] = freqHz;
        }
    } else {
        return true;  // no other mode exists
    }
    ++pointsGeneration;
    return false;
}

void DiagramModel::SetCurvesShown(bool draw1, bool draw2)
{
    const bool changed = Options.DrawCurve1 != (draw1 ? 1 : 0) || Options.DrawCurve2 != (draw2 ? 1 : 0);
    Options.DrawCurve1 = draw1 ? 1 : 0;
    Options.DrawCurve2 = draw2 ? 1 : 0;
    if (changed && onOptionsChanged) {
        onOptionsChanged();
    }
    LayoutScreen(false);
}

void DiagramModel::SetAxesShown(bool axis1, bool axis2)
{
    // The analyser sets the axes with every spectrum; the controls beside the plot move
    // only when the axes change (the second one takes room at the right).
    const bool changed = Axis1Shown != axis1 || Axis2Shown != axis2;
    Axis1Shown = axis1;
    Axis2Shown = axis2;
    LayoutScreen(changed);
}

void DiagramModel::SetLevelRange(float max, float min)
{
    if (zoom.active) {
        // A run sets the page's range: the zoom ends.
        zoom.active = false;
        FreqMin = zoom.freqMin;
        FreqMax = zoom.freqMax;
        Level2Min = zoom.level2Min;
        Level2Max = zoom.level2Max;
    }
    LevelMax = max;
    LevelMin = min;
    LayoutScreen(false);
}

void DiagramModel::SetSecondRange(float max, float min)
{
    if (zoom.active) {
        // The page's second range; the zoom shows its part of it.
        zoom.level2Max = max;
        zoom.level2Min = min;
        FollowZoom();
    } else {
        Level2Max = max;
        Level2Min = min;
    }
    LayoutScreen(false);
}

void DiagramModel::GetLevelRange(float& min, float& max) const
{
    min = zoom.active ? zoom.levelMin : LevelMin;
    max = zoom.active ? zoom.levelMax : LevelMax;
}

void DiagramModel::GetFreqRange(int& min, int& max) const
{
    min = static_cast<int>(OuterX(zoom.active ? zoom.freqMin : FreqMin));
    max = static_cast<int>(OuterX(zoom.active ? zoom.freqMax : FreqMax));
}

double DiagramModel::InnerX(double x) const
{
    return LevelAxis() ? std::max(x, 1.0 - kLevelOffset) + kLevelOffset : x;
}

void DiagramModel::SetXQuantity(XQuantity q)
{
    if (q == xQuantity) {
        return;
    }
    if (q == XQuantity::LevelDbfs) {
        freqAxisMin = Options.FreqMin;
        freqAxisMax = Options.FreqMax;
    }
    xQuantity = q;
    zoom.active = false;
    ClearMarkers();
    ResetCursor(true);
    ResetDiagramScales();
}

DiagramOptions DiagramModel::StoredOptions() const
{
    DiagramOptions o = Options;
    if (LevelAxis()) {
        o.FreqMin = freqAxisMin;
        o.FreqMax = freqAxisMax;
    }
    return o;
}

std::string DiagramModel::FreqBoundsRefusal() const
{
    if (!LevelAxis()) {
        return {};
    }
    return language == 'E' ? "Level axis: its range is set by the level sweep"
                           : "Pegelachse: ihren Bereich gibt der Pegelsweep vor";
}

bool DiagramModel::ZoomTo(double freqMinHz, double freqMaxHz, double levelMin, double levelMax)
{
    if (!std::isfinite(freqMinHz) || !std::isfinite(freqMaxHz) || !std::isfinite(levelMin) ||
        !std::isfinite(levelMax)) {
        return false;
    }
    const auto f0 = static_cast<std::int32_t>(std::clamp(std::floor(freqMinHz), 1.0, 1e7));
    auto f1 = static_cast<std::int32_t>(std::clamp(std::ceil(freqMaxHz), 1.0, 1e7));
    if (f1 <= f0) {
        f1 = f0 + 1;
    }
    const float l0 = ThreeDecimals(levelMin);
    const float l1 = ThreeDecimals(levelMax);
    if (!(l1 > l0) || std::fabs(l0) > 1e6f || std::fabs(l1) > 1e6f) {
        return false;
    }
    if (!zoom.active) {
        zoom = {true, FreqMin, FreqMax, LevelMin, LevelMax, Level2Min, Level2Max};
    }
    FreqMin = f0;
    FreqMax = f1;
    LevelMin = l0;
    LevelMax = l1;
    FollowZoom();
    MirrorRanges();
    return LayoutScreen(false);
}

void DiagramModel::FollowZoom()
{
    if (Axis1Shown && !Axis2Shown) {
        Level2Min = LevelMin;
        Level2Max = LevelMax;
        return;
    }
    const double span = static_cast<double>(zoom.levelMax) - zoom.levelMin;
    if (!zoom.active || span == 0.0) {
        return;
    }
    const double span2 = static_cast<double>(zoom.level2Max) - zoom.level2Min;
    Level2Min = static_cast<float>(zoom.level2Min + (LevelMin - zoom.levelMin) / span * span2);
    Level2Max = static_cast<float>(zoom.level2Min + (LevelMax - zoom.levelMin) / span * span2);
}

bool DiagramModel::ResetZoom()
{
    if (!zoom.active) {
        return false;
    }
    zoom.active = false;
    FreqMin = zoom.freqMin;
    FreqMax = zoom.freqMax;
    LevelMin = zoom.levelMin;
    LevelMax = zoom.levelMax;
    Level2Min = zoom.level2Min;
    Level2Max = zoom.level2Max;
    MirrorRanges();
    LayoutScreen(false);
    return true;
}

bool DiagramModel::WheelZoom(int x, int y, int steps, bool levelAxis)
{
    if (steps == 0 || layout.LevelScale1 == 0.0) {
        return false;
    }
    // A notch in shows 80 % of the range, out 125 %, the pointer staying where it is.
    const double factor = std::pow(0.8, std::clamp(steps, -10, 10));
    if (levelAxis) {
        const double v = YToLevel(y);
        const double lo = v - (v - LevelMin) * factor;
        const double hi = v + (LevelMax - v) * factor;
        if (hi - lo < 0.01 || hi - lo > 1e5) {
            return false;
        }
        return ZoomTo(FreqMin, FreqMax, lo, hi);
    }
    // Out as far as 50 kHz, or the page's own top when that is higher.
    const double top = std::max({50000.0, static_cast<double>(zoom.active ? zoom.freqMax : FreqMax),
                                 static_cast<double>(FreqMax)});
    const double f = std::clamp(static_cast<double>(XToFreq(x)), static_cast<double>(FreqMin),
                                static_cast<double>(FreqMax));
    double lo = 0.0;
    double hi = 0.0;
    if (LogX()) {
        const double u = std::log(f);
        lo = std::exp(u - (u - std::log(static_cast<double>(FreqMin))) * factor);
        hi = std::exp(u + (std::log(static_cast<double>(FreqMax)) - u) * factor);
    } else {
        lo = f - (f - FreqMin) * factor;
        hi = f + (FreqMax - f) * factor;
    }
    const auto f0 = static_cast<std::int32_t>(std::max(1.0, std::nearbyint(lo)));
    const auto f1 = static_cast<std::int32_t>(std::min(top, std::nearbyint(hi)));
    if (f1 <= f0 || (f0 == FreqMin && f1 == FreqMax)) {
        return false;  // whole hertz cannot get narrower, or nothing changes
    }
    return ZoomTo(f0, f1, LevelMin, LevelMax);
}

std::string DiagramModel::GetComment() const
{
    return CutUtf8(comment, 255);
}

DiagramResult DiagramModel::KeepResult() const
{
    DiagramResult r;
    const auto used = static_cast<std::size_t>(std::clamp(PointCount, 0, Capacity()));
    r.freq.assign(FreqArray.begin(), FreqArray.begin() + static_cast<std::ptrdiff_t>(used));
    r.curve1.assign(Curve1Array.begin(), Curve1Array.begin() + static_cast<std::ptrdiff_t>(used));
    r.curve2.assign(Curve2Array.begin(), Curve2Array.begin() + static_cast<std::ptrdiff_t>(used));
    r.PointCount = PointCount;
    r.FreqMin = FreqMin;
    r.FreqMax = FreqMax;
    r.LevelMin = LevelMin;
    r.LevelMax = LevelMax;
    r.Level2Min = Level2Min;
    r.Level2Max = Level2Max;
    r.Axis1Shown = Axis1Shown;
    r.Axis2Shown = Axis2Shown;
    r.DrawCurve1 = Options.DrawCurve1 != 0;
    r.DrawCurve2 = Options.DrawCurve2 != 0;
    r.Axis2Unit = Axis2Unit;
    r.WrapCurve2OnExport = WrapCurve2OnExport;
    r.Quantity = xQuantity;
    r.resultGerman = resultGerman;
    r.resultEnglish = resultEnglish;
    return r;
}

void DiagramModel::ShowResult(const DiagramResult& r)
{
    if (!HasStorage()) {
        return;
    }
    SetXQuantity(r.Quantity);
    ClearDiagramData();
    // The storage may have been given back and made anew since the result was kept.
    GrowStorage(std::min({r.freq.size(), r.curve1.size(), r.curve2.size()}));
    const std::size_t n = std::min({r.freq.size(), r.curve1.size(), r.curve2.size(), FreqArray.size()});
    std::copy_n(r.freq.begin(), n, FreqArray.begin());
    std::copy_n(r.curve1.begin(), n, Curve1Array.begin());
    std::copy_n(r.curve2.begin(), n, Curve2Array.begin());
    PointCount = std::clamp(r.PointCount, 0, static_cast<int>(n));
    FreqMin = r.FreqMin;
    FreqMax = r.FreqMax;
    LevelMin = r.LevelMin;
    LevelMax = r.LevelMax;
    Level2Min = r.Level2Min;
    Level2Max = r.Level2Max;
    Axis1Shown = r.Axis1Shown;
    Axis2Shown = r.Axis2Shown;
    Options.DrawCurve1 = r.DrawCurve1 ? 1 : 0;
    Options.DrawCurve2 = r.DrawCurve2 ? 1 : 0;
    Axis2Unit = r.Axis2Unit;
    WrapCurve2OnExport = r.WrapCurve2OnExport;
    SetResultLine(r.resultGerman, r.resultEnglish);
    if (onOptionsChanged) {
        onOptionsChanged();
    }
    LayoutScreen(true);
}

void DiagramModel::SetScreen(int width, int height, const DiagramTextMetrics& metrics)
{
    screenWidth = width;
    screenHeight = height;
    screenMetrics = metrics;
}

bool DiagramModel::LayoutScreen(bool moveControls)
{
    return LayoutDiagram(screenWidth, screenHeight, kScreenFontSize, screenMetrics, moveControls);
}

bool DiagramModel::LayoutDiagram(int width, int height, int fontSize,
                                 const DiagramTextMetrics& metrics, bool moveControls)
{
    if (!activated) {
        return false;
    }
    DiagramLayout& g = layout;
    g.width = width;
    g.height = height;
    g.fontSize = fontSize;
    g.topBand = 4 * fontSize;
    g.bottomBand = 5 * fontSize;
    // The left labels end half a character left of the plot; the wider of the two end
    // values gets another half character at the edge.
    int leftWidest = 0;
    for (const float v : {LevelMin, LevelMax}) {
        leftWidest = std::max(leftWidest, LabelWidth(metrics, FormatFixed(v, g.LabelDecimals, 3)));
    }
    g.leftBand = std::max(3 * fontSize + fontSize * g.LabelDecimals,
                          std::min(leftWidest + metrics.charWidth, width / 3));
    // The last frequency label ("20kHz", "22.05kHz" at most) is centred on the plot's
    // right edge: half of it and half a character lie in the right band.
    const int endLabelHalf = (LabelWidth(metrics, "20.00kHz") + metrics.charWidth + 1) / 2;
    g.rightBand = std::max(Axis2Shown ? RightAxisBand(width, fontSize, metrics) : fontSize,
                           std::min(endLabelHalf, width / 3));
    g.PlotRect = {g.leftBand, g.topBand, width - g.rightBand, height - g.bottomBand};
    g.CharHeight = metrics.charHeight;
    g.CharWidth = metrics.charWidth;
    if (moveControls && onMoveControls) {
        onMoveControls();
    }

    // The scales; an undefined quotient or logarithm ends the layout as a failure,
    // keeping what was computed before it.
    const auto scales = [&]() -> bool {
        const double plotW = g.PlotRect.right - g.PlotRect.left;
        const double plotH = g.PlotRect.bottom - g.PlotRect.top;
        if (FreqMin == 0) {
            return false;
        }
        const double r = static_cast<double>(FreqMax) / FreqMin;
        if (LevelAxis()) {
            g.LogScale = 1.0;
        } else if (r != 1.0) {
            if (!(r > 0.0)) {
                return false;
            }
            g.LogScale = plotW / std::log(r);
        } else {
            g.LogScale = 1.0;
        }
        const double span1 = static_cast<double>(LevelMax) - LevelMin;
        const double span2 = static_cast<double>(Level2Max) - Level2Min;
        if (span1 != 0.0) {
            g.LevelScale1 = plotH / span1;
            if (span2 == 0.0 || !std::isfinite(g.LevelScale1)) {
                return false;
            }
            g.LevelScale2 = plotH / span2;
            if (PointCount == 0) {
                return false;
            }
            g.PointScale = plotW / PointCount;
        } else {
            g.LevelScale1 = 1.0;
            g.LevelScale2 = 1.0;
            g.PointScale = 1.0;
        }

        g.FirstLogTick = kFreqTickCount + 1;  // none when FreqMin lies above the table
        for (int k = 1; k <= kFreqTickCount; ++k) {
            const int before = k == 1 ? 0 : FreqTickTable[static_cast<std::size_t>(k - 2)].freqHz;
            const int here = FreqTickTable[static_cast<std::size_t>(k - 1)].freqHz;
            if (here >= FreqMin && before < FreqMin) {
                g.FirstLogTick = k;
                break;
            }
        }

        g.LinScale = FreqMax != FreqMin ? plotW / (static_cast<double>(FreqMax) - FreqMin) : 1.0;

        const int slotWidth = metrics.freqLabelWidth * 3 / 2;
        if (slotWidth == 0) {
            return false;
        }
        int slots = static_cast<int>(plotW) / slotWidth;
        if (slots < 1) {
            slots = 1;
        }
        const long long freqSpan = static_cast<long long>(FreqMax) - FreqMin;
        g.FreqStep = DiagramRound(NiceStep(static_cast<double>(freqSpan / slots)));

        const int rowHeight = g.CharHeight * 3 / 2;
        if (rowHeight == 0) {
            return false;
        }
        const int rows = static_cast<int>(plotH) / rowHeight;
        if (rows == 0) {
            return false;
        }
        g.LevelStep1 = static_cast<float>(NiceStep(span1 / rows));
        g.LabelDecimals = g.LevelStep1 < 0.1 ? 2 : (g.LevelStep1 < 1 ? 1 : 0);
        if (span1 == 0.0) {
            return false;
        }
        g.LevelStep2 = static_cast<float>(span2 / (span1 / g.LevelStep1));
        return true;
    };
    const bool ok = scales();
    MirrorRanges();
    return ok;
}

int DiagramModel::RightAxisBand(int width, int fontSize, const DiagramTextMetrics& metrics) const
{
    // The labels of the second axis ("-180.0°": width 5, one decimal and the axis' unit,
    // the degree sign or "dB") start half a character right of the plot. The widest of them is one of the two end
    // values (the values between have no more digits and no sign the ends lack); it gets
    // half a character to spare at the edge. Never narrower than 4F; at most a third of
    // the target, so absurd ranges still leave a plot.
    int widest = 0;
    for (const double v : {static_cast<double>(Level2Min), static_cast<double>(Level2Max)}) {
        widest = std::max(widest, LabelWidth(metrics, FormatFixed(v, 1, 5) + Axis2Unit));
    }
    const int band = std::max(4 * fontSize, widest + metrics.charWidth);
    return std::max(fontSize, std::min(band, width / 3));
}

void DiagramModel::MirrorRanges()
{
    const bool changed = Options.FreqMin != FreqMin || Options.FreqMax != FreqMax ||
                         Options.LevelMin != LevelMin || Options.LevelMax != LevelMax;
    Options.FreqMin = FreqMin;
    Options.FreqMax = FreqMax;
    Options.LevelMin = LevelMin;
    Options.LevelMax = LevelMax;
    if (changed && onOptionsChanged) {
        onOptionsChanged();
    }
}

DiagramControlPlacement DiagramModel::PlaceControls(int commentHeight) const
{
    const DiagramLayout& g = layout;
    DiagramControlPlacement c;
    const int spinWidth = g.leftBand * 2 / 3;
    c.SpinButton1 = {1, 1, spinWidth, g.CharHeight};
    c.SpinButton2 = {1, g.height - g.CharHeight, spinWidth, g.CharHeight};
    c.ScrollBarLF = {c.SpinButton1.x + c.SpinButton1.w + 2, g.height - g.CharHeight, 26, g.CharHeight};
    c.ScrollBarHF = {g.width - 26, g.height - g.CharHeight, 26, g.CharHeight};
    c.Edicomment = {g.PlotRect.left, (g.topBand - commentHeight) / 2 - 2, 0, commentHeight};
    const int edit2Height = g.bottomBand - g.CharHeight - 10;
    const int edit2Left = c.ScrollBarLF.x + c.ScrollBarLF.w + 4;
    c.Edit2 = {edit2Left, g.height - edit2Height - 1, c.ScrollBarHF.x - edit2Left - 3, edit2Height};
    return c;
}

double DiagramModel::FreqToX(double freqHz) const
{
    const DiagramRect& p = layout.PlotRect;
    if (FreqMin == 0 || freqHz == 0.0) {
        return p.left;
    }
    if (LogX()) {
        const double q = freqHz / FreqMin;
        if (!(q > 0.0) || !std::isfinite(q)) {
            return p.left;
        }
        return p.left + std::log(q) * layout.LogScale;
    }
    if (freqHz < FreqMin) {
        return p.left;
    }
    if (freqHz > FreqMax) {
        return p.right;
    }
    return p.left + (freqHz - FreqMin) * layout.LinScale;
}

float DiagramModel::XToFreq(int x) const
{
    const double dx = x - layout.PlotRect.left;
    if (LogX()) {
        if (layout.LogScale == 0.0) {
            return static_cast<float>(FreqMin);
        }
        return static_cast<float>(FreqMin * std::exp(dx / layout.LogScale));
    }
    if (layout.LinScale == 0.0) {
        return static_cast<float>(FreqMin);
    }
    return static_cast<float>(dx / layout.LinScale + FreqMin);
}

int DiagramModel::LevelToY1(double v) const
{
    return layout.PlotRect.bottom - DiagramRound((v - LevelMin) * layout.LevelScale1);
}

int DiagramModel::LevelToY2(double v) const
{
    return layout.PlotRect.bottom - DiagramRound((v - Level2Min) * layout.LevelScale2);
}

double DiagramModel::YToLevel(int y) const
{
    return LevelMax - (y - layout.PlotRect.top) / layout.LevelScale1;
}

void DiagramModel::ForEachFreqTick(
    const std::function<void(int x, const std::string& label)>& visit) const
{
    const DiagramRect& p = layout.PlotRect;
    std::string label;
    if (LogX()) {
        for (int k = layout.FirstLogTick; k >= 1 && k <= kFreqTickCount; ++k) {
            const FreqTick& t = FreqTickTable[static_cast<std::size_t>(k - 1)];
            const bool last =
                k == kFreqTickCount || FreqTickTable[static_cast<std::size_t>(k)].freqHz > FreqMax;
            const int x = DiagramRound(FreqToX(t.freqHz));
            if (x >= p.left) {
                label = t.label;
                if (last) {
                    label += "Hz";
                }
                visit(x, label);
            }
            if (last) {
                break;
            }
        }
        return;
    }
    if (layout.FreqStep <= 0) {
        return;
    }
    const int first = FreqMin / layout.FreqStep;
    const int lastIndex = FreqMax / layout.FreqStep;
    // Bounded: a layout gives at most one label per slot, a hand-set step is capped here.
    for (int i = first; i <= lastIndex && i - first <= 100000; ++i) {
        const long long v = i == first ? FreqMin : static_cast<long long>(i) * layout.FreqStep;
        const bool last = i == lastIndex;
        if (LevelAxis()) {
            label = std::to_string(static_cast<long long>(OuterX(static_cast<double>(v)))) + (last ? "dBFS" : "");
        } else if (v >= 1000) {
            label = FormatFixed(static_cast<double>(v) / 1000.0, 2, 1) + (last ? "kHz" : "k");
        } else {
            label = std::to_string(v) + (last ? "Hz" : "");
        }
        visit(DiagramRound(FreqToX(static_cast<double>(v))), label);
    }
}

int DiagramModel::SlotColumn(int i)
{
    const auto s = static_cast<std::size_t>(i);
    const float f = FreqArray[s];
    // A NaN frequency never equals its cached copy, so it is mapped anew each time.
    if (slotColumnFreq[s] != f) {
        const DiagramRect& p = layout.PlotRect;
        int x = DiagramRound(FreqToX(f));
        if (x < p.left) {
            x = p.left;
        }
        if (x >= p.right) {
            x = p.right - 1;
        }
        slotColumn[s] = x;
        slotColumnFreq[s] = f;
    }
    return slotColumn[s];
}

namespace {

// The slots a curve draws: from the last one at or below FreqMin (the line enters the
// plot from it) to the last one not above FreqMax. False when none lies above FreqMin.
bool CurveRange(const float* freqs, int used, std::int32_t freqMin, std::int32_t freqMax, int& l, int& m)
{
    l = -1;
    for (int i = 0; i < used; ++i) {
        if (freqs[i] > freqMin) {
            l = std::max(i - 1, 0);
            break;
        }
    }
    if (l < 0) {
        return false;
    }
    // The last used slot; slots behind it may still hold an older, longer measurement.
    m = used - 1;
    while (m >= 0 && freqs[m] > freqMax) {
        --m;
    }
    return m >= l;
}

// The column rule of CollectCurve over slots l .. m (slots of frequency 0 skipped after
// the first): `columnOf(i)` gives a slot's pixel column, `out` receives the vertices.
template <typename ColumnOf>
int CollectColumns(int l, int m, const float* freqs, const float* values, ColumnOf columnOf, double levelMin,
                   double levelScale, int top, int bottom, int o, PixelPoint* out)
{
    int count = 0;
    // A vertex that only carries on a row of the two before it moves the last one along
    // instead: the line covers the same pixels with fewer vertices (a curve beyond the
    // level range runs flat along the plot's edge).
    const auto append = [&](int x, int y) {
        if (count >= 2) {
            PixelPoint& end = out[count - 1];
            const PixelPoint& before = out[count - 2];
            if (end.y == y && before.y == y && before.x < end.x && end.x < x) {
                end.x = x;
                return;
            }
        }
        out[count++] = {x, y};
    };

    // The column being collected: its lowest and highest row, which came first and how
    // many slots it holds.
    int column = 0;
    int low = 0;
    int high = 0;
    bool lowFirst = true;
    int slots = 0;
    const auto closeColumn = [&] {
        if (slots == 0) {
            return;
        }
        if (low == high) {
            append(column, low);
        } else if (lowFirst) {
            append(column, low);
            append(column, high);
        } else {
            append(column, high);
            append(column, low);
        }
    };
    PixelPoint last{};
    int lastSlot = -1;
    const auto offer = [&](int i) {
        const double v = values[i];
        if (std::isnan(v)) {
            // A point without a value (a step that measured nothing) breaks the line: the
            // piece before it ends at its last point.
            closeColumn();
            if (slots > 1) {
                append(last.x, last.y);
            }
            slots = 0;
            if (count > 0 && out[count - 1].x != kCurveBreak) {
                out[count++] = {kCurveBreak, kCurveBreak};
            }
            return;
        }
        const int x = columnOf(i);
        int y = bottom - DiagramRound((v - levelMin) * levelScale);
        if (y > bottom) {
            y = bottom + o;
        } else if (y < top) {
            y = top - o;
        }
        if (x != column || slots == 0) {
            closeColumn();
            column = x;
            low = high = y;
            lowFirst = true;
            slots = 0;
        } else if (y < low) {
            low = y;
            lowFirst = false;  // the new low row comes after the high one
        } else if (y > high) {
            high = y;
            lowFirst = true;
        }
        ++slots;
        last = {x, y};
        lastSlot = i;
    };
    offer(l);
    for (int i = l + 1; i <= m; ++i) {
        if (freqs[i] != 0.0f) {
            offer(i);
        }
    }
    closeColumn();
    // The range's last point ends the line, also where its column held other slots
    // (a column of one slot has just ended with it).
    if (lastSlot == m && slots > 1) {
        append(last.x, last.y);
    }
    if (count > 0 && out[count - 1].x == kCurveBreak) {
        --count;
    }
    return count;
}

}  // namespace

int DiagramModel::CollectCurve(int curve)
{
    if (!HasStorage()) {
        return 0;
    }
    const int used = std::clamp(PointCount, 0, Capacity());
    int l = 0;
    int m = 0;
    if (!CurveRange(FreqArray.data(), used, FreqMin, FreqMax, l, m)) {
        return 0;
    }
    const DiagramRect& p = layout.PlotRect;
    const ColumnScale scale{FreqMin, FreqMax, p.left, p.right, layout.LogScale, layout.LinScale,
                            LogX()};
    if (!(scale == columnScale)) {
        std::fill(slotColumnFreq.begin(), slotColumnFreq.end(), std::numeric_limits<float>::quiet_NaN());
        columnScale = scale;
    }
    const float* const freqs = FreqArray.data();
    const float* const cachedFreqs = slotColumnFreq.data();
    const std::int32_t* const cachedColumns = slotColumn.data();
    // As LevelToY1 and LevelToY2, with the plot's edges held here.
    const double levelMin = curve == 2 ? Level2Min : LevelMin;
    const double levelScale = curve == 2 ? layout.LevelScale2 : layout.LevelScale1;
    const auto columnOf = [&](int i) { return cachedFreqs[i] == freqs[i] ? cachedColumns[i] : SlotColumn(i); };
    return CollectColumns(l, m, freqs, ShownValues(curve), columnOf, levelMin, levelScale, p.top, p.bottom,
                          layout.CharHeight / 8, PolylineBuffer.data());
}

int DiagramModel::CollectOverlay(const ShownCurve& c, std::vector<PixelPoint>& out) const
{
    const int count = static_cast<int>(std::min(c.freqHz.size(), c.values.size()));
    int l = 0;
    int m = 0;
    if (!CurveRange(c.freqHz.data(), count, FreqMin, FreqMax, l, m)) {
        return 0;
    }
    // At most two vertices and a break per point.
    out.resize(static_cast<std::size_t>(3 * (m - l + 1) + 1));
    const DiagramRect& p = layout.PlotRect;
    const float* const freqs = c.freqHz.data();
    const auto columnOf = [&](int i) {
        return std::clamp(DiagramRound(FreqToX(freqs[i])), p.left, std::max(p.left, p.right - 1));
    };
    return CollectColumns(l, m, freqs, c.values.data(), columnOf, c.secondAxis ? Level2Min : LevelMin,
                          c.secondAxis ? layout.LevelScale2 : layout.LevelScale1, p.top, p.bottom,
                          layout.CharHeight / 8, out.data());
}

ExportedTable DiagramModel::ExportTable() const
{
    ExportedTable table;
    const int used = HasStorage() ? std::clamp(PointCount, 0, Capacity()) : 0;
    const std::vector<ShownCurve>& overlays = ShownOverlays();
    const float* const shown1 = ShownValues(1);
    const float* const shown2 = ShownValues(2);
    const auto inRange = [&](float f) { return FreqMin <= f && f <= FreqMax; };
    // The table of the measurement alone is the export as it always was; with overlays,
    // smoothing or a difference a header names the columns and says what was done.
    // A table over level names its first column, so it is never read as one over frequency.
    table.plain = overlays.empty() && Smoothing() == 0 && !DifferenceShown() && MeasurementName.empty() && !LevelAxis();
    bool measured = table.plain;
    for (int i = 0; i < used && !measured; ++i) {
        const auto s = static_cast<std::size_t>(i);
        measured = inRange(FreqArray[s]) && FreqArray[s] != 0.0f &&
                   ((Options.DrawCurve1 && std::isfinite(shown1[s])) || (Options.DrawCurve2 && std::isfinite(shown2[s])));
    }
    const bool column1 = measured && Options.DrawCurve1;
    const bool column2 = measured && Options.DrawCurve2;
    const bool de = language == 'D';
    if (Smoothing() > 0) {
        table.notes.push_back((de ? "Gl\u00E4ttung " : "smoothing ") + SmoothingName(Smoothing()) + (de ? " Oktave" : " octave"));
    }
    if (DifferenceShown()) {
        table.notes.push_back((de ? "Differenz zu " : "difference to ") + CurveName({Overlays.Page(page).referenceId, 1}));
    }
    if (column1 || (table.plain && Options.DrawCurve1)) {
        table.names.push_back(CurveName({0, 1}));
        table.curves.push_back(1);
    }
    if (column2 || (table.plain && Options.DrawCurve2)) {
        table.names.push_back(CurveName({0, 2}));
        table.curves.push_back(2);
    }
    for (const ShownCurve& c : overlays) {
        table.names.push_back(CurveName(c.ref));
        table.curves.push_back(0);
    }
    const auto row = [&](float f, std::vector<double>&& values) {
        // A point without any shown value (a sweep step without a reference) has no line.
        if (!values.empty() && std::none_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); })) {
            return;
        }
        table.freqHz.push_back(static_cast<float>(OuterX(f)));
        table.rows.push_back(std::move(values));
    };
    const auto wrap2 = [&](double v) {
        if (WrapCurve2OnExport && std::isfinite(v)) {
            v = std::remainder(v, 360.0);
            v = v == -180.0 ? 180.0 : v;
        }
        return v;
    };
    if (measured || table.plain) {
        for (int i = 0; i < used; ++i) {
            const auto s = static_cast<std::size_t>(i);
            const float f = FreqArray[s];
            if (!inRange(f)) {
                continue;
            }
            std::vector<double> values;
            if (Options.DrawCurve1) {
                values.push_back(shown1[s]);
            }
            if (Options.DrawCurve2) {
                values.push_back(wrap2(shown2[s]));
            }
            for (const ShownCurve& c : overlays) {
                values.push_back(SortedCurveValueAt(c.freqHz.data(), c.values.data(), c.values.size(), f));
            }
            row(f, std::move(values));
        }
    } else if (!overlays.empty()) {
        // Without a measurement the first overlay's points make the rows.
        const std::vector<float>& grid = overlays.front().freqHz;
        for (const float f : grid) {
            if (!inRange(f)) {
                continue;
            }
            std::vector<double> values;
            for (const ShownCurve& c : overlays) {
                values.push_back(SortedCurveValueAt(c.freqHz.data(), c.values.data(), c.values.size(), f));
            }
            row(f, std::move(values));
        }
    }
    return table;
}

std::string DiagramModel::DiagramText(const std::string& separator) const
{
    std::string sep = separator;
    if (separator == "\\t") {
        sep = "\t";
    } else if (separator == "\\n") {
        sep = "\r\n";
    }
    const ExportedTable table = ExportTable();
    std::string text;
    if (!table.plain) {
        for (const std::string& note : table.notes) {
            text += "# " + note + "\r\n";
        }
        const auto name = [&](std::string n) {
            // A name holds neither the separator nor a line break.
            for (const std::string& cut : {sep, std::string("\r"), std::string("\n")}) {
                for (std::size_t at; !cut.empty() && (at = n.find(cut)) != std::string::npos;) {
                    n.replace(at, cut.size(), " ");
                }
            }
            return n;
        };
        std::string header = std::string("# ") + XUnit();
        for (const std::string& n : table.names) {
            header += (sep == "\r\n" ? "\t" : sep) + name(n);
        }
        text += header + "\r\n";
    }
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        text += FormatFixed(table.freqHz[r], 2);
        for (const double v : table.rows[r]) {
            text += sep;
            text += FormatFixed(v, 2);
        }
        text += "\r\n";
    }
    return text;
}

int DiagramModel::ExportDiagramText(const std::string& fileName, const std::string& separator) const
{
    if (!HasStorage()) {
        return 1000;
    }
    const std::string text = DiagramText(separator);
    errno = 0;
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fflush(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    return error;
}

void DiagramModel::ResetCursor(bool clearMeasurement)
{
    startColumn = startRow = currentColumn = currentRow = -1;
    PointReadout.clear();
    LevelReadout.clear();
    FreqReadout.clear();
    CursorMode = 0;
    if (clearMeasurement) {
        MeasureActive = false;
    }
}

void DiagramModel::SetDiagramTexts(char language)
{
    if (language == 'D') {
        ratioWord = "fach";
    } else if (language == 'E') {
        ratioWord = "times";
    } else {
        return;
    }
    this->language = language;
}

bool DiagramModel::MouseDown(MouseButton button, int x, int y)
{
    mouseX = x;
    mouseY = y;
    if (button == MouseButton::Left) {
        pressed = true;
        dragging = false;
        pressX = x;
        pressY = y;
        savedA = MarkerA;
        savedB = MarkerB;
        startColumn = x;
        startRow = y;
        const std::string freqText = FormatFixed(OuterX(XToFreq(x)), 0);
        if (layout.LevelScale1 == 0.0) {
            return false;
        }
        // The curve nearest to the click at its frequency is read; without one, the level
        // of the row clicked.
        std::string valueText = FormatFixed(YToLevel(y), 1) + "dB";
        CurveMarker m;
        if (CurveAt(x, y, m)) {
            bool second = false;
            CurveShown(m.ref, &second);
            valueText = FormatFixed(ShownValueAt(m.ref, m.freqHz), 1) + UnitOf(second) + " " + CurveName(m.ref);
            if (MeasureActive) {
                MarkerB = m;
            } else {
                MarkerA = m;
                MarkerB = {};
            }
        } else if (!MeasureActive) {
            ClearMarkers();
        }
        PointReadout = CutUtf8(freqText + XUnit() + "/" + valueText, kReadoutMax);
        CursorMode = 4;
    }
    return true;
}

bool DiagramModel::MouseUp(MouseButton button)
{
    if (button == MouseButton::Left) {
        const bool drag = dragging;
        pressed = false;
        dragging = false;
        if (swallowRelease) {
            swallowRelease = false;  // the release of a double click
            return false;
        }
        if (drag) {
            // The rectangle's sides that moved far enough are the new range.
            const DiagramRect r = DragRect();
            ResetCursor(true);
            const bool freqs = r.right - r.left > kDragPixels;
            const bool levels = r.bottom - r.top > kDragPixels;
            if (!freqs && !levels) {
                return false;
            }
            return ZoomTo(freqs ? XToFreq(r.left) : FreqMin, freqs ? XToFreq(r.right) : FreqMax,
                          levels ? YToLevel(r.bottom) : LevelMin, levels ? YToLevel(r.top) : LevelMax);
        }
        if (MeasureActive) {
            ResetCursor(false);
        }
        MeasureActive = !MeasureActive;
    } else if (button == MouseButton::Right) {
        ResetCursor(true);
    }
    return false;
}

DiagramRect DiagramModel::DragRect() const
{
    const DiagramRect& p = layout.PlotRect;
    const auto x = [&](int v) { return std::clamp(v, p.left, p.right); };
    const auto y = [&](int v) { return std::clamp(v, p.top, p.bottom); };
    return {x(std::min(pressX, mouseX)), y(std::min(pressY, mouseY)), x(std::max(pressX, mouseX)),
            y(std::max(pressY, mouseY))};
}

bool DiagramModel::DoubleClick()
{
    ResetCursor(true);
    ClearMarkers();
    pressed = false;
    dragging = false;
    swallowRelease = true;
    ResetZoom();
    return true;
}

bool DiagramModel::MouseMove(int x, int y, bool leftHeld)
{
    mouseX = x;
    mouseY = y;
    if (!leftHeld) {
        pressed = false;
    }
    if (pressed && !dragging && (std::abs(x - pressX) > kDragPixels || std::abs(y - pressY) > kDragPixels)) {
        // Held and moved: a rectangle to zoom into, not a measurement (nor a marker).
        dragging = true;
        ResetCursor(true);
        MarkerA = savedA;
        MarkerB = savedB;
    }
    if (dragging) {
        return true;
    }
    // While a measurement runs, marker B follows the pointer on the nearest curve.
    bool moved = false;
    if (MeasureActive && MarkerA.set) {
        CurveMarker m;
        if (CurveAt(x, y, m) && !(m.ref == MarkerB.ref && m.freqHz == MarkerB.freqHz && MarkerB.set)) {
            MarkerB = m;
            moved = true;
        }
    }
    return MeasureMove(x, y) || moved;
}

bool DiagramModel::MeasureMove(int x, int y)
{
    const bool slope = Options.CursorSlope != 0;
    bool fault = false;
    double ratio = 1.0;
    double d = 0.0;
    if (startColumn > 0 && (Options.CursorFreq || slope)) {
        currentColumn = x;
        if (layout.PointScale == 0.0) {
            return false;
        }
        const double f1 = XToFreq(x);
        const double f0 = XToFreq(startColumn);
        if (!(f1 > 0.0 && f0 > 0.0) || !std::isfinite(f1) || !std::isfinite(f0)) {
            fault = true;
        } else {
            ratio = std::max(f0, f1) / std::min(f0, f1);
            FreqReadout = CutUtf8(FormatFixed(OuterX(f1), LevelAxis() ? 1 : 0) + XUnit(), kReadoutMax);
            if (!slope) {
                CursorMode = 1;
            }
        }
    }
    if (!fault && startRow > 0 && (Options.CursorLevel || slope)) {
        currentRow = y;
        if (layout.LevelScale1 == 0.0) {
            return false;
        }
        d = (startRow - y) / layout.LevelScale1;
        if (d == 0.0) {
            return false;
        }
        LevelReadout = CutUtf8(LevelReadoutText(d, ratioWord), kReadoutMax);
        if (!slope) {
            CursorMode = 2;
        }
    }
    if (!fault && startRow > 0 && startColumn > 0 && slope) {
        const double octaves = std::log(ratio) / std::log(2.0);
        if (octaves == 0.0 || !std::isfinite(octaves)) {
            fault = true;
        } else {
            FreqReadout = CutUtf8(FormatFixed(std::fabs(d / octaves), 1) + "dB/Okt", kReadoutMax);
            CursorMode = 3;
        }
    }
    if (fault) {
        FreqReadout = "FP error";
        LevelReadout = "FP error";
    }
    const DiagramRect& p = layout.PlotRect;
    if (x < p.left - 4 || x > p.right + 4 || y < p.top - 4 || y > p.bottom + 4) {
        ResetCursor(true);
    }
    return true;
}

void DiagramModel::FollowLeftAxis(bool upper)
{
    if (Axis1Shown && !Axis2Shown) {
        if (upper) {
            Level2Max = LevelMax;
        } else {
            Level2Min = LevelMin;
        }
    }
}

bool DiagramModel::SpinClick(int spin, bool up)
{
    const double s = NiceStep(std::fabs(static_cast<double>(LevelMax) - LevelMin) * 0.1);
    const double step = Options.YStep;
    const bool autoStep = Options.YStepAuto != 0;
    if (spin == 1) {
        if (autoStep) {
            if (up) {
                LevelMax = static_cast<float>(s * (std::nearbyint(LevelMax / s) + 1));
            } else {
                const double a = s * (std::nearbyint(LevelMax / s) - 1);
                if (a > LevelMin) {
                    LevelMax = static_cast<float>(a);
                }
            }
        } else if (up) {
            LevelMax = static_cast<float>(LevelMax + step);
        } else if (LevelMin + step < LevelMax) {
            LevelMax = static_cast<float>(LevelMax - step);
        }
        FollowLeftAxis(true);
    } else {
        if (autoStep) {
            if (up) {
                const double a = s * (std::nearbyint(LevelMin / s) + 1);
                if (a < LevelMax) {
                    LevelMin = static_cast<float>(a);
                }
            } else {
                LevelMin = static_cast<float>(s * (std::nearbyint(LevelMin / s) - 1));
            }
        } else if (up) {
            if (LevelMax - step > LevelMin) {
                LevelMin = static_cast<float>(LevelMin + step);
            }
        } else {
            LevelMin = static_cast<float>(LevelMin - step);
        }
        FollowLeftAxis(false);
    }
    MirrorRanges();
    return LayoutScreen(false);
}

bool DiagramModel::ScrollClick(bool high, ScrollCode code)
{
    if (LevelAxis()) {
        return false;  // the level sweep sets the range (FreqBoundsRefusal says so)
    }
    // Bounds read from a configuration file may lie anywhere in the 32-bit range: step in
    // 64 bits and bring the result back into range, so that no step wraps around.
    const auto toInt32 = [](long long v) {
        return static_cast<std::int32_t>(
            std::clamp<long long>(v, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max()));
    };
    const int delta = code == ScrollCode::LineLeft ? -1 : (code == ScrollCode::LineRight ? 1 : 0);
    if (high) {
        long long v = static_cast<long long>(FreqMax) + 500LL * delta;
        if (v > 50000) {
            v = 50000;
        }
        if (v < FreqMin) {
            v = static_cast<long long>(FreqMin) + 500;
        }
        FreqMax = toInt32(v);
    } else {
        long long v = static_cast<long long>(FreqMin) + 10LL * delta;
        if (v < 1) {
            v = 1;
        }
        if (v > 1) {
            v = (v / 10) * 10;
        }
        if (FreqMax < v) {
            v = static_cast<long long>(FreqMax) - 10;
        }
        // An upper bound below 11 Hz would otherwise push the lower one to 0 or below,
        // where no frequency axis exists.
        if (v < 1) {
            v = 1;
        }
        FreqMin = toInt32(v);
    }
    MirrorRanges();
    return LayoutScreen(false);
}

bool DiagramModel::ApplyOptions(const DiagramOptions& opts)
{
    Options = opts;
    if (LevelAxis()) {
        Options.FreqMin = FreqMin;  // the dialog's frequency bounds do not apply
        Options.FreqMax = FreqMax;
    }
    FreqMin = Options.FreqMin;
    FreqMax = Options.FreqMax;
    LevelMin = opts.LevelMin;
    LevelMax = opts.LevelMax;
    if (Axis1Shown && !Axis2Shown) {
        Level2Max = LevelMax;
        Level2Min = LevelMin;
    }
    return LayoutScreen(false);
}

// --- pages, overlays, smoothing, difference, markers ------------------------------------

void DiagramModel::SetPage(int newPage)
{
    if (newPage < 0 || newPage >= OverlayStore::kPages || newPage == page) {
        return;
    }
    page = newPage;
    ClearMarkers();
    if (onOptionsChanged) {
        onOptionsChanged();  // the smoothing shown is the page's
    }
}

void DiagramModel::SetSmoothing(int n)
{
    const bool offered = std::find(kSmoothingFractions.begin(), kSmoothingFractions.end(), n) !=
                         kSmoothingFractions.end();
    if (!offered || n == Smoothing()) {
        return;
    }
    Options.Smoothing[static_cast<std::size_t>(page)] = static_cast<std::uint8_t>(n);
    if (onOptionsChanged) {
        onOptionsChanged();
    }
}

bool DiagramModel::DifferenceShown() const
{
    const OverlayPage& p = Overlays.Page(page);
    return !LevelAxis() && p.difference && Overlays.Find(page, p.referenceId) != nullptr;
}

OverlayResult DiagramModel::SetDifference(bool on)
{
    const OverlayResult r = Overlays.SetDifference(page, on);
    if (!DifferenceShown()) {
        ResetZoom();
        return r;
    }
    // The level axis fits the differences shown, in whole 5 dB, at least -5 .. 5 dB.
    double lo = -5.0;
    double hi = 5.0;
    const auto take = [&](const float* freq, const float* values, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (freq[i] >= FreqMin && freq[i] <= FreqMax && std::isfinite(values[i])) {
                lo = std::min(lo, static_cast<double>(values[i]));
                hi = std::max(hi, static_cast<double>(values[i]));
            }
        }
    };
    const std::size_t used = HasStorage() ? static_cast<std::size_t>(std::clamp(PointCount, 0, Capacity())) : 0;
    if (Options.DrawCurve1) {
        take(FreqArray.data(), ShownValues(1), used);
    }
    if (Options.DrawCurve2 && !Axis2Shown) {
        take(FreqArray.data(), ShownValues(2), used);
    }
    for (const ShownCurve& c : ShownOverlays()) {
        if (!c.secondAxis) {
            take(c.freqHz.data(), c.values.data(), c.values.size());
        }
    }
    lo = std::max(std::floor(lo / 5.0) * 5.0, -200.0);
    hi = std::min(std::ceil(hi / 5.0) * 5.0, 200.0);
    ZoomTo(FreqMin, FreqMax, lo, hi);
    return r;
}

OverlayResult DiagramModel::KeepCurves(const std::string& name, std::uint64_t* id)
{
    if (LevelAxis()) {
        return {OverlayProblem::OtherAxis, "", ""};
    }
    Overlay o;
    o.name = name;
    const int used = HasStorage() ? std::clamp(PointCount, 0, Capacity()) : 0;
    const bool one = Options.DrawCurve1 != 0;
    const bool two = Options.DrawCurve2 != 0;
    if (!one && !two) {
        return {OverlayProblem::NoCurve, "", ""};
    }
    for (int i = 0; i < used; ++i) {
        const auto s = static_cast<std::size_t>(i);
        if (FreqArray[s] > 0.0f) {
            o.freqHz.push_back(FreqArray[s]);
            o.curve1.push_back(one ? Curve1Array[s] : Curve2Array[s]);
            if (one && two) {
                o.curve2.push_back(Curve2Array[s]);
            }
        }
    }
    o.secondAxis = one && two && Axis2Shown;
    o.unit2 = o.secondAxis ? Axis2Unit : std::string();
    return Overlays.Keep(page, std::move(o), id);
}

std::string DiagramModel::UnitOf(bool secondAxis) const
{
    return secondAxis ? Axis2Unit : std::string("dB");
}

bool DiagramModel::ShownChanged() const
{
    const ShownKey key{pointsGeneration, PointCount, Overlays.Generation(), page, Smoothing(),
                       DifferenceShown(), Axis2Shown, Axis2Unit, LevelAxis()};
    return !shownValid || !(key == shownKey);
}

void DiagramModel::UpdateShown() const
{
    if (!ShownChanged()) {
        return;
    }
    const ShownKey key{pointsGeneration, PointCount, Overlays.Generation(), page, Smoothing(),
                       DifferenceShown(), Axis2Shown, Axis2Unit, LevelAxis()};
    ShownKey overlaysOf = key;
    ShownKey before = shownKey;
    overlaysOf.points = before.points = 0;
    overlaysOf.pointCount = before.pointCount = 0;
    const bool overlaysChanged = !shownValid || !(overlaysOf == before);
    shownKey = key;
    shownValid = true;

    const int n = key.smoothing;
    const OverlayPage& p = Overlays.Page(page);
    const Overlay* ref = key.difference ? Overlays.Find(page, p.referenceId) : nullptr;
    const auto smooth = [n](const std::vector<float>& f, const std::vector<float>& v, bool phase) {
        std::vector<float> out(v.size());
        if (phase) {
            SmoothPhases(f.data(), v.data(), std::min(f.size(), v.size()), n, out.data());
        } else {
            SmoothLevels(f.data(), v.data(), std::min(f.size(), v.size()), n, out.data());
        }
        return out;
    };
    const auto isPhase = [](bool secondAxis, const std::string& unit) { return secondAxis && unit == kDegree; };
    // The reference as shown before the difference: smoothed like everything else.
    std::vector<float> ref1;
    std::vector<float> ref2;
    if (ref != nullptr) {
        ref1 = smooth(ref->freqHz, ref->curve1, false);
        if (ref->HasCurve2()) {
            ref2 = smooth(ref->freqHz, ref->curve2, isPhase(ref->secondAxis, ref->unit2));
        }
    }
    // What curve k of a curve set on the given axis has its difference taken to: the
    // reference's curve of the same number on the same axis, else (levels on the left
    // axis) its curve 1; nothing for a right axis the reference does not have.
    const auto referenceFor = [&](int curve, bool secondAxis) -> const std::vector<float>* {
        if (ref == nullptr) {
            return nullptr;
        }
        if (curve == 2 && ref->HasCurve2() && ref->secondAxis == secondAxis) {
            return &ref2;
        }
        return secondAxis ? nullptr : &ref1;
    };
    const auto difference = [&](const float* f, float* v, std::size_t count, int curve, bool secondAxis,
                                bool phase) {
        if (const std::vector<float>* r = referenceFor(curve, secondAxis)) {
            SubtractCurve(f, v, count, ref->freqHz.data(), r->data(), std::min(ref->freqHz.size(), r->size()), phase);
        }
    };

    if (overlaysChanged) {
        shownOverlays.clear();
        for (const Overlay& o : p.overlays) {
            // Overlays are kept over frequency: none is drawn on the level axis.
            if (!o.visible || key.levelAxis) {
                continue;
            }
            for (int curve = 1; curve <= (o.HasCurve2() ? 2 : 1); ++curve) {
                ShownCurve c;
                c.ref = {o.id, curve};
                c.colour = o.colour;
                c.dashed = o.dashed || curve == 2;
                c.secondAxis = curve == 2 && o.secondAxis;
                c.freqHz = o.freqHz;
                const bool phase = curve == 2 && isPhase(o.secondAxis, o.unit2);
                c.values = smooth(o.freqHz, curve == 1 ? o.curve1 : o.curve2, phase);
                difference(o.freqHz.data(), c.values.data(), std::min(o.freqHz.size(), c.values.size()), curve,
                           c.secondAxis, phase);
                shownOverlays.push_back(std::move(c));
            }
        }
        ++shownGeneration;
    }

    shownTransformed = HasStorage() && (n > 0 || ref != nullptr);
    if (!shownTransformed) {
        shownCurve1.clear();
        shownCurve2.clear();
        return;
    }
    const auto used = static_cast<std::size_t>(std::clamp(PointCount, 0, Capacity()));
    shownCurve1 = Curve1Array;
    shownCurve2 = Curve2Array;
    const bool phase2 = isPhase(Axis2Shown, Axis2Unit);
    SmoothLevels(FreqArray.data(), Curve1Array.data(), used, n, shownCurve1.data());
    if (phase2) {
        SmoothPhases(FreqArray.data(), Curve2Array.data(), used, n, shownCurve2.data());
    } else {
        SmoothLevels(FreqArray.data(), Curve2Array.data(), used, n, shownCurve2.data());
    }
    difference(FreqArray.data(), shownCurve1.data(), used, 1, false, false);
    difference(FreqArray.data(), shownCurve2.data(), used, 2, Axis2Shown, phase2);
}

const float* DiagramModel::ShownValues(int curve) const
{
    UpdateShown();
    if (shownTransformed) {
        return curve == 2 ? shownCurve2.data() : shownCurve1.data();
    }
    return curve == 2 ? Curve2Array.data() : Curve1Array.data();
}

void DiagramModel::SetLimitCurves(const std::vector<float>& freqHz, const std::vector<float>& lower,
                                  const std::vector<float>& upper)
{
    limitCurves.clear();
    for (const std::vector<float>* bound : {&lower, &upper}) {
        ShownCurve c;
        c.colour = Options.ColText;
        c.dashed = true;
        c.freqHz = freqHz;
        c.values = *bound;
        limitCurves.push_back(std::move(c));
    }
    ++limitGeneration;
}

void DiagramModel::ClearLimitCurves()
{
    if (!limitCurves.empty()) {
        limitCurves.clear();
        ++limitGeneration;
    }
}

const std::vector<ShownCurve>& DiagramModel::ShownOverlays() const
{
    UpdateShown();
    return shownOverlays;
}

std::uint64_t DiagramModel::OverlaysGeneration() const
{
    UpdateShown();
    return shownGeneration + limitGeneration;
}

const ShownCurve* DiagramModel::FindShown(const CurveRef& ref) const
{
    for (const ShownCurve& c : ShownOverlays()) {
        if (c.ref == ref) {
            return &c;
        }
    }
    return nullptr;
}

bool DiagramModel::CurveShown(const CurveRef& ref, bool* secondAxis) const
{
    bool second = false;
    bool shown = false;
    if (ref.overlay == 0) {
        shown = HasStorage() && (ref.curve == 2 ? Options.DrawCurve2 : Options.DrawCurve1) != 0;
        second = ref.curve == 2 && Axis2Shown;
    } else if (const ShownCurve* c = FindShown(ref)) {
        shown = true;
        second = c->secondAxis;
    }
    if (secondAxis != nullptr) {
        *secondAxis = second;
    }
    return shown;
}

double DiagramModel::ShownValueAt(const CurveRef& ref, double freqHz) const
{
    if (!CurveShown(ref)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (ref.overlay == 0) {
        const auto used = static_cast<std::size_t>(std::clamp(PointCount, 0, Capacity()));
        return CurveValueAt(FreqArray.data(), ShownValues(ref.curve), used, freqHz);
    }
    const ShownCurve* c = FindShown(ref);
    return SortedCurveValueAt(c->freqHz.data(), c->values.data(), std::min(c->freqHz.size(), c->values.size()),
                              freqHz);
}

std::string DiagramModel::CurveName(const CurveRef& ref) const
{
    const std::string second = ref.curve == 2 ? " (2)" : "";
    if (ref.overlay == 0) {
        return (MeasurementName.empty() ? std::string(language == 'E' ? "Measurement" : "Messung")
                                        : MeasurementName) +
               second;
    }
    const Overlay* o = Overlays.Find(page, ref.overlay);
    return o == nullptr ? std::string() : o->name + second;
}

std::vector<LegendLine> DiagramModel::Legend() const
{
    std::vector<LegendLine> lines;
    const std::vector<ShownCurve>& overlays = ShownOverlays();
    const bool difference = DifferenceShown();
    if (overlays.empty() && Smoothing() == 0 && !difference && MeasurementName.empty()) {
        return lines;
    }
    const bool de = language == 'D';
    if (difference) {
        lines.push_back({LegendLine::Kind::Note, 0,
                         (de ? "Differenz zu " : "Difference to ") + CurveName({Overlays.Page(page).referenceId, 1})});
    }
    if (Smoothing() > 0) {
        lines.push_back({LegendLine::Kind::Note, 0,
                         (de ? "Gl\u00E4ttung " : "Smoothing ") + SmoothingName(Smoothing()) + (de ? " Okt." : " oct.")});
    }
    // The measurement's curves that have a point in range.
    const auto used = static_cast<std::size_t>(HasStorage() ? std::clamp(PointCount, 0, Capacity()) : 0);
    for (int curve = 1; curve <= 2; ++curve) {
        if ((curve == 1 ? Options.DrawCurve1 : Options.DrawCurve2) == 0) {
            continue;
        }
        const float* v = ShownValues(curve);
        bool any = false;
        for (std::size_t i = 0; i < used && !any; ++i) {
            any = FreqArray[i] > 0.0f && FreqArray[i] >= FreqMin && FreqArray[i] <= FreqMax && std::isfinite(v[i]);
        }
        if (any) {
            lines.push_back({LegendLine::Kind::Solid, curve == 1 ? Options.ColLine1 : Options.ColLine2,
                             CurveName({0, curve})});
        }
    }
    for (const ShownCurve& c : overlays) {
        lines.push_back({c.dashed ? LegendLine::Kind::Dashed : LegendLine::Kind::Solid, c.colour, CurveName(c.ref)});
    }
    return lines;
}

bool DiagramModel::CurveAt(int x, int y, CurveMarker& marker) const
{
    const double f = XToFreq(x);
    double best = std::numeric_limits<double>::infinity();
    const auto consider = [&](const CurveRef& ref) {
        bool second = false;
        if (!CurveShown(ref, &second)) {
            return;
        }
        const double v = ShownValueAt(ref, f);
        if (!std::isfinite(v)) {
            return;
        }
        const double row = layout.PlotRect.bottom - (v - (second ? Level2Min : LevelMin)) *
                                                       (second ? layout.LevelScale2 : layout.LevelScale1);
        const double distance = std::fabs(row - y);
        if (distance < best) {
            best = distance;
            marker = {true, ref, f};
        }
    };
    consider({0, 1});
    consider({0, 2});
    for (const ShownCurve& c : ShownOverlays()) {
        consider(c.ref);
    }
    return std::isfinite(best);
}

CurveRef DiagramModel::ChosenCurve() const
{
    if (MarkerA.set && CurveShown(MarkerA.ref)) {
        return MarkerA.ref;
    }
    for (const CurveRef ref : {CurveRef{0, 1}, CurveRef{0, 2}}) {
        if (CurveShown(ref)) {
            const auto used = static_cast<std::size_t>(std::clamp(PointCount, 0, Capacity()));
            const float* v = ShownValues(ref.curve);
            for (std::size_t i = 0; i < used; ++i) {
                if (FreqArray[i] > 0.0f && std::isfinite(v[i])) {
                    return ref;
                }
            }
        }
    }
    const std::vector<ShownCurve>& overlays = ShownOverlays();
    return overlays.empty() ? CurveRef{0, 1} : overlays.front().ref;
}

bool DiagramModel::PeakMarker(const CurveRef& ref)
{
    if (!CurveShown(ref)) {
        return false;
    }
    double peakHz = 0.0;
    double peak = 0.0;
    bool found = false;
    if (ref.overlay == 0) {
        const auto used = static_cast<std::size_t>(std::clamp(PointCount, 0, Capacity()));
        found = CurvePeak(FreqArray.data(), ShownValues(ref.curve), used, FreqMin, FreqMax, peakHz, peak);
    } else if (const ShownCurve* c = FindShown(ref)) {
        found = CurvePeak(c->freqHz.data(), c->values.data(), std::min(c->freqHz.size(), c->values.size()),
                          FreqMin, FreqMax, peakHz, peak);
    }
    if (!found) {
        return false;
    }
    MarkerA = {true, ref, peakHz, peak};
    MarkerB = {};
    return true;
}

void DiagramModel::ClearMarkers()
{
    MarkerA = {};
    MarkerB = {};
}

std::vector<std::string> DiagramModel::MarkerTexts() const
{
    std::vector<std::string> lines;
    double values[2] = {0.0, 0.0};
    bool axes[2] = {false, false};
    bool read[2] = {false, false};
    const CurveMarker* markers[2] = {&MarkerA, &MarkerB};
    for (int k = 0; k < 2; ++k) {
        const CurveMarker& m = *markers[k];
        if (!m.set || !CurveShown(m.ref, &axes[k])) {
            continue;
        }
        values[k] = std::isfinite(m.value) ? m.value : ShownValueAt(m.ref, m.freqHz);
        read[k] = true;
        lines.push_back(std::string(k == 0 ? "A  " : "B  ") + CurveName(m.ref) + ": " + FormatFixed(OuterX(m.freqHz), 1) +
                        " " + XUnit() + "  " + FormatFixed(values[k], 2) + " " + UnitOf(axes[k]));
    }
    if (read[0] && read[1]) {
        std::string line = "\u0394  " + FormatFixed(MarkerB.freqHz - MarkerA.freqHz, 1) + " " + XUnit();
        if (axes[0] == axes[1]) {
            line += "  " + FormatFixed(values[1] - values[0], 2) + " " + UnitOf(axes[0]);
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace sonvera
