#include "Pictures.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>

namespace Pictures {

namespace {

// Read as the format its name says, never guessed: guessing asks every image
// plugin of Qt's in turn, and loading them costs the start more than the
// picture itself.
QPixmap decode(const QString &path)
{
    QImageReader reader(path, path.section(u'.', -1).toLatin1());
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

} // namespace

QPixmap load(const QString &name, qreal devicePixelRatio)
{
    const QString path = QStringLiteral(":/zhiwei/") + name;
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : qApp->devicePixelRatio();
    if (ratio > 1.0) {
        // In the small one's format, or a PNG where the small one is plain pixels.
        const qsizetype dot = path.lastIndexOf(u'.');
        const QString stem = path.left(dot) + u"@2x";
        for (const QString &large : {QString(stem + path.mid(dot)), QString(stem + u".png")}) {
            if (QFile::exists(large)) {
                QPixmap pixmap = decode(large);
                pixmap.setDevicePixelRatio(2.0);
                return pixmap;
            }
        }
    }
    return decode(path);
}

QIcon programIcon()
{
    // The sizes an X11 window manager is given; drawn ahead, so no SVG
    // engine is loaded at start.
    QIcon icon;
    for (int size : {16, 32, 64, 128})
        icon.addPixmap(load(QStringLiteral("icon/zhiweige-%1.png").arg(size), 1.0));
    return icon;
}

} // namespace Pictures
