#include "app/display.h"

#include <cstdlib>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sonvera {

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// A local X display ":N" or ":N.S" is reachable when its socket accepts a connection.
bool LocalXDisplayReachable(const std::string& display)
{
    const auto colon = display.find(':');
    if (colon != 0) {
        return true;  // a remote or unusual display: let the toolkit try
    }
    std::string number = display.substr(1);
    const auto dot = number.find('.');
    if (dot != std::string::npos) {
        number.resize(dot);
    }
    if (number.empty()) {
        return false;
    }
    const std::string path = "/tmp/.X11-unix/X" + number;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        return true;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        ::close(fd);
        return true;
    }
    path.copy(addr.sun_path, path.size());
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string NoDisplayReason()
{
    const std::string platform = Env("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0) {
        return {};  // offscreen, wayland, vnc ...: the platform plugin decides
    }
    const std::string display = Env("DISPLAY");
    if (platform.empty() && !Env("WAYLAND_DISPLAY").empty()) {
        return {};
    }
    if (display.empty()) {
        return "no display to open (DISPLAY is not set; use QT_QPA_PLATFORM=offscreen to run without one)";
    }
    if (!LocalXDisplayReachable(display)) {
        return "no display to open (cannot connect to X display " + display + ")";
    }
    return {};
}

std::string PlatformForSession(const char* qpaPlatform, const char* waylandDisplay, const char* display)
{
    auto set = [](const char* v) { return v != nullptr && *v != '\0'; };
    if (!set(qpaPlatform) && set(waylandDisplay) && set(display)) {
        return "xcb";
    }
    return {};
}

}  // namespace sonvera
