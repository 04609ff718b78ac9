#include "settings/RegValue.h"

namespace pellamark {

std::string regValueText(const RegValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return std::to_string(*number);
    }
    return std::get<std::string>(value);
}

} // namespace pellamark
