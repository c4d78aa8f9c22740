#include "service/metrics_page.h"

#include <charconv>
#include <cmath>

namespace tertulia {

namespace {

// Backslashes and line breaks escaped, and double quotes too inside a label's value.
void AppendEscaped(std::string& out, std::string_view text, bool quoted) {
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '"' && quoted) {
            out += "\\\"";
        } else {
            out += c;
        }
    }
}

}  // namespace

std::string MetricNumber(double value) {
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    if (std::isnan(value)) return "NaN";
    // Below 2^53 a whole double is exactly its integer.
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[32];
    const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

void MetricsPage::Family(std::string_view name, std::string_view type, std::string_view help) {
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    AppendEscaped(text_, help, false);
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
}

void MetricsPage::Sample(std::string_view name, const Labels& labels, double value) {
    text_ += name;
    if (!labels.empty()) {
        char separator = '{';
        for (const auto& [label, text] : labels) {
            text_ += separator;
            separator = ',';
            text_ += label;
            text_ += "=\"";
            AppendEscaped(text_, text, true);
            text_ += '"';
        }
        text_ += '}';
    }
    text_ += ' ';
    text_ += MetricNumber(value);
    text_ += '\n';
}

}  // namespace tertulia
