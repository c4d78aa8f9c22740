#include "widgets/qt/popup_menu.h"

#include <QAction>

namespace tertulia {

QtPopupMenu::QtPopupMenu() : menu_(std::make_unique<QMenu>()) {}

QtPopupMenu::~QtPopupMenu() = default;

void QtPopupMenu::AddItem(const QString& text, bool isDefault, std::function<void()> onClick) {
    QAction* action = menu_->addAction(text);
    QObject::connect(action, &QAction::triggered, menu_.get(), [onClick = std::move(onClick)] {
        if (onClick) onClick();
    });
    if (isDefault) {
        QFont font = action->font();
        font.setBold(true);
        action->setFont(font);
        if (menu_->defaultAction() == nullptr) menu_->setDefaultAction(action);
    }
    items_.push_back({action, isDefault});
}

void QtPopupMenu::AddSeparator() {
    items_.push_back({menu_->addSeparator(), false});
}

bool QtPopupMenu::ItemIsDefault(int index) const {
    return index >= 0 && index < ItemCount() && items_[static_cast<std::size_t>(index)].isDefault;
}

void QtPopupMenu::ClickItem(int index) {
    if (index < 0 || index >= ItemCount()) return;
    items_[static_cast<std::size_t>(index)].action->trigger();
}

void QtPopupMenu::Popup(int x, int y) {
    menu_->exec(QPoint(x, y));
}

}  // namespace tertulia
