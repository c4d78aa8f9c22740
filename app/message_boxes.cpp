#include "app/message_boxes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

namespace tertulia {

namespace {

// A hidden parent would place the box off screen; such a box stands on its own.
QWidget* VisibleOrNone(QWidget* parent) {
    return parent != nullptr && parent->isVisible() ? parent : nullptr;
}

bool IsKeyEvent(const QEvent& event) {
    switch (event.type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
            return true;
        default:
            return false;
    }
}

// Keeps the keyboard away from an unbidden box for its first second, and gives the focus back
// where it was once the box is done.
class UnbiddenBox : public QObject {
  public:
    explicit UnbiddenBox(QMessageBox& box) : box_(&box), focus_(QApplication::focusWidget()) {
        QObject::connect(&box, &QDialog::finished, this, [this] { GiveFocusBack(); });
        qApp->installEventFilter(this);
        opened_.start();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsKeyEvent(*event) || opened_.hasExpired(kUnbiddenBoxDeafMilliseconds)) return false;
        return Within(watched);
    }

  private:
    bool Within(QObject* watched) const {
        if (box_.isNull()) return false;
        if (watched == box_->windowHandle()) return true;
        const auto* widget = qobject_cast<const QWidget*>(watched);
        return widget != nullptr && (widget == box_ || box_->isAncestorOf(widget));
    }

    void GiveFocusBack() {
        if (focus_.isNull() || !focus_->isVisible() || box_->isAncestorOf(focus_)) return;
        focus_->window()->activateWindow();
        focus_->setFocus(Qt::ActiveWindowFocusReason);
    }

    QPointer<QMessageBox> box_;
    QPointer<QWidget> focus_;  // before the box opened
    QElapsedTimer opened_;
};

// Waits for the box's answer; an unbidden one guarded as UnbiddenBox says.
void Run(QMessageBox& box, Opener opener) {
    if (opener == Opener::Operator) {
        box.exec();
        return;
    }
    const UnbiddenBox unbidden(box);
    box.exec();
}

// The texts are replies and failure messages, shown as they came, never read as markup.
void ShowOkBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
               Opener opener, const std::function<void(QMessageBox&)>& opened = {}) {
    QMessageBox box(icon, title, text, QMessageBox::NoButton, VisibleOrNone(parent));
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    if (opened) opened(box);
    Run(box, opener);
}

}  // namespace

void ShowErrorBox(QWidget* parent, const QString& text, Opener opener,
                  const std::function<void(QMessageBox&)>& opened) {
    ShowOkBox(parent, QMessageBox::Critical, QStringLiteral("Error"), text, opener, opened);
}

void CloseOkBox(QMessageBox& box) {
    // Its one button, OK, is the default one.
    if (QPushButton* ok = box.defaultButton()) ok->click();
}

bool AskConfirmation(QWidget* parent, const QString& text, Opener opener) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                    VisibleOrNone(parent));
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel);
    Run(box, opener);
    return box.clickedButton() == ok;
}

void ShowWarningBox(QWidget* parent, const QString& caption, const QString& text, Opener opener) {
    ShowOkBox(parent, QMessageBox::Warning, caption, text, opener);
}

void ShowApplicationErrorBox(QWidget* parent, const QString& text, Opener opener,
                             const std::function<void(QMessageBox&)>& opened) {
    ShowOkBox(parent, QMessageBox::Critical, QStringLiteral("Tertulia"), text, opener, opened);
}

}  // namespace tertulia
