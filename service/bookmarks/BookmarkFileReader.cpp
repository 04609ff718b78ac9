#include "service/bookmarks/BookmarkFileReader.h"

#include "service/bookmarks/Charset.h"
#include "service/bookmarks/Entities.h"
#include "service/bookmarks/Unicode.h"
#include "service/http/Input.h"

#include <algorithm>
#include <cstring>

namespace pellamark::service::bookmarks {

namespace {

// Bounds on what one entry may hold before it is read; each is well past what its cleaned form
// keeps (200 characters of title, MaxAddressBytes of address), so cutting the raw bytes never
// cuts what is kept.
constexpr std::size_t MaxRawTitle = 4096;
constexpr std::size_t MaxRawNote = 64 * 1024;
constexpr std::size_t MaxRawAddress = 4 * MaxAddressBytes;
constexpr std::size_t MaxRawTags = 8192;
constexpr std::size_t MaxRawSmall = 256; // dates, charset labels, flags
constexpr std::size_t MaxTagName = 16;
constexpr std::size_t MaxAttributeName = 32;
constexpr std::size_t MaxDeclaration = 128;
// A bookmark file says what it is within its first lines; this is far past any real header.
constexpr std::uint64_t MaxHeader = 1024 * 1024;

constexpr std::string_view NotABookmarkFile =
    "This is not a bookmark file: it has neither the DOCTYPE line of one nor a list of bookmarks.";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return lowerAscii(c); });
    return out;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Runs of blanks become one space, as a browser shows the text.
std::string collapseBlanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool blank = false;
    for (char c : trimBlanks(text)) {
        if (isBlank(c)) {
            blank = true;
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Control characters that a reference brought in become spaces; keep says which may stay.
void replaceControls(std::string& text, std::string_view keep) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 || byte == 0x7F) && keep.find(c) == std::string_view::npos)
            c = ' ';
    }
}

// A date in seconds from a value that may be in seconds, milliseconds or microseconds: each
// unit's values from 1973 to the year 5000 lie in a range of their own.
std::optional<std::int64_t> parseDate(std::string_view raw) {
    raw = trimBlanks(raw);
    std::int64_t value = 0;
    std::size_t i = 0;
    for (; i < raw.size() && raw[i] >= '0' && raw[i] <= '9'; ++i) {
        if (value >= 100'000'000'000'000'000) // past every unit's range, and before overflow
            return std::nullopt;
        value = value * 10 + (raw[i] - '0');
    }
    if (i == 0)
        return std::nullopt;
    if (i < raw.size()) {
        if (raw[i] != '.')
            return std::nullopt;
        for (++i; i < raw.size(); ++i) {
            if (raw[i] < '0' || raw[i] > '9')
                return std::nullopt;
        }
    }
    if (value == 0)
        return std::nullopt;
    if (value < 100'000'000'000)
        return value;
    if (value < 100'000'000'000'000)
        return value / 1000;
    if (value < 100'000'000'000'000'000)
        return value / 1'000'000;
    return std::nullopt;
}

Skipped kindOfScheme(std::string_view scheme) {
    if (scheme == "javascript")
        return Skipped::Javascript;
    if (scheme == "place")
        return Skipped::Place;
    if (scheme == "file")
        return Skipped::File;
    if (scheme == "chrome" || scheme == "chrome-extension" || scheme == "edge")
        return Skipped::Chrome;
    if (scheme == "about")
        return Skipped::About;
    if (scheme == "data")
        return Skipped::Data;
    return Skipped::Other;
}

// The names the major browsers give their own top folders in exports (Chromium, Chrome, Edge,
// Firefox, Safari), compared without regard to case.
bool isBrowserTopFolder(std::string_view name) {
    static constexpr std::string_view names[] = {
        "Bookmarks bar",    "Bookmarks Toolbar", "Bookmarks Menu",
        "Other bookmarks",  "Mobile bookmarks",  "Unsorted Bookmarks",
        "Favorites bar",    "Favourites bar",    "Other favorites",
        "Other favourites", "Mobile favorites",  "Mobile favourites",
        "Favorites",        "Favourites",        "BookmarksBar",
        "BookmarksMenu",    "Reading List",      "com.apple.ReadingList",
    };
    return std::any_of(std::begin(names), std::end(names),
                       [name](std::string_view n) { return equalIgnoringCase(n, name); });
}

// The charset a META's CONTENT names ("text/html; charset=windows-1252"), if any.
std::string charsetInContent(std::string_view content) {
    const std::string lower = lowerAscii(content);
    const auto at = lower.find("charset");
    if (at == std::string::npos)
        return {};
    std::size_t i = at + 7;
    while (i < lower.size() && isBlank(lower[i]))
        ++i;
    if (i >= lower.size() || lower[i] != '=')
        return {};
    ++i;
    while (i < lower.size() && (isBlank(lower[i]) || lower[i] == '"' || lower[i] == '\''))
        ++i;
    const std::size_t start = i;
    while (i < lower.size() && !isBlank(lower[i]) && lower[i] != ';' && lower[i] != '"' &&
           lower[i] != '\'')
        ++i;
    return std::string(content.substr(start, i - start));
}

} // namespace

std::string_view skippedName(Skipped kind) {
    static constexpr std::string_view names[SkippedKinds] = {
        "javascript", "place", "file", "chrome", "about", "data", "other", "unusable"};
    return names[std::size_t(kind)];
}

std::size_t ReadSummary::skippedTotal() const {
    std::size_t total = 0;
    for (auto count : skipped)
        total += count;
    return total;
}

class BookmarkFileReader::Parser {
public:
    explicit Parser(Sink sink) : m_sink(std::move(sink)) {}

    bool feed(std::string_view bytes);
    bool finish();
    std::size_t heldBytes() const;

    std::optional<std::string> m_error;
    ReadSummary m_summary;

private:
    enum class State {
        Data,
        TagOpen,
        EndTagOpen,
        TagName,
        BeforeAttributeName,
        AttributeName,
        AfterAttributeName,
        BeforeAttributeValue,
        ValueDoubleQuoted,
        ValueSingleQuoted,
        ValueUnquoted,
        AfterValueQuoted,
        MarkupOpen,
        Comment,
        Declaration,
        BogusComment,
    };
    // Which text the parser is collecting.
    enum class Mode { None, FolderName, Title, Note };
    // The attributes it keeps; every other one is skipped without being stored.
    enum Slot { Href, AddDate, LastModified, Tags, Toolbar, Unfiled, Id, Charset, Content, Slots };

    struct Tag {
        std::string name;
        bool end = false;
        bool nameTooLong = false;
        std::array<std::string, Slots> values;
        std::array<bool, Slots> present{};
        bool hrefTooLong = false;
    };

    struct PendingBookmark {
        bool active = false;
        std::string href;
        bool hrefTooLong = false;
        std::string addDate;
        std::string lastModified;
        std::string tags;
        std::string rawTitle;
        bool titleCut = false;
        std::string rawNote;
        bool noteCut = false;
        bool noteSeen = false;
        std::vector<std::string> folders;
    };

    struct PendingFolder {
        bool active = false;
        bool top = false;
        std::string name;
    };

    void fail(std::string reason) {
        if (!m_error)
            m_error = std::move(reason);
    }
    bool startStream(std::string_view& bytes);
    void parse(std::string_view bytes);
    void appendText(std::string_view text);
    void beginAttribute();
    void endAttribute();
    void emitTag();
    void onStartTag();
    void onEndTag();
    void onDeclaration();
    void closeText();
    void flushBookmark();
    std::string cleanLine(std::string_view raw, bool& cut);
    bool requireRecognised();
    // Whether a folder begun now is at the top of the file, where the browsers' own are.
    bool atTop() const { return m_path.empty() && m_topLevels == 0 && m_levels.size() <= 1; }

    Sink m_sink;
    TextDecoder m_decoder;
    std::unique_ptr<Utf16Stream> m_utf16;
    std::string m_head; // the first bytes, until it is known whether they hold a byte order mark
    bool m_started = false;
    bool m_charsetFixed = false; // by a byte order mark or an earlier META
    bool m_seenMarkup = false;
    bool m_recognised = false;
    bool m_contentStarted = false; // a folder or bookmark has been read: METAs come too late
    std::uint64_t m_offset = 0;

    State m_state = State::Data;
    Tag m_tag;
    std::string m_attributeName;
    bool m_attributeNameTooLong = false;
    int m_slot = -1;
    std::size_t m_slotLimit = 0;
    std::string m_value;
    bool m_valueTooLong = false;
    std::string m_declaration;
    int m_commentDashes = 0;

    Mode m_mode = Mode::None;
    std::string m_text;
    bool m_textCut = false;

    PendingBookmark m_bookmark;
    PendingFolder m_folder;
    // The open lists: a named folder's (its name is then in m_path), a top folder's, or a list
    // of no folder (the root).
    enum class Level : char { Plain, Named, Top };
    std::vector<Level> m_levels;
    std::size_t m_topLevels = 0;
    std::size_t m_extraDepth = 0; // lists opened past MaxFolderDepth
    std::vector<std::string> m_path;
    Bookmark m_out;
};

bool BookmarkFileReader::Parser::startStream(std::string_view& bytes) {
    if (m_started)
        return true;
    // Enough of the start to see a byte order mark; short pieces wait here.
    const std::size_t need = 3 - m_head.size();
    m_head.append(bytes.substr(0, need));
    bytes.remove_prefix(std::min(need, bytes.size()));
    if (m_head.size() < 3)
        return false;
    m_started = true;
    std::string head = std::move(m_head);
    m_head.clear();
    std::string_view rest(head);
    if (rest.starts_with("\xEF\xBB\xBF")) {
        m_charsetFixed = true;
        rest.remove_prefix(3);
    } else if (rest.starts_with("\xFF\xFE") || rest.starts_with("\xFE\xFF")) {
        m_utf16 = std::make_unique<Utf16Stream>(rest[0] == '\xFE');
        m_charsetFixed = true;
        m_summary.charset = rest[0] == '\xFE' ? "UTF-16BE" : "UTF-16LE";
        rest.remove_prefix(2);
    }
    if (!rest.empty()) {
        const std::string copy(rest);
        if (m_utf16) {
            std::string converted;
            m_utf16->convert(copy, converted);
            parse(converted);
        } else {
            parse(copy);
        }
    }
    return true;
}

bool BookmarkFileReader::Parser::feed(std::string_view bytes) {
    if (m_error)
        return false;
    if (!startStream(bytes))
        return true;
    if (bytes.empty() || m_error)
        return !m_error;
    if (m_utf16) {
        std::string converted;
        m_utf16->convert(bytes, converted);
        parse(converted);
    } else {
        parse(bytes);
    }
    return !m_error;
}

bool BookmarkFileReader::Parser::finish() {
    if (m_error)
        return false;
    if (!m_started) {
        if (m_head.empty()) {
            fail("The file is empty.");
            return false;
        }
        m_started = true;
        const std::string head = std::move(m_head);
        parse(head);
    }
    if (m_utf16) {
        std::string rest;
        m_utf16->finish(rest);
        parse(rest);
    }
    if (m_error)
        return false;
    switch (m_state) {
    case State::Data:
        break;
    case State::Comment:
    case State::BogusComment:
    case State::MarkupOpen:
    case State::Declaration:
        fail("The file ends in the middle of a comment or declaration: it was cut short.");
        return false;
    default:
        fail("The file ends in the middle of a tag: it was cut short.");
        return false;
    }
    if (m_mode == Mode::Title || m_mode == Mode::FolderName) {
        fail(std::string("The file ends in the middle of a ") +
             (m_mode == Mode::Title ? "bookmark's title" : "folder's name") +
             ": it was cut short.");
        return false;
    }
    if (!m_recognised) {
        fail(std::string(NotABookmarkFile));
        return false;
    }
    closeText();
    flushBookmark();
    m_summary.truncated = !m_levels.empty();
    return !m_error;
}

void BookmarkFileReader::Parser::appendText(std::string_view text) {
    if (m_mode == Mode::None || text.empty())
        return;
    const std::size_t limit = m_mode == Mode::Note ? MaxRawNote : MaxRawTitle;
    if (m_text.size() + text.size() > limit) {
        text = text.substr(0, limit - std::min(limit, m_text.size()));
        m_textCut = true;
    }
    m_text.append(text);
}

void BookmarkFileReader::Parser::parse(std::string_view bytes) {
    if (const void* zero = std::memchr(bytes.data(), 0, bytes.size())) {
        const auto at = m_offset + std::uint64_t(static_cast<const char*>(zero) - bytes.data());
        fail("The file holds binary data (a zero byte at byte " + std::to_string(at) +
             "): it is not a bookmark file.");
        return;
    }
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end && !m_error) {
        const char c = *p;
        switch (m_state) {
        case State::Data: {
            if (!m_seenMarkup) {
                if (isBlank(c)) {
                    ++p;
                    break;
                }
                if (c != '<') {
                    fail(std::string(NotABookmarkFile));
                    break;
                }
            }
            const auto* lt = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p)));
            const char* stop = lt ? lt : end;
            appendText(std::string_view(p, std::size_t(stop - p)));
            p = stop;
            if (lt) {
                m_seenMarkup = true;
                m_state = State::TagOpen;
                ++p;
            }
            break;
        }
        case State::TagOpen:
            if (isAsciiLetter(c)) {
                m_tag = Tag{};
                m_state = State::TagName;
            } else if (c == '/') {
                m_state = State::EndTagOpen;
                ++p;
            } else if (c == '!') {
                m_declaration.clear();
                m_state = State::MarkupOpen;
                ++p;
            } else if (c == '?') {
                m_state = State::BogusComment;
                ++p;
            } else {
                // A '<' that starts no tag is text.
                appendText("<");
                m_state = State::Data;
            }
            break;
        case State::EndTagOpen:
            if (isAsciiLetter(c)) {
                m_tag = Tag{};
                m_tag.end = true;
                m_state = State::TagName;
            } else if (c == '>') {
                m_state = State::Data;
                ++p;
            } else {
                m_state = State::BogusComment;
            }
            break;
        case State::TagName:
            if (isBlank(c) || c == '/') {
                m_state = State::BeforeAttributeName;
            } else if (c == '>') {
                emitTag();
            } else if (m_tag.name.size() < MaxTagName) {
                m_tag.name += lowerAscii(c);
            } else {
                m_tag.nameTooLong = true;
            }
            ++p;
            break;
        case State::BeforeAttributeName:
            if (c == '>') {
                emitTag();
                ++p;
            } else if (isBlank(c) || c == '/') {
                ++p;
            } else {
                m_attributeName.clear();
                m_attributeNameTooLong = false;
                m_state = State::AttributeName;
            }
            break;
        case State::AttributeName:
            if (isBlank(c)) {
                m_state = State::AfterAttributeName;
            } else if (c == '/') {
                beginAttribute();
                endAttribute();
                m_state = State::BeforeAttributeName;
            } else if (c == '=') {
                beginAttribute();
                m_state = State::BeforeAttributeValue;
            } else if (c == '>') {
                beginAttribute();
                endAttribute();
                emitTag();
            } else if (m_attributeName.size() < MaxAttributeName) {
                m_attributeName += lowerAscii(c);
            } else {
                m_attributeNameTooLong = true;
            }
            ++p;
            break;
        case State::AfterAttributeName:
            if (isBlank(c)) {
                ++p;
            } else if (c == '=') {
                beginAttribute();
                m_state = State::BeforeAttributeValue;
                ++p;
            } else {
                // An attribute without a value; what follows is the next one, or the tag's end.
                beginAttribute();
                endAttribute();
                m_state = State::BeforeAttributeName;
            }
            break;
        case State::BeforeAttributeValue:
            if (isBlank(c)) {
                ++p;
            } else if (c == '"' || c == '\'') {
                m_state = c == '"' ? State::ValueDoubleQuoted : State::ValueSingleQuoted;
                ++p;
            } else if (c == '>') {
                endAttribute();
                emitTag();
                ++p;
            } else {
                m_state = State::ValueUnquoted;
            }
            break;
        case State::ValueDoubleQuoted:
        case State::ValueSingleQuoted: {
            // Icons' data runs to hundreds of kilobytes: find its end without looking at it.
            const char quote = m_state == State::ValueDoubleQuoted ? '"' : '\'';
            const auto* q = static_cast<const char*>(std::memchr(p, quote, std::size_t(end - p)));
            const char* stop = q ? q : end;
            if (m_slot >= 0) {
                const std::size_t length = std::size_t(stop - p);
                if (m_value.size() + length > m_slotLimit)
                    m_valueTooLong = true;
                else
                    m_value.append(p, length);
            }
            p = stop;
            if (q) {
                endAttribute();
                m_state = State::AfterValueQuoted;
                ++p;
            }
            break;
        }
        case State::ValueUnquoted:
            if (isBlank(c)) {
                endAttribute();
                m_state = State::BeforeAttributeName;
            } else if (c == '>') {
                endAttribute();
                emitTag();
            } else if (m_slot >= 0) {
                if (m_value.size() < m_slotLimit)
                    m_value += c;
                else
                    m_valueTooLong = true;
            }
            ++p;
            break;
        case State::AfterValueQuoted:
            if (c == '>') {
                emitTag();
                ++p;
            } else {
                if (isBlank(c) || c == '/')
                    ++p;
                m_state = State::BeforeAttributeName;
            }
            break;
        case State::MarkupOpen:
            // "<!--" opens a comment, anything else a declaration such as the DOCTYPE.
            if (m_declaration.empty() && c == '-') {
                m_declaration = "-";
                ++p;
            } else if (m_declaration == "-") {
                if (c == '-') {
                    m_commentDashes = 0;
                    m_state = State::Comment;
                    ++p;
                } else {
                    m_state = State::BogusComment;
                }
            } else {
                m_declaration.clear();
                m_state = State::Declaration;
            }
            break;
        case State::Comment:
            if (c == '>' && m_commentDashes >= 2)
                m_state = State::Data;
            m_commentDashes = c == '-' ? m_commentDashes + 1 : 0;
            ++p;
            break;
        case State::Declaration:
            if (c == '>') {
                onDeclaration();
                m_state = State::Data;
            } else if (m_declaration.size() < MaxDeclaration) {
                m_declaration += c;
            }
            ++p;
            break;
        case State::BogusComment: {
            const auto* gt = static_cast<const char*>(std::memchr(p, '>', std::size_t(end - p)));
            p = gt ? gt + 1 : end;
            if (gt)
                m_state = State::Data;
            break;
        }
        }
    }
    m_offset += bytes.size();
    if (!m_recognised && m_offset > MaxHeader)
        fail(std::string(NotABookmarkFile));
}

void BookmarkFileReader::Parser::beginAttribute() {
    m_slot = -1;
    m_value.clear();
    m_valueTooLong = false;
    if (m_attributeNameTooLong || m_tag.end)
        return;
    const std::string& tag = m_tag.name;
    const std::string& name = m_attributeName;
    struct Known {
        std::string_view tag;
        std::string_view attribute;
        Slot slot;
        std::size_t limit;
    };
    static constexpr Known known[] = {
        {"a", "href", Href, MaxRawAddress},
        {"a", "add_date", AddDate, MaxRawSmall},
        {"a", "last_modified", LastModified, MaxRawSmall},
        {"a", "tags", Tags, MaxRawTags},
        {"h3", "personal_toolbar_folder", Toolbar, MaxRawSmall},
        {"h3", "unfiled_bookmarks_folder", Unfiled, MaxRawSmall},
        {"h3", "id", Id, MaxRawSmall},
        {"meta", "charset", Charset, MaxRawSmall},
        {"meta", "content", Content, MaxRawSmall},
    };
    for (const auto& k : known) {
        if (k.tag == tag && k.attribute == name) {
            m_slot = k.slot;
            m_slotLimit = k.limit;
            return;
        }
    }
}

void BookmarkFileReader::Parser::endAttribute() {
    if (m_slot < 0 || m_tag.present[std::size_t(m_slot)]) {
        m_slot = -1;
        return; // the first of repeated attributes counts, as in browsers
    }
    const auto slot = std::size_t(m_slot);
    m_tag.present[slot] = true;
    if (m_valueTooLong && m_slot == Href)
        m_tag.hrefTooLong = true;
    if (!m_valueTooLong)
        m_tag.values[slot].swap(m_value);
    m_value.clear();
    m_slot = -1;
}

void BookmarkFileReader::Parser::emitTag() {
    m_state = State::Data;
    if (m_tag.nameTooLong)
        return;
    if (m_tag.end)
        onEndTag();
    else
        onStartTag();
}

bool BookmarkFileReader::Parser::requireRecognised() {
    if (!m_recognised)
        fail(std::string(NotABookmarkFile));
    return m_recognised;
}

void BookmarkFileReader::Parser::onDeclaration() {
    const std::string text = lowerAscii(m_declaration);
    if (text.starts_with("doctype") && text.find("netscape-bookmark-file") != std::string::npos)
        m_recognised = true;
}

void BookmarkFileReader::Parser::onStartTag() {
    const std::string& name = m_tag.name;
    if (name == "dt") {
        closeText();
        flushBookmark();
        m_folder = PendingFolder{};
    } else if (name == "dl") {
        closeText();
        flushBookmark();
        m_recognised = true;
        if (m_extraDepth > 0 || m_path.size() >= MaxFolderDepth ||
            m_levels.size() >= 2 * MaxFolderDepth) {
            ++m_extraDepth;
        } else {
            Level level = Level::Plain;
            if (m_folder.active)
                level = m_folder.top ? Level::Top : Level::Named;
            m_levels.push_back(level);
            if (level == Level::Named)
                m_path.push_back(std::move(m_folder.name));
            if (level == Level::Top)
                ++m_topLevels;
        }
        m_folder = PendingFolder{};
    } else if (name == "h3") {
        closeText();
        flushBookmark();
        if (!requireRecognised())
            return;
        m_contentStarted = true;
        m_folder = PendingFolder{};
        // The browsers' own top folders are known by their flags where they have them; their
        // names count only at the top, so a folder of the user's called "Favorites" stays.
        m_folder.top =
            atTop() && (m_tag.present[Toolbar] || m_tag.present[Unfiled] ||
                        equalIgnoringCase(trimBlanks(m_tag.values[Id]), "com.apple.ReadingList"));
        m_mode = Mode::FolderName;
    } else if (name == "a") {
        closeText();
        flushBookmark();
        if (!requireRecognised())
            return;
        m_contentStarted = true;
        m_folder = PendingFolder{};
        m_bookmark.active = true;
        m_bookmark.href.swap(m_tag.values[Href]);
        m_bookmark.hrefTooLong = m_tag.hrefTooLong;
        m_bookmark.addDate.swap(m_tag.values[AddDate]);
        m_bookmark.lastModified.swap(m_tag.values[LastModified]);
        m_bookmark.tags.swap(m_tag.values[Tags]);
        m_bookmark.folders = m_path;
        m_mode = Mode::Title;
    } else if (name == "dd") {
        closeText();
        if (m_bookmark.active && !m_bookmark.noteSeen)
            m_mode = Mode::Note;
    } else if (name == "meta") {
        if (m_charsetFixed || m_contentStarted)
            return;
        std::string label = m_tag.values[Charset];
        if (label.empty())
            label = charsetInContent(m_tag.values[Content]);
        if (label.empty())
            return;
        m_charsetFixed = true;
        if (m_decoder.use(label))
            m_summary.charset = m_decoder.charset();
    }
}

void BookmarkFileReader::Parser::onEndTag() {
    const std::string& name = m_tag.name;
    if (name == "dl") {
        closeText();
        flushBookmark();
        m_folder = PendingFolder{};
        if (m_extraDepth > 0) {
            --m_extraDepth;
        } else if (!m_levels.empty()) {
            if (m_levels.back() == Level::Named)
                m_path.pop_back();
            if (m_levels.back() == Level::Top)
                --m_topLevels;
            m_levels.pop_back();
        }
    } else if ((name == "h3" && m_mode == Mode::FolderName) ||
               (name == "a" && m_mode == Mode::Title)) {
        closeText();
    }
}

std::string BookmarkFileReader::Parser::cleanLine(std::string_view raw, bool& cut) {
    std::string text = decodeEntities(collapseBlanks(m_decoder.decode(raw)));
    replaceControls(text, {});
    text = std::string(trimBlanks(text));
    if (cutToChars(text, MaxTitleChars))
        cut = true;
    return text;
}

void BookmarkFileReader::Parser::closeText() {
    switch (m_mode) {
    case Mode::None:
        return;
    case Mode::FolderName: {
        bool cut = m_textCut;
        m_folder.name = cleanLine(m_text, cut);
        m_summary.cut += cut ? 1 : 0;
        m_folder.active = true;
        if (atTop() && isBrowserTopFolder(m_folder.name))
            m_folder.top = true;
        break;
    }
    case Mode::Title:
        m_bookmark.rawTitle.swap(m_text);
        m_bookmark.titleCut = m_textCut;
        break;
    case Mode::Note:
        m_bookmark.rawNote.swap(m_text);
        m_bookmark.noteCut = m_textCut;
        m_bookmark.noteSeen = true;
        break;
    }
    m_mode = Mode::None;
    m_text.clear();
    m_textCut = false;
}

void BookmarkFileReader::Parser::flushBookmark() {
    if (!m_bookmark.active)
        return;
    PendingBookmark b = std::move(m_bookmark);
    m_bookmark = PendingBookmark{};

    // Addresses lose surrounding blanks and the tabs and line breaks inside, as browsers do.
    std::string url = decodeEntities(m_decoder.decode(b.href));
    url.erase(std::remove_if(url.begin(), url.end(),
                             [](char c) { return c == '\t' || c == '\n' || c == '\r'; }),
              url.end());
    url = std::string(trimBlanks(url));
    const auto colon = url.find(':');
    const std::string scheme = lowerAscii(url.substr(0, colon == std::string::npos ? 0 : colon));
    if (b.hrefTooLong || scheme == "http" || scheme == "https") {
        if (b.hrefTooLong || addressProblem(url)) {
            ++m_summary.skipped[std::size_t(Skipped::Unusable)];
            return;
        }
    } else {
        ++m_summary.skipped[std::size_t(kindOfScheme(scheme))];
        return;
    }

    Bookmark& out = m_out;
    out.url = std::move(url);
    bool cut = b.titleCut;
    out.title = cleanLine(b.rawTitle, cut);
    if (out.title.empty()) {
        out.title = out.url;
        cut = cutToChars(out.title, MaxTitleChars) || cut;
    }

    // A note keeps its lines; only the blanks around it go.
    std::string note = m_decoder.decode(b.rawNote);
    std::string lines;
    lines.reserve(note.size());
    for (std::size_t i = 0; i < note.size(); ++i) {
        if (note[i] == '\r') {
            lines += '\n';
            if (i + 1 < note.size() && note[i + 1] == '\n')
                ++i;
        } else {
            lines += note[i];
        }
    }
    out.note = decodeEntities(trimBlanks(lines));
    replaceControls(out.note, "\t\n\r");
    if (cutToChars(out.note, MaxNoteChars) || b.noteCut)
        cut = true;
    m_summary.cut += cut ? 1 : 0;

    out.tags.clear();
    const std::string tags = decodeEntities(m_decoder.decode(b.tags));
    for (std::size_t start = 0; start <= tags.size();) {
        auto comma = tags.find(',', start);
        if (comma == std::string::npos)
            comma = tags.size();
        std::string tag(trimBlanks(std::string_view(tags).substr(start, comma - start)));
        if (!tag.empty())
            out.tags.push_back(std::move(tag));
        start = comma + 1;
    }
    out.added = parseDate(b.addDate);
    out.modified = parseDate(b.lastModified);
    out.folders.swap(b.folders);

    ++m_summary.bookmarks;
    m_sink(out);
}

std::size_t BookmarkFileReader::Parser::heldBytes() const {
    std::size_t total = m_text.capacity() + m_value.capacity() + m_declaration.capacity() +
                        m_attributeName.capacity() + m_tag.name.capacity() + m_head.capacity();
    for (const auto& value : m_tag.values)
        total += value.capacity();
    for (const auto* s : {&m_bookmark.href, &m_bookmark.addDate, &m_bookmark.lastModified,
                          &m_bookmark.tags, &m_bookmark.rawTitle, &m_bookmark.rawNote,
                          &m_folder.name, &m_out.title, &m_out.url, &m_out.note})
        total += s->capacity();
    for (const auto& name : m_path)
        total += name.capacity();
    for (const auto& name : m_out.folders)
        total += name.capacity();
    for (const auto& tag : m_out.tags)
        total += tag.capacity();
    return total;
}

BookmarkFileReader::BookmarkFileReader(Sink sink)
    : m_parser(std::make_unique<Parser>(std::move(sink))) {}

BookmarkFileReader::~BookmarkFileReader() = default;

bool BookmarkFileReader::feed(std::string_view bytes) {
    return m_parser->feed(bytes);
}

bool BookmarkFileReader::finish() {
    return m_parser->finish();
}

const std::optional<std::string>& BookmarkFileReader::error() const {
    return m_parser->m_error;
}

const ReadSummary& BookmarkFileReader::summary() const {
    return m_parser->m_summary;
}

std::size_t BookmarkFileReader::heldBytes() const {
    return m_parser->heldBytes();
}

} // namespace pellamark::service::bookmarks
