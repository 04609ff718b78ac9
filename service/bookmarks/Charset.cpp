#include "service/bookmarks/Charset.h"

#include "service/bookmarks/Unicode.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace pellamark::service::bookmarks {

namespace {

const auto NoConverter = reinterpret_cast<void*>(iconv_t(-1));

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
    return out;
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; });
    return out;
}

bool oneOf(const std::string& value, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), value) != names.end();
}

// Converts in with iconv, appending to out. A sequence that cannot be read becomes U+FFFD and
// costs one byte; one cut at the end of in is left there when keepCut is set. Returns how many
// bytes of in were used.
std::size_t convertWith(void* converter, std::string_view in, std::string& out, bool keepCut) {
    auto* cd = static_cast<iconv_t>(converter);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, std::size_t(outPtr - buffer));
        if (result != std::size_t(-1))
            break;
        if (errno == E2BIG)
            continue;
        if (errno == EINVAL && keepCut)
            break;
        appendUtf8(out, ReplacementCharacter);
        ++inPtr;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return in.size() - inLeft;
}

} // namespace

std::string charsetForLabel(std::string_view label) {
    std::string name = lower(label);
    const auto first = name.find_first_not_of(" \t\r\n\"'");
    const auto last = name.find_last_not_of(" \t\r\n\"'");
    name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
    if (oneOf(name, {"utf-8", "utf8", "unicode-1-1-utf-8", "utf-16", "utf-16le", "utf-16be",
                     "unicode", "ucs-2"}))
        return "UTF-8";
    if (oneOf(name, {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "l1", "cp819", "ibm819",
                     "us-ascii", "ascii", "iso-ir-100", "windows-1252", "cp1252", "x-cp1252"}))
        return "WINDOWS-1252";
    return upper(name);
}

TextDecoder::~TextDecoder() {
    if (m_converter)
        iconv_close(static_cast<iconv_t>(m_converter));
}

bool TextDecoder::use(std::string_view label) {
    const std::string charset = charsetForLabel(label);
    if (charset.empty())
        return false;
    if (charset == "UTF-8") {
        if (m_converter)
            iconv_close(static_cast<iconv_t>(m_converter));
        m_converter = nullptr;
        m_charset = charset;
        return true;
    }
    void* converter = reinterpret_cast<void*>(iconv_open("UTF-8", charset.c_str()));
    if (converter == NoConverter)
        return false;
    if (m_converter)
        iconv_close(static_cast<iconv_t>(m_converter));
    m_converter = converter;
    m_charset = charset;
    return true;
}

std::string TextDecoder::decode(std::string_view bytes) {
    if (!m_converter)
        return validUtf8(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    iconv(static_cast<iconv_t>(m_converter), nullptr, nullptr, nullptr, nullptr);
    convertWith(m_converter, bytes, out, false);
    // The converter's output is UTF-8 by construction; checking costs little and guards
    // against a charset module that passes odd bytes through.
    return validUtf8(out);
}

Utf16Stream::Utf16Stream(bool bigEndian)
    : m_converter(
          reinterpret_cast<void*>(iconv_open("UTF-8", bigEndian ? "UTF-16BE" : "UTF-16LE"))) {
    if (m_converter == NoConverter)
        throw std::runtime_error("no UTF-16 converter");
}

Utf16Stream::~Utf16Stream() {
    iconv_close(static_cast<iconv_t>(m_converter));
}

void Utf16Stream::convert(std::string_view bytes, std::string& out) {
    if (m_carry.empty()) {
        m_carry.assign(bytes.substr(convertWith(m_converter, bytes, out, true)));
        return;
    }
    // Only the few bytes of a cut unit are ever carried; joining them costs one copy of a piece.
    std::string joined = std::move(m_carry);
    joined.append(bytes);
    m_carry.assign(std::string_view(joined).substr(convertWith(m_converter, joined, out, true)));
}

void Utf16Stream::finish(std::string& out) {
    if (!m_carry.empty())
        appendUtf8(out, ReplacementCharacter);
    m_carry.clear();
}

} // namespace pellamark::service::bookmarks
