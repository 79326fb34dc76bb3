#include "InternetTransfer.h"

#include "fortune/PageFetcher.h"

#include <chrono>

InternetTransfer::InternetTransfer(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_fetcher(new PageFetcher(network, this))
{}

InternetTransfer::~InternetTransfer()
{
    if (m_reply)
        m_reply->abort();
}

void InternetTransfer::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}

void InternetTransfer::OpenURL(const QUrl &url)
{
    if (m_reply)
        m_reply->abort();

    FetchLimits limits;
    limits.maxBodyBytes = MaxBodyBytes;
    // One limit for the whole transfer: a server that drips a byte now and
    // then must not hold the caller longer than a silent one.
    limits.totalTimeout = std::chrono::milliseconds(m_timeoutMs);
    limits.idleTimeout = limits.totalTimeout;
    m_fetcher->setLimits(limits);

    m_reply = m_fetcher->GetBody(url);
    connect(m_reply, &FetchReply::finished, this, &InternetTransfer::arrived);
}

void InternetTransfer::arrived(const FetchResult &result)
{
    m_reply = nullptr;
    emit finished(result.ok() ? result.text : QString());
}
