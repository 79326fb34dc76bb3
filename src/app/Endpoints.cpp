#include "Endpoints.h"

Endpoints Endpoints::onLocalService(const QUrl &base)
{
    return {base,
            base.resolved(QUrl(QStringLiteral("/kwgamejc/xz/jc.txt"))),
            base.resolved(QUrl(QStringLiteral("/bbs/"))),
            base.resolved(QUrl(QStringLiteral("/yunfan/"))),
            QString(),
            QString(),
            QStringList()};
}
