#include "measure/logsweeprun.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "config/profilevalues.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"

namespace sonvera {

namespace {

const LogSweepTexts kGermanTexts{
    "Startfrequenz unter 1 Hz ! ",
    "Startfrequenz nicht unter Stoppfrequenz ! ",
    "Stoppfrequenz > Samplefrequenz/2 ! ",
    "Dauer nicht zwischen 0.5 und 60 s ! ",
    "Pegel über 0 dB ! ",
    "Samplefrequenz nicht zwischen 8000 und 192000 Hz ! ",
    "Startfrequenz nicht unter 0.45 mal Samplefrequenz ! ",
    "Band zu schmal: Stoppfrequenz unter 1.1 mal Startfrequenz ! ",
    "Kein Signal am linken Eingang ! ",
    "Kein Signal am rechten Eingang ! ",
    "Nicht genug Speicher für die Auswertung ! ",
    "Ausgabe belegt: erst Generator oder Wobbeln stoppen ! ",
    "Kein Eingabegerät ! ",
    "Log-Sweep läuft ...",
    "Log-Sweep gestoppt",
    "Verzögerung",
    "Samples",
    "Band",
    "Fenster",
    "Over",
    "Umlaufzeit",
    "Aufnahme analysieren…",
    "Aufnahme nicht lesbar: %1 ! ",
    "Keine Zeitmarke in der Aufnahme ! ",
    "Nur eine Zeitmarke in der Aufnahme ! ",
    "Aufnahme mit %1 Hz, Sweep mit %2 Hz ! ",
    "Die Aufnahme endet %1 s vor dem Sweep ! ",
    " Sweeps mit Lücken wiederholt",
};

const LogSweepTexts kEnglishTexts{
    "Start frequency below 1 Hz ! ",
    "Start frequency not below stop frequency ! ",
    "Stop frequency > sample rate/2 ! ",
    "Duration not between 0.5 and 60 s ! ",
    "Level above 0 dB ! ",
    "Sample rate not between 8000 and 192000 Hz ! ",
    "Start frequency not below 0.45 times the sample rate ! ",
    "Band too narrow: stop frequency below 1.1 times the start frequency ! ",
    "No signal at the left input ! ",
    "No signal at the right input ! ",
    "Not enough memory for the analysis ! ",
    "Output busy: stop the generator or the sweep first ! ",
    "No input device ! ",
    "Log sweep running ...",
    "Log sweep stopped",
    "Delay",
    "samples",
    "band",
    "window",
    "Over",
    "round trip",
    "Analyse recording…",
    "Cannot read the recording: %1 ! ",
    "No timing marker in the recording ! ",
    "Only one timing marker in the recording ! ",
    "Recording at %1 Hz, sweep at %2 Hz ! ",
    "The recording ends %1 s before the sweep does ! ",
    " sweeps with gaps swept again",
};

const std::string kDegreeSign = "\u00B0";
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// The axes' ranges. The left axis spans 60 dB (120 when the level needs more) from a
// top in whole 10 dB; the right axis spans the same (or twice) in dB, or 360 degrees
// (or a multiple): its labels then fall on round values whatever grid step the diagram
// chooses for the left axis.
void LevelRange(double lo, double hi, float& min, float& max)
{
    const double top = std::isfinite(hi) ? 10.0 * std::ceil((hi + 1.0) / 10.0) : 10.0;
    const double span = std::isfinite(lo) && top - lo > 60.0 ? 120.0 : 60.0;
    max = static_cast<float>(top);
    min = static_cast<float>(top - span);
}

void SecondRange(double lo, double hi, bool phase, double levelSpan, float& min, float& max)
{
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = phase ? -180.0 : -100.0;
        hi = phase ? 180.0 : -40.0;
    }
    if (phase) {
        double span = 360.0;
        while (span < hi - lo + 90.0 && span < 360.0 * 64.0) {
            span *= 2.0;
        }
        double bottom = -span / 2.0;
        if (lo < bottom || hi > bottom + span) {
            bottom = 90.0 * std::floor(lo / 90.0);
        }
        min = static_cast<float>(bottom);
        max = static_cast<float>(bottom + span);
        return;
    }
    const double top = 10.0 * std::ceil((hi + 3.0) / 10.0);
    double span = levelSpan;
    while (top - span > lo - 3.0 && span < 8.0 * levelSpan) {
        span *= 2.0;
    }
    min = static_cast<float>(top - span);
    max = static_cast<float>(top);
}

}  // namespace

const LogSweepTexts* LogSweepTextsFor(char language)
{
    if (language == 'D') {
        return &kGermanTexts;
    }
    if (language == 'E') {
        return &kEnglishTexts;
    }
    return nullptr;
}

std::string LogSweepParamText(LogSweepParamError error, const LogSweepTexts& t)
{
    switch (error) {
    case LogSweepParamError::None: return {};
    case LogSweepParamError::FromTooLow: return t.fromTooLow;
    case LogSweepParamError::FromNotBelowTo: return t.fromNotBelowTo;
    case LogSweepParamError::ToAboveHalfRate: return t.toAboveHalfRate;
    case LogSweepParamError::SecondsOutOfRange: return t.secondsOutOfRange;
    case LogSweepParamError::LevelAboveZero: return t.levelAboveZero;
    case LogSweepParamError::RateOutOfRange: return t.rateOutOfRange;
    case LogSweepParamError::FromAboveRateShare: return t.fromAboveRateShare;
    case LogSweepParamError::BandTooNarrow: return t.bandTooNarrow;
    }
    return {};
}

std::string LogSweepFileProblemText(const LogSweepFileOutcome& o, const LogSweepTexts& t)
{
    auto with = [](std::string text, const std::string& one, const std::string& two = {}) {
        if (const auto at = text.find("%1"); at != std::string::npos) {
            text.replace(at, 2, one);
        }
        if (const auto at = text.find("%2"); at != std::string::npos) {
            text.replace(at, 2, two);
        }
        return text;
    };
    switch (o.problem) {
    case LogSweepFileProblem::None: return {};
    case LogSweepFileProblem::FileUnreadable: return with(t.fileUnreadable, o.fileError);
    case LogSweepFileProblem::BadParams: return LogSweepParamText(o.paramError, t);
    case LogSweepFileProblem::NoMarker: return t.noMarker;
    case LogSweepFileProblem::OneMarker: return t.oneMarker;
    case LogSweepFileProblem::RateMismatch:
        return with(t.rateMismatch, FormatReal(o.recorderRateHz, 0), std::to_string(o.fileRateHz));
    case LogSweepFileProblem::SweepCut: return with(t.sweepCut, FormatReal(o.missingSeconds, 2));
    case LogSweepFileProblem::NoSignalLeft: return t.noSignalLeft;
    case LogSweepFileProblem::NoSignalRight: return t.noSignalRight;
    case LogSweepFileProblem::NoMemory: return t.noMemory;
    }
    return {};
}

LogSweepParams LogSweepParamsFrom(const LogSweepSettings& s, int rateHz)
{
    LogSweepParams p;
    p.fromHz = s.LogSweepFrom;
    p.toHz = s.LogSweepTo;
    p.seconds = s.LogSweepSeconds;
    p.levelDb = s.LogSweepLevel;
    p.rateHz = rateHz;
    return p;
}

LogSweepRun::LogSweepRun(SoundEngine& engine, LogSweepSettings& settings, SweepDiagram& diagram,
                         LogSweepView& view)
    : engine_(engine), settings_(settings), diagram_(diagram), view_(view), texts_(&kGermanTexts)
{
}

void LogSweepRun::SetLanguage(char language)
{
    if (const LogSweepTexts* t = LogSweepTextsFor(language)) {
        texts_ = t;
    }
}

void LogSweepRun::Fail(const std::string& text, bool deviceError, int code)
{
    running_ = false;
    signal_ = {};
    view_.SetRunning(false);
    view_.SetStatus(text);
    if (deviceError) {
        // The sweep's device error box, as the stepped sweep shows it.
        ShowErrorPrompt("ERROR at Frequency Output (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) +
                            ")",
                        kDeviceErrorHelpContext);
    } else {
        ShowWarningPrompt(text);
    }
}

bool LogSweepRun::Running() const
{
    return running_ && engine_.PlayRecordRunning();
}

bool LogSweepRun::Start()
{
    if (Running()) {
        return false;
    }
    running_ = false;
    if (engine_.PlaybackActive() || engine_.PlaybackOpen() || engine_.CaptureStarted()) {
        ShowWarningPrompt(texts_->busy);
        return false;
    }
    if (engine_.CaptureFormats() == 0) {
        ShowWarningPrompt(texts_->noInput);
        return false;
    }
    int rateIn = 0, rateOut = 0;
    engine_.GetSampleRates(rateIn, rateOut);
    const LogSweepParams params = LogSweepParamsFrom(settings_, rateOut);
    if (const LogSweepParamError e = CheckLogSweepParams(params); e != LogSweepParamError::None) {
        ShowWarningPrompt(LogSweepParamText(e, *texts_));
        return false;
    }
    engine_.SetSampleRates(rateOut, rateOut);
    design_ = DesignLogSweep(params);
    withReference_ = settings_.LogSweepWithRef;
    pointsPerOctave_ = std::clamp(settings_.LogSweepPointsPerOctave, 1, kLogSweepMaxPointsPerOctave);
    signal_ = MakeLogSweep(design_);
    // The recording also covers the delay of a device the wave layer knows (the virtual
    // card's device under test), so every delay its specification allows is measured; the
    // engine adds the measured round trip.
    recordFrames_ = design_.RecordingFrames(engine_.KnownDelayFrames());
    gapTries_ = 0;
    seconds_ = static_cast<double>(recordFrames_) / rateOut;
    running_ = true;
    started_ = std::chrono::steady_clock::now();
    view_.SetRunning(true);
    view_.SetStatus(texts_->running);
    if (const int code = engine_.StartPlayRecord(signal_, recordFrames_, [this] { Done(); }); code != 0) {
        Fail(texts_->stopped, true, code);
        return false;
    }
    return true;
}

bool LogSweepRun::AnalyseRecording(const std::string& path, LogSweepInputMode mode)
{
    if (Running()) {
        return false;
    }
    const int points = std::clamp(settings_.LogSweepPointsPerOctave, 1, kLogSweepMaxPointsPerOctave);
    gapTries_ = 0;  // a file is not swept again
    return ShowRecording(AnalyseLogSweepFile(path, LogSweepParamsFrom(settings_, 0), mode, points));
}

bool LogSweepRun::ShowRecording(LogSweepFileOutcome outcome)
{
    if (Running()) {
        return false;
    }
    if (outcome.problem != LogSweepFileProblem::None) {
        Fail(LogSweepFileProblemText(outcome, *texts_), false, 0);
        return false;
    }
    design_ = outcome.design;
    result_ = std::move(outcome.result);
    overloads_ = 0;
    hasResult_ = true;
    ShowResult();
    view_.SetRunning(false);
    view_.SetStatus(ResultLine());
    return true;
}

void LogSweepRun::Stop()
{
    if (!running_) {
        return;
    }
    // Also when a restart of the engine has ended it already: the window learns it.
    engine_.StopPlayRecord();
    running_ = false;
    signal_ = {};
    view_.SetRunning(false);
    view_.SetStatus(texts_->stopped);
}

double LogSweepRun::Progress() const
{
    if (!Running() || seconds_ <= 0.0) {
        return 0.0;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return std::clamp(elapsed / seconds_, 0.0, 1.0);
}

void LogSweepRun::Done()
{
    if (!running_) {
        return;
    }
    std::vector<float> right, left;
    int overloads = 0;
    if (!engine_.TakePlayRecording(right, left, overloads)) {
        const int code = engine_.EngineError() != 0 ? engine_.EngineError() : SoundEngine::kEngineCloseFailed;
        // A recording that lost frames is swept again, a few times.
        constexpr int kTriesAfterGaps = 3;
        if (code == SoundEngine::kEngineFramesLost && ++gapTries_ < kTriesAfterGaps &&
            engine_.StartPlayRecord(signal_, recordFrames_, [this] { Done(); }) == 0) {
            return;
        }
        Fail(code == 3 ? texts_->noMemory : texts_->stopped, code != 3, code);
        return;
    }
    overloads_ = overloads;
    LogSweepRecording recording;
    recording.right = right.data();
    recording.left = left.data();
    recording.frames = right.size();
    recording.played = signal_.data();
    LogSweepResult result = AnalyseLogSweep(design_, recording,
                                            withReference_ ? LogSweepMode::Reference : LogSweepMode::Stereo,
                                            pointsPerOctave_);
    switch (result.error) {
    case LogSweepError::None: break;
    case LogSweepError::NoSignalLeft: Fail(texts_->noSignalLeft, false, 0); return;
    case LogSweepError::NoSignalRight: Fail(texts_->noSignalRight, false, 0); return;
    case LogSweepError::NoMemory: Fail(texts_->noMemory, false, 0); return;
    }
    result_ = std::move(result);
    hasResult_ = true;
    running_ = false;
    signal_ = {};
    ShowResult();
    view_.SetRunning(false);
    view_.SetStatus(ResultLine());
}

std::string LogSweepRun::ResultLine() const
{
    return ResultLineIn(*texts_);
}

std::string LogSweepRun::ResultLineIn(const LogSweepTexts& t) const
{
    if (!hasResult_) {
        return {};
    }
    const double delay = result_.DelaySamples();
    const double rate = result_.rateHz > 0 ? result_.rateHz : 1.0;
    const LogSweepChannel& r = result_.right;
    std::string line = t.delay + " " + FormatReal(delay, 1) + " " + t.samples + " (" +
                       FormatReal(1000.0 * delay / rate, 3) + " ms), " + t.band + " " +
                       FormatReal(result_.bandLowHz, 0) + " - " + FormatReal(result_.bandHighHz, 0) + " Hz, " +
                       t.window + " " + FormatReal(1000.0 * static_cast<double>(r.windowFrames) / rate, 1) +
                       " ms";
    if (result_.mode == LogSweepMode::Stereo) {
        // Each input against the played sweep: the left input's delay is the round trip.
        const double trip = result_.left.delaySamples;
        line += ", " + t.roundTrip + " " + FormatReal(trip, 1) + " " + t.samples + " (" +
                FormatReal(1000.0 * trip / rate, 3) + " ms)";
    }
    if (overloads_ > 0) {
        line += ", " + t.overload + " " + std::to_string(overloads_);
    }
    if (gapTries_ > 0) {
        line += ", " + std::to_string(gapTries_) + t.sweptAgain;
    }
    return line;
}

void LogSweepRun::ShowResult()
{
    if (!hasResult_ || result_.freqHz.empty()) {
        return;
    }
    const LogSweepChannel& right = result_.right;
    const std::vector<double>* second = &right.phaseDeg;
    bool phase = true;
    switch (settings_.LogSweepCurve2) {
    case LogSweepCurve::Phase: break;
    case LogSweepCurve::Thd: second = &right.thdDb; phase = false; break;
    case LogSweepCurve::H2: second = &right.harmonicDb[0]; phase = false; break;
    case LogSweepCurve::H3: second = &right.harmonicDb[1]; phase = false; break;
    case LogSweepCurve::H4: second = &right.harmonicDb[2]; phase = false; break;
    case LogSweepCurve::H5: second = &right.harmonicDb[3]; phase = false; break;
    case LogSweepCurve::LeftLevel:
        // Only a stereo sweep measured the left input on its own; after a sweep with the
        // reference there is nothing to draw, and nothing else is drawn in its place.
        second = result_.mode == LogSweepMode::Stereo ? &result_.left.levelDb : nullptr;
        phase = false;
        break;
    }
    const bool drawSecond = second != nullptr;

    const std::size_t count = result_.freqHz.size();
    double lo1 = std::numeric_limits<double>::infinity(), hi1 = -lo1, lo2 = lo1, hi2 = -lo1;
    for (std::size_t i = 0; i < count; ++i) {
        lo1 = std::min(lo1, right.levelDb[i]);
        hi1 = std::max(hi1, right.levelDb[i]);
        if (drawSecond && std::isfinite((*second)[i])) {
            lo2 = std::min(lo2, (*second)[i]);
            hi2 = std::max(hi2, (*second)[i]);
        }
    }
    float levelMin = 0.0f, levelMax = 0.0f, secondMin = 0.0f, secondMax = 0.0f;
    LevelRange(lo1, hi1, levelMin, levelMax);
    SecondRange(lo2, hi2, phase, static_cast<double>(levelMax) - levelMin, secondMin, secondMax);

    diagram_.SetCurvesShown(true, drawSecond);
    diagram_.SetAxesShown(true, drawSecond);
    // The unit first: the right band is sized for the labels with their unit.
    diagram_.SetSecondAxis(phase ? kDegreeSign : std::string("dB"), phase);
    diagram_.ResetDiagramScales();
    const auto freqMin = static_cast<int>(std::floor(result_.bandLowHz));
    const auto freqMax = static_cast<int>(std::ceil(result_.bandHighHz));
    diagram_.PrepareDiagram(diagram_.GetComment(), static_cast<int>(count) - 1, freqMin, freqMax, levelMin, levelMax);
    diagram_.SetLevelRange(levelMax, levelMin);
    diagram_.SetSecondRange(secondMax, secondMin);
    for (std::size_t i = 0; i < count; ++i) {
        const float values[2] = {static_cast<float>(right.levelDb[i]),
                                 drawSecond ? static_cast<float>((*second)[i]) : kNoValue};
        diagram_.StoreDiagramPoint(values, 2, static_cast<int>(i), static_cast<float>(result_.freqHz[i]));
    }
    diagram_.SetResultLines({ResultLineIn(kGermanTexts), ResultLineIn(kEnglishTexts)},
                            texts_ == &kEnglishTexts ? 'E' : 'D');
    diagram_.Repaint();
}

}  // namespace sonvera
