// The configuration file when it cannot be written: a read-only directory, a full disk
// and a write that fails half way. Every section writer then reports failure, the old
// file stays byte for byte as it was, no temporary file is left behind, and reading
// gives the old settings. Once the cause is gone, the next save works.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/profilefile.h"
#include "config/sections.h"
#include "config/settings.h"
#include "tests/config/testfiles.h"
#include "tests/support/writefaults.h"

namespace sonvera {
namespace {

using testing::ReadBytes;
using testing::TempDir;

/// Settings that differ from the defaults in every section the program writes.
Settings OldSettings()
{
    Settings s;
    s.Main.UiLanguage = 'E';
    s.Calib.InCalibValue = 312.5;
    s.Volume.LevelFactor = 9.25;
    s.Fft.FftPoints = 4096;
    s.Fft.FftComment = "Kommentar: old";
    s.Sweep.SweepSteps = 17;
    s.Scope.ScopeTimebase = 3;
    s.Diagram.DiagramWidth = 600;
    s.Analysis.Fundamental = 440.0;
    s.Generator.GenFrequency = 997;
    return s;
}

/// The same sections with other values: what a later save would write.
Settings NewSettings()
{
    Settings s = OldSettings();
    s.Main.UiLanguage = 'D';
    s.Calib.InCalibValue = 100.0;
    s.Fft.FftPoints = 512;
    s.Fft.FftComment = std::string(120, 'n');  // longer than before
    s.Sweep.SweepSteps = 99;
    s.Analysis.Fundamental = 1000.0;
    s.Generator.GenFrequency = 50;
    return s;
}

/// Writes every section the program owns: main window, analysis, generator, diagram
/// options. True when every write reached the file.
bool WriteAll(ProfileFile& file, const Settings& s)
{
    bool ok = true;
    WriteMainSections(file, s);
    ok = file.LastWriteOk() && ok;
    WriteAnalysisSection(file, s.Analysis);
    ok = file.LastWriteOk() && ok;
    WriteGeneratorSection(file, s.Generator);
    ok = file.LastWriteOk() && ok;
    WriteDiagramOptions(file, s.DiagramOpts);
    ok = file.LastWriteOk() && ok;
    return ok;
}

void ExpectOldSettings(const std::string& path)
{
    const ProfileFile file(path);
    Settings read;
    ReadMainSections(file, read, MainReadHooks{});
    ReadAnalysisSection(file, read.Analysis);
    ReadGeneratorSection(file, read.Generator);
    EXPECT_EQ(read.Main.UiLanguage, 'E');
    EXPECT_DOUBLE_EQ(read.Calib.InCalibValue, 312.5);
    EXPECT_DOUBLE_EQ(read.Volume.LevelFactor, 9.25);
    EXPECT_EQ(read.Fft.FftPoints, 4096);
    EXPECT_EQ(read.Fft.FftComment, "Kommentar: old");
    EXPECT_EQ(read.Sweep.SweepSteps, 17);
    EXPECT_EQ(read.Scope.ScopeTimebase, 3);
    EXPECT_EQ(read.Diagram.DiagramWidth, 600);
    EXPECT_DOUBLE_EQ(read.Analysis.Fundamental, 440.0);
    EXPECT_EQ(read.Generator.GenFrequency, 997);
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConfigFileFaults, ReadOnlyDirectoryKeepsTheOldFileAndEverySaveReportsFailure)
{
    TempDir dir;
    const std::string path = dir.File("snv13.cfg");
    {
        ProfileFile file(path);
        ASSERT_TRUE(WriteAll(file, OldSettings()));
    }
    const std::string before = ReadBytes(path);
    ASSERT_FALSE(before.empty());

    testing::ReadOnlyDirectory readOnly(dir.Path().string());
    if (!readOnly.Available()) {
        GTEST_SKIP() << "no way to make a read-only directory for this user: " << readOnly.Why();
    }
    ProfileFile file(path);
    EXPECT_FALSE(WriteAll(file, NewSettings()));
    // Batched as the program's close does it: the same outcome.
    file.BeginBatch();
    WriteMainSections(file, NewSettings());
    EXPECT_FALSE(file.EndBatch());
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(Sorted(dir.Entries()), std::vector<std::string>{"snv13.cfg"});
    ExpectOldSettings(path);

    // Writable again: the next save goes through.
    readOnly.Release();
    ProfileFile again(path);
    EXPECT_TRUE(WriteAll(again, NewSettings()));
    Settings read;
    ReadMainSections(ProfileFile(path), read, MainReadHooks{});
    EXPECT_EQ(read.Fft.FftPoints, 512);
    EXPECT_EQ(Sorted(dir.Entries()), std::vector<std::string>{"snv13.cfg"});
}

TEST(ConfigFileFaults, ADirectoryThatIsAFileOrAMissingDirectoryFailsWithoutCreatingAnything)
{
    TempDir dir;
    testing::WriteBytes(dir.File("notadir"), "plain");
    for (const std::string& path : {dir.File("notadir/snv13.cfg"), dir.File("missing/snv13.cfg")}) {
        SCOPED_TRACE(path);
        ProfileFile file(path);
        EXPECT_FALSE(WriteAll(file, NewSettings()));
        // Reading such a file gives the defaults.
        Settings read;
        ReadMainSections(file, read, MainReadHooks{});
        EXPECT_EQ(read.Fft.FftPoints, Settings{}.Fft.FftPoints);
    }
    EXPECT_EQ(ReadBytes(dir.File("notadir")), "plain");
    EXPECT_EQ(Sorted(dir.Entries()), std::vector<std::string>{"notadir"});
}

TEST(ConfigFileFaults, FullDiskKeepsTheOldFileAndSavesAgainOnceThereIsRoom)
{
    TempDir scratch;
    const std::string mountPoint = scratch.File("disk");
    std::filesystem::create_directory(mountPoint);
    testing::SmallDisk disk(mountPoint, 32);
    if (!disk.Available()) {
        GTEST_SKIP() << "no small disk can be mounted here (" << disk.Why()
                     << "); FileSizeLimitFailsTheWriteAndKeepsTheOldFile covers the failing write";
    }
    const std::string path = mountPoint + "/snv13.cfg";
    {
        ProfileFile file(path);
        ASSERT_TRUE(WriteAll(file, OldSettings()));
    }
    const std::string before = ReadBytes(path);
    ASSERT_GT(disk.Fill("filler"), 0u);

    ProfileFile file(path);
    EXPECT_FALSE(WriteAll(file, NewSettings()));
    EXPECT_EQ(ReadBytes(path), before);
    ExpectOldSettings(path);
    // The temporary files of the failed saves are gone again.
    std::vector<std::string> entries;
    for (const auto& e : std::filesystem::directory_iterator(mountPoint)) {
        entries.push_back(e.path().filename().string());
    }
    EXPECT_EQ(Sorted(entries), (std::vector<std::string>{"filler", "snv13.cfg"}));

    std::filesystem::remove(mountPoint + "/filler");
    EXPECT_TRUE(WriteAll(file, NewSettings()));
    Settings read;
    ReadMainSections(ProfileFile(path), read, MainReadHooks{});
    EXPECT_EQ(read.Fft.FftPoints, 512);
    EXPECT_EQ(read.Sweep.SweepSteps, 99);
}

TEST(ConfigFileFaults, FileSizeLimitFailsTheWriteAndKeepsTheOldFile)
{
    TempDir dir;
    const std::string path = dir.File("snv13.cfg");
    {
        ProfileFile file(path);
        ASSERT_TRUE(WriteAll(file, OldSettings()));
    }
    const std::string before = ReadBytes(path);
    {
        // The new text is longer than the old one; the write stops half way.
        testing::FileSizeLimit limit(before.size() / 2);
        ASSERT_TRUE(limit.Ok());
        ProfileFile file(path);
        EXPECT_FALSE(WriteAll(file, NewSettings()));
        file.BeginBatch();
        WriteMainSections(file, NewSettings());
        EXPECT_FALSE(file.EndBatch());
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(Sorted(dir.Entries()), std::vector<std::string>{"snv13.cfg"});
    ExpectOldSettings(path);
}

}  // namespace
}  // namespace sonvera
