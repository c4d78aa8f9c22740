#include "widgets/tray_icon.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tertulia {

TTrayIcon::TTrayIcon(const Platform& platform, bool designing)
    : platform_(platform), designing_(designing) {
    TrayDesktop& desktop = platform_.desktop;
    // Every instance registers it; the desktop answers with the same identifier each time.
    taskbarCreated_ = desktop.RegisterWindowMessage("TaskbarCreated");

    iconData_.cbSize = TNotifyIconData::kSize;
    iconData_.hWnd = desktop.AllocateHiddenWindow(
        [this](const WindowMessage& message) { return TrayWindowProc(message); });
    iconData_.uID = kIconId;
    iconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    iconData_.uCallbackMessage = kCallbackMessage;

    cycleTimer_ = desktop.CreateTimer();
    cycleTimer_->SetEnabled(false);
    cycleTimer_->SetInterval(static_cast<int>(cycleInterval_));
    cycleTimer_->SetHandler([this] { CycleStep(); });

    if (!designing_) {
        savedAppProcedure_ = desktop.ReplaceAppWindowProcedure(
            [this](const WindowMessage& message) { return AppWindowHook(message); });
        appHooked_ = true;
        if (desktop.HasOwner()) {
            savedOwnerProcedure_ = desktop.ReplaceOwnerWindowProcedure(
                [this](const WindowMessage& message) { return OwnerWindowHook(message); });
            ownerHooked_ = true;
        }
    }
}

TTrayIcon::~TTrayIcon() {
    SetIconVisible(false);
    icon_ = TIcon();
    TrayDesktop& desktop = platform_.desktop;
    desktop.DeallocateHiddenWindow(iconData_.hWnd);
    cycleTimer_.reset();
    // The saved procedures go back even when empty, so that no hook calls into a dead icon.
    if (appHooked_) desktop.ReplaceAppWindowProcedure(std::move(savedAppProcedure_));
    if (ownerHooked_) desktop.ReplaceOwnerWindowProcedure(std::move(savedOwnerProcedure_));
}

void TTrayIcon::Loaded() {
    if (startMinimized_ && !designing_) {
        platform_.desktop.SetShowMainForm(false);
        platform_.desktop.ShowAppWindow(SW_HIDE);
    }
    UpdateIcon();
    SetIconVisible(iconVisible_);
}

void TTrayIcon::SetDesignPreview(bool value) {
    designPreview_ = value;
    previewSwitch_ = true;
    if (value) {
        AddIcon();
    } else {
        RemoveIcon();
    }
    previewSwitch_ = false;
}

void TTrayIcon::SetIconList(TrayImageList* value) {
    iconList_ = value;
    SetIconIndex(0);
}

void TTrayIcon::SetCycleIcons(bool value) {
    cycleIcons_ = value;
    if (value) SetIconIndex(0);
    cycleTimer_->SetEnabled(value);
}

void TTrayIcon::SetCycleInterval(std::uint32_t value) {
    cycleInterval_ = value;
    cycleTimer_->SetInterval(
        static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max())));
}

void TTrayIcon::SetHint(const std::string& value) {
    hint_ = value;
    UpdateIcon();
}

void TTrayIcon::SetShowHint(bool value) {
    showHint_ = value;
    UpdateIcon();
}

void TTrayIcon::SetIcon(const TIcon& value) {
    icon_.Assign(value);
    UpdateIcon();
}

void TTrayIcon::SetIconVisible(bool value) {
    if (value) {
        AddIcon();
    } else {
        RemoveIcon();
    }
}

void TTrayIcon::SetIconIndex(int value) {
    if (iconList_ != nullptr) {
        const int count = iconList_->Count();
        // A negative index or an empty list would name no image; both give the first slot.
        iconIndex_ = std::max(0, std::min(value, count - 1));
        if (iconIndex_ < count) icon_.Assign(iconList_->GetIcon(iconIndex_));
    } else {
        iconIndex_ = 0;
    }
    UpdateIcon();
}

bool TTrayIcon::PrepareIconData() {
    if (designing_ && !previewSwitch_ && !designPreview_) return false;
    iconData_.hIcon = icon_.GetHandle();
    iconData_.szTip.fill(0);
    if (showHint_ && !hint_.empty()) {
        const std::size_t length = std::min(hint_.size(), TNotifyIconData::kTipSize - 1);
        std::memcpy(iconData_.szTip.data(), hint_.data(), length);
    }
    return true;
}

bool TTrayIcon::AddIcon() {
    if (!previewSwitch_) iconVisible_ = true;
    if (designing_ && !previewSwitch_) return false;
    if (!PrepareIconData()) return false;
    return platform_.notifyArea.NotifyIcon(NIM_ADD, iconData_);
}

bool TTrayIcon::RemoveIcon() {
    if (!previewSwitch_) iconVisible_ = false;
    if (designing_ && !previewSwitch_) return false;
    if (!PrepareIconData()) return false;
    return platform_.notifyArea.NotifyIcon(NIM_DELETE, iconData_);
}

bool TTrayIcon::UpdateIcon() {
    if (!PrepareIconData()) return false;
    return platform_.notifyArea.NotifyIcon(NIM_MODIFY, iconData_);
}

void TTrayIcon::CycleStep() {
    if (iconList_ == nullptr) return;
    const int count = iconList_->Count();
    if (count <= 0) return;
    icon_.Assign(iconList_->GetIcon(std::min(iconIndex_, count - 1)));
    const int next = iconIndex_ < count - 1 ? iconIndex_ + 1 : 0;
    DoCycle(next);
    UpdateIcon();
    SetIconIndex(next);
}

void TTrayIcon::DoClick() {
    if (OnClick) OnClick(*this);
}

void TTrayIcon::DoDblClick() {
    if (OnDblClick) OnDblClick(*this);
}

void TTrayIcon::DoCycle(int nextIndex) {
    if (OnCycle) OnCycle(*this, nextIndex);
}

void TTrayIcon::DoMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(*this, button, shift, x, y);
}

void TTrayIcon::DoMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(*this, button, shift, x, y);
}

void TTrayIcon::DoMouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(*this, shift, x, y);
}

void TTrayIcon::HandleMinimize() {
    TrayDesktop& desktop = platform_.desktop;
    if (desktop.HasMainForm()) {
        desktop.SetMainFormVisible(false);
        desktop.ShowAppWindow(SW_HIDE);
    }
    SetIconVisible(true);
}

TShiftState TTrayIcon::ModifierKeys() const {
    TShiftState shift = 0;
    if (platform_.input.KeyPressed(VK_SHIFT)) shift |= ssShift;
    if (platform_.input.KeyPressed(VK_MENU)) shift |= ssAlt;
    if (platform_.input.KeyPressed(VK_CONTROL)) shift |= ssCtrl;
    return shift;
}

void TTrayIcon::ClickDefaultItem() {
    if (popupMenu_ == nullptr || !popupMenu_->AutoPopup() || leftPopup_) return;
    const int count = popupMenu_->ItemCount();
    for (int i = 0; i < count; ++i) {
        if (popupMenu_->ItemIsDefault(i)) {
            popupMenu_->ClickItem(i);
            return;
        }
    }
}

void TTrayIcon::HandleIconMouse(unsigned mouseMessage) {
    const TPoint at = platform_.input.CursorPos().value_or(TPoint{});
    const TShiftState keys = ModifierKeys();
    switch (mouseMessage) {
        case WM_MOUSEMOVE:
            DoMouseMove(keys, at.x, at.y);
            break;
        case WM_LBUTTONDOWN:
            DoMouseDown(mbLeft, keys | ssLeft, at.x, at.y);
            clickPending_ = true;
            if (leftPopup_) ShowPopupMenu();
            break;
        case WM_LBUTTONUP:
            if (clickPending_) {
                clickPending_ = false;
                DoClick();
            }
            DoMouseUp(mbLeft, keys | ssLeft, at.x, at.y);
            break;
        case WM_LBUTTONDBLCLK:
            DoDblClick();
            ClickDefaultItem();
            break;
        case WM_RBUTTONDOWN:
            DoMouseDown(mbRight, keys | ssRight, at.x, at.y);
            ShowPopupMenu();
            break;
        case WM_RBUTTONUP:
            DoMouseUp(mbRight, keys | ssRight, at.x, at.y);
            break;
        case WM_MBUTTONDOWN:
            DoMouseDown(mbMiddle, keys | ssMiddle, at.x, at.y);
            break;
        case WM_MBUTTONUP:
            DoMouseUp(mbMiddle, keys | ssMiddle, at.x, at.y);
            break;
        default:
            break;
    }
}

std::intptr_t TTrayIcon::TrayWindowProc(const WindowMessage& message) {
    if (message.message == kCallbackMessage) {
        if (enabled_) HandleIconMouse(static_cast<unsigned>(message.lParam));
        return 0;
    }
    if (message.message == WM_QUERYENDSESSION) return 1;
    return 0;
}

void TTrayIcon::ShowPopupMenu() {
    if (popupMenu_ == nullptr || !popupMenu_->AutoPopup()) return;
    const std::optional<TPoint> at = platform_.input.CursorPos();
    if (!at) return;
    TrayDesktop& desktop = platform_.desktop;
    desktop.ProcessMessages();
    // The messages just served may have taken the menu away.
    if (popupMenu_ == nullptr) return;
    desktop.SetForegroundOwnerWindow();
    popupMenu_->SetPopupComponent(this);
    popupMenu_->Popup(at->x, at->y);
    desktop.PostNullToOwner();
}

std::intptr_t TTrayIcon::AppWindowHook(const WindowMessage& message) {
    if (message.message == WM_SIZE && message.wParam == SIZE_MINIMIZED && minimizeToTray_) {
        HandleMinimize();
    }
    if (message.message == taskbarCreated_ && iconVisible_) AddIcon();
    return savedAppProcedure_ ? savedAppProcedure_(message) : 0;
}

std::intptr_t TTrayIcon::OwnerWindowHook(const WindowMessage& message) {
    TrayDesktop& desktop = platform_.desktop;
    if (message.message == WM_ACTIVATE) {
        const std::uintptr_t state = message.wParam & 0xFFFF;
        if (state == WA_ACTIVE || state == WA_CLICKACTIVE) {
            if (const std::optional<ActiveControl> control = desktop.ScreenActiveControl()) {
                if (static_cast<WindowHandle>(message.lParam) != control->parentWindow) {
                    desktop.SetFocus(control->window);
                }
            }
        }
    }
    if (message.message == WM_SHOWWINDOW && message.wParam == 1 && message.lParam == 0) {
        desktop.ShowAppWindow(SW_RESTORE);
        desktop.SetForegroundAppWindow();
        desktop.SetForegroundOwnerWindow();
    }
    return savedOwnerProcedure_ ? savedOwnerProcedure_(message) : 0;
}

void TTrayIcon::Notification(const TrayImageList* component, TOperation operation) {
    if (operation == opRemove && component != nullptr && component == iconList_) {
        iconList_ = nullptr;
        SetIconIndex(0);
    }
}

void TTrayIcon::Notification(const TrayPopupMenu* component, TOperation operation) {
    if (operation == opRemove && component != nullptr && component == popupMenu_) {
        popupMenu_ = nullptr;
    }
}

}  // namespace tertulia
