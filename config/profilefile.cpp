#include "config/profilefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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

enum class ReadResult { Ok, Missing, Unreadable };

ReadResult ReadWholeFile(const std::string& path, std::string& text)
{
    text.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        // A dangling link or a path under a missing directory: no file, no settings.
        return ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory
                   ? ReadResult::Unreadable
                   : ReadResult::Missing;
    }
    if (!std::filesystem::is_regular_file(status)) {
        return ReadResult::Unreadable;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return ReadResult::Unreadable;
    }
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > ProfileFile::kMaxFileBytes) {
            text.clear();
            return ReadResult::Unreadable;
        }
    }
    if (in.bad()) {
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

struct ProfileFile::Document {
    std::vector<std::string> lines;  // without their line endings
    bool crlf = false;

    static Document Parse(std::string_view text)
    {
        Document doc;
        std::size_t start = 0;
        bool firstEnding = true;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c != '\n' && c != '\r') {
                continue;
            }
            doc.lines.emplace_back(text.substr(start, i - start));
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
            doc.lines.emplace_back(text.substr(start));
        }
        return doc;
    }

    std::string Serialize() const
    {
        const std::string_view ending = crlf ? "\r\n" : "\n";
        std::string text;
        for (const auto& line : lines) {
            text += line;
            text += ending;
        }
        return text;
    }

    // Index of the header line of the first section with this name.
    std::optional<std::size_t> FindSection(std::string_view section) const
    {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto name = SectionName(lines[i]);
            if (name && EqualNoCase(*name, section)) {
                return i;
            }
        }
        return std::nullopt;
    }

    // One past the last line that belongs to the section starting at `header`.
    std::size_t SectionEnd(std::size_t header) const
    {
        std::size_t i = header + 1;
        while (i < lines.size() && !SectionName(lines[i])) {
            ++i;
        }
        return i;
    }

    std::optional<std::size_t> FindKey(std::size_t header, std::string_view key) const
    {
        const std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i) {
            const auto kv = SplitKeyLine(lines[i]);
            if (kv && EqualNoCase(kv->key, key)) {
                return i;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> Get(std::string_view section, std::string_view key) const
    {
        const auto header = FindSection(section);
        if (!header) {
            return std::nullopt;
        }
        const auto at = FindKey(*header, key);
        if (!at) {
            return std::nullopt;
        }
        return std::string(SplitKeyLine(lines[*at])->value);
    }

    void Set(std::string_view section, std::string_view key, std::string_view value)
    {
        std::string line;
        line.reserve(key.size() + 1 + value.size());
        line.append(key).append("=").append(value);

        const auto header = FindSection(section);
        if (!header) {
            if (!lines.empty() && !Trim(lines.back()).empty()) {
                lines.emplace_back();
            }
            lines.emplace_back("[" + std::string(section) + "]");
            lines.push_back(std::move(line));
            return;
        }
        if (const auto at = FindKey(*header, key)) {
            lines[*at] = std::move(line);
            return;
        }
        std::size_t insertAt = SectionEnd(*header);
        while (insertAt > *header + 1 && Trim(lines[insertAt - 1]).empty()) {
            --insertAt;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
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

bool ReplaceFileAtomically(const std::string& path, std::string_view text)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    // Replace what a link points to, not the link (also a link to a file not yet made).
    for (int hops = 0; fs::is_symlink(fs::symlink_status(target, ec)); ++hops) {
        const fs::path to = fs::read_symlink(target, ec);
        if (ec || hops >= 40) {
            return false;
        }
        target = to.is_absolute() ? to : target.parent_path() / to;
    }
    if (target.filename().empty()) {
        return false;
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");

    mode_t mode = NewFileMode();
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            return false;
        }
        mode = old.st_mode & 07777;
    }

    std::string tmp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 || errno == EPERM;
    ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here no longer endangers the file.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;
ProfileFile::ProfileFile(ProfileFile&&) noexcept = default;
ProfileFile& ProfileFile::operator=(ProfileFile&&) noexcept = default;

ProfileFile ProfileFile::InMemory(std::string_view text)
{
    ProfileFile file{std::string()};
    file.inMemory_ = true;
    file.memory_ = std::make_unique<Document>(Document::Parse(text));
    return file;
}

bool ProfileFile::IsInMemory() const
{
    return inMemory_;
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                   std::size_t bufferSize) const
{
    std::optional<std::string> value;
    if (memory_) {
        value = memory_->Get(section, key);
    } else {
        std::string text;
        if (ReadWholeFile(path_, text) == ReadResult::Ok) {
            value = Document::Parse(text).Get(section, key);
        }
    }
    const std::size_t maxChars = bufferSize == 0 ? 0 : bufferSize - 1;
    return CutUtf8(value ? std::string_view(*value) : defaultValue, maxChars);
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    const bool namesOk = !Trim(section).empty() && !Trim(key).empty() && !HasLineBreak(section) &&
                         !HasLineBreak(key) && section.find(']') == std::string_view::npos &&
                         key.find('=') == std::string_view::npos && Trim(key).front() != ';' &&
                         Trim(key).front() != '[';
    if (!namesOk) {
        lastWriteOk_ = false;
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
        memory_->Set(section, key, clean);
        writes_.push_back({std::string(section), std::string(key), clean});
        lastWriteOk_ = true;
        return true;
    }
    if (batchDepth_ > 0) {
        if (!memory_) {  // the file could not be read when the batch began
            batchOk_ = false;
            lastWriteOk_ = false;
            return false;
        }
        memory_->Set(section, key, clean);
        lastWriteOk_ = true;
        return true;
    }

    std::string text;
    const ReadResult read = ReadWholeFile(path_, text);
    if (read == ReadResult::Unreadable) {
        lastWriteOk_ = false;
        return false;
    }
    Document doc = Document::Parse(text);
    doc.Set(section, key, clean);
    lastWriteOk_ = ReplaceFileAtomically(path_, doc.Serialize());
    return lastWriteOk_;
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
    std::string text;
    if (ReadWholeFile(path_, text) == ReadResult::Unreadable) {
        memory_.reset();
        batchOk_ = false;
        return;
    }
    memory_ = std::make_unique<Document>(Document::Parse(text));
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
    if (memory_) {
        ok = ReplaceFileAtomically(path_, memory_->Serialize()) && ok;
    }
    memory_.reset();
    lastWriteOk_ = ok;
    return ok;
}

ProfileFile::Status ProfileFile::Probe() const
{
    if (inMemory_) {
        return Status::Ok;
    }
    std::string text;
    switch (ReadWholeFile(path_, text)) {
    case ReadResult::Ok:
        return Status::Ok;
    case ReadResult::Missing:
        return Status::Missing;
    case ReadResult::Unreadable:
        break;
    }
    return Status::Unreadable;
}

std::string ProfileFile::Text() const
{
    if (memory_) {
        return memory_->Serialize();
    }
    std::string text;
    if (ReadWholeFile(path_, text) != ReadResult::Ok) {
        return {};
    }
    return Document::Parse(text).Serialize();
}

}  // namespace sonvera
