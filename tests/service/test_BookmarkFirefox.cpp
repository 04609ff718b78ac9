// The bookmark file against a real browser: a file of ours imported by Firefox keeps every
// address, folder and title; a file Firefox wrote reads as the bookmarks Firefox holds; and the
// same both ways through the service's export and import.
#include "FirefoxPeer.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"
#include "service/bookmarks/BookmarkFileReader.h"
#include "service/bookmarks/BookmarkFileWriter.h"
#include "service/bookmarks/FolderTags.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pellamark::service::bookmarks;
using pellamark::service::testing::FirefoxPeer;
using pellamark::service::testing::RunningService;
using pellamark::service::testing::StoreKind;
using pellamark::service::testing::TestStore;
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

std::vector<Favourite> sampleFavourites() {
    return {
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
}

TEST(BookmarkFileFirefox, OurFileImportsWithEveryAddressFolderAndTitle) {
    const auto favourites = sampleFavourites();
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

std::string multipartImport(const std::string& file, const std::string& boundary) {
    return "--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\nimport\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"bookmarks.html\"\r\n"
           "Content-Type: text/html\r\n\r\n" +
           file + "\r\n--" + boundary + "--\r\n";
}

// The service's own export and import around Firefox: its export goes into Firefox with every
// address, folder and title, and the file Firefox then writes imports into the service as the
// same favourites.
TEST(BookmarkFileFirefox, TheServicesExportGoesInAndFirefoxsFileComesBack) {
    if (auto reason = FirefoxPeer::unavailable())
        GTEST_SKIP() << *reason;
    TestStore store(StoreKind::Sqlite);
    RunningService service(store.location());
    auto client = service.client();
    const std::string boundary = "----firefox-test";
    const std::string type = "multipart/form-data; boundary=" + boundary;
    auto page = [](const std::string& user) {
        return "/app/fav.asp?userid=" + user + "&emailid=a@example.org&pubid=2&version=1.00.00";
    };

    std::string seed;
    BookmarkFileWriter writer([&](std::string_view piece) { seed += piece; });
    std::vector<std::string> expected;
    for (const auto& f : sampleFavourites()) {
        writer.add({f.title, f.url, f.tags, f.note, f.added, std::nullopt});
        expected.push_back(line(folderOf(f.tags), f.title, f.url, f.tags, f.added));
    }
    writer.finish();
    auto res =
        client.Post(page("firstuser01").c_str(), multipartImport(seed, boundary), type.c_str());
    ASSERT_TRUE(res && res->status == 200);
    res = client.Get((page("firstuser01") + "&action=export").c_str());
    ASSERT_TRUE(res && res->status == 200);
    TempDir dir;
    writeFile(dir / "export.html", res->body);

    RUN_FIREFOX(result, dir.path(), dir / "export.html");
    std::vector<std::string> inFirefox;
    for (const auto& place : result.places)
        inFirefox.push_back(line(place.folders, place.title, place.url, place.tags, place.added));
    EXPECT_EQ(sorted(inFirefox), sorted(expected));

    res = client.Post(page("seconduser2").c_str(), multipartImport(result.exported, boundary),
                      type.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    auto favourites = [&](const std::string& user) {
        std::vector<std::string> lines;
        for (const auto& f : service.service().store().list(user))
            lines.push_back(line(folderOf(f.tags), f.title, f.url, f.tags, f.createdAt));
        return sorted(lines);
    };
    EXPECT_EQ(favourites("seconduser2"), favourites("firstuser01")) << result.exported;
}

} // namespace
