#include "settings/FileRegistryStore.h"

#include "settings/FileFailure.h"
#include "settings/StoreGenerations.h"
#include "system/DurableFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pellamark {

namespace fs = std::filesystem;

namespace {

// Anything larger is not a file this program wrote; treat it as damage instead of reading it.
constexpr std::size_t MaxRegistryBytes = 64u << 20;

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

bool anyKeyExists(const RegFileDocument& document, std::string_view path) {
    return isRunKey(path) || isAboveRunKey(path) || keyExists(document, path);
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
    : m_file(std::move(registryFile)), m_run(std::move(autostartFolder)), m_options(options) {}

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
                             bool& tooLarge, bool& notRegular) -> int {
        Fd fd;
        struct stat info {};
        if (const int error = openRegularFile(file, fd, info, notRegular); error != 0) {
            return error;
        }
        if (stamp != nullptr) {
            *stamp = stampOf<FileStamp>(info);
        }
        return readWhole(fd.get(), MaxRegistryBytes, bytes, tooLarge);
    };

    bool tooLarge = false;
    const int error =
        readFile(m_file, snapshot.bytes, &snapshot.stamp, tooLarge, snapshot.notRegular);
    if (error == ENOENT || error == ENOTDIR) {
        snapshot.state = Snapshot::State::Missing;
    } else if (error != 0) {
        snapshot.state = Snapshot::State::Unreadable;
        snapshot.error = error;
    } else if (auto document = tooLarge ? std::nullopt : parseRegFile(snapshot.bytes)) {
        snapshot.state = Snapshot::State::Good;
        snapshot.document = std::move(*document);
        return snapshot;
    } else {
        snapshot.state = Snapshot::State::Damaged;
    }

    // The current generation is gone or cannot be used: go on from the one before it, if that is
    // sound, so the user keeps their profile. A write then makes it the current one again.
    std::string previous;
    fs::path prevFile = m_file;
    prevFile += ".prev";
    bool prevNotRegular = false;
    if (readFile(prevFile, previous, nullptr, tooLarge, prevNotRegular) == 0 && !tooLarge) {
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

std::int32_t FileRegistryStore::fail(int error, FileFailure::About about, const fs::path& path,
                                     std::int32_t otherwise) {
    m_lastWriteFailure = describeFileFailure(FileFailure{error, about, path});
    return codeForErrno(error, otherwise);
}

std::int32_t FileRegistryStore::runKeyWrite(std::int32_t code) {
    if (code != regcode::Success && m_run.lastFailure()) {
        m_lastWriteFailure = describeFileFailure(*m_run.lastFailure());
    }
    return code;
}

template <typename Change> std::int32_t FileRegistryStore::modify(Change change) {
    const fs::path folder = m_file.parent_path();
    fs::path failedAt = folder;
    if (const int error = createFolders(folder, &failedAt); error != 0) {
        return fail(error, FileFailure::About::Folder, failedAt);
    }
    fs::path lockFile = m_file;
    lockFile += ".lock";
    Fd lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600));
    if (!lock) {
        const int error = errno;
        // A lock file that exists is the one in the way; else it could not be made in the folder.
        struct stat info {};
        const bool exists = ::lstat(lockFile.c_str(), &info) == 0;
        return fail(error, exists ? FileFailure::About::File : FileFailure::About::Folder,
                    exists ? lockFile : folder);
    }
    if (const int error = lockExclusive(lock.get(), m_options.lockWait); error != 0) {
        const bool busy = error == ETIMEDOUT;
        return fail(error, FileFailure::About::File, busy ? m_file : lockFile,
                    busy ? regcode::Timeout : regcode::WriteFault);
    }

    Snapshot snapshot = readSnapshot();
    if (snapshot.state == Snapshot::State::Unreadable) {
        // Not provably damaged (permissions, I/O error, not a file): leave it alone rather than
        // replace it.
        if (snapshot.notRegular) {
            fail(snapshot.error, FileFailure::About::NotARegularFile, m_file);
            return regcode::ReadFault;
        }
        return fail(snapshot.error, FileFailure::About::File, m_file, regcode::ReadFault);
    }
    RegFileDocument document = snapshot.document;
    const std::optional<std::int32_t> code = change(document);
    if (!code) {
        return regcode::Success;
    }
    if (*code != regcode::Success) {
        return *code;
    }
    return commit(snapshot, document);
}

std::int32_t FileRegistryStore::commit(const Snapshot& snapshot, const RegFileDocument& document) {
    const std::string text = serializeRegFile(document);
    if (!parseRegFile(text)) {
        // Never replace the file with one that could not be read back.
        return regcode::InvalidParameter;
    }
    fs::path target;
    if (const int error = resolveLinks(m_file, target); error != 0) {
        return fail(error, FileFailure::About::File, m_file);
    }
    // The new text is made in the folder of the file it replaces, so the rename is atomic even
    // when that file is a link's target elsewhere.
    const fs::path folder = m_file.parent_path();
    const fs::path targetFolder = target.parent_path();
    const std::string tempPrefix = m_file.filename().string() + ".tmp-";
    const std::string targetPrefix = target.filename().string() + ".tmp-";
    removeAbandonedTemporaries(folder, tempPrefix);
    if (targetFolder != folder) {
        removeAbandonedTemporaries(targetFolder, targetPrefix);
    }

    fs::path temporary;
    if (const int error = writeTemporary(targetFolder, targetPrefix, text, temporary); error != 0) {
        return fail(error, FileFailure::About::Folder, targetFolder);
    }
    int error = 0;
    fs::path failedIn = folder;
    if (snapshot.state == Snapshot::State::Good) {
        error = keepPreviousGeneration(m_file, target, tempPrefix, snapshot.bytes);
    } else if (snapshot.state == Snapshot::State::Damaged) {
        // Kept beside the damaged file itself: moving it is a rename in its own folder.
        error = moveDamagedFileAside(target);
        failedIn = targetFolder;
    }
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        failedIn = targetFolder;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return fail(error, FileFailure::About::Folder, failedIn);
    }
    if (const int syncError = syncFolder(targetFolder); syncError != 0) {
        return fail(syncError, FileFailure::About::Folder, targetFolder);
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
    m_lastWriteFailure.clear();
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
            const std::int32_t code =
                modify([&](RegFileDocument& document) -> std::optional<std::int32_t> {
                    if (anyKeyExists(document, full)) {
                        return std::nullopt;
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
            return m_run.queryValue(name, type, data, size);
        }
        const RegFileKey* found = findKey(currentDocument(), path);
        const RegFileValue* value = found != nullptr ? findValue(*found, name) : nullptr;
        if (value == nullptr) {
            return regcode::FileNotFound;
        }
        return answerQuery(value->type, value->data.data(), value->data.size(), type, data, size);
    });
}

std::int32_t FileRegistryStore::setValue(RegHandle key, const std::string& name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
    m_lastWriteFailure.clear();
    return guarded([&] {
        std::string path;
        if (const auto code = resolve(key, path); code != regcode::Success) {
            return code;
        }
        if (data == nullptr && size != 0) {
            return regcode::InvalidParameter;
        }
        if (isRunKey(path)) {
            return runKeyWrite(m_run.setValue(name, type, data, size));
        }
        if (!isStorableValueName(name)) {
            return regcode::InvalidParameter;
        }
        std::vector<std::uint8_t> bytes(data, data + size);
        return modify([&](RegFileDocument& document) -> std::optional<std::int32_t> {
            ensureKey(document, path);
            RegFileKey& target = *findKey(document, path);
            if (RegFileValue* existing = findValue(target, name)) {
                if (existing->type == type && existing->data == bytes) {
                    return std::nullopt;
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
    m_lastWriteFailure.clear();
    return guarded([&] {
        std::string path;
        if (const auto code = resolve(key, path); code != regcode::Success) {
            return code;
        }
        if (isRunKey(path)) {
            return runKeyWrite(m_run.deleteValue(name));
        }
        const RegFileKey* found = findKey(currentDocument(), path);
        if (found == nullptr || findValue(*found, name) == nullptr) {
            return regcode::FileNotFound;
        }
        return modify([&](RegFileDocument& document) -> std::optional<std::int32_t> {
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

} // namespace pellamark
