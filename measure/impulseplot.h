#pragma once

#include <cstddef>
#include <vector>

#include "dsp/logsweepanalysis.h"

namespace sonvera {

/// What the impulse response window shows of a log sweep's channel: the response
/// around its window, over time in milliseconds from its peak, as amplitude relative to
/// the peak (-1 .. 1) or as level in dB relative to it (down to kFloorDb), with the
/// linear window's weights over it (0 .. 1, or their level in dB).
class ImpulsePlot {
public:
    static constexpr double kFloorDb = -120.0;

    ImpulsePlot(const LogSweepChannel& channel, int rateHz);

    bool Empty() const { return values_.empty(); }
    double StartMs() const { return startMs_; }
    double EndMs() const { return endMs_; }
    double WindowStartMs() const;
    double WindowEndMs() const;

    /// The lowest and highest value of the samples falling on each of `columns` equal
    /// slices of StartMs .. EndMs (a slice with none takes its neighbours' straight line),
    /// so a column of many samples keeps its peak and its dip.
    void Columns(int columns, bool db, std::vector<double>& low, std::vector<double>& high) const;
    /// The window's weight at time t (0 outside it), or its level in dB when `db`.
    double WindowAt(double ms, bool db) const;

private:
    double Value(std::size_t i, bool db) const;

    std::vector<float> values_;  // normalised to the peak's magnitude
    std::vector<float> window_;
    double rate_ = 1.0;
    double startMs_ = 0.0;
    double endMs_ = 0.0;
    long viewStart_ = 0;
    long windowStart_ = 0;
    long peakLag_ = 0;
};

}  // namespace sonvera
