#pragma once

#include <filesystem>
#include <string_view>

namespace pellamark {

// The files that ship with the program. In the build tree, and wherever the program is unpacked
// into one folder, they lie beside it. Installed, data files and modules have folders of their
// own, which the program finds from its own folder, so an installed tree works wherever it is.
enum class ProgramFile {
    Data,   // the help file, the terms file
    Module, // the page view's engine
};

// The file beside the program when it is there, else where the installed layout keeps it (also
// when it is not there either: that is where it belongs).
std::filesystem::path findProgramFile(const std::filesystem::path& programFolder, ProgramFile kind,
                                      std::string_view name);

} // namespace pellamark
