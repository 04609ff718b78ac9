#pragma once

#include "service/store/FavouritesStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pellamark::service {

// A page of favourites and its count as SQL, the same statements for both stores but for how
// each writes a parameter and asks its full-text index.
enum class Dialect { Sqlite, Postgres };

using SqlValue = std::variant<std::string, std::int64_t, double>;

struct SqlText {
    std::string sql;
    std::vector<SqlValue> parameters;
};

struct ListStatements {
    // Columns: id, title, url, created_at, modified_at, note, tags, sort_title, score, and the
    // total for the query; one row more than the page holds when there is a next page. No row
    // at all: the query has none.
    SqlText rows;
    // The order actually used (best match needs a search).
    Order order = Order::Newest;
};

ListStatements listStatements(Dialect dialect, std::string_view userId, const ListQuery& query);

// The word each search entry carries for its owner.
std::string ownerWord(std::string_view userId);

// A search document (searchDocument) as SQLite's full-text index is given it: each word keyed by
// its owner (ownerWord before it), so that a user's search reads the user's own entries only,
// however common a word or a prefix is among everyone's favourites.
std::string ownedDocument(std::string_view owner, std::string_view document);

// The columns of the favourites table, in the order the page statement gives them.
inline constexpr const char* FavouriteColumns =
    "f.id, f.title, f.url, f.created_at, f.modified_at, f.note, f.tags";

// A favourite's tags as the favourites table keeps them (joinTags), back in a list.
std::vector<std::string> splitStoredTags(std::string_view text);

// The key of the page after a row: its id and, by order, its sort title or score.
PageKey pageKeyOf(Order order, std::int64_t id, const std::string& sortTitle, double score);

} // namespace pellamark::service
