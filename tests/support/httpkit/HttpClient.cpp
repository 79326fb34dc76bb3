#include "HttpClient.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QTimer>

#include <memory>

namespace httpkit {

Client::Client(std::chrono::milliseconds wait)
    : m_wait(wait)
{
    m_network.setProxy(QNetworkProxy::NoProxy);
}

Answer Client::send(const QByteArray &method, const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_wait.count()));
    const std::unique_ptr<QNetworkReply> reply(
        method == "GET"    ? m_network.get(request)
        : method == "HEAD" ? m_network.head(request)
                           : m_network.sendCustomRequest(request, method));
    Answer answer;
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(m_wait, &loop, &QEventLoop::quit);
        loop.exec();
        if (!reply->isFinished()) {
            reply->abort();
            return answer;
        }
    }
    answer.finished = true;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.contentType = reply->rawHeader("Content-Type");
    answer.server = reply->rawHeader("Server");
    answer.body = reply->readAll();
    answer.error = reply->error();
    return answer;
}

QUrl localUrl(quint16 port, const QByteArray &path)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port) + QString::fromLatin1(path));
}

} // namespace httpkit
