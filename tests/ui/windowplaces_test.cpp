#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "diagram/diagramm.h"
#include "platform/loopbackcard.h"
#include "scope/oszidia.h"
#include "tests/ui/uitestsupport.h"
#include "ui/sonveraprogram.h"
#include "ui/wavegen.h"

namespace sonvera {
namespace {

// The program's windows on the screens of an offscreen platform chosen before the
// application starts: a 1600 x 1000 screen and, unless SONVERA_TEST_SCREENS is 1, a
// 1280 x 720 screen right of it (the tests run once with each). The rules themselves are
// tested in windowplacement_test.
const bool kTwoScreens = qEnvironmentVariable("SONVERA_TEST_SCREENS") != QStringLiteral("1");
const std::string kScreens = [] {
    const std::string path =
        QDir::temp().filePath(QStringLiteral("screens-%1.json").arg(QCoreApplication::applicationPid())).toStdString();
    std::ofstream(path) << R"({"screens": [{"name": "l", "width": 1600, "height": 1000})"
                        << (kTwoScreens ? R"(, {"name": "r", "x": 1600, "width": 1280, "height": 720})" : "") << "]}";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + path.c_str());
    return path;
}();

class WindowPlacesTest : public ::testing::Test {
protected:
    void Start(const std::string& config = {})
    {
        test::App();
        std::remove(kScreens.c_str());  // read when the application started
        ASSERT_TRUE(dir.isValid());
        const std::string path = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
        std::ofstream(path) << config;
        program = std::make_unique<SonveraProgram>(card, path);
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
    }
    QRect Frame(QWidget* w) { return w->isVisible() ? w->frameGeometry() : QRect(); }
    QRect Main() { return Frame(&program->Main()); }
    QRect Diagram() { return Frame(program->Diagram()); }
    void ShowPage(int page)
    {
        program->Main().findChild<QTabWidget*>(QStringLiteral("TabbedNotebook1"))->setCurrentIndex(page);
        test::ProcessEvents();
    }
    static bool OnAScreen(const QRect& frame)
    {
        for (const QScreen* s : QGuiApplication::screens()) {
            if (s->availableGeometry().contains(frame)) {
                return true;
            }
        }
        return false;
    }

    QTemporaryDir dir;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(WindowPlacesTest, AFirstStartShowsEveryWindowWholeWithNoneOverAnother)
{
    Start();
    ASSERT_EQ(QGuiApplication::screens().size(), kTwoScreens ? 2 : 1);
    const QRect primary = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect first = Main();
    EXPECT_TRUE(primary.contains(first) && primary.contains(Diagram()));
    EXPECT_FALSE(first.intersects(Diagram()));
    EXPECT_GE(program->Diagram()->width(), 800);
    EXPECT_GE(program->Diagram()->height(), 500);

    ShowPage(1);  // the generator over its group, not over the diagram
    const QRect gen = Frame(program->Windows().wavegen);
    EXPECT_TRUE(first.contains(gen.topLeft()));
    EXPECT_FALSE(gen.intersects(Diagram()));

    ShowPage(2);  // the main window makes room for the view, and goes back afterwards
    const QRect view = Frame(program->Windows().oszidia);
    EXPECT_TRUE(primary.contains(view) && primary.contains(Main()));
    EXPECT_FALSE(view.intersects(Main()));
    EXPECT_LE(Main().left(), view.right() + 2 + 8);  // 8: the view's frame, guessed before it is shown
    ShowPage(0);
    EXPECT_EQ(Main(), first);
}

TEST_F(WindowPlacesTest, SavedPlacesNoScreenShowsComeBackWholeAndApart)
{
    for (const char* config : {"[MAIN]\nLEFT=2200\nTOP=100\n[DIAGRAMM]\nLEFT=2300\nTOP=200\n",  // a second monitor
                               "[MAIN]\nLEFT=-5000\nTOP=32767\n[DIAGRAMM]\nLEFT=-5000\nTOP=32767\n"}) {
        SCOPED_TRACE(config);
        Start(config);
        EXPECT_TRUE(OnAScreen(Main()));
        EXPECT_TRUE(OnAScreen(Diagram()));
        EXPECT_EQ(program->Diagram()->size(), QSize(450, 320));  // the default size fits
        if (kTwoScreens && program->Main().AppSettings().Diagram.DiagramLeft == 2300) {
            EXPECT_EQ(program->Main().pos(), QPoint(2200, 100));  // that monitor is there
            EXPECT_EQ(program->Diagram()->pos(), QPoint(2300, 200));
        } else {
            EXPECT_FALSE(Main().intersects(Diagram()));
        }
        program.reset();
    }
}

TEST_F(WindowPlacesTest, TheGeneratorWindowLeavesTheOtherPagesFree)
{
    Start();
    TWavegen* gen = program->Windows().wavegen;
    ShowPage(1);
    const QPoint docked = gen->pos();
    ShowPage(0);  // nothing plays: hidden
    EXPECT_FALSE(gen->isVisible());
    ShowPage(1);
    EXPECT_EQ(gen->pos(), docked);

    gen->findChild<QAbstractButton*>(QStringLiteral("Gstart"))->click();
    for (int page : {0, 2}) {  // it plays: in sight, over no other window
        SCOPED_TRACE(page);
        ShowPage(page);
        const QRect frame = Frame(gen);
        EXPECT_TRUE(OnAScreen(frame));
        for (const QRect& other : {Main(), Diagram(), Frame(program->Windows().oszidia)}) {
            EXPECT_FALSE(frame.intersects(other));
        }
    }
    ShowPage(1);
    EXPECT_EQ(gen->pos(), docked);
    gen->GstopClick();
}

}  // namespace
}  // namespace sonvera
