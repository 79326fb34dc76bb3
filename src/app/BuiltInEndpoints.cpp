// Compiled into each program, with the addresses that program was built for.
#include "Endpoints.h"

#include "BuildEndpoints.h"

#include "net/LocalService.h"

Endpoints Endpoints::builtIn(const QString &appDir)
{
    const QUrl beside = QUrl::fromLocalFile(appDir + u'/');
    Endpoints endpoints{QUrl(QStringLiteral(ZHIWEI_FORTUNE_BASE)),
                        QUrl(QStringLiteral(ZHIWEI_NOTICE_URL)),
                        beside.resolved(QUrl(QStringLiteral(ZHIWEI_MAKER_FORUM))),
                        beside.resolved(QUrl(QStringLiteral(ZHIWEI_PARTNER_FORUM))),
                        QStringLiteral(ZHIWEI_SYSTEM_SOCKET),
                        QString(),
                        QStringList()};
    // Started as the launcher starts it, from beside the program, so that it
    // sees the program and stays while it runs.
    if (LocalService::isLocal(endpoints.fortuneBase)) {
        endpoints.serviceProgram = appDir + QStringLiteral("/zhiwei-fortune-service");
        endpoints.serviceArguments = {QStringLiteral("--background"),
                                      QStringLiteral("--system-socket"), endpoints.systemSocket,
                                      QStringLiteral("--idle-exit"),
                                      QString::number(ZHIWEI_SERVICE_IDLE_SECONDS)};
    }
    return endpoints;
}
