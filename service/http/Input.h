#pragma once

#include "service/store/FavouritesStore.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pellamark::service {

inline constexpr std::size_t MaxTitleChars = 200;
inline constexpr std::size_t MaxAddressBytes = 2048;
inline constexpr std::size_t MaxUserIdBytes = 128;
inline constexpr std::size_t MaxNoteChars = 4000;
// More than a page shows: a change of several at once names those ticked on one page.
inline constexpr std::size_t MaxIdsPerChange = 500;
// What a search box may hold; beyond it no person is typing.
inline constexpr std::size_t MaxSearchChars = 200;

struct NewFavourite {
    std::string title;
    std::string url;
};

// A favourite as the user typed it, cleaned (blanks trimmed, control characters in the title made
// spaces), or a short explanation of why it cannot be stored.
std::variant<NewFavourite, std::string> checkNewFavourite(std::string_view title,
                                                          std::string_view url);

// A favourite as typed in the add or edit form (tags in one field, separated by blanks or
// commas), cleaned as checkNewFavourite does, the note's line breaks kept; or why not.
std::variant<FavouriteFields, std::string> checkFavourite(std::string_view title,
                                                          std::string_view url,
                                                          std::string_view note,
                                                          std::string_view tags);

// The tags of one field, each checked; or why one cannot be used (also when there are more than
// a favourite may have).
std::variant<std::vector<std::string>, std::string> checkTags(std::string_view text);

// Why an address cannot be stored, or nothing when it can: only absolute http and https addresses
// with a host, so a stored link can never run script or carry a data payload when opened.
std::optional<std::string> addressProblem(std::string_view url);

// Why a user id cannot be used, or nothing when it can.
std::optional<std::string> userIdProblem(std::string_view userId);

// A favourite's id from a form field: a positive decimal number without sign or blanks.
std::optional<std::int64_t> parseFavouriteId(std::string_view text);

} // namespace pellamark::service
