#pragma once

#include <string>

namespace tertulia {

// Writes a conversation's transcript to a text file: exactly its bytes, every line break as
// CR LF, nothing added at the end. The file is written to a new file in the same directory and
// then renamed over the name, so the name holds the complete transcript or its earlier content;
// an existing file that may not be written is not replaced.
// Throws std::runtime_error naming the full path and the system's reason when it cannot.
void WriteTranscriptFile(const std::string& fileName, const std::string& text);

// The text with every CR LF, lone CR and lone LF written as CR LF.
std::string WithCrLfLineBreaks(const std::string& text);

}  // namespace tertulia
