#include "app/desktop_integration.h"

#include <QString>
#include <limits>

#include "app/qt_event_loop.h"
#include "widgets/qt/icon_picture.h"
#include "widgets/qt/resources.h"
#include "widgets/qt/tray_backend.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

// The notification of the lost connection, and the one for many waiting conversations;
// conversation ids are 32-bit.
constexpr qint64 kDisconnectedKey = std::numeric_limits<qint64>::max();
constexpr qint64 kSummaryKey = kDisconnectedKey - 1;

}  // namespace

DesktopIntegration::DesktopIntegration(QWidget& console, QtEventLoop& loop)
    : loop_(loop), pmMenu_(std::make_unique<QtPopupMenu>()), TrayIcon1_(MakeQtTrayIcon(console)) {
    const auto call = [this](void (ConsoleHandlers::*handler)()) {
        return loop_.Guarded([this, handler] {
            if (handlers_ != nullptr) (handlers_->*handler)();
        });
    };
    pmMenu_->AddItem(QStringLiteral("Abrir Tertulia"), true,
                     call(&ConsoleHandlers::AbrirVentana1Click));
    pmMenu_->AddSeparator();
    pmMenu_->AddItem(QStringLiteral("Cerrar"), false, call(&ConsoleHandlers::Salir1Click));

    const QPixmap plain = TrayIconPixmap();
    plainIcon_ = MakeIcon(plain);
    disconnectedIcon_ = MakeIcon(Disconnected(plain));
    cycleIcons_.Add(plain);
    cycleIcons_.Add(WithWaitingMark(plain));
    notifications_.onClicked = [this](qint64 key) {
        loop_.Run([this, key] {
            if (handlers_ == nullptr) return;
            if (key == kDisconnectedKey || key == kSummaryKey) {
                handlers_->AbrirVentana1Click();
            } else {
                handlers_->NotificationClicked(static_cast<std::int32_t>(key));
            }
        });
    };

    TrayIcon1_->SetPicture(plainIcon_);
    TrayIcon1_->SetMenu(pmMenu_.get(), true);
    TrayIcon1_->SetMinimizeToTray(true);
    TrayIcon1_->SetOnDoubleClick(call(&ConsoleHandlers::TrayIcon1DblClick));
}

DesktopIntegration::~DesktopIntegration() = default;

void DesktopIntegration::SetHandlers(ConsoleHandlers* handlers) {
    const bool first = handlers_ == nullptr && handlers != nullptr;
    handlers_ = handlers;
    if (first) TrayIcon1_->Show();
}

void DesktopIntegration::LoadSound(const std::string& fileName) {
    WaveFile1_.LoadFromFile(fileName);
}

void DesktopIntegration::ConversationOpened(std::int32_t, const std::string&) {
    WaveFile1_.Play();
    WaveFile1_.Play();
}

}  // namespace tertulia

namespace tertulia {

void DesktopIntegration::Remind() {
    WaveFile1_.Play();
}

void DesktopIntegration::NotifyConversation(std::int32_t idSesionClt, const std::string& summary,
                                            const std::string& body) {
    notifications_.Show(idSesionClt, ToQString(summary), ToQString(body), true);
}

void DesktopIntegration::WithdrawConversation(std::int32_t idSesionClt) {
    notifications_.Withdraw(idSesionClt);
}

void DesktopIntegration::NotifySummary(const std::string& summary, const std::string& body) {
    notifications_.Show(kSummaryKey, ToQString(summary), ToQString(body), true);
}

void DesktopIntegration::WithdrawSummary() {
    notifications_.Withdraw(kSummaryKey);
}

void DesktopIntegration::ShowWaiting(int count, const std::string& tip) {
    waiting_ = count;
    waitingTip_ = tip;
    RenderIcon();
}

void DesktopIntegration::ShowDisconnected(bool disconnected, const std::string& tip) {
    disconnected_ = disconnected;
    disconnectedTip_ = tip;
    RenderIcon();
}

void DesktopIntegration::NotifyDisconnected(const std::string& summary, const std::string& body) {
    notifications_.Show(kDisconnectedKey, ToQString(summary), ToQString(body), true);
}

void DesktopIntegration::WithdrawDisconnected() {
    notifications_.Withdraw(kDisconnectedKey);
}

void DesktopIntegration::NotifyReconnected(const std::string& summary, const std::string& body) {
    // In the place of the lost connection's notice: one notice about the connection at a time.
    notifications_.Show(kDisconnectedKey, ToQString(summary), ToQString(body), false);
}

void DesktopIntegration::RenderIcon() {
    const bool cycle = !disconnected_ && waiting_ > 0;
    TrayIcon1_->CyclePictures(cycle ? &cycleIcons_ : nullptr, kCycleInterval);
    if (!cycle) TrayIcon1_->SetPicture(disconnected_ ? disconnectedIcon_ : plainIcon_);
    // The icon has no tip unless it has something to say.
    TrayIcon1_->SetTip(disconnected_ ? disconnectedTip_ : cycle ? waitingTip_ : std::string());
}

}  // namespace tertulia
