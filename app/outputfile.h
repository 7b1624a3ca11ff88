#pragma once
// The files a command of sonvera-cli writes, and the files it must never write over.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonvera {

/// The files a command reads (input file, table, configuration, correction files),
/// known by identity (device and inode), so that an output under any other name that
/// is the same file is still recognised. Paths are used byte for byte.
class InputFiles {
public:
    /// Remembers `path` as read; a name that names no file is left out.
    void Add(const std::string& path);
    /// The name of the input that writing `output` would overwrite, or nullopt.
    std::optional<std::string> SameFileAs(const std::string& output) const;

private:
    struct Entry {
        dev_t device = 0;
        ino_t inode = 0;
        std::string path;
    };
    std::vector<Entry> entries_;
};

/// The outputs of a command, checked before it measures or writes anything. A wave file
/// needs a file it can seek in (its header is written last): a pipe or device is
/// refused. A pipe is written only while a process reads it: without one it is a failure
/// at once, never a wait; with one it is opened here and held open until the command
/// ends, so that its reader waits for the output instead of seeing the pipe end now.
class OutputTargets {
public:
    OutputTargets() = default;
    ~OutputTargets();
    OutputTargets(const OutputTargets&) = delete;
    OutputTargets& operator=(const OutputTargets&) = delete;

    /// 0 when `target` can take the output; else 2 (a wave file to a pipe or device) or
    /// 1 (a pipe that no process reads) with `error` set to "TARGET: reason".
    int Check(const std::string& target, bool waveFile, std::string& error);

private:
    std::vector<int> held_;
};

/// One file output written whole or not at all: the bytes go to a temporary file
/// beside the target (unnamed where the file system allows it, so that a killed
/// process leaves nothing behind), which replaces the target only after every byte has
/// been written, flushed to the disk and closed. On any failure the old file stays as
/// it was. A target that exists and is not a regular file (a terminal, /dev/null, a
/// pipe) is written directly (a pipe only while a process reads it: else Open fails at
/// once); a symbolic link is followed and its target replaced.
class OutputFile {
public:
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Creates the temporary file; false with Error() set.
    bool Open();
    /// The open file's descriptor, for writers that take one (-1 before Open).
    int Descriptor() const { return fd_; }
    /// Writes all of `bytes`; false with Error() set.
    bool Write(std::string_view bytes);
    /// Flushes and closes the file and puts it in place; false with Error() set.
    bool Commit();
    /// Records a failure found by a writer that used Descriptor(); the file is dropped.
    void Fail(const std::string& reason);
    /// "TARGET: reason" after a failure.
    const std::string& Error() const { return error_; }

private:
    bool SetError(const std::string& reason);
    void Discard();

    std::string target_;     // as given
    std::string final_;      // where the file goes (a link's target)
    std::string temporary_;  // a named temporary file, when the file system has no unnamed ones
    std::string error_;
    int fd_ = -1;
    bool direct_ = false;    // written in place (not a regular file)
    bool unnamed_ = false;
    bool committed_ = false;
};

/// Writes `bytes` to `target` through an OutputFile; "" or "TARGET: reason".
std::string WriteOutputFile(const std::string& target, std::string_view bytes);

/// Writes all of `bytes` to standard output; "" or "standard output: reason".
std::string WriteStandardOutput(std::string_view bytes);

/// Writes `frames` interleaved frames of `channels` float samples (full scale 1.0) as a wave
/// file of libsndfile's `format` (SF_FORMAT_WAV | subtype) at `rate`, whole or not at all
/// (see OutputFile): "" or the reason.
std::string WriteWaveFile(const std::string& path, const float* samples, std::size_t frames, int channels, int rate,
                          int format);

}  // namespace sonvera
