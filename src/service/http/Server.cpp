#include "Server.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace http {
namespace {

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
        m_crowd = std::max(m_crowd, int(m_connections.size()));
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
        awaitHead(socket);
    }
}

// Each head has the deadline from when it is awaited: the first from the
// connection's acceptance, the next from the answer before it.
void Server::awaitHead(QTcpSocket *socket)
{
    const quint64 serial = ++m_headSerial;
    m_heads.insert(socket, Head{{}, 0, serial});
    m_unfinished.append(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    QTimer::singleShot(m_headDeadline, socket, [this, socket, serial] {
        const auto head = m_heads.constFind(socket);
        if (head != m_heads.cend() && head->serial == serial)
            close(socket);
    });
    // A request sent right behind the last one is already here.
    if (socket->bytesAvailable() > 0) {
        QTimer::singleShot(0, socket, [this, socket, serial] {
            const auto head = m_heads.constFind(socket);
            if (head != m_heads.cend() && head->serial == serial)
                readRequest(socket);
        });
    }
}

void Server::finishAnswer(QTcpSocket *socket, bool keepOpen)
{
    if (keepOpen)
        awaitHead(socket);
    else
        socket->disconnectFromHost();
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
    dropHead(socket);
    // After a crowd has gone, what it took goes back to the system.
    if (m_connections.isEmpty() && m_crowd >= CrowdForTrim) {
        m_crowd = 0;
#ifdef __GLIBC__
        ::malloc_trim(0);
#endif
    }
}

void Server::dropHead(QTcpSocket *socket)
{
    m_unfinished.removeOne(socket);
    if (const auto head = m_heads.constFind(socket); head != m_heads.cend()) {
        m_bufferedHeadBytes -= head->received.size();
        m_heads.erase(head);
    }
}

void Server::readRequest(QTcpSocket *socket)
{
    const auto found = m_heads.find(socket);
    if (found == m_heads.end())
        return;
    Head &head = *found;
    // One byte past the limit tells a head that is too long.
    const QByteArray arrived = socket->read(MaxHeadBytes + 1 - head.received.size());
    head.received += arrived;
    m_bufferedHeadBytes += arrived.size();
    const Request::HeadScan scan = Request::scanHead(head.received, head.resumeAt);
    if (scan.state == Request::HeadState::Incomplete) {
        head.resumeAt = scan.resumeAt;
        if (head.received.size() > MaxHeadBytes)
            close(socket);
        // Whoever holds many heads open makes room for the others first.
        while (m_bufferedHeadBytes > MaxBufferedHeadBytes && !m_unfinished.isEmpty())
            close(m_unfinished.first());
        return;
    }
    // Nothing more is read until this one is answered.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QByteArray received = head.received; // shared, not copied
    dropHead(socket);

    const std::optional<Request> request = scan.state == Request::HeadState::Complete
                                               ? Request::fromHead(received.left(scan.headSize))
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
    const bool keepOpen = request.keepsAlive();
    QByteArray bytes = response.head(body.size(), Response::Framing::ContentLength, keepOpen);
    if (request.method != "HEAD")
        bytes += body;
    later(socket, response.delayMs, [this, bytes, keepOpen](QTcpSocket *s) {
        s->write(bytes);
        finishAnswer(s, keepOpen);
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
