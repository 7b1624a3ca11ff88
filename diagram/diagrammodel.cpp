#include "diagram/diagrammodel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "diagram/diagramscale.h"

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

}  // namespace

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
        FreqArray.assign(MaxDiagramPoints, 0.0f);
        Curve1Array.assign(MaxDiagramPoints, 0.0f);
        Curve2Array.assign(MaxDiagramPoints, 0.0f);
        PolylineBuffer.assign(kPolylineCapacity, PixelPoint{});
        slotColumn.assign(MaxDiagramPoints, 0);
        slotColumnFreq.assign(MaxDiagramPoints, std::numeric_limits<float>::quiet_NaN());
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
    if (LevelMax == kUnset && LevelMin == kUnset) {
        LevelMax = levelMaxIo;
        LevelMin = levelMinIo;
        if (Axis1Shown && !Axis2Shown) {
            Level2Max = LevelMax;
            Level2Min = LevelMin;
        }
    }
    levelMaxIo = LevelMax;
    levelMinIo = LevelMin;
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
    PointCount = lastIndex + 1;
    return !LayoutScreen(true);
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
    ClearDiagramData();
}

bool DiagramModel::StoreDiagramPoint(const float* values, int mode, int index, float freqHz)
{
    if (!HasStorage() || values == nullptr || index < 0 || index >= MaxDiagramPoints) {
        return true;
    }
    const auto i = static_cast<std::size_t>(index);
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
    LevelMax = max;
    LevelMin = min;
    LayoutScreen(false);
}

void DiagramModel::SetSecondRange(float max, float min)
{
    Level2Max = max;
    Level2Min = min;
    LayoutScreen(false);
}

void DiagramModel::GetLevelRange(float& min, float& max) const
{
    min = LevelMin;
    max = LevelMax;
}

void DiagramModel::GetFreqRange(int& min, int& max) const
{
    min = FreqMin;
    max = FreqMax;
}

std::string DiagramModel::GetComment() const
{
    return CutUtf8(comment, 255);
}

DiagramResult DiagramModel::KeepResult() const
{
    DiagramResult r;
    const auto used = static_cast<std::size_t>(std::clamp(PointCount, 0, HasStorage() ? MaxDiagramPoints : 0));
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
    r.resultGerman = resultGerman;
    r.resultEnglish = resultEnglish;
    return r;
}

void DiagramModel::ShowResult(const DiagramResult& r)
{
    if (!HasStorage()) {
        return;
    }
    ClearDiagramData();
    const std::size_t n = std::min({r.freq.size(), r.curve1.size(), r.curve2.size(), FreqArray.size()});
    std::copy_n(r.freq.begin(), n, FreqArray.begin());
    std::copy_n(r.curve1.begin(), n, Curve1Array.begin());
    std::copy_n(r.curve2.begin(), n, Curve2Array.begin());
    PointCount = std::clamp(r.PointCount, 0, MaxDiagramPoints);
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
        if (r != 1.0) {
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
    if (Options.XLog) {
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
    if (Options.XLog) {
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
    if (Options.XLog) {
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
        if (v >= 1000) {
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

int DiagramModel::CollectCurve(int curve)
{
    if (!HasStorage()) {
        return 0;
    }
    const int used = std::clamp(PointCount, 0, MaxDiagramPoints);
    int l = -1;
    for (int i = 0; i < used; ++i) {
        if (FreqArray[static_cast<std::size_t>(i)] > FreqMin) {
            l = std::max(i - 1, 0);
            break;
        }
    }
    if (l < 0) {
        return 0;
    }
    // The last used slot; slots behind it may still hold an older, longer measurement.
    int m = used - 1;
    while (m >= 0 && FreqArray[static_cast<std::size_t>(m)] > FreqMax) {
        --m;
    }
    if (m < l) {
        return 0;
    }
    const DiagramRect& p = layout.PlotRect;
    const ColumnScale scale{FreqMin, FreqMax, p.left, p.right, layout.LogScale, layout.LinScale,
                            Options.XLog != 0};
    if (!(scale == columnScale)) {
        std::fill(slotColumnFreq.begin(), slotColumnFreq.end(), std::numeric_limits<float>::quiet_NaN());
        columnScale = scale;
    }

    const float* const values = (curve == 2 ? Curve2Array : Curve1Array).data();
    const float* const freqs = FreqArray.data();
    const float* const cachedFreqs = slotColumnFreq.data();
    const std::int32_t* const cachedColumns = slotColumn.data();
    PixelPoint* const out = PolylineBuffer.data();
    // As LevelToY1 and LevelToY2, with the plot's edges held here.
    const double levelMin = curve == 2 ? Level2Min : LevelMin;
    const double levelScale = curve == 2 ? layout.LevelScale2 : layout.LevelScale1;
    const int top = p.top;
    const int bottom = p.bottom;
    const int o = layout.CharHeight / 8;
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
        const float f = freqs[i];
        const int x = cachedFreqs[i] == f ? cachedColumns[i] : SlotColumn(i);
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

std::string DiagramModel::DiagramText(const std::string& separator) const
{
    std::string sep = separator;
    if (separator == "\\t") {
        sep = "\t";
    } else if (separator == "\\n") {
        sep = "\r\n";
    }
    std::string text;
    std::string line;
    const int used = HasStorage() ? std::clamp(PointCount, 0, MaxDiagramPoints) : 0;
    for (int i = 0; i < used; ++i) {
        const auto s = static_cast<std::size_t>(i);
        const float f = FreqArray[s];
        if (!(FreqMin <= f && f <= FreqMax)) {
            continue;
        }
        // A point without any shown value (a sweep step without a reference) has no line.
        const bool value1 = Options.DrawCurve1 && !std::isnan(Curve1Array[s]);
        const bool value2 = Options.DrawCurve2 && !std::isnan(Curve2Array[s]);
        if ((Options.DrawCurve1 || Options.DrawCurve2) && !value1 && !value2) {
            continue;
        }
        line = FormatFixed(f, 2);
        if (Options.DrawCurve1) {
            line += sep;
            line += FormatFixed(Curve1Array[s], 2);
        }
        if (Options.DrawCurve2) {
            double v = Curve2Array[s];
            if (WrapCurve2OnExport && std::isfinite(v)) {
                v = std::remainder(v, 360.0);
                v = v == -180.0 ? 180.0 : v;
            }
            line += sep;
            line += FormatFixed(v, 2);
        }
        line += "\r\n";
        text += line;
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
        startColumn = x;
        startRow = y;
        const std::string freqText = FormatFixed(XToFreq(x), 0);
        if (layout.LevelScale1 == 0.0) {
            return false;
        }
        const std::string levelText = FormatFixed(YToLevel(y), 1);
        PointReadout = CutUtf8(freqText + "Hz/" + levelText + "dB", kReadoutMax);
        CursorMode = 4;
    }
    return true;
}

void DiagramModel::MouseUp(MouseButton button)
{
    if (button == MouseButton::Left) {
        if (MeasureActive) {
            ResetCursor(false);
        }
        MeasureActive = !MeasureActive;
    } else if (button == MouseButton::Right) {
        ResetCursor(true);
    }
}

bool DiagramModel::MouseMove(int x, int y)
{
    mouseX = x;
    mouseY = y;
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
            FreqReadout = CutUtf8(FormatFixed(f1, 0) + "Hz", kReadoutMax);
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
    FreqMin = opts.FreqMin;
    FreqMax = opts.FreqMax;
    LevelMin = opts.LevelMin;
    LevelMax = opts.LevelMax;
    if (Axis1Shown && !Axis2Shown) {
        Level2Max = LevelMax;
        Level2Min = LevelMin;
    }
    return LayoutScreen(false);
}

}  // namespace sonvera
