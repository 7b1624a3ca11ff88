#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sonvera {

/// One value handed to ProfileFile::WriteString, as recorded by an in-memory file.
struct ProfileWrite {
    std::string section;
    std::string key;
    std::string value;
};

/// An INI-style text file read and written key by key.
///
/// Layout: "[name]" starts a section; "key=value" lines follow it. Lines whose first
/// non-blank character is ';' are comments. Section and key names match without regard
/// to (ASCII) case; values are read with blanks and tabs around them removed. Any line
/// ending reads (LF, CRLF, a lone CR, no final newline). A write rewrites the whole file
/// with one line ending: CRLF when the file's first line ended in CRLF, LF otherwise.
/// Every line the write does not touch (comments, blank lines, unknown keys and
/// sections) stays as it was.
///
/// Every write replaces the file atomically: the new text goes to a temporary file in
/// the same directory, is flushed to the disk (fsync) and then renamed over the old
/// file, so a crash or a full disk never leaves half a file. A symbolic link is followed
/// and its target replaced. A file that exists but cannot be read, or is larger than
/// kMaxFileBytes, is never overwritten: writes to it fail.
///
/// An in-memory file (InMemory) behaves the same without touching the disk, and
/// records every write in call order (Writes).
class ProfileFile {
public:
    /// Files above this size are treated as unreadable (defaults on read, writes fail).
    static constexpr std::size_t kMaxFileBytes = 16u * 1024u * 1024u;

    /// Whether the file could be read as a whole.
    enum class Status { Ok, Missing, Unreadable };

    explicit ProfileFile(std::string path);
    ~ProfileFile();
    ProfileFile(ProfileFile&&) noexcept;
    ProfileFile& operator=(ProfileFile&&) noexcept;
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    /// A file that lives only in memory, starting with the given text.
    static ProfileFile InMemory(std::string_view text = {});

    const std::string& Path() const { return path_; }
    bool IsInMemory() const;

    /// The value of `key` in `section`, with surrounding blanks removed; `defaultValue`
    /// when the section or key is absent (a key present with an empty value gives "").
    ///
    /// `bufferSize` is the size of the reader's buffer including its terminating zero,
    /// so at most bufferSize - 1 characters come back (a buffer of 153 gives at most 152;
    /// a size of 0 gives ""). Characters are bytes of the file; a cut never splits a
    /// UTF-8 sequence, so it may return up to three bytes fewer.
    /// When several lines carry the same section or key, the first one counts.
    std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                          std::size_t bufferSize) const;

    /// Sets `key` in `section` to `value`: replaces the first line with that key in
    /// place, or appends the key after the last non-blank line of the section, or
    /// appends the section (after a blank line) with the key at the end of the file.
    /// Line breaks inside `value` become blanks. Returns false, leaving the file as it
    /// was, when the file cannot be read or replaced (missing or read-only directory,
    /// full disk) or when a name cannot be stored (empty, line breaks, '=' in a key,
    /// ']' in a section, a key beginning with ';' or '[').
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    /// Batches writes: after BeginBatch the file is read once, writes change only the
    /// copy in memory (reads see it), and EndBatch saves it once. The result is the
    /// same as writing key by key. Batches nest; the outermost EndBatch saves and
    /// returns whether every write of the batch reached the file.
    void BeginBatch();
    bool EndBatch();

    /// Whether the last WriteString or EndBatch succeeded.
    bool LastWriteOk() const { return lastWriteOk_; }

    /// Reads the file now and tells whether it is there and readable.
    Status Probe() const;

    /// The text a save would write (the file's current contents after parsing, or the
    /// in-memory document).
    std::string Text() const;

    /// Writes in call order; recorded for in-memory files only.
    const std::vector<ProfileWrite>& Writes() const { return writes_; }

private:
    struct Document;

    std::string path_;
    std::unique_ptr<Document> memory_;  // in-memory file, or the copy of a running batch
    bool inMemory_ = false;
    int batchDepth_ = 0;
    bool batchOk_ = true;
    bool lastWriteOk_ = true;
    std::vector<ProfileWrite> writes_;
};

/// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

/// Replaces the file at `path` with `text` atomically (temporary file in the same
/// directory, fsync, rename). Returns false and leaves the old file untouched on failure.
bool ReplaceFileAtomically(const std::string& path, std::string_view text);

}  // namespace sonvera
