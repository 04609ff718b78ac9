#include "settings/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellamark {

namespace {

constexpr const char* LockFileName = "pellamark.lock";

// A folder only this user can write to, so nobody else can take or fake the lock.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

std::string lockFolder(const std::string& runtimeDir, const std::string& fallbackBase) {
    if (!runtimeDir.empty() && runtimeDir.front() == '/' && isPrivateFolder(runtimeDir))
        return runtimeDir;
    const std::string folder = fallbackBase + "/pellamark-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    // A folder planted by someone else, or a symlink to one, is refused.
    if (!isPrivateFolder(folder))
        return {};
    return folder;
}

} // namespace

SingleInstance::~SingleInstance() {
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

SingleInstance::Result SingleInstance::acquire() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return acquire(runtimeDir ? runtimeDir : "", "/tmp");
}

SingleInstance::Result SingleInstance::acquire(const std::string& runtimeDir,
                                               const std::string& fallbackBase) {
    const std::string folder = lockFolder(runtimeDir, fallbackBase);
    if (folder.empty())
        return Result::Unchecked;
    // O_CLOEXEC: helper processes (the web engine's) must not inherit the lock and keep it
    // after this copy has gone.
    const int fd = ::open((folder + "/" + LockFileName).c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Result::Unchecked;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unchecked;
    }
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
    m_handle = fd;
    return Result::First;
}

} // namespace pellamark
