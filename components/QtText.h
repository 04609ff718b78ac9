#pragma once

#include <QString>

#include <string_view>

namespace pellamark {

// A text of the core (UTF-8) as Qt shows it.
inline QString qtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace pellamark
