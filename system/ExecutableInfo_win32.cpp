#include "system/ExecutableInfo.h"

#include <string>
#include <windows.h>

namespace pellamark {

namespace {

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

} // namespace

ExecutableInfo currentExecutable() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {"Pellamark", {}, {}};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    // The entry is the folder, a backslash, the file name and ".exe"; the folder keeps its
    // trailing backslash only at a drive root, as the platform reports it.
    const auto slash = buffer.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? std::wstring{} : buffer.substr(0, slash);
    std::wstring file = slash == std::wstring::npos ? buffer : buffer.substr(slash + 1);
    if (folder.size() == 2 && folder[1] == L':') {
        folder += L'\\';
    }
    const auto dot = file.find_last_of(L'.');
    const std::wstring stem = dot == std::wstring::npos ? file : file.substr(0, dot);

    ExecutableInfo info;
    info.fileNameWithoutExtension = toUtf8(stem);
    info.folder = toUtf8(folder);
    info.fullPath = toUtf8(folder + L"\\" + stem + L".exe");
    return info;
}

} // namespace pellamark
