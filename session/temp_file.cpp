#include "session/temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace tertulia {

std::string TempDirectory() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string directory =
        fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : "/tmp";
    if (directory.back() != '/') directory += '/';
    return directory;
}

std::string TempFileName() {
    // mkstemps creates the file atomically with mode 0600 and a random part in place of the Xs.
    static constexpr char kSuffix[] = ".tmp";
    const std::string name = TempDirectory() + "~tmXXXXXX" + kSuffix;
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemps(buffer.data(), sizeof kSuffix - 1);
    if (fd < 0) throw std::runtime_error("Error al crear archivo temporal");
    ::close(fd);
    return std::string(buffer.data(), name.size());
}

}  // namespace tertulia
