#include "CannedLocalServer.h"

#include <QFile>
#include <QLocalSocket>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A request head larger than this is not waited for.
constexpr qsizetype RequestLimit = 64 * 1024;

} // namespace

CannedLocalServer::CannedLocalServer(Answer answer, QObject *parent)
    : QObject(parent)
    , m_answer(std::move(answer))
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection())
            take(socket);
    });
}

int CannedLocalServer::openConnections() const
{
    const QList<QLocalSocket *> sockets = m_server.findChildren<QLocalSocket *>();
    return int(std::count_if(sockets.begin(), sockets.end(), [](const QLocalSocket *socket) {
        return socket->state() == QLocalSocket::ConnectedState;
    }));
}

void CannedLocalServer::take(QLocalSocket *socket)
{
    ++m_connections;
    m_received.append(QByteArray());
    const qsizetype slot = m_received.size() - 1;
    auto answered = std::make_shared<bool>(false);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, slot, answered] {
        QByteArray &request = m_received[slot];
        request += socket->read(RequestLimit - request.size());
        if (*answered || !(request.contains("\r\n\r\n") || request.size() >= RequestLimit))
            return;
        *answered = true;
        answer(socket);
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
}

void CannedLocalServer::answer(QLocalSocket *socket)
{
    socket->write(m_answer.bytes);
    if (!m_answer.endless.isEmpty()) {
        const QByteArray block =
            m_answer.endless.repeated(std::max<qsizetype>(1, 16 * 1024 / m_answer.endless.size()));
        connect(socket, &QLocalSocket::bytesWritten, socket, [socket, block] {
            if (socket->bytesToWrite() < 4 * block.size())
                socket->write(block);
        });
        socket->write(block);
    } else if (!m_answer.hold) {
        socket->disconnectFromServer(); // after what was written is sent
    }
}

bool leaveStaleSocket(const QString &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound =
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}
