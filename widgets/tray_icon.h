#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "widgets/tray_platform.h"

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

enum TOperation { opInsert, opRemove };

// The application's icon in the desktop's notification area: turns mouse actions on it into
// events, opens a popup menu there, and can send the application to the notification area when
// it is minimised. The desktop is reached only through the interfaces of tray_platform.h.
//
// Life cycle as a form uses it: construct, set the stored properties, then Loaded(). The
// platform objects must outlive the icon.
class TTrayIcon {
  public:
    struct Platform {
        NotifyAreaService& notifyArea;
        TrayDesktop& desktop;
        TrayInput& input;
    };

    static constexpr std::uint32_t kCallbackMessage = 0x0800;
    static constexpr std::uint32_t kIconId = 1;

    // `designing`: the icon sits in a form designer; it then replaces no window procedures and
    // shows itself only while DesignPreview is true.
    explicit TTrayIcon(const Platform& platform, bool designing = false);
    virtual ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Runs once all stored properties have been set.
    void Loaded();

    bool DesignPreview() const { return designPreview_; }
    void SetDesignPreview(bool value);
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
    void SetMinimizeToTray(bool value) { minimizeToTray_ = value; }

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

    // The procedures of the hidden window and the two hooked windows.
    std::intptr_t TrayWindowProc(const WindowMessage& message);
    std::intptr_t AppWindowHook(const WindowMessage& message);
    std::intptr_t OwnerWindowHook(const WindowMessage& message);

    // Told by the common owner when a component goes away; pass the same object that was given
    // to SetIconList or SetPopupMenu.
    void Notification(const TrayImageList* component, TOperation operation);
    void Notification(const TrayPopupMenu* component, TOperation operation);

  protected:
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoCycle(int nextIndex);
    virtual void DoMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoMouseMove(TShiftState shift, int x, int y);
    virtual void HandleMinimize();

    // Fills the record's icon and tip; false when no request may be made now.
    bool PrepareIconData();

  private:
    void CycleStep();
    void HandleIconMouse(unsigned mouseMessage);
    TShiftState ModifierKeys() const;
    void ClickDefaultItem();

    Platform platform_;
    const bool designing_;

    bool designPreview_ = false;
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

    TNotifyIconData iconData_;
    unsigned taskbarCreated_ = 0;
    std::unique_ptr<Timer> cycleTimer_;
    bool clickPending_ = false;
    bool previewSwitch_ = false;
    bool appHooked_ = false;
    bool ownerHooked_ = false;
    WindowProcedure savedAppProcedure_;
    WindowProcedure savedOwnerProcedure_;
};

}  // namespace tertulia
