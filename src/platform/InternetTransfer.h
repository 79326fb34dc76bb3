#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class FetchReply;
class PageFetcher;
class QNetworkAccessManager;
struct FetchResult;

// Downloads one small text, such as the version notice, in the background.
// Each OpenURL() reports exactly once through finished(): the body as text,
// or the empty string when the download failed for any reason.
class InternetTransfer : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxBodyBytes = 64 * 1024;
    static constexpr int DefaultTimeoutMs = 60'000;

    // Uses the network manager given, or one of its own.
    explicit InternetTransfer(QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);
    ~InternetTransfer() override;

    // The whole download must be over within this time.
    void setTimeoutMs(int ms);
    int timeoutMs() const { return m_timeoutMs; }

    // Starts a GET; a download still running is dropped without a report.
    void OpenURL(const QUrl &url);
    bool isBusy() const { return !m_reply.isNull(); }

signals:
    void finished(const QString &body);

private:
    void arrived(const FetchResult &result);

    PageFetcher *m_fetcher;
    QPointer<FetchReply> m_reply;
    int m_timeoutMs = DefaultTimeoutMs;
};
