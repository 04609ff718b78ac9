#include "service/store/ListSql.h"

#include "service/store/Folding.h"
#include "service/store/Tags.h"

#include <cstdio>
#include <cstdlib>

namespace pellamark::service {

namespace {

class Builder {
public:
    explicit Builder(Dialect dialect) : m_dialect(dialect) {}

    std::string parameter(SqlValue value) {
        m_text.parameters.push_back(std::move(value));
        return (m_dialect == Dialect::Sqlite ? "?" : "$") +
               std::to_string(m_text.parameters.size());
    }
    Builder& operator<<(std::string_view sql) {
        m_text.sql += sql;
        return *this;
    }
    SqlText take() { return std::move(m_text); }

private:
    Dialect m_dialect;
    SqlText m_text;
};

// The full-text query: every word, the last also as a prefix. The words are letters and digits
// only (searchWords), so they need no escaping in SQLite's query language. Each word is keyed by
// its owner as the index has it (ownedDocument).
std::string matchExpression(std::string_view userId, const std::vector<std::string>& words) {
    const std::string owner = ownerWord(userId);
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i)
        out += (i ? " AND \"" : "\"") + owner + words[i] + (i + 1 == words.size() ? "\"*" : "\"");
    return out;
}

// The words for PostgreSQL's owned_query (see PostgresStore.cpp), which keys them by the owner
// and makes the last a prefix.
std::string joinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

// The favourites filed under the tag, which is the tag and everything below it.
void appendTagFilter(Builder& sql, std::string_view userId, const std::string& tag) {
    sql << "SELECT g.favourite_id FROM tag_filing g WHERE g.userid = "
        << sql.parameter(std::string(userId)) << " AND g.tag_key = " << sql.parameter(tagKey(tag));
}

// The entries of the first tag's filing (alias g) that are also filed under every other tag.
void appendFiled(Builder& sql, std::string_view userId, const std::vector<std::string>& tags) {
    sql << " FROM tag_filing g WHERE g.userid = " << sql.parameter(std::string(userId))
        << " AND g.tag_key = " << sql.parameter(tagKey(tags.front()));
    for (std::size_t i = 1; i < tags.size(); ++i)
        sql << " AND EXISTS (SELECT 1 FROM tag_filing h WHERE h.userid = "
            << sql.parameter(std::string(userId))
            << " AND h.tag_key = " << sql.parameter(tagKey(tags[i]))
            << " AND h.favourite_id = g.favourite_id)";
}

// The FROM and WHERE of every statement of the query, over favourites f; with score, also the
// match score as a column "score" before the FROM (lower is better in both stores).
// withRow: the statement needs the favourite's row (its sort title), not only its id.
void appendMatches(Builder& sql, Dialect dialect, std::string_view userId,
                   const std::vector<std::string>& words, const std::vector<std::string>& tags,
                   bool score, bool withRow = false) {
    if (words.empty() && !tags.empty() && !withRow) {
        // Only the tags filter: the ids come from the tags' filing, which is the user's own;
        // the favourites table need not be read at all.
        sql << (score ? ", 0.0 AS score" : "") << " FROM (SELECT DISTINCT g.favourite_id AS id";
        appendFiled(sql, userId, tags);
        sql << ") f WHERE 1 = 1";
        return;
    }
    if (words.empty()) {
        sql << (score ? ", 0.0 AS score" : "")
            << " FROM favourites f WHERE f.userid = " << sql.parameter(std::string(userId));
    } else if (dialect == Dialect::Sqlite) {
        // Title weighs most, then the tags, the address and the note.
        sql << (score ? ", match_score(favourites_search, 10.0, 2.0, 4.0, 1.0, 0.0) AS score" : "")
            << " FROM favourites_search JOIN favourites f ON f.id = favourites_search.rowid WHERE "
               "favourites_search MATCH "
            << sql.parameter(matchExpression(userId, words))
            << " AND f.userid = " << sql.parameter(std::string(userId));
    } else {
        // Weights A to D: title, tags, address, note.
        const std::string user = sql.parameter(std::string(userId));
        const std::string text = sql.parameter(joinWords(words));
        sql << (score ? ", -ts_rank(f.search, owned_query(" + user + ", " + text + ")) AS score"
                      : "")
            << " FROM favourites f WHERE f.search @@ owned_query(" << user << ", " << text
            << ") AND f.userid = " << user;
    }
    for (std::size_t i = 0; i < tags.size(); ++i) {
        sql << " AND f.id IN (";
        appendTagFilter(sql, userId, tags[i]);
        sql << ")";
    }
}

// The total for the query.
void appendCount(Builder& sql, Dialect dialect, std::string_view userId,
                 const std::vector<std::string>& words, const std::vector<std::string>& tags) {
    if (words.empty() && tags.empty()) {
        // The user's total is kept beside the favourites: counting 100,000 index entries per
        // page would cost more than the page.
        sql << "SELECT coalesce((SELECT favourites FROM owners WHERE userid = "
            << sql.parameter(std::string(userId)) << "), 0)";
    } else if (words.empty() && tags.size() == 1) {
        // So is the count of each tag with what lies below it.
        sql << "SELECT coalesce((SELECT favourites FROM tag_counts WHERE userid = "
            << sql.parameter(std::string(userId))
            << " AND tag_key = " << sql.parameter(tagKey(tags.front())) << "), 0)";
    } else {
        sql << "SELECT count(*) FROM (SELECT f.id";
        appendMatches(sql, dialect, userId, words, tags, false);
        sql << ") counted";
    }
}

} // namespace

std::string ownerWord(std::string_view userId) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : userId)
        hash = (hash ^ c) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, "u%016llx", static_cast<unsigned long long>(hash));
    return text;
}

ListStatements listStatements(Dialect dialect, std::string_view userId, const ListQuery& query) {
    const auto words = searchWords(query.search);
    ListStatements out;
    out.order = query.order == Order::BestMatch && words.empty() ? Order::Newest : query.order;
    const std::string limit = std::to_string(query.limit + 1);
    const std::string plainColumns = "f.id, f.title, f.url, f.created_at, f.modified_at, "
                                     "f.note, f.tags, f.sort_title, 0.0";
    const std::string columns = "f.id, f.title, f.url, f.created_at, f.modified_at, f.note, "
                                "f.tags, f.sort_title, page.score";

    Builder rows(dialect);
    if (out.order == Order::BestMatch) {
        // Every match must be scored to find the best, but only the ids and scores are kept
        // (materialised, so that the score is a plain column the page key compares with); the
        // count comes from the same set.
        rows << "WITH matches AS MATERIALIZED (SELECT f.id";
        appendMatches(rows, dialect, userId, words, query.tags, true);
        rows << ") SELECT " << columns
             << ", (SELECT count(*) FROM matches) FROM favourites f JOIN (SELECT id, score FROM "
                "matches";
        if (query.after)
            rows << " WHERE (score, id) > ("
                 << rows.parameter(std::strtod(query.after->sortKey.c_str(), nullptr))
                 << (dialect == Dialect::Postgres ? "::real" : "") << ", "
                 << rows.parameter(query.after->id) << ")";
        rows << " ORDER BY score, id LIMIT " << limit
             << ") page ON page.id = f.id ORDER BY page.score, page.id";
    } else {
        // The page's ids first, from the indexes alone, and only then their rows: a filter that
        // leaves thousands must not read thousands of rows to keep a hundred.
        const char* const order = out.order == Order::Newest   ? "f.id DESC"
                                  : out.order == Order::Oldest ? "f.id"
                                                               : "f.sort_title, f.id";
        // Where a date or title page starts: right after the last row of the one before.
        const auto appendAfter = [&] {
            if (!query.after)
                return;
            if (out.order == Order::Newest)
                rows << " AND f.id < " << rows.parameter(query.after->id);
            else if (out.order == Order::Oldest)
                rows << " AND f.id > " << rows.parameter(query.after->id);
            else
                rows << " AND (f.sort_title, f.id) > (" << rows.parameter(query.after->sortKey)
                     << ", " << rows.parameter(query.after->id) << ")";
        };
        // The total comes along as a column of the same statement: one snapshot, one round trip.
        const bool unfiltered = words.empty() && query.tags.empty();
        rows << "SELECT " << (unfiltered ? plainColumns : columns) << ", (";
        appendCount(rows, dialect, userId, words, query.tags);
        if (unfiltered) {
            // No filter: the user's index is in page order, and its rows are the page's.
            rows << ") FROM favourites f WHERE f.userid = " << rows.parameter(std::string(userId));
            appendAfter();
            rows << " ORDER BY " << order << " LIMIT " << limit;
        } else if (words.empty() && out.order != Order::Title) {
            // Only tags, in date order: the page is the first range of the first tag's filing,
            // read in page order.
            const bool newest = out.order == Order::Newest;
            rows << ") FROM favourites f JOIN (SELECT DISTINCT g.favourite_id AS id, 0.0 AS score";
            appendFiled(rows, userId, query.tags);
            if (query.after)
                rows << " AND g.favourite_id " << (newest ? "< " : "> ")
                     << rows.parameter(query.after->id);
            rows << " ORDER BY g.favourite_id" << (newest ? " DESC" : "") << " LIMIT " << limit
                 << ") page ON page.id = f.id ORDER BY " << order;
        } else {
            rows << ") FROM favourites f JOIN (SELECT f.id, 0.0 AS score";
            appendMatches(rows, dialect, userId, words, query.tags, false,
                          out.order == Order::Title);
            appendAfter();
            rows << " ORDER BY " << order << " LIMIT " << limit
                 << ") page ON page.id = f.id ORDER BY " << order;
        }
    }
    out.rows = rows.take();

    return out;
}

std::vector<std::string> splitStoredTags(std::string_view text) {
    std::vector<std::string> tags;
    while (!text.empty()) {
        const auto space = text.find(' ');
        if (space != 0)
            tags.emplace_back(text.substr(0, space));
        if (space == std::string_view::npos)
            break;
        text.remove_prefix(space + 1);
    }
    return tags;
}

std::string ownedDocument(std::string_view owner, std::string_view document) {
    std::string out;
    while (!document.empty()) {
        const auto space = document.find(' ');
        if (space != 0)
            out.append(out.empty() ? "" : " ").append(owner).append(document.substr(0, space));
        if (space == std::string_view::npos)
            break;
        document.remove_prefix(space + 1);
    }
    return out;
}

PageKey pageKeyOf(Order order, std::int64_t id, const std::string& sortTitle, double score) {
    if (order == Order::Title)
        return {id, sortTitle};
    if (order == Order::BestMatch) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", score);
        return {id, text};
    }
    return {id, {}};
}

} // namespace pellamark::service
