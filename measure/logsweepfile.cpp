#include "measure/logsweepfile.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/timingmarker.h"
#include "platform/wavefileinput.h"

namespace sonvera {

namespace {

// The markers' distance may differ this much from the file's before they are taken as
// two unrelated signals; it holds every corrected deviation with room to spare.
constexpr double kSpacingTolerance = 0.02;
// A deviation below this (a twentieth of a frame over the markers' distance at 48 kHz)
// is within the markers' own precision: the recording is left as it is.
constexpr double kNegligibleDeviation = 2e-6;
// The rates a file may have been made at, tried when the file's own finds no markers.
constexpr int kOtherRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

void ShiftLags(LogSweepChannel& c, long frames)
{
    c.delaySamples += static_cast<double>(frames);
    c.windowStart += frames;
    c.peakLag += frames;
    c.viewStart += frames;
}

/// The markers on the channels measured: the surer of the finds.
MarkerSearch SearchChannels(const std::vector<float>& samples, std::size_t frames, bool bothChannels,
                            double markerRate, double spacing)
{
    MarkerSearch best;
    for (std::size_t c = 0; c < (bothChannels ? 2u : 1u); ++c) {
        const MarkerSearch s = FindTimingMarkers(samples.data() + c, frames, 2, markerRate, spacing, kSpacingTolerance);
        if ((s.found && (!best.found || s.score > best.score)) || (!best.found && s.foundOne && !best.foundOne)) {
            best = s;
        }
    }
    return best;
}

}  // namespace

LogSweepFileOutcome AnalyseLogSweepFile(const std::string& path, LogSweepParams params, LogSweepInputMode mode,
                                        int pointsPerOctave)
{
    LogSweepFileOutcome out;
    out.mode = mode;
    WaveFileInput input;
    if (std::string error = input.Load(path); !error.empty()) {
        out.problem = LogSweepFileProblem::FileUnreadable;
        out.fileError = std::move(error);
        return out;
    }
    const int rate = input.Rate();
    out.fileRateHz = rate;
    params.rateHz = rate;
    if (const LogSweepParamError e = CheckLogSweepParams(params); e != LogSweepParamError::None) {
        out.problem = LogSweepFileProblem::BadParams;
        out.paramError = e;
        out.design.params = params;
        return out;
    }
    out.design = DesignLogSweep(params);
    const LogSweepDesign& design = out.design;
    const MarkedSweepLayout layout = LayOutMarkedSweep(design);
    const std::vector<float>& samples = input.Samples();  // interleaved left, right
    const std::size_t frames = samples.size() / 2;
    // A file of one channel (or two equal ones) holds no reference and one measurement.
    bool equal = true;
    for (std::size_t i = 0; i < frames && equal; ++i) {
        equal = samples[2 * i] == samples[2 * i + 1];
    }
    if (equal) {
        mode = LogSweepInputMode::Mono;
        out.mode = mode;
    }
    const bool both = mode == LogSweepInputMode::Stereo;
    const auto spacing = static_cast<double>(layout.Spacing());

    const MarkerSearch markers = SearchChannels(samples, frames, both, rate, spacing);
    double ratio = 1.0;
    if (markers.found) {
        out.markersFound = true;
        ratio = (markers.second - markers.first) / spacing;
    } else if (mode != LogSweepInputMode::Reference) {
        // Markers made at another rate name the rate the recording's samples run at.
        for (const int other : kOtherRates) {
            if (other == rate) {
                continue;
            }
            const double otherSpacing = std::round(kMarkerSpacingSeconds * other);
            const MarkerSearch s = SearchChannels(samples, frames, both, other, otherSpacing);
            if (s.found) {
                out.recorderRateHz = rate * (s.second - s.first) / spacing;
                out.problem = LogSweepFileProblem::RateMismatch;
                return out;
            }
        }
        out.problem = markers.foundOne ? LogSweepFileProblem::OneMarker : LogSweepFileProblem::NoMarker;
        return out;
    }
    out.recorderRateHz = rate * ratio;
    if (std::fabs(ratio - 1.0) > kLogSweepMaxRateDeviation) {
        out.problem = LogSweepFileProblem::RateMismatch;
        return out;
    }

    // The channels on the file's time base.
    std::vector<float> left, right;
    double first = markers.first;
    if (std::fabs(ratio - 1.0) > kNegligibleDeviation) {
        left = ResampleByRatio(samples.data(), frames, 2, ratio);
        right = ResampleByRatio(samples.data() + 1, frames, 2, ratio);
        first /= ratio;
        out.rateCorrected = true;
    } else {
        left.resize(frames);
        right.resize(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] = samples[2 * i];
            right[i] = samples[2 * i + 1];
        }
    }
    out.markerFrame = markers.first;

    // The sweep as the analysis takes a played one: from the moment it went out.
    std::size_t cut = 0;
    if (out.markersFound) {
        out.offsetFrames = std::lround(first - static_cast<double>(layout.firstMarker));
        cut = static_cast<std::size_t>(static_cast<long>(layout.sweepStart) + out.offsetFrames);
    }
    if (cut + design.sweepFrames > left.size()) {
        out.problem = LogSweepFileProblem::SweepCut;
        out.missingSeconds = static_cast<double>(cut + design.sweepFrames - left.size()) / rate;
        return out;
    }
    const std::size_t recordFrames = design.RecordingFrames(0);
    auto piece = [&](const std::vector<float>& channel) {
        std::vector<float> p(recordFrames, 0.0f);
        const std::size_t n = std::min(recordFrames, channel.size() - cut);
        std::copy_n(channel.begin() + static_cast<std::ptrdiff_t>(cut), n, p.begin());
        return p;
    };
    std::vector<float> recLeft = piece(left);
    std::vector<float> recRight = piece(right);
    std::vector<float> played = MakeLogSweep(design);

    LogSweepRecording recording;
    recording.frames = recordFrames;
    LogSweepMode analysed = LogSweepMode::Reference;
    switch (mode) {
    case LogSweepInputMode::Reference:
        recording.left = recLeft.data();
        recording.right = recRight.data();
        break;
    case LogSweepInputMode::Stereo:
        recording.left = recLeft.data();
        recording.right = recRight.data();
        analysed = LogSweepMode::Stereo;
        break;
    case LogSweepInputMode::Mono:
        // Against the sweep itself as the reference.
        played.resize(recordFrames, 0.0f);
        recording.left = played.data();
        recording.right = recLeft.data();
        break;
    }
    recording.played = played.data();
    out.result = AnalyseLogSweep(design, recording, analysed, pointsPerOctave);
    switch (out.result.error) {
    case LogSweepError::None: break;
    case LogSweepError::NoSignalLeft: out.problem = LogSweepFileProblem::NoSignalLeft; return out;
    case LogSweepError::NoSignalRight:
        out.problem = mode == LogSweepInputMode::Mono ? LogSweepFileProblem::NoSignalLeft
                                                      : LogSweepFileProblem::NoSignalRight;
        return out;
    case LogSweepError::NoMemory: out.problem = LogSweepFileProblem::NoMemory; return out;
    }
    if (mode != LogSweepInputMode::Reference) {
        ShiftLags(out.result.right, out.offsetFrames);
        if (mode == LogSweepInputMode::Stereo) {
            ShiftLags(out.result.left, out.offsetFrames);
        }
    }
    return out;
}

}  // namespace sonvera
