#include "Endpoints.h"

#include "BuildEndpoints.h"

Endpoints Endpoints::builtIn()
{
    return {QUrl(QStringLiteral(ZHIWEI_FORTUNE_BASE)), QUrl(QStringLiteral(ZHIWEI_NOTICE_URL)),
            QUrl(QStringLiteral(ZHIWEI_MAKER_FORUM)), QUrl(QStringLiteral(ZHIWEI_PARTNER_FORUM))};
}

Endpoints Endpoints::onLocalService(const QUrl &base)
{
    return {base, base.resolved(QUrl(QStringLiteral("/kwgamejc/xz/jc.txt"))),
            base.resolved(QUrl(QStringLiteral("/bbs/"))),
            base.resolved(QUrl(QStringLiteral("/yunfan/")))};
}
