// Black-box checks of what every sonvera-cli command does with its files and its
// standard output: an output that is one of its inputs, a full disk, a standard output
// that cannot be written, and names that are not UTF-8.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"
#include "tests/support/runcommand.h"
#include "tests/support/writefaults.h"

namespace sonvera {
namespace {

/// The scratch files the commands read: a wave file, a table, a configuration that
/// switches a correction file on, and that correction file.
struct Inputs {
    testing::TempDir dir;
    std::string wav = dir.File("in.wav");
    std::string table = dir.File("t.txt");
    std::string config = dir.File("c.cfg");
    std::string correction = dir.File("k.cor");
    Inputs()
    {
        testing::WriteBytes(table, "20,-3.00\r\n1000,0.00\r\n20000,-12.50\r\n");
        testing::WriteBytes(correction, "20 -1\n1000 0\n");
        testing::WriteBytes(config, "[MAIN]\nINCONAME=" + correction + "\nINCOAKT=TRUE\n");
        testing::RunCommand(std::string(SONVERA_CLI) + " generate --wave sin --level-l -6 --level-r -6 --seconds 0.2 --out '" +
                            wav + "' 2>/dev/null");
    }
};

/// One use of every command that writes a file: `args` with {OUT} for the output, {IN}
/// for the wave file and {TAB} for the table; `reads` names the input the output may not
/// replace (IN, TAB, CFG or COR; "" none).
struct FileRow {
    const char* args;
    const char* reads;
};

const FileRow kFileRows[] = {
    {"spectrum --input {IN} --points 512 --out {OUT}", "IN"},
    {"spectrum --tone 1000:-6 --points 512 --png {OUT}", "COR"},
    {"sweep --from 200 --to 2000 --steps 2 --level -6 --out {OUT}", "CFG"},
    {"scope --tone 1000:-6 --png {OUT}", "CFG"},
    {"scope --out {OUT}", "COR"},
    {"plot {TAB} --png {OUT}", "TAB"},
    {"plot {TAB} --png {OUT}", "CFG"},
    {"generate --wave sin --seconds 0.05 --out {OUT}", ""},
};

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string Command(const Inputs& in, const std::string& args, const std::string& out)
{
    std::string a = Replace(args, "{IN}", "'" + in.wav + "'");
    a = Replace(a, "{TAB}", "'" + in.table + "'");
    a = Replace(a, "{OUT}", "'" + out + "'");
    return std::string("'") + SONVERA_CLI + "' --audio virtual --dut gain=-20 --config '" + in.config + "' " + a;
}

std::string InputPath(const Inputs& in, const std::string& name)
{
    return name == "IN" ? in.wav : name == "TAB" ? in.table : name == "CFG" ? in.config : in.correction;
}

/// Runs `command` with standard error captured (and standard output to `stdoutTo`).
testing::CommandResult WithErrors(const std::string& command, const std::string& stdoutTo = "/dev/null")
{
    return testing::RunCommand(command + " 2>&1 >'" + stdoutTo + "'");
}

TEST(CliFiles, AnOutputThatIsAnInputUnderAnotherNameIsRefusedAndTheInputKept)
{
    Inputs in;
    for (const FileRow& row : kFileRows) {
        if (*row.reads == '\0') {
            continue;
        }
        SCOPED_TRACE(row.args);
        const std::string input = InputPath(in, row.reads);
        const std::string before = testing::ReadBytes(input);
        // A second name of the same file: a hard link judged by identity, not by name.
        const std::string alias = in.dir.File("alias");
        std::filesystem::remove(alias);
        ASSERT_EQ(::link(input.c_str(), alias.c_str()), 0);
        const auto r = WithErrors(Command(in, row.args, alias));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_NE(r.output.find(alias), std::string::npos) << r.output;
        EXPECT_EQ(testing::ReadBytes(input), before);
    }
}

TEST(CliFiles, AnOutputPipeIsWrittenWhileAProcessReadsIt)
{
    Inputs in;
    const std::string fifo = in.dir.File("fifo");
    const std::string got = in.dir.File("got.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader starts first and waits; the sweep measures, then writes its table.
    const auto r = testing::RunCommand("cat '" + fifo + "' > '" + got + "' & " +
                                       Command(in, "logsweep --seconds 0.5 --out '" + fifo + "'", "") +
                                       " 2>/dev/null; status=$?; wait; exit $status");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(testing::ReadBytes(got).rfind("# logsweep from ", 0), 0u) << testing::ReadBytes(got);
}

TEST(CliFiles, NamesThatAreNotUtf8AreWrittenByteForByte)
{
    Inputs in;
    for (const FileRow& row : kFileRows) {
        SCOPED_TRACE(row.args);
        const std::string out = in.dir.File("o\xff\xfe.out");
        std::filesystem::remove(out);
        const auto before = in.dir.Entries().size();
        ASSERT_EQ(WithErrors(Command(in, row.args, out)).status, 0);
        EXPECT_TRUE(std::filesystem::is_regular_file(out));
        EXPECT_GT(std::filesystem::file_size(out), 0u);
        EXPECT_EQ(in.dir.Entries().size(), before + 1);  // that name and no other
    }
}

TEST(CliFiles, AFullDiskKeepsTheOldFileAndFailsNamingIt)
{
    Inputs in;
    const std::string disk = in.dir.File("disk");
    std::filesystem::create_directory(disk);
    testing::SmallDisk small(disk, 64);
    if (!small.Available()) {
        GTEST_SKIP() << small.Why();
    }
    const std::string out = disk + "/old.out";
    testing::WriteBytes(out, "old contents\n");
    small.Fill("filler");
    for (const FileRow& row : kFileRows) {
        SCOPED_TRACE(row.args);
        const auto r = WithErrors(Command(in, row.args, out));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find(out + ": No space left on device"), std::string::npos) << r.output;
        EXPECT_EQ(testing::ReadBytes(out), "old contents\n");
    }
    EXPECT_EQ(in.dir.Entries().size(), 5u);  // nothing left beside them
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(disk)) {
        left.push_back(e.path().filename().string());
    }
    EXPECT_EQ(left.size(), 2u);  // the old file and the filler
}

TEST(CliFiles, AStandardOutputThatCannotBeWrittenIsAFailure)
{
    Inputs in;
    for (const char* args : {"settings", "devices", "spectrum --tone 1000:-6 --points 512",
                             "sweep --from 200 --to 2000 --steps 2 --level -6", "scope", "plot {TAB} --png {OUT}",
                             "--version", "spectrum --help"}) {
        SCOPED_TRACE(args);
        const auto r = WithErrors(Command(in, args, in.dir.File("p.png")), "/dev/full");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("standard output: No space left on device"), std::string::npos) << r.output;
    }
}

}  // namespace
}  // namespace sonvera
