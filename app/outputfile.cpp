#include "app/outputfile.h"

#include <sndfile.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace sonvera {

namespace {

std::string Reason(int error)
{
    return std::strerror(error);
}

constexpr const char* kNoReader = "no process reads this pipe";

/// Opens a pipe for writing without waiting for a reader: -1 with errno ENXIO when no
/// process reads it. The descriptor blocks as usual afterwards.
int OpenPipe(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

/// The directory part of a path ("." for a bare name).
std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, std::string_view bytes, int& error)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

OutputTargets::~OutputTargets()
{
    for (const int fd : held_) {
        ::close(fd);
    }
}

int OutputTargets::Check(const std::string& target, bool waveFile, std::string& error)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        return 0;  // a new or regular file; a folder fails when it is written, naming it
    }
    if (waveFile) {
        error = target + ": a wave file is written to a regular file, not to a pipe or device";
        return 2;
    }
    if (S_ISFIFO(st.st_mode)) {
        const int fd = OpenPipe(target);
        if (fd < 0) {
            error = target + ": " + (errno == ENXIO ? std::string(kNoReader) : Reason(errno));
            return 1;
        }
        held_.push_back(fd);
    }
    return 0;
}

void InputFiles::Add(const std::string& path)
{
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        entries_.push_back({st.st_dev, st.st_ino, path});
    }
}

std::optional<std::string> InputFiles::SameFileAs(const std::string& output) const
{
    struct stat st {};
    if (::stat(output.c_str(), &st) != 0) {
        return std::nullopt;  // not there yet: it cannot be any input
    }
    for (const Entry& e : entries_) {
        if (e.device == st.st_dev && e.inode == st.st_ino) {
            return e.path;
        }
    }
    return std::nullopt;
}

OutputFile::OutputFile(std::string target) : target_(std::move(target)), final_(target_) {}

OutputFile::~OutputFile()
{
    if (!committed_) {
        Discard();
    }
}

bool OutputFile::SetError(const std::string& reason)
{
    if (error_.empty()) {
        error_ = target_ + ": " + reason;
    }
    return false;
}

void OutputFile::Fail(const std::string& reason)
{
    SetError(reason);
    Discard();
}

void OutputFile::Discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool OutputFile::Open()
{
    struct stat st {};
    mode_t keepMode = 0;
    bool keep = false;
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return SetError(Reason(EISDIR));
        }
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: there is nothing to replace, only to write to.
            direct_ = true;
            fd_ = S_ISFIFO(st.st_mode) ? OpenPipe(target_) : ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
            return fd_ >= 0 || SetError(errno == ENXIO && S_ISFIFO(st.st_mode) ? kNoReader : Reason(errno));
        }
        if (char* real = ::realpath(target_.c_str(), nullptr)) {
            final_ = real;
            ::free(real);
        }
        keepMode = st.st_mode & 07777;
        keep = true;
    }
    const std::string dir = DirectoryOf(final_);
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    unnamed_ = fd_ >= 0;
    if (!unnamed_) {
        // No unnamed files here (or no such directory, which mkstemp reports as well).
        std::string pattern = dir + "/." + BaseOf(final_) + ".sonvera-XXXXXX";
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0) {
            return SetError(Reason(errno));
        }
        temporary_ = pattern;
        if (!keep) {
            // mkstemp makes the file private; a new output gets the usual permissions.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            keepMode = 0666 & ~mask;
            keep = true;
        }
    }
    if (keep && ::fchmod(fd_, keepMode) != 0) {
        const int e = errno;
        Discard();
        return SetError(Reason(e));
    }
    return true;
}

bool OutputFile::Write(std::string_view bytes)
{
    if (fd_ < 0) {
        return SetError("not open");
    }
    int e = 0;
    if (!WriteAll(fd_, bytes, e)) {
        Discard();
        return SetError(Reason(e));
    }
    return true;
}

bool OutputFile::Commit()
{
    if (fd_ < 0) {
        return SetError("not open");
    }
    if (direct_) {
        const int r = ::close(fd_);
        fd_ = -1;
        committed_ = r == 0;
        return committed_ || SetError(Reason(errno));
    }
    if (::fsync(fd_) != 0) {
        const int e = errno;
        Discard();
        return SetError(Reason(e));
    }
    if (unnamed_) {
        // Give the finished file a name of its own beside the target, then rename it.
        const std::string dir = DirectoryOf(final_);
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        std::random_device entropy;
        for (int attempt = 0; attempt < 100 && temporary_.empty(); ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
            const std::string name = dir + "/." + BaseOf(final_) + ".sonvera-" + suffix;
            // Through /proc, or where it is not mounted by the descriptor itself (which
            // needs the privilege to do so).
            if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT && ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
                temporary_ = name;
            } else if (errno != EEXIST) {
                const int e = errno;
                Discard();
                return SetError(Reason(e));
            }
        }
        if (temporary_.empty()) {
            Discard();
            return SetError(Reason(EEXIST));
        }
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        const int e = errno;
        Discard();
        return SetError(Reason(e));
    }
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
        const int e = errno;
        Discard();
        return SetError(Reason(e));
    }
    temporary_.clear();
    committed_ = true;
    return true;
}

std::string WriteOutputFile(const std::string& target, std::string_view bytes)
{
    OutputFile file(target);
    if (file.Open() && file.Write(bytes) && file.Commit()) {
        return "";
    }
    return file.Error();
}

std::string WriteStandardOutput(std::string_view bytes)
{
    int e = 0;
    return WriteAll(STDOUT_FILENO, bytes, e) ? std::string() : "standard output: " + Reason(e);
}

std::string WriteWaveFile(const std::string& path, const float* samples, std::size_t frames, int channels, int rate,
                          int format)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    OutputFile out(path);
    if (!out.Open()) {
        return out.Error();
    }
    errno = 0;
    SNDFILE* file = sf_open_fd(out.Descriptor(), SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        out.Fail(errno != 0 ? std::strerror(errno) : sf_strerror(nullptr));
        return out.Error();
    }
    const auto count = static_cast<sf_count_t>(frames);
    const bool ok = sf_writef_float(file, samples, count) == count;
    const std::string sndfileError = sf_strerror(file);
    if (sf_close(file) != 0 || !ok) {
        out.Fail(sndfileError);
        return out.Error();
    }
    return out.Commit() ? std::string() : out.Error();
}

}  // namespace sonvera
