#pragma once

// Failed file operations of the file store, in the user's words and in the registry's codes.

#include "settings/RegistryStore.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace pellamark {

// Where a file operation failed, so that the user can be told in plain words.
struct FileFailure {
    enum class About {
        Folder,          // making or replacing a file in the folder `path`
        File,            // opening, reading or locking the file `path`
        NotARegularFile, // `path` is a folder, a FIFO, a device ...
    };
    int error = 0;
    About about = About::Folder;
    std::filesystem::path path;
};

// The failure in plain words ("The folder /home/ann/.config/pellamark is read-only").
std::string describeFileFailure(const FileFailure& failure);

// The registry's return code for a failed file operation.
std::int32_t codeForErrno(int error, std::int32_t otherwise = regcode::WriteFault);

} // namespace pellamark
