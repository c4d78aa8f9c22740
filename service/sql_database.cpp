#include "service/sql_database.h"

#include <charconv>
#include <stdexcept>

namespace tertulia {

std::int64_t SqlRows::Int(std::size_t row, std::size_t column) const {
    const std::string& text = Text(row, column);
    if (text.empty()) return 0;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw std::runtime_error("not a whole number in the database: " + text);
    }
    return value;
}

}  // namespace tertulia
