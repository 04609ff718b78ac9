#include "settings/Profile.h"

#include "base/BuildConfig.h"
#include "base/Messages.h"
#include "base/ServiceAddress.h"
#include "settings/UserId.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace pellamark {

namespace {

std::string text(const RegValue& value) {
    return regValueText(value);
}

} // namespace

Profile::Profile(Registry& registry, GlobalSettings& settings, ExecutableInfo executable,
                 std::string serviceHost)
    : m_registry(registry), m_settings(settings), m_executable(std::move(executable)),
      m_serviceHost(std::move(serviceHost)), m_newUserId(generateUserId) {}

void Profile::setUserIdGenerator(std::function<std::string()> generator) {
    m_newUserId = std::move(generator);
}

void Profile::LoadProfile(ProfileHost& host) {
    if (m_registry.RegKeyExists(HKEY_CURRENT_USER_, ProfileKey)) {
        ReadProfile();
        host.PageAddress(m_settings.FavoritesUrl);
        host.ShowMainWindow();
    } else {
        host.LoadSignUpDialog();
    }
}

void Profile::ReadProfile() {
    m_settings.ProfileUserId = m_registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "UserId");
    m_settings.ProfileEmailAddress =
        m_registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "EmailAddress");
    const RegValue pubId = m_registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "PubId");
    m_settings.ProfileVersion = m_registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "Version");
    // Written as StartUp, read as Startup: the store matches names without regard to case.
    m_settings.ProfileStartup = m_registry.GetRegValue(HKEY_CURRENT_USER_, ProfileKey, "Startup");
    m_settings.ProfilePubId = leadingNumber(text(pubId));
    m_settings.FavoritesUrl = buildFavoritesUrl(m_serviceHost, m_settings);
}

void Profile::requireWritten() const {
    const std::int32_t code = m_registry.LastWriteResult();
    if (code == regcode::Success) {
        return;
    }
    const std::string& reason = m_registry.LastWriteFailure();
    throw ProfileNotSaved(reason.empty() ? storeCodeReason(code) : reason);
}

void Profile::store(const char* path, const std::string& name, const std::string& value) {
    m_registry.SetRegValue(HKEY_CURRENT_USER_, path, name, value);
    requireWritten();
}

void Profile::CreateProfile() {
    const std::string userId = m_newUserId();

    m_registry.CreateRegKey(HKEY_CURRENT_USER_, ProfileParentKey);
    requireWritten();
    m_registry.CreateRegKey(HKEY_CURRENT_USER_, ProfileKey);
    requireWritten();
    store(ProfileKey, "UserId", userId);
    store(ProfileKey, "EmailAddress", m_settings.NewEmailAddress);
    store(ProfileKey, "PubId", "2");
    store(ProfileKey, "Version", std::string(config::ShownVersion));
    store(ProfileKey, "StartUp", "1");
    store(RunKey, m_executable.fileNameWithoutExtension, m_executable.fullPath);
}

void Profile::SaveOptions(ProfileHost& host) {
    if (!trimSpaces(m_settings.NewEmailAddress).empty()) {
        store(ProfileKey, "EmailAddress", m_settings.NewEmailAddress);
    }
    if (m_settings.StartWithWindows) {
        store(ProfileKey, "StartUp", "1");
        store(RunKey, m_executable.fileNameWithoutExtension, m_executable.fullPath);
    } else {
        store(ProfileKey, "StartUp", "0");
        m_registry.DeleteRegValue(HKEY_CURRENT_USER_, RunKey,
                                  m_executable.fileNameWithoutExtension);
        requireWritten();
    }
    ReadProfile();
    host.PageAddress(m_settings.FavoritesUrl);
}

double leadingNumber(std::string_view text) {
    // Blanks before the number are ignored, as is anything after it.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    std::string_view rest = text.substr(i);
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    // from_chars accepts neither a leading '+' nor forms like "inf" or "nan" when limited to
    // fixed/scientific, which is what we want here.
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        return 0.0;
    }
    if (ec != std::errc{} || end == rest.data() || !std::isfinite(value)) {
        return 0.0;
    }
    return negative ? -value : value;
}

std::string shortestDecimal(double value) {
    if (value == 0.0) {
        return "0"; // also for -0
    }
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc{}) {
        return "0";
    }
    return std::string(buffer, end);
}

std::string encodeQueryValue(std::string_view value) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        // What would end the value, start another field, or be read back as something else; and
        // what an address may not carry as it is.
        const bool structural = c == '%' || c == '#' || c == '&' || c == '+' || c == '=' ||
                                c == '?' || c == ' ' || byte < 0x20 || byte >= 0x7f;
        if (structural) {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0f];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string buildFavoritesUrl(std::string_view serviceHost, const GlobalSettings& settings) {
    std::string url = serviceOrigin(serviceHost);
    url += "/app/fav.asp?userid=";
    url += encodeQueryValue(text(settings.ProfileUserId));
    url += "&emailid=";
    url += encodeQueryValue(text(settings.ProfileEmailAddress));
    url += "&pubid=";
    url += encodeQueryValue(shortestDecimal(settings.ProfilePubId));
    url += "&version=";
    url += encodeQueryValue(text(settings.ProfileVersion));
    return url;
}

} // namespace pellamark
