#pragma once

#include <cstddef>
#include <functional>
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

/// Why a file could not be read or saved, for the messages that name the reason.
struct FileProblem {
    enum class Kind {
        None,
        SystemError,     // the system refused (`error` holds errno)
        NotRegularFile,  // a directory, FIFO, device or socket
        TooLarge,        // larger than ProfileFile::kMaxFileBytes
        Utf16,           // text stored as UTF-16, which the reader does not decode
        ForeignLink,     // another user's symbolic link in a shared sticky directory
    };
    Kind kind = Kind::None;
    int error = 0;
    explicit operator bool() const { return kind != Kind::None; }
};

/// The problem in words, without the file name: German for 'D', English otherwise.
/// System errors use the C library's text for errno.
std::string DescribeFileProblem(const FileProblem& problem, char language = 'E');

/// An INI-style text file read and written key by key.
///
/// Layout: "[name]" starts a section; "key=value" lines follow it. Lines whose first
/// non-blank character is ';' are comments. Section and key names match without regard
/// to (ASCII) case; values are read with blanks and tabs around them removed. Any line
/// ending reads (LF, CRLF, a lone CR, no final newline). A write rewrites the whole file
/// with one line ending: CRLF when the file's first line ended in CRLF, LF otherwise.
/// A UTF-8 byte-order mark at the start is skipped when reading and written back.
/// Every line the write does not touch (comments, blank lines, unknown keys and
/// sections) stays as it was.
///
/// Every save replaces the file atomically: the new text goes to a temporary file in
/// the same directory, is flushed to the disk (fsync) and then renamed over the old
/// file, so a crash or a full disk never leaves half a file. A symbolic link is followed
/// and its target replaced, except another user's link in a world-writable sticky
/// directory (such as /tmp), which is neither followed nor replaced. A file that exists
/// but cannot be read, is larger than kMaxFileBytes or is stored as UTF-16 is never
/// overwritten: writes to it fail. Temporary files that an interrupted save left beside
/// the file are removed by the next save.
///
/// Reading: GetString reads the file for each call; Snapshot reads it once and answers
/// every later read from memory, which is what the section readers use. Between
/// BeginReading and EndReading every read comes from one copy read at the beginning, so
/// the readers of a whole start parse the file once.
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

    /// The file as it is now, read once into memory (an unreadable file gives an empty
    /// one); reads of the copy never touch the disk again. Writes to the copy stay in
    /// memory. Of an in-memory file, during a batch or between BeginReading and
    /// EndReading: the text in memory, shared until one of the two is written.
    ProfileFile Snapshot() const;

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
    /// copy in memory (reads see it), and EndBatch saves it once (one replace of the
    /// file, and none when nothing was written). The result is the same as writing key
    /// by key. Batches nest; the outermost EndBatch saves and returns whether every
    /// write of the batch reached the file.
    void BeginBatch();
    bool EndBatch();

    /// Whether the last WriteString or EndBatch succeeded, and if not, why (a refused
    /// name has no problem to tell).
    bool LastWriteOk() const { return lastWriteOk_; }
    const FileProblem& LastProblem() const { return lastProblem_; }

    /// Called after every save that failed, with the reason.
    void SetSaveFailureHandler(std::function<void(const FileProblem&)> handler);

    /// Lets the first save create the file's missing folders (mode 0700), as for the
    /// per-user configuration folder; otherwise a missing folder fails the save.
    void SetCreateFolder(bool create) { createFolder_ = create; }

    /// Leaves the disk alone from now on: the file's current contents are read once,
    /// and every later read and write goes to that copy in memory. Nothing is saved.
    void Detach();

    /// Reads the head of the file now and tells whether it is there and readable; when
    /// not, `problem` (if given) says why.
    Status Probe(FileProblem* problem = nullptr) const;

    /// Reads the file once now; until EndReading, GetString, Snapshot and Text answer
    /// from that copy (an unreadable file gives an empty one, as its reads give the
    /// defaults). Writes meanwhile still read and replace the file, and the copy becomes
    /// what they saved. Returns what Probe tells, from the same read. Calls nest: an
    /// inner one reads nothing and returns the outer one's answer.
    Status BeginReading(FileProblem* problem = nullptr);
    void EndReading();

    /// How often the reads (GetString, Snapshot, Probe, Text, BeginReading) have read the
    /// file from the disk; the read a save makes of the file it replaces is not counted.
    std::size_t FileReads() const { return fileReads_; }

    /// The text a save would write (the file's current contents after parsing, or the
    /// in-memory document).
    std::string Text() const;

    /// Writes in call order; recorded for in-memory files only.
    const std::vector<ProfileWrite>& Writes() const { return writes_; }

private:
    struct Document;

    // Saves `doc` over the file; reports a failure to the handler.
    bool Save(const Document& doc);
    void Failed(const FileProblem& problem);
    // The document writes change: memory_, copied first while a snapshot shares it.
    Document& OwnMemory();
    // The document reads see instead of the disk: memory_, else the held copy (or null).
    const Document* ReadDocument() const;
    // Reads the file for a reader (counted in FileReads).
    Status ReadForReader(std::string& text, FileProblem& problem, bool headOnly = false) const;

    std::string path_;
    // In-memory file, or the copy of a running batch; snapshots share it until a write.
    std::shared_ptr<Document> memory_;
    std::shared_ptr<Document> held_;  // the copy read by BeginReading
    int readDepth_ = 0;
    Status heldStatus_ = Status::Ok;
    FileProblem heldProblem_;
    mutable std::size_t fileReads_ = 0;
    bool inMemory_ = false;
    bool createFolder_ = false;
    int batchDepth_ = 0;
    bool batchOk_ = true;
    bool batchWritten_ = false;      // a write was asked for in the running batch
    FileProblem batchProblem_;       // why the file could not be read when the batch began
    bool lastWriteOk_ = true;
    FileProblem lastProblem_;
    std::function<void(const FileProblem&)> onSaveFailure_;
    std::vector<ProfileWrite> writes_;
};

/// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

/// How ReplaceFileAtomically treats the folder around the file.
struct ReplaceOptions {
    bool createFolder = false;     // create missing folders (mode 0700)
    bool removeLeftovers = false;  // remove temporary files of earlier, interrupted saves
};

/// Replaces the file at `path` with `text` atomically (temporary file in the same
/// directory, fsync, rename). Returns false and leaves the old file untouched on failure;
/// `problem` (if given) then says why.
bool ReplaceFileAtomically(const std::string& path, std::string_view text, FileProblem* problem = nullptr,
                           ReplaceOptions options = {});

/// Creates `folder` and the missing folders above it, each with mode 0700 (the folders
/// of a per-user configuration). True when it exists afterwards.
bool CreatePrivateFolders(const std::string& folder);

/// The file a save of `path` replaces: the end of its chain of symbolic links. Refuses
/// (false, with the reason) a link that belongs to another user in a world-writable
/// sticky directory, unless the directory's owner owns it too: the rule the kernel's
/// protected_symlinks applies, kept by the program itself whatever the system's setting.
bool ResolveForWriting(const std::string& path, std::string& target, FileProblem* problem = nullptr);

}  // namespace sonvera
