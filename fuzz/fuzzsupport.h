#pragma once
// Helpers shared by the fuzz targets (and, through them, by their regression tests).

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sonvera::fuzz {

/// Stops the run when a reader broke a promise about its result; the fuzzer then keeps
/// the input as a finding.
inline void Require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

/// A file of this process holding the current input, for readers that take a path.
/// Created in $TMPDIR (or /tmp) on first use, removed when the process ends normally.
class ScratchFile {
public:
    explicit ScratchFile(const char* suffix)
    {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/sonvera-fuzz-XXXXXX" + suffix;
        const int fd = ::mkstemps(path_.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
        Require(fd >= 0, "the scratch file can be created");
        ::close(fd);
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Path() const { return path_; }

    /// Replaces the file's contents with the given bytes.
    void Write(const std::uint8_t* data, std::size_t size) const
    {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        Require(fd >= 0, "the scratch file can be opened");
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            Require(n > 0, "the scratch file can be written");
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        ::close(fd);
    }

private:
    std::string path_;
};

}  // namespace sonvera::fuzz
