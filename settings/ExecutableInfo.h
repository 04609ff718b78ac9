#pragma once

#include <string>

namespace pellamark {

// The running executable as the start-with-Windows entry names it.
struct ExecutableInfo {
    std::string fileNameWithoutExtension; // "pellamark"
    std::string fullPath;                 // as the platform reports it
    std::string folder;                   // the folder the executable runs from
};

// Reads the running executable's name and path from the platform.
ExecutableInfo currentExecutable();

} // namespace pellamark
