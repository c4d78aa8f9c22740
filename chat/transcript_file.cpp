#include "chat/transcript_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tertulia {

namespace {

[[noreturn]] void Fail(const std::string& action, const std::string& fileName, int error) {
    std::error_code ignored;
    const auto fullName = std::filesystem::absolute(fileName, ignored).string();
    throw std::runtime_error(action + " \"" + (fullName.empty() ? fileName : fullName) + "\". " +
                             std::strerror(error));
}

// A replaced file keeps its permissions; a new one gets those that the umask allows.
mode_t ModeFor(const std::string& fileName) {
    struct stat info {};
    if (::stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string WithCrLfLineBreaks(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            result += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            result += "\r\n";
        } else {
            result += text[i];
        }
    }
    return result;
}

void WriteTranscriptFile(const std::string& fileName, const std::string& text) {
    const std::string bytes = WithCrLfLineBreaks(text);
    const auto slash = fileName.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    std::string partName = directory + "." + base + ".XXXXXX";

    // The rename below would replace even a file that its permissions keep from being written.
    if (::access(fileName.c_str(), W_OK) != 0 && errno != ENOENT) {
        Fail("Cannot create file", fileName, errno);
    }
    const mode_t mode = ModeFor(fileName);
    const int fd = ::mkstemp(partName.data());
    if (fd < 0) Fail("Cannot create file", fileName, errno);

    int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
    for (std::size_t written = 0; error == 0 && written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno != EINTR) error = errno;
        if (n > 0) written += static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(partName.c_str());
        Fail("Cannot write file", fileName, error);
    }
    if (::rename(partName.c_str(), fileName.c_str()) != 0) {
        error = errno;
        ::unlink(partName.c_str());
        Fail("Cannot create file", fileName, error);
    }
}

}  // namespace tertulia
