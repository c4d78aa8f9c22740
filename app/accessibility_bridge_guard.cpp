#include "app/accessibility_bridge_guard.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QPointer>
#include <QXmlStreamReader>

namespace tertulia {

namespace {

// Where and under which connection name Qt's bridge serves its accessible objects.
const QString kBridgeConnection = QStringLiteral("a11y");
const QString kAccessiblePath = QStringLiteral("/org/a11y/atspi/accessible");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// The names of the properties of `interface` in an object's introspection data, a sequence of
// <interface> elements.
QStringList PropertyNames(const QString& introspection, const QString& interface) {
    QXmlStreamReader reader(QStringLiteral("<node>%1</node>").arg(introspection));
    QStringList names;
    bool inInterface = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.name() == u"interface") {
            inInterface = reader.isStartElement() &&
                          reader.attributes().value(QLatin1StringView("name")) == interface;
        } else if (inInterface && reader.isStartElement() && reader.name() == u"property") {
            names << reader.attributes().value(QLatin1StringView("name")).toString();
        }
    }
    return names;
}

// The number of arguments of each call on org.freedesktop.DBus.Properties.
qsizetype PropertyCallArguments(const QString& member) {
    if (member == u"Get") return 2;
    if (member == u"Set") return 3;
    if (member == u"GetAll") return 1;
    return -1;
}

class BridgeGuard : public QDBusVirtualObject {
  public:
    BridgeGuard(QDBusVirtualObject* bridge, QObject* parent)
        : QDBusVirtualObject(parent), bridge_(bridge) {}

    QString introspect(const QString& path) const override {
        return bridge_ != nullptr ? bridge_->introspect(path) : QString();
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() == kProperties) {
            const qsizetype arguments = PropertyCallArguments(message.member());
            if (arguments != message.arguments().size()) {
                connection.send(message.createErrorReply(
                    QDBusError::InvalidArgs,
                    QStringLiteral("Wrong arguments for %1").arg(message.member())));
                return true;
            }
            if (message.member() == u"GetAll") {
                connection.send(GetAll(message, connection));
                return true;
            }
        }
        return bridge_ != nullptr && bridge_->handleMessage(message, connection);
    }

  private:
    // Asks the bridge for each property in turn; a call to the program's own connection is
    // answered in the process, at once.
    QDBusMessage GetAll(const QDBusMessage& message, const QDBusConnection& connection) const {
        const QString interface = message.arguments().constFirst().toString();
        QVariantMap values;
        for (const QString& name : PropertyNames(introspect(message.path()), interface)) {
            QDBusMessage get = QDBusMessage::createMethodCall(
                connection.baseService(), message.path(), kProperties, QStringLiteral("Get"));
            get << interface << name;
            const QDBusMessage reply = connection.call(get);
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                values.insert(name, reply.arguments().constFirst().value<QDBusVariant>().variant());
            }
        }
        return message.createReply(QVariant::fromValue(values));
    }

    QPointer<QDBusVirtualObject> bridge_;
};

// Puts the guard in front of the bridge's objects once the bridge serves them.
void Install() {
    QDBusConnection bus(kBridgeConnection);
    if (!bus.isConnected()) return;
    auto* bridge = qobject_cast<QDBusVirtualObject*>(bus.objectRegisteredAt(kAccessiblePath));
    if (bridge == nullptr || dynamic_cast<BridgeGuard*>(bridge) != nullptr) return;
    auto* guard = new BridgeGuard(bridge, QCoreApplication::instance());
    bus.unregisterObject(kAccessiblePath);
    if (!bus.registerVirtualObject(kAccessiblePath, guard, QDBusConnection::SubPath)) {
        bus.registerVirtualObject(kAccessiblePath, bridge, QDBusConnection::SubPath);
        delete guard;
    }
}

// The bridge registers its objects right after it announces that it is active; the guard
// follows from the event loop.
class ActivationWatch : public QAccessible::ActivationObserver {
  public:
    void accessibilityActiveChanged(bool active) override {
        if (active && QCoreApplication::instance() != nullptr) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &Install, Qt::QueuedConnection);
        }
    }
};

}  // namespace

void GuardAccessibilityBridge() {
    // One watch for the whole run; Qt keeps a plain pointer to it.
    static ActivationWatch* const watch = [] {
        auto* made = new ActivationWatch;
        QAccessible::installActivationObserver(made);
        return made;
    }();
    if (QAccessible::isActive()) watch->accessibilityActiveChanged(true);
}

}  // namespace tertulia
