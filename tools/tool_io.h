#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/stream.h"

namespace tertulia::tool {

// Raw bytes in and out of the standard descriptors: no buffering layer, no conversion.

// The whole of standard input; throws std::runtime_error when it cannot be read.
std::string ReadStandardInput();

// Writes all bytes to standard output / standard error; false when that fails.
bool WriteOut(std::string_view bytes);
bool WriteError(std::string_view bytes);

// Prints a failure message and a line feed to standard error; returns kExitFailure.
int Fail(std::string_view message);

// Standard input as a read-only, forward-only stream, for digests of unbounded input.
class StandardInputStream : public Stream {
  public:
    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Position() const override { return position_; }
    void Seek(std::int64_t position) override;
    std::int64_t Size() const override;
    void SetSize(std::int64_t size) override;

  private:
    std::int64_t position_ = 0;
};

}  // namespace tertulia::tool
