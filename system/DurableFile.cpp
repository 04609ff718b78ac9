#include "system/DurableFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace pellamark {

namespace fs = std::filesystem;

namespace {

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

} // namespace

void Fd::reset(int fd) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

int openRegularFile(const fs::path& file, Fd& fd, struct stat& info, bool& notRegular) {
    notRegular = false;
    fd.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        return errno;
    }
    if (::fstat(fd.get(), &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        notRegular = true;
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    // A regular file reads the same either way; reads that wait are what the rest expects.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return errno;
    }
    return 0;
}

int readWhole(int fd, std::size_t limit, std::string& bytes, bool& tooLarge) {
    bytes.clear();
    tooLarge = false;
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            tooLarge = true;
            return 0;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

int writeTemporary(const fs::path& folder, const std::string& prefix, std::string_view bytes,
                   fs::path& created) {
    std::string pattern = (folder / (prefix + "XXXXXX")).string();
    Fd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd) {
        return errno;
    }
    int error = 0;
    if (::fchmod(fd.get(), 0600) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = writeAll(fd.get(), bytes);
    }
    if (error == 0 && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (error == 0 && ::close(fd.release()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(pattern.c_str());
        return error;
    }
    created = pattern;
    return 0;
}

int syncFolder(const fs::path& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        return errno;
    }
    return ::fsync(fd.get()) == 0 ? 0 : errno;
}

int createFolders(const fs::path& folder, fs::path* failedAt) {
    const auto failed = [&](int error) {
        if (failedAt != nullptr) {
            *failedAt = folder;
        }
        return error;
    };
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? 0 : failed(ENOTDIR);
    }
    if (errno != ENOENT) {
        return failed(errno);
    }
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder) {
        if (const int error = createFolders(parent, failedAt); error != 0) {
            return error;
        }
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        // Could not be made in its parent: that is the folder to name.
        const int error = errno;
        if (failedAt != nullptr) {
            *failedAt = parent.empty() ? folder : parent;
        }
        return error;
    }
    return 0;
}

int lockExclusive(int fd, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    while (true) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return errno;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return ETIMEDOUT;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(5));
    }
}

} // namespace pellamark
