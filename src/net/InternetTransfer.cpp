#include "InternetTransfer.h"

namespace {

FetchLimits limitsWithin(std::chrono::milliseconds time)
{
    FetchLimits limits;
    limits.maxBodyBytes = InternetTransfer::MaxBodyBytes;
    // One limit for the whole transfer: a server that drips a byte now and
    // then must not hold the program longer than a silent one.
    limits.idleTimeout = time;
    limits.totalTimeout = time;
    return limits;
}

} // namespace

InternetTransfer::InternetTransfer(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_fetcher(network)
{
    m_fetcher.setLimits(limitsWithin(std::chrono::milliseconds(DefaultTimeoutMs)));
}

InternetTransfer::~InternetTransfer()
{
    if (m_reply)
        m_reply->abort();
}

void InternetTransfer::setTimeoutMs(int ms)
{
    m_fetcher.setLimits(limitsWithin(std::chrono::milliseconds(ms)));
}

void InternetTransfer::get(const QUrl &url)
{
    if (m_reply)
        m_reply->abort();
    m_heard = false;
    m_reply = m_fetcher.fetch(url, FetchStyle::Text);
    connect(m_reply, &FetchReply::finished, this, [this](const FetchResult &result) {
        m_heard = result.answered();
        emit finished(m_heard ? result.text : QString());
    });
}
