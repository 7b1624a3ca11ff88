#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/sections.h"
#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/generatorpage.h"
#include "ui/iodialog.h"
#include "ui/levelsweepwindow.h"
#include "ui/sonveraprogram.h"
#include "ui/wavegen.h"
#include "ui/wobbeldlg.h"

namespace sonvera {
namespace {

DutConfig AttenuatingDut()
{
    DutConfig d;
    d.gainDb = -6.0;
    return d;
}

/// The whole program on the virtual card's instant clock, its generator page driven
/// through the main window's controls. The right input passes a device under test of
/// -6 dB; the left input is the generator's own output (the reference).
class GeneratorPageTest : public ::testing::Test {
protected:
    explicit GeneratorPageTest(DutConfig dut = AttenuatingDut()) : card(dut, LoopbackClock::Instant) {}

    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        configPath = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
        program = std::make_unique<SonveraProgram>(card, configPath);
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
        SweepSettings& s = S().Sweep;
        s.SweepFrom = 100;
        s.SweepTo = 10000;
        s.SweepSteps = 4;
        s.SweepLinear = false;
        s.SweepWithRef = true;
        s.SweepPhase = true;
        s.SweepLevel = -6.0f;
        s.SweepSettleTime = 2;
    }

    TMainForm& Main() { return program->Main(); }
    Settings& S() { return Main().AppSettings(); }
    DiagramModel& Diagram() { return program->Diagram()->Model(); }

    template <class T>
    T* Find(const char* name)
    {
        T* found = Main().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    bool Enabled(const char* item) { return Main().findChild<QAction*>(QString::fromLatin1(item))->isEnabled(); }

    void ShowGeneratorPage()
    {
        Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(1);
        test::ProcessEvents(5);
    }

    bool SweepEnds()
    {
        return test::ProcessUntil([&] { return !Main().Sweep().SweepRunning && !Main().Sweep().SweepToneOn; }, 4000);
    }

    QTemporaryDir dir;
    std::string configPath;
    LoopbackCard card;
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(GeneratorPageTest, EnteringThePageShowsDiagramAndGeneratorAndTheLevelSliders)
{
    S().Volume.GenOutVolume = 70;
    S().Volume.GenInVolume = 35;
    ShowGeneratorPage();

    EXPECT_TRUE(program->Diagram()->isVisible());
    TWavegen* gen = program->Windows().wavegen;
    EXPECT_TRUE(gen->isVisible());
    EXPECT_FALSE(Main().findChild<QMenu*>(QStringLiteral("Analyse1"))->isEnabled());
    EXPECT_EQ(Find<QPushButton>("wobbelnBut")->text(), QStringLiteral("START"));
    // Vertical sliders have their top at 100 %.
    EXPECT_EQ(Find<QScrollBar>("ScrollBar2")->value(), 30);
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("70%"));
    EXPECT_EQ(program->Engine().GetOutputVolume(), 70);
    EXPECT_EQ(Find<QScrollBar>("ScrollBar1")->value(), 65);
    EXPECT_EQ(Find<QLabel>("Label7")->text(),
              QString::number(program->Engine().GetLineVolume(program->Engine().InputLine())) + "%");
    EXPECT_TRUE(Diagram().ResultLine().empty());
}

TEST_F(GeneratorPageTest, StartMeasuresEveryStepThroughTheDeviceAndUnlocksTheControlsAtTheEnd)
{
    ShowGeneratorPage();
    Click("wobbelnBut");
    // Locked while the sweep runs.
    EXPECT_FALSE(Find<QPushButton>("Button2")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("WobDialogBut")->isEnabled());
    EXPECT_FALSE(Enabled("Eichen1"));
    EXPECT_FALSE(Enabled("AudioInParameter1"));
    EXPECT_FALSE(Main().findChild<QMenu*>(QStringLiteral("AudioDevices1"))->isEnabled());

    ASSERT_TRUE(SweepEnds());
    EXPECT_EQ(Main().Sweep().PointsStored(), 5);
    // Steps 100 * 100^(k/4): 100, 316, 1000, 3162, 10000 Hz; the device's -6 dB on each,
    // in phase with the reference.
    const float expected[] = {100, 316, 1000, 3162, 10000};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(Diagram().FreqArray[static_cast<std::size_t>(k)], expected[k]) << k;
        EXPECT_NEAR(Diagram().Curve1Array[static_cast<std::size_t>(k)], -6.0, 0.05) << k;
        EXPECT_NEAR(Diagram().Curve2Array[static_cast<std::size_t>(k)], 0.0, 10.0) << k;
    }
    EXPECT_EQ(Find<QLabel>("FreqText")->text(), QStringLiteral("0"));
    EXPECT_TRUE(Find<QPushButton>("Button2")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("WobDialogBut")->isEnabled());
    EXPECT_TRUE(Enabled("Eichen1"));
    EXPECT_TRUE(Enabled("AudioOutParameter1"));
    EXPECT_TRUE(Main().findChild<QMenu*>(QStringLiteral("AudioOutDevice1"))->isEnabled());
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(GeneratorPageTest, TheLimitsButtonsFileIsDrawnJudgedAndRemembered)
{
    ShowGeneratorPage();
    EXPECT_EQ(Find<QPushButton>("LimitsBut")->text(), QString::fromUtf8("Grenzwerte…"));
    const QString limits = dir.filePath(QStringLiteral("limits.txt"));
    QFile file(limits);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("100 -6.5 -5.5\n10000 -6.5 -5.5\n");  // the device's -6 dB lies inside
    file.close();
    ASSERT_TRUE(Main().Generator().LoadLimitsFile(limits));
    EXPECT_EQ(Diagram().LimitCurves().size(), 2U);
    Click("wobbelnBut");
    EXPECT_FALSE(Find<QPushButton>("LimitsBut")->isEnabled());
    ASSERT_TRUE(SweepEnds());
    EXPECT_EQ(Diagram().ResultLine(), "Grenzwerte: PASS");
    EXPECT_EQ(ReadSweepLimitsFile(program->Profile()), limits.toStdString());
    if (const char* keep = std::getenv("SONVERA_KEEP_PICTURES")) {
        program->Diagram()->grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/limits-diagram.png"));
        Main().grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/limits-page.png"));
    }
    // A file with a wrong line is refused with its line named, in the window's language;
    // the limits stay.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("100 -6.5\n");
    file.close();
    EXPECT_FALSE(Main().Generator().LoadLimitsFile(limits));
    S().Main.UiLanguage = 'E';
    Main().ApplyLanguage('E');
    EXPECT_FALSE(Main().Generator().LoadLimitsFile(limits));
    ASSERT_EQ(prompts.shown.size(), 2U);
    EXPECT_NE(prompts.shown[0].text.find(", Zeile 1: eine Frequenzzeile"), std::string::npos) << prompts.shown[0].text;
    EXPECT_NE(prompts.shown[1].text.find(", line 1: a frequency line"), std::string::npos) << prompts.shown[1].text;
    EXPECT_EQ(Diagram().LimitCurves().size(), 2U);
    ASSERT_TRUE(Main().Generator().LoadLimitsFile(QString()));
    EXPECT_TRUE(Diagram().LimitCurves().empty());
}

TEST_F(GeneratorPageTest, StopEndsTheSweepAfterThePointInFlight)
{
    S().Sweep.SweepSteps = 40;
    ShowGeneratorPage();
    Click("wobbelnBut");
    ASSERT_TRUE(test::ProcessUntil([&] { return Main().Sweep().PointsStored() >= 2; }, 4000));
    Click("STOPbut");
    ASSERT_TRUE(SweepEnds());
    test::ProcessEvents(20);
    const int stored = Main().Sweep().PointsStored();
    EXPECT_GE(stored, 2);
    EXPECT_LE(stored, 3);  // the step already posted still measures
    EXPECT_EQ(Find<QLabel>("FreqText")->text(), QStringLiteral("0"));
    EXPECT_TRUE(Find<QPushButton>("WobDialogBut")->isEnabled());
}

TEST_F(GeneratorPageTest, AStepAboveHalfTheRateStopsWithTheNoticeAndKeepsTheEarlierPoints)
{
    int in = 0, out = 0;
    program->Engine().GetSampleRates(in, out);
    S().Sweep.SweepLinear = true;
    S().Sweep.SweepFrom = out / 2 - 2000;
    S().Sweep.SweepTo = out / 2 + 2000;
    S().Sweep.SweepSteps = 2;
    ShowGeneratorPage();
    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    EXPECT_EQ(Main().Sweep().PointsStored(), 2);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Ausgabefreq. > Samplefrequenz/2 ! Wobbeln stoppt ");
    EXPECT_TRUE(Find<QPushButton>("Button2")->isEnabled());

    // The English notice once the language is switched.
    prompts.shown.clear();
    Main().ApplyLanguage('E');
    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    ASSERT_FALSE(prompts.shown.empty());
    EXPECT_EQ(prompts.shown.back().text, "Outfreq. > Samplefreq./2 ! Stop Wobbling ");
}

TEST_F(GeneratorPageTest, SetupTakesTheDialogsValuesOverOnOkAndMarksTheStartCaption)
{
    ShowGeneratorPage();
    Twobbeldlg* dialog = program->Windows().wobbelDlg;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        seen = QApplication::activeModalWidget() == dialog;
        auto* steps = dialog->findChild<QLineEdit*>(QStringLiteral("Esteps"));
        steps->setText(QStringLiteral("7"));
        dialog->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
    });
    Click("WobDialogBut");
    EXPECT_TRUE(seen);
    EXPECT_EQ(S().Sweep.SweepSteps, 7);
    EXPECT_EQ(Find<QPushButton>("wobbelnBut")->text(), QStringLiteral("START "));

    // Cancel keeps the settings.
    QTimer::singleShot(0, [&] {
        dialog->findChild<QLineEdit*>(QStringLiteral("Esteps"))->setText(QStringLiteral("9"));
        dialog->findChild<QPushButton*>(QStringLiteral("CancelBtn"))->click();
    });
    Click("WobDialogBut");
    EXPECT_EQ(S().Sweep.SweepSteps, 7);
}

TEST_F(GeneratorPageTest, OutParaOpensTheOutputFormatDialogOnlyWhileNothingPlays)
{
    ShowGeneratorPage();
    TIOdialog* io = program->Windows().ioDialog;
    int opened = 0;
    bool forOutput = false;
    auto closeWhenShown = [&] {
        QTimer::singleShot(0, [&] {
            if (QApplication::activeModalWidget() == io) {
                ++opened;
                forOutput = !io->Direction();
                io->reject();
            }
        });
    };
    closeWhenShown();
    Click("Button2");
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(forOutput);

    GeneratorParams p;
    ASSERT_EQ(program->Engine().StartPlayback(1000, -1, p), 0);
    closeWhenShown();
    Click("Button2");
    test::ProcessEvents(3);
    EXPECT_EQ(opened, 1);
    program->Engine().StopPlayback();
}

TEST_F(GeneratorPageTest, TheLevelSlidersSetInputLineAndOutputVolume)
{
    ShowGeneratorPage();
    Find<QScrollBar>("ScrollBar2")->setValue(40);
    EXPECT_EQ(S().Volume.GenOutVolume, 60);
    EXPECT_EQ(program->Engine().GetOutputVolume(), 60);
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("60%"));

    Find<QScrollBar>("ScrollBar1")->setValue(25);
    EXPECT_EQ(S().Volume.GenInVolume, 75);
    EXPECT_EQ(Find<QScrollBar>("ScrollBar3")->value(), 75);  // the spectrum page's slider follows
    EXPECT_EQ(program->Engine().GetLineVolume(program->Engine().InputLine()), 75);

    // And the other way round.
    Find<QScrollBar>("ScrollBar3")->setValue(20);
    EXPECT_EQ(Find<QScrollBar>("ScrollBar1")->value(), 80);
}

TEST_F(GeneratorPageTest, TheLevelSetOnTheGeneratorsAnaStaysWhenThePageIsEntered)
{
    TWavegen* gen = program->Windows().wavegen;
    gen->show();
    gen->findChild<QScrollBar*>(QStringLiteral("ScrollBar2"))->setValue(0);  // "Ana." 100 %
    ShowGeneratorPage();
    EXPECT_EQ(program->Engine().GetOutputVolume(), 100);
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("100%"));
    EXPECT_EQ(gen->findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("100%"));

    // And the page's "Out" shows on "Ana.".
    Find<QScrollBar>("ScrollBar2")->setValue(40);
    EXPECT_EQ(gen->findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("60%"));
}

TEST_F(GeneratorPageTest, LeavingThePageKeepsTheDiagramsLevelRangeForTheSweep)
{
    ShowGeneratorPage();
    Diagram().SetLevelRange(12.0f, -60.0f);
    Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(2);
    test::ProcessEvents(5);
    EXPECT_FLOAT_EQ(static_cast<float>(S().Sweep.SweepYMax), 12.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(S().Sweep.SweepYMin), -60.0f);
    EXPECT_FALSE(program->Diagram()->isVisible());
}

TEST_F(GeneratorPageTest, APageChangeKeepsTheSweepsCurvesLineAndCommentAndShowsNoForeignLine)
{
    ShowGeneratorPage();
    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    program->Diagram()->SetResultLine("Verz\xC3\xB6gerung 1", "Delay 1");
    auto* edicomment = program->Diagram()->findChild<QLineEdit*>(QStringLiteral("Edicomment"));
    ASSERT_NE(edicomment, nullptr);
    edicomment->setText(QStringLiteral("DUT 1"));
    const std::vector<float> curve(Diagram().Curve1Array.begin(), Diagram().Curve1Array.begin() + 5);

    Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(0);
    test::ProcessEvents(5);
    EXPECT_TRUE(Diagram().ResultLine().empty());  // the spectrum page has no result yet

    ShowGeneratorPage();
    EXPECT_EQ(std::vector<float>(Diagram().Curve1Array.begin(), Diagram().Curve1Array.begin() + 5), curve);
    EXPECT_EQ(Diagram().ResultLine(), "Verz\xC3\xB6gerung 1");
    EXPECT_EQ(program->Diagram()->GetComment(), "DUT 1");
    Main().ApplyLanguage('E');
    EXPECT_EQ(Diagram().ResultLine(), "Delay 1");
}

TEST_F(GeneratorPageTest, ResetSoundsystemStopsARunningSweep)
{
    S().Sweep.SweepSteps = 40;
    ShowGeneratorPage();
    Click("wobbelnBut");
    ASSERT_TRUE(test::ProcessUntil([&] { return Main().Sweep().PointsStored() >= 1; }, 4000));
    Main().Reset1Click();
    ASSERT_TRUE(SweepEnds());
    test::ProcessEvents(20);
    EXPECT_LE(Main().Sweep().PointsStored(), 3);
    EXPECT_TRUE(Find<QPushButton>("WobDialogBut")->isEnabled());
    EXPECT_TRUE(prompts.shown.empty());

    // A new sweep runs on the restarted engine.
    const int before = Main().Sweep().PointsStored();
    S().Sweep.SweepSteps = 2;
    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    EXPECT_EQ(Main().Sweep().PointsStored(), before + 3);
}

TEST_F(GeneratorPageTest, ClosingTheWindowDuringTheSettleWaitEndsQuietly)
{
    S().Sweep.SweepSettleTime = 300;
    S().Sweep.SweepSteps = 10;
    ShowGeneratorPage();
    bool closedDuringWait = false;
    QTimer::singleShot(50, [&] {
        closedDuringWait = Main().Sweep().SweepToneOn;
        Main().close();
    });
    Click("wobbelnBut");
    ASSERT_TRUE(test::ProcessUntil([&] { return !Main().isVisible(); }, 4000));
    test::ProcessEvents(20);
    EXPECT_TRUE(closedDuringWait);
    EXPECT_FALSE(Main().Sweep().SweepRunning);
    EXPECT_FALSE(Main().Sweep().SweepToneOn);
    EXPECT_FALSE(program->Engine().CaptureStarted());
    EXPECT_TRUE(prompts.shown.empty());
}

}  // namespace
}  // namespace sonvera

namespace sonvera {
namespace {

DutConfig ThirdHarmonicDut()
{
    DutConfig d;
    d.h3 = 0.019;
    d.noise = true;
    d.noiseDbfs = -120.0;
    return d;
}

class LevelSweepPageTest : public GeneratorPageTest {
protected:
    LevelSweepPageTest() : GeneratorPageTest(ThirdHarmonicDut()) {}
};

TEST_F(LevelSweepPageTest, TheWindowDrawsThdnAgainstLevelStopsAndGivesTheAxisBackToTheSweep)
{
    ShowGeneratorPage();
    EXPECT_EQ(Find<QPushButton>("LevelSweepBut")->text(), QString::fromUtf8("Pegelsweep …"));
    Click("LevelSweepBut");
    auto* window = static_cast<TLevelSweep*>(Main().findChild<QDialog*>(QStringLiteral("LevelSweep")));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->FreqEdit->setValue(997);
    window->FromEdit->setValue(-40.0);
    window->ToEdit->setValue(0.0);
    window->StepEdit->setValue(2.0);
    window->StartBut->click();
    EXPECT_FALSE(window->StartBut->isEnabled());
    ASSERT_TRUE(test::ProcessUntil([&] { return window->StartBut->isEnabled(); }, 30000));
    EXPECT_TRUE(Diagram().LevelAxis());
    const std::string table = Diagram().DiagramText(",");
    for (const char* row : {"# dBFS,Messung\r\n-40.00,", "\r\n-2.00,", "\r\n0.00,"}) {
        EXPECT_NE(table.find(row), std::string::npos) << row << " in " << table;
    }
    EXPECT_EQ(window->Run().Result().Steps().size(), 21u);
    EXPECT_EQ(Diagram().ResultLine(), "max. Pegel (1 % THD+N) -2.00 dBFS");
    if (const char* keep = std::getenv("SONVERA_LEVELSWEEP_PNG")) {
        program->Diagram()->grab().save(QString::fromLocal8Bit(keep));
    }

    window->FromEdit->setValue(-60.0);
    window->ToEdit->setValue(0.0);
    window->StepEdit->setValue(1.0);
    window->StartBut->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return window->Run().Result().Steps().size() >= 1; }, 8000));
    window->StopBut->click();
    EXPECT_TRUE(window->StartBut->isEnabled());
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_NE(Diagram().ResultLine().find("(gestoppt)"), std::string::npos) << Diagram().ResultLine();

    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    EXPECT_FALSE(Diagram().LevelAxis());
    EXPECT_EQ(Main().Sweep().PointsStored(), 5);
}

}  // namespace
}  // namespace sonvera
