#pragma once
// The level sweep: a tone at one frequency played at each output level of a range, the
// THD+N and THD of one input read at each, and the maximum level, the first output level
// whose THD+N exceeds 1 %. The plan, the readings and the result are shared by the
// program's run (LevelSweepRun, below) and `sonvera-cli levelsweep`.

#include <optional>
#include <string>
#include <vector>

#include "dsp/distortion.h"
#include "dsp/spectrum.h"
#include "measure/resultline.h"

namespace sonvera {

class SoundEngine;
class SweepDiagram;
class WeightingFilter;

/// The levels a level sweep plays: from `fromDb` up to `toDb` (dB re full scale) in steps
/// of `stepDb`, the last level at or below `toDb`.
struct LevelSweepPlan {
    int freqHz = 997;
    double fromDb = -60.0;
    double toDb = 0.0;
    double stepDb = 1.0;
    static constexpr int kMaxLevels = 10001;
    /// Levels played; 0 when the plan is not playable (from above to, a step not above
    /// 0, more than kMaxLevels levels, a value that is not finite).
    int Count() const;
    double LevelAt(int index) const { return fromDb + index * stepDb; }
};

/// One level's reading.
struct LevelSweepStep {
    double levelDb = 0.0;
    DistortionReading reading;
};

/// The readings of a sweep as they come in, and what they give.
class LevelSweepResult {
public:
    void Clear() { steps_.clear(); }
    void Add(double levelDb, const DistortionReading& reading) { steps_.push_back({levelDb, reading}); }
    const std::vector<LevelSweepStep>& Steps() const { return steps_; }
    /// Steps whose input carried the tone.
    int Measured() const;
    /// The first output level whose THD+N exceeds 1 %; none when no level reached it.
    std::optional<double> MaxLevel() const;
    /// The result line: "max. Pegel (1 % THD+N) -2.00 dBFS" / "max. level (1 % THD+N)
    /// -2.00 dBFS", that it was not reached up to the last level measured, or that the
    /// input carried the tone at no level.
    ResultLine Line() const;

private:
    std::vector<LevelSweepStep> steps_;
};

/// The reading of one input of an interleaved block of `channels` channels (`offset` the
/// input's place in a frame): its first params.fftSize frames windowed with params.window
/// and read by MeasureDistortion. Fewer frames or a transform that cannot be had: a
/// reading with outcome NoSignal. `transform` is reused from call to call.
DistortionReading MeasureBlockDistortion(const float* block, int frames, int channels, int offset,
                                         const DistortionParams& params, SpectrumTransform& transform,
                                         const WeightingFilter& weighting);

/// The controls of the page the program's level sweep runs from.
class LevelSweepView {
public:
    virtual ~LevelSweepView() = default;
    /// Asks for Step() to be called from the event loop (never inside this call).
    virtual void PostLevelSweepStep() = 0;
    /// Waits `ms` milliseconds keeping the window responsive; false when the engine went
    /// away meanwhile.
    virtual bool SettleWait(int /*ms*/) { return true; }
    /// The run started (true) or ended (false): the page switches its start and stop.
    virtual void SetLevelSweepRunning(bool /*running*/) {}
    /// The level of the step being played ("-12.00 dBFS"), or "" after the run.
    virtual void SetLevelText(const std::string& /*text*/) {}
    /// Why the run was refused or ended early, in both languages.
    virtual void ReportLevelSweepProblem(const ResultLine& /*why*/) {}
};

/// The program's level sweep (all on one thread): for each level the tone is played as a
/// loop of whole periods, a settle time waited, one block of params.fftSize frames
/// recorded, and THD+N (dB) of the right input stored against the output level on the
/// diagram's level axis. The last step, or Stop, writes the result line.
class LevelSweepRun {
public:
    LevelSweepRun(SoundEngine& engine, SweepDiagram& diagram, LevelSweepView& view);

    /// Starts `plan` (the output volume at 100 % until the run ends), reading with 65536 points, the distortion window, band 20 Hz ..
    /// 20 kHz (held below half the rate) and H2..H10, after `settleMs` of each tone.
    /// Returns false (and reports why) when the plan cannot be played or the engine is busy.
    bool Start(const LevelSweepPlan& plan, int settleMs);
    void Stop();
    /// The handler of the posted step.
    void Step();
    /// The capture handler of a step.
    void StepDone();

    bool Running() const { return running_; }
    const LevelSweepResult& Result() const { return result_; }

private:
    void Finish(bool stopped);
    void Fail(const ResultLine& why);

    SoundEngine& engine_;
    SweepDiagram& diagram_;
    LevelSweepView& view_;
    LevelSweepPlan plan_;
    LevelSweepResult result_;
    SpectrumTransform transform_;
    DistortionParams params_;
    int settleMs_ = 0;
    int volumeBefore_ = 100;
    int index_ = 0;
    int count_ = 0;
    bool running_ = false;
    bool toneOn_ = false;
    bool capturing_ = false;
};

}  // namespace sonvera
