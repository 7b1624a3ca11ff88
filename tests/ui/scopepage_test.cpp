#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "scope/eichdlg.h"
#include "scope/oszidia.h"
#include "tests/ui/uitestsupport.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

/// The whole program on the virtual card's instant clock, its oscilloscope page driven
/// through the main window's controls.
class ScopePageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        configPath = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
        program = std::make_unique<SonveraProgram>(card, configPath);
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
    }

    TMainForm& Main() { return program->Main(); }
    Settings& S() { return Main().AppSettings(); }
    TOszidia& View() { return *program->Windows().oszidia; }

    template <class T>
    T* Find(const char* name)
    {
        T* found = Main().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }

    /// A tone on both outputs: right (channel 1) and left (channel 2) levels in dB.
    void PlayTone(int freqHz, int rightDb, int leftDb)
    {
        GeneratorParams p;
        p.frequencyHz = freqHz;
        p.levelLeftDb = leftDb;
        p.levelRightDb = rightDb;
        program->Engine().SetOutputVolume(100);
        ASSERT_EQ(program->Engine().StartPlayback(freqHz, 3000, p), 0);
    }

    void ShowScopePage()
    {
        Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(2);
        test::ProcessEvents(5);
    }

    /// Lets the loop record `blocks` more blocks; false when it stalls.
    bool RunBlocks(unsigned blocks)
    {
        const unsigned target = card.PostedInData() + blocks;
        return test::ProcessUntil([&] { return card.PostedInData() >= target; }, 200);
    }

    std::string ReadConfig() const
    {
        std::ifstream in(configPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QTemporaryDir dir;
    std::string configPath;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(ScopePageTest, EnteringThePageShowsTheSettingsOnItsControlsAndLocksTheDeviceMenus)
{
    S().Scope.ScopeDiv1 = 12;
    S().Scope.ScopeDiv2 = 3;
    S().Scope.ScopeTimebase = 7;
    S().Scope.ScopeGnd2 = true;
    S().Scope.ScopeTrigRising = false;
    S().Scope.ScopeTrigCh1 = false;
    ShowScopePage();

    EXPECT_EQ(Find<QLabel>("Panel3")->text(), QStringLiteral("5ms"));
    EXPECT_EQ(Find<QLabel>("VperDiv1")->text(), QStringLiteral("500mV"));
    EXPECT_EQ(Find<QLabel>("VperDiv2")->text(), QString::fromUtf8("500µV"));
    EXPECT_FALSE(Find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBox3")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("RadioButton1")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>("RadioButton2")->isChecked());
    EXPECT_EQ(Find<QScrollBar>("SCRyposCh1")->value(), -10);
    EXPECT_EQ(Find<QScrollBar>("SCRyposch2")->value(), 10);
    EXPECT_FLOAT_EQ(Main().Scope().ScopeYPos1(), 5.0f);
    EXPECT_FLOAT_EQ(Main().Scope().ScopeYPos2(), 3.0f);
    EXPECT_EQ(Find<QScrollBar>("SCRtrig")->minimum(), -200);
    EXPECT_EQ(Find<QScrollBar>("SCRyposCh1")->maximum(), 80);

    EXPECT_TRUE(View().isVisible());
    EXPECT_TRUE(Main().Scope().ScopeRunning());
    for (const char* item : {"Eichen1", "AudioInParameter1", "AudioOutParameter1"}) {
        EXPECT_FALSE(Find<QAction>(item)->isEnabled()) << item;
    }
    EXPECT_FALSE(Find<QMenu>("AudioDevices1")->isEnabled());
    EXPECT_FALSE(Find<QMenu>("AudioOutDevice1")->isEnabled());
    EXPECT_FALSE(Find<QMenu>("Analyse1")->isEnabled());

    // The hints of the controls.
    EXPECT_EQ(Find<QWidget>("SpinButton2")->toolTip(), QStringLiteral("Y-Achse Kanal 1"));
    EXPECT_EQ(Find<QWidget>("SpinButton1")->toolTip(), QStringLiteral("Y-Achse Ch.2"));
    EXPECT_EQ(Find<QWidget>("SpinButton3")->toolTip(), QStringLiteral("Zeitablenkung"));
    EXPECT_EQ(Find<QWidget>("SCRyposCh1")->toolTip(), QStringLiteral("Pos Ch.1 "));
    EXPECT_EQ(Find<QWidget>("SCRyposch2")->toolTip(), QStringLiteral("Pos. Ch.2"));
    EXPECT_EQ(Find<QWidget>("CheckBox1")->toolTip(), QStringLiteral("Schaltet Ch. 1auf Masse"));
    EXPECT_EQ(Find<QWidget>("CheckBox3")->toolTip(), QStringLiteral("Schaltet Ch.2 auf Masse"));
    EXPECT_EQ(Find<QWidget>("CheckBox2")->toolTip(), QStringLiteral("Trigg. pos/neg Flanke"));
}

TEST_F(ScopePageTest, TheLoopDrawsBothChannelsOfAToneWithThePredictedHeights)
{
    S().Calib.InCalibValue = 268.0;  // full scale 0.402 V
    S().Scope.ScopeDiv1 = 12;        // 0.5 V/div
    S().Scope.ScopeDiv2 = 11;        // 0.2 V/div
    S().Scope.ScopeTimebase = 5;     // 1 ms: 44100 Hz, 512 points
    PlayTone(441, 0, -6);
    ShowScopePage();
    ASSERT_TRUE(RunBlocks(3));

    const ScopeModel& m = View().Model();
    ASSERT_EQ(m.ScopeLastIndex(), 511);
    const auto& ch1 = m.ScopeCh1();
    const auto& ch2 = m.ScopeCh2();
    const auto [min1, max1] = std::minmax_element(ch1.begin(), ch1.begin() + 512);
    const auto [min2, max2] = std::minmax_element(ch2.begin(), ch2.begin() + 512);
    const double full = 32767.0 / 32768.0;
    EXPECT_NEAR(*max1 - *min1, 2.0 * full * 0.402 / 0.5, 0.003);
    EXPECT_NEAR(*max2 - *min2, 2.0 * std::pow(10.0, -6.0 / 20.0) * 0.402 / 0.2, 0.003);
    EXPECT_NEAR((*max1 + *min1) / 2.0, 5.0, 0.003);
    EXPECT_NEAR((*max2 + *min2) / 2.0, 3.0, 0.003);
    // A rising trigger on channel 1 at level 0: the trace starts just above its position.
    ASSERT_TRUE(Main().Scope().LastTriggered());
    EXPECT_GT(ch1[0] - 5.0f, 0.0f);
    EXPECT_LT(ch1[0] - 5.0f, 0.1f);
    EXPECT_GT(ch1[1], ch1[0]);
    EXPECT_NEAR(m.ScopeXMax(), 0.01f, 1e-6);
    EXPECT_NEAR(m.ScopeTime()[511], 511.0f / 44100.0f, 1e-7);
}

TEST_F(ScopePageTest, TheControlsChangeTheSettingsCaptionsAndTimeBase)
{
    S().Scope.ScopeDiv1 = 14;
    S().Scope.ScopeDiv2 = 1;
    S().Scope.ScopeTimebase = 5;
    ShowScopePage();

    Click("SpinButton2Up");  // already at the top
    EXPECT_EQ(S().Scope.ScopeDiv1, 14);
    Click("SpinButton2Down");
    EXPECT_EQ(S().Scope.ScopeDiv1, 13);
    EXPECT_EQ(Find<QLabel>("VperDiv1")->text(), QStringLiteral("1V"));
    Click("SpinButton1Down");  // already at the bottom
    EXPECT_EQ(S().Scope.ScopeDiv2, 1);
    Click("SpinButton1Up");
    EXPECT_EQ(S().Scope.ScopeDiv2, 2);
    EXPECT_EQ(Find<QLabel>("VperDiv2")->text(), QString::fromUtf8("200µV"));

    Click("SpinButton3Up");
    EXPECT_EQ(S().Scope.ScopeTimebase, 6);
    ASSERT_TRUE(RunBlocks(2));
    EXPECT_EQ(Find<QLabel>("Panel3")->text(), QStringLiteral("2ms"));
    EXPECT_EQ(Main().Scope().AppliedTimebase(), 6);
    int in = 0, out = 0;
    program->Engine().GetSampleRates(in, out);
    EXPECT_EQ(in, 22050);
    EXPECT_NEAR(View().Model().ScopeXMax(), 0.02f, 1e-6);

    Find<QScrollBar>("SCRyposCh1")->setValue(20);
    EXPECT_FLOAT_EQ(Main().Scope().ScopeYPos1(), 2.0f);
    Find<QScrollBar>("SCRyposch2")->setValue(-30);
    EXPECT_FLOAT_EQ(Main().Scope().ScopeYPos2(), 7.0f);
    Find<QScrollBar>("SCRtrig")->setValue(-150);
    EXPECT_FLOAT_EQ(Main().Scope().ScopeTrigLevel(), 1.5f);

    Click("CheckBox1");
    EXPECT_TRUE(S().Scope.ScopeGnd1);
    Click("CheckBox3");
    EXPECT_TRUE(S().Scope.ScopeGnd2);
    Click("CheckBox2");
    EXPECT_FALSE(S().Scope.ScopeTrigRising);
    Click("RadioButton2");
    EXPECT_FALSE(S().Scope.ScopeTrigCh1);
    EXPECT_FALSE(Find<QRadioButton>("RadioButton1")->isChecked());
    Click("RadioButton1");
    EXPECT_TRUE(S().Scope.ScopeTrigCh1);
    EXPECT_FALSE(Find<QRadioButton>("RadioButton2")->isChecked());
}

TEST_F(ScopePageTest, GroundedChannelOneIsAFlatLineAtItsPositionWhateverTheInput)
{
    PlayTone(1000, 0, 0);
    ShowScopePage();
    Find<QScrollBar>("SCRyposCh1")->setValue(15);  // 2.5 divisions
    Click("CheckBox1");
    ASSERT_TRUE(RunBlocks(2));
    const auto& ch1 = View().Model().ScopeCh1();
    const auto& ch2 = View().Model().ScopeCh2();
    for (int i = 0; i < 512; ++i) {
        ASSERT_FLOAT_EQ(ch1[static_cast<std::size_t>(i)], 2.5f) << i;
    }
    const auto [min2, max2] = std::minmax_element(ch2.begin(), ch2.begin() + 512);
    EXPECT_GT(*max2 - *min2, 1.0f);  // channel 2 still shows the tone
}

TEST_F(ScopePageTest, LeavingStopsTheLoopHidesTheViewAndFreesTheMenusButNotAnalyse)
{
    ShowScopePage();
    ASSERT_TRUE(RunBlocks(2));
    Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(1);
    test::ProcessEvents();
    EXPECT_FALSE(View().isVisible());
    EXPECT_FALSE(Main().Scope().ScopeRunning());
    for (const char* item : {"Eichen1", "AudioInParameter1", "AudioOutParameter1"}) {
        EXPECT_TRUE(Find<QAction>(item)->isEnabled()) << item;
    }
    EXPECT_TRUE(Find<QMenu>("AudioDevices1")->isEnabled());
    EXPECT_TRUE(Find<QMenu>("AudioOutDevice1")->isEnabled());
    EXPECT_FALSE(Find<QMenu>("Analyse1")->isEnabled());
    // Nothing more is recorded on the generator page.
    const unsigned recorded = card.PostedInData();
    test::ProcessEvents();
    EXPECT_EQ(card.PostedInData(), recorded);
}

TEST_F(ScopePageTest, WithoutRoomOnTheLeftTheMainWindowMovesRightOfTheView)
{
    Main().move(10, 120);
    test::ProcessEvents(5);
    ShowScopePage();
    const QRect view = View().frameGeometry();
    const QRect main = Main().frameGeometry();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // The test's screen is 800 wide, too narrow for both: the main window moves right only
    // up to the screen's edge.
    EXPECT_EQ(main.left(), std::min(view.width() + 1, screen.right() + 1 - main.width()));
    EXPECT_EQ(view.left(), 0);
    EXPECT_EQ(view.top(), main.top());

    // With room enough the main window stays where it is.
    Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(0);
    test::ProcessEvents(5);
    Main().move(700, 150);
    test::ProcessEvents(5);
    ShowScopePage();
    EXPECT_EQ(Main().frameGeometry().left(), 700);
    // One pixel stays free between the two.
    EXPECT_EQ(View().frameGeometry().left() + View().frameGeometry().width(), 699);
}

TEST_F(ScopePageTest, ResetEndsTheOldLoopAndTheTraceGoesOnWithBlocksOfTheNewEngine)
{
    PlayTone(1000, 0, 0);
    ShowScopePage();
    ASSERT_TRUE(RunBlocks(2));
    const auto& ch1 = View().Model().ScopeCh1();
    const auto [min0, max0] = std::minmax_element(ch1.begin(), ch1.begin() + 512);
    ASSERT_GT(*max0 - *min0, 1.0f);  // the tone is on the trace

    Main().Reset1Click();
    // The block of the old loop is gone with the old engine, the tone with it; the loop
    // is running again and has asked for its first block of the new engine.
    EXPECT_TRUE(Main().Scope().ScopeRunning());
    EXPECT_FALSE(program->Engine().PlaybackActive());
    EXPECT_FALSE(program->Engine().CaptureOpen());
    EXPECT_FALSE(program->Engine().CaptureStarted());
    ASSERT_TRUE(RunBlocks(3));
    EXPECT_TRUE(Main().Scope().ScopeRunning());
    EXPECT_TRUE(prompts.shown.empty());
    // New blocks, recorded in silence: channel 1 lies flat at its position (5 div).
    for (int i = 0; i < 512; ++i) {
        ASSERT_NEAR(ch1[static_cast<std::size_t>(i)], 5.0f, 0.01f) << i;
    }
}

// ---- Calibration command ---------------------------------------------------------------------

class CalibrationCommandTest : public ScopePageTest {
protected:
    /// Runs the calibration command; `inside` works the modal dialog and must close it.
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
                ADD_FAILURE() << "the dialog was left open";
                dialog->reject();
            }
        });
        Main().Eichen1Click();
        EXPECT_TRUE(seen);
    }

    static void Type(TEichDlg& dialog, const char* edit, const char* text)
    {
        dialog.findChild<QLineEdit*>(QString::fromLatin1(edit))->setText(QString::fromLatin1(text));
    }
    static void Press(TEichDlg& dialog, const char* button)
    {
        dialog.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }
};

TEST_F(CalibrationCommandTest, AcceptedValuesGoIntoBothCalibrationsAndTheLevelScaleAndAreWritten)
{
    S().Calib.InCalibValue = 268.0;
    S().Calib.OutCalibValue = 123.0;
    RunCalibration([&](TEichDlg& dialog) {
        // The dialog opens with the current values.
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("Edit1"))->text(), QStringLiteral("268.0"));
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("Edit2"))->text(), QStringLiteral("8.68589"));
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("Edit3"))->text(), QStringLiteral("12.04120"));
        Press(dialog, "Button1");  // Begin
        ASSERT_TRUE(test::ProcessUntil([&] { return dialog.CalibReading(); }, 200));
        Press(dialog, "Button2");  // End
        Type(dialog, "Edit1", "312.5");
        Type(dialog, "Edit2", "9.25");
        Type(dialog, "Edit3", "10.5");
        Press(dialog, "OKBtn");
    });
    EXPECT_DOUBLE_EQ(S().Calib.InCalibValue, 312.5);
    EXPECT_DOUBLE_EQ(S().Calib.OutCalibValue, 312.5);
    EXPECT_DOUBLE_EQ(S().Volume.LevelFactor, 9.25);
    EXPECT_DOUBLE_EQ(S().Volume.LevelOffset, 10.5);
    EXPECT_TRUE(prompts.shown.empty());

    // Written at once, and read back at the next start.
    const std::string config = ReadConfig();
    EXPECT_NE(config.find("[EICH]"), std::string::npos) << config;
    EXPECT_NE(config.find("INPUT=312.5"), std::string::npos) << config;
    EXPECT_NE(config.find("OUTPUT=312.5"), std::string::npos) << config;
    program.reset();
    program = std::make_unique<SonveraProgram>(card, configPath);
    ASSERT_EQ(program->Start(), 0);
    EXPECT_DOUBLE_EQ(S().Calib.InCalibValue, 312.5);
    EXPECT_DOUBLE_EQ(S().Volume.LevelFactor, 9.25);
}

TEST_F(CalibrationCommandTest, CancelChangesAndWritesNothing)
{
    const std::string before = ReadConfig();
    RunCalibration([&](TEichDlg& dialog) {
        Type(dialog, "Edit2", "1.0");
        Press(dialog, "CancelBtn");
    });
    EXPECT_DOUBLE_EQ(S().Volume.LevelFactor, 20.0 / std::log(10.0));
    EXPECT_EQ(ReadConfig(), before);
}

TEST_F(CalibrationCommandTest, TheOscilloscopePausesWhileTheDialogIsOpenAndRunsOnAfterwards)
{
    ShowScopePage();
    ASSERT_TRUE(RunBlocks(2));
    RunCalibration([&](TEichDlg& dialog) {
        EXPECT_FALSE(Main().Scope().ScopeRunning());
        Press(dialog, "CancelBtn");
    });
    EXPECT_TRUE(Main().Scope().ScopeRunning());
    EXPECT_TRUE(RunBlocks(2));
}

TEST_F(CalibrationCommandTest, TheSpectrumRunStopsForTheDialog)
{
    Click("RunningGroup1");  // continuous
    Click("StartButton");
    ASSERT_TRUE(RunBlocks(2));
    RunCalibration([&](TEichDlg& dialog) {
        const unsigned recorded = card.PostedInData();
        test::ProcessEvents();
        EXPECT_EQ(card.PostedInData(), recorded);  // no spectrum block in the meantime
        Press(dialog, "CancelBtn");
    });
}

}  // namespace
}  // namespace sonvera
