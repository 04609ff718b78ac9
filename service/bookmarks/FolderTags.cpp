#include "service/bookmarks/FolderTags.h"

#include "service/bookmarks/BookmarkFileReader.h"
#include "service/bookmarks/Unicode.h"

#include <algorithm>

namespace pellamark::service::bookmarks {

namespace {

bool isWordChar(char32_t cp) {
    return cp == '-' || cp == '_' || cp == '.' || cp == '+' || isLetterOrDigit(cp);
}

void addOnce(std::vector<std::string>& tags, std::string tag) {
    if (std::none_of(tags.begin(), tags.end(), [&](const auto& t) { return sameTag(t, tag); }))
        tags.push_back(std::move(tag));
}

} // namespace

bool isValidTag(std::string_view tag) {
    if (tag.empty())
        return false;
    bool segmentEmpty = true;
    std::size_t pos = 0;
    while (pos < tag.size()) {
        const char32_t cp = nextCodePoint(tag, pos);
        if (cp == '/') {
            if (segmentEmpty)
                return false;
            segmentEmpty = true;
        } else if (!isWordChar(cp)) { // U+FFFD, which stands for bytes that are no UTF-8, too
            return false;
        } else {
            segmentEmpty = false;
        }
    }
    return !segmentEmpty;
}

bool sameTag(std::string_view a, std::string_view b) {
    return equalIgnoringCase(a, b);
}

std::string tagSegment(std::string_view name) {
    std::string out;
    bool separator = false;
    std::size_t pos = 0;
    while (pos < name.size()) {
        const std::size_t before = pos;
        const char32_t cp = nextCodePoint(name, pos);
        if (!isWordChar(cp)) {
            separator = true;
            continue;
        }
        if (separator && !out.empty())
            out += '-';
        separator = false;
        out.append(name, before, pos - before);
    }
    return out;
}

std::optional<std::string> tagFromFolders(std::span<const std::string> folders) {
    std::string tag;
    for (const auto& folder : folders) {
        std::string segment = tagSegment(folder);
        if (segment.empty())
            continue;
        if (!tag.empty())
            tag += '/';
        tag += segment;
    }
    if (tag.empty())
        return std::nullopt;
    return tag;
}

std::optional<std::string> tagFromText(std::string_view text) {
    std::vector<std::string> segments;
    while (true) {
        const auto slash = text.find('/');
        segments.emplace_back(text.substr(0, slash));
        if (slash == std::string_view::npos)
            break;
        text.remove_prefix(slash + 1);
    }
    return tagFromFolders(segments);
}

std::vector<std::string> importedTags(const Bookmark& bookmark) {
    const auto folderTag = tagFromFolders(bookmark.folders);
    std::vector<std::string> listed;
    for (const auto& entry : bookmark.tags)
        if (auto tag = tagFromText(entry))
            addOnce(listed, std::move(*tag));
    // TAGS whose first tag with a hierarchy is the folders' tag are the favourite's own list,
    // in its order and spelling (as the writer writes it); otherwise the folders' tag comes first
    // (a browser that sorts the tags keeps the favourite in its folder).
    const auto firstPath = std::find_if(listed.begin(), listed.end(), [](const auto& tag) {
        return tag.find('/') != std::string::npos;
    });
    if (!folderTag || (firstPath != listed.end() && sameTag(*firstPath, *folderTag)))
        return listed;
    std::vector<std::string> tags{*folderTag};
    for (auto& tag : listed)
        addOnce(tags, std::move(tag));
    return tags;
}

std::vector<std::string> folderOf(std::span<const std::string> tags) {
    std::vector<std::string> folders;
    for (const auto& tag : tags) {
        if (tag.find('/') == std::string::npos)
            continue;
        std::string_view rest(tag);
        while (true) {
            const auto slash = rest.find('/');
            if (!rest.substr(0, slash).empty())
                folders.emplace_back(rest.substr(0, slash));
            if (slash == std::string_view::npos)
                break;
            rest.remove_prefix(slash + 1);
        }
        break;
    }
    return folders;
}

std::string folderSortKey(std::span<const std::string> tags) {
    std::string key;
    for (const auto& folder : folderOf(tags)) {
        // Below every character a name can hold, so "a" and its subfolders come before "a-b".
        if (!key.empty())
            key += '\x01';
        std::size_t pos = 0;
        while (pos < folder.size())
            appendUtf8(key, lowerCase(nextCodePoint(folder, pos)));
    }
    return key;
}

} // namespace pellamark::service::bookmarks
