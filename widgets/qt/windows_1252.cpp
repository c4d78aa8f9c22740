#include "widgets/qt/windows_1252.h"

#include "text/windows_1252.h"

namespace tertulia {

QString ToQString(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char byte : bytes) {
        // Every code point of the table lies in the Basic Multilingual Plane.
        text.append(
            QChar(static_cast<char16_t>(UnicodeOfWindows1252(static_cast<unsigned char>(byte)))));
    }
    return text;
}

std::string ToWindows1252(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        // A character outside the Basic Multilingual Plane is one "?", not two.
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ++i;
        // A lone surrogate is no character; it cannot be held either.
        const auto byte = unit.isSurrogate() ? std::nullopt : Windows1252Of(unit.unicode());
        bytes.push_back(byte ? static_cast<char>(*byte) : '?');
    }
    return bytes;
}

}  // namespace tertulia
