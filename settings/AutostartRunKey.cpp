#include "settings/AutostartRunKey.h"

#include "settings/DesktopEntry.h"
#include "settings/FileFailure.h"
#include "settings/RegName.h"
#include "settings/RegistryStore.h"
#include "system/DurableFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace pellamark {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view DesktopSuffix = ".desktop";
// Anything larger is not an entry this program wrote; it counts as no entry.
constexpr std::size_t MaxEntryBytes = 1u << 20;

// Value names of the Run key become file names: nothing that could leave the folder.
bool isSafeEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
           isStorableValueName(name) && name.size() + DesktopSuffix.size() <= 255;
}

} // namespace

bool isRunKey(std::string_view path) {
    return sameName(path, RunKey);
}

bool isAboveRunKey(std::string_view path) {
    if (path.empty()) {
        return true;
    }
    const std::string folded = foldName(path);
    const std::string run = foldName(RunKey);
    return run.size() > folded.size() && run.compare(0, folded.size(), folded) == 0 &&
           run[folded.size()] == '\\';
}

std::optional<fs::path> AutostartRunKey::findEntry(const std::string& name) const {
    DIR* dir = ::opendir(m_folder.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::optional<fs::path> match;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (file.size() <= DesktopSuffix.size() ||
            file.substr(file.size() - DesktopSuffix.size()) != DesktopSuffix) {
            continue;
        }
        const std::string_view stem = file.substr(0, file.size() - DesktopSuffix.size());
        if (stem == name) {
            match = m_folder / file;
            break;
        }
        if (!match && sameName(stem, name)) {
            match = m_folder / file;
        }
    }
    ::closedir(dir);
    return match;
}

std::int32_t AutostartRunKey::queryValue(const std::string& name, std::uint32_t& type,
                                         std::uint8_t* data, std::uint32_t& size) const {
    if (!isSafeEntryName(name)) {
        return regcode::FileNotFound;
    }
    const auto file = findEntry(name);
    if (!file) {
        return regcode::FileNotFound;
    }
    Fd fd;
    struct stat info {};
    bool notRegular = false;
    if (const int error = openRegularFile(*file, fd, info, notRegular); error != 0) {
        // Something that is not a file is no entry either.
        return error == ENOENT || notRegular ? regcode::FileNotFound
                                             : codeForErrno(error, regcode::ReadFault);
    }
    std::string text;
    bool tooLarge = false;
    if (const int error = readWhole(fd.get(), MaxEntryBytes, text, tooLarge); error != 0) {
        return codeForErrno(error, regcode::ReadFault);
    }
    const auto command = tooLarge ? std::nullopt : desktopEntryCommand(text);
    if (!command) {
        return regcode::FileNotFound;
    }
    std::vector<std::uint8_t> bytes(command->begin(), command->end());
    bytes.push_back(0);
    return answerQuery(REG_SZ_, bytes.data(), bytes.size(), type, data, size);
}

std::int32_t AutostartRunKey::fail(int error, const fs::path& folder) {
    m_lastFailure = FileFailure{error, FileFailure::About::Folder, folder};
    return codeForErrno(error);
}

std::int32_t AutostartRunKey::setValue(const std::string& name, std::uint32_t type,
                                       const std::uint8_t* data, std::uint32_t size) {
    m_lastFailure.reset();
    if (type != REG_SZ_ || !isSafeEntryName(name)) {
        return regcode::InvalidParameter;
    }
    std::string_view command(reinterpret_cast<const char*>(data), size);
    command = command.substr(0, command.find('\0'));
    if (!isStorableValueName(command)) {
        return regcode::InvalidParameter;
    }
    fs::path failedAt = m_folder;
    if (const int error = createFolders(m_folder, &failedAt); error != 0) {
        return fail(error, failedAt);
    }
    const auto existing = findEntry(name);
    // An entry found under another spelling keeps its name.
    const fs::path target = existing ? *existing : m_folder / (name + std::string(DesktopSuffix));
    const std::string stem = target.stem().string();

    fs::path temporary;
    // Hidden and without the .desktop ending, so no session picks up a half-written entry.
    if (const int error = writeTemporary(m_folder, ".pellamark-autostart.tmp-",
                                         desktopEntryText(stem, command), temporary);
        error != 0) {
        return fail(error, m_folder);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return fail(error, m_folder);
    }
    if (const int error = syncFolder(m_folder); error != 0) {
        return fail(error, m_folder);
    }
    return regcode::Success;
}

std::int32_t AutostartRunKey::deleteValue(const std::string& name) {
    m_lastFailure.reset();
    if (!isSafeEntryName(name)) {
        return regcode::InvalidParameter;
    }
    const auto file = findEntry(name);
    if (!file) {
        return regcode::FileNotFound;
    }
    if (::unlink(file->c_str()) != 0) {
        return errno == ENOENT ? regcode::FileNotFound : fail(errno, m_folder);
    }
    if (const int error = syncFolder(m_folder); error != 0) {
        return fail(error, m_folder);
    }
    return regcode::Success;
}

} // namespace pellamark
