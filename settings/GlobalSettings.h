#pragma once

#include "settings/RegValue.h"

#include <string>

namespace pellamark {

// The program-wide settings: one instance for the run, built in main and passed to whoever
// needs it. Empty at start.
struct GlobalSettings {
    RegValue ProfileUserId;
    RegValue ProfileEmailAddress;
    double ProfilePubId = 0.0;
    RegValue ProfileVersion;
    RegValue ProfileStartup;
    std::string NewEmailAddress;
    bool StartWithWindows = false;
    std::string FavoritesUrl;
};

} // namespace pellamark
