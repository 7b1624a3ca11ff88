// The whole program with a configuration file it cannot write: its directory read-only,
// or its disk full. The program starts from the file, measures, calibrates, resets the
// sound system and closes as usual; every save fails quietly (the settings of this run
// are lost, as documented) and the file keeps the previous good settings byte for byte.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "scope/eichdlg.h"
#include "tests/support/writefaults.h"
#include "tests/ui/uitestsupport.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProgramFileFaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
    }

    std::unique_ptr<SonveraProgram> StartProgram(const std::string& config)
    {
        auto p = std::make_unique<SonveraProgram>(card, config);
        EXPECT_EQ(p->Start(), 0);
        p->Show();
        test::ProcessEvents();
        return p;
    }

    /// A first run that leaves a good configuration: averaging 7, calibration 312.5 mV.
    void WriteGoodConfiguration(const std::string& config)
    {
        auto p = StartProgram(config);
        p->Main().AppSettings().Fft.FftAverage = 7;
        p->Main().AppSettings().Calib.InCalibValue = 312.5;
        p->Main().close();
        p.reset();
        ASSERT_NE(ReadBytes(config).find("AVERAGE=7"), std::string::npos);
    }

    /// A whole run with the file not writable: measure, calibrate, reset, close.
    void RunWithoutWriting(const std::string& config)
    {
        auto p = StartProgram(config);
        TMainForm& main = p->Main();
        // The good settings were read.
        EXPECT_EQ(main.AppSettings().Fft.FftAverage, 7);
        EXPECT_DOUBLE_EQ(main.AppSettings().Calib.InCalibValue, 312.5);

        main.findChild<QSpinBox*>(QStringLiteral("AverVal"))->setValue(2);
        main.findChild<QAbstractButton*>(QStringLiteral("RunningGroup0"))->click();
        main.findChild<QPushButton*>(QStringLiteral("StartButton"))->click();
        EXPECT_TRUE(test::ProcessUntil([&] { return !main.Spectrum().Running; }, 400));
        EXPECT_EQ(main.Spectrum().ResultsShown(), 1);

        // A confirmed calibration writes the configuration at once: it fails quietly and
        // the new values hold for this run.
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<TEichDlg*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                if (QWidget* other = QApplication::activeModalWidget()) other->close();
                return;
            }
            seen = true;
            dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            test::ProcessUntil([&] { return dialog->CalibReading(); }, 400);
            dialog->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
            dialog->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
            if (dialog->isVisible()) dialog->reject();
        });
        main.Eichen1Click();
        EXPECT_TRUE(seen);
        EXPECT_DOUBLE_EQ(main.AppSettings().Calib.InCalibValue, 312.5);

        main.findChild<QAction*>(QStringLiteral("Reset1"))->trigger();  // saves the device formats
        test::ProcessEvents(10);
        main.findChild<QPushButton*>(QStringLiteral("StartButton"))->click();
        EXPECT_TRUE(test::ProcessUntil([&] { return !main.Spectrum().Running; }, 400));
        EXPECT_EQ(main.Spectrum().ResultsShown(), 2);

        main.AppSettings().Fft.FftAverage = 3;
        main.close();
        test::ProcessEvents();
        p.reset();  // the dialogs' own sections are written here
        EXPECT_TRUE(prompts.shown.empty());
    }

    QTemporaryDir dir;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
};

TEST_F(ProgramFileFaultTest, ReadOnlyDirectoryKeepsTheGoodConfigurationThroughAWholeRun)
{
    const std::string folder = dir.filePath(QStringLiteral("prog")).toStdString();
    std::filesystem::create_directory(folder);
    const std::string config = folder + "/snv13.cfg";
    WriteGoodConfiguration(config);
    const std::string good = ReadBytes(config);
    {
        testing::ReadOnlyDirectory readOnly(folder);
        if (!readOnly.Available()) {
            GTEST_SKIP() << "no way to make a read-only directory for this user: " << readOnly.Why();
        }
        RunWithoutWriting(config);
        EXPECT_EQ(ReadBytes(config), good);
    }
    // The next start reads the good settings again.
    auto p = StartProgram(config);
    EXPECT_EQ(p->Main().AppSettings().Fft.FftAverage, 7);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
}

TEST_F(ProgramFileFaultTest, FullDiskKeepsTheGoodConfigurationThroughAWholeRun)
{
    const std::string folder = dir.filePath(QStringLiteral("disk")).toStdString();
    std::filesystem::create_directory(folder);
    testing::SmallDisk disk(folder, 64);
    if (!disk.Available()) {
        GTEST_SKIP() << "no small disk can be mounted here: " << disk.Why();
    }
    const std::string config = folder + "/snv13.cfg";
    WriteGoodConfiguration(config);
    const std::string good = ReadBytes(config);
    ASSERT_GT(disk.Fill("filler"), 0u);
    RunWithoutWriting(config);
    EXPECT_EQ(ReadBytes(config), good);
    std::filesystem::remove(folder + "/filler");
    // With room again, the program saves as usual.
    auto p = StartProgram(config);
    EXPECT_EQ(p->Main().AppSettings().Fft.FftAverage, 7);
    p->Main().AppSettings().Fft.FftAverage = 5;
    p->Main().close();
    p.reset();
    EXPECT_NE(ReadBytes(config).find("AVERAGE=5"), std::string::npos);
}

}  // namespace
}  // namespace sonvera
