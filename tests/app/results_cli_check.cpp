// Runs every measuring command of the built sonvera-cli on the virtual card twice, as text
// and with --json, and reads both as a script would: the document parses with a standard
// parser and holds the numbers the text shows (to the text's decimals), its readings, its
// points and its notices. Then --limits: a run inside its limits ends with status 0, one
// outside with 3, a wrong file with 2 before anything is measured.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/runcommand.h"
#include "tests/support/tempdir.h"

namespace sonvera {
namespace {

testing::CommandResult Cli(const testing::TempDir& dir, const std::string& arguments)
{
    return testing::RunCommand("cd '" + dir.Path().string() + "' && '" + SONVERA_CLI + "' --config '" + dir.File("absent.cfg") +
                               "' --audio virtual " + arguments + " 2>/dev/null");
}

/// A field of the text against the document's value: the same text, null for "nan" and
/// the infinities, or a number that rounds to the field at the field's decimals.
void ExpectSame(const std::string& field, const nlohmann::json& value, const std::string& where)
{
    SCOPED_TRACE(where + ": " + field + " vs " + value.dump());
    if (field == "nan" || field == "inf" || field == "-inf") {
        EXPECT_TRUE(value.is_null());
        return;
    }
    char* end = nullptr;
    const double number = std::strtod(field.c_str(), &end);
    if (field.empty() || *end != '\0') {
        ASSERT_TRUE(value.is_string());
        EXPECT_EQ(value.get<std::string>(), field);
        return;
    }
    ASSERT_TRUE(value.is_number());
    const auto dot = field.find('.');
    const int decimals = dot == std::string::npos ? 0 : static_cast<int>(field.size() - dot - 1);
    EXPECT_LE(std::fabs(value.get<double>() - number), 0.5 * std::pow(10.0, -decimals) + 1e-9);
}

/// "KEY VALUE" or "CHANNEL.KEY VALUE": a name that starts with a letter, a blank, a value.
bool IsReading(const std::string& line)
{
    const std::size_t blank = line.find(' ');
    if (line.empty() || !std::islower(static_cast<unsigned char>(line[0])) || blank == std::string::npos) {
        return false;
    }
    for (std::size_t i = 0; i < blank; ++i) {
        const char c = line[i];
        if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) && c != '_' &&
            c != '.') {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    for (const char c : line) {
        if (c == ',' || c == ' ') {
            fields.push_back(field);
            field.clear();
        } else if (c != '\r') {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

TEST(JsonResults, EveryMeasuringCommandGivesTheNumbersOfItsText)
{
    testing::TempDir dir;
    ASSERT_EQ(Cli(dir, "generate --wave logsweep --from 50 --to 10000 --seconds 1 --out s.wav").status, 0);
    struct Case {
        const char* command;
        const char* arguments;
        const char* nullReading;  // a reading the run cannot give a number for ("" none)
    } const cases[] = {
        {"spectrum", "--points 1024 --tone 1000", ""},
        {"sweep", "--steps 3", ""},
        {"sweep", "--stereo --steps 2", ""},
        {"logsweep", "--from 50 --to 10000 --seconds 1", ""},
        {"logsweep", "--input s.wav --from 50 --to 10000 --seconds 1", ""},
        {"scope", "--tone 1000", ""},
        {"distortion", "--points 8192 --harmonics 30", "left.h30_dbc"},
        {"imd", "--standard smpte --points 8192", ""},
        {"noise", "--points 4096", "left.noise_dbfs"},
        {"crosstalk", "--points 8192", ""},
        {"crosstalk", "--points 8192 --from 100 --to 1000 --steps 1", ""},
        {"levelsweep", "--from -20 --to 0 --step 10 --points 8192", ""},
    };
    for (const Case& c : cases) {
        const std::string args = std::string(c.command) + " " + c.arguments;
        SCOPED_TRACE(args);
        const testing::CommandResult text = Cli(dir, args);
        const testing::CommandResult json = Cli(dir, args + " --json");
        ASSERT_EQ(text.status, 0);
        ASSERT_EQ(json.status, 0);
        const nlohmann::json doc = nlohmann::json::parse(json.output);  // throws on a document that does not parse
        EXPECT_EQ(doc["command"], c.command);
        EXPECT_TRUE(doc["version"].is_string());
        EXPECT_TRUE(doc["settings"].contains("rate_hz"));
        EXPECT_TRUE(doc["settings"].contains("bits"));
        const nlohmann::json& rows = doc["points"]["rows"];
        EXPECT_EQ(doc["points"]["columns"].size(), doc["points"]["units"].size());

        std::istringstream in(text.output);
        std::string line;
        std::size_t row = 0, notice = 0, readings = 0;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.rfind("# ", 0) == 0) {
                // A notice, or the header of a table that names its columns.
                if (notice < doc["notices"].size() && doc["notices"][notice] == line.substr(2)) {
                    ++notice;
                }
            } else if (IsReading(line)) {
                const std::size_t blank = line.find(' ');
                const std::string name = line.substr(0, blank);
                const std::size_t dot = name.find('.');
                const nlohmann::json& v = dot == std::string::npos ? doc["results"][name]
                                                                    : doc["results"][name.substr(0, dot)][name.substr(dot + 1)];
                ExpectSame(line.substr(blank + 1), v, name);
                ++readings;
            } else {
                ASSERT_LT(row, rows.size());
                const std::vector<std::string> fields = Split(line);
                ASSERT_EQ(fields.size(), rows[row].size()) << line;
                for (std::size_t f = 0; f < fields.size(); ++f) {
                    ExpectSame(fields[f], rows[row][f], "row " + std::to_string(row));
                }
                ++row;
            }
        }
        EXPECT_EQ(row, rows.size());
        EXPECT_EQ(notice, doc["notices"].size()) << "every notice is a '# ' line of the text, in order";
        EXPECT_GT(row + readings, 0U);
        if (*c.nullReading != '\0') {
            const std::string name = c.nullReading;
            const std::size_t dot = name.find('.');
            EXPECT_TRUE(doc["results"][name.substr(0, dot)][name.substr(dot + 1)].is_null());
        }
    }
}

TEST(JsonResults, LimitsEndARunWithStatusThreeWhenAPointLiesOutside)
{
    testing::TempDir dir;
    const auto write = [&](const char* name, const char* text) { std::ofstream(dir.File(name)) << text; };
    write("wide.txt", "# the virtual card's cable is flat\n20 -6 6\n20000 -6 6\n");
    write("narrow.txt", "100 -6 6\n20000 -0.1 0.1\n");
    write("thd.txt", "thd_db -60\n");
    write("strict.txt", "right.thd_db -200\n");
    write("wrong.txt", "20 -6 6\n10 -6 6\n");
    struct Case {
        const char* arguments;
        int status;
        const char* line;  // the limits line the text ends with ("" none)
    } const cases[] = {
        {"sweep --steps 3 --limits wide.txt", 0, "# limits: PASS"},
        {"sweep --steps 3 --limits narrow.txt", 3, "# limits: FAIL 1 of 3 points"},
        {"distortion --points 8192 --limits thd.txt", 0, "# limits: PASS"},
        {"distortion --points 8192 --limits strict.txt", 3, "# limits: FAIL 1 of 1 points"},
        {"sweep --steps 3 --limits wrong.txt", 2, ""},
        {"distortion --points 8192 --limits wide.txt", 2, ""},  // nothing it checks
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const testing::CommandResult r = Cli(dir, c.arguments);
        EXPECT_EQ(r.status, c.status);
        if (*c.line != '\0') {
            EXPECT_NE(r.output.find(std::string("\n") + c.line + "\n"), std::string::npos) << r.output;
        } else {
            EXPECT_EQ(r.output, "");
        }
    }
    const nlohmann::json doc = nlohmann::json::parse(Cli(dir, "sweep --steps 3 --json --limits narrow.txt").output);
    EXPECT_EQ(doc["limits"]["passed"], false);
    ASSERT_EQ(doc["limits"]["failures"].size(), 1U);
    EXPECT_EQ(doc["limits"]["failures"][0]["frequency_hz"], 20000.0);
}

}  // namespace
}  // namespace sonvera
