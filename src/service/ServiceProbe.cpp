#include "ServiceProbe.h"

#include "FortuneService.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <memory>

namespace ServiceProbe {

Holder whoAnswers(quint16 port, std::chrono::milliseconds timeout)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    request.setTransferTimeout(int(timeout.count()));
    const std::unique_ptr<QNetworkReply> reply(network.head(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    if (reply->error() == QNetworkReply::ConnectionRefusedError)
        return Holder::Nothing;
    return reply->rawHeader("Server") == FortuneService::ServerName ? Holder::Ours : Holder::Other;
}

} // namespace ServiceProbe
