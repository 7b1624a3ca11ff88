#include "scope/scopemodel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "config/numberformat.h"

namespace sonvera {

namespace {

// Nearest integer with halves to even, limited to [lo, hi] so that far-off values
// (and NaN, which goes to lo) never overflow the conversion.
long NearestClamped(double v, long lo, long hi)
{
    if (std::isnan(v) || v <= static_cast<double>(lo)) {
        return lo;
    }
    if (v >= static_cast<double>(hi)) {
        return hi;
    }
    return std::lrint(v);
}

// Pixel values never leave this range; keeps the arithmetic in `long` safe.
constexpr long kPixelLimit = 1L << 24;

}  // namespace

ScopeModel::ScopeModel()
{
    PrepareScope("", 512, false, 0.0f, 10.0f, 0.0f, 8.0f);
}

bool ScopeModel::PrepareScope(const std::string& caption, int points, bool xLog, float xMin,
                              float xMax, float yMin, float yMax)
{
    caption_ = caption.substr(0, 255);
    ch1_.clear();
    ch2_.clear();
    time_.clear();
    arraysExist_ = false;
    lastIndex_ = points - 1;
    bool fault = false;
    if (points <= 0) {
        // No storage for a trace: nothing is drawn and every store is refused.
        fault = true;
        lastIndex_ = -1;
    } else {
        try {
            const auto n = static_cast<std::size_t>(points);
            ch1_.assign(n, 0.0f);
            ch2_.assign(n, 0.0f);
            time_.assign(n, 0.0f);
            arraysExist_ = true;
        } catch (const std::bad_alloc&) {
            std::exit(1);
        } catch (const std::length_error&) {
            std::exit(1);
        }
    }
    if (yMax_ == kRangeUnset && yMin_ == kRangeUnset) {
        yMax_ = yMax;
        yMin_ = yMin;
    }
    xMin_ = xMin;
    xMax_ = xMax;
    xLog_ = xLog;
    LayoutScope(clientWidth_, clientHeight_);
    return fault;
}

bool ScopeModel::StoreScopePoint(int i, bool trigCh1, float voltsDiv2, float voltsDiv1, float x,
                                 float ch2, float ch1)
{
    if (arraysExist_) {
        if (i < 0 || i > lastIndex_) {
            return true;
        }
        const auto k = static_cast<std::size_t>(i);
        ch1_[k] = ch1;
        ch2_[k] = ch2;
        time_[k] = x;
    }
    voltsDiv1_ = voltsDiv1;
    voltsDiv2_ = voltsDiv2;
    useCh1Volts_ = trigCh1;
    return false;
}

void ScopeModel::LayoutScope(int clientWidth, int clientHeight)
{
    clientWidth_ = clientWidth;
    clientHeight_ = clientHeight;
    band_ = ScopeRect{0, 0, clientWidth, kBandHeight};
    screen_ = ScopeRect{0, kBandHeight, clientWidth, clientHeight};
    const float width = static_cast<float>(screen_.Width());
    const float height = static_cast<float>(screen_.Height());
    logScale_ = 1.0f;
    if (xMin_ != 0.0f) {
        const float span = std::log(xMax_ / xMin_);
        if (std::isfinite(span) && span != 0.0f) {
            logScale_ = width / span;
        }
    }
    if (yMax_ != yMin_) {
        yScale_ = height / (yMax_ - yMin_);
    }
    if (xMax_ != xMin_) {
        xScale_ = width / (xMax_ - xMin_);
    }
}

int ScopeModel::MapX(float t) const
{
    const long left = screen_.left;
    const long right = screen_.right;
    long x = right;
    if (!xLog_) {
        x = left + NearestClamped(static_cast<double>(t) * xScale_, -kPixelLimit, kPixelLimit);
    } else if (xMin_ != 0.0f && t != 0.0f) {
        const double ratio = static_cast<double>(t) / xMin_;
        // A ratio at or below 0 has no logarithm: such a point sits at the left edge.
        const double lx = ratio > 0.0 ? std::log(ratio) * logScale_ : -static_cast<double>(kPixelLimit);
        x = left + NearestClamped(lx, -kPixelLimit, kPixelLimit);
    }
    if (x < left) {
        x = left;
    }
    if (x > right) {
        x = right;
    }
    return static_cast<int>(x);
}

int ScopeModel::MapY(float v) const
{
    const long top = screen_.top;
    const long bottom = screen_.bottom;
    const double d = (static_cast<double>(v) - yMin_) * yScale_;
    const long y = bottom - NearestClamped(std::isnan(d) ? -1.0 : d, -kPixelLimit, kPixelLimit);
    if (y > bottom) {
        return static_cast<int>(bottom + 3);
    }
    if (y < top) {
        return static_cast<int>(top - 3);
    }
    return static_cast<int>(y);
}

int ScopeModel::GridX(int i) const
{
    return screen_.left + static_cast<int>(std::lrint(i * screen_.Width() * 0.1));
}

int ScopeModel::GridY(int j) const
{
    return screen_.top + static_cast<int>(std::lrint(j * static_cast<double>(yScale_)));
}

bool ScopeModel::HasTrace() const
{
    return arraysExist_ && lastIndex_ != 0 && yMax_ != yMin_;
}

void ScopeModel::LeftButtonDown(int x)
{
    // A new measurement: a kept one's lines and reading go.
    if (x2_ >= 0) {
        label1_ = kTimeIdle;
    }
    x1_ = x;
    x2_ = -1;
}

void ScopeModel::RightButtonDown(int y)
{
    if (y2_ >= 0) {
        label2_ = kVoltIdle;
    }
    y1_ = y;
    y2_ = -1;
}

void ScopeModel::MouseMove(int x, int y, bool leftHeld, bool rightHeld)
{
    if (leftHeld && x1_ > 0) {
        x2_ = x;
        if (xScale_ == 0.0f) {
            return;
        }
        const double dtMs = std::abs(x - x1_) / static_cast<double>(xScale_) * 1000.0;
        if (dtMs == 0.0) {
            return;  // also skips the voltage part: the readouts keep their text
        }
        label1_ = FormatFixed(dtMs, 3) + "ms / " + FormatFixed(1.0 / dtMs, 3) + "kHz";
    }
    if (rightHeld && y1_ > 0) {
        y2_ = y;
        if (yScale_ == 0.0f) {
            return;
        }
        const double voltsDiv = useCh1Volts_ ? voltsDiv1_ : voltsDiv2_;
        const double duMv = std::abs(y - y1_) / static_cast<double>(yScale_) * (voltsDiv * 1000.0);
        if (duMv == 0.0) {
            return;
        }
        label2_ = FormatFixed(duMv, 3) + "mV";
    }
}

void ScopeModel::LeftButtonUp()
{
    // The lines and the reading stay until the next click, so the value can be read
    // and written down; a click without a drag leaves nothing.
    if (x2_ < 0) {
        x1_ = -1;
    }
}

void ScopeModel::RightButtonUp()
{
    if (y2_ < 0) {
        y1_ = -1;
    }
}

void ScopeModel::ClearCursors()
{
    x1_ = x2_ = y1_ = y2_ = -1;
    label1_ = kTimeIdle;
    label2_ = kVoltIdle;
}

void ScopeModel::SetTriggerMark(bool channel1, float divisions)
{
    triggerShown_ = true;
    triggerCh1_ = channel1;
    triggerLevel_ = divisions;
}

void ScopeModel::ToggleIllumination()
{
    background_ = background_ == kBackground ? kBackgroundIllum : kBackground;
}

ScopePlacement PlaceScopeBeside(const ScopeRect& mainFrame, int viewWidth, const ScopeRect& screen)
{
    ScopePlacement p;
    p.mainLeft = mainFrame.left;
    const int needed = screen.left + viewWidth + 1;
    if (p.mainLeft < needed) {
        const int rightmost = std::max(mainFrame.left, screen.right - mainFrame.Width());
        p.mainLeft = std::min(needed, rightmost);
        p.mainMoved = p.mainLeft != mainFrame.left;
    }
    p.view.right = p.mainLeft - 1;
    p.view.left = std::max(p.view.right - viewWidth, screen.left);
    p.view.right = p.view.left + viewWidth;
    p.view.top = mainFrame.top;
    p.view.bottom = mainFrame.bottom;
    return p;
}

}  // namespace sonvera
