#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "engine/soundengine.h"
#include "measure/prompt.h"
#include "platform/loopbackcard.h"
#include "scope/eichdlg.h"
#include "tests/engine/enginetestsupport.h"

namespace sonvera {
namespace {

int argc = 1;
char name[] = "eichdlg_test";
char* argv[] = {name, nullptr};

class RecordingPrompts : public PromptService {
public:
    void Show(const Prompt& p) override { texts.push_back(p.text); }
    std::vector<std::string> texts;
};

class EichDlgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QApplication::instance() == nullptr) {
            app = new QApplication(argc, argv);
        }
    }
    void SetUp() override
    {
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
        engine.SetOutputVolume(100);
        previous = SetPromptService(&prompts);
        dlg.FillCalibDialog(268.0, 123.0, 8.722, 12.6);
    }
    void TearDown() override
    {
        dlg.Button2Click();
        Rounds(2);  // let an outstanding block end before the dialog goes
        SetPromptService(previous);
        engine.ShutdownSoundEngine();
    }

    /// Delivers the posted WM_CALIB_NEXT messages and the blocks they start, n times.
    void Rounds(int n)
    {
        for (int i = 0; i < n; ++i) {
            QCoreApplication::sendPostedEvents(&dlg);
            port.Pump();
        }
    }

    QString Text(const char* child) { return dlg.findChild<QLabel*>(child)->text(); }
    QLineEdit* Edit(const char* child) { return dlg.findChild<QLineEdit*>(child); }

    static inline QApplication* app = nullptr;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    test::QueuePort port{engine};
    RecordingPrompts prompts;
    PromptService* previous = nullptr;
    TEichDlg dlg{engine};
};

TEST_F(EichDlgTest, FillShowsTheValuesInTheirFormatsAndResetsTheState)
{
    EXPECT_EQ(Edit("Edit1")->text(), QStringLiteral("268.0"));
    EXPECT_EQ(Edit("Edit2")->text(), QStringLiteral("8.72200"));
    EXPECT_EQ(Edit("Edit3")->text(), QStringLiteral("12.60000"));
    EXPECT_FALSE(Edit("Edit1")->isEnabled());
    EXPECT_EQ(Text("Label3"), QStringLiteral("under"));
    EXPECT_FALSE(dlg.CalibRunning());
    EXPECT_FALSE(dlg.CalibReading());
}

TEST_F(EichDlgTest, SilentInputShowsZeroWithALeadingBlank)
{
    dlg.Button1Click();
    EXPECT_TRUE(dlg.CalibRunning());
    Rounds(1);
    EXPECT_EQ(Text("Label3"), QStringLiteral(" 0.0%"));
    EXPECT_TRUE(dlg.CalibReading());
}

TEST_F(EichDlgTest, SineLevelIsTwoHundredthsOfTheAbsoluteSum)
{
    GeneratorParams p;
    p.frequencyHz = 1000;
    p.levelLeftDb = -20;
    p.levelRightDb = -20;
    ASSERT_EQ(engine.StartPlayback(1000, 5000, p), 0);
    dlg.Button1Click();
    Rounds(1);
    // 16000 values of a sine of amplitude 0.1: the mean absolute value is 0.2 / pi.
    const double expected = 0.02 * 16000 * 0.1 * 2.0 / std::numbers::pi;  // 101.86
    const double shown = Text("Label3").chopped(1).toDouble();
    EXPECT_NEAR(shown, expected, 0.3);
}

TEST_F(EichDlgTest, FullScaleBlockShowsOverAndTheCount)
{
    GeneratorParams p;
    p.waveform = kWaveSquare;
    ASSERT_EQ(engine.StartPlayback(1000, 5000, p), 0);
    dlg.Button1Click();
    Rounds(1);
    ASSERT_GT(engine.OverloadCount(), 0);
    EXPECT_EQ(Text("Label3"), QStringLiteral("over ") + QString::number(engine.OverloadCount()));
}

TEST_F(EichDlgTest, BeginTwiceStartsOneLoopWithOneBlockAtATime)
{
    dlg.Button1Click();
    dlg.Button1Click();
    const unsigned before = card.PostedInData();
    Rounds(3);
    EXPECT_EQ(card.PostedInData() - before, 3u);
    EXPECT_TRUE(dlg.CalibRunning());
}

TEST_F(EichDlgTest, EndStopsAfterTheBlockInFlightAndEnablesTheValue)
{
    dlg.Button1Click();
    QCoreApplication::sendPostedEvents(&dlg);  // the block is being recorded
    dlg.Button2Click();
    EXPECT_FALSE(dlg.CalibRunning());
    EXPECT_TRUE(Edit("Edit1")->isEnabled());
    const unsigned before = card.PostedInData();
    port.Pump();  // it still arrives and is shown
    EXPECT_EQ(Text("Label3"), QStringLiteral(" 0.0%"));
    EXPECT_TRUE(dlg.CalibReading());
    Rounds(2);
    EXPECT_EQ(card.PostedInData(), before);  // no further block
    // Begin again after End.
    dlg.Button1Click();
    EXPECT_FALSE(Edit("Edit1")->isEnabled());
    Rounds(1);
    EXPECT_EQ(card.PostedInData(), before + 1);
}

TEST_F(EichDlgTest, OkWithoutReadingShowsOnlyTheSecondMessageWhenTheValuesAreGood)
{
    dlg.SetCalibTexts('E');
    dlg.OKBtnClick();
    ASSERT_EQ(prompts.texts.size(), 1u);
    EXPECT_EQ(prompts.texts[0], "No Calibration process started");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(EichDlgTest, OkWithEmptyOrZeroValueShowsBothMessagesInOrder)
{
    for (const char* value : {"", "0"}) {
        prompts.texts.clear();
        Edit("Edit1")->setText(QString::fromLatin1(value));
        dlg.OKBtnClick();
        ASSERT_EQ(prompts.texts.size(), 2u) << value;
        EXPECT_EQ(prompts.texts[0], "Eichwert falsch");
        EXPECT_EQ(prompts.texts[1], "Kein Eichvorgang gestartet");
    }
}

TEST_F(EichDlgTest, DecimalCommaIsRefusedEvenAfterAReading)
{
    dlg.Button1Click();
    Rounds(1);
    dlg.Button2Click();
    Edit("Edit2")->setText(QStringLiteral("8,722"));
    dlg.OKBtnClick();
    ASSERT_EQ(prompts.texts.size(), 1u);
    EXPECT_EQ(prompts.texts[0], "Eichwert falsch");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(EichDlgTest, OkAfterAReadingWithGoodValuesAcceptsAndHandsThemBack)
{
    dlg.Button1Click();
    Rounds(1);
    dlg.Button2Click();
    Edit("Edit1")->setText(QStringLiteral("310.5"));
    Edit("Edit3")->setText(QStringLiteral("10.0"));
    dlg.OKBtnClick();
    EXPECT_TRUE(prompts.texts.empty());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    const auto v = dlg.ReadCalibValues();
    ASSERT_TRUE(v.has_value());
    EXPECT_DOUBLE_EQ(v->calibMv, 310.5);
    EXPECT_DOUBLE_EQ(v->levelFactor, 8.722);
    EXPECT_DOUBLE_EQ(v->levelOffset, 10.0);
}

TEST_F(EichDlgTest, HidingTheDialogStopsTheLoop)
{
    dlg.show();
    dlg.Button1Click();
    dlg.hide();
    EXPECT_FALSE(dlg.CalibRunning());
    EXPECT_FALSE(Edit("Edit1")->isEnabled());
    const unsigned before = card.PostedInData();
    Rounds(2);
    EXPECT_EQ(card.PostedInData(), before);
}

TEST_F(EichDlgTest, LanguageTextsAndUnchangedCaptions)
{
    dlg.SetCalibTexts('E');
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Calibration"));
    EXPECT_EQ(dlg.findChild<QGroupBox*>("GroupBox1")->title(), QStringLiteral("Oszilloscope"));
    EXPECT_EQ(dlg.findChild<QGroupBox*>("GroupBox2")->title(), QStringLiteral("Spectrum Analyzer"));
    EXPECT_EQ(Text("Label4"), QStringLiteral("Factor"));
    EXPECT_EQ(Text("Label9"), QStringLiteral("in the y-axis of the diagram"));
    dlg.SetCalibTexts('x');  // ignored
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Calibration"));
    dlg.SetCalibTexts('D');
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Kalibrierung"));
    EXPECT_EQ(Text("Label1"), QString::fromUtf8("Sinussignal >100mV langsam erh\u00f6hen bis gerade OVER "
                                                 "erscheint, dann gemessene Spannung eintragen"));
    EXPECT_EQ(Text("Label8"), QString::fromUtf8("Pegellinearit\u00e4t und Position im"));
    EXPECT_EQ(Text("Label2"), QStringLiteral("mV eff"));
    EXPECT_EQ(Text("Label5"), QStringLiteral("Offset"));
    EXPECT_EQ(dlg.findChild<QPushButton*>("Button1")->text(), QStringLiteral("Begin"));
    EXPECT_EQ(dlg.findChild<QPushButton*>("Button2")->text(), QStringLiteral("End"));
    EXPECT_EQ(dlg.findChild<QPushButton*>("CancelBtn")->text(), QStringLiteral("Abbruch"));
}

TEST_F(EichDlgTest, HelpButtonAsksForContextThree)
{
    int context = 0;
    dlg.SetHelpHandler([&](int c) { context = c; });
    dlg.findChild<QPushButton*>("HelpBtn")->click();
    EXPECT_EQ(context, 3);
}

}  // namespace
}  // namespace sonvera
