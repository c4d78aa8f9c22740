#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "tests/widgets/tray_host.h"

class QMessageBox;
class QWidget;

namespace tertulia {

// The one QApplication of the test program, made on first use.
void EnsureApplication();

// A first member or base that makes the application before any widget member is made.
struct WithApplication {
    WithApplication() { EnsureApplication(); }
};

// What a modal box showed, and which of its buttons the test pressed.
struct SeenBox {
    QString title;
    QString text;
    int icon = 0;
    QStringList buttons;
    QString defaultButton;   // empty when none
    bool plainText = false;  // the text is shown as it is, never read as markup
};

// Runs `open`, which shows a modal box; the box is read and closed with the button whose text is
// `press` (or with Escape when `press` is empty).
SeenBox ReadModalBox(const std::function<void()>& open, const QString& press);

// Saves the window's picture as <build>/screenshots/<name>.png.
void SaveScreenshot(QWidget& window, const QString& name);

}  // namespace tertulia
