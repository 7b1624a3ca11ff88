#include "diagram/overlaystore.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <numeric>

#include "config/numberformat.h"
#include "config/profilefile.h"
#include "config/profilevalues.h"

namespace sonvera {

namespace {

constexpr std::size_t kIndexBuffer = 256;
// The keys of an overlay's section, in the order they are written.
constexpr const char* kIndexKeys[] = {"PAGE", "NAME", "FILE", "COLOUR", "VISIBLE", "REFERENCE", "AXIS2", "UNIT2",
                                      "DASHED"};
// Sections [OVERLAY1] .. of the index read: those both pages hold and room for entries
// that could not be read, which the index keeps.
constexpr int kMaxIndexEntries = 256;

int PageIndex(int page)
{
    return std::clamp(page, 0, OverlayStore::kPages - 1);
}

// A name on one line, without blanks around it, at most kMaxNameBytes.
std::string CleanName(const std::string& name)
{
    std::string s = name;
    std::replace_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
    const std::size_t first = s.find_first_not_of(' ');
    const std::size_t last = s.find_last_not_of(' ');
    s = first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
    return CutUtf8(s, OverlayStore::kMaxNameBytes);
}

// A table file the store itself names: "overlay-<n>.txt". Anything else an index names
// (a path, "..") is never opened, written or removed.
bool IsOwnFileName(const std::string& name)
{
    constexpr std::string_view head = "overlay-";
    constexpr std::string_view tail = ".txt";
    if (name.size() <= head.size() + tail.size() || name.size() > 40 || name.rfind(head, 0) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(head.size()),
                       name.end() - static_cast<std::ptrdiff_t>(tail.size()),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Sorts the points by frequency and leaves out those at or below 0 Hz.
void Normalise(Overlay& o)
{
    const bool two = o.HasCurve2();
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < o.freqHz.size(); ++i) {
        if (o.freqHz[i] > 0.0f && std::isfinite(o.freqHz[i])) {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return o.freqHz[a] < o.freqHz[b]; });
    Overlay sorted;
    for (const std::size_t i : order) {
        sorted.freqHz.push_back(o.freqHz[i]);
        sorted.curve1.push_back(i < o.curve1.size() ? o.curve1[i] : std::nanf(""));
        if (two) {
            sorted.curve2.push_back(i < o.curve2.size() ? o.curve2[i] : std::nanf(""));
        }
    }
    o.freqHz = std::move(sorted.freqHz);
    o.curve1 = std::move(sorted.curve1);
    o.curve2 = std::move(sorted.curve2);
}

bool HasValue(const Overlay& o)
{
    const auto finite = [](float v) { return std::isfinite(v); };
    return std::any_of(o.curve1.begin(), o.curve1.end(), finite) ||
           std::any_of(o.curve2.begin(), o.curve2.end(), finite);
}

std::string Number(float v)
{
    return std::isfinite(v) ? FormatFixed(v, 3) : std::string("nan");
}

}  // namespace

std::string OverlayMessage(const OverlayResult& r, char language)
{
    const bool de = language == 'D';
    const std::string file = r.file.empty() ? std::string() : r.file + ": ";
    switch (r.problem) {
    case OverlayProblem::None:
        return {};
    case OverlayProblem::Full:
        return de ? "Schon " + std::to_string(OverlayStore::kMaxPerPage) +
                        " Überlagerungen auf dieser Seite; erst eine entfernen"
                  : "This page holds " + std::to_string(OverlayStore::kMaxPerPage) +
                        " overlays already; remove one first";
    case OverlayProblem::NoCurve:
        return de ? "Keine Kurve zum Behalten (kein Punkt mit Wert)" : "No curve to keep (no point with a value)";
    case OverlayProblem::Unreadable:
        return file + (de ? "nicht lesbar (" : "cannot be read (") + r.detail +
               (de ? "); die Datei bleibt, wo sie ist" : "); the file stays where it is");
    case OverlayProblem::NotATable:
        return file + (de ? "keine Diagrammtabelle (" : "not a diagram table (") + r.detail +
               (de ? "); die Datei bleibt, wo sie ist" : "); the file stays where it is");
    case OverlayProblem::NotSaved:
        return file + (de ? "nicht gespeichert (" : "not saved (") + r.detail +
               (de ? "); die Überlagerung gilt nur bis zum Programmende"
                   : "); the overlay lasts until the program ends");
    case OverlayProblem::OtherAxis:
        return de ? "Überlagerungen gibt es nur über der Frequenz, nicht über dem Pegel"
                  : "Overlays are kept against frequency only, not against level";
    }
    return {};
}

const std::array<Colour, OverlayStore::kMaxPerPage>& OverlayStore::Palette()
{
    // 0x00BBGGRR; dark or saturated enough for the cyan background and the yellow grid,
    // none of them the red and blue of the diagram's own curves.
    static const std::array<Colour, kMaxPerPage> palette{
        0x008C00, 0xDC00DC, 0x14468C, 0x0078FF, 0xA0006E, 0x282828, 0x008080, 0x000080,
        0x6E5A00, 0x646464, 0x8C50FF, 0x6E0000, 0x00AA5A, 0x0064C8, 0xFF5096, 0x3C3C00};
    return palette;
}

std::string OverlayStore::FolderFor(const std::string& configPath)
{
    return configPath + ".overlays/";
}

const OverlayPage& OverlayStore::Page(int page) const
{
    return pages_[static_cast<std::size_t>(PageIndex(page))];
}

const Overlay* OverlayStore::Find(int page, std::uint64_t id) const
{
    for (const Overlay& o : Page(page).overlays) {
        if (o.id == id) {
            return &o;
        }
    }
    return nullptr;
}

Overlay* OverlayStore::Get(int page, std::uint64_t id)
{
    return const_cast<Overlay*>(Find(page, id));
}

std::vector<OverlayResult> OverlayStore::Open(const std::string& folder)
{
    pages_ = {};
    unread_.clear();
    folder_ = folder;
    writable_ = false;
    ++generation_;
    std::vector<OverlayResult> problems;
    const std::string indexPath = folder + kIndexName;
    ProfileFile file(indexPath);
    FileProblem why;
    const ProfileFile::Status status = file.Probe(&why);
    if (status == ProfileFile::Status::Unreadable) {
        problems.push_back({OverlayProblem::Unreadable, indexPath, DescribeFileProblem(why)});
        return problems;  // in memory only: the index it could not read is never replaced
    }
    writable_ = true;
    if (status == ProfileFile::Status::Missing) {
        return problems;
    }
    const ProfileFile index = file.Snapshot();
    const auto text = [&](const std::string& section, const char* key, const char* fallback) {
        return index.GetString(section, key, fallback, kIndexBuffer);
    };
    for (int page = 0; page < kPages; ++page) {
        pages_[static_cast<std::size_t>(page)].difference =
            text("PAGE" + std::to_string(page), "DIFFERENCE", "FALSE") != "FALSE";
    }
    for (int k = 1; k <= kMaxIndexEntries; ++k) {
        const std::string section = "OVERLAY" + std::to_string(k);
        const std::string name = text(section, "FILE", "");
        if (name.empty()) {
            continue;
        }
        // An entry it cannot show stays in the index as it was, for the next start.
        const std::size_t before = problems.size();
        const auto keepUnread = [&] {
            if (problems.size() > before) {
                std::vector<std::pair<std::string, std::string>> entry;
                for (const char* key : kIndexKeys) {
                    const std::string absent = "\x01";
                    if (const std::string v = text(section, key, absent.c_str()); v != absent) {
                        entry.emplace_back(key, v);
                    }
                }
                unread_.push_back(std::move(entry));
            }
        };
        // The number in every name the index holds stays taken, read or not.
        if (IsOwnFileName(name)) {
            const std::string digits = name.substr(8, name.size() - 12);
            const auto n = ParseInteger(digits.size() <= 9 ? digits : std::string());
            if (n && static_cast<std::uint64_t>(*n) >= nextFile_) {
                nextFile_ = static_cast<std::uint64_t>(*n) + 1;
            }
        }
        const int page = ParseInteger(text(section, "PAGE", "0")).value_or(0);
        OverlayPage& p = pages_[static_cast<std::size_t>(PageIndex(page))];
        if (!IsOwnFileName(name)) {
            problems.push_back({OverlayProblem::NotATable, indexPath,
                                "[" + section + "] FILE=" + name + " is no overlay file of this folder"});
            keepUnread();
            continue;
        }
        const bool named = std::any_of(pages_.begin(), pages_.end(), [&](const OverlayPage& other) {
            return std::any_of(other.overlays.begin(), other.overlays.end(),
                               [&](const Overlay& o) { return o.file == name; });
        });
        if (named) {
            // Two overlays on one file: removing one would take the other's table.
            problems.push_back({OverlayProblem::NotATable, indexPath,
                                "[" + section + "] FILE=" + name + " is named twice"});
            keepUnread();
            continue;
        }
        if (static_cast<int>(p.overlays.size()) >= kMaxPerPage) {
            problems.push_back({OverlayProblem::Full, folder + name, ""});
            keepUnread();
            continue;
        }
        std::string table;
        if (const std::string error = ReadTableFile(folder + name, table); !error.empty()) {
            problems.push_back({OverlayProblem::Unreadable, folder + name, error});
            keepUnread();
            continue;
        }
        DiagramTable t;
        std::string error;
        if (!ParseWideTable(table, t, error)) {
            problems.push_back({OverlayProblem::NotATable, folder + name, error});
            keepUnread();
            continue;
        }
        Overlay o;
        o.name = CleanName(text(section, "NAME", ""));
        o.secondAxis = ParseBoolean(text(section, "AXIS2", "FALSE"));
        o.unit2 = CutUtf8(text(section, "UNIT2", ""), 8);
        o.dashed = ParseBoolean(text(section, "DASHED", "FALSE"));
        o.visible = ParseBoolean(text(section, "VISIBLE", "TRUE"));
        const auto colour = ParseInteger(text(section, "COLOUR", "0"));
        o.colour = colour ? static_cast<Colour>(*colour) & 0xFFFFFF : 0;
        o.freqHz = t.freqHz;
        o.curve1 = t.curve1;
        if (t.ValueColumns() >= 2) {
            o.curve2 = t.curve2;
        }
        Normalise(o);
        o.file = name;
        o.id = nextId_++;
        if (ParseBoolean(text(section, "REFERENCE", "FALSE")) && p.referenceId == 0) {
            p.referenceId = o.id;
        }
        p.overlays.push_back(std::move(o));
    }
    for (OverlayPage& p : pages_) {
        p.difference = p.difference && p.referenceId != 0;
    }
    return problems;
}

OverlayResult OverlayStore::Changed()
{
    ++generation_;
    return SaveIndex();
}

OverlayResult OverlayStore::SaveIndex()
{
    if (!writable_) {
        return {};
    }
    std::string text = "; The overlays of the diagram: one table file each, in the order shown.\n";
    for (int page = 0; page < kPages; ++page) {
        text += "[PAGE" + std::to_string(page) + "]\nDIFFERENCE=" +
                FormatBoolean(pages_[static_cast<std::size_t>(page)].difference) + "\n";
    }
    int k = 0;
    for (int page = 0; page < kPages; ++page) {
        const OverlayPage& p = pages_[static_cast<std::size_t>(page)];
        for (const Overlay& o : p.overlays) {
            if (o.file.empty()) {
                continue;  // its table could not be written: it lives in memory only
            }
            text += "[OVERLAY" + std::to_string(++k) + "]\n";
            text += "PAGE=" + std::to_string(page) + "\n";
            text += "NAME=" + o.name + "\n";
            text += "FILE=" + o.file + "\n";
            text += "COLOUR=" + std::to_string(static_cast<std::int32_t>(o.colour)) + "\n";
            text += "VISIBLE=" + FormatBoolean(o.visible) + "\n";
            text += "REFERENCE=" + FormatBoolean(o.id == p.referenceId) + "\n";
            text += "AXIS2=" + FormatBoolean(o.secondAxis) + "\n";
            text += "UNIT2=" + o.unit2 + "\n";
            text += "DASHED=" + FormatBoolean(o.dashed) + "\n";
        }
    }
    for (const auto& entry : unread_) {
        text += "[OVERLAY" + std::to_string(++k) + "]\n";
        for (const auto& [key, value] : entry) {
            text += key + "=" + value + "\n";
        }
    }
    FileProblem problem;
    if (!ReplaceFileAtomically(folder_ + kIndexName, text, &problem, ReplaceOptions{true, true})) {
        return {OverlayProblem::NotSaved, folder_ + kIndexName, DescribeFileProblem(problem)};
    }
    return {};
}

std::string OverlayStore::FreeFileName() const
{
    // A number above every one the index named and every file in the folder has.
    std::uint64_t n = nextFile_;
    while (true) {
        const std::string name = "overlay-" + std::to_string(n) + ".txt";
        if (::access((folder_ + name).c_str(), F_OK) != 0 && errno == ENOENT) {
            return name;
        }
        ++n;
    }
}

OverlayResult OverlayStore::WriteTable(Overlay& o)
{
    if (!writable_) {
        return {};
    }
    const std::string name = FreeFileName();
    FileProblem problem;
    if (!ReplaceFileAtomically(folder_ + name, OverlayTableText(o), &problem, ReplaceOptions{true, false})) {
        return {OverlayProblem::NotSaved, folder_ + name, DescribeFileProblem(problem)};
    }
    nextFile_ = std::stoull(name.substr(8, name.size() - 12)) + 1;
    o.file = name;
    return {};
}

OverlayResult OverlayStore::Keep(int page, Overlay o, std::uint64_t* id)
{
    OverlayPage& p = pages_[static_cast<std::size_t>(PageIndex(page))];
    if (static_cast<int>(p.overlays.size()) >= kMaxPerPage) {
        return {OverlayProblem::Full, "", ""};
    }
    Normalise(o);
    if (!HasValue(o)) {
        return {OverlayProblem::NoCurve, "", ""};
    }
    o.name = CleanName(o.name);
    o.unit2 = CutUtf8(o.unit2, 8);
    o.colour &= 0xFFFFFF;
    if (o.colour == 0) {
        for (const Colour c : Palette()) {
            const bool used = std::any_of(p.overlays.begin(), p.overlays.end(),
                                          [c](const Overlay& other) { return other.colour == c; });
            if (!used) {
                o.colour = c;
                break;
            }
        }
    }
    o.id = nextId_++;
    o.file.clear();
    OverlayResult written = WriteTable(o);
    if (id != nullptr) {
        *id = o.id;
    }
    p.overlays.push_back(std::move(o));
    OverlayResult saved = Changed();
    return written ? saved : written;
}

OverlayResult OverlayStore::LoadTable(int page, const std::string& path, const std::string& name, bool secondAxis,
                                      const std::string& unit2)
{
    std::string text;
    if (const std::string error = ReadTableFile(path, text); !error.empty()) {
        return {OverlayProblem::Unreadable, path, error};
    }
    DiagramTable table;
    std::string error;
    if (!ParseWideTable(text, table, error)) {
        return {OverlayProblem::NotATable, path, error};
    }
    std::vector<Overlay> made = OverlaysFromTable(table, name, secondAxis, unit2);
    const OverlayPage& p = Page(page);
    if (static_cast<int>(p.overlays.size() + made.size()) > kMaxPerPage) {
        return {OverlayProblem::Full, path, ""};
    }
    OverlayResult result;
    for (Overlay& o : made) {
        OverlayResult r = Keep(page, std::move(o));
        if (!r && result) {
            result = r;
        }
    }
    return result;
}

OverlayResult OverlayStore::Remove(int page, std::uint64_t id)
{
    OverlayPage& p = pages_[static_cast<std::size_t>(PageIndex(page))];
    const auto it = std::find_if(p.overlays.begin(), p.overlays.end(), [id](const Overlay& o) { return o.id == id; });
    if (it == p.overlays.end()) {
        return {};
    }
    const std::string file = it->file;
    p.overlays.erase(it);
    if (p.referenceId == id) {
        p.referenceId = 0;
        p.difference = false;
    }
    OverlayResult r = Changed();
    // The table goes only once the index no longer names it.
    if (r && writable_ && IsOwnFileName(file)) {
        std::filesystem::remove(folder_ + file);
    }
    return r;
}

OverlayResult OverlayStore::SetVisible(int page, std::uint64_t id, bool visible)
{
    Overlay* o = Get(page, id);
    if (o == nullptr || o->visible == visible) {
        return {};
    }
    o->visible = visible;
    return Changed();
}

OverlayResult OverlayStore::SetName(int page, std::uint64_t id, const std::string& name)
{
    Overlay* o = Get(page, id);
    const std::string clean = CleanName(name);
    if (o == nullptr || o->name == clean || clean.empty()) {
        return {};  // an overlay keeps a name
    }
    o->name = clean;
    return Changed();
}

OverlayResult OverlayStore::SetColour(int page, std::uint64_t id, Colour colour)
{
    Overlay* o = Get(page, id);
    if (o == nullptr || o->colour == (colour & 0xFFFFFF)) {
        return {};
    }
    o->colour = colour & 0xFFFFFF;
    return Changed();
}

OverlayResult OverlayStore::SetReference(int page, std::uint64_t id)
{
    OverlayPage& p = pages_[static_cast<std::size_t>(PageIndex(page))];
    if (id != 0 && Find(page, id) == nullptr) {
        return {};
    }
    p.referenceId = id;
    p.difference = p.difference && id != 0;
    return Changed();
}

OverlayResult OverlayStore::SetDifference(int page, bool on)
{
    OverlayPage& p = pages_[static_cast<std::size_t>(PageIndex(page))];
    on = on && p.referenceId != 0;
    if (p.difference == on) {
        return {};
    }
    p.difference = on;
    return Changed();
}

std::vector<Overlay> OverlaysFromTable(const DiagramTable& table, const std::string& name, bool secondAxis,
                                       const std::string& unit2)
{
    std::vector<Overlay> out;
    const int columns = table.ValueColumns();
    const auto make = [&](const std::string& n, int first, int second) {
        Overlay o;
        o.name = n;
        o.freqHz = table.freqHz;
        o.curve1 = table.Values(first);
        if (second >= 0) {
            o.curve2 = table.Values(second);
            o.secondAxis = secondAxis;
            o.unit2 = secondAxis ? unit2 : std::string();
        }
        out.push_back(std::move(o));
    };
    if (columns <= 2 || table.names.empty()) {
        const std::string n = table.names.empty() || columns > 2 ? name : table.names.front();
        make(n.empty() ? name : n, 0, columns >= 2 ? 1 : -1);
        return out;
    }
    // A wide table of the export: each named curve, "X (2)" after "X" being X's second.
    for (int k = 0; k < columns; ++k) {
        const std::string& n = table.names[static_cast<std::size_t>(k)];
        const bool pair = k + 1 < columns && table.names[static_cast<std::size_t>(k + 1)] == n + " (2)";
        make(n, k, pair ? k + 1 : -1);
        k += pair ? 1 : 0;
    }
    return out;
}

std::string OverlayTableText(const Overlay& o)
{
    const auto clean = [](std::string s) {
        std::replace(s.begin(), s.end(), ',', ' ');
        return s;
    };
    std::string text = "# Hz," + clean(o.name.empty() ? std::string("1") : o.name);
    if (o.HasCurve2()) {
        text += "," + clean(o.name.empty() ? std::string("1") : o.name) + " (2)";
    }
    text += "\n";
    for (std::size_t i = 0; i < o.freqHz.size(); ++i) {
        text += FormatFixed(o.freqHz[i], 3) + "," + Number(i < o.curve1.size() ? o.curve1[i] : std::nanf(""));
        if (o.HasCurve2()) {
            text += "," + Number(i < o.curve2.size() ? o.curve2[i] : std::nanf(""));
        }
        text += "\n";
    }
    return text;
}

}  // namespace sonvera
