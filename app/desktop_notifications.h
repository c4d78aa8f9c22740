#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <map>
#include <optional>

class QDBusPendingCallWatcher;

namespace tertulia {

// Desktop notifications through the freedesktop notification service on the session bus. Each
// key has at most one notification: showing it again replaces it. Calls never wait for the
// service; where no session bus or no service is there, nothing is shown and nothing fails.
class DesktopNotifications : public QObject {
    Q_OBJECT

  public:
    DesktopNotifications();
    // Withdraws what is still shown: nothing is left waiting on a program that has ended.
    ~DesktopNotifications() override;

    // `persistent`: it stays until withdrawn, rather than for the service's usual time.
    void Show(qint64 key, const QString& summary, const QString& body, bool persistent);
    void Withdraw(qint64 key);

    // The operator clicked the notification of `key`.
    std::function<void(qint64 key)> onClicked;

  private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

  private:
    struct Content {
        QString summary;
        QString body;
        bool persistent = false;
    };
    struct Entry {
        uint id = 0;           // the service's number for it; 0 before its answer
        bool pending = false;  // a Notify call has not been answered yet
        bool withdrawn = false;
        std::optional<Content> again;  // to be shown once the pending call is answered
    };

    void SendNotify(qint64 key, const Content& content);
    void Answered(qint64 key, QDBusPendingCallWatcher* watcher);
    void SendClose(uint id, bool wait = false);

    bool connected_ = false;
    std::map<qint64, Entry> entries_;
};

}  // namespace tertulia
