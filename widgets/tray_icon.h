#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/timer.h"
#include "widgets/tray.h"

namespace tertulia {

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// A set of modifier keys and mouse buttons.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1u << 0;
constexpr TShiftState ssAlt = 1u << 1;
constexpr TShiftState ssCtrl = 1u << 2;
constexpr TShiftState ssLeft = 1u << 3;
constexpr TShiftState ssRight = 1u << 4;
constexpr TShiftState ssMiddle = 1u << 5;

struct TPoint {
    int x = 0;
    int y = 0;
};

// What the mouse did on the icon, as the desktop reports it.
enum class TrayMouse {
    Move,
    LeftDown,
    LeftUp,
    LeftDblClick,
    RightDown,
    RightUp,
    MiddleDown,
    MiddleUp
};

enum class TrayRequest { Add, Modify, Delete };

class TTrayIcon;

// What the icon needs of the desktop; a desktop backend implements it, tests record it.
class TrayDesktop {
  public:
    virtual ~TrayDesktop() = default;

    // Where the desktop's reports about the icon and the main window go from now on.
    virtual void Attach(TTrayIcon& icon) = 0;
    // Adds, changes or takes away the icon; true when the notification area accepted it.
    virtual bool NotifyIcon(TrayRequest request, const TIcon& icon, const std::string& tip) = 0;
    virtual std::unique_ptr<Timer> CreateTimer() = 0;
    // Screen coordinates; empty when the position cannot be read.
    virtual std::optional<TPoint> CursorPos() const = 0;
    // Shift, Alt and Ctrl as pressed now.
    virtual TShiftState ModifierKeys() const = 0;
    virtual void ProcessMessages() = 0;
    // The main window leaves the screen and the taskbar.
    virtual void HideMainForm() = 0;
    // The main window is no longer minimised.
    virtual void RestoreMainForm() = 0;
    virtual void BringMainFormToFront() = 0;
};

// The application's icon in the desktop's notification area: turns mouse actions on it into
// events, opens a popup menu there, and can send the application to the notification area when
// it is minimised. The program sets it up through Tray; the properties and events are the
// component's own.
class TTrayIcon : public Tray {
  public:
    explicit TTrayIcon(std::unique_ptr<TrayDesktop> desktop);
    ~TTrayIcon() override;
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Runs once all properties have been set up: this is when the icon is added.
    void Loaded();

    TrayImageList* IconList() const { return iconList_; }
    void SetIconList(TrayImageList* value);
    bool CycleIcons() const { return cycleIcons_; }
    void SetCycleIcons(bool value);
    std::uint32_t CycleInterval() const { return cycleInterval_; }
    void SetCycleInterval(std::uint32_t value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool value);
    const TIcon& Icon() const { return icon_; }
    void SetIcon(const TIcon& value);
    bool IconVisible() const { return iconVisible_; }
    void SetIconVisible(bool value);
    int IconIndex() const { return iconIndex_; }
    void SetIconIndex(int value);
    TrayPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TrayPopupMenu* value) { popupMenu_ = value; }
    bool LeftPopup() const { return leftPopup_; }
    void SetLeftPopup(bool value) { leftPopup_ = value; }
    bool StartMinimized() const { return startMinimized_; }
    void SetStartMinimized(bool value) { startMinimized_ = value; }
    bool MinimizeToTray() const { return minimizeToTray_; }
    void SetMinimizeToTray(bool value) override { minimizeToTray_ = value; }

    std::function<void(TTrayIcon& sender)> OnClick;
    std::function<void(TTrayIcon& sender)> OnDblClick;
    std::function<void(TTrayIcon& sender, TMouseButton, TShiftState, int x, int y)> OnMouseDown;
    std::function<void(TTrayIcon& sender, TMouseButton, TShiftState, int x, int y)> OnMouseUp;
    std::function<void(TTrayIcon& sender, TShiftState, int x, int y)> OnMouseMove;
    std::function<void(TTrayIcon& sender, int NextIndex)> OnCycle;

    // Each returns whether the notification area accepted the request.
    virtual bool AddIcon();
    virtual bool RemoveIcon();
    virtual bool UpdateIcon();

    void ShowPopupMenu();

    // What the desktop reports.
    void MouseOnIcon(TrayMouse action);
    void MainFormMinimized();
    // Shown by the program's request, not by the window system.
    void MainFormShown();
    // The desktop's notification area has been made anew, empty.
    void NotificationAreaCreated();

    // Tray.
    void Show() override { Loaded(); }
    bool ShowMainForm() const override { return showMainForm_; }
    void SetPicture(const TIcon& picture) override { SetIcon(picture); }
    void SetTip(const std::string& tip) override;
    void CyclePictures(TrayImageList* pictures, std::uint32_t interval) override;
    void SetMenu(TrayPopupMenu* menu, bool onLeftClick) override;
    void SetOnDoubleClick(std::function<void()> handler) override;

  protected:
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoCycle(int nextIndex);
    virtual void DoMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoMouseMove(TShiftState shift, int x, int y);
    virtual void HandleMinimize();

  private:
    bool Request(TrayRequest request);
    void CycleStep();
    void ClickDefaultItem();

    std::unique_ptr<TrayDesktop> desktop_;

    TrayImageList* iconList_ = nullptr;
    bool cycleIcons_ = false;
    std::uint32_t cycleInterval_ = 0;
    bool enabled_ = true;
    std::string hint_;
    bool showHint_ = false;
    TIcon icon_;
    bool iconVisible_ = true;
    int iconIndex_ = 0;
    TrayPopupMenu* popupMenu_ = nullptr;
    bool leftPopup_ = false;
    bool startMinimized_ = false;
    bool minimizeToTray_ = false;

    std::unique_ptr<Timer> cycleTimer_;
    bool clickPending_ = false;
    bool showMainForm_ = true;
};

}  // namespace tertulia
