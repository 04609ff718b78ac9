#pragma once

// POSIX file writes that a crash cannot tear: the new text goes to a private temporary file that
// is flushed to the disk and then renamed over the old one, and the folder is flushed after the
// rename. Writers of one file take an advisory lock beside it. Every call returns 0 or errno.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include <sys/stat.h>

namespace pellamark {

// Closes a descriptor on every path out of a scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    // Closes the descriptor held and takes `fd` instead.
    void reset(int fd = -1);

private:
    int m_fd;
};

// Opens a file for reading without waiting: a FIFO (or a device) at the path would block an
// ordinary open until someone writes to it. Whatever is not a regular file is refused with
// EISDIR (a folder) or EINVAL (anything else) and `notRegular` set; `info` is the file's status.
int openRegularFile(const std::filesystem::path& file, Fd& fd, struct stat& info, bool& notRegular);

// Reads a whole file, at most `limit` bytes (one more marks it as too large).
int readWhole(int fd, std::size_t limit, std::string& bytes, bool& tooLarge);

// Writes `bytes` to a new private temporary file `folder`/`prefix`XXXXXX and flushes it to the
// disk. On failure nothing is left behind.
int writeTemporary(const std::filesystem::path& folder, const std::string& prefix,
                   std::string_view bytes, std::filesystem::path& created);

// Flushes the folder's entries (a rename in it) to the disk.
int syncFolder(const std::filesystem::path& folder);

// Creates the folder and any missing folders above it as private folders; folders that exist
// keep their modes. On failure `failedAt`, when given, names the folder that could not be made.
int createFolders(const std::filesystem::path& folder, std::filesystem::path* failedAt = nullptr);

// Takes the exclusive lock on `fd`, waiting at most `wait` for another holder (ETIMEDOUT).
int lockExclusive(int fd, std::chrono::milliseconds wait);

} // namespace pellamark
