#pragma once

#include <filesystem>
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

#ifndef _WIN32
// The executable from the path /proc/self/exe links to, without the mark the kernel adds once
// the file has been replaced on disk.
ExecutableInfo executableFromLink(const std::filesystem::path& linkTarget);
#endif

} // namespace pellamark
