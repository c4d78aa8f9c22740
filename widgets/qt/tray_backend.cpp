#include "widgets/qt/tray_backend.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include "widgets/qt/icon_picture.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

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

// Qt puts its icon back by itself when the notification area comes back, and gives a window's
// focus back to its focus widget on activation; what is left is said here.
class QtTrayDesktop : public QObject, public TrayDesktop {
  public:
    explicit QtTrayDesktop(QWidget& window)
        : window_(&window), trayIcon_(new QSystemTrayIcon(&window)) {
        connect(trayIcon_, &QSystemTrayIcon::activated, this, &QtTrayDesktop::Activated);
        window.installEventFilter(this);
    }
    ~QtTrayDesktop() override {
        if (window_ != nullptr) window_->removeEventFilter(this);
        delete trayIcon_;
    }

    void Attach(TTrayIcon& icon) override { icon_ = &icon; }

    bool NotifyIcon(TrayRequest request, const TIcon& icon, const std::string& tip) override {
        if (trayIcon_ == nullptr) return false;
        if (request == TrayRequest::Delete) {
            const bool shown = trayIcon_->isVisible();
            trayIcon_->hide();
            return shown;
        }
        const auto* picture = dynamic_cast<const QtIconPicture*>(icon.GetHandle().get());
        trayIcon_->setIcon(picture != nullptr ? picture->Icon() : QIcon());
        trayIcon_->setToolTip(ToQString(tip));
        if (request == TrayRequest::Add) {
            trayIcon_->show();
            return QSystemTrayIcon::isSystemTrayAvailable();
        }
        return trayIcon_->isVisible();
    }

    std::unique_ptr<Timer> CreateTimer() override { return std::make_unique<QtCycleTimer>(); }

    std::optional<TPoint> CursorPos() const override {
        const QPoint at = QCursor::pos();
        return TPoint{at.x(), at.y()};
    }

    TShiftState ModifierKeys() const override {
        const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
        return (keys.testFlag(Qt::ShiftModifier) ? ssShift : 0) |
               (keys.testFlag(Qt::AltModifier) ? ssAlt : 0) |
               (keys.testFlag(Qt::ControlModifier) ? ssCtrl : 0);
    }

    void ProcessMessages() override { QCoreApplication::processEvents(); }

    void HideMainForm() override {
        // Without a notification area nothing could bring a hidden window back: it stays
        // minimised.
        if (window_ == nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) return;
        // Queued: the window may be in the middle of its own state change.
        QMetaObject::invokeMethod(
            window_.data(),
            [window = window_] {
                if (window != nullptr) window->hide();
            },
            Qt::QueuedConnection);
    }

    void RestoreMainForm() override {
        if (window_ != nullptr && window_->isMinimized()) {
            window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
        }
    }

    void BringMainFormToFront() override {
        if (window_ == nullptr || !window_->isVisible()) return;
        window_->raise();
        window_->activateWindow();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || icon_ == nullptr) return false;
        if (event->type() == QEvent::WindowStateChange && window_->isMinimized()) {
            icon_->MainFormMinimized();
        } else if (event->type() == QEvent::Show && !event->spontaneous()) {
            icon_->MainFormShown();
        }
        return false;
    }

  private:
    void Activated(QSystemTrayIcon::ActivationReason reason) {
        if (icon_ == nullptr) return;
        switch (reason) {
            case QSystemTrayIcon::Trigger:
                icon_->MouseOnIcon(TrayMouse::LeftDown);
                icon_->MouseOnIcon(TrayMouse::LeftUp);
                break;
            case QSystemTrayIcon::DoubleClick:
                // Qt has reported the double-click's first press as a Trigger already.
                icon_->MouseOnIcon(TrayMouse::LeftDblClick);
                icon_->MouseOnIcon(TrayMouse::LeftUp);
                break;
            case QSystemTrayIcon::Context:
                icon_->MouseOnIcon(TrayMouse::RightDown);
                icon_->MouseOnIcon(TrayMouse::RightUp);
                break;
            case QSystemTrayIcon::MiddleClick:
                icon_->MouseOnIcon(TrayMouse::MiddleDown);
                icon_->MouseOnIcon(TrayMouse::MiddleUp);
                break;
            case QSystemTrayIcon::Unknown:
                break;
        }
    }

    QPointer<QWidget> window_;
    QPointer<QSystemTrayIcon> trayIcon_;
    TTrayIcon* icon_ = nullptr;
};

}  // namespace

std::unique_ptr<TTrayIcon> MakeQtTrayIcon(QWidget& window) {
    return std::make_unique<TTrayIcon>(std::make_unique<QtTrayDesktop>(window));
}

}  // namespace tertulia
