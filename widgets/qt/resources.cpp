#include "widgets/qt/resources.h"

#include <QFile>
#include <QPainter>

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

QPixmap WithWaitingMark(const QPixmap& picture) {
    QPixmap marked = picture;
    QPainter painter(&marked);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = marked.width() / 2 + 2;
    const QRect disc(marked.width() - side, 0, side, side);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(QColor(255, 120, 0));
    painter.drawEllipse(disc.adjusted(0, 0, -1, -1));
    painter.setPen(QPen(Qt::white, 2));
    const int x = disc.center().x();
    painter.drawLine(x, disc.top() + 3, x, disc.bottom() - 6);
    painter.drawPoint(x, disc.bottom() - 3);
    return marked;
}

QPixmap Disconnected(const QPixmap& picture) {
    QImage grey = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb pixel = grey.pixel(x, y);
            const int level = qGray(pixel);
            grey.setPixel(x, y, qRgba(level, level, level, qAlpha(pixel)));
        }
    }
    QPixmap crossed = QPixmap::fromImage(grey);
    QPainter painter(&crossed);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(220, 0, 0), crossed.width() / 8.0, Qt::SolidLine, Qt::RoundCap));
    const int m = crossed.width() / 6;
    painter.drawLine(m, m, crossed.width() - m, crossed.height() - m);
    painter.drawLine(crossed.width() - m, m, m, crossed.height() - m);
    return crossed;
}

QByteArray BannerJpeg() {
    return ResourceBytes(":/tertulia/banner.jpg");
}

}  // namespace tertulia
