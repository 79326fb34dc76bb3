#include "SocketActivation.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SocketActivation {

int takeHandedSockets()
{
    bool pidOk = false;
    bool countOk = false;
    const qint64 pid = qEnvironmentVariable("LISTEN_PID").toLongLong(&pidOk);
    const int count = qEnvironmentVariableIntValue("LISTEN_FDS", &countOk);
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");
    // Meant for another process (a parent that did not unset them).
    if (!pidOk || !countOk || pid != ::getpid() || count <= 0)
        return 0;
    for (int fd = FirstSocket; fd < FirstSocket + count; ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return count;
}

QString whyNotListening(int fd)
{
    int type = 0;
    int listening = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0)
        return QStringLiteral("descriptor %1 is not a socket: %2")
            .arg(fd)
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    size = sizeof listening;
    if (type != SOCK_STREAM ||
        ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening)
        return QStringLiteral("descriptor %1 is not a listening stream socket").arg(fd);
    sockaddr_storage address = {};
    size = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
        (address.ss_family != AF_UNIX && address.ss_family != AF_INET &&
         address.ss_family != AF_INET6))
        return QStringLiteral("descriptor %1 is neither a Unix nor a TCP socket").arg(fd);
    return {};
}

} // namespace SocketActivation
