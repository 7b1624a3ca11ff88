// Device faults in the middle of the main window's running loops (spectrum analyser,
// oscilloscope, calibration level display), on the virtual card's instant clock: the
// exact error boxes, the controls unlocked afterwards, loops that go on where a block
// still came, and the next start (or "&Reset Soundsystem") measuring again.

#include <gtest/gtest.h>

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "scope/eichdlg.h"
#include "tests/ui/programtest.h"
#include "tests/ui/uitestsupport.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

/// The calls of one capture cycle, in the order the engine makes them.
enum class Phase { Start, Take };
struct CaptureCall {
    WaveCall call;
    Phase phase;
    const char* name;
};
constexpr CaptureCall kCaptureCalls[] = {
    {WaveCall::WaveInOpenQuery, Phase::Start, "open (format query)"},
    {WaveCall::WaveInOpen, Phase::Start, "open"},
    {WaveCall::WaveInPrepareHeader, Phase::Start, "prepare"},
    {WaveCall::WaveInAddBuffer, Phase::Start, "add buffer"},
    {WaveCall::WaveInStart, Phase::Start, "start"},
    {WaveCall::WaveInUnprepareHeader, Phase::Take, "unprepare"},
    {WaveCall::WaveInReset, Phase::Take, "reset"},
    {WaveCall::WaveInClose, Phase::Take, "close"},
};
constexpr MmResult kCodes[] = {kMmError, kMmAllocated, kMmNoDriver, kMmNoMem, kWaveBadFormat};

class FaultMatrixTest : public test::ProgramTest {
protected:
    void Configure(Settings& s) override
    {
        s.Fft.FftPoints = 512;  // small blocks keep the matrix fast
    }

    SpectrumRun& Run() { return Main().Spectrum(); }

    template <class T>
    T* Find(const char* name)
    {
        T* found = Main().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    bool Enabled(const char* action) { return Find<QAction>(action)->isEnabled(); }
    bool MenuEnabled(const char* menu) { return Find<QMenu>(menu)->isEnabled(); }

    /// Lets the card post `blocks` more completions; false when the loop stalls.
    bool RunBlocks(unsigned blocks)
    {
        const unsigned target = card.PostedInData() + blocks;
        return test::ProcessUntil([&] { return card.PostedInData() >= target; }, 400);
    }
    /// True when no block is recorded within a generous number of event rounds.
    bool Stalled()
    {
        const unsigned posted = card.PostedInData();
        test::ProcessEvents(60);
        return card.PostedInData() == posted;
    }

    /// The one error box a device fault gives: lead + the card's text + ")", with Help.
    void ExpectOneDeviceErrorBox(const std::string& lead, MmResult code)
    {
        ASSERT_EQ(prompts.shown.size(), 1u);
        const Prompt& p = prompts.shown[0];
        EXPECT_EQ(p.kind, PromptKind::Error);
        EXPECT_TRUE(p.helpButton);
        EXPECT_EQ(p.helpContext, 17);
        std::string text;
        ASSERT_EQ(card.WaveInGetErrorText(code, text), kMmNoError);
        EXPECT_EQ(p.text, lead + text + ")");
    }

    /// Everything a spectrum run locks is usable again.
    void ExpectSpectrumUnlocked()
    {
        EXPECT_FALSE(Run().Running);
        EXPECT_TRUE(Find<QPushButton>("StartButton")->isEnabled());
        EXPECT_TRUE(Find<QPushButton>("Binpopt")->isEnabled());
        EXPECT_TRUE(Find<QSpinBox>("AverVal")->isEnabled());
        EXPECT_TRUE(Find<QGroupBox>("FFTpointsgroup")->isEnabled());
        EXPECT_TRUE(Enabled("Eichen1"));
        EXPECT_TRUE(Enabled("AudioInParameter1"));
        EXPECT_TRUE(Enabled("AudioOutParameter1"));
        EXPECT_TRUE(MenuEnabled("AudioDevices1"));
        EXPECT_TRUE(MenuEnabled("AudioOutDevice1"));
        EXPECT_TRUE(Enabled("Reset1"));
    }

    /// The bin of the highest line of the shown curve 1 (the first 256 bins).
    int PeakBin()
    {
        const DiagramModel& model = program->Diagram()->Model();
        int peak = 1;
        for (int i = 1; i < 256; ++i) {
            if (model.Curve1Array[static_cast<std::size_t>(i)] > model.Curve1Array[static_cast<std::size_t>(peak)]) {
                peak = i;
            }
        }
        return peak;
    }

    /// A tone at bin 128 of 512 points at 44100 Hz, playing until stopped.
    void PlayBin128Tone()
    {
        GeneratorParams tone;
        tone.frequencyHz = 11025;
        tone.levelLeftDb = -6;
        tone.levelRightDb = -6;
        ASSERT_EQ(program->Engine().StartPlayback(11025, -1, tone), 0);  // until stopped
    }

    /// One single-mode spectrum of a tone: the block arrives and its peak lies at the
    /// tone's bin; no box, everything unlocked, the device closed again.
    void MeasureAgain()
    {
        prompts.shown.clear();
        PlayBin128Tone();
        Click("RunningGroup0");
        Find<QSpinBox>("AverVal")->setValue(1);
        const int shown = Run().ResultsShown();
        Click("StartButton");
        ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }, 400));
        EXPECT_EQ(Run().ResultsShown(), shown + 1);
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_EQ(PeakBin(), 128);
        EXPECT_EQ(program->Engine().EngineError(), 0);
        EXPECT_FALSE(program->Engine().CaptureOpen());
        EXPECT_FALSE(program->Engine().CaptureStarted());
        program->Engine().StopPlayback();
        ExpectSpectrumUnlocked();
    }

    /// "&Reset Soundsystem" from the menu, then one single-mode spectrum of a tone.
    void ResetAndMeasureAgain()
    {
        Find<QAction>("Reset1")->trigger();
        test::ProcessEvents(10);
        ASSERT_TRUE(program->Engine().Started());
        EXPECT_FALSE(program->Engine().CaptureOpen());
        EXPECT_FALSE(program->Engine().CaptureStarted());
        MeasureAgain();
    }

    void StartContinuousRun()
    {
        Click("RunningGroup1");
        Click("StartButton");
        ASSERT_TRUE(Run().Running);
        ASSERT_TRUE(RunBlocks(2));
        ASSERT_TRUE(Run().Running);
    }

};

// ---- Spectrum analyser -------------------------------------------------------------------

TEST_F(FaultMatrixTest, SpectrumStartFailingAtTheFirstBlockShowsTheStartBoxAndUnlocks)
{
    for (const CaptureCall& c : kCaptureCalls) {
        if (c.phase != Phase::Start) continue;
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << c.name << " code " << code);
            prompts.shown.clear();
            Click("RunningGroup1");
            card.InjectFault(c.call, code);
            Click("StartButton");
            test::ProcessEvents(5);
            ExpectOneDeviceErrorBox("Probleme beim Sample (", code);
            ExpectSpectrumUnlocked();
            ResetAndMeasureAgain();
        }
    }
}

/// The lines a failing start call adds to the device report (the feature list).
std::vector<std::string> ReportLines(WaveCall call, MmResult code)
{
    std::string text;
    LoopbackCard().WaveInGetErrorText(code, text);
    switch (call) {
    case WaveCall::WaveInOpenQuery: return {"InFormatQuery Error "};
    case WaveCall::WaveInOpen: return {"waveinOpen Error " + std::to_string(code), text};
    case WaveCall::WaveInAddBuffer: return {"waveInAddBuffer Error " + std::to_string(code), text};
    case WaveCall::WaveInStart: return {"waveInStart Error " + std::to_string(code), text};
    default: return {};
    }
}

TEST_F(FaultMatrixTest, SpectrumStartCallsFailingInARunningLoopShowTheOpenBoxAndUnlock)
{
    for (const CaptureCall& c : kCaptureCalls) {
        if (c.phase != Phase::Start) continue;
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << c.name << " code " << code);
            prompts.shown.clear();
            StartContinuousRun();
            const std::size_t reportBefore = program->Engine().DeviceReport().size();
            card.InjectFault(c.call, code);
            ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }, 400));
            ExpectOneDeviceErrorBox("Probleme beim Beginn Samplen (", code);
            const auto& report = program->Engine().DeviceReport();
            EXPECT_EQ(std::vector<std::string>(report.begin() + static_cast<std::ptrdiff_t>(reportBefore), report.end()),
                      ReportLines(c.call, code));
            ExpectSpectrumUnlocked();
            ResetAndMeasureAgain();
        }
    }
}

TEST_F(FaultMatrixTest, SpectrumOpenBoxInEnglishAndDuringAveraging)
{
    Find<QAction>("deutschEnglish1")->trigger();
    test::ProcessEvents(5);
    Click("RunningGroup0");
    Find<QSpinBox>("AverVal")->setValue(6);
    prompts.shown.clear();
    Click("StartButton");
    ASSERT_TRUE(RunBlocks(3));
    ASSERT_TRUE(Run().Running);
    card.InjectFault(WaveCall::WaveInOpen, kMmNoDriver);
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }, 400));
    ExpectOneDeviceErrorBox("Problems at Open Sampling (", kMmNoDriver);
    // The count that was running down shows the averaging count again.
    EXPECT_EQ(Find<QSpinBox>("AverVal")->value(), 6);
    EXPECT_EQ(Run().AverageRemaining, 6);
    ExpectSpectrumUnlocked();
    ResetAndMeasureAgain();
}

TEST_F(FaultMatrixTest, SpectrumUnprepareFailingOnceIsHarmlessAndTheRunGoesOn)
{
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        prompts.shown.clear();
        StartContinuousRun();
        const int taken = Run().BlocksTaken();
        card.InjectFault(WaveCall::WaveInUnprepareHeader, code);
        ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= taken + 3; }, 400));
        EXPECT_TRUE(Run().Running);
        EXPECT_TRUE(prompts.shown.empty());
        Click("StopButton");
        test::ProcessEvents(5);
        ExpectSpectrumUnlocked();
    }
}

TEST_F(FaultMatrixTest, SpectrumResetFailingIsSilentAndTheRunGoesOnWithTheRightSpectrum)
{
    PlayBin128Tone();
    Find<QSpinBox>("AverVal")->setValue(1);
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        prompts.shown.clear();
        StartContinuousRun();
        const int taken = Run().BlocksTaken();
        const int shown = Run().ResultsShown();
        card.InjectFault(WaveCall::WaveInReset, code);
        // The block of the failed reset is still analysed; the next start closes the
        // device that stayed marked as recording, and the run goes on by itself.
        ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= taken + 4; }, 400));
        EXPECT_TRUE(Run().Running);
        EXPECT_GE(Run().ResultsShown(), shown + 4);
        EXPECT_EQ(PeakBin(), 128);
        EXPECT_EQ(program->Engine().EngineError(), 0);
        EXPECT_TRUE(prompts.shown.empty());
        Click("StopButton");
        test::ProcessEvents(5);
        ExpectSpectrumUnlocked();
    }
    program->Engine().StopPlayback();
    MeasureAgain();
}

TEST_F(FaultMatrixTest, SpectrumCloseFailingEndsTheRunWithoutABlockAndTheNextStartMeasuresWithoutAReset)
{
    for (MmResult code : kCodes) {
        SCOPED_TRACE(code);
        prompts.shown.clear();
        StartContinuousRun();
        const int taken = Run().BlocksTaken();
        card.InjectFault(WaveCall::WaveInClose, code);
        ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }, 400));
        EXPECT_LE(Run().BlocksTaken(), taken + 1);  // the failed block is not analysed
        EXPECT_EQ(program->Engine().EngineError(), SoundEngine::kEngineCloseFailed);
        EXPECT_TRUE(program->Engine().CaptureOpen());
        EXPECT_TRUE(prompts.shown.empty());
        ExpectSpectrumUnlocked();
        EXPECT_TRUE(Stalled());
        // START closes the device left open and measures: no reset needed.
        MeasureAgain();
    }
}

TEST_F(FaultMatrixTest, ADeviceThatStaysUnclosableMakesStartSaySoAndStartMeasuresOnceItCloses)
{
    StartContinuousRun();
    card.InjectFault(WaveCall::WaveInClose, kMmError, true);
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }, 400));
    EXPECT_TRUE(prompts.shown.empty());
    ASSERT_TRUE(program->Engine().CaptureOpen());

    // START tries to close the device first; that fails again, and the start box says
    // why instead of recording nothing without a word.
    Click("RunningGroup0");
    Click("StartButton");
    test::ProcessEvents(5);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.shown[0].helpButton);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text, "Probleme beim Sample (The input device could not be closed.)");
    EXPECT_EQ(program->Engine().EngineError(), SoundEngine::kEngineCloseFailed);
    EXPECT_TRUE(Stalled());
    ExpectSpectrumUnlocked();

    // Once the device closes again, START measures without a reset.
    card.ClearFaults();
    MeasureAgain();
}

TEST_F(FaultMatrixTest, SpectrumCloseFailingWhileAveragingSkipsThatBlockAndTheAverageCompletes)
{
    PlayBin128Tone();
    Click("RunningGroup0");
    Find<QSpinBox>("AverVal")->setValue(5);
    const int taken = Run().BlocksTaken();
    const int shown = Run().ResultsShown();
    Click("StartButton");
    ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= taken + 2; }, 400));
    card.InjectFault(WaveCall::WaveInClose, kMmError);
    // An average was pending, so the run asks for another block; that start closes the
    // device and records. The failed block is left out of the average, which still
    // gets its five good blocks, and the single run ends by itself.
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }, 400));
    EXPECT_EQ(Run().BlocksTaken(), taken + 5);
    EXPECT_EQ(Run().ResultsShown(), shown + 1);
    EXPECT_EQ(PeakBin(), 128);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(Find<QSpinBox>("AverVal")->value(), 5);
    EXPECT_FALSE(program->Engine().CaptureOpen());
    program->Engine().StopPlayback();
    ExpectSpectrumUnlocked();
    ResetAndMeasureAgain();
}

// ---- Oscilloscope --------------------------------------------------------------------------

class ScopeFaultTest : public FaultMatrixTest {
protected:
    void SetUp() override
    {
        FaultMatrixTest::SetUp();
        Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(2);
        test::ProcessEvents(5);
        ASSERT_TRUE(Main().Scope().ScopeRunning());
        ASSERT_TRUE(RunBlocks(2));
    }

    /// The time-base button restarts the stopped loop: without a reset, new blocks come.
    void RestartScopeWithTheTimebaseButton()
    {
        EXPECT_FALSE(Main().Scope().ScopeRunning());
        prompts.shown.clear();
        Click(down_ ? "SpinButton3Down" : "SpinButton3Up");
        down_ = !down_;
        EXPECT_TRUE(Main().Scope().ScopeRunning());
        EXPECT_TRUE(RunBlocks(3));
        EXPECT_TRUE(Main().Scope().ScopeRunning());
        EXPECT_TRUE(prompts.shown.empty());
    }

    /// The reset command restarts the sound system and the trace goes on by itself.
    void ResetAndSeeTheScopeGoOn()
    {
        prompts.shown.clear();
        Find<QAction>("Reset1")->trigger();
        EXPECT_TRUE(Main().Scope().ScopeRunning());
        EXPECT_TRUE(RunBlocks(3));
        EXPECT_TRUE(Main().Scope().ScopeRunning());
        EXPECT_TRUE(prompts.shown.empty());
    }

    void ExpectScopeControlsUsable()
    {
        EXPECT_TRUE(Find<QToolButton>("SpinButton3Up")->isEnabled());
        EXPECT_TRUE(Find<QScrollBar>("SCRtrig")->isEnabled());
        EXPECT_TRUE(Enabled("Reset1"));
        EXPECT_TRUE(Find<QTabWidget>("TabbedNotebook1")->isEnabled());
    }

    bool down_ = false;
};

TEST_F(ScopeFaultTest, StartCallsFailingStopTheLoopWithTheOpenBoxAndTheTimebaseButtonOrResetRestartsIt)
{
    for (const CaptureCall& c : kCaptureCalls) {
        if (c.phase != Phase::Start) continue;
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << c.name << " code " << code);
            prompts.shown.clear();
            card.InjectFault(c.call, code);
            ASSERT_TRUE(test::ProcessUntil([&] { return !Main().Scope().ScopeRunning(); }, 400));
            ExpectOneDeviceErrorBox("Probleme beim Beginn Samplen (", code);
            EXPECT_TRUE(Stalled());
            ExpectScopeControlsUsable();
            RestartScopeWithTheTimebaseButton();
            ResetAndSeeTheScopeGoOn();
        }
    }
}

TEST_F(ScopeFaultTest, TakeCallsFailingAreSilentAndOnlyAFailedCloseStopsTheLoop)
{
    for (const CaptureCall& c : kCaptureCalls) {
        if (c.phase != Phase::Take) continue;
        for (MmResult code : kCodes) {
            SCOPED_TRACE(testing::Message() << c.name << " code " << code);
            prompts.shown.clear();
            card.InjectFault(c.call, code);
            if (c.call == WaveCall::WaveInClose) {
                // No block to read, and the loop does not ask again for a device it
                // could not close; the time-base button starts it again.
                ASSERT_TRUE(test::ProcessUntil([&] { return !Main().Scope().ScopeRunning(); }, 400));
                EXPECT_TRUE(Stalled());
                EXPECT_TRUE(prompts.shown.empty());
                ExpectScopeControlsUsable();
                RestartScopeWithTheTimebaseButton();
            } else {
                // A failed unprepare is retried after the reset; after a failed reset the
                // next start closes the device first. Either way the loop goes on.
                EXPECT_TRUE(RunBlocks(4));
                EXPECT_TRUE(Main().Scope().ScopeRunning());
                EXPECT_EQ(program->Engine().EngineError(), 0);
            }
            EXPECT_TRUE(prompts.shown.empty());
            ExpectScopeControlsUsable();
            ResetAndSeeTheScopeGoOn();
        }
    }
}

TEST_F(ScopeFaultTest, ADeviceThatStaysUnclosableGivesTheOpenBoxWhenTheLoopIsRestarted)
{
    prompts.shown.clear();
    card.InjectFault(WaveCall::WaveInClose, kMmError, true);
    ASSERT_TRUE(test::ProcessUntil([&] { return !Main().Scope().ScopeRunning(); }, 400));
    EXPECT_TRUE(prompts.shown.empty());
    Click("SpinButton3Up");
    down_ = true;
    test::ProcessEvents(5);
    EXPECT_FALSE(Main().Scope().ScopeRunning());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text, "Probleme beim Beginn Samplen (The input device could not be closed.)");
    ExpectScopeControlsUsable();
    card.ClearFaults();
    RestartScopeWithTheTimebaseButton();
}

TEST_F(ScopeFaultTest, AFaultInEnglishUsesTheEnglishLead)
{
    Find<QAction>("deutschEnglish1")->trigger();
    test::ProcessEvents(5);
    prompts.shown.clear();
    if (!Main().Scope().ScopeRunning()) {
        Click("SpinButton3Up");
        down_ = true;
    }
    ASSERT_TRUE(RunBlocks(2));
    card.InjectFault(WaveCall::WaveInStart, kMmNoMem);
    ASSERT_TRUE(test::ProcessUntil([&] { return !Main().Scope().ScopeRunning(); }, 400));
    ExpectOneDeviceErrorBox("Problems at Open Sampling (", kMmNoMem);
    ResetAndSeeTheScopeGoOn();
}

// ---- Calibration level display ---------------------------------------------------------------

class CalibrationFaultTest : public FaultMatrixTest {
protected:
    /// Runs the calibration command with `inside` working the open dialog; the dialog is
    /// cancelled afterwards if `inside` left it open.
    void RunCalibration(const std::function<void(TEichDlg&)>& inside)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<TEichDlg*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                ADD_FAILURE() << "no calibration dialog open";
                if (QWidget* other = QApplication::activeModalWidget()) other->close();
                return;
            }
            seen = true;
            inside(*dialog);
            if (dialog->isVisible()) {
                dialog->reject();
            }
        });
        Main().Eichen1Click();
        EXPECT_TRUE(seen);
    }
    static void Press(TEichDlg& dialog, const char* button)
    {
        dialog.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }
    static QString Label3(TEichDlg& dialog) { return dialog.findChild<QLabel*>(QStringLiteral("Label3"))->text(); }

    /// The level display runs again (without a reset) and OK is accepted.
    void CalibrateAgain()
    {
        prompts.shown.clear();
        RunCalibration([&](TEichDlg& dialog) {
            Press(dialog, "Button1");
            EXPECT_TRUE(test::ProcessUntil([&] { return dialog.CalibReading(); }, 400));
            EXPECT_TRUE(RunBlocks(2));
            Press(dialog, "Button2");
            Press(dialog, "OKBtn");
            EXPECT_FALSE(dialog.isVisible());
        });
        EXPECT_TRUE(prompts.shown.empty());
    }
};

TEST_F(CalibrationFaultTest, EveryCaptureCallFailingInTheLevelLoopIsSilentEndStopsItAndTheNextCalibrationReads)
{
    for (const CaptureCall& c : kCaptureCalls) {
        for (MmResult code : {kMmAllocated, kWaveBadFormat}) {
            SCOPED_TRACE(testing::Message() << c.name << " code " << code);
            prompts.shown.clear();
            RunCalibration([&](TEichDlg& dialog) {
                Press(dialog, "Button1");  // Begin
                ASSERT_TRUE(test::ProcessUntil([&] { return dialog.CalibReading(); }, 400));
                ASSERT_TRUE(RunBlocks(2));
                card.InjectFault(c.call, code);
                if (c.call == WaveCall::WaveInUnprepareHeader || c.call == WaveCall::WaveInReset) {
                    // A failed unprepare is retried; after a failed reset the next start
                    // closes the device first. The display goes on.
                    EXPECT_TRUE(RunBlocks(3));
                    EXPECT_TRUE(dialog.CalibRunning());
                } else {
                    // A start that fails, or a block that cannot be read: the loop waits.
                    test::ProcessEvents(20);
                    const QString shown = Label3(dialog);
                    EXPECT_TRUE(Stalled());
                    EXPECT_EQ(Label3(dialog), shown);
                    EXPECT_TRUE(dialog.CalibRunning());
                }
                EXPECT_TRUE(prompts.shown.empty());
                Press(dialog, "Button2");  // End
                EXPECT_FALSE(dialog.CalibRunning());
                test::ProcessEvents(10);
                EXPECT_TRUE(Stalled());
                Press(dialog, "CancelBtn");
            });
            EXPECT_TRUE(Enabled("Eichen1"));
            EXPECT_TRUE(Find<QPushButton>("StartButton")->isEnabled());
            // The next start closes whatever the fault left open.
            CalibrateAgain();
        }
    }
}

// ---- Sweep on the generator page ---------------------------------------------------------------

class SweepPageFaultTest : public FaultMatrixTest {
protected:
    void SetUp() override
    {
        FaultMatrixTest::SetUp();
        SweepSettings& s = Main().AppSettings().Sweep;
        s.SweepFrom = 1000;
        s.SweepTo = 5000;
        s.SweepSteps = 4;  // 1000 .. 5000 Hz in 1000 Hz steps
        s.SweepLinear = true;
        s.SweepWithRef = true;
        s.SweepPhase = false;
        s.SweepLevel = -6.0f;
        s.SweepSettleTime = 0;
        Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(1);
        test::ProcessEvents(5);
    }

    SweepRun& Sweep() { return Main().Sweep(); }
    bool SweepEnds()
    {
        return test::ProcessUntil([&] { return !Sweep().SweepRunning && !Sweep().SweepToneOn; }, 4000);
    }

    void ExpectSweepUnlocked()
    {
        EXPECT_FALSE(Sweep().SweepRunning);
        EXPECT_FALSE(Sweep().SweepToneOn);
        EXPECT_FALSE(program->Engine().PlaybackActive());
        EXPECT_TRUE(Find<QPushButton>("wobbelnBut")->isEnabled());
        EXPECT_TRUE(Find<QPushButton>("Button2")->isEnabled());
        EXPECT_TRUE(Find<QPushButton>("WobDialogBut")->isEnabled());
        EXPECT_EQ(Find<QLabel>("FreqText")->text(), QStringLiteral("0"));
        EXPECT_TRUE(Enabled("Eichen1"));
        EXPECT_TRUE(Enabled("AudioInParameter1"));
        EXPECT_TRUE(Enabled("AudioOutParameter1"));
        EXPECT_TRUE(MenuEnabled("AudioDevices1"));
        EXPECT_TRUE(MenuEnabled("AudioOutDevice1"));
        EXPECT_TRUE(Enabled("Reset1"));
    }

    /// "&Reset Soundsystem", then a whole sweep.
    void ResetAndSweepAgain()
    {
        Find<QAction>("Reset1")->trigger();
        test::ProcessEvents(10);
        SweepAgain();
    }

    /// A whole sweep: five points at their frequencies with 0 dB gain through the ideal
    /// card.
    void SweepAgain()
    {
        prompts.shown.clear();
        const int before = Sweep().PointsStored();
        Click("wobbelnBut");
        ASSERT_TRUE(SweepEnds());
        EXPECT_EQ(Sweep().PointsStored(), before + 5);
        const DiagramModel& model = program->Diagram()->Model();
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(model.FreqArray[static_cast<std::size_t>(k)], 1000.0f * static_cast<float>(k + 1)) << k;
            EXPECT_NEAR(model.Curve1Array[static_cast<std::size_t>(k)], 0.0, 0.05) << k;
        }
        EXPECT_TRUE(prompts.shown.empty());
        ExpectSweepUnlocked();
    }
};

TEST_F(SweepPageFaultTest, EveryCallOfARunningSweepFailingEndsItWithTheErrorBoxUnlockedAndTheNextSweepMeasures)
{
    const WaveCall calls[] = {
        WaveCall::WaveOutOpenQuery, WaveCall::WaveOutOpen,     WaveCall::WaveOutPrepareHeader,
        WaveCall::WaveOutWrite,     WaveCall::WaveInOpenQuery, WaveCall::WaveInOpen,
        WaveCall::WaveInPrepareHeader, WaveCall::WaveInAddBuffer, WaveCall::WaveInStart,
        WaveCall::WaveInClose,
    };
    for (WaveCall call : calls) {
        for (MmResult code : {kMmAllocated, kWaveBadFormat}) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(call) << " code " << code);
            prompts.shown.clear();
            const int before = Sweep().PointsStored();
            Click("wobbelnBut");
            EXPECT_FALSE(Find<QPushButton>("WobDialogBut")->isEnabled());
            ASSERT_TRUE(test::ProcessUntil([&] { return Sweep().PointsStored() >= before + 2; }, 4000));
            card.InjectFault(call, code);
            ASSERT_TRUE(SweepEnds());
            EXPECT_LT(Sweep().PointsStored(), before + 5);
            if (call == WaveCall::WaveInClose) {
                // A block that cannot be closed: the engine's own text.
                ASSERT_EQ(prompts.shown.size(), 1u);
                EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
                EXPECT_TRUE(prompts.shown[0].helpButton);
                EXPECT_EQ(prompts.shown[0].helpContext, 17);
                EXPECT_EQ(prompts.shown[0].text, "ERROR at Frequency Output (The input device could not be closed.)");
            } else {
                ExpectOneDeviceErrorBox("ERROR at Frequency Output (", code);
            }
            ExpectSweepUnlocked();
            // The next sweep works without a reset: its first start closes what the
            // fault left open.
            SweepAgain();
        }
    }
}

TEST_F(SweepPageFaultTest, FailingOutputVolumeCallsShowMinusOnePercentAndTheSweepStillMeasures)
{
    card.InjectFault(WaveCall::WaveOutGetVolume, kMmNotSupported, true);
    card.InjectFault(WaveCall::WaveOutSetVolume, kMmNotSupported, true);
    Find<QScrollBar>("ScrollBar2")->setValue(40);
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("-1%"));
    EXPECT_EQ(Main().AppSettings().Volume.GenOutVolume, 60);
    EXPECT_TRUE(prompts.shown.empty());
    card.ClearFaults();
    ResetAndSweepAgain();
}

// ---- Volumes in the window -------------------------------------------------------------------

TEST_F(FaultMatrixTest, FailingVolumeReadsShowMinusOnePercentAndMeasuringStillWorks)
{
    card.InjectFault(WaveCall::AuxGetVolume, kMmNotSupported, true);
    card.InjectFault(WaveCall::AuxSetVolume, kMmNotSupported, true);
    Find<QScrollBar>("ScrollBar3")->setValue(40);
    EXPECT_EQ(Find<QLabel>("InLevelLabel")->text(), QStringLiteral("-1%"));
    EXPECT_EQ(Main().AppSettings().Volume.GenInVolume, 40);
    EXPECT_TRUE(prompts.shown.empty());
    card.ClearFaults();
    ResetAndMeasureAgain();
}

// ---- A reset whose engine start fails ------------------------------------------------------------

TEST_F(FaultMatrixTest, AResetWhoseEngineStartFailsSaysSoMeasuresNothingAndTheNextResetRecovers)
{
    StartContinuousRun();
    program->Engine().SetFailingAllocationForTest(1);  // the capture buffer
    prompts.shown.clear();
    Find<QAction>("Reset1")->trigger();
    test::ProcessEvents(10);
    ExpectOneDeviceErrorBox("Problem beim \u00d6ffnen des Sounddevice ! Programm stopped (", 3);
    EXPECT_FALSE(program->Engine().Started());
    ExpectSpectrumUnlocked();

    // Without an engine a START gives the start box with the engine's code and unlocks.
    prompts.shown.clear();
    Click("RunningGroup0");
    Click("StartButton");
    test::ProcessEvents(10);
    ExpectOneDeviceErrorBox("Probleme beim Sample (", 3);
    ExpectSpectrumUnlocked();

    program->Engine().SetFailingAllocationForTest(-1);
    ResetAndMeasureAgain();
}

}  // namespace
}  // namespace sonvera
