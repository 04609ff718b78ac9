#pragma once

#include "service/bookmarks/BookmarkFileReader.h"
#include "service/store/FavouritesStore.h"

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pellamark::service {

// What an import did.
struct ImportReport {
    ImportCounts counts;
    bookmarks::ReadSummary read;
    std::size_t tagsCut = 0;     // folder paths and TAGS entries shortened to the tag bound
    std::size_t tagsDropped = 0; // TAGS entries that make no tag
};

// The file cannot be imported (damaged, unreadable); nothing was changed. The message says why,
// in a sentence for the person who sent the file.
class ImportFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a bookmark file from the descriptor (from where it stands to its end, in pieces) into
// the user's favourites, in one transaction: a file found damaged on the way changes nothing.
// Throws ImportFailed for the file, StoreError (and ChangeRefused) for the store.
ImportReport importBookmarkFile(FavouritesStore& store, std::string_view userId, int descriptor);

// "Imported 3 favourites, merged 1 into favourites already there, skipped 2: 1 javascript:
// bookmarklet, 1 place: query." and what else is worth knowing (cut tags, a truncated file).
std::string describeImport(const ImportReport& report);

// The favourites the query matches, every page of them, as a bookmark file handed to the sink in
// pieces: each favourite in the folders of its first tag with a hierarchy (favourites of one
// folder together, in the query's order within it), every tag in TAGS, the note, the dates.
void exportBookmarkFile(FavouritesStore& store, std::string_view userId, ListQuery query,
                        const std::function<void(std::string_view)>& sink);

} // namespace pellamark::service
