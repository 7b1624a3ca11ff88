#pragma once

#include <string>

namespace sonvera {

/// Decides before Qt starts whether a window can be shown at all, so the GUI
/// can exit with one clear line instead of the toolkit aborting.
/// Returns an empty string when a display is usable, else the reason.
std::string NoDisplayReason();

/// The platform the program asks Qt for, given the environment: "xcb" in a Wayland
/// session (WAYLAND_DISPLAY set) with X clients reachable (DISPLAY set) when the user
/// has not chosen one (QT_QPA_PLATFORM unset or empty), because the program places its
/// own windows side by side and a Wayland compositor does not let it; otherwise ""
/// (the user's choice, or Qt's own, stands). Null pointers stand for unset variables.
std::string PlatformForSession(const char* qpaPlatform, const char* waylandDisplay, const char* display);

}  // namespace sonvera
