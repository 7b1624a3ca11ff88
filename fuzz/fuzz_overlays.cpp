// Fuzz target: the index of the diagram's overlay folder. The input is the index's bytes;
// the folder also holds one table the store wrote ("overlay-1.txt") and one that is no
// table ("overlay-2.txt"), and a file beside the folder. The store reads what it can,
// at most its number of overlays a page, each from a table file of its own folder named
// as it names them, says why for the rest, and changes no file while it reads; a change
// afterwards writes a new file and leaves the others as they were.

#include "fuzz/fuzz_overlays.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/fuzzsupport.h"

namespace sonvera::fuzz {

namespace {

const char* const kGoodTable = "# Hz,Box\n100.000,-1.000\n1000.000,-2.000\n";
const char* const kBadTable = "no table\n";
const char* const kOutside = "100,1\n";

std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Put(const std::filesystem::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// A scratch folder of this process: <tmp>/sonvera-fuzz-XXXXXX/o/ with the files above.
const std::filesystem::path& Scratch()
{
    static const std::filesystem::path root = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/sonvera-fuzz-XXXXXX";
        Require(::mkdtemp(pattern.data()) != nullptr, "the scratch folder can be made");
        std::filesystem::create_directory(std::filesystem::path(pattern) / "o");
        std::atexit([] { std::filesystem::remove_all(Scratch()); });
        return std::filesystem::path(pattern);
    }();
    return root;
}

}  // namespace

OverlaysOutcome OpenOverlayIndex(const std::uint8_t* data, std::size_t size)
{
    const std::filesystem::path folder = Scratch() / "o";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::filesystem::remove_all(entry.path());
    }
    Put(folder / "overlay-1.txt", kGoodTable);
    Put(folder / "overlay-2.txt", kBadTable);
    Put(Scratch() / "outside.txt", kOutside);
    const std::string index(reinterpret_cast<const char*>(data), size);
    Put(folder / OverlayStore::kIndexName, index);

    OverlaysOutcome out;
    OverlayStore store;
    out.problems = store.Open(folder.string() + "/");
    for (const OverlayResult& r : out.problems) {
        Require(r.problem != OverlayProblem::None, "a problem is a problem");
        Require(!OverlayMessage(r, 'D').empty() && !OverlayMessage(r, 'E').empty(), "a problem says what it is");
    }
    for (int page = 0; page < OverlayStore::kPages; ++page) {
        const OverlayPage& p = store.Page(page);
        out.overlays[page] = p.overlays.size();
        Require(p.overlays.size() <= static_cast<std::size_t>(OverlayStore::kMaxPerPage), "at most 16 a page");
        Require(p.referenceId == 0 || store.Find(page, p.referenceId) != nullptr, "the reference is an overlay");
        Require(!p.difference || p.referenceId != 0, "a difference has a reference");
        for (const Overlay& o : p.overlays) {
            Require(o.file == "overlay-1.txt", "only the good table is read");
            Require(o.freqHz.size() == 2 && o.curve1.size() == 2 && o.curve2.empty(), "the table as written");
            Require(o.name.size() <= OverlayStore::kMaxNameBytes && o.name.find('\n') == std::string::npos,
                    "a name on one line");
        }
    }
    Require(Slurp(folder / OverlayStore::kIndexName) == index, "reading changes no index");
    Require(Slurp(folder / "overlay-2.txt") == kBadTable, "reading changes no table");
    // A change writes a table of a new name and touches no other file.
    Overlay kept;
    kept.freqHz = {100.0f};
    kept.curve1 = {0.0f};
    std::uint64_t id = 0;
    if (store.Keep(0, kept, &id) && store.Find(0, id) != nullptr) {
        const std::string& file = store.Find(0, id)->file;
        Require(file.empty() || (file != "overlay-1.txt" && file != "overlay-2.txt"), "a new name for a new table");
    }
    Require(Slurp(folder / "overlay-1.txt") == kGoodTable && Slurp(folder / "overlay-2.txt") == kBadTable,
            "the tables stay as they were");
    Require(Slurp(Scratch() / "outside.txt") == kOutside, "nothing outside the folder is touched");
    return out;
}

}  // namespace sonvera::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sonvera::fuzz::OpenOverlayIndex(data, size);
    return 0;
}
