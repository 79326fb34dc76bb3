#include "SocketClaim.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Held while the socket is looked at, removed or made, so two services
// started at once never both take the path, nor one remove the other's.
// Read-only is enough for flock, so a lock file that a start under a narrow
// umask left unwritable still serves.
class FolderLock
{
public:
    FolderLock(const LocalService::Folder &folder, const QString &socketName)
    {
        const QString name = socketName + QLatin1StringView(".lock");
        m_fd = ::openat(folder.descriptor(), QFile::encodeName(name).constData(),
                        O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_why = folder.path() + u'/' + name + u": " + describe(errno);
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_why = folder.path() + u'/' + name + u": " + describe(errno);
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

} // namespace

SocketClaim::Outcome SocketClaim::claim(LocalService::Folder folder, const QString &name,
                                        const std::function<bool(const QString &, QString *)> &bind)
{
    if (!folder.isOpen()) {
        m_why = folder.why();
        return Outcome::Refused;
    }
    const QString path = folder.path() + u'/' + name;
    const QString address = folder.address(name);
    const QByteArray entry = QFile::encodeName(name);
    const FolderLock lock(folder, name);
    if (!lock.why().isEmpty()) {
        m_why = lock.why();
        return Outcome::Refused;
    }
    struct stat about = {};
    switch (const int error = LocalService::connectError(address)) {
    case 0:
        // Another user's service is not this one's to share, even where he
        // could put it (a folder given that others may write).
        if (!folder.holdsOwnSocket(name, &m_why))
            return Outcome::Refused;
        return Outcome::LiveOneThere;
    case ENOENT:
        break;
    case ECONNREFUSED:
        // Left by a service that died; anything but a socket is not ours to remove.
        if (::fstatat(folder.descriptor(), entry.constData(), &about, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISSOCK(about.st_mode)) {
            m_why = path + u": not a socket";
            return Outcome::Refused;
        }
        if (::unlinkat(folder.descriptor(), entry.constData(), 0) != 0) {
            m_why = path + u": " + describe(errno);
            return Outcome::Refused;
        }
        break;
    default:
        m_why = path + u": " + describe(error);
        return Outcome::Refused;
    }
    if (!bind(address, &m_why))
        return Outcome::Refused;
    if (::fstatat(folder.descriptor(), entry.constData(), &about, AT_SYMLINK_NOFOLLOW) == 0) {
        m_bound = true;
        m_device = about.st_dev;
        m_inode = about.st_ino;
    }
    m_name = name;
    m_folder = std::move(folder);
    return Outcome::Bound;
}

SocketClaim::~SocketClaim()
{
    if (!m_bound)
        return;
    const FolderLock lock(m_folder, m_name);
    const QByteArray entry = QFile::encodeName(m_name);
    struct stat about = {};
    if (lock.why().isEmpty() &&
        ::fstatat(m_folder.descriptor(), entry.constData(), &about, AT_SYMLINK_NOFOLLOW) == 0 &&
        about.st_dev == m_device && about.st_ino == m_inode)
        ::unlinkat(m_folder.descriptor(), entry.constData(), 0);
}
