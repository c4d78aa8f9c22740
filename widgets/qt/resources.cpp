#include "widgets/qt/resources.h"

#include <QFile>

// The resources sit in a static library; initialising them by name keeps the linker from
// dropping them. The macro must be used outside any namespace.
static void InitWidgetResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(widgets);
        return true;
    }();
    (void)done;
}

namespace tertulia {

namespace {

QByteArray ResourceBytes(const char* path) {
    InitWidgetResources();
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

QPixmap ResourcePixmap(const char* path) {
    QPixmap pixmap;
    pixmap.loadFromData(ResourceBytes(path), "PNG");
    return pixmap;
}

}  // namespace

QPixmap TrayIconPixmap() {
    return ResourcePixmap(":/tertulia/tray.png");
}

QPixmap ConversationPixmap() {
    return ResourcePixmap(":/tertulia/conversation.png");
}

QByteArray BannerJpeg() {
    return ResourceBytes(":/tertulia/banner.jpg");
}

}  // namespace tertulia
