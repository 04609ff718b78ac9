#include "service/http/Input.h"

#include "service/http/Text.h"
#include "service/store/Tags.h"

#include <algorithm>
#include <charconv>

namespace pellamark::service {

namespace {

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

std::optional<std::string> addressProblem(std::string_view url) {
    if (url.empty())
        return "An address is required.";
    if (url.size() > MaxAddressBytes)
        return "The address is longer than " + std::to_string(MaxAddressBytes) + " bytes.";
    if (!isValidUtf8(url))
        return "The address is not valid text.";
    if (std::any_of(url.begin(), url.end(), [](char c) { return c == ' ' || isControl(c); }))
        return "The address must not contain spaces or control characters.";

    const auto colon = url.find(':');
    const std::string_view scheme = url.substr(0, colon);
    if (colon == std::string_view::npos ||
        !(equalsIgnoringCase(scheme, "http") || equalsIgnoringCase(scheme, "https")))
        return "Only http and https addresses can be saved.";
    std::string_view rest = url.substr(colon + 1);
    if (!rest.starts_with("//"))
        return "The address has no host.";
    rest.remove_prefix(2);

    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host;
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return "The address has no host.";
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return "The address has no host.";
            port = after.substr(1);
        }
    } else {
        const auto portColon = authority.find(':');
        host = authority.substr(0, portColon);
        if (portColon != std::string_view::npos)
            port = authority.substr(portColon + 1);
    }
    if (host.empty())
        return "The address has no host.";
    if (!port.empty()) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc{} || end != port.data() + port.size() || value > 65535)
            return "The address has an invalid port.";
    }
    return std::nullopt;
}

std::variant<NewFavourite, std::string> checkNewFavourite(std::string_view title,
                                                          std::string_view url) {
    std::string cleanTitle(title);
    if (!isValidUtf8(cleanTitle))
        return std::string("The title is not valid text.");
    std::replace_if(cleanTitle.begin(), cleanTitle.end(), isControl, ' ');
    cleanTitle = trim(cleanTitle);
    if (cleanTitle.empty())
        return std::string("A title is required.");
    if (utf8Length(cleanTitle) > MaxTitleChars)
        return "The title is longer than " + std::to_string(MaxTitleChars) + " characters.";

    std::string cleanUrl = trim(url);
    if (auto problem = addressProblem(cleanUrl))
        return *problem;
    return NewFavourite{std::move(cleanTitle), std::move(cleanUrl)};
}

std::variant<std::vector<std::string>, std::string> checkTags(std::string_view text) {
    if (!isValidUtf8(text))
        return std::string("The tags are not valid text.");
    auto tags = splitTags(text);
    if (tags.size() > MaxTagsPerFavourite)
        return "A favourite can have at most " + std::to_string(MaxTagsPerFavourite) + " tags.";
    for (const auto& tag : tags)
        if (auto problem = tagProblem(tag))
            return *problem;
    return tags;
}

std::variant<FavouriteFields, std::string> checkFavourite(std::string_view title,
                                                          std::string_view url,
                                                          std::string_view note,
                                                          std::string_view tags) {
    auto checked = checkNewFavourite(title, url);
    if (auto* problem = std::get_if<std::string>(&checked))
        return std::move(*problem);
    auto& favourite = std::get<NewFavourite>(checked);
    if (!isValidUtf8(note))
        return std::string("The note is not valid text.");
    // Line breaks and tabs are the note's own; other control characters would only hide text.
    std::string cleanNote(note);
    std::erase(cleanNote, '\r');
    std::replace_if(
        cleanNote.begin(), cleanNote.end(),
        [](char c) { return isControl(c) && c != '\n' && c != '\t'; }, ' ');
    cleanNote = trim(cleanNote);
    if (utf8Length(cleanNote) > MaxNoteChars)
        return "The note is longer than " + std::to_string(MaxNoteChars) + " characters.";
    auto checkedTags = checkTags(tags);
    if (auto* problem = std::get_if<std::string>(&checkedTags))
        return std::move(*problem);
    return FavouriteFields{std::move(favourite.title), std::move(favourite.url),
                           std::move(cleanNote),
                           std::get<std::vector<std::string>>(std::move(checkedTags))};
}

std::optional<std::string> userIdProblem(std::string_view userId) {
    if (userId.empty())
        return "The address has no user id (userid).";
    if (userId.size() > MaxUserIdBytes)
        return "The user id is too long.";
    if (!isValidUtf8(userId) || std::any_of(userId.begin(), userId.end(), isControl))
        return "The user id is not valid text.";
    return std::nullopt;
}

std::optional<std::int64_t> parseFavouriteId(std::string_view text) {
    std::int64_t value = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value <= 0)
        return std::nullopt;
    return value;
}

} // namespace pellamark::service
