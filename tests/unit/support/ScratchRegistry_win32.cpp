#include "ScratchRegistry.h"

#include "settings/RegFileFormat.h"
#include "settings/RegistryStore.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

namespace pellamark::testing {

namespace {

const wchar_t* const ScratchParent = L"Software\\Pellamark tests";

std::string utf8(const std::wstring& wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& text) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

bool lessIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

// The values of `key`, texts as UTF-8 (what the program reads), everything else as stored.
std::vector<RegFileValue> valuesOf(HKEY key) {
    std::vector<RegFileValue> values;
    for (DWORD i = 0;; ++i) {
        std::wstring name(16384, L'\0');
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        name.resize(nameLength);
        std::vector<std::uint8_t> data(size);
        ::RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
        data.resize(size);
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            const std::string text = utf8(std::wstring(
                reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)));
            data.assign(text.begin(), text.end());
        }
        values.push_back({utf8(name), type, std::move(data)});
    }
    std::sort(values.begin(), values.end(), [](const RegFileValue& a, const RegFileValue& b) {
        return lessIgnoringCase(wide(a.name), wide(b.name));
    });
    return values;
}

void exportKey(HKEY key, const std::string& path, RegFileDocument& document) {
    document.keys.push_back({path, valuesOf(key)});
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        std::wstring name(256, L'\0');
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        name.resize(length);
        children.push_back(name);
    }
    std::sort(children.begin(), children.end(), lessIgnoringCase);
    for (const auto& child : children) {
        HKEY opened = nullptr;
        if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
            exportKey(opened, path.empty() ? utf8(child) : path + "\\" + utf8(child), document);
            ::RegCloseKey(opened);
        }
    }
}

} // namespace

struct ScratchRegistry::Place {
    std::wstring path; // below the real HKEY_CURRENT_USER
    HKEY root = nullptr;
};

ScratchRegistry::ScratchRegistry() : m_place(std::make_unique<Place>()) {
    static std::atomic<int> made{0};
    m_place->path = std::wstring(ScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId()) +
                    L"-" + std::to_wstring(++made);
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_place->path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &m_place->root, nullptr) != ERROR_SUCCESS ||
        ::RegOverridePredefKey(HKEY_CURRENT_USER, m_place->root) != ERROR_SUCCESS) {
        throw std::runtime_error("no scratch key in the registry");
    }
    m_store = makeUserRegistryStore();
}

ScratchRegistry::~ScratchRegistry() {
    m_store.reset();
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegCloseKey(m_place->root);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_place->path.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, m_place->path.c_str());
    // Fails while another process's scratch key is still there, as it should.
    ::RegDeleteKeyW(HKEY_CURRENT_USER, ScratchParent);
}

std::string ScratchRegistry::snapshot() const {
    RegFileDocument document;
    exportKey(m_place->root, "", document);
    if (document.keys.size() == 1 && document.keys.front().values.empty()) {
        return {};
    }
    if (document.keys.front().values.empty()) {
        document.keys.erase(document.keys.begin());
    }
    return serializeRegFile(document);
}

bool ScratchRegistry::startsAtLogon(const std::string& name) const {
    HKEY run = nullptr;
    if (::RegOpenKeyExW(m_place->root, wide(RunKey).c_str(), 0, KEY_READ, &run) != ERROR_SUCCESS) {
        return false;
    }
    const bool found = ::RegQueryValueExW(run, wide(name).c_str(), nullptr, nullptr, nullptr,
                                          nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(run);
    return found;
}

} // namespace pellamark::testing
