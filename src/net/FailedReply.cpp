#include "FailedReply.h"

#include <QPointer>

FailedReply::FailedReply(QNetworkAccessManager::Operation op, const QNetworkRequest &request,
                         NetworkError error, const QString &why, QObject *parent)
    : QNetworkReply(parent)
{
    setOperation(op);
    setRequest(request);
    setUrl(request.url());
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    // On the next turn, as Qt's replies: the caller connects its slots first.
    QMetaObject::invokeMethod(
        this,
        [this, error, why] {
            setError(error, why);
            setFinished(true);
            QPointer<FailedReply> alive(this);
            emit errorOccurred(error);
            if (alive)
                emit downloadProgress(0, 0);
            if (alive)
                emit readChannelFinished();
            if (alive)
                emit finished();
        },
        Qt::QueuedConnection);
}
