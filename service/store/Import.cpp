// Many favourites into one user's collection at once, as a bookmark file brings them: batches of
// new rows through the writer's bulk steps, and merges onto the favourites the user already has.
#include "service/store/FavouritesStore.h"

#include "service/store/Tags.h"

#include <algorithm>
#include <functional>
#include <set>
#include <unordered_map>

namespace pellamark::service {

namespace {

// Rows per bulk step: few round trips, and a batch held in memory stays small.
constexpr std::size_t BatchSize = 1000;
// Imports of at least this many favourites refresh the database's statistics afterwards.
constexpr std::size_t RefreshAfter = 10'000;

std::size_t addressHash(std::string_view url) {
    return std::hash<std::string_view>{}(url);
}

std::optional<std::int64_t> earlier(std::optional<std::int64_t> a, std::optional<std::int64_t> b) {
    if (a && b)
        return std::min(*a, *b);
    return a ? a : b;
}

class Import {
public:
    Import(StoreWriter& writer, std::string_view userId) : m_writer(writer), m_userId(userId) {
        // Only a hash of each address is kept: a user with 100,000 favourites costs a few MB.
        // A hash that matches is checked against the favourite itself before a merge.
        m_writer.addresses(userId, [&](std::int64_t id, std::string_view url) {
            m_known.emplace(addressHash(url), id);
        });
    }

    void add(ImportedFavourite&& favourite) {
        favourite.fields.tags = bounded(std::move(favourite.fields.tags));
        const auto [from, to] = m_known.equal_range(addressHash(favourite.fields.url));
        if (from != to) {
            std::vector<std::int64_t> candidates;
            for (auto it = from; it != to; ++it)
                candidates.push_back(it->second);
            m_merges.push_back({std::move(candidates), std::move(favourite)});
            if (m_merges.size() >= BatchSize)
                flushMerges();
            return;
        }
        addNew(std::move(favourite));
        if (m_new.size() >= BatchSize)
            flushNew();
    }

    ImportCounts finish() {
        flushMerges(); // which may leave a few new ones, whose address only shared a hash
        flushNew();
        if (m_counts.imported > 0)
            m_writer.countFavourites(m_userId, static_cast<std::int64_t>(m_counts.imported));
        return m_counts;
    }

private:
    struct Merge {
        std::vector<std::int64_t> candidates; // favourites whose address has the same hash
        ImportedFavourite favourite;
    };

    // Each tag once, at most as many as a favourite may have.
    std::vector<std::string> bounded(std::vector<std::string> tags) {
        std::vector<std::string> out;
        std::set<std::string> keys;
        for (auto& tag : tags) {
            if (!keys.insert(tagKey(tag)).second)
                continue;
            if (out.size() == MaxTagsPerFavourite) {
                ++m_counts.tagsLeftOut;
                continue;
            }
            out.push_back(std::move(tag));
        }
        return out;
    }

    // The tags of both, each once, bounded.
    std::vector<std::string> joined(std::vector<std::string> tags,
                                    const std::vector<std::string>& more) {
        tags.insert(tags.end(), more.begin(), more.end());
        return bounded(std::move(tags));
    }

    void joinInto(ImportedFavourite& first, ImportedFavourite& again) {
        first.fields.tags = joined(std::move(first.fields.tags), again.fields.tags);
        first.added = earlier(first.added, again.added);
        if (first.fields.note.empty())
            first.fields.note = std::move(again.fields.note);
    }

    void flushNew() {
        if (m_new.empty())
            return;
        const auto ids = m_writer.insertMany(m_userId, m_new);
        if (ids.size() != m_new.size())
            throw StoreError("database: the import lost track of the new favourites");
        std::vector<std::pair<std::int64_t, std::string>> links;
        for (std::size_t i = 0; i < m_new.size(); ++i) {
            for (const auto& tag : m_new[i].fields.tags)
                links.emplace_back(ids[i], tag);
            m_known.emplace(addressHash(m_new[i].fields.url), ids[i]);
        }
        if (!links.empty())
            m_writer.linkMany(m_userId, links);
        m_counts.imported += m_new.size();
        m_new.clear();
        m_pending.clear();
    }

    void flushMerges() {
        if (m_merges.empty())
            return;
        std::vector<std::int64_t> ids;
        for (const auto& merge : m_merges)
            ids.insert(ids.end(), merge.candidates.begin(), merge.candidates.end());
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        std::unordered_map<std::string, Favourite> stored; // by address, the earliest id first
        for (auto& favourite : m_writer.load(m_userId, ids))
            stored.try_emplace(favourite.url, std::move(favourite));

        // Each favourite merged onto is rewritten once, with everything the batch brings it.
        std::vector<std::pair<const Favourite*, Favourite>> changed;
        std::unordered_map<std::int64_t, std::size_t> changedAt;
        std::vector<ImportedFavourite> unmatched;
        for (auto& merge : m_merges) {
            const auto found = stored.find(merge.favourite.fields.url);
            if (found == stored.end()) {
                unmatched.push_back(std::move(merge.favourite)); // only the hash was the same
                continue;
            }
            ++m_counts.merged;
            const Favourite& old = found->second;
            auto [at, fresh] = changedAt.try_emplace(old.id, changed.size());
            if (fresh)
                changed.emplace_back(&old, old);
            Favourite& next = changed[at->second].second;
            next.tags = joined(std::move(next.tags), merge.favourite.fields.tags);
            if (merge.favourite.added)
                next.createdAt = std::min(next.createdAt, *merge.favourite.added);
        }
        m_merges.clear();

        std::vector<std::pair<std::int64_t, std::int64_t>> redated;
        std::vector<std::pair<std::int64_t, std::string>> links;
        for (const auto& [old, next] : changed) {
            if (next.createdAt < old->createdAt)
                redated.emplace_back(old->id, next.createdAt);
            if (next.tags.size() == old->tags.size())
                continue; // tags are only ever added here
            m_writer.update(m_userId, old->id,
                            FavouriteFields{old->title, old->url, old->note, next.tags});
            for (std::size_t i = old->tags.size(); i < next.tags.size(); ++i)
                links.emplace_back(old->id, next.tags[i]);
        }
        if (!links.empty())
            m_writer.linkMany(m_userId, links);
        if (!redated.empty())
            m_writer.redate(redated);
        for (auto& favourite : unmatched)
            addNew(std::move(favourite));
    }

    void addNew(ImportedFavourite&& favourite) {
        if (const auto pending = m_pending.find(favourite.fields.url); pending != m_pending.end()) {
            joinInto(m_new[pending->second], favourite);
            ++m_counts.merged;
            return;
        }
        m_pending.emplace(favourite.fields.url, m_new.size());
        m_new.push_back(std::move(favourite));
    }

    StoreWriter& m_writer;
    std::string_view m_userId;
    std::unordered_multimap<std::size_t, std::int64_t> m_known;
    std::vector<ImportedFavourite> m_new;
    std::unordered_map<std::string, std::size_t> m_pending; // m_new's by address
    std::vector<Merge> m_merges;
    ImportCounts m_counts;
};

} // namespace

ImportCounts FavouritesStore::importFavourites(std::string_view userId,
                                               const ImportSource& source) {
    ImportCounts counts;
    change([&](StoreWriter& writer) {
        Import import(writer, userId);
        source([&](ImportedFavourite&& favourite) { import.add(std::move(favourite)); });
        counts = import.finish();
    });
    if (counts.imported + counts.merged >= RefreshAfter)
        refreshStatistics();
    return counts;
}

} // namespace pellamark::service
