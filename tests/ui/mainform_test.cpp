#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "diagram/diadlg.h"
#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "engine/volume.h"
#include "platform/loopbackcard.h"
#include "scope/oszidia.h"
#include "tests/ui/uitestsupport.h"
#include "ui/analy.h"
#include "ui/helpwindow.h"
#include "ui/messageboxprompts.h"
#include "ui/shutdownsignals.h"
#include "ui/shellwindows.h"
#include "ui/wavegen.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ASSERT_TRUE(dir.isValid());
        configPath = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
    }

    void WriteConfig(const std::string& text)
    {
        std::ofstream(configPath) << text;
    }

    std::string ReadConfig() const
    {
        std::ifstream in(configPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    /// Creates and shows the program; the test fails when the start fails.
    SonveraProgram& Start()
    {
        program = std::make_unique<SonveraProgram>(card, configPath);
        EXPECT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
        return *program;
    }

    template <class T>
    T* Find(const char* name)
    {
        return program->Main().findChild<T*>(QString::fromLatin1(name));
    }

    QString ActionText(const char* name) { return Find<QAction>(name)->text(); }
    QString MenuTitle(const char* name) { return Find<QMenu>(name)->title(); }

    QTemporaryDir dir;
    std::string configPath;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(ProgramTest, CreatesTheThirteenWindowsInTheirOrderWithTheMainWindowFirst)
{
    Start();
    const std::vector<std::string> expected = {"TMainForm", "TFeatDlg",  "Tdummy",   "Twobbeldlg", "TOszidia",
                                               "TAboutBox", "TEichDlg",  "TAnaly",   "TKorEdit",   "TIOdialog",
                                               "TDiagramm", "Tdiadlg",   "TWavegen"};
    EXPECT_EQ(program->CreationOrder(), expected);
    EXPECT_EQ(program->Main().windowTitle(), QStringLiteral("Sonvera V 1.3"));
}

TEST_F(ProgramTest, FirstStartWithoutConfigurationIsGermanWithTheWindowsSideBySide)
{
    Start();
    TMainForm& main = program->Main();
    auto* tabs = Find<QTabWidget>("TabbedNotebook1");
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Spektrumanalyser"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Frequenzgenerator"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("Oszilloskop"));
    EXPECT_EQ(MenuTitle("Filemenu"), QStringLiteral("&Datei"));
    // The places of a first start are the screen's (see the window places tests).
    TDiagramm* diagram = program->Diagram();
    EXPECT_FALSE(main.frameGeometry().intersects(diagram->frameGeometry()));
    EXPECT_TRUE(diagram->isVisible());  // the spectrum page is entered
    EXPECT_EQ(main.StatusText(), "Sonvera Loopback / Sonvera Loopback");
    EXPECT_EQ(Find<QLabel>("StatusLine")->text(), QStringLiteral("Sonvera Loopback / Sonvera Loopback"));
    EXPECT_FALSE(main.SkipFirstLeave());
    EXPECT_TRUE(main.Spectrum().SpectrumPageActive);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ProgramTest, DiagramSizeFromTheConfigurationIsClamped)
{
    WriteConfig("[DIAGRAMM]\nWIDTH=50\nHEIGHT=5000\nLEFT=30\nTOP=20\n");
    Start();
    EXPECT_EQ(program->Diagram()->width(), 180);
    EXPECT_EQ(program->Main().AppSettings().Diagram.DiagramHeight, 768);
    // On the test's 800 x 800 screen the frame of a 768 high diagram does not fit: it
    // shrinks to what the screen shows.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(program->Diagram()->frameGeometry()));
    EXPECT_LT(program->Diagram()->height(), 768);
    // Brought onto the screen it would cover the main window: it stands beside it.
    EXPECT_FALSE(program->Diagram()->frameGeometry().intersects(program->Main().frameGeometry()));
}

TEST_F(ProgramTest, OneInputDeviceShowsOneItemAndAnIndexBeyondItSelectsDeviceZero)
{
    WriteConfig("[MAIN]\nINDEV=2\n");
    Start();
    EXPECT_TRUE(Find<QAction>("N11")->isVisible());
    EXPECT_FALSE(Find<QAction>("N21")->isVisible());
    EXPECT_FALSE(Find<QAction>("N31")->isVisible());
    EXPECT_EQ(Find<QAction>("N11")->text(), QStringLiteral("Sonvera Loopback"));
    EXPECT_TRUE(Find<QAction>("N11")->isChecked());
    EXPECT_EQ(program->Engine().InDeviceIndex(), 0);
    // The three auxiliary lines of the card are offered, the other seven hidden.
    EXPECT_EQ(Find<QAction>("auxin0")->text(), QStringLiteral("Line-In"));
    EXPECT_TRUE(Find<QAction>("auxin2")->isVisible());
    EXPECT_FALSE(Find<QAction>("auxin3")->isVisible());
}

TEST_F(ProgramTest, SoundEngineFailureShowsTheStartMessageAndEndsWithOne)
{
    program = std::make_unique<SonveraProgram>(card, configPath);
    program->Engine().SetFailingAllocationForTest(1);
    EXPECT_EQ(program->Start(), 1);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.shown[0].helpButton);
    EXPECT_EQ(prompts.shown[0].helpContext, 17);
    EXPECT_EQ(prompts.shown[0].text,
              "Problem beim Öffnen des Sounddevice ! Programm stopped (" + program->Engine().DeviceErrorText(3) + ")");
    EXPECT_EQ(program->CreationOrder(), std::vector<std::string>{"TMainForm"});
    program.reset();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(configPath)));  // nothing is saved
}

/// Captions of the language tables, typed from the program's documentation.
struct Caption {
    const char* name;
    const char* german;
    const char* english;
};

const Caption kMenuCaptions[] = {
    {"SpeichernalsText1", "&Speichern als Text", "&Save as text file"},
    {"FilePrintItem", "&Drucken", "&Print"},
    {"FilePrintSetupItem", "Drucker&einrichtung", "Printer &Setup"},
    {"FileExitItem", "&Beenden", "&Exit"},
    {"Kommentar1", "Kommentar", "&Remark"},
    {"EditCopyItem", "&Kopieren", "&Copy"},
    {"THDN1", "&THD+Noise", "&THD+Noise"},
    {"Noise1", "&Level", "&Level"},
    {"Parameter1", "&Parameter", "&Parameter"},
    {"LadeEingangskorrekturdatei1", "Lade &Eingangskorrekturdatei", "Open &Input Correction File"},
    {"Eingangskorrekturaktiv1", "Eingangskorrektur aktiv", "Input Correction active"},
    {"EditEingangskorrekturdatei1", "Bearbeite Eingangskorrekturdatei", "Edit Input Correction File"},
    {"LadeAusgangskorrekturdatei1", "Lade &Ausgangskorrekturdatei", "Open &Output Correction File"},
    {"Ausgangskorrekturaktiv1", "Ausgangskorrektur aktiv", "Output Correction active"},
    {"EditAusgangskorrekturdatei1", "Bearbeite Ausgangskorrekturdatei", "Edit Output Correction File"},
    {"Testekorrekturdatei1", "Teste Korrekturdateien", "Test Correction Files"},
    {"Eichen1", "&Kalibrierung", "&Calibration"},
    {"ShowFeaturelist1", "&Featureliste", "&Features"},
    {"AudioInParameter1", "Audio-In-Parameter", "Audio-In-Parameter"},
    {"AudioOutParameter1", "Audio-Out-Parameter", "Audio-Out-Parameter"},
    {"Reset1", "&Reset Soundsystem", "&Reset Soundsystem"},
    {"HelpContentsItem", "&Inhalt", "&Contens"},
    {"HelpAboutItem", "Inf&o...", "Inf&o..."},
};

const Caption kMenuTitles[] = {
    {"Filemenu", "&Datei", "&File"},         {"EditMenu", "&Bearbeiten", "&Edit"},
    {"Analyse1", "&Analyse", "&Analyze"},    {"Korrektur1", "&Korrektur", "&Correction"},
    {"MEinstellung", "&Einstellungen", "&Options"}, {"HelpMenu", "&?", "&?"},
    {"AudioDevices1", "Audio-In-Device", "Audio-In-Device"},
    {"AudioOutDevice1", "Audio-Out-Device", "Audio-Out-Device"},
    {"Eingang1", "&Wave Aux In", "&Wave Aux In"},
};

const Caption kControlCaptions[] = {
    {"MeasureLeft", "links", "left"},       {"MeasureRight", "rechts", "right"},
    {"Label6", "Mittelwert über", "Averaging over"}, {"Button1", "zurück", "back"},
    {"RunningGroup0", "einzeln", "single"}, {"RunningGroup1", "fortlaufend", "continious"},
    {"RunningGroup2", "Trigger", "trigger"},
};

TEST_F(ProgramTest, LanguageSwitchChangesEveryCaptionAndShowsTheHelpNoticeOnlyForEnglish)
{
    Start();
    TMainForm& main = program->Main();
    auto check = [&](bool german) {
        for (const Caption& c : kMenuCaptions) {
            EXPECT_EQ(ActionText(c.name), QString::fromUtf8(german ? c.german : c.english)) << c.name;
        }
        for (const Caption& c : kMenuTitles) {
            EXPECT_EQ(MenuTitle(c.name), QString::fromUtf8(german ? c.german : c.english)) << c.name;
        }
        for (const Caption& c : kControlCaptions) {
            const QString expected = QString::fromUtf8(german ? c.german : c.english);
            if (auto* label = Find<QLabel>(c.name)) {
                EXPECT_EQ(label->text(), expected) << c.name;
            } else {
                EXPECT_EQ(Find<QAbstractButton>(c.name)->text(), expected) << c.name;
            }
        }
        EXPECT_EQ(Find<QGroupBox>("FFTpointsgroup")->title(), german ? QStringLiteral("FFT-Punkte") : QStringLiteral("FFT Size"));
        EXPECT_EQ(Find<QGroupBox>("RunningGroup")->title(), german ? QStringLiteral("Betrieb") : QStringLiteral("Mode"));
        EXPECT_EQ(Find<QGroupBox>("FFTwinGroup")->title(), QStringLiteral(" FFT-Window "));
        auto* tabs = Find<QTabWidget>("TabbedNotebook1");
        EXPECT_EQ(tabs->tabText(0), german ? QStringLiteral("Spektrumanalyser") : QStringLiteral("Spectrumanalyzer"));
        EXPECT_EQ(tabs->tabText(1), german ? QStringLiteral("Frequenzgenerator") : QStringLiteral("Frequency Generator"));
        EXPECT_EQ(tabs->tabText(2), german ? QStringLiteral("Oszilloskop") : QStringLiteral("Oszilloscope"));
        QAction* flags = Find<QAction>("deutschEnglish1");
        EXPECT_TRUE(flags->text().isEmpty());
        EXPECT_FALSE(flags->icon().isNull());
        EXPECT_EQ(flags->icon().pixmap(58, 18).size(), QSize(58, 18));
    };
    check(true);
    Find<QAction>("deutschEnglish1")->trigger();
    EXPECT_EQ(main.AppSettings().Main.UiLanguage, 'E');
    check(false);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Information);
    EXPECT_EQ(prompts.shown[0].text, "At the moment the help file is only available in german");
    EXPECT_EQ(main.Messages().exportFailure, " could not created");
    EXPECT_EQ(program->Windows().analy->windowTitle(), QStringLiteral("Analyze Dialog"));

    Find<QAction>("deutschEnglish1")->trigger();
    check(true);
    EXPECT_EQ(prompts.shown.size(), 1u);  // nothing when switching back to German
    EXPECT_EQ(program->Windows().analy->windowTitle(), QStringLiteral("Analyse Dialog"));
}

TEST_F(ProgramTest, UnknownLanguageLetterKeepsTheDesignedTextsAndTheFirstSwitchSelectsGerman)
{
    WriteConfig("[MAIN]\nSPRACHE=X\n");
    Start();
    EXPECT_EQ(program->Main().AppSettings().Main.UiLanguage, 'X');
    EXPECT_EQ(MenuTitle("Filemenu"), QStringLiteral("&Datei"));
    EXPECT_FALSE(Find<QAction>("deutschEnglish1")->icon().isNull());
    Find<QAction>("deutschEnglish1")->trigger();
    EXPECT_EQ(program->Main().AppSettings().Main.UiLanguage, 'D');
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ProgramTest, ThdAndLevelTogglesExcludeEachOtherAndClearTheResultLine)
{
    Start();
    TMainForm& main = program->Main();
    program->Diagram()->SetResultLine("old line");
    main.THDN1Click();
    EXPECT_TRUE(Find<QAction>("THDN1")->isChecked());
    EXPECT_EQ(program->Diagram()->Model().ResultLine(), "");
    main.Noise1Click();
    EXPECT_TRUE(Find<QAction>("Noise1")->isChecked());
    EXPECT_FALSE(Find<QAction>("THDN1")->isChecked());
    EXPECT_TRUE(main.AppSettings().Analysis.NoiseMeasure);
    EXPECT_FALSE(main.AppSettings().Analysis.ThdMeasure);
    main.Noise1Click();
    EXPECT_FALSE(Find<QAction>("Noise1")->isChecked());
    EXPECT_FALSE(main.AppSettings().Analysis.NoiseMeasure);
}

TEST_F(ProgramTest, PageChangesRunTheLeaveAndEnterRoutines)
{
    Start();
    TMainForm& main = program->Main();
    auto* tabs = Find<QTabWidget>("TabbedNotebook1");
    tabs->setCurrentIndex(1);
    test::ProcessEvents();
    EXPECT_FALSE(main.Spectrum().SpectrumPageActive);
    EXPECT_TRUE(main.Spectrum().SpectrumLeft.empty());
    EXPECT_TRUE(program->Diagram()->isVisible());  // the sweep's diagram
    EXPECT_TRUE(main.Sweep().GeneratorPageActive);
    EXPECT_TRUE(program->Windows().wavegen->isVisible());
    // Kept over the main window as its own, never over the dialogs the program opens.
    EXPECT_EQ(program->Windows().wavegen->parentWidget(), &main);
    EXPECT_FALSE(program->Windows().wavegen->windowFlags() & Qt::WindowStaysOnTopHint);

    tabs->setCurrentIndex(2);
    test::ProcessEvents();
    EXPECT_TRUE(program->Windows().oszidia->isVisible());
    EXPECT_FALSE(Find<QAction>("Eichen1")->isEnabled());
    EXPECT_FALSE(Find<QMenu>("AudioDevices1")->isEnabled());

    tabs->setCurrentIndex(0);
    test::ProcessEvents();
    EXPECT_FALSE(program->Windows().oszidia->isVisible());
    EXPECT_TRUE(Find<QAction>("Eichen1")->isEnabled());
    EXPECT_TRUE(main.Spectrum().SpectrumPageActive);
    EXPECT_TRUE(program->Diagram()->isVisible());
    EXPECT_EQ(main.CurrentPage(), 0);
}

TEST_F(ProgramTest, TheGeneratorRidesAlongUntilDraggedAwayAndBackBringsItBack)
{
    Start();
    TMainForm& main = program->Main();
    TWavegen* gen = program->Windows().wavegen;
    Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(1);
    main.FormActivate();
    test::ProcessEvents();
    EXPECT_EQ(gen->pos(), main.DockPoint());

    main.move(main.x() + 40, main.y() + 25);
    test::ProcessUntil([&] { return gen->pos() == main.DockPoint(); }, 200);
    EXPECT_EQ(gen->pos(), main.DockPoint());

    const QPoint away = main.DockPoint() + QPoint(gen->width() + 50, 0);
    gen->move(away);
    test::ProcessEvents();
    main.move(main.x() + 10, main.y() + 10);
    test::ProcessEvents();
    EXPECT_EQ(gen->pos(), away);

    Find<QPushButton>("Button1")->click();
    EXPECT_EQ(gen->pos(), main.DockPoint());
}

TEST_F(ProgramTest, EnlargingScalesControlsShrinkingMovesNothing)
{
    Start();
    TMainForm& main = program->Main();
    auto* start = Find<QPushButton>("StartButton");
    const QRect designed = start->geometry();
    const QSize client = main.DesignedClientSize();
    ASSERT_EQ(main.centralWidget()->size(), client);

    main.resize(main.width() + client.width(), main.height());
    test::ProcessUntil([&] { return main.centralWidget()->width() == 2 * client.width(); }, 200);
    ASSERT_EQ(main.centralWidget()->size(), QSize(2 * client.width(), client.height()));
    EXPECT_EQ(start->geometry(), QRect(2 * designed.left(), designed.top(), 2 * designed.width(), designed.height()));

    main.resize(main.width() - client.width() - 100, main.height() - 50);
    test::ProcessEvents();
    EXPECT_EQ(start->geometry().width(), 2 * designed.width());  // nothing moved back
}

/// The number of renames onto `name` that an inotify descriptor has seen.
int RenamesOnto(int fd, const std::string& name)
{
    int count = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + n; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            count += event->len > 0 && name == event->name;
        }
    }
    return count;
}

TEST_F(ProgramTest, TheProgramsEndSavesEverySectionInOneReplaceOfTheFile)
{
    WriteConfig("; kept\n[MAIN]\nSPRACHE=D\n");
    Start();
    TMainForm& main = program->Main();
    Find<QAction>("deutschEnglish1")->trigger();
    main.AppSettings().Fft.FftAverage = 7;
    main.AppSettings().Analysis.AnaFreqLow = 250;
    const std::string before = ReadConfig();
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().toUtf8().constData(), IN_MOVED_TO), 0);
    const std::string leftLine = "\nLEFT=" + std::to_string(main.x()) + "\n";

    main.close();
    test::ProcessEvents();
    EXPECT_EQ(ReadConfig(), before);  // the windows that write when destroyed are still there
    program.reset();

    // One rename, so a kill at any moment leaves either the old file or the new one,
    // never sections of both.
    EXPECT_EQ(RenamesOnto(watch, "snv13.cfg"), 1);
    ::close(watch);
    const std::string text = ReadConfig();
    EXPECT_EQ(text.rfind("; kept\n[MAIN]\n", 0), 0u) << text;
    std::size_t at = 0;
    for (const char* section : {"[MAIN]", "[EICH]", "[VOLUME]", "[FFT]", "[WOB]", "[OSZI]", "[DIAGRAMM]"}) {
        const std::size_t found = text.find(section);
        ASSERT_NE(found, std::string::npos) << section << "\n" << text;
        EXPECT_GE(found, at) << section;
        at = found;
    }
    for (const char* line : {"SPRACHE=E", "AVERAGE=7", "FVON=250", "[SDSOUND]", "[GEN]", "[DIAGPRIV]"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
    EXPECT_NE(text.find(leftLine), std::string::npos) << text;
    for (const Prompt& p : prompts.shown) {
        EXPECT_NE(p.kind, PromptKind::Warning) << p.text;  // the save succeeded
    }
}

TEST_F(ProgramTest, ASecondProgramOnTheSameConfigurationAsksAndThenSavesNothingOrQuits)
{
    WriteConfig("[MAIN]\nSPRACHE=E\n[FFT]\nAVERAGE=3\n");
    Start();
    const std::string before = ReadConfig();
    LoopbackCard secondCard{DutConfig{}, LoopbackClock::Instant};
    for (const bool goOn : {true, false}) {
        prompts.shown.clear();
        prompts.answer = goOn;
        auto second = std::make_unique<SonveraProgram>(secondCard, configPath);
        ASSERT_EQ(second->Start(), goOn ? 0 : SonveraProgram::kQuitChosen);
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].kind, PromptKind::Question);
        EXPECT_EQ(prompts.shown[0].text, "The configuration file " + configPath +
                                             " is in use by another running Sonvera.\n\nContinue without saving "
                                             "settings?\n(Yes: continue, nothing will be saved. No: quit.)");
        if (goOn) {
            EXPECT_EQ(second->Main().AppSettings().Fft.FftAverage, 3);  // it reads the settings
            second->Main().AppSettings().Fft.FftAverage = 9;
            second->Main().close();
        }
        second.reset();
        EXPECT_EQ(ReadConfig(), before);
    }
    program.reset();  // once the first one has ended, the next start is alone again
    prompts.shown.clear();
    Start();
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ProgramTest, SigtermDuringARunEndsInOrderAndGivesTheLineItsVolumeBack)
{
    auto line = [&] {
        std::uint32_t v = 0;
        EXPECT_EQ(card.AuxGetVolume(0, v), kMmNoError);
        return v;
    };
    ASSERT_EQ(card.AuxSetVolume(0, 0x12341234), kMmNoError);
    WriteConfig("[VOLUME]\nFGINVOLUME=40\n");
    Start();
    EXPECT_EQ(line(), 0x12341234u);  // the start writes no line
    ShutdownSignals shutdownSignals([](int) { QApplication::quit(); });
    Find<QRadioButton>("RunningGroup1")->click();  // continuous
    Find<QPushButton>("StartButton")->click();       // applies the level saved for the run
    EXPECT_EQ(line(), VolumeFromPercent(40));
    EXPECT_NE(ReadConfig().find("LINE0=virtual 12341234 Line-In"), std::string::npos) << ReadConfig();

    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    QTimer::singleShot(20000, [] { QApplication::quit(); });  // never wait forever
    QApplication::exec();
    EXPECT_EQ(shutdownSignals.Received(), SIGTERM);
    program.reset();  // the program's own end, as after the event loop in main
    EXPECT_EQ(line(), 0x12341234u);
    EXPECT_NE(ReadConfig().find("LINE0=\n"), std::string::npos) << ReadConfig();
}

TEST_F(ProgramTest, SigtermWhileAStartUpWarningIsOpenEndsTheStartAndTheProgramInOrder)
{
    // A weighting file that is no file: the start warns in a modal box.
    WriteConfig("[ANALYSE]\nFILTER=USER\nFILTERFILE=/dev/zero\n[FFT]\nAVERAGE=7\n");
    MessageBoxPrompts boxes;
    PromptService* recording = SetPromptService(&boxes);
    QObject guard;  // the timers end with the test
    {
        ShutdownSignals shutdownSignals([&boxes](int) { boxes.EndSession(); });
        QString openBox;
        bool stillOpen = false;
        QTimer::singleShot(0, &guard, [&openBox] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                openBox = box->objectName();
            }
            std::raise(SIGTERM);
        });
        QTimer::singleShot(20000, &guard, [&stillOpen] {  // never wait forever
            if (QWidget* box = QApplication::activeModalWidget()) {
                stillOpen = true;
                box->close();
            }
        });
        program = std::make_unique<SonveraProgram>(card, configPath);
        EXPECT_EQ(program->Start(), 0);
        EXPECT_EQ(openBox, QStringLiteral("PromptBox"));
        EXPECT_FALSE(stillOpen);  // the signal closed the box, and no other opened
        EXPECT_EQ(shutdownSignals.Received(), SIGTERM);
        program.reset();  // no window is shown after such a start; the program's own end
    }
    SetPromptService(recording);
    const std::string saved = ReadConfig();
    EXPECT_NE(saved.find("[MAIN]"), std::string::npos) << saved;  // the settings were saved
    EXPECT_NE(saved.find("AVERAGE=7"), std::string::npos) << saved;
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral(".snv13.cfg.lock"))));  // the lock released
    // exit() keeps every later event loop of this thread from running until the
    // application's own loop runs again: run it once for the tests that follow.
    QTimer::singleShot(0, &guard, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

TEST_F(ProgramTest, TwoOutputDevicesEndWithTheirOwnVolumesAndResetPlaysAtTheOutSlidersVolume)
{
    auto out = [&](unsigned d) {
        std::uint32_t v = 0;
        EXPECT_EQ(card.WaveOutGetVolume(d, v), kMmNoError);
        return v;
    };
    card.SetDeviceCounts(std::nullopt, 2, std::nullopt, std::nullopt);
    ASSERT_EQ(card.WaveOutSetVolume(0, 0xC000C000), kMmNoError);
    ASSERT_EQ(card.WaveOutSetVolume(1, 0x40004000), kMmNoError);
    WriteConfig("[MAIN]\nOUTDEV=1\n");
    Start();
    EXPECT_EQ(out(1), VolumeFromPercent(25));  // the start volume went to the device in use
    EXPECT_EQ(out(0), 0xC000C000u);
    program->Main().AppSettings().Volume.GenOutVolume = 60;  // what the "Out" slider shows
    Find<QAction>("Reset1")->trigger();
    EXPECT_EQ(out(1), VolumeFromPercent(60));
    program->Main().close();
    program.reset();
    EXPECT_EQ(out(0), 0xC000C000u);
    EXPECT_EQ(out(1), 0x40004000u);
}

TEST_F(ProgramTest, ALineACrashedSessionLeftIsSetBackAtTheStartWithANoteInTheStatusLine)
{
    WriteConfig("[AUXRESTORE]\nLINE1=virtual 00FF00FF Mic\n");
    Start();
    std::uint32_t v = 0;
    ASSERT_EQ(card.AuxGetVolume(1, v), kMmNoError);
    EXPECT_EQ(v, 0x00FF00FFu);
    EXPECT_EQ(Find<QLabel>("StatusLine")->text(),
              QStringLiteral("Eingangspegel nach Abbruch zurückgesetzt: Mic   Sonvera Loopback / Sonvera Loopback"));
}

TEST_F(ProgramTest, TheReadersOfAStartShareOneReadOfTheConfiguration)
{
    // A section for each reader of the start, and the record of a line a crashed session
    // left, which the start clears in the file meanwhile.
    WriteConfig("[MAIN]\nSPRACHE=E\n[FFT]\nAVERAGE=5\n[ANALYSE]\nFVON=250\n[GEN]\nFGEN=1234\n"
                "[DIAGPRIV]\nSEPARATOR=;\n[LOGSWEEP]\nSECONDS=7\n[AUXRESTORE]\nLINE1=virtual 00FF00FF Mic\n");
    Start();
    EXPECT_EQ(program->Profile().FileReads(), 1u);
    const Settings& s = program->Main().AppSettings();
    EXPECT_EQ(s.Main.UiLanguage, 'E');
    EXPECT_EQ(s.Fft.FftAverage, 5);
    EXPECT_EQ(s.Analysis.AnaFreqLow, 250);
    EXPECT_EQ(s.Generator.GenFrequency, 1234);
    EXPECT_EQ(s.LogSweep.LogSweepSeconds, 7.0);
    EXPECT_EQ(program->Diagram()->Model().Options.Separator, ";");
    EXPECT_EQ(ReadConfig().find("00FF00FF"), std::string::npos) << ReadConfig();
}

TEST_F(ProgramTest, SettingsSavedOnCloseComeBackAtTheNextStart)
{
    Start();
    Find<QAction>("deutschEnglish1")->trigger();
    program->Main().AppSettings().Fft.FftPoints = 4096;
    program->Diagram()->resize(500, 350);
    program->Main().close();
    program.reset();
    prompts.shown.clear();

    Start();
    EXPECT_EQ(program->Main().AppSettings().Main.UiLanguage, 'E');
    EXPECT_EQ(MenuTitle("Filemenu"), QStringLiteral("&File"));
    EXPECT_TRUE(Find<QRadioButton>("FFTpointsgroup3")->isChecked());
    EXPECT_EQ(program->Diagram()->width(), 500);
    EXPECT_EQ(program->Diagram()->height(), 350);
}

}  // namespace
}  // namespace sonvera

namespace sonvera {
namespace {

TEST_F(ProgramTest, APageChangeShowsItsBoundsInTheOpenOptionsDialogAndEndsTheCursor)
{
    Start();
    TDiagramm& diagram = *program->Diagram();
    DiagramModel& m = diagram.Model();
    diagram.activateWindow();
    ASSERT_TRUE(test::ProcessUntil([&] { return m.Activated(); }, 200));
    auto* tabs = Find<QTabWidget>("TabbedNotebook1");
    tabs->setCurrentIndex(1);
    test::ProcessEvents();
    diagram.OptionsDialog().LoadOptionsDialog(m.Options);  // opened on the sweep's bounds
    diagram.OptionsDialog().show();
    const DiagramRect r = m.Layout().PlotRect;
    m.MouseDown(MouseButton::Left, r.left + 50, r.top + 50);
    m.MouseUp(MouseButton::Left);
    m.MouseMove(r.left + 50, r.top + 90);
    ASSERT_EQ(m.CursorMode, 2);

    tabs->setCurrentIndex(0);
    test::ProcessEvents();
    EXPECT_EQ(m.CursorMode, 0);
    EXPECT_EQ(diagram.OptionsDialog().findChild<QLineEdit*>("Edit3")->text(), QStringLiteral("-110.000"));
    diagram.OptionsDialog().findChild<QCheckBox*>("LogDia")->click();  // hands the record back
    tabs->setCurrentIndex(2);
    test::ProcessEvents();
    EXPECT_FLOAT_EQ(program->Main().AppSettings().Fft.FftYMin, -110.0f);
    diagram.OptionsDialog().hide();
}

TEST_F(ProgramTest, F1OpensThePageShownOrTheFocusedDialogsPageAndEscapeClosesHelp)
{
    Start();
    const auto pressF1 = [](QWidget* target) {
        QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_F1, Qt::NoModifier);
        shortcut.ignore();  // as the shortcut map sends it; accepted keeps the menu's F1 off
        QApplication::sendEvent(target, &shortcut);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        return shortcut.isAccepted() ? Help().CurrentContext() : -1;
    };
    Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(1);
    EXPECT_EQ(pressF1(program->Diagram()), 9);  // a window without a page of its own
    EXPECT_EQ(pressF1(program->Diagram()->OptionsDialog().findChild<QLineEdit*>("Edit1")), 16);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Help().Browser(), &escape);
    EXPECT_FALSE(Help().isVisible());
}

TEST_F(ProgramTest, HelpButtonOfTheDiagramOptionsOpensItsOwnPage)
{
    Start();
    Tdiadlg& options = program->Diagram()->OptionsDialog();
    auto* helpButton = options.findChild<QAbstractButton*>(QStringLiteral("BitBtn1"));
    ASSERT_NE(helpButton, nullptr);
    helpButton->click();
    EXPECT_EQ(Help().CurrentContext(), 16);
    EXPECT_TRUE(Help().Browser()->toPlainText().contains(QStringLiteral("Diagramm-Optionen")));
}

}  // namespace
}  // namespace sonvera
