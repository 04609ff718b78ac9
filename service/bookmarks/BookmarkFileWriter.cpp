#include "service/bookmarks/BookmarkFileWriter.h"

#include "service/bookmarks/FolderTags.h"
#include "service/bookmarks/Unicode.h"
#include "service/http/Text.h"

namespace pellamark::service::bookmarks {

namespace {

constexpr std::size_t Piece = 64 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Text for an element, so that the reader gives back exactly this text. A reader drops the
// blanks around a text and, in a title, joins runs of them; in a note it keeps the blanks inside
// but reads a raw carriage return as a line break. Every blank that would be lost that way is
// written as a character reference, and so is every control character.
void appendText(std::string& out, std::string_view raw, bool note) {
    const std::string text = validUtf8(raw);
    constexpr std::string_view blanks = " \t\n\r\f";
    const std::size_t first = text.find_first_not_of(blanks);
    const std::size_t last = text.find_last_not_of(blanks);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool inside = first != std::string::npos && i > first && i < last;
        if (inside && c == ' ' && (note || (!isBlank(text[i - 1]) && !isBlank(text[i + 1])))) {
            out += c;
        } else if (inside && note && (c == '\n' || c == '\t')) {
            out += c;
        } else if (byte < 0x20 || byte == 0x7F || isBlank(c)) {
            out += "&#";
            out += std::to_string(byte);
            out += ';';
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
}

void appendDate(std::string& out, std::string_view name, const std::optional<std::int64_t>& date) {
    if (!date || *date <= 0)
        return;
    out += ' ';
    out += name;
    out += "=\"";
    out += std::to_string(*date);
    out += '"';
}

} // namespace

BookmarkFileWriter::BookmarkFileWriter(Sink sink) : m_sink(std::move(sink)) {
    m_buffer.reserve(Piece + 4096);
    m_buffer += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                "<TITLE>Bookmarks</TITLE>\n"
                "<H1>Bookmarks</H1>\n"
                "<DL><p>\n";
}

void BookmarkFileWriter::indent(std::size_t depth) {
    m_buffer.append(4 * (depth + 1), ' ');
}

void BookmarkFileWriter::moveTo(const std::vector<std::string>& folders) {
    std::size_t common = 0;
    while (common < m_open.size() && common < folders.size() &&
           sameTag(m_open[common], folders[common]))
        ++common;
    while (m_open.size() > common) {
        m_open.pop_back();
        indent(m_open.size());
        m_buffer += "</DL><p>\n";
    }
    for (std::size_t i = common; i < folders.size(); ++i) {
        indent(m_open.size());
        m_buffer += "<DT><H3>";
        appendText(m_buffer, folders[i], false);
        m_buffer += "</H3>\n";
        indent(m_open.size());
        m_buffer += "<DL><p>\n";
        m_open.push_back(folders[i]);
    }
}

void BookmarkFileWriter::add(const FavouriteEntry& favourite) {
    moveTo(folderOf(favourite.tags));
    indent(m_open.size());
    m_buffer += "<DT><A HREF=\"";
    m_buffer += htmlEscape(validUtf8(favourite.url));
    m_buffer += '"';
    appendDate(m_buffer, "ADD_DATE", favourite.added);
    appendDate(m_buffer, "LAST_MODIFIED", favourite.modified);
    if (!favourite.tags.empty()) {
        std::string tags;
        for (const auto& tag : favourite.tags) {
            if (!tags.empty())
                tags += ',';
            tags += tag;
        }
        m_buffer += " TAGS=\"";
        m_buffer += htmlEscape(validUtf8(tags));
        m_buffer += '"';
    }
    m_buffer += '>';
    appendText(m_buffer, favourite.title, false);
    m_buffer += "</A>\n";
    if (!favourite.note.empty()) {
        indent(m_open.size());
        m_buffer += "<DD>";
        appendText(m_buffer, favourite.note, true);
        m_buffer += '\n';
    }
    flushIfFull();
}

void BookmarkFileWriter::finish() {
    if (m_finished)
        return;
    m_finished = true;
    moveTo({});
    m_buffer += "</DL><p>\n";
    m_sink(m_buffer);
    m_buffer.clear();
}

void BookmarkFileWriter::flushIfFull() {
    if (m_buffer.size() < Piece)
        return;
    m_sink(m_buffer);
    m_buffer.clear();
}

} // namespace pellamark::service::bookmarks
