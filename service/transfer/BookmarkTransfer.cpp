#include "service/transfer/BookmarkTransfer.h"

#include "service/bookmarks/BookmarkFileWriter.h"
#include "service/bookmarks/FolderTags.h"
#include "service/store/Tags.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <vector>

#include <unistd.h>

namespace pellamark::service {

namespace {

using bookmarks::Skipped;

// Pieces the file is read in: large enough for few system calls, small beside the memory bound.
constexpr std::size_t ReadPiece = 64 * 1024;

// A tag that fits the store's rule, or nothing. A folder path (or TAGS entry) longer than a tag
// may be keeps its upper levels that fit: the favourite stays in the folder above.
std::optional<std::string> storableTag(std::string tag, ImportReport& report) {
    if (!tagProblem(tag))
        return tag;
    while (tagProblem(tag)) {
        const auto slash = tag.rfind('/');
        if (slash == std::string::npos || slash == 0) {
            ++report.tagsDropped;
            return std::nullopt;
        }
        tag.resize(slash);
    }
    ++report.tagsCut;
    return tag;
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string skippedKind(Skipped kind, std::size_t count) {
    switch (kind) {
    case Skipped::Javascript:
        return plural(count, "javascript: bookmarklet", "javascript: bookmarklets");
    case Skipped::Place:
        return plural(count, "place: query", "place: queries");
    case Skipped::File:
        return plural(count, "file: address", "file: addresses");
    case Skipped::Chrome:
        return plural(count, "browser page", "browser pages");
    case Skipped::About:
        return plural(count, "about: page", "about: pages");
    case Skipped::Data:
        return plural(count, "data: address", "data: addresses");
    case Skipped::Other:
        return plural(count, "entry of another kind or without an address",
                      "entries of other kinds or without an address");
    case Skipped::Unusable:
        return plural(count, "address that cannot be stored", "addresses that cannot be stored");
    }
    return {};
}

} // namespace

ImportReport importBookmarkFile(FavouritesStore& store, std::string_view userId, int descriptor) {
    ImportReport report;
    report.counts = store.importFavourites(userId, [&](const auto& give) {
        bookmarks::BookmarkFileReader reader([&](const bookmarks::Bookmark& bookmark) {
            ImportedFavourite favourite;
            favourite.fields.title = bookmark.title;
            favourite.fields.url = bookmark.url;
            favourite.fields.note = bookmark.note;
            for (auto& tag : bookmarks::importedTags(bookmark))
                if (auto storable = storableTag(std::move(tag), report))
                    favourite.fields.tags.push_back(std::move(*storable));
            favourite.added = bookmark.added;
            favourite.modified = bookmark.modified;
            give(std::move(favourite));
        });
        std::vector<char> buffer(ReadPiece);
        for (;;) {
            const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw ImportFailed(std::string("The file could not be read: ") +
                                   std::strerror(errno) + ". Nothing was imported.");
            if (got == 0)
                break;
            if (!reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got))))
                break;
        }
        if (!reader.finish())
            throw ImportFailed(reader.error().value_or("The file is damaged.") +
                               " Nothing was imported.");
        report.read = reader.summary();
    });
    return report;
}

std::string describeImport(const ImportReport& report) {
    const auto& counts = report.counts;
    std::string text = "Imported " + plural(counts.imported, "favourite", "favourites") +
                       ", merged " + std::to_string(counts.merged) +
                       " into favourites already there, skipped " +
                       std::to_string(report.read.skippedTotal());
    std::string kinds;
    for (std::size_t kind = 0; kind < bookmarks::SkippedKinds; ++kind)
        if (const auto count = report.read.skipped[kind])
            kinds += (kinds.empty() ? "" : ", ") + skippedKind(Skipped(kind), count);
    text += kinds.empty() ? "." : ": " + kinds + ".";
    const std::size_t cut = report.tagsCut + report.read.cut;
    if (cut > 0)
        text += " " + plural(cut, "title, note or tag was", "titles, notes or tags were") +
                " longer than allowed and cut short.";
    const std::size_t dropped = report.tagsDropped + counts.tagsLeftOut;
    if (dropped > 0)
        text += " " + plural(dropped, "tag was", "tags were") + " left out (not a tag, or past " +
                std::to_string(MaxTagsPerFavourite) + " on a favourite).";
    if (report.read.truncated)
        text += " The file ends before its last folder is closed: it may be incomplete.";
    return text;
}

void exportBookmarkFile(FavouritesStore& store, std::string_view userId, ListQuery query,
                        const std::function<void(std::string_view)>& sink) {
    std::vector<Favourite> favourites;
    query.limit = 2000;
    for (;;) {
        auto page = store.list(userId, query);
        favourites.insert(favourites.end(), std::make_move_iterator(page.favourites.begin()),
                          std::make_move_iterator(page.favourites.end()));
        if (!page.next)
            break;
        query.after = page.next;
    }
    // Each folder once: a browser importing the file would otherwise make a folder of the same
    // name wherever its favourites came again.
    std::vector<std::string> keys;
    keys.reserve(favourites.size());
    for (const auto& favourite : favourites)
        keys.push_back(bookmarks::folderSortKey(favourite.tags));
    std::vector<std::size_t> order(favourites.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    bookmarks::BookmarkFileWriter writer(sink);
    for (const auto at : order) {
        const auto& favourite = favourites[at];
        writer.add({favourite.title, favourite.url, favourite.tags, favourite.note,
                    favourite.createdAt, favourite.modifiedAt});
    }
    writer.finish();
}

} // namespace pellamark::service
