#pragma once

// Ways to make file writes fail in tests, also for root (where permission bits do not
// stop a write):
// - ReadOnlyDirectory: a directory that refuses new files. Without root its mode is
//   0555; as root it is bind-mounted read-only in a mount namespace of the test process.
// - SmallDisk: a tmpfs of a few kilobytes mounted in that namespace, which can be filled.
// - FileSizeLimit: RLIMIT_FSIZE, so that writing beyond a size fails (EFBIG) for anyone.
// The mounts need CAP_SYS_ADMIN; Available() says whether they could be made, and Why()
// why not.

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace sonvera::testing {

/// Enters a private mount namespace once per process; false (and the reason) when the
/// process may not. Later mounts are seen by this process only.
inline bool EnterPrivateMountNamespace(std::string& why)
{
    static int state = 0;  // 0 not tried, 1 entered, -1 refused
    static std::string reason;
    if (state == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            reason = std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
            state = -1;
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            reason = std::string("making / private: ") + std::strerror(errno);
            state = -1;
        } else {
            state = 1;
        }
    }
    why = reason;
    return state == 1;
}

/// A directory in which no file can be created, renamed or replaced.
class ReadOnlyDirectory {
public:
    explicit ReadOnlyDirectory(const std::string& dir) : dir_(dir)
    {
        if (::geteuid() != 0) {
            mode_ = std::filesystem::status(dir).permissions();
            std::filesystem::permissions(dir, std::filesystem::perms(0555));
            available_ = true;
            chmodded_ = true;
            return;
        }
        if (!EnterPrivateMountNamespace(why_)) {
            return;
        }
        if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            why_ = std::string("bind mount: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            why_ = std::string("read-only remount: ") + std::strerror(errno);
            return;
        }
        available_ = true;
    }
    ~ReadOnlyDirectory() { Release(); }
    ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
    ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

    bool Available() const { return available_; }
    const std::string& Why() const { return why_; }

    /// Makes the directory writable again.
    void Release()
    {
        if (chmodded_) {
            std::filesystem::permissions(dir_, mode_);
            chmodded_ = false;
        }
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
            mounted_ = false;
        }
        available_ = false;
    }

private:
    std::string dir_;
    std::string why_;
    std::filesystem::perms mode_ = std::filesystem::perms::none;
    bool available_ = false;
    bool mounted_ = false;
    bool chmodded_ = false;
};

/// A tmpfs of `kilobytes` KiB mounted over `dir` (which must exist and be empty).
class SmallDisk {
public:
    SmallDisk(const std::string& dir, int kilobytes) : dir_(dir)
    {
        if (!EnterPrivateMountNamespace(why_)) {
            return;
        }
        const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0777";
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            why_ = std::string("mounting a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk()
    {
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Available() const { return mounted_; }
    const std::string& Why() const { return why_; }

    /// Writes `name` until the disk is full; returns the bytes written.
    std::size_t Fill(const std::string& name) const
    {
        std::ofstream out(dir_ + "/" + name, std::ios::binary);
        const std::string chunk(512, 'x');
        std::size_t written = 0;
        while (out.write(chunk.data(), static_cast<std::streamsize>(chunk.size())) && out.flush()) {
            written += chunk.size();
            if (written > (64u << 20)) {
                break;  // not a small disk after all
            }
        }
        return written;
    }

private:
    std::string dir_;
    std::string why_;
    bool mounted_ = false;
};

/// While alive, no file of this process can grow beyond `bytes` (writes fail with EFBIG
/// instead of killing the process with SIGXFSZ).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Ok() const { return ok_; }

private:
    rlimit old_{};
    sighandler_t previous_ = SIG_DFL;
    bool ok_ = false;
};

}  // namespace sonvera::testing
