#include "widgets/tray_icon.h"

#include <algorithm>
#include <limits>

namespace tertulia {

namespace {

// The longest tip the notification area shows.
constexpr std::size_t kTipLength = 127;

}  // namespace

TTrayIcon::TTrayIcon(std::unique_ptr<TrayDesktop> desktop) : desktop_(std::move(desktop)) {
    cycleTimer_ = desktop_->CreateTimer();
    cycleTimer_->SetEnabled(false);
    cycleTimer_->SetInterval(static_cast<int>(cycleInterval_));
    cycleTimer_->SetHandler([this] { CycleStep(); });
    desktop_->Attach(*this);
}

TTrayIcon::~TTrayIcon() {
    SetIconVisible(false);
}

void TTrayIcon::Loaded() {
    if (startMinimized_) {
        showMainForm_ = false;
        desktop_->HideMainForm();
    }
    UpdateIcon();
    SetIconVisible(iconVisible_);
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

bool TTrayIcon::Request(TrayRequest request) {
    const std::string tip = showHint_ ? hint_.substr(0, kTipLength) : std::string();
    return desktop_->NotifyIcon(request, icon_, tip);
}

bool TTrayIcon::AddIcon() {
    iconVisible_ = true;
    return Request(TrayRequest::Add);
}

bool TTrayIcon::RemoveIcon() {
    iconVisible_ = false;
    return Request(TrayRequest::Delete);
}

bool TTrayIcon::UpdateIcon() {
    return Request(TrayRequest::Modify);
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
    desktop_->HideMainForm();
    SetIconVisible(true);
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

void TTrayIcon::MouseOnIcon(TrayMouse action) {
    if (!enabled_) return;
    const TPoint at = desktop_->CursorPos().value_or(TPoint{});
    const TShiftState keys = desktop_->ModifierKeys();
    switch (action) {
        case TrayMouse::Move:
            DoMouseMove(keys, at.x, at.y);
            break;
        case TrayMouse::LeftDown:
            DoMouseDown(mbLeft, keys | ssLeft, at.x, at.y);
            clickPending_ = true;
            if (leftPopup_) ShowPopupMenu();
            break;
        case TrayMouse::LeftUp:
            if (clickPending_) {
                clickPending_ = false;
                DoClick();
            }
            DoMouseUp(mbLeft, keys | ssLeft, at.x, at.y);
            break;
        case TrayMouse::LeftDblClick:
            DoDblClick();
            ClickDefaultItem();
            break;
        case TrayMouse::RightDown:
            DoMouseDown(mbRight, keys | ssRight, at.x, at.y);
            ShowPopupMenu();
            break;
        case TrayMouse::RightUp:
            DoMouseUp(mbRight, keys | ssRight, at.x, at.y);
            break;
        case TrayMouse::MiddleDown:
            DoMouseDown(mbMiddle, keys | ssMiddle, at.x, at.y);
            break;
        case TrayMouse::MiddleUp:
            DoMouseUp(mbMiddle, keys | ssMiddle, at.x, at.y);
            break;
    }
}

void TTrayIcon::ShowPopupMenu() {
    if (popupMenu_ == nullptr || !popupMenu_->AutoPopup()) return;
    const std::optional<TPoint> at = desktop_->CursorPos();
    if (!at) return;
    desktop_->ProcessMessages();
    // The messages just served may have taken the menu away.
    if (popupMenu_ == nullptr) return;
    desktop_->BringMainFormToFront();
    popupMenu_->SetPopupComponent(this);
    popupMenu_->Popup(at->x, at->y);
}

void TTrayIcon::MainFormMinimized() {
    if (minimizeToTray_) HandleMinimize();
}

void TTrayIcon::MainFormShown() {
    desktop_->RestoreMainForm();
    desktop_->BringMainFormToFront();
}

void TTrayIcon::NotificationAreaCreated() {
    if (iconVisible_) AddIcon();
}

void TTrayIcon::SetTip(const std::string& tip) {
    SetHint(tip);
    SetShowHint(!tip.empty());
}

void TTrayIcon::CyclePictures(TrayImageList* pictures, std::uint32_t interval) {
    // Asked again for what it does already, it keeps its place in the turn.
    const bool already = pictures == nullptr
                             ? !cycleIcons_ && iconList_ == nullptr
                             : cycleIcons_ && iconList_ == pictures && cycleInterval_ == interval;
    if (already) return;
    if (pictures != nullptr) {
        SetIconList(pictures);
        SetCycleInterval(interval);
        SetCycleIcons(true);
    } else {
        SetCycleIcons(false);
        SetIconList(nullptr);
    }
}

void TTrayIcon::SetMenu(TrayPopupMenu* menu, bool onLeftClick) {
    SetPopupMenu(menu);
    SetLeftPopup(onLeftClick);
}

void TTrayIcon::SetOnDoubleClick(std::function<void()> handler) {
    OnDblClick = [handler = std::move(handler)](TTrayIcon&) {
        if (handler) handler();
    };
}

}  // namespace tertulia
