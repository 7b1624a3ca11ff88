// The correction-file loader when the file changes under it or cannot be written: the
// file deleted or rewritten between the loader's counting pass and its reading pass,
// and a default file that cannot be created because the disk is full. The loader says
// so in its message, never applies a half-read curve, and leaves nothing behind.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "dsp/curve.h"
#include "tests/support/tempdir.h"
#include "tests/support/writefaults.h"

namespace sonvera {
namespace {

namespace fs = std::filesystem;

struct Sink : CurveMessageSink {
    void Warning(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

void Write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Runs `between` just before the second pass opens the file again.
class ChangingLoader : public CurveFileLoader {
public:
    ChangingLoader(CurveMessageSink& sink, std::function<void()> between)
        : CurveFileLoader(sink), between_(std::move(between))
    {
    }
    int opens = 0;

protected:
    std::FILE* OpenForReading(const std::string& fileName) override
    {
        if (++opens == 2 && between_) {
            between_();
        }
        return CurveFileLoader::OpenForReading(fileName);
    }

private:
    std::function<void()> between_;
};

CorrectionCurve LoadedCurve(const std::string& path)
{
    Sink sink;
    CurveFileLoader loader(sink);
    CorrectionCurve c;
    EXPECT_TRUE(loader.LoadCurveFile(c, path));
    c.active = true;
    return c;
}

TEST(CurveFileFaults, FileDeletedBetweenThePassesGivesTheReadErrorAnEmptyCurveAndNoNewFile)
{
    testing::TempDir dir;
    const std::string path = dir.File("in.cor");
    Write(path, "20 -3\n1000 0\n20000 2\n");
    for (char language : {'D', 'E'}) {
        SCOPED_TRACE(language);
        Write(path, "20 -3\n1000 0\n20000 2\n");
        CorrectionCurve c = LoadedCurve(path);  // the curve in use before
        ASSERT_EQ(c.count, 3);
        Sink sink;
        ChangingLoader loader(sink, [&] { fs::remove(path); });
        loader.SetCurveMessages(language);
        EXPECT_FALSE(loader.LoadCurveFile(c, path));
        EXPECT_EQ(loader.opens, 2);
        const std::string lead = language == 'D' ? "Fehler beim Lesen von " : "Error at reading of ";
        EXPECT_EQ(sink.messages, std::vector<std::string>{lead + ": " + path});
        // Emptied by the load that began, as after any failure past the first pass;
        // nothing half-read can be applied, even if a caller switches the curve on.
        EXPECT_EQ(c.count, 0);
        EXPECT_FALSE(c.active);
        EXPECT_TRUE(c.fileName.empty());
        c.active = true;
        EXPECT_DOUBLE_EQ(ApplyCurve(c, 1.0, 1000.0, -20.0), -20.0);
        // The vanished file is not replaced by the default one.
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST(CurveFileFaults, FileRewrittenBetweenThePassesWithAnotherLineCountIsRefusedWhole)
{
    testing::TempDir dir;
    const std::string path = dir.File("out.cor");
    const std::string first = "20 -3\n1000 0\n20000 2\n";
    const std::vector<std::string> replacements = {
        "20 -3\n1000 0\n",                         // fewer lines
        "20 -3\n1000 0\n20000 2\n25000 4\n",       // more lines
        "20 -3\n1000 0,5\n20000 2\n",              // a line error
        "",                                        // emptied
    };
    for (const std::string& second : replacements) {
        SCOPED_TRACE(second);
        Write(path, first);
        Sink sink;
        ChangingLoader loader(sink, [&] { Write(path, second); });
        loader.SetCurveMessages('E');
        CorrectionCurve c;
        EXPECT_FALSE(loader.LoadCurveFile(c, path));
        EXPECT_EQ(sink.messages, std::vector<std::string>{"Error at reading of : " + path});
        EXPECT_EQ(c.count, 0);
        EXPECT_TRUE(c.points.empty());
        // The file is left as it now is.
        EXPECT_EQ(Read(path), second);
    }
}

TEST(CurveFileFaults, FileRewrittenWithTheSameLineCountLoadsTheNewValuesOnly)
{
    testing::TempDir dir;
    const std::string path = dir.File("in.cor");
    Write(path, "20 -3\n1000 0\n20000 2\n");
    Sink sink;
    ChangingLoader loader(sink, [&] { Write(path, "100 1\n1000 5\n10000 1\n"); });
    CorrectionCurve c;
    ASSERT_TRUE(loader.LoadCurveFile(c, path));
    EXPECT_TRUE(sink.messages.empty());
    ASSERT_EQ(c.count, 3);
    EXPECT_DOUBLE_EQ(c.points[0].x, 100.0);
    EXPECT_DOUBLE_EQ(c.points[1].y, 5.0);
    EXPECT_DOUBLE_EQ(c.points[2].x, 10000.0);
    EXPECT_NEAR(EvalCurve(c, 1000.0), 5.0, 1e-12);
}

/// A default file that cannot be written: the message, the curve as it was, and no
/// empty file left behind that would fail the next load with another message.
void ExpectCreateFailureLeavesNothing(const std::string& path)
{
    CorrectionCurve c = LoadedCurve(path + ".old");
    ASSERT_EQ(c.count, 2);
    Sink sink;
    CurveFileLoader loader(sink);
    loader.SetCurveMessages('E');
    EXPECT_FALSE(loader.LoadCurveFile(c, path));
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Unable to create file"});
    EXPECT_EQ(c.count, 2);
    EXPECT_TRUE(c.active);
    EXPECT_FALSE(fs::exists(path));
}

TEST(CurveFileFaults, DefaultFileOnAFullDiskIsNotCreatedAndTheCurveStays)
{
    testing::TempDir scratch;
    const std::string mountPoint = scratch.File("disk");
    fs::create_directory(mountPoint);
    testing::SmallDisk disk(mountPoint, 16);
    if (!disk.Available()) {
        GTEST_SKIP() << "no small disk can be mounted here (" << disk.Why()
                     << "); DefaultFileBeyondTheFileSizeLimit covers the failing write";
    }
    Write(mountPoint + "/new.cor.old", "100 0\n1000 10\n");
    ASSERT_GT(disk.Fill("filler"), 0u);
    ExpectCreateFailureLeavesNothing(mountPoint + "/new.cor");
    // With room again, the default file is made and loaded.
    fs::remove(mountPoint + "/filler");
    const CorrectionCurve made = LoadedCurve(mountPoint + "/new.cor");
    EXPECT_EQ(made.count, 1);
    EXPECT_EQ(Read(mountPoint + "/new.cor"), "1000 0\n");
}

TEST(CurveFileFaults, DefaultFileBeyondTheFileSizeLimit)
{
    testing::TempDir dir;
    Write(dir.File("new.cor.old"), "100 0\n1000 10\n");
    testing::FileSizeLimit limit(0);
    ASSERT_TRUE(limit.Ok());
    ExpectCreateFailureLeavesNothing(dir.File("new.cor"));
}

TEST(CurveFileFaults, OnlyRegularFilesAreReadAndTheRestGetTheReadErrorNamingThem)
{
    testing::TempDir dir;
    const std::string fifo = dir.File("pipe.cor");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody writes: an open that waits would hang
    Sink sink;
    CurveFileLoader loader(sink);
    loader.SetCurveMessages('E');
    for (const std::string& name : {fifo, std::string("/dev/zero"), dir.Path().string()}) {
        SCOPED_TRACE(name);
        CorrectionCurve curve;
        sink.messages.clear();
        EXPECT_FALSE(loader.LoadCurveFile(curve, name));
        EXPECT_EQ(sink.messages, std::vector<std::string>{"Error at reading of : " + name});
        EXPECT_EQ(curve.count, 0);
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
}

}  // namespace
}  // namespace sonvera
