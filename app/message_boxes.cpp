#include "app/message_boxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace tertulia {

namespace {

// A hidden parent would place the box off screen; such a box stands on its own.
QWidget* VisibleOrNone(QWidget* parent) {
    return parent != nullptr && parent->isVisible() ? parent : nullptr;
}

// The texts are replies and failure messages, shown as they came, never read as markup.
void ShowOkBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
               const std::function<void(QMessageBox&)>& opened = {}) {
    QMessageBox box(icon, title, text, QMessageBox::NoButton, VisibleOrNone(parent));
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    if (opened) opened(box);
    box.exec();
}

}  // namespace

void ShowErrorBox(QWidget* parent, const QString& text,
                  const std::function<void(QMessageBox&)>& opened) {
    ShowOkBox(parent, QMessageBox::Critical, QStringLiteral("Error"), text, opened);
}

void CloseOkBox(QMessageBox& box) {
    // Its one button, OK, is the default one.
    if (QPushButton* ok = box.defaultButton()) ok->click();
}

bool AskConfirmation(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                    VisibleOrNone(parent));
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok;
}

void ShowWarningBox(QWidget* parent, const QString& caption, const QString& text) {
    ShowOkBox(parent, QMessageBox::Warning, caption, text);
}

void ShowApplicationErrorBox(QWidget* parent, const QString& text) {
    ShowOkBox(parent, QMessageBox::Critical, QStringLiteral("Tertulia"), text);
}

}  // namespace tertulia
