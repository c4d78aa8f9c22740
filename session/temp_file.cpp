#include "session/temp_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

std::string ProgramNameOf(const std::string& fileName) {
    return fileName + ".exe";
}

bool MoveFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void MakeExecutable(const std::string& fileName) {
    ::chmod(fileName.c_str(), S_IRWXU);
}

void RemoveFile(const std::string& fileName) {
    ::unlink(fileName.c_str());
}

}  // namespace tertulia
