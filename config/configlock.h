#pragma once

#include <string>

#include "config/profilefile.h"

namespace sonvera {

/// Tells running programs that share one configuration file apart: an exclusive lock on
/// a small file beside the configuration (".NAME.lock", there while the program runs),
/// which the system releases when the process holding it ends, however it ends (a file
/// left by a crash is locked afresh by the next start). Only the program with windows
/// takes it; the command-line tool only reads the configuration.
class ConfigLock {
public:
    enum class State {
        Held,           // this process holds the lock
        HeldElsewhere,  // another running process holds it
        Unavailable,    // no lock file can be made here (read-only or missing folder)
    };

    /// Tries to take the lock of the configuration at `configPath` (through symbolic
    /// links to the file a save replaces). With `createFolder` a missing folder of the
    /// per-user configuration is created first (mode 0700).
    ConfigLock(const std::string& configPath, bool createFolder);
    ~ConfigLock();
    ConfigLock(const ConfigLock&) = delete;
    ConfigLock& operator=(const ConfigLock&) = delete;

    State GetState() const { return state_; }
    /// The lock file's path ("" when none could be named).
    const std::string& LockPath() const { return lockPath_; }

private:
    State TryLock();

    int fd_ = -1;
    State state_ = State::Unavailable;
    std::string lockPath_;
};

}  // namespace sonvera
