#pragma once

#include <QString>
#include <functional>

class QMessageBox;
class QWidget;

namespace tertulia {

// The program's modal boxes, with literal titles and button texts.

// "Error" with the text and "OK". `opened`, when given, gets the box before it waits, so that
// the caller can close it as OK would (CloseOkBox); the box is gone once this returns.
void ShowErrorBox(QWidget* parent, const QString& text,
                  const std::function<void(QMessageBox&)>& opened = {});
// Presses the OK of a box that ShowErrorBox has open.
void CloseOkBox(QMessageBox& box);

// "Confirm" with "OK" (the default) and "Cancel" (Escape); true only when OK was chosen.
bool AskConfirmation(QWidget* parent, const QString& text);

// The given caption, a warning icon and "OK".
void ShowWarningBox(QWidget* parent, const QString& caption, const QString& text);

// The application's top-level error report: "Tertulia", an error icon and "OK".
void ShowApplicationErrorBox(QWidget* parent, const QString& text);

}  // namespace tertulia
