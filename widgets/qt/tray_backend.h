#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include "widgets/tray_icon.h"

namespace tertulia {

// The notification-area icon's desktop on Qt: the icon is a QSystemTrayIcon, what Qt reports on
// it becomes the mouse messages of the icon's hidden window, and the state changes of one
// window, which plays the application window, the main form and the owner at once, reach the
// icon's hooks through an event filter.
class QtTrayBackend : public QObject,
                      public NotifyAreaService,
                      public TrayDesktop,
                      public TrayInput {
    Q_OBJECT

  public:
    explicit QtTrayBackend(QWidget* window);
    ~QtTrayBackend() override;

    TTrayIcon::Platform Platform() { return {*this, *this, *this}; }
    QSystemTrayIcon& SystemTrayIcon() { return trayIcon_; }
    // False once the icon has asked that the main window not be shown at start.
    bool ShowMainForm() const { return showMainForm_; }

    // Qt's report of an action on the icon, as the mouse messages it stands for.
    void Activated(QSystemTrayIcon::ActivationReason reason);

    bool NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) override;

    unsigned RegisterWindowMessage(const std::string& name) override;
    WindowHandle AllocateHiddenWindow(WindowProcedure procedure) override;
    void DeallocateHiddenWindow(WindowHandle window) override;
    std::unique_ptr<Timer> CreateTimer() override;
    WindowProcedure ReplaceAppWindowProcedure(WindowProcedure procedure) override;
    bool HasOwner() const override { return window_ != nullptr; }
    WindowProcedure ReplaceOwnerWindowProcedure(WindowProcedure procedure) override;
    void ProcessMessages() override;
    void SetShowMainForm(bool show) override { showMainForm_ = show; }
    bool HasMainForm() const override { return window_ != nullptr; }
    void SetMainFormVisible(bool visible) override;
    void ShowAppWindow(int command) override;
    void SetForegroundAppWindow() override;
    void SetForegroundOwnerWindow() override;
    void PostNullToOwner() override;
    std::optional<ActiveControl> ScreenActiveControl() const override;
    void SetFocus(WindowHandle window) override;

    std::optional<TPoint> CursorPos() const override;
    bool KeyPressed(int virtualKey) const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SendIconMessage(unsigned mouseMessage);
    void BringToFront();

    QPointer<QWidget> window_;
    QSystemTrayIcon trayIcon_;
    WindowProcedure hiddenProcedure_;
    WindowProcedure appProcedure_;
    WindowProcedure ownerProcedure_;
    bool showMainForm_ = true;
};

// The icon with its Qt desktop, in the order their lifetimes need.
class QtTrayIcon {
  public:
    explicit QtTrayIcon(QWidget* window) : backend_(window), tray_(backend_.Platform()) {}

    TTrayIcon& Tray() { return tray_; }
    QtTrayBackend& Backend() { return backend_; }

  private:
    QtTrayBackend backend_;
    TTrayIcon tray_;
};

}  // namespace tertulia
