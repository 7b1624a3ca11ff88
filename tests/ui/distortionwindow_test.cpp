// The distortion analyser window's wiring: opened from the spectrum page, START plays the
// mode's signal and runs the analyser continuously, the readings and the diagram's result
// line follow each result, STOP ends both. The readings' texts are tested on the model
// (tests/measure/distortionmeter_test.cpp), their numbers in the command-line tests.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <memory>

#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "measure/spectrumrun.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/distortion.h"
#include "ui/mainform.h"
#include "ui/sonveraprogram.h"
#include "ui/spectrumpage.h"

namespace sonvera {
namespace {

class DistortionWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        DutConfig dut;
        dut.h2 = 0.001;
        dut.noiseDbfs = -120.0;
        card = std::make_unique<LoopbackCard>(dut, LoopbackClock::Instant);
        program = std::make_unique<SonveraProgram>(*card, dir.filePath(QStringLiteral("snv13.cfg")).toStdString());
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
        program->Main().findChild<QPushButton*>(QStringLiteral("DistortionBut"))->click();
        test::ProcessEvents(5);
    }
    TDistortion& Window() { return *program->Main().findChild<TDistortion*>(QStringLiteral("TDistortion")); }
    template <class T>
    T* Find(const char* name)
    {
        return Window().findChild<T*>(QString::fromLatin1(name));
    }
    SpectrumRun& Run() { return program->Main().Spectrum(); }

    QTemporaryDir dir;
    std::unique_ptr<LoopbackCard> card;
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(DistortionWindowTest, StartPlaysTheToneShowsLiveReadingsAndStopEndsBoth)
{
    ASSERT_TRUE(Window().isVisible());
    const int modeBefore = Run().RunMode;
    Find<QPushButton>("DistStart")->click();
    ASSERT_TRUE(Run().Running);
    EXPECT_EQ(Run().RunMode, 1);  // continuous
    EXPECT_TRUE(program->Engine().PlaybackActive());
    ASSERT_TRUE(test::ProcessUntil([&] { return Window().Meter().Results() >= 2; }, 4000));
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(Find<QLabel>("DistLabel0")->text(), QStringLiteral("Grundwelle"));
    EXPECT_TRUE(Find<QLabel>("DistLeft0")->text().endsWith(QStringLiteral(" Hz"))) << Find<QLabel>("DistLeft0")->text().toStdString();
    EXPECT_TRUE(Find<QLabel>("DistRight2")->text().endsWith(QStringLiteral(" %")));
    auto* table = Find<QTableWidget>("DistHarmonics");
    ASSERT_EQ(table->rowCount(), 9);
    EXPECT_TRUE(table->item(0, 0)->text().endsWith(QStringLiteral(" dBc")));
    EXPECT_EQ(program->Diagram()->Model().ResultLine().rfind("Grundwelle ", 0), 0u)
        << program->Diagram()->Model().ResultLine();
    EXPECT_FALSE(Find<QPushButton>("DistStart")->isEnabled());

    Find<QPushButton>("DistStop")->click();
    EXPECT_FALSE(Run().Running);
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_EQ(Run().RunMode, modeBefore);
    EXPECT_EQ(program->Diagram()->Model().ResultLine().rfind("Grundwelle ", 0), 0u);
    EXPECT_TRUE(Find<QPushButton>("DistStart")->isEnabled());

    program->Main().ApplyLanguage('E');
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Distortion analyser"));
    EXPECT_EQ(Find<QLabel>("DistLabel0")->text(), QStringLiteral("Fundamental"));
}

TEST_F(DistortionWindowTest, CrosstalkDrivesEachChannelInTurnAndTheAnalyserStopEndsTheSignal)
{
    Find<QComboBox>("DistMode")->setCurrentIndex(3);
    Find<QPushButton>("DistStart")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Window().Meter().Results() >= 2; }, 4000));
    // The virtual card's inputs are independent: both directions read only the noise floor.
    EXPECT_TRUE(Find<QLabel>("DistLeft1")->text().startsWith(QStringLiteral("L→R < -"))) << Find<QLabel>("DistLeft1")->text().toStdString();
    EXPECT_TRUE(Find<QLabel>("DistRight1")->text().startsWith(QStringLiteral("R→L < -")));

    // STOP on the page ends the run; the window's signal goes with it.
    Run().StopButtonClick();
    QElapsedTimer waited;
    waited.start();
    while (program->Engine().PlaybackActive() && waited.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_FALSE(Window().Started());
}

TEST_F(DistortionWindowTest, DeviceFaultsEndTheSignalAndSaySo)
{
    // The output cannot open: START says so and measures nothing.
    card->InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    Find<QPushButton>("DistStart")->click();
    EXPECT_FALSE(Run().Running);
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_TRUE(Find<QLabel>("DistStatus")->text().startsWith(QStringLiteral("Testsignal nicht abspielbar: ")))
        << Find<QLabel>("DistStatus")->text().toStdString();
    EXPECT_TRUE(Find<QPushButton>("DistStart")->isEnabled());

    // The input fails in the running loop: the run's device box, and the signal stops too.
    card->ClearFaults();
    Find<QPushButton>("DistStart")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Window().Meter().Results() >= 1; }, 4000));
    card->InjectFault(WaveCall::WaveInStart, kMmError);
    QElapsedTimer waited;
    waited.start();
    while (Window().Started() && waited.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_FALSE(Window().Started());
    EXPECT_FALSE(Run().Running);
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(Find<QLabel>("DistStatus")->text(), QStringLiteral("Messung beendet"));
}

}  // namespace
}  // namespace sonvera
