#include "widgets/qt/tray_backend.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>

#include "widgets/qt/icon_picture.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

// Window messages registered by name get numbers from this range.
constexpr unsigned kFirstRegisteredMessage = 0xC000;

// The icon's cycling timer.
class QtCycleTimer : public Timer {
  public:
    QtCycleTimer() { timer_.setSingleShot(false); }

    void SetHandler(std::function<void()> handler) override {
        QObject::disconnect(&timer_, nullptr, nullptr, nullptr);
        QObject::connect(&timer_, &QTimer::timeout, [handler = std::move(handler)] {
            if (handler) handler();
        });
    }
    void SetInterval(int milliseconds) override {
        interval_ = milliseconds;
        Apply();
    }
    void SetEnabled(bool enabled) override {
        enabled_ = enabled;
        Apply();
    }
    bool Enabled() const override { return enabled_; }

  private:
    // A timer with no interval never ticks.
    void Apply() {
        if (enabled_ && interval_ > 0) {
            timer_.start(interval_);
        } else {
            timer_.stop();
        }
    }

    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 0;
};

}  // namespace

QtTrayBackend::QtTrayBackend(QWidget* window) : window_(window) {
    connect(&trayIcon_, &QSystemTrayIcon::activated, this, &QtTrayBackend::Activated);
    if (window_ != nullptr) window_->installEventFilter(this);
}

QtTrayBackend::~QtTrayBackend() {
    if (window_ != nullptr) window_->removeEventFilter(this);
}

void QtTrayBackend::Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            SendIconMessage(WM_LBUTTONDOWN);
            SendIconMessage(WM_LBUTTONUP);
            break;
        case QSystemTrayIcon::DoubleClick:
            // Qt has reported the double-click's first press as a Trigger already.
            SendIconMessage(WM_LBUTTONDBLCLK);
            SendIconMessage(WM_LBUTTONUP);
            break;
        case QSystemTrayIcon::Context:
            SendIconMessage(WM_RBUTTONDOWN);
            SendIconMessage(WM_RBUTTONUP);
            break;
        case QSystemTrayIcon::MiddleClick:
            SendIconMessage(WM_MBUTTONDOWN);
            SendIconMessage(WM_MBUTTONUP);
            break;
        case QSystemTrayIcon::Unknown:
            break;
    }
}

void QtTrayBackend::SendIconMessage(unsigned mouseMessage) {
    if (hiddenProcedure_) {
        hiddenProcedure_({TTrayIcon::kCallbackMessage, TTrayIcon::kIconId,
                          static_cast<std::intptr_t>(mouseMessage)});
    }
}

bool QtTrayBackend::NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) {
    if (message == NIM_DELETE) {
        const bool shown = trayIcon_.isVisible();
        trayIcon_.hide();
        return shown;
    }
    const auto* picture = dynamic_cast<const QtIconPicture*>(data.hIcon.get());
    trayIcon_.setIcon(picture != nullptr ? picture->Icon() : QIcon());
    trayIcon_.setToolTip(ToQString(data.Tip()));
    if (message == NIM_ADD) {
        trayIcon_.show();
        return QSystemTrayIcon::isSystemTrayAvailable();
    }
    return trayIcon_.isVisible();
}

unsigned QtTrayBackend::RegisterWindowMessage(const std::string& name) {
    // Only "TaskbarCreated" is asked for. Qt puts its icon back by itself when the tray comes
    // back, so that message never arrives here.
    (void)name;
    return kFirstRegisteredMessage;
}

WindowHandle QtTrayBackend::AllocateHiddenWindow(WindowProcedure procedure) {
    hiddenProcedure_ = std::move(procedure);
    return reinterpret_cast<WindowHandle>(this);
}

void QtTrayBackend::DeallocateHiddenWindow(WindowHandle) {
    hiddenProcedure_ = nullptr;
}

std::unique_ptr<Timer> QtTrayBackend::CreateTimer() {
    return std::make_unique<QtCycleTimer>();
}

WindowProcedure QtTrayBackend::ReplaceAppWindowProcedure(WindowProcedure procedure) {
    std::swap(appProcedure_, procedure);
    return procedure;
}

WindowProcedure QtTrayBackend::ReplaceOwnerWindowProcedure(WindowProcedure procedure) {
    std::swap(ownerProcedure_, procedure);
    return procedure;
}

void QtTrayBackend::ProcessMessages() {
    QCoreApplication::processEvents();
}

void QtTrayBackend::SetMainFormVisible(bool visible) {
    if (window_ == nullptr) return;
    // Without a notification area nothing could bring a hidden window back: it stays minimised.
    if (!visible && !QSystemTrayIcon::isSystemTrayAvailable()) return;
    // Queued: the window may be in the middle of its own state change.
    QPointer<QWidget> window = window_;
    QMetaObject::invokeMethod(
        window_.data(),
        [window, visible] {
            if (window != nullptr) window->setVisible(visible);
        },
        Qt::QueuedConnection);
}

void QtTrayBackend::ShowAppWindow(int command) {
    if (window_ == nullptr) return;
    if (command == SW_HIDE) {
        SetMainFormVisible(false);
    } else if (command == SW_RESTORE && window_->isMinimized()) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    }
}

void QtTrayBackend::BringToFront() {
    if (window_ == nullptr || !window_->isVisible()) return;
    window_->raise();
    window_->activateWindow();
}

void QtTrayBackend::SetForegroundAppWindow() {
    BringToFront();
}

void QtTrayBackend::SetForegroundOwnerWindow() {
    BringToFront();
}

// Windows needs the nudge so that its tray menu closes when the user clicks elsewhere; a QMenu
// closes by itself.
void QtTrayBackend::PostNullToOwner() {}

// Qt gives every window's focus back to its own focus widget on activation.
std::optional<ActiveControl> QtTrayBackend::ScreenActiveControl() const {
    return std::nullopt;
}

void QtTrayBackend::SetFocus(WindowHandle window) {
    if (QWidget* widget = QWidget::find(static_cast<WId>(window))) widget->setFocus();
}

std::optional<TPoint> QtTrayBackend::CursorPos() const {
    const QPoint at = QCursor::pos();
    return TPoint{at.x(), at.y()};
}

bool QtTrayBackend::KeyPressed(int virtualKey) const {
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    switch (virtualKey) {
        case VK_SHIFT:
            return keys.testFlag(Qt::ShiftModifier);
        case VK_CONTROL:
            return keys.testFlag(Qt::ControlModifier);
        case VK_MENU:
            return keys.testFlag(Qt::AltModifier);
        default:
            return false;
    }
}

bool QtTrayBackend::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_) return false;
    switch (event->type()) {
        case QEvent::WindowStateChange:
            if (appProcedure_) {
                appProcedure_(
                    {WM_SIZE, window_->isMinimized() ? SIZE_MINIMIZED : SIZE_RESTORED, 0});
            }
            break;
        case QEvent::Show:
            // A show the program asked for, not one the window system caused.
            if (ownerProcedure_) ownerProcedure_({WM_SHOWWINDOW, 1, event->spontaneous() ? 3 : 0});
            break;
        case QEvent::Hide:
            if (ownerProcedure_) ownerProcedure_({WM_SHOWWINDOW, 0, 0});
            break;
        case QEvent::WindowActivate:
            if (ownerProcedure_) ownerProcedure_({WM_ACTIVATE, WA_ACTIVE, 0});
            break;
        default:
            break;
    }
    return false;
}

}  // namespace tertulia
