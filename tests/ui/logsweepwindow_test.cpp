// The log sweep window's wiring: opened from the generator page, its results in the
// diagram window (level, and THD or phase on a labelled second axis), STOP, the settings
// section. The measurement itself is tested in tests/measure/logsweeprun_test.cpp.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTemporaryDir>

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "config/profilefile.h"
#include "diagram/diagramm.h"
#include "dsp/timingmarker.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/logsweep.h"
#include "ui/sonveraprogram.h"
#include "ui/wavegen.h"

namespace sonvera {
namespace {

DutConfig Device()
{
    DutConfig d;
    d.highPassHz = 100;
    d.lowPassHz = 5000;
    d.h3 = 0.003;
    return d;
}

class LogSweepWindowTest : public ::testing::Test {
protected:
    void Open(LoopbackClock clock)
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        configPath = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
        card = std::make_unique<LoopbackCard>(Device(), clock);
        program = std::make_unique<SonveraProgram>(*card, configPath);
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
        program->Main().findChild<QTabWidget*>(QStringLiteral("TabbedNotebook1"))->setCurrentIndex(1);
        test::ProcessEvents(5);
        program->Engine().SetOutputVolume(100);
        program->Engine().SetSampleRates(48000, 48000);
        program->Main().findChild<QPushButton*>(QStringLiteral("LogSweepBut"))->click();
        test::ProcessEvents(5);
    }
    TLogSweep& Window() { return program->Main().LogSweep(); }
    template <class T>
    T* Find(const char* name)
    {
        return Window().findChild<T*>(QString::fromLatin1(name));
    }
    DiagramModel& Diagram() { return program->Diagram()->Model(); }

    QTemporaryDir dir;
    std::string configPath;
    std::unique_ptr<LoopbackCard> card;
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(LogSweepWindowTest, StartShowsLevelAndThdInTheDiagramAndPhaseOnRequest)
{
    Open(LoopbackClock::Instant);
    ASSERT_TRUE(Window().isVisible());
    Find<QComboBox>("LogCurve2")->setCurrentIndex(1);  // THD
    Find<QPushButton>("LogStart")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Window().Run().HasResult(); }, 4000));
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(Find<QProgressBar>("LogProgress")->value(), 100);
    EXPECT_TRUE(Find<QPushButton>("LogStart")->isEnabled());

    // Curve 1 the level, curve 2 the THD on a dB axis: at 320 Hz, where the filters pass
    // the fundamental and its third harmonic alike, h3 A^2 at A = -6 dB.
    EXPECT_TRUE(Diagram().Axis2Shown);
    EXPECT_EQ(Diagram().Axis2Unit, "dB");
    const std::size_t at320 = 192;  // 20 Hz * 2^(192/48)
    EXPECT_NEAR(Diagram().FreqArray[at320], 320.0f, 0.01f);
    EXPECT_NEAR(Diagram().Curve2Array[at320], 20.0 * std::log10(0.003 * std::pow(10.0, -12.0 / 20.0)), 0.5);
    EXPECT_EQ(Diagram().ResultLine().rfind("Verzögerung 0.0 Samples (0.000 ms), Band 20 - 20000 Hz", 0), 0u)
        << Diagram().ResultLine();

    // The phase instead: degrees on the axis, wrapped into -180 .. 180 in the export.
    Find<QComboBox>("LogCurve2")->setCurrentIndex(0);
    Window().Curve2Change(0);
    EXPECT_EQ(Diagram().Axis2Unit, "\u00B0");
    const std::string table = dir.filePath(QStringLiteral("t.txt")).toStdString();
    ASSERT_EQ(Diagram().ExportDiagramText(table, ","), 0);
    std::ifstream in(table);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        double f = 0, level = 0, phase = 0;
        char comma = 0;
        std::istringstream(line) >> f >> comma >> level >> comma >> phase;
        EXPECT_LE(std::fabs(phase), 180.0) << line;
        ++lines;
    }
    EXPECT_EQ(lines, 479);  // 20 Hz * 2^(i/48) up to 20 kHz
}

TEST_F(LogSweepWindowTest, OpensBesideTheMainWindowAndTheGenerator)
{
    Open(LoopbackClock::Instant);
    ASSERT_TRUE(Window().isVisible());
    EXPECT_FALSE(Window().frameGeometry().intersects(program->Main().frameGeometry()))
        << Window().frameGeometry().x() << "," << Window().frameGeometry().y();
    EXPECT_FALSE(Window().frameGeometry().intersects(program->Windows().wavegen->frameGeometry()));
}

TEST_F(LogSweepWindowTest, TheLeftLevelIsOfferedOnlyWhereTheModeMeasuresIt)
{
    Open(LoopbackClock::Instant);
    auto* curves = qobject_cast<QStandardItemModel*>(Find<QComboBox>("LogCurve2")->model());
    ASSERT_NE(curves, nullptr);
    const int left = static_cast<int>(LogSweepCurve::LeftLevel);
    Find<QRadioButton>("LogStereo")->click();
    EXPECT_TRUE(curves->item(left)->isEnabled());
    Find<QComboBox>("LogCurve2")->setCurrentIndex(left);

    Find<QRadioButton>("LogRef")->click();
    EXPECT_FALSE(curves->item(left)->isEnabled());
    EXPECT_EQ(Find<QComboBox>("LogCurve2")->currentIndex(), static_cast<int>(LogSweepCurve::Phase));
}

TEST_F(LogSweepWindowTest, StopEndsARunningSweepAndHidingWritesTheSection)
{
    Open(LoopbackClock::RealTime);
    Find<QLineEdit>("LogSeconds")->setText(QStringLiteral("4.5"));
    Find<QPushButton>("LogStart")->click();
    EXPECT_FALSE(Find<QPushButton>("LogStart")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("LogStop")->isEnabled());
    Find<QPushButton>("LogStop")->click();
    EXPECT_TRUE(Find<QPushButton>("LogStart")->isEnabled());
    EXPECT_FALSE(program->Engine().PlayRecordOpen());
    test::ProcessEvents(20);
    EXPECT_FALSE(Window().Run().HasResult());
    EXPECT_TRUE(prompts.shown.empty());

    Window().hide();
    ProfileFile file(configPath);
    EXPECT_EQ(file.GetString("LOGSWEEP", "SECONDS", "", 199), "4.5");
    EXPECT_EQ(file.GetString("LOGSWEEP", "MODE", "", 199), "REF");
}

}  // namespace
}  // namespace sonvera

namespace sonvera {
namespace {

void WriteMonoFloatWave(const std::string& path, const std::vector<float>& samples, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

TEST_F(LogSweepWindowTest, AnalyseRecordingShowsAFileLikeASweepInBothLanguages)
{
    Open(LoopbackClock::Instant);
    QPushButton* button = Find<QPushButton>("LogRecording");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("Aufnahme analysieren…"));
    Window().SetTexts('E');
    EXPECT_EQ(button->text(), QStringLiteral("Analyse recording…"));
    Window().SetTexts('D');

    // The sweep file of the window's settings, written as one channel at 48 kHz.
    const std::vector<float> samples = MakeMarkedLogSweep(DesignLogSweep(LogSweepParamsFrom(LogSweepSettings{}, 48000)));
    const QString path = dir.filePath(QStringLiteral("rec.wav"));
    WriteMonoFloatWave(path.toStdString(), samples, 48000);
    ASSERT_TRUE(Window().AnalyseRecordingFile(path));
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(Diagram().ResultLine().rfind("Verzögerung 0.0 Samples (0.000 ms), Band 20 - 20000 Hz", 0), 0u)
        << Diagram().ResultLine();
    EXPECT_TRUE(Find<QPushButton>("LogImpulse")->isEnabled());

    // A file without the markers: the box says so.
    WriteMonoFloatWave(path.toStdString(), std::vector<float>(48000 * 6, 0.0f), 48000);
    EXPECT_FALSE(Window().AnalyseRecordingFile(path));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Keine Zeitmarke in der Aufnahme ! ");
}

}  // namespace
}  // namespace sonvera
