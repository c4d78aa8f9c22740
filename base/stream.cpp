#include "base/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tertulia {

namespace {

[[noreturn]] void ThrowFileError(const std::string& action, const std::string& fileName,
                                 int error) {
    throw std::runtime_error(action + " \"" + fileName + "\". " + std::strerror(error));
}

}  // namespace

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (position_ >= size) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - position_, count));
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

void MemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return;
    const auto end = static_cast<std::size_t>(position_) + count;
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, count);
    position_ = static_cast<std::int64_t>(end);
}

void MemoryStream::Seek(std::int64_t position) {
    if (position < 0) throw std::runtime_error("Stream seek error");
    position_ = position;
}

void MemoryStream::SetSize(std::int64_t size) {
    if (size < 0) throw std::runtime_error("Stream size error");
    bytes_.resize(static_cast<std::size_t>(size));
    position_ = std::min(position_, size);
}

FileStream::FileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    const int flags =
        mode == Mode::Create ? (O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC);
    fd_ = ::open(fileName.c_str(), flags, S_IRUSR | S_IWUSR);
    if (fd_ < 0) ThrowFileError("Cannot open file", fileName, errno);
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t FileStream::Read(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) ThrowFileError("Cannot read file", fileName_, errno);
    }
}

void FileStream::Write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t n = ::write(fd_, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot write file", fileName_, errno);
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

std::int64_t FileStream::Position() const {
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) ThrowFileError("Cannot seek file", fileName_, errno);
    return position;
}

void FileStream::Seek(std::int64_t position) {
    if (::lseek(fd_, position, SEEK_SET) < 0) ThrowFileError("Cannot seek file", fileName_, errno);
}

std::int64_t FileStream::Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) ThrowFileError("Cannot read file", fileName_, errno);
    return info.st_size;
}

void FileStream::SetSize(std::int64_t size) {
    if (::ftruncate(fd_, size) != 0) ThrowFileError("Cannot write file", fileName_, errno);
    if (Position() > size) Seek(size);
}

void FileStream::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int syncError = errno;
    if (::close(fd) != 0) ThrowFileError("Cannot write file", fileName_, errno);
    if (!synced) ThrowFileError("Cannot write file", fileName_, syncError);
}

}  // namespace tertulia
