#pragma once

#include <string>

namespace sonvera {

/// Decides before Qt starts whether a window can be shown at all, so the GUI
/// can exit with one clear line instead of the toolkit aborting.
/// Returns an empty string when a display is usable, else the reason.
std::string NoDisplayReason();

}  // namespace sonvera
