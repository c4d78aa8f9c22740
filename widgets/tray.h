#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The program's icon in the desktop's notification area, as the rest of the program sees it.

namespace tertulia {

class Tray;

// A picture the notification area can show; each desktop backend derives its own.
class IconPicture {
  public:
    virtual ~IconPicture() = default;
};

// An icon object: empty, or a shared picture. Its handle identifies the picture.
class TIcon {
  public:
    using Handle = std::shared_ptr<const IconPicture>;

    TIcon() = default;
    explicit TIcon(Handle picture) : picture_(std::move(picture)) {}

    void Assign(const TIcon& source) { picture_ = source.picture_; }
    const Handle& GetHandle() const { return picture_; }
    bool Empty() const { return picture_ == nullptr; }

  private:
    Handle picture_;
};

// The pictures an icon can be taken from, by position (an image list).
class TrayImageList {
  public:
    virtual ~TrayImageList() = default;
    virtual int Count() const = 0;
    // A copy of image `index` as an icon; index is within 0 .. Count() - 1.
    virtual TIcon GetIcon(int index) const = 0;
};

// A popup menu as the icon opens it.
class TrayPopupMenu {
  public:
    virtual ~TrayPopupMenu() = default;
    virtual bool AutoPopup() const = 0;
    virtual int ItemCount() const = 0;
    virtual bool ItemIsDefault(int index) const = 0;
    // Runs the item's click action.
    virtual void ClickItem(int index) = 0;
    // Records which tray opened the menu.
    virtual void SetPopupComponent(const Tray* component) = 0;
    // Shows the menu at a screen point; returns when it has closed.
    virtual void Popup(int x, int y) = 0;
};

// The icon in the notification area: a picture, a tip, pictures shown in turn, a menu and a
// double-click; minimising the main window can send the program there. Picture lists and menus
// are borrowed and must outlive the tray.
class Tray {
  public:
    virtual ~Tray() = default;

    // Puts the icon into the notification area, once it is set up; it stays there, coming
    // back when the area does, until the tray goes.
    virtual void Show() = 0;
    // False when the tray has asked that the main window not be shown at start.
    virtual bool ShowMainForm() const = 0;

    virtual void SetPicture(const TIcon& picture) = 0;
    // The empty text for no tip.
    virtual void SetTip(const std::string& tip) = 0;
    // Shows the pictures in turn from the first, one every `interval` milliseconds; nullptr
    // stops and leaves the picture of the moment until SetPicture.
    virtual void CyclePictures(TrayImageList* pictures, std::uint32_t interval) = 0;

    // The menu opens on a right click, and on a left click too when `onLeftClick`; otherwise a
    // double-click also runs its default item.
    virtual void SetMenu(TrayPopupMenu* menu, bool onLeftClick) = 0;
    virtual void SetOnDoubleClick(std::function<void()> handler) = 0;
    // Whether minimising the main window hides it into the notification area.
    virtual void SetMinimizeToTray(bool value) = 0;
};

}  // namespace tertulia
