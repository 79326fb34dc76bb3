#include "Server.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace http {
namespace {

// Accepted in one go before the event loop gets a turn again.
constexpr int AcceptBatch = 64;

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Binds and listens on a new stream socket; -1, with errno, when it cannot.
int listeningSocket(int family, const sockaddr *address, socklen_t size, bool v6Only = false)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    if (family != AF_UNIX)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6) {
        const int only = v6Only ? 1 : 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    if (::bind(fd, address, size) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

Server::Server(Handler handler, QObject *parent)
    : Server(parent)
{
    m_handler = std::move(handler);
}

Server::Server(QObject *parent)
    : QObject(parent)
    , m_maxConnections(defaultMaxConnections())
{
    m_clock.start();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &Server::closeOverdue);
    m_pace.setInterval(ReadPace);
    connect(&m_pace, &QTimer::timeout, this, &Server::readPaced);
}

Server::~Server()
{
    // The connections close with their objects, the server's children; none
    // reports back to a server half gone.
    for (Connection *connection : std::as_const(m_connections))
        connection->m_server = nullptr;
    delete m_acceptable;
    if (m_listener >= 0)
        ::close(m_listener);
}

int Server::defaultMaxConnections()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 4096;
    return int(std::clamp<rlim_t>(limit.rlim_cur / 2, 16, 4096));
}

bool Server::listen(const QHostAddress &address, quint16 port)
{
    int fd = -1;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        sockaddr_in in = {};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(address.toIPv4Address());
        fd = listeningSocket(AF_INET, reinterpret_cast<const sockaddr *>(&in), sizeof in);
    } else {
        // QHostAddress::Any takes both IPv6 and IPv4, as QTcpServer has it.
        sockaddr_in6 in6 = {};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, bytes.c, sizeof bytes.c);
        fd = listeningSocket(AF_INET6, reinterpret_cast<const sockaddr *>(&in6), sizeof in6,
                             address != QHostAddress::Any);
    }
    if (fd < 0) {
        m_error = lastError();
        return false;
    }
    return startAccepting(fd);
}

bool Server::listenLocal(const QString &path)
{
    sockaddr_un un = {};
    un.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || name.size() >= qsizetype(sizeof un.sun_path)) {
        m_error =
            QStringLiteral("a Unix socket's path holds 1 to %1 bytes").arg(sizeof un.sun_path - 1);
        return false;
    }
    std::memcpy(un.sun_path, name.constData(), size_t(name.size()));
    // Made 0600, for its owner alone, whatever the umask would let others do.
    const mode_t umask = ::umask(0177);
    const int fd = listeningSocket(AF_UNIX, reinterpret_cast<const sockaddr *>(&un), sizeof un);
    const int error = errno;
    ::umask(umask);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    return startAccepting(fd);
}

bool Server::adopt(qintptr socketDescriptor)
{
    const int fd = int(socketDescriptor);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        m_error = lastError();
        return false;
    }
    return startAccepting(fd);
}

bool Server::startAccepting(int listener)
{
    delete m_acceptable;
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = listener;
    m_socketPath.clear();
    sockaddr_un address = {};
    socklen_t size = sizeof address;
    if (::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) == 0 &&
        address.sun_family == AF_UNIX && size > offsetof(sockaddr_un, sun_path)) {
        m_socketPath = QFile::decodeName(
            QByteArray(address.sun_path, ::strnlen(address.sun_path, sizeof address.sun_path)));
    }
    m_acceptable = new QSocketNotifier(listener, QSocketNotifier::Read, this);
    connect(m_acceptable, &QSocketNotifier::activated, this, &Server::acceptConnections);
    return true;
}

quint16 Server::port() const
{
    sockaddr_storage address = {};
    socklen_t size = sizeof address;
    if (m_listener < 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    return 0;
}

QString Server::socketPath() const
{
    return m_socketPath;
}

QUrl Server::baseUrl() const
{
    const quint16 listening = port();
    return listening == 0 ? QUrl() : QUrl(QStringLiteral("http://127.0.0.1:%1").arg(listening));
}

QString Server::errorString() const
{
    return m_error;
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
    for (int i = 0; i < AcceptBatch; ++i) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // Out of descriptors (or another resource): the oldest
            // unfinished connection gives its descriptor up, and the next
            // one waiting is taken at once. With none to close, accepting
            // waits a moment instead of failing again on every turn.
            if (m_unfinished.empty()) {
                pauseAccepting();
                return;
            }
            closeOldestUnfinished();
            continue;
        }
        // Full: the oldest connection still sending its head makes room, so
        // whoever holds connections open cannot lock a newcomer out. With
        // every place taken by answers on their way, the newcomer waits
        // for none of them and is closed.
        if (m_connections.size() >= m_maxConnections) {
            if (m_unfinished.empty()) {
                ::close(fd);
                continue;
            }
            closeOldestUnfinished();
        }
        auto *connection = new Connection(fd, this);
        connect(connection->m_readable, &QSocketNotifier::activated, this, [this, connection] {
            if (connection->m_headSerial != 0)
                readHead(connection);
            else
                noticeHangUp(connection);
        });
        m_connections.insert(connection);
        m_crowd = std::max(m_crowd, int(m_connections.size()));
        awaitHead(connection);
    }
}

// Each head has the deadline from when it is awaited: the first from the
// connection's acceptance, the next from the answer before it.
void Server::awaitHead(Connection *connection)
{
    connection->m_headSerial = ++m_headSerial;
    connection->m_awaitedAt = m_clock.elapsed();
    connection->m_resumeAt = 0;
    connection->m_pacedReads = 0;
    m_unfinished.emplace_hint(m_unfinished.end(), connection->m_headSerial, connection);
    if (!m_deadline.isActive())
        m_deadline.start(m_headDeadline);
    // A client that sends request after request and never reads would have
    // answers pile up here without end: its next head is read only once the
    // last answer has gone out, and until then what it sends waits in the
    // kernel and holds it back. The head's deadline runs meanwhile.
    if (connection->bytesToWrite() > 0) {
        connection->m_readable->setEnabled(false);
        return;
    }
    connection->m_readable->setEnabled(true);
    // A request sent right behind the last one may be here already.
    if (!connection->m_head.isEmpty()) {
        QTimer::singleShot(0, connection, [this, connection, serial = m_headSerial] {
            if (connection->m_headSerial == serial)
                judgeHead(connection, false);
        });
    }
}

// The oldest head is the first to run out of time: the timer is set for it.
void Server::closeOverdue()
{
    const qint64 now = m_clock.elapsed();
    while (!m_unfinished.empty()) {
        Connection *oldest = m_unfinished.begin()->second;
        const qint64 left = oldest->m_awaitedAt + m_headDeadline.count() - now;
        if (left > 0) {
            m_deadline.start(int(left));
            return;
        }
        oldest->abort();
    }
}

void Server::closeOldestUnfinished()
{
    m_unfinished.begin()->second->abort();
}

void Server::finishAnswer(Connection *connection, bool keepOpen)
{
    if (!connection->isOpen())
        return;
    if (keepOpen)
        awaitHead(connection);
    else
        connection->close();
}

// All of an answer has gone out: a connection awaiting its next head reads it.
void Server::outputDrained(Connection *connection)
{
    if (connection->m_headSerial == 0 || connection->m_paced)
        return;
    connection->m_readable->setEnabled(true);
    if (!connection->m_head.isEmpty())
        judgeHead(connection, false);
}

void Server::pauseAccepting()
{
    m_acceptable->setEnabled(false);
    QTimer::singleShot(AcceptPause, m_acceptable,
                       [notifier = m_acceptable] { notifier->setEnabled(true); });
}

void Server::forget(Connection *connection)
{
    m_connections.remove(connection);
    dropHead(connection);
    // After a crowd has gone, what it took goes back to the system.
    if (m_connections.isEmpty() && m_crowd >= CrowdForTrim) {
        m_crowd = 0;
#ifdef __GLIBC__
        ::malloc_trim(0);
#endif
    }
}

void Server::dropHead(Connection *connection)
{
    if (connection->m_headSerial != 0) {
        m_unfinished.erase(connection->m_headSerial);
        connection->m_headSerial = 0;
    }
    if (connection->m_paced) {
        m_paced.remove(connection);
        connection->m_paced = false;
    }
    m_bufferedHeadBytes -= connection->m_head.size();
    connection->m_head = QByteArray();
}

// Reads what the head is still allowed, one byte past the limit to tell a
// head that is too long, and nothing of what follows it.
void Server::readHead(Connection *connection)
{
    if (connection->m_headSerial == 0)
        return;
    QByteArray &head = connection->m_head;
    const qsizetype room = MaxHeadBytes + 1 - head.size();
    if (room <= 0) {
        judgeHead(connection, false);
        return;
    }
    char arrived[MaxHeadBytes + 1];
    ssize_t got = 0;
    do {
        got = ::recv(connection->m_fd, arrived, size_t(room), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // Paced, and nothing came since: the next bytes are read as they come.
        connection->m_readable->setEnabled(true);
        return;
    }
    if (got > 0) {
        head.append(arrived, got);
        m_bufferedHeadBytes += got;
    }
    judgeHead(connection, got <= 0);
}

void Server::judgeHead(Connection *connection, bool ended)
{
    const QByteArray &head = connection->m_head;
    const Request::HeadScan scan = Request::scanHead(head, connection->m_resumeAt);
    if (scan.state == Request::HeadState::Incomplete) {
        connection->m_resumeAt = scan.resumeAt;
        if (ended) {
            // An answer still on its way goes out first.
            connection->close();
        } else if (head.size() > MaxHeadBytes) {
            connection->abort();
        } else if (!connection->m_paced) {
            // The rest is read at a later pace, together with every other
            // head still coming in pieces.
            qint64 wait = ReadPace.count();
            for (int i = 0; i < connection->m_pacedReads && wait < m_headDeadline.count(); ++i)
                wait *= PaceGrowth;
            connection->m_pacedReads = quint8(std::min(connection->m_pacedReads + 1, 255));
            connection->m_readAt = m_clock.elapsed() + wait;
            connection->m_readable->setEnabled(false);
            connection->m_paced = true;
            m_paced.insert(connection);
            if (!m_pace.isActive())
                m_pace.start();
        }
        // Whoever holds many heads open makes room for the others first.
        while (m_bufferedHeadBytes > MaxBufferedHeadBytes && !m_unfinished.empty())
            closeOldestUnfinished();
        return;
    }
    // Nothing more is read until this one is answered: what follows waits
    // in the kernel, and holds the client back. Only a hang-up is looked for.
    connection->m_readable->setEnabled(true);
    const QByteArray received = head;
    const qsizetype used = scan.state == Request::HeadState::Complete
                               ? received.indexOf('\n', scan.headSize) + 1
                               : received.size();
    dropHead(connection);
    // The start of the next request, if one came along.
    if (used < received.size()) {
        connection->m_head = received.sliced(used);
        m_bufferedHeadBytes += connection->m_head.size();
    }

    const std::optional<Request> request = scan.state == Request::HeadState::Complete
                                               ? Request::fromHead(received.left(scan.headSize))
                                               : std::nullopt;
    if (!request) {
        badRequest(connection);
        return;
    }
    emit requestReceived(*request);
    answer(connection, *request);
}

// While its answer is under way, a client that hangs up ends the connection
// at once. One that sends more waits with it until the answer has gone.
void Server::noticeHangUp(Connection *connection)
{
    char next = 0;
    const ssize_t got = ::recv(connection->m_fd, &next, 1, MSG_PEEK);
    if (got == 0)
        connection->close(); // what is queued still goes out
    else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        connection->abort();
    else if (got > 0)
        connection->m_readable->setEnabled(false);
}

void Server::readPaced()
{
    if (m_paced.isEmpty()) {
        m_pace.stop();
        return;
    }
    // Closed connections are released later, never freed within this turn:
    // each one is asked whether it is still open.
    const QList<Connection *> paced = m_paced.values();
    // Due within half a pace counts as due now.
    const qint64 now = m_clock.elapsed() + ReadPace.count() / 2;
    for (Connection *connection : paced) {
        if (!connection->isOpen() || !connection->m_paced || connection->m_readAt > now)
            continue;
        connection->m_paced = false;
        m_paced.remove(connection);
        readHead(connection);
    }
}

void Server::badRequest(Connection *connection)
{
    connection->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    connection->close();
}

void Server::answer(Connection *connection, const Request &request)
{
    Response response;
    if (m_handler) {
        response = m_handler(request);
    } else {
        response = Response::text("Not Found\n");
        response.status = 404;
    }
    const bool keepOpen = request.keepsAlive();
    QByteArray bytes = response.head(response.body.size(), keepOpen);
    if (request.method != "HEAD")
        bytes += response.body;
    later(connection, response.delayMs, [this, bytes, keepOpen](Connection *c) {
        c->write(bytes);
        finishAnswer(c, keepOpen);
    });
}

void Server::later(Connection *connection, int delayMs, std::function<void(Connection *)> deliver)
{
    if (delayMs <= 0) {
        deliver(connection);
        return;
    }
    // The timer ends with the connection's object; a connection ended but
    // not yet freed is skipped.
    QTimer::singleShot(delayMs, connection, [connection, deliver = std::move(deliver)] {
        if (connection->isOpen())
            deliver(connection);
    });
}

} // namespace http
