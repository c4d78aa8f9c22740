#pragma once

#include <QString>

class QWidget;

namespace tertulia {

// The program's modal boxes, with literal titles and button texts.

// "Error" with the text and "OK".
void ShowErrorBox(QWidget* parent, const QString& text);

// "Confirm" with "OK" (the default) and "Cancel" (Escape); true only when OK was chosen.
bool AskConfirmation(QWidget* parent, const QString& text);

// The given caption, a warning icon and "OK".
void ShowWarningBox(QWidget* parent, const QString& caption, const QString& text);

// The application's top-level error report: "Tertulia", an error icon and "OK".
void ShowApplicationErrorBox(QWidget* parent, const QString& text);

}  // namespace tertulia
