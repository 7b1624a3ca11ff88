#include <gtest/gtest.h>

#include "tests/support/tempdir.h"

#include <QGuiApplication>
#include <cmath>
#include <filesystem>
#include <limits>
#include <fstream>
#include <sstream>

#include "diagram/diagramplot.h"
#include "diagram/diagramrenderer.h"
#include "diagram/diagramtable.h"

using namespace sonvera;

namespace {

std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(DiagramTable, ReadsBackEveryExportSeparator)
{
    DiagramModel d;
    d.Activate();
    float lo = -90;
    float hi = 10;
    ASSERT_FALSE(d.PrepareDiagram("", 3, 20, 20000, lo, hi));
    // A point without its second value (a sweep step without phase) comes back as NaN.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[4][3] = {{20, -1.25f, 3}, {100.5f, -80, nan}, {1000, 0, -7.5f}, {20000, 5, 5}};
    for (int i = 0; i < 4; ++i) {
        d.StoreDiagramPoint(&values[i][1], 2, i, values[i][0]);
    }
    const sonvera::testing::TempDir scratch;
    const auto file = scratch.Path() / "table_roundtrip.txt";
    for (const char* sep : {",", ";", "\\t", "\\n", " | "}) {
        for (int draw2 = 0; draw2 <= 1; ++draw2) {
            d.Options.DrawCurve2 = static_cast<std::uint8_t>(draw2);
            ASSERT_EQ(d.ExportDiagramText(file.string(), sep), 0);
            DiagramTable t;
            std::string error;
            ASSERT_TRUE(ParseDiagramTable(Slurp(file), 0, t, error)) << sep << ": " << error;
            ASSERT_EQ(t.columns, 2 + draw2) << sep;
            ASSERT_EQ(t.freqHz.size(), 4u);
            for (int i = 0; i < 4; ++i) {
                EXPECT_FLOAT_EQ(t.freqHz[static_cast<std::size_t>(i)], values[i][0]);
                EXPECT_FLOAT_EQ(t.curve1[static_cast<std::size_t>(i)], values[i][1]);
                if (draw2 && i == 1) {
                    EXPECT_TRUE(std::isnan(t.curve2[1]));
                } else if (draw2) {
                    EXPECT_FLOAT_EQ(t.curve2[static_cast<std::size_t>(i)], values[i][2]);
                }
            }
        }
    }
    std::filesystem::remove(file);
}

TEST(DiagramTable, RejectsWhatIsNoTable)
{
    DiagramTable t;
    std::string error;
    EXPECT_FALSE(ParseDiagramTable("", 0, t, error));
    EXPECT_FALSE(ParseDiagramTable("\r\n\r\n", 0, t, error));
    EXPECT_FALSE(ParseDiagramTable("Frequency,Level\n20,1\n", 0, t, error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_FALSE(ParseDiagramTable("20,1\n30,2,3\n", 0, t, error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(ParseDiagramTable("20,1,2,3\n", 0, t, error));
    EXPECT_FALSE(ParseDiagramTable("nan,1\n", 0, t, error));  // a point needs its frequency
    EXPECT_FALSE(ParseDiagramTable("20,nano\n", 0, t, error));
    EXPECT_FALSE(ParseDiagramTable("20,-nan\n", 0, t, error));
    EXPECT_FALSE(ParseDiagramTable("20,1.2.3\n", 0, t, error));
    EXPECT_FALSE(ParseDiagramTable("-20,1\n", 0, t, error));  // negative frequency
    EXPECT_FALSE(ParseDiagramTable("20000000,1\n", 0, t, error));
    EXPECT_NE(error.find("frequency 20000000.00 Hz"), std::string::npos) << error;
    // A value no single-precision curve can hold (10^300 written out) is refused.
    EXPECT_FALSE(ParseDiagramTable("20,1" + std::string(300, '0') + "\n", 0, t, error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_TRUE(ParseDiagramTable("20\n30\n", 0, t, error));  // only pairs fit: one point
    EXPECT_EQ(t.columns, 2);
    EXPECT_FALSE(ParseDiagramTable("20\n1\n10\n2\n5\n3\n", 0, t, error));  // falls either way
    EXPECT_FALSE(ParseDiagramTable("20\n1\n30\n2\n", 3, t, error));
    EXPECT_FALSE(ParseDiagramTable("20,1\n", 4, t, error));
    // One number per line, six numbers ascending in steps of 2 and 3 alike: ambiguous.
    EXPECT_FALSE(ParseDiagramTable("1\n2\n3\n4\n5\n6\n", 0, t, error));
    EXPECT_NE(error.find("--columns"), std::string::npos);
    EXPECT_TRUE(ParseDiagramTable("1\n2\n3\n4\n5\n6\n", 3, t, error));
    EXPECT_EQ(t.freqHz.size(), 2u);
    EXPECT_FLOAT_EQ(t.curve2[1], 6.0f);

    std::string big;
    for (int i = 0; i <= DiagramModel::MaxDiagramPoints; ++i) {
        big += std::to_string(i + 1) + ",0\n";
    }
    EXPECT_FALSE(ParseDiagramTable(big, 0, t, error));
    EXPECT_NE(error.find(std::to_string(DiagramModel::MaxDiagramPoints)), std::string::npos);
}

TEST(DiagramPlot, DrawsATableInPrintModeAndRefusesBadRanges)
{
    static int argc = 1;
    static char name[] = "diagramtable_test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);  // never destroyed
    (void)app;

    DiagramTable t;
    std::string error;
    ASSERT_TRUE(ParseDiagramTable("100,-10\r\n1000,-20\r\n10000,-30\r\n", 0, t, error));
    DiagramPlotOptions o;
    o.comment = "Kommentar:";
    QImage image;
    ASSERT_TRUE(PlotDiagramTable(t, o, image, error)) << error;
    EXPECT_EQ(image.width(), 1000);
    EXPECT_EQ(image.height(), 700);
    // Ranges from the data: 100..10000 Hz and -30..-10 dB, so the first point sits at the
    // top-left corner of the plot and the last at the bottom-right.
    const QRgb red = ToQRgb(0x0000FF) & 0xFFFFFF;
    int reds = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            reds += (image.pixel(x, y) & 0xFFFFFF) == red ? 1 : 0;
        }
    }
    EXPECT_GT(reds, 500);  // a line across the plot (labels in red are a few hundred pixels too)
    // The plot spans 32..660 for F = 8; across, it lies between the grid lines at 100 Hz
    // and at its right edge, found on a row the line does not cross. 1000 Hz at -20 dB is
    // its centre.
    const QRgb yellow = ToQRgb(0xFFFF00) & 0xFFFFFF;
    int first = 0;
    while (first < image.width() && (image.pixel(first, 600) & 0xFFFFFF) != yellow) {
        ++first;
    }
    int last = image.width() - 1;
    while (last > first && (image.pixel(last, 600) & 0xFFFFFF) != yellow) {
        --last;
    }
    EXPECT_EQ(image.pixel(first + (last - first) / 2, 346) & 0xFFFFFF, red);
    EXPECT_EQ(image.pixel(30, 600) & 0xFFFFFF, ToQRgb(0xFFFF00) & 0xFFFFFF);

    o.freqMinHz = 1000;
    o.freqMaxHz = 100;
    EXPECT_FALSE(PlotDiagramTable(t, o, image, error));
    o.freqMinHz.reset();
    o.freqMaxHz.reset();
    o.levelMinDb = 0;
    o.levelMaxDb = 0;
    EXPECT_FALSE(PlotDiagramTable(t, o, image, error));
    o.levelMinDb.reset();
    o.levelMaxDb.reset();
    o.width = 10;
    EXPECT_FALSE(PlotDiagramTable(t, o, image, error));
}

TEST(DiagramTable, NotesAreNoPointsAndAHeaderNamesTheCurves)
{
    DiagramTable t;
    std::string error;
    // The command-line tool's table: its '# ' lines are notes.
    ASSERT_TRUE(ParseDiagramTable("# logsweep\n100,1,2\n200,3,4\n  # THD+N 0.1 %\n", 0, t, error)) << error;
    EXPECT_EQ(t.columns, 3);
    EXPECT_EQ(t.notes, (std::vector<std::string>{"logsweep", "THD+N 0.1 %"}));
    EXPECT_TRUE(t.names.empty());
    // Wider than three numbers only for the wide reader, with the header's names in the
    // export's separator ("\n": a tab, the points one number a line).
    EXPECT_FALSE(ParseDiagramTable("# Hz;A;B;C\n100;1;2;3\n", 0, t, error));
    const struct {
        const char* text;
        int columns;
    } wide[] = {{"# Hz;A;A (2);C\r\n100;1;2;3\r\n200;4;nan;6\r\n", 4},
                {"# Hz | A | A (2) | C\n100 | 1 | 2 | 3\n200 | 4 | nan | 6\n", 4},
                {"# Hz\tA\tA (2)\tC\r\n100\r\n1\r\n2\r\n3\r\n200\r\n4\r\nnan\r\n6\r\n", 4}};
    for (const auto& w : wide) {
        ASSERT_TRUE(ParseWideTable(w.text, t, error)) << w.text << ": " << error;
        EXPECT_EQ(t.columns, w.columns) << w.text;
        EXPECT_EQ(t.names, (std::vector<std::string>{"A", "A (2)", "C"})) << w.text;
        ASSERT_EQ(t.more.size(), 1u);
        EXPECT_FLOAT_EQ(t.Values(2)[1], 6.0f);
        EXPECT_TRUE(std::isnan(t.curve2[1]));
    }
    // A header naming another number of curves names none.
    ASSERT_TRUE(ParseWideTable("# Hz,A\n100,1,2\n", t, error));
    EXPECT_TRUE(t.names.empty());
}
