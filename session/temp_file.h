#pragma once

#include <string>

namespace tertulia {

// The directory for temporary files: $TMPDIR when set and not empty, otherwise /tmp; always
// ending in "/".
std::string TempDirectory();

// Creates a new, empty file with a unique, unpredictable name beginning with "~tm" in
// TempDirectory(), readable and writable by its owner only, and returns its full name. The
// caller owns the file. Throws std::runtime_error("Error al crear archivo temporal").
std::string TempFileName();

}  // namespace tertulia
