#include "service/store/FavouritesStore.h"

#include "service/store/PostgresStore.h"
#include "service/store/SqliteStore.h"
#include "service/store/Tags.h"

#include <libpq-fe.h>

#include <algorithm>
#include <set>

namespace pellamark::service {

namespace {

using TagRule = std::function<std::vector<std::string>(const std::vector<std::string>&)>;

std::vector<std::int64_t> distinct(std::vector<std::int64_t> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

std::set<std::string> keysOf(const std::vector<std::string>& tags) {
    std::set<std::string> keys;
    for (const auto& tag : tags)
        keys.insert(tagKey(tag));
    return keys;
}

// Tags in order, a key that comes again (a rename onto a tag the favourite has) dropped.
std::vector<std::string> withoutRepeats(const std::vector<std::string>& tags) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& tag : tags)
        if (seen.insert(tagKey(tag)).second)
            out.push_back(tag);
    return out;
}

// Writes the favourite's new state and moves its tag counts along. False when nothing changed.
bool rewrite(StoreWriter& writer, std::string_view userId, const Favourite& old,
             const FavouriteFields& next) {
    if (next.tags.size() > MaxTagsPerFavourite)
        throw ChangeRefused("A favourite can have at most " + std::to_string(MaxTagsPerFavourite) +
                            " tags.");
    if (old.title == next.title && old.url == next.url && old.note == next.note &&
        old.tags == next.tags)
        return false;
    writer.update(userId, old.id, next);
    const auto oldKeys = keysOf(old.tags);
    const auto newKeys = keysOf(next.tags);
    for (const auto& tag : old.tags)
        if (!newKeys.count(tagKey(tag)))
            writer.unlink(userId, old.id, tag);
    for (const auto& tag : next.tags)
        if (!oldKeys.count(tagKey(tag)))
            writer.link(userId, old.id, tag);
    return true;
}

// Gives the favourites new tags by the rule; the number that changed, or nothing when one of
// ids is not the user's.
std::optional<std::size_t> retag(StoreWriter& writer, std::string_view userId,
                                 const std::vector<std::int64_t>& ids, const TagRule& rule) {
    const auto favourites = writer.load(userId, ids);
    if (favourites.size() != ids.size())
        return std::nullopt;
    std::size_t changed = 0;
    for (const auto& favourite : favourites) {
        FavouriteFields next{favourite.title, favourite.url, favourite.note,
                             withoutRepeats(rule(favourite.tags))};
        changed += rewrite(writer, userId, favourite, next);
    }
    return changed;
}

} // namespace

std::int64_t FavouritesStore::add(std::string_view userId, const FavouriteFields& fields) {
    if (fields.tags.size() > MaxTagsPerFavourite)
        throw ChangeRefused("A favourite can have at most " + std::to_string(MaxTagsPerFavourite) +
                            " tags.");
    std::int64_t id = 0;
    change([&](StoreWriter& writer) {
        id = writer.insert(userId, fields);
        for (const auto& tag : withoutRepeats(fields.tags))
            writer.link(userId, id, tag);
        writer.countFavourites(userId, 1);
    });
    return id;
}

std::int64_t FavouritesStore::add(std::string_view userId, std::string_view title,
                                  std::string_view url) {
    return add(userId, FavouriteFields{std::string(title), std::string(url), {}, {}});
}

bool FavouritesStore::edit(std::string_view userId, std::int64_t id,
                           const FavouriteFields& fields) {
    bool found = false;
    change([&](StoreWriter& writer) {
        const auto loaded = writer.load(userId, {id});
        if (loaded.empty())
            return;
        found = true;
        FavouriteFields next = fields;
        next.tags = withoutRepeats(fields.tags);
        rewrite(writer, userId, loaded.front(), next);
    });
    return found;
}

bool FavouritesStore::remove(std::string_view userId, std::int64_t id) {
    return remove(userId, std::vector<std::int64_t>{id}).value_or(0) > 0;
}

std::optional<std::size_t> FavouritesStore::remove(std::string_view userId,
                                                   const std::vector<std::int64_t>& ids) {
    std::optional<std::size_t> removed;
    change([&](StoreWriter& writer) {
        const auto favourites = writer.load(userId, distinct(ids));
        if (favourites.size() != distinct(ids).size())
            return;
        for (const auto& favourite : favourites) {
            for (const auto& tag : favourite.tags)
                writer.unlink(userId, favourite.id, tag);
            writer.erase(favourite.id);
        }
        if (!favourites.empty())
            writer.countFavourites(userId, -static_cast<std::int64_t>(favourites.size()));
        removed = favourites.size();
    });
    return removed;
}

std::optional<std::size_t> FavouritesStore::tag(std::string_view userId,
                                                const std::vector<std::int64_t>& ids,
                                                const std::vector<std::string>& tags) {
    std::optional<std::size_t> changed;
    change([&](StoreWriter& writer) {
        changed = retag(writer, userId, distinct(ids), [&](std::vector<std::string> current) {
            current.insert(current.end(), tags.begin(), tags.end());
            return current;
        });
    });
    return changed;
}

std::optional<std::size_t> FavouritesStore::untag(std::string_view userId,
                                                  const std::vector<std::int64_t>& ids,
                                                  const std::vector<std::string>& tags) {
    const auto gone = keysOf(tags);
    std::optional<std::size_t> changed;
    change([&](StoreWriter& writer) {
        changed = retag(writer, userId, distinct(ids), [&](std::vector<std::string> current) {
            std::erase_if(current, [&](const std::string& tag) { return gone.count(tagKey(tag)); });
            return current;
        });
    });
    return changed;
}

std::size_t FavouritesStore::renameTag(std::string_view userId, std::string_view from,
                                       std::string_view to) {
    std::size_t changed = 0;
    change([&](StoreWriter& writer) {
        std::set<std::string> spellings;
        changed = retag(writer, userId, distinct(writer.tagged(userId, tagKey(from))),
                        [&](std::vector<std::string> current) {
                            for (auto& tag : current)
                                if (auto renamed = renamedTag(tag, from, to)) {
                                    tag = std::move(*renamed);
                                    spellings.insert(tag);
                                }
                            return current;
                        })
                      .value_or(0);
        // A rename that changes only the case changes no favourite's key: the tag list must
        // still show the new spelling.
        for (const auto& spelling : spellings)
            writer.respell(userId, spelling);
    });
    return changed;
}

std::size_t FavouritesStore::removeTag(std::string_view userId, std::string_view tag) {
    const std::string key = tagKey(tag);
    std::size_t changed = 0;
    change([&](StoreWriter& writer) {
        changed = retag(writer, userId, distinct(writer.tagged(userId, key)),
                        [&](std::vector<std::string> current) {
                            std::erase_if(current, [&](const std::string& t) {
                                return isInSubtree(tagKey(t), key);
                            });
                            return current;
                        })
                      .value_or(0);
    });
    return changed;
}

FavouritesPage FavouritesStore::listWithTags(std::string_view userId, const ListQuery& query,
                                             std::vector<TagCount>& tags) {
    auto page = list(userId, query);
    tags = this->tags(userId);
    return page;
}

std::vector<Favourite> FavouritesStore::list(std::string_view userId) {
    std::vector<Favourite> all;
    ListQuery query;
    query.limit = 1000;
    for (;;) {
        auto page = list(userId, query);
        all.insert(all.end(), std::make_move_iterator(page.favourites.begin()),
                   std::make_move_iterator(page.favourites.end()));
        if (!page.next)
            return all;
        query.after = page.next;
    }
}

std::variant<StoreLocation, std::string> parseStoreLocation(const std::string& text) {
    if (text.starts_with("sqlite:")) {
        if (text.size() == 7)
            return std::string("sqlite: needs a folder, as in sqlite:/var/lib/pellamark");
        return StoreLocation::sqlite(text.substr(7));
    }
    const bool uri = text.starts_with("postgresql://") || text.starts_with("postgres://");
    if (!uri && text.find('=') == std::string::npos)
        return "unknown database " + text + ": give sqlite:DIR or a PostgreSQL connection string";

    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
    if (!options) {
        std::string reason = error ? error : "out of memory";
        PQfreemem(error);
        while (!reason.empty() && reason.back() == '\n')
            reason.pop_back();
        return "invalid PostgreSQL connection string: " + reason;
    }
    bool hasPassword = false;
    for (const PQconninfoOption* option = options; option->keyword; ++option)
        if (std::string_view(option->keyword) == "password" && option->val && *option->val)
            hasPassword = true;
    PQconninfoFree(options);
    if (hasPassword)
        return std::string("the database password must not be on the command line, where every "
                           "user of the machine can read it: put it in ~/.pgpass (or the file "
                           "PGPASSFILE names) or in PGPASSWORD");
    return StoreLocation::postgres(text);
}

std::unique_ptr<FavouritesStore> openStore(const StoreLocation& location, std::size_t connections) {
    if (location.kind == StoreLocation::Kind::Postgres)
        return std::make_unique<PostgresStore>(location.connection, connections);
    return std::make_unique<SqliteStore>(location.folder);
}

} // namespace pellamark::service
