#include "LocalService.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace LocalService {
namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QString reason(const QString &path, const char *what)
{
    return path + QLatin1StringView(": ") + QString::fromLocal8Bit(what);
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

// The person's runtime folder, opened, where $XDG_RUNTIME_DIR names one he
// may use; -1 otherwise.
int openRuntimeFolder(QString *path)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.startsWith('/'))
        return -1;
    const int fd = ::open(runtime.constData(), FolderFlags);
    struct stat about = {};
    if (fd >= 0 && ::fstat(fd, &about) == 0 && about.st_uid == ::geteuid() &&
        (about.st_mode & 07777) == 0700) {
        *path = QFile::decodeName(runtime);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

QString fallbackFolder()
{
    return QStringLiteral("/tmp/zhiweige-%1").arg(::geteuid());
}

} // namespace

bool isLocal(const QUrl &url)
{
    return url.scheme() == Scheme;
}

QString userSocket()
{
    return Folder::user(Folder::Use::Connect).path() + u'/' + SocketName;
}

Folder::Folder(const QString &path, Use use)
{
    m_path = path;
    open(AT_FDCWD, QFile::encodeName(path), use);
}

Folder Folder::user(Use use)
{
    Folder folder;
    QString runtime;
    const int base = openRuntimeFolder(&runtime);
    if (base < 0) {
        folder.m_path = fallbackFolder();
        folder.open(AT_FDCWD, QFile::encodeName(folder.m_path), use);
        return folder;
    }
    folder.m_path = runtime + QLatin1StringView("/zhiweige");
    folder.open(base, "zhiweige", use);
    ::close(base);
    return folder;
}

void Folder::open(int base, const QByteArray &name, Use use)
{
    int fd = ::openat(base, name.constData(), FolderFlags);
    if (fd < 0 && errno == ENOENT && use == Use::Own) {
        // The umask cuts mkdir's mode; the folder opened is set right below.
        if (::mkdirat(base, name.constData(), 0700) != 0 && errno != EEXIST) {
            m_why = reason(m_path, std::strerror(errno));
            return;
        }
        fd = ::openat(base, name.constData(), FolderFlags);
    }
    if (fd < 0) {
        m_missing = errno == ENOENT;
        // O_NOFOLLOW on a link ends in ELOOP, or ENOTDIR for a link to a file.
        m_why = errno == ELOOP || errno == ENOTDIR ? reason(m_path, "not a folder of its own")
                                                   : reason(m_path, std::strerror(errno));
        return;
    }
    struct stat about = {};
    if (::fstat(fd, &about) != 0) {
        m_why = reason(m_path, std::strerror(errno));
    } else if (about.st_uid != ::geteuid()) {
        m_why = reason(m_path, "belongs to another user");
    } else if (use == Use::Connect && (about.st_mode & 077) != 0) {
        // Somebody else may already have put a socket in it.
        m_why = reason(m_path, "is open to other users");
    } else if (use == Use::Own && (about.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
        m_why = reason(m_path, "cannot be made the user's alone");
    } else {
        m_fd = fd;
        m_device = about.st_dev;
        m_inode = about.st_ino;
        return;
    }
    ::close(fd);
}

Folder::~Folder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Folder::Folder(Folder &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_why(std::move(other.m_why))
    , m_missing(other.m_missing)
    , m_device(other.m_device)
    , m_inode(other.m_inode)
{}

Folder &Folder::operator=(Folder &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_why = std::move(other.m_why);
        m_missing = other.m_missing;
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

QString Folder::address(const QString &name) const
{
    if (m_fd < 0)
        return {};
    return QStringLiteral("/proc/self/fd/%1/").arg(m_fd) + name;
}

bool Folder::sameFolderAs(const Folder &other) const
{
    return isOpen() && other.isOpen() && m_device == other.m_device && m_inode == other.m_inode;
}

bool Folder::holdsOwnSocket(const QString &name, QString *why) const
{
    struct stat about = {};
    if (m_fd < 0 ||
        ::fstatat(m_fd, QFile::encodeName(name).constData(), &about, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    const QString path = m_path + u'/' + name;
    if (!S_ISSOCK(about.st_mode)) {
        if (why)
            *why = reason(path, "not a socket");
        return false;
    }
    if (about.st_uid != ::geteuid()) {
        if (why)
            *why = reason(path, "belongs to another user");
        return false;
    }
    return true;
}

int connectError(const QString &address)
{
    sockaddr_un socketAddress = {};
    socketAddress.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(address);
    if (path.isEmpty() || path.size() >= qsizetype(sizeof socketAddress.sun_path))
        return ENAMETOOLONG;
    std::memcpy(socketAddress.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&socketAddress), sizeof socketAddress) !=
        0)
        error = errno == EAGAIN ? 0 : errno;
    ::close(fd);
    return error;
}

namespace {

// The socket `name` in the person's `folder`: nothing is sent to a socket
// in his folder that is not his.
Choice inFolder(Folder folder, const QString &name)
{
    Choice choice;
    choice.socket = folder.path() + u'/' + name;
    if (folder.holdsOwnSocket(name, &choice.unfit))
        choice.address = folder.address(name);
    else if (!folder.isOpen() && !folder.isMissing())
        choice.unfit = folder.why();
    choice.folder = std::move(folder);
    return choice;
}

} // namespace

Choice given(const QString &path)
{
    const QFileInfo socket(path);
    Choice choice = inFolder(Folder(socket.path(), Folder::Use::Connect), socket.fileName());
    choice.socket = path;
    return choice;
}

QString systemSocket()
{
    return QStringLiteral(ZHIWEI_SYSTEM_SOCKET);
}

Choice choose(const QString &systemSocket, bool skipSystem)
{
    Choice choice = inFolder(Folder::user(Folder::Use::Connect), SocketName);
    choice.listening = !choice.address.isEmpty() && connectError(choice.address) == 0;
    if (choice.listening || skipSystem || systemSocket.isEmpty() ||
        !madeByTrustedUser(systemSocket) || connectError(systemSocket) != 0)
        return choice;
    return {true, systemSocket, systemSocket, Folder(), true, QString()};
}

} // namespace LocalService
