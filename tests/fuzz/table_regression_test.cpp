// The diagram-table fuzz target's seeds and findings, run through its entry function.

#include <gtest/gtest.h>

#include "fuzz/fuzz_table.h"
#include "tests/fuzz/fuzzinputs.h"

namespace sonvera {
namespace {

using testing::FuzzInput;
using testing::FuzzInputs;
using testing::ReadInput;

fuzz::TableOutcome Read(const std::vector<std::uint8_t>& bytes)
{
    return fuzz::ReadTableBytes(bytes.data(), bytes.size());
}

fuzz::TableOutcome Read(const std::string& text)
{
    return fuzz::ReadTableBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Index of a column setting in the outcome's arrays.
std::size_t With(int columns)
{
    for (std::size_t i = 0; i < fuzz::TableOutcome::kColumns.size(); ++i) {
        if (fuzz::TableOutcome::kColumns[i] == columns) {
            return i;
        }
    }
    ADD_FAILURE() << "no column setting " << columns;
    return 0;
}

TEST(TableFuzzInputs, EverySeedAndFindingIsATableOrARefusal)
{
    const auto files = FuzzInputs("table");
    ASSERT_GE(files.size(), 4u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadInput(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

TEST(TableFuzzInputs, TheExportFormsReadWithTheirColumns)
{
    const auto three = Read(ReadInput(FuzzInput("corpus", "table", "three-columns.csv")));
    ASSERT_TRUE(three.ok[With(0)]);
    EXPECT_EQ(three.table[With(0)].columns, 3);
    ASSERT_EQ(three.table[With(0)].freqHz.size(), 4u);
    EXPECT_FLOAT_EQ(three.table[With(0)].curve2[3], 0.3f);
    EXPECT_TRUE(three.ok[With(3)]);
    EXPECT_FALSE(three.ok[With(2)]);  // the lines have three columns
    EXPECT_FALSE(three.ok[With(1)]);

    const auto two = Read(ReadInput(FuzzInput("corpus", "table", "two-columns-crlf.csv")));
    ASSERT_TRUE(two.ok[With(0)]);
    EXPECT_EQ(two.table[With(0)].columns, 2);
    EXPECT_FLOAT_EQ(two.table[With(0)].freqHz[2], 20000.0f);
    EXPECT_FLOAT_EQ(two.table[With(0)].curve1[0], -60.5f);

    // One number per line: only pairs make ascending frequencies; three columns on request.
    const auto single = Read(ReadInput(FuzzInput("corpus", "table", "one-per-line.txt")));
    ASSERT_TRUE(single.ok[With(0)]);
    EXPECT_EQ(single.table[With(0)].columns, 2);
    EXPECT_EQ(single.table[With(0)].freqHz.size(), 3u);
    ASSERT_TRUE(single.ok[With(3)]);
    EXPECT_EQ(single.table[With(3)].freqHz.size(), 2u);
}

TEST(TableFuzzInputs, TextThatIsNoTableIsRefusedNamingTheLine)
{
    const auto letters = Read(std::string("20,1\n1000,abc\n"));
    EXPECT_FALSE(letters.ok[With(0)]);
    EXPECT_EQ(letters.error[With(0)].rfind("line 2: ", 0), 0u) << letters.error[With(0)];
    const auto huge = Read(std::string("20,1e39\n"));
    EXPECT_FALSE(huge.ok[With(0)]);
    const auto tooHigh = Read(std::string("2e7,1\n"));
    EXPECT_FALSE(tooHigh.ok[With(0)]);
    const auto negative = Read(std::string("-1,1\n"));
    EXPECT_FALSE(negative.ok[With(0)]);
    const auto nothing = Read(std::string(" ; \r\n"));
    EXPECT_FALSE(nothing.ok[With(0)]);
    EXPECT_FALSE(nothing.error[With(0)].empty());
}

}  // namespace
}  // namespace sonvera
