#include "SocketClaim.h"

#include "core/LocalService.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Held while the socket is looked at, removed or made, so two services
// started at once never both take the path, nor one remove the other's.
class FolderLock
{
public:
    explicit FolderLock(const QString &socket)
    {
        const QByteArray path = QFile::encodeName(socket + QLatin1StringView(".lock"));
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_why = QFile::decodeName(path) + u": " + describe(errno);
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_why = QFile::decodeName(path) + u": " + describe(errno);
                return;
            }
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    QString why() const { return m_why; }

private:
    int m_fd = -1;
    QString m_why;
};

// 0 when a service accepts on `path`, else connect()'s errno. A full
// backlog (EAGAIN) is a live service too.
int connectError(const QByteArray &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return ENAMETOOLONG;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        error = errno == EAGAIN ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace

SocketClaim::Outcome SocketClaim::claim(const QString &path,
                                        const std::function<bool(QString *)> &bind)
{
    if (!LocalService::fitFolder(QFileInfo(path).path(), /*create=*/true, &m_why))
        return Outcome::Refused;
    const FolderLock lock(path);
    if (!lock.why().isEmpty()) {
        m_why = lock.why();
        return Outcome::Refused;
    }
    const QByteArray name = QFile::encodeName(path);
    switch (const int error = connectError(name)) {
    case 0:
        return Outcome::LiveOneThere;
    case ENOENT:
        break;
    case ECONNREFUSED: {
        // Left by a service that died; anything but a socket is not ours to remove.
        struct stat about = {};
        if (::lstat(name.constData(), &about) != 0 || !S_ISSOCK(about.st_mode)) {
            m_why = path + u": not a socket";
            return Outcome::Refused;
        }
        if (::unlink(name.constData()) != 0) {
            m_why = path + u": " + describe(errno);
            return Outcome::Refused;
        }
        break;
    }
    default:
        m_why = path + u": " + describe(error);
        return Outcome::Refused;
    }
    if (!bind(&m_why))
        return Outcome::Refused;
    struct stat made = {};
    if (::lstat(name.constData(), &made) == 0) {
        m_path = path;
        m_device = made.st_dev;
        m_inode = made.st_ino;
    }
    return Outcome::Bound;
}

SocketClaim::~SocketClaim()
{
    if (m_path.isEmpty())
        return;
    const FolderLock lock(m_path);
    const QByteArray name = QFile::encodeName(m_path);
    struct stat about = {};
    if (lock.why().isEmpty() && ::lstat(name.constData(), &about) == 0 &&
        about.st_dev == m_device && about.st_ino == m_inode)
        ::unlink(name.constData());
}
