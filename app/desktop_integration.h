#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "session/console_view.h"
#include "session/conversation_announcer.h"
#include "widgets/qt/popup_menu.h"
#include "widgets/qt/tray_backend.h"
#include "widgets/sdl/sdl_sound_service.h"
#include "widgets/wave_file.h"

class QWidget;

namespace tertulia {

class QtEventLoop;

// The console's place on the desktop beside its window: the notification-area icon TrayIcon1
// with its menu pmMenu, and the wave player WaveFile1 that announces new conversations.
class DesktopIntegration : public ConversationAnnouncer {
  public:
    // `console` is the window that the icon minimises to the notification area and brings back.
    DesktopIntegration(QWidget& console, QtEventLoop& loop);
    ~DesktopIntegration() override;
    DesktopIntegration(const DesktopIntegration&) = delete;
    DesktopIntegration& operator=(const DesktopIntegration&) = delete;

    // Where the icon's and the menu's events go; the icon appears once they are set.
    void SetHandlers(ConsoleHandlers* handlers);

    // False once the icon has asked that the console not be shown at start.
    bool ShowMainForm() { return trayIcon_.Backend().ShowMainForm(); }
    TTrayIcon& TrayIcon1() { return trayIcon_.Tray(); }
    QtTrayBackend& Backend() { return trayIcon_.Backend(); }
    QtPopupMenu& PopupMenu() { return *pmMenu_; }

    void LoadSound(const std::string& fileName) override;
    // The sound, played twice.
    void ConversationOpened(std::int32_t idSesionClt, const std::string& visitorName) override;

  private:
    QtEventLoop& loop_;
    ConsoleHandlers* handlers_ = nullptr;
    std::unique_ptr<QtPopupMenu> pmMenu_;
    QtTrayIcon trayIcon_;
    SdlSoundService sound_;
    TWaveFile WaveFile1_{sound_};
};

}  // namespace tertulia
