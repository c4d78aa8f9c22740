#pragma once

#include <QString>
#include <string>

namespace tertulia {

// The logic layer keeps text as Windows-1252 bytes; Qt keeps it as Unicode. These two convert at
// every boundary between them.
QString ToQString(const std::string& bytes);

// A character that Windows-1252 cannot hold becomes "?".
std::string ToWindows1252(const QString& text);

}  // namespace tertulia
