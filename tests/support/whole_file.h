#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace tertulia::testing {

// The exact bytes of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// How many times `part` stands in `text` (a log, say), overlapping ones included.
inline std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The first line of `text` (a log, say) that holds `part`, without its line break; empty when
// none does.
inline std::string LineWith(const std::string& text, const std::string& part) {
    const std::size_t at = text.find(part);
    if (at == std::string::npos) return "";
    const std::size_t before = text.rfind('\n', at);
    const std::size_t start = before == std::string::npos ? 0 : before + 1;
    return text.substr(start, text.find('\n', at) - start);
}

}  // namespace tertulia::testing
