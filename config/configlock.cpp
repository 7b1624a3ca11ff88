#include "config/configlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace sonvera {

ConfigLock::ConfigLock(const std::string& configPath, bool createFolder)
{
    namespace fs = std::filesystem;
    std::string target;
    if (!ResolveForWriting(configPath, target)) {
        return;  // a save would be refused anyway
    }
    const fs::path file(target);
    if (file.filename().empty()) {
        return;
    }
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (createFolder) {
        CreatePrivateFolders(dir.string());  // what the first save would make, made now for the lock
    }
    lockPath_ = (dir / ("." + file.filename().string() + ".lock")).string();
    // A few rounds: a lock taken on a file that its holder removed on leaving (between
    // our open and our lock) does not count; the next round opens the new file.
    for (int round = 0; round < 5 && state_ == State::Unavailable; ++round) {
        state_ = TryLock();
    }
}

ConfigLock::State ConfigLock::TryLock()
{
    // Never through a link: in a shared directory another user could point it anywhere.
    fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        fd_ = ::open(lockPath_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);  // a read-only folder
    }
    if (fd_ < 0) {
        return State::Unavailable;
    }
    struct stat st {};
    State refused = State::Unavailable;
    bool locked = false;
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        int r = 0;
        do {
            r = ::flock(fd_, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        locked = r == 0;
        if (!locked && errno == EWOULDBLOCK) {
            refused = State::HeldElsewhere;
        }
    }
    if (!locked) {
        ::close(fd_);
        fd_ = -1;
        return refused;
    }
    struct stat now {};
    if (::stat(lockPath_.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
        ::close(fd_);  // the file was removed meanwhile: try again
        fd_ = -1;
        return State::Unavailable;
    }
    return State::Held;
}

ConfigLock::~ConfigLock()
{
    if (fd_ >= 0) {
        // Removed while still held, then released: a program that opened it meanwhile
        // finds its lock on a removed file and starts over.
        ::unlink(lockPath_.c_str());
        ::close(fd_);
    }
}

}  // namespace sonvera
