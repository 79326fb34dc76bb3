#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Why a fetch produced no page.
enum class FetchError {
    None,
    HostNotFound,
    ConnectionRefused,
    ConnectionClosed, // reset or closed before the whole answer arrived
    Timeout,          // no byte for too long, or no complete answer in time
    HttpStatus,       // the server answered with a status outside 2xx
    TooLarge,         // the body passed the size limit
    TooManyRedirects,
    Redirected, // the local service answered 3xx: its answers are never followed elsewhere
    Network,    // anything else the network stack reports
};

struct FetchResult
{
    FetchError error = FetchError::None;
    QString text;         // the page, decoded; empty for a 0-byte page
    int httpStatus = 0;   // 0 when no status line arrived
    QByteArray charset;   // charset used to decode the body
    qint64 bodyBytes = 0; // bytes received, after transfer decoding
    QString errorString;  // a short English description, for tests and debugging

    bool ok() const { return error == FetchError::None; }
    // Whether the server answered as such: a page, or an error page, which
    // is still an answer.
    bool answered() const { return ok() || error == FetchError::HttpStatus; }
};

// What a download takes from the answer. A page is a 2xx answer asked for
// fresh ("If-Modified-Since: 0"), whole and within the size limit. A text,
// such as the version notice, is the body of any answer, an error page's
// included, cut at the size limit.
enum class FetchStyle { Page, Text };

struct FetchLimits
{
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    std::chrono::milliseconds idleTimeout{15'000};  // no byte for this long
    std::chrono::milliseconds totalTimeout{30'000}; // whole answer within this
    int maxRedirects = 10;
};

// One page download in flight. It reports exactly once through finished(),
// unless it was aborted, and deletes itself afterwards.
class FetchReply : public QObject
{
    Q_OBJECT
public:
    ~FetchReply() override;

    QUrl url() const { return m_url; }
    bool isFinished() const { return m_finished; }
    // Cancels the download; finished() is not emitted. Safe to call at any time.
    void abort();

signals:
    void finished(const FetchResult &result);

private:
    friend class PageFetcher;
    FetchReply(QNetworkAccessManager *network, const QNetworkRequest &request, FetchStyle style,
               const FetchLimits &limits, QObject *parent);
    void attach(QNetworkReply *reply);
    bool askAgain(const FetchResult &failure);
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onReplyDestroyed();
    void complete();
    void fail(FetchError error, const QString &why);
    void finish(FetchResult result);
    void release();

    QPointer<QNetworkAccessManager> m_network;
    QNetworkRequest m_request;
    QPointer<QNetworkReply> m_reply;
    QUrl m_url;
    FetchStyle m_style;
    FetchLimits m_limits;
    QTimer *m_idle;
    QTimer *m_deadline;
    QByteArray m_body;
    qint64 m_bodyBytes = 0;
    bool m_finished = false;
    bool m_aborted = false;
    bool m_askedAgain = false;
};

// Downloads pages and small texts: an HTTP GET, event driven (no busy wait,
// no nested event loop), the body handed back as text. Addresses of the
// offline service (unix+http:) need a ServiceNetwork, which reaches its
// socket; such an address is never redirected, and where nobody answers
// there it is asked once more after the ServiceNetwork has seen to it.
class PageFetcher : public QObject
{
    Q_OBJECT
public:
    // Without a network manager it makes a ServiceNetwork of its own.
    explicit PageFetcher(QNetworkAccessManager *network, QObject *parent = nullptr);

    void setLimits(const FetchLimits &limits) { m_limits = limits; }

    // Starts one download. The reply is owned by the fetcher and deletes
    // itself after it has reported.
    FetchReply *fetch(const QUrl &url, FetchStyle style = FetchStyle::Page);

private:
    QNetworkAccessManager *m_network;
    FetchLimits m_limits;
};
