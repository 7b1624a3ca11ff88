// Long runs of the three measurement loops on the virtual card's instant clock, through
// the program's own message path (the hidden completion receiver and posted application
// messages on a Qt event loop), without widgets. Each run checks that held memory stays
// flat, that no message handler runs inside another, and that every block is accounted
// for: as many blocks recorded as requested, each completed once and processed once.
//
// Default counts keep the suite fast; SONVERA_LONG=1 runs the full counts (100000
// spectrum blocks, 100000 oscilloscope blocks, 1000 sweeps).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <forward_list>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONVERA_LONGRUN_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SONVERA_LONGRUN_ASAN 1
#endif

#if defined(SONVERA_LONGRUN_ASAN)
// The sanitizer runtime's count of bytes held by the program (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "config/sections.h"
#include "engine/soundengine.h"
#include "measure/appmessages.h"
#include "measure/prompt.h"
#include "measure/scoperun.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"
#include "measure/tdummy.h"
#include "platform/loopbackcard.h"

namespace sonvera {
namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "longrun_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

bool FullCounts()
{
    const char* v = std::getenv("SONVERA_LONG");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

int SpectrumBlocks() { return FullCounts() ? 100000 : 2000; }
int ScopeBlocks() { return FullCounts() ? 100000 : 2000; }
int Sweeps() { return FullCounts() ? 1000 : 20; }

// ---- Memory ----------------------------------------------------------------------------

/// Bytes the process holds on its heap now. Under AddressSanitizer its allocator answers
/// (the C library's statistics do not see it); otherwise the C library's: bytes in use in
/// every arena plus the large blocks it mapped separately.
std::size_t HeapInUse()
{
#if defined(SONVERA_LONGRUN_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

/// Resident set size in bytes (reported, not asserted: it includes pages the allocator
/// keeps for reuse).
std::size_t ResidentBytes()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) {
        return 0;
    }
    unsigned long size = 0, resident = 0;
    const int read = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return read == 2 ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

/// Held heap may grow at most this much between the first sample (after the warm-up)
/// and any later one. One small allocation (16 bytes) kept per block passes it after
/// about 500 blocks; every run samples over more than that.
constexpr std::size_t kHeapGrowthBound = 8 * 1024;

/// Samples of the held heap at fixed points of a run: the first after a warm-up tenth,
/// then at every further tenth. The samples live in a fixed array, so taking one does
/// not allocate.
class HeapWatch {
public:
    /// `units`: blocks (or sweeps) of the run; samples are taken as Tick passes them.
    explicit HeapWatch(int units) : step_(std::max(units / 10, 1)) {}

    /// Called once per block (or sweep), between messages.
    void Tick()
    {
        ++count_;
        if (count_ % step_ == 0 && used_ < heap_.size()) {
            heap_[used_] = HeapInUse();
            rss_[used_] = ResidentBytes();
            ++used_;
        }
    }
    std::size_t Samples() const { return used_; }
    /// The largest rise of the held heap over the first sample, bytes.
    std::size_t Growth() const
    {
        std::size_t g = 0;
        for (std::size_t i = 1; i < used_; ++i) {
            g = std::max(g, heap_[i] > heap_[0] ? heap_[i] - heap_[0] : std::size_t{0});
        }
        return g;
    }
    std::string Report() const
    {
        std::string text = "heap/RSS KiB at each tenth:";
        for (std::size_t i = 0; i < used_; ++i) {
            text += " " + std::to_string(heap_[i] / 1024) + "/" + std::to_string(rss_[i] / 1024);
        }
        return text;
    }

private:
    int step_;
    int count_ = 0;
    std::array<std::size_t, 16> heap_{};
    std::array<std::size_t, 16> rss_{};
    std::size_t used_ = 0;
};

// ---- The message path ------------------------------------------------------------------

/// How deep message handlers are nested right now, and the deepest seen.
struct HandlerDepth {
    int depth = 0;
    int deepest = 0;
    struct Scope {
        explicit Scope(HandlerDepth& d) : d_(d) { d_.deepest = std::max(d_.deepest, ++d_.depth); }
        ~Scope() { --d_.depth; }
        HandlerDepth& d_;
    };
};

/// The program's completion receiver, counting the completions it hands to the engine
/// and the nesting of its handler.
class CountingTdummy : public Tdummy {
public:
    CountingTdummy(SoundEngine& engine, HandlerDepth& depth) : Tdummy(engine), depth_(depth) {}
    int completions = 0;

protected:
    bool event(QEvent* e) override
    {
        if (AppMessageOf(e) == MM_WIM_DATA) {
            HandlerDepth::Scope scope(depth_);
            ++completions;
            return Tdummy::event(e);
        }
        return Tdummy::event(e);
    }

private:
    HandlerDepth& depth_;
};

// Messages the harness posts in the user's place.
constexpr int kUserClick = WM_USER + 100;   // the user's STOP (or START) click
constexpr int kFinishCheck = WM_USER + 101; // ends the loop once no message is left

/// The main window's message handling without a window: every posted application
/// message runs its handler from the event loop, counted and with its nesting tracked.
class MessageWindow : public QObject {
public:
    explicit MessageWindow(HandlerDepth& depth) : depth_(depth) {}

    void On(int message, std::function<void()> handler) { handlers_[message] = std::move(handler); }
    void Post(int message)
    {
        ++posted_[message];
        PostAppMessage(this, message);
    }
    int Posted(int message) const { return Count(posted_, message); }
    int Handled(int message) const { return Count(handled_, message); }
    /// Messages posted and not handled yet.
    int Pending() const
    {
        int n = 0;
        for (const auto& [m, c] : posted_) {
            n += c - Count(handled_, m);
        }
        return n;
    }

protected:
    bool event(QEvent* e) override
    {
        const int m = AppMessageOf(e);
        if (m == 0) {
            return QObject::event(e);
        }
        HandlerDepth::Scope scope(depth_);
        ++handled_[m];
        if (auto it = handlers_.find(m); it != handlers_.end()) {
            it->second();
        }
        return true;
    }

private:
    static int Count(const std::map<int, int>& counts, int message)
    {
        const auto it = counts.find(message);
        return it == counts.end() ? 0 : it->second;
    }
    HandlerDepth& depth_;
    std::map<int, std::function<void()>> handlers_;
    std::map<int, int> posted_, handled_;
};

/// Records the prompts of a run (none are expected).
class RecordingPrompts : public PromptService {
public:
    RecordingPrompts() { previous_ = SetPromptService(this); }
    ~RecordingPrompts() override { SetPromptService(previous_); }
    void Show(const Prompt& p) override { shown.push_back(p.text); }
    std::vector<std::string> shown;

private:
    PromptService* previous_ = nullptr;
};

/// The virtual card on its instant clock, the engine, the completion receiver and the
/// main window's message handling, on the event loop of the test's thread.
class LongRunTest : public ::testing::Test {
protected:
    LongRunTest() : card(DefaultDut(), LoopbackClock::Instant), engine(card), dummy(engine, depth), window(depth) {}

    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.SetOutputVolume(100);
        engine.SetLineVolume(100, SoundEngine::kAllLines);
        window.On(kFinishCheck, [this] {
            // Done once nothing is left: no completion and no other message (this one
            // already counts as handled).
            if (dummy.PendingWaveInData() == 0 && window.Pending() == 0) {
                loop.quit();
            } else {
                window.Post(kFinishCheck);
            }
        });
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    void PlayTone(int freqHz)
    {
        GeneratorParams p;
        p.frequencyHz = freqHz;
        p.levelLeftDb = p.levelRightDb = -6;
        ASSERT_EQ(engine.StartPlayback(freqHz, -1, p), 0);  // looped for the whole run
    }

    /// Runs the event loop until the finish check finds nothing left. A loop in which no
    /// block or click has been handled for several seconds has stalled (a lost block, or
    /// a message that never arrives) and ends the run.
    void RunEventLoop()
    {
        int lastHandled = -1;
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
            const int handled = dummy.completions + TotalHandled();
            if (handled == lastHandled) {
                stalled = true;
                loop.quit();
            }
            lastHandled = handled;
        });
        watchdog.start(10000);
        loop.exec();
    }

    int TotalHandled() const
    {
        return window.Handled(WM_SPECTRUM_NEXT) + window.Handled(WM_SCOPE_NEXT) + window.Handled(WM_SWEEP_STEP) +
               window.Handled(kUserClick);
    }

    void PrintSummary(const char* what, int units, std::chrono::steady_clock::duration took, const HeapWatch& heap)
    {
        const double s = std::chrono::duration<double>(took).count();
        std::printf("[ long run ] %s: %d in %.1f s; held heap growth %zu bytes (bound %zu); %s\n", what, units, s,
                    heap.Growth(), kHeapGrowthBound, heap.Report().c_str());
    }

    QCoreApplication& app = App();  // first: the event loop below needs it
    HandlerDepth depth;
    LoopbackCard card;
    SoundEngine engine;
    CountingTdummy dummy;
    MessageWindow window;
    QEventLoop loop;
    RecordingPrompts prompts;
    Settings settings;
    bool stalled = false;
};

// ---- Spectrum ------------------------------------------------------------------------

/// Counts what the spectrum run hands to the diagram and keeps the level of one bin of
/// the first and the last spectrum.
class CountingSpectrumDiagram : public SpectrumDiagram {
public:
    bool PrepareDiagram(const std::string&, int, int, int, float&, float&) override { return false; }
    void ClearDiagramData() override {}
    void ResetDiagramScales() override {}
    void SetCurvesShown(bool, bool) override {}
    void SetAxesShown(bool, bool) override {}
    void SetLevelRange(float, float) override {}
    void GetFreqRange(int& min, int& max) const override { min = 20, max = 20000; }
    void GetLevelRange(float& min, float& max) const override { min = -110, max = 0; }
    bool StoreDiagramPoint(const float* v, int, int index, float) override
    {
        ++stores;
        if (index == watchedBin) {
            if (!firstLevel) {
                firstLevel = v[0];
            }
            lastLevel = v[0];
        }
        return false;
    }
    void SetResultLine(const std::string& t) override { resultLine = t; }
    std::string GetComment() const override { return "Kommentar: long run"; }
    void Repaint() override
    {
        ++repaints;
        if (keepOnePerBlock) {
            kept.push_front(static_cast<std::uint64_t>(repaints));  // one 16-byte node per block
        }
        if (onRepaint) {
            onRepaint();
        }
    }
    void Show(bool) override {}

    int stores = 0, repaints = 0;
    int watchedBin = 64;
    std::optional<float> firstLevel;
    float lastLevel = 0.0f;
    std::string resultLine;
    bool keepOnePerBlock = false;
    std::forward_list<std::uint64_t> kept;
    std::function<void()> onRepaint;
};

class PostingSpectrumView : public SpectrumPageView {
public:
    explicit PostingSpectrumView(MessageWindow& w) : window_(w) {}
    void PostSpectrumNext() override { window_.Post(WM_SPECTRUM_NEXT); }

private:
    MessageWindow& window_;
};

struct SpectrumOutcome {
    HeapWatch heap;
    std::chrono::steady_clock::duration took{};
};

class SpectrumLongRunTest : public LongRunTest {
protected:
    /// Runs `blocks` blocks in continuous mode; the user clicks STOP when the last of
    /// them is shown. Returns the heap samples and the time taken.
    SpectrumOutcome RunSpectrum(int blocks)
    {
        SpectrumOutcome out{HeapWatch(blocks)};
        SetDeviceFormat(engine.InDeviceFormats()[0], 16, false, 48000);
        SetDeviceFormat(engine.OutDeviceFormats()[0], 16, false, 48000);
        settings.Fft.FftPoints = 1024;
        settings.Fft.FftWindow = 4;
        settings.Fft.FftAverage = 1;
        settings.Analysis.ThdMeasure = true;
        PlayTone(3000);  // bin 64 of 1024 points at 48 kHz

        window.On(WM_SPECTRUM_NEXT, [&] {
            out.heap.Tick();
            run.SpectrumNext();
        });
        window.On(kUserClick, [&] {
            run.StopButtonClick();
            window.Post(kFinishCheck);
        });
        diagram.onRepaint = [&] {
            if (diagram.repaints == blocks) {
                window.Post(kUserClick);
            }
        };

        const auto start = std::chrono::steady_clock::now();
        run.EnterSpectrumPage();
        run.RunningGroupClick(1);
        run.StartButtonClick();
        EXPECT_TRUE(run.Running);
        RunEventLoop();
        out.took = std::chrono::steady_clock::now() - start;
        return out;
    }

    CountingSpectrumDiagram diagram;
    PostingSpectrumView view{window};
    WeightingFilter filter;
    CorrectionCurve inCorrection;
    SpectrumRun run{engine, settings, diagram, view, filter, inCorrection};
};

TEST_F(SpectrumLongRunTest, ContinuousModeAccountsForEveryBlockKeepsMemoryFlatAndNeverNestsHandlers)
{
    const int blocks = SpectrumBlocks();
    const SpectrumOutcome out = RunSpectrum(blocks);
    PrintSummary("spectrum blocks", blocks, out.took, out.heap);
    ASSERT_FALSE(stalled) << "the loop stood still after " << run.BlocksTaken() << " blocks";

    // Every block shown was analysed once and drawn completely.
    EXPECT_EQ(run.BlocksTaken(), blocks);
    EXPECT_EQ(run.ResultsShown(), blocks);
    EXPECT_EQ(diagram.repaints, blocks);
    EXPECT_EQ(diagram.stores, blocks * 512);
    // The start click recorded the first block, each shown block asked for one more; the
    // one asked for as STOP was clicked is recorded and left unanalysed.
    EXPECT_EQ(window.Posted(WM_SPECTRUM_NEXT), blocks);
    EXPECT_EQ(window.Handled(WM_SPECTRUM_NEXT), blocks);
    // (and those begun before the tone had arrived and settled, recorded again at once)
    EXPECT_EQ(card.PostedInData(), static_cast<unsigned>(blocks + 1 + engine.BlocksRecordedAgain()));
    EXPECT_EQ(dummy.completions, blocks + 1 + engine.BlocksRecordedAgain());
    EXPECT_EQ(dummy.PendingWaveInData(), 0);
    EXPECT_FALSE(run.Running);
    EXPECT_FALSE(engine.CaptureOpen());

    EXPECT_EQ(depth.deepest, 1);
    EXPECT_EQ(depth.depth, 0);

    ASSERT_GE(out.heap.Samples(), 9u);
    EXPECT_LT(out.heap.Growth(), kHeapGrowthBound) << out.heap.Report();

    // The last spectrum still reads the tone where the first did.
    ASSERT_TRUE(diagram.firstLevel.has_value());
    EXPECT_GT(*diagram.firstLevel, -40.0f);
    EXPECT_NEAR(diagram.lastLevel, *diagram.firstLevel, 0.05);
    EXPECT_EQ(diagram.resultLine.rfind("THD+N: ", 0), 0u) << diagram.resultLine;
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SpectrumLongRunTest, HeapWatchSeesOneSmallAllocationKeptPerBlock)
{
    // The check above must be able to fail: a diagram that keeps one 16-byte node per
    // block (held, not leaked, so the leak checker stays quiet) exceeds the bound.
    diagram.keepOnePerBlock = true;
    const int blocks = 1000;
    const SpectrumOutcome out = RunSpectrum(blocks);
    ASSERT_FALSE(stalled);
    ASSERT_EQ(run.BlocksTaken(), blocks);
    EXPECT_GT(out.heap.Growth(), kHeapGrowthBound) << out.heap.Report();
    EXPECT_EQ(depth.deepest, 1);
}

// ---- Oscilloscope ----------------------------------------------------------------------

/// Counts the points and repaints of the oscilloscope screen.
class CountingScopeDisplay : public ScopeDisplay {
public:
    bool PrepareScope(const std::string&, int p, bool, float, float, float, float) override
    {
        points = p;
        return p <= 0;
    }
    bool StoreScopePoint(int i, bool, float, float, float, float, float) override
    {
        ++stores;
        return i < 0 || i >= points;
    }
    void RepaintScope() override
    {
        ++repaints;
        if (onRepaint) {
            onRepaint();
        }
    }
    int points = 0, stores = 0, repaints = 0;
    std::function<void()> onRepaint;
};

class PostingScopeControls : public ScopePageControls {
public:
    explicit PostingScopeControls(MessageWindow& w) : window_(w) {}
    void ShowScopeView(bool) override {}
    void SetScopeMenusEnabled(bool, bool) override {}
    void SetTimebaseCaption(const std::string&) override {}
    void SetVoltsPerDivCaption(int, const std::string&) override {}
    void SetOverloadText(const std::string&) override {}
    void SetPositionSliders(int, int) override {}
    void SetScopeChecks(bool, bool, bool, bool) override {}
    void PostScopeNext() override { window_.Post(WM_SCOPE_NEXT); }
    bool ScopePageCurrent() const override { return true; }

private:
    MessageWindow& window_;
};

class ScopeLongRunTest : public LongRunTest {
protected:
    CountingScopeDisplay display;
    PostingScopeControls controls{window};
    ScopeRun run{engine, settings, display, controls};
};

TEST_F(ScopeLongRunTest, BlockLoopAccountsForEveryBlockKeepsMemoryFlatAndNeverNestsHandlers)
{
    const int blocks = ScopeBlocks();
    HeapWatch heap(blocks);
    int triggered = 0;
    PlayTone(1000);
    window.On(WM_SCOPE_NEXT, [&] {
        heap.Tick();
        run.OnScopeNext();
    });
    window.On(kUserClick, [&] {
        run.StopOrun();
        window.Post(kFinishCheck);
    });
    display.onRepaint = [&] {
        triggered += run.LastTriggered() ? 1 : 0;
        if (display.repaints == blocks) {
            window.Post(kUserClick);
        }
    };

    const auto start = std::chrono::steady_clock::now();
    run.EnterScopePage();
    RunEventLoop();
    PrintSummary("oscilloscope blocks", blocks, std::chrono::steady_clock::now() - start, heap);
    ASSERT_FALSE(stalled) << "the loop stood still after " << display.repaints << " blocks";

    // The page asked for the first block, each block for the next; the one asked for as
    // the loop was stopped records nothing.
    EXPECT_EQ(window.Posted(WM_SCOPE_NEXT), blocks + 1);
    EXPECT_EQ(window.Handled(WM_SCOPE_NEXT), blocks + 1);
    EXPECT_EQ(card.PostedInData(), static_cast<unsigned>(blocks + engine.BlocksRecordedAgain()));
    EXPECT_EQ(dummy.completions, blocks + engine.BlocksRecordedAgain());
    EXPECT_EQ(display.repaints, blocks);
    ASSERT_GT(display.points, 0);
    EXPECT_EQ(display.stores, blocks * display.points);
    EXPECT_EQ(dummy.PendingWaveInData(), 0);
    EXPECT_FALSE(run.ScopeRunning());
    EXPECT_FALSE(engine.CaptureOpen());
    // A steady tone at half scale triggers every block.
    EXPECT_EQ(triggered, blocks);

    EXPECT_EQ(depth.deepest, 1);
    EXPECT_EQ(depth.depth, 0);
    ASSERT_GE(heap.Samples(), 9u);
    EXPECT_LT(heap.Growth(), kHeapGrowthBound) << heap.Report();
    EXPECT_TRUE(prompts.shown.empty());
}

// ---- Sweep -----------------------------------------------------------------------------

/// Keeps the points of the current sweep by index, and counts sweeps whose indices were
/// each stored exactly once.
class CountingSweepDiagram : public SweepDiagram {
public:
    bool PrepareDiagram(const std::string&, int, int, int, float&, float&) override { return false; }
    void ClearDiagramData() override { points.clear(); }
    void ResetDiagramScales() override {}
    void SetCurvesShown(bool, bool) override {}
    void SetAxesShown(bool, bool) override {}
    void SetLevelRange(float, float) override {}
    void SetSecondRange(float, float) override {}
    void GetLevelRange(float& min, float& max) const override { min = -45, max = 5; }
    bool StoreDiagramPoint(const float* v, int, int index, float f) override
    {
        ++stores;
        auto& p = points[index];
        ++p.times;
        p.f = f;
        p.level = v[0];
        p.phase = v[1];
        return false;
    }
    void SetResultLine(const std::string&) override {}
    std::string GetComment() const override { return "Kommentar: long run"; }
    void Repaint() override {}
    void Show(bool) override {}

    struct Point {
        int times = 0;
        float f = 0, level = 0, phase = 0;
    };
    std::map<int, Point> points;
    int stores = 0;
};

class PostingSweepView : public SweepPageView {
public:
    explicit PostingSweepView(MessageWindow& w) : window_(w) {}
    void PostSweepStep() override { window_.Post(WM_SWEEP_STEP); }
    void SetSweepLockedControlsEnabled(bool enabled) override
    {
        if (enabled && onUnlocked) {
            onUnlocked();
        }
    }
    std::function<void()> onUnlocked;

private:
    MessageWindow& window_;
};

class SweepLongRunTest : public LongRunTest {
protected:
    CountingSweepDiagram diagram;
    PostingSweepView view{window};
    CorrectionCurve inCorrection, outCorrection;
    SweepRun run{engine, settings, diagram, view, inCorrection, outCorrection};
};

TEST_F(SweepLongRunTest, CompleteSweepsAccountForEveryStepKeepMemoryFlatAndNeverNestHandlers)
{
    const int sweeps = Sweeps();
    constexpr int kSteps = 30;
    SetDeviceFormat(engine.InDeviceFormats()[0], 16, false, 48000);
    SetDeviceFormat(engine.OutDeviceFormats()[0], 16, false, 48000);
    settings.Volume.GenOutVolume = 100;
    settings.Sweep.SweepFrom = 20;
    settings.Sweep.SweepTo = 20000;
    settings.Sweep.SweepSteps = kSteps;
    settings.Sweep.SweepPhase = true;
    settings.Sweep.SweepLevel = -6.0f;

    HeapWatch heap(sweeps);
    int started = 0, complete = 0, ended = 0;
    std::map<int, CountingSweepDiagram::Point> first;
    window.On(WM_SWEEP_STEP, [&] { run.SweepStep(); });
    window.On(kUserClick, [&] {
        heap.Tick();
        ++started;
        run.wobbelnButClick();
    });
    // The controls unlock once per sweep, when its last step is done.
    view.onUnlocked = [&] {
        if (run.SweepRunning || run.SweepToneOn) {
            return;  // not the end of a sweep
        }
        ++ended;
        bool once = diagram.points.size() == kSteps + 1;
        for (int k = 0; k <= kSteps && once; ++k) {
            once = diagram.points.count(k) == 1 && diagram.points[k].times == 1;
        }
        complete += once ? 1 : 0;
        if (first.empty()) {
            first = diagram.points;
        }
        window.Post(ended < sweeps ? kUserClick : kFinishCheck);
    };

    const auto start = std::chrono::steady_clock::now();
    run.EnterGeneratorPage();
    window.Post(kUserClick);
    RunEventLoop();
    PrintSummary("sweeps", sweeps, std::chrono::steady_clock::now() - start, heap);
    ASSERT_FALSE(stalled) << "the loop stood still after " << ended << " sweeps";

    const int steps = sweeps * (kSteps + 1);
    EXPECT_EQ(started, sweeps);
    EXPECT_EQ(ended, sweeps);
    EXPECT_EQ(complete, sweeps);
    EXPECT_EQ(window.Posted(WM_SWEEP_STEP), steps);
    EXPECT_EQ(window.Handled(WM_SWEEP_STEP), steps);
    EXPECT_EQ(card.PostedInData(), static_cast<unsigned>(steps + engine.BlocksRecordedAgain()));
    EXPECT_EQ(dummy.completions, steps + engine.BlocksRecordedAgain());
    EXPECT_EQ(run.PointsStored(), steps);
    EXPECT_EQ(diagram.stores, steps);
    EXPECT_EQ(dummy.PendingWaveInData(), 0);
    EXPECT_FALSE(run.SweepRunning);
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_FALSE(engine.CaptureOpen());

    EXPECT_EQ(depth.deepest, 1);
    EXPECT_EQ(depth.depth, 0);
    ASSERT_GE(heap.Samples(), 9u);
    EXPECT_LT(heap.Growth(), kHeapGrowthBound) << heap.Report();
    EXPECT_TRUE(prompts.shown.empty());

    // The last sweep measures what the first did, and the pass band reads 0 dB.
    ASSERT_EQ(first.size(), diagram.points.size());
    for (const auto& [k, p] : diagram.points) {
        EXPECT_EQ(p.f, first[k].f) << k;
        EXPECT_NEAR(p.level, first[k].level, 0.05) << p.f;
        EXPECT_NEAR(p.phase, first[k].phase, 0.5) << p.f;
        if (p.f >= 200.0f && p.f <= 2000.0f) {
            EXPECT_NEAR(p.level, 0.0, 0.2) << p.f;
        }
    }
}

}  // namespace
}  // namespace sonvera
