#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
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

// The screens of this test's offscreen platform, chosen before the application starts:
// a 1600 x 1000 screen and, unless SONVERA_TEST_SCREENS is 1, a 1280 x 720 screen right
// of it (the same tests run once with each).
const std::string kScreensFile = [] {
    const bool two = qEnvironmentVariable("SONVERA_TEST_SCREENS") != QStringLiteral("1");
    const std::string path = QDir::temp()
                                 .filePath(QStringLiteral("sonvera-screens-%1.json").arg(QCoreApplication::applicationPid()))
                                 .toStdString();
    std::ofstream(path) << R"({"screens": [{"name": "left", "x": 0, "y": 0, "width": 1600, "height": 1000})"
                        << (two ? R"(, {"name": "right", "x": 1600, "y": 0, "width": 1280, "height": 720})" : "")
                        << "]}";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + path.c_str());
    return path;
}();

class WindowPlacesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        std::remove(kScreensFile.c_str());  // read by the platform at the start
        ASSERT_TRUE(dir.isValid());
        configPath = dir.filePath(QStringLiteral("snv13.cfg")).toStdString();
    }

    void Start(const std::string& config = {})
    {
        program.reset();
        std::remove(configPath.c_str());
        if (!config.empty()) {
            std::ofstream(configPath) << config;
        }
        program = std::make_unique<SonveraProgram>(card, configPath);
        ASSERT_EQ(program->Start(), 0);
        program->Show();
        test::ProcessEvents();
    }

    TMainForm& Main() { return program->Main(); }
    QRect MainFrame() { return Main().frameGeometry(); }
    QRect DiagramFrame() { return program->Diagram()->frameGeometry(); }
    QRect Global(const char* name)
    {
        auto* w = Main().findChild<QWidget*>(QString::fromLatin1(name));
        return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    }
    void ShowPage(int page)
    {
        Main().findChild<QTabWidget*>(QStringLiteral("TabbedNotebook1"))->setCurrentIndex(page);
        test::ProcessEvents();
    }

    /// Whether `frame` lies whole on one screen's available area.
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
    std::string configPath;
    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    test::RecordingPrompts prompts;
    std::unique_ptr<SonveraProgram> program;
};

TEST_F(WindowPlacesTest, AFirstStartShowsEveryWindowWholeWithNoControlCovered)
{
    Start();
    const QRect primary = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect main = MainFrame();
    EXPECT_TRUE(primary.contains(main));
    EXPECT_TRUE(primary.contains(DiagramFrame()));
    EXPECT_FALSE(main.intersects(DiagramFrame()));
    EXPECT_GE(program->Diagram()->width(), 800);
    EXPECT_GE(program->Diagram()->height(), 500);

    // The generator stands over its own group and covers none of the page's other controls.
    ShowPage(1);
    const QRect gen = program->Windows().wavegen->frameGeometry();
    EXPECT_TRUE(primary.contains(gen));
    for (const char* control : {"WobbelGroup", "LevelGroup", "Button1", "Button2", "TabbedNotebook1"}) {
        const QRect area = control[0] == 'T' ? QRect(Global(control).topLeft(), QSize(600, 24)) : Global(control);
        EXPECT_FALSE(gen.intersects(area)) << control;
    }
    EXPECT_FALSE(gen.intersects(DiagramFrame()));

    // The oscilloscope view beside the main window; the main window makes room only as far
    // as needed and goes back when the page is left.
    ShowPage(2);
    const QRect view = program->Windows().oszidia->frameGeometry();
    EXPECT_TRUE(primary.contains(view));
    EXPECT_TRUE(primary.contains(MainFrame()));
    EXPECT_FALSE(view.intersects(MainFrame()));
    EXPECT_EQ(view.left(), primary.left());
    // One pixel free between them, and a few more while the view's frame is not known yet.
    EXPECT_GE(MainFrame().left(), view.right() + 2);
    EXPECT_LE(MainFrame().left(), view.right() + 2 + 8);
    ShowPage(0);
    EXPECT_EQ(MainFrame(), main);
}

TEST_F(WindowPlacesTest, SavedPlacesOffEveryScreenComeBackOnTheNearestScreenWholeAndApart)
{
    const char* const configs[] = {
        // Saved on a second monitor.
        "[MAIN]\nLEFT=2200\nTOP=100\n[DIAGRAMM]\nLEFT=2300\nTOP=200\nWIDTH=450\nHEIGHT=320\n",
        // Damaged.
        "[MAIN]\nLEFT=-5000\nTOP=32767\n[DIAGRAMM]\nLEFT=-5000\nTOP=32767\nWIDTH=1024\nHEIGHT=768\n",
    };
    const bool twoScreens = qEnvironmentVariable("SONVERA_TEST_SCREENS") != QStringLiteral("1");
    ASSERT_EQ(QGuiApplication::screens().size(), twoScreens ? 2 : 1);
    for (const char* config : configs) {
        SCOPED_TRACE(config);
        Start(config);
        EXPECT_TRUE(OnAScreen(MainFrame()));
        EXPECT_TRUE(OnAScreen(DiagramFrame()));
        const DiagramGeometry& saved = Main().AppSettings().Diagram;
        const QSize savedSize(saved.DiagramWidth, saved.DiagramHeight);
        if (twoScreens && saved.DiagramLeft == 2300) {
            EXPECT_EQ(Main().pos(), QPoint(2200, 100));  // that monitor is there: nothing moves
            EXPECT_EQ(program->Diagram()->pos(), QPoint(2300, 200));
            continue;
        }
        if (saved.DiagramLeft == 2300) {
            EXPECT_EQ(MainFrame().right(), 1599);  // the nearest edge of the one screen
            EXPECT_EQ(program->Diagram()->size(), savedSize);  // beside the main window it fits
        }
        // Both brought back: the diagram beside the main window, not over it, and no larger
        // than it was.
        EXPECT_FALSE(MainFrame().intersects(DiagramFrame()));
        EXPECT_TRUE(savedSize.expandedTo(program->Diagram()->size()) == savedSize);
    }
}

TEST_F(WindowPlacesTest, TheGeneratorWindowLeavesTheOtherPagesFree)
{
    Start();
    TWavegen* gen = program->Windows().wavegen;
    ShowPage(1);
    ASSERT_TRUE(gen->isVisible());
    const QPoint docked = gen->pos();

    // Nothing plays: off its page it is hidden, and it comes back where it was.
    ShowPage(0);
    EXPECT_FALSE(gen->isVisible());
    ShowPage(1);
    EXPECT_TRUE(gen->isVisible());
    EXPECT_EQ(gen->pos(), docked);

    // Its signal plays: it stays in sight beside the main window, over no other window.
    gen->findChild<QAbstractButton*>(QStringLiteral("Gstart"))->click();
    ASSERT_TRUE(gen->Control().SignalOn());
    for (int page : {0, 2}) {
        ShowPage(page);
        SCOPED_TRACE(page);
        const QRect frame = gen->frameGeometry();
        EXPECT_TRUE(gen->isVisible());
        EXPECT_TRUE(OnAScreen(frame));
        EXPECT_FALSE(frame.intersects(MainFrame()));
        EXPECT_FALSE(frame.intersects(DiagramFrame()) && program->Diagram()->isVisible());
        EXPECT_FALSE(frame.intersects(program->Windows().oszidia->frameGeometry()) &&
                     program->Windows().oszidia->isVisible());
    }
    ShowPage(1);
    EXPECT_EQ(gen->pos(), docked);
    gen->GstopClick();
}

}  // namespace
}  // namespace sonvera
