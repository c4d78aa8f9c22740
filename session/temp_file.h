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

// What the self-update does with a downloaded file.

// The name under which a verified download is started: its full name with ".exe" appended.
std::string ProgramNameOf(const std::string& fileName);
// Moves the file to the new name; false when it could not, and then nothing has changed.
bool MoveFile(const std::string& from, const std::string& to);
// Makes the file readable, writable and executable by its owner only.
void MakeExecutable(const std::string& fileName);
// Deletes the file; one that is already gone is no failure.
void RemoveFile(const std::string& fileName);

}  // namespace tertulia
