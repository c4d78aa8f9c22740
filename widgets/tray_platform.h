#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/timer.h"

// What the notification-area icon needs of the desktop, as small interfaces that a desktop
// backend implements and tests replace with recording doubles.

namespace tertulia {

class TTrayIcon;

using WindowHandle = std::uintptr_t;

struct WindowMessage {
    unsigned message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// What a window does with a message; the result goes back to the sender.
using WindowProcedure = std::function<std::intptr_t(const WindowMessage&)>;

// Window messages the icon reacts to or sends, with their Windows numbers.
constexpr unsigned WM_NULL = 0x0000;
constexpr unsigned WM_SIZE = 0x0005;
constexpr unsigned WM_ACTIVATE = 0x0006;
constexpr unsigned WM_QUERYENDSESSION = 0x0011;
constexpr unsigned WM_SHOWWINDOW = 0x0018;
constexpr unsigned WM_MOUSEMOVE = 0x0200;
constexpr unsigned WM_LBUTTONDOWN = 0x0201;
constexpr unsigned WM_LBUTTONUP = 0x0202;
constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
constexpr unsigned WM_RBUTTONDOWN = 0x0204;
constexpr unsigned WM_RBUTTONUP = 0x0205;
constexpr unsigned WM_RBUTTONDBLCLK = 0x0206;
constexpr unsigned WM_MBUTTONDOWN = 0x0207;
constexpr unsigned WM_MBUTTONUP = 0x0208;
constexpr unsigned WM_MBUTTONDBLCLK = 0x0209;

constexpr std::uintptr_t SIZE_RESTORED = 0;
constexpr std::uintptr_t SIZE_MINIMIZED = 1;
constexpr std::uintptr_t WA_ACTIVE = 1;
constexpr std::uintptr_t WA_CLICKACTIVE = 2;

constexpr int SW_HIDE = 0;
constexpr int SW_RESTORE = 9;

constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;

// A picture the notification-area service can show; each desktop backend derives its own.
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

// The images an icon can be taken from, by position (an image list).
class TrayImageList {
  public:
    virtual ~TrayImageList() = default;
    virtual int Count() const = 0;
    // A copy of image `index` as an icon; index is within 0 .. Count() - 1.
    virtual TIcon GetIcon(int index) const = 0;
};

// The icon record handed to the notification-area service.
struct TNotifyIconData {
    static constexpr std::uint32_t kSize = 488;
    static constexpr std::size_t kTipSize = 128;

    std::uint32_t cbSize = 0;
    WindowHandle hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    TIcon::Handle hIcon;
    std::array<char, kTipSize> szTip{};

    // The tip as text: the bytes before the first zero.
    std::string Tip() const { return std::string(szTip.data(), strnlen(szTip.data(), kTipSize)); }
};

constexpr std::uint32_t NIF_MESSAGE = 0x1;
constexpr std::uint32_t NIF_ICON = 0x2;
constexpr std::uint32_t NIF_TIP = 0x4;

enum TNotifyMessage : unsigned { NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2 };

// The desktop's notification area.
class NotifyAreaService {
  public:
    virtual ~NotifyAreaService() = default;
    // Adds, modifies or deletes the icon the record describes; true when the area accepted it.
    virtual bool NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) = 0;
};

// A popup menu as the icon uses it.
class TrayPopupMenu {
  public:
    virtual ~TrayPopupMenu() = default;
    virtual bool AutoPopup() const = 0;
    virtual int ItemCount() const = 0;
    virtual bool ItemIsDefault(int index) const = 0;
    // Runs the item's click action.
    virtual void ClickItem(int index) = 0;
    // Records which component opened the menu.
    virtual void SetPopupComponent(const TTrayIcon* component) = 0;
    // Shows the menu at a screen point; returns when it has closed.
    virtual void Popup(int x, int y) = 0;
};

// The control that has the keyboard focus, and the window of its parent (its own window when it
// has no parent).
struct ActiveControl {
    WindowHandle window = 0;
    WindowHandle parentWindow = 0;
};

// The application and owner windows and the other desktop services the icon uses.
class TrayDesktop {
  public:
    virtual ~TrayDesktop() = default;

    virtual unsigned RegisterWindowMessage(const std::string& name) = 0;
    // The icon's hidden window, whose messages go to `procedure`.
    virtual WindowHandle AllocateHiddenWindow(WindowProcedure procedure) = 0;
    virtual void DeallocateHiddenWindow(WindowHandle window) = 0;
    // The icon-cycling timer.
    virtual std::unique_ptr<Timer> CreateTimer() = 0;

    // Every message of the application's (owner's) window passes through the procedure given
    // here first; each returns the procedure it replaces.
    virtual WindowProcedure ReplaceAppWindowProcedure(WindowProcedure procedure) = 0;
    virtual bool HasOwner() const = 0;
    virtual WindowProcedure ReplaceOwnerWindowProcedure(WindowProcedure procedure) = 0;

    virtual void ProcessMessages() = 0;
    // Whether the main form is shown when the application starts.
    virtual void SetShowMainForm(bool show) = 0;
    virtual bool HasMainForm() const = 0;
    virtual void SetMainFormVisible(bool visible) = 0;
    virtual void ShowAppWindow(int command) = 0;
    virtual void SetForegroundAppWindow() = 0;
    virtual void SetForegroundOwnerWindow() = 0;
    virtual void PostNullToOwner() = 0;
    virtual std::optional<ActiveControl> ScreenActiveControl() const = 0;
    virtual void SetFocus(WindowHandle window) = 0;
};

struct TPoint {
    int x = 0;
    int y = 0;
};

// Mouse position and modifier keys, read when a message is handled.
class TrayInput {
  public:
    virtual ~TrayInput() = default;
    // Screen coordinates; empty when the position cannot be read.
    virtual std::optional<TPoint> CursorPos() const = 0;
    virtual bool KeyPressed(int virtualKey) const = 0;
};

}  // namespace tertulia
