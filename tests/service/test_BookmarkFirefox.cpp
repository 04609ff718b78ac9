// The bookmark file against a real browser: a file of ours imported by Firefox keeps every
// address, folder and title; a file Firefox wrote reads as the bookmarks Firefox holds.
#include "FirefoxPeer.h"
#include "TempDir.h"
#include "service/bookmarks/BookmarkFileReader.h"
#include "service/bookmarks/BookmarkFileWriter.h"
#include "service/bookmarks/FolderTags.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pellamark::service::bookmarks;
using pellamark::service::testing::FirefoxPeer;
using pellamark::testing::TempDir;
using pellamark::testing::writeFile;

namespace {

std::string joined(const std::vector<std::string>& parts, char separator) {
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : std::string(1, separator)) + part;
    return out;
}

std::string line(const std::vector<std::string>& folders, const std::string& title,
                 const std::string& url, std::vector<std::string> tags, std::int64_t added) {
    std::sort(tags.begin(), tags.end());
    return joined(folders, '/') + "|" + title + "|" + url + "|" + joined(tags, ',') + "|" +
           std::to_string(added);
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Runs Firefox on the file; skips the test, saying why, when Firefox cannot run here.
#define RUN_FIREFOX(result, folder, file)                                                          \
    if (auto reason = FirefoxPeer::unavailable())                                                  \
        GTEST_SKIP() << *reason;                                                                   \
    FirefoxPeer::Result result;                                                                    \
    try {                                                                                          \
        result = FirefoxPeer(folder).importThenExport(file);                                       \
    } catch (const FirefoxPeer::NotStarted& e) {                                                   \
        GTEST_SKIP() << "Firefox cannot be started here: " << e.what();                            \
    }

struct Favourite {
    std::string title;
    std::string url;
    std::vector<std::string> tags;
    std::string note;
    std::int64_t added;
};

TEST(BookmarkFileFirefox, OurFileImportsWithEveryAddressFolderAndTitle) {
    const std::vector<Favourite> favourites = {
        {"At the top", "https://top.example.org/", {}, "", 1500000000},
        {"Tom & Jerry <3 \"quotes\" 'too'",
         "https://a.example.org/?x=1&y=2",
         {"cartoons"},
         "a note",
         1500000001},
        {"Acme portal",
         "https://acme.example.com/",
         {"Work/Clients/Acme", "urgent"},
         "",
         1500000002},
        {"Acme wiki", "https://wiki.acme.example.com/", {"Work/Clients/Acme"}, "", 1500000003},
        {"Z\u00fcrich \u2014 \u65e5\u672c \U0001F600",
         // Firefox keeps addresses in their canonical form: give them in it.
         "https://xn--zrich-kva.example.ch/caf%C3%A9",
         {"Reisen/Z\u00fcrich"},
         "\u00e9t\u00e9\nline two",
         1500000004},
        {"Internal",
         "https://intra.example.com/",
         {"Work/Internal", "Reisen/Z\u00fcrich"},
         "",
         1500000005},
        {std::string(200, 'T'),
         "https://long.example.org/" + std::string(1500, 'p'),
         {},
         "",
         1500000006},
    };
    TempDir dir;
    std::string file;
    BookmarkFileWriter writer([&](std::string_view piece) { file += piece; });
    std::vector<std::string> expected;
    for (const auto& f : favourites) {
        writer.add({f.title, f.url, f.tags, f.note, f.added, std::nullopt});
        expected.push_back(line(folderOf(f.tags), f.title, f.url, f.tags, f.added));
    }
    writer.finish();
    writeFile(dir / "ours.html", file);

    RUN_FIREFOX(result, dir.path(), dir / "ours.html");

    std::vector<std::string> inFirefox;
    for (const auto& place : result.places)
        inFirefox.push_back(line(place.folders, place.title, place.url, place.tags, place.added));
    EXPECT_EQ(sorted(inFirefox), sorted(expected));
}

TEST(BookmarkFileFirefox, ItsFileReadsAsTheBookmarksItHolds) {
    TempDir dir;
    RUN_FIREFOX(result, dir.path(),
                std::string(PELLAMARK_BOOKMARK_FIXTURES) + "/firefox-seed.html");

    std::vector<std::string> inFirefox;
    std::size_t notWeb = 0;
    for (const auto& place : result.places) {
        if (place.url.starts_with("https:") || place.url.starts_with("http:"))
            inFirefox.push_back(
                line(place.folders, place.title, place.url, place.tags, place.added));
        else
            ++notWeb;
    }
    ASSERT_EQ(inFirefox.size(), 7u) << "the seed did not get into Firefox";

    std::vector<std::string> read;
    BookmarkFileReader reader([&](const Bookmark& b) {
        read.push_back(line(b.folders, b.title, b.url, b.tags, b.added.value_or(0)));
    });
    ASSERT_TRUE(reader.feed(result.exported) && reader.finish())
        << reader.error().value_or("") << "\n"
        << result.exported;
    EXPECT_EQ(sorted(read), sorted(inFirefox)) << result.exported;
    EXPECT_EQ(reader.summary().skippedTotal(), notWeb);
    EXPECT_EQ(reader.summary().skippedCount(Skipped::Javascript), 1u);
    EXPECT_EQ(reader.summary().skippedCount(Skipped::Place), 1u);
    EXPECT_FALSE(reader.summary().truncated);
}

} // namespace
