// The bookmark file: what the reader makes of each browser's export and of damaged files, fed in
// pieces of every size; its bounds; folder names as tags; and the writer's output read back.
#include "service/bookmarks/BookmarkFileReader.h"
#include "service/bookmarks/BookmarkFileWriter.h"
#include "service/bookmarks/FolderTags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

using namespace pellamark::service::bookmarks;
using pellamark::service::MaxNoteChars;

namespace {

std::string fixture(const std::string& name) {
    std::ifstream in(std::string(PELLAMARK_BOOKMARK_FIXTURES) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string joined(const std::vector<std::string>& parts, char separator) {
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : std::string(1, separator)) + part;
    return out;
}

// One bookmark in one line: folders|title|url|tags it gets|added|modified|note.
std::string describe(const Bookmark& b) {
    auto date = [](const std::optional<std::int64_t>& d) { return d ? std::to_string(*d) : "-"; };
    return joined(b.folders, '/') + "|" + b.title + "|" + b.url + "|" +
           joined(importedTags(b), ',') + "|" + date(b.added) + "|" + date(b.modified) + "|" +
           b.note;
}

struct FileCase {
    std::string name{};    // the fixture, or what an inline case shows
    std::string content{}; // an inline file; empty: the fixture's
    std::vector<std::string> bookmarks{};
    std::string skipped{}; // the kinds counted, "javascript=1 chrome=1"
    std::string error{};   // part of the reason the file is damaged; empty when it reads
    bool truncated = false;
    std::string charset = "UTF-8";
    std::size_t cut = 0;
};

void PrintTo(const FileCase& c, std::ostream* out) {
    *out << c.name;
}

struct ReadResult {
    std::vector<std::string> bookmarks;
    bool ok = false;
    std::string error;
    ReadSummary summary;
};

ReadResult readInPieces(const std::string& content, std::size_t piece) {
    ReadResult result;
    BookmarkFileReader reader([&](const Bookmark& b) { result.bookmarks.push_back(describe(b)); });
    bool ok = true;
    for (std::size_t at = 0; ok && at < content.size(); at += piece)
        ok = reader.feed(std::string_view(content).substr(at, piece));
    result.ok = ok && reader.finish();
    result.error = reader.error().value_or("");
    result.summary = reader.summary();
    return result;
}

std::string skippedText(const ReadSummary& summary) {
    std::string out;
    for (std::size_t k = 0; k < SkippedKinds; ++k) {
        if (summary.skipped[k] > 0)
            out += (out.empty() ? "" : " ") + std::string(skippedName(Skipped(k))) + "=" +
                   std::to_string(summary.skipped[k]);
    }
    return out;
}

std::string withMeta(const std::string& charset, const std::string& title) {
    return "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" "
           "CONTENT=\"text/html; charset=" +
           charset + "\">\n<DL><p>\n<DT><A HREF=\"https://example.org/\">" + title +
           "</A>\n</DL><p>\n";
}

std::string utf16le(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t unit : text) {
        out += char(unit & 0xFF);
        out += char(unit >> 8);
    }
    return out;
}

const std::string LongTitle = std::string(190, 'x') + " 012345678";

const std::vector<FileCase> FileCases = {
    {.name = "chromium.html",
     .bookmarks = {"|Example News|https://news.example.org/||1609459300|-|",
                   "Work/Clients/Acme Corp.|Acme \u2014 client portal|"
                   "https://acme.example.com/portal?x=1&y=2|Work/Clients/Acme-Corp.|1609459700|-|",
                   "Work|Team wiki|https://wiki.example.com/|Work|1609459800|-|",
                   "Work/Other bookmarks|Old things|https://old.example.net/|Work/Other-bookmarks|"
                   "1609460000|-|",
                   "|Soup recipes|https://recipes.example.org/soup||1612137600|-|",
                   "|Mobile site|https://m.example.org/||1612138000|-|"},
     .skipped = "javascript=1 chrome=1"},
    {.name = "edge.html",
     .bookmarks = {"|Mail|https://mail.example.com/||1650000200|-|",
                   "Dev tools|API reference|https://docs.example.dev/api|Dev-tools|1650000500|-|",
                   "|Shop|https://shop.example.com/||1650000800|-|",
                   "Other favorites|Misc|https://misc.example.com/|Other-favorites|1650001100|-|"}},
    {.name = "safari.html",
     .bookmarks = {"|Example|https://www.example.com/||-|-|",
                   "Travel|Trains|https://trains.example.eu/|Travel|-|-|",
                   "Travel/Favorites|Hotel|https://hotel.example.eu/|Travel/Favorites|-|-|",
                   "|In the menu|https://menu.example.com/||-|-|",
                   "|A long read|https://read.example.com/article||-|-|What the article is about"}},
    {.name = "firefox.html",
     .bookmarks = {"|Search|https://search.example.org/?q=%s||1690000100|1690000200|",
                   "Hobbies|Chess & more|https://chess.example.com/|Hobbies,games,strategy|"
                   "1690000500|1690000600|",
                   "|Start|https://start.example.com/||1690000900|1690001000|",
                   "|Read later|https://later.example.com/|later|1690001300|1690001400|"},
     .skipped = "place=1"},
    {.name = "windows-1252.html",
     .bookmarks =
         {"R\u00e9sum\u00e9s|Caf\u00e9 \u201cChez L\u00e9a\u201d|https://cafe.example.fr/|"
          "R\u00e9sum\u00e9s|1500000000|-|Men\u00fc ab 12 \u20ac",
          "|Gr\u00fc\u00dfe & K\u00e4se|https://shop.example.de/gr\u00fc\u00dfe|K\u00e4se|-|-|"},
     .charset = "WINDOWS-1252"},
    {.name = "utf8-no-meta.html",
     .bookmarks = {"Work & Play/Z\u00fcrich / Gen\u00e8ve|Gr\u00fcezi from Z\u00fcrich|"
                   "https://zurich.example.ch/|Work-Play/Z\u00fcrich-Gen\u00e8ve|1400000000|-|"
                   "Line one,\nline \u201ctwo\u201d.",
                   "Work & Play/Z\u00fcrich / Gen\u00e8ve|caf\u00e9 \u2026 \u00e9\u00e9\U0001F600 "
                   "\u2013 \u00a92024 &bogus; \uFFFD|https://entities.example.org/?a=1&copy=2&b=3|"
                   "Work-Play/Z\u00fcrich-Gen\u00e8ve,Reading,Work/Acme-Corp,c++|-|-|",
                   "Work & Play|https://empty.example.org/page|https://empty.example.org/page|"
                   "Work-Play|-|-|",
                   "Work & Play|" + LongTitle + "|https://long.example.org/|Work-Play|-|-|",
                   "Work & Play|Never closed|https://open.example.org/|Work-Play|-|-|",
                   "|broken \uFFFD byte|https://broken.example.org/||-|-|"},
     .cut = 1},
    {.name = "dates.html",
     .bookmarks = {"|seconds|https://s.example.org/||1600000000|1600000001|",
                   "|milliseconds|https://ms.example.org/||1600000000|1600000001|",
                   "|microseconds|https://us.example.org/||1600000000|1600000001|",
                   "|fraction and zero|https://odd.example.org/||1600000000|-|",
                   "|no dates|https://none.example.org/||-|-|",
                   "|early|https://old.example.org/||86400|-|"}},
    {.name = "skipped.html",
     .bookmarks = {"|kept|https://kept.example.org/path||-|-|"},
     .skipped = "javascript=2 place=1 file=1 chrome=2 about=1 data=1 other=3 unusable=3"},
    {.name = "not-bookmarks.html", .error = "not a bookmark file"},
    {.name = "binary.html", .error = "not a bookmark file"},
    {.name = "truncated-between.html",
     .bookmarks = {"Folder|One|https://one.example.org/|Folder|1600000000|-|A note"},
     .truncated = true},
    {.name = "truncated-in-tag.html",
     .bookmarks = {"Folder|One|https://one.example.org/|Folder|1600000000|-|A note"},
     .error = "middle of a tag"},
    {.name = "truncated-in-title.html",
     .bookmarks = {"Folder|One|https://one.example.org/|Folder|1600000000|-|A note"},
     .error = "middle of a bookmark's title"},
    // Charsets beyond the fixtures' two.
    {.name = "ISO-8859-15 has the euro sign where Latin-1 has the currency sign",
     .content = withMeta("ISO-8859-15", "\xA4 \xBD"),
     .bookmarks = {"|\u20ac \u0153|https://example.org/||-|-|"},
     .charset = "ISO-8859-15"},
    {.name = "a Latin-1 label is read as windows-1252, as browsers do",
     .content = withMeta("iso-8859-1", "\x80"),
     .bookmarks = {"|\u20ac|https://example.org/||-|-|"},
     .charset = "WINDOWS-1252"},
    {.name = "KOI8-R through iconv",
     .content = withMeta("koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4"),
     .bookmarks = {"|\u041f\u0440\u0438\u0432\u0435\u0442|https://example.org/||-|-|"},
     .charset = "KOI8-R"},
    {.name = "a UTF-8 byte order mark outweighs the META",
     .content = "\xEF\xBB\xBF" + withMeta("windows-1252", "Z\xC3\xBCrich"),
     .bookmarks = {"|Z\u00fcrich|https://example.org/||-|-|"}},
    {.name = "an unknown charset is read as UTF-8",
     .content = withMeta("x-no-such-charset", "caf\xC3\xA9"),
     .bookmarks = {"|caf\u00e9|https://example.org/||-|-|"}},
    {.name = "UTF-16 with its byte order mark",
     .content = utf16le(u"<!DOCTYPE NETSCAPE-Bookmark-file-1><DL><DT><A "
                        u"HREF=\"https://example.org/\">Gr\u00fc\u00dfe \U0001F600</A></DL>"),
     .bookmarks = {"|Gr\u00fc\u00dfe \U0001F600|https://example.org/||-|-|"},
     .charset = "UTF-16LE"},
    {.name = "an empty file", .error = "empty"},
};

class BookmarkFileRead : public ::testing::TestWithParam<std::tuple<FileCase, std::size_t>> {};

TEST_P(BookmarkFileRead, GivesTheExpectedBookmarksInPiecesOfAnySize) {
    const auto& [c, piece] = GetParam();
    const bool isFixture = c.name.ends_with(".html");
    const std::string content = isFixture ? fixture(c.name) : c.content;
    const auto result = readInPieces(content, piece);

    EXPECT_EQ(result.bookmarks, c.bookmarks);
    EXPECT_EQ(skippedText(result.summary), c.skipped);
    if (c.error.empty()) {
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.summary.truncated, c.truncated);
        EXPECT_EQ(result.summary.charset, c.charset);
        EXPECT_EQ(result.summary.cut, c.cut);
    } else {
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BookmarkFileRead,
                         ::testing::Combine(::testing::ValuesIn(FileCases),
                                            ::testing::Values(1, 7, 1 << 20)));

// Feeds a file made of parts, each repeated, without ever holding it whole.
class Generated {
public:
    Generated& add(std::string part, std::size_t times = 1) {
        m_parts.emplace_back(std::move(part), times);
        return *this;
    }
    // Feeds it in pieces; the most the reader held after any piece.
    std::size_t feed(BookmarkFileReader& reader) {
        std::size_t most = 0;
        std::string piece;
        for (const auto& [part, times] : m_parts) {
            for (std::size_t i = 0; i < times; ++i) {
                piece += part;
                if (piece.size() >= 64 * 1024) {
                    reader.feed(piece);
                    most = std::max(most, reader.heldBytes());
                    piece.clear();
                }
            }
        }
        reader.feed(piece);
        return std::max(most, reader.heldBytes());
    }

private:
    std::vector<std::pair<std::string, std::size_t>> m_parts;
};

TEST(BookmarkFileBounds, HugeIconsTitlesNotesAndNestingStayBounded) {
    Generated file;
    file.add("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- ").add("comment ", 512 * 1024).add("-->");
    file.add("<DL><p>").add("<DT><H3>" + std::string(100, 'F') + "</H3><DL><p>", 5000);
    file.add("<DT><A HREF=\"https://deep.example.org/\" ICON=\"data:image/png;base64,")
        .add("QUJD", 16 * 1024 * 1024)
        .add("\" UNKNOWN=")
        .add("v", 1024 * 1024)
        .add(" TAGS=\"")
        .add("tag,", 256 * 1024)
        .add("\">")
        .add("Title ", 512 * 1024)
        .add("</A><DD>")
        .add("note ", 512 * 1024);
    file.add("</DL><p>", 5001);

    std::vector<Bookmark> read;
    BookmarkFileReader reader([&](const Bookmark& b) { read.push_back(b); });
    const std::size_t most = file.feed(reader);
    ASSERT_TRUE(reader.finish()) << reader.error().value_or("");

    EXPECT_LT(most, 512u * 1024) << "bytes held while reading";
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].url, "https://deep.example.org/");
    EXPECT_EQ(read[0].folders.size(), MaxFolderDepth);
    EXPECT_EQ(read[0].title.size(), 200u);
    EXPECT_EQ(read[0].note.size(), MaxNoteChars);
    EXPECT_FALSE(reader.summary().truncated);
    EXPECT_EQ(reader.summary().cut, 1u); // one bookmark, cut in title and note
}

TEST(BookmarkFileBounds, ATagThatNeverEndsIsDamagedNotHeld) {
    Generated file;
    file.add("<!DOCTYPE NETSCAPE-Bookmark-file-1><DL><DT><A HREF=\"https://x.example/\" TITLE=")
        .add("endless", 4 * 1024 * 1024);
    BookmarkFileReader reader([](const Bookmark&) {});
    EXPECT_LT(file.feed(reader), 64u * 1024);
    EXPECT_FALSE(reader.finish());
}

struct TagCase {
    std::vector<std::string> folders;
    std::optional<std::string> tag;
};

TEST(FolderTags, FolderPathsAndTagsEntriesBecomeValidTagsKeptAsWritten) {
    const std::vector<TagCase> cases = {
        {{"Work", "Clients", "Acme"}, "Work/Clients/Acme"},
        {{"Work & Play", " Z\u00fcrich / Gen\u00e8ve "}, "Work-Play/Z\u00fcrich-Gen\u00e8ve"},
        {{"C++", "node.js", "snake_case", "-draft"}, "C++/node.js/snake_case/-draft"},
        {{"(old)", "!!!", "",
          "Caf"
          "e\u0301"},
         "old/Cafe\u0301"}, // a decomposed accent stays
        {{"\u65e5\u672c\u8a9e \u30e1\u30e2", "\u0391\u03b8\u03ae\u03bd\u03b1"},
         "\u65e5\u672c\u8a9e-\u30e1\u30e2/\u0391\u03b8\u03ae\u03bd\u03b1"},
        {{"emoji \U0001F600 here"}, "emoji-here"},
        {{"bad \xFF byte"}, "bad-byte"},
        {{"  ", "?"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto tag = tagFromFolders(c.folders);
        EXPECT_EQ(tag, c.tag) << joined(c.folders, '|');
        if (tag) {
            EXPECT_TRUE(isValidTag(*tag)) << *tag;
        }
    }
    EXPECT_EQ(tagFromText(" Work/Acme Corp "), "Work/Acme-Corp");
    EXPECT_EQ(tagFromText("//a// b c/"), "a/b-c");
    EXPECT_EQ(tagFromText(" / "), std::nullopt);

    for (const char* bad : {"", "a b", "a//b", "/a", "a/", "a,b", "\xFF", "#x"})
        EXPECT_FALSE(isValidTag(bad)) << bad;
    EXPECT_TRUE(sameTag("Z\u00fcrich/Acme", "Z\u00dcRICH/acme"));
    EXPECT_FALSE(sameTag("work", "work/acme"));

    Bookmark b;
    b.folders = {"Work", "Acme"};
    b.tags = {"work/ACME", "Later", "later", "!"};
    // The TAGS entry that names the folders gives the tag its spelling.
    EXPECT_EQ(importedTags(b), (std::vector<std::string>{"work/ACME", "Later"}));

    const std::vector<std::string> tags = {"flat", "Work//Clients/Acme", "other/x"};
    EXPECT_EQ(folderOf(tags), (std::vector<std::string>{"Work", "Clients", "Acme"}));
}

struct Favourite {
    std::string title;
    std::string url;
    std::vector<std::string> tags;
    std::string note;
    std::optional<std::int64_t> added;
    std::optional<std::int64_t> modified;
};

std::string write(const std::vector<Favourite>& favourites) {
    std::string out;
    BookmarkFileWriter writer([&](std::string_view piece) { out += piece; });
    for (const auto& f : favourites)
        writer.add({f.title, f.url, f.tags, f.note, f.added, f.modified});
    writer.finish();
    return out;
}

TEST(BookmarkFileWriter, WhatItWritesReadsBackTheSame) {
    const std::vector<Favourite> favourites = {
        {"Plain", "https://a.example/", {}, "", std::nullopt, std::nullopt},
        {"<Tricky> & \"quoted\" 'title'",
         "https://b.example/?x=1&y=\"2\"&z='3'<4>",
         {"news", "Work/Clients/Acme", "other/place"},
         "Line 1\nLine 2\r\n\ttabbed  two spaces &amp; <DT> as text",
         1600000000,
         1700000000},
        {"two  spaces inside",
         "https://c.example/",
         {"work/clients/ACME"},
         "  padded note \n",
         1,
         std::nullopt},
        {"Z\u00fcrich \U0001F600 \u4e2d\u6587",
         "https://d.example/z\u00fcrich",
         {"Reisen/Z\u00fcrich", "Work/Clients/Acme"},
         "\u00e9t\u00e9",
         std::nullopt,
         1700000001},
        {"Flat tags only", "https://e.example/", {"a", "b.c", "d+e"}, "", 1234567890, std::nullopt},
        {"Deep", "https://f.example/", {"Work/Clients/Acme/2024/Q1"}, "x", 1600000002, 1600000003},
        {"Sibling", "https://g.example/", {"Work/Internal"}, "", std::nullopt, std::nullopt},
        {"Sorts between Acme and its subfolders",
         "https://h.example/",
         {"Work/Clients/Acme-B"},
         "",
         std::nullopt,
         std::nullopt},
    };

    // Any order reads back the same; the order of their folders writes each folder once.
    std::vector<Favourite> shuffled = favourites;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(20));
    std::vector<Favourite> sorted = favourites;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return folderSortKey(a.tags) < folderSortKey(b.tags);
    });
    for (const auto* order : {&shuffled, &sorted}) {
        const std::string file = write(*order);
        std::map<std::string, Bookmark> back;
        BookmarkFileReader reader([&](const Bookmark& b) { back[b.url] = b; });
        ASSERT_TRUE(reader.feed(file) && reader.finish()) << reader.error().value_or("") << file;
        ASSERT_EQ(back.size(), favourites.size()) << file;
        EXPECT_FALSE(reader.summary().truncated);
        for (const auto& f : favourites) {
            const Bookmark& b = back[f.url];
            EXPECT_EQ(b.title, f.title);
            EXPECT_EQ(b.note, f.note);
            EXPECT_EQ(b.added, f.added);
            EXPECT_EQ(b.modified, f.modified);
            EXPECT_EQ(folderOf(importedTags(b)), folderOf(f.tags)) << f.url;
            auto tags = importedTags(b);
            EXPECT_EQ(tags.size(), f.tags.size()) << f.url;
            for (const auto& tag : f.tags)
                EXPECT_TRUE(std::any_of(tags.begin(), tags.end(),
                                        [&](const auto& t) { return sameTag(t, tag); }))
                    << f.url << " lost " << tag;
        }
        if (order == &sorted) {
            std::size_t folders = 0;
            for (auto at = file.find("<H3>"); at != std::string::npos;
                 at = file.find("<H3>", at + 1))
                ++folders;
            // Work, Clients, Acme, 2024, Q1, Acme-B, Internal, Reisen, Zürich
            EXPECT_EQ(folders, 9u) << file;
        }
    }
}

TEST(BookmarkFileWriter, HandsTheSinkBoundedPieces) {
    std::size_t pieces = 0;
    std::size_t largest = 0;
    std::size_t total = 0;
    BookmarkFileWriter writer([&](std::string_view piece) {
        ++pieces;
        largest = std::max(largest, piece.size());
        total += piece.size();
    });
    const std::vector<std::string> tags = {"Folder/Sub"};
    const std::string note(3000, 'n');
    for (int i = 0; i < 2000; ++i)
        writer.add({"Title", "https://example.org/" + std::to_string(i), tags, note, i + 1, {}});
    writer.finish();
    EXPECT_GT(pieces, 50u);
    EXPECT_LT(largest, 80u * 1024);
    EXPECT_GT(total, 2000u * 3000);
}

} // namespace
