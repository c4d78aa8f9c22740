#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/desktop_notifications.h"
#include "session/attention_signals.h"
#include "session/console_view.h"
#include "session/conversation_announcer.h"
#include "widgets/qt/image_list.h"
#include "widgets/qt/popup_menu.h"
#include "widgets/sdl/sdl_sound_service.h"
#include "widgets/tray.h"
#include "widgets/wave_file.h"

class QWidget;

namespace tertulia {

class QtEventLoop;

// The console's place on the desktop beside its window: the notification-area icon TrayIcon1
// with its menu pmMenu, the wave player WaveFile1 that announces new conversations, and the
// desktop notifications of conversations that wait and of a lost connection.
class DesktopIntegration : public ConversationAnnouncer, public AttentionSignals {
  public:
    // `console` is the window that the icon minimises to the notification area and brings back.
    DesktopIntegration(QWidget& console, QtEventLoop& loop);
    ~DesktopIntegration() override;
    DesktopIntegration(const DesktopIntegration&) = delete;
    DesktopIntegration& operator=(const DesktopIntegration&) = delete;

    // Where the icon's and the menu's events go; the icon appears once they are set.
    void SetHandlers(ConsoleHandlers* handlers);

    // False once the icon has asked that the console not be shown at start.
    bool ShowMainForm() const { return TrayIcon1_->ShowMainForm(); }
    QtPopupMenu& PopupMenu() { return *pmMenu_; }

    void LoadSound(const std::string& fileName) override;
    // The sound, played twice.
    void ConversationOpened(std::int32_t idSesionClt, const std::string& visitorName) override;
    void Remind() override;

    void NotifyConversation(std::int32_t idSesionClt, const std::string& summary,
                            const std::string& body) override;
    void WithdrawConversation(std::int32_t idSesionClt) override;
    void NotifySummary(const std::string& summary, const std::string& body) override;
    void WithdrawSummary() override;
    void ShowWaiting(int count, const std::string& tip) override;
    void ShowDisconnected(bool disconnected, const std::string& tip) override;
    void NotifyDisconnected(const std::string& summary, const std::string& body) override;
    void WithdrawDisconnected() override;
    void NotifyReconnected(const std::string& summary, const std::string& body) override;

    // How often the icon changes picture while conversations wait.
    static constexpr std::uint32_t kCycleInterval = 700;

  private:
    // Shows on the icon what is true now: disconnected, conversations waiting, or neither.
    void RenderIcon();

    QtEventLoop& loop_;
    ConsoleHandlers* handlers_ = nullptr;
    std::unique_ptr<QtPopupMenu> pmMenu_;
    TIcon plainIcon_;
    TIcon disconnectedIcon_;
    TImageList cycleIcons_{32, 32};  // the icon and the attention icon
    // After the menu and the picture list that it borrows, so that it goes first.
    std::unique_ptr<Tray> TrayIcon1_;
    SdlSoundService sound_;
    TWaveFile WaveFile1_{sound_};
    int waiting_ = 0;
    std::string waitingTip_;
    bool disconnected_ = false;
    std::string disconnectedTip_;
    DesktopNotifications notifications_;
};

}  // namespace tertulia
