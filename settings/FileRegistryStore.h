#pragma once

#include "settings/AutostartRunKey.h"
#include "settings/FileFailure.h"
#include "settings/RegFileFormat.h"
#include "settings/RegistryStore.h"
#include "system/DurableFile.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace pellamark {

struct FileRegistryStoreOptions {
    // How long a write waits for another process's write to finish before giving up (Timeout).
    std::chrono::milliseconds lockWait{5000};
};

// The registry of one user kept in a text file in the registry export format, with the Run key
// mapped to freedesktop autostart entries.
//
// Beside the file live: <file>.lock (the writers' lock), <file>.prev (the last good generation
// before the current one, read when the file is missing or damaged), <file>.damaged-<UTC time>
// (damaged files moved aside by a write) and, only while a write runs, <file>.tmp-XXXXXX.
// When the file is a symbolic link, writes replace the link's target in the target's own folder
// (where a damaged target is also moved aside) and the link stays.
class FileRegistryStore final : public RegistryStore {
public:
    // Touches nothing on disk: the folders are created by the first write that needs them.
    FileRegistryStore(std::filesystem::path registryFile, std::filesystem::path autostartFolder,
                      FileRegistryStoreOptions options = {});
    ~FileRegistryStore() override;

    std::int32_t openKey(RegHandle root, const std::string& path, RegHandle& key) override;
    std::int32_t createKey(RegHandle root, const std::string& path, RegHandle& key) override;
    std::int32_t queryValue(RegHandle key, const std::string& name, std::uint32_t& type,
                            std::uint8_t* data, std::uint32_t& size) override;
    std::int32_t setValue(RegHandle key, const std::string& name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) override;
    std::int32_t deleteValue(RegHandle key, const std::string& name) override;
    std::int32_t closeKey(RegHandle key) override;
    std::string lastWriteFailure() const override { return m_lastWriteFailure; }

    const std::filesystem::path& registryFile() const { return m_file; }
    const std::filesystem::path& autostartFolder() const { return m_run.folder(); }

private:
    struct FileStamp {
        std::uintmax_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0, ctimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // What a read of the file found.
    struct Snapshot {
        enum class State { Missing, Good, Damaged, Unreadable } state = State::Missing;
        int error = 0;           // errno when Unreadable
        bool notRegular = false; // Unreadable because it is a folder, a FIFO, a device ...
        FileStamp stamp;
        std::string bytes;        // the file as read (Good)
        RegFileDocument document; // the view the calls see (the .prev one when damaged)
    };

    std::int32_t resolve(RegHandle handle, std::string& path) const;
    // The document the calls see now: re-read only when the file changed.
    const RegFileDocument& currentDocument();
    Snapshot readSnapshot() const;

    // Read-modify-write of the file under the lock. `change` edits the document and returns
    // Success when it wants the result written, nullopt when there is nothing to write (the call
    // succeeds), or any other code to give up with, without writing.
    template <typename Change> std::int32_t modify(Change change);
    std::int32_t commit(const Snapshot& snapshot, const RegFileDocument& document);
    // Records why a write failed and returns its code.
    std::int32_t fail(int error, FileFailure::About about, const std::filesystem::path& path,
                      std::int32_t otherwise = regcode::WriteFault);
    // Takes the reason of a failed write to the Run key.
    std::int32_t runKeyWrite(std::int32_t code);

    std::filesystem::path m_file;
    AutostartRunKey m_run;
    FileRegistryStoreOptions m_options;

    std::map<RegHandle, std::string> m_handles; // open handle -> key path
    RegHandle m_nextHandle = 1;

    std::optional<FileStamp> m_cacheStamp;
    RegFileDocument m_cache;
    RegFileDocument m_fallback; // the view while the file is missing, damaged or unreadable
    std::string m_lastWriteFailure;
};

// Where makeUserRegistryStore() keeps the current user's store:
// ${XDG_CONFIG_HOME:-$HOME/.config}/pellamark/user.reg and the autostart folder beside it, from
// the environment as given.
struct UserRegistryLocations {
    std::filesystem::path registryFile;
    std::filesystem::path autostartFolder;
};
UserRegistryLocations userRegistryLocations(const char* xdgConfigHome, const char* home);
// The same from this process's environment, with the home folder from the user database when
// HOME is not usable.
UserRegistryLocations currentUserRegistryLocations();

} // namespace pellamark
