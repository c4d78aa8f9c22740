#pragma once

#include <QString>
#include <functional>

class QMessageBox;
class QWidget;

namespace tertulia {

// The program's modal boxes, with literal titles and button texts.

// What opened a box. An unbidden box (a timer's, an event stream's, a posted message's, not one
// that answers the operator's own click or key) may come up while the operator types for
// another window: it ignores key presses for its first second, so that such keys neither answer
// it nor fall into whatever gets the keyboard after it, and when it closes the keyboard focus
// goes back to the window and control that had it before it opened.
enum class Opener { Operator, Unbidden };

inline constexpr int kUnbiddenBoxDeafMilliseconds = 1000;

// "Error" with the text and "OK". `opened`, when given, gets the box before it waits, so that
// the caller can close it as OK would (CloseOkBox); the box is gone once this returns.
void ShowErrorBox(QWidget* parent, const QString& text, Opener opener = Opener::Operator,
                  const std::function<void(QMessageBox&)>& opened = {});
// Presses the OK of a box that ShowErrorBox or ShowApplicationErrorBox has open.
void CloseOkBox(QMessageBox& box);

// "Confirm" with "OK" (the default) and "Cancel" (Escape); true only when OK was chosen.
bool AskConfirmation(QWidget* parent, const QString& text, Opener opener = Opener::Operator);

// The given caption, a warning icon and "OK".
void ShowWarningBox(QWidget* parent, const QString& caption, const QString& text,
                    Opener opener = Opener::Operator);

// The application's top-level error report: "Tertulia", an error icon and "OK"; `opened` as
// for ShowErrorBox.
void ShowApplicationErrorBox(QWidget* parent, const QString& text, Opener opener = Opener::Operator,
                             const std::function<void(QMessageBox&)>& opened = {});

}  // namespace tertulia
