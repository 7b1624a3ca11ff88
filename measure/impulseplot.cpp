#include "measure/impulseplot.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sonvera {

ImpulsePlot::ImpulsePlot(const LogSweepChannel& c, int rateHz)
    : window_(c.window),
      rate_(rateHz > 0 ? rateHz : 1),
      viewStart_(c.viewStart),
      windowStart_(c.windowStart),
      peakLag_(c.peakLag)
{
    float peak = 0.0f;
    for (const float v : c.view) {
        peak = std::max(peak, std::fabs(v));
    }
    if (!(peak > 0.0f) || c.view.size() < 2) {
        return;
    }
    values_.reserve(c.view.size());
    for (const float v : c.view) {
        values_.push_back(v / peak);
    }
    startMs_ = 1000.0 * static_cast<double>(viewStart_ - peakLag_) / rate_;
    endMs_ = 1000.0 * static_cast<double>(viewStart_ + static_cast<long>(values_.size()) - 1 - peakLag_) / rate_;
}

double ImpulsePlot::WindowStartMs() const
{
    return 1000.0 * static_cast<double>(windowStart_ - peakLag_) / rate_;
}

double ImpulsePlot::WindowEndMs() const
{
    return 1000.0 * static_cast<double>(windowStart_ + static_cast<long>(window_.size()) - 1 - peakLag_) / rate_;
}

double ImpulsePlot::Value(std::size_t i, bool db) const
{
    const double v = values_[i];
    if (!db) {
        return v;
    }
    return std::max(kFloorDb, 20.0 * std::log10(std::max(std::fabs(v), 1e-300)));
}

void ImpulsePlot::Columns(int columns, bool db, std::vector<double>& low, std::vector<double>& high) const
{
    const auto n = static_cast<std::size_t>(std::max(columns, 0));
    low.assign(n, std::numeric_limits<double>::quiet_NaN());
    high.assign(n, std::numeric_limits<double>::quiet_NaN());
    if (values_.empty() || n == 0) {
        return;
    }
    const double perColumn = static_cast<double>(values_.size() - 1) / static_cast<double>(n);
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const auto k = std::min(n - 1, static_cast<std::size_t>(static_cast<double>(i) / perColumn));
        const double v = Value(i, db);
        low[k] = std::isnan(low[k]) ? v : std::min(low[k], v);
        high[k] = std::isnan(high[k]) ? v : std::max(high[k], v);
    }
    // Columns between two samples (a short response on a wide window) take the straight
    // line between them.
    for (std::size_t k = 0; k < n; ++k) {
        if (std::isnan(low[k])) {
            const double at = static_cast<double>(k) * perColumn;
            const auto i = std::min(values_.size() - 2, static_cast<std::size_t>(at));
            const double share = at - static_cast<double>(i);
            low[k] = high[k] = Value(i, db) + (Value(i + 1, db) - Value(i, db)) * share;
        }
    }
}

double ImpulsePlot::WindowAt(double ms, bool db) const
{
    const double lag = ms * rate_ / 1000.0 + static_cast<double>(peakLag_ - windowStart_);
    double w = 0.0;
    if (lag >= 0.0 && !window_.empty() && lag <= static_cast<double>(window_.size() - 1)) {
        const auto i = std::min(window_.size() - 1, static_cast<std::size_t>(lag));
        const auto j = std::min(window_.size() - 1, i + 1);
        w = window_[i] + (window_[j] - window_[i]) * (lag - static_cast<double>(i));
    }
    if (!db) {
        return w;
    }
    return w > 0.0 ? std::max(kFloorDb, 20.0 * std::log10(w)) : kFloorDb;
}

}  // namespace sonvera
