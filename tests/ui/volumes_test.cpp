// The main window's volumes: nothing written at start, the saved input level applied by a
// run, every output device and line given back its own volume at the end, also when the
// program is ended by a signal or after a crash.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "engine/soundengine.h"
#include "engine/volume.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/shutdownsignals.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

class VolumesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        configPath = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
        ASSERT_EQ(card.AuxSetVolume(0, kUserLine), kMmNoError);
    }

    void Start(const std::string& config)
    {
        std::ofstream(configPath) << config;
        program = std::make_unique<SonveraProgram>(card, configPath);
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
    }

    std::string Config() const
    {
        std::ifstream in(configPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::uint32_t Line(unsigned d)
    {
        std::uint32_t v = 0;
        EXPECT_EQ(card.AuxGetVolume(d, v), kMmNoError);
        return v;
    }

    std::uint32_t Out(unsigned d)
    {
        std::uint32_t v = 0;
        EXPECT_EQ(card.WaveOutGetVolume(d, v), kMmNoError);
        return v;
    }

    template <class T>
    T* Find(const char* name)
    {
        return program->Main().findChild<T*>(QString::fromLatin1(name));
    }

    static constexpr std::uint32_t kUserLine = 0x12341234;
    QTemporaryDir dir;
    std::string configPath;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(VolumesTest, StartWritesNoLineARunAppliesTheSavedLevelAndClosingGivesItBack)
{
    Start("[VOLUME]\nFGINVOLUME=40\n");
    EXPECT_EQ(Line(0), kUserLine);
    EXPECT_EQ(Find<QScrollBar>("ScrollBar3")->value(), 40);
    EXPECT_EQ(Config().find("LINE0="), std::string::npos);

    Find<QPushButton>("StartButton")->click();
    test::ProcessEvents();
    EXPECT_EQ(Line(0), VolumeFromPercent(40));
    EXPECT_EQ(Find<QLabel>("InLevelLabel")->text(), QStringLiteral("40%"));
    EXPECT_NE(Config().find("LINE0=virtual 12341234 Line-In"), std::string::npos) << Config();

    program->Main().close();
    program.reset();
    EXPECT_EQ(Line(0), kUserLine);
    EXPECT_EQ(Line(1), 0xFFFFFFFFu);  // never touched
    EXPECT_NE(Config().find("LINE0=\n"), std::string::npos) << Config();
}

TEST_F(VolumesTest, TwoOutputDevicesEndWithTheirOwnVolumesAndResetKeepsTheOutSlidersVolume)
{
    card.SetDeviceCounts(std::nullopt, 2, std::nullopt, std::nullopt);
    ASSERT_EQ(card.WaveOutSetVolume(0, 0xC000C000), kMmNoError);
    ASSERT_EQ(card.WaveOutSetVolume(1, 0x40004000), kMmNoError);
    Start("[MAIN]\nOUTDEV=1\n");
    EXPECT_EQ(Out(1), VolumeFromPercent(25));  // the start volume went to the device in use
    EXPECT_EQ(Out(0), 0xC000C000u);

    program->Main().AppSettings().Volume.GenOutVolume = 60;  // what the "Out" slider shows
    Find<QAction>("Reset1")->trigger();
    EXPECT_EQ(Out(1), VolumeFromPercent(60));
    EXPECT_EQ(Find<QLabel>("Label8")->text(), QStringLiteral("60%"));

    Find<QAction>("N12")->trigger();  // device 0: device 1 gets its own volume back
    EXPECT_EQ(Out(1), 0x40004000u);
    program->Main().close();
    program.reset();
    EXPECT_EQ(Out(0), 0xC000C000u);
    EXPECT_EQ(Out(1), 0x40004000u);
}

TEST_F(VolumesTest, SigtermDuringARunEndsTheProgramInOrderAndGivesTheLineItsVolumeBack)
{
    Start("[VOLUME]\nFGINVOLUME=40\n");
    ShutdownSignals shutdownSignals([](int) { QApplication::quit(); });
    ASSERT_TRUE(shutdownSignals.Installed());
    Find<QRadioButton>("RunningGroup1")->click();  // continuous
    Find<QPushButton>("StartButton")->click();
    test::ProcessEvents();
    ASSERT_EQ(Line(0), VolumeFromPercent(40));

    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    QTimer::singleShot(20000, [] { QApplication::quit(); });  // never wait forever
    QApplication::exec();
    EXPECT_EQ(shutdownSignals.Received(), SIGTERM);
    program.reset();  // the program's own end, as after the event loop in main
    EXPECT_EQ(Line(0), kUserLine);
    EXPECT_NE(Config().find("LINE0=\n"), std::string::npos) << Config();
}

TEST_F(VolumesTest, ACrashRecordIsPutBackAtTheNextStartAndTheStatusLineSaysSo)
{
    Start("[AUXRESTORE]\nLINE1=virtual 00FF00FF Mic\n");
    EXPECT_EQ(Line(1), 0x00FF00FFu);
    EXPECT_TRUE(Find<QLabel>("StatusLine")->text().startsWith(
        QStringLiteral("Eingangspegel nach Abbruch zurückgesetzt: Mic   ")))
        << Find<QLabel>("StatusLine")->text().toStdString();
    EXPECT_NE(Config().find("LINE1=\n"), std::string::npos) << Config();
}

}  // namespace
}  // namespace sonvera
