#include "Server.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace http {
namespace {

const char *const PendingProperty = "http.pending";
// Accepted in one go before the event loop gets a turn again.
constexpr int AcceptBatch = 64;

} // namespace

Server::Server(Handler handler, QObject *parent)
    : Server(parent)
{
    m_handler = std::move(handler);
}

Server::Server(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_maxConnections(defaultMaxConnections())
{}

Server::~Server() = default;

int Server::defaultMaxConnections()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 4096;
    return int(std::clamp<rlim_t>(limit.rlim_cur / 2, 16, 4096));
}

bool Server::listen(const QHostAddress &address, quint16 port)
{
    return startAccepting(m_server->listen(address, port));
}

bool Server::adopt(qintptr socketDescriptor)
{
    return startAccepting(m_server->setSocketDescriptor(socketDescriptor));
}

// Qt 6.4's QTcpServer, out of descriptors, fails to accept on every turn
// of the event loop and never says so: it would spin a core. It keeps the
// listening socket; the accepting is done here.
bool Server::startAccepting(bool listening)
{
    if (!listening)
        return false;
    m_server->pauseAccepting();
    delete m_acceptable;
    m_acceptable = new QSocketNotifier(m_server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptable, &QSocketNotifier::activated, this, &Server::acceptConnections);
    return true;
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
    return int(m_connections.size());
}

void Server::acceptConnections()
{
    const int listener = int(m_server->socketDescriptor());
    for (int i = 0; i < AcceptBatch; ++i) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // Out of descriptors (or another resource): the oldest
            // unfinished connection gives its descriptor up, and the next
            // one waiting is taken at once. With none to close, accepting
            // waits a moment instead of failing again on every turn.
            if (m_unfinished.isEmpty()) {
                pauseAccepting();
                return;
            }
            close(m_unfinished.first());
            continue;
        }
        // Full: the oldest connection still sending its head makes room, so
        // whoever holds connections open cannot lock a newcomer out. With
        // every place taken by answers on their way, the newcomer waits
        // for none of them and is closed.
        if (m_connections.size() >= m_maxConnections) {
            if (m_unfinished.isEmpty()) {
                ::close(fd);
                continue;
            }
            close(m_unfinished.first());
        }
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        // Bytes beyond a head are never needed: once this much waits unread,
        // the socket stops reading and the sender is held back by TCP itself.
        socket->setReadBufferSize(MaxHeadBytes);
        m_connections.insert(socket);
        m_unfinished.append(socket);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        QTimer::singleShot(m_headDeadline, socket, [this, socket] {
            if (m_unfinished.contains(socket))
                close(socket);
        });
    }
}

void Server::pauseAccepting()
{
    m_acceptable->setEnabled(false);
    QTimer::singleShot(AcceptPause, m_acceptable,
                       [notifier = m_acceptable] { notifier->setEnabled(true); });
}

void Server::close(QTcpSocket *socket)
{
    forget(socket);
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}

void Server::forget(QTcpSocket *socket)
{
    m_connections.remove(socket);
    m_unfinished.removeOne(socket);
}

void Server::readRequest(QTcpSocket *socket)
{
    const QByteArray pending = socket->property(PendingProperty).toByteArray() + socket->readAll();
    const Request::HeadScan scan = Request::scanHead(pending);
    if (scan.state == Request::HeadState::Incomplete) {
        if (pending.size() > MaxHeadBytes)
            close(socket);
        else
            socket->setProperty(PendingProperty, pending);
        return;
    }
    // One request per connection: every answer says Connection: close.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->setProperty(PendingProperty, QVariant());
    m_unfinished.removeOne(socket);

    const std::optional<Request> request = scan.state == Request::HeadState::Complete
                                               ? Request::fromHead(pending.left(scan.headSize))
                                               : std::nullopt;
    if (!request) {
        badRequest(socket);
        return;
    }
    emit requestReceived(*request);
    answer(socket, *request);
}

void Server::badRequest(QTcpSocket *socket)
{
    socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
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
