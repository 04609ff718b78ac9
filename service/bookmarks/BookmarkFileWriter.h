#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service::bookmarks {

// One favourite as the writer takes it; the views need only last for the call to add().
struct FavouriteEntry {
    std::string_view title;
    std::string_view url;
    std::span<const std::string> tags;
    std::string_view note;
    std::optional<std::int64_t> added;    // seconds since 1970
    std::optional<std::int64_t> modified; // seconds since 1970
};

// Writes favourites as a Netscape bookmark file, the one every browser imports, to a sink in
// pieces of some kilobytes. Each favourite goes into the folders of its first tag with a
// hierarchy (folderOf()), every tag into TAGS, the note into <DD>, and its dates into ADD_DATE
// and LAST_MODIFIED; the reader gives back the same favourites from it.
//
// It holds only the folders open now, so memory does not grow with the favourites. Favourites
// given in the order of their folders make one folder each; given in any other order, a folder
// is written again wherever its favourites come, which reads back the same.
//
// An exception thrown by the sink leaves add() or finish(); the writer is then done with.
class BookmarkFileWriter {
public:
    using Sink = std::function<void(std::string_view)>;

    explicit BookmarkFileWriter(Sink sink);

    void add(const FavouriteEntry& favourite);
    // Closes the lists and hands the sink the rest.
    void finish();

private:
    void moveTo(const std::vector<std::string>& folders);
    void indent(std::size_t depth);
    void flushIfFull();

    Sink m_sink;
    std::string m_buffer;
    std::vector<std::string> m_open;
    bool m_finished = false;
};

} // namespace pellamark::service::bookmarks
