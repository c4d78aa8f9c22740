#include "app/desktop_integration.h"

#include <QString>

#include "app/qt_event_loop.h"
#include "widgets/qt/icon_picture.h"
#include "widgets/qt/resources.h"

namespace tertulia {

DesktopIntegration::DesktopIntegration(QWidget& console, QtEventLoop& loop)
    : loop_(loop), pmMenu_(std::make_unique<QtPopupMenu>()), trayIcon_(&console) {
    const auto call = [this](void (ConsoleHandlers::*handler)()) {
        return loop_.Guarded([this, handler] {
            if (handlers_ != nullptr) (handlers_->*handler)();
        });
    };
    pmMenu_->AddItem(QStringLiteral("Abrir Tertulia"), true,
                     call(&ConsoleHandlers::AbrirVentana1Click));
    pmMenu_->AddSeparator();
    pmMenu_->AddItem(QStringLiteral("Cerrar"), false, call(&ConsoleHandlers::Salir1Click));

    TTrayIcon& tray = trayIcon_.Tray();
    tray.SetIcon(MakeIcon(TrayIconPixmap()));
    tray.SetShowHint(false);
    tray.SetPopupMenu(pmMenu_.get());
    tray.SetLeftPopup(true);
    tray.SetMinimizeToTray(true);
    tray.OnDblClick = [dblClick = call(&ConsoleHandlers::TrayIcon1DblClick)](TTrayIcon&) {
        dblClick();
    };
}

DesktopIntegration::~DesktopIntegration() {
    trayIcon_.Tray().SetPopupMenu(nullptr);
}

void DesktopIntegration::SetHandlers(ConsoleHandlers* handlers) {
    const bool first = handlers_ == nullptr && handlers != nullptr;
    handlers_ = handlers;
    if (first) trayIcon_.Tray().Loaded();
}

void DesktopIntegration::LoadSound(const std::string& fileName) {
    WaveFile1_.LoadFromFile(fileName);
}

void DesktopIntegration::ConversationOpened(std::int32_t, const std::string&) {
    WaveFile1_.Play();
    WaveFile1_.Play();
}

}  // namespace tertulia
