#include "LocalService.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalService {
namespace {

QString reason(const QString &folder, const char *what)
{
    return folder + QLatin1StringView(": ") + QString::fromLocal8Bit(what);
}

// Only root or the person may make names in the socket's folder.
bool madeByTrustedUser(const QString &socket)
{
    struct stat about = {};
    const QByteArray path = QFile::encodeName(socket);
    if (::lstat(path.constData(), &about) != 0 || !S_ISSOCK(about.st_mode))
        return false;
    const QByteArray parent = QFile::encodeName(QFileInfo(socket).path());
    if (::lstat(parent.constData(), &about) != 0 || !S_ISDIR(about.st_mode))
        return false;
    return (about.st_uid == 0 || about.st_uid == ::geteuid()) && (about.st_mode & 022) == 0;
}

} // namespace

bool isLocal(const QUrl &url)
{
    return url.scheme() == Scheme;
}

QString userFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/'))
        return QFile::decodeName(runtime) + QLatin1StringView("/zhiweige");
    return QStringLiteral("/tmp/zhiweige-%1").arg(::geteuid());
}

QString userSocket()
{
    return userFolder() + u'/' + SocketName;
}

QString socketPath(const QString &systemSocket)
{
    if (!systemSocket.isEmpty() && madeByTrustedUser(systemSocket))
        return systemSocket;
    return userSocket();
}

bool fitFolder(const QString &folder, bool create, QString *why)
{
    QString ignored;
    QString &said = why ? *why : ignored;
    const QByteArray path = QFile::encodeName(folder);
    constexpr int Flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.constData(), Flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            said = reason(folder, std::strerror(errno));
            return false;
        }
        fd = ::open(path.constData(), Flags);
    }
    if (fd < 0) {
        // O_NOFOLLOW on a link ends in ELOOP, or ENOTDIR for a link to a file.
        said = errno == ELOOP || errno == ENOTDIR ? reason(folder, "not a folder of its own")
                                                  : reason(folder, std::strerror(errno));
        return false;
    }
    struct stat about = {};
    bool fit = false;
    if (::fstat(fd, &about) != 0) {
        said = reason(folder, std::strerror(errno));
    } else if (about.st_uid != ::geteuid()) {
        said = reason(folder, "belongs to another user");
    } else if ((about.st_mode & 077) != 0 && !create) {
        said = reason(folder, "is open to other users");
    } else if ((about.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        said = reason(folder, "is open to other users and cannot be closed");
    } else {
        fit = true;
    }
    ::close(fd);
    return fit;
}

} // namespace LocalService
