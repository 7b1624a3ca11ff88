#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "diagram/diagramm.h"
#include "engine/soundengine.h"
#include "platform/loopbackcard.h"
#include "scope/oszidia.h"
#include "tests/ui/programtest.h"
#include "tests/ui/uitestsupport.h"
#include "ui/printing.h"
#include "ui/sonveraprogram.h"

namespace sonvera {
namespace {

TEST(PrintLayout, PortraitAt300DpiFillsTheUpperHalfWithinMargins)
{
    const PrintLayout p = ComputePrintLayout(300, 2400, 3300, false);
    EXPECT_EQ(p.fontSize, 8);
    EXPECT_EQ(p.x0, 200);
    EXPECT_EQ(p.y0, 150);
    EXPECT_EQ(p.width, 2400 - 275);
    EXPECT_EQ(p.height, 1650);
}

TEST(PrintLayout, LandscapeAt300DpiKeepsTheWidthBetweenTopAndBottomMargins)
{
    const PrintLayout p = ComputePrintLayout(300, 3300, 2400, true);
    EXPECT_EQ(p.fontSize, 8);
    EXPECT_EQ(p.x0, 0);
    EXPECT_EQ(p.y0, 200);
    EXPECT_EQ(p.width, 3300);
    EXPECT_EQ(p.height, 2000);
}

TEST(PrintLayout, TruncatingDivisionAtOddResolutions)
{
    const PrintLayout p = ComputePrintLayout(149, 1000, 1501, false);
    EXPECT_EQ(p.fontSize, 2);   // 149 / 75 = 1, times 2
    EXPECT_EQ(p.x0, 99);        // 298 / 3
    EXPECT_EQ(p.y0, 74);
    EXPECT_EQ(p.width, 1000 - 99 - 37);
    EXPECT_EQ(p.height, 750);
    EXPECT_EQ(ComputePrintLayout(600, 1, 1, true).fontSize, 16);
}

TEST(PrintLayout, CurvesPrintAtLeastAThirdOfAMillimetreAndWiderThanTheGrid)
{
    for (const int dpi : {72, 300, 600, 1200, 2400}) {
        const PrintLayout p = ComputePrintLayout(dpi, 2400, 3300, false);
        // The work picture is stretched four times onto the printer's dots.
        EXPECT_GE(4.0 * p.curveWidth / dpi * 25.4, 0.35) << dpi;
        EXPECT_GE(p.curveWidth, 2) << dpi;
    }
}

TEST(PrintLayout, ReportLinesStartEmptyAndNameEveryValue)
{
    PrinterFacts f;
    f.name = "PDF";
    f.dpi = 300;
    f.colours = 256;
    f.bitsPerPixel = 32;
    f.pageWidth = 2400;
    f.pageHeight = 3300;
    const auto lines = PrintReportLines(f, ComputePrintLayout(300, 2400, 3300, false));
    const std::vector<std::string> expected = {
        "",
        "Printer      : PDF",
        "Auflösung DPI: 300",
        "NUMCOLORS    : 256",
        "BITSPIXEL    : 32",
        "PLANES       : 1",
        "Seitenbreite : 2400",
        "Seitenhöhe   : 3300",
        "Druckreite   : 2125",
        "Druckhöhe    : 1650",
        "Druck x0     : 200",
        "Druck y0     : 150"};
    EXPECT_EQ(lines, expected);
}

/// The program on the virtual card with a spectrum in the diagram.
class OutputCommandTest : public test::ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        program->Diagram()->activateWindow();
        ASSERT_TRUE(test::ProcessUntil([&] { return program->Diagram()->Model().Activated(); }, 200));
        // A tone measured once, so that the diagram holds a curve.
        GeneratorParams p;
        p.frequencyHz = 1000;
        p.levelLeftDb = -6;
        p.levelRightDb = -20;
        program->Engine().SetOutputVolume(100);
        ASSERT_EQ(program->Engine().StartPlayback(1000, 3000, p), 0);
        program->Main().Spectrum().StartButtonClick();
        test::ProcessEvents(30);
    }

    std::string Path(const char* name) { return dir.filePath(QString::fromLatin1(name)).toStdString(); }

    /// Runs the text export; the save dialog gets `file` typed in.
    void Export(const std::string& file)
    {
        QTimer poll;
        poll.setInterval(5);
        bool seen = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = dynamic_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) return;
            seen = true;
            EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("txt"));
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Diagrammwerte als Textdatei"));
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(file));
            static_cast<QDialog*>(dialog)->accept();
        });
        poll.start();
        program->Main().SpeichernalsText1Click();
        poll.stop();
        EXPECT_TRUE(seen);
    }

};

TEST_F(OutputCommandTest, PrintToAPdfFilePutsTheDiagramOnThePageAndAddsThePrinterToTheReport)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(300);
    printer.setPageSize(QPageSize(QPageSize::A4));
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    printer.setOutputFileName(pdf);
    const std::size_t before = program->Engine().DeviceReport().size();
    ASSERT_TRUE(program->Main().PrintTo(printer));

    const auto& report = program->Engine().DeviceReport();
    ASSERT_EQ(report.size(), before + 12);
    EXPECT_EQ(report[before], "");
    EXPECT_EQ(report[before + 2], "Auflösung DPI: 300");
    EXPECT_EQ(report[before + 10], "Druck x0     : 200");
    EXPECT_EQ(report[before + 11], "Druck y0     : 150");
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5).startsWith("%PDF-"));

    // Rendered back to pixels, the upper half of the page carries the diagram.
    const QString png = dir.filePath(QStringLiteral("page"));
    if (QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("50"),
                                                       QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf,
                                                       png}) != 0) {
        GTEST_SKIP() << "pdftoppm not available to look at the page";
    }
    QImage page(png + QStringLiteral(".png"));
    ASSERT_FALSE(page.isNull());
    auto inked = [&](int top, int bottom) {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < page.width(); ++x) {
                count += page.pixelColor(x, y) != QColor(Qt::white) ? 1 : 0;
            }
        }
        return count;
    };
    EXPECT_GT(inked(page.height() / 10, page.height() / 2), page.width() * page.height() / 10);
    EXPECT_EQ(inked(page.height() * 6 / 10, page.height()), 0);
    if (const char* keep = std::getenv("SONVERA_PRINT_PNG")) {
        page.save(QString::fromLocal8Bit(keep));
    }
}

TEST_F(OutputCommandTest, LandscapePrintUsesTheFullWidth)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(300);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setOutputFileName(dir.filePath(QStringLiteral("land.pdf")));
    ASSERT_TRUE(program->Main().PrintTo(printer));
    const auto& report = program->Engine().DeviceReport();
    const std::string width = "Seitenbreite : " + std::to_string(printer.width());
    EXPECT_EQ(report[report.size() - 6], width);
    EXPECT_EQ(report[report.size() - 4], "Druckreite   : " + std::to_string(printer.width()));
    EXPECT_EQ(report.back(), "Druck y0     : 200");
}

TEST_F(OutputCommandTest, CopyPutsTheDiagramOrOnTheOscilloscopePageItsPictureOnTheClipboard)
{
    QApplication::clipboard()->clear();
    program->Main().EditCopy();
    QImage copied = QApplication::clipboard()->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.size(), program->Diagram()->size());

    program->Main().findChild<QTabWidget*>(QStringLiteral("TabbedNotebook1"))->setCurrentIndex(2);
    test::ProcessEvents(10);
    program->Main().EditCopy();
    copied = QApplication::clipboard()->image();
    const TOszidia& scope = *program->Windows().oszidia;
    EXPECT_EQ(copied.size(), scope.Bitmap().size());
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32), scope.Bitmap().convertToFormat(QImage::Format_RGB32));
}

TEST_F(OutputCommandTest, TextExportWritesTheSeparatedColumnsAndReportsAFileThatCannotBeMade)
{
    program->Diagram()->Model().Options.Separator = ";";
    const std::string file = Path("values.txt");
    Export(file);
    std::ifstream in(file);
    std::string first;
    ASSERT_TRUE(std::getline(in, first));
    EXPECT_NE(first.find(';'), std::string::npos) << first;
    EXPECT_TRUE(prompts.shown.empty());

    // A place where no file can be made.
    const std::string blocked = "/proc/sonvera-export";
    Export(blocked + ".txt");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, PromptKind::Error);
    EXPECT_EQ(prompts.shown[0].text, blocked + ".txt konnte nicht erzeugt werden");
}

TEST_F(OutputCommandTest, RemarkPutsTheKeyboardFocusIntoTheDiagramsCommentLine)
{
    program->Main().findChild<QAction*>(QStringLiteral("Kommentar1"))->trigger();
    test::ProcessEvents(5);
    auto* comment = program->Diagram()->findChild<QLineEdit*>(QStringLiteral("Edicomment"));
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(program->Diagram()->focusWidget(), comment);
}

}  // namespace
}  // namespace sonvera
