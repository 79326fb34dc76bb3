#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>

// A reply that fails without connecting anywhere, on the next event-loop
// turn, with the signals Qt's own failed replies give: for a request the
// network manager refuses to send.
class FailedReply : public QNetworkReply
{
    Q_OBJECT
public:
    FailedReply(QNetworkAccessManager::Operation op, const QNetworkRequest &request,
                NetworkError error, const QString &why, QObject *parent = nullptr);

    void abort() override {}
    qint64 bytesAvailable() const override { return 0; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
};
