#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <map>

#include "config/sections.h"
#include "engine/soundengine.h"
#include "measure/levelsweep.h"
#include "measure/sweeprun.h"
#include "platform/loopbackcard.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

/// Keeps the points and the result line the run hands to the diagram.
class PointDiagram : public SweepDiagram {
public:
    bool PrepareDiagram(const std::string&, int last, int fmin, int fmax, float&, float&) override
    {
        lastIndex = last, xMin = fmin, xMax = fmax;
        return false;
    }
    void ClearDiagramData() override { points.clear(); }
    void ResetDiagramScales() override { points.clear(); }
    void SetCurvesShown(bool, bool) override {}
    void SetAxesShown(bool, bool) override {}
    void SetLevelRange(float, float) override {}
    void SetSecondRange(float, float) override {}
    void GetLevelRange(float&, float&) const override {}
    bool StoreDiagramPoint(const float* v, int mode, int index, float x) override
    {
        EXPECT_EQ(mode, 2);
        points[index] = {x, v[0]};
        return false;
    }
    void SetResultLine(const std::string&) override {}
    void SetResultLines(const ResultLine& line, char) override { english = line.english; }
    std::string GetComment() const override { return ""; }
    void Repaint() override {}
    void Show(bool) override {}
    void SetLevelAxis(bool level) override { levelAxis = level; }

    std::map<int, std::pair<float, float>> points;
    std::string english;
    int lastIndex = 0, xMin = 0, xMax = 0;
    bool levelAxis = false;
};

class QueuedView : public LevelSweepView {
public:
    void PostLevelSweepStep() override { ++queued; }
    bool SettleWait(int ms) override
    {
        card->AdvanceInstantClock(ms);
        return true;
    }
    void SetLevelSweepRunning(bool r) override { running = r; }
    void ReportLevelSweepProblem(const ResultLine& why) override { problem = why.english; }
    LoopbackCard* card = nullptr;
    int queued = 0;
    bool running = false;
    std::string problem;
};

DutConfig ThirdHarmonic()
{
    DutConfig d;
    d.h3 = 0.019;
    return d;
}

class LevelSweepRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        SetDeviceFormat(engine.InDeviceFormats()[0], 24, false, 48000);
        SetDeviceFormat(engine.OutDeviceFormats()[0], 24, false, 48000);
        view.card = &card;
        engine.SetOutputVolume(40);  // the run plays at full volume and gives this back
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }
    void RunLoop(int stopAfter = -1)
    {
        port.Pump();
        for (int steps = 0; view.queued > 0 && steps < 100; ++steps) {
            if (steps == stopAfter) {
                run.Stop();
            }
            --view.queued;
            run.Step();
            port.Pump();
        }
    }

    LoopbackCard card{ThirdHarmonic(), LoopbackClock::Instant};
    SoundEngine engine{card};
    test::QueuePort port{engine};
    PointDiagram diagram;
    QueuedView view;
    LevelSweepRun run{engine, diagram, view};
};

// The device's third harmonic is h3·A³ for a tone of amplitude A (its fundamental grows a
// little with it), so THD+N is that over the fundamental read, and crosses 1 % between -3
// and -2 dBFS, where the command-line tool finds its maximum level (-2.00 with the same
// device; 0 dBFS, where the output clips, is left out).
TEST_F(LevelSweepRunTest, ReadsTheModelsThdnAtEachLevelAndTheMaximumLevelOnTheLevelAxis)
{
    ASSERT_TRUE(run.Start({997, -6.0, -1.0, 1.0}, 50));
    EXPECT_TRUE(view.running);
    RunLoop();
    EXPECT_FALSE(run.Running());
    EXPECT_FALSE(view.running);
    EXPECT_EQ(engine.GetOutputVolume(), 40);
    const auto& steps = run.Result().Steps();
    ASSERT_EQ(steps.size(), 6u);
    for (const LevelSweepStep& s : steps) {
        ASSERT_EQ(s.reading.outcome, DistortionOutcome::Measured) << s.levelDb;
        const double h3Dbfs = 20.0 * std::log10(0.019) + 3.0 * s.levelDb;
        EXPECT_NEAR(s.reading.thdnDb, h3Dbfs - s.reading.fundamentalDb, 0.1) << s.levelDb;
    }
    ASSERT_TRUE(run.Result().MaxLevel().has_value());
    EXPECT_DOUBLE_EQ(*run.Result().MaxLevel(), -2.0);
    EXPECT_EQ(diagram.english, "max. level (1 % THD+N) -2.00 dBFS");
    // THD+N against the output level, one slot per level, on the level axis.
    EXPECT_TRUE(diagram.levelAxis);
    EXPECT_EQ(diagram.lastIndex, 5);
    EXPECT_EQ(std::make_pair(diagram.xMin, diagram.xMax), std::make_pair(-6, -1));
    ASSERT_EQ(diagram.points.size(), 6u);
    EXPECT_EQ(diagram.points[5].first, -1.0f);
    EXPECT_FLOAT_EQ(diagram.points[5].second, static_cast<float>(steps[5].reading.thdnDb));
}

TEST_F(LevelSweepRunTest, StopEndsTheRunWithTheLevelsMeasuredSoFar)
{
    ASSERT_TRUE(run.Start({997, -20.0, 0.0, 1.0}, 50));
    RunLoop(2);
    EXPECT_FALSE(run.Running());
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_EQ(run.Result().Steps().size(), 2u);
    EXPECT_EQ(diagram.english, "max. level (1 % THD+N) not reached up to -19.00 dBFS (stopped)");
    EXPECT_FALSE(run.Start({997, 0.0, -6.0, 1.0}, 50));  // from above to
    EXPECT_FALSE(view.problem.empty());
}

}  // namespace
}  // namespace sonvera
