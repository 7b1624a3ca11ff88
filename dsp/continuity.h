#pragma once
// Whether a recording of a known signal runs on without a step: frames lost or inserted
// on the way from the output to the input (by a driver or a sound server that reports
// nothing) turn the signal's phase, or its level, at one instant. Smooth changes (a
// clock offset between the two devices, a tape's flutter, a filter settling, the
// response of a device along a sweep) are no step.

#include <cstddef>

namespace sonvera {

struct Continuity {
    /// The signal stood out of the recording clearly enough, in enough segments, to be
    /// judged.
    bool checked = false;
    /// A step in phase or level beyond what the segments' own scatter explains.
    bool gap = false;
    /// Frame (per channel, of the recording) near which the largest step lies; -1
    /// without a gap.
    long frame = -1;
};

/// Fits the tone of freqHz in short segments of samples[0], samples[stride], ... (count
/// values of one channel) and looks for a step between neighbouring segments, judged
/// against the robust scatter of all of them and against the noise each fit leaves. A
/// block in which the tone does not stand out, or that holds too few periods for
/// several segments, is not judged (checked false, gap false).
Continuity CheckToneContinuity(const float* samples, int count, int stride, double freqHz, double rateHz);

/// The same for a recording (`frames` frames of one channel, every `stride`-th value) of
/// a played sweep or other signal whose frequency changes slowly (`played`,
/// `playedFrames` values): the recording is lined up with the played signal at their
/// cross-correlation's peak and fitted against it in segments of at least two periods
/// of the frequency playing. Not judged when the signal does not stand out of the
/// recording or the transforms cannot be had.
Continuity CheckSweepContinuity(const float* played, std::size_t playedFrames, const float* recorded,
                                std::size_t frames, int stride, double rateHz);

}  // namespace sonvera
