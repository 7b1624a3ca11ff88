#include "config/profilefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/config/testfiles.h"

namespace sonvera {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class ProfileFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("snv13.cfg");

    std::string Get(std::string_view section, std::string_view key, std::string_view def = "<default>",
                    std::size_t buffer = 153)
    {
        return ProfileFile(path).GetString(section, key, def, buffer);
    }
};

TEST_F(ProfileFileTest, MissingFileGivesDefaults)
{
    EXPECT_EQ(Get("MAIN", "INDEV", "0"), "0");
    EXPECT_EQ(ProfileFile(path).Probe(), ProfileFile::Status::Missing);
    EXPECT_EQ(ProfileFile(dir.File("no/such/dir.cfg")).GetString("A", "B", "x", 10), "x");
}

TEST_F(ProfileFileTest, NamesMatchWithoutCaseAndValuesAreTrimmed)
{
    WriteBytes(path, "[Main]\n  InDev  =  2 \t\n[fft]\nwin=\t3\n");
    EXPECT_EQ(Get("MAIN", "INDEV"), "2");
    EXPECT_EQ(Get("main", "indev"), "2");
    EXPECT_EQ(Get("FFT", "WIN"), "3");
    EXPECT_EQ(Get("FFT", "INDEV"), "<default>");  // key of another section
    EXPECT_EQ(Get("OSZI", "WIN"), "<default>");
}

TEST_F(ProfileFileTest, PresentEmptyValueIsEmptyNotDefault)
{
    WriteBytes(path, "[A]\nK=\nL=   \n");
    EXPECT_EQ(Get("A", "K"), "");
    EXPECT_EQ(Get("A", "L"), "");
    EXPECT_EQ(Get("A", "M"), "<default>");
}

TEST_F(ProfileFileTest, CommentsHeadersAndStrayLinesAreNotKeys)
{
    WriteBytes(path,
               "K=before any section\n[A]\n;K=commented\nno equals sign here\n=orphan value\n"
               "K=a=b\n[A]\nK=second section copy\n");
    EXPECT_EQ(Get("A", "K"), "a=b");  // split at the first '=', first occurrence wins
    EXPECT_EQ(Get("A", ";K"), "<default>");
    EXPECT_EQ(Get("", "K"), "<default>");
}

TEST_F(ProfileFileTest, BufferOf153GivesAtMost152Characters)
{
    const std::string longValue(200, 'x');
    WriteBytes(path, "[A]\nK=" + longValue + "\n");
    EXPECT_EQ(Get("A", "K", "", 153), std::string(152, 'x'));
    EXPECT_EQ(Get("A", "K", "", 199), std::string(198, 'x'));
    EXPECT_EQ(Get("A", "K", "", 29), std::string(28, 'x'));
    EXPECT_EQ(Get("A", "K", "", 1), "");
    EXPECT_EQ(Get("A", "K", "", 0), "");
    EXPECT_EQ(Get("A", "K", "", 201), longValue);  // fits: 200 characters and the zero
    // The default is cut the same way.
    EXPECT_EQ(Get("A", "MISSING", "abcdef", 4), "abc");
}

TEST_F(ProfileFileTest, CutNeverSplitsAUtf8Character)
{
    // "ä" is two bytes (C3 A4); the cut at 5 bytes would fall between them.
    WriteBytes(path, "[A]\nK=abcd\xC3\xA4xyz\n");
    EXPECT_EQ(Get("A", "K", "", 6), "abcd");
    EXPECT_EQ(Get("A", "K", "", 7), "abcd\xC3\xA4");
    // Bytes that are not UTF-8 are cut where asked.
    EXPECT_EQ(CutUtf8("ab\x80\x80\x80\x80", 4), "ab\x80\x80");
}

TEST_F(ProfileFileTest, AnyLineEndingReads)
{
    for (const std::string& text : {std::string("[A]\nK=1\nL=2\n"), std::string("[A]\r\nK=1\r\nL=2\r\n"),
                                    std::string("[A]\rK=1\rL=2\r"), std::string("[A]\r\nK=1\nL=2"),
                                    std::string("[A]\nK=1\nL=2")}) {
        WriteBytes(path, text);
        EXPECT_EQ(Get("A", "K"), "1") << text;
        EXPECT_EQ(Get("A", "L"), "2") << text;
    }
}

TEST_F(ProfileFileTest, WriteReplacesInPlaceAndKeepsEveryOtherLine)
{
    WriteBytes(path,
               "; my settings\n[MAIN]\nINDEV=0\n# note\nUNKNOWN=keep me\n\n[OTHER]\nX=1\n\n[fft]\nWin=3\n");
    ProfileFile file(path);
    ASSERT_TRUE(file.WriteString("main", "indev", "2"));
    ASSERT_TRUE(file.WriteString("FFT", "WIN", "5"));
    EXPECT_EQ(ReadBytes(path),
              "; my settings\n[MAIN]\nindev=2\n# note\nUNKNOWN=keep me\n\n[OTHER]\nX=1\n\n[fft]\nWIN=5\n");
}

TEST_F(ProfileFileTest, WriteAppendsKeyToItsSectionAndSectionToTheEnd)
{
    WriteBytes(path, "[MAIN]\nINDEV=0\n\n\n[OTHER]\nX=1");
    ProfileFile file(path);
    ASSERT_TRUE(file.WriteString("MAIN", "OUTDEV", "1"));
    ASSERT_TRUE(file.WriteString("NEW", "K", "v"));
    ASSERT_TRUE(file.WriteString("NEW", "L", "w"));
    EXPECT_EQ(ReadBytes(path), "[MAIN]\nINDEV=0\nOUTDEV=1\n\n\n[OTHER]\nX=1\n\n[NEW]\nK=v\nL=w\n");
}

TEST_F(ProfileFileTest, FirstWriteCreatesTheFile)
{
    ProfileFile file(path);
    ASSERT_TRUE(file.WriteString("MAIN", "INDEV", "1"));
    EXPECT_EQ(ReadBytes(path), "[MAIN]\nINDEV=1\n");
    EXPECT_EQ(file.GetString("MAIN", "INDEV", "", 153), "1");
}

TEST_F(ProfileFileTest, CrlfFileStaysCrlfAndOtherFilesGetLf)
{
    WriteBytes(path, "[A]\r\nK=1\r\n;c\nL=2");
    ASSERT_TRUE(ProfileFile(path).WriteString("A", "K", "9"));
    EXPECT_EQ(ReadBytes(path), "[A]\r\nK=9\r\n;c\r\nL=2\r\n");

    WriteBytes(path, "[A]\rK=1\r\nL=2");
    ASSERT_TRUE(ProfileFile(path).WriteString("A", "K", "9"));
    EXPECT_EQ(ReadBytes(path), "[A]\nK=9\nL=2\n");
}

TEST_F(ProfileFileTest, LineBreaksInValuesCannotInjectLines)
{
    ProfileFile file(path);
    ASSERT_TRUE(file.WriteString("A", "K", "one\ntwo\r[B]"));
    EXPECT_EQ(file.GetString("A", "K", "", 153), "one two [B]");
    EXPECT_EQ(file.GetString("B", "K", "none", 153), "none");
}

TEST_F(ProfileFileTest, NamesThatCannotBeStoredAreRefused)
{
    ProfileFile file(path);
    EXPECT_FALSE(file.WriteString("A", "K=L", "1"));
    EXPECT_FALSE(file.WriteString("A", "", "1"));
    EXPECT_FALSE(file.WriteString("A", ";K", "1"));
    EXPECT_FALSE(file.WriteString("A]", "K", "1"));
    EXPECT_FALSE(file.WriteString("A\n", "K", "1"));
    EXPECT_FALSE(file.LastWriteOk());
    EXPECT_FALSE(std::filesystem::exists(path));
}

// Tests run as root, where permission bits do not stop a write; these paths fail for
// every user: a directory that does not exist, a "directory" that is a regular file,
// and a target that is itself a directory.
TEST_F(ProfileFileTest, WriteToAnUnwritablePlaceFailsCleanly)
{
    EXPECT_FALSE(ProfileFile(dir.File("missing/snv13.cfg")).WriteString("A", "K", "1"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));

    WriteBytes(dir.File("plainfile"), "data");
    EXPECT_FALSE(ProfileFile(dir.File("plainfile/snv13.cfg")).WriteString("A", "K", "1"));
    EXPECT_EQ(ReadBytes(dir.File("plainfile")), "data");

    std::filesystem::create_directory(dir.File("adir"));
    ProfileFile onDir(dir.File("adir"));
    EXPECT_FALSE(onDir.WriteString("A", "K", "1"));
    EXPECT_FALSE(onDir.LastWriteOk());
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("adir")));
    EXPECT_EQ(onDir.GetString("A", "K", "dflt", 153), "dflt");

    // No temporary file is left behind anywhere.
    auto entries = dir.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"adir", "plainfile"}));
}

TEST_F(ProfileFileTest, FileThatCannotBeReadIsNeverReplaced)
{
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    ProfileFile file(path);
    EXPECT_EQ(file.Probe(), ProfileFile::Status::Unreadable);
    EXPECT_EQ(file.GetString("A", "K", "dflt", 153), "dflt");
    EXPECT_FALSE(file.WriteString("A", "K", "1"));
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(ProfileFileTest, WriteLeavesNoTemporaryFileAndKeepsPermissions)
{
    WriteBytes(path, "[A]\nK=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(ProfileFile(path).WriteString("A", "K", "2"));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"snv13.cfg"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileTest, WriteThroughALinkReplacesItsTarget)
{
    const std::string real = dir.File("real.cfg");
    WriteBytes(real, "[A]\nK=1\n");
    std::filesystem::create_symlink("real.cfg", path);
    ASSERT_TRUE(ProfileFile(path).WriteString("A", "K", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadBytes(real), "[A]\nK=2\n");
}

TEST_F(ProfileFileTest, EmptyAndGarbageFilesGiveDefaultsAndStayWritable)
{
    WriteBytes(path, "");
    EXPECT_EQ(Get("A", "K"), "<default>");

    std::mt19937 rng(1234);
    std::string garbage(4096, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(rng() & 0xFF);
    }
    garbage.erase(std::remove(garbage.begin(), garbage.end(), '['), garbage.end());  // no section headers
    WriteBytes(path, garbage);
    EXPECT_EQ(Get("MAIN", "INDEV"), "<default>");
    ProfileFile file(path);
    ASSERT_TRUE(file.WriteString("MAIN", "INDEV", "1"));
    EXPECT_EQ(file.GetString("MAIN", "INDEV", "", 153), "1");
    // The garbage is still there byte for byte; only line endings are made uniform.
    const auto withoutBreaks = [](std::string s) {
        s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }), s.end());
        return s;
    };
    EXPECT_EQ(withoutBreaks(ReadBytes(path)).rfind(withoutBreaks(garbage), 0), 0u);
}

TEST_F(ProfileFileTest, HundredKilobyteLineIsHarmless)
{
    const std::string huge(100 * 1024, 'z');
    WriteBytes(path, "[A]\n" + huge + "\nK=" + huge + "\nL=short\n");
    EXPECT_EQ(Get("A", "K", "", 153), std::string(152, 'z'));
    EXPECT_EQ(Get("A", "L"), "short");
    ProfileFile file(path);
    ASSERT_TRUE(file.WriteString("A", "L", "changed"));
    EXPECT_EQ(ReadBytes(path), "[A]\n" + huge + "\nK=" + huge + "\nL=changed\n");
}

TEST_F(ProfileFileTest, ByteOrderMarkIsSkippedWhenReadingAndKeptWhenWriting)
{
    WriteBytes(path, "\xEF\xBB\xBF[MAIN]\nSPRACHE=E\n");
    EXPECT_EQ(Get("MAIN", "SPRACHE"), "E");
    ASSERT_TRUE(ProfileFile(path).WriteString("MAIN", "INDEV", "1"));
    EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBF[MAIN]\nSPRACHE=E\nINDEV=1\n");
}

TEST_F(ProfileFileTest, FilesItCannotReadAreRefusedWithTheirReasonAndNeverReplaced)
{
    const char* utf16 = "stored as UTF-16; only UTF-8 text is read";
    const std::pair<std::string, const char*> cases[] = {
        {std::string("\xFF\xFE[\0A\0]\0\n\0", 8), utf16},  // with its mark
        {std::string("[\0A\0]\0", 6), utf16},                   // without
        {"", "larger than 16 MiB, the limit for a configuration file"},
    };
    for (const auto& [bytes, reason] : cases) {
        SCOPED_TRACE(reason);
        WriteBytes(path, bytes);
        if (bytes.empty()) {
            ASSERT_EQ(::truncate(path.c_str(), ProfileFile::kMaxFileBytes + 1), 0);  // one byte too many
        }
        const std::string before = ReadBytes(path);
        ProfileFile file(path);
        std::string reported;
        file.SetSaveFailureHandler([&](const FileProblem& p) { reported += DescribeFileProblem(p); });
        FileProblem problem;
        EXPECT_EQ(file.Probe(&problem), ProfileFile::Status::Unreadable);
        EXPECT_EQ(DescribeFileProblem(problem), reason);
        EXPECT_EQ(file.GetString("A", "K", "dflt", 153), "dflt");
        EXPECT_FALSE(file.WriteString("A", "K", "2"));
        EXPECT_EQ(reported, reason);
        EXPECT_TRUE(ReadBytes(path) == before);
    }
    ASSERT_EQ(::truncate(path.c_str(), ProfileFile::kMaxFileBytes), 0);  // at the limit it is read
    EXPECT_EQ(ProfileFile(path).Probe(), ProfileFile::Status::Ok);
}

TEST_F(ProfileFileTest, ASaveRemovesWhatInterruptedSavesLeftBesideTheFile)
{
    WriteBytes(path, "[A]\nK=1\n");
    for (const char* name : {".snv13.cfg.Ab12Cd", ".snv13.cfg.zZ9yY8", ".snv13.cfg.toolong", ".other.cfg.Ab12Cd",
                             ".snv13.cfg.lock"}) {
        WriteBytes(dir.File(name), "x");
    }
    std::filesystem::create_symlink("snv13.cfg", dir.File(".snv13.cfg.Lk1234"));  // not a file of ours
    ASSERT_TRUE(ProfileFile(path).WriteString("A", "K", "2"));
    auto entries = dir.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{".other.cfg.Ab12Cd", ".snv13.cfg.Lk1234", ".snv13.cfg.lock",
                                                 ".snv13.cfg.toolong", "snv13.cfg"}));
}

// The kernel's rule for links in shared directories, kept by the program itself. Making
// another user's link needs root (CI runs as root).
TEST_F(ProfileFileTest, AnotherUsersLinkInAStickySharedDirectoryIsNeitherFollowedNorReplaced)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user needs root";
    }
    const std::string shared = dir.File("shared");
    ASSERT_TRUE(::mkdir(shared.c_str(), 0700) == 0 && ::chmod(shared.c_str(), 01777) == 0);
    const std::string mine = dir.File("mine.txt");
    WriteBytes(mine, "precious\n");
    const std::string link = shared + "/snv13.cfg";
    std::filesystem::create_symlink(mine, link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, static_cast<gid_t>(-1)), 0);

    ProfileFile file(link);
    EXPECT_FALSE(file.WriteString("A", "K", "1"));
    EXPECT_EQ(file.LastProblem().kind, FileProblem::Kind::ForeignLink);
    EXPECT_EQ(ReadBytes(mine), "precious\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    // The running user's own link there is followed as anywhere else.
    ASSERT_EQ(::lchown(link.c_str(), ::geteuid(), static_cast<gid_t>(-1)), 0);
    EXPECT_TRUE(file.WriteString("A", "K", "1"));
    EXPECT_EQ(ReadBytes(mine), "precious\n\n[A]\nK=1\n");
}

TEST_F(ProfileFileTest, BatchGivesTheSameFileAsSingleWrites)
{
    const std::string start = "; head\r\n[B]\r\nX=1\r\n";
    WriteBytes(path, start);
    ProfileFile single(path);
    single.WriteString("A", "K", "1");
    single.WriteString("B", "X", "2");
    single.WriteString("A", "L", "3");
    const std::string expected = ReadBytes(path);

    WriteBytes(path, start);
    ProfileFile batched(path);
    batched.BeginBatch();
    batched.WriteString("A", "K", "1");
    batched.BeginBatch();  // nested: saved only by the outermost end
    batched.WriteString("B", "X", "2");
    EXPECT_TRUE(batched.EndBatch());
    EXPECT_EQ(ReadBytes(path), start);
    batched.WriteString("A", "L", "3");
    EXPECT_EQ(batched.GetString("A", "L", "", 153), "3");  // reads see the batch
    EXPECT_TRUE(batched.EndBatch());
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ProfileFileTest, FailedBatchReportsFailure)
{
    ProfileFile file(dir.File("missing/snv13.cfg"));
    file.BeginBatch();
    file.WriteString("A", "K", "1");
    EXPECT_FALSE(file.EndBatch());
    EXPECT_FALSE(file.LastWriteOk());
}

TEST(ProfileFileInMemory, RecordsWritesInCallOrderAndReadsThem)
{
    ProfileFile file = ProfileFile::InMemory("[A]\nK=old\n");
    EXPECT_TRUE(file.IsInMemory());
    EXPECT_EQ(file.GetString("A", "K", "", 153), "old");
    file.WriteString("B", "X", "1");
    file.WriteString("A", "K", "new");
    ASSERT_EQ(file.Writes().size(), 2u);
    EXPECT_EQ(file.Writes()[0].section, "B");
    EXPECT_EQ(file.Writes()[1].value, "new");
    EXPECT_EQ(file.Text(), "[A]\nK=new\n\n[B]\nX=1\n");
}

}  // namespace
}  // namespace sonvera
