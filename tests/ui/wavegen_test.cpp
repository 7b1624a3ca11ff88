#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "config/profilefile.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/uitestsupport.h"
#include "ui/sonveraprogram.h"
#include "ui/wavegen.h"

namespace sonvera {
namespace {

const QColor kDarkRed(128, 0, 0);

/// Types `text` into `edit` key by key over a selection of its old text, as a user does.
void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}

/// Replaces the text of `edit` by `text` in one change, as a paste does.
void Paste(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(edit, &press);
}

/// The user leaves the edit with Enter.
void PressEnter(QLineEdit* edit)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(edit, &press);
}

/// A stereo 16-bit wave file of 0.1 s of a 1 kHz sine, written byte by byte.
void WriteWaveFile(const std::string& path)
{
    const std::uint32_t rate = 44100, frames = 4410;
    std::vector<std::int16_t> samples(2 * frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(10000 * std::sin(2 * std::numbers::pi * 1000.0 * i / rate));
        samples[2 * i] = samples[2 * i + 1] = v;
    }
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const std::uint32_t dataBytes = frames * 4;
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(dataBytes));
}

class WavegenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
    }
    void TearDown() override
    {
        if (window) {
            window->GstopClick();
        }
        window.reset();
        engine.ShutdownSoundEngine();
    }

    /// Creates the window over a configuration file holding `text`.
    TWavegen& Make(const std::string& text = "")
    {
        profile = std::make_unique<ProfileFile>(ProfileFile::InMemory(text));
        window = std::make_unique<TWavegen>(engine, settings, outCorrection, *profile);
        window->show();
        test::ProcessEvents(5);
        return *window;
    }

    template <typename T>
    T* Find(const char* name)
    {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    QString FreqText() { return Find<QLineEdit>("GfreqText")->text(); }
    QColor PanelColour() { return Find<QWidget>("Panel1")->palette().color(QPalette::Window); }
    QColor FreqBackground() { return Find<QLineEdit>("GfreqText")->palette().color(QPalette::Base); }
    QColor FreqFont() { return Find<QLineEdit>("GfreqText")->palette().color(QPalette::Text); }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    GeneratorSettings settings;
    CorrectionCurve outCorrection;
    test::RecordingPrompts prompts;
    std::unique_ptr<ProfileFile> profile;
    std::unique_ptr<TWavegen> window;
};

TEST_F(WavegenTest, FixedToolWindowWithEveryNamedControl)
{
    TWavegen& w = Make();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Generator"));
    EXPECT_EQ(w.objectName(), QStringLiteral("TWavegen"));
    EXPECT_EQ(w.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.minimumSize(), w.maximumSize());

    for (const char* name : {"Panel1", "GrobSpin", "FeinSpin", "Label1", "Label2", "Label3", "Label4", "Label5",
                             "Label6", "PrecOut", "RadioGroup1"}) {
        Find<QWidget>(name);
    }
    for (const char* name : {"GrobSpinUp", "GrobSpinDown", "FeinSpinUp", "FeinSpinDown"}) {
        Find<QToolButton>(name);
    }
    EXPECT_EQ(Find<QPushButton>("Gstart")->text(), QStringLiteral("Start"));
    EXPECT_EQ(Find<QPushButton>("Gstop")->text(), QStringLiteral("Stop"));
    EXPECT_EQ(Find<QPushButton>("WOoptBut")->text(), QStringLiteral("Opt."));
    EXPECT_EQ(Find<QPushButton>("UserBut")->text(), QStringLiteral("User"));
    Find<QPushButton>("wghelp");
    EXPECT_EQ(Find<QLabel>("Label1")->text(), QStringLiteral("L dig. R"));
    EXPECT_EQ(Find<QLabel>("Label2")->text(), QStringLiteral("Ana."));
    EXPECT_EQ(Find<QLabel>("Label5")->text(), QString::fromUtf8("Phase°"));
    EXPECT_EQ(Find<QGroupBox>("RadioGroup1")->title(), QStringLiteral("Form"));
    const QStringList items{"Sin", "Sqr", "white", "pink", "User", "SMPTE", "DIN", "CCIF"};
    for (int i = 0; i < 8; ++i) {
        const std::string name = "RadioGroup1" + std::to_string(i);
        EXPECT_EQ(Find<QRadioButton>(name.c_str())->text(), items[i]);
    }
    for (const char* name : {"ScrollBar4", "ScrollBar1", "ScrollBar2"}) {
        auto* bar = Find<QScrollBar>(name);
        EXPECT_EQ(bar->orientation(), Qt::Vertical) << name;
        EXPECT_EQ(bar->minimum(), 0) << name;
        EXPECT_EQ(bar->maximum(), 100) << name;
        EXPECT_FALSE(bar->invertedAppearance()) << name;  // 0 at the top
    }
    // Every control lies inside the window.
    for (QWidget* child : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(w.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
    // The frequency display: an editable line in black with white figures.
    EXPECT_FALSE(Find<QLineEdit>("GfreqText")->isReadOnly());
    EXPECT_EQ(FreqBackground(), QColor(Qt::black));
    EXPECT_EQ(FreqFont(), QColor(Qt::white));
    EXPECT_EQ(PanelColour(), QColor(Qt::black));
}

TEST_F(WavegenTest, ArrowButtonsStepCoarseAndFineOnlyWithinTheRange)
{
    Make("[GEN]\nFGEN=50\n");
    EXPECT_EQ(FreqText(), QStringLiteral("50Hz"));
    Click("GrobSpinDown");  // 50 - 100 is below 10
    EXPECT_EQ(settings.GenFrequency, 50);
    EXPECT_EQ(FreqText(), QStringLiteral("50Hz"));
    Click("GrobSpinUp");
    EXPECT_EQ(settings.GenFrequency, 150);
    Click("FeinSpinDown");
    EXPECT_EQ(FreqText(), QStringLiteral("149Hz"));

    window.reset();
    Make("[GEN]\nFGEN=27950\n");
    Click("GrobSpinUp");  // 28050 is above 28000
    EXPECT_EQ(settings.GenFrequency, 27950);
    Click("FeinSpinUp");
    EXPECT_EQ(settings.GenFrequency, 27951);
    EXPECT_EQ(FreqText(), QStringLiteral("27951Hz"));
    Click("GrobSpinDown");
    EXPECT_EQ(FreqText(), QStringLiteral("27851Hz"));
}

TEST_F(WavegenTest, ATypedFrequencyCountsOnlyWhenTheFieldIsLeftOrTypingPausesAndNeverOnTheWay)
{
    Make("[GEN]\nFGEN=1000\n");
    auto* edit = Find<QLineEdit>("GfreqText");
    Click("Gstart");
    ASSERT_TRUE(engine.PlaybackActive());
    std::vector<RunReport> reports;
    window->onReport = [&](const RunReport& r) { reports.push_back(r); };

    // "1500" typed key by key over the old text: no tone at 1, 15 or 150 Hz on the way.
    Type(edit, QStringLiteral("1500"));
    EXPECT_EQ(edit->text(), QStringLiteral("1500"));
    EXPECT_EQ(settings.GenFrequency, 1000);
    EXPECT_EQ(window->Control().LastPlayed().frequencyHz, 1000);
    // The pause timer takes it, with or without the unit.
    EXPECT_TRUE(window->TypingPause()->isActive());
    EXPECT_EQ(window->TypingPause()->interval(), TWavegen::kTypingPauseMs);
    window->CommitTypedFrequency(false);
    EXPECT_EQ(window->Control().LastPlayed().frequencyHz, 1500);

    // Enter takes "2800" as 2800 Hz (no characters cut), "12345Hz" as 12345 Hz.
    Type(edit, QStringLiteral("2800"));
    PressEnter(edit);
    EXPECT_EQ(settings.GenFrequency, 2800);
    EXPECT_EQ(edit->text(), QStringLiteral("2800Hz"));
    Type(edit, QStringLiteral("12345Hz"));
    PressEnter(edit);
    EXPECT_EQ(window->Control().LastPlayed().frequencyHz, 12345);

    // An invalid frequency changes nothing, says why, and the field shows what plays.
    Type(edit, QStringLiteral("28001"));
    PressEnter(edit);
    EXPECT_EQ(settings.GenFrequency, 12345);
    EXPECT_EQ(edit->text(), QStringLiteral("12345Hz"));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().refusal, Refusal::InvalidFrequency);
    EXPECT_EQ(reports.back().detail, "28001");

    // The arrows count at once, from the frequency in force.
    Type(edit, QStringLiteral("15"));
    Click("FeinSpinUp");
    EXPECT_EQ(window->Control().LastPlayed().frequencyHz, 12346);
    EXPECT_FALSE(window->TypingPause()->isActive());
    EXPECT_EQ(edit->text(), QStringLiteral("12346Hz"));

    auto* phase = Find<QLineEdit>("phL");
    Type(phase, QStringLiteral("4x"));
    EXPECT_EQ(phase->text(), QStringLiteral("4x"));
    EXPECT_EQ(settings.GenPhaseL, 4);
    PressEnter(phase);
    EXPECT_EQ(phase->text(), QStringLiteral("4"));
    window->onReport = nullptr;
}

TEST_F(WavegenTest, LevelBarsStartAtTheLoadedLevelsAndShowOffAtTheBottom)
{
    Make("[GEN]\nFGEN=2000\nVOLL=-20\nVOLR=-100\nPHASEL=30\nPHASER=-45\nMODE=1\n");
    auto* left = Find<QScrollBar>("ScrollBar4");
    auto* right = Find<QScrollBar>("ScrollBar1");
    EXPECT_EQ(left->value(), 20);
    EXPECT_EQ(right->value(), 100);
    // The labels show the loaded values (placing the bars fired no handler).
    EXPECT_EQ(Find<QLabel>("Label4")->text(), QStringLiteral("-20dB"));
    EXPECT_EQ(Find<QLabel>("Label6")->text(), QStringLiteral("-100dB"));
    EXPECT_EQ(Find<QLineEdit>("phL")->text(), QStringLiteral("30"));
    EXPECT_EQ(Find<QLineEdit>("phR")->text(), QStringLiteral("-45"));
    EXPECT_TRUE(Find<QRadioButton>("RadioGroup11")->isChecked());

    // The first touch of another control keeps the loaded levels.
    Click("Gstart");
    ASSERT_TRUE(engine.PlaybackActive());
    Click("FeinSpinUp");
    EXPECT_EQ(window->Control().LastPlayed().levelLeftDb, -20);
    EXPECT_EQ(window->Control().LastPlayed().levelRightDb, -100);

    left->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(Find<QLabel>("Label4")->text(), QStringLiteral("OFF"));
    EXPECT_EQ(settings.GenVolL, -100);
    EXPECT_EQ(window->Control().LastPlayed().levelLeftDb, -100);
    left->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(Find<QLabel>("Label4")->text(), QStringLiteral("-99dB"));
    right->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(Find<QLabel>("Label6")->text(), QStringLiteral("0dB"));
    EXPECT_EQ(window->Control().LastPlayed().levelRightDb, 0);
}

TEST_F(WavegenTest, StartTurnsThePanelDarkRedAndLocksOptUntilStop)
{
    Make("[GEN]\nFGEN=1000\n");
    int formatDialogs = 0;
    window->onOutputFormat = [&] { ++formatDialogs; };
    Click("WOoptBut");
    EXPECT_EQ(formatDialogs, 1);

    Click("Gstart");
    ASSERT_TRUE(engine.PlaybackActive());
    EXPECT_EQ(PanelColour(), kDarkRed);
    EXPECT_EQ(FreqBackground(), kDarkRed);
    EXPECT_FALSE(Find<QPushButton>("WOoptBut")->isEnabled());
    Find<QPushButton>("WOoptBut")->clicked();  // even a click that reaches it does nothing
    EXPECT_EQ(formatDialogs, 1);
    EXPECT_TRUE(prompts.shown.empty());

    Click("Gstop");
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_EQ(PanelColour(), QColor(Qt::black));
    EXPECT_EQ(FreqBackground(), QColor(Qt::black));
    EXPECT_TRUE(Find<QPushButton>("WOoptBut")->isEnabled());
    Click("WOoptBut");
    EXPECT_EQ(formatDialogs, 2);
}

TEST_F(WavegenTest, DeviceErrorOnStartGivesTheErrorBoxInTheWindowsLanguage)
{
    Make("[GEN]\nFGEN=1000\n");
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    Click("Gstart");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.shown[0].helpButton);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text, "Fehler bei Frequenzausgabe (" + engine.DeviceErrorText(kMmAllocated) + " )");
    EXPECT_EQ(PanelColour(), QColor(Qt::black));
    EXPECT_TRUE(Find<QPushButton>("WOoptBut")->isEnabled());

    window->SetGeneratorTexts('E');
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    Click("Gstart");
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].text, "Error at frequency output (" + engine.DeviceErrorText(kMmAllocated) + " )");
    window->SetGeneratorTexts('x');
    card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
    Click("Gstart");
    ASSERT_EQ(prompts.shown.size(), 3u);
    EXPECT_EQ(prompts.shown[2].text.rfind("Error at frequency output (", 0), 0u);
}

TEST_F(WavegenTest, PhaseEditsTakeIntegersOnly)
{
    Make();
    Click("Gstart");
    ASSERT_TRUE(engine.PlaybackActive());
    Type(Find<QLineEdit>("phL"), QStringLiteral("45"));
    EXPECT_EQ(settings.GenPhaseL, 45);
    EXPECT_EQ(window->Control().LastPlayed().phaseLeftDeg, 45);
    Type(Find<QLineEdit>("phR"), QStringLiteral("-90"));
    EXPECT_EQ(window->Control().LastPlayed().phaseRightDeg, -90);
    Paste(Find<QLineEdit>("phL"), QStringLiteral("4x"));
    EXPECT_EQ(settings.GenPhaseL, 45);
    EXPECT_EQ(Find<QLineEdit>("phL")->text(), QStringLiteral("4x"));
    Paste(Find<QLineEdit>("phR"), QString());
    EXPECT_EQ(window->Control().LastPlayed().phaseRightDeg, -90);
}

TEST_F(WavegenTest, WaveformItemsSetTheModeAndTheDisplay)
{
    Make("[GEN]\nFGEN=1000\n");
    Click("RadioGroup12");
    EXPECT_EQ(settings.GenMode, 2);
    EXPECT_EQ(FreqText(), QStringLiteral("Noise"));
    EXPECT_EQ(FreqFont(), QColor(Qt::white));
    Click("RadioGroup13");
    EXPECT_EQ(FreqText(), QStringLiteral("Noise"));
    EXPECT_EQ(FreqFont(), QColor(255, 0, 255));
    Click("RadioGroup11");
    EXPECT_EQ(FreqText(), QStringLiteral("1000Hz"));
    EXPECT_EQ(FreqFont(), QColor(Qt::white));
    EXPECT_EQ(settings.GenMode, 1);
    Click("RadioGroup17");
    EXPECT_EQ(settings.GenMode, 7);
    EXPECT_EQ(FreqText(), QStringLiteral("CCIF"));
}

TEST_F(WavegenTest, UserFileFromTheOpenDialogLoopsAndLocksLevelAndPhase)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.filePath(QStringLiteral("tone.wav")).toStdString();
    WriteWaveFile(file);
    Make("[GEN]\nFGEN=1000\n");

    QFileDialog* dialog = window->UserOpenDialog();
    EXPECT_EQ(dialog, window->UserOpenDialog());  // one dialog, made once
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Wave File (*.wav)")});
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    bool seen = false;
    QTimer poll;
    poll.setInterval(5);
    int tries = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* shown = dynamic_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (shown == nullptr || !shown->isVisible()) {
            if (++tries > 400) poll.stop();
            return;
        }
        seen = true;
        auto* name = shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(file));
        static_cast<QDialog*>(shown)->accept();
    });
    poll.start();
    Click("UserBut");
    poll.stop();
    ASSERT_TRUE(seen) << "no open dialog";
    EXPECT_EQ(settings.GenUserFile, file);
    EXPECT_FALSE(engine.PlaybackActive());  // choosing a file starts nothing
    EXPECT_EQ(FreqText(), QStringLiteral("1000Hz"));

    Click("Gstart");
    ASSERT_TRUE(engine.PlaybackActive());
    Click("RadioGroup14");
    EXPECT_EQ(FreqText(), QStringLiteral("tone.wav"));
    EXPECT_FALSE(engine.PlaybackActive());
    EXPECT_TRUE(window->Control().Player().Playing());
    for (const char* name : {"ScrollBar4", "ScrollBar1", "phL", "phR"}) {
        EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
    }
    Click("Gstop");
    EXPECT_FALSE(window->Control().Player().Playing());
    for (const char* name : {"ScrollBar4", "ScrollBar1", "phL", "phR"}) {
        EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(WavegenTest, CancelledOpenDialogKeepsTheUserFile)
{
    Make("[GEN]\nUFNAME=/music/old.wav\nMODE=4\n");
    EXPECT_EQ(FreqText(), QStringLiteral("old.wav"));
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* shown = dynamic_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shown->reject();
        }
    });
    poll.start();
    Click("UserBut");
    poll.stop();
    EXPECT_EQ(settings.GenUserFile, "/music/old.wav");
    EXPECT_EQ(FreqText(), QStringLiteral("old.wav"));
}

TEST_F(WavegenTest, AnalogVolumeBarSetsTheOutputVolume)
{
    Make();
    auto* bar = Find<QScrollBar>("ScrollBar2");
    EXPECT_EQ(bar->value(), 100 - engine.GetOutputVolume());
    bar->setValue(30);
    EXPECT_NEAR(engine.GetOutputVolume(), 70, 1);
    EXPECT_EQ(Find<QLabel>("Label3")->text(), QString::number(engine.GetOutputVolume()) + QStringLiteral("%"));
}

TEST_F(WavegenTest, ClosingAndDestroyingBothSaveTheGenSection)
{
    Make("[GEN]\nFGEN=1000\nVOLL=-3\n");
    Click("GrobSpinUp");
    window->close();
    EXPECT_EQ(profile->GetString("GEN", "FGEN", "", 100), "1100");
    EXPECT_EQ(profile->GetString("GEN", "VOLL", "", 100), "-3");

    Click("FeinSpinUp");
    Find<QScrollBar>("ScrollBar1")->setValue(7);
    window.reset();
    EXPECT_EQ(profile->GetString("GEN", "FGEN", "", 100), "1101");
    EXPECT_EQ(profile->GetString("GEN", "VOLR", "", 100), "-7");
}

TEST_F(WavegenTest, HelpButtonAsksForItsOwnPage)
{
    Make();
    std::vector<int> asked;
    window->SetHelpHandler([&](int context) { asked.push_back(context); });
    Click("wghelp");
    EXPECT_EQ(asked, std::vector<int>{15});
    QFile page(QStringLiteral(":/help/context15.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(page.readAll().contains("Generator"));
}

TEST(WavegenInProgram, TheProgramsGeneratorReadsGenAndSpeaksTheSavedLanguage)
{
    test::App();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("snv13.cfg"));
    {
        std::ofstream(config.toStdString()) << "[MAIN]\nSPRACHE=E\n[GEN]\nFGEN=440\nVOLL=-12\n";
    }
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    {
        SonveraProgram program(card, config.toStdString());
        ASSERT_EQ(program.Start(), 0);
        program.Show();
        test::ProcessEvents();
        TWavegen* gen = program.Windows().wavegen;
        ASSERT_NE(gen, nullptr);
        EXPECT_EQ(gen->findChild<QLineEdit*>(QStringLiteral("GfreqText"))->text(), QStringLiteral("440Hz"));
        EXPECT_EQ(gen->findChild<QScrollBar*>(QStringLiteral("ScrollBar4"))->value(), 12);
        card.InjectFault(WaveCall::WaveOutOpen, kMmAllocated);
        gen->findChild<QPushButton*>(QStringLiteral("Gstart"))->click();
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text.rfind("Error at frequency output (", 0), 0u);
        gen->findChild<QToolButton*>(QStringLiteral("GrobSpinUp"))->click();
    }
    ProfileFile saved(config.toStdString());
    EXPECT_EQ(saved.GetString("GEN", "FGEN", "", 100), "540");
}

}  // namespace
}  // namespace sonvera
