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

}  // namespace tertulia::testing
