#include "ServiceProbe.h"

#include "FortuneService.h"

#include "core/LoopbackPeer.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <memory>
#include <pwd.h>

namespace ServiceProbe {

QString userName(uid_t uid)
{
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

Verdict whoAnswers(quint16 port, std::chrono::milliseconds timeout)
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

    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return {Holder::Nothing};
    // Nothing here aborts the reply: only the transfer timeout cancels it.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return {Holder::Silent};
    default:
        break;
    }
    // Asked while the connection that answered is still open.
    const LoopbackPeer::Verdict peer = LoopbackPeer::ofConnectionsTo(port);
    if (peer.kind == LoopbackPeer::Verdict::Foreign)
        return {Holder::AnotherUser, peer.owner};
    if (reply->rawHeader("Server") != FortuneService::ServerName)
        return {Holder::Other};
    return {peer.trusted() ? Holder::Ours : Holder::Unknown};
}

} // namespace ServiceProbe
