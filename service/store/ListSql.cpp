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
// only (searchWords), so they need no escaping in either query language.
std::string matchExpression(Dialect dialect, const std::vector<std::string>& words) {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const bool last = i + 1 == words.size();
        if (dialect == Dialect::Sqlite)
            out += (i ? " AND \"" : "\"") + words[i] + (last ? "\"*" : "\"");
        else
            out += (i ? " & '" : "'") + words[i] + (last ? "':*" : "'");
    }
    return out;
}

// The FROM and WHERE of every statement of the query; the score column is "score".
void appendMatches(Builder& sql, Dialect dialect, std::string_view userId,
                   const std::vector<std::string>& words, const std::vector<std::string>& tags) {
    if (words.empty()) {
        sql << ", 0.0 AS score FROM favourites f WHERE f.userid = "
            << sql.parameter(std::string(userId));
    } else if (dialect == Dialect::Sqlite) {
        // Title weighs most, then the tags, the address and the note.
        sql << ", bm25(favourites_search, 10.0, 2.0, 4.0, 1.0) AS score FROM favourites_search "
               "JOIN favourites f ON f.id = favourites_search.rowid WHERE favourites_search MATCH "
            << sql.parameter(matchExpression(dialect, words))
            << " AND f.userid = " << sql.parameter(std::string(userId));
    } else {
        // Weights A to D: title, tags, address, note. Lower scores first in both stores.
        sql << ", -ts_rank(f.search, query) AS score FROM favourites f, to_tsquery('simple', "
            << sql.parameter(matchExpression(dialect, words))
            << ") query WHERE f.search @@ query AND f.userid = "
            << sql.parameter(std::string(userId));
    }
    for (const auto& tag : tags) {
        const std::string key = tagKey(tag);
        sql << " AND f.id IN (SELECT ft.favourite_id FROM favourite_tags ft JOIN tags t ON t.id = "
               "ft.tag_id WHERE t.userid = "
            << sql.parameter(std::string(userId)) << " AND (t.tag_key = " << sql.parameter(key)
            << " OR (t.tag_key >= " << sql.parameter(subtreeStart(key)) << " AND t.tag_key < "
            << sql.parameter(subtreeEnd(key)) << ")))";
    }
}

} // namespace

ListStatements listStatements(Dialect dialect, std::string_view userId, const ListQuery& query) {
    const auto words = searchWords(query.search);
    ListStatements out;
    out.order = query.order == Order::BestMatch && words.empty() ? Order::Newest : query.order;

    Builder rows(dialect);
    // Materialised, so that the score is a plain column the page key can be compared with (an
    // index's own ranking function may be used only where it matches).
    rows << "WITH matches AS MATERIALIZED (SELECT " << FavouriteColumns << ", f.sort_title";
    appendMatches(rows, dialect, userId, words, query.tags);
    rows << ") SELECT id, title, url, created_at, modified_at, note, tags, sort_title, score FROM "
            "matches";
    if (out.order != Order::BestMatch) {
        // A page in date or title order must not materialise every match: the same statement
        // without the CTE lets the index give the rows in order.
        Builder plain(dialect);
        plain << "SELECT " << FavouriteColumns << ", f.sort_title";
        appendMatches(plain, dialect, userId, words, query.tags);
        rows = std::move(plain);
        if (query.after) {
            if (out.order == Order::Newest)
                rows << " AND f.id < " << rows.parameter(query.after->id);
            else if (out.order == Order::Oldest)
                rows << " AND f.id > " << rows.parameter(query.after->id);
            else
                rows << " AND (f.sort_title, f.id) > (" << rows.parameter(query.after->sortKey)
                     << ", " << rows.parameter(query.after->id) << ")";
        }
        rows << (out.order == Order::Newest   ? " ORDER BY f.id DESC"
                 : out.order == Order::Oldest ? " ORDER BY f.id"
                                              : " ORDER BY f.sort_title, f.id");
    } else {
        if (query.after)
            rows << " WHERE (score, id) > ("
                 << rows.parameter(std::strtod(query.after->sortKey.c_str(), nullptr))
                 << (dialect == Dialect::Postgres ? "::real" : "") << ", "
                 << rows.parameter(query.after->id) << ")";
        rows << " ORDER BY score, id";
    }
    rows << " LIMIT " << std::to_string(query.limit + 1);
    out.rows = rows.take();

    Builder count(dialect);
    if (words.empty() && query.tags.empty()) {
        // The user's total is kept beside the favourites: counting 100,000 index entries per
        // page would cost more than the page.
        count << "SELECT coalesce((SELECT favourites FROM owners WHERE userid = "
              << count.parameter(std::string(userId)) << "), 0)";
    } else {
        count << "SELECT count(*) FROM (SELECT f.id";
        appendMatches(count, dialect, userId, words, query.tags);
        count << ") counted";
    }
    out.count = count.take();
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
