#pragma once
// The line a run writes under its curves, in both interface languages at once, so that
// a diagram that keeps it shows it in whichever language is chosen later.

#include <string>

namespace sonvera {

/// A result line in German and English.
struct ResultLine {
    std::string german;
    std::string english;

    /// The line in `language` ('E' English, anything else German).
    const std::string& In(char language) const { return language == 'E' ? english : german; }
};

}  // namespace sonvera
