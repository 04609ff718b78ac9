#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service::bookmarks {

struct Bookmark;

// Tags as favourites carry them: one or more segments separated by '/', each a word of letters,
// digits and "-_.+", kept as written and compared without regard to case.
bool isValidTag(std::string_view tag);
bool sameTag(std::string_view a, std::string_view b);

// One folder name as one segment of a tag: blanks and other characters become '-' (a run of
// them one '-', none at the ends); empty when no letter or digit is left.
std::string tagSegment(std::string_view name);

// The tag a folder path becomes ("Work", "Clients", "Acme" -> "Work/Clients/Acme"); folders
// whose names leave nothing are left out, and no tag at all when none is left.
std::optional<std::string> tagFromFolders(std::span<const std::string> folders);

// A TAGS entry as a tag: '/' in it separates segments, each cleaned as a folder name is.
std::optional<std::string> tagFromText(std::string_view text);

// The tags an imported bookmark gets: its folders' tag first, then its TAGS entries, each once.
// When the first TAGS entry with a hierarchy is the folders' tag, the TAGS entries are the list,
// in their order and spelling, so a file written by BookmarkFileWriter gives back its tags
// exactly as written.
std::vector<std::string> importedTags(const Bookmark& bookmark);

// The folders a favourite is written into: the segments of its first tag with a hierarchy.
std::vector<std::string> folderOf(std::span<const std::string> tags);

// What to order favourites by so that the writer makes each folder once: their folders, without
// regard to case, a folder's own favourites and subfolders together.
std::string folderSortKey(std::span<const std::string> tags);

} // namespace pellamark::service::bookmarks
