#include "tools/tool_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tools/commands.h"

namespace tertulia::tool {

namespace {

std::size_t ReadSome(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, count);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw std::runtime_error(std::string("Cannot read standard input. ") +
                                     std::strerror(errno));
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

[[noreturn]] void NotSupported() {
    throw std::runtime_error("Standard input can only be read forward");
}

}  // namespace

std::string ReadStandardInput() {
    std::string bytes;
    std::size_t used = 0;
    for (;;) {
        if (bytes.size() - used < 65536) bytes.resize(bytes.size() * 2 + 65536);
        const std::size_t n = ReadSome(bytes.data() + used, bytes.size() - used);
        if (n == 0) break;
        used += n;
    }
    bytes.resize(used);
    return bytes;
}

bool WriteOut(std::string_view bytes) {
    return WriteAll(STDOUT_FILENO, bytes);
}

bool WriteError(std::string_view bytes) {
    return WriteAll(STDERR_FILENO, bytes);
}

int Fail(std::string_view message) {
    WriteError(std::string(message) + "\n");
    return kExitFailure;
}

std::size_t StandardInputStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = ReadSome(buffer, count);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

void StandardInputStream::Write(const void*, std::size_t) {
    NotSupported();
}
void StandardInputStream::Seek(std::int64_t) {
    NotSupported();
}
std::int64_t StandardInputStream::Size() const {
    NotSupported();
}
void StandardInputStream::SetSize(std::int64_t) {
    NotSupported();
}

}  // namespace tertulia::tool
