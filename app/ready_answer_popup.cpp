#include "app/ready_answer_popup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "chat/ready_answer_filter.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

constexpr int kRowsShown = 8;

}  // namespace

ReadyAnswerPopup::ReadyAnswerPopup(QLineEdit& line) : QListWidget(&line), line_(line) {
    setWindowFlags(Qt::Popup);
    setObjectName(QStringLiteral("lbRespuestas"));
    setAccessibleName(QString::fromUtf8("Respuestas r\u00E1pidas"));
    setFont(line.font());
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { Take(item); });
}

void ReadyAnswerPopup::Offer(const std::vector<ReadyAnswer>& answers) {
    if (answers.empty()) {
        hide();
        return;
    }
    clear();
    for (const ReadyAnswer& answer : answers) {
        const QString text = ToQString(ReadyAnswerItemText(answer));
        auto* item = new QListWidgetItem(text, this);
        item->setData(Qt::UserRole, ToQString(ReadyAnswerLine(answer)));
        item->setData(Qt::AccessibleTextRole, text);
        item->setToolTip(text);
    }
    setCurrentRow(0);
    const int rows = std::min(count(), kRowsShown);
    const int height = rows * sizeHintForRow(0) + 2 * frameWidth();
    // Above the line, over the transcript: the line stays in sight as it is typed in.
    const QPoint corner = line_.mapToGlobal(QPoint(0, -height));
    setGeometry(corner.x(), corner.y(), std::max(line_.width(), 200), height);
    if (!isVisible()) {
        show();
        setFocus(Qt::PopupFocusReason);
    }
}

void ReadyAnswerPopup::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QListWidget::keyPressEvent(event);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
            Take(currentItem());
            return;
        case Qt::Key_Escape:
            hide();
            emit Dismissed();
            return;
        default:
            QApplication::sendEvent(&line_, event);
            return;
    }
}

void ReadyAnswerPopup::Take(const QListWidgetItem* item) {
    hide();
    if (item != nullptr) emit Chosen(item->data(Qt::UserRole).toString());
}

}  // namespace tertulia
