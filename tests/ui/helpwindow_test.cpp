#include <gtest/gtest.h>

#include <QImage>
#include <QTextBrowser>

#include "tests/ui/uitestsupport.h"
#include "ui/flagpicture.h"
#include "ui/helpwindow.h"

namespace sonvera {
namespace {

TEST(HelpWindow, EveryContextOfTheProgramHasAGermanPage)
{
    test::App();
    HelpWindow& help = Help();
    const struct {
        int context;
        const char* title;
    } pages[] = {{2, "Inhalt"},     {6, "Spektrumanalyser"}, {9, "Frequenzgenerator"}, {10, "Oszilloskop"},
                 {17, "Soundkarte"}, {19, "Analyse-Parameter"}, {50, "Spektrumanalyser"}, {51, "Frequenzgenerator"},
                 {52, "Oszilloskop"}, {3, "Eichung"}, {11, "Feature-Liste"}, {14, "Kanaltausch"},
                 {16, "Diagramm-Optionen"}, {20, "Klirranalysator"}};
    for (const auto& page : pages) {
        help.ShowContext(page.context);
        EXPECT_EQ(help.CurrentContext(), page.context);
        EXPECT_TRUE(help.Browser()->toPlainText().contains(QString::fromUtf8(page.title)))
            << page.context << ": " << help.Browser()->toPlainText().left(80).toStdString();
    }
    EXPECT_TRUE(help.isVisible());
}

TEST(HelpWindow, UnknownContextShowsTheContents)
{
    test::App();
    EXPECT_EQ(HelpWindow::PageFor(999), QStringLiteral(":/help/context2.html"));
    EXPECT_EQ(HelpWindow::PageFor(51), QStringLiteral(":/help/context9.html"));
}

TEST(FlagPicture, GermanFlagLeftBritishFlagRightEachAtLeast24By16)
{
    test::App();
    const QImage img = DrawLanguageFlags().toImage();
    ASSERT_EQ(img.size(), QSize(58, 18));
    EXPECT_EQ(QColor(img.pixel(5, 1)), QColor(0, 0, 0));        // black band
    EXPECT_EQ(QColor(img.pixel(5, 8)), QColor(221, 0, 0));      // red band
    EXPECT_EQ(QColor(img.pixel(5, 16)), QColor(255, 206, 0));   // gold band
    EXPECT_EQ(QColor(img.pixel(26, 16)), QColor(255, 206, 0));  // the German flag is 27 wide
    EXPECT_EQ(QColor(img.pixel(44, 9)), QColor(200, 16, 46));   // red cross in the middle
    EXPECT_EQ(QColor(img.pixel(37, 1)), QColor(1, 33, 105));     // blue field between diagonal and cross
    EXPECT_EQ(qAlpha(img.pixel(29, 9)), 0);                     // the gap between the flags
}

}  // namespace
}  // namespace sonvera
