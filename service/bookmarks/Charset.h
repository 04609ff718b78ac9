#pragma once

#include <string>
#include <string_view>

namespace pellamark::service::bookmarks {

// The charset a label names, as the C library's converter knows it. Follows what browsers do with
// the labels of a META: ISO-8859-1 and ASCII mean windows-1252 (whose extra letters such files
// hold in practice), and a UTF-16 label on a page readable as ASCII means UTF-8.
std::string charsetForLabel(std::string_view label);

// Turns bytes in one charset into valid UTF-8: UTF-8 is checked, anything else converted by
// iconv; what cannot be read becomes U+FFFD, never passes through.
class TextDecoder {
public:
    TextDecoder() = default;
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // Switches to the charset a label names; false, keeping the one in use, when the converter
    // does not know it.
    bool use(std::string_view label);
    const std::string& charset() const { return m_charset; }

    std::string decode(std::string_view bytes);

private:
    void* m_converter = nullptr;
    std::string m_charset = "UTF-8";
};

// Converts a UTF-16 stream, arriving in pieces cut anywhere, to UTF-8.
class Utf16Stream {
public:
    explicit Utf16Stream(bool bigEndian);
    ~Utf16Stream();
    Utf16Stream(const Utf16Stream&) = delete;
    Utf16Stream& operator=(const Utf16Stream&) = delete;

    // Appends the UTF-8 of the bytes to out; a unit cut at the end waits for the next piece.
    void convert(std::string_view bytes, std::string& out);
    // The end of the stream: a unit still cut becomes U+FFFD.
    void finish(std::string& out);

private:
    void* m_converter = nullptr;
    std::string m_carry;
};

} // namespace pellamark::service::bookmarks
