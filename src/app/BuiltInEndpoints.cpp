// Compiled into each program, with the addresses that program was built for.
#include "Endpoints.h"

#include "BuildEndpoints.h"

Endpoints Endpoints::builtIn()
{
    return {QUrl(QStringLiteral(ZHIWEI_FORTUNE_BASE)), QUrl(QStringLiteral(ZHIWEI_NOTICE_URL)),
            QUrl(QStringLiteral(ZHIWEI_MAKER_FORUM)), QUrl(QStringLiteral(ZHIWEI_PARTNER_FORUM))};
}
