#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace pellamark::service {

struct Favourite {
    std::int64_t id = 0;
    std::string title;
    std::string url;
    std::int64_t createdAt = 0;  // seconds since the Unix epoch, UTC
    std::int64_t modifiedAt = 0; // the last edit or change of tags; createdAt until then
    std::string note;
    std::vector<std::string> tags; // as typed
};

// What a person gives for a favourite: already checked (see Input.h).
struct FavouriteFields {
    std::string title;
    std::string url;
    std::string note;
    std::vector<std::string> tags;
};

enum class Order { Newest, Oldest, Title, BestMatch };

// Where a page starts: right after the row with this id and sort key (the title's sort key in
// title order, the match score in best-match order, nothing in date order).
struct PageKey {
    std::int64_t id = 0;
    std::string sortKey;
};

struct ListQuery {
    std::string search;            // every word must match, the last also as a prefix
    std::vector<std::string> tags; // each with what lies below it; all of them must match
    Order order = Order::Newest;   // BestMatch only with a search
    std::optional<PageKey> after;
    std::size_t limit = 100;
};

struct FavouritesPage {
    std::vector<Favourite> favourites;
    std::int64_t total = 0;      // all that match the query, on every page
    std::optional<PageKey> next; // the key of the next page when there is one
};

struct TagCount {
    std::string name; // as first typed (or as last renamed)
    std::int64_t count = 0;
};

// A favourite as a bookmark file brings it: fields already checked, and the file's dates.
struct ImportedFavourite {
    FavouriteFields fields;
    std::optional<std::int64_t> added;    // seconds since the Unix epoch; now when missing
    std::optional<std::int64_t> modified; // seconds; the added date when missing
};

struct ImportCounts {
    std::size_t imported = 0; // new favourites
    // Bookmarks whose address the user had already, or the file gave before: their tags joined
    // that favourite's, the earlier date kept.
    std::size_t merged = 0;
    std::size_t tagsLeftOut = 0; // tags past the bound of a favourite
};

// Hands every favourite to the function, in the order of the file.
using ImportSource = std::function<void(const std::function<void(ImportedFavourite&&)>&)>;

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database cannot be used at the moment (a lost connection, a server restarting or busy);
// the same request may well succeed a little later.
class StoreUnavailable : public StoreError {
public:
    using StoreError::StoreError;
};

// A change that the rules do not allow (too many tags on a favourite); nothing was changed.
class ChangeRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The steps a change is made of, inside one transaction of a store. The rules (what a tag, an
// edit or a rename does to the favourites, the tag counts and the index) are written once, in
// FavouritesStore, over these.
class StoreWriter {
public:
    virtual ~StoreWriter() = default;
    // The row and its search entry; the new id.
    virtual std::int64_t insert(std::string_view userId, const FavouriteFields& fields) = 0;
    // Row and search entry; the modified date becomes now, the creation date stays.
    virtual void update(std::string_view userId, std::int64_t id,
                        const FavouriteFields& fields) = 0;
    virtual void erase(std::int64_t id) = 0;
    // Those of ids that are the user's, locked against other writers until the end.
    virtual std::vector<Favourite> load(std::string_view userId,
                                        const std::vector<std::int64_t>& ids) = 0;
    // The user's favourites with the tag or a tag below it.
    virtual std::vector<std::int64_t> tagged(std::string_view userId, std::string_view key) = 0;
    // Counts the favourite under the tag (made when new), and un-counts it (the tag goes with
    // its last favourite).
    virtual void link(std::string_view userId, std::int64_t id, std::string_view name) = 0;
    virtual void unlink(std::string_view userId, std::int64_t id, std::string_view name) = 0;
    // The name the tag list shows for the tag of that key becomes this spelling.
    virtual void respell(std::string_view userId, std::string_view name) = 0;
    virtual void countFavourites(std::string_view userId, std::int64_t delta) = 0;

    // Steps for many favourites at once, as an import brings them: a few statements (or round
    // trips) for thousands of rows, with the same rows, counts and search entries as the steps
    // above.
    //
    // Every favourite of the user: its id and address, in id order.
    virtual void addresses(std::string_view userId,
                           const std::function<void(std::int64_t, std::string_view)>& each) = 0;
    // insert() for each, with the dates the favourite brings; the new ids in the same order.
    virtual std::vector<std::int64_t>
    insertMany(std::string_view userId, const std::vector<ImportedFavourite>& favourites) = 0;
    // link() for each pair of favourite and tag name.
    virtual void linkMany(std::string_view userId,
                          const std::vector<std::pair<std::int64_t, std::string>>& links) = 0;
    // The creation dates of favourites (id and date) become these.
    virtual void redate(const std::vector<std::pair<std::int64_t, std::int64_t>>& createdAt) = 0;
};

// The favourites of every user. Every implementation keeps the same rules: ids come from the
// database and grow, a write returns only once it is committed, whatever a page lists is
// answered by an index (never by reading a user's whole collection), and a database set up by
// a newer release is refused.
class FavouritesStore {
public:
    // The version of the schema this release writes; each store records it in the database.
    static constexpr int SchemaVersion = 3;

    virtual ~FavouritesStore() = default;

    // The new favourite's id.
    std::int64_t add(std::string_view userId, const FavouriteFields& fields);
    std::int64_t add(std::string_view userId, std::string_view title, std::string_view url);
    // False when the user has no favourite with that id (also when it belongs to someone else).
    bool edit(std::string_view userId, std::int64_t id, const FavouriteFields& fields);
    bool remove(std::string_view userId, std::int64_t id);
    // Several at once: all of them, or nothing when one is not the user's (then nothing).
    std::optional<std::size_t> remove(std::string_view userId,
                                      const std::vector<std::int64_t>& ids);
    // Favourites that changed, or nothing when an id is not the user's (then nothing changed).
    std::optional<std::size_t> tag(std::string_view userId, const std::vector<std::int64_t>& ids,
                                   const std::vector<std::string>& tags);
    std::optional<std::size_t> untag(std::string_view userId, const std::vector<std::int64_t>& ids,
                                     const std::vector<std::string>& tags);
    // The tag and everything below it, on every favourite; the favourites that changed. A
    // rename onto a tag that is there already merges the two.
    std::size_t renameTag(std::string_view userId, std::string_view from, std::string_view to);
    std::size_t removeTag(std::string_view userId, std::string_view tag);
    // Every favourite the source hands over, in one transaction: all of them or, when the
    // source or the store throws, none. An address the user has already (or that came before
    // in the source) makes no new favourite: its tags are added to that one's and the earlier
    // creation date is kept.
    ImportCounts importFavourites(std::string_view userId, const ImportSource& source);

    virtual FavouritesPage list(std::string_view userId, const ListQuery& query) = 0;
    // A page and the user's tags (as tags() gives them), as the favourites page shows them:
    // where the store can, in one trip to the database.
    virtual FavouritesPage listWithTags(std::string_view userId, const ListQuery& query,
                                        std::vector<TagCount>& tags);
    // Every favourite of the user, newest first.
    std::vector<Favourite> list(std::string_view userId);
    virtual std::optional<Favourite> find(std::string_view userId, std::int64_t id) = 0;
    // The user's tags in key order (so a tag's subtree follows it), with how many favourites
    // have each.
    virtual std::vector<TagCount> tags(std::string_view userId) = 0;
    virtual std::int64_t count(std::string_view userId) = 0;

protected:
    // Runs the change in one transaction, committed when it returns, rolled back when it throws.
    virtual void change(const std::function<void(StoreWriter&)>& steps) = 0;
    // After a change of many rows: lets the database plan its queries for the new sizes.
    virtual void refreshStatistics() {}
};

// Where the favourites are kept: a SQLite database in a folder, or a PostgreSQL database named by
// a libpq connection string (URI or keyword/value form).
struct StoreLocation {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    std::filesystem::path folder;
    std::string connection;

    static StoreLocation sqlite(std::filesystem::path folder) {
        return {Kind::Sqlite, std::move(folder), {}};
    }
    static StoreLocation postgres(std::string connection) {
        return {Kind::Postgres, {}, std::move(connection)};
    }
};

// "sqlite:DIR", "postgresql://..." or "postgres://...", or a libpq keyword/value string such as
// "host=/run/postgresql dbname=favourites". A password in the text is refused: a command line
// is visible to every user of the machine.
std::variant<StoreLocation, std::string> parseStoreLocation(const std::string& text);

// Opens the store, setting up or upgrading its schema. connections bounds how many database
// connections a PostgreSQL store opens at once. Throws StoreError when it cannot.
std::unique_ptr<FavouritesStore> openStore(const StoreLocation& location, std::size_t connections);

} // namespace pellamark::service
