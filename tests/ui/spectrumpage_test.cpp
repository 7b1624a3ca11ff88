#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <vector>

#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/programtest.h"
#include "tests/ui/uitestsupport.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

/// The whole program on the virtual card's instant clock, driven through its controls.
class SpectrumPageTest : public test::ProgramTest {
protected:
    void Configure(Settings& s) override
    {
        s.Fft.FftWindow = 0;    // "None": a bin's magnitude is a/4 for a sine of amplitude a
        s.Fft.FftPoints = 4096;  // 44100 Hz: 11025 Hz falls on bin 1024
    }

    void SetUp() override
    {
        ProgramTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        program->Diagram()->activateWindow();
        test::ProcessUntil([&] { return program->Diagram()->Model().Activated(); }, 200);
        ASSERT_TRUE(program->Diagram()->Model().Activated());
    }

    template <class T>
    T* Find(const char* name)
    {
        return program->Main().findChild<T*>(QString::fromLatin1(name));
    }

    void PlayTone(int freqHz, int levelDb)
    {
        GeneratorParams p;
        p.frequencyHz = freqHz;
        p.levelLeftDb = levelDb;
        p.levelRightDb = levelDb;
        // The engine starts the output at 25 %; the card's cable then carries a quarter.
        program->Engine().SetOutputVolume(100);
        // A finite tone: the engine keeps it in one buffer, long enough for a few blocks.
        ASSERT_EQ(program->Engine().StartPlayback(freqHz, 3000, p), 0);
    }

    SpectrumRun& Run() { return program->Main().Spectrum(); }

};

TEST_F(SpectrumPageTest, SingleRunWithFourAveragesCountsDownAndShowsThePeakAtThePredictedLevel)
{
    PlayTone(11025, 0);
    auto* aver = Find<QSpinBox>("AverVal");
    std::vector<int> shown;
    QObject::connect(aver, &QSpinBox::valueChanged, aver, [&](int v) { shown.push_back(v); });
    Find<QRadioButton>("RunningGroup0")->click();
    aver->setValue(4);
    shown.clear();
    Find<QPushButton>("StartButton")->click();
    EXPECT_TRUE(Run().Running);
    EXPECT_FALSE(aver->isEnabled());
    EXPECT_FALSE(Find<QAction>("Eichen1")->isEnabled());
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }));
    EXPECT_EQ(Run().BlocksTaken(), 4);
    EXPECT_EQ(shown, (std::vector<int>{3, 2, 1, 4}));
    EXPECT_EQ(aver->value(), 4);
    EXPECT_TRUE(aver->isEnabled());

    const DiagramModel& model = program->Diagram()->Model();
    int peak = 0;
    for (int i = 1; i < 2048; ++i) {
        if (model.Curve1Array[static_cast<std::size_t>(i)] > model.Curve1Array[static_cast<std::size_t>(peak)]) {
            peak = i;
        }
    }
    EXPECT_EQ(peak, 1024);
    EXPECT_FLOAT_EQ(model.FreqArray[1024], 11025.0f);
    const double amplitude = 32767.0 / 32768.0;
    EXPECT_NEAR(model.Curve1Array[1024], 20.0 * std::log10(amplitude), 0.01);  // the peak in dBFS
    EXPECT_NEAR(model.Curve2Array[1024], 20.0 * std::log10(amplitude), 0.01);
    // A full-scale tone at a quarter of the rate sits on the extremes every other sample.
    EXPECT_TRUE(Find<QLabel>("Overload")->text().startsWith(QStringLiteral("Over "))) << Find<QLabel>("Overload")->text().toStdString();
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SpectrumPageTest, TheFifthSizeChoiceTakesTheLongerSizesFromItsList)
{
    auto* combo = Find<QComboBox>("FFTpointsCombo");
    auto* fifth = Find<QRadioButton>("FFTpointsgroup4");
    ASSERT_NE(combo, nullptr);
    ASSERT_NE(fifth, nullptr);
    ASSERT_EQ(combo->count(), 8);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("8192"));
    EXPECT_EQ(combo->itemText(7), QStringLiteral("1048576"));
    int& points = program->Main().AppSettings().Fft.FftPoints;
    combo->setCurrentIndex(7);
    emit combo->activated(7);
    EXPECT_EQ(points, 1048576);
    EXPECT_TRUE(fifth->isChecked());
    Find<QRadioButton>("FFTpointsgroup1")->click();
    EXPECT_EQ(points, 1024);
    fifth->click();  // the list's entry
    EXPECT_EQ(points, 1048576);
    // The group fits above the mode group, the list inside it.
    const QRect group = Find<QGroupBox>("FFTpointsgroup")->geometry();
    EXPECT_LT(group.bottom(), Find<QGroupBox>("RunningGroup")->geometry().top());
    EXPECT_LE(combo->geometry().bottom(), group.height());
}

TEST_F(SpectrumPageTest, ContinuousRunGoesOnUntilStopAndTheLateBlockIsIgnored)
{
    PlayTone(11025, -20);
    Find<QRadioButton>("RunningGroup1")->click();
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= 3; }));
    EXPECT_TRUE(Run().Running);
    EXPECT_EQ(Find<QLabel>("Overload")->text(), QStringLiteral("."));
    Find<QPushButton>("StopButton")->click();
    const int taken = Run().BlocksTaken();
    test::ProcessEvents(50);
    EXPECT_FALSE(Run().Running);
    EXPECT_EQ(Run().BlocksTaken(), taken);
    EXPECT_TRUE(Find<QPushButton>("Binpopt")->isEnabled());
}

TEST_F(SpectrumPageTest, ThdLineUnderTheDiagramInBothLanguages)
{
    PlayTone(11025, -6);
    program->Main().THDN1Click();
    Find<QRadioButton>("RunningGroup0")->click();
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }));
    const std::string german = program->Diagram()->Model().ResultLine();
    EXPECT_EQ(german.rfind("THD+N:  LI 11025Hz ", 0), 0u) << german;
    EXPECT_NE(german.find(" |  RE 11025Hz "), std::string::npos) << german;
    EXPECT_NE(german.find(" |   Filter: none"), std::string::npos) << german;

    Find<QAction>("deutschEnglish1")->trigger();
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }));
    const std::string english = program->Diagram()->Model().ResultLine();
    EXPECT_EQ(english.rfind("THD+N:  le 11025Hz ", 0), 0u) << english;
}

TEST_F(SpectrumPageTest, DeviceErrorsOfTheVirtualCardGiveTheExactDialogs)
{
    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    Find<QPushButton>("StartButton")->click();
    EXPECT_FALSE(Run().Running);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Probleme beim Sample (" + program->Engine().DeviceErrorText(kMmAllocated) + ")");
    EXPECT_EQ(prompts.shown[0].helpContext, 17);

    Find<QAction>("deutschEnglish1")->trigger();  // adds the help notice
    Find<QRadioButton>("RunningGroup1")->click();
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= 1; }));
    card.InjectFault(WaveCall::WaveInOpen, kMmBadDeviceId);
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }));
    ASSERT_EQ(prompts.shown.size(), 3u);
    EXPECT_EQ(prompts.shown[2].text,
              "Problems at Open Sampling (" + program->Engine().DeviceErrorText(kMmBadDeviceId) + ")");
    EXPECT_TRUE(Find<QSpinBox>("AverVal")->isEnabled());
}

TEST_F(SpectrumPageTest, ResetSoundsystemStopsTheRunAndMeasuringWorksAfterwards)
{
    Find<QRadioButton>("RunningGroup1")->click();
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= 2; }));
    Find<QAction>("Reset1")->trigger();
    EXPECT_FALSE(Run().Running);
    test::ProcessEvents(50);
    EXPECT_TRUE(program->Engine().Started());
    const int before = Run().BlocksTaken();
    PlayTone(11025, -6);
    Find<QRadioButton>("RunningGroup0")->click();
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }));
    EXPECT_EQ(Run().BlocksTaken(), before + 1);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SpectrumPageTest, InputLevelSliderSetsTheLineVolumeAndItsLabel)
{
    auto* slider = program->Main().findChild<QScrollBar*>(QStringLiteral("ScrollBar3"));
    slider->setValue(40);
    EXPECT_EQ(program->Main().AppSettings().Volume.GenInVolume, 40);
    EXPECT_EQ(program->Engine().GetLineVolume(program->Engine().InputLine()), 40);
    EXPECT_EQ(Find<QLabel>("InLevelLabel")->text(), QStringLiteral("40%"));
}

TEST_F(SpectrumPageTest, TriggerModeStopsOnTheFirstLoudBlock)
{
    Find<QRadioButton>("RunningGroup2")->click();
    EXPECT_EQ(Find<QSpinBox>("AverVal")->value(), 1);
    Find<QPushButton>("StartButton")->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return Run().BlocksTaken() >= 3; }));
    EXPECT_TRUE(Run().Running);  // silence stays below -60 dB
    PlayTone(11025, 0);
    ASSERT_TRUE(test::ProcessUntil([&] { return !Run().Running; }));
    EXPECT_EQ(program->Diagram()->Model().ResultLine().rfind("act. level ", 0), 0u);
}

}  // namespace
}  // namespace sonvera
