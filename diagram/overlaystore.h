#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "diagram/diagramtable.h"

namespace sonvera {

/// A measurement kept for comparison: one or two curves over frequency, drawn under the
/// diagram's own curves in a colour of its own.
struct Overlay {
    std::uint64_t id = 0;  // unique in its store, never reused (markers and caches hold it)
    std::string name;
    Colour colour = 0;     // 0: the store picks a free one
    bool visible = true;
    bool dashed = false;
    /// Curve 2 stands on the diagram's right axis (phase, a second level) in `unit2`.
    bool secondAxis = false;
    std::string unit2;
    std::vector<float> freqHz;  // ascending, above 0
    std::vector<float> curve1;  // NaN: a point without a value
    std::vector<float> curve2;  // empty: the overlay has one curve
    std::string file;           // its table in the store's folder ("" when not saved)

    bool HasCurve2() const { return !curve2.empty(); }
};

/// The overlays of one page (spectrum or sweep) and how they are compared.
struct OverlayPage {
    std::vector<Overlay> overlays;
    std::uint64_t referenceId = 0;  // the overlay the difference is taken to; 0: none
    bool difference = false;        // the curves show their difference to the reference
};

/// Why an overlay operation did not do all it should.
enum class OverlayProblem {
    None,
    Full,        // the page holds kMaxPerPage overlays already
    NoCurve,     // nothing to keep (no point with a value)
    Unreadable,  // a file could not be read (detail: the reason)
    NotATable,   // a file is no diagram table (detail: the reader's message)
    NotSaved,    // kept for this session only: the folder could not be written (detail)
    OtherAxis,   // the diagram's horizontal axis is no frequency axis
};

/// The outcome of an operation, with the file it concerns.
struct OverlayResult {
    OverlayProblem problem = OverlayProblem::None;
    std::string file;
    std::string detail;
    explicit operator bool() const { return problem == OverlayProblem::None; }
};

/// The problem as one message, German for 'D', English otherwise.
std::string OverlayMessage(const OverlayResult& result, char language);

/// The overlays of both pages, kept in memory and, once a folder is opened, in that
/// folder: one table file each (the diagram's text export, readable by `sonvera-cli
/// plot`) and an index (INI text) naming them with their names, colours and switches.
/// Every change rewrites the index atomically; a table file is written once, before the
/// index names it, under a name no file in the folder has had. A file that cannot be read
/// is reported and left where it is, and the index goes on naming it (the next start
/// tries again); nothing the store did not write is ever removed.
class OverlayStore {
public:
    static constexpr int kMaxPerPage = 16;
    static constexpr int kPages = 2;  // 0: spectrum, 1: sweep
    static constexpr std::size_t kMaxNameBytes = 64;
    static constexpr const char* kIndexName = "index.ini";

    /// The folder of the overlays beside a configuration file: "<file>.overlays/".
    static std::string FolderFor(const std::string& configPath);

    /// Reads the overlays kept in `folder` (its path ending in '/'), replacing those in
    /// memory; from then on every change is saved there. Returns one result for each
    /// overlay (or index) that could not be read. An index that cannot be read leaves
    /// the store in memory only, so it is never overwritten.
    std::vector<OverlayResult> Open(const std::string& folder);
    const std::string& Folder() const { return folder_; }

    const OverlayPage& Page(int page) const;
    const Overlay* Find(int page, std::uint64_t id) const;

    /// Adds an overlay (its points sorted by frequency, points at or below 0 Hz left
    /// out, its name cut to kMaxNameBytes, a free colour when it has none) and saves it.
    /// NotSaved still keeps it for the session. `id` receives the new overlay's id.
    OverlayResult Keep(int page, Overlay overlay, std::uint64_t* id = nullptr);
    /// Reads a table file (regular, at most kMaxTableBytes) and keeps it as overlays: one table of
    /// one or two value columns is one overlay named `name`; a wide table with a header
    /// gives one overlay per named curve (a column "X (2)" after "X" is X's curve 2);
    /// a wide table without one, one overlay of its first two columns. Curve 2 goes on
    /// the right axis when `secondAxis` (in `unit2`).
    OverlayResult LoadTable(int page, const std::string& path, const std::string& name, bool secondAxis,
                            const std::string& unit2);
    /// Removes an overlay and, once the index no longer names it, its table file.
    OverlayResult Remove(int page, std::uint64_t id);
    OverlayResult SetVisible(int page, std::uint64_t id, bool visible);
    OverlayResult SetName(int page, std::uint64_t id, const std::string& name);
    OverlayResult SetColour(int page, std::uint64_t id, Colour colour);
    /// id 0: no reference (the difference ends too).
    OverlayResult SetReference(int page, std::uint64_t id);
    OverlayResult SetDifference(int page, bool on);

    /// Counts every change, for pictures and caches that depend on the overlays.
    std::uint64_t Generation() const { return generation_; }

    /// The colours given to new overlays, in order (the first one no overlay of the
    /// page has): visible on the diagram's background and apart from its two curves.
    static const std::array<Colour, kMaxPerPage>& Palette();

private:
    Overlay* Get(int page, std::uint64_t id);
    OverlayResult Changed();  // counts the change and saves the index
    OverlayResult SaveIndex();
    OverlayResult WriteTable(Overlay& overlay);
    std::string FreeFileName() const;

    std::array<OverlayPage, kPages> pages_;
    // Index entries Open could not show: written back as they were.
    std::vector<std::vector<std::pair<std::string, std::string>>> unread_;
    std::string folder_;
    bool writable_ = false;
    std::uint64_t nextId_ = 1;
    std::uint64_t generation_ = 0;
    std::uint64_t nextFile_ = 1;
};

/// The overlays a table makes (see OverlayStore::LoadTable), without ids and colours.
std::vector<Overlay> OverlaysFromTable(const DiagramTable& table, const std::string& name, bool secondAxis,
                                       const std::string& unit2);

/// The table file of an overlay: a header line naming its curves, then one point a line
/// (frequency and values with three decimals, "," between them, "nan" for no value).
std::string OverlayTableText(const Overlay& overlay);

}  // namespace sonvera
