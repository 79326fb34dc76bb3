#pragma once

#include "PageFetcher.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

// Downloads one small text, such as the version notice, in the background,
// as a transfer control does: whatever body the server answers with, an
// error page included, decoded to text and cut at MaxBodyBytes. Only no
// answer at all (no network, an unknown host, a refused or dropped
// connection, no whole answer in time, or a redirect of the local service)
// gives the empty text.
class InternetTransfer : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxBodyBytes = 64 * 1024;
    static constexpr int DefaultTimeoutMs = 60'000;

    // Uses the network manager given, or a ServiceNetwork of its own.
    explicit InternetTransfer(QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);
    ~InternetTransfer() override;

    // The whole download must be over within this time.
    void setTimeoutMs(int ms);

    // Starts a GET; a download still running is dropped without a report.
    // Reports exactly once through finished().
    void get(const QUrl &url);
    // Whether the last report came from an answer rather than from no
    // answer at all.
    bool heard() const { return m_heard; }

signals:
    void finished(const QString &body);

private:
    PageFetcher m_fetcher;
    QPointer<FetchReply> m_reply;
    bool m_heard = false;
};
