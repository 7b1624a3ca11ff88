#include "measure/levelsweep.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "config/numberformat.h"
#include "dsp/generator.h"
#include "dsp/weighting.h"
#include "engine/soundengine.h"
#include "measure/sweeprun.h"

namespace sonvera {

namespace {

std::string Dbfs(double level)
{
    return FormatFixed(level, 2) + " dBFS";
}

// The THD+N axis the run starts with (dB re the fundamental); the user may change it.
constexpr float kThdnAxisMin = -120.0f;
constexpr float kThdnAxisMax = 0.0f;

}  // namespace

int LevelSweepPlan::Count() const
{
    if (!std::isfinite(fromDb) || !std::isfinite(toDb) || !std::isfinite(stepDb) || !(stepDb > 0.0) ||
        fromDb > toDb) {
        return 0;
    }
    const double levels = std::floor((toDb - fromDb) / stepDb + 1e-9) + 1.0;
    return levels > kMaxLevels ? 0 : static_cast<int>(levels);
}

int LevelSweepResult::Measured() const
{
    return static_cast<int>(std::count_if(steps_.begin(), steps_.end(), [](const LevelSweepStep& s) {
        return s.reading.outcome == DistortionOutcome::Measured;
    }));
}

std::optional<double> LevelSweepResult::MaxLevel() const
{
    for (const LevelSweepStep& s : steps_) {
        if (s.reading.outcome == DistortionOutcome::Measured && s.reading.thdnPct > 1.0) {
            return s.levelDb;
        }
    }
    return std::nullopt;
}

ResultLine LevelSweepResult::Line() const
{
    if (Measured() == 0) {
        return {"max. Pegel (1 % THD+N): kein Ton am Eingang", "max. level (1 % THD+N): no tone at the input"};
    }
    if (const auto max = MaxLevel()) {
        return {"max. Pegel (1 % THD+N) " + Dbfs(*max), "max. level (1 % THD+N) " + Dbfs(*max)};
    }
    const std::string last = Dbfs(steps_.back().levelDb);
    return {"max. Pegel (1 % THD+N) bis " + last + " nicht erreicht",
            "max. level (1 % THD+N) not reached up to " + last};
}

DistortionReading MeasureBlockDistortion(const float* block, int frames, int channels, int offset,
                                         const DistortionParams& params, SpectrumTransform& transform,
                                         const WeightingFilter& weighting)
{
    const int n = params.fftSize;
    if (block == nullptr || channels < 1 || offset < 0 || offset >= channels || n < 2 || frames < n ||
        !transform.BuildWindowTable(params.window, n)) {
        return {};
    }
    std::vector<float> samples(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        samples[static_cast<std::size_t>(i)] = block[static_cast<std::size_t>(i) * channels + offset];
    }
    if (!transform.ComputeSpectrum(samples.data(), n)) {
        return {};
    }
    return MeasureDistortion(ChannelSpectrum(std::span<const float>(samples.data(), static_cast<std::size_t>(n / 2))),
                             params, weighting);
}

LevelSweepRun::LevelSweepRun(SoundEngine& engine, SweepDiagram& diagram, LevelSweepView& view)
    : engine_(engine), diagram_(diagram), view_(view)
{
}

bool LevelSweepRun::Start(const LevelSweepPlan& plan, int settleMs)
{
    // A block of a stopped run still in flight counts as running until it arrives.
    const bool busy = running_ || capturing_ || engine_.PlaybackActive() || engine_.PlayRecordRunning();
    if (busy || engine_.CaptureFormats() == 0) {
        view_.ReportLevelSweepProblem(
            busy
                ? ResultLine{"Pegelsweep: es läuft schon ein Signal", "Level sweep: a signal is playing already"}
                : ResultLine{"Pegelsweep: kein Eingangsgerät", "Level sweep: no input device"});
        return false;
    }
    count_ = plan.Count();
    int inRate = 0, outRate = 0;
    engine_.GetSampleRates(inRate, outRate);
    engine_.SetSampleRates(outRate, outRate);
    if (count_ == 0 || plan.freqHz < 1 || plan.freqHz >= outRate / 2) {
        view_.ReportLevelSweepProblem({"Pegelsweep: Frequenz oder Pegelbereich ungültig",
                                       "Level sweep: frequency or level range not valid"});
        return false;
    }
    plan_ = plan;
    settleMs_ = std::max(settleMs, 0);
    params_ = DistortionParams{};
    params_.sampleRateHz = outRate;
    params_.bandHighHz = std::min(params_.bandHighHz, outRate / 2.0 * (1.0 - 2.0 / params_.fftSize));
    result_.Clear();
    index_ = 0;
    running_ = true;
    // The level asked for is the level played: the output volume is full scale meanwhile.
    volumeBefore_ = engine_.GetOutputVolume();
    engine_.SetOutputVolume(100);

    diagram_.SetLevelAxis(true);
    diagram_.ResetDiagramScales();
    diagram_.SetSecondAxis("dB", false);
    diagram_.SetCurvesShown(true, false);
    diagram_.SetAxesShown(true, false);
    float lo = kThdnAxisMin, hi = kThdnAxisMax;
    diagram_.PrepareDiagram(diagram_.GetComment(), count_ - 1, static_cast<int>(std::floor(plan.fromDb)),
                            static_cast<int>(std::ceil(plan.toDb)), lo, hi);
    diagram_.SetLevelRange(kThdnAxisMax, kThdnAxisMin);
    diagram_.SetResultLines({"", ""}, 'D');
    diagram_.Show(true);
    diagram_.Repaint();
    view_.SetLevelSweepRunning(true);
    view_.PostLevelSweepStep();
    return true;
}

void LevelSweepRun::Step()
{
    if (!running_ || capturing_) {
        return;
    }
    const double level = plan_.LevelAt(index_);
    view_.SetLevelText(Dbfs(level));
    if (engine_.PlaybackActive() || engine_.PlaybackOpen()) {
        engine_.StopPlayback();
    }
    const SineComponent sine{plan_.freqHz, std::pow(10.0, level / 20.0)};
    const std::vector<float> loop = SineLoop(std::span<const SineComponent>(&sine, 1), static_cast<int>(params_.sampleRateHz));
    if (const int code = engine_.StartLoopedSignal(loop, loop, plan_.freqHz); code != 0) {
        Fail({"Pegelsweep: Ausgabefehler (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")",
              "Level sweep: output error (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")"});
        return;
    }
    toneOn_ = true;
    engine_.SetSignalSettle(settleMs_ / 1000.0);
    const int waitMs = std::max(settleMs_, static_cast<int>(std::ceil(engine_.SecondsUntilSignalSettled() * 1000.0)));
    if (!view_.SettleWait(waitMs)) {
        running_ = toneOn_ = false;
        return;  // the program is closing: nothing more is touched
    }
    if (!running_) {
        return;  // stopped while the tone settled
    }
    capturing_ = true;
    if (const int code = engine_.StartCapture(params_.fftSize, static_cast<std::uint32_t>(index_), [this] { StepDone(); });
        code != 0) {
        capturing_ = false;
        Fail({"Pegelsweep: Aufnahmefehler (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")",
              "Level sweep: recording error (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")"});
    }
}

void LevelSweepRun::StepDone()
{
    capturing_ = false;
    int count = 0, overload = 0;
    std::uint32_t user = 0;
    const float* data = engine_.TakeCapturedBlock(count, overload, user);
    if (!running_) {
        return;  // stopped meanwhile: the block is not part of the result
    }
    if (data == nullptr) {
        const int code = engine_.EngineError() != 0 ? engine_.EngineError() : 9;
        Fail({"Pegelsweep: Aufnahmefehler (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")",
              "Level sweep: recording error (" + engine_.DeviceErrorText(static_cast<std::uint32_t>(code)) + ")"});
        return;
    }
    const double level = plan_.LevelAt(index_);
    const DistortionReading r = MeasureBlockDistortion(data, count / 2, 2, 0, params_, transform_, WeightingFilter());
    result_.Add(level, r);
    const float value = r.outcome == DistortionOutcome::Measured ? static_cast<float>(r.thdnDb)
                                                                 : std::numeric_limits<float>::quiet_NaN();
    const float values[2] = {value, std::numeric_limits<float>::quiet_NaN()};
    diagram_.StoreDiagramPoint(values, 2, index_, static_cast<float>(level));
    diagram_.SetResultLines(result_.Line(), 'D');
    diagram_.Repaint();
    if (++index_ >= count_) {
        Finish(false);
    } else {
        view_.PostLevelSweepStep();
    }
}

void LevelSweepRun::Stop()
{
    if (running_) {
        Finish(true);
    }
}

void LevelSweepRun::Finish(bool stopped)
{
    if (toneOn_) {
        engine_.StopPlayback();
    }
    running_ = toneOn_ = false;
    engine_.SetSignalSettle(SoundEngine::kDefaultSignalSettleSeconds);
    engine_.SetOutputVolume(volumeBefore_);
    if (!result_.Steps().empty()) {
        ResultLine line = result_.Line();
        if (stopped) {
            line.german += " (gestoppt)";
            line.english += " (stopped)";
        }
        diagram_.SetResultLines(line, 'D');
        diagram_.Repaint();
    }
    view_.SetLevelText("");
    view_.SetLevelSweepRunning(false);
}

void LevelSweepRun::Fail(const ResultLine& why)
{
    Finish(true);
    view_.ReportLevelSweepProblem(why);
}

}  // namespace sonvera
