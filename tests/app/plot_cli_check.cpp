// Runs the built sonvera-cli as a user would and checks what "plot" does with tables.
#include <gtest/gtest.h>

#include <QImage>

#include <string>

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
