#pragma once

#include <QString>

namespace tertulia {

// The logic's texts break lines with CR LF (or a lone CR or LF); Qt's text widgets with LF and
// their own separators. Every conversion between them is here.

// A text for a Qt text widget: every CR LF, CR or LF becomes one LF.
QString WithLineFeeds(QString text);

// A plain-text document's raw text for the logic: paragraph and line separators become CR LF.
QString WithCrLf(QString text);

// A text for a one-line display: every line break becomes one blank.
QString OnOneLine(QString text);

}  // namespace tertulia
