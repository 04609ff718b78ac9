#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service {

// A tag is a word of letters, digits and "-_.+", kept as typed and matched without regard to
// case; "/" makes a hierarchy ("work/clients/acme"), and a filter on a tag takes in everything
// below it.
inline constexpr std::size_t MaxTagChars = 64;
inline constexpr std::size_t MaxTagsPerFavourite = 20;

// Why a tag cannot be used, or nothing when it can.
std::optional<std::string> tagProblem(std::string_view tag);

// Tags as typed in one field, separated by blanks or commas, in order, each once (the first
// spelling of a tag that comes twice in different case is kept).
std::vector<std::string> splitTags(std::string_view text);

// A tag's identity: its case folded.
std::string tagKey(std::string_view tag);

// Whether the tag is `filter` or lies below it; both as tag keys.
bool isInSubtree(std::string_view key, std::string_view filterKey);

// The tag after renaming `from` (and its subtree) to `to`: "work/acme" under work -> job is
// "job/acme". Nothing when the tag lies outside from's subtree.
std::optional<std::string> renamedTag(std::string_view tag, std::string_view from,
                                      std::string_view to);

// Tags joined by single spaces, as a favourite keeps them.
std::string joinTags(const std::vector<std::string>& tags);

} // namespace pellamark::service
