#pragma once

#include <QString>

#include <string>

namespace tertulia {

// Windows-1252 bytes as Qt text; 0x80-0x9F are the code page's letters and signs, not controls.
QString FromWindows1252(const std::string& bytes);

}  // namespace tertulia
