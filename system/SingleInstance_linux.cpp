#include "system/SingleInstance.h"

#include "system/DurableFile.h"
#include "system/UserFolders.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellamark {

namespace {

constexpr const char* LockFileName = "pellamark.lock";

} // namespace

SingleInstance::~SingleInstance() {
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

SingleInstance::Result SingleInstance::acquire() {
    return acquire((currentUserConfigFolder() / ProgramFolderName).string());
}

SingleInstance::Result SingleInstance::acquire(const std::string& folder) {
    if (folder.empty() || folder.front() != '/' || createFolders(folder) != 0)
        return Result::Unchecked;
    // The folder as it is now, links followed (a linked configuration folder is still the
    // user's): only the user may write in it, so nobody else can take or fake the lock.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!dir || ::fstat(dir.get(), &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
        return Result::Unchecked;
    // O_CLOEXEC: helper processes (the web engine's) must not inherit the lock and keep it
    // after this copy has gone.
    const int fd = ::openat(dir.get(), LockFileName,
                            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
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
