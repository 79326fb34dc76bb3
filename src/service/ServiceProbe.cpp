#include "ServiceProbe.h"

#include "FortuneService.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <functional>

namespace ServiceProbe {
namespace {

// Asks the connected `device` and reads up to the end of its answer's head.
Holder ask(QIODevice &device, const std::function<bool()> &open, const QDeadlineTimer &deadline)
{
    device.write("HEAD / HTTP/1.1\r\nHost: zhiweige\r\nConnection: close\r\n\r\n");
    QByteArray head;
    while (!head.contains("\r\n\r\n") && !head.contains("\n\n") && open()) {
        if (deadline.hasExpired())
            return Holder::Silent;
        device.waitForReadyRead(int(deadline.remainingTime()));
        head += device.read(16 * 1024 - head.size());
        if (head.size() >= 16 * 1024)
            break;
    }
    head += device.read(16 * 1024 - head.size());
    if (head.isEmpty())
        return Holder::HungUp;
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare("Server", Qt::CaseInsensitive) == 0 &&
            line.mid(colon + 1).trimmed() == FortuneService::ServerName)
            return head.startsWith("HTTP/1.") ? Holder::Ours : Holder::Other;
    }
    return Holder::Other;
}

} // namespace

Holder atSocket(const QString &path, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
            return Holder::Nothing;
        case QLocalSocket::SocketTimeoutError:
            return Holder::Silent;
        default:
            return Holder::Other; // there, but not to be reached by this user
        }
    }
    return ask(
        socket, [&socket] { return socket.state() == QLocalSocket::ConnectedState; }, deadline);
}

Holder atPort(quint16 port, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        return socket.error() == QAbstractSocket::ConnectionRefusedError ? Holder::Nothing
               : deadline.hasExpired()                                   ? Holder::Silent
                                                                         : Holder::Other;
    }
    return ask(
        socket, [&socket] { return socket.state() == QAbstractSocket::ConnectedState; }, deadline);
}

} // namespace ServiceProbe
