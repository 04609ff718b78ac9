#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pellamark {

// The steps around the rename that replaces the file store's file. Each returns 0 or errno.

// Temporary files are only made under the lock, so any found while it is held were left by a
// writer that was killed.
void removeAbandonedTemporaries(const std::filesystem::path& folder, std::string_view tempPrefix);

// Keeps the generation about to be replaced (the file `current`, which is `file` or the target of
// that link) as <file>.prev. The file itself stays in place until the final rename, so a crash at
// any point leaves a complete file under its name.
int keepPreviousGeneration(const std::filesystem::path& file, const std::filesystem::path& current,
                           const std::string& tempPrefix, const std::string& bytes);

// Keeps a damaged file for inspection under a name that says what happened, never over an
// earlier one.
int moveDamagedFileAside(const std::filesystem::path& file);

// The file a write replaces: the store's own name, or, when that is a symbolic link, the file
// the link finally leads to (which need not exist yet), so that the link stays in place and its
// target gets the new text.
int resolveLinks(const std::filesystem::path& file, std::filesystem::path& target);

} // namespace pellamark
