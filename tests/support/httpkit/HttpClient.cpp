#include "HttpClient.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLocalSocket>
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
    const std::unique_ptr<QNetworkReply> reply(method == "GET" ? m_network.get(request)
                                               : method == "HEAD"
                                                   ? m_network.head(request)
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

Answer Client::sendLocal(const QString &socket, const QByteArray &target, const QByteArray &method)
{
    Answer answer;
    QLocalSocket local;
    const QDeadlineTimer deadline(m_wait);
    local.connectToServer(socket);
    if (!local.waitForConnected(int(deadline.remainingTime()))) {
        answer.error = QNetworkReply::ConnectionRefusedError;
        return answer;
    }
    local.write(method + ' ' + target + " HTTP/1.1\r\nHost: zhiweige\r\nConnection: close\r\n\r\n");
    QByteArray received;
    while (local.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        local.waitForReadyRead(int(deadline.remainingTime()));
        received += local.readAll();
    }
    received += local.readAll();
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (local.state() == QLocalSocket::ConnectedState || headEnd < 0)
        return answer;
    const QList<QByteArray> lines = received.left(headEnd).split('\n');
    answer.finished = true;
    answer.status = lines.first().split(' ').value(1).toInt();
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "content-type")
            answer.contentType = line.mid(colon + 1).trimmed();
        else if (name == "server")
            answer.server = line.mid(colon + 1).trimmed();
    }
    answer.body = received.mid(headEnd + 4);
    return answer;
}

QUrl localUrl(quint16 port, const QByteArray &path)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port) + QString::fromLatin1(path));
}

} // namespace httpkit
