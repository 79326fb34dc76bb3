#include "Pictures.h"

#include <QFile>
#include <QGuiApplication>

namespace Pictures {

QPixmap load(const QString &name, qreal devicePixelRatio)
{
    const QString path = QStringLiteral(":/zhiwei/") + name;
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : qApp->devicePixelRatio();
    if (ratio > 1.0) {
        QString large = path;
        large.insert(large.lastIndexOf(u'.'), QStringLiteral("@2x"));
        if (QFile::exists(large)) {
            QPixmap pixmap(large);
            pixmap.setDevicePixelRatio(2.0);
            return pixmap;
        }
    }
    return QPixmap(path);
}

QIcon programIcon()
{
    return QIcon(QStringLiteral(":/zhiwei/icon/zhiweige.svg"));
}

} // namespace Pictures
