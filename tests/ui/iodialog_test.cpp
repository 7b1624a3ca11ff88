#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <string>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/programtest.h"
#include "tests/ui/uitestsupport.h"
#include "ui/iodialog.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

/// The virtual card, except that it takes no 32-bit samples (the container of 24 bits).
class NoWideSamplesCard : public WaveLayer {
public:
    std::string BackendName() const override { return inner.BackendName(); }
    unsigned WaveInGetNumDevs() override { return inner.WaveInGetNumDevs(); }
    unsigned WaveOutGetNumDevs() override { return inner.WaveOutGetNumDevs(); }
    unsigned MidiOutGetNumDevs() override { return inner.MidiOutGetNumDevs(); }
    unsigned AuxGetNumDevs() override { return inner.AuxGetNumDevs(); }
    MmResult WaveInGetDevCaps(unsigned id, WaveInCaps& c) override { return inner.WaveInGetDevCaps(id, c); }
    MmResult WaveOutGetDevCaps(unsigned id, WaveOutCaps& c) override { return inner.WaveOutGetDevCaps(id, c); }
    MmResult AuxGetDevCaps(unsigned id, AuxCaps& c) override { return inner.AuxGetDevCaps(id, c); }
    MmResult WaveInOpen(WaveInHandle* h, unsigned id, const WaveFormat& f, WavePost post, std::uint32_t flags) override
    {
        return f.BitsPerSample == 32 ? kWaveBadFormat : inner.WaveInOpen(h, id, f, std::move(post), flags);
    }
    MmResult WaveInPrepareHeader(WaveInHandle h, WaveHeader* x) override { return inner.WaveInPrepareHeader(h, x); }
    MmResult WaveInAddBuffer(WaveInHandle h, WaveHeader* x) override { return inner.WaveInAddBuffer(h, x); }
    MmResult WaveInStart(WaveInHandle h) override { return inner.WaveInStart(h); }
    MmResult WaveInReset(WaveInHandle h) override { return inner.WaveInReset(h); }
    MmResult WaveInUnprepareHeader(WaveInHandle h, WaveHeader* x) override { return inner.WaveInUnprepareHeader(h, x); }
    MmResult WaveInClose(WaveInHandle h) override { return inner.WaveInClose(h); }
    MmResult WaveOutOpen(WaveOutHandle* h, unsigned id, const WaveFormat& f, WavePost post,
                         std::uint32_t flags) override
    {
        return f.BitsPerSample == 32 ? kWaveBadFormat : inner.WaveOutOpen(h, id, f, std::move(post), flags);
    }
    MmResult WaveOutPrepareHeader(WaveOutHandle h, WaveHeader* x) override { return inner.WaveOutPrepareHeader(h, x); }
    MmResult WaveOutWrite(WaveOutHandle h, WaveHeader* x) override { return inner.WaveOutWrite(h, x); }
    MmResult WaveOutReset(WaveOutHandle h) override { return inner.WaveOutReset(h); }
    MmResult WaveOutUnprepareHeader(WaveOutHandle h, WaveHeader* x) override
    {
        return inner.WaveOutUnprepareHeader(h, x);
    }
    MmResult WaveOutClose(WaveOutHandle h) override { return inner.WaveOutClose(h); }
    MmResult WaveOutGetVolume(unsigned id, std::uint32_t& v) override { return inner.WaveOutGetVolume(id, v); }
    MmResult WaveOutSetVolume(unsigned id, std::uint32_t v) override { return inner.WaveOutSetVolume(id, v); }
    MmResult AuxGetVolume(unsigned id, std::uint32_t& v) override { return inner.AuxGetVolume(id, v); }
    MmResult AuxSetVolume(unsigned id, std::uint32_t v) override { return inner.AuxSetVolume(id, v); }

    LoopbackCard inner{DutConfig{}, LoopbackClock::Instant};
};

class WaveFormatDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    /// Shows the dialog (which activates it) for one direction.
    void Open(bool input)
    {
        dialog.SetDirection(input);
        dialog.show();
        test::ProcessEvents(3);
    }
    QRadioButton* B(const char* name) { return dialog.findChild<QRadioButton*>(QString::fromLatin1(name)); }
    void TypeUserRate(const char* text)
    {
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("Edit1"));
        edit->selectAll();
        edit->insert(QString::fromLatin1(text));  // as typed: runs the change handler
    }

    bool appReady = (test::App(), true);  // the dialog below needs the application
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    TIOdialog dialog{engine};
};

TEST_F(WaveFormatDialogTest, ThirtyThreeNamedButtonsInThreeColumnsWithBu8OnItsOwnPanel)
{
    const char* const rows[TIOdialog::kRowCount] = {"8", "11", "22", "32", "44", "48", "88", "96", "176", "192", "u"};
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < TIOdialog::kRowCount; ++r) {
            const std::string name = std::string("b") + rows[r] + std::to_string(TIOdialog::kBits[static_cast<std::size_t>(c)]);
            QRadioButton* b = B(name.c_str());
            ASSERT_NE(b, nullptr) << name;
            EXPECT_EQ(b, dialog.Button(c, r));
        }
    }
    EXPECT_NE(B("bu8")->parentWidget(), B("b88")->parentWidget());
    EXPECT_EQ(B("bu16")->parentWidget(), B("b88")->parentWidget());
}

TEST_F(WaveFormatDialogTest, HighRatesAreOfferedAndTheUserRateStopsAt192000)
{
    Open(true);
    for (const char* name : {"b8824", "b9624", "b17624", "b19224"}) {
        EXPECT_TRUE(B(name)->isEnabled()) << name;  // the virtual card takes up to 200 kHz
    }
    B("b19224")->click();
    TypeUserRate("192001");
    EXPECT_FALSE(B("bu24")->isEnabled());
    TypeUserRate("192000");
    EXPECT_TRUE(B("bu24")->isEnabled());
    dialog.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    int in = 0, out = 0;
    engine.GetSampleRates(in, out);
    EXPECT_EQ(in, 192000);
}

TEST_F(WaveFormatDialogTest, OpensWithTheDevicesFormatCheckedAndEveryFormatItAccepts)
{
    engine.SetSampleRates(22050, 0);
    engine.SetFormatBits(16, 0);
    engine.SetUserRates(96000, 0);
    engine.SetSwapFlags(true, false);
    Open(true);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wave input options"));
    EXPECT_TRUE(dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->isChecked());
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("Edit1"))->text(), QStringLiteral("96000"));
    int checked = 0;
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 7; ++r) {
            EXPECT_TRUE(dialog.Button(c, r)->isEnabled()) << c << "," << r;
            checked += dialog.Button(c, r)->isChecked() ? 1 : 0;
        }
    }
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(B("b2216")->isChecked());
}

TEST_F(WaveFormatDialogTest, ADeviceThatRejects24BitsGetsTheWholeColumnDisabled)
{
    NoWideSamplesCard narrow;
    SoundEngine narrowEngine{narrow};
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    narrowEngine.BuildDeviceReport(in, out, formats);
    ASSERT_EQ(narrowEngine.InitSoundEngine(), 0);
    narrowEngine.SetUserRates(12000, 12000);
    TIOdialog narrowDialog{narrowEngine};
    for (bool input : {true, false}) {
        narrowDialog.SetDirection(input);
        narrowDialog.FormActivate();
        for (int r = 0; r < 7; ++r) {
            EXPECT_FALSE(narrowDialog.Button(2, r)->isEnabled()) << r;
            EXPECT_TRUE(narrowDialog.Button(0, r)->isEnabled()) << r;
            EXPECT_TRUE(narrowDialog.Button(1, r)->isEnabled()) << r;
        }
    }
    narrowEngine.ShutdownSoundEngine();
}

TEST_F(WaveFormatDialogTest, TypedUserRateIsAskedOfTheDeviceAndUnchecksTheUserButtons)
{
    engine.SetUserRates(12000, 0);
    engine.SetSampleRates(12000, 0);
    engine.SetFormatBits(16, 0);
    Open(true);
    ASSERT_TRUE(B("bu16")->isChecked());

    TypeUserRate("500");  // below what the card takes
    EXPECT_EQ(dialog.UserRate(), 500);
    for (const char* name : {"bu8", "bu16", "bu24"}) {
        EXPECT_FALSE(B(name)->isEnabled()) << name;
        EXPECT_FALSE(B(name)->isChecked()) << name;
    }
    EXPECT_TRUE(B("b4416")->isEnabled());  // the fixed rows stay as they were

    TypeUserRate("96000");
    for (const char* name : {"bu8", "bu16", "bu24"}) {
        EXPECT_TRUE(B(name)->isEnabled()) << name;
    }
    TypeUserRate("96k");  // not a whole number: nothing changes
    EXPECT_EQ(dialog.UserRate(), 96000);
    EXPECT_TRUE(B("bu24")->isEnabled());
}

TEST_F(WaveFormatDialogTest, Choosing24BitsStoresTheContainerAndReopeningShowsItChecked)
{
    Open(true);
    B("b4824")->click();
    dialog.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    EXPECT_FALSE(dialog.isVisible());
    int in = 0, out = 0;
    engine.GetFormatBits(in, out);
    EXPECT_EQ(in, 24);
    EXPECT_EQ(engine.InDeviceFormats()[0].Format.BitsPerSample, 32);
    engine.GetSampleRates(in, out);
    EXPECT_EQ(in, 48000);

    Open(true);
    EXPECT_TRUE(B("b4824")->isChecked());
    EXPECT_FALSE(B("b4816")->isChecked());
}

TEST_F(WaveFormatDialogTest, OnOkTheLastCheckedButtonInColumnOrderWins)
{
    engine.SetUserRates(12000, 0);
    Open(true);
    // bu8 is no member of the group, so it stays checked beside any other button.
    B("bu8")->click();
    B("b816")->click();
    EXPECT_TRUE(B("bu8")->isChecked());
    dialog.BitBtn1Click();
    int rate = 0, out = 0, bits = 0;
    engine.GetSampleRates(rate, out);
    engine.GetFormatBits(bits, out);
    EXPECT_EQ(rate, 8000);  // the 16-bit column comes after the 8-bit user button
    EXPECT_EQ(bits, 16);

    Open(true);
    B("bu8")->click();
    B("b88")->click();
    dialog.BitBtn1Click();
    engine.GetSampleRates(rate, out);
    engine.GetFormatBits(bits, out);
    EXPECT_EQ(rate, 12000);  // the user row ends the 8-bit column
    EXPECT_EQ(bits, 8);
}

TEST_F(WaveFormatDialogTest, OutputChoiceLeavesTheInputAloneAndAbortStoresNothing)
{
    engine.SetSampleRates(44100, 44100);
    engine.SetFormatBits(16, 16);
    engine.SetSwapFlags(true, false);
    engine.SetUserRates(12000, 13000);
    Open(false);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wave output options"));
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("Edit1"))->text(), QStringLiteral("13000"));
    B("b328")->click();
    dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true);
    TypeUserRate("16000");
    dialog.BitBtn1Click();

    int in = 0, out = 0;
    engine.GetSampleRates(in, out);
    EXPECT_EQ(in, 44100);
    EXPECT_EQ(out, 32000);
    engine.GetFormatBits(in, out);
    EXPECT_EQ(in, 16);
    EXPECT_EQ(out, 8);
    bool swapIn = false, swapOut = false;
    engine.GetSwapFlags(swapIn, swapOut);
    EXPECT_TRUE(swapIn);
    EXPECT_TRUE(swapOut);
    engine.GetUserRates(in, out);
    EXPECT_EQ(in, 12000);
    EXPECT_EQ(out, 16000);

    Open(false);
    B("b4816")->click();
    dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(false);
    dialog.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->click();
    EXPECT_FALSE(dialog.isVisible());
    engine.GetSampleRates(in, out);
    EXPECT_EQ(out, 32000);
    engine.GetSwapFlags(swapIn, swapOut);
    EXPECT_TRUE(swapOut);
}

TEST_F(WaveFormatDialogTest, CaptionsStayEnglishOnlyTheSwapBoxFollowsTheLanguage)
{
    auto* swap = dialog.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    dialog.SetTexts('E');
    EXPECT_EQ(swap->text(), QStringLiteral("change channels"));
    dialog.SetTexts('Q');
    EXPECT_EQ(swap->text(), QStringLiteral("change channels"));
    dialog.SetTexts('D');
    EXPECT_EQ(swap->text(), QString::fromUtf8("vertausche Kanäle"));
    Open(true);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Wave input options"));
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->text(), QStringLiteral("Abort"));
    int asked = 0;
    dialog.SetHelpHandler([&](int c) { asked = c; });
    dialog.findChild<QPushButton*>(QStringLiteral("BitBtn3"))->click();
    EXPECT_EQ(asked, 14);
}

// ---- From the main window ------------------------------------------------------------------

class WaveFormatCommandTest : public test::ProgramTest {
protected:
    /// Runs a command; `inside` gets the open dialog (or nullptr) and must close it.
    void Run(const std::function<void()>& command, const std::function<void(TIOdialog*)>& inside)
    {
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            inside(dynamic_cast<TIOdialog*>(modal));
            if (modal && modal->isVisible()) modal->close();
        });
        command();
        test::ProcessEvents(3);  // a timer that found no dialog fires here
    }

};

TEST_F(WaveFormatCommandTest, InputParametersRefreshTheFormatLabelsAfterOk)
{
    Run([&] { program->Main().AudioInParameter1Click(); },
        [&](TIOdialog* d) {
            ASSERT_NE(d, nullptr);
            EXPECT_TRUE(d->Direction());
            d->findChild<QRadioButton*>(QStringLiteral("b4824"))->click();
            d->BitBtn1Click();
        });
    EXPECT_EQ(program->Main().findChild<QLabel*>(QStringLiteral("Ldb"))->text(), QStringLiteral("24 Bits"));
    EXPECT_EQ(program->Main().findChild<QLabel*>(QStringLiteral("Lsf"))->text(), QStringLiteral("48000 Hz"));

    // "In-Parameter" on the spectrum page opens it for input as well.
    bool input = false;
    Run([&] { program->Main().findChild<QPushButton*>(QStringLiteral("Binpopt"))->click(); },
        [&](TIOdialog* d) {
            ASSERT_NE(d, nullptr);
            input = d->Direction();
            d->reject();
        });
    EXPECT_TRUE(input);
}

TEST_F(WaveFormatCommandTest, OutputParametersOpenNothingWhileTheGeneratorPlays)
{
    GeneratorParams p;
    p.frequencyHz = 1000;
    ASSERT_EQ(program->Engine().StartPlayback(1000, 3000, p), 0);
    ASSERT_TRUE(program->Engine().PlaybackActive());
    bool opened = true;
    Run([&] { program->Main().AudioOutParameter1Click(); }, [&](TIOdialog* d) { opened = d != nullptr; });
    EXPECT_FALSE(opened);
    program->Engine().StopPlayback();

    bool output = false;
    Run([&] { program->Main().AudioOutParameter1Click(); },
        [&](TIOdialog* d) {
            ASSERT_NE(d, nullptr);
            output = !d->Direction();
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Wave output options"));
            d->reject();
        });
    EXPECT_TRUE(output);
}

}  // namespace
}  // namespace sonvera
