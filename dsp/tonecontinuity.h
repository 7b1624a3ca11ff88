#pragma once
// Whether a recorded tone of known frequency runs on without a step: frames lost or
// inserted on the way from the output to the input (by a driver or a sound server that
// reports nothing) turn the tone's phase, or its level, at one instant. Smooth changes
// (a clock offset between the two devices, a tape's flutter, a filter settling) are no
// step.

namespace sonvera {

struct ToneContinuity {
    /// The tone stood out of the block clearly enough, in enough segments, to be judged.
    bool checked = false;
    /// A step in phase or level beyond what the segments' own scatter explains.
    bool gap = false;
    /// Frame (per channel) near which the largest step lies; -1 without a gap.
    int frame = -1;
};

/// Fits the tone of freqHz in short segments of samples[0], samples[stride], ... (count
/// values of one channel) and looks for a step between neighbouring segments, judged
/// against the robust scatter of all of them and against the noise each fit leaves. A
/// block in which the tone does not stand out, or that holds too few periods for
/// several segments, is not judged (checked false, gap false).
ToneContinuity CheckToneContinuity(const float* samples, int count, int stride, double freqHz, double rateHz);

}  // namespace sonvera
