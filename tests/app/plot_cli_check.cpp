// Runs the built sonvera-cli as a user would and checks what "plot" does with tables.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <string>

#include "config/numberformat.h"

#include "tests/config/testfiles.h"
#include "tests/support/runcommand.h"

namespace sonvera {
namespace {

std::string Cli(const std::string& arguments)
{
    return std::string("'") + SONVERA_CLI + "' plot " + arguments + " 2>/dev/null";
}

const char* const kTable = "20,-3.00,1.00\r\n1000,0.00,-6.00\r\n20000,-12.50,-20.00\r\n";

TEST(PlotCommand, WritesAPictureOfTheRequestedSizeNextToTheTable)
{
    testing::TempDir dir;
    testing::WriteBytes(dir.File("sweep.txt"), kTable);
    const auto r = testing::RunCommand(Cli("'" + dir.File("sweep.txt") + "' --width 640 --height 400"));
    ASSERT_EQ(r.status, 0);
    const QImage image(QString::fromStdString(dir.File("sweep.png")));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 640);
    EXPECT_EQ(image.height(), 400);
    EXPECT_EQ(testing::ReadBytes(dir.File("sweep.txt")), kTable);
}

TEST(PlotCommand, NeverOverwritesTheTableWithItsPicture)
{
    testing::TempDir dir;
    // A table whose own name ends in .png, and a --png naming the table itself.
    testing::WriteBytes(dir.File("table.png"), kTable);
    EXPECT_EQ(testing::RunCommand(Cli("'" + dir.File("table.png") + "'")).status, 2);
    EXPECT_EQ(testing::ReadBytes(dir.File("table.png")), kTable);

    testing::WriteBytes(dir.File("t.txt"), kTable);
    EXPECT_EQ(testing::RunCommand(Cli("'" + dir.File("t.txt") + "' --png '" + dir.File("t.txt") + "'")).status, 2);
    EXPECT_EQ(testing::ReadBytes(dir.File("t.txt")), kTable);
}

TEST(PlotCommand, GarbageIsRefusedWithoutAPicture)
{
    testing::TempDir dir;
    testing::WriteBytes(dir.File("junk.txt"), std::string("\x01\x02zz,\xff\n", 8));
    EXPECT_EQ(testing::RunCommand(Cli("'" + dir.File("junk.txt") + "'")).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("junk.png")));
}

}  // namespace
}  // namespace sonvera

namespace sonvera {
namespace {

TEST(PlotCommand, SeveralTablesDrawnAsDifferencesAndTheTableAsDrawn)
{
    testing::TempDir dir;
    // Box B lies 6 dB above Box A everywhere, its bin at 1 kHz alone another 8 dB up;
    // 1/24-octave bins from 250 Hz to 4 kHz.
    std::string a;
    std::string b;
    for (int i = 0; i <= 96; ++i) {
        const double f = 1000.0 * std::exp2((i - 48) / 24.0);
        a += FormatFixed(f, 2) + ",-10.00\n";
        b += FormatFixed(f, 2) + (i == 48 ? ",4.00\n" : ",-4.00\n");
    }
    testing::WriteBytes(dir.File("a.txt"), a);
    testing::WriteBytes(dir.File("b.txt"), b + "# THD+N 0.1 %\n");
    const auto r = testing::RunCommand(Cli("'" + dir.File("a.txt") + "' '" + dir.File("b.txt") +
                                           "' --diff --smooth 1/3 --legend 'Box A,Box B' --png '" +
                                           dir.File("d.png") + "' --out '" + dir.File("d.txt") + "'"));
    ASSERT_EQ(r.status, 0);
    EXPECT_FALSE(QImage(QString::fromStdString(dir.File("d.png"))).isNull());
    const std::string table = testing::ReadBytes(dir.File("d.txt"));
    EXPECT_EQ(table.rfind("# Gl\u00E4ttung 1/3 Oktave\r\n# Differenz zu Box A\r\n# Hz,Box A,Box B\r\n", 0), 0u) << table;
    // 1 kHz: the third octave around it spans 8 bins, the power straight between them:
    // the bin itself counts once, its neighbours and the others the same.
    const std::size_t at = table.find("\r\n1000.00,0.00,");
    ASSERT_NE(at, std::string::npos) << table;
    const double shown = std::stod(table.substr(at + 15));
    const double expected = 10.0 * std::log10((7.0 * std::pow(10.0, 0.6) + std::pow(10.0, 1.4)) / 8.0);
    EXPECT_NEAR(shown, expected, 0.02);

    // --diff needs a second table; no output may be one of the tables.
    EXPECT_EQ(testing::RunCommand(Cli("'" + dir.File("a.txt") + "' --diff")).status, 2);
    EXPECT_EQ(testing::RunCommand(Cli("'" + dir.File("a.txt") + "' '" + dir.File("b.txt") + "' --out '" +
                                      dir.File("b.txt") + "'"))
                  .status,
              2);
    EXPECT_EQ(testing::ReadBytes(dir.File("b.txt")), b + "# THD+N 0.1 %\n");
}


TEST(PlotCommand, ATableOfGapsDrawsTheAxesAndBesideOthersNothing)
{
    testing::TempDir dir;
    testing::WriteBytes(dir.File("gaps.txt"), "20,nan\n1000,nan\n");
    testing::WriteBytes(dir.File("a.txt"), kTable);
    const struct {
        std::string args;
        int status;
        std::string line;  // the start of what it prints
    } rows[] = {
        {"'" + dir.File("gaps.txt") + "' --png '" + dir.File("g.png") + "'", 0,
         dir.File("g.png") + ": 2 points, none with a value (only the axes are drawn)\n"},
        {"'" + dir.File("a.txt") + "' '" + dir.File("gaps.txt") + "' --png '" + dir.File("g.png") + "'", 0,
         dir.File("g.png") + ": 2 tables; " + dir.File("gaps.txt") + ": none with a value\n"},
        {"'" + dir.File("gaps.txt") + "' '" + dir.File("a.txt") + "' --diff --png '" + dir.File("d.png") + "'", 1, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const auto r = testing::RunCommand(Cli(row.args));
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.output, row.line);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("d.png")));
}

}  // namespace
}  // namespace sonvera
