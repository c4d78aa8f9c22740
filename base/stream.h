#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tertulia {

// A seekable byte stream owned by the caller: what a download is written into and what a
// digest is computed from. Failures are thrown as std::runtime_error with a message.
class Stream {
  public:
    virtual ~Stream() = default;

    // Reads up to `count` bytes at the position and advances it; returns the number read,
    // 0 at the end.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes all `count` bytes at the position, growing the stream when needed.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Position() const = 0;
    virtual void Seek(std::int64_t position) = 0;
    virtual std::int64_t Size() const = 0;
    // Grows or cuts the stream; the position is kept unless it lies past the new end.
    virtual void SetSize(std::int64_t size) = 0;
};

// A stream held in memory.
class MemoryStream : public Stream {
  public:
    MemoryStream() = default;
    explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Position() const override { return position_; }
    void Seek(std::int64_t position) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    void SetSize(std::int64_t size) override;

    const std::string& Bytes() const { return bytes_; }

  private:
    std::string bytes_;
    std::int64_t position_ = 0;
};

// A stream over a file, through a POSIX file descriptor that it owns.
class FileStream : public Stream {
  public:
    enum class Mode {
        Create,  // created anew and empty, or emptied; owner-only permissions
        Read,    // existing file, read only
    };
    // Throws std::runtime_error "Cannot open file "NAME". REASON" when the file cannot be opened.
    FileStream(const std::string& fileName, Mode mode);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Position() const override;
    void Seek(std::int64_t position) override;
    std::int64_t Size() const override;
    void SetSize(std::int64_t size) override;

    // Flushes to the disk and closes; a failure is thrown, unlike in the destructor.
    void Close();

  private:
    int fd_ = -1;
    std::string fileName_;
};

}  // namespace tertulia
