#include "service/store/Tags.h"

#include "service/store/Folding.h"

#include <algorithm>

namespace pellamark::service {

std::optional<std::string> tagProblem(std::string_view tag) {
    if (tag.empty())
        return "A tag is empty.";
    const auto codePoints = decodeUtf8(tag);
    if (codePoints.size() > MaxTagChars)
        return "The tag " + std::string(tag.substr(0, 80)) + " is longer than " +
               std::to_string(MaxTagChars) + " characters.";
    for (char32_t c : codePoints) {
        const bool allowed =
            isWordCodePoint(c) || c == '-' || c == '_' || c == '.' || c == '+' || c == '/';
        if (!allowed || (c >= 0x80 && c < 0xC0))
            return "The tag " + std::string(tag) +
                   " has a character other than letters, digits and - _ . + /";
    }
    if (tag.front() == '/' || tag.back() == '/' || tag.find("//") != std::string_view::npos)
        return "The tag " + std::string(tag) + " has an empty level between its slashes.";
    return std::nullopt;
}

std::vector<std::string> splitTags(std::string_view text) {
    std::vector<std::string> tags;
    std::vector<std::string> keys;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto start = text.find_first_not_of(" \t\r\n,", at);
        if (start == std::string_view::npos)
            break;
        auto end = text.find_first_of(" \t\r\n,", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string tag(text.substr(start, end - start));
        std::string key = tagKey(tag);
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            keys.push_back(std::move(key));
            tags.push_back(std::move(tag));
        }
        at = end;
    }
    return tags;
}

std::string tagKey(std::string_view tag) {
    return foldCase(tag);
}

bool isInSubtree(std::string_view key, std::string_view filterKey) {
    return key == filterKey || (key.size() > filterKey.size() && key.starts_with(filterKey) &&
                                key[filterKey.size()] == '/');
}

std::optional<std::string> renamedTag(std::string_view tag, std::string_view from,
                                      std::string_view to) {
    const std::string key = tagKey(tag);
    const std::string fromKey = tagKey(from);
    if (!isInSubtree(key, fromKey))
        return std::nullopt;
    // The rest keeps its own spelling; only the renamed levels take the new one. Folding never
    // changes the length of ASCII, but may that of other letters, so the rest is found by levels.
    const auto levels = std::count(fromKey.begin(), fromKey.end(), '/') + 1;
    std::size_t cut = 0;
    for (long level = 0; level < levels && cut != std::string_view::npos; ++level)
        cut = tag.find('/', cut == 0 && level == 0 ? 0 : cut + 1);
    if (cut == std::string_view::npos)
        return std::string(to);
    return std::string(to) + std::string(tag.substr(cut));
}

std::string joinTags(const std::vector<std::string>& tags) {
    std::string out;
    for (const auto& tag : tags) {
        if (!out.empty())
            out += ' ';
        out += tag;
    }
    return out;
}

} // namespace pellamark::service
