#include "app/desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace tertulia {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Whether the desktop session names its bus. Without it the bus library would start a bus of
// its own for the display, which outlives the program and serves no notification service.
bool SessionBusKnown() {
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

DesktopNotifications::DesktopNotifications() {
    if (!SessionBusKnown()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    connected_ = bus.isConnected();
    if (!connected_) return;
    // Any sender: the service may start, or be replaced, after the program.
    bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(ActionInvoked(uint, QString)));
    bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(NotificationClosed(uint, uint)));
}

DesktopNotifications::~DesktopNotifications() {
    for (const auto& [key, entry] : entries_) {
        if (entry.id != 0) SendClose(entry.id, true);
    }
}

void DesktopNotifications::Show(qint64 key, const QString& summary, const QString& body,
                                bool persistent) {
    if (!connected_) return;
    Entry& entry = entries_[key];
    entry.withdrawn = false;
    const Content content{summary, body, persistent};
    if (entry.pending) {
        entry.again = content;
        return;
    }
    SendNotify(key, content);
}

void DesktopNotifications::Withdraw(qint64 key) {
    const auto found = entries_.find(key);
    if (found == entries_.end()) return;
    Entry& entry = found->second;
    if (entry.pending) {
        entry.withdrawn = true;
        entry.again.reset();
        return;
    }
    if (entry.id != 0) SendClose(entry.id);
    entries_.erase(found);
}

void DesktopNotifications::SendNotify(qint64 key, const Content& content) {
    Entry& entry = entries_[key];
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tertulia"));
    call << QStringLiteral("Tertulia") << entry.id << QStringLiteral("tertulia") << content.summary
         << content.body << QStringList{QStringLiteral("default"), QStringLiteral("Abrir")} << hints
         << (content.persistent ? 0 : -1);
    entry.pending = true;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key](QDBusPendingCallWatcher* done) { Answered(key, done); });
}

void DesktopNotifications::Answered(qint64 key, QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    const auto found = entries_.find(key);
    if (found == entries_.end()) return;
    Entry& entry = found->second;
    entry.pending = false;
    if (reply.isError()) {
        // No service: the notification is simply not shown.
        entries_.erase(found);
        return;
    }
    entry.id = reply.value();
    if (entry.withdrawn) {
        SendClose(entry.id);
        entries_.erase(found);
    } else if (entry.again) {
        const Content content = *entry.again;
        entry.again.reset();
        SendNotify(key, content);
    }
}

void DesktopNotifications::SendClose(uint id, bool wait) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CloseNotification"));
    call << id;
    if (wait) {
        // At the end the message must leave before the connection goes; briefly, though.
        QDBusConnection::sessionBus().call(call, QDBus::Block, 500);
    } else {
        QDBusConnection::sessionBus().asyncCall(call);
    }
}

void DesktopNotifications::ActionInvoked(uint id, const QString&) {
    for (const auto& [key, entry] : entries_) {
        if (entry.id == id && id != 0) {
            if (onClicked) onClicked(key);
            return;
        }
    }
}

void DesktopNotifications::NotificationClosed(uint id, uint) {
    // Gone from the screen (expired, dismissed): a later one starts afresh.
    for (auto& [key, entry] : entries_) {
        if (entry.id == id && id != 0) entry.id = 0;
    }
}

}  // namespace tertulia
