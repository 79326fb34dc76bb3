#include "Server.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace http {
namespace {

const char *const PendingProperty = "http.pending";

} // namespace

Server::Server(Handler handler, QObject *parent)
    : Server(parent)
{
    m_handler = std::move(handler);
}

Server::Server(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &Server::acceptConnections);
}

Server::~Server() = default;

bool Server::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

bool Server::adopt(qintptr socketDescriptor)
{
    return m_server->setSocketDescriptor(socketDescriptor);
}

quint16 Server::port() const
{
    return m_server->serverPort();
}

QUrl Server::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

QString Server::errorString() const
{
    return m_server->errorString();
}

void Server::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

int Server::openConnections() const
{
    return int(findChildren<QTcpSocket *>().size());
}

void Server::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    }
}

void Server::readRequest(QTcpSocket *socket)
{
    QByteArray pending = socket->property(PendingProperty).toByteArray() + socket->readAll();
    const qsizetype end = pending.indexOf("\r\n\r\n");
    if (end < 0) {
        if (pending.size() > MaxHeadBytes)
            socket->abort();
        else
            socket->setProperty(PendingProperty, pending);
        return;
    }
    // One request per connection: every answer says Connection: close.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->setProperty(PendingProperty, QVariant());

    const std::optional<Request> request = Request::fromHead(pending.left(end + 2));
    if (!request) {
        socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    emit requestReceived(*request);
    answer(socket, *request);
}

void Server::answer(QTcpSocket *socket, const Request &request)
{
    Response response;
    if (m_handler) {
        response = m_handler(request);
    } else {
        response = Response::text("Not Found\n");
        response.status = 404;
    }
    const QByteArray body = response.encodedBody();
    QByteArray bytes = response.head(body.size());
    if (request.method != "HEAD")
        bytes += body;
    later(socket, response.delayMs, [bytes](QTcpSocket *s) {
        s->write(bytes);
        s->disconnectFromHost();
    });
}

void Server::later(QTcpSocket *socket, int delayMs, std::function<void(QTcpSocket *)> deliver)
{
    if (delayMs <= 0) {
        deliver(socket);
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(delayMs, socket, [guard, deliver = std::move(deliver)] {
        if (guard)
            deliver(guard.data());
    });
}

} // namespace http
