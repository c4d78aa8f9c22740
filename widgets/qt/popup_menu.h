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
    void SetAutoPopup(bool value) { autoPopup_ = value; }

    bool AutoPopup() const override { return autoPopup_; }
    int ItemCount() const override { return static_cast<int>(items_.size()); }
    bool ItemIsDefault(int index) const override;
    void ClickItem(int index) override;
    void SetPopupComponent(const TTrayIcon* component) override { popupComponent_ = component; }
    // Runs the menu's own event loop until it closes.
    void Popup(int x, int y) override;

    const TTrayIcon* PopupComponent() const { return popupComponent_; }
    QMenu& Menu() { return *menu_; }

  private:
    struct Item {
        QAction* action;
        bool isDefault;
    };

    std::unique_ptr<QMenu> menu_;
    std::vector<Item> items_;
    bool autoPopup_ = true;
    const TTrayIcon* popupComponent_ = nullptr;
};

}  // namespace tertulia
