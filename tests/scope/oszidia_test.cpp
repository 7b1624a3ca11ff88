#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <cmath>
#include <numbers>

#include "scope/oszidia.h"

namespace sonvera {
namespace {

int argc = 1;
char name[] = "oszidia_test";
char* argv[] = {name, nullptr};

class OszidiaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QApplication::instance() == nullptr) {
            app = new QApplication(argc, argv);
        }
    }

    void Mouse(QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent e(type, QPointF(x, y), QPointF(x, y), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &e);
    }

    QString Text(const char* label) { return view.findChild<QLabel*>(label)->text(); }

    static inline QApplication* app = nullptr;
    TOszidia view;
};

TEST_F(OszidiaTest, ControlsCarryTheirLayoutNamesAndTexts)
{
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Sonvera V1.3 Oszilloscope"));
    auto* illum = view.findChild<QPushButton*>("IllumBut");
    ASSERT_NE(illum, nullptr);
    EXPECT_EQ(illum->text(), QStringLiteral("Illum."));
    EXPECT_EQ(Text("Label1"), QStringLiteral("      Time / Frequ.      "));
    EXPECT_EQ(Text("Label2"), QStringLiteral("      Volt      "));
    EXPECT_FALSE(view.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(OszidiaTest, DraggingTheMouseShowsTheReadoutsUntilTheViewIsHidden)
{
    view.resize(260, 270);
    view.PrepareScope("", 512, false, 0.0f, 0.01f, 0.0f, 8.0f);
    view.StoreScopePoint(0, false, 0.2f, 1.0f, 0.0f, 4.0f, 4.0f);
    Mouse(QEvent::MouseButtonPress, 40, 100, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, 66, 100, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(Text("Label1"), QStringLiteral("1.000ms / 1.000kHz"));
    Mouse(QEvent::MouseButtonRelease, 66, 100, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Text("Label1"), QStringLiteral("1.000ms / 1.000kHz"));

    Mouse(QEvent::MouseButtonPress, 40, 100, Qt::RightButton, Qt::RightButton);
    Mouse(QEvent::MouseMove, 40, 160, Qt::NoButton, Qt::RightButton);  // 2 divisions
    EXPECT_EQ(Text("Label2"), QStringLiteral("400.000mV"));
    Mouse(QEvent::MouseButtonRelease, 40, 160, Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(Text("Label2"), QStringLiteral("400.000mV"));

    view.show();
    view.hide();
    EXPECT_EQ(Text("Label1"), QStringLiteral("Time / Frequ."));
    EXPECT_EQ(Text("Label2"), QStringLiteral("Volt"));
}

TEST_F(OszidiaTest, IllumButtonChangesTheBackgroundOfTheNextPicture)
{
    view.resize(260, 270);
    view.findChild<QPushButton*>("IllumBut")->click();
    const QImage& img = view.RenderNow();
    EXPECT_EQ(img.pixel(13, 45), qRgb(0x00, 0xFF, 0xFF));
}

TEST_F(OszidiaTest, PlacedLeftOfTheMainWindowWithItsTopAndHeight)
{
    const QMargins frame(1, 20, 1, 5);
    const QRect desk(0, 0, 1600, 1000);
    const int mainLeft = view.PlaceBesideMainWindow(QRect(600, 120, 500, 400), desk, frame);
    EXPECT_EQ(mainLeft, 600);
    EXPECT_EQ(view.pos(), QPoint(600 - 2 - view.width() - 1, 120));  // the frame's corner, 1 pixel free
    EXPECT_EQ(view.height(), 400 - 25);
    const int moved = view.PlaceBesideMainWindow(QRect(10, 120, 500, 400), desk, frame);
    EXPECT_EQ(moved, view.width() + 2 + 1);
    EXPECT_EQ(view.pos().x(), 0);
}

// Draws two sines as the acquisition would store them and keeps the picture for a look.
TEST_F(OszidiaTest, RendersTwoTracesForALook)
{
    view.resize(320, 290);
    view.PrepareScope("", 512, false, 0.0f, 0.01f, 0.0f, 8.0f);
    for (int i = 0; i < 512; ++i) {
        const double t = i / 44100.0;
        const auto s = static_cast<float>(std::sin(2.0 * std::numbers::pi * 500.0 * t));
        view.StoreScopePoint(i, true, 0.5f, 0.5f, static_cast<float>(t), 3.0f + 1.5f * s,
                             5.0f + 2.5f * s);
    }
    const QImage& img = view.RenderNow();
    EXPECT_EQ(img.width(), 320);
    EXPECT_TRUE(img.save(QStringLiteral("oszidia_look.png")));
    // At t = 0 both start at their offsets; at 0.5 ms (sine peak) channel 1 is at 7.5.
    const int x = view.Model().MapX(0.0005f);
    EXPECT_EQ(img.pixel(x, view.Model().MapY(7.5f)), qRgb(0xFF, 0, 0));
}

}  // namespace
}  // namespace sonvera
