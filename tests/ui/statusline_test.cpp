#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <memory>
#include <string>

#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "tests/ui/programtest.h"
#include "tests/ui/uitestsupport.h"
#include "ui/featdlg.h"
#include "ui/sonveraprogram.h"
#include "ui/wavegen.h"

namespace sonvera {
namespace {

/// The whole program on the virtual card's instant clock; what the status line under the
/// page says while each run goes on, when it ends, and when a command does nothing.
class StatusLineTest : public test::ProgramTest {
protected:
    QString Status() { return Main().StatusMessage(); }
    template <class T>
    T* Find(const char* name)
    {
        return Main().findChild<T*>(QString::fromLatin1(name));
    }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    void ShowPage(int page)
    {
        Find<QTabWidget>("TabbedNotebook1")->setCurrentIndex(page);
        test::ProcessEvents(5);
    }
    bool SweepEnds()
    {
        return test::ProcessUntil([&] { return !Main().Sweep().SweepRunning && !Main().Sweep().SweepToneOn; });
    }
    /// A press arriving at the main window over `w`, as from the window system.
    void PressOn(QWidget* w)
    {
        QMouseEvent press(QEvent::MouseButtonPress, w->mapTo(&Main(), QPointF(20, 30)), w->mapToGlobal(QPointF(20, 30)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Main().windowHandle(), &press);
    }
    TWavegen& Generator() { return *program->Windows().wavegen; }

};

TEST_F(StatusLineTest, TheSpectrumRunShowsThatItRunsAndHowItEnded)
{
    auto* start = Find<QPushButton>("StartButton");
    start->click();
    EXPECT_EQ(Status(), QStringLiteral("Spektrum läuft"));
    EXPECT_FALSE(start->isEnabled());

    // A locked control says why; a greyed menu item's tooltip says so.
    PressOn(Find<QGroupBox>("FFTpointsgroup"));
    EXPECT_EQ(Status(), QStringLiteral("FFT-Punkte: gesperrt, solange eine Messung läuft (erst STOP)"));
    EXPECT_FALSE(Find<QAction>("Eichen1")->isEnabled());
    EXPECT_EQ(Find<QAction>("Eichen1")->toolTip(), QStringLiteral("Gesperrt, solange eine Messung läuft"));

    Click("StopButton");
    EXPECT_EQ(Status(), QStringLiteral("Spektrum gestoppt"));
    EXPECT_EQ(Find<QAction>("Eichen1")->toolTip(), QStringLiteral("Kalibrierung"));  // its own text again

    Click("RunningGroup0");  // single: one mean, then the end
    start->click();
    ASSERT_TRUE(test::ProcessUntil([&] { return !Main().Spectrum().Running; }));
    EXPECT_EQ(Status(), QStringLiteral("Spektrum fertig"));

    card.InjectFault(WaveCall::WaveInOpen, kMmAllocated);
    start->click();
    EXPECT_EQ(Status(), QStringLiteral("Spektrum: Gerätefehler (") +
                            QString::fromStdString(program->Engine().DeviceErrorText(kMmAllocated)) + ")");
}

TEST_F(StatusLineTest, TheSweepShowsEachStepAndHowItEnded)
{
    SweepSettings& s = Main().AppSettings().Sweep;
    s.SweepFrom = 150;
    s.SweepTo = 4150;
    s.SweepSteps = 40;  // 41 steps of 100 Hz: the twelfth plays 1250 Hz
    s.SweepLinear = true;
    s.SweepSettleTime = 1;
    ShowPage(1);

    // Seen from inside the run (a timer fires in its settle waits); STOP at the twelfth.
    QString atTwelve;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (atTwelve.isEmpty() && Status().endsWith(QStringLiteral("(12/41)"))) {
            atTwelve = Status();
            EXPECT_FALSE(Find<QPushButton>("wobbelnBut")->isEnabled());
            Click("STOPbut");
        }
    });
    probe.start(0);
    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    probe.stop();
    EXPECT_EQ(atTwelve, QStringLiteral("Wobbeln: 1250 Hz (12/41)"));
    EXPECT_EQ(Status(), QStringLiteral("Wobbeln gestoppt bei 1250 Hz (12/41)"));
    Click("wobbelnBut");
    ASSERT_TRUE(SweepEnds());
    EXPECT_EQ(Status(), QStringLiteral("Wobbeln fertig: 41 Punkte"));

    // While the generator plays, START and "Out-Para" say why they do nothing.
    Generator().findChild<QAbstractButton*>(QStringLiteral("Gstart"))->click();
    EXPECT_EQ(Status(), QStringLiteral("Generator läuft: 1000Hz"));
    Click("wobbelnBut");
    EXPECT_EQ(Status(), QStringLiteral("Wobbeln: gesperrt, solange der Generator spielt (erst Stop im Generator)"));
    Click("Button2");
    EXPECT_EQ(Status(), QStringLiteral("Out-Para: gesperrt, solange der Generator spielt (erst Stop im Generator)"));
    Find<QAction>("deutschEnglish1")->trigger();  // the line follows the language
    EXPECT_EQ(Status(), QStringLiteral("Out-Para: locked while the generator plays (press Stop in the generator first)"));
    Generator().GstopClick();
    EXPECT_EQ(Status(), QStringLiteral("Generator off"));
}

TEST_F(StatusLineTest, TheOscilloscopeAndTheFeatureListSayWhatTheyDid)
{
    ShowPage(2);
    EXPECT_EQ(Status(), QStringLiteral("Oszilloskop läuft"));
    ShowPage(0);
    EXPECT_EQ(Status(), QStringLiteral("Oszilloskop gestoppt"));

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    program->Windows().featDlg->Button1Click();
    QDir::setCurrent(previous);
    EXPECT_EQ(Status(), QStringLiteral("Gespeichert: ") + QDir(dir.path()).absoluteFilePath("featlist.txt"));
}

}  // namespace
}  // namespace sonvera
