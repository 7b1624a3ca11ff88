#include "measure/sweeprun.h"

#include "measure/levelsweep.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <span>
#include <vector>

#include "config/profilevalues.h"
#include "dsp/analysis.h"
#include "dsp/distortion.h"
#include "dsp/generator.h"
#include "dsp/generatorparams.h"
#include "dsp/sinefit.h"
#include "dsp/window.h"
#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "measure/spectrumrun.h"

namespace sonvera {

namespace {

const SweepTexts kGermanTexts{"Ausgabefreq. > Samplefrequenz/2 ! Wobbeln stoppt ", "Eingang ohne Signal bei ", " von ",
                               " Schritten", "Grenzwerte: ", " von ", " Punkten"};
const SweepTexts kEnglishTexts{"Outfreq. > Samplefreq./2 ! Stop Wobbling ", "Input without signal at ", " of ",
                               " steps", "limits: ", " of ", " points"};

constexpr float kSilentLevelDb = static_cast<float>(kZeroMagnitudeDb);
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

const std::string kDegreeSign = "\u00B0";

// Curve 2's axis while it shows a distortion reading, dB re the fundamental.
constexpr float kDistortionAxisMax = 0.0f;
constexpr float kDistortionAxisMin = -125.0f;  // 5 dB a division on the default grid

}  // namespace

const std::array<const char*, kSweepDistortionReadings> kSweepDistortionNames = {"thd_db", "thdn_db", "h2_db",
                                                                                  "h3_db",  "h4_db",   "h5_db"};

const SweepTexts* SweepTextsFor(char language)
{
    if (language == 'D') {
        return &kGermanTexts;
    }
    if (language == 'E') {
        return &kEnglishTexts;
    }
    return nullptr;
}

int SweepStepFrequency(const SweepSettings& sweep, int index)
{
    double f = 0.0;
    if (sweep.SweepLinear) {
        if (sweep.SweepSteps == 0) {
            f = sweep.SweepFrom;
        } else {
            f = static_cast<double>(sweep.SweepTo - static_cast<double>(sweep.SweepFrom)) / sweep.SweepSteps * index +
                sweep.SweepFrom;
        }
    } else if (sweep.SweepSteps == 0 || sweep.SweepFrom == 0) {
        f = 333.0;
    } else {
        f = std::exp(std::log(static_cast<double>(sweep.SweepFrom)) +
                     index * std::log(static_cast<double>(sweep.SweepTo) / sweep.SweepFrom) / sweep.SweepSteps);
    }
    f = RoundHalfEven(f);
    if (!std::isfinite(f) || f > 2147483647.0 || f < -2147483648.0) {
        return -1;
    }
    return static_cast<int>(f);
}

int SweepFramesFor(int rateHz, int bytesPerSample)
{
    if (rateHz <= 0) {
        return 0;
    }
    const long long r = rateHz;
    const long long b = std::max(1, bytesPerSample);
    const long long ms = std::min(65520000LL / (r * b * 2), 65520000LL / (r * 8));
    return static_cast<int>(ms * r / 1000);
}

int SweepDistortionFrames(int rateHz, int freqHz)
{
    if (rateHz <= 0 || freqHz <= 0) {
        return 0;
    }
    constexpr int kMostFrames = 1 << 18;
    const double wanted = std::max(rateHz / 3.0, 20.0 * rateHz / freqHz);
    int n = 2;
    while (n < kMostFrames && n < wanted) {
        n *= 2;
    }
    return n;
}

bool SweepShowsDistortion(const SweepSettings& sweep)
{
    return sweep.SweepWithRef && sweep.SweepPhase && sweep.SweepCurve2 >= kSweepCurve2Thd;
}

int SweepStepFrames(int rateHz, int bytesPerSample, int freqHz, bool distortion)
{
    const int frames = SweepFramesFor(rateHz, bytesPerSample);
    return distortion && frames > 0 ? std::max(frames, SweepDistortionFrames(rateHz, freqHz)) : frames;
}

SweepDistortion MeasureSweepDistortion(const float* block, int frames, int offset, int freqHz, int rateHz,
                                       SpectrumTransform& transform)
{
    SweepDistortion out = SweepPoint::NoDistortion();
    const int n = SweepDistortionFrames(rateHz, freqHz);
    if (block == nullptr || n == 0 || frames < n) {
        return out;
    }
    DistortionParams params;
    params.sampleRateHz = rateHz;
    params.fftSize = n;
    params.bandLowHz = std::min(params.bandLowHz, freqHz - 1.0);
    params.bandHighHz =
        std::min(std::max(params.bandHighHz, freqHz + 1.0), (n / 2 - 1) * static_cast<double>(rateHz) / n);
    params.harmonics = 5;
    const DistortionReading r = MeasureBlockDistortion(block, frames, 2, offset, params, transform, WeightingFilter());
    if (r.outcome != DistortionOutcome::Measured) {
        return out;
    }
    out[0] = static_cast<float>(r.thdDb);
    out[1] = static_cast<float>(r.thdnDb);
    for (std::size_t h = 0; h < 4 && h < r.harmonicsDbc.size(); ++h) {
        out[h + 2] = static_cast<float>(r.harmonicsDbc[h]);
    }
    return out;
}

namespace {

double SweepStereoLevel(const SineFit& fit)
{
    // The level of a sine of amplitude a in dB of full scale: 20·log10(a), so a sine of
    // amplitude 1 reads 0 dB, as the spectrum's peak does.
    return 20.0 * std::log10(fit.Amplitude());
}

}  // namespace

SweepPoint MeasureSweepBlock(const float* block, int frames, int freqHz, int rateHz, bool withReference,
                             const CorrectionCurve& inCorrection)
{
    SweepPoint p;
    if (block == nullptr || frames <= 0) {
        p.rightSilent = p.leftSilent = true;
    } else {
        const SineFit right = FitSine(block, frames, 2, freqHz, rateHz);
        const SineFit left = FitSine(block + 1, frames, 2, freqHz, rateHz);
        p.rightSilent = !right.CarriesTone();
        p.leftSilent = !left.CarriesTone();
        if (!withReference) {
            p.v1 = p.rightSilent ? kSilentLevelDb
                                 : static_cast<float>(ApplyCurve(inCorrection, 1.0, freqHz, SweepStereoLevel(right)));
            p.v2 = p.leftSilent ? kSilentLevelDb
                                : static_cast<float>(ApplyCurve(inCorrection, 1.0, freqHz, SweepStereoLevel(left)));
            return p;
        }
        if (!p.leftSilent) {
            if (p.rightSilent) {
                p.v1 = kSilentLevelDb;
                p.v2 = kNoValue;
            } else {
                const std::complex<double> ratio = right.phasor / left.phasor;
                p.v1 = static_cast<float>(20.0 * std::log10(std::abs(ratio)));
                p.v2 = static_cast<float>(std::arg(ratio) * 180.0 / std::numbers::pi);
                if (p.v2 >= 180.0f) {
                    p.v2 = -180.0f;  // an inverted input reads -180, as it always has
                }
            }
            return p;
        }
    }
    // Without the reference (or without any block) there is nothing to relate to.
    p.v1 = p.v2 = withReference ? kNoValue : kSilentLevelDb;
    return p;
}

SweepRun::SweepRun(SoundEngine& engine, Settings& settings, SweepDiagram& diagram, SweepPageView& view,
                   CorrectionCurve& inCorrection, CorrectionCurve& outCorrection)
    : engine_(engine),
      settings_(settings),
      diagram_(diagram),
      view_(view),
      inCorrection_(inCorrection),
      outCorrection_(outCorrection),
      texts_(&kGermanTexts)
{
}

void SweepRun::SetLanguage(char language)
{
    if (const SweepTexts* t = SweepTextsFor(language)) {
        texts_ = t;
    }
}

int SweepRun::OutputRate() const
{
    int in = 0, out = 0;
    engine_.GetSampleRates(in, out);
    return out;
}

void SweepRun::EnterGeneratorPage()
{
    SweepSettings& s = settings_.Sweep;
    diagram_.SetLevelAxis(false);
    diagram_.ResetDiagramScales();
    SweepRunning = SweepToneOn = false;
    SweepIndex = 0;
    SweepFrequency = s.SweepFrom;
    SweepFrames = 8000;
    view_.SetStartCaption("START");
    diagram_.Show(true);
    view_.SetAnalyseMenuEnabled(false);
    view_.ShowInputLevel(settings_.Volume.GenInVolume);
    const int outVolume = settings_.Volume.GenOutVolume;
    view_.SetOutputSlider(100 - outVolume);
    engine_.SetOutputVolume(outVolume);
    view_.SetOutputLabel(std::to_string(outVolume) + "%");
    view_.SetOutputLabel(std::to_string(engine_.GetOutputVolume()) + "%");
    if (!(s.SweepYMax > s.SweepYMin)) {
        s.SweepYMax = 5.0;
        s.SweepYMin = -40.0;
    }
    diagram_.SetCurvesShown(true, s.SweepPhase);
    diagram_.SetAxesShown(true, s.SweepPhase);
    float levelMin = static_cast<float>(s.SweepYMin);
    float levelMax = static_cast<float>(s.SweepYMax);
    diagram_.PrepareDiagram(s.SweepComment, s.SweepSteps + 1, s.SweepFrom, s.SweepTo, levelMin, levelMax);
    diagram_.SetLevelRange(static_cast<float>(s.SweepYMax), static_cast<float>(s.SweepYMin));
    SetUpSecondAxis();
    view_.ShowGeneratorOnPage(true);
    view_.PlaceGenerator(false);
    GeneratorPageActive = true;
    diagram_.SetResultLine("");
    ShowLimitCurves();
}

void SweepRun::LeaveGeneratorPage()
{
    STOPbutClick();
    diagram_.SetCurvesShown(true, false);
    diagram_.SetAxesShown(true, false);
    diagram_.SetSecondAxis(kDegreeSign, false);
    diagram_.SetLevelAxis(false);
    if (GeneratorPageActive) {
        // What was typed as the comment after the last sweep stays with the page.
        settings_.Sweep.SweepComment = diagram_.GetComment();
        float lmin = 0.0f, lmax = 0.0f;
        diagram_.GetLevelRange(lmin, lmax);
        settings_.Sweep.SweepYMin = lmin;
        settings_.Sweep.SweepYMax = lmax;
        diagram_.ResetDiagramScales();
    }
    GeneratorPageActive = false;
    diagram_.SetLimitCurves(nullptr);
    diagram_.Show(false);
    view_.ShowGeneratorOnPage(false);
}

void SweepRun::wobbelnButClick()
{
    SweepSettings& s = settings_.Sweep;
    s.SweepComment = diagram_.GetComment();
    // A START that cannot start (a signal plays, a sweep or log sweep runs, no input
    // device) leaves the points on the diagram alone.
    if (engine_.PlaybackActive() || engine_.PlayRecordRunning() || SweepRunning || SweepToneOn ||
        engine_.CaptureFormats() == 0) {
        RunReport refused{Measurement::Sweep, RunEvent::Refused};
        refused.refusal = SweepRunning || SweepToneOn                          ? Refusal::AlreadyRunning
                          : engine_.PlaybackActive() || engine_.PlayRecordRunning() ? Refusal::SignalPlaying
                                                                               : Refusal::NoInputDevice;
        view_.ReportRun(refused);
        return;
    }
    diagram_.SetLevelAxis(false);  // a level sweep may have shown its axis
    diagram_.ClearDiagramData();
    steps_.clear();
    view_.SetInputLevel(settings_.Volume.GenInVolume);
    diagram_.SetResultLine("");
    SweepRunning = true;
    SweepIndex = 0;
    stepsMeasured_ = stepsSilent_ = 0;
    limitsOutcome_ = {};
    shownStep_ = 0;
    float levelMin = static_cast<float>(s.SweepYMin);
    float levelMax = static_cast<float>(s.SweepYMax);
    diagram_.PrepareDiagram(s.SweepComment, s.SweepSteps + 2, s.SweepFrom, s.SweepTo, levelMin, levelMax);
    if (s.SweepWithRef) {
        SetUpSecondAxis();
    } else {
        diagram_.SetSecondAxis(kDegreeSign, false);
        diagram_.SetSecondRange(static_cast<float>(s.SweepYMax), static_cast<float>(s.SweepYMin));
    }
    ShowLimitCurves();
    view_.PostSweepStep();
    view_.SetSweepLockedControlsEnabled(false);
}

void SweepRun::SweepStep()
{
    const SweepSettings& s = settings_.Sweep;
    const int rate = OutputRate();
    engine_.SetSampleRates(rate, rate);
    int bitsIn = 0, bitsOut = 0;
    engine_.GetFormatBits(bitsIn, bitsOut);
    const int bytes = std::max(bitsIn, bitsOut) / 8;

    SweepFrequency = SweepStepFrequency(s, SweepIndex);
    SweepFrames = SweepStepFrames(rate, bytes, SweepFrequency, MeasuresDistortion());
    view_.SetFreqText(std::to_string(SweepFrequency) + " ");

    if (SweepFrequency > rate / 2 || SweepFrequency < 1 || SweepFrames <= 0) {
        // Above half the rate (or no frequency a tone can have): the sweep ends with
        // the points measured so far.
        RunReport ended{Measurement::Sweep, RunEvent::AboveHalfRate};
        ended.freqHz = SweepFrequency;
        view_.ReportRun(ended);
        ShowInformationPrompt(texts_->aboveHalfRate);
        view_.SetSweepLockedControlsEnabled(true);
        SweepRunning = false;
        ReportSilentSteps();
        return;
    }
    shownStep_ = SweepIndex + 1;
    view_.ReportRun(StepReport(RunEvent::Step, shownStep_));

    if (engine_.PlaybackActive() || engine_.PlaybackOpen()) {
        // The last step's tone could not be stopped. A new tone cannot start while it
        // plays, and a block recorded now would be stored as this step's frequency:
        // stop it once more, and end the sweep with the error box if it still plays.
        engine_.StopPlayback();
        if (engine_.PlaybackActive() || engine_.PlaybackOpen()) {
            view_.SetSweepLockedControlsEnabled(true);
            dowoberr(static_cast<int>(kMmError));
            return;
        }
    }

    SweepToneOn = true;
    GeneratorParams params;
    params.frequencyHz = SweepFrequency;
    const double corrected = ApplyCurve(outCorrection_, 1.0, SweepFrequency, s.SweepLevel);
    // A level beyond the generator's range after correction plays at the range's edge.
    const double level = std::clamp(RoundHalfEven(corrected), -200.0, 200.0);
    params.levelLeftDb = params.levelRightDb = static_cast<std::int32_t>(std::isfinite(level) ? level : -100.0);
    params.phaseLeftDeg = params.phaseRightDeg = 0;
    params.waveform = kWaveSine;
    if (const int code = StartStepTone(params); code != 0) {
        view_.SetSweepLockedControlsEnabled(true);
        dowoberr(code);
        return;
    }

    // The settle time counts from the tone's arrival at the input: the round trip after
    // it went out (the engine records a block again that began earlier).
    engine_.SetSignalSettle(s.SweepSettleTime / 1000.0);
    const int waitMs = std::max(s.SweepSettleTime,
                                static_cast<int>(std::ceil(engine_.SecondsUntilSignalSettled() * 1000.0)));
    if (!view_.SettleWait(waitMs)) {
        // The program closed during the wait and its engine is shut down.
        if (SweepToneOn) {
            engine_.StopPlayback();
        }
        SweepRunning = SweepToneOn = false;
        return;
    }

    pendingIndex_ = SweepIndex;
    pendingFrequency_ = SweepFrequency;
    pendingRate_ = rate;
    const std::uint32_t user = static_cast<std::uint32_t>(SweepIndex) * 65536u +
                               (static_cast<std::uint32_t>(SweepFrequency) & 0xFFFFu);
    if (const int code = engine_.StartCapture(SweepFrames, user, [this] { SweepStepDone(); }); code != 0) {
        view_.SetSweepLockedControlsEnabled(true);
        dowoberr(code);
        return;
    }
    SweepIndex += 1;
    if (SweepIndex > s.SweepSteps) {
        SweepRunning = false;
    }
}

bool SweepRun::MeasuresDistortion() const
{
    return MeasureDistortionEachStep || SweepShowsDistortion(settings_.Sweep);
}

int SweepRun::StartStepTone(const GeneratorParams& params)
{
    if (!MeasuresDistortion()) {
        return engine_.StartPlayback(params.frequencyHz, -1, params);
    }
    const SineComponent sine{params.frequencyHz, Generator::LevelAmplitude(params.levelRightDb)};
    const std::vector<float> loop = SineLoop(std::span<const SineComponent>(&sine, 1), OutputRate());
    return engine_.StartLoopedSignal(loop, loop, params.frequencyHz);
}

void SweepRun::SetUpSecondAxis()
{
    const SweepSettings& s = settings_.Sweep;
    if (s.SweepWithRef && s.SweepCurve2 >= kSweepCurve2Thd) {
        diagram_.SetSecondAxis("dB", false);
        diagram_.SetSecondRange(kDistortionAxisMax, kDistortionAxisMin);
    } else {
        diagram_.SetSecondAxis(kDegreeSign, false);
        diagram_.SetSecondRange(s.SweepPhaseMax, s.SweepPhaseMin);
    }
}

RunReport SweepRun::StepReport(RunEvent event, int step) const
{
    RunReport report{Measurement::Sweep, event};
    if (step > 0) {
        report.freqHz = SweepFrequency;
        report.step = step;
    }
    report.steps = event == RunEvent::Stopped && step == 0 ? 0 : settings_.Sweep.SweepSteps + 1;
    return report;
}

void SweepRun::SetUpCurves()
{
    const SweepSettings& s = settings_.Sweep;
    if (s.SweepPhase) {
        diagram_.SetCurvesShown(true, true);
        diagram_.SetAxesShown(true, true);
    } else {
        diagram_.SetAxesShown(true, false);
        diagram_.SetCurvesShown(true, !s.SweepWithRef);
    }
}

void SweepRun::SweepStepDone()
{
    engine_.StopPlayback();
    int count = 0, overload = 0;
    std::uint32_t user = 0;
    const float* data = engine_.TakeCapturedBlock(count, overload, user);
    view_.SetOverloadLabel(overload >= 1 ? "Over " + std::to_string(overload) : std::string());
    if (data == nullptr) {
        // The input device could not be closed: no point and no further step, and the
        // sweep says so instead of standing still as if it were running.
        SweepToneOn = false;
        dowoberr(engine_.EngineError() != 0 ? engine_.EngineError() : 9);
        return;
    }
    // The step in flight as started; the user value agrees with it for frequencies
    // below 65536 Hz.
    const int index = pendingIndex_;
    const int frequency = pendingFrequency_;
    if (!GeneratorPageActive) {
        // The page was left while this step recorded: the diagram belongs to another page
        // now, and the sweep has ended.
        SweepToneOn = false;
        return;
    }
    const int frames = count / 2;
    const SweepSettings& s = settings_.Sweep;
    lastPoint_ = MeasureSweepBlock(data, frames, frequency, pendingRate_, s.SweepWithRef, inCorrection_);
    if (MeasuresDistortion()) {
        lastPoint_.distortion = MeasureSweepDistortion(data, frames, 0, frequency, pendingRate_, transform_);
        if (s.SweepWithRef && s.SweepCurve2 >= kSweepCurve2Thd && !std::isnan(lastPoint_.v1)) {
            lastPoint_.v2 = lastPoint_.distortion[static_cast<std::size_t>(
                std::min(s.SweepCurve2 - kSweepCurve2Thd, kSweepDistortionReadings - 1))];
        }
    }
    ++stepsMeasured_;
    if (lastPoint_.leftSilent || lastPoint_.rightSilent) {
        ++stepsSilent_;
    }
    SetUpCurves();
    // A step without a reference stores its frequency with no values: the curves have a
    // gap there and the table no line.
    const float values[2] = {lastPoint_.v1, lastPoint_.v2};
    if (limits_ && !(lastPoint_.leftSilent && settings_.Sweep.SweepWithRef)) {
        // The levels as the diagram shows them: the ratio with reference, both inputs in
        // stereo. A step without a reference has no point and is not checked.
        if (settings_.Sweep.SweepWithRef) {
            limitsOutcome_.CheckPoint(*limits_, "level_db", frequency, lastPoint_.v1);
        } else {
            limitsOutcome_.CheckPoint(*limits_, "right_db", frequency, lastPoint_.v1);
            limitsOutcome_.CheckPoint(*limits_, "left_db", frequency, lastPoint_.v2);
        }
    }
    if (!diagram_.StoreDiagramPoint(values, 2, index, static_cast<float>(frequency))) {
        ++pointsStored_;
        steps_.push_back({frequency, lastPoint_});
        diagram_.Repaint();
    }
    if (SweepRunning) {
        view_.PostSweepStep();
    } else {
        STOPbutClick();
        ReportSilentSteps();
        if (index == settings_.Sweep.SweepSteps) {
            view_.ReportRun(StepReport(RunEvent::Finished, 0));
        }
    }
    SweepToneOn = false;
}

void SweepRun::SetLimits(std::optional<Limits> limits)
{
    limits_ = std::move(limits);
    limitsOutcome_ = {};
    if (GeneratorPageActive) {
        ShowLimitCurves();
        diagram_.Repaint();
    }
}

void SweepRun::ShowLimitCurves()
{
    if (!limits_) {
        diagram_.SetLimitCurves(nullptr);
        return;
    }
    const SweepSettings& s = settings_.Sweep;
    const LimitCurves curves = limits_->Sample(s.SweepFrom, s.SweepTo, 256);
    diagram_.SetLimitCurves(&curves);
}

void SweepRun::ReportSilentSteps()
{
    if (stepsSilent_ == 0 && !limits_) {
        return;
    }
    const auto line = [&](const SweepTexts& t) {
        std::string text;
        if (stepsSilent_ > 0) {
            text = t.silentLead + std::to_string(stepsSilent_) + t.silentMiddle + std::to_string(stepsMeasured_) +
                   t.silentTail;
        }
        if (limits_) {
            const int failed = static_cast<int>(limitsOutcome_.failures.size());
            text += (text.empty() ? "" : "; ") + t.limitsLead +
                    (failed == 0 ? std::string("PASS")
                                 : "FAIL " + std::to_string(failed) + t.limitsOf + std::to_string(limitsOutcome_.checked) +
                                       t.limitsPoints);
        }
        return text;
    };
    diagram_.SetResultLines({line(kGermanTexts), line(kEnglishTexts)}, texts_ == &kEnglishTexts ? 'E' : 'D');
    diagram_.Repaint();
}

void SweepRun::STOPbutClick()
{
    if (SweepToneOn) {
        engine_.StopPlayback();
    }
    if (SweepRunning) {
        view_.ReportRun(StepReport(RunEvent::Stopped, shownStep_));
    }
    SweepRunning = SweepToneOn = false;
    engine_.SetSignalSettle(SoundEngine::kDefaultSignalSettleSeconds);
    view_.SetFreqText("0");
    view_.SetSweepLockedControlsEnabled(true);
}

void SweepRun::dowoberr(int code)
{
    STOPbutClick();
    RunReport failed{Measurement::Sweep, RunEvent::DeviceError};
    failed.detail = engine_.DeviceErrorText(static_cast<std::uint32_t>(code));
    view_.ReportRun(failed);
    ShowErrorPrompt("ERROR at Frequency Output (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")",
                    kDeviceErrorHelpContext);
}

void SweepRun::WobDialogButClick()
{
    if (SweepRunning) {
        return;
    }
    view_.SetMainStayOnTop(false);
    const bool accepted = view_.RunSweepDialog(settings_.Sweep);
    view_.SetMainStayOnTop(true);
    if (accepted) {
        const SweepSettings& s = settings_.Sweep;
        diagram_.SetCurvesShown(true, s.SweepPhase);
        diagram_.SetAxesShown(true, s.SweepPhase);
        SetUpSecondAxis();
    }
    view_.SetStartCaption("START ");
    diagram_.Repaint();
}

void SweepRun::Button2Click()
{
    if (engine_.PlaybackActive()) {
        RunReport refused{Measurement::Sweep, RunEvent::Refused};
        refused.control = "Out-Para";
        refused.refusal = SweepToneOn ? Refusal::SweepPlaying : Refusal::SignalPlaying;
        view_.ReportRun(refused);
        return;
    }
    view_.ShowOutputFormatDialog();
}

void SweepRun::Button1Click()
{
    view_.PlaceGenerator(true);
}

}  // namespace sonvera
