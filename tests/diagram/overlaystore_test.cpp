#include <gtest/gtest.h>

#include "tests/support/tempdir.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "diagram/diagrammodel.h"
#include "diagram/overlaystore.h"

using namespace sonvera;

namespace {

void Write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Overlay Sweep(const std::string& name, float offsetDb)
{
    Overlay o;
    o.name = name;
    o.secondAxis = true;
    o.unit2 = "\u00B0";
    for (int i = 0; i < 5; ++i) {
        o.freqHz.push_back(100.0f * static_cast<float>(i + 1));
        o.curve1.push_back(offsetDb - static_cast<float>(i));
        o.curve2.push_back(i == 2 ? std::nanf("") : -10.0f * static_cast<float>(i));
    }
    return o;
}

}  // namespace

TEST(OverlayStore, KeptOverlaysComeBackAfterARestartAndRemovedOnesAreGone)
{
    sonvera::testing::TempDir dir;
    const std::string folder = OverlayStore::FolderFor(dir.File("snv13.cfg"));
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    {
        OverlayStore store;
        EXPECT_TRUE(store.Open(folder).empty());  // no folder yet: nothing to read, nothing written
        EXPECT_FALSE(std::filesystem::exists(folder));
        ASSERT_TRUE(store.Keep(1, Sweep("Box A", 0.0f), &a));
        ASSERT_TRUE(store.Keep(1, Sweep("Box B", -3.0f), &b));
        ASSERT_TRUE(store.Keep(0, Sweep("Spectrum", -40.0f)));
        EXPECT_NE(store.Find(1, a)->colour, store.Find(1, b)->colour);  // a colour each
        ASSERT_TRUE(store.SetName(1, b, " Box B\nin the corner "));
        ASSERT_TRUE(store.SetColour(1, a, 0x123456));
        ASSERT_TRUE(store.SetVisible(1, b, false));
        ASSERT_TRUE(store.SetReference(1, a));
        ASSERT_TRUE(store.SetDifference(1, true));
    }
    OverlayStore again;
    EXPECT_TRUE(again.Open(folder).empty());
    const OverlayPage& sweeps = again.Page(1);
    ASSERT_EQ(sweeps.overlays.size(), 2u);
    const Overlay& boxA = sweeps.overlays[0];
    const Overlay& boxB = sweeps.overlays[1];
    EXPECT_EQ(boxA.name, "Box A");
    EXPECT_EQ(boxB.name, "Box B in the corner");
    EXPECT_EQ(boxA.colour, 0x123456u);
    EXPECT_TRUE(boxA.visible);
    EXPECT_FALSE(boxB.visible);
    EXPECT_EQ(sweeps.referenceId, boxA.id);
    EXPECT_TRUE(sweeps.difference);
    EXPECT_TRUE(boxB.secondAxis);
    EXPECT_EQ(boxB.unit2, "\u00B0");
    ASSERT_EQ(boxB.freqHz.size(), 5u);
    EXPECT_FLOAT_EQ(boxB.curve1[4], -7.0f);
    EXPECT_FLOAT_EQ(boxB.curve2[3], -30.0f);
    EXPECT_TRUE(std::isnan(boxB.curve2[2]));
    EXPECT_EQ(again.Page(0).overlays.size(), 1u);

    // Removed: gone from the index and its table gone from the folder.
    const std::string fileA = folder + boxA.file;
    ASSERT_TRUE(std::filesystem::exists(fileA));
    ASSERT_TRUE(again.Remove(1, boxA.id));
    EXPECT_FALSE(std::filesystem::exists(fileA));
    EXPECT_EQ(again.Page(1).referenceId, 0u);
    EXPECT_FALSE(again.Page(1).difference);
    OverlayStore third;
    EXPECT_TRUE(third.Open(folder).empty());
    ASSERT_EQ(third.Page(1).overlays.size(), 1u);
    EXPECT_EQ(third.Page(1).overlays[0].name, "Box B in the corner");
}

TEST(OverlayStore, LoadsExportsAndRefusesWhatIsNoTable)
{
    sonvera::testing::TempDir dir;
    OverlayStore store;  // in memory
    // The diagram's export with an overlay: its header names the columns.
    DiagramModel d;
    d.Activate();
    float lo = -90;
    float hi = 10;
    ASSERT_FALSE(d.PrepareDiagram("", 4, 20, 20000, lo, hi));
    d.SetCurvesShown(true, true);
    for (int i = 0; i < 5; ++i) {
        const float values[2] = {-static_cast<float>(i), -20.0f - static_cast<float>(i)};
        d.StoreDiagramPoint(values, 2, i, 100.0f * static_cast<float>(i + 1));
    }
    ASSERT_TRUE(d.Overlays.Keep(0, Sweep("Box A", 5.0f)));
    d.SetSmoothing(3);
    Write(dir.File("export.txt"), d.DiagramText(";"));
    ASSERT_TRUE(store.LoadTable(0, dir.File("export.txt"), "export", false, ""));
    const OverlayPage& page = store.Page(0);
    ASSERT_EQ(page.overlays.size(), 2u);  // the measurement (two curves) and "Box A" (two curves)
    EXPECT_EQ(page.overlays[0].name, "Messung");
    EXPECT_TRUE(page.overlays[0].HasCurve2());
    EXPECT_EQ(page.overlays[1].name, "Box A");
    EXPECT_TRUE(page.overlays[1].HasCurve2());
    ASSERT_EQ(page.overlays[1].freqHz.size(), 5u);

    // A table of the command-line tool, with its '# ' result line, is one overlay.
    Write(dir.File("spectrum.txt"), "100.00,-3.00,-4.00\n200.00,-5.00,-6.00\n# THD+N 0.1 %\n");
    ASSERT_TRUE(store.LoadTable(0, dir.File("spectrum.txt"), "spectrum", false, ""));
    EXPECT_EQ(store.Page(0).overlays.back().name, "spectrum");

    Write(dir.File("junk.txt"), "Frequency,Level\nabc\n");
    const OverlayResult junk = store.LoadTable(0, dir.File("junk.txt"), "junk", false, "");
    EXPECT_EQ(junk.problem, OverlayProblem::NotATable);
    EXPECT_NE(OverlayMessage(junk, 'E').find("line 1"), std::string::npos) << OverlayMessage(junk, 'E');
    EXPECT_EQ(store.LoadTable(0, dir.File("missing.txt"), "m", false, "").problem, OverlayProblem::Unreadable);
    EXPECT_EQ(store.LoadTable(0, dir.Path().string(), "folder", false, "").problem, OverlayProblem::Unreadable);
    EXPECT_EQ(store.Page(0).overlays.size(), 3u);
    while (store.Page(0).overlays.size() < OverlayStore::kMaxPerPage) {
        ASSERT_TRUE(store.Keep(0, Sweep("more", 0.0f)));
    }
    EXPECT_EQ(store.Keep(0, Sweep("one too many", 0.0f)).problem, OverlayProblem::Full);
}

TEST(OverlayStore, AFileItCannotReadIsReportedAndNeverOverwritten)
{
    sonvera::testing::TempDir dir;
    const std::string folder = dir.File("o/");
    std::filesystem::create_directory(folder);
    Write(folder + "overlay-1.txt", "not a table\n");
    Write(dir.File("secret.txt"), "100,1\n");
    Write(folder + OverlayStore::kIndexName,
          "[OVERLAY1]\nPAGE=0\nNAME=bad\nFILE=overlay-1.txt\n"
          "[OVERLAY2]\nPAGE=0\nNAME=outside\nFILE=../secret.txt\n");
    OverlayStore store;
    const std::vector<OverlayResult> problems = store.Open(folder);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].problem, OverlayProblem::NotATable);
    EXPECT_NE(OverlayMessage(problems[0], 'D').find("bleibt"), std::string::npos);
    EXPECT_EQ(problems[1].problem, OverlayProblem::NotATable);  // a name outside the folder is not opened
    EXPECT_TRUE(store.Page(0).overlays.empty());
    std::uint64_t id = 0;
    ASSERT_TRUE(store.Keep(0, Sweep("new", 0.0f), &id));
    EXPECT_NE(store.Find(0, id)->file, "overlay-1.txt");
    EXPECT_EQ(Read(folder + "overlay-1.txt"), "not a table\n");
    EXPECT_EQ(Read(dir.File("secret.txt")), "100,1\n");
    // The index goes on naming what it could not show, for the next start.
    const std::string index = Read(folder + OverlayStore::kIndexName);
    EXPECT_NE(index.find("NAME=bad\nFILE=overlay-1.txt\n"), std::string::npos) << index;
    EXPECT_NE(index.find("FILE=../secret.txt\n"), std::string::npos) << index;

    // An index that cannot be read leaves the folder alone: kept overlays live in memory.
    const std::string locked = dir.File("locked/");
    std::filesystem::create_directories(locked + OverlayStore::kIndexName);  // a folder, no file
    OverlayStore memory;
    ASSERT_EQ(memory.Open(locked).size(), 1u);
    ASSERT_TRUE(memory.Keep(0, Sweep("session", 0.0f)));
    EXPECT_EQ(memory.Page(0).overlays.size(), 1u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked), std::filesystem::directory_iterator()), 1);
}
