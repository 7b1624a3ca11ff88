#pragma once
// The log sweep as a file: the sweep preceded on both channels by two identical timing
// markers a known distance apart, so that a recording of the file made by another device
// (a portable recorder, a second computer) can be found and aligned without a reference
// channel, and a recorder whose clock runs off the file's rate shows it: a time-invariant
// device passes both markers alike, so their distance in the recording is the file's
// distance times the recorder's rate over the file's, whatever the device does to them.
//
// Layout at rate R (every length a whole number of frames at the usual rates):
//   0.25 s silence, marker (50 ms), silence to 0.75 s, marker, silence to 1.25 s,
//   the sweep with its silent tail (MakeLogSweep), 0.5 s silence.
//
// The marker is a linear chirp from 500 Hz to 3500 Hz, the same in seconds at every rate
// from 8000 Hz on, with 5 ms raised-cosine fades, at the sweep's amplitude. It is found by
// correlating with it and its quadrature (so a device's phase shift does not hide it),
// normalised by the local energy, and placed to a fraction of a frame by a parabola
// through the peak of the correlation's envelope.

#include <cstddef>
#include <vector>

#include "dsp/logsweep.h"

namespace sonvera {

inline constexpr double kMarkerSeconds = 0.05;
inline constexpr double kMarkerLowHz = 500.0;
inline constexpr double kMarkerHighHz = 3500.0;
inline constexpr double kMarkerFadeSeconds = 0.005;
inline constexpr double kMarkerFirstSeconds = 0.25;    // start of the first marker
inline constexpr double kMarkerSpacingSeconds = 0.5;   // start to start
inline constexpr double kMarkerSweepSeconds = 1.25;    // start of the sweep
inline constexpr double kMarkerTrailSeconds = 0.5;     // silence after the sweep's tail
/// A marker is taken as found where its normalised correlation reaches this.
inline constexpr double kMarkerMinScore = 0.5;

/// Where the parts of the file lie, in frames at the design's rate.
struct MarkedSweepLayout {
    std::size_t markerFrames = 0;
    std::size_t firstMarker = 0;
    std::size_t secondMarker = 0;
    std::size_t sweepStart = 0;
    std::size_t totalFrames = 0;
    std::size_t Spacing() const { return secondMarker - firstMarker; }
};

MarkedSweepLayout LayOutMarkedSweep(const LogSweepDesign& design);

/// One marker at `rateHz` (any real rate, for looking for a file played at another
/// rate), peak `amplitude`; `quadrature` gives its companion shifted by 90 degrees.
std::vector<float> MakeTimingMarker(double rateHz, double amplitude, bool quadrature = false);

/// The whole file's samples, one channel (the file carries them on both).
std::vector<float> MakeMarkedLogSweep(const LogSweepDesign& design);

/// The markers found in a recording.
struct MarkerSearch {
    bool found = false;        // both markers, their distance within the tolerance
    bool foundOne = false;     // at least one marker stands out
    double first = 0.0;        // position of the first marker's start, fractional frames
    double second = 0.0;
    double score = 0.0;        // the weaker marker's normalised correlation, 0 .. 1
};

/// Looks for the marker pair in `frames` frames of `samples` (every `stride`-th value,
/// for interleaved channels), the markers made at `markerRateHz` and expected
/// `spacingFrames` apart within a relative `tolerance`.
MarkerSearch FindTimingMarkers(const float* samples, std::size_t frames, std::size_t stride, double markerRateHz,
                               double spacingFrames, double tolerance);

/// The recording on another time base: y[m] = x(m * ratio) for every m with m * ratio
/// within the recording, interpolated with a Kaiser-windowed sinc of 96 taps (a sine at
/// 0.46 of the rate keeps its level within 0.002 dB at a ratio of 1.001; the cut-off is
/// lowered by 1 / ratio when ratio > 1, so nothing folds).
std::vector<float> ResampleByRatio(const float* samples, std::size_t frames, std::size_t stride, double ratio);

}  // namespace sonvera
