// The bookmark file's reader and writer on their own, without store or HTTP: generates a file of
// 100,000 bookmarks (~100 MB, each with ICON data, in 300 folders 4 deep), reads it in 64 KiB
// pieces, then writes 100,000 favourites. Reports times and the process's peak resident memory
// (getrusage), which the reading must leave near where it started. Not a test: run it by hand.
//
//   bench_bookmark_file [--bookmarks N] [--keep FILE]
#include "service/bookmarks/BookmarkFileReader.h"
#include "service/bookmarks/BookmarkFileWriter.h"
#include "service/bookmarks/FolderTags.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace pellamark::service::bookmarks;
using Clock = std::chrono::steady_clock;

namespace {

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Folder {
    std::string name;
    std::vector<Folder> children;
};

// 4 + 16 + 64 + 216 = 300 folders, 4 deep.
Folder folderTree() {
    Folder root;
    int number = 0;
    auto make = [&number](const char* kind) { return Folder{kind + std::to_string(++number), {}}; };
    for (int a = 0; a < 4; ++a) {
        Folder top = make("Area ");
        for (int b = 0; b < 4; ++b) {
            Folder second = make("Topic ");
            for (int c = 0; c < 4; ++c) {
                Folder third = make("Project ");
                const int leaves = (a * 16 + b * 4 + c) < 24 ? 4 : 3;
                for (int d = 0; d < leaves; ++d)
                    third.children.push_back(make("Part "));
                second.children.push_back(std::move(third));
            }
            top.children.push_back(std::move(second));
        }
        root.children.push_back(std::move(top));
    }
    return root;
}

class FileMaker {
public:
    FileMaker(std::ofstream& out, long bookmarks) : m_out(out), m_perFolder(bookmarks / 300) {
        m_extra = bookmarks - m_perFolder * 300;
        // A 16x16 icon as browsers embed it: about 800 bytes of base64.
        for (int i = 0; i < 800; ++i)
            m_icon +=
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[i * 7 % 64];
    }

    void folder(const Folder& f, int depth) {
        const std::string indent(4 * std::size_t(depth), ' ');
        m_buffer += indent + "<DT><H3 ADD_DATE=\"1600000000\" LAST_MODIFIED=\"1600000000\">" +
                    f.name + "</H3>\n" + indent + "<DL><p>\n";
        const long count = m_perFolder + (m_extra-- > 0 ? 1 : 0);
        for (long i = 0; i < count; ++i) {
            const long n = ++m_written;
            m_buffer += indent + "    <DT><A HREF=\"https://site" + std::to_string(n % 5000) +
                        ".example.org/articles/" + std::to_string(n) +
                        "?ref=bookmarks&amp;p=" + std::to_string(n % 97) + "\" ADD_DATE=\"" +
                        std::to_string(1500000000 + n) + "\" ICON=\"data:image/png;base64," +
                        m_icon + "\">Article " + std::to_string(n) +
                        " &mdash; a title of usual length, caf&eacute;</A>\n";
            if (m_buffer.size() > 256 * 1024)
                flush();
        }
        for (const auto& child : f.children)
            folder(child, depth + 1);
        m_buffer += indent + "</DL><p>\n";
    }

    void flush() {
        m_out.write(m_buffer.data(), std::streamsize(m_buffer.size()));
        m_buffer.clear();
    }

private:
    std::ofstream& m_out;
    long m_perFolder;
    long m_extra;
    long m_written = 0;
    std::string m_icon;
    std::string m_buffer;
};

} // namespace

int main(int argc, char** argv) {
    long bookmarks = 100'000;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bookmarks" && i + 1 < argc) {
            bookmarks = std::atol(argv[++i]);
        } else if (arg == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--bookmarks N] [--keep FILE]\n", argv[0]);
            return 2;
        }
    }
    const std::filesystem::path file =
        keep.empty() ? std::filesystem::temp_directory_path() /
                           ("pellamark-bookmarks-" + std::to_string(::getpid()) + ".html")
                     : std::filesystem::path(keep);
    {
        std::ofstream out(file, std::ios::binary);
        out << "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
               "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
               "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
        FileMaker maker(out, bookmarks);
        for (const auto& top : folderTree().children)
            maker.folder(top, 1);
        maker.flush();
        out << "</DL><p>\n";
    }
    const auto size = std::filesystem::file_size(file);

    // Reading: the file in 64 KiB pieces, as an upload arrives, each bookmark given its tags.
    const double before = peakMegabytes();
    long read = 0;
    std::size_t tagBytes = 0;
    BookmarkFileReader reader([&](const Bookmark& b) {
        ++read;
        for (const auto& tag : importedTags(b))
            tagBytes += tag.size();
    });
    const auto readStart = Clock::now();
    {
        std::FILE* in = std::fopen(file.c_str(), "rb");
        std::vector<char> piece(64 * 1024);
        std::size_t n = 0;
        while ((n = std::fread(piece.data(), 1, piece.size(), in)) > 0)
            reader.feed(std::string_view(piece.data(), n));
        std::fclose(in);
    }
    const bool ok = reader.finish();
    const double readSeconds = secondsSince(readStart);
    const double afterRead = peakMegabytes();
    if (keep.empty())
        std::filesystem::remove(file);

    // Writing: 100,000 favourites in the order of their folders, to a sink that only counts.
    std::vector<std::vector<std::string>> tagSets;
    for (const auto& area : folderTree().children)
        for (const auto& topic : area.children)
            for (const auto& project : topic.children)
                for (const auto& part : project.children)
                    tagSets.push_back(
                        {area.name + "/" + topic.name + "/" + project.name + "/" + part.name,
                         "reading", "tag" + std::to_string(tagSets.size() % 40)});
    const std::string note = "A note of a sentence or two, as people write them; with & and <.";
    std::size_t written = 0;
    const auto writeStart = Clock::now();
    BookmarkFileWriter writer([&](std::string_view piece) { written += piece.size(); });
    for (long i = 0; i < bookmarks; ++i) {
        const auto& tags = tagSets[std::size_t(i * long(tagSets.size()) / bookmarks)];
        const std::string url = "https://site" + std::to_string(i % 5000) +
                                ".example.org/articles/" + std::to_string(i);
        const std::string title = "Article " + std::to_string(i) + " - a title of usual length";
        writer.add({title, url, tags, i % 10 == 0 ? note : "", 1500000000 + i, 1600000000 + i});
    }
    writer.finish();
    const double writeSeconds = secondsSince(writeStart);

    std::printf("file: %.1f MB, %ld bookmarks in 300 folders 4 deep, ICON on each\n",
                double(size) / 1e6, bookmarks);
    std::printf("read: %s, %ld bookmarks, %zu skipped, in %.2f s (%.0f MB/s)\n",
                ok ? "ok" : reader.error()->c_str(), read, reader.summary().skippedTotal(),
                readSeconds, double(size) / 1e6 / readSeconds);
    std::printf("peak resident memory: %.1f MB before reading, %.1f MB after (reader held at "
                "most its bounded entry)\n",
                before, afterRead);
    std::printf("write: %ld favourites, %.1f MB, in %.2f s\n", bookmarks, double(written) / 1e6,
                writeSeconds);
    std::printf("peak resident memory after writing: %.1f MB\n", peakMegabytes());
    return ok && read == bookmarks ? 0 : 1;
}
