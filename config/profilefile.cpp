#include "config/profilefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unordered_map>
#include <utility>

namespace sonvera {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// The section name of a header line "[name]", or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

// The key and value of a "key=value" line; nothing for comments and other lines.
std::optional<KeyLine> SplitKeyLine(std::string_view line)
{
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') {
        return std::nullopt;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view key = Trim(t.substr(0, eq));
    if (key.empty()) {
        return std::nullopt;
    }
    return KeyLine{key, Trim(t.substr(eq + 1))};
}

std::string LowerName(std::string_view s)
{
    std::string lower(s);
    for (char& c : lower) {
        c = LowerAscii(c);
    }
    return lower;
}

enum class ReadResult { Ok, Missing, Unreadable };

FileProblem SystemProblem(int error)
{
    return FileProblem{FileProblem::Kind::SystemError, error};
}

// Text stored as UTF-16 (as some editors write it): its byte-order mark, or ASCII
// characters each followed or preceded by a zero byte.
bool LooksLikeUtf16(std::string_view head)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        return true;
    }
    if (head.size() < 4) {
        return false;
    }
    return (byte(0) != 0 && byte(1) == 0 && byte(2) != 0 && byte(3) == 0) ||
           (byte(0) == 0 && byte(1) != 0 && byte(2) == 0 && byte(3) != 0);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// Reads the file whole, or with `headOnly` its first bytes (enough to tell UTF-16).
// Never blocks on a FIFO or a device: it is opened without waiting and refused.
ReadResult ReadFile(const std::string& path, std::string& text, FileProblem& problem, bool headOnly = false)
{
    text.clear();
    problem = {};
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        // A dangling link or a path under a missing directory: no file, no settings.
        if (errno == ENOENT || errno == ENOTDIR) {
            return ReadResult::Missing;
        }
        problem = SystemProblem(errno);
        return ReadResult::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        problem = SystemProblem(errno);
        return ReadResult::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        problem.kind = FileProblem::Kind::NotRegularFile;
        return ReadResult::Unreadable;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > ProfileFile::kMaxFileBytes) {
        problem.kind = FileProblem::Kind::TooLarge;
        return ReadResult::Unreadable;
    }
    const std::size_t limit = headOnly ? 4 : ProfileFile::kMaxFileBytes + 1;
    text.reserve(std::min(limit, static_cast<std::size_t>(st.st_size)));
    char chunk[65536];
    while (text.size() < limit) {
        const ssize_t n = ::read(fd.Get(), chunk, std::min(sizeof chunk, limit - text.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            problem = SystemProblem(errno);
            text.clear();
            return ReadResult::Unreadable;
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    if (text.size() > ProfileFile::kMaxFileBytes) {  // it grew while being read
        problem.kind = FileProblem::Kind::TooLarge;
    } else if (LooksLikeUtf16(text)) {
        problem.kind = FileProblem::Kind::Utf16;
    }
    if (problem) {
        text.clear();
        return ReadResult::Unreadable;
    }
    return ReadResult::Ok;
}

// The permission bits a newly created file gets: 0666 less the process's umask,
// read from /proc so that the process-wide umask is never changed, not even briefly.
mode_t NewFileMode()
{
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
            break;
        }
    }
    return static_cast<mode_t>(0666 & ~mask);
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

// The parsed file, kept as blocks: the lines before the first section, then one block
// per section header with the lines up to the next header. Sections are found through
// an index and keys by a look through their own section only, so reading a file costs
// one pass over it plus one pass over a section per key asked for (a bounded number).
struct ProfileFile::Document {
    struct Block {
        std::string header;             // the "[name]" line as written; empty for block 0
        std::vector<std::string> lines;  // the lines after the header, without endings

        // The first line that holds `key`.
        std::optional<std::size_t> FindKey(std::string_view key) const
        {
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const auto kv = SplitKeyLine(lines[i]);
                if (kv && EqualNoCase(kv->key, key)) {
                    return i;
                }
            }
            return std::nullopt;
        }
    };

    std::vector<Block> blocks = std::vector<Block>(1);
    std::unordered_map<std::string, std::size_t> sections;  // lower-case name -> first block
    bool crlf = false;
    bool byteOrderMark = false;

    static Document Parse(std::string_view text)
    {
        Document doc;
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            doc.byteOrderMark = true;
            text.remove_prefix(3);
        }
        std::size_t start = 0;
        bool firstEnding = true;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c != '\n' && c != '\r') {
                continue;
            }
            doc.AddLine(text.substr(start, i - start));
            const bool isCrlf = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
            if (firstEnding) {
                doc.crlf = isCrlf;
                firstEnding = false;
            }
            if (isCrlf) {
                ++i;
            }
            start = i + 1;
        }
        if (start < text.size()) {
            doc.AddLine(text.substr(start));
        }
        return doc;
    }

    void AddLine(std::string_view line)
    {
        if (const auto name = SectionName(line)) {
            sections.emplace(LowerName(*name), blocks.size());
            blocks.push_back(Block{std::string(line), {}});
            return;
        }
        blocks.back().lines.emplace_back(line);
    }

    std::string Serialize() const
    {
        const std::string_view ending = crlf ? "\r\n" : "\n";
        std::string text = byteOrderMark ? "\xEF\xBB\xBF" : "";
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            if (b > 0) {
                text.append(blocks[b].header).append(ending);
            }
            for (const auto& line : blocks[b].lines) {
                text.append(line).append(ending);
            }
        }
        return text;
    }

    Block* FindSection(std::string_view section)
    {
        const auto it = sections.find(LowerName(section));
        return it == sections.end() ? nullptr : &blocks[it->second];
    }

    std::optional<std::string> Get(std::string_view section, std::string_view key) const
    {
        const auto at = sections.find(LowerName(section));
        if (at == sections.end()) {
            return std::nullopt;
        }
        const Block& block = blocks[at->second];
        const auto line = block.FindKey(key);
        if (!line) {
            return std::nullopt;
        }
        return std::string(SplitKeyLine(block.lines[*line])->value);
    }

    void Set(std::string_view section, std::string_view key, std::string_view value)
    {
        std::string line;
        line.reserve(key.size() + 1 + value.size());
        line.append(key).append("=").append(value);

        Block* block = FindSection(section);
        if (block == nullptr) {
            Block& last = blocks.back();
            const bool endsBlank = last.lines.empty() ? blocks.size() == 1 : Trim(last.lines.back()).empty();
            if (!endsBlank) {
                last.lines.emplace_back();
            }
            AddLine("[" + std::string(section) + "]");
            AddLine(line);
            return;
        }
        if (const auto at = block->FindKey(key)) {
            block->lines[*at] = std::move(line);
            return;
        }
        // After the last non-blank line of the section.
        std::size_t insertAt = block->lines.size();
        while (insertAt > 0 && Trim(block->lines[insertAt - 1]).empty()) {
            --insertAt;
        }
        block->lines.insert(block->lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
    }
};

std::string CutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    std::size_t cut = maxBytes;
    // Step back over continuation bytes (10xxxxxx) so that the sequence they belong to
    // is dropped whole; at most three steps, so that non-UTF-8 text is cut where asked.
    std::size_t back = 0;
    while (cut > 0 && back < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
        ++back;
    }
    if (back > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) != 0xC0) {
        cut = maxBytes;  // not a UTF-8 sequence after all
    }
    return std::string(text.substr(0, cut));
}

namespace {

// The temporary files of this program's saves: "." + name + "." + six characters.
bool IsLeftoverOf(const std::string& entry, const std::string& fileName)
{
    const std::string prefix = "." + fileName + ".";
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < entry.size(); ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// Removes what interrupted saves of `target` left in `dir`: only regular files of the
// program's pattern that belong to the running user.
void RemoveLeftovers(const std::filesystem::path& dir, const std::string& fileName)
{
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    const int dirFd = ::dirfd(d);
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (IsLeftoverOf(name, fileName) && ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            ::unlinkat(dirFd, name.c_str(), 0);
        }
    }
    ::closedir(d);
}

}  // namespace

bool CreatePrivateFolders(const std::string& folder)
{
    const std::filesystem::path dir(folder);
    struct stat st {};
    if (dir.empty() || ::stat(dir.c_str(), &st) == 0) {
        return true;
    }
    if (dir.has_parent_path() && dir.parent_path() != dir && !CreatePrivateFolders(dir.parent_path().string())) {
        return false;
    }
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool ResolveForWriting(const std::string& path, std::string& target, FileProblem* problem)
{
    namespace fs = std::filesystem;
    fs::path at(path);
    for (int hops = 0;; ++hops) {
        struct stat link {};
        if (::lstat(at.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            break;
        }
        const fs::path dir = at.has_parent_path() ? at.parent_path() : fs::path(".");
        struct stat d {};
        const bool sharedSticky = ::stat(dir.c_str(), &d) == 0 && (d.st_mode & S_ISVTX) != 0 && (d.st_mode & S_IWOTH) != 0;
        if (sharedSticky && link.st_uid != ::geteuid() && link.st_uid != d.st_uid) {
            if (problem != nullptr) {
                *problem = FileProblem{FileProblem::Kind::ForeignLink, 0};
            }
            return false;
        }
        std::error_code ec;
        const fs::path to = fs::read_symlink(at, ec);
        if (ec || hops >= 40) {
            if (problem != nullptr) {
                *problem = SystemProblem(ec ? ec.value() : ELOOP);
            }
            return false;
        }
        at = to.is_absolute() || !at.has_parent_path() ? to : at.parent_path() / to;
    }
    target = at.string();
    return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view text, FileProblem* problem,
                           ReplaceOptions options)
{
    namespace fs = std::filesystem;
    FileProblem ignored;
    FileProblem& why = problem != nullptr ? *problem : ignored;
    why = {};
    // Replace what a link points to, not the link (also a link to a file not yet made).
    std::string resolved;
    if (!ResolveForWriting(path, resolved, &why)) {
        return false;
    }
    const fs::path target(resolved);
    if (target.filename().empty()) {
        why = SystemProblem(EISDIR);
        return false;
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");

    mode_t mode = NewFileMode();
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            why.kind = FileProblem::Kind::NotRegularFile;
            return false;
        }
        mode = old.st_mode & 07777;
    }

    std::string tmp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && options.createFolder && CreatePrivateFolders(dir.string())) {
        tmp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
        fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    }
    if (fd < 0) {
        why = SystemProblem(errno);
        return false;
    }
    int error = 0;
    const auto step = [&error](bool ok) {
        if (!ok && error == 0) {
            error = errno != 0 ? errno : EIO;
        }
        return ok;
    };
    errno = 0;
    bool ok = step(::fchmod(fd, mode) == 0 || errno == EPERM);
    ok = ok && step(WriteAll(fd, text)) && step(::fsync(fd) == 0);
    ok = step(::close(fd) == 0) && ok;
    ok = ok && step(::rename(tmp.c_str(), target.c_str()) == 0);
    if (!ok) {
        ::unlink(tmp.c_str());
        why = SystemProblem(error);
        return false;
    }
    // Make the rename itself durable; a failure here no longer endangers the file.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (options.removeLeftovers) {
        RemoveLeftovers(dir, target.filename().string());
    }
    return true;
}

std::string DescribeFileProblem(const FileProblem& problem, char language)
{
    const bool german = language == 'D';
    switch (problem.kind) {
    case FileProblem::Kind::None:
        return "";
    case FileProblem::Kind::SystemError:
        return std::strerror(problem.error);
    case FileProblem::Kind::NotRegularFile:
        return german ? "keine gewöhnliche Datei" : "not a regular file";
    case FileProblem::Kind::TooLarge:
        return german ? "größer als 16 MiB, die Grenze für eine Konfigurationsdatei"
                      : "larger than 16 MiB, the limit for a configuration file";
    case FileProblem::Kind::Utf16:
        return german ? "als UTF-16 gespeichert; gelesen wird nur Text in UTF-8"
                      : "stored as UTF-16; only UTF-8 text is read";
    case FileProblem::Kind::ForeignLink:
        return german ? "ein symbolischer Link eines anderen Benutzers in einem gemeinsamen Verzeichnis, "
                        "dem das Programm nicht folgt"
                      : "a symbolic link of another user in a shared directory, which is not followed";
    }
    return "";
}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;
ProfileFile::ProfileFile(ProfileFile&&) noexcept = default;
ProfileFile& ProfileFile::operator=(ProfileFile&&) noexcept = default;

ProfileFile ProfileFile::InMemory(std::string_view text)
{
    ProfileFile file{std::string()};
    file.inMemory_ = true;
    file.memory_ = std::make_shared<Document>(Document::Parse(text));
    return file;
}

bool ProfileFile::IsInMemory() const
{
    return inMemory_;
}

ProfileFile ProfileFile::Snapshot() const
{
    ProfileFile copy{path_};
    copy.inMemory_ = true;
    if (memory_) {
        copy.memory_ = memory_;  // shared until one of the two writes
    } else if (held_) {
        copy.memory_ = held_;
    } else {
        std::string text;
        FileProblem problem;
        ReadForReader(text, problem);
        copy.memory_ = std::make_shared<Document>(Document::Parse(text));
    }
    return copy;
}

void ProfileFile::Detach()
{
    if (inMemory_) {
        return;
    }
    ProfileFile copy = Snapshot();
    memory_ = std::move(copy.memory_);
    inMemory_ = true;
    batchDepth_ = 0;
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                   std::size_t bufferSize) const
{
    std::optional<std::string> value;
    if (const Document* doc = ReadDocument()) {
        value = doc->Get(section, key);
    } else {
        std::string text;
        FileProblem problem;
        if (ReadForReader(text, problem) == Status::Ok) {
            value = Document::Parse(text).Get(section, key);
        }
    }
    const std::size_t maxChars = bufferSize == 0 ? 0 : bufferSize - 1;
    return CutUtf8(value ? std::string_view(*value) : defaultValue, maxChars);
}

void ProfileFile::SetSaveFailureHandler(std::function<void(const FileProblem&)> handler)
{
    onSaveFailure_ = std::move(handler);
}

void ProfileFile::Failed(const FileProblem& problem)
{
    lastWriteOk_ = false;
    lastProblem_ = problem;
    if (onSaveFailure_) {
        onSaveFailure_(problem);
    }
}

bool ProfileFile::Save(const Document& doc)
{
    FileProblem problem;
    if (!ReplaceFileAtomically(path_, doc.Serialize(), &problem, ReplaceOptions{createFolder_, true})) {
        Failed(problem);
        return false;
    }
    lastWriteOk_ = true;
    lastProblem_ = {};
    return true;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    const bool namesOk = !Trim(section).empty() && !Trim(key).empty() && !HasLineBreak(section) &&
                         !HasLineBreak(key) && section.find(']') == std::string_view::npos &&
                         key.find('=') == std::string_view::npos && Trim(key).front() != ';' &&
                         Trim(key).front() != '[';
    if (!namesOk) {
        lastWriteOk_ = false;
        lastProblem_ = {};
        if (batchDepth_ > 0) {
            batchOk_ = false;
        }
        return false;
    }
    std::string clean(value);
    for (char& c : clean) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }

    if (inMemory_) {
        OwnMemory().Set(section, key, clean);
        writes_.push_back({std::string(section), std::string(key), clean});
        lastWriteOk_ = true;
        return true;
    }
    if (batchDepth_ > 0) {
        batchWritten_ = true;
        if (!memory_) {  // the file could not be read when the batch began
            batchOk_ = false;
            lastWriteOk_ = false;
            return false;
        }
        OwnMemory().Set(section, key, clean);
        lastWriteOk_ = true;
        return true;
    }

    std::string text;
    FileProblem problem;
    if (ReadFile(path_, text, problem) == ReadResult::Unreadable) {
        Failed(problem);
        return false;
    }
    Document doc = Document::Parse(text);
    doc.Set(section, key, clean);
    if (!Save(doc)) {
        return false;
    }
    if (held_) {
        held_ = std::make_shared<Document>(std::move(doc));  // what the file holds now
    }
    return true;
}

void ProfileFile::BeginBatch()
{
    if (inMemory_) {
        return;
    }
    if (batchDepth_++ > 0) {
        return;
    }
    batchOk_ = true;
    batchWritten_ = false;
    std::string text;
    if (ReadFile(path_, text, batchProblem_) == ReadResult::Unreadable) {
        memory_.reset();
        batchOk_ = false;
        return;
    }
    memory_ = std::make_shared<Document>(Document::Parse(text));
}

bool ProfileFile::EndBatch()
{
    if (inMemory_) {
        return lastWriteOk_;
    }
    if (batchDepth_ == 0) {
        return lastWriteOk_;
    }
    if (--batchDepth_ > 0) {
        return batchOk_;
    }
    bool ok = batchOk_;
    if (batchWritten_ && memory_) {
        const bool saved = Save(*memory_);
        if (saved && held_) {
            held_ = memory_;  // what the file holds now
        }
        ok = saved && ok;
    } else if (batchWritten_) {
        Failed(batchProblem_);  // the file could not be read when the batch began
    }
    memory_.reset();
    lastWriteOk_ = ok;
    return ok;
}

ProfileFile::Status ProfileFile::Probe(FileProblem* problem) const
{
    if (inMemory_) {
        return Status::Ok;
    }
    std::string head;
    FileProblem why;
    const Status status = ReadForReader(head, why, true);
    if (problem != nullptr) {
        *problem = why;
    }
    return status;
}

ProfileFile::Status ProfileFile::BeginReading(FileProblem* problem)
{
    if (readDepth_++ == 0) {
        heldStatus_ = Status::Ok;
        heldProblem_ = {};
        if (!inMemory_) {
            std::string text;
            heldStatus_ = ReadForReader(text, heldProblem_);
            held_ = std::make_shared<Document>(Document::Parse(text));
        }
    }
    if (problem != nullptr) {
        *problem = heldProblem_;
    }
    return heldStatus_;
}

void ProfileFile::EndReading()
{
    if (readDepth_ > 0 && --readDepth_ == 0) {
        held_.reset();
    }
}

ProfileFile::Status ProfileFile::ReadForReader(std::string& text, FileProblem& problem, bool headOnly) const
{
    ++fileReads_;
    switch (ReadFile(path_, text, problem, headOnly)) {
    case ReadResult::Ok:
        return Status::Ok;
    case ReadResult::Missing:
        return Status::Missing;
    case ReadResult::Unreadable:
        break;
    }
    return Status::Unreadable;
}

const ProfileFile::Document* ProfileFile::ReadDocument() const
{
    return memory_ ? memory_.get() : held_.get();
}

ProfileFile::Document& ProfileFile::OwnMemory()
{
    if (memory_.use_count() > 1) {
        memory_ = std::make_shared<Document>(*memory_);
    }
    return *memory_;
}

std::string ProfileFile::Text() const
{
    if (const Document* doc = ReadDocument()) {
        return doc->Serialize();
    }
    std::string text;
    FileProblem problem;
    if (ReadForReader(text, problem) != Status::Ok) {
        return {};
    }
    return Document::Parse(text).Serialize();
}

}  // namespace sonvera
