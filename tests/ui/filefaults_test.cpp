// The whole program with a configuration file it cannot write: its directory read-only,
// or its disk full. The program starts from the file, measures, calibrates, resets the
// sound system and closes as usual; the first failed save says so in one warning that
// names the file and the reason, the later ones add nothing (the settings of this run
// are lost), and the file keeps the previous good settings byte for byte.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "scope/eichdlg.h"
#include "tests/support/writefaults.h"
#include "tests/ui/uitestsupport.h"
#include "ui/koredit.h"
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

    /// A whole run with the file not writable: measure, calibrate, reset, close. The
    /// one warning of the session must give one of `reasons`.
    void RunWithoutWriting(const std::string& config, const std::vector<int>& reasons)
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

        // A confirmed calibration writes the configuration at once: it fails with the
        // session's one warning, and the new values hold for this run.
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
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].kind, PromptKind::Warning);
        const std::string& text = prompts.shown[0].text;
        const std::string lead = "Die Einstellungen konnten nicht gespeichert werden in " + config + " (";
        EXPECT_EQ(text.rfind(lead, 0), 0u) << text;
        EXPECT_TRUE(std::any_of(reasons.begin(), reasons.end(), [&](int error) {
            return text.substr(lead.size()) == std::string(std::strerror(error)) + ")";
        })) << text;
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
        RunWithoutWriting(config, {EROFS, EACCES});
        EXPECT_EQ(ReadBytes(config), good);
    }
    // The next start reads the good settings again.
    auto p = StartProgram(config);
    EXPECT_EQ(p->Main().AppSettings().Fft.FftAverage, 7);
    p.reset();
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
    RunWithoutWriting(config, {ENOSPC});
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

TEST_F(ProgramFileFaultTest, AConfigurationPathThatIsADirectoryGivesDefaultsAndIsLeftAlone)
{
    const std::string folder = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/inside.txt") << "keep";
    auto p = StartProgram(folder);
    EXPECT_EQ(p->Main().AppSettings().Fft.FftAverage, Settings{}.Fft.FftAverage);
    p->Main().findChild<QPushButton*>(QStringLiteral("StartButton"))->click();
    test::ProcessEvents(20);
    p->Main().findChild<QPushButton*>(QStringLiteral("StopButton"))->click();
    p->Main().close();
    p.reset();
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(ReadBytes(folder + "/inside.txt"), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
    // Said once, at the start: the defaults apply and the directory stays as it is.
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Die Konfigurationsdatei " + folder +
                                         " kann nicht gelesen werden (keine gewöhnliche Datei). Es gelten die "
                                         "Grundeinstellungen; die Datei bleibt unverändert.");
}

TEST_F(ProgramFileFaultTest, CorrectionFilesLieBesideTheConfigurationAndAFifoDoesNotHoldTheStartUp)
{
    const std::string folder = dir.filePath(QStringLiteral("cfg")).toStdString();
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/amp.cor") << "100 1\n1000 2\n";
    const std::string fifo = folder + "/pipe.cor";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody writes into it
    std::ofstream(folder + "/snv13.cfg") << "[MAIN]\nINCONAME=amp.cor\nINCOAKT=TRUE\nOUTCONAME=" << fifo << "\n";

    auto p = StartProgram(folder + "/snv13.cfg");  // from a current directory without amp.cor
    EXPECT_EQ(p->State().InCorrection.fileName, folder + "/amp.cor");
    EXPECT_EQ(p->State().InCorrection.count, 2);
    EXPECT_TRUE(p->State().InCorrection.active);
    EXPECT_EQ(p->State().OutCorrection.count, 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Fehler beim Lesen von : " + fifo);
}

// ---- The correction-file editor -----------------------------------------------------------

class EditorFileFaultTest : public ProgramFileFaultTest {
protected:
    /// Loads `file` as the input correction and opens it in the editor.
    void OpenInEditor(const std::string& file)
    {
        program = StartProgram(dir.filePath(QStringLiteral("snv13.cfg")).toStdString());
        ShellState& state = program->State();
        ASSERT_TRUE(program->Main().CurveLoader()->LoadCurveFile(state.InCorrection, file));
        program->Main().EditEingangskorrekturdatei1Click();
        ASSERT_TRUE(Editor().isVisible());
        ASSERT_EQ(Editor().Memo()->toPlainText().toStdString(), kOld);
    }
    TKorEdit& Editor() { return *program->Windows().korEdit; }

    /// Types a long new text and saves it with "Save &Test": the save fails, the file
    /// and the curve stay as they were, the text stays in the editor.
    void ExpectFailedSaveKeepsTheFile(const std::string& file)
    {
        std::string text;
        for (int i = 1; i <= 600; ++i) {
            text += std::to_string(10 * i) + " " + std::to_string(i % 7) + "\n";
        }
        Editor().Memo()->setPlainText(QString::fromStdString(text));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
        QApplication::sendEvent(Editor().Memo(), &press);
        prompts.shown.clear();
        Editor().findChild<QAction*>(QStringLiteral("test"))->trigger();
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].kind, PromptKind::Warning);
        EXPECT_EQ(prompts.shown[0].text, file + " konnte nicht gespeichert werden");
        EXPECT_EQ(ReadBytes(file), kOld);
        EXPECT_EQ(program->State().InCorrection.count, 2);
        EXPECT_TRUE(Editor().EditorModified());
        EXPECT_EQ(Editor().Memo()->toPlainText().toStdString(), text);
        newText_ = text;
    }

    /// With the cause gone, the same text saves and loads.
    void ExpectSaveWorks(const std::string& file)
    {
        prompts.shown.clear();
        Editor().findChild<QAction*>(QStringLiteral("test"))->trigger();
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_EQ(ReadBytes(file), newText_);
        EXPECT_EQ(program->State().InCorrection.count, 600);
        EXPECT_FALSE(Editor().EditorModified());
        Editor().close();
    }

    static constexpr const char* kOld = "100 0\n1000 10\n";
    std::unique_ptr<SonveraProgram> program;
    std::string newText_;
};

TEST_F(EditorFileFaultTest, SavingOnAFullDiskKeepsTheOldFile)
{
    const std::string folder = dir.filePath(QStringLiteral("disk")).toStdString();
    std::filesystem::create_directory(folder);
    testing::SmallDisk disk(folder, 32);
    if (!disk.Available()) {
        GTEST_SKIP() << "no small disk can be mounted here (" << disk.Why()
                     << "); SavingBeyondTheFileSizeLimitKeepsTheOldFile covers the failing write";
    }
    const std::string file = folder + "/in.cor";
    std::ofstream(file, std::ios::binary) << kOld;
    OpenInEditor(file);
    ASSERT_GT(disk.Fill("filler"), 0u);
    ExpectFailedSaveKeepsTheFile(file);
    std::filesystem::remove(folder + "/filler");
    ExpectSaveWorks(file);
}

TEST_F(EditorFileFaultTest, SavingBeyondTheFileSizeLimitKeepsTheOldFile)
{
    const std::string file = dir.filePath(QStringLiteral("in.cor")).toStdString();
    std::ofstream(file, std::ios::binary) << kOld;
    OpenInEditor(file);
    {
        testing::FileSizeLimit limit(64);
        ASSERT_TRUE(limit.Ok());
        ExpectFailedSaveKeepsTheFile(file);
    }
    ExpectSaveWorks(file);
}

}  // namespace
}  // namespace sonvera
