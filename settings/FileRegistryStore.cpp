#include "settings/FileRegistryStore.h"

#include "settings/DesktopEntry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace pellamark {

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kPathNotFound = 3;
constexpr std::int32_t kReadFault = 30;
// Returned by a change that finds nothing to do: no write, the call succeeds.
constexpr std::int32_t kNothingToWrite = -1;

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kDesktopSuffix = ".desktop";
// Anything larger is not a file this program wrote; treat it as damage instead of reading it.
constexpr std::size_t kMaxRegistryBytes = 64u << 20;
constexpr std::size_t kMaxEntryBytes = 1u << 20;

std::int32_t codeForErrno(int error, std::int32_t otherwise = regcode::WriteFault) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return regcode::AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return regcode::DiskFull;
    case ENOMEM:
        return regcode::NotEnoughMemory;
    case ENOENT:
    case ENOTDIR:
        return kPathNotFound;
    case ENAMETOOLONG:
    case EINVAL:
        return regcode::InvalidParameter;
    default:
        return otherwise;
    }
}

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
    void reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }

private:
    int m_fd;
};

std::string joinPath(std::string_view base, std::string_view sub) {
    if (base.empty()) {
        return std::string(sub);
    }
    if (sub.empty()) {
        return std::string(base);
    }
    std::string path(base);
    path.push_back('\\');
    path += sub;
    return path;
}

bool isRunKey(std::string_view path) {
    return sameName(path, kRunKey);
}

// The Run key always exists, so every key above it does too.
bool isAboveRunKey(std::string_view path) {
    if (path.empty()) {
        return true;
    }
    const std::string folded = foldName(path);
    const std::string run = foldName(kRunKey);
    return run.size() > folded.size() && run.compare(0, folded.size(), folded) == 0 &&
           run[folded.size()] == '\\';
}

bool anyKeyExists(const RegFileDocument& document, std::string_view path) {
    return isRunKey(path) || isAboveRunKey(path) || keyExists(document, path);
}

// Reads a whole file, at most `limit` bytes (one more marks it as too large).
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

// Writes `bytes` to a new private temporary file in `folder` and flushes it to the disk. On
// failure nothing is left behind.
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

// Creates the folder and any missing folders above it as private folders; folders that exist
// keep their modes.
int createFolders(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    }
    if (errno != ENOENT) {
        return errno;
    }
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder) {
        if (const int error = createFolders(parent); error != 0) {
            return error;
        }
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return errno;
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

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
    return buffer;
}

std::int32_t fillQuery(std::uint32_t storedType, const std::vector<std::uint8_t>& bytes,
                       std::uint32_t& type, std::uint8_t* data, std::uint32_t& size) {
    return answerQuery(storedType, bytes.data(), bytes.size(), type, data, size);
}

// Value names of the Run key become file names: nothing that could leave the folder.
bool isSafeEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
           isStorableValueName(name) && name.size() + kDesktopSuffix.size() <= 255;
}

// Adds sections for the key and every key above it that does not exist yet.
void ensureKey(RegFileDocument& document, std::string_view path) {
    if (findKey(document, path) != nullptr) {
        return;
    }
    if (path.empty()) {
        document.keys.push_back(RegFileKey{});
        return;
    }
    std::size_t pos = 0;
    while (true) {
        pos = path.find('\\', pos);
        const std::string_view prefix = path.substr(0, pos);
        if (pos == std::string_view::npos) {
            break;
        }
        if (!anyKeyExists(document, prefix)) {
            document.keys.push_back(RegFileKey{std::string(prefix), {}});
        }
        ++pos;
    }
    document.keys.push_back(RegFileKey{std::string(path), {}});
}

// Identifies one version of a file: a replaced file has a new inode, an edited one new times.
template <typename Stamp> Stamp stampOf(const struct stat& info) {
    return Stamp{static_cast<std::uintmax_t>(info.st_dev), static_cast<std::uintmax_t>(info.st_ino),
                 static_cast<std::uintmax_t>(info.st_size),
                 info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
                 info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec};
}

template <typename Call> std::int32_t guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return regcode::NotEnoughMemory;
    } catch (...) {
        return regcode::BadDb;
    }
}

} // namespace

FileRegistryStore::FileRegistryStore(fs::path registryFile, fs::path autostartFolder,
                                     FileRegistryStoreOptions options)
    : m_file(std::move(registryFile)), m_autostart(std::move(autostartFolder)), m_options(options) {
}

FileRegistryStore::~FileRegistryStore() = default;

std::int32_t FileRegistryStore::resolve(RegHandle handle, std::string& path) const {
    if (handle == HKEY_CURRENT_USER_) {
        path.clear();
        return regcode::Success;
    }
    const auto it = m_handles.find(handle);
    if (it == m_handles.end()) {
        return regcode::InvalidHandle;
    }
    path = it->second;
    return regcode::Success;
}

FileRegistryStore::Snapshot FileRegistryStore::readSnapshot() const {
    Snapshot snapshot;
    const auto readFile = [](const fs::path& file, std::string& bytes, FileStamp* stamp,
                             bool& tooLarge) -> int {
        Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            return errno;
        }
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) {
            return errno;
        }
        if (!S_ISREG(info.st_mode)) {
            return EISDIR;
        }
        if (stamp != nullptr) {
            *stamp = stampOf<FileStamp>(info);
        }
        return readWhole(fd.get(), kMaxRegistryBytes, bytes, tooLarge);
    };

    bool tooLarge = false;
    const int error = readFile(m_file, snapshot.bytes, &snapshot.stamp, tooLarge);
    if (error == ENOENT || error == ENOTDIR) {
        snapshot.state = Snapshot::State::Missing;
        return snapshot;
    }
    if (error != 0) {
        snapshot.state = Snapshot::State::Unreadable;
        snapshot.error = error;
    } else if (auto document = tooLarge ? std::nullopt : parseRegFile(snapshot.bytes)) {
        snapshot.state = Snapshot::State::Good;
        snapshot.document = std::move(*document);
        return snapshot;
    } else {
        snapshot.state = Snapshot::State::Damaged;
    }

    // The current generation cannot be used: fall back to the one before it, if that is good.
    std::string previous;
    fs::path prevFile = m_file;
    prevFile += ".prev";
    if (readFile(prevFile, previous, nullptr, tooLarge) == 0 && !tooLarge) {
        if (auto document = parseRegFile(previous)) {
            snapshot.document = std::move(*document);
        }
    }
    return snapshot;
}

const RegFileDocument& FileRegistryStore::currentDocument() {
    struct stat info {};
    if (m_cacheStamp && ::stat(m_file.c_str(), &info) == 0) {
        const auto stamp = stampOf<FileStamp>(info);
        if (stamp == *m_cacheStamp) {
            return m_cache;
        }
    }
    Snapshot snapshot = readSnapshot();
    if (snapshot.state == Snapshot::State::Good) {
        m_cache = std::move(snapshot.document);
        m_cacheStamp = snapshot.stamp;
        return m_cache;
    }
    m_cacheStamp.reset();
    m_fallback = std::move(snapshot.document);
    return m_fallback;
}

template <typename Change> std::int32_t FileRegistryStore::modify(Change change) {
    const fs::path folder = m_file.parent_path();
    if (const int error = createFolders(folder); error != 0) {
        return codeForErrno(error);
    }
    fs::path lockFile = m_file;
    lockFile += ".lock";
    Fd lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock) {
        return codeForErrno(errno);
    }
    if (const int error = lockExclusive(lock.get(), m_options.lockWait); error != 0) {
        return error == ETIMEDOUT ? regcode::Timeout : codeForErrno(error);
    }

    Snapshot snapshot = readSnapshot();
    if (snapshot.state == Snapshot::State::Unreadable) {
        // Not provably damaged (permissions, I/O error): leave it alone rather than replace it.
        return codeForErrno(snapshot.error, kReadFault);
    }
    RegFileDocument document = snapshot.document;
    const std::int32_t code = change(document);
    if (code == kNothingToWrite) {
        return regcode::Success;
    }
    if (code != regcode::Success) {
        return code;
    }
    return commit(snapshot, document);
}

std::int32_t FileRegistryStore::commit(const Snapshot& snapshot, const RegFileDocument& document) {
    const std::string text = serializeRegFile(document);
    if (!parseRegFile(text)) {
        // Never replace the file with one that could not be read back.
        return regcode::InvalidParameter;
    }
    const fs::path folder = m_file.parent_path();
    const std::string base = m_file.filename().string();
    const std::string tempPrefix = base + ".tmp-";

    // Temporary files are only made under the lock, so any found now were left by a writer
    // that was killed.
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::string_view(entry->d_name).substr(0, tempPrefix.size()) == tempPrefix) {
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
            }
        }
        ::closedir(dir);
    }

    fs::path temporary;
    if (const int error = writeTemporary(folder, tempPrefix, text, temporary); error != 0) {
        return codeForErrno(error);
    }
    const auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return codeForErrno(error);
    };

    if (snapshot.state == Snapshot::State::Good) {
        // Keep the generation being replaced; user.reg itself stays in place until the final
        // rename, so a crash at any point leaves a complete file under its name.
        fs::path prev = m_file;
        prev += ".prev";
        fs::path prevTemp = folder / (tempPrefix + "prev");
        ::unlink(prevTemp.c_str());
        int error = 0;
        if (::link(m_file.c_str(), prevTemp.c_str()) != 0) {
            // No hard links here: write a copy of what was read instead.
            error = writeTemporary(folder, tempPrefix, snapshot.bytes, prevTemp);
        }
        if (error == 0 && ::rename(prevTemp.c_str(), prev.c_str()) != 0) {
            error = errno;
        }
        // rename() leaves both names in place when .prev already is this very file (a writer
        // killed after refreshing it), so drop the temporary name in every case.
        ::unlink(prevTemp.c_str());
        if (error != 0) {
            return fail(error);
        }
    } else if (snapshot.state == Snapshot::State::Damaged) {
        // Keep the damaged file for inspection under a name that says what happened.
        const std::string stamp = utcStamp();
        int error = EEXIST;
        for (int attempt = 1; attempt < 1000 && error == EEXIST; ++attempt) {
            fs::path aside = m_file;
            aside += ".damaged-" + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : "");
            if (::link(m_file.c_str(), aside.c_str()) == 0) {
                error = 0;
            } else if (errno == EEXIST) {
                error = EEXIST;
            } else if (::renameat2(AT_FDCWD, m_file.c_str(), AT_FDCWD, aside.c_str(),
                                   RENAME_NOREPLACE) == 0) {
                error = 0;
            } else {
                error = errno;
            }
        }
        if (error != 0) {
            return fail(error);
        }
    }

    if (::rename(temporary.c_str(), m_file.c_str()) != 0) {
        return fail(errno);
    }
    if (const int error = syncFolder(folder); error != 0) {
        return codeForErrno(error);
    }
    struct stat info {};
    if (::stat(m_file.c_str(), &info) == 0) {
        m_cache = document;
        m_cacheStamp = stampOf<FileStamp>(info);
    }
    return regcode::Success;
}

std::int32_t FileRegistryStore::openKey(RegHandle root, const std::string& path, RegHandle& key) {
    return guarded([&] {
        std::string base;
        if (const auto code = resolve(root, base); code != regcode::Success) {
            return code;
        }
        if (!isStorableKeyPath(path)) {
            return regcode::FileNotFound;
        }
        std::string full = joinPath(base, path);
        if (!anyKeyExists(currentDocument(), full)) {
            return regcode::FileNotFound;
        }
        key = m_nextHandle++;
        m_handles.emplace(key, std::move(full));
        return regcode::Success;
    });
}

std::int32_t FileRegistryStore::createKey(RegHandle root, const std::string& path, RegHandle& key) {
    return guarded([&] {
        std::string base;
        if (const auto code = resolve(root, base); code != regcode::Success) {
            return code;
        }
        if (!isStorableKeyPath(path)) {
            return regcode::InvalidParameter;
        }
        std::string full = joinPath(base, path);
        if (!anyKeyExists(currentDocument(), full)) {
            const std::int32_t code = modify([&](RegFileDocument& document) {
                if (anyKeyExists(document, full)) {
                    return kNothingToWrite;
                }
                ensureKey(document, full);
                return regcode::Success;
            });
            if (code != regcode::Success) {
                return code;
            }
        }
        key = m_nextHandle++;
        m_handles.emplace(key, std::move(full));
        return regcode::Success;
    });
}

std::int32_t FileRegistryStore::queryValue(RegHandle key, const std::string& name,
                                           std::uint32_t& type, std::uint8_t* data,
                                           std::uint32_t& size) {
    return guarded([&] {
        std::string path;
        if (const auto code = resolve(key, path); code != regcode::Success) {
            return code;
        }
        if (isRunKey(path)) {
            return queryRunValue(name, type, data, size);
        }
        const RegFileKey* found = findKey(currentDocument(), path);
        const RegFileValue* value = found != nullptr ? findValue(*found, name) : nullptr;
        if (value == nullptr) {
            return regcode::FileNotFound;
        }
        return fillQuery(value->type, value->data, type, data, size);
    });
}

std::int32_t FileRegistryStore::setValue(RegHandle key, const std::string& name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
    return guarded([&] {
        std::string path;
        if (const auto code = resolve(key, path); code != regcode::Success) {
            return code;
        }
        if (data == nullptr && size != 0) {
            return regcode::InvalidParameter;
        }
        if (isRunKey(path)) {
            return setRunValue(name, type, data, size);
        }
        if (!isStorableValueName(name)) {
            return regcode::InvalidParameter;
        }
        std::vector<std::uint8_t> bytes(data, data + size);
        return modify([&](RegFileDocument& document) {
            ensureKey(document, path);
            RegFileKey& target = *findKey(document, path);
            if (RegFileValue* existing = findValue(target, name)) {
                if (existing->type == type && existing->data == bytes) {
                    return kNothingToWrite;
                }
                existing->type = type;
                existing->data = std::move(bytes);
            } else {
                target.values.push_back(RegFileValue{name, type, std::move(bytes)});
            }
            return regcode::Success;
        });
    });
}

std::int32_t FileRegistryStore::deleteValue(RegHandle key, const std::string& name) {
    return guarded([&] {
        std::string path;
        if (const auto code = resolve(key, path); code != regcode::Success) {
            return code;
        }
        if (isRunKey(path)) {
            return deleteRunValue(name);
        }
        const RegFileKey* found = findKey(currentDocument(), path);
        if (found == nullptr || findValue(*found, name) == nullptr) {
            return regcode::FileNotFound;
        }
        return modify([&](RegFileDocument& document) {
            RegFileKey* target = findKey(document, path);
            const RegFileValue* value = target != nullptr ? findValue(*target, name) : nullptr;
            if (value == nullptr) {
                return regcode::FileNotFound;
            }
            target->values.erase(target->values.begin() + (value - target->values.data()));
            return regcode::Success;
        });
    });
}

std::int32_t FileRegistryStore::closeKey(RegHandle key) {
    if (key == HKEY_CURRENT_USER_) {
        return regcode::Success;
    }
    return m_handles.erase(key) == 1 ? regcode::Success : regcode::InvalidHandle;
}

std::optional<fs::path> FileRegistryStore::findRunEntry(const std::string& name) const {
    DIR* dir = ::opendir(m_autostart.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::optional<fs::path> match;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (file.size() <= kDesktopSuffix.size() ||
            file.substr(file.size() - kDesktopSuffix.size()) != kDesktopSuffix) {
            continue;
        }
        const std::string_view stem = file.substr(0, file.size() - kDesktopSuffix.size());
        if (stem == name) {
            match = m_autostart / file;
            break;
        }
        if (!match && sameName(stem, name)) {
            match = m_autostart / file;
        }
    }
    ::closedir(dir);
    return match;
}

std::int32_t FileRegistryStore::queryRunValue(const std::string& name, std::uint32_t& type,
                                              std::uint8_t* data, std::uint32_t& size) {
    if (!isSafeEntryName(name)) {
        return regcode::FileNotFound;
    }
    const auto file = findRunEntry(name);
    if (!file) {
        return regcode::FileNotFound;
    }
    Fd fd(::open(file->c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return errno == ENOENT ? regcode::FileNotFound : codeForErrno(errno, kReadFault);
    }
    std::string text;
    bool tooLarge = false;
    if (const int error = readWhole(fd.get(), kMaxEntryBytes, text, tooLarge); error != 0) {
        return codeForErrno(error, kReadFault);
    }
    const auto command = tooLarge ? std::nullopt : desktopEntryCommand(text);
    if (!command) {
        return regcode::FileNotFound;
    }
    std::vector<std::uint8_t> bytes(command->begin(), command->end());
    bytes.push_back(0);
    return fillQuery(REG_SZ_, bytes, type, data, size);
}

std::int32_t FileRegistryStore::setRunValue(const std::string& name, std::uint32_t type,
                                            const std::uint8_t* data, std::uint32_t size) {
    if (type != REG_SZ_ || !isSafeEntryName(name)) {
        return regcode::InvalidParameter;
    }
    std::string_view command(reinterpret_cast<const char*>(data), size);
    command = command.substr(0, command.find('\0'));
    if (!isStorableValueName(command)) {
        return regcode::InvalidParameter;
    }
    if (const int error = createFolders(m_autostart); error != 0) {
        return codeForErrno(error);
    }
    const auto existing = findRunEntry(name);
    // An entry found under another spelling keeps its name.
    const fs::path target =
        existing ? *existing : m_autostart / (name + std::string(kDesktopSuffix));
    const std::string stem = target.stem().string();

    fs::path temporary;
    // Hidden and without the .desktop ending, so no session picks up a half-written entry.
    if (const int error = writeTemporary(m_autostart, ".pellamark-autostart.tmp-",
                                         desktopEntryText(stem, command), temporary);
        error != 0) {
        return codeForErrno(error);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return codeForErrno(error);
    }
    if (const int error = syncFolder(m_autostart); error != 0) {
        return codeForErrno(error);
    }
    return regcode::Success;
}

std::int32_t FileRegistryStore::deleteRunValue(const std::string& name) {
    if (!isSafeEntryName(name)) {
        return regcode::InvalidParameter;
    }
    const auto file = findRunEntry(name);
    if (!file) {
        return regcode::FileNotFound;
    }
    if (::unlink(file->c_str()) != 0) {
        return errno == ENOENT ? regcode::FileNotFound : codeForErrno(errno);
    }
    if (const int error = syncFolder(m_autostart); error != 0) {
        return codeForErrno(error);
    }
    return regcode::Success;
}

UserRegistryLocations userRegistryLocations(const char* xdgConfigHome, const char* home) {
    fs::path config;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        config = xdgConfigHome;
    } else {
        config = fs::path(home != nullptr ? home : "") / ".config";
    }
    return {config / "pellamark" / "user.reg", config / "autostart"};
}

std::unique_ptr<RegistryStore> makeUserRegistryStore() {
    const char* home = std::getenv("HOME");
    std::string fallbackHome;
    if (home == nullptr || home[0] != '/') {
        // No usable HOME: ask the user database, as a login shell would.
        fallbackHome = "/";
        if (auto* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
            fallbackHome = entry->pw_dir;
        }
        home = fallbackHome.c_str();
    }
    const auto locations = userRegistryLocations(std::getenv("XDG_CONFIG_HOME"), home);
    return std::make_unique<FileRegistryStore>(locations.registryFile, locations.autostartFolder);
}

} // namespace pellamark
