#include "qt_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

// Read by LeakSanitizer in the sanitizer build: fontconfig keeps allocations for the process's
// life.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace tertulia {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "app_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own globals go first at exit, and a reachable application is no leak.
    static QApplication* application = new QApplication(argc, argv);
    Q_UNUSED(application);
    QApplication::setQuitOnLastWindowClosed(false);
}

SeenBox ReadModalBox(const std::function<void()>& open, const QString& press) {
    SeenBox seen;
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
        if (box->defaultButton() != nullptr) seen.defaultButton = box->defaultButton()->text();
        seen.plainText = box->textFormat() == Qt::PlainText;
        if (press.isEmpty()) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(box, &escape);
            return;
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == press) button->click();
        }
    });
    open();
    return seen;
}

void SaveScreenshot(QWidget& window, const QString& name) {
    QDir().mkpath(QStringLiteral(TERTULIA_SCREENSHOT_DIR));
    window.grab().save(QStringLiteral(TERTULIA_SCREENSHOT_DIR "/") + name + QStringLiteral(".png"));
}

}  // namespace tertulia
