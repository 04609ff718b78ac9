// The file store's generations on the disk: the steps a commit takes around the rename that
// replaces the file.
#include "settings/StoreGenerations.h"

#include "system/DurableFile.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellamark {

namespace fs = std::filesystem;

namespace {

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
    return buffer;
}

} // namespace

void removeAbandonedTemporaries(const fs::path& folder, std::string_view tempPrefix) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::string_view(entry->d_name).substr(0, tempPrefix.size()) == tempPrefix) {
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
            }
        }
        ::closedir(dir);
    }
}

int keepPreviousGeneration(const fs::path& file, const fs::path& current,
                           const std::string& tempPrefix, const std::string& bytes) {
    fs::path prev = file;
    prev += ".prev";
    fs::path prevTemp = file.parent_path() / (tempPrefix + "prev");
    ::unlink(prevTemp.c_str());
    int error = 0;
    if (::link(current.c_str(), prevTemp.c_str()) != 0) {
        // No hard links here (or the link's target is on another disk): write a copy of what was
        // read instead.
        error = writeTemporary(file.parent_path(), tempPrefix, bytes, prevTemp);
    }
    if (error == 0 && ::rename(prevTemp.c_str(), prev.c_str()) != 0) {
        error = errno;
    }
    // rename() leaves both names in place when .prev already is this very file (a writer killed
    // after refreshing it), so drop the temporary name in every case.
    ::unlink(prevTemp.c_str());
    return error;
}

int moveDamagedFileAside(const fs::path& file) {
    const std::string stamp = utcStamp();
    int error = EEXIST;
    for (int attempt = 1; attempt < 1000 && error == EEXIST; ++attempt) {
        fs::path aside = file;
        aside += ".damaged-" + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : "");
        if (::link(file.c_str(), aside.c_str()) == 0) {
            error = 0;
        } else if (errno == EEXIST) {
            error = EEXIST;
        } else if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) ==
                   0) {
            error = 0;
        } else {
            error = errno;
        }
    }
    return error;
}

int resolveLinks(const fs::path& file, fs::path& target) {
    fs::path current = file;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            target = current;
            return 0;
        }
        std::string destination(std::max<std::size_t>(info.st_size, 255) + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), destination.data(), destination.size());
        if (length < 0) {
            return errno;
        }
        if (static_cast<std::size_t>(length) >= destination.size()) {
            return ENAMETOOLONG; // changed while being read
        }
        destination.resize(static_cast<std::size_t>(length));
        const fs::path next(destination);
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return ELOOP;
}

} // namespace pellamark
