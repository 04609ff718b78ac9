#pragma once

#include "service/http/Input.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service::bookmarks {

// Bookmarks in folders nested deeper than this are read as if in the folder this deep.
inline constexpr std::size_t MaxFolderDepth = 32;

// One bookmark of a bookmark file, cleaned: valid UTF-8, entities decoded, blanks trimmed.
struct Bookmark {
    std::string title; // at most MaxTitleChars, never empty: an untitled bookmark has its address
    std::string url;   // an http or https address that addressProblem() accepts
    // The folders it is in, from the root; the browsers' own top folders (bookmarks bar, menu,
    // "Other bookmarks", ...) are not among them.
    std::vector<std::string> folders;
    std::vector<std::string> tags;        // the TAGS entries as written, trimmed, none empty
    std::string note;                     // the <DD> text, at most MaxNoteChars
    std::optional<std::int64_t> added;    // ADD_DATE, in seconds since 1970
    std::optional<std::int64_t> modified; // LAST_MODIFIED, in seconds since 1970
};

// Why an entry of the file is not a bookmark to keep: its address's kind.
enum class Skipped {
    Javascript, // bookmarklets
    Place,      // Firefox's saved searches and smart folders
    File,
    Chrome, // browser pages: chrome:, chrome-extension:, edge:
    About,
    Data,
    Other,    // any other scheme, or no address at all
    Unusable, // http or https, but not an address that can be stored (too long, no host, ...)
};
inline constexpr std::size_t SkippedKinds = 8;
std::string_view skippedName(Skipped kind);

struct ReadSummary {
    std::size_t bookmarks = 0;
    std::array<std::size_t, SkippedKinds> skipped{};
    std::size_t cut = 0;           // titles, folder names and notes cut to their bound
    std::string charset = "UTF-8"; // what the text was read as
    // The file ended between two entries with its lists still open: what came before was read.
    bool truncated = false;

    std::size_t skippedCount(Skipped kind) const { return skipped[std::size_t(kind)]; }
    std::size_t skippedTotal() const;
};

// Reads a Netscape bookmark file as it arrives, in pieces of any size, handing each bookmark to
// the sink once it is complete. It keeps only the entry being read (every token is bounded, and
// the values of attributes it has no use for, such as ICON, are skipped unseen), so memory stays
// small whatever the size of the file.
//
// A damaged file stops the reading with a plain reason; what the sink has been given by then
// must be thrown away. Damaged are: a file that is not a bookmark file (no DOCTYPE line of one
// and no bookmark list before its first entry, binary data), and one that ends within a tag, a
// comment, a bookmark's title or a folder's name. A file that ends between two entries is read,
// with summary().truncated set.
//
// An exception thrown by the sink leaves feed() or finish(); the reader is then done with.
class BookmarkFileReader {
public:
    using Sink = std::function<void(const Bookmark&)>;

    explicit BookmarkFileReader(Sink sink);
    ~BookmarkFileReader();
    BookmarkFileReader(const BookmarkFileReader&) = delete;
    BookmarkFileReader& operator=(const BookmarkFileReader&) = delete;

    // The next piece of the file; false once the file is found damaged (later pieces are then
    // ignored).
    bool feed(std::string_view bytes);
    // The end of the file; false when it is damaged.
    bool finish();

    // Why the file is damaged, once it is.
    const std::optional<std::string>& error() const;
    const ReadSummary& summary() const;
    // What the reader holds in memory now, to show that it stays bounded.
    std::size_t heldBytes() const;

private:
    class Parser;
    std::unique_ptr<Parser> m_parser;
};

} // namespace pellamark::service::bookmarks
