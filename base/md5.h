#pragma once

#include <string>
#include <string_view>

#include "base/stream.h"

namespace tertulia {

// MD5 (RFC 1321) digests written as 32 upper-case hexadecimal characters, the form in which
// the password digest and the update file's digest travel to and from the service.
std::string Md5TextOfString(std::string_view text);

// Digest text of the stream's bytes from its position to its end; leaves it at its end.
// A stream that cannot be read throws.
std::string Md5TextOfStream(Stream& stream);

}  // namespace tertulia
