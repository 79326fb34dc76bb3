#include "InternetTransfer.h"

#include "Charset.h"

#include "LoopbackPeer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

InternetTransfer::InternetTransfer(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network ? network : new QNetworkAccessManager(this))
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(DefaultTimeoutMs);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        drop();
        report(QString());
    });
}

InternetTransfer::~InternetTransfer()
{
    drop();
}

void InternetTransfer::setTimeoutMs(int ms)
{
    m_deadline->setInterval(ms);
}

void InternetTransfer::get(const QUrl &url)
{
    drop();
    m_body.clear();
    m_heard = false;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setMaximumRedirectsAllowed(10);
    m_reply = m_network->get(request);
    // A slice past the limit at most waits in the reply's buffer.
    m_reply->setReadBufferSize(MaxBodyBytes + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &InternetTransfer::readSome);
    connect(m_reply, &QNetworkReply::finished, this, &InternetTransfer::replyFinished);
    // One limit for the whole transfer: a server that drips a byte now and
    // then must not hold the program longer than a silent one.
    m_deadline->start();
}

void InternetTransfer::readSome()
{
    m_body += m_reply->read(MaxBodyBytes - m_body.size());
    if (m_body.size() < MaxBodyBytes)
        return;
    // Enough: whatever the server says after this is not read.
    const bool trusted = fromTrustedServer();
    const QByteArray contentType = m_reply->rawHeader("Content-Type");
    drop();
    m_heard = trusted;
    report(trusted ? Charset::decode(m_body, contentType) : QString());
}

void InternetTransfer::replyFinished()
{
    if (m_reply->bytesAvailable() > 0) {
        readSome();
        if (!m_reply)
            return;
    }
    const QNetworkReply::NetworkError error = m_reply->error();
    const bool gotStatus =
        m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 0;
    // An answer with an error status is still an answer; a transport error
    // (refused, reset, dropped, unknown host, too many redirects) is none.
    const bool answered = gotStatus && (error == QNetworkReply::NoError ||
                                        (error >= QNetworkReply::ContentAccessDenied &&
                                         error <= QNetworkReply::UnknownContentError) ||
                                        error >= QNetworkReply::InternalServerError);
    const bool trusted = fromTrustedServer();
    const QByteArray contentType = m_reply->rawHeader("Content-Type");
    drop();
    m_heard = answered && trusted;
    report(m_heard ? Charset::decode(m_body, contentType) : QString());
}

// On this machine's loopback, anyone may be the one answering: only a
// trusted user's server is heard, decided on the connections it answered
// over while they are open.
bool InternetTransfer::fromTrustedServer() const
{
    const QUrl url = m_reply->url();
    return !LoopbackPeer::isLoopback(url) ||
           LoopbackPeer::ofConnectionsTo(quint16(url.port(80))).trusted();
}

void InternetTransfer::report(const QString &body)
{
    m_body.clear();
    emit finished(body);
}

void InternetTransfer::drop()
{
    m_deadline->stop();
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}
