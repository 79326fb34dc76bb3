#include "PageFetcher.h"

#include "Charset.h"
#include "LocalService.h"
#include "ServiceNetwork.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// The network reply holds at most this much for us, so an oversized body is
// noticed a slice past the limit instead of after the server sent it all.
constexpr qint64 ReadSlice = 256 * 1024;

int statusOf(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// An answer of the local service is never followed to another address, nor
// read as a page or a text.
bool isLocalRedirect(const QUrl &url, int status)
{
    return LocalService::isLocal(url) && status >= 300 && status <= 399;
}

// A transparently decoded body has no length to compare with.
bool hasPlainLength(const QNetworkReply *reply)
{
    return reply->header(QNetworkRequest::ContentLengthHeader).isValid() &&
           !reply->hasRawHeader("Content-Encoding");
}

FetchError errorFor(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return FetchError::HostNotFound;
    case QNetworkReply::ConnectionRefusedError:
        return FetchError::ConnectionRefused;
    // A reset and an early close both leave the page cut short; the caller
    // can do nothing different about either.
    case QNetworkReply::RemoteHostClosedError:
        return FetchError::ConnectionClosed;
    case QNetworkReply::TimeoutError:
        return FetchError::Timeout;
    case QNetworkReply::TooManyRedirectsError:
        return FetchError::TooManyRedirects;
    default:
        return FetchError::Network;
    }
}

} // namespace

FetchReply::FetchReply(QNetworkAccessManager *network, const QNetworkRequest &request,
                       FetchStyle style, const FetchLimits &limits, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_request(request)
    , m_url(request.url())
    , m_style(style)
    , m_limits(limits)
    , m_idle(new QTimer(this))
    , m_deadline(new QTimer(this))
{
    m_idle->setSingleShot(true);
    m_idle->setInterval(limits.idleTimeout);
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(limits.totalTimeout);
    connect(m_idle, &QTimer::timeout, this, [this] {
        fail(FetchError::Timeout,
             QStringLiteral("no data for %1 ms").arg(m_limits.idleTimeout.count()));
    });
    connect(m_deadline, &QTimer::timeout, this, [this] {
        fail(FetchError::Timeout,
             QStringLiteral("no complete answer within %1 ms").arg(m_limits.totalTimeout.count()));
    });
    m_idle->start();
    m_deadline->start();
    attach(network->get(request));
}

void FetchReply::attach(QNetworkReply *reply)
{
    m_reply = reply;
    reply->setReadBufferSize(ReadSlice);
    connect(reply, &QNetworkReply::metaDataChanged, this, &FetchReply::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &FetchReply::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &FetchReply::onFinished);
    connect(reply, &QNetworkReply::redirected, m_idle, qOverload<>(&QTimer::start));
    connect(reply, &QNetworkReply::downloadProgress, m_idle, qOverload<>(&QTimer::start));
    connect(reply, &QObject::destroyed, this, &FetchReply::onReplyDestroyed);
}

// The local service, refused or hung up on before a word: its socket may
// have been left by a service gone since, or by a system unit stopped. The
// network sees to it (starts the person's own), and the page is asked once
// more; else the failure stands.
bool FetchReply::askAgain(const FetchResult &failure)
{
    auto *network = qobject_cast<ServiceNetwork *>(m_network.data());
    const bool unanswered =
        failure.error == FetchError::ConnectionRefused ||
        (failure.error == FetchError::ConnectionClosed && failure.httpStatus == 0);
    if (m_askedAgain || !network || !unanswered || !LocalService::isLocal(m_url))
        return false;
    m_askedAgain = true;
    release();
    network->recover(this, [this, failure](bool again) {
        if (m_finished || m_aborted)
            return;
        if (again && m_network)
            attach(m_network->get(m_request));
        else
            finish(failure);
    });
    return true;
}

FetchReply::~FetchReply()
{
    release();
}

void FetchReply::abort()
{
    if (m_finished || m_aborted)
        return;
    m_aborted = true;
    m_idle->stop();
    m_deadline->stop();
    release();
    deleteLater();
}

void FetchReply::onMetaData()
{
    m_idle->start();
    if (isLocalRedirect(m_url, statusOf(m_reply))) {
        complete();
        return;
    }
    if (m_style == FetchStyle::Text || !isSuccess(statusOf(m_reply)) || !hasPlainLength(m_reply))
        return;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (length > m_limits.maxBodyBytes) {
        fail(FetchError::TooLarge, QStringLiteral("the page announces %1 bytes").arg(length));
        return;
    }
    if (length > m_body.capacity())
        m_body.reserve(length);
}

void FetchReply::onReadyRead()
{
    m_idle->start();
    const qint64 available = m_reply->bytesAvailable();
    if (available <= 0)
        return;
    if (m_style == FetchStyle::Page && !isSuccess(statusOf(m_reply))) {
        // An error page is never shown; only its status matters.
        m_reply->skip(available);
        return;
    }
    m_bodyBytes = m_body.size() + available;
    if (m_style == FetchStyle::Text && m_bodyBytes >= m_limits.maxBodyBytes) {
        // Enough: whatever the server says after this is not read.
        m_body += m_reply->read(m_limits.maxBodyBytes - m_body.size());
        m_bodyBytes = m_body.size();
        complete();
        return;
    }
    if (m_bodyBytes > m_limits.maxBodyBytes) {
        fail(FetchError::TooLarge,
             QStringLiteral("the page passed %1 bytes").arg(m_limits.maxBodyBytes));
        return;
    }
    const qsizetype old = m_body.size();
    if (m_bodyBytes > m_body.capacity())
        m_body.reserve(std::min<qint64>(std::max<qint64>(m_bodyBytes, 2 * m_body.capacity()),
                                        m_limits.maxBodyBytes));
    m_body.resize(m_bodyBytes);
    const qint64 got = m_reply->read(m_body.data() + old, available);
    m_body.resize(old + std::max<qint64>(got, 0));
    m_bodyBytes = m_body.size();
}

void FetchReply::onFinished()
{
    if (m_reply->bytesAvailable() > 0)
        onReadyRead();
    if (m_finished || m_aborted)
        return;
    complete();
}

// The verdict on the answer so far, and the report.
void FetchReply::complete()
{
    FetchResult result;
    result.httpStatus = statusOf(m_reply);
    result.bodyBytes = m_bodyBytes;
    const QNetworkReply::NetworkError error = m_reply->error();

    if (error == QNetworkReply::TooManyRedirectsError) {
        result.error = FetchError::TooManyRedirects;
    } else if (isLocalRedirect(m_url, result.httpStatus)) {
        result.error = FetchError::Redirected;
        result.errorString = QStringLiteral("HTTP status %1 from the local service, which is "
                                            "never followed to another address")
                                 .arg(result.httpStatus);
    } else if (LocalService::isLocal(m_url) && result.httpStatus != 0 &&
               !m_reply->header(QNetworkRequest::ContentLengthHeader).isValid()) {
        // The service tells every length: an answer without one ended
        // because the service did, wherever it stopped.
        result.error = FetchError::ConnectionClosed;
        result.errorString = QStringLiteral("the local service's answer tells no length");
    } else if (result.httpStatus != 0 && !isSuccess(result.httpStatus)) {
        result.error = FetchError::HttpStatus;
        result.errorString = QStringLiteral("HTTP status %1").arg(result.httpStatus);
    } else if (error != QNetworkReply::NoError) {
        result.error = errorFor(error);
    } else if (result.httpStatus == 0) {
        result.error = FetchError::Network;
        result.errorString = QStringLiteral("not an HTTP answer");
    } else if (m_style == FetchStyle::Page && hasPlainLength(m_reply) &&
               m_bodyBytes < m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()) {
        result.error = FetchError::ConnectionClosed;
        result.errorString = QStringLiteral("the page ended early");
    }
    if (result.error != FetchError::None && result.errorString.isEmpty())
        result.errorString = m_reply->errorString();
    if (m_style == FetchStyle::Text ? result.answered() : result.ok())
        result.text = Charset::decode(m_body, m_reply->rawHeader("Content-Type"), &result.charset);
    if (!result.answered() && askAgain(result))
        return;
    finish(std::move(result));
}

void FetchReply::onReplyDestroyed()
{
    // The network manager went away with the download still running.
    m_reply = nullptr;
    fail(FetchError::Network, QStringLiteral("the network manager was destroyed"));
}

void FetchReply::fail(FetchError error, const QString &why)
{
    FetchResult result;
    result.error = error;
    result.errorString = why;
    result.bodyBytes = m_bodyBytes;
    if (m_reply)
        result.httpStatus = statusOf(m_reply);
    finish(std::move(result));
}

void FetchReply::finish(FetchResult result)
{
    if (m_finished || m_aborted)
        return;
    m_finished = true;
    m_idle->stop();
    m_deadline->stop();
    m_body = QByteArray();
    release();
    // Last: a receiver may delete us right away.
    deleteLater();
    emit finished(result);
}

void FetchReply::release()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    disconnect(reply, nullptr, m_idle, nullptr);
    reply->abort();
    reply->deleteLater();
}

PageFetcher::PageFetcher(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network ? network : new ServiceNetwork(LocalService::systemSocket(), this))
{}

FetchReply *PageFetcher::fetch(const QUrl &url, FetchStyle style)
{
    QNetworkRequest request(url);
    // "0" is no date, so no server can take it for a fresh copy and answer 304.
    if (style == FetchStyle::Page)
        request.setRawHeader("If-Modified-Since", "0");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setMaximumRedirectsAllowed(m_limits.maxRedirects);
    // Whatever the network manager: the local service is never followed.
    if (LocalService::isLocal(url))
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
    return new FetchReply(m_network, request, style, m_limits, this);
}
