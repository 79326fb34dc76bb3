// Compiled into each program, with the addresses that program was built for.
#include "Endpoints.h"

#include "BuildEndpoints.h"

Endpoints Endpoints::builtIn(const QString &appDir)
{
    const QUrl beside = QUrl::fromLocalFile(appDir + u'/');
    return {QUrl(QStringLiteral(ZHIWEI_FORTUNE_BASE)), QUrl(QStringLiteral(ZHIWEI_NOTICE_URL)),
            beside.resolved(QUrl(QStringLiteral(ZHIWEI_MAKER_FORUM))),
            beside.resolved(QUrl(QStringLiteral(ZHIWEI_PARTNER_FORUM))),
            QStringLiteral(ZHIWEI_SYSTEM_SOCKET)};
}
