// The registry of the current user through the advapi32 ANSI entry points.

#include "settings/RegistryStore.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark {

namespace {

// Converts between code pages through UTF-16. Nullopt when the text is not valid in the source
// code page or cannot be written exactly in the target one: a name or text turned into question
// marks would silently address or store something else.
std::optional<std::string> convert(std::string_view text, UINT from, UINT to) {
    if (text.empty()) {
        return std::string();
    }
    const DWORD strict = from == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int wide =
        ::MultiByteToWideChar(from, strict, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) {
        return std::nullopt;
    }
    std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(from, strict, text.data(), static_cast<int>(text.size()), utf16.data(),
                          wide);
    BOOL lossy = FALSE;
    BOOL* lossyFlag = to == CP_UTF8 ? nullptr : &lossy;
    const int bytes =
        ::WideCharToMultiByte(to, 0, utf16.data(), wide, nullptr, 0, nullptr, lossyFlag);
    if (bytes <= 0 || lossy) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(to, 0, utf16.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::optional<std::string> toAnsi(std::string_view utf8) {
    return convert(utf8, CP_UTF8, CP_ACP);
}
std::optional<std::string> fromAnsi(std::string_view ansi) {
    return convert(ansi, CP_ACP, CP_UTF8);
}

HKEY toHkey(RegHandle handle) {
    // The predefined roots are negative 32-bit values; widen them the way windows.h does.
    if (handle >= 0x80000000u && handle <= 0x80000006u) {
        return reinterpret_cast<HKEY>(
            static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(handle))));
    }
    return reinterpret_cast<HKEY>(handle);
}

class Win32RegistryStore final : public RegistryStore {
public:
    std::int32_t openKey(RegHandle root, const std::string& path, RegHandle& key) override {
        const auto ansiPath = toAnsi(path);
        if (!ansiPath) {
            return regcode::FileNotFound;
        }
        HKEY opened = nullptr;
        const LONG code = ::RegOpenKeyA(toHkey(root), ansiPath->c_str(), &opened);
        if (code == ERROR_SUCCESS) {
            key = reinterpret_cast<RegHandle>(opened);
        }
        return code;
    }

    std::int32_t createKey(RegHandle root, const std::string& path, RegHandle& key) override {
        const auto ansiPath = toAnsi(path);
        if (!ansiPath) {
            return regcode::InvalidParameter;
        }
        HKEY created = nullptr;
        const LONG code = ::RegCreateKeyA(toHkey(root), ansiPath->c_str(), &created);
        if (code == ERROR_SUCCESS) {
            key = reinterpret_cast<RegHandle>(created);
        }
        return code;
    }

    std::int32_t queryValue(RegHandle key, const std::string& name, std::uint32_t& type,
                            std::uint8_t* data, std::uint32_t& size) override {
        const auto ansiName = toAnsi(name);
        if (!ansiName) {
            return regcode::FileNotFound;
        }
        DWORD storedType = 0;
        DWORD storedSize = 0;
        LONG code = ::RegQueryValueExA(toHkey(key), ansiName->c_str(), nullptr, &storedType,
                                       nullptr, &storedSize);
        if (code != ERROR_SUCCESS) {
            return code;
        }
        if (storedType != REG_SZ) {
            // Everything but text passes through as the registry stores it.
            DWORD inOut = size;
            DWORD passType = 0;
            code = ::RegQueryValueExA(toHkey(key), ansiName->c_str(), nullptr, &passType, data,
                                      data == nullptr ? &storedSize : &inOut);
            if (code == ERROR_SUCCESS || code == ERROR_MORE_DATA) {
                type = passType;
                size = data == nullptr ? storedSize : inOut;
            }
            return code;
        }

        // Text is read whole, converted, and then measured against the caller's buffer, so
        // the sizes reported are those of the UTF-8 form the caller gets.
        std::vector<std::uint8_t> raw;
        do {
            raw.resize(storedSize);
            DWORD got = storedSize;
            code = ::RegQueryValueExA(toHkey(key), ansiName->c_str(), nullptr, &storedType,
                                      raw.empty() ? nullptr : raw.data(), &got);
            storedSize = got;
        } while (code == ERROR_MORE_DATA);
        if (code != ERROR_SUCCESS) {
            return code;
        }
        raw.resize(storedSize);
        const auto text =
            fromAnsi(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
        if (!text) {
            return regcode::InvalidParameter;
        }
        return answerQuery(REG_SZ_, reinterpret_cast<const std::uint8_t*>(text->data()),
                           text->size(), type, data, size);
    }

    std::int32_t setValue(RegHandle key, const std::string& name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) override {
        const auto ansiName = toAnsi(name);
        if (!ansiName || (data == nullptr && size != 0)) {
            return regcode::InvalidParameter;
        }
        if (type != REG_SZ_) {
            return ::RegSetValueExA(toHkey(key), ansiName->c_str(), 0, type, data, size);
        }
        // The NUL bytes convert as they are, so the stored size keeps counting the terminator.
        const auto text = toAnsi(std::string_view(reinterpret_cast<const char*>(data), size));
        if (!text) {
            return regcode::InvalidParameter;
        }
        return ::RegSetValueExA(toHkey(key), ansiName->c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(text->data()),
                                static_cast<DWORD>(text->size()));
    }

    std::int32_t deleteValue(RegHandle key, const std::string& name) override {
        const auto ansiName = toAnsi(name);
        if (!ansiName) {
            return regcode::FileNotFound;
        }
        return ::RegDeleteValueA(toHkey(key), ansiName->c_str());
    }

    std::int32_t closeKey(RegHandle key) override { return ::RegCloseKey(toHkey(key)); }
};

} // namespace

std::unique_ptr<RegistryStore> makeUserRegistryStore() {
    return std::make_unique<Win32RegistryStore>();
}

} // namespace pellamark
