#pragma once

#include <QMenu>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "widgets/tray.h"

class QAction;

namespace tertulia {

// A popup menu on QMenu. Items are counted as they were added, separators included.
class QtPopupMenu : public TrayPopupMenu {
  public:
    QtPopupMenu();
    ~QtPopupMenu() override;

    // A default item is shown in bold.
    void AddItem(const QString& text, bool isDefault, std::function<void()> onClick);
    void AddSeparator();

    // The console's menu opens whenever the icon asks for it.
    bool AutoPopup() const override { return true; }
    int ItemCount() const override { return static_cast<int>(items_.size()); }
    bool ItemIsDefault(int index) const override;
    void ClickItem(int index) override;
    // Each item's action is bound to it when added: the menu needs no word of who opened it.
    void SetPopupComponent(const Tray*) override {}
    // Runs the menu's own event loop until it closes.
    void Popup(int x, int y) override;

    QMenu& Menu() { return *menu_; }

  private:
    struct Item {
        QAction* action;
        bool isDefault;
    };

    std::unique_ptr<QMenu> menu_;
    std::vector<Item> items_;
};

}  // namespace tertulia
