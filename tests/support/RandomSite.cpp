#include "RandomSite.h"

#include "core/SignTable.h"

using httpkit::Response;

RandomSite::RandomSite(int maxDelayMs)
    : m_maxDelayMs(maxDelayMs)
    , m_seed(qEnvironmentVariableIsSet("ZHIWEI_RANDOM_SEED")
                 ? quint32(qEnvironmentVariableIntValue("ZHIWEI_RANDOM_SEED"))
                 : QRandomGenerator::global()->generate())
    , m_random(m_seed)
{
    qInfo("seed %u (set ZHIWEI_RANDOM_SEED to replay)", m_seed);
}

PageSpec RandomSite::pageOf(const SignInfo &sign, bool tomorrow)
{
    return TestPages::ownPage(sign.index, sign.slug.toString(), sign.name.toString(), tomorrow);
}

Response RandomSite::answer(const httpkit::Request &request)
{
    // /astro/view/<slug>/day/[yyyyMMdd]
    const QList<QByteArray> parts = request.path().split('/');
    const SignInfo *sign =
        parts.size() > 3 ? SignTable::bySlug(QString::fromLatin1(parts[3])) : nullptr;
    if (!sign)
        return Response::status404();
    const bool tomorrow = !parts.last().isEmpty();
    Response r = Response::html(TestPages::page(pageOf(*sign, tomorrow)).toUtf8());
    r.delayMs = int(m_random.bounded(m_maxDelayMs + 1));
    switch (m_random.bounded(20)) {
    case 0:
        return Response::status404();
    case 1:
        r.body.clear();
        break;
    case 2:
        r.delivery = Response::Delivery::ResetMidBody;
        break;
    case 3:
        r.delivery = Response::Delivery::Silent;
        break;
    default:
        break;
    }
    return r;
}
